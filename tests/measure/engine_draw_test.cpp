// Drawing through the recording device context: layer order, objects, text anchors, and the
// overlays' arithmetic at its edges.
#include <gtest/gtest.h>

#include "platform/gdi/recording_dc.h"
#include "platform/strings.h"
#include "res/StringIds.h"
#include "tests/measure/engine_support.h"

namespace {

using A = MeasureTestAccess;

// A finished measurement in the next slot, as the mouse leaves it.
void AddShape(CMeasureManager& mm, int kind, std::vector<POINT> pts, int penWidth = 4) {
  MEASUREBASE m;
  m.m_nKind = kind;
  m.m_arrPoint = pts;
  m.m_nPointCount = int(pts.size());
  m.m_nPenWidth = penWidth;
  m.m_nFontHeight = 25;
  AddFinished(mm, m);
}

// The scale factor and unit set, the scale bar kept.
void SetScale(CMeasureManager& mm, float factor, WStringView unit) { mm.SetScale(factor, unit, mm.ScaleDisplay()); }

Lines Draw(CMeasureManager& mm, int showSelection = 1, RECT clip = {0, 0, 1920, 1080}) {
  CRecordingDC dc(clip);
  mm.DrawAll(dc, showSelection);
  return dc.Lines();
}

std::string FirstText(const Lines& lines) {
  for (const auto& l : lines)
    if (l.rfind("TextOut", 0) == 0) return l;
  return {};
}

TEST(EngineDraw, MeasurementsHandlesSelectionAndLayerOrder) {
  CMeasureManager mm;
  AddShape(mm, MK_LINE, {{0, 0}, {30, 40}});
  AddShape(mm, MK_RECT, {{10, 10}, {110, 60}});
  EditMeasure(mm, 1, [](MEASUREBASE& r) {
    r.m_bFill = true;
    r.m_clrFill = 0x123456;
    r.m_nTextOffsetX = 7;
  });
  AddShape(mm, MK_POINT, {{100, 200}, {300, 400}}, 2);
  AddShape(mm, MK_CIRCLE3, {{0, 0}, {200, 0}, {100, 100}, {100, 0}});
  auto lines = Draw(mm);
  // box (-10,-10)-(40,50): centre (15, 20), less one pixel per character
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 11),
            (Lines{"BkMode 1", "Brush null", "Pen 0 4 0000FF", "Font 25 255 宋体", "MoveTo 0 0", "LineTo 30 40",
                   "TextColor 0000FF", "TextOut 3 20 L: 50.000 px", "Font 16 0 System", "Pen 0 1 000000",
                   "Brush FFFFFF"}));
  EXPECT_TRUE(Has(lines, "Brush 123456") && Has(lines, "Rectangle 10 10 110 60"));
  EXPECT_TRUE(Has(lines, "TextOut 28 35 (cx:100.000, cy:50.000) S: 5000.000 px²"));  // 60 - 39 + 7
  const int dots = Find(lines, "Pen 0 12 0000FF");  // the point set's pen is 10 wider
  ASSERT_GE(dots, 0);
  EXPECT_EQ(Lines(lines.begin() + dots + 2, lines.begin() + dots + 8),
            (Lines{"MoveTo 100 200", "LineTo 100 200", "TextOut 107 200 1", "MoveTo 300 400", "LineTo 300 400",
                   "TextOut 307 400 2"}));
  EXPECT_TRUE(Has(lines, "MoveTo 200 0") && Has(lines, "AngleArc 100 0 100 0 360"));  // circles: arcs, unfilled
  EXPECT_EQ(Count(lines, "Rectangle"), 1);

  // hidden: not drawn at all, neither its handles nor its selection, hovered and selected
  mm.SetMeasureVisible(3, 0);
  A::HoverMeasure(mm) = A::SelectedMeasure(mm) = 3;
  lines = Draw(mm);
  EXPECT_EQ(Count(lines, "AngleArc"), 0);
  EXPECT_EQ(Count(lines, "Rectangle"), 1);
  EXPECT_EQ(Find(lines, "Pen 2 1 00FF00"), -1);
  // shown: its handles (centre included), then its selection
  mm.SetMeasureVisible(3, 1);
  lines = Draw(mm);
  EXPECT_EQ(Count(lines, "Rectangle"), 1 + 4 + 1);
  EXPECT_TRUE(Has(lines, "Rectangle 95 -5 105 5"));
  const int sel = Find(lines, "Pen 2 1 00FF00");
  ASSERT_GT(sel, Find(lines, "Rectangle 95 -5 105 5"));
  EXPECT_EQ(lines[std::size_t(sel) + 2], "Rectangle -10 -10 210 110");
  EXPECT_EQ(Count(Draw(mm, 0), "Rectangle"), 1);  // burning in: neither handles nor selection
  A::MouseState(mm) = MS_RULECENTRE;              // the rule centre's handle alone
  A::HoverMeasure(mm) = 0;
  EXPECT_EQ(Count(Draw(mm), "Rectangle"), 1 + 1);
  EXPECT_TRUE(Has(Draw(mm), "Rectangle 70 85 80 95"));

  A::MouseState(mm) = MS_IDLE;
  mm.AddRemark(5, 5, u"t", 20, 0);
  mm.ShowGrid(1);
  for (int which : {0, 1}) {
    const RuleBlock& r = which == 0 ? mm.CrossRule() : mm.AngleRule();
    mm.SetDividingRule(1, which, r.step, RECT{}, r.lineColor, r.textColor);
  }
  ScaleDisplayBlock bar = mm.ScaleDisplay();
  bar.enable = 1;
  mm.SetScale(float(mm.Scale()), mm.Unit(), bar);
  mm.SetCalibrationLine(1, 0, 0, 50, 10);
  lines = Draw(mm);
  const std::vector<int> order = {Find(lines, "Pen 0 1 000000"),         Find(lines, "Pen 0 4 0000FF"),
                                  Find(lines, "Pen 2 1 00FF00"),         Find(lines, "TextOut 5 5 t"),
                                  Find(lines, "TextOut 175 140 100.000"), Find(lines, "TextOut -150 90 0°"),
                                  Find(lines, "Font 28 0 宋体"),          Find(lines, "LineTo 50 -100")};
  EXPECT_GT(order[0], 0);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(EngineDraw, HelpersAndShapesWithoutDirection) {
  CMeasureManager mm;
  CRecordingDC dc;
  // the foot (40, 10) lies beyond the segment's box: a dotted line on to the nearer end
  mm.DrawPointToLine(dc, POINT{40, 70}, POINT{0, 10}, POINT{30, 10});
  EXPECT_EQ(dc.Lines(), (Lines{"Pen 0 10 000000", "MoveTo 40 70", "LineTo 40 70", "Pen 2 1 00FF00", "MoveTo 40 10",
                               "LineTo 40 70", "MoveTo 40 10", "LineTo 30 10", "Pen 0 1 000000", "MoveTo 0 10",
                               "LineTo 30 10"}));
  dc.Clear();
  mm.DrawParallelLines(dc, POINT{0, 0}, POINT{100, 0});
  EXPECT_EQ(Count(dc.Lines(), "LineTo"), 5);
  EXPECT_TRUE(Has(dc.Lines(), "LineTo 100 -100"));
  dc.Clear();
  mm.DrawArrowRemark(dc, POINT{100, 0}, POINT{0, 0}, 2, 0xFF);  // pointing left: the head opens right
  EXPECT_EQ(dc.Lines()[4] + "," + dc.Lines()[6], "LineTo 34 -20,LineTo 34 19");
  dc.Clear();
  mm.DrawParallelLines(dc, POINT{5, 5}, POINT{5, 5});
  mm.DrawArrowRemark(dc, POINT{7, 7}, POINT{7, 7}, 0, 0);
  mm.DrawCalibrationSegment(dc, 10, 10, 10, 10);
  EXPECT_EQ(Count(dc.Lines(), "LineTo"), 2);  // no heads or bars
  mm.DrawArc3Point(dc, POINT{5, 5}, POINT{5, 5}, POINT{5, 5}, POINT{5, 5});
  EXPECT_TRUE(Has(dc.Lines(), "AngleArc 5 5 0 0 0"));
  mm.DrawArc3Point(dc, POINT{100, 0}, POINT{0, -100}, POINT{71, -71}, POINT{0, 0});
  EXPECT_TRUE(Has(dc.Lines(), "AngleArc 0 0 100 0 90"));
}

