#include "editors/LayerTree.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "ui/DlgTexts.h"
#include "editors/ColorFontPage.h"
#include "editors/EditorText.h"
#include "measure/MeasureManager.h"

using editors::Q;
using ui::Ctl;

namespace {

// Kinds whose shape can be filled, when a measurement is selected in the tree.
bool FillableOnSelect(int kind) {
  return kind == MK_RECT || kind == MK_ROUNDRECT || kind == MK_ELLIPSE || kind == MK_CIRCLE2 ||
         kind == MK_CIRCLE3 || kind == MK_POLYGON;
}
// ... and when the engine reports a finished shape.
bool FillableOnFinish(int kind) { return kind == MK_RECT || kind == MK_ROUNDRECT || kind == MK_ELLIPSE; }

bool SameRecord(const MEASUREBASE& a, const MEASUREBASE& b) {
  return a.Serialize() == b.Serialize() && a.m_arrPoint == b.m_arrPoint;
}

QString ResultText(const char16_t* text) { return Q(WStringView(text, BufferLength(text, kResultTextLen))); }

}  // namespace

CLayerCtrlDlg::CLayerCtrlDlg(QWidget* parent) : QWidget(parent) {
  const ui::CtrlMap m = ui::BuildControls(this, {
                                                    {kTree, Ctl::Tree, 0, 0, 4},
                                                    {kVisible, Ctl::Check},
                                                    {kLock, Ctl::Check, 0, 1},
                                                    {kDown, Ctl::Button},
                                                    {kUp, Ctl::Button, 0, 1},
                                                    {kCopy, Ctl::Button, 0, 2},
                                                    {kDelete, Ctl::Button, 0, 3},
                                                });
  tree_ = m.Find<QTreeWidget>(kTree);
  visible_ = m.Find<QCheckBox>(kVisible);
  lock_ = m.Find<QCheckBox>(kLock);
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  LoadDlgItemTexts(this);
  root_ = new QTreeWidgetItem(tree_, QStringList{editors::Str(sid::kMeasureTitle)});

  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { OnTvnSelchangedLayerTree(); });
  connect(visible_, &QCheckBox::clicked, this, &CLayerCtrlDlg::OnBnClickedVisible);
  connect(lock_, &QCheckBox::clicked, this, &CLayerCtrlDlg::OnBnClickedLock);
  connect(m.Find<QPushButton>(kDown), &QPushButton::clicked, this, &CLayerCtrlDlg::OnBnClickedDown);
  connect(m.Find<QPushButton>(kUp), &QPushButton::clicked, this, &CLayerCtrlDlg::OnBnClickedUp);
  connect(m.Find<QPushButton>(kCopy), &QPushButton::clicked, this, &CLayerCtrlDlg::OnBnClickedCopy);
  connect(m.Find<QPushButton>(kDelete), &QPushButton::clicked, this, &CLayerCtrlDlg::DeleteSelectedLayer);
  UpdateRowBoxes();
}

int CLayerCtrlDlg::SelectedIndex() const {
  QTreeWidgetItem* cur = tree_->currentItem();
  if (!cur || cur->parent() != root_) return -1;
  return root_->indexOfChild(cur);
}

void CLayerCtrlDlg::Select(QTreeWidgetItem* item) {
  if (tree_->currentItem() == item) return;  // no change, no notification
  {
    const QSignalBlocker block(tree_);
    tree_->setCurrentItem(item);
  }
  OnTvnSelchangedLayerTree();
}

void CLayerCtrlDlg::SelectIndex(int index) {
  QTreeWidgetItem* item = index < 0 ? root_ : root_->child(index);
  if (item) Select(item);
}

void CLayerCtrlDlg::ShowRecord(const MEASUREBASE& rec, bool fillAllowed) {
  visible_->setChecked(rec.m_bVisible);
  lock_->setChecked(rec.m_bLocked);
  if (colorFont_) colorFont_->LoadStyle(rec, fillAllowed);
}

