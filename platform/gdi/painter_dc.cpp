#include "platform/gdi/painter_dc.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/gdi/font_map.h"

using gdi::Box;

namespace {

// Cosmetic dash patterns (on, off, on, ...), in pixels stepped along the line's major axis.
constexpr int kDash[] = {18, 6};
constexpr int kDot[] = {3, 3};
constexpr int kDashDot[] = {9, 6, 3, 6};
constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};

constexpr int kMargin = 2;             // pixels of slack kept around the clip
constexpr int kMaxPenWidth = 1 << 15;  // logical; wider pens are drawn this wide
constexpr int kMaxFontHeight = 4096;   // logical cell or character height
constexpr int kMaxDeviceFont = 16384;  // pixels
constexpr double kThinTol = 0.15;      // chord error of thin curves, logical pixels
constexpr double kWideTol = 0.25;      // chord error of wide curves and fills, device pixels
constexpr int kMaxIntervals = 24;
constexpr double kTieNudge = 1.0 / 32.0;  // device pixels
constexpr std::size_t kDirectQuads = 4;  // more runs than this are filled as one path

QString View(WStringView s) {
  return QString::fromRawData(reinterpret_cast<const QChar*>(s.data()), qsizetype(s.size()));
}

std::int32_t SatInt(std::int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : std::int32_t(v);
}

// Device pixel d is inside an edge range [a, b) when its centre d + 0.5 is.
int FirstPixel(double a) {
  const double v = std::ceil(a - 0.5);
  return v < -1073741824.0 ? -1073741824 : v > 1073741824.0 ? 1073741824 : int(v);
}

}  // namespace

struct CPainterDC::FontEntry {
  FontEntry(const CFont& k, const QFont& f) : key(k), font(f), fm(f), devFm(f) {
    ascent = fm.ascent();
    cell = fm.ascent() + fm.descent();
  }
  bool Matches(const CFont& f) const {
    return key.height == f.height && key.weight == f.weight && key.italic == f.italic && key.face == f.face;
  }
  CFont key;
  QFont font;  // logical size: extents
  QFontMetrics fm;
  int ascent = 0, cell = 0;
  int pixelSize = 0;  // of `font`
  // the font at the transform's scale, made when first drawn at that scale
  double devSx = 0.0, devSy = 0.0;
  QFont devFont;
  QFontMetrics devFm;
  int devAscent = 0, devCell = 0, devMaxWidth = 0;
};

bool CPainterDC::Figure::Inside(double x, double y) const {
  if (shape == Shape::Ellipse) {
    const gdi::ArcGeom& g = arc[0];
    if (g.rx <= 0.0 || g.ry <= 0.0) return false;
    const double u = (x - g.cx) / g.rx, v = (y - g.cy) / g.ry;
    return u * u + v * v <= 1.0;
  }
  if (x < l || x > r || y < t || y > b) return false;
  if (rx <= 0.0 || ry <= 0.0) return true;
  const double cx = x < l + rx ? l + rx : x > r - rx ? r - rx : x;
  const double cy = y < t + ry ? t + ry : y > b - ry ? b - ry : y;
  const double u = (x - cx) / rx, v = (y - cy) / ry;
  return u * u + v * v <= 1.0;
}

CPainterDC::CPainterDC(QPainter* painter) : painter_(painter), noPen_(Qt::NoPen), noBrush_(Qt::NoBrush) {
  if (painter_ && painter_->isActive()) {
    painter_->setRenderHint(QPainter::Antialiasing, false);
    painter_->setRenderHint(QPainter::TextAntialiasing, false);
  }
  bkQColor_ = ToQColor(bkColor_);
  bkBrush_ = QBrush(bkQColor_);
  textPen_ = QPen(ToQColor(textColor_));
  fillBrush_ = QBrush(ToQColor(brush_.color));
  fgQuads_.reserve(64);
  bgQuads_.reserve(64);
  pts_.reserve(256);
  drawn_.reserve(256);
  skip_.reserve(256);
  poly_.reserve(256);
  UpdatePen();
  SyncClip();
}

