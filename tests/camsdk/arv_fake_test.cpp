// The program's camera path against Aravis' fake GenICam camera: listed before the simulated
// models, opened and played live through the camera object on the library's frame thread, its
// features read back through Aravis, captured, recorded, closed and reopened, and pulled while
// live. Labelled "threads": CI runs it under ThreadSanitizer too.
#include <arv.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>

#include <opencv2/imgcodecs.hpp>

#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camera/camera_support.h"

namespace {

constexpr const char* kFakeId = "Fake_1";

class ArvFakeTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    CamSdkTestSetSynchronous(false);
    camsdk::ArvSetFakeInterface(true);
  }
  void TearDown() override {
    CameraTest::TearDown();
    camsdk::ArvSetFakeInterface(true);
  }

  int FakeIndex() {
    for (int i = 0; i < camera->GetCameraCount(); ++i) {
      stCameraItem item;
      camera->GetCameraItem(i, &item);
      if (camsdk::ArvDeviceId(item.device.deviceName) == kFakeId) return i;
    }
    return -1;
  }

  // Runs the event loop until the frame sequence has advanced by `frames` (or a minute passed).
  bool WaitFrames(int frames) {
    const std::uint64_t start = camera->FrameSequence();
    QElapsedTimer clock;
    clock.start();
    while (camera->FrameSequence() < start + std::uint64_t(frames)) {
      if (clock.elapsed() > 60000) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }

  cv::Size BufferSize() {
    BITMAPINFOHEADER f{};
    camera->GetFrameFormat(&f);
    return {f.biWidth, f.biHeight};
  }

  // Reads a feature of the open fake camera with the stream paused.
  template <typename F>
  auto Paused(int handle, F&& read) {
    EXPECT_EQ(CameraPause(handle), 1);
    auto* cam = static_cast<ArvCamera*>(camsdk::ArvTestCamera(kFakeId));
    EXPECT_NE(cam, nullptr);
    auto value = read(cam);
    EXPECT_EQ(CameraPlay(handle), 1);
    return value;
  }

  FakeView view;
};

TEST_F(ArvFakeTest, ListedFirstAndNamedByVendorModelSerial) {
  ASSERT_EQ(CamSdkTestSetModels("mono"), 1);
  ASSERT_EQ(List(), 2);
  stCameraItem first, second;
  ASSERT_TRUE(camera->GetCameraItem(0, &first));
  ASSERT_TRUE(camera->GetCameraItem(1, &second));
  EXPECT_STREQ(first.device.deviceName, "Aravis Fake 1");
  EXPECT_STREQ(first.device.portType, "Aravis fake");
  EXPECT_STREQ(second.device.deviceName, "Q7V-UM130 0002");
  // No simulated models: the fake camera alone.
  ASSERT_EQ(CamSdkTestSetModels(""), 0);
  EXPECT_EQ(List(), 1);
  // The interface switched off: nothing.
  camsdk::ArvSetFakeInterface(false);
  EXPECT_EQ(List(), 0);
}

