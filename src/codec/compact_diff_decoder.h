// Decodes a GPD2 diff (format/compact.h): the three coded sections read side by side, the new
// file written front to back. Shared by the package program (update/compact_patch.cpp, sections
// read from the diff file) and the in-memory reference (builder/compact_diff_apply.cpp). Every
// number is checked against the old size, the new size and the position before use; a section
// that ends early or has bytes left over is damage.
// Memory: the models (about 3.7 MiB) and two 32 KiB work buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/range_coder.h"

namespace gp::codec {

// The literal section's first byte.
inline constexpr uint8_t kStoredLiterals = 0;  // the literal bytes follow as they are
inline constexpr uint8_t kCodedLiterals = 1;   // they are coded

struct CompactDiffIo {
  CoderInput* control = nullptr;
  CoderInput* differences = nullptr;
  CoderInput* literals = nullptr;
  uint64_t old_size = 0;
  uint64_t new_size = 0;
  void* owner = nullptr;
  // n bytes of the old file from position into out.
  bool (*read_old)(void* owner, uint64_t position, uint8_t* out, size_t n) = nullptr;
  bool (*write)(void* owner, const uint8_t* data, size_t n) = nullptr;
  void (*tick)() = nullptr;  // once a command, may be null
};

// False on damage or a failed read or write.
bool DecodeCompactDiff(const CompactDiffIo& io);

class AddressMap;
class ControlModel;

// The coded control section a triple at a time, each checked against the old size, the new
// size and the old position before it is handed out.
class CodedControl {
 public:
  struct Triple {
    uint64_t old_start = 0;  // where the add starts in the old file
    uint64_t new_start = 0;  // and in the new one
    uint64_t add = 0;
    uint64_t literal = 0;
  };
  CodedControl(ControlModel& model, CoderInput* input, uint64_t old_size, uint64_t new_size);
  bool done() const { return written_ >= new_size_; }
  // False on damage.
  bool Next(Triple* t);

 private:
  ControlModel& model_;
  CoderInput* input_;
  BitDecoder decoder_;
  uint64_t old_size_;
  uint64_t new_size_;
  uint64_t position_ = 0;
  uint64_t written_ = 0;
  uint64_t previous_literal_ = 0;
};

// The adds of a coded control section into map, which it finishes (GPD6: the map is made
// before the diff is decoded, from a second reading of the section). False on damage.
bool CollectCodedAdds(CoderInput* input, uint64_t old_size, uint64_t new_size, AddressMap* map);

}  // namespace gp::codec
