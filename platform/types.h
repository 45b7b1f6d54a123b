#pragma once
// Plain value types of the desktop platform: points, sizes, rectangles and colours,
// with the platform's geometry (right and bottom of a rectangle are exclusive).
#include <cstdint>
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>

using COLORREF = std::uint32_t;  // 0x00BBGGRR

constexpr COLORREF RGB(int r, int g, int b) {
  return COLORREF(std::uint8_t(r)) | (COLORREF(std::uint8_t(g)) << 8) | (COLORREF(std::uint8_t(b)) << 16);
}
constexpr int GetRValue(COLORREF c) { return int(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return int((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return int((c >> 16) & 0xFF); }

inline QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline COLORREF FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

struct POINT {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend constexpr bool operator==(const POINT&, const POINT&) = default;
};

struct SIZE {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
  friend constexpr bool operator==(const SIZE&, const SIZE&) = default;
};

struct RECT {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  constexpr std::int32_t Width() const { return right - left; }
  constexpr std::int32_t Height() const { return bottom - top; }
  friend constexpr bool operator==(const RECT&, const RECT&) = default;
};

// Left and top inclusive, right and bottom exclusive; an inverted rectangle contains nothing.
constexpr bool PtInRect(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

inline QPoint ToQPoint(POINT p) { return QPoint(p.x, p.y); }
inline POINT FromQPoint(const QPoint& p) { return POINT{p.x(), p.y()}; }
inline QSize ToQSize(SIZE s) { return QSize(s.cx, s.cy); }
// QRect keeps inclusive right/bottom; the platform's right/bottom are one past.
inline QRect ToQRect(const RECT& r) { return QRect(QPoint(r.left, r.top), QSize(r.right - r.left, r.bottom - r.top)); }
inline RECT FromQRect(const QRect& r) { return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

// Conversion of a computed double to int32: truncation toward zero, saturating, NaN to 0,
// so that degenerate geometry has a defined result instead of undefined behaviour.
constexpr std::int32_t TruncToInt(double v) {
  if (v != v) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return std::int32_t(v);
}
