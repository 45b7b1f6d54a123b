// The panel's structure: the control table, the wiring of every control to its handler, the
// key filter (Enter applies the exposure field), enabling, and the small control helpers.
#include "imaging/CamSetupDlg.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <charconv>

#include "ui/AppHost.h"
#include "ui/CameraAnswer.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "imaging/CamSetupInternal.h"
#include "platform/strings.h"

using ui::Ctl;
using namespace camsetup;

// ---- spin button

CamSpinButton::CamSpinButton(QWidget* parent) : QSpinBox(parent) {
  setRange(0, 65535);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setKeyboardTracking(false);
  // Only the arrows show: the buddy edit shows and takes the value.
  lineEdit()->setReadOnly(true);
  lineEdit()->hide();
  setFixedWidth(18);
}

void CamSpinButton::SetPos(int pos) {
  {
    const QSignalBlocker block(this);
    setValue(pos);
  }
  if (buddy_ && buddy_->text() != QString::number(value())) buddy_->setText(QString::number(value()));
}

void CamSpinButton::stepBy(int steps) {
  if (steps == 0) return;
  const int delta = steps > 0 ? 1 : -1;
  if (handler_) handler_(delta);
  // Then the spin's own move, refused at the ends of its range.
  const int next = value() + delta;
  if (next >= minimum() && next <= maximum()) SetPos(next);
}

// ---- the control table

