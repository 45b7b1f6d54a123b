#include "editors/ColorButton.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace editors {

ColorButton::ColorButton(QWidget* parent) : QPushButton(parent) {
  setMinimumSize(48, 22);
  connect(this, &QPushButton::clicked, this, &ColorButton::Pick);
}

void ColorButton::SetColor(COLORREF c) {
  color_ = c & 0x00FFFFFFu;
  update();
}

void ColorButton::Choose(COLORREF c) {
  SetColor(c);
  emit ColorChanged();
}

void ColorButton::Pick() {
  const QColor c = QColorDialog::getColor(ToQColor(color_), this);
  if (c.isValid()) Choose(FromQColor(c));
}

void ColorButton::paintEvent(QPaintEvent*) {
  // The frame of a button without its caption (the localiser may give it one), and the swatch.
  QStylePainter p(this);
  QStyleOptionButton opt;
  initStyleOption(&opt);
  opt.text.clear();
  p.drawControl(QStyle::CE_PushButton, opt);
  const QRect r = rect().adjusted(5, 5, -5, -5);
  p.fillRect(r, ToQColor(color_));
  p.setPen(isEnabled() ? Qt::black : Qt::gray);
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace editors
