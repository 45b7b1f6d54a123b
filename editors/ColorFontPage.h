#pragma once
// CColorFontDlg: the layer editor's colour and font page. Every change goes at once to the
// engine's SetSelectedMeasureStyle, which also makes it the style of the next shapes.
#include <QWidget>

#include "ui/DialogBuilder.h"
#include "measure/MeasureBase.h"

class QSlider;
class QCheckBox;

namespace editors {
class ColorButton;
}

class CColorFontDlg : public QWidget {
  Q_OBJECT
 public:
  enum : int {
    kLineWidth = 1125,
    kFont = 1126,
    kLineColor = 1117,
    kTextColor = 1119,
    kFill = 1129,
    kFillColor = 1118,
    kOffsetX = 1354,
    kOffsetY = 1355,
    // Groups and captions.
    kLineGroup = 1358,
    kLineColorLabel = 1247,
    kLineWidthLabel = 1127,
    kLineWidthMin = 1208,
    kLineWidthMax = 1209,
    kTextGroup = 1359,
    kTextColorLabel = 1248,
    kFontLabel = 1174,
    kFontMin = 1203,
    kFontMax = 1204,
    kOffsetXLabel = 1356,
    kOffsetYLabel = 1357,
  };

  explicit CColorFontDlg(QWidget* parent = nullptr);

  // Reads the controls and restyles the selected measurement; the view redraws.
  void ApplyStyle();
  void OnBnClickedFill();
  // Shows a record's style (the font slider is the height - 19), enables the fill controls as
  // `fillAllowed` says, then applies the style, as the page did when it was told to scroll.
  void LoadStyle(const MEASUREBASE& record, bool fillAllowed);

  QSlider* LineWidthSlider() const { return lineWidth_; }
  QSlider* FontSlider() const { return font_; }
  QSlider* OffsetXSlider() const { return offsetX_; }
  QSlider* OffsetYSlider() const { return offsetY_; }
  QCheckBox* FillCheck() const { return fill_; }
  editors::ColorButton* LineColorButton() const { return lineColor_; }
  editors::ColorButton* TextColorButton() const { return textColor_; }
  editors::ColorButton* FillColorButton() const { return fillColor_; }

 private:
  QSlider* lineWidth_ = nullptr;
  QSlider* font_ = nullptr;
  editors::ColorButton* lineColor_ = nullptr;
  editors::ColorButton* textColor_ = nullptr;
  QCheckBox* fill_ = nullptr;
  editors::ColorButton* fillColor_ = nullptr;
  QSlider* offsetX_ = nullptr;
  QSlider* offsetY_ = nullptr;
};
