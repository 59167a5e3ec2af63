// The main and properties dialog procedures through the scripted host: what the user sees,
// what each command does, and what reaches the package tables.
#include <gtest/gtest.h>

#include <cstring>

#include "app/dialogs.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "builder/header_writer.h"
#include "format/trailer.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "support/test_support.h"
#include "update/package_tables.h"

namespace gp {
namespace {

using ui::DialogProcedure;
using ui::kMainBrowse;
using ui::kMainFolderEdit;
using ui::kMainProperties;
using ui::kPropBrowse;
using ui::kPropFolderEdit;
using ui::kPropGenerationComment;
using ui::kPropGenerations;
using ui::kPropGroupComment;
using ui::kPropGroups;
using ui::kPropProjectComment;
using ui::ScriptedDialog;

class DialogsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ReplayFolderJournal(context().journal);
    ui_.Renew();
  }

  // Loads a package data file with the given header (and no payload worth extracting).
  void Load(const builder::HeaderDescription& desc) {
    const auto header = builder::WriteHeader(desc);
    std::vector<uint8_t> file = {0};
    file.insert(file.end(), header.begin(), header.end());
    const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(header.size()));
    file.insert(file.end(), trailer.begin(), trailer.end());
    test::WriteBytes(dir_ / "p.dat", file);
    ASSERT_TRUE(LoadPackageHeader(context(), dir_.Program("p.dat").c_str()));
  }

  static builder::HeaderDescription Sample() {
    builder::HeaderDescription desc;
    desc.caption = "Package caption";
    desc.comment = "project comment";
    desc.folder_choice = 1;
    desc.group_count = 2;
    desc.generations = {
        {"g0", "first", {{"data", "data comment", "C:\\Data0"}, {"help", "", "C:\\Help0"}}},
        {"g1", "second", {}},
        {"g2", "third", {{"data", "", "C:\\Data2"}}}};
    return desc;
  }

  // Runs a modal dialog of the scripted host with the given steps; returns the dialog's state
  // as it was when it ended.
  template <typename... Steps>
  void Queue(Steps... steps) {
    (ui_->QueueDialogStep(steps), ...);
  }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::TempDir dir_;
  test::ScriptedRun ui_;
};

ui::ScriptedHost::DialogStep Check(std::function<void(ScriptedDialog&)> check) {
  return [check](ScriptedDialog& d, DialogProcedure&) { check(d); };
}
ui::ScriptedHost::DialogStep Command(int id) {
  return [id](ScriptedDialog& d, DialogProcedure& p) { p.OnCommand(d, id); };
}
ui::ScriptedHost::DialogStep Type(int id, std::string text) {
  return [id, text](ScriptedDialog& d, DialogProcedure& p) {
    d.SetItemText(id, text.c_str());
    p.OnCommand(d, id);
  };
}
ui::ScriptedHost::DialogStep Select(int id, int index) {
  return [id, index](ScriptedDialog& d, DialogProcedure& p) {
    d.ComboSelect(id, index);
    p.OnCommand(d, id);
  };
}

TEST_F(DialogsTest, MainDialogShowsCaptionAndFolderAndHonoursTheFolderChoice) {
  for (uint32_t choice : {1u, 0u}) {
    SCOPED_TRACE(choice);
    ui_.Renew();
    builder::HeaderDescription desc = Sample();
    desc.folder_choice = choice;
    desc.default_folder = choice ? "C:\\Default" : "";
    Load(desc);
    Queue(Check([&](ScriptedDialog& d) {
            EXPECT_EQ(d.title(), "Package caption");
            EXPECT_EQ(d.IsItemEnabled(kMainFolderEdit), choice == 1);
            EXPECT_EQ(d.IsItemEnabled(kMainBrowse), choice == 1);
            EXPECT_TRUE(d.IsItemEnabled(kMainProperties));
            char current[260];
            platform::CurrentFolder(current, sizeof(current));
            EXPECT_EQ(d.GetItemText(kMainFolderEdit, 256), choice ? "C:\\Default" : current);
          }),
          Type(kMainFolderEdit, "C:\\Typed"), Command(ui::kIdCancel));
    RunMainDialog(context());
    EXPECT_EQ(ui_->modal_dialogs_shown(), choice ? 1 : 2);
    EXPECT_EQ(context().package.generations, nullptr) << "Cancel releases the tables";
    EXPECT_TRUE(ui_->messages().empty()) << "nothing runs";
    ReplayFolderJournal(context().journal);
  }
}

