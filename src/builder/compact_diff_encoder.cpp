#include "builder/compact_diff_encoder.h"

#include <algorithm>
#include <memory>

#include "builder/diff_match_finder.h"
#include "codec/address_map.h"
#include "codec/compact_diff_decoder.h"
#include "codec/compact_models.h"
#include "codec/compact_payload_writer.h"
#include "codec/crc32.h"
#include "codec/x86_filter.h"
#include "format/compact.h"

namespace gp::builder {

using format::AppendVarint;

namespace {

// A match must be this much longer than what the current alignment already gives.
constexpr int64_t kMatchGain = 8;
constexpr uint64_t kProgressStep = uint64_t{1} << 20;
// A raw diff up to this size stays GPD1: deflated with the whole docfile it shares context with
// the other diffs (the same change in a file's .js, .d.ts and .map), which the coder's models,
// cold for every file, cannot (a release tree of small changes: 2,858 bytes against 3,021).
constexpr size_t kSmallRawDiff = 4096;
// A raw filtered diff is taken when it packs at least 1/kFilterGain smaller than the plain one.
constexpr size_t kFilterGain = 32;

struct Triple {
  uint64_t add = 0;
  uint64_t literal = 0;
  int64_t seek = 0;
};

struct Sections {
  std::vector<Triple> triples;
  std::vector<uint8_t> differences;  // one byte per add byte
  std::vector<uint8_t> literals;
};

std::vector<uint8_t> Assemble(const format::EntryHeader& header, uint64_t new_size,
                              bool coded, bool x86, bool predict,
                              const std::vector<uint8_t>& control,
                              const std::vector<uint8_t>& differences,
                              const std::vector<uint8_t>& literals) {
  const std::vector<uint8_t>* parts[format::kCompactSectionCount] = {&control, &differences,
                                                                     &literals};
  format::CompactDiffHeader h;
  h.coded = coded;
  h.x86 = x86;
  h.predict = predict;
  h.new_size = new_size;
  for (size_t i = 0; i < format::kCompactSectionCount; ++i) {
    h.length[i] = parts[i]->size();
    h.crc[i] = Crc32Update(0, parts[i]->data(), static_cast<int64_t>(parts[i]->size()));
  }
  std::vector<uint8_t> out;
  out.reserve(format::kCompactDiffHeaderSize + control.size() + differences.size() +
              literals.size());
  format::AppendEntryHeader(header, &out);
  format::AppendCompactDiffHeader(h, &out);
  for (const auto* part : parts) out.insert(out.end(), part->begin(), part->end());
  return out;
}

// GPD2: the triples reordered as (seek, add, literal), a triple that appends nothing folded
// into the next one's seek, each seek coded less the previous literal length (zero when the
// old and the new file stay aligned across the literal); the sections coded by their models.
void CodeSections(std::span<const uint8_t> old_file, const Sections& s,
                                  std::vector<uint8_t> (&out)[format::kCompactSectionCount]) {
  const auto models = std::make_unique<codec::CompactModels>();
  codec::BitEncoder control(&out[format::kControlSection]);
  codec::BitEncoder differences(&out[format::kDifferenceSection]);
  std::vector<uint8_t>& literal_out = out[format::kLiteralSection];
  literal_out.push_back(codec::kCodedLiterals);
  codec::BitEncoder literals(&literal_out);
  int64_t seek = 0;
  uint64_t position = 0;
  uint64_t previous_literal = 0;
  size_t next_difference = 0;
  size_t next_literal = 0;
  int old_prev = 0;
  for (const Triple& t : s.triples) {
    if (t.add == 0 && t.literal == 0) {
      seek += t.seek;
      continue;
    }
    const int64_t coded = seek - static_cast<int64_t>(previous_literal);
    const uint64_t magnitude = coded < 0 ? 0 - static_cast<uint64_t>(coded) : static_cast<uint64_t>(coded);
    models->control.CodeNumber(control, magnitude, codec::ControlModel::kSeek);
    if (magnitude != 0) models->control.CodeSign(control, coded < 0 ? 1 : 0);
    models->control.CodeNumber(control, t.add, codec::ControlModel::kAdd);
    models->control.CodeNumber(control, t.literal, codec::ControlModel::kLiteral);
    position = static_cast<uint64_t>(static_cast<int64_t>(position) + seek);
    for (uint64_t i = 0; i < t.add; ++i) {
      const int old_byte = old_file[static_cast<size_t>(position + i)];
      const uint8_t* ahead = s.differences.data() + next_difference;
      const uint64_t left = t.add - i;
      const bool zeros_ahead =
          left >= codec::DifferenceModel::kBlock &&
          std::all_of(ahead, ahead + codec::DifferenceModel::kBlock, [](uint8_t d) { return d == 0; });
      models->differences.Code(differences, *ahead, old_byte, old_prev, left, zeros_ahead);
      ++next_difference;
      old_prev = old_byte;
    }
    position += t.add;
    for (uint64_t i = 0; i < t.literal; ++i) models->literals.Code(literals, s.literals[next_literal++]);
    previous_literal = t.literal;
    seek = t.seek;
  }
  control.Finish();
  differences.Finish();
  literals.Finish();
  // Literals that do not shrink (compressed data) are stored.
  if (literal_out.size() >= s.literals.size() + 1) {
    literal_out.assign(1, codec::kStoredLiterals);
    literal_out.insert(literal_out.end(), s.literals.begin(), s.literals.end());
  }
}

// What a diff costs in the package: a coded one as it is, a raw one as zlib's deflate packs its
// sections (the headers cost alike). An estimate for weighing diffs against each other: the
// payload's own encoder packs a few per cent smaller, and takes several times longer.
size_t PackedSize(const std::vector<uint8_t>& diff) {
  format::CompactDiffHeader h;
  format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &h);
  const size_t head = format::kCompactDiffHeaderSize;
  const size_t deflated = h.coded ? 0 : QuickDeflatedSize(diff.data() + head, diff.size() - head);
  return deflated != 0 ? deflated : diff.size() - head;
}

}  // namespace

