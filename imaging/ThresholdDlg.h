#pragma once
// CImageOptDlg (dialog 414): the modal one-slider adjustment of the still image, as threshold
// (mode 1, command "Threshold...") or brightness (mode 2, command "Brightness..."). The image
// follows the slider live; OK keeps it, Cancel puts the backup back.
#include <QDialog>

#include "imaging/StillImageBackup.h"

class QLabel;
class QPushButton;
class QSlider;

class CImageOptDlg : public QDialog {
 public:
  enum Mode { kThreshold = 1, kBrightness = 2 };
  // The slider and the label showing its value.
  enum : int { kSlider = 1277, kValue = 1278 };
  explicit CImageOptDlg(int mode, QWidget* parent = nullptr);

  // Without a still image the dialog cancels itself at once (Rejected, never shown).
  int exec() override;
  void reject() override;

  QSlider* Slider() const { return slider_; }

 private:
  bool OnInitDialog();
  void OnHScroll(int value);

  int mode_;
  bool started_ = false;
  CStillImageBackup backup_;
  QSlider* slider_ = nullptr;
  QLabel* value_ = nullptr;
  QPushButton* ok_ = nullptr;
};
