// Structured storage on Windows: the compound files of ole32. Every open or create counts as
// successful only on exactly S_OK with an object handed back.
#include "platform/structured_storage.h"

#include <string>

#include "cfb/cfb_reader.h"
#include "platform/fault_hook.h"
#include "platform/file_byte_source.h"
#include "platform/win32/windows_support.h"

#include <objbase.h>

namespace gp::platform {

namespace {

// An existing compound file is only read: its root is opened STGM_READ | STGM_SHARE_DENY_WRITE
// (other readers may open it too, so a package on read-only media or shared by several users
// works), its storages and streams STGM_READ | STGM_SHARE_EXCLUSIVE (children are always
// exclusive). A new one is made STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, and its
// children are opened read-write.
constexpr DWORD kOpenRootMode = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr DWORD kOpenChildMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kWritableChildMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
static_assert(kOpenRootMode == 0x20 && kOpenChildMode == 0x10 && kCreateMode == 0x1012);

// COM is initialised once, on the first use, on the program's one thread.
void EnsureCom() {
  static const HRESULT result = CoInitialize(nullptr);
  (void)result;
}

// An element name as the system takes it: null-terminated, so a name with a NUL in it is
// refused rather than cut short.
bool ElementName(std::u16string_view name, std::wstring* out) {
  if (name.find(u'\0') != std::u16string_view::npos) return false;
  out->assign(name.begin(), name.end());
  return true;
}

class OleStream final : public StorageStream {
 public:
  explicit OleStream(IStream* stream) : stream_(stream) {}

  void Read(void* buffer, uint32_t size, uint32_t* done) override {
    ULONG n = 0;
    stream_->Read(buffer, size, &n);
    if (done) *done = n;
  }

  void Seek(int64_t offset, int origin, uint64_t* position) override {
    LARGE_INTEGER move;
    move.QuadPart = offset;
    ULARGE_INTEGER now;
    now.QuadPart = 0;
    stream_->Seek(move, static_cast<DWORD>(origin), &now);
    if (position) *position = now.QuadPart;
  }

  void Commit() override { stream_->Commit(STGC_OVERWRITE); }

  void Release() override {
    stream_->Release();
    delete this;
  }

 private:
  ~OleStream() override = default;
  IStream* stream_;
};

class OleStorage final : public Storage {
 public:
  OleStorage(IStorage* storage, DWORD child_mode) : storage_(storage), child_mode_(child_mode) {}

  bool OpenStorage(std::u16string_view name, Storage** out) override {
    *out = nullptr;
    std::wstring wide;
    if (!ElementName(name, &wide)) return false;
    IStorage* child = nullptr;
    const HRESULT hr = storage_->OpenStorage(wide.c_str(), nullptr, child_mode_, nullptr, 0, &child);
    if (hr != S_OK || child == nullptr) {
      if (child) child->Release();
      return false;
    }
    *out = new OleStorage(child, child_mode_);
    return true;
  }

  bool OpenStream(std::u16string_view name, StorageStream** out) override {
    *out = nullptr;
    std::wstring wide;
    if (!ElementName(name, &wide)) return false;
    IStream* stream = nullptr;
    const HRESULT hr = storage_->OpenStream(wide.c_str(), nullptr, child_mode_, 0, &stream);
    if (hr != S_OK || stream == nullptr) {
      if (stream) stream->Release();
      return false;
    }
    *out = new OleStream(stream);
    return true;
  }

  void Commit() override { storage_->Commit(STGC_OVERWRITE); }

  void Release() override {
    storage_->Release();
    delete this;
  }

 private:
  ~OleStorage() override = default;
  IStorage* storage_;
  DWORD child_mode_;
};

bool Finish(HRESULT hr, IStorage* storage, DWORD child_mode, Storage** root) {
  if (hr != S_OK || storage == nullptr) {
    if (storage) storage->Release();
    return false;
  }
  *root = new OleStorage(storage, child_mode);
  return true;
}

// ole32 follows a directory sibling or a sector chain that points back into itself for ever.
// Before it is handed a file, the portable reader (bounded and loop-safe) walks what the
// program can read of it: the directory tree and the chain of every stream. A file it refuses
// is refused as if the system had refused it, as the Linux program refuses it.
bool WholeWalkSucceeds(const char* path) {
  File file;
  if (!file.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting)) return false;
  FileByteSource source(&file);
  cfb::CompoundFileReader reader;
  return reader.Open(&source) == cfb::Status::kOk &&
         reader.CheckEveryStream() == cfb::Status::kOk;
}

}  // namespace

bool OpenCompoundFile(const char* path, Storage** root) {
  *root = nullptr;
  const std::wstring wide = win32::WidePath(path);
  if (wide.empty()) return false;
  if (!WholeWalkSucceeds(path)) return false;
  EnsureCom();
  IStorage* storage = nullptr;
  const HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, kOpenRootMode, nullptr, 0, &storage);
  return Finish(hr, storage, kOpenChildMode, root);
}

bool CreateCompoundFile(const char* path, Storage** root) {
  *root = nullptr;
  const std::wstring wide = win32::WidePath(path);
  if (wide.empty()) return false;
  EnsureCom();
  IStorage* storage = nullptr;
  fault::BeforeChange(fault::Change::kCreate, path);
  const HRESULT hr = StgCreateDocfile(wide.c_str(), kCreateMode, 0, &storage);
  return Finish(hr, storage, kWritableChildMode, root);
}

}  // namespace gp::platform
