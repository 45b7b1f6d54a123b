// What the main-window benchmarks share: pumping events, measurements built as the mouse would,
// and a run with settings, camera parameters and files in a temporary folder.
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk.h"
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

// Runs the registered benchmarks in the working folder `dir` (made here), English interface.
inline int RunWindowBenchmarks(int argc, char** argv, QTemporaryDir** dirOut = nullptr) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
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
