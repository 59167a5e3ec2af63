// Attributes, delete, move, copy, existence tests and the exclusive-write test.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace posix {
namespace {

constexpr char kDosAttributeName[] = "user.DOSATTRIB";

bool ParseDosAttributes(const char* text, ssize_t length, uint32_t* bits) {
  if (length <= 0 || length >= 32) return false;
  char buffer[32];
  std::memcpy(buffer, text, static_cast<size_t>(length));
  buffer[length] = '\0';
  char* end = nullptr;
  const unsigned long value = std::strtoul(buffer, &end, 16);
  if (end == buffer) return false;
  *bits = static_cast<uint32_t>(value);
  return true;
}

bool XattrUnsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

}  // namespace

bool ReadDosAttributes(const std::string& host, uint32_t* bits) {
  char text[32];
  const ssize_t length = getxattr(host.c_str(), kDosAttributeName, text, sizeof text);
  return ParseDosAttributes(text, length, bits);
}

bool WriteDosAttributes(const std::string& host, uint32_t bits) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, "0x%x", bits);
  if (setxattr(host.c_str(), kDosAttributeName, text, static_cast<size_t>(length), 0) == 0) {
    return true;
  }
  return XattrUnsupported(errno);
}

bool WriteDosAttributes(int fd, uint32_t bits) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, "0x%x", bits);
  if (fsetxattr(fd, kDosAttributeName, text, static_cast<size_t>(length), 0) == 0) return true;
  return XattrUnsupported(errno);
}

bool HeldByLockingOpen(const std::string& host) {
  const int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;  // unreadable: no lock can be tested, nothing is assumed
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

bool OpenElsewhere(dev_t device, ino_t inode, int own_fd) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  const std::string self = std::to_string(getpid());
  bool found = false;
  while (!found) {
    const dirent* process = readdir(proc);
    if (process == nullptr) break;
    const char* pid = process->d_name;
    if (pid[0] < '0' || pid[0] > '9') continue;
    const std::string fd_folder = std::string("/proc/") + pid + "/fd";
    DIR* fds = opendir(fd_folder.c_str());
    if (fds == nullptr) continue;
    const bool is_self = self == pid;
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      if (is_self && std::atoi(entry->d_name) == own_fd) continue;
      struct stat st;
      const std::string link = fd_folder + "/" + entry->d_name;
      if (stat(link.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode) {
        found = true;
        break;
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return found;
}

}  // namespace posix

namespace {

constexpr uint32_t kKeptInAttribute = kAttrHidden | kAttrSystem | kAttrArchive;

bool Resolve(const char* path, ResolvedPath* resolved) {
  if (path == nullptr || path[0] == '\0') return false;
  return ResolveProgramPath(path, resolved);
}

// Copies the bytes of one open file into another.
bool CopyBytes(int from, int to) {
  static constexpr size_t kBlock = 1 << 16;
  char* buffer = new char[kBlock];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(from, buffer, kBlock);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    ssize_t written = 0;
    while (written < n) {
      const ssize_t w = write(to, buffer + written, static_cast<size_t>(n - written));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      written += w;
    }
    if (!ok) break;
  }
  delete[] buffer;
  return ok;
}

// Gives the destination the source's permission bits, last-write time and kept attributes,
// as a Windows copy carries attributes and last-write time along.
void CopyMetadata(int from, const struct stat& source, int to) {
  fchmod(to, source.st_mode & 07777);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = source.st_mtim;
  futimens(to, times);
  char text[32];
  const ssize_t length = fgetxattr(from, "user.DOSATTRIB", text, sizeof text);
  if (length > 0) {
    fsetxattr(to, "user.DOSATTRIB", text, static_cast<size_t>(length), 0);
  } else {
    fremovexattr(to, "user.DOSATTRIB");
  }
}

// Moves a file to another file system: copy to a new destination, then delete the source.
bool MoveAcrossFileSystems(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return false;
  }
  const bool copied = CopyBytes(in, out);
  if (copied) CopyMetadata(in, st, out);
  close(in);
  if (close(out) != 0 || !copied) {
    unlink(to.c_str());
    return false;
  }
  unlink(from.c_str());
  return true;
}

}  // namespace