namespace {

// Groups top to bottom, each a grid of four columns.
const std::vector<ui::CtrlDef>& Table() {
  static const std::vector<ui::CtrlDef> table = {
      {kCameraCombo, Ctl::Combo, 0, 0, 3},
      {kDetectCamerasButton, Ctl::Button, 0, 3, 1},
      // Resolution
      {kResolutionGroup, Ctl::Group, 0, 0, 4},
      {kPreviewSizeLabel, Ctl::Label, kResolutionGroup, 0, 1},
      {kPreviewSizeCombo, Ctl::Combo, kResolutionGroup, 1, 3},
      {kCaptureSizeLabel, Ctl::Label, kResolutionGroup, 0, 1},
      {kCaptureSizeCombo, Ctl::Combo, kResolutionGroup, 1, 3},
      {kRoiParamLabel, Ctl::Label, kResolutionGroup, 0, 4},
      {kRoiXEdit, Ctl::Edit, kResolutionGroup, 0, 2},
      {kRoiYEdit, Ctl::Edit, kResolutionGroup, 2, 2},
      {kRoiWidthEdit, Ctl::Edit, kResolutionGroup, 0, 2},
      {kRoiHeightEdit, Ctl::Edit, kResolutionGroup, 2, 2},
      {kRoiSettingButton, Ctl::Button, kResolutionGroup, 0, 4},
      // Exposure Control
      {kExposureGroup, Ctl::Group, 0, 0, 4},
      {kAutoExposureCheck, Ctl::Check, kExposureGroup, 0, 2},
      {kRegionAutoExposureCheck, Ctl::Check, kExposureGroup, 2, 2},
      {kAeAdjustGainCheck, Ctl::Check, kExposureGroup, 0, 2},
      {kAeAdjustExposureCheck, Ctl::Check, kExposureGroup, 2, 2},
      {kFocusAssistCheck, Ctl::Check, kExposureGroup, 0, 4},
      {kAeSchemeLabel, Ctl::Label, kExposureGroup, 0, 1},
      {kAeSchemeCombo, Ctl::Combo, kExposureGroup, 1, 3},
      {kAeTargetLabel, Ctl::Label, kExposureGroup, 0, 1},
      {kAeTargetReadout, Ctl::Edit, kExposureGroup, 3, 1},
      {kAeTargetMinLabel, Ctl::Label, kExposureGroup, 0, 1},
      {kAeTargetSlider, Ctl::Slider, kExposureGroup, 1, 2},
      {kAeTargetMaxLabel, Ctl::Label, kExposureGroup, 3, 1},
      {kAnalogGainLabel, Ctl::Label, kExposureGroup, 0, 1},
      {kAnalogGainReadout, Ctl::Edit, kExposureGroup, 3, 1},
      {kAnalogGainMinLabel, Ctl::Label, kExposureGroup, 0, 1},
      {kAnalogGainSlider, Ctl::Slider, kExposureGroup, 1, 2},
      {kAnalogGainMaxLabel, Ctl::Label, kExposureGroup, 3, 1},
      {kExposureTimeLabel, Ctl::Label, kExposureGroup, 0, 4},
      {kExposureMinutesEdit, Ctl::Edit, kExposureGroup, 0, 2},
      {kExposureMinutesSpin, Ctl::Spin, kExposureGroup, 2, 1},
      {kExposureMinutesLabel, Ctl::Label, kExposureGroup, 3, 1},
      {kExposureSecondsEdit, Ctl::Edit, kExposureGroup, 0, 2},
      {kExposureSecondsSpin, Ctl::Spin, kExposureGroup, 2, 1},
      {kExposureSecondsLabel, Ctl::Label, kExposureGroup, 3, 1},
      {kExposureMsEdit, Ctl::Edit, kExposureGroup, 0, 2},
      {kExposureMsSpin, Ctl::Spin, kExposureGroup, 2, 1},
      {kExposureMsLabel, Ctl::Label, kExposureGroup, 3, 1},
      {kExposureUsEdit, Ctl::Edit, kExposureGroup, 0, 2},
      {kExposureUsSpin, Ctl::Spin, kExposureGroup, 2, 1},
      {kExposureUsLabel, Ctl::Label, kExposureGroup, 3, 1},
      // Image Adjustment
      {kImageAdjustGroup, Ctl::Group, 0, 0, 4},
      {kGammaLabel, Ctl::Label, kImageAdjustGroup, 0, 1},
      {kGammaSlider, Ctl::Slider, kImageAdjustGroup, 1, 2},
      {kGammaReadout, Ctl::Edit, kImageAdjustGroup, 3, 1},
      {kContrastLabel, Ctl::Label, kImageAdjustGroup, 0, 1},
      {kContrastSlider, Ctl::Slider, kImageAdjustGroup, 1, 2},
      {kContrastReadout, Ctl::Edit, kImageAdjustGroup, 3, 1},
      {kBlackLevelLabel, Ctl::Label, kImageAdjustGroup, 0, 1},
      {kBlackLevelSlider, Ctl::Slider, kImageAdjustGroup, 1, 2},
      {kBlackLevelReadout, Ctl::Edit, kImageAdjustGroup, 3, 1},
      {kAdaptiveBlackLevelCheck, Ctl::Check, kImageAdjustGroup, 0, 4},
      // Color Adjustment
      {kColourAdjustGroup, Ctl::Group, 0, 0, 4},
      {kOnceWhiteBalanceButton, Ctl::Button, kColourAdjustGroup, 0, 2},
      {kRegionWhiteBalanceCheck, Ctl::Check, kColourAdjustGroup, 2, 1},
      {kAutoWhiteBalanceCheck, Ctl::Check, kColourAdjustGroup, 3, 1},
      {kRedGainMinLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kRedGainMaxLabel, Ctl::Label, kColourAdjustGroup, 3, 1},
      {kRedGainLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kRedGainSlider, Ctl::Slider, kColourAdjustGroup, 1, 2},
      {kRedGainReadout, Ctl::Edit, kColourAdjustGroup, 3, 1},
      {kGreenGainMinLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kGreenGainMaxLabel, Ctl::Label, kColourAdjustGroup, 3, 1},
      {kGreenGainLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kGreenGainSlider, Ctl::Slider, kColourAdjustGroup, 1, 2},
      {kGreenGainReadout, Ctl::Edit, kColourAdjustGroup, 3, 1},
      {kBlueGainMinLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kBlueGainMaxLabel, Ctl::Label, kColourAdjustGroup, 3, 1},
      {kBlueGainLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kBlueGainSlider, Ctl::Slider, kColourAdjustGroup, 1, 2},
      {kBlueGainReadout, Ctl::Edit, kColourAdjustGroup, 3, 1},
      {kSaturationLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kSaturationSlider, Ctl::Slider, kColourAdjustGroup, 1, 2},
      {kSaturationReadout, Ctl::Edit, kColourAdjustGroup, 3, 1},
      {kSaturationMinLabel, Ctl::Label, kColourAdjustGroup, 0, 1},
      {kSaturationMaxLabel, Ctl::Label, kColourAdjustGroup, 3, 1},
      // Image Optimization
      {kImageOptimizeGroup, Ctl::Group, 0, 0, 4},
      {kSharpnessLabel, Ctl::Label, kImageOptimizeGroup, 0, 1},
      {kSharpnessSlider, Ctl::Slider, kImageOptimizeGroup, 1, 2},
      {kSharpnessReadout, Ctl::Edit, kImageOptimizeGroup, 3, 1},
      {kSharpnessMinLabel, Ctl::Label, kImageOptimizeGroup, 0, 1},
      {kSharpnessMaxLabel, Ctl::Label, kImageOptimizeGroup, 3, 1},
      {kInverseCheck, Ctl::Check, kImageOptimizeGroup, 0, 1},
      {kMonochromeCheck, Ctl::Check, kImageOptimizeGroup, 1, 1},
      {kFlipVerticalCheck, Ctl::Check, kImageOptimizeGroup, 2, 1},
      {kFlipHorizontalCheck, Ctl::Check, kImageOptimizeGroup, 3, 1},
      // Dead Pixel Correction
      {kDeadPixelGroup, Ctl::Group, 0, 0, 4},
      {kDeadPixelCorrectionCheck, Ctl::Check, kDeadPixelGroup, 0, 2},
      {kCalcDeadPixelsButton, Ctl::Button, kDeadPixelGroup, 2, 2},
      // Light Frequency
      {kLightFrequencyGroup, Ctl::Group, 0, 0, 4},
      {kAntiFlickDcRadio, Ctl::Radio, kLightFrequencyGroup, 0, 1},
      {kAntiFlick50HzRadio, Ctl::Radio, kLightFrequencyGroup, 1, 1},
      {kAntiFlick60HzRadio, Ctl::Radio, kLightFrequencyGroup, 2, 1},
      // Media Type
      {kMediaTypeGroup, Ctl::Group, 0, 0, 4},
      {kMediaTypeCombo, Ctl::Combo, kMediaTypeGroup, 0, 4},
      // Frame Speed
      {kFrameSpeedGroup, Ctl::Group, 0, 0, 4},
      {kFrameSpeedLowRadio, Ctl::Radio, kFrameSpeedGroup, 0, 1},
      {kFrameSpeedNormalRadio, Ctl::Radio, kFrameSpeedGroup, 1, 1},
      {kFrameSpeedHighRadio, Ctl::Radio, kFrameSpeedGroup, 2, 1},
      // Save and load parameter
      {kParamTeamGroup, Ctl::Group, 0, 0, 4},
      {kTeamARadio, Ctl::Radio, kParamTeamGroup, 0, 1},
      {kTeamBRadio, Ctl::Radio, kParamTeamGroup, 1, 1},
      {kTeamCRadio, Ctl::Radio, kParamTeamGroup, 2, 1},
      {kTeamDRadio, Ctl::Radio, kParamTeamGroup, 3, 1},
      {kSaveParamButton, Ctl::Button, kParamTeamGroup, 0, 1},
      {kReadParamButton, Ctl::Button, kParamTeamGroup, 1, 1},
      {kFactoryDefaultButton, Ctl::Button, kParamTeamGroup, 2, 1},
      // The single-field exposure input below the groups: never shown, still written.
      {kExposureFieldLabel, Ctl::Label, 0, 0, 1},
      {kExposureFieldEdit, Ctl::Edit, 0, 1, 1},
      {kExposureFieldUnitLabel, Ctl::Label, 0, 2, 1},
      {kSetExposureButton, Ctl::Button, 0, 3, 1},
  };
  return table;
}

constexpr int kReadouts[] = {kAeTargetReadout, kAnalogGainReadout, kGammaReadout, kContrastReadout,
                             kBlackLevelReadout, kRedGainReadout, kGreenGainReadout, kBlueGainReadout,
                             kSaturationReadout, kSharpnessReadout};

}  // namespace

