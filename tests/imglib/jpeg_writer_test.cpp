#include "platform/imglib/jpeg_writer.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Smooth gradients with a little texture: the encoder's every path, and a decode that can be
// compared with the source.
cv::Mat Picture(int w, int h, int channels) {
  cv::Mat m(h, w, CV_8UC(channels));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = m.ptr<std::uint8_t>(y) + std::size_t(x) * channels;
      p[0] = std::uint8_t((x * 255) / w);
      p[1] = std::uint8_t((y * 255) / h);
      p[2] = std::uint8_t(((x + y) * 7) & 0x3F) + 96;
      if (channels == 4) p[3] = std::uint8_t(x * 31 + y);  // ignored by the encoder
    }
  return m;
}

imglib::JpegSource Source(const cv::Mat& m) {
  return {m.data, m.cols, m.rows, m.step[0], m.channels() == 3 ? imglib::JpegPixels::Bgr : imglib::JpegPixels::Bgrx};
}

TEST(JpegWriter, BandsJoinIntoTheBytesOfOnePieceAndDecodeToThePicture) {
  // Odd sizes, a padded stride, both layouts; band counts that wrap the restart numbers past
  // eight and that exceed the MCU rows.
  for (const int channels : {3, 4}) {
    cv::Mat padded = Picture(1001 + 5, 517, channels);
    const cv::Mat picture = padded.colRange(0, 1001);
    std::string whole;
    ASSERT_TRUE(imglib::EncodeJpeg(Source(picture), 95, &whole, 1));
    for (const int bands : {2, 3, 7, 11, 33, 1000}) {
      std::string banded;
      ASSERT_TRUE(imglib::EncodeJpeg(Source(picture), 95, &banded, bands));
      EXPECT_EQ(banded, whole) << channels << " channels, " << bands << " bands";
    }
    const cv::Mat decoded = cv::imdecode(cv::Mat(1, int(whole.size()), CV_8U, whole.data()), cv::IMREAD_COLOR);
    ASSERT_EQ(decoded.size(), cv::Size(1001, 517));
    cv::Mat bgr;
    if (channels == 4) cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
    else bgr = picture;
    EXPECT_GT(cv::PSNR(decoded, bgr), 30.0) << channels << " channels";
  }
}

TEST(JpegWriter, ChoosesBandsForALargePictureAndKeepsItsColours) {
  cv::Mat red(1200, 1600, CV_8UC4, cv::Scalar(0, 0, 255, 0));
  std::string out;
  ASSERT_TRUE(imglib::EncodeJpeg(Source(red), 90, &out));
  const cv::Mat decoded = cv::imdecode(cv::Mat(1, int(out.size()), CV_8U, out.data()), cv::IMREAD_COLOR);
  ASSERT_EQ(decoded.size(), cv::Size(1600, 1200));
  const cv::Scalar mean = cv::mean(decoded);
  EXPECT_LT(mean[0], 8);
  EXPECT_LT(mean[1], 8);
  EXPECT_GT(mean[2], 245);
}

TEST(JpegWriter, RefusesABadSource) {
  std::string out;
  std::uint8_t px[12] = {};
  EXPECT_FALSE(imglib::EncodeJpeg({nullptr, 2, 2, 6, imglib::JpegPixels::Bgr}, 95, &out));
  EXPECT_FALSE(imglib::EncodeJpeg({px, 0, 2, 6, imglib::JpegPixels::Bgr}, 95, &out));
  EXPECT_FALSE(imglib::EncodeJpeg({px, 2, 2, 5, imglib::JpegPixels::Bgr}, 95, &out));
  EXPECT_FALSE(imglib::EncodeJpeg({px, 2, 2, 6, imglib::JpegPixels::Bgr}, 95, nullptr));
  EXPECT_TRUE(imglib::EncodeJpeg({px, 2, 2, 6, imglib::JpegPixels::Bgr}, 95, &out));
}

}  // namespace
