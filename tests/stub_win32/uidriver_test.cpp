// uidriver.exe running genpatch-stub.exe unattended: it answers the main dialog, prints each
// message box as "caption: text" and ends with the program's exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/header_writer.h"
#include "cfb/cfb_format.h"
#include "cfb/cfb_writer.h"
#include "codec/payload_writer.h"
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
    std::vector<uint8_t> payload;
    for (uint32_t i = 0; i < 4096; ++i) payload.push_back(static_cast<uint8_t>(i * 7 + 3));
    return WritePackage(payload, "junk.dat", groups);
  }

  std::string WritePackage(std::vector<uint8_t> file, const std::string& name,
                           bool groups = false) {
    builder::HeaderDescription header;
    header.folder_choice = 1;
    header.caption = "caption";
    header.generations = {{"g0", "", {}}, {"g1", "", {}}};
    if (groups) {
      header.group_count = 1;
      header.generations[1].groups.push_back({"a", "", "C:\\dest"});
    }
    const auto block = builder::WriteHeader(header);
    file.insert(file.end(), block.begin(), block.end());
    const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(block.size()));
    file.insert(file.end(), trailer.begin(), trailer.end());
    created_.push_back(name);
    EXPECT_TRUE(WriteAll(folder_ + "\\" + name, file));
    return host_ + "\\" + name;
  }

  // Names of the files in the test's folder (which is the program's temporary folder too).
  std::vector<std::string> FolderFiles() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::u8path(host_), ec)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
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

// Damaged work docfiles that loop (a directory sibling or a sector chain pointing at itself),
// compressed as usual: the program refuses each at once, as the Linux program does, and the
// expanded work docfile does not stay behind.
std::vector<uint8_t> WorkDocfile() {
  cfb::CompoundFileWriter writer;
  int options = 0;
  int lists = 0;
  std::vector<uint8_t> texts(5000, 0x5A);
  std::fill(texts.begin(), texts.begin() + 6, 0);  // six empty texts, then more than a sector
  EXPECT_EQ(writer.AddStorage(cfb::CompoundFileWriter::kRoot, u"0", &options), cfb::Status::kOk);
  EXPECT_EQ(writer.AddStreamBytes(options, u"DiffOption2.dat", texts), cfb::Status::kOk);
  EXPECT_EQ(writer.AddStorage(cfb::CompoundFileWriter::kRoot, u"1", &lists), cfb::Status::kOk);
  EXPECT_EQ(writer.AddStreamBytes(lists, u"list.dat", std::vector<uint8_t>(54, 1)),
            cfb::Status::kOk);
  EXPECT_EQ(writer.AddStreamBytes(cfb::CompoundFileWriter::kRoot, u"big",
                                  std::vector<uint8_t>(9000, 2)),
            cfb::Status::kOk);
  std::vector<uint8_t> file;
  EXPECT_EQ(writer.WriteToVector(&file), cfb::Status::kOk);
  return file;
}

struct DocfileLayout {
  uint32_t first_dir = 0;
  uint32_t first_fat = 0;
  size_t Offset(uint32_t sector) const { return (static_cast<size_t>(sector) + 1) * 512; }
  size_t FatEntry(uint32_t sector) const { return Offset(first_fat) + 4 * sector; }
  size_t Entry(uint32_t id) const { return Offset(first_dir) + cfb::kEntrySize * id; }
};

DocfileLayout LayoutOf(const std::vector<uint8_t>& file) {
  DocfileLayout l;
  l.first_dir = LoadU32(file.data() + cfb::kHeaderFirstDirectorySector);
  l.first_fat = LoadU32(file.data() + cfb::kHeaderDifat);
  return l;
}

// Offset of the directory entry named name (ASCII): the 128-byte record that holds the name and
// its length.
size_t EntryOffset(const std::vector<uint8_t>& file, const char* name) {
  const size_t units = std::char_traits<char>::length(name) + 1;
  for (size_t at = 512; at + cfb::kEntrySize <= file.size(); at += cfb::kEntrySize) {
    if (LoadU16(file.data() + at + cfb::kEntryNameLength) != 2 * units) continue;
    size_t i = 0;
    while (i < units && LoadU16(file.data() + at + 2 * i) == static_cast<uint8_t>(name[i])) ++i;
    if (i == units) return at;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

TEST_F(UiDriverProgram, LoopingWorkDocfilesAreRefusedAtOnceAndLeaveNothingBehind) {
  const std::vector<uint8_t> valid = WorkDocfile();
  const DocfileLayout l = LayoutOf(valid);
  struct Case {
    const char* name;
    std::vector<uint8_t> docfile;
  };
  std::vector<Case> cases;
  {
    // The top of the root's children (a sibling of the rest) names itself on both sides.
    std::vector<uint8_t> file = valid;
    const uint32_t top = LoadU32(file.data() + l.Entry(0) + cfb::kEntryChild);
    StoreU32(file.data() + l.Entry(top) + cfb::kEntryLeft, top);
    StoreU32(file.data() + l.Entry(top) + cfb::kEntryRight, top);
    cases.push_back({"sibling.dat", file});
  }
  {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + l.FatEntry(l.first_dir), l.first_dir);
    cases.push_back({"directory-chain.dat", file});
  }
  {
    std::vector<uint8_t> file = valid;
    const uint32_t start =
        LoadU32(file.data() + EntryOffset(file, "DiffOption2.dat") + cfb::kEntryStartSector);
    StoreU32(file.data() + l.FatEntry(start), start);
    cases.push_back({"stream-chain.dat", file});
  }
  for (const Case& c : cases) {
    std::vector<uint8_t> payload;
    ASSERT_TRUE(WritePayload(c.docfile.data(), c.docfile.size(), PayloadWriterOptions(), &payload));
    const Outcome outcome = Drive("--timeout 20", WritePackage(payload, c.name));
    ASSERT_TRUE(outcome.ended) << c.name << ": uidriver did not end";
    EXPECT_EQ(outcome.transcript, kNotProduct) << c.name;
    EXPECT_EQ(outcome.exit_code, 1u) << c.name;
    std::vector<std::string> left = FolderFiles();
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = created_;
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(left, expected) << c.name;
  }
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
