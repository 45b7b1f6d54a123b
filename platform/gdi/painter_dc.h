#pragma once
// The device context over QPainter, with the other platform's pixel rules: half-open thin lines
// in exact pixels, right/bottom-exclusive figure boxes, round wide pens, cell-height fonts and
// no antialiasing. Geometry is clipped in double precision before it reaches QPainter, so far
// coordinates neither overflow nor hang.
//
// Logical pixel (x, y) covers the painter rectangle [x sx + dx, (x + 1) sx + dx) x
// [y sy + dy, (y + 1) sy + dy): with a scale, an overlay drawn in image pixels looks as if it
// were drawn into the image and the image then stretched (pens, dots and fonts scale too).
//
// The context takes over the painter's pen, brush, font and antialiasing hints while it lives.
// Fonts need a QGuiApplication. Not thread-safe; one context per painting thread.
#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/gdi/dc_geometry.h"

class CPainterDC : public CDC {
 public:
  // `painter` must outlive the context. While it is not active, drawing calls do nothing and
  // return false; the state (objects, colours, position) is kept all the same.
  explicit CPainterDC(QPainter* painter);
  ~CPainterDC() override;
  CPainterDC(const CPainterDC&) = delete;
  CPainterDC& operator=(const CPainterDC&) = delete;

  // Maps logical pixels to the painter as above. Refused (false, nothing changed) unless both
  // scales are finite and > 0 and the offsets finite.
  bool SetTransform(double scaleX, double scaleY, double offsetX, double offsetY);
  double ScaleX() const { return sx_; }
  double ScaleY() const { return sy_; }
  double OffsetX() const { return ox_; }
  double OffsetY() const { return oy_; }
  // Re-reads the painter's clip and window (done on construction); call it after changing the
  // painter's clip or world transform while the context is in use.
  void SyncClip();
  QPainter* Painter() const { return painter_; }

  const CPen& GetPen() const { return pen_; }
  const CBrush& GetBrush() const { return brush_; }
  const CFont& GetFont() const { return font_; }
  COLORREF GetTextColor() const { return textColor_; }
  COLORREF GetBkColor() const { return bkColor_; }
  int GetBkMode() const { return bkMode_; }

  CPen SelectObject(const CPen& pen) override;
  CBrush SelectObject(const CBrush& brush) override;
  CFont SelectObject(const CFont& font) override;
  COLORREF SetTextColor(COLORREF c) override;
  int SetBkMode(int mode) override;
  COLORREF SetBkColor(COLORREF c) override;
  POINT MoveTo(int x, int y) override;
  bool LineTo(int x, int y) override;
  POINT GetCurrentPosition() const override { return pos_; }
  bool Rectangle(int l, int t, int r, int b) override;
  bool RoundRect(int l, int t, int r, int b, int w, int h) override;
  bool Ellipse(int l, int t, int r, int b) override;
  bool AngleArc(int x, int y, std::uint32_t r, float start, float sweep) override;
  bool TextOut(int x, int y, WStringView text) override;
  SIZE GetTextExtentPoint32(WStringView text) override;
  int GetClipBox(RECT* rc) const override;
  using CDC::LineTo;
  using CDC::MoveTo;

 private:
  enum class PenKind { Null, Thin, Wide };
  struct Quad {
    QPointF p[4];
    bool rect;  // axis-aligned: p[0] top-left, p[2] bottom-right
  };
  struct FontEntry;
  // A closed or open figure made of elliptic arcs joined by straight lines.
  struct Figure {
    gdi::ArcGeom arc[4];
    double th0[4], th1[4];
    int count = 0;
    bool closed = true;
    // for the fill of a partly visible figure: which points of the plane are inside it
    enum class Shape { Ellipse, RoundRect } shape = Shape::Ellipse;
    double l = 0, t = 0, r = 0, b = 0, rx = 0, ry = 0;
    // thin outlines round their points to pixels away from this centre, so they stay symmetric
    double ccx = 0, ccy = 0;
    bool Inside(double x, double y) const;
  };

  void UpdatePen();
  void UpdateClipBoxes();
  double DevX(double ix) const { return (ix + 0.5) * sx_ + ox_; }  // pixel centre, index space
  double DevY(double iy) const { return (iy + 0.5) * sy_ + oy_; }
  double WidePenDev() const;

