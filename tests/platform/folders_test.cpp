// Folders: creation, removal rules and the find-first enumeration with wildcards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "scratch_folder.h"

namespace gp::platform {
namespace {

using testing::ScratchFolder;
using testing::WriteWholeFile;

std::vector<std::string> Enumerate(const std::string& pattern) {
  std::vector<std::string> names;
  FolderEnumerator entries;
  std::string name;
  for (bool more = entries.First(pattern.c_str(), &name); more; more = entries.Next(&name)) {
    names.push_back(name);
  }
  return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

TEST(Folders, MakeFolderNeedsAParentAndAFreeName) {
  ScratchFolder scratch;
  EXPECT_TRUE(MakeFolder(scratch.Path("a").c_str()));
  EXPECT_FALSE(MakeFolder(scratch.Path("a").c_str()));
  EXPECT_FALSE(MakeFolder(scratch.Path("x\\y").c_str()));
  ASSERT_TRUE(WriteWholeFile(scratch.Path("file"), "f"));
  EXPECT_FALSE(MakeFolder(scratch.Path("file").c_str()));
}

TEST(Folders, RemovalFailsWhileTheFolderHoldsAnything) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path("full");
  ASSERT_TRUE(MakeFolder(folder.c_str()));
  ASSERT_TRUE(WriteWholeFile(folder + "\\inside.txt", "i"));
  EXPECT_FALSE(RemoveFolder(folder.c_str()));
  ASSERT_TRUE(RemoveFile((folder + "\\inside.txt").c_str()));
  ASSERT_TRUE(MakeFolder((folder + "\\empty").c_str()));
  EXPECT_FALSE(RemoveFolder(folder.c_str()));
  EXPECT_TRUE(RemoveFolder((folder + "\\empty").c_str()));
  EXPECT_TRUE(RemoveFolder(folder.c_str()));
  EXPECT_FALSE(PathExists(folder.c_str()));
  EXPECT_FALSE(RemoveFolder(folder.c_str()));
}

TEST(Folders, RemovalFailsForTheCurrentDirectoryAndForFiles) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path("cwd");
  ASSERT_TRUE(MakeFolder(folder.c_str()));
  ASSERT_TRUE(ChangeFolder(folder.c_str()));
  EXPECT_FALSE(RemoveFolder(folder.c_str()));
  EXPECT_TRUE(PathExists(folder.c_str()));
  ASSERT_TRUE(ChangeFolder(scratch.path().c_str()));
  EXPECT_TRUE(RemoveFolder(folder.c_str()));
  ASSERT_TRUE(WriteWholeFile(scratch.Path("plain"), "p"));
  EXPECT_FALSE(RemoveFolder(scratch.Path("plain").c_str()));
}

TEST(FolderEnumeration, StarDotStarFindsEveryNameWithDotEntries) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Path("with.ext"), "1"));
  ASSERT_TRUE(WriteWholeFile(scratch.Path("noext"), "2"));
  ASSERT_TRUE(MakeFolder(scratch.Path("folder").c_str()));
  const std::vector<std::string> names = Enumerate(scratch.Path("*.*"));
  EXPECT_TRUE(Contains(names, "."));
  EXPECT_TRUE(Contains(names, ".."));
  EXPECT_TRUE(Contains(names, "with.ext"));
  EXPECT_TRUE(Contains(names, "noext"));
  EXPECT_TRUE(Contains(names, "folder"));
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(Enumerate(scratch.Path("*")).size(), 5u);
}

TEST(FolderEnumeration, PatternsMatchWithoutRegardToCase) {
  ScratchFolder scratch;
  for (const char* name : {"a.txt", "B.TXT", "ab.txt", "c.bin", "readme"}) {
    ASSERT_TRUE(WriteWholeFile(scratch.Path(name), "x"));
  }
  const std::vector<std::string> txt = Enumerate(scratch.Path("*.TxT"));
  EXPECT_EQ(txt.size(), 3u);
  EXPECT_TRUE(Contains(txt, "a.txt"));
  EXPECT_TRUE(Contains(txt, "B.TXT"));
  EXPECT_TRUE(Contains(txt, "ab.txt"));

  const std::vector<std::string> one = Enumerate(scratch.Path("?.txt"));
  EXPECT_EQ(one.size(), 2u);
  EXPECT_FALSE(Contains(one, "ab.txt"));

  const std::vector<std::string> exact = Enumerate(scratch.Path("README"));
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_EQ(exact[0], "readme");
  EXPECT_TRUE(Enumerate(scratch.Path("*.doc")).empty());
  EXPECT_TRUE(Enumerate(scratch.Path("missing\\*.*")).empty());
}

TEST(FolderEnumeration, RelativePatternsSearchTheCurrentDirectory) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Path("here.txt"), "h"));
  ASSERT_TRUE(ChangeFolder(scratch.path().c_str()));
  const std::vector<std::string> names = Enumerate("*.txt");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "here.txt");
}

TEST(FolderEnumeration, CloseEndsTheSearch) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Path("one"), "1"));
  FolderEnumerator entries;
  std::string name;
  ASSERT_TRUE(entries.First(scratch.Path("*.*").c_str(), &name));
  entries.Close();
  EXPECT_FALSE(entries.Next(&name));
}

}  // namespace
}  // namespace gp::platform
