// Finds long matches of new-file bytes in the old file: hash chains keyed by the 8 bytes that
// start at a position. Only positions whose key falls in a fixed share of the hash space (one in
// 2^sample_bits) are indexed, and only the same keys are looked up in the new file: both sides
// pick their positions by content, so a match of at least 8 + k bytes is found, somewhere inside
// it, unless none of its k + 1 keys is sampled (a chance of (1 - 2^-sample_bits)^(k + 1)). The
// caller grows a match backwards to its start. Memory: 4 bytes per old byte for the chains plus
// a head table of at most 2^26 entries of 4 bytes (never more than twice the indexed keys).
// Only the first 4 GiB - 1 bytes of the old file can be referenced, since diff offsets are 32-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gp::builder {

inline constexpr size_t kMatchKeyBytes = 8;

struct Match {
  uint32_t offset = 0;  // in the old file
  uint32_t length = 0;  // 0: nothing found
};

// Number of equal bytes at the start of a and b, at most limit.
size_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, size_t limit);

class MatchFinder {
 public:
  struct Limits {
    uint32_t max_candidates = 64;  // chain entries looked at per search
    uint32_t good_enough = 4096;   // a candidate this long ends the search
    uint32_t sample_bits = 0;      // index one key in 2^sample_bits (0 to 8)
    // A head table of at most one entry per sampled key instead of two: 4 bytes less per old
    // byte, for chains a little longer.
    bool small_head = false;
  };

  MatchFinder(std::span<const uint8_t> old_file, Limits limits);

  // Longest match (at least kMatchKeyBytes long) of the bytes at `data` (`available` of them) in
  // the old file, extended to its full length; nothing when the key at `data` is not sampled.
  // Among equally long candidates the one at the highest old position wins, so results never
  // depend on anything but the inputs. With sparse_bits, only one indexed key in 2^sparse_bits
  // (0 to 8) is looked up: a cheaper scan through new data that has few matches.
  Match Find(const uint8_t* data, size_t available, uint32_t sparse_bits = 0) const;

  // Length of the match of `data` against the old file at `offset` (0 when outside).
  uint32_t LengthAt(uint32_t offset, const uint8_t* data, size_t available) const;

  size_t indexed_size() const { return indexed_; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr size_t kPrefetchDistance = 16;
  // A candidate this long ends the walk along the chain: each further step is a cache miss in a
  // large file, and a longer match rarely pays for them (large programs: a tenth of the time,
  // diffs 0.05 % larger).
  static constexpr size_t kLongEnough = 128;
  // With fewer buckets than keys, chains mix unrelated keys and every search pays for them.
  static constexpr int kMaxHeadBits = 26;
  static uint64_t Mix(uint64_t key) { return key * 0x9E3779B97F4A7C15ull; }
  bool Sampled(uint64_t mixed) const { return ((mixed >> sample_shift_) & sample_mask_) == 0; }

  const uint8_t* old_;
  size_t indexed_;  // old bytes that copies may reference
  Limits limits_;
  int hash_shift_ = 64;
  int sample_shift_ = 0;
  uint64_t sample_mask_ = 0;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;  // per old position: the previous indexed one with its hash
};

}  // namespace gp::builder
