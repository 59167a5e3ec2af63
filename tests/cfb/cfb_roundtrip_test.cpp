// Files made by the writer read back through the reader, in both sector sizes.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "cfb/entry_names.h"
#include "cfb_test_files.h"

namespace gp::cfb {
namespace {

using testing::AddStreams;
using testing::CheckSiblingTrees;
using testing::PatternBytes;
using testing::ReadAllStreams;
using testing::SampleTree;
using testing::StreamMap;

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, SampleTreeReadsBackStreamByStream) {
  const StreamMap tree = SampleTree();
  CompoundFileWriter writer(GetParam());
  ASSERT_EQ(AddStreams(&writer, tree), Status::kOk);
  std::vector<uint8_t> file;
  ASSERT_EQ(writer.WriteToVector(&file), Status::kOk);
  const uint32_t sector = GetParam() == 4 ? 4096 : 512;
  EXPECT_EQ(file.size() % sector, 0u);
  EXPECT_EQ(LoadU16(file.data() + kHeaderMajorVersion), GetParam());

  StreamMap back;
  ASSERT_EQ(ReadAllStreams(file, &back), Status::kOk);
  EXPECT_EQ(back, tree);
  EXPECT_EQ(CheckSiblingTrees(file), "");
}

TEST_P(RoundTrip, ManyStreamsInOneStorageKeepValidTrees) {
  // Sizes of sibling sets around powers of two exercise the colouring of the last level.
  for (int count : {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 300}) {
    StreamMap tree;
    for (int i = 0; i < count; ++i) {
      tree["s/" + std::to_string(i * 7919 % 1000) + ".dat"] =
          PatternBytes(static_cast<size_t>(i % 5 * 40), static_cast<uint32_t>(i));
    }
    CompoundFileWriter writer(GetParam());
    ASSERT_EQ(AddStreams(&writer, tree), Status::kOk);
    std::vector<uint8_t> file;
    ASSERT_EQ(writer.WriteToVector(&file), Status::kOk);
    EXPECT_EQ(CheckSiblingTrees(file), "") << count << " streams";
    StreamMap back;
    ASSERT_EQ(ReadAllStreams(file, &back), Status::kOk);
    EXPECT_EQ(back, tree) << count << " streams";
  }
}

TEST_P(RoundTrip, LargeFileNeedsDifatSectors) {
  // 109 FAT sectors in the header cover 109 * 128 sectors of 512 bytes (about 6.8 MB), or
  // 109 * 1024 sectors of 4096 bytes (about 457 MB); go past the first in version 3 only.
  const size_t size = GetParam() == 3 ? 8u << 20 : 3u << 20;
  StreamMap tree;
  tree["big"] = PatternBytes(size, 99);
  tree["small"] = PatternBytes(100, 98);
  CompoundFileWriter writer(GetParam());
  ASSERT_EQ(AddStreams(&writer, tree), Status::kOk);
  std::vector<uint8_t> file;
  ASSERT_EQ(writer.WriteToVector(&file), Status::kOk);
  if (GetParam() == 3) {
    EXPECT_GT(LoadU32(file.data() + kHeaderFatSectors), kHeaderDifatCount);
    EXPECT_GE(LoadU32(file.data() + kHeaderDifatSectors), 1u);
  }
  StreamMap back;
  ASSERT_EQ(ReadAllStreams(file, &back), Status::kOk);
  EXPECT_TRUE(back == tree);
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, ::testing::Values(3, 4));

TEST(Writer, OutputDoesNotDependOnInsertionOrder) {
  // a adds in sorted path order, b in roughly the reverse order.
  const StreamMap tree = SampleTree();
  CompoundFileWriter a, b;
  ASSERT_EQ(AddStreams(&a, tree), Status::kOk);
  int b0 = 0, b1 = 0, b1u = 0, b2 = 0, b2u = 0;
  ASSERT_EQ(b.AddStreamBytes(CompoundFileWriter::kRoot, u"top.dat", tree.at("top.dat")), Status::kOk);
  ASSERT_EQ(b.AddStorage(CompoundFileWriter::kRoot, u"2", &b2), Status::kOk);
  ASSERT_EQ(b.AddStorage(b2, u"_", &b2u), Status::kOk);
  for (const char* n : {"BETA", "alpha", "Zeta"}) {
    std::string s(n);
    ASSERT_EQ(b.AddStreamBytes(b2u, std::u16string(s.begin(), s.end()), tree.at("2/_/" + s)), Status::kOk);
  }
  ASSERT_EQ(b.AddStorage(CompoundFileWriter::kRoot, u"1", &b1), Status::kOk);
  ASSERT_EQ(b.AddStorage(b1, u"_", &b1u), Status::kOk);
  ASSERT_EQ(b.AddStreamBytes(b1u, u"1.dif", tree.at("1/_/1.dif")), Status::kOk);
  ASSERT_EQ(b.AddStreamBytes(b1u, u"0.dif", tree.at("1/_/0.dif")), Status::kOk);
  ASSERT_EQ(b.AddStreamBytes(b1, u"list.dat", tree.at("1/list.dat")), Status::kOk);
  ASSERT_EQ(b.AddStorage(CompoundFileWriter::kRoot, u"0", &b0), Status::kOk);
  std::vector<std::string> zero;
  for (const auto& [path, data] : tree) {
    if (path.rfind("0/", 0) == 0) zero.push_back(path);
  }
  std::reverse(zero.begin(), zero.end());
  for (const std::string& path : zero) {
    const std::string n = path.substr(2);
    ASSERT_EQ(b.AddStreamBytes(b0, std::u16string(n.begin(), n.end()), tree.at(path)), Status::kOk);
  }
  std::vector<uint8_t> fa, fb, fa2;
  ASSERT_EQ(a.WriteToVector(&fa), Status::kOk);
  ASSERT_EQ(b.WriteToVector(&fb), Status::kOk);
  ASSERT_EQ(a.WriteToVector(&fa2), Status::kOk);
  EXPECT_TRUE(fa == fb);
  EXPECT_TRUE(fa == fa2);
}

TEST(Writer, EmptyFileHasOnlyTheRoot) {
  const std::vector<uint8_t> file = EmptyCompoundFile();
  EXPECT_EQ(file.size(), 512u * 3);  // header, one FAT sector, one directory sector
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  ASSERT_EQ(reader.Open(&source), Status::kOk);
  std::vector<uint32_t> children;
  ASSERT_EQ(reader.ListChildren(CompoundFileReader::kRootEntry, &children), Status::kOk);
  EXPECT_TRUE(children.empty());
  EntryInfo root;
  ASSERT_EQ(reader.GetEntry(CompoundFileReader::kRootEntry, &root), Status::kOk);
  EXPECT_EQ(root.type, EntryType::kRoot);
  EXPECT_EQ(root.name, u"Root Entry");
}

TEST(Writer, RefusesBadNamesDuplicatesAndBadParents) {
  CompoundFileWriter w;
  int storage = 0;
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"", &storage), Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"a/b", &storage), Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"a\\b", &storage), Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"a:", &storage), Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"a!", &storage), Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, std::u16string(32, u'x'), &storage),
            Status::kBadName);
  EXPECT_EQ(w.AddStorage(CompoundFileWriter::kRoot, std::u16string(31, u'x'), &storage),
            Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(CompoundFileWriter::kRoot, u"Data", {1}), Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(CompoundFileWriter::kRoot, u"dATA", {2}), Status::kDuplicateName);
  EXPECT_EQ(w.AddStreamBytes(99, u"x", {}), Status::kBadArgument);
  // A stream cannot hold children: its id is never handed out, and storage ids are checked.
  EXPECT_EQ(w.AddStreamBytes(-1, u"x", {}), Status::kBadArgument);
  EXPECT_EQ(w.AddStream(CompoundFileWriter::kRoot, u"huge", CompoundFileWriter::kMaxStreamSizeV3 + 1,
                        [](uint64_t, uint8_t*, size_t) { return true; }),
            Status::kTooLarge);
}

