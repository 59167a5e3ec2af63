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
  const int sample_bits = static_cast<int>(std::min<uint32_t>(limits_.sample_bits, 8));
  // Head table: the power of two at or above the number of sampled keys, between 2^10 and
  // 2^kMaxHeadBits. The bucket comes from the top bits of the mixed key, the sample test from
  // the bits below them.
  const size_t sampled = std::max<size_t>(keys >> sample_bits, 1);
  const int width = static_cast<int>(std::bit_width(sampled)) - (limits_.small_head ? 1 : 0);
  const int bits = std::clamp(width, 10, kMaxHeadBits);
  hash_shift_ = 64 - bits;
  sample_shift_ = hash_shift_ - sample_bits;
  sample_mask_ = (uint64_t{1} << sample_bits) - 1;
  head_.assign(size_t{1} << bits, kNone);
  prev_.assign(keys, kNone);
  for (size_t i = 0; i < keys; ++i) {
    // The head slot of a later position is fetched ahead: the table is far larger than the
    // caches, and every insertion would otherwise wait for memory.
    if (i + kPrefetchDistance < keys) {
      const uint64_t ahead = Mix(LoadU64(old_ + i + kPrefetchDistance));
      __builtin_prefetch(&head_[static_cast<uint32_t>(ahead >> hash_shift_)], 1);
    }
    const uint64_t key = LoadU64(old_ + i);
    // Inside a stretch with a period of 1 to 4 bytes (padding, fill patterns) only the first
    // positions go into the chains: a search that lands there extends through the whole stretch,
    // and thousands of equal keys would otherwise crowd every other candidate out.
    if (i >= 4 && (key == LoadU64(old_ + i - 1) || key == LoadU64(old_ + i - 2) ||
                   key == LoadU64(old_ + i - 3) || key == LoadU64(old_ + i - 4))) {
      continue;
    }
    const uint64_t mixed = Mix(key);
    if (!Sampled(mixed)) continue;
    const uint32_t h = static_cast<uint32_t>(mixed >> hash_shift_);
    prev_[i] = head_[h];
    head_[h] = static_cast<uint32_t>(i);
  }
}

uint32_t MatchFinder::LengthAt(uint32_t offset, const uint8_t* data, size_t available) const {
  if (offset >= indexed_) return 0;
  size_t limit = std::min<size_t>(available, indexed_ - offset);
  return static_cast<uint32_t>(CommonPrefixLength(old_ + offset, data, limit));
}

Match MatchFinder::Find(const uint8_t* data, size_t available, uint32_t sparse_bits) const {
  Match best;
  if (head_.empty() || available < kMatchKeyBytes) return best;
  const uint64_t key = LoadU64(data);
  const uint64_t mixed = Mix(key);
  if (!Sampled(mixed)) return best;
  // The sparse test takes the bits just below those of the index's own sample test.
  const uint32_t sparse = std::min<uint32_t>(sparse_bits, 8);
  if (sparse > 0 && ((mixed >> (sample_shift_ - static_cast<int>(sparse))) &
                     ((uint64_t{1} << sparse) - 1)) != 0) {
    return best;
  }
  uint32_t candidate = head_[static_cast<uint32_t>(mixed >> hash_shift_)];
  const size_t probe_limit = std::min<size_t>(available, limits_.good_enough);
  for (uint32_t seen = 0; candidate != kNone && seen < limits_.max_candidates;
       candidate = prev_[candidate], ++seen) {
    // The next entry is fetched while this candidate's bytes are compared.
    __builtin_prefetch(&prev_[candidate]);
    if (LoadU64(old_ + candidate) != key) continue;
    size_t limit = std::min<size_t>(probe_limit, indexed_ - candidate);
    if (limit <= best.length) continue;
    // Cheap rejection: a candidate can only win if it also matches at the current best length.
    if (best.length > 0 && old_[candidate + best.length] != data[best.length]) continue;
    size_t length = CommonPrefixLength(old_ + candidate, data, limit);
    if (length > best.length) {
      best.offset = candidate;
      best.length = static_cast<uint32_t>(length);
      if (length >= probe_limit || length >= kLongEnough) break;
    }
  }
  if (best.length >= probe_limit && probe_limit < available) {
    best.length = LengthAt(best.offset, data, available);
  }
  return best;
}

}  // namespace gp::builder
