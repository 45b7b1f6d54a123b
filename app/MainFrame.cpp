#include "app/MainFrame.h"

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QToolBar>

#include "app/Application.h"
#include "app/ApplicationView.h"
#include "editors/LayerDlg.h"
#include "imaging/CamSetupClock.h"
#include "imaging/CamSetupPane.h"
#include "imaging/ImageListPane.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "res/StringIds.h"

namespace {

QString Str(int id) { return QString::fromStdU16String(LoadStringW(std::uint32_t(id))); }

// Menus as data: a popup's title string id (0: a literal) and its items (0: a separator).
struct MenuDef {
  int titleId;
  const char16_t* english;
  const char16_t* chinese;
  std::vector<int> items;
};

const std::vector<MenuDef>& MenuTable() {
  static const std::vector<MenuDef> menus = {
      {0, u"&File", u"文件(&F)", {ids::kFileOpen, ids::kFileSaveAs, 0, ids::kExportWord, ids::kExportExcel, 0, ids::kExit}},
      {0, u"&View", u"视图(&V)", {ids::kMeasuringBar, ids::kZoomBar, 0, ids::kCameraControl, ids::kLayerEditor,
                                  ids::kImageListView, 0, ids::kZoomIn, ids::kZoomOut, ids::kZoomFit, ids::kZoomOriginal,
                                  0, ids::kFullScreen}},
      {0, u"&Camera", u"相机(&C)", {ids::kLive, ids::kStop, 0, ids::kCapture, ids::kRecord}},
      {0, u"&Measure", u"测量(&M)", {ids::kSelectMouse, ids::kHandMouse, 0, ids::kPoint, ids::kLine, ids::kParallel,
                                     ids::kFoldLine, ids::kAngle, ids::kRectangle, ids::kRoundRect, ids::kEllipse,
                                     ids::kCircle2, ids::kCircle3, ids::kPolygon, ids::kArc3, ids::kLineToLine,
                                     ids::kPointToLine, ids::kCircleToCircle, ids::kCircleToLine, 0, ids::kText,
                                     ids::kArrow, ids::kCross, 0, ids::kGrid, ids::kCrossRule, ids::kAngleRule,
                                     ids::kContrastAngle, ids::kContrastCircle, 0, ids::kDeleteMeasure,
                                     ids::kDeleteAllMeasures, 0, ids::kMeasuringScale, ids::kScaleSettings, 0,
                                     ids::kSaveLayers, ids::kLoadLayers}},
      {0, u"&Image", u"图像(&I)", {ids::kThreshold, ids::kAdaptiveThreshold, ids::kBrightness, ids::kDilate, ids::kErode,
                                   ids::kEdgeEnhance, ids::kNoiseFilter, ids::kGrayStretch, ids::kGrayBalance, 0,
                                   ids::kStitching, ids::kDepthOfField}},
      {0, u"&Settings", u"设置(&S)", {ids::kCaptureSettings, ids::kVideoSettings, ids::kMeasuringSettings,
                                      ids::kReportSettings, ids::kAdvancedSettings}},
      {0, u"&Language", u"语言(&L)", {ids::kChinese, ids::kEnglish}},
      {0, u"&Help", u"帮助(&H)", {ids::kHelpManual, 0, ids::kAbout}},
  };
  return menus;
}

// Items whose own string is their dialog's title read with the dialog's "...": their menu texts.
constexpr std::pair<int, int> kMenuTexts[] = {
    {ids::kThreshold, 63928}, {ids::kBrightness, 63930}, {ids::kDilate, 63931}, {ids::kErode, 63932}};

}  // namespace

