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

#include "camera/CameraSinks.h"
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
  virtual bool OnCameraStop() { return false; }
  virtual void ZoomFitWindow() {}
  // Which display the layer editor's upper area shows.
  virtual LayerPanelView LayerPanelMode() const { return LayerPanelView::kMagnifier; }
  virtual void SetLayerPanelMode(LayerPanelView /*mode*/) {}
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
  // The frame's "Original Size" command (zoom factor 1.0), after a region of interest is set.
  virtual void ZoomOriginal() {}
  // The camera-list entry the panel's camera list shows (it stays shown when the camera is
  // stopped and no camera is current); -1 without one.
  virtual int ShownCameraIndex() const { return -1; }

  // ---- the layer editor (editors/)
  virtual void ClearLayers() {}
  // The engine's records changed wholesale (a load): rebuild the layer tree.
  virtual void RebuildLayers() {}
  // Redraw the magnifier, overview or histogram of the layer editor.
  virtual void RefreshLayerPanel() {}
  // Moves the view's image window to `rc` (view client coordinates; the overview's drag and
  // click) and repaints the view.
  virtual void SetImageWindowRect(const RECT& /*rc*/) {}
  // Clearing the layers: the view arms no tool (kind 256, tool mode 0), clears its tool check
  // marks and its cross-rule check mark.
  virtual void ResetViewTools() {}

  // ---- the image list (imaging/)
  virtual void AddImageFile(const QString& /*path*/) {}
  // Loads a bitmap file into the frame buffer and shows it (the view's bitmap loader); false
  // when the file was refused and the image shown is unchanged.
  virtual bool OpenImageFile(const QString& /*path*/) { return false; }

  // ---- the image dialogs and options (imaging/, options/)
};

// The host the windows talk to. Never null: a do-nothing host stands in until one is set.
IAppHost& AppHost();
void SetAppHost(IAppHost* host);
