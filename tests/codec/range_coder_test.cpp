#include "codec/range_coder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace gp::codec {
namespace {

// Bits drawn with the probability they are coded with, including the extremes 1 and 4095
// (and bits that contradict them), decode exactly and use up exactly the bytes written.
TEST(RangeCoder, RoundTripUsesUpExactlyTheBytesWritten) {
  std::mt19937 rng(11);
  std::vector<std::pair<int, int>> bits;
  for (int i = 0; i < 200000; ++i) {
    const int kind = static_cast<int>(rng() % 4);
    const int p = kind == 0 ? 1 : kind == 1 ? kProbabilityOne - 1 : 1 + static_cast<int>(rng() % 4095);
    bits.emplace_back(static_cast<int>(rng() % 4096) < p ? 1 : 0, p);
  }
  std::vector<uint8_t> bytes;
  BitEncoder encoder(&bytes);
  for (const auto& [bit, p] : bits) encoder.Code(bit, p);
  encoder.Finish();

  CoderInput input{bytes.data(), bytes.data() + bytes.size()};
  BitDecoder decoder(&input);
  decoder.Start();
  for (const auto& [bit, p] : bits) ASSERT_EQ(decoder.Code(0, p), bit);
  EXPECT_TRUE(input.UsedUp());

  // One byte short: the decoder reads past the end, which is reported.
  CoderInput cut{bytes.data(), bytes.data() + bytes.size() - 1};
  BitDecoder short_decoder(&cut);
  short_decoder.Start();
  for (const auto& [bit, p] : bits) short_decoder.Code(0, p);
  EXPECT_TRUE(cut.overrun);
  EXPECT_FALSE(cut.UsedUp());
}

}  // namespace
}  // namespace gp::codec
