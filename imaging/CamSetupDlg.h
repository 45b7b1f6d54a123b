#pragma once
// CCamSetupDlg: the "Camera Control" panel. Every control with which the operator drives the
// current camera, built from one control table (CamSetupDlg.cpp). The handlers are split by
// control family: CamSetupExposure.cpp (capability set-up, automatic and manual exposure),
// CamSetupImage.cpp (gain, gamma, colour, mirroring, white balance, black level, region of
// interest), CamSetupTeams.cpp (parameter teams, focus assistant), CamSetupSelect.cpp (camera
// choice, detection, refresh, timers, frame speed, preview size), CamSetupDeadPixel.cpp.
//
// The panel keeps no camera parameter of its own: each handler takes the current camera's
// handle from the camera object (AppHost().Camera()) and asks or tells the library. Without an
// open current camera the handlers do nothing and the camera controls stay disabled.
// Waits (white balance, focus assistant) are steps on the panel's clock; the panel is disabled
// while one runs.
#include <QPointer>
#include <QSpinBox>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ui/DialogBuilder.h"
#include "camera/CameraTypes.h"
#include "imaging/CamSetupClock.h"
#include "imaging/CamSetupIds.h"
#include "imaging/CamSetupInternal.h"
#include "platform/camsdk/camsdk.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;
class CCameraProcess;
class CTipDlg;

// A spin button next to its buddy edit. A step first asks the owner (which may move the
// position and rewrite the edit), then moves by its own delta within its range and writes the
// position into the buddy edit, as an auto-buddy spin does.
class CamSpinButton : public QSpinBox {
  Q_OBJECT
 public:
  explicit CamSpinButton(QWidget* parent = nullptr);
  void SetBuddy(QLineEdit* edit) { buddy_ = edit; }
  QLineEdit* Buddy() const { return buddy_; }
  // The owner's handler; the argument is the delta (+1 up, -1 down).
  void SetDeltaHandler(std::function<void(int)> handler) { handler_ = std::move(handler); }
  // Sets the position (blocked) and writes it into the buddy edit.
  void SetPos(int pos);
  void stepBy(int steps) override;

 private:
  QLineEdit* buddy_ = nullptr;
  std::function<void(int)> handler_;
};

class CCamSetupDlg : public QWidget {
  Q_OBJECT
 public:
  // Region modes the view asks about when a rectangle was dragged in the image.
  enum class Region { None, WhiteBalance, Exposure, BlackLevel, Roi };

  explicit CCamSetupDlg(QWidget* parent = nullptr, std::unique_ptr<CamSetupClock> clock = nullptr);
  ~CCamSetupDlg() override;

  // ---- what the frame and the view call
  // Lists the cameras; selects the first one (without opening it) and stops the detection timer.
  void DetectCameras();
  // Lists the cameras again when discovery found new ones: the camera chosen stays chosen (the
  // first is chosen only when none was), and the detection timer stops once one is listed.
  void RefreshCameraList();
  // Shapes the controls from the camera's capabilities and returns the block the frame stores
  // with CCameraProcess::SetCameraCapability.
  stCameraCapability InitCameraControls(int handle);
  // Reads every parameter of the camera into the controls and restarts its stream.
  void RefreshFromCamera(int handle);
  // The view's SetImageState: enables or disables these controls. Camera controls stay disabled
  // without an open current camera, and the colour controls of a monochrome camera and the
  // controls a camera lacks stay disabled.
  void EnableControls(const std::vector<int>& ids, bool enable);
  // The armed region mode (first of white balance, exposure, black level, region of interest).
  Region ArmedRegion() const;
  bool IsRegionWBArmed() const { return m_bRegionWB != 0; }
  bool IsRegionAEArmed() const { return m_bRegionAE != 0; }
  bool IsAdaptiveBlackLevelArmed() const { return m_bAdaptiveBlackLevel != 0; }
  bool IsRoiArmed() const { return m_nRoiArmed != 0; }
  // The view applied a dragged rectangle to the camera in the armed mode: the panel finishes
  // that mode and disarms it (for the region of interest, x, y, width, height are the region
  // the view set).
  void OnRegionApplied(Region mode, int x, int y, int width, int height);

