#include "options/OptCapturePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "res/StringIds.h"
#include "ui/DlgTexts.h"
#include "options/OptionsCommon.h"
#include "platform/strings.h"

using namespace options;
using ui::Ctl;

namespace {

constexpr int kGroupContinuous = kStrContinuousCapture;
constexpr int kGroupFormat = kStrImageFormat;
constexpr int kGroupFile = kStrImageFile;
// JPEG quality by list item: "Low", "Middle", "High".
constexpr int kJpegQualities[3] = {0, 100, 255};
constexpr int kMaxText = 1024;  // characters kept of the folder and the name

constexpr int kMinInterval = 1000;  // ms
constexpr int kMaxFrames = 256;

}  // namespace

COptCaptureDlg::COptCaptureDlg(QWidget* parent) : QWidget(parent) {
  ctrls_ = ui::BuildControls(
      this, {
                {kGroupContinuous, Ctl::Group},
                {IDC_IF_CONTINUOUS, Ctl::Check, kGroupContinuous},
                {IDC_INTERVAL, Ctl::Edit, kGroupContinuous, 1},
                {kStrMilliseconds, Ctl::Label, kGroupContinuous, 2},
                {IDC_IF_FRAME, Ctl::Check, kGroupContinuous},
                {IDC_FRAME_TOTAL, Ctl::Edit, kGroupContinuous, 1},
                {kGroupFormat, Ctl::Group},
                {IDC_IF_MEASURE, Ctl::Check, kGroupFormat, 0, 4},
                {IDC_BMP, Ctl::Check, kGroupFormat},
                {IDC_JPEG, Ctl::Check, kGroupFormat, 1},
                {IDC_RAW, Ctl::Check, kGroupFormat, 2},
                {IDC_PNG, Ctl::Check, kGroupFormat, 3},
                {kStrJpegQuality, Ctl::Label, kGroupFormat, 0, 2},
                {IDC_JPEG_QUALITY, Ctl::Combo, kGroupFormat, 2, 2},
                {kGroupFile, Ctl::Group},
                {kStrImagePath, Ctl::Label, kGroupFile},
                {IDC_IMAGE_PATH, Ctl::Edit, kGroupFile, 1},
                {IDC_BROWSE, Ctl::Button, kGroupFile, 2},
                {IDC_DEF_NAME, Ctl::Check, kGroupFile, 0, 3},
                {kStrImageName, Ctl::Label, kGroupFile},
                {IDC_IMAGE_NAME, Ctl::Edit, kGroupFile, 1, 2},
            });
  auto* quality = ctrls_.Find<QComboBox>(IDC_JPEG_QUALITY);
  for (std::uint32_t id : {60038u, 60039u, 60040u}) quality->addItem(Str(id));
  quality->setCurrentIndex(-1);
  ctrls_.Find<QLineEdit>(IDC_IMAGE_PATH)->setMaxLength(kMaxText);
  ctrls_.Find<QLineEdit>(IDC_IMAGE_NAME)->setMaxLength(kMaxText);
  NoAutoDefault(this);

  auto onClick = [this](int id, auto handler) {
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
  };
  auto checked = [this](int id) { return ctrls_.Find<QAbstractButton>(id)->isChecked(); };
  onClick(IDC_IF_CONTINUOUS, [this] { OnContinuous(); });
  onClick(IDC_IF_MEASURE, [this] { OnSaveMeasuring(); });
  onClick(IDC_JPEG, [this, checked] { ctrls_.Get(IDC_JPEG_QUALITY)->setEnabled(checked(IDC_JPEG)); });
  onClick(IDC_IF_FRAME, [this, checked] { ctrls_.Get(IDC_FRAME_TOTAL)->setEnabled(checked(IDC_IF_FRAME)); });
  onClick(IDC_DEF_NAME, [this, checked] { ctrls_.Get(IDC_IMAGE_NAME)->setEnabled(!checked(IDC_DEF_NAME)); });
  onClick(IDC_BROWSE, [this] { OnBrowse(); });

  LoadDlgItemTexts(this);
}

// Continuous capture enables its interval and frame limit; it cannot write PNG files.
void COptCaptureDlg::OnContinuous() {
  const bool on = ctrls_.Find<QCheckBox>(IDC_IF_CONTINUOUS)->isChecked();
  ctrls_.Get(IDC_INTERVAL)->setEnabled(on);
  ctrls_.Get(IDC_IF_FRAME)->setEnabled(on);
  auto* png = ctrls_.Find<QCheckBox>(IDC_PNG);
  if (on) png->setChecked(false);
  png->setEnabled(!on);
}

