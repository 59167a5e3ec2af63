#include "codec/address_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

namespace gp::codec {
namespace {

struct Add {
  uint64_t old_start, new_start, length;
};

// The map as doc/format.md words it: adds of 16 bytes or more, ordered by old start (equal
// starts in their order), each cut where it overlaps those before it, nothing beyond the old
// file; a position maps through the segment that holds it.
std::optional<uint64_t> Reference(std::vector<Add> adds, uint64_t old_size, uint64_t position) {
  std::erase_if(adds, [](const Add& a) { return a.length < 16; });
  std::stable_sort(adds.begin(), adds.end(),
                   [](const Add& a, const Add& b) { return a.old_start < b.old_start; });
  uint64_t end = 0;
  for (const Add& a : adds) {
    const uint64_t from = std::max(a.old_start, end);
    const uint64_t to = std::min(a.old_start + a.length, old_size);
    if (from < to && position >= from && position < to) return a.new_start + (position - a.old_start);
    end = std::max(end, std::min(a.old_start + a.length, old_size));
  }
  return std::nullopt;
}

TEST(AddressMap, MapsAsDescribed) {
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    std::mt19937 rng(seed);
    const uint64_t old_size = 1 + rng() % 300000;
    std::vector<Add> adds;
    for (int i = 0; i < 1 + static_cast<int>(rng() % 200); ++i) {
      // Some adds start where an earlier one does: their order decides.
      const uint64_t start = i % 5 == 4 ? adds[rng() % adds.size()].old_start : rng() % (old_size + 5000);
      adds.push_back({start, rng() % 1000000, rng() % (i % 3 == 0 ? 20 : 9000)});
    }
    AddressMap map;
    for (const Add& a : adds) ASSERT_TRUE(map.Add(a.old_start, a.new_start, a.length));
    map.Finish(old_size);
    for (int probe = 0; probe < 3000; ++probe) {
      const uint64_t position = rng() % (old_size + 100);
      uint64_t got = 0;
      const bool found = map.Map(position, &got);
      const std::optional<uint64_t> want = Reference(adds, old_size, position);
      ASSERT_EQ(found, want.has_value()) << seed << " " << position;
      if (found) {
        ASSERT_EQ(got, *want) << seed << " " << position;
      }
    }
  }
}

TEST(AddressMap, EdgesOfTheRules) {
  AddressMap map;
  map.Add(100, 5000, 15);   // too short
  map.Add(200, 7000, 100);  // [200, 300)
  map.Add(150, 9000, 100);  // [150, 250): sorted first, so it keeps 200 to 249
  map.Add(160, 1, 50);      // inside [150, 250): goes
  map.Add(150, 3, 20);      // the same start as the second, but after it: goes
  map.Finish(280);          // [250, 280) is all of the third that remains
  uint64_t to = 0;
  EXPECT_FALSE(map.Map(100, &to));
  EXPECT_TRUE(map.Map(155, &to));
  EXPECT_EQ(to, 9005u);
  EXPECT_TRUE(map.Map(249, &to));
  EXPECT_EQ(to, 9099u);
  EXPECT_TRUE(map.Map(250, &to));
  EXPECT_EQ(to, 7050u);
  EXPECT_FALSE(map.Map(280, &to));
  EXPECT_FALSE(map.Map(~uint64_t{0}, &to));

  // Full after kMaxSegments adds long enough to count: later ones are not part of the map.
  AddressMap full;
  for (size_t i = 0; i < AddressMap::kMaxSegments; ++i) ASSERT_TRUE(full.Add(i * 16, i * 16, 16));
  EXPECT_TRUE(full.Add(0, 0, 15));
  EXPECT_FALSE(full.Add(uint64_t{1} << 30, 0, 16));
  EXPECT_FALSE(full.Add(0, 0, 15));
  full.Finish(uint64_t{1} << 31);
  EXPECT_TRUE(full.Map(16 * AddressMap::kMaxSegments - 1, &to));
  EXPECT_FALSE(full.Map(uint64_t{1} << 30, &to));
}

}  // namespace
}  // namespace gp::codec
