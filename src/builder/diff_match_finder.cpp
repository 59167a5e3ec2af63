#include "builder/diff_match_finder.h"

#include <algorithm>
#include <bit>

#include "base/endian.h"

namespace gp::builder {

size_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (limit - n >= 8) {
    uint64_t x = LoadU64(a + n) ^ LoadU64(b + n);
    if (x != 0) return n + static_cast<size_t>(std::countr_zero(x) / 8);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

MatchFinder::MatchFinder(std::span<const uint8_t> old_file, Limits limits)
    : old_(old_file.data()),
      indexed_(std::min<size_t>(old_file.size(), 0xFFFFFFFEu)),
      limits_(limits) {
  if (indexed_ < kMatchKeyBytes) return;
  const size_t keys = indexed_ - kMatchKeyBytes + 1;
  // Head table: a power of two no larger than the number of keys, between 2^10 and 2^24.
  int bits = std::clamp(static_cast<int>(std::bit_width(keys)) - 1, 10, 24);
  hash_shift_ = 64 - bits;
  head_.assign(size_t{1} << bits, kNone);
  prev_.resize(keys);
  for (size_t i = 0; i < keys; ++i) {
    // Inside a stretch with a period of 1 to 4 bytes (padding, fill patterns) only the first
    // positions go into the chains: a search that lands there extends through the whole stretch,
    // and thousands of equal keys would otherwise crowd every other candidate out.
    if (i >= 4) {
      uint64_t key = LoadU64(old_ + i);
      if (key == LoadU64(old_ + i - 1) || key == LoadU64(old_ + i - 2) ||
          key == LoadU64(old_ + i - 3) || key == LoadU64(old_ + i - 4)) {
        prev_[i] = kNone;
        continue;
      }
    }
    uint32_t h = Hash(old_ + i);
    prev_[i] = head_[h];
    head_[h] = static_cast<uint32_t>(i);
  }
}

uint32_t MatchFinder::Hash(const uint8_t* p) const {
  return static_cast<uint32_t>((LoadU64(p) * 0x9E3779B97F4A7C15ull) >> hash_shift_);
}

uint32_t MatchFinder::LengthAt(uint32_t offset, const uint8_t* data, size_t available) const {
  if (offset >= indexed_) return 0;
  size_t limit = std::min<size_t>(available, indexed_ - offset);
  return static_cast<uint32_t>(CommonPrefixLength(old_ + offset, data, limit));
}

Match MatchFinder::Find(const uint8_t* data, size_t available) const {
  Match best;
  if (head_.empty() || available < kMatchKeyBytes) return best;
  const uint64_t key = LoadU64(data);
  uint32_t candidate = head_[Hash(data)];
  const size_t probe_limit = std::min<size_t>(available, limits_.good_enough);
  for (uint32_t seen = 0; candidate != kNone && seen < limits_.max_candidates;
       candidate = prev_[candidate], ++seen) {
    if (LoadU64(old_ + candidate) != key) continue;
    size_t limit = std::min<size_t>(probe_limit, indexed_ - candidate);
    if (limit <= best.length) continue;
    // Cheap rejection: a candidate can only win if it also matches at the current best length.
    if (best.length > 0 && old_[candidate + best.length] != data[best.length]) continue;
    size_t length = CommonPrefixLength(old_ + candidate, data, limit);
    if (length > best.length) {
      best.offset = candidate;
      best.length = static_cast<uint32_t>(length);
      if (length >= probe_limit) break;
    }
  }
  if (best.length >= probe_limit && probe_limit < available) {
    best.length = LengthAt(best.offset, data, available);
  }
  return best;
}

}  // namespace gp::builder
