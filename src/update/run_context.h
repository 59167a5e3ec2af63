// The context of one update run: everything the program flow, the dialogs and the update
// engine share while a package is applied.
//   - package:      the tables the package header is loaded into (options, generations,
//                   groups, texts, root folders);
//   - work_docfile: the access object of the work docfile and the temporary file behind it;
//   - journal:      the folder journal of the folders the run creates;
//   - run:          the flags and the outcome of the update run;
//   - instance, argument_path: the program instance and the package data file named on the
//                   command line (empty when the program reads its own file);
//   - log:          the run log (closed unless the user asked for one);
//   - host:         the user-interface host every message box, status window and dialog goes
//                   through (not owned).
// It is made by whoever starts a run: the package program's entry (ProgramEntry, with the
// platform's default host), `genpatch apply` and `genpatch check` (an unattended console
// host), and the tests (a scripted host). It is passed explicitly, by reference, to every
// function that needs it; a function that needs only one part takes only that part. There is
// no process-wide copy of any of it.
#pragma once

#include "storage/folder_journal.h"
#include "storage/owned_string.h"
#include "storage/run_log.h"
#include "storage/work_docfile.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_state.h"

namespace gp {

struct RunContext {
  explicit RunContext(ui::Host& ui_host) : host(ui_host) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;
  // Closes the work docfile and the journal (neither file is deleted here) and releases the
  // tables.
  ~RunContext() {
    work_docfile.Reset();
    journal.Reset();
  }

  ui::Host& host;
  PackageTables package;
  WorkDocfileState work_docfile;
  FolderJournalState journal;
  RunState run;
  RunLog log;
  void* instance = nullptr;
  OwnedString argument_path;
};

}  // namespace gp
