// Reading a 20 MP bitmap with BitmapFile against cv::imread of the same file, and the image
// list's thumbnails of 200 captured 5 MP bitmaps: the total time, the event loop's longest
// stall meanwhile, and OpenCV decoding the same files alone. The files live in a temporary
// folder and are read once before timing, so that every contender finds them in the cache.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/BitmapFile.h"
#include "imaging/ImageListPane.h"

namespace {

QTemporaryDir* g_dir = nullptr;

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void Touch(const QString& path) {
  QFile f(path);
  if (f.open(QIODevice::ReadOnly))
    while (!f.read(1 << 22).isEmpty()) {
    }
}

QString MakeBitmap(const QString& name, int w, int h, int seed) {
  const QString path = g_dir->filePath(name);
  if (QFile::exists(path)) return path;
  std::vector<std::uint8_t> pixels(std::size_t(w) * h * 3);
  std::uint32_t x = 2463534242u + std::uint32_t(seed);
  for (std::size_t i = 0; i < pixels.size(); i += 3) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    pixels[i] = std::uint8_t(x);
    pixels[i + 1] = std::uint8_t((i / 3) % std::size_t(w));
    pixels[i + 2] = std::uint8_t(x >> 8);
  }
  WriteBitmapFile(path, pixels.data(), w, h);
  Touch(path);
  return path;
}

// 20 MP: 5472 x 3648.
const QString& Big() {
  static const QString path = MakeBitmap("big.bmp", 5472, 3648, 1);
  return path;
}

// 200 captures of 5 MP: 2592 x 1944.
const QStringList& Captures() {
  static const QStringList paths = [] {
    QStringList p;
    for (int i = 0; i < 200; ++i) p << MakeBitmap(QString("cap%1.bmp").arg(i, 3, 10, QChar('0')), 2592, 1944, i);
    return p;
  }();
  return paths;
}

void BM_BitmapFileRead20MP(benchmark::State& state) {
  const QString path = Big();
  for (auto _ : state) {
    BitmapImage image;
    if (ReadBitmapFile(path, &image) != BitmapStatus::Ok) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * 5472LL * 3648 * 3);
}
BENCHMARK(BM_BitmapFileRead20MP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvImread20MP(benchmark::State& state) {
  const std::string path = Big().toStdString();
  for (auto _ : state) {
    cv::Mat m = cv::imread(path, cv::IMREAD_COLOR);
    if (m.empty()) state.SkipWithError("imread failed");
    benchmark::DoNotOptimize(m.data);
  }
  state.SetBytesProcessed(state.iterations() * 5472LL * 3648 * 3);
}
BENCHMARK(BM_CvImread20MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// The list pane takes 200 files; the event loop runs a 1 ms timer meanwhile and records the
// longest gap between its ticks, the adding included.
void BM_ImageListThumbnails200x5MP(benchmark::State& state) {
  const QStringList& paths = Captures();
  double maxStallMs = 0;
  double maxStallCpuMs = 0;  // the GUI thread's own work in a gap (the rest is waiting for a core)
  for (auto _ : state) {
    auto pane = std::make_unique<CImageListPane>();
    pane->resize(800, 600);
    pane->show();
    QApplication::processEvents();  // the empty pane is up before the captures arrive
    QEventLoop loop;
    QElapsedTimer clock, gap;
    QTimer tick;
    tick.setInterval(1);
    double cpuMark = ThreadCpuMs();
    QObject::connect(&tick, &QTimer::timeout, [&] {
      maxStallMs = std::max(maxStallMs, gap.nsecsElapsed() / 1e6);
      const double cpu = ThreadCpuMs();
      maxStallCpuMs = std::max(maxStallCpuMs, cpu - cpuMark);
      cpuMark = cpu;
      gap.restart();
      if (pane->Dialog()->Count() == paths.size() && pane->Dialog()->PendingThumbnails() == 0) loop.quit();
    });
    clock.start();
    gap.start();
    tick.start();
    // The captures arrive one per event-loop turn, as from the capture command.
    int next = 0;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
      if (next < paths.size()) pane->Dialog()->AddImageFile(0, paths[next++]);
      if (next == paths.size()) feeder.stop();
    });
    feeder.start();
    loop.exec();
    state.SetIterationTime(clock.nsecsElapsed() / 1e9);
  }
  state.counters["max_stall_ms"] = maxStallMs;
  state.counters["max_stall_cpu_ms"] = maxStallCpuMs;
}
BENCHMARK(BM_ImageListThumbnails200x5MP)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// OpenCV alone: decode each file and scale it to the thumbnail, one after the other.
void BM_CvDecode200x5MP(benchmark::State& state) {
  const QStringList& paths = Captures();
  for (auto _ : state) {
    for (const QString& p : paths) {
      cv::Mat m = cv::imread(p.toStdString(), cv::IMREAD_COLOR), thumb;
      cv::resize(m, thumb, cv::Size(120, 90), 0, 0, cv::INTER_AREA);
      benchmark::DoNotOptimize(thumb.data);
    }
  }
}
BENCHMARK(BM_CvDecode200x5MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QTemporaryDir dir;
  g_dir = &dir;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
