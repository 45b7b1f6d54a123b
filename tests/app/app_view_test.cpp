// The view: fit and client-to-image arithmetic, measuring with the mouse at several zooms and
// scroll positions, the mouse rules (double click, context menu, pan, wheel, keys), the pixel
// readout, and bitmaps and layer files through the view's commands.
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QDockWidget>

#include <tuple>

#include "app_support.h"
#include "camera/BitmapFile.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupPane.h"
#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"
#include "tests/measure/engine_access.h"

namespace {

// The engine's points of measurement i.
std::vector<POINT> PointsOf(CMeasureManager& mm, int i) {
  const MEASUREBASE* m = mm.GetMeasure(i);
  return m->m_arrPoint;
}

// A 24-bit bitmap file written byte by byte (stride padded), bottom-up or top-down.
QByteArray MakeBitmap(int w, int h, bool topDown, std::uint8_t seed) {
  const int stride = (w * 3 + 3) & ~3;
  QByteArray b(54 + stride * h, '\0');
  auto put32 = [&b](int at, std::int32_t v) { std::memcpy(b.data() + at, &v, 4); };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, b.size());
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, topDown ? -h : h);
  b[26] = 1;
  b[28] = 24;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w * 3; ++x) b[54 + row * stride + x] = char(std::uint8_t(seed + row * 7 + x));
  return b;
}

}  // namespace

TEST_F(FrameTest, FitRectExamples) {
  view().setFixedSize(996, 396);  // a window rectangle of 1000 x 400
  QApplication::processEvents();
  ASSERT_EQ(view().size(), QSize(996, 396));
  RECT r = view().CalcFitRect(1200, 500);  // fitted by width: excess 200 against 100
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 1000);
  EXPECT_EQ(r.top, -8);
  EXPECT_EQ(r.bottom - r.top, 416);
  r = view().CalcFitRect(300, 200);  // smaller: own size, centred
  EXPECT_EQ(r.left, 350);
  EXPECT_EQ(r.top, 100);
  EXPECT_EQ(r.right - r.left, 300);
  r = view().CalcFitRect(500, 1200);  // fitted by height, with the 5-pixel margin
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.bottom, 395);
  EXPECT_EQ(r.left, 417);
  EXPECT_EQ(r.right, 581);
  r = view().CalcFitRect(0, 100);
  EXPECT_EQ(r.right - r.left, 0);
}

TEST_F(FrameTest, ClientToImage) {
  EXPECT_EQ(view().ClientToImage(50, 50).x, 0);  // no image at all
  ShowStill(400, 200);
  frame().OnZoomOriginal();
  const QRect r = view().ImageWindow()->geometry();
  POINT p = view().ClientToImage(r.left() + 10, r.top() + 20);
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 20);
  p = view().ClientToImage(r.left() - 5, r.top() - 3);
  EXPECT_EQ(p.x, -5);
  EXPECT_EQ(p.y, -3);
}

