// Overlays drawn over the image: grid, cross and angle dividing rules, scale bar, the
// calibration line and the two contrast reference figures.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "measure/MeasureManager.h"
#include "platform/strings.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr COLORREF kRed = 0x0000FF;
constexpr std::uint32_t kCalibrationHintId = 19;

void Line(CDC& dc, std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2) {
  dc.MoveTo(TruncToInt(double(x1)), TruncToInt(double(y1)));
  dc.LineTo(TruncToInt(double(x2)), TruncToInt(double(y2)));
}

// A double as a single; values beyond the single range become infinities rather than UB.
float ToSingle(double v) {
  if (v > double(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
  if (v < -double(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
  return float(v);
}

// Width and height of the clip box.
void ClipSize(const CDC& dc, std::int64_t* w, std::int64_t* h) {
  RECT clip{};
  dc.GetClipBox(&clip);
  *w = std::int64_t(clip.right) - clip.left;
  *h = std::int64_t(clip.bottom) - clip.top;
}

// cos and sin of the angle rule's directions 180..539 degrees, computed once.
struct DegreeTable {
  std::array<double, 360> cosv{}, sinv{};
  DegreeTable() {
    for (int d = 180; d < 540; ++d) {
      cosv[std::size_t(d - 180)] = std::cos(d * kPi / 180);
      sinv[std::size_t(d - 180)] = std::sin(d * kPi / 180);
    }
  }
};

}  // namespace

void CMeasureManager::DrawGrid(CDC& dc) {
  const std::int64_t s = m_nGridSpacing;
  if (s <= 0) return;  // no spacing: nothing to step by
  std::int64_t w, h;
  ClipSize(dc, &w, &h);
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, m_nGridWidth, m_clrGrid));
  if (h > 0)
    for (std::int64_t y = 0; y < h; y += s) Line(dc, 0, y, w, y);
  if (w > 0)
    for (std::int64_t x = 0; x < w; x += s) Line(dc, x, 0, x, h);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawCrossDividingRule(CDC& dc, const RuleBlock& rule) {
  const std::int64_t a = rule.step;
  const std::int64_t m = a / 10;
  if (a <= 0 || m <= 0) return;  // a step below 10 gives no minor step
  std::int64_t w, h;
  ClipSize(dc, &w, &h);
  const std::int64_t cx = rule.cx, cy = rule.cy;

  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 1, COLORREF(rule.lineColor)));
  dc.SetTextColor(COLORREF(rule.textColor));
  Line(dc, 0, cy, w, cy);
  Line(dc, cx, 0, cx, h);

  const std::int64_t labelY = h - a < cy ? cy - 60 : cy + 50;
  const std::int64_t labelX = w - a < cx ? cx - 100 : cx + 50;
  auto label = [&](std::int64_t k) { return FormatW(u"%.3f", double(k * a) * m_dScale); };
  auto text = [&](std::int64_t x, std::int64_t y, std::int64_t k) {
    dc.TextOut(TruncToInt(double(x)), TruncToInt(double(y)), label(k));
  };

  for (std::int64_t k = 1; k <= cx / a; ++k) {
    const std::int64_t x = cx - k * a;
    Line(dc, x, cy - 50, x, cy + 50);
    text(x, labelY, k);
  }
  for (std::int64_t k = 1; k <= (w - cx) / a; ++k) {
    const std::int64_t x = cx + k * a;
    Line(dc, x, cy - 50, x, cy + 50);
    text(x, labelY, k);
  }
  for (std::int64_t k = 1; k <= cy / a; ++k) {
    const std::int64_t y = cy - k * a;
    Line(dc, cx - 50, y, cx + 50, y);
    text(labelX, y, k);
  }
  for (std::int64_t k = 1; k <= (h - cy) / a; ++k) {
    const std::int64_t y = cy + k * a;
    Line(dc, cx - 50, y, cx + 50, y);
    text(labelX, y, k);
  }

  for (std::int64_t j = 1, n = cx / m + 1; j <= n; ++j) Line(dc, cx - j * m, cy - 20, cx - j * m, cy + 20);
  for (std::int64_t j = 1, n = (w - cx) / m + 1; j <= n; ++j) Line(dc, cx + j * m, cy - 20, cx + j * m, cy + 20);
  for (std::int64_t j = 1, n = cy / m + 1; j <= n; ++j) Line(dc, cx - 20, cy - j * m, cx + 20, cy - j * m);
  for (std::int64_t j = 1, n = (h - cy) / m + 1; j <= n; ++j) Line(dc, cx - 20, cy + j * m, cx + 20, cy + j * m);

  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawAngleDividingRule(CDC& dc, const RuleBlock& rule) {
  static const DegreeTable table;
  const double cx = rule.cx, cy = rule.cy, R = rule.radius;
  auto at = [&](double r, int d) {
    const std::size_t i = std::size_t(d - 180);
    return POINT{TruncToInt(cx + r * table.cosv[i]), TruncToInt(cy + r * table.sinv[i])};
  };
  auto ray = [&](double r0, double r1, int d) {
    const POINT p = at(r0, d), q = at(r1, d);
    dc.MoveTo(p);
    dc.LineTo(q);
  };

  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 1, COLORREF(rule.lineColor)));
  dc.SetTextColor(COLORREF(rule.textColor));
  for (int i = 0; i < 24; ++i) {
    const int d = 180 + 15 * i;
    if (i % 3 == 0) {
      dc.MoveTo(TruncToInt(cx), TruncToInt(cy));
      dc.LineTo(at(R, d));
    } else {
      ray(R - 50, R, d);
    }
    const POINT t = at(R + 25, d);
    dc.TextOut(t.x, t.y, FormatW(u"%d°", d - 180));
  }
  for (int d = 180; d <= 537; d += 3) ray(R - 30, R, d);
  for (int d = 180; d <= 539; ++d) ray(R - 10, R, d);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawScaleBar(CDC& dc, const ScaleDisplayBlock& bar) {
  if (m_dScale == 0 || !std::isfinite(m_dScale)) return;  // no scale: no length to show
  std::int64_t w, h;
  ClipSize(dc, &w, &h);
  const int f = TruncToInt(4.0 * bar.lineWidth + 20);

  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, bar.lineWidth, COLORREF(bar.lineColor)));
  const CFont oldFont = dc.SelectObject(CFont(f, u"宋体"));
  dc.SetTextColor(COLORREF(bar.textColor));

  std::int64_t x = w * bar.xPercent / 100;
  std::int64_t y = h * bar.yPercent / 100;
  const std::int64_t half = TruncToInt(bar.length / 1000.0 / m_dScale * 0.5);
  x = std::min<std::int64_t>(x, w - 2 * half - 10);
  y = std::max<std::int64_t>(y, std::int64_t(f) + 10);

  Line(dc, x, y, x + 2 * half, y);
  Line(dc, x, y - 20, x, y);
  Line(dc, x + 2 * half, y - 20, x + 2 * half, y);
  Line(dc, x + half, y - 10, x + half, y);

  const float u = float(bar.length / 1000.0);
  std::int64_t tx = x + half - 2 * std::int64_t(f);
  if (tx <= 2) tx = 2;
  const std::int64_t ty = y - f - 10;
  WString label;
  if (u > 10) {
    label = FormatW(u"%.0f%s", u, m_strUnit);
    tx += f;
  } else if (u > 1) {
    label = FormatW(u"%.1f%s", u, m_strUnit);
    tx += f;
  } else if (double(u) > 0.1) {
    label = FormatW(u"%.2f%s", u, m_strUnit);
    tx += f;
  } else {
    label = FormatW(u"%.3f%s", u, m_strUnit);
  }
  dc.TextOut(TruncToInt(double(tx)), TruncToInt(double(ty)), label);

  dc.SelectObject(oldFont);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawCalibrationLine(CDC& dc) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 2, kRed));
  DrawCalibrationSegment(dc, m_rcCalibLine.left, m_rcCalibLine.top, m_rcCalibLine.right, m_rcCalibLine.bottom);
  dc.SelectObject(oldPen);

  std::int64_t w, h;
  ClipSize(dc, &w, &h);
  const WString hint = LoadStringW(kCalibrationHintId);
  dc.SetTextColor(kRed);
  dc.TextOut(TruncToInt(double(w / 2 - 4 * std::int64_t(hint.size()))), 100, hint);
}

