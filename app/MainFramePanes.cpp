// What the view and the acquisition commands ask of the docked panes and the dialogs: the
// camera panel, the layer editor, the image list, the image dialogs, the scale and the reports.
// The frame forwards to the windows that own each concern.
#include <QComboBox>
#include <QDockWidget>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "editors/EditorCommands.h"
#include "editors/LayerDlg.h"
#include "editors/LayerTree.h"
#include "ui/TipDlg.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupClock.h"
#include "imaging/CamSetupIds.h"
#include "imaging/CamSetupPane.h"
#include "imaging/GrayStretchDlg.h"
#include "imaging/ImageListDlg.h"
#include "imaging/ImageListPane.h"
#include "imaging/ImagePrsDlg.h"
#include "imaging/ThresholdDlg.h"
#include "options/OptionsDlg.h"
#include "platform/strings.h"

// ---- the layer editor

void CMainFrame::ClearLayers() { layerWidget_->Dialog()->ClearLayers(); }
void CMainFrame::RebuildLayers() { layerWidget_->Dialog()->LayerTree()->RebuildLayers(); }
void CMainFrame::RefreshLayerPanel() { layerWidget_->Dialog()->RefreshPicture(); }
void CMainFrame::NudgeSelectedLayer(int direction) { layerWidget_->Dialog()->LayerTree()->NudgeSelectedLayer(direction); }
void CMainFrame::DeleteSelectedLayer() { layerWidget_->Dialog()->LayerTree()->DeleteSelectedLayer(); }
void CMainFrame::DeleteAllLayers() { layerWidget_->Dialog()->LayerTree()->DeleteAllLayers(); }
ILayerPanel* CMainFrame::LayerPanel() { return layerWidget_ ? layerWidget_->Dialog() : nullptr; }

bool CMainFrame::RunRemarkDialog(int kind, WString* text, int* fontSize, COLORREF* color) {
  return editors::RunRemarkDialog(this, kind, text, fontSize, color);
}
void CMainFrame::RunContrastDialog(bool angle) { editors::RunContrastDialog(this, *Measure(), angle); }
void CMainFrame::RunScaleSettings() { editors::RunScaleSettings(this, *Measure()); }
void CMainFrame::RunScaleDialog() {
  editors::RunScaleDialog(this, *Measure());
  RedrawView();
}

void CMainFrame::SetImageWindowRect(const RECT& rc) {
  view_->MoveImageWindow(rc);
  view_->update();
}

void CMainFrame::ResetViewTools() { view_->ResetTools(); }

// ---- the image list and the image dialogs

void CMainFrame::AddImageFile(const QString& path) {
  // A full list is said once, as a hint: it must never stop a capture that runs unattended.
  CImageListDlg* list = imageListPane_->Dialog();
  if (list->AddImageFile(0, path) == 0 && list->TakeFullNotice()) ShowHint(LoadStringW(sid::kImageListFull256Images));
}
bool CMainFrame::OpenImageFile(const QString& path) { return view_->LoadBitmapFile(path) == 1; }

void CMainFrame::OnOptionsPage(int id) {
  COptionsDlg::Run(COptionsDlg::PageOfCommand(id), this);
  RedrawView();
}

void CMainFrame::OnImageDialog(int id) {
  switch (id) {
    case ids::kThreshold:
    case ids::kBrightness: {
      CImageOptDlg dlg(id == ids::kThreshold ? CImageOptDlg::kThreshold : CImageOptDlg::kBrightness, this);
      dlg.exec();
      RedrawView();
      break;
    }
    case ids::kGrayStretch: {
      // A second press closes the dialog; a still image is needed to open it.
      if (grayStretch_) {
        // Closed as its destruction does: the stretched pixels stay.
        grayStretch_->accept();
        break;
      }
      if (!camera_.HasFrame() || camera_.GetOpenedCount() != 0) break;
      grayStretch_ = new CGrayStretchDlg(this);
      grayStretch_->show();
      break;
    }
    case ids::kStitching:
    case ids::kDepthOfField:
      if (stitching_) {
        stitching_->close();
        break;
      }
      stitching_ = new CImagePrsDlg(this);
      stitching_->show();
      break;
    default: break;
  }
}

