// uidriver.exe running genpatch-stub.exe unattended: it answers the main dialog, prints each
// message box as "caption: text" and ends with the program's exit code.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "builder/header_writer.h"
#include "format/trailer.h"
#include "platform/platform.h"
#include "support/desktop_win32.h"
#include "uidriver/ui_driver.h"

namespace gp {
namespace {

constexpr uint32_t kWaitMs = 60000;

std::string ReadAll(const std::string& program_path) {
  platform::File f;
  std::string bytes;
  if (!f.Open(program_path.c_str(), platform::kAccessRead, platform::kShareRead,
              platform::Disposition::kOpenExisting)) {
    return bytes;
  }
  char buffer[4096];
  for (;;) {
    uint32_t got = 0;
    if (!f.Read(buffer, sizeof(buffer), &got) || got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

bool WriteAll(const std::string& program_path, const std::vector<uint8_t>& bytes) {
  platform::File f;
  if (!f.Open(program_path.c_str(), platform::kAccessWrite, platform::kShareNone,
              platform::Disposition::kCreateAlways)) {
    return false;
  }
  uint32_t done = 0;
  return f.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) &&
         done == bytes.size();
}

class UiDriverProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& desktop = test::DesktopProblem();
    ASSERT_TRUE(desktop.empty()) << desktop;
    char temp[260];
    char name[260];
    ASSERT_NE(platform::TempFolder(temp, sizeof(temp)), 0u);
    ASSERT_NE(platform::MakeTempFileName(temp, "gpu", 0, name), 0u);
    platform::RemoveFile(name);
    ASSERT_TRUE(platform::MakeFolder(name));
    folder_ = name;
    ASSERT_TRUE(platform::ProgramToHostPath(name, &host_));
  }
  void TearDown() override {
    for (const std::string& file : created_) platform::RemoveFile((folder_ + "\\" + file).c_str());
    platform::RemoveFolder(folder_.c_str());
  }

  // A package data file whose header asks for a folder choice and two generations, and
  // whose payload is no compound file of ours.
  // With groups, the second generation has one additional group named "a".
  std::string WriteJunkPackage(bool groups = false) {
    builder::HeaderDescription header;
    header.folder_choice = 1;
    header.caption = "caption";
    header.generations = {{"g0", "", {}}, {"g1", "", {}}};
    if (groups) {
      header.group_count = 1;
      header.generations[1].groups.push_back({"a", "", "C:\\dest"});
    }
    std::vector<uint8_t> file;
    for (uint32_t i = 0; i < 4096; ++i) file.push_back(static_cast<uint8_t>(i * 7 + 3));
    const auto block = builder::WriteHeader(header);
    file.insert(file.end(), block.begin(), block.end());
    const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(block.size()));
    file.insert(file.end(), trailer.begin(), trailer.end());
    created_.push_back("junk.dat");
    EXPECT_TRUE(WriteAll(folder_ + "\\junk.dat", file));
    return host_ + "\\junk.dat";
  }

  struct Outcome {
    bool ended = false;
    uint32_t exit_code = 0;
    std::string transcript;
  };

  // Runs uidriver.exe with the options, then "-- genpatch-stub.exe argument".
  Outcome Drive(const std::string& options, const std::string& argument) {
    created_.push_back("out.txt");
    const std::string out = host_ + "\\out.txt";
    uidriver::Process driver;
    std::string line = options;
    if (!line.empty()) line += " ";
    line += "-- " + uidriver::WindowsPathOf(GP_STUB_EXE) + " " + argument;
    Outcome outcome;
    const std::vector<std::pair<std::string, std::string>> env = {{"TMP", host_},
                                                                  {"TEMP", host_}};
    if (!driver.Start(uidriver::WindowsPathOf(GP_UIDRIVER_EXE), line, env, out)) {
      ADD_FAILURE() << "uidriver.exe did not start";
      return outcome;
    }
    outcome.ended = driver.Wait(kWaitMs, &outcome.exit_code);
    outcome.transcript = ReadAll(folder_ + "\\out.txt");
    return outcome;
  }

  std::string folder_;  // code page 932 program path
  std::string host_;    // UTF-8
  std::vector<std::string> created_;
};

constexpr char kNotProduct[] =
    "解凍エラー!: ユキワリソウヨツバクローバーのファイルではありません。\n";

// A failure inside the main dialog is reported there, and the program ends with 1.
TEST_F(UiDriverProgram, ExecuteByDefaultPrintsTheRefusalAndPassesTheExitCodeOn) {
  const Outcome outcome = Drive("", WriteJunkPackage());
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, kNotProduct);
  EXPECT_EQ(outcome.exit_code, 1u);
}

TEST_F(UiDriverProgram, CancelInTheMainDialogShowsNoMessage) {
  const Outcome outcome = Drive("--main cancel", WriteJunkPackage());
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, "");
  EXPECT_EQ(outcome.exit_code, 0u);
}

TEST_F(UiDriverProgram, TypedFolderAndGroupFolderThenExecute) {
  const Outcome outcome =
      Drive("--folder C:\\target --group g1/a=C:\\other", WriteJunkPackage(true));
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, kNotProduct);
  EXPECT_EQ(outcome.exit_code, 1u);
}

// The properties dialog opens, the group is not there: uidriver cancels and says it failed.
TEST_F(UiDriverProgram, UnknownGroupCancelsTheRunAndFailsTheDriver) {
  const Outcome outcome = Drive("--group g0/a=C:\\other", WriteJunkPackage(true));
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, "");
  EXPECT_EQ(outcome.exit_code, 125u);
}

TEST_F(UiDriverProgram, MissingDataFileBoxIsAnsweredWithOk) {
  const Outcome outcome = Drive("--answer ok", host_ + "\\missing.dat");
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, "解凍エラー!: 自動解凍を実行できません。\n");
  EXPECT_EQ(outcome.exit_code, 1u);
}

TEST_F(UiDriverProgram, UnknownAnswerIsRefusedBeforeAnythingStarts) {
  const Outcome outcome = Drive("--answer maybe", host_ + "\\missing.dat");
  ASSERT_TRUE(outcome.ended) << "uidriver did not end";
  EXPECT_EQ(outcome.transcript, "");
  EXPECT_EQ(outcome.exit_code, 125u);
}

// A program that never ends (a window that is no dialog of ours) is ended when the time is up.
TEST_F(UiDriverProgram, ProgramThatOverrunsItsTimeIsEndedAndTheDriverFails) {
  char windows[260];
  ASSERT_NE(platform::WindowsFolder(windows, sizeof(windows)), 0u);
  uidriver::Process driver;
  ASSERT_TRUE(driver.Start(uidriver::WindowsPathOf(GP_UIDRIVER_EXE),
                           std::string("--timeout 2 -- ") + windows + "\\notepad.exe"));
  uint32_t code = 0;
  ASSERT_TRUE(driver.Wait(kWaitMs, &code)) << "uidriver did not give up";
  EXPECT_EQ(code, 125u);
}

TEST_F(UiDriverProgram, HelpIsPrintedAndNothingStarts) {
  created_.push_back("help.txt");
  uidriver::Process driver;
  ASSERT_TRUE(driver.Start(uidriver::WindowsPathOf(GP_UIDRIVER_EXE), "--help", {},
                           host_ + "\\help.txt"));
  uint32_t code = 1;
  ASSERT_TRUE(driver.Wait(kWaitMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadAll(folder_ + "\\help.txt").rfind("usage: uidriver", 0), 0u);
}

}  // namespace
}  // namespace gp
