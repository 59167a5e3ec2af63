// The Windows package program's dialogs, driven through its windows under Wine on packages from
// the generator: what the main dialog shows with and without the folder choice, the properties
// dialog's generations and group folders, and a file in use retried once it is closed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/texts.h"
#include "support/desktop_win32.h"
#include "support/release_files.h"
#include "ui/resource_ids.h"
#include "uidriver/session.h"
#include "uidriver/ui_driver.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;
using ui::kMainExecute;
using ui::kMainProperties;
using ui::kPropBrowse;
using ui::kPropFolderEdit;
using ui::kPropGenerations;
using ui::kPropGroups;

constexpr uint32_t kWaitMs = 60000;

class DialogRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& desktop = test::DesktopProblem();
    ASSERT_TRUE(desktop.empty()) << desktop;
    input_.caption = test::Cp932("辞書つき 更新");
    input_.default_folder = "C:\\Program Files\\Sample";
    input_.options.caption = "UPDATE";
    input_.options.failure = "FAILED";
    input_.options.completion = "DONE";
    input_.options.up_to_date = "LATEST";
  }

  // Releases named r0, r1, ... with the given groups each: name (also the source subfolder)
  // -> default folder (code page 932).
  void AddRelease(const Files& files,
                  const std::vector<std::pair<std::string, std::string>>& groups = {}) {
    const std::string name = "r" + std::to_string(input_.releases.size());
    const fs::path folder = dir_ / name;
    test::WriteRelease(folder, files);
    builder::ReleaseInput release{name, "", folder, {}};
    for (const auto& [group, default_folder] : groups) {
      release.groups.push_back({test::Cp932(group), "", default_folder, group});
    }
    input_.releases.push_back(release);
  }

  std::string Package() {
    return test::PathToUtf8(test::WriteDataFile(input_, dir_, "package.dat"));
  }

  fs::path Install(const Files& files, const std::string& name) {
    test::WriteRelease(dir_ / name, files);
    return dir_ / name;
  }

  uidriver::SessionOptions Options(const fs::path& working) {
    uidriver::SessionOptions options;
    options.timeout_ms = 180000;
    options.working_folder = test::PathToUtf8(working);
    options.environment = {{"TMP", test::PathToUtf8(temp_.path())},
                           {"TEMP", test::PathToUtf8(temp_.path())}};
    return options;
  }

  uidriver::SessionResult Drive(const std::string& package, uidriver::SessionOptions options) {
    const uidriver::SessionResult result =
        uidriver::RunSession(uidriver::WindowsPathOf(GP_STUB_EXE), package,
                             std::move(options));
    EXPECT_TRUE(result.ended && !result.driver_failed);
    return result;
  }

  test::TempDir dir_;
  test::TempDir temp_;
  builder::GeneratorInput input_;
};

// Without the folder choice the dialog still shows, because the package has a group.
TEST_F(DialogRoad, MainDialogShowsTheCaptionAndTheFolderToUse) {
  AddRelease({{"A.EXE", "a0"}, {"words/w.dic", "w"}}, {{"words", "C:\\words"}});
  AddRelease({{"A.EXE", "a1"}, {"words/w.dic", "w"}}, {{"words", "C:\\words"}});
  const fs::path installed = Install({{"A.EXE", "a0"}}, "installed");
  struct Case {
    bool choice;
    std::string default_folder;
  };
  for (const Case& c : {Case{true, "C:\\Program Files\\Sample"},
                        Case{false, "C:\\Program Files\\Sample"}, Case{false, ""}}) {
    SCOPED_TRACE((c.choice ? "folder choice, default " : "no folder choice, default ") +
                 c.default_folder);
    input_.folder_choice = c.choice;
    input_.default_folder = c.default_folder;
    uidriver::SessionOptions options = Options(installed);
    options.execute = false;
    const uidriver::SessionResult result = Drive(Package(), options);
    ASSERT_TRUE(result.main.seen) << result.transcript;
    EXPECT_EQ(result.main.title, "辞書つき 更新");
    EXPECT_EQ(result.main.folder, c.default_folder.empty()
                                      ? test::Utf8(test::ProgramPath(installed))
                                      : c.default_folder)
        << "the default folder, else the current folder";
    EXPECT_EQ(result.main.folder_enabled, c.choice);
    EXPECT_EQ(result.main.browse_enabled, c.choice);
    EXPECT_EQ(result.transcript, "");
    EXPECT_EQ(test::ReadRelease(installed).at("A.EXE"), "a0") << "Cancel changes nothing";
  }
}

