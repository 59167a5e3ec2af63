// The update run of the real package program, started as a user starts it, on packages from the
// generator: the same scenarios and the same expected messages and disks for the Linux program
// and, under Wine, for the Windows program driven through its windows by uidriver.exe.
#include <gtest/gtest.h>

#include <chrono>

#include "base/texts.h"
#include "builder/compact_diff_encoder.h"
#include "builder/package_writer.h"
#include "format/compact.h"
#include "platform/platform.h"
#include "program_runner.h"
#include "support/release_files.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;
using test::Pattern;

// Three releases: the program changes in both steps, the library in the second; the first step
// adds a file in new nested folders, the second adds one under "block" and removes every file
// of "doc" (two in it, one in a folder below it).
std::vector<Files> Releases() {
  const std::string program = Pattern(20000, 1);
  Files r0 = {{"MAIN.EXE", program},
              {"lib/LIB.DLL", Pattern(5000, 2)},
              {"doc/OLD.TXT", "old notes"},
              {"doc/MORE.TXT", "more notes"},
              {"doc/older/DEEP.TXT", "older notes"},
              {"README.TXT", "read me"}};
  Files r1 = r0;
  r1["MAIN.EXE"] = program.substr(0, 9000) + "version 1.1" + program.substr(9000);
  r1["新しい/深い/追加.txt"] = "added in 1.1";
  Files r2 = r1;
  r2["MAIN.EXE"] = "2.0" + r1["MAIN.EXE"] + Pattern(700, 3);
  r2["lib/LIB.DLL"] = Pattern(2500, 2) + Pattern(2600, 4);
  r2["block/x.txt"] = "added in 2.0";
  for (const char* removed : {"doc/OLD.TXT", "doc/MORE.TXT", "doc/older/DEEP.TXT"}) r2.erase(removed);
  return {r0, r1, r2};
}

// Every scenario runs with a package of each format.
class UpdateScenarios : public ::testing::TestWithParam<builder::PackageFormat> {
 protected:
  void SetUp() override {
    releases_ = Releases();
    std::vector<fs::path> folders;
    for (size_t i = 0; i < releases_.size(); ++i) {
      folders.push_back(dir_ / kNames[i]);
      test::WriteRelease(folders.back(), releases_[i]);
    }
    input_ = builder::InputFromFolders(folders);
    input_.caption = test::Cp932("サンプル 更新");
    input_.options.caption = "UPDATE";
    input_.options.failure = "FAILED";
    input_.options.completion = "DONE";
    input_.options.missing_file = "MISSING";
    input_.options.up_to_date = "LATEST";
    input_.format = GetParam();
  }

  fs::path Package() { return test::WriteDataFile(input_, dir_, "package" + std::to_string(++packages_)); }

  fs::path Install(const Files& files) {
    const fs::path target = dir_ / ("installed" + std::to_string(++installs_));
    test::WriteRelease(target, files);
    return target;
  }

  // Writes releases 1 and 2 again (MAIN.EXE changed by the test), checks the compact diff
  // version the generator chooses for MAIN.EXE, and applies the package to release 0.
  void UpdatesMainExe(char diff_version) {
    for (size_t k : {size_t{1}, size_t{2}}) test::WriteRelease(dir_ / kNames[k], releases_[k]);
    const auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    const std::vector<uint8_t> diff = builder::EncodeCompactDiff(
        bytes(releases_[1]["MAIN.EXE"]), bytes(releases_[2]["MAIN.EXE"]), {}, nullptr, nullptr,
        builder::CompactDiffVersion::kRaw, builder::CompactDiffFilter::kChoose);
    ASSERT_EQ(diff[format::kCompactDiffMagicOffset + 3], diff_version);
    const fs::path installed = Install(releases_[0]);
    EXPECT_EQ(Run(Package(), installed).transcript, "UPDATE: DONE\n");
    test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
  }

  // Runs the program with the installed folder as its current folder.
  test::ProgramRun Run(const fs::path& package, const fs::path& installed,
                       test::ProgramAnswers answers = {}) {
    const test::ProgramRun run = test::RunPackageProgram(package, installed, temp_.path(), answers);
    EXPECT_TRUE(run.ended) << "the program did not end as told";
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "a temporary file is left";
    return run;
  }

