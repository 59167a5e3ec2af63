#include "update/entry_path.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/byte_reader.h"
#include "platform/platform.h"
#include "storage/path_text.h"
#include "update/package_tables.h"

namespace gp {

namespace {

// Root folders and group folders are 260-byte buffers.
constexpr size_t kFolderBufferSize = 260;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component that a file system may take as the parent folder: only dots and blanks, with at
// least two dots ("..", "...", ".. ").
bool IsClimbingComponent(std::string_view component) {
  int dots = 0;
  for (char c : component) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// Checks every component of text, cut at each separator byte (by_characters false) or at each
// separator that is not the second byte of a double-byte character (true).
bool HasClimbingComponent(std::string_view text, bool by_characters) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (by_characters && platform::IsCp932LeadByte(byte) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (IsSeparator(text[i])) {
      if (IsClimbingComponent(text.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return IsClimbingComponent(text.substr(start));
}

bool IsContained(std::string_view text) {
  if (!text.empty() && IsSeparator(text[0])) return false;  // absolute
  // ':' (0x3A) is never the second byte of a double-byte character.
  if (text.find(':') != std::string_view::npos) return false;
  return !HasClimbingComponent(text, false) && !HasClimbingComponent(text, true);
}

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
  return IsContained(std::string_view(name, BoundedLength(name, kEntryPathBufferSize)));
}

bool IsContainedSubfolders(const char* text, size_t length) {
  if (text == nullptr) return length == 0;
  return IsContained(std::string_view(text, length));
}

bool ResolveEntryPath(PackageTables& package, int generation, char* buffer, const char* name) {
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
  if (path.size() >= kEntryPathBufferSize) return false;
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
