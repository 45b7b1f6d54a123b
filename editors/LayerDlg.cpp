#include "editors/LayerDlg.h"

#include <QComboBox>
#include <QLayout>
#include <QContextMenuEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraProcess.h"
#include "editors/ColorFontPage.h"
#include "editors/EditorText.h"
#include "editors/LayerPicture.h"
#include "editors/LayerTree.h"
#include "editors/ScaleDisplayPage.h"
#include "measure/MeasureManager.h"

using editors::Str;

namespace {
CLayerDlg* g_live = nullptr;

// A tab bar as tall as its captions: the captions broken into two lines to fit the pane keep
// their second line whole (the plain bar is one line of text tall).
class CaptionTabBar : public QTabBar {
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override {
    QSize hint = QTabBar::tabSizeHint(index);
    const QString text = tabText(index);
    if (!text.contains(u'\n')) return hint;
    QStyleOptionTab opt;
    initStyleOption(&opt, index);
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text);
    const int vframe = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &opt, this);
    hint.setHeight(std::max(hint.height(), textSize.height() + vframe));
    return hint;
  }
};
}  // namespace

CLayerDlg::CLayerDlg(QWidget* parent) : QWidget(parent) {
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(4, 4, 4, 4);
  box->setSpacing(2);

  viewTab_ = new CaptionTabBar(this);
  ui::SetCtrlId(viewTab_, kViewTab);
  viewCaptions_ = {Str(sid::kAmplification), Str(sid::kPositionImage), Str(sid::kHistogram)};
  for (const QString& c : viewCaptions_) viewTab_->addTab(c);
  viewTab_->setCurrentIndex(qBound(0, int(AppHost().LayerPanelMode()) - 1, 2));
  box->addWidget(viewTab_);

  picture_ = new CLayerPicture(this);
  ui::SetCtrlId(picture_, kPicture);
  box->addWidget(picture_, 1);

  channel_ = new QComboBox(this);
  ui::SetCtrlId(channel_, kChannel);
  channel_->addItems({"RGB", "R", "G", "B"});
  channel_->setCurrentIndex(0);
  channel_->setVisible(AppHost().LayerPanelMode() == LayerPanelView::kHistogram);
  box->addWidget(channel_);

  layerTab_ = new CaptionTabBar(this);
  ui::SetCtrlId(layerTab_, kLayerTab);
  layerCaptions_ = {Str(sid::kMeasuringLayerEditor), Str(sid::kColorFont).replace(u'&', QStringLiteral("&&")),  // "Color&Font" as written
                    Str(sid::kScaleDisplaySettings)};
  for (const QString& c : layerCaptions_) layerTab_->addTab(c);
  box->addWidget(layerTab_);
  for (QTabBar* tabs : {viewTab_, layerTab_}) tabs->setElideMode(Qt::ElideNone);  // whole captions, scrolled

  pages_ = new QStackedWidget(this);
  tree_ = new CLayerCtrlDlg(pages_);
  colorFont_ = new CColorFontDlg(pages_);
  scalePage_ = new ScaleDisplaySetDlg(pages_);
  tree_->SetColorFontPage(colorFont_);
  pages_->addWidget(tree_);
  pages_->addWidget(colorFont_);
  pages_->addWidget(scalePage_);
  box->addWidget(pages_, 2);

  connect(viewTab_, &QTabBar::currentChanged, this, &CLayerDlg::OnTcnSelchangeViewTab);
  connect(layerTab_, &QTabBar::currentChanged, this, &CLayerDlg::OnTcnSelchangeLayerTab);
  connect(channel_, &QComboBox::activated, this, &CLayerDlg::OnCbnSelchangeChannel);
  g_live = this;
}

namespace {

// Where a caption breaks: the space nearest its middle, or for a caption in Chinese (no spaces)
// its middle character; -1 when it cannot break.
qsizetype BreakPoint(const QString& caption) {
  if (caption.contains(u'\n')) return -1;
  const qsizetype mid = caption.size() / 2;
  qsizetype best = -1;
  for (qsizetype i = 0; i < caption.size(); ++i)
    if (caption[i] == u' ' && (best < 0 || std::abs(i - mid) < std::abs(best - mid))) best = i;
  if (best >= 0 || caption.size() < 4) return best;
  for (QChar c : caption)
    if (c.unicode() < 0x2E80) return -1;
  return mid;
}

void FitCaptions(QTabBar* bar, const QStringList& captions, const QFont& font, int width) {
  QStringList texts = captions;
  bar->setFont(font);
  for (int i = 0; i < texts.size(); ++i) bar->setTabText(i, texts[i]);
  // The widest caption that can still break is broken until the bar fits.
  while (bar->sizeHint().width() > width) {
    int widest = -1;
    for (int i = 0; i < texts.size(); ++i)
      if (BreakPoint(texts[i]) >= 0 && (widest < 0 || bar->tabRect(i).width() > bar->tabRect(widest).width()))
        widest = i;
    if (widest < 0) break;
    const qsizetype at = BreakPoint(texts[widest]);
    if (texts[widest][at] == u' ')
      texts[widest][at] = u'\n';
    else
      texts[widest].insert(at, u'\n');
    bar->setTabText(widest, texts[widest]);
  }
  // Still too wide with every caption broken: a slightly smaller type, down to 7 points.
  QFont smaller = font;
  while (bar->sizeHint().width() > width && smaller.pointSizeF() > 7.0) {
    smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
    bar->setFont(smaller);
  }
}

}  // namespace