// The boxes belong to a measurement's row and show its flags: without one (the root, a result
// text, nothing) they show nothing and take nothing. True when a row is selected.
bool CLayerCtrlDlg::UpdateRowBoxes() {
  const int index = SelectedIndex();
  CMeasureManager* mm = AppHost().Measure();
  const MEASUREBASE* rec = mm && index >= 0 && index < mm->GetMeasureCount() ? mm->GetMeasure(index) : nullptr;
  visible_->setEnabled(rec != nullptr);
  lock_->setEnabled(rec != nullptr);
  visible_->setChecked(rec && rec->m_bVisible);
  lock_->setChecked(rec && rec->m_bLocked);
  return rec != nullptr;
}

void CLayerCtrlDlg::OnTvnSelchangedLayerTree() {
  const int index = SelectedIndex();
  CMeasureManager* mm = AppHost().Measure();
  if (!UpdateRowBoxes()) return;
  MEASUREBASE rec;
  mm->SelectMeasure(index, &rec);
  ShowRecord(rec, FillableOnSelect(rec.m_nKind));
}

void CLayerCtrlDlg::OnBnClickedVisible() {
  const int index = SelectedIndex();
  if (CMeasureManager* mm = AppHost().Measure(); mm && index >= 0)
    mm->SetMeasureVisible(index, visible_->isChecked() ? 1 : 0);
}

void CLayerCtrlDlg::OnBnClickedLock() {
  const int index = SelectedIndex();
  if (CMeasureManager* mm = AppHost().Measure(); mm && index >= 0)
    mm->SetMeasureLocked(index, lock_->isChecked() ? 1 : 0);
}

void CLayerCtrlDlg::MoveSelected(int step) {
  const int n = SelectedIndex();
  CMeasureManager* mm = AppHost().Measure();
  if (n < 0 || !mm) return;
  QTreeWidgetItem* item = root_->child(n);
  QTreeWidgetItem* other = root_->child(n + step);
  if (!item || !other) return;
  const MEASUREBASE* moving = mm->GetMeasure(n);
  if (!moving) return;
  const MEASUREBASE before = *moving;
  // The engine moves first (it refuses while the last slot is being drawn); then the tree
  // follows, and the selection lands on the moved record so its style is what the pages show.
  mm->MoveMeasure(n, n + step);
  const MEASUREBASE* moved = mm->GetMeasure(n + step);
  if (!moved || !SameRecord(*moved, before)) return;
  const QString label = item->text(0);
  item->setText(0, other->text(0));
  other->setText(0, label);
  // Children move whole, so an item without a result text swaps cleanly too.
  const QList<QTreeWidgetItem*> a = item->takeChildren();
  const QList<QTreeWidgetItem*> b = other->takeChildren();
  item->addChildren(b);
  other->addChildren(a);
  const bool aOpen = item->isExpanded();
  item->setExpanded(other->isExpanded());
  other->setExpanded(aOpen);
  Select(other);
}

void CLayerCtrlDlg::OnBnClickedDown() { MoveSelected(-1); }
void CLayerCtrlDlg::OnBnClickedUp() { MoveSelected(+1); }

void CLayerCtrlDlg::OnBnClickedCopy() {
  const int n = SelectedIndex();
  CMeasureManager* mm = AppHost().Measure();
  if (n >= 0 && mm) {
    const int count = mm->GetMeasureCount();
    WString text;
    mm->CopyMeasure(n, &text);
    if (mm->GetMeasureCount() == count + 1) {  // the engine may refuse (full, or drawing)
      QTreeWidgetItem* src = root_->child(n);
      auto* item = new QTreeWidgetItem(QStringList{src->text(0)});
      root_->insertChild(n + 1, item);
      new QTreeWidgetItem(item, QStringList{Q(text)});
      item->setExpanded(true);
    }
  }
  AppHost().RedrawView();
}

