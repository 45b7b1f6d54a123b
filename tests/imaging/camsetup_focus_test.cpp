// The fluorescence focus assistant on the camera with a summing resolution: the search runs on
// the panel's clock, converges to an accepted grey level, and ends at the first resolution
// with four times the exposure for the brightness target. Giving up leaves the camera playing.
#include "camsetup_support.h"

#include <cmath>

#include "imaging/CamSetupInternal.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

namespace {

class CamSetupFocusTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "sum"; }
  void SetUp() override {
    CamSetupTest::SetUp();
    handle = OpenFirst();
    CAMSDK_OK(CameraSetAeState(handle, 0));
    CAMSDK_OK(CameraSetImageSizeSel(handle, 1, CAMSDK_SIZE_PREVIEW));  // a resolution to come back to
    CAMSDK_OK(CameraSetExposureTime(handle, 200000));
    before = Exposure(handle);
  }
  int PreviewSel() const {
    int sel = -1;
    CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW));
    return sel;
  }
  // Given up: the box cleared, the modes back, the camera streaming as it was.
  void ExpectGaveUpAsBefore() {
    EXPECT_FALSE(panel->IsBusy());
    EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
    EXPECT_EQ(camera->GetFrameMode(), 0);
    EXPECT_EQ(camera->GetDrawMode(), 1);
    EXPECT_EQ(PreviewSel(), 1);
    EXPECT_EQ(Exposure(handle), before);
    EXPECT_TRUE(Playing(handle));
  }
  int handle = -1;
  std::uint64_t before = 0;
};

TEST(CamSetupFocusArithmetic, SearchStepsAndTargetExposure) {
  using camsetup::FocusStep;
  using camsetup::NextFocusExposure;
  EXPECT_EQ(NextFocusExposure(3, 1000000).exposure, 2000000u);  // 100 ms -> 200 ms
  EXPECT_EQ(NextFocusExposure(7, 1000000).exposure, 1500000u);  // -> 150 ms
  EXPECT_EQ(NextFocusExposure(30, 1000000).exposure, 500000u);  // -> 50 ms
  EXPECT_EQ(NextFocusExposure(30, 500000).exposure, 0u);
  EXPECT_EQ(NextFocusExposure(30, 0).kind, FocusStep::GiveUp);
  EXPECT_EQ(NextFocusExposure(10, 700).kind, FocusStep::Accept);
  EXPECT_EQ(NextFocusExposure(26, 700).kind, FocusStep::Accept);
  EXPECT_EQ(NextFocusExposure(27, 700).kind, FocusStep::GiveUp);
  // Found 100 ms at 18, test shot 250 ms at 45, target 180: 1000 ms.
  EXPECT_EQ(camsetup::FocusTargetExposure(2500000, 45, 1000000, 18, 180), 10000000);
  // No slope: the test exposure stands; a line that falls below zero gives 0, never a wrap.
  EXPECT_EQ(camsetup::FocusTargetExposure(2500000, 18, 1000000, 18, 180), 2500000);
  EXPECT_EQ(camsetup::FocusTargetExposure(1000000, 150, 2000000, 200, 0), 0);
}

TEST_F(CamSetupFocusTest, SearchRunsOnTheClockAndGivesUpAfterAHundredRounds) {
  CamSdkTestSetLensCovered(handle, 1);  // only the pedestal: never bright enough
  Click(kFocusAssistCheck);
  EXPECT_TRUE(panel->IsBusy());
  EXPECT_FALSE(panel->isEnabled());
  EXPECT_EQ(PreviewSel(), 2);  // "1024×768 SUM", the last summing resolution
  EXPECT_EQ(camera->GetFrameMode(), 1);
  EXPECT_EQ(camera->GetDrawMode(), 1);  // the live picture goes on being drawn
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 2);
  EXPECT_EQ(clock->RunSteps(), 100 * 500);
  ExpectGaveUpAsBefore();
}

TEST_F(CamSetupFocusTest, EndWorksOutTheExposureForTheTargetAtTheFirstResolution) {
  stFocusStore& store = camera->FocusStore();
  store.foundExposure = 1000000;
  store.foundGrey = 18;
  W<QCheckBox>(kFocusAssistCheck)->setChecked(true);  // the assistant was on
  Click(kFocusAssistCheck);
  EXPECT_TRUE(panel->IsBusy());
  clock->Advance(100 + 500 - 1);  // found / 10000 + 500 ms before the test shot
  EXPECT_EQ(store.testExposure, 0u);
  clock->RunSteps();
  ASSERT_FALSE(panel->IsBusy());
  EXPECT_GT(store.testExposure, 0u);
  EXPECT_EQ(store.targetExposure, camsetup::FocusTargetExposure(store.testExposure, store.testGrey, 1000000, 18,
                                                                camera->GetBrightnessTarget()));
  EXPECT_EQ(PreviewSel(), 0);
  EXPECT_EQ(camera->GetFrameMode(), 0);
  EXPECT_EQ(camera->GetDrawMode(), 1);
  std::uint64_t e = 0, mx = 0, mn = 0;
  CAMSDK_OK(CameraGetExposureTime(handle, &e, &mx, &mn));
  const std::uint64_t asked = std::uint64_t(store.targetExposure) * 4;
  EXPECT_NEAR(double(e), double(std::clamp(asked, mn, mx)), 10000.0);
  EXPECT_TRUE(W(kAutoExposureCheck)->isEnabled());
  EXPECT_TRUE(W(kAnalogGainSlider)->isEnabled());
  EXPECT_FALSE(W(kAeTargetSlider)->isEnabled());
  EXPECT_TRUE(Playing(handle));
  EXPECT_EQ(Text(kExposureMsEdit), QString::number(e / 10000 % 1000));
}

