// The panel in an operator's hands, inside its pane: the wheel over each kind of control and
// over empty space, Enter after typing in each field, the arrow keys in the exposure fields,
// and what stays disabled whatever the view enables.
#include "camsetup_support.h"

#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include "imaging/CamSetupPane.h"

namespace {

class CamSetupPaneTest : public CamSetupTest {
 protected:
  void SetUp() override {
    CamSetupTest::SetUp();
    panel.reset();
    clock = new ManualClock;
    pane = std::make_unique<CCamSetupPane>(nullptr, std::unique_ptr<CamSetupClock>(clock));
    pane->resize(330, 500);
    pane->show();
    panel.reset(pane->Panel());  // owned by the pane; released before the pane goes
    pane->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));
    handle = OpenFirst();
    CameraSetAeState(handle, 0);
    panel->RefreshFromCamera(handle);
    panel->EnableControls(AllPanelControls(), true);
    CamSdkTestTakeCallLog();
  }
  void TearDown() override {
    (void)panel.release();
    pane.reset();
    CamSetupTest::TearDown();
  }
  // One notch of the wheel over `target` (backward scrolls down).
  void Wheel(QWidget* target, int notches) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton, {}, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(target, &e);
  }
  int ScrollY() const { return pane->verticalScrollBar()->value(); }
  // Library calls that change the camera.
  static std::vector<std::string> Sets(const std::vector<std::string>& log) {
    std::vector<std::string> out;
    for (const auto& line : log)
      if (line.rfind("CameraSet", 0) == 0 || line.rfind("CameraStop", 0) == 0) out.push_back(line);
    return out;
  }
  std::uint64_t Min() const {
    std::uint64_t e = 0, mx = 0, mn = 0;
    CameraGetExposureTime(handle, &e, &mx, &mn);
    return mn;
  }
  // The exposure last sent to the camera (the camera itself rounds it to its line time).
  static std::uint64_t LastExposureSet(const std::vector<std::string>& log) {
    const auto sets = Calls(log, "CameraSetExposureTime(");
    if (sets.empty()) return 0;
    const std::string& line = sets.back();
    const auto comma = line.find(", ");
    return std::stoull(line.substr(comma + 2, line.find(')') - comma - 2));
  }
  void Type(int id, const QString& text) {
    QLineEdit* edit = W<QLineEdit>(id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }

  std::unique_ptr<CCamSetupPane> pane;
  int handle = -1;
};

TEST_F(CamSetupPaneTest, WheelOverUnfocusedControlsScrollsThePanel) {
  const int gamma = W<QSlider>(1009)->value();
  const int gain = W<QSlider>(1003)->value();
  const QString ms = Text(1311);
  const int preview = W<QComboBox>(1175)->currentIndex();
  const int layerClears = host.layerClears;
  ASSERT_GT(pane->verticalScrollBar()->maximum(), 200);
  // Down over a slider, a spin, a drop-down, a read-out, a check box and empty space.
  QWidget* targets[] = {W(1009), W(1003), W(1312), W(1175), W(1240), W(1049), W(1001), pane->viewport()};
  int y = ScrollY();
  for (QWidget* target : targets) {
    Wheel(target, -1);
    EXPECT_EQ(ScrollY(), y + 10) << ui::CtrlId(target);
    y = ScrollY();
  }
  Wheel(W(1009), 1);
  EXPECT_EQ(ScrollY(), y - 10);
  EXPECT_EQ(W<QSlider>(1009)->value(), gamma);
  EXPECT_EQ(W<QSlider>(1003)->value(), gain);
  EXPECT_EQ(Text(1311), ms);
  EXPECT_EQ(W<QComboBox>(1175)->currentIndex(), preview);
  EXPECT_EQ(host.layerClears, layerClears);
  EXPECT_TRUE(Sets(CamSdkTestTakeCallLog()).empty());
  // None of them took the focus from the wheel.
  for (QWidget* target : targets) EXPECT_FALSE(target->hasFocus()) << ui::CtrlId(target);
}

