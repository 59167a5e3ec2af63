// Payload extraction of a 100 MB package, split by stage: copying the payload out of the
// package executable (1 MiB blocks), expanding the LZW container into the work docfile, and
// opening the docfile with its options stream. The whole extraction is measured too.
// Goal: expansion dominates; the copy runs at disk speed (compare with a plain file copy).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "builder/package_writer.h"
#include "codec/payload_expander.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/owned_string.h"
#include "storage/work_docfile.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kContent = 100ull << 20;

// Program-like bytes: repeated code with small variations compresses about as real binaries do.
void Fill(uint64_t offset, uint8_t* out, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint64_t p = offset + i;
    const uint64_t x = (p / 64) * 2654435761u;
    out[i] = static_cast<uint8_t>((p % 64 < 48) ? "mov eax, [ebx+ecx*4+0x10]; call sub_"[p % 37]
                                                  : (x >> 13) & 0xFF);
  }
}

std::string Program(const fs::path& host) {
  std::string program;
  gp::platform::HostToProgramPath(host.string(), &program);
  return program;
}

struct Fixture {
  fs::path folder = fs::temp_directory_path() / "gp-extraction-bench";
  fs::path package = folder / "package.exe";
  fs::path payload = folder / "payload.bin";  // the payload alone, as the copy step makes it
  bool ok = false;

  Fixture() {
    fs::create_directories(folder);
    gp::platform::SetEnvironment("GENPATCH_TEMP_DIR", folder.string().c_str());
    gp::builder::PackageDescription desc;
    desc.header.caption = "bench";
    desc.header.generations = {{"g0", "", {}}, {"g1", "", {}}};
    desc.options = gp::builder::DefaultOptionsTexts();
    gp::builder::DocfileStream stream;
    stream.path = "1\\_\\0.";
    stream.size = kContent;
    stream.source = [](uint64_t offset, uint8_t* out, size_t size) {
      Fill(offset, out, size);
      return true;
    };
    desc.streams.push_back(stream);
    desc.stub = folder / "stub.bin";
    std::ofstream(desc.stub, std::ios::binary) << std::string(65536, '\x90');
    gp::builder::PackageSizes sizes;
    ok = gp::builder::WritePackage(desc, package, &sizes).empty();
    // The payload range of the package, for the expansion stage alone.
    std::ifstream in(package, std::ios::binary);
    std::ofstream out(payload, std::ios::binary | std::ios::trunc);
    in.seekg(static_cast<std::streamoff>(sizes.program));
    std::vector<char> buffer(1 << 20);
    for (uint64_t left = sizes.payload; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
      in.read(buffer.data(), static_cast<std::streamsize>(n));
      out.write(buffer.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
  }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

void Cleanup(gp::RunContext& context) {
  gp::ReleasePackageTables(context);
  if (!context.work_docfile.path.empty()) gp::RemoveWorkDocfile(context.work_docfile);
  gp::ReplayFolderJournal(context.journal);
  context.work_docfile.Reset();
  context.package.Reset();
}

// The copy stage's peer: the same bytes through a plain stream copy.
void BM_PlainCopy(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    fs::copy_file(f.payload, f.folder / "copy.bin", fs::copy_options::overwrite_existing);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(f.payload)));
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExpandPayload(benchmark::State& state) {
  Fixture& f = Data();
  const std::string input = Program(f.payload);
  for (auto _ : state) {
    gp::OwnedString result;
    if (gp::ExpandPayload(input.c_str(), &result, 1) == 0) state.SkipWithError("expansion failed");
    state.PauseTiming();
    gp::ForceDeleteFile(result.c_str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kContent));
}
BENCHMARK(BM_ExpandPayload)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeExtraction(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) state.SkipWithError("no package");
  const std::string package = Program(f.package);
  const std::unique_ptr<gp::ui::Host> host = gp::ui::NewDefaultHost();
  gp::RunContext context(*host);
  for (auto _ : state) {
    gp::AllocateTextBuffers(context.package);
    gp::OpenFolderJournal(context.journal);
    gp::ReadPackageHeader(context, package.c_str(), false);
    if (!gp::ExtractPayloadFrom(context, nullptr, package.c_str())) {
      state.SkipWithError("extraction failed");
    }
    state.PauseTiming();
    Cleanup(context);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kContent));
}
BENCHMARK(BM_WholeExtraction)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenDocfileAndOptions(benchmark::State& state) {
  Fixture& f = Data();
  gp::OwnedString docfile;
  gp::ExpandPayload(Program(f.payload).c_str(), &docfile, 1);
  for (auto _ : state) {
    gp::DocfileAccess access;
    if (!access.OpenDocfile(docfile.c_str()) || !access.OpenStreamByPath("0\\DiffOption2.dat")) {
      state.SkipWithError("open failed");
    }
    uint8_t text[256];
    for (int i = 0; i < 6; ++i) {
      uint8_t n = 0;
      access.Read(&n, 1);
      access.Read(text, n);
    }
    access.CloseStream();
  }
  gp::ForceDeleteFile(docfile.c_str());
}
BENCHMARK(BM_OpenDocfileAndOptions)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
