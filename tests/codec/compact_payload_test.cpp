#include <gtest/gtest.h>

#include <random>

#include "codec/compact_payload.h"
#include "codec/compact_payload_writer.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

class CompactPayload : public ::testing::Test {
 protected:
  // Writes the payload behind a 10-byte prefix and expands it; the result, or nothing.
  bool Expand(const std::vector<uint8_t>& payload, uint32_t crc, std::vector<uint8_t>* out) {
    std::vector<uint8_t> file(10, 'P');
    file.insert(file.end(), payload.begin(), payload.end());
    const fs::path path = dir_ / "package";
    test::WriteBytes(path, file);
    OwnedString result;
    if (!ExpandCompactPayload(test::ProgramPath(path).c_str(), 10, payload.size(), crc, &result)) {
      EXPECT_TRUE(temp_.Files().empty());
      return false;
    }
    std::string host;
    EXPECT_TRUE(platform::ProgramToHostPath(result.c_str(), &host));
    const fs::path docfile(std::u8string(host.begin(), host.end()));
    *out = test::ReadBytes(docfile);
    fs::remove(docfile);
    return true;
  }
  test::TempFolderScope temp_;
  test::TempDir dir_;
};

TEST_F(CompactPayload, RoundTripsAndRefusesEveryDamage) {
  std::vector<uint8_t> docfile;
  for (uint32_t i = 0; i < 100000; ++i) docfile.push_back(static_cast<uint8_t>((i * i) >> 7));
  const std::vector<uint8_t> payload = gp::CompactPayload(docfile.data(), docfile.size());
  ASSERT_GT(payload.size(), format::kCompactPiecesOffset);
  const uint32_t crc = Crc32Update(0, payload.data(), static_cast<int64_t>(payload.size()));
  std::vector<uint8_t> out;
  ASSERT_TRUE(Expand(payload, crc, &out));
  EXPECT_EQ(out, docfile);

  EXPECT_FALSE(Expand(payload, crc ^ 1, &out));
  std::vector<uint8_t> cut(payload.begin(), payload.end() - 1);
  EXPECT_FALSE(Expand(cut, Crc32Update(0, cut.data(), static_cast<int64_t>(cut.size())), &out));
  // A flipped bit with the payload checksum made to match: the piece's own checksum or the
  // deflate stream catches it.
  for (size_t at : {size_t{13}, size_t{30}, payload.size() / 2}) {
    std::vector<uint8_t> bad = payload;
    bad[at] ^= 0x08;
    EXPECT_FALSE(Expand(bad, Crc32Update(0, bad.data(), static_cast<int64_t>(bad.size())), &out))
        << at;
  }
}

// Stretches that hardly compress go into stored blocks, the others are compressed, in one
// stream. The middle part is random bytes of 240 values: Huffman coding would take about 0.8 %
// off it (7.93 bits a byte), stored it costs 5 bytes a block of 65,535 bytes.
TEST_F(CompactPayload, StretchesThatHardlyCompressAreStored) {
  std::mt19937 rng(3);
  std::vector<uint8_t> docfile;
  auto text = [&] {
    for (uint32_t i = 0; i < 200000; ++i) docfile.push_back(static_cast<uint8_t>('a' + i % 7 * (i % 3)));
  };
  text();
  const size_t skewed_size = 300000;
  for (size_t i = 0; i < skewed_size; ++i) {
    docfile.push_back(static_cast<uint8_t>(rng() % 240));
  }
  text();
  const std::vector<uint8_t> payload = gp::CompactPayload(docfile.data(), docfile.size());
  EXPECT_GE(payload.size(), skewed_size);
  EXPECT_LT(payload.size(), skewed_size + 4000);  // and the text shrinks to little
  std::vector<uint8_t> out;
  ASSERT_TRUE(Expand(payload, Crc32Update(0, payload.data(), static_cast<int64_t>(payload.size())),
                     &out));
  EXPECT_EQ(out, docfile);
}

}  // namespace
}  // namespace gp
