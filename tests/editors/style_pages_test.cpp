// The colour and font page, the scale display page and the layer dialog's upper area: what
// they change in the engine, the camera object and the view.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <QTabBar>
#include <QTest>

#include "editors/ColorButton.h"
#include "platform/strings.h"
#include "editors/ColorFontPage.h"
#include "editors/LayerDlg.h"
#include "editors/LayerTree.h"
#include "editors/ScaleDisplayPage.h"
#include "platform/gdi/painter_dc.h"
#include "res/StringIds.h"
#include "tests/editors/editors_support.h"

namespace {

class PagesTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    dlg = std::make_unique<CLayerDlg>();
    host->mm.SetNotifyTarget(nullptr, &CLayerDlg::OnMeasureNotify);
    page = dlg->ColorFontPage();
    scale = dlg->ScalePage();
  }
  void TearDown() override {
    dlg.reset();
    EditorTest::TearDown();
  }
  CMeasureManager& mm() { return host->mm; }
  QImage Render() {
    QImage img(300, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    CPainterDC dc(&p);
    mm().DrawAll(dc, 0);
    return img;
  }
  void TypeLength(const QString& text) {
    QLineEdit* e = scale->Bar().length;
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
  }

  std::unique_ptr<CLayerDlg> dlg;
  CColorFontDlg* page = nullptr;
  ScaleDisplaySetDlg* scale = nullptr;
};

TEST_F(PagesTest, ColourAndFontChangesReachTheSelectedRecordAndItsDrawing) {
  Draw(MK_LINE, {{20, 100}, {280, 100}});
  Draw(MK_RECT, {{20, 140}, {80, 190}});
  dlg->LayerTree()->SelectIndex(0);
  page->LineWidthSlider()->setValue(7);
  page->LineColorButton()->Choose(RGB(0, 200, 0));
  page->TextColorButton()->Choose(RGB(0, 0, 200));
  EXPECT_EQ(mm().GetMeasure(0)->m_nPenWidth, 7);
  EXPECT_EQ(mm().GetMeasure(0)->m_clrPen, RGB(0, 200, 0));
  EXPECT_EQ(mm().GetMeasure(0)->m_clrText, RGB(0, 0, 200));
  const QImage img = Render();
  EXPECT_EQ(img.pixelColor(150, 100), QColor(0, 200, 0));
  EXPECT_EQ(img.pixelColor(150, 103), QColor(0, 200, 0));  // 7 px wide
  EXPECT_EQ(img.pixelColor(150, 106), QColor(Qt::white));
  EXPECT_GT(host->redraws, 0);

  // The font slider passes its position; the engine's height is position + 19.
  page->FontSlider()->setValue(1);
  EXPECT_EQ(mm().GetMeasure(0)->m_nFontHeight, 20);
  page->FontSlider()->setValue(50);
  EXPECT_EQ(mm().GetMeasure(0)->m_nFontHeight, 69);
  page->OffsetXSlider()->setValue(-200);
  EXPECT_EQ(mm().GetMeasure(0)->m_nTextOffsetX, -200);

  // A line cannot be filled; a rectangle can, and unchecking removes the fill at once.
  EXPECT_FALSE(page->FillCheck()->isEnabled());
  dlg->LayerTree()->SelectIndex(1);
  ASSERT_TRUE(page->FillCheck()->isEnabled());
  QTest::mouseClick(page->FillCheck(), Qt::LeftButton);
  EXPECT_TRUE(mm().GetMeasure(1)->m_bFill);
  EXPECT_TRUE(page->FillColorButton()->isEnabled());
  page->FillColorButton()->Choose(RGB(200, 0, 0));
  EXPECT_EQ(mm().GetMeasure(1)->m_clrFill, RGB(200, 0, 0));
  EXPECT_EQ(Render().pixelColor(50, 165), QColor(200, 0, 0));
  QTest::mouseClick(page->FillCheck(), Qt::LeftButton);
  EXPECT_FALSE(mm().GetMeasure(1)->m_bFill);
  EXPECT_FALSE(page->FillColorButton()->isEnabled());

  // Selecting shows the record's style; with nothing selected the page sets the next shapes'.
  dlg->LayerTree()->SelectIndex(0);
  EXPECT_EQ(page->LineWidthSlider()->value(), 7);
  EXPECT_EQ(page->LineColorButton()->Color(), RGB(0, 200, 0));
  mm().SelectMeasure(-1, nullptr);
  page->LineWidthSlider()->setValue(5);
  EXPECT_EQ(mm().GetMeasure(0)->m_nPenWidth, 7);
  Draw(MK_LINE, {{20, 20}, {100, 20}});
  EXPECT_EQ(mm().GetMeasure(2)->m_nPenWidth, 5);
}

