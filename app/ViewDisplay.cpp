// The view's image window: placing and fitting it, mapping client points to image pixels,
// painting still and live frames, the image state of the menus and panes, hints and full screen.
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include <cmath>

#include "app/AboutDlg.h"
#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "editors/LayerDlg.h"
#include "imaging/CamSetupIds.h"
#include "platform/strings.h"
#include "res/StringIds.h"

namespace {
QString Str(int id) { return QString::fromStdU16String(LoadStringW(std::uint32_t(id))); }
}  // namespace

// ---- the image window

CStaticEx::CStaticEx(CCameraProcess& camera, const CMeasureManager& engine, QWidget* parent)
    : QWidget(parent), camera_(camera), engine_(engine) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setProperty("ctrlId", ids::kImageWindow);
}

void CStaticEx::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  // Only the part inside the view is drawn: a zoomed window may be far larger than the screen.
  QRect visible = rect();
  if (parentWidget()) visible &= QRect(mapFromParent(QPoint(0, 0)), parentWidget()->size());
  if (visible.isEmpty()) return;
  QElapsedTimer timer;
  timer.start();
  const std::uint64_t sequence = camera_.FrameSequence();
  BITMAPINFOHEADER format{};
  bool valid;
  {
    const FrameView frame = camera_.ViewFrame();
    valid = bool(frame);
    format = frame.Format();
  }
  const QSize image(format.biWidth, format.biHeight);
  const bool geometryChanged = visible != layerVisible_ || size() != layerWindow_ || image != layerImage_;
  // The scaled frame is kept until a new frame arrives, the window moves or the still image
  // changes: a pointer move that only changes the measurements does not scale the frame again.
  if (!valid || frameDirty_ || geometryChanged || sequence != frameSequence_) {
    if (frameLayer_.size() != visible.size()) frameLayer_ = QImage(visible.size(), QImage::Format_RGB32);
    frameLayer_.fill(QColor(192, 192, 192));
    QPainter p(&frameLayer_);
    p.translate(-visible.topLeft());
    if (valid) camera_.DrawImageRegion(p, width(), height(), visible, false);
    frameSequence_ = sequence;
    frameDirty_ = false;
    baseStale_ = true;
  }
  // The overlay is kept in two layers while nothing they show changes (the engine's revisions)
  // and the window stays: the measurements, and what is drawn over them. A pointer that only
  // changes the hover or the selection redraws the second alone. While one measurement is moved,
  // the others are kept (those before it and those after it, as it lies between them) and each
  // move draws only it and what is over it.
  const int moving = valid ? engine_.MovingMeasure() : -1;
  const std::uint64_t resting = engine_.Revisions().resting;
  const OverKey over = CurrentOverKey();
  const bool redrawAll = overlayDirty_ || geometryChanged || overlay_.isNull() || moving != movingIndex_;
  const bool restingStale = valid && (redrawAll || resting != restingRevision_);
  if (restingStale) {
    overlay_ = QImage(visible.size(), QImage::Format_ARGB32_Premultiplied);
    overlay_.fill(Qt::transparent);
    QPainter p(&overlay_);
    p.translate(-visible.topLeft());
    camera_.DrawOverlay(p, width(), height(), 1, 0, moving >= 0 ? moving : INT32_MAX);
    restingRevision_ = resting;
    baseStale_ = true;
  }
  if (valid && moving >= 0 && (restingStale || above_.isNull())) {
    above_ = QImage(visible.size(), QImage::Format_ARGB32_Premultiplied);
    above_.fill(Qt::transparent);
    QPainter p(&above_);
    p.translate(-visible.topLeft());
    camera_.DrawOverlay(p, width(), height(), 1, moving + 1, INT32_MAX);
  }
  if (moving < 0) {
    above_ = QImage();
    base_ = QImage();
  }
  overlayDirty_ = false;
  layerVisible_ = visible;
  layerWindow_ = size();
  layerImage_ = image;
  movingIndex_ = moving;
  const bool layered = valid && overlay_.size() == frameLayer_.size();
  if (layered && moving >= 0) {
    if (baseStale_ || base_.size() != frameLayer_.size()) {
      base_ = frameLayer_.copy();
      QPainter p(&base_);
      p.drawImage(0, 0, overlay_);
    }
    baseStale_ = false;
    last_ = base_.copy();
    QPainter p(&last_);
    p.translate(-visible.topLeft());
    camera_.DrawOverlay(p, width(), height(), 1, moving, moving + 1);
    p.resetTransform();
    if (above_.size() == last_.size()) p.drawImage(0, 0, above_);
    p.translate(-visible.topLeft());
    // What is over the measurements follows the moving one at every move: drawn straight on.
    camera_.DrawOverlay(p, width(), height(), 2);
    interaction_ = QImage();
    interactionKey_ = over;
  } else {
    if (valid && (redrawAll || over != interactionKey_ || interaction_.isNull())) {
      interaction_ = QImage(visible.size(), QImage::Format_ARGB32_Premultiplied);
      interaction_.fill(Qt::transparent);
      QPainter p(&interaction_);
      p.translate(-visible.topLeft());
      camera_.DrawOverlay(p, width(), height(), 2);
      interactionKey_ = over;
    }
    last_ = frameLayer_.copy();
    if (layered && interaction_.size() == last_.size()) {
      QPainter p(&last_);
      p.drawImage(0, 0, overlay_);
      p.drawImage(0, 0, interaction_);
    }
  }
  lastOrigin_ = visible.topLeft();
  QPainter painter(this);
  painter.drawImage(visible.topLeft(), last_);
  ++paints;
  paintSeconds += timer.nsecsElapsed() * 1e-9;
  lagFrames += camera_.FrameSequence() - sequence;
  if (painted) painted();
}

