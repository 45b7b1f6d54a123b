// The options dialog: every settings page round-tripped through the settings store, OK versus
// Cancel and Default, the capture page's rules and limits, the report page's templates and
// headers, and the keys that must not close the dialog.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include <fstream>

#include "options/ColorMatrixPage.h"
#include "options/OptCapturePage.h"
#include "options/OptMeasurePage.h"
#include "options/OptReportPage.h"
#include "options/OptVideoPage.h"
#include "options/OptionsDlg.h"
#include "platform/durable_file.h"
#include "res/StringIds.h"
#include "tests/fs_faults.h"
#include "tests/options/options_support.h"
#include "ui/CommandIds.h"

namespace {

class OptionsDlgTest : public OptionsTest {
 protected:
  // The dialog, shown without blocking, on `page`.
  std::unique_ptr<COptionsDlg> Open(int page) {
    auto dlg = std::make_unique<COptionsDlg>(page);
    dlg->show();
    EXPECT_TRUE(dlg->CapturePage() && dlg->AdvancedPage());
    return dlg;
  }
  template <class T = QWidget>
  static T* Ctl(QWidget* page, int id) {
    T* w = ui::FindCtrl<T>(page, id);
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  static QPushButton* Button(COptionsDlg& dlg, int id) { return ui::FindCtrl<QPushButton>(&dlg, id); }
  static bool Checked(QWidget* page, int id) { return Ctl<QCheckBox>(page, id)->isChecked(); }
  static bool Enabled(QWidget* page, int id) { return Ctl(page, id)->isEnabled(); }

  std::optional<DWORD> StoredDword(const char16_t* name) { return Stored().QueryDword(name); }
  std::optional<WString> StoredString(const char16_t* name) { return Stored().QueryString(name); }
  static CRegistryKey Stored() {
    CRegistryKey key;
    key.Open(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings");
    return key;
  }
  stGridSetting Grid(CCameraProcess& c) {
    stGridSetting g;
    c.GetGridSetting(&g.gridInterval, &g.gridWidth, &g.gridColor, &g.selectLineType, &g.selectLineWidth,
                     &g.selectLineColor);
    return g;
  }
};

TEST_F(OptionsDlgTest, EveryPageRoundTripsThroughTheStore) {
  std::filesystem::create_directory(Path() / u"图像 µ");
  std::filesystem::create_directory(Path() / u"录像");
  std::ofstream(Path() / u"模板.dotx") << "x";
  auto dlg = Open(COptionsDlg::kCapturePage);

  QWidget* cap = dlg->CapturePage();
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_CONTINUOUS));
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_INTERVAL), "1500");
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_FRAME));
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_FRAME_TOTAL), " 12");
  Click(Ctl(cap, COptCaptureDlg::IDC_JPEG));
  Click(Ctl(cap, COptCaptureDlg::IDC_RAW));
  Choose(Ctl<QComboBox>(cap, COptCaptureDlg::IDC_JPEG_QUALITY), 1);
  prompts.folders.push_back(QPath(u"图像 µ"));
  Click(Ctl(cap, COptCaptureDlg::IDC_BROWSE));
  EXPECT_EQ(prompts.folderTitles.back(), "Please select path");
  Click(Ctl(cap, COptCaptureDlg::IDC_DEF_NAME));
  ASSERT_TRUE(Enabled(cap, COptCaptureDlg::IDC_IMAGE_NAME));
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_IMAGE_NAME), QString::fromUtf16(u"样本 µ"));

  dlg->Tabs()->setCurrentIndex(COptionsDlg::kVideoPage);
  QWidget* vid = dlg->VideoPage();
  EXPECT_EQ(Ctl<QComboBox>(vid, COptVideoDlg::IDC_CODEC)->currentText(), "Motion JPEG");
  Choose(Ctl<QComboBox>(vid, COptVideoDlg::IDC_QUALITY), 2);
  prompts.folders.push_back(QPath(u"录像"));
  Click(Ctl(vid, COptVideoDlg::IDC_BROWSE));
  Type(Ctl<QLineEdit>(vid, COptVideoDlg::IDC_PREFIX), "Clip");

  dlg->Tabs()->setCurrentIndex(COptionsDlg::kMeasurePage);
  QWidget* mea = dlg->MeasurePage();
  Choose(Ctl<QComboBox>(mea, COptMeasureDlg::IDC_LINE_TYPE), 4);
  Ctl<QSlider>(mea, COptMeasureDlg::IDC_GRID_INTERVAL)->setValue(250);
  Ctl<QSlider>(mea, COptMeasureDlg::IDC_GRID_WIDTH)->setValue(7);
  EXPECT_EQ(Ctl<QLabel>(mea, COptMeasureDlg::IDC_GRID_INTERVAL_TEXT)->text(), "250");
  EXPECT_EQ(Ctl<QLabel>(mea, COptMeasureDlg::IDC_GRID_WIDTH_TEXT)->text(), "7");
  prompts.colors = {0x123456, 0x00ABCDEF};
  Click(Ctl(mea, COptMeasureDlg::IDC_SEL_COLOR));
  Click(Ctl(mea, COptMeasureDlg::IDC_GRID_COLOR));

  dlg->Tabs()->setCurrentIndex(COptionsDlg::kReportPage);
  QWidget* rep = dlg->ReportPage();
  Click(Ctl(rep, COptReportDlg::IDC_USE_TEMPLATE));
  prompts.files.push_back(QPath(u"模板.dotx"));
  Click(Ctl(rep, COptReportDlg::IDC_WORD_BROWSE));
  // Only the formats the reports read are offered; an old-format path set by hand is pointed out.
  EXPECT_EQ(prompts.filters.back().section(";;", 0, 0), "Word Files (*.docx *.dotx)");
  EXPECT_FALSE(prompts.filters.back().contains("*.doc "));
  EXPECT_TRUE(Ctl(rep, COptReportDlg::IDC_OLD_FORMAT)->isHidden());
  Type(Ctl<QLineEdit>(rep, COptReportDlg::IDC_EXCEL_TEMPLATE), QPath(u"old.xls"));
  EXPECT_FALSE(Ctl(rep, COptReportDlg::IDC_OLD_FORMAT)->isHidden());
  EXPECT_EQ(Ctl<QLabel>(rep, COptReportDlg::IDC_OLD_FORMAT)->text(), QString::fromStdU16String(LoadStringW(sid::kOldFormatTemplatesDocDot)));
  Type(Ctl<QLineEdit>(rep, COptReportDlg::IDC_EXCEL_TEMPLATE), QPath(u"gone.xltx"));  // no such file
  Type(Ctl<QLineEdit>(rep, COptReportDlg::IDC_TITLE), "Wafer 7");
  Type(Ctl<QLineEdit>(rep, COptReportDlg::IDC_HEADER1 + 4), QString::fromUtf16(u"批次"));
  Click(Ctl(rep, COptReportDlg::IDC_PRINT_HEADER));

  // Nothing reaches the camera object before OK.
  EXPECT_EQ(Grid(*camera), stGridSetting{});
  EXPECT_FALSE(StoredDword(u"Grid Interval"));
  Click(Button(*dlg, COptionsDlg::IDC_OK));
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(host.redraws, 1);

  stCaptureSetting c = DefaultCaptureSetting();
  c.ifContinuous = true;
  c.timeInterval = 1500;
  c.ifFrame = true;
  c.frameTotal = 12;
  c.imageType = 2 + 1 + 4;
  c.jpegQuality = 100;
  c.imageFolder = QPath(u"图像 µ").toStdU16String();
  c.useDefaultName = false;
  c.imageName = u"样本 µ";
  stVideoSetting v = DefaultVideoSetting();
  v.quality = 2;
  v.folder = QPath(u"录像").toStdU16String();
  v.prefix = u"Clip";
  const stGridSetting g{250, 7, 0x00ABCDEF, 4, 1, 0x123456};
  stReportSetting r = DefaultReportSetting();
  r.useTemplate = true;
  r.wordTemplate = QPath(u"模板.dotx").toStdU16String();
  r.headers[0] = u"Wafer 7";
  r.headers[5] = u"批次";
  r.printHeader = false;

  EXPECT_EQ(StoredDword(u"Time Interval"), DWORD(1500));
  EXPECT_EQ(StoredDword(u"Select Line Type"), DWORD(4));
  EXPECT_EQ(StoredString(u"Excel Templet"), WString());
  EXPECT_EQ(StoredString(u"Report Header5"), WString(u"批次"));

  // A camera object built afresh loads exactly what the pages held.
  camera.reset();
  camera = std::make_unique<CCameraProcess>();
  host.camera = camera.get();
  stCaptureSetting c2;
  stVideoSetting v2;
  stReportSetting r2;
  camera->GetCaptureSetting(&c2);
  camera->GetVideoSetting(&v2);
  camera->GetReportSetting(&r2);
  EXPECT_EQ(c2, c);
  EXPECT_EQ(v2, v);
  EXPECT_EQ(Grid(*camera), g);
  EXPECT_EQ(r2, r);

  // And a new dialog shows them: its pages give the same blocks back.
  auto again = Open(COptionsDlg::kVideoPage);
  EXPECT_EQ(again->CapturePage()->SaveSettings(), c);
  EXPECT_EQ(again->VideoPage()->SaveSettings(), v);
  EXPECT_EQ(again->MeasurePage()->SaveSettings(), g);
  EXPECT_EQ(again->ReportPage()->SaveSettings(), r);
  EXPECT_FALSE(Enabled(again->CapturePage(), COptCaptureDlg::IDC_PNG));
  EXPECT_FALSE(Enabled(again->ReportPage(), COptReportDlg::IDC_HEADER1 + 23));
  EXPECT_TRUE(Enabled(again->ReportPage(), COptReportDlg::IDC_TITLE));
}

