// Space first: before the passes write anything, the space they need on each volume is
// compared with the space free there.
//
// What the passes need: pass k writes the stage files of list k while the stage files of pass
// k - 1 still exist (they are deleted when pass k ends), so a volume must hold, at the worst,
// the stage files of two consecutive lists: the largest sum, over k, of the new files of lists
// k and k + 1 that lie on that volume. The temporary folder's volume must also hold the
// largest stream copy ("tmp", one at a time). The work docfile is already written and counted
// in the free space.
//
// A new file's size comes from its data stream: a whole-file stream's size minus its framing
// (the entry header and a two-byte length per block, walked block by block), exact; a diff's
// commands are walked and the bytes they append added up, exact as well. A stream that cannot
// be walked counts 0 (its pass fails on it with the failure text).
#pragma once

#include <cstdint>

namespace gp {

struct RunContext;
class DocfileAccess;

enum class SpaceCheck {
  kFits,          // every volume has room (or its free space cannot be taken)
  kShortOfSpace,  // some volume has not: "ハードディスクの容量不足です。" was shown
  kPathTooLong,   // a stage file's path would be too long: that text was shown
};

// Checks lists first .. last, shows the message of a failure and returns the result.
SpaceCheck CheckSpaceForPasses(RunContext& context, int first, int last);

// The size of the file a data stream builds: whole (a whole-file stream) or a diff's output.
// False when the stream cannot be read to its end as a stream of that kind.
bool BuiltFileSize(DocfileAccess& access, const char* stream_path, bool whole, uint64_t* size);

}  // namespace gp
