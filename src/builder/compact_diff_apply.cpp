#include "builder/compact_diff_apply.h"

#include <algorithm>

#include "codec/address_map.h"
#include "codec/compact_diff_decoder.h"
#include "codec/crc32.h"
#include "codec/x86_filter.h"
#include "format/compact.h"

namespace gp::builder {

namespace {

struct Cursor {
  std::span<const uint8_t> data;
  size_t at = 0;
  bool ReadVarint(uint64_t* value) {
    const size_t n = format::ParseVarint(data.data() + at, data.size() - at, value);
    at += n;
    return n != 0;
  }
  size_t remaining() const { return data.size() - at; }
};

bool ApplyCodedDiff(std::span<const uint8_t> old_file, const format::CompactDiffHeader& h,
                    const std::span<const uint8_t> (&section)[format::kCompactSectionCount],
                    std::vector<uint8_t>* out) {
  codec::CoderInput inputs[format::kCompactSectionCount];
  for (size_t i = 0; i < format::kCompactSectionCount; ++i) {
    inputs[i].next = section[i].data();
    inputs[i].end = section[i].data() + section[i].size();
  }
  struct Files {
    std::span<const uint8_t> old_file;
    std::vector<uint8_t>* out;
  } files{old_file, out};
  codec::CompactDiffIo io;
  io.control = &inputs[format::kControlSection];
  io.differences = &inputs[format::kDifferenceSection];
  io.literals = &inputs[format::kLiteralSection];
  io.old_size = old_file.size();
  io.new_size = h.new_size;
  io.owner = &files;
  io.read_old = [](void* owner, uint64_t position, uint8_t* to, size_t n) {
    const auto& old = static_cast<Files*>(owner)->old_file;
    std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(position), n, to);
    return true;
  };
  io.write = [](void* owner, const uint8_t* data, size_t n) {
    std::vector<uint8_t>* o = static_cast<Files*>(owner)->out;
    o->insert(o->end(), data, data + n);
    return true;
  };
  return codec::DecodeCompactDiff(io) && out->size() == h.new_size;
}

bool ApplySections(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                   const format::CompactDiffHeader& h, std::vector<uint8_t>* out) {
  std::span<const uint8_t> section[format::kCompactSectionCount];
  for (size_t i = 0; i < format::kCompactSectionCount; ++i) {
    section[i] = diff.subspan(static_cast<size_t>(h.offset[i]), static_cast<size_t>(h.length[i]));
    if (Crc32Update(0, section[i].data(), static_cast<int64_t>(section[i].size())) != h.crc[i]) {
      return false;
    }
  }
  if (h.coded) return ApplyCodedDiff(old_file, h, section, out);
  Cursor control{section[format::kControlSection]};
  Cursor differences{section[format::kDifferenceSection]};
  Cursor literals{section[format::kLiteralSection]};
  uint64_t zeros = 0;
  uint64_t bytes = 0;
  format::RawControl steps(old_file.size(), h.new_size);
  while (control.remaining() > 0) {
    uint64_t add = 0, literal = 0, seek = 0;
    if (!format::ReadRawTriple(control, &add, &literal, &seek)) return false;
    const uint64_t position = steps.position();
    if (!steps.Take(add, literal)) return false;
    for (uint64_t i = 0; i < add; ++i) {
      while (zeros == 0 && bytes == 0) {
        if (!differences.ReadVarint(&zeros) || !differences.ReadVarint(&bytes) ||
            (zeros == 0 && bytes == 0)) {
          return false;
        }
      }
      uint8_t d = 0;
      if (zeros > 0) {
        --zeros;
      } else {
        if (differences.remaining() == 0) return false;
        d = differences.data[differences.at++];
        --bytes;
      }
      out->push_back(static_cast<uint8_t>(old_file[static_cast<size_t>(position + i)] + d));
    }
    if (literal > literals.remaining()) return false;
    out->insert(out->end(), literals.data.begin() + static_cast<std::ptrdiff_t>(literals.at),
                literals.data.begin() + static_cast<std::ptrdiff_t>(literals.at + literal));
    literals.at += static_cast<size_t>(literal);
    if (!steps.Seek(seek)) return false;
  }
  return out->size() == h.new_size && zeros == 0 && bytes == 0 && differences.remaining() == 0 &&
         literals.remaining() == 0;
}

// The map of the diff's adds (GPD5, GPD6), from its control section.
bool CollectAdds(uint64_t old_size, std::span<const uint8_t> diff,
                 const format::CompactDiffHeader& h, codec::AddressMap* map) {
  const std::span<const uint8_t> section =
      diff.subspan(static_cast<size_t>(h.offset[format::kControlSection]),
                   static_cast<size_t>(h.length[format::kControlSection]));
  if (h.coded) {
    codec::CoderInput input;
    input.next = section.data();
    input.end = section.data() + section.size();
    return codec::CollectCodedAdds(&input, old_size, h.new_size, map);
  }
  Cursor control{section};
  return codec::CollectRawAdds(control, old_size, h.new_size, map);
}

}  // namespace

bool ApplyCompactDiff(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                      std::vector<uint8_t>* out, uint64_t max_size) {
  out->clear();
  format::CompactDiffHeader h;
  if (!format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &h) ||
      h.new_size > max_size) {
    return false;
  }
  if (h.x86) {
    // Rebuild the filtered new file from the filtered (or filtered and predicted) old one,
    // then turn it back.
    std::vector<uint8_t> filtered(old_file.begin(), old_file.end());
    if (h.predict) {
      codec::AddressMap map;
      if (!CollectAdds(filtered.size(), diff, h, &map)) return false;
      codec::X86PredictAll(filtered.data(), filtered.size(), map);
    } else {
      codec::X86FilterAll(filtered.data(), filtered.size(), true);
    }
    if (!ApplySections(filtered, diff, h, out)) return false;
    codec::X86FilterAll(out->data(), out->size(), false);
    return true;
  }
  return ApplySections(old_file, diff, h, out);
}

}  // namespace gp::builder
