// The run log: one line per step of an update run (the generation found, each file written and
// verified, each commit step, a recovery, the outcome), appended to a file the user names and
// flushed line by line, so that what happened on a user's machine can be read afterwards even
// when the run was killed. Lines are UTF-8; the program's own texts and paths (code page 932)
// are converted on the way. Without a file, every call does nothing.
#pragma once

#include <cstdarg>

#include "base/format_text.h"
#include "platform/platform.h"

namespace gp {

class RunLog {
 public:
  // Opens the file at a program path (created when missing, appended to otherwise). False when
  // it cannot be opened; the log then stays closed.
  bool Open(const char* path);
  bool IsOpen() const { return file_.IsOpen(); }
  void Close() { file_.Close(); }

  // Appends one line, formatted printf-style from code page 932 text, prefixed with the local
  // time, ended with a line break and flushed to the disk.
  void Line(const char* format, ...) GP_PRINTF_FORMAT(2, 3);
  void LineV(const char* format, va_list arguments);

 private:
  platform::File file_;
};

}  // namespace gp