void CMeasureManager::DrawCalibrationSegment(CDC& dc, int x1, int y1, int x2, int y2) {
  // The line snaps to its dominant axis.
  POINT e{x2, y2};
  if (x1 != x2 || y1 != y2) {
    if (x1 == x2) {
      e = POINT{x1, y2};
    } else {
      const double k = (double(y2) - y1) / (double(x2) - x1);
      e = (k >= -1 && k <= 1) ? POINT{x2, y1} : POINT{x1, y2};
    }
  }
  DrawEndTick(dc, x1, y1, e.x, e.y);

  const double dx = double(x1) - e.x, dy = double(y1) - e.y;
  const double len = std::sqrt(dx * dx + dy * dy);
  if (len == 0) return;  // coincident ends: no direction for the end bars
  const double f = 100 / len;
  const double a = std::trunc((double(e.y) - y1) * f);
  const double b = std::trunc((double(x1) - e.x) * f);
  auto bar = [&](POINT p, double sx, double sy) {
    dc.MoveTo(p);
    dc.LineTo(TruncToInt(p.x + sx), TruncToInt(p.y + sy));
  };
  bar(e, a, b);
  bar(e, -a, -b);
  bar(POINT{x1, y1}, -a, -b);
  bar(POINT{x1, y1}, a, b);
}

