#pragma once
// Shared fixture of the camera library tests: settings in a temporary folder, synchronous frame
// delivery, and helpers that measure the delivered pictures.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"

namespace camtest {

inline const char* DeviceName(const std::string& key) {
  if (key == "color") return "Q7V-UC500C 0001";
  if (key == "mono") return "Q7V-UM130 0002";
  if (key == "single") return "Q7V-UC200S 0003";
  if (key == "sum") return "Q7V-UC300F 0004";
  return "Q7V-UC2000A 0005";
}

// The last frame a camera delivered: raw data and the ISP's picture as displayed (top-down).
struct Delivered {
  std::mutex mu;
  std::vector<unsigned char> raw;
  CamSdkFrameInfo info{};
  cv::Mat shown;
  std::atomic<int> count{0};
};

inline Delivered& Last() {
  static Delivered d;
  return d;
}

inline int StoreFrame(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  Delivered& d = Last();
  unsigned char* bgr = CameraISP(handle, raw, info);
  std::lock_guard<std::mutex> lock(d.mu);
  d.raw.assign(raw, raw + info->bytes);
  d.info = *info;
  if (bgr) cv::flip(cv::Mat(info->height, info->width, CV_8UC3, bgr), d.shown, 0);
  ++d.count;
  return 1;
}

class CamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("q7v-camsdk-test-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    CamSdkSetConfigDir(dir_.c_str());
    CamSdkTestReset();
    CamSdkTestSetModels("all");
    CamSdkTestSetSynchronous(true);
    Last().count = 0;
  }
  void TearDown() override {
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Opens a model at a preset resolution, playing.
  int Open(const std::string& key, int preset = 0, CamSdkFrameCallback cb = StoreFrame) {
    int h = 0;
    EXPECT_EQ(CameraInit(cb, DeviceName(key), nullptr, &h), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetImageSizeSel(h, preset, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
    return h;
  }

  // Delivers n frames and returns the last picture as displayed.
  cv::Mat Frame(int h, int n = 1) {
    EXPECT_EQ(CamSdkTestDeliverFrames(h, n), n);
    std::lock_guard<std::mutex> lock(Last().mu);
    return Last().shown.clone();
  }

  static CamSdkSceneGeometry Scene(int h) {
    CamSdkSceneGeometry g{};
    EXPECT_EQ(CamSdkTestGetSceneGeometry(h, &g), CAMSDK_STATUS_OK);
    return g;
  }

  // Mean BGR over the inner part of a rectangle (edges excluded).
  static cv::Scalar Mean(const cv::Mat& img, const CamSdkRect& r) {
    const cv::Rect inner(int(r.x + 0.2 * r.width), int(r.y + 0.2 * r.height), int(0.6 * r.width),
                         int(0.6 * r.height));
    return cv::mean(img(inner & cv::Rect(0, 0, img.cols, img.rows)));
  }
  static double Grey(const cv::Scalar& s) { return (s[0] + s[1] + s[2]) / 3.0; }
  static double Chroma(const cv::Scalar& s) {
    return std::max({s[0], s[1], s[2]}) - std::min({s[0], s[1], s[2]});
  }

  std::filesystem::path dir_;
};

}  // namespace camtest
