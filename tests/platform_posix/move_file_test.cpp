// Moves on this host: a change of case only, and the refusal onto an existing name whatever
// its case.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

class MoveFileOnHost : public testing::PosixPlatformTest {};

TEST_F(MoveFileOnHost, ChangingOnlyTheCaseRenamesTheEntry) {
  ScratchFolder scratch;
  const std::string host = HostOf(scratch.path());
  ASSERT_TRUE(WriteWholeFile(scratch.Path("lower.txt"), "case"));
  EXPECT_TRUE(RenameFile(scratch.Path("lower.txt").c_str(), scratch.Path("LOWER.TXT").c_str()));
  struct stat st;
  EXPECT_EQ(stat((host + "/LOWER.TXT").c_str(), &st), 0);
  EXPECT_NE(stat((host + "/lower.txt").c_str(), &st), 0);
  EXPECT_EQ(ReadWholeFile(scratch.Path("Lower.Txt")), "case");
}

TEST_F(MoveFileOnHost, TwoSpellingsOfDifferentFilesStayApart) {
  ScratchFolder scratch;
  const std::string host = HostOf(scratch.path());
  ASSERT_TRUE(WriteWholeFile(scratch.Path("a.txt"), "small"));
  // A second file whose name differs only in case, as this host allows.
  FILE* f = std::fopen((host + "/A.TXT").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("capital", f);
  std::fclose(f);
  EXPECT_FALSE(RenameFile(scratch.Path("a.txt").c_str(), scratch.Path("A.TXT").c_str()));
  EXPECT_EQ(ReadWholeFile(scratch.Path("a.txt")), "small");
  EXPECT_EQ(ReadWholeFile(scratch.Path("A.TXT")), "capital");
}

TEST_F(MoveFileOnHost, AFileHeldWithoutSharingIsNotMovedOrDeleted) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("held.txt");
  ASSERT_TRUE(WriteWholeFile(path, "held"));
  File holder;
  ASSERT_TRUE(holder.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_FALSE(RenameFile(path.c_str(), scratch.Path("moved.txt").c_str()));
  EXPECT_FALSE(RemoveFile(path.c_str()));
  holder.Close();
  EXPECT_TRUE(RenameFile(path.c_str(), scratch.Path("moved.txt").c_str()));
}

}  // namespace
}  // namespace gp::platform
