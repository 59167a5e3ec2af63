#include "ui/scripted_host.h"

#include <cstring>

namespace gp::ui {

int DefaultAnswer(uint32_t type) {
  switch (type & kMbButtonsMask) {
    case kMbRetryCancel:
      return kIdCancel;
    case kMbYesNo:
      return kIdNo;
    default:
      return kIdOk;
  }
}

void ScriptedDialog::SetItemText(int id, const char* text) { texts_[id] = text ? text : ""; }

std::string ScriptedDialog::GetItemText(int id, int limit) {
  std::string text = texts_[id];
  if (limit <= 0) return std::string();
  if (text.size() > static_cast<size_t>(limit - 1)) text.resize(static_cast<size_t>(limit - 1));
  return text;
}

int ScriptedDialog::ComboAdd(int id, const char* text) {
  combos_[id].items.emplace_back(text ? text : "");
  return static_cast<int>(combos_[id].items.size()) - 1;
}

void ScriptedDialog::ComboSelect(int id, int index) {
  Combo& combo = combos_[id];
  combo.selection = (index >= 0 && index < static_cast<int>(combo.items.size())) ? index : -1;
}

int ScriptedDialog::ComboSelection(int id) { return combos_[id].selection; }

int ScriptedDialog::ComboCount(int id) { return static_cast<int>(combos_[id].items.size()); }

void ScriptedDialog::ComboDelete(int id, int index) {
  Combo& combo = combos_[id];
  if (index < 0 || index >= static_cast<int>(combo.items.size())) return;
  combo.items.erase(combo.items.begin() + index);
  if (combo.selection == index) {
    combo.selection = -1;
  } else if (combo.selection > index) {
    --combo.selection;
  }
}

void ScriptedHost::Clear() {
  answers_.clear();
  dialog_steps_.clear();
  chosen_folders_.clear();
  on_message_ = nullptr;
  messages_.clear();
  window_texts_.clear();
  windows_.clear();
  modal_count_ = 0;
  last_progress_ = -1;
  cursor_ = nullptr;
}

int ScriptedHost::MessageBox(Window owner, const char* text, const char* caption, uint32_t type) {
  RecordedMessage message;
  message.caption = caption ? caption : "";
  message.text = text ? text : "";
  message.type = type;
  message.owned = owner != nullptr;
  if (on_message_) on_message_(message);
  if (!answers_.empty()) {
    message.answer = answers_.front();
    answers_.pop_front();
  } else {
    message.answer = DefaultAnswer(type);
  }
  messages_.push_back(message);
  return message.answer;
}

Window ScriptedHost::CreateModeless(int template_id, Window) {
  Window window = reinterpret_cast<Window>(static_cast<intptr_t>(0x1000 + next_window_++));
  windows_[window] = template_id;
  return window;
}

void ScriptedHost::SetItemText(Window window, int control_id, const char* text) {
  auto it = windows_.find(window);
  window_texts_.push_back({it == windows_.end() ? 0 : it->second, control_id, text ? text : ""});
}

void ScriptedHost::Destroy(Window window) { windows_.erase(window); }

int ScriptedHost::RunModal(int template_id, Window owner, DialogProcedure& procedure) {
  ++modal_count_;
  ScriptedDialog dialog(template_id, owner);
  procedure.OnInit(dialog);
  while (!dialog.ended()) {
    if (dialog_steps_.empty()) {
      procedure.OnCommand(dialog, kIdCancel);
      if (!dialog.ended()) dialog.EndDialog(kIdCancel);
      break;
    }
    DialogStep step = std::move(dialog_steps_.front());
    dialog_steps_.pop_front();
    step(dialog, procedure);
  }
  return dialog.result();
}

void ScriptedHost::ChooseFolder(Window, char* buffer) {
  if (chosen_folders_.empty()) return;
  std::string folder = std::move(chosen_folders_.front());
  chosen_folders_.pop_front();
  if (folder.empty() || folder.size() >= 256) return;
  std::memset(buffer, 0, 256);
  std::memcpy(buffer, folder.data(), folder.size());
}

}  // namespace gp::ui
