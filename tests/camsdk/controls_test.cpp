// Every image control moves the delivered picture in the direction its name says, measured on
// the specimen's patches.
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk/support.h"
#include "tests/camsdk_ok.h"

namespace camtest {
namespace {

class Controls : public CamTest {};

TEST_F(Controls, ExposureGainBlackLevelGammaContrastInverse) {
  const int h = Open("color", 1);
  const CamSdkSceneGeometry g = Scene(h);
  ASSERT_EQ(CameraSetExposureTime(h, 100000), CAMSDK_STATUS_OK);  // 10 ms: whole flicker periods
  const double grey = Grey(Mean(Frame(h), g.greyPatch));
  EXPECT_GT(grey, 30);
  EXPECT_LT(grey, 120);

  CAMSDK_OK(CameraSetExposureTime(h, 200000));
  EXPECT_GT(Grey(Mean(Frame(h), g.greyPatch)), 1.7 * grey);
  CAMSDK_OK(CameraSetExposureTime(h, 100000));

  CAMSDK_OK(CameraSetAnalogGain(h, 2.0f));
  EXPECT_GT(Grey(Mean(Frame(h), g.greyPatch)), 1.7 * grey);
  CAMSDK_OK(CameraSetAnalogGain(h, 1.0f));

  CAMSDK_OK(CameraSetBlackLevelState(h, 1));
  CAMSDK_OK(CameraSetBlackLevel(h, 30, 30, 30, 255));
  EXPECT_LT(Grey(Mean(Frame(h), g.greyPatch)), grey - 20);
  CAMSDK_OK(CameraSetBlackLevelState(h, 0));
  EXPECT_NEAR(Grey(Mean(Frame(h), g.greyPatch)), grey, 3);

  CAMSDK_OK(CameraSetGamma(h, 200));  // larger gamma darkens the mid-tones
  EXPECT_LT(Grey(Mean(Frame(h), g.greyPatch)), grey - 10);
  CAMSDK_OK(CameraSetGamma(h, 50));
  EXPECT_GT(Grey(Mean(Frame(h), g.greyPatch)), grey + 10);
  CAMSDK_OK(CameraSetGamma(h, 100));

  // Contrast spreads the tones of the gradient around mid-grey.
  CAMSDK_OK(CameraSetExposureTime(h, 200000));
  const CamSdkRect mid{g.gradient.x + 0.3 * g.gradient.width, g.gradient.y, 0.4 * g.gradient.width, g.gradient.height};
  auto spread = [&](const cv::Mat& img) {
    cv::Scalar mean, dev;
    cv::meanStdDev(img(cv::Rect(int(mid.x), int(mid.y + 0.3 * mid.height), int(mid.width), int(0.4 * mid.height))), mean, dev);
    return dev[1];
  };
  const double flat = spread(Frame(h));
  CAMSDK_OK(CameraSetContrast(h, 140));
  EXPECT_GT(spread(Frame(h)), 1.3 * flat);
  CAMSDK_OK(CameraSetContrast(h, 60));
  EXPECT_LT(spread(Frame(h)), 0.7 * flat);
  CAMSDK_OK(CameraSetContrast(h, 100));
  CAMSDK_OK(CameraSetExposureTime(h, 100000));

  CAMSDK_OK(CameraSetInverse(h, 1));
  EXPECT_NEAR(Grey(Mean(Frame(h), g.greyPatch)), 255 - grey, 3);
  EXPECT_LT(Grey(Mean(Frame(h), g.whitePatch)), Grey(Mean(Frame(h), g.blackPatch)));
  int on = 0;
  EXPECT_EQ(CameraGetInverse(h, &on), CAMSDK_STATUS_OK);
  EXPECT_EQ(on, 1);
}

TEST_F(Controls, ColourGainsSaturationMatrixMonochrome) {
  const int h = Open("color", 1);
  const CamSdkSceneGeometry g = Scene(h);
  CAMSDK_OK(CameraSetExposureTime(h, 100000));
  ASSERT_EQ(CameraSetGain(h, 1.25f, 1.0f, 1.6f), CAMSDK_STATUS_OK);
  const cv::Scalar base = Mean(Frame(h), g.greyPatch);  // BGR
  EXPECT_NEAR(base[2] / base[1], 1.0, 0.1);
  EXPECT_NEAR(base[0] / base[1], 1.0, 0.1);

  CAMSDK_OK(CameraSetGain(h, 2.0f, 1.0f, 1.6f));
  const cv::Scalar redder = Mean(Frame(h), g.greyPatch);
  EXPECT_GT(redder[2] / redder[1], 1.4 * base[2] / base[1]);
  CAMSDK_OK(CameraSetGain(h, 1.25f, 1.0f, 2.4f));
  const cv::Scalar bluer = Mean(Frame(h), g.greyPatch);
  EXPECT_GT(bluer[0] / bluer[1], 1.3 * base[0] / base[1]);
  float r = 0, gg = 0, b = 0;
  EXPECT_EQ(CameraGetGain(h, &r, &gg, &b), CAMSDK_STATUS_OK);
  EXPECT_FLOAT_EQ(b, 2.4f);
  CAMSDK_OK(CameraSetGain(h, 1.25f, 1.0f, 1.6f));

  const double chroma = Chroma(Mean(Frame(h), g.colorPatches[0]));
  EXPECT_GT(chroma, 60);
  CAMSDK_OK(CameraSetSaturation(h, 0));  // no effect until colour enhancement is on
  EXPECT_NEAR(Chroma(Mean(Frame(h), g.colorPatches[0])), chroma, 5);
  CAMSDK_OK(CameraSetColorEnhancement(h, 1));
  EXPECT_LT(Chroma(Mean(Frame(h), g.colorPatches[0])), 6);
  CAMSDK_OK(CameraSetSaturation(h, 180));
  EXPECT_GT(Chroma(Mean(Frame(h), g.colorPatches[0])), 1.3 * chroma);
  CAMSDK_OK(CameraSetSaturation(h, 100));

  // Red and blue swapped by a user matrix: the red patch turns blue.
  const float swap[9] = {0, 0, 1, 0, 1, 0, 1, 0, 0};
  ASSERT_EQ(CameraApplyColorMatrix(h, swap), CAMSDK_STATUS_OK);
  const cv::Scalar swapped = Mean(Frame(h), g.colorPatches[0]);
  EXPECT_GT(swapped[0], swapped[2] + 60);
  int sel = 0;
  CAMSDK_OK(CameraGetRgbMatrixSel(h, &sel));
  EXPECT_EQ(sel, -1);
  ASSERT_EQ(CameraSetRgbMatrixSel(h, 1), CAMSDK_STATUS_OK);  // "Vivid"
  EXPECT_GT(Chroma(Mean(Frame(h), g.colorPatches[0])), 1.15 * chroma);
  CAMSDK_OK(CameraSetRgbMatrixSel(h, 0));
  const float bad[9] = {1, 0, 0, 0, NAN, 0, 0, 0, 1};
  EXPECT_EQ(CameraApplyColorMatrix(h, bad), CAMSDK_STATUS_INVALID_PARAMETER);

  CAMSDK_OK(CameraSetMonochrome(h, 1));
  const cv::Mat mono = Frame(h);
  for (const CamSdkRect& patch : g.colorPatches) EXPECT_LT(Chroma(Mean(mono, patch)), 2.5);
}

TEST_F(Controls, MirrorsSharpnessAndOrientation) {
  const int h = Open("color", 1);
  const CamSdkSceneGeometry g = Scene(h);
  const cv::Mat ref = Frame(h);
  // Displayed upright: the ruler's baseline lies near the top and is dark; the same place
  // mirrored top to bottom is background.
  const int cx = int(0.5 * (g.rulerX0 + g.rulerX1)), cy = int(0.5 * (g.rulerY0 + g.rulerY1));
  EXPECT_LT(cy, ref.rows / 3);
  EXPECT_LT(Grey(cv::mean(ref(cv::Rect(cx - 3, cy - 1, 6, 2)))) + 40,
            Grey(cv::mean(ref(cv::Rect(cx - 3, ref.rows - cy - 1, 6, 2)))));
  const CamSdkRect left{g.gradient.x, g.gradient.y, g.gradient.width * 0.1, g.gradient.height};
  const CamSdkRect right{g.gradient.x + g.gradient.width * 0.9, g.gradient.y, g.gradient.width * 0.1, g.gradient.height};
  EXPECT_LT(Grey(Mean(ref, left)) + 50, Grey(Mean(ref, right)));

  auto diff = [](const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_L1) / double(a.total() * 3); };
  cv::Mat flipped;
  CAMSDK_OK(CameraSetMirror(h, CAMSDK_MIRROR_HORIZONTAL, 1));
  cv::flip(Frame(h), flipped, 1);
  EXPECT_LT(diff(flipped, ref), 5.0);
  EXPECT_GT(diff(Frame(h), ref), 10.0);
  CAMSDK_OK(CameraSetMirror(h, CAMSDK_MIRROR_HORIZONTAL, 0));
  CAMSDK_OK(CameraSetMirror(h, CAMSDK_MIRROR_VERTICAL, 1));
  cv::flip(Frame(h), flipped, 0);
  EXPECT_LT(diff(flipped, ref), 5.0);
  int on = 0;
  EXPECT_EQ(CameraGetMirror(h, CAMSDK_MIRROR_VERTICAL, &on), CAMSDK_STATUS_OK);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(CameraSetMirror(h, 2, 1), CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_OK(CameraSetMirror(h, CAMSDK_MIRROR_VERTICAL, 0));

  // Sharpness raises the edge contrast around the rings.
  auto edges = [&](const cv::Mat& img) {
    const CamSdkCircle& c = g.circles[0];
    cv::Mat grey, lap;
    cv::cvtColor(img(cv::Rect(int(c.cx - c.radius - 5), int(c.cy - c.radius - 5), int(2 * c.radius + 10),
                              int(2 * c.radius + 10))),
                 grey, cv::COLOR_BGR2GRAY);
    cv::Laplacian(grey, lap, CV_32F);
    return cv::norm(lap, cv::NORM_L1);
  };
  const double soft = edges(Frame(h));
  CAMSDK_OK(CameraSetEdgeGain(h, 100));
  EXPECT_NEAR(edges(Frame(h)), soft, 0.1 * soft);  // off until edge enhancement is on
  CAMSDK_OK(CameraSetEdgeEnhance(h, 1));
  EXPECT_GT(edges(Frame(h)), 1.5 * soft);
}

TEST_F(Controls, LackingControlsReachTheCapabilityBlock) {
  const int h = Open("color");
  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
  EXPECT_EQ(cap.lackingControls, 0);
  EXPECT_EQ(CamSdkTestSetLackingControls("nosuch", CAMSDK_CONTROL_GAMMA), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CamSdkTestSetLackingControls("color", 256), CAMSDK_STATUS_INVALID_PARAMETER);
  ASSERT_EQ(CamSdkTestSetLackingControls("color", CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_GAMMA), CAMSDK_STATUS_OK);
  ASSERT_EQ(CamSdkTestSetLackingControls("mono", CAMSDK_CONTROL_ANALOG_GAIN), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
  EXPECT_EQ(cap.lackingControls, CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_GAMMA);
  CamSdkTestReset();  // restores every model's controls
  CamSdkTestSetModels("all");
  CamSdkTestSetSynchronous(true);
  const int again = Open("color");
  ASSERT_EQ(CameraGetCapability(again, &cap), CAMSDK_STATUS_OK);
  EXPECT_EQ(cap.lackingControls, 0);
}

TEST_F(Controls, SumResolutionWideMediaAndMonoCamera) {
  int h = Open("sum", 1);
  CAMSDK_OK(CameraSetExposureTime(h, 50000));
  CamSdkSceneGeometry g = Scene(h);
  const double plain = Grey(Mean(Frame(h), g.greyPatch));
  CAMSDK_OK(CameraSetImageSizeSel(h, 2, CAMSDK_SIZE_PREVIEW));  // "1024×768 SUM"
  g = Scene(h);
  EXPECT_GT(Grey(Mean(Frame(h), g.greyPatch)), 2.5 * plain);
  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
  EXPECT_NE(std::string(cap.resolutions[cap.resolutionCount - 1].name).find("SUM"), std::string::npos);
  CAMSDK_OK(CameraUnInit(h));

  h = Open("color", 1);
  g = Scene(h);
  const double narrow = Grey(Mean(Frame(h), g.greyPatch));
  ASSERT_EQ(CameraSetMediaTypeSel(h, 1), CAMSDK_STATUS_OK);
  const double wide = Grey(Mean(Frame(h), g.greyPatch));
  {
    std::lock_guard<std::mutex> lock(Last().mu);
    EXPECT_EQ(CamSdkRawBits(Last().info.format), 12);
    EXPECT_EQ(Last().info.bytes, 1296 * 972 * 2);
  }
  EXPECT_NEAR(wide, narrow, 3);
  int format = 0;
  CAMSDK_OK(CameraGetMediaType(h, &format));
  EXPECT_EQ(format, CAMSDK_RAW_GRBG12);
  CAMSDK_OK(CameraUnInit(h));

  h = Open("mono", 1);
  g = Scene(h);
  const cv::Mat m = Frame(h);
  EXPECT_LT(Chroma(Mean(m, g.colorPatches[0])), 1);
  int on = 0;
  EXPECT_EQ(CameraGetAWBState(h, &on), CAMSDK_STATUS_NOT_SUPPORTED);
  EXPECT_EQ(CameraSetOnceWB(h), CAMSDK_STATUS_NOT_SUPPORTED);
  EXPECT_EQ(CameraSetGain(h, 1, 1, 1), CAMSDK_STATUS_NOT_SUPPORTED);
  ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
  EXPECT_EQ(cap.monoSensor, 1);
  EXPECT_EQ(cap.colorSensor, 0);
  CAMSDK_OK(CameraSetAnalogGain(h, 2.0f));
  EXPECT_GT(Grey(Mean(Frame(h), g.greyPatch)), 1.7 * Grey(Mean(m, g.greyPatch)) - 10);
}

}  // namespace
}  // namespace camtest
