#include "options/ColorMatrixPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <bit>
#include <cstring>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/CameraAnswer.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "options/OptionsCommon.h"
#include "platform/camsdk/camsdk.h"
#include "platform/profile.h"
#include "platform/strings.h"

using namespace options;
using ui::Ctl;

namespace {

static_assert(std::endian::native == std::endian::little, "the file holds the floats little-endian");
static_assert(sizeof(ColorMatrix) == 36);

constexpr char16_t kSection[] = u"Color Matrix";
constexpr const char16_t* kUserNames[3] = {u"User1", u"User2", u"User3"};
constexpr char16_t kIniFilter[] = u"Ini File(*.ini)|*.ini||";
constexpr ColorMatrix kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

// The current camera's library handle, -1 when there is none.
int CurrentHandle() {
  CCameraProcess* camera = AppHost().Camera();
  if (!camera) return -1;
  stCameraItem item;
  return camera->GetCurCameraItem(&item) >= 0 ? item.handle : -1;
}

// The equation: R' G' B' = [ nine edits ] x R G B. Its statics keep these texts.
constexpr int kEq = CAdOptDlg::IDC_MATRIX_GROUP;
const std::vector<ui::CtrlDef> kEquation = {
    {CAdOptDlg::IDC_OUT_R, Ctl::Label, kEq, 0, 1, u"R\u2019"},
    {CAdOptDlg::IDC_MATRIX_EDIT0, Ctl::Edit, kEq, 3},
    {CAdOptDlg::IDC_MATRIX_EDIT1, Ctl::Edit, kEq, 4},
    {CAdOptDlg::IDC_MATRIX_EDIT2, Ctl::Edit, kEq, 5},
    {CAdOptDlg::IDC_IN_R, Ctl::Label, kEq, 8, 1, u"R"},
    {CAdOptDlg::IDC_OUT_G, Ctl::Label, kEq, 0, 1, u"G\u2019"},
    {CAdOptDlg::IDC_EQUALS, Ctl::Label, kEq, 1, 1, u"="},
    {CAdOptDlg::IDC_BRACKET_OPEN, Ctl::Label, kEq, 2, 1, u"["},
    {CAdOptDlg::IDC_MATRIX_EDIT3, Ctl::Edit, kEq, 3},
    {CAdOptDlg::IDC_MATRIX_EDIT4, Ctl::Edit, kEq, 4},
    {CAdOptDlg::IDC_MATRIX_EDIT5, Ctl::Edit, kEq, 5},
    {CAdOptDlg::IDC_BRACKET_CLOSE, Ctl::Label, kEq, 6, 1, u"]"},
    {CAdOptDlg::IDC_TIMES, Ctl::Label, kEq, 7, 1, u"\u00D7"},
    {CAdOptDlg::IDC_IN_G, Ctl::Label, kEq, 8, 1, u"G"},
    {CAdOptDlg::IDC_OUT_B, Ctl::Label, kEq, 0, 1, u"B\u2019"},
    {CAdOptDlg::IDC_MATRIX_EDIT6, Ctl::Edit, kEq, 3},
    {CAdOptDlg::IDC_MATRIX_EDIT7, Ctl::Edit, kEq, 4},
    {CAdOptDlg::IDC_MATRIX_EDIT8, Ctl::Edit, kEq, 5},
    {CAdOptDlg::IDC_IN_B, Ctl::Label, kEq, 8, 1, u"B"},
};

}  // namespace

bool SaveColorMatrixFile(const std::filesystem::path& file, const UserMatrices& users) {
  CProfileFile profile(file);
  for (int i = 0; i < 3; ++i) {
    std::uint8_t bytes[36];
    std::memcpy(bytes, users[std::size_t(i)].data(), sizeof bytes);
    profile.WriteStruct(kSection, kUserNames[i], bytes);
  }
  return profile.Save();
}

int LoadColorMatrixFile(const std::filesystem::path& file, UserMatrices& users) {
  const CProfileFile profile(file);
  int read = 0;
  for (int i = 0; i < 3; ++i) {
    std::uint8_t bytes[36];
    if (!profile.GetStruct(kSection, kUserNames[i], bytes)) continue;
    std::memcpy(users[std::size_t(i)].data(), bytes, sizeof bytes);
    ++read;
  }
  return read;
}

