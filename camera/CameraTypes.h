#pragma once
// Plain records of the camera object: the frame format, the camera-list entry, the capability
// block the camera panel fills, and the result codes of the camera object.
#include <cstddef>
#include <cstdint>

#include "platform/camsdk/camsdk.h"

// The frame format: a device-independent bitmap header. The frame buffer is always 24-bit BGR,
// bottom-up, each row exactly 3 x width bytes (no padding).
struct BITMAPINFOHEADER {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
  friend bool operator==(const BITMAPINFOHEADER&, const BITMAPINFOHEADER&) = default;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// The format of a width x height frame: {40, width, height, 1, 24, rest 0}.
constexpr BITMAPINFOHEADER MakeFrameFormat(std::int32_t width, std::int32_t height) {
  BITMAPINFOHEADER f;
  f.biSize = 40;
  f.biWidth = width;
  f.biHeight = height;
  f.biPlanes = 1;
  f.biBitCount = 24;
  return f;
}

enum : int { CAMERA_CLOSED = 0, CAMERA_PLAYING = 1, CAMERA_PAUSED = 2 };

constexpr int kMaxCameraList = 50;  // entries of the camera list
constexpr int kMaxOpenCameras = 4;  // open slots
constexpr int kOpenParamCount = 17;
// The open parameters the camera object reads (the others are kept as given).
enum OpenParam : int {
  kOpenDisplayWidth = 13,   // the display size handed to the library at open
  kOpenDisplayHeight = 14,
};

// One camera-list entry.
struct stCameraItem {
  std::int32_t handle = -1;  // library handle; -1 until first opened (kept after closing)
  std::int32_t state = CAMERA_CLOSED;
  CamSdkDeviceInfo device{};  // as the library lists it
  std::int32_t openParams[kOpenParamCount]{};  // by OpenParam
};
static_assert(sizeof(stCameraItem) == 656);

// The camera panel's capability block: kept and handed out whole.
struct stCameraCapability {
  std::int32_t values[71]{};
  friend bool operator==(const stCameraCapability&, const stCameraCapability&) = default;
};

// Values the fluorescence focus assistant keeps here while it runs.
struct stFocusStore {
  std::uint64_t testExposure = 0;    // exposure of the test shot, 100 ns units
  std::int32_t testGrey = 0;         // grey level of the test shot
  std::uint64_t foundExposure = 0;   // exposure found by the search
  std::int32_t foundGrey = 0;        // grey level at the found exposure
  std::int64_t targetExposure = 0;   // exposure computed for the brightness target
};

// Results of the camera object besides the library's own (1 = success).
constexpr int CAMERA_OK = 1;
constexpr int CAMERA_NOT_OPENED = -1100;
constexpr int CAMERA_NO_SLOT = -1101;  // no free open slot, bad index, or already open
constexpr int CAMERA_NO_BUFFER = -1102;  // no frame buffer for the camera's picture size
constexpr int CAMERA_NO_FRAME = -1;    // nothing to save
constexpr int CAMERA_WRITE_FAILED = -2;  // the file could not be written
