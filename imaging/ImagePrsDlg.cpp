#include "imaging/ImagePrsDlg.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <new>

#include "imaging/ImagePreview.h"
#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "ui/TipDlg.h"
#include "ui/DlgTexts.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"

namespace {

constexpr char kPreviewTitle[] = "Prevew";

QString Q(const WString& s) { return QString::fromStdU16String(s); }

KvImgImage Descriptor(const BitmapImage& image) {
  return KvImgImage{const_cast<unsigned char*>(image.pixels.data()), image.Width(), image.Height(), 3};
}

// One line per file: the message of each that failed.
WString FailureList(const std::vector<WString>& failures) {
  WString all;
  for (const WString& f : failures) all += (all.empty() ? u"" : u"\n") + f;
  return all;
}

struct LoadResult {
  QStringList paths;
  std::vector<CImagePrsDlg::ImagePtr> images;
  std::vector<WString> failures;
};

LoadResult LoadJob(const QStringList& paths, int room) {
  LoadResult r;
  for (const QString& path : paths) {
    if (int(r.images.size()) >= room) break;  // the 101st image and the rest stay out
    auto image = std::make_shared<BitmapImage>();
    const BitmapStatus s = ReadBitmapFile(path, image.get());
    if (s != BitmapStatus::Ok) {
      r.failures.push_back(BitmapStatusText(s, path));
      continue;
    }
    r.paths << path;
    r.images.push_back(std::move(image));
  }
  return r;
}

struct StitchResult {
  int rc = KVIMG_E_FAILED;
  CImagePrsDlg::ImagePtr image;
};

StitchResult MosaicJob(const std::vector<CImagePrsDlg::ImagePtr>& images) {
  StitchResult r;
  std::vector<KvImgImage> table;
  for (const auto& image : images) table.push_back(Descriptor(*image));
  // The library's capacity for a result whose size is not preset; the pages are touched only
  // where the mosaic is written.
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[KVIMG_MOSAIC_CAPACITY]);
  if (!buffer) return r;
  KvImgImage result{buffer.get(), 0, 0, 3};
  r.rc = KvImgMosaic(table.data(), int(table.size()), &result, 1);
  if (r.rc != KVIMG_OK) return r;
  auto out = std::make_shared<BitmapImage>();
  out->format = MakeFrameFormat(result.width, result.height);
  out->pixels.assign(buffer.get(), buffer.get() + std::size_t(result.width) * std::size_t(result.height) * 3);
  r.image = std::move(out);
  return r;
}

struct FusionResult {
  int successes = 0;
  std::vector<WString> skipped;
  CImagePrsDlg::ImagePtr image;
};

FusionResult FusionJob(const std::vector<CImagePrsDlg::ImagePtr>& images, const QStringList& paths) {
  FusionResult r;
  auto out = std::make_shared<BitmapImage>(*images[0]);
  const KvImgImage acc = Descriptor(*out);
  for (std::size_t i = 1; i < images.size(); ++i) {
    const BitmapImage& next = *images[i];
    if (next.Width() != out->Width() || next.Height() != out->Height()) {
      r.skipped.push_back(paths[qsizetype(i)].toStdU16String());
      continue;
    }
    if (KvImgFusion(acc, Descriptor(next), acc, 1) == KVIMG_OK) ++r.successes;
  }
  if (r.successes > 0) r.image = std::move(out);
  return r;
}

}  // namespace

