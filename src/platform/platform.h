// The Windows services the program needs, in its own terms.
//
// Every text here is a code page 932 byte string and every path a Windows path (drive letter,
// backslashes). Only the platform layer converts: the Windows build to UTF-16 for the wide API,
// the Linux build to UTF-8 host paths through a drive table (see posix/host_paths.h).
//
// Functions mirror the Windows calls the program relies on, with the same results (a length of
// 0 for failure, INVALID attributes, a move that fails onto an existing file ...), so that the
// program flow reads the same on both platforms. Names avoid the Windows macro names.
//
// Folder src/platform/: this header and its two implementations (win32/, posix/); the only
// place that includes a system header of Windows or POSIX. It may include base; posix/ also
// cfb, which its structured storage is built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/cp932.h"

namespace gp::platform {

// ---------------------------------------------------------------------------------------------
// Files

inline constexpr uint32_t kAccessRead = 0x1;
inline constexpr uint32_t kAccessWrite = 0x2;

inline constexpr uint32_t kShareNone = 0x0;
inline constexpr uint32_t kShareRead = 0x1;
inline constexpr uint32_t kShareWrite = 0x2;

enum class Disposition {
  kCreateNew,         // fails when the file exists
  kCreateAlways,      // creates or truncates
  kOpenExisting,      // fails when the file does not exist
  kOpenAlways,        // opens, or creates when missing
  kTruncateExisting,  // truncates, fails when missing
};

enum class Hint { kNone, kRandomAccess, kSequentialScan };

enum class Origin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// Windows file attribute bits.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// A last-write time as local wall-clock calendar fields (SYSTEMTIME without the weekday).
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t millisecond = 0;
};

// What tells one state of a file from another: its volume and file number, its size and its
// last-write and change times (Linux: st_dev, st_ino, st_size, st_mtim, st_ctim; Windows:
// GetFileInformationByHandle and GetFileInformationByHandleEx with FileBasicInfo). A file
// whose stamp is unchanged has not been written in between.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  uint64_t write_time = 0;
  uint64_t change_time = 0;
  bool operator==(const FileStamp&) const = default;
};

// GetLocalTime: the local wall-clock time now.
LocalTime LocalNow();

// An open file. Closes itself when destroyed. Not copyable; movable.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // CreateFile: access is kAccessRead | kAccessWrite, share the kShare* bits that other opens
  // may use while this one is open. attributes apply to a newly created file.
  bool Open(const char* path, uint32_t access, uint32_t share, Disposition disposition,
            Hint hint = Hint::kNone, uint32_t attributes = kAttrNormal);
  bool IsOpen() const;
  void Close();

  // ReadFile / WriteFile: true when the call succeeded; *done is the count transferred (which
  // may be smaller than asked at the end of the file).
  bool Read(void* buffer, uint32_t size, uint32_t* done);
  bool Write(const void* buffer, uint32_t size, uint32_t* done);
  // SetFilePointerEx; *position receives the new position when given.
  bool Seek(int64_t offset, Origin origin, uint64_t* position = nullptr);
  // GetFileSizeEx; false when the size cannot be taken.
  bool Size(uint64_t* size);
  // The file's stamp; false when it cannot be taken.
  bool Stamp(FileStamp* stamp);
  // FlushFileBuffers (fsync on Linux): the file's data and size reach the disk before it
  // returns. False when the file is not open or the flush fails.
  bool Flush();
  // Starts the file's data on its way to the disk, for FinishFlush to complete later, so that
  // the files of a run are flushed together instead of one after another. On Linux it starts
  // the write-back and returns at once (sync_file_range); Windows has no such call, and it
  // flushes at once (FlushFileBuffers), which needs write access. False when the file is not
  // open or the write-back cannot start.
  bool StartFlush();
  // Starts writing the bytes [offset, offset + length) to the disk without waiting, so that a
  // file being written reaches the disk while the rest of it is built and StartFlush and
  // FinishFlushes have little left to wait for. Linux: sync_file_range; Windows has no such
  // call and does nothing here (StartFlush flushes the whole file). Errors are left for the
  // flush to report.
  void StartWriteBack(uint64_t offset, uint64_t length);
  // True when the last Write or Flush that failed, failed for lack of space on the volume
  // (ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL; ENOSPC, EDQUOT, and EFBIG for a file that may
  // not grow further). Cleared by Open.
  bool DiskFull() const { return disk_full_; }
  // Sets the last-write time from local wall-clock fields (SystemTimeToFileTime, then
  // LocalFileTimeToFileTime, then SetFileTime with creation and access times absent).
  // Returns false when the calendar rejects the fields or the time cannot be set.
  bool SetLastWriteTime(const LocalTime& local);
  // Returns false when the calendar rejects the fields; nothing is set then.
  static bool ValidLocalTime(const LocalTime& local);

 private:
  intptr_t native_ = -1;  // HANDLE on Windows, a descriptor on Linux
  bool disk_full_ = false;
  friend struct FileAccess;
};

