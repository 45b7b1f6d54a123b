// The image controls reach the camera and read back; white balance waits on the clock; the
// region of interest goes through the edits with the masks and the camera's alignment.
#include "camsetup_support.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"

#include <QImage>
#include <QRegularExpression>

namespace {

class CamSetupImageTest : public CamSetupTest {
 protected:
  void SetUp() override {
    CamSetupTest::SetUp();
    handle = OpenFirst();
    CamSdkTestTakeCallLog();
  }
  std::string H() const { return std::to_string(handle); }
  int handle = -1;
};

TEST_F(CamSetupImageTest, SlidersSendTheirValuesAndShowThem) {
  W<QSlider>(kAnalogGainSlider)->setValue(13);
  float gain = 0;
  CAMSDK_OK(CameraGetAnalogGain(handle, &gain));
  EXPECT_FLOAT_EQ(gain, 1.625f);
  EXPECT_EQ(Text(kAnalogGainReadout), "1.625x");

  W<QSlider>(kGammaSlider)->setValue(45);
  EXPECT_EQ(Text(kGammaReadout), "0.45");
  W<QSlider>(kContrastSlider)->setValue(120);
  EXPECT_EQ(Text(kContrastReadout), "1.20");
  int v = 0;
  CAMSDK_OK(CameraGetGamma(handle, &v));
  EXPECT_EQ(v, 45);
  CAMSDK_OK(CameraGetContrast(handle, &v));
  EXPECT_EQ(v, 120);

  W<QSlider>(kBlackLevelSlider)->setValue(-7);
  int lo = 0, hi = 0;
  CAMSDK_OK(CameraGetBlackLevel(handle, &v, &lo, &hi));
  EXPECT_EQ(v, -7);
  EXPECT_EQ(Text(kBlackLevelReadout), "-7");

  W<QSlider>(kGreenGainSlider)->setValue(150);
  float r = 0, g = 0, b = 0;
  CAMSDK_OK(CameraGetGain(handle, &r, &g, &b));
  EXPECT_FLOAT_EQ(g, 1.5f);
  EXPECT_EQ(Text(kGreenGainReadout), "1.50");

  W<QSlider>(kSaturationSlider)->setValue(60);
  CAMSDK_OK(CameraGetSaturation(handle, &v));
  EXPECT_EQ(v, 60);
  EXPECT_EQ(Text(kSaturationReadout), "60");

  W<QSlider>(kSharpnessSlider)->setValue(0);
  CAMSDK_OK(CameraGetEdgeEnhance(handle, &v));
  EXPECT_EQ(v, 0);
  W<QSlider>(kSharpnessSlider)->setValue(3);
  CAMSDK_OK(CameraGetEdgeEnhance(handle, &v));
  EXPECT_EQ(v, 1);
  CAMSDK_OK(CameraGetEdgeGain(handle, &v));
  EXPECT_EQ(v, 3);
  EXPECT_EQ(Text(kSharpnessReadout), "3");
}

TEST_F(CamSetupImageTest, BoxesReachTheCamera) {
  Click(kInverseCheck);
  Click(kFlipVerticalCheck);
  Click(kFlipHorizontalCheck);
  Click(kDeadPixelCorrectionCheck);
  int v = 0;
  CAMSDK_OK(CameraGetInverse(handle, &v));
  EXPECT_EQ(v, 1);
  CAMSDK_OK(CameraGetMirror(handle, CAMSDK_MIRROR_VERTICAL, &v));
  EXPECT_EQ(v, 1);
  CAMSDK_OK(CameraGetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, &v));
  EXPECT_EQ(v, 1);
  CAMSDK_OK(CameraGetDeadPixelCorrectionState(handle, &v));
  EXPECT_EQ(v, 1);
  Click(kMonochromeCheck);
  CAMSDK_OK(CameraGetMonochrome(handle, &v));
  EXPECT_EQ(v, 1);
  Click(kInverseCheck);
  CAMSDK_OK(CameraGetInverse(handle, &v));
  EXPECT_EQ(v, 0);
}

