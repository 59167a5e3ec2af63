// uidriver: runs a package program unattended. It starts the program, handles the main dialog
// (and the properties dialog when group folders are given), answers the message boxes in order,
// prints each of them as "caption: text" (UTF-8, one line each), and ends with the program's
// exit code.
//
//   uidriver [--answer ok|retry|cancel|yes|no]... [--main execute|cancel] [--folder PATH]
//            [--group GENERATION/GROUP=PATH]... -- PROGRAM [ARGUMENTS]
//
// ARGUMENTS reach the program exactly as written on uidriver's own command line. Once the
// answers run out, a box gets OK, Cancel (Retry/Cancel) or No (Yes/No). Exit code 125 when
// uidriver itself cannot do what it was told.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "uidriver/ui_driver.h"

namespace gp::uidriver {
namespace {

constexpr int kDriverFailure = 125;
constexpr uint32_t kDialogWaitMs = 15000;
constexpr uint32_t kPollMs = 20;

// Control ids of the package program's dialogs.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdRetry = 4;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr int kMainFolderEdit = 1000;
constexpr int kMainExecute = 1002;
constexpr int kMainProperties = 1003;
constexpr int kPropBrowse = 1004;
constexpr int kPropFolderEdit = 1005;
constexpr int kPropGenerations = 1006;
constexpr int kPropGroups = 1007;
constexpr int kProgressBar = 1013;
constexpr int kStatusText = 1018;

struct GroupFolder {
  std::string generation;
  std::string group;
  std::string folder;
};

struct Options {
  std::deque<int> answers;  // button ids, in order
  bool execute = true;
  bool has_folder = false;
  std::string folder;
  std::vector<GroupFolder> groups;
  std::string program;
  std::string arguments;  // verbatim
};

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs)); }

void Complain(const std::string& text) {
  std::fputs(("uidriver: " + text + "\n").c_str(), stderr);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One word of a command line with where it begins and ends in the line.
struct Word {
  std::string text;  // without its quotes
  size_t begin = 0;
  size_t end = 0;
};

// Splits the words after the program name: blanks separate, double quotes group (and are
// dropped), backslashes are taken literally except before a quote.
std::vector<Word> SplitCommandLine(const std::string& line) {
  size_t i = 0;
  // The program name: quoted up to the next quote, else up to the first blank.
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', 1);
    i = close == std::string::npos ? line.size() : close + 1;
  }
  while (i < line.size() && !IsBlank(line[i])) ++i;
  std::vector<Word> words;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    Word word;
    word.begin = i;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        word.text.push_back('"');
        i += 2;
      } else if (line[i] == '"') {
        quoted = !quoted;
        ++i;
      } else {
        word.text.push_back(line[i++]);
      }
    }
    word.end = i;
    words.push_back(word);
  }
  return words;
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

bool ParseOptions(const std::string& line, Options* options) {
  const std::vector<Word> words = SplitCommandLine(line);
  size_t i = 0;
  auto value = [&](const std::string& name, std::string* out) {
    if (i + 1 >= words.size()) {
      Complain(name + " needs a value");
      return false;
    }
    *out = words[++i].text;
    return true;
  };
  for (; i < words.size(); ++i) {
    const std::string& w = words[i].text;
    std::string v;
    if (w == "--") {
      if (i + 1 >= words.size()) {
        Complain("no program after --");
        return false;
      }
      options->program = words[i + 1].text;
      size_t rest = words[i + 1].end;
      while (rest < line.size() && IsBlank(line[rest])) ++rest;
      options->arguments = line.substr(rest);
      return true;
    }
    if (w == "--answer") {
      int id = 0;
      if (!value(w, &v)) return false;
      if (!AnswerId(v, &id)) {
        Complain("unknown answer '" + v + "' (ok, retry, cancel, yes, no)");
        return false;
      }
      options->answers.push_back(id);
    } else if (w == "--main") {
      if (!value(w, &v)) return false;
      if (v != "execute" && v != "cancel") {
        Complain("--main takes execute or cancel");
        return false;
      }
      options->execute = v == "execute";
    } else if (w == "--folder") {
      if (!value(w, &options->folder)) return false;
      options->has_folder = true;
    } else if (w == "--group") {
      if (!value(w, &v)) return false;
      const size_t slash = v.find('/');
      const size_t equals = slash == std::string::npos ? slash : v.find('=', slash);
      if (equals == std::string::npos) {
        Complain("'" + v + "' is not of the form GENERATION/GROUP=PATH");
        return false;
      }
      options->groups.push_back(
          {v.substr(0, slash), v.substr(slash + 1, equals - slash - 1), v.substr(equals + 1)});
    } else {
      Complain("unknown option '" + w + "'");
      return false;
    }
  }
  Complain("usage: uidriver [--answer ok|retry|cancel|yes|no]... [--main execute|cancel] "
           "[--folder PATH] [--group GENERATION/GROUP=PATH]... -- PROGRAM [ARGUMENTS]");
  return false;
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
int ChooseButton(Window box, Options* options) {
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

void WaitUntilGone(const Process& process, Window w) {
  while (IsVisible(w) && process.Running()) Pause();
}

int FindItem(const std::vector<std::string>& items, const std::string& name) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool SetGroupFolders(const Process& process, Window main, const Options& options) {
  PressButton(main, kMainProperties);
  Window props = WaitForDialog(&process, process.Id(), kPropGroups, kDialogWaitMs);
  if (props == nullptr) {
    Complain("the properties dialog did not appear");
    return false;
  }
  bool ok = true;
  for (const GroupFolder& g : options.groups) {
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
  WaitUntilGone(process, props);
  return ok;
}

// Handles the main dialog as told. False when the dialog could not be handled.
bool HandleMain(const Process& process, Window main, const Options& options) {
  if (!options.execute) return PressButton(main, kIdCancel);
  if (options.has_folder &&
      !SetControlText(main, kMainFolderEdit, WindowsPathOf(options.folder))) {
    Complain("cannot type into the folder edit");
    return false;
  }
  if (!options.groups.empty() && !SetGroupFolders(process, main, options)) return false;
  return PressButton(main, kMainExecute);
}

int Run(Options options) {
  Process process;
  if (!process.Start(WindowsPathOf(options.program), options.arguments)) {
    Complain("cannot start '" + options.program + "'");
    return kDriverFailure;
  }
  bool main_done = false;
  bool failed = false;
  while (process.Running()) {
    bool acted = false;
    for (Window w : VisibleDialogs(process.Id())) {
      if (IsMessageBox(w)) {
        WriteOutput(WindowText(w) + ": " + ControlText(w, kMessageBoxTextId) + "\n");
        PressButton(w, ChooseButton(w, &options));
        WaitUntilGone(process, w);
        acted = true;
        break;
      }
      if (!main_done && IsMainDialog(w)) {
        main_done = true;
        if (!HandleMain(process, w, options)) {
          failed = true;
          PressButton(w, kIdCancel);
        }
        acted = true;
        break;
      }
    }
    if (!acted) Pause();
  }
  uint32_t exit_code = 0;
  if (!process.Wait(0, &exit_code)) return kDriverFailure;
  return failed ? kDriverFailure : static_cast<int>(exit_code);
}

}  // namespace
}  // namespace gp::uidriver

int main() {
  gp::uidriver::Options options;
  if (!gp::uidriver::ParseOptions(gp::uidriver::OwnCommandLine(), &options)) {
    return gp::uidriver::kDriverFailure;
  }
  return gp::uidriver::Run(std::move(options));
}
