// Values from the exact geometry of the clicked points: cases worked out by hand for every kind
// whose value is more than a plain length, a property test against an independent computation,
// and the texts following the scale (announced row by row) and a load.
#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "model_test_util.h"

using namespace model_test;

namespace {

WString T(const CMeasureManager& m, int i) { return Text(m.GetMeasure(i)->m_szResult); }

MeasureValues Values(const CMeasureManager& m, int i) {
  MeasureValues v;
  EXPECT_TRUE(m.CalcMeasureValues(i, &v));
  return v;
}

// Circle kinds with the centre the mouse machine stores (truncated to whole pixels).
int AddCircle3(CMeasureManager& m, POINT a, POINT b, POINT c) {
  return AddShape(m, MK_CIRCLE3, {a, b, c, m.CircleCentreFrom3Points(a, b, c)});
}
int AddArc(CMeasureManager& m, POINT e1, POINT e2, POINT on) {
  return AddShape(m, MK_ARC3, {e1, e2, on, m.CircleCentreFrom3Points(e1, e2, on)});
}

WString Excel(const CMeasureManager& m, int i) {
  static char16_t buf[kReportLineLen];
  buf[0] = 0;
  m.GetExcelReportLine(i, u"", buf);
  return WString(buf);
}

}  // namespace

// A test image of 10 mm = 1000 px: distances of known pixel length read exactly.
TEST(ExactValues, KnownDistancesOnATestImage) {
  CMeasureManager m;
  m.SetScale(0.01f, u"mm", ScaleDisplayBlock{});
  // 150 px from the vertical line x = 1400, and from a 45-degree line 100 px
  const int toVertical = AddShape(m, MK_POINT2LINE, {{1250, 449}, {1400, 100}, {1400, 900}});
  const int toDiagonal = AddShape(m, MK_POINT2LINE, {{0, 100}, {0, 0}, {1000, 1000}});
  // two vertical lines 100 px apart, two horizontal ones, two diagonals 200 px apart along x
  const int vertical = AddShape(m, MK_LINE2LINE, {{250, 100}, {250, 900}, {350, 120}, {350, 880}});
  const int horizontal = AddShape(m, MK_LINE2LINE, {{100, 250}, {900, 250}, {80, 350}, {700, 350}});
  const int diagonal = AddShape(m, MK_LINE2LINE, {{0, 0}, {1000, 1000}, {200, 0}, {1200, 1000}});
  // a horizontal line across a diagonal: 45 degrees, its midpoint on the diagonal
  const int crossing = AddShape(m, MK_LINE2LINE, {{0, 500}, {1000, 500}, {0, 0}, {1000, 1000}});
  EXPECT_EQ(T(m, toVertical), u"L: 1.500 mm");
  EXPECT_EQ(T(m, toDiagonal), u"L: 0.707 mm");
  EXPECT_EQ(T(m, vertical), u"\u2220\uFF1A0.000\u00B0 L: 1.000 mm");
  EXPECT_EQ(T(m, horizontal), u"\u2220\uFF1A0.000\u00B0 L: 1.000 mm");
  EXPECT_EQ(T(m, diagonal), u"\u2220\uFF1A0.000\u00B0 L: 1.414 mm");
  EXPECT_EQ(T(m, crossing), u"\u2220\uFF1A45.000\u00B0 L: 0.000 mm");
  EXPECT_EQ(Excel(m, vertical), u"L: 1.000mm\uFF0C \u2220\uFF1A0.000\u00B0");

  // The foot on a vertical line is stored truncated, (99,70); the distance is the exact 60.
  EXPECT_EQ(m.PerpendicularFoot({40, 70}, {100, 0}, {100, 50}), (POINT{99, 70}));
  EXPECT_EQ(T(m, AddShape(m, MK_POINT2LINE, {{40, 70}, {100, 0}, {100, 50}})), u"L: 0.600 mm");
  // The midpoint of a line is exact: (0,0)-(1,0) has its middle 2.5 px from x = 3.
  m.SetScale(1.0f, u"px", ScaleDisplayBlock{});
  EXPECT_EQ(T(m, AddShape(m, MK_LINE2LINE, {{0, 0}, {1, 0}, {3, -5}, {3, 5}})), u"\u2220\uFF1A90.000\u00B0 L: 2.500 px");
  // A line of two equal points is that point.
  EXPECT_EQ(T(m, AddShape(m, MK_POINT2LINE, {{0, 0}, {3, 4}, {3, 4}})), u"L: 5.000 px");
}

