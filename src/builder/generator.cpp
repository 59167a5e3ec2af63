#include "builder/generator.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "base/cp932.h"
#include "base/endian.h"
#include "builder/build_error.h"
#include "builder/compact_diff_apply.h"
#include "builder/compact_diff_encoder.h"
#include "builder/diff_apply.h"
#include "builder/diff_encoder.h"
#include "builder/list_writer.h"
#include "builder/release_tree.h"
#include "builder/whole_file_writer.h"
#include "cfb/cfb_writer.h"
#include "cfb/entry_names.h"
#include "format/data_stream.h"
#include "format/list_record.h"
#include "format/path_component.h"
#include "platform/platform.h"

namespace gp::builder {

namespace fs = std::filesystem;

namespace {

constexpr char kMainToken[] = "_";
constexpr char kNoDefaultFolder[] = "C:\\";
constexpr char kOldSuffix[] = ".old";
// A stream of a version 3 compound file holds at most 2 GiB; whole files and diffs of files
// this large would not fit (and a long copy counts in 32 bits).
constexpr uint64_t kMaxFileSize = cfb::CompoundFileWriter::kMaxStreamSizeV3 - (1u << 20);

std::string StageSuffix(size_t list) { return ".new" + std::to_string(list); }

// Splits a code page 932 text at the backslashes that are characters of their own (not the
// second byte of a double-byte character).
std::vector<std::string> SplitCharacters(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (IsCp932LeadByte(byte) && i + 1 < text.size()) {
      part += text[i];
      part += text[++i];
      continue;
    }
    if (text[i] == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += text[i];
    }
  }
  parts.push_back(part);
  return parts;
}

// Splits at every 0x5C byte, as storages and the program's byte-wise checks cut a path.
std::vector<std::string> SplitBytes(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\\') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// Why a file or folder name (one component, code page 932) cannot go into a package, or empty.
std::string NameProblem(const std::string& name) {
  switch (format::CheckComponent(name)) {
    case format::ComponentProblem::kNone:
      return std::string();
    case format::ComponentProblem::kColon:
      return "it contains ':'";
    case format::ComponentProblem::kClimbing:
      return "it reads as a parent folder ('..')";
    case format::ComponentProblem::kForbiddenCharacter:
      return "it contains a character that Windows does not allow in names";
    case format::ComponentProblem::kTrailingDotOrBlank:
      return "Windows drops a dot or blank at the end of a name";
  }
  return std::string();
}

// True when the text's last byte is a backslash character (not a second byte).
bool EndsWithBackslash(const std::string& text) {
  if (text.empty() || text.back() != '\\') return false;
  const std::vector<std::string> parts = SplitCharacters(text);
  return parts.size() > 1 && parts.back().empty();
}

std::string JoinFolder(const std::string& base, const std::string& rest) {
  return EndsWithBackslash(base) ? base + rest : base + '\\' + rest;
}

std::vector<uint8_t> IdentityDiff(const format::EntryHeader& header, uint64_t size) {
  std::vector<uint8_t> out;
  format::AppendEntryHeader(header, &out);
  if (size == 0) return out;
  uint8_t bytes[format::kLongCopySize];
  const size_t n = format::EncodeCopy(0, static_cast<uint32_t>(size), bytes);  // under 4 GiB
  out.insert(out.end(), bytes, bytes + n);
  return out;
}

// A file that collects the diffs while the releases are compared; the package's streams read
// their ranges back when the package is written. Removed when the last stream goes away.
class DiffSpill {
 public:
  explicit DiffSpill(fs::path path) : path_(std::move(path)) {}
  ~DiffSpill() {
    in_.close();
    out_.close();
    std::error_code ec;
    if (created_) fs::remove(path_, ec);
  }
  DiffSpill(const DiffSpill&) = delete;
  DiffSpill& operator=(const DiffSpill&) = delete;

  uint64_t Append(const std::vector<uint8_t>& bytes) {
    if (!out_.is_open()) {
      out_.open(path_, std::ios::binary | std::ios::trunc);
      created_ = true;
      if (!out_) throw BuildError("cannot create the scratch file " + DisplayPath(path_));
    }
    const uint64_t at = size_;
    out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out_) throw BuildError("cannot write the scratch file " + DisplayPath(path_));
    size_ += bytes.size();
    return at;
  }

  void Finish() {
    if (out_.is_open()) {
      out_.close();
      if (!out_) throw BuildError("cannot write the scratch file " + DisplayPath(path_));
    }
  }

  bool Read(uint64_t offset, uint8_t* out, size_t size) {
    if (!in_.is_open()) in_.open(path_, std::ios::binary);
    if (!in_) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in_.gcount()) == size;
  }

