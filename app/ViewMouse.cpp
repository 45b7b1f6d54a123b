// The view's mouse and keys: the measuring tools in image pixels, pan, text remarks, region
// selection for the scale, camera rectangles, the magnifier and the pixel readout.
#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <vector>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/camsdk/camsdk.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"
#include "res/StringIds.h"
#include "ui/CameraAnswer.h"

namespace {

// Where a confined pointer is held: inside `clip` when one is set.
QPoint Confine(QPoint p, const QRect& clip) {
  if (clip.isEmpty()) return p;
  return QPoint(std::clamp(p.x(), clip.left(), clip.right()), std::clamp(p.y(), clip.top(), clip.bottom()));
}

}  // namespace

void CApplicationView::SetCapture() {
  if (isVisible()) grabMouse();
}
void CApplicationView::ReleaseCapture() {
  if (QWidget::mouseGrabber() == this) releaseMouse();
}

void CApplicationView::ConfineCursor(const QRect& viewRect) { cursorClip_ = viewRect; }
void CApplicationView::FreeCursor() { cursorClip_ = QRect(); }

void CApplicationView::UpdateCursor() {
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (m_nCursorId == kCursorHand && m_bInImage) shape = Qt::OpenHandCursor;
  if (m_nCursorId == kCursorGrab && m_bInImage) shape = Qt::ClosedHandCursor;
  if (cursor().shape() != shape) setCursor(shape);
}

// ---- Qt events to the handlers

void CApplicationView::mousePressEvent(QMouseEvent* e) {
  const QPoint p = Confine(e->position().toPoint(), cursorClip_);
  if (e->button() == Qt::LeftButton)
    OnLButtonDown(p);
  else if (e->button() == Qt::RightButton)
    OnRButtonDown(p);
  else if (e->button() == Qt::MiddleButton)
    OnMButtonDown(p);
}

void CApplicationView::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint p = Confine(e->position().toPoint(), cursorClip_);
  if (e->button() == Qt::LeftButton)
    OnLButtonUp(p);
  else if (e->button() == Qt::RightButton)
    OnRButtonUp(p);
  else if (e->button() == Qt::MiddleButton)
    OnMButtonUp(p);
}

void CApplicationView::mouseDoubleClickEvent(QMouseEvent* e) {
  // The double click takes the place of the second press.
  if (e->button() == Qt::LeftButton) OnLButtonDblClk(Confine(e->position().toPoint(), cursorClip_));
}

void CApplicationView::mouseMoveEvent(QMouseEvent* e) { OnMouseMove(Confine(e->position().toPoint(), cursorClip_)); }

void CApplicationView::wheelEvent(QWheelEvent* e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) return;  // a horizontal wheel
  if (delta > 0)
    frame_.OnZoomIn();
  else
    frame_.OnZoomOut();
  e->accept();
}

void CApplicationView::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape:
      if (m_bRegionSelect) EndRegionSelect();
      if (m_bFullScreen) ToggleFullScreen();
      break;
    case Qt::Key_Left: frame_.NudgeSelectedLayer(0); break;
    case Qt::Key_Right: frame_.NudgeSelectedLayer(1); break;
    case Qt::Key_Up: frame_.NudgeSelectedLayer(2); break;
    case Qt::Key_Down: frame_.NudgeSelectedLayer(3); break;
    case Qt::Key_Delete:
      frame_.DeleteSelectedLayer();
      m_MeasureMgr.DeleteSelectedRemark();
      break;
    default: QWidget::keyPressEvent(e); return;
  }
  update();
  RedrawOverlay();
}

void CApplicationView::leaveEvent(QEvent* e) {
  // A magnifier left standing would show a place the pointer no longer is.
  if (magnifierAt_) ClearMagnifier();
  QWidget::leaveEvent(e);
}

void CApplicationView::contextMenuEvent(QContextMenuEvent* e) {
  // The mouse's menu comes from the right release; only the keyboard's comes here.
  if (e->reason() == QContextMenuEvent::Keyboard) ShowContextMenu(e->globalPos());
}

