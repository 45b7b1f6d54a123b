#include "options/ColorMatrixPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <bit>
#include <cstring>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "camera/DlgTexts.h"
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

// The equation: R' G' B' = [ nine edits ] x R G B. Statics 1320..1338 keep these texts.
const std::vector<ui::CtrlDef> kEquation = {
    {1320, Ctl::Label, 1319, 0, 1, u"R\u2019"}, {1326, Ctl::Edit, 1319, 3}, {1327, Ctl::Edit, 1319, 4},
    {1328, Ctl::Edit, 1319, 5},                 {1336, Ctl::Label, 1319, 8, 1, u"R"},
    {1321, Ctl::Label, 1319, 0, 1, u"G\u2019"}, {1323, Ctl::Label, 1319, 1, 1, u"="},
    {1324, Ctl::Label, 1319, 2, 1, u"["},       {1329, Ctl::Edit, 1319, 3},
    {1330, Ctl::Edit, 1319, 4},                 {1331, Ctl::Edit, 1319, 5},
    {1325, Ctl::Label, 1319, 6, 1, u"]"},       {1335, Ctl::Label, 1319, 7, 1, u"\u00D7"},
    {1337, Ctl::Label, 1319, 8, 1, u"G"},       {1322, Ctl::Label, 1319, 0, 1, u"B\u2019"},
    {1332, Ctl::Edit, 1319, 3},                 {1333, Ctl::Edit, 1319, 4},
    {1334, Ctl::Edit, 1319, 5},                 {1338, Ctl::Label, 1319, 8, 1, u"B"},
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
      {1344, Ctl::Label},          {1339, Ctl::Combo, 0, 1, 2}, {1340, Ctl::Button, 0, 3},
      {1342, Ctl::Button, 0, 4},   {1341, Ctl::Button, 0, 5},   {1343, Ctl::Button, 0, 6},
      {1319, Ctl::Group, 0, 0, 7},
  };
  table.insert(table.end(), kEquation.begin(), kEquation.end());
  ctrls_ = ui::BuildControls(this, table);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(2, 1);
  // The brackets stand over all three rows of coefficients.
  if (auto* eq = qobject_cast<QGridLayout*>(ctrls_.Get(1319)->layout())) {
    for (int id : {1323, 1324, 1325, 1335}) {
      QWidget* w = ctrls_.Get(id);
      int row = 0, col = 0, rows = 0, cols = 0;
      eq->getItemPosition(eq->indexOf(w), &row, &col, &rows, &cols);
      eq->removeWidget(w);
      eq->addWidget(w, 0, col, 3, 1, Qt::AlignCenter);
    }
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 3);
    for (int id : {1324, 1325}) ctrls_.Get(id)->setFont(big);
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
  CameraGetRgbMatrixSel(handle, &sel);
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
    CameraApplyColorMatrix(handle, users_[std::size_t(user)].data());
  } else {
    CameraSetRgbMatrixSel(handle, pos);
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
  CameraApplyColorMatrix(CurrentHandle(), values.data());
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
    Prompts().Message(this, QStr(FormatW(LoadStringW(16), read, 3 - read)));
  }
  OnMatrixSelChange();  // a loaded user matrix that is selected is shown and applied at once
}
