// The program flow from entry to exit: status window, loading, the dialog or direct road,
// clean-up, the restart prompt and the exit code.
//
// Folder src/app/: the package program: program flow, package loader, payload extraction, the
// main and properties dialogs. It may include everything below it (base, platform, format,
// storage, codec, ui, update), never builder or cli.
#pragma once

#include "storage/owned_string.h"

namespace gp {

struct ProgramState {
  void* instance = nullptr;
  OwnedString argument_path;  // the package data file named on the command line, if any
  void Reset();
};

ProgramState& Program();

// Program entry: returns the exit code (0 after the normal sequence, 1 when loading the
// package or, on the direct road, extracting the payload fails).
int ProgramEntry(void* instance, const char* argument);

// Destroys the work docfile access object and releases the generation and group tables. Safe
// to call more than once.
void ReleasePackageTables();
// Deletes the temporary work docfile (whatever its attributes).
void RemoveWorkDocfile();

// Runs the main dialog modally (the dialog road).
void RunMainDialog();

}  // namespace gp
