// The update run end to end, in process: packages built from hand-written lists, a scripted
// user, and the disk checked afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "app/extraction.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "builder/diff_encoder.h"
#include "builder/list_writer.h"
#include "builder/package_writer.h"
#include "builder/whole_file_writer.h"
#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "support/test_support.h"
#include "update/commit.h"
#include "update/package_tables.h"
#include "update/run_state.h"
#include "update/update_run.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint32_t Crc(const Bytes& b) {
  return b.empty() ? 0xFFFFFFFFu : Crc32Update(0, b.data(), static_cast<int64_t>(b.size()));
}

// A package under construction: generations, lists and their streams.
struct TestPackage {
  builder::PackageDescription desc;
  std::map<int, std::vector<builder::ListEntryDescription>> lists;
  int next_stream = 0;

  explicit TestPackage(int generations) {
    desc.header.caption = "caption";
    desc.header.version_check = 1;
    for (int g = 0; g < generations; ++g) {
      desc.header.generations.push_back({"gen" + std::to_string(g), "", {}});
    }
    desc.options = builder::DefaultOptionsTexts();
    desc.options.caption = "UPDATE";
    desc.options.failure = "FAILED";
    desc.options.completion = "DONE";
    desc.options.up_to_date = "LATEST";
    desc.options.missing_file = "MISSING";
    desc.layout = builder::PackageLayout::kDataFile;
    desc.payload = builder::PayloadForm::kUncompressed;
    for (int k = 1; k < generations; ++k) lists[k];
  }

  std::string Stream(int k, const std::string& folder, const Bytes& data) {
    const std::string path = std::to_string(k) + "\\" + folder + std::to_string(next_stream++);
    desc.streams.push_back(builder::StreamFromBytes(path, data));
    return path;
  }
  // File name (with subfolders below the token's folder, backslash-separated) added by step k.
  void Add(int k, const std::string& name, const Bytes& content, const std::string& token = "_") {
    const auto [dir, file] = Split(name);
    const std::string path =
        Stream(k, token + "\\" + dir, builder::WriteWholeFileStream({}, content.data(), content.size()));
    lists[k].push_back({0, Crc(content), "", path, "", file});
  }
  void Change(int k, const std::string& name, const Bytes& from, const Bytes& to) {
    const auto [dir, file] = Split(name);
    const std::string path = Stream(k, "_\\" + dir, builder::EncodeDiff(from, to, {}));
    lists[k].push_back({Crc(from), Crc(to), path, path, file, file});
  }
  void Remove(int k, const std::string& name, const Bytes& content) {
    const auto [dir, file] = Split(name);
    lists[k].push_back({Crc(content), 0, std::to_string(k) + "\\_\\" + dir + "x", "", file, ""});
  }
  // An entry from whole/diff stream bytes given as they are.
  void Raw(int k, const std::string& file, const Bytes& stream, uint32_t old_crc, uint32_t new_crc) {
    const std::string path = Stream(k, "_\\", stream);
    lists[k].push_back({old_crc, new_crc, old_crc ? path : "", path, old_crc ? file : "", file});
  }
  static std::pair<std::string, std::string> Split(const std::string& name) {
    const size_t slash = name.rfind('\\');
    if (slash == std::string::npos) return {"", name};
    return {name.substr(0, slash + 1), name.substr(slash + 1)};
  }
  std::string Write(const fs::path& out) {
    for (auto& [k, entries] : lists) {
      desc.streams.push_back(
          builder::StreamFromBytes(std::to_string(k) + "\\list.dat", builder::WriteList(entries)));
    }
    return builder::WritePackage(desc, out);
  }
};

class UpdateRunTest : public ::testing::Test {
 protected:
  void TearDown() override { Finish(); }

