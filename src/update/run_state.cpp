#include "update/run_state.h"

namespace gp {

RunState& Run() {
  static RunState state;
  return state;
}

}  // namespace gp
