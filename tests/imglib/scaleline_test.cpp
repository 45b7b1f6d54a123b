// The ruler finder on drawn stage micrometers with known tick positions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib.h"

namespace {

struct Ruler {
  int width = 800, height = 600;
  double angleDeg = 0.0;
  double pitch = 12.5;
  int ticks = 41;
  cv::Point2d origin{100.0, 300.0};  // base of tick 0
  double tickWidth = 3.0, tickLength = 28.0;
  bool darkTicks = true;
  double blur = 1.0, noise = 6.0;
  bool distractors = false;
};

cv::Point2d Axis(const Ruler& r) { return {std::cos(r.angleDeg * CV_PI / 180), std::sin(r.angleDeg * CV_PI / 180)}; }

// Draws the micrometer four times larger and reduces it, so tick edges fall between pixels.
cv::Mat Draw(const Ruler& r) {
  constexpr int kUp = 4, kShift = 4;
  cv::Mat1b big(r.height * kUp, r.width * kUp, uchar(0));
  const cv::Point2d u = Axis(r), n(-u.y, u.x);
  const auto fixed = [](cv::Point2d p) {  // small-image coordinates to fixed-point big ones
    return cv::Point(int(std::lround((kUp * (p.x + 0.5) - 0.5) * (1 << kShift))),
                     int(std::lround((kUp * (p.y + 0.5) - 0.5) * (1 << kShift))));
  };
  const auto box = [&](cv::Point2d base, double along, double lo, double hi) {
    const cv::Point pts[4] = {fixed(base - along / 2 * u + lo * n), fixed(base + along / 2 * u + lo * n),
                              fixed(base + along / 2 * u + hi * n), fixed(base - along / 2 * u + hi * n)};
    cv::fillConvexPoly(big, pts, 4, cv::Scalar(255), cv::LINE_8, kShift);
  };
  for (int k = 0; k < r.ticks; ++k) {
    const double len = k % 10 == 0 ? 2.0 * r.tickLength : k % 5 == 0 ? 1.5 * r.tickLength : r.tickLength;
    box(r.origin + k * r.pitch * u, r.tickWidth, 0.0, len);
  }
  box(r.origin + (r.ticks - 1) * r.pitch / 2 * u, (r.ticks - 1) * r.pitch + r.tickWidth, -r.tickWidth, 0.0);
  cv::Mat1b mask;
  cv::resize(big, mask, cv::Size(r.width, r.height), 0, 0, cv::INTER_AREA);
  // Other objects of the slide lie under the micrometer's ticks.
  cv::Mat1f img(r.height, r.width, float(r.darkTicks ? 200 : 40));
  if (r.distractors) {
    cv::circle(img, {650, 120}, 60, cv::Scalar(r.darkTicks ? 60 : 180), 3, cv::LINE_AA);
    cv::line(img, {40, 560}, {760, 470}, cv::Scalar(r.darkTicks ? 80 : 170), 2, cv::LINE_AA);
    cv::rectangle(img, cv::Rect(60, 60, 120, 80), cv::Scalar(r.darkTicks ? 150 : 90), cv::FILLED);
  }
  cv::Mat1f cover;
  mask.convertTo(cover, CV_32F, 1.0 / 255.0);
  const float tick = r.darkTicks ? 50.0f : 190.0f;
  img = img.mul(1.0 - cover) + tick * cover;
  if (r.blur > 0) cv::GaussianBlur(img, img, cv::Size(0, 0), r.blur);
  cv::Mat1f noise(img.size());
  cv::RNG rng(1234);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, r.noise);
  img += noise;
  cv::Mat grey, bgr;
  img.convertTo(grey, CV_8U);
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  return bgr;
}

// Length between the outermost ticks whose centres lie inside the image; fails the test
// when a tick sits so close to an edge that whether it counts is a matter of taste.
double VisibleLength(const Ruler& r) {
  const cv::Point2d u = Axis(r), n(-u.y, u.x);
  int first = -1, last = -1;
  for (int k = 0; k < r.ticks; ++k) {
    const cv::Point2d c = r.origin + k * r.pitch * u + r.tickLength / 2 * n;
    const double inside = std::min({c.x, c.y, r.width - 1 - c.x, r.height - 1 - c.y});
    EXPECT_FALSE(inside > -0.25 * r.pitch && inside < 0.45 * r.pitch) << "tick " << k << " ambiguous";
    if (inside >= 0.45 * r.pitch) {
      if (first < 0) first = k;
      last = k;
    }
  }
  return (last - first) * r.pitch;
}

float Find(cv::Mat& image, int* result) {
  float length = -1.0f;
  *result = KvImgFindScaleline(image.data, image.cols, image.rows, image.channels(), &length);
  return length;
}

}  // namespace

