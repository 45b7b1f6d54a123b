#include <climits>
#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

#include "model_test_util.h"

using namespace model_test;

TEST(MeasureGeometry, TruncationAndGuardsDecideThePoints) {
  CMeasureManager m;
  EXPECT_EQ(m.PerpendicularFoot({40, 70}, {0, 10}, {100, 10}), (POINT{40, 10}));
  EXPECT_EQ(m.PerpendicularFoot({40, 70}, {100, 0}, {100, 50}), (POINT{99, 70}));  // not 100
  EXPECT_EQ(m.LineIntersection({0, 0}, {10, 0}, {5, -5}, {5, 5}), (POINT{4, 0}));  // not 5
  // Parallel: 5 / 1e-5 held as a single is 500000.01 (as a double it would truncate to 499999).
  EXPECT_EQ(m.LineIntersection({0, 0}, {10, 0}, {0, 5}, {10, 5}), (POINT{500000, 5}));
  EXPECT_EQ(m.CircleCentreFrom3Points({0, 0}, {2, 0}, {0, 2}), (POINT{1, 1}));
  EXPECT_EQ(m.CircleCentreFrom3Points({0, 0}, {5, 5}, {9, 9}), (POINT{0, 0}));
  // Products beyond 32 bits stay exact.
  EXPECT_EQ(m.CircleCentreFrom3Points({1000000, 0}, {3000000, 0}, {2000000, 1000000}), (POINT{2000000, 0}));
  EXPECT_DOUBLE_EQ(m.AngleAtVertex({10, 0}, {0, 0}, {0, 10}), 90.00000250447816);  // acos held as a single
  EXPECT_EQ(m.AngleAtVertex({0, 0}, {0, 0}, {10, 0}), 0.0);  // zero-length arm: no NaN
  EXPECT_EQ(m.EquilateralThirdPoint({0, 0}, {100, 0}), (POINT{50, 86}));
  EXPECT_EQ(m.EquilateralThirdPoint({7, 7}, {7, 7}), (POINT{7, 7}));
  EXPECT_NEAR(m.ArcSweepAngle({10, 0}, {-10, 0}, {0, -10}, {0, 0}), 180.0, 1e-4);
  EXPECT_NEAR(m.ArcSweepAngle({10, 0}, {-10, 0}, {0, 10}, {0, 0}), -180.0, 1e-4);

  const int i = AddShape(m, MK_LINE, {{5, 5}, {20, 8}});
  EXPECT_EQ(m.GetMeasure(0)->m_rcBound, (RECT{-5, -5, 30, 18}));
  POINT tl, br;
  EditMeasure(m, i, [](MEASUREBASE& r) { r.m_nPointCount = 3; });  // claims more points than it holds
  EXPECT_FALSE(m.GetMeasureBounds(i, &tl, &br));
  EXPECT_FALSE(m.GetMeasureBounds(kMeasureSlots, &tl, &br));
}

