#include "options/OptionsDlg.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "options/ColorMatrixPage.h"
#include "options/OptCapturePage.h"
#include "options/OptMeasurePage.h"
#include "options/OptReportPage.h"
#include "options/OptVideoPage.h"
#include "options/OptionsCommon.h"
#include "platform/registry.h"
#include "ui/CommandIds.h"

using namespace options;
using ui::Ctl;

COptionsDlg::COptionsDlg(int page, QWidget* parent) : QDialog(parent), page_(page) {}

COptionsDlg::~COptionsDlg() = default;

int COptionsDlg::Run(int page, QWidget* parent) {
  COptionsDlg dlg(page, parent);
  return dlg.exec();
}

int COptionsDlg::PageOfCommand(int commandId) {
  switch (commandId) {
    case ids::kCaptureSettings: return kCapturePage;
    case ids::kVideoSettings: return kVideoPage;
    case ids::kMeasuringSettings: return kMeasurePage;
    case ids::kReportSettings: return kReportPage;
    case ids::kAdvancedSettings2:
    case ids::kAdvancedSettings: return kAdvancedPage;
    default: return -1;
  }
}

int COptionsDlg::exec() {
  if (!ValidPage()) return QDialog::Rejected;
  InitDialog();
  return QDialog::exec();
}

void COptionsDlg::setVisible(bool visible) {
  if (visible && !ValidPage()) {
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
    return;
  }
  if (visible) InitDialog();  // before showing, so the pages are shown with the dialog
  QDialog::setVisible(visible);
}

void COptionsDlg::InitDialog() {
  if (initialised_) return;
  initialised_ = true;
  setWindowTitle(Str(sid::kOption));

  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  ui::SetCtrlId(tabs_, IDC_TAB);
  tabs_->setUsesScrollButtons(false);  // every tab in sight: the dialog is as wide as its tabs
  layout->addWidget(tabs_);
  auto* buttons = new QWidget(this);
  const ui::CtrlMap map = ui::BuildControls(buttons, {
                                                        {IDC_DEFAULT, Ctl::Button},
                                                        {-1, Ctl::Label, 0, 1},
                                                        {IDC_OK, Ctl::Button, 0, 2},
                                                        {IDC_CANCEL, Ctl::Button, 0, 3},
                                                    });
  if (auto* grid = qobject_cast<QGridLayout*>(buttons->layout())) {
    grid->setColumnStretch(1, 1);
    grid->setContentsMargins(0, 0, 0, 0);
  }
  layout->addWidget(buttons);
  // The dialog's own captions first: the pages localise themselves, and some of their texts
  // (the slider values) are not captions.
  LoadDlgItemTexts(this);

  tabs_->addTab(capture_ = new COptCaptureDlg, Str(sid::kCaptureSettings));
  tabs_->addTab(video_ = new COptVideoDlg, Str(sid::kVideoSettings));
  tabs_->addTab(measure_ = new COptMeasureDlg, Str(sid::kMeasuringSettings));
  tabs_->addTab(report_ = new COptReportDlg, Str(sid::kReportSettings));
  tabs_->addTab(advanced_ = new CAdOptDlg, Str(sid::kAdvancedSettings));
  NoAutoDefault(this);

  connect(map.Find<QPushButton>(IDC_OK), &QPushButton::clicked, this, &COptionsDlg::accept);
  connect(map.Find<QPushButton>(IDC_CANCEL), &QPushButton::clicked, this, &COptionsDlg::reject);
  connect(map.Find<QPushButton>(IDC_DEFAULT), &QPushButton::clicked, this, [this] { OnBnClickedDefault(); });

  ShowCurrentPage();
  tabs_->setCurrentIndex(page_);

  adjustSize();
  if (QScreen* s = screen()) {
    const QRect work = s->availableGeometry();
    move(work.x() + work.width() / 2 - width() / 2, work.y() + work.height() / 2 - height() / 2);
  }
}

void COptionsDlg::ShowCurrentPage() {
  CCameraProcess* camera = AppHost().Camera();
  if (!camera) {
    OnBnClickedDefault();
    return;
  }
  stVideoSetting video;
  camera->GetVideoSetting(&video);
  video_->LoadSettings(video);
  stCaptureSetting capture;
  camera->GetCaptureSetting(&capture);
  capture_->LoadSettings(capture);
  stGridSetting g;
  camera->GetGridSetting(&g.gridInterval, &g.gridWidth, &g.gridColor, &g.selectLineType, &g.selectLineWidth,
                         &g.selectLineColor);
  measure_->LoadSettings(g);
  stReportSetting report;
  camera->GetReportSetting(&report);
  report_->LoadSettings(report);
}

void COptionsDlg::ApplyPages() {
  CCameraProcess* camera = AppHost().Camera();
  if (!camera || !initialised_) return;
  camera->SetVideoSetting(video_->SaveSettings());
  camera->SetCaptureSetting(capture_->SaveSettings());
  const stGridSetting g = measure_->SaveSettings();
  camera->SetGridSetting(g.gridInterval, g.gridWidth, g.gridColor, g.selectLineType, g.selectLineWidth,
                         g.selectLineColor);
  camera->SetReportSetting(report_->SaveSettings());
  AppHost().RedrawView();  // the grid and the selection line may look different now
  // The settings apply now either way; the operator learns that they will not survive a restart.
  if (!camera->SaveSetting()) Prompts().Message(this, QStr(RegistryNotSavedText()));
}

void COptionsDlg::OnBnClickedDefault() {
  if (!initialised_) return;
  video_->LoadSettings(DefaultVideoSetting());
  capture_->LoadSettings(DefaultCaptureSetting());
  measure_->LoadSettings(stGridSetting{});
  report_->LoadSettings(DefaultReportSetting());
}

void COptionsDlg::accept() {
  ApplyPages();
  QDialog::accept();
}

// Enter and Escape inside a page do nothing; the dialog's own buttons close it.
void COptionsDlg::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  const bool closingKey = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
  QWidget* focus = focusWidget();
  if (closingKey && focus && tabs_ && tabs_->isAncestorOf(focus)) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}
