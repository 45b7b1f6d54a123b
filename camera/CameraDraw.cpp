// Display of the frame: the view's picture with the measurement overlay, the layer panel's
// overview thumbnail and histogram.
#include <algorithm>
#include <array>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/gdi/painter_dc.h"

using namespace camera_internal;

namespace camera_internal {

void BgrBottomUpToRgb32(const std::uint8_t* src, int width, int height, QImage& dst) {
  const std::size_t stride = std::size_t(width) * 3;
  std::uint8_t* out = dst.bits();  // detaches once, before the rows are shared out
  const std::size_t outStride = std::size_t(dst.bytesPerLine());
  auto convert = [&](const cv::Range& rows) {
    for (int y = rows.start; y < rows.end; ++y) {
      const cv::Mat in(1, width, CV_8UC3, const_cast<std::uint8_t*>(src + std::size_t(height - 1 - y) * stride));
      cv::Mat row(1, width, CV_8UC4, out + std::size_t(y) * outStride);
      cv::cvtColor(in, row, cv::COLOR_BGR2BGRA);  // alpha 255, as RGB32 wants
    }
  };
  // A large frame on all cores: a capture or a report of 20 megapixels waits for it.
  if (std::size_t(width) * std::size_t(height) >= (std::size_t(1) << 20)) cv::parallel_for_(cv::Range(0, height), convert);
  else convert(cv::Range(0, height));
}

}  // namespace camera_internal

namespace {

bool UsableFormat(const std::uint8_t* pixels, const BITMAPINFOHEADER& f) {
  return pixels && f.biWidth > 0 && f.biHeight > 0;
}

QImage& Surface(QImage& surface, int width, int height) {
  if (surface.width() != width || surface.height() != height || surface.format() != QImage::Format_RGB32)
    surface = QImage(width, height, QImage::Format_RGB32);
  return surface;
}

}  // namespace

void CCameraProcess::DrawImage(QPainter& painter, int destWidth, int destHeight) {
  std::lock_guard lock(frameLock_);
  if (!frameValid_) return;
  DrawImage(painter, front_.get(), format_, destWidth, destHeight);
}

void CCameraProcess::DrawImage(QPainter& painter, const std::uint8_t* pixels, const BITMAPINFOHEADER& format,
                               int destWidth, int destHeight) {
  if (!UsableFormat(pixels, format) || destWidth <= 0 || destHeight <= 0 || !painter.isActive()) return;
  const int w = format.biWidth, h = format.biHeight;

  // The frame, area-averaged to the window (what a halftone stretch gives), as a 32-bit surface.
  QImage& surface = Surface(scaled_->surface, destWidth, destHeight);
  if (surface.isNull()) return;
  if (destWidth == w && destHeight == h) {
    BgrBottomUpToRgb32(pixels, w, h, surface);
  } else {
    scaled_->scaler.Scale(pixels, w, h, surface);
  }
  painter.save();
  painter.drawImage(QPoint(0, 0), surface);

  DrawOverlayLocked(painter, destWidth, destHeight, w, h);
  painter.restore();
}

void CCameraProcess::GetVisibleRect(POINT* start, POINT* end) const {
  int imgW = 0, imgH = 0;
  if (openedCount_ < 1) {
    std::lock_guard lock(frameLock_);
    imgW = format_.biWidth;
    imgH = format_.biHeight;
  } else {
    (void)GetImageSize(curCamera_, &imgW, &imgH);  // zeroed: a size not known maps nothing
  }
  VisibleRectOf(imgW, imgH, start, end);
}

void CCameraProcess::VisibleRectOf(int imgW, int imgH, POINT* start, POINT* end) const {
  const RECT v = view_ ? view_->ViewClientRect() : RECT{};
  const RECT win = view_ ? view_->ImageWindowRect() : RECT{};
  const std::int64_t ww = win.Width(), wh = win.Height();

  // One axis; a window lying wholly before the client area shows a one-pixel span at its far
  // edge, one lying wholly after it the span 0..6.
  auto axis = [](std::int64_t wLo, std::int64_t wHi, std::int64_t vHi, std::int64_t size, std::int64_t* s,
                 std::int64_t* e) {
    if (wHi <= 0) {
      *s = size - 1;
      *e = size;
      return;
    }
    *s = 0;
    *e = std::min(wHi, vHi) - wLo;
    if (wLo >= 0) {
      if (wLo > vHi) *e = 6;
    } else {
      *s = -wLo;
    }
  };
  std::int64_t sx, ex, sy, ey;
  axis(win.left, win.right, v.right, ww, &sx, &ex);
  axis(win.top, win.bottom, v.bottom, wh, &sy, &ey);

  // An empty window maps nothing.
  auto scale = [](std::int64_t value, std::int64_t image, std::int64_t window) {
    return window > 0 ? TruncToInt(double(value * image / window)) : 0;
  };
  if (start) *start = POINT{scale(sx, imgW, ww), scale(sy, imgH, wh)};
  if (end) *end = POINT{scale(ex, imgW, ww), scale(ey, imgH, wh)};
}

