#include "platform/gdi/painter_dc.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/gdi/font_map.h"
#include "platform/gdi/painter_dc_internal.h"

using gdi::Box;
using namespace gdi::painter_detail;

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
