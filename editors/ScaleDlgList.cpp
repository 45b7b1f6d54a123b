// The scale dialog's list of stored scales and its writes to the store: load, select, save,
// delete, and OK.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <cmath>
#include <optional>

#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "editors/EditorText.h"
#include "editors/Prompt.h"
#include "editors/ScaleDlg.h"
#include "editors/ScaleStore.h"
#include "platform/strings.h"

using editors::Q;
using editors::Str;
using editors::W;

namespace {

constexpr std::uint32_t kMsgNoCamera = 62011, kMsgBadName = 62012, kMsgNotSaved = 62013, kMsgNotDeleted = 62014;

// The unit of a list row: column 2 up to its first "/" (empty without one).
WString RowUnit(const QTreeWidgetItem* row) {
  const QString remark = row->text(2);
  const qsizetype slash = remark.indexOf(u'/');
  return slash < 0 ? WString() : W(remark.left(slash));
}

QTreeWidgetItem* MakeRow(const QString& name, const QString& size, const QString& remark) {
  auto* row = new QTreeWidgetItem(QStringList{name, size, remark});
  row->setTextAlignment(0, Qt::AlignCenter);
  row->setTextAlignment(1, Qt::AlignCenter);
  row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  return row;
}

}  // namespace

QTreeWidgetItem* CScale2Dlg::SelectedRow() const {
  const QList<QTreeWidgetItem*> sel = list_->selectedItems();
  return sel.isEmpty() ? nullptr : sel.front();
}

bool CScale2Dlg::RequireCamera() {
  if (!cameraName_.empty()) return true;
  Message(kMsgNoCamera);
  return false;
}

void CScale2Dlg::LoadScaleList(WStringView cameraName) {
  list_->clear();
  for (const scalestore::ScaleEntry& e : scalestore::ReadScaleList(cameraName))
    list_->addTopLevelItem(MakeRow(Q(e.name), Q(e.size), Q(e.unit) + u'/' + Str(sid::kPixelUnit)));
  cameraName_ = WString(cameraName);
  OnLvnItemchangedScaleList();
}

void CScale2Dlg::LoadSelectedScale() {
  const std::optional<WString> selected = scalestore::ReadSelectedScale();
  if (!selected) return;
  // The store's names ignore case, so the row is found the same way.
  const QString name = Q(*selected);
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(i);
    if (row->text(0).compare(name, Qt::CaseInsensitive) != 0) continue;
    row->setSelected(true);
    if (const std::optional<float> f = ReadFactor(W(row->text(1)))) factor_ = *f;
    unit_ = RowUnit(row);
    return;
  }
}

void CScale2Dlg::OnLvnItemchangedScaleList() {
  QTreeWidgetItem* row = SelectedRow();
  deleteButton_->setEnabled(row != nullptr);
  if (!row) return;
  // A row whose factor is unusable changes nothing here; OK refuses it.
  const std::optional<float> f = ReadFactor(W(row->text(1)));
  if (!f) return;
  factor_ = *f;
  unit_ = RowUnit(row);
  if (!keepBarLength_) bar_.SetLengthText(Q(FormatW(u"%.3f", double(factor_) * 100.0)));
  bar_.ShowUnit(unit_);
}

