#include "editors/ScaleDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTreeWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraProcess.h"
#include "ui/DlgTexts.h"
#include "editors/ColorButton.h"
#include "editors/EditorText.h"
#include "editors/Prompt.h"
#include "editors/ScalePreview.h"
#include "editors/ScaleStore.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"

using editors::Q;
using editors::Str;
using editors::W;
using ui::Ctl;

namespace {
constexpr std::uint32_t kMsgNoFrame = 62010;
}  // namespace

CScale2Dlg::CScale2Dlg(QWidget* parent) : QDialog(parent) {
  const ui::CtrlMap m = ui::BuildControls(
      this, {
                {kLeftGroup, Ctl::Group},
                {kRightGroup, Ctl::Group, 0, 1},
                // under the preview
                {kCapImage, Ctl::Button, kLeftGroup},
                {kAutoAnalyse, Ctl::Button, kLeftGroup, 1},
                {kManual, Ctl::Check, kLeftGroup, 2},
                {kMove, Ctl::Check, kLeftGroup, 3},
                {kZoomIn, Ctl::Button, kLeftGroup, 4},
                {kZoomOut, Ctl::Button, kLeftGroup, 5},
                {kWindowAdapt, Ctl::Button, kLeftGroup, 6},
                // the scale being made, and the stored ones
                {kLabelName, Ctl::Label, kRightGroup},
                {kName, Ctl::Edit, kRightGroup, 1},
                {kLabelActual, Ctl::Label, kRightGroup},
                {kActual, Ctl::Edit, kRightGroup, 1},
                {kLabelUnitName, Ctl::Label, kRightGroup},
                {kUnit, Ctl::ComboEdit, kRightGroup, 1},
                {kLabelPixel, Ctl::Label, kRightGroup},
                {kPixel, Ctl::Edit, kRightGroup, 1},
                {kSave, Ctl::Button, kRightGroup},
                {kDelete, Ctl::Button, kRightGroup, 1},
                {kList, Ctl::Tree, kRightGroup, 0, 2},
                {kBarGroup, Ctl::Group, kRightGroup, 0, 2},
                {editors::kIdOk, Ctl::Button, kRightGroup},
                {editors::kIdCancel, Ctl::Button, kRightGroup, 1},
            });
  preview_ = new CScalePreview(this);
  ui::SetCtrlId(preview_, kPreview);
  if (auto* grid = qobject_cast<QGridLayout*>(m.Get(kLeftGroup)->layout())) {
    // The preview sits below the button row the table made.
    grid->addWidget(preview_, 1, 0, 1, 7);
    grid->setRowStretch(1, 1);
  }
  bar_.Build(m.Get(kBarGroup));

  unitCombo_ = m.Find<QComboBox>(kUnit);
  list_ = m.Find<QTreeWidget>(kList);
  manualCheck_ = m.Find<QCheckBox>(kManual);
  moveCheck_ = m.Find<QCheckBox>(kMove);
  autoAnalyse_ = m.Find<QPushButton>(kAutoAnalyse);
  deleteButton_ = m.Find<QPushButton>(kDelete);
  m.Find<QLineEdit>(kPixel)->setReadOnly(true);
  m.Find<QLineEdit>(kActual)->installEventFilter(this);

  list_->setColumnCount(3);
  list_->setRootIsDecorated(false);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setColumnWidth(0, 70);
  list_->setColumnWidth(1, 100);
  list_->setColumnWidth(2, 70);
  list_->header()->setSectionsMovable(true);

  finder_ = new QFutureWatcher<Found>(this);
  connect(finder_, &QFutureWatcher<Found>::finished, this, [this] {
    Found f = finder_->result();
    autoAnalyse_->setEnabled(manual_ == 0);
    if (f.stamp != captureStamp_) return;  // a capture since: the result belongs to an old picture
    EditCtrl(kPixel)->setText(f.result == 0 ? Q(FormatW(u"%.3f", double(f.length))) : Str(sid::kCanFind));
    analysis_ = std::move(f.image);
    ShowImage(analysis_);
  });

  connect(m.Find<QPushButton>(kCapImage), &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedCapImage);
  connect(autoAnalyse_, &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedAutoAnalyse);
  connect(manualCheck_, &QCheckBox::clicked, this, &CScale2Dlg::OnBnClickedManualMeasure);
  connect(moveCheck_, &QCheckBox::clicked, this, &CScale2Dlg::OnBnClickedMove);
  connect(m.Find<QPushButton>(kZoomIn), &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedZoomIn);
  connect(m.Find<QPushButton>(kZoomOut), &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedZoomOut);
  connect(m.Find<QPushButton>(kWindowAdapt), &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedWindowAdapt);
  connect(m.Find<QPushButton>(kSave), &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedSave);
  connect(deleteButton_, &QPushButton::clicked, this, &CScale2Dlg::OnBnClickedDelete);
  connect(m.Find<QPushButton>(editors::kIdOk), &QPushButton::clicked, this, &CScale2Dlg::OnOK);
  connect(m.Find<QPushButton>(editors::kIdCancel), &QPushButton::clicked, this, &CScale2Dlg::OnCancel);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &CScale2Dlg::OnLvnItemchangedScaleList);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnNMDblclkScaleList(); });
  connect(bar_.color, &editors::ColorButton::ColorChanged, this, &CScale2Dlg::OnBnClickedDisplay);
  connect(bar_.enable, &QCheckBox::clicked, this, &CScale2Dlg::OnBnClickedDisplayEnable);
  for (QSlider* s : {bar_.sliderX, bar_.sliderY, bar_.sliderWidth})
    connect(s, &QSlider::valueChanged, this, [this] { bar_.ShowReadouts(); });
  connect(bar_.length, &QLineEdit::editingFinished, this, &CScale2Dlg::OnEnChangeLength);

  // Enter in an edit is OK, never a button that happens to come first ("Cap.Image" would take
  // a new picture and throw the measured length away).
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
  m.Find<QPushButton>(editors::kIdOk)->setDefault(true);
}

