// Automatic exposure and white balance converge over frames; anti-flicker, frame speed and the
// exposure quantisation behave as the control panel relies on.
#include <cmath>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk/support.h"
#include "tests/camsdk_ok.h"

namespace camtest {
namespace {

class Auto : public CamTest {};

double RawMean() {
  std::lock_guard<std::mutex> lock(Last().mu);
  const cv::Mat raw(Last().info.height, Last().info.width, CV_8U, Last().raw.data());
  return cv::mean(raw)[0];
}

TEST_F(Auto, ExposureConvergesByMode) {
  const int h = Open("color", 2);
  ASSERT_EQ(CameraSetAeState(h, 1), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraSetAeTarget(h, 150));
  CAMSDK_OK(CameraSetExposureTime(h, 10000));  // far too dark
  Frame(h, 40);
  EXPECT_NEAR(RawMean(), 150, 150 * 0.05);
  float gain = 0;
  CAMSDK_OK(CameraGetAnalogGain(h, &gain));
  EXPECT_FLOAT_EQ(gain, 1.0f);  // bright enough by exposure alone

  CAMSDK_OK(CameraSetAeTarget(h, 60));
  Frame(h, 40);
  EXPECT_NEAR(RawMean(), 60, 60 * 0.06);

  // Gain only: the exposure stays as it is.
  std::uint64_t exposure = 0, mx = 0, mn = 0;
  CAMSDK_OK(CameraSetAeMode(h, CAMSDK_AE_GAIN_ONLY));
  CAMSDK_OK(CameraSetExposureTime(h, 50000));  // 5 ms: the lamps' flicker stays visible, AE copes
  CAMSDK_OK(CameraGetExposureTime(h, &exposure, &mx, &mn));
  CAMSDK_OK(CameraSetAeTarget(h, 120));
  Frame(h, 40);
  std::uint64_t after = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &after, &mx, &mn));
  EXPECT_EQ(after, exposure);
  CAMSDK_OK(CameraGetAnalogGain(h, &gain));
  EXPECT_GT(gain, 1.5f);
  EXPECT_EQ(std::fmod(gain, 0.125f), 0.0f);  // the sensor's gain steps
  EXPECT_NEAR(RawMean(), 120, 120 * 0.12);

  // Exposure only: the gain stays.
  CAMSDK_OK(CameraSetAeMode(h, CAMSDK_AE_EXPOSURE_ONLY));
  CAMSDK_OK(CameraSetAeTarget(h, 50));
  Frame(h, 40);
  float gain2 = 0;
  CAMSDK_OK(CameraGetAnalogGain(h, &gain2));
  EXPECT_EQ(gain2, gain);
  EXPECT_NEAR(RawMean(), 50, 50 * 0.06);
  int mode = -1;
  EXPECT_EQ(CameraGetAeMode(h, &mode), CAMSDK_STATUS_OK);
  EXPECT_EQ(mode, CAMSDK_AE_EXPOSURE_ONLY);

  // AE off: nothing moves any more.
  CAMSDK_OK(CameraSetAeState(h, 0));
  CAMSDK_OK(CameraGetExposureTime(h, &exposure, &mx, &mn));
  CAMSDK_OK(CameraSetAeTarget(h, 200));
  Frame(h, 10);
  CAMSDK_OK(CameraGetExposureTime(h, &after, &mx, &mn));
  EXPECT_EQ(after, exposure);
  EXPECT_EQ(CameraSetAeTarget(h, 300), CAMSDK_STATUS_INVALID_PARAMETER);
}

TEST_F(Auto, ExposureMetersInsideItsWindow) {
  const int h = Open("color", 2);
  const CamSdkSceneGeometry g = Scene(h);
  // The black patch, in sensor coordinates (rows counted from the bottom as displayed).
  const CamSdkRect& b = g.blackPatch;
  const int x = int(b.x + 0.2 * b.width), w = int(0.6 * b.width), hh = int(0.6 * b.height);
  const int y = g.height - int(b.y + 0.2 * b.height) - hh;
  ASSERT_EQ(CameraSetAEWindow(h, x, y, w, hh), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraSetAeState(h, 1));
  CAMSDK_OK(CameraSetAeTarget(h, 100));
  Frame(h, 60);
  std::lock_guard<std::mutex> lock(Last().mu);
  const cv::Mat raw(Last().info.height, Last().info.width, CV_8U, Last().raw.data());
  EXPECT_NEAR(cv::mean(raw(cv::Rect(x, y, w, hh)))[0], 100, 8);
  EXPECT_GT(cv::mean(raw)[0], 200);  // the rest of the picture burns out
}

TEST_F(Auto, AntiFlickerChoosesWholeLampPeriods) {
  const int h = Open("color", 2);
  CAMSDK_OK(CameraSetAntiFlick(h, 1));
  CAMSDK_OK(CameraSetLightFrequency(h, CAMSDK_LIGHT_50HZ));
  CAMSDK_OK(CameraSetAeState(h, 1));
  CAMSDK_OK(CameraSetAeTarget(h, 200));
  Frame(h, 40);
  std::uint64_t e = 0, mx = 0, mn = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
  EXPECT_GE(e, 100000u);
  EXPECT_LT(e % 100000, mn);  // a whole number of 10 ms periods, to the line
  EXPECT_NEAR(RawMean(), 200, 200 * 0.06);  // the gain makes up the rest

  CAMSDK_OK(CameraSetLightFrequency(h, CAMSDK_LIGHT_60HZ));
  CAMSDK_OK(CameraSetAeTarget(h, 230));
  Frame(h, 40);
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
  const double periods = double(e) / (1e7 / 120.0);
  EXPECT_NEAR(periods, std::round(periods), double(mn) / (1e7 / 120.0) + 1e-9);
  int f = -1;
  CAMSDK_OK(CameraGetLightFrequency(h, &f));
  EXPECT_EQ(f, CAMSDK_LIGHT_60HZ);
  EXPECT_EQ(CameraSetLightFrequency(h, 2), CAMSDK_STATUS_INVALID_PARAMETER);
}

