// Scale calibration on a made stage micrometer: by hand and by the ruler finder, stored per
// camera and applied to the measurements; the dialog's refusals; zoom.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "editors/EditorCommands.h"
#include "app/screenshots/EditorShots.h"
#include "editors/LayerDlg.h"
#include "editors/ScaleDisplayPage.h"
#include "editors/ScaleDlg.h"
#include "editors/ScaleStore.h"
#include "res/StringIds.h"
#include "tests/editors/editors_support.h"

namespace {

constexpr int kW = 800, kH = 600;
constexpr double kPitch = 12.5;
constexpr int kTicks = 41;  // 40 pitches: 500 px between the outer ticks

// A micrometer of dark ticks on a light slide, drawn four times larger and reduced so that tick
// edges fall between pixels; 24-bit bottom-up BGR as the frame buffer holds it.
std::vector<std::uint8_t> Micrometer() {
  constexpr int kUp = 4;
  cv::Mat1b big(kH * kUp, kW * kUp, uchar(0));
  for (int k = 0; k < kTicks; ++k) {
    const double x = 150.0 + k * kPitch, len = k % 10 == 0 ? 56 : k % 5 == 0 ? 42 : 28;
    cv::rectangle(big, cv::Point(int(std::lround((x - 1.5) * kUp)), 300 * kUp),
                  cv::Point(int(std::lround((x + 1.5) * kUp)) - 1, int((300 + len) * kUp) - 1), cv::Scalar(255),
                  cv::FILLED);
  }
  cv::rectangle(big, cv::Point(int(148.5 * kUp), 297 * kUp), cv::Point(int(651.5 * kUp), 300 * kUp - 1),
                cv::Scalar(255), cv::FILLED);
  cv::Mat1b mask;
  cv::resize(big, mask, cv::Size(kW, kH), 0, 0, cv::INTER_AREA);
  cv::Mat1f cover, img(kH, kW, 200.0f);
  mask.convertTo(cover, CV_32F, 1.0 / 255.0);
  img = img.mul(1.0 - cover) + 50.0f * cover;
  cv::GaussianBlur(img, img, cv::Size(0, 0), 1.0);
  cv::Mat grey, bgr;
  img.convertTo(grey, CV_8U);
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  cv::flip(bgr, bgr, 0);  // bottom-up rows
  return std::vector<std::uint8_t>(bgr.data, bgr.data + bgr.total() * 3);
}

class ScaleDlgTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    MakeCamera();
    PutFrame(kW, kH, Micrometer());
    camera = editors::Q(editors::W(QString::fromLatin1(CameraName().c_str()))).toStdU16String();
  }
  std::unique_ptr<CScale2Dlg> Open() {
    auto dlg = std::make_unique<CScale2Dlg>();
    dlg->OnInitDialog();
    dlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    return dlg;
  }
  void Set(CScale2Dlg& dlg, int id, const QString& text) { dlg.EditCtrl(id)->setText(text); }
  void Click(CScale2Dlg& dlg, int id) { QTest::mouseClick(ui::FindCtrl<QAbstractButton>(&dlg, id), Qt::LeftButton); }
  void Fill(CScale2Dlg& dlg, const QString& name, const QString& actual, int unitIndex) {
    Set(dlg, CScale2Dlg::kName, name);
    Set(dlg, CScale2Dlg::kActual, actual);
    ui::FindCtrl<QComboBox>(&dlg, CScale2Dlg::kUnit)->setCurrentIndex(unitIndex);
  }
  std::optional<WString> Stored(const WString& scale, const char16_t* value) {
    CRegistryKey k;
    if (k.Open(HKEY_CURRENT_USER, FormatW(u"%s\\%s\\%s", scalestore::kRootKey, camera, scale)) != ERROR_SUCCESS)
      return {};
    return k.QueryString(value);
  }
  std::vector<QString> Messages() const {
    std::vector<QString> out;
    for (const auto& p : prompts) out.push_back(p.text);
    return out;
  }

  WString camera;
};

