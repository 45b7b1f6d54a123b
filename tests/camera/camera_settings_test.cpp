// The settings blocks: defaults, the capture-count rule, the round trip through the settings
// store, folder checks at load.

#include "platform/strings.h"
#include "tests/camera/camera_support.h"

namespace {

WString W(const std::filesystem::path& p) { return FromUtf8(p.string()); }

CRegistryKey SettingsKey() {
  CRegistryKey key;
  EXPECT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
  return key;
}

TEST_F(CameraTest, DefaultsAndTheCaptureCountRule) {
  stVideoSetting v;
  stCaptureSetting c;
  stReportSetting r;
  camera->GetVideoSetting(&v);
  camera->GetCaptureSetting(&c);
  camera->GetReportSetting(&r);
  EXPECT_EQ(v.folder, W(Path() / "Video"));
  EXPECT_EQ(v.prefix, u"Video");
  EXPECT_EQ(v.codec * 10 + v.quality, 11);
  EXPECT_EQ(c.imageFolder, W(Path() / "Image"));
  EXPECT_EQ(c.imageName, u"Capture");
  EXPECT_TRUE(c.useDefaultName && !c.ifMeasure && !c.ifContinuous && !c.ifFrame);
  EXPECT_EQ(c.imageType * 10000000 + c.timeInterval * 1000 + c.jpegQuality, 2 * 10000000 + 1000 * 1000 + 255);
  EXPECT_EQ(r.headers[0], u"Measuring Result");
  EXPECT_EQ(r.headers[24], u"user-defined");
  EXPECT_TRUE(r.printHeader && !r.useTemplate);
  int g[4];
  COLORREF gc, sc;
  camera->GetGridSetting(&g[0], &g[1], &gc, &g[2], &g[3], &sc);
  EXPECT_EQ((std::vector<int>{g[0], g[1], g[2], g[3], int(gc), int(sc)}), (std::vector<int>{100, 1, 2, 1, 0, 0x00FF00}));

  camera->IncCaptureCount();
  camera->IncCaptureCount();
  c.timeInterval = 250;
  c.captureCount = 77;  // ignored
  camera->SetCaptureSetting(c);
  stCaptureSetting got;
  camera->GetCaptureSetting(&got);
  EXPECT_EQ(got.timeInterval, 250);
  EXPECT_EQ(got.captureCount, 2);
  c.imageFolder += u"2";
  camera->SetCaptureSetting(c);
  camera->GetCaptureSetting(&got);
  EXPECT_EQ(got.captureCount, 0);

  // The grid block reaches the view's measurement engine.
  FakeView view;
  camera->SetView(&view);
  camera->SetGridSetting(50, 3, 0x123456, 1, 2, 0xFF);
  EXPECT_EQ(view.mm.m_nGridSpacing * 100 + view.mm.m_nGridWidth, 5003);
  EXPECT_EQ(view.mm.m_clrGrid, 0x123456u);
  EXPECT_EQ(view.mm.m_nSelPenStyle * 10 + view.mm.m_nSelPenWidth, 12);
  EXPECT_EQ(view.mm.m_clrSel, 0xFFu);
}

TEST_F(CameraTest, SettingsRoundTripThroughTheStoreWholeAndTyped) {
  std::filesystem::create_directory(Path() / "vids µ");
  std::filesystem::create_directory(Path() / "图像");
  stVideoSetting v;
  camera->GetVideoSetting(&v);
  v.folder = W(Path() / "vids µ");
  v.prefix = u"Clip";
  v.codec = 0;
  v.quality = 2;
  camera->SetVideoSetting(v);
  stCaptureSetting c;
  camera->GetCaptureSetting(&c);
  c = stCaptureSetting{W(Path() / "图像"), true, 9, true, 333, 80, true, 12, WString(300, u'n'), false, 0};
  camera->SetCaptureSetting(c);
  camera->IncCaptureCount();
  camera->SetGridSetting(7, 2, 0x010203, 0, 5, 0x0A0B0C);
  stReportSetting r;
  camera->GetReportSetting(&r);
  r.useTemplate = true;
  r.wordTemplate = WString(200, u'w') + u".dotx";  // longer than 127 characters
  r.excelTemplate = u"/t/报告.xltx";
  r.printHeader = false;
  for (int i = 0; i < kReportHeaderCount; ++i) r.headers[std::size_t(i)] = FormatW(u"H%d ", i) + WString(150, u'h');
  camera->SetReportSetting(r);
  ASSERT_TRUE(camera->SaveSetting());

  {
    CRegistryKey key = SettingsKey();
    EXPECT_EQ(key.QueryDword(u"If Measure"), DWORD(1));
    EXPECT_EQ(key.QueryDword(u"Capture Count"), DWORD(1));
    EXPECT_EQ(key.QueryString(u"Report Header24"), r.headers[24]);
    for (const char16_t* name : {u"Video Path", u"Video Prefix", u"Image Path", u"Image Name", u"Word Templet",
                                 u"Excel Templet", u"Report Header0"})
      EXPECT_TRUE(key.QueryString(name).has_value()) << ToUtf8(name);
    for (const char16_t* name :
         {u"Video Codec", u"Video Quality", u"Time Interval", u"FrameTotal", u"JPEG Quality", u"Image Type",
          u"If Continuous", u"If Frame", u"Use Def Name", u"Grid Interval", u"Grid Width", u"Grid Color",
          u"Select Line Type", u"Select Line Width", u"Select Line Color", u"if Templet", u"If Header"})
      EXPECT_TRUE(key.QueryDword(name).has_value()) << ToUtf8(name);
  }

  camera.reset();
  CCameraProcess loaded;
  stVideoSetting v2;
  stCaptureSetting c2;
  stReportSetting r2;
  loaded.GetVideoSetting(&v2);
  loaded.GetCaptureSetting(&c2);
  loaded.GetReportSetting(&r2);
  EXPECT_EQ(v2, v);
  c.captureCount = 1;
  EXPECT_EQ(c2, c);
  EXPECT_EQ(r2, r);
  int g[4];
  COLORREF gc, sc;
  loaded.GetGridSetting(&g[0], &g[1], &gc, &g[2], &g[3], &sc);
  EXPECT_EQ((std::vector<int>{g[0], g[1], g[2], g[3], int(gc), int(sc)}),
            (std::vector<int>{7, 2, 0, 5, 0x010203, 0x0A0B0C}));
}

TEST_F(CameraTest, LoadingTakesFlagsByTheirLowestByteAndChecksTheFolders) {
  {
    CRegistryKey key = SettingsKey();
    key.SetDword(u"If Measure", 0x100);  // lowest byte 0: not set
    key.SetDword(u"If Frame", 0x201);
    key.SetString(u"Video Codec", u"5");  // of the wrong type: the default stays
    key.SetString(u"Video Path", W(Path() / "again"));              // missing, creatable
    key.SetString(u"Image Path", W(Path() / "no" / "such" / "dir"));  // cannot be created
  }
  CCameraProcess loaded;
  stVideoSetting v;
  stCaptureSetting c;
  loaded.GetVideoSetting(&v);
  loaded.GetCaptureSetting(&c);
  EXPECT_FALSE(c.ifMeasure);
  EXPECT_TRUE(c.ifFrame);
  EXPECT_EQ(v.codec, 1);
  EXPECT_EQ(v.folder, W(Path() / "again"));
  EXPECT_TRUE(std::filesystem::is_directory(Path() / "again"));
  EXPECT_EQ(c.imageFolder, W(Path() / "Image"));
  EXPECT_EQ(c.imageName, u"Capture");  // a value not stored keeps its default
}

}  // namespace