  // Loads and extracts the package, sets the destination folder and runs the update.
  void RunPackage(TestPackage& package) {
    ASSERT_EQ(package.Write(dir_ / "package.dat"), "");
    const std::string path = dir_.Program("package.dat");
    ASSERT_TRUE(LoadPackageHeader(context(), path.c_str()));
    ASSERT_TRUE(ExtractPayload(context(), path.c_str()));
    const std::string dest = app_.Program();
    std::strcpy(context().package.destination_folder.get(), dest.c_str());
    RunUpdate(context(), nullptr);
  }
  void Finish() {
    ReleasePackageTables(context());
    if (!context().work_docfile.path.empty()) RemoveWorkDocfile(context().work_docfile);
    ReplayFolderJournal(context().journal);
    ui_.Renew();
  }
  void Put(const std::string& name, const Bytes& content) {
    fs::create_directories((app_ / name).parent_path());
    test::WriteBytes(app_ / name, content);
  }
  Bytes Get(const std::string& name) { return test::ReadBytes(app_ / name); }
  bool Exists(const std::string& name) { return fs::exists(app_ / name); }
  std::vector<std::string> Transcript() { return ui_.Transcript(); }
  // Every file below the application folder, relative, with '/' separators.
  std::vector<std::string> Tree() {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(app_.path())) {
      names.push_back(fs::relative(e.path(), app_.path()).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::TempDir dir_;
  test::TempDir app_;
  test::ScriptedRun ui_;
};

const Bytes kV0 = B("program version zero, with some text that stays the same across versions");
const Bytes kV1 = B("program version one!, with some text that stays the same across versions");
const Bytes kV2 = B("program version two!!, with some more text that stays the same across it");

TEST_F(UpdateRunTest, OneChangedFileThenUpToDate) {
  TestPackage package(2);
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", kV0);
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(Get("MAIN.EXE"), kV1);
  EXPECT_EQ(Tree(), std::vector<std::string>{"MAIN.EXE"}) << "no stage file is left";
  EXPECT_EQ(context().run.run_completed, 1u);
  // The progress dialog showed the step and the counter.
  bool step = false, counter = false;
  for (const auto& t : ui_->window_texts()) {
    step |= t.control_id == ui::kProgressStep && t.text == "gen0 -> gen1";
    counter |= t.control_id == ui::kProgressCounter && test::Utf8(t.text) == "1番めのﾌｧｲﾙ / 1ﾌｧｲﾙ";
  }
  EXPECT_TRUE(step);
  EXPECT_TRUE(counter);
  EXPECT_EQ(ui_->last_progress(), 100);
  EXPECT_EQ(ui_->open_windows(), 0);

  Finish();
  ui_->Clear();
  TestPackage again(2);
  again.Change(1, "MAIN.EXE", kV0, kV1);
  RunPackage(again);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: LATEST"});
  EXPECT_EQ(context().run.run_completed, 0u);
}

TEST_F(UpdateRunTest, ThreeGenerationsFromEveryStart) {
  for (int start : {0, 1}) {
    SCOPED_TRACE(start);
    TestPackage package(3);
    package.Change(1, "MAIN.EXE", kV0, kV1);
    package.Change(2, "MAIN.EXE", kV1, kV2);
    package.Add(2, "sub\\NEW.DAT", B("new data"));
    Put("MAIN.EXE", start == 0 ? kV0 : kV1);
    RunPackage(package);
    EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
    EXPECT_EQ(Get("MAIN.EXE"), kV2);
    EXPECT_EQ(Get("sub/NEW.DAT"), B("new data"));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"MAIN.EXE", "sub", "sub/NEW.DAT"}));
    Finish();
    ui_->Clear();
    fs::remove_all(app_ / "sub");
  }
}

TEST_F(UpdateRunTest, NoInstalledVersionChangesNothing) {
  TestPackage package(2);
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", B("someone else's program"));
  RunPackage(package);
  EXPECT_EQ(Transcript(),
            std::vector<std::string>{"UPDATE: インストールされているバージョンがありません"});
  EXPECT_EQ(Get("MAIN.EXE"), B("someone else's program"));
  EXPECT_EQ(context().run.run_completed, 0u);
}

TEST_F(UpdateRunTest, VersionCheckOffToleratesAMismatchingFile) {
  TestPackage package(2);
  package.desc.header.version_check = 0;
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", B("locally modified"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(Get("MAIN.EXE"), B("locally modified")) << "a mismatching file is carried unchanged";
}