TEST(FindScaleline, MeasuresRulersWithinATenthOfAPercent) {
  std::vector<Ruler> cases;
  Ruler whole;  // dark ticks, slightly turned, everything in view, with other objects
  whole.angleDeg = 3.0;
  whole.distractors = true;
  cases.push_back(whole);
  Ruler bright;  // bright ticks, turned the other way, running off both sides
  bright.darkTicks = false;
  bright.angleDeg = -4.5;
  bright.pitch = 10.4;
  bright.ticks = 90;
  bright.origin = {-57.8, 330.0};
  bright.noise = 10.0;
  bright.blur = 1.5;
  cases.push_back(bright);
  Ruler steep;  // near vertical, cut at the top
  steep.angleDeg = -86.0;
  steep.pitch = 15.7;
  steep.ticks = 45;
  steep.origin = {380.0, 570.0};
  steep.tickWidth = 4.0;
  steep.tickLength = 40.0;
  cases.push_back(steep);
  Ruler large;  // a large frame, searched on a reduced copy
  large.width = 3000;
  large.height = 2000;
  large.angleDeg = 1.5;
  large.pitch = 20.2;
  large.ticks = 120;
  large.origin = {200.0, 900.0};
  large.tickWidth = 5.0;
  large.tickLength = 60.0;
  large.noise = 8.0;
  large.blur = 2.0;
  cases.push_back(large);

  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    cv::Mat image = Draw(cases[i]);
    const double expected = VisibleLength(cases[i]);
    const cv::Mat before = image.clone();
    int result = 0;
    const float length = Find(image, &result);
    ASSERT_EQ(result, KVIMG_OK);
    EXPECT_NEAR(length, expected, expected * 0.001);
    EXPECT_GT(cv::norm(image, before, cv::NORM_L1), 0.0) << "the ruler found is drawn into the image";
  }
}

TEST(FindScaleline, RefusesImagesWithoutRulerAndStaysInside) {
  cv::RNG rng(99);
  cv::Mat1b plain(480, 640, uchar(128));
  cv::Mat1f noise(plain.size());
  rng.fill(noise, cv::RNG::NORMAL, 0.0, 12.0);
  cv::Mat1f f;
  plain.convertTo(f, CV_32F);
  f += noise;
  cv::Mat1b noisy;
  f.convertTo(noisy, CV_8U);

  cv::Mat1b shapes(480, 640, uchar(0));
  for (int x = 0; x < shapes.cols; ++x) shapes.col(x).setTo(40 + x * 150 / shapes.cols);
  for (int k = 0; k < 12; ++k)
    cv::circle(shapes, {rng.uniform(0, 640), rng.uniform(0, 480)}, rng.uniform(10, 90), cv::Scalar(rng.uniform(0, 255)),
               rng.uniform(1, 4), cv::LINE_AA);
  for (int k = 0; k < 5; ++k)
    cv::line(shapes, {rng.uniform(0, 640), rng.uniform(0, 480)}, {rng.uniform(0, 640), rng.uniform(0, 480)},
             cv::Scalar(rng.uniform(0, 255)), 2, cv::LINE_AA);

  cv::Mat1f speckle(480, 640);
  rng.fill(speckle, cv::RNG::UNIFORM, 0.0, 255.0);
  cv::GaussianBlur(speckle, speckle, cv::Size(0, 0), 3.0);
  cv::normalize(speckle, speckle, 0, 255, cv::NORM_MINMAX);
  cv::Mat1b texture;
  speckle.convertTo(texture, CV_8U);

  for (const cv::Mat1b& grey : {noisy, shapes, texture}) {
    cv::Mat image;
    cv::cvtColor(grey, image, cv::COLOR_GRAY2BGR);
    int result = 0;
    const float length = Find(image, &result);
    EXPECT_EQ(result, KVIMG_E_NOT_FOUND);
    EXPECT_EQ(length, 0.0f);
  }

  // Drawing keeps to the image: a guard after the pixels is left alone.
  Ruler r;
  r.angleDeg = 2.0;
  r.origin = {-43.5, 300.0};
  r.ticks = 75;
  const cv::Mat drawn = Draw(r);
  std::vector<unsigned char> buffer(drawn.total() * 3 + 4096, 0xA5);
  std::copy(drawn.data, drawn.data + drawn.total() * 3, buffer.begin());
  float length = 0.0f;
  EXPECT_EQ(KvImgFindScaleline(buffer.data(), drawn.cols, drawn.rows, 3, &length), KVIMG_OK);
  EXPECT_TRUE(std::all_of(buffer.end() - 4096, buffer.end(), [](unsigned char b) { return b == 0xA5; }));
  EXPECT_EQ(KvImgFindScaleline(nullptr, 640, 480, 3, &length), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgFindScaleline(buffer.data(), 640, 480, 2, &length), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgFindScaleline(buffer.data(), 640, 480, 3, nullptr), KVIMG_E_ARGUMENT);
}