TEST_F(ScaleDlgTest, CalibrateByHandStoreChooseAndApplyToTheMeasurements) {
  Draw(MK_LINE, {{100, 100}, {300, 100}});
  auto dlg = Open();
  ASSERT_TRUE(dlg->HasCapture());
  EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kPixel)->text(), "0.000");

  // Drag a line in the preview along the ruler: its length in image pixels.
  QWidget* preview = dlg->Preview();
  const RECT r = dlg->CalcPreviewRect(kW, kH);
  const double shown = r.right - r.left;
  const QPoint a(r.left + int(150 * shown / kW), r.top + 100), b(r.left + int(650 * shown / kW), r.top + 100);
  Click(*dlg, CScale2Dlg::kManual);
  EXPECT_FALSE(ui::FindCtrl<QPushButton>(dlg.get(), CScale2Dlg::kAutoAnalyse)->isEnabled());
  QTest::mousePress(preview, Qt::LeftButton, {}, a);
  QTest::mouseMove(preview, b);
  QTest::mouseRelease(preview, Qt::LeftButton, {}, b);
  const double pixels = (b.x() - a.x()) * double(kW) / shown;
  EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kPixel)->text().toStdString(), ToUtf8(FormatW(u"%.3f", pixels)));
  EXPECT_FALSE(ui::FindCtrl<QCheckBox>(dlg.get(), CScale2Dlg::kManual)->isChecked());

  Fill(*dlg, "Ref", "0.5", 1);
  Click(*dlg, CScale2Dlg::kSave);
  ASSERT_EQ(dlg->List()->topLevelItemCount(), 1);
  const WString size = FactorText(float(0.5 / pixels));
  EXPECT_EQ(Stored(u"Ref", u"Size"), size);
  EXPECT_EQ(Stored(u"Ref", u"Unit"), WString(u"mm"));
  EXPECT_EQ(Stored(u"Ref", u"Pixel"), FormatW(u"%.3f", pixels));
  EXPECT_EQ(dlg->List()->topLevelItem(0)->text(2), "mm/" + editors::Str(sid::kPixel));

  dlg->List()->topLevelItem(0)->setSelected(true);
  EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kLength)->text().toStdString(),
            ToUtf8(FormatW(u"%.3f", double(*ReadFactor(size)) * 100.0)));
  Click(*dlg, editors::kIdOk);
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(scalestore::ReadSelectedScale(), WString(u"Ref"));

  // The caller hands the scale to the engine; the line's text is now in millimetres.
  float factor = 0;
  WString unit;
  ScaleDisplayBlock block;
  dlg->GetScale(&factor, &unit, &block);
  EXPECT_EQ(factor, float(0.5 / pixels));
  EXPECT_EQ(unit, u"mm");
  host->mm.SetScale(factor, unit, block);
  EXPECT_EQ(WString(host->mm.GetMeasure(0)->m_szResult), FormatW(u"L: %.3f mm", 200.0 * double(factor)));

  // The next run selects the stored scale again, and the view's loading applies the same.
  host->mm.SetScale(1.0f, u"px", ScaleDisplayBlock{});
  ASSERT_EQ(scalestore::ApplySelectedScale(host->mm, camera), scalestore::ScaleFound::Found);
  EXPECT_EQ(host->mm.Unit(), u"mm");
  auto again = Open();
  ASSERT_EQ(again->List()->selectedItems().size(), 1);
  EXPECT_EQ(again->Factor(), factor);
}

TEST_F(ScaleDlgTest, AutomaticFindingMeasuresTheRulerWithinATenthOfAPercent) {
  auto dlg = Open();
  Click(*dlg, CScale2Dlg::kAutoAnalyse);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->AnalysisRunning() && dlg->HasAnalysisImage(); }, 20000));
  const double found = dlg->EditCtrl(CScale2Dlg::kPixel)->text().toDouble();
  EXPECT_NEAR(found, 40 * kPitch, 40 * kPitch * 0.001);
  // The picture shows what the library drew.
  EXPECT_NE(dlg->ShownImage(), QImage());
  const QImage analysed = dlg->ShownImage();

  // A new capture never shows the old analysis, and a find overtaken by a capture is dropped.
  Click(*dlg, CScale2Dlg::kCapImage);
  EXPECT_FALSE(dlg->HasAnalysisImage());
  EXPECT_NE(dlg->ShownImage(), analysed);
  Click(*dlg, CScale2Dlg::kAutoAnalyse);
  Click(*dlg, CScale2Dlg::kCapImage);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->AnalysisRunning(); }, 20000));
  QTest::qWait(10);
  EXPECT_FALSE(dlg->HasAnalysisImage());
  EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kPixel)->text(), "0.000");

  // A blank picture has no ruler.
  PutFrame(kW, kH, std::vector<std::uint8_t>(std::size_t(kW) * kH * 3, 128));
  Click(*dlg, CScale2Dlg::kCapImage);
  Click(*dlg, CScale2Dlg::kAutoAnalyse);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->AnalysisRunning() && dlg->HasAnalysisImage(); }, 20000));
  EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kPixel)->text(), editors::Str(sid::kCanFind));
}

