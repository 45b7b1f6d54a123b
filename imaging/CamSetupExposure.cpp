// The capability set-up and the exposure group: automatic exposure, what it regulates, its
// scheme, target and window, and manual exposure in minutes, seconds, milliseconds and
// microseconds with their spin steps and the unit cascade.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupCapability.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupInternal.h"

using namespace camsetup;

namespace {

void SetRange(QSlider* s, int lo, int hi) {
  const QSignalBlocker block(s);
  s->setRange(lo, hi);
}

// Resolution and media names come as UTF-8; the multiplication sign reads as "*".
QString ResolutionText(const char* name, std::size_t capacity) {
  QString text = QString::fromUtf8(name, qsizetype(strnlen(name, capacity)));
  text.replace(QChar(0x00D7), QLatin1Char('*'));
  return text;
}

}  // namespace

stCameraCapability CCamSetupDlg::InitCameraControls(int handle) {
  CamSdkCapability cap{};
  if (CameraGetCapability(handle, &cap) != CAMSDK_STATUS_OK) return {};  // nothing to shape from
  mono_ = cap.colorSensor == 0;
  lacking_ = cap.lackingControls;
  if (mono_) m_bAutoWB = 0;  // no white balance to be automatic

  if (cap.range) {
    SetRange(Slider(kAeTargetSlider), cap.range->aeTargetMin, cap.range->aeTargetMax);
    SetRange(Slider(kAnalogGainSlider), int(cap.range->analogGainMin * 8), int(cap.range->analogGainMax * 8));
  }
  SetRange(Slider(kGammaSlider), std::max(cap.gammaMin, 20), std::min(cap.gammaMax, 150));
  SetRange(Slider(kContrastSlider), cap.contrastMin, cap.contrastMax);
  SetRange(Slider(kBlackLevelSlider), -128, 127);
  Enable(kBlackLevelSlider, true);
  SetRange(Slider(kRedGainSlider), int(cap.redGainMin) * 100, int(cap.redGainMax) * 100);
  SetRange(Slider(kGreenGainSlider), int(cap.greenGainMin) * 100, int(cap.greenGainMax) * 100);
  SetRange(Slider(kBlueGainSlider), int(cap.blueGainMin) * 100, int(cap.blueGainMax) * 100);
  SetRange(Slider(kSaturationSlider), cap.saturationMin, cap.saturationMax);
  SetRange(Slider(kSharpnessSlider), cap.sharpnessMin, cap.sharpnessMax);

  Combo(kPreviewSizeCombo)->clear();
  Combo(kCaptureSizeCombo)->clear();
  for (int i = 0; cap.resolutions && i < cap.resolutionCount; ++i) {
    const QString text = ResolutionText(cap.resolutions[i].name, sizeof cap.resolutions[i].name);
    Combo(kPreviewSizeCombo)->addItem(text);
    Combo(kCaptureSizeCombo)->addItem(text);
  }
  Combo(kMediaTypeCombo)->clear();
  for (int i = 0; cap.mediaTypes && i < cap.mediaTypeCount; ++i)
    Combo(kMediaTypeCombo)->addItem(ResolutionText(cap.mediaTypes[i].name, sizeof cap.mediaTypes[i].name));

  frameSpeedCount_ = cap.frameSpeedCount;
  if (cap.frameSpeedCount >= 1 && cap.frameSpeedCount <= 3)
    for (int i = 0; i < 3; ++i) Enable(kFrameSpeedIds[i], i < cap.frameSpeedCount);

  Combo(kPreviewSizeCombo)->addItem(QStringLiteral("ROI"));
  Combo(kPreviewSizeCombo)->setCurrentIndex(0);
  Combo(kCaptureSizeCombo)->setCurrentIndex(0);

  if (mono_)
    for (int id : {kOnceWhiteBalanceButton, kRegionWhiteBalanceCheck, kRedGainSlider, kGreenGainSlider, kBlueGainSlider,
                   kSaturationSlider, kMonochromeCheck})
      ctrls_.Get(id)->setEnabled(false);
  for (int id : CameraControlIds())
    if (IsLackingControl(id)) ctrls_.Get(id)->setEnabled(false);

  ExposureUnitCascade(handle, true);

  int on = 0;
  const int awb = CameraGetAWBState(handle, &on);
  if (awb == CAMSDK_STATUS_OK) {
    Enable(kAutoWhiteBalanceCheck, true);
    m_bAutoWB = on;
    for (int id : {kRedGainSlider, kGreenGainSlider, kBlueGainSlider}) Enable(id, m_bAutoWB == 0);
    UpdateData(false);
  } else if (awb == CAMSDK_STATUS_NOT_SUPPORTED) {
    Enable(kAutoWhiteBalanceCheck, false);
  }
  // "None" until the camera says which team is in force.
  if (CameraGetCurrentParameterTeam(handle, &m_nParamTeam) != CAMSDK_STATUS_OK) m_nParamTeam = 255;
  return PackCapability(cap);
}

