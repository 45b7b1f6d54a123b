#include "editors/ContrastDlg.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "editors/EditorText.h"

using editors::Q;
using editors::W;
using ui::Ctl;

namespace {
constexpr int kGroup = -1;
}  // namespace

CContrastDlgBase::CContrastDlgBase(QWidget* parent, int checkId, int sizeId, int sizeLabelId, int captionId,
                                   bool angle)
    : QDialog(parent), sizeId_(sizeId), captionId_(captionId), angle_(angle) {
  std::vector<ui::CtrlDef> table = {
      {checkId, Ctl::Check, 0, 0, 2},
      {kFieldsGroup, Ctl::Group, 0, 0, 2},
  };
  if (angle) {
    table.push_back({kLabelAngle, Ctl::Label, kFieldsGroup});
    table.push_back({kAngle, Ctl::Edit, kFieldsGroup, 1});
  }
  table.push_back({sizeLabelId, Ctl::Label, kFieldsGroup});
  table.push_back({sizeId, Ctl::Edit, kFieldsGroup, 1});
  table.push_back({kLabelOriginX, Ctl::Label, kFieldsGroup});
  table.push_back({kOriginX, Ctl::Edit, kFieldsGroup, 1});
  table.push_back({kLabelOriginY, Ctl::Label, kFieldsGroup});
  table.push_back({kOriginY, Ctl::Edit, kFieldsGroup, 1});
  table.push_back({editors::kIdOk, Ctl::Button});
  table.push_back({editors::kIdCancel, Ctl::Button, 0, 1});
  const ui::CtrlMap m = ui::BuildControls(this, table);
  ui::SetCtrlId(m.Get(kFieldsGroup), kGroup);  // a frame without a caption
  check_ = m.Find<QCheckBox>(checkId);
  auto* ok = m.Find<QPushButton>(editors::kIdOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(m.Find<QPushButton>(editors::kIdCancel), &QPushButton::clicked, this, &QDialog::reject);
}

QLineEdit* CContrastDlgBase::Edit(int id) const { return ui::FindCtrl<QLineEdit>(this, id); }

void CContrastDlgBase::OnInitDialog() {
  if (const QScreen* s = QGuiApplication::primaryScreen())
    move(s->geometry().width() / 2, s->geometry().height() / 4);
  m_nShowCheck = m_bShow;
  check_->setChecked(m_nShowCheck != 0);
  if (angle_) Edit(kAngle)->setText(Q(FormatW(u"%.3f", AngleMember())));
  Edit(sizeId_)->setText(Q(FormatW(u"%.3f", SizeMember())));
  Edit(kOriginX)->setText(Q(FormatW(u"%d", m_nOriginX)));
  Edit(kOriginY)->setText(Q(FormatW(u"%d", m_nOriginY)));
  setWindowTitle(editors::Str(std::uint32_t(captionId_)));

  // Nothing set yet: defaults from the current camera's image (without a camera the zeros stay).
  const bool zero = AngleMember() == 0.0 && SizeMember() == 0.0 && m_nOriginX == 0 && m_nOriginY == 0;
  CCameraProcess* cam = AppHost().Camera();
  int w = 0, h = 0;
  if (zero && cam && cam->GetImageSize(cam->GetCurCameraItem(), &w, &h) == CAMSDK_STATUS_OK && w > 0 && h > 0) {
    if (angle_) Edit(kAngle)->setText(QStringLiteral("30.000"));
    Edit(sizeId_)->setText(Q(FormatW(u"%.3f", DefaultSize(std::min(w, h)))));
    Edit(kOriginX)->setText(Q(FormatW(u"%d", w / 2)));
    Edit(kOriginY)->setText(Q(FormatW(u"%d", h / 2)));
  }
  LoadDlgItemTexts(this);
}

int CContrastDlgBase::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CContrastDlgBase::ReadCommon() {
  m_nShowCheck = check_->isChecked() ? 1 : 0;
  m_bShow = m_nShowCheck;
  m_nOriginX = editors::WToI(W(Edit(kOriginX)->text()));
  m_nOriginY = editors::WToI(W(Edit(kOriginY)->text()));
}

CRemarkAngleDlg::CRemarkAngleDlg(QWidget* parent)
    : CContrastDlgBase(parent, kCheck, kLength, kLabelLength, 21, true) {}

void CRemarkAngleDlg::OnOK() {
  ReadCommon();
  m_dAngle = editors::WToF(W(Edit(kAngle)->text()));
  m_dLength = editors::WToF(W(Edit(kLength)->text()));
  done(QDialog::Accepted);
}

CRemarkRoundDlg::CRemarkRoundDlg(QWidget* parent)
    : CContrastDlgBase(parent, kCheck, kRadius, kLabelRadius, 22, false) {}

void CRemarkRoundDlg::OnOK() {
  ReadCommon();
  m_dRadius = double(editors::WToI(W(Edit(kRadius)->text())));
  done(QDialog::Accepted);
}
