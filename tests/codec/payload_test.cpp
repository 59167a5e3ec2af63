#include <gtest/gtest.h>

#include <algorithm>

#include "base/endian.h"
#include "base/texts.h"
#include "codec/lzw_encoder.h"
#include "codec/payload_expander.h"
#include "codec/payload_writer.h"
#include "platform/platform.h"
#include "codec_test_util.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

// A container assembled piece by piece, for inputs the writer would never produce.
class ContainerBuilder {
 public:
  ContainerBuilder() {
    bytes_.assign(texts::kPayloadMagic, texts::kPayloadMagic + texts::kPayloadMagicSize);
    bytes_.resize(bytes_.size() + 4);
  }
  ContainerBuilder& Count(int32_t count) {
    StoreU32(bytes_.data() + 32, static_cast<uint32_t>(count));
    return *this;
  }
  ContainerBuilder& Piece(uint8_t method, const std::vector<uint8_t>& data) {
    bytes_.push_back(method);
    uint8_t length[4];
    StoreU32(length, static_cast<uint32_t>(data.size()));
    bytes_.insert(bytes_.end(), length, length + 4);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    ++pieces_;
    return Count(pieces_);
  }
  // Compressed piece data: declared size, then the blocks.
  ContainerBuilder& Compressed(int32_t declared, const std::vector<uint8_t>& blocks) {
    std::vector<uint8_t> data(4);
    StoreU32(data.data(), static_cast<uint32_t>(declared));
    data.insert(data.end(), blocks.begin(), blocks.end());
    return Piece(1, data);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int32_t pieces_ = 0;
};

std::vector<uint8_t> EncodedBlocks(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> blocks;
  EXPECT_TRUE(LzwEncodeBlocks(data.data(), data.size(), LzwEncodeOptions{}, &blocks));
  return blocks;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class PayloadTest : public ::testing::Test {
 protected:
  // Expands bytes written to a file in the work folder. On success *out holds the result.
  int Expand(const std::vector<uint8_t>& container, int keep_input, std::vector<uint8_t>* out) {
    test::WriteBytes(work_ / "payload.bin", container);
    OwnedString result;
    const std::string input = work_.Program("payload.bin");
    const int ok = ExpandPayload(input.c_str(), &result, keep_input);
    if (ok == 0) {
      EXPECT_TRUE(result.empty());
      return ok;
    }
    if (keep_input != 0) {
      EXPECT_FALSE(result.empty());
      std::string host;
      EXPECT_TRUE(platform::ProgramToHostPath(result.c_str(), &host));
      *out = test::ReadBytes(test::PathFromUtf8(host));
      EXPECT_EQ(test::ReadBytes(work_ / "payload.bin"), container);
      EXPECT_EQ(temp_.Files().size(), 1u);  // only the result
    } else {
      EXPECT_TRUE(result.empty());
      *out = test::ReadBytes(work_ / "payload.bin");
      EXPECT_TRUE(temp_.Files().empty());
    }
    return ok;
  }

  // A container that must fail: the temporary folder ends empty and the input unchanged.
  void ExpectFailure(const std::vector<uint8_t>& container, const char* what) {
    for (int keep : {0, 1}) {
      std::vector<uint8_t> out;
      EXPECT_EQ(Expand(container, keep, &out), 0) << what;
      EXPECT_TRUE(temp_.Files().empty()) << what;
      EXPECT_EQ(test::ReadBytes(work_ / "payload.bin"), container) << what;
    }
  }

  test::TempFolderScope temp_;
  test::TempDir work_;
};

TEST_F(PayloadTest, WriterOutputExpandsInBothModes) {
  const std::vector<uint8_t> data = Concat({test::TextBytes(1, 70000), test::RandomBytes(2, 5000),
                                            test::RepetitiveBytes(3, 30000)});
  for (uint32_t piece_size : {1000u, 4096u, 65536u, 8u * 1024 * 1024}) {
    PayloadWriterOptions options;
    options.piece_size = piece_size;
    std::vector<uint8_t> container;
    ASSERT_TRUE(WritePayload(data.data(), data.size(), options, &container));
    EXPECT_EQ(LoadU32(container.data() + 32),
              PayloadPieceSizes(data.size(), piece_size).size());
    for (int keep : {1, 0}) {
      std::vector<uint8_t> out;
      ASSERT_EQ(Expand(container, keep, &out), 1) << piece_size;
      EXPECT_TRUE(out == data) << "piece size " << piece_size << " keep " << keep;
      for (const std::string& name : temp_.Files()) fs::remove(temp_.dir() / name);
    }
  }
}

TEST_F(PayloadTest, IncompressiblePiecesAreStored) {
  const std::vector<uint8_t> data = Concat({test::RandomBytes(4, 3000), test::TextBytes(5, 3000)});
  PayloadWriterOptions options;
  options.piece_size = 3000;
  std::vector<uint8_t> container;
  ASSERT_TRUE(WritePayload(data.data(), data.size(), options, &container));
  ASSERT_EQ(LoadU32(container.data() + 32), 2u);
  EXPECT_EQ(container[36], 0);                  // random: stored
  EXPECT_EQ(LoadU32(container.data() + 37), 3000u);
  EXPECT_EQ(container[36 + 5 + 3000], 1);       // text: compressed
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(container, 1, &out), 1);
  EXPECT_TRUE(out == data);
}

TEST_F(PayloadTest, NoPiecesGiveAnEmptyFile) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    std::vector<uint8_t> out = {1};
    ASSERT_EQ(Expand(ContainerBuilder().Count(count).bytes(), 1, &out), 1);
    EXPECT_TRUE(out.empty());
    for (const std::string& name : temp_.Files()) fs::remove(temp_.dir() / name);
  }
  std::vector<uint8_t> container;
  ASSERT_TRUE(WritePayload(nullptr, 0, PayloadWriterOptions{}, &container));
  EXPECT_EQ(container.size(), 36u);
  std::vector<uint8_t> out = {1};
  ASSERT_EQ(Expand(container, 0, &out), 1);
  EXPECT_TRUE(out.empty());
}

