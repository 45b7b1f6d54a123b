// Drawing of measurements and annotations into a device context, in image pixels. Every pen,
// brush and font is made for the element being drawn and deselected when it is done.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "measure/MeasureManager.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr COLORREF kConstructionGreen = 0x00FF00;
const char16_t kMeasureFace[] = u"宋体";
const char16_t kRemarkFace[] = u"楷体";

double Dist(POINT a, POINT b) {
  const double dx = double(a.x) - b.x, dy = double(a.y) - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

double Dist2(POINT a, POINT b) {
  const double dx = double(a.x) - b.x, dy = double(a.y) - b.y;
  return dx * dx + dy * dy;
}

POINT Midpoint(POINT a, POINT b) {
  return POINT{std::int32_t((std::int64_t(a.x) + b.x) / 2), std::int32_t((std::int64_t(a.y) + b.y) / 2)};
}

// p + (dx, dy), saturated to the int32 range
POINT Shift(POINT p, double dx, double dy) { return POINT{TruncToInt(p.x + dx), TruncToInt(p.y + dy)}; }

void Line(CDC& dc, POINT a, POINT b) {
  dc.MoveTo(a);
  dc.LineTo(b);
}

// The radius an arc call takes: never negative, never beyond the int32 range.
std::uint32_t ArcRadius(double r) {
  const std::int32_t t = TruncToInt(r);
  return t > 0 ? std::uint32_t(t) : 0u;
}

float ArcAngle(double a) { return std::isfinite(a) ? float(a) : 0.0f; }

// Decimal digits of a number into a small buffer, without allocating.
WStringView IntText(int v, char16_t (&buf)[16]) {
  char16_t* end = buf + 16;
  char16_t* p = end;
  std::int64_t u = v < 0 ? -std::int64_t(v) : std::int64_t(v);
  do {
    *--p = char16_t(u'0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) *--p = u'-';
  return WStringView(p, std::size_t(end - p));
}

// Points a kind's drawing reads (beyond the count for kinds with fixed layouts).
std::size_t PointsNeeded(int kind) {
  switch (kind) {
    case MK_LINE:
    case MK_PARALLEL:
    case MK_RECT:
    case MK_ROUNDRECT:
    case MK_ELLIPSE:
    case MK_CIRCLE2: return 2;
    case MK_ANGLE:
    case MK_POINT2LINE: return 3;
    case MK_LINE2LINE:
    case MK_ARC3:
    case MK_CIRCLE3: return 4;
    case MK_CIRCLE2LINE: return 6;
    case MK_CIRCLE2CIRCLE: return 8;
    default: return 0;
  }
}

}  // namespace

void CMeasureManager::DrawAll(CDC& dc, int showSelection) {
  DrawMeasurements(dc);
  DrawInteraction(dc, showSelection);
}

void CMeasureManager::DrawMeasurements(CDC& dc) { DrawMeasurements(dc, 0, INT32_MAX); }

void CMeasureManager::DrawMeasurements(CDC& dc, int begin, int end) {
  dc.SetBkMode(TRANSPARENT);
  const int count = std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size()));
  begin = std::clamp(begin, 0, count);
  end = std::clamp(end, begin, count);
  if (begin == 0 && m_bShowGrid) DrawGrid(dc);
  // A point's numbers are written in the text colour the measurement before it left.
  for (int i = begin - 1; i >= 0; --i) {
    if (m_arrMeasure[std::size_t(i)].m_bVisible) {
      dc.SetTextColor(m_arrMeasure[std::size_t(i)].m_clrText);
      break;
    }
  }

  for (int i = begin; i < end; ++i) {
    const MEASUREBASE& m = m_arrMeasure[std::size_t(i)];
    if (!m.m_bVisible) continue;
    const CBrush oldBrush = dc.SelectObject(m.m_bFill ? CBrush(m.m_clrFill) : CBrush::Null());
    const int penWidth = m.m_nKind == MK_POINT ? m.m_nPenWidth + 10 : m.m_nPenWidth;
    const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, penWidth, m.m_clrPen));
    const CFont oldFont = dc.SelectObject(CFont(m.m_nFontHeight, kMeasureFace, 255));

    const std::vector<POINT>& p = m.m_arrPoint;
    const int n = std::clamp<int>(m.m_nPointCount, 0, int(p.size()));
    if (p.size() >= PointsNeeded(m.m_nKind)) {
      switch (m.m_nKind) {
        case MK_POINT:
          for (int k = 0; k < n; ++k) {
            const POINT pk = p[std::size_t(k)];
            Line(dc, pk, pk);
            char16_t buf[16];
            dc.TextOut(TruncToInt(double(pk.x) + penWidth - 5), pk.y, IntText(k + 1, buf));
          }
          break;
        case MK_LINE:
        case MK_FOLDLINE:
        case MK_ANGLE:
        case MK_POLYGON:
          for (int k = 1; k < n; ++k) Line(dc, p[std::size_t(k - 1)], p[std::size_t(k)]);
          if (m.m_nKind == MK_POLYGON && n >= 2) dc.LineTo(p[0]);
          break;
        case MK_PARALLEL: DrawParallelLines(dc, p[0], p[1]); break;
        case MK_LINE2LINE:
          DrawPointToLine(dc, Midpoint(p[0], p[1]), p[2], p[3]);
          DrawLineToLine(dc, p[0], p[1], p[2], p[3]);
          break;
        case MK_RECT: dc.Rectangle(p[0].x, p[0].y, p[1].x, p[1].y); break;
        case MK_ROUNDRECT: dc.RoundRect(p[0].x, p[0].y, p[1].x, p[1].y, 50, 50); break;
        case MK_ELLIPSE: dc.Ellipse(p[0].x, p[0].y, p[1].x, p[1].y); break;
        case MK_ARC3: DrawArc3Point(dc, p[0], p[1], p[2], p[3]); break;
        case MK_CIRCLE2: Draw2PointCircle(dc, p[0], p[1]); break;
        case MK_CIRCLE3: DrawCircleCentrePoint(dc, p[0], p[1], p[2], p[3]); break;
        case MK_POINT2LINE: DrawPointToLine(dc, p[0], p[1], p[2]); break;
        case MK_CIRCLE2LINE:
          DrawPointToLine(dc, p[5], p[3], p[4]);
          DrawCircleCentrePoint(dc, p[0], p[1], p[2], p[5]);
          Line(dc, p[3], p[4]);
          break;
        case MK_CIRCLE2CIRCLE:
          DrawCircleCentrePoint(dc, p[0], p[1], p[2], p[6]);
          DrawCircleCentrePoint(dc, p[3], p[4], p[5], p[7]);
          Line(dc, p[6], p[7]);
          break;
        default: break;
      }
    }

    // The result text, centred on the box and pulled left by one pixel per character.
    const WStringView text(m.m_szResult, BufferLength(m.m_szResult, kResultTextLen));
    const RECT& rc = m.m_rcBound;
    dc.SetTextColor(m.m_clrText);
    dc.TextOut(TruncToInt(std::trunc((double(rc.left) + rc.right) * 0.5) - double(text.size()) + m.m_nTextOffsetX),
               TruncToInt(std::trunc((double(rc.top) + rc.bottom) * 0.5) + double(m.m_nTextOffsetY)), text);

    dc.SelectObject(oldFont);
    dc.SelectObject(oldPen);
    dc.SelectObject(oldBrush);
  }
}