namespace camsetup {

const std::vector<int>& CameraControlIds() {
  static const std::vector<int> ids = {
      kPreviewSizeCombo, kCaptureSizeCombo, kRoiXEdit, kRoiYEdit, kRoiWidthEdit, kRoiHeightEdit, kRoiSettingButton,
      kAutoExposureCheck, kRegionAutoExposureCheck, kAeAdjustGainCheck, kAeAdjustExposureCheck, kFocusAssistCheck,
      kAeSchemeCombo, kAeTargetSlider, kAnalogGainSlider,
      kExposureMinutesEdit, kExposureSecondsEdit, kExposureMsEdit, kExposureUsEdit,
      kExposureMinutesSpin, kExposureSecondsSpin, kExposureMsSpin, kExposureUsSpin,
      kExposureFieldEdit, kSetExposureButton,
      kGammaSlider, kContrastSlider, kBlackLevelSlider, kAdaptiveBlackLevelCheck,
      kOnceWhiteBalanceButton, kRegionWhiteBalanceCheck, kAutoWhiteBalanceCheck,
      kRedGainSlider, kGreenGainSlider, kBlueGainSlider, kSaturationSlider, kSharpnessSlider,
      kInverseCheck, kMonochromeCheck, kFlipVerticalCheck, kFlipHorizontalCheck,
      kDeadPixelCorrectionCheck, kCalcDeadPixelsButton,
      kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio, kMediaTypeCombo,
      kFrameSpeedLowRadio, kFrameSpeedNormalRadio, kFrameSpeedHighRadio,
      kTeamARadio, kTeamBRadio, kTeamCRadio, kTeamDRadio, kSaveParamButton, kReadParamButton, kFactoryDefaultButton,
      kRoiParamLabel};
  return ids;
}

QString Fmt(WStringView fmt, std::int64_t v) { return QString::fromStdU16String(FormatW(fmt, v)); }
QString FmtF(WStringView fmt, double v) { return QString::fromStdU16String(FormatW(fmt, v)); }
QString Str(std::uint32_t id) { return QString::fromStdU16String(LoadStringW(id)); }

double ReadDecimal(const QString& text) {
  const std::string s = text.trimmed().toStdString();
  double v = 0;
  // The numeric prefix, with "." whatever the locale; nothing readable gives 0.
  if (std::from_chars(s.data(), s.data() + s.size(), v).ec != std::errc()) return 0;
  return v;
}

std::int64_t ReadInt64(const QString& text) {
  const std::string s = text.trimmed().toStdString();
  return std::strtoll(s.c_str(), nullptr, 10);
}

std::int64_t Truncate(double v) {
  if (!(v == v)) return 0;  // NaN
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return std::int64_t(v);
}

}  // namespace camsetup

