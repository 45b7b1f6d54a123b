#include "platform/gdi/dc_geometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace gdi {

bool ClipSegment(double x0, double y0, double x1, double y1, const Box& box, double* t0, double* t1) {
  double lo = 0.0, hi = 1.0;
  const double dx = x1 - x0, dy = y1 - y0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - box.x0, box.x1 - x0, y0 - box.y0, box.y1 - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;  // parallel to this edge and outside it
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > hi) return false;
      if (r > lo) lo = r;
    } else {
      if (r < lo) return false;
      if (r < hi) hi = r;
    }
  }
  if (!(lo <= hi)) return false;  // also catches NaN input
  *t0 = lo;
  *t1 = hi;
  return true;
}

namespace {
double Wrap(double a) {
  a = std::fmod(a, kTwoPi);
  if (a < 0.0) a += kTwoPi;
  return a;
}
}  // namespace

int VisibleArcIntervals(const ArcGeom& g, double lo, double hi, const Box& box, Interval* out, int cap) {
  if (cap <= 0 || !(hi >= lo) || box.Empty()) return 0;
  if (g.BoundsInside(box)) {
    out[0] = Interval{lo, hi};
    return 1;
  }
  if (!g.BoundsMeet(box)) return 0;
  // Parameters where the ellipse crosses the box's edge lines split the turn into arcs that
  // are wholly inside or wholly outside; an arc's midpoint tells which.
  double cross[8];
  int n = 0;
  auto addX = [&](double x) {
    if (g.rx <= 0.0) return;
    const double c = (x - g.cx) / g.rx;
    if (c > -1.0 && c < 1.0) {
      const double a = std::acos(c);
      cross[n++] = a;
      cross[n++] = kTwoPi - a;
    }
  };
  auto addY = [&](double y) {
    if (g.ry <= 0.0) return;
    const double s = (g.cy - y) / g.ry;
    if (s > -1.0 && s < 1.0) {
      const double a = std::asin(s);
      cross[n++] = Wrap(a);
      cross[n++] = Wrap(kPi - a);
    }
  };
  addX(box.x0);
  addX(box.x1);
  addY(box.y0);
  addY(box.y1);
  auto inside = [&](double th) { return box.Contains(g.X(std::cos(th)), g.Y(std::sin(th))); };
  Interval periodic[8];
  int np = 0;
  if (n == 0) {
    if (!inside(0.0)) return 0;
    out[0] = Interval{lo, hi};
    return 1;
  }
  for (int i = 1; i < n; ++i)  // insertion sort of at most eight values
    for (int j = i; j > 0 && cross[j] < cross[j - 1]; --j) std::swap(cross[j], cross[j - 1]);
  for (int i = 0; i < n; ++i) {
    const double a = cross[i];
    const double b = i + 1 < n ? cross[i + 1] : cross[0] + kTwoPi;
    if (b - a <= 0.0) continue;
    if (inside(0.5 * (a + b))) {
      if (np > 0 && periodic[np - 1].b == a) {
        periodic[np - 1].b = b;
      } else {
        periodic[np++] = Interval{a, b};
      }
    }
  }
  if (np == 0) return 0;
  int count = 0;
  const long long kFirst = static_cast<long long>(std::floor(lo / kTwoPi)) - 1;
  const long long kLast = static_cast<long long>(std::floor(hi / kTwoPi)) + 1;
  for (long long k = kFirst; k <= kLast; ++k) {
    for (int i = 0; i < np; ++i) {
      const double a = std::max(lo, periodic[i].a + double(k) * kTwoPi);
      const double b = std::min(hi, periodic[i].b + double(k) * kTwoPi);
      if (b <= a && !(a == b && lo == hi)) continue;
      if (count > 0 && out[count - 1].b >= a) {
        out[count - 1].b = std::max(out[count - 1].b, b);
      } else if (count < cap) {
        out[count++] = Interval{a, b};
      }
    }
  }
  return count;
}

int ArcSteps(double radius, double sweep, double tol) {
  sweep = std::fabs(sweep);
  if (!(sweep > 0.0)) return 1;
  double step = kPi / 2.0;
  if (radius > tol) step = std::min(step, 2.0 * std::acos(1.0 - tol / radius));
  const double n = std::ceil(sweep / step);
  if (!(n < 65536.0)) return 65536;
  return std::max(1, int(n));
}

std::int64_t RoundToInt64(double v) {
  if (v != v) return 0;
  if (v >= 9.0e18) return INT64_C(9000000000000000000);
  if (v <= -9.0e18) return -INT64_C(9000000000000000000);
  return std::int64_t(v >= 0.0 ? v + 0.5 : v - 0.5);
}

}  // namespace gdi