 private:
  fs::path path_;
  std::ofstream out_;
  std::ifstream in_;
  uint64_t size_ = 0;
  bool created_ = false;
};

// Shared by the stream sources while the package is written: progress and the first failure.
struct WriteState {
  ProgressCallback progress;
  uint64_t done = 0;
  uint64_t total = 0;
  std::string failure;
};

// Reads one release file for its whole-file stream; open only while its stream is written.
struct LazyFile {
  fs::path path;
  uint64_t size = 0;
  std::ifstream in;

  bool Read(uint64_t offset, uint8_t* out, size_t n) {
    if (!in.is_open()) in.open(path, std::ios::binary);
    if (!in) return false;
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    const bool ok = static_cast<size_t>(in.gcount()) == n;
    if (!ok || offset + n >= size) in.close();
    return ok;
  }
};

// One file of one release, in the main folder or a group.
struct Slot {
  const ReleaseFile* file = nullptr;
  int group = -1;  // index in the release's groups, -1 for the main folder
};

struct Release {
  const ReleaseInput* input = nullptr;
  ReleaseTree main;
  std::vector<ReleaseTree> groups;
};

// A file identity across releases: the group (upper-cased name, empty for the main folder)
// and the path key.
using FileKey = std::pair<std::string, std::string>;

enum class EntryKind { kAdded, kChanged, kCarried, kRemoved };

struct PlannedEntry {
  EntryKind kind = EntryKind::kAdded;
  Slot old_side;
  Slot new_side;
};

class Generator {
 public:
  Generator(const GeneratorInput& input, const fs::path& scratch, const ProgressCallback& progress)
      : input_(input), progress_(progress), spill_(std::make_shared<DiffSpill>(scratch)) {}

  GeneratedPackage Run() {
    CheckInput();
    ReadReleases();
    Plan();
    GeneratedPackage out = Write();
    out.warnings = OrderWarnings(out.steps);
    return out;
  }

  // Releases that are probably not meant: two consecutive ones that are identical, and one
  // whose files are all older than in the release before it (among the files both have with
  // different times), which suggests releases given in the wrong order.
  std::vector<std::string> OrderWarnings(const std::vector<StepSummary>& steps) const {
    std::vector<std::string> warnings;
    for (size_t k = 1; k < G(); ++k) {
      const std::string pair = DisplayText(input_.releases[k - 1].name) + " and " +
                               DisplayText(input_.releases[k].name);
      const StepSummary& s = steps[k - 1];
      if (s.added == 0 && s.changed == 0 && s.removed == 0 &&
          SameFiles(releases_[k - 1], releases_[k])) {
        warnings.push_back("the releases " + pair + " are identical");
        continue;
      }
      size_t older = 0;
      size_t newer = 0;
      CompareTimes(releases_[k - 1].main, releases_[k].main, &older, &newer);
      for (size_t j = 0; j < releases_[k].groups.size() && j < releases_[k - 1].groups.size(); ++j) {
        CompareTimes(releases_[k - 1].groups[j], releases_[k].groups[j], &older, &newer);
      }
      if (older > 0 && newer == 0) {
        warnings.push_back("every file of " + DisplayText(input_.releases[k].name) +
                           " that differs in time is older than in " +
                           DisplayText(input_.releases[k - 1].name) +
                           ": are the releases in the wrong order (oldest first)?");
      }
    }
    return warnings;
  }

