// Camera detection and choice, the refresh of every control from the camera, the panel's
// timers, frame speed, reading a parameter team back, factory defaults and the preview size
// (including the region-of-interest mode).
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

#include <algorithm>
#include <cstring>
#include <vector>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupInternal.h"
#include "measure/MeasureManager.h"

using namespace camsetup;

namespace {

QString DeviceName(const CamSdkDeviceInfo& device) {
  return QString::fromUtf8(device.deviceName, qsizetype(strnlen(device.deviceName, sizeof device.deviceName)));
}

const QString kRoi = QStringLiteral("ROI");

}  // namespace

void CCamSetupDlg::DetectCameras() {
  Combo(kCameraCombo)->clear();
  CCameraProcess* camera = Camera();
  if (!camera) return;
  std::vector<stCameraItem> items(kMaxCameraList);
  int count = 0;
  camera->EnumCameras(items.data(), &count);
  if (count > 0) {
    for (int i = 0; i < count; ++i) Combo(kCameraCombo)->addItem(DeviceName(items[std::size_t(i)].device));
    Combo(kCameraCombo)->setCurrentIndex(0);
    camera->SetCurCamera(0);
    clock_->KillTimer(kTimerDetect);
  }
  DisableWithoutCamera();
}

void CCamSetupDlg::RefreshCameraList() {
  CCameraProcess* camera = Camera();
  if (!camera) return;
  stCameraItem chosen{};
  const bool hadChoice = camera->GetCurCameraItem(&chosen) >= 0;
  std::vector<stCameraItem> items(kMaxCameraList);
  int count = 0;
  camera->EnumCameras(items.data(), &count);  // an open camera's index follows it
  QComboBox* combo = Combo(kCameraCombo);
  combo->clear();
  for (int i = 0; i < count; ++i) combo->addItem(DeviceName(items[std::size_t(i)].device));
  if (count == 0) return;
  int sel = camera->GetCurCameraItem();
  if (sel < 0 || sel >= count) {
    sel = 0;
    for (int i = 0; hadChoice && i < count; ++i)
      if (DeviceName(items[std::size_t(i)].device) == DeviceName(chosen.device)) sel = i;
  }
  combo->setCurrentIndex(sel);
  camera->SetCurCamera(sel);
  clock_->KillTimer(kTimerDetect);
  DisableWithoutCamera();
}

void CCamSetupDlg::OnCameraSelChange() {
  const int sel = Combo(kCameraCombo)->currentIndex();
  CCameraProcess* camera = Camera();
  if (sel < 0 || !camera) return;
  FocusReset();  // the assistant belongs to the camera it was started on
  camera->SetCurCamera(sel);
  stCameraItem item;
  camera->GetCameraItem(sel, &item);
  if (item.state == CAMERA_CLOSED) {
    AppHost().SetImageState(1, 0);
    DisableWithoutCamera();
    return;
  }
  camera->SetCameraCapability(InitCameraControls(item.handle));
  RefreshFromCamera(item.handle);
  AppHost().SetImageState(item.state == CAMERA_PAUSED ? 0 : 1, 1);
}

