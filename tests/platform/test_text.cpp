#include <clocale>

#include <gtest/gtest.h>

#include "platform/text.h"

TEST(FormatW, PrintfConversions) {
  EXPECT_EQ(FormatW(u"L: %.3f %s", 2.5, u"mm"), u"L: 2.500 mm");
  EXPECT_EQ(FormatW(u"[%d]%s，Total：%d", 3, WString(u"Point"), 7), u"[3]Point，Total：7");
  EXPECT_EQ(FormatW(u"%05.1f|%-4d|%4d|%x|%X|%%", -2.25, 7, -7, 255u, 255), u"-02.2|7   |  -7|ff|FF|%");
  EXPECT_EQ(FormatW(u"%.0f %.2f %e %g %g", 2.5, 0.125, 12345.678, 0.0001, 1e7), u"2 0.12 1.234568e+04 0.0001 1e+07");
  EXPECT_EQ(FormatW(u"%d%s", 5), u"5");  // missing arguments print nothing
}

TEST(FormatW, DecimalPointIgnoresLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  EXPECT_EQ(FormatW(u"%.3f", 2.5), u"2.500");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_TRUE(german) << "no de_DE locale: scripts/deps.sh generates it";
}

TEST(CopyToBuffer, TruncatesAndTerminates) {
  char16_t buf[4];
  CopyToBuffer(u"abcdef", buf, 4);
  EXPECT_EQ(WString(buf), u"abc");
  CopyToBuffer(u"ab\xD83D\xDE00", buf, 4);  // a surrogate pair is not split
  EXPECT_EQ(WString(buf), u"ab");
  EXPECT_EQ(BufferLength(buf, 4), 2u);
}
