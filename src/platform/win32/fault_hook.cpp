// The fault hook's ending and trace on Windows: TerminateProcess on itself, an appending write.
#include "platform/fault_hook.h"

#include <cstdlib>
#include <string>

#include "platform/win32/windows_support.h"

namespace gp::platform::fault {

void EndProcessAbruptly() {
  TerminateProcess(GetCurrentProcess(), 99);
  std::_Exit(99);  // not reached
}

void AppendToTrace(const char* host_file, const char* text, unsigned size) {
  std::wstring wide;
  if (!win32::WideFromUtf8(host_file, &wide)) return;
  win32::ScopedHandle file(CreateFileW(wide.c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return;
  DWORD done = 0;
  WriteFile(file.Get(), text, size, &done, nullptr);
}

}  // namespace gp::platform::fault
