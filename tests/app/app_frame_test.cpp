// The main frame: layout at start, command states, live/pause/stop, capture names and
// continuous capture, the layer file on close and Live, language commands, zoom arithmetic and
// closing from every state.
#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QToolBar>

#include "app/Application.h"
#include "app_support.h"
#include "platform/camsdk/camsdk_testing.h"

TEST_F(FrameTest, StartLayoutAndStates) {
  EXPECT_EQ(frame().windowTitle(), "Q7V-MS");
  EXPECT_FALSE(frame().MeasureToolBar()->isVisible());
  EXPECT_FALSE(frame().ZoomToolBar()->isVisible());
  EXPECT_TRUE(frame().CameraPane()->isVisible());
  EXPECT_FALSE(frame().LayerPane()->isVisible());
  EXPECT_TRUE(frame().ImageListPane()->isVisible());
  EXPECT_EQ(frame().ZoomCombo()->currentText(), "100%");
  EXPECT_EQ(frame().StatusPane(1)->text(), "X = 0, Y = 0");
  EXPECT_EQ(frame().StatusPane(2)->text(), "R = 0, G = 0, B = 0");
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
  EXPECT_EQ(frame().minimumSize(), QSize(800, 600));
  // No image: the measuring commands are off, the acquisition commands on.
  for (int id : {ids::kLine, ids::kPoint, ids::kHandMouse, ids::kGrid, ids::kFileSaveAs, ids::kCapture, ids::kRecord,
                 ids::kMeasuringScale})
    EXPECT_FALSE(Enabled(id)) << id;
  for (int id : {ids::kLive, ids::kStop, ids::kFileOpen, ids::kExit, ids::kChinese, ids::kEnglish})
    EXPECT_TRUE(Enabled(id)) << id;
  // Commands nobody handles are disabled by the framework's rule.
  EXPECT_FALSE(Enabled(55555));
  EXPECT_TRUE(Checked(ids::kEnglish));
  EXPECT_FALSE(Checked(ids::kChinese));
}

TEST_F(FrameTest, StillAndLiveCommandStates) {
  ShowStill(640, 480);
  for (int id : {ids::kLine, ids::kPoint, ids::kHandMouse, ids::kGrid, ids::kFileSaveAs, ids::kMeasuringScale,
                 ids::kThreshold, ids::kGrayBalance})
    EXPECT_TRUE(Enabled(id)) << id;
  for (int id : {ids::kVideoSettings, ids::kCaptureSettings, ids::kAdvancedSettings})
    EXPECT_FALSE(Enabled(id)) << id;  // need a live camera
  EXPECT_TRUE(frame().MeasureToolBar()->isVisible());
  EXPECT_TRUE(frame().ZoomToolBar()->isVisible());
  EXPECT_TRUE(Checked(ids::kSelectMouse));  // select mode
  frame().Router().Execute(ids::kHandMouse);
  EXPECT_TRUE(Checked(ids::kHandMouse));
  EXPECT_FALSE(Checked(ids::kSelectMouse));

  GoLive();
  EXPECT_TRUE(frame().IsLive());
  for (int id : {ids::kVideoSettings, ids::kCaptureSettings, ids::kAdvancedSettings, ids::kLine})
    EXPECT_TRUE(Enabled(id)) << id;
  for (int id : {ids::kThreshold, ids::kAdaptiveThreshold, ids::kGrayBalance})
    EXPECT_FALSE(Enabled(id)) << id;  // still image only
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kPlaying);
}

TEST_F(FrameTest, ToolCommandsCheckOnlyTheLastTool) {
  ShowStill(320, 240);
  frame().Router().Execute(ids::kLine);
  frame().Router().Execute(ids::kAngle);
  EXPECT_FALSE(Checked(ids::kLine));
  EXPECT_TRUE(Checked(ids::kAngle));
  EXPECT_EQ(view().PendingKind(), 261);
  // The text tool replaces the armed tool: its click places a text and starts no shape.
  frame().Router().Execute(ids::kText);
  EXPECT_FALSE(Checked(ids::kAngle));
  EXPECT_EQ(view().PendingKind(), 256);
}

