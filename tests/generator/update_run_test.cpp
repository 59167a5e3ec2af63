// Packages from the generator, applied by the real update run to installed copies of each
// release: the folder ends up equal to the newest release byte for byte (with the file-removal
// flag off, removed files keep their installed version).
#include <gtest/gtest.h>

#include "generator_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;

std::string Pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>((x >> 16) % 5 == 0 ? x >> 24 : 'a' + (x >> 20) % 3);
  }
  return out;
}

// Four releases: nested Japanese folders and names (several with 0x5C second bytes), a file
// that stays the same until the last step, additions into new folders, a change in every step,
// a removal, a file changed and then removed, an empty file, a large file edited in the middle.
std::vector<Files> Releases() {
  const std::string big = Pattern(150000, 9);
  std::string big2 = big;
  big2.replace(70000, 300, Pattern(300, 4));
  Files r0 = {{"main.exe", Pattern(3000, 1)},
              {"ソフト/表示/設定.ini", "[a]\nx=1\n"},
              {"ソフト/能力.dat", Pattern(500, 2)},
              {"doc/readme.txt", "read me"},
              {"doc/old.txt", "old"},
              {"short_lived.txt", "v0"},
              {"empty.txt", ""},
              {"big.bin", big}};
  Files r1 = r0;
  r1["main.exe"] = Pattern(3000, 1) + "patch1";
  r1["新しい/表紙/十予.txt"] = "added into new folders";
  r1["short_lived.txt"] = "v1";
  Files r2 = r1;
  r2.erase("doc/old.txt");
  r2.erase("short_lived.txt");
  r2["main.exe"] = "x" + Pattern(3000, 1) + "patch2";
  r2["big.bin"] = big2;
  Files r3 = r2;
  r3["ソフト/表示/設定.ini"] = "[a]\nx=2\n";
  r3["empty.txt"] = "now with content";
  r3["ソフト/能力.dat"] = "";
  return {r0, r1, r2, r3};
}

class GeneratedUpdateTest : public ::testing::TestWithParam<bool> {
 protected:
  fs::path Build(const std::vector<Files>& releases, bool removal) {
    std::vector<fs::path> folders;
    for (size_t i = 0; i < releases.size(); ++i) {
      folders.push_back(dir_ / ("rel" + std::to_string(i)));
      test::WriteRelease(folders.back(), releases[i]);
    }
    builder::GeneratorInput input = builder::InputFromFolders(folders);
    input.file_removal = removal;
    return test::WriteDataFile(input, dir_, "package.dat");
  }

  test::TempDir dir_;
};

TEST_P(GeneratedUpdateTest, EveryInstalledReleaseReachesTheNewest) {
  const bool removal = GetParam();
  const std::vector<Files> releases = Releases();
  const fs::path package = Build(releases, removal);
  const Files& newest = releases.back();
  for (size_t g = 0; g < releases.size(); ++g) {
    SCOPED_TRACE("installed release " + std::to_string(g));
    const fs::path dest = dir_ / ("install" + std::to_string(g));
    test::WriteRelease(dest, releases[g]);
    const test::RunResult run = test::RunPackage(package, dest);
    Files expected = newest;
    if (!removal) {
      // Files gone from the newest release stay as installed.
      for (const auto& [path, content] : releases[g]) expected.emplace(path, content);
    }
    if (g + 1 == releases.size()) {
      EXPECT_EQ(run.outcome, RunOutcome::kUpToDate);
    } else {
      EXPECT_EQ(run.outcome, RunOutcome::kCompleted) << testing::PrintToString(run.transcript);
    }
    test::ExpectSameFiles(test::ReadRelease(dest), expected);
    EXPECT_FALSE(fs::exists(dest / "doc" / "old.txt") && removal);
    // Run again: nothing left to do.
    EXPECT_EQ(test::RunPackage(package, dest).outcome, RunOutcome::kUpToDate);
    test::ExpectSameFiles(test::ReadRelease(dest), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(RemovalFlag, GeneratedUpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST(GeneratedGroupsTest, GroupFilesGoToTheGroupFolder) {
  test::TempDir dir;
  const std::vector<Files> releases = {
      {{"app.exe", "a0"}, {"data/table.bin", "t0"}, {"data/sub/keep.txt", "k"}},
      {{"app.exe", "a1"}, {"data/table.bin", "t1"}, {"data/sub/keep.txt", "k"}, {"data/sub/new.txt", "n"}},
  };
  builder::GeneratorInput input;
  for (size_t i = 0; i < releases.size(); ++i) {
    const fs::path folder = dir / ("r" + std::to_string(i));
    test::WriteRelease(folder, releases[i]);
    builder::ReleaseInput release;
    release.name = "r" + std::to_string(i);
    release.folder = folder;
    release.groups.push_back({"Data", "the tables", "C:\\Data", "data"});
    input.releases.push_back(release);
  }
  builder::GeneratedPackage p = builder::GeneratePackage(input, dir / "scratch");
  const auto list = test::ReadList(p, 1);
  ASSERT_EQ(list.size(), 3u) << "app.exe, table.bin, new.txt; keep.txt is untouched";
  const test::Entry* table = test::FindEntry(list, "table.bin");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->new_data_path, "1\\Data\\2.") << "main-folder files sort first";
  const test::Entry* added = test::FindEntry(list, "new.txt");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->new_data_path, "1\\Data\\sub\\1.");
  EXPECT_EQ(test::FindEntry(list, "app.exe")->new_data_path, "1\\_\\0.");

  const fs::path package = test::WriteDataFile(input, dir, "groups.dat");
  const fs::path dest = dir / "app";
  const fs::path data = dir / "data_folder";
  test::WriteRelease(dest, {{"app.exe", "a0"}});
  test::WriteRelease(data, {{"table.bin", "t0"}, {"sub/keep.txt", "k"}});
  const test::RunResult run = test::RunPackage(package, dest, {{"Data", data}});
  EXPECT_EQ(run.outcome, RunOutcome::kCompleted) << testing::PrintToString(run.transcript);
  test::ExpectSameFiles(test::ReadRelease(dest), {{"app.exe", "a1"}});
  test::ExpectSameFiles(test::ReadRelease(data),
                        {{"table.bin", "t1"}, {"sub/keep.txt", "k"}, {"sub/new.txt", "n"}});
}

}  // namespace
}  // namespace gp
