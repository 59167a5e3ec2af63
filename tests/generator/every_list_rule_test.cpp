// Which files the lists name and how: a file that some list writes is named in every list where
// it exists on either side (unchanged steps as one-command identity diffs), untouched files are
// in no list, additions are whole files, changes are diffs, removals carry no stream; and how
// the file-removal flag changes what the earlier lists carry.
#include <gtest/gtest.h>

#include "builder/diff_apply.h"
#include "builder/whole_file_writer.h"
#include "codec/crc32.h"
#include "format/data_stream.h"
#include "generator_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;

uint32_t Crc(const std::string& s) {
  return s.empty() ? 0xFFFFFFFFu : Crc32Update(0, s.data(), static_cast<int64_t>(s.size()));
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>('a' + (x >> 16) % 26);
  }
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class EveryListRuleTest : public ::testing::Test {
 protected:
  builder::GeneratedPackage Generate(const std::vector<Files>& releases, bool removal = true) {
    std::vector<fs::path> folders;
    for (size_t i = 0; i < releases.size(); ++i) {
      folders.push_back(dir_ / ("r" + std::to_string(i)));
      test::WriteRelease(folders.back(), releases[i]);
    }
    builder::GeneratorInput input = builder::InputFromFolders(folders);
    input.file_removal = removal;
    return builder::GeneratePackage(input, dir_ / "scratch");
  }

  // The stream an entry names, applied to old (a diff) or read as a whole file.
  std::string Rebuild(const builder::GeneratedPackage& p, const test::Entry& e, const std::string& old) {
    std::vector<uint8_t> stream;
    EXPECT_TRUE(test::StreamBytes(p, test::Cp932(e.new_data_path), &stream)) << e.new_data_path;
    std::vector<uint8_t> out;
    if (e.old_crc == 0) {
      // Whole file: blocks after the 12-byte header.
      size_t at = format::kEntryHeaderSize;
      while (at + 2 <= stream.size()) {
        const size_t n = stream[at] | (stream[at + 1] << 8);
        out.insert(out.end(), stream.begin() + static_cast<long>(at + 2),
                   stream.begin() + static_cast<long>(at + 2 + n));
        at += 2 + n;
      }
      EXPECT_EQ(at, stream.size());
    } else {
      EXPECT_EQ(builder::ApplyDiff(Bytes(old), stream, &out), builder::DiffStatus::kOk);
    }
    return std::string(out.begin(), out.end());
  }

  size_t StreamSize(const builder::GeneratedPackage& p, const test::Entry& e) {
    std::vector<uint8_t> stream;
    EXPECT_TRUE(test::StreamBytes(p, test::Cp932(e.new_data_path), &stream));
    return stream.size();
  }

  test::TempDir dir_;
};

TEST_F(EveryListRuleTest, WrittenFilesAreInEveryListAndUntouchedFilesInNone) {
  const std::string big = Pattern(40000, 1);
  const Files r0 = {{"same.txt", "x"}, {"late.txt", "v0"}, {"empty.txt", ""}, {"big.bin", big}};
  Files r1 = r0;
  Files r2 = r0;
  r2["new.txt"] = "fresh";
  Files r3 = r2;
  r3["late.txt"] = "v3 is longer";
  r3["empty.txt"] = "e";
  r3["big.bin"] = big + "tail";
  const builder::GeneratedPackage p = Generate({r0, r1, r2, r3});
  ASSERT_EQ(p.steps.size(), 3u);

  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    const std::vector<test::Entry> list = test::ReadList(p, k);
    EXPECT_EQ(test::FindEntry(list, "same.txt"), nullptr) << "never written: in no list";
    for (const char* name : {"late.txt", "empty.txt", "big.bin"}) {
      const test::Entry* e = test::FindEntry(list, name);
      ASSERT_NE(e, nullptr) << name;
      const std::string old = (k == 1 ? r0 : k == 2 ? r1 : r2).at(name);
      const std::string now = (k == 1 ? r1 : k == 2 ? r2 : r3).at(name);
      EXPECT_EQ(e->old_crc, Crc(old)) << name;
      EXPECT_EQ(e->new_crc, Crc(now)) << name;
      EXPECT_EQ(Rebuild(p, *e, old), now) << name;
      if (k < 3) {
        // One copy of the whole old file: nothing (empty), a short copy, or a long copy.
        const size_t expected = old.empty() ? 12 : old.size() <= 0x7FFF ? 18 : 22;
        EXPECT_EQ(StreamSize(p, *e), expected) << name;
      }
    }
    const test::Entry* added = test::FindEntry(list, "new.txt");
    if (k == 1) {
      EXPECT_EQ(added, nullptr) << "not on either side of list 1";
    } else {
      ASSERT_NE(added, nullptr);
      EXPECT_EQ(added->old_crc, k == 2 ? 0u : Crc("fresh"));
      EXPECT_EQ(added->old_data_path.empty(), k == 2);
      EXPECT_EQ(Rebuild(p, *added, "fresh"), "fresh");
    }
  }
  EXPECT_EQ(p.steps[0].carried, 3u);
  EXPECT_EQ(p.steps[1].added, 1u);
  EXPECT_EQ(p.steps[2].changed, 3u);
  EXPECT_EQ(p.steps[2].carried, 1u);
}

