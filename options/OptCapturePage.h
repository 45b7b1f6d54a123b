#pragma once
// The capture page of the options dialog: continuous capture (interval, frame total), the
// image formats and JPEG quality, saving with the measurements drawn in, the image folder
// and the name of captures.
#include <QWidget>

#include "ui/DialogBuilder.h"
#include "camera/CameraSettings.h"

class COptCaptureDlg : public QWidget {
 public:
  enum : int {
    IDC_IF_MEASURE = 1098,
    IDC_IF_CONTINUOUS = 1099,
    IDC_DEF_NAME = 1100,
    IDC_IMAGE_PATH = 1101,
    IDC_INTERVAL = 1103,
    IDC_FRAME_TOTAL = 1104,
    IDC_IMAGE_NAME = 1105,
    IDC_BMP = 1108,
    IDC_JPEG = 1109,
    IDC_RAW = 1110,
    IDC_PNG = 1111,
    IDC_JPEG_QUALITY = 1112,
    IDC_IF_FRAME = 1183,
    IDC_BROWSE = 1097,
  };

  explicit COptCaptureDlg(QWidget* parent = nullptr);

  void LoadSettings(stCaptureSetting setting);
  // The controls as a block, limits applied; the corrections are reported in one message.
  stCaptureSetting SaveSettings();

  const ui::CtrlMap& Controls() const { return ctrls_; }

 private:
  void OnContinuous();
  void OnSaveMeasuring();
  void OnBrowse();

  ui::CtrlMap ctrls_;
};
