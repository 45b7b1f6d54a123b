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
//
// A value the camera refuses is told in the hint line and the slider goes back to the camera's
// own value (or stays, when the camera gives none): the read-out shows what the camera holds.

namespace {

// The camera's value of an int control, into its slider; the slider's position stays when the
// camera gives none.
int CameraValue(int handle, CamSdkStatus (*get)(int, int*), int fallback) {
  int value = 0;
  return get(handle, &value) == CAMSDK_STATUS_OK ? value : fallback;
}

}  // namespace

void CCamSetupDlg::OnAnalogGainChanged() {
  float gain = float(Slider(kAnalogGainSlider)->value() * 0.125);
  int handle = -1;
  if (CurrentHandle(&handle) && !Took(CameraSetAnalogGain(handle, gain))) {
    float held = 0;
    if (CameraGetAnalogGain(handle, &held) == CAMSDK_STATUS_OK) {
      SetSliderPos(kAnalogGainSlider, int(held * 1000.0 / 125.0));
      gain = held;
    }
  }
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
  int pos = Slider(kGammaSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle) && !Took(CameraSetGamma(handle, pos))) {
    pos = CameraValue(handle, &CameraGetGamma, pos);
    SetSliderPos(kGammaSlider, pos);
  }
  SetText(kGammaReadout, FmtF(u"%.2f", pos / 100.0));
}

void CCamSetupDlg::OnContrastChanged() {
  int pos = Slider(kContrastSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle) && !Took(CameraSetContrast(handle, pos))) {
    pos = CameraValue(handle, &CameraGetContrast, pos);
    SetSliderPos(kContrastSlider, pos);
  }
  SetText(kContrastReadout, FmtF(u"%.2f", pos / 100.0));
}

void CCamSetupDlg::SetBlackLevel() {
  int pos = Slider(kBlackLevelSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle) &&
      !(Took(CameraSetBlackLevelState(handle, 1)) && Took(CameraSetBlackLevel(handle, pos, pos, pos, 4095)))) {
    int level = 0, lo = 0, hi = 0;
    if (CameraGetBlackLevel(handle, &level, &lo, &hi) == CAMSDK_STATUS_OK) {
      pos = level;
      SetSliderPos(kBlackLevelSlider, pos);
    }
  }
  SetText(kBlackLevelReadout, Fmt(u"%d", pos));
}

// Every colour slider sends all three gains; each shows its own.
void CCamSetupDlg::OnColourGainChanged(int sliderId) {
  int handle = -1;
  if (CurrentHandle(&handle) &&
      !Took(CameraSetGain(handle, float(Slider(kRedGainSlider)->value()) / 100,
                          float(Slider(kGreenGainSlider)->value()) / 100, float(Slider(kBlueGainSlider)->value()) / 100))) {
    float gains[3] = {0, 0, 0};
    if (CameraGetGain(handle, &gains[0], &gains[1], &gains[2]) == CAMSDK_STATUS_OK) {
      const int ids[3] = {kRedGainSlider, kGreenGainSlider, kBlueGainSlider};
      for (int i = 0; i < 3; ++i) SetSliderPos(ids[i], int(gains[i] * 100.0));
    }
  }
  const int readout = sliderId == kRedGainSlider     ? kRedGainReadout
                      : sliderId == kGreenGainSlider ? kGreenGainReadout
                                                     : kBlueGainReadout;
  SetText(readout, FmtF(u"%.2f", Slider(sliderId)->value() / 100.0));
}

void CCamSetupDlg::OnSaturationChanged() {
  int pos = Slider(kSaturationSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle) &&
      !(Took(CameraSetColorEnhancement(handle, 1)) && Took(CameraSetSaturation(handle, pos)))) {
    pos = CameraValue(handle, &CameraGetSaturation, pos);
    SetSliderPos(kSaturationSlider, pos);
  }
  SetText(kSaturationReadout, Fmt(u"%d", pos));
}

void CCamSetupDlg::OnSharpnessChanged() {
  int pos = Slider(kSharpnessSlider)->value();
  int handle = -1;
  if (CurrentHandle(&handle) &&
      !(Took(CameraSetEdgeGain(handle, pos)) && Took(CameraSetEdgeEnhance(handle, pos > 0 ? 1 : 0)))) {
    int on = 0;
    if (CameraGetEdgeEnhance(handle, &on) == CAMSDK_STATUS_OK) pos = on ? CameraValue(handle, &CameraGetEdgeGain, pos) : 0;
    SetSliderPos(kSharpnessSlider, pos);
  }
  SetText(kSharpnessReadout, Fmt(u"%d", pos));
}

// ---- boxes, radios and combos

void CCamSetupDlg::OnBnClickedBox(int id) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  UpdateData(true);
  // A box the camera refuses shows the camera's state again.
  auto apply = [&](CamSdkStatus set, int* member, auto get) {
    if (Took(set)) return;
    int on = 0;
    if (get(&on) == CAMSDK_STATUS_OK) *member = on;
    SetChecked(id, *member != 0);
  };
  switch (id) {
    case kDeadPixelCorrectionCheck:
      apply(CameraSetDeadPixelCorrectionState(handle, m_bDeadPixelCorrection), &m_bDeadPixelCorrection,
            [&](int* on) { return CameraGetDeadPixelCorrectionState(handle, on); });
      break;
    case kInverseCheck:
      apply(CameraSetInverse(handle, m_bInverse), &m_bInverse, [&](int* on) { return CameraGetInverse(handle, on); });
      break;
    case kMonochromeCheck:
      apply(CameraSetMonochrome(handle, m_bMonochrome), &m_bMonochrome,
            [&](int* on) { return CameraGetMonochrome(handle, on); });
      break;
    case kFlipVerticalCheck:
      apply(CameraSetMirror(handle, CAMSDK_MIRROR_VERTICAL, m_bFlipVertical), &m_bFlipVertical,
            [&](int* on) { return CameraGetMirror(handle, CAMSDK_MIRROR_VERTICAL, on); });
      break;
    case kFlipHorizontalCheck:
      apply(CameraSetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, m_bFlipHorizontal), &m_bFlipHorizontal,
            [&](int* on) { return CameraGetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, on); });
      break;
    default: break;
  }
}

