#pragma once
// What the camera object needs of the windows around it. The view, the layer panel, the main
// frame and the layer editor implement these; the defaults do nothing, so the camera object
// works (and is tested) without any window.
#include <QImage>
#include <QSize>

#include "camera/FrameStatistics.h"
#include "platform/types.h"

class CCameraProcess;
class CMeasureManager;

// The view: its image window and its measurement engine. Called on the user-interface thread.
class ICameraView {
 public:
  virtual ~ICameraView() = default;
  // The view's measurement engine, or null.
  virtual CMeasureManager* MeasureManager() { return nullptr; }
  // The view's client rectangle, and the image window's rectangle in view client coordinates.
  virtual RECT ViewClientRect() const { return {}; }
  virtual RECT ImageWindowRect() const { return {}; }
  // A new frame is in the frame buffer: show it (DrawImage now, or in the paint it schedules).
  // Calls are coalesced: when frames come faster than they are shown, only the newest counts.
  virtual void FrameReady(CCameraProcess& /*camera*/) {}
};

// What the layer panel's display area shows (the numbers are the upper tabs' order, from 1).
enum class LayerPanelView : int { kMagnifier = 1, kOverview = 2, kHistogram = 3 };

// The layer panel's display area: the camera object draws the overview thumbnail and the
// histogram into it.
class ILayerPanel {
 public:
  virtual ~ILayerPanel() = default;
  virtual bool IsPanelVisible() const { return false; }
  virtual LayerPanelView PanelMode() const { return LayerPanelView::kMagnifier; }
  virtual QSize PictureSize() const { return {}; }  // client size of the picture control
  virtual void ShowPicture(const QImage& /*picture*/) {}
};

// The main frame: its frame statistics, its Stop command and the state it shows.
class IMainFrame {
 public:
  virtual ~IMainFrame() = default;
  // Counted on the camera thread, read and reset on the user-interface thread.
  virtual CFrameStatistics& FrameStatistics() { return stats_; }
  // The Stop command for the current camera; returns false when not handled, and the camera
  // object then closes the current camera itself.
  virtual bool OnCameraStop() { return false; }
  // A camera-list entry's stream was played, paused or stopped through the camera object: its
  // state now says what the camera did. `status` is the library's answer (CAMSDK_STATUS_OK, or
  // why the camera did not do it); the frame shows the state and tells the operator of a failure.
  virtual void OnStreamChanged(int /*index*/, int /*status*/) {}

 private:
  CFrameStatistics stats_;
};

// The layer editor's tree of measurements.
class ILayerEditor {
 public:
  virtual ~ILayerEditor() = default;
  virtual void ClearLayers() {}
};
