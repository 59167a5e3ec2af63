// The work docfile: the one access object that reads it, and the name of the temporary file
// that holds it (empty when a package data file is read in place, which is never deleted).
#pragma once

#include "storage/owned_string.h"

namespace gp {

class DocfileAccess;

struct WorkDocfileState {
  WorkDocfileState() = default;
  WorkDocfileState(const WorkDocfileState&) = delete;
  WorkDocfileState& operator=(const WorkDocfileState&) = delete;
  DocfileAccess* access = nullptr;  // owned; null when there is none
  OwnedString path;                 // the temporary work docfile, deleted at exit
  // Destroys the access object (committing and closing the docfile) and clears the pointer.
  void DestroyAccess();
  void Reset();
};

}  // namespace gp
