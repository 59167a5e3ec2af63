// DocfileAccess over the platform's structured storage. The compound files are made by our own
// writer, so in the Windows build (ole32 underneath) these tests are also a cross-check of the
// writer against the system's reader; in the Linux build they run over our reader.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cfb/byte_source.h"
#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "storage/docfile_access.h"
#include "storage/file_helpers.h"
#include "storage/pointer_list.h"
#include "support/test_support.h"

namespace gp {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 747796405u + 2891336453u;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 23);
  }
  return out;
}

struct Fixture {
  std::vector<uint8_t> options = Pattern(200, 1);
  std::vector<uint8_t> list = Pattern(54, 2);
  std::vector<uint8_t> dif = Pattern(5000, 3);
  std::vector<uint8_t> big = Pattern(300000, 4);
  std::vector<uint8_t> root_list = Pattern(33, 5);
  std::vector<uint8_t> kana = Pattern(70, 6);
};

// Writes the test docfile: 0\DiffOption2.dat, 1\list.dat, 1\_\0.dif, 1\_\big.bin,
// 1\_\empty, list.dat, A\s, データ\x.dat and 300 small streams in many\.
std::string WriteDocfile(const test::TempDir& dir, const Fixture& f, const char* name = "work.cfb") {
  cfb::CompoundFileWriter w;
  int s0 = 0, s1 = 0, s1u = 0, a = 0, kana = 0, many = 0;
  EXPECT_EQ(w.AddStorage(cfb::CompoundFileWriter::kRoot, u"0", &s0), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(s0, u"DiffOption2.dat", f.options), cfb::Status::kOk);
  EXPECT_EQ(w.AddStorage(cfb::CompoundFileWriter::kRoot, u"1", &s1), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(s1, u"list.dat", f.list), cfb::Status::kOk);
  EXPECT_EQ(w.AddStorage(s1, u"_", &s1u), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(s1u, u"0.dif", f.dif), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(s1u, u"big.bin", f.big), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(s1u, u"empty", {}), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(cfb::CompoundFileWriter::kRoot, u"list.dat", f.root_list),
            cfb::Status::kOk);
  EXPECT_EQ(w.AddStorage(cfb::CompoundFileWriter::kRoot, u"A", &a), cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(a, u"s", {7, 8, 9}), cfb::Status::kOk);
  EXPECT_EQ(w.AddStorage(cfb::CompoundFileWriter::kRoot, u"\u30c7\u30fc\u30bf", &kana),
            cfb::Status::kOk);
  EXPECT_EQ(w.AddStreamBytes(kana, u"x.dat", f.kana), cfb::Status::kOk);
  EXPECT_EQ(w.AddStorage(cfb::CompoundFileWriter::kRoot, u"many", &many), cfb::Status::kOk);
  for (int i = 0; i < 300; ++i) {
    const std::string n = std::to_string(i) + ".dif";
    EXPECT_EQ(w.AddStreamBytes(many, std::u16string(n.begin(), n.end()),
                               Pattern(static_cast<size_t>(i % 9) * 11, 100u + i)),
              cfb::Status::kOk);
  }
  std::vector<uint8_t> bytes;
  EXPECT_EQ(w.WriteToVector(&bytes), cfb::Status::kOk);
  test::WriteBytes(dir / name, bytes);
  return dir.Program(name);
}

