// The stitching and fusion dialog: loading with bad files, stitching crops of one made image
// back into it, fusing a made focus stack, saving, and closing while a worker runs.
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QTreeWidget>

#include <opencv2/imgcodecs.hpp>

#include "ui/DialogBuilder.h"
#include "ui/TipDlg.h"
#include "imaging/ImagePrsDlg.h"
#include "imaging_test_support.h"

namespace {

class PrsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg = new CImagePrsDlg;
    dlg->show();
  }
  void TearDown() override {
    delete dlg;
    QThreadPool::globalInstance()->waitForDone();
  }
  QString Write(const QString& name, const cv::Mat& m) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(cv::imwrite(path.toStdString(), m));
    return path;
  }
  QPushButton* Button(int id) { return ui::FindCtrl<QPushButton>(dlg, id); }
  void Click(int id) { Button(id)->click(); }
  bool Idle() { return WaitFor([this] { return !dlg->Busy(); }); }
  // The result as a top-down picture.
  cv::Mat ResultPicture() {
    const auto& r = *dlg->Result();
    cv::Mat m(r.Height(), r.Width(), CV_8UC3, const_cast<std::uint8_t*>(r.pixels.data())), flipped;
    cv::flip(m, flipped, 0);
    return flipped;
  }

  QTemporaryDir dir;
  QPointer<CImagePrsDlg> dlg;
};

}  // namespace

TEST_F(PrsTest, LoadsValidBitmapsAndNamesTheOnesItSkips) {
  EXPECT_FALSE(Button(CImagePrsDlg::kRemoveAll)->isEnabled());
  EXPECT_FALSE(Button(CImagePrsDlg::kMosaic)->isEnabled());
  EXPECT_FALSE(Button(CImagePrsDlg::kSave)->isEnabled());
  const QString a = Write("a.bmp", TexturedSample(30, 20, 1));
  const QString junk = dir.filePath("junk.bmp");
  QFile f(junk);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("BM this is no bitmap at all, only text long enough to hold both headers.....");
  f.close();
  const QString b = Write("b.bmp", TexturedSample(31, 21, 2));
  MessageCatcher catcher;
  dlg->LoadImages({a, junk, dir.filePath("gone.bmp"), b});
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(WaitFor([&] { return !catcher.texts.isEmpty(); }));
  EXPECT_EQ(dlg->Count(), 2);
  auto* list = ui::FindCtrl<QTreeWidget>(dlg, CImagePrsDlg::kList);
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(0), b);
  EXPECT_EQ(list->headerItem()->text(0), "Image Path");
  ASSERT_EQ(catcher.texts.size(), 1);
  EXPECT_TRUE(catcher.texts[0].contains(junk));
  EXPECT_TRUE(catcher.texts[0].contains("gone.bmp"));
  EXPECT_FALSE(catcher.texts[0].contains("a.bmp"));
  EXPECT_TRUE(Button(CImagePrsDlg::kRemoveAll)->isEnabled());
  EXPECT_TRUE(Button(CImagePrsDlg::kFusion)->isEnabled());

  Click(CImagePrsDlg::kRemoveAll);
  EXPECT_EQ(dlg->Count(), 0);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_FALSE(Button(CImagePrsDlg::kMosaic)->isEnabled());
}

TEST_F(PrsTest, HoldsAtMostAHundredImages) {
  const QString one = Write("one.bmp", TexturedSample(4, 3, 1));
  QStringList many;
  for (int i = 0; i < 60; ++i) many << one;
  dlg->LoadImages(many);
  ASSERT_TRUE(Idle());
  dlg->LoadImages(many);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(dlg->Count(), 100);
  // With one image only, stitching and fusion do nothing.
  Click(CImagePrsDlg::kRemoveAll);
  dlg->LoadImages({one});
  ASSERT_TRUE(Idle());
  Click(CImagePrsDlg::kMosaic);
  Click(CImagePrsDlg::kFusion);
  EXPECT_FALSE(dlg->Busy());
  EXPECT_EQ(dlg->Result(), nullptr);
}