CImagePrsDlg::CImagePrsDlg(QWidget* parent) : QDialog(parent) {
  InstallImagePreviewWindows();
  setAttribute(Qt::WA_DeleteOnClose);
  const ui::CtrlMap map = ui::BuildControls(this, {
                                                      {kList, ui::Ctl::Tree, 0, 0, 4},
                                                      {kLoad, ui::Ctl::Button, 0, 0},
                                                      {kRemoveAll, ui::Ctl::Button, 0, 1},
                                                      {kMosaic, ui::Ctl::Button, 0, 2},
                                                      {kFusion, ui::Ctl::Button, 0, 3},
                                                      {kFolderLabel, ui::Ctl::Label, 0, 0},
                                                      {kFolder, ui::Ctl::Edit, 0, 1, 2},
                                                      {kBrowse, ui::Ctl::Button, 0, 3},
                                                      {kPreview, ui::Ctl::Button, 0, 0, 2},
                                                      {kSave, ui::Ctl::Button, 0, 2, 2},
                                                  });
  list_ = map.Find<QTreeWidget>(kList);
  folder_ = map.Find<QLineEdit>(kFolder);
  load_ = map.Find<QPushButton>(kLoad);
  removeAll_ = map.Find<QPushButton>(kRemoveAll);
  mosaic_ = map.Find<QPushButton>(kMosaic);
  fusion_ = map.Find<QPushButton>(kFusion);
  preview_ = map.Find<QPushButton>(kPreview);
  browse_ = map.Find<QPushButton>(kBrowse);
  save_ = map.Find<QPushButton>(kSave);

  list_->setColumnCount(1);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setHeaderLabels({Q(LoadStringW(sid::kImagePath))});
  list_->header()->resizeSection(0, 500);
  list_->setMinimumSize(520, 240);

  connect(load_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedLoadImages);
  connect(removeAll_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedRemoveAll);
  connect(mosaic_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedMosaic);
  connect(fusion_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedFusion);
  connect(preview_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedPreview);
  connect(browse_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedBrowseFolder);
  connect(save_, &QPushButton::clicked, this, &CImagePrsDlg::OnBnClickedSave);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &CImagePrsDlg::OnNMDblclkImageList);

  folder_->setText(QDir::toNativeSeparators(QDir::currentPath()));
  LoadDlgItemTexts(this);
  setWindowTitle(Q(LoadStringW(sid::kImageFusionMosaic)));
  UpdateButtons();
}

CImagePrsDlg::~CImagePrsDlg() = default;

template <class R>
void CImagePrsDlg::RunBusy(std::function<R()> work, std::function<void(R&)> done) {
  SetBusy(true);
  // The watcher is the dialog's child: when the dialog goes first, the result is dropped.
  auto* watcher = new QFutureWatcher<R>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, done = std::move(done)] {
    R result = watcher->result();
    watcher->deleteLater();
    SetBusy(false);
    done(result);
  });
  watcher->setFuture(QtConcurrent::run(std::move(work)));
}

void CImagePrsDlg::SetBusy(bool busy) {
  busy_ = busy;
  // The wait box stands while a worker runs; it only shows, the dialog stays usable.
  if (busy && !wait_) {
    wait_ = new CTipDlg(this);
    wait_->show();
  } else if (!busy && wait_) {
    wait_->close();
    wait_->deleteLater();
    wait_.clear();
  }
  UpdateButtons();
}

void CImagePrsDlg::UpdateButtons() {
  const bool idle = !busy_;
  const bool any = !images_.empty();
  load_->setEnabled(idle);
  browse_->setEnabled(idle);
  removeAll_->setEnabled(idle && any);
  mosaic_->setEnabled(idle && any);
  fusion_->setEnabled(idle && any);
  preview_->setEnabled(idle && result_ != nullptr);
  save_->setEnabled(idle && result_ != nullptr);
}

void CImagePrsDlg::Tell(const WString& text) { QMessageBox::information(this, windowTitle(), Q(text)); }

void CImagePrsDlg::OnBnClickedLoadImages() {
  const QString filter = QStringLiteral("Bitmap (*.bmp)");
  const QStringList paths = QFileDialog::getOpenFileNames(this, QString(), QString(), filter);
  if (!paths.isEmpty()) LoadImages(paths);
}

