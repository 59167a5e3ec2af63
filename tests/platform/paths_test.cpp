// Program paths: the current directory, relative names, case-insensitive names, names whose
// double-byte characters end in a backslash byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "scratch_folder.h"

namespace gp::platform {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

TEST(CurrentFolderQuery, FollowsTheLengthRules) {
  const uint32_t needed = CurrentFolder(nullptr, 0);
  ASSERT_GT(needed, 3u);  // at least "X:\" and the NUL
  std::string buffer(needed + 8, '#');
  // One byte short: the size needed comes back and the buffer is not touched.
  EXPECT_EQ(CurrentFolder(buffer.data(), needed - 1), needed);
  EXPECT_EQ(buffer, std::string(needed + 8, '#'));
  // Exactly enough: the length without the NUL.
  EXPECT_EQ(CurrentFolder(buffer.data(), needed), needed - 1);
  EXPECT_EQ(buffer[needed - 1], '\0');
  EXPECT_EQ(buffer[1], ':');
  EXPECT_EQ(buffer[2], '\\');
}

TEST(CurrentFolderQuery, ChangeFolderIsSeenByQueryAndRelativeNames) {
  ScratchFolder scratch;
  ASSERT_TRUE(MakeFolder(scratch.Path("sub").c_str()));
  ASSERT_TRUE(ChangeFolder(scratch.Path("sub").c_str()));
  EXPECT_EQ(UpperCaseCp932(testing::CurrentFolderText()), UpperCaseCp932(scratch.Path("sub")));

  // Relative names are relative to the current directory.
  ASSERT_TRUE(WriteWholeFile("rel.txt", "relative"));
  EXPECT_EQ(ReadWholeFile(scratch.Path("sub\\rel.txt")), "relative");
  EXPECT_EQ(ReadWholeFile("..\\sub\\.\\rel.txt"), "relative");
  EXPECT_TRUE(ChangeFolder(".."));
  EXPECT_EQ(UpperCaseCp932(testing::CurrentFolderText()), UpperCaseCp932(scratch.path()));
  EXPECT_FALSE(ChangeFolder(scratch.Path("missing").c_str()));
  EXPECT_FALSE(ChangeFolder(scratch.Path("sub\\rel.txt").c_str()));
}

TEST(CaseInsensitiveNames, AnyCaseFindsTheEntry) {
  ScratchFolder scratch;
  ASSERT_TRUE(MakeFolder(scratch.Path("MixedDir").c_str()));
  ASSERT_TRUE(WriteWholeFile(scratch.Path("MixedDir\\Data.Bin"), "content"));
  EXPECT_EQ(ReadWholeFile(scratch.Path("mixeddir\\DATA.BIN")), "content");
  EXPECT_TRUE(PathExists(scratch.Path("MIXEDDIR\\data.bin").c_str()));
  EXPECT_TRUE(FindFirstExists(scratch.Path("mixedDIR\\data.BIN").c_str()));
  EXPECT_NE(ReadAttributes(scratch.Path("MIXEDDIR").c_str()), kInvalidAttributes);
  // Writing through another spelling reaches the same file.
  ASSERT_TRUE(WriteWholeFile(scratch.Path("MIXEDDIR\\DATA.BIN"), "changed"));
  EXPECT_EQ(ReadWholeFile(scratch.Path("MixedDir\\Data.Bin")), "changed");
  std::string name;
  FolderEnumerator entries;
  ASSERT_TRUE(entries.First(scratch.Path("mixeddir\\*.bin").c_str(), &name));
  EXPECT_EQ(name, "Data.Bin");
  EXPECT_FALSE(entries.Next(&name));
}

TEST(CaseInsensitiveNames, FullWidthLettersMatchWithoutRegardToCase) {
  ScratchFolder scratch;
  // Full-width "Ab" as the file name, full-width "aB" to find it.
  const std::string stored = "\x82\x60\x82\x82.txt";
  const std::string asked = "\x82\x81\x82\x61.TXT";
  ASSERT_TRUE(WriteWholeFile(scratch.Path(stored), "wide"));
  EXPECT_EQ(ReadWholeFile(scratch.Path(asked)), "wide");
}

TEST(BackslashTrailBytes, NamesWithSoHyouNouWork) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path("\x95\x5C");                  // hyou
  const std::string file = folder + "\\\x83\x5C\x94\x5C.txt";           // so, nou
  ASSERT_TRUE(MakeFolder(folder.c_str()));
  ASSERT_TRUE(WriteWholeFile(file, "0x5C"));
  EXPECT_EQ(ReadWholeFile(file), "0x5C");
  EXPECT_TRUE(FindFirstExists(file.c_str()));
  EXPECT_TRUE(PathExists(folder.c_str()));
  EXPECT_NE(ReadAttributes(folder.c_str()) & kAttrDirectory, 0u);

  std::vector<std::string> names;
  FolderEnumerator entries;
  std::string name;
  const std::string pattern = folder + "\\*.*";
  for (bool more = entries.First(pattern.c_str(), &name); more; more = entries.Next(&name)) {
    if (name != "." && name != "..") names.push_back(name);
  }
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "\x83\x5C\x94\x5C.txt");

  // A folder whose name ends in such a character, as the current directory.
  ASSERT_TRUE(ChangeFolder(folder.c_str()));
  EXPECT_EQ(testing::CurrentFolderText(), folder);
  EXPECT_EQ(ReadWholeFile("\x83\x5C\x94\x5C.txt"), "0x5C");
}

TEST(TempFolderQuery, EndsWithABackslashAndFollowsTheLengthRules) {
  const uint32_t needed = TempFolder(nullptr, 0);
  ASSERT_GT(needed, 3u);
  std::string buffer(needed, '\0');
  EXPECT_EQ(TempFolder(buffer.data(), needed - 1), needed);
  ASSERT_EQ(TempFolder(buffer.data(), needed), needed - 1);
  EXPECT_EQ(buffer[needed - 2], '\\');
  EXPECT_TRUE(PathExists(buffer.c_str()));
}

TEST(SystemFolderQueries, FollowTheLengthRules) {
  for (auto query : {&WindowsFolder, &SystemFolder, &ModuleFilePath}) {
    const uint32_t needed = query(nullptr, 0);
    ASSERT_GT(needed, 3u);
    std::string buffer(needed, '\0');
    EXPECT_EQ(query(buffer.data(), needed - 1), needed);
    EXPECT_EQ(query(buffer.data(), needed), needed - 1);
    EXPECT_EQ(buffer[1], ':');
  }
}

TEST(SystemFolderQueries, ModulePathNamesThisTestProgram) {
  char buffer[1024];
  const uint32_t length = ModuleFilePath(buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof buffer);
  EXPECT_NE(UpperCaseCp932(buffer).find("GP_TEST_PLATFORM"), std::string::npos) << buffer;
  EXPECT_TRUE(PathExists(buffer));
}

}  // namespace
}  // namespace gp::platform
