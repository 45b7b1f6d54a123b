#include "editors/ScaleBarControls.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "ui/DialogBuilder.h"
#include "editors/ColorButton.h"
#include "editors/EditorText.h"

namespace editors {

using ui::Ctl;

void ScaleBarControls::Build(QWidget* host) {
  host_ = host;
  const ui::CtrlMap m = ui::BuildControls(host, {
                                                    {kEnable, Ctl::Check, 0, 0, 3},
                                                    {kColorCaption, Ctl::Label},
                                                    {kXCaption, Ctl::Label},
                                                    {kSliderX, Ctl::Slider, 0, 1},
                                                    {kLabelX, Ctl::Label, 0, 2},
                                                    {kYCaption, Ctl::Label},
                                                    {kSliderY, Ctl::Slider, 0, 1},
                                                    {kLabelY, Ctl::Label, 0, 2},
                                                    {kWidthCaption, Ctl::Label},
                                                    {kSliderWidth, Ctl::Slider, 0, 1},
                                                    {kLabelWidth, Ctl::Label, 0, 2},
                                                    {kLengthCaption, Ctl::Label},
                                                    {kLength, Ctl::Edit, 0, 1},
                                                    {kLabelUnit, Ctl::Label, 0, 2},
                                                });
  color = new ColorButton(host);
  ui::SetCtrlId(color, kColor);
  if (auto* grid = qobject_cast<QGridLayout*>(host->layout())) grid->addWidget(color, 1, 1);
  sliderX = m.Find<QSlider>(kSliderX);
  sliderY = m.Find<QSlider>(kSliderY);
  sliderWidth = m.Find<QSlider>(kSliderWidth);
  enable = m.Find<QCheckBox>(kEnable);
  length = m.Find<QLineEdit>(kLength);
  const QSignalBlocker b1(sliderX), b2(sliderY), b3(sliderWidth);
  sliderX->setRange(1, 99);
  sliderY->setRange(1, 99);
  sliderWidth->setRange(1, 20);
}

void ScaleBarControls::ShowReadouts() {
  ui::FindCtrl<QLabel>(host_, kLabelX)->setText(Q(FormatW(u"%d%%", sliderX->value())));
  ui::FindCtrl<QLabel>(host_, kLabelY)->setText(Q(FormatW(u"%d%%", sliderY->value())));
  ui::FindCtrl<QLabel>(host_, kLabelWidth)->setText(Q(FormatW(u"%d", sliderWidth->value())));
}

void ScaleBarControls::ShowUnit(const WString& unit) { ui::FindCtrl<QLabel>(host_, kLabelUnit)->setText(Q(unit)); }

void ScaleBarControls::Show(const ScaleDisplayBlock& block, const WString& unit) {
  {
    const QSignalBlocker b1(sliderX), b2(sliderY), b3(sliderWidth);
    sliderX->setValue(block.xPercent);
    sliderY->setValue(block.yPercent);
    sliderWidth->setValue(block.lineWidth);
  }
  color->SetColor(COLORREF(block.lineColor));
  enable->setChecked(block.enable != 0);
  SetLengthText(Q(FormatW(u"%.3f", double(block.length) / 1000.0)));
  ShowUnit(unit);
  ShowReadouts();
}

void ScaleBarControls::ReadInto(ScaleDisplayBlock* b) const {
  b->lineColor = std::int32_t(color->Color());
  b->textColor = std::int32_t(color->Color());
  b->xPercent = sliderX->value();
  b->yPercent = sliderY->value();
  b->lineWidth = sliderWidth->value();
  if (const std::optional<double> v = ReadLength(length->text()))
    b->length = std::int32_t(std::lround(std::min(*v * 1000.0, 2147483647.0)));
}

void ScaleBarControls::SetLengthText(const QString& text) {
  const QSignalBlocker block(length);
  length->setText(text);
  lastGood_ = text;
}

std::optional<double> ScaleBarControls::ReadLength(const QString& text) {
  std::string ascii;
  for (QChar c : text.trimmed()) {
    if (c.unicode() >= 0x80) break;
    ascii.push_back(c == u',' ? '.' : char(c.unicode()));
  }
  const char* p = ascii.c_str();
  const char* end = p + ascii.size();
  if (p != end && *p == '+') ++p;
  double v = 0.0;
  const auto r = std::from_chars(p, end, v, std::chars_format::fixed);
  if (r.ec != std::errc() || !std::isfinite(v) || v < 0.0) return std::nullopt;
  return v;
}

bool ScaleBarControls::CommitLength(double* value) {
  const std::optional<double> v = ReadLength(length->text());
  if (!v) {
    RevertLength();
    return false;
  }
  SetLengthText(Q(FormatW(u"%.3f", *v)));
  if (value) *value = *v;
  return true;
}

void ScaleBarControls::RevertLength() { SetLengthText(lastGood_); }

void ScaleBarControls::LimitLength(double value, float factor, int limitPixels) {
  // Set once, without firing the change again: the cut value cannot start a loop.
  if (factor > 0.0f && value / double(factor) > double(limitPixels))
    SetLengthText(Q(FormatW(u"%.3f", double(limitPixels) * double(factor))));
}

}  // namespace editors
