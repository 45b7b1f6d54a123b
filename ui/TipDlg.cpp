#include "ui/TipDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "ui/DlgTexts.h"
#include "platform/strings.h"

CTipDlg::CTipDlg(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  ui::SetCtrlId(this, kDialog);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(this);
  ui::SetCtrlId(text, kText);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  ui::SetCtrlId(ok, ui::kIdOk);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  ui::SetCtrlId(cancel, ui::kIdCancel);
  layout->addWidget(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  LoadDlgItemTexts(this);
  setWindowTitle(QString::fromStdU16String(LoadStringW(sid::kPrompt)));
  setModal(false);
}

// Centred over the camera pane, wherever that pane stands on the screen.
void CTipDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const QRect pane = AppHost().CameraPaneRect();
  if (pane.isNull()) return;
  const QRect box = frameGeometry();
  move(pane.left() + (pane.width() - box.width()) / 2, pane.top() + (pane.height() - box.height()) / 2);
}
