// What the main-window benchmarks share: pumping events, measurements built as the mouse would,
// the window live at the camera's full frame speed, and a run with settings, camera parameters
// and files in a temporary folder.
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace bench {

inline void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// n lines spread over a w x h image, built as the mouse would.
inline void AddLines(CMeasureManager& mm, int n, int w, int h) {
  for (int i = 0; i < n; ++i) {
    const int x = (i * 97) % (w - 200), y = (i * 61) % (h - 200);
    mm.OnMeasureLButtonDown(x, y, 258, 1);
    mm.OnMeasureMouseMove(x + 150, y + 90);
    mm.OnMeasureLButtonDown(x + 150, y + 90, 256, 0);
  }
  mm.OnMeasureLButtonDown(-100000, -100000, 256, 0);
}

// The main window shown at 1600 x 1000, its boxes answered "no".
inline std::unique_ptr<CMainFrame> MakeFrame() {
  auto frame = std::make_unique<CMainFrame>();
  frame->askYesNo = [](const QString&, const QString&) { return false; };
  frame->messageBox = [](const QString&) {};
  frame->resize(1600, 1000);
  frame->show();
  Pump(100);
  return frame;
}

// Live on the first camera with `lines` measurements over the image: automatic exposure off and
// 1 ms exposure, so that the frame speed (the fastest) decides the rate. The image size into
// *w, *h; returns the camera's handle.
inline int GoLiveAtFullSpeed(CMainFrame& frame, int lines, int* w, int* h) {
  frame.OnCameraLive();
  CCameraProcess& camera = frame.CameraObject();
  stCameraItem item;
  camera.GetCurCameraItem(&item);
  CAMSDK_REQUIRE(CameraSetAeState(item.handle, 0));
  CAMSDK_REQUIRE(CameraSetExposureTime(item.handle, 10000));
  (void)CameraSetFrameSpeed(item.handle, 2);  // optional: where the camera offers it
  CAMSDK_REQUIRE(camera.GetImageSize(camera.GetCurCameraItem(), w, h));
  AddLines(*frame.View()->MeasureManager(), lines, *w, *h);
  return item.handle;
}

// Runs the registered benchmarks in the working folder `dir` (made here), English interface.
// `App` is the application class (a QApplication); `started` sees it made, before the runs.
template <class App = QApplication>
int RunWindowBenchmarks(int argc, char** argv, QTemporaryDir** dirOut = nullptr, void (*started)(App&) = nullptr) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  App app(argc, argv);
  if (started) started(app);
  std::setlocale(LC_NUMERIC, "C");
  QTemporaryDir dir;
  if (dirOut) *dirOut = &dir;
  QDir::setCurrent(dir.path());
  SetRegistryFile(std::filesystem::path(dir.filePath("registry.dat").toStdString()));
  CamSdkSetConfigDir(dir.path().toUtf8().constData());
  SetUiLanguage(UiLanguage::English);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (dirOut) *dirOut = nullptr;
  return 0;
}

}  // namespace bench
