// The GPD2 coder against GPD1's raw sections on the release pairs of bench/fetch_pairs.sh:
// per pair and section, the raw size (GPD1, as stored before the payload's deflate) and the
// coded size (GPD2), the encoding time and the in-memory decoding speed (new bytes a second).
// With --dump DIR it writes each pair's raw sections to DIR/<pair>.{control,differences,
// literals} for comparison with general compressors (xz -9e, bzip2 -9, zstd -19).
//
//   compact_coder_bench [--dump DIR] [PAIR...]   (default: every pair up to 64 MiB)
//   GENPATCH_BENCH_PAIRS=DIR  pairs folder (default ~/.cache/genpatch-bench/pairs)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builder/compact_diff_apply.h"
#include "codec/compact_models.h"
#include "builder/compact_diff_encoder.h"
#include "format/compact.h"
#include "release_pairs.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

gp::format::CompactDiffHeader Header(const Bytes& diff) {
  gp::format::CompactDiffHeader h;
  if (!gp::format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &h)) {
    std::fprintf(stderr, "bad diff\n");
    std::exit(1);
  }
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dump;
  std::vector<std::string> names;
  if (argc == 3 && std::strcmp(argv[1], "--literals") == 0) {
    // One file coded as literals alone: size and decoding speed of the literal model.
    const Bytes data = gp::bench::ReadAll(argv[2]);
    Bytes coded;
    {
      const auto models = std::make_unique<gp::codec::LiteralModel>();
      gp::codec::BitEncoder encoder(&coded);
      for (uint8_t b : data) models->Code(encoder, b);
      encoder.Finish();
    }
    gp::codec::CoderInput input{coded.data(), coded.data() + coded.size()};
    const auto models = std::make_unique<gp::codec::LiteralModel>();
    gp::codec::BitDecoder decoder(&input);
    decoder.Start();
    const auto start = Clock::now();
    for (uint8_t b : data) {
      if (models->Code(decoder, 0) != b) return 1;
    }
    std::printf("%zu -> %zu, %.1f MB/s\n", data.size(), coded.size(),
                static_cast<double>(data.size()) / Seconds(start) / 1e6);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc) {
      dump = argv[++i];
    } else {
      names.emplace_back(argv[i]);
    }
  }
  const char* env = std::getenv("GENPATCH_BENCH_PAIRS");
  const fs::path root = env ? fs::path(env) : fs::path(std::getenv("HOME")) / ".cache/genpatch-bench/pairs";
  if (names.empty()) {
    for (const auto& e : fs::directory_iterator(root)) {
      if (fs::file_size(e.path() / "new") <= (uint64_t{64} << 20)) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
  }
  std::printf("%-18s %9s %9s %9s %9s | %9s %9s %9s %9s | %6s %7s\n", "pair", "control", "diffs",
              "literals", "GPD1", "control", "diffs", "literals", "GPD2", "enc s", "dec MB/s");
  uint64_t total[2] = {};
  for (const std::string& name : names) {
    const Bytes old_file = gp::bench::ReadAll(root / name / "old");
    const Bytes new_file = gp::bench::ReadAll(root / name / "new");
    const gp::format::EntryHeader entry;
    const Bytes raw = gp::builder::EncodeCompactDiff(old_file, new_file, entry, nullptr, nullptr,
                                                     gp::builder::CompactDiffVersion::kRaw);
    const auto start = Clock::now();
    const Bytes coded = gp::builder::EncodeCompactDiff(old_file, new_file, entry);
    const double encode = Seconds(start);
    Bytes rebuilt;
    const auto decode_start = Clock::now();
    const bool ok = gp::builder::ApplyCompactDiff(old_file, coded, &rebuilt);
    const double decode = Seconds(decode_start);
    if (!ok || rebuilt != new_file) {
      std::fprintf(stderr, "%s: GPD2 does not rebuild the new file\n", name.c_str());
      return 1;
    }
    const auto r = Header(raw);
    const auto c = Header(coded);
    std::printf("%-18s %9llu %9llu %9llu %9zu | %9llu %9llu %9llu %9zu | %6.2f %7.1f\n",
                name.c_str(), static_cast<unsigned long long>(r.length[0]),
                static_cast<unsigned long long>(r.length[1]),
                static_cast<unsigned long long>(r.length[2]), raw.size(),
                static_cast<unsigned long long>(c.length[0]),
                static_cast<unsigned long long>(c.length[1]),
                static_cast<unsigned long long>(c.length[2]), coded.size(), encode,
                static_cast<double>(new_file.size()) / decode / 1e6);
    total[0] += raw.size();
    total[1] += coded.size();
    if (!dump.empty()) {
      static const char* const kNames[] = {"control", "differences", "literals"};
      for (size_t i = 0; i < gp::format::kCompactSectionCount; ++i) {
        std::ofstream out(fs::path(dump) / (name + "." + kNames[i]), std::ios::binary);
        out.write(reinterpret_cast<const char*>(raw.data() + r.offset[i]),
                  static_cast<std::streamsize>(r.length[i]));
      }
    }
  }
  std::printf("total GPD1 %llu, GPD2 %llu\n", static_cast<unsigned long long>(total[0]),
              static_cast<unsigned long long>(total[1]));
  return 0;
}
