// The GPD2 coder against GPD1's raw sections on the release pairs of bench/fetch_pairs.sh.
// CompactDecode/<pair> times the in-memory decoding of the GPD2 diff (throughput: new bytes),
// with counters per section: raw_* (GPD1, as stored before the payload's deflate) and coded_*
// (GPD2). With GENPATCH_BENCH_DUMP=DIR each pair's raw sections are also written to
// DIR/<pair>.{control,differences,literals}, for comparison with general compressors
// (xz -9e, bzip2 -9, zstd -19).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builder/compact_diff_apply.h"
#include "builder/compact_diff_encoder.h"
#include "format/compact.h"
#include "release_pairs.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kSectionNames[] = {"control", "differences", "literals"};

void Decode(benchmark::State& state, const fs::path& dir) {
  const Bytes old_file = gp::bench::ReadAll(dir / "old");
  const Bytes new_file = gp::bench::ReadAll(dir / "new");
  const gp::format::EntryHeader entry;
  const Bytes raw = gp::builder::EncodeCompactDiff(old_file, new_file, entry, nullptr, nullptr,
                                                   gp::builder::CompactDiffVersion::kRaw);
  const Bytes coded = gp::builder::EncodeCompactDiff(old_file, new_file, entry, nullptr, nullptr,
                                                     gp::builder::CompactDiffVersion::kCoded);
  Bytes rebuilt;
  for (auto _ : state) {
    if (!gp::builder::ApplyCompactDiff(old_file, coded, &rebuilt) || rebuilt != new_file) {
      state.SkipWithError("the GPD2 diff does not rebuild the new file");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * new_file.size()));
  gp::format::CompactDiffHeader r, c;
  gp::format::ParseCompactDiffHeader(raw.data(), raw.size(), raw.size(), &r);
  gp::format::ParseCompactDiffHeader(coded.data(), coded.size(), coded.size(), &c);
  const char* dump = std::getenv("GENPATCH_BENCH_DUMP");
  for (size_t i = 0; i < gp::format::kCompactSectionCount; ++i) {
    state.counters[std::string("raw_") + kSectionNames[i]] = static_cast<double>(r.length[i]);
    state.counters[std::string("coded_") + kSectionNames[i]] = static_cast<double>(c.length[i]);
    if (dump != nullptr) {
      std::ofstream out(fs::path(dump) / (dir.filename().string() + "." + kSectionNames[i]),
                        std::ios::binary);
      out.write(reinterpret_cast<const char*>(raw.data() + r.offset[i]),
                static_cast<std::streamsize>(r.length[i]));
    }
  }
  state.counters["raw_bytes"] = static_cast<double>(raw.size());
  state.counters["coded_bytes"] = static_cast<double>(coded.size());
}

}  // namespace

int main(int argc, char** argv) {
  for (const fs::path& dir : gp::bench::ListPairs("compact_coder_bench")) {
    benchmark::RegisterBenchmark(("CompactDecode/" + dir.filename().string()).c_str(), Decode, dir)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(gp::bench::PairIterations(dir));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
