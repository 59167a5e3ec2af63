// Delete, move, copy, attributes, temporary names, existence and the exclusive-write test.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/platform.h"
#include "scratch_folder.h"

namespace gp::platform {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

TEST(MoveFile, FailsOntoAnExistingFileAndLeavesBothAlone) {
  ScratchFolder scratch;
  const std::string from = scratch.Path("from.txt");
  const std::string to = scratch.Path("to.txt");
  ASSERT_TRUE(WriteWholeFile(from, "source"));
  ASSERT_TRUE(WriteWholeFile(to, "target"));
  EXPECT_FALSE(RenameFile(from.c_str(), to.c_str()));
  EXPECT_EQ(ReadWholeFile(from), "source");
  EXPECT_EQ(ReadWholeFile(to), "target");
  // Another spelling of an existing name is the existing file too.
  EXPECT_FALSE(RenameFile(from.c_str(), scratch.Path("TO.TXT").c_str()));
}

TEST(MoveFile, MovesToAFreeNameAndMovesFolders) {
  ScratchFolder scratch;
  const std::string from = scratch.Path("from.txt");
  ASSERT_TRUE(WriteWholeFile(from, "source"));
  ASSERT_TRUE(MakeFolder(scratch.Path("dir").c_str()));
  EXPECT_TRUE(RenameFile(from.c_str(), scratch.Path("dir\\moved.txt").c_str()));
  EXPECT_FALSE(PathExists(from.c_str()));
  EXPECT_EQ(ReadWholeFile(scratch.Path("dir\\moved.txt")), "source");
  EXPECT_TRUE(RenameFile(scratch.Path("dir").c_str(), scratch.Path("dir2").c_str()));
  EXPECT_EQ(ReadWholeFile(scratch.Path("dir2\\moved.txt")), "source");
  EXPECT_FALSE(RenameFile(scratch.Path("missing").c_str(), scratch.Path("x").c_str()));
}

TEST(CopyFile, ReplacesTheDestination) {
  ScratchFolder scratch;
  const std::string from = scratch.Path("from.bin");
  const std::string to = scratch.Path("to.bin");
  ASSERT_TRUE(WriteWholeFile(from, "new content"));
  ASSERT_TRUE(WriteWholeFile(to, "old content that is longer"));
  EXPECT_TRUE(CopyFileReplace(from.c_str(), to.c_str()));
  EXPECT_EQ(ReadWholeFile(to), "new content");
  EXPECT_EQ(ReadWholeFile(from), "new content");
  // A new destination is created.
  EXPECT_TRUE(CopyFileReplace(from.c_str(), scratch.Path("fresh.bin").c_str()));
  EXPECT_EQ(ReadWholeFile(scratch.Path("fresh.bin")), "new content");
  // Never from a missing file, never onto itself.
  EXPECT_FALSE(CopyFileReplace(scratch.Path("missing").c_str(), to.c_str()));
  EXPECT_FALSE(CopyFileReplace(from.c_str(), from.c_str()));
  EXPECT_EQ(ReadWholeFile(from), "new content");
}

TEST(CopyFile, CarriesTheReadOnlyAttributeAlong) {
  ScratchFolder scratch;
  const std::string from = scratch.Path("ro.bin");
  ASSERT_TRUE(WriteWholeFile(from, "ro"));
  ASSERT_TRUE(WriteAttributes(from.c_str(), kAttrReadOnly));
  ASSERT_TRUE(CopyFileReplace(from.c_str(), scratch.Path("copy.bin").c_str()));
  EXPECT_NE(ReadAttributes(scratch.Path("copy.bin").c_str()) & kAttrReadOnly, 0u);
}

TEST(DeleteFile, FailsForFoldersAndMissingFiles) {
  ScratchFolder scratch;
  const std::string file = scratch.Path("gone.txt");
  ASSERT_TRUE(WriteWholeFile(file, "x"));
  EXPECT_TRUE(RemoveFile(file.c_str()));
  EXPECT_FALSE(PathExists(file.c_str()));
  EXPECT_FALSE(RemoveFile(file.c_str()));
  ASSERT_TRUE(MakeFolder(scratch.Path("dir").c_str()));
  EXPECT_FALSE(RemoveFile(scratch.Path("dir").c_str()));
  EXPECT_TRUE(PathExists(scratch.Path("dir").c_str()));
}

TEST(FileAttributes, ReadOnlyIsReportedAndCleared) {
  ScratchFolder scratch;
  const std::string file = scratch.Path("attr.txt");
  EXPECT_EQ(ReadAttributes(file.c_str()), kInvalidAttributes);
  EXPECT_FALSE(WriteAttributes(file.c_str(), kAttrNormal));
  ASSERT_TRUE(WriteWholeFile(file, "x"));
  const uint32_t plain = ReadAttributes(file.c_str());
  ASSERT_NE(plain, kInvalidAttributes);
  EXPECT_EQ(plain & (kAttrReadOnly | kAttrDirectory), 0u);
  ASSERT_TRUE(WriteAttributes(file.c_str(), kAttrReadOnly));
  EXPECT_NE(ReadAttributes(file.c_str()) & kAttrReadOnly, 0u);
  ASSERT_TRUE(WriteAttributes(file.c_str(), kAttrNormal));
  EXPECT_EQ(ReadAttributes(file.c_str()) & kAttrReadOnly, 0u);
  EXPECT_NE(ReadAttributes(scratch.path().c_str()) & kAttrDirectory, 0u);
}

TEST(TempFileNames, AreUniqueEmptyFilesWithThePrefix) {
  ScratchFolder scratch;
  std::set<std::string> names;
  std::set<uint32_t> numbers;
  for (int i = 0; i < 20; ++i) {
    char out[260];
    const uint32_t number = MakeTempFileName(scratch.path().c_str(), "DIFFER", 0, out);
    ASSERT_NE(number, 0u);
    const std::string name(out);
    const std::string expected_start = scratch.path() + "\\DIF";
    ASSERT_EQ(name.compare(0, expected_start.size(), expected_start), 0) << name;
    // The rest is a hexadecimal number and the extension.
    const std::string rest = name.substr(expected_start.size());
    ASSERT_GE(rest.size(), 5u);
    EXPECT_EQ(UpperCaseCp932(rest.substr(rest.size() - 4)), ".TMP");
    EXPECT_EQ(std::stoul(rest.substr(0, rest.size() - 4), nullptr, 16), number & 0xFFFF);
    File file;
    ASSERT_TRUE(file.Open(out, kAccessRead, kShareRead, Disposition::kOpenExisting));
    uint64_t size = 1;
    ASSERT_TRUE(file.Size(&size));
    EXPECT_EQ(size, 0u);
    names.insert(name);
    numbers.insert(number);
  }
  EXPECT_EQ(names.size(), 20u);
  EXPECT_EQ(numbers.size(), 20u);
}

TEST(TempFileNames, AGivenNumberOnlyFormsTheName) {
  ScratchFolder scratch;
  char out[260];
  EXPECT_EQ(MakeTempFileName(scratch.path().c_str(), "ab", 0x1A2B, out), 0x1A2Bu);
  EXPECT_EQ(UpperCaseCp932(out), UpperCaseCp932(scratch.Path("ab1A2B.TMP")));
  EXPECT_FALSE(PathExists(out));
}

TEST(TempFileNames, FailInAMissingFolder) {
  ScratchFolder scratch;
  char out[260];
  EXPECT_EQ(MakeTempFileName(scratch.Path("missing").c_str(), "DIF", 0, out), 0u);
}

TEST(ExistenceTests, FindFirstSeesExactPathsAndPatterns) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Path("one.dat"), "1"));
  ASSERT_TRUE(MakeFolder(scratch.Path("sub").c_str()));
  EXPECT_TRUE(FindFirstExists(scratch.Path("one.dat").c_str()));
  EXPECT_TRUE(FindFirstExists(scratch.Path("sub").c_str()));
  EXPECT_FALSE(FindFirstExists(scratch.Path("two.dat").c_str()));
  EXPECT_TRUE(FindFirstExists(scratch.Path("*.dat").c_str()));
  EXPECT_TRUE(FindFirstExists(scratch.Path("o?e.dat").c_str()));
  EXPECT_FALSE(FindFirstExists(scratch.Path("*.txt").c_str()));
  // A search for "folder\" finds nothing; neither does an empty one.
  EXPECT_FALSE(FindFirstExists((scratch.path() + "\\").c_str()));
  EXPECT_FALSE(FindFirstExists(""));
  EXPECT_FALSE(FindFirstExists(nullptr));
}

TEST(ExistenceTests, PathExistsForFilesAndFolders) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Path("one.dat"), "1"));
  EXPECT_TRUE(PathExists(scratch.Path("one.dat").c_str()));
  EXPECT_TRUE(PathExists(scratch.path().c_str()));
  EXPECT_TRUE(PathExists((scratch.path() + "\\").c_str()));
  EXPECT_FALSE(PathExists(scratch.Path("none.dat").c_str()));
  EXPECT_FALSE(PathExists(""));
}

TEST(ExclusiveWriteTest, PassesForAFreeFileFailsWhileOpenOrMissing) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("target.dll");
  EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));
  ASSERT_TRUE(WriteWholeFile(path, "image"));
  EXPECT_TRUE(CanOpenExclusiveForWrite(path.c_str()));
  {
    // Any open handle, even one that shares everything it can, keeps the test failing.
    File reader;
    ASSERT_TRUE(reader.Open(path.c_str(), kAccessRead, kShareRead | kShareWrite,
                            Disposition::kOpenExisting));
    EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));
  }
  EXPECT_TRUE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), "image");  // the test changes nothing
}

}  // namespace
}  // namespace gp::platform