// ---- automatic exposure

void CCamSetupDlg::OnBnClickedAutoExposure() {
  int handle = -1;
  if (!CurrentHandle(&handle)) {
    UpdateData(false);  // the box goes back: there is nothing to switch
    return;
  }
  m_bAutoExposure = !m_bAutoExposure;  // the box has flipped already; the member follows the clicks
  if (!m_bRegionAE) {
    // The whole picture (a window of width 0 is the whole image, too).
    int x = 0, y = 0, w = 0, h = 0;
    if (CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK) w = h = 0;
    Took(CameraSetAEWindow(handle, 0, 0, w, h));
  } else {
    m_bAutoExposure = 1;  // the view has just set a drawn window
  }
  // The controls follow the state the camera is in, whatever it answered.
  if (!Took(CameraSetAeState(handle, m_bAutoExposure))) {
    int on = 0;
    if (CameraGetAeState(handle, &on) == CAMSDK_STATUS_OK) m_bAutoExposure = on;
  }
  const bool ae = m_bAutoExposure != 0;

  Enable(kAeTargetSlider, ae);
  Enable(kAnalogGainSlider, !ae);
  for (int id : kExposureEdits) Enable(id, !ae);
  for (int id : kExposureSpins) Enable(id, !ae);
  Enable(kSetExposureButton, !ae);

  int mode = 0;
  if (CameraGetAeMode(handle, &mode) != CAMSDK_STATUS_OK) mode = -1;  // the boxes' defaults stand
  if (ae) {
    if (mode == CAMSDK_AE_GAIN_AND_EXPOSURE) {
      for (int id : {kAnalogGainSlider, kExposureFieldEdit, kSetExposureButton}) Enable(id, false);
    } else if (mode == CAMSDK_AE_EXPOSURE_ONLY) {
      Enable(kAnalogGainSlider, true);
      Enable(kExposureFieldEdit, false);
      Enable(kSetExposureButton, false);
    } else if (mode == CAMSDK_AE_GAIN_ONLY) {
      Enable(kAnalogGainSlider, false);
      Enable(kExposureFieldEdit, true);
      Enable(kSetExposureButton, true);
    }
  } else {
    for (int id : {kAnalogGainSlider, kExposureFieldEdit, kSetExposureButton}) Enable(id, true);
  }
  for (int id : {kAeAdjustGainCheck, kAeAdjustExposureCheck, kAeSchemeCombo}) Enable(id, ae);

  if (!ae) {
    clock_->KillTimer(kTimerAeMirror);
    for (int id : kExposureEdits) Enable(id, true);
    for (int id : kExposureSpins) Enable(id, true);
    ExposureUnitCascade(handle, false);
  } else {
    clock_->StartTimer(kTimerAeMirror, 100);
  }
  UpdateData(false);
}

void CCamSetupDlg::OnBnClickedAeAdjustGain() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  UpdateData(true);
  if (!m_bAeAdjustGain && !m_bAeAdjustExposure) m_bAeAdjustGain = 1;  // one of the two always stays
  const int mode = m_bAeAdjustGain && m_bAeAdjustExposure ? CAMSDK_AE_GAIN_AND_EXPOSURE
                   : m_bAeAdjustExposure                 ? CAMSDK_AE_EXPOSURE_ONLY
                                                         : CAMSDK_AE_GAIN_ONLY;
  Enable(kAnalogGainSlider, m_bAeAdjustGain == 0);
  if (!Took(CameraSetAeMode(handle, mode))) ShowAeMode(handle);
  UpdateData(false);
}

