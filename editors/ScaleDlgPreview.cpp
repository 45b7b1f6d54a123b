// The scale dialog's preview: where the picture sits, its painting with the measuring line,
// the mouse (measuring, moving, middle-button pan) and the zoom.
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>

#include <cmath>

#include "ui/AppHost.h"
#include "editors/EditorText.h"
#include "editors/ScaleDlg.h"
#include "editors/ScalePreview.h"
#include "platform/gdi/painter_dc.h"

using editors::Q;

CScalePreview::CScalePreview(CScale2Dlg* dlg) : QWidget(dlg), dlg_(dlg) {
  setMinimumSize(480, 360);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
}

void CScalePreview::paintEvent(QPaintEvent*) {
  QPainter p(this);
  dlg_->PaintPreview(p);
}

void CScalePreview::mousePressEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton) dlg_->OnLButtonDown(p);
  else if (e->button() == Qt::MiddleButton) dlg_->OnMButtonDown(p);
}

void CScalePreview::mouseMoveEvent(QMouseEvent* e) { dlg_->OnMouseMove(e->position().toPoint()); }

void CScalePreview::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton) dlg_->OnLButtonUp(p);
  else if (e->button() == Qt::MiddleButton) dlg_->OnMButtonUp(p);
}

void CScalePreview::leaveEvent(QEvent*) { dlg_->OnMouseMove(QPoint(-1, -1)); }

RECT CScale2Dlg::CalcPreviewRect(int w, int h) const {
  const int cw = preview_->width(), ch = preview_->height();
  RECT r;
  if (w < cw && h < ch) {
    r.left = int((cw - w) * 0.5);
    r.right = r.left + w;
    r.top = int((ch - h) * 0.5);
    r.bottom = r.top + h;
  } else if (w - cw > h - ch) {
    // Fit the width.
    const int s = h > 0 && w > 0 ? int(std::int64_t(cw) * h / w) : 0;
    r.left = 0;
    r.right = cw;
    r.top = int((ch - s) * 0.5);
    r.bottom = r.top + s;
  } else {
    // Fit the height, with a 5-px margin.
    const int s = h > 0 ? int(std::int64_t(ch - 5) * w / h) : 0;
    r.top = 0;
    r.bottom = ch - 5;
    r.left = int((cw - s) * 0.5);
    r.right = r.left + s;
  }
  const float W = float(r.right - r.left), H = float(r.bottom - r.top);
  const int dx = int(W * zoom_ - W), dy = int(H * zoom_ - H);
  r.left -= dx;
  r.right += dx;
  r.top -= dy;
  r.bottom += dy;
  r.left += pan_.x;
  r.right += pan_.x;
  r.top += pan_.y;
  r.bottom += pan_.y;
  return r;
}

void CScale2Dlg::PaintPreview(QPainter& painter) {
  painter.fillRect(preview_->rect(), QColor(50, 50, 50));
  if (!shown_.isNull()) {
    const RECT r = CalcPreviewRect(imageWidth_, imageHeight_);
    painter.drawImage(ToQRect(r), shown_);
  }
  // The measuring line with its end bars, as the engine draws a parallel measurement.
  static CMeasureManager fallback;
  CMeasureManager* mm = AppHost().Measure() ? AppHost().Measure() : &fallback;
  CPainterDC dc(&painter);
  const CPen old = dc.SelectObject(CPen(PS_SOLID, 1, COLORREF(block_.lineColor)));
  mm->DrawParallelLines(dc, lineStart_, lineEnd_);
  dc.SelectObject(old);
}

void CScale2Dlg::ReadFlags() {
  manual_ = manualCheck_->isChecked() ? 1 : 0;
  move_ = moveCheck_->isChecked() ? 1 : 0;
}

void CScale2Dlg::ShowFlags() {
  manualCheck_->setChecked(manual_ != 0);
  moveCheck_->setChecked(move_ != 0);
}

void CScale2Dlg::SetCursorId(int id) {
  cursor_ = id;
  preview_->setCursor(id == kCursorGrab ? Qt::ClosedHandCursor : id == kCursorHand ? Qt::OpenHandCursor
                                                                                    : Qt::ArrowCursor);
}

void CScale2Dlg::OnBnClickedManualMeasure() {
  ReadFlags();
  autoAnalyse_->setEnabled(manual_ == 0 && !finder_->isRunning());
  if (manual_) return;  // the line is drawn with the mouse
  // The line's length in image pixels: preview pixels times image width over shown width.
  const RECT r = CalcPreviewRect(imageWidth_, imageHeight_);
  const double dx = double(lineStart_.x) - lineEnd_.x, dy = double(lineStart_.y) - lineEnd_.y;
  const double shown = double(r.right - r.left);
  const double length = shown > 0.0 ? std::sqrt(dx * dx + dy * dy) * imageWidth_ / shown : 0.0;
  EditCtrl(kPixel)->setText(Q(FormatW(u"%.3f", length)));
}

void CScale2Dlg::OnBnClickedMove() {
  SetCursorId(move_ ? kCursorArrow : kCursorHand);
  manualCheck_->setChecked(false);
  OnBnClickedManualMeasure();
}

void CScale2Dlg::OnLButtonDown(QPoint p) {
  ReadFlags();
  if (!preview_->rect().contains(p)) return;
  preview_->setFocus();
  if (manual_) {
    lineStart_ = lineEnd_ = FromQPoint(p);
    dragging_ = true;
  } else if (move_) {
    last_ = FromQPoint(p);
    dragging_ = true;
    SetCursorId(kCursorGrab);
    preview_->grabMouse();  // keeps the pan while the pointer leaves the preview
  }
}

void CScale2Dlg::OnMouseMove(QPoint p) {
  ReadFlags();
  if (!preview_->rect().contains(p)) {
    inside_ = false;
    return;
  }
  if (dragging_) {
    if (manual_) {
      lineEnd_ = FromQPoint(p);
    } else if (move_) {
      pan_.x += p.x() - last_.x;
      pan_.y += p.y() - last_.y;
      last_ = FromQPoint(p);
    }
    preview_->update();
  }
  inside_ = true;
}

void CScale2Dlg::OnLButtonUp(QPoint) {
  if (!dragging_) return;
  if (manual_) {
    manualCheck_->setChecked(false);
    OnBnClickedManualMeasure();
  } else if (move_) {
    move_ = 0;  // one drag ends move mode
    ShowFlags();
  }
  SetCursorId(kCursorArrow);
  preview_->releaseMouse();
  dragging_ = false;
  preview_->update();
}

void CScale2Dlg::OnMButtonDown(QPoint p) {
  moveCheck_->setChecked(true);
  OnBnClickedMove();
  OnLButtonDown(p);
}

void CScale2Dlg::OnMButtonUp(QPoint p) {
  moveCheck_->setChecked(false);
  OnBnClickedMove();
  OnLButtonUp(p);
}

void CScale2Dlg::OnBnClickedZoomIn() {
  zoom_ += 0.1;  // single precision, as the steps were always taken
  preview_->update();
}

void CScale2Dlg::OnBnClickedZoomOut() {
  if (zoom_ >= 0.7) zoom_ -= 0.1;
  preview_->update();
}

void CScale2Dlg::OnBnClickedWindowAdapt() {
  zoom_ = 1.0f;
  pan_ = POINT{0, 0};
  preview_->update();
}

void CScale2Dlg::wheelEvent(QWheelEvent* e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) return;
  if (delta >= 1) OnBnClickedZoomIn();
  else OnBnClickedZoomOut();
  e->accept();
}
