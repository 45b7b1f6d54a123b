#include "options/OptMeasurePage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "ui/DlgTexts.h"
#include "options/OptionsCommon.h"

using namespace options;
using ui::Ctl;

namespace {
constexpr char kColorProperty[] = "colorRef";
}  // namespace

COptMeasureDlg::COptMeasureDlg(QWidget* parent) : QWidget(parent) {
  ctrls_ = ui::BuildControls(this, {
                                       {kStrSelectionLine, Ctl::Group},
                                       {kStrLineType, Ctl::Label, kStrSelectionLine},
                                       {IDC_LINE_TYPE, Ctl::Combo, kStrSelectionLine, 1, 2},
                                       {kStrLineColor, Ctl::Label, kStrSelectionLine},
                                       {IDC_SEL_COLOR, Ctl::Button, kStrSelectionLine, 1},
                                       {kStrGrid, Ctl::Group},
                                       {kStrGridInterval, Ctl::Label, kStrGrid},
                                       {IDC_GRID_INTERVAL, Ctl::Slider, kStrGrid, 1},
                                       {IDC_GRID_INTERVAL_TEXT, Ctl::Label, kStrGrid, 2},
                                       {kStrGridWidth, Ctl::Label, kStrGrid},
                                       {IDC_GRID_WIDTH, Ctl::Slider, kStrGrid, 1},
                                       {IDC_GRID_WIDTH_TEXT, Ctl::Label, kStrGrid, 2},
                                       {kStrGridColor, Ctl::Label, kStrGrid},
                                       {IDC_GRID_COLOR, Ctl::Button, kStrGrid, 1},
                                   });
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(2, 1);
  auto* type = ctrls_.Find<QComboBox>(IDC_LINE_TYPE);
  for (std::uint32_t id = 60046; id <= 60050; ++id) type->addItem(Str(id));
  type->setCurrentIndex(-1);
  ctrls_.Find<QSlider>(IDC_GRID_INTERVAL)->setRange(1, 1000);
  ctrls_.Find<QSlider>(IDC_GRID_WIDTH)->setRange(1, 10);
  for (int id : {IDC_GRID_INTERVAL_TEXT, IDC_GRID_WIDTH_TEXT}) ctrls_.Get(id)->setMinimumWidth(40);
  NoAutoDefault(this);

  for (int id : {IDC_SEL_COLOR, IDC_GRID_COLOR}) {
    SetButtonColor(id, 0);
    connect(ctrls_.Find<QPushButton>(id), &QPushButton::clicked, this, [this, id] {
      if (const auto c = Prompts().PickColor(this, ButtonColor(ctrls_.Get(id)))) SetButtonColor(id, *c);
    });
  }
  // The value texts follow the sliders: read every control and show them again.
  for (int id : {IDC_GRID_INTERVAL, IDC_GRID_WIDTH})
    connect(ctrls_.Find<QSlider>(id), &QSlider::valueChanged, this, [this] { LoadSettings(SaveSettings()); });
  LoadDlgItemTexts(this);
}

COLORREF COptMeasureDlg::ButtonColor(const QWidget* button) {
  return button ? COLORREF(button->property(kColorProperty).toUInt()) : 0;
}

void COptMeasureDlg::SetButtonColor(int id, COLORREF color) {
  auto* button = ctrls_.Find<QPushButton>(id);
  button->setProperty(kColorProperty, uint(color));
  QPixmap swatch(48, 14);
  swatch.fill(ToQColor(color));
  button->setIcon(QIcon(swatch));
  button->setIconSize(swatch.size());
}

void COptMeasureDlg::LoadSettings(stGridSetting s) {
  const QSignalBlocker blockType(ctrls_.Get(IDC_LINE_TYPE));
  ctrls_.Find<QComboBox>(IDC_LINE_TYPE)->setCurrentIndex(s.selectLineType >= 0 && s.selectLineType < 5 ? s.selectLineType : -1);
  auto setSlider = [this](int slider, int text, int value) {
    auto* s = ctrls_.Find<QSlider>(slider);
    const QSignalBlocker block(s);
    s->setValue(value);
    ctrls_.Find<QLabel>(text)->setText(QStr(FormatW(u"%d", value)));
  };
  setSlider(IDC_GRID_WIDTH, IDC_GRID_WIDTH_TEXT, s.gridWidth);
  setSlider(IDC_GRID_INTERVAL, IDC_GRID_INTERVAL_TEXT, s.gridInterval);
  SetButtonColor(IDC_SEL_COLOR, s.selectLineColor);
  SetButtonColor(IDC_GRID_COLOR, s.gridColor);
}

stGridSetting COptMeasureDlg::SaveSettings() const {
  stGridSetting s;  // {100, 1, 0, 2, 1, green}
  s.selectLineType = ctrls_.Find<QComboBox>(IDC_LINE_TYPE)->currentIndex();
  s.selectLineColor = ButtonColor(ctrls_.Get(IDC_SEL_COLOR));
  s.gridColor = ButtonColor(ctrls_.Get(IDC_GRID_COLOR));
  s.gridInterval = ctrls_.Find<QSlider>(IDC_GRID_INTERVAL)->value();
  s.gridWidth = ctrls_.Find<QSlider>(IDC_GRID_WIDTH)->value();
  return s;
}
