// The seed inputs of the codec fuzz targets are generated here. With GP_WRITE_FUZZ_SEEDS set
// in the environment the test (re)writes them into fuzz/corpus/; otherwise it checks that the
// committed seeds are exactly what the generator makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "base/endian.h"
#include "codec/lzw_encoder.h"
#include "codec/payload_writer.h"
#include "codec_test_util.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using Seeds = std::map<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> DecodeSeed(int32_t declared, const std::vector<uint8_t>& blocks) {
  std::vector<uint8_t> seed(5);
  seed[0] = 0;
  StoreU32(seed.data() + 1, static_cast<uint32_t>(declared));
  seed.insert(seed.end(), blocks.begin(), blocks.end());
  return seed;
}

Seeds LzwDecodeSeeds() {
  Seeds seeds;
  test::CodeStream golden;
  golden.Put(256, 9).Put(208, 9).Put(207, 9).Put(17, 9).Put(224, 9).Put(257, 9);
  seeds["golden"] = DecodeSeed(4, test::Frame(golden.bytes(), 255));
  test::CodeStream kwkwk;
  kwkwk.Put(256, 9).Put('a', 9).Put(258, 9).Put(259, 9).Put(257, 9);
  seeds["kwkwk"] = DecodeSeed(6, test::Frame(kwkwk.bytes(), 255));
  test::CodeStream no_previous;
  no_previous.Put(256, 9).Put(258, 9).Put(257, 9);
  seeds["no_previous"] = DecodeSeed(2, test::Frame(no_previous.bytes(), 255));

  const std::vector<uint8_t> text = test::TextBytes(1, 3000);
  std::vector<uint8_t> blocks;
  LzwEncodeBlocks(text.data(), text.size(), LzwEncodeOptions{}, &blocks);
  seeds["text"] = DecodeSeed(3000, blocks);
  seeds["text_short_declared"] = DecodeSeed(1000, blocks);
  blocks.clear();
  const std::vector<uint8_t> random = test::RandomBytes(2, 1200);
  LzwEncodeOptions small_blocks;
  small_blocks.block_length = 7;
  LzwEncodeBlocks(random.data(), random.size(), small_blocks, &blocks);
  seeds["random_small_blocks"] = DecodeSeed(1200, blocks);
  std::vector<uint8_t> long_block = {0x01, 0x01};
  long_block.resize(40, 0x55);
  seeds["long_block"] = DecodeSeed(100, long_block);

  std::vector<uint8_t> round_trip = {0x01};
  const std::vector<uint8_t> more_text = test::TextBytes(3, 600);
  round_trip.insert(round_trip.end(), more_text.begin(), more_text.end());
  seeds["round_trip_text"] = round_trip;
  return seeds;
}

// Payload seeds are the container after its 32-byte magic.
std::vector<uint8_t> AfterMagic(const std::vector<uint8_t>& container) {
  return std::vector<uint8_t>(container.begin() + 32, container.end());
}

Seeds PayloadSeeds() {
  Seeds seeds;
  PayloadWriterOptions options;
  options.piece_size = 700;
  const std::vector<uint8_t> text = test::TextBytes(4, 1500);
  std::vector<uint8_t> data = test::RandomBytes(5, 300);
  data.insert(data.end(), text.begin(), text.end());
  std::vector<uint8_t> container;
  WritePayload(data.data(), data.size(), options, &container);
  seeds["mixed_pieces"] = AfterMagic(container);
  container.clear();
  WritePayload(nullptr, 0, options, &container);
  seeds["no_pieces"] = AfterMagic(container);
  seeds["negative_count"] = {0xFF, 0xFF, 0xFF, 0xFF};
  seeds["truncated_piece"] = {1, 0, 0, 0, 1, 0x40, 0, 0, 0, 5, 0, 0, 0};
  seeds["stored_pieces"] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 9, 1, 0, 0, 0, 'd'};
  return seeds;
}


TEST(FuzzSeeds, LzwDecodeCorpusMatchesItsGenerator) { test::CheckOrWriteFuzzSeeds(LzwDecodeSeeds(), "lzw_decode"); }

TEST(FuzzSeeds, PayloadCorpusMatchesItsGenerator) { test::CheckOrWriteFuzzSeeds(PayloadSeeds(), "payload"); }

}  // namespace
}  // namespace gp
