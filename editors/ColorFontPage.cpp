#include "editors/ColorFontPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QSignalBlocker>
#include <QSlider>

#include "ui/AppHost.h"
#include "ui/DlgTexts.h"
#include "editors/ColorButton.h"
#include "measure/MeasureManager.h"

using editors::ColorButton;
using ui::Ctl;

namespace {

// A colour button made by hand and put where the table left a placeholder row.
ColorButton* PlaceColorButton(QWidget* group, int id, int row, int col) {
  auto* b = new ColorButton(group);
  ui::SetCtrlId(b, id);
  if (auto* grid = qobject_cast<QGridLayout*>(group->layout())) grid->addWidget(b, row, col);
  return b;
}

}  // namespace

CColorFontDlg::CColorFontDlg(QWidget* parent) : QWidget(parent) {
  // Line group: colour, width; text group: colour, size, offsets; fill.
  const ui::CtrlMap m = ui::BuildControls(
      this, {
                {kLineGroup, Ctl::Group},
                {kLineColorLabel, Ctl::Label, kLineGroup},
                {kLineWidthLabel, Ctl::Label, kLineGroup},
                {kLineWidthMin, Ctl::Label, kLineGroup, 1},
                {kLineWidth, Ctl::Slider, kLineGroup, 2},
                {kLineWidthMax, Ctl::Label, kLineGroup, 3},
                {kFill, Ctl::Check, kLineGroup},
                {kTextGroup, Ctl::Group},
                {kTextColorLabel, Ctl::Label, kTextGroup},
                {kFontLabel, Ctl::Label, kTextGroup},
                {kFontMin, Ctl::Label, kTextGroup, 1},
                {kFont, Ctl::Slider, kTextGroup, 2},
                {kFontMax, Ctl::Label, kTextGroup, 3},
                {kOffsetXLabel, Ctl::Label, kTextGroup},
                {kOffsetX, Ctl::Slider, kTextGroup, 1, 3},
                {kOffsetYLabel, Ctl::Label, kTextGroup},
                {kOffsetY, Ctl::Slider, kTextGroup, 1, 3},
            });
  QWidget* line = m.Get(kLineGroup);
  QWidget* text = m.Get(kTextGroup);
  lineColor_ = PlaceColorButton(line, kLineColor, 0, 1);
  fillColor_ = PlaceColorButton(line, kFillColor, 2, 1);
  textColor_ = PlaceColorButton(text, kTextColor, 0, 1);
  lineWidth_ = m.Find<QSlider>(kLineWidth);
  font_ = m.Find<QSlider>(kFont);
  fill_ = m.Find<QCheckBox>(kFill);
  offsetX_ = m.Find<QSlider>(kOffsetX);
  offsetY_ = m.Find<QSlider>(kOffsetY);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(2, 1);

  lineWidth_->setRange(1, 20);
  font_->setRange(1, 50);
  offsetX_->setRange(-200, 200);
  offsetY_->setRange(-200, 200);
  fillColor_->setEnabled(false);
  LoadDlgItemTexts(this);

  for (QSlider* s : {lineWidth_, font_, offsetX_, offsetY_})
    connect(s, &QSlider::valueChanged, this, &CColorFontDlg::ApplyStyle);
  for (ColorButton* b : {lineColor_, textColor_, fillColor_})
    connect(b, &ColorButton::ColorChanged, this, &CColorFontDlg::ApplyStyle);
  connect(fill_, &QCheckBox::clicked, this, &CColorFontDlg::OnBnClickedFill);
}

void CColorFontDlg::ApplyStyle() {
  if (CMeasureManager* mm = AppHost().Measure()) {
    mm->SetSelectedMeasureStyle(lineColor_->Color(), lineWidth_->value(), textColor_->Color(), font_->value(),
                                fill_->isChecked() ? 1 : 0, fillColor_->Color(), offsetX_->value(),
                                offsetY_->value());
  }
  AppHost().RedrawView();
}

void CColorFontDlg::OnBnClickedFill() {
  fillColor_->setEnabled(fill_->isChecked());
  ApplyStyle();
}

void CColorFontDlg::LoadStyle(const MEASUREBASE& rec, bool fillAllowed) {
  {
    const QSignalBlocker b1(lineWidth_), b2(font_), b3(offsetX_), b4(offsetY_);
    lineColor_->SetColor(rec.m_clrPen);
    textColor_->SetColor(rec.m_clrText);
    fillColor_->SetColor(rec.m_clrFill);
    fill_->setChecked(rec.m_bFill);
    lineWidth_->setValue(rec.m_nPenWidth);
    font_->setValue(rec.m_nFontHeight - 19);
    offsetX_->setValue(rec.m_nTextOffsetX);
    offsetY_->setValue(rec.m_nTextOffsetY);
  }
  fill_->setEnabled(fillAllowed);
  fillColor_->setEnabled(fillAllowed && rec.m_bFill);
  ApplyStyle();
}