TEST(EngineDraw, RemarksAndTheCurrentRemarksHitBox) {
  CMeasureManager mm;
  mm.AddRemark(100, 50, u"abcd", 30, 0xFF0000);
  stRemark crossRemark, arrowRemark;
  crossRemark.m_nKind = MK_CROSS;
  crossRemark.m_pt1 = POINT{400, 300};
  crossRemark.m_nSize = 23;
  arrowRemark.m_nKind = MK_ARROW;
  arrowRemark.m_rcHit = RECT{1, 2, 3, 4};
  mm.AddRemark(crossRemark);
  mm.AddRemark(arrowRemark);
  mm.SetContrastRound(1, 500, 500, 12.5);
  const auto lines = Draw(mm, 1, RECT{0, 0, 800, 600});
  EXPECT_EQ(Count(lines, "TextOut 100 50 abcd"), 2);  // drawn again as the current remark
  EXPECT_TRUE(Has(lines, "Font 30 0 楷体"));
  EXPECT_EQ(mm.GetRemark(0)->m_rcHit, (RECT{90, 40, 170, 90}));  // extent 60 x 30, grown by 10
  const int cross = Find(lines, "Pen 0 3 000000");
  ASSERT_GE(cross, 0);
  EXPECT_EQ(lines[std::size_t(cross) + 2] + "," + lines[std::size_t(cross) + 4], "LineTo 800 300,LineTo 400 600");
  EXPECT_LT(Find(lines, "TextOut 500 480 12.500 px"), Find(lines, "Rectangle 90 40 170 90"));
  A::CurrentRemark(mm) = 2;  // an arrow's selection box is its hit box
  EXPECT_TRUE(Has(Draw(mm, 1), "Rectangle 1 2 3 4"));
  EXPECT_FALSE(Has(Draw(mm, 0), "Rectangle 1 2 3 4"));
}

