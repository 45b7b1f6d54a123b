// The view's commands: measuring tools, pointer modes, text, grid, dividing rules, reference
// figures, play and stop, panes, reports, deleting, scale, help, full screen and files, with
// the update handlers that keep their menu items and buttons checked and enabled.
#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <QToolBar>
#include <QUrl>


#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "editors/ScaleStore.h"
#include "platform/camsdk/camsdk.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {

struct ToolDef {
  int id;
  int kind;
};
// Command, tool kind; the check flag is the row's index.
constexpr ToolDef kTools[18] = {{32884, 257}, {32789, 258}, {32831, 259}, {32791, 260}, {32800, 261}, {32792, 263},
                                {32795, 264}, {32796, 265}, {32797, 267}, {32798, 268}, {32799, 269}, {32886, 266},
                                {32888, 262}, {32890, 270}, {32892, 273}, {32894, 272}, {32896, 275}, {32949, 276}};

}  // namespace

void CApplicationView::ToolCommand(int kind, int checkIndex) {
  m_nPendingKind = kind;
  m_nToolMode = 1;
  EndRegionSelect();
  ClearToolChecks();
  m_bToolCheck[checkIndex] = true;
}

void CApplicationView::DividingRule(int which) {
  bool& flag = which == 0 ? m_bCrossRule : m_bAngleRule;
  const int a = which == 0 ? 100 : 0;
  const int item = which == 0 ? 32880 : 32882;
  QAction* action = frame_.Router().Action(item);
  action->setCheckable(true);
  if (!flag) {
    const QSize s = ImageSize();
    m_MeasureMgr.SetDividingRule(1, which, a, RECT{0, 0, s.width(), s.height()}, 255, 255);
    action->setChecked(true);
  } else {
    m_MeasureMgr.SetDividingRule(0, which, a, RECT{0, 0, 0, 0}, 255, 255);
    action->setChecked(false);
  }
  flag = !flag;
  RedrawImage();
}

