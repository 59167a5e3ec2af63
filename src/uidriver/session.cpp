#include "uidriver/session.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/host.h"
#include "ui/resource_ids.h"
#include "uidriver/ui_driver.h"

namespace gp::uidriver {
namespace {

constexpr uint32_t kDialogWaitMs = 15000;
constexpr uint32_t kPollMs = 20;

// Control ids of the package program's dialogs and message boxes, as the program defines them.
using ui::kMainBrowse;
using ui::kMainExecute;
using ui::kMainFolderEdit;
using ui::kMainProperties;
using ui::kPropBrowse;
using ui::kPropFolderEdit;
using ui::kPropGenerations;
using ui::kPropGroups;
using ui::kIdCancel;
using ui::kIdNo;
using ui::kIdOk;
using ui::kIdRetry;
using ui::kIdYes;
using ui::kProgressBar;
using ui::kStatusText;

using Clock = std::chrono::steady_clock;

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs)); }

void Complain(const std::string& text) {
  std::fputs(("uidriver: " + text + "\n").c_str(), stderr);
}

bool IsMainDialog(Window w) { return HasControl(w, kMainExecute); }

bool IsMessageBox(Window w) {
  if (!HasControl(w, kMessageBoxTextId)) return false;
  for (int other : {kMainExecute, kPropGroups, kPropBrowse, kProgressBar, kStatusText}) {
    if (HasControl(w, other)) return false;
  }
  for (int button : {kIdOk, kIdCancel, kIdRetry, kIdYes, kIdNo}) {
    if (HasControl(w, button)) return true;
  }
  return false;
}

// The button for the next box: the next answer when the box has that button, else the
// cautious one.
int ChooseButton(Window box, SessionOptions* options) {
  int fallback = kIdOk;
  if (HasControl(box, kIdRetry)) fallback = kIdCancel;
  else if (HasControl(box, kIdYes)) fallback = kIdNo;
  else if (!HasControl(box, kIdOk)) fallback = kIdCancel;
  if (options->answers.empty()) return fallback;
  const int wanted = options->answers.front();
  options->answers.pop_front();
  if (HasControl(box, wanted)) return wanted;
  Complain("the box has no button for the given answer; pressing the cautious one");
  return fallback;
}

int FindItem(const std::vector<std::string>& items, const std::string& name) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] == name) return static_cast<int>(i);
  }
  return -1;
}

class Session {
 public:
  Session(SessionOptions options) : options_(std::move(options)) {
    deadline_ = Clock::now() + std::chrono::milliseconds(options_.timeout_ms);
  }

  SessionResult Run(const std::string& program, const std::string& arguments) {
    if (!process_.Start(WindowsPathOf(program), arguments, options_.environment, std::string(),
                        options_.working_folder)) {
      Complain("cannot start '" + program + "'");
      result_.driver_failed = true;
      return result_;
    }
    bool main_done = false;
    int boxes = 0;
    while (process_.Running()) {
      if (TimeIsUp()) return result_;
      bool acted = false;
      for (Window w : VisibleDialogs(process_.Id())) {
        if (IsMessageBox(w)) {
          const std::string line = WindowText(w) + ": " + ControlText(w, kMessageBoxTextId) + "\n";
          result_.transcript += line;
          if (options_.on_message) options_.on_message(boxes, line);
          ++boxes;
          PressButton(w, ChooseButton(w, &options_));
          WaitUntilGone(w);
          acted = true;
          break;
        }
        if (!main_done && IsMainDialog(w)) {
          main_done = true;
          if (!HandleMain(w)) {
            result_.driver_failed = true;
            PressButton(w, kIdCancel);
          }
          acted = true;
          break;
        }
      }
      if (!acted) Pause();
    }
    result_.ended = process_.Wait(0, &result_.exit_code);
    if (!result_.ended) result_.driver_failed = true;
    return result_;
  }

 private:
  bool TimeIsUp() {
    if (Clock::now() < deadline_) return false;
    Complain("the program did not end within " + std::to_string(options_.timeout_ms / 1000) +
             " s; ending it");
    process_.Terminate();
    result_.driver_failed = true;
    return true;
  }

  void WaitUntilGone(Window w) {
    while (IsVisible(w) && process_.Running() && Clock::now() < deadline_) Pause();
  }

  bool SetGroupFolders(Window main) {
    PressButton(main, kMainProperties);
    Window props = WaitForDialog(&process_, process_.Id(), kPropGroups, kDialogWaitMs);
    if (props == nullptr) {
      Complain("the properties dialog did not appear");
      return false;
    }
    bool ok = true;
    for (const GroupFolder& g : options_.groups) {
      const int generation = FindItem(ComboItems(props, kPropGenerations), g.generation);
      if (generation < 0 || !SelectComboItem(props, kPropGenerations, generation)) {
        Complain("no generation named '" + g.generation + "'");
        ok = false;
        break;
      }
      const int group = FindItem(ComboItems(props, kPropGroups), g.group);
      if (group < 0 || !SelectComboItem(props, kPropGroups, group)) {
        Complain("generation '" + g.generation + "' has no group named '" + g.group + "'");
        ok = false;
        break;
      }
      if (!SetControlText(props, kPropFolderEdit, WindowsPathOf(g.folder))) {
        Complain("cannot type into the group folder");
        ok = false;
        break;
      }
    }
    PressButton(props, ok ? kIdOk : kIdCancel);
    WaitUntilGone(props);
    return ok;
  }

  // Handles the main dialog as told. False when the dialog could not be handled.
  bool HandleMain(Window main) {
    result_.main.seen = true;
    result_.main.title = WindowText(main);
    result_.main.folder = ControlText(main, kMainFolderEdit);
    result_.main.folder_enabled = IsEnabled(main, kMainFolderEdit);
    result_.main.browse_enabled = IsEnabled(main, kMainBrowse);
    if (!options_.execute) return PressButton(main, kIdCancel);
    if (options_.has_folder &&
        !SetControlText(main, kMainFolderEdit, WindowsPathOf(options_.folder))) {
      Complain("cannot type into the folder edit");
      return false;
    }
    if (!options_.groups.empty() && !SetGroupFolders(main)) return false;
    return PressButton(main, kMainExecute);
  }

  SessionOptions options_;
  Clock::time_point deadline_;
  Process process_;
  SessionResult result_;
};

}  // namespace

SessionResult RunSession(const std::string& program, const std::string& arguments,
                         SessionOptions options) {
  Session session(std::move(options));
  return session.Run(program, arguments);
}

int DriverExitCode(const SessionResult& result) {
  if (result.driver_failed || !result.ended) return kDriverFailure;
  return static_cast<int>(result.exit_code);
}

bool AnswerId(const std::string& word, int* id) {
  if (word == "ok") *id = kIdOk;
  else if (word == "cancel") *id = kIdCancel;
  else if (word == "retry") *id = kIdRetry;
  else if (word == "yes") *id = kIdYes;
  else if (word == "no") *id = kIdNo;
  else return false;
  return true;
}

}  // namespace gp::uidriver
