#include <gtest/gtest.h>

#include "model_test_util.h"

using namespace model_test;
using A = MeasureTestAccess;

namespace {

struct FakeCapture : IMouseCapture {
  int captures = 0, releases = 0;
  void SetCapture() override { ++captures; }
  void ReleaseCapture() override { ++releases; }
};

// Three lines R0, R1, R2 told apart by their first x: 0, 100, 200.
void AddThree(CMeasureManager& m) {
  for (int k = 0; k < 3; ++k) AddShape(m, MK_LINE, {{k * 100, 0}, {k * 100 + 3, 4}});
}

std::vector<int> FirstXs(const CMeasureManager& m) {
  std::vector<int> xs;
  for (int i = 0; i < m.GetMeasureCount(); ++i) xs.push_back(m.GetMeasure(i)->m_arrPoint[0].x);
  return xs;
}

}  // namespace

TEST(MeasureStore, DeleteCopyMoveAtTheirEdges) {
  CMeasureManager m;
  AddThree(m);
  A::SelectedMeasure(m) = 2;
  A::HoverMeasure(m) = 1;
  ASSERT_EQ(m.DeleteMeasure(0), 1);
  EXPECT_EQ(FirstXs(m), (std::vector<int>{100, 200}));
  EXPECT_EQ(m.MeasureSlots(), kMeasureSlots);
  EXPECT_EQ(m.GetMeasureKind(kMeasureSlots - 1), -1);
  EXPECT_EQ(m.SelectedMeasure(), 1);  // still on R2
  EXPECT_EQ(m.HoverMeasure(), 0);  // still on R1
  EXPECT_EQ(m.DeleteMeasure(2), 0);  // past the count
  A::MouseState(m) = MS_CREATING;
  A::InProgress(m) = true;
  EXPECT_EQ(m.DeleteMeasure(0), 0);
  m.CopyMeasure(0, nullptr);
  m.MoveMeasure(1, 0);
  EXPECT_EQ(FirstXs(m), (std::vector<int>{100, 200}));  // nothing while a shape is built
  // Only idle, or state 5 with nothing in progress, lets a record go.
  A::MouseState(m) = MS_MOVE;
  EXPECT_EQ(m.DeleteMeasure(0), 0);  // a move under way
  A::InProgress(m) = false;
  for (int state : {MS_CREATING, MS_POINT, MS_RULECENTRE}) {
    A::MouseState(m) = state;
    EXPECT_EQ(m.DeleteMeasure(0), 0) << "state " << state;
  }
  A::MouseState(m) = MS_MOVE;
  ASSERT_EQ(m.DeleteMeasure(1), 1);
  EXPECT_EQ(FirstXs(m), (std::vector<int>{100}));
  AddShape(m, MK_LINE, {{200, 0}, {203, 4}});
  A::MouseState(m) = MS_IDLE;

  AddShape(m, MK_LINE, {{300, 0}, {303, 4}});
  WString text;
  A::SelectedMeasure(m) = 2;
  m.CopyMeasure(1, &text);
  EXPECT_EQ(FirstXs(m), (std::vector<int>{100, 200, 210, 300}));
  EXPECT_EQ(text, u"L: 5.000 px");
  EXPECT_EQ(m.GetMeasure(2)->m_rcBound, (RECT{200, 0, 223, 24}));
  EXPECT_EQ(m.SelectedMeasure(), 2);  // the selection index is not changed
  m.CopyMeasure(4, &text);

  m.MoveMeasure(3, 0);
  EXPECT_EQ(FirstXs(m), (std::vector<int>{300, 100, 200, 210}));
  EXPECT_EQ(m.SelectedMeasure(), 0);
  m.MoveMeasure(0, 4);
  EXPECT_EQ(m.SelectedMeasure(), 0);

  CMeasureManager full;
  A::MeasureCount(full) = kMeasureSlots;
  full.CopyMeasure(0, &text);  // no free slot
  EXPECT_EQ(full.GetMeasureCount(), kMeasureSlots);
  EXPECT_EQ(full.MeasureSlots(), kMeasureSlots);
}

