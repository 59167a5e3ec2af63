// Process-wide flags of the update run.
#pragma once

#include <cstdint>

namespace gp {

struct RunState {
  uint32_t in_use = 0;             // some access check ended with the file still in use
  uint32_t last_check_failed = 0;  // result of the most recent access check
  uint32_t run_completed = 0;      // the run reached its final message
  void Reset() { *this = RunState(); }
};

RunState& Run();

}  // namespace gp
