#pragma once
// The options dialog of the "Settings" menu: capture, video, measuring and report settings on
// their pages, applied to the camera object and saved to the settings store only by OK, and the
// colour-matrix page, which applies its changes itself. Cancel changes nothing.
//
// The frame opens it on a page: COptionsDlg::Run(COptionsDlg::PageOfCommand(id), mainWindow).
#include <QDialog>

class QTabWidget;
class COptCaptureDlg;
class COptVideoDlg;
class COptMeasureDlg;
class COptReportDlg;
class CAdOptDlg;

class COptionsDlg : public QDialog {
 public:
  enum Page : int { kCapturePage = 0, kVideoPage = 1, kMeasurePage = 2, kReportPage = 3, kAdvancedPage = 4 };
  enum : int { IDC_OK = 1, IDC_CANCEL = 2, IDC_TAB = 1093, IDC_DEFAULT = 1277 };

  // Without a page (-1) the dialog closes at once when opened.
  explicit COptionsDlg(int page = -1, QWidget* parent = nullptr);
  ~COptionsDlg() override;

  // Runs the dialog modally on `page`; QDialog::Accepted after OK.
  static int Run(int page, QWidget* parent = nullptr);
  // The page of a settings command of the frame's menu (ui/CommandIds.h: capture, video,
  // measuring, report, and the two advanced ones); -1 for any other id.
  static int PageOfCommand(int commandId);

  // The page to open with; call before the dialog is shown.
  void SetActivePage(int index) { page_ = index; }
  // Shows the dialog modally; without a valid page it returns Rejected at once, showing nothing.
  int exec() override;

  // Every settings page loaded from the camera object.
  void ShowCurrentPage();
  // Every settings page handed to the camera object, then all settings saved to the store.
  void ApplyPages();
  // The settings pages filled with the default blocks; nothing reaches the camera object.
  void OnBnClickedDefault();

  // The pages, once the dialog has been shown (null before).
  QTabWidget* Tabs() const { return tabs_; }
  COptCaptureDlg* CapturePage() const { return capture_; }
  COptVideoDlg* VideoPage() const { return video_; }
  COptMeasureDlg* MeasurePage() const { return measure_; }
  COptReportDlg* ReportPage() const { return report_; }
  CAdOptDlg* AdvancedPage() const { return advanced_; }

  void accept() override;  // OK: apply and save, then close
  void setVisible(bool visible) override;

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  bool ValidPage() const { return page_ >= kCapturePage && page_ <= kAdvancedPage; }
  void InitDialog();

  int page_;
  bool initialised_ = false;
  QTabWidget* tabs_ = nullptr;
  COptCaptureDlg* capture_ = nullptr;
  COptVideoDlg* video_ = nullptr;
  COptMeasureDlg* measure_ = nullptr;
  COptReportDlg* report_ = nullptr;
  CAdOptDlg* advanced_ = nullptr;
};
