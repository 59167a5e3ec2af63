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
#include "patch_scratch.h"

namespace {

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
  static Scratch scratch("gp-patch-fuzz-");
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
