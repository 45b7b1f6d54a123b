// Controls a camera lacks (a UVC camera without exposure or gain controls, say) stay disabled in
// the panel whatever enables the panel's controls afterwards, as a monochrome camera's colour
// controls do. The simulated "single" model is made to lack them through the library's hook.
#include "platform/camsdk/camsdk_testing.h"
#include "tests/imaging/camsetup_support.h"

namespace {

constexpr int kExposureUnit[] = {kExposureMinutesEdit, kExposureSecondsEdit, kExposureMsEdit, kExposureUsEdit,
                                 kExposureMinutesSpin, kExposureSecondsSpin, kExposureMsSpin, kExposureUsSpin};

class CamSetupLackingTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "color,single"; }

  // Opens both cameras (as the frame's Live command does for each) and chooses `product`.
  int OpenBothAndChoose(const char* product) {
    panel->DetectCameras();
    std::int32_t params[kOpenParamCount] = {};
    EXPECT_EQ(camera->OpenCamera(0, params, nullptr), CAMERA_OK);
    EXPECT_EQ(camera->OpenCamera(1, params, nullptr), CAMERA_OK);
    return Choose(product);
  }
  int Choose(const char* product) {
    QComboBox* list = W<QComboBox>(kCameraCombo);
    int index = -1;
    for (int i = 0; i < list->count(); ++i)
      if (list->itemText(i).startsWith(product)) index = i;
    EXPECT_GE(index, 0) << product;
    Activate(kCameraCombo, index);
    panel->EnableControls(AllPanelControls(), true);  // what the view's SetImageState does
    stCameraItem item;
    camera->GetCameraItem(index, &item);
    return item.handle;
  }
};

TEST_F(CamSetupLackingTest, GainAndGammaLackingStayDisabledThroughAutoExposureAndRefresh) {
  ASSERT_EQ(CamSdkTestSetLackingControls("single", CAMSDK_CONTROL_ANALOG_GAIN | CAMSDK_CONTROL_GAMMA),
            CAMSDK_STATUS_OK);
  OpenBothAndChoose("Q7V-UC200S");
  auto check = [&](const char* when) {
    EXPECT_FALSE(W(kAnalogGainSlider)->isEnabled()) << when;
    EXPECT_TRUE(W<QLineEdit>(kAnalogGainReadout)->isReadOnly()) << when;  // no typed gain either
    EXPECT_FALSE(W(kGammaSlider)->isEnabled()) << when;
    EXPECT_TRUE(W(kContrastSlider)->isEnabled()) << when;  // contrast it has
    EXPECT_TRUE(W(kAutoExposureCheck)->isEnabled()) << when;
  };
  check("chosen");
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());

  Click(kAutoExposureCheck);  // automatic exposure on
  ASSERT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  EXPECT_FALSE(W(kAeAdjustGainCheck)->isEnabled());  // it cannot regulate a gain the camera lacks
  EXPECT_TRUE(W(kAeAdjustExposureCheck)->isEnabled());
  Click(kAeAdjustExposureCheck);  // automatic exposure regulates the gain alone: the exposure is free
  Click(kAutoExposureCheck);  // off: the handler enables the manual gain and exposure
  ASSERT_FALSE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  check("automatic exposure off");
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());

  // The gain slider ignores the keys and the wheel it no longer takes.
  CamSdkTestTakeCallLog();
  QTest::keyClick(W(kAnalogGainSlider), Qt::Key_Right);
  EXPECT_TRUE(Calls(CamSdkTestTakeCallLog(), "CameraSetAnalogGain(").empty());

  Click(kFrameSpeedNormalRadio);  // frame speed: refresh from the camera
  check("frame speed");
  Click(kFactoryDefaultButton);  // factory defaults: refresh
  check("default");
  panel->EnableControls(AllPanelControls(), true);
  check("view enables all");
}

TEST_F(CamSetupLackingTest, ExposureLackingDisablesManualAndAutomaticExposureOnlyForThatCamera) {
  ASSERT_EQ(CamSdkTestSetLackingControls("single", CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE),
            CAMSDK_STATUS_OK);
  OpenBothAndChoose("Q7V-UC200S");
  auto lacking = [&](const char* when) {
    for (int id : kExposureUnit) EXPECT_FALSE(W(id)->isEnabled()) << id << " " << when;
    for (int id : {kAutoExposureCheck, kRegionAutoExposureCheck, kFocusAssistCheck, kAntiFlickDcRadio,
                   kAntiFlick50HzRadio, kAntiFlick60HzRadio})
      EXPECT_FALSE(W(id)->isEnabled()) << id << " " << when;
    EXPECT_TRUE(W(kAnalogGainSlider)->isEnabled()) << when;  // the gain it has
    EXPECT_TRUE(W(kGammaSlider)->isEnabled()) << when;
  };
  lacking("chosen");
  Click(kAutoExposureCheck);  // a click on the disabled box changes nothing
  EXPECT_FALSE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  lacking("clicked");

  // The other camera has every control; choosing it back brings them back, and not the reverse.
  Choose("Q7V-UC500C");
  for (int id : kExposureUnit) EXPECT_TRUE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(kAutoExposureCheck)->isEnabled());
  Click(kAutoExposureCheck);
  ASSERT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  Click(kAutoExposureCheck);
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
  Choose("Q7V-UC200S");
  lacking("chosen again");
}

}  // namespace
