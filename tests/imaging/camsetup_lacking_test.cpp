// Controls a camera lacks (a UVC camera without exposure or gain controls, say) stay disabled in
// the panel whatever enables the panel's controls afterwards, as a monochrome camera's colour
// controls do. The simulated "single" model is made to lack them through the library's hook.
#include "tests/imaging/camsetup_support.h"

namespace {

constexpr int kExposureUnit[] = {1307, 1309, 1311, 1316, 1308, 1310, 1312, 1317};

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
    QComboBox* list = W<QComboBox>(1045);
    int index = -1;
    for (int i = 0; i < list->count(); ++i)
      if (list->itemText(i).startsWith(product)) index = i;
    EXPECT_GE(index, 0) << product;
    Activate(1045, index);
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
    EXPECT_FALSE(W(1003)->isEnabled()) << when;
    EXPECT_TRUE(W<QLineEdit>(1048)->isReadOnly()) << when;  // no typed gain either
    EXPECT_FALSE(W(1009)->isEnabled()) << when;
    EXPECT_TRUE(W(1010)->isEnabled()) << when;  // contrast it has
    EXPECT_TRUE(W(1001)->isEnabled()) << when;
  };
  check("chosen");
  EXPECT_TRUE(W(1311)->isEnabled());

  Click(1001);  // automatic exposure on
  ASSERT_TRUE(W<QAbstractButton>(1001)->isChecked());
  EXPECT_FALSE(W(1346)->isEnabled());  // it cannot regulate a gain the camera lacks
  EXPECT_TRUE(W(1347)->isEnabled());
  Click(1347);  // automatic exposure regulates the gain alone: the exposure is free
  Click(1001);  // off: the handler enables the manual gain and exposure
  ASSERT_FALSE(W<QAbstractButton>(1001)->isChecked());
  check("automatic exposure off");
  EXPECT_TRUE(W(1311)->isEnabled());

  // The gain slider ignores the keys and the wheel it no longer takes.
  CamSdkTestTakeCallLog();
  QTest::keyClick(W(1003), Qt::Key_Right);
  EXPECT_TRUE(Calls(CamSdkTestTakeCallLog(), "CameraSetAnalogGain(").empty());

  Click(1026);  // frame speed: refresh from the camera
  check("frame speed");
  Click(1063);  // factory defaults: refresh
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
    for (int id : {1001, 1172, 1348, 1071, 1072, 1073}) EXPECT_FALSE(W(id)->isEnabled()) << id << " " << when;
    EXPECT_TRUE(W(1003)->isEnabled()) << when;  // the gain it has
    EXPECT_TRUE(W(1009)->isEnabled()) << when;
  };
  lacking("chosen");
  Click(1001);  // a click on the disabled box changes nothing
  EXPECT_FALSE(W<QAbstractButton>(1001)->isChecked());
  lacking("clicked");

  // The other camera has every control; choosing it back brings them back, and not the reverse.
  Choose("Q7V-UC500C");
  for (int id : kExposureUnit) EXPECT_TRUE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(1001)->isEnabled());
  Click(1001);
  ASSERT_TRUE(W<QAbstractButton>(1001)->isChecked());
  Click(1001);
  EXPECT_TRUE(W(1311)->isEnabled());
  Choose("Q7V-UC200S");
  lacking("chosen again");
}

}  // namespace
