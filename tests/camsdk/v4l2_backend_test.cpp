// The V4L2 backend through the camera library's calls, against a stand-in webcam that answers its
// system calls (tests/camsdk/v4l2_fake.h): what it lists, what it asks the driver for, and how it
// ends an open or a stream that cannot go on.
#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

#include "platform/camsdk/backends.h"
#include "tests/camsdk/support.h"
#include "tests/camsdk/v4l2_fake.h"

namespace {

using v4l2fake::Camera;
using v4l2fake::Format;

constexpr v4l2_fract kFps30{1, 30}, kFps15{1, 15}, kFps10{1, 10}, kFps5{1, 5};

std::vector<int>& Events() {
  static std::vector<int> events;
  return events;
}

void OnEvent(void*, int event, int, const char*) { Events().push_back(event); }

class V4l2Backend : public camtest::CamTest {
 protected:
  void SetUp() override {
    CamTest::SetUp();
    CamSdkTestSetModels("");  // the stand-in's cameras only
    Events().clear();
    CamSdkSetDeviceEventCallback(OnEvent, nullptr);
  }
  void TearDown() override {
    CamSdkSetDeviceEventCallback(nullptr, nullptr);
    CamTest::TearDown();
  }

  // The name of the camera the backend opens at that node ("" when none).
  std::string NameAt(int node) {
    for (const camsdk::ModelInfo* m : camsdk::V4l2Backend().List()) {
      fake_.ClearCalls();
      int status = 0;
      const auto device = camsdk::V4l2Backend().OpenWithStatus(*m, &status);
      const auto asked = fake_.Calls(VIDIOC_QUERYCAP);
      if (device && !asked.empty() && asked.back().node == "/dev/video" + std::to_string(node)) return m->deviceName;
    }
    return {};
  }

  const camsdk::ModelInfo* Model(const std::string& name) {
    for (const camsdk::ModelInfo* m : camsdk::V4l2Backend().List())
      if (name == m->deviceName) return m;
    return nullptr;
  }

  int OpenPlaying(const std::string& name) {
    int h = 0;
    EXPECT_EQ(CameraInit(camtest::StoreFrame, name.c_str(), nullptr, &h), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
    return h;
  }

  v4l2fake::Fake fake_;
};

// A webcam as they come: YUYV up to 1280x720 but slowly there, MJPEG for the large sizes, a size
// offered only in MJPEG, and a small size faster in YUYV than the largest.
Camera Webcam() {
  Camera c;
  c.card = "HD Webcam";
  c.serial = "SN-0042";
  c.formats = {
      Format{V4L2_PIX_FMT_YUYV, {{64, 48, {kFps30, kFps15}}, {128, 96, {kFps10, kFps5}}, {32, 24, {kFps30}}}},
      Format{V4L2_PIX_FMT_MJPEG, {{192, 144, {kFps15}}, {128, 96, {kFps30}}, {64, 48, {kFps30}}, {160, 96, {kFps30}}}},
  };
  return c;
}

TEST_F(V4l2Backend, EverySizeOfEveryFormatAtItsOwnFastestInterval) {
  fake_.Plug(Webcam());
  const std::string name = NameAt(0);
  ASSERT_FALSE(name.empty());
  const camsdk::ModelInfo* m = Model(name);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->color);
  std::vector<std::pair<int, int>> sizes;
  for (int i = 0; i < m->resolutionCount; ++i) sizes.emplace_back(m->resolutions[i].width, m->resolutions[i].height);
  const std::vector<std::pair<int, int>> expected{{192, 144}, {160, 96}, {128, 96}, {64, 48}, {32, 24}};
  EXPECT_EQ(sizes, expected);  // the MJPEG-only sizes too, largest first, each once