TEST_F(PayloadTest, MixedMethodsConcatenateInOrder) {
  const std::vector<uint8_t> a = test::TextBytes(6, 1000);
  const std::vector<uint8_t> b = test::RandomBytes(7, 777);
  const std::vector<uint8_t> c = test::TextBytes(8, 300);
  const std::vector<uint8_t> container = ContainerBuilder()
                                             .Compressed(1000, EncodedBlocks(a))
                                             .Piece(0, b)
                                             .Piece(7, c)  // any method but 1 is stored
                                             .Piece(0xFF, {})
                                             .Compressed(300, EncodedBlocks(c))
                                             .bytes();
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(container, 1, &out), 1);
  EXPECT_TRUE(out == Concat({a, b, c, c}));
}

TEST_F(PayloadTest, ShortDecodedPieceKeepsOnlyWholeChunks) {
  // Declared 600, decodes to 550: the piece contributes 512 bytes.
  const std::vector<uint8_t> a = test::TextBytes(9, 550);
  const std::vector<uint8_t> container =
      ContainerBuilder().Compressed(600, EncodedBlocks(a)).Piece(0, {'!'}).bytes();
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(container, 1, &out), 1);
  EXPECT_TRUE(out == Concat({std::vector<uint8_t>(a.begin(), a.begin() + 512), {'!'}}));
}

TEST_F(PayloadTest, EveryDecoderErrorFailsAndCleansUp) {
  const std::vector<uint8_t> good = EncodedBlocks(test::TextBytes(10, 2000));
  test::CodeStream kwkwk_first;
  kwkwk_first.Put(256, 9).Put(258, 9).Put(257, 9);
  test::CodeStream above_next;
  above_next.Put(256, 9).Put('a', 9).Put(300, 9).Put(257, 9);
  test::CodeStream early_close;
  early_close.Put(256, 9).Put('a', 9).Put('b', 9);

  ExpectFailure(ContainerBuilder().Compressed(3, test::Frame(kwkwk_first.bytes(), 255)).bytes(),
                "code 5");
  ExpectFailure(ContainerBuilder().Compressed(3, test::Frame(above_next.bytes(), 255)).bytes(),
                "code 4");
  ExpectFailure(ContainerBuilder().Compressed(3, test::Frame(early_close.bytes(), 255)).bytes(),
                "code 3, zero-length block");
  ExpectFailure(
      ContainerBuilder().Compressed(3, test::Frame(early_close.bytes(), 255, false)).bytes(),
      "code 3, end of piece");
  std::vector<uint8_t> long_block = {0x01, 0x01};  // 257
  long_block.resize(300, 0);
  ExpectFailure(ContainerBuilder().Compressed(3, long_block).bytes(), "code 3, long block");
  ExpectFailure(ContainerBuilder().Compressed(-5, good).bytes(), "code 6");
  // A good piece before the bad one: its output goes too.
  ExpectFailure(ContainerBuilder()
                    .Compressed(2000, good)
                    .Compressed(3, test::Frame(kwkwk_first.bytes(), 255))
                    .bytes(),
                "good then bad");
  // Compressed piece data too short to hold the declared size.
  ExpectFailure(ContainerBuilder().Piece(1, {1, 2, 3}).bytes(), "short piece");
}

