// The read-only attribute keeps files from being written, truncated, deleted or replaced until
// it is cleared, also for root, who the host's permission bits would let through.
#include <sys/stat.h>
#include <unistd.h>

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

class ReadOnlyAttribute : public testing::PosixPlatformTest {};

TEST_F(ReadOnlyAttribute, IsTheOwnerWriteBit) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("bits.txt");
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrReadOnly));
  struct stat st;
  ASSERT_EQ(stat(HostOf(path).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrNormal));
  ASSERT_EQ(stat(HostOf(path).c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  // A file made read-only by the host is read-only to the program.
  ASSERT_EQ(chmod(HostOf(path).c_str(), 0444), 0);
  EXPECT_NE(ReadAttributes(path.c_str()) & kAttrReadOnly, 0u);
}

TEST_F(ReadOnlyAttribute, BlocksWritingDeletionAndReplacementUntilCleared) {
  if (geteuid() != 0) {
    GTEST_LOG_(INFO) << "not root: the host refuses these writes by itself as well";
  }
  ScratchFolder scratch;
  const std::string path = scratch.Path("locked.txt");
  const std::string other = scratch.Path("other.txt");
  ASSERT_TRUE(WriteWholeFile(path, "original"));
  ASSERT_TRUE(WriteWholeFile(other, "other"));
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrReadOnly | kAttrArchive));

  File file;
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
  EXPECT_FALSE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                         Disposition::kOpenAlways));
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways));
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone,
                         Disposition::kTruncateExisting));
  EXPECT_FALSE(RemoveFile(path.c_str()));
  EXPECT_FALSE(CopyFileReplace(other.c_str(), path.c_str()));
  EXPECT_FALSE(RenameFile(other.c_str(), path.c_str()));
  EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), "original");
  // Reading stays possible.
  EXPECT_TRUE(file.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  file.Close();

  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrNormal));
  EXPECT_TRUE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_TRUE(CopyFileReplace(other.c_str(), path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), "other");
  EXPECT_TRUE(RemoveFile(path.c_str()));
  EXPECT_FALSE(PathExists(path.c_str()));
}

TEST_F(ReadOnlyAttribute, ANewFileMayBeCreatedReadOnlyAndStillWrittenThroughItsHandle) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("created.txt");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew,
                        Hint::kNone, kAttrReadOnly));
  uint32_t done = 0;
  EXPECT_TRUE(file.Write("data", 4, &done));
  file.Close();
  EXPECT_NE(ReadAttributes(path.c_str()) & kAttrReadOnly, 0u);
  EXPECT_EQ(ReadWholeFile(path), "data");
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
}

TEST_F(ReadOnlyAttribute, AFileMovedAwayKeepsIt) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("ro.txt");
  ASSERT_TRUE(WriteWholeFile(path, "r"));
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrReadOnly));
  // Windows moves read-only files; only their content is protected.
  ASSERT_TRUE(RenameFile(path.c_str(), scratch.Path("moved.txt").c_str()));
  EXPECT_NE(ReadAttributes(scratch.Path("moved.txt").c_str()) & kAttrReadOnly, 0u);
}

}  // namespace
}  // namespace gp::platform
