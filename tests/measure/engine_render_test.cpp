// Rendered pictures for what a call log cannot show: arcs, dotted pens, text placement, and one
// picture with every kind, every overlay and a selection.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <set>

#include "platform/gdi/painter_dc.h"
#include "tests/measure/engine_support.h"

namespace {

// Fonts need an application object; it lives for the test run.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "measure_engine_tests";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override { delete app_, app_ = nullptr; }

 private:
  QGuiApplication* app_ = nullptr;
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

bool Is(const QImage& img, int x, int y, COLORREF c) {
  return x >= 0 && y >= 0 && x < img.width() && y < img.height() && (img.pixel(x, y) & 0xFFFFFF) == (ToQColor(c).rgb() & 0xFFFFFF);
}

bool NearColour(const QImage& img, double x, double y, COLORREF c, int reach) {
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx)
      if (Is(img, int(std::lround(x)) + dx, int(std::lround(y)) + dy, c)) return true;
  return false;
}

TEST(EngineRender, ArcsDottedPensAndTextPlacement) {
  CMeasureManager mm;
  CImageDC dc(800, 400, 0xFFFFFF);
  dc.SelectObject(CPen(PS_SOLID, 1, 0x0000FF));
  // a quarter sector from (300, 200) counter-clockwise to (200, 100) around (200, 200)
  mm.DrawArc3Point(dc, POINT{300, 200}, POINT{200, 100}, POINT{271, 129}, POINT{200, 200});
  mm.DrawSelectionRect(dc, 450, 50, 750, 80);
  mm.DrawHandle(dc, 600, 350);
  mm.DrawTextRemark(dc, 500, 120, u"Measure", 0, 30);
  dc.SelectObject(CFont(30, u"楷体"));
  const SIZE ext = dc.GetTextExtentPoint32(u"Measure");
  dc.End();
  const QImage& img = dc.Image();

  for (int deg = 0; deg <= 90; deg += 5) {
    const double t = deg * 3.141592653589793 / 180;
    EXPECT_TRUE(NearColour(img, 200 + 100 * std::cos(t), 200 - 100 * std::sin(t), 0xFF, 1)) << deg;
  }
  int stray = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const bool onRadius = (std::abs(y - 200) <= 1 && x >= 199) || (std::abs(x - 200) <= 1 && y <= 201);
      const bool onArc = std::abs(std::hypot(x - 200.0, y - 200.0) - 100) <= 1.5 && x >= 199 && y <= 201;
      stray += Is(img, x, y, 0xFF) && !onRadius && !onArc;
    }
  EXPECT_EQ(stray, 0);
  EXPECT_TRUE(Is(img, 240, 160, 0xFFFFFF));  // an outline, not a filled pie

  int green = 0, changes = 0;
  for (int x = 450; x < 750; ++x) {
    green += Is(img, x, 50, 0x00FF00);
    changes += Is(img, x, 50, 0x00FF00) != Is(img, x + 1, 50, 0x00FF00);
  }
  EXPECT_TRUE(green > 100 && green < 200 && changes > 80) << green << " " << changes;  // dotted
  for (int x = 595; x < 605; ++x) EXPECT_TRUE(Is(img, x, 345, 0x00FF00)) << x;  // the handle is solid
  EXPECT_FALSE(Is(img, 605, 350, 0x00FF00));  // its right edge excluded

  int l = 800, t = 400, r = -1, b = -1;
  for (int y = 90; y < 190; ++y)
    for (int x = 400; x < 800; ++x)
      if (Is(img, x, y, 0)) l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
  EXPECT_TRUE(l >= 500 && l <= 504 && t >= 120 && b <= 120 + ext.cy) << l << " " << t << " " << b;
  EXPECT_TRUE(r <= 500 + ext.cx && r - l > ext.cx / 2) << r << " " << ext.cx;
}

