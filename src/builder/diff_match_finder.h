// Finds long matches of new-file bytes in the old file: hash chains over every position of the
// old file, keyed by the 8 bytes that start there. Memory: 4 bytes per old byte for the chains
// plus a head table of at most 2^24 entries (4 bytes each, never more entries than old bytes).
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
  };

  MatchFinder(std::span<const uint8_t> old_file, Limits limits);

  // Longest match (at least kMatchKeyBytes long) of the bytes at `data` (`available` of them) in
  // the old file, extended to its full length. Among equally long candidates the one at the
  // highest old position wins, so results never depend on anything but the inputs.
  Match Find(const uint8_t* data, size_t available) const;

  // Length of the match of `data` against the old file at `offset` (0 when outside).
  uint32_t LengthAt(uint32_t offset, const uint8_t* data, size_t available) const;

  size_t indexed_size() const { return indexed_; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  uint32_t Hash(const uint8_t* p) const;

  const uint8_t* old_;
  size_t indexed_;  // old bytes that copies may reference
  Limits limits_;
  int hash_shift_ = 64;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;
};

}  // namespace gp::builder
