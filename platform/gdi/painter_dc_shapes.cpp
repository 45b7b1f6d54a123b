// Figures: rectangles, ellipses, rounded rectangles and arcs, stroked and filled.
#include "platform/gdi/painter_dc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/gdi/painter_dc_internal.h"

using gdi::Box;
using namespace gdi::painter_detail;

bool CPainterDC::BuildFigure(const Figure& f, const Box& box, double tol, bool rounded, bool* complete,
                             const POINT* lead) {
  pts_.clear();
  drawn_.clear();
  skip_.clear();
  *complete = true;
  auto away = [](double c, double v) {  // to the nearest pixel, ties away from the centre
    const double r = v >= c ? std::floor(v + 0.5) : std::ceil(v - 0.5);
    return r > 9.0e18 ? 9.0e18 : r < -9.0e18 ? -9.0e18 : r;
  };
  auto push = [&](double x, double y, bool drawnBefore, double skipped) {
    if (rounded) {
      x = away(f.ccx, x);
      y = away(f.ccy, y);
    }
    if (!pts_.empty()) {
      if (drawnBefore && pts_.back().x() == x && pts_.back().y() == y) return;
      drawn_.push_back(drawnBefore ? 1 : 0);
      skip_.push_back(skipped);
    }
    pts_.emplace_back(x, y);
  };
  if (!lead) {
    // the figure's bounds: its arcs' and so the straight lines' between them
    Box bb{1e300, 1e300, -1e300, -1e300};
    for (int i = 0; i < f.count; ++i) {
      const gdi::ArcGeom& g = f.arc[i];
      bb = Box{std::min(bb.x0, g.cx - g.rx), std::min(bb.y0, g.cy - g.ry), std::max(bb.x1, g.cx + g.rx),
               std::max(bb.y1, g.cy + g.ry)};
    }
    if (bb.x1 < box.x0 || bb.x0 > box.x1 || bb.y1 < box.y0 || bb.y0 > box.y1) return false;
  } else {
    push(lead->x, lead->y, true, 0.0);
  }
  for (int i = 0; i < f.count; ++i) {
    const gdi::ArcGeom& g = f.arc[i];
    const double a0 = f.th0[i], a1 = f.th1[i];
    const bool rev = a1 < a0;
    const double radius = std::max(g.rx, g.ry);
    if (rounded && f.closed && f.count == 1 && a0 == 0.0 && a1 == gdi::kTwoPi && g.BoundsInside(box)) {
      // A whole ellipse in pixels: points mirrored about both axes (none on an axis), so
      // that the outline is as symmetric as its box.
      const int steps = (gdi::ArcSteps(radius, gdi::kTwoPi, tol) + 3) / 4 * 4;
      const double d = gdi::kTwoPi / steps;
      for (int k = 0; k < steps; ++k) {
        const double th = d * (0.5 + k);
        push(g.X(std::cos(th)), g.Y(std::sin(th)), true, 0.0);
      }
      continue;
    }
    gdi::Interval iv[kMaxIntervals];
    int m = 0;
    if (g.BoundsInside(box)) {
      iv[0] = gdi::Interval{std::min(a0, a1), std::max(a0, a1)};
      m = 1;
    } else {
      *complete = false;
      m = gdi::VisibleArcIntervals(g, std::min(a0, a1), std::max(a0, a1), box, iv, kMaxIntervals);
    }
    push(g.X(std::cos(a0)), g.Y(std::sin(a0)), true, 0.0);
    double cur = a0;
    for (int j = 0; j < m; ++j) {
      const gdi::Interval& v = iv[rev ? m - 1 - j : j];
      const double u = rev ? v.b : v.a, w = rev ? v.a : v.b;
      if (u != cur) push(g.X(std::cos(u)), g.Y(std::sin(u)), false, std::fabs(u - cur) * radius);
      // chords by rotating the unit vector step by step
      const int steps = gdi::ArcSteps(radius, w - u, tol);
      const double d = (w - u) / steps, cd = std::cos(d), sd = std::sin(d);
      double c = std::cos(u), s = std::sin(u);
      for (int k = 1; k < steps; ++k) {
        const double c2 = c * cd - s * sd;
        s = s * cd + c * sd;
        c = c2;
        push(g.X(c), g.Y(s), true, 0.0);
      }
      push(g.X(std::cos(w)), g.Y(std::sin(w)), true, 0.0);
      cur = w;
    }
    if (cur != a1) push(g.X(std::cos(a1)), g.Y(std::sin(a1)), false, std::fabs(a1 - cur) * radius);
  }
  if (f.closed && !pts_.empty()) {
    const QPointF first = pts_.front();
    push(first.x(), first.y(), true, 0.0);
  }
  return true;
}

