// The terminal host. Every message box is written to stderr in UTF-8 as "caption: text" (line
// breaks kept). On a terminal, questions are asked and the dialogs are small forms; otherwise
// answers come, in order, from a list (GENPATCH_ANSWERS, or SetAnswers): message boxes take
// ok / retry / cancel / yes / no; the main dialog takes folder=PATH and
// group=GENERATION/GROUP=PATH items up to execute or cancel. Once the list is empty, an OK box
// is confirmed, Retry/Cancel gets Cancel, Yes/No gets No and the main dialog Cancel.
#pragma once

#include <deque>
#include <string>

#include "ui/host.h"

namespace gp::ui {

class ConsoleHost : public Host {
 public:
  ConsoleHost();

  // Replaces the unattended answers with a comma-separated list.
  void SetAnswers(const std::string& list);
  // Forces unattended mode even on a terminal (genpatch apply).
  void SetInteractive(bool interactive) { interactive_ = interactive; }

  int MessageBox(Window owner, const char* text, const char* caption, uint32_t type) override;
  Window CreateModeless(int template_id, Window owner) override;
  void CenterOnScreen(Window) override {}
  void Show(Window) override {}
  void SetItemText(Window window, int control_id, const char* text) override;
  void SetProgressPosition(Window window, int control_id, int position) override;
  void Paint(Window) override {}
  void Destroy(Window window) override;
  void* SetWaitCursor() override { return nullptr; }
  void* SetArrowCursor() override { return nullptr; }
  void RestoreCursor(void*) override {}
  int RunModal(int template_id, Window owner, DialogProcedure& procedure) override;
  void ChooseFolder(Window owner, char* buffer) override;

 private:
  struct PendingGroup {
    std::string generation;  // UTF-8
    std::string group;       // UTF-8
    std::string folder;      // code page 932 program path
  };

  bool NextAnswer(std::string* item);
  int RunMainUnattended(DialogControls& dialog, DialogProcedure& procedure);
  int RunMainInteractive(DialogControls& dialog, DialogProcedure& procedure);
  void RunPropertiesUnattended(DialogControls& dialog, DialogProcedure& procedure);
  void RunPropertiesInteractive(DialogControls& dialog, DialogProcedure& procedure);
  void DrawProgress();

  std::deque<std::string> answers_;
  bool interactive_;
  bool pending_group_set_ = false;
  PendingGroup pending_group_;
  // Progress window state.
  std::string progress_step_;
  std::string progress_counter_;
  int progress_position_ = 0;
  bool progress_line_open_ = false;
};

}  // namespace gp::ui
