#include "codec/deflate_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "base/endian.h"

namespace gp {

namespace {

constexpr size_t kWindow = 32768;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kLiteralCodes = 286;  // 0-255 bytes, 256 end of block, 257-285 lengths
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kLengthCodeCodes = 19;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kMaxLengthCodeLength = 7;

// Input bytes per segment: the parse works a segment at a time, and blocks (each with codes of
// its own) are made of whole segments.
constexpr size_t kSegment = 4 * 1024;
// Segments gathered before the cut into blocks is chosen.
constexpr size_t kGatheredSegments = 24;
// Match search: candidates looked at per position, and the length that ends the search (and
// has the parse take the match without looking at the positions inside it).
constexpr unsigned kMaxChain = 512;
constexpr unsigned kNiceLength = 258;
// Passes of the parse per segment, each priced by the counts of the one before, and passes
// over a block of several segments priced by its joint counts.
constexpr int kSegmentPasses = 2;
constexpr int kBlockPasses = 2;
// Every kFreshStart-th segment is also parsed from the fixed codes' prices.
constexpr size_t kFreshStart = 8;

constexpr std::array<uint8_t, kLengthCodeCodes> kLengthCodeOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned HighBit(uint32_t x) { return 31u - static_cast<unsigned>(std::countl_zero(x)); }

// A match length's symbol, its extra bits and their value.
struct Extra {
  unsigned symbol;
  unsigned bits;
  unsigned value;
};

Extra LengthSymbol(unsigned length) {
  if (length <= 10) return {254 + length, 0, 0};
  if (length == kMaxMatch) return {285, 0, 0};
  const unsigned x = length - 3;
  const unsigned top = HighBit(x);
  return {257 + 4 * (top - 1) + ((x >> (top - 2)) & 3), top - 2, x & ((1u << (top - 2)) - 1)};
}

Extra DistanceSymbol(unsigned distance) {
  if (distance <= 4) return {distance - 1, 0, 0};
  const unsigned x = distance - 1;
  const unsigned top = HighBit(x);
  return {2 * top + ((x >> (top - 1)) & 1), top - 1, x & ((1u << (top - 1)) - 1)};
}

unsigned LengthExtraBits(unsigned symbol) {
  return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4;
}
unsigned DistanceExtraBits(unsigned symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

// Huffman's code lengths for the leaves (sorted by count), built with two queues: the leaves
// and the joined nodes, which come out in order of weight. False when a length exceeds limit.
bool HuffmanLengths(const uint32_t* freq, const std::vector<uint32_t>& leaves, unsigned limit,
                    uint8_t* lengths) {
  const size_t m = leaves.size();
  std::vector<uint64_t> weight(2 * m - 1);
  std::vector<uint32_t> parent(2 * m - 1, 0);
  for (size_t i = 0; i < m; ++i) weight[i] = freq[leaves[i]];
  size_t leaf = 0;
  size_t node = m;
  for (size_t next = m; next < 2 * m - 1; ++next) {
    uint64_t sum = 0;
    for (int k = 0; k < 2; ++k) {
      const size_t pick =
          leaf < m && (node >= next || weight[leaf] <= weight[node]) ? leaf++ : node++;
      sum += weight[pick];
      parent[pick] = static_cast<uint32_t>(next);
    }
    weight[next] = sum;
  }
  std::vector<uint8_t> depth(2 * m - 1, 0);
  for (size_t i = 2 * m - 1; i-- > 0;) {
    if (i + 1 < 2 * m - 1) depth[i] = static_cast<uint8_t>(depth[parent[i]] + 1);
    if (depth[i] > limit) return false;
  }
  for (size_t i = 0; i < m; ++i) lengths[leaves[i]] = depth[i];
  return true;
}

// Code lengths of at most limit bits that minimise the coded size (package-merge). Unused
// symbols get 0; a single used symbol gets 1. Ties go to the lower symbol, so the result is
// the same everywhere.
void LimitedCodeLengths(const uint32_t* freq, size_t n, unsigned limit, uint8_t* lengths) {
  std::fill(lengths, lengths + n, uint8_t{0});
  std::vector<uint32_t> leaves;
  for (uint32_t i = 0; i < n; ++i) {
    if (freq[i] > 0) leaves.push_back(i);
  }
  if (leaves.empty()) return;
  if (leaves.size() == 1) {
    lengths[leaves[0]] = 1;
    return;
  }
  std::sort(leaves.begin(), leaves.end(),
            [&](uint32_t a, uint32_t b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });
  if (HuffmanLengths(freq, leaves, limit, lengths)) return;
  struct Item {
    uint64_t weight;
    int32_t symbol;  // -1: a package of two items of the list below
  };
  // Level l's list holds at most 2 * leaves - 1 items, at lists[l * width].
  const size_t width = 2 * leaves.size();
  std::vector<Item> lists(limit * width);
  std::vector<size_t> sizes(limit, 0);
  for (uint32_t s : leaves) lists[sizes[0]++] = {freq[s], static_cast<int32_t>(s)};
  for (unsigned level = 1; level < limit; ++level) {
    const Item* below = &lists[(level - 1) * width];
    const size_t below_size = sizes[level - 1];
    Item* list = &lists[level * width];
    size_t& size = sizes[level];
    size_t leaf = 0;
    size_t pair = 0;
    while (leaf < leaves.size() || pair + 1 < below_size) {
      const bool take_leaf = pair + 1 >= below_size ||
                             (leaf < leaves.size() &&
                              freq[leaves[leaf]] <= below[pair].weight + below[pair + 1].weight);
      if (take_leaf) {
        list[size++] = {freq[leaves[leaf]], static_cast<int32_t>(leaves[leaf])};
        ++leaf;
      } else {
        list[size++] = {below[pair].weight + below[pair + 1].weight, -1};
        pair += 2;
      }
    }
  }
  size_t take = 2 * leaves.size() - 2;
  for (unsigned level = limit; level-- > 0;) {
    size_t packages = 0;
    for (size_t k = 0; k < take; ++k) {
      const Item& item = lists[level * width + k];
      if (item.symbol >= 0) {
        ++lengths[item.symbol];
      } else {
        ++packages;
      }
    }
    take = 2 * packages;
  }
}

// Canonical codes from code lengths, bit-reversed for the least significant bit first order.
void CanonicalCodes(const uint8_t* lengths, size_t n, uint16_t* codes) {
  std::array<uint32_t, kMaxCodeLength + 2> count{};
  for (size_t i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  std::array<uint32_t, kMaxCodeLength + 2> next{};
  uint32_t code = 0;
  for (unsigned bits = 1; bits <= kMaxCodeLength; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  for (size_t i = 0; i < n; ++i) {
    const unsigned len = lengths[i];
    codes[i] = 0;
    if (len == 0) continue;
    uint32_t c = next[len]++;
    uint32_t reversed = 0;
    for (unsigned b = 0; b < len; ++b) {
      reversed = (reversed << 1) | (c & 1);
      c >>= 1;
    }
    codes[i] = static_cast<uint16_t>(reversed);
  }
}

// A parsed symbol: a literal byte (below 256) or length << 16 | distance.
using Item = uint32_t;
constexpr Item MatchItem(unsigned length, unsigned distance) { return length << 16 | distance; }

struct Frequencies {
  std::array<uint32_t, kLiteralCodes> literal{};
  std::array<uint32_t, kDistanceCodes> distance{};
};

Frequencies Count(const std::vector<Item>& items) {
  Frequencies f;
  for (Item item : items) {
    if (item < 256) {
      ++f.literal[item];
    } else {
      ++f.literal[LengthSymbol(item >> 16).symbol];
      ++f.distance[DistanceSymbol(item & 0xFFFF).symbol];
    }
  }
  f.literal[kEndOfBlock] = 1;
  return f;
}

// The literal/length and distance codes: code lengths and bit-reversed codes.
struct SymbolCodes {
  std::array<uint8_t, kLiteralCodes> literal_lengths{};
  std::array<uint8_t, kDistanceCodes> distance_lengths{};
  std::array<uint16_t, kLiteralCodes> literal_codes{};
  std::array<uint16_t, kDistanceCodes> distance_codes{};
};

// The codes of one dynamic block, with the header that describes them.
struct BlockCodes : SymbolCodes {
  std::array<uint8_t, kLengthCodeCodes> clen_lengths{};
  std::array<uint16_t, kLengthCodeCodes> clen_codes{};
  unsigned hlit = 0;
  unsigned hdist = 0;
  unsigned hclen = 0;
  std::vector<uint16_t> tokens;  // code length symbol | repeat value << 8
  uint64_t header_bits = 0;
};

// Forces two used symbols: zlib's inflate refuses an incomplete code for the code lengths, and
// a two-symbol code is complete for the other alphabets too.
template <size_t N>
std::array<uint32_t, N> AtLeastTwo(std::array<uint32_t, N> freq) {
  for (size_t i = 0;
       i < N && std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f > 0; }) < 2;
       ++i) {
    if (freq[i] == 0) freq[i] = 1;
  }
  return freq;
}

void BuildCodes(const Frequencies& f, BlockCodes* c) {
  LimitedCodeLengths(AtLeastTwo(f.literal).data(), kLiteralCodes, kMaxCodeLength,
                     c->literal_lengths.data());
  LimitedCodeLengths(AtLeastTwo(f.distance).data(), kDistanceCodes, kMaxCodeLength,
                     c->distance_lengths.data());
  CanonicalCodes(c->literal_lengths.data(), kLiteralCodes, c->literal_codes.data());
  CanonicalCodes(c->distance_lengths.data(), kDistanceCodes, c->distance_codes.data());
  c->hlit = kLiteralCodes;
  while (c->hlit > 257 && c->literal_lengths[c->hlit - 1] == 0) --c->hlit;
  c->hdist = kDistanceCodes;
  while (c->hdist > 1 && c->distance_lengths[c->hdist - 1] == 0) --c->hdist;
  std::vector<uint8_t> all(c->literal_lengths.begin(), c->literal_lengths.begin() + c->hlit);
  all.insert(all.end(), c->distance_lengths.begin(), c->distance_lengths.begin() + c->hdist);
  c->tokens.clear();
  for (size_t i = 0; i < all.size();) {
    const uint8_t v = all[i];
    size_t run = 1;
    while (i + run < all.size() && all[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const size_t r = std::min<size_t>(run, 138);
        c->tokens.push_back(static_cast<uint16_t>(18 | (r - 11) << 8));
        run -= r;
      }
      if (run >= 3) {
        c->tokens.push_back(static_cast<uint16_t>(17 | (run - 3) << 8));
        run = 0;
      }
    } else {
      c->tokens.push_back(v);
      --run;
      while (run >= 3) {
        const size_t r = std::min<size_t>(run, 6);
        c->tokens.push_back(static_cast<uint16_t>(16 | (r - 3) << 8));
        run -= r;
      }
    }
    for (; run > 0; --run) c->tokens.push_back(v);
  }
  std::array<uint32_t, kLengthCodeCodes> clen_freq{};
  for (uint16_t t : c->tokens) ++clen_freq[t & 0xFF];
  LimitedCodeLengths(AtLeastTwo(clen_freq).data(), kLengthCodeCodes, kMaxLengthCodeLength,
                     c->clen_lengths.data());
  CanonicalCodes(c->clen_lengths.data(), kLengthCodeCodes, c->clen_codes.data());
  c->hclen = kLengthCodeCodes;
  while (c->hclen > 4 && c->clen_lengths[kLengthCodeOrder[c->hclen - 1]] == 0) --c->hclen;
  c->header_bits = 5 + 5 + 4 + 3 * c->hclen;
  for (uint16_t t : c->tokens) {
    const unsigned s = t & 0xFF;
    c->header_bits += c->clen_lengths[s] + (s == 16 ? 2 : s == 17 ? 3 : s == 18 ? 7 : 0);
  }
}

// Bits of the block's symbols under the given code lengths (without the block header).
uint64_t SymbolBits(const Frequencies& f, const SymbolCodes& c) {
  uint64_t bits = 0;
  for (unsigned s = 0; s < kLiteralCodes; ++s) {
    bits += uint64_t{f.literal[s]} * (c.literal_lengths[s] + (s > 256 ? LengthExtraBits(s) : 0));
  }
  for (unsigned s = 0; s < kDistanceCodes; ++s) {
    bits += uint64_t{f.distance[s]} * (c.distance_lengths[s] + DistanceExtraBits(s));
  }
  return bits;
}

struct FixedCodes : SymbolCodes {
  FixedCodes() {
    // The full fixed alphabets (288 and 32 symbols) give the canonical codes; 286 and 287,
    // 30 and 31 are never written.
    std::array<uint8_t, 288> lit{};
    for (unsigned s = 0; s < 288; ++s) lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::array<uint16_t, 288> lit_codes{};
    CanonicalCodes(lit.data(), lit.size(), lit_codes.data());
    std::copy_n(lit.begin(), kLiteralCodes, literal_lengths.begin());
    std::copy_n(lit_codes.begin(), kLiteralCodes, literal_codes.begin());
    std::array<uint8_t, 32> dist{};
    dist.fill(5);
    std::array<uint16_t, 32> dist_codes{};
    CanonicalCodes(dist.data(), dist.size(), dist_codes.data());
    std::copy_n(dist.begin(), kDistanceCodes, distance_lengths.begin());
    std::copy_n(dist_codes.begin(), kDistanceCodes, distance_codes.begin());
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes codes;
  return codes;
}

// What the parse charges for each choice, in bits.
struct CostModel {
  std::array<uint32_t, 256> literal{};
  std::array<uint32_t, kMaxMatch + 1> length{};
  std::array<uint32_t, kDistanceCodes> distance{};

  // Each symbol costs its length in a code for the counts, unused ones as if they had
  // occurred half as often as the rarest. Whole code lengths, not the symbols' information
  // content: with few distinct bytes (two, say) literals cost a whole bit or more, which the
  // information content would hide from the parse.
  static CostModel FromFrequencies(const Frequencies& f) {
    return FromSymbolCosts(CodeLengthCosts(f.literal).data(), CodeLengthCosts(f.distance).data());
  }

  static CostModel FromLengths(const SymbolCodes& c) {
    std::array<uint32_t, kLiteralCodes> lit{};
    std::array<uint32_t, kDistanceCodes> dist{};
    for (unsigned s = 0; s < kLiteralCodes; ++s) lit[s] = c.literal_lengths[s];
    for (unsigned s = 0; s < kDistanceCodes; ++s) dist[s] = c.distance_lengths[s];
    return FromSymbolCosts(lit.data(), dist.data());
  }

 private:
  template <size_t N>
  static std::array<uint32_t, N> CodeLengthCosts(const std::array<uint32_t, N>& freq) {
    std::array<uint32_t, N> weight{};
    for (size_t s = 0; s < N; ++s) weight[s] = freq[s] == 0 ? 1 : 2 * freq[s];
    std::array<uint8_t, N> lengths{};
    LimitedCodeLengths(weight.data(), N, kMaxCodeLength, lengths.data());
    std::array<uint32_t, N> cost{};
    std::copy(lengths.begin(), lengths.end(), cost.begin());
    return cost;
  }

  static CostModel FromSymbolCosts(const uint32_t* lit, const uint32_t* dist) {
    CostModel m;
    for (unsigned s = 0; s < 256; ++s) m.literal[s] = lit[s];
    for (unsigned len = kMinMatch; len <= kMaxMatch; ++len) {
      const Extra e = LengthSymbol(len);
      m.length[len] = lit[e.symbol] + e.bits;
    }
    for (unsigned s = 0; s < kDistanceCodes; ++s) {
      m.distance[s] = dist[s] + DistanceExtraBits(s);
    }
    return m;
  }
};

// How many of the first max_len bytes at a and b agree, eight at a time.
unsigned MatchLength(const uint8_t* a, const uint8_t* b, unsigned max_len) {
  unsigned len = 0;
  for (; len + 8 <= max_len; len += 8) {
    const uint64_t differ = LoadU64(a + len) ^ LoadU64(b + len);
    if (differ != 0) return len + static_cast<unsigned>(std::countr_zero(differ)) / 8;
  }
  while (len < max_len && a[len] == b[len]) ++len;
  return len;
}

// Candidate matches: the latest position of each 3-byte string's hash gives the nearest match
// of 3 (and maybe more), hash chains over 4-byte strings the longer ones. Positions are
// indexes into data.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t end)
      : data_(data),
        end_(end),
        head3_(size_t{1} << kHashBits, -1),
        head4_(size_t{1} << kHashBits, -1),
        back4_(kWindow, 0) {}

  void Insert(size_t p) {
    if (p + 3 > end_) return;
    head3_[Hash(Load3(p))] = static_cast<int64_t>(p);
    if (p + 4 > end_) return;
    const uint32_t h = Hash(Load3(p) | uint32_t{data_[p + 3]} << 24);
    const int64_t pos = static_cast<int64_t>(p);
    const int64_t before = head4_[h];
    back4_[p & (kWindow - 1)] = before >= 0 && pos - before <= static_cast<int64_t>(kWindow)
                                    ? static_cast<uint16_t>(pos - before)
                                    : 0;
    head4_[h] = pos;
  }

  // Appends to pairs, for each longer length found, length << 16 | nearest distance; matches
  // end by limit. Gives the longest length (0 when none).
  unsigned Find(size_t p, size_t limit, std::vector<uint32_t>* pairs) const {
    if (p + kMinMatch > limit) return 0;
    const unsigned max_len = static_cast<unsigned>(std::min<size_t>(kMaxMatch, limit - p));
    const uint8_t* b = data_ + p;
    unsigned best = kMinMatch - 1;
    const int64_t pos = static_cast<int64_t>(p);
    const int64_t window = static_cast<int64_t>(kWindow);
    auto consider = [&](int64_t cand) {
      const uint8_t* a = data_ + cand;
      if (a[best] != b[best] || a[0] != b[0] || a[1] != b[1]) return false;
      const unsigned len = MatchLength(a, b, max_len);
      if (len <= best) return false;
      best = len;
      pairs->push_back(len << 16 | static_cast<uint32_t>(pos - cand));
      return len >= max_len || len >= kNiceLength;
    };
    const int64_t near = head3_[Hash(Load3(p))];
    if (near >= 0 && pos - near <= window && consider(near)) return best;
    if (max_len < 4) return best >= kMinMatch ? best : 0;
    unsigned depth = kMaxChain;
    for (int64_t cand = head4_[Hash(Load3(p) | uint32_t{b[3]} << 24)];
         cand >= 0 && pos - cand <= window && depth > 0; --depth) {
      if (consider(cand)) break;
      const uint16_t back = back4_[static_cast<size_t>(cand) & (kWindow - 1)];
      if (back == 0) break;
      cand -= back;
    }
    return best >= kMinMatch ? best : 0;
  }

 private:
  static constexpr unsigned kHashBits = 16;
  uint32_t Load3(size_t p) const {
    return data_[p] | uint32_t{data_[p + 1]} << 8 | uint32_t{data_[p + 2]} << 16;
  }
  static uint32_t Hash(uint32_t v) { return (v * 0x9E3779B1u) >> (32 - kHashBits); }
  const uint8_t* data_;
  size_t end_;
  std::vector<int64_t> head3_;
  std::vector<int64_t> head4_;
  // Per position (modulo the window), how far back the one before it on its chain is; 0 for
  // none within the window.
  std::vector<uint16_t> back4_;
};

// The candidates of every position from base on.
struct Candidates {
  size_t base = 0;
  std::vector<uint32_t> start{0};  // per position, the first of its pairs; one more at the end
  std::vector<uint32_t> pairs;

  void Reset(size_t at) {
    base = at;
    start.assign(1, 0);
    pairs.clear();
  }
  // Takes over the candidates of the positions that follow.
  void Append(const Candidates& next) {
    const uint32_t offset = static_cast<uint32_t>(pairs.size());
    for (size_t i = 1; i < next.start.size(); ++i) start.push_back(next.start[i] + offset);
    pairs.insert(pairs.end(), next.pairs.begin(), next.pairs.end());
  }
};

// Finds the candidates of [begin, end) (matches may run on to limit) and appends them to c.
void FindCandidates(MatchFinder& finder, size_t begin, size_t end, size_t limit, Candidates* c) {
  size_t skip_to = begin;
  for (size_t p = begin; p < end; ++p) {
    if (p >= skip_to) {
      const unsigned longest = finder.Find(p, limit, &c->pairs);
      if (longest >= kNiceLength) skip_to = p + longest;
    }
    finder.Insert(p);
    c->start.push_back(static_cast<uint32_t>(c->pairs.size()));
  }
}

// The cheapest parse of data[begin, end) under the model.
void Parse(const uint8_t* data, size_t begin, size_t end, const Candidates& c,
           const CostModel& model, std::vector<uint32_t>* cost, std::vector<Item>* reach,
           std::vector<Item>* items) {
  const size_t n = end - begin;
  cost->assign(n + 1, std::numeric_limits<uint32_t>::max());
  reach->assign(n + 1, 0);
  (*cost)[0] = 0;
  const size_t first = begin - c.base;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t here = (*cost)[i];
    const uint32_t lit = here + model.literal[data[begin + i]];
    if (lit < (*cost)[i + 1]) {
      (*cost)[i + 1] = lit;
      (*reach)[i + 1] = data[begin + i];
    }
    unsigned shorter = kMinMatch - 1;
    const unsigned room = static_cast<unsigned>(std::min<size_t>(n - i, kMaxMatch));
    for (uint32_t k = c.start[first + i]; k < c.start[first + i + 1] && shorter < room; ++k) {
      const unsigned len = std::min(c.pairs[k] >> 16, room);
      const unsigned dist = c.pairs[k] & 0xFFFF;
      const uint32_t base = here + model.distance[DistanceSymbol(dist).symbol];
      for (unsigned l = shorter + 1; l <= len; ++l) {
        const uint32_t total = base + model.length[l];
        if (total < (*cost)[i + l]) {
          (*cost)[i + l] = total;
          (*reach)[i + l] = MatchItem(l, dist);
        }
      }
      shorter = len;
    }
  }
  items->clear();
  for (size_t at = n; at > 0;) {
    const Item item = (*reach)[at];
    items->push_back(item);
    at -= item < 256 ? 1 : item >> 16;
  }
  std::reverse(items->begin(), items->end());
}

Frequencies operator+(const Frequencies& a, const Frequencies& b) {
  Frequencies f;
  for (unsigned s = 0; s < kLiteralCodes; ++s) f.literal[s] = a.literal[s] + b.literal[s];
  for (unsigned s = 0; s < kDistanceCodes; ++s) f.distance[s] = a.distance[s] + b.distance[s];
  f.literal[kEndOfBlock] = 1;
  return f;
}

// The smaller of the dynamic block (codes filled in) and the fixed block, in bits.
struct BlockSize {
  uint64_t bits;
  bool fixed;
};
BlockSize MeasureBlock(const Frequencies& f, BlockCodes* codes) {
  BuildCodes(f, codes);
  const uint64_t dynamic_bits = codes->header_bits + SymbolBits(f, *codes);
  const uint64_t fixed_bits = SymbolBits(f, Fixed());
  return {std::min(dynamic_bits, fixed_bits), fixed_bits <= dynamic_bits};
}

// A parsed stretch of input and what it costs as one block.
struct Parsed {
  size_t begin = 0;
  size_t end = 0;
  std::vector<Item> items;
  Frequencies freq;
  BlockSize size{};
};

// Parses data[begin, end) passes times, each pass priced by the counts of the one before
// (the first by model), and keeps the smallest result in best unless best (from an earlier
// call, fresh false) is smaller. model ends priced by best's counts.
void ParseBest(const uint8_t* data, size_t begin, size_t end, const Candidates& c, int passes,
               bool fresh, CostModel* model, Parsed* best) {
  std::vector<uint32_t> cost;
  std::vector<Item> reach, items;
  BlockCodes codes;
  if (fresh) {
    best->begin = begin;
    best->end = end;
    best->size.bits = std::numeric_limits<uint64_t>::max();
  }
  for (int pass = 0; pass < passes; ++pass) {
    Parse(data, begin, end, c, *model, &cost, &reach, &items);
    const Frequencies f = Count(items);
    const BlockSize size = MeasureBlock(f, &codes);
    if (size.bits < best->size.bits) {
      best->size = size;
      best->freq = f;
      best->items.swap(items);
    }
    *model = CostModel::FromFrequencies(f);
  }
  *model = CostModel::FromFrequencies(best->freq);
}

}  // namespace

// Writes whole blocks into the encoder's bit stream.
class BlockWriter {
 public:
  explicit BlockWriter(DeflateEncoder* e) : e_(e) {}