CMainFrame::CMainFrame() {
  setWindowTitle(Str(sid::kAppTitle));  // the application title alone, never a document name
  setMinimumSize(800, 600);
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
  camera_.SetMainFrame(this);
  SetAppHost(this);  // the panes reach the frame through it from their construction on
  clock = [] { return QDateTime::currentDateTime(); };
  askYesNo = [this](const QString& caption, const QString& text) {
    return QMessageBox::question(this, caption.isEmpty() ? Str(sid::kAppTitle) : caption, text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  askRestart = [this](UiLanguage language, const QString& text) { return AskRestartBox(this, language, text); };
  messageBox = [this](const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, Str(sid::kAppTitle), text, QMessageBox::Ok, this);
    box.exec();
  };

  view_ = new CApplicationView(*this, camera_, this);
  setCentralWidget(view_);
  camera_.SetView(view_);
  camera_.SetRecordingEndedHandler([this](int status) { OnRecordingEnded(status); });
  camera_.SetDeviceEventHandler(
      [this](int event, int handle, const std::string& name) { OnDeviceEvent(event, handle, name); });

  RegisterCommands();
  view_->RegisterCommands(router_);
  CreateMenus();
  CreateToolBars();
  CreateStatusBar();
  CreatePanes();
  // Menu items with a drawing of their own show it; the context menu's items take theirs.
  for (int id : {ids::kFileSaveAs, ids::kSaveLayers, ids::kLoadLayers, ids::kExportWord, ids::kExportExcel,
                 ids::kCameraControl, ids::kLayerEditor, ids::kImageListView, ids::kFullScreen, ids::kPlayPause,
                 ids::kText, ids::kArrow, ids::kCross, ids::kGrid, ids::kCrossRule, ids::kAngleRule,
                 ids::kContrastAngle, ids::kContrastCircle, ids::kScaleSettings, ids::kCaptureSettings,
                 ids::kVideoSettings, ids::kMeasuringSettings, ids::kReportSettings, ids::kAdvancedSettings,
                 ids::kHelpManual, ids::kAbout}) {
    QAction* a = router_.Action(id);
    if (a->icon().isNull()) a->setIcon(CommandIcon(id, ToolbarImages::kPlain, 16));
  }
  for (QAction* a : view_->PopupMenu()->actions())
    if (!a->isSeparator()) a->setIcon(router_.Action(a->data().toInt())->icon());

  // Timer 1: the frame counter at the shortest interval; timer 2: continuous capture.
  timer1_.setInterval(10);
  connect(&timer1_, &QTimer::timeout, this, [this] { UpdateCaptureStatus(); });
  connect(&timer2_, &QTimer::timeout, this, [this] { ContinuousCaptureTick(); });
  // The toolbars' update pass runs when the program is idle.
  updateTimer_.setInterval(100);
  connect(&updateTimer_, &QTimer::timeout, this, [this] { router_.UpdateAll(); });
  updateTimer_.start();
  router_.UpdateAll();

  const QRect work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1600, 1000);
  setMaximumSize(work.width() + 110, work.height() + 100);
  resize(std::min(1440, work.width()), std::min(900, work.height()));

  // A settings file that was not read (too large, damaged, unreadable) is kept, and where it
  // went is said once the window is up.
  if (const WString notice = RegistryLoadNotice(); !notice.empty())
    QTimer::singleShot(0, this, [this, notice] { messageBox(QString::fromStdU16String(notice)); });
}

CMainFrame::~CMainFrame() {
  report_.waitForFinished();  // it reads the camera object's frame
  timer1_.stop();
  timer2_.stop();
  updateTimer_.stop();
  camera_.StopAllCameras();
  camera_.SetView(nullptr);
  camera_.SetLayerPanel(nullptr);
  camera_.SetMainFrame(nullptr);
  camera_.SetRecordingEndedHandler(nullptr);
  camera_.SetDeviceEventHandler(nullptr);
  if (&AppHost() == this) SetAppHost(nullptr);
}