// ---- construction

CCamSetupDlg::CCamSetupDlg(QWidget* parent, std::unique_ptr<CamSetupClock> clock)
    : QWidget(parent), clock_(clock ? std::move(clock) : std::make_unique<QtCamSetupClock>()) {
  ui::SetCtrlId(this, kCamSetupPanel);
  BuildPanel();
  Connect();
  LoadDlgItemTexts(this);
  for (std::uint32_t id : {64110u, 64111u, 64112u, 64113u})  // AE Old, AE Fast, AE Fast Microscope, AE Fluorochrome
    Combo(kAeSchemeCombo)->addItem(QString::fromStdU16String(LoadStringW(id)));
  clock_->SetTimerSink([this](int id) { OnTimer(id); });
  clock_->StartTimer(kTimerDetect, 800);  // the first detection
}

CCamSetupDlg::~CCamSetupDlg() {
  clock_->SetTimerSink({});
}

void CCamSetupDlg::BuildPanel() {
  ctrls_ = ui::BuildControls(this, Table());
  // Spin buttons stand beside their buddy edits.
  for (int i = 0; i < 4; ++i) {
    QWidget* old = ctrls_.Get(kExposureSpins[i]);
    auto* spin = new CamSpinButton(old->parentWidget());
    ui::SetCtrlId(spin, kExposureSpins[i]);
    delete old->parentWidget()->layout()->replaceWidget(old, spin);
    delete old;
    ctrls_.Add(kExposureSpins[i], spin);
    spin->SetBuddy(Edit(kExposureEdits[i]));
  }
  for (int id : kReadouts) ui::SetReadout(Edit(id));
  // The gain read-out also takes a typed gain (Enter applies it) while the gain slider is usable.
  QLineEdit* gain = Edit(kAnalogGainReadout);
  gain->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*[.]?[0-9]*x?")), gain));
  // A control takes the wheel only once it was clicked into; the wheel alone never focuses it.
  for (QWidget* w : findChildren<QWidget*>())
    if ((w->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
  for (int id : {kExposureFieldLabel, kExposureFieldEdit, kExposureFieldUnitLabel, kSetExposureButton})
    ctrls_.Get(id)->hide();
  for (QSlider* s : findChildren<QSlider*>()) s->setPageStep(1);
  // The lists are filled only when a camera comes: their width must not depend on what they
  // hold, or the panel would outgrow its pane then.
  for (QComboBox* c : findChildren<QComboBox*>()) {
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(10);
  }
  // Radio groups: exclusive while the operator clicks; cleared by the handlers when needed.
  for (const auto& ids : {std::vector<int>{kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio},
                          std::vector<int>{kFrameSpeedLowRadio, kFrameSpeedNormalRadio, kFrameSpeedHighRadio},
                          std::vector<int>{kTeamARadio, kTeamBRadio, kTeamCRadio, kTeamDRadio}}) {
    auto* group = new QButtonGroup(this);
    for (int id : ids) group->addButton(ctrls_.Find<QRadioButton>(id), id);
  }
  for (int id : CameraControlIds()) Enable(id, false);
  InstallKeyFilter(this);
}

void CCamSetupDlg::Connect() {
  const std::pair<int, void (CCamSetupDlg::*)()> sliders[] = {
      {kAeTargetSlider, &CCamSetupDlg::OnAeTargetChanged},
      {kAnalogGainSlider, &CCamSetupDlg::OnAnalogGainChanged},
      {kGammaSlider, &CCamSetupDlg::OnGammaChanged},
      {kContrastSlider, &CCamSetupDlg::OnContrastChanged},
      {kBlackLevelSlider, &CCamSetupDlg::SetBlackLevel},
      {kSaturationSlider, &CCamSetupDlg::OnSaturationChanged},
      {kSharpnessSlider, &CCamSetupDlg::OnSharpnessChanged}};
  for (const auto& [id, handler] : sliders)
    connect(Slider(id), &QSlider::valueChanged, this, [this, h = handler] { (this->*h)(); });
  for (int id : {kRedGainSlider, kGreenGainSlider, kBlueGainSlider})
    connect(Slider(id), &QSlider::valueChanged, this, [this, id] { OnColourGainChanged(id); });

  const std::pair<int, void (CCamSetupDlg::*)()> clicks[] = {
      {kDetectCamerasButton, &CCamSetupDlg::DetectCameras},
      {kRoiSettingButton, &CCamSetupDlg::OnBnClickedRoiSetting},
      {kAutoExposureCheck, &CCamSetupDlg::OnBnClickedAutoExposure},
      {kRegionAutoExposureCheck, &CCamSetupDlg::OnBnClickedRegionAutoExposure},
      {kAeAdjustGainCheck, &CCamSetupDlg::OnBnClickedAeAdjustGain},
      {kAeAdjustExposureCheck, &CCamSetupDlg::OnBnClickedAeAdjustExposure},
      {kFocusAssistCheck, &CCamSetupDlg::OnBnClickedFluorescenceFocus},
      {kSetExposureButton, &CCamSetupDlg::OnBnClickedSetExposure},
      {kAdaptiveBlackLevelCheck, &CCamSetupDlg::OnBnClickedAdaptiveBlackLevel},
      {kOnceWhiteBalanceButton, &CCamSetupDlg::OnBnClickedOnceWhiteBalance},
      {kRegionWhiteBalanceCheck, &CCamSetupDlg::OnBnClickedRegionWhiteBalance},
      {kAutoWhiteBalanceCheck, &CCamSetupDlg::OnBnClickedAutoWhiteBalance},
      {kCalcDeadPixelsButton, &CCamSetupDlg::OnBnClickedCalcDeadPixels},
      {kSaveParamButton, &CCamSetupDlg::OnBnClickedSaveParam},
      {kReadParamButton, &CCamSetupDlg::OnBnClickedReadParam},
      {kFactoryDefaultButton, &CCamSetupDlg::OnBnClickedFactoryDefault}};
  for (const auto& [id, handler] : clicks)
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, [this, h = handler] { (this->*h)(); });
  for (int id : {kDeadPixelCorrectionCheck, kInverseCheck, kMonochromeCheck, kFlipVerticalCheck, kFlipHorizontalCheck})
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, [this, id] { OnBnClickedBox(id); });
  for (int id : {kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio})
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this,
            [this, id] { OnBnClickedAntiFlick(id); });
  for (int speed = 0; speed < 3; ++speed)
    connect(ctrls_.Find<QAbstractButton>(kFrameSpeedIds[speed]), &QAbstractButton::clicked, this,
            [this, speed] { OnBnClickedFrameSpeed(speed); });
  for (int team = 0; team < 4; ++team)
    connect(ctrls_.Find<QAbstractButton>(kTeamIds[team]), &QAbstractButton::clicked, this,
            [this, team] { OnBnClickedTeam(team); });

  connect(Combo(kCameraCombo), &QComboBox::activated, this, [this] { OnCameraSelChange(); });
  connect(Combo(kPreviewSizeCombo), &QComboBox::activated, this, [this] { OnPreviewSizeSelChange(); });
  connect(Combo(kCaptureSizeCombo), &QComboBox::activated, this, [this] { OnCaptureSizeSelChange(); });
  connect(Combo(kMediaTypeCombo), &QComboBox::activated, this, [this] { OnMediaTypeSelChange(); });
  connect(Combo(kAeSchemeCombo), &QComboBox::activated, this, [this] { OnAeSchemeSelChange(); });

  for (int id : kExposureEdits)
    connect(Edit(id), &QLineEdit::textChanged, this, [this, id] { OnEnChangeExposureField(id); });
  for (int id : {kExposureMinutesSpin, kExposureSecondsSpin})
    Spin(id)->SetDeltaHandler([this, id](int d) { OnDeltaPosMinutesOrSeconds(id, d); });
  Spin(kExposureMsSpin)->SetDeltaHandler([this](int d) { OnDeltaPosExposure(d); });
  Spin(kExposureUsSpin)->SetDeltaHandler([this](int d) { OnDeltaPosExposureUs(d); });
}