// Every tool's points land where the mouse was, at several zooms and after a pan.
TEST_F(FrameTest, ToolsBuildShapesWhereTheMouseWas) {
  ShowStill(400, 300);
  struct Case {
    int command;
    std::vector<POINT> points;
    bool rightFinish;
  };
  const std::vector<Case> cases = {
      {ids::kPoint, {{100, 100}}, true},
      {ids::kLine, {{60, 60}, {150, 120}}, false},
      {ids::kRectangle, {{120, 80}, {180, 190}}, false},
      {ids::kAngle, {{70, 150}, {110, 50}, {170, 160}}, false},
      {ids::kCircle3, {{80, 170}, {120, 130}, {160, 190}}, false},
      {ids::kPolygon, {{130, 45}, {185, 60}, {188, 120}, {140, 130}}, true},
  };
  for (double zoom : {0.0, 1.0, 3.0}) {
    engine().ResetMeasurements();
    if (zoom == 0.0)
      frame().OnZoomFitWindow();
    else
      frame().ApplyZoom(zoom);
    if (zoom == 3.0) {
      // Panned: the image's middle is in view.
      view().MoveImageWindow(RECT{-150, -100, -150 + 1200, -100 + 900});
    }
    for (const Case& c : cases) {
      frame().Router().Execute(c.command);
      for (const POINT& p : c.points) Click(ClientOf(p.x, p.y));
      if (c.rightFinish) Click(ClientOf(c.points.back().x, c.points.back().y), Qt::RightButton);
    }
    ASSERT_EQ(engine().GetMeasureCount(), int(cases.size())) << "zoom " << zoom;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const std::vector<POINT> got = PointsOf(engine(), int(i));
      ASSERT_GE(got.size(), cases[i].points.size()) << cases[i].command;
      for (std::size_t k = 0; k < cases[i].points.size(); ++k) {
        // Below 100 % several image pixels share a screen pixel: the view gives the first of them.
        const QRect r = view().ImageWindow()->geometry();
        const QPoint c = ClientOf(cases[i].points[k].x, cases[i].points[k].y);
        const int ex = zoom >= 1.0 ? cases[i].points[k].x : (c.x() - r.left()) * 400 / r.width();
        const int ey = zoom >= 1.0 ? cases[i].points[k].y : (c.y() - r.top()) * 300 / r.height();
        EXPECT_EQ(got[k].x, ex) << "zoom " << zoom << " command " << cases[i].command;
        EXPECT_EQ(got[k].y, ey) << "zoom " << zoom << " command " << cases[i].command;
      }
    }
  }
}

TEST_F(FrameTest, ContextMenuOnlyAfterARightPressThatDidNothing) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  const QPoint p = ClientOf(50, 50);
  Click(p, Qt::RightButton);
  EXPECT_TRUE(view().PopupMenu()->isVisible());
  view().PopupMenu()->hide();
  // A polygon finished by the right button shows no menu at that release.
  frame().Router().Execute(ids::kPolygon);
  Click(ClientOf(10, 10));
  Click(ClientOf(100, 10));
  Click(ClientOf(100, 100));
  Click(ClientOf(100, 100), Qt::RightButton);
  EXPECT_FALSE(view().PopupMenu()->isVisible());
  EXPECT_EQ(engine().GetMeasureCount(), 1);
  Click(p, Qt::RightButton);
  EXPECT_TRUE(view().PopupMenu()->isVisible());
  view().PopupMenu()->hide();
  // The menu's items follow the image state only.
  const auto items = view().PopupMenu()->actions();
  ASSERT_GE(items.size(), 7);
  EXPECT_EQ(items[0]->data().toInt(), ids::kPlayPause);
  view().SetImageState(0, 0);
  for (QAction* a : items)
    if (a->data().toInt() == ids::kHandMouse) {
      EXPECT_FALSE(a->isEnabled());
    }
}