TEST_F(OptionsDlgTest, CancelChangesNothingAndDefaultTakesEffectOnlyWithOk) {
  camera->SetGridSetting(40, 3, 0x111111, 1, 1, 0x222222);
  stCaptureSetting c;
  camera->GetCaptureSetting(&c);
  c.timeInterval = 5000;
  c.imageType = 9;
  camera->SetCaptureSetting(c);
  const stGridSetting grid = Grid(*camera);

  auto dlg = Open(COptionsDlg::kMeasurePage);
  Ctl<QSlider>(dlg->MeasurePage(), COptMeasureDlg::IDC_GRID_INTERVAL)->setValue(900);
  Click(Button(*dlg, COptionsDlg::IDC_DEFAULT));
  EXPECT_EQ(dlg->MeasurePage()->SaveSettings(), stGridSetting{});
  Click(Button(*dlg, COptionsDlg::IDC_CANCEL));
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
  EXPECT_EQ(Grid(*camera), grid);
  stCaptureSetting now;
  camera->GetCaptureSetting(&now);
  EXPECT_EQ(now, c);
  EXPECT_FALSE(std::filesystem::exists(Path() / "registry.dat") && StoredDword(u"Grid Interval"));
  EXPECT_EQ(host.redraws, 0);

  dlg = Open(COptionsDlg::kCapturePage);
  Click(Button(*dlg, COptionsDlg::IDC_DEFAULT));
  Click(Button(*dlg, COptionsDlg::IDC_OK));
  EXPECT_EQ(Grid(*camera), stGridSetting{});
  camera->GetCaptureSetting(&now);
  EXPECT_EQ(now, DefaultCaptureSetting());
  EXPECT_EQ(StoredDword(u"Grid Interval"), DWORD(100));
  EXPECT_EQ(StoredDword(u"Image Type"), DWORD(2));
  EXPECT_EQ(StoredDword(u"Time Interval"), DWORD(1000));
  EXPECT_EQ(StoredString(u"Video Path"), (Path() / "Video").u16string());
}

