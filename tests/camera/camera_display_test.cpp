// Display of still frames (picture, visible part, overview, histogram) and the bitmap capture.
#include <QFile>

#include <fstream>

#include <opencv2/imgproc.hpp>

#include "camera/AreaScale.h"
#include "tests/camera/camera_support.h"

namespace {

class DisplayTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    camera->SetView(&view);
  }
  // A still frame whose pixel bytes are given by fn(x, row, channel) (row 0 at the bottom).
  template <typename F>
  void Still(int w, int h, F fn) {
    const FrameView frame = camera->NewFrame(MakeFrameFormat(w, h));
    ASSERT_TRUE(frame);
    std::uint8_t* px = frame.Data();
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) px[(std::size_t(r) * w + x) * 3 + c] = std::uint8_t(fn(x, r, c));
  }
  static std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
  }
  WString Name(const std::string& leaf) { return FromUtf8((Path() / leaf).string()); }

  FakeView view;
};

TEST_F(DisplayTest, SaveImageBmpWritesPaddedBottomUpRowsAndReplacesWhole) {
  EXPECT_EQ(camera->SaveImageBmp(Name("none")), CAMERA_NO_FRAME);
  EXPECT_FALSE(std::filesystem::exists(Path() / "none.bmp"));

  for (int w : {641, 640}) {
    SCOPED_TRACE(w);
    const int h = 3;
    Still(w, h, [](int x, int r, int c) { return (x * 7 + r * 31 + c * 3) & 0xFF; });
    std::ofstream(Path() / "shot.bmp") << "an older file, longer than nothing";
    ASSERT_EQ(camera->SaveImageBmp(Name("shot")), 1);
    const auto b = ReadFile(Path() / "shot.bmp");
    const std::size_t stride = w == 641 ? 1924 : 1920;
    ASSERT_EQ(b.size(), 54 + stride * h);
    EXPECT_EQ(b[0] * 256 + b[1], 'B' * 256 + 'M');
    EXPECT_EQ(U32(b, 2), 54 + stride * h);
    EXPECT_EQ(U32(b, 6), 0u);
    EXPECT_EQ(U32(b, 10), 54u);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), std::uint32_t(w));
    EXPECT_EQ(U32(b, 22), std::uint32_t(h));
    EXPECT_EQ(U32(b, 26), 1u | (24u << 16));
    EXPECT_EQ(U32(b, 30), 0u);
    int wrong = 0;
    for (int r = 0; r < h; ++r) {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) wrong += b[54 + r * stride + std::size_t(x) * 3 + c] != ((x * 7 + r * 31 + c * 3) & 0xFF);
      for (std::size_t pad = std::size_t(w) * 3; pad < stride; ++pad) wrong += b[54 + r * stride + pad] != 0;
    }
    EXPECT_EQ(wrong, 0);
  }
}

// A frame format carrying a resolution and an image size: the capture's header keeps them.
TEST_F(DisplayTest, SaveImageBmpKeepsTheFrameFormatsResolution) {
  BITMAPINFOHEADER f = MakeFrameFormat(5, 2);
  f.biSizeImage = 40;
  f.biXPelsPerMeter = 3780;
  f.biYPelsPerMeter = 3779;
  ASSERT_TRUE(camera->SetFrameFormat(f));
  ASSERT_EQ(camera->SaveImageBmp(Name("dpi")), 1);
  const auto b = ReadFile(Path() / "dpi.bmp");
  ASSERT_EQ(b.size(), 54u + 16u * 2u);
  EXPECT_EQ(U32(b, 18), 5u);
  EXPECT_EQ(U32(b, 34), 40u);
  EXPECT_EQ(U32(b, 38), 3780u);
  EXPECT_EQ(U32(b, 42), 3779u);
  EXPECT_EQ(U32(b, 46), 0u);
}

TEST_F(DisplayTest, SaveImageBmpBurnsInMeasurementsAndReportsFilesItCannotWrite) {
  Still(200, 100, [](int, int, int) { return 128; });
  view.AddLine({20, 30}, {180, 30}, 4);  // red, 30 pixels below the top
  const WString utf8 = Name("Messung µm 测量");
  ASSERT_EQ(camera->SaveImageBmp(utf8), 1);
  const auto b = ReadFile(Path() / "Messung µm 测量.bmp");
  ASSERT_EQ(b.size(), 54u + 600u * 100u);
  const std::size_t at = 54 + std::size_t(100 - 1 - 30) * 600 + 100 * 3;  // (100, 30) from the top
  EXPECT_EQ(b[at] * 65536 + b[at + 1] * 256 + b[at + 2], 255);  // B 0, G 0, R 255
  EXPECT_EQ(b[54], 128);  // the frame elsewhere

  // A folder that does not exist, and a name taken by a folder: failures, nothing left over.
  EXPECT_EQ(camera->SaveImageBmp(Name("missing/shot")), CAMERA_WRITE_FAILED);
  std::filesystem::create_directory(Path() / "taken.bmp");
  EXPECT_EQ(camera->SaveImageBmp(Name("taken")), CAMERA_WRITE_FAILED);
  EXPECT_TRUE(std::filesystem::is_directory(Path() / "taken.bmp"));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path())) files += e.is_regular_file() && e.path().extension() != ".dat";
  EXPECT_EQ(files, 1);  // only the UTF-8 capture
}