TEST_F(FrameTest, PanWheelAndKeys) {
  ShowStill(800, 600);
  frame().ApplyZoom(3.0);
  // Hand tool: a drag moves the image window, which never uncovers the top-left background.
  frame().Router().Execute(ids::kHandMouse);
  const QRect before = view().ImageWindow()->geometry();
  const QPoint start = view().rect().center();
  QTest::mouseMove(&view(), start);
  QTest::mousePress(&view(), Qt::LeftButton, {}, start);
  QTest::mouseMove(&view(), start + QPoint(-40, -30));
  QTest::mouseRelease(&view(), Qt::LeftButton, {}, start + QPoint(-40, -30));
  const QRect after = view().ImageWindow()->geometry();
  EXPECT_EQ(after.topLeft(), before.topLeft() + QPoint(-40, -30));
  // The pointer is held inside the view while it drags: a few drags reach the pinned edge.
  for (int i = 0; i < 6; ++i) {
    QTest::mousePress(&view(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(&view(), QPoint(5000, 5000));
    QTest::mouseRelease(&view(), Qt::LeftButton, {}, QPoint(5000, 5000));
  }
  EXPECT_EQ(view().ImageWindow()->geometry().topLeft(), QPoint(0, 0));
  // A middle-button pan ends with the hand tool off.
  QTest::mousePress(&view(), Qt::MiddleButton, {}, start);
  QTest::mouseRelease(&view(), Qt::MiddleButton, {}, start);
  EXPECT_FALSE(view().HandMode());

  // Wheel: one notch, one step of 0.25.
  const double z = frame().zoomFactor;
  QWheelEvent up(QPointF(start), view().mapToGlobal(QPointF(start)), QPoint(), QPoint(0, 120), Qt::NoButton,
                 Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view(), &up);
  EXPECT_DOUBLE_EQ(frame().zoomFactor, z + 0.25);
  QWheelEvent sideways(QPointF(start), view().mapToGlobal(QPointF(start)), QPoint(), QPoint(120, 0), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view(), &sideways);
  EXPECT_DOUBLE_EQ(frame().zoomFactor, z + 0.25);

  // Esc ends region selection; Delete removes the selected remark.
  view().BeginRegionSelect();
  QTest::keyClick(&view(), Qt::Key_Escape);
  EXPECT_EQ(engine().GetCalibrationLineLength(), 0.0);
  engine().AddRemark(100, 100, u"note", 20, 0);
  ASSERT_EQ(engine().GetRemarkCount(), 1);
}

TEST_F(FrameTest, PixelReadout) {
  ShowStill(256, 100);
  frame().OnZoomOriginal();
  const QRect r = view().ImageWindow()->geometry();
  QTest::mouseMove(&view(), r.topLeft() + QPoint(128, 50));
  QApplication::processEvents();
  EXPECT_EQ(frame().StatusPane(1)->text(), "X=128, Y=50,");
  const QString rgb = frame().StatusPane(2)->text();
  EXPECT_TRUE(rgb == "R=128, G=128, B=128" || rgb == "R=127, G=127, B=127") << rgb.toStdString();
  // Over the grey background: white, as a failed pixel query gives.
  QTest::mouseMove(&view(), QPoint(2, 2));
  EXPECT_EQ(frame().StatusPane(2)->text(), "R=255, G=255, B=255");
}

TEST_F(FrameTest, BitmapsOpenAndSaveThroughTheView) {
  for (bool topDown : {false, true}) {
    for (int w : {3, 4, 641}) {
      const QString in = dir_.filePath(QString("in%1%2.bmp").arg(w).arg(topDown));
      QFile f(in);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      const QByteArray bytes = MakeBitmap(w, 5, topDown, 9);
      f.write(bytes);
      f.close();
      view().fileDialog = [in](bool, bool, const QString&, const QString&) { return QStringList{in}; };
      view().OnFileOpen();
      std::vector<std::uint8_t> px;
      BITMAPINFOHEADER fmt;
      ASSERT_TRUE(camera().CopyFrame(&px, &fmt));
      ASSERT_EQ(fmt.biWidth, w);
      ASSERT_EQ(fmt.biHeight, 5);
      // Bottom row of the picture first, whatever the file's order.
      const int stride = (w * 3 + 3) & ~3;
      const int firstFileRow = topDown ? 4 : 0;
      EXPECT_EQ(px[0], std::uint8_t(bytes[54 + firstFileRow * stride]));
      EXPECT_TRUE(frame().ImageAvailable());

      // Saved with nothing drawn over it, the file has the same pixels, bottom-up.
      const QString out = dir_.filePath(QString("out%1%2.bmp").arg(w).arg(topDown));
      view().fileDialog = [out](bool, bool, const QString&, const QString&) { return QStringList{out}; };
      view().OnFileSaveAs();
      BitmapImage back;
      ASSERT_EQ(ReadBitmapFile(out, &back), BitmapStatus::Ok);
      EXPECT_EQ(back.pixels, px);
    }
  }
}

TEST_F(FrameTest, MalformedBitmapsLeaveTheFrameUntouched) {
  ShowStill(16, 8);
  std::vector<std::uint8_t> before;
  BITMAPINFOHEADER fmt;
  ASSERT_TRUE(camera().CopyFrame(&before, &fmt));
  QByteArray good = MakeBitmap(16, 8, false, 1);
  std::vector<QByteArray> bad;
  bad.push_back(good.left(70));  // truncated
  QByteArray huge = good;
  const std::int32_t big = 1 << 30;
  std::memcpy(huge.data() + 18, &big, 4);  // lying dimensions
  bad.push_back(huge);
  QByteArray depth = good;
  depth[28] = 32;  // wrong depth
  bad.push_back(depth);
  QByteArray notBmp = good;
  notBmp[0] = 'X';
  bad.push_back(notBmp);
  int n = 0;
  for (const QByteArray& b : bad) {
    const QString path = dir_.filePath(QString("bad%1.bmp").arg(n++));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(b);
    f.close();
    EXPECT_EQ(view().LoadBitmapFile(path), 0);
    std::vector<std::uint8_t> now;
    ASSERT_TRUE(camera().CopyFrame(&now, &fmt));
    EXPECT_EQ(now, before);
    EXPECT_EQ(fmt.biWidth, 16);
  }
}

TEST_F(FrameTest, SaveAsReportsWriteErrors) {
  ShowStill(16, 8);
  const QString out = dir_.filePath("no/such/folder/x.bmp");
  view().fileDialog = [out](bool, bool, const QString&, const QString&) { return QStringList{out}; };
  view().OnFileSaveAs();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_FALSE(QFile::exists(out));
}

TEST_F(FrameTest, LayerFilesThroughTheView) {
  ShowStill(400, 300);
  engine().OnMeasureLButtonDown(10, 10, 258, 1);
  engine().OnMeasureMouseMove(100, 50);
  engine().OnMeasureLButtonDown(100, 50, 256, 0);
  engine().AddRemark(30, 40, u"text", 20, 0);
  const QString file = dir_.filePath("layers.kvmi");
  view().fileDialog = [file](bool, bool, const QString&, const QString&) { return QStringList{file}; };
  view().OnSaveLayers();
  EXPECT_TRUE(QFile::exists(file));
  EXPECT_TRUE(QFile::exists(dir_.filePath("Default.kvmi")));
  engine().ResetMeasurements();
  engine().RemoveAllRemarks();
  view().OnLoadLayers();
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  EXPECT_EQ(engine().GetRemarkCount(), 1);
  const std::vector<POINT> pts = PointsOf(engine(), 0);
  EXPECT_EQ(pts[1].x, 100);
  // A file without this camera's section is refused with a message; nothing shown or saved changes.
  const QString other = dir_.filePath("empty.kvmi");
  QFile(other).open(QIODevice::WriteOnly);
  view().fileDialog = [other](bool, bool, const QString&, const QString&) { return QStringList{other}; };
  messages.clear();
  view().OnLoadLayers();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(engine().GetMeasureCount(), 1);
  EXPECT_EQ(engine().GetRemarkCount(), 1);
}

TEST_F(FrameTest, GridAndDividingRulesToggle) {
  ShowStill(400, 300);
  frame().Router().Execute(ids::kGrid);
  EXPECT_TRUE(Checked(ids::kGrid));
  frame().Router().Execute(ids::kCrossRule);
  EXPECT_TRUE(frame().Router().Action(ids::kCrossRule)->isChecked());
  frame().Router().Execute(ids::kCrossRule);
  EXPECT_FALSE(frame().Router().Action(ids::kCrossRule)->isChecked());
  // Delete All answered No changes nothing.
  engine().OnMeasureLButtonDown(10, 10, 257, 1);
  answer = false;
  frame().Router().Execute(ids::kDeleteAllMeasures);
  EXPECT_EQ(questions.back(), "Delete|Delete All?");
}

// The overlay is kept between paints, yet any change of the measurements shows, however made.
TEST_F(FrameTest, OverlayFollowsEveryChangeOfTheMeasurements) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  QApplication::processEvents();
  auto redAt = [this](int ix, int iy) {
    QApplication::processEvents();  // the repaint the engine's announcement asked for
    const QRgb c = view().ImageWindow()->PixelAt(ClientOf(ix, iy) - view().ImageWindow()->geometry().topLeft());
    return qRed(c) > 200 && qGreen(c) < 80;
  };
  EXPECT_FALSE(redAt(200, 150));
  // Changed straight in the engine, as the layer editor does, with no request to repaint.
  engine().OnMeasureLButtonDown(50, 150, 258, 1);
  engine().OnMeasureMouseMove(350, 150);
  engine().OnMeasureLButtonDown(350, 150, 256, 0);
  EditMeasure(engine(), 0, [](MEASUREBASE& r) { r.m_nPenWidth = 5; });
  EXPECT_TRUE(redAt(200, 150));
  engine().SetMeasureVisible(0, 0);
  EXPECT_FALSE(redAt(200, 150));
}

// The still image is painted again only when what it shows changed: pointer moves over nothing
// paint nothing, and each change the engine announces paints once, whoever made it.
TEST_F(FrameTest, TheStillImageRepaintsOnTheEnginesAnnouncementsOnly) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  engine().OnMeasureLButtonDown(50, 150, 258, 1);
  engine().OnMeasureMouseMove(350, 150);
  engine().OnMeasureLButtonDown(350, 150, 256, 0);
  engine().SelectMeasure(-1, nullptr);
  QTest::mouseMove(&view(), ClientOf(300, 40));
  QApplication::processEvents();
  const CStaticEx& window = *view().ImageWindow();
  const std::uint64_t paints = window.paints;
  for (int k = 1; k <= 5; ++k) QTest::mouseMove(&view(), ClientOf(300 + k, 40));
  QApplication::processEvents();
  EXPECT_EQ(window.paints, paints);
  engine().SetMeasureVisible(0, 0);
  engine().ShowGrid(1);
  QApplication::processEvents();
  EXPECT_EQ(window.paints, paints + 1);  // two changes, one paint
  QTest::mouseMove(&view(), ClientOf(200, 150));  // over the hidden line: nothing to hover
  engine().SetMeasureVisible(0, 1);
  QApplication::processEvents();
  EXPECT_EQ(window.paints, paints + 2);
}

