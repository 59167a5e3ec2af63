#include "builder/diff_encoder.h"

#include <algorithm>

#include "base/endian.h"
#include "builder/diff_match_finder.h"

namespace gp::builder {

using format::AppendEntryHeader;
using format::EncodeCopy;
using format::EntryHeader;
using format::kEntryHeaderSize;
using format::kLiteralHeaderSize;
using format::kLongCopySize;
using format::kMaxLiteralRun;
using format::kShortCopySize;

namespace {

// Appends commands, merging copies that continue each other in the old file.
class CommandWriter {
 public:
  CommandWriter(std::vector<uint8_t>* out, DiffEncodeStats* stats) : out_(out), stats_(stats) {}

  void Literal(const uint8_t* data, size_t size) {
    FlushCopy();
    while (size > 0) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, kMaxLiteralRun));
      uint8_t word[2];
      StoreU16(word, static_cast<uint16_t>(n));
      out_->insert(out_->end(), word, word + 2);
      out_->insert(out_->end(), data, data + n);
      stats_->literal_runs++;
      stats_->literal_bytes += n;
      data += n;
      size -= n;
    }
  }

  void Copy(uint32_t offset, uint32_t length) {
    if (length == 0) return;
    if (pending_length_ > 0 && static_cast<uint64_t>(pending_offset_) + pending_length_ == offset &&
        static_cast<uint64_t>(pending_length_) + length <= 0xFFFFFFFFu) {
      pending_length_ += length;
      return;
    }
    FlushCopy();
    pending_offset_ = offset;
    pending_length_ = length;
  }

  void FlushCopy() {
    if (pending_length_ == 0) return;
    uint8_t bytes[kLongCopySize];
    const size_t n = EncodeCopy(pending_offset_, pending_length_, bytes);
    out_->insert(out_->end(), bytes, bytes + n);
    if (n == kLongCopySize) {
      stats_->long_copies++;
    } else {
      stats_->short_copies++;
    }
    stats_->copied_bytes += pending_length_;
    pending_length_ = 0;
  }

 private:
  std::vector<uint8_t>* out_;
  DiffEncodeStats* stats_;
  uint32_t pending_offset_ = 0;
  uint32_t pending_length_ = 0;
};

class Encoder {
 public:
  static constexpr int kSkipShift = 8;
  static constexpr size_t kMaxSkip = 7;
  // More than this many bytes into a literal run, the finder looks up one key in 2^kSparseBits:
  // a match of 16 bytes is still found with a chance of 92 %, a longer one almost surely, and
  // the copy is grown back to its start. It saves a fifth of the time on large programs.
  static constexpr size_t kSparseAfter = 64;
  static constexpr uint32_t kSparseBits = 2;
  // A copy is grown backwards over at most this many literal bytes.
  static constexpr size_t kMaxGrowBack = size_t{1} << 16;

  Encoder(std::span<const uint8_t> old_file, std::span<const uint8_t> new_file,
          const DiffEncodeOptions& options)
      : old_(old_file),
        new_(new_file),
        options_(options),
        finder_(old_file, MatchFinder::Limits{options.max_candidates, options.good_enough,
                                               SampleBits(options, old_file.size())}) {}

  static uint32_t SampleBits(const DiffEncodeOptions& options, size_t old_size) {
    if (options.sample_bits != DiffEncodeOptions::kAutoSample) return options.sample_bits;
    return old_size >= DiffEncodeOptions::kAutoSampleFrom ? 1 : 0;
  }

