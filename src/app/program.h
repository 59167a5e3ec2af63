// The program flow from entry to exit: status window, loading, the dialog or direct road,
// clean-up, the restart prompt and the exit code.
//
// Folder src/app/: the package program: program flow, package loader, payload extraction, the
// main and properties dialogs. It may include everything below it (base, platform, format,
// storage, codec, ui, update), never builder or cli.
#pragma once

#include "ui/host.h"
#include "update/run_context.h"

namespace gp {

// Program entry: makes the run context over the given host and runs the program in it.
// Returns the exit code (ExitCodeOf the run's outcome; 1 when loading the package or
// extracting the payload fails).
int ProgramEntry(ui::Host& host, void* instance, const char* argument);

// Destroys the work docfile access object and releases the generation and group tables. Safe
// to call more than once.
void ReleasePackageTables(RunContext& context);
// Deletes the temporary work docfile (whatever its attributes).
void RemoveWorkDocfile(const WorkDocfileState& work_docfile);

// Opens the run log at the file that GENPATCH_LOG names (a host path), when it is set.
void OpenLogFromEnvironment(RunContext& context);
// Writes the log's first line: the package file and its form.
void LogRunStart(RunContext& context, const char* package_path, bool named);
// Writes the exit code to the log and returns it.
int LogExitCode(RunContext& context, int exit_code);

// Runs the main dialog modally (the dialog road).
void RunMainDialog(RunContext& context);

}  // namespace gp
