#pragma once
// Fonts of the device context: face names of the other platform mapped to installed families,
// and the pixel size that gives a requested cell height (ascent + descent).
// Needs a QGuiApplication. Thread-safe: results are kept in process-wide caches.
#include <QFont>
#include <QString>

#include "platform/text.h"

namespace gdi {

// The family for a face name: the Song faces ("宋体", "SimSun", ...) map to an installed
// Song/Ming CJK family, the Kai faces ("楷体", "KaiTi", ...) to a Kai one, an installed face to
// itself; anything else (or a CJK face that is not installed) to a CJK-capable fallback.
QString ResolveFamily(WStringView face);

// A non-antialiased font of the face with the given pixel size (em height), weight (the other
// platform's 0..1000, 0 meaning normal) and slant, falling back to CJK families for glyphs the
// face lacks.
QFont MakeFont(WStringView face, int pixelSize, int weight, bool italic);

// The pixel size of `proto` whose ascent + descent is closest to cellHeight (>= 1).
int PixelSizeForCell(const QFont& proto, int cellHeight);

}  // namespace gdi
