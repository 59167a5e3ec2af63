#include "platform/platform.h"

namespace gp::platform {

std::u16string Cp932ToUtf16Lenient(std::string_view cp932) {
  std::u16string out;
  std::u16string one;
  size_t i = 0;
  while (i < cp932.size()) {
    const bool lead = IsCp932LeadByte(static_cast<uint8_t>(cp932[i])) && i + 1 < cp932.size();
    const size_t n = lead ? 2 : 1;
    if (Cp932ToUtf16(cp932.substr(i, n), &one) && one.size() == 1) {
      out += one;
    } else {
      out += kCp932Replacement;
    }
    i += n;
  }
  return out;
}

}  // namespace gp::platform