TEST_F(CamSetupPaneTest, WheelChangesAControlOnceClickedInto) {
  QSlider* slider = W<QSlider>(1009);
  pane->ensureWidgetVisible(slider);
  // A click on the handle focuses the slider without moving it.
  QStyleOptionSlider opt;
  opt.initFrom(slider);
  opt.orientation = slider->orientation();
  opt.minimum = slider->minimum();
  opt.maximum = slider->maximum();
  opt.sliderPosition = opt.sliderValue = slider->value();
  opt.subControls = QStyle::SC_All;
  const QRect handleRect = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
  const int before = slider->value();
  QTest::mouseClick(slider, Qt::LeftButton, {}, handleRect.center());
  ASSERT_TRUE(slider->hasFocus());
  ASSERT_EQ(slider->value(), before);
  const int y = ScrollY();
  Wheel(slider, 1);
  EXPECT_NE(slider->value(), before);
  EXPECT_EQ(ScrollY(), y);
  const auto gammas = Calls(CamSdkTestTakeCallLog(), "CameraSetGamma(");
  ASSERT_FALSE(gammas.empty());
  EXPECT_EQ(gammas.back(), "CameraSetGamma(" + std::to_string(handle) + ", " + std::to_string(slider->value()) + ") = 1");
  // Another control, not clicked into, still scrolls.
  Wheel(W(1010), -1);
  EXPECT_EQ(ScrollY(), y + 10);
}

TEST_F(CamSetupPaneTest, EnterAppliesTheFieldItIsPressedIn) {
  const std::string h = std::to_string(handle);
  // Milliseconds: the exposure the fields spell, not the camera's minimum.
  W<QLineEdit>(1307)->setText("0");
  W<QLineEdit>(1309)->setText("0");
  W<QLineEdit>(1316)->setText("0");
  Type(1311, "100");
  CamSdkTestTakeCallLog();
  QTest::keyClick(W<QLineEdit>(1311), Qt::Key_Return);
  auto sets = Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets.back(), "CameraSetExposureTime(" + h + ", " + std::to_string(100 * 10000 + 30) + ") = 1");
  EXPECT_EQ(Exposure(handle) / 10000, 100u);
  // Microseconds and seconds likewise.
  Type(1316, "250");
  QTest::keyClick(W<QLineEdit>(1316), Qt::Key_Enter);
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()), 100u * 10000 + 2530);
  Type(1309, "1");
  QTest::keyClick(W<QLineEdit>(1309), Qt::Key_Return);
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()), 10000000u + 100u * 10000 + 2530);
  // Gain: the typed gain reaches the camera and the slider.
  Type(1048, "2.5");
  QTest::keyClick(W<QLineEdit>(1048), Qt::Key_Return);
  float gain = 0;
  CameraGetAnalogGain(handle, &gain);
  EXPECT_FLOAT_EQ(gain, 2.5f);
  EXPECT_EQ(W<QSlider>(1003)->value(), 20);
  EXPECT_EQ(Text(1048), "2.500x");
  // Beyond the slider's range: its end.
  Type(1048, "9999");
  QTest::keyClick(W<QLineEdit>(1048), Qt::Key_Return);
  EXPECT_EQ(W<QSlider>(1003)->value(), W<QSlider>(1003)->maximum());
  // Enter in a field that sets nothing by itself (region of interest) or on a control leaves the
  // exposure alone.
  CamSdkTestTakeCallLog();
  Type(1182, "8");
  QTest::keyClick(W<QLineEdit>(1182), Qt::Key_Return);
  QTest::keyClick(W<QComboBox>(1240), Qt::Key_Enter);
  EXPECT_TRUE(Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(").empty());
  EXPECT_TRUE(pane->isVisible());
}

TEST_F(CamSetupPaneTest, GainFieldIsReadOnlyWhileAutomaticExposureSetsTheGain) {
  Click(1001);  // automatic exposure on, regulating gain and exposure
  ASSERT_FALSE(W(1003)->isEnabled());
  EXPECT_TRUE(W<QLineEdit>(1048)->isReadOnly());
  const QString shown = Text(1048);
  W<QLineEdit>(1048)->setFocus();
  QTest::keyClicks(W<QLineEdit>(1048), "7");
  EXPECT_EQ(Text(1048), shown);
  Click(1001);
  EXPECT_FALSE(W<QLineEdit>(1048)->isReadOnly());
}

TEST_F(CamSetupPaneTest, MicrosecondSpinStepsFromTheTypedValue) {
  const int step = int(Min() / 10);
  ASSERT_GT(step, 0);
  W<QLineEdit>(1311)->setText("5");
  W<QSpinBox>(1317)->stepBy(1);  // the spin's position is now elsewhere
  Type(1316, "500");
  W<QSpinBox>(1317)->stepBy(1);
  EXPECT_EQ(Text(1316), QString::number(500 + step + 1));
  Type(1316, "300");
  CamSdkTestTakeCallLog();
  W<QSpinBox>(1317)->stepBy(-1);
  EXPECT_EQ(Text(1316), QString::number(300 - step - 1));
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()) % 10000, std::uint64_t(300 - step - 1 + 3) * 10);
}