// The foot takes its y from the line A-B up to |k| = 10 and from the perpendicular through P
// beyond; the two differ by the part of F.x that truncation dropped. Worked by hand, A = (0, 0):
//   B = (1, 2):    k = 2,    c = 0/2 + 7 = 7,        F.x = trunc(7*2/5) = 2;        line 4, perp. trunc(7 - 1) = 6
//   B = (10, 99):  k = 9.9,  c = 50,                 F.x = trunc(495/99.01) = 4;    line trunc(39.6) = 39, perp. 49
//   B = (1, 10):   k = 10,   c = 5/10 + 3 = 3.5,     F.x = trunc(35/101) = 0;       line 0, perp. 3
//   B = (10, 101): k = 10.1, c = 50,                 F.x = trunc(505/103.01) = 4;   line 40, perp. trunc(49.6) = 49
//   B = (1, 20):   k = 20,   c = 30,                 F.x = trunc(600/401) = 1;      line 20, perp. trunc(29.95) = 29
//   B = (1, -20):  k = -20,  c = -30,                F.x = 1;                       line -20, perp. trunc(-29.95) = -29
TEST(MeasureGeometry, FootOnEitherSideOfTheSteepLineThreshold) {
  CMeasureManager m;
  EXPECT_EQ(m.PerpendicularFoot({0, 7}, {0, 0}, {1, 2}), (POINT{2, 4}));
  EXPECT_EQ(m.PerpendicularFoot({0, 50}, {0, 0}, {10, 99}), (POINT{4, 39}));
  EXPECT_EQ(m.PerpendicularFoot({5, 3}, {0, 0}, {1, 10}), (POINT{0, 0}));  // exactly 10: still the line
  EXPECT_EQ(m.PerpendicularFoot({0, 50}, {0, 0}, {10, 101}), (POINT{4, 49}));
  EXPECT_EQ(m.PerpendicularFoot({0, 30}, {0, 0}, {1, 20}), (POINT{1, 29}));
  EXPECT_EQ(m.PerpendicularFoot({0, -30}, {0, 0}, {1, -20}), (POINT{1, -29}));

  // The values do not go through these feet: (0,7) lies 7 / sqrt 5 from y = 2x, not the
  // sqrt 13 to the stored foot (2,4); the stand-in centre (0,30) of a circle without one lies
  // 30 / sqrt 401 from y = 20x, not sqrt 2.
  AddShape(m, MK_POINT2LINE, {{0, 7}, {0, 0}, {1, 2}});
  AddShape(m, MK_CIRCLE2LINE, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 20}, {0, 30}});
  AddShape(m, MK_LINE2LINE, {{-1, 7}, {1, 7}, {0, 0}, {1, 2}});
  EXPECT_EQ(Text(m.GetMeasure(0)->m_szResult), u"L: 3.130 px");
  EXPECT_EQ(Text(m.GetMeasure(1)->m_szResult), u"L: 1.498 px");
  MeasureValues v;
  ASSERT_TRUE(m.CalcMeasureValues(2, &v));
  EXPECT_DOUBLE_EQ(v.L, 7 / std::sqrt(5.0));
}

// A square with corners at the int32 limits: the first term, (2^32 - 1) x -2^32, is beyond 64 bits.
// Area (2^32 - 1)^2 = 2^64 - 2^33 + 1; the terms as doubles, -(2^64 - 2^32) / 2 and
// -(2^64 - 3 x 2^32 + 2) / 2 (rounded to -(2^64 - 3 x 2^32) / 2), sum to 2^64 - 2^33.
TEST(MeasureValues, PolygonAreaAtTheCoordinateLimits) {
  CMeasureManager m;
  constexpr std::int32_t lo = INT32_MIN, hi = INT32_MAX;
  const int i = AddShape(m, MK_POLYGON, {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}});
  MeasureValues v;
  ASSERT_TRUE(m.CalcMeasureValues(i, &v));
  EXPECT_EQ(v.S, 18446744065119617024.0);
  EXPECT_EQ(Text(m.GetMeasure(0)->m_szResult), u"S: 18446744065119617024.000 px\u00B2");
  char16_t line[256] = {};
  m.GetExcelReportLine(i, u"", line, 256);
  EXPECT_EQ(WString(line).substr(WString(line).find(u"S: ")), u"S: 18446744065119617024.000px\u00B2");
}

