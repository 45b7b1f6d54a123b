// The frame display and the live path of the camera object, headless.
// - DrawImage of a 20-megapixel frame with 100 measurements into 1600 x 1000, next to OpenCV's
//   area-averaging resize of the same frame to the same size.
// - Live: a playing simulated camera (its own thread, its own rate) to a drawn 1600 x 1000
//   surface; and the same path driven as fast as a camera thread can deliver, to find what it
//   sustains. Counters: frames the camera delivered, took into the buffer and the view drew per
//   second, and how many frames the shown picture lagged at the end (0: the newest was shown).
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "bench/camera/bench_main.h"

namespace {

class NoCapture : public IMouseCapture {
 public:
  void SetCapture() override {}
  void ReleaseCapture() override {}
};

// The view: 100 measurements, and a surface it draws every frame it is told of.
class BenchView : public ICameraView {
 public:
  BenchView(int imageW, int imageH) {
    mm.SetNotifyTarget(&capture, nullptr);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> px(100, imageW - 900), py(100, imageH - 900), d(50, 800);
    const int kinds[] = {MK_LINE, MK_RECT, MK_CIRCLE2, MK_ANGLE, MK_ELLIPSE};
    for (int i = 0; i < 100; ++i) {
      const int kind = kinds[i % 5];
      const int x = px(rng), y = py(rng);
      mm.OnMeasureLButtonDown(x, y, kind, 1);
      for (int k = 1; k < 4 && mm.InProgress(); ++k) {
        const int qx = x + d(rng), qy = y + d(rng);
        mm.OnMeasureMouseMove(qx, qy);
        mm.OnMeasureLButtonDown(qx, qy, MK_NONE, 0);
      }
    }
    mm.SelectMeasure(-1, nullptr);
  }
  CMeasureManager* MeasureManager() override { return &mm; }
  RECT ViewClientRect() const override { return {0, 0, 1600, 1000}; }
  RECT ImageWindowRect() const override { return {0, 0, 1600, 1000}; }
  void FrameReady(CCameraProcess& camera) override {
    QPainter p(&surface);
    camera.DrawImage(p, surface.width(), surface.height());
    shown = camera.FrameSequence();
    ++drawn;
  }
  NoCapture capture;
  CMeasureManager mm;
  QImage surface{1600, 1000, QImage::Format_RGB32};
  std::uint64_t shown = 0;
  std::uint64_t drawn = 0;
};

void FillPattern(CCameraProcess& camera, int w, int h) {
  const FrameView frame = camera.ViewFrame();
  CAMSDK_REQUIRE(bool(frame));
  std::uint8_t* px = frame.Data();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = px + (std::size_t(y) * w + x) * 3;
      p[0] = std::uint8_t(x / 7 + y / 5);
      p[1] = std::uint8_t((x ^ y) >> 3);
      p[2] = std::uint8_t(y / 11);
    }
}

constexpr int kW20 = 5472, kH20 = 3648;

