// Payload container expansion from a file, as the program does it. The input (bounded in size,
// so the expanded output stays bounded too) is the container after the magic.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/texts.h"
#include "codec/payload_expander.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/owned_string.h"

namespace {

// Every input byte of LZW code stream decodes to at most 4096 / 9 * 8 bytes, so 4 KiB of
// input expands to at most about 15 MB.
constexpr size_t kMaxInput = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  char folder[260] = {};
  const uint32_t length = gp::platform::TempFolder(folder, 256);
  if (length == 0 || length >= 256) return 0;
  char input[260] = {};
  if (gp::platform::MakeTempFileName(folder, "fzz", 0, input) == 0) return 0;

  std::vector<uint8_t> container(gp::texts::kPayloadMagic,
                                 gp::texts::kPayloadMagic + gp::texts::kPayloadMagicSize);
  container.insert(container.end(), data, data + size);
  {
    gp::platform::File file;
    uint32_t done = 0;
    if (!file.Open(input, gp::platform::kAccessWrite, gp::platform::kShareNone,
                   gp::platform::Disposition::kCreateAlways) ||
        !file.Write(container.data(), static_cast<uint32_t>(container.size()), &done)) {
      gp::ForceDeleteFile(input);
      return 0;
    }
  }
  gp::OwnedString result;
  const int keep = size > 0 && (data[size - 1] & 1) ? 0 : 1;
  const int ok = gp::ExpandPayload(input, &result, keep);
  if (ok == 0 && !result.empty()) std::abort();
  if (ok != 0 && keep != 0) gp::ForceDeleteFile(result.c_str());
  gp::ForceDeleteFile(input);
  return 0;
}
