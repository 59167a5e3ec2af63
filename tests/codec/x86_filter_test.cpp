#include "codec/x86_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/endian.h"
#include "codec/address_map.h"
#include "codec_test_util.h"

namespace gp::codec {
namespace {

std::vector<uint8_t> Filtered(std::vector<uint8_t> data, bool encode) {
  X86FilterAll(data.data(), data.size(), encode);
  return data;
}

// Bytes dense in what the filter looks at: E8 (and E9, which it leaves), the opcodes with a
// [rip + disp32] ModRM, and displacement tops of 00 and FF, in random order, so that fields
// overlap candidates of every kind.
std::vector<uint8_t> Dense(uint32_t seed, size_t size) {
  static constexpr uint8_t kPicks[] = {0xE8, 0xE9, 0x8D, 0x8B, 0x0F, 0xFF, 0x05, 0x0D,
                                       0x3D, 0x00, 0xFF, 0x83, 0x12, 0xC7, 0x10, 0x41};
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) b = kPicks[rng() % sizeof kPicks];
  return data;
}

// The filter as doc/format.md words it, one position at a time.
void ReferenceEncode(uint8_t* data, size_t n, uint64_t position) {
  const std::vector<uint8_t> one = {0x03, 0x0B, 0x23, 0x2B, 0x33, 0x38, 0x39, 0x3A, 0x3B,
                                    0x63, 0x80, 0x81, 0x83, 0x84, 0x85, 0x88, 0x89, 0x8A,
                                    0x8B, 0x8D, 0xC6, 0xC7, 0xF6, 0xFE, 0xFF};
  std::vector<uint8_t> two = {0x10, 0x11, 0x28, 0x29, 0x2A, 0x2C, 0x2D, 0x2E, 0x2F, 0x51,
                              0x54, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
                              0x6E, 0x6F, 0x7E, 0x7F, 0xAF, 0xB1, 0xB6, 0xB7, 0xBE, 0xBF,
                              0xC1, 0xC2, 0xD6, 0xEF};
  for (uint8_t b = 0x40; b <= 0x4F; ++b) two.push_back(b);
  auto in = [](const std::vector<uint8_t>& set, uint8_t b) {
    return std::find(set.begin(), set.end(), b) != set.end();
  };
  for (size_t i = 0; i + 6 <= n;) {
    size_t field = 0;
    if (data[i] == 0xE8) {
      field = i + 1;
    } else if (data[i] == 0x0F && i + 7 <= n && in(two, data[i + 1]) &&
               (data[i + 2] & 0xC7) == 0x05) {
      field = i + 3;
    } else if (in(one, data[i]) && (data[i + 1] & 0xC7) == 0x05) {
      field = i + 2;
    } else {
      ++i;
      continue;
    }
    if (data[field + 3] == 0 || data[field + 3] == 0xFF) {
      const uint32_t v = (LoadU32(data + field) + static_cast<uint32_t>(position + field + 4)) &
                         0x1FFFFFF;
      StoreU32(data + field, (v & 0x1000000) != 0 ? v | 0xFE000000 : v);
    }
    i = field + 4;
  }
}

TEST(X86Filter, EncodesAsDescribed) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    for (const auto& data : {Dense(seed, 2 * kX86FilterBlock + 77), test::RandomBytes(seed, 9000)}) {
      std::vector<uint8_t> expected = data;
      for (size_t at = 0; at < expected.size(); at += kX86FilterBlock) {
        ReferenceEncode(expected.data() + at, std::min(kX86FilterBlock, expected.size() - at), at);
      }
      ASSERT_EQ(Filtered(data, true), expected) << seed;
    }
  }
}

TEST(X86Filter, DecodeUndoesEncode) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    for (const size_t size : {size_t{0}, size_t{5}, size_t{6}, size_t{4096},
                              kX86FilterBlock + 3, 3 * kX86FilterBlock - 1}) {
      for (const auto& data : {Dense(seed, size), test::RandomBytes(seed, size)}) {
        const std::vector<uint8_t> encoded = Filtered(data, true);
        ASSERT_EQ(Filtered(encoded, false), data) << seed << " " << size;
      }
    }
  }
  // Dense input is actually changed, so the round trip above is not vacuous.
  EXPECT_NE(Filtered(Dense(1, 4096), true), Dense(1, 4096));
}

