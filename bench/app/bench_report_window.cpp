// A Word or Excel report of a 20-megapixel frame from the real main window, with the window's
// event loop watched meanwhile: the longest pause between two turns of the loop (a 1 ms timer's
// ticks), how many pauses passed 50 and 200 ms, and the event whose handling took longest (its
// receiver's class and the event's type), so that what holds the window is named. Live (the
// camera delivering at full speed, the view painting) and on a still image. Run it alone; give
// the machine's load (`uptime`) with the figures. BENCH_LINES=n another number of measurements;
// BENCH_VERBOSE=1 prints every pause over 40 ms and each report's longest, with the time (steady
// clock, ms) it ended, to set beside timings of the report's own steps.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "bench/app/bench_window.h"
#include "camera/CameraReport.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"

namespace {

// Times the handling of every event on the user-interface thread.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* e) override {
    if (!watching || depth > 0) return QApplication::notify(receiver, e);
    ++depth;
    QElapsedTimer t;
    t.start();
    const QEvent::Type type = e->type();
    const char* cls = receiver->metaObject()->className();
    const bool r = QApplication::notify(receiver, e);
    const double ms = t.nsecsElapsed() * 1e-6;
    --depth;
    if (ms > longestMs) {
      longestMs = ms;
      longestWhat = std::string(cls) + "/" + std::to_string(int(type));
    }
    return r;
  }
  bool watching = false;
  int depth = 0;
  double longestMs = 0;
  std::string longestWhat;
};

TimedApplication* g_app = nullptr;

void ShowStill(CMainFrame& frame, int w, int h) {
  {
    const FrameView still = frame.CameraObject().NewFrame(MakeFrameFormat(w, h));
    CAMSDK_REQUIRE(bool(still));
    std::uint8_t* px = still.Data();
    for (std::size_t i = 0, n = std::size_t(w) * h * 3; i < n; ++i) px[i] = std::uint8_t((i * 2654435761u) >> 13);
  }
  frame.View()->SetImageState(0, 1);
  frame.OnZoomFitWindow();
}

// What is measured with no report: the live view's own pauses over the same time. WordSpawn
// hands the report to an opener that starts a process, as the desktop's opener does.
enum class Run { Word, Excel, Nothing, WordSpawn };

void ReportPauses(benchmark::State& state, Run run, bool live) {
  const bool word = run == Run::Word || run == Run::WordSpawn;
  CamSdkTestReset();
  CamSdkTestSetModels("aligned");  // 5472 x 3648
  auto frame = bench::MakeFrame();
  const int lines = std::getenv("BENCH_LINES") ? std::atoi(std::getenv("BENCH_LINES")) : 100;
  int w = 5472, h = 3648;
  if (live) {
    bench::GoLiveAtFullSpeed(*frame, lines, &w, &h);
  } else {
    ShowStill(*frame, w, h);
    bench::AddLines(*frame->View()->MeasureManager(), lines, w, h);
  }
  bench::Pump(1000);
  if (run == Run::WordSpawn)
    SetReportOpener([](const QString& path) { return QProcess::startDetached("/bin/true", {path}); });
  else
    SetReportOpener([](const QString&) { return true; });
  double worst = 0, total = 0;
  int over50 = 0, over200 = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    double lastTick = 0, longest = 0, longestAt = 0;
    int n50 = 0, n200 = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const double now = clock.nsecsElapsed() * 1e-6;
      const double gap = now - lastTick;
      if (gap > longest) longest = gap, longestAt = lastTick;
      n50 += gap > 50;
      n200 += gap > 200;
      if (gap > 40 && std::getenv("BENCH_VERBOSE"))
        std::fprintf(stderr, "   gap %.1f ms ending at %.1f\n", gap,
                     std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count());
      lastTick = now;
    });
    ticker.start();
    g_app->longestMs = 0;
    g_app->watching = true;
    QElapsedTimer call;
    call.start();
    if (run != Run::Nothing) frame->ExportReport(word);
    const double callMs = call.nsecsElapsed() * 1e-6;
    if (run == Run::Nothing) bench::Pump(500);
    while (frame->ReportRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    bench::Pump(300);  // what follows the report's end
    g_app->watching = false;
    ticker.stop();
    total += clock.nsecsElapsed() * 1e-6;
    worst = std::max(worst, longest);
    over50 += n50;
    over200 += n200;
    state.SetLabel(g_app->longestWhat + " " + std::to_string(g_app->longestMs) + " ms");
    if (std::getenv("BENCH_VERBOSE"))
      std::fprintf(stderr, "call %.1f ms, longest gap %.1f ms from %.1f ms, report %.1f ms, event %s %.1f ms\n", callMs,
                   longest, longestAt, clock.nsecsElapsed() * 1e-6, g_app->longestWhat.c_str(), g_app->longestMs);
  }
  SetReportOpener(nullptr);
  state.counters["longest_pause_ms"] = worst;
  state.counters["pauses_over_50ms"] = over50;
  state.counters["pauses_over_200ms"] = over200;
  state.counters["report_ms"] = total / double(state.iterations());
  frame->close();
}

}  // namespace

BENCHMARK_CAPTURE(ReportPauses, WordLive, Run::Word, true)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ReportPauses, WordStill, Run::Word, false)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ReportPauses, ExcelLive, Run::Excel, true)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ReportPauses, WordLiveSpawn, Run::WordSpawn, true)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ReportPauses, LiveWithoutReport, Run::Nothing, true)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  return bench::RunWindowBenchmarks<TimedApplication>(argc, argv, nullptr, [](TimedApplication& app) { g_app = &app; });
}