// On a live image the first shape after Live lands where the mouse was, too.
TEST_F(FrameTest, ToolsOnTheLiveImage) {
  GoLive();
  frame().OnZoomOriginal();
  view().MoveImageWindow(RECT{-50, -50, -50 + 2592, -50 + 1944});
  Deliver(1);
  frame().Router().Execute(ids::kLine);
  Click(ClientOf(100, 120));
  Deliver(1);
  Click(ClientOf(300, 200));
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  const std::vector<POINT> pts = PointsOf(engine(), 0);
  EXPECT_EQ(pts[0].x, 100);
  EXPECT_EQ(pts[0].y, 120);
  EXPECT_EQ(pts[1].x, 300);
  EXPECT_EQ(pts[1].y, 200);
}

// A white-balance window dragged over the live image reaches the camera flipped about the image
// height when the camera does not mirror vertically, and as drawn when it does.
TEST_F(FrameTest, CameraRectanglesReachTheCamera) {
  const int handle = GoLive();
  frame().OnZoomOriginal();
  view().MoveImageWindow(RECT{-50, -50, -50 + 2592, -50 + 1944});
  Deliver(1);
  int W = 0, H = 0, ox = 0, oy = 0;
  CAMSDK_OK(CameraGetImageSize(handle, nullptr, &ox, &oy, &W, &H, 0));
  auto wbWindow = [] {
    for (const std::string& call : CamSdkTestTakeCallLog())
      if (call.rfind("CameraSetWBWindow(", 0) == 0) return call.substr(0, call.find(')') + 1);
    return std::string();
  };
  for (int mirror : {0, 1}) {
    CAMSDK_OK(CameraSetMirror(handle, 1, mirror));
    frame().CameraPanel()->OnBnClickedRegionWhiteBalance();  // armed
    ASSERT_TRUE(frame().CameraPanel()->IsRegionWBArmed());
    CamSdkTestSetCallLog(true);
    Drag({100, 120}, {300, 200});
    const std::string call = wbWindow();
    CamSdkTestSetCallLog(false);
    // The origin rounds up to a multiple of 4; width and height are those of the drag.
    const int y = mirror ? 120 + oy : H - 200 + oy;
    const int x = 100 + ox;
    const std::string expected = "CameraSetWBWindow(" + std::to_string(handle) + ", " + std::to_string((x + 3) / 4 * 4) +
                                 ", " + std::to_string((y + 3) / 4 * 4) + ", 200, 80)";
    EXPECT_EQ(call, expected) << "mirror " << mirror;
    EXPECT_FALSE(frame().CameraPanel()->IsRegionWBArmed());  // the panel disarmed it
  }
  // Without a camera nothing reaches the library.
  frame().OnCameraStop();
  camera().SetRoi(true, -1, -1, -1, -1);
  CamSdkTestSetCallLog(true);
  ShowStill(400, 300);
  Drag({10, 10}, {10, 10});
  EXPECT_EQ(wbWindow(), "");
  CamSdkTestSetCallLog(false);
}

