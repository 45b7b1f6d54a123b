// The application's own paths in the real main window (offscreen unless QT_QPA_PLATFORM says
// otherwise): the live display at 5 and 20 megapixels with 100 measurements on the overlay, a
// mouse move over a view holding 10000 measurements (hovering, and dragging one of them), the
// frame's paint at fit against the whole-frame draw, and opening a 20-megapixel bitmap against
// OpenCV's reader of the same file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <cstdlib>

#include <opencv2/imgcodecs.hpp>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "bench/app/bench_window.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"

using bench::AddLines;
using bench::GoLiveAtFullSpeed;
using bench::MakeFrame;
using bench::Pump;

namespace {

QTemporaryDir* g_dir = nullptr;

// Live for a few seconds: frames shown per second against the camera's, the GUI thread's time
// per shown frame, and the frames that arrived while one was painted.
void LiveDisplay(benchmark::State& state, const char* model) {
  CamSdkTestReset();
  CamSdkTestSetModels(model);
  auto frame = MakeFrame();
  int w = 0, h = 0;
  GoLiveAtFullSpeed(*frame, 100, &w, &h);
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
  {
    const FrameView still = frame.CameraObject().NewFrame(MakeFrameFormat(w, h));
    CAMSDK_REQUIRE(bool(still));
    std::uint8_t* px = still.Data();
    for (std::size_t i = 0; i < std::size_t(w) * h * 3; ++i) px[i] = std::uint8_t(i * 7);
  }
  frame.View()->SetImageState(0, 1);
  frame.OnZoomFitWindow();
}

// The time from a pointer move to the repainted view: as it happens (most moves change nothing
// drawn), when the move comes with a change of what is drawn over the measurements (the selected
// one, as a hovered one's handles would be), and when all 10000 measurements must be drawn again
// (a measurement dragged).
// Median and 95th percentile of the times (ms) as counters.
void Percentiles(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

// A drag moves one of the 10000 (pressed on it first, at the middle of the list).
enum class MoveKind { AsItHappens, HoverChanged, AllRedrawn, Drag };
void MouseMoveRepaint(benchmark::State& state, MoveKind kind) {
  CamSdkTestReset();
  auto frame = MakeFrame();
  ShowStill(*frame, 5472, 3648);
  AddLines(*frame->View()->MeasureManager(), 10000, 5472, 3648);
  CApplicationView* view = frame->View();
  CMeasureManager& mm = *view->MeasureManager();
  QPoint c = view->ImageWindow()->geometry().center();
  if (kind == MoveKind::Drag) {
    // The middle of line 5000, in client pixels.
    const MEASUREBASE& m = *mm.GetMeasure(5000);
    const QRect r = view->ImageWindow()->geometry();
    const double ix = (m.m_arrPoint[0].x + m.m_arrPoint[1].x) / 2.0, iy = (m.m_arrPoint[0].y + m.m_arrPoint[1].y) / 2.0;
    c = QPoint(r.left() + int((ix + 0.5) * r.width() / 5472), r.top() + int((iy + 0.5) * r.height() / 3648));
    // Pressed on it through the engine, as the view's press would; the moves go through the view.
    mm.OnMeasureMouseMove(int(ix), int(iy));
    mm.OnMeasureMouseMove(int(ix), int(iy));
    mm.OnMeasureLButtonDown(int(ix), int(iy), mm.CurrentKind(), 0);
    QTest::mouseMove(view, c + QPoint(1, 1));
    view->ImageWindow()->repaint();  // the drag's first paint keeps the others
    if (mm.MovingMeasure() < 0) state.SkipWithError("no measurement dragged");
    state.counters["dragged_index"] = mm.MovingMeasure();
  }
  std::vector<double> ms;
  int i = 0;
  for (auto _ : state) {
    const QPoint p = c + QPoint(i % 50, (i / 50) % 50);
    ++i;
    QElapsedTimer t;
    t.start();
    QTest::mouseMove(view, p);
    if (kind == MoveKind::HoverChanged) mm.SelectMeasure(i % 2, nullptr);
    if (kind == MoveKind::AllRedrawn) view->ImageWindow()->InvalidateOverlay();
    view->ImageWindow()->repaint();
    ms.push_back(t.nsecsElapsed() * 1e-6);
  }
  if (kind == MoveKind::Drag) QTest::mouseRelease(view, Qt::LeftButton, {}, c);
  Percentiles(state, std::move(ms));
  state.counters["window_w"] = view->ImageWindow()->width();
  state.counters["view_w"] = view->width();
  state.counters["view_h"] = view->height();
  frame->close();
}

// The frame of a 20-megapixel still at fit: the view's paint of its visible part (read in place
// from the frame) against the whole frame drawn to the same window size, and the view's whole
// repaint with the frame scaled again.
enum class FitKind { VisiblePart, WholeFrame, ViewRepaint };
void PaintAtFit(benchmark::State& state, FitKind kind) {
  CamSdkTestReset();
  auto frame = MakeFrame();
  ShowStill(*frame, 5472, 3648);
  CStaticEx* win = frame->View()->ImageWindow();
  CCameraProcess& camera = frame->CameraObject();
  const QRect visible = win->rect() & QRect(win->mapFromParent(QPoint(0, 0)), frame->View()->size());
  QImage target(kind == FitKind::WholeFrame ? win->size() : visible.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    if (kind == FitKind::ViewRepaint) {
      win->InvalidateOverlay(true);
      win->repaint();
      continue;
    }
    QPainter p(&target);
    if (kind == FitKind::VisiblePart) {
      p.translate(-visible.topLeft());
      camera.DrawImageRegion(p, win->width(), win->height(), visible, false);
    } else {
      camera.DrawImage(p, win->width(), win->height());
    }
  }
  state.counters["window_w"] = win->width();
  state.counters["window_h"] = win->height();
  state.counters["visible_w"] = visible.width();
  state.counters["visible_h"] = visible.height();
  frame->close();
}

void OpenBitmap(benchmark::State& state, bool opencv) {
  static QString path;
  if (path.isEmpty()) {
    path = g_dir->filePath("big.bmp");
    cv::Mat m(3648, 5472, CV_8UC3);
    cv::randu(m, 0, 255);
    cv::imwrite(path.toStdString(), m);
  }
  // Made and closed here: a window that outlived the application crashed the program at exit.
  const std::unique_ptr<CMainFrame> frame = opencv ? nullptr : MakeFrame();
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
BENCHMARK_CAPTURE(MouseMoveRepaint, drag_one_of_10000, MoveKind::Drag)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(PaintAtFit, visible_part_20MP, FitKind::VisiblePart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PaintAtFit, whole_frame_20MP, FitKind::WholeFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PaintAtFit, view_repaint_20MP, FitKind::ViewRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OpenBitmap, view_LoadBitmapFile, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OpenBitmap, cv_imread, true)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) { return bench::RunWindowBenchmarks(argc, argv, &g_dir); }