TEST_F(ScaleDlgTest, SaveRefusesIncompleteOrUnusableEntriesAndChangesNothing) {
  auto dlg = Open();
  Set(*dlg, CScale2Dlg::kPixel, "250.000");
  Fill(*dlg, "Ref", "", 1);
  Click(*dlg, CScale2Dlg::kSave);
  Fill(*dlg, "a\\b", "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  Fill(*dlg, QString(256, 'n'), "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  Set(*dlg, CScale2Dlg::kPixel, editors::Str(sid::kCanFind));  // the finder found nothing: no factor
  Fill(*dlg, "Ref", "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  EXPECT_EQ(Messages(), (std::vector<QString>{editors::Str(sid::kPleaseSupplyPerfectInformationScale), editors::Str(sid::kScaleNameMayNotContain), editors::Str(sid::kScaleNameMayNotContain),
                                              editors::Str(sid::kPleaseSupplyPerfectInformationScale)}));
  EXPECT_EQ(dlg->List()->topLevelItemCount(), 0);
  EXPECT_TRUE(scalestore::ReadScaleList(camera).empty());

  // An existing name (whatever its case) is overwritten only when the operator says so.
  Set(*dlg, CScale2Dlg::kPixel, "250.000");
  Fill(*dlg, "Ref", "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  EXPECT_EQ(Stored(u"Ref", u"Size"), WString(u"0.004"));
  prompts.clear();
  answers = {editors::kAnswerNo};
  Fill(*dlg, "ref", "2", 1);
  Click(*dlg, CScale2Dlg::kSave);
  ASSERT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kNameScaleExistedIfCoverage)});
  EXPECT_EQ(Stored(u"Ref", u"Size"), WString(u"0.004"));
  EXPECT_EQ(dlg->List()->topLevelItem(0)->text(1), "0.004");
  answers = {editors::kAnswerYes};
  Click(*dlg, CScale2Dlg::kSave);
  EXPECT_EQ(Stored(u"Ref", u"Size"), WString(u"0.008"));
  ASSERT_EQ(dlg->List()->topLevelItemCount(), 1);
  EXPECT_EQ(dlg->List()->topLevelItem(0)->text(1), "0.008");
  EXPECT_TRUE(dlg->List()->topLevelItem(0)->isSelected());

  // A key the store will not delete keeps its row.
  {
    CRegistryKey child;
    ASSERT_EQ(child.Create(HKEY_CURRENT_USER, FormatW(u"%s\\%s\\Ref\\Child", scalestore::kRootKey, camera)),
              ERROR_SUCCESS);
  }
  prompts.clear();
  Click(*dlg, CScale2Dlg::kDelete);
  EXPECT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kScaleCouldNotDeleted)});
  EXPECT_EQ(dlg->List()->topLevelItemCount(), 1);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER,
                          FormatW(u"%s\\%s\\Ref\\Child", scalestore::kRootKey, camera).c_str()),
            ERROR_SUCCESS);
  Click(*dlg, CScale2Dlg::kDelete);
  EXPECT_EQ(dlg->List()->topLevelItemCount(), 0);
  EXPECT_FALSE(Stored(u"Ref", u"Size"));
}

