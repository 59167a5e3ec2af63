// The process on Windows: command line, environment, standard streams, the message loop and
// the restart of Windows.
#include <algorithm>

#include "platform/platform.h"
#include "platform/win32/command_line.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {

namespace win32 {

std::wstring_view ArgumentAfterProgramName(std::wstring_view line) {
  size_t i = 0;
  if (i < line.size() && line[i] == L'"') {
    // A quoted program name ends at the next quote (or with the line).
    ++i;
    while (i < line.size() && line[i] != L'"') ++i;
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && line[i] > L' ') ++i;
  }
  while (i < line.size() && line[i] != L'\0' && line[i] <= L' ') ++i;
  return line.substr(i);
}

}  // namespace win32

std::string CommandLineArgument(int /*argc*/, char** /*argv*/) {
  const wchar_t* line = GetCommandLineW();
  if (line == nullptr) return std::string();
  const std::wstring_view rest = win32::ArgumentAfterProgramName(line);
  // Verbatim, as the ANSI entry point would receive it: a character without a code page 932
  // form becomes the system's default character, and the named file is then not found.
  return win32::Cp932FromWideLossy(rest);
}

void* InstanceHandle() { return GetModuleHandleW(nullptr); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

bool ProcessExists(uint32_t id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string GetEnvironment(const char* name) {
  std::wstring wide_name;
  if (name == nullptr || !win32::WideFromUtf8(name, &wide_name) || wide_name.empty()) {
    return std::string();
  }
  const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(wide_name.c_str(), value.data(), n);
  if (got == 0 || got >= n) return std::string();
  value.resize(got);
  std::string utf8;
  if (!win32::Utf8FromWide(value, &utf8)) return std::string();
  return utf8;
}

// ---------------------------------------------------------------------------------------------

namespace {

bool IsConsole(DWORD which) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

bool IsTerminal(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR;
}

void WriteTo(DWORD which, std::string_view utf8) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || utf8.empty()) return;
  if (IsConsole(which)) {
    std::wstring wide;
    if (win32::WideFromUtf8(utf8, &wide)) {
      DWORD written = 0;
      WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
  }
  size_t offset = 0;
  while (offset < utf8.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(utf8.size() - offset, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(h, utf8.data() + offset, chunk, &written, nullptr) || written == 0) return;
    offset += written;
  }
}

}  // namespace

bool StdinIsTerminal() { return IsTerminal(STD_INPUT_HANDLE); }
bool StderrIsTerminal() { return IsTerminal(STD_ERROR_HANDLE); }
void WriteStderr(std::string_view utf8) { WriteTo(STD_ERROR_HANDLE, utf8); }
void WriteStdout(std::string_view utf8) { WriteTo(STD_OUTPUT_HANDLE, utf8); }

bool ReadStdinLine(std::string* line) {
  line->clear();
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
  // One line never grows without bound.
  constexpr size_t kMaxLine = 1 << 20;
  bool any = false;
  if (IsConsole(STD_INPUT_HANDLE)) {
    std::wstring wide;
    for (;;) {
      wchar_t ch = 0;
      DWORD got = 0;
      if (!ReadConsoleW(h, &ch, 1, &got, nullptr) || got == 0) break;
      any = true;
      if (ch == L'\n') break;
      if (ch != L'\r' && wide.size() < kMaxLine) wide.push_back(ch);
    }
    if (!win32::Utf8FromWide(wide, line)) line->clear();
    return any;
  }
  for (;;) {
    char ch = 0;
    DWORD got = 0;
    if (!ReadFile(h, &ch, 1, &got, nullptr) || got == 0) break;
    any = true;
    if (ch == '\n') break;
    if (line->size() < kMaxLine) line->push_back(ch);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

// ---------------------------------------------------------------------------------------------

void DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

int PostQuitAndRunMessageLoop(int code) {
  PostQuitMessage(code);
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return code;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

struct RestartState {
  bool requested = false;
  void Reset() { requested = false; }
};

RestartState& Restart() {
  static RestartState state;
  return state;
}

bool IsWindows95() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return false;
#pragma GCC diagnostic pop
  return info.dwMajorVersion == 4 && info.dwMinorVersion == 0 &&
         info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return;
  }
  win32::ScopedHandle owned(token);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    return;
  }
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

void RestartWindows() {
  Restart().requested = true;
  if (!IsWindows95()) EnableShutdownPrivilege();
  ExitWindowsEx(EWX_SHUTDOWN | EWX_REBOOT, 0);
}

bool RestartRequested() { return Restart().requested; }

}  // namespace gp::platform