  static bool SameFiles(const Release& a, const Release& b) {
    auto same = [](const ReleaseTree& x, const ReleaseTree& y) {
      if (x.files.size() != y.files.size()) return false;
      for (size_t i = 0; i < x.files.size(); ++i) {
        if (x.files[i].key != y.files[i].key || x.files[i].crc != y.files[i].crc) return false;
      }
      return true;
    };
    if (!same(a.main, b.main) || a.groups.size() != b.groups.size()) return false;
    for (size_t j = 0; j < a.groups.size(); ++j) {
      if (!same(a.groups[j], b.groups[j])) return false;
    }
    return true;
  }

  static void CompareTimes(const ReleaseTree& before, const ReleaseTree& after, size_t* older,
                           size_t* newer) {
    auto stamp = [](const format::EntryHeader& h) {
      return std::tuple(h.year, h.month, h.day, h.hour, h.minute, h.second);
    };
    for (const ReleaseFile& file : after.files) {
      const ReleaseFile* previous = before.Find(file.key);
      if (previous == nullptr) continue;
      const auto t = stamp(file.header);
      const auto p = stamp(previous->header);
      if (t < p) ++*older;
      if (t > p) ++*newer;
    }
  }

 private:
  size_t G() const { return input_.releases.size(); }

  std::string ReleaseLabel(size_t g) const {
    return "release '" + DisplayText(input_.releases[g].name) + "'";
  }

  void CheckInput() {
    if (G() < 2) throw BuildError("a package needs at least two releases (one list)");
    if (G() - 1 > kMaxLists) {
      throw BuildError(std::to_string(G()) + " releases need " + std::to_string(G() - 1) +
                       " lists; a package holds at most " + std::to_string(kMaxLists));
    }
    for (size_t g = 0; g < G(); ++g) {
      const ReleaseInput& release = input_.releases[g];
      std::set<std::string> names;
      std::vector<std::string> sources;
      for (const GroupInput& group : release.groups) {
        const std::string problem = CheckGroupName(group.name);
        if (!problem.empty()) {
          throw BuildError(ReleaseLabel(g) + ": group '" + DisplayText(group.name) + "': " + problem);
        }
        if (!names.insert(platform::UpperCaseCp932(group.name)).second) {
          throw BuildError(ReleaseLabel(g) + ": two groups are named '" +
                           DisplayText(group.name) + "'");
        }
        const fs::path source = group.source.lexically_normal();
        const std::string generic = GenericUtf8(source);
        if (source.empty() || generic == "." || source.is_absolute() || source.has_root_name() ||
            generic == ".." || generic.rfind("../", 0) == 0) {
          throw BuildError(ReleaseLabel(g) + ": group '" + DisplayText(group.name) +
                           "': its source '" + Utf8Of(group.source) +
                           "' must be a subfolder of the release folder");
        }
        std::error_code ec;
        if (!fs::is_directory(release.folder / source, ec)) {
          throw BuildError(ReleaseLabel(g) + ": group '" + DisplayText(group.name) +
                           "': its source " + DisplayPath(release.folder / source) +
                           " is not a folder");
        }
        for (const std::string& other : sources) {
          const std::string a = generic + "/";
          const std::string b = other + "/";
          if (a.rfind(b, 0) == 0 || b.rfind(a, 0) == 0) {
            throw BuildError(ReleaseLabel(g) + ": the group sources '" + other + "' and '" +
                             generic + "' overlap");
          }
        }
        sources.push_back(generic);
      }
    }
  }

  void Report(GeneratorProgress::Phase phase, uint64_t done, uint64_t total, const fs::path& item) {
    if (!progress_) return;
    GeneratorProgress p;
    p.phase = phase;
    p.done = done;
    p.total = total;
    p.item = item.empty() ? std::string() : Utf8Of(item);
    progress_(p);
  }

