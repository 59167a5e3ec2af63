// A disk that fills up while a file is written: a file-size limit on the process makes every
// write past it come back short, as a full disk does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "storage/docfile_access.h"
#include "storage/work_docfile.h"
#include "stream_builders.h"
#include "update/file_operations.h"
#include "update_fixture.h"

namespace gp {
namespace {

using Transcript = std::vector<std::string>;

// Limits the size of files this process writes, for the object's lifetime.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::InstallPackage(context().package, test::MakeHeader(2), dir_.Program());
  }
  void TearDown() override { ui_.Renew(); }

  std::string P(const std::string& name) const { return dir_.Program() + "\\" + name; }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::ScriptedRun ui_;
  test::TempDir dir_;
  test::TempDir work_;
};

TEST_F(DiskFullTest, AWholeFileThatDoesNotFitLeavesAPartialTarget) {
  const std::vector<uint8_t> content(100000, 'w');
  test::WriteBytes(dir_ / "whole.bin", test::WholeFileBytes(content, {32767, 32767, 32767, 1699}));
  {
    FileSizeLimit limit(40000);
    EXPECT_FALSE(WriteWholeFile(context(), P("t.new1").c_str(), P("whole.bin").c_str()));
  }
  EXPECT_EQ(ui_.Transcript(), Transcript{test::DiskFullLine()});
  const auto left = test::ReadBytes(dir_ / "t.new1");
  EXPECT_GT(left.size(), 0u);
  EXPECT_LT(left.size(), content.size());
}

TEST_F(DiskFullTest, APatchThatDoesNotFitReportsTheDiskFull) {
  const std::vector<uint8_t> old(50000, 'o');
  test::WriteBytes(dir_ / "old.bin", old);
  test::WriteBytes(dir_ / "diff.bin",
                   test::DiffBytes().LongCopy(0, 50000).LongCopy(0, 50000).bytes());
  {
    FileSizeLimit limit(60000);
    EXPECT_FALSE(PatchFile(context(), P("old.bin").c_str(), P("t.new1").c_str(), test::Crc(old),
                           P("diff.bin").c_str()));
  }
  EXPECT_EQ(ui_.Transcript(), Transcript{test::DiskFullLine()});
}

TEST_F(DiskFullTest, AStreamThatDoesNotFitReportsTheDiskFullAndLeavesNoTemporaryFile) {
  const std::vector<uint8_t> content(30000, 's');
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\s", test::WholeFileBytes(content, {30000})}});
  {
    FileSizeLimit limit(10000);
    EXPECT_FALSE(ApplyFileEntry(context(), "", "1\\_\\s", P("t.new1").c_str(), 0));
  }
  EXPECT_EQ(ui_.Transcript(), Transcript{test::DiskFullLine()});
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.new1"));
  EXPECT_TRUE(temp_.Files().empty());
}

}  // namespace
}  // namespace gp
