// The temporary folder and its unique names, the program's own path, and the Windows and
// system folders (host folders chosen by the user, a Wine prefix's by default: never the
// host's own system folders).
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/command.h"
#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace {

constexpr size_t kPathBuffer = 260;
// GetTempFileName refuses folders longer than MAX_PATH - 14.
constexpr size_t kLongestTempFolder = kPathBuffer - 14;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The Wine prefix's drive_c/windows, where a Windows program on this host would find it.
std::string WinePrefixWindows() {
  std::string prefix = Environment("WINEPREFIX");
  if (prefix.empty()) {
    const std::string home = Environment("HOME");
    if (home.empty()) return std::string();
    prefix = home + "/.wine";
  }
  return prefix + "/drive_c/windows";
}

uint32_t HostFolderOut(const std::string& host, char* buffer, uint32_t limit) {
  std::string program;
  if (host.empty() || !HostToProgramPath(host, &program)) return 0;
  return posix::CopyOut(program, buffer, limit);
}

// Up to the first three characters of the prefix (a double-byte character counts as one).
std::string PrefixCharacters(const char* prefix) {
  if (prefix == nullptr) return std::string();
  const std::string_view text(prefix);
  size_t end = 0;
  for (int count = 0; count < 3 && end < text.size(); ++count) {
    end += posix::Cp932CharLength(text, end);
  }
  return std::string(text.substr(0, end));
}

std::string TempName(const std::string& base, uint32_t number) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", number & 0xFFFFu);
  return base + digits + ".TMP";
}

// The first number a process tries depends on the time and the process; later ones follow
// the last number handed out, as names made in quick succession do on Windows.
uint32_t StartingNumber() {
  const uint32_t last = posix::State().last_temp_number;
  uint32_t number = last + 1;
  if (last == 0) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    number = static_cast<uint32_t>(now.tv_nsec / 1000) ^ static_cast<uint32_t>(now.tv_sec) ^
             static_cast<uint32_t>(getpid()) * 7919u;
  }
  number &= 0xFFFFu;
  return number == 0 ? 1 : number;
}

}  // namespace

uint32_t SystemTempFolder(char* buffer, uint32_t limit) {
  std::string host = Environment("GENPATCH_TEMP_DIR");
  if (host.empty()) host = Environment("TMPDIR");
  if (host.empty()) host = "/tmp";
  std::string program;
  if (!HostToProgramPath(host, &program)) return 0;
  if (!posix::EndsWithSeparator(program)) program += '\\';
  return posix::CopyOut(program, buffer, limit);
}

uint32_t MakeTempFileName(const char* folder, const char* prefix, uint32_t unique, char* out) {
  if (folder == nullptr || out == nullptr) return 0;
  std::string base(folder);
  if (base.size() > kLongestTempFolder) return 0;
  if (!base.empty() && !posix::EndsWithSeparator(base)) base += '\\';
  base += PrefixCharacters(prefix);

  if (unique != 0) {
    // The name only; nothing is created or checked.
    const std::string name = TempName(base, unique);
    if (name.size() >= kPathBuffer) return 0;
    std::memcpy(out, name.c_str(), name.size() + 1);
    return unique;
  }

  fault::BeforeChange(fault::Change::kCreate, base.c_str());
  const uint32_t start = StartingNumber();
  uint32_t number = start;
  do {
    const std::string name = TempName(base, number);
    if (name.size() >= kPathBuffer) return 0;
    ResolvedPath resolved;
    if (!ResolveProgramPath(name, &resolved)) return 0;
    const int fd = open(resolved.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      posix::State().last_temp_number = number;
      std::memcpy(out, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST) return 0;  // a missing folder, no permission ...
    number = (number + 1) & 0xFFFFu;
    if (number == 0) number = 1;
  } while (number != start);
  return 0;
}

uint32_t ModuleFilePath(char* buffer, uint32_t limit) {
  const std::string host = OwnFileHostPath();
  if (host.empty()) return 0;
  return HostFolderOut(host, buffer, limit);
}

uint32_t WindowsFolder(char* buffer, uint32_t limit) {
  std::string host = posix::State().windows_override;
  if (host.empty()) host = Environment("GENPATCH_WINDOWS_DIR");
  if (host.empty()) host = WinePrefixWindows();
  return HostFolderOut(host, buffer, limit);
}

uint32_t SystemFolder(char* buffer, uint32_t limit) {
  std::string host = posix::State().system_override;
  if (host.empty()) host = Environment("GENPATCH_SYSTEM_DIR");
  if (host.empty()) {
    host = WinePrefixWindows();
    if (!host.empty()) host += "/system32";
  }
  return HostFolderOut(host, buffer, limit);
}

void SetWindowsFolderOverride(const std::string& host) {
  posix::State().windows_override = host;
}

void SetSystemFolderOverride(const std::string& host) { posix::State().system_override = host; }

}  // namespace gp::platform
