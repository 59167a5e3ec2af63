#include <gtest/gtest.h>

#include <random>

#include "base/endian.h"
#include "builder/compact_diff_apply.h"
#include "builder/compact_diff_encoder.h"
#include "builder/diff_encoder.h"
#include "codec/crc32.h"
#include "format/compact.h"

namespace gp::builder {
namespace {

// A program-like file and its "recompiled" version: code that moved by an insertion, with
// 4-byte addresses that all grew by the same amount, and a changed tail.
struct Pair {
  std::vector<uint8_t> old_file;
  std::vector<uint8_t> new_file;
};

Pair Recompiled(uint32_t seed) {
  std::mt19937 rng(seed);
  Pair p;
  p.old_file.resize(200000);
  for (auto& b : p.old_file) b = static_cast<uint8_t>(rng() % 64);
  for (size_t i = 0; i + 4 <= p.old_file.size(); i += 16) StoreU32(&p.old_file[i], 0x401000u + static_cast<uint32_t>(i));
  p.new_file.assign(p.old_file.begin(), p.old_file.begin() + 50000);
  for (int i = 0; i < 333; ++i) p.new_file.push_back(static_cast<uint8_t>(rng()));
  p.new_file.insert(p.new_file.end(), p.old_file.begin() + 50000, p.old_file.end() - 1000);
  for (size_t i = 50336; i + 4 <= p.new_file.size(); i += 16) {
    StoreU32(&p.new_file[i], LoadU32(&p.new_file[i]) + 0x150);
  }
  for (int i = 0; i < 3000; ++i) p.new_file.push_back(static_cast<uint8_t>(rng()));
  return p;
}

TEST(CompactDiff, RebuildsAndIsSmallerThanTheClassicDiffOnRecompiledCode) {
  const Pair p = Recompiled(7);
  const format::EntryHeader header;
  CompactDiffStats stats;
  const std::vector<uint8_t> diff = EncodeCompactDiff(p.old_file, p.new_file, header, &stats);
  std::vector<uint8_t> rebuilt;
  ASSERT_TRUE(ApplyCompactDiff(p.old_file, diff, &rebuilt));
  EXPECT_EQ(rebuilt, p.new_file);
  EXPECT_GT(stats.added_bytes, p.new_file.size() / 2);  // the shifted addresses became adds
  EXPECT_EQ(EncodeCompactDiff(p.old_file, p.new_file, header), diff);
  // Before compression: the classic diff has to spell every changed address out.
  const std::vector<uint8_t> classic = EncodeDiff(p.old_file, p.new_file, header);
  EXPECT_LT(diff.size(), classic.size());
}

struct Kind {
  CompactDiffVersion version;
  CompactDiffFilter filter;
  char magic;  // the version digit of "GPD1" to "GPD6"
};
constexpr Kind kKinds[] = {{CompactDiffVersion::kRaw, CompactDiffFilter::kNone, '1'},
                           {CompactDiffVersion::kCoded, CompactDiffFilter::kNone, '2'},
                           {CompactDiffVersion::kRaw, CompactDiffFilter::kX86, '3'},
                           {CompactDiffVersion::kCoded, CompactDiffFilter::kX86, '4'},
                           {CompactDiffVersion::kRaw, CompactDiffFilter::kX86Predict, '5'},
                           {CompactDiffVersion::kCoded, CompactDiffFilter::kX86Predict, '6'}};

std::vector<uint8_t> Encode(const std::vector<uint8_t>& old_file,
                            const std::vector<uint8_t>& new_file, const Kind& kind) {
  std::vector<uint8_t> diff =
      EncodeCompactDiff(old_file, new_file, {}, nullptr, nullptr, kind.version, kind.filter);
  EXPECT_EQ(diff[format::kCompactDiffMagicOffset + 3], kind.magic);
  return diff;
}

TEST(CompactDiff, EdgeCasesRoundTrip) {
  const format::EntryHeader header;
  const std::vector<uint8_t> some = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  // A long add with a few changed bytes: zero runs longer than the decoder's work buffer.
  const Pair p = Recompiled(4);
  std::vector<uint8_t> few_changed = p.old_file;
  for (size_t at : {size_t{7}, size_t{40000}, size_t{40001}, size_t{131071}}) few_changed[at] ^= 1;
  const std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> cases = {
      {{}, {}},   {{}, some}, {some, {}}, {some, some}, {std::vector<uint8_t>(5000, 0), some},
      {p.old_file, few_changed}};
  for (const Kind& kind : kKinds) {
    for (const auto& [old_file, new_file] : cases) {
      std::vector<uint8_t> rebuilt;
      ASSERT_TRUE(ApplyCompactDiff(old_file, Encode(old_file, new_file, kind), &rebuilt));
      EXPECT_EQ(rebuilt, new_file) << kind.magic;
    }
  }
  std::vector<uint8_t> rebuilt;
  ASSERT_TRUE(ApplyCompactDiff(some, CompactIdentityDiff(header, some.size()), &rebuilt));
  EXPECT_EQ(rebuilt, some);
}

TEST(CompactDiff, DifferencesAreGroupsOfZeroRunsAndBytes) {
  const std::vector<uint8_t> raw = {0, 0, 0, 0, 0, 7, 0, 8, 0, 0, 0, 0, 9, 6, 0, 0};
  // 5 zeros then 7; 1 zero then 8; 4 zeros then 9 6; 2 zeros to the end.
  EXPECT_EQ(PackDifferences(raw),
            (std::vector<uint8_t>{5, 1, 7, 1, 1, 8, 4, 2, 9, 6, 2, 0}));
}

TEST(CompactDiff, DamageIsRefused) {
  const Pair p = Recompiled(3);
  for (const Kind& kind : kKinds) {
    const std::vector<uint8_t> diff = Encode(p.old_file, p.new_file, kind);
    std::vector<uint8_t> out;
    for (size_t at : {size_t{20}, format::kCompactDiffHeaderSize + 1, diff.size() - 1}) {
      std::vector<uint8_t> bad = diff;
      bad[at] ^= 0x40;
      EXPECT_FALSE(ApplyCompactDiff(p.old_file, bad, &out)) << at;
    }
    std::vector<uint8_t> cut(diff.begin(), diff.end() - 1);
    EXPECT_FALSE(ApplyCompactDiff(p.old_file, cut, &out));
    // Right checksums, but the old file is shorter than the adds need.
    EXPECT_FALSE(ApplyCompactDiff(std::span(p.old_file).first(1000), diff, &out));
  }
}

// Machine code that moved: calls and [rip + disp32] references to targets that stayed.
Pair MovedCode() {
  auto code = [](size_t base, std::mt19937 r) {
    std::vector<uint8_t> out(base, 0xCC);
    while (out.size() < base + 150000) {
      const uint32_t pick = r() % 4;
      if (pick < 2) {
        const bool call = pick == 0;
        out.insert(out.end(), call ? std::initializer_list<uint8_t>{0xE8}
                                   : std::initializer_list<uint8_t>{0x48, 0x8B, 0x05});
        const size_t after = out.size() + 4;
        out.resize(after);
        StoreU32(&out[after - 4], 0x400000 + (r() % 64) * 16 - static_cast<uint32_t>(after));
      } else {
        out.push_back(static_cast<uint8_t>(0x40 + r() % 8));  // other instructions
      }
    }
    return std::vector<uint8_t>(out.begin() + static_cast<std::ptrdiff_t>(base), out.end());
  };
  Pair p;
  p.old_file = code(0, std::mt19937(5));
  p.new_file = std::vector<uint8_t>(700, 0x90);  // the insertion moves everything after it
  const std::vector<uint8_t> moved = code(700, std::mt19937(5));
  p.new_file.insert(p.new_file.end(), moved.begin(), moved.end());
  return p;
}

TEST(CompactDiff, FilterIsChosenForMovedCodeOnly) {
  std::vector<uint8_t> out;
  for (const auto version : {CompactDiffVersion::kRaw, CompactDiffVersion::kSmaller}) {
    const Pair code = MovedCode();
    const std::vector<uint8_t> chosen = EncodeCompactDiff(
        code.old_file, code.new_file, {}, nullptr, nullptr, version, CompactDiffFilter::kChoose);
    const char magic = static_cast<char>(chosen[format::kCompactDiffMagicOffset + 3]);
    EXPECT_TRUE(magic == '3' || magic == '4') << magic;
    EXPECT_LT(chosen.size(), EncodeCompactDiff(code.old_file, code.new_file, {}, nullptr, nullptr,
                                               version, CompactDiffFilter::kNone)
                                 .size());
    ASSERT_TRUE(ApplyCompactDiff(code.old_file, chosen, &out));
    EXPECT_EQ(out, code.new_file);
  }
  // Data with shifted addresses but no code: the raw diff stays unfiltered.
  const Pair data = Recompiled(8);
  const std::vector<uint8_t> plain =
      EncodeCompactDiff(data.old_file, data.new_file, {}, nullptr, nullptr,
                        CompactDiffVersion::kRaw, CompactDiffFilter::kChoose);
  EXPECT_EQ(plain[format::kCompactDiffMagicOffset + 3], '1');
}

// Functions that call one another, and the same program with some functions grown: calls and
// jumps between functions that moved apart change even after the filter.
Pair GrownFunctions() {
  auto program = [](bool grown) {
    std::mt19937 r(11);
    std::vector<size_t> sizes(120);
    for (auto& size : sizes) size = 200 + r() % 1500;
    std::vector<size_t> starts;
    size_t at = 0;
    for (size_t f = 0; f < sizes.size(); ++f) {
      starts.push_back(at);
      at += sizes[f] + (grown && f % 10 == 3 ? 24 : 0);
    }
    std::vector<uint8_t> out(at, 0xCC);
    for (size_t f = 0; f < sizes.size(); ++f) {
      size_t i = starts[f];
      const size_t end = starts[f] + sizes[f] - 8;
      while (i < end) {
        const uint32_t pick = r() % 8;
        const auto callee = static_cast<uint32_t>(starts[r() % starts.size()]);
        if (pick < 2) {
          out[i] = pick == 0 ? 0xE8 : 0xE9;
          StoreU32(&out[i + 1], callee - static_cast<uint32_t>(i + 5));
          i += 5;
        } else {
          out[i++] = static_cast<uint8_t>(0x40 + r() % 8);  // other instructions
        }
      }
    }
    return out;
  };
  return {program(false), program(true)};
}

TEST(CompactDiff, PredictionIsChosenForMovedCallees) {
  const Pair p = GrownFunctions();
  std::vector<uint8_t> out;
  for (const auto version : {CompactDiffVersion::kRaw, CompactDiffVersion::kCoded}) {
    const std::vector<uint8_t> chosen = EncodeCompactDiff(
        p.old_file, p.new_file, {}, nullptr, nullptr, version, CompactDiffFilter::kChoose);
    EXPECT_EQ(chosen[format::kCompactDiffMagicOffset + 3], version == CompactDiffVersion::kRaw ? '5' : '6');
    const std::vector<uint8_t> filtered = EncodeCompactDiff(
        p.old_file, p.new_file, {}, nullptr, nullptr, version, CompactDiffFilter::kX86);
    EXPECT_LT(chosen.size(), filtered.size());
    ASSERT_TRUE(ApplyCompactDiff(p.old_file, chosen, &out));
    EXPECT_EQ(out, p.new_file);
  }
}

// A GPD2 diff whose sections are changed by edit, with its header and checksums made to match.
std::vector<uint8_t> EditSections(const std::vector<uint8_t>& diff,
                                  void (*edit)(std::vector<uint8_t> (&)[3])) {
  format::CompactDiffHeader h;
  EXPECT_TRUE(format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &h));
  std::vector<uint8_t> sections[3];
  for (size_t i = 0; i < 3; ++i) {
    const auto at = diff.begin() + static_cast<std::ptrdiff_t>(h.offset[i]);
    sections[i].assign(at, at + static_cast<std::ptrdiff_t>(h.length[i]));
  }
  edit(sections);
  std::vector<uint8_t> out(diff.begin(), diff.begin() + format::kEntryHeaderSize);
  for (size_t i = 0; i < 3; ++i) {
    h.length[i] = sections[i].size();
    h.crc[i] = Crc32Update(0, sections[i].data(), static_cast<int64_t>(sections[i].size()));
  }
  format::AppendCompactDiffHeader(h, &out);
  for (const auto& section : sections) out.insert(out.end(), section.begin(), section.end());
  return out;
}

TEST(CompactDiff, CodedSectionsAreUsedUpExactly) {
  const Pair p = Recompiled(5);
  const std::vector<uint8_t> diff =
      EncodeCompactDiff(p.old_file, p.new_file, {}, nullptr, nullptr, CompactDiffVersion::kCoded);
  ASSERT_EQ(diff[format::kCompactDiffMagicOffset + 3], '2');
  std::vector<uint8_t> out;
  ASSERT_TRUE(ApplyCompactDiff(p.old_file, EditSections(diff, [](auto&) {}), &out));
  EXPECT_EQ(out, p.new_file);
  // A section one byte short, or with a byte left over, is damage.
  for (size_t i = 0; i < 3; ++i) {
    static size_t section;
    section = i;
    EXPECT_FALSE(ApplyCompactDiff(
        p.old_file, EditSections(diff, [](auto& s) { s[section].pop_back(); }), &out)) << i;
    EXPECT_FALSE(ApplyCompactDiff(
        p.old_file, EditSections(diff, [](auto& s) { s[section].push_back(0); }), &out)) << i;
  }
  // The literal section's method byte: 0 stored, 1 coded, nothing else.
  EXPECT_FALSE(ApplyCompactDiff(
      p.old_file, EditSections(diff, [](auto& s) { s[format::kLiteralSection][0] = 2; }), &out));
  // Stored literals: taken as they are, and all of them.
  const std::vector<uint8_t> random = [] {
    std::mt19937 rng(9);
    std::vector<uint8_t> bytes(3000);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
  }();
  const std::vector<uint8_t> stored =
      EncodeCompactDiff({}, random, {}, nullptr, nullptr, CompactDiffVersion::kCoded);
  ASSERT_TRUE(ApplyCompactDiff({}, stored, &out));
  EXPECT_EQ(out, random);
  EXPECT_EQ(stored[stored.size() - random.size() - 1], 0);  // stored: random bytes do not shrink
  EXPECT_FALSE(ApplyCompactDiff(
      {}, EditSections(stored, [](auto& s) { s[format::kLiteralSection].pop_back(); }), &out));
}

}  // namespace
}  // namespace gp::builder
