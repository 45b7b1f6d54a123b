// Drawing 1000 measurements of mixed kinds with their result texts on a full-HD 32-bit surface,
// next to plain QPainter drawing the same primitives; and a pointer move over 10000 records.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <memory>
#include <utility>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "measure/MeasureManager.h"
#include "platform/gdi/font_map.h"
#include "platform/gdi/painter_dc.h"

namespace {

QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "bench_measure_draw";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  return *app;
}

// Builds `count` shapes of every kind with the mouse, as an operator would, inside w x h.
void BuildShapes(CMeasureManager& mm, int count, int w, int h, unsigned seed) {
  static const int kinds[] = {MK_POINT,   MK_LINE,     MK_PARALLEL, MK_FOLDLINE,   MK_ANGLE,       MK_LINE2LINE,
                              MK_RECT,    MK_ROUNDRECT, MK_ELLIPSE, MK_ARC3,       MK_CIRCLE2,     MK_CIRCLE3,
                              MK_POLYGON, MK_POINT2LINE, MK_CIRCLE2LINE, MK_CIRCLE2CIRCLE};
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> px(40, w - 240), py(40, h - 240), d(20, 200);
  for (int i = 0; i < count; ++i) {
    const int kind = kinds[i % 16];
    const int x = px(rng), y = py(rng);
    auto at = [&](int k) { return POINT{x + (k % 2 ? d(rng) : d(rng) / 4), y + (k % 3 ? d(rng) : d(rng) / 3)}; };
    mm.OnMeasureLButtonDown(x, y, kind, 1);
    for (int k = 1; k < 8 && mm.InProgress(); ++k) {
      const POINT p = at(k);
      mm.OnMeasureMouseMove(p.x, p.y);
      const bool open = kind == MK_POINT || kind == MK_FOLDLINE || kind == MK_POLYGON;
      if (open && k == 5) {
        mm.OnMeasureRButtonDown(p.x, p.y);
        break;
      }
      mm.OnMeasureLButtonDown(p.x, p.y, MK_NONE, 0);
    }
  }
  mm.SelectMeasure(-1, nullptr);
}

// The primitives a drawing emits, kept with the objects selected at the time.
struct Prim {
  enum Op { Move, Line, Rect, Round, Ell, Arc, Text } op;
  int a, b, c, d;
  float s0 = 0, s1 = 0;
  int pen, brush, font;
  COLORREF textColor;
  WString text;
};

class CaptureDC : public CDC {
 public:
  CPen SelectObject(const CPen& p) override { return Swap(pens, p, &pen); }
  CBrush SelectObject(const CBrush& b) override { return Swap(brushes, b, &brush); }
  CFont SelectObject(const CFont& f) override { return Swap(fonts, f, &font); }
  COLORREF SetTextColor(COLORREF c) override { return std::exchange(textColor, c); }
  int SetBkMode(int m) override { return m; }
  COLORREF SetBkColor(COLORREF c) override { return c; }
  POINT MoveTo(int x, int y) override { return Add(Prim::Move, x, y), std::exchange(pos, POINT{x, y}); }
  bool LineTo(int x, int y) override { return Add(Prim::Line, x, y), pos = POINT{x, y}, true; }
  POINT GetCurrentPosition() const override { return pos; }
  bool Rectangle(int l, int t, int r, int b) override { return Add(Prim::Rect, l, t, r, b), true; }
  bool RoundRect(int l, int t, int r, int b, int, int) override { return Add(Prim::Round, l, t, r, b), true; }
  bool Ellipse(int l, int t, int r, int b) override { return Add(Prim::Ell, l, t, r, b), true; }
  bool AngleArc(int x, int y, std::uint32_t r, float s0, float s1) override {
    Add(Prim::Arc, x, y, int(r), 0);
    prims.back().s0 = s0;
    prims.back().s1 = s1;
    return true;
  }
  bool TextOut(int x, int y, WStringView t) override {
    Add(Prim::Text, x, y);
    prims.back().text = WString(t);
    return true;
  }
  SIZE GetTextExtentPoint32(WStringView t) override { return SIZE{int(t.size()) * 10, 20}; }
  int GetClipBox(RECT* rc) const override { return *rc = RECT{0, 0, 1920, 1080}, SIMPLEREGION; }

  std::vector<Prim> prims;
  std::vector<CPen> pens{CPen()};
  std::vector<CBrush> brushes{CBrush()};
  std::vector<CFont> fonts{CFont(16, u"宋体")};

 private:
  template <typename T>
  T Swap(std::vector<T>& table, const T& v, int* cur) {
    const T old = table[std::size_t(*cur)];
    auto it = std::find(table.begin(), table.end(), v);
    if (it == table.end()) it = table.insert(table.end(), v);
    *cur = int(it - table.begin());
    return old;
  }
  void Add(Prim::Op op, int a, int b, int c = 0, int d = 0) {
    prims.push_back(Prim{op, a, b, c, d, 0, 0, pen, brush, font, textColor, {}});
  }
  int pen = 0, brush = 0, font = 0;
  COLORREF textColor = 0;
  POINT pos{};
};

