// The scale through the frame: a report after a layer file's round trip is in the unit the view
// shows; one click switches the cross rule on after every clearing of the layers; a camera whose
// stored scale is unusable measures in pixels and says so; the overview follows zoom and resize.
#include <QFile>
#include <QMouseEvent>
#include <QTabBar>

#include <functional>

#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraReport.h"
#include "editors/LayerDlg.h"
#include "editors/ScaleStore.h"
#include "tests/app/app_support.h"
#include "tests/office/office_reader.h"

using namespace office_test;

namespace {

// The document's paragraphs as text.
std::vector<std::string> Paragraphs(const std::string& docx) {
  const Parts parts = ReadZip(docx);
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(parts.at("word/document.xml").c_str()));
  std::vector<std::string> out;
  for (const pugi::xpath_node& p : doc.select_nodes("//w:body/w:p")) out.push_back(ParagraphText(p.node()));
  return out;
}

// The pointer moved over a widget, no button held.
void HoverAt(QWidget* w, QPoint p) {
  QMouseEvent move(QEvent::MouseMove, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &move);
}

class ScaleFrameTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    SetReportOpener([](const QString&) { return true; });
  }
  void TearDown() override {
    SetReportOpener(nullptr);
    FrameTest::TearDown();
  }
  void Line(POINT a, POINT b) {
    engine().OnMeasureLButtonDown(a.x, a.y, 258, 1);
    engine().OnMeasureMouseMove(b.x, b.y);
    engine().OnMeasureLButtonDown(b.x, b.y, 256, 0);
  }
  std::string CameraName() {
    stCameraItem item;
    camera().GetCurCameraItem(&item);
    return item.device.deviceName;
  }
};

TEST_F(ScaleFrameTest, AReportAfterALayerFileRoundTripIsInTheUnitTheViewShows) {
  ShowStill(400, 300);
  engine().SetScale(0.0125f, u"mm", ScaleDisplayBlock{});
  Line({10, 10}, {390, 10});  // 380 px
  const WString shown = engine().GetMeasure(0)->m_szResult;
  EXPECT_EQ(shown, FormatW(u"L: %.3f mm", 380.0 * double(0.0125f)));

  const QString file = dir_.filePath("layers.kvmi");
  view().fileDialog = [file](bool, bool, const QString&, const QString&) { return QStringList{file}; };
  view().OnSaveLayers();
  answer = true;
  frame().Router().Execute(ids::kDeleteAllMeasures);  // Delete All
  ASSERT_EQ(engine().GetMeasureCount(), 0);
  view().OnLoadLayers();
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  EXPECT_EQ(WString(engine().GetMeasure(0)->m_szResult), shown);

  const CCameraProcess::ReportResult r = camera().ExportWordReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const std::vector<std::string> text = Paragraphs(ToUtf8(r.path));
  bool scale = false, line = false;
  for (const std::string& p : text) {
    scale |= p.find("Scale:0.0125 mm/px") != std::string::npos;
    line |= p.find(ToUtf8(FormatW(u"L\uFF1A%.3fmm", 380.0 * double(0.0125f)))) != std::string::npos;
    EXPECT_EQ(p.find(" px/px"), std::string::npos) << p;
  }
  EXPECT_TRUE(scale);
  EXPECT_TRUE(line);
}

TEST_F(ScaleFrameTest, OneClickSwitchesTheCrossRuleOnAfterEveryClearingOfTheLayers) {
  const QString bmp = dir_.filePath("still.bmp");
  const QString layers = dir_.filePath("none.kvmi");
  QFile(layers).open(QIODevice::WriteOnly);
  ShowStill(200, 100);
  {
    QString error;
    ASSERT_TRUE(view().SaveBitmapFile(bmp, &error)) << error.toStdString();
  }
  auto crossOnThenClear = [&](const char* path, const std::function<void()>& clear) {
    SCOPED_TRACE(path);
    if (engine().CrossRule().enable == 0) frame().Router().Execute(ids::kCrossRule);
    ASSERT_EQ(engine().CrossRule().enable, 1);
    clear();
    EXPECT_EQ(engine().CrossRule().enable, 0);
    EXPECT_FALSE(frame().Router().Action(ids::kCrossRule)->isChecked());
    if (!frame().imageAvailable) ShowStill(200, 100);
    frame().Router().Execute(ids::kCrossRule);  // one click
    EXPECT_EQ(engine().CrossRule().enable, 1);
    EXPECT_TRUE(frame().Router().Action(ids::kCrossRule)->isChecked());
  };
  crossOnThenClear("Measure Load", [&] {
    // A layer file saved with no measurements: it loads (an unreadable one is refused).
    WString name;
    int index = 0;
    view().LayerSection(&name, &index);
    QFile out(layers);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(QStringLiteral("[%1%2]\r\nLayerTotal=0\r\nCrossTotal=0\r\n")
                  .arg(QString::fromStdU16String(name)).arg(index).toLatin1());
    out.close();
    view().fileDialog = [layers](bool, bool, const QString&, const QString&) { return QStringList{layers}; };
    view().OnLoadLayers();
  });
  crossOnThenClear("File Open", [&] {
    GoLive();  // a camera to stop
    view().fileDialog = [bmp](bool, bool, const QString&, const QString&) { return QStringList{bmp}; };
    view().OnFileOpen();
  });
  crossOnThenClear("Stop", [&] {
    GoLive();
    frame().Router().Execute(ids::kStop);
  });
  crossOnThenClear("camera page", [&] { frame().ClearLayers(); });
}

