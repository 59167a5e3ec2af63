#include "update/entry_path.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/byte_reader.h"
#include "format/path_component.h"
#include "platform/platform.h"
#include "storage/path_text.h"
#include "update/package_tables.h"

namespace gp {

namespace {

// Root folders and group folders are 260-byte buffers.
constexpr size_t kFolderBufferSize = 260;

// The base folder for token (the text between the first and the second backslash), or null.
const char* BaseFolder(PackageTables& package, int generation, const char* token) {
  switch (token[0]) {
    case '_':
      return package.destination_folder.get();
    case '+':
      return package.windows_folder.get();
    case '-':
      return package.system_folder.get();
    default:
      break;
  }
  if (generation < 0 || generation >= package.generation_count) return nullptr;
  // The walk ends at the end of the generation's row of the table.
  for (int k = 0; k < package.group_count; ++k) {
    const GroupCell* cell = package.Cell(generation, k);
    if (cell == nullptr || cell->name == nullptr) continue;
    if (ComparePathsNoCase(cell->name, token) == 0) return cell->folder;
  }
  return nullptr;
}

}  // namespace

bool IsContainedName(const char* name) {
  if (name == nullptr) return false;
  const size_t length = BoundedLength(name, kEntryPathBufferSize);
  return format::IsContainedPath(std::string_view(name, length));
}

bool IsContainedSubfolders(const char* text, size_t length) {
  if (text == nullptr) return length == 0;
  return format::IsContainedPath(std::string_view(text, length));
}

bool ResolveEntryPath(PackageTables& package, int generation, char* buffer, const char* name,
                      bool* too_long) {
  if (too_long != nullptr) *too_long = false;
  if (buffer == nullptr) return false;
  char data_path[kEntryPathBufferSize];
  const size_t data_length = BoundedLength(buffer, kEntryPathBufferSize - 1);
  std::memcpy(data_path, buffer, data_length);
  data_path[data_length] = '\0';
  std::memset(buffer, 0, kEntryPathBufferSize);

  if (name == nullptr || !IsContainedName(name)) return false;
  // Data paths are cut at every 0x5C byte.
  char* first = std::strchr(data_path, '\\');
  if (first == nullptr) return false;
  char* second = std::strchr(first + 1, '\\');
  if (second == nullptr) return false;
  const char* last = std::strrchr(data_path, '\\');
  const char* subfolders = second + 1;
  const size_t subfolder_length = static_cast<size_t>(last - second);  // up to the last one
  if (!IsContainedSubfolders(subfolders, subfolder_length)) return false;

  *second = '\0';
  const char* base = BaseFolder(package, generation, first + 1);
  if (base == nullptr) return false;

  std::string path(base, BoundedLength(base, kFolderBufferSize));
  // The base may end in the second byte of a double-byte character that is 0x5C; only a real
  // backslash counts as the trailing separator.
  const char* base_last = FindLastBackslash(path.c_str());
  if (base_last == nullptr || base_last[1] != '\0') path.push_back('\\');
  path.append(subfolders, subfolder_length);
  path.append(name, BoundedLength(name, kEntryPathBufferSize));
  if (path.size() >= kEntryPathBufferSize) {
    if (too_long != nullptr) *too_long = true;
    return false;
  }
  std::memcpy(buffer, path.data(), path.size());
  return true;
}

int ComparePathsNoCase(const char* a, const char* b) {
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  const std::string upper_a = platform::UpperCaseCp932(a);
  const std::string upper_b = platform::UpperCaseCp932(b);
  return std::strcmp(upper_a.c_str(), upper_b.c_str());
}

}  // namespace gp
