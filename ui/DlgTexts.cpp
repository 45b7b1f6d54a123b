#include "ui/DlgTexts.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVariant>
#include <QWidget>

#include "platform/strings.h"

namespace {

bool IsEditField(const QWidget* w) {
  return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
         qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

void SetCaption(QWidget* w, const QString& text) {
  if (auto* b = qobject_cast<QAbstractButton*>(w))
    b->setText(text);
  else if (auto* l = qobject_cast<QLabel*>(w))
    l->setText(text);
  else if (auto* g = qobject_cast<QGroupBox*>(w))
    g->setTitle(text);
  else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->isEditable()) c->setEditText(text);  // a drop-down's window text is its edit text
  } else
    w->setWindowTitle(text);
}

void Walk(QWidget* parent) {
  for (QObject* child : parent->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w->isWindow()) continue;
    if (IsEditField(w)) continue;  // neither relabelled nor looked into
    const QVariant id = w->property(kCtrlIdProperty);
    bool ok = false;
    const int ctrlId = id.isValid() ? id.toInt(&ok) : 0;
    if (ok && !(ctrlId >= 1320 && ctrlId <= 1338))  // an id without a string (-1 too) blanks it
      SetCaption(w, QString::fromStdU16String(LoadStringW(std::uint32_t(ctrlId))));
    Walk(w);
  }
}

}  // namespace

void LoadDlgItemTexts(QWidget* dialog) {
  if (dialog) Walk(dialog);
}