TEST(ExactValues, AnglesKeepTheirThirdDecimalAtEveryOpening) {
  CMeasureManager m;
  const std::tuple<POINT, POINT, POINT, const char16_t*> angles[] = {
      {{1000, 1}, {0, 0}, {1000, 0}, u"0.057"},    // atan(1/1000)
      {{10000, 1}, {0, 0}, {10000, 0}, u"0.006"},  // atan(1/10000)
      {{10, 0}, {0, 0}, {-10000, 1}, u"179.994"},
      {{10, 0}, {0, 0}, {-10, 1}, u"174.289"},     // 180 - atan(1/10)
      {{10, 0}, {0, 0}, {0, 10}, u"90.000"},
      {{3, 4}, {0, 0}, {4, 3}, u"16.260"},         // atan2(7, 24)
      {{0, 0}, {0, 0}, {10, 0}, u"0.000"},         // an arm without length
  };
  for (const auto& [a, v, b, want] : angles)
    EXPECT_EQ(T(m, AddShape(m, MK_ANGLE, {a, v, b})), u"\u2220\uFF1A" + WString(want) + u"\u00B0");
  // Between two lines the angle folds into 0..90, whichever way each was drawn.
  const std::tuple<POINT, POINT, POINT, POINT, const char16_t*> lines[] = {
      {{0, 0}, {3, 4}, {0, 0}, {10, 0}, u"53.130"},
      {{0, 0}, {-3, 4}, {0, 0}, {10, 0}, u"53.130"},
      {{3, 4}, {0, 0}, {10, 0}, {0, 0}, u"53.130"},
      {{0, 0}, {10, 0}, {5, -5}, {5, 5}, u"90.000"},
  };
  for (const auto& [a0, a1, b0, b1, want] : lines) {
    const WString text = T(m, AddShape(m, MK_LINE2LINE, {a0, a1, b0, b1}));
    EXPECT_EQ(text.substr(0, text.find(u'\u00B0')), u"\u2220\uFF1A" + WString(want));
  }
}

// Circles through (0,0), (3,0), (0,1) have the centre (1.5, 0.5), stored as (1, 0).
TEST(ExactValues, CirclesArcsAndCentresFromTheExactCentre) {
  CMeasureManager m;
  const int c = AddCircle3(m, {0, 0}, {3, 0}, {0, 1});
  EXPECT_EQ(m.GetMeasure(c)->m_arrPoint[3], (POINT{1, 0}));
  EXPECT_EQ(T(m, c), u"(r:1.581) S: 7.854 px\u00B2");  // r = sqrt 2.5
  // The report prints the stored centre and the exact values.
  EXPECT_EQ(Excel(m, c), u"pO(1,0)\u3001pA(0,0)\u3001pB(3,0)\u3001pC(0,1)\uFF0CC: 9.935px\uFF0CS: 7.854px\u00B2");

  // Centre to line and centre to centre: the second circle's centre is (11, 1.5).
  EXPECT_EQ(T(m, AddShape(m, MK_CIRCLE2LINE, {{0, 0}, {3, 0}, {0, 1}, {10, -5}, {10, 5}, {1, 0}})), u"L: 8.500 px");
  EXPECT_EQ(T(m, AddShape(m, MK_CIRCLE2LINE, {{0, 0}, {3, 0}, {0, 1}, {10, 7}, {10, 7}, {1, 0}})),
            u"L: 10.700 px");  // a line of one point: sqrt(8.5^2 + 6.5^2)
  const POINT second = m.CircleCentreFrom3Points({10, 0}, {12, 0}, {10, 3});
  EXPECT_EQ(T(m, AddShape(m, MK_CIRCLE2CIRCLE, {{0, 0}, {3, 0}, {0, 1}, {10, 0}, {12, 0}, {10, 3}, {1, 0}, second})),
            u"L: 9.552 px");

  // Arcs on the circle of centre (0.5, 0.5) and radius sqrt(50) / 2, all stored with the centre
  // (0, 0): a quarter, a half and three quarters counter-clockwise, a quarter clockwise. The
  // degrees printed are the sweep, as the radians and the length are.
  const std::tuple<POINT, POINT, POINT, const char16_t*> arcs[] = {
      {{4, 0}, {0, -3}, {3, -2}, u"90.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A5.554"},
      {{4, 0}, {-3, 1}, {3, -2}, u"180.000\u00B0\uFF41\uFF1A3.142rad L\uFF1A11.107"},
      {{4, 0}, {1, 4}, {-3, 1}, u"270.000\u00B0\uFF41\uFF1A4.712rad L\uFF1A16.661"},
      {{4, 0}, {1, 4}, {3, 3}, u"90.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A5.554"},
  };
  for (const auto& [e1, e2, on, want] : arcs) {
    const int i = AddArc(m, e1, e2, on);
    EXPECT_EQ(m.GetMeasure(i)->m_arrPoint[3], (POINT{0, 0}));
    EXPECT_EQ(T(m, i), u"\u2220\uFF1A" + WString(want) + u" px");
    EXPECT_EQ(Excel(m, i), T(m, i));
    EXPECT_NEAR(Values(m, i).L, std::sqrt(50.0) / 2, 1e-12);
  }

  // Three points on one line have no circle: the stored centre stands in, as it always did.
  EXPECT_EQ(T(m, AddShape(m, MK_CIRCLE3, {{0, 0}, {5, 5}, {9, 9}, {0, 0}})), u"(r:0.000) S: 0.000 px\u00B2");
  EXPECT_EQ(T(m, AddShape(m, MK_CIRCLE3, {{4, 0}, {4, 0}, {4, 0}, {1, 0}})), u"(r:3.000) S: 28.274 px\u00B2");
  EXPECT_EQ(T(m, AddShape(m, MK_ARC3, {{0, 0}, {10, 0}, {5, 0}, {0, 0}})),
            u"\u2220\uFF1A0.000\u00B0\uFF41\uFF1A0.000rad L\uFF1A0.000 px");
}

