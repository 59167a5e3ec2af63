// One release folder as the generator sees it: every file below a root (minus the subtrees
// that belong to additional groups), with its path in code page 932, the key it is matched by
// across releases, its size, checksum, last-write time and attributes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "format/data_stream.h"

namespace gp::builder {

struct ReleaseFile {
  std::string folder;  // code page 932 subfolders as spelled, each followed by a backslash
  std::string name;    // code page 932 file name as spelled
  std::string key;     // folder + name upper-cased: files of two releases match by it
  std::filesystem::path host;
  uint64_t size = 0;
  uint32_t crc = 0;     // the whole-file checksum as lists store it (0xFFFFFFFF when empty)
  format::EntryHeader header;  // last-write time (local wall clock) and attributes

  std::string Path() const { return folder + name; }
};

struct ReleaseTree {
  std::filesystem::path root;
  std::vector<ReleaseFile> files;  // sorted by key

  // The file with that key, or null.
  const ReleaseFile* Find(const std::string& key) const;
};

// Called as files are read: the file's host path and the bytes read since the last call.
using ScanCallback = std::function<void(const std::filesystem::path& file, uint64_t bytes)>;

// Reads every file below root except the subtrees named in excluded (paths relative to root).
// Throws BuildError for a name without a code page 932 form, two names of one folder that differ
// only in case, a symbolic link (never followed), an entry that is neither a file nor a folder,
// a file that cannot be read, and a time that has no calendar form.
ReleaseTree ScanReleaseTree(const std::filesystem::path& root,
                            const std::vector<std::filesystem::path>& excluded,
                            const ScanCallback& callback = nullptr);

// The entry header for a file: its last-write time as local wall-clock fields (to the second:
// the millisecond field holds at most 255) and the archive attribute, plus read-only when the
// file is not writable. Throws BuildError.
format::EntryHeader EntryHeaderOf(const std::filesystem::path& file);

// The whole file; throws BuildError when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file);
// True when the two files hold the same bytes; throws BuildError when one cannot be read.
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

// A host path as UTF-8 text; with forward slashes (GenericUtf8), as exclusions and group sources
// are written.
std::string Utf8Of(const std::filesystem::path& path);
// The reverse: a path from UTF-8 text (a command-line argument, a project file value). On
// Windows a path made from a plain std::string would read it in the C runtime's code page.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string GenericUtf8(const std::filesystem::path& path);
// A host path for messages, in UTF-8, in quotes.
std::string DisplayPath(const std::filesystem::path& path);
// Code page 932 to UTF-8 for messages (unconvertible bytes as '?').
std::string DisplayText(const std::string& cp932);

}  // namespace gp::builder
