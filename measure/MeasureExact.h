#pragma once
// The geometry the measurement values are computed from: double precision straight from the
// clicked points. The points a record stores (centres, feet, intersections in whole pixels) are
// for drawing and for layer files; a value never goes through them while the clicked points
// define the shape.
#include <optional>

#include "platform/types.h"

namespace exactgeo {

struct Point {
  double x = 0, y = 0;
};

inline Point ToPoint(POINT p) { return Point{double(p.x), double(p.y)}; }
// The middle of a-b, exact (a half pixel where the sum is odd).
inline Point Midpoint(POINT a, POINT b) { return Point{(double(a.x) + b.x) / 2, (double(a.y) + b.y) / 2}; }

double Distance(Point a, Point b);
// The angle a-v-b in degrees, 0..180; 0 when an arm has no length.
double AngleAt(POINT a, POINT v, POINT b);
// The angle between the directions a0->a1 and b0->b1 in degrees, 0..180; 0 when either has no
// length.
double AngleBetween(POINT a0, POINT a1, POINT b0, POINT b1);
// The distance from p to the infinite line through a and b; from p to a when a equals b.
double DistanceToLine(POINT p, POINT a, POINT b);
double DistanceToLine(Point p, POINT a, POINT b);
// The centre of the circle through three points; none when they lie on one line (two equal
// points included).
std::optional<Point> Circumcentre(POINT p1, POINT p2, POINT p3);
// The signed sweep in degrees from e1 to e2 through m around the centre o: positive runs
// counter-clockwise on screen (y downward), negative clockwise; 0 when two of the three
// directions are the same.
double ArcSweep(POINT e1, POINT e2, POINT m, Point o);
// The same from the three directions in degrees (0..360) of e1, e2 and m around the centre.
double SweepOfDirections(double a1, double a2, double a3);
// The perimeter of the ellipse with semi-axes a and b (>= 0): 4 x the longer axis x the
// complete elliptic integral of the second kind at the eccentricity.
double EllipsePerimeter(double a, double b);

}  // namespace exactgeo
