// The context models of GPD2 diffs (format/compact.h), one per section, shared by the encoder
// (builder/compact_diff_encoder.cpp, with BitEncoder) and the decoder (compact_diff_decoder.cpp,
// with BitDecoder). Each Code function takes the value to write (ignored when decoding) and
// returns the value coded, so both sides update the same state in the same order.
//
// Differences: every difference byte of the adds: a flag (zero or not) mixed from the last
// flags, the old bytes at and before the position and the distance since the last non-zero
// byte; a non-zero byte through a bit tree mixed from the old byte at the position (a relocated
// address differs from it by a small amount) and the previous non-zero difference. Inside long
// zero runs one bit stands for a block of kBlock zeros.
// Literals: a bit tree per byte mixed from the order-1 and order-2 contexts, two sparse
// contexts with the position mod 4 (machine code's fields and instructions), and a match model
// (the byte that followed the last occurrence of the last six literals).
// Control: each number (seek, add, literal) as its bit length through a bit tree mixed from
// the field and the field's previous bit length, then the bits below the leading one, the
// first two modelled, the rest nearly flat.
//
// Memory: about 3.7 MiB in all (CompactModels), allocated by the caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/range_coder.h"

namespace gp::codec {

// Mixes N stretched predictions with one of Sets weight vectors (16.16 fixed point), each
// trained online towards a lower coding cost.
template <int N, size_t Sets>
class Mixer {
 public:
  Mixer() { weights_.fill(65536 / N); }
  void Set(int i, int stretched) { in_[i] = stretched; }
  int Mix(size_t set) {
    w_ = &weights_[set * N];
    int64_t dot = 0;
    for (int i = 0; i < N; ++i) dot += static_cast<int64_t>(in_[i]) * w_[i];
    int x = static_cast<int>(dot >> 16);
    x = x < -2047 ? -2047 : (x > 2047 ? 2047 : x);
    p_ = Squash(x);
    return p_ < 1 ? 1 : (p_ > kProbabilityOne - 1 ? kProbabilityOne - 1 : p_);
  }
  void Update(int bit, int shift) {
    const int err = (bit << kProbabilityBits) - p_;
    for (int i = 0; i < N; ++i) w_[i] += (in_[i] * err) >> shift;
  }

 private:
  std::array<int32_t, N * Sets> weights_;
  int32_t* w_ = nullptr;
  int in_[N] = {};
  int p_ = kProbabilityOne / 2;
};

class DifferenceModel {
 public:
  static constexpr uint64_t kBlock = 32;

  // Codes the difference byte at an old position whose byte is old_byte, the byte added before
  // it old_prev (0 at the start); left is the number of add bytes from this one to the end of
  // the add. Inside a zero run a whole block of kBlock zeros is one bit: zeros_ahead says
  // whether the block from this byte on is all zeros (the encoder's knowledge; ignored when
  // decoding).
  // The zero bytes left of the current block, up to max, taken at once (the decoder's fast
  // path; Code takes them one at a time).
  uint64_t TakeBlockZeros(uint64_t max) {
    const uint64_t k = pending_ < max ? pending_ : max;
    pending_ -= k;
    return k;
  }

  template <class Coder>
  int Code(Coder& coder, int diff, int old_byte, int old_prev, uint64_t left, bool zeros_ahead) {
    if (pending_ > 0) {  // the rest of a block of zeros
      --pending_;
      return 0;
    }
    if (cooldown_ > 0) {
      --cooldown_;
    } else if (flags_ == 0 && left >= kBlock) {
      Counter& c = block_[(run_ < 15 ? run_ : 15)];
      const int zeros = coder.Code(zeros_ahead ? 1 : 0, c.P());
      c.Update(zeros, 60);
      if (zeros != 0) {
        pending_ = kBlock - 1;
        ++run_;
        return 0;
      }
      run_ = 0;
      cooldown_ = kBlock - 1;
    }
    const Logistic& lg = LogisticTables();
    const size_t h = flags_ & 0xFFF;
    const size_t o = (static_cast<size_t>(old_prev) << 9) | (static_cast<size_t>(old_byte) << 1) |
                     (flags_ & 1);
    const size_t d = (since_ < 15 ? since_ : 15) * 256 + static_cast<size_t>(old_byte);
    flag_mix_.Set(0, lg.Stretch(by_flags_[h].P()));
    flag_mix_.Set(1, lg.Stretch(by_old_[o].P()));
    flag_mix_.Set(2, lg.Stretch(by_distance_[d].P()));
    flag_mix_.Set(3, 256);
    const int nonzero = coder.Code(diff != 0 ? 1 : 0, flag_mix_.Mix(flags_ & 0xFF));
    flag_mix_.Update(nonzero, 10);
    by_flags_[h].Update(nonzero, 60);
    by_old_[o].Update(nonzero, 60);
    by_distance_[d].Update(nonzero, 60);
    flags_ = (flags_ << 1) | static_cast<uint32_t>(nonzero);
    if (nonzero == 0) {
      if (since_ < 255) ++since_;
      return 0;
    }
    since_ = 0;
    int node = 1;
    for (int i = 7; i >= 0; --i) {
      Counter& a = by_old_byte_[static_cast<size_t>(old_byte) * 256 + static_cast<size_t>(node)];
      Counter& b = by_prev_[static_cast<size_t>(prev_) * 256 + static_cast<size_t>(node)];
      byte_mix_.Set(0, lg.Stretch(a.P()));
      byte_mix_.Set(1, lg.Stretch(b.P()));
      byte_mix_.Set(2, 256);
      const int bit = coder.Code((diff >> i) & 1, byte_mix_.Mix(static_cast<size_t>(node)));
      byte_mix_.Update(bit, 10);
      a.Update(bit, 30);
      b.Update(bit, 30);
      node = (node << 1) | bit;
    }
    prev_ = node & 0xFF;
    return prev_;
  }

