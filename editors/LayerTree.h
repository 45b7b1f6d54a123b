#pragma once
// CLayerCtrlDlg: the layer editor's tree of measurements. One root ("Measure"), one item per
// measurement in slot order (the item's place under the root is the slot index), and the
// measurement's result text as the item's child. Its buttons edit the view's engine; the
// engine's notification callback keeps it in step with shapes drawn in the view.
#include <QWidget>

#include "measure/MeasureBase.h"

class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;
class CColorFontDlg;

class CLayerCtrlDlg : public QWidget {
  Q_OBJECT
 public:
  enum : int { kTree = 1118, kVisible = 1119, kLock = 1120, kDown = 1121, kUp = 1122, kCopy = 1123, kDelete = 28 };

  explicit CLayerCtrlDlg(QWidget* parent = nullptr);
  // The colour and font page that shows the selected measurement's style.
  void SetColorFontPage(CColorFontDlg* page) { colorFont_ = page; }

  void OnTvnSelchangedLayerTree();
  void OnBnClickedVisible();
  void OnBnClickedLock();
  void OnBnClickedDown();
  void OnBnClickedUp();
  void OnBnClickedCopy();
  void DeleteSelectedLayer();
  void DeleteAllLayers();
  // Empties the tree; the view arms no tool and the cross dividing rule goes off. The callers
  // empty the engine themselves.
  void ClearLayers();
  // The view's arrow keys: direction 0 left, 1 right, 2 up, 3 down.
  void NudgeSelectedLayer(int direction);
  // The tree made again from the engine's records (after the records changed wholesale).
  void RebuildLayers();
  // The engine's notification: 1 created or loaded, 2 finished or changed, 3 abandoned,
  // 4 selection cleared, 5 result text made again (the row's text follows, nothing else).
  void OnMeasureNotify(int index, const MEASUREBASE& record, int action);

  QTreeWidget* Tree() const { return tree_; }
  QTreeWidgetItem* Root() const { return root_; }
  // The slot index of the selected item; -1 when the root or nothing is selected.
  int SelectedIndex() const;
  // Selects the item of a slot (-1: the root), as a click on it would.
  void SelectIndex(int index);

 private:
  void Select(QTreeWidgetItem* item);
  void MoveSelected(int step);
  void SetResultChild(QTreeWidgetItem* item, const char16_t* text);
  void ShowRecord(const MEASUREBASE& record, bool fillAllowed);
  bool UpdateRowBoxes();

  QTreeWidget* tree_ = nullptr;
  QTreeWidgetItem* root_ = nullptr;
  QCheckBox* visible_ = nullptr;
  QCheckBox* lock_ = nullptr;
  CColorFontDlg* colorFont_ = nullptr;
};
