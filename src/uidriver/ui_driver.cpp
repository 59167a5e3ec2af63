#include "uidriver/ui_driver.h"

#include <algorithm>

#include "platform/win32/windows_support.h"

#include <commctrl.h>

namespace gp::uidriver {

namespace {

using platform::win32::Utf8FromWide;
using platform::win32::WideFromUtf8;

constexpr UINT kMessageTimeoutMs = 2000;
constexpr DWORD kPollMs = 20;

HWND AsWindow(Window w) { return static_cast<HWND>(w); }

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  if (!WideFromUtf8(utf8, &wide)) wide.clear();
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8;
  if (!Utf8FromWide(wide, &utf8)) utf8.clear();
  return utf8;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// This process's environment with the given variables set or replaced, as a block for
// CreateProcessW (entries NAME=VALUE, each NUL-terminated, an empty entry at the end).
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::vector<std::pair<std::wstring, std::wstring>> wide_changes;
  for (const auto& [name, value] : changes) wide_changes.emplace_back(Wide(name), Wide(value));
  std::wstring block;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* p = current; p && *p; p += wcslen(p) + 1) {
    const std::wstring_view entry(p);
    // Entries such as "=C:=C:\dir" begin with '='; their name ends at the second '='.
    const size_t eq = entry.find(L'=', 1);
    const std::wstring_view name = entry.substr(0, eq);
    const bool replaced = std::any_of(wide_changes.begin(), wide_changes.end(),
                                      [&](const auto& c) { return SameName(c.first, name); });
    if (!replaced) {
      block.append(entry);
      block.push_back(L'\0');
    }
  }
  if (current) FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : wide_changes) {
    block.append(name).append(L"=").append(value);
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct EnumContext {
  DWORD process_id;
  std::vector<Window>* found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context_param) {
  auto* context = reinterpret_cast<EnumContext*>(context_param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->process_id || !IsWindowVisible(window)) return TRUE;
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wstring_view(class_name) == L"#32770") context->found->push_back(window);
  return TRUE;
}

}  // namespace

Process::~Process() {
  Terminate();
}

bool Process::Start(const std::string& program, const std::string& arguments,
                     const std::vector<std::pair<std::string, std::string>>& environment,
                     const std::string& output_file, const std::string& working_folder) {
  Terminate();
  platform::win32::ScopedHandle output;
  if (!output_file.empty()) {
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof(inherit);
    inherit.bInheritHandle = TRUE;
    output.Reset(CreateFileW(Wide(output_file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.Valid()) return false;
  }
  std::wstring command = L"\"" + Wide(program) + L"\"";
  if (!arguments.empty()) command += L" " + Wide(arguments);
  std::wstring env = EnvironmentBlock(environment);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (output.Valid()) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION info{};
  const std::wstring folder = Wide(working_folder);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, output.Valid() ? TRUE : FALSE,
                      CREATE_UNICODE_ENVIRONMENT, env.data(),
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  // Its windows can only be found once it is ready for input (or gone).
  WaitForInputIdle(info.hProcess, 5000);
  return true;
}

bool Process::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Process::Wait(uint32_t timeout_ms, uint32_t* exit_code) {
  if (process_ == nullptr) return false;
  if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  if (exit_code) *exit_code = code;
  return true;
}

void Process::Terminate() {
  if (process_ == nullptr) return;
  if (Running()) {
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
  process_ = nullptr;
  id_ = 0;
}

std::vector<Window> VisibleDialogs(uint32_t process_id) {
  std::vector<Window> found;
  EnumContext context{process_id, &found};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&context));
  return found;
}

Window WaitForDialog(const Process* process, uint32_t process_id, int control_id,
                     uint32_t timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    for (Window w : VisibleDialogs(process_id)) {
      if (control_id == 0 || HasControl(w, control_id)) return w;
    }
    if (process != nullptr && !process->Running()) return nullptr;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(kPollMs);
  }
}

