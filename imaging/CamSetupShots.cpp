#include "imaging/CamSetupShots.h"

#include <QApplication>
#include <QDir>

#include <cstdlib>
#include <vector>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/DeadPixelDlg.h"

namespace {

// Every control of the panel, enabled as the view does while a camera is live.
const std::vector<int> kLiveControls = {
    1175, 1176, 1001, 1172, 1002, 1003, 1007, 1307, 1311, 1309, 1316, 1308, 1310, 1312, 1317, 1017,
    1009, 1010, 1059, 1171, 1053, 1054, 1055, 1046, 1064, 1065, 1066, 1069, 1067, 1068, 1071, 1072,
    1073, 1025, 1026, 1036, 1027, 1028, 1029, 1030, 1014, 1062, 1063, 1239, 1240, 1348};

}  // namespace

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
    panel.EnableControls(kLiveControls, true);
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