TEST_F(EveryListRuleTest, RemovalFlagOnCarriesRemovedFilesInTheEarlierLists) {
  const Files r0 = {{"keep.txt", "k"}, {"gone.txt", "g"}, {"changed_then_gone.txt", "a"}};
  const Files r1 = {{"keep.txt", "k"}, {"gone.txt", "g"}, {"changed_then_gone.txt", "b"}};
  const Files r2 = {{"keep.txt", "k2"}};
  const builder::GeneratedPackage p = Generate({r0, r1, r2}, true);
  const auto list1 = test::ReadList(p, 1);
  const auto list2 = test::ReadList(p, 2);
  const test::Entry* carried = test::FindEntry(list1, "gone.txt");
  ASSERT_NE(carried, nullptr) << "the removal in list 2 needs the file in list 1";
  EXPECT_EQ(carried->old_crc, carried->new_crc);
  ASSERT_NE(test::FindEntry(list1, "changed_then_gone.txt"), nullptr);
  for (const char* name : {"gone.txt", "changed_then_gone.txt"}) {
    const test::Entry* removal = test::FindEntry(list2, name);
    ASSERT_NE(removal, nullptr) << name;
    EXPECT_EQ(removal->new_crc, 0u);
    EXPECT_NE(removal->old_crc, 0u);
    EXPECT_TRUE(removal->new_data_path.empty());
    EXPECT_TRUE(removal->new_name.empty());
    EXPECT_FALSE(removal->old_data_path.empty());
    std::vector<uint8_t> none;
    EXPECT_FALSE(test::StreamBytes(p, "2\\_\\" + std::to_string(removal - list2.data()) + ".", &none))
        << "a removal has no stream";
  }
  EXPECT_EQ(p.steps[1].removed, 2u);
}

TEST_F(EveryListRuleTest, RemovalFlagOffLeavesRemovedFilesOutOfTheEarlierLists) {
  const Files r0 = {{"keep.txt", "k"}, {"gone.txt", "g"}, {"changed_then_gone.txt", "a"}};
  const Files r1 = {{"keep.txt", "k"}, {"gone.txt", "g"}, {"changed_then_gone.txt", "b"}};
  const Files r2 = {{"keep.txt", "k2"}};
  const builder::GeneratedPackage p = Generate({r0, r1, r2}, false);
  const auto list1 = test::ReadList(p, 1);
  EXPECT_EQ(test::FindEntry(list1, "gone.txt"), nullptr);
  EXPECT_EQ(test::FindEntry(list1, "changed_then_gone.txt"), nullptr)
      << "a write that the removal drops again would only make the commit retire the file";
  ASSERT_NE(test::FindEntry(list1, "keep.txt"), nullptr);
  const auto list2 = test::ReadList(p, 2);
  ASSERT_NE(test::FindEntry(list2, "gone.txt"), nullptr);
  EXPECT_EQ(test::FindEntry(list2, "gone.txt")->new_crc, 0u);
}

TEST_F(EveryListRuleTest, FilesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  const builder::GeneratedPackage p =
      Generate({{{"Sub/ReadMe.TXT", "one"}}, {{"SUB/readme.txt", "two"}}});
  const auto list = test::ReadList(p, 1);
  ASSERT_EQ(list.size(), 1u) << "one file changed, not one removed and one added";
  EXPECT_EQ(list[0].old_name, "ReadMe.TXT");
  EXPECT_EQ(list[0].new_name, "readme.txt");
  EXPECT_EQ(list[0].old_data_path, "1\\_\\Sub\\0.");
  EXPECT_EQ(list[0].new_data_path, "1\\_\\SUB\\0.");
  EXPECT_EQ(Rebuild(p, list[0], "one"), "two");
}