  // Thin (one logical pixel) lines, in index space: pixel i of a row has index i.
  // `bias` (-1, 0, 1) settles pixels that lie exactly between two toward smaller or larger
  // minor coordinates; 0 leaves them to the rasteriser.
  std::int64_t ThinLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, std::int64_t phase,
                        int bias = 0);
  void EmitRun(std::int64_t x0, std::int64_t y0, std::int64_t dx, std::int64_t dy, std::int64_t ka,
               std::int64_t kb, bool background, int bias);
  void FlushThin();
  void DrawQuads(std::vector<Quad>& quads, const QColor& color, const QBrush& brush);
  void FillEdgeRect(double x0, double y0, double x1, double y1, const QColor& color);  // device

  void WideLine(POINT a, POINT b);
  void WideDot(double cx, double cy);
  // The outline of a round-capped wide stroke, filled: cheaper than QPainter's stroker.
  void WideSegment(const QPointF& a, const QPointF& b);
  void WideArcBand(const gdi::ArcGeom& g, double from, double to);
  bool WideRing(const Figure& f);  // false when the pen is too wide for the figure's curves

  // Flattens the figure into pts_/drawn_/skip_ in the space of `box` (index space with points
  // rounded to pixels when `rounded`, else device space), starting with a line from `lead` when
  // given. Returns false when the figure is nowhere near the box; *complete tells whether all of
  // it lies in the box.
  bool BuildFigure(const Figure& f, const gdi::Box& box, double tol, bool rounded, bool* complete,
                   const POINT* lead = nullptr);
  void StrokeThinFigure(const Figure& f, std::int64_t phase);
  void StrokeWideFigure(const gdi::Box& box);
  void FillFigure(const Figure& f, bool complete, const gdi::Box& box, bool indexSpace);
  void DrawFigure(const Figure& line, const Figure& frame, const Figure& fillOnly);

  FontEntry& CurrentFont();
  const QFont& DeviceFont(FontEntry& e);

  QPainter* painter_;
  double sx_ = 1.0, sy_ = 1.0, ox_ = 0.0, oy_ = 0.0;
  QRectF devClip_;     // the painter's clip (or window), painter coordinates
  gdi::Box devBox_;    // devClip_ as a box
  gdi::Box idxBox_;    // pixel indices that may be visible, grown by a margin

  CPen pen_{PS_SOLID, 1, 0};
  CBrush brush_{0xFFFFFF};
  CFont font_{16, u"System"};
  COLORREF textColor_ = 0;
  COLORREF bkColor_ = 0xFFFFFF;
  int bkMode_ = OPAQUE;
  POINT pos_{0, 0};

  // What drawing needs of the selected pen. The previous pen's are kept too: drawing code
  // selects a pen and then the old one back, and swapping is cheaper than rebuilding.
  struct PenObjects {
    CPen pen;
    double sx = 0.0, sy = 0.0;  // the scale they were made for
    bool valid = false;
    PenKind kind = PenKind::Thin;
    const int* dash = nullptr;  // thin dashed pens: on, off, ... pixel counts
    int dashCount = 0;
    int dashPeriod = 0;
    QColor color;
    QBrush brush;       // the pen's colour, for filled outlines and dots
    QPen wide;          // round caps and joins
    QPen wideSmooth;    // round caps, mitred joins: flattened curves
    double halfWidth = 0.5;  // of a wide pen, device pixels
    double capHalf = -1.0;   // halfWidth the cap table was made for
    std::vector<double> capCos, capSin;  // half a turn of the pen's round end
  };
  PenObjects pn_, prevPen_;
  QColor bkQColor_;
  QPen noPen_;
  QPen textPen_;
  QBrush bkBrush_;
  QBrush fillBrush_;
  QBrush noBrush_;

  std::vector<Quad> fgQuads_, bgQuads_;
  QPainterPath path_;
  std::vector<QPointF> pts_;         // flattened figure
  std::vector<unsigned char> drawn_;  // drawn_[i]: segment pts_[i] -> pts_[i + 1] is drawn
  std::vector<double> skip_;          // length of the arc left out instead of a segment
  std::vector<QPointF> poly_;
  std::vector<std::pair<double, QPointF>> sorted_;

  std::vector<std::unique_ptr<FontEntry>> fonts_;
  int curFont_ = -1;
  const QFont* painterFont_ = nullptr;
};

namespace gdi {
// The image and painter of a CImageDC, made before its CPainterDC base.
struct ImagePainter {
  ImagePainter(int width, int height, COLORREF fill);
  explicit ImagePainter(QImage& image);
  ~ImagePainter();
  QImage own;
  QImage* target;
  QPainter painter;
};
}  // namespace gdi

// A device context that owns a QPainter on a 32-bit image.
class CImageDC : private gdi::ImagePainter, public CPainterDC {
 public:
  // A new width x height RGB32 image filled with `fill` (a null image when a size is < 1).
  CImageDC(int width, int height, COLORREF fill = 0xFFFFFF);
  // Paints onto `image`, which must outlive the context. Images of other formats are converted
  // in place first (ARGB32 to ARGB32_Premultiplied, the rest to RGB32): QPainter is many times
  // slower on 24-bit images.
  explicit CImageDC(QImage& image);
  ~CImageDC() override;

  QImage& Image() { return *target; }
  const QImage& Image() const { return *target; }
  // Ends painting (the image is complete); drawing afterwards does nothing.
  void End();
};
