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
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

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
    CAMSDK_OK(CameraSetAeState(handle, 0));
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
    CAMSDK_OK(CameraGetExposureTime(handle, &e, &mx, &mn));
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
  const int gamma = W<QSlider>(kGammaSlider)->value();
  const int gain = W<QSlider>(kAnalogGainSlider)->value();
  const QString ms = Text(kExposureMsEdit);
  const int preview = W<QComboBox>(kPreviewSizeCombo)->currentIndex();
  const int layerClears = host.layerClears;
  ASSERT_GT(pane->verticalScrollBar()->maximum(), 200);
  // Down over a slider, a spin, a drop-down, a read-out, a check box and empty space.
  QWidget* targets[] = {W(kGammaSlider), W(kAnalogGainSlider), W(kExposureMsSpin), W(kPreviewSizeCombo),
                        W(kMediaTypeCombo), W(kGammaReadout), W(kAutoExposureCheck), pane->viewport()};
  int y = ScrollY();
  for (QWidget* target : targets) {
    Wheel(target, -1);
    EXPECT_EQ(ScrollY(), y + 10) << ui::CtrlId(target);
    y = ScrollY();
  }
  Wheel(W(kGammaSlider), 1);
  EXPECT_EQ(ScrollY(), y - 10);
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), gamma);
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->value(), gain);
  EXPECT_EQ(Text(kExposureMsEdit), ms);
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), preview);
  EXPECT_EQ(host.layerClears, layerClears);
  EXPECT_TRUE(Sets(CamSdkTestTakeCallLog()).empty());
  // None of them took the focus from the wheel.
  for (QWidget* target : targets) EXPECT_FALSE(target->hasFocus()) << ui::CtrlId(target);
}

TEST_F(CamSetupPaneTest, WheelChangesAControlOnceClickedInto) {
  QSlider* slider = W<QSlider>(kGammaSlider);
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
  Wheel(W(kContrastSlider), -1);
  EXPECT_EQ(ScrollY(), y + 10);
}

TEST_F(CamSetupPaneTest, EnterAppliesTheFieldItIsPressedIn) {
  const std::string h = std::to_string(handle);
  // Milliseconds: the exposure the fields spell, not the camera's minimum.
  W<QLineEdit>(kExposureMinutesEdit)->setText("0");
  W<QLineEdit>(kExposureSecondsEdit)->setText("0");
  W<QLineEdit>(kExposureUsEdit)->setText("0");
  Type(kExposureMsEdit, "100");
  CamSdkTestTakeCallLog();
  QTest::keyClick(W<QLineEdit>(kExposureMsEdit), Qt::Key_Return);
  auto sets = Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets.back(), "CameraSetExposureTime(" + h + ", " + std::to_string(100 * 10000 + 30) + ") = 1");
  EXPECT_EQ(Exposure(handle) / 10000, 100u);
  // Microseconds and seconds likewise.
  Type(kExposureUsEdit, "250");
  QTest::keyClick(W<QLineEdit>(kExposureUsEdit), Qt::Key_Enter);
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()), 100u * 10000 + 2530);
  Type(kExposureSecondsEdit, "1");
  QTest::keyClick(W<QLineEdit>(kExposureSecondsEdit), Qt::Key_Return);
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()), 10000000u + 100u * 10000 + 2530);
  // Gain: the typed gain reaches the camera and the slider.
  Type(kAnalogGainReadout, "2.5");
  QTest::keyClick(W<QLineEdit>(kAnalogGainReadout), Qt::Key_Return);
  float gain = 0;
  CAMSDK_OK(CameraGetAnalogGain(handle, &gain));
  EXPECT_FLOAT_EQ(gain, 2.5f);
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->value(), 20);
  EXPECT_EQ(Text(kAnalogGainReadout), "2.500x");
  // Beyond the slider's range: its end.
  Type(kAnalogGainReadout, "9999");
  QTest::keyClick(W<QLineEdit>(kAnalogGainReadout), Qt::Key_Return);
  EXPECT_EQ(W<QSlider>(kAnalogGainSlider)->value(), W<QSlider>(kAnalogGainSlider)->maximum());
  // Enter in a field that sets nothing by itself (region of interest) or on a control leaves the
  // exposure alone.
  CamSdkTestTakeCallLog();
  Type(kRoiXEdit, "8");
  QTest::keyClick(W<QLineEdit>(kRoiXEdit), Qt::Key_Return);
  QTest::keyClick(W<QComboBox>(kMediaTypeCombo), Qt::Key_Enter);
  EXPECT_TRUE(Calls(CamSdkTestTakeCallLog(), "CameraSetExposureTime(").empty());
  EXPECT_TRUE(pane->isVisible());
}

TEST_F(CamSetupPaneTest, GainFieldIsReadOnlyWhileAutomaticExposureSetsTheGain) {
  Click(kAutoExposureCheck);  // automatic exposure on, regulating gain and exposure
  ASSERT_FALSE(W(kAnalogGainSlider)->isEnabled());
  EXPECT_TRUE(W<QLineEdit>(kAnalogGainReadout)->isReadOnly());
  const QString shown = Text(kAnalogGainReadout);
  W<QLineEdit>(kAnalogGainReadout)->setFocus();
  QTest::keyClicks(W<QLineEdit>(kAnalogGainReadout), "7");
  EXPECT_EQ(Text(kAnalogGainReadout), shown);
  Click(kAutoExposureCheck);
  EXPECT_FALSE(W<QLineEdit>(kAnalogGainReadout)->isReadOnly());
}