// The one-shot black level measures the drawn region of a raw frame, also under a region of
// interest, and says why when it cannot; the window arithmetic of a line and of a click.
TEST_F(FrameTest, BlackLevelAndWindowsFromADrawnRegion) {
  const int handle = GoLive();
  frame().OnZoomOriginal();
  view().MoveImageWindow(RECT{0, 0, 2592, 1944});
  Deliver(1);
  const std::string h = std::to_string(handle);
  auto calls = [](const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& call : log)
      if (call.rfind(prefix, 0) == 0) out.push_back(call);
    return out;
  };
  CCamSetupDlg* panel = frame().CameraPanel();
  auto measure = [&](POINT a, POINT b) {
    panel->OnBnClickedAdaptiveBlackLevel();
    EXPECT_TRUE(panel->IsAdaptiveBlackLevelArmed());
    CamSdkTestSetCallLog(true);
    Drag(a, b);
    auto log = CamSdkTestTakeCallLog();
    CamSdkTestSetCallLog(false);
    EXPECT_FALSE(panel->IsAdaptiveBlackLevelArmed());
    EXPECT_FALSE(calls(log, "CameraPlay(" + h).empty());  // the camera goes on either way
    return log;
  };

  // Over the black patch of the scene: a frame is fetched and a level set.
  auto log = measure({640, 1300}, {800, 1450});
  ASSERT_EQ(calls(log, "CameraGetImageData(").size(), 1u);
  EXPECT_NE(calls(log, "CameraGetImageData(")[0].find(") = 1"), std::string::npos);
  auto sets = calls(log, "CameraSetBlackLevel(");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_NE(sets[0].find(", 1024) = 1"), std::string::npos) << sets[0];

  // Under a region of interest the frame holds the region alone; a region drawn in it measures.
  ASSERT_EQ(camera().SetImageSize(handle, 1, 512, 1024, 640, 480, 0), 1);
  CAMSDK_OK(CameraPlay(handle));
  Deliver(2);
  frame().OnZoomOriginal();
  view().MoveImageWindow(RECT{0, 0, 640, 480});
  log = measure({100, 100}, {300, 200});
  EXPECT_EQ(calls(log, "CameraSetBlackLevel(").size(), 1u);

  // No frame: nothing set, and the hint says why.
  CamSdkTestInjectFailure("CameraGetImageData", -1, 1);
  log = measure({100, 100}, {300, 200});
  EXPECT_TRUE(calls(log, "CameraSetBlackLevel(").empty());
  EXPECT_EQ(view().HintText(), "The black level was not measured: the camera gave no frame.");
  CamSdkTestClearFailures();

  // A drag along a line: the white-balance window has no width; a click sets the AE window.
  int W = 0, H = 0, ox = 0, oy = 0;
  CAMSDK_OK(CameraGetImageSize(handle, nullptr, &ox, &oy, &W, &H, 0));
  panel->OnBnClickedRegionWhiteBalance();
  CamSdkTestSetCallLog(true);
  Drag({100, 120}, {100, 200});
  log = CamSdkTestTakeCallLog();
  auto wb = calls(log, "CameraSetWBWindow(");
  ASSERT_EQ(wb.size(), 1u);
  const int y = (H - 200 + oy + 3) / 4 * 4;
  EXPECT_EQ(wb[0].substr(0, wb[0].find(')') + 1),
            "CameraSetWBWindow(" + h + ", " + std::to_string((100 + ox + 3) / 4 * 4) + ", " + std::to_string(y) + ", 0, 80)");
  panel->OnBnClickedRegionAutoExposure();
  CamSdkTestTakeCallLog();
  Click(ClientOf(101, 121));
  log = CamSdkTestTakeCallLog();
  CamSdkTestSetCallLog(false);
  EXPECT_EQ(calls(log, "CameraSetAEWindow(" + h).size(), 1u);
  EXPECT_FALSE(panel->IsRegionAEArmed());
}

