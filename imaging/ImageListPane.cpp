#include "imaging/ImageListPane.h"

#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>

#include "platform/strings.h"
#include "ui/CommandIds.h"

namespace {
QString Q(std::uint32_t id) { return QString::fromStdU16String(LoadStringW(id)); }
}  // namespace

CImageListPane::CImageListPane(QWidget* parent) : QDockWidget(Q(40004), parent) {
  setObjectName(QStringLiteral("ImageListPane"));
  dlg_ = new CImageListDlg(this);
  setWidget(dlg_);
  // The list's own menu requests reach the pane.
  dlg_->List()->setContextMenuPolicy(Qt::NoContextMenu);
}

std::unique_ptr<QMenu> CImageListPane::PrepareContextMenu() {
  menuItem_ = dlg_->FirstSelected();
  dlg_->List()->setFocus();
  auto menu = std::make_unique<QMenu>(this);
  QAction* del = menu->addAction(Q(ids::kImageListDelete), this, &CImageListPane::OnDeleteImage);
  del->setData(ids::kImageListDelete);
  del->setEnabled(menuItem_ >= 0);
  QAction* all = menu->addAction(Q(ids::kImageListDeleteAll), this, &CImageListPane::OnDeleteAllImages);
  all->setData(ids::kImageListDeleteAll);
  return menu;
}

void CImageListPane::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = PrepareContextMenu();
  menu->exec(event->globalPos());
}

void CImageListPane::OnDeleteImage() {
  dlg_->DeleteImage(menuItem_);
  menuItem_ = -1;
}

void CImageListPane::OnDeleteAllImages() { dlg_->DeleteAllImages(); }
