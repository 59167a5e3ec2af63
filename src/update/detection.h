// Which generation is installed: the checksums of the files on disk against the old or new
// sides of the file lists. Lists are read field by field through the work docfile's access
// object. A list that is missing or ends early, or an entry whose path cannot be built, fails
// the check; nothing is reported to the user here.
#pragma once

namespace gp {

struct RunContext;

// What made a check fail other than a file that does not match, when faults is given: a list
// that is missing, ends early or names a path that cannot be built (damaged_list), or a disk
// path that would be too long (path_too_long). Faults only add up; nothing clears them.
struct DetectionFaults {
  bool damaged_list = false;
  bool path_too_long = false;
};

// True when every file that the last list leaves matches its new checksum (a list with no
// entries matches any installation).
bool IsLatestInstalled(RunContext& context, DetectionFaults* faults = nullptr);
// True when the disk matches the old side of list k: every file that the list changes matches
// its old checksum, and so does every file it removes when the file-removal flag is set.
bool MatchesGeneration(RunContext& context, int k, DetectionFaults* faults = nullptr);
// The first list k (1 .. G-1) whose old side matches; 0 when none does.
int FindInstalledGeneration(RunContext& context, DetectionFaults* faults = nullptr);

}  // namespace gp