// OK on a disk that cannot take the store: the settings apply all the same, and the operator is
// told the file and the reason, with nothing claimed saved. A real read-only folder where the
// test may mount one, else the writer's seam.
TEST_F(OptionsDlgTest, OkSaysWhenTheSettingsCouldNotBeSaved) {
  const std::filesystem::path folder = Path() / "store";
  std::filesystem::create_directory(folder);
  SetRegistryFile(folder / "registry.dat");
  fs_faults::ReadOnlyFolder readOnly(folder);
  if (!readOnly.mounted) {
    DurableFaults full;
    full.freeBytes = 0;
    SetDurableFaults(full);
  }
  auto dlg = Open(COptionsDlg::kMeasurePage);
  Ctl<QSlider>(dlg->MeasurePage(), COptMeasureDlg::IDC_GRID_INTERVAL)->setValue(900);
  Click(Button(*dlg, COptionsDlg::IDC_OK));
  ClearDurableFaults();
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(Grid(*camera).gridInterval, 900);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0], "The settings could not be saved to \"" + QString::fromStdString((folder / "registry.dat").string()) +
                                     "\" (" + (readOnly.mounted ? "the folder is read-only" : "the disk is full") + ").");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(OptionsDlgTest, CapturePageRulesAndLimits) {
  auto dlg = Open(COptionsDlg::kCapturePage);
  QWidget* cap = dlg->CapturePage();
  // Continuous capture takes PNG away; switching it off gives the box back unchecked.
  Click(Ctl(cap, COptCaptureDlg::IDC_PNG));
  ASSERT_TRUE(Checked(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_INTERVAL));
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_CONTINUOUS));
  EXPECT_FALSE(Checked(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_TRUE(Enabled(cap, COptCaptureDlg::IDC_INTERVAL) && Enabled(cap, COptCaptureDlg::IDC_IF_FRAME));
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_CONTINUOUS));
  EXPECT_TRUE(Enabled(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_FALSE(Checked(cap, COptCaptureDlg::IDC_PNG));

  // Saving with measurements: bitmaps alone, every format box and the quality list greyed.
  Click(Ctl(cap, COptCaptureDlg::IDC_JPEG));
  Click(Ctl(cap, COptCaptureDlg::IDC_BMP));
  EXPECT_TRUE(Enabled(cap, COptCaptureDlg::IDC_JPEG_QUALITY));
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_MEASURE));
  for (int id : {COptCaptureDlg::IDC_BMP, COptCaptureDlg::IDC_JPEG, COptCaptureDlg::IDC_RAW, COptCaptureDlg::IDC_PNG}) {
    EXPECT_EQ(Checked(cap, id), id == COptCaptureDlg::IDC_BMP) << id;
    EXPECT_FALSE(Enabled(cap, id)) << id;
  }
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_JPEG_QUALITY));
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().imageType, 2);

  // Both limits: corrected, in one message of two lines; the corrections are what OK applies.
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_INTERVAL), "500");
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_FRAME_TOTAL), "300");
  Click(Button(*dlg, COptionsDlg::IDC_OK));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0],
            "The interval time of continuous capture is 1s.\nThe max frame of continuous capture is 256.");
  stCaptureSetting c;
  camera->GetCaptureSetting(&c);
  EXPECT_EQ(c.timeInterval * 1000 + c.frameTotal, 1000 * 1000 + 256);
  EXPECT_TRUE(c.ifMeasure);

  // The frame limit alone: the message starts with the line break; a text that is no number is 0.
  dlg = Open(COptionsDlg::kCapturePage);
  cap = dlg->CapturePage();
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_FRAME_TOTAL), "99999999999");
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_INTERVAL), "2000ms");
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().timeInterval, 2000);
  EXPECT_EQ(prompts.messages.back(), "\nThe max frame of continuous capture is 256.");
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_INTERVAL), "abc");
  Type(Ctl<QLineEdit>(cap, COptCaptureDlg::IDC_FRAME_TOTAL), "0");
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().timeInterval, 1000);
  EXPECT_EQ(prompts.messages.back(), "The interval time of continuous capture is 1s.");
}

