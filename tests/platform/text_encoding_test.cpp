// Code page 932 conversions and upper-casing.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace gp::platform {
namespace {

// Katakana "so", kanji "hyou" and "nou": their trail byte is 0x5C, the backslash.
constexpr char kSoCp932[] = "\x83\x5C";
constexpr char kHyouCp932[] = "\x95\x5C";
constexpr char kNouCp932[] = "\x94\x5C";

TEST(Cp932Conversion, TrailByteBackslashRoundTripsThroughUtf8AndUtf16) {
  const std::string cp932 = std::string("a\\") + kSoCp932 + kHyouCp932 + "\\" + kNouCp932 + "z";
  std::string utf8;
  ASSERT_TRUE(Cp932ToUtf8(cp932, &utf8));
  EXPECT_EQ(utf8, "a\\\xE3\x82\xBD\xE8\xA1\xA8\\\xE8\x83\xBDz");
  std::string back;
  ASSERT_TRUE(Utf8ToCp932(utf8, &back));
  EXPECT_EQ(back, cp932);

  std::u16string utf16;
  ASSERT_TRUE(Cp932ToUtf16(cp932, &utf16));
  EXPECT_EQ(utf16, u"a\\\u30BD\u8868\\\u80FDz");
  std::string back16;
  ASSERT_TRUE(Utf16ToCp932(utf16, &back16));
  EXPECT_EQ(back16, cp932);
}

TEST(Cp932Conversion, HalfWidthKatakanaAndFullWidthFormsRoundTrip) {
  // Half-width "a" (0xB1), full-width "A" (0x8260), full-width backslash (0x815F).
  const std::string cp932 = "\xB1\x82\x60\x81\x5F";
  std::u16string utf16;
  ASSERT_TRUE(Cp932ToUtf16(cp932, &utf16));
  EXPECT_EQ(utf16, u"\uFF71\uFF21\uFF3C");
  std::string back;
  ASSERT_TRUE(Utf16ToCp932(utf16, &back));
  EXPECT_EQ(back, cp932);
}

TEST(Cp932Conversion, EmptyTextConverts) {
  std::string utf8 = "x";
  EXPECT_TRUE(Cp932ToUtf8("", &utf8));
  EXPECT_TRUE(utf8.empty());
  std::u16string utf16 = u"x";
  EXPECT_TRUE(Cp932ToUtf16("", &utf16));
  EXPECT_TRUE(utf16.empty());
}

TEST(Cp932Conversion, InvalidInputIsRejected) {
  std::string out;
  EXPECT_FALSE(Cp932ToUtf8("ab\x83", &out));      // a lead byte cut off at the end
  EXPECT_FALSE(Cp932ToUtf8("\x81\x20", &out));    // a lead byte before a non-trail byte
  EXPECT_FALSE(Utf8ToCp932("\xC3", &out));        // truncated UTF-8
  EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80", &out));  // no code page 932 form
  std::u16string utf16;
  EXPECT_FALSE(Cp932ToUtf16("\x83", &utf16));
  EXPECT_FALSE(Utf16ToCp932(std::u16string(1, u'\xD800'), &out));  // lone surrogate
}

TEST(Cp932Conversion, LossyConversionMarksOnlyTheBadCharacters) {
  const std::string text = std::string("ok ") + kSoCp932 + " \x81\x20 end\x83";
  const std::string utf8 = Cp932ToUtf8Lossy(text);
  EXPECT_EQ(utf8.substr(0, 3), "ok ");
  EXPECT_NE(utf8.find("\xE3\x82\xBD"), std::string::npos);
  EXPECT_NE(utf8.find(" end"), std::string::npos);
  EXPECT_EQ(utf8.back(), '?');
  EXPECT_EQ(Cp932ToUtf8Lossy("plain"), "plain");
}

TEST(Cp932Text, LeadBytesAreTheTwoDoubleByteRanges) {
  int leads = 0;
  for (int b = 0; b < 256; ++b) {
    if (IsCp932LeadByte(static_cast<uint8_t>(b))) ++leads;
  }
  EXPECT_EQ(leads, (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1));
  EXPECT_TRUE(IsCp932LeadByte(0x83));
  EXPECT_FALSE(IsCp932LeadByte(0xA0));
  EXPECT_FALSE(IsCp932LeadByte(0xB1));  // half-width katakana are single bytes
  EXPECT_FALSE(IsCp932LeadByte('\\'));
}

TEST(Cp932UpperCase, AsciiLettersChangeHalfWidthKatakanaDoNot) {
  EXPECT_EQ(UpperCaseCp932("abc.txt\\Dir\xB1\xDF"), "ABC.TXT\\DIR\xB1\xDF");
  EXPECT_EQ(UpperCaseCp932(""), "");
}

TEST(Cp932UpperCase, TrailBytesThatLookLikeLettersStayUntouched) {
  // Every double-byte character whose trail byte is an ASCII lower-case letter, and that has
  // no upper-case form, must come back unchanged: the trail byte is no letter.
  for (int lead : {0x81, 0x82, 0x83, 0x88, 0x89, 0x95, 0xE0, 0xEA}) {
    for (int trail = 'a'; trail <= 'z'; ++trail) {
      const std::string character{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string utf16;
      if (!Cp932ToUtf16(character, &utf16)) continue;
      const std::string upper = UpperCaseCp932(character);
      std::u16string upper16;
      ASSERT_TRUE(Cp932ToUtf16(upper, &upper16));
      ASSERT_EQ(upper16.size(), 1u);
      // Only letters change, and they change to a different character.
      if (upper != character) {
        EXPECT_NE(upper16, utf16);
      }
      EXPECT_NE(upper[1], static_cast<char>(trail - 'a' + 'A')) << std::hex << lead << trail;
    }
  }
  EXPECT_EQ(UpperCaseCp932(kSoCp932), kSoCp932);
}

TEST(Cp932UpperCase, FullWidthGreekAndCyrillicLettersChange) {
  // Full-width a (0x8281), Greek alpha (0x83BF), Cyrillic a (0x8470), Cyrillic o (0x8480).
  const std::string lower = "\x82\x81\x83\xBF\x84\x70\x84\x80";
  std::u16string upper16;
  ASSERT_TRUE(Cp932ToUtf16(UpperCaseCp932(lower), &upper16));
  EXPECT_EQ(upper16, u"\uFF21\u0391\u0410\u041E");
  // Upper-case forms stay as they are.
  const std::string upper = UpperCaseCp932(lower);
  EXPECT_EQ(UpperCaseCp932(upper), upper);
}

}  // namespace
}  // namespace gp::platform
