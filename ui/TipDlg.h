#pragma once
// CTipDlg: the small "please wait" box shown over the camera pane while a long camera job
// runs (the dead-pixel information, a report). Modeless and top-most; OK and Cancel close it
// (accepted or rejected), and the job that opened it decides what a rejection means.
#include <QDialog>

class CTipDlg : public QDialog {
  Q_OBJECT
 public:
  enum : int { kDialog = 400, kText = 1272 };

  explicit CTipDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
};