CPainterDC::~CPainterDC() = default;

bool CPainterDC::SetTransform(double scaleX, double scaleY, double offsetX, double offsetY) {
  if (!(std::isfinite(scaleX) && std::isfinite(scaleY) && scaleX > 0.0 && scaleY > 0.0 && std::isfinite(offsetX) &&
        std::isfinite(offsetY)))
    return false;
  sx_ = scaleX;
  sy_ = scaleY;
  ox_ = offsetX;
  oy_ = offsetY;
  painterFont_ = nullptr;
  UpdatePen();
  UpdateClipBoxes();
  return true;
}

void CPainterDC::SyncClip() {
  if (!painter_ || !painter_->isActive()) {
    devClip_ = QRectF();
  } else {
    QRectF r(painter_->window());
    if (!painter_->worldTransform().isIdentity()) r = painter_->worldTransform().inverted().mapRect(r);
    if (painter_->hasClipping()) r = r.intersected(painter_->clipBoundingRect());
    devClip_ = r;
  }
  painterFont_ = nullptr;
  UpdateClipBoxes();
}

void CPainterDC::UpdateClipBoxes() {
  if (devClip_.isEmpty()) {
    devBox_ = Box{0, 0, -1, -1};
    idxBox_ = Box{0, 0, -1, -1};
    return;
  }
  devBox_ = Box{devClip_.left(), devClip_.top(), devClip_.right(), devClip_.bottom()};
  idxBox_ = Box{std::floor((devBox_.x0 - ox_) / sx_) - kMargin, std::floor((devBox_.y0 - oy_) / sy_) - kMargin,
                std::ceil((devBox_.x1 - ox_) / sx_) - 1 + kMargin, std::ceil((devBox_.y1 - oy_) / sy_) - 1 + kMargin};
}

int CPainterDC::GetClipBox(RECT* rc) const {
  RECT box{};
  if (!devClip_.isEmpty()) {
    box.left = TruncToInt(std::floor((devClip_.left() - ox_) / sx_));
    box.top = TruncToInt(std::floor((devClip_.top() - oy_) / sy_));
    box.right = TruncToInt(std::ceil((devClip_.right() - ox_) / sx_));
    box.bottom = TruncToInt(std::ceil((devClip_.bottom() - oy_) / sy_));
  }
  if (rc) *rc = box;
  return box.right > box.left && box.bottom > box.top ? SIMPLEREGION : NULLREGION;
}

double CPainterDC::WidePenDev() const {
  const double w = std::min(std::abs(double(pen_.width)), double(kMaxPenWidth));
  return w * 0.5 * (sx_ + sy_);
}

