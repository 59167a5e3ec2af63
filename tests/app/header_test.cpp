// The package header: the writer's bytes, the loader's tables, and headers that do not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/package_loader.h"
#include "base/endian.h"
#include "base/texts.h"
#include "builder/header_writer.h"
#include "format/header_layout.h"
#include "format/trailer.h"
#include "storage/folder_journal.h"
#include "support/test_support.h"
#include "update/package_tables.h"

namespace gp {
namespace {

using builder::GenerationDescription;
using builder::GroupDescription;
using builder::HeaderDescription;
using test::Cp932;

// Two generations, no additional groups: the shape of the smallest ordinary package.
HeaderDescription TwoGenerationHeader() {
  HeaderDescription desc;
  desc.reserved_04 = 1;
  desc.folder_choice = 1;
  desc.version_check = 1;
  desc.reserved_18 = 1;
  desc.comment = Cp932("アップデート");                         // 12 bytes
  desc.caption = Cp932("サンプルアップデート") + "ABC";          // 23 bytes
  desc.default_folder = "C:\\Program Files\\Sample Company\\App 1";  // 37 bytes
  desc.default_folder += std::string(45 - desc.default_folder.size(), 'x');
  desc.generations = {{Cp932("1世代"), "", {}}, {Cp932("2世代"), "", {}}};
  return desc;
}

void Append(std::vector<uint8_t>& v, std::initializer_list<uint32_t> words) {
  for (uint32_t w : words) {
    uint8_t b[4];
    StoreU32(b, w);
    v.insert(v.end(), b, b + 4);
  }
}

void AppendText(std::vector<uint8_t>& v, const std::string& text) {
  v.insert(v.end(), text.begin(), text.end());
  v.push_back(0);
}

TEST(HeaderWriter, TwoGenerationHeaderIs193BytesLaidOutFieldByField) {
  const HeaderDescription desc = TwoGenerationHeader();
  ASSERT_EQ(builder::CheckHeader(desc), "");
  // Built by hand from the layout: fixed words, counts, text lengths, table offset, texts, and
  // two 27-byte records.
  std::vector<uint8_t> expected;
  Append(expected, {193, 1, 0, 0, 1, 1, 1, 0});
  Append(expected, {2, 0});  // generation count (i16 + padding), group count (i16 + padding)
  Append(expected, {13, 24, 46, 139});
  AppendText(expected, desc.comment);
  AppendText(expected, desc.caption);
  AppendText(expected, desc.default_folder);
  for (const char* name : {"1世代", "2世代"}) {
    Append(expected, {27, 0, 6, 1, 27});
    AppendText(expected, Cp932(name));
    expected.push_back(0);  // empty comment
  }
  ASSERT_EQ(expected.size(), 193u);
  EXPECT_EQ(builder::WriteHeader(desc), expected);
}

TEST(HeaderWriter, TrailersCarryLengthsAndMagic) {
  const auto exe = format::ExecutableTrailer(27899, 193);
  ASSERT_EQ(exe.size(), 21u);
  EXPECT_EQ(LoadU32(exe.data()), 27899u);
  EXPECT_EQ(LoadU32(exe.data() + 4), 193u);
  EXPECT_EQ(std::string(exe.begin() + 8, exe.end()), "SDIFF(Ver1.0)");
  const auto data = format::DataFileTrailer(193);
  ASSERT_EQ(data.size(), 17u);
  EXPECT_EQ(LoadU32(data.data()), 193u);
  EXPECT_EQ(std::string(data.begin() + 4, data.end()), "SDIFF(Ver1.0)");
}

TEST(HeaderWriter, CheckRefusesWhatTheFormatCannotHold) {
  HeaderDescription desc = TwoGenerationHeader();
  desc.caption = std::string(256, 'a');
  EXPECT_NE(builder::CheckHeader(desc), "");
  desc = TwoGenerationHeader();
  desc.caption = std::string(255, 'a');
  EXPECT_EQ(builder::CheckHeader(desc), "");
  desc.group_count = 1;
  desc.generations[0].groups = {{"a", "", "C:\\a"}, {"b", "", "C:\\b"}};
  EXPECT_NE(builder::CheckHeader(desc), "");
  desc.generations[0].groups = {{"a", "", std::string(260, 'f')}};
  EXPECT_NE(builder::CheckHeader(desc), "");
  desc.generations[0].groups = {{"a", "", std::string(259, 'f')}};
  EXPECT_EQ(builder::CheckHeader(desc), "");
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ReplayFolderJournal(context().journal);
    ui_.Renew();
  }