void CApplicationView::RegisterCommands(CCommandRouter& router) {
  const auto V = CmdTarget::View;
  auto imageAvailable = [this] { return frame_.imageAvailable != 0; };

  for (int i = 0; i < 18; ++i) {
    const ToolDef t = kTools[i];
    router.On(V, t.id, [this, t, i] { ToolCommand(t.kind, i); });
    if (i < 16) {
      router.OnUpdate(V, t.id, [this, i, imageAvailable](CCmdUI& ui) {
        ui.SetCheck(m_bToolCheck[i]);
        ui.Enable(imageAvailable());
      });
    } else {
      router.OnUpdate(V, t.id, [imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable()); });
    }
  }
  // 32830 shares the point-to-line update handler; no item carries it.
  router.OnUpdate(V, 32830, [this, imageAvailable](CCmdUI& ui) {
    ui.SetCheck(m_bToolCheck[13]);
    ui.Enable(imageAvailable());
  });

  router.On(V, 32777, [this] {
    m_nCursorId = 328;
    m_bHandMode = true;
    UpdateCursor();
  });
  router.On(V, 32778, [this] {
    m_nCursorId = 32512;
    m_bHandMode = false;
    UpdateCursor();
  });
  router.OnUpdate(V, 32777, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(m_bHandMode);
  });
  router.OnUpdate(V, 32778, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(!m_bHandMode);
  });
  router.On(V, 32872, [this] {
    ClearToolChecks();
    m_bTextTool = true;
  });
  router.On(V, 32867, [this] {
    m_bGrid = !m_bGrid;
    m_MeasureMgr.ShowGrid(m_bGrid);
    RedrawImage();
  });
  router.OnUpdate(V, 32867, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(m_bGrid);
  });
  router.On(V, 32880, [this] { DividingRule(0); });
  router.On(V, 32882, [this] { DividingRule(1); });
  router.On(V, 32900, [this] {
    frame_.RunContrastDialog(true);
    RedrawImage();
  });
  router.On(V, 32899, [this] {
    frame_.RunContrastDialog(false);
    RedrawImage();
  });
  router.On(V, 32803, [this] { frame_.OnCameraLive(); });
  router.On(V, 32801, [this] { frame_.OnCameraStop(); });
  router.On(V, 32774, [this] { frame_.ShowCameraPane(); });
  router.On(V, 32776, [this] { frame_.ShowLayerPane(); });
  router.OnUpdate(V, 32776, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.LayerPane()->isVisible());
  });
  router.OnUpdate(V, 32814, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.MeasureToolBar()->isVisible());
  });
  router.OnUpdate(V, 32826, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.ZoomToolBar()->isVisible());
  });
  router.OnUpdate(V, 32774, [this](CCmdUI& ui) { ui.SetCheck(frame_.CameraPane()->isVisible()); });
  router.OnUpdate(V, 32906, [this](CCmdUI& ui) { ui.SetCheck(frame_.ImageListPane()->isVisible()); });
  router.OnUpdate(V, 32961, [imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(false);
  });
  router.OnUpdate(V, 27, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(camera_.IsRecording());
  });
  router.OnUpdate(V, 32802, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.continuousCapture);
  });
  router.OnUpdate(V, 32808, [this](CCmdUI& ui) { ui.SetCheck(m_bFullScreen); });
  for (int id : {32949, 32952, 32953, 32842, 32880, 32882, 57604, 32859, 32860, 32900, 32899, 32896, 32872, 32902,
                 32869})
    if (id != 32949 && id != 32896) router.OnUpdate(V, id, [imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable()); });
  for (int id : {32853, 32854, 32957})
    router.OnUpdate(V, id, [this, imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable() && frame_.liveFlag != 0); });
  for (int id : {32928, 32929, 32930, 32931, 32932, 32934, 32944, 32945, 32947})
    router.OnUpdate(V, id, [this, imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable() && frame_.liveFlag == 0); });
  router.OnUpdate(V, 32963, [](CCmdUI&) {});

  router.On(V, 32860, [this] { frame_.ExportReport(true); });
  router.On(V, 32859, [this] { frame_.ExportReport(false); });
  router.On(V, 32963, [this] {
    frame_.DeleteSelectedLayer();
    m_MeasureMgr.DeleteSelectedRemark();
    RedrawImage();
  });
  router.On(V, 32968, [this] {
    const QString caption = QString::fromStdU16String(LoadStringW(23));
    if (!frame_.askYesNo(caption, QString::fromStdU16String(LoadStringW(24)))) return;
    frame_.DeleteAllLayers();
    m_MeasureMgr.RemoveAllRemarks();
    RedrawImage();
  });
  router.On(V, 32842, [this] {
    frame_.RunScaleSettings();
    RedrawImage();
  });
  router.On(V, 32918, [] {
    const QString file = LoadStringW(25) == u"English" ? "Help/Q7V-MSENG.chm" : "Help/Q7V-MS.chm";
    QString path = QDir::current().filePath(file);
    // Else the help folder a package installs beside the program's data.
    if (!QFileInfo::exists(path)) path = QStandardPaths::locate(QStandardPaths::AppDataLocation, file);
    if (QFileInfo::exists(path)) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  });
  router.On(V, 32808, [this] { ToggleFullScreen(); });
  router.On(V, 59144, [this] { ToggleFullScreen(); });
  router.On(V, 57601, [this] { OnFileOpen(); });
  router.On(V, 57604, [this] { OnFileSaveAs(); });
  router.On(V, 32952, [this] { OnSaveLayers(); });
  router.On(V, 32953, [this] { OnLoadLayers(); });

  // The context menu: its own items, greyed only by the image state.
  for (int id : {32803, 32801, 0, 32777, 32778, 0, 32808, 32774, 32776}) {
    if (id == 0) {
      m_menuPopup->addSeparator();
      continue;
    }
    // The camera pane's item reads as the context menu's own resource has it.
    const QString text = id == 32774 ? QString::fromStdU16String(LoadStringW(63774)) : router.Action(id)->text();
    QAction* a = m_menuPopup->addAction(text);
    a->setData(id);
    connect(a, &QAction::triggered, this, [&router, id] {
      router.Execute(id);
      router.UpdateAll();
    });
  }
}

void CApplicationView::LoadSelectedScale(const WString& cameraName) {
  if (scalestore::ApplySelectedScale(m_MeasureMgr, cameraName) == scalestore::ScaleFound::Unusable)
    ShowHint(LoadStringW(62015));
}