TEST_F(FrameTest, LivePauseStopWithCountersAndRate) {
  GoLive(0);
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  EXPECT_TRUE(frame().Timer1().isActive());
  Deliver(5);
  // Frames drawn into the image window.
  const QImage& shown = view().ImageWindow()->LastPicture();
  ASSERT_FALSE(shown.isNull());
  EXPECT_NE(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(192, 192, 192));
  frame().UpdateCaptureStatus();
  EXPECT_TRUE(frame().StatusPane(3)->text().startsWith("Capture: 5F, Frame Rate: ")) << frame().StatusPane(3)->text().toStdString();

  frame().OnCameraLive();  // pause
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PAUSED);
  EXPECT_FALSE(frame().Timer1().isActive());
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kIdle);
  frame().OnCameraLive();  // play again
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  EXPECT_TRUE(frame().Timer1().isActive());
  Deliver(3);
  frame().UpdateCaptureStatus();
  ASSERT_NE(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");

  frame().Router().Execute(ids::kStop);  // the view takes Stop and hands it to the frame
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  EXPECT_FALSE(frame().Timer1().isActive());
  EXPECT_FALSE(view().ImageWindow()->isVisible());
  EXPECT_FALSE(frame().ImageAvailable());
  // The status bar shows the idle text at once, with no timer left to update it.
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
}

// Live shows playing only when the camera plays: a paused camera that does not play again, or
// one that does not start, leaves the bar and the rate idle, and the operator is told.
TEST_F(FrameTest, LiveShowsPlayingOnlyWhenTheCameraPlays) {
  const int handle = GoLive(0);
  frame().OnCameraLive();  // pause
  CamSdkTestInjectFailure("CameraPlay", CAMSDK_STATUS_FAILED, 1);
  frame().OnCameraLive();  // the camera refuses to play
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PAUSED);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kIdle);
  EXPECT_FALSE(frame().Timer1().isActive());
  EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 0);  // and it does not play indeed
  EXPECT_TRUE(view().HintText().contains("does not play")) << view().HintText().toStdString();

  frame().OnCameraLive();  // now it plays
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kPlaying);
  EXPECT_TRUE(frame().Timer1().isActive());
  EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 1);

  frame().OnCameraStop();
  view().ShowHint(u"");
  CamSdkTestInjectFailure("CameraPlay", CAMSDK_STATUS_TIMEOUT, 1);
  frame().OnCameraLive();  // opening: the camera does not start
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kIdle);
  EXPECT_FALSE(frame().Timer1().isActive());
  EXPECT_FALSE(frame().ImageAvailable());
  EXPECT_TRUE(view().HintText().contains("does not play")) << view().HintText().toStdString();
}

TEST_F(FrameTest, LiveWithoutCameraFailsSilently) {
  CamSdkTestSetModels("");
  frame().OnCameraLive();
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  EXPECT_TRUE(messages.empty());
  // Stop with no open camera only stops the counter.
  frame().recordingFlag = true;
  frame().OnCameraStop();
  EXPECT_FALSE(frame().recordingFlag);
}

TEST_F(FrameTest, CaptureNamesAndImageList) {
  GoLive();
  CaptureInto(dir_.path() + "/shots");
  frame().OnCapture();
  frame().OnCapture();
  EXPECT_TRUE(QFileInfo::exists(dir_.path() + "/shots/Capture0000.bmp"));
  EXPECT_TRUE(QFileInfo::exists(dir_.path() + "/shots/Capture0001.bmp"));
  EXPECT_EQ(view().HintText(), "Capture Successful");

  // The dated name: device name, a blank and the digits of the local time.
  ChangeCapture([](stCaptureSetting& cs) {
    cs.useDefaultName = true;
    cs.imageType = 1;  // JPEG
  });
  frame().clock = [] { return QDateTime(QDate(2016, 7, 29), QTime(9, 5, 3)); };
  frame().OnCapture();
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  const QString dated = dir_.path() + "/shots/" + QString::fromUtf8(item.device.deviceName) + " 20160729090503.jpg";
  EXPECT_TRUE(QFileInfo::exists(dated)) << dated.toStdString();
}

