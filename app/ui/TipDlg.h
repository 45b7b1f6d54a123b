#pragma once
// CTipDlg: the small "please wait" box shown over the camera pane while a long camera job
// runs (the dead-pixel information). Modeless and top-most; it only shows.
#include <QDialog>

class CTipDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CTipDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
};