TEST_F(DisplayTest, ScaledPictureLooksLikeTheFullSizeDrawingStretched) {
  Still(800, 600, [](int x, int r, int c) { return (x / 4 + r / 3 + c * 40) & 0xFF; });
  view.AddLine({100, 100}, {700, 500}, 8);
  view.AddLine({100, 500}, {700, 120}, 12);
  view.mm.SelectMeasure(-1, nullptr);  // no selection: the capture has none
  camera->SetRoi(true, 40, 40, 760, 560);
  QImage shown(400, 300, QImage::Format_RGB32);
  shown.fill(Qt::black);
  {
    QPainter p(&shown);
    camera->DrawImage(p, 400, 300);
  }
  // The reference: the full-size drawing (no region outline there), area-averaged.
  camera->SetRoi(false, 0, 0, 0, 0);
  ASSERT_EQ(camera->SaveImageBmp(Name("full")), 1);
  QImage full(QString::fromStdString((Path() / "full.bmp").string()));
  ASSERT_EQ(full.size(), QSize(800, 600));
  full = full.convertToFormat(QImage::Format_RGB32);
  const cv::Mat fullMat(600, 800, CV_8UC4, full.bits(), std::size_t(full.bytesPerLine()));
  cv::Mat reference;
  cv::resize(fullMat, reference, cv::Size(400, 300), 0, 0, cv::INTER_AREA);
  const cv::Mat shownMat(300, 400, CV_8UC4, shown.bits(), std::size_t(shown.bytesPerLine()));
  cv::Mat diff;
  cv::absdiff(shownMat, reference, diff);
  cv::Mat grey;
  cv::cvtColor(diff, grey, cv::COLOR_BGRA2GRAY);
  // Away from the region outline, only the edges of lines and letters may differ.
  cv::Mat inner = grey(cv::Rect(25, 25, 350, 250));
  EXPECT_LT(cv::countNonZero(inner > 60), int(inner.total() / 100));
  EXPECT_LT(cv::mean(inner)[0], 3.0);
  // On the lines both are red.
  const QRgb mid = shown.pixel(200, 150);
  EXPECT_GT(qRed(mid), 200);
  EXPECT_LT(qGreen(mid), 60);
  // Enlarged, each frame pixel becomes a block of its own colour.
  Still(4, 3, [](int x, int r, int c) { return x * 60 + r * 10 + c; });
  camera->SetRoi(false, 0, 0, 0, 0);
  view.mm.ResetMeasurements();
  QImage big(8, 6, QImage::Format_RGB32);
  {
    QPainter p(&big);
    camera->DrawImage(p, 8, 6);
  }
  int wrong = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const int v = x / 2 * 60 + (2 - y / 2) * 10;
      wrong += big.pixel(x, y) != qRgb(v + 2, v + 1, v);
    }
  EXPECT_EQ(wrong, 0);
  // The region outline is drawn (dotted, red) on the shown picture only.
  int red = 0;
  for (int x = 20; x < 380; ++x) red += qRed(shown.pixel(x, 20)) > 200 && qGreen(shown.pixel(x, 20)) < 60;
  EXPECT_GT(red, 50);
}

// The visible part is scaled where it lies in the frame, without a copy: the same pixels as the
// part cut out and scaled on its own.
TEST_F(DisplayTest, VisiblePartIsScaledInPlaceLikeTheCutOutPart) {
  // The scaler reading rows of a larger frame, in one band and in several.
  for (QSize part : {QSize(37, 23), QSize(900, 700)}) {
    SCOPED_TRACE(part.width());
    const int fw = part.width() + 11, fh = part.height() + 5, x0 = 7, y0 = 3;
    std::vector<std::uint8_t> frame(std::size_t(fw) * fh * 3);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = std::uint8_t((i * 2654435761u) >> 13);
    std::vector<std::uint8_t> cut;
    for (int r = y0; r < y0 + part.height(); ++r) {
      const auto* row = frame.data() + (std::size_t(r) * fw + x0) * 3;
      cut.insert(cut.end(), row, row + std::size_t(part.width()) * 3);
    }
    QImage inPlace(part.width() * 2 / 5 + 1, part.height() / 3 + 1, QImage::Format_RGB32);
    QImage copied(inPlace.size(), QImage::Format_RGB32);
    CAreaScaler a, b;
    a.Scale(frame.data() + (std::size_t(y0) * fw + x0) * 3, part.width(), part.height(), inPlace, std::size_t(fw) * 3);
    b.Scale(cut.data(), part.width(), part.height(), copied);
    EXPECT_EQ(inPlace, copied);
  }
  // The view's visible part of a 1000 x 800 frame shown at 500 x 400: frame columns 202..801
  // and image rows 102..501 land on it.
  auto value = [](int x, int r, int c) { return (x * 13 + r * 7 + c * 91 + (x * r) % 17) & 0xFF; };
  Still(1000, 800, value);
  QImage shown(500, 400, QImage::Format_RGB32);
  shown.fill(Qt::black);
  const QRect visible(101, 51, 300, 200);
  {
    QPainter p(&shown);
    camera->DrawImageRegion(p, 500, 400, visible, false);
  }
  // Image row y is buffer row 799 - y; in the cut-out frame image row y - 102 is its row 501 - y.
  Still(600, 400, [&](int x, int r, int c) { return value(x + 202, r + 298, c); });
  QImage part(300, 200, QImage::Format_RGB32);
  {
    QPainter p(&part);
    camera->DrawImage(p, 300, 200);
  }
  EXPECT_EQ(shown.copy(visible), part);
  // Outside the visible part nothing is drawn.
  EXPECT_EQ(shown.pixel(100, 50), qRgb(0, 0, 0));
  EXPECT_EQ(shown.pixel(401, 251), qRgb(0, 0, 0));
}