namespace {

struct AllKinds {
  CMeasureManager m;
  AllKinds() {
    AddShape(m, MK_POINT, {{1, 1}, {2, 2}, {3, 3}});
    AddShape(m, MK_LINE, {{0, 0}, {3, 4}});
    AddShape(m, MK_PARALLEL, {{0, 0}, {3, 4}});
    AddShape(m, MK_FOLDLINE, {{0, 0}, {3, 4}, {3, 14}});
    AddShape(m, MK_ANGLE, {{10, 0}, {0, 0}, {0, 10}});
    AddShape(m, MK_LINE2LINE, {{0, 0}, {100, 0}, {0, 50}, {100, 50}});
    AddShape(m, MK_RECT, {{10, 10}, {110, 60}});
    AddShape(m, MK_ROUNDRECT, {{10, 10}, {110, 60}});
    AddShape(m, MK_ELLIPSE, {{10, 10}, {110, 60}});
    AddShape(m, MK_ARC3, {{100, 0}, {0, -100}, {60, -80}, {0, 0}});
    AddShape(m, MK_CIRCLE2, {{0, 0}, {20, 0}, {10, 0}});
    AddShape(m, MK_CIRCLE3, {{10, 0}, {0, 10}, {-10, 0}, {0, 0}});
    AddShape(m, MK_POLYGON, {{0, 0}, {10, 0}, {10, 10}});
    AddShape(m, MK_POINT2LINE, {{40, 70}, {0, 10}, {100, 10}});
    AddShape(m, MK_CIRCLE2LINE, {{0, 0}, {0, 0}, {0, 0}, {100, 0}, {100, 50}, {40, 70}});
    AddShape(m, MK_CIRCLE2CIRCLE, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {30, 40}});
  }
  WString T(int i) const { return Text(m.GetMeasure(i)->m_szResult); }
  void ExpectTexts() const {
    const char16_t* want[] = {
        u"Total: 3", u"L: 5.000 px", u"L: 5.000 px", u"L: 15.000 px", u"\u2220\uFF1A90.000\u00B0",
        u"\u2220\uFF1A0.000\u00B0 L: 50.000 px", u"(cx:100.000, cy:50.000) S: 5000.000 px\u00B2",
        u"(cx:100.000, cy:50.000) S: 4463.495 px\u00B2", u"(rx:50.000, ry:25.000) S: 3926.991 px\u00B2",
        u"\u2220\uFF1A90.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A157.080 px", u"(r:10.000) S: 314.159 px\u00B2",
        u"(r:10.000) S: 314.159 px\u00B2", u"S: 50.000 px\u00B2", u"L: 60.000 px",
        u"L: 60.000 px",  // the stored foot on the vertical line is (99,70); the value is exact
        u"L: 50.000 px"};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(T(i), want[i]) << "slot " << i;
  }
};

}  // namespace

TEST(MeasureValues, ResultTextsOfEveryKindAndScaleChanges) {
  AllKinds k;
  k.ExpectTexts();
  MeasureValues v;
  ASSERT_TRUE(k.m.CalcMeasureValues(8, &v));
  EXPECT_NEAR(v.P, 242.2112055, 1e-6);
  ASSERT_TRUE(k.m.CalcMeasureValues(12, &v));
  EXPECT_EQ(v.P, 0.0);
  EXPECT_EQ(k.T(AddShape(k.m, MK_POLYGON, {{10, 10}, {10, 0}, {0, 0}})), u"S: 50.000 px\u00B2");  // other way
  // The closing product -100000 x 100000 does not fit 32 bits.
  EXPECT_EQ(k.T(AddShape(k.m, MK_POLYGON, {{0, 0}, {100000, 0}, {100000, 100000}})),
            u"S: 5000000000.000 px\u00B2");
  // A small angle keeps its third decimal: atan(1/1000) is 0.0573 degrees.
  EXPECT_EQ(k.T(AddShape(k.m, MK_ANGLE, {{1000, 1}, {0, 0}, {1000, 0}})), u"\u2220\uFF1A0.057\u00B0");
  // Line to line whose first end lies on the crossing (50,0): the midpoint (75,0) of the first
  // line as clicked lies 25 / sqrt 2 from y = x - 50, whichever ends lie on the crossing.
  EXPECT_EQ(k.T(AddShape(k.m, MK_LINE2LINE, {{50, 0}, {100, 0}, {0, -50}, {100, 50}})),
            u"\u2220\uFF1A45.000\u00B0 L: 17.678 px");
  EXPECT_EQ(k.T(AddShape(k.m, MK_LINE2LINE, {{50, 0}, {100, 0}, {50, 0}, {100, 50}})),
            u"\u2220\uFF1A45.000\u00B0 L: 17.678 px");

  k.m.SetScale(0.5f, u"mm", ScaleDisplayBlock{});
  EXPECT_EQ(k.T(1), u"L: 2.500 mm");
  EXPECT_EQ(k.T(4), u"\u2220\uFF1A90.000\u00B0");
  EXPECT_EQ(k.T(7), u"(cx:50.000, cy:25.000) S: 1115.874 mm\u00B2");  // 1250 - 0.25 x (4 - pi) x 625
  float f = 0;
  k.m.SetScale(0.1f, u"um", ScaleDisplayBlock{});
  k.m.GetScale(&f, nullptr, nullptr);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(k.m.Scale(), double(0.1f));

  // Too few points for the kind: refused. A long unit is cut to the buffer.
  EditMeasure(k.m, 2, [](MEASUREBASE& r) { r.m_arrPoint.resize(0); });
  EditMeasure(k.m, 5, [](MEASUREBASE& r) { r.m_arrPoint.resize(3); });
  EXPECT_FALSE(k.m.CalcMeasureValues(5, &v));
  k.m.SetScale(1.0f, WString(600, u'u'), ScaleDisplayBlock{});
  EXPECT_EQ(k.T(1).size(), 499u);
  EXPECT_EQ(k.T(2), u"L: 0.000 " + WString(490, u'u'));
}