  void Run(CommandWriter* writer) {
    const size_t size = new_.size();
    size_t literal_start = 0;
    size_t pos = 0;
    // Alignments (old offset minus new position) of the latest copies, newest first: code that
    // moved keeps one alignment for a while, and a few alignments alternate (code and the data
    // it refers to). Copies on them are tried before any search.
    Alignments recent;
    while (pos < size) {
      // Deep in new data, only one key in 2^kSparseBits is looked up.
      const uint32_t sparse = pos - literal_start >= kSparseAfter ? kSparseBits : 0;
      Candidate here = Best(pos, recent, sparse);
      // Judge the copy by where it would start: grown backwards over literal bytes that match
      // too (the finder may only have found it some positions in).
      const size_t grown = GrowBack(literal_start, pos, here.match);
      const size_t start = pos - grown;
      Candidate whole = here;
      whole.match.length += static_cast<uint32_t>(grown);
      uint32_t needed = start > literal_start ? options_.min_copy_in_literals
                                              : options_.min_copy_after_copy;
      // A copy that finishes the file directly after a copy only has to beat a literal run.
      if (start == literal_start && start + whole.match.length == size) {
        needed = std::min<uint32_t>(needed, kShortCopySize - kLiteralHeaderSize + 1);
      }
      if (!Acceptable(whole, needed)) {
        // Through long stretches of new data, look at fewer positions: a match found later is
        // grown backwards over the positions skipped, so only short matches can be missed.
        pos += 1 + std::min<size_t>((pos - literal_start) >> kSkipShift, kMaxSkip);
        continue;
      }
      if (options_.lazy && here.match.length < options_.good_enough && pos + 1 < size) {
        Candidate next = Best(pos + 1, recent);
        if (Acceptable(next, options_.min_copy_in_literals) &&
            next.match.length > here.match.length + 1) {
          ++pos;
          continue;
        }
      }
      // Grow the copy backwards over literal bytes that match too.
      Match match = here.match;
      const size_t back = GrowBack(literal_start, pos, match);
      pos -= back;
      match.offset -= static_cast<uint32_t>(back);
      match.length += static_cast<uint32_t>(back);
      writer->Literal(new_.data() + literal_start, pos - literal_start);
      writer->Copy(match.offset, match.length);
      recent.Use(static_cast<int64_t>(match.offset) - static_cast<int64_t>(pos));
      pos += match.length;
      literal_start = pos;
    }
    writer->Literal(new_.data() + literal_start, size - literal_start);
    writer->FlushCopy();
  }

 private:
  struct Candidate {
    Match match;
    bool aligned = false;
  };

 public:
  struct Alignments {
    static constexpr size_t kKept = 4;
    int64_t values[kKept] = {0};
    size_t count = 1;  // starts with old and new side by side
    void Use(int64_t value) {
      size_t i = 0;
      while (i < count && values[i] != value) ++i;
      if (i == count && count < kKept) ++count;
      if (i == kKept) i = kKept - 1;
      for (; i > 0; --i) values[i] = values[i - 1];
      values[0] = value;
    }
  };

 private:

  // How many bytes before pos (and after literal_start) match the bytes before the match.
  size_t GrowBack(size_t literal_start, size_t pos, const Match& match) const {
    if (match.length == 0) return 0;
    size_t n = 0;
    while (n < kMaxGrowBack && pos - n > literal_start && match.offset > n &&
           new_[pos - n - 1] == old_[match.offset - n - 1]) {
      ++n;
    }
    return n;
  }

  bool Acceptable(const Candidate& c, uint32_t needed) const {
    if (c.match.length == 0) return false;
    return c.match.length >= (c.aligned ? std::min(needed, options_.min_copy_aligned) : needed);
  }

  Candidate Best(size_t pos, const Alignments& recent, uint32_t sparse_bits = 0) const {
    Candidate best;
    const uint8_t* data = new_.data() + pos;
    const size_t available = new_.size() - pos;
    for (size_t i = 0; i < recent.count; ++i) {
      int64_t aligned = static_cast<int64_t>(pos) + recent.values[i];
      if (aligned < 0 || static_cast<uint64_t>(aligned) >= finder_.indexed_size()) continue;
      uint32_t length = finder_.LengthAt(static_cast<uint32_t>(aligned), data, available);
      if (length > best.match.length) {
        best.match = Match{static_cast<uint32_t>(aligned), length};
        best.aligned = true;
      }
    }
    // A long aligned match needs no search.
    if (best.match.length >= options_.good_enough) return best;
    Match found = finder_.Find(data, available, sparse_bits);
    if (found.length > best.match.length) {
      best.match = found;
      best.aligned = false;
    }
    return best;
  }

  std::span<const uint8_t> old_;
  std::span<const uint8_t> new_;
  DiffEncodeOptions options_;
  MatchFinder finder_;
};

}  // namespace

std::vector<uint8_t> EncodeDiff(std::span<const uint8_t> old_file,
                                std::span<const uint8_t> new_file, const EntryHeader& header,
                                const DiffEncodeOptions& options, DiffEncodeStats* stats) {
  DiffEncodeStats local;
  if (!stats) stats = &local;
  *stats = DiffEncodeStats{};
  std::vector<uint8_t> out;
  out.reserve(kEntryHeaderSize + std::min<size_t>(new_file.size() / 4 + 64, size_t{1} << 26));
  AppendEntryHeader(header, &out);
  CommandWriter writer(&out, stats);
  Encoder encoder(old_file, new_file, options);
  encoder.Run(&writer);
  return out;
}

}  // namespace gp::builder
