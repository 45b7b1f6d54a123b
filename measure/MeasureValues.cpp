// Values of a measurement in the calibrated unit and the texts the operator reads. Every value
// comes from the clicked points in double precision (MeasureExact.h); the centres, feet and
// intersections that records store in whole pixels are for drawing only. The one exception is a
// circle whose three points lie on one line: it has no centre, and the stored one stands in.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "measure/MeasureExact.h"
#include "measure/MeasureManager.h"
#include "platform/strings.h"
#include "res/StringIds.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double k2Pi = 6.283185307179586;

double Dist(POINT p, POINT q) {
  const double dx = double(p.x) - double(q.x), dy = double(p.y) - double(q.y);
  return std::sqrt(dy * dy + dx * dx);
}

POINT Midpoint(POINT a, POINT b) {
  return POINT{std::int32_t((std::int64_t(a.x) + b.x) / 2), std::int32_t((std::int64_t(a.y) + b.y) / 2)};
}

// Points a kind needs before its values can be computed.
int PointsNeeded(std::int32_t kind) {
  switch (kind) {
    case MK_ANGLE: case MK_POINT2LINE: return 3;
    case MK_LINE2LINE: case MK_ARC3: case MK_CIRCLE3: return 4;
    case MK_RECT: case MK_ROUNDRECT: case MK_ELLIPSE: case MK_CIRCLE2: return 2;
    case MK_CIRCLE2LINE: return 6;
    case MK_CIRCLE2CIRCLE: return 8;
    default: return 0;
  }
}

// Points in use that the array really holds.
std::size_t UsedPoints(const MEASUREBASE& rec) {
  if (rec.m_nPointCount <= 0) return 0;
  return std::min(std::size_t(rec.m_nPointCount), rec.m_arrPoint.size());
}

// Closed polygon perimeter, for the report lines only (the value set keeps P at 0 for polygons).
double PolygonPerimeter(const MEASUREBASE& rec, double s) {
  const std::size_t n = UsedPoints(rec);
  if (n < 3) return 0.0;
  double sum = 0.0;
  for (std::size_t k = 1; k < n; ++k) sum += Dist(rec.m_arrPoint[k - 1], rec.m_arrPoint[k]);
  sum += Dist(rec.m_arrPoint[n - 1], rec.m_arrPoint[0]);
  return s * sum;
}

}  // namespace

namespace {

// The centre of the circle through three clicked points; the stored centre when they lie on one
// line.
exactgeo::Point CentreOr(POINT a, POINT b, POINT c, POINT stored) {
  return exactgeo::Circumcentre(a, b, c).value_or(exactgeo::ToPoint(stored));
}

}  // namespace