void CApplicationView::ShowContextMenu(const QPoint& globalPos) { m_menuPopup->popup(globalPos); }

// ---- the handlers

void CApplicationView::OnLButtonDown(QPoint p) {
  const QRect img = m_wndImage->geometry();
  bool done = false;
  if (m_bHandMode && m_bInImage) {
    m_nCursorId = kCursorGrab;
    m_ptPanAnchor = {p.x(), p.y()};
    m_bPanning = true;
    grabMouse();
    ConfineCursor(rect().adjusted(0, 0, -15, -15));
    UpdateCursor();
    done = true;
  } else if (!m_bHandMode && m_bTextTool && m_bInImage) {
    // A text click only places a text: the engine never sees it, so nothing under the pointer
    // is selected, moved or made to hold the mouse, and the dialog gets the mouse whole.
    const POINT q = ClientToImage(p.x(), p.y());
    m_bTextTool = false;
    ReleaseCapture();
    FreeCursor();
    WString text;
    int size = 20;
    COLORREF color = 0;
    if (frame_.RunRemarkDialog(256, &text, &size, &color)) m_MeasureMgr.AddRemark(q.x, q.y, text, size, color);
    done = true;
  }
  if (!done) {
    // The visible part of the image window, in client coordinates.
    const QRect visible = img & rect();
    if (visible.contains(p)) {
      ConfineCursor(visible);
      const POINT q = ClientToImage(p.x(), p.y());
      if (m_bRegionSelect) {
        if (m_bRegionStarted) {
          m_bRegionStarted = false;
          FreeCursor();
          frame_.RunScaleDialog();
        } else {
          m_ptRegionStart = q;
          m_bRegionStarted = true;
          m_MeasureMgr.SetCalibrationLine(1, q.x, q.y, q.x, q.y);
        }
      } else {
        const int r = m_MeasureMgr.OnMeasureLButtonDown(q.x, q.y, m_nPendingKind, m_nToolMode);
        m_nPendingKind = 256;
        m_nToolMode = 0;
        if (r == 0) ClearToolChecks();
      }
    }
  }
  POINT a, b;
  if (camera_.GetRoi(&a, &b)) {
    m_bCameraRectDrag = true;
    const POINT q = ClientToImage(p.x(), p.y());
    camera_.SetRoi(true, q.x, q.y, q.x, q.y);
    m_ptCameraRectStart = q;
  }
  update();
  RedrawOverlay();
}

void CApplicationView::OnLButtonUp(QPoint p) {
  if (m_bPanning) {
    m_nCursorId = kCursorHand;
    m_bPanning = false;
    releaseMouse();
    UpdateCursor();
  }
  const POINT q = ClientToImage(p.x(), p.y());
  m_MeasureMgr.OnMeasureLButtonUp(q.x, q.y);
  FreeCursor();
  if (m_bCameraRectDrag) {
    m_bCameraRectDrag = false;
    ApplyCameraRect();
  }
  RedrawOverlay();
}

void CApplicationView::OnMouseMove(QPoint p) {
  const QRect img = m_wndImage->geometry();
  m_bInImage = img.contains(p);
  if (m_bInImage) {
    magnifierAt_ = p;
    UpdateMagnifier(p.x(), p.y());
  } else if (magnifierAt_) {
    ClearMagnifier();
  }
  if (!m_bPanning) m_nCursorId = (m_bHandMode && m_bInImage) ? kCursorHand : kCursorArrow;
  if (m_bPanning) {
    PanStep(p);
  } else if (m_bHandMode) {
  } else if (m_bRegionSelect && m_bRegionStarted) {
    const POINT q = ClientToImage(p.x(), p.y());
    m_MeasureMgr.SetCalibrationLine(1, m_ptRegionStart.x, m_ptRegionStart.y, q.x, q.y);
    RedrawOverlay();
  } else {
    // A move that changes nothing the overlay shows is announced by nobody and repaints nothing.
    const POINT q = ClientToImage(p.x(), p.y());
    m_MeasureMgr.OnMeasureMouseMove(q.x, q.y);
  }
  UpdateCursor();

  // The readout: the displayed colour (overlay included) and the position in image pixels.
  const QPoint inWindow = p - img.topLeft();
  const QRgb c = img.contains(p) ? m_wndImage->PixelAt(inWindow) : qRgb(255, 255, 255);
  frame_.SetStatusPane(2, QString::fromStdU16String(FormatW(u"R=%d, G=%d, B=%d", qRed(c), qGreen(c), qBlue(c))));
  const double z = frame_.zoomFactor != 0.0 ? frame_.zoomFactor : 1.0;
  frame_.SetStatusPane(1, QString::fromStdU16String(FormatW(u"X=%d, Y=%d,", TruncToInt(inWindow.x() / z),
                                                            TruncToInt(inWindow.y() / z))));
  if (m_bCameraRectDrag) {
    const POINT q = ClientToImage(p.x(), p.y());
    camera_.SetRoi(true, m_ptCameraRectStart.x, m_ptCameraRectStart.y, q.x, q.y);
    RedrawOverlay();
  }
}

