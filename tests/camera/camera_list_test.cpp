// The camera list and the open slots against the simulated cameras.
#include <algorithm>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camera/camera_support.h"
#include "tests/camsdk_ok.h"

namespace {

bool Logged(const std::vector<std::string>& log, const std::string& prefix) {
  return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

TEST_F(CameraTest, ListingFailureKeepsTheOldListAndLaterListingsCarryPlayingCamerasOnly) {
  ASSERT_EQ(CamSdkTestSetModels("color,mono,single"), 3);
  EXPECT_EQ(List(), 3);
  ASSERT_EQ(IndexOf("Q7V-UC500C 0001") * 100 + IndexOf("Q7V-UM130 0002") * 10 + IndexOf("Q7V-UC200S 0003"), 12);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Open(i), 1) << i;
  const int colorHandle = Handle(0), pausedHandle = Handle(1), singleHandle = Handle(2);
  CAMSDK_OK(CameraPause(Handle(1)));
  camera->SetCameraOpened(1, CAMERA_PAUSED);

  // A failed listing: *count 0, the library's result, the list as it was.
  CamSdkTestInjectFailure("CameraGetDevList", CAMSDK_STATUS_TIMEOUT, 1);
  std::vector<stCameraItem> items(kMaxCameraList);
  int count = -1;
  EXPECT_EQ(camera->EnumCameras(items.data(), &count), CAMSDK_STATUS_TIMEOUT);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(camera->GetCameraCount(), 3);
  EXPECT_EQ(IndexOf("Q7V-UC200S 0003"), 2);

  // The mono camera goes away; the new list is colour, single (n = 2). Playing cameras keep
  // their handle and state (nothing else) at their new index, wherever they stood in the old
  // list; the paused mono camera is not carried over and is closed in the library, so that it
  // does not stay open out of reach. The open slots and counts follow.
  ASSERT_EQ(CamSdkTestDetach("mono"), 1);
  for (auto& it : items) it = stCameraItem{};
  items[1].handle = 1234;
  items[1].state = CAMERA_PAUSED;
  CamSdkTestSetCallLog(true);
  EXPECT_EQ(camera->EnumCameras(items.data(), &count), 1);
  const auto log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(Logged(log, "CameraUnInit(" + std::to_string(pausedHandle) + ")"));
  EXPECT_FALSE(Logged(log, "CameraUnInit(" + std::to_string(colorHandle) + ")"));
  EXPECT_FALSE(Logged(log, "CameraUnInit(" + std::to_string(singleHandle) + ")"));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(camera->GetCameraCount(), 2);
  stCameraItem item;
  ASSERT_TRUE(camera->GetCameraItem(0, &item));
  EXPECT_STREQ(item.device.deviceName, "Q7V-UC500C 0001");
  EXPECT_EQ(item.handle, colorHandle);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  EXPECT_EQ(item.openParams[13], 0);  // the caller's block, not the old one
  EXPECT_EQ(items[0].handle, colorHandle);
  ASSERT_TRUE(camera->GetCameraItem(1, &item));
  EXPECT_STREQ(item.device.deviceName, "Q7V-UC200S 0003");
  EXPECT_EQ(item.handle, singleHandle);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  ASSERT_TRUE(camera->GetCameraItem(2, &item));
  EXPECT_EQ(item.state, CAMERA_CLOSED);
  EXPECT_EQ(camera->GetOpenedCount(), 2);
  EXPECT_EQ(camera->FindOpenSlot(1), 2);  // the single camera's slot follows it to index 1
  EXPECT_EQ(camera->FindOpenSlot(2), -1);
  EXPECT_EQ(camera->CloseCamera(1), 1);
  EXPECT_EQ(camera->GetOpenedCount(), 1);
}

TEST_F(CameraTest, OpenSlotsIndicesAndClosing) {
  ASSERT_EQ(List(), 5);
  EXPECT_EQ(camera->GetOpenedCount(), 0);
  EXPECT_EQ(camera->GetCurCameraItem(), -1);
  int w = -5, h = -5;
  EXPECT_EQ(camera->GetImageSize(0, &w, &h), CAMERA_NOT_OPENED);
  EXPECT_EQ(w * 10 + h, -55);  // untouched
  EXPECT_EQ(camera->GetImageSize(-1, &w, &h), CAMERA_NOT_OPENED);

  // Bad indices are refused everywhere, before the library is called.
  CamSdkTestSetCallLog(true);
  stCameraItem item;
  EXPECT_EQ(Open(-1), CAMERA_NO_SLOT);
  EXPECT_EQ(Open(50), CAMERA_NO_SLOT);
  EXPECT_EQ(camera->CloseCamera(50), CAMERA_NO_SLOT);
  EXPECT_EQ(camera->GetImageSize(50, &w, &h), CAMERA_NO_SLOT);
  EXPECT_FALSE(camera->GetCameraItem(50, &item));
  EXPECT_FALSE(camera->GetCameraItem(-1, &item));
  EXPECT_FALSE(camera->RecordVideo(77));
  camera->SetCameraOpened(50, CAMERA_PLAYING);
  camera->SetCurCamera(50);
  EXPECT_EQ(camera->GetCurCameraItem(), -1);
  EXPECT_FALSE(Logged(CamSdkTestTakeCallLog(), "CameraInit"));

  // Four open; the fifth and a second open of an open entry are refused before CameraInit.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(Open(i), 1) << i;
  EXPECT_EQ(camera->GetOpenedCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_GE(camera->FindOpenSlot(i), 0);
  CamSdkTestTakeCallLog();
  EXPECT_EQ(Open(4), CAMERA_NO_SLOT);
  EXPECT_EQ(camera->CloseCamera(2), 1);
  EXPECT_EQ(Open(1), CAMERA_NO_SLOT);
  EXPECT_FALSE(Logged(CamSdkTestTakeCallLog(), "CameraInit"));
  // The freed slot is found wherever it lies; the buffer takes the size of the camera opened.
  EXPECT_EQ(Open(4), 1);
  EXPECT_GE(camera->FindOpenSlot(4), 0);
  EXPECT_EQ(camera->FindOpenSlot(2), -1);
  EXPECT_EQ(camera->GetImageSize(4, &w, &h), 1);
  BITMAPINFOHEADER f;
  camera->GetFrameFormat(&f);
  EXPECT_EQ(f, MakeFrameFormat(w, h));
  EXPECT_EQ(w * 10000 + h, 5472 * 10000 + 3648);

  // The library's own refusal comes back unchanged and counts nothing.
  CamSdkTestInjectFailure("CameraInit", CAMSDK_STATUS_NO_DEVICE, 1);
  ASSERT_EQ(camera->CloseCamera(4), 1);
  EXPECT_EQ(Open(4), CAMSDK_STATUS_NO_DEVICE);
  EXPECT_EQ(camera->GetOpenedCount(), 3);

  // Closing a closed camera changes nothing and calls nothing.
  CamSdkTestTakeCallLog();
  EXPECT_EQ(camera->CloseCamera(4), 1);
  EXPECT_TRUE(CamSdkTestTakeCallLog().empty());

  // Closing the last camera frees the frame buffer.
  camera->SetCurCamera(3);
  EXPECT_EQ(camera->CloseCamera(0), 1);
  EXPECT_EQ(camera->CloseCamera(1), 1);
  EXPECT_TRUE(camera->HasFrame());
  EXPECT_EQ(camera->CloseCamera(3), 1);
  EXPECT_EQ(camera->GetOpenedCount(), 0);
  EXPECT_FALSE(camera->HasFrame());
  EXPECT_EQ(camera->GetCurCameraItem(), -1);
  camera->GetFrameFormat(&f);
  EXPECT_EQ(f, BITMAPINFOHEADER{});
}

TEST_F(CameraTest, StopAllCamerasRunsStopPerOpenCameraAndEmptiesTheMeasurements) {
  FakeView view;
  FakeLayerEditor editor;
  FakeMainFrame frame(&raw);
  camera->SetView(&view);
  camera->SetLayerEditor(&editor);
  camera->SetMainFrame(&frame);
  ASSERT_EQ(List(), 5);
  ASSERT_EQ(Open(1), 1);
  ASSERT_EQ(Open(3), 1);
  view.AddLine({10, 10}, {100, 100});
  view.mm.AddRemark(5, 5, u"note", 20, 0xFF);
  ASSERT_EQ(view.mm.GetMeasureCount(), 1);
  camera->StopAllCameras();
  EXPECT_EQ(frame.stops, 2);
  EXPECT_EQ(camera->GetOpenedCount(), 0);
  EXPECT_EQ(view.mm.GetMeasureCount(), 0);
  EXPECT_EQ(view.mm.GetRemarkCount(), 0);
  EXPECT_EQ(editor.clears, 1);

  // Without a main frame the camera object closes the cameras itself.
  camera->SetMainFrame(nullptr);
  ASSERT_EQ(Open(2), 1);
  camera->StopAllCameras();
  EXPECT_EQ(camera->GetOpenedCount(), 0);
}

TEST_F(CameraTest, DestroyingTheCameraObjectClosesItsCameras) {
  ASSERT_EQ(List(), 5);
  ASSERT_EQ(Open(0), 1);
  const int handle = Handle(0);
  EXPECT_EQ(CCameraProcess::Instance(), raw);
  camera.reset();
  EXPECT_EQ(CCameraProcess::Instance(), nullptr);
  EXPECT_EQ(CameraPlay(handle), CAMSDK_STATUS_INVALID_HANDLE);
}

// The entry says playing only while the camera plays: a camera that does not play, or whose
// picture gets no buffer, is not left open, and playing and pausing take the camera's answer
// (the main frame hears of each).
TEST_F(CameraTest, TheEntryIsPlayingOnlyWhileTheCameraPlays) {
  struct Frame : IMainFrame {
    void OnStreamChanged(int index, int status) override { told.push_back({index, status}); }
    std::vector<std::pair<int, int>> told;
  } frame;
  camera->SetMainFrame(&frame);
  ASSERT_EQ(List(), 5);
  auto state = [&](int index) {
    stCameraItem item;
    camera->GetCameraItem(index, &item);
    return item.state;
  };
  auto nothingOpen = [&] {
    EXPECT_EQ(state(0), CAMERA_CLOSED);
    EXPECT_EQ(camera->GetOpenedCount(), 0);
    EXPECT_EQ(camera->FindOpenSlot(0), -1);
    EXPECT_FALSE(camera->HasFrame());
    EXPECT_EQ(CameraPlay(Handle(0)), CAMSDK_STATUS_INVALID_HANDLE);  // released in the library too
  };

  camera->SetCurCamera(0);
  CamSdkTestInjectFailure("CameraPlay", CAMSDK_STATUS_FAILED, 1);
  EXPECT_EQ(Open(0), CAMSDK_STATUS_FAILED);
  nothingOpen();
  CamSdkTestInjectFailure("CameraGetImageSize", CAMSDK_STATUS_TIMEOUT, 1);
  EXPECT_EQ(Open(0), CAMSDK_STATUS_TIMEOUT);
  nothingOpen();
  EXPECT_EQ(camera->GetCurCameraItem(), 0);  // still the camera chosen
  // The slot is free again for the open that succeeds.
  ASSERT_EQ(Open(0), 1);
  const int handle = Handle(0);
  EXPECT_EQ(state(0), CAMERA_PLAYING);
  EXPECT_TRUE(frame.told.empty());

  EXPECT_EQ(camera->PauseCamera(0), CAMSDK_STATUS_OK);
  EXPECT_EQ(state(0), CAMERA_PAUSED);
  EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 0);
  CamSdkTestInjectFailure("CameraPlay", CAMSDK_STATUS_FAILED, 1);
  EXPECT_EQ(camera->PlayCamera(0), CAMSDK_STATUS_FAILED);
  EXPECT_EQ(state(0), CAMERA_PAUSED);
  EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 0);
  EXPECT_EQ(camera->PlayCamera(0), CAMSDK_STATUS_OK);
  EXPECT_EQ(state(0), CAMERA_PLAYING);
  EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 1);
  // A pause the camera refuses leaves it playing; one of a lost camera leaves it paused.
  CamSdkTestInjectFailure("CameraPause", CAMSDK_STATUS_BUSY, 1);
  EXPECT_EQ(camera->PauseCamera(0), CAMSDK_STATUS_BUSY);
  EXPECT_EQ(state(0), CAMERA_PLAYING);
  const std::vector<std::pair<int, int>> told{
      {0, CAMSDK_STATUS_OK}, {0, CAMSDK_STATUS_FAILED}, {0, CAMSDK_STATUS_OK}, {0, CAMSDK_STATUS_BUSY}};
  EXPECT_EQ(frame.told, told);

  // A size change plays the camera on, and the entry says so.
  ASSERT_EQ(camera->PauseCamera(0), CAMSDK_STATUS_OK);
  EXPECT_EQ(camera->SetImageSize(handle, 0, 0, 0, 0, 0, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(state(0), CAMERA_PLAYING);
  CamSdkTestDetach("color");
  EXPECT_EQ(camera->PauseCamera(0), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(state(0), CAMERA_PAUSED);
  EXPECT_EQ(camera->PlayCamera(3), CAMERA_NOT_OPENED);
}

}  // namespace
