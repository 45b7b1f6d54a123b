// Point and neighbourhood operations on tiny images with known answers.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/imglib/imglib.h"

namespace {

using Bytes = std::vector<unsigned char>;

KvImgImage Desc(Bytes& b, int w, int h, int ch) { return KvImgImage{b.data(), w, h, ch}; }

// A BGR image whose pixels all have the grey values given (B = G = R).
Bytes GreyBgr(const std::vector<int>& greys) {
  Bytes out;
  for (int g : greys) out.insert(out.end(), 3, static_cast<unsigned char>(g));
  return out;
}

std::vector<int> Channel0(const Bytes& b) {
  std::vector<int> out;
  for (std::size_t i = 0; i < b.size(); i += 3) out.push_back(b[i]);
  return out;
}

}  // namespace

TEST(PixelOps, PointOperationsGiveKnownValues) {
  // Grey of pure blue, green, red and white: 0.114, 0.587, 0.299 of 255.
  Bytes colours = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  Bytes grey(12);
  ASSERT_EQ(KvImgRGB2GRAY(Desc(colours, 4, 1, 3), Desc(grey, 4, 1, 3)), KVIMG_OK);
  EXPECT_EQ(grey, (Bytes{29, 29, 29, 150, 150, 150, 76, 76, 76, 255, 255, 255}));

  Bytes ramp = GreyBgr({0, 100, 126, 127, 200, 255});
  Bytes out(ramp.size());
  ASSERT_EQ(KvImgThreshold(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 126), KVIMG_OK);
  EXPECT_EQ(Channel0(out), (std::vector<int>{0, 0, 0, 255, 255, 255}));

  ASSERT_EQ(KvImgBrightness(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 100), KVIMG_OK);
  EXPECT_EQ(Channel0(out), (std::vector<int>{100, 200, 226, 227, 255, 255}));
  ASSERT_EQ(KvImgBrightness(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), -130), KVIMG_OK);
  EXPECT_EQ(Channel0(out), (std::vector<int>{0, 0, 0, 0, 70, 125}));

  // The dialog's start points map every grey level to itself.
  ASSERT_EQ(KvImgGrayStretch(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 84, 84, 168, 168), KVIMG_OK);
  EXPECT_EQ(out, ramp);
  Bytes levels = GreyBgr({0, 30, 50, 125, 200, 230, 255});
  Bytes stretched(levels.size());
  ASSERT_EQ(KvImgGrayStretch(Desc(levels, 7, 1, 3), Desc(stretched, 7, 1, 3), 50, 0, 200, 255), KVIMG_OK);
  EXPECT_EQ(Channel0(stretched), (std::vector<int>{0, 0, 0, 128, 255, 255, 255}));

  // Two grey levels only: equalisation spreads them to the ends.
  Bytes two = GreyBgr({90, 90, 120, 120});
  ASSERT_EQ(KvImgGrayEqualize(Desc(two, 2, 2, 3), Desc(two, 2, 2, 3)), KVIMG_OK);
  EXPECT_EQ(Channel0(two), (std::vector<int>{0, 0, 255, 255}));

  // Out-of-range parameters and mismatched or broken descriptors are refused, untouched.
  const Bytes before = out;
  EXPECT_EQ(KvImgThreshold(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 256), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgBrightness(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), -256), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgGrayStretch(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 200, 0, 100, 255), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgRGB2GRAY(Desc(ramp, 6, 1, 3), Desc(out, 3, 2, 3)), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgRGB2GRAY(Desc(ramp, 6, 1, 2), Desc(out, 6, 1, 3)), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgRGB2GRAY(KvImgImage{nullptr, 6, 1, 3}, Desc(out, 6, 1, 3)), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgRGB2GRAY(Desc(ramp, 0, 1, 3), Desc(out, 0, 1, 3)), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgErode(Desc(ramp, 6, 1, 3), Desc(out, 6, 1, 3), 0), KVIMG_E_ARGUMENT);
  EXPECT_EQ(out, before);
}

