// One unattended run of a package program through its windows: start it, handle the main
// dialog (and the properties dialog when group folders are given), answer the message boxes in
// order, and wait for its exit code, all within an overall time limit. uidriver.exe is this with
// a command line; tests call it directly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace gp::uidriver {

// Exit code of uidriver when it cannot do what it was told (or the program overran its time).
inline constexpr int kDriverFailure = 125;
inline constexpr uint32_t kDefaultTimeoutMs = 300000;

struct GroupFolder {
  std::string generation;  // as the generation list shows it
  std::string group;       // as the group list shows it
  std::string folder;      // a Windows path, or a Unix path of the host
};

struct SessionOptions {
  // Button ids for the message boxes, in order. Once they run out a box gets the cautious
  // button: OK, Cancel for Retry/Cancel, No for Yes/No.
  std::deque<int> answers;
  bool execute = true;  // Execute or Cancel in the main dialog
  bool has_folder = false;
  std::string folder;  // typed into the main dialog's folder edit when has_folder
  std::vector<GroupFolder> groups;
  uint32_t timeout_ms = kDefaultTimeoutMs;  // for the whole run; the program is ended after it
  std::vector<std::pair<std::string, std::string>> environment;  // set for the program
  std::string working_folder;  // the program's current folder (empty: this process's)
  // Called with each message box, "caption: text\n", before it is answered; the index counts
  // the boxes from 0.
  std::function<void(int index, const std::string& line)> on_message;
};

// The main dialog as the program first showed it.
struct MainDialogView {
  bool seen = false;
  std::string title;
  std::string folder;
  bool folder_enabled = false;
  bool browse_enabled = false;
};

struct SessionResult {
  bool ended = false;          // the program ended within the time
  bool driver_failed = false;  // a dialog could not be handled as told, or the time ran out
  uint32_t exit_code = 0;
  std::string transcript;  // every message box, "caption: text\n"
  MainDialogView main;
};

SessionResult RunSession(const std::string& program, const std::string& arguments,
                         SessionOptions options);

// uidriver's exit code for a session: the program's, or kDriverFailure.
int DriverExitCode(const SessionResult& result);

// The button id of an answer word (ok, cancel, retry, yes, no); false for another word.
bool AnswerId(const std::string& word, int* id);

}  // namespace gp::uidriver