bool CMeasureManager::CalcMeasureValues(int i, MeasureValues* out) const {
  using namespace exactgeo;
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size() || !out) return false;
  const MEASUREBASE& rec = m_arrMeasure[std::size_t(i)];
  const std::vector<POINT>& p = rec.m_arrPoint;
  if (p.size() < std::size_t(PointsNeeded(rec.m_nKind))) return false;
  const double s = m_dScale;
  MeasureValues v;
  switch (rec.m_nKind) {
    case MK_LINE: case MK_PARALLEL: case MK_FOLDLINE: {
      const std::size_t n = UsedPoints(rec);
      double sum = 0.0;
      for (std::size_t k = 1; k < n; ++k) sum += Dist(p[k - 1], p[k]);
      v.L = s * sum;
      break;
    }
    case MK_ANGLE:
      v.L = AngleAt(p[0], p[1], p[2]);
      break;
    case MK_LINE2LINE: {
      const double a = AngleBetween(p[0], p[1], p[2], p[3]);
      v.S = a > 90.0 ? 180.0 - a : a;
      v.L = s * DistanceToLine(exactgeo::Midpoint(p[0], p[1]), p[2], p[3]);
      break;
    }
    case MK_RECT: case MK_ROUNDRECT: {
      const double w = std::fabs(double(p[0].x) - double(p[1].x));
      const double h = std::fabs(double(p[0].y) - double(p[1].y));
      v.A = s * w;
      v.B = s * h;
      if (rec.m_nKind == MK_RECT) {
        v.P = 2 * v.A + 2 * v.B;
        v.S = v.A * v.B;
        break;
      }
      // The corners are quarters of the 50 x 50 ellipse the shape is drawn with, shrunk to the
      // shape where a side is shorter than 50 px.
      const double rx = std::min(25.0, w / 2), ry = std::min(25.0, h / 2);
      v.P = s * (2 * (w - 2 * rx) + 2 * (h - 2 * ry) + EllipsePerimeter(rx, ry));
      v.S = v.A * v.B - s * s * (4 - kPi) * rx * ry;
      break;
    }
    case MK_ELLIPSE:
      v.A = s * std::fabs(double(p[0].x) - double(p[1].x)) / 2;
      v.B = s * std::fabs(double(p[0].y) - double(p[1].y)) / 2;
      v.P = EllipsePerimeter(v.A, v.B);
      v.S = kPi * v.A * v.B;
      break;
    case MK_ARC3: {
      const exactgeo::Point c = CentreOr(p[0], p[1], p[2], p[3]);
      v.S = std::fabs(ArcSweep(p[0], p[1], p[2], c));
      v.L = s * Distance(ToPoint(p[0]), c);
      break;
    }
    case MK_CIRCLE2:
      v.A = s * Dist(p[0], p[1]) / 2;
      v.P = k2Pi * v.A;
      v.S = kPi * v.A * v.A;
      break;
    case MK_CIRCLE3:
      v.A = s * Distance(ToPoint(p[0]), CentreOr(p[0], p[1], p[2], p[3]));
      v.P = k2Pi * v.A;
      v.S = kPi * v.A * v.A;
      break;
    case MK_POLYGON: {
      const std::size_t n = UsedPoints(rec);
      if (n < 3) break;
      // Each (x difference) x (y sum) product is an exact integer. Both factors take 33 bits, so
      // the product needs 66: 128-bit arithmetic keeps it exact for any int32 points (a layer file
      // may hold any), and it converts to the same double as a 64-bit product wherever that fits.
      auto term = [](POINT a, POINT b) {  // (b.x - a.x) * (a.y + b.y)
        return double((__int128(b.x) - a.x) * (__int128(a.y) + b.y));
      };
      double t = 0.0;
      for (std::size_t k = 0; k + 1 < n; ++k) t += 0.5 * term(p[k], p[k + 1]);
      t += 0.5 * term(p[n - 1], p[0]);
      v.S = s * s * std::fabs(t);
      break;
    }
    case MK_POINT2LINE:
      v.L = s * DistanceToLine(p[0], p[1], p[2]);
      break;
    case MK_CIRCLE2LINE:
      v.L = s * DistanceToLine(CentreOr(p[0], p[1], p[2], p[5]), p[3], p[4]);
      break;
    case MK_CIRCLE2CIRCLE:
      v.L = s * Distance(CentreOr(p[0], p[1], p[2], p[6]), CentreOr(p[3], p[4], p[5], p[7]));
      break;
    default:
      break;
  }
  *out = v;
  return true;
}

