#include "codec/lzw_decoder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"
#include "support/test_support.h"

namespace gp {
namespace {

using test::CodeStream;
using test::Frame;
using test::MemorySink;

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;

struct Decoded {
  int result;
  std::vector<uint8_t> bytes;
};

Decoded DecodeBlocks(const std::vector<uint8_t>& blocks, int32_t declared,
                     size_t flush_size = kLzwDefaultFlushSize) {
  MemorySink sink;
  const int result = LzwDecodeToSink(blocks.data(), blocks.size(), declared, &sink, flush_size);
  return {result, sink.bytes};
}

std::vector<uint8_t> Bytes(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

// The width of the code with index i after a clear (or at the start) when every code before
// it was a literal: code i is read once 257 + i entries exist, so it is 10 bits wide from
// i = 255, 11 from 767, 12 from 1791, and stays 12.
unsigned LiteralRunWidth(size_t i) {
  return i < 255 ? 9 : i < 767 ? 10 : i < 1791 ? 11 : 12;
}

// A clear code, then the literals, then the end code: each at the width the format gives.
CodeStream LiteralStream(const std::vector<uint8_t>& literals) {
  CodeStream s;
  s.Put(kClear, 9);
  for (size_t i = 0; i < literals.size(); ++i) s.Put(literals[i], LiteralRunWidth(i));
  s.Put(kEnd, LiteralRunWidth(literals.size()));
  return s;
}

TEST(LzwGolden, BitOrderOfTheFirstBlock) {
  // The codes 256 (clear), 208, 207, 17, 224 at 9 bits pack into 00 A1 3D 8B 00 2E, where
  // the top three bits of 2E are the start of the next code (the literal A1 that follows in
  // a compound file's signature).
  CodeStream s;
  s.Put(kClear, 9).Put(208, 9).Put(207, 9).Put(17, 9).Put(224, 9).Put(0xA1, 9);
  const std::vector<uint8_t> expected_stream = {0x00, 0xA1, 0x3D, 0x8B, 0x00, 0x2E};
  EXPECT_EQ(std::vector<uint8_t>(s.bytes().begin(), s.bytes().begin() + 6), expected_stream);

  // Decoding that block gives D0 CF 11 E0, the start of a compound file. The stream has no
  // end code, so decoding ends with a missing block once its bits run out.
  const Decoded d = DecodeBlocks(Frame(expected_stream, 256), 4);
  EXPECT_EQ(d.result, kLzwBadBlock);
  EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0xD0, 0xCF, 0x11, 0xE0}));
}

TEST(LzwDecode, LeadingClearIsOptional) {
  CodeStream with_clear;
  with_clear.Put(kClear, 9).Put('a', 9).Put('b', 9).Put(258, 9).Put(kEnd, 9);
  CodeStream without_clear;
  without_clear.Put('a', 9).Put('b', 9).Put(258, 9).Put(kEnd, 9);
  const Decoded a = DecodeBlocks(Frame(with_clear.bytes(), 255), 4);
  const Decoded b = DecodeBlocks(Frame(without_clear.bytes(), 255), 4);
  EXPECT_EQ(a.result, kLzwDone);
  EXPECT_EQ(b.result, kLzwDone);
  EXPECT_EQ(a.bytes, Bytes("abab"));
  EXPECT_EQ(b.bytes, a.bytes);
}

TEST(LzwDecode, CodeBeingDefinedIsPreviousStringPlusItsFirstByte) {
  // "aaa": the literal a, then 258 before it exists.
  CodeStream s;
  s.Put(kClear, 9).Put('a', 9).Put(258, 9).Put(kEnd, 9);
  Decoded d = DecodeBlocks(Frame(s.bytes(), 255), 3);
  EXPECT_EQ(d.result, kLzwDone);
  EXPECT_EQ(d.bytes, Bytes("aaa"));

  // Chained: a, 258 (aa), 259 (aaa) once more.
  CodeStream t;
  t.Put(kClear, 9).Put('a', 9).Put(258, 9).Put(259, 9).Put(kEnd, 9);
  d = DecodeBlocks(Frame(t.bytes(), 255), 6);
  EXPECT_EQ(d.result, kLzwDone);
  EXPECT_EQ(d.bytes, Bytes("aaaaaa"));

  // Multi-byte previous string: a, b, 258 (ab, defining 259 = ba), then 260 before it
  // exists = "ab" + "a".
  CodeStream u;
  u.Put(kClear, 9).Put('a', 9).Put('b', 9).Put(258, 9).Put(260, 9).Put(kEnd, 9);
  d = DecodeBlocks(Frame(u.bytes(), 255), 7);
  EXPECT_EQ(d.result, kLzwDone);
  EXPECT_EQ(d.bytes, Bytes("abababa"));
}