// Every zero run starts a group, however short: deflate packs its two small varints better
// than the zeros among the bytes (differences 1 to 2 % smaller than with runs of 4 or more).
std::vector<uint8_t> PackDifferences(std::span<const uint8_t> raw) {
  std::vector<uint8_t> out;
  const size_t n = raw.size();
  size_t i = 0;
  while (i < n) {
    const size_t zeros_start = i;
    while (i < n && raw[i] == 0) ++i;
    const size_t bytes_start = i;
    size_t j = i;
    while (j < n && raw[j] != 0) ++j;
    AppendVarint(bytes_start - zeros_start, &out);
    AppendVarint(j - bytes_start, &out);
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(bytes_start),
               raw.begin() + static_cast<std::ptrdiff_t>(j));
    i = j;
  }
  return out;
}

namespace {

// The triples, differences and literals of new_file against old_file.
Sections Parse(std::span<const uint8_t> old_file, std::span<const uint8_t> new_file,
               CompactDiffStats* stats, const CompactDiffProgress& progress) {
  *stats = CompactDiffStats();
  const uint8_t* o = old_file.data();
  const uint8_t* nw = new_file.data();
  // Copies reach only as far as the match finder indexes.
  const int64_t old_size = static_cast<int64_t>(std::min<size_t>(old_file.size(), 0xFFFFFFFEu));
  const int64_t new_size = static_cast<int64_t>(new_file.size());
  Sections s;
  {  // the match finder (8 bytes per old byte) is gone before the sections are coded
    MatchFinder::Limits limits;
    limits.sample_bits = old_file.size() >= (size_t{64} << 20) ? 1 : 0;
    limits.small_head = true;
    const MatchFinder finder(old_file.subspan(0, static_cast<size_t>(old_size)), limits);

    auto old_at = [&](int64_t at, int64_t i) { return at + i >= 0 && at + i < old_size; };
    auto emit = [&](int64_t add_new, int64_t add_old, int64_t add, int64_t literal_start,
                    int64_t literal, int64_t seek) {
      for (int64_t i = 0; i < add; ++i) {
        s.differences.push_back(static_cast<uint8_t>(nw[add_new + i] - o[add_old + i]));
      }
      s.literals.insert(s.literals.end(), nw + literal_start, nw + literal_start + literal);
      s.triples.push_back({static_cast<uint64_t>(add), static_cast<uint64_t>(literal), seek});
      ++stats->controls;
      stats->added_bytes += static_cast<size_t>(add);
      stats->literal_bytes += static_cast<size_t>(literal);
    };

    int64_t scan = 0, len = 0, pos = 0;
    int64_t last_scan = 0, last_pos = 0, last_offset = 0;
    uint64_t next_report = kProgressStep;
    while (scan < new_size) {
      int64_t old_score = 0;
      int64_t scsc = scan += len;
      for (; scan < new_size; ++scan) {
        const Match m = finder.Find(nw + scan, static_cast<size_t>(new_size - scan));
        len = m.length;
        pos = m.offset;
        for (; scsc < scan + len; ++scsc) {
          if (old_at(scsc, last_offset) && o[scsc + last_offset] == nw[scsc]) ++old_score;
        }
        if ((len == old_score && len != 0) || len > old_score + kMatchGain) break;
        if (old_at(scan, last_offset) && o[scan + last_offset] == nw[scan]) --old_score;
      }
      if (progress && static_cast<uint64_t>(scan) >= next_report) {
        progress(static_cast<uint64_t>(scan), static_cast<uint64_t>(new_size));
        next_report = static_cast<uint64_t>(scan) + kProgressStep;
      }
      if (len == old_score && scan != new_size) continue;

      // Stretch the previous match forward while at least half of its bytes agree.
      int64_t lenf = 0;
      {
        int64_t agree = 0, best = 0;
        for (int64_t i = 0; last_scan + i < scan && last_pos + i < old_size;) {
          if (o[last_pos + i] == nw[last_scan + i]) ++agree;
          ++i;
          if (agree * 2 - i > best * 2 - lenf) {
            best = agree;
            lenf = i;
          }
        }
      }
      // And this one backward.
      int64_t lenb = 0;
      if (scan < new_size) {
        int64_t agree = 0, best = 0;
        for (int64_t i = 1; scan >= last_scan + i && pos >= i; ++i) {
          if (o[pos - i] == nw[scan - i]) ++agree;
          if (agree * 2 - i > best * 2 - lenb) {
            best = agree;
            lenb = i;
          }
        }
      }
      // Where the two overlap, split them where the most bytes agree.
      if (last_scan + lenf > scan - lenb) {
        const int64_t overlap = (last_scan + lenf) - (scan - lenb);
        int64_t agree = 0, best = 0, split = 0;
        for (int64_t i = 0; i < overlap; ++i) {
          if (nw[last_scan + lenf - overlap + i] == o[last_pos + lenf - overlap + i]) ++agree;
          if (nw[scan - lenb + i] == o[pos - lenb + i]) --agree;
          if (agree > best) {
            best = agree;
            split = i + 1;
          }
        }
        lenf += split - overlap;
        lenb -= split;
      }
      const int64_t literal_start = last_scan + lenf;
      const int64_t literal = (scan - lenb) - literal_start;
      const int64_t seek = scan < new_size ? (pos - lenb) - (last_pos + lenf) : 0;
      emit(last_scan, last_pos, lenf, literal_start, literal, seek);
      last_scan = scan - lenb;
      last_pos = pos - lenb;
      last_offset = pos - scan;
    }
  }
  if (progress) progress(static_cast<uint64_t>(new_size), static_cast<uint64_t>(new_size));
  return s;
}

// The diff stream of parsed sections against old_file (filtered and predicted as x86 and
// predict say).
std::vector<uint8_t> Write(std::span<const uint8_t> old_file, const Sections& s,
                           const format::EntryHeader& header, uint64_t new_size,
                           CompactDiffVersion version, bool x86, bool predict) {
  std::vector<uint8_t> raw;
  if (version != CompactDiffVersion::kCoded) {
    std::vector<uint8_t> control;
    for (const Triple& t : s.triples) {
      AppendVarint(t.add, &control);
      AppendVarint(t.literal, &control);
      AppendVarint(format::ZigZag(t.seek), &control);
    }
    raw = Assemble(header, new_size, false, x86, predict, control,
                   PackDifferences(s.differences), s.literals);
    if (version == CompactDiffVersion::kRaw || raw.size() <= kSmallRawDiff) return raw;
  }
  std::vector<uint8_t> coded;
  {
    std::vector<uint8_t> sections[format::kCompactSectionCount];
    CodeSections(old_file, s, sections);
    coded = Assemble(header, new_size, true, x86, predict,
                     sections[format::kControlSection], sections[format::kDifferenceSection],
                     sections[format::kLiteralSection]);
  }
  // Not clearly smaller: weigh the coded sections against what deflate makes of the raw ones.
  if (version == CompactDiffVersion::kSmaller && coded.size() * 2 > raw.size() &&
      PackedSize(raw) < coded.size()) {
    return raw;
  }
  return coded;
}

// The x86 filter and address prediction of an old file, in place, through the map of the adds.
void PredictOld(const Sections& s, std::span<uint8_t> old_file) {
  codec::AddressMap map;
  uint64_t position = 0;
  uint64_t written = 0;
  for (const Triple& t : s.triples) {
    if (!map.Add(position, written, t.add)) break;
    position = static_cast<uint64_t>(static_cast<int64_t>(position + t.add) + t.seek);
    written += t.add + t.literal;
  }
  map.Finish(old_file.size());
  codec::X86PredictAll(old_file.data(), old_file.size(), map);
}

// The difference bytes of the triples' adds, taken again against old_file.
std::vector<uint8_t> Differences(std::span<const uint8_t> old_file,
                                 std::span<const uint8_t> new_file, const Sections& s) {
  std::vector<uint8_t> differences;
  differences.reserve(s.differences.size());
  uint64_t position = 0;
  uint64_t written = 0;
  for (const Triple& t : s.triples) {
    for (uint64_t i = 0; i < t.add; ++i) {
      differences.push_back(static_cast<uint8_t>(new_file[static_cast<size_t>(written + i)] -
                                                 old_file[static_cast<size_t>(position + i)]));
    }
    position = static_cast<uint64_t>(static_cast<int64_t>(position + t.add) + t.seek);
    written += t.add + t.literal;
  }
  return differences;
}

// One diff of old_file and new_file as given.
std::vector<uint8_t> EncodePlain(std::span<const uint8_t> old_file,
                                 std::span<const uint8_t> new_file,
                                 const format::EntryHeader& header, CompactDiffStats* stats,
                                 const CompactDiffProgress& progress, CompactDiffVersion version) {
  const Sections s = Parse(old_file, new_file, stats, progress);
  return Write(old_file, s, header, new_file.size(), version, false, false);
}

// The diff over the x86 branch filter (kX86), with the address prediction (kX86Predict), or
// both, the smaller kept (kChoose). The prediction takes two parses: the map of the first
// parse's adds predicts the old file, against which the second parse aligns better (diffs 0.1
// to 2 % smaller), and the map of the second parse's adds, which the diff carries, predicts
// the old file anew. Memory: the filtered copies of both files (the old one then copied again
// and predicted in place, twice), besides the caller's files and the match finder.
std::vector<uint8_t> EncodeFiltered(std::span<const uint8_t> old_file,
                                    std::span<const uint8_t> new_file,
                                    const format::EntryHeader& header, CompactDiffStats* stats,
                                    const CompactDiffProgress& progress,
                                    CompactDiffVersion version, CompactDiffFilter filter) {
  std::vector<uint8_t> old_x86(old_file.begin(), old_file.end());
  std::vector<uint8_t> new_x86(new_file.begin(), new_file.end());
  codec::X86FilterAll(old_x86.data(), old_x86.size(), true);
  codec::X86FilterAll(new_x86.data(), new_x86.size(), true);
  const bool predict = filter != CompactDiffFilter::kX86;
  const uint64_t total = new_file.size();
  auto part = [&progress, predict, total](uint64_t base) {
    if (!progress || !predict) return progress;
    return CompactDiffProgress(
        [&progress, base, total](uint64_t done, uint64_t) { progress(base + done / 2, total); });
  };
  Sections s = Parse(old_x86, new_x86, stats, part(0));
  std::vector<uint8_t> plain;
  if (filter != CompactDiffFilter::kX86Predict) {
    plain = Write(old_x86, s, header, total, version, true, false);
    if (!predict) return plain;
  }
  old_x86.assign(old_file.begin(), old_file.end());
  PredictOld(s, old_x86);
  s = Sections();
  CompactDiffStats second;
  s = Parse(old_x86, new_x86, &second, part(total / 2));
  old_x86.assign(old_file.begin(), old_file.end());
  PredictOld(s, old_x86);
  s.differences = Differences(old_x86, new_x86, s);
  std::vector<uint8_t> predicted = Write(old_x86, s, header, total, version, true, true);
  if (filter == CompactDiffFilter::kX86Predict || PackedSize(predicted) < PackedSize(plain)) {
    *stats = second;
    return predicted;
  }
  return plain;
}

}  // namespace

