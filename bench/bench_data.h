// Test data for the benchmarks, read from the machine's own files: program binaries from
// /usr/bin and C headers from /usr/include (both present on every build machine), cut to a
// fixed size so that runs compare.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gp::bench {

// Concatenates regular files under root (sorted by path, so the data set is stable) whose
// names end with suffix, until size bytes are gathered.
inline std::vector<uint8_t> GatherFiles(const char* root, const std::string& suffix,
                                        size_t size, bool recursive) {
  namespace fs = std::filesystem;
  std::vector<fs::path> paths;
  std::error_code ec;
  auto add = [&](const fs::directory_entry& e) {
    std::error_code ec2;
    if (!e.is_regular_file(ec2) || e.is_symlink(ec2)) return;
    const std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      paths.push_back(e.path());
    }
  };
  if (recursive) {
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      add(*it);
    }
  } else {
    for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      add(*it);
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<uint8_t> out;
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (out.size() >= size) break;
  }
  out.resize(std::min(out.size(), size));
  return out;
}

struct DataSet {
  const char* name;
  std::vector<uint8_t> bytes;
};

// Program binaries (the bulk of an installed application) and source text, 16 MiB each.
inline const std::vector<DataSet>& DataSets() {
  static const std::vector<DataSet> sets = {
      {"binaries", GatherFiles("/usr/bin", "", 16u << 20, false)},
      {"text", GatherFiles("/usr/include", ".h", 16u << 20, true)},
  };
  return sets;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uintmax_t FileSize(const std::filesystem::path& path) {
  std::error_code ec;
  const uintmax_t n = std::filesystem::file_size(path, ec);
  return ec ? 0 : n;
}

// A scratch folder for the benchmark's files, removed at exit.
inline const std::filesystem::path& ScratchFolder() {
  struct Folder {
    Folder() {
      path = std::filesystem::temp_directory_path() / "gp-bench-codec";
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  };
  static const Folder folder;
  return folder.path;
}

}  // namespace gp::bench
