// The folder journal: a temporary file that records every folder the update creates, so that
// the folders left empty can be removed when the program ends. Records are u32 length, the
// text (code page 932) and a 0 byte; they come in pairs: the deepest folder that already
// existed, then the relative path of the folders created below it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace gp {

struct FolderJournalState {
  platform::File file;  // open (read/write, no sharing) while the journal is valid
  std::string name;     // the journal's full name; empty when there is none
  void Reset();
};

// Creates the journal in the temporary folder ("DIF" temporary name) and keeps it open.
void OpenFolderJournal(FolderJournalState& journal);
// Appends one record; nothing for a null text or when the journal is not open.
void AppendFolderJournal(FolderJournalState& journal, const char* text);
// Removes the recorded folders that are still empty, then closes and deletes the journal.
void ReplayFolderJournal(FolderJournalState& journal);
// Removes a folder and every folder below it, deepest first, each only if it is empty; files
// are never deleted. Relative to the current directory or absolute. Nothing is reported.
void RemoveEmptyFolders(const char* path);
// Cuts the text at its first backslash and applies RemoveEmptyFolders to that component.
void RemoveEmptyTopFolder(const char* relative_path);

}  // namespace gp
