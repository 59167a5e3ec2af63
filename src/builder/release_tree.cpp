#include "builder/release_tree.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <map>

#include "builder/build_error.h"
#include "codec/crc32.h"
#include "platform/platform.h"

namespace gp::builder {

namespace fs = std::filesystem;

namespace {

constexpr size_t kReadChunk = 1 << 20;
// The checksum the program computes for an empty file.
constexpr uint32_t kEmptyFileCrc = 0xFFFFFFFFu;

struct Walker {
  fs::path root;
  std::vector<std::string> excluded;  // generic forms, relative to root
  const ScanCallback* callback = nullptr;
  std::vector<ReleaseFile> files;
  std::vector<char> buffer = std::vector<char>(kReadChunk);  // one for every file

  bool IsExcluded(const fs::path& relative) const {
    const std::string generic = GenericUtf8(relative.lexically_normal());
    return std::find(excluded.begin(), excluded.end(), generic) != excluded.end();
  }

  void Walk(const fs::path& dir, const fs::path& relative, const std::string& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      entries.push_back(*it);
    }
    if (ec) throw BuildError("cannot read the folder " + DisplayPath(dir) + ": " + ec.message());
    // The order of the listing does not matter; sorting makes every message the same each time.
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().filename() < b.path().filename();
              });
    std::map<std::string, fs::path> spellings;  // upper-cased name -> the entry
    for (const fs::directory_entry& entry : entries) {
      const fs::path name_path = entry.path().filename();
      const fs::path entry_relative = relative / name_path;
      if (IsExcluded(entry_relative)) continue;
      std::string name;
      if (!platform::Utf8ToCp932(Utf8Of(name_path), &name) || name.empty()) {
        throw BuildError(DisplayPath(entry.path()) +
                         ": the name has no form in code page 932 (Shift-JIS)");
      }
      const std::string upper = platform::UpperCaseCp932(name);
      const auto [it, fresh] = spellings.emplace(upper, entry.path());
      if (!fresh) {
        throw BuildError(DisplayPath(it->second) + " and " + DisplayPath(entry.path()) +
                         " differ only in case; Windows cannot hold both");
      }
      // Links are never followed: a release carries only what is inside its folder.
      const fs::file_status link_status = entry.symlink_status(ec);
      if (!ec && fs::is_symlink(link_status)) {
        throw BuildError(DisplayPath(entry.path()) +
                         " is a symbolic link; a release carries only plain files and folders");
      }
      if (!ec && fs::is_directory(link_status)) {
        Walk(entry.path(), entry_relative, folder + name + '\\');
        continue;
      }
      if (ec || !fs::is_regular_file(link_status)) {
        throw BuildError(DisplayPath(entry.path()) + " is neither a file nor a folder");
      }
      AddFile(entry.path(), folder, name);
    }
  }

  void AddFile(const fs::path& path, const std::string& folder, const std::string& name) {
    ReleaseFile file;
    file.folder = folder;
    file.name = name;
    file.key = platform::UpperCaseCp932(folder + name);
    file.host = path;
    file.header = EntryHeaderOf(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BuildError("cannot read " + DisplayPath(path));
    uint32_t crc = 0;
    uint64_t size = 0;
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const std::streamsize n = in.gcount();
      if (n <= 0) break;
      crc = Crc32Update(crc, buffer.data(), n);
      size += static_cast<uint64_t>(n);
      if (callback && *callback) (*callback)(path, static_cast<uint64_t>(n));
    }
    if (in.bad()) throw BuildError("cannot read " + DisplayPath(path));
    file.size = size;
    file.crc = size == 0 ? kEmptyFileCrc : crc;
    files.push_back(std::move(file));
  }
};

}  // namespace

const ReleaseFile* ReleaseTree::Find(const std::string& key) const {
  const auto it = std::lower_bound(files.begin(), files.end(), key,
                                   [](const ReleaseFile& f, const std::string& k) { return f.key < k; });
  return it != files.end() && it->key == key ? &*it : nullptr;
}

