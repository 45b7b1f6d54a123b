#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "platform/strings.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const bool english = GetUiLanguage() == UiLanguage::English;
  setWindowTitle(english ? "About Q7V-MS" : QString::fromUtf16(u"关于 Q7V-MS"));
  auto* lay = new QVBoxLayout(this);
  auto* name = new QLabel(english ? "Q7V Measuring Software" : QString::fromUtf16(u"Q7V 测量软件"), this);
  QFont f = name->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.3);
  name->setFont(f);
  lay->addWidget(name);
  auto* version = new QLabel(this);
  ui::SetCtrlId(version, kVersion);
  version->setText("V1.15.7.106");
  lay->addWidget(version);
  lay->addWidget(new QLabel(english ? "Copyright (C) 2026" : QString::fromUtf16(u"版权所有 (C) 2026"), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  ui::SetCtrlId(buttons->button(QDialogButtonBox::Ok), 1);
  buttons->button(QDialogButtonBox::Ok)->setText(QString::fromStdU16String(LoadStringW(sid::kOk)));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  lay->addWidget(buttons);
}

void CAboutDlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  const QRect work = s->availableGeometry();
  move(work.width() / 2 - width() / 2, work.height() / 2 - height() / 2);
  raise();
}

QStringList RunFileDialogEx(QWidget* parent, bool open, bool multi, const QString& filter, const QString& defExt,
                            const QString& folder) {
  // "Name(*.ext)|*.ext||" becomes Qt's "Name(*.ext)".
  QString qtFilter = filter.section('|', 0, 0);
  QFileDialog dlg(parent, QString(), folder);
  dlg.setNameFilter(qtFilter);
  dlg.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dlg.setFileMode(open ? (multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile) : QFileDialog::AnyFile);
  if (!defExt.isEmpty()) dlg.setDefaultSuffix(defExt.startsWith('.') ? defExt.mid(1) : defExt);
  if (!open) dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect work = s->availableGeometry();
    dlg.move(work.width() / 2 - 300, work.height() / 2 - 300);
  }
  if (dlg.exec() != QDialog::Accepted) return {};
  return dlg.selectedFiles();
}