TEST_F(CamSetupImageTest, AntiFlickerRadios) {
  Click(kAntiFlick50HzRadio);
  auto log = CamSdkTestTakeCallLog();
  EXPECT_EQ(Calls(log, "CameraSetLightFrequency(").size(), 1u);
  EXPECT_FALSE(Calls(log, "CameraSetExposureTime(").empty());  // 50 Hz re-applies the fields
  int on = 0, f = -1;
  CAMSDK_OK(CameraGetAntiFlick(handle, &on));
  CAMSDK_OK(CameraGetLightFrequency(handle, &f));
  EXPECT_EQ(on, 1);
  EXPECT_EQ(f, CAMSDK_LIGHT_50HZ);
  Click(kAntiFlick60HzRadio);
  CAMSDK_OK(CameraGetLightFrequency(handle, &f));
  EXPECT_EQ(f, CAMSDK_LIGHT_60HZ);
  EXPECT_FALSE(W<QAbstractButton>(kAntiFlick50HzRadio)->isChecked());
  CamSdkTestTakeCallLog();
  Click(kAntiFlickDcRadio);
  log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(Calls(log, "CameraSetExposureTime(").empty());  // DC does not
  CAMSDK_OK(CameraGetAntiFlick(handle, &on));
  EXPECT_EQ(on, 0);
}

TEST_F(CamSetupImageTest, MediaTypeAndCaptureSize) {
  ASSERT_GE(W<QComboBox>(kMediaTypeCombo)->count(), 2);
  Activate(kMediaTypeCombo, 1);
  int sel = -1;
  CAMSDK_OK(CameraGetMediaTypeSel(handle, &sel));
  EXPECT_EQ(sel, 1);
  Activate(kCaptureSizeCombo, 1);
  CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_CAPTURE));
  EXPECT_EQ(sel, 1);
}

TEST_F(CamSetupImageTest, OnceWhiteBalanceWaitsAtLeastASecondThenReadsBack) {
  CAMSDK_OK(CameraSetGain(handle, 2.0f, 0.5f, 3.0f));
  Click(kOnceWhiteBalanceButton);
  EXPECT_TRUE(panel->IsBusy());
  EXPECT_FALSE(panel->isEnabled());  // the panel waits; the window does not
  EXPECT_FALSE(W(kOnceWhiteBalanceButton)->isEnabled());
  CamSdkTestDeliverFrames(handle, 2);
  clock->Advance(999);
  EXPECT_TRUE(panel->IsBusy());
  clock->Advance(1);
  EXPECT_FALSE(panel->IsBusy());
  EXPECT_TRUE(W(kOnceWhiteBalanceButton)->isEnabled());
  float r = 0, g = 0, b = 0;
  CAMSDK_OK(CameraGetGain(handle, &r, &g, &b));
  EXPECT_EQ(W<QSlider>(kRedGainSlider)->value(), int(r * 100));
  EXPECT_EQ(W<QSlider>(kBlueGainSlider)->value(), int(b * 100));
  EXPECT_EQ(Text(kBlueGainReadout), QString::fromStdU16String(FormatW(u"%.2f", int(b * 100) / 100.0)));
}

TEST_F(CamSetupImageTest, OnceWhiteBalanceWaitsTheExposure) {
  CAMSDK_OK(CameraSetAeState(handle, 0));
  CAMSDK_OK(CameraSetExposureTime(handle, 30000000));  // 3 s, if the camera allows it
  const std::uint64_t e = Exposure(handle);
  Click(kOnceWhiteBalanceButton);
  clock->Advance(std::int64_t(std::max<std::uint64_t>(e / 10000, 1000)) - 1);
  EXPECT_TRUE(panel->IsBusy());
  clock->Advance(1);
  EXPECT_FALSE(panel->IsBusy());
}

