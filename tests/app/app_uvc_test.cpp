// Live on a UVC camera that cannot stream, through the main window: the stand-in webcam of the
// camera library's tests answers the V4L2 calls.
#include "app_support.h"
#include "tests/camsdk/v4l2_fake.h"

namespace {

class UvcFrameTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    CamSdkTestSetModels("");  // the stand-in's camera only
  }
  v4l2fake::Fake fake_;  // outlives the window's cameras
};

v4l2fake::Camera DeskCam() {
  v4l2fake::Camera c;
  c.card = "Desk Cam";
  c.serial = "A1";
  c.formats = {v4l2fake::Format{V4L2_PIX_FMT_YUYV, {{64, 48, {{1, 30}}}}}};
  return c;
}

TEST_F(UvcFrameTest, LiveOnACameraThatCannotStreamSaysWhyAndNothingPlays) {
  v4l2fake::Camera& cam = fake_.Plug(DeskCam());
  cam.setFormatErrno = EBUSY;  // another program streams from it
  frame().OnCameraLive();
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  EXPECT_FALSE(frame().Timer1().isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The camera Desk Cam (A1) is in use by another program. Close it there, then press Live again.");

  cam.setFormatErrno = 0;
  cam.changesSize = true;  // the driver answers with another size than it listed
  frame().OnCameraLive();
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[1].startsWith("The camera Desk Cam (A1) could not be started")) << messages[1].toStdString();

  // Free again: Live plays it, without a word.
  cam.changesSize = false;
  frame().OnCameraLive();
  EXPECT_EQ(camera().GetOpenedCount(), 1);
  EXPECT_TRUE(frame().Timer1().isActive());
  EXPECT_EQ(messages.size(), 2u);
}

TEST_F(UvcFrameTest, AStreamThatStallsEndsLiveWithTheLossMessage) {
  v4l2fake::Camera cam = DeskCam();
  cam.framesBeforeStall = 3;
  fake_.Plug(cam);
  GoLive(0);
  ASSERT_EQ(camera().GetOpenedCount(), 1);
  Deliver(5);
  QApplication::processEvents();
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The camera Desk Cam (A1) was disconnected. Capture and recording were ended.");
}

}  // namespace