CStaticEx::OverKey CStaticEx::CurrentOverKey() const {
  const MeasureRevisions& r = engine_.Revisions();
  OverKey k{r.measurements, r.interaction, r.overlays};
  k.roi = camera_.GetRoi(&k.roiOrigin, &k.roiCorner);
  return k;
}

QRgb CStaticEx::PixelAt(QPoint p) const {
  const QPoint q = p - lastOrigin_;
  if (!last_.valid(q)) return qRgb(255, 255, 255);
  return last_.pixel(q);
}

// ---- the view

CApplicationView::CApplicationView(CMainFrame& frame, CCameraProcess& camera, QWidget* parent)
    : QWidget(parent), frame_(frame), camera_(camera) {
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(pal);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setProperty("ctrlId", ids::kView);

  m_wndImage = new CStaticEx(camera_, m_MeasureMgr, this);
  m_wndImage->setGeometry(0, 0, 0, 0);
  m_wndImage->painted = [this] {
    if (magnifierAt_) UpdateMagnifier(magnifierAt_->x(), magnifierAt_->y());
  };
  // Whatever changes the engine (the mouse, the layer editor, a dialog, a load) announces it; the
  // image window's next paint redraws the layers the revisions say are stale.
  m_MeasureMgr.AddChangeListener([this](std::uint32_t) { m_wndImage->update(); });

  // The context menu ("Right Mouse"); it gets no update pass, only the image state.
  m_menuPopup = new QMenu(this);

  m_tipHint = new QLabel(this);
  m_tipHint->setObjectName("hint");
  m_tipHint->setStyleSheet(
      "QLabel#hint { background: #FFFFE1; color: black; border: 1px solid #767676; padding: 3px 6px; }");
  m_tipHint->hide();
  hintTimer_.setSingleShot(true);
  connect(&hintTimer_, &QTimer::timeout, m_tipHint, &QWidget::hide);

  m_btnRestore = new QPushButton(Str(sid::kWindow), this);
  m_btnRestore->setProperty("ctrlId", ids::kFullScreenWindow);
  m_btnRestore->hide();
  connect(m_btnRestore, &QPushButton::clicked, this, [this] { ToggleFullScreen(); });

  m_MeasureMgr.SetNotifyTarget(this, &CLayerDlg::OnMeasureNotify);
  fileDialog = [this](bool open, bool multi, const QString& filter, const QString& defExt) {
    return RunFileDialogEx(this, open, multi, filter, defExt, DialogFolder(filter.contains(QStringLiteral("kvmi"))));
  };
  messageBox = [this](const QString& text) { frame_.messageBox(text); };
}

