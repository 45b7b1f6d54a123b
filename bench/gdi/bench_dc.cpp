// Per-primitive cost of the painter device context next to plain QPainter calls drawing the
// same figures on a full-HD RGB32 surface (the plain calls know nothing of the pixel rules).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/gdi/font_map.h"
#include "platform/gdi/painter_dc.h"

namespace {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "bench_gdi";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)app;
}

struct Seg {
  int x0, y0, x1, y1;
};

const std::vector<Seg>& Segments() {
  static const std::vector<Seg> segs = [] {
    std::vector<Seg> v;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> px(100, 1800), py(100, 980), d(-100, 100);
    for (int i = 0; i < 1000; ++i) {
      const int x = px(rng), y = py(rng);
      v.push_back(Seg{x, y, x + d(rng), y + d(rng)});
    }
    return v;
  }();
  return segs;
}

enum Kind { kThin, kDotted, kWide, kArc, kText };
const WString kLabel = u"∠ABC：123.45°";

void DrawDC(CPainterDC& dc, Kind kind) {
  dc.SetBkMode(TRANSPARENT);
  dc.SelectObject(CPen(kind == kDotted ? PS_DOT : PS_SOLID, kind == kWide || kind == kArc ? 3 : 1, 0x0000FF));
  dc.SelectObject(CFont(20, u"宋体", 255));
  for (const Seg& s : Segments()) {
    switch (kind) {
      case kArc:
        dc.MoveTo(s.x0 + 40, s.y0);
        dc.AngleArc(s.x0, s.y0, 40, 0.0f, 270.0f);
        break;
      case kText: dc.TextOut(s.x0, s.y0, kLabel); break;
      default:
        dc.MoveTo(s.x0, s.y0);
        dc.LineTo(s.x1, s.y1);
    }
  }
}

void DrawPlain(QPainter& p, Kind kind) {
  QPen pen(QColor(255, 0, 0), kind == kWide || kind == kArc ? 3 : 1, kind == kDotted ? Qt::DotLine : Qt::SolidLine,
           Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  QFont font = gdi::MakeFont(u"宋体", 20, 0, false);
  font.setPixelSize(gdi::PixelSizeForCell(font, 20));
  p.setFont(font);
  const QString label = QString::fromUtf16(kLabel.data(), qsizetype(kLabel.size()));
  for (const Seg& s : Segments()) {
    switch (kind) {
      case kArc: p.drawArc(QRect(s.x0 - 40, s.y0 - 40, 80, 80), 0, 270 * 16); break;
      case kText: p.drawText(QPoint(s.x0, s.y0 + 16), label); break;
      default: p.drawLine(s.x0, s.y0, s.x1, s.y1);
    }
  }
}

void BM_PainterDC(benchmark::State& state) {
  EnsureApp();
  QImage image(1920, 1080, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (auto _ : state) {
    CImageDC dc(image);
    DrawDC(dc, Kind(state.range(0)));
    dc.End();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_PlainQPainter(benchmark::State& state) {
  EnsureApp();
  QImage image(1920, 1080, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (auto _ : state) {
    QPainter p(&image);
    DrawPlain(p, Kind(state.range(0)));
    p.end();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

// Argument: 0 thin lines, 1 dotted lines, 2 wide lines, 3 wide arcs, 4 texts (1000 each).
BENCHMARK(BM_PainterDC)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainQPainter)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// A dotted line to a far intersection point: only its visible part may cost anything.
void BM_FarDottedLine(benchmark::State& state) {
  EnsureApp();
  CImageDC dc(1920, 1080);
  dc.SelectObject(CPen(PS_DOT, 1, 0x00FF00));
  for (auto _ : state) {
    dc.MoveTo(960, 540);
    dc.LineTo(2000000000, -2000000000);
  }
}
BENCHMARK(BM_FarDottedLine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
