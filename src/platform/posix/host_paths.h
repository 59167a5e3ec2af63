// The Linux side of the program's Windows paths: the drive table that maps drive letters to
// host folders, and the process-wide state of the Linux platform layer.
//
// A program path is a code page 932 Windows path ("Z:\home\a\app\file.txt"). Its drive letter
// selects a host folder from the drive table (Z: is "/" unless mapped otherwise); the rest is
// converted to UTF-8 component by component. A component that does not exist with its exact
// spelling is looked up without regard to case among the entries of its folder.
#pragma once

#include <string>
#include <string_view>

namespace gp::platform {

// Maps drive letter (A-Z, either case) to an absolute host folder; an empty folder removes the
// mapping. False for a letter outside A-Z or a folder that is not absolute.
bool MapDrive(char letter, const std::string& host_folder);
// The host folder of a drive, empty when the drive is not mapped.
std::string DriveHostFolder(char letter);
// Back to the start-up table: only Z: mapped, to "/".
void ResetDriveTable();

// Returns every piece of process-wide state of the Linux layer to its start-up value: the drive
// table, the Windows and system folder overrides, the restart request and the temporary-name
// counter. For tests.
void ResetPlatformState();

// A program path resolved to the host.
struct ResolvedPath {
  std::string host;          // the host path; existing entries with their spelling on disk
  std::string parent;        // the host folder that holds the last component
  std::string literal_name;  // the last component as the program wrote it (UTF-8)
  bool is_root = false;      // the path names a drive root
  bool trailing_separator = false;  // the program path ended with a backslash
};

// Resolves a program path (absolute, drive-relative or relative to the current directory).
// False for a path that cannot name a host entry: an unmapped drive, a UNC path, bytes that are
// not code page 932, characters that Windows does not allow in names (< > : " | ? * and
// control characters).
bool ResolveProgramPath(std::string_view program, ResolvedPath* resolved);

// Windows wildcard matching of a code page 932 name, without regard to case: '*' any run of
// characters, '?' exactly one character (a double-byte character counts as one), "*.*" and "*"
// every name, a pattern ending in ".*" also the names without that extension, and a pattern
// ending in "." only names without a dot.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

}  // namespace gp::platform