  void Symbols(const std::vector<Item>& items, const SymbolCodes& c) {
    for (Item item : items) {
      if (item < 256) {
        e_->PutBits(c.literal_codes[item], c.literal_lengths[item]);
        continue;
      }
      const Extra l = LengthSymbol(item >> 16);
      e_->PutBits(c.literal_codes[l.symbol], c.literal_lengths[l.symbol]);
      e_->PutBits(l.value, l.bits);
      const Extra d = DistanceSymbol(item & 0xFFFF);
      e_->PutBits(c.distance_codes[d.symbol], c.distance_lengths[d.symbol]);
      e_->PutBits(d.value, d.bits);
    }
    e_->PutBits(c.literal_codes[kEndOfBlock], c.literal_lengths[kEndOfBlock]);
  }

  void Dynamic(const std::vector<Item>& items, const BlockCodes& c, bool final) {
    e_->PutBits(final ? 1 : 0, 1);
    e_->PutBits(2, 2);
    e_->PutBits(c.hlit - 257, 5);
    e_->PutBits(c.hdist - 1, 5);
    e_->PutBits(c.hclen - 4, 4);
    for (unsigned i = 0; i < c.hclen; ++i) e_->PutBits(c.clen_lengths[kLengthCodeOrder[i]], 3);
    for (uint16_t t : c.tokens) {
      const unsigned s = t & 0xFF;
      e_->PutBits(c.clen_codes[s], c.clen_lengths[s]);
      if (s >= 16) e_->PutBits(t >> 8, s == 16 ? 2 : s == 17 ? 3 : 7);
    }
    Symbols(items, c);
  }

