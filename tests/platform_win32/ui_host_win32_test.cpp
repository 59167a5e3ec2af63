// The Win32 host with real windows of this process, driven from a second thread the way a user
// would: message boxes, the status and progress windows, modal dialogs with a shared
// procedure, the folder chooser and cursors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/texts.h"
#include "platform/win32/windows_support.h"
#include "support/desktop_win32.h"
#include "ui/host.h"
#include "ui/win32/folder_choice.h"
#include "uidriver/ui_driver.h"

namespace gp::ui {
namespace {

// Only a ceiling: a cold Wine prefix can take many seconds for its first window.
constexpr uint32_t kWaitMs = 60000;

uint32_t Self() { return GetCurrentProcessId(); }

// The platform's default host, made once for the suite as the program's entry makes it.
Host& DefaultHost() {
  static const std::unique_ptr<Host> host = NewDefaultHost();
  return *host;
}

// Without a desktop that takes windows every case here would fail, most after waiting for a
// dialog that never comes: each fails at once with the reason instead.
class Win32Host : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& desktop = test::DesktopProblem();
    ASSERT_TRUE(desktop.empty()) << desktop;
  }
};

// What the driving thread saw, checked on the test's thread afterwards.
struct Seen {
  bool found = false;
  std::string caption;
  std::string text;
};

TEST_F(Win32Host, MessageBoxShowsCaptionAndTextAndReturnsTheButtonPressed) {
  Seen seen;
  std::thread driver([&] {
    uidriver::Window box = uidriver::WaitForDialog(nullptr, Self(), uidriver::kMessageBoxTextId,
                                                   kWaitMs);
    if (box == nullptr) return;
    seen.found = true;
    seen.caption = uidriver::WindowText(box);
    seen.text = uidriver::ControlText(box, uidriver::kMessageBoxTextId);
    uidriver::PressButton(box, kIdCancel);
  });
  const int answer = DefaultHost().MessageBox(nullptr, texts::kTextInUseTail,
                                              texts::kCaptionExtractionError,
                                              kMbRetryCancel | kMbIconStop);
  driver.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(answer, kIdCancel);
  EXPECT_EQ(seen.caption, "解凍エラー!");
  EXPECT_EQ(seen.text, "はアクセスできません。\nファイルが使用中でないか碓認してください。");
}

TEST_F(Win32Host, StatusWindowIsCreatedHiddenCentredShownAndDestroyed) {
  Host& host = DefaultHost();
  Window status = host.CreateModeless(kDialogStatus, nullptr);
  ASSERT_NE(status, nullptr);
  HWND hwnd = static_cast<HWND>(status);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  RECT before;
  ASSERT_TRUE(GetWindowRect(hwnd, &before));
  host.CenterOnScreen(status);
  RECT after;
  ASSERT_TRUE(GetWindowRect(hwnd, &after));
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  const int cx = GetSystemMetrics(SM_CXFULLSCREEN);
  const int cy = GetSystemMetrics(SM_CYFULLSCREEN);
  EXPECT_LE(std::abs((after.left + after.right) / 2 - cx / 2), 1);
  EXPECT_LE(std::abs((after.top + after.bottom) / 2 - cy / 2), 1);

  host.Show(status);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  host.SetItemText(status, kStatusText, texts::kTextPreparing);
  host.Paint(status);
  EXPECT_EQ(uidriver::ControlText(status, kStatusText), "インストール準備中...");
  EXPECT_EQ(uidriver::WindowText(status), "");
  host.Destroy(status);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Win32Host, ProgressDialogTakesStepCounterAndBarPosition) {
  Host& host = DefaultHost();
  Window progress = host.CreateModeless(kDialogProgress, nullptr);
  ASSERT_NE(progress, nullptr);
  host.Show(progress);
  EXPECT_EQ(uidriver::WindowText(progress), "ｱｯﾌﾟﾃﾞｰﾄしています...");
  // 1世代 -> 2世代
  host.SetItemText(progress, kProgressStep, "1\x90\xA2\x91\xE3 -> 2\x90\xA2\x91\xE3");
  host.SetProgressPosition(progress, kProgressBar, 42);
  host.Paint(progress);
  EXPECT_EQ(uidriver::ControlText(progress, kProgressStep), "1世代 -> 2世代");
  EXPECT_EQ(uidriver::ProgressPosition(progress, kProgressBar), 42);
  host.SetProgressPosition(progress, kProgressBar, 100);
  EXPECT_EQ(uidriver::ProgressPosition(progress, kProgressBar), 100);
  host.Destroy(progress);
}