 private:
  std::array<Counter, 1 << 12> by_flags_;
  std::array<Counter, 1 << 17> by_old_;
  std::array<Counter, 16 * 256> by_distance_;
  std::array<Counter, 256 * 256> by_old_byte_;
  std::array<Counter, 256 * 256> by_prev_;
  std::array<Counter, 16> block_;  // by the number of zero blocks before, up to 15
  Mixer<4, 256> flag_mix_;
  Mixer<3, 256> byte_mix_;
  uint32_t flags_ = 0;
  uint32_t since_ = 0;
  uint32_t run_ = 0;
  uint64_t pending_ = 0;
  uint64_t cooldown_ = 0;
  int prev_ = 0;
};

class LiteralModel {
 public:
  template <class Coder>
  int Code(Coder& coder, int byte) {
    const Logistic& lg = LogisticTables();
    const int expected = match_length_ > 0 ? window_[match_ & (kWindow - 1)] : -1;
    const size_t length_class = LengthClass();
    Counter* const o1 = &o1_[(hist_ & 0xFF) * 256];
    // Hashed contexts: the last two bytes; the second last with the position mod 4; the
    // third and fourth last with the position mod 4 (the last two suit text, the others the
    // fields and instructions of machine code).
    const uint32_t phase = count_ & 3;
    const uint32_t hashes[kHashed] = {(hist_ & 0xFFFF) * 0x9E3779B1u,
                                      ((hist_ & 0xFF00) | phase << 16) * 0x27D4EB2Fu,
                                      ((hist_ & 0xFFFF0000) | phase) * 0x165667B1u};
    Counter* slot[kHashed] = {};
    int node = 1;
    size_t in_nibble = 1;
    for (int i = 7; i >= 0; --i) {
      if (i == 7 || i == 3) {
        // A slot of 16 counters (one cache line) per context and half byte.
        in_nibble = 1;
        const uint32_t nibble = static_cast<uint32_t>(node) * 0x3C6EF372u;
        for (size_t k = 0; k < kHashed; ++k) {
          slot[k] = &hashed_[(k << kSlotBits | (hashes[k] ^ nibble) >> (32 - kSlotBits)) * 16];
        }
      }
      Counter& order1 = o1[node];
      mix_.Set(0, lg.Stretch(order1.P()));
      for (size_t k = 0; k < kHashed; ++k) {
        mix_.Set(static_cast<int>(1 + k), lg.Stretch(slot[k][in_nibble].P()));
      }
      // The match model: while the bits so far agree with the expected byte, its next bit,
      // with a confidence learnt per match length.
      Counter* match = nullptr;
      int expected_bit = 0;
      size_t set = 0;
      if (expected >= 0 && ((expected | 0x100) >> (i + 1)) == node) {
        expected_bit = (expected >> i) & 1;
        match = &match_model_[length_class];
        const int st = lg.Stretch(match->P());
        mix_.Set(kHashed + 1, expected_bit != 0 ? st : -st);
        set = 1 + length_class;
      } else {
        mix_.Set(kHashed + 1, 0);
      }
      mix_.Set(kHashed + 2, 256);
      const int bit = coder.Code((byte >> i) & 1, mix_.Mix(set * 8 + static_cast<size_t>(i)));
      mix_.Update(bit, 10);
      order1.Update(bit, kLimit);
      for (size_t k = 0; k < kHashed; ++k) slot[k][in_nibble].Update(bit, kLimit);
      if (match != nullptr) match->Update(bit == expected_bit ? 1 : 0, 60);
      node = (node << 1) | bit;
      in_nibble = (in_nibble << 1) | static_cast<size_t>(bit);
    }
    const int value = node & 0xFF;
    Append(static_cast<uint8_t>(value));
    return value;
  }

 private:
  static constexpr size_t kHashed = 3;
  static constexpr int kSlotBits = 13;           // 8 Ki slots (512 KiB) a hashed context
  static constexpr int kLimit = 6;               // literals change quickly: counters stay agile
  static constexpr uint32_t kWindow = 1u << 19;  // literals kept for the match model
  static constexpr int kMatchTableBits = 16;
  static constexpr uint32_t kMinMatch = 6;
  static constexpr uint32_t kMaxVerified = 31;