TEST_F(FrameTest, ContinuousCaptureStopsAtFrameTotal) {
  GoLive();
  CaptureInto(dir_.path() + "/cont");
  SetContinuous(50, 3);
  frame().OnCapture();
  EXPECT_TRUE(frame().continuousCapture);
  EXPECT_TRUE(frame().Timer2().isActive());
  EXPECT_EQ(view().HintText(), "Open continuous capture, Interval of time::50ms, Capture Frame:3");
  for (int i = 0; i < 3; ++i) frame().ContinuousCaptureTick();
  EXPECT_FALSE(frame().continuousCapture);
  EXPECT_FALSE(frame().Timer2().isActive());
  EXPECT_EQ(view().HintText(), "Continuous capture is stop.");
  EXPECT_EQ(QDir(dir_.path() + "/cont").entryList(QDir::Files).size(), 3);
}

TEST_F(FrameTest, CaptureWithoutCameraEndsContinuousCapture) {
  frame().continuousCapture = true;
  frame().Timer2().start(1000);
  EXPECT_EQ(frame().CaptureImageToFile(), 0);
  EXPECT_FALSE(frame().continuousCapture);
  EXPECT_FALSE(frame().Timer2().isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Please open camera.");
}

TEST_F(FrameTest, LayersSavedOnCloseAndLoadedOnLive) {
  GoLive();
  engine().OnMeasureLButtonDown(10, 10, 258, 1);
  engine().OnMeasureLButtonDown(200, 120, 256, 0);
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  frame().close();
  EXPECT_TRUE(QFileInfo::exists(dir_.filePath("Default.kvmi")));
  frame_.reset();

  frame_ = std::make_unique<CMainFrame>();
  frame_->show();
  EXPECT_EQ(engine().GetMeasureCount(), 0);
  GoLive();
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  EXPECT_EQ(engine().GetMeasure(0)->m_nKind, 258);
}

TEST_F(FrameTest, RecordTogglesImagesAndStopClearsIt) {
  GoLive();
  RecordInto(dir_.path());
  frame().OnRecord();
  EXPECT_TRUE(frame().recordingFlag);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kRecording);
  EXPECT_TRUE(Checked(ids::kRecord));
  EXPECT_EQ(frame().StatusPane(0)->text(), "Recording 00:00:00");  // the elapsed time
  Deliver(3);
  frame().OnRecord();
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kPlaying);
  // When the file is closed the operator is told where it went.
  camera().WaitRecordingsFinished();
  const QString file = QString::fromStdString(camera().LastRecording().file);
  EXPECT_TRUE(file.startsWith(dir_.path() + "/Video_")) << file.toStdString();
  EXPECT_TRUE(view().HintText().startsWith("Video saved: " + file + " (3 frames, ")) << view().HintText().toStdString();
  EXPECT_EQ(frame().StatusPane(0)->text(), "");
  frame().OnRecord();
  frame().OnCameraStop();
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_FALSE(camera().IsRecording());
}