TEST(LzwDecode, WidthGrowsAt512And1024And2048AndStaysAt12) {
  for (size_t count : {254, 255, 256, 766, 767, 768, 1790, 1791, 1792, 3838, 3839, 3840, 6000}) {
    const std::vector<uint8_t> literals = test::RandomBytes(static_cast<uint32_t>(count), count);
    const Decoded d = DecodeBlocks(Frame(LiteralStream(literals).bytes(), 255),
                                   static_cast<int32_t>(count));
    EXPECT_EQ(d.result, kLzwDone) << count << " literals";
    EXPECT_EQ(d.bytes, literals) << count << " literals";
  }
}

TEST(LzwDecode, FullDictionaryAddsNothingUntilAClear) {
  // 4000 literals fill the dictionary (entries 258..4095); 4095 is the pair of literals 3837
  // and 3838. With the dictionary full, code 4095 is still readable, nothing new is defined
  // (a code equal to 4096 cannot be written in 12 bits), and after a clear the next code is 9
  // bits wide again with no skipped bits.
  const std::vector<uint8_t> literals = test::RandomBytes(99, 4000);
  CodeStream s;
  s.Put(kClear, 9);
  for (size_t i = 0; i < literals.size(); ++i) s.Put(literals[i], LiteralRunWidth(i));
  s.Put(4095, 12).Put(4095, 12);
  s.Put(kClear, 12).Put('x', 9).Put('y', 9).Put(258, 9).Put(kEnd, 9);
  std::vector<uint8_t> expected = literals;
  for (int k = 0; k < 2; ++k) {
    expected.push_back(literals[3837]);
    expected.push_back(literals[3838]);
  }
  for (char c : std::string("xyxy")) expected.push_back(static_cast<uint8_t>(c));
  const Decoded d = DecodeBlocks(Frame(s.bytes(), 254), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(d.result, kLzwDone);
  EXPECT_EQ(d.bytes, expected);
}

TEST(LzwDecode, CodesCrossingBlockBoundariesDecodeAsInOneBlock) {
  const std::vector<uint8_t> literals = test::RandomBytes(5, 900);
  const std::vector<uint8_t> stream = LiteralStream(literals).bytes();
  for (size_t block : {1, 2, 3, 7, 254, 255, 256}) {
    const Decoded d = DecodeBlocks(Frame(stream, block), 900);
    EXPECT_EQ(d.result, kLzwDone) << "blocks of " << block;
    EXPECT_EQ(d.bytes, literals) << "blocks of " << block;
  }
}

TEST(LzwDecode, BadBlocksEndWithCode3) {
  const std::vector<uint8_t> literals = test::RandomBytes(6, 300);
  const std::vector<uint8_t> stream = LiteralStream(literals).bytes();
  // Zero-length block before the end code: the first block only.
  std::vector<uint8_t> cut = Frame(std::vector<uint8_t>(stream.begin(), stream.begin() + 100), 100);
  EXPECT_EQ(DecodeBlocks(cut, 300).result, kLzwBadBlock);
  // No closing block and no more data: reading past the end of the piece.
  EXPECT_EQ(DecodeBlocks(Frame(std::vector<uint8_t>(stream.begin(), stream.begin() + 100), 100,
                               false),
                         300)
                .result,
            kLzwBadBlock);
  // A block length of 257, 32767 or with the top bit set, where the decoder needs the block.
  for (uint16_t length : {257, 300, 32767, 0x8000, 0xFFFF}) {
    std::vector<uint8_t> blocks = Frame(std::vector<uint8_t>(stream.begin(), stream.begin() + 100), 100,
                                        false);
    blocks.push_back(static_cast<uint8_t>(length));
    blocks.push_back(static_cast<uint8_t>(length >> 8));
    blocks.resize(blocks.size() + 400, 0);
    EXPECT_EQ(DecodeBlocks(blocks, 300).result, kLzwBadBlock) << "length " << length;
  }
  // A block longer than the data that is left.
  std::vector<uint8_t> whole = Frame(stream, 256, false);
  whole.resize(whole.size() - 1);
  EXPECT_EQ(DecodeBlocks(whole, 300).result, kLzwBadBlock);
  // Nothing at all.
  EXPECT_EQ(DecodeBlocks({}, 300).result, kLzwBadBlock);
  // A bad block after the end code is never needed.
  std::vector<uint8_t> good = Frame(stream, 256, false);
  good.push_back(0x01);
  good.push_back(0x80);
  const Decoded d = DecodeBlocks(good, 300);
  EXPECT_EQ(d.result, kLzwDone);
  EXPECT_EQ(d.bytes, literals);
}

TEST(LzwDecode, CodeAboveNextFreeIsCode4) {
  CodeStream s;
  s.Put(kClear, 9).Put('a', 9).Put(260, 9).Put(kEnd, 9);
  EXPECT_EQ(DecodeBlocks(Frame(s.bytes(), 255), 2).result, kLzwBadCode);
  CodeStream t;  // 259 right after a clear
  t.Put(kClear, 9).Put(259, 9).Put(kEnd, 9);
  EXPECT_EQ(DecodeBlocks(Frame(t.bytes(), 255), 2).result, kLzwBadCode);
}

TEST(LzwDecode, NextFreeCodeWithoutPreviousIsCode5) {
  CodeStream s;
  s.Put(kClear, 9).Put(258, 9).Put(kEnd, 9);
  EXPECT_EQ(DecodeBlocks(Frame(s.bytes(), 255), 2).result, kLzwNoPreviousCode);
  CodeStream t;  // also as the very first code, and right after a later clear
  t.Put(258, 9);
  EXPECT_EQ(DecodeBlocks(Frame(t.bytes(), 255), 2).result, kLzwNoPreviousCode);
  CodeStream u;
  u.Put('a', 9).Put('b', 9).Put(kClear, 9).Put(258, 9);
  EXPECT_EQ(DecodeBlocks(Frame(u.bytes(), 255), 2).result, kLzwNoPreviousCode);
}

TEST(LzwDecode, NegativeDeclaredSizeIsCode6AndCreatesNoOutput) {
  CodeStream s;
  s.Put(kClear, 9).Put('a', 9).Put(kEnd, 9);
  MemorySink sink;
  EXPECT_EQ(LzwDecodeToSink(s.bytes().data(), s.bytes().size(), -1, &sink), kLzwNoMemory);
  EXPECT_EQ(sink.writes, 0);

  test::TempDir dir;
  const std::vector<uint8_t> blocks = Frame(s.bytes(), 255);
  EXPECT_EQ(LzwDecode(blocks.data(), blocks.size(), INT32_MIN, dir.Program("out").c_str()),
            kLzwNoMemory);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

class FailingSink : public LzwSink {
 public:
  explicit FailingSink(bool fail_begin) : fail_begin_(fail_begin) {}
  bool Begin() override { return !fail_begin_; }
  bool Write(const uint8_t*, size_t) override { return false; }

 private:
  bool fail_begin_;
};

TEST(LzwDecode, OutputThatCannotBeCreatedOrWrittenIsCode1) {
  const std::vector<uint8_t> literals = test::RandomBytes(8, 600);
  const std::vector<uint8_t> blocks = Frame(LiteralStream(literals).bytes(), 255);
  FailingSink no_begin(true);
  EXPECT_EQ(LzwDecodeToSink(blocks.data(), blocks.size(), 600, &no_begin), kLzwOutputFailed);
  FailingSink no_write(false);
  EXPECT_EQ(LzwDecodeToSink(blocks.data(), blocks.size(), 600, &no_write), kLzwOutputFailed);
  EXPECT_EQ(LzwDecodeToSink(blocks.data(), blocks.size(), 600, &no_write, 256),
            kLzwOutputFailed);

  test::TempDir dir;
  EXPECT_EQ(LzwDecode(blocks.data(), blocks.size(), 600,
                      dir.Program("no such folder/out").c_str()),
            kLzwOutputFailed);
}

TEST(LzwDecode, FileOutputReplacesAnExistingFile) {
  test::TempDir dir;
  test::WriteBytes(dir / "out", std::vector<uint8_t>(5000, 'z'));
  const std::vector<uint8_t> literals = test::RandomBytes(9, 700);
  const std::vector<uint8_t> blocks = Frame(LiteralStream(literals).bytes(), 255);
  EXPECT_EQ(LzwDecode(blocks.data(), blocks.size(), 700, dir.Program("out").c_str()), kLzwDone);
  EXPECT_EQ(test::ReadBytes(dir / "out"), literals);
}

// The chunked output rule, on streams that decode to more or fewer bytes than declared.
TEST(LzwChunkedOutput, OnlyWholeChunksAreWritten) {
  struct Case {
    size_t produced;
    int32_t declared;
    size_t written;
  };
  const Case cases[] = {
      {300, 300, 300},  // exact, not a multiple of 256
      {299, 300, 256},  // one short: the last chunk never completes
      {255, 300, 0},    {550, 600, 512}, {100, 100, 100}, {99, 100, 0},
      {250, 100, 200},  // more than declared: further chunks of the last chunk's size
      {400, 300, 388},  // 256 + 44 + 44 + 44
      {700, 512, 512}, {50, 0, 0}, {1, 1, 1}, {3, 1, 3},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> literals = test::RandomBytes(static_cast<uint32_t>(c.produced), c.produced);
    for (size_t flush : {size_t{256}, kLzwDefaultFlushSize}) {
      const Decoded d = DecodeBlocks(Frame(LiteralStream(literals).bytes(), 255), c.declared, flush);
      EXPECT_EQ(d.result, kLzwDone);
      ASSERT_EQ(d.bytes.size(), c.written) << c.produced << " of " << c.declared;
      EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), literals.begin()));
      EXPECT_EQ(LzwWrittenLength(c.declared, c.produced), c.written);
    }
  }
}