void CCamSetupDlg::RefreshFromCamera(int handle) {
  int current = -1;
  if (!CurrentHandle(&current) || current != handle) return;  // only the open current camera
  CCameraProcess* camera = Camera();

  CheckRadio({kTeamARadio, kTeamBRadio, kTeamCRadio, kTeamDRadio},
             m_nParamTeam >= 0 && m_nParamTeam < 4 ? kTeamIds[m_nParamTeam] : -1);

  int on = 0;
  const int awb = CameraGetAWBState(handle, &on);
  if (awb == CAMSDK_STATUS_OK || awb == CAMSDK_STATUS_NOT_SUPPORTED) {
    SetChecked(kAutoWhiteBalanceCheck, awb == CAMSDK_STATUS_OK && on);
    OnBnClickedAutoWhiteBalance();
  }

  // Each control shows what the camera answers; a value the camera does not give leaves its
  // control as it was.
  on = 0;
  if (CameraGetAeState(handle, &on) == CAMSDK_STATUS_OK) {
    SetChecked(kAutoExposureCheck, on != 0);
    int target = 0;
    if (CameraGetAeTarget(handle, &target) == CAMSDK_STATUS_OK) {
      SetSliderPos(kAeTargetSlider, target);
      OnAeTargetChanged();
    }
    m_bAutoExposure = on ? 0 : 1;  // the handler toggles it into the camera's state
    OnBnClickedAutoExposure();
  }

  float gain = 0;
  if (CameraGetAnalogGain(handle, &gain) == CAMSDK_STATUS_OK) {
    SetSliderPos(kAnalogGainSlider, int(gain * 1000.0 / 125.0));
    OnAnalogGainChanged();
  }

  int value = 0;
  if (CameraGetGamma(handle, &value) == CAMSDK_STATUS_OK) {
    SetSliderPos(kGammaSlider, value);
    OnGammaChanged();
  }
  value = 0;
  if (CameraGetContrast(handle, &value) == CAMSDK_STATUS_OK) {
    SetSliderPos(kContrastSlider, value);
    OnContrastChanged();
  }

  (void)CameraSetBlackLevelState(handle, 1);  // readback
  int level = 0, lo = 0, hi = 0;
  if (CameraGetBlackLevel(handle, &level, &lo, &hi) == CAMSDK_STATUS_OK) {
    SetSliderPos(kBlackLevelSlider, -1);
    SetSliderPos(kBlackLevelSlider, level);
    SetBlackLevel();
  }

  float gains[3] = {0, 0, 0};
  if (CameraGetGain(handle, &gains[0], &gains[1], &gains[2]) == CAMSDK_STATUS_OK) {  // none on mono
    const int ids[3] = {kRedGainSlider, kGreenGainSlider, kBlueGainSlider};
    for (int i = 0; i < 3; ++i) SetSliderPos(ids[i], int(gains[i] * 100.0));
    for (int id : ids) OnColourGainChanged(id);
  }

  value = 0;
  if (CameraGetSaturation(handle, &value) == CAMSDK_STATUS_OK) {
    SetSliderPos(kSaturationSlider, value);
    OnSaturationChanged();
  }

  on = 0;
  if (CameraGetEdgeEnhance(handle, &on) != CAMSDK_STATUS_OK) {
    // left as it is
  } else if (!on) {
    SetSliderPos(kSharpnessSlider, 0);
    SetText(kSharpnessReadout, QStringLiteral("0"));
  } else if (value = 0; CameraGetEdgeGain(handle, &value) == CAMSDK_STATUS_OK) {
    SetSliderPos(kSharpnessSlider, value);
    OnSharpnessChanged();
  }

  // A box whose state the camera does not give shows it off.
  auto box = [](CamSdkStatus status, int* member) {
    if (status != CAMSDK_STATUS_OK) *member = 0;
  };
  box(CameraGetDeadPixelCorrectionState(handle, &m_bDeadPixelCorrection), &m_bDeadPixelCorrection);
  box(CameraGetInverse(handle, &m_bInverse), &m_bInverse);
  box(CameraGetMonochrome(handle, &m_bMonochrome), &m_bMonochrome);
  box(CameraGetMirror(handle, CAMSDK_MIRROR_HORIZONTAL, &m_bFlipHorizontal), &m_bFlipHorizontal);
  box(CameraGetMirror(handle, CAMSDK_MIRROR_VERTICAL, &m_bFlipVertical), &m_bFlipVertical);
  for (const auto& [id, member] :
       {std::pair{kDeadPixelCorrectionCheck, m_bDeadPixelCorrection}, std::pair{kInverseCheck, m_bInverse},
        std::pair{kMonochromeCheck, m_bMonochrome}, std::pair{kFlipHorizontalCheck, m_bFlipHorizontal},
        std::pair{kFlipVerticalCheck, m_bFlipVertical}})
    SetChecked(id, member != 0);

  int antiFlick = 0, frequency = -1;
  if (CameraGetAntiFlick(handle, &antiFlick) != CAMSDK_STATUS_OK) {
    // left as it is
  } else if (!antiFlick) {
    CheckRadio({kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio}, kAntiFlickDcRadio);
  } else {
    if (CameraGetLightFrequency(handle, &frequency) != CAMSDK_STATUS_OK) frequency = -1;
    CheckRadio({kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio},
               frequency == CAMSDK_LIGHT_50HZ   ? kAntiFlick50HzRadio
               : frequency == CAMSDK_LIGHT_60HZ ? kAntiFlick60HzRadio
                                                : -1);
  }

  int speed = -1;
  if (CameraGetFrameSpeed(handle, &speed) != CAMSDK_STATUS_OK) speed = -1;
  CheckRadio({kFrameSpeedLowRadio, kFrameSpeedNormalRadio, kFrameSpeedHighRadio},
             speed >= 0 && speed < 3 ? kFrameSpeedIds[speed] : -1);

  int media = 0;
  if (CameraGetMediaTypeSel(handle, &media) == CAMSDK_STATUS_OK) Combo(kMediaTypeCombo)->setCurrentIndex(media);

  CamSdkImageSizeArea area{};
  int x = 0, y = 0, w = 0, h = 0;
  const bool sized = CameraGetImageSize(handle, &area, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW) == CAMSDK_STATUS_OK;
  if (area.roi == 0) {
    Enable(kCaptureSizeCombo, true);
    RemoveCaptureRoiEntry();
    int sel = 0;
    if (CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW) == CAMSDK_STATUS_OK)
      Combo(kPreviewSizeCombo)->setCurrentIndex(sel);
    SyncCaptureSize(handle);
    for (int i = 0; i < 4; ++i) SetText(kRoiEdits[i], Str(std::uint32_t(60011 + i)));
    for (int id : {kRoiXEdit, kRoiYEdit, kRoiWidthEdit, kRoiHeightEdit, kRoiSettingButton}) Enable(id, false);
  } else {
    Combo(kPreviewSizeCombo)->setCurrentIndex(Combo(kPreviewSizeCombo)->count() - 1);
    Enable(kCaptureSizeCombo, false);
    InsertCaptureRoiEntry();
    Combo(kCaptureSizeCombo)->setCurrentIndex(0);
    const int values[4] = {x, y, w, h};
    for (int i = 0; i < 4; ++i) SetText(kRoiEdits[i], Fmt(u"%d", values[i]));
    for (int id : {kRoiXEdit, kRoiYEdit, kRoiWidthEdit, kRoiHeightEdit, kRoiSettingButton}) Enable(id, true);
  }

  // The stream plays again (a team read or a default load stopped it); the window shows
  // whether it does.
  PlayAgain(handle);
  if (sized) FrameBufferFits(camera->AllocFrameBuffer(w, h), w, h);
  AppHost().ZoomFitWindow();

  std::uint64_t exposure = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle, &exposure, &maximum, &minimum) == CAMSDK_STATUS_OK) ShowExposure(exposure);

  int scheme = 0;
  if (CameraGetAeScheme(handle, &scheme) == CAMSDK_STATUS_OK) Combo(kAeSchemeCombo)->setCurrentIndex(scheme);

  int mode = -1;
  if (CameraGetAeMode(handle, &mode) != CAMSDK_STATUS_OK) return;
  m_bAeAdjustGain = mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_GAIN_ONLY;
  m_bAeAdjustExposure = mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_EXPOSURE_ONLY;
  SetChecked(kAeAdjustGainCheck, m_bAeAdjustGain != 0);
  SetChecked(kAeAdjustExposureCheck, m_bAeAdjustExposure != 0);
}