  void ReadReleases() {
    uint64_t total = 0;
    for (const ReleaseInput& release : input_.releases) {
      std::error_code ec;
      if (!fs::is_directory(release.folder, ec)) {
        throw BuildError(DisplayPath(release.folder) + " is not a folder");
      }
      for (fs::recursive_directory_iterator it(release.folder, ec), end; !ec && it != end;
           it.increment(ec)) {
        std::error_code size_ec;
        if (it->is_regular_file(size_ec)) total += it->file_size(size_ec);
      }
    }
    uint64_t done = 0;
    const ScanCallback callback = [&](const fs::path& file, uint64_t bytes) {
      done += bytes;
      Report(GeneratorProgress::Phase::kReading, done, std::max(done, total), file);
    };
    releases_.resize(G());
    for (size_t g = 0; g < G(); ++g) {
      Release& r = releases_[g];
      r.input = &input_.releases[g];
      std::vector<fs::path> excluded;
      for (const GroupInput& group : r.input->groups) excluded.push_back(group.source);
      r.main = ScanReleaseTree(r.input->folder, excluded, callback);
      for (const GroupInput& group : r.input->groups) {
        r.groups.push_back(ScanReleaseTree(r.input->folder / group.source, {}, callback));
      }
      AddToUniverse(g);
    }
  }

  void AddToUniverse(size_t g) {
    const Release& r = releases_[g];
    auto add = [&](const ReleaseTree& tree, int group) {
      const std::string group_key =
          group < 0 ? std::string() : platform::UpperCaseCp932(r.input->groups[group].name);
      for (const ReleaseFile& file : tree.files) {
        std::vector<Slot>& slots = universe_[FileKey(group_key, file.key)];
        slots.resize(G());
        slots[g].file = &file;
        slots[g].group = group;
      }
    };
    add(r.main, -1);
    for (size_t j = 0; j < r.groups.size(); ++j) add(r.groups[j], static_cast<int>(j));
  }

  // Which entries each list gets; checks every limit before anything heavy is done.
  void Plan() {
    lists_.assign(G(), {});  // index k: list k (0 unused)
    size_t to_compare = 0;
    for (const auto& [key, slots] : universe_) {
      for (size_t k = 1; k < G(); ++k) {
        if (slots[k - 1].file && slots[k].file) ++to_compare;
      }
    }
    size_t compared = 0;
    for (const auto& [key, slots] : universe_) {
      std::vector<bool> exists(G());
      for (size_t g = 0; g < G(); ++g) exists[g] = slots[g].file != nullptr;
      std::vector<bool> changed(G(), false);
      for (size_t k = 1; k < G(); ++k) {
        if (!exists[k - 1] || !exists[k]) continue;
        const ReleaseFile& a = *slots[k - 1].file;
        const ReleaseFile& b = *slots[k].file;
        Report(GeneratorProgress::Phase::kComparing, ++compared, to_compare, b.host);
        changed[k] = a.size != b.size || a.crc != b.crc || !SameContent(a.host, b.host);
      }
      std::vector<bool> written(G(), false);
      std::vector<bool> removed(G(), false);
      for (size_t k = 1; k < G(); ++k) {
        written[k] = exists[k] && (!exists[k - 1] || changed[k]);
        removed[k] = exists[k - 1] && !exists[k];
      }
      std::vector<bool> include(G(), false);
      if (input_.file_removal) {
        const bool tracked = std::find(written.begin() + 1, written.end(), true) != written.end() ||
                             std::find(removed.begin() + 1, removed.end(), true) != removed.end();
        for (size_t k = 1; k < G(); ++k) include[k] = tracked && (exists[k - 1] || exists[k]);
      } else {
        // Only the run of releases that reaches the newest one matters: what is written
        // before the file's last removal would be dropped by that removal's pass, and the
        // commit would retire the installed file anyway.
        size_t first = G();
        if (exists[G() - 1]) {
          first = G() - 1;
          while (first > 0 && exists[first - 1]) --first;
        }
        bool useful = false;
        for (size_t k = std::max<size_t>(first, 1); k < G(); ++k) useful = useful || written[k];
        for (size_t k = 1; k < G(); ++k) {
          include[k] = removed[k] || (useful && k >= first && (exists[k - 1] || exists[k]));
        }
      }
      for (size_t k = 1; k < G(); ++k) {
        if (!include[k]) continue;
        PlannedEntry entry;
        entry.old_side = slots[k - 1];
        entry.new_side = slots[k];
        if (!exists[k - 1]) {
          entry.kind = EntryKind::kAdded;
        } else if (!exists[k]) {
          entry.kind = EntryKind::kRemoved;
        } else {
          entry.kind = changed[k] ? EntryKind::kChanged : EntryKind::kCarried;
        }
        lists_[k].push_back(entry);
      }
    }
    for (size_t k = 1; k < G(); ++k) {
      if (lists_[k].size() > format::kListMaxEntries) {
        throw BuildError("list " + std::to_string(k) + " (" + DisplayText(input_.releases[k - 1].name) +
                         " -> " + DisplayText(input_.releases[k].name) + ") would hold " +
                         std::to_string(lists_[k].size()) + " files; a list holds at most " +
                         std::to_string(format::kListMaxEntries));
      }
      for (size_t i = 0; i < lists_[k].size(); ++i) CheckEntry(k, i, lists_[k][i]);
    }
  }

