#include <gtest/gtest.h>

#include "base/endian.h"
#include "codec/lzw_decoder.h"
#include "codec/lzw_encoder.h"
#include "codec_test_util.h"

namespace gp {
namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;

// Reads back the codes of an encoded block sequence, following the width rule, and checks
// the framing on the way: blocks of block_length bytes, the last one shorter, then the
// closing zero-length block as the very last bytes.
struct CodeListing {
  std::vector<uint32_t> codes;
  // For each code, the decoder's next free code when it was read.
  std::vector<uint32_t> next_free;
};

::testing::AssertionResult ListCodes(const std::vector<uint8_t>& blocks, size_t block_length,
                                     CodeListing* listing) {
  std::vector<uint8_t> stream;
  size_t at = 0;
  for (;;) {
    if (blocks.size() - at < 2) return ::testing::AssertionFailure() << "no closing block";
    const uint16_t n = LoadU16(blocks.data() + at);
    at += 2;
    if (n == 0) break;
    if (n > block_length || blocks.size() - at < n) {
      return ::testing::AssertionFailure() << "bad block length " << n;
    }
    if (n != block_length && blocks.size() - at - n != 2) {
      return ::testing::AssertionFailure() << "short block " << n << " before the last";
    }
    stream.insert(stream.end(), blocks.begin() + static_cast<ptrdiff_t>(at),
                  blocks.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
  }
  if (at != blocks.size()) return ::testing::AssertionFailure() << "bytes after the close";

  uint64_t bit = 0;
  uint32_t next = 258;
  bool have_previous = false;
  for (;;) {
    const unsigned width = next < 512 ? 9 : next < 1024 ? 10 : next < 2048 ? 11 : 12;
    if (bit + width > stream.size() * 8) return ::testing::AssertionFailure() << "no end code";
    uint32_t code = 0;
    for (unsigned j = 0; j < width; ++j, ++bit) {
      code |= static_cast<uint32_t>((stream[bit / 8] >> (bit % 8)) & 1) << j;
    }
    listing->codes.push_back(code);
    listing->next_free.push_back(next);
    if (code == kEnd) break;
    if (code == kClear) {
      next = 258;
      have_previous = false;
    } else {
      if (have_previous && next < 4096) ++next;
      have_previous = true;
    }
  }
  if ((bit + 7) / 8 != stream.size()) return ::testing::AssertionFailure() << "bytes after end";
  return ::testing::AssertionSuccess();
}

void ExpectRoundTrip(const std::vector<uint8_t>& data, LzwClearPolicy policy,
                     const char* what) {
  LzwEncodeOptions options;
  options.clear_policy = policy;
  std::vector<uint8_t> blocks;
  ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), options, &blocks));
  CodeListing listing;
  ASSERT_TRUE(ListCodes(blocks, options.block_length, &listing)) << what;
  EXPECT_EQ(listing.codes.front(), kClear) << what;

  test::MemorySink sink;
  ASSERT_EQ(LzwDecodeToSink(blocks.data(), blocks.size(), static_cast<int32_t>(data.size()),
                            &sink),
            kLzwDone)
      << what;
  ASSERT_EQ(sink.bytes.size(), data.size()) << what;
  EXPECT_TRUE(sink.bytes == data) << what;
}

const LzwClearPolicy kPolicies[] = {LzwClearPolicy::kWhenFull, LzwClearPolicy::kWhenRatioFalls};

TEST(LzwRoundTrip, SmallSizes) {
  for (LzwClearPolicy policy : kPolicies) {
    ExpectRoundTrip({}, policy, "empty");
    for (size_t n : {1, 2, 3, 255, 256, 257}) {
      ExpectRoundTrip(test::TextBytes(static_cast<uint32_t>(n), n), policy, "text");
      ExpectRoundTrip(test::RandomBytes(static_cast<uint32_t>(n), n), policy, "random");
      ExpectRoundTrip(std::vector<uint8_t>(n, 'q'), policy, "one byte repeated");
    }
  }
}

TEST(LzwRoundTrip, TextRandomAndRepetitiveData) {
  for (LzwClearPolicy policy : kPolicies) {
    ExpectRoundTrip(test::TextBytes(1, 70000), policy, "70,000 bytes of text");
    ExpectRoundTrip(test::RandomBytes(2, 3000000), policy, "3 MB random");
    ExpectRoundTrip(test::RepetitiveBytes(3, 20000000), policy, "20 MB repetitive");
  }
}