TEST_F(ArvFakeTest, LiveFramesFeaturesRoiCaptureRecordingAndReopen) {
  CamSdkTestSetModels("");
  ASSERT_EQ(List(), 1);
  camera->SetView(&view);
  view.AddLine({10, 10}, {300, 200});
  const int index = FakeIndex();
  ASSERT_EQ(index, 0);
  ASSERT_EQ(Open(index), 1);
  const int h = Handle(index);

  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(h, &cap), 1);
  EXPECT_EQ(cap.monoSensor, 1);  // the fake delivers Mono8 unless told otherwise
  ASSERT_GE(cap.resolutionCount, 1);
  ASSERT_EQ(cap.mediaTypeCount, 2);  // Mono8, and Mono16 as 12-bit
  EXPECT_EQ(cap.mediaTypes[1].format, CAMSDK_RAW_MONO12);

  int w = 0, ht = 0;
  ASSERT_EQ(camera->GetImageSize(index, &w, &ht), 1);
  EXPECT_EQ(w, cap.sensorWidth);
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(BufferSize(), cv::Size(w, ht));
  {
    const FrameView frame = camera->ViewFrame();
    ASSERT_TRUE(frame);
    cv::Mat img(ht, w, CV_8UC3, frame.Data());
    double lo, hi;
    cv::minMaxLoc(img.reshape(1), &lo, &hi);
    EXPECT_LT(lo, hi);  // the fake's pattern, not a blank
  }

  // Exposure and analog gain from the panel's calls reach the camera's features.
  ASSERT_EQ(CameraSetExposureTime(h, 123400), 1);  // 12.34 ms
  ASSERT_EQ(CameraSetAnalogGain(h, 2.0f), 1);
  ASSERT_TRUE(WaitFrames(2));
  const double us = Paused(h, [](ArvCamera* c) { return arv_camera_get_exposure_time(c, nullptr); });
  EXPECT_NEAR(us, 12340.0, 1.0);
  const double db = Paused(h, [](ArvCamera* c) { return arv_camera_get_gain(c, nullptr); });
  EXPECT_NEAR(db, 20 * std::log10(2.0), 0.51);  // the fake's gain has whole steps

  // A region of interest: frames and buffer at its size, the camera's region at its place.
  ASSERT_EQ(camera->SetImageSize(h, 1, 64, 32, 256, 128, CAMSDK_SIZE_PREVIEW), 1);
  ASSERT_EQ(camera->GetImageSize(index, &w, &ht), 1);
  ASSERT_EQ(cv::Size(w, ht), cv::Size(256, 128));
  ASSERT_TRUE(camera->AllocFrameBuffer(w, ht));
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(BufferSize(), cv::Size(256, 128));
  const auto region = Paused(h, [](ArvCamera* c) {
    int x = -1, y = -1, rw = 0, rh = 0;
    arv_camera_get_region(c, &x, &y, &rw, &rh, nullptr);
    return cv::Rect(x, y, rw, rh);
  });
  EXPECT_EQ(region, cv::Rect(64, cap.sensorHeight - 32 - 128, 256, 128));  // rows counted from the top

  // A captured bitmap at the region's size, and a short recording.
  ASSERT_EQ(camera->SaveImageBmp(FromUtf8((Path() / "shot").string())), 1);
  const cv::Mat shot = cv::imread((Path() / "shot.bmp").string());
  ASSERT_FALSE(shot.empty());
  EXPECT_EQ(shot.size(), cv::Size(256, 128));
  ASSERT_TRUE(camera->RecordVideo(index));
  ASSERT_TRUE(WaitFrames(5));
  camera->RecordVideo(index);
  QCoreApplication::processEvents();
  EXPECT_GE(VideoFrames(h, 256, 128), 1);

  // Closed and opened again: frames flow again at the full size.
  ASSERT_EQ(camera->CloseCamera(index), 1);
  EXPECT_EQ(camsdk::ArvTestCamera(kFakeId), nullptr);
  ASSERT_EQ(List(), 1);
  ASSERT_EQ(Open(index), 1);
  ASSERT_EQ(camera->SetImageSizeSel(Handle(index), 0, CAMSDK_SIZE_PREVIEW), 1);
  ASSERT_EQ(camera->GetImageSize(index, &w, &ht), 1);
  ASSERT_TRUE(camera->AllocFrameBuffer(w, ht));
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(BufferSize(), cv::Size(cap.sensorWidth, cap.sensorHeight));
  EXPECT_EQ(camera->CloseCamera(index), 1);
}

TEST_F(ArvFakeTest, PulledWhileLiveLeavesTheListAndComesBack) {
  CamSdkTestSetModels("");
  ASSERT_EQ(List(), 1);
  const int index = FakeIndex();
  ASSERT_EQ(Open(index), 1);
  const int h = Handle(index);
  ASSERT_TRUE(WaitFrames(2));

  // The fake interface cannot unplug its camera: it leaves the listing, and the open device
  // gets the "control-lost" signal Aravis emits when a camera's cable is pulled.
  camsdk::ArvSetFakeInterface(false);
  ASSERT_TRUE(camsdk::ArvTestControlLost(kFakeId));
  QElapsedTimer clock;
  clock.start();
  int r = 1;
  while (clock.elapsed() < 30000 && (r = CameraPlay(h)) == 1) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(r, CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(List(), 0);
  camera->CloseCamera(index);

  // Back: listed under the same name, opened and live again.
  camsdk::ArvSetFakeInterface(true);
  ASSERT_EQ(List(), 1);
  ASSERT_EQ(Open(FakeIndex()), 1);
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(camera->CloseCamera(FakeIndex()), 1);
}

}  // namespace
