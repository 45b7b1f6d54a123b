// The image list: many files and the 256 limit, missing and broken files, literal names,
// deleting, the context menu, and opening an item in the view.
#include <QAction>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

#include "camera/BitmapFile.h"
#include "imaging/ImageListPane.h"
#include "imaging_test_support.h"

namespace {

class ImageListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pane = std::make_unique<CImageListPane>();
    pane->show();
    dlg = pane->Dialog();
  }
  QString MakeBmp(const QString& name, cv::Scalar colour = cv::Scalar(40, 80, 160), int w = 64, int h = 48) {
    const QString path = dir.filePath(name);
    cv::Mat m(h, w, CV_8UC3, colour);
    EXPECT_TRUE(cv::imwrite(path.toStdString(), m));
    return path;
  }
  bool ThumbsDone() { return WaitFor([this] { return dlg->PendingThumbnails() == 0; }); }

  QTemporaryDir dir;
  TestHost host;
  ScopedHost scoped{&host};
  std::unique_ptr<CImageListPane> pane;
  CImageListDlg* dlg = nullptr;
};

}  // namespace

TEST_F(ImageListTest, ListsUpTo256FilesWithTheirThumbnails) {
  QStringList paths;
  for (int i = 0; i < 257; ++i) paths << MakeBmp(QString("img%1.bmp").arg(i), cv::Scalar(i % 256, 10, 200), 8, 6);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(dlg->AddImageFile(0, paths[i]), 1) << i;
  // Refused without a box (a capture may be running unattended); the caller is told once.
  MessageCatcher catcher;
  EXPECT_EQ(dlg->AddImageFile(0, paths[256]), 0);
  EXPECT_EQ(dlg->AddImageFile(0, paths[256]), 0);
  EXPECT_TRUE(catcher.texts.empty());
  EXPECT_TRUE(dlg->TakeFullNotice());
  EXPECT_EQ(dlg->AddImageFile(0, paths[256]), 0);
  EXPECT_FALSE(dlg->TakeFullNotice());
  EXPECT_EQ(dlg->Count(), 256);
  ASSERT_TRUE(ThumbsDone());
  for (int i : {0, 100, 255}) {
    EXPECT_EQ(dlg->ThumbState(i), CImageListDlg::kThumbLoaded);
    EXPECT_EQ(dlg->List()->item(i)->text(), QString("img%1.bmp").arg(i));
    const QImage t = dlg->Thumbnail(i);
    ASSERT_EQ(t.size(), QSize(120, 90));
    // 8 x 6 pictures become 120 x 6 strips in the middle of a white tile.
    EXPECT_EQ(t.pixel(60, 45), qRgb(200, 10, i % 256));
    EXPECT_EQ(t.pixel(60, 5), qRgb(255, 255, 255));
  }
}

TEST_F(ImageListTest, MissingBrokenAndRepeatedFiles) {
  EXPECT_EQ(dlg->AddImageFile(0, dir.filePath("nothing.bmp")), 0);
  EXPECT_EQ(dlg->AddImageFile(0, dir.path()), 0);  // a folder is no image
  EXPECT_EQ(dlg->AddImageFile(0, QString()), 0);
  EXPECT_EQ(dlg->Count(), 0);

  const QString broken = dir.filePath("broken.bmp");
  QFile f(broken);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(500, 'x'));
  f.close();
  const QString good = MakeBmp("good.bmp");
  const QString jpeg = dir.filePath("shot.jpg");
  ASSERT_TRUE(cv::imwrite(jpeg.toStdString(), cv::Mat(300, 400, CV_8UC3, cv::Scalar(0, 200, 0))));
  EXPECT_EQ(dlg->AddImageFile(0, broken), 1);
  EXPECT_EQ(dlg->AddImageFile(0, good), 1);
  EXPECT_EQ(dlg->AddImageFile(0, jpeg), 1);
  ASSERT_TRUE(ThumbsDone());
  EXPECT_EQ(dlg->ThumbState(0), CImageListDlg::kThumbFailed);
  EXPECT_FALSE(dlg->List()->item(0)->icon().isNull());  // a placeholder, never nothing
  EXPECT_EQ(dlg->ThumbState(1), CImageListDlg::kThumbLoaded);
  EXPECT_EQ(dlg->Thumbnail(1).pixel(60, 45), qRgb(160, 80, 40));
  EXPECT_EQ(dlg->ThumbState(2), CImageListDlg::kThumbLoaded);
  EXPECT_NEAR(qGreen(dlg->Thumbnail(2).pixel(60, 45)), 200, 3);

  // Again: the listed item is selected, nothing is added; other selections stay.
  dlg->List()->item(0)->setSelected(true);
  EXPECT_EQ(dlg->AddImageFile(0, good), 1);
  EXPECT_EQ(dlg->Count(), 3);
  EXPECT_TRUE(dlg->List()->item(1)->isSelected());
  EXPECT_TRUE(dlg->List()->item(0)->isSelected());
}