// At the frame's own size, in either language, the camera pane shows every control of the panel
// across its width (no horizontal scrolling), with a camera live.
TEST_F(FrameTest, CameraPaneShowsEveryControlInBothLanguages) {
  for (UiLanguage lang : {UiLanguage::English, UiLanguage::Chinese}) {
    frame_.reset();
    SetUiLanguage(lang);
    frame_ = std::make_unique<CMainFrame>();
    frame_->messageBox = [](const QString&) {};
    frame_->show();
    QApplication::processEvents();
    GoLive();
    QApplication::processEvents();
    auto* pane = frame().findChild<CCamSetupPane*>();
    ASSERT_NE(pane, nullptr);
    QWidget* viewport = pane->viewport();
    EXPECT_EQ(pane->horizontalScrollBar()->maximum(), 0) << int(lang);
    for (QWidget* w : pane->Panel()->findChildren<QWidget*>()) {
      if (!w->isVisible() || ui::CtrlId(w) == 0) continue;
      const QRect r(w->mapTo(viewport, QPoint(0, 0)), w->size());
      EXPECT_GE(r.left(), 0) << ui::CtrlId(w) << " " << int(lang);
      EXPECT_LE(r.right(), viewport->width() - 1) << ui::CtrlId(w) << " " << int(lang);
    }
  }
  SetUiLanguage(UiLanguage::English);
}

