#include "storage/run_log.h"

#include <cstdio>
#include <string>

#include "base/format_text.h"

namespace gp {

bool RunLog::Open(const char* path) {
  file_.Close();
  if (path == nullptr || path[0] == '\0') return false;
  if (!file_.Open(path, platform::kAccessWrite, platform::kShareRead | platform::kShareWrite,
                  platform::Disposition::kOpenAlways)) {
    return false;
  }
  if (!file_.Seek(0, platform::Origin::kEnd)) {
    file_.Close();
    return false;
  }
  return true;
}

void RunLog::Line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LineV(format, arguments);
  va_end(arguments);
}

void RunLog::LineV(const char* format, va_list arguments) {
  if (!file_.IsOpen()) return;
  std::string text;
  AppendFormatV(text, format, arguments);

  const platform::LocalTime now = platform::LocalNow();
  std::string line = FormatText("%04u-%02u-%02u %02u:%02u:%02u ", now.year, now.month, now.day,
                                now.hour, now.minute, now.second);
  line += platform::Cp932ToUtf8Lossy(text);
  line += '\n';
  uint32_t done = 0;
  file_.Write(line.data(), static_cast<uint32_t>(line.size()), &done);
  file_.Flush();
}

}  // namespace gp