TEST(PixelOps, MorphologyAndFiltersOnSmallImages) {
  // A single white pixel in a 5 x 5 black image: dilation makes a 3 x 3 square of it,
  // erosion removes it again.
  Bytes dot = GreyBgr(std::vector<int>(25, 0));
  std::fill_n(dot.begin() + 12 * 3, 3, 255);
  Bytes grown(dot.size()), back(dot.size());
  ASSERT_EQ(KvImgDilate(Desc(dot, 5, 5, 3), Desc(grown, 5, 5, 3), 3), KVIMG_OK);
  std::vector<int> square(25, 0);
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 3; ++x) square[std::size_t(y * 5 + x)] = 255;
  EXPECT_EQ(Channel0(grown), square);
  ASSERT_EQ(KvImgErode(Desc(grown, 5, 5, 3), Desc(back, 5, 5, 3), 3), KVIMG_OK);
  EXPECT_EQ(back, dot);
  ASSERT_EQ(KvImgErode(Desc(dot, 5, 5, 3), Desc(back, 5, 5, 3), 3), KVIMG_OK);
  EXPECT_EQ(Channel0(back), std::vector<int>(25, 0));

  // A flat image stays flat through the noise filter and the edge enhancement; a step gains
  // overshoot on both sides under enhancement.
  Bytes flat = GreyBgr(std::vector<int>(36, 77)), result(flat.size());
  ASSERT_EQ(KvImgGuassFilter(Desc(flat, 6, 6, 3), Desc(result, 6, 6, 3)), KVIMG_OK);
  EXPECT_EQ(result, flat);
  ASSERT_EQ(KvImgEdgeEnhance(Desc(flat, 6, 6, 3), Desc(result, 6, 6, 3), 1), KVIMG_OK);
  EXPECT_EQ(result, flat);
  std::vector<int> stepGreys;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) stepGreys.push_back(x < 3 ? 80 : 160);
  Bytes step = GreyBgr(stepGreys);
  ASSERT_EQ(KvImgEdgeEnhance(Desc(step, 6, 6, 3), Desc(result, 6, 6, 3), 1), KVIMG_OK);
  EXPECT_LT(result[(2 * 6 + 2) * 3], 80);
  EXPECT_GT(result[(2 * 6 + 3) * 3], 160);

  // Adaptive threshold: a dark spot on a bright ramp is 0, the ramp around it 255.
  std::vector<int> rampGreys;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) rampGreys.push_back(100 + 3 * x);
  rampGreys[16 * 32 + 16] = 20;
  Bytes spot = GreyBgr(rampGreys), binary(spot.size());
  ASSERT_EQ(KvImgAdaptiveThreshold(Desc(spot, 32, 32, 3), Desc(binary, 32, 32, 3)), KVIMG_OK);
  EXPECT_EQ(binary[(16 * 32 + 16) * 3], 0);
  EXPECT_EQ(binary[(16 * 32 + 10) * 3], 255);
  EXPECT_EQ(binary[(5 * 32 + 20) * 3], 255);
}

TEST(PixelOps, InPlaceEqualsOutOfPlace) {
  // A textured 7 x 5 colour image (odd width, rows unpadded).
  Bytes source(7 * 5 * 3);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>((i * 37 + i * i * 11) % 256);
  using Op = std::function<int(KvImgImage, KvImgImage)>;
  const std::vector<std::pair<const char*, Op>> ops = {
      {"grey", KvImgRGB2GRAY},
      {"threshold", [](KvImgImage s, KvImgImage d) { return KvImgThreshold(s, d, 100); }},
      {"brightness", [](KvImgImage s, KvImgImage d) { return KvImgBrightness(s, d, 40); }},
      {"stretch", [](KvImgImage s, KvImgImage d) { return KvImgGrayStretch(s, d, 60, 20, 180, 240); }},
      {"equalise", KvImgGrayEqualize},
      {"adaptive", KvImgAdaptiveThreshold},
      {"gauss", KvImgGuassFilter},
      {"edge", [](KvImgImage s, KvImgImage d) { return KvImgEdgeEnhance(s, d, 1); }},
      {"dilate", [](KvImgImage s, KvImgImage d) { return KvImgDilate(s, d, 3); }},
      {"erode", [](KvImgImage s, KvImgImage d) { return KvImgErode(s, d, 3); }},
  };
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    Bytes src = source, out(source.size()), inPlace = source;
    ASSERT_EQ(op(Desc(src, 7, 5, 3), Desc(out, 7, 5, 3)), KVIMG_OK);
    ASSERT_EQ(op(Desc(inPlace, 7, 5, 3), Desc(inPlace, 7, 5, 3)), KVIMG_OK);
    EXPECT_EQ(inPlace, out);
    EXPECT_EQ(src, source) << "the source is left alone";
  }
}
