// What the program writes as pictures shows the measurements as drawn, never the marks the
// screen adds to the one under the mouse (its handles, the selection frame).
#include <QImage>

#include "camera/CameraReport.h"
#include "tests/app/app_support.h"
#include "tests/office/office_reader.h"

namespace {

// The grey of the still's ramp at column x (ShowStill).
int RampAt(int x, int w) { return x * 255 / (w - 1); }

// Whether the pixels at the corners of a handle around (x, y) show the image under them.
::testing::AssertionResult NoHandleAt(const QImage& picture, int x, int y, int w, int tolerance) {
  for (const QPoint c : {QPoint(x - 5, y - 5), QPoint(x + 5, y - 5), QPoint(x - 5, y + 5), QPoint(x + 5, y + 5)}) {
    const QRgb px = picture.pixel(c);
    const int grey = RampAt(c.x(), w);
    if (std::abs(qRed(px) - grey) > tolerance || std::abs(qGreen(px) - grey) > tolerance ||
        std::abs(qBlue(px) - grey) > tolerance)
      return ::testing::AssertionFailure() << "a mark at " << c.x() << "," << c.y() << ": " << qRed(px) << " "
                                           << qGreen(px) << " " << qBlue(px) << " over grey " << grey;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(FrameTest, SavedCapturedAndReportedPicturesCarryNoSelectionMarks) {
  constexpr int W = 400, H = 300;
  ShowStill(W, H);
  // A line drawn with the mouse: once drawn it is selected, and the pointer rests on its end.
  frame().Router().Execute(ids::kLine);
  Click(ClientOf(60, 150));
  Click(ClientOf(300, 150));
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  QTest::mouseMove(&view(), ClientOf(300, 150));
  QApplication::processEvents();

  // Save as.
  const QString saved = dir_.filePath("saved.bmp");
  QString error;
  ASSERT_TRUE(view().SaveBitmapFile(saved, &error)) << error.toStdString();
  // A capture with the measurements drawn in.
  ASSERT_EQ(camera().SaveImageBmp(dir_.filePath("captured").toStdU16String()), 1);
  // A report.
  SetReportOpener([](const QString&) { return true; });
  stCaptureSetting cs;
  camera().GetCaptureSetting(&cs);
  cs.imageFolder = dir_.filePath("reports").toStdU16String();
  camera().SetCaptureSetting(cs);
  const auto report = camera().ExportWordReport();
  SetReportOpener(nullptr);
  ASSERT_TRUE(report.ok()) << ToUtf8(report.message);
  const office_test::Parts parts = office_test::ReadZip(std::filesystem::path(ToUtf8(report.path)));
  const std::string& jpeg = parts.at("word/media/q7v_image1.jpeg");
  const QImage reported = QImage::fromData(reinterpret_cast<const uchar*>(jpeg.data()), qsizetype(jpeg.size()), "JPEG");

  const std::pair<const char*, QImage> pictures[] = {
      {"saved", QImage(saved)}, {"captured", QImage(dir_.filePath("captured.bmp"))}, {"reported", reported}};
  for (const auto& [what, picture] : pictures) {
    ASSERT_EQ(picture.size(), QSize(W, H)) << what;
    const int tolerance = picture.cacheKey() == reported.cacheKey() ? 12 : 1;  // the JPEG's small losses
    EXPECT_TRUE(NoHandleAt(picture, 60, 150, W, tolerance)) << what;
    EXPECT_TRUE(NoHandleAt(picture, 300, 150, W, tolerance)) << what;
    // The line itself is there.
    const QRgb mid = picture.pixel(180, 150);
    EXPECT_GT(std::abs(qRed(mid) - qGreen(mid)) + std::abs(qGreen(mid) - qBlue(mid)), 60) << what;
  }
}
