// Geometry on integer image points. The members keep their single-precision steps, 1e-5 guards
// and truncations: they decide the points that records store and layer files carry, and where
// shapes are drawn. The values come from the exact geometry at the end of this file.
#include <algorithm>
#include <cmath>

#include "measure/MeasureExact.h"
#include "measure/MeasureManager.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Differences of int32 coordinates in double (exact, never overflowing).
double Diff(std::int32_t a, std::int32_t b) { return double(a) - double(b); }

// A coordinate difference held as a single, with zero replaced by 1e-5 (also as a single).
float GuardedDx(std::int32_t a, std::int32_t b) {
  float dx = float(Diff(a, b));
  if (dx == 0.0f) dx = 1e-5f;
  return dx;
}

std::int32_t SatAdd(std::int32_t v, std::int32_t d) {
  const std::int64_t r = std::int64_t(v) + d;
  return std::int32_t(std::clamp<std::int64_t>(r, INT32_MIN, INT32_MAX));
}

}  // namespace

POINT CMeasureManager::PerpendicularFoot(POINT p, POINT a, POINT b) const {
  const float dx = GuardedDx(a.x, b.x);
  const double k = Diff(a.y, b.y) / double(dx);
  const double bb = double(a.y) - double(a.x) * k;
  POINT f;
  if (k == 0.0) {
    f.x = p.x;
  } else {
    const double c = double(p.x) / k + double(p.y);
    f.x = TruncToInt((c - bb) * k / (k * k + 1.0));
    if (std::fabs(k) > 10.0) {
      f.y = TruncToInt(-double(f.x) / k + c);
      return f;
    }
  }
  f.y = TruncToInt(k * double(f.x) + bb);
  return f;
}

POINT CMeasureManager::LineIntersection(POINT a1, POINT a2, POINT b1, POINT b2) const {
  const float dx1 = GuardedDx(a1.x, a2.x);
  const double k1 = Diff(a1.y, a2.y) / double(dx1);
  const double bb1 = double(a1.y) - double(a1.x) * k1;
  const float dx2 = GuardedDx(b1.x, b2.x);
  const double k2 = Diff(b1.y, b2.y) / double(dx2);
  const double bb2 = double(b1.y) - double(b1.x) * k2;
  float d = (k1 == k2) ? 1e-5f : float(k1 - k2);
  if (d == 0.0f) d = 1e-5f;  // slopes too close for a single: treat as parallel
  POINT x;
  x.x = TruncToInt(-(bb1 - bb2) / double(d));
  if (std::fabs(k1) <= 200.0 && std::fabs(k2) >= 3.0)
    x.y = TruncToInt(k1 * double(x.x) + bb1);
  else
    x.y = TruncToInt(k2 * double(x.x) + bb2);
  return x;
}

POINT CMeasureManager::CircleCentreFrom3Points(POINT p1, POINT p2, POINT p3) const {
  // Exact integer arithmetic, wide enough for any int32 input.
  using Wide = __int128;
  const Wide x1 = p1.x, y1 = p1.y, x2 = p2.x, y2 = p2.y, x3 = p3.x, y3 = p3.y;
  const Wide a = (x1 - x2) * (x1 + x2) + (y1 - y2) * (y1 + y2);
  const Wide b = (x3 - x2) * (x3 + x2) + (y3 - y2) * (y3 + y2);
  const Wide d = (y3 - y2) * (x1 - x2) - (y2 - y1) * (x2 - x3);
  if (d == 0) return POINT{0, 0};
  const Wide cx = ((y2 - y1) * b + (y3 - y2) * a) / (2 * d);
  const Wide cy = ((x2 - x3) * a + (x1 - x2) * b) / (2 * d);
  auto clamp32 = [](Wide v) {
    return std::int32_t(v < Wide(INT32_MIN) ? Wide(INT32_MIN) : v > Wide(INT32_MAX) ? Wide(INT32_MAX) : v);
  };
  return POINT{clamp32(cx), clamp32(cy)};
}

