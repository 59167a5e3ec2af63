#include "codec/payload_expander.h"

#include <algorithm>
#include <cstring>

#include "base/endian.h"
#include "codec/lzw_decoder.h"
#include "codec/payload_format.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr uint32_t kTempFolderLimit = 256;
constexpr size_t kPathBuffer = 260;
// Buffer for appending an expanded piece to the output.
constexpr uint32_t kAppendBuffer = 1u << 20;

// A buffer of size bytes (at least one); false when it cannot be had (also when size does not
// fit the address space).
bool Allocate(uint64_t size, platform::WorkBuffer* buffer) {
  if (size > SIZE_MAX / 2) return false;
  return buffer->Allocate(static_cast<size_t>(std::max<uint64_t>(size, 1)));
}

bool WriteWholeFile(const char* path, const uint8_t* data, uint64_t size) {
  platform::File file;
  if (!file.Open(path, platform::kAccessWrite, platform::kShareNone,
                 platform::Disposition::kCreateAlways, platform::Hint::kSequentialScan)) {
    return false;
  }
  return platform::WriteAll(file, data, size);
}

// Appends the whole file at path to output.
bool AppendFile(const char* path, platform::File* output) {
  platform::File file;
  if (!file.Open(path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan)) {
    return false;
  }
  uint64_t size = 0;
  if (!file.Size(&size)) return false;
  const auto buffer_size = static_cast<uint32_t>(std::min<uint64_t>(size, kAppendBuffer));
  platform::WorkBuffer buffer;
  if (!Allocate(buffer_size, &buffer)) return false;
  while (size > 0) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(size, buffer_size));
    if (!platform::ReadExact(file, buffer.data(), n) ||
        !platform::WriteAll(*output, buffer.data(), n)) {
      return false;
    }
    size -= n;
  }
  return true;
}

// Walks the container's pieces and appends each one, decoded, to the output file. Every
// count and length is checked against the input's size before anything is allocated for it.
bool ExpandPieces(const char* input_path, const char* scratch_path, const char* output_path) {
  platform::File input;
  if (!input.Open(input_path, platform::kAccessRead, platform::kShareRead,
                  platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan)) {
    return false;
  }
  platform::File output;
  if (!output.Open(output_path, platform::kAccessWrite, platform::kShareWrite,
                   platform::Disposition::kCreateAlways, platform::Hint::kSequentialScan)) {
    return false;
  }
  uint64_t input_size = 0;
  if (!input.Size(&input_size) || input_size < payload::kPiecesOffset) return false;
  uint8_t count_bytes[4];
  if (!input.Seek(payload::kPieceCountOffset, platform::Origin::kBegin) ||
      !platform::ReadExact(input, count_bytes, sizeof(count_bytes))) {
    return false;
  }
  const auto count = static_cast<int32_t>(LoadU32(count_bytes));
  if (count <= 0) return true;
  uint64_t remaining = input_size - payload::kPiecesOffset;
  if (static_cast<uint64_t>(count) > remaining / payload::kPieceHeaderSize) return false;

  for (int32_t piece = 0; piece < count; ++piece) {
    uint8_t header[payload::kPieceHeaderSize];
    if (remaining < sizeof(header) || !platform::ReadExact(input, header, sizeof(header))) return false;
    remaining -= sizeof(header);
    const uint8_t method = header[payload::kPieceMethodOffset];
    const uint32_t length = LoadU32(header + payload::kPieceLengthOffset);
    if (length > remaining) return false;
    platform::WorkBuffer data;
    if (!Allocate(length, &data) || !platform::ReadExact(input, data.data(), length)) return false;
    remaining -= length;

    if (method == payload::kMethodCompressed) {
      // The piece goes through the scratch file, which the decoder rewrites with its output.
      if (!WriteWholeFile(scratch_path, data.data(), length)) return false;
      data.Release();
      if (!ExpandPieceFile(scratch_path) || !AppendFile(scratch_path, &output)) return false;
    } else {
      // A stored piece is copied unchanged; a trip through the scratch file would not alter it.
      if (!platform::WriteAll(output, data.data(), length)) return false;
    }
  }
  return true;
}

}  // namespace

bool ExpandPieceFile(const char* path) {
  if (path == nullptr) return false;
  platform::WorkBuffer blocks;
  uint64_t blocks_size = 0;
  int32_t declared = 0;
  {
    platform::File file;
    if (!file.Open(path, platform::kAccessRead, platform::kShareRead,
                   platform::Disposition::kOpenExisting)) {
      return false;
    }
    uint64_t size = 0;
    uint8_t declared_bytes[payload::kDeclaredSizeSize];
    if (!file.Size(&size) || size < payload::kBlocksOffset ||
        !platform::ReadExact(file, declared_bytes, sizeof(declared_bytes))) {
      return false;
    }
    declared = static_cast<int32_t>(LoadU32(declared_bytes));
    blocks_size = size - payload::kBlocksOffset;
    if (!Allocate(blocks_size, &blocks) ||
        !platform::ReadExact(file, blocks.data(), blocks_size)) {
      return false;
    }
  }
  return LzwDecode(blocks.data(), static_cast<size_t>(blocks_size), declared, path) == kLzwDone;
}

int ExpandPayload(const char* input_path, OwnedString* result_name, int keep_input) {
  if (input_path == nullptr) return 0;
  char folder[kPathBuffer] = {};
  const uint32_t folder_length = platform::TempFolder(folder, kTempFolderLimit);
  if (folder_length == 0 || folder_length >= kTempFolderLimit) return 0;
  char scratch[kPathBuffer] = {};
  char output[kPathBuffer] = {};
  if (platform::MakeTempFileName(folder, "pzw", 0, scratch) == 0) return 0;
  if (platform::MakeTempFileName(folder, "dif", 0, output) == 0) {
    ForceDeleteFile(scratch);
    return 0;
  }

  const bool expanded = ExpandPieces(input_path, scratch, output);
  ForceDeleteFile(scratch);
  if (!expanded) {
    ForceDeleteFile(output);
    return 0;
  }
  if (keep_input != 0) {
    if (result_name != nullptr) result_name->Assign(output);
    return 1;
  }
  // The new file takes the input's place. When the input cannot be removed, the move fails
  // and the input stays as it was.
  ForceDeleteFile(input_path);
  if (!platform::RenameFile(output, input_path)) {
    ForceDeleteFile(output);
    return 0;
  }
  return 1;
}

}  // namespace gp
