#include "storage/docfile_access.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/structured_storage.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr char kSeparator = '\\';

// A component as the storage takes it, or false when it is too long. Every byte 0x5C splits a
// path, so a component may end in the lead byte of a character whose second byte was the
// separator: such bytes (and any other without a UTF-16 form) become U+30FB, the same name the
// package writer gives the element.
bool ComponentName(const char* begin, size_t length, bool is_storage, std::u16string* name) {
  if (length > static_cast<size_t>(DocfileAccess::kMaxComponentBytes)) return false;
  if (is_storage && length != 0 && begin[length - 1] == ':') --length;
  *name = platform::Cp932ToUtf16Lenient(std::string_view(begin, length));
  return true;
}

}  // namespace

DocfileAccess::~DocfileAccess() {
  CloseStream();
  if (root_ != nullptr) {
    root_->Commit();
    root_->Release();
    root_ = nullptr;
  }
}

bool DocfileAccess::OpenDocfile(const char* path) {
  if (root_ != nullptr) return true;
  if (path == nullptr) return false;
  platform::Storage* root = nullptr;
  const bool ok = FileExists(path) ? platform::OpenCompoundFile(path, &root)
                                   : platform::CreateCompoundFile(path, &root);
  if (!ok || root == nullptr) return false;
  root_ = root;
  return true;
}

bool DocfileAccess::OpenStreamByPath(const char* path) {
  CloseStream();
  if (ResolvePath(path)) return true;
  ReleaseStorages();
  return false;
}

bool DocfileAccess::ResolvePath(const char* path) {
  if (path == nullptr || root_ == nullptr) return false;
  storages_.Clear();
  platform::Storage* current = root_;
  std::u16string name;
  const char* begin = path;
  for (const char* cut = std::strchr(begin, kSeparator); cut != nullptr;
       cut = std::strchr(begin, kSeparator)) {
    if (!ComponentName(begin, static_cast<size_t>(cut - begin), true, &name)) return false;
    platform::Storage* child = nullptr;
    if (!current->OpenStorage(name, &child) || child == nullptr) return false;
    if (storages_.Append(child) < 0) {
      child->Release();
      return false;
    }
    current = child;
    begin = cut + 1;
  }
  if (!ComponentName(begin, std::strlen(begin), false, &name)) return false;
  platform::StorageStream* stream = nullptr;
  if (!current->OpenStream(name, &stream) || stream == nullptr) return false;
  stream_ = stream;
  return true;
}

void DocfileAccess::ReleaseStorages() {
  for (int32_t i = storages_.Count() - 1; i >= 0; --i) {
    static_cast<platform::Storage*>(storages_.Get(i))->Release();
  }
  storages_.Clear();
}

uint32_t DocfileAccess::Read(void* buffer, uint32_t count) {
  if (stream_ == nullptr) return 0;
  uint32_t done = 0;
  stream_->Read(buffer, count, &done);
  return done;
}

uint32_t DocfileAccess::Seek(int32_t offset, int origin) {
  if (stream_ == nullptr) return 0;
  uint64_t position = 0;
  stream_->Seek(static_cast<int64_t>(offset), origin, &position);
  return static_cast<uint32_t>(position);
}

int32_t DocfileAccess::StreamSize(const char* path) {
  if (!OpenStreamByPath(path)) return -1;
  const uint32_t size = Seek(0, kSeekEnd);
  CloseStream();
  return static_cast<int32_t>(size);
}

void DocfileAccess::CloseStream() {
  if (stream_ == nullptr) return;
  stream_->Commit();
  stream_->Release();
  stream_ = nullptr;
  ReleaseStorages();
}

}  // namespace gp
