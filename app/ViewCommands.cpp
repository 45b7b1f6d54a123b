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
#include "res/StringIds.h"

namespace {

struct ToolDef {
  int id;
  int kind;
};
// Command, tool kind; the check flag is the row's index.
constexpr ToolDef kTools[18] = {{ids::kPoint, 257},        {ids::kLine, 258},        {ids::kParallel, 259},
                                {ids::kFoldLine, 260},     {ids::kAngle, 261},       {ids::kRectangle, 263},
                                {ids::kRoundRect, 264},    {ids::kEllipse, 265},     {ids::kCircle2, 267},
                                {ids::kCircle3, 268},      {ids::kPolygon, 269},     {ids::kArc3, 266},
                                {ids::kLineToLine, 262},   {ids::kPointToLine, 270}, {ids::kCircleToCircle, 273},
                                {ids::kCircleToLine, 272}, {ids::kArrow, 275},       {ids::kCross, 276}};

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
  const int item = which == 0 ? ids::kCrossRule : ids::kAngleRule;
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
  // The point-to-line alias shares the point-to-line update handler; no item carries it.
  router.OnUpdate(V, ids::kPointToLineAlias, [this, imageAvailable](CCmdUI& ui) {
    ui.SetCheck(m_bToolCheck[13]);
    ui.Enable(imageAvailable());
  });

