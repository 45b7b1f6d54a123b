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
#include "camera/CameraProcess.h"
#include "camera/DlgTexts.h"
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
      {1045, Ctl::Combo, 0, 0, 3},
      {1077, Ctl::Button, 0, 3, 1},
      // Resolution
      {1201, Ctl::Group, 0, 0, 4},
      {1086, Ctl::Label, 1201, 0, 1},
      {1175, Ctl::Combo, 1201, 1, 3},
      {1202, Ctl::Label, 1201, 0, 1},
      {1176, Ctl::Combo, 1201, 1, 3},
      {1180, Ctl::Label, 1201, 0, 4},
      {1182, Ctl::Edit, 1201, 0, 2},
      {1183, Ctl::Edit, 1201, 2, 2},
      {1177, Ctl::Edit, 1201, 0, 2},
      {1178, Ctl::Edit, 1201, 2, 2},
      {1179, Ctl::Button, 1201, 0, 4},
      // Exposure Control
      {1031, Ctl::Group, 0, 0, 4},
      {1001, Ctl::Check, 1031, 0, 2},
      {1172, Ctl::Check, 1031, 2, 2},
      {1346, Ctl::Check, 1031, 0, 2},
      {1347, Ctl::Check, 1031, 2, 2},
      {1348, Ctl::Check, 1031, 0, 4},
      {1345, Ctl::Label, 1031, 0, 1},
      {1349, Ctl::Combo, 1031, 1, 3},
      {1205, Ctl::Label, 1031, 0, 1},
      {1047, Ctl::Edit, 1031, 3, 1},
      {1203, Ctl::Label, 1031, 0, 1},
      {1002, Ctl::Slider, 1031, 1, 2},
      {1204, Ctl::Label, 1031, 3, 1},
      {1206, Ctl::Label, 1031, 0, 1},
      {1048, Ctl::Edit, 1031, 3, 1},
      {1208, Ctl::Label, 1031, 0, 1},
      {1003, Ctl::Slider, 1031, 1, 2},
      {1209, Ctl::Label, 1031, 3, 1},
      {1306, Ctl::Label, 1031, 0, 4},
      {1307, Ctl::Edit, 1031, 0, 2},
      {1308, Ctl::Spin, 1031, 2, 1},
      {1313, Ctl::Label, 1031, 3, 1},
      {1309, Ctl::Edit, 1031, 0, 2},
      {1310, Ctl::Spin, 1031, 2, 1},
      {1314, Ctl::Label, 1031, 3, 1},
      {1311, Ctl::Edit, 1031, 0, 2},
      {1312, Ctl::Spin, 1031, 2, 1},
      {1315, Ctl::Label, 1031, 3, 1},
      {1316, Ctl::Edit, 1031, 0, 2},
      {1317, Ctl::Spin, 1031, 2, 1},
      {1318, Ctl::Label, 1031, 3, 1},
      // Image Adjustment
      {1032, Ctl::Group, 0, 0, 4},
      {1210, Ctl::Label, 1032, 0, 1},
      {1009, Ctl::Slider, 1032, 1, 2},
      {1049, Ctl::Edit, 1032, 3, 1},
      {1211, Ctl::Label, 1032, 0, 1},
      {1010, Ctl::Slider, 1032, 1, 2},
      {1050, Ctl::Edit, 1032, 3, 1},
      {1350, Ctl::Label, 1032, 0, 1},
      {1011, Ctl::Slider, 1032, 1, 2},
      {1051, Ctl::Edit, 1032, 3, 1},
      {1351, Ctl::Check, 1032, 0, 4},
      // Color Adjustment
      {1212, Ctl::Group, 0, 0, 4},
      {1059, Ctl::Button, 1212, 0, 2},
      {1171, Ctl::Check, 1212, 2, 1},
      {1352, Ctl::Check, 1212, 3, 1},
      {1213, Ctl::Label, 1212, 0, 1},
      {1214, Ctl::Label, 1212, 3, 1},
      {1215, Ctl::Label, 1212, 0, 1},
      {1053, Ctl::Slider, 1212, 1, 2},
      {1058, Ctl::Edit, 1212, 3, 1},
      {1218, Ctl::Label, 1212, 0, 1},
      {1219, Ctl::Label, 1212, 3, 1},
      {1216, Ctl::Label, 1212, 0, 1},
      {1054, Ctl::Slider, 1212, 1, 2},
      {1057, Ctl::Edit, 1212, 3, 1},
      {1220, Ctl::Label, 1212, 0, 1},
      {1221, Ctl::Label, 1212, 3, 1},
      {1217, Ctl::Label, 1212, 0, 1},
      {1055, Ctl::Slider, 1212, 1, 2},
      {1056, Ctl::Edit, 1212, 3, 1},
      {1222, Ctl::Label, 1212, 0, 1},
      {1046, Ctl::Slider, 1212, 1, 2},
      {1052, Ctl::Edit, 1212, 3, 1},
      {1223, Ctl::Label, 1212, 0, 1},
      {1224, Ctl::Label, 1212, 3, 1},
      // Image Optimization
      {1225, Ctl::Group, 0, 0, 4},
      {1226, Ctl::Label, 1225, 0, 1},
      {1064, Ctl::Slider, 1225, 1, 2},
      {1060, Ctl::Edit, 1225, 3, 1},
      {1227, Ctl::Label, 1225, 0, 1},
      {1228, Ctl::Label, 1225, 3, 1},
      {1066, Ctl::Check, 1225, 0, 1},
      {1069, Ctl::Check, 1225, 1, 1},
      {1067, Ctl::Check, 1225, 2, 1},
      {1068, Ctl::Check, 1225, 3, 1},
      // Dead Pixel Correction
      {1242, Ctl::Group, 0, 0, 4},
      {1065, Ctl::Check, 1242, 0, 2},
      {1239, Ctl::Button, 1242, 2, 2},
      // Light Frequency
      {1229, Ctl::Group, 0, 0, 4},
      {1071, Ctl::Radio, 1229, 0, 1},
      {1072, Ctl::Radio, 1229, 1, 1},
      {1073, Ctl::Radio, 1229, 2, 1},
      // Media Type
      {1241, Ctl::Group, 0, 0, 4},
      {1240, Ctl::Combo, 1241, 0, 4},
      // Frame Speed
      {1034, Ctl::Group, 0, 0, 4},
      {1025, Ctl::Radio, 1034, 0, 1},
      {1026, Ctl::Radio, 1034, 1, 1},
      {1036, Ctl::Radio, 1034, 2, 1},
      // Save and load parameter
      {1035, Ctl::Group, 0, 0, 4},
      {1027, Ctl::Radio, 1035, 0, 1},
      {1028, Ctl::Radio, 1035, 1, 1},
      {1029, Ctl::Radio, 1035, 2, 1},
      {1030, Ctl::Radio, 1035, 3, 1},
      {1014, Ctl::Button, 1035, 0, 1},
      {1062, Ctl::Button, 1035, 1, 1},
      {1063, Ctl::Button, 1035, 2, 1},
      // The single-field exposure input below the groups: never shown, still written.
      {1207, Ctl::Label, 0, 0, 1},
      {1007, Ctl::Edit, 0, 1, 1},
      {1269, Ctl::Label, 0, 2, 1},
      {1017, Ctl::Button, 0, 3, 1},
  };
  return table;
}