std::vector<uint8_t> ReadOpenStream(DocfileAccess* access) {
  std::vector<uint8_t> out;
  uint8_t buffer[1000];
  for (;;) {
    const uint32_t n = access->Read(buffer, sizeof buffer);
    if (n == 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

class DocfileAccessTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  Fixture f;
};

TEST_F(DocfileAccessTest, OpensStreamsByPathKeepingTheirStoragesOpen) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  EXPECT_TRUE(access.has_root());

  ASSERT_TRUE(access.OpenStreamByPath("0\\DiffOption2.dat"));
  EXPECT_EQ(access.open_storages().Count(), 1);
  EXPECT_EQ(ReadOpenStream(&access), f.options);
  access.CloseStream();
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_FALSE(access.has_stream());

  ASSERT_TRUE(access.OpenStreamByPath("1\\_\\0.dif"));
  EXPECT_EQ(access.open_storages().Count(), 2);
  EXPECT_NE(access.open_storages().Get(0), nullptr);
  EXPECT_NE(access.open_storages().Get(1), nullptr);
  EXPECT_EQ(ReadOpenStream(&access), f.dif);
  access.CloseStream();
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_FALSE(access.has_stream());

  ASSERT_TRUE(access.OpenStreamByPath("list.dat"));
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_EQ(ReadOpenStream(&access), f.root_list);
  access.CloseStream();

  // Names compare without regard to case, and CP932 names reach the storage as UTF-16.
  ASSERT_TRUE(access.OpenStreamByPath("1\\LIST.DAT"));
  EXPECT_EQ(ReadOpenStream(&access), f.list);
  access.CloseStream();
  ASSERT_TRUE(access.OpenStreamByPath("\x83\x66\x81\x5B\x83\x5E\\x.dat"));
  EXPECT_EQ(ReadOpenStream(&access), f.kana);
  access.CloseStream();
}

TEST_F(DocfileAccessTest, ReadsLargeAndManySmallStreams) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  ASSERT_TRUE(access.OpenStreamByPath("1\\_\\big.bin"));
  std::vector<uint8_t> got(f.big.size() + 10, 0xEE);
  EXPECT_EQ(access.Read(got.data(), static_cast<uint32_t>(got.size())), f.big.size());
  EXPECT_TRUE(std::equal(f.big.begin(), f.big.end(), got.begin()));
  access.CloseStream();
  for (int i = 0; i < 300; ++i) {
    const std::string path = "many\\" + std::to_string(i) + ".dif";
    const std::vector<uint8_t> expected = Pattern(static_cast<size_t>(i % 9) * 11, 100u + i);
    ASSERT_EQ(access.StreamSize(path.c_str()), static_cast<int32_t>(expected.size())) << path;
    ASSERT_TRUE(access.OpenStreamByPath(path.c_str())) << path;
    EXPECT_EQ(ReadOpenStream(&access), expected) << path;
    access.CloseStream();
  }
}

TEST_F(DocfileAccessTest, SeeksFromEachOrigin) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  for (const char* path : {"1\\_\\0.dif", "0\\DiffOption2.dat"}) {
    const std::vector<uint8_t>& data = std::strcmp(path, "1\\_\\0.dif") == 0 ? f.dif : f.options;
    ASSERT_TRUE(access.OpenStreamByPath(path));
    const uint32_t size = static_cast<uint32_t>(data.size());
    EXPECT_EQ(access.Seek(0, DocfileAccess::kSeekEnd), size);
    EXPECT_EQ(access.Seek(-10, DocfileAccess::kSeekEnd), size - 10);
    uint8_t b = 0;
    ASSERT_EQ(access.Read(&b, 1), 1u);
    EXPECT_EQ(b, data[size - 10]);
    EXPECT_EQ(access.Seek(5, DocfileAccess::kSeekBegin), 5u);
    EXPECT_EQ(access.Seek(3, DocfileAccess::kSeekCurrent), 8u);
    EXPECT_EQ(access.Seek(-2, DocfileAccess::kSeekCurrent), 6u);
    ASSERT_EQ(access.Read(&b, 1), 1u);
    EXPECT_EQ(b, data[6]);
    access.CloseStream();
  }
}