void CPainterDC::StrokeThinFigure(const Figure& f, std::int64_t phase) {
  for (std::size_t i = 0; i + 1 < pts_.size(); ++i) {
    std::int64_t n;
    if (drawn_[i]) {
      // Pixels half way between two go to the outer one, alike on opposite sides.
      const QPointF& a = pts_[i];
      const QPointF& b = pts_[i + 1];
      const bool xMajor = std::fabs(b.x() - a.x()) >= std::fabs(b.y() - a.y());
      const double side = xMajor ? a.y() + b.y() - 2.0 * f.ccy : a.x() + b.x() - 2.0 * f.ccx;
      const int bias = side > 0.0 ? 1 : side < 0.0 ? -1 : 0;
      n = ThinLine(std::int64_t(a.x()), std::int64_t(a.y()), std::int64_t(b.x()), std::int64_t(b.y()), phase, bias);
    } else {
      n = skip_[i] < 1e15 ? std::int64_t(skip_[i]) : 0;
    }
    if (pn_.dashPeriod > 0) phase = (phase + n % pn_.dashPeriod) % pn_.dashPeriod;
  }
  FlushThin();
}

// The visible stretches of the flattened figure as polylines (QPainter's stroker).
void CPainterDC::StrokeWideFigure(const Box& box) {
  painter_->setPen(pn_.wideSmooth);
  painter_->setBrush(noBrush_);
  poly_.clear();
  auto flush = [&] {
    if (poly_.size() >= 2) painter_->drawPolyline(poly_.data(), int(poly_.size()));
    poly_.clear();
  };
  for (std::size_t i = 0; i + 1 < pts_.size(); ++i) {
    double t0 = 0.0, t1 = 0.0;
    const QPointF a = pts_[i], b = pts_[i + 1];
    if (!drawn_[i] || !gdi::ClipSegment(a.x(), a.y(), b.x(), b.y(), box, &t0, &t1)) {
      flush();
      continue;
    }
    if (t0 > 0.0) flush();
    if (poly_.empty()) poly_.push_back(a + t0 * (b - a));
    poly_.push_back(a + t1 * (b - a));
    if (t1 < 1.0) flush();
  }
  flush();
}

void CPainterDC::FillFigure(const Figure& f, bool complete, const Box& box, bool indexSpace) {
  poly_.clear();
  auto toDev = [&](const QPointF& p) { return indexSpace ? QPointF(DevX(p.x()), DevY(p.y())) : p; };
  if (complete) {
    for (std::size_t i = 0; i + 1 < pts_.size(); ++i) poly_.push_back(toDev(pts_[i]));
  } else {
    // The visible part of a convex figure: the boundary points inside the box and the box
    // corners inside the figure, in angular order around their centroid.
    sorted_.clear();
    for (std::size_t i = 0; i + 1 < pts_.size(); ++i) {
      double t0 = 0.0, t1 = 0.0;
      const QPointF a = pts_[i], b = pts_[i + 1];
      if (!drawn_[i] || !gdi::ClipSegment(a.x(), a.y(), b.x(), b.y(), box, &t0, &t1)) continue;
      sorted_.emplace_back(0.0, a + t0 * (b - a));
      sorted_.emplace_back(0.0, a + t1 * (b - a));
    }
    const QPointF corners[4] = {{box.x0, box.y0}, {box.x1, box.y0}, {box.x1, box.y1}, {box.x0, box.y1}};
    for (const QPointF& c : corners)
      if (f.Inside(c.x(), c.y())) sorted_.emplace_back(0.0, c);
    if (sorted_.size() < 3) return;
    double mx = 0.0, my = 0.0;
    for (const auto& e : sorted_) mx += e.second.x(), my += e.second.y();
    mx /= double(sorted_.size());
    my /= double(sorted_.size());
    for (auto& e : sorted_) e.first = std::atan2(e.second.y() - my, e.second.x() - mx);
    std::sort(sorted_.begin(), sorted_.end(), [](const auto& p, const auto& q) { return p.first < q.first; });
    for (const auto& e : sorted_) poly_.push_back(toDev(e.second));
  }
  if (poly_.size() < 3) return;
  painter_->setPen(noPen_);
  painter_->setBrush(fillBrush_);
  painter_->drawConvexPolygon(poly_.data(), int(poly_.size()));
}

