// Diff encoder over real pairs of consecutive program releases (bench/fetch_pairs.sh puts them
// in a cache outside the repository), with xdelta3 and bsdiff encoding the same pairs in the
// same run. Counters: new_bytes, diff_bytes (raw diff), lzw_bytes (the diff as the package
// stores it: LZW with a clear code whenever the dictionary fills), lzw_rf_bytes (LZW clearing
// only when the ratio falls), delta_bytes for the peers. Times are wall-clock.
//
//   GENPATCH_BENCH_PAIRS=DIR  pairs folder (default ~/.cache/genpatch-bench/pairs)
//   GENPATCH_BENCH_BSDIFF_MAX=BYTES  skip bsdiff above this new-file size (default 32 MiB)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builder/diff_apply.h"
#include "builder/diff_encoder.h"
#include "codec/lzw_encoder.h"
#include "format/data_stream.h"
#include "release_pairs.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using gp::bench::Quote;
using gp::bench::ReadAll;

uint64_t BsdiffMax() {
  const char* env = std::getenv("GENPATCH_BENCH_BSDIFF_MAX");
  return env ? std::strtoull(env, nullptr, 0) : (uint64_t{32} << 20);
}

size_t LzwSize(const Bytes& data, gp::LzwClearPolicy policy) {
  gp::LzwEncodeOptions options;
  options.clear_policy = policy;
  Bytes out;
  gp::LzwEncodeBlocks(data.data(), data.size(), options, &out);
  return out.size();
}

void Encode(benchmark::State& state, fs::path dir) {
  Bytes old_file = ReadAll(dir / "old");
  Bytes new_file = ReadAll(dir / "new");
  gp::format::EntryHeader header;
  Bytes diff;
  for (auto _ : state) {
    diff = gp::builder::EncodeDiff(old_file, new_file, header);
    benchmark::DoNotOptimize(diff.data());
  }
  Bytes rebuilt;
  if (gp::builder::ApplyDiff(old_file, diff, &rebuilt) != gp::builder::DiffStatus::kOk ||
      rebuilt != new_file) {
    state.SkipWithError("the diff does not rebuild the new file");
    return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * new_file.size()));
  state.counters["new_bytes"] = static_cast<double>(new_file.size());
  state.counters["diff_bytes"] = static_cast<double>(diff.size());
  state.counters["lzw_bytes"] = static_cast<double>(LzwSize(diff, gp::LzwClearPolicy::kWhenFull));
  state.counters["lzw_rf_bytes"] =
      static_cast<double>(LzwSize(diff, gp::LzwClearPolicy::kWhenRatioFalls));
}

// Runs an external encoder once per iteration and reports the size of what it wrote.
void Peer(benchmark::State& state, fs::path dir, std::string tool) {
  fs::path out = fs::temp_directory_path() / ("genpatch-bench-" + tool + "-" +
                                              dir.filename().string());
  std::string command;
  if (tool == "xdelta3") {
    command = "xdelta3 -e -9 -S none -f -s " + Quote(dir / "old") + " " + Quote(dir / "new") +
              " " + Quote(out);
  } else {
    if (fs::file_size(dir / "new") > BsdiffMax()) {
      state.SkipWithError("bsdiff skipped above GENPATCH_BENCH_BSDIFF_MAX");
      return;
    }
    command = "bsdiff " + Quote(dir / "old") + " " + Quote(dir / "new") + " " + Quote(out);
  }
  command += " >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError((tool + " failed or is missing").c_str());
      return;
    }
  }
  state.counters["new_bytes"] = static_cast<double>(fs::file_size(dir / "new"));
  state.counters["delta_bytes"] = static_cast<double>(fs::file_size(out));
  std::error_code ignored;
  fs::remove(out, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<fs::path> pairs = gp::bench::ListPairs("diff_bench");
  for (const fs::path& dir : pairs) {
    const std::string name = dir.filename().string();
    const int iterations = gp::bench::PairIterations(dir);
    benchmark::RegisterBenchmark(("DiffEncode/" + name).c_str(), Encode, dir)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(iterations);
    benchmark::RegisterBenchmark(("Xdelta3/" + name).c_str(), Peer, dir, std::string("xdelta3"))
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(iterations);
    benchmark::RegisterBenchmark(("Bsdiff/" + name).c_str(), Peer, dir, std::string("bsdiff"))
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
