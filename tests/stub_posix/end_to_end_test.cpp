// The Linux package program and genpatch apply as a user or a script runs them, on packages
// made by genpatch build from the bundled example's releases: the disk and the messages.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_process.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(GP_SOURCE_DIR) / "examples" / "sample-app";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto r = test::RunProcess({GP_GENPATCH_PATH, "build", "--project",
                                     (kExample / "project.toml").string(), "--stub", GP_STUB_PATH,
                                     "-o", (dir_ / "update").string()},
                                    Env());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    package_ = dir_ / "update";
  }
  std::map<std::string, std::string> Env(const std::string& answers = "") {
    return {{"GENPATCH_TEMP_DIR", temp_.path().string()}, {"GENPATCH_ANSWERS", answers}};
  }
  fs::path Install(const std::string& release) {
    const fs::path target = dir_ / ("installed-" + release);
    fs::copy(kExample / release, target, fs::copy_options::recursive);
    return target;
  }
  // The package program started in the installed folder (its current directory is the
  // destination; the group folder "dict" is relative to it).
  test::ProcessResult RunStub(const fs::path& folder, const std::string& answers) {
    return test::RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\"", folder.string(),
                             package_.string()},
                            Env(answers));
  }

  test::TempDir temp_;
  test::TempDir dir_;
  fs::path package_;
};

TEST_F(EndToEndTest, StubUpdatesEveryGenerationAndThenReportsUpToDate) {
  for (const char* release : {"1.0", "1.1"}) {
    SCOPED_TRACE(release);
    const fs::path target = Install(release);
    const auto r = RunStub(target, "execute");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find("サンプルアプリ アップデート: 正常終了\n"), std::string::npos) << r.err;
    EXPECT_TRUE(test::SameTree(kExample / "2.0", target));
    const auto again = RunStub(target, "execute");
    EXPECT_NE(again.err.find("サンプルアプリ アップデート: 既に最新版になっています。"),
              std::string::npos)
        << again.err;
  }
  EXPECT_TRUE(fs::is_empty(temp_.path())) << "no temporary file is left";
}

TEST_F(EndToEndTest, CancelledMainDialogChangesNothing) {
  const fs::path target = Install("1.0");
  const auto r = RunStub(target, "cancel");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(test::SameTree(kExample / "1.0", target));
}

TEST_F(EndToEndTest, ApplyReportsEveryOutcomeByExitCode) {
  const fs::path target = Install("1.0");
  auto apply = [&](const fs::path& dest) {
    return test::RunProcess({GP_GENPATCH_PATH, "apply", package_.string(), "--dest",
                             dest.string(), "--group", "辞書=" + (dest / "dict").string()},
                            Env());
  };
  const auto check = test::RunProcess(
      {GP_GENPATCH_PATH, "check", package_.string(), "--dest", target.string(), "--group",
       "辞書=" + (target / "dict").string()},
      Env());
  EXPECT_EQ(check.exit_code, 0);
  EXPECT_NE(check.out.find("installed: 1.0"), std::string::npos) << check.out;

  const auto first = apply(target);
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_TRUE(test::SameTree(kExample / "2.0", target));
  EXPECT_EQ(apply(target).exit_code, 4) << "already up to date";

  test::TempDir stranger;
  test::WriteBytes(stranger / "サンプル.exe", {'x'});
  EXPECT_EQ(apply(stranger.path()).exit_code, 3) << "no installed generation";
}

TEST_F(EndToEndTest, FileHeldOpenIsKeptWhenCancelled) {
  const fs::path target = Install("1.1");
  // A second process holds the program file open while the update runs.
  const auto r = test::RunProcess(
      {"/bin/sh", "-c", "cd \"$0\" && exec 3<\"$2\" && \"$1\"", target.string(),
       package_.string(), (target / "サンプル.exe").string()},
      Env("execute,cancel"));
  EXPECT_EQ(r.exit_code, 1) << "a file kept in use is a failure";
  EXPECT_NE(r.err.find("はアクセスできません。\nファイルが使用中でないか碓認してください。"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("サンプルアプリ アップデート: 差分を実行出来ません。"), std::string::npos);
  EXPECT_EQ(test::ReadBytes(target / "サンプル.exe"), test::ReadBytes(kExample / "1.1/サンプル.exe"))
      << "the file in use keeps its old version";
  EXPECT_FALSE(fs::exists(target / "サンプル.exe.new2")) << "its stage file is gone";
}

}  // namespace
}  // namespace gp
