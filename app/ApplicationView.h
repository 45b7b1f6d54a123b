#pragma once
// CApplicationView: the single view. It owns the image window (into which the frame and its
// measurement overlay are drawn at the current zoom) and the measurement engine, maps pointer
// positions to image pixels for the engine, pans, shows hints, switches full screen and gates
// the measuring menus by the image state.
//
// Split by concern: ViewDisplay.cpp (image window, fit, client-to-image, paint, image state,
// hints, full screen), ViewMouse.cpp (mouse, keys, camera rectangles, magnifier, readout),
// ViewCommands.cpp (commands and their update handlers, scale loading), ViewFiles.cpp (bitmaps
// and layer files). The image window repaints when the engine announces a change.
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "camera/CameraSinks.h"
#include "platform/gdi/capture.h"
#include "measure/MeasureManager.h"
#include "platform/text.h"
#include "platform/types.h"

class CMainFrame;
class CCameraProcess;
class CCommandRouter;
class QMenu;
class QPushButton;
class QLabel;

// The image window: every pixel comes from the camera object's drawing of the frame buffer and
// the engine's overlay. Mouse events go through it to the view.
class CStaticEx : public QWidget {
  Q_OBJECT
 public:
  CStaticEx(CCameraProcess& camera, const CMeasureManager& engine, QWidget* parent);
  // The picture as last painted (the pixel readout and the magnifier read it).
  const QImage& LastPicture() const { return last_; }
  // The colour shown at a point of the window; white where nothing was painted.
  QRgb PixelAt(QPoint p) const;
  // Paint statistics for the benchmarks: pictures painted, seconds spent painting, and frames
  // that arrived while a picture was painted (how far the shown frame lags behind).
  std::uint64_t paints = 0;
  double paintSeconds = 0;
  std::uint64_t lagFrames = 0;
  // The overlay is drawn again at the next paint (the measurements or their state changed);
  // with `frameToo` the frame is scaled again as well (the still image's pixels changed).
  void InvalidateOverlay(bool frameToo = false) {
    overlayDirty_ = true;
    frameDirty_ = frameDirty_ || frameToo;
  }
  // Called after each paint: what follows the picture shown (the magnifier) is drawn anew.
  std::function<void()> painted;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  // What the interaction layer was drawn with: the engine's revisions of what it shows, and the
  // camera's rectangle drawn over it.
  struct OverKey {
    std::uint64_t measurements = 0, interaction = 0, overlays = 0;
    bool roi = false;
    POINT roiOrigin{0, 0}, roiCorner{0, 0};
    friend bool operator==(const OverKey&, const OverKey&) = default;
  };
  OverKey CurrentOverKey() const;

  CCameraProcess& camera_;
  const CMeasureManager& engine_;
  QImage last_;
  QPoint lastOrigin_;
  // The measurement overlay as last drawn, kept while neither it nor the window changes: live
  // frames and pointer moves that change nothing then cost only the frame's scaling.
  QImage frameLayer_;  // the frame scaled to the window's visible part
  std::uint64_t frameSequence_ = ~0ull;
  bool frameDirty_ = true;
  QImage overlay_;      // the grid and the measurements
  QImage interaction_;  // handles, selection, remarks and overlays on top of them
  OverKey interactionKey_;
  QRect layerVisible_;  // what the two layers were drawn for
  QSize layerWindow_;
  QSize layerImage_;
  bool overlayDirty_ = true;
  std::uint64_t restingRevision_ = 0;  // the engine's `resting` revision overlay_ was drawn at
  // While a measurement is moved: overlay_ holds those before it, above_ those after it, and
  // base_ the frame with overlay_ on it; each move draws only the moving one and what is over it.
  int movingIndex_ = -1;
  QImage above_;
  QImage base_;
  bool baseStale_ = true;
};

class CApplicationView : public QWidget, public ICameraView, public IMouseCapture {
  Q_OBJECT
 public:
  // Cursor ids: the arrow, the open hand of the hand mode, the closed hand while panning.
  enum : int { kCursorArrow = 32512, kCursorHand = 328, kCursorGrab = 326 };

  CApplicationView(CMainFrame& frame, CCameraProcess& camera, QWidget* parent = nullptr);
  ~CApplicationView() override;

  // ---- ICameraView
  CMeasureManager* MeasureManager() override { return &m_MeasureMgr; }
  RECT ViewClientRect() const override;
  RECT ImageWindowRect() const override;
  void FrameReady(CCameraProcess& camera) override;

  // ---- IMouseCapture: the engine holds the mouse while a shape is dragged
  void SetCapture() override;
  void ReleaseCapture() override;

  // ---- display (ViewDisplay.cpp)
  void SetImageState(int live, int image);
  void ShowHint(const WString& text);
  bool IsFullScreen() const { return m_bFullScreen; }
  void ToggleFullScreen();
  RECT CalcFitRect(int w, int h) const;
  static RECT FitRect(int w, int h, int clientWidth, int clientHeight);
  POINT ClientToImage(int x, int y) const;
  int DrawStillImage();
  CStaticEx* ImageWindow() const { return m_wndImage; }
  void MoveImageWindow(const RECT& rc);
  void RefreshOverview();
  // The image window painted again with its overlay drawn anew, and the frame scaled anew.
  void RedrawImage();
  // The same, keeping the scaled frame and whatever of the overlay did not change (the engine's
  // changes repaint by themselves; this is for what the view draws beside them).
  void RedrawOverlay();
  QString HintText() const { return hintText_; }
  // The context menu ("Right Mouse").
  QMenu* PopupMenu() const { return m_menuPopup; }