TEST_F(EveryListRuleTest, JapaneseNamesWithBackslashTrailBytesKeepTheirSubfoldersVerbatim) {
  const builder::GeneratedPackage p =
      Generate({{}, {{"ソフト/表示/表.txt", "a"}, {"能力/ソ", "b"}, {"十予.dat", "c"}}});
  const auto list = test::ReadList(p, 1);
  ASSERT_EQ(list.size(), 3u);
  const test::Entry* nested = test::FindEntry(list, "表.txt");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->new_data_path.rfind("1\\_\\ソフト\\表示\\", 0), 0u) << nested->new_data_path;
  EXPECT_EQ(Rebuild(p, *nested, ""), "a");
  const test::Entry* so = test::FindEntry(list, "ソ");
  ASSERT_NE(so, nullptr);
  EXPECT_EQ(so->new_data_path.rfind("1\\_\\能力\\", 0), 0u);
  EXPECT_EQ(Rebuild(p, *so, ""), "b");
  ASSERT_NE(test::FindEntry(list, "十予.dat"), nullptr);
}

TEST_F(EveryListRuleTest, EntryHeaderCarriesLocalTimeAndReadOnly) {
  test::WriteRelease(dir_ / "a", {});
  test::WriteRelease(dir_ / "b", {{"plain.txt", "p"}, {"locked.txt", "l"}});
  std::tm fields = {};
  fields.tm_year = 2003 - 1900;
  fields.tm_mon = 10;
  fields.tm_mday = 12;
  fields.tm_hour = 15;
  fields.tm_min = 37;
  fields.tm_sec = 52;
  fields.tm_isdst = -1;
  const std::time_t t = std::mktime(&fields);
  const auto when = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t));
  fs::last_write_time(dir_ / "b" / "plain.txt", when);
  fs::permissions(dir_ / "b" / "locked.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const builder::GeneratedPackage p =
      builder::GeneratePackage(builder::InputFromFolders({dir_ / "a", dir_ / "b"}), dir_ / "s");
  const auto list = test::ReadList(p, 1);
  for (const test::Entry& e : list) {
    std::vector<uint8_t> stream;
    ASSERT_TRUE(test::StreamBytes(p, test::Cp932(e.new_data_path), &stream));
    format::EntryHeader header;
    ASSERT_TRUE(format::ParseEntryHeader(stream.data(), stream.size(), &header));
    if (e.new_name == "plain.txt") {
      EXPECT_EQ(header.year, 2003);
      EXPECT_EQ(header.month, 11);
      EXPECT_EQ(header.day, 12);
      EXPECT_EQ(header.hour, 15);
      EXPECT_EQ(header.minute, 37);
      EXPECT_EQ(header.second, 52);
      EXPECT_EQ(header.attributes, 0x20u);
    } else {
      EXPECT_EQ(header.attributes, 0x21u) << "archive and read-only";
    }
  }
}

// The classic package of TwoBuildsGiveTheSameBytes: its bytes change only on purpose.
constexpr size_t kClassicPinSize = 1027;
constexpr uint32_t kClassicPinCrc = 0x88A1D10Fu;

TEST_F(EveryListRuleTest, TwoBuildsGiveTheSameBytes) {
  const std::string big = Pattern(100000, 3);
  std::string changed = big;
  changed.replace(5000, 10, "0123456789");
  test::WriteRelease(dir_ / "a", {{"x/big.bin", big}, {"y.txt", "y"}, {"z/表/ソ.txt", "z"}});
  test::WriteRelease(dir_ / "b", {{"x/big.bin", changed}, {"y.txt", "yy"}, {"w.txt", "w"}});
  test::WriteRelease(dir_ / "c", {{"x/big.bin", changed + "!"}, {"w.txt", "w"}});
  for (const builder::PackageFormat format :
       {builder::PackageFormat::kClassic, builder::PackageFormat::kCompact}) {
    std::vector<std::vector<uint8_t>> outputs;
    for (int i = 0; i < 2; ++i) {
      builder::GeneratorInput input =
          builder::InputFromFolders({dir_ / "a", dir_ / "b", dir_ / "c"});
      input.format = format;
      builder::GeneratedPackage p =
          builder::GeneratePackage(input, dir_ / ("s" + std::to_string(i)));
      p.desc.layout = builder::PackageLayout::kDataFile;
      const fs::path out = dir_ / ("p" + std::to_string(i) + ".dat");
      ASSERT_EQ(builder::WritePackage(p.desc, out), "");
      outputs.push_back(test::ReadBytes(out));
    }
    EXPECT_GT(outputs[0].size(), 100u);
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_FALSE(fs::exists(dir_ / "s0")) << "the scratch file of diffs is removed";
    if (format == builder::PackageFormat::kClassic) {
      // The classic format's bytes are pinned: they change only on purpose.
      EXPECT_EQ(outputs[0].size(), kClassicPinSize);
      EXPECT_EQ(Crc32Update(0, outputs[0].data(), static_cast<int64_t>(outputs[0].size())),
                kClassicPinCrc);
    }
  }
}

}  // namespace
}  // namespace gp
