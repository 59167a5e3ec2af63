#include "codec/deflate_encoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace gp {
namespace {

// Inflates a raw deflate stream with zlib; expected_size bounds the output. Empty on error or
// when the stream does not end exactly at the end of the input.
bool Inflate(const std::vector<uint8_t>& stream, size_t expected_size, std::vector<uint8_t>* out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  out->assign(expected_size + 1, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  const int status = inflate(&z, Z_FINISH);
  const bool ok = status == Z_STREAM_END && z.avail_in == 0;
  out->resize(z.total_out);
  inflateEnd(&z);
  return ok;
}

std::vector<uint8_t> CompressAll(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  DeflateEncoder encoder(&out);
  encoder.Compress(data.data(), 0, data.size(), true);
  encoder.Finish();
  return out;
}

void ExpectRoundTrip(const std::vector<uint8_t>& data, const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> back;
  ASSERT_TRUE(Inflate(stream, data.size(), &back));
  EXPECT_TRUE(back == data) << "size " << data.size() << " inflated " << back.size();
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Program-like bytes: words from a small vocabulary with varying numbers in between.
std::vector<uint8_t> ProgramLike(size_t n, uint32_t seed) {
  static const char* const kWords[] = {
      "function ", "return ", "const ", "this.",          "if (",       ") {\n",
      "}\n",       "else ",   "value",  "index",          " = ",        ";\n",
      "null",      "length",  "push(",  "module.exports", "require(\"", "\")"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    const std::string w = kWords[rng() % std::size(kWords)];
    v.insert(v.end(), w.begin(), w.end());
    if (rng() % 4 == 0) {
      const std::string num = std::to_string(rng() % 5000);
      v.insert(v.end(), num.begin(), num.end());
    }
  }
  v.resize(n);
  return v;
}

TEST(DeflateEncoder, RoundTripsSmallInputs) {
  ExpectRoundTrip({}, CompressAll({}));
  ExpectRoundTrip({42}, CompressAll({42}));
  std::vector<uint8_t> all(256);
  for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  ExpectRoundTrip(all, CompressAll(all));
  ExpectRoundTrip({7, 7, 7, 7}, CompressAll({7, 7, 7, 7}));
}

TEST(DeflateEncoder, RoundTripsRunsTextAndRandomBytes) {
  const std::vector<uint8_t> run(1000000, 0xAA);
  const std::vector<uint8_t> packed = CompressAll(run);
  ExpectRoundTrip(run, packed);
  EXPECT_LT(packed.size(), 2000u);
  const std::vector<uint8_t> text = ProgramLike(300000, 1);
  ExpectRoundTrip(text, CompressAll(text));
  const std::vector<uint8_t> random = Random(200000, 2);
  const std::vector<uint8_t> random_packed = CompressAll(random);
  ExpectRoundTrip(random, random_packed);
  EXPECT_LT(random_packed.size(), random.size() + random.size() / 1000);
}

// Repeats at the farthest distance, of the longest length and one more.
TEST(DeflateEncoder, RoundTripsMatchesAtTheLimits) {
  for (size_t len : {size_t{258}, size_t{259}, size_t{1000}}) {
    std::vector<uint8_t> data = Random(32768, 3);
    data.insert(data.end(), data.begin(), data.begin() + static_cast<ptrdiff_t>(len));
    const std::vector<uint8_t> packed = CompressAll(data);
    ExpectRoundTrip(data, packed);
    EXPECT_LT(packed.size(), 32768u + 200) << len;
  }
}

// Several calls in one stream: the later ones reach into the earlier ones' bytes.
TEST(DeflateEncoder, RoundTripsCallsThatShareHistory) {
  std::vector<uint8_t> data = Random(20000, 4);
  const std::vector<uint8_t> copy = data;
  data.insert(data.end(), copy.begin(), copy.end());
  const std::vector<uint8_t> text = ProgramLike(50000, 5);
  data.insert(data.end(), text.begin(), text.end());
  std::vector<uint8_t> out;
  DeflateEncoder encoder(&out);
  encoder.Compress(data.data(), 0, 20000, false);
  encoder.Compress(data.data(), 20000, 40000, false);
  encoder.Store(data.data(), 40000, 40010, false);
  encoder.Compress(data.data(), 40010, data.size(), true);
  encoder.Finish();
  ExpectRoundTrip(data, out);
  // The second 20,000 bytes repeat the first: a few matches, not another 20,000 bytes.
  EXPECT_LT(out.size(), 20000u + 20000);
}

TEST(DeflateEncoder, RoundTripsStoredBlocksAndManyBlocks) {
  const std::vector<uint8_t> random = Random(150000, 6);
  std::vector<uint8_t> out;
  DeflateEncoder encoder(&out);
  encoder.Store(random.data(), 0, random.size(), true);
  encoder.Finish();
  EXPECT_EQ(out.size(), random.size() + 3 * 5);
  ExpectRoundTrip(random, out);
  const std::vector<uint8_t> text = ProgramLike(600000, 7);
  ExpectRoundTrip(text, CompressAll(text));
}

size_t ZlibBestSize(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(data.size())));
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  const size_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

TEST(DeflateEncoder, SmallerThanZlibsBestLevel) {
  const std::vector<uint8_t> text = ProgramLike(400000, 8);
  const size_t zlib_size = ZlibBestSize(text);
  const std::vector<uint8_t> ours = CompressAll(text);
  ExpectRoundTrip(text, ours);
  EXPECT_LT(ours.size(), zlib_size - zlib_size / 50) << "zlib " << zlib_size;
}

// Random text of two letters: a literal costs a whole bit at least, so matches pay even
// where the letters' information content (one bit each) says they do not.
TEST(DeflateEncoder, TwoLetterTextSmallerThanZlibsBestLevel) {
  std::vector<uint8_t> text = Random(60000, 9);
  for (uint8_t& b : text) b = 'a' + (b & 1);
  const size_t zlib_size = ZlibBestSize(text);
  const std::vector<uint8_t> ours = CompressAll(text);
  ExpectRoundTrip(text, ours);
  EXPECT_LT(ours.size(), zlib_size) << "zlib " << zlib_size;
}

}  // namespace
}  // namespace gp