TEST_F(ScaleFrameTest, ACameraWhoseStoredScaleIsUnusableMeasuresInPixelsAndSaysSo) {
  GoLive();
  const WString name = FromUtf8(CameraName());
  engine().SetScale(0.5f, u"um", ScaleDisplayBlock{});  // the scale of the camera before
  ASSERT_EQ(scalestore::WriteSelectedScale(u"Ref"), ERROR_SUCCESS);
  ASSERT_EQ(scalestore::WriteScale(name, u"Ref", u"100.000", u"abc", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  view().LoadSelectedScale(name);
  EXPECT_EQ(engine().Scale(), 1.0);
  EXPECT_EQ(engine().Unit(), u"px");
  EXPECT_EQ(view().HintText(), QString::fromStdU16String(LoadStringW(sid::kChosenScaleCannotUsedWith)));

  // A "Display" of another length is as unusable.
  ASSERT_EQ(scalestore::WriteScale(name, u"Ref", u"100.000", u"0.01", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  {
    CRegistryKey k;
    ASSERT_EQ(k.Create(HKEY_CURRENT_USER, FormatW(u"%s\\%s\\Ref", scalestore::kRootKey, name)), ERROR_SUCCESS);
    ASSERT_EQ(k.SetBinary(u"Display", std::vector<std::uint8_t>(16, 0)), ERROR_SUCCESS);
  }
  engine().SetScale(0.5f, u"um", ScaleDisplayBlock{});
  view().LoadSelectedScale(name);
  EXPECT_EQ(engine().Unit(), u"px");

  // A usable one applies, exactly as stored.
  ASSERT_EQ(scalestore::WriteScale(name, u"Ref", u"100.000", u"0.00625", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  view().LoadSelectedScale(name);
  EXPECT_EQ(engine().Scale(), double(0.00625f));
  EXPECT_EQ(engine().Unit(), u"mm");
}

TEST_F(ScaleFrameTest, TheOverviewFollowsZoomAndResize) {
  ShowStill(800, 600);
  frame().SetLayerPanelMode(LayerPanelView::kOverview);
  CLayerDlg* layers = CLayerDlg::Instance();
  ASSERT_TRUE(layers);
  layers->ViewTab()->setCurrentIndex(1);
  ASSERT_TRUE(frame().IsLayerPaneVisible());
  QApplication::processEvents();
  auto markWhole = [&] {
    POINT tl, br;
    camera().GetOverviewRect(&tl, &br);
    const QSize a = layers->PictureArea()->size();
    return tl.x == 1 && tl.y == 1 && br.x == a.width() - 1 && br.y == a.height() - 1;
  };
  auto ShowMark = [&] {
    POINT tl, br;
    camera().GetOverviewRect(&tl, &br);
    const QSize a = layers->PictureArea()->size();
    const RECT w = view().ImageWindowRect();
    return QString("mark %1,%2-%3,%4 area %5x%6 window %7,%8-%9,%10 view %11x%12")
        .arg(tl.x).arg(tl.y).arg(br.x).arg(br.y).arg(a.width()).arg(a.height())
        .arg(w.left).arg(w.top).arg(w.right).arg(w.bottom).arg(view().width()).arg(view().height())
        .toStdString();
  };
  frame().OnZoomFitWindow();
  EXPECT_EQ(layers->Picture().size(), layers->PictureArea()->size());

  // Zoomed in, the mark is part of the overview, and the picture is the area's size.
  frame().OnZoomOriginal();
  frame().OnZoomIn();
  frame().OnZoomIn();
  QApplication::processEvents();
  EXPECT_FALSE(markWhole()) << ShowMark();
  const QImage zoomed = layers->Picture();
  {
    POINT tl, br;
    camera().GetOverviewRect(&tl, &br);
    const QPoint onMark((tl.x + br.x) / 2, (tl.y + br.y) / 2);
    HoverAt(layers->PictureArea(), onMark);
    EXPECT_EQ(layers->HoverState(), 1);
  }

  // The pane made larger: drawn again at the new size at once.
  layers->PictureArea()->resize(layers->PictureArea()->width() + 40, layers->PictureArea()->height() + 30);
  EXPECT_EQ(layers->Picture().size(), layers->PictureArea()->size());

  // Back to the whole image: the arrow everywhere, and a click moves nothing.
  frame().OnZoomFitWindow();
  QApplication::processEvents();
  EXPECT_EQ(layers->Picture().size(), layers->PictureArea()->size());
  EXPECT_NE(layers->Picture(), zoomed);
  const RECT before = view().ImageWindowRect();
  const QPoint p(5, 5);
  HoverAt(layers->PictureArea(), p);
  EXPECT_EQ(layers->HoverState(), 0);
  QTest::mouseClick(layers->PictureArea(), Qt::LeftButton, {}, p);
  EXPECT_EQ(view().ImageWindowRect(), before);
}

}  // namespace