int CMeasureManager::MovingMeasure() const {
  if (!m_bInProgress) return -1;
  int i = -1;
  if (m_nMouseState == MS_CREATING) {
    // Arrows and crosses being built are remarks, drawn with the interaction.
    if (m_nCurKind != MK_ARROW && m_nCurKind != MK_CROSS && m_nCurKind != MK_TEXT) i = m_nCreating;
  } else if (m_nMouseState == MS_MOVE) {
    if (m_nCurRemark < 0 || m_nCurRemark >= int(m_arrRemark.size())) i = m_nSelMeasure;
  } else if (m_nMouseState == MS_POINT) {
    i = m_nSelMeasure;
  }
  return i >= 0 && i < std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size())) ? i : -1;
}

void CMeasureManager::DrawInteraction(CDC& dc, int showSelection) {
  // Drawn on its own, this part starts from the state the measurements leave: transparent text
  // in the last drawn measurement's text colour.
  dc.SetBkMode(TRANSPARENT);
  for (int i = std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size())) - 1; i >= 0; --i) {
    if (m_arrMeasure[std::size_t(i)].m_bVisible) {
      dc.SetTextColor(m_arrMeasure[std::size_t(i)].m_clrText);
      break;
    }
  }

  // Handles of the hovered measurement (or the rule centre), then the selection rectangle: marks
  // of the screen only, never burnt into a picture (showSelection 0).
  if (showSelection && m_nMouseState != MS_RULECENTRE) {
    // A hidden measurement is not drawn at all: neither its handles nor its selection.
    if (m_nHoverMeasure >= 0 && m_nHoverMeasure < int(m_arrMeasure.size()) &&
        m_arrMeasure[std::size_t(m_nHoverMeasure)].m_bVisible) {
      const MEASUREBASE& m = m_arrMeasure[std::size_t(m_nHoverMeasure)];
      const int n = std::clamp<int>(m.m_nPointCount, 0, int(m.m_arrPoint.size()));
      for (int k = 0; k < n; ++k) DrawHandle(dc, m.m_arrPoint[std::size_t(k)].x, m.m_arrPoint[std::size_t(k)].y);
    }
  } else if (showSelection && m_nHoverMeasure == 0) {
    DrawHandle(dc, m_CrossRule.cx, m_CrossRule.cy);
  }
  if (m_nSelMeasure >= 0 && m_nSelMeasure < int(m_arrMeasure.size()) && showSelection &&
      m_nMouseState != MS_RULECENTRE && m_arrMeasure[std::size_t(m_nSelMeasure)].m_bVisible) {
    const RECT& rc = m_arrMeasure[std::size_t(m_nSelMeasure)].m_rcBound;
    DrawSelectionRect(dc, rc.left, rc.top, rc.right, rc.bottom);
  }

  DrawRemarks(dc, showSelection);

  if (m_CrossRule.enable) DrawCrossDividingRule(dc, m_CrossRule);
  if (m_AngleRule.enable) DrawAngleDividingRule(dc, m_AngleRule);
  if (m_ScaleDisplay.enable) DrawScaleBar(dc, m_ScaleDisplay);
  if (m_bShowCalibLine) DrawCalibrationLine(dc);
}