// Enter anywhere in the panel applies the exposure field; the hidden field takes numbers only.
void CCamSetupDlg::InstallKeyFilter(QWidget* root) {
  root->installEventFilter(this);
  for (QWidget* w : root->findChildren<QWidget*>()) w->installEventFilter(this);
}

// The wheel over a control the operator has not clicked into scrolls the panel instead: a
// slider, spin or drop-down passed on the way down the pane must not change the camera.
bool CCamSetupDlg::WheelScrollsPanel(QObject* watched, QEvent* event) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w || w == this) return false;
  const QWidget* focus = QApplication::focusWidget();
  if (focus && (focus == w || w->isAncestorOf(focus))) return false;  // clicked into: it takes the wheel
  for (QWidget* p = parentWidget(); p; p = p->parentWidget()) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(p)) {
      QCoreApplication::sendEvent(area->viewport(), event);
      break;
    }
  }
  event->accept();
  return true;
}

bool CCamSetupDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    if (WheelScrollsPanel(watched, event)) return true;
    return QWidget::eventFilter(watched, event);
  }
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const int k = key->key();
  const auto* widget = qobject_cast<QWidget*>(watched);
  const int id = widget ? ui::CtrlId(widget) : 0;
  if (watched == ctrls_.Get(kExposureFieldEdit)) {
    const bool allowed = (k >= Qt::Key_0 && k <= Qt::Key_9) || k == Qt::Key_Left || k == Qt::Key_Right ||
                         k == Qt::Key_Up || k == Qt::Key_Down || k == Qt::Key_Period || k == Qt::Key_Backspace ||
                         k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape;
    if (!allowed) return true;
  }
  const int* edit = std::find(std::begin(kExposureEdits), std::end(kExposureEdits), id);
  const bool exposureEdit = edit != std::end(kExposureEdits);
  if (k == Qt::Key_Return || k == Qt::Key_Enter) {
    // Enter applies what was typed in the field it was pressed in, and nothing else.
    if (exposureEdit)
      OnEnChangeExposureField(id);
    else if (id == kAnalogGainReadout)
      OnAnalogGainTyped();
    else if (id == kExposureFieldEdit)
      OnBnClickedSetExposure();
    return true;  // the panel has no default button that would close it
  }
  if (exposureEdit && (k == Qt::Key_Up || k == Qt::Key_Down)) {
    // The arrow keys in an exposure field step it as its spin's arrows do.
    CamSpinButton* spin = Spin(kExposureSpins[edit - std::begin(kExposureEdits)]);
    if (spin && spin->isEnabled()) spin->stepBy(k == Qt::Key_Up ? 1 : -1);
    return true;
  }
  if (k == Qt::Key_Escape) return true;
  return QWidget::eventFilter(watched, event);
}

