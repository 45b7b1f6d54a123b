// The menus' texts in both languages, the grey stretch against its own command and a newly
// opened image, File Open of files the reader refuses, the report behind the wait box with the
// window answering, and the small faults of the frame (Record on a still image, full screen
// and back, the wait box's buttons, message box titles).
#include "platform/camsdk/camsdk_testing.h"
#include "res/StringIds.h"
#include "tests/app/app_support.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

#include <set>

#include "ui/TipDlg.h"
#include "camera/CameraReport.h"
#include "camera/BitmapFile.h"
#include "imaging/GrayStretchDlg.h"

namespace {

class MenuTest : public FrameTest {
 protected:
  // The frame built again in `lang` (the language is chosen before the window is made).
  void Rebuild(UiLanguage lang) {
    frame_.reset();
    SetUiLanguage(lang);
    frame_ = std::make_unique<CMainFrame>();
    frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    SetUiLanguage(UiLanguage::English);
    FrameTest::TearDown();
  }
  std::map<int, QString> MenuTexts(QMenu* menu) {
    std::map<int, QString> texts;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) texts[a->data().toInt()] = a->text();
    return texts;
  }
  QMenu* Menu(int index) { return frame().menuBar()->actions()[index]->menu(); }
  std::uint8_t Pixel(int x, int y) {
    const FrameView frame = camera().ViewFrame();
    if (!frame) return 0;
    return frame.Data()[(std::size_t(y) * frame.Width() + x) * 3];
  }
  QString WriteRamp(const QString& name, int w, int h, int offset) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) px[(std::size_t(y) * w + x) * 3 + c] = std::uint8_t((x * 200 / w + offset) & 255);
    const QString path = dir_.filePath(name);
    EXPECT_EQ(WriteBitmapFile(path, px.data(), w, h), BitmapStatus::Ok);
    return path;
  }
  // Drags point 1 of the curve (at 84, 84) to grey levels (gx, gy).
  static void DragPoint1(CGrayStretchDlg* dlg, int gx, int gy) {
    QWidget* g = dlg->Graph();
    const auto at = [](double x, double y) { return QPoint(int(x * 1.5), int((256 - y) * 1.5)); };
    const auto send = [g](QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held) {
      QMouseEvent e(type, QPointF(p), g->mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
      QApplication::sendEvent(g, &e);
    };
    const QPoint from = at(dlg->X1() + 4, dlg->Y1()), to = at(gx, gy);
    send(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }
};

}  // namespace

TEST_F(MenuTest, EveryItemHasItsOwnTextInBothLanguages) {
  for (UiLanguage lang : {UiLanguage::English, UiLanguage::Chinese}) {
    Rebuild(lang);
    for (QAction* top : frame().menuBar()->actions()) {
      std::set<QString> seen;
      for (const auto& [id, text] : MenuTexts(top->menu())) {
        EXPECT_FALSE(text.isEmpty()) << id;
        EXPECT_TRUE(seen.insert(text).second) << "twice in " << top->text().toStdString() << ": " << text.toStdString();
      }
    }
    // The image menu: the dialogs' items with their "...", not the dialogs' titles.
    const auto image = MenuTexts(Menu(4));
    for (auto [id, textId] :
         {std::pair{ids::kThreshold, 63928}, {ids::kBrightness, 63930}, {ids::kDilate, 63931}, {ids::kErode, 63932}})
      EXPECT_EQ(image.at(id), QString::fromStdU16String(LoadStringW(textId))) << id;
    // The layer files are the Measure menu's; the File menu keeps the image's own items.
    const auto file = MenuTexts(Menu(0));
    EXPECT_EQ(file.count(ids::kSaveLayers) + file.count(ids::kLoadLayers), 0u);
    const auto measure = MenuTexts(Menu(3));
    EXPECT_EQ(measure.count(ids::kSaveLayers) + measure.count(ids::kLoadLayers), 2u);
    // The context menu's camera item as its own resource reads.
    for (QAction* a : view().PopupMenu()->actions())
      if (a->data().toInt() == ids::kCameraControl) {
        EXPECT_EQ(a->text(), QString::fromStdU16String(LoadStringW(sid::kCameraControler)));
      }
  }
  EXPECT_EQ(LoadStringW(sid::kThresholdMenu, UiLanguage::English), u"Threshold...");
  EXPECT_EQ(LoadStringW(sid::kDilate, UiLanguage::English), u"Dilate...");
  EXPECT_EQ(LoadStringW(sid::kCorrode, UiLanguage::English), u"Corrode...");
  EXPECT_EQ(LoadStringW(sid::kCameraControler, UiLanguage::English), u"Camera Controler");
  // The dialogs keep their titles.
  EXPECT_EQ(LoadStringW(sid::kGrayStretch, UiLanguage::English), u"Gray Stretch");
}

