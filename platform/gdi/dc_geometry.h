#pragma once
// Geometry helpers of the painter device context: segment clipping and the visible parts of
// elliptic arcs, all in double precision so that far-away coordinates (a dotted line to an
// intersection point at 2e9, an arc of a nearly straight three-point circle) are cut down to
// the visible area before anything is rasterised.
#include <cstdint>

namespace gdi {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // closed: x0 <= x <= x1, y0 <= y <= y1
  bool Contains(double x, double y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
  bool Empty() const { return !(x1 >= x0 && y1 >= y0); }
  Box Grown(double mx, double my) const { return Box{x0 - mx, y0 - my, x1 + mx, y1 + my}; }
};

// Liang-Barsky: the part t0..t1 (0 <= t0 <= t1 <= 1) of the segment p0 + t (p1 - p0) inside
// the box; false when nothing of it is inside.
bool ClipSegment(double x0, double y0, double x1, double y1, const Box& box, double* t0, double* t1);

// A parameter interval of an arc.
struct Interval {
  double a = 0, b = 0;
};

// The point at parameter th of the ellipse arc (cx + rx cos th, cy - ry sin th): angles grow
// counter-clockwise on a screen whose y grows downward.
struct ArcGeom {
  double cx = 0, cy = 0, rx = 0, ry = 0;
  double X(double c) const { return cx + rx * c; }
  double Y(double s) const { return cy - ry * s; }
  bool BoundsInside(const Box& b) const {
    return cx - rx >= b.x0 && cx + rx <= b.x1 && cy - ry >= b.y0 && cy + ry <= b.y1;
  }
  bool BoundsMeet(const Box& b) const {
    return cx + rx >= b.x0 && cx - rx <= b.x1 && cy + ry >= b.y0 && cy - ry <= b.y1;
  }
};

// The sub-intervals of [lo, hi] (lo <= hi, hi - lo at most a few turns) whose arc points lie in
// the box, ascending; returns how many were written (at most cap).
int VisibleArcIntervals(const ArcGeom& g, double lo, double hi, const Box& box, Interval* out, int cap);

// Number of chords for a sweep of the given length on a curve of the given radius so that no
// chord strays more than tol from the curve (at least 1, bounded).
int ArcSteps(double radius, double sweep, double tol);

// Round half away from zero, saturated to int64 (NaN gives 0).
std::int64_t RoundToInt64(double v);

}  // namespace gdi
