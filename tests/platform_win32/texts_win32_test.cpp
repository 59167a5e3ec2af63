// Code page 932 on Windows: explicit conversions (independent of the ANSI code page), the
// upper-casing through the Japanese locale, and how the argument is cut from the command line.
#include <gtest/gtest.h>

#include <string>

#include "base/texts.h"
#include "platform/platform.h"
#include "platform/win32/command_line.h"

namespace gp::platform {
namespace {

TEST(Cp932Win32, ProgramTextsConvertToTheirUnicodeCharacters) {
  const struct {
    const char* cp932;
    const char* utf8;
  } cases[] = {
      {texts::kCaptionExtractionError, "解凍エラー!"},
      {texts::kTextInvalidDataFile, "無効なデータファイルです。"},
      {texts::kTextProgressCaption, "ｱｯﾌﾟﾃﾞｰﾄしています..."},
      {texts::kTextInUseTail, "はアクセスできません。\nファイルが使用中でないか碓認してください。"},
      {texts::kPayloadMagic, "ユキワリソウヨツバクローバー圧縮"},
  };
  for (const auto& c : cases) {
    std::string utf8;
    ASSERT_TRUE(Cp932ToUtf8(c.cp932, &utf8)) << c.utf8;
    EXPECT_EQ(utf8, c.utf8);
    std::string back;
    ASSERT_TRUE(Utf8ToCp932(utf8, &back));
    EXPECT_EQ(back, c.cp932);
  }
}

TEST(Cp932Win32, TrailByte5CStaysInsideItsCharacter) {
  // ソ and 表 end in the byte of a backslash.
  const std::string cp932 = "\x83\x5C\x95\x5C\\";
  std::u16string wide;
  ASSERT_TRUE(Cp932ToUtf16(cp932, &wide));
  EXPECT_EQ(wide, u"ソ表\\");
  std::string back;
  ASSERT_TRUE(Utf16ToCp932(wide, &back));
  EXPECT_EQ(back, cp932);
}

TEST(Cp932Win32, InvalidBytesAndUnmappableCharactersAreRefused) {
  std::u16string wide;
  EXPECT_FALSE(Cp932ToUtf16("A\x82", &wide)) << "lead byte without trail byte";
  EXPECT_FALSE(Cp932ToUtf16("\x82\x20", &wide)) << "trail byte out of range";
  std::string out;
  EXPECT_FALSE(Utf16ToCp932(u"caf\u00E9", &out)) << "no best-fit substitution";
  EXPECT_FALSE(Utf16ToCp932(u"\U0001F600", &out));
  EXPECT_FALSE(Utf8ToCp932("\xC3\x28", &out)) << "invalid UTF-8";
  EXPECT_TRUE(Cp932ToUtf16("", &wide));
  EXPECT_TRUE(wide.empty());
}

TEST(Cp932Win32, LossyConversionMarksOnlyTheBadBytes) {
  EXPECT_EQ(Cp932ToUtf8Lossy("ok\x82"), "ok?");
  EXPECT_EQ(Cp932ToUtf8Lossy("\x82\x20x"), "? x");
  EXPECT_EQ(Cp932ToUtf8Lossy("\x95\x5C"), "表");
}

TEST(Cp932Win32, HostPathsAreTheSamePathInUtf8) {
  std::string program;
  ASSERT_TRUE(HostToProgramPath("C:\\データ\\表.txt", &program));
  EXPECT_EQ(program, "C:\\\x83\x66\x81\x5B\x83\x5E\\\x95\x5C.txt");
  std::string host;
  ASSERT_TRUE(ProgramToHostPath(program.c_str(), &host));
  EXPECT_EQ(host, "C:\\データ\\表.txt");
  EXPECT_FALSE(HostToProgramPath("C:\\caf\xC3\xA9", &program));
}

TEST(UpperCaseCp932Win32, SingleBytesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCaseCp932("abc.Exe_z"), "ABC.EXE_Z");
  // Half-width katakana and other single bytes stay.
  EXPECT_EQ(UpperCaseCp932("\xB1\xB2{}"), "\xB1\xB2{}");
}

TEST(UpperCaseCp932Win32, DoubleByteLettersThroughTheLocale) {
  EXPECT_EQ(UpperCaseCp932("\x82\x81\x82\x9A"), "\x82\x60\x82\x79");  // ａｚ -> ＡＺ
  EXPECT_EQ(UpperCaseCp932("\x83\xBF"), "\x83\x9F");                  // α -> Α
  EXPECT_EQ(UpperCaseCp932("\x84\x70"), "\x84\x40");                  // а -> А
}

TEST(UpperCaseCp932Win32, TrailBytesThatLookLikeLettersStay) {
  // ツ is 0x83 0x63 and 表 0x95 0x5C: their trail bytes are 'c' and '\'.
  EXPECT_EQ(UpperCaseCp932("\x83\x63x\x95\x5C"), "\x83\x63X\x95\x5C");
  // A lead byte at the very end is kept as it is.
  EXPECT_EQ(UpperCaseCp932("a\x83"), "A\x83");
}

TEST(CommandLineWin32, ArgumentIsTheVerbatimRestAfterTheProgramName) {
  using win32::ArgumentAfterProgramName;
  EXPECT_EQ(ArgumentAfterProgramName(L"stub.exe C:\\a b\\p.dat"), L"C:\\a b\\p.dat");
  EXPECT_EQ(ArgumentAfterProgramName(L"\"C:\\Program Files\\stub.exe\"   \"x y.dat\""),
            L"\"x y.dat\"");
  EXPECT_EQ(ArgumentAfterProgramName(L"stub.exe\t  arg  "), L"arg  ");
  EXPECT_EQ(ArgumentAfterProgramName(L"stub.exe"), L"");
  EXPECT_EQ(ArgumentAfterProgramName(L"stub.exe   "), L"");
  EXPECT_EQ(ArgumentAfterProgramName(L"\"unterminated name"), L"");
  EXPECT_EQ(ArgumentAfterProgramName(L"\"a\"b c"), L"b c");
  EXPECT_EQ(ArgumentAfterProgramName(L""), L"");
}

}  // namespace
}  // namespace gp::platform