// Resizing the camera pane lays the picture out again: a fitted picture fits the new area.
TEST_F(FrameTest, ViewRefitsWhenAPaneIsResized) {
  GoLive();
  frame().OnZoomFitWindow();
  QApplication::processEvents();
  auto* dock = frame().findChild<QDockWidget*>("CameraPane");
  ASSERT_NE(dock, nullptr);
  const int viewWidth = view().width();
  frame().resizeDocks({dock}, {dock->width() + 150}, Qt::Horizontal);
  QApplication::processEvents();
  ASSERT_LT(view().width(), viewWidth);
  int w = 0, h = 0;
  CAMSDK_OK(camera().GetImageSize(camera().GetCurCameraItem(), &w, &h));
  const RECT fit = view().CalcFitRect(w, h);
  const RECT shown = view().ImageWindowRect();
  EXPECT_EQ(shown.right - shown.left, fit.right - fit.left);
  EXPECT_EQ(shown.left, fit.left);
  EXPECT_LE(shown.right, view().width() + 4);
}

// The view's kept layers give the very picture that one drawing of the frame and overlay gives.
TEST_F(FrameTest, LayeredPaintingEqualsOneDrawing) {
  ShowStill(300, 200);
  frame().OnZoomOriginal();
  frame().Router().Execute(ids::kRectangle);
  Click(ClientOf(20, 20));
  Click(ClientOf(120, 90));
  frame().Router().Execute(ids::kCircle3);
  Click(ClientOf(150, 100));
  Click(ClientOf(200, 60));
  Click(ClientOf(250, 120));
  engine().AddRemark(30, 150, u"Remark", 24, 0x00FF00);
  engine().ShowGrid(1);
  QTest::mouseMove(&view(), ClientOf(120, 90));  // hover handles on the rectangle
  view().ImageWindow()->repaint();
  const QImage& shown = view().ImageWindow()->LastPicture();
  ASSERT_EQ(shown.size(), QSize(300, 200));
  EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32), DrawnAtOnce(300, 200));
}