TEST_F(DocfileAccessTest, StreamSizeOfMissingEmptyAndFilledStreams) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  EXPECT_EQ(access.StreamSize("1\\_\\nothing"), -1);
  EXPECT_FALSE(access.has_stream());
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_EQ(access.StreamSize("1\\_\\empty"), 0);
  EXPECT_FALSE(access.has_stream());
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_EQ(access.StreamSize("1\\_\\0.dif"), 5000);
  EXPECT_FALSE(access.has_stream());
  EXPECT_EQ(access.StreamSize("1\\_"), -1);  // a storage is not a stream
  EXPECT_EQ(access.StreamSize(nullptr), -1);
}

TEST_F(DocfileAccessTest, MissingStorageInTheMiddleReleasesWhatWasOpened) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  EXPECT_FALSE(access.OpenStreamByPath("1\\missing\\0.dif"));
  EXPECT_FALSE(access.has_stream());
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_FALSE(access.OpenStreamByPath("1\\_\\missing.dif"));
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_FALSE(access.OpenStreamByPath("1\\0.dif\\x"));  // a stream used as a storage
  EXPECT_EQ(access.open_storages().Count(), 0);
  // Storages are opened exclusively: had "1" and "_" stayed open, these would be refused.
  ASSERT_TRUE(access.OpenStreamByPath("1\\_\\0.dif"));
  EXPECT_EQ(ReadOpenStream(&access), f.dif);
  access.CloseStream();
  ASSERT_TRUE(access.OpenStreamByPath("1\\_\\0.dif"));
  access.CloseStream();
}

TEST_F(DocfileAccessTest, TrailingColonOnlyOnStorageComponents) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  ASSERT_TRUE(access.OpenStreamByPath("A:\\s"));
  EXPECT_EQ(access.open_storages().Count(), 1);
  uint8_t got[3] = {};
  EXPECT_EQ(access.Read(got, 3), 3u);
  EXPECT_EQ(got[2], 9);
  access.CloseStream();
  EXPECT_FALSE(access.OpenStreamByPath("A\\s:"));
  EXPECT_EQ(access.open_storages().Count(), 0);
  EXPECT_FALSE(access.OpenStreamByPath("A::\\s"));  // only one colon goes
}

TEST_F(DocfileAccessTest, RefusesOverlongComponentsAndSplitsByteWise) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  const std::string long_storage(260, 'a');
  EXPECT_FALSE(access.OpenStreamByPath((long_storage + "\\s").c_str()));
  EXPECT_FALSE(access.OpenStreamByPath(("A\\" + long_storage).c_str()));
  EXPECT_FALSE(access.OpenStreamByPath(("1\\" + std::string(259, 'b') + "\\0.dif").c_str()));
  EXPECT_EQ(access.open_storages().Count(), 0);
  // 0x95 0x5C is one double-byte character, but the split is byte-wise: the storage named by
  // the lone lead byte is not there.
  EXPECT_FALSE(access.OpenStreamByPath("\x95\\s"));
  EXPECT_FALSE(access.has_stream());
  EXPECT_FALSE(access.OpenStreamByPath(nullptr));
  // The object still works.
  EXPECT_TRUE(access.OpenStreamByPath("A\\s"));
}

TEST_F(DocfileAccessTest, NoStreamOpenMeansNothingHappens) {
  DocfileAccess access;
  uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(access.Read(buffer, 4), 0u);
  EXPECT_EQ(access.Seek(10, DocfileAccess::kSeekBegin), 0u);
  access.CloseStream();
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  EXPECT_FALSE(access.OpenStreamByPath("0\\nothing"));
  EXPECT_EQ(access.Read(buffer, 4), 0u);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(access.Seek(-1, DocfileAccess::kSeekEnd), 0u);
  access.CloseStream();
  EXPECT_EQ(access.open_storages().Count(), 0);
  // Without a docfile nothing opens.
  DocfileAccess closed;
  EXPECT_FALSE(closed.OpenStreamByPath("0\\DiffOption2.dat"));
  EXPECT_EQ(closed.StreamSize("0\\DiffOption2.dat"), -1);
}

