#pragma once
// The scale dialog's preview area: paints through the dialog and hands it the mouse.
#include <QWidget>

class CScale2Dlg;

class CScalePreview : public QWidget {
  Q_OBJECT
 public:
  explicit CScalePreview(CScale2Dlg* dlg);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;

 private:
  CScale2Dlg* dlg_;
};
