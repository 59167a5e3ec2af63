#include "update/update_run.h"

namespace gp {

// The update run is not built yet: the roads reach this point and return without changing
// anything and without reporting success (the run-completed flag stays 0).
void RunUpdate(ui::Window) {}

}  // namespace gp
