// The exclusive-write test against another process that holds the file open.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ScratchFolder;
using testing::WriteWholeFile;

// A child process that opens a file and keeps it open until told to end.
class HoldingProcess {
 public:
  HoldingProcess(const std::string& host, int flags) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls from here on.
      close(ready[0]);
      close(release[1]);
      const int fd = open(host.c_str(), flags);
      const char status = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &status, 1) != 1) _exit(2);
      char byte;
      while (read(release[0], &byte, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char status = 0;
    opened_ = pid_ > 0 && read(ready[0], &status, 1) == 1 && status == 'y';
    close(ready[0]);
  }
  ~HoldingProcess() { End(); }

  bool opened() const { return opened_; }

  // Lets the child close the file and exit, and waits for it.
  void End() {
    if (release_ >= 0) {
      close(release_);
      release_ = -1;
    }
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool opened_ = false;
};

class ExclusiveWrite : public testing::PosixPlatformTest {};

TEST_F(ExclusiveWrite, FailsWhileAnotherProcessHoldsTheFileOpen) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("in_use.exe");
  ASSERT_TRUE(WriteWholeFile(path, "program"));
  ASSERT_TRUE(CanOpenExclusiveForWrite(path.c_str()));
  for (int flags : {O_RDONLY, O_RDWR}) {
    HoldingProcess holder(HostOf(path), flags);
    ASSERT_TRUE(holder.opened());
    EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str())) << "flags " << flags;
    EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));  // asking again changes nothing
    holder.End();
    EXPECT_TRUE(CanOpenExclusiveForWrite(path.c_str())) << "flags " << flags;
  }
}

TEST_F(ExclusiveWrite, TheDescriptorScanSeesOtherProcessesToo) {
  // The scan is the way where the file system grants no leases.
  ScratchFolder scratch;
  const std::string path = scratch.Path("scan.bin");
  ASSERT_TRUE(WriteWholeFile(path, "scan"));
  struct stat st;
  ASSERT_EQ(stat(HostOf(path).c_str(), &st), 0);
  EXPECT_FALSE(posix::OpenElsewhere(st.st_dev, st.st_ino, -1));
  {
    HoldingProcess holder(HostOf(path), O_RDONLY);
    ASSERT_TRUE(holder.opened());
    EXPECT_TRUE(posix::OpenElsewhere(st.st_dev, st.st_ino, -1));
  }
  EXPECT_FALSE(posix::OpenElsewhere(st.st_dev, st.st_ino, -1));
  // This process's own descriptor counts unless it is the one asking.
  const int fd = open(HostOf(path).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(posix::OpenElsewhere(st.st_dev, st.st_ino, -1));
  EXPECT_FALSE(posix::OpenElsewhere(st.st_dev, st.st_ino, fd));
  close(fd);
}

TEST_F(ExclusiveWrite, FoldersAndMissingFilesFail) {
  ScratchFolder scratch;
  EXPECT_FALSE(CanOpenExclusiveForWrite(scratch.path().c_str()));
  EXPECT_FALSE(CanOpenExclusiveForWrite(scratch.Path("none").c_str()));
  EXPECT_FALSE(CanOpenExclusiveForWrite(nullptr));
}

}  // namespace
}  // namespace gp::platform
