#include <set>

#include <QFile>
#include <gtest/gtest.h>

#include "platform/strings.h"
#include "res/StringIds.h"

namespace {

std::set<std::uint32_t> IdsOf(const char* resource) {
  std::set<std::uint32_t> ids;
  QFile f(QString::fromLatin1(resource));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << resource;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (!line.isEmpty() && line[0] != '#') ids.insert(line.left(line.indexOf('\t')).toUInt());
  return ids;
}

TEST(StringTables, BothLanguagesHoldTheSameIds) {
  ASSERT_FALSE(LoadStringW(sid::kLanguageName, UiLanguage::English).empty());  // also brings the resources in
  const auto en = IdsOf(":/strings/en.tsv");
  const auto zh = IdsOf(":/strings/zh.tsv");
  EXPECT_GT(en.size(), 300u);
  EXPECT_EQ(en, zh);
  for (std::uint32_t id : en) {
    EXPECT_TRUE(HasString(id, UiLanguage::English)) << id;
    EXPECT_TRUE(HasString(id, UiLanguage::Chinese)) << id;
    EXPECT_FALSE(LoadStringW(id, UiLanguage::Chinese).empty()) << id;
  }
  EXPECT_EQ(LoadStringW(4242, UiLanguage::English), u"");
}

TEST(StringTables, EveryNamedIdIsInBothTables) {
  const auto en = IdsOf(":/strings/en.tsv");
  const auto zh = IdsOf(":/strings/zh.tsv");
  for (std::uint32_t id : sid::kAll) {
    EXPECT_TRUE(en.count(id)) << id;
    EXPECT_TRUE(zh.count(id)) << id;
  }
}

TEST(StringTables, ExactTextsAndLanguageSwitch) {
  EXPECT_EQ(LoadStringW(sid::kLanguageName, UiLanguage::English), u"English");
  EXPECT_EQ(LoadStringW(sid::kLanguageName, UiLanguage::Chinese), u"中文");
  EXPECT_EQ(LoadStringW(sid::kCaptureFrameRateFPS, UiLanguage::English), u"Capture: %uF, Frame Rate: %.2fFPS");
  EXPECT_EQ(LoadStringW(sid::kPleaseDrawLinePressESC, UiLanguage::English), u"Please draw a line,press ESC to exit.");
  EXPECT_EQ(LoadStringW(sid::kDisplayEnable, UiLanguage::English), u"  Display Enable");  // blanks kept
  EXPECT_EQ(LoadStringW(sid::kNoiseFilter, UiLanguage::English), u"Noise filter ");
  EXPECT_EQ(LoadStringW(sid::kN2PointRound, UiLanguage::English), u"2 point round");

  EXPECT_EQ(GetUiLanguage(), UiLanguage::English);
  EXPECT_EQ(LoadStringW(sid::kPoint), u"Point");
  SetUiLanguage(UiLanguage::Chinese);
  EXPECT_EQ(LoadStringW(sid::kPoint), u"点");
  EXPECT_EQ(LoadStringW(sid::kMeasuringResult), u"测量结果");
  SetUiLanguage(UiLanguage::English);
  EXPECT_EQ(LoadStringW(sid::kMeasuringResult), u"Measuring Result");
}

}  // namespace
