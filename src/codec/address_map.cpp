#include "codec/address_map.h"

#include <algorithm>
#include <bit>

namespace gp::codec {

bool AddressMap::Add(uint64_t old_start, uint64_t new_start, uint64_t length) {
  if (full_) return false;
  if (length < kMinLength) return true;
  if (segments_.size() == kMaxSegments) {
    full_ = true;
    return false;
  }
  segments_.push_back({old_start, new_start, length});
  return true;
}

void AddressMap::Reserve(size_t adds) { segments_.reserve(std::min(adds, kMaxSegments)); }

void AddressMap::Finish(uint64_t old_size) {
  old_size_ = old_size;
  // What starts beyond the old file goes; the rest is ordered by old start with a stable radix
  // sort (equal starts keep the adds' order), 11 bits a pass over the bits the old size needs:
  // linear time whatever the control says.
  std::erase_if(segments_, [old_size](const Segment& s) { return s.old_start >= old_size; });
  std::vector<Segment> sorted(segments_.size());
  const int bits = std::bit_width(old_size);
  for (int shift = 0; shift < bits; shift += kRadixBits) {
    uint32_t starts[(1u << kRadixBits) + 1] = {};
    const auto digit = [shift](const Segment& s) {
      return static_cast<size_t>((s.old_start >> shift) & ((1u << kRadixBits) - 1));
    };
    for (const Segment& s : segments_) ++starts[digit(s) + 1];
    for (size_t d = 1; d <= (1u << kRadixBits); ++d) starts[d] += starts[d - 1];
    for (const Segment& s : segments_) sorted[starts[digit(s)]++] = s;
    segments_.swap(sorted);
  }
  // Cut overlaps and whatever lies beyond the old file, in place.
  size_t kept = 0;
  uint64_t end = 0;
  for (Segment s : segments_) {
    if (s.old_start >= old_size) break;
    if (s.length > old_size - s.old_start) s.length = old_size - s.old_start;
    if (s.old_start < end) {
      const uint64_t cut = end - s.old_start;
      if (cut >= s.length) continue;
      s.old_start += cut;
      s.new_start += cut;
      s.length -= cut;
    }
    segments_[kept++] = s;
    end = s.old_start + s.length;
  }
  segments_.resize(kept);
  first_.assign(static_cast<size_t>((old_size >> kPageBits) + 1), 0);
  size_t k = 0;
  for (size_t page = 0; page < first_.size(); ++page) {
    const uint64_t start = static_cast<uint64_t>(page) << kPageBits;
    while (k < segments_.size() && segments_[k].old_start + segments_[k].length <= start) ++k;
    first_[page] = static_cast<uint32_t>(k);
  }
}

size_t AddressMap::Find(uint64_t old_position) const {
  if (old_position >= old_size_) return kNone;
  // Among the segments that reach into the position's page, the first that ends after it.
  const size_t page = static_cast<size_t>(old_position >> kPageBits);
  size_t low = first_[page];
  size_t high = page + 1 < first_.size() ? first_[page + 1] + 1 : segments_.size();
  if (high > segments_.size()) high = segments_.size();
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    if (segments_[mid].old_start + segments_[mid].length <= old_position) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low < segments_.size() && segments_[low].old_start <= old_position ? low : kNone;
}

}  // namespace gp::codec
