// What the device context's files share: pen dashes, limits and small numeric helpers.
#pragma once

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/gdi/dc_geometry.h"
#include "platform/text.h"

namespace gdi::painter_detail {

// Cosmetic dash patterns (on, off, on, ...), in pixels stepped along the line's major axis.
inline constexpr int kDash[] = {18, 6};
inline constexpr int kDot[] = {3, 3};
inline constexpr int kDashDot[] = {9, 6, 3, 6};
inline constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};

inline constexpr int kMargin = 2;             // pixels of slack kept around the clip
inline constexpr int kMaxPenWidth = 1 << 15;  // logical; wider pens are drawn this wide
inline constexpr int kMaxFontHeight = 4096;   // logical cell or character height
inline constexpr int kMaxDeviceFont = 16384;  // pixels
inline constexpr double kThinTol = 0.15;      // chord error of thin curves, logical pixels
inline constexpr double kWideTol = 0.25;      // chord error of wide curves and fills, device pixels
inline constexpr int kMaxIntervals = 24;
inline constexpr double kTieNudge = 1.0 / 32.0;  // device pixels
inline constexpr std::size_t kDirectQuads = 4;  // more runs than this are filled as one path

inline QString View(WStringView s) {
  return QString::fromRawData(reinterpret_cast<const QChar*>(s.data()), qsizetype(s.size()));
}

inline std::int32_t SatInt(std::int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : std::int32_t(v);
}

// Device pixel d is inside an edge range [a, b) when its centre d + 0.5 is.
inline int FirstPixel(double a) {
  const double v = std::ceil(a - 0.5);
  return v < -1073741824.0 ? -1073741824 : v > 1073741824.0 ? 1073741824 : int(v);
}

// The smallest radius of curvature of an ellipse (0 for a degenerate one).
inline double MinCurvatureRadius(const gdi::ArcGeom& g) {
  const double lo = std::min(g.rx, g.ry), hi = std::max(g.rx, g.ry);
  return hi > 0.0 ? lo * lo / hi : 0.0;
}

}  // namespace gdi::painter_detail