TEST_F(DialogsTest, BrowseTakesTheChosenFolderAndCancelledChooserKeepsIt) {
  Load(Sample());
  ui_->QueueChosenFolder("C:\\Chosen");
  ui_->QueueChosenFolder("");  // cancelled
  ui_->QueueChosenFolder(std::string(256, 'x'));  // too long: refused
  Queue(Command(kMainBrowse),
        Check([](ScriptedDialog& d) { EXPECT_EQ(d.GetItemText(kMainFolderEdit, 256), "C:\\Chosen"); }),
        Command(kMainBrowse), Command(kMainBrowse),
        Check([](ScriptedDialog& d) { EXPECT_EQ(d.GetItemText(kMainFolderEdit, 256), "C:\\Chosen"); }),
        Command(ui::kIdCancel));
  RunMainDialog(context());
}

TEST_F(DialogsTest, PropertiesRefillGroupsPerGenerationAndKeepTypedFolders) {
  Load(Sample());
  Queue(Command(kMainProperties),
        Check([](ScriptedDialog& d) {
          EXPECT_EQ(d.template_id(), ui::kDialogProperties);
          EXPECT_EQ(d.GetItemText(kPropProjectComment, 256), "project comment");
          EXPECT_EQ(d.ComboItems(kPropGenerations), (std::vector<std::string>{"g0", "g1", "g2"}));
          EXPECT_EQ(d.ComboItems(kPropGroups), (std::vector<std::string>{"data", "help"}));
          EXPECT_EQ(d.GetItemText(kPropFolderEdit, 256), "C:\\Data0");
          EXPECT_EQ(d.GetItemText(kPropGroupComment, 256), "data comment");
          EXPECT_EQ(d.GetItemText(kPropGenerationComment, 256), "first");
        }),
        Type(kPropFolderEdit, "D:\\NewData"), Select(kPropGroups, 1),
        Check([](ScriptedDialog& d) { EXPECT_EQ(d.GetItemText(kPropFolderEdit, 256), "C:\\Help0"); }),
        Type(kPropFolderEdit, "D:\\NewHelp"), Select(kPropGroups, 0),
        Check([](ScriptedDialog& d) {
          EXPECT_EQ(d.GetItemText(kPropFolderEdit, 256), "D:\\NewData") << "typed text kept";
        }),
        Select(kPropGenerations, 1),  // a generation without groups
        Check([](ScriptedDialog& d) {
          EXPECT_EQ(d.ComboCount(kPropGroups), 0);
          EXPECT_FALSE(d.IsItemEnabled(kPropGroups));
          EXPECT_FALSE(d.IsItemEnabled(kPropFolderEdit));
          EXPECT_FALSE(d.IsItemEnabled(kPropBrowse));
          EXPECT_EQ(d.GetItemText(kPropGroupComment, 256), "");
        }),
        Select(kPropGenerations, 2),
        Check([](ScriptedDialog& d) {
          EXPECT_TRUE(d.IsItemEnabled(kPropGroups));
          EXPECT_EQ(d.GetItemText(kPropFolderEdit, 256), "C:\\Data2");
        }),
        Command(ui::kIdOk),
        // Back in the main dialog: its edit is unchanged.
        Check([](ScriptedDialog& d) { EXPECT_EQ(d.template_id(), ui::kDialogMain); }),
        [this](ScriptedDialog& d, DialogProcedure& p) {
          // OK stored both edits of generation 0, nothing else.
          EXPECT_STREQ(context().package.Cell(0, 0)->folder, "D:\\NewData");
          EXPECT_STREQ(context().package.Cell(0, 1)->folder, "D:\\NewHelp");
          EXPECT_STREQ(context().package.Cell(2, 0)->folder, "C:\\Data2");
          p.OnCommand(d, kMainProperties);  // again, this time cancelled
        },
        Type(kPropFolderEdit, "E:\\Discarded"), Command(ui::kIdCancel),
        [this](ScriptedDialog& d, DialogProcedure& p) {
          EXPECT_STREQ(context().package.Cell(0, 0)->folder, "D:\\NewData") << "Cancel discards";
          p.OnCommand(d, ui::kIdCancel);
        });
  RunMainDialog(context());
  EXPECT_EQ(ui_->modal_dialogs_shown(), 3);
}

TEST_F(DialogsTest, PackageWithoutGroupsDisablesTheGroupControls) {
  builder::HeaderDescription desc = Sample();
  desc.group_count = 0;
  for (auto& g : desc.generations) g.groups.clear();
  Load(desc);
  Queue(Command(kMainProperties), Check([](ScriptedDialog& d) {
          EXPECT_FALSE(d.IsItemEnabled(kPropGroups));
          EXPECT_FALSE(d.IsItemEnabled(kPropFolderEdit));
          EXPECT_FALSE(d.IsItemEnabled(kPropBrowse));
        }),
        Command(ui::kIdOk), Command(ui::kIdCancel));
  RunMainDialog(context());
}

}  // namespace
}  // namespace gp