TEST_F(Auto, OnceAndAutomaticWhiteBalance) {
  const int h = Open("color", 2);
  const CamSdkSceneGeometry g = Scene(h);
  CAMSDK_OK(CameraSetExposureTime(h, 100000));
  CAMSDK_OK(CameraSetGain(h, 1.0f, 1.0f, 1.0f));
  const cv::Scalar cast = Mean(Frame(h), g.greyPatch);
  EXPECT_LT(cast[0] / cast[1], 0.8);  // the lamp and sensor leave grey yellow-green

  ASSERT_EQ(CameraSetWBWindow(h, 0, 0, 0, 0), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraSetOnceWB(h), CAMSDK_STATUS_OK);
  Frame(h, 2);
  const cv::Scalar once = Mean(Frame(h), g.greyPatch);
  EXPECT_NEAR(once[2] / once[1], 1.0, 0.05);
  EXPECT_NEAR(once[0] / once[1], 1.0, 0.05);

  // Automatic: converges from a bad start and follows.
  CAMSDK_OK(CameraSetGain(h, 2.0f, 1.0f, 0.5f));
  ASSERT_EQ(CameraSetAWBState(h, 1), CAMSDK_STATUS_OK);
  const cv::Scalar awb = Mean(Frame(h, 25), g.greyPatch);
  EXPECT_NEAR(awb[2] / awb[1], 1.0, 0.05);
  EXPECT_NEAR(awb[0] / awb[1], 1.0, 0.05);
  int on = 0;
  EXPECT_EQ(CameraGetAWBState(h, &on), CAMSDK_STATUS_OK);
  EXPECT_EQ(on, 1);
  float r = 0, gg = 0, b = 0;
  CAMSDK_OK(CameraGetGain(h, &r, &gg, &b));
  EXPECT_NEAR(r, 1.25f, 0.1f);
  EXPECT_NEAR(b, 1.6f, 0.12f);
}

TEST_F(Auto, FrameSpeedAndExposureSteps) {
  const int h = Open("color", 0);
  std::uint64_t e = 0, mxNormal = 0, mn = 0;
  CAMSDK_OK(CameraSetExposureTime(h, 100030));  // 10 ms + 3 us, as the panel sends it
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mxNormal, &mn));
  EXPECT_EQ(e % mn, 0u);  // whole line times
  EXPECT_LE(e > 100030 ? e - 100030 : 100030 - e, mn / 2);
  CAMSDK_OK(CameraSetExposureTime(h, e));  // a read-back value is stable
  std::uint64_t again = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &again, &mxNormal, &mn));
  EXPECT_EQ(again, e);
  CAMSDK_OK(CameraSetExposureTime(h, 30));  // below the minimum: the shortest exposure
  CAMSDK_OK(CameraGetExposureTime(h, &again, &mxNormal, &mn));
  EXPECT_EQ(again, mn);
  CAMSDK_OK(CameraSetExposureTime(h, 100000));

  double normal = 0, high = 0, low = 0;
  CamSdkTestGetNominalFrameRate(h, &normal);
  ASSERT_EQ(CameraSetFrameSpeed(h, CAMSDK_FRAME_SPEED_HIGH), CAMSDK_STATUS_OK);
  CamSdkTestGetNominalFrameRate(h, &high);
  std::uint64_t mxHigh = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mxHigh, &mn));
  EXPECT_NEAR(double(e), 100000.0, double(mn));  // the exposure time is kept
  CAMSDK_OK(CameraSetFrameSpeed(h, CAMSDK_FRAME_SPEED_LOW));
  CamSdkTestGetNominalFrameRate(h, &low);
  std::uint64_t mxLow = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mxLow, &mn));
  EXPECT_GT(high, normal);
  EXPECT_GT(normal, low);
  EXPECT_LT(mxHigh, mxNormal);
  EXPECT_LT(mxNormal, mxLow);
  int speed = -1;
  CAMSDK_OK(CameraGetFrameSpeed(h, &speed));
  EXPECT_EQ(speed, CAMSDK_FRAME_SPEED_LOW);

  // A long exposure lowers the frame rate to match.
  CAMSDK_OK(CameraSetExposureTime(h, 10000000));  // 1 s
  CamSdkTestGetNominalFrameRate(h, &low);
  EXPECT_NEAR(low, 1.0, 0.01);

  const int single = Open("single", 0);
  CamSdkCapability cap{};
  CAMSDK_OK(CameraGetCapability(single, &cap));
  EXPECT_EQ(cap.frameSpeedCount, 1);
  EXPECT_EQ(CameraSetFrameSpeed(single, 1), CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_OK(CameraGetExposureTime(single, &e, &mxLow, &mn));
  EXPECT_LT(mxLow, 10000000u);  // its longest exposure is under a second
}

}  // namespace
}  // namespace camtest