ReleaseTree ScanReleaseTree(const fs::path& root, const std::vector<fs::path>& excluded,
                            const ScanCallback& callback) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) throw BuildError(DisplayPath(root) + " is not a folder");
  Walker walker;
  walker.root = root;
  walker.callback = &callback;
  for (const fs::path& p : excluded) {
    walker.excluded.push_back(GenericUtf8(p.lexically_normal()));
  }
  walker.Walk(root, fs::path(), std::string());
  ReleaseTree tree;
  tree.root = root;
  tree.files = std::move(walker.files);
  std::sort(tree.files.begin(), tree.files.end(),
            [](const ReleaseFile& a, const ReleaseFile& b) { return a.key < b.key; });
  // Names are unique per folder without regard to case, so keys are unique too.
  return tree;
}

format::EntryHeader EntryHeaderOf(const fs::path& file) {
  std::error_code ec;
  const fs::file_time_type written = fs::last_write_time(file, ec);
  if (ec) throw BuildError("cannot read the time of " + DisplayPath(file) + ": " + ec.message());
  const auto system = std::chrono::file_clock::to_sys(written);
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(system));
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr || local->tm_year + 1900 < 1601 || local->tm_year + 1900 > 30827) {
    throw BuildError(DisplayPath(file) + ": its last-write time has no calendar form");
  }
  format::EntryHeader header;
  header.year = static_cast<uint16_t>(local->tm_year + 1900);
  header.month = static_cast<uint8_t>(local->tm_mon + 1);
  header.day = static_cast<uint8_t>(local->tm_mday);
  header.hour = static_cast<uint8_t>(local->tm_hour);
  header.minute = static_cast<uint8_t>(local->tm_min);
  // A leap second (60) has no file time.
  header.second = static_cast<uint8_t>(std::min(local->tm_sec, 59));
  header.millisecond = 0;
  header.attributes = platform::kAttrArchive;
  const fs::file_status status = fs::status(file, ec);
  if (ec) throw BuildError("cannot read the attributes of " + DisplayPath(file));
  if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) {
    header.attributes |= platform::kAttrReadOnly;
  }
  return header;
}

std::vector<uint8_t> ReadWholeFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::error_code ec;
  const uint64_t size = fs::file_size(file, ec);
  if (!in || ec) throw BuildError("cannot read " + DisplayPath(file));
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<uint64_t>(in.gcount()) != size || in.peek() != std::ifstream::traits_type::eof()) {
    throw BuildError(DisplayPath(file) + " changed while it was read");
  }
  return bytes;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  if (!in_a) throw BuildError("cannot read " + DisplayPath(a));
  if (!in_b) throw BuildError("cannot read " + DisplayPath(b));
  // Allocated once: most files compared are small and unchanged.
  thread_local std::vector<char> buffer_a(kReadChunk);
  thread_local std::vector<char> buffer_b(kReadChunk);
  for (;;) {
    in_a.read(buffer_a.data(), static_cast<std::streamsize>(buffer_a.size()));
    in_b.read(buffer_b.data(), static_cast<std::streamsize>(buffer_b.size()));
    const std::streamsize n_a = in_a.gcount();
    const std::streamsize n_b = in_b.gcount();
    if (in_a.bad()) throw BuildError("cannot read " + DisplayPath(a));
    if (in_b.bad()) throw BuildError("cannot read " + DisplayPath(b));
    if (n_a != n_b || !std::equal(buffer_a.begin(), buffer_a.begin() + n_a, buffer_b.begin())) {
      return false;
    }
    if (n_a == 0) return true;
  }
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string u = path.u8string();
  return std::string(u.begin(), u.end());
}

fs::path PathFromUtf8(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string GenericUtf8(const fs::path& path) {
  const std::u8string u = path.generic_u8string();
  return std::string(u.begin(), u.end());
}

std::string DisplayPath(const fs::path& path) { return "'" + Utf8Of(path) + "'"; }

std::string DisplayText(const std::string& cp932) { return platform::Cp932ToUtf8Lossy(cp932); }

}  // namespace gp::builder