TEST(EngineRender, OnePictureOfEveryKindOverlayAndSelection) {
  FakeCapture cap;
  CMeasureManager mm;
  mm.SetNotifyTarget(&cap, nullptr);
  const std::vector<std::pair<int, std::vector<POINT>>> shapes = {
      {MK_LINE, {{40, 40}, {200, 60}}}, {MK_PARALLEL, {{260, 40}, {400, 90}}},
      {MK_ANGLE, {{460, 120}, {520, 40}, {620, 110}}}, {MK_LINE2LINE, {{680, 40}, {820, 60}, {690, 120}, {830, 100}}},
      {MK_RECT, {{40, 180}, {180, 260}}}, {MK_ROUNDRECT, {{240, 180}, {400, 280}}},
      {MK_ELLIPSE, {{440, 180}, {600, 270}}}, {MK_ARC3, {{760, 250}, {700, 190}, {742, 208}}},
      {MK_CIRCLE2, {{860, 200}, {960, 240}}}, {MK_CIRCLE3, {{60, 400}, {160, 340}, {180, 440}}},
      {MK_POINT2LINE, {{300, 340}, {240, 440}, {400, 420}}},
      {MK_CIRCLE2LINE, {{460, 360}, {540, 330}, {560, 410}, {450, 470}, {620, 480}}},
      {MK_CIRCLE2CIRCLE, {{700, 360}, {760, 330}, {780, 400}, {900, 360}, {960, 340}, {980, 410}}},
      {MK_POINT, {{60, 560}, {120, 600}, {180, 560}, {150, 660}}},
      {MK_FOLDLINE, {{260, 560}, {320, 600}, {380, 560}, {350, 660}}},
      {MK_POLYGON, {{460, 560}, {520, 600}, {580, 560}, {550, 660}}},
      {MK_ARROW, {{700, 560}, {820, 620}}}, {MK_CROSS, {{1100, 700}, {1100, 700}}},
  };
  for (const auto& [kind, pts] : shapes) {
    mm.OnMeasureLButtonDown(pts[0].x, pts[0].y, kind, 1);
    for (std::size_t k = 1; k < pts.size(); ++k) {
      mm.OnMeasureMouseMove(pts[k].x, pts[k].y);
      mm.OnMeasureLButtonDown(pts[k].x, pts[k].y, MK_NONE, 0);
    }
    mm.OnMeasureRButtonDown(0, 0);  // finishes the open kinds
  }
  mm.AddRemark(880, 560, u"Remark 标注", 28, 0xFF0000);
  ASSERT_EQ(mm.GetMeasureCount() * 100 + mm.GetRemarkCount(), 1603);
  EditMeasure(mm, 4, [](MEASUREBASE& r) {
    r.m_bFill = true;
    r.m_clrFill = 0x00C0FF;
  });
  mm.OnMeasureMouseMove(110, 220);  // hover the rectangle, then select it
  mm.OnMeasureLButtonDown(110, 220, MK_NONE, 0);
  mm.OnMeasureLButtonUp(110, 220);
  mm.ShowGrid(1);
  mm.SetGridStyle(1, 80, 0xC0C0C0);
  mm.SetDividingRule(1, 0, 100, RECT{0, 0, 1280, 800}, 0xFF0000, 0xFF0000);
  mm.SetDividingRule(1, 1, 0, RECT{0, 0, 1280, 800}, 0x008000, 0x008000);
  mm.SetScale(0.01f, u"mm", ScaleDisplayBlock{1, 75, 90, 1000, 255, 255, 200, 2});
  mm.SetCalibrationLine(1, 1000, 100, 1200, 140);
  mm.SetContrastRound(1, 1100, 300, 60);
  mm.SetContrastAngle(1, 1000, 500, 120, 60);
  EXPECT_EQ(cap.sets * 100 + cap.releases, 1919);  // 18 shapes and one move

  CImageDC dc(1280, 800, 0xFFFFFF);
  mm.DrawAll(dc, 1);
  dc.End();
  const QImage& img = dc.Image();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid() && img.save(dir.filePath("every_kind.png")));
  EXPECT_EQ(QImage(dir.filePath("every_kind.png")).size(), img.size());
  std::set<QRgb> colours;
  int painted = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      colours.insert(img.pixel(x, y) & 0xFFFFFF);
      painted += (img.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    }
  EXPECT_GE(colours.size(), 6u);
  EXPECT_GT(painted, img.width() * img.height() / 50);
  EXPECT_LT(painted, img.width() * img.height() / 2);
  EXPECT_TRUE(Is(img, 110, 200, 0x00C0FF));  // the filled rectangle
  EXPECT_TRUE(NearColour(img, 30, 200, 0x00FF00, 1) && NearColour(img, 110, 170, 0x00FF00, 1));  // selected
}

}  // namespace
