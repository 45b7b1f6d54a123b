#pragma once
// The seam between the camera library and the cameras behind it. The library core (streaming,
// automatic functions, ISP, files, parameter teams) talks to cameras only through these
// interfaces. The backends are asked in turn: GenICam cameras (Aravis), UVC cameras (V4L2), then
// the simulated models; real cameras are listed first.
//
// What a backend provides:
// - a ModelInfo per camera model it can drive: the capability block's contents (sizes, media
//   types, frame speeds, line times, exposure and region-of-interest limits), with a device name
//   that is unique among the cameras present;
// - Backend::List (the cameras present now), Present (one model still there) and Open (a Device,
//   or null when it cannot be opened);
// - Device::Read: one frame exposed with the given settings (mode, raw format, exposure, analog
//   gain), written into `raw` as width x height samples of the format's width (one byte, or two
//   little-endian bytes for the wide formats), row 0 first; false once the camera is gone.
//   Read is called on the camera's frame thread (and, for snapshots, on the caller's), never
//   twice at once for one device: the core hands the device to one reader at a time, and a
//   reconfiguration (a new size or format, made inside Read) never meets another read.
//   Cameras that pace themselves implement ReadFrame instead, which can also answer that no
//   whole frame came this time.
// Everything else (timing, automatic exposure and white balance, the ISP, dead-pixel correction,
// files, recording, parameter teams) is the core's, the same for every backend.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/camsdk/camsdk.h"

struct CamSdkSceneGeometry;  // camsdk_testing.h

namespace camsdk {

// Static description of a camera model: everything the capability block and the timing need.
struct ModelInfo {
  const char* key;            // "color", "mono", ...
  const char* productName;
  const char* deviceName;     // unique, listed by CameraGetDevList
  const char* serial;
  int modelId;
  bool color;
  int pattern;                // CAMSDK_PATTERN_* of the sensor
  int sensorWidth, sensorHeight;
  const CamSdkResolution* resolutions;
  int resolutionCount;
  const CamSdkMediaType* mediaTypes;
  int mediaTypeCount;
  int frameSpeedCount;
  std::uint32_t lineTime[3];  // 100 ns units per sensor line, by frame speed
  std::uint32_t maxExposureLines;
  int roiAlignX, roiAlignY, roiAlignW, roiAlignH, roiMinW, roiMinH;
  double rulerPitch;          // sensor pixels per tick at full resolution
  std::uint32_t lackingControls = 0;  // CAMSDK_CONTROL_* the camera cannot serve
};

// What the sensor reads out: the image size, where it lies on the sensor and how it is binned.
struct Mode {
  int width = 0, height = 0;
  int offsetX = 0, offsetY = 0;  // region of interest origin, full-resolution pixels
  double scaleX = 1, scaleY = 1; // image pixels per sensor pixel
  bool sum = false;              // 2x2 summing: four times the signal
  bool roi = false;
  int preset = 0;                // preset index, or the preset count for a region of interest
};

// Sensor settings of one frame.
struct Exposure {
  Mode mode;
  int format = CAMSDK_RAW_MONO8;
  std::uint64_t exposure = 0;   // 100 ns units
  float analogGain = 1.0f;
  bool lensCovered = false;
  double sceneLight = 1.0;      // share of the scene's light on the sensor
  std::uint32_t frameNumber = 0;
  double timeSeconds = 0;       // start of the exposure, for flicker and motion
  // Set while the read should give up waiting for the camera (the camera is being closed, or
  // another reader waits for the device): ReadFrame then answers NoFrame soon.
  const std::atomic<bool>* cancel = nullptr;
};

// What one attempt at reading a frame gave.
enum class ReadResult {
  Frame,       // a whole frame is in `raw`
  Incomplete,  // a frame came but not whole (lost packets, a failed transfer): not a frame
  NoFrame,     // nothing this time (slow camera, cancelled); the camera is still there
  Lost,        // the camera is gone
};

// One open camera device.
class Device {
 public:
  virtual ~Device() = default;
  virtual const ModelInfo& Model() const = 0;
  // Exposes and reads one frame into `raw` (resized to width x height x bytes per sample).
  // Returns false when the device is gone.
  virtual bool Read(const Exposure& exposure, std::vector<std::uint8_t>& raw) = 0;
  // One attempt; by default a Read, which either gives a frame or finds the camera gone.
  virtual ReadResult ReadFrame(const Exposure& exposure, std::vector<std::uint8_t>& raw) {
    return Read(exposure, raw) ? ReadResult::Frame : ReadResult::Lost;
  }
  // Hot pixels seeded in the sensor, sensor coordinates (simulation only; empty elsewhere).
  virtual std::vector<CamSdkPoint> SeededDefects() const { return {}; }
  // Where the simulated scene's features lie (simulation only), for the test harness.
  virtual bool SceneGeometry(const Mode&, CamSdkSceneGeometry*) const { return false; }
  // True when Read waits for the camera's own next frame: the core then reads without pacing.
  virtual bool PacesItself() const { return false; }
};

// How a camera describes itself in the device record beyond its names.
struct DeviceText {
  const char* series = "Q7V USB Camera";
  const char* portType = "Simulated USB3";
  const char* driverVersion = "1.0";
};

// The set of cameras a backend can list and open. A backend's ModelInfo records stay valid for
// the life of the process (the capability block hands out their tables), also after the camera
// left; a camera that comes back gets the same record.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::vector<const ModelInfo*> List() = 0;
  virtual std::unique_ptr<Device> Open(const ModelInfo& model) = 0;
  // Open, saying why it failed (CAMSDK_STATUS_*): NO_DEVICE when the camera is gone, BUSY when
  // another program holds it, FAILED when it refuses to be set up.
  virtual std::unique_ptr<Device> OpenWithStatus(const ModelInfo& model, int* status) {
    std::unique_ptr<Device> device = Open(model);
    *status = device ? CAMSDK_STATUS_OK : CAMSDK_STATUS_NO_DEVICE;
    return device;
  }
  virtual bool Present(const ModelInfo& model) = 0;
  virtual DeviceText Text(const ModelInfo&) const { return {}; }
};

