// The folder journal and the file helpers: replay removes exactly the created folders that
// stayed empty, and the journal itself never outlives the program.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/endian.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/owned_string.h"
#include "storage/path_text.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

class FolderJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenFolderJournal(journal_);
    ASSERT_FALSE(journal_.name.empty());
    ASSERT_TRUE(journal_.file.IsOpen());
  }
  void TearDown() override { journal_.Reset(); }

  void MakeTree(const std::string& relative) { fs::create_directories(root_ / relative); }

  test::TempFolderScope temp_;
  test::TempDir root_;
  FolderJournalState journal_;
};

TEST_F(FolderJournalTest, ReplayRemovesCreatedFoldersThatStayedEmpty) {
  MakeTree("A/B/E");
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, "B\\E");
  ReplayFolderJournal(journal_);
  EXPECT_TRUE(fs::exists(root_ / "A"));
  EXPECT_FALSE(fs::exists(root_ / "A/B"));
  EXPECT_TRUE(journal_.name.empty());
  EXPECT_TRUE(temp_.Files().empty()) << "the journal file is deleted";
}

TEST_F(FolderJournalTest, AFileKeepsItsFolders) {
  MakeTree("A/B/E");
  test::WriteBytes(root_ / "A/B/E/kept.txt", {'k'});
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, "B\\E");
  ReplayFolderJournal(journal_);
  EXPECT_TRUE(fs::exists(root_ / "A/B/E/kept.txt"));
}

TEST_F(FolderJournalTest, SecondPairWhoseBaseIsGoneIsSkipped) {
  MakeTree("A/B/E");
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, "B");
  AppendFolderJournal(journal_, root_.Program("A/B").c_str());
  AppendFolderJournal(journal_, "E");
  ReplayFolderJournal(journal_);
  EXPECT_TRUE(fs::exists(root_ / "A"));
  EXPECT_FALSE(fs::exists(root_ / "A/B"));
  EXPECT_TRUE(temp_.Files().empty());
}

TEST_F(FolderJournalTest, ImplausibleRecordEndsReplayAndJournalIsStillDeleted) {
  MakeTree("A/B");
  uint8_t bad[4];
  StoreU32(bad, 260);
  uint32_t done = 0;
  ASSERT_TRUE(journal_.file.Write(bad, 4, &done));
  // A well-formed pair after the bad record is never reached.
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, "B");
  ReplayFolderJournal(journal_);
  EXPECT_TRUE(fs::exists(root_ / "A/B"));
  EXPECT_TRUE(temp_.Files().empty());
}

TEST_F(FolderJournalTest, ReplayRestoresTheCurrentDirectory) {
  MakeTree("A/B");
  char before[260];
  ASSERT_GT(platform::CurrentFolder(before, sizeof(before)), 0u);
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, "B");
  ReplayFolderJournal(journal_);
  char after[260];
  ASSERT_GT(platform::CurrentFolder(after, sizeof(after)), 0u);
  EXPECT_STREQ(before, after);
}

TEST_F(FolderJournalTest, DoubleByteNamesWithBackslashTrailBytesAreOneFolder) {
  // 表 is 0x95 0x5C in code page 932: its second byte is a backslash.
  MakeTree("A/表示/子");
  AppendFolderJournal(journal_, root_.Program("A").c_str());
  AppendFolderJournal(journal_, test::Cp932("表示\\子").c_str());
  ReplayFolderJournal(journal_);
  EXPECT_FALSE(fs::exists(root_ / "A/表示"));
  EXPECT_TRUE(fs::exists(root_ / "A"));
}

TEST(RemoveEmptyFolders, RemovesEmptyTreesAndKeepsAncestorsOfFiles) {
  test::TempDir root;
  fs::create_directories(root / "t/a/b/c");
  fs::create_directories(root / "t/d/e");
  test::WriteBytes(root / "t/d/e/f.dat", {1});
  RemoveEmptyFolders(root.Program("t").c_str());
  EXPECT_FALSE(fs::exists(root / "t/a"));
  EXPECT_TRUE(fs::exists(root / "t/d/e/f.dat"));
  fs::create_directories(root / "u/v/w");
  RemoveEmptyFolders(root.Program("u").c_str());
  EXPECT_FALSE(fs::exists(root / "u"));
  RemoveEmptyFolders(root.Program("t/d/e/f.dat").c_str());  // a file: nothing happens
  EXPECT_TRUE(fs::exists(root / "t/d/e/f.dat"));
}

TEST(FileHelpers, FileExistsTellsFilesFoldersAndNothing) {
  test::TempDir root;
  test::WriteBytes(root / "f.txt", {1});
  EXPECT_FALSE(FileExists(nullptr));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(FileExists(root.Program().c_str()));
  EXPECT_TRUE(FileExists(root.Program("f.txt").c_str()));
  EXPECT_FALSE(FileExists(root.Program("g.txt").c_str()));
}

TEST(FileHelpers, ForceDeleteFileRemovesReadOnlyHiddenSystemFiles) {
  GP_SKIP_UNLESS_READ_ONLY_ENFORCED();
  test::TempDir root;
  test::WriteBytes(root / "locked.dat", {1, 2, 3});
  const std::string path = root.Program("locked.dat");
  platform::WriteAttributes(path.c_str(), platform::kAttrReadOnly | platform::kAttrHidden |
                                              platform::kAttrSystem | platform::kAttrArchive);
  ASSERT_FALSE(platform::RemoveFile(path.c_str())) << "read-only blocks a plain delete";
  EXPECT_TRUE(ForceDeleteFile(path.c_str()));
  EXPECT_FALSE(fs::exists(root / "locked.dat"));
  EXPECT_FALSE(ForceDeleteFile(path.c_str())) << "a missing file reports failure";
}

TEST(OwnedString, AlwaysHoldsATerminatedBuffer) {
  OwnedString s;
  EXPECT_EQ(s.length(), 0);
  EXPECT_STREQ(s.c_str(), "");
  s.Assign("C:\\work\\doc.tmp");
  EXPECT_EQ(s.length(), 15);
  OwnedString copy(s);
  s.Assign(nullptr);
  EXPECT_TRUE(s.empty());
  EXPECT_STREQ(copy.c_str(), "C:\\work\\doc.tmp");
  copy = copy;
  EXPECT_EQ(copy.length(), 15);
}

TEST(PathText, BackslashSearchStepsOverDoubleByteCharacters) {
  const std::string path = test::Cp932("C:\\表示\\ソフト\\能.txt");
  EXPECT_EQ(CountBackslashes(path.c_str()), 3u);
  EXPECT_EQ(FindFirstBackslash(path.c_str()) - path.c_str(), 2);
  const std::string tail = FindLastBackslash(path.c_str()) + 1;
  EXPECT_EQ(test::Utf8(tail), "能.txt");
  EXPECT_EQ(FindFirstBackslash("no separator"), nullptr);
  // A lone lead byte at the end stands alone and never swallows the terminator.
  const char lone[] = {'a', '\\', static_cast<char>(0x81), 0};
  EXPECT_EQ(CountBackslashes(lone), 1u);
}

}  // namespace
}  // namespace gp
