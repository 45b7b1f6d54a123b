// What the view and the acquisition commands ask of the docked panes: the camera panel, the
// layer editor and the image list. The frame forwards to the windows that own each concern.
#include <QDockWidget>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "options/OptionsDlg.h"

void CMainFrame::ClearLayers() {}
void CMainFrame::RebuildLayers() {}
void CMainFrame::RefreshLayerPanel() {}
void CMainFrame::AddImageFile(const QString& /*path*/) {}
void CMainFrame::NudgeSelectedLayer(int /*direction*/) {}
void CMainFrame::DeleteSelectedLayer() {}
void CMainFrame::DeleteAllLayers() {}
bool CMainFrame::RunRemarkDialog(WString* /*text*/, int* /*fontSize*/, COLORREF* /*color*/) { return false; }
ILayerPanel* CMainFrame::LayerPanel() { return nullptr; }
void CMainFrame::EnableCameraControls(const int* /*ids*/, int /*count*/, bool /*enable*/) {}
CMainFrame::CameraArm CMainFrame::CameraRegionArm() const { return {}; }
void CMainFrame::CameraRegionDone(int /*which*/, int, int, int, int) {}
void CMainFrame::DetectCameras() {
  stCameraItem list[kMaxCameraList];
  int count = 0;
  camera_.EnumCameras(list, &count);
  if (count > 0 && camera_.GetCurCameraItem() < 0) camera_.SetCurCamera(0);
}
void CMainFrame::InitCameraControls(int /*handle*/) {}
void CMainFrame::RefreshFromCamera(int /*handle*/) {}
void CMainFrame::RunScaleDialog() {}
void CMainFrame::OnOptionsPage(int id) {
  COptionsDlg::Run(COptionsDlg::PageOfCommand(id), this);
  RedrawView();
}
void CMainFrame::OnImageDialog(int /*id*/) {}
void CMainFrame::RunContrastDialog(bool /*angle*/) {}
void CMainFrame::RunScaleSettings() {}
void CMainFrame::ExportReport(bool /*word*/) {}