TEST_F(PrsTest, StitchesCropsOfOneImageBackIntoItAndSavesTheResult) {
  const cv::Mat original = TexturedSample(480, 320, 7);
  const QString left = Write("left.bmp", original(cv::Rect(0, 0, 300, 320)).clone());
  const QString right = Write("right.bmp", original(cv::Rect(180, 0, 300, 320)).clone());
  dlg->LoadImages({left, right});
  ASSERT_TRUE(Idle());
  MessageCatcher catcher;
  Click(CImagePrsDlg::kMosaic);
  EXPECT_TRUE(dlg->Busy());
  EXPECT_FALSE(Button(CImagePrsDlg::kLoad)->isEnabled());  // nothing else starts meanwhile
  const auto waitBox = [&] {
    for (CTipDlg* tip : dlg->findChildren<CTipDlg*>())
      if (tip->isVisible()) return true;
    return false;
  };
  EXPECT_TRUE(waitBox());
  ASSERT_TRUE(Idle());
  EXPECT_FALSE(waitBox());
  ASSERT_NE(dlg->Result(), nullptr);
  EXPECT_TRUE(catcher.texts.isEmpty());
  EXPECT_NEAR(dlg->Result()->Width(), 480, 4);
  EXPECT_NEAR(dlg->Result()->Height(), 320, 4);
  const cv::Mat mosaic = ResultPicture();
  cv::Mat score;
  cv::matchTemplate(mosaic, original(cv::Rect(140, 60, 200, 200)), score, cv::TM_CCOEFF_NORMED);
  double best = 0;
  cv::Point at;
  cv::minMaxLoc(score, nullptr, &best, nullptr, &at);
  EXPECT_GT(best, 0.9);
  EXPECT_NEAR(at.x, 140, 4);
  EXPECT_NEAR(at.y, 60, 4);
  EXPECT_TRUE(Button(CImagePrsDlg::kSave)->isEnabled());
  EXPECT_TRUE(Button(CImagePrsDlg::kPreview)->isEnabled());

  // Saved into the folder of the edit (no trailing separator), named by the time.
  const QString folder = dir.filePath("out");
  ASSERT_TRUE(QDir().mkpath(folder));
  ui::FindCtrl<QLineEdit>(dlg, CImagePrsDlg::kFolder)->setText(folder);
  Click(CImagePrsDlg::kSave);
  ASSERT_TRUE(Idle());
  const QString saved = dlg->LastSavedPath();
  EXPECT_TRUE(saved.startsWith(folder + "/"));
  EXPECT_TRUE(QFileInfo(saved).fileName().contains(QRegularExpression("^\\d{13,14}\\.bmp$")));
  BitmapImage back;
  ASSERT_EQ(ReadBitmapFile(saved, &back), BitmapStatus::Ok);
  EXPECT_EQ(back.pixels, dlg->Result()->pixels);

  // A folder that cannot take the file: reported, nothing left behind.
  ui::FindCtrl<QLineEdit>(dlg, CImagePrsDlg::kFolder)->setText(dir.filePath("missing"));
  Click(CImagePrsDlg::kSave);
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(WaitFor([&] { return !catcher.texts.isEmpty(); }));
  EXPECT_TRUE(catcher.texts[0].contains("cannot be written"));
  EXPECT_TRUE(dlg->LastSavedPath().isEmpty());
  EXPECT_FALSE(QDir(dir.filePath("missing")).exists());
}

TEST_F(PrsTest, TilesThatDoNotJoinFailWithTheMessageAndNoResult) {
  const cv::Mat original = TexturedSample(600, 300, 11);
  dlg->LoadImages({Write("a.bmp", original(cv::Rect(0, 0, 250, 300)).clone()),
                   Write("b.bmp", original(cv::Rect(350, 0, 250, 300)).clone())});
  ASSERT_TRUE(Idle());
  MessageCatcher catcher;
  Click(CImagePrsDlg::kMosaic);
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(WaitFor([&] { return !catcher.texts.isEmpty(); }));
  EXPECT_EQ(catcher.texts[0], "Fail to mosaicking.");
  EXPECT_EQ(dlg->Result(), nullptr);
  EXPECT_FALSE(Button(CImagePrsDlg::kSave)->isEnabled());
}

TEST_F(PrsTest, FusesAFocusStackAndRefusesImagesOfAnotherSize) {
  const cv::Mat sharp = TexturedSample(240, 160, 3);
  cv::Mat blurred;
  cv::GaussianBlur(sharp, blurred, cv::Size(0, 0), 3.0);
  const cv::Rect leftHalf(0, 0, 120, 160), rightHalf(120, 0, 120, 160);
  cv::Mat nearFocus = sharp.clone(), farFocus = sharp.clone();
  blurred(leftHalf).copyTo(nearFocus(leftHalf));
  blurred(rightHalf).copyTo(farFocus(rightHalf));
  const QString odd = Write("odd.bmp", TexturedSample(100, 100, 4));
  dlg->LoadImages({Write("near.bmp", nearFocus), odd, Write("far.bmp", farFocus)});
  ASSERT_TRUE(Idle());
  ASSERT_EQ(dlg->Count(), 3);

  {  // Answering No does nothing.
    MessageCatcher no(QMessageBox::No);
    Click(CImagePrsDlg::kFusion);
    ASSERT_TRUE(WaitFor([&] { return !no.texts.isEmpty(); }));
    EXPECT_EQ(no.texts[0], "Will use the Resolution:240 * 160 of the first image. continue?");
    EXPECT_FALSE(dlg->Busy());
  }
  MessageCatcher yes(QMessageBox::Yes);
  Click(CImagePrsDlg::kFusion);
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(WaitFor([&] { return yes.texts.size() >= 3; }));
  EXPECT_TRUE(yes.texts[1].contains(odd));  // named, not fused
  EXPECT_EQ(yes.texts[2], "Success to stitch 2 images.");
  ASSERT_NE(dlg->Result(), nullptr);
  const cv::Mat fused = ResultPicture();
  for (const cv::Rect inner : {cv::Rect(10, 10, 95, 140), cv::Rect(135, 10, 95, 140)}) {
    const double fusedError = cv::norm(fused(inner), sharp(inner), cv::NORM_L1) / inner.area();
    const double blurError = cv::norm(blurred(inner), sharp(inner), cv::NORM_L1) / inner.area();
    EXPECT_LT(fusedError, 0.1 * blurError);
  }
}

TEST_F(PrsTest, ClosingWhileStitchingIsSafe) {
  const cv::Mat original = TexturedSample(900, 600, 9);
  dlg->LoadImages({Write("l.bmp", original(cv::Rect(0, 0, 560, 600)).clone()),
                   Write("r.bmp", original(cv::Rect(340, 0, 560, 600)).clone())});
  ASSERT_TRUE(Idle());
  Click(CImagePrsDlg::kMosaic);
  ASSERT_TRUE(dlg->Busy());
  dlg->close();  // deletes itself
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(dlg.isNull());
  QThreadPool::globalInstance()->waitForDone();
  QApplication::processEvents();  // the result arrives to nobody
}