void CLayerDlg::FitTabCaptions() {
  const int width = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
  const int before = viewTab_->sizeHint().height() + layerTab_->sizeHint().height();
  FitCaptions(viewTab_, viewCaptions_, font(), width);
  FitCaptions(layerTab_, layerCaptions_, font(), width);
  // A bar that grew a line is laid out anew once this resize is over: the layout keeps the
  // height it knew for a bar whose captions changed while it was hidden or being placed, and
  // would clip the second line.
  if (viewTab_->sizeHint().height() + layerTab_->sizeHint().height() != before)
    QMetaObject::invokeMethod(
        this,
        [this] {
          viewTab_->updateGeometry();
          layerTab_->updateGeometry();
          layout()->activate();
        },
        Qt::QueuedConnection);
}

void CLayerDlg::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  FitTabCaptions();
}

CLayerDlg::~CLayerDlg() {
  if (g_live == this) g_live = nullptr;
}

CLayerDlg* CLayerDlg::Instance() { return g_live; }

std::int32_t CLayerDlg::OnMeasureNotify(std::int32_t index, MEASUREBASE record, std::int32_t action) {
  if (g_live) g_live->tree_->OnMeasureNotify(index, record, action);
  return 1;
}

QWidget* CLayerDlg::PictureArea() const { return picture_; }
const QImage& CLayerDlg::Picture() const { return picture_->Image(); }

bool CLayerDlg::IsPanelVisible() const { return isVisible() && AppHost().ImageAvailable(); }

LayerPanelView CLayerDlg::PanelMode() const { return AppHost().LayerPanelMode(); }
QSize CLayerDlg::PictureSize() const { return picture_->size(); }

void CLayerDlg::ShowPicture(const QImage& picture) { picture_->SetImage(picture); }

void CLayerDlg::ClearLayers() { tree_->ClearLayers(); }

void CLayerDlg::SetCursorId(int id) {
  cursor_ = id;
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (id == kCursorGrab) shape = Qt::ClosedHandCursor;
  else if (id == kCursorHand) shape = Qt::OpenHandCursor;
  else if (id == kCursorJump) shape = Qt::PointingHandCursor;
  picture_->setCursor(shape);
}

void CLayerDlg::OnTcnSelchangeViewTab() {
  SetCursorId(kCursorArrow);
  hover_ = 0;
  const auto mode = LayerPanelView(viewTab_->currentIndex() + 1);  // the tabs in the views' order
  AppHost().SetLayerPanelMode(mode);
  channel_->setVisible(mode == LayerPanelView::kHistogram);
  picture_->SetImage(QImage());
  RefreshPicture();
}

void CLayerDlg::OnCbnSelchangeChannel() {
  static constexpr int kMasks[] = {7, 1, 2, 4};
  const int i = channel_->currentIndex();
  if (i < 0 || i > 3) return;
  if (CCameraProcess* cam = AppHost().Camera()) cam->SetHistogramChannel(kMasks[i]);
  RefreshPicture();
}

void CLayerDlg::OnTcnSelchangeLayerTab() {
  const int page = layerTab_->currentIndex();
  if (page == 2) {
    float factor = 1.0f;
    WString unit;
    ScaleDisplayBlock block;
    if (CMeasureManager* mm = AppHost().Measure()) {
      mm->GetScale(&factor, &unit, &block);
      scalePage_->Fill(factor, unit, block);
    }
  }
  if (page >= 0 && page <= 2) pages_->setCurrentIndex(page);
}