TEST(MeasureValues, TextsKeepTheDecimalPointUnderAGermanLocale) {
  const std::string old = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  AllKinds k;
  k.ExpectTexts();
  std::setlocale(LC_ALL, old.c_str());
}

TEST(MeasureValues, ReportLines) {
  AllKinds k;
  static char16_t buf[kReportLineLen];
  auto line = [&](bool word, int i, const char16_t* label) {
    buf[0] = u'#', buf[1] = 0;
    word ? k.m.GetWordReportLine(i, label, buf) : k.m.GetExcelReportLine(i, label, buf);
    return WString(buf);
  };
  EXPECT_EQ(line(true, 0, u"Point"), u"[0]Point\uFF0CTotal\uFF1A3");
  EXPECT_EQ(line(true, 1, u"Line"), u"[1]Line\uFF0CpA(0,0)\u3001pB(3,4)\uFF0CL\uFF1A5.000px");
  EXPECT_EQ(line(false, 4, u"x"), u"pO(0,0)\u3001pA(10,0)\u3001pB(0,10)\uFF0C\u2220\uFF1A90.000\u00B0");
  EXPECT_EQ(line(false, 5, u"x"), u"L: 50.000px\uFF0C \u2220\uFF1A0.000\u00B0");
  EXPECT_EQ(line(true, 6, u"Rectangle"), u"[6]Rectangle\uFF0CpA(10,10)\u3001pB(110,10)\u3001pC(10,60)\u3001"
                                         u"pD(110,60)\uFF0CC: 300.000px\uFF0CS: 5000.000px\u00B2");
  EXPECT_EQ(line(false, 9, u"x"), u"\u2220\uFF1A90.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A157.080 px");
  EXPECT_EQ(line(false, 11, u"x"),
            u"pO(0,0)\u3001pA(10,0)\u3001pB(0,10)\u3001pC(-10,0)\uFF0CC: 62.832px\uFF0CS: 314.159px\u00B2");
  EXPECT_EQ(line(false, 12, u"x"), u"C: 34.142px\uFF0CS: 50.000px\u00B2");  // closed perimeter printed
  EXPECT_EQ(line(true, 16, u"x"), u"#");  // index = count: nothing written
  char16_t small[8] = {};
  small[7] = u'!';
  k.m.GetWordReportLine(1, u"Line", small, 7);
  EXPECT_EQ(WString(small), u"[1]Lin");
  EXPECT_EQ(small[7], u'!');
}