void CCamSetupDlg::OnTimer(int id) {
  if (id == kTimerDetect) {
    DetectCameras();
    return;
  }
  int handle = -1;
  if (!CurrentHandle(&handle)) {
    clock_->KillTimer(id);  // nothing left to mirror
    return;
  }
  // The controls mirror what the camera answers; an unanswered read leaves them as they are.
  if (id == kTimerAeMirror) {
    int mode = -1;
    if (CameraGetAeMode(handle, &mode) != CAMSDK_STATUS_OK) return;
    float gain = 0;
    if ((mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_GAIN_ONLY) &&
        CameraGetAnalogGain(handle, &gain) == CAMSDK_STATUS_OK) {
      SetSliderPos(kAnalogGainSlider, int(gain * 1000.0 / 125.0));
      OnAnalogGainChanged();
    }
    std::uint64_t exposure = 0, maximum = 0, minimum = 0;
    if ((mode == CAMSDK_AE_GAIN_AND_EXPOSURE || mode == CAMSDK_AE_EXPOSURE_ONLY) &&
        CameraGetExposureTime(handle, &exposure, &maximum, &minimum) == CAMSDK_STATUS_OK)
      ShowExposure(exposure);
  } else if (id == kTimerReadBack) {
    std::uint64_t exposure = 0, maximum = 0, minimum = 0;
    if (CameraGetExposureTime(handle, &exposure, &maximum, &minimum) == CAMSDK_STATUS_OK) ShowExposure(exposure);
    clock_->KillTimer(kTimerReadBack);
  }
}

void CCamSetupDlg::OnBnClickedFrameSpeed(int speed) {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  Took(CameraSetFrameSpeed(handle, speed));  // the refresh shows the speed in force
  AppHost().ResetFrameStatistics();
  RefreshFromCamera(handle);
}

