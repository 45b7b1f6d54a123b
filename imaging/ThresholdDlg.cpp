#include "imaging/ThresholdDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "ui/DlgTexts.h"
#include "platform/strings.h"

namespace {
QString Num(int v) { return QString::fromStdU16String(FormatW(u"%d", v)); }
}  // namespace

CImageOptDlg::CImageOptDlg(int mode, QWidget* parent) : QDialog(parent), mode_(mode) {
  const ui::CtrlMap map = ui::BuildControls(this, {
                                                      {kSlider, ui::Ctl::Slider, 0, 0, 3},
                                                      {kValue, ui::Ctl::Label, 0, 3},
                                                      {ui::kIdOk, ui::Ctl::Button, 0, 0},
                                                      {ui::kIdCancel, ui::Ctl::Button, 0, 1},
                                                  });
  slider_ = map.Find<QSlider>(kSlider);
  value_ = map.Find<QLabel>(kValue);
  ok_ = map.Find<QPushButton>(ui::kIdOk);
  slider_->setMinimumWidth(260);
  value_->setMinimumWidth(40);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(map.Find<QPushButton>(ui::kIdCancel), &QPushButton::clicked, this, &QDialog::reject);
  connect(slider_, &QSlider::valueChanged, this, &CImageOptDlg::OnHScroll);
  started_ = OnInitDialog();
}

bool CImageOptDlg::OnInitDialog() {
  LoadDlgItemTexts(this);
  if (!backup_.Take()) return false;
  WString title;
  const QSignalBlocker block(slider_);
  if (mode_ == kThreshold) {
    title = LoadStringW(sid::kThreshold);
    slider_->setRange(0, 255);
    slider_->setValue(126);
    value_->setText(Num(126));
    backup_.Apply([](KvImgImage backup, KvImgImage frame) {
      KvImgRGB2GRAY(backup, frame);
      KvImgThreshold(frame, frame, 126);
    });
  } else if (mode_ == kBrightness) {
    title = LoadStringW(sid::kBrightness);
    slider_->setRange(-255, 255);
    slider_->setValue(0);
    value_->setText(Num(0));
  } else if (mode_ != 3 && mode_ != 4) {
    slider_->setEnabled(false);
    ok_->setEnabled(false);
  }
  setWindowTitle(QString::fromStdU16String(title));
  return true;
}

int CImageOptDlg::exec() {
  if (!started_) {
    reject();
    return QDialog::Rejected;
  }
  return QDialog::exec();
}

void CImageOptDlg::OnHScroll(int value) {
  if (CStillImageBackup::StillImageShown()) {
    value_->setText(Num(value));
    if (mode_ == kThreshold) {
      backup_.Apply([value](KvImgImage backup, KvImgImage frame) {
        KvImgRGB2GRAY(backup, frame);
        KvImgThreshold(frame, frame, value);
      });
    } else if (mode_ == kBrightness) {
      backup_.Apply([value](KvImgImage backup, KvImgImage frame) { KvImgBrightness(backup, frame, value); });
    }
  }
  AppHost().RedrawView();
}

void CImageOptDlg::reject() {
  backup_.Restore();
  QDialog::reject();
}