TEST_F(MenuTest, GreyStretchClosedByItsCommandKeepsTheStretch) {
  ShowStill(64, 16);
  frame().Router().Execute(ids::kGrayStretch);
  auto* dlg = frame().findChild<CGrayStretchDlg*>();
  ASSERT_TRUE(dlg);
  const std::uint8_t before = Pixel(20, 5);
  DragPoint1(dlg, 84, 150);
  const std::uint8_t stretched = Pixel(20, 5);
  ASSERT_NE(stretched, before);
  frame().Router().Execute(ids::kGrayStretch);  // the second press closes it
  QApplication::processEvents();
  EXPECT_FALSE(frame().findChild<CGrayStretchDlg*>());
  EXPECT_EQ(Pixel(20, 5), stretched);
}

TEST_F(MenuTest, GreyStretchNeverWritesOverANewlyOpenedImage) {
  ShowStill(64, 16);
  frame().Router().Execute(ids::kGrayStretch);
  auto* dlg = frame().findChild<CGrayStretchDlg*>();
  ASSERT_TRUE(dlg);
  DragPoint1(dlg, 84, 150);
  ASSERT_EQ(dlg->Y1(), 150);
  // Another image of the same size opened meanwhile.
  const QString second = WriteRamp("second.bmp", 64, 16, 40);
  ASSERT_EQ(view().LoadBitmapFile(second), 1);
  const std::uint8_t fresh = Pixel(20, 5);
  DragPoint1(dlg, 84, 100);
  ASSERT_EQ(dlg->Y1(), 100);
  EXPECT_EQ(Pixel(20, 5), fresh);
  // Cancel does not bring the first image back.
  dlg->reject();
  QApplication::processEvents();
  EXPECT_EQ(Pixel(20, 5), fresh);
  BitmapImage file;
  ASSERT_EQ(ReadBitmapFile(second, &file), BitmapStatus::Ok);
  EXPECT_EQ(file.pixels[(5 * 64 + 20) * 3], fresh);
}

TEST_F(MenuTest, FileOpenOfARefusedFileNamesItAndKeepsTheImage) {
  ShowStill(32, 8);
  const std::uint8_t shown = Pixel(30, 2);
  // A PNG named as a bitmap, and a bitmap cut short.
  const QString png = dir_.filePath("picture.png");
  QImage(8, 8, QImage::Format_RGB32).save(png, "PNG");
  const QString good = WriteRamp("cut.bmp", 16, 16, 0);
  QFile cut(good);
  ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
  cut.resize(cut.size() - 100);
  cut.close();
  view().fileDialog = [&](bool, bool, const QString&, const QString&) { return QStringList{png, good}; };
  frame().Router().Execute(ids::kFileOpen);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains(png)) << messages[0].toStdString();
  EXPECT_TRUE(messages[0].contains(QString::fromStdU16String(BitmapStatusText(BitmapStatus::NotBitmap, png))));
  EXPECT_TRUE(messages[0].contains(QString::fromStdU16String(BitmapStatusText(BitmapStatus::Truncated, good))));
  EXPECT_EQ(Pixel(30, 2), shown);
  BITMAPINFOHEADER f;
  camera().GetFrameFormat(&f);
  EXPECT_EQ(f.biWidth, 32);

  // While live, a refused file leaves the camera playing.
  messages.clear();
  const int handle = GoLive();
  frame().Router().Execute(ids::kFileOpen);
  EXPECT_EQ(messages.size(), 1u);
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.handle, handle);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
}