TEST_F(ScaleDlgTest, OkWithoutAChosenScaleAsksAndStoresTheBarOnTheCameraKey) {
  ASSERT_EQ(scalestore::WriteScale(camera, u"A", u"100.000", u"0.0100", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  auto dlg = Open();
  ASSERT_EQ(dlg->List()->topLevelItemCount(), 1);
  answers = {editors::kAnswerNo};
  Click(*dlg, editors::kIdOk);
  EXPECT_NE(dlg->result(), QDialog::Accepted);
  EXPECT_FALSE(scalestore::ReadSelectedScale());
  answers = {editors::kAnswerYes};
  dlg->SetDisplayBlock(ScaleDisplayBlock{});
  Click(*dlg, editors::kIdOk);
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(scalestore::ReadSelectedScale(), WString());
  CRegistryKey k;
  ASSERT_EQ(k.Open(HKEY_CURRENT_USER, FormatW(u"%s\\%s", scalestore::kRootKey, camera)), ERROR_SUCCESS);
  EXPECT_EQ(k.QueryBinary(u"Display").value_or(std::vector<BYTE>()).size(), 32u);
  EXPECT_EQ(dlg->Factor(), 1.0f);
  EXPECT_EQ(dlg->Unit(), u"px");
  EXPECT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].text, editors::Str(sid::kNoExistScaleSpecifiedWill));
}

TEST_F(ScaleDlgTest, WithoutCameraOrFrameNothingIsStoredAndOkGivesPixels) {
  host->camera = nullptr;
  auto dlg = Open();
  EXPECT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kThereNoImageCapture)});
  EXPECT_FALSE(dlg->HasCapture());
  Click(*dlg, CScale2Dlg::kAutoAnalyse);  // nothing to analyse
  EXPECT_FALSE(dlg->AnalysisRunning());
  Set(*dlg, CScale2Dlg::kPixel, "0.000");
  Fill(*dlg, "Ref", "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  Click(*dlg, editors::kIdOk);
  EXPECT_EQ(Messages(), (std::vector<QString>{editors::Str(sid::kThereNoImageCapture), editors::Str(sid::kNoCameraSelectedScalesAre)}));
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(dlg->Factor(), 1.0f);
  EXPECT_EQ(dlg->Unit(), u"px");
  CRegistryKey root;
  EXPECT_NE(root.Open(HKEY_CURRENT_USER, scalestore::kRootKey), ERROR_SUCCESS);
}

TEST_F(ScaleDlgTest, ZoomStepsInSinglePrecisionAndKeysOfTheActualLength) {
  auto dlg = Open();
  float expected = 1.0f;
  for (int i = 0; i < 3; ++i) {
    Click(*dlg, CScale2Dlg::kZoomOut);
    expected -= 0.1;
  }
  EXPECT_EQ(dlg->Zoom(), expected);
  EXPECT_LT(dlg->Zoom(), 0.7);
  Click(*dlg, CScale2Dlg::kZoomOut);
  EXPECT_EQ(dlg->Zoom(), expected);
  Click(*dlg, CScale2Dlg::kWindowAdapt);
  Click(*dlg, CScale2Dlg::kZoomIn);
  const RECT fitted = [&] {
    CScale2Dlg plain;
    plain.Preview()->resize(dlg->Preview()->size());
    return plain.CalcPreviewRect(kW, kH);
  }();
  const RECT zoomed = dlg->CalcPreviewRect(kW, kH);
  EXPECT_EQ(zoomed.left, fitted.left - int(float(fitted.right - fitted.left) * 1.1f - float(fitted.right - fitted.left)));

  // Letters do not reach the actual length.
  QLineEdit* actual = dlg->EditCtrl(CScale2Dlg::kActual);
  actual->setFocus();
  QTest::keyClicks(actual, "1a.5b");
  EXPECT_EQ(actual->text(), "1.5");

  // Cancel asks; No keeps the dialog.
  answers = {editors::kAnswerNo};
  Click(*dlg, editors::kIdCancel);
  EXPECT_TRUE(dlg->isVisible());
  Click(*dlg, editors::kIdCancel);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(prompts.back().text, editors::Str(sid::kNoExistScaleSpecifiedAre));
}

