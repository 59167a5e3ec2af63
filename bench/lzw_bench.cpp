// LZW decoding and encoding against Debian's ncompress (compress/uncompress) on the same data.
//
// Decoding is measured file to file like uncompress (read the compressed file, write the
// decoded one) and in memory. ncompress runs as a process; its start-up (about a millisecond)
// is small against the tens of milliseconds its 16 MiB take.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench_data.h"
#include "codec/lzw_decoder.h"
#include "codec/lzw_encoder.h"
#include "codec/payload_expander.h"
#include "platform/platform.h"

namespace gp::bench {
namespace {

namespace fs = std::filesystem;

std::string ProgramPath(const fs::path& host) {
  std::string program;
  if (!platform::HostToProgramPath(host.string(), &program)) std::abort();
  return program;
}

const std::vector<uint8_t>& Encoded(size_t set, LzwClearPolicy policy) {
  static std::vector<uint8_t> cache[2][2];
  auto& e = cache[set][policy == LzwClearPolicy::kWhenFull ? 0 : 1];
  if (e.empty()) {
    LzwEncodeOptions options;
    options.clear_policy = policy;
    const auto& data = DataSets()[set].bytes;
    LzwEncodePiece(data.data(), data.size(), options, &e);
  }
  return e;
}

class NullSink : public LzwSink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    benchmark::DoNotOptimize(data);
    bytes += size;
    return true;
  }
  size_t bytes = 0;
};

void BM_LzwDecodeMemory(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const auto& piece = Encoded(set, LzwClearPolicy::kWhenFull);
  const auto size = static_cast<int32_t>(DataSets()[set].bytes.size());
  for (auto _ : state) {
    NullSink sink;
    if (LzwDecodeToSink(piece.data() + 4, piece.size() - 4, size, &sink) != 0) std::abort();
    benchmark::DoNotOptimize(sink.bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
  state.SetLabel(DataSets()[set].name);
}

// File to file: the compressed piece file is read and replaced by its decoded contents, as
// the payload expansion does. range(1) is the flush size: how many bytes go to one write.
void BM_LzwDecodeFile(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const auto& piece = Encoded(set, LzwClearPolicy::kWhenFull);
  const fs::path path = ScratchFolder() / "piece.bin";
  const std::string program = ProgramPath(path);
  const auto size = static_cast<int64_t>(DataSets()[set].bytes.size());
  const auto flush = static_cast<size_t>(state.range(1));
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, piece);
    state.ResumeTiming();
    // The same steps as the piece expansion, with the flush size under test.
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    in.close();
    if (LzwDecode(bytes.data() + 4, bytes.size() - 4, static_cast<int32_t>(size),
                  program.c_str(), flush) != 0) {
      std::abort();
    }
  }
  if (FileSize(path) != static_cast<uintmax_t>(size)) std::abort();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
  state.SetLabel(std::string(DataSets()[set].name) + " flush " + std::to_string(flush));
}

void BM_ExpandPieceFile(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const auto& piece = Encoded(set, LzwClearPolicy::kWhenFull);
  const fs::path path = ScratchFolder() / "piece.bin";
  const std::string program = ProgramPath(path);
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, piece);
    state.ResumeTiming();
    if (!ExpandPieceFile(program.c_str())) std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(DataSets()[set].bytes.size()));
  state.SetLabel(DataSets()[set].name);
}

void RunOrAbort(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::abort();
}

// uncompress -c of a file that compress made with -b bits, written to a file.
void BM_NcompressUncompress(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const int bits = static_cast<int>(state.range(1));
  const auto& data = DataSets()[set].bytes;
  const fs::path plain = ScratchFolder() / "plain.bin";
  const fs::path z = ScratchFolder() / ("plain.b" + std::to_string(bits) + ".Z");
  const fs::path out = ScratchFolder() / "uncompressed.bin";
  WriteFile(plain, data);
  RunOrAbort("compress -b" + std::to_string(bits) + " -c '" + plain.string() + "' > '" +
             z.string() + "'");
  const std::string command = "uncompress -c '" + z.string() + "' > '" + out.string() + "'";
  for (auto _ : state) RunOrAbort(command);
  if (FileSize(out) != data.size()) std::abort();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
  state.SetLabel(std::string(DataSets()[set].name) + " -b" + std::to_string(bits));
}

void BM_LzwEncode(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const auto policy =
      state.range(1) == 0 ? LzwClearPolicy::kWhenFull : LzwClearPolicy::kWhenRatioFalls;
  const auto& data = DataSets()[set].bytes;
  LzwEncodeOptions options;
  options.clear_policy = policy;
  size_t compressed = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    LzwEncodePiece(data.data(), data.size(), options, &out);
    compressed = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
  state.counters["out_bytes"] = static_cast<double>(compressed);
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(data.size());
  state.SetLabel(std::string(DataSets()[set].name) +
                 (policy == LzwClearPolicy::kWhenFull ? " clear-when-full" : " clear-on-ratio"));
}

void BM_NcompressCompress(benchmark::State& state) {
  const size_t set = static_cast<size_t>(state.range(0));
  const int bits = static_cast<int>(state.range(1));
  const auto& data = DataSets()[set].bytes;
  const fs::path plain = ScratchFolder() / "plain.bin";
  const fs::path z = ScratchFolder() / "compressed.Z";
  WriteFile(plain, data);
  const std::string command = "compress -b" + std::to_string(bits) + " -c '" + plain.string() +
                              "' > '" + z.string() + "'";
  for (auto _ : state) RunOrAbort(command);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
  state.counters["out_bytes"] = static_cast<double>(FileSize(z));
  state.counters["ratio"] = static_cast<double>(FileSize(z)) / static_cast<double>(data.size());
  state.SetLabel(std::string(DataSets()[set].name) + " -b" + std::to_string(bits));
}

BENCHMARK(BM_LzwDecodeMemory)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwDecodeFile)
    ->ArgsProduct({{0, 1}, {256, 65536, 1 << 20, 4 << 20}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ExpandPieceFile)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NcompressUncompress)
    ->ArgsProduct({{0, 1}, {12, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LzwEncode)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NcompressCompress)
    ->ArgsProduct({{0, 1}, {12, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace gp::bench

BENCHMARK_MAIN();