TEST_F(DialogRoad, FileInUseIsRetriedAfterItIsClosed) {
  AddRelease({{"A.EXE", "a0"}});
  AddRelease({{"A.EXE", "a1"}});
  const fs::path installed = Install({{"A.EXE", "a0"}}, "installed");
  auto holder = std::make_shared<platform::File>();
  const std::string program = test::ProgramPath(installed / "A.EXE");
  ASSERT_TRUE(holder->Open(program.c_str(), platform::kAccessRead,
                           platform::kShareRead | platform::kShareWrite,
                           platform::Disposition::kOpenExisting));
  input_.folder_choice = false;
  input_.default_folder.clear();
  uidriver::SessionOptions options = Options(installed);
  options.answers = {ui::kIdRetry};
  options.on_message = [holder](int index, const std::string&) {
    if (index == 0) holder->Close();
  };
  const uidriver::SessionResult result = Drive(Package(), options);
  EXPECT_EQ(result.transcript, "UPDATE: '" + test::Utf8(program) + "'" +
                                   test::Utf8(texts::kTextInUseTail) + "\nUPDATE: DONE\n");
  EXPECT_EQ(test::ReadRelease(installed).at("A.EXE"), "a1");
}

TEST_F(DialogRoad, GroupFolderClearedToABareDriveStopsTheRun) {
  const fs::path words = Install({{"w.dic", "w0"}}, "words");
  const std::string words_default = test::ProgramPath(words);
  AddRelease({{"A.EXE", "a0"}, {"words/w.dic", "w0"}}, {{"words", words_default}});
  AddRelease({{"A.EXE", "a1"}, {"words/w.dic", "w1"}}, {{"words", words_default}});
  input_.folder_choice = false;
  input_.default_folder.clear();
  const fs::path installed = Install({{"A.EXE", "a0"}}, "installed");
  uidriver::SessionOptions options = Options(installed);
  options.groups = {{"r1", "words", "C:"}};
  const uidriver::SessionResult result = Drive(Package(), options);
  EXPECT_EQ(result.transcript, "UPDATE: " + test::Utf8(texts::kTextInvalidGroupPath) + "\n");
  EXPECT_EQ(test::ReadRelease(installed).at("A.EXE"), "a0");
  EXPECT_EQ(test::ReadRelease(words).at("w.dic"), "w0");
}

