// The mouse state machine: press sequences of every kind, editing by drag and move, hover.
#include <gtest/gtest.h>

#include "tests/measure/engine_support.h"

namespace {

class MouseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_notifyLog.clear();
    mm.SetNotifyTarget(&cap, &RecordNotify);
  }
  void TearDown() override { EXPECT_EQ(cap.unbalanced, 0); }
  int Press(int x, int y, int kind = MK_NONE, int arm = 0) { return mm.OnMeasureLButtonDown(x, y, kind, arm); }
  void Move(int x, int y) { mm.OnMeasureMouseMove(x, y); }
  // move and press at each point, the tool armed for the first press only, as the view does
  std::vector<int> Build(int kind, std::vector<POINT> clicks) {
    std::vector<int> codes;
    for (std::size_t k = 0; k < clicks.size(); ++k) {
      if (k) Move(clicks[k].x, clicks[k].y);
      codes.push_back(Press(clicks[k].x, clicks[k].y, k ? MK_NONE : kind, k ? 0 : 1));
    }
    return codes;
  }
  const MEASUREBASE& M(int i) { return *mm.GetMeasure(i); }
  POINT Pt(int i, int k) { return M(i).m_arrPoint[std::size_t(k)]; }
  void ExpectIdle() { EXPECT_TRUE(mm.MouseState() == MS_IDLE && !mm.InProgress() && !cap.captured); }
  FakeCapture cap;
  CMeasureManager mm;
};