TEST_F(DocfileAccessTest, SecondOpenDocfileKeepsTheFirst) {
  DocfileAccess access;
  ASSERT_TRUE(access.OpenDocfile(WriteDocfile(dir, f).c_str()));
  const std::string other = dir.Program("never-made.cfb");
  EXPECT_TRUE(access.OpenDocfile(other.c_str()));
  EXPECT_FALSE(FileExists(other.c_str()));
  ASSERT_TRUE(access.OpenStreamByPath("0\\DiffOption2.dat"));
  EXPECT_EQ(ReadOpenStream(&access), f.options);
}

TEST_F(DocfileAccessTest, MissingPathCreatesAnEmptyDocfile) {
  const std::string path = dir.Program("new.cfb");
  {
    DocfileAccess access;
    ASSERT_TRUE(access.OpenDocfile(path.c_str()));
    EXPECT_TRUE(FileExists(path.c_str()));
    EXPECT_FALSE(access.OpenStreamByPath("0\\DiffOption2.dat"));
    EXPECT_FALSE(access.OpenStreamByPath("list.dat"));
    EXPECT_EQ(access.StreamSize("list.dat"), -1);
  }
  // Whatever made it, the file is a valid compound file with an empty root.
  const std::vector<uint8_t> bytes = test::ReadBytes(dir / "new.cfb");
  cfb::MemoryByteSource source(bytes.data(), bytes.size());
  cfb::CompoundFileReader reader;
  ASSERT_EQ(reader.Open(&source), cfb::Status::kOk);
  std::vector<uint32_t> children;
  ASSERT_EQ(reader.ListChildren(cfb::CompoundFileReader::kRootEntry, &children), cfb::Status::kOk);
  EXPECT_TRUE(children.empty());
  // And it opens again.
  DocfileAccess again;
  EXPECT_TRUE(again.OpenDocfile(path.c_str()));
}

TEST_F(DocfileAccessTest, OpenOnlyReadsAndTheFileStaysReadable) {
  const std::string path = WriteDocfile(dir, f);
  {
    DocfileAccess first;
    ASSERT_TRUE(first.OpenDocfile(path.c_str()));
    DocfileAccess second;  // a second reader is let in
    EXPECT_TRUE(second.OpenDocfile(path.c_str()));
    EXPECT_TRUE(second.has_root());
    ASSERT_TRUE(first.OpenStreamByPath("1\\_\\0.dif"));
    EXPECT_EQ(ReadOpenStream(&first), f.dif);
    // Destroyed with a stream still open: released, then the root committed.
  }
  DocfileAccess third;
  EXPECT_TRUE(third.OpenDocfile(path.c_str()));
  ASSERT_TRUE(third.OpenStreamByPath("1\\_\\0.dif"));
  EXPECT_EQ(ReadOpenStream(&third), f.dif);
  third.CloseStream();
}

TEST_F(DocfileAccessTest, FileThatIsNotACompoundFileIsRefused) {
  test::WriteBytes(dir / "text.txt", std::vector<uint8_t>(4096, 'x'));
  DocfileAccess access;
  EXPECT_FALSE(access.OpenDocfile(dir.Program("text.txt").c_str()));
  EXPECT_FALSE(access.has_root());
  EXPECT_FALSE(access.OpenDocfile(nullptr));
}

TEST(PointerList, AppendsGetsAndClearsWithoutOwning) {
  PointerList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Get(0), nullptr);
  int a = 0, b = 0, c = 0;
  EXPECT_EQ(list.Append(&a), 0);
  EXPECT_EQ(list.Append(&b), 1);
  EXPECT_EQ(list.Append(&c), 2);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0), &a);
  EXPECT_EQ(list.Get(2), &c);
  EXPECT_EQ(list.Get(3), nullptr);
  EXPECT_EQ(list.Get(-1), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Get(0), nullptr);
  EXPECT_EQ(list.Append(nullptr), 0);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Get(0), nullptr);
}

}  // namespace
}  // namespace gp