TEST_F(CamSetupPaneTest, ArrowKeysInTheExposureFieldsStepLikeTheSpins) {
  CameraSetAntiFlick(handle, 1);
  CameraSetLightFrequency(handle, CAMSDK_LIGHT_50HZ);
  Type(1311, "20");
  QTest::keyClick(W<QLineEdit>(1311), Qt::Key_Up);
  EXPECT_EQ(Text(1311), "30");
  QTest::keyClick(W<QLineEdit>(1311), Qt::Key_Down);
  QTest::keyClick(W<QLineEdit>(1311), Qt::Key_Down);
  EXPECT_EQ(Text(1311), "10");
  EXPECT_EQ(Exposure(handle) / 10000 % 1000, 10u);
  Type(1309, "3");
  QTest::keyClick(W<QLineEdit>(1309), Qt::Key_Up);
  EXPECT_EQ(Text(1309), "4");
  EXPECT_EQ(Exposure(handle) / 10000000, 4u);
  const int step = int(Min() / 10);
  Type(1316, "100");
  QTest::keyClick(W<QLineEdit>(1316), Qt::Key_Up);
  EXPECT_EQ(Text(1316), QString::number(100 + step + 1));
}

}  // namespace

namespace {

class CamSetupEnableTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "color,mono,single"; }
  int Open(int index) {
    std::int32_t params[kOpenParamCount] = {};
    EXPECT_EQ(camera->OpenCamera(index, params, nullptr), CAMERA_OK);
    stCameraItem item;
    camera->GetCameraItem(index, &item);
    return item.handle;
  }
  // The operator picks a camera; the view then enables the panel as its SetImageState does.
  void Select(int index) {
    Activate(1045, index);
    panel->EnableControls(AllPanelControls(), true);
  }
  int IndexOf(const char* prefix) const {
    for (int i = 0; i < W<QComboBox>(1045)->count(); ++i)
      if (W<QComboBox>(1045)->itemText(i).startsWith(prefix)) return i;
    return -1;
  }
};

TEST_F(CamSetupEnableTest, SelectingACameraKeepsWhatItCannotUseDisabled) {
  panel->DetectCameras();
  const int colour = IndexOf("Q7V-UC500C"), mono = IndexOf("Q7V-UM130"), single = IndexOf("Q7V-UC200S");
  ASSERT_GE(colour, 0);
  ASSERT_GE(mono, 0);
  ASSERT_GE(single, 0);
  const int hColour = Open(colour), hMono = Open(mono), hSingle = Open(single);
  for (int h : {hColour, hMono, hSingle}) CameraSetAeState(h, 0);

  Select(single);  // one frame speed
  EXPECT_TRUE(W(1025)->isEnabled());
  EXPECT_FALSE(W(1026)->isEnabled());
  EXPECT_FALSE(W(1036)->isEnabled());
  EXPECT_TRUE(W(1059)->isEnabled());  // a colour camera

  Select(mono);
  for (int id : {1046, 1053, 1054, 1055, 1059, 1171, 1069}) EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(1026)->isEnabled());  // two speeds
  EXPECT_FALSE(W(1036)->isEnabled());
  EXPECT_TRUE(W(1003)->isEnabled());  // manual exposure: gain and fields usable
  EXPECT_TRUE(W(1311)->isEnabled());

  // Automatic exposure on in the camera: the panel follows it and the view's enabling keeps the
  // gain slider and the exposure fields off.
  CameraSetAeState(hColour, 1);
  CameraSetAeMode(hColour, CAMSDK_AE_GAIN_AND_EXPOSURE);
  Select(colour);
  EXPECT_TRUE(W<QAbstractButton>(1001)->isChecked());
  for (int id : {1003, 1307, 1309, 1311, 1316, 1308, 1310, 1312, 1317}) EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(1002)->isEnabled());
  EXPECT_TRUE(W(1046)->isEnabled());
  EXPECT_TRUE(W(1036)->isEnabled());
  // Exposure only: the gain is the operator's again.
  CameraSetAeMode(hColour, CAMSDK_AE_EXPOSURE_ONLY);
  Select(colour);
  EXPECT_TRUE(W(1003)->isEnabled());
  EXPECT_FALSE(W(1311)->isEnabled());
  // Off again: the exposure target is what automatic exposure alone uses.
  Click(1001);
  panel->EnableControls(AllPanelControls(), true);
  EXPECT_TRUE(W(1311)->isEnabled());
  EXPECT_FALSE(W(1002)->isEnabled());
}

}  // namespace
