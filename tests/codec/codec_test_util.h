// Helpers of the codec tests: a code stream built bit by bit, block framing, a memory sink
// and seeded test data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/lzw_decoder.h"

namespace gp::test {

// Codes packed least significant bit first, each with the width the test gives it.
class CodeStream {
 public:
  CodeStream& Put(uint32_t code, unsigned width) {
    for (unsigned j = 0; j < width; ++j) {
      if (bit_ % 8 == 0) bytes_.push_back(0);
      if ((code >> j) & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bit_ % 8));
      ++bit_;
    }
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bit_ = 0;
};

// Frames a code stream in blocks of block_length bytes (the last one shorter), then appends
// the closing zero-length block when asked to.
inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& stream, size_t block_length,
                                  bool closing_block = true) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < stream.size(); at += block_length) {
    const size_t n = std::min(block_length, stream.size() - at);
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.insert(out.end(), stream.begin() + static_cast<ptrdiff_t>(at),
               stream.begin() + static_cast<ptrdiff_t>(at + n));
  }
  if (closing_block) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

class MemorySink : public LzwSink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    ++writes;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
  int writes = 0;
};

inline std::vector<uint8_t> RandomBytes(uint32_t seed, size_t size) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// English-like text: words drawn from a small vocabulary with punctuation and line breaks.
inline std::vector<uint8_t> TextBytes(uint32_t seed, size_t size) {
  static const char* const kWords[] = {
      "the",   "payload", "update",  "folder", "generation", "file",   "list",
      "stage", "commit",  "package", "of",     "and",        "a",      "to",
      "which", "is",      "diff",    "stream", "checksum",   "backup", "program"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const std::string word = kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    out.insert(out.end(), word.begin(), word.end());
    const uint32_t r = rng() % 16;
    out.push_back(r == 0 ? '\n' : r == 1 ? '.' : ' ');
  }
  out.resize(size);
  return out;
}

// Repetitive data: a short pattern with an occasional changed byte.
inline std::vector<uint8_t> RepetitiveBytes(uint32_t seed, size_t size) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>("ABCDABCEFGH"[i % 11]);
  for (size_t i = 0; i < size / 5000; ++i) out[rng() % size] = static_cast<uint8_t>(rng());
  return out;
}

}  // namespace gp::test