// The backends in the order the core asks them: a test's own (SetBackendOverride), GenICam, V4L2,
// simulation.
std::vector<Backend*> Backends();
// Tells the registered device-event callback (CAMSDK_EVENT_*); backends tell arrivals with it.
// Call with no library lock held.
void NotifyDeviceEvent(int event, int handle, const char* deviceName);
// A backend of a test's, asked before all others; null removes it.
void SetBackendOverride(Backend* backend);
// Runs f on the caller's thread while it alone holds the device of that open camera (the frame
// thread waits meanwhile): for tests that read a real camera's own features back.
CamSdkStatus WithDevice(int handle, const std::function<void()>& f);
Backend& ArvBackend();   // arv_device.cpp: lists nothing when built without Aravis
Backend& V4l2Backend();  // v4l2_device.cpp

// The simulated backend (sim_device.cpp).
Backend& SimBackend();
// Models of the simulation, in list order.
const std::vector<const ModelInfo*>& SimModels();
const ModelInfo* FindSimModel(const std::string& key);
// Presence control of the simulation (test hooks and Q7V_CAMSDK_MODELS).
int SimSetModels(const std::string& keys);
bool SimSetPresent(const std::string& key, bool present);
void SimResetPresence();
// The controls a model lacks, with those a test harness marks lacking.
std::uint32_t LackingControls(const ModelInfo& model);

// Mode of a preset resolution or of a region of interest.
Mode PresetMode(const ModelInfo& model, int preset);
Mode RoiMode(const ModelInfo& model, int x, int y, int width, int height);

}  // namespace camsdk
