// Upper-casing of code page 932 text, checked against Unicode's simple upper-case mapping
// over every character of the code page.
//
// The oracle: a character converts to UTF-32 with iconv, towupper in a UTF-8 locale gives its
// upper-case letter, and iconv brings that back to code page 932. Intended differences:
// - single bytes: only a-z change (the code page's own table); the oracle agrees, since the
//   half-width katakana have no case;
// - an upper-case letter without a code page 932 form leaves the character unchanged (there is
//   none in this code page today; the check keeps it so).
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace gp::platform {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  bool Convert(const std::string& in, std::string* out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[16];
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return false;
    if (src_left != 0) return false;
    out->assign(buffer, sizeof buffer - dst_left);
    return true;
  }

 private:
  iconv_t cd_;
};

// Switches LC_CTYPE to a UTF-8 locale for the test and back afterwards.
class Utf8CtypeLocale {
 public:
  Utf8CtypeLocale() {
    const char* old = setlocale(LC_CTYPE, nullptr);
    if (old != nullptr) old_ = old;
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "ja_JP.UTF-8"}) {
      if (setlocale(LC_CTYPE, name) != nullptr) {
        ok_ = true;
        break;
      }
    }
  }
  ~Utf8CtypeLocale() { setlocale(LC_CTYPE, old_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string old_ = "C";
  bool ok_ = false;
};

uint32_t FromUtf32(const std::string& bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[i]);
  return value;
}

std::string ToUtf32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

TEST(UpperCaseOracle, EveryCharacterOfTheCodePageMatchesUnicodeUpperCase) {
  Utf8CtypeLocale locale;
  if (!locale.ok()) GTEST_SKIP() << "no UTF-8 locale for the oracle";
  Iconv to_utf32("UTF-32LE", "CP932");
  Iconv from_utf32("CP932", "UTF-32LE");
  ASSERT_TRUE(to_utf32.valid());
  ASSERT_TRUE(from_utf32.valid());

  int characters = 0;
  int changed = 0;
  auto check = [&](const std::string& character) {
    std::string utf32;
    if (!to_utf32.Convert(character, &utf32)) return;  // not a character of the code page
    ++characters;
    const uint32_t code = FromUtf32(utf32);
    const uint32_t upper = static_cast<uint32_t>(towupper(static_cast<wint_t>(code)));
    std::string expected = character;
    std::string back;
    if (upper != code && from_utf32.Convert(ToUtf32(upper), &back)) expected = back;
    if (expected != character) ++changed;
    const std::string actual = UpperCaseCp932(character);
    EXPECT_EQ(actual, expected) << "code page character 0x" << std::hex
                                << (character.size() == 2
                                        ? (static_cast<uint8_t>(character[0]) << 8 |
                                           static_cast<uint8_t>(character[1]))
                                        : static_cast<uint8_t>(character[0]))
                                << " U+" << code;
    // Inside a text, the neighbours are not disturbed.
    EXPECT_EQ(UpperCaseCp932("x" + character + "\\"), "X" + actual + "\\");
  };

  for (int b = 0x00; b <= 0xFF; ++b) {
    if (!IsCp932LeadByte(static_cast<uint8_t>(b))) check(std::string(1, static_cast<char>(b)));
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsCp932LeadByte(static_cast<uint8_t>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      check(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  // The code page's characters were all seen, and the letters with case were found.
  EXPECT_GT(characters, 7000);
  EXPECT_GT(changed, 26 + 26);
}

}  // namespace
}  // namespace gp::platform