TEST(Writer, PullsLargeStreamsFromTheirSourceInAscendingPieces) {
  const size_t size = 3u << 20;
  std::vector<std::pair<uint64_t, size_t>> calls;
  CompoundFileWriter w;
  ASSERT_EQ(w.AddStream(CompoundFileWriter::kRoot, u"big", size,
                        [&calls](uint64_t offset, uint8_t* out, size_t n) {
                          calls.emplace_back(offset, n);
                          for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((offset + i) % 251);
                          return true;
                        }),
            Status::kOk);
  size_t largest_write = 0;
  std::vector<uint8_t> file;
  ASSERT_EQ(w.Write([&](const uint8_t* data, size_t n) {
              largest_write = std::max(largest_write, n);
              file.insert(file.end(), data, data + n);
              return true;
            }),
            Status::kOk);
  uint64_t expected = 0;
  for (const auto& [offset, n] : calls) {
    EXPECT_EQ(offset, expected);
    EXPECT_LE(n, 1u << 20);
    expected += n;
  }
  EXPECT_EQ(expected, size);
  EXPECT_LE(largest_write, 1u << 20);
  testing::StreamMap back;
  ASSERT_EQ(ReadAllStreams(file, &back), Status::kOk);
  ASSERT_EQ(back["big"].size(), size);
  for (size_t i = 0; i < size; i += 4099) ASSERT_EQ(back["big"][i], i % 251) << i;
}

