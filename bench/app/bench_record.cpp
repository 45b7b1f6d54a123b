// Recording in the real main window: a 20-megapixel camera at its full frame speed with 1000
// measurements on the overlay, recorded for a few seconds. Reports the camera's and the view's
// frames per second while recording, the frames the recorder dropped, how long the Record
// commands that start and stop it hold the user-interface thread, how long the file takes to be closed,
// and the process's peak memory. Run it alone (the peak is the process's), offscreen and under
// xvfb-run with QT_QPA_PLATFORM=xcb. BENCH_NO_RECORD=1 gives the same run without recording,
// BENCH_LINES=n another number of measurements.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <clocale>
#include <cstdlib>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "bench/app/bench_window.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"

using bench::Pump;

namespace {

double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;
}

void Record(benchmark::State& state, const char* model) {
  CamSdkTestReset();
  CamSdkTestSetModels(model);
  auto frame = bench::MakeFrame();
  CCameraProcess& camera = frame->CameraObject();
  int w = 0, h = 0;
  const int handle = bench::GoLiveAtFullSpeed(
      *frame, std::getenv("BENCH_LINES") ? std::atoi(std::getenv("BENCH_LINES")) : 1000, &w, &h);
  double nominal = 0;
  CamSdkTestGetNominalFrameRate(handle, &nominal);
  Pump(1000);
  for (auto _ : state) {
    CStaticEx* win = frame->View()->ImageWindow();
    QElapsedTimer start;
    start.start();
    if (!std::getenv("BENCH_NO_RECORD")) frame->OnRecord();
    state.counters["start_ms"] = start.nsecsElapsed() * 1e-6;
    const std::uint64_t paints0 = win->paints;
    const std::uint32_t received0 = frame->FrameStatistics().ReceivedFrames();
    QElapsedTimer t;
    t.start();
    Pump(6000);
    const double secs = t.nsecsElapsed() * 1e-9;
    const double shown = double(win->paints - paints0);
    const double received = double(frame->FrameStatistics().ReceivedFrames() - received0);
    QElapsedTimer stop;
    stop.start();
    if (!std::getenv("BENCH_NO_RECORD")) frame->OnRecord();  // stops
    const double stopMs = stop.nsecsElapsed() * 1e-6;
    camera.WaitRecordingsFinished();
    const double closedMs = stop.nsecsElapsed() * 1e-6;
    const auto& r = camera.LastRecording();
    state.counters["camera_fps"] = received / secs;
    state.counters["shown_fps"] = shown / secs;
    state.counters["nominal_fps"] = nominal;
    state.counters["file_fps"] = r.framesPerSecond;
    state.counters["written"] = double(r.framesWritten);
    state.counters["dropped"] = double(r.framesDropped);
    state.counters["stop_ms"] = stopMs;
    state.counters["file_closed_ms"] = closedMs;
    state.counters["peak_rss_mb"] = PeakRssMb();
    state.counters["width"] = w;
    state.counters["height"] = h;
    if (!std::getenv("BENCH_NO_RECORD") && r.status != CAMSDK_STATUS_OK) state.SkipWithError("the recording failed");
  }
  frame->close();
}

}  // namespace

BENCHMARK_CAPTURE(Record, 20MP, "aligned")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Record, 5MP, "color")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) { return bench::RunWindowBenchmarks(argc, argv); }