void CCamSetupDlg::OnBnClickedReadParam() {
  int handle = -1;
  if (!CurrentHandle(&handle) || m_nParamTeam < 0 || m_nParamTeam >= CAMSDK_PARAMETER_TEAMS) return;
  // Read while no frame flows; the refresh plays the camera again and shows what it holds.
  (void)CameraStop(handle);  // replayed
  Took(CameraReadParameter(handle, m_nParamTeam));
  RefreshFromCamera(handle);
  AppHost().ResetFrameStatistics();
}

void CCamSetupDlg::OnBnClickedFactoryDefault() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  (void)CameraStop(handle);  // replayed
  Took(CameraLoadDefaultParameter(handle));
  RefreshFromCamera(handle);
}

// The capture list shows the size a capture writes. A region of interest the preview has left
// is no capture size the list can show: the list's resolution is given to the camera instead.
void CCamSetupDlg::SyncCaptureSize(int handle) {
  QComboBox* list = Combo(kCaptureSizeCombo);
  int sel = -1;
  if (CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_CAPTURE) != CAMSDK_STATUS_OK) return;
  if (sel < 0 || sel >= list->count() || list->itemText(sel) == kRoi) {
    sel = std::max(list->currentIndex(), 0);
    if (sel >= list->count() || list->itemText(sel) == kRoi) return;
    if (!Took(Camera()->SetImageSizeSel(handle, sel, CAMSDK_SIZE_CAPTURE))) return;  // the list as it stands
  }
  list->setCurrentIndex(sel);
}

void CCamSetupDlg::RemoveCaptureRoiEntry() {
  if (Combo(kCaptureSizeCombo)->count() > 0 && Combo(kCaptureSizeCombo)->itemText(0) == kRoi)
    Combo(kCaptureSizeCombo)->removeItem(0);
}

void CCamSetupDlg::InsertCaptureRoiEntry() {
  if (Combo(kCaptureSizeCombo)->count() == 0 || Combo(kCaptureSizeCombo)->itemText(0) != kRoi)
    Combo(kCaptureSizeCombo)->insertItem(0, kRoi);
}

void CCamSetupDlg::OnPreviewSizeSelChange() {
  int handle = -1;
  if (!CurrentHandle(&handle)) return;
  CCameraProcess* camera = Camera();
  const int roiControls[] = {kRoiParamLabel, kRoiXEdit, kRoiYEdit, kRoiWidthEdit, kRoiHeightEdit, kRoiSettingButton};
  if (Combo(kPreviewSizeCombo)->currentText() != kRoi) {
    const int sel = Combo(kPreviewSizeCombo)->currentIndex();
    if (!Took(camera->SetImageSizeSel(handle, sel, CAMSDK_SIZE_PREVIEW))) {
      ShowPreviewSel(handle);  // the camera stays at its size, and so does everything else
      return;
    }
    FitFrameBuffer(handle);
    AppHost().ZoomFitWindow();
    PlayAgain(handle);
    Enable(kCaptureSizeCombo, true);
    if (Combo(kCaptureSizeCombo)->count() > 0 && Combo(kCaptureSizeCombo)->itemText(0) == kRoi) {
      Combo(kCaptureSizeCombo)->removeItem(0);
      Combo(kCaptureSizeCombo)->setCurrentIndex(0);
    }
    SyncCaptureSize(handle);
    for (int id : roiControls) Enable(id, false);
    camera->SetRoi(false, -1, -1, -1, -1);
    m_nRoiArmed = 0;
  } else {
    Enable(kCaptureSizeCombo, false);
    InsertCaptureRoiEntry();
    Combo(kCaptureSizeCombo)->setCurrentIndex(0);
    for (int id : roiControls) Enable(id, true);
    camera->SetRoi(true, -1, -1, -1, -1);
    m_nRoiArmed = 1;
    AppHost().ShowHint(LoadStringW(sid::kPleaseAssignROISizeImage));
  }
  for (int i = 0; i < 4; ++i) SetText(kRoiEdits[i], Str(std::uint32_t(60011 + i)));
  ReloadLayers(handle);
  AppHost().ResetFrameStatistics();
}

// The layers kept for this camera and resolution replace the ones shown.
void CCamSetupDlg::ReloadLayers(int handle) {
  CMeasureManager* mm = AppHost().Measure();
  if (mm) {
    mm->ResetMeasurements();
    mm->RemoveAllRemarks();
  }
  AppHost().ClearLayers();
  // Without the camera's resolution there is no section to load from.
  int sel = 0;
  stCameraItem item;
  if (mm && CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW) == CAMSDK_STATUS_OK &&
      Camera()->GetCurCameraItem(&item) >= 0)
    mm->LoadLayers("Default.kvmi", DeviceName(item.device).toStdU16String(), sel);
  AppHost().RebuildLayers();
}
