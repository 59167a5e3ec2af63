// The Linux stub as a user meets it: started with nothing appended, with a named file that is
// not a package, and with a named file that does not exist.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_process.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

class StubStartTest : public ::testing::Test {
 protected:
  test::ProcessResult RunStub(const std::vector<std::string>& args,
                              const fs::path& program = GP_STUB_PATH) {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProcess(argv, {{"GENPATCH_TEMP_DIR", temp_.path().string()},
                                   {"GENPATCH_ANSWERS", ""}});
  }
  bool TempFolderEmpty() const { return fs::is_empty(temp_.path()); }

  test::TempDir temp_;
  test::TempDir work_;
};

TEST_F(StubStartTest, ProgramWithNothingAppendedEndsSilentlyWithCode1) {
  const fs::path copy = work_ / "genpatch-stub";
  fs::copy_file(GP_STUB_PATH, copy);
  const auto r = RunStub({}, copy);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(TempFolderEmpty()) << "no journal or payload file is left behind";
}

TEST_F(StubStartTest, NamedFileThatIsNotAPackage) {
  test::WriteBytes(work_ / "data.bin", std::vector<uint8_t>(64, 'z'));
  const auto r = RunStub({(work_ / "data.bin").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "解凍エラー!: 無効なデータファイルです。\n");
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(StubStartTest, NamedFileThatDoesNotExist) {
  const auto r = RunStub({(work_ / "missing.dat").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "解凍エラー!: 自動解凍を実行できません。\n");
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(StubStartTest, ArgumentsAreJoinedSoThatPathsWithBlanksWork) {
  test::WriteBytes(work_ / "my update.dat", std::vector<uint8_t>(64, 'z'));
  const auto r = RunStub({(work_ / "my").string(), "update.dat"});
  EXPECT_EQ(r.err, "解凍エラー!: 無効なデータファイルです。\n") << "the file was found";
  // Quotes are part of the name, as on Windows: such a file does not exist.
  const auto quoted = RunStub({"\"" + (work_ / "my update.dat").string() + "\""});
  EXPECT_EQ(quoted.err, "解凍エラー!: 自動解凍を実行できません。\n");
}

}  // namespace
}  // namespace gp
