#include "ui/console_host.h"

#include <cstring>

#include "base/texts.h"
#include "platform/platform.h"
#include "ui/resource_ids.h"
#include "ui/scripted_host.h"

namespace gp::ui {

namespace {

std::string Utf8(const std::string& cp932) { return platform::Cp932ToUtf8Lossy(cp932); }

void Say(const std::string& utf8) { platform::WriteStderr(utf8); }

std::string Trim(std::string s) {
  const char* blanks = " \t\r\n";
  s.erase(0, s.find_first_not_of(blanks));
  const size_t end = s.find_last_not_of(blanks);
  s.erase(end == std::string::npos ? 0 : end + 1);
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The 1-based number typed after a form command ("g 2") as a 0-based index; -1 when it is no
// number or too large to be one.
int TypedIndex(const std::string& text) {
  const std::string digits = Trim(text);
  if (digits.empty() || digits.size() > 6) return -1;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value - 1;
}

// A host path typed by the user or given in the answers, as a program path.
bool ToProgramPath(const std::string& host, std::string* program) {
  return platform::HostToProgramPath(host, program);
}

int FindComboItem(DialogControls& dialog, int id, const std::string& utf8_name) {
  ScriptedDialog* store = static_cast<ScriptedDialog*>(&dialog);
  const auto& items = store->ComboItems(id);
  for (size_t i = 0; i < items.size(); ++i) {
    if (Utf8(items[i]) == utf8_name) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

ConsoleHost::ConsoleHost() : interactive_(platform::StdinIsTerminal()) {
  SetAnswers(platform::GetEnvironment("GENPATCH_ANSWERS"));
}

void ConsoleHost::SetAnswers(const std::string& list) {
  answers_.clear();
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = Trim(list.substr(start, comma - start));
    if (!item.empty()) answers_.push_back(item);
    start = comma + 1;
  }
}

bool ConsoleHost::NextAnswer(std::string* item) {
  if (answers_.empty()) return false;
  *item = answers_.front();
  answers_.pop_front();
  return true;
}

int ConsoleHost::MessageBox(Window, const char* text, const char* caption, uint32_t type) {
  if (progress_line_open_) {
    Say("\n");
    progress_line_open_ = false;
  }
  Say(Utf8(caption ? caption : "") + ": " + Utf8(text ? text : "") + "\n");
  const uint32_t buttons = type & kMbButtonsMask;
  if (interactive_) {
    for (;;) {
      if (buttons == kMbRetryCancel) {
        Say("  [r]etry or [c]ancel? ");
      } else if (buttons == kMbYesNo) {
        Say("  [y]es or [n]o? ");
      } else {
        Say("  press Enter ");
      }
      std::string line;
      if (!platform::ReadStdinLine(&line)) return DefaultAnswer(type);
      const std::string a = Lower(Trim(line));
      if (buttons == kMbRetryCancel) {
        if (a == "r" || a == "retry") return kIdRetry;
        if (a == "c" || a == "cancel") return kIdCancel;
      } else if (buttons == kMbYesNo) {
        if (a == "y" || a == "yes") return kIdYes;
        if (a == "n" || a == "no") return kIdNo;
      } else {
        return kIdOk;
      }
    }
  }
  std::string item;
  if (!NextAnswer(&item)) return DefaultAnswer(type);
  const std::string a = Lower(item);
  if (buttons == kMbRetryCancel) {
    if (a == "retry") return kIdRetry;
    if (a == "cancel") return kIdCancel;
  } else if (buttons == kMbYesNo) {
    if (a == "yes") return kIdYes;
    if (a == "no") return kIdNo;
  } else if (a == "ok") {
    return kIdOk;
  }
  Say("genpatch: answer '" + item + "' does not fit this question; taking the default\n");
  return DefaultAnswer(type);
}

Window ConsoleHost::CreateModeless(int template_id, Window) {
  if (template_id == kDialogProgress) {
    progress_step_.clear();
    progress_counter_.clear();
    progress_position_ = 0;
  }
  return reinterpret_cast<Window>(static_cast<intptr_t>(template_id));
}

void ConsoleHost::SetItemText(Window window, int control_id, const char* text) {
  const int template_id = static_cast<int>(reinterpret_cast<intptr_t>(window));
  const std::string utf8 = Utf8(text ? text : "");
  if (template_id == kDialogStatus) {
    if (platform::StderrIsTerminal()) Say(utf8 + "\n");
    return;
  }
  if (template_id != kDialogProgress) return;
  if (control_id == kProgressStep) {
    progress_step_ = utf8;
    if (!platform::StderrIsTerminal()) Say("progress: " + utf8 + "\n");
  } else if (control_id == kProgressCounter) {
    progress_counter_ = utf8;
  }
  DrawProgress();
}

void ConsoleHost::SetProgressPosition(Window, int, int position) {
  progress_position_ = position < 0 ? 0 : (position > 100 ? 100 : position);
  DrawProgress();
}

void ConsoleHost::DrawProgress() {
  if (!platform::StderrIsTerminal()) return;
  constexpr int kWidth = 30;
  const int filled = progress_position_ * kWidth / 100;
  std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kWidth - filled), ' ') + "] " +
                    std::to_string(progress_position_) + "%  " + progress_step_ + "  " +
                    progress_counter_ + "\x1b[K";
  Say(bar);
  progress_line_open_ = true;
}

void ConsoleHost::Destroy(Window window) {
  const int template_id = static_cast<int>(reinterpret_cast<intptr_t>(window));
  if (template_id == kDialogProgress && progress_line_open_) {
    Say("\n");
    progress_line_open_ = false;
  }
}

int ConsoleHost::RunModal(int template_id, Window owner, DialogProcedure& procedure) {
  ScriptedDialog dialog(template_id, owner);
  procedure.OnInit(dialog);
  if (template_id == kDialogMain) {
    return interactive_ ? RunMainInteractive(dialog, procedure)
                        : RunMainUnattended(dialog, procedure);
  }
  if (template_id == kDialogProperties) {
    if (interactive_ && !pending_group_set_) {
      RunPropertiesInteractive(dialog, procedure);
    } else {
      RunPropertiesUnattended(dialog, procedure);
    }
  }
  if (!dialog.ended()) procedure.OnCommand(dialog, kIdCancel);
  if (!dialog.ended()) dialog.EndDialog(kIdCancel);
  return dialog.result();
}

int ConsoleHost::RunMainUnattended(DialogControls& dialog, DialogProcedure& procedure) {
  ScriptedDialog& store = static_cast<ScriptedDialog&>(dialog);
  std::string item;
  while (!store.ended()) {
    if (!NextAnswer(&item)) {
      procedure.OnCommand(dialog, kIdCancel);
      break;
    }
    const std::string lower = Lower(item);
    if (lower == "execute") {
      procedure.OnCommand(dialog, kMainExecute);
    } else if (lower == "cancel") {
      procedure.OnCommand(dialog, kIdCancel);
    } else if (item.rfind("folder=", 0) == 0) {
      std::string program;
      if (!dialog.IsItemEnabled(kMainFolderEdit)) {
        Say("genpatch: this package does not let the destination folder be changed; '" + item +
            "' ignored\n");
      } else if (!ToProgramPath(item.substr(7), &program)) {
        Say("genpatch: cannot use the folder '" + item.substr(7) + "'\n");
      } else {
        dialog.SetItemText(kMainFolderEdit, program.c_str());
        procedure.OnCommand(dialog, kMainFolderEdit);
      }
    } else if (item.rfind("group=", 0) == 0) {
      // group=GENERATION/GROUP=PATH
      const std::string desc = item.substr(6);
      const size_t slash = desc.find('/');
      const size_t equals = desc.find('=', slash == std::string::npos ? 0 : slash);
      std::string program;
      if (slash == std::string::npos || equals == std::string::npos) {
        Say("genpatch: '" + item + "' is not of the form group=GENERATION/GROUP=PATH\n");
      } else if (!ToProgramPath(desc.substr(equals + 1), &program)) {
        Say("genpatch: cannot use the folder '" + desc.substr(equals + 1) + "'\n");
      } else {
        pending_group_ = {desc.substr(0, slash), desc.substr(slash + 1, equals - slash - 1),
                          program};
        pending_group_set_ = true;
        procedure.OnCommand(dialog, kMainProperties);
        pending_group_set_ = false;
      }
    } else {
      Say("genpatch: '" + item + "' is no answer for the main dialog; ignored\n");
    }
  }
  return store.result();
}

void ConsoleHost::RunPropertiesUnattended(DialogControls& dialog, DialogProcedure& procedure) {
  if (!pending_group_set_) return;  // nothing to change: the caller cancels
  const int generation = FindComboItem(dialog, kPropGenerations, pending_group_.generation);
  if (generation < 0) {
    Say("genpatch: no generation named '" + pending_group_.generation + "'\n");
    return;
  }
  dialog.ComboSelect(kPropGenerations, generation);
  procedure.OnCommand(dialog, kPropGenerations);
  const int group = FindComboItem(dialog, kPropGroups, pending_group_.group);
  if (group < 0) {
    Say("genpatch: generation '" + pending_group_.generation + "' has no group named '" +
        pending_group_.group + "'\n");
    return;
  }
  dialog.ComboSelect(kPropGroups, group);
  procedure.OnCommand(dialog, kPropGroups);
  dialog.SetItemText(kPropFolderEdit, pending_group_.folder.c_str());
  procedure.OnCommand(dialog, kPropFolderEdit);
  procedure.OnCommand(dialog, kIdOk);
}

int ConsoleHost::RunMainInteractive(DialogControls& dialog, DialogProcedure& procedure) {
  ScriptedDialog& store = static_cast<ScriptedDialog&>(dialog);
  while (!store.ended()) {
    const bool editable = dialog.IsItemEnabled(kMainFolderEdit);
    Say("\n== " + Utf8(store.title()) + " ==\n");
    Say("Update destination folder: " + Utf8(dialog.GetItemText(kMainFolderEdit, 256)) + "\n");
    Say(std::string("[e]xecute  ") + (editable ? "[f]older  [b]rowse  " : "") +
        "[p]roperties  [c]ancel > ");
    std::string line;
    if (!platform::ReadStdinLine(&line)) {
      procedure.OnCommand(dialog, kIdCancel);
      break;
    }
    const std::string a = Lower(Trim(line));
    if (a == "e" || a == "execute") {
      procedure.OnCommand(dialog, kMainExecute);
    } else if (a == "c" || a == "cancel") {
      procedure.OnCommand(dialog, kIdCancel);
    } else if (a == "p" || a == "properties") {
      procedure.OnCommand(dialog, kMainProperties);
    } else if (editable && (a == "b" || a == "browse")) {
      procedure.OnCommand(dialog, kMainBrowse);
    } else if (editable && (a == "f" || a == "folder")) {
      Say("New folder: ");
      std::string folder;
      std::string program;
      if (platform::ReadStdinLine(&folder) && ToProgramPath(Trim(folder), &program)) {
        dialog.SetItemText(kMainFolderEdit, program.c_str());
        procedure.OnCommand(dialog, kMainFolderEdit);
      }
    }
  }
  return store.result();
}

void ConsoleHost::RunPropertiesInteractive(DialogControls& dialog, DialogProcedure& procedure) {
  ScriptedDialog& store = static_cast<ScriptedDialog&>(dialog);
  // The properties dialog keeps the caption of its template: its procedure sets none.
  const std::string title = store.title().empty() ? texts::kTextPropertiesTitle : store.title();
  while (!store.ended()) {
    Say("\n== " + Utf8(title) + " ==\n");
    Say("Project: " + Utf8(dialog.GetItemText(kPropProjectComment, 256)) + "\n");
    const auto& generations = store.ComboItems(kPropGenerations);
    const int g = dialog.ComboSelection(kPropGenerations);
    for (size_t i = 0; i < generations.size(); ++i) {
      Say(std::string(static_cast<int>(i) == g ? " * " : "   ") + std::to_string(i + 1) + ". " +
          Utf8(generations[i]) + "\n");
    }
    Say("Comment: " + Utf8(dialog.GetItemText(kPropGenerationComment, 256)) + "\n");
    const bool groups = dialog.IsItemEnabled(kPropGroups);
    if (groups) {
      const auto& names = store.ComboItems(kPropGroups);
      const int k = dialog.ComboSelection(kPropGroups);
      for (size_t i = 0; i < names.size(); ++i) {
        Say(std::string(static_cast<int>(i) == k ? "   > " : "     ") + "group " +
            std::to_string(i + 1) + ": " + Utf8(names[i]) + "\n");
      }
      Say("   Comment: " + Utf8(dialog.GetItemText(kPropGroupComment, 256)) + "\n");
      Say("   Folder: " + Utf8(dialog.GetItemText(kPropFolderEdit, 256)) + "\n");
    } else {
      Say("   (no additional groups)\n");
    }
    Say(std::string("[g N] generation  ") + (groups ? "[r N] group  [f PATH] folder  " : "") +
        "[o]k  [c]ancel > ");
    std::string line;
    if (!platform::ReadStdinLine(&line)) break;
    const std::string t = Trim(line);
    const std::string a = Lower(t);
    if (a == "o" || a == "ok") {
      procedure.OnCommand(dialog, kIdOk);
    } else if (a == "c" || a == "cancel") {
      procedure.OnCommand(dialog, kIdCancel);
    } else if (a.rfind("g ", 0) == 0) {
      dialog.ComboSelect(kPropGenerations, TypedIndex(a.substr(2)));
      procedure.OnCommand(dialog, kPropGenerations);
    } else if (groups && a.rfind("r ", 0) == 0) {
      dialog.ComboSelect(kPropGroups, TypedIndex(a.substr(2)));
      procedure.OnCommand(dialog, kPropGroups);
    } else if (groups && a.rfind("f ", 0) == 0) {
      std::string program;
      if (ToProgramPath(Trim(t.substr(2)), &program)) {
        dialog.SetItemText(kPropFolderEdit, program.c_str());
        procedure.OnCommand(dialog, kPropFolderEdit);
      }
    }
  }
}

void ConsoleHost::ChooseFolder(Window, char* buffer) {
  if (!interactive_) return;
  Say("Folder (empty to keep): ");
  std::string line;
  std::string program;
  if (!platform::ReadStdinLine(&line) || Trim(line).empty()) return;
  if (!ToProgramPath(Trim(line), &program) || program.size() >= 256) return;
  std::memset(buffer, 0, 256);
  std::memcpy(buffer, program.data(), program.size());
}

}  // namespace gp::ui
