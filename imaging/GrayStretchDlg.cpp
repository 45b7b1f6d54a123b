#include "imaging/GrayStretchDlg.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "ui/DlgTexts.h"
#include "platform/strings.h"

namespace {
constexpr int kGraph = -1;
constexpr int kGraphSize = 390;  // the 260-pixel picture shown 1.5 times
}  // namespace

CGrayStretchDlg::CGrayStretchDlg(QWidget* parent) : QDialog(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  // The graph on top, its pixels being the curve's coordinates; the point edits and the
  // buttons below it.
  auto* layout = new QVBoxLayout(this);
  graph_ = new QWidget(this);
  ui::SetCtrlId(graph_, kGraph);
  graph_->setFixedSize(kGraphSize, kGraphSize);
  graph_->setMouseTracking(true);
  graph_->setAttribute(Qt::WA_OpaquePaintEvent);
  graph_->installEventFilter(this);
  layout->addWidget(graph_);
  auto* controls = new QWidget(this);
  layout->addWidget(controls);
  ui::CtrlMap map = ui::BuildControls(controls, {
                                                    {kEditX1, ui::Ctl::Edit, 0, 0},
                                                    {kEditY1, ui::Ctl::Edit, 0, 1},
                                                    {kEditX2, ui::Ctl::Edit, 0, 2},
                                                    {kEditY2, ui::Ctl::Edit, 0, 3},
                                                    {ui::kIdOk, ui::Ctl::Button, 0, 0, 2},
                                                    {ui::kIdCancel, ui::Ctl::Button, 0, 2, 2},
                                                });
  controls->layout()->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  const int ids[4] = {kEditX1, kEditY1, kEditX2, kEditY2};
  for (int i = 0; i < 4; ++i) {
    edits_[i] = map.Find<QLineEdit>(ids[i]);
    ui::SetReadout(edits_[i]);
  }
  connect(map.Find<QPushButton>(ui::kIdOk), &QPushButton::clicked, this, &QDialog::accept);
  connect(map.Find<QPushButton>(ui::kIdCancel), &QPushButton::clicked, this, &QDialog::reject);

  backup_.Take();
  ShowPoints();
  LoadDlgItemTexts(this);
  setWindowTitle(QString::fromStdU16String(LoadStringW(sid::kGrayStretch)));
  DrawCurve();
  ApplyToImage();
}

void CGrayStretchDlg::ShowPoints() {
  const int v[4] = {x1_, y1_, x2_, y2_};
  for (int i = 0; i < 4; ++i) edits_[i]->setText(QString::fromStdU16String(FormatW(u"%d", v[i])));
}

void CGrayStretchDlg::DrawCurve() {
  // Grey level g lies at x = 4 + g and y = 256 - g of the 260 x 260 picture.
  curve_ = QImage(260, 260, QImage::Format_RGB32);
  curve_.fill(Qt::white);
  QPainter p(&curve_);
  const QPen pen(Qt::black, 0);
  p.setPen(pen);
  p.drawLine(4, 256, 4, 0);
  p.drawLine(4, 0, 0, 5);
  p.drawLine(4, 0, 8, 5);
  p.drawLine(4, 256, 260, 256);
  p.drawLine(260, 256, 255, 252);
  p.drawLine(260, 256, 255, 260);
  const QPoint pts[4] = {{4, 256}, {x1_ + 4, 256 - y1_}, {x2_ + 4, 256 - y2_}, {259, 1}};
  p.drawPolyline(pts, 4);
  p.setPen(QPen(Qt::red, 6, Qt::SolidLine, Qt::RoundCap));
  p.drawPoint(pts[1]);
  p.drawPoint(pts[2]);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(pts[1], 3, 3);
  p.drawEllipse(pts[2], 3, 3);
  p.end();
  graph_->update();
}

void CGrayStretchDlg::ApplyToImage() {
  const float x1 = float(x1_), y1 = float(y1_), x2 = float(x2_), y2 = float(y2_);
  backup_.Apply([=](KvImgImage backup, KvImgImage frame) {
    KvImgRGB2GRAY(backup, frame);
    KvImgGrayStretch(frame, frame, x1, y1, x2, y2);
  });
}

bool CGrayStretchDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched != graph_) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Paint: {
      QPainter p(graph_);
      p.drawImage(QRect(0, 0, kGraphSize, kGraphSize), curve_);  // unsmoothed, as colour-on-colour
      return true;
    }
    case QEvent::MouseMove:
      OnMouseMove(static_cast<QMouseEvent*>(event)->position());
      return true;
    case QEvent::MouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) OnLButtonDown();
      return true;
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) OnLButtonUp();
      return true;
    default: return false;
  }
}

void CGrayStretchDlg::OnMouseMove(QPointF point) {
  double gx = point.x() / 1.5;
  double gy = 256 - point.y() / 1.5;
  if (!dragging_) {
    const auto under = [&](int x, int y) { return x + 1 < gx && gx < x + 7 && y - 3 < gy && gy < y + 3; };
    hit1_ = hit2_ = false;
    if (under(x1_, y1_))
      hit1_ = true;
    else if (under(x2_, y2_))
      hit2_ = true;
    return;
  }
  if (hit1_) {
    gx = std::min(gx, double(x2_));
    gy = std::min(gy, double(y2_));
  } else if (hit2_) {
    gx = std::max(gx, double(x1_));
    gy = std::max(gy, double(y1_));
  }
  // The graph confines the pointer in the original; clamping keeps the points on it here.
  gx = std::clamp(gx, 0.0, 255.0);
  gy = std::clamp(gy, 0.0, 255.0);
  if (hit1_) {
    x1_ = int(gx);
    y1_ = int(gy);
  } else if (hit2_) {
    x2_ = int(gx);
    y2_ = int(gy);
  }
  ShowPoints();
  DrawCurve();
  ApplyToImage();
}

void CGrayStretchDlg::OnLButtonDown() {
  if (hit1_ || hit2_) dragging_ = true;
}

void CGrayStretchDlg::OnLButtonUp() {
  if (dragging_ && (hit1_ || hit2_)) dragging_ = false;
}

void CGrayStretchDlg::reject() {
  backup_.Restore();
  QDialog::reject();
}