void CApplicationView::OnRButtonDown(QPoint p) {
  const POINT q = ClientToImage(p.x(), p.y());
  m_nRButtonResult = m_MeasureMgr.OnMeasureRButtonDown(q.x, q.y);
  if (m_nRButtonResult == 0) ClearToolChecks();
  RedrawOverlay();
}

void CApplicationView::OnRButtonUp(QPoint p) {
  if (m_nRButtonResult != 3) {
    m_nRButtonResult = 3;
    return;
  }
  ShowContextMenu(mapToGlobal(p));
}

void CApplicationView::OnLButtonDblClk(QPoint) {
  stRemark copy;
  const int i = m_MeasureMgr.GetSelectedRemark(&copy);
  if (i < 0) return;
  WString text(copy.m_szText, BufferLength(copy.m_szText, std::size(copy.m_szText)));
  int size = copy.m_nSize;
  COLORREF color = copy.m_clrColor;
  if (frame_.RunRemarkDialog(copy.m_nKind, &text, &size, &color)) {
    CopyToBuffer(text, copy.m_szText, std::size(copy.m_szText));
    copy.m_nSize = size;
    copy.m_clrColor = color;
  }
  m_MeasureMgr.FillRemark(i, copy.m_ptText.x, copy.m_ptText.y,
                          WStringView(copy.m_szText, BufferLength(copy.m_szText, std::size(copy.m_szText))),
                          copy.m_nSize, copy.m_clrColor);
  RedrawOverlay();
}

void CApplicationView::OnMButtonDown(QPoint p) {
  if (!m_wndImage->geometry().contains(p)) return;
  m_ptPanAnchor = {p.x(), p.y()};
  m_bHandMode = true;
  m_nCursorId = kCursorGrab;
  m_bPanning = true;
  m_bInImage = true;
  grabMouse();
  ConfineCursor(rect().adjusted(0, 0, -15, -15));
  UpdateCursor();
}

void CApplicationView::OnMButtonUp(QPoint) {
  m_nCursorId = kCursorArrow;
  m_bHandMode = false;
  m_bPanning = false;
  UpdateCursor();
  releaseMouse();
  FreeCursor();
}

void CApplicationView::BeginRegionSelect() {
  m_MeasureMgr.SetCalibrationLine(1, 0, 0, 0, 0);
  m_bRegionSelect = true;
  m_nPendingKind = 256;
  m_nToolMode = 0;
}

void CApplicationView::EndRegionSelect() {
  m_MeasureMgr.SetCalibrationLine(0, 0, 0, 0, 0);
  m_bRegionSelect = m_bRegionStarted = false;
}

void CApplicationView::SetTool(int kind, int mode) {
  m_nPendingKind = kind;
  m_nToolMode = mode;
  EndRegionSelect();
}

void CApplicationView::ResetTools() {
  SetTool(256, 0);
  ClearToolChecks();
  QAction* cross = frame_.Router().Action(ids::kCrossRule);
  cross->setChecked(false);
  // The engine's cross rule is switched off beside this: one click switches it on again.
  m_bCrossRule = false;
}