// A click on empty space ends editing in an edit field.
void CCamSetupDlg::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (parentWidget()) parentWidget()->setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(event);
}

// ---- members and boxes

void CCamSetupDlg::UpdateData(bool save) {
  const std::pair<int, int*> boxes[] = {{kAutoExposureCheck, &m_bAutoExposure},
                                        {kDeadPixelCorrectionCheck, &m_bDeadPixelCorrection},
                                        {kInverseCheck, &m_bInverse},
                                        {kMonochromeCheck, &m_bMonochrome},
                                        {kFlipVerticalCheck, &m_bFlipVertical},
                                        {kFlipHorizontalCheck, &m_bFlipHorizontal},
                                        {kRegionWhiteBalanceCheck, &m_bRegionWB},
                                        {kRegionAutoExposureCheck, &m_bRegionAE},
                                        {kAdaptiveBlackLevelCheck, &m_bAdaptiveBlackLevel},
                                        {kAeAdjustGainCheck, &m_bAeAdjustGain},
                                        {kAeAdjustExposureCheck, &m_bAeAdjustExposure},
                                        {kFocusAssistCheck, &m_bFocusAssist},
                                        {kAutoWhiteBalanceCheck, &m_bAutoWB}};
  for (const auto& [id, member] : boxes) {
    if (save)
      *member = Check(id)->isChecked() ? 1 : 0;
    else
      SetChecked(id, *member != 0);
  }
}

CCameraProcess* CCamSetupDlg::Camera() const { return AppHost().Camera(); }

bool CCamSetupDlg::CurrentHandle(int* handle) const {
  CCameraProcess* camera = Camera();
  if (!camera) return false;
  stCameraItem item;
  if (camera->GetCurCameraItem(&item) < 0 || item.state == CAMERA_CLOSED || item.handle < 0) return false;
  if (handle) *handle = item.handle;
  return true;
}

// ---- enabling

bool CCamSetupDlg::IsColourControl(int id) const {
  switch (id) {
    case kOnceWhiteBalanceButton: case kRegionWhiteBalanceCheck: case kAutoWhiteBalanceCheck:
    case kRedGainSlider: case kGreenGainSlider: case kBlueGainSlider: case kSaturationSlider:
    case kMonochromeCheck:
    case kRedGainLabel: case kGreenGainLabel: case kBlueGainLabel:
      return true;
    default:
      return false;
  }
}

