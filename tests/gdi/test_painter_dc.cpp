// Rendered pictures of the painter device context, checked pixel by pixel where the pixel rules
// are exact (lines, boxes) and within a tolerance where rasterisation may differ (arcs, text).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "platform/gdi/painter_dc.h"
#include "platform/gdi/recording_dc.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "gdi_tests";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QGuiApplication* app_ = nullptr;
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kBlack = 0x000000;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBlue = 0xFF0000;

QImage Render(int w, int h, const std::function<void(CPainterDC&)>& draw) {
  CImageDC dc(w, h, kWhite);
  draw(dc);
  dc.End();
  return dc.Image();
}

COLORREF At(const QImage& im, int x, int y) { return FromQColor(QColor(im.pixel(x, y))); }
bool Ink(const QImage& im, int x, int y) {
  return x >= 0 && y >= 0 && x < im.width() && y < im.height() && At(im, x, y) != kWhite;
}

std::set<std::pair<int, int>> InkSet(const QImage& im) {
  std::set<std::pair<int, int>> s;
  for (int y = 0; y < im.height(); ++y)
    for (int x = 0; x < im.width(); ++x)
      if (Ink(im, x, y)) s.insert({x, y});
  return s;
}

// For failure messages: '#' black, 'o' any other colour, '.' white.
std::string Picture(const QImage& im) {
  std::string s = "\n";
  for (int y = 0; y < im.height(); ++y) {
    for (int x = 0; x < im.width(); ++x) s += At(im, x, y) == kWhite ? '.' : At(im, x, y) == kBlack ? '#' : 'o';
    s += '\n';
  }
  return s;
}

// The pixels of the half-open line through the pixel centres (ties are not compared).
std::set<std::pair<int, int>> LinePixels(int x0, int y0, int x1, int y1, bool* tie) {
  std::set<std::pair<int, int>> s;
  const int dx = x1 - x0, dy = y1 - y0, n = std::max(std::abs(dx), std::abs(dy));
  *tie = false;
  for (int k = 0; k < n; ++k) {
    const double x = x0 + double(dx) * k / n, y = y0 + double(dy) * k / n;
    if (std::fabs(x - std::floor(x) - 0.5) < 1e-9 || std::fabs(y - std::floor(y) - 0.5) < 1e-9) *tie = true;
    s.insert({int(std::floor(x + 0.5)), int(std::floor(y + 0.5))});
  }
  return s;
}

TEST(PainterDC, InitialStateLikeAFreshContext) {
  CImageDC dc(8, 8);
  EXPECT_EQ(dc.GetPen(), CPen(PS_SOLID, 1, kBlack));
  EXPECT_FALSE(dc.GetBrush().null);
  EXPECT_EQ(dc.GetBrush().color, kWhite);
  EXPECT_EQ(dc.GetTextColor(), kBlack);
  EXPECT_EQ(dc.GetBkColor(), kWhite);
  EXPECT_EQ(dc.GetBkMode(), OPAQUE);
  EXPECT_EQ(dc.GetCurrentPosition(), (POINT{0, 0}));
  EXPECT_EQ(dc.MoveTo(3, 4), (POINT{0, 0}));
  EXPECT_EQ(dc.SelectObject(CPen(PS_DOT, 1, kRed)), CPen(PS_SOLID, 1, kBlack));
  EXPECT_EQ(dc.SetBkMode(TRANSPARENT), OPAQUE);
  EXPECT_EQ(dc.SetBkMode(7), 0);  // refused
  EXPECT_EQ(dc.GetBkMode(), TRANSPARENT);
  EXPECT_EQ(dc.GetTextExtentPoint32(u"x").cy, 16);  // the system font's cell
  // Other formats are converted to a 32-bit one before painting.
  QImage rgb888(4, 4, QImage::Format_RGB888);
  rgb888.fill(Qt::white);
  CImageDC on(rgb888);
  EXPECT_EQ(rgb888.format(), QImage::Format_RGB32);
}

