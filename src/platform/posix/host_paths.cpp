// The drive table and the conversion between program paths and host paths.
#include "platform/posix/host_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace posix {

void LayerState::Reset() {
  for (std::string& drive : drives) drive.clear();
  drives['Z' - 'A'] = "/";
  windows_override.clear();
  system_override.clear();
  restart_requested = false;
  last_temp_number = 0;
}

LayerState& State() {
  static LayerState state;
  return state;
}

uint32_t CopyOut(std::string_view text, char* buffer, uint32_t limit) {
  if (text.size() >= 0xFFFFFFFFu) return 0;
  const uint32_t length = static_cast<uint32_t>(text.size());
  if (buffer == nullptr || limit < length + 1) return length + 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

size_t Cp932CharLength(std::string_view text, size_t i) {
  if (IsCp932LeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size()) return 2;
  return 1;
}

size_t AfterLastSeparator(std::string_view cp932) {
  size_t after = std::string_view::npos;
  for (size_t i = 0; i < cp932.size(); i += Cp932CharLength(cp932, i)) {
    if (cp932[i] == '\\' || cp932[i] == '/') after = i + 1;
  }
  return after;
}

bool EndsWithSeparator(std::string_view cp932) {
  const size_t after = AfterLastSeparator(cp932);
  return after != std::string_view::npos && after == cp932.size();
}

}  // namespace posix

namespace {

using posix::Cp932CharLength;
using posix::State;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Lexically normalised absolute host path: no empty, "." or ".." components, no trailing
// slash (except the root "/").
std::string NormaliseHost(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

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

// True when the single-byte characters of a code page 932 component are all allowed: the
// emulated file system refuses what Windows refuses in names.
bool ComponentAllowed(std::string_view component) {
  for (size_t i = 0; i < component.size(); i += Cp932CharLength(component, i)) {
    if (Cp932CharLength(component, i) == 1 &&
        IsForbiddenInWindowsName(static_cast<uint8_t>(component[i]))) {
      return false;
    }
  }
  return true;
}

// Splits a code page 932 path at backslashes and slashes (never inside a double-byte
// character).
std::vector<std::string> SplitProgramPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (size_t i = 0; i < path.size();) {
    const size_t length = Cp932CharLength(path, i);
    if (length == 1 && IsSeparator(path[i])) {
      parts.push_back(current);
      current.clear();
    } else {
      current.append(path.substr(i, length));
    }
    i += length;
  }
  parts.push_back(current);
  return parts;
}

// Windows drops trailing dots and blanks from the last component of a path.
void TrimTrailingDotsAndBlanks(std::string* component) {
  if (*component == "." || *component == "..") return;
  // Trailing bytes 0x20 and 0x2E can never be trail bytes of a double-byte character.
  while (!component->empty() && (component->back() == '.' || component->back() == ' ')) {
    component->pop_back();
  }
}

// Appends the components of a relative piece to an absolute stack, folding "." and "..";
// ".." never climbs above the drive root.
void AppendComponents(const std::vector<std::string>& parts, std::vector<std::string>* stack) {
  for (const std::string& part : parts) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!stack->empty()) stack->pop_back();
      continue;
    }
    stack->push_back(part);
  }
}

// The entry of folder whose name equals name (code page 932) without regard to case; of
// several, the one first in byte order, so that the choice does not depend on the directory
// order. Empty when there is none.
std::string FindEntryNoCase(const std::string& folder, const std::string& name_cp932) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::string();
  const std::string wanted = UpperCaseCp932(name_cp932);
  std::string best;
  std::string entry_cp932;
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!Utf8ToCp932(name, &entry_cp932)) continue;
    if (entry_cp932.size() != wanted.size() || UpperCaseCp932(entry_cp932) != wanted) continue;
    if (best.empty() || std::string(name) < best) best = name;
  }
  closedir(dir);
  return best;
}