  std::string Token(size_t g, const Slot& slot) const {
    return slot.group < 0 ? std::string(kMainToken) : input_.releases[g].groups[slot.group].name;
  }

  std::string BaseFolder(size_t g, const Slot& slot) const {
    const std::string& folder = slot.group < 0 ? input_.default_folder
                                               : input_.releases[g].groups[slot.group].default_folder;
    return folder.empty() ? std::string(kNoDefaultFolder) : folder;
  }

  static std::string StreamName(size_t index) { return std::to_string(index) + "."; }

  std::string DataPath(size_t k, size_t g, const Slot& slot, size_t index) const {
    return std::to_string(k) + '\\' + Token(g, slot) + '\\' + slot.file->folder + StreamName(index);
  }

  // The limits of one side of an entry: names, string lengths, disk path length.
  void CheckSide(size_t k, size_t g, const Slot& slot, size_t index, size_t suffix_bytes,
                 const std::string& suffix) {
    const ReleaseFile& file = *slot.file;
    const std::string where = DisplayPath(file.host) + " (" + ReleaseLabel(g) + ")";
    if (file.size != 0 && file.crc == 0) {
      throw BuildError(where + ": its checksum is 0, which file lists reserve for 'no file' "
                       "(every file of zero bytes only has it); change the file or leave it out");
    }
    if (file.size >= kMaxFileSize) {
      throw BuildError(where + ": files of 2 GiB or more cannot be carried");
    }
    std::vector<std::string> components = SplitCharacters(file.folder);
    components.back() = file.name;  // the folder ends with a backslash: its last part is empty
    for (const std::string& component : components) {
      const std::string problem = NameProblem(component);
      if (!problem.empty()) {
        throw BuildError(where + ": the name '" + DisplayText(component) + "' cannot be used: " +
                         problem);
      }
    }
    if (file.name.size() > format::kListStringMax) {
      throw BuildError(where + ": the file name is " + std::to_string(file.name.size()) +
                       " bytes in code page 932; at most " + std::to_string(format::kListStringMax) +
                       " fit a file list");
    }
    const std::string data_path = DataPath(k, g, slot, index);
    if (data_path.size() > format::kListStringMax) {
      throw BuildError(where + ": its data path '" + DisplayText(data_path) + "' is " +
                       std::to_string(data_path.size()) + " bytes; at most " +
                       std::to_string(format::kListStringMax) + " fit a file list");
    }
    const std::string base = BaseFolder(g, slot);
    const std::string disk = JoinFolder(base, file.folder + file.name);
    if (disk.size() + suffix_bytes > kMaxDiskPathBytes) {
      throw BuildError(where + ": its disk path '" + DisplayText(disk) + "' is " +
                       std::to_string(disk.size()) + " bytes, " +
                       std::to_string(disk.size() + suffix_bytes) + " with the suffix '" + suffix +
                       "'; the program holds at most " + std::to_string(kMaxDiskPathBytes) +
                       " (measured against '" + DisplayText(base) + "')");
    }
  }

