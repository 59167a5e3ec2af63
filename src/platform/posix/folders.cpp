// Folders: create, remove, the current directory and the find-first enumeration.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace {

struct EnumerationState {
  std::vector<std::string> names;  // code page 932
  size_t next = 0;
};

std::string HostCurrentDirectory() {
  std::string buffer(4096, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::strlen(buffer.c_str()));
      return buffer;
    }
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool MakeFolder(const char* path) {
  ResolvedPath resolved;
  if (path == nullptr || !ResolveProgramPath(path, &resolved) || resolved.is_root) return false;
  fault::BeforeChange(fault::Change::kMakeFolder, path);
  return mkdir(resolved.host.c_str(), 0777) == 0;
}

bool RemoveFolder(const char* path) {
  ResolvedPath resolved;
  if (path == nullptr || !ResolveProgramPath(path, &resolved) || resolved.is_root) return false;
  struct stat st;
  if (lstat(resolved.host.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    // A link to a folder is removed as the link itself.
    struct stat target;
    if (stat(resolved.host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return false;
    fault::BeforeChange(fault::Change::kRemoveFolder, path);
    return unlink(resolved.host.c_str()) == 0;
  }
  if (!S_ISDIR(st.st_mode)) return false;
  // The current directory of this process is in use and cannot be removed.
  struct stat current;
  if (stat(".", &current) == 0 && current.st_dev == st.st_dev && current.st_ino == st.st_ino) {
    return false;
  }
  uint32_t kept = 0;
  if (posix::ReadDosAttributes(resolved.host, &kept) && (kept & kAttrReadOnly)) return false;
  fault::BeforeChange(fault::Change::kRemoveFolder, path);
  return rmdir(resolved.host.c_str()) == 0;
}

uint32_t CurrentFolder(char* buffer, uint32_t limit) {
  std::string program;
  if (!HostToProgramPath(HostCurrentDirectory(), &program)) return 0;
  return posix::CopyOut(program, buffer, limit);
}

bool ChangeFolder(const char* path) {
  ResolvedPath resolved;
  if (path == nullptr || !ResolveProgramPath(path, &resolved)) return false;
  return chdir(resolved.host.c_str()) == 0;
}

FolderEnumerator::~FolderEnumerator() { Close(); }

void FolderEnumerator::Close() {
  delete static_cast<EnumerationState*>(state_);
  state_ = nullptr;
}

bool FolderEnumerator::First(const char* pattern, std::string* name) {
  Close();
  if (pattern == nullptr || pattern[0] == '\0') return false;
  const std::string_view text(pattern);
  size_t after = posix::AfterLastSeparator(text);
  if (after == std::string_view::npos) {
    // "X:pattern" searches the drive's current folder; a bare pattern the current directory.
    after = text.size() >= 2 && text[1] == ':' && posix::Cp932CharLength(text, 0) == 1 ? 2 : 0;
  }
  const std::string folder(text.substr(0, after));
  const std::string_view wildcard = text.substr(after);
  if (wildcard.empty()) return false;

  ResolvedPath resolved;
  std::string host;
  bool at_root = false;
  if (folder.empty()) {
    host = HostCurrentDirectory();
    std::string program;
    at_root = HostToProgramPath(host, &program) && program.size() == 3;
  } else {
    if (!ResolveProgramPath(folder, &resolved)) return false;
    host = resolved.host;
    at_root = resolved.is_root;
  }
  DIR* dir = opendir(host.c_str());
  if (dir == nullptr) return false;
  auto* state = new EnumerationState;
  std::string converted;
  while (const dirent* entry = readdir(dir)) {
    const bool dots = std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0;
    if (dots && at_root) continue;  // a drive root has no "." and ".." entries
    if (std::strchr(entry->d_name, '\\') != nullptr) continue;
    if (!Utf8ToCp932(entry->d_name, &converted)) continue;  // no code page 932 form
    if (MatchesWildcard(wildcard, converted)) state->names.push_back(converted);
  }
  closedir(dir);
  // "." and ".." first, then an order that does not depend on the file system.
  std::sort(state->names.begin(), state->names.end(),
            [](const std::string& a, const std::string& b) {
              const int rank_a = a == "." ? 0 : a == ".." ? 1 : 2;
              const int rank_b = b == "." ? 0 : b == ".." ? 1 : 2;
              if (rank_a != rank_b) return rank_a < rank_b;
              const std::string upper_a = UpperCaseCp932(a);
              const std::string upper_b = UpperCaseCp932(b);
              return upper_a != upper_b ? upper_a < upper_b : a < b;
            });
  state_ = state;
  return Next(name);
}

bool FolderEnumerator::Next(std::string* name) {
  auto* state = static_cast<EnumerationState*>(state_);
  if (state == nullptr || state->next >= state->names.size()) return false;
  *name = state->names[state->next++];
  return true;
}

}  // namespace gp::platform
