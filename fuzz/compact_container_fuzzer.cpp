// The compact container: the input read as the end of a package (its trailer must place the
// header and the payload inside the file), and as a payload after its magic, expanded as the
// program does it with the checksum the trailer would carry. Deflate expands 1 byte to at most
// 1,032, so 8 KiB of input stays within about 8 MB of output.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "codec/compact_payload.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/owned_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  gp::format::CompactLayout layout;
  const std::span<const uint8_t> whole(data, size);
  if (gp::format::ReadCompactTrailer(whole, size, &layout) == gp::format::CompactTrailerStatus::kOk &&
      (layout.header_offset + layout.header_length + gp::format::kCompactTrailerSize != size ||
       layout.payload_offset + layout.payload_length != layout.header_offset)) {
    std::abort();
  }

  char folder[260] = {};
  const uint32_t length = gp::platform::TempFolder(folder, 256);
  if (length == 0 || length >= 256) return 0;
  char input[260] = {};
  if (gp::platform::MakeTempFileName(folder, "fzc", 0, input) == 0) return 0;
  std::vector<uint8_t> payload(gp::format::kCompactPayloadMagic,
                               gp::format::kCompactPayloadMagic +
                                   gp::format::kCompactPayloadMagicSize);
  payload.insert(payload.end(), data, data + size);
  {
    gp::platform::File file;
    uint32_t done = 0;
    if (!file.Open(input, gp::platform::kAccessWrite, gp::platform::kShareNone,
                   gp::platform::Disposition::kCreateAlways) ||
        !file.Write(payload.data(), static_cast<uint32_t>(payload.size()), &done)) {
      gp::ForceDeleteFile(input);
      return 0;
    }
  }
  const uint32_t crc = gp::Crc32Update(0, payload.data(), static_cast<int64_t>(payload.size()));
  gp::OwnedString result;
  const bool ok = gp::ExpandCompactPayload(input, 0, payload.size(), crc, &result);
  if (!ok && !result.empty()) std::abort();
  if (ok) gp::ForceDeleteFile(result.c_str());
  gp::ForceDeleteFile(input);
  return 0;
}
