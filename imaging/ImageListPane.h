#pragma once
// CImageListPane: the dockable "Image list" pane around CImageListDlg, with its context menu
// ("Delete" the item under the menu, "Delete All"). Deleting only removes items from the list;
// the files stay, and an item whose file is gone goes like any other.
#include <QDockWidget>

#include <memory>

#include "imaging/ImageListDlg.h"

class QMenu;

class CImageListPane : public QDockWidget {
 public:
  explicit CImageListPane(QWidget* parent = nullptr);

  CImageListDlg* Dialog() const { return dlg_; }

  // The menu as it opens: remembers the first selected item and focuses the list; "Delete" is
  // greyed when nothing is selected. The caller runs and deletes it.
  std::unique_ptr<QMenu> PrepareContextMenu();
  void OnDeleteImage();
  void OnDeleteAllImages();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  CImageListDlg* dlg_ = nullptr;
  int menuItem_ = -1;
};
