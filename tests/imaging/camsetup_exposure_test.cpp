// Capability set-up and the exposure group against the simulated colour camera.
#include "camsetup_support.h"

#include <QSpinBox>

#include "imaging/CamSetupCapability.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

namespace {

class CamSetupExposureTest : public CamSetupTest {
 protected:
  void SetUp() override {
    CamSetupTest::SetUp();
    handle = OpenFirst();
    CAMSDK_OK(CameraSetAeState(handle, 0));
    CamSdkTestTakeCallLog();
  }
  // Writes the four exposure fields as the operator would (each a real text change).
  void Fields(const char* m, const char* s, const char* ms, const char* us) {
    W<QLineEdit>(kExposureMinutesEdit)->setText(m);
    W<QLineEdit>(kExposureSecondsEdit)->setText(s);
    W<QLineEdit>(kExposureMsEdit)->setText(ms);
    W<QLineEdit>(kExposureUsEdit)->setText(us);
  }
  std::uint64_t Min() const {
    std::uint64_t e = 0, mx = 0, mn = 0;
    CAMSDK_OK(CameraGetExposureTime(handle, &e, &mx, &mn));
    return mn;
  }
  std::uint64_t Max() const {
    std::uint64_t e = 0, mx = 0, mn = 0;
    CAMSDK_OK(CameraGetExposureTime(handle, &e, &mx, &mn));
    return mx;
  }
  int handle = -1;
};

TEST_F(CamSetupExposureTest, CapabilityShapesTheControls) {
  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(handle, &cap), 1);
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->minimum(), int(cap.range->analogGainMin * 8));
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->maximum(), int(cap.range->analogGainMax * 8));
  EXPECT_EQ(W<QSlider>(kGammaSlider)->minimum(), std::max(cap.gammaMin, 20));
  EXPECT_EQ(W<QSlider>(kGammaSlider)->maximum(), std::min(cap.gammaMax, 150));
  EXPECT_EQ(W<QSlider>(kBlackLevelSlider)->minimum(), -128);
  EXPECT_EQ(W<QSlider>(kRedGainSlider)->maximum(), int(cap.redGainMax) * 100);
  // Resolutions in both combos with "*" for the multiplication sign; "ROI" only in the preview.
  ASSERT_EQ(W<QComboBox>(kPreviewSizeCombo)->count(), cap.resolutionCount + 1);
  EXPECT_EQ(W<QComboBox>(kCaptureSizeCombo)->count(), cap.resolutionCount);
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->itemText(0), "2592*1944");
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->itemText(cap.resolutionCount), "ROI");
  EXPECT_EQ(W<QComboBox>(kMediaTypeCombo)->count(), cap.mediaTypeCount);
  // The block handed back is what the library gave, and the frame can store it.
  stCameraCapability stored;
  camera->GetCameraCapability(&stored);
  EXPECT_EQ(UnpackCapability(stored).resolutionCount, cap.resolutionCount);
  const int speeds[] = {kFrameSpeedLowRadio, kFrameSpeedNormalRadio, kFrameSpeedHighRadio};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(W(speeds[i])->isEnabled(), i < cap.frameSpeedCount);
}

