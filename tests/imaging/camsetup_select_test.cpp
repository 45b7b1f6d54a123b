// Detection, camera choice, the refresh from the camera, frame speed, teams and defaults.
#include "camsetup_support.h"

#include <QSpinBox>

namespace {

class CamSetupNoCameraTest : public CamSetupTest {
 protected:
  const char* Models() const override { return ""; }
};

TEST_F(CamSetupNoCameraTest, DetectionRepeatsUntilACameraIsPluggedIn) {
  EXPECT_EQ(clock->Period(3), 800);
  clock->Advance(800 * 3);
  EXPECT_EQ(W<QComboBox>(1045)->count(), 0);
  EXPECT_TRUE(clock->IsTimerRunning(3));
  // No camera: every camera control stays disabled, also when the view asks to enable them.
  panel->EnableControls(AllPanelControls(), true);
  for (int id : AllPanelControls()) EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(1077)->isEnabled());
  // Handlers without a camera make no library call.
  CamSdkTestTakeCallLog();
  W<QSlider>(1003)->setValue(10);
  W<QLineEdit>(1311)->setText("5");
  W<QLineEdit>(1007)->setText("5");
  QTest::keyClick(W<QLineEdit>(1311), Qt::Key_Return);
  EXPECT_TRUE(CamSdkTestTakeCallLog().empty());

  ASSERT_EQ(CamSdkTestAttach("mono"), 1);
  clock->Advance(800);
  EXPECT_EQ(W<QComboBox>(1045)->count(), 1);
  EXPECT_EQ(W<QComboBox>(1045)->currentText(), "Q7V-UM130 0002");
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
  const int colour[] = {1059, 1171, 1053, 1054, 1055, 1046, 1069};
  auto check = [&](const char* when) {
    for (int id : colour) EXPECT_FALSE(W(id)->isEnabled()) << id << " " << when;
    EXPECT_TRUE(W(1009)->isEnabled()) << when;
  };
  check("open");
  panel->RefreshFromCamera(handle);
  panel->EnableControls(AllPanelControls(), true);
  check("refresh");
  Click(1026);  // frame speed: refresh
  check("frame speed");
  Click(1063);  // factory default: refresh
  check("default");
  Click(1352);
  clock->RunSteps();
  check("auto white balance");
}

TEST_F(CamSetupTwoCamerasTest, ChoosingACameraShapesItAndTellsTheView) {
  OpenFirst();  // playing
  const bool monoFirst = W<QComboBox>(1045)->itemText(0).startsWith("Q7V-UM130");
  // The other camera: listed but closed.
  Activate(1045, 1);
  ASSERT_FALSE(host.imageStates.empty());
  EXPECT_EQ(host.imageStates.back(), std::make_pair(1, 0));
  EXPECT_FALSE(W(1009)->isEnabled());
  // Back to the first camera, which plays.
  Activate(1045, 0);
  EXPECT_EQ(host.imageStates.back(), std::make_pair(1, 1));
  panel->EnableControls(AllPanelControls(), true);  // what the view's SetImageState does
  EXPECT_TRUE(W(1009)->isEnabled());
  EXPECT_EQ(W<QComboBox>(1175)->itemText(0), monoFirst ? "1280*1024" : "2592*1944");
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
  CameraSetGamma(handle, 70);
  CameraSetContrast(handle, 130);
  CameraSetAnalogGain(handle, 2.5f);
  CameraSetEdgeEnhance(handle, 0);
  CameraSetInverse(handle, 1);
  CameraSetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, 1);
  CameraSetAntiFlick(handle, 1);
  CameraSetLightFrequency(handle, CAMSDK_LIGHT_60HZ);
  CameraSetAeState(handle, 0);
  CameraSetExposureTime(handle, 12345670);  // 1 s 234 ms 567 us
  CameraStop(handle);
  panel->RefreshFromCamera(handle);
  EXPECT_TRUE(Playing(handle));
  EXPECT_EQ(W<QSlider>(1009)->value(), 70);
  EXPECT_EQ(Text(1049), "0.70");
  EXPECT_EQ(W<QSlider>(1010)->value(), 130);
  EXPECT_EQ(W<QSlider>(1003)->value(), 20);
  EXPECT_EQ(Text(1048), "2.500x");
  EXPECT_EQ(W<QSlider>(1064)->value(), 0);
  EXPECT_EQ(Text(1060), "0");
  EXPECT_TRUE(W<QAbstractButton>(1066)->isChecked());
  EXPECT_TRUE(W<QAbstractButton>(1068)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(1067)->isChecked());
  EXPECT_TRUE(W<QAbstractButton>(1073)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(1071)->isChecked());
  const std::uint64_t e = Exposure(handle);
  EXPECT_EQ(Text(1307), "0");
  EXPECT_EQ(Text(1309), QString::number(e / 10000000));
  EXPECT_EQ(Text(1311), QString::number(e / 10000 % 1000));
  EXPECT_EQ(Text(1316), QString::number(e / 10 % 1000));
  EXPECT_EQ(W<QSpinBox>(1312)->value(), int(e / 10000 % 1000));
  EXPECT_FALSE(W<QAbstractButton>(1001)->isChecked());
  EXPECT_TRUE(W(1311)->isEnabled());
  EXPECT_GE(host.zoomFits, 1);
}