void CCamSetupDlg::OnBnClickedAntiFlick(int id) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  // A choice the camera refuses: the radios show the camera's own.
  auto showCamera = [&] {
    int on = 0, frequency = -1;
    if (CameraGetAntiFlick(handle, &on) != CAMSDK_STATUS_OK) return;
    if (on && CameraGetLightFrequency(handle, &frequency) != CAMSDK_STATUS_OK) frequency = -1;
    CheckRadio({kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio},
               !on                               ? kAntiFlickDcRadio
               : frequency == CAMSDK_LIGHT_50HZ ? kAntiFlick50HzRadio
               : frequency == CAMSDK_LIGHT_60HZ ? kAntiFlick60HzRadio
                                                : -1);
  };
  if (id == kAntiFlickDcRadio) {
    if (!Took(CameraSetAntiFlick(handle, 0))) showCamera();
    return;
  }
  if (!Took(CameraSetAntiFlick(handle, 1)) ||
      !Took(CameraSetLightFrequency(handle, id == kAntiFlick50HzRadio ? CAMSDK_LIGHT_50HZ : CAMSDK_LIGHT_60HZ)))
    showCamera();
  ApplyExposureFields();
}

void CCamSetupDlg::OnCaptureSizeSelChange() {
  int handle = -1;
  int sel = 0;
  // The box shows the capture size in force.
  if (CurrentHandle(&handle) &&
      !Took(Camera()->SetImageSizeSel(handle, Combo(kCaptureSizeCombo)->currentIndex(), CAMSDK_SIZE_CAPTURE)) &&
      CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_CAPTURE) == CAMSDK_STATUS_OK)
    Combo(kCaptureSizeCombo)->setCurrentIndex(sel);
}

void CCamSetupDlg::OnMediaTypeSelChange() {
  int handle = -1, sel = 0;
  if (CurrentHandle(&handle) && !Took(CameraSetMediaTypeSel(handle, Combo(kMediaTypeCombo)->currentIndex())) &&
      CameraGetMediaTypeSel(handle, &sel) == CAMSDK_STATUS_OK)
    Combo(kMediaTypeCombo)->setCurrentIndex(sel);
}

// ---- white balance

void CCamSetupDlg::OnBnClickedOnceWhiteBalance() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  if (!m_bRegionWB) {
    // The whole picture (a window of width 0 is the whole image, too).
    int x = 0, y = 0, w = 0, h = 0;
    if (CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK) w = h = 0;
    if (!Took(CameraSetWBWindow(handle, 0, 0, w, h))) return;
  }
  if (!Took(CameraSetOnceWB(handle))) return;  // nothing to wait for
  Enable(kOnceWhiteBalanceButton, false);
  // The balance needs a frame or so: wait the exposure, at least a second.
  std::uint64_t exposure = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle, &exposure, &maximum, &minimum) != CAMSDK_STATUS_OK) exposure = 0;
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
  if (!Took(CameraSetAWBState(handle, m_bAutoWB))) {
    int on = 0;
    m_bAutoWB = CameraGetAWBState(handle, &on) == CAMSDK_STATUS_OK && on;
    UpdateData(false);
  }
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
    int on = 0;
    if (CameraGetAWBState(handle, &on) == CAMSDK_STATUS_OK) m_bAutoWB = on;  // the camera's own answer
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
int CCamSetupDlg::ApplyRoi(int handle, int* x, int* y, int* width, int* height) {
  CCameraProcess* camera = Camera();
  int status = CAMSDK_STATUS_INVALID_PARAMETER;
  for (int align : {0, 8, 16}) {
    if (align) {
      *x -= *x % align;
      *y -= *y % align;
      *width -= *width % align;
      *height -= *height % align;
    }
    status = camera->SetImageSize(handle, 1, *x, *y, *width, *height, CAMSDK_SIZE_PREVIEW);
    if (status == CAMSDK_STATUS_OK) break;
  }
  return status;
}

void CCamSetupDlg::SetRoiFromView(int x, int y, int width, int height) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  if (x < 0 || y < 0 || width <= 0 || height <= 0) return;
  CCameraProcess* camera = Camera();
  // A region the camera refuses leaves the camera, the picture and the zoom as they were.
  if (Took(ApplyRoi(handle, &x, &y, &width, &height))) {
    const int values[4] = {x, y, width, height};
    for (int i = 0; i < 4; ++i) SetText(kRoiEdits[i], Fmt(u"%d", values[i]));
    Took(camera->SetImageSize(handle, 1, x, y, width, height, CAMSDK_SIZE_CAPTURE));
    FitFrameBuffer(handle);
    AppHost().ZoomOriginal();
  }
  m_nRoiArmed = 0;
  camera->SetRoi(false, -1, -1, -1, -1);
}