  router.On(V, ids::kHandMouse, [this] {
    m_nCursorId = kCursorHand;
    m_bHandMode = true;
    UpdateCursor();
  });
  router.On(V, ids::kSelectMouse, [this] {
    m_nCursorId = kCursorArrow;
    m_bHandMode = false;
    UpdateCursor();
  });
  router.OnUpdate(V, ids::kHandMouse, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(m_bHandMode);
  });
  router.OnUpdate(V, ids::kSelectMouse, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(!m_bHandMode);
  });
  router.On(V, ids::kText, [this] {
    // The text tool replaces whatever tool was armed: its click must not start a shape too.
    m_nPendingKind = 256;
    m_nToolMode = 0;
    EndRegionSelect();
    ClearToolChecks();
    m_bTextTool = true;
  });
  router.On(V, ids::kGrid, [this] {
    m_bGrid = !m_bGrid;
    m_MeasureMgr.ShowGrid(m_bGrid);
    RedrawImage();
  });
  router.OnUpdate(V, ids::kGrid, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(m_bGrid);
  });
  router.On(V, ids::kCrossRule, [this] { DividingRule(0); });
  router.On(V, ids::kAngleRule, [this] { DividingRule(1); });
  router.On(V, ids::kContrastAngle, [this] {
    frame_.RunContrastDialog(true);
    RedrawImage();
  });
  router.On(V, ids::kContrastCircle, [this] {
    frame_.RunContrastDialog(false);
    RedrawImage();
  });
  router.On(V, ids::kPlayPause, [this] { frame_.OnCameraLive(); });
  router.On(V, ids::kStop, [this] { frame_.OnCameraStop(); });
  router.On(V, ids::kCameraControl, [this] { frame_.ShowCameraPane(); });
  router.On(V, ids::kLayerEditor, [this] { frame_.ShowLayerPane(); });
  router.OnUpdate(V, ids::kLayerEditor, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.LayerPane()->isVisible());
  });
  router.OnUpdate(V, ids::kMeasuringBar, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.MeasureToolBar()->isVisible());
  });
  router.OnUpdate(V, ids::kZoomBar, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.ZoomToolBar()->isVisible());
  });
  router.OnUpdate(V, ids::kCameraControl, [this](CCmdUI& ui) { ui.SetCheck(frame_.CameraPane()->isVisible()); });
  router.OnUpdate(V, ids::kImageListView, [this](CCmdUI& ui) { ui.SetCheck(frame_.ImageListPane()->isVisible()); });
  router.OnUpdate(V, ids::kMeasuringScale, [imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(false);
  });
  router.OnUpdate(V, ids::kRecord, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(camera_.IsRecording());
  });
  router.OnUpdate(V, ids::kCapture, [this, imageAvailable](CCmdUI& ui) {
    ui.Enable(imageAvailable());
    ui.SetCheck(frame_.continuousCapture);
  });
  router.OnUpdate(V, ids::kFullScreen, [this](CCmdUI& ui) { ui.SetCheck(m_bFullScreen); });
  for (int id : {ids::kCross, ids::kSaveLayers, ids::kLoadLayers, ids::kScaleSettings, ids::kCrossRule, ids::kAngleRule,
                 ids::kFileSaveAs, ids::kExportExcel, ids::kExportWord, ids::kContrastAngle, ids::kContrastCircle,
                 ids::kArrow, ids::kText, ids::kReportSettings, ids::kMeasuringSettings})
    if (id != ids::kCross && id != ids::kArrow)
      router.OnUpdate(V, id, [imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable()); });
  for (int id : {ids::kVideoSettings, ids::kCaptureSettings, ids::kAdvancedSettings})
    router.OnUpdate(V, id, [this, imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable() && frame_.liveFlag != 0); });
  for (int id : {ids::kThreshold, ids::kAdaptiveThreshold, ids::kBrightness, ids::kDilate, ids::kErode,
                 ids::kEdgeEnhance, ids::kNoiseFilter, ids::kGrayStretch, ids::kGrayBalance})
    router.OnUpdate(V, id, [this, imageAvailable](CCmdUI& ui) { ui.Enable(imageAvailable() && frame_.liveFlag == 0); });
  router.OnUpdate(V, ids::kDeleteMeasure, [](CCmdUI&) {});

  router.On(V, ids::kExportWord, [this] { frame_.ExportReport(true); });
  router.On(V, ids::kExportExcel, [this] { frame_.ExportReport(false); });
  router.On(V, ids::kDeleteMeasure, [this] {
    frame_.DeleteSelectedLayer();
    m_MeasureMgr.DeleteSelectedRemark();
    RedrawImage();
  });
  router.On(V, ids::kDeleteAllMeasures, [this] {
    const QString caption = QString::fromStdU16String(LoadStringW(sid::kDelete));
    if (!frame_.askYesNo(caption, QString::fromStdU16String(LoadStringW(sid::kDeleteAll)))) return;
    frame_.DeleteAllLayers();
    m_MeasureMgr.RemoveAllRemarks();
    RedrawImage();
  });
  router.On(V, ids::kScaleSettings, [this] {
    frame_.RunScaleSettings();
    RedrawImage();
  });
  router.On(V, ids::kHelpManual, [] {
    const QString file = LoadStringW(sid::kLanguageName) == u"English" ? "Help/Q7V-MSENG.chm" : "Help/Q7V-MS.chm";
    QString path = QDir::current().filePath(file);
    // Else the help folder a package installs beside the program's data.
    if (!QFileInfo::exists(path)) path = QStandardPaths::locate(QStandardPaths::AppDataLocation, file);
    if (QFileInfo::exists(path)) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  });
  router.On(V, ids::kFullScreen, [this] { ToggleFullScreen(); });
  router.On(V, ids::kFullScreenWindow, [this] { ToggleFullScreen(); });
  router.On(V, ids::kFileOpen, [this] { OnFileOpen(); });
  router.On(V, ids::kFileSaveAs, [this] { OnFileSaveAs(); });
  router.On(V, ids::kSaveLayers, [this] { OnSaveLayers(); });
  router.On(V, ids::kLoadLayers, [this] { OnLoadLayers(); });

  // The context menu: its own items, greyed only by the image state.
  for (int id : {ids::kPlayPause, ids::kStop, 0, ids::kHandMouse, ids::kSelectMouse, 0, ids::kFullScreen,
                 ids::kCameraControl, ids::kLayerEditor}) {
    if (id == 0) {
      m_menuPopup->addSeparator();
      continue;
    }
    // The camera pane's item reads as the context menu's own resource has it.
    const QString text =
        id == ids::kCameraControl ? QString::fromStdU16String(LoadStringW(sid::kCameraControler)) : router.Action(id)->text();
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
    ShowHint(LoadStringW(sid::kChosenScaleCannotUsedWith));
}
