#pragma once
// CDeadSpotTipDlg: the preparation for the dead-pixel information. The operator covers the
// lens and turns gain, exposure time and frame speed up until the dead pixels show; the three
// sliders act on the camera at once.
#include <QDialog>

#include "ui/DialogBuilder.h"
#include "camera/CameraTypes.h"
#include "platform/camsdk/camsdk.h"

class QSlider;

class CDeadSpotTipDlg : public QDialog {
  Q_OBJECT
 public:
  enum : int {
    kDialog = 401,
    kTip = 1273,
    kGainLabel = 1206,
    kExposureLabel = 1207,
    kFrameSpeedLabel = 1276,
    kMinLabel = 1203,
    kMaxLabel = 1204,
    kGainSlider = 1003,
    kExposureSlider = 1004,
    kFrameSpeedSlider = 1005,
  };

  explicit CDeadSpotTipDlg(QWidget* parent = nullptr);
  // The camera to prepare and its capabilities; sets the slider ranges and positions.
  void Setup(int handle, const stCameraCapability& capability);
  QSlider* GainSlider() const;
  QSlider* ExposureSlider() const;
  QSlider* FrameSpeedSlider() const;

 private:
  void ApplyGain();
  void ApplyExposure();
  void ApplyFrameSpeed();
  void RangeExposure();
  void ShowGain();
  void ShowFrameSpeed();

  ui::CtrlMap ctrls_;
  int handle_ = -1;
  CamSdkCapability cap_{};
};
