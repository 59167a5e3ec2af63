// Structured storage on Linux: compound files read through the portable reader of src/cfb/,
// over a file opened read-write with no sharing (an exclusive lock, so a second open of the
// same file fails as it does with ole32). The work docfile is never modified, so commits have
// nothing to write and leave the file as it is.
#include "platform/structured_storage.h"

#include <memory>
#include <new>
#include <vector>

#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "platform/file_byte_source.h"
#include "platform/platform.h"

namespace gp::platform {

namespace {

// One open compound file, shared by its root and every storage and stream opened from it.
struct OpenFile {
  File file;
  std::unique_ptr<FileByteSource> source;
  cfb::CompoundFileReader reader;
};

class CfbStream final : public StorageStream {
 public:
  CfbStream(std::shared_ptr<OpenFile> file, cfb::StreamReader stream)
      : file_(std::move(file)), stream_(std::move(stream)) {}

  void Read(void* buffer, uint32_t size, uint32_t* done) override {
    size_t n = 0;
    if (stream_.Read(buffer, size, &n) != cfb::Status::kOk) n = 0;
    if (done != nullptr) *done = static_cast<uint32_t>(n);
  }
  void Seek(int64_t offset, int origin, uint64_t* position) override {
    if (origin >= 0 && origin <= 2) {
      stream_.Seek(offset, static_cast<cfb::SeekOrigin>(origin), nullptr);
    }
    if (position != nullptr) *position = stream_.position();
  }
  void Commit() override {}
  void Release() override { delete this; }

 private:
  ~CfbStream() override = default;
  std::shared_ptr<OpenFile> file_;  // keeps the reader that stream_ refers to alive
  cfb::StreamReader stream_;
};

class CfbStorage final : public Storage {
 public:
  CfbStorage(std::shared_ptr<OpenFile> file, uint32_t entry)
      : file_(std::move(file)), entry_(entry) {}

  bool OpenStorage(std::u16string_view name, Storage** out) override {
    *out = nullptr;
    uint32_t child = 0;
    cfb::EntryInfo info;
    if (file_->reader.FindChild(entry_, name, &child) != cfb::Status::kOk ||
        file_->reader.GetEntry(child, &info) != cfb::Status::kOk ||
        info.type != cfb::EntryType::kStorage) {
      return false;
    }
    *out = new (std::nothrow) CfbStorage(file_, child);
    return *out != nullptr;
  }
  bool OpenStream(std::u16string_view name, StorageStream** out) override {
    *out = nullptr;
    uint32_t child = 0;
    cfb::StreamReader stream;
    if (file_->reader.FindChild(entry_, name, &child) != cfb::Status::kOk ||
        file_->reader.OpenStream(child, &stream) != cfb::Status::kOk) {
      return false;
    }
    *out = new (std::nothrow) CfbStream(file_, std::move(stream));
    return *out != nullptr;
  }
  void Commit() override {}
  void Release() override { delete this; }

 private:
  ~CfbStorage() override = default;
  std::shared_ptr<OpenFile> file_;
  uint32_t entry_;
};

bool OpenRoot(std::shared_ptr<OpenFile> file, Storage** root) {
  file->source = std::make_unique<FileByteSource>(&file->file);
  if (file->reader.Open(file->source.get()) != cfb::Status::kOk) return false;
  *root = new (std::nothrow) CfbStorage(std::move(file), cfb::CompoundFileReader::kRootEntry);
  return *root != nullptr;
}

}  // namespace

bool OpenCompoundFile(const char* path, Storage** root) {
  *root = nullptr;
  auto file = std::make_shared<OpenFile>();
  // Only read, and other readers are let in (a package on read-only media works).
  if (!file->file.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting, Hint::kNone)) {
    return false;
  }
  return OpenRoot(std::move(file), root);
}

bool CreateCompoundFile(const char* path, Storage** root) {
  *root = nullptr;
  auto file = std::make_shared<OpenFile>();
  if (!file->file.Open(path, kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateAlways,
                       Hint::kNone)) {
    return false;
  }
  const std::vector<uint8_t> empty = cfb::EmptyCompoundFile();
  uint32_t done = 0;
  if (!file->file.Write(empty.data(), static_cast<uint32_t>(empty.size()), &done) ||
      done != empty.size()) {
    return false;
  }
  return OpenRoot(std::move(file), root);
}

}  // namespace gp::platform
