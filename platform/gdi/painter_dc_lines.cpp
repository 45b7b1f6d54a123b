// Lines: thin runs stepped like the platform's, wide pens as filled quads, arc bands.
#include "platform/gdi/painter_dc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/gdi/painter_dc_internal.h"

using gdi::Box;
using namespace gdi::painter_detail;

POINT CPainterDC::MoveTo(int x, int y) {
  POINT old = pos_;
  pos_ = POINT{x, y};
  return old;
}

// ---- thin lines -------------------------------------------------------------------------

std::int64_t CPainterDC::ThinLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                                  std::int64_t phase, int bias) {
  const std::int64_t dx = x1 - x0, dy = y1 - y0;
  const std::int64_t n = std::max(std::llabs(dx), std::llabs(dy));
  if (n == 0) return 0;
  double t0 = 0.0, t1 = 0.0;
  if (!gdi::ClipSegment(double(x0), double(y0), double(x1), double(y1), idxBox_, &t0, &t1)) return n;
  // Pixel k (0 <= k < n) sits k steps along the major axis; the end pixel (k = n) is left out.
  const std::int64_t k0 = std::max<std::int64_t>(0, std::int64_t(std::floor(t0 * double(n))) - 1);
  const std::int64_t k1 = std::min<std::int64_t>(n, std::int64_t(std::ceil(t1 * double(n))) + 1);
  if (k0 >= k1) return n;
  if (!pn_.dash) {
    EmitRun(x0, y0, dx, dy, k0, k1, false, bias);
    return n;
  }
  // The pattern counts from the line's start, so the dashes stay put when the line is clipped.
  std::int64_t pos = (phase + k0) % pn_.dashPeriod;
  int i = 0;
  while (pos >= pn_.dash[i]) pos -= pn_.dash[i++];
  std::int64_t rem = pn_.dash[i] - pos;
  const bool opaque = bkMode_ == OPAQUE;
  for (std::int64_t k = k0; k < k1;) {
    const std::int64_t len = std::min(rem, k1 - k);
    if ((i & 1) == 0) {
      EmitRun(x0, y0, dx, dy, k, k + len, false, bias);
    } else if (opaque) {
      EmitRun(x0, y0, dx, dy, k, k + len, true, bias);
    }
    k += len;
    i = (i + 1) % pn_.dashCount;
    rem = pn_.dash[i];
  }
  return n;
}

// Pixels ka..kb-1 of the line as the band one pixel high (or wide) around the line through the
// pixel centres, bounded by the edges of the first and last pixel along the major axis: filled
// with pixel-centre sampling this gives exactly the pixels of the classic line algorithm.
void CPainterDC::EmitRun(std::int64_t x0, std::int64_t y0, std::int64_t dx, std::int64_t dy, std::int64_t ka,
                         std::int64_t kb, bool background, int bias) {
  Quad q;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  // a nudge well above the rasteriser's sub-pixel grid, well below anything visible
  const double nudge = bias * kTieNudge;
  auto dev = [&](double ex, double ey) {
    return QPointF(ex * sx_ + ox_ + (xMajor ? 0.0 : nudge), ey * sy_ + oy_ + (xMajor ? nudge : 0.0));
  };
  if (xMajor) {
    const bool fwd = dx > 0;
    const double xa = double(fwd ? x0 + ka : x0 - kb + 1);
    const double xb = double(fwd ? x0 + kb : x0 - ka + 1);
    if (dy == 0) {
      q.rect = true;
      q.p[0] = dev(xa, double(y0));
      q.p[2] = dev(xb, double(y0 + 1));
    } else {
      q.rect = false;
      const double m = double(dy) / double(dx);
      const double ya = double(y0) + 0.5 + m * (xa - 0.5 - double(x0));
      const double yb = double(y0) + 0.5 + m * (xb - 0.5 - double(x0));
      q.p[0] = dev(xa, ya - 0.5);
      q.p[1] = dev(xb, yb - 0.5);
      q.p[2] = dev(xb, yb + 0.5);
      q.p[3] = dev(xa, ya + 0.5);
    }
  } else {
    const bool fwd = dy > 0;
    const double ya = double(fwd ? y0 + ka : y0 - kb + 1);
    const double yb = double(fwd ? y0 + kb : y0 - ka + 1);
    if (dx == 0) {
      q.rect = true;
      q.p[0] = dev(double(x0), ya);
      q.p[2] = dev(double(x0 + 1), yb);
    } else {
      q.rect = false;
      const double m = double(dx) / double(dy);
      const double xa = double(x0) + 0.5 + m * (ya - 0.5 - double(y0));
      const double xb = double(x0) + 0.5 + m * (yb - 0.5 - double(y0));
      q.p[0] = dev(xa - 0.5, ya);
      q.p[1] = dev(xa + 0.5, ya);
      q.p[2] = dev(xb + 0.5, yb);
      q.p[3] = dev(xb - 0.5, yb);
    }
  }
  (background ? bgQuads_ : fgQuads_).push_back(q);
}