  // Each size streams in its fastest format, at that format's fastest interval for that size:
  // MJPEG where YUYV is slower, YUYV where both are as fast.
  struct Want {
    std::uint32_t fourcc;
    v4l2_fract interval;
  };
  const Want want[] = {{V4L2_PIX_FMT_MJPEG, kFps15},
                       {V4L2_PIX_FMT_MJPEG, kFps30},
                       {V4L2_PIX_FMT_MJPEG, kFps30},
                       {V4L2_PIX_FMT_YUYV, kFps30},
                       {V4L2_PIX_FMT_YUYV, kFps30}};
  const int h = OpenPlaying(name);
  for (int preset = 0; preset < m->resolutionCount; ++preset) {
    SCOPED_TRACE(preset);
    ASSERT_EQ(CameraSetImageSizeSel(h, preset, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
    fake_.ClearCalls();
    ASSERT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
    const auto set = fake_.Calls(VIDIOC_S_FMT);
    ASSERT_EQ(set.size(), 1u);  // set once, not per frame
    EXPECT_EQ(set[0].fourcc, want[preset].fourcc);
    EXPECT_EQ(set[0].width, sizes[preset].first);
    const auto parm = fake_.Calls(VIDIOC_S_PARM);
    ASSERT_EQ(parm.size(), 1u);
    EXPECT_EQ(parm[0].interval.denominator, want[preset].interval.denominator);
    std::lock_guard<std::mutex> lock(camtest::Last().mu);
    EXPECT_EQ(camtest::Last().info.width, sizes[preset].first);
    EXPECT_EQ(camtest::Last().info.format, CAMSDK_RAW_BGR8);
    // The ramp of the frame, decoded from either format: dark on the left, light on the right.
    const cv::Mat& shown = camtest::Last().shown;
    EXPECT_LT(shown.at<cv::Vec3b>(shown.rows / 2, 1)[1], 60);
    EXPECT_GT(shown.at<cv::Vec3b>(shown.rows / 2, shown.cols - 2)[1], 190);
  }
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(fake_.OpenFiles(), 0);
  EXPECT_EQ(fake_.MappedBuffers(), 0);
}

TEST_F(V4l2Backend, ACameraThatCanDeliverColourIsColourAGreyOnlyOneMono) {
  Camera both;
  both.card = "Dual";
  both.formats = {Format{V4L2_PIX_FMT_GREY, {{64, 48, {kFps30}}}}, Format{V4L2_PIX_FMT_YUYV, {{32, 24, {kFps5}}}}};
  Camera grey;
  grey.card = "Grey";
  grey.bus = "usb-2";
  grey.node = 2;
  grey.formats = {Format{V4L2_PIX_FMT_GREY, {{64, 48, {kFps30}}}}};
  fake_.Plug(both);
  fake_.Plug(grey);
  const camsdk::ModelInfo* dual = Model(NameAt(0));
  const camsdk::ModelInfo* mono = Model(NameAt(2));
  ASSERT_TRUE(dual && mono);
  EXPECT_TRUE(dual->color);  // though GREY was the format in force and is faster
  EXPECT_EQ(dual->resolutionCount, 1);
  EXPECT_EQ(dual->mediaTypes[0].format, CAMSDK_RAW_BGR8);
  EXPECT_FALSE(mono->color);
  EXPECT_EQ(mono->mediaTypes[0].format, CAMSDK_RAW_MONO8);
  const int h = OpenPlaying(mono->deviceName);
  ASSERT_EQ(CamSdkTestDeliverFrames(h, 1), 1);
  EXPECT_EQ(fake_.Calls(VIDIOC_S_FMT).back().fourcc, V4L2_PIX_FMT_GREY);
}

TEST_F(V4l2Backend, ABusyCameraOrARefusedFormatEndsTheOpen) {
  Camera yuyv;
  yuyv.formats = {Format{V4L2_PIX_FMT_YUYV, {{64, 48, {kFps30}}, {32, 24, {kFps30}}}}};
  Camera& cam = fake_.Plug(yuyv);
  const std::string name = NameAt(0);
  ASSERT_FALSE(name.empty());

  struct Case {
    const char* what;
    int setFormatErrno;
    bool changesSize, shortRows;
    int status;
  };
  const Case cases[] = {{"another program streams", EBUSY, false, false, CAMSDK_STATUS_BUSY},
                        {"format refused", EINVAL, false, false, CAMSDK_STATUS_FAILED},
                        {"another size given", 0, true, false, CAMSDK_STATUS_FAILED},
                        {"rows shorter than the width", 0, false, true, CAMSDK_STATUS_FAILED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cam.setFormatErrno = c.setFormatErrno;
    cam.changesSize = c.changesSize;
    cam.shortRows = c.shortRows;
    fake_.ClearCalls();
    int h = -77;
    EXPECT_EQ(CameraInit(camtest::StoreFrame, name.c_str(), nullptr, &h), c.status);
    EXPECT_EQ(h, -77);  // no handle: nothing plays
    EXPECT_LE(fake_.Count(VIDIOC_S_FMT), 1);
    EXPECT_EQ(fake_.Count(VIDIOC_STREAMON), 0);
    EXPECT_EQ(fake_.OpenFiles(), 0);
  }
  // Free again: it opens and plays.
  cam.setFormatErrno = 0;
  cam.changesSize = cam.shortRows = false;
  const int h = OpenPlaying(name);
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 3);
}

TEST_F(V4l2Backend, ASizeTheCameraWillNotStreamIsALossNotASpin) {
  Camera& cam = fake_.Plug(Webcam());
  const std::string name = NameAt(0);
  const int h = OpenPlaying(name);
  ASSERT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
  cam.setFormatErrno = EBUSY;
  ASSERT_EQ(CameraSetImageSizeSel(h, 3, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  fake_.ClearCalls();
  camtest::Last().count = 0;
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 50), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(camtest::Last().count, 0);  // no blank frame in its place
  EXPECT_EQ(fake_.Count(VIDIOC_S_FMT), 1);
  EXPECT_EQ(Events(), std::vector<int>{CAMSDK_EVENT_DEVICE_LOST});
  EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(fake_.MappedBuffers(), 0);
}

TEST_F(V4l2Backend, AStreamWithoutWholeFramesForTwoSecondsIsLost) {
  struct Case {
    const char* what;
    std::function<std::vector<std::uint8_t>(std::uint32_t, int, int, int)> payload;
    int frames;  // whole frames before the stream fails
  };
  // After three frames: nothing more, or frames that are not pictures of the size set.
  const auto third = [](auto after) {
    return [after](std::uint32_t fourcc, int w, int h, int n) {
      return n < 3 ? v4l2fake::DefaultPayload(fourcc, w, h, n) : after(w, h);
    };
  };
  cv::Mat small(24, 32, CV_8UC3, cv::Scalar(10, 200, 10));
  std::vector<std::uint8_t> png, otherSize;
  cv::imencode(".png", small, png);
  cv::imencode(".jpg", small, otherSize);
  const Case cases[] = {
      {"stalled", nullptr, 3},
      {"PNG in place of JPEG", third([&](int, int) { return png; }), 3},
      {"JPEG of another size", third([&](int, int) { return otherSize; }), 3},
      {"JPEG cut short", third([](int w, int h) {
         auto j = v4l2fake::DefaultPayload(V4L2_PIX_FMT_MJPEG, w, h, 0);
         j.resize(j.size() * 2 / 3);
         return j;
       }),
       3},
  };
  int node = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Camera cam;
    cam.card = std::string("MJPEG cam ") + c.what;
    cam.node = node++;
    cam.formats = {Format{V4L2_PIX_FMT_MJPEG, {{64, 48, {kFps30}}}}};
    if (c.payload) cam.payload = c.payload;
    else cam.framesBeforeStall = 3;
    fake_.Plug(cam);
    const std::string name = NameAt(cam.node);
    ASSERT_FALSE(name.empty());
    const int h = OpenPlaying(name);
    camtest::Last().count = 0;
    Events().clear();
    EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 3);
    const std::int64_t lastFrame = fake_.NowMs();
    EXPECT_EQ(CamSdkTestDeliverFrames(h, 10), CAMSDK_STATUS_DEVICE_LOST);
    EXPECT_EQ(camtest::Last().count, c.frames);  // only the whole frames were shown
    EXPECT_EQ(Events(), std::vector<int>{CAMSDK_EVENT_DEVICE_LOST});
    // Told at the stall limit (plus the exposure), not at a multiple of it.
    EXPECT_GE(fake_.NowMs() - lastFrame, camsdk::kV4l2StallMs);
    EXPECT_LE(fake_.NowMs() - lastFrame, camsdk::kV4l2StallMs + 100);
    EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  }
  EXPECT_EQ(fake_.OpenFiles(), 0);
}

TEST_F(V4l2Backend, APulledCameraIsLostAndComesBackUnderItsNameOnAnotherNode) {
  Camera cam = Webcam();
  fake_.Plug(cam);
  const std::string name = NameAt(0);
  EXPECT_EQ(name, "HD Webcam (SN-0042)");  // no node in the name
  std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
  int count = 0;
  ASSERT_EQ(CameraGetDevList(list.data(), &count), CAMSDK_STATUS_OK);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(list[0].deviceName, name.c_str());
  const camsdk::ModelInfo* first = Model(name);
  int h = OpenPlaying(name);
  ASSERT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
  ASSERT_EQ(CameraSetAnalogGain(h, 3.5f), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraSaveParameter(h, 0), CAMSDK_STATUS_OK);

  fake_.Unplug(0);
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 5), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(Events(), std::vector<int>{CAMSDK_EVENT_DEVICE_LOST});
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(Model(name), nullptr);

