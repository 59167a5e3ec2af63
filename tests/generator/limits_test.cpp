// Every limit of the package format stops the generator with an error that names the file or
// folder at fault; files that no list names are not held to the limits.
#include <gtest/gtest.h>

#include <fstream>

#include "builder/build_error.h"
#include "generator_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;

class GeneratorLimitsTest : public ::testing::Test {
 protected:
  // The error for two releases, or "" when the package could be generated.
  std::string ErrorFor(const Files& first, const Files& second,
                       const std::function<void(builder::GeneratorInput*)>& adjust = nullptr) {
    const fs::path a = dir_ / ("a" + std::to_string(count_));
    const fs::path b = dir_ / ("b" + std::to_string(count_++));
    test::WriteRelease(a, first);
    test::WriteRelease(b, second);
    builder::GeneratorInput input = builder::InputFromFolders({a, b});
    if (adjust) adjust(&input);
    try {
      (void)builder::GeneratePackage(input, dir_ / "scratch");
    } catch (const builder::BuildError& e) {
      return e.what();
    }
    return std::string();
  }

  // True when the file system holds a file of exactly that name (Windows refuses some names,
  // drops a trailing dot, or takes "a:b" for a stream of the file "a").
  bool CanCreate(const std::string& utf8_name) {
    const fs::path folder = dir_ / "probe";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path file = folder / test::PathFromUtf8(utf8_name);
    fs::create_directories(file.parent_path(), ec);
    { std::ofstream out(file); }
    bool found = false;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), ec)) {
      found = found || entry.path().filename() == file.filename();
    }
    fs::remove_all(folder, ec);
    return found;
  }

  test::TempDir dir_;
  int count_ = 0;
};

// Passes when text contains part; the failure shows the whole text.
::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "'" << text << "' does not contain '" << part << "'";
}

TEST_F(GeneratorLimitsTest, NamesThatDifferOnlyInCaseAreRefused) {
  test::WriteRelease(dir_ / "c", {{"Read.me", "1"}});
  if (fs::exists(dir_ / "c" / "READ.ME")) GTEST_SKIP() << "the file system ignores case";
  const std::string error = ErrorFor({}, {{"Read.me", "1"}, {"READ.ME", "2"}});
  EXPECT_TRUE(Contains(error, "Read.me"));
  EXPECT_TRUE(Contains(error, "READ.ME"));
  EXPECT_TRUE(Contains(error, "case"));
  // Folders as well: both would be one folder on Windows.
  EXPECT_TRUE(Contains(ErrorFor({}, {{"sub/a", "1"}, {"SUB/b", "2"}}), "SUB"));
}

TEST_F(GeneratorLimitsTest, NamesWithoutCodePage932FormAreRefused) {
  const std::string name = "smile\xF0\x9F\x98\x80.txt";
  if (!CanCreate(name)) GTEST_SKIP();
  EXPECT_TRUE(Contains(ErrorFor({}, {{name, "x"}}), name));
}

TEST_F(GeneratorLimitsTest, AFileOfZeroBytesIsRefusedOnlyWhenAListNamesIt) {
  const std::string zeros(100, '\0');
  const std::string error = ErrorFor({}, {{"zero.bin", zeros}});
  EXPECT_TRUE(Contains(error, "zero.bin"));
  EXPECT_TRUE(Contains(error, "checksum is 0"));
  EXPECT_EQ(ErrorFor({{"zero.bin", zeros}}, {{"zero.bin", zeros}, {"x", "y"}}), "")
      << "an unchanged file is in no list";
  EXPECT_TRUE(Contains(ErrorFor({{"zero.bin", zeros}}, {{"zero.bin", "now other"}}), "zero.bin"))
      << "the old side of a change names it too";
}

TEST_F(GeneratorLimitsTest, FoldersThatCannotBecomeStoragesAreRefused) {
  // 表 ends in 0x5C: split there the folder leaves an empty part.
  std::string error = ErrorFor({}, {{"data/表/a.txt", "x"}});
  EXPECT_TRUE(Contains(error, "data\\表"));
  EXPECT_TRUE(Contains(error, "empty part"));
  // 32 characters are one too many for a storage name.
  const std::string long_folder(32, 'f');
  error = ErrorFor({}, {{long_folder + "/a.txt", "x"}});
  EXPECT_TRUE(Contains(error, long_folder));
  EXPECT_TRUE(Contains(error, "31"));
  // 31 characters fit, and so do the characters around a 0x5C byte.
  EXPECT_EQ(ErrorFor({}, {{std::string(31, 'f') + "/表示/ソフト/a.txt", "x"}}), "");
  // A file name is never split: 表 alone is a fine name.
  EXPECT_EQ(ErrorFor({}, {{"表", "x"}}), "");
}