uint32_t ReadAttributes(const char* path) {
  ResolvedPath resolved;
  if (!Resolve(path, &resolved)) return kInvalidAttributes;
  struct stat st;
  if (stat(resolved.host.c_str(), &st) != 0) return kInvalidAttributes;
  if (resolved.trailing_separator && !S_ISDIR(st.st_mode)) return kInvalidAttributes;
  uint32_t kept = 0;
  const bool has_kept = posix::ReadDosAttributes(resolved.host, &kept);
  if (S_ISDIR(st.st_mode)) {
    return kAttrDirectory | (has_kept ? kept & (kKeptInAttribute | kAttrReadOnly) : 0);
  }
  uint32_t attributes = has_kept ? kept & kKeptInAttribute : kAttrArchive;
  if (posix::ModeIsReadOnly(st.st_mode)) attributes |= kAttrReadOnly;
  return attributes == 0 ? kAttrNormal : attributes;
}

bool WriteAttributes(const char* path, uint32_t attributes) {
  ResolvedPath resolved;
  if (!Resolve(path, &resolved)) return false;
  const std::string& host = resolved.host;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    // A folder's read-only attribute does not keep anything out of it: it is only recorded.
    return posix::WriteDosAttributes(host, attributes & (kKeptInAttribute | kAttrReadOnly));
  }
  const uint32_t kept = attributes & kKeptInAttribute;
  if (attributes & kAttrReadOnly) {
    // Record first: the attribute may need write permission.
    if (!posix::WriteDosAttributes(host, kept)) return false;
    return chmod(host.c_str(), st.st_mode & ~0222 & 07777) == 0;
  }
  if (posix::ModeIsReadOnly(st.st_mode) &&
      chmod(host.c_str(), (st.st_mode | S_IWUSR) & 07777) != 0) {
    return false;
  }
  return posix::WriteDosAttributes(host, kept);
}

bool FreeSpace(const char* path, uint64_t* free_bytes, uint64_t* volume) {
  if (path == nullptr || free_bytes == nullptr) return false;
  ResolvedPath resolved;
  if (!ResolveProgramPath(path, &resolved)) return false;
  // A path not made yet counts from the nearest folder that exists.
  std::string host = resolved.host;
  struct stat st;
  while (stat(host.c_str(), &st) != 0) {
    const size_t slash = host.find_last_of('/');
    if (slash == std::string::npos) return false;
    host = slash == 0 ? std::string("/") : host.substr(0, slash);
  }
  struct statvfs vfs;
  if (statvfs(host.c_str(), &vfs) != 0) return false;
  *free_bytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  if (volume != nullptr) *volume = static_cast<uint64_t>(st.st_dev);
  return true;
}

bool RemoveFile(const char* path) {
  ResolvedPath resolved;
  if (!Resolve(path, &resolved) || resolved.trailing_separator) return false;
  struct stat st;
  if (lstat(resolved.host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode)) {
    if (posix::ModeIsReadOnly(st.st_mode)) return false;
    if (posix::HeldByLockingOpen(resolved.host)) return false;  // in use: sharing violation
  }
  fault::BeforeChange(fault::Change::kDelete, path);
  return unlink(resolved.host.c_str()) == 0;
}

