// The application's own paths in the real main window (offscreen): the live display at 5 and
// 20 megapixels with 100 measurements on the overlay, a mouse move over a view holding 10000
// measurements, and opening a 20-megapixel bitmap against OpenCV's reader of the same file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdlib>

#include <opencv2/imgcodecs.hpp>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/camsdk/camsdk.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {

QTemporaryDir* g_dir = nullptr;

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// n lines spread over a w x h image, built as the mouse would.
void AddLines(CMeasureManager& mm, int n, int w, int h) {
  for (int i = 0; i < n; ++i) {
    const int x = (i * 97) % (w - 200), y = (i * 61) % (h - 200);
    mm.OnMeasureLButtonDown(x, y, 258, 1);
    mm.OnMeasureMouseMove(x + 150, y + 90);
    mm.OnMeasureLButtonDown(x + 150, y + 90, 256, 0);
  }
  mm.OnMeasureLButtonDown(-100000, -100000, 256, 0);
}

std::unique_ptr<CMainFrame> MakeFrame() {
  auto frame = std::make_unique<CMainFrame>();
  frame->askYesNo = [](const QString&, const QString&) { return false; };
  frame->messageBox = [](const QString&) {};
  frame->resize(1600, 1000);
  frame->show();
  Pump(100);
  return frame;
}

// Live for a few seconds: frames shown per second against the camera's, the GUI thread's time
// per shown frame, and the frames that arrived while one was painted.
void LiveDisplay(benchmark::State& state, const char* model) {
  CamSdkTestReset();
  CamSdkTestSetModels(model);
  auto frame = MakeFrame();
  frame->OnCameraLive();
  stCameraItem item;
  frame->CameraObject().GetCurCameraItem(&item);
  CameraSetAeState(item.handle, 0);
  CameraSetExposureTime(item.handle, 10000);  // 1 ms, so the frame speed decides the rate
  CameraSetFrameSpeed(item.handle, 2);
  int w = 0, h = 0;
  frame->CameraObject().GetImageSize(frame->CameraObject().GetCurCameraItem(), &w, &h);
  AddLines(*frame->View()->MeasureManager(), 100, w, h);
  Pump(1000);
  for (auto _ : state) {
    CStaticEx* win = frame->View()->ImageWindow();
    const std::uint64_t paints0 = win->paints, lag0 = win->lagFrames;
    const double busy0 = win->paintSeconds;
    const std::uint64_t seq0 = frame->CameraObject().FrameSequence();
    QElapsedTimer t;
    t.start();
    Pump(4000);
    const double secs = t.nsecsElapsed() * 1e-9;
    const double shown = double(win->paints - paints0);
    state.counters["shown_fps"] = shown / secs;
    state.counters["camera_fps"] = double(frame->CameraObject().FrameSequence() - seq0) / secs;
    state.counters["gui_ms_per_frame"] = shown > 0 ? (win->paintSeconds - busy0) * 1000.0 / shown : 0.0;
    state.counters["lag_frames"] = shown > 0 ? double(win->lagFrames - lag0) / shown : 0.0;
    state.counters["width"] = w;
    state.counters["height"] = h;
  }
  frame->close();
}

// A still w x h frame with a ramp, shown fitted.
void ShowStill(CMainFrame& frame, int w, int h) {
  BITMAPINFOHEADER f{};
  f.biSize = 40;
  f.biWidth = w;
  f.biHeight = h;
  f.biPlanes = 1;
  f.biBitCount = 24;
  auto lock = frame.CameraObject().LockFrameBuffer();
  frame.CameraObject().SetFrameFormat(f);
  std::uint8_t* px = nullptr;
  frame.CameraObject().GetFrameBuffer(&px);
  for (std::size_t i = 0; i < std::size_t(w) * h * 3; ++i) px[i] = std::uint8_t(i * 7);
  lock.unlock();
  frame.View()->SetImageState(0, 1);
  frame.OnZoomFitWindow();
}

// The time from a pointer move to the repainted view: as it happens (most moves change nothing
// drawn), when the move changes the hovered measurement (its handles are drawn), and when all
// 10000 measurements must be drawn again (a measurement dragged).
enum class MoveKind { AsItHappens, HoverChanged, AllRedrawn };
void MouseMoveRepaint(benchmark::State& state, MoveKind kind) {
  CamSdkTestReset();
  auto frame = MakeFrame();
  ShowStill(*frame, 5472, 3648);
  AddLines(*frame->View()->MeasureManager(), 10000, 5472, 3648);
  CApplicationView* view = frame->View();
  const QPoint c = view->ImageWindow()->geometry().center();
  int i = 0;
  for (auto _ : state) {
    const QPoint p = c + QPoint(i % 50, (i / 50) % 50);
    ++i;
    QTest::mouseMove(view, p);
    if (kind == MoveKind::HoverChanged) view->MeasureManager()->m_nHoverMeasure = i % 2;
    if (kind == MoveKind::AllRedrawn) view->ImageWindow()->InvalidateOverlay();
    view->ImageWindow()->repaint();
  }
  frame->close();
}

void OpenBitmap(benchmark::State& state, bool opencv) {
  static QString path;
  static std::unique_ptr<CMainFrame> frame;
  if (path.isEmpty()) {
    path = g_dir->filePath("big.bmp");
    cv::Mat m(3648, 5472, CV_8UC3);
    cv::randu(m, 0, 255);
    cv::imwrite(path.toStdString(), m);
  }
  if (!frame) frame = MakeFrame();
  for (auto _ : state) {
    if (opencv) {
      cv::Mat m = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
      benchmark::DoNotOptimize(m.data);
    } else {
      benchmark::DoNotOptimize(frame->View()->LoadBitmapFile(path));
    }
  }
}

}  // namespace

BENCHMARK_CAPTURE(LiveDisplay, 5MP, "color")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LiveDisplay, 20MP, "aligned")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(MouseMoveRepaint, as_it_happens, MoveKind::AsItHappens)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(MouseMoveRepaint, hover_changed, MoveKind::HoverChanged)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(MouseMoveRepaint, all_redrawn, MoveKind::AllRedrawn)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(OpenBitmap, view_LoadBitmapFile, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OpenBitmap, cv_imread, true)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QTemporaryDir dir;
  g_dir = &dir;
  QDir::setCurrent(dir.path());
  SetRegistryFile(std::filesystem::path(dir.filePath("registry.dat").toStdString()));
  CamSdkSetConfigDir(dir.path().toUtf8().constData());
  SetUiLanguage(UiLanguage::English);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
