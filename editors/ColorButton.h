#pragma once
// A colour button: shows its colour as a swatch and lets the operator pick another one.
#include <QPushButton>

#include "platform/types.h"

namespace editors {

class ColorButton : public QPushButton {
  Q_OBJECT
 public:
  explicit ColorButton(QWidget* parent = nullptr);
  COLORREF Color() const { return color_; }
  // Shows a colour without telling anyone (loading a record).
  void SetColor(COLORREF c);
  // The operator's choice: shows it and reports it.
  void Choose(COLORREF c);

 signals:
  void ColorChanged();

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void Pick();
  COLORREF color_ = 0;
};

}  // namespace editors