  std::string InUse(const fs::path& file) {
    return "UPDATE: '" + test::Utf8(test::ProgramPath(file)) + "'" +
           test::Utf8(texts::kTextInUseTail) + "\n";
  }

  static constexpr const char* kNames[3] = {"1.0", "1.1", "2.0"};
  test::TempDir dir_;
  test::TempDir temp_;
  std::vector<Files> releases_;
  builder::GeneratorInput input_;
  int packages_ = 0;
  int installs_ = 0;
};

TEST_P(UpdateScenarios, EveryGenerationReachesTheNewestAndIsThenUpToDate) {
  const fs::path package = Package();
  for (size_t g = 0; g + 1 < releases_.size(); ++g) {
    SCOPED_TRACE(kNames[g]);
    const fs::path installed = Install(releases_[g]);
    const test::ProgramRun run = Run(package, installed);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.transcript, "UPDATE: DONE\n");
    test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
    EXPECT_FALSE(fs::exists(installed / "doc")) << "folders left empty go with their last files";
    EXPECT_EQ(Run(package, installed).transcript, "UPDATE: LATEST\n");
  }
}

// The addition of 1.1 is carried into 2.0 unchanged but with a later time: its stage file is
// the installed file under a second name, and the commit gives the file its new time. No file
// keeps two names afterwards.
TEST_P(UpdateScenarios, CarriedFilesTakeTheirNewTimeAndKeepOneName) {
  const fs::path carried = test::PathFromUtf8("新しい/深い/追加.txt");
  const auto later = fs::last_write_time(dir_ / kNames[2] / carried) + std::chrono::hours(24 * 400);
  fs::last_write_time(dir_ / kNames[2] / carried, later);
  const fs::path package = Package();
  for (size_t g = 0; g + 1 < releases_.size(); ++g) {
    SCOPED_TRACE(kNames[g]);
    const fs::path installed = Install(releases_[g]);
    EXPECT_EQ(Run(package, installed).transcript, "UPDATE: DONE\n");
    test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
    EXPECT_TRUE(fs::last_write_time(installed / carried) == later);
    for (const auto& entry : fs::recursive_directory_iterator(installed)) {
      if (!entry.is_regular_file()) continue;
      EXPECT_EQ(platform::LinkCount(test::ProgramPath(entry.path()).c_str()), 1u) << entry.path();
    }
  }
}

// A package whose work docfile holds more than small streams: the compact format writes it with
// the larger sectors, which both programs read.
TEST_P(UpdateScenarios, LargeDocfileApplies) {
  releases_[2]["big/ADDED.DAT"] = Pattern(builder::kLargeDocfileData + 1000, 9);
  test::WriteRelease(dir_ / kNames[2], releases_[2]);
  const builder::GeneratedPackage generated = builder::GeneratePackage(input_, dir_ / "diffs");
  EXPECT_EQ(builder::WorkDocfileVersion(generated.desc),
            GetParam() == builder::PackageFormat::kCompact ? 4 : 3);
  const fs::path installed = Install(releases_[0]);
  EXPECT_EQ(Run(Package(), installed).transcript, "UPDATE: DONE\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
}

// Machine code that moved by an insertion, its calls keeping their targets: the compact format
// takes its diff over the x86 branch filter, which both programs turn back.
TEST_P(UpdateScenarios, MovedMachineCodeApplies) {
  auto code = [](size_t inserted) {
    std::string out = Pattern(inserted, 4);
    for (uint32_t i = 0; out.size() < inserted + 200000; ++i) {
      const auto after = static_cast<uint32_t>(out.size() + 5);
      const uint32_t rel = 0x300000 + (i * 2654435761u % 97) * 32 - after;
      out += '\xE8';
      for (int k = 0; k < 4; ++k) out += static_cast<char>(rel >> (8 * k));
      out += Pattern(3 + i % 5, i);
    }
    return out;
  };
  releases_[1]["MAIN.EXE"] = code(0);
  releases_[2]["MAIN.EXE"] = code(900);
  UpdatesMainExe('3');
}

// Functions calling one another, some of which grew: calls between functions that moved apart
// change even over the filter, and the compact format predicts them from its own adds.
TEST_P(UpdateScenarios, GrownFunctionsApply) {
  auto code = [](bool grown) {
    constexpr uint32_t kFunctions = 80;
    auto size = [](uint32_t f) { return size_t{600} + (f * 2654435761u >> 22); };
    std::vector<size_t> starts;
    size_t at = 0;
    for (uint32_t f = 0; f < kFunctions; ++f) {
      starts.push_back(at);
      at += size(f) + (grown && f % 7 == 2 ? 40 : 0);
    }
    std::string out;
    for (uint32_t f = 0; f < kFunctions; ++f) {
      std::string body = Pattern(size(f), f);
      for (char& c : body) c = static_cast<char>(0x40 + (c & 7));  // no opcode with a field
      for (size_t i = 0; i + 16 < body.size(); i += 11) {  // calls to other functions
        const auto after = static_cast<uint32_t>(starts[f] + i + 5);
        const uint32_t rel = static_cast<uint32_t>(starts[(i * 31 + f) % kFunctions]) - after;
        body[i] = '\xE8';
        for (int k = 0; k < 4; ++k) body[i + 1 + k] = static_cast<char>(rel >> (8 * k));
      }
      out += body;
      if (grown && f % 7 == 2) out += Pattern(40, 99);
    }
    return out;
  };
  releases_[1]["MAIN.EXE"] = code(false);
  releases_[2]["MAIN.EXE"] = code(true);
  UpdatesMainExe('5');
}

TEST_P(UpdateScenarios, CancelInTheMainDialogChangesNothing) {
  const fs::path installed = Install(releases_[0]);
  test::ProgramAnswers answers;
  answers.execute = false;
  const test::ProgramRun run = Run(Package(), installed, answers);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.transcript, "");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_[0]);
}

