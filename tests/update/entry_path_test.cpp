// Disk paths of list entries: base folders by token, subfolders, names, groups by name
// without regard to case, and the names and subfolders that must never leave their folder.
#include "update/entry_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"
#include "update/package_tables.h"
#include "update_fixture.h"

namespace gp {
namespace {

using test::Cp932;

class EntryPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder::HeaderDescription desc = test::MakeHeader(2);
    desc.group_count = 2;
    desc.generations[0].groups = {{"data", "", "D:\\Old\\Data"},
                                  {Cp932("Ｄａｔａ２"), "", "D:\\Old\\Data2"}};
    desc.generations[1].groups = {{"data", "", "E:\\New\\Data\\"}};
    test::InstallPackage(package_, desc, "C:\\Programs\\App");
    test::SetRootFolder(package_.windows_folder.get(), "C:\\WINDOWS");
    test::SetRootFolder(package_.system_folder.get(), "C:\\WINDOWS\\SYSTEM32");
  }
  // The disk path for a data path and a name, or "<failed>" (then the buffer must be empty).
  std::string Resolve(int generation, const std::string& data_path, const std::string& name) {
    char buffer[kEntryPathBufferSize];
    std::memset(buffer, 'x', sizeof buffer);
    std::memcpy(buffer, data_path.c_str(), data_path.size() + 1);
    if (!ResolveEntryPath(package_, generation, buffer, name.c_str())) {
      EXPECT_EQ(buffer[0], '\0') << "a failed path leaves the buffer empty";
      return "<failed>";
    }
    return buffer;
  }

  PackageTables package_;
};

TEST_F(EntryPathTest, TheWorkedExamples) {
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", "MAIN.EXE"), "C:\\Programs\\App\\MAIN.EXE");
  EXPECT_EQ(Resolve(1, "2\\_\\data\\sub\\3.dif", "B.DAT"), "C:\\Programs\\App\\data\\sub\\B.DAT");
  EXPECT_EQ(Resolve(1, "2\\+\\4.dif", "X.INI"), "C:\\WINDOWS\\X.INI");
  EXPECT_EQ(Resolve(1, "2\\-\\sys\\5.dif", "Y.DLL"), "C:\\WINDOWS\\SYSTEM32\\sys\\Y.DLL");
}

TEST_F(EntryPathTest, OnlyTheTokensFirstByteCountsForTheFixedFolders) {
  EXPECT_EQ(Resolve(0, "1\\_x\\0.dif", "A"), "C:\\Programs\\App\\A");
  EXPECT_EQ(Resolve(0, "1\\+whatever\\0.dif", "A"), "C:\\WINDOWS\\A");
  EXPECT_EQ(Resolve(0, "1\\-\\0.dif", "A"), "C:\\WINDOWS\\SYSTEM32\\A");
}

TEST_F(EntryPathTest, ABaseFolderEndingInABackslashGetsNoSecondOne) {
  test::SetRootFolder(package_.destination_folder.get(), "C:\\");
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", "MAIN.EXE"), "C:\\MAIN.EXE");
  test::SetRootFolder(package_.destination_folder.get(), "C:\\Programs\\App\\");
  const std::string typed_with = Resolve(1, "1\\_\\sub\\0.dif", "MAIN.EXE");
  test::SetRootFolder(package_.destination_folder.get(), "C:\\Programs\\App");
  EXPECT_EQ(typed_with, Resolve(1, "1\\_\\sub\\0.dif", "MAIN.EXE"));
  EXPECT_EQ(typed_with, "C:\\Programs\\App\\sub\\MAIN.EXE");
}

TEST_F(EntryPathTest, AFolderEndingInADoubleByteCharacterWithSecondByte5CStillGetsItsBackslash) {
  const std::string so = Cp932("ソ");  // 83 5C
  ASSERT_EQ(so, "\x83\x5C");
  test::SetRootFolder(package_.destination_folder.get(), "C:\\" + so);
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", "A.EXE"), "C:\\" + so + "\\A.EXE");
}

TEST_F(EntryPathTest, SubfoldersAndNamesWithJapaneseTextAreKeptAsWritten) {
  const std::string table = Cp932("表");  // 95 5C: split byte-wise in the data path
  ASSERT_EQ(table, "\x95\x5C");
  const std::string name = Cp932("ソフト表.txt");
  EXPECT_EQ(Resolve(1, "1\\_\\" + table + "\\0.dif", name),
            "C:\\Programs\\App\\" + table + "\\" + name);
}