void CCamSetupDlg::OnBnClickedAeAdjustExposure() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  UpdateData(true);
  if (!m_bAeAdjustGain && !m_bAeAdjustExposure) m_bAeAdjustExposure = 1;
  const int mode = m_bAeAdjustGain && m_bAeAdjustExposure ? CAMSDK_AE_GAIN_AND_EXPOSURE
                   : m_bAeAdjustExposure                 ? CAMSDK_AE_EXPOSURE_ONLY
                                                         : CAMSDK_AE_GAIN_ONLY;
  const bool manual = m_bAeAdjustExposure == 0;
  for (int id : kExposureEdits) Enable(id, manual);
  for (int id : kExposureSpins) Enable(id, manual);
  Enable(kExposureFieldEdit, manual);
  Enable(kSetExposureButton, manual);
  if (manual) ExposureUnitCascade(handle, false);
  if (!Took(CameraSetAeMode(handle, mode))) ShowAeMode(handle);
  UpdateData(false);
}

// The two boxes show the mode the camera is in.
void CCamSetupDlg::ShowAeMode(int handle) {
  int mode = -1;
  if (CameraGetAeMode(handle, &mode) != CAMSDK_STATUS_OK) return;
  m_bAeAdjustGain = mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_GAIN_ONLY;
  m_bAeAdjustExposure = mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_EXPOSURE_ONLY;
}

void CCamSetupDlg::OnAeSchemeSelChange() {
  int handle = -1, scheme = 0;
  if (CurrentHandle(&handle) && !Took(CameraSetAeScheme(handle, Combo(kAeSchemeCombo)->currentIndex())) &&
      CameraGetAeScheme(handle, &scheme) == CAMSDK_STATUS_OK)
    Combo(kAeSchemeCombo)->setCurrentIndex(scheme);
}

void CCamSetupDlg::OnAeTargetChanged() {
  int pos = Slider(kAeTargetSlider)->value();
  int handle = -1, target = 0;
  if (CurrentHandle(&handle) && !Took(CameraSetAeTarget(handle, pos)) &&
      CameraGetAeTarget(handle, &target) == CAMSDK_STATUS_OK) {
    pos = target;
    SetSliderPos(kAeTargetSlider, pos);
  }
  SetText(kAeTargetReadout, Fmt(u"%d", pos));
}

void CCamSetupDlg::OnBnClickedRegionAutoExposure() { ArmRegion(&m_bRegionAE, 60016); }

// ---- manual exposure

void CCamSetupDlg::ApplyExposureFields() {
  for (int id : kExposureEdits)
    if (!Edit(id)) return;
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  const auto minutes = std::uint64_t(ReadInt64(Edit(kExposureMinutesEdit)->text()));
  const auto seconds = std::uint64_t(ReadInt64(Edit(kExposureSecondsEdit)->text()));
  const auto ms = std::uint64_t(Truncate(ReadDecimal(Edit(kExposureMsEdit)->text())));
  const auto us = std::uint64_t(Truncate(ReadDecimal(Edit(kExposureUsEdit)->text())));
  // Every manual exposure carries 3 microseconds more than the fields show.
  std::uint64_t value =
      minutes * kUnitsPerMinute + seconds * kUnitsPerSecond + ms * kUnitsPerMs + (us + 3) * kUnitsPerUs;
  std::uint64_t current = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle, &current, &maximum, &minimum) != CAMSDK_STATUS_OK) return;  // no limits
  if (value < minimum) value = minimum;
  if (value > maximum) value = maximum;
  Took(CameraSetExposureTime(handle, value));
  clock_->StartTimer(kTimerReadBack, 1000);  // the fields then show the exposure in force
}

void CCamSetupDlg::OnEnChangeExposureField(int editId) {
  const std::int64_t v = Truncate(ReadDecimal(Edit(editId)->text()));
  const bool seconds = editId == kExposureSecondsEdit;
  if (v < 0 || (seconds ? v >= 60 : v > 999)) SetText(editId, seconds ? QStringLiteral("59") : QStringLiteral("999"));
  ApplyExposureFields();
}

void CCamSetupDlg::OnDeltaPosMinutesOrSeconds(int spinId, int delta) {
  CamSpinButton* spin = Spin(spinId);
  QLineEdit* edit = spin->Buddy();
  int value = int(ReadInt64(edit->text()));
  spin->SetPos(value);
  value += delta > 0 ? 1 : -1;
  SetText(ui::CtrlId(edit), Fmt(u"%d", std::max(value, 0)));
  ApplyExposureFields();
}