TEST(MeasureStore, SelectStyleNudge) {
  CMeasureManager m;
  AddThree(m);
  MEASUREBASE out;
  m.SelectMeasure(2, &out);
  EXPECT_EQ(out.m_arrPoint[0].x, 200);
  m.SelectMeasure(-1, &out);
  EXPECT_EQ(m.SelectedMeasure(), -1);
  m.SetSelectedMeasureStyle(0x00FF00, 3, 0xFF0000, 1, 1, 0x111111, 5, 6);  // defaults only
  EXPECT_EQ(m.DefaultFontHeight(), 20);
  m.SelectMeasure(0, &out);
  m.SetSelectedMeasureStyle(0x00FF00, 3, 0xFF0000, 1, 1, 0x111111, 5, 6);
  EXPECT_EQ(m.GetMeasure(0)->m_nFontHeight, 20);

  m.NudgeSelection(0, 3);
  EXPECT_EQ(m.GetMeasure(0)->m_arrPoint[1], (POINT{3, 5}));
  EXPECT_EQ(m.GetMeasure(0)->m_rcBound, (RECT{-10, -9, 13, 15}));
  m.NudgeSelection(kMeasureSlots, 0);  // no current remark: nothing
  stRemark arrowRecord;
  arrowRecord.m_nKind = MK_ARROW;
  arrowRecord.m_pt1 = {10, 10};
  arrowRecord.m_pt2 = {20, 30};
  arrowRecord.m_rcHit = {0, 0, 30, 40};
  ASSERT_EQ(m.AddRemark(arrowRecord), 0);
  A::CurrentRemark(m) = 0;
  const stRemark& arrow = *m.GetRemark(0);
  m.NudgeSelection(-1, 3);
  EXPECT_EQ(arrow.m_pt2, (POINT{20, 31}));
  EXPECT_EQ(arrow.m_ptText, (POINT{-1, 0}));
  EXPECT_EQ(arrow.m_rcHit, (RECT{0, 1, 30, 41}));
}

TEST(MeasureStore, DividingRules) {
  CMeasureManager m;
  m.SetDividingRule(1, 0, 40, RECT{10, 20, 111, 81}, 0xFF00, 0xFF);
  EXPECT_EQ(m.CrossRule(), (RuleBlock{1, 50, 30, 40, 0xFF00, 0xFF, 200, 2}));  // half the size, not the middle
  m.SetDividingRule(0, 0, 100, RECT{}, 255, 255);  // the layer editor's clearing keeps the centre
  EXPECT_EQ(m.CrossRule(), (RuleBlock{0, 50, 30, 100, 255, 255, 200, 2}));
  m.SetDividingRule(1, 1, 7, RECT{0, 0, 301, 200}, 1, 2);
  EXPECT_EQ(m.AngleRule(), (RuleBlock{1, 150, 100, 7, 1, 2, 67, 2}));  // (200 - 66) / 2
  m.SetDividingRule(1, 1, 7, RECT{0, 0, -7, -5}, 1, 2);  // divisions truncate toward zero
  EXPECT_EQ(m.AngleRule(), (RuleBlock{1, -3, -2, 7, 1, 2, -2, 2}));
  m.SetDividingRule(1, 2, 9, RECT{0, 0, 10, 10}, 3, 4);
  EXPECT_EQ(m.AngleRule(), (RuleBlock{1, -3, -2, 7, 1, 2, -2, 2}));
  EXPECT_EQ(m.CrossRule(), (RuleBlock{0, 50, 30, 100, 255, 255, 200, 2}));
}

