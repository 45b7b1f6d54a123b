#include "editors/ScaleDisplayPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QSlider>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "editors/ColorButton.h"

ScaleDisplaySetDlg::ScaleDisplaySetDlg(QWidget* parent) : QWidget(parent) {
  bar_.Build(this);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(6, 1);
  LoadDlgItemTexts(this);
  bar_.ShowReadouts();

  for (QSlider* s : {bar_.sliderX, bar_.sliderY, bar_.sliderWidth})
    connect(s, &QSlider::valueChanged, this, [this] {
      bar_.ShowReadouts();
      ApplyDisplay();
    });
  connect(bar_.color, &editors::ColorButton::ColorChanged, this, &ScaleDisplaySetDlg::ApplyDisplay);
  connect(bar_.enable, &QCheckBox::clicked, this, &ScaleDisplaySetDlg::OnBnClickedDisplayEnable);
  connect(bar_.length, &QLineEdit::editingFinished, this, &ScaleDisplaySetDlg::OnEnChangeLength);
}

void ScaleDisplaySetDlg::Fill(float factor, const WString& unit, const ScaleDisplayBlock& block) {
  factor_ = factor;
  unit_ = unit;
  block_ = block;
  bar_.Show(block, unit);
}

void ScaleDisplaySetDlg::ApplyDisplay() {
  // The factor and unit are the engine's at this moment: a calibration since the page was
  // filled must not be undone by a slider move.
  CMeasureManager* mm = AppHost().Measure();
  if (mm) mm->GetScale(&factor_, &unit_, nullptr);
  bar_.ReadInto(&block_);
  if (mm) mm->SetScale(factor_, unit_, block_);
  AppHost().RedrawView();
}

void ScaleDisplaySetDlg::OnBnClickedDisplayEnable() {
  block_.enable = bar_.enable->isChecked() ? 1 : 0;
  ApplyDisplay();
}

int ScaleDisplaySetDlg::LimitPixels() const {
  int width = 1000;
  if (CCameraProcess* cam = AppHost().Camera(); cam && (AppHost().IsLive() || AppHost().ImageAvailable())) {
    int w = 0, h = 0;
    if (cam->GetOpenedCount() > 0 && cam->GetImageSize(cam->GetCurCameraItem(), &w, &h) == CAMSDK_STATUS_OK &&
        w > 0) {
      width = w;
    } else {
      BITMAPINFOHEADER f;
      cam->GetFrameFormat(&f);
      if (f.biWidth > 0) width = f.biWidth;
    }
  }
  return width - 20;
}

void ScaleDisplaySetDlg::OnEnChangeLength() {
  if (CMeasureManager* mm = AppHost().Measure()) mm->GetScale(&factor_, &unit_, nullptr);
  if (!(factor_ > 0.0f)) {  // no bar length can be checked against the image without a scale
    bar_.RevertLength();
    return;
  }
  double v = 0.0;
  if (!bar_.CommitLength(&v)) return;
  bar_.LimitLength(v, factor_, LimitPixels());
  ApplyDisplay();
}