TEST_F(PagesTest, ScaleDisplayPageEditsTheBarWithTheEnginesCurrentScale) {
  MakeCamera();
  PutFrame(1280, 64, std::vector<std::uint8_t>(1280 * 64 * 3, 0));
  Draw(MK_LINE, {{0, 10}, {100, 10}});
  ScaleDisplayBlock b;
  b.length = 250;
  mm().SetScale(0.01f, u"mm", b);
  dlg->LayerTab()->setCurrentIndex(2);
  EXPECT_EQ(scale->Bar().length->text(), "0.250");
  EXPECT_EQ(ui::FindCtrl<QLabel>(scale, ScaleDisplaySetDlg::Ids::kLabelUnit)->text(), "mm");

  // 20 mm is 2000 px: more than the 1280 px image less 20 allows.
  TypeLength("20");
  EXPECT_EQ(scale->Bar().length->text(), "12.600");
  EXPECT_EQ(mm().ScaleDisplay().length, 12600);
  TypeLength("0.29");
  EXPECT_EQ(mm().ScaleDisplay().length, 290);  // rounded, not 289

  // A scale set elsewhere since the page was filled is kept by the next change.
  mm().SetScale(0.5f, u"um", mm().ScaleDisplay());
  scale->Bar().sliderX->setValue(40);
  float f = 0;
  WString unit;
  ScaleDisplayBlock now;
  mm().GetScale(&f, &unit, &now);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(unit, u"um");
  EXPECT_EQ(now.xPercent, 40);
  EXPECT_EQ(ui::FindCtrl<QLabel>(scale, ScaleDisplaySetDlg::Ids::kLabelX)->text(), "40%");
  EXPECT_NE(WString(mm().GetMeasure(0)->m_szResult).find(u"um"), WString::npos);

  QTest::mouseClick(scale->Bar().enable, Qt::LeftButton);
  EXPECT_EQ(mm().ScaleDisplay().enable, 1);
  QTest::mouseClick(scale->Bar().enable, Qt::LeftButton);
  EXPECT_EQ(mm().ScaleDisplay().enable, 0);
  EXPECT_EQ(mm().ScaleDisplay().xPercent, 40);
  scale->Bar().color->Choose(RGB(1, 2, 3));
  EXPECT_EQ(mm().ScaleDisplay().lineColor, std::int32_t(RGB(1, 2, 3)));
  EXPECT_EQ(mm().ScaleDisplay().textColor, std::int32_t(RGB(1, 2, 3)));
}

TEST_F(PagesTest, BarLengthIsTakenWhenFinishedAndTypingIsNeverInterrupted) {
  MakeCamera();
  PutFrame(1280, 64, std::vector<std::uint8_t>(1280 * 64 * 3, 0));
  mm().SetScale(0.01f, u"mm", ScaleDisplayBlock{});
  dlg->LayerTab()->setCurrentIndex(2);
  dlg->show();
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  QLineEdit* e = scale->Bar().length;
  const ScaleDisplayBlock before = mm().ScaleDisplay();

  // While typing nothing is checked: select-all then ".5" is ".5", not "0.1005".
  e->setFocus();
  e->selectAll();
  QTest::keyClicks(e, ".5");
  EXPECT_EQ(e->text(), ".5");
  EXPECT_EQ(mm().ScaleDisplay(), before);
  QTest::keyClick(e, Qt::Key_Return);
  EXPECT_EQ(e->text(), "0.500");
  EXPECT_EQ(mm().ScaleDisplay().length, 500);

  TypeLength("7,5");  // a decimal comma
  EXPECT_EQ(e->text(), "7.500");
  EXPECT_EQ(mm().ScaleDisplay().length, 7500);
  for (const char* refused : {"-1", "", "abc", "."}) {
    TypeLength(refused);
    EXPECT_EQ(e->text(), "7.500") << refused;
    EXPECT_EQ(mm().ScaleDisplay().length, 7500) << refused;
  }
  // Leaving the edit finishes it too.
  e->setFocus();
  e->selectAll();
  QTest::keyClicks(e, "2");
  scale->Bar().sliderX->setFocus();
  EXPECT_EQ(mm().ScaleDisplay().length, 2000);
  EXPECT_TRUE(prompts.empty());

  // Without a usable factor no length can be checked: the last one comes back.
  mm().SetScale(0.0f, u"mm", mm().ScaleDisplay());
  TypeLength("5");
  EXPECT_EQ(e->text(), "2.000");
  EXPECT_EQ(mm().ScaleDisplay().length, 2000);
  EXPECT_TRUE(prompts.empty());
}