void CMeasureManager::DrawEndTick(CDC& dc, int x1, int y1, int x2, int y2) {
  if (x1 == x2 && y1 == y2) return;
  dc.MoveTo(x1, y1);
  dc.LineTo(x2, y2);
}

void CMeasureManager::DrawContrastRound(CDC& dc, int x, int y, double radius) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 1, kRed));
  dc.SetTextColor(kRed);
  dc.MoveTo(x, y);
  const std::int32_t r = TruncToInt(radius);
  dc.AngleArc(x, y, r > 0 ? std::uint32_t(r) : 0u, 0.0f, 360.0f);
  dc.TextOut(x, TruncToInt(y - 20.0), FormatW(u"%.3f %s", radius, m_strUnit));
  dc.SetTextColor(0);
  dc.SelectObject(oldPen);
}

void CMeasureManager::DrawContrastAngle(CDC& dc, int x, int y, double length, double angle) {
  const CPen oldPen = dc.SelectObject(CPen(PS_SOLID, 1, kRed));
  dc.SetTextColor(kRed);
  const double L = TruncToInt(length);
  const double rad2 = (360 - angle) * kPi / 180;
  dc.MoveTo(x, y);
  dc.LineTo(TruncToInt(x + L), y);
  dc.MoveTo(x, y);
  dc.LineTo(TruncToInt(x + L * std::cos(rad2)), TruncToInt(y + L * std::sin(rad2)));
  dc.MoveTo(x, y);
  // the typed angle goes to the arc as it is: the context draws more than a turn as a full
  // circle and refuses a sweep that is no number
  dc.AngleArc(x, y, 20, 0.0f, ToSingle(angle));
  const double h = -(360 - angle) / 2 * kPi / 180;
  dc.TextOut(TruncToInt(x + 40 * std::cos(h)), TruncToInt(y + 40 * std::sin(h)), FormatW(u"%.3f°", angle));
  dc.SetTextColor(0);
  dc.SelectObject(oldPen);
}

double CMeasureManager::GetCalibrationLineLength() const {
  const double dx = double(m_rcCalibLine.left) - m_rcCalibLine.right;
  const double dy = double(m_rcCalibLine.top) - m_rcCalibLine.bottom;
  return std::sqrt(dx * dx + dy * dy);
}