bool RenameFile(const char* from, const char* to) {
  ResolvedPath source;
  ResolvedPath target;
  if (!Resolve(from, &source) || !Resolve(to, &target)) return false;
  if (source.is_root || target.is_root) return false;
  struct stat st;
  if (lstat(source.host.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && posix::HeldByLockingOpen(source.host)) return false;
  fault::BeforeChange(fault::Change::kRename, from);

  std::string destination = target.host;
  if (target.host == source.host) {
    // The same entry under another spelling: only the case of its name changes.
    destination = target.parent + "/" + target.literal_name;
    if (destination == source.host) return true;
    return rename(source.host.c_str(), destination.c_str()) == 0;
  }
  struct stat existing;
  if (lstat(destination.c_str(), &existing) == 0) return false;

  if (renameat2(AT_FDCWD, source.host.c_str(), AT_FDCWD, destination.c_str(),
                RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno == EXDEV) {
    return S_ISREG(st.st_mode) && MoveAcrossFileSystems(source.host, destination);
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // No atomic no-replace rename here: a hard link fails on an existing name for files; other
  // entries check first.
  if (S_ISREG(st.st_mode) && link(source.host.c_str(), destination.c_str()) == 0) {
    return unlink(source.host.c_str()) == 0;
  }
  if (lstat(destination.c_str(), &existing) == 0) return false;
  return rename(source.host.c_str(), destination.c_str()) == 0;
}

bool LinkFile(const char* existing, const char* link_path) {
  ResolvedPath source;
  ResolvedPath target;
  if (!Resolve(existing, &source) || !Resolve(link_path, &target)) return false;
  if (source.is_root || target.is_root || target.trailing_separator) return false;
  struct stat st;
  if (lstat(source.host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (lstat(target.host.c_str(), &st) == 0) return false;
  fault::BeforeChange(fault::Change::kCreate, link_path);
  return link(source.host.c_str(), target.host.c_str()) == 0;
}

uint32_t LinkCount(const char* path) {
  ResolvedPath resolved;
  struct stat st;
  if (!Resolve(path, &resolved) || lstat(resolved.host.c_str(), &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_nlink);
}

bool CopyFileReplace(const char* from, const char* to) {
  ResolvedPath source;
  ResolvedPath target;
  if (!Resolve(from, &source) || !Resolve(to, &target)) return false;
  if (target.is_root || target.trailing_separator) return false;
  const int in = open(source.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || flock(in, LOCK_SH | LOCK_NB) != 0) {
    close(in);
    return false;
  }
  struct stat existing;
  const bool replaces = stat(target.host.c_str(), &existing) == 0;
  if (replaces) {
    if (!S_ISREG(existing.st_mode) || posix::ModeIsReadOnly(existing.st_mode) ||
        (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)) {
      close(in);
      return false;
    }
    // A hidden destination is refused as a read-only one.
    uint32_t kept = 0;
    if (posix::ReadDosAttributes(target.host, &kept) && (kept & kAttrHidden)) {
      close(in);
      return false;
    }
  }
  fault::BeforeChange(fault::Change::kCreate, to);
  const int out = open(target.host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return false;
  }
  // Nobody else may hold the destination while it is replaced.
  bool ok = flock(out, LOCK_EX | LOCK_NB) == 0 && ftruncate(out, 0) == 0 && CopyBytes(in, out);
  if (ok) CopyMetadata(in, st, out);
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok && !replaces) unlink(target.host.c_str());
  return ok;
}

bool FindFirstExists(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  const std::string_view text(path);
  const size_t after = posix::AfterLastSeparator(text);
  const std::string_view last = after == std::string_view::npos ? text : text.substr(after);
  if (last.empty()) return false;  // a search for "folder\" finds nothing
  bool wildcard = false;
  for (size_t i = 0; i < last.size(); i += posix::Cp932CharLength(last, i)) {
    if (last[i] == '*' || last[i] == '?') wildcard = true;
  }
  if (wildcard) {
    FolderEnumerator search;
    std::string name;
    return search.First(path, &name);
  }
  ResolvedPath resolved;
  if (!ResolveProgramPath(text, &resolved) || resolved.is_root) return false;
  struct stat st;
  return lstat(resolved.host.c_str(), &st) == 0;
}

bool PathExists(const char* path) {
  ResolvedPath resolved;
  if (!Resolve(path, &resolved)) return false;
  struct stat st;
  if (stat(resolved.host.c_str(), &st) != 0) return false;
  return !resolved.trailing_separator || S_ISDIR(st.st_mode);
}

bool CanOpenExclusiveForWrite(const char* path) {
  ResolvedPath resolved;
  if (!Resolve(path, &resolved) || resolved.is_root || resolved.trailing_separator) return false;
  struct stat st;
  if (stat(resolved.host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (posix::ModeIsReadOnly(st.st_mode)) return false;
  // A running program cannot be opened for writing (ETXTBSY), as on Windows.
  const int fd = open(resolved.host.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool exclusive = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (exclusive) {
    // A write lease is granted only while no other descriptor has the file open, in any
    // process.
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
      fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN || errno == EBUSY) {
      exclusive = false;
    } else {
      // Leases unsupported here (or not ours to take): look for other descriptors instead.
      struct stat opened;
      exclusive = fstat(fd, &opened) == 0 && !posix::OpenElsewhere(opened.st_dev, opened.st_ino, fd);
    }
  }
  close(fd);
  return exclusive;
}

}  // namespace gp::platform