  // The new data path names a stream: its parts between 0x5C bytes become storage names.
  void CheckStoredPath(size_t k, size_t g, const Slot& slot, size_t index) {
    const ReleaseFile& file = *slot.file;
    const std::vector<std::string> parts = SplitBytes(DataPath(k, g, slot, index));
    for (const std::string& part : parts) {
      const std::u16string name = platform::Cp932ToUtf16Lenient(part);
      std::string problem;
      if (part.empty()) {
        problem = "split at its 0x5C bytes it has an empty part (a folder name ending in a "
                  "character such as 表, ソ or 能 whose second byte is 0x5C)";
      } else if (name.size() > kMaxElementNameUnits) {
        problem = "split at its 0x5C bytes it has the part '" + DisplayText(part) + "' of " +
                  std::to_string(name.size()) + " characters; storage names hold at most " +
                  std::to_string(kMaxElementNameUnits);
      } else if (!cfb::IsValidName(name)) {
        problem = "the part '" + DisplayText(part) + "' is not a valid storage name (no '!')";
      }
      if (!problem.empty()) {
        const std::string folder = file.folder.empty() ? std::string() : file.folder.substr(0, file.folder.size() - 1);
        throw BuildError(DisplayPath(file.host) + " (" + ReleaseLabel(g) + "): the folder '" +
                         DisplayText(folder) + "' cannot be stored in a package: " + problem);
      }
    }
  }

  void CheckEntry(size_t k, size_t index, const PlannedEntry& entry) {
    if (entry.old_side.file) {
      const std::string previous = k > 1 ? StageSuffix(k - 1) : std::string();
      const std::string& longer =
          previous.size() > std::string(kOldSuffix).size() ? previous : std::string(kOldSuffix);
      CheckSide(k, k - 1, entry.old_side, index, longer.size(), longer);
    }
    if (entry.new_side.file) {
      CheckSide(k, k, entry.new_side, index, StageSuffix(k).size(), StageSuffix(k));
      CheckStoredPath(k, k, entry.new_side, index);
    }
  }

  // Wraps a stream's source so that writing reports progress and names a file that fails.
  DocfileStream Tracked(DocfileStream stream, const fs::path& file) {
    cfb::StreamSource inner = std::move(stream.source);
    std::shared_ptr<WriteState> state = write_state_;
    state->total += stream.size;
    stream.source = [inner, state, file](uint64_t offset, uint8_t* out, size_t size) {
      if (!inner(offset, out, size)) {
        if (state->failure.empty()) {
          state->failure = DisplayPath(file) + " could not be read, or changed, while the package "
                                               "was written";
        }
        return false;
      }
      state->done += size;
      if (state->progress) {
        GeneratorProgress p;
        p.phase = GeneratorProgress::Phase::kWriting;
        p.done = state->done;
        p.total = state->total;
        p.item = Utf8Of(file);
        state->progress(p);
      }
      return true;
    };
    return stream;
  }

