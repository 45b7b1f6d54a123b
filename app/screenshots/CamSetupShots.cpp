#include "app/screenshots/CamSetupShots.h"

#include <QApplication>
#include <QDir>

#include <cstdlib>
#include <vector>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/DeadPixelDlg.h"
#include "platform/camsdk/camsdk_testing.h"

using namespace camsetup;

void RenderCamSetupShots(const QString& out, const QString& lang) {
  CCameraProcess* camera = AppHost().Camera();
  if (!camera) return;
  const char* models = std::getenv("Q7V_CAMSDK_MODELS");
  for (const char* key : {"color", "mono"}) {
    if (CamSdkTestSetModels(key) < 1) continue;
    CCamSetupDlg panel;
    panel.DetectCameras();
    std::int32_t params[kOpenParamCount] = {};
    if (camera->OpenCamera(0, params, nullptr) != CAMERA_OK) continue;
    stCameraItem item;
    camera->GetCameraItem(0, &item);
    camera->SetCameraCapability(panel.InitCameraControls(item.handle));
    panel.RefreshFromCamera(item.handle);
    panel.EnableControls({std::begin(kLiveControls), std::end(kLiveControls)}, true);
    panel.resize(panel.sizeHint());
    QApplication::processEvents();
    panel.grab().save(QDir(out).filePath(QStringLiteral("camsetup-%1-%2.png").arg(QLatin1String(key), lang)));
    if (QLatin1String(key) == QLatin1String("color")) {
      CDeadSpotTipDlg prepare;
      stCameraCapability capability;
      camera->GetCameraCapability(&capability);
      prepare.Setup(item.handle, capability);
      prepare.adjustSize();
      prepare.grab().save(QDir(out).filePath(QStringLiteral("deadpixel-%1.png").arg(lang)));
    }
    camera->CloseCamera(0);
  }
  CamSdkTestSetModels(models ? models : "color,mono,single,sum,aligned");
}
