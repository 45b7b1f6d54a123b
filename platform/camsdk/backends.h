#pragma once
// What the real-camera backends share with their tests: the pixel conversions and control
// mappings (pure functions, testable on recorded frames) and the hooks of Aravis' fake camera.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/camsdk/device.h"

namespace camsdk {

// ---- Both

// A listed camera's name: `base`, or "base #2", "base #3", ..., the first that `taken(name)` says
// no other camera has, so that two cameras of one model stay apart.
template <typename Taken>
std::string UniqueDeviceName(const std::string& base, Taken&& taken) {
  std::string name = base;
  for (int k = 2; taken(name); ++k) name = base + " #" + std::to_string(k);
  return name;
}

// ---- GenICam (arv_device.cpp)

// Significant bits of a PFNC pixel format the core takes (8, 10, 12 or 16; RGB8 and BGR8 are 8),
// 0 for one it does not take.
int GenicamBits(std::uint32_t pixelFormat);
// The colour layout a camera names for its top row: CAMSDK_PATTERN_* (BGR for RGB8 and BGR8).
int GenicamPattern(std::uint32_t pixelFormat);
// The core's raw format of frames of that pixel format as GenicamToRaw stores them (bottom-up,
// even height: a Bayer pattern's two rows change places), or 0 when the core cannot take it.
// Mono10/12/16 and the wide Bayer formats become the 12-bit raw formats; RGB8 and BGR8 are
// processed colour (CAMSDK_RAW_BGR8).
int GenicamRawFormat(std::uint32_t pixelFormat);
// Copies a top-down camera image into the core's bottom-up raw layout: wide samples rescaled to
// 12 bits, RGB8 turned into B, G, R. `stride` is the camera's row length in bytes.
void GenicamToRaw(const std::uint8_t* data, int width, int height, std::size_t stride, std::uint32_t pixelFormat,
                  std::vector<std::uint8_t>& raw);
// The panel's analog gain (1x .. 16x) in the camera's own units: its whole range [minimum,
// maximum], evenly in decibels, whole steps for a raw integer gain.
double GenicamGain(float analogGain, double minimum, double maximum, bool integer);

// What a thread of ours does inside Aravis is left out of ThreadSanitizer's view while one of
// these lives: Aravis and GLib hand data between their threads (a camera's heartbeat, a stream's
// receiver) under futex locks it cannot see, so it would take their own hand-overs for races.
// Nothing of ours is touched inside one; our data stays in view. No cost in other builds.
struct ArvScope {
#if defined(__SANITIZE_THREAD__)
  ArvScope();
  ~ArvScope();
#else
  ArvScope() {}
  ~ArvScope() {}
#endif
  ArvScope(const ArvScope&) = delete;
  ArvScope& operator=(const ArvScope&) = delete;
};

// Aravis' in-process fake camera: Q7V_ARAVIS_FAKE=1 lists it; tests switch it here. USB3 and GigE
// cameras are found by a discovery on a thread of its own, started by each listing
// (Q7V_ARAVIS_USB=0 or Q7V_ARAVIS_GIGE=0 leaves a transport out); arrivals are told as
// CAMSDK_EVENT_DEVICE_ARRIVED.
void ArvSetFakeInterface(bool on);
// Starts a discovery (unless `start` is false) and waits until it has answered and no other pass
// runs (unless one looks for a lost camera).
void ArvWaitDiscovery(bool start = true);
// Calls f with the ArvCamera* of the open, connected device of that id (a reference held for
// the call); false, without calling f, when there is none.
bool WithOpenArvCamera(const std::string& deviceId, const std::function<void(void*)>& f);
// A connection of its own to a GigE camera by id or address (as another program would have),
// made through the same interface lock as the backend's; an ArvCamera* to g_object_unref, null
// when it cannot be reached.
void* ConnectGigeCamera(const std::string& idOrAddress);
// The Aravis device id behind a listed device name ("" when none).
std::string ArvDeviceId(const std::string& deviceName);

// ---- V4L2 (v4l2_device.cpp)

// A UVC camera's frame into the core's bottom-up raw layout: V4L2_PIX_FMT_GREY to 8-bit mono,
// YUYV and MJPEG to processed BGR (CAMSDK_RAW_BGR8). False when the data is not a whole frame of
// width x height: rows short of `stride`, or an MJPEG frame that is not a sequential JPEG of that
// size (it is not decoded then), damaged or cut short.
bool V4l2ToRaw(std::uint32_t fourcc, const std::uint8_t* data, std::size_t bytes, int width, int height,
               std::size_t stride, std::vector<std::uint8_t>& raw);
// True when the data starts as a JPEG does; nothing else is handed to a decoder as MJPEG.
bool V4l2IsJpeg(const std::uint8_t* data, std::size_t bytes);

// One control as the driver lists it (VIDIOC_QUERYCTRL).
struct V4l2Control {
  std::uint32_t id = 0;
  std::int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  bool disabled = false;
};
// Which panel controls a camera with these controls can serve.
struct V4l2Panel {
  bool exposure = false, autoExposure = false, gain = false;
  bool whiteBalance = false, autoWhiteBalance = false;
  bool brightness = false, contrast = false, saturation = false, sharpness = false, gamma = false;
};
V4l2Panel V4l2MapControls(const std::vector<V4l2Control>& controls);
// The panel controls (CAMSDK_CONTROL_*) such a camera lacks. Exposure and gain need the camera's
// own controls, and the library's automatic exposure needs the exposure; the image and colour
// controls act in the library's ISP, so every camera has them.
std::uint32_t V4l2LackingControls(const V4l2Panel& panel);
// A panel value into the control's range: `value` runs from panelMin to panelMax and lands on
// the control's step grid; the panel's neutral value maps to the control's default.
std::int32_t V4l2ControlValue(const V4l2Control& control, double value, double panelMin, double panelNeutral,
                              double panelMax);

}  // namespace camsdk
