// The binary range coder of GPD2 diffs (format/compact.h) and its building blocks: adaptive bit
// counters, the logistic domain (stretch and squash) and a mixer of several predictions.
//
// The coder keeps an interval [low, high] of 32-bit values. A bit with probability p (of a one,
// 12 bits) splits it at low + (high - low) / 4096 * p: a one keeps the lower part, a zero the
// upper. While low and high agree in their top byte, that byte is final: the encoder writes it
// and both shift it out. No carry ever propagates. The encoder ends with the four bytes of low,
// so the decoder, which starts by reading four bytes and reads one at every shift, takes
// exactly the bytes the encoder wrote: a section whose bytes are not used up exactly is damaged.
//
// Encoder and decoder share the models: a model codes a bit with Code(bit, p), which the
// encoder writes and returns and the decoder ignores and returns the decoded bit in its place.
// Everything is integer arithmetic, so both sides agree on every platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gp::codec {

inline constexpr int kProbabilityBits = 12;
inline constexpr int kProbabilityOne = 1 << kProbabilityBits;

class BitEncoder {
 public:
  explicit BitEncoder(std::vector<uint8_t>* out) : out_(out) {}
  int Code(int bit, int p) {
    const uint32_t mid = low_ + static_cast<uint32_t>(
                                    (static_cast<uint64_t>(high_ - low_) * static_cast<uint32_t>(p)) >>
                                    kProbabilityBits);
    if (bit != 0) {
      high_ = mid;
    } else {
      low_ = mid + 1;
    }
    while (((low_ ^ high_) & 0xFF000000u) == 0) {
      out_->push_back(static_cast<uint8_t>(high_ >> 24));
      low_ <<= 8;
      high_ = (high_ << 8) | 0xFF;
    }
    return bit;
  }
  void Finish() {
    for (int shift = 24; shift >= 0; shift -= 8) out_->push_back(static_cast<uint8_t>(low_ >> shift));
  }

 private:
  std::vector<uint8_t>* out_;
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFFFFFFu;
};

// Where the decoder takes its bytes: the span [next, end), refilled by refill (which returns
// false when the section has no more bytes). Reading past the section's end gives zeros and
// marks the input as overrun.
struct CoderInput {
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
  bool (*refill)(CoderInput* input) = nullptr;
  void* owner = nullptr;
  bool overrun = false;

  uint8_t Byte() {
    if (next == end && (refill == nullptr || !refill(this) || next == end)) {
      overrun = true;
      return 0;
    }
    return *next++;
  }
  // n bytes into out; false (and overrun) when the section has fewer.
  bool Take(uint8_t* out, size_t n) {
    while (n > 0) {
      if (next == end && (refill == nullptr || !refill(this) || next == end)) {
        overrun = true;
        return false;
      }
      const size_t k = static_cast<size_t>(end - next) < n ? static_cast<size_t>(end - next) : n;
      for (size_t i = 0; i < k; ++i) out[i] = next[i];
      next += k;
      out += k;
      n -= k;
    }
    return true;
  }
  // True when every byte has been taken and none beyond.
  bool UsedUp() { return !overrun && next == end && (refill == nullptr || !refill(this) || next == end); }
};

class BitDecoder {
 public:
  explicit BitDecoder(CoderInput* in) : in_(in) {}
  // Reads the first four bytes.
  void Start() {
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | in_->Byte();
  }
  int Code(int /*bit*/, int p) {
    const uint32_t mid = low_ + static_cast<uint32_t>(
                                    (static_cast<uint64_t>(high_ - low_) * static_cast<uint32_t>(p)) >>
                                    kProbabilityBits);
    const int bit = code_ <= mid ? 1 : 0;
    if (bit != 0) {
      high_ = mid;
    } else {
      low_ = mid + 1;
    }
    while (((low_ ^ high_) & 0xFF000000u) == 0) {
      low_ <<= 8;
      high_ = (high_ << 8) | 0xFF;
      code_ = (code_ << 8) | in_->Byte();
    }
    return bit;
  }

 private:
  CoderInput* in_;
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
};

// An adaptive probability (16 bits) with a count of the bits seen: it moves by 1/(n + 1.5) of
// the error while n is below its limit, then at the limit's rate, so a new context learns fast
// and an old one stays steady.
class Counter {
 public:
  int P() const {  // 12 bits, never 0 or 4096
    const int p = p_ >> 4;
    return p < 1 ? 1 : (p > kProbabilityOne - 1 ? kProbabilityOne - 1 : p);
  }
  void Update(int bit, int limit) {
    const int target = bit != 0 ? 65535 : 0;
    p_ = static_cast<uint16_t>(p_ + (((target - p_) * kRate[n_]) >> 16));
    if (n_ < limit) ++n_;
  }

 private:
  static constexpr std::array<int, 64> kRate = [] {
    std::array<int, 64> r{};
    for (int n = 0; n < 64; ++n) r[static_cast<size_t>(n)] = 131072 / (2 * n + 3);
    return r;
  }();
  uint16_t p_ = 32768;
  uint16_t n_ = 0;
};

// stretch(p) = ln(p / (1 - p)) and its inverse squash, in fixed point: probabilities of 12 bits,
// stretched values of 8 fractional bits within +-2047.
namespace detail {
// 4096 / (1 + e^(-x / 256)) at x = -2048, -1920, ... 2048.
inline constexpr int16_t kSquashPoints[33] = {
    1,    2,    4,    6,    10,   17,   27,   45,   74,   120,  194,  311,  488,  747,  1102, 1546, 2048,
    2550, 2994, 3349, 3608, 3785, 3902, 3976, 4022, 4051, 4069, 4079, 4086, 4090, 4092, 4094, 4095};
}  // namespace detail
// x within -2047 .. 2047.
inline int Squash(int x) {
  const int at = (x + 2048) >> 7;
  const int w = (x + 2048) & 127;
  return (detail::kSquashPoints[at] * (128 - w) + detail::kSquashPoints[at + 1] * w + 64) >> 7;
}
class Logistic {
 public:
  Logistic();
  int Stretch(int p) const { return stretch_[static_cast<size_t>(p)]; }

 private:
  std::array<int16_t, kProbabilityOne> stretch_;
};
const Logistic& LogisticTables();

}  // namespace gp::codec
