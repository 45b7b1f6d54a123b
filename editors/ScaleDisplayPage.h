#pragma once
// ScaleDisplaySetDlg: the layer editor's scale display page: the scale bar's switch, position,
// colour, line width and length in the calibrated unit. Every change goes at once to the
// engine's SetScale with the engine's current factor and unit.
#include <QWidget>

#include "editors/ScaleBarControls.h"
#include "measure/MeasureManager.h"

class ScaleDisplaySetDlg : public QWidget {
  Q_OBJECT
 public:
  using Ids = editors::ScaleBarControls;

  explicit ScaleDisplaySetDlg(QWidget* parent = nullptr);

  // Shows the engine's scale: sliders, colour, enable, the length as "%.3f" and the unit.
  void Fill(float factor, const WString& unit, const ScaleDisplayBlock& block);
  void ApplyDisplay();
  void OnBnClickedDisplayEnable();
  // The length edit was finished (Enter or leaving it): a bar longer than the image less 20 px
  // is cut to that; a text without a length, a negative length or a factor of 0 put the last
  // length back.
  void OnEnChangeLength();

  const ScaleDisplayBlock& Block() const { return block_; }
  const editors::ScaleBarControls& Bar() const { return bar_; }

 private:
  // The widest bar in image pixels: the image width less 20 (1000 px without an image).
  int LimitPixels() const;

  editors::ScaleBarControls bar_;
  ScaleDisplayBlock block_;
  WString unit_;
  float factor_ = 1.0f;
};
