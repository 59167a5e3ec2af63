// Builders of the data streams the update engine reads, byte by byte, so that tests can also
// make malformed ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/endian.h"

namespace gp::test {

struct StampDescription {
  uint16_t year = 2003;
  uint8_t month = 11;
  uint8_t day = 12;
  uint8_t hour = 15;
  uint8_t minute = 37;
  uint8_t second = 52;
  uint8_t millisecond = 0;
  uint32_t attributes = 0x20;
};

inline std::vector<uint8_t> EntryHeaderBytes(const StampDescription& s = StampDescription()) {
  std::vector<uint8_t> out(12);
  StoreU16(out.data(), s.year);
  out[2] = s.month;
  out[3] = s.day;
  out[4] = s.hour;
  out[5] = s.minute;
  out[6] = s.second;
  out[7] = s.millisecond;
  StoreU32(out.data() + 8, s.attributes);
  return out;
}

// A diff file, command by command.
class DiffBytes {
 public:
  explicit DiffBytes(const StampDescription& stamp = StampDescription()) : bytes_(EntryHeaderBytes(stamp)) {}
  DiffBytes& Literal(const std::string& data) {
    Word(static_cast<uint16_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  DiffBytes& Literal(const std::vector<uint8_t>& data) {
    Word(static_cast<uint16_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  DiffBytes& ShortCopy(uint16_t length, uint32_t offset) {
    Word(static_cast<uint16_t>(0x8000 + length));
    U32(offset);
    return *this;
  }
  DiffBytes& LongCopy(uint32_t offset, uint32_t length) {
    Word(0x8000);
    U32(offset);
    U32(length);
    return *this;
  }
  DiffBytes& Word(uint16_t word) {
    uint8_t b[2];
    StoreU16(b, word);
    bytes_.insert(bytes_.end(), b, b + 2);
    return *this;
  }
  DiffBytes& U32(uint32_t value) {
    uint8_t b[4];
    StoreU32(b, value);
    bytes_.insert(bytes_.end(), b, b + 4);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A whole-file stream with blocks of the given sizes taken from content in order (the sizes
// are written as given, so they may be malformed).
inline std::vector<uint8_t> WholeFileBytes(const std::vector<uint8_t>& content,
                                           const std::vector<size_t>& blocks,
                                           const StampDescription& stamp = StampDescription()) {
  std::vector<uint8_t> out = EntryHeaderBytes(stamp);
  size_t pos = 0;
  for (size_t n : blocks) {
    uint8_t b[2];
    StoreU16(b, static_cast<uint16_t>(n));
    out.insert(out.end(), b, b + 2);
    const size_t take = n < content.size() - pos ? n : content.size() - pos;
    out.insert(out.end(), content.begin() + static_cast<std::ptrdiff_t>(pos),
               content.begin() + static_cast<std::ptrdiff_t>(pos + take));
    pos += take;
  }
  return out;
}

}  // namespace gp::test