// ---- the reports

bool CMainFrame::ReportRunning() const { return reportWait_ != nullptr; }

void CMainFrame::ExportReport(bool word) {
  using Result = CCameraProcess::ReportResult;
  if (reportWait_) return;  // one report at a time
  // The wait box comes up at once; Cancel drops the report unless it is already written.
  auto cancel = std::make_shared<std::atomic_bool>(false);
  reportWait_ = new CTipDlg(this);
  reportWait_->setAttribute(Qt::WA_DeleteOnClose);
  connect(reportWait_, &QDialog::rejected, this, [cancel] { cancel->store(true); });
  reportWait_->show();

  const auto finish = [this, word, cancel](Result r) {
    if (reportWait_) {
      reportWait_->disconnect(this);
      reportWait_->close();
    }
    reportWait_.clear();
    if (r.status == CCameraProcess::ReportStatus::Cancelled) return;
    r = camera_.FinishReport(word, std::move(r));
    if (r.ok())
      ShowHint(r.message);
    else
      messageBox(QString::fromStdU16String(r.message));
  };
  // The picture and the texts are taken on this thread once the box is up; encoding and writing
  // the file run on a worker, so the window keeps answering.
  QTimer::singleShot(0, this, [this, word, cancel, finish] {
    Result failed;
    CCameraProcess::ReportJob job = camera_.BeginReport(word, &failed, cancel);
    if (!job) {
      finish(failed);
      return;
    }
    auto* watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, finish] {
      const Result r = watcher->result();
      watcher->deleteLater();
      finish(r);
    });
    report_ = QtConcurrent::run(std::move(job));
    watcher->setFuture(report_);
  });
}

// ---- the camera panel

CCamSetupDlg* CMainFrame::CameraPanel() const { return cameraWidget_ ? cameraWidget_->Panel() : nullptr; }

int CMainFrame::ShownCameraIndex() const {
  const CCamSetupDlg* panel = CameraPanel();
  const QComboBox* list = panel ? ui::FindCtrl<QComboBox>(panel, camsetup::kCameraCombo) : nullptr;
  return list ? list->currentIndex() : -1;
}

void CMainFrame::EnableCameraControls(const int* ids, int count, bool enable) {
  if (CCamSetupDlg* panel = CameraPanel()) panel->EnableControls(std::vector<int>(ids, ids + count), enable);
}

CMainFrame::CameraArm CMainFrame::CameraRegionArm() const {
  CameraArm arm;
  if (const CCamSetupDlg* panel = CameraPanel()) {
    arm.regionWB = panel->IsRegionWBArmed();
    arm.regionAE = panel->IsRegionAEArmed();
    arm.adaptiveBlackLevel = panel->IsAdaptiveBlackLevelArmed();
    arm.roiArmed = panel->IsRoiArmed() ? 1 : 0;
  }
  return arm;
}

void CMainFrame::CameraRegionDone(int which, int x, int y, int w, int h) {
  CCamSetupDlg* panel = CameraPanel();
  if (!panel) return;
  using R = CCamSetupDlg::Region;
  const R mode = which == 1 ? R::WhiteBalance : which == 2 ? R::Exposure : which == 3 ? R::BlackLevel : R::Roi;
  panel->OnRegionApplied(mode, x, y, w, h);
}

void CMainFrame::DetectCameras() {
  if (CCamSetupDlg* panel = CameraPanel()) panel->DetectCameras();
}

void CMainFrame::InitCameraControls(int handle) {
  if (CCamSetupDlg* panel = CameraPanel()) camera_.SetCameraCapability(panel->InitCameraControls(handle));
}

void CMainFrame::RefreshFromCamera(int handle) {
  if (CCamSetupDlg* panel = CameraPanel()) panel->RefreshFromCamera(handle);
}