CScale2Dlg::~CScale2Dlg() {
  if (finder_->isRunning()) finder_->waitForFinished();
}

QLineEdit* CScale2Dlg::EditCtrl(int id) const { return ui::FindCtrl<QLineEdit>(this, id); }
QWidget* CScale2Dlg::Preview() const { return preview_; }

void CScale2Dlg::Message(std::uint32_t id) { editors::Prompt(this, Str(id), QString(), QString(), false); }

void CScale2Dlg::GetScale(float* factor, WString* unit, ScaleDisplayBlock* block) const {
  if (factor) *factor = factor_;
  if (unit) *unit = unit_;
  if (block) *block = block_;
}

int CScale2Dlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CScale2Dlg::OnInitDialog() {
  list_->setHeaderLabels({Str(sid::kName), Str(sid::kScaleColumn), Str(sid::kRemark)});
  list_->headerItem()->setTextAlignment(0, Qt::AlignCenter);
  list_->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  list_->headerItem()->setTextAlignment(2, Qt::AlignRight);
  setWindowTitle(Str(sid::kScaleSetup));
  LoadScaleList(scalestore::CurrentCameraName(AppHost().Camera()));
  {
    const QSignalBlocker block(unitCombo_);
    unitCombo_->clear();
    unitCombo_->addItems({"um", "mm", "cm", "mil", "inch", "ft", "px"});
  }
  LoadDlgItemTexts(this);
  OnBnClickedCapImage();
  EditCtrl(kPixel)->setText(Q(FormatW(u"%.3f", pixelLength_)));
  EditCtrl(kName)->setText(Q(LoadStringW(sid::kScaleDefaultName)));  // "Scale"
  unitCombo_->setCurrentIndex(6);
  LoadSelectedScale();
  bar_.Show(block_, unit_);
  placed_ = false;
}

void CScale2Dlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (placed_) return;
  placed_ = true;
  PlaceOnScreen();
}

void CScale2Dlg::PlaceOnScreen() {
  // On the main window's screen, whole: centred in its work area, the size cut to it (never
  // below the least the layout takes, in which case the top left corner shows). Placed when
  // shown: before that the widget has not its laid-out size yet.
  const QWidget* anchor = AppHost().MainWindow() ? AppHost().MainWindow() : parentWidget();
  const QScreen* screen = anchor ? anchor->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect work = screen->availableGeometry();
  const QSize frame = frameGeometry().size() - size();  // title bar and borders
  const QSize sz = size().boundedTo(work.size() - frame).expandedTo(minimumSizeHint());
  resize(sz);
  const QSize outer = sz + frame;
  move(std::max(work.x(), work.x() + (work.width() - outer.width()) / 2),
       std::max(work.y(), work.y() + (work.height() - outer.height()) / 2));
}

