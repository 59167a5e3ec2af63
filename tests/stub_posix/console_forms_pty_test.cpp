// The Linux package program at a terminal: a pseudo-terminal is its controlling terminal and
// its standard streams, and the test reads its forms and questions and types the answers as a
// user would. Every wait has a time limit, so a program that hangs fails the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
constexpr char kMainPrompt[] = "[e]xecute  [f]older  [b]rowse  [p]roperties  [c]ancel > ";
constexpr char kPropertiesPrompt[] =
    "[g N] generation  [r N] group  [f PATH] folder  [o]k  [c]ancel > ";
constexpr char kOkPrompt[] = "press Enter ";
constexpr char kRetryPrompt[] = "[r]etry or [c]ancel? ";

// Whether two folders hold the same files, leaving out the names in skip.
bool SameTree(const fs::path& a, const fs::path& b, const std::string& skip = "") {
  std::vector<std::string> argv = {"/usr/bin/diff", "-r"};
  if (!skip.empty()) argv.insert(argv.end(), {"-x", skip});
  argv.insert(argv.end(), {a.string(), b.string()});
  return test::RunProcess(argv).exit_code == 0;
}

// A folder as the forms show it: its program path in UTF-8.
std::string Shown(const fs::path& folder) { return test::Utf8(test::ProgramPath(folder)); }

class ConsoleFormsPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package_ = dir_ / "update";
    const auto r = test::RunProcess({GP_GENPATCH_PATH, "build", "--project",
                                     (kExample / "project.toml").string(), "--stub", GP_STUB_PATH,
                                     "-o", package_.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  // A copy of a release; without_group leaves its dictionary (the group's folder) out.
  fs::path Install(const std::string& release, const std::string& name,
                   bool without_group = false) {
    const fs::path target = dir_ / name;
    fs::copy(kExample / release, target, fs::copy_options::recursive);
    if (without_group) fs::remove_all(target / "dict");
    return target;
  }

  // Starts the package program on the terminal in folder (its current directory).
  void Start(const fs::path& folder) {
    ASSERT_TRUE(session_.Start(
        {package_.string()},
        {{"GENPATCH_TEMP_DIR", temp_.path().string()}, {"GENPATCH_ANSWERS", ""}, {"TERM", "xterm"}},
        folder.string()));
  }

  // Waits for text; on failure the test stops with what the terminal showed.
  void Expect(const std::string& text) {
    ASSERT_TRUE(session_.WaitFor(text)) << "waited for: " << text << "\nscreen since the last "
                                        << "match:\n"
                                        << session_.Unmatched();
  }

  // Answers the final OK box and checks that the program ends well.
  void ConfirmCompletionAndExit() {
    ASSERT_NO_FATAL_FAILURE(Expect(std::string(kCaption) + ": 正常終了"));
    ASSERT_NO_FATAL_FAILURE(Expect(kOkPrompt));
    session_.Type("\n");
    EXPECT_EQ(session_.WaitExit(), 0) << session_.Screen();
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "no temporary file is left";
  }

  test::TempDir temp_;
  test::TempDir dir_;
  fs::path package_;
  test::PtySession session_;
};

TEST_F(ConsoleFormsPtyTest, MainFormTakesATypedFolderAndUpdatesIt) {
  // The program is started where the dictionary lives (the group folder "dict" is relative to
  // the current directory); the application's folder is typed into the form.
  const fs::path launch = dir_ / "launch";
  fs::create_directory(launch);
  fs::copy(kExample / "1.0" / "dict", launch / "dict", fs::copy_options::recursive);
  const fs::path app = Install("1.0", "app", /*without_group=*/true);

  ASSERT_NO_FATAL_FAILURE(Start(launch));
  ASSERT_NO_FATAL_FAILURE(Expect("== " + std::string(kCaption) + " =="));
  ASSERT_NO_FATAL_FAILURE(Expect("Update destination folder: " + Shown(launch) + "\n"));
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("f\n");
  ASSERT_NO_FATAL_FAILURE(Expect("New folder: "));
  session_.Type(app.string() + "\n");
  ASSERT_NO_FATAL_FAILURE(Expect("Update destination folder: " + Shown(app) + "\n"));
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("e\n");
  ASSERT_NO_FATAL_FAILURE(Expect(texts::utf8::kTextCheckingVersion));
  ASSERT_NO_FATAL_FAILURE(Expect("100%"));
  ASSERT_NO_FATAL_FAILURE(ConfirmCompletionAndExit());

  EXPECT_TRUE(SameTree(kExample / "2.0", app, "dict")) << "the typed folder is updated";
  EXPECT_TRUE(SameTree(kExample / "2.0" / "dict", launch / "dict"));
  EXPECT_FALSE(fs::exists(app / "dict"));
}

TEST_F(ConsoleFormsPtyTest, PropertiesFormListsGenerationsAndMovesTheGroupFolder) {
  // The dictionary of this installation was moved out of the application's folder.
  const fs::path app = Install("1.0", "app", /*without_group=*/true);
  const fs::path words = dir_ / "単語帳";
  fs::copy(kExample / "1.0" / "dict", words, fs::copy_options::recursive);

  ASSERT_NO_FATAL_FAILURE(Start(app));
  ASSERT_NO_FATAL_FAILURE(Expect("Update destination folder: " + Shown(app) + "\n"));
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("p\n");
  ASSERT_NO_FATAL_FAILURE(Expect("== " + std::string(texts::utf8::kTextPropertiesTitle) + " =="));
  ASSERT_NO_FATAL_FAILURE(Expect(" * 1. 1.0\n   2. 1.1\n   3. 2.0\n"));
  ASSERT_NO_FATAL_FAILURE(Expect("Comment: 最初の版\n"));
  ASSERT_NO_FATAL_FAILURE(Expect("> group 1: 辞書\n   Comment: 単語辞書\n   Folder: dict\n"));
  ASSERT_NO_FATAL_FAILURE(Expect(kPropertiesPrompt));

  // Every generation keeps its own folder for the group: each is pointed at the moved one.
  const char* comments[] = {"最初の版", "新機能を追加", "古い機能を削除"};
  for (int g = 1; g <= 3; ++g) {
    SCOPED_TRACE(g);
    session_.Type("g " + std::to_string(g) + "\n");
    ASSERT_NO_FATAL_FAILURE(Expect(" * " + std::to_string(g) + ". "));
    ASSERT_NO_FATAL_FAILURE(Expect("Comment: " + std::string(comments[g - 1]) + "\n"));
    ASSERT_NO_FATAL_FAILURE(Expect("Folder: dict\n"));
    ASSERT_NO_FATAL_FAILURE(Expect(kPropertiesPrompt));
    session_.Type("f " + words.string() + "\n");
    ASSERT_NO_FATAL_FAILURE(Expect("Folder: " + Shown(words) + "\n"));
    ASSERT_NO_FATAL_FAILURE(Expect(kPropertiesPrompt));
  }
  // A number that is no generation selects none; nothing breaks.
  session_.Type("g 99999999999999999999\n");
  ASSERT_NO_FATAL_FAILURE(Expect("(no additional groups)\n[g N] generation  [o]k  [c]ancel > "));
  session_.Type("o\n");
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("e\n");
  ASSERT_NO_FATAL_FAILURE(ConfirmCompletionAndExit());

  EXPECT_TRUE(SameTree(kExample / "2.0", app, "dict"));
  EXPECT_TRUE(SameTree(kExample / "2.0" / "dict", words)) << "the group went to its new folder";
  EXPECT_FALSE(fs::exists(app / "dict"));
}

TEST_F(ConsoleFormsPtyTest, CancelOnTheMainFormChangesNothing) {
  const fs::path app = Install("1.0", "app");
  ASSERT_NO_FATAL_FAILURE(Start(app));
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("c\n");
  EXPECT_EQ(session_.WaitExit(), 0) << session_.Screen();
  EXPECT_EQ(session_.Unmatched().find(kCaption + std::string(": ")), std::string::npos)
      << "no message after Cancel: " << session_.Unmatched();
  EXPECT_TRUE(SameTree(kExample / "1.0", app));
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

TEST_F(ConsoleFormsPtyTest, EndOfInputAnswersEveryFormWithItsDefault) {
  const fs::path app = Install("1.0", "app");
  ASSERT_NO_FATAL_FAILURE(Start(app));
  ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
  session_.Type("p\n");
  ASSERT_NO_FATAL_FAILURE(Expect(kPropertiesPrompt));
  session_.Type("\x04");  // Ctrl-D: the properties form closes, then the main form cancels
  EXPECT_EQ(session_.WaitExit(), 0) << session_.Screen();
  EXPECT_TRUE(SameTree(kExample / "1.0", app));
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

class FileInUsePtyTest : public ConsoleFormsPtyTest {
 protected:
  // Starts the update of a 1.1 installation while this process holds its program file open,
  // and waits for the question about it.
  void StartWhileHeldOpen() {
    app_ = Install("1.1", "app");
    held_.open(app_ / "サンプル.exe", std::ios::binary);
    ASSERT_TRUE(held_.is_open());
    ASSERT_NO_FATAL_FAILURE(Start(app_));
    ASSERT_NO_FATAL_FAILURE(Expect(kMainPrompt));
    session_.Type("e\n");
    ASSERT_NO_FATAL_FAILURE(Expect(std::string(kCaption) + ": '" + Shown(app_ / "サンプル.exe") +
                                   "'" + texts::utf8::kTextInUseTail));
    ASSERT_NO_FATAL_FAILURE(Expect(kRetryPrompt));
  }

  fs::path app_;
  std::ifstream held_;
};

TEST_F(FileInUsePtyTest, RetryAfterTheFileIsClosedUpdatesIt) {
  ASSERT_NO_FATAL_FAILURE(StartWhileHeldOpen());
  session_.Type("maybe\n");
  ASSERT_NO_FATAL_FAILURE(Expect(kRetryPrompt)) << "an answer that fits no button asks again";
  held_.close();
  session_.Type("r\n");
  ASSERT_NO_FATAL_FAILURE(ConfirmCompletionAndExit());
  EXPECT_TRUE(SameTree(kExample / "2.0", app_));
}

TEST_F(FileInUsePtyTest, CancelKeepsTheFileInUse) {
  ASSERT_NO_FATAL_FAILURE(StartWhileHeldOpen());
  // The file is checked again at later steps of the run; each question is cancelled.
  const std::string failure = std::string(kCaption) + ": 差分を実行出来ません。";
  int questions = 1;
  for (;;) {
    session_.Type("c\n");
    const int next = session_.WaitForAny({kRetryPrompt, failure});
    ASSERT_GE(next, 0) << session_.Unmatched();
    if (next == 1) break;
    ASSERT_LT(++questions, 10) << "the run keeps asking about the same file";
  }
  ASSERT_NO_FATAL_FAILURE(Expect(kOkPrompt));
  session_.Type("\n");
  EXPECT_EQ(session_.WaitExit(), 1) << "a file kept in use is a failure\n" << session_.Screen();
  held_.close();
  EXPECT_EQ(test::ReadBytes(app_ / "サンプル.exe"), test::ReadBytes(kExample / "1.1/サンプル.exe"))
      << "the file in use keeps its old version";
  EXPECT_FALSE(fs::exists(app_ / "サンプル.exe.new2")) << "its stage file is gone";
}

}  // namespace
}  // namespace gp
