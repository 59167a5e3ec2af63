// Host paths on Windows: the same path, as UTF-8 on the host side and code page 932 inside
// the program.
#include "platform/platform.h"

namespace gp::platform {

bool HostToProgramPath(const std::string& host, std::string* program) {
  return Utf8ToCp932(host, program);
}

bool ProgramToHostPath(const char* program, std::string* host) {
  if (program == nullptr) return false;
  return Cp932ToUtf8(program, host);
}

}  // namespace gp::platform