  // ---- mouse and keys (ViewMouse.cpp)
  void BeginRegionSelect();
  void EndRegionSelect();
  void SetTool(int kind, int mode);
  void ClearToolChecks();
  // No tool armed, no check marks, the cross rule's mark cleared (the layer editor's clearing).
  void ResetTools();
  void UpdateMagnifier(int x, int y);
  // The magnifier empty: the pointer left the image, or the picture went.
  void ClearMagnifier();

  // ---- commands (ViewCommands.cpp)
  void RegisterCommands(CCommandRouter& router);
  void LoadSelectedScale(const WString& cameraName);
  int PendingKind() const { return m_nPendingKind; }
  bool HandMode() const { return m_bHandMode; }
  int CursorId() const { return m_nCursorId; }

  // ---- files (ViewFiles.cpp)
  // 1 when shown; 0 with the reader's reason in *error (when given) and the image kept.
  int LoadBitmapFile(const QString& path, QString* error = nullptr);
  // Saves the shown image with its measurements drawn in; false (with `error`) on failure.
  bool SaveBitmapFile(const QString& path, QString* error = nullptr);
  void OnFileOpen();
  void OnFileSaveAs();
  void OnSaveLayers();
  void OnLoadLayers();
  // The current camera's device name and resolution index: the layer file's section.
  void LayerSection(WString* name, int* index) const;
  // Whether a layer file holds layers of that section that load (see ViewFiles.cpp).
  bool LayerFileLoads(const std::filesystem::path& file, const WString& name, int index) const;
  // The message that the default layer file could not be written.
  void ReportDefaultLayersNotSaved();
  // The camera handle and resolution index LayerSection last read.
  mutable std::pair<int, int> lastSizeSel_{-1, 0};
  // Where the file dialog for layer files (or images) opens: the folder last used for them,
  // else the user's Documents (Pictures) folder, else the home folder; never the program's own
  // data folder a start from the menu works in.
  QString DialogFolder(bool layerFiles) const;
  // File dialogs; tests replace them. Each returns the chosen paths (empty when cancelled).
  std::function<QStringList(bool open, bool multi, const QString& filter, const QString& defExt)> fileDialog;
  // Error and notice boxes; tests replace them.
  std::function<void(const QString& text)> messageBox;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void leaveEvent(QEvent* e) override;

 private:
  friend class ViewTestAccess;
  void OnLButtonDown(QPoint p);
  void OnLButtonUp(QPoint p);
  void OnMouseMove(QPoint p);
  void OnRButtonDown(QPoint p);
  void OnRButtonUp(QPoint p);
  void OnLButtonDblClk(QPoint p);
  void OnMButtonDown(QPoint p);
  void OnMButtonUp(QPoint p);
  void PanStep(QPoint p);
  void ApplyCameraRect();
  void MeasureBlackLevel(int handle, POINT a, POINT b, int ox, int oy);
  void ConfineCursor(const QRect& viewRect);
  void FreeCursor();
  void UpdateCursor();
  void ToolCommand(int kind, int checkIndex);
  void DividingRule(int which);
  void ShowContextMenu(const QPoint& globalPos);
  QSize ImageSize() const;

  CMainFrame& frame_;
  CCameraProcess& camera_;

  int m_nCursorId = kCursorArrow;
  bool m_bHandMode = false;
  bool m_bInImage = false;
  bool m_bPanning = false;
  POINT m_ptPanAnchor{0, 0};
  CStaticEx* m_wndImage = nullptr;
  CMeasureManager m_MeasureMgr;
  int m_nPendingKind = 256;
  int m_nToolMode = 0;
  bool m_bGrid = false;
  bool m_bCrossRule = false;
  bool m_bAngleRule = false;
  bool m_bRegionSelect = false;
  bool m_bRegionStarted = false;
  POINT m_ptRegionStart{0, 0};
  QMenu* m_menuPopup = nullptr;
  QLabel* m_tipHint = nullptr;
  QTimer hintTimer_;
  QString hintText_;
  int m_nRButtonResult = 3;
  bool m_bToolCheck[18] = {};
  QPushButton* m_btnRestore = nullptr;
  bool m_bFullScreen = false;
  bool m_bTextTool = false;
  bool m_bCameraRectDrag = false;
  POINT m_ptCameraRectStart{0, 0};
  QRect m_rcSavedFrame;
  std::vector<QPointer<QWidget>> m_shownBeforeFullScreen;  // panes and bars to show again
  QRect cursorClip_;  // confinement of the pointer while a drag runs (empty: free)
  // Where the magnifier looks (view client coordinates) while the pointer is over the image;
  // each new picture is magnified there again.
  std::optional<QPoint> magnifierAt_;
  // The folders the operator last chose a layer file and an image in.
  QString lastLayerFolder_, lastImageFolder_;
  void RememberFolder(bool layerFiles, const QString& path);
};