TEST_F(MouseTest, EveryFixedKindTakesItsPressesAndPointLayout) {
  const struct {
    int kind;
    std::vector<int> codes;
    std::vector<POINT> clicks;
  } cases[] = {
      {MK_LINE, {2, 0}, {{10, 10}, {50, 40}}}, {MK_RECT, {2, 0}, {{10, 10}, {110, 60}}},
      {MK_ANGLE, {2, 1, 0}, {{100, 0}, {0, 0}, {0, 100}}}, {MK_CIRCLE2, {2, 0}, {{0, 0}, {101, 51}}},
      {MK_POINT2LINE, {2, 3, 0}, {{5, 5}, {0, 20}, {40, 20}}},
      {MK_LINE2LINE, {2, 3, 3, 0}, {{0, 0}, {100, 0}, {0, 50}, {100, 60}}},
      {MK_CIRCLE3, {2, 1, 0}, {{0, 0}, {200, 0}, {100, 100}}},
      {MK_CIRCLE2LINE, {2, 3, 3, 3, 0}, {{0, 0}, {200, 0}, {100, 100}, {0, 300}, {200, 300}}},
      {MK_CIRCLE2CIRCLE, {2, 3, 3, 3, 3, 0}, {{0, 0}, {200, 0}, {100, 100}, {400, 0}, {600, 0}, {500, 100}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    g_notifyLog.clear();
    const int i = mm.GetMeasureCount();
    EXPECT_EQ(Build(c.kind, c.clicks), c.codes);
    ExpectIdle();
    EXPECT_EQ(mm.GetMeasureCount(), i + 1);
    EXPECT_EQ(M(i).m_nPenWidth * 100 + M(i).m_nFontHeight, 425);  // the default style
    EXPECT_EQ(mm.SelectedMeasure() * 100 + mm.HoverMeasure(), i * 101);
    EXPECT_EQ(Actions(), (std::vector<int>{1, 2}));
    EXPECT_EQ(g_notifyLog[1].index * 1000 + g_notifyLog[1].kind, i * 1000 + c.kind);
    for (std::size_t k = 0; k < c.clicks.size(); ++k) EXPECT_EQ(Pt(i, int(k)), c.clicks[k]) << k;
  }
  EXPECT_EQ(WString(M(0).m_szResult), u"L: 50.000 px");
  EXPECT_EQ(M(0).m_rcBound, (RECT{0, 0, 60, 50}));
  EXPECT_EQ(Pt(3, 2), (POINT{50, 25}));  // midpoint of the diameter
  EXPECT_EQ(Pt(6, 3), (POINT{100, 0}));  // centre of the 3-point circle
  EXPECT_EQ(M(7).m_nPointCount * 100 + M(8).m_nPointCount, 608);
  EXPECT_EQ(Pt(7, 5), (POINT{100, 0}));
  EXPECT_EQ(Pt(8, 6), (POINT{100, 0}));
  EXPECT_EQ(Pt(8, 7), (POINT{500, 0}));
  EXPECT_EQ(cap.sets * 100 + cap.releases, 909);

  // two-leg kinds show a provisional point until their second press
  EXPECT_EQ(Press(0, 0, MK_ANGLE, 1), 2);
  Move(100, 0);
  EXPECT_EQ(Pt(9, 2), mm.EquilateralThirdPoint(POINT{0, 0}, POINT{100, 0}));
  EXPECT_EQ(Press(100, 0), 1);
  Move(100, 100);
  EXPECT_EQ(WString(M(9).m_szResult), u"∠：90.000°");
  EXPECT_EQ(Press(100, 100), 0);
}

TEST_F(MouseTest, OpenShapesAndRefusedPresses) {
  EXPECT_EQ(Build(MK_POLYGON, {{0, 0}, {10, 0}, {10, 10}}), (std::vector<int>{2, 3, 3}));
  EXPECT_EQ(M(0).m_nPointCount, 4);  // the last follows the pointer until the right button
  EXPECT_EQ(mm.OnMeasureRButtonDown(0, 0), 0);
  ExpectIdle();
  EXPECT_EQ(WString(M(0).m_szResult), u"S: 50.000 px²");
  // a fold line of one point and a polygon of two are abandoned; a point set of one finishes
  Build(MK_FOLDLINE, {{5, 5}});
  mm.OnMeasureRButtonDown(0, 0);
  Build(MK_POLYGON, {{5, 5}, {9, 9}});
  mm.OnMeasureRButtonDown(0, 0);
  Build(MK_POINT, {{7, 7}});
  mm.OnMeasureRButtonDown(0, 0);
  EXPECT_EQ(Actions(), (std::vector<int>{1, 2, 1, 3, 1, 3, 1, 2}));
  EXPECT_EQ(WString(M(1).m_szResult), u"Total: 1");
  EXPECT_EQ(mm.OnMeasureRButtonDown(0, 0), 3);

  // an open shape of 1000 points takes no more
  EXPECT_EQ(Press(0, 0, MK_FOLDLINE, 1), 2);
  for (int k = 1; k < 1100; ++k) EXPECT_EQ(Press(k, k), 3);
  EXPECT_EQ(M(2).m_nPointCount, 1000);
  EXPECT_EQ(mm.OnMeasureRButtonDown(0, 0), 0);

  // kinds the machine does not build and full stores take no slot and no capture
  g_notifyLog.clear();
  const int sets = cap.sets;
  for (int kind : {int(MK_NONE), int(MK_RULECENTRE), int(MK_TEXT), 255, 277, -1}) EXPECT_EQ(Press(0, 0, kind, 1), 3);
  MeasureTestAccess::MeasureCount(mm) = MeasureTestAccess::RemarkCount(mm) = kMeasureSlots;
  EXPECT_EQ(Press(0, 0, MK_LINE, 1), 3);
  EXPECT_EQ(Press(0, 0, MK_ARROW, 1), 3);
  EXPECT_EQ(mm.GetMeasureCount() + mm.GetRemarkCount(), 2 * kMeasureSlots);
  EXPECT_EQ(cap.sets, sets);
  EXPECT_TRUE(g_notifyLog.empty());

  // a new shape starts from a reset slot, whatever the slot held
  MeasureTestAccess::MeasureCount(mm) = 3;
  MeasureTestAccess::RemarkCount(mm) = 0;
  MEASUREBASE& slot = MeasureTestAccess::MeasureSlot(mm, 3);
  slot.m_bLocked = slot.m_bFill = true;
  slot.m_nTextOffsetX = 33;
  MeasureTestAccess::RemarkSlot(mm, 0).m_szText[0] = u'y';
  Build(MK_LINE, {{1, 1}, {5, 5}});
  Build(MK_ARROW, {{1, 1}, {5, 5}});
  EXPECT_FALSE(M(3).m_bLocked || M(3).m_bFill || M(3).m_nTextOffsetX);
  EXPECT_EQ(mm.GetRemark(0)->m_szText[0], u'\0');
}

TEST_F(MouseTest, ArrowsAndCrossesAreRemarksWithoutCallbacks) {
  EXPECT_EQ(Build(MK_ARROW, {{10, 20}, {70, 5}}), (std::vector<int>{2, 0}));
  ExpectIdle();
  EXPECT_EQ(mm.GetRemark(0)->m_rcHit, (RECT{0, -5, 80, 30}));
  EXPECT_EQ(mm.GetRemark(0)->m_pt2, (POINT{70, 5}));
  EXPECT_EQ(mm.CurrentRemark(), 0);
  Build(MK_ARROW, {{300, 300}, {300, 300}});
  EXPECT_EQ(mm.GetRemark(1)->m_rcHit, (RECT{290, 290, 310, 310}));
  EXPECT_EQ(Press(0, 0, MK_CROSS, 1), 2);
  Move(500, 400);  // the cross point follows the pointer up to the second press
  EXPECT_EQ(Press(510, 410), 0);
  EXPECT_EQ(mm.GetRemark(2)->m_pt1, (POINT{500, 400}));
  EXPECT_EQ(Press(0, 0, MK_ARROW, 1), 2);
  EXPECT_EQ(mm.OnMeasureRButtonDown(0, 0), 0);  // abandoned
  ExpectIdle();
  EXPECT_EQ(mm.GetRemarkCount(), 3);
  EXPECT_TRUE(g_notifyLog.empty());
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 3);
}

TEST_F(MouseTest, DragsPointsMovesShapesAndRespectsLocks) {
  Build(MK_CIRCLE3, {{0, 0}, {200, 0}, {100, 100}});
  Move(1000, 1000);
  EXPECT_EQ(mm.HoverMeasure() * 1000 + mm.CurrentKind(), -1000 + MK_NONE);
  g_notifyLog.clear();
  EXPECT_EQ(Press(1000, 1000), 3);  // ends the selection
  EXPECT_EQ(Actions(), (std::vector<int>{4}));
  // handle boxes: 5 px left or above inside, 5 px right or below outside; centres are no handles
  Move(205, 0);
  EXPECT_EQ(mm.MouseState(), MS_MOVE);
  Move(195, -5);
  EXPECT_EQ(mm.MouseState() * 10 + mm.DragPoint(), MS_POINT * 10 + 1);
  Move(100, 4);  // on the centre
  EXPECT_EQ(mm.MouseState(), MS_MOVE);

  Move(200, 0);
  EXPECT_EQ(Press(200, 0), 1);
  EXPECT_TRUE(cap.captured);
  Move(0, 200);
  EXPECT_EQ(Pt(0, 1), (POINT{0, 200}));
  EXPECT_EQ(Pt(0, 3), (POINT{0, 100}));  // the centre follows
  EXPECT_EQ(M(0).m_rcBound, (RECT{-10, -10, 110, 210}));
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 0);
  ExpectIdle();

  Move(50, 50);
  EXPECT_EQ(Press(50, 50), 1);
  Move(53, 57);
  Move(60, 70);
  EXPECT_EQ(Pt(0, 0), (POINT{10, 20}));
  EXPECT_EQ(M(0).m_rcBound, (RECT{0, 10, 120, 230}));
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 0);
  EXPECT_EQ(Actions(), (std::vector<int>{4, 2, 2}));

  Move(50, 50);
  mm.SetMeasureLocked(0, 1);
  EXPECT_EQ(Press(50, 50), 3);  // hovered before the lock: still refused
  EXPECT_FALSE(cap.captured);
  Move(1000, 1000);
  Move(50, 50);
  EXPECT_EQ(mm.HoverMeasure(), -1);
  mm.SetMeasureLocked(0, 0);
  mm.SetMeasureVisible(0, 0);
  Move(50, 51);
  EXPECT_EQ(mm.HoverMeasure(), -1);
  mm.SetMeasureVisible(0, 1);
  Move(50, 52);
  EXPECT_EQ(mm.HoverMeasure(), 0);
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 2);  // hovering, nothing to end
}