bool CCameraProcess::DrawOverview() {
  if (!panel_) return false;
  const QSize size = panel_->PictureSize();
  if (size.width() <= 0 || size.height() <= 0) return false;
  QImage picture(size, QImage::Format_RGB32);
  if (!DrawOverview(picture)) return false;
  panel_->ShowPicture(picture);
  return true;
}

bool CCameraProcess::DrawOverview(QImage& target) {
  std::lock_guard lock(frameLock_);
  if (!frameValid_) return false;
  return RenderOverview(target, front_.get(), format_);
}

bool CCameraProcess::RenderOverview(QImage& target, const std::uint8_t* pixels, const BITMAPINFOHEADER& format) {
  const int tw = target.width(), th = target.height();
  if (!UsableFormat(pixels, format) || tw <= 0 || th <= 0) return false;
  if (target.format() != QImage::Format_RGB32) target = target.convertToFormat(QImage::Format_RGB32);
  const std::int64_t fw = format.biWidth, fh = format.biHeight;

  // A plain stretch (rows and columns picked, not averaged).
  const cv::Mat src(int(fh), int(fw), CV_8UC3, const_cast<std::uint8_t*>(pixels));
  cv::resize(src, scaled_->overview, cv::Size(tw, th), 0, 0, cv::INTER_NEAREST);
  BgrBottomUpToRgb32(scaled_->overview.data, tw, th, target);

  // The frame lock is held: the image size of a still frame is the one given.
  int imgW = int(fw), imgH = int(fh);
  if (openedCount_ >= 1) (void)GetImageSize(curCamera_, &imgW, &imgH);  // zeroed: a size not known maps nothing
  POINT s, e;
  VisibleRectOf(imgW, imgH, &s, &e);
  overviewRect_.left = TruncToInt(double(tw * s.x / fw + 1));
  overviewRect_.top = TruncToInt(double(th * s.y / fh + 1));
  overviewRect_.right = TruncToInt(double(tw * e.x / fw - 1));
  overviewRect_.bottom = TruncToInt(double(th * e.y / fh - 1));

  QPainter painter(&target);
  CPainterDC dc(&painter);
  dc.SelectObject(CPen(PS_SOLID, 2, RGB(255, 0, 0)));
  dc.MoveTo(overviewRect_.left, overviewRect_.top);
  dc.LineTo(overviewRect_.right, overviewRect_.top);
  dc.LineTo(overviewRect_.right, overviewRect_.bottom);
  dc.LineTo(overviewRect_.left, overviewRect_.bottom);
  dc.LineTo(overviewRect_.left, overviewRect_.top);
  return true;
}

bool CCameraProcess::DrawHistogram() {
  if (!panel_) return false;
  const QSize size = panel_->PictureSize();
  if (size.width() <= 0 || size.height() <= 0) return false;
  QImage picture(size, QImage::Format_RGB32);
  if (!DrawHistogram(picture)) return false;
  panel_->ShowPicture(picture);
  return true;
}

bool CCameraProcess::DrawHistogram(QImage& target) {
  const int tw = target.width(), th = target.height();
  if (tw <= 0 || th <= 0) return false;
  std::array<std::array<std::uint32_t, 256>, 3> counts{};  // blue, green, red
  std::int64_t pixelCount = 0;
  {
    std::lock_guard lock(frameLock_);
    if (!frameValid_) return false;
    pixelCount = std::int64_t(format_.biWidth) * format_.biHeight;
    const std::uint8_t* p = front_.get();
    for (std::int64_t i = 0; i < pixelCount; ++i, p += 3) {
      ++counts[0][p[0]];
      ++counts[1][p[1]];
      ++counts[2][p[2]];
    }
  }
  if (target.format() != QImage::Format_RGB32) target = target.convertToFormat(QImage::Format_RGB32);

  // Vertical bars of each chosen channel, merged (OR-ed) over one another on black.
  // Under 85 pixels the divisor would be 0: it is taken as 1.
  const double divisor = double(std::max<std::int64_t>(1, pixelCount * 3 / 255));
  std::vector<std::uint32_t> bars(std::size_t(256) * std::size_t(th), 0);
  struct Channel {
    int bit;
    int table;
    std::uint32_t color;
  };
  constexpr Channel channels[] = {{1, 2, 0xFF0000u}, {2, 1, 0x00FF00u}, {4, 0, 0x0000FFu}};
  for (const Channel& c : channels) {
    if (!(histogramMask_ & c.bit)) continue;
    for (int i = 0; i < 256; ++i) {
      // The line runs from (i, th) up to (i, top), its end pixel left out.
      const std::int32_t top = TruncToInt(double(th) - double(th) / divisor * double(counts[c.table][i]));
      for (std::int64_t y = std::max<std::int64_t>(std::int64_t(top) + 1, 0); y < th; ++y)
        bars[std::size_t(y) * 256 + std::size_t(i)] |= c.color;
    }
  }
  const std::uint32_t background = 0xFF000000u | (236u << 16) | (233u << 8) | 216u;
  for (int y = 0; y < th; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(target.scanLine(y));
    const std::uint32_t* src = bars.data() + std::size_t(y) * 256;
    for (int x = 0; x < tw; ++x) {
      const std::uint32_t v = src[std::int64_t(x) * 256 / tw];
      row[x] = v ? (0xFF000000u | v) : background;  // black is transparent
    }
  }
  return true;
}
