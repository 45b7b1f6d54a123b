// The fluorescence focus assistant on the camera with a summing resolution: the search runs on
// the panel's clock with the panel usable, converges to an accepted grey level for a dim sample
// and for the full scene, and ends at the first resolution with four times the exposure for the
// brightness target. Giving up leaves the camera playing as it was and says why.
#include "camsetup_support.h"

#include <cmath>

#include "imaging/CamSetupInternal.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"
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
    EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
    EXPECT_EQ(camera->GetDrawMode(), 1);
    EXPECT_EQ(PreviewSel(), 1);
    EXPECT_EQ(Exposure(handle), before);
    EXPECT_TRUE(Playing(handle));
  }
  int handle = -1;
  std::uint64_t before = 0;
};

TEST(CamSetupFocusArithmetic, SearchStepsAndTargetExposure) {
  using camsetup::FocusSearch;
  using camsetup::FocusStep;
  using camsetup::NextFocusExposure;
  const auto fresh = [](std::uint64_t e) { return FocusSearch{e, 200, 10000000, 0, 0}; };
  FocusSearch s = fresh(1000000);
  EXPECT_EQ(NextFocusExposure(s, 3).exposure, 2000000u);  // a dim sample: 100 ms -> 200 ms
  s = fresh(1000000);
  EXPECT_EQ(NextFocusExposure(s, 7).exposure, 2000000u);  // at least doubled while too dark
  s = fresh(1000000);
  EXPECT_EQ(NextFocusExposure(s, 30).exposure, 500000u);  // -> 50 ms
  EXPECT_EQ(NextFocusExposure(s, 30).exposure, 250100u);  // not 0: halfway to the shortest
  s = fresh(1000000);
  EXPECT_EQ(NextFocusExposure(s, 10).kind, FocusStep::Accept);
  EXPECT_EQ(NextFocusExposure(s, 26).kind, FocusStep::Accept);
  EXPECT_EQ(NextFocusExposure(s, 27).kind, FocusStep::Continue);
  // The ends of the range: too bright at the shortest, too dark at the longest exposure.
  s = fresh(200);
  EXPECT_EQ(NextFocusExposure(s, 200).kind, FocusStep::TooBright);
  s = fresh(10000000);
  EXPECT_EQ(NextFocusExposure(s, 2).kind, FocusStep::TooDark);
  // Between a too dark and a too bright exposure the search bisects, and stops when nothing
  // is left between them.
  s = fresh(1000000);
  s.dark = 999998;
  s.bright = 1000001;
  s.exposure = 999999;
  EXPECT_EQ(NextFocusExposure(s, 3).exposure, 1000000u);
  EXPECT_EQ(NextFocusExposure(s, 40).kind, FocusStep::NoLevel);

  // Found 100 ms at 18, test shot 250 ms at 45, target 180: 1000 ms.
  EXPECT_EQ(camsetup::FocusTargetExposure(2500000, 45, 1000000, 18, 180), 10000000);
  // No slope: the test exposure stands; a line that falls below zero gives 0, never a wrap.
  EXPECT_EQ(camsetup::FocusTargetExposure(2500000, 18, 1000000, 18, 180), 2500000);
  EXPECT_EQ(camsetup::FocusTargetExposure(1000000, 150, 2000000, 200, 0), 0);
}

// Any grey curve that rises with the exposure (a linear sensor with a pedestal, saturating at
// 255): the search ends in the accepted window in few rounds, or says which end it hit.
TEST(CamSetupFocusArithmetic, SearchConvergesForBrightAndDimScenes) {
  using camsetup::FocusSearch;
  using camsetup::FocusStep;
  for (double perMs : {0.002, 0.05, 1.0, 7.0, 40.0, 900.0, 5e4}) {
    FocusSearch s{1000000, 200, 10000000, 0, 0};
    const auto grey = [perMs](std::uint64_t e) { return int(std::min(255.0, 6.0 + perMs * double(e) / 10000.0)); };
    FocusStep step{FocusStep::Continue, s.exposure};
    int rounds = 0;
    while (step.kind == FocusStep::Continue && rounds < 100) {
      step = camsetup::NextFocusExposure(s, grey(s.exposure));
      ++rounds;
    }
    if (step.kind == FocusStep::Accept) {
      EXPECT_NEAR(grey(step.exposure), 18, 8) << perMs;
      EXPECT_LE(rounds, 30) << perMs;
    } else if (perMs < 0.01) {
      EXPECT_EQ(step.kind, FocusStep::TooDark) << perMs;  // 1 s gives 6 + 0.002 x 1000 = 8
    } else {
      EXPECT_EQ(step.kind, FocusStep::TooBright) << perMs;  // brighter than 26 at 20 us
    }
  }
}

TEST_F(CamSetupFocusTest, CoveredLensGivesUpTooDarkAndSaysSo) {
  CamSdkTestSetLensCovered(handle, 1);  // only the pedestal: never bright enough
  Click(kFocusAssistCheck);
  EXPECT_TRUE(panel->IsBusy());
  // The panel stays usable: the camera list and the box (which stops the search) too.
  EXPECT_TRUE(panel->isEnabled());
  EXPECT_TRUE(W(kCameraCombo)->isEnabled());
  EXPECT_TRUE(W(kFocusAssistCheck)->isEnabled());
  EXPECT_FALSE(W(kPreviewSizeCombo)->isEnabled());  // the assistant drives the resolution
  EXPECT_FALSE(W(kExposureMsEdit)->isEnabled());
  EXPECT_EQ(PreviewSel(), 2);  // "1024×768 SUM", the last summing resolution
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kFocusSearch);
  EXPECT_EQ(camera->GetDrawMode(), 1);  // the live picture goes on being drawn
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 2);
  ASSERT_FALSE(host.hints.isEmpty());
  EXPECT_EQ(host.hints.back(), QString::fromStdU16String(LoadStringW(kFocusSearchingHint)));
  EXPECT_LT(clock->RunSteps(), 20000);  // doubling up to 1 s: a few rounds
  ExpectGaveUpAsBefore();
  EXPECT_EQ(host.hints.back(), QString::fromStdU16String(FormatW(LoadStringW(kFocusTooDarkHint), 1000)));
  EXPECT_TRUE(W(kPreviewSizeCombo)->isEnabled());
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
}