struct DrawFixture {
  DrawFixture() {
    App();
    BuildShapes(mm, 1000, 1920, 1080, 7);
    mm.ShowGrid(0);
    CaptureDC cap;
    mm.DrawAll(cap, 1);
    prims = std::move(cap.prims);
    for (const CPen& p : cap.pens) {
      QPen q(ToQColor(p.color), std::max(1, p.width), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      if (p.style == PS_DOT) q.setStyle(Qt::DotLine);
      pens.push_back(q);
    }
    for (const CBrush& b : cap.brushes) brushes.push_back(b.null ? QBrush(Qt::NoBrush) : QBrush(ToQColor(b.color)));
    for (const CFont& f : cap.fonts) {
      QFont q = gdi::MakeFont(f.face, 16, 0, false);
      q.setPixelSize(gdi::PixelSizeForCell(q, std::max(1, f.height)));
      fonts.push_back(q);
      ascents.push_back(QFontMetrics(q).ascent());
    }
  }
  CMeasureManager mm;
  std::vector<Prim> prims;
  std::vector<QPen> pens;
  std::vector<QBrush> brushes;
  std::vector<QFont> fonts;
  std::vector<int> ascents;
};

DrawFixture& Fixture() {
  static DrawFixture* f = new DrawFixture();
  return *f;
}

void BM_DrawAll_PainterDC(benchmark::State& state) {
  DrawFixture& f = Fixture();
  QImage image(1920, 1080, QImage::Format_RGB32);
  for (auto _ : state) {
    image.fill(Qt::white);
    CImageDC dc(image);
    f.mm.DrawAll(dc, 1);
    dc.End();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.counters["primitives"] = double(f.prims.size());
}
BENCHMARK(BM_DrawAll_PainterDC)->Unit(benchmark::kMillisecond);

// The same primitives with plain QPainter calls: pens, brushes and fonts made once, no pixel
// rules, no clipping of far coordinates.
void BM_DrawAll_PlainQPainter(benchmark::State& state) {
  DrawFixture& f = Fixture();
  QImage image(1920, 1080, QImage::Format_RGB32);
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter p(&image);
    int pen = -1, brush = -1, font = -1;
    QPoint pos;
    for (const Prim& pr : f.prims) {
      if (pr.pen != pen) p.setPen(f.pens[std::size_t(pen = pr.pen)]);
      if (pr.brush != brush) p.setBrush(f.brushes[std::size_t(brush = pr.brush)]);
      switch (pr.op) {
        case Prim::Move: pos = QPoint(pr.a, pr.b); break;
        case Prim::Line:
          p.drawLine(pos, QPoint(pr.a, pr.b));
          pos = QPoint(pr.a, pr.b);
          break;
        case Prim::Rect: p.drawRect(QRect(QPoint(pr.a, pr.b), QPoint(pr.c - 1, pr.d - 1))); break;
        case Prim::Round: p.drawRoundedRect(QRect(QPoint(pr.a, pr.b), QPoint(pr.c - 1, pr.d - 1)), 25, 25); break;
        case Prim::Ell: p.drawEllipse(QRect(QPoint(pr.a, pr.b), QPoint(pr.c - 1, pr.d - 1))); break;
        case Prim::Arc:
          p.drawArc(QRect(pr.a - pr.c, pr.b - pr.c, 2 * pr.c, 2 * pr.c), int(pr.s0 * 16), int(pr.s1 * 16));
          break;
        case Prim::Text: {
          if (pr.font != font) p.setFont(f.fonts[std::size_t(font = pr.font)]);
          QPen textPen(ToQColor(pr.textColor));
          p.setPen(textPen);
          pen = -1;
          p.drawText(QPoint(pr.a, pr.b + f.ascents[std::size_t(font)]),
                     QString::fromUtf16(pr.text.data(), qsizetype(pr.text.size())));
          break;
        }
      }
    }
    p.end();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DrawAll_PlainQPainter)->Unit(benchmark::kMillisecond);

// A pointer move over 10000 records that misses all but the first: the hover scans them all.
void BM_MouseMoveHover10000(benchmark::State& state) {
  static CMeasureManager* mm = [] {
    auto* m = new CMeasureManager();
    BuildShapes(*m, 10000, 1920, 1080, 11);
    MEASUREBASE first = *m->GetMeasure(0);
    first.m_rcBound = RECT{5000, 5000, 5100, 5100};
    m->SetMeasure(0, first);
    return m;
  }();
  int k = 0;
  for (auto _ : state) {
    const int x = 5000 + (k++ & 63);
    mm->OnMeasureMouseMove(x, 5050);
    benchmark::DoNotOptimize(mm->HoverMeasure());
  }
}
BENCHMARK(BM_MouseMoveHover10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
