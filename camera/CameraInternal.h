#pragma once
// Shared pieces of the camera object's implementation files.
#include <QImage>

#include <cstdint>
#include <filesystem>

#include <opencv2/core.hpp>

#include "camera/AreaScale.h"
#include "platform/text.h"

class CCameraProcess;

namespace camera_internal {

// The frame callback's target.
void RegisterInstance(CCameraProcess* camera);
void UnregisterInstance(CCameraProcess* camera);

// Reused surfaces of the frame display, so that a playing camera allocates nothing per frame.
struct ScaledCache {
  CAreaScaler scaler;
  QImage surface;   // the frame scaled to the window, RGB32
  cv::Mat overview;
};

// Bottom-up 24-bit BGR rows (3 x width bytes each) into a top-down RGB32 image of the same size.
void BgrBottomUpToRgb32(const std::uint8_t* src, int width, int height, QImage& dst);

// UTF-8 file names end to end.
std::filesystem::path ToPath(WStringView text);
WString FromPath(const std::filesystem::path& path);
// The working folder + "/" + leaf.
WString WorkingSubfolder(WStringView leaf);
// A folder that does not exist is created (one level); when that fails the folder becomes the
// working folder + "/" + leaf, which is created too when `createFallback` is set.
void CheckFolder(WString& folder, WStringView leaf, bool createFallback);

}  // namespace camera_internal
