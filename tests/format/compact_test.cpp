#include <gtest/gtest.h>

#include "format/compact.h"
#include "format/trailer.h"

namespace gp::format {
namespace {

TEST(CompactVarint, WorkedExamplesAndLimits) {
  std::vector<uint8_t> out;
  AppendVarint(300, &out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xAC, 0x02}));
  uint64_t v = 0;
  EXPECT_EQ(ParseVarint(out.data(), out.size(), &v), 2u);
  EXPECT_EQ(v, 300u);
  out.clear();
  AppendVarint(~uint64_t{0}, &out);
  EXPECT_EQ(out.size(), kMaxVarintSize);
  EXPECT_EQ(ParseVarint(out.data(), out.size(), &v), kMaxVarintSize);
  EXPECT_EQ(v, ~uint64_t{0});
  out.back() = 0x02;  // a 65th bit
  EXPECT_EQ(ParseVarint(out.data(), out.size(), &v), 0u);
  const uint8_t cut[] = {0x80, 0x80};
  EXPECT_EQ(ParseVarint(cut, sizeof cut, &v), 0u);
  EXPECT_EQ(ZigZag(-5), 9u);
  EXPECT_EQ(UnZigZag(9), -5);
  EXPECT_EQ(UnZigZag(ZigZag(INT64_MIN)), INT64_MIN);
}

TEST(CompactTrailer, PlacesHeaderAndPayloadAndIsRefusedByTheClassicReading) {
  std::vector<uint8_t> file(100, 0);  // 60 bytes of program image, 30 of payload, 10 of header
  const std::vector<uint8_t> trailer = CompactTrailer(30, 10, 0x11223344, 0x55667788);
  ASSERT_EQ(trailer.size(), kCompactTrailerSize);
  file.insert(file.end(), trailer.begin(), trailer.end());
  CompactLayout layout;
  ASSERT_EQ(ReadCompactTrailer(file, file.size(), &layout), CompactTrailerStatus::kOk);
  EXPECT_EQ(layout.header_offset, 90u);
  EXPECT_EQ(layout.payload_offset, 60u);
  EXPECT_EQ(layout.payload_crc, 0x11223344u);
  EXPECT_EQ(layout.header_crc, 0x55667788u);
  PackageLayout classic;
  EXPECT_EQ(ReadTrailer(PackageForm::kExecutable, file, file.size(), &classic),
            TrailerStatus::kBadMagic);
  EXPECT_EQ(ReadTrailer(PackageForm::kDataFile, file, file.size(), &classic),
            TrailerStatus::kBadMagic);

  const std::vector<uint8_t> too_long = CompactTrailer(91, 10, 0, 0);
  std::vector<uint8_t> bad(100, 0);
  bad.insert(bad.end(), too_long.begin(), too_long.end());
  EXPECT_EQ(ReadCompactTrailer(bad, bad.size(), &layout), CompactTrailerStatus::kDamaged);
  const std::vector<uint8_t> classic_tail = ExecutableTrailer(1, 2);
  EXPECT_EQ(ReadCompactTrailer(classic_tail, 100, &layout), CompactTrailerStatus::kNotCompact);
}

TEST(CompactDiffHeader, SectionsMustTileTheStream) {
  CompactDiffHeader h;
  h.new_size = 7;
  h.length[kControlSection] = 3;
  h.length[kDifferenceSection] = 2;
  h.length[kLiteralSection] = 4;
  std::vector<uint8_t> bytes;
  AppendEntryHeader(EntryHeader(), &bytes);
  AppendCompactDiffHeader(h, &bytes);
  ASSERT_EQ(bytes.size(), kCompactDiffHeaderSize);
  CompactDiffHeader read;
  ASSERT_TRUE(ParseCompactDiffHeader(bytes.data(), bytes.size(), 69, &read));
  EXPECT_EQ(read.offset[kDifferenceSection], 63u);
  EXPECT_EQ(read.offset[kLiteralSection], 65u);
  EXPECT_FALSE(ParseCompactDiffHeader(bytes.data(), bytes.size(), 68, &read));
  EXPECT_FALSE(ParseCompactDiffHeader(bytes.data(), bytes.size(), 70, &read));
  bytes[kCompactDiffMagicOffset] = 'X';
  EXPECT_FALSE(ParseCompactDiffHeader(bytes.data(), bytes.size(), 69, &read));
}

}  // namespace
}  // namespace gp::format