CApplicationView::~CApplicationView() = default;

RECT CApplicationView::ViewClientRect() const { return RECT{0, 0, width(), height()}; }

RECT CApplicationView::ImageWindowRect() const {
  const QRect g = m_wndImage->geometry();
  return RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void CApplicationView::MoveImageWindow(const RECT& rc) {
  m_wndImage->setGeometry(rc.left, rc.top, std::max(0, rc.right - rc.left), std::max(0, rc.bottom - rc.top));
  m_wndImage->update();
  RefreshOverview();
}

void CApplicationView::RefreshOverview() {
  // The overview marks the part of the image the view shows: every zoom, pan and resize moves it.
  if (frame_.layerPanelMode == LayerPanelView::kOverview && frame_.IsLayerPaneVisible()) frame_.RefreshLayerPanel();
}

void CApplicationView::RedrawImage() {
  m_wndImage->InvalidateOverlay(true);
  m_wndImage->update();
}

void CApplicationView::RedrawOverlay() {
  // The engine's revisions decide what is drawn again.
  m_wndImage->update();
}

void CApplicationView::FrameReady(CCameraProcess&) {
  // One coalesced notice per shown frame: the image window repaints with the newest frame.
  m_wndImage->update();
}

void CApplicationView::paintEvent(QPaintEvent*) {
  // The grey background comes from the palette; the image window paints the picture.
  DrawStillImage();
}

void CApplicationView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  m_btnRestore->setGeometry(width() - 70, 0, 70, 40);
  // A pane resized beside the view: a fitted picture fits the new area, any other zoom is laid
  // out again so that the picture is not left cut off or off-centre.
  const QSize img = ImageSize();
  if (e->oldSize().isValid() && e->oldSize() != e->size() && img.width() > 0 && img.height() > 0) {
    const RECT shown = ImageWindowRect();
    const RECT fitted = FitRect(img.width(), img.height(), e->oldSize().width(), e->oldSize().height());
    if (shown.right - shown.left > 0) {  // a picture is laid out
      if (shown.left == fitted.left && shown.top == fitted.top && shown.right == fitted.right &&
          shown.bottom == fitted.bottom)
        frame_.OnZoomFitWindow();
      else
        frame_.ApplyZoom(frame_.zoomFactor);
    }
  }
  RefreshOverview();
}

int CApplicationView::DrawStillImage() {
  if (!camera_.HasFrame() || camera_.GetOpenedCount() > 0) return 0;
  RedrawImage();
  return 1;
}

RECT CApplicationView::CalcFitRect(int w, int h) const { return FitRect(w, h, width(), height()); }

RECT CApplicationView::FitRect(int w, int h, int clientWidth, int clientHeight) {
  // The view's window rectangle: the client plus its 2-pixel edge on each side.
  const double vw = clientWidth + 4, vh = clientHeight + 4;
  RECT r{0, 0, 0, 0};
  if (w <= 0 || h <= 0) return r;  // never divide by an empty image
  if (w < vw && h < vh) {
    r.left = int(std::trunc((vw - w) * 0.5));
    r.right = r.left + w;
    r.top = int(std::trunc((vh - h) * 0.5));
    r.bottom = r.top + h;
  } else if ((w - vw) > (h - vh)) {
    r.left = 0;
    r.right = int(vw);
    const double h2 = vw * h / w;
    r.top = int(std::trunc((vh - h2) * 0.5));
    r.bottom = int(std::trunc(h2 + r.top));
  } else {
    r.top = 0;
    r.bottom = int(vh) - 5;
    const double w2 = (vh - 5) * w / h;
    r.left = int(std::trunc((vw - w2) * 0.5));
    r.right = int(std::trunc(w2 + r.left));
  }
  return r;
}