  // 0 below 16 bytes, 1 to 8 up to 31, 9 to 12 up to 63, then 13, 14 from 512.
  size_t LengthClass() const {
    const uint32_t n = match_length_;
    if (n < 16) return 0;
    if (n < 32) return 1 + (n - 16) / 2;
    if (n < 64) return 9 + (n - 32) / 8;
    return n < 512 ? 13 : 14;
  }

  void Append(uint8_t byte) {
    if (match_length_ > 0) {
      if (window_[match_ & (kWindow - 1)] == byte) {
        ++match_length_;
        ++match_;
      } else {
        match_length_ = 0;
      }
    }
    window_[count_ & (kWindow - 1)] = byte;
    ++count_;
    hist_ = (hist_ << 8) | byte;
    match_hash_ = (match_hash_ << 5) ^ (byte + 1u);  // the last six bytes, about 5 bits each
    if (count_ < kMinMatch) return;
    const uint32_t h = ((match_hash_ & 0x3FFFFFFF) * 0x9E3779B1u) >> (32 - kMatchTableBits);
    if (match_length_ == 0) {
      // A candidate is taken when at least kMinMatch bytes before it agree.
      const uint32_t candidate = table_[h];
      if (candidate > 0 && count_ - candidate < kWindow - kMaxVerified) {
        uint32_t n = 0;
        while (n < kMaxVerified && n < candidate &&
               window_[(candidate - 1 - n) & (kWindow - 1)] ==
                   window_[(count_ - 1 - n) & (kWindow - 1)]) {
          ++n;
        }
        if (n >= kMinMatch) {
          match_ = candidate;
          match_length_ = n;
        }
      }
    }
    table_[h] = count_;
  }

  alignas(64) std::array<Counter, (kHashed << kSlotBits) * 16> hashed_;
  std::array<Counter, 256 * 256> o1_;
  std::array<Counter, 15> match_model_;
  std::array<uint8_t, kWindow> window_{};
  std::array<uint32_t, size_t{1} << kMatchTableBits> table_{};
  Mixer<kHashed + 3, 16 * 8> mix_;
  uint32_t hist_ = 0;
  uint32_t match_hash_ = 0;
  uint32_t count_ = 0;
  uint32_t match_ = 0;
  uint32_t match_length_ = 0;
};

class ControlModel {
 public:
  enum Field { kAdd = 0, kLiteral = 1, kSeek = 2 };

  // Codes value in field f (0 to 2).
  template <class Coder>
  uint64_t CodeNumber(Coder& coder, uint64_t value, int f) {
    const Logistic& lg = LogisticTables();
    int length = 0;
    while (length < 64 && (value >> length) != 0) ++length;
    int node = 1;
    const size_t field = static_cast<size_t>(f);
    for (int i = 6; i >= 0; --i) {
      Counter& a = length_by_field_[field * 128 + static_cast<size_t>(node)];
      Counter& b = length_by_prev_[(field * 65 + static_cast<size_t>(prev_[field])) * 128 +
                                   static_cast<size_t>(node)];
      mix_.Set(0, lg.Stretch(a.P()));
      mix_.Set(1, lg.Stretch(b.P()));
      mix_.Set(2, 256);
      const int bit = coder.Code((length >> i) & 1, mix_.Mix(field * 128 + static_cast<size_t>(node)));
      mix_.Update(bit, 10);
      a.Update(bit, 30);
      b.Update(bit, 30);
      node = (node << 1) | bit;
    }
    length = node & 0x7F;
    if (length > 64) length = 64;  // damage; the caller's bounds refuse the value
    prev_[field] = length;
    if (length <= 1) return static_cast<uint64_t>(length);
    uint64_t out = 1;
    for (int i = length - 2; i >= 0; --i) {
      const int top = length - 2 - i;  // bits already coded below the leading one
      Counter& c = top < 2 ? high_bits_[(field * 65 + static_cast<size_t>(length)) * 4 +
                                        static_cast<size_t>(out & 3)]
                           : low_bits_[field * 64 + static_cast<size_t>(i)];
      const int bit = coder.Code(static_cast<int>((value >> i) & 1), c.P());
      c.Update(bit, top < 2 ? 30 : 60);
      out = (out << 1) | static_cast<uint64_t>(bit);
    }
    return out;
  }
  template <class Coder>
  int CodeSign(Coder& coder, int negative) {
    const int bit = coder.Code(negative, sign_[static_cast<size_t>(prev_[kSeek])].P());
    sign_[static_cast<size_t>(prev_[kSeek])].Update(bit, 30);
    return bit;
  }

 private:
  std::array<Counter, 3 * 128> length_by_field_;
  std::array<Counter, 3 * 65 * 128> length_by_prev_;
  std::array<Counter, 3 * 65 * 4> high_bits_;
  std::array<Counter, 3 * 64> low_bits_;
  std::array<Counter, 65> sign_;
  Mixer<3, 3 * 128> mix_;
  int prev_[3] = {};
};

// All three, allocated together.
struct CompactModels {
  ControlModel control;
  DifferenceModel differences;
  LiteralModel literals;
};

}  // namespace gp::codec
