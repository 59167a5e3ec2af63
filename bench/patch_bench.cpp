// Applying a diff file to file, as the package program does it (PatchFile: the old file's
// checksum, then the commands, reading the old file through its block cache and writing the
// target), over the real release pairs of diff_bench, against `xdelta3 -d` applying its own
// delta of the same pair in the same run. Both write a new file on the same disk; times are
// wall-clock, one application per iteration. Counters: new_bytes, diff_bytes (ours, raw) and
// delta_bytes (xdelta3's). Our diff is encoded once per run and xdelta3's delta once per
// repetition, outside the timed loop.
//
//   GENPATCH_BENCH_PAIRS=DIR  pairs folder (default ~/.cache/genpatch-bench/pairs)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "builder/diff_encoder.h"
#include "codec/crc32.h"
#include "format/data_stream.h"
#include "platform/platform.h"
#include "release_pairs.h"
#include "ui/host.h"
#include "ui/scripted_host.h"
#include "update/file_operations.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using gp::bench::Quote;
using gp::bench::ReadAll;

// The option word that holds the version-check flag (header offset 0x14).
constexpr size_t kVersionCheckWord = (0x14 - 0x04) / 4;

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A scratch folder per pair under the system's temporary folder, removed at the end.
struct Scratch {
  explicit Scratch(const std::string& name)
      : path(fs::temp_directory_path() / ("gp-bench-patch-" + name)) {
    fs::create_directories(path);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

std::string ProgramPath(const fs::path& host) {
  std::string program;
  return gp::platform::HostToProgramPath(host.string(), &program) ? program : std::string();
}

// Our diff of a pair, encoded once per run (repetitions only repeat the application).
const Bytes& DiffOf(const fs::path& dir, const Bytes& old_file, const Bytes& new_file) {
  static std::map<std::string, Bytes> diffs;
  auto it = diffs.find(dir.string());
  if (it == diffs.end()) {
    it = diffs.emplace(dir.string(),
                       gp::builder::EncodeDiff(old_file, new_file, gp::format::EntryHeader{}))
             .first;
  }
  return it->second;
}

void PatchFileBench(benchmark::State& state, fs::path dir) {
  const std::string name = dir.filename().string();
  Scratch scratch(name);
  const Bytes old_file = ReadAll(dir / "old");
  const Bytes new_file = ReadAll(dir / "new");
  const Bytes& diff = DiffOf(dir, old_file, new_file);
  WriteAll(scratch.path / "diff", diff);
  const std::string old_path = ProgramPath(dir / "old");
  const std::string diff_path = ProgramPath(scratch.path / "diff");
  const std::string target_path = ProgramPath(scratch.path / "target");
  if (old_path.empty() || diff_path.empty() || target_path.empty()) {
    state.SkipWithError("a path has no program form");
    return;
  }
  const uint32_t crc = gp::Crc32Update(0, old_file.data(), static_cast<int64_t>(old_file.size()));

  // The program's state as an update run leaves it: a package with the version check on, and a
  // host that records any message instead of showing it.
  gp::ui::ScriptedHost host;
  gp::RunContext context(host);
  gp::PackageTables& package = context.package;
  package.option_words[kVersionCheckWord] = 1;

  for (auto _ : state) {
    if (!gp::PatchFile(context, old_path.c_str(), target_path.c_str(), crc, diff_path.c_str())) {
      state.SkipWithError("PatchFile failed");
      break;
    }
  }
  if (state.error_occurred()) return;
  if (ReadAll(scratch.path / "target") != new_file) {
    state.SkipWithError("the patched file differs from the new file");
    return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * new_file.size()));
  state.counters["new_bytes"] = static_cast<double>(new_file.size());
  state.counters["diff_bytes"] = static_cast<double>(diff.size());
}

void Xdelta3Decode(benchmark::State& state, fs::path dir) {
  Scratch scratch(dir.filename().string() + "-xdelta3");
  const fs::path delta = scratch.path / "delta";
  const fs::path out = scratch.path / "target";
  const std::string encode = "xdelta3 -e -9 -S none -f -s " + Quote(dir / "old") + " " +
                             Quote(dir / "new") + " " + Quote(delta) + " >/dev/null 2>&1";
  if (std::system(encode.c_str()) != 0) {
    state.SkipWithError("xdelta3 failed or is missing");
    return;
  }
  const std::string decode = "xdelta3 -d -f -s " + Quote(dir / "old") + " " + Quote(delta) + " " +
                             Quote(out) + " >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(decode.c_str()) != 0) {
      state.SkipWithError("xdelta3 -d failed");
      return;
    }
  }
  state.counters["new_bytes"] = static_cast<double>(fs::file_size(dir / "new"));
  state.counters["delta_bytes"] = static_cast<double>(fs::file_size(delta));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<fs::path> pairs = gp::bench::ListPairs("patch_bench");
  for (const fs::path& dir : pairs) {
    const std::string name = dir.filename().string();
    const int iterations = gp::bench::PairIterations(dir);
    benchmark::RegisterBenchmark(("PatchFile/" + name).c_str(), PatchFileBench, dir)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(iterations);
    benchmark::RegisterBenchmark(("Xdelta3Decode/" + name).c_str(), Xdelta3Decode, dir)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(iterations);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