TEST_F(CamSetupSelectTest, FrameSpeedAppliesResetsAndRefreshes) {
  Click(1025);
  int speed = -1;
  CameraGetFrameSpeed(handle, &speed);
  EXPECT_EQ(speed, 0);
  EXPECT_TRUE(W<QAbstractButton>(1025)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(1026)->isChecked());
  EXPECT_GE(host.statsResets, 1);
  auto log = CamSdkTestTakeCallLog();
  EXPECT_FALSE(Calls(log, "CameraPlay(").empty());
}

TEST_F(CamSetupSelectTest, TeamsSaveAndLoadAcrossARestartOfTheLibrary) {
  Click(1028);  // team B
  EXPECT_EQ(panel->ParamTeam(), 1);
  W<QSlider>(1009)->setValue(61);
  Click(1014);
  // Another value in force, then close everything and start again.
  W<QSlider>(1009)->setValue(99);
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
  EXPECT_TRUE(W<QAbstractButton>(1028)->isChecked());
  EXPECT_EQ(W<QSlider>(1009)->value(), 61);
  W<QSlider>(1009)->setValue(80);
  Click(1062);  // load team B again
  EXPECT_EQ(W<QSlider>(1009)->value(), 61);
  EXPECT_TRUE(Playing(handle));
  Click(1063);  // factory defaults
  int gamma = 0;
  CameraGetGamma(handle, &gamma);
  EXPECT_EQ(W<QSlider>(1009)->value(), gamma);
  EXPECT_NE(gamma, 61);
}

TEST_F(CamSetupSelectTest, NoTeamIsNeverSentAsATeam) {
  // Before any team was saved the library may report none; the panel keeps 255 then.
  panel.reset();
  MakePanel();
  CamSdkTestTakeCallLog();
  panel->EnableControls(AllPanelControls(), true);
  Click(1014);
  Click(1062);
  const auto log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(Calls(log, "CameraSaveParameter(").empty());
  EXPECT_TRUE(Calls(log, "CameraReadParameter(").empty());
}

TEST_F(CamSetupSelectTest, HotPlugWhilePanelIsOpen) {
  ASSERT_EQ(CamSdkTestAttach("mono"), 1);
  Click(1077);
  EXPECT_EQ(W<QComboBox>(1045)->count(), 2);
  ASSERT_EQ(CamSdkTestDetach("color"), 1);
  Click(1077);
  ASSERT_EQ(W<QComboBox>(1045)->count(), 1);
  EXPECT_EQ(W<QComboBox>(1045)->itemText(0), "Q7V-UM130 0002");
  // The open camera went away: nothing acts on its old handle.
  CamSdkTestTakeCallLog();
  W<QSlider>(1009)->setValue(77);
  Click(1014);
  std::string stale = "(";
  stale += std::to_string(handle);
  stale += ',';
  for (const auto& line : CamSdkTestTakeCallLog()) EXPECT_EQ(line.find(stale), std::string::npos) << line;
  EXPECT_FALSE(W(1009)->isEnabled());
}

TEST_F(CamSetupSelectTest, ExposureReadBackTimerRunsOnce) {
  W<QLineEdit>(1311)->setText("7");
  EXPECT_TRUE(clock->IsTimerRunning(2));
  clock->Advance(999);
  EXPECT_TRUE(clock->IsTimerRunning(2));
  clock->Advance(1);
  EXPECT_FALSE(clock->IsTimerRunning(2));
}

}  // namespace