QSize CApplicationView::ImageSize() const {
  if (camera_.GetOpenedCount() > 0) {
    int w = 0, h = 0;
    if (camera_.GetCurCameraItem() < 0) return {};
    (void)camera_.GetImageSize(camera_.GetCurCameraItem(), &w, &h);  // zeroed: an empty size maps nothing
    return QSize(w, h);
  }
  const FrameView frame = camera_.ViewFrame();
  if (!frame) return {};
  return QSize(frame.Width(), std::abs(frame.Height()));
}

POINT CApplicationView::ClientToImage(int x, int y) const {
  const RECT r = ImageWindowRect();
  const std::int64_t rw = r.right - r.left, rh = r.bottom - r.top;
  if (rw == 0 || rh == 0) return {0, 0};
  const QSize s = ImageSize();
  if (s.width() <= 0 || s.height() <= 0) return {0, 0};
  // In 64 bits, so a large image at a high zoom cannot overflow; truncated toward zero.
  const std::int64_t ix = (std::int64_t(x) - r.left) * s.width() / rw;
  const std::int64_t iy = (std::int64_t(y) - r.top) * s.height() / rh;
  return {TruncToInt(double(ix)), TruncToInt(double(iy))};
}

void CApplicationView::PanStep(QPoint p) {
  const RECT i = ImageWindowRect();
  const int iw = i.right - i.left, ih = i.bottom - i.top;
  const int vw = width() + 4, vh = height() + 4;
  int x = p.x() - m_ptPanAnchor.x + i.left;
  int y = p.y() - m_ptPanAnchor.y + i.top;
  if (iw < vw)
    x = (vw - iw) / 2;
  else if (x > 0)
    x = 0;
  else if (x + iw < vw)
    x = vw - iw;
  if (ih < vh)
    y = (vh - ih) / 2;
  else if (y > 0)
    y = 0;
  else if (y + ih < vh)
    y = vh - ih;
  MoveImageWindow(RECT{x, y, x + iw, y + ih});
  m_ptPanAnchor = {p.x(), p.y()};
}

void CApplicationView::SetImageState(int live, int image) {
  frame_.imageAvailable = image;
  frame_.liveFlag = live;
  CCommandRouter& router = frame_.Router();
  const bool g = image != 0;
  static const int kMeasuring[] = {ids::kLayerEditor, ids::kMeasuringBar, ids::kZoomBar, ids::kLine, ids::kParallel,
                                   ids::kFoldLine, ids::kAngle, ids::kRectangle, ids::kRoundRect, ids::kEllipse,
                                   ids::kCircle2, ids::kCircle3, ids::kPolygon, ids::kPoint, ids::kArc3,
                                   ids::kDeleteMeasure, ids::kDeleteAllMeasures, ids::kLineToLine, ids::kCircleToLine,
                                   ids::kCircleToCircle, ids::kPointToLine, ids::kCrossRule, ids::kAngleRule,
                                   ids::kExportWord, ids::kExportExcel, ids::kGrid, ids::kText, ids::kArrow,
                                   ids::kContrastAngle, ids::kContrastCircle, ids::kCross, ids::kSaveLayers,
                                   ids::kLoadLayers, ids::kMeasuringSettings, ids::kReportSettings,
                                   ids::kAdvancedSettings, ids::kMeasuringSpare, ids::kScaleSettings, ids::kFileSaveAs};
  for (int id : kMeasuring) router.Action(id)->setEnabled(g);
  if (!m_bFullScreen) {
    if (!frame_.LayerPane()->isVisible()) frame_.LayerPane()->setVisible(g);
    frame_.ZoomToolBar()->setVisible(g);
    frame_.MeasureToolBar()->setVisible(g);
    frame_.ShowCameraPane();
  }
  for (int id : {ids::kZoomBar, ids::kMeasuringBar}) {
    router.Action(id)->setCheckable(true);
    router.Action(id)->setChecked(g);
  }
  for (QAction* a : m_menuPopup->actions()) {
    const int id = a->data().toInt();
    if (id == ids::kSelectMouse || id == ids::kHandMouse || id == ids::kLayerEditor || id == ids::kStop)
      a->setEnabled(g);
  }
  static const int kImageMenu[] = {ids::kThreshold,  ids::kAdaptiveThreshold, ids::kBrightness,  ids::kDilate,
                                   ids::kErode,      ids::kEdgeEnhance,       ids::kNoiseFilter, ids::kGrayStretch,
                                   ids::kGrayBalance};
  if (live == 1) {
    for (int id : {ids::kVideoSettings, ids::kCaptureSettings}) router.Action(id)->setEnabled(g);
    using namespace camsetup;
    frame_.EnableCameraControls(kLiveControls, int(std::size(kLiveControls)), g);
    const int blackLevel = kAdaptiveBlackLevelCheck;
    frame_.EnableCameraControls(&blackLevel, 1, false);
    for (int id : kImageMenu) router.Action(id)->setEnabled(false);
  } else {
    for (int id : kImageMenu) router.Action(id)->setEnabled(g);
  }
  // The picture goes with the image: nothing of a camera that is no longer the one chosen stays
  // on screen, and an open camera chosen again shows its own frames.
  if (!image) {
    MoveImageWindow(RECT{0, 0, 0, 0});
    m_wndImage->hide();
    magnifierAt_.reset();
    if (ILayerPanel* panel = frame_.LayerPanel()) panel->ShowPicture(QImage());
  } else if (camera_.GetOpenedCount() > 0) {
    m_wndImage->show();
  }
  frame_.UpdateCaptureStatus();
  m_bHandMode = false;
  m_nCursorId = kCursorArrow;
  UpdateCursor();
}