void CPainterDC::UpdatePen() {
  if (prevPen_.valid && prevPen_.pen == pen_ && prevPen_.sx == sx_ && prevPen_.sy == sy_) {
    std::swap(pn_, prevPen_);
    return;
  }
  std::swap(pn_, prevPen_);  // keep the outgoing pen's objects, rebuild into the older ones
  PenObjects& p = pn_;
  p.pen = pen_;
  p.sx = sx_;
  p.sy = sy_;
  p.valid = true;
  p.color = ToQColor(pen_.color);
  p.brush = QBrush(p.color);
  p.dash = nullptr;
  p.dashCount = 0;
  p.dashPeriod = 0;
  if (pen_.style == PS_NULL) {
    p.kind = PenKind::Null;
    return;
  }
  if (pen_.width > 1) {
    // Wide pens are geometric: always solid, round at the ends and corners.
    p.kind = PenKind::Wide;
    const double w = WidePenDev();
    p.wide = QPen(p.brush, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.wideSmooth = QPen(p.brush, w, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    p.halfWidth = 0.5 * w;
    if (p.capHalf != p.halfWidth) {
      const int m = std::min(gdi::ArcSteps(p.halfWidth, gdi::kPi, 0.1), 512);
      p.capCos.resize(std::size_t(m) + 1);
      p.capSin.resize(std::size_t(m) + 1);
      for (int i = 0; i <= m; ++i) {
        p.capCos[std::size_t(i)] = std::cos(gdi::kPi * i / m);
        p.capSin[std::size_t(i)] = std::sin(gdi::kPi * i / m);
      }
      p.capHalf = p.halfWidth;
    }
    return;
  }
  p.kind = PenKind::Thin;
  auto use = [&](const int* d, int n) {
    p.dash = d;
    p.dashCount = n;
    for (int i = 0; i < n; ++i) p.dashPeriod += d[i];
  };
  switch (pen_.style) {
    case PS_DASH: use(kDash, 2); break;
    case PS_DOT: use(kDot, 2); break;
    case PS_DASHDOT: use(kDashDot, 4); break;
    case PS_DASHDOTDOT: use(kDashDotDot, 6); break;
    default: break;  // solid, inside-frame and styles we do not know draw solid
  }
}

CPen CPainterDC::SelectObject(const CPen& pen) {
  CPen old = pen_;
  if (!(pen == pen_)) {
    pen_ = pen;
    UpdatePen();
  }
  return old;
}

CBrush CPainterDC::SelectObject(const CBrush& brush) {
  CBrush old = brush_;
  if (!(brush == brush_)) {
    brush_ = brush;
    if (!brush_.null) fillBrush_ = QBrush(ToQColor(brush_.color));
  }
  return old;
}

CFont CPainterDC::SelectObject(const CFont& font) {
  CFont old = font_;
  if (!(font == font_)) {
    font_ = font;
    curFont_ = -1;
  }
  return old;
}

COLORREF CPainterDC::SetTextColor(COLORREF c) {
  COLORREF old = textColor_;
  if (c != textColor_) {
    textColor_ = c;
    textPen_ = QPen(ToQColor(c));
  }
  return old;
}

int CPainterDC::SetBkMode(int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  int old = bkMode_;
  bkMode_ = mode;
  return old;
}

COLORREF CPainterDC::SetBkColor(COLORREF c) {
  COLORREF old = bkColor_;
  if (c != bkColor_) {
    bkColor_ = c;
    bkQColor_ = ToQColor(c);
    bkBrush_ = QBrush(bkQColor_);
  }
  return old;
}

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

namespace {
// The smallest radius of curvature of an ellipse (0 for a degenerate one).
double MinCurvatureRadius(const gdi::ArcGeom& g) {
  const double lo = std::min(g.rx, g.ry), hi = std::max(g.rx, g.ry);
  return hi > 0.0 ? lo * lo / hi : 0.0;
}
}  // namespace

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

// ---- figures ----------------------------------------------------------------------------

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

// ---- text -------------------------------------------------------------------------------

CPainterDC::FontEntry& CPainterDC::CurrentFont() {
  if (curFont_ >= 0) return *fonts_[std::size_t(curFont_)];
  for (std::size_t i = 0; i < fonts_.size(); ++i) {
    if (fonts_[i]->Matches(font_)) {
      curFont_ = int(i);
      return *fonts_[i];
    }
  }
  // A positive height is the cell (ascent + descent), a negative one the character (em) height.
  const long long h = font_.height;
  int pixel;
  if (h < 0) {
    pixel = int(std::min<long long>(-h, kMaxFontHeight));
  } else {
    const int cell = h == 0 ? 16 : int(std::min<long long>(h, kMaxFontHeight));
    pixel = gdi::PixelSizeForCell(gdi::MakeFont(font_.face, cell, font_.weight, font_.italic), cell);
  }
  QFont f = gdi::MakeFont(font_.face, pixel, font_.weight, font_.italic);
  fonts_.push_back(std::make_unique<FontEntry>(font_, f));
  fonts_.back()->pixelSize = pixel;
  curFont_ = int(fonts_.size() - 1);
  return *fonts_.back();
}

const QFont& CPainterDC::DeviceFont(FontEntry& e) {
  if (e.devSx == sx_ && e.devSy == sy_) return e.devFont;
  QFont f = e.font;
  if (!(sx_ == 1.0 && sy_ == 1.0)) {
    int pixel;
    if (e.key.height < 0) {
      pixel = int(std::min(double(e.pixelSize) * sy_ + 0.5, double(kMaxDeviceFont)));
    } else {
      const int cell = std::max(1, int(std::min(double(e.cell) * sy_ + 0.5, double(kMaxDeviceFont))));
      pixel = gdi::PixelSizeForCell(f, cell);
    }
    f.setPixelSize(std::max(1, pixel));
    if (sx_ != sy_) f.setStretch(std::clamp(int(100.0 * sx_ / sy_ + 0.5), 1, 4000));
  }
  e.devFont = f;
  e.devFm = QFontMetrics(f);
  e.devAscent = e.devFm.ascent();
  e.devCell = e.devFm.ascent() + e.devFm.descent();
  e.devMaxWidth = std::max(1, e.devFm.maxWidth());
  e.devSx = sx_;
  e.devSy = sy_;
  return e.devFont;
}

bool CPainterDC::TextOut(int x, int y, WStringView text) {
  if (!painter_ || !painter_->isActive()) return false;
  if (text.empty() || devBox_.Empty()) return true;
  FontEntry& e = CurrentFont();
  const QFont& font = DeviceFont(e);
  const double dx = double(x) * sx_ + ox_, dy = double(y) * sy_ + oy_;  // top-left of the cell
  // Skip text that cannot reach the clip (which also keeps far coordinates away from QPainter).
  const double reach = double(text.size()) * double(e.devMaxWidth);
  if (dy >= devBox_.y1 || dy + e.devCell <= devBox_.y0 || dx >= devBox_.x1 || dx + reach <= devBox_.x0) return true;
  if (dx < devBox_.x0 - 1.0e7) return true;
  const QString s = View(text);
  if (bkMode_ == OPAQUE) {
    const double w = e.devFm.horizontalAdvance(s);
    FillEdgeRect(dx, dy, std::min(dx + w, devBox_.x1 + kMargin), dy + e.devCell, bkQColor_);
  }
  if (painterFont_ != &font) {
    painter_->setFont(font);
    painterFont_ = &font;
  }
  painter_->setPen(textPen_);
  painter_->drawText(QPointF(dx, dy + e.devAscent), s);
  return true;
}

SIZE CPainterDC::GetTextExtentPoint32(WStringView text) {
  FontEntry& e = CurrentFont();
  const int w = text.empty() ? 0 : e.fm.horizontalAdvance(View(text));
  return SIZE{w, e.cell};
}

// ---- image context ----------------------------------------------------------------------

namespace gdi {

ImagePainter::ImagePainter(int width, int height, COLORREF fill) : target(&own) {
  if (width > 0 && height > 0) {
    own = QImage(width, height, QImage::Format_RGB32);
    if (!own.isNull()) {
      own.fill(ToQColor(fill));
      painter.begin(&own);
    }
  }
}

ImagePainter::ImagePainter(QImage& image) : target(&image) {
  if (image.isNull()) return;
  const QImage::Format f = image.format();
  if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32_Premultiplied)
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  painter.begin(&image);
}

ImagePainter::~ImagePainter() {
  if (painter.isActive()) painter.end();
}

}  // namespace gdi

CImageDC::CImageDC(int width, int height, COLORREF fill) : gdi::ImagePainter(width, height, fill), CPainterDC(&painter) {}

CImageDC::CImageDC(QImage& image) : gdi::ImagePainter(image), CPainterDC(&painter) {}

CImageDC::~CImageDC() = default;

void CImageDC::End() {
  if (painter.isActive()) painter.end();
}