TEST_F(FrameTest, RecordingOnAFullDiskEndsAndSaysWhy) {
  GoLive();
  RecordInto(dir_.path());
  CamSdkTestFailRecordWritesAfter(100000);  // room for the header and a frame or two
  frame().OnRecord();
  ASSERT_TRUE(frame().recordingFlag);
  for (int i = 0; i < 200 && camera().IsRecording(); ++i) {
    Deliver(1);
    QTest::qWait(2);
  }
  EXPECT_FALSE(camera().IsRecording());
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kPlaying);
  camera().WaitRecordingsFinished();
  EXPECT_EQ(camera().LastRecording().status, CAMSDK_STATUS_FILE_ERROR);
  // The hint says why, and where what was written went (a file without a whole frame is removed).
  const QString file = QString::fromStdString(camera().LastRecording().file);
  const QString why = "Recording stopped: the video file could not be written.";
  if (camera().LastRecording().fileKept) {
    EXPECT_EQ(view().HintText().toStdString(), (why + " What was written is in " + file + ".").toStdString());
  } else {
    EXPECT_EQ(view().HintText().toStdString(), why.toStdString());
    EXPECT_FALSE(QFileInfo::exists(file));
  }
  CamSdkTestFailRecordWritesAfter(-1);
}

TEST_F(FrameTest, LanguageCommandsWriteTheStoreAndAskForRestart) {
  auto language = [] {
    CRegistryKey key;
    key.Open(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings");
    return key.QueryString(u"Language").value_or(u"");
  };
  // Same language as running: only written, nothing asked.
  frame().OnLanguageEnglish();
  EXPECT_EQ(language(), u"EN");
  EXPECT_TRUE(questions.empty());
  // Chinese from English, answered No: written, keeps running.
  answer = false;
  frame().OnLanguageChinese();
  EXPECT_EQ(language(), u"CHS");
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], QString::fromUtf16(u"|语言设置重启后生效！是否重启程序？"));
  EXPECT_EQ(restarts, 0);
  EXPECT_TRUE(frame().isVisible());
  // Yes: the frame closes and the program starts again.
  answer = true;
  frame().OnLanguageChinese();
  EXPECT_EQ(restarts, 1);
  EXPECT_FALSE(frame().isVisible());
}

TEST(Language, SelectionFromTheStore) {
  QTemporaryDir dir;
  SetRegistryFile(std::filesystem::path(dir.filePath("r.dat").toStdString()));
  CApplicationApp app;
  auto select = [&app](const char16_t* value) {
    CRegistryKey key;
    key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings");
    key.SetString(u"Language", value);
    app.SelectUiLanguage();
    return GetUiLanguage();
  };
  EXPECT_EQ(select(u"CHS"), UiLanguage::Chinese);
  EXPECT_EQ(select(u"EN"), UiLanguage::English);
  EXPECT_EQ(select(u"chs"), UiLanguage::English);  // compared exactly
  EXPECT_EQ(select(u"FR"), UiLanguage::English);
  SetUiLanguage(UiLanguage::English);
}

TEST_F(FrameTest, ExitSavesSettingsButCloseDoesNot) {
  // A setting changed, the frame ended one way, and what a fresh camera object reads back.
  auto endWith = [this](const char16_t* name, bool exitCommand) {
    ChangeCapture([name](stCaptureSetting& cs) { cs.imageName = name; });
    if (exitCommand)
      frame().OnAppExit();
    else
      frame().close();
    frame_.reset();
    CCameraProcess fresh;
    stCaptureSetting got;
    fresh.GetCaptureSetting(&got);
    frame_ = std::make_unique<CMainFrame>();
    return got.imageName;
  };
  EXPECT_NE(endWith(u"Closed", false), u"Closed");
  EXPECT_EQ(endWith(u"Exited", true), u"Exited");
}

