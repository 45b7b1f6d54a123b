#pragma once
// The report page of the options dialog: the Word and Excel templates and the report's
// title and header lines.
#include <QWidget>

#include "ui/DialogBuilder.h"
#include "camera/CameraSettings.h"

class COptReportDlg : public QWidget {
 public:
  enum : int {
    IDC_TITLE = 1141,    // header 0
    IDC_HEADER1 = 1142,  // headers 1..24 are 1142..1165
    IDC_PRINT_HEADER = 1166,
    IDC_CLEAR = 1173,
    IDC_EXCEL_TEMPLATE = 1192,
    IDC_WORD_TEMPLATE = 1193,
    IDC_USE_TEMPLATE = 1199,
    IDC_WORD_BROWSE = 1200,
    IDC_EXCEL_BROWSE = 1275,
    IDC_OLD_FORMAT = 63051,  // the note shown while an old-format template is set
  };

  explicit COptReportDlg(QWidget* parent = nullptr);

  void LoadSettings(stReportSetting setting);
  // A template path that names no existing file is kept as empty.
  stReportSetting SaveSettings() const;

  const ui::CtrlMap& Controls() const { return ctrls_; }

 private:
  void EnableBrowse();
  void EnableHeaders();
  void ShowOldFormat();

  ui::CtrlMap ctrls_;
};
