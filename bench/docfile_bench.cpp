// Reading a 100 MB stream of a compound file through DocfileAccess, against reading the same
// bytes from a plain file through the platform's File, both in the 16 MiB pieces that the
// update uses when it copies a stream out of the work docfile. Goal: within 1.5x.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cfb/cfb_writer.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"

namespace {

constexpr uint64_t kStreamSize = 100ull << 20;
constexpr uint32_t kPiece = 16u << 20;

void Fill(uint64_t offset, uint8_t* out, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((offset + i) * 2654435761u >> 24);
}

struct Files {
  std::filesystem::path folder;
  std::string docfile;  // program paths
  std::string plain;
  bool ok = false;

  Files() {
    folder = std::filesystem::temp_directory_path() / "gp-docfile-bench";
    std::filesystem::create_directories(folder);
    const auto doc_host = folder / "work.cfb";
    const auto plain_host = folder / "plain.bin";
    gp::cfb::CompoundFileWriter writer;
    int s1 = 0, s2 = 0;
    writer.AddStorage(gp::cfb::CompoundFileWriter::kRoot, u"1", &s1);
    writer.AddStorage(s1, u"_", &s2);
    writer.AddStream(s2, u"0.dif", kStreamSize, [](uint64_t offset, uint8_t* out, size_t n) {
      Fill(offset, out, n);
      return true;
    });
    std::ofstream doc(doc_host, std::ios::binary | std::ios::trunc);
    const bool written =
        writer.Write([&doc](const uint8_t* data, size_t n) {
          doc.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
          return static_cast<bool>(doc);
        }) == gp::cfb::Status::kOk;
    doc.close();
    std::ofstream plain_out(plain_host, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> chunk(1 << 20);
    for (uint64_t offset = 0; offset < kStreamSize; offset += chunk.size()) {
      Fill(offset, chunk.data(), chunk.size());
      plain_out.write(reinterpret_cast<const char*>(chunk.data()),
                      static_cast<std::streamsize>(chunk.size()));
    }
    plain_out.close();
    ok = written && gp::platform::HostToProgramPath(doc_host.string(), &docfile) &&
         gp::platform::HostToProgramPath(plain_host.string(), &plain);
  }
  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

Files& TestFiles() {
  static Files files;
  return files;
}

void BM_DocfileAccessStream(benchmark::State& state) {
  Files& files = TestFiles();
  if (!files.ok) {
    state.SkipWithError("cannot make the test files");
    return;
  }
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    gp::DocfileAccess access;
    if (!access.OpenDocfile(files.docfile.c_str()) || !access.OpenStreamByPath("1\\_\\0.dif")) {
      state.SkipWithError("cannot open the stream");
      return;
    }
    uint64_t total = 0;
    for (uint32_t n; (n = access.Read(buffer.data(), kPiece)) != 0;) total += n;
    access.CloseStream();
    if (total != kStreamSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamSize));
}
BENCHMARK(BM_DocfileAccessStream)->Unit(benchmark::kMillisecond);

void BM_PlainFile(benchmark::State& state) {
  Files& files = TestFiles();
  if (!files.ok) {
    state.SkipWithError("cannot make the test files");
    return;
  }
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    gp::platform::File file;
    if (!file.Open(files.plain.c_str(), gp::platform::kAccessRead, gp::platform::kShareNone,
                   gp::platform::Disposition::kOpenExisting)) {
      state.SkipWithError("cannot open the plain file");
      return;
    }
    uint64_t total = 0;
    uint32_t n = 0;
    while (file.Read(buffer.data(), kPiece, &n) && n != 0) total += n;
    if (total != kStreamSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamSize));
}
BENCHMARK(BM_PlainFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