TEST_F(MouseTest, HoverPrefersRuleCentreThenRemarksThenTheLastMeasurement) {
  Build(MK_RECT, {{0, 0}, {200, 200}});
  Build(MK_RECT, {{50, 50}, {250, 250}});
  Build(MK_ARROW, {{90, 90}, {130, 130}});
  Build(MK_ARROW, {{95, 95}, {135, 135}});
  mm.SetDividingRule(1, 0, 100, RECT{0, 0, 200, 200}, 255, 255);  // centred on (100, 100)
  Move(104, 104);
  EXPECT_EQ(mm.MouseState() * 1000 + mm.CurrentKind(), MS_RULECENTRE * 1000 + MK_RULECENTRE);
  Move(105, 105);
  EXPECT_EQ(mm.MouseState() * 1000 + mm.CurrentKind(), MS_MOVE * 1000 + MK_TEXT);
  EXPECT_EQ(mm.HoverRemark(), 0);  // the lowest index
  Move(160, 160);
  EXPECT_EQ(mm.HoverRemark() * 10 + mm.HoverMeasure(), -10 + 1);  // the last measurement

  // the rule centre moves without touching the selection or the callback
  Move(100, 100);
  g_notifyLog.clear();
  EXPECT_EQ(Press(100, 100), 1);
  Move(300, 40);
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 0);
  EXPECT_EQ(mm.CrossRule().cx * 1000 + mm.CrossRule().cy, 300040);
  EXPECT_EQ(mm.SelectedMeasure(), -1);
  EXPECT_TRUE(g_notifyLog.empty());

  // moving a remark while a measurement is selected reports that measurement on release
  Move(160, 160);
  Press(160, 160);
  mm.OnMeasureLButtonUp(0, 0);
  Move(100, 100);
  EXPECT_EQ(Press(100, 100), 1);
  Move(110, 90);
  EXPECT_EQ(mm.GetRemark(0)->m_pt1, (POINT{100, 80}));
  EXPECT_EQ(mm.GetRemark(0)->m_rcHit, (RECT{90, 70, 150, 130}));
  g_notifyLog.clear();
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 0);
  EXPECT_EQ(g_notifyLog, (std::vector<NotifyEntry>{{1, 2, MK_RECT, 2}}));

  // a new shape while a measurement is hovered and selected clears both, without action 4
  Move(160, 160);
  Press(160, 160);
  mm.OnMeasureLButtonUp(0, 0);
  g_notifyLog.clear();
  EXPECT_EQ(Press(160, 160, MK_LINE, 1), 2);
  EXPECT_EQ(mm.SelectedMeasure() * 10 + mm.HoverMeasure(), -11);
  EXPECT_EQ(mm.OnMeasureRButtonDown(0, 0), 0);  // a line cannot be finished by the right button
  EXPECT_EQ(Actions(), (std::vector<int>{1, 3}));
  ExpectIdle();
}

