// Structured storage (compound files) as the platform provides it: ole32 on Windows, the
// portable reader of src/cfb/ on Linux. Only what the work docfile access needs: open an
// existing compound file for reading (other readers allowed, no writer), create an empty one, open child storages
// and streams by UTF-16 name, read sequentially, seek, commit, release.
//
// Objects are reference-counted like COM objects: every successful open hands out one
// reference, which the caller gives back with Release().
#pragma once

#include <cstdint>
#include <string_view>

namespace gp::platform {

class StorageStream {
 public:
  // IStream::Read: *done receives the count read. The result code is not looked at by callers.
  virtual void Read(void* buffer, uint32_t size, uint32_t* done) = 0;
  // IStream::Seek: origin 0 start, 1 current, 2 end; *position receives the new position.
  virtual void Seek(int64_t offset, int origin, uint64_t* position) = 0;
  // IStream::Commit(STGC_OVERWRITE).
  virtual void Commit() = 0;
  virtual void Release() = 0;

 protected:
  virtual ~StorageStream() = default;
};

class Storage {
 public:
  // IStorage::OpenStorage / OpenStream, exclusive (STGM_READ below an opened file,
  // STGM_READWRITE below a created one). True only when the call succeeded (S_OK) and an
  // object came back.
  virtual bool OpenStorage(std::u16string_view name, Storage** out) = 0;
  virtual bool OpenStream(std::u16string_view name, StorageStream** out) = 0;
  // IStorage::Commit(STGC_OVERWRITE).
  virtual void Commit() = 0;
  virtual void Release() = 0;

 protected:
  virtual ~Storage() = default;
};

// StgOpenStorage(name, STGM_READ | STGM_SHARE_DENY_WRITE): the root storage of an existing
// compound file, only read. path is a code page 932 program path.
bool OpenCompoundFile(const char* path, Storage** root);
// StgCreateDocfile(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE): a new empty
// compound file, replacing any file of that name.
bool CreateCompoundFile(const char* path, Storage** root);

}  // namespace gp::platform