void CPainterDC::FillEdgeRect(double x0, double y0, double x1, double y1, const QColor& color) {
  const int ix0 = FirstPixel(x0), iy0 = FirstPixel(y0), ix1 = FirstPixel(x1), iy1 = FirstPixel(y1);
  if (ix1 > ix0 && iy1 > iy0) painter_->fillRect(QRect(ix0, iy0, ix1 - ix0, iy1 - iy0), color);
}

void CPainterDC::DrawQuads(std::vector<Quad>& quads, const QColor& color, const QBrush& brush) {
  if (quads.empty()) return;
  if (quads.size() <= kDirectQuads) {
    for (const Quad& q : quads) {
      if (q.rect) {
        FillEdgeRect(q.p[0].x(), q.p[0].y(), q.p[2].x(), q.p[2].y(), color);
      } else {
        painter_->setPen(noPen_);
        painter_->setBrush(brush);
        painter_->drawConvexPolygon(q.p, 4);
      }
    }
  } else {
    // All runs of one figure in one fill; they all wind the same way, so overlaps stay filled.
    path_.clear();
    path_.setFillRule(Qt::WindingFill);
    for (const Quad& q : quads) {
      if (q.rect) {
        path_.addRect(QRectF(q.p[0], q.p[2]));
      } else {
        path_.moveTo(q.p[0]);
        path_.lineTo(q.p[1]);
        path_.lineTo(q.p[2]);
        path_.lineTo(q.p[3]);
        path_.closeSubpath();
      }
    }
    painter_->setPen(noPen_);
    painter_->setBrush(brush);
    painter_->drawPath(path_);
  }
  quads.clear();
}

void CPainterDC::FlushThin() {
  DrawQuads(bgQuads_, bkQColor_, bkBrush_);
  DrawQuads(fgQuads_, pn_.color, pn_.brush);
}

// ---- wide lines -------------------------------------------------------------------------

void CPainterDC::WideDot(double cx, double cy) {
  const double rx = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth)) * 0.5 * sx_;
  const double ry = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth)) * 0.5 * sy_;
  if (!devBox_.Grown(rx + kMargin, ry + kMargin).Contains(cx, cy)) return;
  // A polygon rather than drawEllipse: the raster engine's own aliased ellipses are lopsided.
  if (pn_.capCos.size() < 2) return;
  poly_.clear();
  const std::size_t m = pn_.capCos.size() - 1;
  for (std::size_t i = 0; i < m; ++i) poly_.emplace_back(cx + rx * pn_.capCos[i], cy + ry * pn_.capSin[i]);
  for (std::size_t i = 0; i < m; ++i) poly_.emplace_back(cx - rx * pn_.capCos[i], cy - ry * pn_.capSin[i]);
  painter_->setPen(noPen_);
  painter_->setBrush(pn_.brush);
  painter_->drawConvexPolygon(poly_.data(), int(poly_.size()));
}

void CPainterDC::WideLine(POINT a, POINT b) {
  const double ax = DevX(a.x), ay = DevY(a.y);
  if (a == b) {
    WideDot(ax, ay);  // a zero-length wide line is a round dot
    return;
  }
  const double bx = DevX(b.x), by = DevY(b.y);
  const double hw = pn_.halfWidth + kMargin;
  double t0 = 0.0, t1 = 0.0;
  if (!gdi::ClipSegment(ax, ay, bx, by, devBox_.Grown(hw, hw), &t0, &t1)) return;
  WideSegment(QPointF(ax + t0 * (bx - ax), ay + t0 * (by - ay)), QPointF(ax + t1 * (bx - ax), ay + t1 * (by - ay)));
}

// A stadium: the two sides of the segment and a half circle round each end.
void CPainterDC::WideSegment(const QPointF& a, const QPointF& b) {
  const double dx = b.x() - a.x(), dy = b.y() - a.y(), len = std::hypot(dx, dy);
  if (!(len > 0.0)) {
    WideDot(a.x(), a.y());
    return;
  }
  const double h = pn_.halfWidth, ux = dx / len * h, uy = dy / len * h, nx = -uy, ny = ux;
  poly_.clear();
  const std::size_t m = pn_.capCos.size();
  for (std::size_t i = 0; i < m; ++i)
    poly_.emplace_back(b.x() + nx * pn_.capCos[i] + ux * pn_.capSin[i], b.y() + ny * pn_.capCos[i] + uy * pn_.capSin[i]);
  for (std::size_t i = 0; i < m; ++i)
    poly_.emplace_back(a.x() - nx * pn_.capCos[i] - ux * pn_.capSin[i], a.y() - ny * pn_.capCos[i] - uy * pn_.capSin[i]);
  painter_->setPen(noPen_);
  painter_->setBrush(pn_.brush);
  painter_->drawConvexPolygon(poly_.data(), int(poly_.size()));
}