void CScale2Dlg::ShowImage(const std::vector<std::uint8_t>& bgr) {
  shown_ = QImage();
  if (imageWidth_ > 0 && imageHeight_ > 0 &&
      bgr.size() == std::size_t(imageWidth_) * std::size_t(imageHeight_) * 3) {
    // Bottom-up BGR rows into a top-down picture.
    QImage img(imageWidth_, imageHeight_, QImage::Format_RGB888);
    const std::size_t stride = std::size_t(imageWidth_) * 3;
    for (int y = 0; y < imageHeight_; ++y) {
      const std::uint8_t* src = bgr.data() + std::size_t(imageHeight_ - 1 - y) * stride;
      std::uint8_t* dst = img.scanLine(y);
      for (int x = 0; x < imageWidth_; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
    shown_ = std::move(img);
  }
  preview_->update();
}

void CScale2Dlg::OnBnClickedCapImage() {
  CCameraProcess* cam = AppHost().Camera();
  std::vector<std::uint8_t> pixels;
  BITMAPINFOHEADER format;
  if (!cam || !cam->CopyFrame(&pixels, &format) || format.biWidth <= 0 || format.biHeight <= 0 ||
      pixels.size() < std::size_t(format.biWidth) * std::size_t(format.biHeight) * 3) {
    Message(kMsgNoFrame);
    return;
  }
  manualCheck_->setChecked(false);
  OnBnClickedManualMeasure();
  EditCtrl(kPixel)->setText(QStringLiteral("0.000"));
  zoom_ = 1.0f;
  lineStart_ = lineEnd_ = POINT{0, 0};
  pan_ = POINT{0, 0};
  imageWidth_ = format.biWidth;
  imageHeight_ = format.biHeight;
  pixels.resize(std::size_t(imageWidth_) * std::size_t(imageHeight_) * 3);
  captured_ = std::move(pixels);
  // A new picture: the analysis of the old one is gone, and a find still running is stale.
  analysis_.clear();
  ++captureStamp_;
  ShowImage(captured_);
}

bool CScale2Dlg::AnalysisRunning() const { return finder_->isRunning(); }

void CScale2Dlg::OnBnClickedAutoAnalyse() {
  if (captured_.empty() || finder_->isRunning()) return;
  autoAnalyse_->setEnabled(false);
  const int w = imageWidth_, h = imageHeight_;
  std::vector<std::uint8_t> copy = captured_;
  const std::uint64_t stamp = captureStamp_;
  finder_->setFuture(QtConcurrent::run([w, h, stamp, copy = std::move(copy)]() mutable {
    Found f;
    f.result = KvImgFindScaleline(copy.data(), w, h, 3, &f.length);
    f.image = std::move(copy);
    f.stamp = stamp;
    return f;
  }));
}

void CScale2Dlg::OnBnClickedDisplay() { block_.lineColor = std::int32_t(bar_.color->Color()); }

void CScale2Dlg::OnBnClickedDisplayEnable() { block_.enable = bar_.enable->isChecked() ? 1 : 0; }

void CScale2Dlg::OnEnChangeLength() {
  double v = 0.0;
  if (!bar_.CommitLength(&v)) return;
  // The bar may not be longer than the captured image less 20 px.
  if (!captured_.empty()) bar_.LimitLength(v, factor_, imageWidth_ - 20);
}

void CScale2Dlg::RefreshBlockFromControls() {
  OnEnChangeLength();  // a length still being typed is finished first
  bar_.ReadInto(&block_);
}

bool CScale2Dlg::eventFilter(QObject* watched, QEvent* e) {
  // The actual length takes digits, the decimal point, arrows and the editing keys only.
  if (e->type() == QEvent::KeyPress && watched == EditCtrl(kActual)) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    const bool allowed = (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Period ||
                         key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
                         key == Qt::Key_Down || key == Qt::Key_Backspace || key == Qt::Key_Return ||
                         key == Qt::Key_Enter || key == Qt::Key_Escape;
    if (!allowed) return true;
  }
  return QDialog::eventFilter(watched, e);
}

void CScale2Dlg::OnCancel() {
  const int answer = editors::Prompt(this, Str(sid::kNoExistScaleSpecifiedAre), Str(sid::kWarning), Str(sid::kWarning), true);
  if (answer == editors::kAnswerYes) done(QDialog::Rejected);
}