TEST_F(EntryPathTest, TwoBackslashesGiveNoSubfolderAndFewerFail) {
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", "F"), "C:\\Programs\\App\\F");
  EXPECT_EQ(Resolve(1, "1\\_\\a\\b\\c\\0.dif", "F"), "C:\\Programs\\App\\a\\b\\c\\F");
  EXPECT_EQ(Resolve(1, "1\\_", "F"), "<failed>");
  EXPECT_EQ(Resolve(1, "_0.dif", "F"), "<failed>");
  EXPECT_EQ(Resolve(1, "", "F"), "<failed>");
}

TEST_F(EntryPathTest, GroupsAreFoundByNameWithoutRegardToCaseInTheirGeneration) {
  EXPECT_EQ(Resolve(0, "1\\DATA\\0.dif", "F"), "D:\\Old\\Data\\F");
  EXPECT_EQ(Resolve(0, "1\\data\\s\\0.dif", "F"), "D:\\Old\\Data\\s\\F");
  // Full-width letters fold too.
  EXPECT_EQ(Resolve(0, "1\\" + Cp932("ＤＡＴＡ２") + "\\0.dif", "F"), "D:\\Old\\Data2\\F");
  EXPECT_EQ(Resolve(0, "1\\" + Cp932("ｄａｔａ２") + "\\0.dif", "F"), "D:\\Old\\Data2\\F");
  // The same group lives elsewhere in the next generation (its folder ends in a backslash).
  EXPECT_EQ(Resolve(1, "1\\Data\\0.dif", "F"), "E:\\New\\Data\\F");
}

TEST_F(EntryPathTest, AGroupThatTheGenerationDoesNotHaveFails) {
  EXPECT_EQ(Resolve(1, "1\\" + Cp932("Ｄａｔａ２") + "\\0.dif", "F"), "<failed>");
  EXPECT_EQ(Resolve(0, "1\\nothing\\0.dif", "F"), "<failed>");
  EXPECT_EQ(Resolve(0, "1\\\\0.dif", "F"), "<failed>") << "an empty token names no group";
  EXPECT_EQ(Resolve(2, "1\\data\\0.dif", "F"), "<failed>") << "no such generation";
  EXPECT_EQ(Resolve(-1, "1\\data\\0.dif", "F"), "<failed>");
}

TEST_F(EntryPathTest, WithoutAGroupTableOnlyTheFixedTokensResolve) {
  test::InstallPackage(package_, test::MakeHeader(2), "C:\\App");
  EXPECT_EQ(Resolve(1, "1\\data\\0.dif", "F"), "<failed>");
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", "F"), "C:\\App\\F");
}

TEST_F(EntryPathTest, DiskPathsMustStayBelow256Bytes) {
  const std::string base = "C:\\Programs\\App\\";
  const std::string longest(255 - base.size(), 'n');
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", longest), base + longest);
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", longest + "n"), "<failed>");
  EXPECT_EQ(Resolve(1, "1\\_\\" + std::string(200, 's') + "\\0.dif", std::string(60, 'n')),
            "<failed>");
}

TEST_F(EntryPathTest, NamesThatWouldLeaveTheirFolderAreRefused) {
  const char* refused[] = {
      "..",
      "..\\evil.dll",
      "sub\\..\\..\\evil.dll",
      "../evil.dll",
      "a/../../b",
      "...",
      ".. ",
      "sub\\. .\\x",
      "\\evil.dll",
      "/etc/passwd",
      "\\\\server\\share\\x",
      "C:\\Windows\\evil.dll",
      "C:evil.dll",
      "file.txt:alt",
      "x:",
  };
  for (const char* name : refused) {
    EXPECT_EQ(Resolve(1, "1\\_\\0.dif", name), "<failed>") << name;
    EXPECT_FALSE(IsContainedName(name)) << name;
  }
  // The byte-wise reading of 表.. (95 5C 2E 2E) has a ".." component.
  EXPECT_EQ(Resolve(1, "1\\_\\0.dif", Cp932("表") + "..\\x"), "<failed>");
}