TEST_P(UpdateScenarios, NoInstalledVersionChangesNothing) {
  Files stranger = releases_[1];
  stranger["MAIN.EXE"] = "someone else's program";
  const fs::path installed = Install(stranger);
  const test::ProgramRun run = Run(Package(), installed);
  EXPECT_EQ(run.transcript,
            "UPDATE: " + test::Utf8(texts::kTextNoInstalledVersion) + "\n");
  test::ExpectSameFiles(test::ReadRelease(installed), stranger);
}

TEST_P(UpdateScenarios, VersionCheckOffCarriesAMismatchingFileUnchanged) {
  input_.version_check = false;
  Files local = releases_[0];
  local["lib/LIB.DLL"] = "built here";
  const fs::path installed = Install(local);
  const test::ProgramRun run = Run(Package(), installed);
  EXPECT_EQ(run.transcript, "UPDATE: DONE\n");
  Files expected = releases_.back();
  expected["lib/LIB.DLL"] = "built here";
  test::ExpectSameFiles(test::ReadRelease(installed), expected);
}

TEST_P(UpdateScenarios, RemovalFlagOffKeepsRemovedFiles) {
  input_.file_removal = false;
  const fs::path installed = Install(releases_[0]);
  EXPECT_EQ(Run(Package(), installed).transcript, "UPDATE: DONE\n");
  Files expected = releases_.back();
  for (const char* kept : {"doc/OLD.TXT", "doc/MORE.TXT", "doc/older/DEEP.TXT"}) {
    expected[kept] = releases_[0].at(kept);
  }
  test::ExpectSameFiles(test::ReadRelease(installed), expected);
}

TEST_P(UpdateScenarios, BackupFlagKeepsOldVersionsAndAnOlderBackup) {
  input_.backup = true;
  Files before = releases_[1];
  before["lib/LIB.DLL.old"] = "an older backup";
  const fs::path installed = Install(before);
  EXPECT_EQ(Run(Package(), installed).transcript, "UPDATE: DONE\n");
  Files expected = releases_.back();
  expected["MAIN.EXE.old"] = releases_[1].at("MAIN.EXE");
  expected["lib/LIB.DLL.old"] = "an older backup";
  // The file that the first step added is named in the second list too, unchanged, and so is
  // replaced in place like the others.
  expected["新しい/深い/追加.txt.old"] = releases_[1].at("新しい/深い/追加.txt");
  test::ExpectSameFiles(test::ReadRelease(installed), expected);
}

