#pragma once
// The measuring page of the options dialog: the selection line's type and colour, and the
// grid's interval, line width and colour.
#include <QWidget>

#include "ui/DialogBuilder.h"
#include "camera/CameraSettings.h"

class COptMeasureDlg : public QWidget {
 public:
  enum : int {
    IDC_SEL_COLOR = 1117,
    IDC_GRID_COLOR = 1130,
    IDC_GRID_INTERVAL = 1131,
    IDC_GRID_WIDTH = 1132,
    IDC_LINE_TYPE = 1135,
    IDC_GRID_WIDTH_TEXT = 1137,
    IDC_GRID_INTERVAL_TEXT = 1138,
  };

  explicit COptMeasureDlg(QWidget* parent = nullptr);

  // The six grid and selection-line values; the selection-line width is not shown.
  void LoadSettings(stGridSetting setting);
  // The selection-line width is always 1 from this page.
  stGridSetting SaveSettings() const;

  const ui::CtrlMap& Controls() const { return ctrls_; }
  // The colour a colour button shows.
  static COLORREF ButtonColor(const QWidget* button);

 private:
  void SetButtonColor(int id, COLORREF color);

  ui::CtrlMap ctrls_;
};
