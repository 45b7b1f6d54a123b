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

  // Reads features of the open fake camera while the frame thread keeps off the device.
  template <typename F>
  auto Features(int handle, F&& read) {
    decltype(read(static_cast<ArvCamera*>(nullptr))) value{};
    EXPECT_EQ(camsdk::WithDevice(handle,
                                 [&] {
                                   auto* cam = static_cast<ArvCamera*>(camsdk::ArvTestCamera(kFakeId));
                                   ASSERT_NE(cam, nullptr);
                                   camsdk::ArvScope scope;
                                   value = read(cam);
                                 }),
              1);
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
  // The fake starts in Mono8 but offers Bayer and RGB8: a colour camera, in its Bayer pattern,
  // with processed colour beside it.
  EXPECT_EQ(cap.colorSensor, 1);
  ASSERT_GE(cap.resolutionCount, 1);
  ASSERT_EQ(cap.mediaTypeCount, 2);
  EXPECT_NE(CamSdkRawPattern(cap.mediaTypes[0].format), CAMSDK_PATTERN_MONO);
  EXPECT_EQ(CamSdkRawBits(cap.mediaTypes[0].format), 8);
  EXPECT_EQ(cap.mediaTypes[1].format, CAMSDK_RAW_BGR8);
  EXPECT_EQ(cap.lackingControls, 0);

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

  // Exposure and analog gain from the panel's calls reach the camera's features, the gain in the
  // camera's own raw steps (GainRaw 0..10): the panel's 1x..16x spans them evenly in decibels.
  ASSERT_EQ(CameraSetExposureTime(h, 123400), 1);  // 12.34 ms
  for (const auto& [gain, raw] : {std::pair{2.0f, 3.0}, std::pair{1.0f, 0.0}, std::pair{4.0f, 5.0}, std::pair{16.0f, 10.0}}) {
    ASSERT_EQ(CameraSetAnalogGain(h, gain), 1);
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(Features(h, [](ArvCamera* c) { return arv_camera_get_gain(c, nullptr); }), raw) << gain;
  }
  const double us = Features(h, [](ArvCamera* c) { return arv_camera_get_exposure_time(c, nullptr); });
  EXPECT_NEAR(us, 12340.0, 1.0);

  // A region of interest: frames and buffer at its size, the camera's region at its place.
  ASSERT_EQ(camera->SetImageSize(h, 1, 64, 32, 256, 128, CAMSDK_SIZE_PREVIEW), 1);
  ASSERT_EQ(camera->GetImageSize(index, &w, &ht), 1);
  ASSERT_EQ(cv::Size(w, ht), cv::Size(256, 128));
  ASSERT_TRUE(camera->AllocFrameBuffer(w, ht));
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(BufferSize(), cv::Size(256, 128));
  const auto region = Features(h, [](ArvCamera* c) {
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
