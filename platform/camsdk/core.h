#pragma once
// Internals of the camera library core: the parameters a team holds, the ISP tables derived
// from them, the settings file and the video recorder.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/device.h"

namespace camsdk {

struct Window {
  int x = 0, y = 0, width = 0, height = 0;  // width 0: the whole image
};

struct SizeSel {
  int preset = 0;
  int roi = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

// Everything a parameter team holds.
struct Params {
  SizeSel preview, capture;
  int mediaSel = 0;
  int frameSpeed = 1;
  std::uint32_t exposureLines = 0;  // 0: factory exposure (15 ms)
  float analogGain = 1.0f;
  int aeOn = 0, aeMode = CAMSDK_AE_GAIN_AND_EXPOSURE, aeScheme = CAMSDK_AE_SCHEME_FAST, aeTarget = 120;
  Window aeWindow, wbWindow;
  int antiFlick = 0, lightFrequency = CAMSDK_LIGHT_50HZ;
  float gainR = 1.25f, gainG = 1.0f, gainB = 1.6f;
  int awbOn = 0;
  int blackState = 0, blackR = 0, blackG = 0, blackB = 0;
  int gamma = 100, contrast = 100, colorEnhance = 0, saturation = 100, edgeOn = 0, edgeGain = 0;
  int mirrorH = 0, mirrorV = 0, inverse = 0, monochrome = 0;
  int matrixSel = 0;
  std::array<float, 9> matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};
  int deadPixelCorrection = 0;
};

// Factory parameters of a model; Sanitize brings any loaded set into the model's limits.
Params FactoryParams(const ModelInfo& model);
void Sanitize(const ModelInfo& model, Params* p);

// Limits of the controls (also reported in the capability block).
constexpr float kGainMin = 0.0f, kGainMax = 4.0f;
constexpr float kAnalogGainMin = 1.0f, kAnalogGainMax = 16.0f, kAnalogGainStep = 0.125f;
constexpr int kAeTargetMin = 20, kAeTargetMax = 250;
constexpr int kSaturationMin = 0, kSaturationMax = 200;
constexpr int kGammaMin = 10, kGammaMax = 250;
constexpr int kContrastMin = 0, kContrastMax = 200;
constexpr int kSharpnessMin = 0, kSharpnessMax = 100;
constexpr int kBlackMin = -255, kBlackMax = 255;

// Colour-matrix presets (names in the capability block, coefficients here).
struct ColorPresetMatrix {
  CamSdkColorPreset record;
  std::array<float, 9> m;
};
const std::vector<ColorPresetMatrix>& ColorPresets();
const CamSdkColorPreset* ColorPresetRecords();

// Tables of one ISP configuration.
struct IspTables {
  bool colorSensor = true;
  std::array<std::array<std::uint8_t, 256>, 3> lut8{};  // raw 8-bit -> 8-bit, per site colour
  std::vector<std::uint8_t> lut12;                      // 3 x 4096: raw 12-bit -> 8-bit
  bool applyMatrix = false;
  std::array<float, 9> bgrMatrix{};                     // in BGR order for cv::transform
  std::array<std::uint8_t, 256> tone{};                 // gamma, contrast, inverse (in lut8/12)
  float sharpen = 0.0f;
  bool flipH = false, flipV = false;
};
std::shared_ptr<const IspTables> BuildIspTables(const ModelInfo& model, const Params& p);
// Converts raw (format and size of `info`) to bottom-up BGR in out (width x height x 3).
bool RunIsp(const IspTables& t, const unsigned char* raw, const CamSdkFrameInfo& info, unsigned char* out);

// Settings file: teams, current team and dead-pixel info per device name.
struct DeviceSettings {
  int currentTeam = 0;
  std::array<bool, CAMSDK_PARAMETER_TEAMS> saved{};
  std::array<Params, CAMSDK_PARAMETER_TEAMS> teams{};
  std::vector<CamSdkPoint> defects;  // sensor coordinates
};
DeviceSettings LoadDeviceSettings(const ModelInfo& model);
bool SaveDeviceSettings(const ModelInfo& model, const DeviceSettings& settings);

// How a recording ended.
struct RecordSummary {
  int status = CAMSDK_STATUS_OK;  // CAMSDK_STATUS_FILE_ERROR when anything could not be written
  std::uint64_t framesWritten = 0;
  std::uint64_t framesDropped = 0;  // the encoder was behind
  double seconds = 0;               // from the first frame to the end of the last
  double framesPerSecond = 0;       // the rate the file's header gives
  bool fileKept = true;             // false: nothing usable was written and the file was removed
};

// Motion-JPEG AVI writer fed from the frame thread, encoding on worker threads.
class Recorder {
 public:
  virtual ~Recorder() = default;
  // Queues one bottom-up BGR frame: CAMSDK_STATUS_INVALID_PARAMETER when its size is not the
  // recording's, CAMSDK_STATUS_FILE_ERROR once writing failed.
  virtual int Push(const unsigned char* bgrBottomUp, int width, int height) = 0;
  virtual int Close() = 0;  // flushes, closes; CAMSDK_STATUS_FILE_ERROR if anything failed
  virtual const std::string& FileName() const = 0;
  virtual RecordSummary Summary() const = 0;  // final after Close
};
// Test seam: every write of a recording's file goes through `write` (null: the system's).
using RecorderWriteFn = long (*)(int fd, const void* data, unsigned long size);
void SetRecorderWrite(RecorderWriteFn write);
// Creates the file for frames of width x height; null when it cannot be created (the errno in
// LastFileError).
std::unique_ptr<Recorder> StartRecorder(const std::string& fileName, double fps, int jpegQuality, int width,
                                        int height);

}  // namespace camsdk
