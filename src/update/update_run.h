// The update run: detection, one pass per list into stage files, the commit, the final
// message.
#pragma once

#include "ui/host.h"

namespace gp {

// Runs the whole update with the given owner window (null: none).
void RunUpdate(ui::Window owner);

}  // namespace gp
