// Which generation is installed: lists read field by field from the work docfile, checked
// against the files on disk.
#include "update/detection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/list_writer.h"
#include "storage/docfile_access.h"
#include "storage/work_docfile.h"
#include "update/package_tables.h"
#include "update_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using builder::ListEntryDescription;
using test::Bytes;
using test::Crc;

// The content of file `name` in generation g.
std::vector<uint8_t> Content(const std::string& name, int g) {
  return Bytes(name + " of generation " + std::to_string(g));
}

class DetectionTest : public ::testing::Test {
 protected:
  void TearDown() override { run_.Renew(); }

  void Install(int generations, uint32_t file_removal = 0) {
    test::InstallPackage(context().package, test::MakeHeader(generations, 1, file_removal),
                         dest_.Program());
  }
  void Lists(const std::map<int, std::vector<uint8_t>>& lists,
             std::map<std::string, std::vector<uint8_t>> extra = {}) {
    for (const auto& [k, bytes] : lists) extra[std::to_string(k) + "\\list.dat"] = bytes;
    test::InstallWorkDocfile(context().work_docfile, work_, extra);
  }
  // Puts the files of generation g on disk (and removes others).
  void Disk(int g, const std::vector<std::string>& names) {
    for (const auto& entry : fs::directory_iterator(dest_.path())) fs::remove_all(entry.path());
    for (const std::string& name : names) test::WriteBytes(dest_ / name, Content(name, g));
  }
  // A list that changes every named file from generation k-1 to k.
  static std::vector<uint8_t> ChangeList(int k, const std::vector<std::string>& names) {
    std::vector<ListEntryDescription> entries;
    for (const std::string& name : names) {
      const std::string data = std::to_string(k) + "\\_\\" + name + ".dif";
      entries.push_back({Crc(Content(name, k - 1)), Crc(Content(name, k)), data, data, name, name});
    }
    return builder::WriteList(entries);
  }

  RunContext& context() { return run_.context(); }

  test::ScriptedRun run_;
  test::TempDir dest_;
  test::TempDir work_;
};

TEST_F(DetectionTest, ThreeGenerationsAreTellApartByTheirFiles) {
  const std::vector<std::string> files = {"MAIN.EXE", "DATA.BIN"};
  Install(3);
  Lists({{1, ChangeList(1, files)}, {2, ChangeList(2, files)}});

  Disk(0, files);
  EXPECT_FALSE(IsLatestInstalled(context()));
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  EXPECT_FALSE(MatchesGeneration(context(), 2));
  EXPECT_EQ(FindInstalledGeneration(context()), 1);

  Disk(1, files);
  EXPECT_FALSE(IsLatestInstalled(context()));
  EXPECT_FALSE(MatchesGeneration(context(), 1));
  EXPECT_EQ(FindInstalledGeneration(context()), 2);

  Disk(2, files);
  EXPECT_TRUE(IsLatestInstalled(context()));

  // One file of generation 1, one of generation 0: no generation matches.
  Disk(0, files);
  test::WriteBytes(dest_ / "DATA.BIN", Content("DATA.BIN", 1));
  EXPECT_FALSE(IsLatestInstalled(context()));
  EXPECT_EQ(FindInstalledGeneration(context()), 0);

  // A missing file fails its check too.
  Disk(1, {"MAIN.EXE"});
  EXPECT_EQ(FindInstalledGeneration(context()), 0);
  EXPECT_FALSE(context().work_docfile.access->has_stream()) << "every list is closed again";
}

TEST_F(DetectionTest, TheOldestMatchingListWins) {
  // List 1 only adds a file: any installation matches it, so the search stops there even when
  // the disk also satisfies list 2.
  Install(3);
  const std::vector<uint8_t> adds = builder::WriteList({{0, 77, "", "1\\_\\n.dat", "", "NEW.TXT"}});
  Lists({{1, adds}, {2, ChangeList(2, {"MAIN.EXE"})}});
  Disk(1, {"MAIN.EXE"});
  EXPECT_TRUE(MatchesGeneration(context(), 2));
  EXPECT_EQ(FindInstalledGeneration(context()), 1);
}

TEST_F(DetectionTest, AnEmptyListMatchesAnyInstallation) {
  Install(2);
  Lists({{1, builder::WriteList({})}});
  Disk(0, {});
  EXPECT_TRUE(IsLatestInstalled(context()));
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  EXPECT_EQ(FindInstalledGeneration(context()), 1);
}

TEST_F(DetectionTest, AdditionsAreNotLookedAtOnTheOldSideButOnTheNewSide) {
  Install(2);
  Lists({{1, builder::WriteList({{0, Crc(Content("A", 1)), "", "1\\_\\a", "", "A"},
                                 {0, Crc(Content("B", 1)), "", "1\\_\\b", "", "B"}})}});
  Disk(0, {});
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  EXPECT_FALSE(IsLatestInstalled(context()));
  Disk(1, {"A", "B"});
  EXPECT_TRUE(IsLatestInstalled(context()));
}