// The band swept by the pen along the arc: the outer offset curve, a round end, the inner
// offset curve back and a round start, filled by winding so that overlaps of long sweeps stay
// filled. Needs the pen narrower than the arc's curvature radius.
void CPainterDC::WideArcBand(const gdi::ArcGeom& g, double from, double to) {
  const double h = pn_.halfWidth;
  const int steps = gdi::ArcSteps(std::max(g.rx, g.ry) + h, to - from, kWideTol);
  const double d = (to - from) / steps, cd = std::cos(d), sd = std::sin(d);
  const double dir = to >= from ? 1.0 : -1.0;
  poly_.clear();
  auto normal = [&](double c, double s, double* nx, double* ny) {
    const double x = g.ry * c, y = -g.rx * s, l = std::hypot(x, y);
    *nx = x / l;
    *ny = y / l;
  };
  double c = std::cos(from), s = std::sin(from);
  for (int k = 0; k <= steps; ++k) {  // outer side
    if (k == steps) c = std::cos(to), s = std::sin(to);
    double nx, ny;
    normal(c, s, &nx, &ny);
    poly_.emplace_back(g.X(c) + h * nx, g.Y(s) + h * ny);
    const double c2 = c * cd - s * sd;
    s = s * cd + c * sd;
    c = c2;
  }
  // A half circle from the outer side round the end to the inner one (sign 1), or from the
  // inner side round the start to the outer one (sign -1).
  auto cap = [&](double cc, double ss, double sign) {
    double nx, ny;
    normal(cc, ss, &nx, &ny);
    const double tx = dir * ny, ty = -dir * nx;  // the way of drawing
    const double px = g.X(cc), py = g.Y(ss);
    for (std::size_t i = 1; i + 1 < pn_.capCos.size(); ++i)
      poly_.emplace_back(px + h * sign * (nx * pn_.capCos[i] + tx * pn_.capSin[i]),
                          py + h * sign * (ny * pn_.capCos[i] + ty * pn_.capSin[i]));
  };
  const double ce = std::cos(to), se = std::sin(to), cs = std::cos(from), ss = std::sin(from);
  cap(ce, se, 1.0);
  c = ce, s = se;  // inner side, backwards
  const double cb = std::cos(-d), sb = std::sin(-d);
  for (int k = steps; k >= 0; --k) {
    if (k == 0) c = cs, s = ss;
    double nx, ny;
    normal(c, s, &nx, &ny);
    poly_.emplace_back(g.X(c) - h * nx, g.Y(s) - h * ny);
    const double c2 = c * cb - s * sb;
    s = s * cb + c * sb;
    c = c2;
  }
  cap(cs, ss, -1.0);
  painter_->setPen(noPen_);
  painter_->setBrush(pn_.brush);
  painter_->drawPolygon(poly_.data(), int(poly_.size()), Qt::WindingFill);
}

// A closed figure's outline as the ring between its outer and inner offset curves.
bool CPainterDC::WideRing(const Figure& f) {
  const double h = pn_.halfWidth;
  for (int i = 0; i < f.count; ++i)
    if (!(MinCurvatureRadius(f.arc[i]) > h)) return false;
  path_.clear();
  path_.setFillRule(Qt::OddEvenFill);
  for (double side : {1.0, -1.0}) {
    bool first = true;
    for (int i = 0; i < f.count; ++i) {
      const gdi::ArcGeom& g = f.arc[i];
      const double u = f.th0[i], w = f.th1[i];
      const int steps = gdi::ArcSteps(std::max(g.rx, g.ry) + h, w - u, kWideTol);
      const double d = (w - u) / steps, cd = std::cos(d), sd = std::sin(d);
      double c = std::cos(u), s = std::sin(u);
      for (int k = 0; k <= steps; ++k) {
        if (k == steps) c = std::cos(w), s = std::sin(w);
        const double x = g.ry * c, y = -g.rx * s, l = std::hypot(x, y);
        const QPointF p(g.X(c) + side * h * x / l, g.Y(s) + side * h * y / l);
        if (first) path_.moveTo(p);
        else path_.lineTo(p);
        first = false;
        const double c2 = c * cd - s * sd;
        s = s * cd + c * sd;
        c = c2;
      }
    }
    path_.closeSubpath();
  }
  painter_->setPen(noPen_);
  painter_->setBrush(pn_.brush);
  painter_->drawPath(path_);
  return true;
}

bool CPainterDC::LineTo(int x, int y) {
  const POINT from = pos_;
  pos_ = POINT{x, y};
  if (!painter_ || !painter_->isActive()) return false;
  if (devBox_.Empty()) return true;
  if (pn_.kind == PenKind::Thin) {
    ThinLine(from.x, from.y, x, y, 0);
    FlushThin();
  } else if (pn_.kind == PenKind::Wide) {
    WideLine(from, pos_);
  }
  return true;
}
