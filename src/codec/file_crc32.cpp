// Whole-file checksums through the platform's file services.
#include <algorithm>
#include <new>

#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr uint32_t kChunkSize = 4u * 1024 * 1024;
constexpr uint32_t kEmptyFileCrc = 0xFFFFFFFFu;

// Checksums this process has taken, by file stamp. An update run takes the checksum of an
// installed file up to three times (the latest-version test, detection, and before it patches
// the file); a file whose stamp is unchanged is not read again. A table of kRememberedSlots
// slots chosen by volume and file number, where a newer checksum replaces an older one; its
// memory is taken at the first use. The programs are single-threaded.
struct Remembered {
  platform::FileStamp stamp;
  uint32_t crc = 0;
};
constexpr size_t kRememberedSlots = 4096;

Remembered* Slot(const platform::FileStamp& stamp) {
  static Remembered* table = new (std::nothrow) Remembered[kRememberedSlots];
  if (table == nullptr) return nullptr;
  return &table[(stamp.file * 0x9E3779B97F4A7C15ull ^ stamp.volume) % kRememberedSlots];
}

const Remembered* FindRemembered(const platform::FileStamp& stamp) {
  const Remembered* slot = Slot(stamp);
  return slot != nullptr && slot->stamp == stamp ? slot : nullptr;
}

void Remember(const platform::FileStamp& stamp, uint32_t crc) {
  if (Remembered* slot = Slot(stamp)) *slot = {stamp, crc};
}

}  // namespace

uint32_t FileCrc32(const char* path) {
  if (path == nullptr) return 0;
  platform::File file;
  if (!file.Open(path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan)) {
    return 0;
  }
  // The whole size counts, also beyond 4 GiB, so that every byte of the file is checked.
  platform::FileStamp stamp;
  if (!file.Stamp(&stamp)) return 0;
  const uint64_t size = stamp.size;
  if (size == 0) return kEmptyFileCrc;
  if (const Remembered* known = FindRemembered(stamp)) return known->crc;

  const uint32_t buffer_size = static_cast<uint32_t>(std::min<uint64_t>(size, kChunkSize));
  platform::WorkBuffer buffer;
  if (!buffer.Allocate(buffer_size)) return 0;

  uint32_t crc = 0;
  uint64_t remaining = size;
  while (remaining > 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, buffer_size));
    uint32_t done = 0;
    if (!file.Read(buffer.data(), n, &done) || done != n) return 0;
    crc = Crc32Update(crc, buffer.data(), n);
    remaining -= n;
  }
  // A file written while it was read is not remembered.
  platform::FileStamp after;
  if (file.Stamp(&after) && after == stamp) Remember(stamp, crc);
  return crc;
}

void RememberFileCrc(const char* path, uint32_t crc) {
  platform::File file;
  platform::FileStamp stamp;
  if (path != nullptr &&
      file.Open(path, platform::kAccessRead, platform::kShareRead | platform::kShareWrite,
                platform::Disposition::kOpenExisting) &&
      file.Stamp(&stamp) && stamp.size != 0) {
    Remember(stamp, crc);
  }
}

bool FileMatchesCrc(const char* path, uint32_t expected) {
  if (!FileExists(path)) return false;
  return FileCrc32(path) == expected;
}

}  // namespace gp
