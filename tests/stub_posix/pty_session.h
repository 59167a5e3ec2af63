// A program run on a pseudo-terminal, as a user at a terminal runs it: the terminal is its
// controlling terminal and its standard input, output and error. The test reads what it draws
// (with escape sequences and carriage returns taken out), waits for texts with a time limit and
// types keys. A program still running when the session ends is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace gp::test {

class PtySession {
 public:
  static constexpr std::chrono::milliseconds kDefaultWait{20000};

  PtySession() = default;
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Starts argv[0] (a path) in working_dir with the environment of this process changed by env
  // (an empty value removes the variable). False when the terminal or the process cannot be
  // made.
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& working_dir);

  // Waits until text appears in the screen output after the end of the previous match, and
  // moves past it. False when the time runs out or the program ends without drawing it.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = kDefaultWait);
  // Waits until one of texts appears, in the same way; returns the index of the one drawn
  // first, or -1.
  int WaitForAny(const std::vector<std::string>& texts,
                 std::chrono::milliseconds limit = kDefaultWait);
  // Types keys as a user would ("\n" for Enter).
  void Type(const std::string& keys);
  // Waits for the program to end and reads the rest of its output. Returns its exit code, or
  // -1 when the time runs out (the program is then killed).
  int WaitExit(std::chrono::milliseconds limit = kDefaultWait);

  // Everything drawn so far, escape sequences and carriage returns removed.
  const std::string& Screen() const { return screen_; }
  // The screen from the end of the previous match on.
  std::string Unmatched() const { return screen_.substr(matched_); }

 private:
  // Reads what is available within limit_ms; false once the terminal is closed.
  bool Pump(int limit_ms);
  void Append(const char* data, size_t size);
  void Kill();
  // Moves past the earliest of texts drawn since the previous match; its index, or -1.
  int MatchEarliest(const std::vector<std::string>& texts);

  int master_ = -1;
  pid_t child_ = -1;
  int exit_code_ = -1;
  std::string raw_pending_;  // an escape sequence cut off at the end of a read
  std::string screen_;
  size_t matched_ = 0;
};

}  // namespace gp::test
