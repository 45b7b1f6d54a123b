// Detection, camera choice, the refresh from the camera, frame speed, teams and defaults.
#include "camsetup_support.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

#include <QMessageBox>

#include "platform/durable_file.h"
#include "tests/fs_faults.h"

#include <QSpinBox>

namespace {

class CamSetupNoCameraTest : public CamSetupTest {
 protected:
  const char* Models() const override { return ""; }
};

TEST_F(CamSetupNoCameraTest, DetectionRepeatsUntilACameraIsPluggedIn) {
  EXPECT_EQ(clock->Period(3), 800);
  clock->Advance(800 * 3);
  EXPECT_EQ(W<QComboBox>(kCameraCombo)->count(), 0);
  EXPECT_TRUE(clock->IsTimerRunning(3));
  // No camera: every camera control stays disabled, also when the view asks to enable them.
  panel->EnableControls(AllPanelControls(), true);
  for (int id : AllPanelControls()) EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(kDetectCamerasButton)->isEnabled());
  // Handlers without a camera make no library call.
  CamSdkTestTakeCallLog();
  W<QSlider>(kAnalogGainSlider)->setValue(10);
  W<QLineEdit>(kExposureMsEdit)->setText("5");
  W<QLineEdit>(kExposureFieldEdit)->setText("5");
  QTest::keyClick(W<QLineEdit>(kExposureMsEdit), Qt::Key_Return);
  EXPECT_TRUE(CamSdkTestTakeCallLog().empty());

  ASSERT_EQ(CamSdkTestAttach("mono"), 1);
  clock->Advance(800);
  EXPECT_EQ(W<QComboBox>(kCameraCombo)->count(), 1);
  EXPECT_EQ(W<QComboBox>(kCameraCombo)->currentText(), "Q7V-UM130 0002");
  EXPECT_FALSE(clock->IsTimerRunning(3));
  stCameraItem item;
  EXPECT_EQ(camera->GetCurCameraItem(&item), 0);
  EXPECT_EQ(item.state, CAMERA_CLOSED);  // listed, not opened
}

class CamSetupMonoTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "mono"; }
};

class CamSetupTwoCamerasTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "mono,color"; }
};

TEST_F(CamSetupMonoTest, MonoCameraKeepsItsColourControlsDisabled) {
  const int handle = OpenFirst();
  EXPECT_TRUE(panel->IsMonoCamera());
  const int colour[] = {kOnceWhiteBalanceButton, kRegionWhiteBalanceCheck, kRedGainSlider, kGreenGainSlider,
                        kBlueGainSlider, kSaturationSlider, kMonochromeCheck};
  auto check = [&](const char* when) {
    for (int id : colour) EXPECT_FALSE(W(id)->isEnabled()) << id << " " << when;
    EXPECT_TRUE(W(kGammaSlider)->isEnabled()) << when;
  };
  check("open");
  panel->RefreshFromCamera(handle);
  panel->EnableControls(AllPanelControls(), true);
  check("refresh");
  Click(kFrameSpeedNormalRadio);  // frame speed: refresh
  check("frame speed");
  Click(kFactoryDefaultButton);  // factory default: refresh
  check("default");
  Click(kAutoWhiteBalanceCheck);
  clock->RunSteps();
  check("auto white balance");
}

TEST_F(CamSetupTwoCamerasTest, ChoosingACameraShapesItAndTellsTheView) {
  OpenFirst();  // playing
  const bool monoFirst = W<QComboBox>(kCameraCombo)->itemText(0).startsWith("Q7V-UM130");
  // The other camera: listed but closed.
  Activate(kCameraCombo, 1);
  ASSERT_FALSE(host.imageStates.empty());
  EXPECT_EQ(host.imageStates.back(), std::make_pair(1, 0));
  EXPECT_FALSE(W(kGammaSlider)->isEnabled());
  // Back to the first camera, which plays.
  Activate(kCameraCombo, 0);
  EXPECT_EQ(host.imageStates.back(), std::make_pair(1, 1));
  panel->EnableControls(AllPanelControls(), true);  // what the view's SetImageState does
  EXPECT_TRUE(W(kGammaSlider)->isEnabled());
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->itemText(0), monoFirst ? "1280*1024" : "2592*1944");
  EXPECT_EQ(panel->IsMonoCamera(), monoFirst);
}