std::string WindowText(Window window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(AsWindow(window), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &length)) {
    return std::string();
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(AsWindow(window), WM_GETTEXT, text.size(),
                           reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &got)) {
    return std::string();
  }
  text.resize(std::min<size_t>(got, length));
  return Utf8(text);
}

bool HasControl(Window dialog, int control_id) {
  return GetDlgItem(AsWindow(dialog), control_id) != nullptr;
}

bool IsEnabled(Window dialog, int control_id) {
  HWND item = GetDlgItem(AsWindow(dialog), control_id);
  return item != nullptr && IsWindowEnabled(item) != FALSE;
}

bool IsVisible(Window window) {
  return IsWindow(AsWindow(window)) && IsWindowVisible(AsWindow(window));
}

std::vector<std::string> ComboItems(Window dialog, int control_id) {
  std::vector<std::string> items;
  HWND combo = GetDlgItem(AsWindow(dialog), control_id);
  DWORD_PTR count = 0;
  if (combo == nullptr || !SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                                               kMessageTimeoutMs, &count)) {
    return items;
  }
  const int items_count = static_cast<int>(static_cast<LONG_PTR>(count));
  for (int i = 0; i < items_count; ++i) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length) ||
        static_cast<LONG_PTR>(length) < 0) {
      items.emplace_back();
      continue;
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &got) ||
        static_cast<LONG_PTR>(got) < 0) {
      got = 0;
    }
    text.resize(std::min<size_t>(got, length));
    items.push_back(Utf8(text));
  }
  return items;
}

bool SelectComboItem(Window dialog, int control_id, int index) {
  HWND combo = GetDlgItem(AsWindow(dialog), control_id);
  if (combo == nullptr) return false;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &result) ||
      static_cast<LONG_PTR>(result) != index) {
    return false;
  }
  // Setting the selection by message notifies nobody: tell the dialog as a click would.
  return SendMessageTimeoutW(AsWindow(dialog), WM_COMMAND,
                             MAKEWPARAM(control_id, CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &result) != 0;
}

std::string ControlText(Window dialog, int control_id) {
  HWND item = GetDlgItem(AsWindow(dialog), control_id);
  return item ? WindowText(item) : std::string();
}

bool PressButton(Window dialog, int control_id) {
  HWND item = GetDlgItem(AsWindow(dialog), control_id);
  return PostMessageW(AsWindow(dialog), WM_COMMAND, MAKEWPARAM(control_id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(item)) != FALSE;
}

bool SetControlText(Window dialog, int control_id, const std::string& text) {
  HWND item = GetDlgItem(AsWindow(dialog), control_id);
  if (item == nullptr) return false;
  const std::wstring wide = Wide(text);
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) != 0;
}

int ProgressPosition(Window dialog, int control_id) {
  HWND item = GetDlgItem(AsWindow(dialog), control_id);
  DWORD_PTR position = 0;
  if (item == nullptr || !SendMessageTimeoutW(item, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                                              kMessageTimeoutMs, &position)) {
    return -1;
  }
  return static_cast<int>(position);
}

std::string WindowsPathOf(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  using DosName = LPWSTR(CDECL*)(LPCSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto convert = kernel ? reinterpret_cast<DosName>(
                              reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")))
                        : nullptr;
  if (convert != nullptr) {
    if (LPWSTR dos = convert(path.c_str())) {
      const std::string result = Utf8(dos);
      HeapFree(GetProcessHeap(), 0, dos);
      if (!result.empty()) return result;
    }
  }
  std::string result = "Z:" + path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string OwnCommandLine() {
  const wchar_t* line = GetCommandLineW();
  return line ? Utf8(line) : std::string();
}

void WriteOutput(const std::string& bytes) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  size_t done = 0;
  while (out != nullptr && out != INVALID_HANDLE_VALUE && done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(out, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) return;
    done += wrote;
  }
}

}  // namespace gp::uidriver