TEST(EngineOverlay, ScaleBarLabelsAndClamping) {
  CMeasureManager mm;
  SetScale(mm, 1.0f / 1024, u"mm");  // exact: 0.1 unit is 102.4 px
  auto bar = [&](int t, int xp, int yp) {
    CRecordingDC dc(RECT{0, 0, 1000, 500});
    mm.DrawScaleBar(dc, ScaleDisplayBlock{1, xp, yp, t, 255, 0xFF00, 200, 2});  // font 28
    return dc.Lines();
  };
  const auto lines = bar(100, 50, 50);
  EXPECT_EQ(Lines(lines.begin() + 1, lines.begin() + 11),
            (Lines{"Font 28 0 宋体", "TextColor 00FF00", "MoveTo 500 250", "LineTo 602 250", "MoveTo 500 230",
                   "LineTo 500 250", "MoveTo 602 230", "LineTo 602 250", "MoveTo 551 240", "LineTo 551 250"}));
  EXPECT_EQ(FirstText(lines), "TextOut 523 212 0.10mm");  // 0.1f lies above the double 0.1
  EXPECT_EQ(FirstText(bar(500, 50, 50)), "TextOut 706 212 0.50mm");
  EXPECT_EQ(FirstText(bar(1000, 10, 50)), "TextOut 450 212 1.00mm");
  EXPECT_EQ(FirstText(bar(10000, 50, 50)), "TextOut 30 212 10.0mm");
  EXPECT_EQ(FirstText(bar(20000, 50, 50)), "TextOut 30 212 20mm");
  EXPECT_EQ(FirstText(bar(50, 0, 50)), "TextOut 2 212 0.050mm");  // no shift after the clamp
  EXPECT_EQ(bar(10000, 50, 50)[3], "MoveTo -9250 250");          // 10240 px: pulled left
  EXPECT_EQ(bar(100, 100, 0)[3], "MoveTo 888 38");               // right end 10 px inside, top f + 10
  SetScale(mm, 0.0f, mm.Unit());
  EXPECT_TRUE(bar(100, 50, 50).empty());
}

