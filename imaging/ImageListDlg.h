#pragma once
// CImageListDlg (dialog 380): the thumbnails of captured and opened image files, at most 256.
// The capture and the view's file opening add files; a double click opens one in the view as a
// still image. Thumbnails load on worker threads: an item shows a placeholder until its
// thumbnail arrives, and keeps a placeholder of its own when the file cannot be read.
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QListWidget;
class QListWidgetItem;
class QThreadPool;

class CImageListDlg : public QWidget {
 public:
  static constexpr int kMaxImages = 256;
  static constexpr int kThumbWidth = 120;
  static constexpr int kThumbHeight = 90;
  // The thumbnail list's control id.
  static constexpr int kListId = 1184;
  // Item states (ThumbState).
  enum { kThumbPending = 0, kThumbLoaded = 1, kThumbFailed = 2 };

  explicit CImageListDlg(QWidget* parent = nullptr);
  // Drops thumbnails not started yet and waits for the ones being read.
  ~CImageListDlg() override;

  // 1 when listed (or listed already: that item is selected), 0 when refused (256 listed,
  // or no such file). The path is taken literally: wildcard characters are part of the name.
  // A refusal because the list is full shows nothing.
  int AddImageFile(int unused, const QString& path);
  // True once after the list first refused a file for being full (again after items were
  // deleted and it filled up anew): the caller says so then, and not on every refusal.
  bool TakeFullNotice() {
    const bool tell = fullRefused_ && !fullTold_;
    if (fullRefused_) fullTold_ = true;
    fullRefused_ = false;
    return tell;
  }

  int Count() const { return int(paths_.size()); }
  QString PathAt(int index) const { return paths_.value(index); }
  QListWidget* List() const { return list_; }
  // kThumbPending, kThumbLoaded or kThumbFailed.
  int ThumbState(int index) const;
  QImage Thumbnail(int index) const;
  int PendingThumbnails() const { return pending_; }

  // The item at `index` goes; the paths after it move up.
  void DeleteImage(int index);
  void DeleteAllImages();
  // The lowest selected index, or -1.
  int FirstSelected() const;

  void OnNMDblclkImageList(QListWidgetItem* item);

  // The thumbnail of a file: 120 x min(image height, 90), on a white 120 x 90 tile; a null
  // image when the file cannot be read. Runs on any thread.
  static QImage MakeThumbnail(const QString& path);

 private:
  void OnThumbnail(quint64 serial, const QImage& thumb);

  QListWidget* list_ = nullptr;
  QStringList paths_;
  quint64 nextSerial_ = 1;
  int pending_ = 0;
  bool fullRefused_ = false, fullTold_ = false;
  std::unique_ptr<QThreadPool> pool_;
};