TEST_F(CamSetupPaneTest, MicrosecondSpinStepsFromTheTypedValue) {
  const int step = int(Min() / 10);
  ASSERT_GT(step, 0);
  W<QLineEdit>(kExposureMsEdit)->setText("5");
  W<QSpinBox>(kExposureUsSpin)->stepBy(1);  // the spin's position is now elsewhere
  Type(kExposureUsEdit, "500");
  W<QSpinBox>(kExposureUsSpin)->stepBy(1);
  EXPECT_EQ(Text(kExposureUsEdit), QString::number(500 + step + 1));
  Type(kExposureUsEdit, "300");
  CamSdkTestTakeCallLog();
  W<QSpinBox>(kExposureUsSpin)->stepBy(-1);
  EXPECT_EQ(Text(kExposureUsEdit), QString::number(300 - step - 1));
  EXPECT_EQ(LastExposureSet(CamSdkTestTakeCallLog()) % 10000, std::uint64_t(300 - step - 1 + 3) * 10);
}

TEST_F(CamSetupPaneTest, ArrowKeysInTheExposureFieldsStepLikeTheSpins) {
  CAMSDK_OK(CameraSetAntiFlick(handle, 1));
  CAMSDK_OK(CameraSetLightFrequency(handle, CAMSDK_LIGHT_50HZ));
  Type(kExposureMsEdit, "20");
  QTest::keyClick(W<QLineEdit>(kExposureMsEdit), Qt::Key_Up);
  EXPECT_EQ(Text(kExposureMsEdit), "30");
  QTest::keyClick(W<QLineEdit>(kExposureMsEdit), Qt::Key_Down);
  QTest::keyClick(W<QLineEdit>(kExposureMsEdit), Qt::Key_Down);
  EXPECT_EQ(Text(kExposureMsEdit), "10");
  EXPECT_EQ(Exposure(handle) / 10000 % 1000, 10u);
  Type(kExposureSecondsEdit, "3");
  QTest::keyClick(W<QLineEdit>(kExposureSecondsEdit), Qt::Key_Up);
  EXPECT_EQ(Text(kExposureSecondsEdit), "4");
  EXPECT_EQ(Exposure(handle) / 10000000, 4u);
  const int step = int(Min() / 10);
  Type(kExposureUsEdit, "100");
  QTest::keyClick(W<QLineEdit>(kExposureUsEdit), Qt::Key_Up);
  EXPECT_EQ(Text(kExposureUsEdit), QString::number(100 + step + 1));
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
    Activate(kCameraCombo, index);
    panel->EnableControls(AllPanelControls(), true);
  }
  int IndexOf(const char* prefix) const {
    for (int i = 0; i < W<QComboBox>(kCameraCombo)->count(); ++i)
      if (W<QComboBox>(kCameraCombo)->itemText(i).startsWith(prefix)) return i;
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
  for (int h : {hColour, hMono, hSingle}) CAMSDK_OK(CameraSetAeState(h, 0));

  Select(single);  // one frame speed
  EXPECT_TRUE(W(kFrameSpeedLowRadio)->isEnabled());
  EXPECT_FALSE(W(kFrameSpeedNormalRadio)->isEnabled());
  EXPECT_FALSE(W(kFrameSpeedHighRadio)->isEnabled());
  EXPECT_TRUE(W(kOnceWhiteBalanceButton)->isEnabled());  // a colour camera

  Select(mono);
  for (int id : {kSaturationSlider, kRedGainSlider, kGreenGainSlider, kBlueGainSlider, kOnceWhiteBalanceButton,
                 kRegionWhiteBalanceCheck, kMonochromeCheck})
    EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(kFrameSpeedNormalRadio)->isEnabled());  // two speeds
  EXPECT_FALSE(W(kFrameSpeedHighRadio)->isEnabled());
  EXPECT_TRUE(W(kAnalogGainSlider)->isEnabled());  // manual exposure: gain and fields usable
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());

  // Automatic exposure on in the camera: the panel follows it and the view's enabling keeps the
  // gain slider and the exposure fields off.
  CAMSDK_OK(CameraSetAeState(hColour, 1));
  CAMSDK_OK(CameraSetAeMode(hColour, CAMSDK_AE_GAIN_AND_EXPOSURE));
  Select(colour);
  EXPECT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  for (int id : {kAnalogGainSlider, kExposureMinutesEdit, kExposureSecondsEdit, kExposureMsEdit, kExposureUsEdit,
                 kExposureMinutesSpin, kExposureSecondsSpin, kExposureMsSpin, kExposureUsSpin})
    EXPECT_FALSE(W(id)->isEnabled()) << id;
  EXPECT_TRUE(W(kAeTargetSlider)->isEnabled());
  EXPECT_TRUE(W(kSaturationSlider)->isEnabled());
  EXPECT_TRUE(W(kFrameSpeedHighRadio)->isEnabled());
  // Exposure only: the gain is the operator's again.
  CAMSDK_OK(CameraSetAeMode(hColour, CAMSDK_AE_EXPOSURE_ONLY));
  Select(colour);
  EXPECT_TRUE(W(kAnalogGainSlider)->isEnabled());
  EXPECT_FALSE(W(kExposureMsEdit)->isEnabled());
  // Off again: the exposure target is what automatic exposure alone uses.
  Click(kAutoExposureCheck);
  panel->EnableControls(AllPanelControls(), true);
  EXPECT_TRUE(W(kExposureMsEdit)->isEnabled());
  EXPECT_FALSE(W(kAeTargetSlider)->isEnabled());
}

}  // namespace