TEST_F(UpdateRunTest, FailedPassLeavesNoStageFilesAndJournalRemovesNewFolders) {
  TestPackage package(3);
  package.Change(1, "MAIN.EXE", kV0, kV1);
  package.Add(1, "deep\\er\\A.DAT", B("a"));
  package.Change(2, "MAIN.EXE", kV1, kV2);
  package.Change(2, "deep\\er\\A.DAT", B("a"), B("b"));
  // An entry of list 2 whose data stream is missing: pass 2 fails on it.
  package.lists[2].push_back({Crc(B("not there")), Crc(B("z")), "2\\_\\x", "2\\_\\x", "GONE.DAT",
                              "GONE.DAT"});
  Put("MAIN.EXE", kV0);
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
  EXPECT_EQ(context().run.run_completed, 0u);
  EXPECT_EQ(Get("MAIN.EXE"), kV0) << "installed files are untouched";
  Finish();  // the journal is replayed at exit
  EXPECT_EQ(Tree(), std::vector<std::string>{"MAIN.EXE"})
      << "no stage file of list 1 or 2, and the folders created for them are gone";
}

TEST_F(UpdateRunTest, RemovalFlagDecidesWhetherRemovedFilesGo) {
  for (uint32_t flag : {1u, 0u}) {
    SCOPED_TRACE(flag);
    TestPackage package(2);
    package.desc.header.file_removal = flag;
    package.Change(1, "MAIN.EXE", kV0, kV1);
    package.Remove(1, "old\\OLD.DLL", B("old library"));
    Put("MAIN.EXE", kV0);
    Put("old/OLD.DLL", B("old library"));
    RunPackage(package);
    EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
    EXPECT_EQ(Exists("old/OLD.DLL"), flag == 0);
    EXPECT_EQ(Exists("old"), flag == 0) << "a folder left empty goes with its last file";
    Finish();
    ui_->Clear();
    fs::remove_all(app_ / "old");
  }
}