// While a measurement is dragged or built, the others are kept and only it is drawn again: the
// picture stays that of one drawing, the moving one under those made after it.
TEST_F(FrameTest, LayeredPaintingEqualsOneDrawingWhileAMeasurementMoves) {
  ShowStill(300, 200);
  frame().OnZoomOriginal();
  frame().Router().Execute(ids::kRectangle);  // 0: a rectangle
  Click(ClientOf(20, 20));
  Click(ClientOf(120, 90));
  frame().Router().Execute(ids::kLine);  // 1: a line across it
  Click(ClientOf(10, 100));
  Click(ClientOf(200, 40));
  frame().Router().Execute(ids::kCircle3);  // 2: a circle
  Click(ClientOf(150, 100));
  Click(ClientOf(200, 60));
  Click(ClientOf(250, 120));
  ASSERT_EQ(engine().GetMeasureCount(), 3);
  EditMeasure(engine(), 0, [](MEASUREBASE& r) { r.m_clrText = 0x0000FF; });
  EditMeasure(engine(), 1, [](MEASUREBASE& r) { r.m_clrText = 0xFF8000; });
  engine().AddRemark(30, 150, u"Remark", 24, 0x00FF00);
  engine().ShowGrid(1);
  auto sameAsOneDrawing = [this] {
    view().ImageWindow()->repaint();
    return view().ImageWindow()->LastPicture().convertToFormat(QImage::Format_RGB32) == DrawnAtOnce(300, 200);
  };
  EXPECT_TRUE(sameAsOneDrawing());

  // A corner of the rectangle dragged under the line, then the whole line moved.
  for (auto [index, from, to] : {std::tuple{0, QPoint(20, 20), QPoint(60, 75)}, std::tuple{1, QPoint(105, 70), QPoint(90, 95)}}) {
    SCOPED_TRACE(index);
    QTest::mouseMove(&view(), ClientOf(from.x(), from.y()));
    QTest::mousePress(&view(), Qt::LeftButton, {}, ClientOf(from.x(), from.y()));
    const std::vector<POINT> before = PointsOf(engine(), index);
    for (int step = 1; step <= 3; ++step) {
      const QPoint at = from + (to - from) * step / 3;
      QTest::mouseMove(&view(), ClientOf(at.x(), at.y()));
      ASSERT_EQ(engine().MovingMeasure(), index);
      EXPECT_TRUE(sameAsOneDrawing()) << "step " << step;
    }
    EXPECT_NE(PointsOf(engine(), index)[0].x, before[0].x);
    QTest::mouseRelease(&view(), Qt::LeftButton, {}, ClientOf(to.x(), to.y()));
    EXPECT_EQ(engine().MovingMeasure(), -1);
    EXPECT_TRUE(sameAsOneDrawing());
  }

  // A circle being built over the others, then finished.
  frame().Router().Execute(ids::kCircle3);
  Click(ClientOf(40, 40));
  QTest::mouseMove(&view(), ClientOf(90, 60));
  ASSERT_EQ(engine().MovingMeasure(), 3);
  EXPECT_TRUE(sameAsOneDrawing());
  Click(ClientOf(90, 60));
  QTest::mouseMove(&view(), ClientOf(70, 110));
  EXPECT_TRUE(sameAsOneDrawing());
  Click(ClientOf(70, 110));
  EXPECT_EQ(engine().MovingMeasure(), -1);
  EXPECT_TRUE(sameAsOneDrawing());
}
