#include "codec/address_map.h"

#include <algorithm>

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
  // A total order, so that any sort gives the same map. The adds mostly move forward, so an
  // insertion sort is quick while it stays cheap; past a budget a heap sort takes over (small
  // code, and no quadratic time whatever the control says).
  const auto before = [](const Segment& a, const Segment& b) {
    if (a.old_start != b.old_start) return a.old_start < b.old_start;
    if (a.new_start != b.new_start) return a.new_start < b.new_start;
    return a.length < b.length;
  };
  uint64_t budget = 16 * static_cast<uint64_t>(segments_.size());
  for (size_t i = 1; i < segments_.size() && budget > 0; ++i) {
    const Segment moving = segments_[i];
    size_t j = i;
    for (; j > 0 && budget > 0 && before(moving, segments_[j - 1]); --j, --budget) {
      segments_[j] = segments_[j - 1];
    }
    segments_[j] = moving;
  }
  if (budget == 0) {
    std::make_heap(segments_.begin(), segments_.end(), before);
    std::sort_heap(segments_.begin(), segments_.end(), before);
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
  size_t k = first_[static_cast<size_t>(old_position >> kPageBits)];
  while (k < segments_.size() && segments_[k].old_start + segments_[k].length <= old_position) ++k;
  return k < segments_.size() && segments_[k].old_start <= old_position ? k : kNone;
}

}  // namespace gp::codec
