#include "format/trailer.h"

#include <cstring>

#include "base/endian.h"

namespace gp::format {

namespace {

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void AppendMagic(std::vector<uint8_t>& out) {
  out.insert(out.end(), kTrailerMagic, kTrailerMagic + kTrailerMagicSize);
}

}  // namespace

TrailerStatus ReadTrailer(PackageForm form, std::span<const uint8_t> tail, uint64_t file_size,
                          PackageLayout* layout) {
  const size_t trailer_size = TrailerSize(form);
  if (file_size < trailer_size || tail.size() < trailer_size || tail.size() > file_size) {
    return TrailerStatus::kTooSmall;
  }
  const uint8_t* trailer = tail.data() + tail.size() - trailer_size;
  if (std::memcmp(trailer + trailer_size - kTrailerMagicSize, kTrailerMagic, kTrailerMagicSize) !=
      0) {
    return TrailerStatus::kBadMagic;
  }
  PackageLayout out;
  out.form = form;
  out.header_length = LoadU32(trailer + trailer_size - kTrailerMagicSize - 4);
  const uint64_t before_trailer = file_size - trailer_size;
  if (out.header_length > before_trailer) return TrailerStatus::kHeaderOutside;
  out.header_offset = before_trailer - out.header_length;
  if (form == PackageForm::kDataFile) {
    out.payload_offset = 0;
    out.payload_length = out.header_offset;
    *layout = out;
    return TrailerStatus::kOk;
  }
  out.payload_length = LoadU32(trailer);
  *layout = out;
  if (out.payload_length > out.header_offset) return TrailerStatus::kPayloadOutside;
  layout->payload_offset = out.header_offset - out.payload_length;
  return TrailerStatus::kOk;
}

std::vector<uint8_t> ExecutableTrailer(uint32_t payload_length, uint32_t header_length) {
  std::vector<uint8_t> out;
  AppendU32(out, payload_length);
  AppendU32(out, header_length);
  AppendMagic(out);
  return out;
}

std::vector<uint8_t> DataFileTrailer(uint32_t header_length) {
  std::vector<uint8_t> out;
  AppendU32(out, header_length);
  AppendMagic(out);
  return out;
}

}  // namespace gp::format