TEST_F(CamSetupImageTest, AutoWhiteBalanceGreysTheGainsAndAsksTheCamera) {
  Click(kAutoWhiteBalanceCheck);
  EXPECT_FALSE(W(kRedGainSlider)->isEnabled());
  EXPECT_FALSE(W(kOnceWhiteBalanceButton)->isEnabled());
  clock->Advance(100);
  int on = 0;
  CAMSDK_OK(CameraGetAWBState(handle, &on));
  EXPECT_EQ(on, 1);
  EXPECT_TRUE(W<QCheckBox>(kAutoWhiteBalanceCheck)->isChecked());
  Click(kAutoWhiteBalanceCheck);
  EXPECT_TRUE(W(kRedGainSlider)->isEnabled());
  CAMSDK_OK(CameraGetAWBState(handle, &on));
  EXPECT_EQ(on, 0);
}

TEST_F(CamSetupImageTest, RegionModesArmAndDisarm) {
  Click(kRegionWhiteBalanceCheck);
  EXPECT_EQ(panel->ArmedRegion(), CCamSetupDlg::Region::WhiteBalance);
  EXPECT_EQ(host.hints.back(), "Specify the region of White Balance in this image.");
  EXPECT_TRUE(camera->GetRoi(nullptr, nullptr));
  panel->OnRegionApplied(CCamSetupDlg::Region::WhiteBalance, 0, 0, 0, 0);
  EXPECT_FALSE(panel->IsRegionWBArmed());
  EXPECT_FALSE(camera->GetRoi(nullptr, nullptr));
  EXPECT_TRUE(panel->IsBusy());  // the once white balance of the drawn window runs
  clock->RunSteps();
  // The drawn window stays: no whole-image window was set.
  panel->EnableControls({kAdaptiveBlackLevelCheck}, true);
  Click(kAdaptiveBlackLevelCheck);
  EXPECT_TRUE(panel->IsAdaptiveBlackLevelArmed());
  panel->OnRegionApplied(CCamSetupDlg::Region::BlackLevel, 0, 0, 0, 0);
  EXPECT_FALSE(panel->IsAdaptiveBlackLevelArmed());
}