void CLayerDlg::RefreshPicture() {
  CCameraProcess* cam = AppHost().Camera();
  if (!cam || !picture_->isVisible()) return;
  if (!AppHost().ImageAvailable()) {
    picture_->SetImage(QImage());
    return;
  }
  const LayerPanelView mode = AppHost().LayerPanelMode();
  if (mode == LayerPanelView::kHistogram) cam->DrawHistogram();
  else if (mode == LayerPanelView::kOverview) cam->DrawOverview();
}

void CLayerDlg::OnMouseMove(QPoint p) {
  if (AppHost().LayerPanelMode() != LayerPanelView::kOverview || !isVisible()) return;
  CCameraProcess* cam = AppHost().Camera();
  const QSize area = picture_->size();
  if (!dragging_) {
    POINT tl, br;
    if (cam) cam->GetOverviewRect(&tl, &br);
    const RECT mark{tl.x, tl.y, br.x, br.y};
    const RECT whole{1, 1, area.width() - 1, area.height() - 1};
    const bool inArea = p.x() >= 0 && p.y() >= 0 && p.x() < area.width() && p.y() < area.height();
    // The whole image in the view's window rectangle (its client and the 2-px edge around it,
    // which a fitted image fills): nothing to scroll, whatever the mark's rounding says.
    const RECT win = AppHost().ImageWindowRect(), view = AppHost().ViewClientRect();
    const bool allShown = win.left >= 0 && win.top >= 0 && win.right <= view.right + 4 && win.bottom <= view.bottom + 4;
    if (cam && !(mark == whole) && !allShown && inArea) {
      const bool onMark = PtInRect(mark, FromQPoint(p));
      SetCursorId(onMark ? kCursorHand : kCursorJump);
      hover_ = onMark ? 1 : 2;
    } else {
      SetCursorId(kCursorArrow);
      hover_ = 0;
    }
    return;
  }
  if (hover_ != 1 || area.width() <= 0 || area.height() <= 0) return;
  // The drag stays within the overview: the pointer beyond its edges moves the view no further.
  p = QPoint(qBound(0, p.x(), area.width() - 1), qBound(0, p.y(), area.height() - 1));
  // The mark follows the mouse: the image window moves the other way, scaled to its size.
  const RECT win = AppHost().ImageWindowRect();
  const std::int64_t W = win.Width(), H = win.Height();
  const std::int64_t dx = p.x() - last_.x(), dy = p.y() - last_.y();
  const auto left = std::int32_t(win.left - W * dx / area.width());
  const auto top = std::int32_t(win.top - H * dy / area.height());
  AppHost().SetImageWindowRect(RECT{left, top, left + win.Width(), top + win.Height()});
  last_ = p;
  if (cam) cam->DrawOverview();
}

void CLayerDlg::OnLButtonDown(QPoint p) {
  const QSize area = picture_->size();
  if (hover_ == 1) {
    picture_->grabMouse();  // keeps the drag while the pointer leaves the area
    SetCursorId(kCursorGrab);
    last_ = p;
    dragging_ = true;
  } else if (hover_ == 2 && area.width() > 0 && area.height() > 0) {
    // The clicked image point comes to the centre of the view.
    const RECT win = AppHost().ImageWindowRect();
    const RECT view = AppHost().ViewClientRect();
    const std::int64_t W = win.Width(), H = win.Height();
    const auto nx = std::int32_t(W * p.x() / area.width());
    const auto ny = std::int32_t(H * p.y() / area.height());
    const std::int32_t left = view.Width() / 2 - nx, top = view.Height() / 2 - ny;
    AppHost().SetImageWindowRect(RECT{left, top, left + win.Width(), top + win.Height()});
    RefreshPicture();
  }
  update();
}

void CLayerDlg::OnLButtonUp(QPoint) {
  if (!dragging_) return;
  picture_->releaseMouse();
  SetCursorId(kCursorHand);
  dragging_ = false;
}

CLayerPane::CLayerPane(QWidget* parent) : QScrollArea(parent) {
  dlg_ = new CLayerDlg;
  // The content is laid out for 280 x 680 px; a smaller pane scrolls.
  dlg_->setMinimumSize(280, 680);
  setWidget(dlg_);
  setWidgetResizable(true);
  verticalScrollBar()->setSingleStep(10);
  horizontalScrollBar()->setSingleStep(10);
}

void CLayerPane::resizeEvent(QResizeEvent* e) {
  QScrollArea::resizeEvent(e);
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
}

void CLayerPane::wheelEvent(QWheelEvent* e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) return;
  verticalScrollBar()->triggerAction(delta > 0 ? QAbstractSlider::SliderSingleStepSub
                                               : QAbstractSlider::SliderSingleStepAdd);
  e->accept();
}

void CLayerPane::contextMenuEvent(QContextMenuEvent* e) { e->accept(); }  // no context menu