  // Writes a package data file: payload bytes, header, 17-byte trailer.
  std::string WriteDataFile(const std::vector<uint8_t>& header,
                            const std::vector<uint8_t>& payload = {1, 2, 3}) {
    std::vector<uint8_t> file = payload;
    file.insert(file.end(), header.begin(), header.end());
    const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(header.size()));
    file.insert(file.end(), trailer.begin(), trailer.end());
    test::WriteBytes(dir_ / "package.dat", file);
    return dir_.Program("package.dat");
  }

  bool LoadNamed(const std::string& path) { return LoadPackageHeader(context(), path.c_str()); }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::TempDir dir_;
  test::ScriptedRun ui_;
};

TEST_F(LoaderTest, ExecutableLayoutLoadsTheWorkedExample) {
  const auto header = builder::WriteHeader(TwoGenerationHeader());
  std::vector<uint8_t> file(65536, 0x90);                // program image
  file.insert(file.end(), 27899, 0x55);                  // payload
  file.insert(file.end(), header.begin(), header.end());
  const auto trailer = format::ExecutableTrailer(27899, 193);
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "package.exe", file);

  ASSERT_TRUE(AllocateTextBuffers(context().package));
  ASSERT_TRUE(ReadPackageHeader(context(), dir_.Program("package.exe").c_str(), /*named=*/false));
  const PackageTables& p = context().package;
  EXPECT_EQ(p.header_length, 193u);
  EXPECT_EQ(p.generation_count, 2);
  EXPECT_EQ(p.group_count, 0);
  EXPECT_EQ(p.groups, nullptr);
  EXPECT_TRUE(p.FolderChoice());
  EXPECT_TRUE(p.VersionCheck());
  EXPECT_FALSE(p.FileRemoval());
  EXPECT_FALSE(p.Backup());
  EXPECT_FALSE(p.Restart());
  EXPECT_EQ(test::Utf8(p.generations[0].name), "1世代");
  EXPECT_EQ(test::Utf8(p.generations[1].name), "2世代");
  EXPECT_STREQ(p.generations[1].comment, "");
  EXPECT_EQ(test::Utf8(p.Text(kSlotProjectComment)), "アップデート");
  EXPECT_EQ(std::string(p.Text(kSlotDefaultFolder)), TwoGenerationHeader().default_folder);
  EXPECT_TRUE(ui_->messages().empty());
}

TEST_F(LoaderTest, DataFileLayoutLoadsFlagsTextsAndGroupTable) {
  HeaderDescription desc = TwoGenerationHeader();
  desc.file_removal = 1;
  desc.backup = 2;  // only 1 counts
  desc.folder_choice = 0;
  desc.restart = 7;
  desc.group_count = 3;
  desc.generations[0].groups = {{"data", Cp932("データ"), "C:\\Data"}};
  desc.generations[1].groups = {{"data", "", "D:\\Data2"}, {"", "", ""}, {"Help", "c", "C:\\H"}};
  ASSERT_TRUE(LoadNamed(WriteDataFile(builder::WriteHeader(desc))));
  PackageTables& p = context().package;
  EXPECT_TRUE(p.FileRemoval());
  EXPECT_FALSE(p.Backup());
  EXPECT_FALSE(p.FolderChoice());
  EXPECT_TRUE(p.Restart());
  ASSERT_NE(p.groups, nullptr);
  EXPECT_EQ(p.generations[0].entry_count, 1);
  EXPECT_EQ(p.generations[1].entry_count, 3);
  // Generation 0 fills column 0 only; columns 1 and 2 stay empty.
  EXPECT_TRUE(p.Cell(0, 0)->filled);
  EXPECT_STREQ(p.Cell(0, 0)->name, "data");
  EXPECT_EQ(test::Utf8(p.Cell(0, 0)->comment), "データ");
  EXPECT_STREQ(p.Cell(0, 0)->folder, "C:\\Data");
  for (int k : {1, 2}) {
    EXPECT_FALSE(p.Cell(0, k)->filled);
    EXPECT_EQ(p.Cell(0, k)->name, nullptr);
    EXPECT_EQ(p.Cell(0, k)->folder, nullptr);
  }
  EXPECT_STREQ(p.Cell(1, 0)->folder, "D:\\Data2");
  EXPECT_EQ(p.Cell(1, 0)->comment, nullptr);  // empty comment: no view
  EXPECT_EQ(p.Cell(1, 1)->name, nullptr);     // empty name: no view
  ASSERT_NE(p.Cell(1, 1)->folder, nullptr);
  EXPECT_STREQ(p.Cell(1, 1)->folder, "");
  EXPECT_STREQ(p.Cell(1, 2)->name, "Help");
  EXPECT_EQ(p.Cell(2, 0), nullptr);  // outside the table
  ReleaseGenerationTables(context().package);
  EXPECT_EQ(p.groups, nullptr);
  ReleaseGenerationTables(context().package);  // a second release releases nothing twice
}

