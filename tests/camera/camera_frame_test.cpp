// The frame path with the simulated cameras in synchronous mode: normalisation, size gating,
// the frame-ready notice, the layer panel, recording and the frame rate.
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include <opencv2/videoio.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "platform/imglib/imglib.h"
#include "tests/camera/camera_support.h"
#include "tests/camsdk_ok.h"
#include "tests/fs_faults.h"

namespace {

class FramePathTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    camera->SetView(&view);
    camera->SetLayerPanel(&panel);
    panel.visible = false;
    ASSERT_EQ(List(), 5);
    mono = IndexOf("Q7V-UM130 0002");
    ASSERT_EQ(Open(mono), 1);
    handle = Handle(mono);
    // The 640 x 512 preset, as the camera panel switches it.
    ASSERT_EQ(camera->SetImageSizeSel(handle, 1, CAMSDK_SIZE_PREVIEW), 1);
    ASSERT_TRUE(camera->AllocFrameBuffer(640, 512));
  }
  int Deliver(int n, int h = -1) { return CamSdkTestDeliverFrames(h < 0 ? handle : h, n); }
  static void Events() { QCoreApplication::sendPostedEvents(); }
  double MeanLevel() {
    std::vector<std::uint8_t> px;
    EXPECT_TRUE(camera->CopyFrame(&px, nullptr));
    return px.empty() ? 0.0 : std::accumulate(px.begin(), px.end(), 0.0) / double(px.size());
  }

  FakeView view;
  FakePanel panel;
  int mono = -1, handle = -1;
};

TEST_F(FramePathTest, GreyNormalisationInTheAssistantsModesAndAtTheFramesOwnBitDepth) {
  ASSERT_EQ(Deliver(1), 1);
  const double plain = MeanLevel();
  camera->SetFrameMode(CCameraProcess::FrameMode::kBrightened);
  camera->SetBrightnessTarget(230);
  Deliver(1);
  const double bright = MeanLevel();
  camera->SetBrightnessTarget(30);
  Deliver(1);
  const double dark = MeanLevel();
  EXPECT_GT(bright, plain + 20);
  EXPECT_LT(dark, plain - 20);
  // The assistant's search (mode 1) shows the brightened picture too; mode 0 the plain one.
  camera->SetFrameMode(CCameraProcess::FrameMode::kFocusSearch);
  Deliver(1);
  EXPECT_NEAR(MeanLevel(), dark, 3.0);
  camera->SetFrameMode(CCameraProcess::FrameMode::kPlain);
  Deliver(1);
  EXPECT_NEAR(MeanLevel(), plain, 3.0);

  // A 12-bit frame is normalised as 12-bit samples, with the same outcome as an 8-bit one.
  camera->SetFrameMode(CCameraProcess::FrameMode::kBrightened);
  camera->SetBrightnessTarget(230);
  ASSERT_EQ(CameraSetMediaTypeSel(handle, 1), 1);
  int format = 0;
  CAMSDK_OK(CameraGetMediaType(handle, &format));
  ASSERT_EQ(CamSdkRawBits(format), 12);
  Deliver(1);
  EXPECT_NEAR(MeanLevel(), bright, 12.0);
}

// Streaming cameras keep their last raw frame for its readers (the focus assistant's grey
// level, the black level): the brightening of the shown picture must leave it as it was.
TEST_F(CameraTest, BrighteningLeavesTheRawFrameTheLibraryKeeps) {
  CamSdkTestSetSynchronous(false);
  ASSERT_EQ(List(), 5);
  const int mono = IndexOf("Q7V-UM130 0002");
  ASSERT_EQ(Open(mono), 1);
  stCameraItem item;
  camera->GetCameraItem(mono, &item);
  int w = 0, h = 0;
  ASSERT_EQ(camera->GetImageSize(mono, &w, &h), 1);
  ASSERT_TRUE(camera->AllocFrameBuffer(w, h));
  auto rawGrey = [&] {
    int media = 0;
    CAMSDK_OK(CameraGetMediaType(item.handle, &media));
    std::vector<unsigned char> buffer(std::size_t(w) * h);
    CamSdkFrameInfo info{};
    EXPECT_EQ(CameraGetImageData(item.handle, buffer.data(), media, &info, buffer.size()), CAMSDK_STATUS_OK);
    int grey = -1;
    KvImgGetRawGray(KvImgRaw{buffer.data(), info.width, info.height, 8, info.format}, &grey);
    return grey;
  };
  CAMSDK_OK(CameraSetAeState(item.handle, 0));
  CAMSDK_OK(CameraSetExposureTime(item.handle, 50000));  // 5 ms: a dim raw frame
  rawGrey();                                  // a frame that may have started before
  const int plain = rawGrey();
  ASSERT_GT(plain, 5);
  ASSERT_LT(plain, 120);
  camera->SetBrightnessTarget(250);
  camera->SetFrameMode(CCameraProcess::FrameMode::kBrightened);
  rawGrey();
  EXPECT_NEAR(rawGrey(), plain, 15);  // flicker and noise, never the target
  camera->SetFrameMode(CCameraProcess::FrameMode::kFocusSearch);
  EXPECT_NEAR(rawGrey(), plain, 15);
}

