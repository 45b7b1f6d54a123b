#pragma once
// CGrayStretchDlg (dialog 416): the modeless two-point grey-level curve. The operator drags the
// two points on the graph; the still image becomes its grey image mapped through the curve
// (0,0) - point 1 - point 2 - (255,255), live. OK keeps the result, Cancel puts the backup back;
// either closes and deletes the dialog. Without a still image only the curve is shown.
#include <QDialog>
#include <QImage>

#include "imaging/StillImageBackup.h"

class QLineEdit;

class CGrayStretchDlg : public QDialog {
 public:
  // The edits of the two points' grey levels.
  enum : int { kEditX1 = 1192, kEditX2 = 1193, kEditY1 = 1194, kEditY2 = 1195 };

  explicit CGrayStretchDlg(QWidget* parent = nullptr);

  void reject() override;

  // Grey levels of the two points.
  int X1() const { return x1_; }
  int Y1() const { return y1_; }
  int X2() const { return x2_; }
  int Y2() const { return y2_; }
  // The graph (390 x 390): mouse positions on it are graph coordinates x 1.5.
  QWidget* Graph() const { return graph_; }
  // The 260 x 260 curve picture as last drawn.
  const QImage& CurvePicture() const { return curve_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void DrawCurve();
  void ApplyToImage();
  void OnMouseMove(QPointF point);
  void OnLButtonDown();
  void OnLButtonUp();
  void ShowPoints();

  CStillImageBackup backup_;
  int x1_ = 84, y1_ = 84, x2_ = 168, y2_ = 168;
  bool hit1_ = false, hit2_ = false, dragging_ = false;
  QWidget* graph_ = nullptr;
  QLineEdit* edits_[4] = {};
  QImage curve_;
};