TEST_F(ScaleDlgTest, TheScaleCommandAppliesTheChosenScaleAndShowsItOnTheScalePage) {
  ASSERT_EQ(scalestore::WriteScale(camera, u"Ten", u"100.000", u"0.1000", u"um", ScaleDisplayBlock{}),
            ERROR_SUCCESS);
  ASSERT_EQ(scalestore::WriteSelectedScale(u"Ten"), ERROR_SUCCESS);
  CLayerDlg layers;
  layers.LayerTab()->setCurrentIndex(2);
  QTimer::singleShot(0, [this] {
    auto* dlg = qobject_cast<CScale2Dlg*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dlg);
    ASSERT_EQ(dlg->List()->selectedItems().size(), 1);
    QTest::mouseClick(ui::FindCtrl<QCheckBox>(dlg, editors::ScaleBarControls::kEnable), Qt::LeftButton);
    Click(*dlg, editors::kIdOk);
  });
  ASSERT_TRUE(editors::RunScaleDialog(nullptr, host->mm));
  EXPECT_EQ(host->mm.Scale(), double(0.1f));
  EXPECT_EQ(host->mm.Unit(), u"um");
  EXPECT_EQ(host->mm.ScaleDisplay().enable, 1);
  EXPECT_EQ(host->mm.ScaleDisplay().length, 100);  // the engine's bar length came in and went out
  EXPECT_EQ(layers.ScalePage()->Bar().length->text(), "0.100");
  EXPECT_EQ(ui::FindCtrl<QLabel>(layers.ScalePage(), editors::ScaleBarControls::kLabelUnit)->text(), "um");
  EXPECT_TRUE(layers.ScalePage()->Bar().enable->isChecked());
}

TEST_F(ScaleDlgTest, TypedAndFoundCalibrationsAreStoredExactlyAndAppliedAfterARestart) {
  // Typed: a ruler of 1600.003 px for 10 mm; a 1563 px line then reads 9.769 mm, not 9.691.
  {
    auto dlg = Open();
    Set(*dlg, CScale2Dlg::kPixel, "1600.003");
    Fill(*dlg, "Typed", "10", 1);
    Click(*dlg, CScale2Dlg::kSave);
    EXPECT_TRUE(prompts.empty());
    const std::optional<WString> size = Stored(u"Typed", u"Size");
    ASSERT_TRUE(size);
    EXPECT_EQ(ReadFactor(*size), float(10.0 / 1600.003));
    EXPECT_EQ(size->find(u'e'), WString::npos);
    EXPECT_EQ(dlg->List()->topLevelItem(0)->text(1), editors::Q(*size));
  }
  // Found by the ruler finder: 40 pitches of the micrometer are 0.4 mm.
  double found = 0;
  {
    auto dlg = Open();
    Click(*dlg, CScale2Dlg::kAutoAnalyse);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->AnalysisRunning() && dlg->HasAnalysisImage(); }, 20000));
    found = dlg->EditCtrl(CScale2Dlg::kPixel)->text().toDouble();
    Fill(*dlg, "Found", "0.4", 1);
    Click(*dlg, CScale2Dlg::kSave);
    EXPECT_EQ(ReadFactor(*Stored(u"Found", u"Size")), float(0.4 / found));
  }
  // After a restart (a fresh engine and dialog) each is chosen, applied, and measures exactly.
  for (const auto& scale : {std::pair<QString, double>{"Typed", 10.0 / 1600.003}, {"Found", 0.4 / found}}) {
    const QString name = scale.first;
    SCOPED_TRACE(name.toStdString());
    host = std::make_unique<FakeHost>();
    host->camera = cameraObject.get();
    host->mm.SetNotifyTarget(&capture, nullptr);
    SetAppHost(host.get());
    QTimer::singleShot(0, [name] {
      auto* dlg = qobject_cast<CScale2Dlg*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dlg);
      for (int i = 0; i < dlg->List()->topLevelItemCount(); ++i)
        dlg->List()->topLevelItem(i)->setSelected(dlg->List()->topLevelItem(i)->text(0) == name);
      QTest::mouseClick(ui::FindCtrl<QAbstractButton>(dlg, editors::kIdOk), Qt::LeftButton);
    });
    ASSERT_TRUE(editors::RunScaleDialog(nullptr, host->mm));
    Draw(MK_LINE, {{10, 10}, {10 + 1563, 10}});
    ASSERT_EQ(host->mm.GetMeasureCount(), 1);
    const double exact = 1563.0 * scale.second;
    EXPECT_EQ(WString(host->mm.GetMeasure(0)->m_szResult), FormatW(u"L: %.3f mm", 1563.0 * host->mm.Scale()));
    EXPECT_NEAR(1563.0 * host->mm.Scale(), exact, exact * 1e-6);
    // The view's loading at the next live start gives the same factor.
    CMeasureManager fresh;
    ASSERT_EQ(scalestore::ApplySelectedScale(fresh, camera), scalestore::ScaleFound::Found);
    EXPECT_EQ(fresh.Scale(), host->mm.Scale());
  }

  // A quotient that is 0 as a float is refused, as the old "0.0000" was stored.
  auto dlg = Open();
  prompts.clear();
  Set(*dlg, CScale2Dlg::kPixel, "1000.000");
  Fill(*dlg, "Tiny", "0.00000000000000000000000000000000000000000000001", 1);
  Click(*dlg, CScale2Dlg::kSave);
  EXPECT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kPleaseSupplyPerfectInformationScale)});
  EXPECT_FALSE(Stored(u"Tiny", u"Size"));
  // An old row of "0.0000" cannot be chosen.
  ASSERT_EQ(scalestore::WriteScale(camera, u"Old", u"1.000", u"0.0000", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  dlg = Open();
  prompts.clear();
  for (int i = 0; i < dlg->List()->topLevelItemCount(); ++i)
    dlg->List()->topLevelItem(i)->setSelected(dlg->List()->topLevelItem(i)->text(0) == "Old");
  Click(*dlg, editors::kIdOk);
  EXPECT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kScaleCannotUsedItsFactor)});
  EXPECT_NE(dlg->result(), QDialog::Accepted);
}