TEST(MeasureStore, Remarks) {
  CMeasureManager m;
  stRemark arrow;
  arrow.m_nKind = MK_ARROW;
  m.AddRemark(arrow);
  m.RemoveAllRemarks();
  EXPECT_EQ(m.GetRemarkCount(), 0);
  m.AddRemark(5, 6, u"note", 30, 0xFF);  // into the slot that held the arrow
  EXPECT_EQ(m.GetRemark(0)->m_nKind, MK_TEXT);
  EXPECT_EQ(m.CurrentRemark(), 0);
  m.AddRemark(7, 8, WString(700, u'x'), 30, 0xFF);
  EXPECT_EQ(Text(m.GetRemark(1)->m_szText).size(), 499u);
  A::CurrentRemark(m) = 0;
  m.DeleteSelectedRemark();
  EXPECT_EQ(m.GetRemarkCount(), 1);
  EXPECT_EQ(m.GetRemark(0)->m_ptText, (POINT{7, 8}));
  EXPECT_EQ(m.GetRemark(kMeasureSlots - 1)->m_nKind, MK_NONE);
  A::RemarkCount(m) = kMeasureSlots;
  m.AddRemark(0, 0, u"one too many", 20, 0);
  EXPECT_EQ(m.GetRemarkCount(), kMeasureSlots);
}

TEST(MeasureStore, ResetEndsWorkInProgressAndKeepsRemarks) {
  FakeCapture cap;
  {
    CMeasureManager m;
    m.SetNotifyTarget(&cap, nullptr);
    for (int k = 0; k < 5; ++k) AddShape(m, MK_RECT, {{k, k}, {k + 10, k + 10}});
    m.AddRemark(1, 1, u"keep", 20, 0);
    ScaleDisplayBlock bar;
    bar.enable = 1;
    m.SetScale(0.5f, u"mm", bar);
    m.ShowGrid(1);
    m.SetGridStyle(3, 50, 0xFF);
    m.SetCalibrationLine(1, 1, 2, 3, 4);
    m.SetSelectionStyle(0, 2, 0xFF);
    m.SetSelectedMeasureStyle(0xFF00, 6, 0xFF0000, 10, 0, 0, 0, 0);
    m.SetDividingRule(1, 0, 40, RECT{0, 0, 100, 100}, 1, 1);
    m.SetContrastRound(1, 5, 6, 7.5);
    A::DragAnchor(m) = POINT{9, 9};
    A::DragPoint(m) = 1;
    ASSERT_EQ(m.OnMeasureLButtonDown(10, 10, MK_LINE, 1), 2);  // a line being built
    m.ResetMeasurements();
    EXPECT_FALSE(m.GridShown() || m.CalibrationLineShown());
    EXPECT_EQ(m.GridWidth(), 1);
    EXPECT_EQ(m.GridSpacing(), 100);
    EXPECT_EQ(m.GridColor(), 0u);
    EXPECT_EQ(m.DragAnchor(), (POINT{0, 0}));
    EXPECT_EQ(m.MouseState(), MS_IDLE);
    EXPECT_EQ(m.CurrentKind(), MK_NONE);
    EXPECT_EQ(m.HoverMeasure(), -1);
    EXPECT_EQ(m.SelectedMeasure(), -1);
    EXPECT_EQ(m.DragPoint(), -1);
    // Styles, rules and overlays are the operator's settings, not measurements: they stay.
    EXPECT_EQ(m.SelectionPenWidth(), 2);
    EXPECT_EQ(m.DefaultPenWidth(), 6);
    EXPECT_EQ(m.DefaultFontHeight(), 29);
    EXPECT_EQ(m.CrossRule().enable, 1);
    ContrastRoundBlock round;
    m.GetContrastRound(&round);
    EXPECT_TRUE(round.on);
    EXPECT_EQ(m.GetMeasureCount(), 0);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(m.GetMeasureKind(k), -1);
    EXPECT_EQ(m.Scale(), 1.0);
    EXPECT_EQ(m.Unit(), u"px");
    EXPECT_EQ(m.ScaleDisplay().enable, 1);
    EXPECT_EQ(m.GetRemarkCount(), 1);
    EXPECT_FALSE(m.InProgress());
    EXPECT_EQ(m.CreatingIndex(), -1);
    EXPECT_EQ(cap.releases, cap.captures);

    ASSERT_EQ(m.OnMeasureLButtonDown(10, 10, MK_ARROW, 1), 2);  // an arrow being built
    m.RemoveAllRemarks();
    EXPECT_FALSE(m.InProgress());
    EXPECT_EQ(cap.releases, cap.captures);
    AddShape(m, MK_LINE, {{0, 0}, {1, 1}});
  }  // destroyed with records in use
  EXPECT_EQ(cap.releases, cap.captures);
}
