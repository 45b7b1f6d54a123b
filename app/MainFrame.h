#pragma once
// CMainFrame: the one top-level window. It owns the camera object, the view, the status bar,
// the three toolbars with the zoom combo, the three docked panes and the state the live,
// capture, zoom and image commands share; it is the host every pane and dialog reaches the
// program through.
//
// Split by concern: MainFrame.cpp (creation, layout, panes, host services),
// MainFrameCommands.cpp (live, stop, capture, record, status bar), MainFrameZoom.cpp (zoom, the
// image menu, toggles, options, background colour, scale), MainFrameLanguage.cpp (language
// commands, restart, exit and close).
#include <QColor>
#include <QDateTime>
#include <QDockWidget>
#include <QFuture>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/CommandRouter.h"
#include "camera/CameraProcess.h"
#include "camera/CameraSinks.h"
#include "platform/strings.h"
#include "ui/AppHost.h"
#include "ui/CommandIds.h"

class CApplicationView;
class CLayerPane;
class CCamSetupPane;
class CCamSetupDlg;
class CImageListPane;
class CGrayStretchDlg;
class CImagePrsDlg;
class CTipDlg;
class QComboBox;
class QLabel;
class QMessageBox;
class QToolBar;

// The image sets of the toolbar buttons: the main toolbar's three differ in colour and show the
// Live and Record buttons' state; the other bars use the plain set.
enum class ToolbarImages : int { kPlain = 0, kIdle = 339, kPlaying = 349, kRecording = 377 };

class CMainFrame : public QMainWindow, public IAppHost, public IMainFrame {
  Q_OBJECT
 public:
  CMainFrame();
  ~CMainFrame() override;

  CApplicationView* View() const { return view_; }
  CCameraProcess& CameraObject() { return camera_; }
  CCommandRouter& Router() { return router_; }

  // ---- shared state
  LayerPanelView layerPanelMode = LayerPanelView::kMagnifier;
  double zoomFactor = 1.0;
  bool restartFlag = false;
  bool measureBarFlag = false;
  bool zoomBarFlag = false;
  bool recordingFlag = false;
  int capturedFrames = 0;
  bool continuousCapture = false;
  int imageAvailable = 0;
  int liveFlag = 0;
  QColor backgroundColor;

  // ---- live, stop, capture, record (MainFrameCommands.cpp)
  void OnCameraLive() override;
  bool OnCameraStop() override;
  void OnStreamChanged(int index, int status) override;
  void OnCapture();
  void ContinuousCaptureTick();
  int CaptureImageToFile();
  void OnRecord();
  // The library ended a recording by itself (status: why), or a recording's file is closed (0).
  void OnRecordingEnded(int status);
  // The camera library's device events, on the user-interface thread: a lost camera is stopped
  // (its capture and recording ended) and named; when it comes back it plays again.
  void OnDeviceEvent(int event, int handle, const std::string& deviceName);
  void UpdateRecordingStatus();  // elapsed time in pane 0 while recording
  void UpdateMainToolbarImages(bool playing);
  void UpdateCaptureStatus();
  void CountFrame() { FrameStatistics().CountFrame(); }
  int ResetFrameStatisticsNow() { return FrameStatistics().ResetFrameStatistics(); }
  CFrameStatistics& FrameStatistics() override { return stats_; }
  // The local time of capture names (tests fix it).
  std::function<QDateTime()> clock;

  // ---- zoom and the other frame commands (MainFrameZoom.cpp)
  void ApplyZoom(double factor);
  void OnZoomIn();
  void OnZoomOut();
  void OnZoomFitWindow();
  void OnZoomOriginal();
  void OnZoomRatioChange();
  void OnMeasuringBar();
  void OnZoomBar();
  void OnImageListView();
  void OnFullScreen();
  void OnBackgroundColor();
  void RunScaleDialog();
  void RunImageCommand(int id);
  // The options dialog on the page of a settings command; the image dialogs.
  void OnOptionsPage(int id);
  void OnImageDialog(int id);