void CMeasureManager::FormatResultText(int i, double L, double A, double B, double P, double S) {
  (void)P;
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size()) return;
  MEASUREBASE& rec = m_arrMeasure[std::size_t(i)];
  const WString& u = m_strUnit;
  WString text;
  switch (rec.m_nKind) {
    case MK_POINT:
      text = FormatW(LoadStringW(sid::kTotal), rec.m_nPointCount);  // "Total: %d"
      break;
    case MK_LINE: case MK_PARALLEL: case MK_FOLDLINE: case MK_POINT2LINE: case MK_CIRCLE2LINE: case MK_CIRCLE2CIRCLE:
      text = FormatW(u"L: %.3f %s", L, u);
      break;
    case MK_ANGLE:
      text = FormatW(u"\u2220\uFF1A%.3f\u00B0", L);
      break;
    case MK_LINE2LINE:
      text = FormatW(u"\u2220\uFF1A%.3f\u00B0 L: %.3f %s", S, L, u);
      break;
    case MK_RECT: case MK_ROUNDRECT:
      text = FormatW(u"(cx:%.3f, cy:%.3f) S: %.3f %s\u00B2", A, B, S, u);
      break;
    case MK_ELLIPSE:
      text = FormatW(u"(rx:%.3f, ry:%.3f) S: %.3f %s\u00B2", A, B, S, u);
      break;
    case MK_ARC3:
      text = FormatW(u"\u2220\uFF1A%.3f\u00B0\uFF41\uFF1A%.3frad L\uFF1A%.3f %s", S, S * kPi / 180, L * S * kPi / 180,
                     u);
      break;
    case MK_CIRCLE2: case MK_CIRCLE3:
      text = FormatW(u"(r:%.3f) S: %.3f %s\u00B2", A, S, u);
      break;
    case MK_POLYGON:
      text = FormatW(u"S: %.3f %s\u00B2", S, u);
      break;
    default:
      return;  // other kinds keep their text
  }
  CopyToBuffer(text, rec.m_szResult, kResultTextLen);
  Changed(kChangedMeasurements, i);
}

void CMeasureManager::SetScale(float factor, WStringView unit, const ScaleDisplayBlock& display) {
  ChangeScope scope(*this);
  Changed(kChangedMeasurements | kChangedOverlays | kChangedScale);
  m_dScale = double(factor);
  m_strUnit = WString(unit);
  m_ScaleDisplay = display;
  RefreshResultTexts();
}

void CMeasureManager::RefreshResultTexts() {
  ChangeScope scope(*this);
  const int n = std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()));
  for (int i = 0; i < n; ++i) {
    MeasureValues v;
    if (!CalcMeasureValues(i, &v)) continue;
    const std::int32_t kind = m_arrMeasure[std::size_t(i)].m_nKind;
    FormatResultText(i, v.L, v.A, v.B, v.P, v.S);
    // The shape being built gets its text in the tree when it is finished.
    const bool building = m_bInProgress && m_nMouseState == MS_CREATING && i == m_nCreating;
    const bool texted = kind >= MK_POINT && kind <= MK_CIRCLE2CIRCLE && kind != MK_RULECENTRE;
    if (texted && !building) Notify(i, kNotifyTextChanged);
  }
}

void CMeasureManager::GetScale(float* factor, WString* unit, ScaleDisplayBlock* display) const {
  if (factor) *factor = float(m_dScale);
  if (unit) *unit = m_strUnit;
  if (display) *display = m_ScaleDisplay;
}

