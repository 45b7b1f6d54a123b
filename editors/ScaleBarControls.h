#pragma once
// The scale bar's controls, shared by the layer editor's scale display page and the scale
// calibration dialog: the display check, the colour button, the x, y and line-width sliders
// with their read-outs, and the bar length with its unit.
#include <QString>

#include <optional>

#include "measure/MeasureManager.h"
#include "platform/text.h"

class QCheckBox;
class QLineEdit;
class QSlider;
class QWidget;
namespace editors {
class ColorButton;
}

namespace editors {

class ScaleBarControls {
 public:
  enum : int {
    kColor = 1360,
    kSliderX = 1361,
    kSliderY = 1362,
    kSliderWidth = 1363,
    kEnable = 1367,
    kLength = 1192,
    kLabelX = 1250,
    kLabelY = 1251,
    kLabelWidth = 1252,
    kLabelUnit = 1253,
    // Captions.
    kColorCaption = 1247,
    kXCaption = 1356,
    kYCaption = 1357,
    kWidthCaption = 1127,
    kLengthCaption = 1365,
  };

  // Makes the controls in `host`'s grid (rows from the top), with their ranges.
  void Build(QWidget* host);

  // Shows a block: sliders (without notifying), colour, check, the length as "%.3f" of the
  // thousandths, and the unit.
  void Show(const ScaleDisplayBlock& block, const WString& unit);
  void ShowUnit(const WString& unit);
  void ShowReadouts();
  // Colours (line and text alike), position and line width from the controls; the length
  // when the edit holds a number, rounded to thousandths (a truncation turned 0.29 into 289).
  void ReadInto(ScaleDisplayBlock* block) const;

  // The bar length as finished (Enter, leaving the edit, OK): the leading number of the text,
  // a "," read as the decimal point (".5" and "7,5" are 0.5 and 7.5). A text without a number,
  // or a negative one, is not taken: the edit goes back to the last length taken, without a
  // message box (nothing may interrupt the operator's typing). A length taken is shown as
  // "%.3f". Returns whether a length was taken, with its value.
  bool CommitLength(double* value);
  // The bar length a text holds, as CommitLength reads it.
  static std::optional<double> ReadLength(const QString& text);
  // Puts the last length taken back into the edit.
  void RevertLength();
  // Cuts a bar longer than `limitPixels` at `factor` units per pixel to that length ("%.3f").
  void LimitLength(double value, float factor, int limitPixels);
  // Sets the edit's text without running its change handler.
  void SetLengthText(const QString& text);

  QSlider* sliderX = nullptr;
  QSlider* sliderY = nullptr;
  QSlider* sliderWidth = nullptr;
  ColorButton* color = nullptr;
  QCheckBox* enable = nullptr;
  QLineEdit* length = nullptr;

 private:
  QWidget* host_ = nullptr;
  QString lastGood_;
};

}  // namespace editors
