#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/TextHelpers.h"
#include "base/TextKinds.h"

using namespace fesko;

TEST(TextKinds, Windows1252RoundTripsEveryDefinedByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  WideString wide = AnsiToWide(all);
  ASSERT_EQ(wide.size(), all.size());
  EXPECT_EQ(WideToAnsi(wide), all);
  // The bytes that differ from Latin-1.
  EXPECT_EQ(AnsiToWide("\x80\x99\x9f"), u"\u20AC\u2122\u0178");
  EXPECT_EQ(AnsiToWide("Jos\xe9 Pe\xf1"
                       "a"),
            u"José Peña");
}

TEST(TextKinds, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
  EXPECT_EQ(WideToAnsi(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(WideToAnsi(u"x\U0001F600y"), "x?y");  // a surrogate pair is one character
  EXPECT_EQ(WideToAnsi(std::u16string{char16_t(0xD800), u'z'}), "?z");  // a lone surrogate
}

TEST(TextKinds, Utf8ConversionsKeepTextAndMarkMalformedInput) {
  EXPECT_EQ(WideToUtf8(u"Camión Ñandú €"), "Camión Ñandú €");
  EXPECT_EQ(Utf8ToWide("Camión Ñandú €"), u"Camión Ñandú €");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // Malformed sequences are replaced, never dropped, and never swallow the next character.
  EXPECT_EQ(Utf8ToWide("a\xE9z"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD");      // overlong
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  EXPECT_EQ(AnsiToUtf8("Pe\xf1"
                       "a"),
            "Peña");
  EXPECT_EQ(Utf8ToAnsi("Peña"),
            "Pe\xf1"
            "a");
}

TEST(TextHelpers, NamesFoldAsciiOnlyAnsiCaseIsOneBijectionAndTrimsKeepTheirSets) {
  EXPECT_TRUE(EqualsIgnoreCase("Content-Type", "content-TYPE"));
  EXPECT_FALSE(EqualsIgnoreCase("\xc1", "\xe1"));  // names fold ASCII letters only
  EXPECT_FALSE(EqualsIgnoreCase("ab", "abc"));
  EXPECT_TRUE(StartsWithIgnoreCase("AM/PM", "am/"));
  EXPECT_EQ(LowerAscii("ISC_DPB_User_Name \xd1"), "isc_dpb_user_name \xd1");
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    if (UpperAnsi(c) != c) {
      EXPECT_EQ(LowerAnsi(UpperAnsi(c)), c) << b;
    }
    if (LowerAnsi(c) != c) {
      EXPECT_EQ(UpperAnsi(LowerAnsi(c)), c) << b;
    }
  }
  EXPECT_EQ(UpperAnsi("\xf1"[0]), "\xd1"[0]);  // ñ
  EXPECT_EQ(UpperAnsi("\xff"[0]), "\x9f"[0]);  // ÿ
  EXPECT_EQ(UpperAnsi("\xf7"[0]), "\xf7"[0]);  // ÷ is no letter
  EXPECT_EQ(Trim(std::string_view("\x01 \t a b\r\n\x1f")), "a b");
  EXPECT_EQ(Trim(std::u16string_view(u" \tx\u00a0\r")), u"x\u00a0");
  EXPECT_EQ(Trim(" \x01x\t\n", " \t"), "\x01x\t\n");
  EXPECT_EQ(Trim("  \r\n", kBlanksAndLineEnds), "");
  EXPECT_EQ(TrimRight("\nmsg\r\n\r\n", "\r\n"), "\nmsg");
}

TEST(Errors, FormatFillsPlacesInOrderAndKeepsTheRest) {
  EXPECT_EQ(FormatMessage(u"Parameter '%s' not found", {u"codigo"}),
            u"Parameter 'codigo' not found");
  EXPECT_EQ(FormatMessage(u"%s (%d) - '%s'", {u"Not Found", u"404", u"http://x/"}),
            u"Not Found (404) - 'http://x/'");
  EXPECT_EQ(FormatMessage(u"100%% %s", {}), u"100% ");
  EXPECT_EQ(FormatMessage(u"trailing %", {u"x"}), u"trailing %");
}

TEST(Errors, ClassNameAndMessageOfAnyError) {
  EConvertError convert(u"'x' is not a valid integer value");
  EXPECT_STREQ(ErrorClassName(convert), "EConvertError");
  EXPECT_EQ(ErrorMessage(convert), u"'x' is not a valid integer value");
  EXPECT_STREQ(convert.what(), "'x' is not a valid integer value");
  std::runtime_error plain("plain ñ");
  EXPECT_STREQ(ErrorClassName(plain), "Exception");
  EXPECT_EQ(ErrorMessage(plain), u"plain ñ");
}
