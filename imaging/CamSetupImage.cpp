// The image controls: analog gain, gamma, contrast, black level (manual and from a region),
// white balance (once, from a region, automatic), colour gains, saturation, sharpness, the
// on/off boxes, anti-flicker, media type, capture size and the region of interest.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

#include <algorithm>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupCapability.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupInternal.h"

using namespace camsetup;

// ---- sliders

void CCamSetupDlg::OnAnalogGainChanged() {
  const float gain = float(Slider(kAnalogGainSlider)->value() * 0.125);
  int handle = -1;
  if (CurrentHandle(&handle)) CameraSetAnalogGain(handle, gain);
  SetText(kAnalogGainReadout, FmtF(u"%.3fx", gain));
}

// A gain typed into the read-out: the slider's nearest step at or below it, within its range.
void CCamSetupDlg::OnAnalogGainTyped() {
  QSlider* slider = Slider(kAnalogGainSlider);
  if (slider->isEnabled()) {
    const double gain = ReadDecimal(Edit(kAnalogGainReadout)->text());
    const int pos = int(std::clamp<std::int64_t>(Truncate(gain * 8), slider->minimum(), slider->maximum()));
    SetSliderPos(kAnalogGainSlider, pos);
  }
  OnAnalogGainChanged();  // applies and shows the gain in force
}

void CCamSetupDlg::OnGammaChanged() {
  const int pos = Slider(kGammaSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle)) CameraSetGamma(handle, pos);
  SetText(kGammaReadout, FmtF(u"%.2f", pos / 100.0));
}

void CCamSetupDlg::OnContrastChanged() {
  const int pos = Slider(kContrastSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle)) CameraSetContrast(handle, pos);
  SetText(kContrastReadout, FmtF(u"%.2f", pos / 100.0));
}

void CCamSetupDlg::SetBlackLevel() {
  const int pos = Slider(kBlackLevelSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle)) {
    CameraSetBlackLevelState(handle, 1);
    CameraSetBlackLevel(handle, pos, pos, pos, 4095);
  }
  SetText(kBlackLevelReadout, Fmt(u"%d", pos));
}

// Every colour slider sends all three gains; each shows its own.
void CCamSetupDlg::OnColourGainChanged(int sliderId) {
  int handle = -1;
  if (CurrentHandle(&handle))
    CameraSetGain(handle, float(Slider(kRedGainSlider)->value()) / 100, float(Slider(kGreenGainSlider)->value()) / 100,
                  float(Slider(kBlueGainSlider)->value()) / 100);
  const int readout = sliderId == kRedGainSlider     ? kRedGainReadout
                      : sliderId == kGreenGainSlider ? kGreenGainReadout
                                                     : kBlueGainReadout;
  SetText(readout, FmtF(u"%.2f", Slider(sliderId)->value() / 100.0));
}

void CCamSetupDlg::OnSaturationChanged() {
  const int pos = Slider(kSaturationSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle)) {
    CameraSetColorEnhancement(handle, 1);
    CameraSetSaturation(handle, pos);
  }
  SetText(kSaturationReadout, Fmt(u"%d", pos));
}

void CCamSetupDlg::OnSharpnessChanged() {
  const int pos = Slider(kSharpnessSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle)) {
    CameraSetEdgeGain(handle, pos);
    CameraSetEdgeEnhance(handle, pos > 0 ? 1 : 0);
  }
  SetText(kSharpnessReadout, Fmt(u"%d", pos));
}

// ---- boxes, radios and combos

void CCamSetupDlg::OnBnClickedBox(int id) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  UpdateData(true);
  switch (id) {
    case kDeadPixelCorrectionCheck: CameraSetDeadPixelCorrectionState(handle, m_bDeadPixelCorrection); break;
    case kInverseCheck: CameraSetInverse(handle, m_bInverse); break;
    case kMonochromeCheck: CameraSetMonochrome(handle, m_bMonochrome); break;
    case kFlipVerticalCheck: CameraSetMirror(handle, CAMSDK_MIRROR_VERTICAL, m_bFlipVertical); break;
    case kFlipHorizontalCheck: CameraSetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, m_bFlipHorizontal); break;
    default: break;
  }
}

void CCamSetupDlg::OnBnClickedAntiFlick(int id) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  if (id == kAntiFlickDcRadio) {
    CameraSetAntiFlick(handle, 0);
    return;
  }
  CameraSetAntiFlick(handle, 1);
  CameraSetLightFrequency(handle, id == kAntiFlick50HzRadio ? CAMSDK_LIGHT_50HZ : CAMSDK_LIGHT_60HZ);
  ApplyExposureFields();
}

void CCamSetupDlg::OnCaptureSizeSelChange() {
  int handle = -1;
  if (CurrentHandle(&handle))
    Camera()->SetImageSizeSel(handle, Combo(kCaptureSizeCombo)->currentIndex(), CAMSDK_SIZE_CAPTURE);
}

void CCamSetupDlg::OnMediaTypeSelChange() {
  int handle = -1;
  if (CurrentHandle(&handle)) CameraSetMediaTypeSel(handle, Combo(kMediaTypeCombo)->currentIndex());
}

// ---- white balance