TEST(LzwRoundTrip, EncoderClearsEachTimeTheDictionaryFills) {
  const std::vector<uint8_t> data = test::RandomBytes(11, 200000);
  std::vector<uint8_t> blocks;
  LzwEncodeOptions options;
  options.clear_policy = LzwClearPolicy::kWhenFull;
  ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), options, &blocks));
  CodeListing listing;
  ASSERT_TRUE(ListCodes(blocks, options.block_length, &listing));
  size_t clears = 0;
  for (size_t i = 0; i < listing.codes.size(); ++i) {
    if (listing.codes[i] == kClear) ++clears;
    // The last entry is defined by the code before the clear: the decoder never reads a
    // code with a full dictionary.
    EXPECT_LT(listing.next_free[i], 4096u) << "code " << i;
    if (listing.next_free[i] == 4095) {
      EXPECT_EQ(listing.codes[i], kClear) << "code " << i;
    }
  }
  EXPECT_GT(clears, 10u);
}

TEST(LzwRoundTrip, RatioPolicyCodesWithAFullDictionary) {
  // Text whose vocabulary changes halfway: the full dictionary serves the first half, then the
  // ratio falls and a clear follows.
  std::vector<uint8_t> data = test::TextBytes(12, 400000);
  for (size_t i = 200000; i < data.size(); ++i) data[i] = static_cast<uint8_t>(data[i] ^ 0x55);
  LzwEncodeOptions options;
  options.clear_policy = LzwClearPolicy::kWhenRatioFalls;
  std::vector<uint8_t> blocks;
  ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), options, &blocks));
  CodeListing listing;
  ASSERT_TRUE(ListCodes(blocks, options.block_length, &listing));
  size_t full = 0;
  size_t clears = 0;
  for (size_t i = 0; i < listing.codes.size(); ++i) {
    if (listing.next_free[i] == 4096) ++full;
    if (i > 0 && listing.codes[i] == kClear) ++clears;
  }
  EXPECT_GT(full, 1000u);
  EXPECT_GE(clears, 1u);
  ExpectRoundTrip(data, LzwClearPolicy::kWhenRatioFalls, "changing text");
}

TEST(LzwRoundTrip, BlockLengthsAndDeterminism) {
  const std::vector<uint8_t> data = test::TextBytes(13, 50000);
  for (uint32_t block_length : {1u, 254u, 255u, 256u}) {
    LzwEncodeOptions options;
    options.block_length = block_length;
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), options, &first));
    ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), options, &second));
    EXPECT_EQ(first, second);
    CodeListing listing;
    EXPECT_TRUE(ListCodes(first, block_length, &listing)) << block_length;
    test::MemorySink sink;
    EXPECT_EQ(LzwDecodeToSink(first.data(), first.size(), 50000, &sink), kLzwDone);
    EXPECT_TRUE(sink.bytes == data);
  }
  LzwEncodeOptions bad;
  std::vector<uint8_t> out;
  bad.block_length = 0;
  EXPECT_FALSE(LzwEncodeBlocks(data.data(), data.size(), bad, &out));
  bad.block_length = 257;
  EXPECT_FALSE(LzwEncodeBlocks(data.data(), data.size(), bad, &out));
  EXPECT_TRUE(out.empty());
}

TEST(LzwRoundTrip, SmallFlushSizesRebuildStringsThatLeftTheBuffer) {
  // With the smallest flush size the decoder keeps only a few KiB of output, so most
  // dictionary strings are rebuilt from prefix and suffix instead of copied.
  const std::vector<uint8_t> data = test::TextBytes(14, 1000000);
  std::vector<uint8_t> blocks;
  ASSERT_TRUE(LzwEncodeBlocks(data.data(), data.size(), LzwEncodeOptions{}, &blocks));
  for (size_t flush : {size_t{1}, size_t{256}, size_t{5000}, size_t{65536}}) {
    test::MemorySink sink;
    EXPECT_EQ(LzwDecodeToSink(blocks.data(), blocks.size(), 1000000, &sink, flush), kLzwDone);
    EXPECT_TRUE(sink.bytes == data) << "flush size " << flush;
    EXPECT_GT(sink.writes, 1) << "flush size " << flush;
  }
}

TEST(LzwRoundTrip, PieceDataCarriesTheDeclaredSize) {
  const std::vector<uint8_t> data = test::TextBytes(15, 1234);
  std::vector<uint8_t> piece = {0xEE};
  ASSERT_TRUE(LzwEncodePiece(data.data(), data.size(), LzwEncodeOptions{}, &piece));
  EXPECT_EQ(piece[0], 0xEE);  // appended, not replaced
  EXPECT_EQ(LoadU32(piece.data() + 1), 1234u);
  test::MemorySink sink;
  EXPECT_EQ(LzwDecodeToSink(piece.data() + 5, piece.size() - 5, 1234, &sink), kLzwDone);
  EXPECT_TRUE(sink.bytes == data);
}

}  // namespace
}  // namespace gp
