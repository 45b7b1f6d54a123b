#pragma once
// The video page of the options dialog: codec, quality, folder and file-name prefix of
// recordings.
#include <QWidget>

#include "ui/DialogBuilder.h"
#include "camera/CameraSettings.h"

class COptVideoDlg : public QWidget {
 public:
  enum : int {
    IDC_CODEC = 1094,
    IDC_QUALITY = 1095,
    IDC_FOLDER = 1096,
    IDC_BROWSE = 1097,
    IDC_PREFIX = 1192,
  };

  explicit COptVideoDlg(QWidget* parent = nullptr);

  void LoadSettings(stVideoSetting setting);
  stVideoSetting SaveSettings() const;

  const ui::CtrlMap& Controls() const { return ctrls_; }

 private:
  ui::CtrlMap ctrls_;
};