// Three generations: the first without groups, the others with two. The
// properties dialog refills the group list per generation, keeps typed folders across group
// switches, stores them on OK, forgets them on Cancel, and the update writes where they say.
TEST_F(DialogRoad, PropertiesDialogEditsTheGroupFoldersPerGeneration) {
  // The names are installed where their default folder says; the words wherever the user
  // types, a different folder for each generation.
  const fs::path names = Install({{"n.dic", "n1"}}, "names");
  const std::string names_default = test::ProgramPath(names);
  AddRelease({{"A.EXE", "a0"}});
  AddRelease({{"A.EXE", "a1"}, {"words/w.dic", "w1"}, {"names/n.dic", "n1"}},
             {{"words", "C:\\words"}, {"names", names_default}});
  AddRelease({{"A.EXE", "a2"}, {"words/w.dic", "w2"}, {"names/n.dic", "n1"}},
             {{"words", "C:\\words"}, {"names", names_default}});
  input_.folder_choice = false;
  input_.default_folder.clear();  // the current folder is the destination
  const fs::path installed = Install({{"A.EXE", "a1"}}, "installed");
  const fs::path words1 = Install({{"w.dic", "w1"}}, "words1");
  const fs::path words2 = dir_ / "words2";
  const std::string package = Package();

  uidriver::Process stub;
  ASSERT_TRUE(stub.Start(uidriver::WindowsPathOf(GP_STUB_EXE), package,
                         Options(installed).environment, std::string(),
                         test::PathToUtf8(installed)));
  uidriver::Window main = uidriver::WaitForDialog(&stub, stub.Id(), kMainExecute, kWaitMs);
  ASSERT_NE(main, nullptr);

  auto open_properties = [&]() {
    uidriver::PressButton(main, kMainProperties);
    return uidriver::WaitForDialog(&stub, stub.Id(), kPropGroups, kWaitMs);
  };
  auto select = [](uidriver::Window props, int combo, int index) {
    EXPECT_TRUE(uidriver::SelectComboItem(props, combo, index));
  };
  auto close = [&](uidriver::Window props, int button) {
    uidriver::PressButton(props, button);
    for (int i = 0; i < 500 && uidriver::IsVisible(props); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(uidriver::IsVisible(props));
  };

  uidriver::Window props = open_properties();
  ASSERT_NE(props, nullptr);
  EXPECT_EQ(uidriver::ComboItems(props, kPropGenerations),
            (std::vector<std::string>{"r0", "r1", "r2"}));
  select(props, kPropGenerations, 0);
  EXPECT_TRUE(uidriver::ComboItems(props, kPropGroups).empty());
  EXPECT_FALSE(uidriver::IsEnabled(props, kPropGroups));
  EXPECT_FALSE(uidriver::IsEnabled(props, kPropFolderEdit));
  EXPECT_FALSE(uidriver::IsEnabled(props, kPropBrowse));
  select(props, kPropGenerations, 1);
  EXPECT_EQ(uidriver::ComboItems(props, kPropGroups),
            (std::vector<std::string>{"words", "names"}));
  EXPECT_TRUE(uidriver::IsEnabled(props, kPropFolderEdit));
  select(props, kPropGroups, 0);
  EXPECT_EQ(uidriver::ControlText(props, kPropFolderEdit), "C:\\words");
  uidriver::SetControlText(props, kPropFolderEdit, test::PathToUtf8(words1));
  select(props, kPropGroups, 1);
  EXPECT_EQ(uidriver::ControlText(props, kPropFolderEdit), test::Utf8(names_default));
  select(props, kPropGroups, 0);
  EXPECT_EQ(uidriver::ControlText(props, kPropFolderEdit), test::PathToUtf8(words1))
      << "a typed folder is kept across group switches";
  select(props, kPropGenerations, 2);
  select(props, kPropGroups, 0);
  uidriver::SetControlText(props, kPropFolderEdit, test::PathToUtf8(words2));
  close(props, ui::kIdOk);

  // Cancel forgets what was typed.
  props = open_properties();
  ASSERT_NE(props, nullptr);
  select(props, kPropGenerations, 1);
  select(props, kPropGroups, 0);
  EXPECT_EQ(uidriver::ControlText(props, kPropFolderEdit), test::PathToUtf8(words1))
      << "OK stored the folder";
  uidriver::SetControlText(props, kPropFolderEdit, "C:\\forgotten");
  close(props, ui::kIdCancel);
  props = open_properties();
  ASSERT_NE(props, nullptr);
  select(props, kPropGenerations, 1);
  select(props, kPropGroups, 0);
  EXPECT_EQ(uidriver::ControlText(props, kPropFolderEdit), test::PathToUtf8(words1));
  close(props, ui::kIdCancel);

  uidriver::PressButton(main, kMainExecute);
  uidriver::Window done = uidriver::WaitForDialog(&stub, stub.Id(), uidriver::kMessageBoxTextId,
                                                  kWaitMs);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(uidriver::ControlText(done, uidriver::kMessageBoxTextId), "DONE");
  uidriver::PressButton(done, ui::kIdOk);
  uint32_t code = 99;
  ASSERT_TRUE(stub.Wait(kWaitMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::ReadRelease(installed).at("A.EXE"), "a2");
  test::ExpectSameFiles(test::ReadRelease(words2), {{"w.dic", "w2"}});
  test::ExpectSameFiles(test::ReadRelease(names), {{"n.dic", "n1"}});
  EXPECT_FALSE(fs::exists(words1 / "w.dic.new2"));
}

}  // namespace
}  // namespace gp