TEST_F(CamSetupExposureTest, FieldsGiveTheExposurePlusThreeMicroseconds) {
  Fields("0", "2", "5", "7");
  const auto sets = Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(");
  ASSERT_FALSE(sets.empty());
  const std::uint64_t want = 2 * 10000000ull + 5 * 10000ull + (7 + 3) * 10ull;
  EXPECT_EQ(sets.back(), "CameraSetExposureTime(" + std::to_string(handle) + ", " + std::to_string(want) + ") = 1");
  EXPECT_TRUE(clock->IsTimerRunning(2));
  EXPECT_EQ(clock->Period(2), 1000);
  // All zero: 3 us, raised to the camera's minimum.
  Fields("0", "0", "0", "0");
  const auto zero = Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(");
  EXPECT_EQ(zero.back(), "CameraSetExposureTime(" + std::to_string(handle) + ", " +
                             std::to_string(std::max<std::uint64_t>(30, Min())) + ") = 1");
}

TEST_F(CamSetupExposureTest, FieldClampsAndReadBack) {
  Fields("0", "0", "5", "0");
  W<QLineEdit>(kExposureMsEdit)->setText("1500");
  EXPECT_EQ(Text(kExposureMsEdit), "999");
  W<QLineEdit>(kExposureSecondsEdit)->setText("75");
  EXPECT_EQ(Text(kExposureSecondsEdit), "59");
  W<QLineEdit>(kExposureUsEdit)->setText("-4");
  EXPECT_EQ(Text(kExposureUsEdit), "999");
  const std::uint64_t want = std::min<std::uint64_t>(59 * 10000000ull + 999 * 10000ull + 1002 * 10ull, Max());
  EXPECT_EQ(Exposure(handle) / 10000, want / 10000);
  // One second later the fields show what the camera took.
  clock->Advance(1000);
  EXPECT_FALSE(clock->IsTimerRunning(2));
  const std::uint64_t e = Exposure(handle);
  EXPECT_EQ(Text(kExposureSecondsEdit).toULongLong(), e / 10000000 % 60);
  EXPECT_EQ(Text(kExposureMsEdit).toULongLong(), e / 10000 % 1000);
}

TEST_F(CamSetupExposureTest, MillisecondSpinFollowsTheMainsFrequency) {
  struct Case {
    int antiFlick, frequency, step;
  } cases[] = {{0, 0, 1}, {1, CAMSDK_LIGHT_50HZ, 10}, {1, CAMSDK_LIGHT_60HZ, 9}};
  for (const Case& c : cases) {
    CAMSDK_OK(CameraSetAntiFlick(handle, c.antiFlick));
    CAMSDK_OK(CameraSetLightFrequency(handle, c.frequency));
    Fields("0", "0", "20", "0");
    auto* spin = W<QSpinBox>(kExposureMsSpin);
    spin->stepBy(1);
    EXPECT_EQ(Text(kExposureMsEdit), QString::number(20 + c.step)) << c.step;
    EXPECT_EQ(spin->value(), 20 + c.step);
    spin->stepBy(-1);
    spin->stepBy(-1);
    EXPECT_EQ(Text(kExposureMsEdit), QString::number(20 - c.step)) << c.step;
  }
  // Below zero the field stays at 0.
  CAMSDK_OK(CameraSetAntiFlick(handle, 0));
  Fields("0", "0", "0", "0");
  W<QSpinBox>(kExposureMsSpin)->stepBy(-1);
  EXPECT_EQ(Text(kExposureMsEdit), "0");
}

TEST_F(CamSetupExposureTest, SecondSpinStepsByOneWithinItsRange) {
  ASSERT_GE(Max(), 10000000u);
  Fields("0", "1", "0", "0");
  W<QSpinBox>(kExposureSecondsSpin)->stepBy(-1);
  EXPECT_EQ(Text(kExposureSecondsEdit), "0");
  EXPECT_LT(Exposure(handle), 10000000u);
  W<QSpinBox>(kExposureSecondsSpin)->stepBy(-1);  // the spin stops at its minimum
  EXPECT_EQ(Text(kExposureSecondsEdit), "0");
  W<QSpinBox>(kExposureSecondsSpin)->stepBy(1);
  EXPECT_EQ(Text(kExposureSecondsEdit), "1");
  EXPECT_EQ(Exposure(handle) / 10000000, 1u);
}

TEST_F(CamSetupExposureTest, UnitCascadeDisablesUnitsBeyondTheMaximum) {
  const std::uint64_t m = Max();
  EXPECT_EQ(W(kExposureMinutesEdit)->isEnabled(), m / 600000000 != 0);
  EXPECT_EQ(W(kExposureMinutesSpin)->isEnabled(), m / 600000000 != 0);
  EXPECT_TRUE(W(kExposureSecondsEdit)->isEnabled());
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
  if (m / 600000000 == 0) {
    EXPECT_EQ(W<QSpinBox>(kExposureSecondsSpin)->maximum(), int(m / 10000000));
    EXPECT_EQ(W<QSpinBox>(kExposureMsSpin)->maximum(), 999);
    EXPECT_EQ(W<QSpinBox>(kExposureUsSpin)->maximum(), 999);
  }
}

TEST_F(CamSetupExposureTest, SetCommandOfTheMillisecondField) {
  W<QLineEdit>(kExposureFieldEdit)->setText("12.5");
  QTest::keyClick(W<QLineEdit>(kExposureFieldEdit), Qt::Key_Return);
  EXPECT_EQ(Exposure(handle) / 10000, 12u);
  EXPECT_EQ(panel->ExposureMax(), Max());
  EXPECT_EQ(Text(kExposureFieldEdit), "12.50");
  W<QLineEdit>(kExposureFieldEdit)->setText("");
  QTest::keyClick(W<QLineEdit>(kExposureFieldEdit), Qt::Key_Enter);
  EXPECT_EQ(Text(kExposureFieldEdit), QString::fromStdU16String(FormatW(u"%.2f", double(Min()) / 10000)));
  EXPECT_TRUE(panel->isVisible());  // Enter never closes the panel
}

TEST_F(CamSetupExposureTest, AutoExposureTogglesControlsAndMirrorsTheCamera) {
  Click(kAutoExposureCheck);
  int on = 0;
  CAMSDK_OK(CameraGetAeState(handle, &on));
  EXPECT_EQ(on, 1);
  EXPECT_TRUE(clock->IsTimerRunning(1));
  EXPECT_TRUE(W(kAeTargetSlider)->isEnabled());
  EXPECT_FALSE(W(kExposureMsEdit)->isEnabled());
  EXPECT_TRUE(W(kAeAdjustGainCheck)->isEnabled());
  // The camera chooses; the panel mirrors it every 100 ms.
  CamSdkTestDeliverFrames(handle, 20);
  clock->Advance(100);
  const std::uint64_t e = Exposure(handle);
  EXPECT_EQ(Text(kExposureMsEdit).toULongLong(), e / 10000 % 1000);
  Click(kAutoExposureCheck);
  CAMSDK_OK(CameraGetAeState(handle, &on));
  EXPECT_EQ(on, 0);
  EXPECT_FALSE(clock->IsTimerRunning(1));
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
  EXPECT_FALSE(W(kAeAdjustGainCheck)->isEnabled());
}

TEST_F(CamSetupExposureTest, AeModeKeepsOneRegulatorChecked) {
  Click(kAutoExposureCheck);  // AE on
  auto* gain = W<QCheckBox>(kAeAdjustGainCheck);
  auto* exp = W<QCheckBox>(kAeAdjustExposureCheck);
  if (!gain->isChecked()) Click(kAeAdjustGainCheck);
  if (!exp->isChecked()) Click(kAeAdjustExposureCheck);
  int mode = -1;
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 0);
  Click(kAeAdjustGainCheck);  // gain off: exposure only
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 1);
  EXPECT_TRUE(W(kAnalogGainSlider)->isEnabled());
  Click(kAeAdjustExposureCheck);  // clearing the last one sets it again
  EXPECT_TRUE(exp->isChecked());
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 1);
  Click(kAeAdjustGainCheck);  // both again
  ASSERT_TRUE(gain->isChecked() && exp->isChecked());
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 0);
  Click(kAeAdjustExposureCheck);  // exposure off: gain only
  ASSERT_TRUE(gain->isChecked() && !exp->isChecked());
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 2);
  Click(kAeAdjustGainCheck);  // clearing gain while exposure is clear keeps gain, mode 2
  EXPECT_TRUE(gain->isChecked());
  CAMSDK_OK(CameraGetAeMode(handle, &mode));
  EXPECT_EQ(mode, 2);
}