class CamSetupSelectTest : public CamSetupTest {
 protected:
  void SetUp() override {
    CamSetupTest::SetUp();
    handle = OpenFirst();
    CamSdkTestTakeCallLog();
  }
  int handle = -1;
};

TEST_F(CamSetupSelectTest, RefreshReadsEveryControlAndRestartsTheStream) {
  CAMSDK_OK(CameraSetGamma(handle, 70));
  CAMSDK_OK(CameraSetContrast(handle, 130));
  CAMSDK_OK(CameraSetAnalogGain(handle, 2.5f));
  CAMSDK_OK(CameraSetEdgeEnhance(handle, 0));
  CAMSDK_OK(CameraSetInverse(handle, 1));
  CAMSDK_OK(CameraSetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, 1));
  CAMSDK_OK(CameraSetAntiFlick(handle, 1));
  CAMSDK_OK(CameraSetLightFrequency(handle, CAMSDK_LIGHT_60HZ));
  CAMSDK_OK(CameraSetAeState(handle, 0));
  CAMSDK_OK(CameraSetExposureTime(handle, 12345670));  // 1 s 234 ms 567 us
  CAMSDK_OK(CameraStop(handle));
  panel->RefreshFromCamera(handle);
  EXPECT_TRUE(Playing(handle));
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), 70);
  EXPECT_EQ(Text(kGammaReadout), "0.70");
  EXPECT_EQ(W<QSlider>(kContrastSlider)->value(), 130);
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->value(), 20);
  EXPECT_EQ(Text(kAnalogGainReadout), "2.500x");
  EXPECT_EQ(W<QSlider>(kSharpnessSlider)->value(), 0);
  EXPECT_EQ(Text(kSharpnessReadout), "0");
  EXPECT_TRUE(W<QAbstractButton>(kInverseCheck)->isChecked());
  EXPECT_TRUE(W<QAbstractButton>(kFlipHorizontalCheck)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(kFlipVerticalCheck)->isChecked());
  EXPECT_TRUE(W<QAbstractButton>(kAntiFlick60HzRadio)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(kAntiFlickDcRadio)->isChecked());
  const std::uint64_t e = Exposure(handle);
  EXPECT_EQ(Text(kExposureMinutesEdit), "0");
  EXPECT_EQ(Text(kExposureSecondsEdit), QString::number(e / 10000000));
  EXPECT_EQ(Text(kExposureMsEdit), QString::number(e / 10000 % 1000));
  EXPECT_EQ(Text(kExposureUsEdit), QString::number(e / 10 % 1000));
  EXPECT_EQ(W<QSpinBox>(kExposureMsSpin)->value(), int(e / 10000 % 1000));
  EXPECT_FALSE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
  EXPECT_GE(host.zoomFits, 1);
}

TEST_F(CamSetupSelectTest, FrameSpeedAppliesResetsAndRefreshes) {
  Click(kFrameSpeedLowRadio);
  int speed = -1;
  CAMSDK_OK(CameraGetFrameSpeed(handle, &speed));
  EXPECT_EQ(speed, 0);
  EXPECT_TRUE(W<QAbstractButton>(kFrameSpeedLowRadio)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(kFrameSpeedNormalRadio)->isChecked());
  EXPECT_GE(host.statsResets, 1);
  auto log = CamSdkTestTakeCallLog();
  EXPECT_FALSE(Calls(log, "CameraPlay(").empty());
}

TEST_F(CamSetupSelectTest, TeamsSaveAndLoadAcrossARestartOfTheLibrary) {
  Click(kTeamBRadio);  // team B
  EXPECT_EQ(panel->ParamTeam(), 1);
  W<QSlider>(kGammaSlider)->setValue(61);
  Click(kSaveParamButton);
  // Another value in force, then close everything and start again.
  W<QSlider>(kGammaSlider)->setValue(99);
  panel.reset();
  camera.reset();
  CamSdkTestReset();
  CamSdkSetConfigDir((dir.path() + "/camsdk").toUtf8().constData());
  CamSdkTestSetSynchronous(true);
  CamSdkTestSetModels("color");
  camera = std::make_unique<CCameraProcess>();
  host.camera = camera.get();
  MakePanel();
  handle = OpenFirst();
  EXPECT_EQ(panel->ParamTeam(), 1);  // the camera's current team
  EXPECT_TRUE(W<QAbstractButton>(kTeamBRadio)->isChecked());
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), 61);
  W<QSlider>(kGammaSlider)->setValue(80);
  Click(kReadParamButton);  // load team B again
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), 61);
  EXPECT_TRUE(Playing(handle));
  Click(kFactoryDefaultButton);  // factory defaults
  int gamma = 0;
  CAMSDK_OK(CameraGetGamma(handle, &gamma));
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), gamma);
  EXPECT_NE(gamma, 61);
}