  // ---- language, exit and close (MainFrameLanguage.cpp)
  void OnLanguageChinese();
  void OnLanguageEnglish();
  void RestartApplication();
  void OnAppExit();
  // Closes as the close box does, without a box of any kind (no one may be there to answer: a
  // logout, a shutdown, a signal); what would have been said is logged.
  void CloseQuietly();
  // The engine now holds the layers of this camera's section, loaded in this session: only
  // these are saved back over the section (when the camera stops, or the window closes).
  void LayersLoaded(const WString& device, int index);
  // Saves the loaded layers into the default layer file under their camera's section, while
  // that camera is open; true when there was nothing to save or it was saved.
  bool SaveLoadedLayers();
  // Yes/No questions; tests answer them.
  std::function<bool(const QString& caption, const QString& text)> askYesNo;
  // The restart question after a language change, asked in the language chosen (its text and
  // its buttons); tests answer it. By default AskRestartBox.
  std::function<bool(UiLanguage language, const QString& text)> askRestart;
  static bool AskRestartBox(QWidget* parent, UiLanguage language, const QString& text);
  // The restart question of a change to `language`, and its box (for AskRestartBox and pictures).
  static QString RestartQuestion(UiLanguage language);
  static std::unique_ptr<QMessageBox> MakeRestartBox(QWidget* parent, UiLanguage language, const QString& text);
  // Message boxes with an OK button; tests record them.
  std::function<void(const QString& text)> messageBox;
  // Starts the program again (tests record the call instead).
  std::function<void()> restartLauncher;

  // ---- window geometry and dock layout in the settings store (MainFrameWindowState.cpp)
  void SaveWindowState();
  // True when a stored geometry or layout was applied.
  bool RestoreWindowState();

  // ---- windows
  QToolBar* MainToolBar() const { return mainBar_; }
  QToolBar* MeasureToolBar() const { return measureBar_; }
  QToolBar* ZoomToolBar() const { return zoomBar_; }
  QComboBox* ZoomCombo() const { return zoomCombo_; }
  QDockWidget* CameraPane() const { return cameraPane_; }
  QDockWidget* LayerPane() const { return layerPane_; }
  QDockWidget* ImageListPane() const;
  QLabel* StatusPane(int i) const { return statusPanes_[i]; }
  void SetStatusPane(int i, const QString& text);
  // The image set of the main toolbar in use.
  ToolbarImages MainToolbarImages() const { return mainImages_; }
  QTimer& Timer1() { return timer1_; }
  QTimer& Timer2() { return timer2_; }

  // ---- IAppHost
  QWidget* MainWindow() override { return this; }
  CCameraProcess* Camera() override { return &camera_; }
  void ResetFrameStatistics() override { ResetFrameStatisticsNow(); }
  void ZoomFitWindow() override { OnZoomFitWindow(); }
  LayerPanelView LayerPanelMode() const override { return layerPanelMode; }
  void SetLayerPanelMode(LayerPanelView mode) override { layerPanelMode = mode; }
  bool IsLayerPaneVisible() const override;
  bool ImageAvailable() const override { return imageAvailable != 0; }
  bool IsLive() const override { return liveFlag != 0; }
  QRect CameraPaneRect() const override;
  int ShownCameraIndex() const override;
  CMeasureManager* Measure() override;
  void SetImageState(int live, int image) override;
  void ShowHint(const WString& text) override;
  void RedrawView() override;
  bool IsFullScreen() const override;
  void LoadSelectedScale(const WString& deviceName) override;
  RECT ViewClientRect() const override;
  RECT ImageWindowRect() const override;
  void ClearLayers() override;
  void RebuildLayers() override;
  void RefreshLayerPanel() override;
  void AddImageFile(const QString& path) override;
  bool OpenImageFile(const QString& path) override;
  void SetImageWindowRect(const RECT& rc) override;
  void ResetViewTools() override;
  CLayerPane* LayerPaneWidget() const { return layerWidget_; }
  CCamSetupDlg* CameraPanel() const;
  void ZoomOriginal() override { OnZoomOriginal(); }
  CImageListPane* ImageListWidget() const { return imageListPane_; }

