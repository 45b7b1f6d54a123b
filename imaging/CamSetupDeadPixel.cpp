// "Create Info": the dead-pixel information. The operator prepares the camera in the
// preparation dialog; the library then measures off the user-interface thread while the wait
// box shows, and the panel is refreshed from the camera.
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QMessageBox>
#include <QtConcurrent/QtConcurrentRun>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/TipDlg.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupInternal.h"
#include "imaging/DeadPixelDlg.h"

using namespace camsetup;

namespace {
constexpr std::uint32_t kDeadPixelFailed = 60090;
}

void CCamSetupDlg::OnBnClickedCalcDeadPixels() {
  int handle = -1;
  if (!CurrentHandle(&handle) || IsBusy()) return;
  // Automatic exposure and the old correction would hide the defects: without them switched
  // off there is nothing to measure.
  if (!Took(CameraSetAeState(handle, 0)) || !Took(CameraSetDeadPixelCorrectionState(handle, 0))) return;
  CDeadSpotTipDlg prepare;
  stCameraCapability capability;
  Camera()->GetCameraCapability(&capability);
  prepare.Setup(handle, capability);
  if (prepare.exec() != QDialog::Accepted) return;
  if (!FocusStillCurrent(handle)) return;

  // Measured with no frame flowing; the refresh afterwards plays the camera again.
  (void)CameraStop(handle);  // replayed
  tipDlg_ = new CTipDlg(this);
  tipDlg_->setAttribute(Qt::WA_DeleteOnClose);
  tipDlg_->show();
  BeginStep();
  auto* watcher = new QFutureWatcher<int>(this);
  connect(watcher, &QFutureWatcher<int>::finished, this, [this, watcher, handle] {
    DeadPixelInfoDone(handle, watcher->result());
    watcher->deleteLater();
  });
  watcher->setFuture(QtConcurrent::run([handle]() -> int { return CameraCreateDefectCorrectionInfo(handle); }));
}

void CCamSetupDlg::DeadPixelInfoDone(int handle, int result) {
  EndStep();
  if (FocusStillCurrent(handle)) RefreshFromCamera(handle);
  AppHost().ResetFrameStatistics();
  if (tipDlg_) tipDlg_->close();
  // Success is told only when the library succeeded.
  auto* box = new QMessageBox(QMessageBox::Information, Str(sid::kAppTitle),
                              Str(result == CAMSDK_STATUS_OK ? 60063 : kDeadPixelFailed), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