// A procedure that fills the properties template and records what reaches it.
class RecordingProcedure final : public DialogProcedure {
 public:
  bool OnInit(DialogControls& d) override {
    d.SetTitle("\x83\x65\x83\x58\x83\x67");  // テスト
    d.ComboAdd(1006, "1\x90\xA2\x91\xE3");     // 1世代
    d.ComboAdd(1006, "2\x90\xA2\x91\xE3");
    d.ComboSelect(1006, 1);
    d.SetItemText(1005, "C:\\\x95\x5C");  // C:\表
    d.EnableItem(1004, false);
    return true;
  }
  bool OnCommand(DialogControls& d, int id) override {
    commands.push_back(id);
    if (id != kIdOk) return false;
    folder = d.GetItemText(1005, 256);
    folder_cut = d.GetItemText(1005, 4);
    selection = d.ComboSelection(1006);
    count = d.ComboCount(1006);
    browse_enabled = d.IsItemEnabled(1004);
    d.ComboDelete(1006, 0);
    count_after_delete = d.ComboCount(1006);
    d.EndDialog(5);
    return true;
  }

  std::vector<int> commands;
  std::string folder, folder_cut;
  int selection = -2, count = -2, count_after_delete = -2;
  bool browse_enabled = true;
};

TEST_F(Win32Host, ModalDialogRunsASharedProcedureUntilItEnds) {
  Seen seen;
  std::thread driver([&] {
    uidriver::Window dialog = uidriver::WaitForDialog(nullptr, Self(), 1006, kWaitMs);
    if (dialog == nullptr) return;
    seen.found = true;
    seen.caption = uidriver::WindowText(dialog);
    seen.text = uidriver::ControlText(dialog, 1005);
    uidriver::SetControlText(dialog, 1005, "Ｄ:\\新");
    uidriver::PressButton(dialog, kIdOk);
  });
  RecordingProcedure procedure;
  const int result = DefaultHost().RunModal(kDialogProperties, nullptr, procedure);
  driver.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(seen.caption, "テスト");
  EXPECT_EQ(seen.text, "C:\\表");
  // The typed text reached the procedure in code page 932 (Ｄ is two bytes, 新 two bytes).
  EXPECT_EQ(procedure.folder, "\x82\x63:\\\x90\x56");
  EXPECT_EQ(procedure.folder_cut, "\x82\x63:") << "three bytes at most, whole characters";
  EXPECT_EQ(procedure.selection, 1);
  EXPECT_EQ(procedure.count, 2);
  EXPECT_EQ(procedure.count_after_delete, 1);
  EXPECT_FALSE(procedure.browse_enabled);
  // Every command reached it by control id, the edit's change notification too.
  ASSERT_FALSE(procedure.commands.empty());
  EXPECT_EQ(procedure.commands.back(), kIdOk);
  EXPECT_NE(std::find(procedure.commands.begin(), procedure.commands.end(), 1005),
            procedure.commands.end());
}

TEST_F(Win32Host, FolderChooserCancelledLeavesTheBufferAlone) {
  Seen seen;
  std::thread driver([&] {
    uidriver::Window dialog = uidriver::WaitForDialog(nullptr, Self(), 0, kWaitMs);
    if (dialog == nullptr) return;
    seen.found = true;
    uidriver::PressButton(dialog, kIdCancel);
  });
  char buffer[256];
  std::memset(buffer, 'q', sizeof(buffer));
  std::memcpy(buffer, "C:\\old", 7);
  DefaultHost().ChooseFolder(nullptr, buffer);
  driver.join();
  ASSERT_TRUE(seen.found);
  EXPECT_STREQ(buffer, "C:\\old");
  EXPECT_EQ(buffer[255], 'q');
}

TEST_F(Win32Host, ChosenFolderIsStoredOnlyWhenItFitsTheBuffer) {
  char buffer[win32::kFolderBufferSize];
  std::memset(buffer, 'q', sizeof(buffer));
  const std::string fits = "C:\\" + std::string(252, 'a');  // 255 bytes
  ASSERT_TRUE(win32::StoreChosenFolder(fits, buffer));
  EXPECT_EQ(std::string(buffer), fits);
  EXPECT_EQ(buffer[255], '\0') << "the rest of the buffer is cleared";

  std::memcpy(buffer, "C:\\kept", 8);
  EXPECT_FALSE(win32::StoreChosenFolder(fits + "b", buffer)) << "256 bytes do not fit";
  EXPECT_STREQ(buffer, "C:\\kept");
  EXPECT_FALSE(win32::StoreChosenFolder("", buffer));
  EXPECT_STREQ(buffer, "C:\\kept");
}

TEST_F(Win32Host, CursorSettersReturnTheCursorShownBefore) {
  Host& host = DefaultHost();
  HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  void* original = host.SetArrowCursor();
  EXPECT_EQ(host.SetWaitCursor(), static_cast<void*>(arrow));
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_EQ(host.SetArrowCursor(), static_cast<void*>(wait));
  host.RestoreCursor(original);
  EXPECT_EQ(GetCursor(), static_cast<HCURSOR>(original));
}

}  // namespace
}  // namespace gp::ui
