// Stitching and depth-of-field fusion on images made here.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib.h"
#include "tests/textured_sample.h"

namespace {


KvImgImage Desc(cv::Mat& m) { return KvImgImage{m.data, m.cols, m.rows, m.channels()}; }

}  // namespace

TEST(Mosaic, StitchesOverlappingCropsBackIntoTheOriginal) {
  const cv::Mat original = TexturedSample(480, 320, 7);
  cv::Mat left = original(cv::Rect(0, 0, 300, 320)).clone();
  cv::Mat right = original(cv::Rect(180, 0, 300, 320)).clone();
  const KvImgImage tiles[2] = {Desc(left), Desc(right)};
  // Room for twice the original, told through the preset size.
  std::vector<unsigned char> buffer(std::size_t(original.total() * 3 * 2));
  KvImgImage result{buffer.data(), original.cols, original.rows * 2, 3};
  ASSERT_EQ(KvImgMosaic(tiles, 2, &result, 1), KVIMG_OK);
  EXPECT_NEAR(result.width, original.cols, 4);
  EXPECT_NEAR(result.height, original.rows, 4);

  // The mosaic shows the sample: its middle found in the result where it belongs.
  const cv::Mat mosaic(result.height, result.width, CV_8UC3, buffer.data());
  const cv::Mat middle = original(cv::Rect(140, 60, 200, 200));
  cv::Mat score;
  cv::matchTemplate(mosaic, middle, score, cv::TM_CCOEFF_NORMED);
  double best = 0.0;
  cv::Point at;
  cv::minMaxLoc(score, nullptr, &best, nullptr, &at);
  EXPECT_GT(best, 0.9);
  EXPECT_NEAR(at.x, 140, 4);
  EXPECT_NEAR(at.y, 60, 4);
}

TEST(Mosaic, FailsCleanlyWithoutOverlapOrRoom) {
  const cv::Mat original = TexturedSample(600, 300, 11);
  cv::Mat a = original(cv::Rect(0, 0, 250, 300)).clone();
  cv::Mat b = original(cv::Rect(350, 0, 250, 300)).clone();
  const KvImgImage apart[2] = {Desc(a), Desc(b)};
  // A small result buffer with a guard after it: the preset size says how much room there is.
  constexpr std::size_t kGuard = 4096;
  std::vector<unsigned char> buffer(100 * 100 * 3 + kGuard, 0xA5);
  KvImgImage result{buffer.data(), 100, 100, 3};
  EXPECT_NE(KvImgMosaic(apart, 2, &result, 1), KVIMG_OK);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char v) { return v == 0xA5; }));
  EXPECT_EQ(result.width, 100);
  EXPECT_EQ(result.height, 100);

  // Overlapping tiles whose mosaic is larger than the room: refused, nothing written.
  cv::Mat c = original(cv::Rect(0, 0, 360, 300)).clone();
  cv::Mat d = original(cv::Rect(240, 0, 360, 300)).clone();
  const KvImgImage overlapping[2] = {Desc(c), Desc(d)};
  EXPECT_EQ(KvImgMosaic(overlapping, 2, &result, 1), KVIMG_E_CAPACITY);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char v) { return v == 0xA5; }));

  EXPECT_EQ(KvImgMosaic(overlapping, 1, &result, 1), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgMosaic(overlapping, 2, nullptr, 1), KVIMG_E_ARGUMENT);
}

TEST(Fusion, PicksTheSharpHalfOfEachImage) {
  const cv::Mat sharp = TexturedSample(240, 160, 3);
  cv::Mat blurred;
  cv::GaussianBlur(sharp, blurred, cv::Size(0, 0), 3.0);
  const cv::Rect leftHalf(0, 0, 120, 160), rightHalf(120, 0, 120, 160);
  cv::Mat nearFocus = sharp.clone(), farFocus = sharp.clone();
  blurred(leftHalf).copyTo(nearFocus(leftHalf));  // sharp on the right
  blurred(rightHalf).copyTo(farFocus(rightHalf));  // sharp on the left

  cv::Mat fused(sharp.size(), CV_8UC3);
  ASSERT_EQ(KvImgFusion(Desc(nearFocus), Desc(farFocus), Desc(fused), 1), KVIMG_OK);
  // Away from the seam the result is the sharp picture, far closer to it than either input.
  for (const cv::Rect inner : {cv::Rect(10, 10, 95, 140), cv::Rect(135, 10, 95, 140)}) {
    const double fusedError = cv::norm(fused(inner), sharp(inner), cv::NORM_L1) / inner.area();
    const double blurError = cv::norm(blurred(inner), sharp(inner), cv::NORM_L1) / inner.area();
    EXPECT_LT(fusedError, 0.1 * blurError);
  }

  // The dialog fuses into the accumulated image itself.
  cv::Mat accumulated = nearFocus.clone();
  ASSERT_EQ(KvImgFusion(Desc(accumulated), Desc(farFocus), Desc(accumulated), 1), KVIMG_OK);
  EXPECT_EQ(cv::norm(accumulated, fused, cv::NORM_INF), 0.0);

  cv::Mat other(100, 100, CV_8UC3, cv::Scalar(0));
  EXPECT_EQ(KvImgFusion(Desc(nearFocus), Desc(other), Desc(fused), 1), KVIMG_E_ARGUMENT);
}