// Reads exactly size bytes / writes all size bytes, in pieces of at most 1 GiB; a failed or
// short transfer is a failure (what was transferred before it stays transferred). Nothing is
// read or written for size 0.
bool ReadExact(File& file, void* data, uint64_t size);
bool WriteAll(File& file, const void* data, uint64_t size);

// Completes File::StartFlush for the closed files at paths[0..count): their data and sizes are
// on the disk when this returns true. Linux flushes each volume that holds one of them once
// (syncfs), which costs one disk flush instead of one per file; on Windows StartFlush has
// flushed them already. On failure *failed_path (when given) names a file whose volume could
// not be flushed and *disk_full says whether it was for lack of space.
bool FinishFlushes(const std::string* paths, size_t count, std::string* failed_path = nullptr,
                   bool* disk_full = nullptr);

// ---------------------------------------------------------------------------------------------
// Memory

// A working buffer for file data, zeroed. Small ones come from the heap; from 2 MiB on the memory
// comes from the system and is taken only where it is touched: on Linux as huge pages, so that
// filling the buffer costs one page fault per 2 MiB instead of one per 4 KiB (page faults are
// what a virtual machine makes slow); on Windows from VirtualAlloc.
class WorkBuffer {
 public:
  WorkBuffer() = default;
  ~WorkBuffer();
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  // Replaces the buffer by one of size bytes (at least 1); false, with no buffer, when the
  // memory cannot be had.
  bool Allocate(size_t size);
  // Gives the memory back (nothing when there is no buffer).
  void Release();
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void* base_ = nullptr;
  size_t reserved_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// GetFileAttributes / SetFileAttributes.
uint32_t ReadAttributes(const char* path);
bool WriteAttributes(const char* path, uint32_t attributes);

// GetDiskFreeSpaceEx / statvfs: the bytes free to this user on the volume that holds path
// (a file or a folder; a path that does not exist yet counts from its nearest existing
// folder). False when the space cannot be taken. *volume receives an identifier of the volume
// (equal for two paths on the same volume) when given.
bool FreeSpace(const char* path, uint64_t* free_bytes, uint64_t* volume = nullptr);

// DeleteFile: fails for a read-only file, a folder, a missing file.
bool RemoveFile(const char* path);
// MoveFile: fails when the destination exists.
bool RenameFile(const char* from, const char* to);
// CreateHardLink: gives the existing file the second name link, on the same volume. Fails when
// link exists, the volume has no hard links, or existing is not a file.
bool LinkFile(const char* existing, const char* link);
// The number of names (hard links) of the file at path; 0 when it cannot be read. Opens
// nothing that another open could refuse.
uint32_t LinkCount(const char* path);
// CopyFile with fail-if-exists false: replaces the destination (not a read-only one).
bool CopyFileReplace(const char* from, const char* to);

// The find-first existence test: true when a search for exactly that path finds an entry
// (file or folder).
bool FindFirstExists(const char* path);
// The shell's path-exists test (PathFileExists).
bool PathExists(const char* path);

// The exclusive-write test: OpenFile(path, OF_WRITE | OF_SHARE_EXCLUSIVE), then close.
// False while another process holds the file open, or when it is read-only or missing.
bool CanOpenExclusiveForWrite(const char* path);

// ---------------------------------------------------------------------------------------------
// Folders

// CreateDirectory / RemoveDirectory. Removal fails while the folder holds anything or is the
// current directory of this process.
bool MakeFolder(const char* path);
bool RemoveFolder(const char* path);

// GetCurrentDirectory: the length copied (without NUL) when it fits in limit bytes including
// the NUL; otherwise the size needed (with NUL) and the buffer untouched; 0 on failure.
uint32_t CurrentFolder(char* buffer, uint32_t limit);
// SetCurrentDirectory.
bool ChangeFolder(const char* path);

// FindFirstFile / FindNextFile over a pattern such as "*.*" (relative to the current
// directory, or absolute). Names come back as the bare entry names, "." and ".." included
// where the system reports them.
class FolderEnumerator {
 public:
  FolderEnumerator() = default;
  ~FolderEnumerator();
  FolderEnumerator(const FolderEnumerator&) = delete;
  FolderEnumerator& operator=(const FolderEnumerator&) = delete;

  bool First(const char* pattern, std::string* name);
  bool Next(std::string* name);
  void Close();