TEST_F(UpdateRunTest, BackupFlagKeepsOldVersionsAndAnOlderBackup) {
  TestPackage package(2);
  package.desc.header.backup = 1;
  package.Change(1, "MAIN.EXE", kV0, kV1);
  package.Change(1, "LIB.DLL", B("lib0"), B("lib1"));
  Put("MAIN.EXE", kV0);
  Put("LIB.DLL", B("lib0"));
  Put("LIB.DLL.old", B("older backup"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(Get("MAIN.EXE"), kV1);
  EXPECT_EQ(Get("MAIN.EXE.old"), kV0);
  EXPECT_EQ(Get("LIB.DLL"), B("lib1"));
  EXPECT_EQ(Get("LIB.DLL.old"), B("older backup")) << "an older backup is kept";
}

TEST_F(UpdateRunTest, AddedFileWhoseTargetExistsMovesItAside) {
  TestPackage package(2);
  package.desc.header.version_check = 0;
  package.Add(1, "README.TXT", B("new readme"));
  Put("README.TXT", B("stray readme"));
  RunPackage(package);
  EXPECT_EQ(Get("README.TXT"), B("new readme"));
  EXPECT_EQ(Get("README.TXT.old"), B("stray readme"));
}

TEST_F(UpdateRunTest, FileInUseRetriedAfterItIsClosed) {
  TestPackage package(2);
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", kV0);
  auto holder = std::make_shared<platform::File>();
  ASSERT_TRUE(holder->Open(app_.Program("MAIN.EXE").c_str(), platform::kAccessRead,
                           platform::kShareRead | platform::kShareWrite,
                           platform::Disposition::kOpenExisting));
  ui_->OnMessage([holder](const ui::RecordedMessage&) { holder->Close(); });
  ui_->QueueAnswer(ui::kIdRetry);
  RunPackage(package);
  ASSERT_EQ(ui_->messages().size(), 2u);
  const auto& question = ui_->messages()[0];
  EXPECT_EQ(question.type, ui::kMbRetryCancel | ui::kMbIconStop);
  EXPECT_EQ(test::Utf8(question.text),
            "'" + test::Utf8(app_.Program("MAIN.EXE")) +
                "'はアクセスできません。\nファイルが使用中でないか碓認してください。");
  EXPECT_EQ(test::Utf8(ui_->messages()[1].text), "DONE");
  EXPECT_EQ(Get("MAIN.EXE"), kV1);
}

TEST_F(UpdateRunTest, FilesInUseCancelledKeepOldVersionsAndAskOnce) {
  TestPackage package(2);
  package.Change(1, "A.EXE", B("a0"), B("a1"));
  package.Change(1, "B.EXE", B("b0"), B("b1"));
  Put("A.EXE", B("a0"));
  Put("B.EXE", B("b0"));
  platform::File a, b;
  ASSERT_TRUE(a.Open(app_.Program("A.EXE").c_str(), platform::kAccessRead,
                     platform::kShareRead | platform::kShareWrite, platform::Disposition::kOpenExisting));
  ASSERT_TRUE(b.Open(app_.Program("B.EXE").c_str(), platform::kAccessRead,
                     platform::kShareRead | platform::kShareWrite, platform::Disposition::kOpenExisting));
  ui_->QueueAnswer(ui::kIdCancel);
  RunPackage(package);
  ASSERT_EQ(ui_->messages().size(), 2u) << "the second file in use is not asked about";
  EXPECT_EQ(test::Utf8(ui_->messages()[1].text), "FAILED");
  EXPECT_EQ(context().run.run_completed, 0u) << "nothing was committed";
  EXPECT_EQ(context().run.outcome, RunOutcome::kFailed);
  EXPECT_EQ(Get("A.EXE"), B("a0"));
  EXPECT_EQ(Get("B.EXE"), B("b0"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"A.EXE", "B.EXE"})) << "stage files are gone";
}

TEST_F(UpdateRunTest, CancelAtTheCommitChangesNothingAndARerunCompletes) {
  TestPackage package(2);
  package.desc.header.file_removal = 1;
  package.Change(1, "A.EXE", B("a0"), B("a1"));
  package.Change(1, "B.EXE", B("b0"), B("b1"));
  package.Remove(1, "gone\\C.DLL", B("c0"));
  Put("A.EXE", B("a0"));
  Put("B.EXE", B("b0"));
  Put("gone/C.DLL", B("c0"));
  platform::File b;
  ASSERT_TRUE(b.Open(app_.Program("B.EXE").c_str(), platform::kAccessRead,
                     platform::kShareRead | platform::kShareWrite, platform::Disposition::kOpenExisting));
  ui_->QueueAnswer(ui::kIdCancel);
  RunPackage(package);
  EXPECT_EQ(test::Utf8(ui_->messages().back().text), "FAILED");
  EXPECT_EQ(Get("A.EXE"), B("a0")) << "the file checked before the one in use is not replaced";
  EXPECT_EQ(Get("gone/C.DLL"), B("c0")) << "a removal waits for the commit";
  EXPECT_EQ(Tree(), (std::vector<std::string>{"A.EXE", "B.EXE", "gone", "gone/C.DLL"}));
  b.Close();
  Finish();
  ui_->Clear();
  TestPackage again(2);
  again.desc.header.file_removal = 1;
  again.Change(1, "A.EXE", B("a0"), B("a1"));
  again.Change(1, "B.EXE", B("b0"), B("b1"));
  again.Remove(1, "gone\\C.DLL", B("c0"));
  RunPackage(again);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(Tree(), (std::vector<std::string>{"A.EXE", "B.EXE"}));
  EXPECT_EQ(Get("B.EXE"), B("b1"));
}

TEST_F(UpdateRunTest, FailedSecondPassKeepsTheFilesTheFirstRemoves) {
  TestPackage package(3);
  package.desc.header.file_removal = 1;
  package.Change(1, "MAIN.EXE", kV0, kV1);
  package.Remove(1, "old\\OLD.DLL", B("old library"));
  package.Change(2, "MAIN.EXE", kV1, kV2);
  package.lists[2].push_back({Crc(B("not there")), Crc(B("z")), "2\\_\\x", "2\\_\\x", "GONE.DAT",
                              "GONE.DAT"});
  Put("MAIN.EXE", kV0);
  Put("old/OLD.DLL", B("old library"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
  EXPECT_EQ(Get("old/OLD.DLL"), B("old library"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"MAIN.EXE", "old", "old/OLD.DLL"}));
}

TEST_F(UpdateRunTest, RemovedThenWrittenAgainEndsAsTheLaterVersion) {
  TestPackage package(3);
  package.desc.header.file_removal = 1;
  package.Change(1, "MAIN.EXE", kV0, kV1);
  package.Remove(1, "DATA.BIN", B("data 0"));
  package.Change(2, "MAIN.EXE", kV1, kV2);
  package.Add(2, "DATA.BIN", B("data 2"));
  Put("MAIN.EXE", kV0);
  Put("DATA.BIN", B("data 0"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(Get("DATA.BIN"), B("data 2"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"DATA.BIN", "MAIN.EXE"}));
}

// One byte of a data stream changed: what the pass builds does not match the list's checksum.
TEST_F(UpdateRunTest, DamagedStreamFailsBeforeTheCommit) {
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TestPackage package(2);
    package.Change(1, "MAIN.EXE", kV0, kV1);
    const Bytes content = B("new data");
    Bytes stream = whole ? builder::WriteWholeFileStream({}, content.data(), content.size())
                         : builder::EncodeDiff(kV1, kV2, {});
    stream.back() ^= 0x01;  // a data byte of the last block or literal run
    if (whole) {
      package.Raw(1, "NEW.DAT", stream, 0, Crc(content));
    } else {
      package.Raw(1, "LIB.DLL", stream, Crc(kV1), Crc(kV2));
    }
    Put("MAIN.EXE", kV0);
    if (!whole) Put("LIB.DLL", kV1);
    RunPackage(package);
    EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
    EXPECT_EQ(Get("MAIN.EXE"), kV0);
    const std::vector<std::string> before =
        whole ? std::vector<std::string>{"MAIN.EXE"} : std::vector<std::string>{"LIB.DLL", "MAIN.EXE"};
    EXPECT_EQ(Tree(), before);
    Finish();
    ui_->Clear();
    fs::remove(app_ / "LIB.DLL");
  }
}

TEST_F(UpdateRunTest, ReadOnlyTargetIsTreatedAsInUse) {
  GP_SKIP_UNLESS_READ_ONLY_ENFORCED();
  TestPackage package(2);
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", kV0);
  ASSERT_TRUE(platform::WriteAttributes(app_.Program("MAIN.EXE").c_str(), platform::kAttrReadOnly));
  RunPackage(package);
  ASSERT_EQ(ui_->messages().size(), 2u);
  EXPECT_EQ(ui_->messages()[0].type, ui::kMbRetryCancel | ui::kMbIconStop);
  EXPECT_EQ(test::Utf8(ui_->messages()[1].text), "FAILED");
  EXPECT_EQ(Get("MAIN.EXE"), kV0);
  platform::WriteAttributes(app_.Program("MAIN.EXE").c_str(), platform::kAttrNormal);
}

TEST_F(UpdateRunTest, InvalidGroupFolderStopsBeforeAnything) {
  TestPackage package(2);
  package.desc.header.group_count = 1;
  package.desc.header.generations[1].groups = {{"data", "", "C:"}};
  package.Change(1, "MAIN.EXE", kV0, kV1);
  Put("MAIN.EXE", kV0);
  RunPackage(package);
  EXPECT_EQ(Transcript(),
            std::vector<std::string>{"UPDATE: 追加グループに無効なパスが含まれています。"});
  EXPECT_EQ(Get("MAIN.EXE"), kV0);
}

TEST_F(UpdateRunTest, GroupFilesGoToTheGroupFolder) {
  test::TempDir data;
  TestPackage package(2);
  package.desc.header.group_count = 1;
  package.desc.header.generations[0].groups = {{"data", "", data.Program()}};
  package.desc.header.generations[1].groups = {{"DATA", "", data.Program()}};
  package.Add(1, "levels\\L1.DAT", B("level one"), "data");
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(test::ReadBytes(data / "levels/L1.DAT"), B("level one"));
}

TEST_F(UpdateRunTest, PackagesThatCannotRunAreRefusedUntouched) {
  {
    TestPackage package(1);
    Put("MAIN.EXE", kV0);
    RunPackage(package);
    EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
  }
  Finish();
  ui_->Clear();
  {
    TestPackage package(3);
    package.Change(1, "MAIN.EXE", kV0, kV1);
    package.lists.erase(2);  // list 2 missing
    RunPackage(package);
    EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
    EXPECT_EQ(Get("MAIN.EXE"), kV0);
  }
}

TEST_F(UpdateRunTest, EntryThatWouldLeaveItsFolderIsNotWritten) {
  TestPackage package(2);
  package.desc.header.version_check = 0;
  package.Add(1, "..\\escaped.txt", B("x"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: FAILED"});
  EXPECT_FALSE(fs::exists(app_.path().parent_path() / "escaped.txt"));
}

// A commit killed after it set both files and the removed one aside and moved one stage file
// in, as such a run leaves the folder; the journal is written with the encoder.
class InterruptedCommitTest : public UpdateRunTest {
 protected:
  TestPackage Package() {
    TestPackage package(2);
    package.desc.header.file_removal = 1;
    package.Change(1, "MAIN.EXE", kV0, kV1);
    package.Change(1, "LIB.DLL", B("lib0"), B("lib1"));
    package.Remove(1, "doc\\OLD.TXT", B("old"));
    return package;
  }
  void LeaveInterruptedCommit(bool damaged) {
    Put("MAIN.EXE.gp-aside", kV0);
    Put("MAIN.EXE", kV1);
    Put("LIB.DLL.gp-aside", B("lib0"));
    Put("LIB.DLL.new1", B("lib1"));
    Put("doc/OLD.TXT.gp-aside", B("old"));
    format::CommitJournal journal;
    for (const char* name : {"MAIN.EXE", "LIB.DLL", "doc\\OLD.TXT"}) {
      const std::string path = app_.Program() + "\\" + name;
      journal.steps.push_back({format::kJournalKindSetAside, format::kJournalRemoveEmptyFolder,
                               path, path + ".gp-aside"});
    }
    for (const char* name : {"MAIN.EXE", "LIB.DLL"}) {
      const std::string path = app_.Program() + "\\" + name;
      journal.steps.push_back({format::kJournalKindMoveIn, 0, path + ".new1", path});
    }
    Bytes bytes;
    ASSERT_TRUE(SealCommitJournal(journal, &bytes));
    if (damaged) bytes.back() ^= 0x01;
    Put(kCommitJournalName, bytes);
  }
};

TEST_F(InterruptedCommitTest, TheNextRunFinishesIt) {
  LeaveInterruptedCommit(false);
  TestPackage package = Package();
  RunPackage(package);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"UPDATE: 前回中断された更新を完了しました。",
                                                    "UPDATE: LATEST"}));
  EXPECT_EQ(Get("MAIN.EXE"), kV1);
  EXPECT_EQ(Get("LIB.DLL"), B("lib1"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"LIB.DLL", "MAIN.EXE"}));
}