void CMeasureManager::DrawRemarks(CDC& dc, int showSelection) {
  const int count = std::clamp<int>(m_nRemarkCount, 0, int(m_arrRemark.size()));
  for (int i = 0; i < count; ++i) {
    const stRemark& r = m_arrRemark[std::size_t(i)];
    switch (r.m_nKind) {
      case MK_TEXT:
        DrawTextRemark(dc, r.m_ptText.x, r.m_ptText.y, WStringView(r.m_szText, BufferLength(r.m_szText, kResultTextLen)),
                       r.m_clrColor, r.m_nSize);
        break;
      case MK_ARROW: DrawArrowRemark(dc, r.m_pt1, r.m_pt2, r.m_nSize - 20, r.m_clrColor); break;
      case MK_CROSS: DrawCrossRemark(dc, r.m_pt1, r.m_nSize - 20, r.m_clrColor); break;
      default: break;
    }
  }

  if (m_bContrastRound) DrawContrastRound(dc, m_nContrastRoundX, m_nContrastRoundY, m_dContrastRoundRadius);
  if (m_bContrastAngle)
    DrawContrastAngle(dc, m_nContrastAngleX, m_nContrastAngleY, m_dContrastAngleLength, m_dContrastAngleDeg);

  if (m_nCurRemark < 0 || m_nCurRemark >= int(m_arrRemark.size())) return;
  stRemark& r = m_arrRemark[std::size_t(m_nCurRemark)];
  RECT box{0, 0, 0, 0};
  if (r.m_nKind == MK_TEXT) {
    // The current text remark is drawn again and its hit box follows its measured extent (not
    // announced: it follows from what is drawn and changes nothing drawn).
    const WStringView text(r.m_szText, BufferLength(r.m_szText, kResultTextLen));
    DrawTextRemark(dc, r.m_ptText.x, r.m_ptText.y, text, r.m_clrColor, r.m_nSize);
    const CFont oldFont = dc.SelectObject(CFont(r.m_nSize, kRemarkFace));
    const SIZE ext = dc.GetTextExtentPoint32(text);
    dc.SelectObject(oldFont);
    const double x = r.m_ptText.x, y = r.m_ptText.y;
    r.m_rcHit = RECT{TruncToInt(x - 10), TruncToInt(y - 10), TruncToInt(x + ext.cx + 10), TruncToInt(y + ext.cy + 10)};
    box = r.m_rcHit;
  } else if (r.m_nKind == MK_ARROW || r.m_nKind == MK_CROSS) {
    box = r.m_rcHit;
  }
  if (showSelection) DrawSelectionRect(dc, box.left, box.top, box.right, box.bottom);
}

void CMeasureManager::DrawParallelLines(CDC& dc, POINT p0, POINT p1) {
  Line(dc, p0, p1);
  const double len = Dist(p0, p1);
  if (len == 0) return;  // coincident ends: no direction for the end bars
  const double f = 100 / len;
  const double a = std::trunc((double(p1.y) - p0.y) * f);
  const double b = std::trunc((double(p0.x) - p1.x) * f);
  Line(dc, p1, Shift(p1, a, b));
  Line(dc, p1, Shift(p1, -a, -b));
  Line(dc, p0, Shift(p0, -a, -b));
  Line(dc, p0, Shift(p0, a, b));
}

void CMeasureManager::Draw2PointCircle(CDC& dc, POINT p0, POINT p1) {
  const POINT c = Midpoint(p0, p1);
  const double r = Dist(p0, p1) / 2;
  dc.MoveTo(TruncToInt(c.x + std::trunc(r)), c.y);
  dc.AngleArc(c.x, c.y, ArcRadius(r), 0.0f, 360.0f);
}