namespace {

// The report line without the "[index]label，" prefix of the Word line; empty for kinds that
// have none.
WString ReportBody(const MEASUREBASE& rec, const MeasureValues& v, double s, const WString& u) {
  const std::vector<POINT>& p = rec.m_arrPoint;
  switch (rec.m_nKind) {
    case MK_POINT:
      return FormatW(u"Total\uFF1A%d", rec.m_nPointCount);
    case MK_LINE: case MK_PARALLEL:
      if (p.size() < 2) return {};
      return FormatW(u"pA(%d,%d)\u3001pB(%d,%d)\uFF0CL\uFF1A%.3f%s", p[0].x, p[0].y, p[1].x, p[1].y, v.L, u);
    case MK_FOLDLINE:
      return FormatW(u"L\uFF1A%.3f%s", v.L, u);
    case MK_ANGLE:
      return FormatW(u"pO(%d,%d)\u3001pA(%d,%d)\u3001pB(%d,%d)\uFF0C\u2220\uFF1A%.3f\u00B0", p[1].x, p[1].y, p[0].x,
                     p[0].y, p[2].x, p[2].y, v.L);
    case MK_LINE2LINE:
      return FormatW(u"L: %.3f%s\uFF0C \u2220\uFF1A%.3f\u00B0", v.L, u, v.S);
    case MK_RECT: case MK_ROUNDRECT: case MK_ELLIPSE:
      return FormatW(u"pA(%d,%d)\u3001pB(%d,%d)\u3001pC(%d,%d)\u3001pD(%d,%d)\uFF0CC: %.3f%s\uFF0CS: %.3f%s\u00B2",
                     p[0].x, p[0].y, p[1].x, p[0].y, p[0].x, p[1].y, p[1].x, p[1].y, v.P, u, v.S, u);
    case MK_ARC3:
      return FormatW(u"\u2220\uFF1A%.3f\u00B0\uFF41\uFF1A%.3frad L\uFF1A%.3f %s", v.S, v.S * kPi / 180,
                     v.L * v.S * kPi / 180, u);
    case MK_CIRCLE2: {
      const POINT o = Midpoint(p[0], p[1]);
      return FormatW(u"pO(%d,%d)\u3001pA(%d,%d)\u3001pB(%d,%d)\uFF0CC: %.3f%s\uFF0CS: %.3f%s\u00B2", o.x, o.y, p[0].x,
                     p[0].y, p[1].x, p[1].y, v.P, u, v.S, u);
    }
    case MK_CIRCLE3:
      return FormatW(u"pO(%d,%d)\u3001pA(%d,%d)\u3001pB(%d,%d)\u3001pC(%d,%d)\uFF0CC: %.3f%s\uFF0CS: %.3f%s\u00B2",
                     p[3].x, p[3].y, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y, v.P, u, v.S, u);
    case MK_POLYGON:
      return FormatW(u"C: %.3f%s\uFF0CS: %.3f%s\u00B2", PolygonPerimeter(rec, s), u, v.S, u);
    case MK_POINT2LINE: case MK_CIRCLE2LINE: case MK_CIRCLE2CIRCLE:
      return FormatW(u"L: %.3f%s", v.L, u);
    default:
      return {};
  }
}

}  // namespace

void CMeasureManager::GetWordReportLine(int i, WStringView label, char16_t* out, std::size_t capacity) const {
  if (!out || capacity == 0 || i < 0 || i >= std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()))) return;
  MeasureValues v;
  if (!CalcMeasureValues(i, &v)) return;
  const WString body = ReportBody(m_arrMeasure[std::size_t(i)], v, m_dScale, m_strUnit);
  if (body.empty()) return;
  CopyToBuffer(FormatW(u"[%d]%s\uFF0C", i, label) + body, out, capacity);
}

void CMeasureManager::GetExcelReportLine(int i, WStringView label, char16_t* out, std::size_t capacity) const {
  (void)label;
  if (!out || capacity == 0 || i < 0 || i >= std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()))) return;
  MeasureValues v;
  if (!CalcMeasureValues(i, &v)) return;
  const WString body = ReportBody(m_arrMeasure[std::size_t(i)], v, m_dScale, m_strUnit);
  if (body.empty()) return;
  CopyToBuffer(body, out, capacity);
}

WString FactorText(float factor) {
  char buf[96];
  const auto r = std::to_chars(buf, buf + sizeof buf, factor, std::chars_format::fixed);
  return WString(buf, r.ptr);
}

WString FactorDisplayText(float factor) {
  WString text = FactorText(factor);
  const std::size_t dot = text.find(u'.');
  if (dot == WString::npos) text += u'.';
  const std::size_t decimals = text.size() - text.find(u'.') - 1;
  if (decimals < 3) text.append(3 - decimals, u'0');
  return text;
}

std::optional<float> ReadFactor(WStringView text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i < text.size() && text[i] == u'+') ++i;
  std::string ascii;
  for (; i < text.size() && text[i] < 0x80; ++i) ascii.push_back(char(text[i]));
  float v = 0.0f;
  const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v) || !(v > 0.0f)) return std::nullopt;
  return v;
}