TEST_F(PayloadTest, TruncatedOrOversizedContainersFailAndCleanUp) {
  const std::vector<uint8_t> data = test::TextBytes(11, 5000);
  PayloadWriterOptions options;
  options.piece_size = 1000;
  std::vector<uint8_t> container;
  ASSERT_TRUE(WritePayload(data.data(), data.size(), options, &container));

  for (size_t cut : {size_t{33}, size_t{36}, size_t{38}, size_t{41}, container.size() - 1}) {
    ExpectFailure(std::vector<uint8_t>(container.begin(), container.begin() + static_cast<ptrdiff_t>(cut)),
                  "truncated");
  }
  std::vector<uint8_t> more = container;
  StoreU32(more.data() + 32, LoadU32(more.data() + 32) + 1);
  ExpectFailure(more, "count one too many");
  StoreU32(more.data() + 32, 0x7FFFFFFF);
  ExpectFailure(more, "huge count");
  std::vector<uint8_t> huge = container;
  StoreU32(huge.data() + 37, 0xFFFFFFF0u);
  ExpectFailure(huge, "huge piece length");
}

TEST_F(PayloadTest, MissingInputFailsAndLeavesNoTemporaryFiles) {
  OwnedString result;
  EXPECT_EQ(ExpandPayload(work_.Program("missing.bin").c_str(), &result, 1), 0);
  EXPECT_EQ(ExpandPayload(work_.Program("missing.bin").c_str(), &result, 0), 0);
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(temp_.Files().empty());
}

TEST_F(PayloadTest, PieceOver8388607BytesKeepsItsTail) {
  // One compressed piece of 8,388,708 bytes (32,769 chunks, the last one 100 bytes).
  const std::vector<uint8_t> data = test::RepetitiveBytes(12, 8388608 + 100);
  const std::vector<uint8_t> container =
      ContainerBuilder().Compressed(static_cast<int32_t>(data.size()), EncodedBlocks(data)).bytes();
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(container, 0, &out), 1);
  ASSERT_EQ(out.size(), data.size());
  EXPECT_TRUE(out == data);
}

TEST_F(PayloadTest, ExpandPieceFileRewritesTheFile) {
  const std::vector<uint8_t> data = test::TextBytes(13, 9000);
  std::vector<uint8_t> piece;
  ASSERT_TRUE(LzwEncodePiece(data.data(), data.size(), LzwEncodeOptions{}, &piece));
  test::WriteBytes(work_ / "piece", piece);
  EXPECT_TRUE(ExpandPieceFile(work_.Program("piece").c_str()));
  EXPECT_TRUE(test::ReadBytes(work_ / "piece") == data);

  test::WriteBytes(work_ / "short", {1, 0});
  EXPECT_FALSE(ExpandPieceFile(work_.Program("short").c_str()));
  EXPECT_FALSE(ExpandPieceFile(work_.Program("missing").c_str()));
}

TEST(PayloadWriter, PieceSizesStayWithinWhatEveryDecoderWritesWhole) {
  EXPECT_EQ(PayloadPieceSizes(0, 8388608), std::vector<uint32_t>{});
  EXPECT_EQ(PayloadPieceSizes(8388608 + 100, 8388608),
            (std::vector<uint32_t>{8388608, 100}));
  // A large multiple of 256: an odd-sized last piece above 8,388,607 bytes is cut in two.
  EXPECT_EQ(PayloadPieceSizes(9000001, 16777216), (std::vector<uint32_t>{8999936, 65}));
  EXPECT_EQ(PayloadPieceSizes(2500, 1000), (std::vector<uint32_t>{1000, 1000, 500}));

  PayloadWriterOptions options;
  for (uint32_t ok : {1u, 8388607u, 8388608u, 16777216u}) {
    options.piece_size = ok;
    EXPECT_TRUE(ValidPayloadOptions(options)) << ok;
  }
  for (uint32_t bad : {0u, 8388609u, 9000001u, 0x80000000u}) {
    options.piece_size = bad;
    EXPECT_FALSE(ValidPayloadOptions(options)) << bad;
    std::vector<uint8_t> out;
    EXPECT_FALSE(WritePayload(nullptr, 0, options, &out)) << bad;
  }
}

TEST_F(PayloadTest, FileWritersMatchTheMemoryWriter) {
  const std::vector<uint8_t> data = Concat({test::TextBytes(14, 20000), test::RandomBytes(15, 3000)});
  PayloadWriterOptions options;
  options.piece_size = 4096;
  std::vector<uint8_t> expected;
  ASSERT_TRUE(WritePayload(data.data(), data.size(), options, &expected));

  ASSERT_TRUE(WritePayloadFile(data.data(), data.size(), work_.Program("a.bin").c_str(), options));
  EXPECT_EQ(test::ReadBytes(work_ / "a.bin"), expected);
  test::WriteBytes(work_ / "plain.bin", data);
  ASSERT_TRUE(WritePayloadFromFile(work_.Program("plain.bin").c_str(),
                                   work_.Program("b.bin").c_str(), options));
  EXPECT_EQ(test::ReadBytes(work_ / "b.bin"), expected);
  EXPECT_FALSE(WritePayloadFromFile(work_.Program("missing.bin").c_str(),
                                    work_.Program("c.bin").c_str(), options));
}

}  // namespace
}  // namespace gp