CAdOptDlg::CAdOptDlg(QWidget* parent) : QWidget(parent) {
  users_.fill(kIdentity);
  std::vector<ui::CtrlDef> table = {
      {IDC_MATRIX_LABEL, Ctl::Label},
      {IDC_MATRIX_LIST, Ctl::Combo, 0, 1, 2},
      {IDC_MATRIX_APPLY, Ctl::Button, 0, 3},
      {IDC_MATRIX_ROLLBACK, Ctl::Button, 0, 4},
      {IDC_MATRIX_SAVE, Ctl::Button, 0, 5},
      {IDC_MATRIX_LOAD, Ctl::Button, 0, 6},
      {IDC_MATRIX_GROUP, Ctl::Group, 0, 0, 7},
  };
  table.insert(table.end(), kEquation.begin(), kEquation.end());
  ctrls_ = ui::BuildControls(this, table);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(2, 1);
  // The brackets stand over all three rows of coefficients.
  if (auto* eq = qobject_cast<QGridLayout*>(ctrls_.Get(IDC_MATRIX_GROUP)->layout())) {
    for (int id : {IDC_EQUALS, IDC_BRACKET_OPEN, IDC_BRACKET_CLOSE, IDC_TIMES}) {
      QWidget* w = ctrls_.Get(id);
      int row = 0, col = 0, rows = 0, cols = 0;
      eq->getItemPosition(eq->indexOf(w), &row, &col, &rows, &cols);
      eq->removeWidget(w);
      eq->addWidget(w, 0, col, 3, 1, Qt::AlignCenter);
    }
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 3);
    for (int id : {IDC_BRACKET_OPEN, IDC_BRACKET_CLOSE}) ctrls_.Get(id)->setFont(big);
  }
  for (int i = 0; i < 9; ++i) {
    auto* edit = ctrls_.Find<QLineEdit>(IDC_MATRIX_EDIT0 + i);
    edit->setAlignment(Qt::AlignCenter);
    edit->setMinimumWidth(70);
  }
  NoAutoDefault(this);

  auto* list = ctrls_.Find<QComboBox>(IDC_MATRIX_LIST);
  connect(list, &QComboBox::activated, this, [this] { OnMatrixSelChange(); });
  connect(ctrls_.Find<QPushButton>(IDC_MATRIX_APPLY), &QPushButton::clicked, this, [this] { OnMatrixApply(); });
  connect(ctrls_.Find<QPushButton>(IDC_MATRIX_SAVE), &QPushButton::clicked, this, [this] { OnMatrixSave(); });
  connect(ctrls_.Find<QPushButton>(IDC_MATRIX_ROLLBACK), &QPushButton::clicked, this, [this] { OnMatrixRollback(); });
  connect(ctrls_.Find<QPushButton>(IDC_MATRIX_LOAD), &QPushButton::clicked, this, [this] { OnMatrixLoad(); });

  FillMatrixList();
  LoadDlgItemTexts(this);
}

void CAdOptDlg::FillMatrixList() {
  const int handle = CurrentHandle();
  if (handle < 0) return;  // no camera: the list stays empty, the controls as built

  auto* list = ctrls_.Find<QComboBox>(IDC_MATRIX_LIST);
  // The preset table and the sensor type come from the library: the pointers of the capability
  // block do not fit the 32-bit words the camera object keeps.
  CamSdkCapability cap{};
  const bool haveCap = CameraGetCapability(handle, &cap) == CAMSDK_STATUS_OK;
  const bool mono = haveCap && cap.monoSensor != 0;
  list->setEnabled(!mono);
  EnableEditing(!mono);

  list->clear();
  const int presets = haveCap && cap.colorPresets ? std::max(cap.colorPresetCount, 0) : 0;
  for (int p = 0; p < presets; ++p) {
    const char* name = cap.colorPresets[p].name;
    list->addItem(QString::fromUtf8(name, qsizetype(strnlen(name, sizeof cap.colorPresets[p].name))));
  }
  int sel = -1;
  if (CameraGetRgbMatrixSel(handle, &sel) != CAMSDK_STATUS_OK) sel = -1;  // none shown as in force
  for (const char16_t* name : kUserNames) list->addItem(QStr(name));
  // Only a preset can be in force by number; after a matrix of our own the library reports -1.
  list->setCurrentIndex(sel >= 0 && sel < presets ? sel : -1);
  OnMatrixSelChange();
}

