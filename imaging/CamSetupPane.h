#pragma once
// CCamSetupPane: the content of the dockable "Camera Control" pane, a scroll area around the
// tall camera panel. One wheel notch scrolls one 10-pixel line; a resize shows the panel from
// its top again.
#include <QScrollArea>

#include <memory>

class CCamSetupDlg;
class CamSetupClock;

class CCamSetupPane : public QScrollArea {
  Q_OBJECT
 public:
  explicit CCamSetupPane(QWidget* parent = nullptr, std::unique_ptr<CamSetupClock> clock = nullptr);
  CCamSetupDlg* Panel() const { return panel_; }
  // Wide enough for every control of the panel beside the vertical scroll bar.
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  CCamSetupDlg* panel_ = nullptr;
};
