// Whole-file checksums through the platform's file services.
#include <algorithm>
#include <memory>
#include <new>

#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr uint32_t kChunkSize = 4u * 1024 * 1024;
constexpr uint32_t kEmptyFileCrc = 0xFFFFFFFFu;

}  // namespace

uint32_t FileCrc32(const char* path) {
  if (path == nullptr) return 0;
  platform::File file;
  if (!file.Open(path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan)) {
    return 0;
  }
  // The whole size counts, also beyond 4 GiB, so that every byte of the file is checked.
  uint64_t size = 0;
  if (!file.Size(&size)) return 0;
  if (size == 0) return kEmptyFileCrc;

  const uint32_t buffer_size = static_cast<uint32_t>(std::min<uint64_t>(size, kChunkSize));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[buffer_size]);
  if (!buffer) return 0;

  uint32_t crc = 0;
  uint64_t remaining = size;
  while (remaining > 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, buffer_size));
    uint32_t done = 0;
    if (!file.Read(buffer.get(), n, &done) || done != n) return 0;
    crc = Crc32Update(crc, buffer.get(), n);
    remaining -= n;
  }
  return crc;
}

bool FileMatchesCrc(const char* path, uint32_t expected) {
  if (!FileExists(path)) return false;
  return FileCrc32(path) == expected;
}

}  // namespace gp