TEST_F(CamSetupExposureTest, AeSchemeTargetAndRegion) {
  Click(kAutoExposureCheck);
  Activate(kAeSchemeCombo, 3);
  int scheme = -1;
  CAMSDK_OK(CameraGetAeScheme(handle, &scheme));
  EXPECT_EQ(scheme, 3);
  W<QSlider>(kAeTargetSlider)->setValue(W<QSlider>(kAeTargetSlider)->minimum() + 5);
  int target = -1;
  CAMSDK_OK(CameraGetAeTarget(handle, &target));
  EXPECT_EQ(target, W<QSlider>(kAeTargetSlider)->value());
  EXPECT_EQ(Text(kAeTargetReadout), QString::number(target));
  // Arming the AE window: the camera object's rectangle mode and the hint.
  Click(kRegionAutoExposureCheck);
  EXPECT_TRUE(panel->IsRegionAEArmed());
  EXPECT_EQ(panel->ArmedRegion(), CCamSetupDlg::Region::Exposure);
  EXPECT_TRUE(camera->GetRoi(nullptr, nullptr));
  ASSERT_FALSE(host.hints.isEmpty());
  EXPECT_EQ(host.hints.back(), "Specify the region of Auto Exposure in ths image.");
  // The view applied the window: AE forced on, the mode disarmed.
  panel->OnRegionApplied(CCamSetupDlg::Region::Exposure, 0, 0, 0, 0);
  EXPECT_FALSE(panel->IsRegionAEArmed());
  EXPECT_FALSE(camera->GetRoi(nullptr, nullptr));
  int on = 0;
  CAMSDK_OK(CameraGetAeState(handle, &on));
  EXPECT_EQ(on, 1);
}

}  // namespace
