#include <gtest/gtest.h>

#include "model_test_util.h"
#include "platform/profile.h"

using namespace model_test;

TEST(MeasureRecords, ByteImagesMatchTheLayout) {
  MEASUREBASE line = GoldenLine();
  line.m_szResult[20] = u'X';  // stale text after the terminator is not written
  const auto bytes = line.Serialize();
  const std::vector<std::uint8_t> want = GoldenLineBytes();
  ASSERT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), want);
  EXPECT_EQ(EncodeProfileStruct(bytes), FromUtf8(HexStruct(want)));
  EXPECT_EQ(HexStruct(want).substr(2160), "64");

  // Reading ignores the point-array bytes and starts without points.
  auto dirty = bytes;
  for (std::size_t k = 24; k < 44; ++k) dirty[k] = 0xAB;
  MEASUREBASE back;
  back.m_arrPoint = {{1, 1}};
  back.Deserialize(dirty);
  EXPECT_TRUE(back.m_arrPoint.empty());
  const auto again = back.Serialize();
  EXPECT_EQ(std::vector<std::uint8_t>(again.begin(), again.end()), want);

  stRemark arrow;
  arrow.Deserialize(std::span<const std::uint8_t, 1052>(GoldenArrowBytes().data(), 1052));
  EXPECT_EQ(arrow.m_nKind, MK_ARROW);
  EXPECT_EQ(Text(arrow.m_szText), u"Hi");
  EXPECT_EQ(arrow.m_rcHit, (RECT{0, 0, 30, 30}));
  EXPECT_EQ(arrow.m_pt2, (POINT{20, 20}));
  const auto rbytes = arrow.Serialize();
  EXPECT_EQ(std::vector<std::uint8_t>(rbytes.begin(), rbytes.end()), GoldenArrowBytes());
  EXPECT_EQ(HexStruct(GoldenArrowBytes()).substr(2104), "4A");
}

TEST(MeasureRecords, DefaultRecordAndUnterminatedRemarkText) {
  MEASUREBASE back;
  back.m_nKind = 5;
  back.Deserialize(MEASUREBASE{}.Serialize());
  EXPECT_EQ(back.m_nKind, -1);
  EXPECT_EQ(back.m_rcBound, (RECT{-1, -1, -1, -1}));
  EXPECT_EQ(back.m_nPointCount, -1);
  EXPECT_TRUE(back.m_bVisible && !back.m_bLocked && back.m_arrPoint.empty());

  auto rbytes = stRemark{}.Serialize();
  for (std::size_t k = 12; k < 1012; k += 2) rbytes[k] = 'B';
  stRemark r;
  r.Deserialize(rbytes);
  EXPECT_EQ(Text(r.m_szText), WString(499, u'B'));
}