// The camera's capability block names the controls it lacks; theirs stay disabled.
bool CCamSetupDlg::IsLackingControl(int id) const {
  if (lacking_ == 0) return false;
  int need = 0;
  switch (id) {
    case kExposureMinutesEdit: case kExposureSecondsEdit: case kExposureMsEdit: case kExposureUsEdit:
    case kExposureMinutesSpin: case kExposureSecondsSpin: case kExposureMsSpin: case kExposureUsSpin:
    case kExposureFieldEdit: case kSetExposureButton: case kFocusAssistCheck:
      need = CAMSDK_CONTROL_EXPOSURE;
      break;
    case kAeAdjustExposureCheck:  // automatic exposure adjusting the exposure
      need = CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case kAeAdjustGainCheck:  // automatic exposure adjusting the gain
      need = CAMSDK_CONTROL_ANALOG_GAIN | CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case kAutoExposureCheck: case kRegionAutoExposureCheck: case kAeTargetSlider: case kAeSchemeCombo:
    case kAntiFlickDcRadio: case kAntiFlick50HzRadio: case kAntiFlick60HzRadio:
      need = CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case kAnalogGainSlider: need = CAMSDK_CONTROL_ANALOG_GAIN; break;
    case kOnceWhiteBalanceButton: case kRegionWhiteBalanceCheck: case kAutoWhiteBalanceCheck:
    case kRedGainSlider: case kGreenGainSlider: case kBlueGainSlider:
      need = CAMSDK_CONTROL_WHITE_BALANCE;
      break;
    case kGammaSlider: need = CAMSDK_CONTROL_GAMMA; break;
    case kContrastSlider: need = CAMSDK_CONTROL_CONTRAST; break;
    case kSaturationSlider: need = CAMSDK_CONTROL_SATURATION; break;
    case kSharpnessSlider: need = CAMSDK_CONTROL_SHARPNESS; break;
    default: break;
  }
  return (lacking_ & need) != 0;
}

void CCamSetupDlg::Enable(int id, bool on) {
  QWidget* w = ctrls_.Get(id);
  if (!w) return;
  if (on && mono_ && IsColourControl(id)) on = false;
  if (on && IsLackingControl(id)) on = false;
  w->setEnabled(on);
  if (id == kAnalogGainSlider)
    ui::SetReadout(Edit(kAnalogGainReadout), !on);  // a gain is typed only where the slider could set it
}

// Whether the camera's abilities and the panel's modes let the operator use a control now: the
// view enables the panel wholesale, and must not bring back what the handlers have disabled.
bool CCamSetupDlg::StateAllows(int handle, int id) const {
  const auto in = [id](std::initializer_list<int> ids) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
  const auto inArr = [id](const int* first, const int* last) { return std::find(first, last, id) != last; };
  for (int i = 0; i < 3; ++i)
    if (id == kFrameSpeedIds[i]) return frameSpeedCount_ < 1 || frameSpeedCount_ > 3 || i < frameSpeedCount_;
  const bool exposureUnit = inArr(std::begin(kExposureEdits), std::end(kExposureEdits)) ||
                            inArr(std::begin(kExposureSpins), std::end(kExposureSpins));
  if (FocusLocks(id)) return false;
  const bool ae = m_bAutoExposure != 0;
  const bool focus = m_bFocusAssist != 0;
  if (focus && (exposureUnit || in({kAutoExposureCheck, kAnalogGainSlider, kAeAdjustGainCheck, kAeAdjustExposureCheck,
                                    kAeSchemeCombo, kExposureFieldEdit, kSetExposureButton})))
    return false;
  if (id == kAeTargetSlider) return ae || focus;
  if (in({kAeAdjustGainCheck, kAeAdjustExposureCheck, kAeSchemeCombo})) return ae;
  if (exposureUnit && ae) return false;
  if (id == kAnalogGainSlider) return !ae || !m_bAeAdjustGain;
  if (in({kExposureFieldEdit, kSetExposureButton})) return !ae || !m_bAeAdjustExposure;
  if (m_bAutoWB && in({kRedGainSlider, kGreenGainSlider, kBlueGainSlider, kOnceWhiteBalanceButton,
                       kRegionWhiteBalanceCheck, kRedGainLabel, kGreenGainLabel, kBlueGainLabel}))
    return false;
  if (id == kCaptureSizeCombo)
    return Combo(kCaptureSizeCombo)->count() == 0 || Combo(kCaptureSizeCombo)->itemText(0) != QStringLiteral("ROI");
  if (exposureUnit) {
    // The units the camera's longest exposure does not reach.
    std::uint64_t current = 0, maximum = 0, minimum = 0;
    if (CameraGetExposureTime(handle, &current, &maximum, &minimum) != CAMSDK_STATUS_OK) maximum = 0;  // none
    const std::uint64_t units[4] = {kUnitsPerMinute, kUnitsPerSecond, kUnitsPerMs, kUnitsPerUs};
    for (int i = 0; i < 4; ++i) {
      if (maximum / units[i] != 0) break;
      if (id == kExposureEdits[i] || id == kExposureSpins[i]) return false;
    }
  }
  return true;
}