// Round rectangles as drawn (corner radii min(25, side / 2)), ellipses by their true perimeter.
TEST(ExactValues, RoundRectanglesAndEllipses) {
  CMeasureManager m;
  struct Shape {
    std::int32_t kind;
    POINT a, b;
    double perimeter, area;
  };
  const Shape shapes[] = {
      {MK_ROUNDRECT, {10, 10}, {110, 60}, 257.0796327, 4463.4954085},  // 100 + 2 pi 25; 5000 - (4 - pi) 625
      {MK_ROUNDRECT, {0, 0}, {100, 40}, 241.8083394, 3570.7963268},    // radii 25, 20
      {MK_ROUNDRECT, {30, 20}, {0, 0}, 79.3271979, 471.2388980},       // all corner: the ellipse 15 x 10
      {MK_ROUNDRECT, {0, 0}, {100, 0}, 200.0, 0.0},                    // flat: both sides of the line
      {MK_ELLIPSE, {0, 0}, {100, 100}, 314.1592654, 7853.9816340},     // axis ratio 1
      {MK_ELLIPSE, {10, 10}, {110, 60}, 242.2112055, 3926.9908170},    // 2
      {MK_ELLIPSE, {0, 0}, {200, 20}, 406.3974180, 3141.5926536},      // 10
      {MK_ELLIPSE, {0, 0}, {100, 0}, 200.0, 0.0},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message() << s.kind << " " << s.b.x << "x" << s.b.y);
    const int i = AddShape(m, s.kind, {s.a, s.b});
    const MeasureValues v = Values(m, i);
    EXPECT_NEAR(v.P, s.perimeter, 1e-6);
    EXPECT_NEAR(v.S, s.area, 1e-6);
  }
  EXPECT_EQ(T(m, 0), u"(cx:100.000, cy:50.000) S: 4463.495 px\u00B2");
  EXPECT_EQ(Excel(m, 0),
            u"pA(10,10)\u3001pB(110,10)\u3001pC(10,60)\u3001pD(110,60)\uFF0CC: 257.080px\uFF0CS: 4463.495px\u00B2");
  EXPECT_EQ(Excel(m, 5),
            u"pA(10,10)\u3001pB(110,10)\u3001pC(10,60)\u3001pD(110,60)\uFF0CC: 242.211px\uFF0CS: 3926.991px\u00B2");
  m.SetScale(0.5f, u"mm", ScaleDisplayBlock{});
  EXPECT_EQ(Excel(m, 0),
            u"pA(10,10)\u3001pB(110,10)\u3001pC(10,60)\u3001pD(110,60)\uFF0CC: 128.540mm\uFF0CS: 1115.874mm\u00B2");
  EXPECT_EQ(Excel(m, 5),
            u"pA(10,10)\u3001pB(110,10)\u3001pC(10,60)\u3001pD(110,60)\uFF0CC: 121.106mm\uFF0CS: 981.748mm\u00B2");
}