TEST_F(ScaleDlgTest, EnterInEveryEditIsOkAndNeverCapturesAgain) {
  for (int id : {int(CScale2Dlg::kName), int(CScale2Dlg::kActual), int(CScale2Dlg::kPixel), int(CScale2Dlg::kLength)}) {
    SCOPED_TRACE(id);
    auto dlg = Open();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    Set(*dlg, CScale2Dlg::kPixel, "250.000");  // a measured line
    Set(*dlg, CScale2Dlg::kActual, "1");
    QLineEdit* edit = dlg->EditCtrl(id);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->EditCtrl(CScale2Dlg::kPixel)->text(), "250.000");
  }
}

TEST_F(ScaleDlgTest, AFileOpenedWithoutACameraIsCalibratedByOk) {
  // A still image in the frame buffer, no camera listed.
  cameraObject = std::make_unique<CCameraProcess>();
  host->camera = cameraObject.get();
  PutFrame(kW, kH, Micrometer());
  QTimer::singleShot(0, [this] {
    auto* dlg = qobject_cast<CScale2Dlg*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(dlg->HasCapture());
    EXPECT_TRUE(dlg->CameraName().empty());
    Click(*dlg, CScale2Dlg::kAutoAnalyse);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->AnalysisRunning() && dlg->HasAnalysisImage(); }, 20000));
    Fill(*dlg, "Ref", "400", 0);  // um
    Click(*dlg, CScale2Dlg::kSave);  // nothing to store it under: said so
    EXPECT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kNoCameraSelectedScalesAre)});
    Click(*dlg, editors::kIdOk);
  });
  Draw(MK_LINE, {{0, 0}, {500, 0}});
  ASSERT_TRUE(editors::RunScaleDialog(nullptr, host->mm));
  EXPECT_EQ(host->mm.Unit(), u"um");
  EXPECT_NEAR(host->mm.Scale(), 400.0 / (40 * kPitch), 400.0 / (40 * kPitch) * 0.001);
  EXPECT_EQ(WString(host->mm.GetMeasure(0)->m_szResult), FormatW(u"L: %.3f um", 500.0 * host->mm.Scale()));
  CRegistryKey root;
  EXPECT_NE(root.Open(HKEY_CURRENT_USER, scalestore::kRootKey), ERROR_SUCCESS);
}