TEST(LzwChunkedOutput, ChunksWrittenBeforeAnErrorStay) {
  const std::vector<uint8_t> literals = test::RandomBytes(10, 600);
  // 520 literals, then a code above the next free one instead of the end code.
  CodeStream t;
  t.Put(kClear, 9);
  for (size_t i = 0; i < 520; ++i) t.Put(literals[i], LiteralRunWidth(i));
  t.Put(4000, LiteralRunWidth(520));
  const Decoded d = DecodeBlocks(Frame(t.bytes(), 255), 600);
  EXPECT_EQ(d.result, kLzwBadCode);
  EXPECT_EQ(d.bytes, std::vector<uint8_t>(literals.begin(), literals.begin() + 512));
}

// The chunk count as the format's first decoders kept it: a 16-bit signed counter compared
// with the chunk count minus one. Returns the bytes that rule writes.
uint64_t SixteenBitRuleWrittenLength(int32_t declared, uint64_t produced) {
  if (declared <= 0) return 0;
  const int64_t chunks = declared / 256 + (declared % 256 != 0 ? 1 : 0);
  uint64_t chunk = static_cast<uint64_t>(std::min<int32_t>(declared, 256));
  int16_t count = 0;
  uint64_t written = 0;
  while (written + chunk <= produced) {
    written += chunk;
    count = static_cast<int16_t>(count + 1);
    if (count == chunks - 1 && declared % 256 != 0) chunk = static_cast<uint64_t>(declared % 256);
  }
  return written;
}

