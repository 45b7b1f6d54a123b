#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTreeWidget>

#include "ui/DlgTexts.h"

namespace ui {

namespace {

QWidget* Make(const CtrlDef& d, QWidget* parent) {
  const QString text = d.text ? QString::fromUtf16(d.text) : QString();
  switch (d.kind) {
    case Ctl::Label: return new QLabel(text, parent);
    case Ctl::Button: return new QPushButton(text, parent);
    case Ctl::Check: return new QCheckBox(text, parent);
    case Ctl::Radio: {
      auto* r = new QRadioButton(text, parent);
      r->setAutoExclusive(false);  // groups are kept by their owners, as the dialogs do
      return r;
    }
    case Ctl::Edit: return new QLineEdit(text, parent);
    case Ctl::Spin: return new QSpinBox(parent);
    case Ctl::Slider: return new QSlider(Qt::Horizontal, parent);
    case Ctl::Combo: return new QComboBox(parent);
    case Ctl::ComboEdit: {
      auto* c = new QComboBox(parent);
      c->setEditable(true);
      c->setInsertPolicy(QComboBox::NoInsert);
      return c;
    }
    case Ctl::List: return new QListWidget(parent);
    case Ctl::Group: return new QGroupBox(text, parent);
    case Ctl::Picture: {
      auto* w = new QWidget(parent);
      w->setMinimumSize(64, 64);
      return w;
    }
    case Ctl::Tree: return new QTreeWidget(parent);
    case Ctl::Tab: return new QTabBar(parent);
  }
  return new QWidget(parent);
}

QGridLayout* GridOf(QWidget* w) {
  if (auto* g = qobject_cast<QGridLayout*>(w->layout())) return g;
  if (w->layout()) return nullptr;
  auto* g = new QGridLayout(w);
  g->setContentsMargins(6, 6, 6, 6);
  g->setHorizontalSpacing(6);
  g->setVerticalSpacing(4);
  return g;
}

}  // namespace

CtrlMap BuildControls(QWidget* host, const std::vector<CtrlDef>& table) {
  CtrlMap map;
  struct Cursor {
    int row = -1;
    int col = 0;
  };
  QHash<QWidget*, Cursor> cursors;
  for (const CtrlDef& d : table) {
    QWidget* parent = d.parent ? map.Get(d.parent) : host;
    if (!parent) parent = host;
    QWidget* w = Make(d, parent);
    SetCtrlId(w, d.id);
    if (d.id != -1) map.Add(d.id, w);
    if (QGridLayout* grid = GridOf(parent)) {
      Cursor& c = cursors[parent];
      if (d.col == 0 || c.row < 0) {
        ++c.row;
        c.col = 0;
      }
      const int col = d.col > 0 ? d.col : 0;
      grid->addWidget(w, c.row, col, 1, d.span);
      c.col = col + d.span;
    }
  }
  return map;
}

QWidget* FindCtrl(const QWidget* root, int id) {
  if (!root) return nullptr;
  const auto all = root->findChildren<QWidget*>();
  for (QWidget* w : all)
    if (CtrlId(w) == id) return w;
  return nullptr;
}

void SetReadout(QLineEdit* edit, bool readOnly) {
  if (!edit) return;
  edit->setReadOnly(readOnly);
  edit->setFocusPolicy(readOnly ? Qt::NoFocus : Qt::StrongFocus);
  if (readOnly && edit->hasFocus()) edit->clearFocus();
  if (!readOnly) {
    edit->setPalette(QPalette());  // the inherited colours again
    return;
  }
  QPalette pal = edit->palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    pal.setBrush(g, QPalette::Base, pal.brush(g, QPalette::Window));
  edit->setPalette(pal);
}

void SetCtrlId(QWidget* w, int id) {
  if (w) w->setProperty(kCtrlIdProperty, id);
}

int CtrlId(const QWidget* w) {
  if (!w) return 0;
  const QVariant v = w->property(kCtrlIdProperty);
  bool ok = false;
  const int id = v.toInt(&ok);
  return ok ? id : 0;
}

}  // namespace ui