// Pass 1 creates the folders of its addition; pass 2 cannot create "block" because a file has
// that name. Nothing installed changes, no stage file of either pass is left, and the folders
// pass 1 created are gone when the program ends.
TEST_P(UpdateScenarios, FailureInTheSecondPassLeavesNothingBehind) {
  Files before = releases_[0];
  before["block"] = "a file where the update wants a folder";
  const fs::path installed = Install(before);
  const test::ProgramRun run = Run(Package(), installed);
  EXPECT_EQ(run.transcript, "UPDATE: FAILED\n") << "the failed entry's message ends the run";
  test::ExpectSameFiles(test::ReadRelease(installed), before);
}

// A file in use at the commit, answered Cancel: nothing is committed, and once the file is
// closed the same package completes the update.
// From 1.1 the only pass removes the files of doc and then fails where it wants the folder "block":
// the files it removes are still there, like every other.
TEST_P(UpdateScenarios, FailedPassKeepsTheFilesItRemoves) {
  Files before = releases_[1];
  before["block"] = "a file where the update wants a folder";
  const fs::path installed = Install(before);
  EXPECT_EQ(Run(Package(), installed).transcript, "UPDATE: FAILED\n");
  test::ExpectSameFiles(test::ReadRelease(installed), before);
}

TEST_P(UpdateScenarios, FileHeldOpenAndCancelledCommitsNothingUntilClosed) {
  const fs::path installed = Install(releases_[1]);
  const fs::path package = Package();
  platform::File holder;
  ASSERT_TRUE(holder.Open(test::ProgramPath(installed / "MAIN.EXE").c_str(),
                          platform::kAccessRead, platform::kShareRead | platform::kShareWrite,
                          platform::Disposition::kOpenExisting));
  test::ProgramAnswers answers;
  answers.boxes = {"cancel"};
  const test::ProgramRun run = Run(package, installed, answers);
  holder.Close();
  EXPECT_EQ(run.transcript, InUse(installed / "MAIN.EXE") + "UPDATE: FAILED\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_[1]);
  EXPECT_EQ(Run(package, installed).transcript, "UPDATE: DONE\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
}

// The library comes first in the list, the program right after it: once the user has cancelled
// for the library, the commit stops there and the program is not asked about.
TEST_P(UpdateScenarios, FileInUseRightAfterACancelledOneIsNotAskedAbout) {
  const fs::path installed = Install(releases_[1]);
  platform::File a, b;
  for (auto [file, name] : {std::pair{&a, "MAIN.EXE"}, std::pair{&b, "lib/LIB.DLL"}}) {
    ASSERT_TRUE(file->Open(test::ProgramPath(installed / test::PathFromUtf8(name)).c_str(),
                           platform::kAccessRead, platform::kShareRead | platform::kShareWrite,
                           platform::Disposition::kOpenExisting));
  }
  const test::ProgramRun run = Run(Package(), installed);  // Cancel by default
  a.Close();
  b.Close();
  const std::string library = InUse(installed / "lib" / "LIB.DLL");
  EXPECT_EQ(run.transcript, library + "UPDATE: FAILED\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_[1]);
}

TEST_P(UpdateScenarios, ReadOnlyTargetIsTreatedAsInUse) {
  GP_SKIP_UNLESS_READ_ONLY_ENFORCED();
  const fs::path installed = Install(releases_[1]);
  const std::string program = test::ProgramPath(installed / "MAIN.EXE");
  ASSERT_TRUE(platform::WriteAttributes(program.c_str(), platform::kAttrReadOnly));
  const test::ProgramRun run = Run(Package(), installed);
  platform::WriteAttributes(program.c_str(), platform::kAttrNormal);
  EXPECT_EQ(run.transcript, InUse(installed / "MAIN.EXE") + "UPDATE: FAILED\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_[1]);
}

// Without folder choice and groups there is no main dialog: the update runs at once in the
// current folder.
TEST_P(UpdateScenarios, FolderChoiceOffUpdatesTheCurrentFolderAtOnce) {
  input_.folder_choice = false;
  const fs::path installed = Install(releases_[0]);
  test::ProgramAnswers answers;
  answers.main_dialog = false;
  EXPECT_EQ(Run(Package(), installed, answers).transcript, "UPDATE: DONE\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
}

TEST_P(UpdateScenarios, TypedFolderIsTheOneUpdated) {
  const fs::path installed = Install(releases_[0]);
  const fs::path elsewhere = Install(releases_[0]);
  test::ProgramAnswers answers;
  answers.folder = installed;
  EXPECT_EQ(Run(Package(), elsewhere, answers).transcript, "UPDATE: DONE\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
  test::ExpectSameFiles(test::ReadRelease(elsewhere), releases_[0]);
}

TEST_P(UpdateScenarios, RestartIsOfferedAfterACompletedRun) {
  input_.restart = true;
  const fs::path installed = Install(releases_[1]);
  const test::ProgramRun run = Run(Package(), installed);  // No by default
  EXPECT_EQ(run.exit_code, 5) << "completed, and the package asks for a restart";
  EXPECT_EQ(run.transcript,
            "UPDATE: DONE\nUPDATE: " + test::Utf8(texts::kTextRestartPrompt) + "\n");
  test::ExpectSameFiles(test::ReadRelease(installed), releases_.back());
}

// Dictionaries travel as an additional group whose folder the user names per generation.
class GroupScenarios : public UpdateScenarios {
 protected:
  void SetUp() override {
    UpdateScenarios::SetUp();
    releases_ = {releases_[0], releases_[1]};
    releases_[0]["dict/基本.dic"] = "words 1";
    releases_[1]["dict/基本.dic"] = "words 2";
    releases_[1]["dict/追加.dic"] = "more words";
    std::vector<fs::path> folders;
    for (size_t i = 0; i < releases_.size(); ++i) {
      folders.push_back(dir_ / ("g" + std::to_string(i)));
      test::WriteRelease(folders.back(), releases_[i]);
    }
    const builder::GeneratorInput plain = builder::InputFromFolders(folders);
    input_.releases = plain.releases;
    for (size_t i = 0; i < input_.releases.size(); ++i) {
      input_.releases[i].name = kNames[i];
      input_.releases[i].groups = {{test::Cp932("辞書"), "", "C:", "dict"}};
    }
  }

  Files Main(Files files) {
    std::erase_if(files, [](const auto& f) { return f.first.rfind("dict/", 0) == 0; });
    return files;
  }
  Files Group(const Files& files) {
    Files out;
    for (const auto& [path, content] : files) {
      if (path.rfind("dict/", 0) == 0) out[path.substr(5)] = content;
    }
    return out;
  }
};

TEST_P(GroupScenarios, GroupFilesGoToTheFoldersNamedForEachGeneration) {
  const fs::path installed = Install(Main(releases_[0]));
  const fs::path dictionaries = Install(Group(releases_[0]));
  test::ProgramAnswers answers;
  for (const char* generation : {"1.0", "1.1"}) {
    answers.groups.push_back({generation, "辞書", dictionaries});
  }
  EXPECT_EQ(Run(Package(), installed, answers).transcript, "UPDATE: DONE\n");
  test::ExpectSameFiles(test::ReadRelease(installed), Main(releases_[1]));
  test::ExpectSameFiles(test::ReadRelease(dictionaries), Group(releases_[1]));
}

TEST_P(GroupScenarios, BareDriveAsGroupFolderStopsBeforeAnything) {
  const fs::path installed = Install(Main(releases_[0]));
  const test::ProgramRun run = Run(Package(), installed);
  EXPECT_EQ(run.transcript, "UPDATE: " + test::Utf8(texts::kTextInvalidGroupPath) + "\n");
  test::ExpectSameFiles(test::ReadRelease(installed), Main(releases_[0]));
}

std::string FormatName(const ::testing::TestParamInfo<builder::PackageFormat>& info) {
  return info.param == builder::PackageFormat::kCompact ? "Compact" : "Classic";
}
INSTANTIATE_TEST_SUITE_P(Formats, UpdateScenarios,
                         ::testing::Values(builder::PackageFormat::kClassic,
                                           builder::PackageFormat::kCompact),
                         FormatName);
INSTANTIATE_TEST_SUITE_P(Formats, GroupScenarios,
                         ::testing::Values(builder::PackageFormat::kClassic,
                                           builder::PackageFormat::kCompact),
                         FormatName);

}  // namespace
}  // namespace gp