// Code that moved by an insertion, whose calls and [rip + disp32] references keep their
// targets: their displacements all differ, their filtered forms do not.
TEST(X86Filter, MovedCodeKeepsItsTargets) {
  constexpr size_t kShift = 0x1234;
  constexpr uint32_t kTarget = 0x200000;  // where every instruction points
  auto code_at = [&](size_t base) {
    std::vector<uint8_t> out(base, 0x90);  // nops before the code
    const std::vector<uint8_t> ops[] = {{0xE8},                     // call
                                        {0x48, 0x8D, 0x05},         // lea rax, [rip + disp32]
                                        {0xF2, 0x0F, 0x10, 0x05}};  // movsd xmm0, [rip + disp32]
    for (size_t i = 0; i < 300; ++i) {
      const std::vector<uint8_t>& op = ops[i % 3];
      out.insert(out.end(), op.begin(), op.end());
      const size_t after = out.size() + 4;
      out.resize(after);
      StoreU32(&out[after - 4], kTarget - static_cast<uint32_t>(after));
      out.push_back(0x90);
    }
    return std::vector<uint8_t>(out.begin() + static_cast<std::ptrdiff_t>(base), out.end());
  };
  const std::vector<uint8_t> old_code = code_at(0x1000);
  const std::vector<uint8_t> new_code = code_at(0x1000 + kShift);
  ASSERT_NE(old_code, new_code);
  auto filtered_at = [](const std::vector<uint8_t>& code, size_t base) {
    std::vector<uint8_t> file(base, 0x90);
    file.insert(file.end(), code.begin(), code.end());
    X86FilterAll(file.data(), file.size(), true);
    return std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(base), file.end());
  };
  EXPECT_EQ(filtered_at(old_code, 0x1000), filtered_at(new_code, 0x1000 + kShift));
}

TEST(X86Filter, FieldsStayWithinTheirBlockAndNearTargets) {
  std::vector<uint8_t> data(2 * kX86FilterBlock, 0x90);
  // A call whose field would cross the block boundary, one far call (top byte 0x12), and a
  // call just inside the second block.
  const size_t crossing = kX86FilterBlock - 3;
  data[crossing] = 0xE8;
  data[100] = 0xE8;
  StoreU32(&data[101], 0x12000000);
  data[kX86FilterBlock] = 0xE8;
  StoreU32(&data[kX86FilterBlock + 1], 0x10);
  const std::vector<uint8_t> encoded = Filtered(data, true);
  EXPECT_TRUE(std::equal(encoded.begin() + crossing, encoded.begin() + kX86FilterBlock + 1,
                         data.begin() + crossing));
  EXPECT_EQ(LoadU32(&encoded[101]), 0x12000000u);
  // Within a block a field becomes its target: the position after it plus the displacement.
  EXPECT_EQ(LoadU32(&encoded[kX86FilterBlock + 1]), kX86FilterBlock + 5 + 0x10);
  // A block filtered alone gives the same bytes as the whole buffer.
  std::vector<uint8_t> second(data.begin() + kX86FilterBlock, data.end());
  X86FilterBlock(second.data(), second.size(), kX86FilterBlock, true);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), encoded.begin() + kX86FilterBlock));
}

// The filter and prediction of an old file as doc/format.md words them, one position at a time.
void ReferencePredict(uint8_t* data, size_t n, uint64_t position, const AddressMap& map) {
  auto one = [](uint8_t b) {
    for (uint8_t o : {0x03, 0x0B, 0x23, 0x2B, 0x33, 0x38, 0x39, 0x3A, 0x3B, 0x63, 0x80, 0x81, 0x83,
                      0x84, 0x85, 0x88, 0x89, 0x8A, 0x8B, 0x8D, 0xC6, 0xC7, 0xF6, 0xFE, 0xFF}) {
      if (b == o) return true;
    }
    return false;
  };
  auto two = [](uint8_t b) {
    for (uint8_t o : {0x10, 0x11, 0x28, 0x29, 0x2A, 0x2C, 0x2D, 0x2E, 0x2F, 0x51, 0x54, 0x57,
                      0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x6E, 0x6F, 0x7E, 0x7F,
                      0xAF, 0xB1, 0xB6, 0xB7, 0xBE, 0xBF, 0xC1, 0xC2, 0xD6, 0xEF}) {
      if (b == o) return true;
    }
    return b >= 0x40 && b <= 0x4F;
  };
  for (size_t i = 0; i + 6 <= n;) {
    size_t field = 0;
    bool relative = false;
    if (data[i] == 0xE8 || data[i] == 0xE9) {
      field = i + 1;
      relative = data[i] == 0xE9;
    } else if (data[i] == 0x0F && data[i + 1] >= 0x80 && data[i + 1] <= 0x8F) {
      field = i + 2;
      relative = true;
    } else if (data[i] == 0x0F && i + 7 <= n && two(data[i + 1]) && (data[i + 2] & 0xC7) == 5) {
      field = i + 3;
    } else if (one(data[i]) && (data[i + 1] & 0xC7) == 5) {
      field = i + 2;
    } else {
      ++i;
      continue;
    }
    if (data[field + 3] == 0 || data[field + 3] == 0xFF) {
      const uint32_t v = LoadU32(data + field);
      const uint64_t after = position + field + 4;
      uint64_t to = 0, from = 0;
      if (!relative) {
        const uint32_t target = (v + static_cast<uint32_t>(after)) & 0x1FFFFFF;
        const uint32_t w = map.Map(target, &to) ? static_cast<uint32_t>(to) & 0x1FFFFFF : target;
        StoreU32(data + field, (w & 0x1000000) != 0 ? w | 0xFE000000 : w);
      } else if (relative && map.Map(after + static_cast<uint64_t>(int64_t{static_cast<int32_t>(v)}), &to) &&
                 map.Map(after, &from)) {
        StoreU32(data + field, static_cast<uint32_t>(to - from));
      }
    }
    i = field + 4;
  }
}