constexpr int kSpinIds[] = {1308, 1310, 1312, 1317};
constexpr int kReadouts[] = {1047, 1048, 1049, 1050, 1051, 1058, 1057, 1056, 1052, 1060};

}  // namespace

namespace camsetup {

const std::vector<int>& CameraControlIds() {
  static const std::vector<int> ids = {
      1175, 1176, 1182, 1183, 1177, 1178, 1179, 1001, 1172, 1346, 1347, 1348, 1349, 1002, 1003, 1307,
      1309, 1311, 1316, 1308, 1310, 1312, 1317, 1007, 1017, 1009, 1010, 1011, 1351, 1059, 1171, 1352,
      1053, 1054, 1055, 1046, 1064, 1066, 1069, 1067, 1068, 1065, 1239, 1071, 1072, 1073, 1240, 1025,
      1026, 1036, 1027, 1028, 1029, 1030, 1014, 1062, 1063, 1180};
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
  ui::SetCtrlId(this, 314);
  BuildPanel();
  Connect();
  LoadDlgItemTexts(this);
  for (std::uint32_t id : {64110u, 64111u, 64112u, 64113u})  // AE Old, AE Fast, AE Fast Microscope, AE Fluorochrome
    Combo(1349)->addItem(QString::fromStdU16String(LoadStringW(id)));
  clock_->SetTimerSink([this](int id) { OnTimer(id); });
  clock_->StartTimer(kTimerDetect, 800);  // the first detection
}

CCamSetupDlg::~CCamSetupDlg() {
  clock_->SetTimerSink({});
}

void CCamSetupDlg::BuildPanel() {
  ctrls_ = ui::BuildControls(this, Table());
  // Spin buttons stand beside their buddy edits.
  const int buddies[] = {1307, 1309, 1311, 1316};
  for (int i = 0; i < 4; ++i) {
    QWidget* old = ctrls_.Get(kSpinIds[i]);
    auto* spin = new CamSpinButton(old->parentWidget());
    ui::SetCtrlId(spin, kSpinIds[i]);
    delete old->parentWidget()->layout()->replaceWidget(old, spin);
    delete old;
    ctrls_.Add(kSpinIds[i], spin);
    spin->SetBuddy(Edit(buddies[i]));
  }
  for (int id : kReadouts) Edit(id)->setReadOnly(true);
  // The gain read-out also takes a typed gain (Enter applies it) while the gain slider is usable.
  Edit(1048)->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*[.]?[0-9]*x?")), Edit(1048)));
  // A control takes the wheel only once it was clicked into; the wheel alone never focuses it.
  for (QWidget* w : findChildren<QWidget*>())
    if ((w->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
  for (int id : {1207, 1007, 1269, 1017}) ctrls_.Get(id)->hide();
  for (QSlider* s : findChildren<QSlider*>()) s->setPageStep(1);
  // The lists are filled only when a camera comes: their width must not depend on what they
  // hold, or the panel would outgrow its pane then.
  for (QComboBox* c : findChildren<QComboBox*>()) {
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(10);
  }
  // Radio groups: exclusive while the operator clicks; cleared by the handlers when needed.
  for (const auto& ids : {std::vector<int>{1071, 1072, 1073}, std::vector<int>{1025, 1026, 1036},
                          std::vector<int>{1027, 1028, 1029, 1030}}) {
    auto* group = new QButtonGroup(this);
    for (int id : ids) group->addButton(ctrls_.Find<QRadioButton>(id), id);
  }
  for (int id : CameraControlIds()) Enable(id, false);
  InstallKeyFilter(this);
}

void CCamSetupDlg::Connect() {
  const std::pair<int, void (CCamSetupDlg::*)()> sliders[] = {
      {1002, &CCamSetupDlg::OnAeTargetChanged},   {1003, &CCamSetupDlg::OnAnalogGainChanged},
      {1009, &CCamSetupDlg::OnGammaChanged},      {1010, &CCamSetupDlg::OnContrastChanged},
      {1011, &CCamSetupDlg::SetBlackLevel},       {1046, &CCamSetupDlg::OnSaturationChanged},
      {1064, &CCamSetupDlg::OnSharpnessChanged}};
  for (const auto& [id, handler] : sliders)
    connect(Slider(id), &QSlider::valueChanged, this, [this, h = handler] { (this->*h)(); });
  for (int id : {1053, 1054, 1055})
    connect(Slider(id), &QSlider::valueChanged, this, [this, id] { OnColourGainChanged(id); });

  const std::pair<int, void (CCamSetupDlg::*)()> clicks[] = {
      {1077, &CCamSetupDlg::DetectCameras},
      {1179, &CCamSetupDlg::OnBnClickedRoiSetting},
      {1001, &CCamSetupDlg::OnBnClickedAutoExposure},
      {1172, &CCamSetupDlg::OnBnClickedRegionAutoExposure},
      {1346, &CCamSetupDlg::OnBnClickedAeAdjustGain},
      {1347, &CCamSetupDlg::OnBnClickedAeAdjustExposure},
      {1348, &CCamSetupDlg::OnBnClickedFluorescenceFocus},
      {1017, &CCamSetupDlg::OnBnClickedSetExposure},
      {1351, &CCamSetupDlg::OnBnClickedAdaptiveBlackLevel},
      {1059, &CCamSetupDlg::OnBnClickedOnceWhiteBalance},
      {1171, &CCamSetupDlg::OnBnClickedRegionWhiteBalance},
      {1352, &CCamSetupDlg::OnBnClickedAutoWhiteBalance},
      {1239, &CCamSetupDlg::OnBnClickedCalcDeadPixels},
      {1014, &CCamSetupDlg::OnBnClickedSaveParam},
      {1062, &CCamSetupDlg::OnBnClickedReadParam},
      {1063, &CCamSetupDlg::OnBnClickedFactoryDefault}};
  for (const auto& [id, handler] : clicks)
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, [this, h = handler] { (this->*h)(); });
  for (int id : {1065, 1066, 1069, 1067, 1068})
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, [this, id] { OnBnClickedBox(id); });
  for (int id : {1071, 1072, 1073})
    connect(ctrls_.Find<QAbstractButton>(id), &QAbstractButton::clicked, this, [this, id] { OnBnClickedAntiFlick(id); });
  for (int speed = 0; speed < 3; ++speed)
    connect(ctrls_.Find<QAbstractButton>(kFrameSpeedIds[speed]), &QAbstractButton::clicked, this,
            [this, speed] { OnBnClickedFrameSpeed(speed); });
  for (int team = 0; team < 4; ++team)
    connect(ctrls_.Find<QAbstractButton>(kTeamIds[team]), &QAbstractButton::clicked, this,
            [this, team] { OnBnClickedTeam(team); });

  connect(Combo(1045), &QComboBox::activated, this, [this] { OnCameraSelChange(); });
  connect(Combo(1175), &QComboBox::activated, this, [this] { OnPreviewSizeSelChange(); });
  connect(Combo(1176), &QComboBox::activated, this, [this] { OnCaptureSizeSelChange(); });
  connect(Combo(1240), &QComboBox::activated, this, [this] { OnMediaTypeSelChange(); });
  connect(Combo(1349), &QComboBox::activated, this, [this] { OnAeSchemeSelChange(); });

  for (int id : {1307, 1309, 1311, 1316})
    connect(Edit(id), &QLineEdit::textChanged, this, [this, id] { OnEnChangeExposureField(id); });
  Spin(1308)->SetDeltaHandler([this](int d) { OnDeltaPosMinutesOrSeconds(1308, d); });
  Spin(1310)->SetDeltaHandler([this](int d) { OnDeltaPosMinutesOrSeconds(1310, d); });
  Spin(1312)->SetDeltaHandler([this](int d) { OnDeltaPosExposure(d); });
  Spin(1317)->SetDeltaHandler([this](int d) { OnDeltaPosExposureUs(d); });
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
  if (watched == ctrls_.Get(1007)) {
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
    else if (id == 1048)
      OnAnalogGainTyped();
    else if (id == 1007)
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
  const std::pair<int, int*> boxes[] = {
      {1001, &m_bAutoExposure},      {1065, &m_bDeadPixelCorrection}, {1066, &m_bInverse},
      {1069, &m_bMonochrome},        {1067, &m_bFlipVertical},        {1068, &m_bFlipHorizontal},
      {1171, &m_bRegionWB},          {1172, &m_bRegionAE},            {1351, &m_bAdaptiveBlackLevel},
      {1346, &m_bAeAdjustGain},      {1347, &m_bAeAdjustExposure},    {1348, &m_bFocusAssist},
      {1352, &m_bAutoWB}};
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
    case 1059: case 1171: case 1053: case 1054: case 1055: case 1046: case 1069: case 1352:
    case 1215: case 1216: case 1217:
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
    case 1307: case 1309: case 1311: case 1316: case 1308: case 1310: case 1312: case 1317:
    case 1007: case 1017: case 1348:
      need = CAMSDK_CONTROL_EXPOSURE;
      break;
    case 1347:  // automatic exposure adjusting the exposure
      need = CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case 1346:  // automatic exposure adjusting the gain
      need = CAMSDK_CONTROL_ANALOG_GAIN | CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case 1001: case 1172: case 1002: case 1349: case 1071: case 1072: case 1073:
      need = CAMSDK_CONTROL_AUTO_EXPOSURE;
      break;
    case 1003: need = CAMSDK_CONTROL_ANALOG_GAIN; break;
    case 1059: case 1171: case 1352: case 1053: case 1054: case 1055:
      need = CAMSDK_CONTROL_WHITE_BALANCE;
      break;
    case 1009: need = CAMSDK_CONTROL_GAMMA; break;
    case 1010: need = CAMSDK_CONTROL_CONTRAST; break;
    case 1046: need = CAMSDK_CONTROL_SATURATION; break;
    case 1064: need = CAMSDK_CONTROL_SHARPNESS; break;
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
  if (id == 1003) Edit(1048)->setReadOnly(!on);  // a gain is typed only where the slider could set it
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
  const bool ae = m_bAutoExposure != 0;
  const bool focus = m_bFocusAssist != 0;
  if (focus && (exposureUnit || in({1001, 1003, 1346, 1347, 1349, 1007, 1017}))) return false;
  if (id == 1002) return ae || focus;
  if (in({1346, 1347, 1349})) return ae;
  if (exposureUnit && ae) return false;
  if (id == 1003) return !ae || !m_bAeAdjustGain;
  if (in({1007, 1017})) return !ae || !m_bAeAdjustExposure;
  if (m_bAutoWB && in({1053, 1054, 1055, 1059, 1171, 1215, 1216, 1217})) return false;
  if (id == 1176) return Combo(1176)->count() == 0 || Combo(1176)->itemText(0) != QStringLiteral("ROI");
  if (exposureUnit) {
    // The units the camera's longest exposure does not reach.
    std::uint64_t current = 0, maximum = 0, minimum = 0;
    CameraGetExposureTime(handle, &current, &maximum, &minimum);
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
