// Code page 932 conversions through iconv, and the upper-casing of code page 932 text.
#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace {

// One iconv descriptor per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts the whole input; false for input that is invalid or has no form in the target.
  bool Run(const char* input, size_t size, std::string* out) {
    out->clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input);
    size_t in_left = size;
    std::string buffer(size * 2 + 16, '\0');
    size_t used = 0;
    for (;;) {
      char* dst = buffer.data() + used;
      size_t dst_left = buffer.size() - used;
      const size_t r = in_left == 0 ? iconv(cd_, nullptr, nullptr, &dst, &dst_left)
                                    : iconv(cd_, &in, &in_left, &dst, &dst_left);
      used = buffer.size() - dst_left;
      if (r != static_cast<size_t>(-1)) {
        if (in_left == 0) {
          // Input consumed: flush the shift state (none for these encodings) and finish.
          char* flush_dst = buffer.data() + used;
          size_t flush_left = buffer.size() - used;
          if (iconv(cd_, nullptr, nullptr, &flush_dst, &flush_left) == static_cast<size_t>(-1))
            return false;
          used = buffer.size() - flush_left;
          break;
        }
        continue;
      }
      if (errno == E2BIG) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      return false;  // EILSEQ: invalid or unconvertible; EINVAL: cut off at the end
    }
    buffer.resize(used);
    *out = std::move(buffer);
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& FromCp932ToUtf8() {
  thread_local Converter converter("UTF-8", "CP932");
  return converter;
}
Converter& FromUtf8ToCp932() {
  thread_local Converter converter("CP932", "UTF-8");
  return converter;
}
Converter& FromCp932ToUtf16() {
  thread_local Converter converter("UTF-16LE", "CP932");
  return converter;
}
Converter& FromUtf16ToCp932() {
  thread_local Converter converter("CP932", "UTF-16LE");
  return converter;
}

// Double-byte lower-case ranges of code page 932 and the distance to their upper-case forms,
// as the Japanese locale of Windows maps them (the code page's own upper-case character is
// the one that converts back from the Unicode upper-case letter).
struct CaseRange {
  uint16_t first;
  uint16_t last;
  uint16_t upper_first;
};
constexpr CaseRange kDoubleByteCaseRanges[] = {
    {0x8281, 0x829A, 0x8260},  // full-width Latin a-z
    {0x83BF, 0x83D6, 0x839F},  // Greek alpha-omega
    {0x8470, 0x847E, 0x8440},  // Cyrillic a-n (with yo at 0x8476)
    {0x8480, 0x8491, 0x844F},  // Cyrillic o-ya (0x847F is not a character)
    {0xEEEF, 0xEEF8, 0x8754},  // small Roman numerals 1-10 (NEC-selected IBM extension row)
    {0xFA40, 0xFA49, 0x8754},  // small Roman numerals 1-10 (IBM extension row)
};

uint16_t UpperDoubleByte(uint16_t code) {
  for (const CaseRange& range : kDoubleByteCaseRanges) {
    if (code >= range.first && code <= range.last) {
      return static_cast<uint16_t>(range.upper_first + (code - range.first));
    }
  }
  return code;
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string* out) {
  return FromCp932ToUtf8().Run(cp932.data(), cp932.size(), out);
}

bool Utf8ToCp932(std::string_view utf8, std::string* out) {
  return FromUtf8ToCp932().Run(utf8.data(), utf8.size(), out);
}

bool Cp932ToUtf16(std::string_view cp932, std::u16string* out) {
  std::string bytes;
  out->clear();
  if (!FromCp932ToUtf16().Run(cp932.data(), cp932.size(), &bytes)) return false;
  out->reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out->push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return true;
}

bool Utf16ToCp932(std::u16string_view text, std::string* out) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return FromUtf16ToCp932().Run(bytes.data(), bytes.size(), out);
}

std::string Cp932ToUtf8Lossy(std::string_view cp932) {
  std::string out;
  if (Cp932ToUtf8(cp932, &out)) return out;
  // Character by character: each one that has no form becomes '?'. A lead byte followed by a
  // byte of the trail range is taken as one (unassigned) character, so that its trail byte is
  // not shown as an ASCII character of its own.
  out.clear();
  std::string piece;
  size_t i = 0;
  while (i < cp932.size()) {
    const uint8_t b = static_cast<uint8_t>(cp932[i]);
    size_t length = 1;
    if (IsCp932LeadByte(b) && i + 1 < cp932.size()) {
      const uint8_t t = static_cast<uint8_t>(cp932[i + 1]);
      if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC)) length = 2;
    }
    if (Cp932ToUtf8(cp932.substr(i, length), &piece)) {
      out += piece;
    } else {
      out += '?';
    }
    i += length;
  }
  return out;
}

std::string UpperCaseCp932(std::string_view text) {
  std::string out(text);
  size_t i = 0;
  while (i < out.size()) {
    const uint8_t b = static_cast<uint8_t>(out[i]);
    if (IsCp932LeadByte(b) && i + 1 < out.size()) {
      const uint16_t code = static_cast<uint16_t>((b << 8) | static_cast<uint8_t>(out[i + 1]));
      const uint16_t upper = UpperDoubleByte(code);
      out[i] = static_cast<char>(upper >> 8);
      out[i + 1] = static_cast<char>(upper & 0xFF);
      i += 2;
      continue;
    }
    // Single bytes: the code page's case table changes only the ASCII letters; the half-width
    // katakana have no case.
    if (b >= 'a' && b <= 'z') out[i] = static_cast<char>(b - 'a' + 'A');
    ++i;
  }
  return out;
}

}  // namespace gp::platform
