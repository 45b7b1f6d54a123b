// The camera's own frame thread: stopping returns only when no callback runs and none will
// follow, calls from the main thread are safe while frames flow, and calls from inside the
// callback do not deadlock. Short runs; these also run under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> gInCallback{0};
std::atomic<int> gCalls{0};
std::atomic<int> gPauseAt{-1};
std::atomic<int> gInnerPause{0}, gInnerUnInit{0};
std::atomic<bool> gRecord{false};

int SlowCallback(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  gInCallback = 1;
  unsigned char* bgr = CameraISP(handle, raw, info);
  // asserted: the tests count what was shown and recorded
  if (bgr) (void)CameraDisplayRGB24(handle, bgr, info);
  if (bgr && gRecord) (void)CameraRecordFrame(handle, bgr, info);
  std::this_thread::sleep_for(2ms);
  const int n = ++gCalls;
  if (n == gPauseAt) {
    gInnerUnInit = CameraUnInit(handle);
    gInnerPause = CameraPause(handle);
  }
  gInCallback = 0;
  return 1;
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(5ms);
  return done();
}

class Threads : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("q7v-camsdk-threads-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    CamSdkSetConfigDir(dir_.c_str());
    CamSdkTestReset();
    CamSdkTestSetModels("all");
    gCalls = 0;
    gPauseAt = -1;
    gRecord = false;
  }
  void TearDown() override {
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  int Open(const char* name, int preset) {
    int h = 0;
    EXPECT_EQ(CameraInit(SlowCallback, name, nullptr, &h), CAMSDK_STATUS_OK);
    CAMSDK_OK(CameraSetImageSizeSel(h, preset, CAMSDK_SIZE_PREVIEW));
    CAMSDK_OK(CameraSetExposureTime(h, 20000));
    return h;
  }
  std::filesystem::path dir_;
};

TEST_F(Threads, PauseStopAndUnInitLeaveNoCallbackRunning) {
  const int h = Open("Q7V-UM130 0002", 1);
  for (int round = 0; round < 3; ++round) {
    for (auto stop : {CameraPause, CameraStop}) {
      ASSERT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
      const int start = gCalls;
      ASSERT_TRUE(WaitFor([&] { return gCalls >= start + 3; }));
      ASSERT_EQ(stop(h), CAMSDK_STATUS_OK);
      EXPECT_EQ(gInCallback, 0);
      const int stopped = gCalls;
      std::this_thread::sleep_for(30ms);
      EXPECT_EQ(gCalls, stopped);
    }
  }
  CAMSDK_OK(CameraPlay(h));
  ASSERT_TRUE(WaitFor([&] { return gCalls >= 25; }));
  ASSERT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(gInCallback, 0);
  const int closed = gCalls;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(gCalls, closed);
  EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_INVALID_HANDLE);
}

TEST_F(Threads, CallsFromInsideTheCallbackDoNotDeadlock) {
  gPauseAt = 3;
  const int h = Open("Q7V-UM130 0002", 1);
  CAMSDK_OK(CameraPlay(h));
  ASSERT_TRUE(WaitFor([&] { return gCalls >= 3; }));
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(gCalls, 3);  // paused from inside: nothing followed
  EXPECT_EQ(gInnerUnInit, CAMSDK_STATUS_BUSY);
  EXPECT_EQ(gInnerPause, CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

TEST_F(Threads, ParameterCallsWhileFramesFlow) {
  const int h = Open("Q7V-UC500C 0001", 2);
  CAMSDK_OK(CameraPlay(h));
  ASSERT_TRUE(WaitFor([&] { return gCalls >= 2; }));
  CAMSDK_OK(CameraSetAeState(h, 1));
  CAMSDK_OK(CameraSetAWBState(h, 1));
  gRecord = true;
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  // At least 400 ms and 8 frames shown (sanitized builds are slow), at most 8 s.
  const auto start = std::chrono::steady_clock::now();
  auto shownCount = [&] {
    std::uint64_t shown = 0;
    CamSdkTestGetDisplayCount(h, &shown);
    return shown;
  };
  std::vector<unsigned char> buffer;
  int i = 0;
  while ((std::chrono::steady_clock::now() < start + 400ms || shownCount() < 8) &&
         std::chrono::steady_clock::now() < start + 8s) {
    ++i;
    EXPECT_EQ(CameraSetGamma(h, 50 + i % 100), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetGain(h, 1.0f + (i % 10) * 0.1f, 1.0f, 1.5f), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetMirror(h, i % 2, i % 3 == 0), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetSaturation(h, i % 200), CAMSDK_STATUS_OK);
    float g = 0;
    EXPECT_EQ(CameraGetAnalogGain(h, &g), CAMSDK_STATUS_OK);
    std::uint64_t e, mx, mn;
    EXPECT_EQ(CameraGetExposureTime(h, &e, &mx, &mn), CAMSDK_STATUS_OK);
    if (i % 25 == 0) {
      // Stop, change size and restart, as the panel does; then a raw frame of the new size.
      CAMSDK_OK(CameraStop(h));
      CAMSDK_OK(CameraSetImageSizeSel(h, (i / 25) % 2 ? 1 : 2, CAMSDK_SIZE_PREVIEW));
      CAMSDK_OK(CameraPlay(h));
      int x, y, w, hh, format;
      CAMSDK_OK(CameraGetImageSize(h, nullptr, &x, &y, &w, &hh, CAMSDK_SIZE_PREVIEW));
      CAMSDK_OK(CameraGetMediaType(h, &format));
      buffer.assign(std::size_t(w) * hh, 0);
      CamSdkFrameInfo info{};
      // Under ThreadSanitizer, with the recorder's encoders busy, the first frame after a restart
      // can take longer than the call's deadline; a timeout there is slowness, not a lost frame.
      int got = CAMSDK_STATUS_TIMEOUT;
      for (int attempt = 0; attempt < 5 && got == CAMSDK_STATUS_TIMEOUT; ++attempt)
        got = CameraGetImageData(h, buffer.data(), format, &info);
      EXPECT_EQ(got, CAMSDK_STATUS_OK);
      EXPECT_EQ(info.width, w);
    }
    std::this_thread::sleep_for(1ms);
  }
  // Stopping the recording while frames flow closes a readable file.
  ASSERT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_OK);
  char name[512];
  ASSERT_EQ(CamSdkGetRecordFileName(h, name, sizeof name), CAMSDK_STATUS_OK);
  EXPECT_GE(shownCount(), 8u);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  // Reading it back is the synchronous tests' job (the decoder registers libraries of its own).
  EXPECT_GT(std::filesystem::file_size(name), 10000u);
}

TEST_F(Threads, UnpluggingWhileStreamingStopsTheFrames) {
  const int h = Open("Q7V-UM130 0002", 1);
  CAMSDK_OK(CameraPlay(h));
  ASSERT_TRUE(WaitFor([&] { return gCalls >= 3; }));
  ASSERT_EQ(CamSdkTestDetach("mono"), CAMSDK_STATUS_OK);
  EXPECT_EQ(gInCallback, 0);
  const int n = gCalls;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(gCalls, n);
  float g = 0;
  EXPECT_EQ(CameraGetAnalogGain(h, &g), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

}  // namespace
