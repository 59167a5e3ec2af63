// The update run: it checks the additional group folders, detects the installed generation,
// applies the lists from there to the newest one, each pass writing every new or changed file
// as a stage file (the target's path followed by ".new" and the list number) built from the
// previous pass's stage file or the installed file and verified against the list's checksum,
// then commits all or nothing (update/commit.h): no installed file changes before the commit,
// old files are deleted or kept as ".old" backups, stage files take their targets' names, and
// a file that another program holds stops the commit before anything changed. A commit that a
// killed run left is finished first. A progress dialog shows the passes. Everything runs on
// the run context given: its tables, work docfile, journal, flags and host.
//
// Folder src/update/: the package tables, file lists and detection, entry paths, the update
// run and its file operations. It may include base, platform, format, storage, codec and ui;
// never app, builder or cli.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/host.h"
#include "update/run_context.h"

namespace gp {

// Runs the whole update with the given owner window (null: none).
void RunUpdate(RunContext& context, ui::Window owner);

// Applies list k into stage files with the current suffix, building from the previous pass's
// stage files (previous suffix) or, when that is empty, the installed files. True when every
// entry was applied.
bool ApplyList(RunContext& context, ui::Window dialog, int k, const char* previous_suffix,
               const char* current_suffix);
// Deletes the stage files of list k that carry the suffix.
void DeleteStageFiles(RunContext& context, int k, const char* suffix);
// The commit (update/commit.h): plans the steps from list s (the installed files it retires or
// removes) and list last (the stage files with the suffix and their targets), checks that no
// file to be set aside is in use, and carries them out. False when nothing was committed (a
// file stayed in use, or a step failed and was undone); the stage files are then left to the
// caller.
bool CommitUpdate(RunContext& context, int s, int last, const char* suffix);
// Deletes the files that the last list removes (used when the newest generation is installed).
void DeleteRemovedFiles(RunContext& context, int last);
// 0 when the file does not exist or can be opened for exclusive writing; 1 when it stays in
// use (after the user's Cancel, or at once when the previous check also ended "in use").
int CheckFileAccess(RunContext& context, const char* path);
// After a file was deleted: removes its folder and the folders below it that are empty.
void RemoveFolderIfEmpty(const char* path);

// Reads list k whole into block. False when the stream is missing or cannot be read.
bool ReadWholeList(const WorkDocfileState& work_docfile, int k, std::vector<uint8_t>* block);

}  // namespace gp