 private:
  void* state_ = nullptr;
};

// GetTempPath: the temporary folder with a trailing backslash; same length rules as
// CurrentFolder. While an override is set (SetTempFolderOverride), that folder instead: an
// update run keeps its temporary files in a folder of its own (storage/run_temp_folder.h).
uint32_t TempFolder(char* buffer, uint32_t limit);
// The system's temporary folder, whatever the override; same rules.
uint32_t SystemTempFolder(char* buffer, uint32_t limit);
// Makes TempFolder answer folder (a program path that ends with a backslash) for the whole
// process; an empty text restores the system's folder.
void SetTempFolderOverride(const std::string& folder);
// GetTempFileName: with unique 0, creates an empty file FOLDER\PREFIXhhhh.TMP with a number
// not in use (prefix: up to three characters) and returns that number; 0 on failure. The full
// name goes to out, which holds 260 bytes.
uint32_t MakeTempFileName(const char* folder, const char* prefix, uint32_t unique, char* out);

// GetModuleFileName of the running program; same length rules as CurrentFolder.
uint32_t ModuleFilePath(char* buffer, uint32_t limit);
// What the system says of a signed program file's Authenticode signature.
enum class SignatureVerdict {
  kNotChecked,  // no check on this platform (Linux)
  kAccepted,    // valid, also when the publisher's root is not trusted here (the system's own
                // prompts deal with publisher trust)
  kMismatch,    // the signature does not match the file's bytes, or cannot be read as one
};
// Windows: WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI, no revocation check) of
// the file at path (code page 932 program path). Linux: kNotChecked.
SignatureVerdict VerifyFileSignature(const char* path);

// GetWindowsDirectory / GetSystemDirectory; same length rules.
uint32_t WindowsFolder(char* buffer, uint32_t limit);
uint32_t SystemFolder(char* buffer, uint32_t limit);

// ---------------------------------------------------------------------------------------------
// Texts

// Code page 932 <-> UTF-16 and UTF-8. False for bytes that are not valid in the source
// encoding; the output is then unspecified.
bool Cp932ToUtf16(std::string_view cp932, std::u16string* out);
bool Utf16ToCp932(std::u16string_view text, std::string* out);
bool Cp932ToUtf8(std::string_view cp932, std::string* out);
bool Utf8ToCp932(std::string_view utf8, std::string* out);
// Lenient conversion for compound-file element names: every character that has no UTF-16 form
// (a lone lead byte left by a split at a 0x5C trail byte, an unassigned code) becomes U+30FB,
// the replacement of code page 932. The stub and the generator both name elements this way.
std::u16string Cp932ToUtf16Lenient(std::string_view cp932);
inline constexpr char16_t kCp932Replacement = u'\u30FB';
// Convenience for messages: unconvertible bytes come out as '?'.
std::string Cp932ToUtf8Lossy(std::string_view cp932);

// The lead-byte test of base/cp932.h, under the name the platform's users know.
using ::gp::IsCp932LeadByte;

// Upper-cases a code page 932 text: single-byte letters through the code page's case table,
// double-byte characters through the locale's mapping to upper case (full-width Latin, Greek
// and Cyrillic letters).
std::string UpperCaseCp932(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Host paths: the Windows paths of the program and the paths of the host system.

// A host path (UTF-8 on Linux, UTF-8 on Windows too) as the program's Windows path in code
// page 932. False when it cannot be expressed (no drive maps it, or it has no CP932 form).
bool HostToProgramPath(const std::string& host, std::string* program);
// The reverse: a program path as a host path in UTF-8.
bool ProgramToHostPath(const char* program, std::string* host);

// Overrides for the Windows and system folders (host paths); an empty text restores the
// default. On Windows these only take effect for the genpatch command, never for the system.
void SetWindowsFolderOverride(const std::string& host);
void SetSystemFolderOverride(const std::string& host);

// ---------------------------------------------------------------------------------------------
// Process

// The command-line argument text after the program name. Windows: taken verbatim from the
// command line as the system hands it over (no splitting at blanks, no quote removal).
// Linux: the program's arguments joined by single spaces, as given.
std::string CommandLineArgument(int argc, char** argv);

// GetCurrentProcessId / getpid.
uint32_t CurrentProcessId();
// True while a process with that id exists (also when it exists but may not be inspected);
// false once no process has it.
bool ProcessExists(uint32_t id);

// The module instance (Windows HINSTANCE; a dummy value on Linux).
void* InstanceHandle();

// Environment variable in the host's encoding, or empty.
std::string GetEnvironment(const char* name);
// Sets (or, with a null value, removes) an environment variable of this process, so that the
// process and the programs it starts see it.
void SetEnvironment(const char* name, const char* value);

// Standard streams, for the console host and the command line (UTF-8 on both).
bool StdinIsTerminal();
bool StderrIsTerminal();
void WriteStderr(std::string_view utf8);
void WriteStdout(std::string_view utf8);
// Reads one line from standard input without its line break; false at end of input.
bool ReadStdinLine(std::string* line);

// Dispatches the window messages that are pending for this thread, without translation.
void DispatchPendingMessages();
// Posts a quit message with the given code and runs the message loop until it arrives; returns
// the quit code.
int PostQuitAndRunMessageLoop(int code);

// Restart of Windows: enable the shutdown privilege (not on Windows 95) and call ExitWindowsEx
// with EWX_SHUTDOWN | EWX_REBOOT. On Linux nothing is restarted: the request is reported on
// standard error and recorded (RestartRequested), never acted on.
void RestartWindows();
bool RestartRequested();

}  // namespace gp::platform
