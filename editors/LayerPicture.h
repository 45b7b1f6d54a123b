#pragma once
// The layer editor's drawing area: shows the picture it was given (overview, histogram or
// magnifier) and hands the mouse to the dialog's overview handling.
#include <QImage>
#include <QWidget>

class CLayerDlg;

class CLayerPicture : public QWidget {
  Q_OBJECT
 public:
  explicit CLayerPicture(CLayerDlg* dlg);
  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  // A new size or a show draws the overview or histogram again at once: a picture of the old
  // size would mark the wrong part, and a click on it would move the view.
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  CLayerDlg* dlg_;
  QImage image_;
};
