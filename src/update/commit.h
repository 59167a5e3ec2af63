// The commit of an update run, journaled so that it is all or nothing even when the run is
// killed half-way. The commit is a list of steps (format/commit_journal.h): set each installed
// file that is retired, replaced or removed aside (NAME + ".gp-aside"), then move each stage file
// to its target. It runs as:
//   1. every file to be set aside is checked with CheckFileAccess (the Retry/Cancel question);
//      one that stays in use stops the commit before anything changed;
//   2. the journal "~genpatch.commit" is written to the destination folder (as
//      "~genpatch.commit.tmp", flushed, then renamed, so it is either whole or absent);
//   3. the steps, in order; one that fails undoes those done (rolled back);
//   4. the finish: an aside file with the backup mark becomes NAME + ".old" unless such a backup
//      exists, any other is deleted; folders left empty go where the step says; the journal is
//      deleted last.
// A run that finds a journal at its start finishes the commit from the disk's state (rolled
// forward), or, where a move cannot be redone because its stage file is gone, undoes it and
// puts the aside files back (rolled back).
#pragma once

#include <string>
#include <vector>

#include "format/commit_journal.h"

namespace gp {

struct PackageTables;
struct RunContext;

inline constexpr char kCommitJournalName[] = "~genpatch.commit";
inline constexpr char kCommitJournalTempSuffix[] = ".tmp";
inline constexpr char kAsideSuffix[] = ".gp-aside";
inline constexpr char kBackupSuffix[] = ".old";

// The journal's program path in the package's destination folder; false when there is no
// destination folder.
bool CommitJournalPath(const PackageTables& package, std::string* path);

// The journal's bytes, checksum included; false when a step breaks the format's bounds.
bool SealCommitJournal(const format::CommitJournal& journal, std::vector<uint8_t>* bytes);

// Step 1: checks the file of every set-aside step, in order. False at the first that stays in
// use (the user was asked as CheckFileAccess asks).
bool CheckCommitAccess(RunContext& context, const format::CommitJournal& plan);

// Steps 2 to 4. True when the commit is done; false when it could not be, and then the
// installed files are as before it (the stage files are left for the caller) and no journal is
// left.
bool CarryOutCommit(RunContext& context, const format::CommitJournal& plan);

enum class RecoveryOutcome {
  kNone,        // no journal (or a damaged one, which is deleted: it was never acted on)
  kCompleted,   // the interrupted commit was finished
  kRolledBack,  // the interrupted commit was undone
  kFailed,      // neither could be done; the journal stays for the next run
};

// At the start of a run on the destination folder: finishes or undoes a commit that a killed
// run left (with a message box saying which), deletes a half-written journal and the stage files
// of every list of the package left by a killed run. Logged.
RecoveryOutcome RecoverInterruptedCommit(RunContext& context);

}  // namespace gp
