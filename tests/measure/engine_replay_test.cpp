// Press sequences replayed for every tool kind, one after the other on one engine, as the view
// sends them: the first press armed with the kind, every later press with no tool. The expected
// points, texts and boxes are worked out by hand (scale 1, unit "px"); n is the point count.
#include <gtest/gtest.h>

#include "tests/measure/engine_support.h"

namespace {

struct Step {
  char op;  // 'P' left press, 'M' pointer move, 'R' right press
  int x, y;
  int code = 0;  // expected result of a press
};

struct Replay {
  int kind;
  std::vector<Step> steps;
  int slotCount, n0;             // point slots and count after the first press (measurements)
  std::vector<POINT> points;  // a measurement's points 0 .. n-1; an arrow's or cross's pt1, pt2
  const char16_t* text;       // the result text; nullptr for annotations and refused kinds
  RECT box;                   // m_rcBound of a measurement, m_rcHit of an arrow or cross
};

const Replay kReplays[] = {
    // point set: each press appends, the last point follows the pointer; the right button drops
    // it. Bounds of (10,10) (20,30) (40,50) grown by 10.
    {MK_POINT,
     {{'P', 10, 10, 2}, {'M', 20, 30}, {'P', 20, 30, 3}, {'M', 40, 50}, {'P', 40, 50, 3}, {'M', 60, 70}, {'R', 0, 0, 0}},
     1000, 2, {{10, 10}, {20, 30}, {40, 50}}, u"Total: 3", {0, 0, 50, 60}},
    // line: the second press stores nothing, p1 stays at the last move (30,40); |p0 p1| = 50
    {MK_LINE, {{'P', 0, 0, 2}, {'M', 30, 40}, {'P', 99, 99, 0}}, 2, 2, {{0, 0}, {30, 40}}, u"L: 50.000 px",
     {-10, -10, 40, 50}},
    // parallel: length 60
    {MK_PARALLEL, {{'P', 10, 10, 2}, {'M', 10, 70}, {'P', 10, 70, 0}}, 2, 2, {{10, 10}, {10, 70}}, u"L: 60.000 px",
     {0, 0, 20, 80}},
    // fold line: (0,0) (3,4) (3,10) after the right button dropped the follower: 5 + 6 = 11
    {MK_FOLDLINE,
     {{'P', 0, 0, 2}, {'M', 3, 4}, {'P', 3, 4, 3}, {'M', 3, 10}, {'P', 3, 10, 3}, {'M', 100, 100}, {'R', 0, 0, 0}},
     1000, 2, {{0, 0}, {3, 4}, {3, 10}}, u"L: 11.000 px", {-10, -10, 13, 20}},
    // angle: vertex (0,0) between (100,0) and (0,100)
    {MK_ANGLE, {{'P', 100, 0, 2}, {'M', 0, 0}, {'P', 0, 0, 1}, {'M', 0, 100}, {'P', 0, 100, 0}}, 3, 3,
     {{100, 0}, {0, 0}, {0, 100}}, u"∠：90.000°", {-10, -10, 110, 110}},
    // line to line: (0,0)-(100,0) against (20,40)-(60,80), 45 degrees apart; the midpoint (50,0)
    // lies 70 / sqrt 2 = 49.497 from y = x + 20
    {MK_LINE2LINE,
     {{'P', 0, 0, 2}, {'M', 100, 0}, {'P', 100, 0, 3}, {'M', 20, 40}, {'P', 20, 40, 3}, {'M', 60, 80},
      {'P', 60, 80, 0}},
     4, 1, {{0, 0}, {100, 0}, {20, 40}, {60, 80}}, u"∠：45.000° L: 49.497 px", {-10, -10, 110, 90}},
    // rectangle 100 x 50
    {MK_RECT, {{'P', 10, 10, 2}, {'M', 110, 60}, {'P', 110, 60, 0}}, 2, 2, {{10, 10}, {110, 60}},
     u"(cx:100.000, cy:50.000) S: 5000.000 px²", {0, 0, 120, 70}},
    // round rectangle: corners of radius 25, 5000 - (4 - pi) x 625 = 4463.495
    {MK_ROUNDRECT, {{'P', 10, 10, 2}, {'M', 110, 60}, {'P', 110, 60, 0}}, 2, 2, {{10, 10}, {110, 60}},
     u"(cx:100.000, cy:50.000) S: 4463.495 px²", {0, 0, 120, 70}},
    // ellipse: radii 50 and 25, pi x 1250 = 3926.991
    {MK_ELLIPSE, {{'P', 10, 10, 2}, {'M', 110, 60}, {'P', 110, 60, 0}}, 2, 2, {{10, 10}, {110, 60}},
     u"(rx:50.000, ry:25.000) S: 3926.991 px²", {0, 0, 120, 70}},
    // arc: ends (300,200) and (200,100), on it (280,140); centre of the three:
    // a = 100*500 + 100*300 = 80000, b = 80*480 + 40*240 = 48000, d = 40*100 - (-100)(-80) = -4000,
    // cx = (-100*48000 + 40*80000) / -8000 = 200, cy = (-80*80000 + 100*48000) / -8000 = 200.
    // Angles from the right: E1 0, M 36.87, E2 90 (above): a quarter of radius 100:
    // 90.000 degrees, 1.571 rad, 157.080 long
    {MK_ARC3,
     {{'P', 300, 200, 2}, {'M', 200, 100}, {'P', 200, 100, 1}, {'M', 280, 140}, {'P', 280, 140, 0}}, 4, 4,
     {{300, 200}, {200, 100}, {280, 140}, {200, 200}}, u"∠：90.000°ａ：1.571rad L：157.080 px", {190, 90, 310, 210}},
    // two-point circle: diameter (100,100)-(160,180) = 100, midpoint (130,140); pi x 2500
    {MK_CIRCLE2, {{'P', 100, 100, 2}, {'M', 160, 180}, {'P', 160, 180, 0}}, 3, 3, {{100, 100}, {160, 180}, {130, 140}},
     u"(r:50.000) S: 7853.982 px²", {90, 90, 170, 190}},
    // three-point circle: the arc's points again, centre (200,200), radius 100: pi x 10000
    {MK_CIRCLE3,
     {{'P', 300, 200, 2}, {'M', 200, 100}, {'P', 200, 100, 1}, {'M', 280, 140}, {'P', 280, 140, 0}}, 4, 4,
     {{300, 200}, {200, 100}, {280, 140}, {200, 200}}, u"(r:100.000) S: 31415.927 px²", {190, 90, 310, 210}},
    // polygon (0,0) (10,0) (10,10): terms 0, 0 and the closing 0.5 x (0 - 10) x 10 = -50
    {MK_POLYGON,
     {{'P', 0, 0, 2}, {'M', 10, 0}, {'P', 10, 0, 3}, {'M', 10, 10}, {'P', 10, 10, 3}, {'M', 50, 50}, {'R', 0, 0, 0}},
     1000, 2, {{0, 0}, {10, 0}, {10, 10}}, u"S: 50.000 px²", {-10, -10, 20, 20}},
    // point to line: the last press lands in p2 at (100,30), away from the last move; the text is
    // that of the line as stored, (0,10)-(100,30): |100 x 60 - 20 x 40| / sqrt 10400 = 50.990
    {MK_POINT2LINE,
     {{'P', 40, 70, 2}, {'M', 0, 10}, {'P', 0, 10, 3}, {'M', 100, 10}, {'P', 100, 30, 0}}, 3, 1,
     {{40, 70}, {0, 10}, {100, 30}}, u"L: 50.990 px", {-10, 0, 110, 80}},
    // the rule-centre kind is no tool: no slot, no capture; a move ends the armed state
    {MK_RULECENTRE, {{'P', 10, 10, 3}, {'M', 5000, 5000}}, 0, 0, {}, nullptr, {}},
    // circle centre to line: circle as above (centre p5 = (200,200) from the move at n = 2),
    // line (0,400)-(400,400): k = -0, so the foot is (200,400), 200 away
    {MK_CIRCLE2LINE,
     {{'P', 300, 200, 2}, {'M', 200, 100}, {'P', 200, 100, 3}, {'M', 280, 140}, {'P', 280, 140, 3}, {'M', 0, 400},
      {'P', 0, 400, 3}, {'M', 400, 400}, {'P', 400, 400, 0}},
     6, 1, {{300, 200}, {200, 100}, {280, 140}, {0, 400}, {400, 400}, {200, 200}}, u"L: 200.000 px",
     {-10, 90, 410, 410}},
    // circle centre to circle centre: the second circle is the first moved by (400,0):
    // a = 100*1300 + 100*300 = 160000, b = 80*1280 + 40*240 = 112000, d = -4000,
    // cx = (-100*112000 + 40*160000) / -8000 = 600, cy = (-80*160000 + 100*112000) / -8000 = 200
    {MK_CIRCLE2CIRCLE,
     {{'P', 300, 200, 2}, {'M', 200, 100}, {'P', 200, 100, 3}, {'M', 280, 140}, {'P', 280, 140, 3}, {'M', 700, 200},
      {'P', 700, 200, 3}, {'M', 600, 100}, {'P', 600, 100, 3}, {'M', 680, 140}, {'P', 680, 140, 0}},
     8, 1, {{300, 200}, {200, 100}, {280, 140}, {700, 200}, {600, 100}, {680, 140}, {200, 200}, {600, 200}},
     u"L: 400.000 px", {190, 90, 710, 210}},
    // arrow: pt2 is the second press; hit box spans both ends grown by 10
    {MK_ARROW, {{'P', 10, 20, 2}, {'M', 70, 5}, {'P', 80, 30, 0}}, 0, 0, {{10, 20}, {80, 30}}, nullptr, {0, 10, 90, 40}},
    // cross: pt1 follows the pointer, pt2 is the second press
    {MK_CROSS, {{'P', 500, 400, 2}, {'M', 520, 410}, {'P', 530, 420, 0}}, 0, 0, {{520, 410}, {530, 420}}, nullptr,
     {510, 400, 540, 430}},
};

TEST(EngineReplay, EveryKindFromPressesToPointsTextAndCallbacks) {
  FakeCapture cap;
  CMeasureManager mm;
  mm.SetNotifyTarget(&cap, &RecordNotify);
  for (const Replay& r : kReplays) {
    SCOPED_TRACE(r.kind);
    g_notifyLog.clear();
    const int measure = mm.GetMeasureCount(), remark = mm.GetRemarkCount(), sets = cap.sets;
    bool first = true;
    for (const Step& s : r.steps) {
      if (s.op == 'M') {
        mm.OnMeasureMouseMove(s.x, s.y);
        continue;
      }
      const int code = s.op == 'R' ? mm.OnMeasureRButtonDown(s.x, s.y)
                                   : mm.OnMeasureLButtonDown(s.x, s.y, first ? r.kind : MK_NONE, first ? 1 : 0);
      first = false;
      EXPECT_EQ(code, s.code) << s.op << " " << s.x << "," << s.y;
    }
    EXPECT_TRUE(mm.MouseState() == MS_IDLE && !mm.InProgress() && !cap.captured && mm.CreatingIndex() == -1);

    if (r.kind == MK_ARROW || r.kind == MK_CROSS) {
      ASSERT_EQ(mm.GetRemarkCount(), remark + 1);
      const stRemark& a = *mm.GetRemark(remark);
      EXPECT_EQ(a.m_nKind, r.kind);
      EXPECT_EQ(a.m_pt1, r.points[0]);
      EXPECT_EQ(a.m_pt2, r.points[1]);
      EXPECT_EQ(a.m_rcHit, r.box);
      EXPECT_EQ(mm.CurrentRemark(), remark);
      EXPECT_TRUE(g_notifyLog.empty());
      continue;
    }
    if (!r.text) {  // refused
      EXPECT_EQ(mm.GetMeasureCount() * 100000 + mm.GetRemarkCount(), measure * 100000 + remark);
      EXPECT_EQ(cap.sets, sets);
      EXPECT_TRUE(g_notifyLog.empty());
      continue;
    }
    ASSERT_EQ(mm.GetMeasureCount(), measure + 1);
    const MEASUREBASE& m = *mm.GetMeasure(measure);
    const int n = int(r.points.size());
    EXPECT_EQ(int(m.m_arrPoint.size()), r.slotCount);
    ASSERT_EQ(m.m_nPointCount, n);
    for (int k = 0; k < n; ++k) EXPECT_EQ(m.m_arrPoint[std::size_t(k)], r.points[std::size_t(k)]) << "p" << k;
    EXPECT_EQ(WString(m.m_szResult), WString(r.text));
    EXPECT_EQ(m.m_rcBound, r.box);
    EXPECT_EQ(g_notifyLog, (std::vector<NotifyEntry>{{measure, 1, r.kind, r.n0}, {measure, 2, r.kind, n}}));
    EXPECT_EQ(mm.SelectedMeasure() * 100 + mm.HoverMeasure(), measure * 101);
  }
  EXPECT_EQ(mm.GetMeasureCount() * 100 + mm.GetRemarkCount(), 1602);
  EXPECT_EQ(cap.sets * 100 + cap.releases, 1818);
  EXPECT_EQ(cap.unbalanced, 0);
}

}  // namespace
