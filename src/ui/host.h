// The user-interface host: message boxes, the status and progress windows, cursors and modal
// dialogs, as the program uses them. Three hosts implement it:
//   - win32 (ui/win32/): real windows from the resource templates;
//   - console (ui/console/): terminal forms and questions, stderr transcript, unattended
//     answers from GENPATCH_ANSWERS;
//   - scripted (ui/scripted_host.h): records everything and answers from a script (tests).
// The program reaches its host through the run context (update/run_context.h): the program's
// entry makes the platform's default host and hands it to the context; the command line hands
// it a console host and the tests a scripted one.
//
// Folder src/ui/: the host interface, the resource ids, and the hosts (console, scripted,
// win32/). It may include base and platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/resource_ids.h"

namespace gp::ui {

// Message box types and answers, with the Windows values.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconStop = 0x10;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbButtonsMask = 0xF;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// A window of the host (an HWND on Windows). Null means "no window" (no owner).
using Window = void*;

// The controls of a dialog, as a dialog procedure sees them. Texts are code page 932.
class DialogControls {
 public:
  virtual Window Handle() = 0;
  virtual void SetTitle(const char* text) = 0;
  virtual void SetItemText(int id, const char* text) = 0;
  // At most limit - 1 bytes of the control's text.
  virtual std::string GetItemText(int id, int limit) = 0;
  virtual void EnableItem(int id, bool enabled) = 0;
  virtual bool IsItemEnabled(int id) = 0;
  virtual int ComboAdd(int id, const char* text) = 0;
  virtual void ComboSelect(int id, int index) = 0;
  virtual int ComboSelection(int id) = 0;  // -1 when none
  virtual int ComboCount(int id) = 0;
  virtual void ComboDelete(int id, int index) = 0;
  virtual void EndDialog(int result) = 0;

 protected:
  virtual ~DialogControls() = default;
};

// A dialog procedure written once for all hosts: WM_INITDIALOG and WM_COMMAND (control id
// only). Both return true when handled.
class DialogProcedure {
 public:
  virtual bool OnInit(DialogControls& dialog) = 0;
  virtual bool OnCommand(DialogControls& dialog, int control_id) = 0;

 protected:
  virtual ~DialogProcedure() = default;
};

class Host {
 public:
  virtual ~Host() = default;

  // MessageBox(owner, text, caption, type): returns one of the kId* answers.
  virtual int MessageBox(Window owner, const char* text, const char* caption, uint32_t type) = 0;

  // Modeless dialogs without a procedure (status 130, progress 131), created hidden.
  virtual Window CreateModeless(int template_id, Window owner) = 0;
  virtual void CenterOnScreen(Window window) = 0;
  virtual void Show(Window window) = 0;
  virtual void SetItemText(Window window, int control_id, const char* text) = 0;
  virtual void SetProgressPosition(Window window, int control_id, int position) = 0;
  // UpdateWindow: paint at once.
  virtual void Paint(Window window) = 0;
  virtual void Destroy(Window window) = 0;

  // Cursors: the wait cursor, the arrow cursor, and giving back a remembered one. Each setter
  // returns the cursor shown before.
  virtual void* SetWaitCursor() = 0;
  virtual void* SetArrowCursor() = 0;
  virtual void RestoreCursor(void* previous) = 0;

  // A modal dialog from a template with a procedure; returns the EndDialog result. A null
  // owner means the desktop window.
  virtual int RunModal(int template_id, Window owner, DialogProcedure& procedure) = 0;
  // The folder chooser: on a choice, the 256-byte buffer is cleared and receives the folder;
  // otherwise it stays as it was.
  virtual void ChooseFolder(Window owner, char* buffer) = 0;

  // Brings a dialog to the top of the z-order at the screen's top-left corner, size unchanged.
  virtual void BringToTop(Window) {}
  // Sets a dialog's large icon from the program's icon resource.
  virtual void SetDialogIcon(Window, int /*icon_id*/) {}
  // Enables or disables a whole window (no input reaches a disabled one).
  virtual void EnableWindow(Window, bool /*enabled*/) {}
};

// A new instance of the platform's default host (win32 or console); null when the memory
// cannot be had.
std::unique_ptr<Host> NewDefaultHost();

}  // namespace gp::ui