  // ---- what the view asks of the panes (forwarded to the windows that own them)
  void NudgeSelectedLayer(int direction);
  void DeleteSelectedLayer();
  void DeleteAllLayers();
  // Runs the text-remark dialog; false when cancelled.
  bool RunRemarkDialog(int kind, WString* text, int* fontSize, COLORREF* color);
  ILayerPanel* LayerPanel();
  // The reference-figure dialogs (angle or round), the scale settings and the reports.
  void RunContrastDialog(bool angle);
  void RunScaleSettings();
  // Writes the report behind the wait box, off the user-interface thread; the hint or the
  // failure's message follows when it is done.
  void ExportReport(bool word);
  bool ReportRunning() const;
  // Camera-panel controls enabled or disabled by the image state.
  void EnableCameraControls(const int* ids, int count, bool enable);
  // The camera panel's region modes and their completions (camera rectangles).
  struct CameraArm {
    bool regionWB = false, regionAE = false, adaptiveBlackLevel = false;
    int roiArmed = 0;
  };
  CameraArm CameraRegionArm() const;
  void CameraRegionDone(int which, int x = 0, int y = 0, int w = 0, int h = 0);
  void ShowCameraPane();
  void ShowLayerPane();
  // The camera panel's detection and set-up on Live.
  void DetectCameras();
  void InitCameraControls(int handle);
  void RefreshFromCamera(int handle);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateMenus();
  void CreateToolBars();
  void CreateStatusBar();
  void CreatePanes();
  void RegisterCommands();
  QIcon CommandIcon(int id, ToolbarImages set, int size) const;
  void OnClose();
  // Continuous capture ends with `hint` shown.
  void EndContinuousCapture(const WString& hint);
  // Cameras lost while open, by device name: they play again when they come back.
  std::set<std::string> lostDevices_;
  // Live found no camera listed: it opens the first one that discovery brings.
  bool liveWhenListed_ = false;
  // The capture count could not be saved and the operator was told (not again until it saves).
  bool captureCountUnsaved_ = false;
  // Exit has just said that the settings could not be saved.
  bool settingsUnsavedSaid_ = false;

  CCommandRouter router_;
  CFrameStatistics stats_;
  CCameraProcess camera_;
  CApplicationView* view_ = nullptr;
  QToolBar* mainBar_ = nullptr;
  QToolBar* measureBar_ = nullptr;
  QToolBar* zoomBar_ = nullptr;
  QComboBox* zoomCombo_ = nullptr;
  QDockWidget* cameraPane_ = nullptr;
  QDockWidget* layerPane_ = nullptr;
  CImageListPane* imageListPane_ = nullptr;
  CLayerPane* layerWidget_ = nullptr;
  CCamSetupPane* cameraWidget_ = nullptr;
  QPointer<CGrayStretchDlg> grayStretch_;
  QPointer<CImagePrsDlg> stitching_;
  QPointer<CTipDlg> reportWait_;  // stands while a report is being written
  QFuture<CCameraProcess::ReportResult> report_;  // the report's worker, which reads camera_
  QLabel* statusPanes_[4] = {};
  ToolbarImages mainImages_ = ToolbarImages::kIdle;
  QTimer timer1_;
  QTimer timer2_;
  QTimer updateTimer_;
  bool closing_ = false;
  bool quiet_ = false;  // closing without boxes
  struct LoadedLayers {
    WString device;
    int index = 0;  // the resolution index at load; the camera's own when it still answers
  };
  std::optional<LoadedLayers> loaded_;
};