void CCamSetupDlg::EnableControls(const std::vector<int>& ids, bool enable) {
  int handle = -1;
  const bool camera = CurrentHandle(&handle);
  if (!camera) FocusReset();  // the camera closed under the assistant
  const auto& cameraIds = CameraControlIds();
  for (int id : ids) {
    const bool isCameraControl = std::find(cameraIds.begin(), cameraIds.end(), id) != cameraIds.end();
    bool on = enable && (camera || !isCameraControl);
    if (on && isCameraControl) on = StateAllows(handle, id);
    Enable(id, on);
  }
}

void CCamSetupDlg::BeginStep() {
  if (busy_++ == 0) setEnabled(false);
}

void CCamSetupDlg::EndStep() {
  if (busy_ > 0 && --busy_ == 0) setEnabled(true);
}

// ---- control helpers

QSlider* CCamSetupDlg::Slider(int id) const { return ctrls_.Find<QSlider>(id); }
QLineEdit* CCamSetupDlg::Edit(int id) const { return ctrls_.Find<QLineEdit>(id); }
QComboBox* CCamSetupDlg::Combo(int id) const { return ctrls_.Find<QComboBox>(id); }
QCheckBox* CCamSetupDlg::Check(int id) const { return ctrls_.Find<QCheckBox>(id); }
CamSpinButton* CCamSetupDlg::Spin(int id) const { return qobject_cast<CamSpinButton*>(ctrls_.Get(id)); }

bool CCamSetupDlg::Took(int status) { return ui::CameraTook(status); }

bool CCamSetupDlg::FrameBufferFits(bool allocated, int width, int height) {
  return ui::FrameBufferFits(allocated, width, height);
}

bool CCamSetupDlg::FitFrameBuffer(int handle) {
  int x = 0, y = 0, w = 0, h = 0;
  if (!Took(CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW))) return false;
  return FrameBufferFits(Camera()->AllocFrameBuffer(w, h), w, h);
}

bool CCamSetupDlg::PlayAgain(int handle) {
  // The frame shows the state and tells a refusal (IMainFrame::OnStreamChanged).
  CCameraProcess* camera = Camera();
  return camera && camera->PlayCamera(camera->IndexOfHandle(handle)) == CAMSDK_STATUS_OK;
}

void CCamSetupDlg::SetChecked(int id, bool on) {
  if (auto* b = ctrls_.Find<QAbstractButton>(id)) {
    const QSignalBlocker block(b);
    b->setChecked(on);
  }
}

void CCamSetupDlg::SetText(int id, const QString& text) {
  if (QWidget* w = ctrls_.Get(id)) {
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      if (e->text() != text) e->setText(text);  // an edit reports only a real change
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      l->setText(text);
    }
  }
}

void CCamSetupDlg::SetSliderPos(int id, int pos) {
  QSlider* s = Slider(id);
  const QSignalBlocker block(s);
  s->setValue(pos);
}

void CCamSetupDlg::CheckRadio(std::initializer_list<int> ids, int checkedId) {
  QButtonGroup* group = nullptr;
  for (int id : ids)
    if (auto* b = ctrls_.Find<QAbstractButton>(id)) group = b->group();
  if (group) group->setExclusive(false);  // lets the group stand with none checked
  for (int id : ids) SetChecked(id, id == checkedId);
  if (group) group->setExclusive(true);
}

// Without an open current camera no camera control may be used.
void CCamSetupDlg::DisableWithoutCamera() {
  if (CurrentHandle(nullptr)) return;
  for (int id : CameraControlIds()) Enable(id, false);
}

CCamSetupDlg::Region CCamSetupDlg::ArmedRegion() const {
  if (m_bRegionWB) return Region::WhiteBalance;
  if (m_bRegionAE) return Region::Exposure;
  if (m_bAdaptiveBlackLevel) return Region::BlackLevel;
  if (m_nRoiArmed) return Region::Roi;
  return Region::None;
}

void CCamSetupDlg::OnRegionApplied(Region mode, int x, int y, int width, int height) {
  switch (mode) {
    case Region::WhiteBalance:
      OnBnClickedOnceWhiteBalance();
      OnBnClickedRegionWhiteBalance();
      break;
    case Region::Exposure:
      OnBnClickedAutoExposure();
      OnBnClickedRegionAutoExposure();
      break;
    case Region::BlackLevel:
      OnBnClickedAdaptiveBlackLevel();
      break;
    case Region::Roi:
      SetRoiFromView(x, y, width, height);
      break;
    case Region::None:
      break;
  }
}