  void FixedBlock(const std::vector<Item>& items, bool final) {
    const FixedCodes& f = Fixed();
    e_->PutBits(final ? 1 : 0, 1);
    e_->PutBits(1, 2);
    Symbols(items, f);
  }

 private:
  DeflateEncoder* e_;
};

DeflateEncoder::DeflateEncoder(std::vector<uint8_t>* out) : out_(out) {}

void DeflateEncoder::PutBits(uint32_t bits, unsigned count) {
  bit_buffer_ |= uint64_t{bits} << bit_count_;
  bit_count_ += count;
  while (bit_count_ >= 8) {
    out_->push_back(static_cast<uint8_t>(bit_buffer_));
    bit_buffer_ >>= 8;
    bit_count_ -= 8;
  }
}

void DeflateEncoder::AlignToByte() {
  if (bit_count_ > 0) PutBits(0, 8 - bit_count_);
}

void DeflateEncoder::Finish() { AlignToByte(); }

void DeflateEncoder::Store(const uint8_t* data, size_t begin, size_t end, bool final) {
  if (begin == end && !final) return;
  do {
    const size_t n = std::min<size_t>(end - begin, 65535);
    PutBits(final && begin + n == end ? 1 : 0, 1);
    PutBits(0, 2);
    AlignToByte();
    PutBits(static_cast<uint32_t>(n), 16);
    PutBits(static_cast<uint32_t>(~n & 0xFFFF), 16);
    out_->insert(out_->end(), data + begin, data + begin + n);
    begin += n;
  } while (begin < end);
}

void DeflateEncoder::Compress(const uint8_t* data, size_t begin, size_t end, bool final) {
  BlockWriter writer(this);
  if (begin == end) {
    if (final) writer.FixedBlock({}, true);
    return;
  }
  MatchFinder finder(data, end);
  for (size_t p = begin - std::min(begin, kWindow); p < begin; ++p) finder.Insert(p);
  // The first parse is priced by the fixed codes; each later one by the counts before it.
  CostModel model = CostModel::FromLengths(Fixed());
  // Segments are parsed one by one and gathered; the cheapest cut of the gathered segments
  // into blocks of whole segments is then written, all but its last block, which may still
  // grow with the segments that follow.
  struct Segment {
    Parsed parsed;
    Candidates candidates;
  };
  std::vector<Segment> segments;
  BlockCodes codes;
  // Writes segments [first, last) as one block; several are parsed again as a whole, priced
  // by their joint counts.
  auto write_block = [&](size_t first, size_t last, bool final_block) {
    Parsed block = std::move(segments[first].parsed);
    Candidates candidates = std::move(segments[first].candidates);
    for (size_t k = first + 1; k < last; ++k) {
      const Parsed& next = segments[k].parsed;
      block.end = next.end;
      block.items.insert(block.items.end(), next.items.begin(), next.items.end());
      block.freq = block.freq + next.freq;
      candidates.Append(segments[k].candidates);
    }
    if (last - first > 1) {
      block.size = MeasureBlock(block.freq, &codes);
      CostModel joint = CostModel::FromFrequencies(block.freq);
      Parsed again;
      ParseBest(data, block.begin, block.end, candidates, kBlockPasses, true, &joint, &again);
      if (again.size.bits < block.size.bits) std::swap(block, again);
    }
    // Stored costs the bytes, a header per 65,535 and the padding to a byte.
    const size_t n = block.end - block.begin;
    const uint64_t stored_bits = 8 * uint64_t{n} + (n / 65535 + 1) * 40;
    if (stored_bits < block.size.bits) {
      Store(data, block.begin, block.end, final_block);
    } else if (block.size.fixed) {
      writer.FixedBlock(block.items, final_block);
    } else {
      BuildCodes(block.freq, &codes);
      writer.Dynamic(block.items, codes, final_block);
    }
  };
  auto write_blocks = [&](bool at_end) {
    const size_t count = segments.size();
    std::vector<uint64_t> best(count + 1, std::numeric_limits<uint64_t>::max());
    std::vector<size_t> from(count + 1, 0);
    best[0] = 0;
    for (size_t j = 1; j <= count; ++j) {
      Frequencies joint;
      for (size_t i = j; i-- > 0;) {
        joint = joint + segments[i].parsed.freq;
        const uint64_t bits =
            i + 1 == j ? segments[i].parsed.size.bits : MeasureBlock(joint, &codes).bits;
        if (best[i] + bits < best[j]) {
          best[j] = best[i] + bits;
          from[j] = i;
        }
      }
    }
    std::vector<size_t> cuts;
    for (size_t j = count; j > 0; j = from[j]) cuts.push_back(from[j]);
    std::reverse(cuts.begin(), cuts.end());
    cuts.push_back(count);
    const size_t blocks = at_end || cuts.size() == 2 ? cuts.size() - 1 : cuts.size() - 2;
    for (size_t k = 0; k < blocks; ++k) {
      write_block(cuts[k], cuts[k + 1], final && at_end && k + 1 == blocks);
    }
    segments.erase(segments.begin(), segments.begin() + static_cast<ptrdiff_t>(cuts[blocks]));
  };
  for (size_t at = begin; at < end;) {
    const size_t segment_end = std::min(end, at + kSegment);
    Segment& segment = segments.emplace_back();
    segment.candidates.Reset(at);
    FindCandidates(finder, at, segment_end, end, &segment.candidates);
    ParseBest(data, at, segment_end, segment.candidates, kSegmentPasses, true, &model,
              &segment.parsed);
    // Now and then the parse starts over from the fixed codes too: the counts it carries from
    // segment to segment can hold it in a poor choice (no matches, say, where literals became
    // cheap because all are literals).
    if (at > begin && (at - begin) / kSegment % kFreshStart == 0) {
      model = CostModel::FromLengths(Fixed());
      ParseBest(data, at, segment_end, segment.candidates, kSegmentPasses, false, &model,
                &segment.parsed);
    }
    at = segment_end;
    if (segments.size() == kGatheredSegments || at == end) write_blocks(at == end);
  }
}

}  // namespace gp
