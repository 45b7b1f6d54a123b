#pragma once
// CScale2Dlg: scale calibration. It freezes the current frame in a preview, measures a
// reference line in image pixels (dragged by hand, or found by the image library's ruler
// finder), takes the actual length and unit, and stores the units-per-pixel factor under a name
// per camera (editors/ScaleStore.h). It also edits the scale bar. The caller runs it modally
// and on OK takes factor, unit and bar block with GetScale.
//
// Split by concern: ScaleDlg.cpp (controls, capture, finding, bar settings, closing),
// ScaleDlgPreview.cpp (preview placement, painting, mouse, zoom), ScaleDlgList.cpp (the scale
// list and the store).
#include <QDialog>
#include <QFutureWatcher>
#include <QImage>
#include <QPointer>

#include <cstdint>
#include <vector>

#include "editors/ScaleBarControls.h"
#include "measure/MeasureManager.h"
#include "platform/text.h"
#include "platform/types.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class CScalePreview;

class CScale2Dlg : public QDialog {
  Q_OBJECT
 public:
  enum : int {
    kName = 1080,
    kCapImage = 1081,
    kAutoAnalyse = 1082,
    kActual = 1083,
    kList = 1084,
    kUnit = 1085,
    kPixel = 1092,
    kSave = 1014,
    kDelete = 28,
    kZoomIn = 1232,
    kZoomOut = 1233,
    kWindowAdapt = 1235,
    kManual = 1236,
    kPreview = 1237,
    kMove = 1238,
    kLength = editors::ScaleBarControls::kLength,
    // Groups and the labels of the edits.
    kLeftGroup = 9101,
    kRightGroup = 9102,
    kBarGroup = 1368,
    kLabelName = 62006,
    kLabelActual = 62007,
    kLabelUnitName = 62008,
    kLabelPixel = 62009,
  };
  enum : int { kCursorArrow = 32512, kCursorHand = 328, kCursorGrab = 326 };

  explicit CScale2Dlg(QWidget* parent = nullptr);
  ~CScale2Dlg() override;

  // Before running: the engine's calibration-line length and its scale-bar block.
  void SetPixelLength(double length) { pixelLength_ = length; }
  void SetDisplayBlock(const ScaleDisplayBlock& block) { block_ = block; }
  // After OK: the factor, the unit and the bar block.
  void GetScale(float* factor, WString* unit, ScaleDisplayBlock* block) const;

  void OnInitDialog();
  int exec() override;
  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }

  // ---- capture, finding, measuring (ScaleDlg.cpp, ScaleDlgPreview.cpp)
  // Copies the current frame; without a frame a message says so and nothing changes.
  void OnBnClickedCapImage();
  // Runs the ruler finder on a copy of the captured image, off the user-interface thread; the
  // result arrives later (AnalysisRunning tells).
  void OnBnClickedAutoAnalyse();
  bool AnalysisRunning() const;
  void OnBnClickedManualMeasure();
  void OnBnClickedMove();
  void OnBnClickedZoomIn();
  void OnBnClickedZoomOut();
  void OnBnClickedWindowAdapt();
  // Mouse in preview coordinates.
  void OnLButtonDown(QPoint p);
  void OnMouseMove(QPoint p);
  void OnLButtonUp(QPoint p);
  void OnMButtonDown(QPoint p);
  void OnMButtonUp(QPoint p);
  // The picture's place in the preview for an image of w x h, zoomed and panned.
  RECT CalcPreviewRect(int w, int h) const;

  // ---- scale bar
  void OnBnClickedDisplay();
  void OnBnClickedDisplayEnable();
  void OnEnChangeLength();

  // ---- the scale list and the store (ScaleDlgList.cpp)
  void LoadScaleList(WStringView cameraName);
  void LoadSelectedScale();
  void OnLvnItemchangedScaleList();
  void OnBnClickedSave();
  void OnBnClickedDelete();
  void OnOK();
  void OnCancel();
  void OnNMDblclkScaleList();

  // For the owner and tests.
  float Factor() const { return factor_; }
  const WString& Unit() const { return unit_; }
  float Zoom() const { return zoom_; }
  POINT PanOffset() const { return pan_; }
  int CursorId() const { return cursor_; }
  const ScaleDisplayBlock& Block() const { return block_; }
  const WString& CameraName() const { return cameraName_; }
  bool HasCapture() const { return !captured_.empty(); }
  bool HasAnalysisImage() const { return !analysis_.empty(); }
  // The picture the preview shows (the analysis image after a find, else the capture).
  const QImage& ShownImage() const { return shown_; }
  QWidget* Preview() const;
  QTreeWidget* List() const { return list_; }
  QLineEdit* EditCtrl(int id) const;

 protected:
  void wheelEvent(QWheelEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  friend class CScalePreview;
  void PaintPreview(QPainter& painter);
  void ReadFlags();
  void ShowFlags();
  void SetCursorId(int id);
  // The block from the bar controls (colour, sliders, length), as Save and OK store it.
  void RefreshBlockFromControls();
  QTreeWidgetItem* SelectedRow() const;
  // The refusal of saving without a camera.
  bool RequireCamera();
  void PlaceOnScreen();
  // The factor and unit of the measured line (actual length / pixel length, the unit combo);
  // false when they give no usable factor.
  bool MeasuredScale(float* factor, WString* unit) const;
  void ShowImage(const std::vector<std::uint8_t>& bgrBottomUp);
  void Message(std::uint32_t id);

  // controls
  QComboBox* unitCombo_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QCheckBox* manualCheck_ = nullptr;
  QCheckBox* moveCheck_ = nullptr;
  CScalePreview* preview_ = nullptr;
  editors::ScaleBarControls bar_;
  QPushButton* autoAnalyse_ = nullptr;
  QPushButton* deleteButton_ = nullptr;

  // state
  int manual_ = 0;
  int move_ = 0;
  std::vector<std::uint8_t> captured_;  // 24-bit bottom-up, as the frame buffer
  WString unit_ = u"px";
  WString cameraName_;
  ScaleDisplayBlock block_;
  bool dragging_ = false;
  bool inside_ = false;
  float factor_ = 1.0f;
  float zoom_ = 1.0f;
  int imageWidth_ = 0;
  int imageHeight_ = 0;
  int cursor_ = kCursorArrow;
  POINT lineStart_{0, 0};
  POINT lineEnd_{0, 0};
  POINT last_{0, 0};
  POINT pan_{0, 0};
  double pixelLength_ = 0.0;
  bool keepBarLength_ = false;
  bool placed_ = false;  // placed on the screen at its first show  // a row selected by Save keeps the bar length typed
  std::vector<std::uint8_t> analysis_;
  QImage shown_;

  // the ruler finder's run: its copy of the image, and a stamp that a new capture changes
  struct Found {
    int result = -1;
    float length = 0.0f;
    std::vector<std::uint8_t> image;
    std::uint64_t stamp = 0;
  };
  QFutureWatcher<Found>* finder_ = nullptr;
  std::uint64_t captureStamp_ = 0;
};
