// A camera playing on its own thread while the main thread draws, captures, records, resizes the
// buffer and closes and reopens the camera. Run under ThreadSanitizer in CI.
#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camera/camera_support.h"
#include "tests/camsdk_ok.h"

namespace {

TEST_F(CameraTest, FastCameraPlaysWhileTheMainThreadWorks) {
  CamSdkTestSetSynchronous(false);
  FakeView view;
  FakePanel panel;
  camera->SetView(&view);
  camera->SetLayerPanel(&panel);
  view.AddLine({10, 10}, {600, 400});
  view.surface = QImage(400, 320, QImage::Format_RGB32);
  ASSERT_EQ(CamSdkTestSetModels("mono,color"), 2);
  ASSERT_EQ(List(), 2);
  const int mono = IndexOf("Q7V-UM130 0002"), color = IndexOf("Q7V-UC500C 0001");

  auto start = [&](int index) {
    ASSERT_EQ(Open(index), 1);
    const int h = Handle(index);
    (void)CameraSetFrameSpeed(h, CAMSDK_FRAME_SPEED_HIGH);  // optional: where the camera offers it
    CAMSDK_OK(CameraSetExposureTime(h, 20000));  // 2 ms: as fast as the sensor reads out
  };
  start(mono);
  start(color);  // frames of another size than the buffer's, on a second thread
  CAMSDK_OK(camera->SetImageSizeSel(Handle(color), 2, CAMSDK_SIZE_PREVIEW));  // 641 x 480
  camera->SetCurCamera(mono);

  QElapsedTimer clock;
  clock.start();
  int shots = 0, reopened = 0, iteration = 0;
  std::uint64_t lastSeen = 0;
  int advanced = 0;
  // Enough rounds for every kind of work, and frames shown meanwhile (sanitizers slow both).
  while (clock.elapsed() < 60000 && (iteration < 80 || view.frameReady < 10 || clock.elapsed() < 1000)) {
    ++iteration;
    QCoreApplication::processEvents();
    const std::uint64_t seq = camera->FrameSequence();
    advanced += seq != lastSeen;
    lastSeen = seq;
    QImage surface(200 + iteration % 7 * 50, 160 + iteration % 5 * 40, QImage::Format_RGB32);
    {
      QPainter p(&surface);
      camera->DrawImage(p, surface.width(), surface.height());
    }
    panel.mode = 2 + iteration % 2;
    camera->ProcessFrameReady();
    POINT s, e;
    camera->GetVisibleRect(&s, &e);
    switch (iteration % 8) {
      case 1: {
        const int r = camera->SaveImageBmp(FromUtf8((Path() / ("s" + std::to_string(iteration))).string()));
        EXPECT_TRUE(r == 1 || r == CAMERA_NO_FRAME);
        shots += r == 1;
        break;
      }
      case 2: {  // the size changes under the stream: frames of the old size are dropped
        const int h = Handle(mono);
        const int sel = iteration % 16 == 2 ? 0 : 1;
        CAMSDK_OK(camera->SetImageSizeSel(h, sel, CAMSDK_SIZE_PREVIEW));
        int w = 0, ht = 0;
        CAMSDK_OK(camera->GetImageSize(mono, &w, &ht));
        if (iteration % 24 == 2)
          EXPECT_TRUE(camera->SetFrameFormat(MakeFrameFormat(w, ht)));  // no spare buffer: frames are copied
        else
          EXPECT_TRUE(camera->AllocFrameBuffer(w, ht));
        break;
      }
      case 3:
        camera->RecordVideo(mono);
        break;
      case 5: {
        std::vector<std::uint8_t> copy;
        BITMAPINFOHEADER f;
        if (camera->CopyFrame(&copy, &f)) {
          EXPECT_EQ(copy.size(), std::size_t(f.biWidth) * std::size_t(f.biHeight) * 3);
        }
        break;
      }
      case 7:
        if (iteration % 40 == 7) {
          EXPECT_EQ(camera->CloseCamera(mono), 1);
          QCoreApplication::processEvents();
          start(mono);
          ++reopened;
        }
        break;
    }
  }
  if (camera->IsRecording()) camera->RecordVideo(mono);
  EXPECT_GT(shots, 0);
  EXPECT_GT(reopened, 0);
  EXPECT_GT(advanced, 2);
  EXPECT_GT(view.frameReady, 2);

  // Once the camera stops, the last notice shows the newest frame.
  CAMSDK_OK(CameraPause(Handle(mono)));
  CAMSDK_OK(CameraPause(Handle(color)));
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  ASSERT_GT(view.frameReady, 0);
  EXPECT_EQ(view.shownSequence, camera->FrameSequence());
  CAMSDK_OK(CameraPlay(Handle(mono)));
  // The camera object goes while its cameras play.
  camera.reset();
  QCoreApplication::processEvents();
}

}  // namespace
