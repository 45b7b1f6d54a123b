#pragma once
// What the panes and dialogs may ask of the main frame and its view. The frame implements it;
// the windows in editors/, imaging/ and options/ reach the frame, the view, the camera object
// and the measurement engine only through AppHost(), so they build and test without the frame
// (tests install a host of their own). Everything here runs on the user-interface thread.
//
// Defaults do nothing, so a window can be tested with a host that overrides only what it uses.
// A window that needs more of the frame adds a virtual with a harmless default in its own
// section below; the frame implements it.
#include <QRect>
#include <QString>

#include "platform/text.h"
#include "platform/types.h"

class QWidget;
class CCameraProcess;
class CMeasureManager;

class IAppHost {
 public:
  virtual ~IAppHost() = default;

  // ---- the frame and what it owns
  virtual QWidget* MainWindow() { return nullptr; }
  virtual CCameraProcess* Camera() { return nullptr; }
  virtual void ResetFrameStatistics() {}
  virtual void OnCameraLive() {}
  virtual void OnCameraStop() {}
  virtual void ZoomFitWindow() {}
  virtual double ZoomFactor() const { return 1.0; }
  // Which display the layer editor's upper area shows: 1 magnifier, 2 overview, 3 histogram.
  virtual int LayerPanelMode() const { return 1; }
  virtual void SetLayerPanelMode(int /*mode*/) {}
  virtual bool IsLayerPaneVisible() const { return false; }
  virtual bool ImageAvailable() const { return false; }
  virtual bool IsLive() const { return false; }
  // The camera pane's window rectangle on the screen (the wait box centres over it).
  virtual QRect CameraPaneRect() const { return {}; }

  // ---- the view and its measurement engine
  virtual CMeasureManager* Measure() { return nullptr; }
  virtual void SetImageState(int /*live*/, int /*image*/) {}
  virtual void ShowHint(const WString& /*text*/) {}
  // Repaint the view (a still image is drawn again from the frame buffer).
  virtual void RedrawView() {}
  virtual bool IsFullScreen() const { return false; }
  virtual void LoadSelectedScale(const WString& /*deviceName*/) {}
  // The view's client rectangle and the image window's rectangle in view client coordinates.
  virtual RECT ViewClientRect() const { return {}; }
  virtual RECT ImageWindowRect() const { return {}; }

  // ---- the camera panel (imaging/)
  // Region picking on the image ended: the panel disarms its region mode.
  virtual void CameraRegionPicked() {}

  // ---- the layer editor (editors/)
  virtual void ClearLayers() {}
  // The engine's records changed wholesale (a load): rebuild the layer tree.
  virtual void RebuildLayers() {}
  // Redraw the magnifier, overview or histogram of the layer editor.
  virtual void RefreshLayerPanel() {}

  // ---- the image list (imaging/)
  virtual void AddImageFile(const QString& /*path*/) {}

  // ---- the image dialogs and options (imaging/, options/)
};

// The host the windows talk to. Never null: a do-nothing host stands in until one is set.
IAppHost& AppHost();
void SetAppHost(IAppHost* host);