TEST(PainterDC, ThinLinesAreHalfOpenAndExact) {
  QImage im = Render(12, 12, [](CPainterDC& dc) {
    dc.MoveTo(1, 1);
    dc.LineTo(8, 1);  // rightward
    dc.MoveTo(8, 3);
    dc.LineTo(1, 3);  // leftward
    dc.MoveTo(10, 1);
    dc.LineTo(10, 8);  // downward
  });
  for (int x = 1; x <= 7; ++x) EXPECT_TRUE(Ink(im, x, 1)) << x;
  EXPECT_FALSE(Ink(im, 8, 1)) << "end pixel drawn" << Picture(im);
  EXPECT_FALSE(Ink(im, 0, 1));
  for (int x = 2; x <= 8; ++x) EXPECT_TRUE(Ink(im, x, 3)) << x;
  EXPECT_FALSE(Ink(im, 1, 3)) << Picture(im);
  EXPECT_TRUE(Ink(im, 10, 7));
  EXPECT_FALSE(Ink(im, 10, 8));
  EXPECT_EQ(At(im, 4, 1), kBlack);  // no antialiasing: full colour
  EXPECT_FALSE(Ink(im, 4, 2));

  // Random lines in all directions give exactly the pixels of the line through the centres.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> d(1, 30);
  int compared = 0;
  for (int i = 0; i < 300; ++i) {
    const int x0 = d(rng), y0 = d(rng), x1 = d(rng), y1 = d(rng);
    bool tie = false;
    const auto want = LinePixels(x0, y0, x1, y1, &tie);
    if (tie) continue;
    QImage l = Render(32, 32, [&](CPainterDC& dc) {
      dc.MoveTo(x0, y0);
      dc.LineTo(x1, y1);
    });
    ASSERT_EQ(InkSet(l), want) << x0 << "," << y0 << " -> " << x1 << "," << y1 << Picture(l);
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST(PainterDC, BoxRulesAndBrushes) {
  QImage im = Render(24, 24, [](CPainterDC& dc) {
    dc.SelectObject(CBrush(kBlue));
    dc.Rectangle(0, 0, 10, 10);
    dc.SelectObject(CBrush::Null());
    dc.Rectangle(12, 0, 22, 10);
    dc.SelectObject(CPen(PS_NULL, 1, kBlack));
    dc.SelectObject(CBrush(kRed));
    dc.Rectangle(0, 12, 10, 22);
  });
  for (int i = 0; i <= 9; ++i) {
    EXPECT_EQ(At(im, i, 0), kBlack);
    EXPECT_EQ(At(im, i, 9), kBlack);
    EXPECT_EQ(At(im, 0, i), kBlack);
    EXPECT_EQ(At(im, 9, i), kBlack);
    EXPECT_FALSE(Ink(im, 10, i)) << "right edge is excluded" << Picture(im);
    EXPECT_FALSE(Ink(im, i, 10));
  }
  EXPECT_EQ(At(im, 1, 1), kBlue);
  EXPECT_EQ(At(im, 8, 8), kBlue);
  EXPECT_EQ(At(im, 17, 5), kWhite) << "the null brush leaves the inside";
  EXPECT_EQ(At(im, 21, 9), kBlack);
  // Without a pen the fill is one pixel smaller.
  EXPECT_EQ(At(im, 0, 12), kRed);
  EXPECT_EQ(At(im, 8, 20), kRed);
  EXPECT_FALSE(Ink(im, 9, 20));
  EXPECT_FALSE(Ink(im, 8, 21));

  // Ellipse and RoundRect stay in the same box and touch its sides; a filled one is filled.
  for (int kind = 0; kind < 2; ++kind) {
    QImage e = Render(24, 24, [&](CPainterDC& dc) {
      dc.SelectObject(CBrush(kBlue));
      if (kind == 0) dc.Ellipse(2, 3, 21, 18);
      else dc.RoundRect(2, 3, 21, 18, 8, 8);
    });
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (auto [x, y] : InkSet(e)) minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    EXPECT_EQ(minX, 2) << Picture(e);
    EXPECT_EQ(maxX, 20);
    EXPECT_EQ(minY, 3);
    EXPECT_EQ(maxY, 17);
    EXPECT_EQ(At(e, 11, 10), kBlue);
    EXPECT_EQ(At(e, 2, 10), kBlack);
    EXPECT_FALSE(Ink(e, 2, 3)) << "corners are round";
  }
}

TEST(PainterDC, WideAndStyledPens) {
  // A zero-length line with a wide pen is a round dot as wide as the pen.
  QImage dot = Render(20, 20, [](CPainterDC& dc) {
    dc.SelectObject(CPen(PS_SOLID, 9, kBlack));
    dc.MoveTo(10, 10);
    dc.LineTo(10, 10);
  });
  EXPECT_TRUE(Ink(dot, 10, 10));
  EXPECT_TRUE(Ink(dot, 6, 10) && Ink(dot, 14, 10) && Ink(dot, 10, 6) && Ink(dot, 10, 14)) << Picture(dot);
  EXPECT_FALSE(Ink(dot, 5, 10) || Ink(dot, 15, 10));
  EXPECT_FALSE(Ink(dot, 6, 6) || Ink(dot, 14, 14)) << "round, not square";

  // Dashed styles wider than one pixel draw solid; one pixel wide they are dashed, and in
  // OPAQUE mode the gaps take the background colour.
  QImage im = Render(60, 12, [](CPainterDC& dc) {
    dc.SetBkColor(kRed);
    dc.SelectObject(CPen(PS_DASH, 3, kBlack));
    dc.MoveTo(2, 2);
    dc.LineTo(57, 2);
    dc.SelectObject(CPen(PS_DOT, 1, kBlack));
    dc.SetBkMode(TRANSPARENT);
    dc.MoveTo(0, 6);
    dc.LineTo(30, 6);
    dc.SetBkMode(OPAQUE);
    dc.MoveTo(0, 9);
    dc.LineTo(30, 9);
  });
  for (int x = 2; x <= 57; ++x) ASSERT_EQ(At(im, x, 2), kBlack) << x << Picture(im);
  for (int x = 0; x < 30; ++x) {
    const bool on = (x / 3) % 2 == 0;
    EXPECT_EQ(At(im, x, 6), on ? kBlack : kWhite) << x << Picture(im);
    EXPECT_EQ(At(im, x, 9), on ? kBlack : kRed) << x;
  }
  EXPECT_FALSE(Ink(im, 30, 9));

  // Inside-frame keeps a wide outline inside the box; a plain wide pen straddles it.
  QImage frame = Render(30, 30, [](CPainterDC& dc) {
    dc.SelectObject(CBrush::Null());
    dc.SelectObject(CPen(PS_INSIDEFRAME, 5, kBlack));
    dc.Rectangle(5, 5, 25, 25);
    dc.Ellipse(5, 5, 25, 25);
  });
  for (auto [x, y] : InkSet(frame)) EXPECT_TRUE(x >= 5 && x < 25 && y >= 5 && y < 25) << x << "," << y;
  EXPECT_TRUE(Ink(frame, 5, 15) && Ink(frame, 24, 15) && Ink(frame, 9, 15));
  QImage plain = Render(30, 30, [](CPainterDC& dc) {
    dc.SelectObject(CPen(PS_SOLID, 5, kBlack));
    dc.MoveTo(5, 5);
    dc.LineTo(24, 5);
  });
  EXPECT_TRUE(Ink(plain, 15, 3) && Ink(plain, 15, 7) && !Ink(plain, 15, 8)) << Picture(plain);
}

TEST(PainterDC, AngleArc) {
  constexpr int cx = 30, cy = 30, r = 20;
  // A quarter counter-clockwise from 0 degrees: the upper right quadrant.
  QImage im = Render(60, 60, [&](CPainterDC& dc) {
    dc.MoveTo(cx + r, cy);
    EXPECT_TRUE(dc.AngleArc(cx, cy, r, 0.0f, 90.0f));
    EXPECT_EQ(dc.GetCurrentPosition(), (POINT{cx, cy - r}));
  });
  for (auto [x, y] : InkSet(im)) {
    EXPECT_TRUE(x >= cx - 1 && y <= cy + 1) << x << "," << y << Picture(im);
    EXPECT_NEAR(std::hypot(x - cx, y - cy), r, 1.0) << x << "," << y;
  }
  EXPECT_TRUE(Ink(im, cx + r, cy));
  const int d = int(std::lround(r / std::sqrt(2.0)));
  EXPECT_TRUE(Ink(im, cx + d, cy - d) || Ink(im, cx + d - 1, cy - d) || Ink(im, cx + d, cy - d + 1)) << Picture(im);

  // Clockwise with a negative sweep, a leading line from the current position, more than a turn.
  QImage cw = Render(60, 60, [&](CPainterDC& dc) {
    dc.MoveTo(0, cy);
    dc.AngleArc(cx, cy, r, 0.0f, -90.0f);
    EXPECT_EQ(dc.GetCurrentPosition(), (POINT{cx, cy + r}));
    dc.AngleArc(cx, cy, 5, 0.0f, 450.0f);
    EXPECT_EQ(dc.GetCurrentPosition(), (POINT{cx, cy - 5}));
    EXPECT_FALSE(dc.AngleArc(cx, cy, 5, std::nanf(""), 10.0f));
  });
  EXPECT_TRUE(Ink(cw, 5, cy)) << "leading line" << Picture(cw);
  EXPECT_TRUE(Ink(cw, cx + d, cy + d) || Ink(cw, cx + d - 1, cy + d) || Ink(cw, cx + d, cy + d - 1));
  EXPECT_FALSE(Ink(cw, cx + d, cy - d)) << "drew the other way round";
  EXPECT_TRUE(Ink(cw, cx - 5, cy) && Ink(cw, cx, cy + 5)) << "full small circle";

  // The end position matches the recording context's, also left of and above the centre.
  CImageDC painter(8, 8);
  CRecordingDC rec;
  for (float a : {0.0f, 37.0f, 150.0f, 200.5f, 299.0f}) {
    painter.AngleArc(-10, -10, 13, 0.0f, a);
    rec.AngleArc(-10, -10, 13, 0.0f, a);
    EXPECT_EQ(painter.GetCurrentPosition(), rec.GetCurrentPosition()) << a;
  }
}

TEST(PainterDC, TextAnchorExtentAndBackground) {
  const WString text = u"∠ABC：45.5°ａ²";
  for (const char16_t* face : {u"宋体", u"楷体"}) {
    SIZE ext{};
    QImage im = Render(260, 40, [&](CPainterDC& dc) {
      dc.SelectObject(CFont(20, face, 255));
      dc.SetBkMode(TRANSPARENT);
      dc.SetTextColor(kRed);
      ext = dc.GetTextExtentPoint32(text);
      EXPECT_TRUE(dc.TextOut(10, 8, text));
      EXPECT_EQ(dc.GetTextExtentPoint32(u"ａ").cx, 20 * dc.GetTextExtentPoint32(u"ａａ").cx / 40);
      // a negative height is the character height: a smaller cell
      dc.SelectObject(CFont(-20, face));
      EXPECT_GT(dc.GetTextExtentPoint32(u"x").cy, 20);
    });
    EXPECT_EQ(ext.cy, 20) << ToUtf8(face);
    EXPECT_GT(ext.cx, 8 * 10);
    int minX = 999, maxX = -1, minY = 999, maxY = -1, red = 0;
    for (auto [x, y] : InkSet(im)) {
      minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
      const COLORREF c = At(im, x, y);
      EXPECT_TRUE(c == kRed) << "antialiased text pixel " << std::hex << c;
      red += c == kRed;
    }
    EXPECT_GT(red, 100) << ToUtf8(face);
    EXPECT_GE(minX, 10);
    EXPECT_LE(minX, 14);
    EXPECT_GE(minY, 8);
    EXPECT_LT(maxY, 8 + ext.cy);
    EXPECT_LT(maxX, 10 + ext.cx);
    EXPECT_GT(maxX, 10 + ext.cx - 12);
  }
  // OPAQUE fills the text cell with the background colour; TRANSPARENT leaves it.
  QImage im = Render(120, 60, [](CPainterDC& dc) {
    dc.SelectObject(CFont(16, u"宋体"));
    dc.SetBkColor(kBlue);
    dc.TextOut(5, 5, u"12.5");
    dc.SetBkMode(TRANSPARENT);
    dc.TextOut(5, 30, u"12.5");
    const SIZE e = dc.GetTextExtentPoint32(u"12.5");
    EXPECT_EQ(e.cy, 16);
    dc.SelectObject(CPen(PS_NULL, 0, 0));
    dc.MoveTo(0, 0);
    EXPECT_EQ(dc.GetTextExtentPoint32(u"").cx, 0);
  });
  EXPECT_EQ(At(im, 5, 5), kBlue);
  EXPECT_EQ(At(im, 6, 20), kBlue);
  EXPECT_FALSE(Ink(im, 6, 21));
  EXPECT_FALSE(Ink(im, 4, 5));
  EXPECT_FALSE(Ink(im, 5, 30));
  int blue = 0;
  for (auto [x, y] : InkSet(im)) blue += y >= 30 && At(im, x, y) == kBlue;
  EXPECT_EQ(blue, 0);
}

TEST(PainterDC, ScaleTransformAndClipBox) {
  QImage image(100, 80, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    CPainterDC dc(&p);
    RECT rc{};
    EXPECT_EQ(dc.GetClipBox(&rc), SIMPLEREGION);
    EXPECT_EQ(rc, (RECT{0, 0, 100, 80}));
    EXPECT_TRUE(dc.SetTransform(2.0, 2.0, 10.0, 0.0));
    EXPECT_FALSE(dc.SetTransform(0.0, 1.0, 0.0, 0.0));
    EXPECT_EQ(dc.GetClipBox(&rc), SIMPLEREGION);
    EXPECT_EQ(rc, (RECT{-5, 0, 45, 40}));
    p.setClipRect(QRect(20, 10, 30, 31));
    dc.SyncClip();
    dc.GetClipBox(&rc);
    EXPECT_EQ(rc, (RECT{5, 5, 20, 21}));
    p.setClipRect(QRect(200, 200, 5, 5));
    dc.SyncClip();
    EXPECT_EQ(dc.GetClipBox(&rc), NULLREGION);
  }
  // Drawn as if into the image and then stretched: a 1-px outline becomes 4 pixels thick,
  // dashes and the dot of a wide pen grow as well.
  QImage im = Render(80, 80, [](CPainterDC& dc) {
    dc.SetTransform(4.0, 4.0, 0.0, 0.0);
    dc.SelectObject(CBrush::Null());
    dc.Rectangle(1, 1, 5, 4);
    dc.SelectObject(CPen(PS_DOT, 1, kBlack));
    dc.MoveTo(0, 10);
    dc.LineTo(12, 10);
    dc.SelectObject(CPen(PS_SOLID, 3, kBlack));
    dc.MoveTo(15, 15);
    dc.LineTo(15, 15);
  });
  for (int x = 4; x < 20; ++x)
    for (int y = 4; y < 8; ++y) EXPECT_TRUE(Ink(im, x, y)) << x << "," << y << Picture(im);
  EXPECT_FALSE(Ink(im, 3, 5));
  EXPECT_FALSE(Ink(im, 20, 9)) << "right edge excluded";
  EXPECT_TRUE(Ink(im, 19, 15));
  EXPECT_FALSE(Ink(im, 8, 8)) << "hollow";
  for (int x = 0; x < 48; ++x) EXPECT_EQ(Ink(im, x, 41), (x / 12) % 2 == 0) << x;
  // logical pixels 14..16 stretched: device 56..67
  EXPECT_TRUE(Ink(im, 62, 62) && Ink(im, 56, 62) && Ink(im, 67, 62) && Ink(im, 62, 56) && Ink(im, 62, 67));
  EXPECT_FALSE(Ink(im, 55, 62) || Ink(im, 68, 62) || Ink(im, 62, 55) || Ink(im, 62, 68));
}

TEST(PainterDC, FarCoordinatesAreClipped) {
  const auto begin = std::chrono::steady_clock::now();
  QImage im = Render(40, 40, [](CPainterDC& dc) {
    dc.SelectObject(CBrush(kBlue));
    dc.Ellipse(-2000000000, -2000000000, 2000000000, 2000000000);  // covers the whole picture
    dc.SetBkMode(TRANSPARENT);
    dc.SelectObject(CPen(PS_DOT, 1, kBlack));
    dc.MoveTo(5, 35);
    dc.LineTo(2000000000, -2000000000 + 40);
    dc.SelectObject(CPen(PS_SOLID, 3, kRed));
    dc.MoveTo(-2000000000, 20);
    dc.LineTo(2000000000, 20);
    dc.SelectObject(CPen(PS_SOLID, 1, kBlack));
    dc.SelectObject(CBrush::Null());
    dc.Rectangle(INT32_MIN, 10, INT32_MAX, 12);
    // arcs of a huge circle whose top runs through the picture, nearly straight there
    dc.MoveTo(0, 0);
    dc.AngleArc(20, 2000000005, 2000000000u, 91.0f, -2.0f);
    dc.SelectObject(CPen(PS_DASHDOT, 7, kBlack));
    dc.AngleArc(20, 2000000005, 2000000000u, 91.0f, -1000.0f);
    dc.TextOut(-2000000000, 5, u"far");
  });
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  // the visible part of the dotted diagonal, its dots counted from its far-off start
  for (int k = 0; k < 31; ++k) {
    const int x = 5 + k, y = 35 - k;
    if ((y >= 2 && y <= 11) || (y >= 19 && y <= 21)) continue;
    ASSERT_EQ(At(im, x, y), k % 6 < 3 ? kBlack : kBlue) << k << Picture(im);
  }
  for (int x : {0, 17, 39}) {
    EXPECT_EQ(At(im, x, 20), kRed);
    EXPECT_EQ(At(im, x, 19), kRed);
    EXPECT_EQ(At(im, x, 21), kRed);
    EXPECT_EQ(At(im, x, 10), kBlack);
    EXPECT_EQ(At(im, x, 11), kBlack);
    EXPECT_EQ(At(im, x, 5), kBlack) << "the huge arc" << Picture(im);
  }
  EXPECT_EQ(At(im, 17, 22), kBlue);
  EXPECT_EQ(At(im, 0, 39), kBlue);
}

TEST(RecordingDC, AngleArcEndRoundsToNearest) {
  CRecordingDC dc;
  dc.AngleArc(10, 10, 3, 0.0f, 150.0f);  // x = 10 - 2.598
  EXPECT_EQ(dc.GetCurrentPosition(), (POINT{7, 9}));
  dc.AngleArc(-10, -10, 3, 0.0f, 0.0f);
  EXPECT_EQ(dc.GetCurrentPosition(), (POINT{-7, -10}));
  dc.SelectObject(CFont(INT32_MIN, u"宋体"));
  EXPECT_GT(dc.GetTextExtentPoint32(u"ab").cy, 0);
}

}  // namespace
