// The camera benchmarks' run: settings and camera parameters in a temporary folder.
#pragma once

#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace bench {

inline int RunCameraBenchmarks(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QTemporaryDir dir;
  setenv("Q7V_REGISTRY_FILE", (dir.path() + "/registry.dat").toUtf8().constData(), 1);
  setenv("Q7V_CAMSDK_CONFIG_DIR", dir.path().toUtf8().constData(), 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