TEST(EngineOverlay, RulesAndGridTicksLabelsAndEdges) {
  CMeasureManager mm;
  SetScale(mm, 0.5f, mm.Unit());
  auto rule = [&](int cx, int cy, int a) {
    CRecordingDC dc;
    mm.DrawCrossDividingRule(dc, RuleBlock{1, cx, cy, a, 0xFF, 0xFF00, 200, 2});
    return dc.Lines();
  };
  auto lines = rule(960, 540, 100);
  EXPECT_EQ(Count(lines, "LineTo"), 2 + 28 + (97 + 97 + 55 + 55));
  EXPECT_EQ(Count(lines, "TextOut"), 28);
  EXPECT_EQ(FirstText(lines), "TextOut 860 590 50.000");
  EXPECT_TRUE(Has(lines, "TextOut 1010 40 250.000"));
  lines = rule(1900, 1050, 100);  // near the far edges the labels change sides
  EXPECT_EQ(FirstText(lines), "TextOut 1800 990 50.000");
  EXPECT_TRUE(Has(lines, "TextOut 1800 950 50.000"));
  lines = rule(-500, 540, 100);  // centre left of the clip box: nothing to its left
  EXPECT_EQ(Count(lines, "TextOut"), 24 + 5 + 5);
  for (const auto& l : lines) EXPECT_FALSE(l.rfind("LineTo", 0) == 0 && std::stoi(l.substr(7)) < -500) << l;
  EXPECT_TRUE(rule(960, 540, 9).empty() && rule(960, 540, 0).empty() && rule(960, 540, -100).empty());

  CRecordingDC dc;
  mm.DrawAngleDividingRule(dc, RuleBlock{1, 500, 500, 0, 0xFF, 0xFF, 200, 0});
  EXPECT_EQ(Count(dc.Lines(), "LineTo"), 24 + 120 + 360);
  EXPECT_EQ(Count(dc.Lines(), "TextOut"), 24);
  EXPECT_EQ(FirstText(dc.Lines()), "TextOut 275 500 0°");
  EXPECT_TRUE(Has(dc.Lines(), "TextOut 499 275 90°"));  // cos 270° lies just below 0
  EXPECT_TRUE(Has(dc.Lines(), "TextOut 340 659 315°"));

  dc.Clear();
  mm.DrawGrid(dc);
  EXPECT_EQ(Count(dc.Lines(), "LineTo"), 11 + 20);
  CRecordingDC offset(RECT{100, 100, 500, 400});  // from 0 whatever the origin
  mm.DrawGrid(offset);
  EXPECT_EQ(Count(offset.Lines(), "LineTo"), 3 + 4);
  EXPECT_EQ(offset.Lines()[1], "MoveTo 0 0");
  dc.Clear();
  mm.SetGridStyle(1, 0, 0);
  mm.DrawGrid(dc);
  mm.SetGridStyle(1, -5, 0);
  mm.DrawGrid(dc);
  EXPECT_TRUE(dc.Lines().empty());
}

TEST(EngineOverlay, CalibrationLineAndContrastAngle) {
  CMeasureManager mm;
  CRecordingDC dc;
  mm.SetCalibrationLine(1, 0, 0, 100, 58);  // about 30 degrees: shown horizontal
  mm.DrawCalibrationLine(dc);
  const Lines& l = dc.Lines();
  EXPECT_EQ(Lines(l.begin(), l.begin() + 11),
            (Lines{"Pen 0 2 0000FF", "MoveTo 0 0", "LineTo 100 0", "MoveTo 100 0", "LineTo 100 -100", "MoveTo 100 0",
                   "LineTo 100 100", "MoveTo 0 0", "LineTo 0 100", "MoveTo 0 0", "LineTo 0 -100"}));
  EXPECT_NEAR(mm.GetCalibrationLineLength(), 115.603, 1e-3);
  const WString hint = LoadStringW(sid::kPleaseDrawLinePressESC);
  EXPECT_EQ(l.back(), "TextOut " + std::to_string(960 - 4 * int(hint.size())) + " 100 " + ToUtf8(hint));
  dc.Clear();
  mm.DrawCalibrationSegment(dc, 0, 0, 30, -60);  // steep: shown vertical
  EXPECT_EQ(dc.Lines()[1] + "," + dc.Lines()[3], "LineTo 0 -60,LineTo -100 -60");

  dc.Clear();
  mm.DrawContrastAngle(dc, 100, 100, 50.9, 90);
  EXPECT_EQ(dc.Lines(), (Lines{"Pen 0 1 0000FF", "TextColor 0000FF", "MoveTo 100 100", "LineTo 150 100",
                               "MoveTo 100 100", "LineTo 99 50", "MoveTo 100 100", "AngleArc 100 100 20 0 90",
                               "TextOut 71 71 90.000°", "TextColor 000000", "Pen 0 1 000000"}));
  dc.Clear();
  mm.DrawContrastAngle(dc, 100, 100, 50, 400);  // more than a turn reaches the arc unchanged
  EXPECT_TRUE(Has(dc.Lines(), "AngleArc 100 100 20 0 400"));
}

}  // namespace
