// The encoder against the reference applier: every diff rebuilds the new file exactly, keeps to
// the format's limits and never reaches outside the old file; the output is deterministic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "builder/diff_apply.h"
#include "builder/diff_encoder.h"
#include "format/data_stream.h"

namespace gp::builder {
namespace {

using format::EntryHeader;
using format::kEntryHeaderSize;
using format::kLiteralHeaderSize;
using format::kLongCopySize;
using format::kMaxLiteralRun;
using format::kMaxShortCopy;
using format::kShortCopySize;

using Bytes = std::vector<uint8_t>;

// Seeds come from GP_TEST_SEED when set, so that a failure can be replayed.
uint64_t BaseSeed() {
  const char* env = std::getenv("GP_TEST_SEED");
  return env ? std::strtoull(env, nullptr, 0) : 0x5EEDF00Dull;
}

// Byte material with some structure, like program code: a small alphabet with repeats.
Bytes RandomFile(std::mt19937_64& rng, size_t size) {
  Bytes out(size);
  std::uniform_int_distribution<int> byte(0, 255);
  for (size_t i = 0; i < size; ++i) {
    out[i] = (rng() % 4 == 0) ? 0 : static_cast<uint8_t>(byte(rng));
  }
  return out;
}

Bytes Mutate(std::mt19937_64& rng, Bytes data, size_t edits) {
  if (data.empty()) return data;
  for (size_t i = 0; i < edits; ++i) data[rng() % data.size()] = static_cast<uint8_t>(rng());
  return data;
}

// Moves, inserts, deletes and duplicates blocks: what a new build of a program does to it.
Bytes Rearrange(std::mt19937_64& rng, const Bytes& old_file) {
  Bytes out;
  size_t pos = 0;
  while (pos < old_file.size()) {
    size_t run = 1 + rng() % 4096;
    run = std::min(run, old_file.size() - pos);
    switch (rng() % 6) {
      case 0: {  // inserted run
        Bytes fresh = RandomFile(rng, 1 + rng() % 300);
        out.insert(out.end(), fresh.begin(), fresh.end());
        break;
      }
      case 1:  // deleted run
        pos += run;
        continue;
      case 2: {  // block from elsewhere in the old file
        size_t from = rng() % old_file.size();
        size_t n = std::min<size_t>(run, old_file.size() - from);
        out.insert(out.end(), old_file.begin() + from, old_file.begin() + from + n);
        break;
      }
      default:
        break;
    }
    Bytes kept(old_file.begin() + pos, old_file.begin() + pos + run);
    kept = Mutate(rng, std::move(kept), rng() % 4);
    out.insert(out.end(), kept.begin(), kept.end());
    pos += run;
  }
  return out;
}

struct Checked {
  Bytes diff;
  DiffEncodeStats stats;
};

// Encodes, applies, and checks every command against the format's limits.
Checked EncodeAndCheck(const Bytes& old_file, const Bytes& new_file,
                       const DiffEncodeOptions& options = {}) {
  Checked result;
  EntryHeader header{2024, 2, 29, 23, 59, 58, 250, 0x21};
  result.diff = EncodeDiff(old_file, new_file, header, options, &result.stats);

  Bytes rebuilt;
  EntryHeader parsed;
  EXPECT_EQ(ApplyDiff(old_file, result.diff, &rebuilt, &parsed), DiffStatus::kOk);
  EXPECT_EQ(parsed, header);
  EXPECT_TRUE(rebuilt == new_file) << "rebuilt " << rebuilt.size() << " bytes, expected "
                                   << new_file.size();

  bool previous_was_short_literal = false;
  DiffCommand previous_copy;
  bool previous_was_copy = false;
  size_t literal_runs = 0;
  size_t copies = 0;
  ForEachDiffCommand(result.diff, [&](const DiffCommand& c) {
    if (c.kind == DiffCommand::Kind::kLiteral) {
      EXPECT_GT(c.length, 0u) << "empty literal run at " << c.position;
      EXPECT_LE(c.length, kMaxLiteralRun);
      // Literal runs follow each other only when the first one is full.
      EXPECT_FALSE(previous_was_short_literal) << "split literal run at " << c.position;
      previous_was_short_literal = c.length < kMaxLiteralRun;
      previous_was_copy = false;
      ++literal_runs;
      return true;
    }
    previous_was_short_literal = false;
    EXPECT_LE(c.offset, old_file.size());
    EXPECT_LE(c.length, old_file.size() - c.offset) << "copy past the old file at " << c.position;
    if (c.kind == DiffCommand::Kind::kShortCopy) {
      EXPECT_GE(c.length, 1u);
      EXPECT_LE(c.length, kMaxShortCopy);
    } else {
      EXPECT_GT(c.length, kMaxShortCopy) << "long copy that fits a short one at " << c.position;
    }
    if (previous_was_copy) {
      EXPECT_NE(static_cast<uint64_t>(previous_copy.offset) + previous_copy.length, c.offset)
          << "copies that continue each other were not merged at " << c.position;
    }
    previous_copy = c;
    previous_was_copy = true;
    ++copies;
    return true;
  });
  EXPECT_EQ(literal_runs, result.stats.literal_runs);
  EXPECT_EQ(copies, result.stats.short_copies + result.stats.long_copies);
  EXPECT_EQ(result.stats.literal_bytes + result.stats.copied_bytes, new_file.size());
  return result;
}

TEST(DiffEncoder, IdenticalFilesGiveOneCopy) {
  std::mt19937_64 rng(BaseSeed());
  for (size_t size : {size_t{1}, size_t{4}, size_t{5}, size_t{7}, size_t{8}, size_t{9}, size_t{32767}, size_t{32768},
                      size_t{200000}}) {
    SCOPED_TRACE("size " + std::to_string(size) + " seed " + std::to_string(BaseSeed()));
    Bytes file = RandomFile(rng, size);
    Checked c = EncodeAndCheck(file, file);
    if (size + kLiteralHeaderSize <= kShortCopySize) {
      // Too short for a copy to pay: one literal run.
      EXPECT_EQ(c.diff.size(), kEntryHeaderSize + kLiteralHeaderSize + size);
      continue;
    }
    size_t command = size > kMaxShortCopy ? kLongCopySize : kShortCopySize;
    EXPECT_EQ(c.diff.size(), kEntryHeaderSize + command);
    EXPECT_EQ(c.stats.copied_bytes, size);
  }
}

TEST(DiffEncoder, EmptySides) {
  std::mt19937_64 rng(BaseSeed());
  Bytes some = RandomFile(rng, 70000);
  Checked to_empty = EncodeAndCheck(some, {});
  EXPECT_EQ(to_empty.diff.size(), kEntryHeaderSize);
  Checked from_empty = EncodeAndCheck({}, some);
  EXPECT_EQ(from_empty.stats.copied_bytes, 0u);
  EXPECT_EQ(from_empty.stats.literal_runs, 3u);  // 32,767 + 32,767 + 4,466
  EXPECT_EQ(from_empty.diff.size(), kEntryHeaderSize + some.size() + 3 * kLiteralHeaderSize);
  Checked both_empty = EncodeAndCheck({}, {});
  EXPECT_EQ(both_empty.diff.size(), kEntryHeaderSize);
}

TEST(DiffEncoder, TinyFilesShorterThanTheMatchKey) {
  std::mt19937_64 rng(BaseSeed() + 1);
  for (size_t old_size = 0; old_size < 12; ++old_size) {
    for (size_t new_size = 0; new_size < 12; ++new_size) {
      SCOPED_TRACE(std::to_string(old_size) + " -> " + std::to_string(new_size));
      Bytes old_file = RandomFile(rng, old_size);
      Bytes new_file(old_file.begin(), old_file.begin() + std::min(old_size, new_size));
      while (new_file.size() < new_size) new_file.push_back(static_cast<uint8_t>(rng()));
      EncodeAndCheck(old_file, new_file);
    }
  }
}

TEST(DiffEncoder, RandomUnrelatedFiles) {
  for (uint64_t i = 0; i < 20; ++i) {
    uint64_t seed = BaseSeed() + 100 + i;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    Bytes old_file = RandomFile(rng, rng() % 20000);
    Bytes new_file = RandomFile(rng, rng() % 20000);
    Checked c = EncodeAndCheck(old_file, new_file);
    // Unrelated data costs hardly more than the data itself.
    EXPECT_LE(c.diff.size(), kEntryHeaderSize + new_file.size() + new_file.size() / 64 + 64);
  }
}

TEST(DiffEncoder, MutatedFiles) {
  for (uint64_t i = 0; i < 20; ++i) {
    uint64_t seed = BaseSeed() + 200 + i;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    Bytes old_file = RandomFile(rng, 1000 + rng() % 100000);
    size_t edits = rng() % 50;
    Bytes new_file = Mutate(rng, old_file, edits);
    Checked c = EncodeAndCheck(old_file, new_file);
    // Each scattered edit costs at most a literal run and a copy, plus the bytes around it.
    EXPECT_LE(c.diff.size(), kEntryHeaderSize + kLongCopySize + edits * 40);
  }
}

TEST(DiffEncoder, ShiftedInsertedAndDeletedBlocks) {
  for (uint64_t i = 0; i < 30; ++i) {
    uint64_t seed = BaseSeed() + 300 + i;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    Bytes old_file = RandomFile(rng, rng() % 300000);
    Bytes new_file = Rearrange(rng, old_file);
    Checked c = EncodeAndCheck(old_file, new_file);
    EXPECT_LT(c.diff.size(), new_file.size() / 2 + 1000) << "old blocks were not found";
  }
}

TEST(DiffEncoder, RepetitiveContent) {
  // Long runs of one byte and short periods stress the chains and the merging of copies.
  Bytes old_file(100000, 0);
  for (size_t i = 50000; i < old_file.size(); ++i) old_file[i] = static_cast<uint8_t>(i % 3);
  Bytes new_file(old_file.begin() + 1000, old_file.end());
  new_file.insert(new_file.end(), 70000, 0);
  new_file.insert(new_file.begin() + 5000, {1, 2, 3});
  Checked c = EncodeAndCheck(old_file, new_file);
  EXPECT_LT(c.diff.size(), 200u);
}

TEST(DiffEncoder, OptionsAtTheirExtremesStayCorrect) {
  std::mt19937_64 rng(BaseSeed() + 400);
  Bytes old_file = RandomFile(rng, 50000);
  Bytes new_file = Rearrange(rng, old_file);
  for (uint32_t min_copy : {1u, 8u, 64u, 100000u}) {
    for (uint32_t candidates : {1u, 1000u}) {
      SCOPED_TRACE("min copy " + std::to_string(min_copy) + ", candidates " +
                   std::to_string(candidates));
      DiffEncodeOptions options;
      options.min_copy_in_literals = min_copy;
      options.min_copy_after_copy = min_copy;
      options.min_copy_aligned = min_copy;
      options.max_candidates = candidates;
      options.good_enough = min_copy;
      options.lazy = candidates > 1;
      options.sample_bits = candidates > 1 ? 8 : 0;
      EncodeAndCheck(old_file, new_file, options);
    }
  }
}

// The kinds of the commands of a diff, in order, with their lengths.
std::vector<std::pair<DiffCommand::Kind, uint32_t>> Commands(const Bytes& diff) {
  std::vector<std::pair<DiffCommand::Kind, uint32_t>> out;
  ForEachDiffCommand(diff, [&](const DiffCommand& c) {
    out.emplace_back(c.kind, c.length);
    return true;
  });
  return out;
}

TEST(DiffEncoder, LiteralRunsAroundTheRunLimit) {
  // New data with nothing in common with the old file, at and around the longest literal run:
  // every run but the last must be full, and none may be longer.
  std::mt19937_64 rng(BaseSeed() + 700);
  const Bytes old_file(5000, 0x5A);
  for (size_t size : {size_t{kMaxLiteralRun} - 1, size_t{kMaxLiteralRun},
                      size_t{kMaxLiteralRun} + 1, 2 * size_t{kMaxLiteralRun},
                      2 * size_t{kMaxLiteralRun} + 1}) {
    SCOPED_TRACE("size " + std::to_string(size));
    Bytes new_file(size);
    for (auto& b : new_file) b = static_cast<uint8_t>(rng() % 255);  // never 0x5A runs
    for (auto& b : new_file) b = b == 0x5A ? 0x5B : b;
    Checked c = EncodeAndCheck(old_file, new_file);
    EXPECT_EQ(c.stats.copied_bytes, 0u);
    EXPECT_EQ(c.stats.literal_runs, (size + kMaxLiteralRun - 1) / kMaxLiteralRun);
    EXPECT_EQ(c.diff.size(), kEntryHeaderSize + size + c.stats.literal_runs * kLiteralHeaderSize);
  }
}

TEST(DiffEncoder, CopiesAroundTheShortCopyLimit) {
  // A block of the old file of exactly the longest short copy, one more, and one less, between
  // fresh bytes: the copy is short up to the limit and long above it, and covers the block.
  std::mt19937_64 rng(BaseSeed() + 800);
  const Bytes old_file = RandomFile(rng, 3 * size_t{kMaxShortCopy});
  for (uint32_t length : {kMaxShortCopy - 1, kMaxShortCopy, kMaxShortCopy + 1}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const size_t from = 1000;
    Bytes new_file = {0xF1, 0xF2, 0xF3};
    new_file.insert(new_file.end(), old_file.begin() + from, old_file.begin() + from + length);
    new_file.insert(new_file.end(), {0xF4, 0xF5, 0xF6});
    // The bytes around the block differ from the old file's neighbours of the block.
    if (old_file[from - 1] == 0xF3 || old_file[from + length] == 0xF4) continue;
    Checked c = EncodeAndCheck(old_file, new_file);
    const auto commands = Commands(c.diff);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[1].first, length > kMaxShortCopy ? DiffCommand::Kind::kLongCopy
                                                         : DiffCommand::Kind::kShortCopy);
    EXPECT_EQ(commands[1].second, length);
  }
}

TEST(DiffEncoder, CopiesThatReachTheEndOfTheOldFile) {
  // The new file ends with the old file's last bytes, and the old file's tail also appears in
  // the middle: copies must stop exactly at the old file's end.
  for (uint64_t i = 0; i < 10; ++i) {
    std::mt19937_64 rng(BaseSeed() + 900 + i);
    const Bytes old_file = RandomFile(rng, 100 + rng() % 50000);
    const size_t tail = 1 + rng() % std::min<size_t>(old_file.size(), 40000);
    Bytes new_file = RandomFile(rng, rng() % 100);
    new_file.insert(new_file.end(), old_file.end() - static_cast<ptrdiff_t>(tail), old_file.end());
    new_file.insert(new_file.end(), {1, 2, 3, 4});
    new_file.insert(new_file.end(), old_file.end() - static_cast<ptrdiff_t>(tail), old_file.end());
    SCOPED_TRACE("old " + std::to_string(old_file.size()) + ", tail " + std::to_string(tail));
    Checked c = EncodeAndCheck(old_file, new_file);
    if (tail >= 64) {
      EXPECT_GE(c.stats.copied_bytes, 2 * tail);
    }
  }
}

TEST(DiffEncoder, SampledIndexStillFindsBlocks) {
  // Blocks of 64 to 500 bytes of the old file in a new order, directly after each other or
  // after fresh bytes (long enough for the sparse lookups deep in new data): with one key in
  // 2^k indexed, each block is found somewhere inside and grown back to its start, so almost
  // nothing but the fresh bytes is left as literal bytes.
  for (uint32_t bits : {0u, 1u, 2u, 3u}) {
    for (size_t fresh : {size_t{0}, size_t{300}}) {
      // Deep in fresh bytes the lookups are sparser still: 64-byte blocks are then found
      // reliably only with half the keys indexed or more.
      if (fresh > 0 && bits > 1) continue;
      SCOPED_TRACE("sample bits " + std::to_string(bits) + ", fresh " + std::to_string(fresh));
      std::mt19937_64 rng(BaseSeed() + 1000 + bits);
      const Bytes old_file = RandomFile(rng, 400000);
      Bytes new_file;
      size_t blocks = 0;
      while (new_file.size() < 300000) {
        const Bytes junk = RandomFile(rng, fresh);
        new_file.insert(new_file.end(), junk.begin(), junk.end());
        const size_t length = 64 + rng() % 437;
        const size_t from = rng() % (old_file.size() - length);
        new_file.insert(new_file.end(), old_file.begin() + from, old_file.begin() + from + length);
        ++blocks;
      }
      DiffEncodeOptions options;
      options.sample_bits = bits;
      Checked c = EncodeAndCheck(old_file, new_file, options);
      EXPECT_LE(c.stats.literal_bytes, blocks * (fresh + 1)) << "blocks were missed";
      EXPECT_GE(c.stats.copied_bytes, new_file.size() - blocks * (fresh + 16));
      EXPECT_LE(c.stats.short_copies, blocks + blocks / 16);
    }
  }
}

TEST(DiffEncoder, LargeFiles) {
  uint64_t seed = BaseSeed() + 500;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 rng(seed);
  Bytes old_file = RandomFile(rng, 6 << 20);
  Bytes new_file = Rearrange(rng, old_file);
  Checked c = EncodeAndCheck(old_file, new_file);
  EXPECT_LT(c.diff.size(), new_file.size() / 4);
}

TEST(DiffEncoder, SameInputGivesSameBytes) {
  std::mt19937_64 rng(BaseSeed() + 600);
  Bytes old_file = RandomFile(rng, 200000);
  Bytes new_file = Rearrange(rng, old_file);
  EntryHeader header{2003, 11, 12, 15, 37, 52, 0, 0x20};
  Bytes first = EncodeDiff(old_file, new_file, header);
  Bytes copy_of_old = old_file;  // another buffer with the same content
  Bytes second = EncodeDiff(copy_of_old, new_file, header);
  EXPECT_EQ(first, second);
  Bytes expected_header = {0xD3, 0x07, 0x0B, 0x0C, 0x0F, 0x25, 0x34, 0x00, 0x20, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 12), expected_header);
}

}  // namespace
}  // namespace gp::builder
