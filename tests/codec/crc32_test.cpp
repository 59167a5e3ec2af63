#include "codec/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "codec_test_util.h"
#include "support/test_support.h"

namespace gp {
namespace {

// One bit at a time, straight from the polynomial: the reference for every table entry.
uint32_t BitwiseCrc(uint32_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

TEST(Crc32Golden, AbcAndKnownTableEntries) {
  EXPECT_EQ(Crc32Update(0, "abc", 3), 0xCA6598D0u);
  const uint32_t* table = crc32::Table();
  EXPECT_EQ(table[1], 0x77073096u);
  EXPECT_EQ(table[128], 0xEDB88320u);
  EXPECT_EQ(table[255], 0x2D02EF8Du);
}

TEST(Crc32Golden, EveryTableEntryMatchesBitAtATimeReference) {
  const uint32_t* table = crc32::Table();
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t byte = static_cast<uint8_t>(i);
    EXPECT_EQ(table[i], BitwiseCrc(0, &byte, 1)) << "entry " << i;
  }
}

TEST(Crc32Update, NonPositiveLengthLeavesChecksumUnchanged) {
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(Crc32Update(0x12345678u, data, 0), 0x12345678u);
  EXPECT_EQ(Crc32Update(0x12345678u, data, -5), 0x12345678u);
}

// Every variant this machine runs, against the byte-wise table, on every length from 0 to
// 4096 and at unaligned starts, from a nonzero running checksum.
TEST(Crc32Update, FastVariantsEqualBytewiseForEveryLengthAndAlignment) {
  const std::vector<uint8_t> buffer = test::RandomBytes(20240601, 4096 + 64);
  const bool clmul = crc32::ClmulAvailable();
  const bool wide = crc32::WideClmulAvailable();
  for (size_t offset : {0, 1, 3, 7, 13}) {
    for (size_t length = 0; length <= 4096; ++length) {
      const uint8_t* p = buffer.data() + offset;
      const uint32_t start = static_cast<uint32_t>(length * 2654435761u);
      const uint32_t expected = crc32::UpdateBytewise(start, p, length);
      ASSERT_EQ(Crc32Update(start, p, static_cast<int64_t>(length)), expected)
          << "length " << length << " offset " << offset;
      ASSERT_EQ(crc32::UpdateSlicing16(start, p, length), expected) << "length " << length;
      if (clmul) {
        ASSERT_EQ(crc32::UpdateClmul(start, p, length), expected) << "length " << length;
      }
      if (wide) {
        ASSERT_EQ(crc32::UpdateClmulWide(start, p, length), expected) << "length " << length;
      }
    }
  }
}

TEST(Crc32Update, SplittingTheInputGivesTheSameChecksum) {
  const std::vector<uint8_t> data = test::RandomBytes(7, 100000);
  const uint32_t whole = Crc32Update(0, data.data(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(whole, crc32::UpdateBytewise(0, data.data(), data.size()));
  for (size_t cut : {1, 15, 16, 127, 4096, 65537}) {
    const uint32_t first = Crc32Update(0, data.data(), static_cast<int64_t>(cut));
    EXPECT_EQ(Crc32Update(first, data.data() + cut, static_cast<int64_t>(data.size() - cut)),
              whole)
        << "cut " << cut;
  }
}

class FileCrc32Test : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(FileCrc32Test, MissingEmptyAndSmallFiles) {
  EXPECT_EQ(FileCrc32(dir_.Program("missing.bin").c_str()), 0u);
  test::WriteBytes(dir_ / "empty.bin", {});
  EXPECT_EQ(FileCrc32(dir_.Program("empty.bin").c_str()), 0xFFFFFFFFu);
  test::WriteBytes(dir_ / "abc.txt", {'a', 'b', 'c'});
  EXPECT_EQ(FileCrc32(dir_.Program("abc.txt").c_str()), 0xCA6598D0u);
  // A folder cannot be read as a file.
  EXPECT_EQ(FileCrc32(dir_.Program().c_str()), 0u);
  EXPECT_EQ(FileCrc32(nullptr), 0u);
}

TEST_F(FileCrc32Test, FilesLargerThanOneChunkEqualTheChecksumInOneBuffer) {
  for (size_t size : {size_t{4} << 20, (size_t{4} << 20) + 1, (size_t{9} << 20) + 12345}) {
    const std::vector<uint8_t> data = test::RandomBytes(static_cast<uint32_t>(size), size);
    test::WriteBytes(dir_ / "big.bin", data);
    EXPECT_EQ(FileCrc32(dir_.Program("big.bin").c_str()),
              crc32::UpdateBytewise(0, data.data(), data.size()))
        << "size " << size;
  }
}

TEST_F(FileCrc32Test, FileMatchesCrc) {
  test::WriteBytes(dir_ / "abc.txt", {'a', 'b', 'c'});
  EXPECT_TRUE(FileMatchesCrc(dir_.Program("abc.txt").c_str(), 0xCA6598D0u));
  EXPECT_FALSE(FileMatchesCrc(dir_.Program("abc.txt").c_str(), 0xCA6598D1u));
  // A missing file never matches, not even the 0 that an unreadable file yields.
  EXPECT_FALSE(FileMatchesCrc(dir_.Program("missing.bin").c_str(), 0));
  EXPECT_FALSE(FileMatchesCrc(dir_.Program("missing.bin").c_str(), 0xFFFFFFFFu));
  EXPECT_FALSE(FileMatchesCrc("", 0));
  test::WriteBytes(dir_ / "empty.bin", {});
  EXPECT_TRUE(FileMatchesCrc(dir_.Program("empty.bin").c_str(), 0xFFFFFFFFu));
}

}  // namespace
}  // namespace gp