TEST_F(CamSetupImageTest, RoiEditsAreMaskedAndApplied) {
  Activate(kPreviewSizeCombo, W<QComboBox>(kPreviewSizeCombo)->count() - 1);  // "ROI"
  EXPECT_TRUE(panel->IsRoiArmed());
  W<QLineEdit>(kRoiXEdit)->setText("101");
  W<QLineEdit>(kRoiYEdit)->setText("51");
  W<QLineEdit>(kRoiWidthEdit)->setText("642");
  W<QLineEdit>(kRoiHeightEdit)->setText("479");
  Click(kRoiSettingButton);
  EXPECT_EQ(Text(kRoiXEdit), "100");
  EXPECT_EQ(Text(kRoiYEdit), "50");
  EXPECT_EQ(Text(kRoiWidthEdit), "640");
  EXPECT_EQ(Text(kRoiHeightEdit), "478");
  CamSdkImageSizeArea area{};
  int x = 0, y = 0, w = 0, h = 0;
  CAMSDK_OK(CameraGetImageSize(handle, &area, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(area.roi, 1);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 478);
  EXPECT_FALSE(panel->IsRoiArmed());
  EXPECT_EQ(host.zoomOriginals, 1);
  BITMAPINFOHEADER f;
  camera->GetFrameFormat(&f);
  EXPECT_EQ(f.biWidth, 640);
}

TEST_F(CamSetupImageTest, RoiEditsRefuseNegativesAndFillEmptySizes) {
  Activate(kPreviewSizeCombo, W<QComboBox>(kPreviewSizeCombo)->count() - 1);
  W<QLineEdit>(kRoiXEdit)->setText("-2");
  W<QLineEdit>(kRoiYEdit)->setText("0");
  W<QLineEdit>(kRoiWidthEdit)->setText("64");
  W<QLineEdit>(kRoiHeightEdit)->setText("64");
  CamSdkTestTakeCallLog();
  Click(kRoiSettingButton);
  EXPECT_TRUE(Calls(CamSdkTestTakeCallLog(), "CameraSetImageSize(").empty());
  // Width and height 0 take the first resolution's.
  W<QLineEdit>(kRoiXEdit)->setText("0");
  W<QLineEdit>(kRoiWidthEdit)->setText("0");
  W<QLineEdit>(kRoiHeightEdit)->setText("0");
  Click(kRoiSettingButton);
  EXPECT_EQ(Text(kRoiWidthEdit), "2592");
  EXPECT_EQ(Text(kRoiHeightEdit), "1944");
}

TEST_F(CamSetupImageTest, PreviewComboSwitchesTheRoiModeAndReloadsLayers) {
  const int roiIndex = W<QComboBox>(kPreviewSizeCombo)->count() - 1;
  const int captureCount = W<QComboBox>(kCaptureSizeCombo)->count();
  Activate(kPreviewSizeCombo, roiIndex);
  EXPECT_FALSE(W(kCaptureSizeCombo)->isEnabled());
  EXPECT_EQ(W<QComboBox>(kCaptureSizeCombo)->itemText(0), "ROI");
  EXPECT_TRUE(W(kRoiXEdit)->isEnabled());
  EXPECT_EQ(Text(kRoiXEdit), "Origin X");
  EXPECT_EQ(host.hints.back(), "Please assign ROI size in image");
  Activate(kPreviewSizeCombo, 1);
  EXPECT_TRUE(W(kCaptureSizeCombo)->isEnabled());
  EXPECT_EQ(W<QComboBox>(kCaptureSizeCombo)->count(), captureCount);  // no stray "ROI"
  EXPECT_FALSE(W(kRoiXEdit)->isEnabled());
  EXPECT_FALSE(panel->IsRoiArmed());
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(sel, 1);
  EXPECT_EQ(host.layerClears, 2);
  EXPECT_GE(host.statsResets, 2);
}

// What the camera refuses is told, and the controls show what the camera holds: a slider goes
// back to the camera's value; a refused resolution leaves the list, the picture's buffer and the
// layers as they were.
TEST_F(CamSetupImageTest, RefusedChangesShowTheCamerasOwnValue) {
  W<QSlider>(kGammaSlider)->setValue(45);
  CamSdkTestInjectFailure("CameraSetGamma", CAMSDK_STATUS_FAILED, 1);
  W<QSlider>(kGammaSlider)->setValue(80);
  int v = 0;
  CAMSDK_OK(CameraGetGamma(handle, &v));
  EXPECT_EQ(v, 45);
  EXPECT_EQ(W<QSlider>(kGammaSlider)->value(), 45);
  EXPECT_EQ(Text(kGammaReadout), "0.45");
  ASSERT_FALSE(host.hints.isEmpty());
  EXPECT_EQ(host.hints.back(), "The camera did not take the change (error -1).");

  Click(kInverseCheck);
  CamSdkTestInjectFailure("CameraSetMirror", CAMSDK_STATUS_FAILED, 1);
  Click(kFlipVerticalCheck);
  EXPECT_FALSE(W<QCheckBox>(kFlipVerticalCheck)->isChecked());
  EXPECT_TRUE(W<QCheckBox>(kInverseCheck)->isChecked());

  // A lost camera has its own notice: no hint for it here.
  const int hints = int(host.hints.size());
  CamSdkTestInjectFailure("CameraSetContrast", CAMSDK_STATUS_DEVICE_LOST, 1);
  W<QSlider>(kContrastSlider)->setValue(130);
  EXPECT_EQ(int(host.hints.size()), hints);

  BITMAPINFOHEADER before;
  camera->GetFrameFormat(&before);
  const int layerClears = host.layerClears;
  CamSdkTestInjectFailure("CameraSetImageSizeSel", CAMSDK_STATUS_FAILED, 1);
  Activate(kPreviewSizeCombo, 1);
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(sel, 0);
  EXPECT_EQ(W<QComboBox>(kPreviewSizeCombo)->currentIndex(), 0);
  BITMAPINFOHEADER after;
  camera->GetFrameFormat(&after);
  EXPECT_EQ(after, before);
  EXPECT_EQ(host.layerClears, layerClears);
}

// What the capture list shows is the size a capture writes, also after leaving the region of
// interest (which the capture had taken over).
TEST_F(CamSetupImageTest, AfterLeavingTheRoiTheCaptureListShowsTheSizeACaptureWrites) {
  QComboBox* preview = W<QComboBox>(kPreviewSizeCombo);
  QComboBox* capture = W<QComboBox>(kCaptureSizeCombo);
  preview->setFocus();
  QTest::keyClick(preview, Qt::Key_End);  // "ROI", the last entry
  ASSERT_TRUE(panel->IsRoiArmed());
  const std::pair<int, const char*> fields[] = {{kRoiXEdit, "96"}, {kRoiYEdit, "40"}, {kRoiWidthEdit, "504"},
                                                {kRoiHeightEdit, "304"}};
  for (const auto& [id, text] : fields) {
    W<QLineEdit>(id)->selectAll();
    QTest::keyClicks(W<QLineEdit>(id), text);
  }
  Click(kRoiSettingButton);
  const auto captureSize = [this] {
    int x = 0, y = 0, w = 0, h = 0;
    CAMSDK_OK(CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_CAPTURE));
    return QSize(w, h);
  };
  ASSERT_EQ(captureSize(), QSize(504, 304));

  preview->setFocus();
  QTest::keyClick(preview, Qt::Key_Home);  // back to the first resolution
  ASSERT_FALSE(panel->IsRoiArmed());
  ASSERT_NE(capture->currentText(), "ROI");
  // The list's text names the size ("2592*1944"), and a capture writes that size.
  const QRegularExpressionMatch shown = QRegularExpression("^(\\d+)\\D+(\\d+)").match(capture->currentText());
  ASSERT_TRUE(shown.hasMatch()) << capture->currentText().toStdString();
  const QSize listed(shown.captured(1).toInt(), shown.captured(2).toInt());
  EXPECT_EQ(captureSize(), listed);
  const QString file = dir.filePath("shot");
  ASSERT_EQ(CameraCaptureFile(handle, file.toUtf8().constData(), CAMSDK_FILE_BMP, 255), CAMSDK_STATUS_OK);
  EXPECT_EQ(QImage(file + ".bmp").size(), listed);

  // A panel refreshed from such a camera (the capture still at a region the preview left)
  // shows and sets a size it can name.
  ASSERT_EQ(CameraSetImageSize(handle, 1, 96, 40, 504, 304, CAMSDK_SIZE_CAPTURE), CAMSDK_STATUS_OK);
  panel->RefreshFromCamera(handle);
  ASSERT_GE(capture->currentIndex(), 0);
  EXPECT_NE(capture->currentText(), "ROI");
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_CAPTURE));
  EXPECT_EQ(sel, capture->currentIndex());
}

class CamSetupAlignedTest : public CamSetupTest {
 protected:
  const char* Models() const override { return "aligned"; }
};

TEST_F(CamSetupAlignedTest, RoiOffTheAlignmentIsRoundedDownUntilTheCameraTakesIt) {
  const int handle = OpenFirst();
  Activate(kPreviewSizeCombo, W<QComboBox>(kPreviewSizeCombo)->count() - 1);
  W<QLineEdit>(kRoiXEdit)->setText("101");
  W<QLineEdit>(kRoiYEdit)->setText("51");
  W<QLineEdit>(kRoiWidthEdit)->setText("642");
  W<QLineEdit>(kRoiHeightEdit)->setText("479");
  Click(kRoiSettingButton);
  CamSdkImageSizeArea area{};
  int x = 0, y = 0, w = 0, h = 0;
  CAMSDK_OK(CameraGetImageSize(handle, &area, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(area.roi, 1);
  // The edits show what the camera took.
  EXPECT_EQ(Text(kRoiWidthEdit).toInt(), w);
  EXPECT_EQ(Text(kRoiHeightEdit).toInt(), h);
  EXPECT_EQ(w % 16, 0);
  EXPECT_EQ(Text(kRoiXEdit).toInt() % 16, 0);
}

}  // namespace