  GeneratedPackage Write() {
    write_state_ = std::make_shared<WriteState>();
    write_state_->progress = progress_;
    GeneratedPackage out;
    PackageDescription& desc = out.desc;

    HeaderDescription& header = desc.header;
    header.file_removal = input_.file_removal ? 1 : 0;
    header.backup = input_.backup ? 1 : 0;
    header.folder_choice = input_.folder_choice ? 1 : 0;
    header.version_check = input_.version_check ? 1 : 0;
    header.restart = input_.restart ? 1 : 0;
    header.comment = input_.comment;
    header.caption = input_.caption;
    header.default_folder = input_.default_folder;
    for (const ReleaseInput& release : input_.releases) {
      GenerationDescription generation;
      generation.name = release.name;
      generation.comment = release.comment;
      for (const GroupInput& group : release.groups) {
        generation.groups.push_back({group.name, group.comment, group.default_folder});
      }
      header.group_count = std::max(header.group_count, static_cast<int>(release.groups.size()));
      header.generations.push_back(std::move(generation));
    }
    std::string error = CheckHeader(header);
    if (!error.empty()) throw BuildError("the package header: " + error);
    desc.options = input_.options;
    desc.format = input_.format;
    if (!(error = CheckOptionsTexts(desc.options)).empty()) throw BuildError(error);

    size_t diffs = 0;
    for (size_t k = 1; k < G(); ++k) {
      for (const PlannedEntry& e : lists_[k]) diffs += e.kind == EntryKind::kChanged ? 1 : 0;
    }
    size_t diffed = 0;
    for (size_t k = 1; k < G(); ++k) {
      StepSummary step;
      step.from = input_.releases[k - 1].name;
      step.to = input_.releases[k].name;
      std::vector<ListEntryDescription> entries;
      for (size_t i = 0; i < lists_[k].size(); ++i) {
        const PlannedEntry& e = lists_[k][i];
        ListEntryDescription entry;
        if (e.old_side.file) {
          entry.old_crc = e.old_side.file->crc;
          entry.old_data_path = DataPath(k, k - 1, e.old_side, i);
          entry.old_name = e.old_side.file->name;
        }
        if (e.new_side.file) {
          const ReleaseFile& file = *e.new_side.file;
          entry.new_crc = file.crc;
          entry.new_data_path = DataPath(k, k, e.new_side, i);
          entry.new_name = file.name;
          DocfileStream stream;
          if (e.kind == EntryKind::kAdded) {
            stream = WholeFileStream(entry.new_data_path, file);
          } else if (e.kind == EntryKind::kCarried) {
            const bool compact = input_.format == PackageFormat::kCompact;
            stream = StreamFromBytes(entry.new_data_path,
                                     compact ? CompactIdentityDiff(file.header, file.size)
                                             : IdentityDiff(file.header, file.size));
          } else {
            Report(GeneratorProgress::Phase::kComparing, ++diffed, diffs, file.host);
            stream = DiffStream(entry.new_data_path, *e.old_side.file, file);
          }
          step.stream_bytes += stream.size;
          desc.streams.push_back(Tracked(std::move(stream), file.host));
        }
        switch (e.kind) {
          case EntryKind::kAdded: ++step.added; break;
          case EntryKind::kChanged: ++step.changed; break;
          case EntryKind::kCarried: ++step.carried; break;
          case EntryKind::kRemoved: ++step.removed; break;
        }
        entries.push_back(std::move(entry));
      }
      if (!(error = CheckList(entries)).empty()) throw BuildError("list " + std::to_string(k) + ": " + error);
      desc.streams.push_back(StreamFromBytes(std::to_string(k) + "\\list.dat", WriteList(entries)));
      out.steps.push_back(step);
    }
    spill_->Finish();
    out.source_failure = std::shared_ptr<const std::string>(write_state_, &write_state_->failure);
    return out;
  }

  DocfileStream WholeFileStream(const std::string& path, const ReleaseFile& file) {
    auto lazy = std::make_shared<LazyFile>();
    lazy->path = file.host;
    lazy->size = file.size;
    const ContentSource content = [lazy](uint64_t offset, uint8_t* out, size_t n) {
      return lazy->Read(offset, out, n);
    };
    DocfileStream stream;
    stream.path = path;
    stream.size = WholeFileStreamSize(file.size);
    const format::EntryHeader header = file.header;
    const uint64_t size = file.size;
    stream.source = [header, size, content](uint64_t offset, uint8_t* out, size_t n) {
      return FillWholeFileStream(header, size, content, offset, out, n);
    };
    return stream;
  }

  DocfileStream DiffStream(const std::string& path, const ReleaseFile& old_file,
                           const ReleaseFile& new_file) {
    const std::vector<uint8_t> old_bytes = ReadWholeFile(old_file.host);
    const std::vector<uint8_t> new_bytes = ReadWholeFile(new_file.host);
    if (old_bytes.size() != old_file.size || new_bytes.size() != new_file.size) {
      throw BuildError(DisplayPath(new_file.host) + " or " + DisplayPath(old_file.host) +
                       " changed while the package was made");
    }
    const bool compact = input_.format == PackageFormat::kCompact;
    const std::vector<uint8_t> diff =
        compact ? EncodeCompactDiff(old_bytes, new_bytes, new_file.header, nullptr,
                                    [&](uint64_t done, uint64_t total) {
                                      Report(GeneratorProgress::Phase::kEncoding, done, total,
                                             new_file.host);
                                    },
                                    input_.smallest ? CompactDiffVersion::kSmaller
                                                    : CompactDiffVersion::kRaw,
                                    CompactDiffFilter::kChoose)
                : EncodeDiff(old_bytes, new_bytes, new_file.header);
    std::vector<uint8_t> rebuilt;
    const bool rebuilds = compact ? ApplyCompactDiff(old_bytes, diff, &rebuilt)
                                  : ApplyDiff(old_bytes, diff, &rebuilt) == DiffStatus::kOk;
    if (!rebuilds || rebuilt != new_bytes) {
      throw BuildError("internal error: the diff for " + DisplayPath(new_file.host) +
                       " does not rebuild the file");
    }
    if (diff.size() > cfb::CompoundFileWriter::kMaxStreamSizeV3) {
      throw BuildError(DisplayPath(new_file.host) + ": its diff is larger than a stream can hold");
    }
    const uint64_t at = spill_->Append(diff);
    const uint64_t size = diff.size();
    std::shared_ptr<DiffSpill> spill = spill_;
    DocfileStream stream;
    stream.path = path;
    stream.size = size;
    stream.source = [spill, at, size](uint64_t offset, uint8_t* out, size_t n) {
      if (offset > size || n > size - offset) return false;
      return spill->Read(at + offset, out, n);
    };
    return stream;
  }