TEST_F(EntryPathTest, OrdinaryNamesWithDotsAndSubfoldersAreKept) {
  const char* kept[] = {"a.b", ".hidden", "..foo", "foo..", "sub\\file.txt", "sub/file.txt", "."};
  for (const char* name : kept) {
    EXPECT_EQ(Resolve(1, "1\\_\\0.dif", name), std::string("C:\\Programs\\App\\") + name) << name;
  }
}

TEST_F(EntryPathTest, SubfoldersThatWouldLeaveTheirFolderAreRefused) {
  const char* refused[] = {
      "1\\_\\..\\0.dif",   "1\\_\\a\\..\\..\\0.dif", "1\\_\\a/../..\\0.dif",
      "1\\_\\C:\\0.dif",   "1\\_\\C:\\x\\0.dif",     "1\\_\\\\0.dif",
      "1\\_\\/etc\\0.dif", "1\\_\\a:b\\0.dif",       "1\\_\\...\\0.dif",
  };
  for (const char* data_path : refused) {
    EXPECT_EQ(Resolve(1, data_path, "F"), "<failed>") << data_path;
  }
}

TEST_F(EntryPathTest, ADataPathWithoutTerminatorIsReadOnlyInsideItsBuffer) {
  // 256 bytes without a 0: the stream name is cut, the folder part is what counts.
  char buffer[kEntryPathBufferSize];
  std::memset(buffer, 's', sizeof buffer);
  std::memcpy(buffer, "1\\_\\", 4);
  ASSERT_TRUE(ResolveEntryPath(package_, 1, buffer, "F"));
  EXPECT_STREQ(buffer, "C:\\Programs\\App\\F");
  std::memset(buffer, '\\', sizeof buffer);
  EXPECT_FALSE(ResolveEntryPath(package_, 1, buffer, "F")) << "an empty token names no group";
}

TEST(ComparePathsNoCase, NullTextsOrderFirst) {
  EXPECT_EQ(ComparePathsNoCase(nullptr, "a"), -1);
  EXPECT_EQ(ComparePathsNoCase(nullptr, nullptr), -1);
  EXPECT_EQ(ComparePathsNoCase("a", nullptr), 1);
}

TEST(ComparePathsNoCase, ComparesTheUpperCasedTexts) {
  EXPECT_EQ(ComparePathsNoCase("C:\\Program Files\\App", "c:\\PROGRAM FILES\\app"), 0);
  // Upper-cased, "a" is "A", which sorts before "B" (plain strcmp would say the opposite).
  EXPECT_LT(ComparePathsNoCase("a", "B"), 0);
  EXPECT_GT(ComparePathsNoCase("b", "A"), 0);
  EXPECT_LT(ComparePathsNoCase("abc", "ABCD"), 0);
  EXPECT_NE(ComparePathsNoCase("a", "b"), 0);
  // Full-width Latin, Greek and Cyrillic letters fold as the locale does.
  EXPECT_EQ(ComparePathsNoCase(Cp932("ａｂｃ").c_str(), Cp932("ＡＢＣ").c_str()), 0);
  EXPECT_EQ(ComparePathsNoCase(Cp932("αβ").c_str(), Cp932("ΑΒ").c_str()), 0);
  EXPECT_EQ(ComparePathsNoCase(Cp932("дом").c_str(), Cp932("ДОМ").c_str()), 0);
  // Half-width and full-width letters are different characters.
  EXPECT_NE(ComparePathsNoCase("A", Cp932("Ａ").c_str()), 0);
  // A trail byte that looks like a lower-case letter is not folded: ッ is 83 62 ("b"), ィ is
  // 83 42 ("B").
  ASSERT_EQ(Cp932("ッ"), "\x83\x62");
  ASSERT_EQ(Cp932("ィ"), "\x83\x42");
  EXPECT_NE(ComparePathsNoCase(Cp932("ッ").c_str(), Cp932("ィ").c_str()), 0);
  EXPECT_NE(ComparePathsNoCase(Cp932("ぁ").c_str(), Cp932("あ").c_str()), 0);
  EXPECT_EQ(ComparePathsNoCase(Cp932("表a").c_str(), Cp932("表A").c_str()), 0);
}

}  // namespace
}  // namespace gp
