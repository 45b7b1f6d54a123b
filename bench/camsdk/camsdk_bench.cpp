// The ISP next to OpenCV's bare demosaic of the same raw frame, and the frame rate a playing
// camera delivers against the rate its settings allow.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/camsdk.h"

namespace {

struct Frame {
  int handle = 0;
  std::vector<unsigned char> raw;
  CamSdkFrameInfo info{};
};

// Opens a model (synchronous mode) and takes one raw frame at its full resolution.
Frame TakeFrame(const char* deviceName) {
  static const auto dir = std::filesystem::temp_directory_path() / "q7v-camsdk-bench";
  CamSdkSetConfigDir(dir.c_str());
  CamSdkTestSetSynchronous(true);
  Frame f;
  if (CameraInit(nullptr, deviceName, nullptr, &f.handle) != CAMSDK_STATUS_OK) return f;
  int x, y, w, h;
  CameraGetImageSize(f.handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
  f.raw.resize(std::size_t(w) * h);
  int format = 0;
  CameraGetMediaType(f.handle, &format);
  CameraGetImageData(f.handle, f.raw.data(), format, &f.info, f.raw.size());
  return f;
}

const char* DeviceFor(int megapixels) { return megapixels >= 20 ? "Q7V-UC2000A 0005" : "Q7V-UC500C 0001"; }

int DemosaicCode(int format) {
  switch (CamSdkRawPattern(format)) {
    case CAMSDK_PATTERN_GRBG: return cv::COLOR_BayerGB2BGR;
    case CAMSDK_PATTERN_RGGB: return cv::COLOR_BayerBG2BGR;
    case CAMSDK_PATTERN_GBRG: return cv::COLOR_BayerGR2BGR;
    default: return cv::COLOR_BayerRG2BGR;
  }
}

void BM_OpenCvBayerToBgr(benchmark::State& state) {
  CamSdkTestReset();
  Frame f = TakeFrame(DeviceFor(int(state.range(0))));
  cv::Mat raw(f.info.height, f.info.width, CV_8U, f.raw.data()), bgr;
  for (auto _ : state) {
    cv::cvtColor(raw, bgr, DemosaicCode(f.info.format));
    benchmark::DoNotOptimize(bgr.data);
  }
  state.counters["MP"] = f.info.width * double(f.info.height) / 1e6;
  CameraUnInit(f.handle);
}

// mode 0: factory settings; mode 1: every image control active.
void BM_CameraISP(benchmark::State& state) {
  CamSdkTestReset();
  Frame f = TakeFrame(DeviceFor(int(state.range(0))));
  if (state.range(1)) {
    CameraSetBlackLevelState(f.handle, 1);
    CameraSetBlackLevel(f.handle, 4, 4, 4, 255);
    CameraSetGamma(f.handle, 60);
    CameraSetContrast(f.handle, 120);
    CameraSetColorEnhancement(f.handle, 1);
    CameraSetSaturation(f.handle, 140);
    CameraSetEdgeEnhance(f.handle, 1);
    CameraSetEdgeGain(f.handle, 50);
    CameraSetMirror(f.handle, CAMSDK_MIRROR_HORIZONTAL, 1);
    CameraSetInverse(f.handle, 1);
  }
  for (auto _ : state) {
    unsigned char* out = CameraISP(f.handle, f.raw.data(), &f.info);
    benchmark::DoNotOptimize(out);
  }
  state.counters["MP"] = f.info.width * double(f.info.height) / 1e6;
  CameraUnInit(f.handle);
}

// Frames per second delivered while playing for 3 s, against the nominal rate.
void BM_DeliveredFrameRate(benchmark::State& state) {
  CamSdkTestReset();
  static const auto dir = std::filesystem::temp_directory_path() / "q7v-camsdk-bench";
  CamSdkSetConfigDir(dir.c_str());
  static const char* kDevices[] = {"Q7V-UM130 0002", "Q7V-UC500C 0001", "Q7V-UC2000A 0005"};
  static std::atomic<int> frames{0};
  frames = 0;
  int h = 0;
  CameraInit([](int handle, unsigned char* raw, CamSdkFrameInfo* info) {
    benchmark::DoNotOptimize(CameraISP(handle, raw, info));
    ++frames;
    return 1;
  }, kDevices[state.range(0)], nullptr, &h);
  CameraSetFrameSpeed(h, int(state.range(1)));
  CameraSetExposureTime(h, 20000);  // 2 ms: the readout sets the rate
  double nominal = 0;
  CamSdkTestGetNominalFrameRate(h, &nominal);
  double measured = 0;
  for (auto _ : state) {
    CameraPlay(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
    const int start = frames.load();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int end = frames.load();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    CameraStop(h);
    measured = (end - start) / secs;
  }
  state.counters["nominal_fps"] = nominal;
  state.counters["delivered_fps"] = measured;
  state.counters["ratio"] = measured / nominal;
  CameraUnInit(h);
}

}  // namespace

BENCHMARK(BM_OpenCvBayerToBgr)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CameraISP)->Args({5, 0})->Args({5, 1})->Args({20, 0})->Args({20, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliveredFrameRate)->Args({0, 1})->Args({1, 1})->Args({2, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