// The report is written behind the wait box while the event loop keeps turning: a timer ticks
// during it, and the longest gap between its ticks is reported (the speed itself is the
// benchmark's).
TEST_F(MenuTest, ReportRunsBehindTheWaitBoxWithTheWindowAnswering) {
  ShowStill(4000, 3000);
  CMeasureManager& m = engine();
  for (int i = 0; i < 1000; ++i) {
    MEASUREBASE rec;
    rec.m_nKind = 258;
    rec.m_arrPoint = {{i * 3, 10}, {i * 3 + 100, 2000}};
    rec.m_nPointCount = 2;
    m.AddMeasure(rec);
  }
  stCaptureSetting capture;
  camera().GetCaptureSetting(&capture);
  capture.imageFolder = dir_.filePath("reports").toStdU16String();
  camera().SetCaptureSetting(capture);
  std::vector<QString> opened;
  SetReportOpener([&](const QString& p) {
    opened.push_back(p);
    return true;
  });

  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longest = 0;
  int ticks = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
    ++ticks;
  });
  timer.start();
  frame().Router().Execute(ids::kExportExcel);
  // The box is up at once, with OK and Cancel.
  auto* box = frame().findChild<CTipDlg*>();
  ASSERT_TRUE(box);
  EXPECT_TRUE(box->isVisible());
  EXPECT_TRUE(frame().ReportRunning());
  frame().Router().Execute(ids::kExportExcel);  // a second press while one runs starts nothing
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame().ReportRunning(); }, 120000));
  timer.stop();
  SetReportOpener(nullptr);
  RecordProperty("longest_event_loop_gap_ms", int(longest));
  std::printf("report: %d timer ticks, longest gap %lld ms\n", ticks, static_cast<long long>(longest));
  EXPECT_GE(ticks, 3);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(QFileInfo(opened[0]).isFile());
  EXPECT_TRUE(messages.empty());
  QApplication::processEvents();
  EXPECT_FALSE(frame().findChild<CTipDlg*>());
}

TEST_F(MenuTest, CancelInTheWaitBoxDropsTheReport) {
  ShowStill(64, 48);
  stCaptureSetting capture;
  camera().GetCaptureSetting(&capture);
  capture.imageFolder = dir_.filePath("reports").toStdU16String();
  camera().SetCaptureSetting(capture);
  int opened = 0;
  SetReportOpener([&](const QString&) { return ++opened, true; });
  frame().Router().Execute(ids::kExportWord);
  auto* box = frame().findChild<CTipDlg*>();
  ASSERT_TRUE(box);
  QPushButton* cancel = nullptr;
  for (QPushButton* b : box->findChildren<QPushButton*>())
    if (box->findChild<QDialogButtonBox*>()->buttonRole(b) == QDialogButtonBox::RejectRole) cancel = b;
  ASSERT_TRUE(cancel);
  QTest::mouseClick(cancel, Qt::LeftButton);  // before the picture is even taken
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame().ReportRunning(); }, 60000));
  SetReportOpener(nullptr);
  EXPECT_EQ(opened, 0);
  EXPECT_FALSE(QDir(dir_.filePath("reports")).exists() && !QDir(dir_.filePath("reports")).isEmpty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MenuTest, RecordOnAStillImageLeavesTheBarStopped) {
  Rebuild(UiLanguage::English);
  ShowStill(32, 32);
  frame().OnRecord();
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kIdle);
}

TEST_F(MenuTest, FullScreenAndBackWithoutACameraShowsTheBarsAgain) {
  frame_.reset();
  CamSdkTestSetModels("");
  Rebuild(UiLanguage::English);
  ShowStill(32, 32);
  ASSERT_LT(camera().GetCurCameraItem(), 0);
  ASSERT_TRUE(frame().MeasureToolBar()->isVisible());
  const bool zoom = frame().ZoomToolBar()->isVisible();
  view().ToggleFullScreen();
  EXPECT_FALSE(frame().MeasureToolBar()->isVisible());
  view().ToggleFullScreen();
  QApplication::processEvents();
  EXPECT_TRUE(frame().MeasureToolBar()->isVisible());
  EXPECT_EQ(frame().ZoomToolBar()->isVisible(), zoom);
  // The first "Measuring Bar" press hides the bar (it was shown).
  frame().Router().Execute(ids::kMeasuringBar);
  EXPECT_FALSE(frame().MeasureToolBar()->isVisible());
}

TEST_F(MenuTest, MessageBoxesCarryTheApplicationTitle) {
  // The frame's own box, as the operator sees it.
  frame_.reset();
  frame_ = std::make_unique<CMainFrame>();
  QString title;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        title = box->windowTitle();
        box->accept();
      }
  });
  frame().messageBox("hello");
  EXPECT_EQ(title, QString::fromStdU16String(LoadStringW(sid::kAppTitle)));
}