void CApplicationView::ClearToolChecks() {
  std::fill(std::begin(m_bToolCheck), std::end(m_bToolCheck), false);
  m_bTextTool = false;
}

void CApplicationView::ApplyCameraRect() {
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  // Without an open camera there is nothing to apply the rectangle to.
  if (item.state == CAMERA_CLOSED || item.handle < 0) return;
  const int h = item.handle;
  POINT a, b;
  camera_.GetRoi(&a, &b);
  // Without the camera's picture size there is nothing to map the rectangle into; a mirror
  // state the camera does not give counts as unmirrored.
  int mh = 0, mv = 0;
  if (CameraGetMirror(h, 0, &mh) != CAMSDK_STATUS_OK) mh = 0;
  if (CameraGetMirror(h, 1, &mv) != CAMSDK_STATUS_OK) mv = 0;
  int ox = 0, oy = 0, W = 0, H = 0;
  if (CameraGetImageSize(h, nullptr, &ox, &oy, &W, &H, 0) != CAMSDK_STATUS_OK) return;
  a.x = std::clamp(a.x, 0, W), b.x = std::clamp(b.x, 0, W);
  a.y = std::clamp(a.y, 0, H), b.y = std::clamp(b.y, 0, H);
  if (mv == 0) {
    a.y = H - a.y + oy;
    b.y = H - b.y + oy;
  } else {
    a.y += oy;
    b.y += oy;
  }
  if (mh != 0) {
    a.x = W - a.x + ox;
    b.x = W - b.x + ox;
  } else {
    a.x += ox;
    b.x += ox;
  }
  if (a.x == b.x && a.y == b.y) {
    b = {b.x + 1, b.y + 1};
  } else {
    if (a.x > b.x) std::swap(a.x, b.x);
    if (a.y > b.y) std::swap(a.y, b.y);
  }
  const int w = b.x - a.x, hgt = b.y - a.y;
  if (a.x % 4) a.x += 4 - a.x % 4;
  if (a.y % 4) a.y += 4 - a.y % 4;

  const CMainFrame::CameraArm arm = frame_.CameraRegionArm();
  // A window the camera refuses is told; the panel finishes (and disarms) its mode either way.
  if (arm.regionWB) {
    ui::CameraTook(CameraSetWBWindow(h, a.x, a.y, w, hgt));
    frame_.CameraRegionDone(1);
  }
  if (arm.regionAE) {
    ui::CameraTook(CameraSetAEWindow(h, a.x, a.y, b.x - a.x, b.y - a.y));
    frame_.CameraRegionDone(2);
  }
  if (arm.adaptiveBlackLevel) {
    MeasureBlackLevel(h, a, b, ox, oy);
    // The frame shows whether the camera plays again (IMainFrame::OnStreamChanged).
    (void)camera_.PlayCamera(camera_.IndexOfHandle(h));  // shown
    frame_.CameraRegionDone(3);
  }
  if (arm.roiArmed) {
    int rw = b.x - a.x, rh = b.y - a.y;
    if (rw % 4) rw += 4 - rw % 4;
    if (rh % 2) rh += 1;
    int x = a.x, y = a.y;
    (void)CameraStop(h);  // replayed (the panel sets the region and plays the camera)
    if (CameraSetImageSize(h, 1, x, y, rw, rh, 0) != 1) {
      for (int step : {8, 16}) {
        x = x / step * step, y = y / step * step, rw = std::max(step, rw / step * step),
        rh = std::max(step, rh / step * step);
        if (CameraSetImageSize(h, 1, x, y, rw, rh, 0) == 1) break;
      }
    }
    frame_.CameraRegionDone(4, x & 0xFFFE, y & 0xFFFE, rw, rh);
  }
  RedrawOverlay();
}

