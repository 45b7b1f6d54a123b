// The ISP against a plain step-by-step rendering of the same tables: per-site table lookup of the
// mirrored frame, sharpening of the whole plane, OpenCV's demosaic of the whole plane, the
// colour matrix. However the ISP is arranged for speed, it must give the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/core.h"
#include "platform/camsdk/device.h"

namespace {

int Site(int pattern, int x, int y) {
  static const int kSites[5][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}};
  return kSites[pattern][(y & 1) * 2 + (x & 1)];
}

int Code(int c00, int c10) {  // from the top-left two sites of the plane
  if (c00 == 1) return c10 == 0 ? cv::COLOR_BayerGB2BGR : cv::COLOR_BayerGR2BGR;
  return c00 == 0 ? cv::COLOR_BayerBG2BGR : cv::COLOR_BayerRG2BGR;
}

std::vector<std::uint8_t> Reference(const camsdk::IspTables& t, const std::vector<std::uint8_t>& raw, int pattern,
                                    bool wide, int W, int H) {
  cv::Mat plane(H, W, CV_8U);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int sy = t.flipV ? H - 1 - y : y, sx = t.flipH ? W - 1 - x : x;
      const std::size_t i = std::size_t(sy) * W + sx;
      const int c = Site(pattern, sx, sy);
      plane.at<std::uint8_t>(y, x) = wide ? t.lut12[c * 4096 + ((raw[2 * i] | (raw[2 * i + 1] << 8)) & 0xFFF)]
                                          : t.lut8[c][raw[i]];
    }
  const bool mono = pattern == CAMSDK_PATTERN_MONO;
  if (t.sharpen > 0) {
    const int a = int(std::lround(std::min(t.sharpen, 2.0f) * 16.0f)), step = mono ? 1 : 2;
    cv::Mat s = plane.clone();
    for (int y = 0; y < H; ++y)
      for (int x = step; x < W - step; ++x) {
        const int m = plane.at<std::uint8_t>(y, x);
        const int lap = 4 * m - plane.at<std::uint8_t>(y >= step ? y - step : y, x) -
                        plane.at<std::uint8_t>(y + step < H ? y + step : y, x) - plane.at<std::uint8_t>(y, x - step) -
                        plane.at<std::uint8_t>(y, x + step);
        s.at<std::uint8_t>(y, x) = std::uint8_t(std::clamp(m + ((a * lap) >> 6), 0, 255));
      }
    plane = s;
  }
  const int sx0 = t.flipH ? W - 1 : 0, sx1 = t.flipH ? W - 2 : 1, sy0 = t.flipV ? H - 1 : 0;
  cv::Mat bgr;
  cv::cvtColor(plane, bgr, mono ? cv::COLOR_GRAY2BGR : Code(Site(pattern, sx0, sy0), Site(pattern, sx1, sy0)));
  if (t.applyMatrix) cv::transform(bgr, bgr, cv::Mat(3, 3, CV_32F, const_cast<float*>(t.bgrMatrix.data())));
  return std::vector<std::uint8_t>(bgr.data, bgr.data + bgr.total() * 3);
}

// A 64 x 64 model of one sensor pattern and one media type (which must outlive it).
camsdk::ModelInfo TestModel(const char* key, int id, bool color, int pattern, const CamSdkMediaType* media) {
  static const CamSdkResolution res[] = {{0, "x", 64, 64, 0, 1}};
  return {key, "Test", "Test 1", "1", id, color, pattern, 64, 64, res, 1, media, 1, 1, {100, 100, 100}, 100000,
          2, 2, 2, 2, 64, 64, 0};
}

// RunIsp against the reference for one raw frame of random samples; the position of the first
// differing byte, or the output size when all agree.
std::size_t FirstDifference(const camsdk::IspTables& t, int pattern, bool wide, int W, int H, std::mt19937& rng) {
  std::vector<std::uint8_t> raw(std::size_t(W) * H * (wide ? 2 : 1));
  for (auto& b : raw) b = std::uint8_t(rng());
  CamSdkFrameInfo info{};
  info.format = CamSdkRawFormat(pattern, wide ? 12 : 8);
  info.width = W;
  info.height = H;
  info.bytes = int(raw.size());
  std::vector<std::uint8_t> out(std::size_t(W) * H * 3);
  if (!camsdk::RunIsp(t, raw.data(), info, out.data())) return 0;
  const auto ref = Reference(t, raw, pattern, wide, W, H);
  std::size_t first = 0;
  while (first < out.size() && out[first] == ref[first]) ++first;
  return first;
}