TEST_F(CamSetupFocusTest, DefaultSceneReachesTheActiveStateWithAPictureToFocusOn) {
  // The full light of the scene, not a dim sample: far too bright at 100 ms.
  Click(kFocusAssistCheck);
  const std::int64_t took = clock->RunSteps();
  ASSERT_FALSE(panel->IsBusy());
  ASSERT_TRUE(W<QAbstractButton>(kFocusAssistCheck)->isChecked()) << host.hints.join("\n").toStdString();
  EXPECT_LT(took, 30 * 600);
  const stFocusStore& store = camera->FocusStore();
  EXPECT_GE(store.foundGrey, 10);
  EXPECT_LE(store.foundGrey, 26);
  EXPECT_LT(store.foundExposure, 500000u);
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kBrightened);
  EXPECT_EQ(host.hints.back(), QString::fromStdU16String(LoadStringW(kFocusActiveHint)));
  // The picture shown is brightened towards the target, while the raw frame the library keeps
  // is the sensor's: the assistant's grey readings stay true.
  ASSERT_GT(CamSdkTestDeliverFrames(handle, 2), 0);
  double shown = 0;
  {
    const FrameView frame = camera->ViewFrame();
    ASSERT_TRUE(frame);
    for (std::uint8_t v : frame.Pixels()) shown += v;
    shown /= double(frame.Pixels().size());
  }
  EXPECT_GT(shown, 80.0);
  int x = 0, y = 0, w = 0, h = 0, media = 0;
  CAMSDK_OK(CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
  CAMSDK_OK(CameraGetMediaType(handle, &media));
  std::vector<unsigned char> raw(std::size_t(w) * h);
  CamSdkFrameInfo info{};
  ASSERT_EQ(CameraGetImageData(handle, raw.data(), media, &info, raw.size()), CAMSDK_STATUS_OK);
  int grey = 0;
  ASSERT_EQ(KvImgGetRawGray(KvImgRaw{raw.data(), info.width, info.height, 8, info.format}, &grey), KVIMG_OK);
  EXPECT_NEAR(grey, store.foundGrey, 6);
}

TEST_F(CamSetupFocusTest, ClearingTheBoxWhileSearchingStopsAndRestores) {
  CamSdkTestSetLensCovered(handle, 1);
  Click(kFocusAssistCheck);
  clock->Advance(600);
  ASSERT_TRUE(panel->IsBusy());
  Click(kFocusAssistCheck);  // off, while searching
  ExpectGaveUpAsBefore();
  clock->RunSteps();  // the round that was due finds the search ended and changes nothing
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
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
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
  EXPECT_EQ(host.hints.back(), QString::fromStdU16String(LoadStringW(kFocusNoFrameHint)));
}

TEST_F(CamSetupFocusTest, CameraGoneDuringTheSearchEndsIt) {
  Click(kFocusAssistCheck);
  ASSERT_TRUE(panel->IsBusy());
  camera->CloseCamera(0);
  clock->RunSteps();
  EXPECT_FALSE(panel->IsBusy());
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
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
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kBrightened);
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
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
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
  ASSERT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kBrightened);
  camera->CloseCamera(0);
  panel->EnableControls(AllPanelControls(), false);  // what the view does after the stop
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
  EXPECT_EQ(camera->GetDrawMode(), 1);
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  // Live again: frames reach the view unaltered.
  std::int32_t params[kOpenParamCount] = {};
  ASSERT_EQ(camera->OpenCamera(0, params, nullptr), CAMERA_OK);
  EXPECT_EQ(camera->GetFrameMode(), CCameraProcess::FrameMode::kPlain);
}

class CamSetupFocusNoSumTest : public CamSetupTest {};

TEST_F(CamSetupFocusNoSumTest, NoSummingResolutionLastGivesUpSaysWhyAndKeepsPlaying) {
  const int handle = OpenFirst();
  CamSdkTestTakeCallLog();
  Click(kFocusAssistCheck);
  EXPECT_FALSE(panel->IsBusy());
  EXPECT_FALSE(W<QAbstractButton>(kFocusAssistCheck)->isChecked());
  EXPECT_EQ(camera->GetDrawMode(), 1);
  EXPECT_TRUE(Playing(handle));
  ASSERT_FALSE(host.hints.isEmpty());
  EXPECT_EQ(host.hints.back(), QString::fromStdU16String(LoadStringW(kFocusNoSumHint)));
  // The camera was not touched: no stop, no exposure, no resolution.
  const auto log = CamSdkTestTakeCallLog();
  for (const char* call : {"CameraStop", "CameraSetExposureTime", "CameraSetImageSizeSel", "CameraSetAeState"})
    EXPECT_TRUE(Calls(log, call).empty()) << call;
}

}  // namespace