std::vector<uint8_t> EncodeCompactDiff(std::span<const uint8_t> old_file,
                                       std::span<const uint8_t> new_file,
                                       const format::EntryHeader& header, CompactDiffStats* stats,
                                       const CompactDiffProgress& progress,
                                       CompactDiffVersion version, CompactDiffFilter filter) {
  CompactDiffStats local;
  if (stats == nullptr) stats = &local;
  if (filter == CompactDiffFilter::kNone) {
    return EncodePlain(old_file, new_file, header, stats, progress, version);
  }
  if (filter != CompactDiffFilter::kChoose) {
    return EncodeFiltered(old_file, new_file, header, stats, progress, version, filter);
  }
  // The plain diff, then the filtered ones: a third of the progress for each parse.
  const uint64_t total = new_file.size();
  auto part = [&progress, total](uint64_t base, uint64_t share) {
    if (!progress) return CompactDiffProgress();
    return CompactDiffProgress([&progress, base, share, total](uint64_t done, uint64_t) {
      progress(base + done / 3 * share, total);
    });
  };
  CompactDiffStats plain_stats;
  const std::vector<uint8_t> plain =
      EncodePlain(old_file, new_file, header, &plain_stats, part(0, 1), version);
  const std::vector<uint8_t> filtered =
      EncodeFiltered(old_file, new_file, header, stats, part(total / 3, 2), version, filter);
  // The program pays passes over the file for a filtered diff: a raw one must be worth them.
  const size_t plain_size = PackedSize(plain);
  const size_t filtered_size = PackedSize(filtered);
  const bool take_filtered = version == CompactDiffVersion::kRaw
                                 ? filtered_size + plain_size / kFilterGain < plain_size
                                 : filtered_size < plain_size;
  if (take_filtered) return filtered;
  *stats = plain_stats;
  return plain;
}

std::vector<uint8_t> CompactIdentityDiff(const format::EntryHeader& header, uint64_t size) {
  std::vector<uint8_t> control;
  std::vector<uint8_t> differences;
  if (size != 0) {
    AppendVarint(size, &control);
    AppendVarint(0, &control);
    AppendVarint(0, &control);
    AppendVarint(size, &differences);
    AppendVarint(0, &differences);
  }
  return Assemble(header, size, false, false, false, control, differences, {});
}

}  // namespace gp::builder