TEST(Isp, StripedPipelineEqualsTheStepByStepOne) {
  static const CamSdkMediaType media[] = {{0, "RAW8", CAMSDK_RAW_RGGB8}};
  const camsdk::ModelInfo model = TestModel("color", 200, true, CAMSDK_PATTERN_RGGB, media);
  // Settings: everything on; sharpening alone; the matrix alone (saturation, monochrome); the
  // strongest sharpening with inversion.
  std::vector<camsdk::Params> settings(4, camsdk::FactoryParams(model));
  {
    auto& p = settings[0];
    p.gamma = 60, p.contrast = 140, p.colorEnhance = 1, p.saturation = 170, p.edgeOn = 1, p.edgeGain = 60;
    p.blackState = 1, p.blackR = 8, p.blackG = -4, p.blackB = 12, p.matrixSel = 1, p.mirrorH = 1, p.mirrorV = 1;
  }
  settings[1].edgeOn = 1, settings[1].edgeGain = 35, settings[1].mirrorV = 1;
  settings[2].colorEnhance = 1, settings[2].saturation = 30, settings[2].monochrome = 1, settings[2].mirrorH = 1;
  settings[3].edgeOn = 1, settings[3].edgeGain = 100, settings[3].inverse = 1, settings[3].matrixSel = 2;

  // Odd and even sizes; wide frames give short stripes, so several of them and a remainder.
  const int sizes[][2] = {{1001, 203}, {4099, 65}, {4098, 97}, {333, 64}, {127, 63}};
  std::mt19937 rng(7);
  for (int pattern = CAMSDK_PATTERN_GRBG; pattern <= CAMSDK_PATTERN_BGGR; ++pattern) {
    for (const bool wide : {false, true}) {
      for (const auto& sz : sizes) {
        const int W = sz[0], H = sz[1];
        for (std::size_t k = 0; k < settings.size(); ++k) {
          SCOPED_TRACE(testing::Message() << "pattern " << pattern << (wide ? " 12-bit " : " 8-bit ") << W << "x"
                                          << H << " settings " << k);
          const auto tables = camsdk::BuildIspTables(model, settings[k]);
          const std::size_t first = FirstDifference(*tables, pattern, wide, W, H, rng);
          EXPECT_EQ(first, std::size_t(W) * H * 3) << "first difference at row " << first / (3 * W) << " column "
                                                   << first % (3 * W) / 3;
        }
      }
    }
  }
}

// Settings for the extra cases: everything on; sharpening alone, mirrored; the tables alone,
// mirrored.
std::vector<camsdk::Params> EdgeSettings(const camsdk::ModelInfo& model) {
  std::vector<camsdk::Params> settings(3, camsdk::FactoryParams(model));
  auto& p = settings[0];
  p.gamma = 60, p.contrast = 140, p.colorEnhance = 1, p.saturation = 170, p.edgeOn = 1, p.edgeGain = 60;
  p.blackState = 1, p.blackR = 8, p.blackG = -4, p.blackB = 12, p.matrixSel = 1, p.mirrorH = 1, p.mirrorV = 1;
  settings[1].edgeOn = 1, settings[1].edgeGain = 100, settings[1].mirrorH = 1, settings[1].mirrorV = 1;
  settings[2].gamma = 60, settings[2].inverse = 1, settings[2].mirrorH = 1, settings[2].mirrorV = 1;
  return settings;
}

// Frames only a few rows high, where the work is split into bands of two or three rows and
// the last one may be the shortest possible; one and two rows, which the demosaic fills as
// borders only; and a frame of a real camera's size, in many bands.
TEST(Isp, ShortFramesAndBandEdgesEqualTheStepByStepOne) {
  static const CamSdkMediaType media[] = {{0, "RAW8", CAMSDK_RAW_RGGB8}};
  const camsdk::ModelInfo model = TestModel("color", 200, true, CAMSDK_PATTERN_RGGB, media);
  const auto settings = EdgeSettings(model);
  std::mt19937 rng(11);
  for (int pattern = CAMSDK_PATTERN_GRBG; pattern <= CAMSDK_PATTERN_BGGR; ++pattern) {
    for (const bool wide : {false, true}) {
      for (const int W : {5, 6, 131}) {
        for (int H = 1; H <= 26; ++H) {
          for (std::size_t k = 0; k < settings.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "pattern " << pattern << (wide ? " 12-bit " : " 8-bit ") << W << "x"
                                            << H << " settings " << k);
            const auto tables = camsdk::BuildIspTables(model, settings[k]);
            const std::size_t first = FirstDifference(*tables, pattern, wide, W, H, rng);
            EXPECT_EQ(first, std::size_t(W) * H * 3) << "first difference at row " << first / (3 * W);
          }
        }
      }
    }
  }
  const auto tables = camsdk::BuildIspTables(model, settings[0]);
  for (const int H : {1944, 1945}) {
    SCOPED_TRACE(testing::Message() << "2592x" << H);
    const std::size_t first = FirstDifference(*tables, CAMSDK_PATTERN_GBRG, false, 2592, H, rng);
    EXPECT_EQ(first, std::size_t(2592) * H * 3) << "first difference at row " << first / (3 * 2592);
  }
}