// The program path of the host's current directory as drive letter and components.
bool CurrentProgramLocation(char* drive, std::vector<std::string>* components) {
  std::string program;
  if (!HostToProgramPath(HostCurrentDirectory(), &program)) return false;
  *drive = program[0];
  // program is "X:\" or "X:\a\b".
  AppendComponents(SplitProgramPath(std::string_view(program).substr(3)), components);
  return true;
}

}  // namespace

bool MapDrive(char letter, const std::string& host_folder) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  std::string& slot = State().drives[letter - 'A'];
  if (host_folder.empty()) {
    slot.clear();
    return true;
  }
  if (host_folder[0] != '/') return false;
  slot = NormaliseHost(host_folder);
  return true;
}

std::string DriveHostFolder(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::string();
  return State().drives[letter - 'A'];
}

void ResetDriveTable() {
  for (std::string& drive : State().drives) drive.clear();
  State().drives['Z' - 'A'] = "/";
}

void ResetPlatformState() { State().Reset(); }

bool ResolveProgramPath(std::string_view program, ResolvedPath* resolved) {
  *resolved = ResolvedPath();
  if (program.empty()) return false;
  char drive = 0;
  std::vector<std::string> stack;
  std::string_view rest = program;
  const bool has_drive = program.size() >= 2 && program[1] == ':' &&
                         ((program[0] >= 'A' && program[0] <= 'Z') ||
                          (program[0] >= 'a' && program[0] <= 'z'));
  if (has_drive) {
    drive = static_cast<char>(program[0] & ~0x20);
    rest = program.substr(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // "X:name": relative to the current directory when X is its drive, else to X's root.
      char current_drive = 0;
      std::vector<std::string> current;
      if (CurrentProgramLocation(&current_drive, &current) && current_drive == drive) {
        stack = std::move(current);
      }
    }
  } else if (IsSeparator(program[0])) {
    if (program.size() >= 2 && IsSeparator(program[1])) return false;  // UNC and device paths
    std::vector<std::string> current;
    if (!CurrentProgramLocation(&drive, &current)) return false;
  } else {
    if (!CurrentProgramLocation(&drive, &stack)) return false;
  }

  std::vector<std::string> parts = SplitProgramPath(rest);
  resolved->trailing_separator = !rest.empty() && parts.back().empty();
  if (!resolved->trailing_separator && !parts.empty()) TrimTrailingDotsAndBlanks(&parts.back());
  for (const std::string& part : parts) {
    if (!ComponentAllowed(part)) return false;
  }
  AppendComponents(parts, &stack);

  const std::string& root = State().drives[drive - 'A'];
  if (root.empty()) return false;

  std::string host = root;
  std::string parent = root;
  std::string name_utf8;
  // The path as spelled. Where it exists (or all of it but its last component does), every
  // component before that exists as spelled too, and a look-up of each one in turn would find
  // the same: one test instead of one per component.
  std::vector<std::string> names;
  names.reserve(stack.size());
  for (const std::string& component : stack) {
    if (!Cp932ToUtf8(component, &name_utf8)) return false;
    names.push_back(name_utf8);
  }
  size_t exact = 0;  // leading components known to exist as spelled
  if (!names.empty()) {
    std::string spelled = root;
    for (size_t i = 0; i + 1 < names.size(); ++i) spelled = JoinHost(spelled, names[i]);
    const std::string whole = JoinHost(spelled, names.back());
    struct stat st;
    if (lstat(whole.c_str(), &st) == 0) {
      exact = names.size();
    } else if (names.size() == 1 || lstat(spelled.c_str(), &st) == 0) {
      exact = names.size() - 1;
    }
    for (size_t i = 0; i < exact; ++i) {
      parent = host;
      host = JoinHost(host, names[i]);
    }
  }
  bool existing = true;  // every component so far exists on the host
  for (size_t i = exact; i < stack.size(); ++i) {
    const std::string& component = stack[i];
    name_utf8 = names[i];
    parent = host;
    std::string candidate = JoinHost(host, name_utf8);
    if (existing) {
      struct stat st;
      if (lstat(candidate.c_str(), &st) != 0) {
        const std::string match = FindEntryNoCase(host, component);
        if (match.empty()) {
          existing = false;
        } else {
          candidate = JoinHost(host, match);
        }
      }
    }
    host = std::move(candidate);
  }
  if (!names.empty()) name_utf8 = names.back();
  resolved->host = host;
  resolved->is_root = stack.empty();
  resolved->parent = stack.empty() ? host : parent;
  resolved->literal_name = stack.empty() ? std::string() : name_utf8;
  return true;
}

