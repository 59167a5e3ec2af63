// Diff files from a package, applied to a small old file: every command is bounded by the
// diff and the old file, and a rebuilt file is exactly as long as the diff's commands say.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "codec/crc32.h"
#include "format/data_stream.h"
#include "format/header_layout.h"
#include "platform/platform.h"
#include "ui/scripted_host.h"
#include "update/file_operations.h"
#include "update/run_context.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kOldSize = 256;

struct Scratch {
  fs::path folder;
  std::string old_path, diff_path, target_path;
  fs::path target_host;
  uint32_t old_crc = 0;
  bool ready = false;
  gp::ui::ScriptedHost host;
  gp::RunContext context{host};

  Scratch() {
    std::random_device seed;
    folder = fs::temp_directory_path() / ("gp-patch-fuzz-" + std::to_string(seed()));
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return;
    std::vector<uint8_t> old(kOldSize);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    std::ofstream(folder / "old.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), static_cast<std::streamsize>(old.size()));
    old_crc = gp::Crc32Update(0, old.data(), static_cast<int64_t>(old.size()));
    target_host = folder / "target.bin";
    ready = gp::platform::HostToProgramPath((folder / "old.bin").string(), &old_path) &&
            gp::platform::HostToProgramPath((folder / "diff.bin").string(), &diff_path) &&
            gp::platform::HostToProgramPath(target_host.string(), &target_path);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

// The length of the file the diff's commands build, read with the format's decoder; false when
// the diff ends inside a command.
bool CommandedLength(const uint8_t* data, size_t size, uint64_t* length) {
  gp::ByteReader reader(data, size);
  if (!reader.Skip(gp::format::kEntryHeaderSize)) return false;
  *length = 0;
  while (!reader.empty()) {
    uint16_t word = 0;
    const uint8_t* operands = nullptr;
    if (!reader.ReadU16(&word)) return false;
    const gp::format::CommandWord command = gp::format::DecodeCommandWord(word);
    if (!reader.ReadView(command.operand_size, &operands)) return false;
    uint32_t offset = 0;
    uint32_t copied = command.length;
    if (command.kind != gp::format::CommandKind::kLiteral) {
      gp::format::DecodeCopyOperands(command, operands, &offset, &copied);
    }
    *length += copied;
  }
  return true;
}

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  Scratch& scratch = TheScratch();
  if (!scratch.ready) return 0;
  gp::PackageTables& p = scratch.context.package;
  p.Reset();
  if (!gp::AllocateTextBuffers(p)) return 0;
  p.option_words[(gp::layout::kVersionCheckFlag - gp::layout::kOptionWordsStart) / 4] = 1;
  {
    std::ofstream diff(fs::path(scratch.folder / "diff.bin"), std::ios::binary | std::ios::trunc);
    diff.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const bool ok =
      gp::PatchFile(scratch.context, scratch.old_path.c_str(), scratch.target_path.c_str(),
                    scratch.old_crc, scratch.diff_path.c_str());
  std::error_code ec;
  const uintmax_t written = fs::file_size(scratch.target_host, ec);
  uint64_t commanded = 0;
  if (ok && !ec && (!CommandedLength(data, size, &commanded) || written != commanded)) {
    __builtin_trap();
  }
  fs::remove(scratch.target_host, ec);
  p.Reset();
  return 0;
}