  // Handlers the view calls directly after applying a rectangle.
  void OnBnClickedAutoExposure();
  void OnBnClickedRegionAutoExposure();
  void OnBnClickedOnceWhiteBalance();
  void OnBnClickedRegionWhiteBalance();
  void OnBnClickedAdaptiveBlackLevel();
  void SetRoiFromView(int x, int y, int width, int height);

  // ---- for tests and the pane
  CamSetupClock& Clock() { return *clock_; }
  QWidget* Ctrl(int id) const { return ctrls_.Get(id); }
  // A step machine (white balance wait, focus assistant, dead-pixel info) is running.
  bool IsBusy() const { return busy_ != 0 || focus_.searching || focus_.ending; }
  int ParamTeam() const { return m_nParamTeam; }
  std::uint64_t ExposureMax() const { return m_nExposureMax; }
  std::uint64_t ExposureMin() const { return m_nExposureMin; }
  bool IsMonoCamera() const { return mono_; }
  // The panel's own timers (ids 1..3).
  void OnTimer(int id);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // structure (CamSetupDlg.cpp)
  void BuildPanel();
  void Connect();
  void InstallKeyFilter(QWidget* root);
  bool WheelScrollsPanel(QObject* watched, QEvent* event);
  void UpdateData(bool save);  // save: boxes into members; else members into boxes
  bool CurrentHandle(int* handle) const;  // false without an open current camera
  CCameraProcess* Camera() const;
  QSlider* Slider(int id) const;
  QLineEdit* Edit(int id) const;
  QComboBox* Combo(int id) const;
  QCheckBox* Check(int id) const;
  CamSpinButton* Spin(int id) const;
  void Enable(int id, bool on);
  void SetChecked(int id, bool on);
  void SetText(int id, const QString& text);
  void SetSliderPos(int id, int pos);
  // Checks one radio of a group (or none: checkedId -1).
  void CheckRadio(std::initializer_list<int> ids, int checkedId);
  void DisableWithoutCamera();
  void BeginStep();
  void EndStep();
  bool IsColourControl(int id) const;
  bool IsLackingControl(int id) const;
  bool StateAllows(int handle, int id) const;
  // What the camera answered a change: true when it took it (ui::CameraTook tells a refusal).
  bool Took(int status);
  // The frame buffer for the camera's new picture size (ui::FrameBufferFits).
  bool FrameBufferFits(bool allocated, int width, int height);
  // The camera's preview size into the frame buffer (as FrameBufferFits); false when the
  // camera gives no size or the buffer could not be had.
  bool FitFrameBuffer(int handle);
  // The camera plays again after a change that stopped it; the window shows whether it does.
  bool PlayAgain(int handle);

  // exposure (CamSetupExposure.cpp)
  void OnBnClickedAeAdjustGain();
  void OnBnClickedAeAdjustExposure();
  void OnAeSchemeSelChange();
  void OnAeTargetChanged();
  void ShowAeMode(int handle);
  void ApplyExposureFields();
  void OnEnChangeExposureField(int editId);
  void OnDeltaPosMinutesOrSeconds(int spinId, int delta);
  void OnDeltaPosExposure(int delta);
  void OnDeltaPosExposureUs(int delta);
  void OnBnClickedSetExposure();
  void ExposureUnitCascade(int handle, bool withSpinRanges);
  void ShowExposure(std::uint64_t exposure);