TEST_F(OptionsDlgTest, LoadingShowsEnableStatesAndUnknownValuesSelectNothing) {
  stCaptureSetting c = DefaultCaptureSetting();
  c.jpegQuality = 50;  // not one of the three
  c.imageType = 1 | 8;
  c.ifContinuous = true;
  camera->SetCaptureSetting(c);
  stVideoSetting v = DefaultVideoSetting();
  v.codec = 0;
  v.quality = 7;
  camera->SetVideoSetting(v);
  camera->SetGridSetting(100, 1, 0, 9, 1, 0);

  auto dlg = Open(COptionsDlg::kCapturePage);
  QWidget* cap = dlg->CapturePage();
  EXPECT_EQ(Ctl<QComboBox>(cap, COptCaptureDlg::IDC_JPEG_QUALITY)->currentIndex(), -1);
  EXPECT_TRUE(Enabled(cap, COptCaptureDlg::IDC_JPEG_QUALITY));
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_FRAME_TOTAL));
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_IMAGE_NAME));
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().jpegQuality, 255);  // no selection keeps 255
  // A stored PNG with continuous capture: cleared and greyed as a click on the box would.
  EXPECT_FALSE(Checked(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_FALSE(Enabled(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().imageType, 1);
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_CONTINUOUS));
  EXPECT_TRUE(Enabled(cap, COptCaptureDlg::IDC_PNG));
  Click(Ctl(cap, COptCaptureDlg::IDC_PNG));
  EXPECT_EQ(dlg->CapturePage()->SaveSettings().imageType, 1 | 8);
  Click(Ctl(cap, COptCaptureDlg::IDC_IF_CONTINUOUS));
  EXPECT_EQ(Ctl<QComboBox>(dlg->VideoPage(), COptVideoDlg::IDC_CODEC)->currentIndex(), -1);
  EXPECT_EQ(Ctl<QComboBox>(dlg->VideoPage(), COptVideoDlg::IDC_QUALITY)->currentIndex(), -1);
  const stVideoSetting saved = dlg->VideoPage()->SaveSettings();
  EXPECT_EQ(saved.codec * 10 + saved.quality, 0);
  EXPECT_EQ(dlg->MeasurePage()->SaveSettings().selectLineType, -1);

  // Report page: the template box enables the two pickers, the header box the header lines;
  // Clear empties the header lines and keeps the title.
  QWidget* rep = dlg->ReportPage();
  EXPECT_FALSE(Enabled(rep, COptReportDlg::IDC_WORD_BROWSE) || Enabled(rep, COptReportDlg::IDC_EXCEL_BROWSE));
  Click(Ctl(rep, COptReportDlg::IDC_USE_TEMPLATE));
  EXPECT_TRUE(Enabled(rep, COptReportDlg::IDC_WORD_BROWSE) && Enabled(rep, COptReportDlg::IDC_EXCEL_BROWSE));
  Click(Ctl(rep, COptReportDlg::IDC_CLEAR));
  const stReportSetting r = dlg->ReportPage()->SaveSettings();
  EXPECT_EQ(r.headers[0], u"Measuring Result");
  for (int i = 1; i < kReportHeaderCount; ++i) EXPECT_EQ(r.headers[std::size_t(i)], u"") << i;
  Click(Ctl(rep, COptReportDlg::IDC_PRINT_HEADER));
  EXPECT_FALSE(Enabled(rep, COptReportDlg::IDC_HEADER1));
}