TEST(LzwChunkedOutput, SameAsSixteenBitCounterWhereverThatCounterWorked) {
  for (int32_t declared : {1, 2, 255, 256, 257, 511, 512, 513, 70000, 8388352, 8388607,
                           8388608, 8388608 + 256 * 40}) {
    for (int64_t delta : {-300, -257, -256, -1, 0, 1, 255, 256, 1000}) {
      const int64_t produced = declared + delta;
      if (produced < 0) continue;
      EXPECT_EQ(LzwWrittenLength(declared, static_cast<uint64_t>(produced)),
                SixteenBitRuleWrittenLength(declared, static_cast<uint64_t>(produced)))
          << declared << " declared, " << produced << " produced";
    }
  }
}

TEST(LzwChunkedOutput, PiecesBeyond8388607BytesKeepTheirTail) {
  // 32,769 chunks: a 16-bit signed count never reaches 32,768, so that rule drops the last
  // 100 bytes. Counting in full width writes them.
  const int32_t declared = 8388608 + 100;
  EXPECT_EQ(SixteenBitRuleWrittenLength(declared, declared), 8388608u);
  EXPECT_EQ(LzwWrittenLength(declared, declared), static_cast<uint64_t>(declared));
  EXPECT_EQ(LzwWrittenLength(INT32_MAX, INT32_MAX), static_cast<uint64_t>(INT32_MAX));
}

}  // namespace
}  // namespace gp
