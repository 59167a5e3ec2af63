// LZW decoder on arbitrary block sequences, and encoder -> decoder round trips.
//
// Input: byte 0 selects the mode. Even: bytes 1..4 are the declared size (bounded to 1 MiB,
// negative values kept), the rest is the block sequence. Odd: the rest is plain data that
// must come back unchanged through the encoder (both clear policies) and the decoder.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/endian.h"
#include "codec/lzw_decoder.h"
#include "codec/lzw_encoder.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr size_t kMaxOutput = 8u << 20;
constexpr int32_t kMaxDeclared = 1 << 20;

class BoundedSink : public gp::LzwSink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    if (size > kMaxOutput - bytes.size()) return false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  if ((data[0] & 1) == 0) {
    if (size < 5) return 0;
    auto declared = static_cast<int32_t>(gp::LoadU32(data + 1));
    if (declared > kMaxDeclared) declared %= kMaxDeclared;
    BoundedSink sink;
    const int result = gp::LzwDecodeToSink(data + 5, size - 5, declared, &sink, 4096);
    const bool known = result == 0 || result == 1 || (result >= 3 && result <= 6);
    if (!known) std::abort();
    return 0;
  }
  for (auto policy : {gp::LzwClearPolicy::kWhenFull, gp::LzwClearPolicy::kWhenRatioFalls}) {
    gp::LzwEncodeOptions options;
    options.clear_policy = policy;
    options.block_length = 1 + data[0] % 256;
    std::vector<uint8_t> blocks;
    if (!gp::LzwEncodeBlocks(data + 1, size - 1, options, &blocks)) std::abort();
    BoundedSink sink;
    const int result = gp::LzwDecodeToSink(blocks.data(), blocks.size(),
                                           static_cast<int32_t>(size - 1), &sink, 4096);
    if (result != gp::kLzwDone || sink.bytes != std::vector<uint8_t>(data + 1, data + size)) {
      std::abort();
    }
  }
  return 0;
}