void CMainFrame::CreateMenus() {
  for (const auto& [id, textId] : kMenuTexts) router_.Action(id)->setText(Str(textId));
  const bool english = GetUiLanguage() == UiLanguage::English;
  for (const MenuDef& m : MenuTable()) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf16(english ? m.english : m.chinese));
    for (int id : m.items) {
      if (id == 0)
        menu->addSeparator();
      else
        menu->addAction(router_.Action(id));
    }
    router_.WatchMenu(menu);
  }
}

QIcon CMainFrame::CommandIcon(int id, ToolbarImages set, int size) const {
  // One drawing per command; the main toolbar's three sets differ in colour, and the playing
  // and recording sets show the state of the Live and Record buttons.
  QString name = QString::number(id);
  if (set == ToolbarImages::kPlaying || set == ToolbarImages::kRecording) {
    if (id == ids::kLive && QFile::exists(":/icons/32775-pause.svg")) name = "32775-pause";
  }
  if (set == ToolbarImages::kRecording && id == ids::kRecord && QFile::exists(":/icons/27-on.svg")) name = "27-on";
  QFile f(":/icons/" + name + ".svg");
  if (!f.open(QIODevice::ReadOnly)) return {};
  QByteArray svg = f.readAll();
  const char* colour = set == ToolbarImages::kPlaying     ? "#1B5E20"
                       : set == ToolbarImages::kRecording ? "#B71C1C"
                                                          : "#37474F";
  svg.replace("#0000FE", colour);
  svg.replace("#0000fe", colour);
  QSvgRenderer renderer(svg);
  QIcon icon;
  for (int scale : {1, 2}) {
    QImage img(size * scale, size * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    renderer.render(&p);
    p.end();
    icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}

void CMainFrame::CreateToolBars() {
  auto addButtons = [this](QToolBar* bar, std::initializer_list<int> buttons, ToolbarImages set, int size) {
    for (int id : buttons) {
      if (id == 0) {
        bar->addSeparator();
        continue;
      }
      QAction* a = router_.Action(id);
      if (id != ids::kZoomCombo) {
        if (a->icon().isNull() || bar == mainBar_) a->setIcon(CommandIcon(id, set, size));
        bar->addAction(a);
      }
    }
  };

  measureBar_ = new QToolBar(Str(sid::kMeasure), this);
  measureBar_->setObjectName("MeasureBar");
  measureBar_->setIconSize(QSize(20, 20));
  addButtons(measureBar_,
             {ids::kPoint, ids::kLine, ids::kParallel, ids::kFoldLine, ids::kPointToLine, ids::kLineToLine, ids::kAngle,
              ids::kRectangle, ids::kRoundRect, ids::kPolygon, ids::kEllipse, ids::kCircle2, ids::kCircle3,
              ids::kCircleToLine, ids::kCircleToCircle, ids::kArc3, 0, ids::kDeleteMeasure, ids::kDeleteAllMeasures},
             ToolbarImages::kPlain, 20);

  zoomBar_ = new QToolBar(Str(sid::kPreviewSizeControl), this);
  zoomBar_->setObjectName("ZoomBar");
  zoomBar_->setIconSize(QSize(20, 20));
  addButtons(zoomBar_, {ids::kZoomIn, ids::kZoomOut}, ToolbarImages::kPlain, 20);
  zoomCombo_ = new QComboBox(zoomBar_);
  zoomCombo_->setProperty("ctrlId", ids::kZoomCombo);
  zoomCombo_->setEditable(true);
  zoomCombo_->setInsertPolicy(QComboBox::NoInsert);
  zoomCombo_->setFixedWidth(100);
  for (const char* t : {"25%", "50%", "75%", "100%", "125%", "150%", "175%", "200%"}) zoomCombo_->addItem(t);
  zoomCombo_->setCurrentIndex(3);
  connect(zoomCombo_, qOverload<int>(&QComboBox::activated), this, [this](int) { OnZoomRatioChange(); });
  zoomBar_->addWidget(zoomCombo_);
  addButtons(zoomBar_, {ids::kZoomFit, ids::kZoomOriginal}, ToolbarImages::kPlain, 20);

  mainBar_ = new QToolBar(this);
  mainBar_->setObjectName("MainBar");
  mainBar_->setIconSize(QSize(32, 32));
  mainBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  addButtons(mainBar_,
             {ids::kLive, ids::kStop, 0, ids::kCapture, ids::kRecord, 0, ids::kSelectMouse, ids::kHandMouse, 0,
              ids::kMeasuringScale, 0, ids::kFullScreenFrame, 0, ids::kExit},
             ToolbarImages::kIdle, 32);

  addToolBar(Qt::TopToolBarArea, mainBar_);
  addToolBar(Qt::TopToolBarArea, zoomBar_);
  addToolBar(Qt::TopToolBarArea, measureBar_);
  // Shown once an image is available.
  zoomBar_->hide();
  measureBar_->hide();
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  statusPanes_[0] = new QLabel(bar);
  bar->addWidget(statusPanes_[0], 1);
  const int widths[4] = {0, 100, 150, 200};
  const int texts[4] = {0, 102, 59142, 0};
  for (int i = 1; i < 4; ++i) {
    statusPanes_[i] = new QLabel(bar);
    statusPanes_[i]->setFixedWidth(widths[i] + (i == 3 ? 60 : 20));
    statusPanes_[i]->setText(texts[i] ? Str(texts[i]) : QString());
    bar->addPermanentWidget(statusPanes_[i]);
  }
  SetStatusPane(3, QString::fromStdU16String(FormatW(LoadStringW(sid::kCaptureFrameRateFPS), 0u, 0.0)));
}

void CMainFrame::SetStatusPane(int i, const QString& text) {
  if (i >= 0 && i < 4 && statusPanes_[i] && statusPanes_[i]->text() != text) statusPanes_[i]->setText(text);
}

void CMainFrame::CreatePanes() {
  auto makePane = [this](int id, const char* objectName) {
    auto* dock = new QDockWidget(Str(id), this);
    dock->setObjectName(objectName);
    dock->setProperty("ctrlId", id);
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    dock->setWidget(new QWidget(dock));  // filled by the pane's owner
    return dock;
  };
  cameraPane_ = makePane(ids::kCameraPane, "CameraPane");
  cameraWidget_ = new CCamSetupPane(cameraPane_);
  cameraPane_->setWidget(cameraWidget_);
  layerPane_ = makePane(ids::kLayerPane, "LayerPane");
  layerWidget_ = new CLayerPane(layerPane_);
  layerPane_->setWidget(layerWidget_);
  camera_.SetLayerPanel(layerWidget_->Dialog());
  camera_.SetLayerEditor(layerWidget_->Dialog());
  imageListPane_ = new CImageListPane(this);
  imageListPane_->setProperty("ctrlId", ids::kImageListPane);
  imageListPane_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
  cameraPane_->setMinimumWidth(310);
  addDockWidget(Qt::LeftDockWidgetArea, cameraPane_);
  tabifyDockWidget(cameraPane_, layerPane_);
  addDockWidget(Qt::LeftDockWidgetArea, imageListPane_);
  imageListPane_->show();
  layerPane_->hide();
  cameraPane_->show();
  cameraPane_->raise();
  resizeDocks({imageListPane_}, {140}, Qt::Vertical);
  resizeDocks({cameraPane_}, {cameraWidget_->sizeHint().width()}, Qt::Horizontal);
}

QDockWidget* CMainFrame::ImageListPane() const { return imageListPane_; }

bool CMainFrame::IsLayerPaneVisible() const { return layerPane_ && layerPane_->isVisible(); }

QRect CMainFrame::CameraPaneRect() const {
  if (!cameraPane_) return {};
  return QRect(cameraPane_->mapToGlobal(QPoint(0, 0)), cameraPane_->size());
}

CMeasureManager* CMainFrame::Measure() { return view_ ? view_->MeasureManager() : nullptr; }
void CMainFrame::SetImageState(int live, int image) {
  if (view_) view_->SetImageState(live, image);
}
void CMainFrame::ShowHint(const WString& text) {
  if (view_) view_->ShowHint(text);
}
void CMainFrame::RedrawView() {
  if (!view_) return;
  view_->update();
  view_->RedrawImage();
}
bool CMainFrame::IsFullScreen() const { return view_ && view_->IsFullScreen(); }
void CMainFrame::LoadSelectedScale(const WString& deviceName) {
  if (view_) view_->LoadSelectedScale(deviceName);
}
RECT CMainFrame::ViewClientRect() const { return view_ ? view_->ViewClientRect() : RECT{}; }
RECT CMainFrame::ImageWindowRect() const { return view_ ? view_->ImageWindowRect() : RECT{}; }

void CMainFrame::ShowCameraPane() {
  cameraPane_->show();
  cameraPane_->raise();
}
void CMainFrame::ShowLayerPane() {
  layerPane_->show();
  layerPane_->raise();
}

void CMainFrame::RegisterCommands() {
  const auto F = CmdTarget::Frame;
  router_.On(F, ids::kLive, [this] { OnCameraLive(); });
  router_.On(F, ids::kStop, [this] { OnCameraStop(); });
  router_.On(F, ids::kCapture, [this] { OnCapture(); });
  router_.On(F, ids::kRecord, [this] { OnRecord(); });
  router_.On(F, ids::kExit, [this] { OnAppExit(); });
  router_.On(F, ids::kAbout, [] { theApp().OnAppAbout(); });
  router_.On(F, ids::kChinese, [this] { OnLanguageChinese(); });
  router_.On(F, ids::kEnglish, [this] { OnLanguageEnglish(); });
  router_.OnUpdate(F, ids::kChinese, [](CCmdUI& ui) { ui.SetCheck(LoadStringW(sid::kLanguageName) != u"English"); });
  router_.OnUpdate(F, ids::kEnglish, [](CCmdUI& ui) { ui.SetCheck(LoadStringW(sid::kLanguageName) == u"English"); });
  router_.On(F, ids::kZoomIn, [this] { OnZoomIn(); });
  router_.On(F, ids::kZoomOut, [this] { OnZoomOut(); });
  router_.On(F, ids::kZoomFit, [this] { OnZoomFitWindow(); });
  router_.On(F, ids::kZoomOriginal, [this] { OnZoomOriginal(); });
  router_.On(F, ids::kMeasuringBar, [this] { OnMeasuringBar(); });
  router_.On(F, ids::kZoomBar, [this] { OnZoomBar(); });
  router_.On(F, ids::kImageListView, [this] { OnImageListView(); });
  for (int id : {ids::kCaptureSettings, ids::kVideoSettings, ids::kMeasuringSettings, ids::kReportSettings,
                 ids::kAdvancedSettings2, ids::kAdvancedSettings})
    router_.On(F, id, [this, id] { OnOptionsPage(id); });
  router_.On(F, ids::kMeasuringScale, [this] { RunScaleDialog(); });
  router_.On(F, ids::kMeasuringScale2, [this] { RunScaleDialog(); });
  for (int id :
       {ids::kAdaptiveThreshold, ids::kDilate, ids::kErode, ids::kEdgeEnhance, ids::kNoiseFilter, ids::kGrayBalance})
    router_.On(F, id, [this, id] { RunImageCommand(id); });
  for (int id : {ids::kThreshold, ids::kBrightness, ids::kGrayStretch, ids::kStitching, ids::kDepthOfField})
    router_.On(F, id, [this, id] { OnImageDialog(id); });
  router_.On(F, ids::kFullScreenFrame, [this] { OnFullScreen(); });
  router_.On(F, ids::kBackground, [this] { OnBackgroundColor(); });
}
