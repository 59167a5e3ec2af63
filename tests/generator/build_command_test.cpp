// `genpatch build` end to end in-process: the package it writes loads and updates an
// installation; two runs give the same bytes; errors leave no file behind.
#include <gtest/gtest.h>

#include "base/texts.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "generator_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

TEST(BuildCommandTest, WritesAPackageThatUpdatesAnInstallation) {
  test::TempDir dir;
  test::WriteRelease(dir / "v1", {{"app.exe", "one"}, {"lib/a.dll", "aaaa"}});
  test::WriteRelease(dir / "v2", {{"app.exe", "two!"}, {"lib/b.dll", "bbbb"}});
  const std::string out = test::PathToUtf8(dir / "p.dat");
  const std::string v1 = test::PathToUtf8(dir / "v1");
  const std::string v2 = test::PathToUtf8(dir / "v2");
  ASSERT_EQ(cli::BuildCommand({"-o", out, "--data-file", v1, v2}), cli::kExitOk);
  const std::vector<uint8_t> first = test::ReadBytes(dir / "p.dat");
  ASSERT_EQ(cli::BuildCommand({"--data-file", v1, v2, "-o", out, "--force"}), cli::kExitOk);
  EXPECT_EQ(test::ReadBytes(dir / "p.dat"), first) << "deterministic";
  EXPECT_FALSE(fs::exists(dir / "p.dat.partial"));
  EXPECT_FALSE(fs::exists(dir / "p.dat.diffs.tmp"));

  test::WriteRelease(dir / "install", {{"app.exe", "one"}, {"lib/a.dll", "aaaa"}});
  const test::RunResult run = test::RunPackage(dir / "p.dat", dir / "install");
  EXPECT_EQ(run.outcome, RunOutcome::kCompleted);
  test::ExpectSameFiles(test::ReadRelease(dir / "install"), test::ReadRelease(dir / "v2"));
}

TEST(BuildCommandTest, ProgramImageFirstForAPackageExecutable) {
  test::TempDir dir;
  test::WriteRelease(dir / "v1", {{"a", "1"}});
  test::WriteRelease(dir / "v2", {{"a", "2"}});
  // A program image that carries the package program's texts.
  std::vector<uint8_t> stub(3000, 0x4D);
  stub[1] = 'Z';
  std::copy_n(texts::kTextCheckingVersion, sizeof texts::kTextCheckingVersion - 1, stub.begin() + 100);
  test::WriteBytes(dir / "stub.bin", stub);
  // An executable is compact unless the classic format is asked for.
  for (const std::string format : {"", "classic"}) {
    std::vector<std::string> args = {"--force", "-o", test::PathToUtf8(dir / "p.exe"), "--stub",
                                     test::PathToUtf8(dir / "stub.bin"),
                                     test::PathToUtf8(dir / "v1"), test::PathToUtf8(dir / "v2")};
    if (!format.empty()) args.insert(args.begin(), {"--format", format});
    ASSERT_EQ(cli::BuildCommand(args), cli::kExitOk);
    const std::vector<uint8_t> package = test::ReadBytes(dir / "p.exe");
    ASSERT_GT(package.size(), stub.size() + 32);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), package.begin()));
    const std::string magic = format.empty() ? "GPATCH-CMP/1" : "SDIFF(Ver1.0)";
    EXPECT_EQ(std::string(package.end() - static_cast<std::ptrdiff_t>(magic.size()), package.end()),
              magic);
  }
}

TEST(BuildCommandTest, ErrorsAndUsage) {
  test::TempDir dir;
  test::WriteRelease(dir / "v1", {{"a", "1"}});
  test::WriteRelease(dir / "v2", {{"zero", std::string(10, '\0')}});
  const std::string out = test::PathToUtf8(dir / "p.dat");
  try {
    cli::BuildCommand({"-o", out, "--data-file", test::PathToUtf8(dir / "v1"),
                       test::PathToUtf8(dir / "v2")});
    ADD_FAILURE() << "no error";
  } catch (const cli::CliError& e) {
    EXPECT_EQ(e.exit_code(), cli::kExitFailure);
    EXPECT_NE(std::string(e.what()).find("zero"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir / "p.dat")) << "nothing is written";
  EXPECT_FALSE(fs::exists(dir / "p.dat.partial"));
  for (const cli::Args& args : {cli::Args{"a", "b"}, cli::Args{"-o", out}, cli::Args{"-o", out, "--bogus", "a"},
                                cli::Args{"-o", out, "--data-file", "--stub", "s", "a", "b"},
                                cli::Args{"--project", "p.toml", "a"}}) {
    try {
      cli::BuildCommand(args);
      ADD_FAILURE() << "accepted";
    } catch (const cli::CliError& e) {
      EXPECT_EQ(e.exit_code(), cli::kExitUsage) << e.what();
    }
  }
}

}  // namespace
}  // namespace gp