TEST(X86Predict, PredictsAsDescribed) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    // Small positions, so that many fields' values fall into the map.
    std::vector<uint8_t> data = Dense(seed, 2 * kX86FilterBlock + 77);
    std::mt19937 rng(seed);
    for (size_t i = 0; i + 4 <= data.size(); i += 1 + rng() % 40) {
      if (rng() % 2 == 0) StoreU32(&data[i], static_cast<uint32_t>(rng() % data.size()));
    }
    AddressMap map;
    for (int k = 0; k < 300; ++k) map.Add(rng() % data.size(), rng() % 0x1000000, 16 + rng() % 4000);
    map.Finish(data.size());
    std::vector<uint8_t> expected = data;
    for (size_t at = 0; at < expected.size(); at += kX86FilterBlock) {
      ReferencePredict(expected.data() + at, std::min(kX86FilterBlock, expected.size() - at), at, map);
    }
    std::vector<uint8_t> predicted = data;
    X86PredictAll(predicted.data(), predicted.size(), map);
    ASSERT_EQ(predicted, expected) << seed;
    EXPECT_NE(predicted, data);
  }
}

// A function that moved away from its caller: filtered, the call holds the old target; the
// prediction writes the new one, which the filtered new file holds.
TEST(X86Predict, MovedTargetsArePredicted) {
  constexpr size_t kSize = 0x3000;
  constexpr size_t kGrowth = 0x40;  // bytes inserted at 0x1800 in the new file
  auto build = [&](size_t shift) {
    std::vector<uint8_t> file(kSize + shift, 0x90);
    const uint32_t target = static_cast<uint32_t>(0x2000 + shift);  // the moved function
    auto put = [&](size_t at, std::initializer_list<uint8_t> op, uint32_t to) {
      std::copy(op.begin(), op.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
      const size_t after = at + op.size() + 4;
      StoreU32(&file[after - 4], to - static_cast<uint32_t>(after));
    };
    put(0x100, {0xE8}, target);              // call
    put(0x200, {0xE9}, target);              // jmp
    put(0x300, {0x0F, 0x84}, target);        // je
    put(0x400, {0x48, 0x8D, 0x05}, target);  // lea rax, [rip + disp32]
    put(0x500, {0xE8}, 0x10);                // a call that stays put
    return file;
  };
  std::vector<uint8_t> old_file = build(0);
  std::vector<uint8_t> new_file = build(kGrowth);
  X86FilterAll(new_file.data(), new_file.size(), true);
  AddressMap map;
  map.Add(0, 0, 0x1800);
  map.Add(0x1800, 0x1800 + kGrowth, kSize - 0x1800);
  map.Finish(kSize);
  std::vector<uint8_t> filtered = old_file;
  X86FilterAll(filtered.data(), filtered.size(), true);
  ASSERT_NE(std::vector<uint8_t>(filtered.begin(), filtered.begin() + 0x1800),
            std::vector<uint8_t>(new_file.begin(), new_file.begin() + 0x1800));
  X86PredictAll(old_file.data(), old_file.size(), map);
  EXPECT_EQ(std::vector<uint8_t>(old_file.begin(), old_file.begin() + 0x1800),
            std::vector<uint8_t>(new_file.begin(), new_file.begin() + 0x1800));
  // Without a map it is the filter (this code has no field that a jump's hides).
  std::vector<uint8_t> again = build(0);
  X86PredictAll(again.data(), again.size(), AddressMap());
  EXPECT_EQ(again, filtered);
}

}  // namespace
}  // namespace gp::codec
