#include "imaging/CamSetupPane.h"

#include <QScrollBar>
#include <QWheelEvent>

#include "imaging/CamSetupClock.h"
#include "imaging/CamSetupDlg.h"

namespace {
constexpr int kLinePixels = 10;
}

CCamSetupPane::CCamSetupPane(QWidget* parent, std::unique_ptr<CamSetupClock> clock) : QScrollArea(parent) {
  panel_ = new CCamSetupDlg(nullptr, std::move(clock));
  setWidget(panel_);
  setWidgetResizable(true);
  setFocusPolicy(Qt::StrongFocus);
  verticalScrollBar()->setSingleStep(kLinePixels);
  horizontalScrollBar()->setSingleStep(kLinePixels);
}

QSize CCamSetupPane::sizeHint() const {
  const int width = panel_->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
  return QSize(width, QScrollArea::sizeHint().height());
}

void CCamSetupPane::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
}

void CCamSetupPane::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) {
    event->ignore();
    return;
  }
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() + (delta > 0 ? -kLinePixels : kLinePixels));
  event->accept();
}

void CCamSetupPane::focusInEvent(QFocusEvent* event) {
  QScrollArea::focusInEvent(event);
  panel_->setFocus();
}
