// Runs the real package program as a user would, unattended: on Linux the Linux program with
// its answers in GENPATCH_ANSWERS, under Wine the Windows program driven through its windows by
// uidriver.exe. Both report the message boxes as "caption: text" lines, so one scenario checks
// both programs against the same expectations.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace gp::test {

struct GroupAnswer {
  std::string generation;  // UTF-8
  std::string group;       // UTF-8
  std::filesystem::path folder;
};

struct ProgramAnswers {
  bool main_dialog = true;  // the package shows it (folder choice, or groups)
  bool execute = true;      // Execute or Cancel in the main dialog
  std::filesystem::path folder;  // typed into the main dialog when not empty
  std::vector<GroupAnswer> groups;
  std::vector<std::string> boxes;  // ok, retry, cancel, yes, no: the message boxes in order
};

struct ProgramRun {
  bool ended = false;  // the program ended by itself and the answers could be given
  int exit_code = -1;
  std::string transcript;  // the message boxes, "caption: text\n" each (UTF-8)
};

// Environment variables given to the program besides its usual ones (UTF-8).
using ExtraEnvironment = std::vector<std::pair<std::string, std::string>>;

// Starts the package program on the package data file with working as its current folder and
// temp as its temporary folder, and waits for it to end.
ProgramRun RunPackageProgram(const std::filesystem::path& package,
                             const std::filesystem::path& working,
                             const std::filesystem::path& temp, const ProgramAnswers& answers,
                             const ExtraEnvironment& environment = {});

}  // namespace gp::test