// `line`: the figure through the outline's pixel centres (index space); `frame`: the same for a
// wide inside-frame pen; `fillOnly`: the smaller figure filled when there is no pen.
void CPainterDC::DrawFigure(const Figure& line, const Figure& frame, const Figure& fillOnly) {
  const bool fill = !brush_.null;
  auto toDevice = [&](const Figure& f) {
    Figure d = f;
    for (int i = 0; i < f.count; ++i) {
      d.arc[i] = gdi::ArcGeom{DevX(f.arc[i].cx), DevY(f.arc[i].cy), f.arc[i].rx * sx_, f.arc[i].ry * sy_};
    }
    d.l = DevX(f.l), d.r = DevX(f.r), d.t = DevY(f.t), d.b = DevY(f.b);
    d.rx = f.rx * sx_, d.ry = f.ry * sy_;
    return d;
  };
  bool complete = true;
  if (pn_.kind == PenKind::Thin) {
    if (!BuildFigure(line, idxBox_, kThinTol, true, &complete)) return;
    if (fill) FillFigure(line, complete, idxBox_, true);
    StrokeThinFigure(line, 0);
  } else if (pn_.kind == PenKind::Wide) {
    const Figure d = toDevice(pen_.style == PS_INSIDEFRAME ? frame : line);
    const double hw = pn_.halfWidth + kMargin;
    const Box box = devBox_.Grown(hw, hw);
    if (!BuildFigure(d, box, kWideTol, false, &complete)) return;
    if (complete && pts_.size() >= 3) {
      if (fill) FillFigure(d, true, box, false);
      if (WideRing(d)) return;
      painter_->setPen(pn_.wideSmooth);
      painter_->setBrush(noBrush_);
      painter_->drawPolygon(pts_.data(), int(pts_.size() - 1));
      return;
    }
    if (complete) {  // a one-pixel figure
      if (!pts_.empty()) WideDot(pts_[0].x(), pts_[0].y());
      return;
    }
    if (fill) FillFigure(d, complete, box, false);
    StrokeWideFigure(box);
  } else if (fill) {
    const Figure d = toDevice(fillOnly);
    const Box box = devBox_.Grown(kMargin, kMargin);
    if (!BuildFigure(d, box, kWideTol, false, &complete)) return;
    FillFigure(d, complete, box, false);
  }
}

namespace {
void Normalize(std::int64_t& a, std::int64_t& b) {
  if (a > b) std::swap(a, b);
}
}  // namespace

