#include "editors/RemarkDlg.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "ui/DialogBuilder.h"
#include "ui/DlgTexts.h"
#include "editors/ColorButton.h"
#include "editors/EditorText.h"
#include "measure/MeasureBase.h"

using editors::Q;
using editors::W;
using ui::Ctl;

CRemarkDlg::CRemarkDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Remark "));
  const ui::CtrlMap m = ui::BuildControls(this, {
                                                    {kTextLabel, Ctl::Label},
                                                    {kText, Ctl::Edit, 0, 1, 3},
                                                    {kColorLabel, Ctl::Label},
                                                    {kSizeLabel, Ctl::Label},
                                                    {kSizeMin, Ctl::Label, 0, 1},
                                                    {kSize, Ctl::Slider, 0, 2},
                                                    {kSizeMax, Ctl::Label, 0, 3},
                                                    {-1, Ctl::Label},  // the buttons' row, right-aligned
                                                    {editors::kIdOk, Ctl::Button, 0, 2},
                                                    {editors::kIdCancel, Ctl::Button, 0, 3},
                                                });
  text_ = m.Find<QLineEdit>(kText);
  size_ = m.Find<QSlider>(kSize);
  color_ = new editors::ColorButton(this);
  ui::SetCtrlId(color_, kColor);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(color_, 1, 1);
  text_->setEnabled(false);
  auto* ok = m.Find<QPushButton>(editors::kIdOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CRemarkDlg::OnOK);
  connect(m.Find<QPushButton>(editors::kIdCancel), &QPushButton::clicked, this, &QDialog::reject);
}

void CRemarkDlg::OnInitDialog() {
  text_->setText(Q(m_strRemark));
  {
    const QSignalBlocker block(size_);
    size_->setRange(1, 50);
  }
  size_->setValue(m_nRemarkSize - 19);
  color_->SetColor(m_clrRemark);
  text_->setEnabled(m_nRemarkKind == MK_TEXT || m_nRemarkKind == MK_NONE);
  LoadDlgItemTexts(this);
}

int CRemarkDlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CRemarkDlg::OnOK() {
  m_strRemark = W(text_->text());
  m_clrRemark = color_->Color();
  m_nRemarkSize = size_->value() + 19;
  done(QDialog::Accepted);
}
