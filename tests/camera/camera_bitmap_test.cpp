// The 24-bit bitmap reader and writer: round trips of awkward sizes, top-down files, files
// from another writer, pictures written as the frame buffer's rows, malformed files refused with
// the output untouched, and thumbnails.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <climits>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "camera/BitmapFile.h"
#include "tests/textured_sample.h"

namespace {

std::vector<std::uint8_t> Pattern(int w, int h) {
  std::vector<std::uint8_t> p(std::size_t(w) * h * 3);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = std::uint8_t(i * 7 + i / 3);
  return p;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

void Put32(QByteArray& b, int at, std::int32_t v) { std::memcpy(b.data() + at, &v, 4); }
void Put16(QByteArray& b, int at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

class BitmapFileTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir.filePath(name); }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(BitmapFileTest, OddWidthsRoundTripWithPaddedRows) {
  for (int w : {1, 2, 3, 4, 5, 7, 33}) {
    const int h = 3 + w % 4;
    const auto pixels = Pattern(w, h);
    const QString path = Path(QString("w%1.bmp").arg(w));
    ASSERT_EQ(WriteBitmapFile(path, pixels.data(), w, h), BitmapStatus::Ok);

    const QByteArray bytes = ReadAll(path);
    const int stride = (3 * w + 3) & ~3;
    ASSERT_EQ(bytes.size(), 54 + stride * h) << w;
    std::uint32_t fileSize = 0;
    std::memcpy(&fileSize, bytes.data() + 2, 4);
    EXPECT_EQ(fileSize, std::uint32_t(bytes.size()));
    for (int r = 0; r < h; ++r)  // padding is zero
      for (int k = 3 * w; k < stride; ++k) EXPECT_EQ(bytes[54 + r * stride + k], 0);

    BitmapImage image;
    ASSERT_EQ(ReadBitmapFile(path, &image), BitmapStatus::Ok);
    EXPECT_EQ(image.format, MakeFrameFormat(w, h));
    EXPECT_EQ(image.pixels, pixels) << w;

    // Another writer's file of that size reads the same picture.
    const cv::Mat picture = TexturedSample(w, h, w);
    const QString cvPath = Path(QString("cv%1.bmp").arg(w));
    ASSERT_TRUE(cv::imwrite(cvPath.toStdString(), picture));
    ASSERT_EQ(ReadBitmapFile(cvPath, &image), BitmapStatus::Ok);
    cv::Mat flipped;
    cv::flip(picture, flipped, 0);
    EXPECT_EQ(0, std::memcmp(image.pixels.data(), flipped.data, image.pixels.size())) << w;
  }
}

TEST_F(BitmapFileTest, TopDownFilesAndStoredPixelOffsetsReadTheRightWayUp) {
  const int w = 5, h = 4;
  const auto pixels = Pattern(w, h);
  ASSERT_EQ(WriteBitmapFile(Path("up.bmp"), pixels.data(), w, h), BitmapStatus::Ok);
  const QByteArray up = ReadAll(Path("up.bmp"));
  const int stride = 16;

  // The same picture stored top-down: negative height, rows in reverse order.
  QByteArray down = up.left(54);
  Put32(down, 22, -h);
  for (int r = h - 1; r >= 0; --r) down += up.mid(54 + r * stride, stride);
  WriteAll(Path("down.bmp"), down);
  BitmapImage image;
  ASSERT_EQ(ReadBitmapFile(Path("down.bmp"), &image), BitmapStatus::Ok);
  EXPECT_EQ(image.format, MakeFrameFormat(w, h));
  EXPECT_EQ(image.pixels, pixels);

  // A colour table or larger header in front of the pixels: the stored offset is followed.
  QByteArray gap = up.left(54) + QByteArray(70, '\x7f') + up.mid(54);
  Put32(gap, 10, 54 + 70);
  WriteAll(Path("gap.bmp"), gap);
  ASSERT_EQ(ReadBitmapFile(Path("gap.bmp"), &image), BitmapStatus::Ok);
  EXPECT_EQ(image.pixels, pixels);

  // Written back, the top-down file becomes an ordinary bottom-up one.
  ASSERT_EQ(WriteBitmapFile(Path("again.bmp"), image), BitmapStatus::Ok);
  EXPECT_EQ(ReadAll(Path("again.bmp")), up);
}

TEST_F(BitmapFileTest, PicturesWriteTheBytesOfTheirFrameBufferRows) {
  for (int w : {1, 3, 4, 7}) {
    const int h = 5;
    // The frame buffer's rows (bottom-up BGR) and the same picture top row first.
    const auto pixels = Pattern(w, h);
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = pixels.data() + (std::size_t(h - 1 - y) * w + x) * 3;
        picture.setPixel(x, y, qRgb(p[2], p[1], p[0]));
      }
    ASSERT_EQ(WriteBitmapFile(Path("rows.bmp"), pixels.data(), w, h), BitmapStatus::Ok);
    ASSERT_EQ(WriteBitmapFile(Path("picture.bmp"), picture), BitmapStatus::Ok);
    EXPECT_EQ(ReadAll(Path("picture.bmp")), ReadAll(Path("rows.bmp"))) << w;
    // Another format is taken as the colours it shows.
    ASSERT_EQ(WriteBitmapFile(Path("rgb888.bmp"), picture.convertToFormat(QImage::Format_RGB888)), BitmapStatus::Ok);
    EXPECT_EQ(ReadAll(Path("rgb888.bmp")), ReadAll(Path("rows.bmp"))) << w;
  }

  // A frame's format: its image size, resolution and colour counts are kept; what makes the file
  // a 24-bit uncompressed one of the picture's size is not taken from it.
  BITMAPINFOHEADER info;
  info.biSize = 12;
  info.biWidth = 99;
  info.biHeight = -1;
  info.biBitCount = 8;
  info.biCompression = 1;
  info.biSizeImage = 0x01020304;
  info.biXPelsPerMeter = 3780;
  info.biYPelsPerMeter = -2;
  info.biClrUsed = 7;
  info.biClrImportant = 9;
  QImage picture(3, 2, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  ASSERT_EQ(WriteBitmapFile(Path("info.bmp"), picture, info), BitmapStatus::Ok);
  const QByteArray b = ReadAll(Path("info.bmp"));
  ASSERT_EQ(b.size(), 54 + 12 * 2);
  const auto u32 = [&](int at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  };
  EXPECT_EQ(u32(2), 78u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 3u);
  EXPECT_EQ(u32(22), 2u);
  EXPECT_EQ(u32(26), 1u | (24u << 16));
  EXPECT_EQ(u32(30), 0u);
  EXPECT_EQ(u32(34), 0x01020304u);
  EXPECT_EQ(u32(38), 3780u);
  EXPECT_EQ(u32(42), std::uint32_t(-2));
  EXPECT_EQ(u32(46), 7u);
  EXPECT_EQ(u32(50), 9u);
  EXPECT_EQ(std::uint8_t(b[54]), 3);
  EXPECT_EQ(std::uint8_t(b[56]), 1);

  EXPECT_EQ(WriteBitmapFile(Path("null.bmp"), QImage()), BitmapStatus::BadHeader);
  EXPECT_FALSE(QFile::exists(Path("null.bmp")));
}

TEST_F(BitmapFileTest, MalformedFilesAreRefusedAndTheOutputKept) {
  const int w = 6, h = 5;
  const auto pixels = Pattern(w, h);
  ASSERT_EQ(WriteBitmapFile(Path("good.bmp"), pixels.data(), w, h), BitmapStatus::Ok);
  const QByteArray good = ReadAll(Path("good.bmp"));

  struct Case {
    const char* name;
    std::function<void(QByteArray&)> spoil;
    BitmapStatus expected;
  };
  const std::vector<Case> cases = {
      {"signature", [](QByteArray& b) { b[0] = 'X'; }, BitmapStatus::NotBitmap},
      {"short header", [](QByteArray& b) { b.truncate(40); }, BitmapStatus::NotBitmap},
      {"empty", [](QByteArray& b) { b.clear(); }, BitmapStatus::NotBitmap},
      {"pixels cut", [](QByteArray& b) { b.chop(1); }, BitmapStatus::Truncated},
      {"height lies", [](QByteArray& b) { Put32(b, 22, 6); }, BitmapStatus::Truncated},
      {"width lies", [](QByteArray& b) { Put32(b, 18, 9); }, BitmapStatus::Truncated},
      {"offset past end", [](QByteArray& b) { Put32(b, 10, 1 << 30); }, BitmapStatus::Truncated},
      {"offset inside header", [](QByteArray& b) { Put32(b, 10, 20); }, BitmapStatus::BadHeader},
      {"huge", [](QByteArray& b) { Put32(b, 18, 65536); Put32(b, 22, 65536); }, BitmapStatus::TooLarge},
      {"overflowing", [](QByteArray& b) { Put32(b, 18, INT_MAX); Put32(b, 22, INT_MAX); }, BitmapStatus::TooLarge},
      {"most negative height", [](QByteArray& b) { Put32(b, 22, INT_MIN); }, BitmapStatus::TooLarge},
      {"zero width", [](QByteArray& b) { Put32(b, 18, 0); }, BitmapStatus::BadHeader},
      {"negative width", [](QByteArray& b) { Put32(b, 18, -6); }, BitmapStatus::BadHeader},
      {"zero height", [](QByteArray& b) { Put32(b, 22, 0); }, BitmapStatus::BadHeader},
      {"8 bits", [](QByteArray& b) { Put16(b, 28, 8); }, BitmapStatus::Unsupported},
      {"32 bits", [](QByteArray& b) { Put16(b, 28, 32); }, BitmapStatus::Unsupported},
      {"compressed", [](QByteArray& b) { Put32(b, 30, 1); }, BitmapStatus::Unsupported},
      {"two planes", [](QByteArray& b) { Put16(b, 26, 2); }, BitmapStatus::BadHeader},
      {"core header", [](QByteArray& b) { Put32(b, 14, 12); }, BitmapStatus::BadHeader},
  };
  const auto kept = Pattern(2, 2);
  for (const Case& c : cases) {
    QByteArray bytes = good;
    c.spoil(bytes);
    const QString path = Path("bad.bmp");
    WriteAll(path, bytes);
    BitmapImage out;
    out.format = MakeFrameFormat(2, 2);
    out.pixels = kept;
    EXPECT_EQ(ReadBitmapFile(path, &out), c.expected) << c.name;
    EXPECT_EQ(out.format, MakeFrameFormat(2, 2)) << c.name;
    EXPECT_EQ(out.pixels, kept) << c.name;
    QImage thumb(1, 1, QImage::Format_RGB32);
    EXPECT_EQ(ReadBitmapThumbnail(path, 4, 4, &thumb), c.expected) << c.name;
    EXPECT_EQ(thumb.size(), QSize(1, 1)) << c.name;
  }
  BitmapImage out;
  EXPECT_EQ(ReadBitmapFile(Path("missing.bmp"), &out), BitmapStatus::OpenFailed);
  EXPECT_TRUE(out.pixels.empty());
}

TEST_F(BitmapFileTest, FailedWritesLeaveNoFileAndKeepTheOldOne) {
  const auto pixels = Pattern(3, 3);
  const QString nowhere = Path("no/such/folder/x.bmp");
  EXPECT_EQ(WriteBitmapFile(nowhere, pixels.data(), 3, 3), BitmapStatus::WriteFailed);
  EXPECT_FALSE(QFile::exists(nowhere));
  EXPECT_EQ(WriteBitmapFile(Path("x.bmp"), nullptr, 3, 3), BitmapStatus::BadHeader);
  EXPECT_EQ(WriteBitmapFile(Path("x.bmp"), pixels.data(), 0, 3), BitmapStatus::BadHeader);
  EXPECT_FALSE(QFile::exists(Path("x.bmp")));

  // Replacing a file goes through a temporary one: afterwards only the new file is there.
  ASSERT_EQ(WriteBitmapFile(Path("x.bmp"), pixels.data(), 3, 3), BitmapStatus::Ok);
  const auto other = Pattern(4, 2);
  ASSERT_EQ(WriteBitmapFile(Path("x.bmp"), other.data(), 4, 2), BitmapStatus::Ok);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"x.bmp"});
  BitmapImage image;
  ASSERT_EQ(ReadBitmapFile(Path("x.bmp"), &image), BitmapStatus::Ok);
  EXPECT_EQ(image.pixels, other);