TEST_F(LoaderTest, TextsOf255BytesFillTheirSlotsExactly) {
  HeaderDescription desc = TwoGenerationHeader();
  desc.comment = std::string(255, 'c');
  desc.caption = std::string(254, 'x') + "z";
  desc.default_folder = std::string(255, 'f');
  ASSERT_TRUE(LoadNamed(WriteDataFile(builder::WriteHeader(desc))));
  const char* caption = context().package.Text(kSlotMessageCaption);
  EXPECT_EQ(caption[254], 'z');
  EXPECT_EQ(caption[255], '\0');
  EXPECT_EQ(std::string(context().package.Text(kSlotProjectComment)), desc.comment);
  EXPECT_EQ(std::string(context().package.Text(kSlotDefaultFolder)), desc.default_folder);
}

TEST_F(LoaderTest, MissingFileAndWrongMagicShowTheirMessages) {
  EXPECT_FALSE(LoadNamed(dir_.Program("missing.dat")));
  std::vector<uint8_t> not_a_package(100, 'a');
  test::WriteBytes(dir_ / "plain.dat", not_a_package);
  ui_.Renew();
  EXPECT_FALSE(LoadNamed(dir_.Program("plain.dat")));
  test::WriteBytes(dir_ / "tiny.dat", {'S', 'D'});
  ui_.Renew();
  EXPECT_FALSE(LoadNamed(dir_.Program("tiny.dat")));
  const auto lines = ui_.Transcript();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "解凍エラー!: 自動解凍を実行できません。");
  EXPECT_EQ(lines[1], "解凍エラー!: 無効なデータファイルです。");
  EXPECT_EQ(lines[2], "解凍エラー!: 無効なデータファイルです。");
  for (const auto& m : ui_->messages()) EXPECT_EQ(m.type, ui::kMbOk);
}

TEST_F(LoaderTest, HeaderLongerThanTheFileFailsWithoutMessage) {
  std::vector<uint8_t> file(40, 0);
  const auto trailer = format::DataFileTrailer(1000);
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "short.dat", file);
  EXPECT_FALSE(LoadNamed(dir_.Program("short.dat")));
  EXPECT_TRUE(ui_->messages().empty());
}