bool CPainterDC::Rectangle(int left, int top, int right, int bottom) {
  if (!painter_ || !painter_->isActive()) return false;
  std::int64_t l = left, t = top, r = right, b = bottom;
  Normalize(l, r);
  Normalize(t, b);
  if (r == l || b == t || devBox_.Empty()) return true;
  // Far edges are pulled in to just outside the visible pixels: what shows does not change.
  const Box& ib = idxBox_;
  auto cx = [&](std::int64_t v) { return std::clamp(double(v), ib.x0 - 1.0, ib.x1 + 2.0); };
  auto cy = [&](std::int64_t v) { return std::clamp(double(v), ib.y0 - 1.0, ib.y1 + 2.0); };
  if (double(r) < ib.x0 || double(l) > ib.x1 + 1.0 || double(b) < ib.y0 || double(t) > ib.y1 + 1.0) return true;
  auto ex = [&](double v) { return v * sx_ + ox_; };
  auto ey = [&](double v) { return v * sy_ + oy_; };
  // the inside: right and bottom edge excluded, one pixel less than the outline's box
  if (!brush_.null) FillEdgeRect(ex(cx(l)), ey(cy(t)), ex(cx(r - 1)), ey(cy(b - 1)), fillBrush_.color());
  if (pn_.kind == PenKind::Thin) {
    if (!pn_.dash) {
      FillEdgeRect(ex(cx(l)), ey(cy(t)), ex(cx(r)), ey(cy(t + 1)), pn_.color);
      if (b - t > 1) FillEdgeRect(ex(cx(l)), ey(cy(b - 1)), ex(cx(r)), ey(cy(b)), pn_.color);
      if (b - t > 2) {
        FillEdgeRect(ex(cx(l)), ey(cy(t + 1)), ex(cx(l + 1)), ey(cy(b - 1)), pn_.color);
        if (r - l > 1) FillEdgeRect(ex(cx(r - 1)), ey(cy(t + 1)), ex(cx(r)), ey(cy(b - 1)), pn_.color);
      }
    } else {
      std::int64_t phase = 0;
      auto side = [&](std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
        phase = (phase + ThinLine(x0, y0, x1, y1, phase) % pn_.dashPeriod) % pn_.dashPeriod;
      };
      side(l, t, r - 1, t);
      side(r - 1, t, r - 1, b - 1);
      side(r - 1, b - 1, l, b - 1);
      side(l, b - 1, l, t);
      FlushThin();
    }
  } else if (pn_.kind == PenKind::Wide) {
    double L = double(l), T = double(t), R = double(r - 1), B = double(b - 1);  // pixel centres
    if (pen_.style == PS_INSIDEFRAME) {
      const double hw = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth)) * 0.5;
      L = double(l) + hw - 0.5, R = double(r) - hw - 0.5, T = double(t) + hw - 0.5, B = double(b) - hw - 0.5;
      if (L > R) L = R = 0.5 * (L + R);
      if (T > B) T = B = 0.5 * (T + B);
    }
    const double margin = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth)) + kMargin + 1.0;
    auto kx = [&](double v) { return std::clamp(v, ib.x0 - margin, ib.x1 + margin); };
    auto ky = [&](double v) { return std::clamp(v, ib.y0 - margin, ib.y1 + margin); };
    const QPointF p[4] = {{DevX(kx(L)), DevY(ky(T))},
                          {DevX(kx(R)), DevY(ky(T))},
                          {DevX(kx(R)), DevY(ky(B))},
                          {DevX(kx(L)), DevY(ky(B))}};
    painter_->setPen(pn_.wide);
    painter_->setBrush(noBrush_);
    painter_->drawPolygon(p, 4);
  }
  return true;
}

bool CPainterDC::Ellipse(int left, int top, int right, int bottom) {
  if (!painter_ || !painter_->isActive()) return false;
  std::int64_t l = left, t = top, r = right, b = bottom;
  Normalize(l, r);
  Normalize(t, b);
  if (r == l || b == t || devBox_.Empty()) return true;
  auto make = [](double cx, double cy, double rx, double ry) {
    Figure f;
    f.count = 1;
    f.arc[0] = gdi::ArcGeom{cx, cy, std::max(0.0, rx), std::max(0.0, ry)};
    f.th0[0] = 0.0;
    f.th1[0] = gdi::kTwoPi;
    f.shape = Figure::Shape::Ellipse;
    f.ccx = cx, f.ccy = cy;
    return f;
  };
  // The outline runs through the centres of the box's outer pixels.
  const double cx = 0.5 * double(l + r - 1), cy = 0.5 * double(t + b - 1);
  const Figure line = make(cx, cy, 0.5 * double(r - 1 - l), 0.5 * double(b - 1 - t));
  const double w = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth));
  const Figure frame = make(cx, cy, 0.5 * (double(r - l) - w), 0.5 * (double(b - t) - w));
  const Figure fillOnly = make(0.5 * double(l + r - 2), 0.5 * double(t + b - 2), 0.5 * double(r - 2 - l),
                               0.5 * double(b - 2 - t));
  DrawFigure(line, frame, fillOnly);
  return true;
}

