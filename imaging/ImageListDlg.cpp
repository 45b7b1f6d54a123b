#include "imaging/ImageListDlg.h"

#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraProcess.h"
#include "camera/BitmapFile.h"
#include "platform/strings.h"

namespace {

constexpr int kSerialRole = Qt::UserRole + 1;
constexpr int kStateRole = Qt::UserRole + 2;

QImage Tile(const QImage& picture) {
  QImage tile(CImageListDlg::kThumbWidth, CImageListDlg::kThumbHeight, QImage::Format_RGB32);
  tile.fill(Qt::white);
  QPainter p(&tile);
  if (!picture.isNull()) {
    p.drawImage(0, (tile.height() - picture.height()) / 2, picture);
  }
  return tile;
}

// Grey tile while loading; a crossed one when the file could not be read.
QImage Placeholder(bool broken) {
  QImage tile = Tile(QImage());
  QPainter p(&tile);
  p.setPen(QColor(160, 160, 160));
  p.setBrush(QColor(230, 230, 230));
  p.drawRect(tile.rect().adjusted(0, 0, -1, -1));
  if (broken) {
    p.setPen(QPen(QColor(200, 60, 60), 2));
    p.drawLine(40, 25, 80, 65);
    p.drawLine(80, 25, 40, 65);
  }
  return tile;
}

}  // namespace

CImageListDlg::CImageListDlg(QWidget* parent) : QWidget(parent), pool_(std::make_unique<QThreadPool>()) {
  // Two readers: enough to keep ahead of the list without taking the disk from the camera.
  pool_->setMaxThreadCount(2);
  list_ = new QListWidget(this);
  ui::SetCtrlId(list_, kListId);
  list_->setViewMode(QListView::IconMode);
  list_->setIconSize(QSize(kThumbWidth, kThumbHeight));
  list_->setGridSize(QSize(140, 130));
  list_->setMovement(QListView::Static);
  list_->setResizeMode(QListView::Adjust);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setUniformItemSizes(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  connect(list_, &QListWidget::itemDoubleClicked, this, &CImageListDlg::OnNMDblclkImageList);
}

CImageListDlg::~CImageListDlg() {
  pool_->clear();
  pool_->waitForDone();
}

int CImageListDlg::AddImageFile(int /*unused*/, const QString& path) {
  if (Count() >= kMaxImages) {
    // Said by the caller, once (TakeFullNotice): a box here would stop a running capture.
    fullRefused_ = true;
    return 0;
  }
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isFile()) return 0;
  const int listed = int(paths_.indexOf(path));
  if (listed >= 0) {
    if (parentWidget()) parentWidget()->setFocus();
    list_->setFocus();
    list_->item(listed)->setSelected(true);
    return 1;
  }

  const quint64 serial = nextSerial_++;
  auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(Placeholder(false))), info.fileName());
  item->setData(kSerialRole, serial);
  item->setData(kStateRole, kThumbPending);
  item->setToolTip(path);
  paths_ << path;
  list_->addItem(item);
  ++pending_;
  pool_->start([this, serial, path] {
    QImage thumb = MakeThumbnail(path);
    // Queued to this thread; the destructor waits for running readers, so `this` is alive.
    QMetaObject::invokeMethod(this, [this, serial, thumb] { OnThumbnail(serial, thumb); }, Qt::QueuedConnection);
  });
  return 1;
}

QImage CImageListDlg::MakeThumbnail(const QString& path) {
  QImage picture;
  BitmapLayout layout;
  if (ProbeBitmapFile(path, &layout) == BitmapStatus::Ok) {
    if (ReadBitmapThumbnail(path, kThumbWidth, std::min(layout.height, kThumbHeight), &picture) != BitmapStatus::Ok)
      return {};
  } else {
    // Other formats of the capture (JPEG and the like), decoded at thumbnail size.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return {};
    reader.setScaledSize(QSize(kThumbWidth, std::min(size.height(), kThumbHeight)));
    if (!reader.read(&picture)) return {};
  }
  if (picture.isNull()) return {};
  return Tile(picture);
}

void CImageListDlg::OnThumbnail(quint64 serial, const QImage& thumb) {
  --pending_;
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    if (item->data(kSerialRole).toULongLong() != serial) continue;
    const bool ok = !thumb.isNull();
    item->setIcon(QIcon(QPixmap::fromImage(ok ? thumb : Placeholder(true))));
    item->setData(kStateRole, ok ? kThumbLoaded : kThumbFailed);
    if (ok) item->setData(Qt::UserRole + 3, thumb);
    return;
  }
}

int CImageListDlg::ThumbState(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item ? item->data(kStateRole).toInt() : kThumbFailed;
}

QImage CImageListDlg::Thumbnail(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item ? item->data(Qt::UserRole + 3).value<QImage>() : QImage();
}

void CImageListDlg::DeleteImage(int index) {
  if (index < 0 || index >= Count()) return;
  delete list_->takeItem(index);
  paths_.removeAt(index);
  fullTold_ = false;
}

void CImageListDlg::DeleteAllImages() {
  if (Count() < 1) return;
  list_->clear();
  paths_.clear();
  fullTold_ = false;
}

int CImageListDlg::FirstSelected() const {
  int first = -1;
  for (const QListWidgetItem* item : list_->selectedItems()) {
    const int row = list_->row(item);
    if (first < 0 || row < first) first = row;
  }
  return first;
}

void CImageListDlg::OnNMDblclkImageList(QListWidgetItem* item) {
  const int index = item ? list_->row(item) : -1;
  if (index < 0 || index >= Count()) return;
  const QString path = paths_[index];
  if (CCameraProcess* cam = AppHost().Camera()) cam->StopAllCameras();
  if (!AppHost().OpenImageFile(path)) {
    QMessageBox::information(this, QString::fromStdU16String(LoadStringW(sid::kAppTitle)), QString::fromStdU16String(LoadStringW(sid::kOpenImageFileFail)));
    return;
  }
  AppHost().ZoomFitWindow();
}