TEST_F(FramePathTest, OnlyFramesOfTheBufferSizeAreTakenAndEachNoticeShowsTheNewest) {
  view.surface = QImage(320, 256, QImage::Format_RGB32);
  ASSERT_TRUE(camera->AllocFrameBuffer(320, 256));
  const std::uint32_t counted = camera->FrameStatistics().ReceivedFrames();
  EXPECT_EQ(Deliver(3), 3);
  EXPECT_EQ(camera->FrameSequence(), 0u);
  EXPECT_EQ(camera->FrameStatistics().ReceivedFrames(), counted + 3);  // counted all the same
  Events();
  EXPECT_EQ(view.frameReady, 0);
  EXPECT_DOUBLE_EQ(MeanLevel(), 0.0);

  ASSERT_TRUE(camera->AllocFrameBuffer(640, 512));
  EXPECT_EQ(Deliver(5), 5);
  EXPECT_EQ(camera->FrameSequence(), 5u);
  EXPECT_GT(MeanLevel(), 10.0);
  // Five frames, one notice: the view draws once, and what it draws is the fifth frame.
  Events();
  EXPECT_EQ(view.frameReady, 1);
  EXPECT_EQ(view.shownSequence, 5u);
  Deliver(1);
  Events();
  EXPECT_EQ(view.frameReady, 2);

  // A frame the ISP fails on is dropped; the next one comes through.
  CamSdkTestInjectFailure("CamSdkISPInto", CAMSDK_STATUS_FAILED, 1);
  Deliver(1);
  EXPECT_EQ(camera->FrameSequence(), 6u);
  Deliver(1);
  EXPECT_EQ(camera->FrameSequence(), 7u);

  // A notice still pending when the camera closes finds no frame and draws nothing.
  Deliver(1);
  EXPECT_EQ(camera->CloseCamera(mono), 1);
  Events();
  EXPECT_EQ(view.frameReady, 2);
}