// A team that cannot be saved is said, with the camera settings' folder and the reason; the
// parameters stay in force. A real read-only folder where the test may mount one, else the
// writer's seam.
TEST_F(CamSetupSelectTest, ATeamThatCannotBeSavedIsSaid) {
  const std::filesystem::path folder = (dir.path() + "/camsdk").toStdString();
  std::filesystem::create_directories(folder);
  Click(kTeamCRadio);
  W<QSlider>(kGammaSlider)->setValue(61);
  EXPECT_EQ(panel->findChild<QMessageBox*>(), nullptr);
  {
    fs_faults::ReadOnlyFolder readOnly(folder);
    if (!readOnly.mounted) {
      DurableFaults full;
      full.freeBytes = 0;
      SetDurableFaults(full);
    }
    Click(kSaveParamButton);
    ClearDurableFaults();
    auto* box = panel->findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "The parameters could not be saved in team C: the camera settings in \"" +
                               QString::fromStdString(folder.string()) + "\" could not be written (" +
                               (readOnly.mounted ? "the folder is read-only" : "the disk is full") + ").");
    box->close();
    QApplication::processEvents();
  }
  int gamma = 0;
  CAMSDK_OK(CameraGetGamma(handle, &gamma));
  EXPECT_EQ(gamma, 61);
  Click(kSaveParamButton);  // with room again: saved, nothing said
  EXPECT_EQ(panel->findChild<QMessageBox*>(), nullptr);
  EXPECT_TRUE(std::filesystem::exists(folder / "camsdk-params.ini"));
}

TEST_F(CamSetupSelectTest, NoTeamIsNeverSentAsATeam) {
  // Before any team was saved the library may report none; the panel keeps 255 then.
  panel.reset();
  MakePanel();
  CamSdkTestTakeCallLog();
  panel->EnableControls(AllPanelControls(), true);
  Click(kSaveParamButton);
  Click(kReadParamButton);
  const auto log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(Calls(log, "CameraSaveParameter(").empty());
  EXPECT_TRUE(Calls(log, "CameraReadParameter(").empty());
}

TEST_F(CamSetupSelectTest, HotPlugWhilePanelIsOpen) {
  ASSERT_EQ(CamSdkTestAttach("mono"), 1);
  Click(kDetectCamerasButton);
  EXPECT_EQ(W<QComboBox>(kCameraCombo)->count(), 2);
  ASSERT_EQ(CamSdkTestDetach("color"), 1);
  Click(kDetectCamerasButton);
  ASSERT_EQ(W<QComboBox>(kCameraCombo)->count(), 1);
  EXPECT_EQ(W<QComboBox>(kCameraCombo)->itemText(0), "Q7V-UM130 0002");
  // The open camera went away: nothing acts on its old handle.
  CamSdkTestTakeCallLog();
  W<QSlider>(kGammaSlider)->setValue(77);
  Click(kSaveParamButton);
  std::string stale = "(";
  stale += std::to_string(handle);
  stale += ',';
  for (const auto& line : CamSdkTestTakeCallLog()) EXPECT_EQ(line.find(stale), std::string::npos) << line;
  EXPECT_FALSE(W(kGammaSlider)->isEnabled());
}

TEST_F(CamSetupSelectTest, ExposureReadBackTimerRunsOnce) {
  W<QLineEdit>(kExposureMsEdit)->setText("7");
  EXPECT_TRUE(clock->IsTimerRunning(2));
  clock->Advance(999);
  EXPECT_TRUE(clock->IsTimerRunning(2));
  clock->Advance(1);
  EXPECT_FALSE(clock->IsTimerRunning(2));
}

}  // namespace
