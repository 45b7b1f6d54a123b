#pragma once
// CImagePrsDlg (dialog 413, "Image Fusion Mosaic"): loads up to 100 bitmaps, stitches them into
// one mosaic or fuses a focus stack of equal-sized images into one sharp image, previews inputs
// and result in the image library's window, and saves the result as a bitmap named by the time.
// It works on its own buffers and never touches the frame buffer.
//
// Loading, stitching, fusion and saving run on a worker thread while the wait box shows and
// the buttons are disabled; the window stays responsive. The workers share the images, never the
// dialog: closing the dialog meanwhile drops their result when it arrives.
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "camera/BitmapFile.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

class CImagePrsDlg : public QDialog {
 public:
  static constexpr int kMaxImages = 100;
  // Control ids.
  enum : int {
    kList = 1288,
    kLoad = 1292,
    kRemoveAll = 1296,
    kMosaic = 1289,
    kFusion = 1290,
    kPreview = 1281,
    kBrowse = 1293,
    kSave = 1014,
    kFolder = 1192,
    kFolderLabel = 61411,
  };
  using ImagePtr = std::shared_ptr<const BitmapImage>;

  explicit CImagePrsDlg(QWidget* parent = nullptr);
  ~CImagePrsDlg() override;

  // Button handlers.
  void OnBnClickedLoadImages();  // the file dialog, then LoadImages
  void OnBnClickedRemoveAll();
  void OnBnClickedMosaic();
  void OnBnClickedFusion();
  void OnBnClickedPreview();
  void OnBnClickedBrowseFolder();
  void OnBnClickedSave();
  void OnNMDblclkImageList();

  // Loads the files in order (after the ones loaded) until 100 are held; files that are not
  // valid 24-bit bitmaps are skipped and named in one message.
  void LoadImages(const QStringList& paths);

  int Count() const { return int(images_.size()); }
  const std::vector<ImagePtr>& Images() const { return images_; }
  // The stitched or fused image (null when there is none).
  const ImagePtr& Result() const { return result_; }
  // Where the last save went (empty before the first or after a failure).
  const QString& LastSavedPath() const { return lastSaved_; }
  bool Busy() const { return busy_; }

 private:
  // Runs work on the thread pool with the wait box up; done(result) runs on this
  // thread afterwards unless the dialog is gone.
  template <class R>
  void RunBusy(std::function<R()> work, std::function<void(R&)> done);
  void SetBusy(bool busy);
  void UpdateButtons();
  void Tell(const WString& text);

  std::vector<ImagePtr> images_;
  QStringList paths_;
  ImagePtr result_;
  QString lastSaved_;
  bool busy_ = false;

  QTreeWidget* list_ = nullptr;
  QLineEdit* folder_ = nullptr;
  QPointer<QDialog> wait_;  // the wait box while a worker runs
  QPushButton* load_ = nullptr;
  QPushButton* removeAll_ = nullptr;
  QPushButton* mosaic_ = nullptr;
  QPushButton* fusion_ = nullptr;
  QPushButton* preview_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* save_ = nullptr;
};