TEST_F(MouseTest, StaleRuleMarkerAndRemarksRemovedDuringABuild) {
  // Only a remark and the cross rule: leaving the rule centre for the remark must not leave
  // measurement 0 hovered (there is none), so a press and release report nothing.
  Build(MK_ARROW, {{90, 90}, {130, 130}});
  mm.SetDividingRule(1, 0, 100, RECT{0, 0, 200, 200}, 255, 255);  // centred on (100, 100)
  Move(100, 100);
  EXPECT_EQ(mm.MouseState(), MS_RULECENTRE);
  Move(106, 106);
  EXPECT_EQ(mm.MouseState() * 10 + mm.HoverMeasure(), MS_MOVE * 10 - 1);
  g_notifyLog.clear();
  EXPECT_EQ(Press(106, 106), 1);
  EXPECT_EQ(mm.OnMeasureLButtonUp(0, 0), 0);
  EXPECT_EQ(mm.SelectedMeasure(), -1);
  EXPECT_TRUE(g_notifyLog.empty());

  // Removing the remarks while a measurement is half built abandons it (action 3, not counted).
  Move(400, 400);
  EXPECT_EQ(Press(400, 400, MK_FOLDLINE, 1), 2);
  mm.RemoveAllRemarks();
  EXPECT_EQ(Actions(), (std::vector<int>{1, 3}));
  EXPECT_EQ(mm.GetMeasureCount(), 0);
  ExpectIdle();
}

}  // namespace
