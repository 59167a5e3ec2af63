// The generator: from the folders of successive releases to the description of an update
// package (header, options texts and every stream of the work docfile), ready for WritePackage.
//
// Consecutive releases are compared file by file; files match by their path relative to the
// release folder (or to an additional group's source folder), compared without regard to case.
// List k turns release k-1 into release k:
//   - a file added by step k: a whole-file stream (old checksum 0);
//   - a file changed by step k: a diff against its version in release k-1;
//   - a file removed by step k: a removal entry (new checksum 0), no stream.
// The program carries a file from pass to pass only through its stage files, so a file that
// some list writes (or, with the file-removal flag on, removes) is named in every list where it
// exists on the old or the new side; a step that leaves it unchanged carries a one-command
// identity diff. Files that no list writes or removes are in no list at all: updates never
// touch them. With the file-removal flag off, a file gone from the newest release keeps the
// version that is installed: no list before its removal writes it, since the commit would
// otherwise retire the installed file although the file's removal is not wanted.
//
// Data paths are "K\T\S1\...\Sn\X": K the list number, T "_" for the main folder or the group's
// name, S the file's subfolders exactly as spelled (they become the disk path), X the entry's
// number followed by a dot (a name no Windows folder can have, so streams never clash with the
// storages that folders become). File names travel in the lists' name fields, which are never
// split, so any code page 932 file name works; subfolders are split into storages at every
// 0x5C byte, so a subfolder whose split gives an empty part (a name ending in a double-byte
// character whose second byte is 0x5C, such as 表) or a part longer than 31 characters
// cannot be stored and is refused.
//
// Output depends only on the inputs: entries are sorted, streams are numbered in that order,
// and the only times stored are the files' own.
//
// Folder src/builder/: the generator: release trees, diff encoder, list, options and header
// writers, packaging. It may include base, platform, cfb, format and codec; nothing the package
// program links depends on it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "builder/options_writer.h"
#include "builder/package_writer.h"

namespace gp::builder {

inline constexpr size_t kMaxLists = 999;            // stage suffixes have at most three digits
inline constexpr size_t kMaxDiskPathBytes = 255;    // disk paths live in 256-byte buffers
inline constexpr size_t kMaxElementNameUnits = 31;  // storage and stream names

struct GroupInput {
  std::string name;            // code page 932; addresses the group in data paths
  std::string comment;         // code page 932
  std::string default_folder;  // code page 932 Windows path; may be empty
  std::filesystem::path source;  // the subfolder of the release that holds the group's files
};

struct ReleaseInput {
  std::string name;     // code page 932
  std::string comment;  // code page 932
  std::filesystem::path folder;
  std::vector<GroupInput> groups;
};

struct GeneratorInput {
  // Header texts, code page 932.
  std::string caption;
  std::string comment;
  std::string default_folder;
  bool file_removal = true;
  bool backup = false;
  bool folder_choice = true;
  bool version_check = true;
  bool restart = false;
  OptionsTexts options = DefaultOptionsTexts();
  std::vector<ReleaseInput> releases;  // oldest first
  // The layout of the diffs, and of the package (GeneratedPackage::desc.format).
  PackageFormat format = PackageFormat::kClassic;
  // Compact packages only: code the diffs' sections with context models (GPD2), for packages
  // 15 to 30 % smaller that take several times longer to apply; otherwise the sections are
  // deflated with the payload (GPD1).
  bool smallest = false;
};

// What one list does.
struct StepSummary {
  std::string from;  // release names, code page 932
  std::string to;
  size_t added = 0;
  size_t changed = 0;
  size_t removed = 0;
  size_t carried = 0;  // unchanged files named for the every-list rule
  uint64_t stream_bytes = 0;  // whole-file streams and diffs of the list
};

struct GeneratorProgress {
  // kEncoding: the bytes of one new file that its compact diff has covered so far.
  enum class Phase { kReading, kComparing, kWriting, kEncoding };
  Phase phase = Phase::kReading;
  uint64_t done = 0;   // bytes (reading, writing) or files (comparing)
  uint64_t total = 0;  // 0 when not known yet
  std::string item;    // the file at hand, UTF-8 (may be empty)
};
using ProgressCallback = std::function<void(const GeneratorProgress&)>;

struct GeneratedPackage {
  // Header, options and streams; the caller sets the layout, the program image and the
  // payload form. The stream sources read the release files and a scratch file of diffs when
  // the package is written, so keep this object (and the release folders) until then.
  PackageDescription desc;
  std::vector<StepSummary> steps;
  // After a failed write: which release file could not be read (empty when none failed).
  std::shared_ptr<const std::string> source_failure;
  // Releases that build but are probably not meant (identical neighbours, a release older
  // than the one before it); for the user, in UTF-8.
  std::vector<std::string> warnings;
};

// Reads and compares the releases. scratch names a file that may be created for the diffs
// (it is removed when the last copy of the package's streams goes away). Throws BuildError with
// a message that names the file, folder or setting at fault.
GeneratedPackage GeneratePackage(const GeneratorInput& input, const std::filesystem::path& scratch,
                                 const ProgressCallback& progress = nullptr);

// Refuses the same folder as two releases and two generations of one name (without regard to
// case). Throws BuildError naming them.
void CheckReleases(const GeneratorInput& input);

// The input for release folders alone: generations named after the folders, default texts,
// version check, folder choice and file removal on, backup and restart off.
GeneratorInput InputFromFolders(const std::vector<std::filesystem::path>& folders);

// Checks a group name: not empty, not starting with '_', '+' or '-' (those bytes pick the fixed
// folders), no 0x5C byte (data paths are cut there), a valid storage name. Empty when fine.
std::string CheckGroupName(const std::string& cp932);

}  // namespace gp::builder