TEST_F(OptionsDlgTest, OpensOnTheGivenPageAndKeysInAPageDoNotCloseIt) {
  auto dlg = Open(COptionsDlg::PageOfCommand(ids::kReportSettings));
  EXPECT_EQ(dlg->windowTitle(), "Option");
  EXPECT_EQ(dlg->Tabs()->currentIndex(), COptionsDlg::kReportPage);
  EXPECT_TRUE(dlg->ReportPage()->isVisible());
  EXPECT_FALSE(dlg->CapturePage()->isVisible());
  EXPECT_EQ(dlg->Tabs()->tabText(4), "Advanced Settings");
  EXPECT_EQ(Button(*dlg, COptionsDlg::IDC_DEFAULT)->text(), "Default");
  EXPECT_EQ(ui::FindCtrl<QCheckBox>(dlg->ReportPage(), COptReportDlg::IDC_USE_TEMPLATE)->text(), "Use Template");

  dlg->activateWindow();
  auto* title = Ctl<QLineEdit>(dlg->ReportPage(), COptReportDlg::IDC_TITLE);
  title->setFocus();
  ASSERT_EQ(dlg->focusWidget(), title);
  QTest::keyClick(title, Qt::Key_Return);
  QTest::keyClick(title, Qt::Key_Enter);
  QTest::keyClick(title, Qt::Key_Escape);
  EXPECT_TRUE(dlg->isVisible());
  // Outside the pages Escape cancels as in any dialog.
  auto* ok = Button(*dlg, COptionsDlg::IDC_OK);
  ok->setFocus();
  QTest::keyClick(ok, Qt::Key_Escape);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Rejected);

  // Without a page the dialog closes at once.
  EXPECT_EQ(COptionsDlg::Run(-1), QDialog::Rejected);
  EXPECT_EQ(COptionsDlg::Run(5), QDialog::Rejected);
  EXPECT_EQ(COptionsDlg::Run(COptionsDlg::PageOfCommand(ids::kStop)), QDialog::Rejected);
}

TEST_F(OptionsDlgTest, WithoutCameraObjectThePagesShowDefaultsAndOkStoresNothing) {
  host.camera = nullptr;
  auto dlg = Open(COptionsDlg::kCapturePage);
  EXPECT_EQ(dlg->CapturePage()->SaveSettings(), DefaultCaptureSetting());
  Click(Button(*dlg, COptionsDlg::IDC_OK));
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_FALSE(StoredDword(u"Grid Interval"));
}

}  // namespace