  // image controls (CamSetupImage.cpp)
  void OnAnalogGainChanged();
  void OnAnalogGainTyped();
  void OnGammaChanged();
  void OnContrastChanged();
  void SetBlackLevel();
  void OnColourGainChanged(int sliderId);
  void OnSaturationChanged();
  void OnSharpnessChanged();
  void OnBnClickedBox(int id);
  void OnBnClickedAntiFlick(int id);
  void OnCaptureSizeSelChange();
  void OnMediaTypeSelChange();
  void OnBnClickedAutoWhiteBalance();
  void ReadBackColourGains(int handle);
  // The camera's last answer (CAMSDK_STATUS_OK when a region was set).
  int ApplyRoi(int handle, int* x, int* y, int* width, int* height);
  void OnBnClickedRoiSetting();
  void ArmRegion(int* member, std::uint32_t hint);

  // teams and focus assistant (CamSetupTeams.cpp)
  void OnBnClickedTeam(int team);
  void OnBnClickedSaveParam();
  void OnBnClickedFluorescenceFocus();
  void FocusStart(int handle);
  void FocusNextRound(int round);
  void FocusSearchRound(int generation, int round);
  void FocusSearchDone(int handle);
  void FocusGiveUp(std::uint32_t hint, int hintValue = 0);
  void FocusRestoreCamera(bool current);
  void FocusEnd(int handle);
  void FocusTestShot(int generation);
  void FocusEndSettled(int generation);
  void FocusReadBack(int handle);
  bool FocusFetchGrey(int handle, int* grey);
  bool FocusStillCurrent(int handle) const;
  void FocusSetStepping(bool searching, bool ending);
  bool FocusLocks(int id) const;
  void FocusReset();
  void RestoreAutoExposure(int handle);
  void ShowPreviewSel(int handle);

  // selection, refresh, timers (CamSetupSelect.cpp)
  void OnCameraSelChange();
  void OnBnClickedReadParam();
  void OnBnClickedFactoryDefault();
  void OnBnClickedFrameSpeed(int speed);
  void OnPreviewSizeSelChange();
  void RemoveCaptureRoiEntry();
  void InsertCaptureRoiEntry();
  void SyncCaptureSize(int handle);
  void ReloadLayers(int handle);

  // dead pixels (CamSetupDeadPixel.cpp)
  void OnBnClickedCalcDeadPixels();
  void DeadPixelInfoDone(int handle, int result);

  std::unique_ptr<CamSetupClock> clock_;
  ui::CtrlMap ctrls_;
  QWidget* hiddenRow_ = nullptr;
  QPointer<CTipDlg> tipDlg_;

  int m_nParamTeam = 255;
  int m_bAutoExposure = 0;
  int m_bDeadPixelCorrection = 0;
  int m_bInverse = 0;
  int m_bMonochrome = 0;
  int m_bFlipVertical = 0;
  int m_bFlipHorizontal = 0;
  std::uint64_t m_nExposureMax = 0;
  std::uint64_t m_nExposureMin = 0;
  int m_bAdaptiveBlackLevel = 0;
  int m_bRegionAE = 0;
  int m_nRoiArmed = 0;
  int m_bRegionWB = 0;
  int m_bAeAdjustGain = 0;
  int m_bAeAdjustExposure = 0;
  int m_bFocusAssist = 0;
  int m_bAutoWB = 0;

  bool mono_ = false;  // the current camera has no colour sensor
  int lacking_ = 0;    // CAMSDK_CONTROL_* the current camera lacks
  int frameSpeedCount_ = 0;  // frame speeds the current camera offers (0: not known)
  int busy_ = 0;       // running step machines
  // The focus assistant's scratch: the camera it runs on, what to give back to it, and the
  // search. Its steps carry the run's generation: a step of an ended run does nothing.
  struct FocusRun {
    int handle = -1;
    int generation = 0;
    int previewSel = 0;               // resolution and exposure before the assistant started
    std::uint64_t exposureBefore = 0;
    int aeBefore = 0;                 // automatic exposure was on
    camsetup::FocusSearch search;
    bool searching = false;           // the search runs
    bool ending = false;              // switched off: the test shot and the return run
  } focus_;
  int focusGeneration_ = 0;
};