void CCamSetupDlg::OnDeltaPosExposure(int delta) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  int value = int(Truncate(ReadDecimal(Edit(kExposureMsEdit)->text())));
  int step = 1;
  int antiFlick = 0;
  if (CameraGetAntiFlick(handle, &antiFlick) != CAMSDK_STATUS_OK) antiFlick = 0;  // plain steps
  if (antiFlick) {
    int frequency = -1;
    if (CameraGetLightFrequency(handle, &frequency) != CAMSDK_STATUS_OK) frequency = -1;
    step = frequency == CAMSDK_LIGHT_50HZ ? 10 : frequency == CAMSDK_LIGHT_60HZ ? 9 : 0;
  }
  // The spin adds its own delta of one after this handler.
  if (delta > 0) {
    value += step;
    Spin(kExposureMsSpin)->SetPos(value - 1);
  } else {
    value -= step;
    Spin(kExposureMsSpin)->SetPos(value + 1);
  }
  SetText(kExposureMsEdit, Fmt(u"%d", std::max(value, 0)));
  ApplyExposureFields();
}

void CCamSetupDlg::OnDeltaPosExposureUs(int delta) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  std::uint64_t current = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle, &current, &maximum, &minimum) != CAMSDK_STATUS_OK) minimum = 0;  // no step
  const int step = int(minimum / 10);  // the camera's shortest exposure in whole microseconds
  // From what the field says: the operator may have typed since the spin last moved.
  int value = int(std::clamp<std::int64_t>(Truncate(ReadDecimal(Edit(kExposureUsEdit)->text())), 0, 999));
  value += delta > 0 ? step : -step;
  Spin(kExposureUsSpin)->SetPos(value);
  SetText(kExposureUsEdit, Fmt(u"%d", std::max(value, 0)));
  ApplyExposureFields();
}

void CCamSetupDlg::OnBnClickedSetExposure() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  double value = ReadDecimal(Edit(kExposureFieldEdit)->text()) * double(kUnitsPerMs);
  std::uint64_t current = 0;
  if (CameraGetExposureTime(handle, &current, &m_nExposureMax, &m_nExposureMin) != CAMSDK_STATUS_OK) return;
  if (value > double(m_nExposureMax))
    value = double(m_nExposureMax);
  else if (value < double(m_nExposureMin))
    value = double(m_nExposureMin);
  // The field shows the exposure in force: the one sent, or the camera's own when refused.
  if (!Took(CameraSetExposureTime(handle, std::uint64_t(Truncate(value)))) &&
      CameraGetExposureTime(handle, &current, &m_nExposureMax, &m_nExposureMin) == CAMSDK_STATUS_OK)
    value = double(current);
  SetText(kExposureFieldEdit, FmtF(u"%.2f", value / double(kUnitsPerMs)));
}

// The units the camera's longest exposure does not reach are disabled; with spin ranges, the
// reached unit's spin goes up to the longest exposure in that unit and the finer ones wrap.
void CCamSetupDlg::ExposureUnitCascade(int handle, bool withSpinRanges) {
  std::uint64_t current = 0, maximum = 0, minimum = 0;
  // A camera that gives no limits has no unit to set.
  if (CameraGetExposureTime(handle, &current, &maximum, &minimum) != CAMSDK_STATUS_OK) maximum = 0;
  const std::uint64_t units[4] = {kUnitsPerMinute, kUnitsPerSecond, kUnitsPerMs, kUnitsPerUs};
  const int finerMax[4] = {0, 59, 999, 999};
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t q = maximum / units[i];
    if (q == 0) {
      Enable(kExposureEdits[i], false);
      Enable(kExposureSpins[i], false);
      continue;
    }
    if (withSpinRanges) {
      Spin(kExposureSpins[i])->setRange(0, int(q & 0xFFFF));
      for (int j = i + 1; j < 4; ++j) Spin(kExposureSpins[j])->setRange(0, finerMax[j]);
    }
    break;
  }
}

// The exposure split into the four fields; each spin takes its field's value.
void CCamSetupDlg::ShowExposure(std::uint64_t e) {
  const std::uint64_t minutes = e / kUnitsPerMinute;
  const std::uint64_t seconds = e / kUnitsPerSecond - minutes * 60;
  const std::uint64_t ms = e / kUnitsPerMs - (minutes * 60 + seconds) * 1000;
  const std::uint64_t us = e / kUnitsPerUs - (e / kUnitsPerMs) * 1000;
  const std::uint64_t values[4] = {minutes, seconds, ms, us};
  for (int i = 0; i < 4; ++i) {
    SetText(kExposureEdits[i], Fmt(u"%d", std::int64_t(values[i])));
    Spin(kExposureSpins[i])->SetPos(int(values[i] & 0xFFFF));
  }
}