void CCamSetupDlg::OnBnClickedOnceWhiteBalance() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  Enable(kOnceWhiteBalanceButton, false);
  if (!m_bRegionWB) {
    int x = 0, y = 0, w = 0, h = 0;
    CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
    CameraSetWBWindow(handle, 0, 0, w, h);
  }
  CameraSetOnceWB(handle);
  // The balance needs a frame or so: wait the exposure, at least a second.
  std::uint64_t exposure = 0, maximum = 0, minimum = 0;
  CameraGetExposureTime(handle, &exposure, &maximum, &minimum);
  const int waitMs = int(std::clamp<std::uint64_t>(exposure / kUnitsPerMs, 1000, 0x7FFFFFFF));
  BeginStep();
  clock_->After(waitMs, [this, handle] {
    EndStep();
    if (FocusStillCurrent(handle)) ReadBackColourGains(handle);
    Enable(kOnceWhiteBalanceButton, true);
  });
}

void CCamSetupDlg::ReadBackColourGains(int handle) {
  float gains[3] = {0, 0, 0};
  if (CameraGetGain(handle, &gains[0], &gains[1], &gains[2]) != CAMSDK_STATUS_OK) return;  // mono
  const int ids[3] = {kRedGainSlider, kGreenGainSlider, kBlueGainSlider};
  for (int i = 0; i < 3; ++i) SetSliderPos(ids[i], int(gains[i] * 100));
  for (int id : ids) OnColourGainChanged(id);
}

void CCamSetupDlg::OnBnClickedRegionWhiteBalance() { ArmRegion(&m_bRegionWB, 60015); }

void CCamSetupDlg::OnBnClickedAdaptiveBlackLevel() { ArmRegion(&m_bAdaptiveBlackLevel, 60016); }

// Arms or disarms a region mode: the view then lets the operator drag a rectangle.
void CCamSetupDlg::ArmRegion(int* member, std::uint32_t hint) {
  CCameraProcess* camera = Camera();
  if (!*member && !CurrentHandle(nullptr)) {
    UpdateData(false);  // nothing to pick a region for
    return;
  }
  *member = !*member;
  if (camera) camera->SetRoi(*member != 0, -1, -1, -1, -1);
  if (*member) AppHost().ShowHint(LoadStringW(hint));
  UpdateData(false);
}

void CCamSetupDlg::OnBnClickedAutoWhiteBalance() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  UpdateData(true);
  CameraSetAWBState(handle, m_bAutoWB);
  for (int id : {kRedGainSlider, kGreenGainSlider, kBlueGainSlider, kOnceWhiteBalanceButton, kRegionWhiteBalanceCheck,
                 kRedGainLabel, kGreenGainLabel, kBlueGainLabel})
    Enable(id, m_bAutoWB == 0);
  if (!m_bAutoWB) {
    ReadBackColourGains(handle);
    return;
  }
  BeginStep();
  clock_->After(100, [this, handle] {
    EndStep();
    if (!FocusStillCurrent(handle)) return;
    CameraGetAWBState(handle, &m_bAutoWB);  // the camera's own answer
    UpdateData(false);
    ReadBackColourGains(handle);
  });
}

// ---- region of interest

void CCamSetupDlg::OnBnClickedRoiSetting() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  std::int64_t v[4];
  for (int i = 0; i < 4; ++i) v[i] = ReadInt64(Edit(kRoiEdits[i])->text());
  // A negative origin or size would turn into a huge one under the masks: refused.
  if (std::any_of(std::begin(v), std::end(v), [](std::int64_t e) { return e < 0; })) return;
  const int x = int(v[0] & 0xFFFE), y = int(v[1] & 0xFFFE);
  int width = int(v[2] & 0xFFFC), height = int(v[3] & 0xFFFE);
  stCameraCapability block;
  Camera()->GetCameraCapability(&block);
  const CamSdkCapability cap = UnpackCapability(block);
  if (cap.resolutions && cap.resolutionCount > 0) {
    if (width < 1) width = cap.resolutions[0].width;
    if (height < 1) height = cap.resolutions[0].height;
  }
  SetRoiFromView(x, y, width, height);
}

// Sets the region on the camera; a region off the camera's alignment is rounded down to
// multiples of 8, then 16, as the view does with a dragged one.
void CCamSetupDlg::ApplyRoi(int handle, int* x, int* y, int* width, int* height) {
  CCameraProcess* camera = Camera();
  for (int align : {0, 8, 16}) {
    if (align) {
      *x -= *x % align;
      *y -= *y % align;
      *width -= *width % align;
      *height -= *height % align;
    }
    if (camera->SetImageSize(handle, 1, *x, *y, *width, *height, CAMSDK_SIZE_PREVIEW) == CAMSDK_STATUS_OK) return;
  }
}

void CCamSetupDlg::SetRoiFromView(int x, int y, int width, int height) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  if (x < 0 || y < 0 || width <= 0 || height <= 0) return;
  CCameraProcess* camera = Camera();
  ApplyRoi(handle, &x, &y, &width, &height);
  const int values[4] = {x, y, width, height};
  for (int i = 0; i < 4; ++i) SetText(kRoiEdits[i], Fmt(u"%d", values[i]));
  camera->SetImageSize(handle, 1, x, y, width, height, CAMSDK_SIZE_CAPTURE);
  int ix = 0, iy = 0, w = 0, h = 0;
  CameraGetImageSize(handle, nullptr, &ix, &iy, &w, &h, CAMSDK_SIZE_PREVIEW);
  camera->AllocFrameBuffer(w, h);
  AppHost().ZoomOriginal();
  m_nRoiArmed = 0;
  camera->SetRoi(false, -1, -1, -1, -1);
}