POINT CMeasureManager::EquilateralThirdPoint(POINT p, POINT q) const {
  if (p == q) return p;  // no triangle on a zero-length side
  const double k = Diff(q.y, p.y) / Diff(q.x, p.x);  // vertical: +-inf, atan gives +-90 degrees
  const double len = std::sqrt(Diff(p.y, q.y) * Diff(p.y, q.y) + Diff(p.x, q.x) * Diff(p.x, q.x));
  const double t = (std::atan(k) * 180.0 / kPi + 60.0) * kPi / 180.0;
  if (p.x > q.x) return POINT{TruncToInt(double(p.x) - len * std::cos(t)), TruncToInt(double(p.y) - len * std::sin(t))};
  return POINT{TruncToInt(double(p.x) + len * std::cos(t)), TruncToInt(double(p.y) + len * std::sin(t))};
}

double CMeasureManager::AngleAtVertex(POINT a, POINT v, POINT b) const {
  const double ay = Diff(a.y, v.y), ax = Diff(a.x, v.x), by = Diff(b.y, v.y), bx = Diff(b.x, v.x);
  const double dot = by * ay + bx * ax;
  const double la = std::sqrt(ay * ay + ax * ax);
  const double lb = std::sqrt(by * by + bx * bx);
  if (la == 0.0 || lb == 0.0) return 0.0;  // a zero-length arm has no angle
  float cosine = float(dot / (lb * la));
  cosine = std::clamp(cosine, -1.0f, 1.0f);
  const float angle = float(std::acos(double(cosine)));
  return double(angle) * 180.0 / kPi;
}

double CMeasureManager::ArcSweepAngle(POINT e1, POINT e2, POINT m, POINT o) const {
  const double r = std::sqrt(Diff(e1.y, o.y) * Diff(e1.y, o.y) + Diff(e1.x, o.x) * Diff(e1.x, o.x));
  const POINT h{TruncToInt(r + double(o.x)), o.y};
  double a1 = AngleAtVertex(e1, o, h);
  double a2 = AngleAtVertex(e2, o, h);
  double a3 = AngleAtVertex(m, o, h);
  if (e1.y > o.y) a1 = 360.0 - a1;
  if (e2.y > o.y) a2 = 360.0 - a2;
  if (m.y > o.y) a3 = 360.0 - a3;
  return exactgeo::SweepOfDirections(a1, a2, a3);
}

bool CMeasureManager::GetMeasureBounds(int i, POINT* topLeft, POINT* bottomRight) const {
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size()) return false;
  const MEASUREBASE& rec = m_arrMeasure[std::size_t(i)];
  if (rec.m_arrPoint.empty() || rec.m_nPointCount > std::int32_t(rec.m_arrPoint.size())) return false;
  POINT tl = rec.m_arrPoint[0], br = rec.m_arrPoint[0];
  for (std::int32_t k = 0; k < rec.m_nPointCount; ++k) {
    const POINT& pt = rec.m_arrPoint[std::size_t(k)];
    tl.x = std::min(tl.x, pt.x);
    tl.y = std::min(tl.y, pt.y);
    br.x = std::max(br.x, pt.x);
    br.y = std::max(br.y, pt.y);
  }
  if (topLeft) *topLeft = POINT{SatAdd(tl.x, -10), SatAdd(tl.y, -10)};
  if (bottomRight) *bottomRight = POINT{SatAdd(br.x, 10), SatAdd(br.y, 10)};
  return true;
}