void CImagePrsDlg::LoadImages(const QStringList& paths) {
  if (busy_) return;
  const int room = kMaxImages - Count();
  if (room <= 0 || paths.isEmpty()) return;
  RunBusy<LoadResult>([paths, room] { return LoadJob(paths, room); },
                      [this](LoadResult& r) {
                        for (qsizetype i = 0; i < r.paths.size(); ++i) {
                          images_.push_back(r.images[std::size_t(i)]);
                          paths_ << r.paths[i];
                          list_->addTopLevelItem(new QTreeWidgetItem(QStringList{r.paths[i]}));
                        }
                        UpdateButtons();
                        if (!r.failures.empty()) Tell(FormatW(LoadStringW(sid::kTheseImagesNotLoaded), FailureList(r.failures)));
                      });
}

void CImagePrsDlg::OnBnClickedRemoveAll() {
  if (busy_) return;
  images_.clear();
  paths_.clear();
  list_->clear();
  result_.reset();
  UpdateButtons();
}

void CImagePrsDlg::OnBnClickedMosaic() {
  if (busy_ || Count() < 2) return;
  result_.reset();
  RunBusy<StitchResult>([images = images_] { return MosaicJob(images); },
                        [this](StitchResult& r) {
                          result_ = r.image;
                          UpdateButtons();
                          if (r.rc != KVIMG_OK || !result_) {
                            Tell(LoadStringW(sid::kFailMosaicking));
                            return;
                          }
                          OnBnClickedPreview();
                        });
}

void CImagePrsDlg::OnBnClickedFusion() {
  if (busy_ || Count() < 2) return;
  const WString ask = FormatW(LoadStringW(sid::kWillUseResolutionFirstImage), images_[0]->Width(), images_[0]->Height());
  if (QMessageBox::question(this, windowTitle(), Q(ask), QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  result_.reset();
  RunBusy<FusionResult>([images = images_, paths = paths_] { return FusionJob(images, paths); },
                        [this](FusionResult& r) {
                          result_ = r.image;
                          UpdateButtons();
                          if (!r.skipped.empty()) Tell(FormatW(LoadStringW(sid::kTheseImagesDifferSizeFrom), FailureList(r.skipped)));
                          if (!result_) {
                            Tell(LoadStringW(sid::kFusionFailed));
                            return;
                          }
                          Tell(FormatW(LoadStringW(sid::kSuccessStitchImages), r.successes + 1));
                          OnBnClickedPreview();
                        });
}

void CImagePrsDlg::OnNMDblclkImageList() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  const int row = list_->indexOfTopLevelItem(selected.first());
  if (row < 0 || row >= Count()) return;
  const BitmapImage& image = *images_[std::size_t(row)];
  KvImgShowImage(image.pixels.data(), image.Width(), image.Height(), 3, kPreviewTitle, 1);
}

void CImagePrsDlg::OnBnClickedPreview() {
  if (result_) KvImgShowImage(result_->pixels.data(), result_->Width(), result_->Height(), 3, kPreviewTitle, 1);
}

void CImagePrsDlg::OnBnClickedBrowseFolder() {
  const QString dir = QFileDialog::getExistingDirectory(this, Q(LoadStringW(sid::kPleaseSelectPathSavingImage)), folder_->text());
  if (!dir.isEmpty()) folder_->setText(QDir::toNativeSeparators(dir));
}

void CImagePrsDlg::OnBnClickedSave() {
  if (busy_ || !result_) return;
  QString folder = QDir::fromNativeSeparators(folder_->text());
  if (!folder.endsWith(u'/')) folder += u'/';
  const QDateTime now = QDateTime::currentDateTime();
  const QDate d = now.date();
  const QTime t = now.time();
  const QString path =
      folder + Q(FormatW(u"%d%02d%02d%02d%02d%02d.bmp", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()));
  lastSaved_.clear();
  RunBusy<BitmapStatus>([image = result_, path] { return WriteBitmapFile(path, *image); },
                        [this, path](BitmapStatus& s) {
                          if (s == BitmapStatus::Ok)
                            lastSaved_ = path;
                          else
                            Tell(BitmapStatusText(s, path));
                        });
}
