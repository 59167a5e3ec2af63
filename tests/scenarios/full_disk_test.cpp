// A real full disk: the installed folder on a small tmpfs that holds the installed release but
// not the update. Needs root for the mount; skipped with a message elsewhere.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/texts.h"
#include "program_runner.h"
#include "support/release_files.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;

// Bytes that no compression makes much smaller.
std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    disk_ = dir_ / "disk";
    fs::create_directories(disk_);
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=2m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_ && umount(disk_.c_str()) != 0) umount2(disk_.c_str(), MNT_DETACH);
  }

  test::TempDir dir_;
  test::TempDir temp_;
  fs::path disk_;
  bool mounted_ = false;
};

// 1.0 takes 0.75 MB of the 2 MB; in 1.1 the program grows by 1.3 MB, so that its patch runs
// out of space while it writes.
TEST_F(FullDisk, UpdateThatDoesNotFitSaysSoAndChangesNothing) {
  const Files r0 = {{"MAIN.EXE", Noise(500000, 1)}, {"DATA.BIN", Noise(250000, 2)}};
  Files r1 = r0;
  r1["MAIN.EXE"] = Noise(1000, 3) + r0.at("MAIN.EXE") + Noise(1300000, 4);
  r1["DATA.BIN"] = r0.at("DATA.BIN") + "1.1";
  test::WriteRelease(dir_ / "1.0", r0);
  test::WriteRelease(dir_ / "1.1", r1);
  builder::GeneratorInput input = builder::InputFromFolders({dir_ / "1.0", dir_ / "1.1"});
  input.options.caption = "UPDATE";
  input.options.failure = "FAILED";
  input.options.completion = "DONE";
  const fs::path package = test::WriteDataFile(input, dir_, "package");

  const fs::path installed = disk_ / "app";
  test::WriteRelease(installed, r0);
  const test::ProgramRun run = test::RunPackageProgram(package, installed, temp_.path(), {});
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 1) << "a failed update is never exit 0";
  EXPECT_NE(run.transcript.find(test::Utf8(texts::kTextDiskFull)), std::string::npos)
      << run.transcript;
  test::ExpectSameFiles(test::ReadRelease(installed), r0);
  EXPECT_TRUE(fs::is_empty(temp_.path())) << "a temporary file is left";
}

}  // namespace
}  // namespace gp
#endif
