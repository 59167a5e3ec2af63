// Files on Windows: the wide file functions on paths converted from code page 932.
#include <cwctype>
#include <functional>
#include <string>

#include "platform/fault_hook.h"
#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {

using win32::WidePath;

namespace {

HANDLE AsHandle(intptr_t native) { return reinterpret_cast<HANDLE>(native); }

bool IsDiskFullError(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

DWORD CreationDisposition(Disposition d) {
  switch (d) {
    case Disposition::kCreateNew: return CREATE_NEW;
    case Disposition::kCreateAlways: return CREATE_ALWAYS;
    case Disposition::kOpenExisting: return OPEN_EXISTING;
    case Disposition::kOpenAlways: return OPEN_ALWAYS;
    case Disposition::kTruncateExisting: return TRUNCATE_EXISTING;
  }
  return OPEN_EXISTING;
}

DWORD HintFlags(Hint h) {
  switch (h) {
    case Hint::kNone: return 0;
    case Hint::kRandomAccess: return FILE_FLAG_RANDOM_ACCESS;
    case Hint::kSequentialScan: return FILE_FLAG_SEQUENTIAL_SCAN;
  }
  return 0;
}

// The attribute bits that CreateFile accepts for a new file.
constexpr uint32_t kCreatableAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem |
                                          kAttrArchive | kAttrNormal;

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : native_(other.native_), disk_full_(other.disk_full_) {
  other.native_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = other.native_;
    disk_full_ = other.disk_full_;
    other.native_ = -1;
  }
  return *this;
}

bool File::Open(const char* path, uint32_t access, uint32_t share, Disposition disposition,
                Hint hint, uint32_t attributes) {
  Close();
  disk_full_ = false;
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  DWORD desired = 0;
  if (access & kAccessRead) desired |= GENERIC_READ;
  if (access & kAccessWrite) desired |= GENERIC_WRITE;
  DWORD share_mode = 0;
  if (share & kShareRead) share_mode |= FILE_SHARE_READ;
  if (share & kShareWrite) share_mode |= FILE_SHARE_WRITE;
  DWORD flags = attributes & kCreatableAttributes;
  if (flags == 0) flags = FILE_ATTRIBUTE_NORMAL;
  flags |= HintFlags(hint);
  if (fault::Active()) {
    const bool exists = GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (disposition == Disposition::kCreateAlways ||
        (disposition == Disposition::kTruncateExisting && exists) ||
        ((disposition == Disposition::kCreateNew || disposition == Disposition::kOpenAlways) &&
         !exists)) {
      fault::BeforeChange(fault::Change::kCreate, path);
    }
  }
  HANDLE h = CreateFileW(wide.c_str(), desired, share_mode, nullptr,
                         CreationDisposition(disposition), flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  native_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool File::IsOpen() const { return native_ != -1; }

void File::Close() {
  if (IsOpen()) CloseHandle(AsHandle(native_));
  native_ = -1;
}

bool File::Read(void* buffer, uint32_t size, uint32_t* done) {
  DWORD n = 0;
  const bool ok = IsOpen() && ReadFile(AsHandle(native_), buffer, size, &n, nullptr);
  if (done) *done = ok ? n : 0;
  return ok;
}

bool File::Write(const void* buffer, uint32_t size, uint32_t* done) {
  DWORD n = 0;
  const bool ok = IsOpen() && WriteFile(AsHandle(native_), buffer, size, &n, nullptr);
  if (!ok && IsOpen()) disk_full_ = IsDiskFullError(GetLastError());
  if (done) *done = ok ? n : 0;
  return ok;
}

bool File::Seek(int64_t offset, Origin origin, uint64_t* position) {
  if (!IsOpen()) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER result;
  result.QuadPart = 0;
  const DWORD method = origin == Origin::kBegin     ? FILE_BEGIN
                       : origin == Origin::kCurrent ? FILE_CURRENT
                                                    : FILE_END;
  if (!SetFilePointerEx(AsHandle(native_), distance, &result, method)) return false;
  if (position) *position = static_cast<uint64_t>(result.QuadPart);
  return true;
}

bool File::Size(uint64_t* size) {
  LARGE_INTEGER value;
  if (!IsOpen() || !GetFileSizeEx(AsHandle(native_), &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool File::Stamp(FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!IsOpen() || !GetFileInformationByHandle(AsHandle(native_), &info) ||
      !GetFileInformationByHandleEx(AsHandle(native_), FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  const auto join = [](DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) | low;
  };
  stamp->volume = info.dwVolumeSerialNumber;
  stamp->file = join(info.nFileIndexHigh, info.nFileIndexLow);
  stamp->size = join(info.nFileSizeHigh, info.nFileSizeLow);
  stamp->write_time = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  stamp->change_time = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
  return true;
}

LocalTime LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                   st.wMilliseconds};
}

bool File::Flush() {
  if (!IsOpen()) return false;
  if (FlushFileBuffers(AsHandle(native_)) != 0) return true;
  disk_full_ = IsDiskFullError(GetLastError());
  return false;
}

bool File::StartFlush() { return Flush(); }

void File::StartWriteBack(uint64_t /*offset*/, uint64_t /*length*/) {}

bool FinishFlushes(const std::string* /*paths*/, size_t /*count*/, std::string* /*failed_path*/,
                   bool* disk_full) {
  if (disk_full != nullptr) *disk_full = false;
  return true;
}

namespace {

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = t.year;
  st.wMonth = t.month;
  st.wDayOfWeek = 0;  // ignored by the conversion
  st.wDay = t.day;
  st.wHour = t.hour;
  st.wMinute = t.minute;
  st.wSecond = t.second;
  st.wMilliseconds = t.millisecond;
  return st;
}

// The calendar of SystemTimeToFileTime on Windows, checked here as well because not every
// implementation of it (Wine's) refuses a day past the end of its month.
bool CalendarAccepts(const LocalTime& t) {
  constexpr uint16_t kFirstYear = 1601;
  constexpr uint16_t kLastYear = 30827;
  if (t.year < kFirstYear || t.year > kLastYear || t.month < 1 || t.month > 12) return false;
  static constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  const unsigned days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  return t.day >= 1 && t.day <= days && t.hour < 24 && t.minute < 60 && t.second < 60 &&
         t.millisecond < 1000;
}

}  // namespace

bool File::ValidLocalTime(const LocalTime& local) {
  if (!CalendarAccepts(local)) return false;
  const SYSTEMTIME st = ToSystemTime(local);
  FILETIME ft;
  return SystemTimeToFileTime(&st, &ft) != FALSE;
}

bool File::SetLastWriteTime(const LocalTime& local) {
  if (!CalendarAccepts(local)) return false;
  const SYSTEMTIME st = ToSystemTime(local);
  FILETIME local_ft;
  FILETIME utc;
  if (!SystemTimeToFileTime(&st, &local_ft)) return false;
  if (!LocalFileTimeToFileTime(&local_ft, &utc)) return false;
  return IsOpen() && SetFileTime(AsHandle(native_), nullptr, nullptr, &utc) != FALSE;
}

uint32_t ReadAttributes(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return kInvalidAttributes;
  return GetFileAttributesW(wide.c_str());
}

bool WriteAttributes(const char* path, uint32_t attributes) {
  const std::wstring wide = WidePath(path);
  return !wide.empty() && SetFileAttributesW(wide.c_str(), attributes) != FALSE;
}

bool FreeSpace(const char* path, uint64_t* free_bytes, uint64_t* volume) {
  if (free_bytes == nullptr) return false;
  std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  // A path not made yet counts from the nearest folder that exists.
  while (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const size_t slash = wide.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return false;
    wide.resize(slash);
    if (wide.size() == 2 && wide[1] == L':') wide += L'\\';
  }
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) return false;
  *free_bytes = available.QuadPart;
  if (volume != nullptr) {
    wchar_t root[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(wide.c_str(), root, MAX_PATH)) return false;
    std::wstring name(root);
    for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
    *volume = std::hash<std::wstring>()(name);
  }
  return true;
}

bool RemoveFile(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  fault::BeforeChange(fault::Change::kDelete, path);
  return DeleteFileW(wide.c_str()) != FALSE;
}

bool RenameFile(const char* from, const char* to) {
  const std::wstring a = WidePath(from);
  const std::wstring b = WidePath(to);
  if (a.empty() || b.empty()) return false;
  fault::BeforeChange(fault::Change::kRename, from);
  // MoveFile's own semantics (fails onto an existing file, may copy across volumes), and the
  // move is on the disk when the call returns: the commit relies on that order.
  const DWORD flags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  return MoveFileExW(a.c_str(), b.c_str(), flags) != FALSE;
}

bool LinkFile(const char* existing, const char* link) {
  const std::wstring a = WidePath(existing);
  const std::wstring b = WidePath(link);
  if (a.empty() || b.empty()) return false;
  fault::BeforeChange(fault::Change::kCreate, link);
  return CreateHardLinkW(b.c_str(), a.c_str(), nullptr) != FALSE;
}

uint32_t LinkCount(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return 0;
  const HANDLE handle =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
  CloseHandle(handle);
  return known ? info.nNumberOfLinks : 0;
}

bool CopyFileReplace(const char* from, const char* to) {
  const std::wstring a = WidePath(from);
  const std::wstring b = WidePath(to);
  if (a.empty() || b.empty()) return false;
  fault::BeforeChange(fault::Change::kCreate, to);
  return CopyFileW(a.c_str(), b.c_str(), FALSE) != FALSE;
}

bool FindFirstExists(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(wide.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool PathExists(const char* path) {
  // What the shell's test does: the attributes can be read, with no critical-error box for
  // an empty drive.
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_mode);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  SetThreadErrorMode(old_mode, nullptr);
  return attributes != INVALID_FILE_ATTRIBUTES;
}

bool CanOpenExclusiveForWrite(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  win32::ScopedHandle h(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.Valid();
}

}  // namespace gp::platform