TEST_F(ImageListTest, WildcardCharactersAreTakenLiterally) {
  const QString starred = MakeBmp("a*b?[1].bmp");
  MakeBmp("axb1.bmp");
  EXPECT_EQ(dlg->AddImageFile(0, dir.filePath("a*.bmp")), 0);
  EXPECT_EQ(dlg->AddImageFile(0, dir.filePath("a?b1.bmp")), 0);
  EXPECT_EQ(dlg->AddImageFile(0, starred), 1);
  ASSERT_TRUE(ThumbsDone());
  EXPECT_EQ(dlg->PathAt(0), starred);
  EXPECT_EQ(dlg->ThumbState(0), CImageListDlg::kThumbLoaded);
  EXPECT_EQ(dlg->List()->item(0)->text(), "a*b?[1].bmp");
}

TEST_F(ImageListTest, DeletingKeepsPathsInStepAndIgnoresVanishedFiles) {
  const QString a = MakeBmp("a.bmp"), b = MakeBmp("b.bmp"), c = MakeBmp("c.bmp"), d = MakeBmp("d.bmp");
  for (const QString& p : {a, b, c, d}) ASSERT_EQ(dlg->AddImageFile(0, p), 1);

  // Nothing selected: "Delete" is greyed, "Delete All" is not.
  dlg->List()->clearSelection();
  auto menu = pane->PrepareContextMenu();
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), "Delete");
  EXPECT_FALSE(menu->actions()[0]->isEnabled());
  EXPECT_TRUE(menu->actions()[1]->isEnabled());

  // The middle item, whose file is gone meanwhile, goes without a word.
  QFile::remove(b);
  dlg->List()->item(2)->setSelected(true);
  dlg->List()->item(1)->setSelected(true);
  MessageCatcher catcher;
  menu = pane->PrepareContextMenu();
  ASSERT_TRUE(menu->actions()[0]->isEnabled());
  menu->actions()[0]->trigger();
  EXPECT_TRUE(catcher.texts.isEmpty());
  ASSERT_EQ(dlg->Count(), 3);
  EXPECT_EQ(dlg->PathAt(1), c);
  EXPECT_EQ(dlg->List()->item(1)->text(), "c.bmp");
  EXPECT_EQ(dlg->PathAt(2), d);
  EXPECT_EQ(dlg->List()->item(2)->text(), "d.bmp");
  // Freed places take new files.
  EXPECT_EQ(dlg->AddImageFile(0, b), 0);
  EXPECT_EQ(dlg->AddImageFile(0, MakeBmp("e.bmp")), 1);
  EXPECT_EQ(dlg->PathAt(3), dir.filePath("e.bmp"));

  menu = pane->PrepareContextMenu();
  menu->actions()[1]->trigger();
  EXPECT_EQ(dlg->Count(), 0);
  EXPECT_EQ(dlg->List()->count(), 0);
  ASSERT_TRUE(ThumbsDone());  // late thumbnails of deleted items land nowhere
}

TEST_F(ImageListTest, DoubleClickOpensTheImageInTheView) {
  const QString a = MakeBmp("a.bmp");
  ASSERT_EQ(dlg->AddImageFile(0, a), 1);
  dlg->OnNMDblclkImageList(dlg->List()->item(0));
  EXPECT_EQ(host.opened, QStringList{a});
  EXPECT_EQ(host.fits, 1);

  host.openResult = false;
  MessageCatcher catcher;
  dlg->OnNMDblclkImageList(dlg->List()->item(0));
  EXPECT_EQ(catcher.texts, QStringList{"Open image file fail"});
  EXPECT_EQ(host.fits, 1);
  dlg->OnNMDblclkImageList(nullptr);
  EXPECT_EQ(host.opened.size(), 2);
}

TEST_F(ImageListTest, ClosingWhileThumbnailsLoadIsSafe) {
  // Large enough that the readers are still busy when the list goes.
  const QString big = dir.filePath("big.bmp");
  ASSERT_TRUE(cv::imwrite(big.toStdString(), TexturedSample(1600, 1200, 3)));
  for (int i = 0; i < 40; ++i) {
    const QString copy = dir.filePath(QString("big%1.bmp").arg(i));
    ASSERT_TRUE(QFile::copy(big, copy));
    ASSERT_EQ(dlg->AddImageFile(0, copy), 1);
  }
  pane.reset();
  QApplication::processEvents();
}