namespace {

// An independent computation in long double, by other routes than the engine's: angles from the
// arccosine, distances through the foot of the projection, centres from the perpendicular
// bisectors in absolute coordinates, sweeps by unwrapping the directions, ellipse perimeters from
// the arithmetic-geometric mean.
namespace ref {

using LD = long double;
constexpr LD kPi = 3.141592653589793238462643383279503L;

struct P {
  LD x, y;
};
P Of(POINT p) { return P{LD(p.x), LD(p.y)}; }
LD Len(LD x, LD y) { return std::sqrt(x * x + y * y); }
LD Dist(P a, P b) { return Len(a.x - b.x, a.y - b.y); }

LD VectorAngle(P u, P w) {
  const LD c = (u.x * w.x + u.y * w.y) / (Len(u.x, u.y) * Len(w.x, w.y));
  return std::acos(std::clamp(c, -1.0L, 1.0L)) * 180 / kPi;
}

LD ToLine(P p, P a, P b) {
  const LD t = ((p.x - a.x) * (b.x - a.x) + (p.y - a.y) * (b.y - a.y)) / ((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
  return Dist(p, P{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
}

P Centre(P a, P b, P c) {
  const LD a1 = 2 * (b.x - a.x), b1 = 2 * (b.y - a.y), c1 = b.x * b.x + b.y * b.y - a.x * a.x - a.y * a.y;
  const LD a2 = 2 * (c.x - a.x), b2 = 2 * (c.y - a.y), c2 = c.x * c.x + c.y * c.y - a.x * a.x - a.y * a.y;
  const LD det = a1 * b2 - a2 * b1;
  return P{(c1 * b2 - c2 * b1) / det, (a1 * c2 - a2 * c1) / det};
}

LD Sweep(P e1, P e2, P m, P o) {
  auto dir = [&](P p) { return std::atan2(o.y - p.y, p.x - o.x) * 180 / kPi; };
  const LD to2 = std::fmod(dir(e2) - dir(e1) + 720, 360), toM = std::fmod(dir(m) - dir(e1) + 720, 360);
  return toM < to2 ? to2 : 360 - to2;  // through m counter-clockwise, or the other way round
}

LD EllipsePerimeter(LD a, LD b) {
  if (a < b) std::swap(a, b);
  if (b == 0) return 4 * a;
  LD x = a, y = b, sum = (a * a - b * b) / 2, weight = 0.5L;
  for (int k = 0; k < 12; ++k) {
    const LD c = (x - y) / 2;
    weight *= 2;
    sum += weight * c * c;
    const LD nx = (x + y) / 2;
    y = std::sqrt(x * y);
    x = nx;
  }
  return 2 * kPi * (a * a - sum) / x;
}

}  // namespace ref

void ExpectClose(double got, long double want, const char* what) {
  EXPECT_NEAR(got, double(want), 1e-9 * std::max(1.0, std::fabs(double(want)))) << what;
}

}  // namespace

TEST(ExactValues, RandomShapesAgreeWithAnIndependentComputation) {
  std::mt19937 rng(30);
  std::uniform_int_distribution<std::int32_t> coord(-5000, 5000);
  std::uniform_real_distribution<double> scale(0.001, 10.0);
  auto pt = [&] { return POINT{coord(rng), coord(rng)}; };
  // Three points on a circle: distinct and not on one line.
  auto circle = [&](POINT* a, POINT* b, POINT* c) {
    do {
      *a = pt(), *b = pt(), *c = pt();
    } while ((std::int64_t(b->x) - a->x) * (std::int64_t(c->y) - a->y) ==
             (std::int64_t(b->y) - a->y) * (std::int64_t(c->x) - a->x));
  };
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    CMeasureManager m;
    const float f = float(scale(rng));
    m.SetScale(f, u"mm", ScaleDisplayBlock{});
    const ref::LD s = f;
    POINT a, b, c, d, e, g;
    do a = pt(), b = pt(), c = pt(); while (a == b || b == c);

    ExpectClose(Values(m, AddShape(m, MK_ANGLE, {a, b, c})).L, ref::VectorAngle(
        ref::P{ref::Of(a).x - b.x, ref::Of(a).y - b.y}, ref::P{ref::Of(c).x - b.x, ref::Of(c).y - b.y}), "261");

    do d = pt(); while (c == d);
    const MeasureValues ll = Values(m, AddShape(m, MK_LINE2LINE, {a, b, c, d}));
    const ref::LD between = ref::VectorAngle(ref::P{ref::LD(b.x) - a.x, ref::LD(b.y) - a.y},
                                             ref::P{ref::LD(d.x) - c.x, ref::LD(d.y) - c.y});
    ExpectClose(ll.S, std::min(between, 180 - between), "262 S");
    ExpectClose(ll.L, s * ref::ToLine(ref::P{(ref::LD(a.x) + b.x) / 2, (ref::LD(a.y) + b.y) / 2}, ref::Of(c), ref::Of(d)),
                "262 L");

    ExpectClose(Values(m, AddShape(m, MK_POINT2LINE, {a, c, d})).L, s * ref::ToLine(ref::Of(a), ref::Of(c), ref::Of(d)),
                "270");

    // The round rectangle as a cross of two rectangles and four quarter ellipses.
    const MeasureValues rr = Values(m, AddShape(m, MK_ROUNDRECT, {a, b}));
    const ref::LD w = std::abs(ref::LD(a.x) - b.x), h = std::abs(ref::LD(a.y) - b.y);
    const ref::LD rx = std::min(25.0L, w / 2), ry = std::min(25.0L, h / 2);
    ExpectClose(rr.S, s * s * ((w - 2 * rx) * h + 2 * rx * (h - 2 * ry) + ref::kPi * rx * ry), "264 S");
    ExpectClose(rr.P, s * (2 * (w - 2 * rx) + 2 * (h - 2 * ry) + ref::EllipsePerimeter(rx, ry)), "264 P");
    const MeasureValues el = Values(m, AddShape(m, MK_ELLIPSE, {a, b}));
    ExpectClose(el.P, ref::EllipsePerimeter(s * w / 2, s * h / 2), "265 P");
    ExpectClose(el.S, ref::kPi * (s * w / 2) * (s * h / 2), "265 S");

    circle(&a, &b, &c);
    const ref::P o = ref::Centre(ref::Of(a), ref::Of(b), ref::Of(c));
    const MeasureValues arc = Values(m, AddArc(m, a, b, c));
    ExpectClose(arc.S, ref::Sweep(ref::Of(a), ref::Of(b), ref::Of(c), o), "266 S");
    ExpectClose(arc.L, s * ref::Dist(ref::Of(a), o), "266 L");
    ExpectClose(Values(m, AddCircle3(m, a, b, c)).A, s * ref::Dist(ref::Of(a), o), "268");

    do d = pt(), e = pt(); while (d == e);
    ExpectClose(Values(m, AddShape(m, MK_CIRCLE2LINE, {a, b, c, d, e, m.CircleCentreFrom3Points(a, b, c)})).L,
                s * ref::ToLine(o, ref::Of(d), ref::Of(e)), "272");
    circle(&d, &e, &g);
    ExpectClose(Values(m, AddShape(m, MK_CIRCLE2CIRCLE, {a, b, c, d, e, g, m.CircleCentreFrom3Points(a, b, c),
                                                         m.CircleCentreFrom3Points(d, e, g)}))
                    .L,
                s * ref::Dist(o, ref::Centre(ref::Of(d), ref::Of(e), ref::Of(g))), "273");
  }
}

namespace {

struct Note {
  int index, action;
  WString text;
  friend bool operator==(const Note&, const Note&) = default;
};
std::vector<Note> g_notes;

std::int32_t RecordNote(std::int32_t index, MEASUREBASE rec, std::int32_t action) {
  g_notes.push_back(Note{index, action, Text(rec.m_szResult)});
  return 1;
}

}  // namespace

TEST(ExactValues, AScaleChangeAnnouncesEveryNewTextButNotTheShapeBeingBuilt) {
  CMeasureManager m;
  m.SetNotifyTarget(nullptr, &RecordNote);
  AddShape(m, MK_LINE, {{0, 0}, {3, 4}});
  AddShape(m, MK_ROUNDRECT, {{10, 10}, {110, 60}});
  m.AddRemark(5, 5, u"remark", 20, 0);
  m.OnMeasureLButtonDown(500, 500, MK_LINE, 1);
  m.OnMeasureMouseMove(600, 500);
  g_notes.clear();
  m.SetScale(0.5f, u"mm", ScaleDisplayBlock{});
  EXPECT_EQ(g_notes, (std::vector<Note>{{0, kNotifyTextChanged, u"L: 2.500 mm"},
                                        {1, kNotifyTextChanged, u"(cx:50.000, cy:25.000) S: 1115.874 mm\u00B2"}}));
  EXPECT_EQ(T(m, 2), u"L: 50.000 mm");  // its text changed too; its row gets it when it is finished
  m.OnMeasureLButtonDown(600, 500, MK_NONE, 0);
  ASSERT_EQ(g_notes.size(), 3u);
  EXPECT_EQ(g_notes.back(), (Note{2, 2, u"L: 50.000 mm"}));
}

// The last circle's third point follows the pointer while it is placed, so the live text is that
// of the circle drawn; the finishing press stores its point and the text follows it.
TEST(ExactValues, CircleToCircleWhileBuildingAndFinished) {
  CMeasureManager m;
  const std::pair<POINT, bool> steps[] = {{{0, 0}, true}, {{3, 0}, true},   {{0, 1}, true},
                                          {{10, 0}, true}, {{12, 0}, true}, {{10, 3}, false}};
  bool first = true;
  for (const auto& [p, press] : steps) {
    if (!first) m.OnMeasureMouseMove(p.x, p.y);
    if (press) m.OnMeasureLButtonDown(p.x, p.y, first ? MK_CIRCLE2CIRCLE : MK_NONE, first ? 1 : 0);
    first = false;
  }
  EXPECT_EQ(T(m, 0), u"L: 9.552 px");  // (1.5, 0.5) to (11, 1.5)
  ASSERT_EQ(m.OnMeasureLButtonDown(10, 4, MK_NONE, 0), 0);
  EXPECT_EQ(m.GetMeasure(0)->m_arrPoint[5], (POINT{10, 4}));
  EXPECT_EQ(T(m, 0), u"L: 9.618 px");  // (1.5, 0.5) to (11, 2)
  m.RefreshResultTexts();
  EXPECT_EQ(T(m, 0), u"L: 9.618 px");
}

// A file written with older values loads with the values of its points, at the scale in force.
TEST(ExactValues, OldLayerFilesLoadWithExactTexts) {
  const auto dir = TempDir();
  CMeasureManager old;
  const int rr = AddShape(old, MK_ROUNDRECT, {{10, 10}, {110, 60}});
  const int arc = AddShape(old, MK_ARC3, {{100, 0}, {0, -100}, {60, -80}, {0, 0}});
  EditMeasure(old, rr, [](MEASUREBASE& r) {
    CopyToBuffer(u"(cx:100.000, cy:50.000) S: 2853.982 px\u00B2", r.m_szResult, kResultTextLen);
  });
  EditMeasure(old, arc, [](MEASUREBASE& r) {
    CopyToBuffer(u"\u2220\uFF1A270.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A157.080 px", r.m_szResult, kResultTextLen);
  });
  ASSERT_TRUE(old.SaveLayers(dir / "old.kvmi", u"Cam", 0));

  g_notes.clear();
  CMeasureManager now;
  now.SetNotifyTarget(nullptr, &RecordNote);
  ASSERT_TRUE(now.LoadLayers(dir / "old.kvmi", u"Cam", 0));
  EXPECT_EQ(T(now, 0), u"(cx:100.000, cy:50.000) S: 4463.495 px\u00B2");
  EXPECT_EQ(T(now, 1), u"\u2220\uFF1A90.000\u00B0\uFF41\uFF1A1.571rad L\uFF1A157.080 px");
  EXPECT_EQ(g_notes, (std::vector<Note>{{0, 1, T(now, 0)}, {1, 1, T(now, 1)}}));  // one row each, texts made

  CMeasureManager mm;
  mm.SetScale(0.5f, u"mm", ScaleDisplayBlock{});
  ASSERT_TRUE(mm.LoadLayers(dir / "old.kvmi", u"Cam", 0));
  EXPECT_EQ(T(mm, 0), u"(cx:50.000, cy:25.000) S: 1115.874 mm\u00B2");
  std::filesystem::remove_all(dir);
}
