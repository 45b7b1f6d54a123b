// Helpers on raw camera frames: grey level, brightness normalisation, black level.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/imglib/imglib.h"

TEST(RawFrames, GreyLevelAndBrightnessNormalisation) {
  std::vector<unsigned char> frame(8 * 4);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(10 + (i % 4) * 4);  // 10..22
  KvImgRaw raw{frame.data(), 8, 4, 8, KVIMG_RAW_BAYER_RGGB};
  int grey = -1;
  ASSERT_EQ(KvImgGetRawGray(raw, &grey), KVIMG_OK);
  EXPECT_EQ(grey, 16);

  // Scaling to the target: the frame's level follows, saturating at 255.
  ASSERT_EQ(KvImgAdjustBrightness(raw, grey, 176), KVIMG_OK);
  ASSERT_EQ(KvImgGetRawGray(raw, &grey), KVIMG_OK);
  EXPECT_EQ(grey, 176);
  EXPECT_EQ(frame[0], 110);
  ASSERT_EQ(KvImgAdjustBrightness(raw, 20, 255), KVIMG_OK);
  EXPECT_EQ(frame[3], 255);

  // A black frame cannot be scaled (its level is 0): refused, not divided by zero.
  std::vector<unsigned char> black(16, 0);
  const KvImgRaw dark{black.data(), 4, 4, 8, 0};
  EXPECT_EQ(KvImgAdjustBrightness(dark, 0, 180), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgGetRawGray(KvImgRaw{nullptr, 4, 4, 8, 0}, &grey), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgGetRawGray(KvImgRaw{black.data(), 4, 4, 7, 0}, &grey), KVIMG_E_ARGUMENT);

  // Wider samples (12 bits in two bytes) report in 8-bit units.
  std::vector<std::uint16_t> wide(16, 1600);
  int wideGrey = 0;
  ASSERT_EQ(KvImgGetRawGray(KvImgRaw{reinterpret_cast<unsigned char*>(wide.data()), 4, 4, 12, 0}, &wideGrey), KVIMG_OK);
  EXPECT_EQ(wideGrey, 100);

  // Samples above the bit depth count as its top level: the result stays in 8-bit units.
  for (const int bits : {9, 10, 12, 14, 16}) {
    SCOPED_TRACE(bits);
    std::vector<std::uint16_t> noisy(64, 0xFFFF);
    noisy[0] = 0;
    int level = -1;
    ASSERT_EQ(KvImgGetRawGray(KvImgRaw{reinterpret_cast<unsigned char*>(noisy.data()), 8, 8, bits, 0}, &level), KVIMG_OK);
    EXPECT_LE(level, 255);
    EXPECT_GE(level, 250);
  }
  std::vector<std::uint16_t> high(16, 4095 + 4096);  // 12-bit frame, stray bit 12 set
  ASSERT_EQ(KvImgGetRawGray(KvImgRaw{reinterpret_cast<unsigned char*>(high.data()), 4, 4, 12, 0}, &wideGrey), KVIMG_OK);
  EXPECT_EQ(wideGrey, 255);
}

TEST(RawFrames, BlackLevelPerColourFromRegion) {
  // RGGB mosaic: red 12, greens 8, blue 5, with a few hot pixels that must not count.
  const int w = 16, h = 12;
  std::vector<unsigned char> frame(std::size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool even = y % 2 == 0, left = x % 2 == 0;
      frame[std::size_t(y * w + x)] = even && left ? 12 : (!even && !left ? 5 : 8);
    }
  frame[2 * w + 2] = 255;
  frame[5 * w + 7] = 250;
  frame[9 * w + 4] = 240;
  int r = -1, g = -1, b = -1;
  ASSERT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, KVIMG_RAW_BAYER_RGGB}, KvImgRegion{0, 0, w, h}, &r, &g, &b),
            KVIMG_OK);
  EXPECT_EQ(r, 12);
  EXPECT_EQ(g, 8);
  EXPECT_EQ(b, 5);
  // The same frame read as BGGR swaps red and blue.
  ASSERT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, KVIMG_RAW_BAYER_BGGR}, KvImgRegion{0, 0, w, h}, &r, &g, &b),
            KVIMG_OK);
  EXPECT_EQ(r, 5);
  EXPECT_EQ(b, 12);
  // A rectangle dragged backwards and beyond the frame is normalised and clipped.
  ASSERT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, KVIMG_RAW_BAYER_RGGB}, KvImgRegion{30, 20, -26, -16}, &r, &g,
                                &b),
            KVIMG_OK);
  EXPECT_EQ(r, 12);
  // Mono frames give one level for all three.
  ASSERT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, KVIMG_RAW_MONO}, KvImgRegion{0, 0, w, h}, &r, &g, &b), KVIMG_OK);
  EXPECT_EQ(r, 8);
  EXPECT_EQ(g, 8);
  EXPECT_EQ(b, 8);
  // A region of one pixel holds one colour only: the others take its level, never -1.
  for (const auto& [layout, x, y] : {std::tuple{KVIMG_RAW_BAYER_RGGB, 0, 0}, std::tuple{KVIMG_RAW_BAYER_RGGB, 1, 1},
                                     std::tuple{KVIMG_RAW_BAYER_BGGR, 0, 0}, std::tuple{KVIMG_RAW_BAYER_GRBG, 1, 0}}) {
    r = g = b = -1;
    ASSERT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, layout}, KvImgRegion{x, y, 1, 1}, &r, &g, &b), KVIMG_OK);
    const int v = frame[std::size_t(y * w + x)];
    EXPECT_EQ(r, v) << layout << " " << x << "," << y;
    EXPECT_EQ(g, v);
    EXPECT_EQ(b, v);
  }
  // A region wholly outside the frame is refused.
  EXPECT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, 0}, KvImgRegion{w, 0, 5, 5}, &r, &g, &b), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgOnceBlackLevel(KvImgRaw{frame.data(), w, h, 8, 0}, KvImgRegion{0, 0, 0, 5}, &r, &g, &b), KVIMG_E_ARGUMENT);
}
