// The settings blocks: defaults, the capture-count rule, the round trip through the settings
// store, folder checks at load.

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/durable_file.h"
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
  EXPECT_EQ(view.mm.GridSpacing() * 100 + view.mm.GridWidth(), 5003);
  EXPECT_EQ(view.mm.GridColor(), 0x123456u);
  EXPECT_EQ(view.mm.SelectionPenStyle() * 10 + view.mm.SelectionPenWidth(), 12);
  EXPECT_EQ(view.mm.SelectionColor(), 0xFFu);
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

namespace {

void Age(const std::filesystem::path& p) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 120;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

}  // namespace

// At start the program removes what saves of a killed run left in every folder it writes, and
// nothing else: not the operator's files, not a save begun since the start, and the names of
// earlier versions' temporaries only in the program's own folders.
TEST_F(CameraTest, TheStartSweepsLeftoversFromEveryFolderItWrites) {
  namespace fs = std::filesystem;
  const fs::path images = Path() / "shots", videos = Path() / "films", camsdk = Path() / "camsdk";
  for (const fs::path& f : {images, videos, camsdk}) fs::create_directories(f);
  stCaptureSetting c;
  camera->GetCaptureSetting(&c);
  c.imageFolder = W(images);
  camera->SetCaptureSetting(c);
  stVideoSetting v;
  camera->GetVideoSetting(&v);
  v.folder = W(videos);
  camera->SetVideoSetting(v);

  const std::vector<fs::path> stale = {Path() / ".q7v-A1b2C3.tmp",         Path() / "registry.dat.Zx81Qp",
                                       Path() / "Default.kvmi.k9Lm2N",     images / ".q7v-bmp123.tmp",
                                       videos / ".q7v-Rep001.tmp",         camsdk / "camsdk-params.ini.tmp",
                                       camsdk / ".q7v-params.tmp"};
  const std::vector<fs::path> kept = {images / "Capture0001.bmp", images / "Capture0001.bmp.Backup",
                                      images / "Default.kvmi.k9Lm2N", videos / "Video_20240101-120000.avi"};
  for (const fs::path& f : stale) std::ofstream(f) << "left";
  for (const fs::path& f : kept) std::ofstream(f) << "mine";
  for (const fs::path& f : stale) Age(f);
  for (const fs::path& f : kept) Age(f);
  const std::int64_t start = FileClockNowNs();
  std::ofstream(images / ".q7v-busy00.tmp") << "a capture begun since the start";

  EXPECT_EQ(camera->SweepLeftovers(start), int(stale.size()));
  for (const fs::path& f : stale) EXPECT_FALSE(fs::exists(f)) << f;
  for (const fs::path& f : kept) EXPECT_TRUE(fs::exists(f)) << f;
  EXPECT_TRUE(fs::exists(images / ".q7v-busy00.tmp"));
}
