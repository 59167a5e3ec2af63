// Open files: CreateFile's dispositions and sharing, reads, writes, positions and times.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {

namespace {

// No room for the data: the volume is full, the user's quota is spent, or the file may not
// grow further (a file-size limit, as the largest file a FAT volume takes is on Windows).
bool IsDiskFullError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

constexpr uint32_t kKeptInAttribute = kAttrHidden | kAttrSystem | kAttrArchive;

// Sharing as advisory locks between the opens of this layer (in any process): an open that
// shares nothing takes an exclusive lock, one that shares reading but not writing a shared
// lock, so that such opens exclude each other as Windows' share modes do.
int LockFor(uint32_t share) {
  if (share == kShareNone) return LOCK_EX;
  if ((share & kShareWrite) == 0) return LOCK_SH;
  return 0;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : native_(std::exchange(other.native_, -1)), disk_full_(other.disk_full_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::exchange(other.native_, -1);
    disk_full_ = other.disk_full_;
  }
  return *this;
}

bool File::IsOpen() const { return native_ >= 0; }

void File::Close() {
  if (native_ >= 0) {
    close(static_cast<int>(native_));
    native_ = -1;
  }
}

bool File::Open(const char* path, uint32_t access, uint32_t share, Disposition disposition,
                Hint hint, uint32_t attributes) {
  Close();
  disk_full_ = false;
  if (path == nullptr) return false;
  ResolvedPath resolved;
  if (!ResolveProgramPath(path, &resolved) || resolved.is_root) return false;
  if (resolved.trailing_separator) return false;  // a file name never ends with a backslash
  const std::string& host = resolved.host;
  const bool writes = (access & kAccessWrite) != 0;

  struct stat st;
  const bool existed = stat(host.c_str(), &st) == 0;
  const bool truncates = existed && (disposition == Disposition::kCreateAlways ||
                                     disposition == Disposition::kTruncateExisting);
  if (existed) {
    if (S_ISDIR(st.st_mode)) return false;
    if (disposition == Disposition::kCreateNew) return false;
    // The read-only attribute refuses writing and truncation, to every user.
    if (S_ISREG(st.st_mode) && posix::ModeIsReadOnly(st.st_mode) && (writes || truncates)) {
      return false;
    }
    // Replacing a hidden or system file asks for those attributes to be given again.
    if (disposition == Disposition::kCreateAlways) {
      uint32_t kept = 0;
      if (posix::ReadDosAttributes(host, &kept) &&
          (kept & (kAttrHidden | kAttrSystem) & ~attributes) != 0) {
        return false;
      }
    }
  } else if (disposition == Disposition::kOpenExisting ||
             disposition == Disposition::kTruncateExisting) {
    return false;
  }
  if (disposition == Disposition::kTruncateExisting && !writes) return false;

  int flags = O_CLOEXEC;
  if (writes) {
    flags |= (access & kAccessRead) ? O_RDWR : O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (!existed) flags |= O_CREAT | O_EXCL;
  const mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0666;
  if (!existed || truncates) fault::BeforeChange(fault::Change::kCreate, path);
  const int fd = open(host.c_str(), flags, mode);
  if (fd < 0) return false;

  const int lock = LockFor(share);
  if (lock != 0 && flock(fd, lock | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  if (truncates && ftruncate(fd, 0) != 0) {
    close(fd);
    return false;
  }
  if (!existed || disposition == Disposition::kCreateAlways) {
    // A new or replaced file takes the attributes given (archive always, as Windows does).
    if (existed && (attributes & kAttrReadOnly)) fchmod(fd, st.st_mode & ~0222 & 07777);
    posix::WriteDosAttributes(fd, (attributes & kKeptInAttribute) | kAttrArchive);
  }
  if (hint == Hint::kRandomAccess) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  if (hint == Hint::kSequentialScan) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  native_ = fd;
  return true;
}

bool File::Read(void* buffer, uint32_t size, uint32_t* done) {
  uint32_t total = 0;
  if (done != nullptr) *done = 0;
  if (native_ < 0) return false;
  auto* bytes = static_cast<char*>(buffer);
  while (total < size) {
    const ssize_t n = read(static_cast<int>(native_), bytes + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done != nullptr) *done = total;
      return false;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  if (done != nullptr) *done = total;
  return true;
}

bool File::Write(const void* buffer, uint32_t size, uint32_t* done) {
  uint32_t total = 0;
  if (done != nullptr) *done = 0;
  if (native_ < 0) return false;
  const auto* bytes = static_cast<const char*>(buffer);
  while (total < size) {
    const ssize_t n = write(static_cast<int>(native_), bytes + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      disk_full_ = IsDiskFullError(errno);
      if (done != nullptr) *done = total;
      return false;
    }
    total += static_cast<uint32_t>(n);
  }
  if (done != nullptr) *done = total;
  return true;
}

bool File::Seek(int64_t offset, Origin origin, uint64_t* position) {
  if (native_ < 0) return false;
  int whence = SEEK_SET;
  if (origin == Origin::kCurrent) whence = SEEK_CUR;
  if (origin == Origin::kEnd) whence = SEEK_END;
  const off_t result = lseek(static_cast<int>(native_), static_cast<off_t>(offset), whence);
  if (result < 0) return false;
  if (position != nullptr) *position = static_cast<uint64_t>(result);
  return true;
}

bool File::Size(uint64_t* size) {
  struct stat st;
  if (native_ < 0 || fstat(static_cast<int>(native_), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::Stamp(FileStamp* stamp) {
  struct stat st;
  if (native_ < 0 || fstat(static_cast<int>(native_), &st) != 0) return false;
  constexpr uint64_t kNano = 1000000000ull;
  stamp->volume = static_cast<uint64_t>(st.st_dev);
  stamp->file = static_cast<uint64_t>(st.st_ino);
  stamp->size = static_cast<uint64_t>(st.st_size);
  stamp->write_time = static_cast<uint64_t>(st.st_mtim.tv_sec) * kNano +
                      static_cast<uint64_t>(st.st_mtim.tv_nsec);
  stamp->change_time = static_cast<uint64_t>(st.st_ctim.tv_sec) * kNano +
                       static_cast<uint64_t>(st.st_ctim.tv_nsec);
  return true;
}

LocalTime LocalNow() {
  LocalTime t;
  struct timespec now;
  struct tm fields;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || localtime_r(&now.tv_sec, &fields) == nullptr) {
    return t;
  }
  t.year = static_cast<uint16_t>(fields.tm_year + 1900);
  t.month = static_cast<uint16_t>(fields.tm_mon + 1);
  t.day = static_cast<uint16_t>(fields.tm_mday);
  t.hour = static_cast<uint16_t>(fields.tm_hour);
  t.minute = static_cast<uint16_t>(fields.tm_min);
  t.second = static_cast<uint16_t>(fields.tm_sec);
  t.millisecond = static_cast<uint16_t>(now.tv_nsec / 1000000);
  return t;
}

bool File::Flush() {
  if (native_ < 0) return false;
  while (fsync(static_cast<int>(native_)) != 0) {
    if (errno != EINTR) {
      disk_full_ = IsDiskFullError(errno);
      return false;
    }
  }
  return true;
}

bool File::StartFlush() {
  if (native_ < 0) return false;
  if (sync_file_range(static_cast<int>(native_), 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return true;
  // A file system without write-back ranges flushes at once instead.
  if (errno == EINVAL || errno == ENOSYS || errno == ESPIPE) return Flush();
  disk_full_ = IsDiskFullError(errno);
  return false;
}

void File::StartWriteBack(uint64_t offset, uint64_t length) {
  if (native_ < 0 || length == 0) return;
  sync_file_range(static_cast<int>(native_), static_cast<off_t>(offset),
                  static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

struct FileAccess {
  static int Descriptor(const File& file) { return static_cast<int>(file.native_); }
};

bool FinishFlushes(const std::string* paths, size_t count, std::string* failed_path,
                   bool* disk_full) {
  if (disk_full != nullptr) *disk_full = false;
  std::vector<dev_t> flushed;
  for (size_t i = 0; i < count; ++i) {
    File file;
    struct stat status;
    bool good = file.Open(paths[i].c_str(), kAccessRead, kShareRead | kShareWrite,
                          Disposition::kOpenExisting) &&
                fstat(FileAccess::Descriptor(file), &status) == 0;
    if (good && std::find(flushed.begin(), flushed.end(), status.st_dev) != flushed.end()) {
      continue;
    }
    if (good && syncfs(FileAccess::Descriptor(file)) == 0) {
      flushed.push_back(status.st_dev);
      continue;
    }
    if (disk_full != nullptr) *disk_full = good && IsDiskFullError(errno);
    if (failed_path != nullptr) *failed_path = paths[i];
    return false;
  }
  return true;
}

bool File::ValidLocalTime(const LocalTime& local) {
  if (local.year < 1601 || local.year > 30827) return false;
  if (local.month < 1 || local.month > 12) return false;
  if (local.day < 1 || local.day > DaysInMonth(local.year, local.month)) return false;
  return local.hour < 24 && local.minute < 60 && local.second < 60 && local.millisecond < 1000;
}

bool File::SetLastWriteTime(const LocalTime& local) {
  if (!ValidLocalTime(local) || native_ < 0) return false;
  const int fd = static_cast<int>(native_);
  // Setting times needs a handle that may write, as on Windows.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return false;

  struct tm fields = {};
  fields.tm_year = local.year - 1900;
  fields.tm_mon = local.month - 1;
  fields.tm_mday = local.day;
  fields.tm_hour = local.hour;
  fields.tm_min = local.minute;
  fields.tm_sec = local.second;
  fields.tm_isdst = -1;  // the zone's rules decide whether summer time applies
  errno = 0;
  const time_t seconds = mktime(&fields);
  if (seconds == static_cast<time_t>(-1) && errno == EOVERFLOW) return false;

  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = seconds;
  times[1].tv_nsec = static_cast<long>(local.millisecond) * 1000000L;
  if (futimens(fd, times) != 0) return false;
  // A file system that cannot hold the time (ext4 before 1901, for one) keeps another one.
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_mtim.tv_sec == seconds &&
         st.st_mtim.tv_nsec == times[1].tv_nsec;
}

}  // namespace gp::platform
