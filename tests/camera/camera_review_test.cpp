// Regression tests of faults found in review on the frame path: recordings that could not
// write (a file that cannot be created, a picture size that changed), conversions of frames
// nobody takes, and the display scaler starting threads on every redraw.
#include <algorithm>
#include <atomic>
#include <thread>

#include <dlfcn.h>
#include <pthread.h>

#include <QCoreApplication>
#include <opencv2/videoio.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camera/camera_support.h"

// Counts the threads this test program starts, whoever starts them.
namespace {
std::atomic<int> g_threadsStarted{0};
}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  g_threadsStarted.fetch_add(1);
  return real(thread, attr, start, arg);
}

namespace {

class ReviewTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    camera->SetView(&view);
    ASSERT_EQ(List(), 5);
    mono = IndexOf("Q7V-UM130 0002");
    ASSERT_EQ(Open(mono), 1);
    handle = Handle(mono);
    ASSERT_EQ(camera->SetImageSizeSel(handle, 1, CAMSDK_SIZE_PREVIEW), 1);  // 640 x 512
    ASSERT_TRUE(camera->AllocFrameBuffer(640, 512));
    stVideoSetting vs;
    camera->GetVideoSetting(&vs);
    vs.folder = FromUtf8(Path().string());
    camera->SetVideoSetting(vs);
  }
  int Deliver(int n) { return CamSdkTestDeliverFrames(handle, n); }
  static void Events() { QCoreApplication::sendPostedEvents(); }

  FakeView view;
  int mono = -1, handle = -1;
};

TEST_F(ReviewTest, RecordingWhoseFileCannotBeCreatedDoesNotStart) {
  stVideoSetting vs;
  camera->GetVideoSetting(&vs);
  vs.prefix = WString(300, u'v');  // the folder exists; the name is too long for a file
  camera->SetVideoSetting(vs);
  EXPECT_FALSE(camera->RecordVideo(mono));
  EXPECT_FALSE(camera->IsRecording());
  CamSdkTestSetCallLog(true);
  Deliver(2);
  for (const std::string& call : CamSdkTestTakeCallLog())
    EXPECT_EQ(call.rfind("CameraRecordFrame", 0), std::string::npos);
  // The next start with a usable name records as usual.
  vs.prefix = u"Video";
  camera->SetVideoSetting(vs);
  EXPECT_TRUE(camera->RecordVideo(mono));
  EXPECT_FALSE(camera->RecordVideo(mono));
}

TEST_F(ReviewTest, PreviewSizeChangeEndsTheRecordingCleanlyWithANotice) {
  std::vector<int> notices;
  camera->SetRecordingEndedHandler([&](int status) { notices.push_back(status); });
  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_EQ(Deliver(4), 4);
  Events();
  EXPECT_TRUE(camera->IsRecording());

  // The panel switches the preview size and the frame buffer follows.
  ASSERT_EQ(camera->SetImageSizeSel(handle, 0, CAMSDK_SIZE_PREVIEW), 1);
  int w = 0, h = 0;
  ASSERT_EQ(camera->GetImageSize(mono, &w, &h), 1);
  ASSERT_TRUE(camera->AllocFrameBuffer(w, h));
  EXPECT_EQ(Deliver(3), 3);
  Events();
  EXPECT_FALSE(camera->IsRecording());
  EXPECT_EQ(notices, std::vector<int>{CAMSDK_STATUS_INVALID_PARAMETER});
  EXPECT_EQ(camera->LastRecordingFault(), CAMSDK_STATUS_INVALID_PARAMETER);
  stVideoSetting vs;
  camera->GetVideoSetting(&vs);
  EXPECT_FALSE(vs.recording);

  // The video holds the frames of the old size, closed properly; a second notice says so.
  camera->WaitRecordingsFinished();
  EXPECT_EQ(notices, (std::vector<int>{CAMSDK_STATUS_INVALID_PARAMETER, 0}));
  EXPECT_EQ(camera->LastRecording().fault, CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(camera->LastRecording().status, CAMSDK_STATUS_OK);
  EXPECT_EQ(VideoFrames(handle, 640, 512), 4);
  EXPECT_EQ(CameraStopRecordVideo(handle), CAMSDK_STATUS_NOT_RECORDING);  // already stopped

  // A new recording at the new size runs on.
  ASSERT_TRUE(camera->RecordVideo(mono));
  EXPECT_EQ(Deliver(2), 2);
  Events();
  EXPECT_TRUE(camera->IsRecording());
  EXPECT_EQ(notices.size(), 2u);
  EXPECT_FALSE(camera->RecordVideo(mono));
}

TEST_F(ReviewTest, FramesNobodyTakesAreNotConverted) {
  ASSERT_TRUE(camera->AllocFrameBuffer(320, 256));  // not the camera's size
  CamSdkTestSetCallLog(true);
  EXPECT_EQ(Deliver(3), 3);
  const auto log = CamSdkTestTakeCallLog();
  for (const std::string& call : log) {
    EXPECT_EQ(call.rfind("CameraISP", 0), std::string::npos) << call;
    EXPECT_EQ(call.rfind("CamSdkISPInto", 0), std::string::npos) << call;
  }
  EXPECT_EQ(camera->FrameSequence(), 0u);
  // Recording, they are converted for the recorder (which refuses them: another size).
  ASSERT_TRUE(camera->AllocFrameBuffer(640, 512));
  ASSERT_TRUE(camera->RecordVideo(mono));
  ASSERT_TRUE(camera->AllocFrameBuffer(320, 256));
  Deliver(1);
  const auto recording = CamSdkTestTakeCallLog();
  EXPECT_NE(std::find_if(recording.begin(), recording.end(),
                         [](const std::string& c) { return c.rfind("CameraRecordFrame", 0) == 0; }),
            recording.end());
}

TEST_F(ReviewTest, DisplayScalerStartsNoThreadsPerRedraw) {
  ASSERT_TRUE(camera->AllocFrameBuffer(640, 512));
  Deliver(1);
  QImage surface(1600, 1280, QImage::Format_RGB32);  // large enough for several bands
  auto draw = [&] {
    QPainter p(&surface);
    camera->DrawImage(p, surface.width(), surface.height());
  };
  draw();  // any pool starts here
  const int before = g_threadsStarted.load();
  for (int i = 0; i < 20; ++i) draw();
  EXPECT_EQ(g_threadsStarted.load(), before);
  std::thread([] {}).join();  // the count does see threads started
  EXPECT_EQ(g_threadsStarted.load(), before + 1);
}

}  // namespace
