// The flags and the outcome of one update run (part of the run context).
#pragma once

#include <cstdint>

namespace gp {

// How the last update run ended, for callers that report it (the genpatch command).
enum class RunOutcome {
  kNotRun,
  kInvalidGroupFolder,  // an additional group folder is not a path
  kRefused,             // the package cannot be run (no list, a list missing)
  kUpToDate,            // the newest generation is installed
  kNoInstalledVersion,  // no generation matches the disk
  kFailed,              // a file operation failed; nothing was committed
  kCompleted,           // committed; every file could be replaced
  kCompletedInUse,      // committed, but files in use kept their old version
};

struct RunState {
  uint32_t in_use = 0;             // some access check ended with the file still in use
  uint32_t last_check_failed = 0;  // result of the most recent access check
  uint32_t run_completed = 0;      // the run reached its final message
  RunOutcome outcome = RunOutcome::kNotRun;
  void Reset() { *this = RunState(); }
};

}  // namespace gp