TEST_F(DetectionTest, RemovalsCountOnlyWhenThePackageRemovesFiles) {
  const std::vector<uint8_t> list =
      builder::WriteList({{Crc(Content("OLD.DLL", 0)), 0, "1\\_\\x", "", "OLD.DLL", ""}});
  for (uint32_t flag : {0u, 1u, 2u}) {
    SCOPED_TRACE(flag);
    Install(2, flag);
    Lists({{1, list}});
    Disk(0, {});
    // Only a flag of exactly 1 makes the removal entry take part.
    EXPECT_EQ(MatchesGeneration(context(), 1), flag != 1);
    Disk(0, {"OLD.DLL"});
    EXPECT_TRUE(MatchesGeneration(context(), 1));
    test::WriteBytes(dest_ / "OLD.DLL", Bytes("something else"));
    EXPECT_EQ(MatchesGeneration(context(), 1), flag != 1);
    // The new side has no file to look at.
    EXPECT_TRUE(IsLatestInstalled(context()));
  }
}

TEST_F(DetectionTest, OldAndNewSidesUseTheirOwnGenerationsGroupFolders) {
  test::TempDir old_place;
  test::TempDir new_place;
  builder::HeaderDescription desc = test::MakeHeader(2);
  desc.group_count = 1;
  desc.generations[0].groups = {{"Shared", "", old_place.Program()}};
  desc.generations[1].groups = {{"shared", "", new_place.Program()}};
  test::InstallPackage(context().package, desc, dest_.Program());
  Lists({{1, builder::WriteList({{Crc(Content("S", 0)), Crc(Content("S", 1)), "1\\SHARED\\s",
                                  "1\\SHARED\\s", "S", "S"}})}});
  test::WriteBytes(old_place / "S", Content("S", 0));
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  EXPECT_FALSE(IsLatestInstalled(context()));
  test::WriteBytes(new_place / "S", Content("S", 1));
  EXPECT_TRUE(IsLatestInstalled(context()));
}

TEST_F(DetectionTest, ListsThatCannotBeReadFailTheCheck) {
  Install(3);
  const std::vector<uint8_t> good = ChangeList(1, {"MAIN.EXE"});
  Disk(0, {"MAIN.EXE"});
  // No list at all.
  Lists({}, {{"0\\DiffOption2.dat", {0}}});
  EXPECT_FALSE(MatchesGeneration(context(), 1));
  EXPECT_FALSE(IsLatestInstalled(context()));
  EXPECT_EQ(FindInstalledGeneration(context()), 0);
  // Every cut of the list: the check fails instead of reading past the stream, except where
  // the cut leaves nothing to check.
  for (size_t size = 0; size < good.size(); ++size) {
    Lists({{1,
            std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))}});
    EXPECT_FALSE(MatchesGeneration(context(), 1)) << size;
    EXPECT_FALSE(context().work_docfile.access->has_stream());
  }
  Lists({{1, good}});
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  // A count larger than the entries.
  std::vector<uint8_t> counted = good;
  StoreU16(counted.data(), 2);
  Lists({{1, counted}});
  EXPECT_FALSE(MatchesGeneration(context(), 1));
  // A negative count, read signed, stands for an empty list.
  StoreU16(counted.data(), 0x8000);
  Lists({{1, counted}});
  EXPECT_TRUE(MatchesGeneration(context(), 1));
  // No work docfile at all.
  context().work_docfile.DestroyAccess();
  EXPECT_FALSE(MatchesGeneration(context(), 1));
  EXPECT_FALSE(IsLatestInstalled(context()));
}

TEST_F(DetectionTest, SkippedStringsThatRunPastTheListFail) {
  Install(2);
  // An addition whose last string claims 200 bytes that are not there.
  std::vector<uint8_t> list = builder::WriteList({{0, 5, "", "1\\_\\a", "", "A"}});
  list[list.size() - 2] = 200;
  Lists({{1, list}});
  EXPECT_FALSE(MatchesGeneration(context(), 1));
}

TEST_F(DetectionTest, EntriesWhosePathsLeaveTheirFolderFailTheCheck) {
  Install(2);
  // The file exists where the name points, outside the destination folder.
  test::WriteBytes(dest_.path().parent_path() / "outside.txt", Content("x", 0));
  const uint32_t crc = Crc(Content("x", 0));
  for (const std::string& name :
       {std::string("..\\outside.txt"), std::string("sub\\..\\..\\outside.txt")}) {
    Lists({{1, builder::WriteList({{crc, crc, "1\\_\\x", "1\\_\\x", name, name}})}});
    EXPECT_FALSE(MatchesGeneration(context(), 1)) << name;
    EXPECT_FALSE(IsLatestInstalled(context())) << name;
  }
  fs::remove(dest_.path().parent_path() / "outside.txt");
  // An unknown group and a data path without its token fail too.
  Disk(0, {"F"});
  for (const std::string& data : {std::string("1\\nogroup\\f"), std::string("1\\f")}) {
    Lists({{1, builder::WriteList({{Crc(Content("F", 0)), 9, data, data, "F", "F"}})}});
    EXPECT_FALSE(MatchesGeneration(context(), 1)) << data;
  }
}

TEST_F(DetectionTest, FewerThanTwoGenerationsHaveNoList) {
  Install(1);
  Lists({{1, builder::WriteList({})}});
  EXPECT_EQ(FindInstalledGeneration(context()), 0);
  EXPECT_FALSE(IsLatestInstalled(context()));
  EXPECT_FALSE(MatchesGeneration(context(), 0));
  EXPECT_FALSE(MatchesGeneration(context(), 1));
}

}  // namespace
}  // namespace gp