// Images saved with the measurements drawn in are bitmaps only. Switching it off gives the
// format boxes back, except PNG while continuous capture is on.
void COptCaptureDlg::OnSaveMeasuring() {
  const bool on = ctrls_.Find<QCheckBox>(IDC_IF_MEASURE)->isChecked();
  const bool continuous = ctrls_.Find<QCheckBox>(IDC_IF_CONTINUOUS)->isChecked();
  for (int id : {IDC_BMP, IDC_JPEG, IDC_RAW, IDC_PNG}) {
    auto* box = ctrls_.Find<QCheckBox>(id);
    if (on) box->setChecked(id == IDC_BMP);
    box->setEnabled(!on && !(id == IDC_PNG && continuous));
  }
  if (on) ctrls_.Get(IDC_JPEG_QUALITY)->setEnabled(false);
}

void COptCaptureDlg::OnBrowse() {
  auto* edit = ctrls_.Find<QLineEdit>(IDC_IMAGE_PATH);
  if (const auto folder = Prompts().PickFolder(this, Str(sid::kPleaseSelectPath), edit->text())) edit->setText(*folder);
}

void COptCaptureDlg::LoadSettings(stCaptureSetting s) {
  auto check = [this](int id, bool on) { ctrls_.Find<QCheckBox>(id)->setChecked(on); };
  check(IDC_IF_CONTINUOUS, s.ifContinuous);
  check(IDC_IF_MEASURE, s.ifMeasure);
  check(IDC_BMP, s.imageType & 2);
  check(IDC_JPEG, s.imageType & 1);
  ctrls_.Get(IDC_JPEG_QUALITY)->setEnabled(s.imageType & 1);
  check(IDC_RAW, s.imageType & 4);
  check(IDC_PNG, s.imageType & 8);
  // After the format boxes: a stored PNG under continuous capture is cleared with its box greyed,
  // never left checked where it could not be cleared.
  OnContinuous();
  ctrls_.Find<QLineEdit>(IDC_INTERVAL)->setText(QStr(FormatW(u"%d", s.timeInterval)));
  ctrls_.Find<QLineEdit>(IDC_FRAME_TOTAL)->setText(QStr(FormatW(u"%d", s.frameTotal)));
  ctrls_.Find<QLineEdit>(IDC_IMAGE_PATH)->setText(QStr(s.imageFolder));
  check(IDC_IF_FRAME, s.ifFrame);
  ctrls_.Get(IDC_FRAME_TOTAL)->setEnabled(s.ifFrame);
  int item = -1;
  for (int i = 0; i < 3; ++i)
    if (s.jpegQuality == kJpegQualities[i]) item = i;
  ctrls_.Find<QComboBox>(IDC_JPEG_QUALITY)->setCurrentIndex(item);
  OnSaveMeasuring();
  check(IDC_DEF_NAME, s.useDefaultName);
  ctrls_.Get(IDC_IMAGE_NAME)->setEnabled(!s.useDefaultName);
  ctrls_.Find<QLineEdit>(IDC_IMAGE_NAME)->setText(QStr(s.imageName));
}

stCaptureSetting COptCaptureDlg::SaveSettings() {
  auto checked = [this](int id) { return ctrls_.Find<QCheckBox>(id)->isChecked(); };
  auto text = [this](int id) { return WStr(ctrls_.Find<QLineEdit>(id)->text().left(kMaxText)); };
  stCaptureSetting s = DefaultCaptureSetting();
  s.ifContinuous = checked(IDC_IF_CONTINUOUS);
  s.ifMeasure = checked(IDC_IF_MEASURE);
  s.imageType = 2 * checked(IDC_BMP) + checked(IDC_JPEG) + 4 * checked(IDC_RAW) + 8 * checked(IDC_PNG);
  s.timeInterval = ParseInt(text(IDC_INTERVAL));
  s.imageFolder = text(IDC_IMAGE_PATH);
  s.imageName = text(IDC_IMAGE_NAME);
  s.useDefaultName = checked(IDC_DEF_NAME);
  const int item = ctrls_.Find<QComboBox>(IDC_JPEG_QUALITY)->currentIndex();
  if (item >= 0 && item < 3) s.jpegQuality = kJpegQualities[item];
  s.ifFrame = checked(IDC_IF_FRAME);
  s.frameTotal = ParseInt(text(IDC_FRAME_TOTAL));

  // The limits hold whether continuous capture is on or not.
  WString message;
  if (s.timeInterval < kMinInterval) {
    s.timeInterval = kMinInterval;
    message += LoadStringW(sid::kIntervalTimeContinuousCapture1s);
  }
  if (s.frameTotal > kMaxFrames) {
    s.frameTotal = kMaxFrames;
    message += u"\n";
    message += LoadStringW(sid::kMaxFrameContinuousCapture256);
  }
  if (!message.empty()) Prompts().Message(this, QStr(message));
  return s;
}