void CApplicationView::ShowHint(const WString& text) {
  hintText_ = QString::fromStdU16String(text);
  m_tipHint->setText(hintText_);
  m_tipHint->adjustSize();
  // Near the bottom centre of the view, as long as the text.
  const int x = width() / 2 - 3 * int(hintText_.size());
  m_tipHint->move(std::max(0, std::min(x, width() - m_tipHint->width())), height() - 20 - m_tipHint->height() / 2);
  m_tipHint->show();
  m_tipHint->raise();
  hintTimer_.start(8000);
}

void CApplicationView::ToggleFullScreen() {
  m_bFullScreen = !m_bFullScreen;
  if (m_bFullScreen) {
    m_rcSavedFrame = frame_.geometry();
    // What the operator had open comes back with the window, camera or not.
    m_shownBeforeFullScreen.clear();
    for (QWidget* w : std::initializer_list<QWidget*>{frame_.LayerPane(), frame_.MeasureToolBar(), frame_.ZoomToolBar()})
      if (w->isVisible()) m_shownBeforeFullScreen.push_back(w);
    for (QWidget* w : std::initializer_list<QWidget*>{frame_.CameraPane(), frame_.ImageListPane(), frame_.LayerPane(),
                                                     frame_.MainToolBar(), frame_.MeasureToolBar(),
                                                     frame_.ZoomToolBar(), frame_.statusBar()})
      w->hide();
    frame_.showFullScreen();
    m_btnRestore->show();
    m_btnRestore->raise();
  } else {
    frame_.showNormal();
    if (!m_rcSavedFrame.isEmpty()) frame_.setGeometry(m_rcSavedFrame);
    frame_.ShowCameraPane();
    frame_.ImageListPane()->show();
    frame_.MainToolBar()->show();
    frame_.statusBar()->show();
    if (camera_.GetCurCameraItem() >= 0) {
      frame_.LayerPane()->show();
      frame_.MeasureToolBar()->show();
      frame_.ZoomToolBar()->show();
    }
    for (const QPointer<QWidget>& w : m_shownBeforeFullScreen)
      if (w) w->show();
    m_shownBeforeFullScreen.clear();
    m_btnRestore->hide();
  }
  frame_.OnZoomFitWindow();
  frame_.update();
}
