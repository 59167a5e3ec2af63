#include "storage/run_log.h"

#include <cstdio>
#include <string>

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
  va_list copy;
  va_copy(copy, arguments);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, arguments);
  text.resize(static_cast<size_t>(n));

  const platform::LocalTime now = platform::LocalNow();
  char stamp[48];
  std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u ", now.year, now.month,
                now.day, now.hour, now.minute, now.second);
  std::string line = stamp;
  line += platform::Cp932ToUtf8Lossy(text);
  line += '\n';
  uint32_t done = 0;
  file_.Write(line.data(), static_cast<uint32_t>(line.size()), &done);
  file_.Flush();
}

}  // namespace gp