  // Back on another node and another port: the same camera, its settings with it.
  cam.node = 3;
  cam.bus = "usb-0000:00:14.0-4";
  fake_.Plug(cam);
  EXPECT_EQ(NameAt(3), name);
  EXPECT_EQ(Model(name), first);
  h = OpenPlaying(name);
  float gain = 0;
  ASSERT_EQ(CameraGetAnalogGain(h, &gain), CAMSDK_STATUS_OK);
  EXPECT_EQ(gain, 3.5f);
  fake_.ClearCalls();
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
  EXPECT_EQ(fake_.Calls(VIDIOC_DQBUF).at(0).node, "/dev/video3");
}

TEST_F(V4l2Backend, CamerasWithoutSerialAreToldApartByTheirPort) {
  Camera a;
  a.card = "Cheap Cam";
  a.bus = "usb-0000:00:14.0-1";
  a.formats = {Format{V4L2_PIX_FMT_YUYV, {{32, 24, {kFps30}}}}};
  Camera b = a;
  b.bus = "usb-0000:00:14.0-2";
  b.node = 2;
  fake_.Plug(a);
  fake_.Plug(b);
  const std::string nameA = NameAt(0), nameB = NameAt(2);
  EXPECT_EQ(nameA, "Cheap Cam (usb-0000:00:14.0-1)");
  EXPECT_EQ(nameB, "Cheap Cam (usb-0000:00:14.0-2)");
  // Both pulled; plugged in again into the same ports, in the other order, on other nodes.
  fake_.Unplug(0);
  fake_.Unplug(2);
  b.node = 0;
  a.node = 4;
  fake_.Plug(b);
  fake_.Plug(a);
  EXPECT_EQ(NameAt(4), nameA);
  EXPECT_EQ(NameAt(0), nameB);

  // Two of a model that share a serial number and a hub's bus path stay two cameras.
  Camera twin = a;
  twin.node = 6;
  fake_.Plug(twin);
  EXPECT_EQ(NameAt(4), nameA);
  EXPECT_EQ(NameAt(6), nameA + " #2");
}

TEST_F(V4l2Backend, ADriverThatReportsMoreBytesThanItsBufferIsNotReadPastIt) {
  Camera cam;
  cam.card = "Overreporting";
  cam.formats = {Format{V4L2_PIX_FMT_MJPEG, {{64, 48, {kFps30}}}}};
  cam.extraBytesUsed = 1 << 20;
  // Frames without their end: a decoder given the reported length reads on past the buffer (and
  // faults: the stand-in's buffers end at an inaccessible page).
  cam.payload = [](std::uint32_t fourcc, int w, int h, int n) {
    auto j = v4l2fake::DefaultPayload(fourcc, w, h, n);
    j.resize(j.size() - 2);
    return j;
  };
  fake_.Plug(cam);
  const int h = OpenPlaying(NameAt(0));
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 2), CAMSDK_STATUS_DEVICE_LOST);
}

}  // namespace