TEST(Writer, ReportsFailingSourcesAndSinks) {
  CompoundFileWriter w;
  ASSERT_EQ(w.AddStream(CompoundFileWriter::kRoot, u"s", 10,
                        [](uint64_t, uint8_t*, size_t) { return false; }),
            Status::kOk);
  std::vector<uint8_t> file;
  EXPECT_EQ(w.WriteToVector(&file), Status::kSourceFailed);
  CompoundFileWriter empty;
  EXPECT_EQ(empty.Write([](const uint8_t*, size_t) { return false; }), Status::kIoError);
}

TEST(Names, CompareByLengthThenUpperCase) {
  EXPECT_LT(CompareNames(u"Z", u"aa"), 0);
  EXPECT_GT(CompareNames(u"aa", u"Z"), 0);
  EXPECT_EQ(CompareNames(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareNames(u"abc", u"ABD"), 0);
  // Underscore (0x5F) sorts after upper-case letters but before lower-case ones; comparing
  // upper-cased units puts it after every letter.
  EXPECT_GT(CompareNames(u"_", u"a"), 0);
  EXPECT_EQ(CompareNames(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);
  EXPECT_EQ(CompareNames(u"\u0436", u"\u0416"), 0);         // Cyrillic zhe
  EXPECT_EQ(CompareNames(u"\uff41", u"\uff21"), 0);         // full-width a
  EXPECT_EQ(CompareNames(u"\u3042", u"\u3042"), 0);         // hiragana: no case
  EXPECT_NE(CompareNames(u"\u3042", u"\u3044"), 0);
  EXPECT_EQ(UpperCaseUnit(u'\u00ff'), u'\u0178');
  EXPECT_EQ(UpperCaseUnit(u'\u0101'), u'\u0100');
  EXPECT_EQ(UpperCaseUnit(u'\u013a'), u'\u0139');
}

TEST(Reader, FindsChildrenByNameWithoutRegardToCase) {
  CompoundFileWriter w;
  int s = 0;
  ASSERT_EQ(w.AddStorage(CompoundFileWriter::kRoot, u"Storage", &s), Status::kOk);
  ASSERT_EQ(w.AddStreamBytes(s, u"List.Dat", {1, 2, 3}), Status::kOk);
  for (int i = 0; i < 40; ++i) {
    const std::string n = "n" + std::to_string(i);
    ASSERT_EQ(w.AddStreamBytes(s, std::u16string(n.begin(), n.end()), {}), Status::kOk);
  }
  std::vector<uint8_t> file;
  ASSERT_EQ(w.WriteToVector(&file), Status::kOk);
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  ASSERT_EQ(reader.Open(&source), Status::kOk);
  uint32_t storage = 0, stream = 0;
  ASSERT_EQ(reader.FindChild(CompoundFileReader::kRootEntry, u"STORAGE", &storage), Status::kOk);
  ASSERT_EQ(reader.FindChild(storage, u"list.dat", &stream), Status::kOk);
  EntryInfo info;
  ASSERT_EQ(reader.GetEntry(stream, &info), Status::kOk);
  EXPECT_EQ(info.name, u"List.Dat");
  EXPECT_EQ(info.size, 3u);
  for (int i = 0; i < 40; ++i) {
    const std::string n = "N" + std::to_string(i);
    uint32_t id = 0;
    EXPECT_EQ(reader.FindChild(storage, std::u16string(n.begin(), n.end()), &id), Status::kOk) << n;
  }
  uint32_t missing = 0;
  EXPECT_EQ(reader.FindChild(storage, u"list.da", &missing), Status::kNotFound);
  EXPECT_EQ(reader.FindChild(stream, u"x", &missing), Status::kNotStorage);
  StreamReader wrong;
  EXPECT_EQ(reader.OpenStream(storage, &wrong), Status::kNotStream);
  EXPECT_FALSE(wrong.is_open());
}

TEST(Reader, SeeksFromEveryOriginAndReadsNothingPastTheEnd) {
  for (size_t size : {size_t{100}, size_t{5000}}) {
    const std::vector<uint8_t> data = PatternBytes(size, 7);
    CompoundFileWriter w;
    ASSERT_EQ(w.AddStreamBytes(CompoundFileWriter::kRoot, u"s", data), Status::kOk);
    std::vector<uint8_t> file;
    ASSERT_EQ(w.WriteToVector(&file), Status::kOk);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    ASSERT_EQ(reader.Open(&source), Status::kOk);
    uint32_t id = 0;
    ASSERT_EQ(reader.FindChild(CompoundFileReader::kRootEntry, u"s", &id), Status::kOk);
    StreamReader stream;
    ASSERT_EQ(reader.OpenStream(id, &stream), Status::kOk);
    EXPECT_EQ(stream.size(), size);
    uint64_t pos = 0;
    ASSERT_EQ(stream.Seek(0, SeekOrigin::kEnd, &pos), Status::kOk);
    EXPECT_EQ(pos, size);
    ASSERT_EQ(stream.Seek(-10, SeekOrigin::kCurrent, &pos), Status::kOk);
    EXPECT_EQ(pos, size - 10);
    uint8_t buffer[64] = {};
    size_t done = 0;
    ASSERT_EQ(stream.Read(buffer, sizeof buffer, &done), Status::kOk);
    ASSERT_EQ(done, 10u);
    EXPECT_TRUE(std::equal(buffer, buffer + 10, data.end() - 10));
    ASSERT_EQ(stream.Read(buffer, sizeof buffer, &done), Status::kOk);
    EXPECT_EQ(done, 0u);
    ASSERT_EQ(stream.Seek(size + 50, SeekOrigin::kBegin, &pos), Status::kOk);
    EXPECT_EQ(pos, size + 50);
    ASSERT_EQ(stream.Read(buffer, sizeof buffer, &done), Status::kOk);
    EXPECT_EQ(done, 0u);
    // Before the start: refused, position kept.
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::kBegin, &pos), Status::kBadArgument);
    EXPECT_EQ(stream.position(), size + 50);
    ASSERT_EQ(stream.Seek(63, SeekOrigin::kBegin, &pos), Status::kOk);
    ASSERT_EQ(stream.Read(buffer, 2, &done), Status::kOk);
    ASSERT_EQ(done, 2u);
    EXPECT_EQ(buffer[0], data[63]);
    EXPECT_EQ(buffer[1], data[64]);
  }
}

TEST(Reader, RefusesFilesThatAreNotCompoundFiles) {
  std::vector<uint8_t> text(2048, 'x');
  MemoryByteSource source(text.data(), text.size());
  CompoundFileReader reader;
  EXPECT_EQ(reader.Open(&source), Status::kNotCompoundFile);
  std::vector<uint8_t> tiny(10, 0);
  MemoryByteSource small(tiny.data(), tiny.size());
  EXPECT_EQ(reader.Open(&small), Status::kNotCompoundFile);
  EXPECT_EQ(reader.Open(nullptr), Status::kBadArgument);
}

}  // namespace
}  // namespace gp::cfb