bool ProgramToHostPath(const char* program, std::string* host) {
  if (program == nullptr) return false;
  ResolvedPath resolved;
  if (!ResolveProgramPath(program, &resolved)) return false;
  *host = resolved.host;
  return true;
}

bool HostToProgramPath(const std::string& host, std::string* program) {
  if (host.empty()) return false;
  std::string absolute = host;
  if (absolute[0] != '/') absolute = JoinHost(HostCurrentDirectory(), absolute);
  absolute = NormaliseHost(absolute);

  // The longest drive root that holds the path wins; of equal ones the first letter.
  int best = -1;
  size_t best_length = 0;
  for (int letter = 0; letter < 26; ++letter) {
    const std::string& root = State().drives[letter];
    if (root.empty()) continue;
    const bool holds = root == "/" || absolute == root ||
                       (absolute.size() > root.size() &&
                        absolute.compare(0, root.size(), root) == 0 &&
                        absolute[root.size()] == '/');
    if (holds && (best < 0 || root.size() > best_length)) {
      best = letter;
      best_length = root.size();
    }
  }
  if (best < 0) return false;

  const std::string& root = State().drives[best];
  std::string rest = root == "/" ? absolute.substr(1)
                                 : (absolute.size() > root.size() ? absolute.substr(root.size() + 1)
                                                                  : std::string());
  // A backslash inside a host name would read as a separator on the program side.
  if (rest.find('\\') != std::string::npos) return false;
  std::replace(rest.begin(), rest.end(), '/', '\\');
  std::string rest_cp932;
  if (!Utf8ToCp932(rest, &rest_cp932)) return false;
  for (const std::string& component : SplitProgramPath(rest_cp932)) {
    if (!ComponentAllowed(component)) return false;
  }
  *program = std::string(1, static_cast<char>('A' + best)) + ":\\" + rest_cp932;
  return true;
}

namespace {

// Splits a code page 932 text into characters, each upper-cased.
std::vector<std::string> UpperCharacters(std::string_view text) {
  const std::string upper = UpperCaseCp932(text);
  std::vector<std::string> chars;
  for (size_t i = 0; i < upper.size();) {
    const size_t length = Cp932CharLength(upper, i);
    chars.push_back(upper.substr(i, length));
    i += length;
  }
  return chars;
}

// Glob matching with '*' and '?' over characters, in linear space and at most
// pattern x name steps (the last '*' is the only backtracking point).
bool GlobMatch(const std::vector<std::string>& pattern, const std::vector<std::string>& name) {
  size_t p = 0;
  size_t n = 0;
  size_t star = std::string::npos;
  size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == "*") {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() && (pattern[p] == "?" || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == "*") ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return false;
  if (pattern == "*" || pattern == "*.*") return true;
  const std::vector<std::string> name_chars = UpperCharacters(name);
  const bool name_has_dot = std::find(name_chars.begin(), name_chars.end(), ".") != name_chars.end();
  std::vector<std::string> pattern_chars = UpperCharacters(pattern);
  if (GlobMatch(pattern_chars, name_chars)) return true;
  // "name.*" also finds "name"; "*." finds the names without a dot.
  if (pattern_chars.size() >= 2 && pattern_chars.back() == "*" &&
      pattern_chars[pattern_chars.size() - 2] == "." && !name_has_dot) {
    pattern_chars.resize(pattern_chars.size() - 2);
    return GlobMatch(pattern_chars, name_chars);
  }
  if (pattern_chars.size() >= 2 && pattern_chars.back() == "." && !name_has_dot) {
    pattern_chars.pop_back();
    return GlobMatch(pattern_chars, name_chars);
  }
  return false;
}

}  // namespace gp::platform