int CAdOptDlg::UserIndexOf(const QString& name) const {
  for (int i = 0; i < 3; ++i)
    if (name == QStr(kUserNames[i])) return i;
  return -1;
}

void CAdOptDlg::EnableEditing(bool on) {
  for (int id : {IDC_MATRIX_APPLY, IDC_MATRIX_SAVE, IDC_MATRIX_ROLLBACK}) ctrls_.Get(id)->setEnabled(on);
  for (int i = 0; i < 9; ++i) ctrls_.Get(IDC_MATRIX_EDIT0 + i)->setEnabled(on);
}

ColorMatrix CAdOptDlg::ReadEdits() const {
  ColorMatrix m;
  for (int i = 0; i < 9; ++i)
    m[std::size_t(i)] = float(ParseDouble(WStr(ctrls_.Find<QLineEdit>(IDC_MATRIX_EDIT0 + i)->text())));
  return m;
}

void CAdOptDlg::ShowMatrix(const ColorMatrix& m) {
  for (int i = 0; i < 9; ++i)
    ctrls_.Find<QLineEdit>(IDC_MATRIX_EDIT0 + i)->setText(QStr(FormatW(u"%.4f", m[std::size_t(i)])));
}

void CAdOptDlg::OnMatrixSelChange() {
  auto* list = ctrls_.Find<QComboBox>(IDC_MATRIX_LIST);
  const int pos = list->currentIndex();
  if (pos < 0) return;
  const int handle = CurrentHandle();
  const int user = UserIndexOf(list->itemText(pos));
  if (user >= 0) {
    EnableEditing(true);
    ShowMatrix(users_[std::size_t(user)]);
    ui::CameraTook(CameraApplyColorMatrix(handle, users_[std::size_t(user)].data()));
  } else {
    // A preset the camera refuses: the list shows the one in force.
    int sel = -1;
    if (!ui::CameraTook(CameraSetRgbMatrixSel(handle, pos)) && CameraGetRgbMatrixSel(handle, &sel) == CAMSDK_STATUS_OK &&
        sel >= 0 && sel < list->count())
      list->setCurrentIndex(sel);
    for (int i = 0; i < 9; ++i) ctrls_.Find<QLineEdit>(IDC_MATRIX_EDIT0 + i)->setText(QStringLiteral("*"));
    EnableEditing(false);
  }
}

void CAdOptDlg::OnMatrixApply() {
  const int user = UserIndexOf(ctrls_.Find<QComboBox>(IDC_MATRIX_LIST)->currentText());
  const ColorMatrix values = ReadEdits();
  if (user >= 0) {
    rollback_ = users_[std::size_t(user)];
    users_[std::size_t(user)] = values;
  }
  ui::CameraTook(CameraApplyColorMatrix(CurrentHandle(), values.data()));
}

void CAdOptDlg::OnMatrixRollback() {
  const ColorMatrix shown = ReadEdits();
  ShowMatrix(rollback_);
  rollback_ = shown;
}

void CAdOptDlg::OnMatrixSave() {
  const auto file = Prompts().PickSaveFile(this, QtFilter(kIniFilter), QStringLiteral("ini"));
  if (!file) return;
  // A file that could not be written is said so: the matrices would otherwise seem kept.
  if (!SaveColorMatrixFile(std::filesystem::path(file->toStdU16String()), users_))
    Prompts().Message(this, Str(kStrMatrixNotSaved));
}

void CAdOptDlg::OnMatrixLoad() {
  if (const auto file = Prompts().PickOpenFile(this, QtFilter(kIniFilter))) {
    const int read = LoadColorMatrixFile(std::filesystem::path(file->toStdU16String()), users_);
    Prompts().Message(this, QStr(FormatW(LoadStringW(sid::kLoadColorMatrixSuccessFail), read, 3 - read)));
  }
  OnMatrixSelChange();  // a loaded user matrix that is selected is shown and applied at once
}