TEST_F(ScaleDlgTest, OkWithoutAChosenScaleAppliesTheLineJustMeasured) {
  ASSERT_EQ(scalestore::WriteScale(camera, u"A", u"100.000", u"0.01", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  auto dlg = Open();
  Set(*dlg, CScale2Dlg::kPixel, "640.000");
  Fill(*dlg, "Unsaved", "2", 0);  // um
  Click(*dlg, editors::kIdOk);
  EXPECT_TRUE(prompts.empty());  // a scale is given: no question of the default one
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(dlg->Factor(), float(2.0 / 640.0));
  EXPECT_EQ(dlg->Unit(), u"um");
  EXPECT_EQ(scalestore::ReadSelectedScale(), WString());  // unnamed: nothing to select next time
}

TEST_F(ScaleDlgTest, AStoppedCameraShownInTheListKeepsItsScales) {
  cameraObject->SetCurCamera(-1);  // stopped: no camera is current
  host->shownCamera = 0;           // yet the camera list shows it
  auto dlg = Open();
  EXPECT_EQ(dlg->CameraName(), camera);
  Set(*dlg, CScale2Dlg::kPixel, "250.000");
  Fill(*dlg, "Ref", "1", 1);
  Click(*dlg, CScale2Dlg::kSave);
  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(Stored(u"Ref", u"Size"), WString(u"0.004"));
}

TEST_F(ScaleDlgTest, OverwritingAScaleKeepsTheTypedBarLength) {
  auto dlg = Open();
  Set(*dlg, CScale2Dlg::kPixel, "250.000");
  Fill(*dlg, "Ref", "2", 1);
  Click(*dlg, CScale2Dlg::kSave);
  QLineEdit* bar = dlg->EditCtrl(CScale2Dlg::kLength);
  bar->setText("0.5");
  emit bar->editingFinished();
  answers = {editors::kAnswerYes};
  Click(*dlg, CScale2Dlg::kSave);  // the same name: overwritten, its row selected
  ASSERT_EQ(Messages(), std::vector<QString>{editors::Str(sid::kNameScaleExistedIfCoverage)});
  EXPECT_TRUE(dlg->List()->topLevelItem(0)->isSelected());
  EXPECT_EQ(bar->text(), "0.500");
  Click(*dlg, editors::kIdOk);
  EXPECT_EQ(dlg->Block().length, 500);
  EXPECT_EQ(dlg->Factor(), 0.008f);
}

TEST_F(ScaleDlgTest, TheDialogOpensWholeOnTheScreen) {
  auto dlg = Open();
  const QRect work = dlg->screen()->availableGeometry();
  const QRect g = dlg->frameGeometry();
  // Whole where the screen can hold the dialog's least size; else from its top left corner.
  const QSize least = dlg->minimumSizeHint();
  const QString where = QString("%1,%2 %3x%4 in %5x%6").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
                            .arg(work.width()).arg(work.height());
  EXPECT_TRUE(work.contains(g.topLeft())) << where.toStdString();
  if (least.width() <= work.width()) {
    EXPECT_LE(g.right(), work.right()) << where.toStdString();
  }
  if (least.height() <= work.height()) {
    EXPECT_LE(g.bottom(), work.bottom()) << where.toStdString();
  }
}

TEST_F(EditorTest, ScreenshotsOfEveryEditorAreWritten) {
  MakeCamera();  // no frame: the shots draw a micrometer into it
  const QString out = dir.path() + "/shots";
  ASSERT_TRUE(QDir().mkpath(out));
  editors::RenderEditorShots(out, "en");
  for (const char* name : {"LayerEditor-Tree", "LayerEditor-ColorFont", "LayerEditor-ScaleDisplay", "Remark",
                           "ContrastAngle", "ContrastRound", "ScaleSetup", "ScaleSetup-AutoAnalyse"})
    EXPECT_FALSE(QImage(out + "/" + name + "-en.png").isNull()) << name;
  if (const char* keep = std::getenv("Q7V_EDITOR_SHOTS")) {
    for (const QString& f : QDir(out).entryList(QDir::Files)) QFile::copy(out + "/" + f, QString(keep) + "/" + f);
  }
}

}  // namespace
