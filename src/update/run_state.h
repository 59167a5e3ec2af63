// The flags and the outcome of one update run (part of the run context).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace gp {

// How the last update run ended, for callers that report it (the genpatch command).
enum class RunOutcome {
  kNotRun,
  kInvalidGroupFolder,  // an additional group folder is not a path
  kRefused,             // the package cannot be run (no list, a list missing)
  kUpToDate,            // the newest generation is installed
  kNoInstalledVersion,  // no generation matches the disk
  kFailed,              // a file operation failed, or a file stayed in use: nothing committed
  kCompleted,           // committed; every file was replaced
};

// A short English name of an outcome, for the run log.
inline const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kNotRun: return "not run";
    case RunOutcome::kInvalidGroupFolder: return "invalid group folder";
    case RunOutcome::kRefused: return "refused";
    case RunOutcome::kUpToDate: return "up to date";
    case RunOutcome::kNoInstalledVersion: return "no installed version";
    case RunOutcome::kFailed: return "failed";
    case RunOutcome::kCompleted: return "completed";
  }
  return "unknown";
}

// The exit codes of the package programs and `genpatch apply`, one table for both.
inline constexpr int kExitUpdated = 0;         // updated (also: Cancel in the main dialog)
inline constexpr int kExitFailed = 1;          // failed (nothing committed)
inline constexpr int kExitNoInstalled = 3;     // no installed generation matches
inline constexpr int kExitUpToDate = 4;        // the newest generation is installed
inline constexpr int kExitRestartRequested = 5;  // updated, and the package asks for a restart

// The exit code of a run that ended with outcome. restart_flag is the package's restart flag:
// a completed run of a package that asks for a restart exits 5 whatever the user answers to
// the restart question. A run never started (Cancel in the main dialog) exits 0.
inline int ExitCodeOf(RunOutcome outcome, bool restart_flag) {
  switch (outcome) {
    case RunOutcome::kNotRun:
      return kExitUpdated;
    case RunOutcome::kCompleted:
      return restart_flag ? kExitRestartRequested : kExitUpdated;
    case RunOutcome::kUpToDate:
      return kExitUpToDate;
    case RunOutcome::kNoInstalledVersion:
      return kExitNoInstalled;
    default:
      return kExitFailed;
  }
}

struct RunState {
  uint32_t in_use = 0;             // some access check ended with the file still in use
  uint32_t last_check_failed = 0;  // result of the most recent access check
  uint32_t run_completed = 0;      // the run reached its final message
  RunOutcome outcome = RunOutcome::kNotRun;
  // Stage files that are second names of unchanged files, each with the index in
  // linked_headers of the entry header (time and attributes) that the commit gives the file
  // once it is in place.
  std::map<std::string, size_t> linked_stages;
  std::vector<std::array<uint8_t, 12>> linked_headers;
  void Reset() { *this = RunState(); }
};

}  // namespace gp
