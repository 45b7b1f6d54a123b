#include "imaging/DeadPixelDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "ui/AppHost.h"
#include "ui/DlgTexts.h"
#include "imaging/CamSetupCapability.h"

using ui::Ctl;

CDeadSpotTipDlg::CDeadSpotTipDlg(QWidget* parent) : QDialog(parent) {
  ui::SetCtrlId(this, kDialog);
  auto* layout = new QVBoxLayout(this);
  auto* body = new QWidget(this);
  layout->addWidget(body);
  ctrls_ = ui::BuildControls(body, {{kTip, Ctl::Label, 0, 0, 4},
                                    {kGainLabel, Ctl::Label, 0, 0, 1},
                                    {kMinLabel, Ctl::Label, 0, 1, 1},
                                    {kGainSlider, Ctl::Slider, 0, 2, 1},
                                    {kMaxLabel, Ctl::Label, 0, 3, 1},
                                    {kExposureLabel, Ctl::Label, 0, 0, 1},
                                    {kMinLabel, Ctl::Label, 0, 1, 1},
                                    {kExposureSlider, Ctl::Slider, 0, 2, 1},
                                    {kMaxLabel, Ctl::Label, 0, 3, 1},
                                    {kFrameSpeedLabel, Ctl::Label, 0, 0, 1},
                                    {kFrameSpeedSlider, Ctl::Slider, 0, 2, 1}});
  ctrls_.Find<QLabel>(kTip)->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  ui::SetCtrlId(ok, ui::kIdOk);
  ui::SetCtrlId(cancel, ui::kIdCancel);
  layout->addWidget(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(GainSlider(), &QSlider::valueChanged, this, [this] { ApplyGain(); });
  connect(ExposureSlider(), &QSlider::valueChanged, this, [this] { ApplyExposure(); });
  connect(FrameSpeedSlider(), &QSlider::valueChanged, this, [this] { ApplyFrameSpeed(); });
  LoadDlgItemTexts(this);
}

QSlider* CDeadSpotTipDlg::GainSlider() const { return ctrls_.Find<QSlider>(kGainSlider); }
QSlider* CDeadSpotTipDlg::ExposureSlider() const { return ctrls_.Find<QSlider>(kExposureSlider); }
QSlider* CDeadSpotTipDlg::FrameSpeedSlider() const { return ctrls_.Find<QSlider>(kFrameSpeedSlider); }

void CDeadSpotTipDlg::Setup(int handle, const stCameraCapability& capability) {
  handle_ = handle;
  cap_ = UnpackCapability(capability);
  const QSignalBlocker b1(GainSlider()), b2(ExposureSlider()), b3(FrameSpeedSlider());
  if (cap_.range) GainSlider()->setRange(int(8.0 * cap_.range->analogGainMin), int(8.0 * cap_.range->analogGainMax));
  RangeExposure();
  FrameSpeedSlider()->setRange(0, std::max(cap_.frameSpeedCount - 1, 0));
  ShowGain();
  ShowFrameSpeed();
  // What the camera lacks cannot be turned up to bring the dead pixels out.
  GainSlider()->setEnabled((cap_.lackingControls & CAMSDK_CONTROL_ANALOG_GAIN) == 0);
  ExposureSlider()->setEnabled((cap_.lackingControls & CAMSDK_CONTROL_EXPOSURE) == 0);
}

// Exposure slider in steps of 100 us, within the limits of the frame speed in force.
void CDeadSpotTipDlg::RangeExposure() {
  std::uint64_t current = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle_, &current, &maximum, &minimum) != CAMSDK_STATUS_OK) return;  // as it is
  const QSignalBlocker block(ExposureSlider());
  ExposureSlider()->setRange(int(minimum / 1000), int(maximum / 1000));
  ExposureSlider()->setValue(int(current / 1000));
}

// The sliders show what the camera holds: a value it refuses puts the slider back.
void CDeadSpotTipDlg::ShowGain() {
  float gain = 0;
  if (CameraGetAnalogGain(handle_, &gain) != CAMSDK_STATUS_OK) return;
  const QSignalBlocker block(GainSlider());
  GainSlider()->setValue(int(gain * 8.0));
}

void CDeadSpotTipDlg::ShowFrameSpeed() {
  int speed = 0;
  if (CameraGetFrameSpeed(handle_, &speed) != CAMSDK_STATUS_OK) return;
  const QSignalBlocker block(FrameSpeedSlider());
  FrameSpeedSlider()->setValue(speed);
}

void CDeadSpotTipDlg::ApplyGain() {
  if (CameraSetAnalogGain(handle_, float(GainSlider()->value() * 0.125)) != CAMSDK_STATUS_OK) ShowGain();
}

void CDeadSpotTipDlg::ApplyExposure() {
  if (CameraSetExposureTime(handle_, std::uint64_t(float(ExposureSlider()->value() * 1000.0))) != CAMSDK_STATUS_OK)
    RangeExposure();
}

void CDeadSpotTipDlg::ApplyFrameSpeed() {
  if (CameraSetFrameSpeed(handle_, FrameSpeedSlider()->value()) != CAMSDK_STATUS_OK) ShowFrameSpeed();
  AppHost().ResetFrameStatistics();
  RangeExposure();  // the exposure limits follow the frame speed
}