bool CPainterDC::RoundRect(int left, int top, int right, int bottom, int width, int height) {
  if (!painter_ || !painter_->isActive()) return false;
  std::int64_t l = left, t = top, r = right, b = bottom;
  Normalize(l, r);
  Normalize(t, b);
  if (r == l || b == t || devBox_.Empty()) return true;
  const double cw = std::fabs(double(width)) * 0.5, ch = std::fabs(double(height)) * 0.5;
  auto make = [&](double L, double T, double R, double B) {
    Figure f;
    if (L > R) L = R = 0.5 * (L + R);
    if (T > B) T = B = 0.5 * (T + B);
    const double rx = std::min(cw, 0.5 * (R - L)), ry = std::min(ch, 0.5 * (B - T));
    f.count = 4;
    f.shape = Figure::Shape::RoundRect;
    f.l = L, f.t = T, f.r = R, f.b = B, f.rx = rx, f.ry = ry;
    f.ccx = 0.5 * (L + R), f.ccy = 0.5 * (T + B);
    const double q = gdi::kPi / 2.0;
    const gdi::ArcGeom corners[4] = {{R - rx, T + ry, rx, ry}, {L + rx, T + ry, rx, ry},
                                     {L + rx, B - ry, rx, ry}, {R - rx, B - ry, rx, ry}};
    for (int i = 0; i < 4; ++i) {
      f.arc[i] = corners[i];
      f.th0[i] = q * i;
      f.th1[i] = q * (i + 1);
    }
    return f;
  };
  const Figure line = make(double(l), double(t), double(r - 1), double(b - 1));
  const double hw = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth)) * 0.5;
  const Figure frame = make(double(l) + hw - 0.5, double(t) + hw - 0.5, double(r) - hw - 0.5, double(b) - hw - 0.5);
  const Figure fillOnly = make(double(l), double(t), double(r - 2), double(b - 2));
  DrawFigure(line, frame, fillOnly);
  return true;
}

bool CPainterDC::AngleArc(int x, int y, std::uint32_t r, float start, float sweep) {
  if (!std::isfinite(start) || !std::isfinite(sweep)) return false;
  const double kDeg = gdi::kPi / 180.0;
  const double radius = double(r);
  const double a0 = double(start) * kDeg;
  const double e = (double(start) + double(sweep)) * kDeg;
  // the offset from the centre rounded half away from zero, as the recording context does
  auto at = [&](double a) {
    return POINT{SatInt(std::int64_t(x) + gdi::RoundToInt64(radius * std::cos(a))),
                 SatInt(std::int64_t(y) + gdi::RoundToInt64(-radius * std::sin(a)))};
  };
  const POINT from = pos_;
  const POINT first = at(a0);
  pos_ = at(e);
  if (!painter_ || !painter_->isActive()) return false;
  if (devBox_.Empty() || pn_.kind == PenKind::Null) return true;
  // More than a turn draws the full circle and then the rest; the end stays where it was.
  double sw = double(sweep) * kDeg;
  if (std::fabs(sw) > gdi::kTwoPi) sw = std::copysign(gdi::kTwoPi + std::fmod(std::fabs(sw), gdi::kTwoPi), sw);
  Figure f;
  f.count = 1;
  f.closed = false;
  f.arc[0] = gdi::ArcGeom{double(x), double(y), radius, radius};
  f.th0[0] = a0;
  f.th1[0] = a0 + sw;
  f.ccx = x, f.ccy = y;
  bool complete = true;
  if (pn_.kind == PenKind::Thin) {
    BuildFigure(f, idxBox_, kThinTol, true, &complete, &from);
    StrokeThinFigure(f, 0);
  } else {
    if (!(from == first)) WideLine(from, first);
    Figure d = f;
    const gdi::ArcGeom& g = d.arc[0] = gdi::ArcGeom{DevX(x), DevY(y), radius * sx_, radius * sy_};
    const double hw = pn_.halfWidth + kMargin;
    const Box box = devBox_.Grown(hw, hw);
    if (MinCurvatureRadius(g) > pn_.halfWidth) {
      const double lo = std::min(f.th0[0], f.th1[0]), hi = std::max(f.th0[0], f.th1[0]);
      gdi::Interval iv[kMaxIntervals];
      const int m = gdi::VisibleArcIntervals(g, lo, hi, box, iv, kMaxIntervals);
      for (int i = 0; i < m; ++i) WideArcBand(g, iv[i].a, iv[i].b);
    } else {  // a pen as wide as the arc is round: the stroker copes with the inner side
      BuildFigure(d, box, kWideTol, false, &complete);
      StrokeWideFigure(box);
    }
  }
  return true;
}

