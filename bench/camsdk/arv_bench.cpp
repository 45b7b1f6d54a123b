// Frames per second from Aravis' fake camera: through the camera library's core into a frame
// buffer (the ISP's BGR conversion and copy, as the program's frame callback does), against
// Aravis' own acquisition loop alone (pop, push back), same size and rate, in the same run.
#include <arv.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"

namespace {

constexpr int kSize = 512;            // the fake's sensor binned 4 x 4
constexpr double kRate = 1000.0;      // the fake's fastest frame rate
constexpr auto kWindow = std::chrono::seconds(3);

std::atomic<long> gFrames{0};
std::vector<unsigned char> gBuffer(std::size_t(kSize) * kSize * 3);

int ToFrameBuffer(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  if (CamSdkISPInto(handle, raw, info, gBuffer.data(), gBuffer.size()) == CAMSDK_STATUS_OK) ++gFrames;
  return 1;
}

void BM_ArvFakeThroughCore(benchmark::State& state) {
  CamSdkSetConfigDir((std::filesystem::temp_directory_path() / "q7v-arv-bench").c_str());
  camsdk::ArvSetFakeInterface(true);
  CamSdkTestSetModels("");
  std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
  int count = 0, handle = 0;
  CAMSDK_REQUIRE(CameraGetDevList(list.data(), &count));
  const char* name = nullptr;
  for (int i = 0; i < count; ++i)
    if (camsdk::ArvDeviceId(list[i].deviceName) == "Fake_1") name = list[i].deviceName;
  if (!name || CameraInit(ToFrameBuffer, name, nullptr, &handle) != CAMSDK_STATUS_OK) {
    state.SkipWithError("no fake camera");
    return;
  }
  int presets = 0;
  CamSdkCapability cap{};
  CAMSDK_REQUIRE(CameraGetCapability(handle, &cap));
  for (int i = 0; i < cap.resolutionCount; ++i)
    if (cap.resolutions[i].width == kSize) presets = i;
  CAMSDK_REQUIRE(CameraSetImageSizeSel(handle, presets, CAMSDK_SIZE_PREVIEW));
  CAMSDK_REQUIRE(CameraSetExposureTime(handle, 1000));  // 100 us
  CAMSDK_REQUIRE(CameraPlay(handle));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the stream runs with the settings
  CAMSDK_REQUIRE(CameraPause(handle));
  arv_camera_set_frame_rate(static_cast<ArvCamera*>(camsdk::ArvTestCamera("Fake_1")), kRate, nullptr);
  CAMSDK_REQUIRE(CameraPlay(handle));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto _ : state) {
    const long start = gFrames.load();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kWindow);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["fps"] = double(gFrames.load() - start) / s;
  }
  CAMSDK_REQUIRE(CameraUnInit(handle));
}

void BM_ArvFakeAcquisitionLoop(benchmark::State& state) {
  arv_enable_interface("Fake");
  ArvCamera* cam = arv_camera_new("Fake_1", nullptr);
  if (!cam) {
    state.SkipWithError("no fake camera");
    return;
  }
  arv_camera_set_binning(cam, 4, 4, nullptr);
  arv_camera_set_region(cam, 0, 0, kSize, kSize, nullptr);
  arv_camera_set_pixel_format(cam, ARV_PIXEL_FORMAT_MONO_8, nullptr);
  arv_camera_set_exposure_time(cam, 100, nullptr);
  arv_camera_set_frame_rate(cam, kRate, nullptr);
  ArvStream* stream = arv_camera_create_stream(cam, nullptr, nullptr, nullptr);
  const guint payload = arv_camera_get_payload(cam, nullptr);
  for (int i = 0; i < 4; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
  arv_camera_start_acquisition(cam, nullptr);
  for (auto _ : state) {
    long frames = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - t0 < kWindow) {
      ArvBuffer* b = arv_stream_timeout_pop_buffer(stream, 1000000);
      if (!b) continue;
      frames += arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS;
      arv_stream_push_buffer(stream, b);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["fps"] = double(frames) / s;
  }
  arv_camera_stop_acquisition(cam, nullptr);
  g_object_unref(stream);
  g_object_unref(cam);
}

BENCHMARK(BM_ArvFakeAcquisitionLoop)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArvFakeThroughCore)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