void CLayerCtrlDlg::DeleteSelectedLayer() {
  const int n = SelectedIndex();
  CMeasureManager* mm = AppHost().Measure();
  if (n >= 0 && mm && mm->DeleteMeasure(n)) {
    {
      const QSignalBlocker block(tree_);
      delete root_->child(n);
      tree_->setCurrentItem(nullptr);
    }
    // The selection moves on to the next item (which now holds index n), else the previous.
    QTreeWidgetItem* next = root_->child(n);
    if (!next && n > 0) next = root_->child(n - 1);
    Select(next ? next : root_);
  }
  AppHost().RedrawView();
}

void CLayerCtrlDlg::DeleteAllLayers() {
  CMeasureManager* mm = AppHost().Measure();
  if (!mm) return;
  if (QTreeWidgetItem* first = root_->child(0)) Select(first);
  const int count = mm->GetMeasureCount();
  for (int k = 0; k < count; ++k) DeleteSelectedLayer();
}

void CLayerCtrlDlg::ClearLayers() {
  {
    const QSignalBlocker block(tree_);
    qDeleteAll(root_->takeChildren());
    tree_->setCurrentItem(root_);
  }
  UpdateRowBoxes();
  AppHost().ResetViewTools();
  if (CMeasureManager* mm = AppHost().Measure()) mm->SetDividingRule(0, 0, 100, RECT{}, 255, 255);
}

void CLayerCtrlDlg::NudgeSelectedLayer(int direction) {
  CMeasureManager* mm = AppHost().Measure();
  if (!mm) return;
  const int n = SelectedIndex();
  if (n >= 0) mm->NudgeSelection(n, direction);
  mm->NudgeSelection(-1, direction);  // the current remark, if any
}

void CLayerCtrlDlg::SetResultChild(QTreeWidgetItem* item, const char16_t* text) {
  qDeleteAll(item->takeChildren());
  new QTreeWidgetItem(item, QStringList{ResultText(text)});
  item->setExpanded(true);
}

void CLayerCtrlDlg::RebuildLayers() {
  {
    const QSignalBlocker block(tree_);
    qDeleteAll(root_->takeChildren());
    tree_->setCurrentItem(root_);
  }
  CMeasureManager* mm = AppHost().Measure();
  const int count = mm ? mm->GetMeasureCount() : 0;
  for (int i = 0; i < count; ++i) {
    const MEASUREBASE* rec = mm->GetMeasure(i);
    if (!rec) break;
    auto* item = new QTreeWidgetItem(root_, QStringList{Q(editors::KindLabel(rec->m_nKind))});
    if (rec->m_szResult[0]) SetResultChild(item, rec->m_szResult);
  }
  root_->setExpanded(true);
  UpdateRowBoxes();
}

void CLayerCtrlDlg::OnMeasureNotify(int index, const MEASUREBASE& rec, int action) {
  switch (action) {
    case 1:
      new QTreeWidgetItem(root_, QStringList{Q(editors::KindLabel(rec.m_nKind))});
      root_->setExpanded(true);
      break;
    case 2:
      if (QTreeWidgetItem* item = index >= 0 ? root_->child(index) : nullptr) {
        SetResultChild(item, rec.m_szResult);
        Select(item);
        ShowRecord(rec, FillableOnFinish(rec.m_nKind));
      }
      break;
    case 3:
      // The item of the abandoned shape is the one at its slot (a collapsed tree must not
      // lose its root to "the last visible item").
      if (index >= 0 && index < root_->childCount()) {
        const bool wasCurrent = tree_->currentItem() == root_->child(index);
        const QSignalBlocker block(tree_);
        delete root_->child(index);
        if (wasCurrent) tree_->setCurrentItem(root_);
      }
      UpdateRowBoxes();
      break;
    case 4:
      Select(root_);
      break;
    case kNotifyTextChanged:
      // Only the text: the selection, the expansion and the style pages stay as they are.
      if (QTreeWidgetItem* item = index >= 0 ? root_->child(index) : nullptr) {
        if (QTreeWidgetItem* text = item->child(0)) {
          text->setText(0, ResultText(rec.m_szResult));
        } else if (rec.m_szResult[0]) {
          SetResultChild(item, rec.m_szResult);
        }
      }
      break;
    default:
      break;
  }
  tree_->update();
}
