// The file list format as our writer produces it and the in-memory walker reads it, and the
// whole-file streams of the builder.
#include "update/file_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/list_writer.h"
#include "builder/whole_file_writer.h"
#include "format/data_stream.h"
#include "format/list_record.h"
#include "update/entry_path.h"
#include "update/package_tables.h"
#include "update_fixture.h"

namespace gp {
namespace {

using builder::ListEntryDescription;

TEST(FileListFormat, TheFiftyFourByteExample) {
  PackageTables package;
  test::InstallPackage(package, test::MakeHeader(2), "C:\\Programs\\App");
  const ListEntryDescription changed{0x11223344,    0x55667788,    "1\\_\\0.dif",
                              "1\\_\\0.dif", "PROGRAM.EXE", "PROGRAM.EXE"};
  ASSERT_EQ(builder::CheckList({changed}), "");
  const std::vector<uint8_t> list = builder::WriteList({changed});
  ASSERT_EQ(list.size(), 54u);
  EXPECT_EQ(LoadU16(list.data()), 1);
  EXPECT_EQ(LoadU32(list.data() + 2 + format::kListOldCrcOffset), 0x11223344u);
  EXPECT_EQ(LoadU32(list.data() + 2 + format::kListNewCrcOffset), 0x55667788u);
  EXPECT_EQ(list[2 + format::kListStringsOffset], 9);
  EXPECT_EQ(std::string(list.begin() + 11, list.begin() + 20), "1\\_\\0.dif");
  EXPECT_EQ(list[20], 9);
  EXPECT_EQ(list[30], 11);
  EXPECT_EQ(list[42], 11);

  FileListWalker walker;
  ASSERT_TRUE(walker.Begin(list.data(), list.size()));
  EXPECT_EQ(walker.count(), 1u);
  ListEntry entry;
  ASSERT_TRUE(walker.Next(&entry));
  EXPECT_EQ(entry.old_crc, 0x11223344u);
  EXPECT_EQ(entry.new_crc, 0x55667788u);
  EXPECT_STREQ(entry.old_data_path, "1\\_\\0.dif");
  EXPECT_STREQ(entry.new_name, "PROGRAM.EXE");
  EXPECT_FALSE(walker.Next(&entry));
  EXPECT_FALSE(walker.failed());

  // Both sides name the destination folder plus the file name.
  ASSERT_TRUE(ResolveEntryPath(package, 0, entry.old_data_path, entry.old_name));
  ASSERT_TRUE(ResolveEntryPath(package, 1, entry.new_data_path, entry.new_name));
  EXPECT_STREQ(entry.old_data_path, "C:\\Programs\\App\\PROGRAM.EXE");
  EXPECT_STREQ(entry.new_data_path, "C:\\Programs\\App\\PROGRAM.EXE");
}

std::vector<ListEntryDescription> ThreeKinds() {
  return {{0, 7, "", "1\\_\\a.dat", "", "A.TXT"},
          {5, 6, "1\\_\\b.dif", "1\\sub\\x\\b.dif", "B.TXT", "B2.TXT"},
          {9, 0, "1\\_\\c", "", "C.TXT", ""}};
}

TEST(FileListFormat, EntriesOfAllKindsComeBackAsWritten) {
  const auto descs = ThreeKinds();
  const std::vector<uint8_t> list = builder::WriteList(descs);
  FileListWalker walker;
  ASSERT_TRUE(walker.Begin(list.data(), list.size()));
  ListEntry entry;
  for (const ListEntryDescription& desc : descs) {
    ASSERT_TRUE(walker.Next(&entry));
    EXPECT_EQ(entry.old_crc, desc.old_crc);
    EXPECT_EQ(entry.new_crc, desc.new_crc);
    EXPECT_EQ(std::string(entry.old_data_path), desc.old_data_path);
    EXPECT_EQ(std::string(entry.new_data_path), desc.new_data_path);
    EXPECT_EQ(std::string(entry.old_name), desc.old_name);
    EXPECT_EQ(std::string(entry.new_name), desc.new_name);
  }
  EXPECT_FALSE(walker.Next(&entry));
  EXPECT_FALSE(walker.failed());
  EXPECT_EQ(walker.taken(), 3u);
}

TEST(FileListFormat, EveryCutOfAListEndsTheWalkCleanly) {
  const std::vector<uint8_t> full = builder::WriteList(ThreeKinds());
  for (size_t size = 0; size < full.size(); ++size) {
    // An exact-size copy, so that the sanitizer sees any read past it.
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
    FileListWalker walker;
    if (!walker.Begin(cut.data(), cut.size())) {
      EXPECT_LT(size, format::kListCountSize);
      continue;
    }
    ListEntry entry;
    while (walker.Next(&entry)) {
    }
    EXPECT_TRUE(walker.failed()) << size;
    EXPECT_LT(walker.taken(), 3u) << size;
  }
}

TEST(FileListFormat, ACountBeyondTheEntriesFailsAfterTheRealOnes) {
  std::vector<uint8_t> list = builder::WriteList(ThreeKinds());
  StoreU16(list.data(), 0xFFFF);
  FileListWalker walker;
  ASSERT_TRUE(walker.Begin(list.data(), list.size()));
  EXPECT_EQ(walker.count(), 0xFFFFu) << "the passes read the count unsigned";
  ListEntry entry;
  int taken = 0;
  while (walker.Next(&entry)) ++taken;
  EXPECT_EQ(taken, 3);
  EXPECT_TRUE(walker.failed());
}

TEST(FileListFormat, StringsMayCarryTheirTerminator) {
  // L = 4 for "A.B" and its 0: the reader adds no second terminator and keeps the text.
  std::vector<uint8_t> list = {1,   0,    0,   0,    0,   0,    1,   0, 0, 0, 0,   10,  '1', '\\',
                               '_', '\\', 'x', '\\', 'y', '\\', 'z', 0, 0, 4, 'A', '.', 'B', 0};
  FileListWalker walker;
  ASSERT_TRUE(walker.Begin(list.data(), list.size()));
  ListEntry entry;
  ASSERT_TRUE(walker.Next(&entry));
  EXPECT_STREQ(entry.new_data_path, "1\\_\\x\\y\\z");
  EXPECT_STREQ(entry.new_name, "A.B");
  EXPECT_STREQ(entry.old_name, "");

  char out[kListStringBufferSize];
  std::vector<uint8_t> longest(255, 'q');
  CopyListString(longest.data(), longest.size(), out);
  EXPECT_EQ(std::strlen(out), 255u);
}

TEST(FileListFormat, ListPathsAndWriterLimits) {
  char path[kListPathBufferSize];
  FormatListPath(1, path);
  EXPECT_STREQ(path, "1\\list.dat");
  FormatListPath(999, path);
  EXPECT_STREQ(path, "999\\list.dat");
  FormatListPath(-2147483647 - 1, path);
  EXPECT_STREQ(path, "-2147483648\\list.dat");

  EXPECT_NE(builder::CheckList({{1, 2, std::string(256, 'p'), "", "", ""}}), "");
  EXPECT_EQ(builder::CheckList({{1, 2, std::string(255, 'p'), "", "", ""}}), "");
  EXPECT_NE(builder::CheckList(std::vector<ListEntryDescription>(32768)), "");
  EXPECT_EQ(builder::CheckList(std::vector<ListEntryDescription>(32767)), "");
}

// Splits a whole-file stream into its blocks; fails the test on a malformed one.
std::vector<uint8_t> ParseWholeFileStream(const std::vector<uint8_t>& stream,
                                          format::EntryHeader* header) {
  std::vector<uint8_t> content;
  EXPECT_TRUE(format::ParseEntryHeader(stream.data(), stream.size(), header));
  size_t pos = format::kEntryHeaderSize;
  while (pos < stream.size()) {
    EXPECT_LE(pos + 2, stream.size());
    if (pos + 2 > stream.size()) break;
    const uint16_t n = LoadU16(stream.data() + pos);
    EXPECT_LE(n, format::kWholeFileBlockSize);
    EXPECT_GT(n, 0) << "no empty blocks";
    EXPECT_LE(pos + 2 + n, stream.size());
    if (pos + 2 + n > stream.size()) break;
    content.insert(content.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                   stream.begin() + static_cast<std::ptrdiff_t>(pos + 2 + n));
    pos += 2 + n;
  }
  return content;
}

TEST(WholeFileStreams, BlocksTileTheContent) {
  format::EntryHeader header;
  header.year = 2003;
  header.month = 11;
  header.day = 12;
  header.hour = 15;
  header.minute = 37;
  header.second = 52;
  header.attributes = 0x21;
  std::mt19937 random(7);
  for (size_t size : {size_t{0}, size_t{1}, size_t{32767}, size_t{32768}, size_t{32772},
                      size_t{65534}, size_t{100000}}) {
    std::vector<uint8_t> content(size);
    for (auto& b : content) b = static_cast<uint8_t>(random());
    const std::vector<uint8_t> stream =
        builder::WriteWholeFileStream(header, content.data(), content.size());
    EXPECT_EQ(stream.size(), builder::WholeFileStreamSize(size));
    format::EntryHeader parsed;
    EXPECT_EQ(ParseWholeFileStream(stream, &parsed), content) << size;
    EXPECT_EQ(parsed, header);
  }
  EXPECT_EQ(builder::WholeFileStreamSize(0), 12u);
  EXPECT_EQ(builder::WholeFileStreamSize(32772), 12u + 2 + 32767 + 2 + 5);
}

TEST(WholeFileStreams, AnyPieceEqualsThatPartOfTheWholeStream) {
  format::EntryHeader header;
  std::mt19937 random(11);
  std::vector<uint8_t> content(80000);
  for (auto& b : content) b = static_cast<uint8_t>(random());
  const std::vector<uint8_t> whole =
      builder::WriteWholeFileStream(header, content.data(), content.size());
  const builder::ContentSource source = [&](uint64_t offset, uint8_t* out, size_t size) {
    EXPECT_LE(offset + size, content.size());
    std::memcpy(out, content.data() + offset, size);
    return true;
  };
  for (int i = 0; i < 300; ++i) {
    const size_t offset = random() % whole.size();
    const size_t size = random() % (whole.size() - offset + 1);
    std::vector<uint8_t> piece(size);
    ASSERT_TRUE(
        builder::FillWholeFileStream(header, content.size(), source, offset, piece.data(), size));
    EXPECT_TRUE(
        std::equal(piece.begin(), piece.end(), whole.begin() + static_cast<std::ptrdiff_t>(offset)))
        << offset << "+" << size;
  }
  uint8_t past[4];
  EXPECT_FALSE(builder::FillWholeFileStream(header, content.size(), source, whole.size(), past,
                                            sizeof past));
  const builder::ContentSource failing = [](uint64_t, uint8_t*, size_t) { return false; };
  EXPECT_FALSE(
      builder::FillWholeFileStream(header, content.size(), failing, 100, past, sizeof past));
}

}  // namespace
}  // namespace gp