// The one-shot black level of the region (A, B) in sensor pixels, from one raw frame. The frame
// holds only the region of interest, so the region is taken relative to its origin (ox, oy).
// Each way it can fail is said in the hint line.
void CApplicationView::MeasureBlackLevel(int h, POINT a, POINT b, int ox, int oy) {
  int x = 0, y = 0, W2 = 0, H2 = 0;
  int type = 0;
  CamSdkFrameInfo info{};
  std::vector<unsigned char> buffer;
  if (CameraGetImageSize(h, nullptr, &x, &y, &W2, &H2, 0) == 1 && W2 > 0 && H2 > 0 &&
      CameraGetMediaType(h, &type) == 1) {
    // Room for samples of up to two bytes, so wider raw formats fit as well.
    buffer.resize(std::size_t(W2) * std::size_t(H2) * 2);
    if (CameraGetImageData(h, buffer.data(), type, &info, buffer.size()) != 1) buffer.clear();
  }
  if (buffer.empty()) {
    ShowHint(LoadStringW(sid::kBlackLevelNotMeasuredCamera));  // no frame to measure
    return;
  }
  const KvImgRegion region{a.x - ox, a.y - oy, b.x - a.x, b.y - a.y};
  if (region.width <= 0 || region.height <= 0 || region.x >= info.width || region.y >= info.height) {
    ShowHint(LoadStringW(sid::kBlackLevelNotMeasuredDrawn));  // nothing of the frame inside the drawn region
    return;
  }
  const int bits = std::max(8, (info.format >> 8) & 0xFF);  // the frame's significant bits
  int l1 = 0, l2 = 0, l3 = 0;
  if (KvImgOnceBlackLevel(KvImgRaw{buffer.data(), info.width, info.height, bits, info.format}, region, &l1, &l2,
                          &l3) != KVIMG_OK ||
      CameraSetBlackLevel(h, l1, l2, l3, 1024) != 1) {
    ShowHint(LoadStringW(sid::kBlackLevelNotMeasuredRegion));
    return;
  }
}

void CApplicationView::ClearMagnifier() {
  magnifierAt_.reset();
  ILayerPanel* panel = frame_.LayerPanel();
  if (panel && frame_.layerPanelMode == LayerPanelView::kMagnifier) panel->ShowPicture(QImage());
}

void CApplicationView::UpdateMagnifier(int x, int y) {
  // The cheap tests first: this runs after every paint of a live frame.
  ILayerPanel* panel = frame_.LayerPanel();
  if (!panel || !frame_.IsLayerPaneVisible() || frame_.layerPanelMode != LayerPanelView::kMagnifier) return;
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  if (item.state != CAMERA_PLAYING && !camera_.HasFrame()) return;
  const QSize t = panel->PictureSize();
  if (t.width() <= 2 || t.height() <= 2) return;

  // The 64 x 64 view pixels around the pointer: the grey background and the image window's
  // last picture, overlay included.
  QImage src(64, 64, QImage::Format_RGB32);
  src.fill(palette().color(QPalette::Window));
  {
    QPainter p(&src);
    const QRect img = m_wndImage->geometry();
    const QImage& shown = m_wndImage->LastPicture();
    const QRect visible = img & rect();
    p.drawImage(visible.topLeft() - QPoint(x - 32, y - 32), shown);
  }
  QImage out = src.scaled(t, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  {
    QPainter p(&out);
    p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(t.width() / 2, 0, t.width() / 2, t.height());
    p.drawLine(0, t.height() / 2, t.width(), t.height() / 2);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(Qt::white);
    const QRect img = m_wndImage->geometry();
    p.drawText(QPoint(t.width() / 2 + 5, t.height() / 2 + 5 + p.fontMetrics().ascent()),
               QString::fromStdU16String(FormatW(u"（%d, %d）", x - img.left(), y - img.top())));
  }
  // A one-pixel border stays around the picture.
  QImage framed(t, QImage::Format_RGB32);
  framed.fill(palette().color(QPalette::Window));
  {
    QPainter p(&framed);
    p.drawImage(QRect(1, 1, t.width() - 2, t.height() - 2), out, QRect(0, 0, t.width() - 2, t.height() - 2));
  }
  panel->ShowPicture(framed);
}
