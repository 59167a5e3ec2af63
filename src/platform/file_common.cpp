// File transfers that both platforms build on File::Read and File::Write, and the temporary
// folder override.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace gp::platform {

namespace {

// Windows transfers at most 4 GiB - 1 per call; pieces stay well below.
constexpr uint64_t kMaxTransfer = 1u << 30;

std::string& TempOverride() {
  static std::string folder;
  return folder;
}

}  // namespace

uint32_t TempFolder(char* buffer, uint32_t limit) {
  const std::string& folder = TempOverride();
  if (folder.empty()) return SystemTempFolder(buffer, limit);
  const auto length = static_cast<uint32_t>(folder.size());
  if (buffer == nullptr || length + 1 > limit) return length + 1;
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return length;
}

void SetTempFolderOverride(const std::string& folder) { TempOverride() = folder; }

bool ReadExact(File& file, void* data, uint64_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (size > 0) {
    const auto n = static_cast<uint32_t>(std::min(size, kMaxTransfer));
    uint32_t done = 0;
    if (!file.Read(bytes, n, &done) || done != n) return false;
    bytes += n;
    size -= n;
  }
  return true;
}

bool WriteAll(File& file, const void* data, uint64_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const auto n = static_cast<uint32_t>(std::min(size, kMaxTransfer));
    uint32_t done = 0;
    if (!file.Write(bytes, n, &done) || done != n) return false;
    bytes += n;
    size -= n;
  }
  return true;
}

}  // namespace gp::platform
