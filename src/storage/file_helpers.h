// Small file services used all over the program.
#pragma once

namespace gp {

// False for a null or empty path; otherwise whether a find-first search for exactly that path
// finds an entry (a folder counts as existing).
bool FileExists(const char* path);

// Clears the read-only, hidden and system attributes (other bits stay), then deletes the file.
// Returns the delete's result.
bool ForceDeleteFile(const char* path);

}  // namespace gp
