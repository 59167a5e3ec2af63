// Helpers shared by the files of the Linux platform layer. Not part of the platform interface.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace gp::platform::posix {

// Process-wide state of the layer.
struct LayerState {
  std::array<std::string, 26> drives;  // host folder per drive letter A-Z, empty = unmapped
  std::string windows_override;        // host folders set by SetWindowsFolderOverride ...
  std::string system_override;         // ... and SetSystemFolderOverride
  bool restart_requested = false;
  uint32_t last_temp_number = 0;  // the last number MakeTempFileName handed out

  LayerState() { Reset(); }
  void Reset();
};
LayerState& State();

// The GetCurrentDirectory length rules: the length copied when text and NUL fit in limit bytes,
// otherwise the size needed including the NUL (buffer untouched).
uint32_t CopyOut(std::string_view text, char* buffer, uint32_t limit);

// Byte length (1 or 2) of the code page 932 character that starts at text[i].
size_t Cp932CharLength(std::string_view text, size_t i);
// True when the last character (not merely the last byte) is a backslash or slash.
bool EndsWithSeparator(std::string_view cp932);
// Offset just after the last separator character, or npos when there is none.
size_t AfterLastSeparator(std::string_view cp932);

// The hidden, system, archive (and, for folders, read-only) bits kept in the user.DOSATTRIB
// extended attribute. False when the entry has none (or the file system keeps none).
bool ReadDosAttributes(const std::string& host, uint32_t* bits);
// Stores them; true also when the file system cannot keep extended attributes.
bool WriteDosAttributes(const std::string& host, uint32_t bits);
bool WriteDosAttributes(int fd, uint32_t bits);

// A file whose owner-write bit is clear carries the read-only attribute, for every user.
inline bool ModeIsReadOnly(mode_t mode) { return (mode & S_IWUSR) == 0; }

// True when one of this layer's opens (in any process) holds the file with a lock that keeps
// others from deleting, renaming or replacing it: an open without write sharing.
bool HeldByLockingOpen(const std::string& host);

// True when any descriptor other than own_fd, in this or another process, refers to the file
// with this device and inode (found through /proc/*/fd).
bool OpenElsewhere(dev_t device, ino_t inode, int own_fd);

// Reads one line without its line break ("\n" or "\r\n"); false at the end of input when
// nothing was read.
bool ReadLineFrom(std::FILE* stream, std::string* line);

}  // namespace gp::platform::posix
