// The release pairs of the diff and patch benchmarks: folders <name>/old and <name>/new that
// bench/fetch_pairs.sh fills in a cache outside the repository, and small file helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gp::bench {

// GENPATCH_BENCH_PAIRS, else ~/.cache/genpatch-bench/pairs.
inline std::filesystem::path PairsDir() {
  if (const char* dir = std::getenv("GENPATCH_BENCH_PAIRS")) return dir;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".cache/genpatch-bench/pairs";
}

// The pair folders, sorted; says so on stderr (naming program) when there is none.
inline std::vector<std::filesystem::path> ListPairs(const char* program) {
  namespace fs = std::filesystem;
  std::vector<fs::path> pairs;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(PairsDir(), error)) {
    if (fs::is_regular_file(entry.path() / "old") && fs::is_regular_file(entry.path() / "new")) {
      pairs.push_back(entry.path());
    }
  }
  std::sort(pairs.begin(), pairs.end());
  if (pairs.empty()) {
    std::fprintf(stderr, "%s: no pairs in %s (run bench/fetch_pairs.sh)\n", program,
                 PairsDir().string().c_str());
  }
  return pairs;
}

// Iterations per run: one pass is enough for files of many megabytes; small ones are repeated.
inline int PairIterations(const std::filesystem::path& pair) {
  return std::filesystem::file_size(pair / "new") > (16u << 20) ? 1 : 3;
}

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A path quoted for the shell.
inline std::string Quote(const std::filesystem::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace gp::bench
