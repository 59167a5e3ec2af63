// A host for tests: records every message box, window text and cursor change, and answers
// from a script, so that tests assert on what the user would have seen. Texts are kept as the
// program gave them (code page 932); utf8() converts for readable assertions.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/host.h"

namespace gp::ui {

struct RecordedMessage {
  std::string caption;
  std::string text;
  uint32_t type = 0;
  int answer = 0;
  bool owned = false;  // an owner window was given
};

// A dialog as the scripted host keeps it: control texts, enabled states and combo boxes.
class ScriptedDialog : public DialogControls {
 public:
  ScriptedDialog(int template_id, Window owner) : template_id_(template_id), owner_(owner) {}

  Window Handle() override { return this; }
  void SetTitle(const char* text) override { title_ = text ? text : ""; }
  void SetItemText(int id, const char* text) override;
  std::string GetItemText(int id, int limit) override;
  void EnableItem(int id, bool enabled) override { disabled_[id] = !enabled; }
  bool IsItemEnabled(int id) override { return !disabled_[id]; }
  int ComboAdd(int id, const char* text) override;
  void ComboSelect(int id, int index) override;
  int ComboSelection(int id) override;
  int ComboCount(int id) override;
  void ComboDelete(int id, int index) override;
  void EndDialog(int result) override {
    ended_ = true;
    result_ = result;
  }

  int template_id() const { return template_id_; }
  Window owner() const { return owner_; }
  const std::string& title() const { return title_; }
  bool ended() const { return ended_; }
  int result() const { return result_; }
  const std::vector<std::string>& ComboItems(int id) { return combos_[id].items; }

 private:
  struct Combo {
    std::vector<std::string> items;
    int selection = -1;
  };
  int template_id_;
  Window owner_;
  std::string title_;
  std::map<int, std::string> texts_;
  std::map<int, bool> disabled_;
  std::map<int, Combo> combos_;
  bool ended_ = false;
  int result_ = 0;
};

class ScriptedHost : public Host {
 public:
  // A step of a modal dialog's script: acts on the dialog and the procedure (type text, select,
  // press a button through OnCommand).
  using DialogStep = std::function<void(ScriptedDialog&, DialogProcedure&)>;

  // Answers for message boxes, in order. Once they run out: OK, Cancel for Retry/Cancel, No for
  // Yes/No.
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  // Steps for modal dialogs, in order, each run against the innermost open dialog. A dialog
  // whose steps run out is cancelled (command 2).
  void QueueDialogStep(DialogStep step) { dialog_steps_.push_back(std::move(step)); }
  // Folders the chooser returns, in order (code page 932); once they run out, it is cancelled.
  void QueueChosenFolder(std::string folder) { chosen_folders_.push_back(std::move(folder)); }
  // Called when a message box is shown, before it is answered (e.g. to release a file).
  void OnMessage(std::function<void(const RecordedMessage&)> hook) { on_message_ = std::move(hook); }

  const std::vector<RecordedMessage>& messages() const { return messages_; }
  // Every text set in a modeless window: (template id, control id, text).
  struct WindowText {
    int template_id;
    int control_id;
    std::string text;
  };
  const std::vector<WindowText>& window_texts() const { return window_texts_; }
  // Windows created and not yet destroyed.
  int open_windows() const { return static_cast<int>(windows_.size()); }
  int modal_dialogs_shown() const { return modal_count_; }
  int last_progress() const { return last_progress_; }
  void Clear();

  int MessageBox(Window owner, const char* text, const char* caption, uint32_t type) override;
  Window CreateModeless(int template_id, Window owner) override;
  void CenterOnScreen(Window) override {}
  void Show(Window) override {}
  void SetItemText(Window window, int control_id, const char* text) override;
  void SetProgressPosition(Window, int, int position) override { last_progress_ = position; }
  void Paint(Window) override {}
  void Destroy(Window window) override;
  void* SetWaitCursor() override { return Swap(kWait); }
  void* SetArrowCursor() override { return Swap(kArrow); }
  void RestoreCursor(void* previous) override { cursor_ = previous; }
  int RunModal(int template_id, Window owner, DialogProcedure& procedure) override;
  void ChooseFolder(Window owner, char* buffer) override;

  static inline void* const kWait = reinterpret_cast<void*>(1);
  static inline void* const kArrow = reinterpret_cast<void*>(2);
  void* cursor() const { return cursor_; }

 private:
  void* Swap(void* cursor) {
    void* previous = cursor_;
    cursor_ = cursor;
    return previous;
  }

  std::deque<int> answers_;
  std::deque<DialogStep> dialog_steps_;
  std::deque<std::string> chosen_folders_;
  std::function<void(const RecordedMessage&)> on_message_;
  std::vector<RecordedMessage> messages_;
  std::vector<WindowText> window_texts_;
  std::map<Window, int> windows_;  // window -> template id
  int next_window_ = 1;
  int modal_count_ = 0;
  int last_progress_ = -1;
  void* cursor_ = nullptr;
};

// The default answer of a message box type once no scripted answer is left.
int DefaultAnswer(uint32_t type);

}  // namespace gp::ui