TEST_F(FramePathTest, DrawingModeAndLayerPanelModes) {
  // Library drawing: the frame goes to the library's display, not to the view.
  camera->SetDrawMode(0);
  Deliver(2);
  Events();
  std::uint64_t displayed = 0;
  CamSdkTestGetDisplayCount(handle, &displayed);
  EXPECT_EQ(displayed, 1u);
  EXPECT_EQ(view.frameReady, 0);
  camera->SetDrawMode(1);

  struct Case {
    bool visible;
    int mode;
    int shown;
  } cases[] = {{false, 2, 0}, {true, 1, 0}, {true, 4, 0}, {true, 2, 1}, {true, 3, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    panel.visible = c.visible;
    panel.mode = c.mode;
    panel.shown = 0;
    Deliver(1);
    Events();
    EXPECT_EQ(panel.shown, c.shown);
    if (c.shown) {
      EXPECT_EQ(panel.picture.size(), panel.size);
    }
  }
}

// A recording that cannot start says so, naming the video folder and the reason: a read-only
// folder (a real read-only mount where the test may make one), a disk too full for the file's
// header, a folder the library refused without a reason, a camera that answered otherwise.
TEST_F(FramePathTest, ARecordingThatCannotStartSaysWhereAndWhy) {
  const std::filesystem::path folder = Path() / "videos";
  std::filesystem::create_directory(folder);
  stVideoSetting vs;
  camera->GetVideoSetting(&vs);
  vs.folder = FromUtf8(folder.string());
  camera->SetVideoSetting(vs);
  const std::string start = "The recording could not start: the video folder \"" + folder.string() + "\" cannot be written (";
  {
    fs_faults::ReadOnlyFolder readOnly(folder);
    if (readOnly.mounted) {
      EXPECT_FALSE(camera->RecordVideo(mono));
      EXPECT_EQ(ToUtf8(camera->RecordStartFailure()), start + "the folder is read-only).");
    }
  }
  CamSdkTestFailRecordWritesAfter(0);
  EXPECT_FALSE(camera->RecordVideo(mono));
  EXPECT_EQ(ToUtf8(camera->RecordStartFailure()), start + "the disk is full).");
  CamSdkTestFailRecordWritesAfter(-1);
  CamSdkTestInjectFailure("CameraStartRecordVideo", CAMSDK_STATUS_FILE_ERROR, 1);
  EXPECT_FALSE(camera->RecordVideo(mono));
  EXPECT_EQ(ToUtf8(camera->RecordStartFailure()), start + "the reason is not known).");
  CamSdkTestInjectFailure("CameraStartRecordVideo", CAMSDK_STATUS_BUSY, 1);
  EXPECT_FALSE(camera->RecordVideo(mono));
  EXPECT_EQ(camera->RecordStartFailure(), FormatW(u"The recording could not start (the camera answered %d).", CAMSDK_STATUS_BUSY));
  EXPECT_FALSE(camera->IsRecording());
  EXPECT_TRUE(std::filesystem::is_empty(folder));  // nothing written by any of them

  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_EQ(camera->RecordStartFailure(), u"");
  EXPECT_FALSE(camera->RecordVideo(mono));
  camera->WaitRecordingsFinished();
}

TEST_F(FramePathTest, RecordingTakesTheRecordingCamerasFramesAndStopsWhereItRuns) {
  const int color = IndexOf("Q7V-UC500C 0001");
  ASSERT_EQ(Open(color), 1);
  const int other = Handle(color);
  stVideoSetting vs;
  camera->GetVideoSetting(&vs);
  vs.folder = QString::fromStdString((Path() / "vid").string()).toStdU16String();
  vs.spare = 9;
  camera->SetVideoSetting(vs);

  // A start the library refuses changes nothing and reports failure.
  CamSdkTestInjectFailure("CameraStartRecordVideo", CAMSDK_STATUS_FILE_ERROR, 1);
  EXPECT_FALSE(camera->RecordVideo(mono));
  EXPECT_FALSE(camera->IsRecording());
  camera->GetVideoSetting(&vs);
  EXPECT_FALSE(vs.recording);
  EXPECT_EQ(vs.spare, 0);
  EXPECT_TRUE(std::filesystem::is_directory(Path() / "vid"));  // created, one level

  Deliver(2);  // before recording: not in the video
  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_TRUE(camera->IsRecording());
  Deliver(7);
  Deliver(4, other);  // the other camera's frames are not the recording's
  // Toggling through the other camera's index stops the recording where it runs.
  CamSdkTestSetCallLog(true);
  EXPECT_FALSE(camera->RecordVideo(color));
  const auto log = CamSdkTestTakeCallLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "CamSdkStopRecordVideoAsync(" + std::to_string(handle) + ") = 1"),
            log.end());
  Deliver(3);

  // The file is finished off the user-interface thread; its notice tells where it went.
  std::vector<int> notices;
  camera->SetRecordingEndedHandler([&](int status) { notices.push_back(status); });
  camera->WaitRecordingsFinished();
  EXPECT_EQ(notices, std::vector<int>{0});
  EXPECT_EQ(camera->LastRecording().status, CAMSDK_STATUS_OK);
  EXPECT_EQ(camera->LastRecording().fault, 0);
  EXPECT_EQ(camera->LastRecording().framesWritten, 7u);
  EXPECT_EQ(camera->LastRecording().framesDropped, 0u);
  std::string name;
  EXPECT_EQ(VideoFrames(handle, 640, 512, &name), 7);
  EXPECT_EQ(name.rfind((Path() / "vid" / "Video_").string(), 0), 0u) << name;
  EXPECT_EQ(camera->LastRecording().file, name);
  camera->SetRecordingEndedHandler(nullptr);

  // Closing any camera ends a running recording, on the camera that records; a second
  // recording then starts afresh and closing the recording camera ends it too.
  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_EQ(camera->CloseCamera(color), 1);
  EXPECT_FALSE(camera->IsRecording());
  const auto closeLog = CamSdkTestTakeCallLog();
  EXPECT_NE(std::find(closeLog.begin(), closeLog.end(), "CamSdkStopRecordVideoAsync(" + std::to_string(handle) + ") = 1"),
            closeLog.end());
  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_EQ(camera->CloseCamera(mono), 1);
  EXPECT_FALSE(camera->IsRecording());
}

