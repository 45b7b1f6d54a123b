#include "editors/LayerPicture.h"

#include <QMouseEvent>
#include <QPainter>

#include "editors/LayerDlg.h"

CLayerPicture::CLayerPicture(CLayerDlg* dlg) : QWidget(dlg), dlg_(dlg) {
  setMouseTracking(true);
  setMinimumSize(240, 180);
}

void CLayerPicture::SetImage(const QImage& image) {
  image_ = image;
  update();
}

void CLayerPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  if (!image_.isNull()) p.drawImage(QPoint(0, 0), image_);
  p.setPen(palette().mid().color());
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CLayerPicture::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  dlg_->RefreshPicture();
}

void CLayerPicture::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  dlg_->RefreshPicture();
}

void CLayerPicture::mouseMoveEvent(QMouseEvent* e) { dlg_->OnMouseMove(e->position().toPoint()); }

void CLayerPicture::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) dlg_->OnLButtonDown(e->position().toPoint());
}

void CLayerPicture::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) dlg_->OnLButtonUp(e->position().toPoint());
}
