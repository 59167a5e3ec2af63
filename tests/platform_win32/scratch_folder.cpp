#include "platform_win32/scratch_folder.h"

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace gp::testing_win32 {

ScratchFolder::ScratchFolder() {
  char temp[260];
  const uint32_t n = platform::TempFolder(temp, sizeof(temp));
  if (n == 0 || n >= sizeof(temp)) return;
  // A unique name from the system, turned from a file into a folder of that name.
  char name[260];
  if (platform::MakeTempFileName(temp, "gpt", 0, name) == 0) return;
  platform::RemoveFile(name);
  if (!platform::MakeFolder(name)) return;
  path_ = name;
}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  // Leave the folder first, in case a test made it the current one.
  char current[520];
  const uint32_t n = platform::CurrentFolder(current, sizeof(current));
  if (n > 0 && n < sizeof(current) && std::string(current).rfind(path_, 0) == 0) {
    char temp[260];
    if (platform::TempFolder(temp, sizeof(temp)) > 0) platform::ChangeFolder(temp);
  }
  RemoveTree(platform::win32::WidePath(path_.c_str()));
}

void RemoveTree(const std::wstring& folder) {
  if (folder.empty()) return;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(h, &data));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  platform::File f;
  if (!f.Open(path.c_str(), platform::kAccessWrite, platform::kShareNone,
              platform::Disposition::kCreateAlways)) {
    return false;
  }
  uint32_t done = 0;
  return f.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) &&
         done == bytes.size();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  platform::File f;
  uint64_t size = 0;
  if (!f.Open(path.c_str(), platform::kAccessRead, platform::kShareRead,
              platform::Disposition::kOpenExisting) ||
      !f.Size(&size) || size > (1u << 30)) {
    return false;
  }
  bytes->assign(static_cast<size_t>(size), '\0');
  uint32_t done = 0;
  return f.Read(bytes->data(), static_cast<uint32_t>(size), &done) && done == size;
}

}  // namespace gp::testing_win32
