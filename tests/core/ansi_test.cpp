#include <gtest/gtest.h>

#include "framework/core/Ansi.h"

namespace {

TEST(AnsiTest, CyrillicLiteralsBecomeWindows1251Bytes) {
  EXPECT_EQ(Ansi("Отправить"), "\xCE\xF2\xEF\xF0\xE0\xE2\xE8\xF2\xFC");
  EXPECT_EQ(Ansi("ёЁ№"), "\xB8\xA8\xB9");
  EXPECT_EQ(AnsiToUtf8("\xE2\xE0\xF8 \xED\xE8\xEA:"), "ваш ник:");
}

TEST(AnsiTest, EveryByteSurvivesTheRoundTripThroughUtf16) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide = AnsiToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(wide[0xC0], u'А');
  EXPECT_EQ(wide[0x88], u'€');
  EXPECT_EQ(Utf16ToAnsi(wide), all);
}

TEST(AnsiTest, CharactersWithoutACodeBecomeQuestionMarks) {
  EXPECT_EQ(Utf16ToAnsi(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(Ansi("x😀y"), "x?y");     // a surrogate pair is one character
  EXPECT_EQ(Ansi("\xFF\xFE"), "??");  // malformed UTF-8
}

}  // namespace
