// Disk paths of list entries. A data path has the form D\T\S1\...\Sn\X: D is the top storage
// of the data stream, T the folder token, S1..Sn the subfolders below the token's folder and X
// the stream's name. The token picks the base folder: '_' the destination folder, '+' the
// Windows folder, '-' the system folder (only its first byte counts), anything else the group
// of that name in the generation's group table. The disk path is the base folder, a backslash,
// the subfolders as written and the entry's file name.
#pragma once

#include <cstddef>

namespace gp {

struct PackageTables;

// Every disk path and list string lives in a buffer of this size; a disk path must be shorter.
inline constexpr size_t kEntryPathBufferSize = 256;

// On entry buffer (kEntryPathBufferSize bytes) holds a data path; on success it holds the disk
// path for generation's folders (in the package's tables) and the file name. Fails, leaving the
// buffer empty, when the data path has fewer than two backslashes, the token names no group of the
// generation, the disk path would be 256 bytes or longer, or the name or the subfolders would leave
// their folder (a ".." component, an absolute name or subfolder, a drive letter, a ':').
// *too_long, when given, tells whether the failure was the length alone.
bool ResolveEntryPath(PackageTables& package, int generation, char* buffer, const char* name,
                      bool* too_long = nullptr);

// True when a file name stays inside the folder it is put in (format::IsContainedPath): not
// absolute, no ':' (drive letters, alternate streams), no component made of dots and blanks
// with two or more dots. Components are cut at '\' and '/', both byte by byte and by
// characters, so neither reading of a double-byte character whose second byte is 0x5C can
// climb out.
bool IsContainedName(const char* name);
// The same test for the subfolder part of a data path (which may end with a backslash).
bool IsContainedSubfolders(const char* text, size_t length);

// Compares two code page 932 texts without regard to case, like strcmp on their upper-cased
// copies: 0 when equal. A null first text gives -1, a null second one 1.
int ComparePathsNoCase(const char* a, const char* b);

}  // namespace gp