TEST_F(FramePathTest, VideoFolderThatCannotBeCreatedFallsBackToTheWorkingFolder) {
  stVideoSetting vs;
  camera->GetVideoSetting(&vs);
  vs.folder = QString::fromStdString((Path() / "no" / "such" / "folder").string()).toStdU16String();
  camera->SetVideoSetting(vs);
  ASSERT_TRUE(camera->RecordVideo(mono));
  camera->GetVideoSetting(&vs);
  EXPECT_EQ(vs.folder, QString::fromStdString((Path() / "Video").string()).toStdU16String());
  EXPECT_TRUE(camera->IsRecording());
  Deliver(2);
  EXPECT_FALSE(camera->RecordVideo(mono));
}

std::atomic<std::int64_t> g_now{0};
std::int64_t FakeCounter() { return g_now.load(); }

TEST_F(FramePathTest, FrameRateFromTheInjectedClock) {
  camera->SetPerformanceClock(&FakeCounter, 1000);  // milliseconds
  camera->FrameStatistics().ResetFrameStatistics();
  g_now = 5000;
  // 20 frames per second: the first window only sets the mark.
  for (int i = 0; i < 21; ++i) {
    g_now += 50;
    Deliver(1);
  }
  EXPECT_EQ(camera->FrameStatistics().FrameRate(), 0.0f);
  g_now += 50;
  Deliver(1);
  EXPECT_NEAR(camera->FrameStatistics().FrameRate(), 21.0 / 1.05, 1e-4);
  EXPECT_EQ(camera->FrameStatistics().ReceivedFrames(), 22u);
  // Changing the image size resets the statistics.
  EXPECT_EQ(camera->SetImageSizeSel(handle, 1, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(camera->FrameStatistics().ReceivedFrames(), 0u);
  EXPECT_EQ(camera->FrameStatistics().FrameRate(), 0.0f);
}

// A frame view holds the frame where it is: while one lives, the camera thread's next frame
// waits and the pixels read stay those of the frame seen; it comes in once the view goes. A new
// still frame is written through its view before anyone else sees it.
TEST_F(FramePathTest, AFrameViewHoldsTheFrameUntilItGoes) {
  ASSERT_EQ(Deliver(1), 1);
  const std::uint64_t seen = camera->FrameSequence();
  const std::uint64_t generation = camera->BufferGeneration();
  std::thread cameraThread;
  std::atomic<int> delivered{-1};
  {
    const FrameView frame = camera->ViewFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame.Width() * 10000 + frame.Height(), 640 * 10000 + 512);
    ASSERT_EQ(frame.Pixels().size(), std::size_t(640) * 512 * 3);
    EXPECT_EQ(frame.Generation(), generation);
    const std::vector<std::uint8_t> before(frame.Pixels().begin(), frame.Pixels().end());
    CAMSDK_OK(CamSdkTestSetSceneLight(handle, 0.2));  // the next frame differs
    cameraThread = std::thread([&] { delivered = Deliver(1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(delivered.load(), -1);
    EXPECT_EQ(camera->FrameSequence(), seen);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), frame.Pixels().begin()));
  }
  cameraThread.join();
  EXPECT_EQ(delivered.load(), 1);
  EXPECT_EQ(camera->FrameSequence(), seen + 1);

  // A still frame: a format that does not fit leaves no frame; one that fits is what was written.
  ASSERT_EQ(camera->CloseCamera(mono), 1);
  {
    const FrameView still = camera->NewFrame(MakeFrameFormat(3, 2));
    ASSERT_TRUE(still);
    for (std::size_t i = 0; i < still.Pixels().size(); ++i) still.Pixels()[i] = std::uint8_t(i);
  }
  EXPECT_TRUE(camera->HasFrame());
  EXPECT_NE(camera->BufferGeneration(), generation);
  std::vector<std::uint8_t> px;
  BITMAPINFOHEADER f;
  ASSERT_TRUE(camera->CopyFrame(&px, &f));
  EXPECT_EQ(f, MakeFrameFormat(3, 2));
  std::vector<std::uint8_t> written(18);
  std::iota(written.begin(), written.end(), std::uint8_t(0));
  EXPECT_EQ(px, written);
  EXPECT_FALSE(camera->NewFrame(MakeFrameFormat(1 << 20, 1 << 20)));
  EXPECT_FALSE(camera->HasFrame());
  EXPECT_FALSE(camera->ViewFrame());
}

}  // namespace
