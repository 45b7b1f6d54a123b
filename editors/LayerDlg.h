#pragma once
// CLayerPane and CLayerDlg: the "Measuring Layer Editor" pane. The upper tab chooses what the
// drawing area shows (1 the view's magnifier, 2 the overview of the frame with the visible part
// marked, which can be dragged or clicked to scroll the view, 3 the histogram with a channel
// choice); the camera object draws the overview and histogram into it (ILayerPanel), the view
// the magnifier. The lower tab switches between the layer tree, colour and font, and scale
// display pages. The engine's notification reaches the live tree through OnMeasureNotify.
#include <QImage>
#include <QScrollArea>
#include <QWidget>

#include <cstdint>

#include "camera/CameraSinks.h"
#include "measure/MeasureBase.h"

class QComboBox;
class QStackedWidget;
class QTabBar;
class CLayerCtrlDlg;
class CColorFontDlg;
class ScaleDisplaySetDlg;
class CLayerPicture;

class CLayerDlg : public QWidget, public ILayerPanel, public ILayerEditor {
  Q_OBJECT
 public:
  enum : int { kViewTab = 1079, kPicture = 104, kLayerTab = 1114, kChannel = 1140 };
  // Cursor ids of the overview: the arrow, grabbing, an open hand over the mark, and the one
  // shown over the overview outside the mark.
  enum : int { kCursorArrow = 32512, kCursorGrab = 326, kCursorHand = 328, kCursorJump = 381 };

  explicit CLayerDlg(QWidget* parent = nullptr);
  ~CLayerDlg() override;

  // The engine's notification callback (register it with CMeasureManager::SetNotifyTarget):
  // routes to the layer tree of the live dialog; returns 1.
  static std::int32_t OnMeasureNotify(std::int32_t index, MEASUREBASE record, std::int32_t action);
  // The dialog the callback reaches (the last one made and still alive), or null.
  static CLayerDlg* Instance();

  CLayerCtrlDlg* LayerTree() const { return tree_; }
  CColorFontDlg* ColorFontPage() const { return colorFont_; }
  ScaleDisplaySetDlg* ScalePage() const { return scalePage_; }
  QTabBar* ViewTab() const { return viewTab_; }
  QTabBar* LayerTab() const { return layerTab_; }
  QComboBox* ChannelCombo() const { return channel_; }
  QWidget* PictureArea() const;

  void OnTcnSelchangeViewTab();
  // Shows the page of the lower tab; the scale display page is filled from the engine first
  // (also called after the scale changed elsewhere).
  void OnTcnSelchangeLayerTab();
  void OnCbnSelchangeChannel();

  // The pane's painting: the histogram (mode 3) or the overview (mode 2) when a frame exists.
  void RefreshPicture();
  // Overview mouse handling, in drawing-area coordinates.
  void OnMouseMove(QPoint p);
  void OnLButtonDown(QPoint p);
  void OnLButtonUp(QPoint p);
  int HoverState() const { return hover_; }
  int CursorId() const { return cursor_; }
  bool Dragging() const { return dragging_; }
  const QImage& Picture() const;

  // ILayerPanel: the camera object's overview and histogram, and the view's magnifier.
  // Nothing is drawn while no image is shown (the camera chosen is closed), though a camera
  // that is no longer chosen may still deliver frames.
  bool IsPanelVisible() const override;
  LayerPanelView PanelMode() const override;
  QSize PictureSize() const override;
  void ShowPicture(const QImage& picture) override;
  // ILayerEditor
  void ClearLayers() override;

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void SetCursorId(int id);
  // The tab captions, broken over two lines where the bar is narrower than they are.
  void FitTabCaptions();

  QTabBar* viewTab_ = nullptr;
  CLayerPicture* picture_ = nullptr;
  QTabBar* layerTab_ = nullptr;
  QComboBox* channel_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  CLayerCtrlDlg* tree_ = nullptr;
  CColorFontDlg* colorFont_ = nullptr;
  ScaleDisplaySetDlg* scalePage_ = nullptr;
  int cursor_ = kCursorArrow;
  bool dragging_ = false;
  int hover_ = 0;  // 0 elsewhere, 1 on the mark, 2 on the overview outside the mark
  QPoint last_;
  QStringList viewCaptions_;
  QStringList layerCaptions_;
};

// The dock's content: the dialog in a scroll area (a wheel notch is one 10-px line, a resize
// goes back to the top). The frame puts it into its QDockWidget.
class CLayerPane : public QScrollArea {
  Q_OBJECT
 public:
  explicit CLayerPane(QWidget* parent = nullptr);
  CLayerDlg* Dialog() const { return dlg_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  CLayerDlg* dlg_ = nullptr;
};