  const GeneratorInput& input_;
  ProgressCallback progress_;
  std::shared_ptr<DiffSpill> spill_;
  std::shared_ptr<WriteState> write_state_;
  std::vector<Release> releases_;
  std::map<FileKey, std::vector<Slot>> universe_;
  std::vector<std::vector<PlannedEntry>> lists_;
};

}  // namespace

std::string CheckGroupName(const std::string& cp932) {
  if (cp932.empty()) return "a group needs a name";
  if (cp932[0] == '_' || cp932[0] == '+' || cp932[0] == '-') {
    return "a name starting with '_', '+' or '-' picks a fixed folder and cannot address a group";
  }
  if (cp932.find('\\') != std::string::npos) {
    return "the name contains the byte 0x5C (a backslash, or a character such as 表 or ソ), "
           "where data paths are cut";
  }
  if (cp932.size() > format::kListStringMax) return "the name is too long";
  const std::u16string name = platform::Cp932ToUtf16Lenient(cp932);
  if (name.size() > kMaxElementNameUnits) {
    return "the name has " + std::to_string(name.size()) + " characters; at most " +
           std::to_string(kMaxElementNameUnits) + " fit a storage name";
  }
  if (!cfb::IsValidName(name)) return "the name contains a character that storage names cannot hold ('/', ':', '!')";
  return std::string();
}

GeneratedPackage GeneratePackage(const GeneratorInput& input, const fs::path& scratch,
                                 const ProgressCallback& progress) {
  Generator generator(input, scratch, progress);
  return generator.Run();
}

void CheckReleases(const GeneratorInput& input) {
  for (size_t i = 0; i < input.releases.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      const ReleaseInput& a = input.releases[j];
      const ReleaseInput& b = input.releases[i];
      std::error_code ec;
      if (fs::equivalent(a.folder, b.folder, ec)) {
        throw BuildError(DisplayPath(b.folder) + " is named twice (as release " + std::to_string(j + 1) +
                         " and " + std::to_string(i + 1) + ")");
      }
      if (platform::UpperCaseCp932(a.name) == platform::UpperCaseCp932(b.name)) {
        throw BuildError("two generations are named " + DisplayText(b.name) + " (releases " +
                         DisplayPath(a.folder) + " and " + DisplayPath(b.folder) + ")");
      }
    }
  }
}

GeneratorInput InputFromFolders(const std::vector<fs::path>& folders) {
  GeneratorInput input;
  input.caption = input.options.caption;
  input.comment = input.options.project_comment;
  for (const fs::path& folder : folders) {
    ReleaseInput release;
    release.folder = folder;
    fs::path normal = fs::absolute(folder).lexically_normal();
    if (!normal.has_filename()) normal = normal.parent_path();
    const std::string utf8 = Utf8Of(normal.filename());
    if (!platform::Utf8ToCp932(utf8, &release.name)) {
      throw BuildError(DisplayPath(folder) + ": the folder's name has no form in code page 932");
    }
    input.releases.push_back(std::move(release));
  }
  return input;
}

}  // namespace gp::builder
