#pragma once
// The settings blocks of the camera object: video recording, image capture, grid and selection
// line, and reports. The option pages edit copies of them; the camera object persists them.
#include <array>
#include <cstdint>

#include "platform/text.h"
#include "platform/types.h"

struct stVideoSetting {
  WString folder;             // where videos go (default: working folder + "/Video")
  std::int32_t codec = 1;     // CameraSetRecordEncoder
  std::int32_t quality = 1;   // CameraSetRecordAVIQuality
  std::int32_t spare = 0;     // set to 0 by every recording toggle
  bool recording = false;     // reported by GetVideoSetting; set only by RecordVideo
  WString prefix = u"Video";  // file name handed to the library
  friend bool operator==(const stVideoSetting&, const stVideoSetting&) = default;
};

struct stCaptureSetting {
  WString imageFolder;              // where captures go (default: working folder + "/Image")
  bool ifMeasure = false;           // save with the measurements drawn in
  std::int32_t imageType = 2;       // file-type mask of the capture command
  bool ifContinuous = false;
  std::int32_t timeInterval = 1000; // ms between continuous captures
  std::int32_t jpegQuality = 255;
  bool ifFrame = false;             // limit continuous capture to frameTotal
  std::int32_t frameTotal = 0;
  WString imageName = u"Capture";   // name stem of captures
  bool useDefaultName = true;
  std::int32_t captureCount = 0;    // running number of captures
  friend bool operator==(const stCaptureSetting&, const stCaptureSetting&) = default;
};

struct stGridSetting {
  std::int32_t gridInterval = 100;
  std::int32_t gridWidth = 1;
  COLORREF gridColor = 0;
  std::int32_t selectLineType = 2;
  std::int32_t selectLineWidth = 1;
  COLORREF selectLineColor = 0x00FF00;
  friend bool operator==(const stGridSetting&, const stGridSetting&) = default;
};

constexpr int kReportHeaderCount = 25;

struct stReportSetting {
  bool useTemplate = false;
  WString wordTemplate;
  WString excelTemplate;
  bool printHeader = true;
  std::array<WString, kReportHeaderCount> headers;  // 0: "Measuring Result", others "user-defined"
  friend bool operator==(const stReportSetting&, const stReportSetting&) = default;
};

// The folders captures and videos go to when the settings name none or one that cannot be made;
// empty (the default) means the working folder's "Image" and "Video".
void SetDefaultMediaFolders(WString images, WString videos);

// Defaults in the running language and the working folder of the moment.
stVideoSetting DefaultVideoSetting();
stCaptureSetting DefaultCaptureSetting();
stReportSetting DefaultReportSetting();
