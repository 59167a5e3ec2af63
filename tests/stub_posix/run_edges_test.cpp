// The edges of a run of the Linux package program and genpatch apply: exit codes, the run log,
// a package on read-only media, the space check before the passes, and the temporary files of
// a killed run.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/texts.h"
#include "pty_session.h"
#include "run_process.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(GP_SOURCE_DIR) / "examples" / "sample-app";
constexpr char kCaption[] = "サンプルアプリ アップデート";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The run folders ("~gp" and a process id) in a temporary folder.
std::vector<std::string> RunFolders(const fs::path& temp) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(temp)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("~gp", 0) == 0) names.push_back(name);
  }
  return names;
}

class RunEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Build(package_, {})); }

  void Build(const fs::path& out, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {GP_GENPATCH_PATH, "build", "--project",
                                     (kExample / "project.toml").string(), "-o", out.string()};
    if (extra.empty()) argv.insert(argv.end(), {"--stub", GP_STUB_PATH});
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto r = test::RunProcess(argv, Env());
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::map<std::string, std::string> Env(const std::string& answers = "") {
    return {{"GENPATCH_TEMP_DIR", temp_.path().string()}, {"GENPATCH_ANSWERS", answers}};
  }
  fs::path Install(const std::string& release, const fs::path& where) {
    fs::copy(kExample / release, where, fs::copy_options::recursive);
    return where;
  }
  // The package program started in folder (its current directory is the destination).
  test::ProcessResult RunStub(const fs::path& folder, const std::string& answers,
                              std::map<std::string, std::string> env = {}) {
    std::map<std::string, std::string> all = Env(answers);
    all.insert(env.begin(), env.end());
    return test::RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\"", folder.string(),
                             package_.string()},
                            all);
  }

  test::TempDir temp_;
  test::TempDir dir_;
  fs::path package_ = dir_ / "update";
};

TEST_F(RunEdgesTest, StubExitsWithTheCodesOfApply) {
  const fs::path target = Install("1.0", dir_ / "app");
  EXPECT_EQ(RunStub(target, "execute").exit_code, 0) << "updated";
  EXPECT_EQ(RunStub(target, "execute").exit_code, 4) << "up to date";
  test::TempDir stranger;
  EXPECT_EQ(RunStub(stranger.path(), "execute").exit_code, 3) << "no installed generation";
  EXPECT_EQ(RunStub(stranger.path(), "cancel").exit_code, 0) << "Cancel in the main dialog";
}

TEST_F(RunEdgesTest, LogHoldsOneUtf8LinePerStep) {
  const fs::path first = Install("1.0", dir_ / "first");
  const fs::path log = dir_ / "run.log";
  ASSERT_EQ(RunStub(first, "execute", {{"GENPATCH_LOG", log.string()}}).exit_code, 0);
  const fs::path second = Install("1.1", dir_ / "second");
  const auto r = test::RunProcess({GP_GENPATCH_PATH, "apply", package_.string(), "--dest",
                                   second.string(), "--group", "辞書=" + (second / "dict").string(),
                                   "--log", log.string()},
                                  Env());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string text = ReadText(log);
  for (const std::string& line :
       {"start: package " + test::Utf8(test::ProgramPath(package_)) +
            " (program with its payload)",
        std::string("installed generation: 1.0"), std::string("installed generation: 1.1"),
        std::string("outcome: completed"), std::string("exit code 0")}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  }
  // Two runs, each from its start line to its exit code.
  size_t starts = 0;
  for (size_t at = text.find("start: "); at != std::string::npos; at = text.find("start: ", at + 1)) {
    ++starts;
  }
  EXPECT_EQ(starts, 2u);
}

TEST_F(RunEdgesTest, UncompressedDataFileOnReadOnlyMediaIsOnlyRead) {
  // Permissions do not hold for root: the program runs as the unprivileged test user then.
  const bool root = geteuid() == 0;
  if (root && test::RunProcess({"/usr/bin/id", "gptest"}).exit_code != 0) {
    GTEST_SKIP() << "running as root without the user gptest (scripts/deps.sh makes it)";
  }
  const fs::path media = dir_ / "media";
  fs::create_directory(media);
  const fs::path data = media / "update.dat";
  ASSERT_NO_FATAL_FAILURE(Build(data, {"--data-file", "--uncompressed"}));
  const fs::path target = Install("1.0", dir_ / "app");
  fs::permissions(data, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(media, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
  std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" \"$2\"",
                                   target.string(), GP_STUB_PATH, data.string()};
  if (root) {
    fs::permissions(dir_.path(), fs::perms::all);
    fs::permissions(temp_.path(), fs::perms::all);
    ASSERT_EQ(test::RunProcess({"/bin/chown", "-R", "gptest", target.string()}).exit_code, 0);
    argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "gptest", "--"});
  }
  const auto r = test::RunProcess(argv, Env("execute"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find(std::string(kCaption) + ": 正常終了"), std::string::npos) << r.err;
  EXPECT_TRUE(test::SameTree(kExample / "2.0", target));
}