TEST_F(InterruptedCommitTest, AStageFileGoneRollsItBack) {
  LeaveInterruptedCommit(false);
  fs::remove(app_ / "LIB.DLL.new1");
  TestPackage package = Package();
  RunPackage(package);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"UPDATE: 前回中断された更新を元に戻しました。",
                                                    "UPDATE: DONE"}))
      << "the old release is back, and the update then runs";
  EXPECT_EQ(Get("MAIN.EXE"), kV1);
  EXPECT_EQ(Get("LIB.DLL"), B("lib1"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"LIB.DLL", "MAIN.EXE"}));
}

TEST_F(InterruptedCommitTest, ADamagedJournalIsTreatedAsAbsent) {
  LeaveInterruptedCommit(true);
  TestPackage package = Package();
  RunPackage(package);
  EXPECT_EQ(Transcript(),
            std::vector<std::string>{"UPDATE: インストールされているバージョンがありません"})
      << "nothing was acted on: the folder matches no generation";
  EXPECT_FALSE(Exists(kCommitJournalName));
  EXPECT_FALSE(Exists("LIB.DLL.new1")) << "a stage file of the package's list is deleted";
  EXPECT_TRUE(Exists("MAIN.EXE.gp-aside"));
}

}  // namespace
}  // namespace gp

namespace gp {
namespace {

// ソ and 表 end in a 0x5C byte: the docfile path splits there, the disk path keeps them whole.
TEST_F(UpdateRunTest, FoldersWithBackslashTrailBytesReachTheirFolder) {
  TestPackage package(2);
  package.desc.header.version_check = 0;
  package.Add(1, test::Cp932("ソフト\\表示\\能力.txt"), B("japanese names"));
  RunPackage(package);
  EXPECT_EQ(Transcript(), std::vector<std::string>{"UPDATE: DONE"});
  EXPECT_EQ(test::ReadBytes(app_ / "ソフト/表示/能力.txt"), B("japanese names"));
}

}  // namespace
}  // namespace gp
