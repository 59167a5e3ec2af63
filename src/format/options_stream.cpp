#include "format/options_stream.h"

#include "base/byte_reader.h"

namespace gp::format {

bool ParseOptionsStream(std::span<const uint8_t> stream,
                        std::string_view (&texts)[kOptionsTextCount]) {
  ByteReader reader(stream.data(), stream.size());
  for (std::string_view& text : texts) {
    uint8_t length = 0;
    const uint8_t* bytes = nullptr;
    if (!reader.ReadU8(&length) || !reader.ReadView(length, &bytes)) return false;
    const char* p = reinterpret_cast<const char*>(bytes);
    text = std::string_view(p, BoundedLength(p, length));
  }
  return true;
}

}  // namespace gp::format