// Every field that locates something, pointed outside the block or its buffers: the header is
// refused as an invalid data file and the tables stay empty.
TEST_F(LoaderTest, InconsistentHeadersAreRefused) {
  HeaderDescription desc = TwoGenerationHeader();
  desc.group_count = 1;
  desc.generations[0].groups = {{"grp", "comment", "C:\\G"}};
  const std::vector<uint8_t> good = builder::WriteHeader(desc);
  const size_t record0 = LoadU32(good.data() + layout::kGenerationTableOffset);
  const size_t name0 = LoadU32(good.data() + record0 + layout::kRecordNameLength);
  const size_t entry0 = record0 + layout::kRecordTexts + name0 + 1;  // empty comment
  const size_t folder0 = entry0 + layout::kEntryTexts + 4 + 8;       // "grp", "comment"

  struct Mutation {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
  };
  auto set32 = [](size_t at, uint32_t v) {
    return [at, v](std::vector<uint8_t>& h) { StoreU32(&h[at], v); };
  };
  auto set16 = [](size_t at, uint16_t v) {
    return [at, v](std::vector<uint8_t>& h) { StoreU16(&h[at], v); };
  };
  const std::vector<Mutation> mutations = {
      {"comment length past the block", set32(layout::kCommentLength, 100000)},
      {"comment length 0", set32(layout::kCommentLength, 0)},
      {"caption length past the block", set32(layout::kCaptionLength, 0xFFFFFFF0u)},
      {"table offset past the block", set32(layout::kGenerationTableOffset, 100000)},
      {"negative generation count", set16(layout::kGenerationCount, 0xFFFF)},
      {"more generations than records", set16(layout::kGenerationCount, 3)},
      {"negative group count", set16(layout::kGroupCount, 0x8000)},
      {"record size past the block", set32(record0 + layout::kRecordSize, 5000)},
      {"generation name past the record", set32(record0 + layout::kRecordNameLength, 300)},
      {"generation name without NUL",
       [&](std::vector<uint8_t>& h) { h[record0 + layout::kRecordTexts + name0 - 1] = 'x'; }},
      {"entry count above the group count",
       [&](std::vector<uint8_t>& h) { h[record0 + layout::kRecordEntryCount] = 2; }},
      {"entry size past the record", set32(entry0 + layout::kEntrySize, 4000)},
      {"group name past the entry", set32(entry0 + layout::kEntryNameLength, 4000)},
      {"group comment past the entry", set32(entry0 + layout::kEntryCommentLength, 0x7FFFFFFF)},
      {"folder without NUL",
       [&](std::vector<uint8_t>& h) { std::memset(&h[folder0], 'x', 5); }},
      {"fixed part cut short", [](std::vector<uint8_t>& h) { h.resize(0x30); }},
      {"texts cut short", [](std::vector<uint8_t>& h) { h.resize(0x40); }},
  };
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.what);
    std::vector<uint8_t> header = good;
    m.apply(header);
    ui_.Renew();
    ui_->Clear();
    EXPECT_FALSE(LoadNamed(WriteDataFile(header)));
    ASSERT_EQ(ui_.Transcript().size(), 1u);
    EXPECT_EQ(ui_.Transcript()[0], "解凍エラー!: 無効なデータファイルです。");
    EXPECT_EQ(context().package.generations, nullptr);
    EXPECT_EQ(context().package.groups, nullptr);
    ReplayFolderJournal(context().journal);
  }
}

TEST_F(LoaderTest, TextLongerThanItsSlotIsRefused) {
  HeaderDescription desc = TwoGenerationHeader();
  std::vector<uint8_t> header = builder::WriteHeader(desc);
  // Grow the comment to 256 bytes plus NUL by rewriting the block around it.
  const std::string comment(256, 'c');
  std::vector<uint8_t> grown(header.begin(), header.begin() + layout::kTexts);
  grown.insert(grown.end(), comment.begin(), comment.end());
  grown.push_back(0);
  const size_t old_comment = LoadU32(header.data() + layout::kCommentLength);
  grown.insert(grown.end(), header.begin() + layout::kTexts + old_comment, header.end());
  StoreU32(&grown[layout::kCommentLength], 257);
  StoreU32(&grown[layout::kGenerationTableOffset],
           LoadU32(header.data() + layout::kGenerationTableOffset) + 257 -
               static_cast<uint32_t>(old_comment));
  EXPECT_FALSE(LoadNamed(WriteDataFile(grown)));
  EXPECT_EQ(ui_.Transcript().size(), 1u);
}

TEST_F(LoaderTest, UnreadWordsAndLengthsAreIgnored) {
  HeaderDescription desc = TwoGenerationHeader();
  std::vector<uint8_t> header = builder::WriteHeader(desc);
  StoreU32(&header[layout::kHeaderLength], 0xDEADBEEF);
  StoreU32(&header[layout::kDefaultFolderLength], 0xDEADBEEF);
  const size_t record0 = LoadU32(header.data() + layout::kGenerationTableOffset);
  StoreU32(&header[record0 + layout::kRecordEntriesOffset], 0xDEADBEEF);
  EXPECT_TRUE(LoadNamed(WriteDataFile(header)));
  EXPECT_EQ(std::string(context().package.Text(kSlotDefaultFolder)), desc.default_folder);
}

TEST_F(LoaderTest, NoGenerationsLoads) {
  HeaderDescription desc = TwoGenerationHeader();
  desc.generations.clear();
  ASSERT_TRUE(LoadNamed(WriteDataFile(builder::WriteHeader(desc))));
  EXPECT_EQ(context().package.generation_count, 0);
}

}  // namespace
}  // namespace gp