void CMeasureManager::DrawCircleCentrePoint(CDC& dc, POINT a, POINT /*b*/, POINT /*c*/, POINT centre) {
  const double r = Dist(a, centre);
  dc.MoveTo(TruncToInt(centre.x + r), centre.y);
  dc.AngleArc(centre.x, centre.y, ArcRadius(r), 0.0f, 360.0f);
}

void CMeasureManager::DrawArc3Point(CDC& dc, POINT p0, POINT p1, POINT p2, POINT c) {
  const double r = Dist(p0, c);
  double start = AngleAtVertex(p0, c, POINT{TruncToInt(c.x + std::trunc(r)), c.y});
  if (p0.y > c.y) start = 360 - start;
  const double sweep = ArcSweepAngle(p0, p1, p2, c);
  dc.MoveTo(p0);
  // an end on the centre has no direction: the arc then starts at 0 degrees
  dc.AngleArc(c.x, c.y, ArcRadius(r), ArcAngle(start), ArcAngle(sweep));
  dc.LineTo(c);
  dc.LineTo(p0);
}

void CMeasureManager::DrawPointToLine(CDC& dc, POINT p, POINT a, POINT b) {
  const POINT f = PerpendicularFoot(p, a, b);
  const CPen callerPen = dc.SelectObject(CPen(PS_SOLID, 10, 0));
  Line(dc, p, p);
  dc.SelectObject(CPen(PS_DOT, 1, kConstructionGreen));
  Line(dc, f, p);
  if (!PtInRect(RECT{a.x, a.y, b.x, b.y}, f)) Line(dc, f, Dist2(f, a) < Dist2(f, b) ? a : b);
  dc.SelectObject(callerPen);
  Line(dc, a, b);
}

void CMeasureManager::DrawLineToLine(CDC& dc, POINT a0, POINT a1, POINT b0, POINT b1) {
  const POINT x = LineIntersection(a0, a1, b0, b1);
  const CPen callerPen = dc.SelectObject(CPen(PS_DOT, 1, kConstructionGreen));
  Line(dc, Dist2(b1, x) < Dist2(b0, x) ? b1 : b0, x);
  Line(dc, Dist2(a1, x) < Dist2(a0, x) ? a1 : a0, x);
  dc.SelectObject(callerPen);
  Line(dc, a0, a1);
  Line(dc, b0, b1);
}

void CMeasureManager::DrawHandle(CDC& dc, int x, int y) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 1, m_clrSel));
  const CBrush oldBrush = dc.SelectObject(CBrush::Null());
  dc.Rectangle(TruncToInt(x - 5.0), TruncToInt(y - 5.0), TruncToInt(x + 5.0), TruncToInt(y + 5.0));
  dc.SelectObject(oldBrush);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawSelectionRect(CDC& dc, int l, int t, int r, int b) {
  const CPen oldPen = dc.SelectObject(CPen(m_nSelPenStyle, m_nSelPenWidth, m_clrSel));
  const CBrush oldBrush = dc.SelectObject(CBrush::Null());
  dc.Rectangle(l, t, r, b);
  dc.SelectObject(oldBrush);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawTextRemark(CDC& dc, int x, int y, WStringView text, COLORREF color, int height) {
  const CFont oldFont = dc.SelectObject(CFont(height, kRemarkFace));
  dc.SetTextColor(color);
  dc.TextOut(x, y, text);
  dc.SelectObject(oldFont);
}

void CMeasureManager::DrawArrowRemark(CDC& dc, POINT p1, POINT p2, int width, COLORREF color) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, width, color));
  Line(dc, p1, p2);
  const std::int32_t len = TruncToInt(Dist(p1, p2));
  if (len != 0) {  // a zero-length arrow has no direction for its head
    double a = std::asin(std::clamp((double(p2.y) - p1.y) / len, -1.0, 1.0)) * 180 / kPi;
    if (p1.x > p2.x) a = 180 - a;
    for (double h : {a + 150, a + 210}) {
      const double rad = h * kPi / 180;
      Line(dc, p2, POINT{TruncToInt(p2.x + 40 * std::cos(rad)), TruncToInt(p2.y + 40 * std::sin(rad))});
    }
  }
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawCrossRemark(CDC& dc, POINT p, int width, COLORREF color) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, width, color));
  RECT clip{};
  dc.GetClipBox(&clip);
  const std::int32_t w = TruncToInt(double(clip.right) - clip.left);
  const std::int32_t h = TruncToInt(double(clip.bottom) - clip.top);
  Line(dc, POINT{0, p.y}, POINT{w, p.y});
  Line(dc, POINT{p.x, 0}, POINT{p.x, h});
  dc.SelectObject(oldPen);
}