namespace exactgeo {

namespace {

using Wide = __int128;

// Degrees from radians.
double Deg(double rad) { return rad * 180.0 / kPi; }

// The angle between the vectors (ux, uy) and (wx, wy), from the exact integer cross and dot
// products: atan2 keeps full precision near 0 and 180 degrees, where an arccosine does not.
double VectorAngle(Wide ux, Wide uy, Wide wx, Wide wy) {
  if ((ux == 0 && uy == 0) || (wx == 0 && wy == 0)) return 0.0;
  const Wide cross = ux * wy - uy * wx;
  const Wide dot = ux * wx + uy * wy;
  return Deg(std::atan2(std::fabs(double(cross)), double(dot)));
}

// The direction of p seen from o, in degrees 0 <= a < 360, growing counter-clockwise on screen
// (y downward), 0 pointing right.
double Direction(POINT p, Point o) {
  double a = Deg(std::atan2(o.y - double(p.y), double(p.x) - o.x));
  if (a < 0) a += 360.0;
  if (a >= 360.0) a -= 360.0;
  return a;
}

}  // namespace

double Distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

double AngleAt(POINT a, POINT v, POINT b) {
  return VectorAngle(Wide(a.x) - v.x, Wide(a.y) - v.y, Wide(b.x) - v.x, Wide(b.y) - v.y);
}

double AngleBetween(POINT a0, POINT a1, POINT b0, POINT b1) {
  return VectorAngle(Wide(a1.x) - a0.x, Wide(a1.y) - a0.y, Wide(b1.x) - b0.x, Wide(b1.y) - b0.y);
}

double DistanceToLine(POINT p, POINT a, POINT b) {
  if (a == b) return Distance(ToPoint(p), ToPoint(a));
  const Wide dx = Wide(b.x) - a.x, dy = Wide(b.y) - a.y;
  const Wide cross = dx * (Wide(p.y) - a.y) - dy * (Wide(p.x) - a.x);  // exact: 66 bits at most
  return std::fabs(double(cross)) / std::hypot(double(dx), double(dy));
}

double DistanceToLine(Point p, POINT a, POINT b) {
  if (a == b) return Distance(p, ToPoint(a));
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  const double cross = dx * (p.y - a.y) - dy * (p.x - a.x);
  return std::fabs(cross) / std::hypot(dx, dy);
}

std::optional<Point> Circumcentre(POINT p1, POINT p2, POINT p3) {
  // Relative to p1, the centre u solves 2 u.b = |b|^2 and 2 u.c = |c|^2; numerators and the
  // determinant are exact integers (at most 100 bits), so only the final division rounds.
  const Wide bx = Wide(p2.x) - p1.x, by = Wide(p2.y) - p1.y;
  const Wide cx = Wide(p3.x) - p1.x, cy = Wide(p3.y) - p1.y;
  const Wide d = 2 * (bx * cy - by * cx);
  if (d == 0) return std::nullopt;
  const Wide b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
  const Wide ux = cy * b2 - by * c2;
  const Wide uy = bx * c2 - cx * b2;
  const long double dd = static_cast<long double>(d);
  return Point{double(static_cast<long double>(p1.x) + static_cast<long double>(ux) / dd),
               double(static_cast<long double>(p1.y) + static_cast<long double>(uy) / dd)};
}

double ArcSweep(POINT e1, POINT e2, POINT m, Point o) {
  return SweepOfDirections(Direction(e1, o), Direction(e2, o), Direction(m, o));
}

double SweepOfDirections(double a1, double a2, double a3) {
  if (a1 == a2 || a1 == a3 || a2 == a3) return 0.0;
  if (a1 < a3 && a3 < a2) return a2 - a1;
  if (a2 < a1 && a1 < a3) return 360.0 - (a1 - a2);
  if (a3 < a2 && a2 < a1) return 360.0 - (a1 - a2);
  if (a2 < a3 && a3 < a1) return a2 - a1;
  return a2 - a1 - 360.0;  // a1 < a2 < a3 or a3 < a1 < a2
}

double EllipsePerimeter(double a, double b) {
  a = std::fabs(a), b = std::fabs(b);
  if (a < b) std::swap(a, b);
  if (a == 0) return 0.0;
  // k^2 = 1 - (b/a)^2 formed as (a-b)(a+b)/a^2: no cancellation for a nearly round ellipse
  const double k = std::sqrt((a - b) * (a + b)) / a;
  return 4.0 * a * std::comp_ellint_2(std::min(k, 1.0));
}

}  // namespace exactgeo
