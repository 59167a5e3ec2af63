#include "storage/work_docfile.h"

#include "storage/docfile_access.h"

namespace gp {

void WorkDocfileState::DestroyAccess() {
  delete access;
  access = nullptr;
}

void WorkDocfileState::Reset() {
  DestroyAccess();
  path.Assign("");
}

}  // namespace gp