TEST_F(RunEdgesTest, ShortOfSpaceIsReportedBeforeAnythingIsWritten) {
  const fs::path volume = dir_ / "volume";
  fs::create_directory(volume);
  if (geteuid() != 0 || mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "a small tmpfs cannot be mounted here (the test needs root)";
  }
  const fs::path target = Install("1.0", volume / "app");
  // Leave 8 KiB free: the new files of two lists need more.
  struct statvfs vfs;
  ASSERT_EQ(statvfs(volume.c_str(), &vfs), 0);
  const uint64_t free_bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  ASSERT_GT(free_bytes, 8192u);
  test::WriteBytes(volume / "filler", std::vector<uint8_t>(free_bytes - 8192, 'f'));
  const auto r = RunStub(target, "execute");
  const bool unchanged = test::SameTree(kExample / "1.0", target);
  umount(volume.c_str());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(std::string(kCaption) + ": " + texts::utf8::kTextDiskFull),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("正常終了"), std::string::npos) << r.err;
  EXPECT_TRUE(unchanged) << "nothing was written";
}

TEST_F(RunEdgesTest, TooLongDestinationIsReportedAsTooLong) {
  // A destination whose files' paths reach 256 bytes.
  fs::path target = dir_.path();
  while (target.string().size() < 210) target /= std::string(20, 'd');
  target /= std::string(240 - target.string().size() - 1, 'e');  // 240 bytes
  fs::create_directories(target);
  Install("1.0", target / "app");
  const auto r = test::RunProcess({GP_GENPATCH_PATH, "apply", package_.string(), "--dest",
                                   (target / "app").string(), "--group",
                                   "辞書=" + (target / "app" / "dict").string()},
                                  Env());
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find(texts::utf8::kTextPathTooLong), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(texts::utf8::kTextNoInstalledVersion), std::string::npos) << r.err;
}

TEST_F(RunEdgesTest, KilledRunsTemporaryFilesAreRemovedByTheNextRun) {
  const fs::path target = Install("1.0", dir_ / "app");
  // A run waits at its main form, its folder journal made, and is killed there.
  test::PtySession session;
  ASSERT_TRUE(session.Start({package_.string()},
                            {{"GENPATCH_TEMP_DIR", temp_.path().string()},
                             {"GENPATCH_ANSWERS", ""},
                             {"TERM", "xterm"}},
                            target.string()));
  ASSERT_TRUE(session.WaitFor("[c]ancel > ")) << session.Screen();
  const std::vector<std::string> left = RunFolders(temp_.path());
  ASSERT_EQ(left.size(), 1u);
  const fs::path killed = temp_.path() / left[0];
  EXPECT_FALSE(fs::is_empty(killed)) << "the run's temporary files are in its folder";
  EXPECT_EQ(session.WaitExit(std::chrono::milliseconds(1)), -1) << "killed";
  ASSERT_TRUE(fs::exists(killed)) << "a killed run leaves its folder";

  // Beside it: a file of someone else, and the folder of a live process (this one).
  test::WriteBytes(temp_.path() / "DIF1234.TMP", {'x'});
  const fs::path live = temp_.path() / ("~gp" + std::to_string(getpid()));
  fs::create_directory(live);
  test::WriteBytes(live / "dif0001.TMP", {'y'});

  const auto r = RunStub(target, "execute");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(killed)) << "the next run removed the killed run's files";
  EXPECT_TRUE(fs::exists(temp_.path() / "DIF1234.TMP")) << "an unrelated file stays";
  EXPECT_TRUE(fs::exists(live / "dif0001.TMP")) << "a live process's folder stays";
  fs::remove_all(live);
  EXPECT_TRUE(test::SameTree(kExample / "2.0", target));
}

}  // namespace
}  // namespace gp
