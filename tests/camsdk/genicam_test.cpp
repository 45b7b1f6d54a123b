// The GenICam backend's pure pieces: which raw format a camera's pixel format becomes once its
// rows are stored bottom-up, the copy into that layout, and the gain in the camera's own units.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "platform/camsdk/backends.h"

namespace {

using camsdk::GenicamGain;
using camsdk::GenicamRawFormat;
using camsdk::GenicamToRaw;

// PFNC codes as cameras send them.
constexpr std::uint32_t kMono8 = 0x01080001, kMono10 = 0x01100003, kMono16 = 0x01100007;
constexpr std::uint32_t kGR8 = 0x01080008, kRG8 = 0x01080009, kGB8 = 0x0108000A, kBG8 = 0x0108000B;
constexpr std::uint32_t kRG12 = 0x01100011, kBG16 = 0x01100031, kRgb8 = 0x02180014, kBgr8 = 0x02180015;
constexpr std::uint32_t kMono12Packed = 0x010C0006;

// The colour (0 red, 1 green, 2 blue) of raw sample (x, r) for a core pattern: rows from the
// bottom, as the ISP reads them.
int CoreSite(int format, int x, int r) {
  static const int kSites[5][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}};
  return kSites[CamSdkRawPattern(format)][(r & 1) * 2 + (x & 1)];
}

TEST(Genicam, EveryBayerOrderKeepsItsColoursOnceTheRowsAreStoredBottomUp) {
  // The camera names the colours of its top-left quad; raw row r is camera row h-1-r.
  struct Order {
    std::uint32_t pf;
    int topLeft[4];  // colours of the camera's (0,0), (1,0), (0,1), (1,1)
  };
  for (const Order& o : {Order{kGR8, {1, 0, 2, 1}}, Order{kRG8, {0, 1, 1, 2}}, Order{kGB8, {1, 2, 0, 1}},
                         Order{kBG8, {2, 1, 1, 0}}, Order{kRG12, {0, 1, 1, 2}}, Order{kBG16, {2, 1, 1, 0}}}) {
    const int format = GenicamRawFormat(o.pf);
    ASSERT_TRUE(CamSdkRawIsValid(format)) << std::hex << o.pf;
    for (int h : {2, 4, 480, 1944})
      for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 2; ++x) {
          const int cameraRow = h - 1 - r;
          EXPECT_EQ(CoreSite(format, x, r), o.topLeft[(cameraRow & 1) * 2 + (x & 1)])
              << std::hex << o.pf << std::dec << " h " << h << " x " << x << " r " << r;
        }
  }
  EXPECT_EQ(GenicamRawFormat(kRG12), CAMSDK_RAW_GBRG12);
  EXPECT_EQ(GenicamRawFormat(kBG16), CAMSDK_RAW_GRBG12);
  // Processed colour, mono, and what the core cannot take.
  EXPECT_EQ(GenicamRawFormat(kRgb8), CAMSDK_RAW_BGR8);
  EXPECT_EQ(GenicamRawFormat(kBgr8), CAMSDK_RAW_BGR8);
  EXPECT_EQ(GenicamRawFormat(kMono8), CAMSDK_RAW_MONO8);
  EXPECT_EQ(GenicamRawFormat(kMono16), CAMSDK_RAW_MONO12);
  EXPECT_EQ(GenicamRawFormat(kMono12Packed), 0);
}

TEST(Genicam, FramesAreStoredBottomUpInTheCoresSamples) {
  // 3 x 2, a row stride with padding: RGB8 becomes B, G, R; rows change places.
  const std::vector<std::uint8_t> rgb{1, 2, 3, 4, 5, 6, 7, 8, 9, 99, 99, 10, 11, 12, 13, 14, 15, 16, 17, 18, 99, 99};
  std::vector<std::uint8_t> raw;
  GenicamToRaw(rgb.data(), 3, 2, 11, kRgb8, raw);
  EXPECT_EQ(raw, (std::vector<std::uint8_t>{12, 11, 10, 15, 14, 13, 18, 17, 16, 3, 2, 1, 6, 5, 4, 9, 8, 7}));
  GenicamToRaw(rgb.data(), 3, 2, 11, kBgr8, raw);
  EXPECT_EQ(raw, (std::vector<std::uint8_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // Wide samples land on 12 bits: 10-bit values times four, 16-bit values over sixteen.
  const std::vector<std::uint8_t> wide{0xFF, 0x03, 0x00, 0x02};  // 1023, 512
  GenicamToRaw(wide.data(), 2, 1, 4, kMono10, raw);
  EXPECT_EQ(raw, (std::vector<std::uint8_t>{0xFC, 0x0F, 0x00, 0x08}));
  const std::vector<std::uint8_t> sixteen{0xFF, 0xFF, 0x10, 0x00};  // 65535, 16
  GenicamToRaw(sixteen.data(), 2, 1, 4, kMono16, raw);
  EXPECT_EQ(raw, (std::vector<std::uint8_t>{0xFF, 0x0F, 0x01, 0x00}));
}

TEST(Genicam, ThePanelsGainSpansTheCamerasOwnRange) {
  // Raw steps 0..10 (whole numbers): 1x is the least, 16x the most, 2x a quarter of the way
  // (evenly in decibels), nothing outside.
  EXPECT_EQ(GenicamGain(1.0f, 0, 10, true), 0);
  EXPECT_EQ(GenicamGain(2.0f, 0, 10, true), 3);  // 2.5 rounds up
  EXPECT_EQ(GenicamGain(4.0f, 0, 10, true), 5);
  EXPECT_EQ(GenicamGain(16.0f, 0, 10, true), 10);
  EXPECT_EQ(GenicamGain(32.0f, 0, 10, true), 10);
  EXPECT_EQ(GenicamGain(0.5f, 0, 10, true), 0);
  // Decibels 0..24: the panel's gain is the camera's, 20 log10(gain), give or take the ends.
  for (float g : {1.0f, 2.0f, 3.2f, 8.0f, 16.0f})
    EXPECT_NEAR(GenicamGain(g, 0, 24.08, false), 20 * std::log10(g), 0.01) << g;
  // A camera of 0..48 dB is reached to its top; one starting at 6 dB starts there.
  EXPECT_NEAR(GenicamGain(16.0f, 0, 48, false), 48, 1e-9);
  EXPECT_NEAR(GenicamGain(1.0f, 6, 30, false), 6, 1e-9);
  // Monotonic over the panel's steps.
  double last = -1;
  for (float g = 1.0f; g <= 16.0f; g += 0.125f) {
    const double v = GenicamGain(g, 0, 10, false);
    EXPECT_GE(v, last);
    last = v;
  }
}

}  // namespace
