// Access to the work docfile: opens the compound file once, then one stream at a time by a
// backslash-separated path ("0\DiffOption2.dat", "3\list.dat", "1\_\0.dif"), which the caller
// reads sequentially, seeks in, sizes and closes.
//
// Path convention: every byte 0x5C separates components (also where it would be the second
// byte of a double-byte character). All components but the last name storages nested from the
// root; a storage component ending in ":" loses that byte; the last component names the stream
// and is taken whole. A component has at most 259 bytes; names reach the storage as UTF-16
// converted from code page 932.
//
// Folder src/storage/: what the program keeps and reads while it runs: owned strings, pointer
// lists, file helpers, the folder journal, the work docfile and its access. It may include
// base, platform and format.
#pragma once

#include <cstdint>

#include "storage/pointer_list.h"

namespace gp {

namespace platform {
class Storage;
class StorageStream;
}  // namespace platform

class DocfileAccess {
 public:
  static constexpr int kSeekBegin = 0;
  static constexpr int kSeekCurrent = 1;
  static constexpr int kSeekEnd = 2;
  // The name buffer holds 260 bytes with the terminator.
  static constexpr int32_t kMaxComponentBytes = 259;

  DocfileAccess() = default;
  DocfileAccess(const DocfileAccess&) = delete;
  DocfileAccess& operator=(const DocfileAccess&) = delete;
  // Closes a stream left open, then commits and releases the root storage.
  virtual ~DocfileAccess();

  // Opens the compound file at path (code page 932) for reading only (other readers allowed),
  // or creates an empty one there when no file of that name exists. True at once when already open.
  bool OpenDocfile(const char* path);
  // Opens the stream at path; on failure nothing is left open. A stream still open from
  // before is closed first.
  bool OpenStreamByPath(const char* path);
  // Bytes read into buffer; 0 (buffer untouched) when no stream is open.
  uint32_t Read(void* buffer, uint32_t count);
  // Moves the position (offset widened with its sign); the low 32 bits of the new position,
  // or 0 when no stream is open.
  uint32_t Seek(int32_t offset, int origin);
  // The stream's size (low 32 bits), or -1 when it cannot be opened. Leaves no stream open.
  int32_t StreamSize(const char* path);
  // Commits and releases the stream and the storages opened for it; nothing when none is open.
  void CloseStream();

  // State, for tests.
  bool has_root() const { return root_ != nullptr; }
  bool has_stream() const { return stream_ != nullptr; }
  const PointerList& open_storages() const { return storages_; }

 private:
  bool ResolvePath(const char* path);
  void ReleaseStorages();

  PointerList storages_;  // storages opened on the way to the current stream, outermost first
  platform::Storage* root_ = nullptr;
  platform::StorageStream* stream_ = nullptr;
};

}  // namespace gp
