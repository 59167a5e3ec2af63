#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {

void SetEnvironment(const char* name, const char* value) {
  std::wstring wname;
  std::wstring wvalue;
  win32::WideFromUtf8(name ? name : "", &wname);
  if (value != nullptr) win32::WideFromUtf8(value, &wvalue);
  // Both the system's block (inherited by child processes, read by GetTempPath) and the C
  // runtime's copy (read by getenv).
  SetEnvironmentVariableW(wname.c_str(), value ? wvalue.c_str() : nullptr);
  _wputenv_s(wname.c_str(), value ? wvalue.c_str() : L"");
}

}  // namespace gp::platform
