// CRC-32 throughput: this program's checksum (each variant) against zlib's crc32 and
// libdeflate's libdeflate_crc32 on the same buffers. zlib and libdeflate compute the common
// CRC-32 (inverted start and end); the work per byte is the same.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "codec/crc32.h"

namespace {

const std::vector<uint8_t>& Buffer() {
  static const std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> b((64u << 20) + 64);
    std::mt19937 rng(1);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  }();
  return buffer;
}

template <typename F>
void Run(benchmark::State& state, F f) {
  const auto size = static_cast<size_t>(state.range(0));
  const uint8_t* data = Buffer().data() + 1;  // unaligned, as file buffers may be
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = f(crc, data, size);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Crc32Update(benchmark::State& state) {
  Run(state, [](uint32_t c, const uint8_t* d, size_t n) {
    return gp::Crc32Update(c, d, static_cast<int64_t>(n));
  });
}
void BM_Crc32Slicing16(benchmark::State& state) { Run(state, gp::crc32::UpdateSlicing16); }
void BM_Crc32Bytewise(benchmark::State& state) { Run(state, gp::crc32::UpdateBytewise); }
void BM_Crc32Clmul(benchmark::State& state) {
  if (!gp::crc32::ClmulAvailable()) {
    state.SkipWithError("no PCLMULQDQ");
    return;
  }
  Run(state, gp::crc32::UpdateClmul);
}
void BM_ZlibCrc32(benchmark::State& state) {
  Run(state, [](uint32_t c, const uint8_t* d, size_t n) {
    return static_cast<uint32_t>(crc32(c, d, static_cast<uInt>(n)));
  });
}
void BM_LibdeflateCrc32(benchmark::State& state) {
  Run(state, [](uint32_t c, const uint8_t* d, size_t n) { return libdeflate_crc32(c, d, n); });
}

// 4 KiB (small files), 4 MiB (one checksum chunk, in cache), 64 MiB (from memory).
#define GP_CRC_SIZES ->Arg(4096)->Arg(4 << 20)->Arg(64 << 20)
BENCHMARK(BM_Crc32Update) GP_CRC_SIZES;
BENCHMARK(BM_Crc32Clmul) GP_CRC_SIZES;
BENCHMARK(BM_Crc32Slicing16) GP_CRC_SIZES;
BENCHMARK(BM_Crc32Bytewise)->Arg(4 << 20);
BENCHMARK(BM_ZlibCrc32) GP_CRC_SIZES;
BENCHMARK(BM_LibdeflateCrc32) GP_CRC_SIZES;

}  // namespace

BENCHMARK_MAIN();