TEST_F(CamSetupFocusTest, FailedFetchGivesUpAndTheCameraPlaysAsBefore) {
  CamSdkTestInjectFailure("CameraGetImageData", CAMSDK_STATUS_TIMEOUT, -1);
  Click(kFocusAssistCheck);
  clock->RunSteps();
  CamSdkTestClearFailures();
  ExpectGaveUpAsBefore();
}

TEST_F(CamSetupFocusTest, CameraGoneDuringTheSearchEndsIt) {
  Click(kFocusAssistCheck);
  ASSERT_TRUE(panel->IsBusy());
  camera->CloseCamera(0);
  clock->RunSteps();
  EXPECT_FALSE(panel->IsBusy());
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  EXPECT_EQ(camera->GetFrameMode(), 0);
}

// A faint sample: the search converges, the frames are brightened, and switching the assistant
// off brings the camera back to its first resolution.
TEST_F(CamSetupFocusTest, FaintSampleConvergesEndToEnd) {
  CamSdkTestSetSceneLight(handle, 1.0 / 1500);
  CAMSDK_OK(CameraSetAeState(handle, 1));
  panel->RefreshFromCamera(handle);
  ASSERT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  Click(kFocusAssistCheck);
  int ae = -1;
  CAMSDK_OK(CameraGetAeState(handle, &ae));
  EXPECT_EQ(ae, 0);  // automatic exposure does not fight the search
  const std::int64_t took = clock->RunSteps();
  EXPECT_GT(took, 500);  // more than one round: the exposure had to be raised
  ASSERT_FALSE(panel->IsBusy());
  ASSERT_TRUE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  const stFocusStore& store = camera->FocusStore();
  EXPECT_GE(store.foundGrey, 10);
  EXPECT_LE(store.foundGrey, 26);
  EXPECT_GT(store.foundExposure, 1000000u);
  EXPECT_EQ(camera->GetFrameMode(), 2);
  EXPECT_EQ(camera->GetDrawMode(), 1);
  EXPECT_EQ(PreviewSel(), 2);
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 2);
  EXPECT_FALSE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  EXPECT_FALSE(W(kAutoExposureCheck)->isEnabled());
  CAMSDK_OK(CameraGetAeState(handle, &ae));
  EXPECT_EQ(ae, 0);
  // The view's enabling leaves the manual exposure locked while the assistant is active.
  panel->EnableControls(AllPanelControls(), true);
  EXPECT_FALSE(W(kExposureMsEdit)->isEnabled());
  EXPECT_FALSE(W(kAutoExposureCheck)->isEnabled());
  // Live frames keep coming, brightened towards the target.
  EXPECT_TRUE(Playing(handle));

  Click(kFocusAssistCheck);  // off
  clock->RunSteps();
  ASSERT_FALSE(panel->IsBusy());
  EXPECT_EQ(PreviewSel(), 0);
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 0);
  EXPECT_EQ(camera->GetFrameMode(), 0);
  EXPECT_GT(store.testGrey, 0);
  EXPECT_TRUE(W(kAutoExposureCheck)->isEnabled());
}

TEST_F(CamSetupFocusTest, GivingUpRestoresAutomaticExposure) {
  CAMSDK_OK(CameraSetAeState(handle, 1));
  panel->RefreshFromCamera(handle);
  before = Exposure(handle);
  CamSdkTestSetLensCovered(handle, 1);
  Click(kFocusAssistCheck);
  clock->RunSteps();
  int ae = 0;
  CAMSDK_OK(CameraGetAeState(handle, &ae));
  EXPECT_EQ(ae, 1);
  EXPECT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  EXPECT_TRUE(clock->IsTimerRunning(1));
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 1);
}

TEST_F(CamSetupFocusTest, ClosingTheCameraEndsTheActiveAssistant) {
  CamSdkTestSetSceneLight(handle, 1.0 / 1500);
  Click(kFocusAssistCheck);
  clock->RunSteps();
  ASSERT_EQ(camera->GetFrameMode(), 2);
  camera->CloseCamera(0);
  panel->EnableControls(AllPanelControls(), false);  // what the view does after the stop
  EXPECT_EQ(camera->GetFrameMode(), 0);
  EXPECT_EQ(camera->GetDrawMode(), 1);
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  // Live again: frames reach the view unaltered.
  std::int32_t params[kOpenParamCount] = {};
  ASSERT_EQ(camera->OpenCamera(0, params, nullptr), CAMERA_OK);
  EXPECT_EQ(camera->GetFrameMode(), 0);
}

class CamSetupFocusNoSumTest : public CamSetupTest {};

TEST_F(CamSetupFocusNoSumTest, NoSummingResolutionLastGivesUpAndKeepsPlaying) {
  const int handle = OpenFirst();
  Click(kFocusAssistCheck);
  EXPECT_FALSE(panel->IsBusy());
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  EXPECT_EQ(camera->GetDrawMode(), 1);
  EXPECT_TRUE(Playing(handle));
}

}  // namespace
