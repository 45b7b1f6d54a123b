// The frame display in two layers, for the view: the frame scaled to the window (only the part
// that can be seen: a window at 10 x zoom of a 20-megapixel frame is tens of thousands of pixels
// wide), and the measurement overlay, which the view keeps while nothing of it changes.
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

#include "camera/AreaScale.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/gdi/painter_dc.h"

void CCameraProcess::DrawImageRegion(QPainter& painter, int destWidth, int destHeight, const QRect& visible,
                                     bool withOverlay) {
  QRect vis;
  QPoint at;
  int w = 0, h = 0;
  {
    // Held only while the frame's pixels are read: the camera thread swaps buffers under it.
    std::lock_guard lock(frameLock_);
    if (!frameValid_ || destWidth <= 0 || destHeight <= 0 || visible.isEmpty()) return;
    w = format_.biWidth;
    h = std::abs(format_.biHeight);
    if (w <= 0 || h <= 0) return;
    const double fx = double(destWidth) / w, fy = double(destHeight) / h;
    vis = visible & QRect(0, 0, destWidth, destHeight);
    if (vis.isEmpty()) return;
    // The whole source pixels under the visible part (top-down image rows), and where they land.
    const int sx0 = std::clamp(int(std::floor(vis.left() / fx)), 0, w - 1);
    const int sx1 = std::clamp(int(std::ceil((vis.right() + 1) / fx)), sx0 + 1, w);
    const int sy0 = std::clamp(int(std::floor(vis.top() / fy)), 0, h - 1);
    const int sy1 = std::clamp(int(std::ceil((vis.bottom() + 1) / fy)), sy0 + 1, h);
    const bool whole = sx0 == 0 && sy0 == 0 && sx1 == w && sy1 == h;
    const int dx0 = whole ? 0 : int(std::lround(sx0 * fx)), dx1 = whole ? destWidth : int(std::lround(sx1 * fx));
    const int dy0 = whole ? 0 : int(std::lround(sy0 * fy)), dy1 = whole ? destHeight : int(std::lround(sy1 * fy));
    const int cw = sx1 - sx0, ch = sy1 - sy0;
    if (dx1 <= dx0 || dy1 <= dy0) return;

    // The part of the frame under the visible area, read in place: bottom-up rows of the whole
    // frame's stride, starting at the lowest image row of the part.
    const std::size_t stride = std::size_t(w) * 3;
    const std::uint8_t* src = front_.get() + std::size_t(h - sy1) * stride + std::size_t(sx0) * 3;
    if (regionSurface_.size() != QSize(dx1 - dx0, dy1 - dy0))
      regionSurface_ = QImage(dx1 - dx0, dy1 - dy0, QImage::Format_RGB32);
    if (regionSurface_.isNull()) return;
    if (cw == regionSurface_.width() && ch == regionSurface_.height()) {
      for (int y = 0; y < ch; ++y) {
        const std::uint8_t* s = src + std::size_t(ch - 1 - y) * stride;
        QRgb* d = reinterpret_cast<QRgb*>(regionSurface_.scanLine(y));
        for (int x = 0; x < cw; ++x) d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
      }
    } else {
      regionScaler_.Scale(src, cw, ch, regionSurface_, stride);
    }
    at = QPoint(dx0, dy0);
  }
  painter.save();
  painter.setClipRect(vis);
  painter.drawImage(at, regionSurface_);
  painter.restore();
  // The overlay reads the measurements and the image size, not the frame's pixels.
  if (withOverlay) DrawOverlayLocked(painter, destWidth, destHeight, w, h);
}

void CCameraProcess::DrawOverlay(QPainter& painter, int destWidth, int destHeight, int part, int begin, int end) {
  std::lock_guard lock(frameLock_);
  if (!frameValid_ || destWidth <= 0 || destHeight <= 0) return;
  const int w = format_.biWidth, h = std::abs(format_.biHeight);
  if (w > 0 && h > 0) DrawOverlayLocked(painter, destWidth, destHeight, w, h, part, begin, end);
}

void CCameraProcess::DrawOverlayLocked(QPainter& painter, int destWidth, int destHeight, int w, int h, int part,
                                       int begin, int end) {
  // The overlay in image pixels, scaled with the frame: it looks as if drawn into the image.
  CPainterDC dc(&painter);
  dc.SetTransform(double(destWidth) / w, double(destHeight) / h, 0.0, 0.0);
  if (view_) {
    if (CMeasureManager* mm = view_->MeasureManager()) {
      if (part == 0)
        mm->DrawAll(dc, 1);
      else if (part == 1)
        mm->DrawMeasurements(dc, begin, end);
      else
        mm->DrawInteraction(dc, 1);
    }
  }
  if (roiEnabled_ && part != 1) {
    const CPen old = dc.SelectObject(CPen(PS_DOT, 1, RGB(255, 0, 0)));
    dc.MoveTo(roi_.left, roi_.top);
    dc.LineTo(roi_.left, roi_.bottom);
    dc.LineTo(roi_.right, roi_.bottom);
    dc.LineTo(roi_.right, roi_.top);
    dc.LineTo(roi_.left, roi_.top);
    dc.SelectObject(old);
  }
}