// Zoom: the snaps, the fit, the original size and the ratio combo.
TEST_F(FrameTest, ZoomArithmetic) {
  ShowStill(640, 480);
  frame().OnZoomOriginal();
  EXPECT_EQ(view().ImageWindow()->size(), QSize(640, 480));
  EXPECT_EQ(frame().ZoomCombo()->currentText(), "100%");
  frame().zoomFactor = 9.8;
  frame().OnZoomIn();
  EXPECT_DOUBLE_EQ(frame().zoomFactor, 10.0);
  EXPECT_EQ(view().ImageWindow()->width(), 6400);
  frame().OnZoomIn();
  EXPECT_DOUBLE_EQ(frame().zoomFactor, 10.0);
  frame().zoomFactor = 0.4;
  frame().OnZoomOut();
  EXPECT_DOUBLE_EQ(frame().zoomFactor, 0.25);
  EXPECT_EQ(frame().ZoomCombo()->currentText(), "25%");
  frame().OnZoomOut();
  EXPECT_DOUBLE_EQ(frame().zoomFactor, 0.25);
  // A small image is centred.
  const QRect r = view().ImageWindow()->geometry();
  EXPECT_EQ(r.size(), QSize(160, 120));
  EXPECT_NEAR(r.center().x(), view().width() / 2, 2);
  frame().ZoomCombo()->setCurrentIndex(5);
  frame().OnZoomRatioChange();
  EXPECT_DOUBLE_EQ(frame().zoomFactor, 1.5);
  EXPECT_EQ(view().ImageWindow()->width(), 960);
  // A large image is pinned: no gap opens at the left or top.
  frame().zoomFactor = 3.0;
  frame().ApplyZoom(3.0);
  const QRect big = view().ImageWindow()->geometry();
  EXPECT_LE(big.left(), 0);
  EXPECT_LE(big.top(), 0);
  EXPECT_GE(big.right() + 1, view().width());
}

TEST_F(FrameTest, ZoomClampsTo32767AndNeverDividesByZero) {
  ShowStill(4000, 10);
  frame().ApplyZoom(10.0);
  EXPECT_EQ(view().ImageWindow()->width(), 32767);
  // An empty header: nothing to fit.
  BITMAPINFOHEADER f{};
  camera().FreeFrameBuffer();
  frame().OnZoomFitWindow();
  frame().ApplyZoom(2.0);
  EXPECT_EQ(view().ClientToImage(10, 10).x, 0);
  (void)f;
}

TEST_F(FrameTest, ImageCommandsWorkOnStillImagesOnly) {
  ShowStill(64, 32);
  frame().Router().Execute(ids::kGrayBalance);  // grey balance: eroded, grey, equalised
  std::vector<std::uint8_t> px;
  BITMAPINFOHEADER f;
  ASSERT_TRUE(camera().CopyFrame(&px, &f));
  EXPECT_EQ(px[0], px[1]);
  EXPECT_EQ(px[1], px[2]);
  EXPECT_EQ(px[(64 * 16 + 63) * 3], 255);  // the ramp's end stretched to white
  GoLive();
  ASSERT_TRUE(camera().CopyFrame(&px, &f));
  const std::vector<std::uint8_t> before = px;
  frame().RunImageCommand(ids::kDilate);
  ASSERT_TRUE(camera().CopyFrame(&px, &f));
  EXPECT_EQ(px, before);
}

TEST_F(FrameTest, ClosingFromEveryStateIsClean) {
  // live and recording, with continuous capture running
  GoLive();
  RecordInto(dir_.path());
  frame().OnRecord();
  ChangeCapture([&](stCaptureSetting& cs) {
    cs.ifContinuous = true;
    cs.imageFolder = dir_.path().toStdU16String();
  });
  frame().OnCapture();
  frame().close();
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  frame_.reset();
  // paused
  frame_ = std::make_unique<CMainFrame>();
  GoLive();
  frame().OnCameraLive();
  frame().close();
  frame_.reset();
  // idle, never opened: no call with an invalid handle
  CamSdkTestSetCallLog(true);
  frame_ = std::make_unique<CMainFrame>();
  frame().close();
  for (const std::string& call : CamSdkTestTakeCallLog()) EXPECT_EQ(call.find("(-1"), std::string::npos) << call;
  CamSdkTestSetCallLog(false);
}