// A monochrome sensor: sharpening with the nearest neighbours, grey copied to the three
// channels, no matrix.
TEST(Isp, MonochromeEqualsTheStepByStepOne) {
  static const CamSdkMediaType media[] = {{0, "RAW8", CAMSDK_RAW_MONO8}};
  const camsdk::ModelInfo model = TestModel("mono", 201, false, CAMSDK_PATTERN_MONO, media);
  const auto settings = EdgeSettings(model);
  const int sizes[][2] = {{1001, 203}, {4099, 65}, {127, 2}, {6, 1}, {33, 3}, {40, 17}};
  std::mt19937 rng(13);
  for (const bool wide : {false, true}) {
    for (const auto& sz : sizes) {
      for (std::size_t k = 0; k < settings.size(); ++k) {
        const int W = sz[0], H = sz[1];
        SCOPED_TRACE(testing::Message() << (wide ? "12-bit " : "8-bit ") << W << "x" << H << " settings " << k);
        const auto tables = camsdk::BuildIspTables(model, settings[k]);
        const std::size_t first = FirstDifference(*tables, CAMSDK_PATTERN_MONO, wide, W, H, rng);
        EXPECT_EQ(first, std::size_t(W) * H * 3) << "first difference at row " << first / (3 * W);
      }
    }
  }
}

// Processed colour frames: the per-colour tables on whole pixels, mirrored, then the matrix of
// the whole frame; the rows each worker converts must give the same bytes.
TEST(Isp, ProcessedColourEqualsTheStepByStepOne) {
  static const CamSdkMediaType media[] = {{0, "RGB24", CAMSDK_RAW_BGR8}};
  const camsdk::ModelInfo model = TestModel("uvc", 200, true, CAMSDK_PATTERN_BGR, media);
  auto settings = EdgeSettings(model);
  settings[1].colorEnhance = 1, settings[1].saturation = 0, settings[1].gamma = 140;
  const int sizes[][2] = {{1001, 203}, {4099, 65}, {64, 3}, {7, 1}};
  std::mt19937 rng(17);
  for (const auto& sz : sizes) {
    for (std::size_t k = 0; k < settings.size(); ++k) {
      const int W = sz[0], H = sz[1];
      SCOPED_TRACE(testing::Message() << W << "x" << H << " settings " << k);
      const auto t = camsdk::BuildIspTables(model, settings[k]);
      std::vector<std::uint8_t> raw(std::size_t(W) * H * 3);
      for (auto& b : raw) b = std::uint8_t(rng());
      CamSdkFrameInfo info{};
      info.format = CAMSDK_RAW_BGR8;
      info.width = W;
      info.height = H;
      info.bytes = int(raw.size());
      std::vector<std::uint8_t> out(raw.size());
      ASSERT_TRUE(camsdk::RunIsp(*t, raw.data(), info, out.data()));
      cv::Mat ref(H, W, CV_8UC3);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const std::uint8_t* s = &raw[3 * (std::size_t(t->flipV ? H - 1 - y : y) * W + (t->flipH ? W - 1 - x : x))];
          ref.at<cv::Vec3b>(y, x) = cv::Vec3b(t->lut8[2][s[0]], t->lut8[1][s[1]], t->lut8[0][s[2]]);
        }
      if (t->applyMatrix) cv::transform(ref, ref, cv::Mat(3, 3, CV_32F, const_cast<float*>(t->bgrMatrix.data())));
      std::size_t first = 0;
      while (first < out.size() && out[first] == ref.data[first]) ++first;
      EXPECT_EQ(first, out.size()) << "first difference at row " << first / (3 * W);
    }
  }
}

}  // namespace
