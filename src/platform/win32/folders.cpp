// Folders, folder searches, temporary names and the well-known folders on Windows.
#include <vector>

#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/win32/folder_overrides.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {

using win32::CopyOutWithLimit;
using win32::WidePath;

namespace {

// Runs a query of the GetCurrentDirectory kind (buffer, size in characters -> length, or the
// size needed when too small) until its answer fits; false on failure.
template <typename Query>
bool QueryWide(Query query, std::wstring* out) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      out->assign(buffer.data(), n);
      return true;
    }
    if (n > 0x8000) return false;
    buffer.resize(static_cast<size_t>(n) + 1);
  }
  return false;
}

// A wide folder answer in the length rules of the program's queries. A folder with characters
// that code page 932 cannot express is a failure: a substitute character would name another
// (or no) folder.
uint32_t AnswerFolder(bool ok, const std::wstring& wide, char* buffer, uint32_t limit) {
  std::string cp932;
  if (!ok || !win32::Cp932FromWide(wide, &cp932) || cp932.empty()) return 0;
  return CopyOutWithLimit(cp932, buffer, limit);
}

}  // namespace

bool MakeFolder(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  fault::BeforeChange(fault::Change::kMakeFolder, path);
  return CreateDirectoryW(wide.c_str(), nullptr) != FALSE;
}

bool RemoveFolder(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  fault::BeforeChange(fault::Change::kRemoveFolder, path);
  return RemoveDirectoryW(wide.c_str()) != FALSE;
}

uint32_t CurrentFolder(char* buffer, uint32_t limit) {
  std::wstring wide;
  const bool ok = QueryWide(
      [](wchar_t* b, DWORD n) { return GetCurrentDirectoryW(n, b); }, &wide);
  return AnswerFolder(ok, wide, buffer, limit);
}

bool ChangeFolder(const char* path) {
  const std::wstring wide = WidePath(path);
  return !wide.empty() && SetCurrentDirectoryW(wide.c_str()) != FALSE;
}

// ---------------------------------------------------------------------------------------------

namespace {

struct SearchState {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

// The entry's name in code page 932; false for a name that code page 932 cannot express (it
// is passed over: any operation on a substitute name would reach another entry or none).
bool EntryName(const WIN32_FIND_DATAW& data, std::string* name) {
  return win32::Cp932FromWide(data.cFileName, name);
}

}  // namespace

FolderEnumerator::~FolderEnumerator() { Close(); }

bool FolderEnumerator::First(const char* pattern, std::string* name) {
  Close();
  const std::wstring wide = WidePath(pattern);
  if (wide.empty()) return false;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(wide.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  auto* state = new SearchState;
  state->handle = h;
  state_ = state;
  if (EntryName(data, name)) return true;
  return Next(name);
}

bool FolderEnumerator::Next(std::string* name) {
  auto* state = static_cast<SearchState*>(state_);
  if (state == nullptr) return false;
  WIN32_FIND_DATAW data;
  while (FindNextFileW(state->handle, &data)) {
    if (EntryName(data, name)) return true;
  }
  return false;
}

void FolderEnumerator::Close() {
  auto* state = static_cast<SearchState*>(state_);
  if (state == nullptr) return;
  FindClose(state->handle);
  delete state;
  state_ = nullptr;
}

// ---------------------------------------------------------------------------------------------

uint32_t SystemTempFolder(char* buffer, uint32_t limit) {
  std::wstring wide;
  const bool ok = QueryWide([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); }, &wide);
  return AnswerFolder(ok, wide, buffer, limit);
}

uint32_t MakeTempFileName(const char* folder, const char* prefix, uint32_t unique, char* out) {
  constexpr size_t kOutSize = 260;
  const std::wstring wide_folder = WidePath(folder);
  std::wstring wide_prefix;
  if (wide_folder.empty() || prefix == nullptr || out == nullptr ||
      !win32::WideFromCp932(prefix, &wide_prefix)) {
    return 0;
  }
  // The system uses the first three characters of the prefix.
  if (wide_prefix.size() > 3) wide_prefix.resize(3);
  wchar_t name[MAX_PATH + 1] = {};
  if (unique == 0) fault::BeforeChange(fault::Change::kCreate, folder);
  const UINT number = GetTempFileNameW(wide_folder.c_str(), wide_prefix.c_str(), unique, name);
  if (number == 0) return 0;
  std::string cp932;
  if (!win32::Cp932FromWide(name, &cp932) || cp932.size() >= kOutSize) {
    // The name cannot be handed back; a file made for it is not left behind.
    if (unique == 0) DeleteFileW(name);
    return 0;
  }
  CopyOutWithLimit(cp932, out, kOutSize);
  return number;
}

uint32_t ModuleFilePath(char* buffer, uint32_t limit) {
  std::vector<wchar_t> wide(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (n == 0) return 0;
    if (n < wide.size()) return AnswerFolder(true, std::wstring(wide.data(), n), buffer, limit);
    if (wide.size() > 0x8000) return 0;
    wide.resize(wide.size() * 2);
  }
}

// ---------------------------------------------------------------------------------------------

namespace win32 {

FolderOverrides& FolderOverrides::Get() {
  static FolderOverrides overrides;
  return overrides;
}

void FolderOverrides::Reset() {
  windows_folder.clear();
  system_folder.clear();
}

}  // namespace win32

namespace {

uint32_t AnswerOverride(const std::string& host, char* buffer, uint32_t limit) {
  std::string program;
  if (!HostToProgramPath(host, &program) || program.empty()) return 0;
  return CopyOutWithLimit(program, buffer, limit);
}

}  // namespace

uint32_t WindowsFolder(char* buffer, uint32_t limit) {
  const auto& overrides = win32::FolderOverrides::Get();
  if (!overrides.windows_folder.empty()) {
    return AnswerOverride(overrides.windows_folder, buffer, limit);
  }
  std::wstring wide;
  const bool ok =
      QueryWide([](wchar_t* b, DWORD n) { return GetWindowsDirectoryW(b, n); }, &wide);
  return AnswerFolder(ok, wide, buffer, limit);
}

uint32_t SystemFolder(char* buffer, uint32_t limit) {
  const auto& overrides = win32::FolderOverrides::Get();
  if (!overrides.system_folder.empty()) {
    return AnswerOverride(overrides.system_folder, buffer, limit);
  }
  std::wstring wide;
  const bool ok =
      QueryWide([](wchar_t* b, DWORD n) { return GetSystemDirectoryW(b, n); }, &wide);
  return AnswerFolder(ok, wide, buffer, limit);
}

void SetWindowsFolderOverride(const std::string& host) {
  win32::FolderOverrides::Get().windows_folder = host;
}

void SetSystemFolderOverride(const std::string& host) {
  win32::FolderOverrides::Get().system_folder = host;
}

}  // namespace gp::platform