void CScale2Dlg::OnBnClickedSave() {
  const QString pixel = EditCtrl(kPixel)->text();
  const QString name = EditCtrl(kName)->text();
  const QString actual = EditCtrl(kActual)->text();
  const QString unit = unitCombo_->currentText();
  if (pixel.isEmpty() || name.isEmpty() || actual.isEmpty() || unit.isEmpty()) {
    Message(60001);
    return;
  }
  if (!RequireCamera()) return;
  if (!scalestore::IsValidKeyName(W(name))) {
    Message(kMsgBadName);
    return;
  }
  // A pixel length of 0 (or "Can't Find!", read as 0) has no factor, nor has a quotient that
  // is 0 as a float.
  float factor = 0.0f;
  if (!MeasuredScale(&factor, nullptr)) {
    Message(60001);
    return;
  }
  // Stored so that it reads back to the very factor ("%.4f" cut 0.00625 to 0.0062).
  const QString size = Q(FactorText(factor));
  const QString remark = Q(FormatW(u"%s/%s", W(unit), LoadStringW(sid::kPixel)));

  // One key per name whatever its case: an existing row of that name is overwritten.
  QTreeWidgetItem* existing = nullptr;
  for (int i = 0; i < list_->topLevelItemCount() && !existing; ++i)
    if (list_->topLevelItem(i)->text(0).compare(name, Qt::CaseInsensitive) == 0) existing = list_->topLevelItem(i);
  if (existing && editors::Prompt(this, Str(sid::kNameScaleExistedIfCoverage), QString(), QString(), true) != editors::kAnswerYes) return;

  RefreshBlockFromControls();
  const QString keyName = existing ? existing->text(0) : name;
  if (scalestore::WriteScale(cameraName_, W(keyName), W(pixel), W(size), W(unit), block_) != ERROR_SUCCESS) {
    Message(kMsgNotSaved);
    return;
  }
  if (existing) {
    existing->setText(1, size);
    existing->setText(2, remark);
    keepBarLength_ = true;
    list_->clearSelection();
    existing->setSelected(true);
    keepBarLength_ = false;
  } else {
    list_->addTopLevelItem(MakeRow(name, size, remark));
  }
}

void CScale2Dlg::OnBnClickedDelete() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  if (scalestore::DeleteScale(cameraName_, W(row->text(0))) != ERROR_SUCCESS) {
    Message(kMsgNotDeleted);  // the row stays: the scale is still stored
    return;
  }
  delete row;
}

bool CScale2Dlg::MeasuredScale(float* factor, WString* unit) const {
  const double quotient = editors::WToF(W(EditCtrl(kActual)->text())) / editors::WToF(W(EditCtrl(kPixel)->text()));
  const auto f = float(quotient);
  if (!std::isfinite(f) || !(f > 0.0f)) return false;
  if (factor) *factor = f;
  if (unit) *unit = W(unitCombo_->currentText());
  return true;
}

void CScale2Dlg::OnOK() {
  if (cameraName_.empty()) {
    // No camera to store a scale for (a still image opened from a file): the measured line is
    // the scale, applied to the engine without a name; without one, pixels.
    if (!MeasuredScale(&factor_, &unit_)) {
      factor_ = 1.0f;
      unit_ = u"px";
    }
    RefreshBlockFromControls();
    done(QDialog::Accepted);
    return;
  }
  WString name;
  float measured = 0.0f;
  WString measuredUnit;
  if (QTreeWidgetItem* row = SelectedRow()) {
    const std::optional<float> f = ReadFactor(W(row->text(1)));
    if (!f) {
      Message(62016);  // a stored factor of 0 would turn every length into 0
      return;
    }
    factor_ = *f;
    unit_ = RowUnit(row);
    name = W(row->text(0));
  } else if (MeasuredScale(&measured, &measuredUnit)) {
    // No stored scale chosen, but a line measured and its length given: that scale, unnamed.
    factor_ = measured;
    unit_ = measuredUnit;
  } else if (list_->topLevelItemCount() > 0) {
    factor_ = 1.0f;
    unit_ = u"px";
    if (editors::Prompt(this, Str(sid::kNoExistScaleSpecifiedWill), Str(sid::kWarning), Str(sid::kWarning), true) != editors::kAnswerYes) return;
  } else {
    factor_ = 1.0f;
    unit_ = u"px";
    block_.enable = 0;
  }
  // The bar block follows the controls whether or not the store takes it.
  RefreshBlockFromControls();
  const bool stored = scalestore::WriteSelectedScale(name) == ERROR_SUCCESS &&
                      scalestore::WriteDisplay(cameraName_, name, block_) == ERROR_SUCCESS;
  if (!stored) Message(kMsgNotSaved);
  done(QDialog::Accepted);
}

void CScale2Dlg::OnNMDblclkScaleList() {
  if (!SelectedRow() && list_->topLevelItemCount() > 0) return;
  OnOK();
}
