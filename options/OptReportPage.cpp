#include "options/OptReportPage.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/DlgTexts.h"
#include "options/OptionsCommon.h"
#include "platform/strings.h"

using namespace options;
using ui::Ctl;

namespace {

constexpr int kHeaderLines = kReportHeaderCount - 1;  // besides the title
constexpr int kHeaderColumns = 3;

std::vector<ui::CtrlDef> ControlTable() {
  std::vector<ui::CtrlDef> t = {
      {COptReportDlg::IDC_USE_TEMPLATE, Ctl::Check, 0, 0, 3},
      {kStrWordTemplate, Ctl::Label},
      {COptReportDlg::IDC_WORD_TEMPLATE, Ctl::Edit, 0, 1},
      {COptReportDlg::IDC_WORD_BROWSE, Ctl::Button, 0, 2},
      {kStrExcelTemplate, Ctl::Label},
      {COptReportDlg::IDC_EXCEL_TEMPLATE, Ctl::Edit, 0, 1},
      {COptReportDlg::IDC_EXCEL_BROWSE, Ctl::Button, 0, 2},
      {COptReportDlg::IDC_OLD_FORMAT, Ctl::Label, 0, 0, 3},
      {kStrReportTitle, Ctl::Label},
      {COptReportDlg::IDC_TITLE, Ctl::Edit, 0, 1, 2},
      {kStrReportHeader, Ctl::Group, 0, 0, 3},
      {COptReportDlg::IDC_PRINT_HEADER, Ctl::Check, kStrReportHeader, 0, kHeaderColumns - 1},
      {COptReportDlg::IDC_CLEAR, Ctl::Button, kStrReportHeader, kHeaderColumns - 1},
  };
  for (int i = 0; i < kHeaderLines; ++i)
    t.push_back({COptReportDlg::IDC_HEADER1 + i, Ctl::Edit, kStrReportHeader, i % kHeaderColumns});
  return t;
}

bool IsExistingFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

// Word and Excel files of before 2007: the reports cannot build on them.
bool IsOldFormat(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  return ext == "doc" || ext == "dot" || ext == "xls" || ext == "xlt";
}

}  // namespace

COptReportDlg::COptReportDlg(QWidget* parent) : QWidget(parent) {
  ctrls_ = ui::BuildControls(this, ControlTable());
  NoAutoDefault(this);

  auto browse = [this](int button, int edit, std::uint32_t filter) {
    connect(ctrls_.Find<QPushButton>(button), &QPushButton::clicked, this, [this, edit, filter] {
      if (const auto file = Prompts().PickOpenFile(this, QtFilter(LoadStringW(filter))))
        ctrls_.Find<QLineEdit>(edit)->setText(*file);
    });
  };
  browse(IDC_WORD_BROWSE, IDC_WORD_TEMPLATE, 60051);
  browse(IDC_EXCEL_BROWSE, IDC_EXCEL_TEMPLATE, 60052);
  auto* old = ctrls_.Find<QLabel>(IDC_OLD_FORMAT);
  old->setWordWrap(true);
  old->setStyleSheet(QStringLiteral("color: #b00000"));
  old->hide();
  for (int edit : {IDC_WORD_TEMPLATE, IDC_EXCEL_TEMPLATE})
    connect(ctrls_.Find<QLineEdit>(edit), &QLineEdit::textChanged, this, [this] { ShowOldFormat(); });
  connect(ctrls_.Find<QCheckBox>(IDC_USE_TEMPLATE), &QCheckBox::clicked, this, [this] { EnableBrowse(); });
  connect(ctrls_.Find<QCheckBox>(IDC_PRINT_HEADER), &QCheckBox::clicked, this, [this] { EnableHeaders(); });
  connect(ctrls_.Find<QPushButton>(IDC_CLEAR), &QPushButton::clicked, this, [this] {
    for (int i = 0; i < kHeaderLines; ++i) ctrls_.Find<QLineEdit>(IDC_HEADER1 + i)->clear();
  });
  LoadDlgItemTexts(this);
}

void COptReportDlg::ShowOldFormat() {
  const bool old = IsOldFormat(ctrls_.Find<QLineEdit>(IDC_WORD_TEMPLATE)->text()) ||
                   IsOldFormat(ctrls_.Find<QLineEdit>(IDC_EXCEL_TEMPLATE)->text());
  ctrls_.Get(IDC_OLD_FORMAT)->setVisible(old);
}

void COptReportDlg::EnableBrowse() {
  const bool on = ctrls_.Find<QCheckBox>(IDC_USE_TEMPLATE)->isChecked();
  ctrls_.Get(IDC_WORD_BROWSE)->setEnabled(on);
  ctrls_.Get(IDC_EXCEL_BROWSE)->setEnabled(on);
}

void COptReportDlg::EnableHeaders() {
  const bool on = ctrls_.Find<QCheckBox>(IDC_PRINT_HEADER)->isChecked();
  for (int i = 0; i < kHeaderLines; ++i) ctrls_.Get(IDC_HEADER1 + i)->setEnabled(on);
}

void COptReportDlg::LoadSettings(stReportSetting s) {
  ctrls_.Find<QCheckBox>(IDC_USE_TEMPLATE)->setChecked(s.useTemplate);
  EnableBrowse();
  ctrls_.Find<QLineEdit>(IDC_WORD_TEMPLATE)->setText(QStr(s.wordTemplate));
  ctrls_.Find<QLineEdit>(IDC_EXCEL_TEMPLATE)->setText(QStr(s.excelTemplate));
  ctrls_.Find<QLineEdit>(IDC_TITLE)->setText(QStr(s.headers[0]));
  for (int i = 0; i < kHeaderLines; ++i)
    ctrls_.Find<QLineEdit>(IDC_HEADER1 + i)->setText(QStr(s.headers[std::size_t(i + 1)]));
  ctrls_.Find<QCheckBox>(IDC_PRINT_HEADER)->setChecked(s.printHeader);
  EnableHeaders();
}

stReportSetting COptReportDlg::SaveSettings() const {
  auto text = [this](int id) { return ctrls_.Find<QLineEdit>(id)->text(); };
  stReportSetting s = DefaultReportSetting();
  const QString word = text(IDC_WORD_TEMPLATE);
  const QString excel = text(IDC_EXCEL_TEMPLATE);
  s.wordTemplate = IsExistingFile(word) ? WStr(word) : WString();
  s.excelTemplate = IsExistingFile(excel) ? WStr(excel) : WString();
  s.headers[0] = WStr(text(IDC_TITLE));
  for (int i = 0; i < kHeaderLines; ++i) s.headers[std::size_t(i + 1)] = WStr(text(IDC_HEADER1 + i));
  s.printHeader = ctrls_.Find<QCheckBox>(IDC_PRINT_HEADER)->isChecked();
  s.useTemplate = ctrls_.Find<QCheckBox>(IDC_USE_TEMPLATE)->isChecked();
  return s;
}