TEST_F(DisplayTest, VisibleRectOverviewAndItsEdges) {
  POINT s{-9, -9}, e{-9, -9};
  view.window = RECT{0, 0, 500, 400};
  camera->GetVisibleRect(&s, &e);  // no image: nothing to map
  EXPECT_EQ(s, (POINT{0, 0}));
  EXPECT_EQ(e, (POINT{0, 0}));

  Still(1000, 800, [](int x, int, int) { return x & 0xFF; });
  const struct {
    RECT window;
    POINT s, e;
  } cases[] = {
      {{0, 0, 500, 400}, {0, 0}, {1000, 800}},
      {{-250, -100, 250, 300}, {500, 200}, {1000, 800}},
      {{900, 0, 1900, 800}, {0, 0}, {6, 600}},           // wholly right of the client area
      {{-2000, 0, -1000, 800}, {999, 0}, {1000, 600}},   // wholly left: one pixel at the far edge
      {{-1000, 0, 0, 800}, {999, 0}, {1000, 600}},
      {{10, 10, 10, 10}, {0, 0}, {0, 0}},                // an empty window
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.window.left);
    view.window = c.window;
    camera->GetVisibleRect(&s, &e);
    EXPECT_EQ(s, c.s);
    EXPECT_EQ(e, c.e);
  }

  view.window = RECT{-250, -100, 250, 300};
  QImage thumb(200, 160, QImage::Format_RGB32);
  ASSERT_TRUE(camera->DrawOverview(thumb));
  POINT tl, br;
  camera->GetOverviewRect(&tl, &br);
  EXPECT_EQ(tl, (POINT{101, 41}));
  EXPECT_EQ(br, (POINT{199, 159}));
  EXPECT_EQ(thumb.pixel(150, 41), qRgb(255, 0, 0));
  EXPECT_EQ(thumb.pixel(50, 100), qRgb(250, 250, 250));  // the frame, stretched: column 250
  QImage none;
  EXPECT_FALSE(camera->DrawOverview(none));
}

TEST_F(DisplayTest, HistogramMergesChosenChannelsAndCopesWithTinyImages) {
  // 16 pixels: fewer than 85, where the divisor would be 0.
  Still(4, 4, [](int x, int, int c) { return x == 0 ? 5 : (c + 1) * 10; });
  QImage hist(512, 50, QImage::Format_RGB32);
  ASSERT_TRUE(camera->DrawHistogram(hist));
  const QRgb bg = qRgb(236, 233, 216);
  auto at = [&](int level, int y) { return hist.pixel(level * 2 + 1, y); };  // 2 columns per level
  EXPECT_EQ(at(10, 0), qRgb(0, 0, 255));
  EXPECT_EQ(at(20, 49), qRgb(0, 255, 0));
  EXPECT_EQ(at(30, 25), qRgb(255, 0, 0));
  EXPECT_EQ(at(5, 10), qRgb(255, 255, 255));  // three channels merged
  EXPECT_EQ(at(6, 10), bg);
  camera->SetHistogramChannel(3);
  ASSERT_TRUE(camera->DrawHistogram(hist));
  EXPECT_EQ(at(10, 0), bg);
  EXPECT_EQ(at(5, 10), qRgb(255, 255, 0));
  camera->SetHistogramChannel(1);
  ASSERT_TRUE(camera->DrawHistogram(hist));
  EXPECT_EQ(at(20, 49), bg);
  EXPECT_EQ(at(30, 0), qRgb(255, 0, 0));

  // Bar heights: 255000 pixels (divisor 3000), all of level 7 but one of level 8.
  Still(1000, 255, [](int x, int r, int) { return x == 0 && r == 0 ? 8 : 7; });
  QImage tall(256, 100, QImage::Format_RGB32);
  camera->SetHistogramChannel(4);
  ASSERT_TRUE(camera->DrawHistogram(tall));
  EXPECT_EQ(tall.pixel(7, 0), qRgb(0, 0, 255));
  EXPECT_EQ(tall.pixel(8, 99), bg);  // 100 / 3000 x 1 = 0.03: nothing drawn
}

}  // namespace