TEST_F(PagesTest, EveryTabCaptionIsWholeAtTheLeastPaneWidthInBothLanguages) {
  for (UiLanguage lang : {UiLanguage::English, UiLanguage::Chinese}) {
    SetUiLanguage(lang);
    CLayerPane pane;
    pane.resize(300, 700);  // the pane's width beside the camera panel, less its scroll bar
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    QTest::qWait(50);  // the layout after the captions were fitted
    const std::vector<std::pair<QTabBar*, QStringList>> bars = {
        {pane.Dialog()->ViewTab(), {editors::Str(sid::kAmplification), editors::Str(sid::kPositionImage), editors::Str(sid::kHistogram)}},
        {pane.Dialog()->LayerTab(), {editors::Str(sid::kMeasuringLayerEditor), editors::Str(sid::kColorFont), editors::Str(sid::kScaleDisplaySettings)}}};
    int broken = 0;
    for (const auto& [bar, captions] : bars) {
      // No scroll arrows: the tabs lie within the bar, each caption whole (perhaps on two lines).
      EXPECT_LE(bar->tabRect(bar->count() - 1).right(), bar->width()) << int(lang);
      for (int i = 0; i < bar->count(); ++i) {
        QString shown = bar->tabText(i);
        // A caption on two lines has room for both, descenders included, in its tab and its bar.
        const int textHeight = QFontMetrics(bar->font()).size(Qt::TextShowMnemonic, shown).height();
        EXPECT_GE(bar->tabRect(i).height(), textHeight + 4) << int(lang) << " " << shown.toStdString();
        EXPECT_GE(bar->height(), bar->tabRect(i).bottom() + 1) << int(lang);
        broken += shown.contains(u'\n');
        shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
        EXPECT_EQ(shown.remove(u'\n').remove(u' '), QString(captions[i]).remove(u' ')) << int(lang);
        EXPECT_GE(bar->font().pointSizeF(), 7.0);
      }
    }
    if (lang == UiLanguage::English) EXPECT_GT(broken, 0);  // the pane is narrow enough to break some
  }
  SetUiLanguage(UiLanguage::English);
}

TEST_F(PagesTest, UpperTabChoosesTheDisplayAndTheHistogramChannel) {
  MakeCamera();
  dlg->ViewTab()->setCurrentIndex(2);
  EXPECT_EQ(host->mode, LayerPanelView::kHistogram);
  EXPECT_FALSE(dlg->ChannelCombo()->isHidden());
  dlg->ChannelCombo()->setCurrentIndex(2);
  emit dlg->ChannelCombo()->activated(2);
  EXPECT_EQ(cameraObject->GetHistogramChannel(), 2);
  dlg->ViewTab()->setCurrentIndex(0);
  EXPECT_EQ(host->mode, LayerPanelView::kMagnifier);
  EXPECT_TRUE(dlg->ChannelCombo()->isHidden());
}

TEST_F(PagesTest, OverviewDragAndClickMoveTheImageWindow) {
  CCameraProcess& cam = MakeCamera();
  PutFrame(1000, 800, std::vector<std::uint8_t>(1000 * 800 * 3, 90));
  cam.SetLayerPanel(dlg.get());
  dlg->PictureArea()->setFixedSize(100, 80);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QWidget* area = dlg->PictureArea();

  // The whole image in view: the arrow everywhere, and a click does nothing.
  host->view.client = RECT{0, 0, 1000, 800};
  host->view.window = RECT{0, 0, 1000, 800};
  dlg->ViewTab()->setCurrentIndex(1);
  ASSERT_FALSE(dlg->Picture().isNull());
  QTest::mouseMove(area, QPoint(50, 40));
  EXPECT_EQ(dlg->CursorId(), CLayerDlg::kCursorArrow);
  QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(50, 40));
  EXPECT_EQ(host->view.window, (RECT{0, 0, 1000, 800}));

  // Half the image in view: the mark covers the upper left quarter of the overview.
  host->view.client = RECT{0, 0, 500, 400};
  dlg->RefreshPicture();
  QTest::mouseMove(area, QPoint(20, 20));
  EXPECT_EQ(dlg->HoverState(), 1);
  EXPECT_EQ(dlg->CursorId(), CLayerDlg::kCursorHand);
  QTest::mousePress(area, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(dlg->CursorId(), CLayerDlg::kCursorGrab);
  QTest::mouseMove(area, QPoint(30, 20));
  EXPECT_EQ(host->view.window, (RECT{-100, 0, 900, 800}));  // 10 px of 100 is 100 px of 1000
  QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(30, 20));
  EXPECT_FALSE(dlg->Dragging());

  // A click outside the mark centres the clicked image point.
  host->view.window = RECT{0, 0, 1000, 800};
  dlg->RefreshPicture();
  QTest::mouseMove(area, QPoint(80, 60));
  EXPECT_EQ(dlg->HoverState(), 2);
  QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(80, 60));
  EXPECT_EQ(host->view.window, (RECT{250 - 800, 200 - 600, 250 - 800 + 1000, 200 - 600 + 800}));
  cam.SetLayerPanel(nullptr);
}

}  // namespace
