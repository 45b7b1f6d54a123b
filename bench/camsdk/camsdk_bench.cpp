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
#include "platform/camsdk/camsdk_testing.h"

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
  CAMSDK_REQUIRE(CameraGetImageSize(f.handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
  f.raw.resize(std::size_t(w) * h);
  int format = 0;
  CAMSDK_REQUIRE(CameraGetMediaType(f.handle, &format));
  CAMSDK_REQUIRE(CameraGetImageData(f.handle, f.raw.data(), format, &f.info, f.raw.size()));
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

// Controls of the second argument: 0 factory settings; 1 the per-pixel table controls (black
// level, white balance, gamma, contrast, inverse) and mirroring; 2 also saturation (a 3x3
// matrix) and sharpening.
void SetControls(int handle, int level) {
  if (level >= 1) {
    CAMSDK_REQUIRE(CameraSetBlackLevelState(handle, 1));
    CAMSDK_REQUIRE(CameraSetBlackLevel(handle, 4, 4, 4, 255));
    CAMSDK_REQUIRE(CameraSetGain(handle, 1.3f, 1.0f, 1.5f));
    CAMSDK_REQUIRE(CameraSetGamma(handle, 60));
    CAMSDK_REQUIRE(CameraSetContrast(handle, 120));
    CAMSDK_REQUIRE(CameraSetInverse(handle, 1));
    CAMSDK_REQUIRE(CameraSetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, 1));
    CAMSDK_REQUIRE(CameraSetMirror(handle, CAMSDK_MIRROR_VERTICAL, 1));
  }
  if (level >= 2) {
    CAMSDK_REQUIRE(CameraSetColorEnhancement(handle, 1));
    CAMSDK_REQUIRE(CameraSetSaturation(handle, 140));
    CAMSDK_REQUIRE(CameraSetEdgeEnhance(handle, 1));
    CAMSDK_REQUIRE(CameraSetEdgeGain(handle, 50));
  }
}

// CameraISP and OpenCV's bare Bayer-to-BGR of the same raw frame, timed alternately in the same
// iterations (the machine's load hits both alike); "ratio" is ISP time over demosaic time.
void BM_CameraIspVsDemosaic(benchmark::State& state) {
  CamSdkTestReset();
  Frame f = TakeFrame(DeviceFor(int(state.range(0))));
  SetControls(f.handle, int(state.range(1)));
  cv::Mat raw(f.info.height, f.info.width, CV_8U, f.raw.data()), bgr;
  double cvt = 0, isp = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    cv::cvtColor(raw, bgr, DemosaicCode(f.info.format));
    const auto t1 = std::chrono::steady_clock::now();
    unsigned char* out = CameraISP(f.handle, f.raw.data(), &f.info);
    const auto t2 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(bgr.data);
    benchmark::DoNotOptimize(out);
    cvt += std::chrono::duration<double, std::milli>(t1 - t0).count();
    isp += std::chrono::duration<double, std::milli>(t2 - t1).count();
  }
  const double n = double(state.iterations());
  state.counters["MP"] = f.info.width * double(f.info.height) / 1e6;
  state.counters["demosaic_ms"] = cvt / n;
  state.counters["isp_ms"] = isp / n;
  state.counters["ratio"] = isp / cvt;
  CAMSDK_REQUIRE(CameraUnInit(f.handle));
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
  CAMSDK_REQUIRE(CameraInit([](int handle, unsigned char* raw, CamSdkFrameInfo* info) {
    benchmark::DoNotOptimize(CameraISP(handle, raw, info));
    ++frames;
    return 1;
  }, kDevices[state.range(0)], nullptr, &h));
  CAMSDK_REQUIRE(CameraSetFrameSpeed(h, int(state.range(1))));
  CAMSDK_REQUIRE(CameraSetExposureTime(h, 20000));  // 2 ms: the readout sets the rate
  double nominal = 0;
  CamSdkTestGetNominalFrameRate(h, &nominal);
  double measured = 0;
  for (auto _ : state) {
    CAMSDK_REQUIRE(CameraPlay(h));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
    const int start = frames.load();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int end = frames.load();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    CAMSDK_REQUIRE(CameraStop(h));
    measured = (end - start) / secs;
  }
  state.counters["nominal_fps"] = nominal;
  state.counters["delivered_fps"] = measured;
  state.counters["ratio"] = measured / nominal;
  CAMSDK_REQUIRE(CameraUnInit(h));
}

}  // namespace

BENCHMARK(BM_CameraIspVsDemosaic)
    ->ArgsProduct({{5, 20}, {0, 1, 2}})
    ->MinTime(1.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliveredFrameRate)->Args({0, 1})->Args({1, 1})->Args({2, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
