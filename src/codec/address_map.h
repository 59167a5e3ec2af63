// Where a diff's adds put the old file's bytes in the new file: the map by which the x86
// address prediction (codec/x86_filter.h, X86PredictBlock) moves the targets of the old file's
// calls, jumps and [rip + disp32] references to where they are in the new file.
//
// The map is made of the diff's adds taken in their order (old start, new start, length): only
// adds of at least kMinLength bytes, and only the first kMaxSegments of those. Finish orders
// them by old start (equal starts in the adds' order); where one overlaps those before it in
// that order, its overlapping front is cut off (a segment inside them goes). Positions outside
// every segment have no new position.
// Encoder and program build it alike from the same control, so both predict the same bytes.
//
// Memory: 24 bytes a segment (at most 12 MiB, twice that while the vector grows or is sorted)
// and 4 bytes for every 4 KiB of the old file (the index that finds a position's segment).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/compact.h"

namespace gp::codec {

class AddressMap {
 public:
  static constexpr uint64_t kMinLength = 16;
  static constexpr size_t kMaxSegments = size_t{1} << 19;

  // One add of the diff, in the control's order: length bytes from old_start appended at
  // new_start. False once the map is full (the adds after it are not part of the map).
  bool Add(uint64_t old_start, uint64_t new_start, uint64_t length);
  // Room for that many adds (fewer copies while the map grows); optional.
  void Reserve(size_t adds);
  // Orders the segments, cuts their overlaps and
  // indexes them over an old file of old_size bytes (what lies beyond it is cut too).
  void Finish(uint64_t old_size);

  static constexpr size_t kNone = ~size_t{0};
  // The segment that holds an old position, or kNone.
  size_t Find(uint64_t old_position) const;
  // Whether segment k (or kNone) holds an old position, and where it puts a position it holds.
  bool Holds(size_t k, uint64_t old_position) const {
    return k != kNone && old_position - segments_[k].old_start < segments_[k].length;
  }
  uint64_t Moved(size_t k, uint64_t old_position) const {
    return segments_[k].new_start + (old_position - segments_[k].old_start);
  }
  // The new position of an old one; false when no segment holds it.
  bool Map(uint64_t old_position, uint64_t* new_position) const {
    const size_t k = Find(old_position);
    if (k == kNone) return false;
    *new_position = Moved(k, old_position);
    return true;
  }

 private:
  struct Segment {
    uint64_t old_start = 0;
    uint64_t new_start = 0;
    uint64_t length = 0;
  };
  static constexpr int kPageBits = 12;
  static constexpr int kRadixBits = 11;

  std::vector<Segment> segments_;
  std::vector<uint32_t> first_;  // per 4 KiB page: the first segment that ends beyond its start
  uint64_t old_size_ = 0;
  bool full_ = false;
};

// The adds of a raw control section (format/compact.h) into map, which it finishes; control
// reads the section (bool ReadVarint(uint64_t*), uint64_t remaining()). False on damage.
template <class Control>
bool CollectRawAdds(Control& control, uint64_t old_size, uint64_t new_size, AddressMap* map) {
  format::RawControl steps(old_size, new_size);
  while (control.remaining() > 0) {
    uint64_t add = 0;
    uint64_t literal = 0;
    uint64_t seek = 0;
    if (!format::ReadRawTriple(control, &add, &literal, &seek)) return false;
    const uint64_t from = steps.position();
    const uint64_t to = steps.written();
    if (!steps.Take(add, literal) || !steps.Seek(seek)) return false;
    if (!map->Add(from, to, add)) break;
  }
  map->Finish(old_size);
  return true;
}

}  // namespace gp::codec