void BM_DrawImage20MP(benchmark::State& state) {
  CCameraProcess camera;
  BenchView view(kW20, kH20);
  camera.SetView(&view);
  CAMSDK_REQUIRE(camera.SetFrameFormat(MakeFrameFormat(kW20, kH20)));
  FillPattern(camera, kW20, kH20);
  for (auto _ : state) {
    QPainter p(&view.surface);
    camera.DrawImage(p, 1600, 1000);
  }
  state.counters["measurements"] = view.mm.GetMeasureCount();
}
BENCHMARK(BM_DrawImage20MP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawImage5MP(benchmark::State& state) {
  CCameraProcess camera;
  BenchView view(2592, 1944);
  camera.SetView(&view);
  CAMSDK_REQUIRE(camera.SetFrameFormat(MakeFrameFormat(2592, 1944)));
  FillPattern(camera, 2592, 1944);
  for (auto _ : state) {
    QPainter p(&view.surface);
    camera.DrawImage(p, 1600, 1000);
  }
}
BENCHMARK(BM_DrawImage5MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// The camera library's conversion alone, for reference: the floor of the live path per frame.
void BM_Isp(benchmark::State& state) {
  const bool big = state.range(0) != 0;
  CamSdkTestReset();
  CamSdkTestSetModels(big ? "aligned" : "color");
  CamSdkTestSetSynchronous(true);
  CamSdkDeviceInfo list[CAMSDK_MAX_DEVICES];
  int count = 0, handle = -1, format = 0, w = 0, h = 0, x = 0, y = 0;
  CAMSDK_REQUIRE(CameraGetDevList(list, &count));
  CAMSDK_REQUIRE(CameraInit(nullptr, list[0].deviceName, nullptr, &handle));
  CAMSDK_REQUIRE(CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
  CAMSDK_REQUIRE(CameraGetMediaType(handle, &format));
  std::vector<unsigned char> raw(std::size_t(w) * h * 2), out(std::size_t(w) * h * 3);
  CamSdkFrameInfo info{};
  if (CameraGetImageData(handle, raw.data(), format, &info, raw.size()) != 1) state.SkipWithError("no raw frame");
  for (auto _ : state)
    if (CamSdkISPInto(handle, raw.data(), &info, out.data(), out.size()) != 1) state.SkipWithError("no conversion");
  CAMSDK_REQUIRE(CameraUnInit(handle));
  CamSdkTestReset();
}
BENCHMARK(BM_Isp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResizeArea20MP(benchmark::State& state) {
  cv::Mat src(kH20, kW20, CV_8UC3), dst;
  cv::randu(src, 0, 255);
  for (auto _ : state) cv::resize(src, dst, cv::Size(1600, 1000), 0, 0, cv::INTER_AREA);
}
BENCHMARK(BM_ResizeArea20MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// One live run of `seconds`. Arg 0: the camera plays at its own rate. Arg 1: a thread has the
// simulated camera deliver frames back to back (its scene rendering included). Arg 2: a thread
// replays one raw frame of the camera into the frame callback back to back: the conversion and
// everything after it, without the simulation's sensor rendering, which a real camera does in
// hardware.
void RunLive(benchmark::State& state, const char* model, const char* device, int preset) {
  const int mode = int(state.range(0));
  const bool driven = mode != 0;
  const double seconds = 4.0;
  for (auto _ : state) {
    CamSdkTestReset();
    CamSdkTestSetModels(model);
    CamSdkTestSetSynchronous(driven);
    CCameraProcess camera;
    std::vector<stCameraItem> items(kMaxCameraList);
    int count = 0;
    camera.EnumCameras(items.data(), &count);
    std::int32_t params[kOpenParamCount] = {};
    params[kOpenDisplayWidth] = 1600;
    params[14] = 1000;
    if (count < 1 || std::string(items[0].device.deviceName) != device || camera.OpenCamera(0, params, nullptr) != 1) {
      state.SkipWithError("no camera");
      return;
    }
    stCameraItem item;
    camera.GetCameraItem(0, &item);
    const int handle = item.handle;
    (void)CameraSetFrameSpeed(handle, CAMSDK_FRAME_SPEED_HIGH);  // optional: where the camera offers it
    CAMSDK_REQUIRE(CameraSetExposureTime(handle, 20000));  // 2 ms
    CAMSDK_REQUIRE(camera.SetImageSizeSel(handle, preset, CAMSDK_SIZE_PREVIEW));
    int w = 0, h = 0;
    CAMSDK_REQUIRE(camera.GetImageSize(0, &w, &h));
    CAMSDK_REQUIRE(camera.AllocFrameBuffer(w, h));
    BenchView view(w, h);
    camera.SetView(&view);
    double nominal = 0;
    CamSdkTestGetNominalFrameRate(handle, &nominal);

    std::vector<unsigned char> rawFrame(std::size_t(w) * std::size_t(h) * 2);
    CamSdkFrameInfo rawInfo{};
    if (mode == 2) {
      int format = 0;
      CAMSDK_REQUIRE(CameraGetMediaType(handle, &format));
      CAMSDK_REQUIRE(CameraPause(handle));
      if (CameraGetImageData(handle, rawFrame.data(), format, &rawInfo, rawFrame.size()) != 1) {
        state.SkipWithError("no raw frame");
        return;
      }
    }
    std::atomic<bool> stop{false};
    std::thread feeder;
    if (mode == 1)
      feeder = std::thread([&] {
        while (!stop.load()) CamSdkTestDeliverFrames(handle, 1);
      });
    if (mode == 2)
      feeder = std::thread([&] {
        for (CamSdkFrameInfo info = rawInfo; !stop.load(); ++info.frameNumber) FrameCallback(handle, rawFrame.data(), &info);
      });
    const std::uint32_t received0 = camera.FrameStatistics().ReceivedFrames();
    const std::uint64_t taken0 = camera.FrameSequence();
    const auto t0 = std::chrono::steady_clock::now();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::uint32_t received = camera.FrameStatistics().ReceivedFrames() - received0;
    const std::uint64_t taken = camera.FrameSequence() - taken0;
    const std::uint64_t drawn = view.drawn;
    stop = true;
    if (feeder.joinable()) feeder.join();
    CAMSDK_REQUIRE(CameraPause(handle));
    QCoreApplication::processEvents();
    state.counters["camera_fps"] = received / elapsed;
    state.counters["taken_fps"] = double(taken) / elapsed;
    state.counters["shown_fps"] = double(drawn) / elapsed;
    state.counters["nominal_fps"] = driven ? 0.0 : nominal;
    state.counters["lag_frames"] = double(camera.FrameSequence() - view.shown);
    state.counters["megapixels"] = w * double(h) / 1e6;
    camera.CloseCamera(0);
  }
  CamSdkTestReset();
}

void BM_Live5MP(benchmark::State& state) { RunLive(state, "color", "Q7V-UC500C 0001", 0); }
void BM_Live20MP(benchmark::State& state) { RunLive(state, "aligned", "Q7V-UC2000A 0005", 0); }
BENCHMARK(BM_Live5MP)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Live20MP)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::RunCameraBenchmarks(argc, argv); }