TEST_F(GeneratorLimitsTest, DataPathsAndDiskPathsMustFitTheirBuffers) {
  std::string deep;
  for (int i = 0; i < 9; ++i) deep += std::string(30, static_cast<char>('a' + i)) + "/";
  std::string error;
  if (CanCreate(deep + "f.txt")) {  // Windows may not take a path this long
    error = ErrorFor({}, {{deep + "f.txt", "x"}});
    EXPECT_TRUE(Contains(error, "f.txt"));
    EXPECT_TRUE(Contains(error, "data path"));
  }

  // 240-byte default folder + "\f.txt" + ".new1": over 255.
  const std::string folder = "C:\\" + std::string(245, 'p');
  error = ErrorFor({}, {{"f.txt", "x"}}, [&](builder::GeneratorInput* in) { in->default_folder = folder; });
  EXPECT_TRUE(Contains(error, "f.txt"));
  EXPECT_TRUE(Contains(error, "disk path"));
  EXPECT_TRUE(Contains(error, ".new1"));
  // Without a default folder the path is measured against C:\ and fits.
  EXPECT_EQ(ErrorFor({}, {{"f.txt", "x"}}), "");
  // The same limit for a group's folder.
  error = ErrorFor({}, {{"g/f.txt", "x"}}, [&](builder::GeneratorInput* in) {
    in->releases[1].groups.push_back({"grp", "", folder, "g"});
  });
  EXPECT_TRUE(Contains(error, "disk path"));
}

TEST_F(GeneratorLimitsTest, NamesThatLeaveTheirFolderOrWindowsCannotHoldAreRefused) {
  for (const std::string name : {"a:b.txt", "...", "trailing.", "what?.txt"}) {
    SCOPED_TRACE(name);
    if (!CanCreate(name)) continue;  // the file system refuses it already
    const std::string error = ErrorFor({}, {{"sub/" + name, "x"}});
    EXPECT_TRUE(Contains(error, name));
    EXPECT_TRUE(Contains(error, "cannot be used"));
  }
}

TEST_F(GeneratorLimitsTest, ReleaseAndListCounts) {
  EXPECT_TRUE(Contains(ErrorFor({}, {}, [](builder::GeneratorInput* in) { in->releases.resize(1); }), "at least two releases"));
  EXPECT_TRUE(Contains(ErrorFor({}, {},
                       [](builder::GeneratorInput* in) {
                         in->releases.resize(1001, in->releases[0]);
                       }), "999"));
}

TEST_F(GeneratorLimitsTest, AListHoldsAtMost32767Files) {
  const fs::path a = dir_ / "many_a";
  const fs::path b = dir_ / "many_b";
  fs::create_directories(a);
  for (int folder = 0; folder < 33; ++folder) {
    const fs::path sub = b / std::to_string(folder);
    fs::create_directories(sub);
    for (int i = 0; i < 993; ++i) std::ofstream(sub / std::to_string(i)) << 'x';
  }
  // 33 x 993 = 32,769 files.
  try {
    builder::GeneratePackage(builder::InputFromFolders({a, b}), dir_ / "scratch");
    ADD_FAILURE() << "no error";
  } catch (const builder::BuildError& e) {
    EXPECT_TRUE(Contains(std::string(e.what()), "32769"));
    EXPECT_TRUE(Contains(std::string(e.what()), "32767"));
  }
}

TEST_F(GeneratorLimitsTest, GroupNamesMustBeAddressable) {
  auto with_group = [](const std::string& name) {
    return [name](builder::GeneratorInput* in) {
      in->releases[1].groups.push_back({test::Cp932(name), "", "", "g"});
    };
  };
  for (const char* bad : {"_data", "+data", "-data", "表", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(Contains(ErrorFor({}, {{"g/x", "1"}}, with_group(bad)), "group"));
  }
  EXPECT_EQ(ErrorFor({}, {{"g/x", "1"}}, with_group("データ")), "");
  EXPECT_TRUE(Contains(ErrorFor({}, {{"g/x", "1"}}, [](builder::GeneratorInput* in) {
                in->releases[1].groups.push_back({"g", "", "", "missing"});
              }), "missing"));
  EXPECT_TRUE(Contains(ErrorFor({}, {{"g/x", "1"}}, [](builder::GeneratorInput* in) {
                in->releases[1].groups.push_back({"g", "", "", "../outside"});
              }), "subfolder"));
}

}  // namespace
}  // namespace gp