  // A read-only target is not harmed (permissions mean nothing to the superuser).
  if (geteuid() == 0) return;
  QFile::setPermissions(Path("x.bmp"), QFile::ReadOwner);
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_EQ(WriteBitmapFile(Path("x.bmp"), pixels.data(), 3, 3), BitmapStatus::WriteFailed);
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  ASSERT_EQ(ReadBitmapFile(Path("x.bmp"), &image), BitmapStatus::Ok);
  EXPECT_EQ(image.pixels, other);
}

TEST_F(BitmapFileTest, ThumbnailsSampleThePictureTheRightWayUp) {
  // Four solid quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
  cv::Mat picture(300, 400, CV_8UC3);
  picture(cv::Rect(0, 0, 200, 150)).setTo(cv::Scalar(0, 0, 255));
  picture(cv::Rect(200, 0, 200, 150)).setTo(cv::Scalar(0, 255, 0));
  picture(cv::Rect(0, 150, 200, 150)).setTo(cv::Scalar(255, 0, 0));
  picture(cv::Rect(200, 150, 200, 150)).setTo(cv::Scalar(255, 255, 255));
  ASSERT_TRUE(cv::imwrite(Path("q.bmp").toStdString(), picture));
  BitmapImage image;
  ASSERT_EQ(ReadBitmapFile(Path("q.bmp"), &image), BitmapStatus::Ok);
  // And a top-down copy of it.
  QByteArray down = ReadAll(Path("q.bmp")).left(54);
  Put32(down, 22, -300);
  cv::Mat flipped;
  cv::flip(picture, flipped, 0);
  for (int r = 299; r >= 0; --r) down += QByteArray(reinterpret_cast<const char*>(flipped.ptr(r)), 1200);
  WriteAll(Path("qdown.bmp"), down);

  for (const char* name : {"q.bmp", "qdown.bmp"}) {
    QImage thumb;
    ASSERT_EQ(ReadBitmapThumbnail(Path(name), 120, 90, &thumb), BitmapStatus::Ok);
    ASSERT_EQ(thumb.size(), QSize(120, 90));
    EXPECT_EQ(thumb.pixel(10, 10), qRgb(255, 0, 0)) << name;
    EXPECT_EQ(thumb.pixel(110, 10), qRgb(0, 255, 0)) << name;
    EXPECT_EQ(thumb.pixel(10, 80), qRgb(0, 0, 255)) << name;
    EXPECT_EQ(thumb.pixel(110, 80), qRgb(255, 255, 255)) << name;
  }
  // Smaller than the thumbnail: every pixel is still taken from the picture.
  QImage tiny;
  const auto one = std::vector<std::uint8_t>{10, 20, 30};
  ASSERT_EQ(WriteBitmapFile(Path("one.bmp"), one.data(), 1, 1), BitmapStatus::Ok);
  ASSERT_EQ(ReadBitmapThumbnail(Path("one.bmp"), 120, 1, &tiny), BitmapStatus::Ok);
  EXPECT_EQ(tiny.pixel(119, 0), qRgb(30, 20, 10));
}
