#pragma once
// Camera library: lists the cameras, opens and streams them, converts raw frames to 24-bit
// BGR, captures files, records video and keeps every camera parameter (four parameter teams
// per camera, persisted in the library's own settings file).
//
// Conventions of every call:
// - Each function returns a CamSdkStatus (an int underneath): CAMSDK_STATUS_OK (1) on success,
//   a negative CAMSDK_STATUS_* code otherwise. CameraISP returns the image pointer (null on
//   failure).
// - The first argument is the camera handle written by CameraInit. An unknown or closed
//   handle yields CAMSDK_STATUS_INVALID_HANDLE; a camera that was unplugged while open yields
//   CAMSDK_STATUS_DEVICE_LOST. Null output pointers yield CAMSDK_STATUS_INVALID_PARAMETER.
// - Every call may be made from any thread; parameter calls from the user-interface thread are
//   safe while frames flow. Frames arrive through the frame callback on the library's own
//   thread (one per open camera), once per frame while playing.
// - CameraPause, CameraStop and CameraUnInit return only when no frame callback of that camera
//   is running and none will follow. Called from inside the camera's own frame callback,
//   CameraPause/CameraStop take effect when the callback returns and CameraUnInit is refused
//   (CAMSDK_STATUS_BUSY).
// - 8-bit strings (device names, resolution and media names, file names) are UTF-8.
// - Exposure times are unsigned 64-bit counts of 100 ns (1 ms = 10000).
//
// Image orientation. The raw frame is the sensor readout, row 0 first. The optics invert the
// picture, so raw row 0 holds the BOTTOM of the scene; CameraISP writes raw row r to image row
// r of a bottom-up DIB, which therefore shows the scene upright (row H-1 of the buffer is the
// top of the displayed picture). A point at displayed (x, y) (y from the top) sits in the raw
// frame at (x, H-1-y); with "V.Flip" on, the ISP reverses the rows, with "H.Flip" the columns.
// Windows (AE, white balance) and the region of interest are given in sensor coordinates: the
// current image's coordinates plus its offset (x, y of CameraGetImageSize; 0 for the preset
// resolutions, the region's origin in full-resolution pixels while a region of interest is in
// force), rows counted from raw row 0.
//
// The simulated cameras (the only backend so far) look at a stage micrometer: a ruler of 101
// ticks (0..100) at a known pitch, centred horizontally 20 % from the top of the displayed
// picture and tilted by 1 degree (clockwise as displayed); plus circles, a line and an angle of
// known size, colour and grey patches, a grey gradient, a disc moving along a track, and a few
// seeded hot (dead) pixels. The tick pitch, in pixels per tick along the ruler:
//
//   model key  device name          resolution          pitch px/tick
//   color      Q7V-UC500C 0001      2592x1944           16
//                                   1296x972             8
//                                    641x480             3.9568  (16 x 641 / 2592)
//   mono       Q7V-UM130 0002       1280x1024            8
//                                    640x512             4
//   single     Q7V-UC200S 0003      1600x1200           10
//                                    800x600             5
//   sum        Q7V-UC300F 0004      2048x1536           12
//                                   1024x768             6
//                                   1024x768 SUM         6   (2x2 summing: 4x brighter)
//   aligned    Q7V-UC2000A 0005     5472x3648           36   (~20 MP; ROI only in steps of 16)
//                                   2736x1824           18
//                                   1368x912             9
//
// A region of interest keeps the full-resolution pitch. In general: pitch = full-resolution
// pitch x image width / sensor width. The testing library's CamSdkTestGetSceneGeometry
// (camsdk_testing.h) gives the exact figures of every feature for the image in force.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Status codes. What a call answers is what the camera did: a caller acts on it (shows what
// the camera is doing, not what it asked for) or says why it need not, e.g.
// `(void)CameraSetDisplaySize(h, w, ht);  // advisory`. The build refuses a status dropped silently.
enum [[nodiscard]] CamSdkStatus : int {
  CAMSDK_STATUS_OK = 1,
  CAMSDK_STATUS_FAILED = -1,
  CAMSDK_STATUS_NOT_SUPPORTED = -2,  // e.g. white balance of a monochrome camera
  CAMSDK_STATUS_INVALID_HANDLE = -3,
  CAMSDK_STATUS_INVALID_PARAMETER = -4,
  CAMSDK_STATUS_NO_DEVICE = -5,       // no listed camera of that name
  CAMSDK_STATUS_BUSY = -6,            // already open, or called from its callback
  CAMSDK_STATUS_TIMEOUT = -7,
  CAMSDK_STATUS_DEVICE_LOST = -8,     // unplugged while open
  CAMSDK_STATUS_BUFFER_TOO_SMALL = -9,
  CAMSDK_STATUS_FILE_ERROR = -10,
  CAMSDK_STATUS_NO_FRAME = -11,
  CAMSDK_STATUS_NOT_RECORDING = -12,
};

// ---------------------------------------------------------------------------------------------
// Limits and enumerations
constexpr int CAMSDK_MAX_DEVICES = 50;      // the list callers pass to CameraGetDevList
constexpr int CAMSDK_PARAMETER_TEAMS = 4;   // teams 0..3 ("A".."D")

// Raw data formats (frame information field `format`, media types, CameraGetImageData):
// bits 0..7 colour layout, bits 8..15 significant bits, bits 16..23 bytes per sample.
// Samples wider than 8 bits are little-endian 16-bit words holding the value in the low bits.
constexpr int CAMSDK_PATTERN_MONO = 0;
constexpr int CAMSDK_PATTERN_GRBG = 1;  // first row G R, second row B G
constexpr int CAMSDK_PATTERN_RGGB = 2;
constexpr int CAMSDK_PATTERN_GBRG = 3;
constexpr int CAMSDK_PATTERN_BGGR = 4;
constexpr int CamSdkRawFormat(int pattern, int bits) { return ((bits > 8 ? 2 : 1) << 16) | (bits << 8) | pattern; }
constexpr int CAMSDK_RAW_MONO8 = CamSdkRawFormat(CAMSDK_PATTERN_MONO, 8);
constexpr int CAMSDK_RAW_MONO12 = CamSdkRawFormat(CAMSDK_PATTERN_MONO, 12);
constexpr int CAMSDK_RAW_GRBG8 = CamSdkRawFormat(CAMSDK_PATTERN_GRBG, 8);
constexpr int CAMSDK_RAW_GRBG12 = CamSdkRawFormat(CAMSDK_PATTERN_GRBG, 12);
constexpr int CAMSDK_RAW_RGGB8 = CamSdkRawFormat(CAMSDK_PATTERN_RGGB, 8);
constexpr int CAMSDK_RAW_RGGB12 = CamSdkRawFormat(CAMSDK_PATTERN_RGGB, 12);
constexpr int CAMSDK_RAW_GBRG8 = CamSdkRawFormat(CAMSDK_PATTERN_GBRG, 8);
constexpr int CAMSDK_RAW_GBRG12 = CamSdkRawFormat(CAMSDK_PATTERN_GBRG, 12);
constexpr int CAMSDK_RAW_BGGR8 = CamSdkRawFormat(CAMSDK_PATTERN_BGGR, 8);
constexpr int CAMSDK_RAW_BGGR12 = CamSdkRawFormat(CAMSDK_PATTERN_BGGR, 12);
// Processed colour (cameras that deliver colour, not a Bayer mosaic): three bytes per pixel in
// B, G, R order. The ISP skips demosaicing for it.
constexpr int CAMSDK_PATTERN_BGR = 5;
constexpr int CAMSDK_RAW_BGR8 = (3 << 16) | (8 << 8) | CAMSDK_PATTERN_BGR;
constexpr int CamSdkRawPattern(int format) { return format & 0xFF; }
constexpr int CamSdkRawBits(int format) { return (format >> 8) & 0xFF; }
constexpr int CamSdkRawBytesPerSample(int format) { return (format >> 16) & 0xFF; }
constexpr bool CamSdkRawIsValid(int format) {
  if (format == CAMSDK_RAW_BGR8) return true;
  return CamSdkRawPattern(format) <= CAMSDK_PATTERN_BGGR &&
         ((CamSdkRawBits(format) == 8 && CamSdkRawBytesPerSample(format) == 1) ||
          (CamSdkRawBits(format) == 12 && CamSdkRawBytesPerSample(format) == 2)) &&
         (format >> 24) == 0;
}
// The 8-bit format of the same layout.
constexpr int CamSdkRaw8Of(int format) { return CamSdkRawFormat(CamSdkRawPattern(format), 8); }

// CameraCaptureFile file types: a bit mask, one file per bit, extension appended by the library.
constexpr int CAMSDK_FILE_JPG = 1;  // ".jpg", quality 1..100 (larger values count as 100)
constexpr int CAMSDK_FILE_BMP = 2;  // ".bmp", 24-bit
constexpr int CAMSDK_FILE_RAW = 4;  // ".raw", the raw samples, no header, laid out as the BMP shows them (top row first)
constexpr int CAMSDK_FILE_PNG = 8;  // ".png", 24-bit

// AE modes (CameraSetAeMode): what automatic exposure regulates.
constexpr int CAMSDK_AE_GAIN_AND_EXPOSURE = 0;
constexpr int CAMSDK_AE_EXPOSURE_ONLY = 1;
constexpr int CAMSDK_AE_GAIN_ONLY = 2;
// AE schemes (CameraSetAeScheme): how fast and where AE settles.
constexpr int CAMSDK_AE_SCHEME_OLD = 0;                // slow, smooth
constexpr int CAMSDK_AE_SCHEME_FAST = 1;
constexpr int CAMSDK_AE_SCHEME_FAST_MICROSCOPE = 2;    // fast, prefers exposure over gain
constexpr int CAMSDK_AE_SCHEME_FLUOROCHROME = 3;       // allows long exposures (up to 5 s)

// Light frequency (CameraSetLightFrequency) with anti-flicker on: AE chooses exposures in whole
// periods of the lamps' flicker (10 ms at 50 Hz, 8.333 ms at 60 Hz).
constexpr int CAMSDK_LIGHT_50HZ = 0;
constexpr int CAMSDK_LIGHT_60HZ = 1;

// Mirror directions (CameraSetMirror / CameraGetMirror).
constexpr int CAMSDK_MIRROR_HORIZONTAL = 0;
constexpr int CAMSDK_MIRROR_VERTICAL = 1;

// Image size selections (CameraGet/SetImageSize(Sel)): the preview stream or the capture.
constexpr int CAMSDK_SIZE_PREVIEW = 0;
constexpr int CAMSDK_SIZE_CAPTURE = 1;

// Frame speeds (CameraSetFrameSpeed): 0 low, 1 normal, 2 high (as many as the camera offers).
constexpr int CAMSDK_FRAME_SPEED_LOW = 0;
constexpr int CAMSDK_FRAME_SPEED_NORMAL = 1;
constexpr int CAMSDK_FRAME_SPEED_HIGH = 2;

// Video (CameraSetRecordEncoder): 1 is the one codec offered and is written as a Motion-JPEG
// AVI; 0 means the same. The file's header gives the rate the frames came at. Quality (CameraSetRecordAVIQuality): 0 low, 1 middle, 2 high.
constexpr int CAMSDK_CODEC_DEFAULT = 0;
constexpr int CAMSDK_CODEC_MJPEG = 1;

// Panel controls a camera can lack (CamSdkCapability::lackingControls): neither the camera nor
// the library serves them for it, so a control panel keeps them disabled. The simulated cameras
// lack none (tests can mark some lacking).
constexpr int CAMSDK_CONTROL_EXPOSURE = 1;       // manual exposure time (and the focus assistant)
constexpr int CAMSDK_CONTROL_AUTO_EXPOSURE = 2;  // automatic exposure, its window and anti-flicker
constexpr int CAMSDK_CONTROL_ANALOG_GAIN = 4;
constexpr int CAMSDK_CONTROL_WHITE_BALANCE = 8;  // colour gains, once, regional and automatic
constexpr int CAMSDK_CONTROL_GAMMA = 16;
constexpr int CAMSDK_CONTROL_CONTRAST = 32;
constexpr int CAMSDK_CONTROL_SATURATION = 64;
constexpr int CAMSDK_CONTROL_SHARPNESS = 128;
constexpr int CAMSDK_CONTROL_ALL = 255;

// ---------------------------------------------------------------------------------------------
// Records

// One listed camera. 580 bytes; the device name (NUL-terminated) sits at byte 196 and is what
// CameraInit takes and what callers compare byte for byte.
struct CamSdkDeviceInfo {
  char productSeries[64];
  char productName[64];     // the model, e.g. "Q7V-UC500C"
  char friendlyName[64];
  std::int32_t modelId;
  char deviceName[64];      // e.g. "Q7V-UC500C 0001", unique among the listed cameras
  char serialNumber[32];
  char sensorType[32];
  char portType[32];
  char driverVersion[32];
  std::int32_t instance;
  char reserved[188];
};
static_assert(sizeof(CamSdkDeviceInfo) == 580);
static_assert(offsetof(CamSdkDeviceInfo, deviceName) == 196);

// Handed to the frame callback with every raw frame and passed back unchanged to CameraISP,
// CameraDisplayRGB24 and CameraRecordFrame. format at byte 0, height at 8, width at 12.
struct CamSdkFrameInfo {
  std::int32_t format;        // CAMSDK_RAW_*
  std::int32_t bytes;         // size of the raw data: width x height x bytes per sample
  std::int32_t height;
  std::int32_t width;
  std::uint32_t frameNumber;  // counts from 0 after CameraInit
  std::int32_t offsetX;       // image origin in sensor coordinates (region of interest)
  std::int32_t offsetY;
  float analogGain;
  std::uint64_t exposure;     // 100 ns units in force for this frame
  std::uint64_t timestampUs;  // steady clock, microseconds
  std::int32_t reserved[4];
};
static_assert(offsetof(CamSdkFrameInfo, format) == 0);
static_assert(offsetof(CamSdkFrameInfo, height) == 8);
static_assert(offsetof(CamSdkFrameInfo, width) == 12);

// The area filled by CameraGetImageSize: 56 bytes; `roi` (the first int) is 0 for a preset
// resolution and 1 while a region of interest is in force.
struct CamSdkImageSizeArea {
  std::int32_t roi;
  std::int32_t index;        // preset index; the preset count while a region of interest is in force
  std::int32_t offsetX;
  std::int32_t offsetY;
  std::int32_t width;
  std::int32_t height;
  std::int32_t binning;      // 1, or 2 for half-size presets
  std::int32_t sum;          // 1 for summing (brighter) presets
  std::int32_t sensorWidth;
  std::int32_t sensorHeight;
  std::int32_t reserved[4];
};
static_assert(sizeof(CamSdkImageSizeArea) == 56);

// One preset resolution, 68 bytes: name (e.g. "1296×972 SUM", "×" in UTF-8) from byte 4, width
// at byte 52, height at 56 (ints 13 and 14 of 17).
struct CamSdkResolution {
  std::int32_t index;
  char name[48];
  std::int32_t width;
  std::int32_t height;
  std::int32_t sum;          // non-zero: summing resolution (brighter frames)
  std::int32_t binning;      // 1 full field ... (sensor width / width, rounded)
};
static_assert(sizeof(CamSdkResolution) == 68);
static_assert(offsetof(CamSdkResolution, width) == 52);
static_assert(offsetof(CamSdkResolution, height) == 56);

// One media (raw data) type, 40 bytes: name from byte 4.
struct CamSdkMediaType {
  std::int32_t index;
  char name[32];             // "RAW8", "RAW12"
  std::int32_t format;       // CAMSDK_RAW_*
};
static_assert(sizeof(CamSdkMediaType) == 40);

// One preset colour matrix, 36 bytes: an int, then the name in a 32-byte field.
struct CamSdkColorPreset {
  std::int32_t index;
  char name[32];
};
static_assert(sizeof(CamSdkColorPreset) == 36);

// Limits that are not simple slider ranges.
struct CamSdkRangeRecord {
  std::int32_t aeTargetMin;
  std::int32_t aeTargetMax;
  float analogGainMin;
  float analogGainMax;
  float analogGainStep;      // analog gain is quantised to this step (0.125)
  std::int32_t blackLevelMin;
  std::int32_t blackLevelMax;
  std::int32_t reserved;
};

// The capability block (CameraGetCapability). The pointers refer to tables owned by the library
// that stay valid for the life of the process (also after the camera is closed).
struct CamSdkCapability {
  std::int32_t colorSensor;  // non-zero: colour sensor
  std::int32_t monoSensor;   // non-zero: monochrome sensor (always !colorSensor)
  float redGainMin, redGainMax;
  float greenGainMin, greenGainMax;
  float blueGainMin, blueGainMax;
  std::int32_t saturationMin, saturationMax;   // 100 = neutral
  std::int32_t gammaMin, gammaMax;             // gamma x 100; 100 = linear
  std::int32_t contrastMin, contrastMax;       // 100 = neutral
  std::int32_t sharpnessMin, sharpnessMax;     // edge gain
  const CamSdkRangeRecord* range;
  const CamSdkResolution* resolutions;
  std::int32_t resolutionCount;
  const CamSdkMediaType* mediaTypes;
  std::int32_t mediaTypeCount;
  std::int32_t frameSpeedCount;                // 1 to 3
  const CamSdkColorPreset* colorPresets;
  std::int32_t colorPresetCount;
  std::int32_t sensorWidth, sensorHeight;
  std::int32_t roiAlignX, roiAlignY;           // region of interest origin steps
  std::int32_t roiAlignWidth, roiAlignHeight;  // region of interest size steps
  std::int32_t roiMinWidth, roiMinHeight;
  std::int32_t parameterTeams;                 // 4
  std::int32_t lackingControls;                // CAMSDK_CONTROL_* bits; 0: the camera has them all
};

// A pixel of the raw frame (dead-pixel lists).
struct CamSdkPoint {
  int x, y;
};

// ---------------------------------------------------------------------------------------------
// Callbacks

// Called on the library's thread for every frame while playing; the raw data and the frame
// information are valid until it returns. The result is ignored (return 1).
using CamSdkFrameCallback = int (*)(int handle, unsigned char* raw, CamSdkFrameInfo* frameInfo);

// Where CameraDisplayRGB24 shows a frame: the library has no windows of its own, so the
// application gives it a drawing function (optional; without one the frames are only counted).
// Called on the thread that called CameraDisplayRGB24, with the image as handed over
// (bottom-up BGR, rows unpadded) and the display window given to CameraInit.
using CamSdkDisplaySink = void (*)(void* context, int handle, const unsigned char* bgrBottomUp,
                                   int width, int height, void* displayWindow);

// ---------------------------------------------------------------------------------------------
// Listing, opening, streaming

// Fills up to `capacity` records (the callers pass a list of CAMSDK_MAX_DEVICES) and writes
// how many were filled to *count.
CamSdkStatus CameraGetDevList(CamSdkDeviceInfo* list, int* count, int capacity = CAMSDK_MAX_DEVICES);
// Opens the listed camera of that name and writes its handle. The camera starts stopped; the
// parameters are those of its current parameter team (factory defaults when none was saved).
// A camera that cannot be opened: CAMSDK_STATUS_NO_DEVICE when it is gone, CAMSDK_STATUS_BUSY
// when it is open here already or another program holds it, CAMSDK_STATUS_FAILED when it
// refuses to be set up for streaming.
CamSdkStatus CameraInit(CamSdkFrameCallback callback, const char* deviceName, void* displayWindow, int* handle);
CamSdkStatus CameraUnInit(int handle);
CamSdkStatus CameraPlay(int handle);
CamSdkStatus CameraPause(int handle);
CamSdkStatus CameraStop(int handle);

// ---------------------------------------------------------------------------------------------
// Sizes

// Image size in force for the preview stream (which = CAMSDK_SIZE_PREVIEW) or the capture
// (CAMSDK_SIZE_CAPTURE): origin x, y (sensor coordinates), width, height. `area` may be null.
CamSdkStatus CameraGetImageSize(int handle, CamSdkImageSizeArea* area, int* x, int* y, int* width, int* height, int which);
// roi 1: a region of interest at (x, y) of width x height full-resolution pixels; it must lie on
// the sensor and follow the camera's alignment (capability roiAlign*, roiMin*), otherwise
// CAMSDK_STATUS_INVALID_PARAMETER and nothing changes. roi 0: the first preset resolution.
CamSdkStatus CameraSetImageSize(int handle, int roi, int x, int y, int width, int height, int which);
// Preset index in force; the preset count while a region of interest is in force.
CamSdkStatus CameraGetImageSizeSel(int handle, int* index, int which);
CamSdkStatus CameraSetImageSizeSel(int handle, int index, int which);
// Size of the window the application shows the frames in (kept, handed to the display sink).
CamSdkStatus CameraSetDisplaySize(int handle, int width, int height);

// ---------------------------------------------------------------------------------------------
// Frame path

// Converts one raw frame to a bottom-up 24-bit BGR image (width x height x 3 bytes, rows
// unpadded) with every image control of the camera applied. The buffer belongs to the library
// and the calling thread: valid until that thread's next CameraISP call (in the frame callback:
// until the callback returns). Null on failure (bad handle, format or size).
unsigned char* CameraISP(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo);
// Converts raw into a caller's buffer of `capacity` bytes (at least width x height x 3).
CamSdkStatus CamSdkISPInto(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo,
                  unsigned char* bgrBottomUp, std::size_t capacity);
// Shows a converted image (bottom-up BGR of the frame information's size) through the display
// sink, if any.
CamSdkStatus CameraDisplayRGB24(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo);
CamSdkStatus CamSdkSetDisplaySink(int handle, CamSdkDisplaySink sink, void* context);
// Takes one raw frame: the next frame of the stream while playing (waits up to the frame time
// plus one second), else one exposed on the spot. `mediaType` is the format wanted
// (CAMSDK_RAW_*, normally CameraGetMediaType's answer); a wider format than fits is delivered as
// 8-bit and frameInfo says so. `capacity` is the buffer size in bytes; 0 means "width x height
// bytes of the size last reported by CameraGetImageSize", which is what callers allocate. A
// frame larger than the buffer is never copied (CAMSDK_STATUS_BUFFER_TOO_SMALL).
CamSdkStatus CameraGetImageData(int handle, unsigned char* buffer, int mediaType, CamSdkFrameInfo* frameInfo,
                       std::size_t capacity = 0);

// ---------------------------------------------------------------------------------------------
// Capture and recording

// Writes the latest image at the capture size as "<fileName>.<ext>" for each bit of fileTypes
// (CAMSDK_FILE_*). A capture size other than the stream's is exposed on the spot.
CamSdkStatus CameraCaptureFile(int handle, const char* fileName, int fileTypes, int quality);
CamSdkStatus CameraSetRecordEncoder(int handle, int codec);
CamSdkStatus CameraSetRecordAVIQuality(int handle, int quality);
// Starts a Motion-JPEG AVI named "<path>_<yyyyMMdd-hhmmss>[_n].avi" (the folder must exist); the
// frames are those handed to CameraRecordFrame. The file is created here, for frames of the
// preview size in force: CAMSDK_STATUS_FILE_ERROR, and no recording, when it cannot be.
CamSdkStatus CameraStartRecordVideo(int handle, const char* pathWithoutExtension);
// Hands one converted image (as CameraISP returns it) to the recorder. Frames of another size
// than the recording's are refused (CAMSDK_STATUS_INVALID_PARAMETER); the file keeps what it has.
CamSdkStatus CameraRecordFrame(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo);
CamSdkStatus CameraStopRecordVideo(int handle);
// How a recording ended. fileName stays valid during the callback only.
struct CamSdkRecordSummary {
  int status;                        // CAMSDK_STATUS_OK, or CAMSDK_STATUS_FILE_ERROR
  unsigned long long framesWritten;
  unsigned long long framesDropped;  // the encoder was behind and the frames were not taken
  double seconds;                    // the recording's length, as the file plays it
  double framesPerSecond;            // the rate in the file's header (the measured one)
  int fileKept;                      // 0: nothing usable was written and the file was removed
  const char* fileName;
  unsigned long long framesIncomplete;  // frames that came damaged while recording (not written)
};
typedef void (*CamSdkRecordDone)(void* context, const CamSdkRecordSummary* summary);
// As CameraStopRecordVideo, but returns at once: no frame is taken after it returns, and the
// file is finished on a thread of the library's, which then calls `done` (may be null).
// CamSdkWaitRecordVideo waits until every file being finished is closed.
CamSdkStatus CamSdkStopRecordVideoAsync(int handle, CamSdkRecordDone done, void* context);
void CamSdkWaitRecordVideo();
// Frames the camera sent damaged (lost packets, a failed transfer) since it was opened. They are
// never delivered, shown, counted as frames or recorded.
CamSdkStatus CamSdkGetIncompleteFrames(int handle, unsigned long long* count);
// Full name of the video file being written, or of the last one written ("" before any).
CamSdkStatus CamSdkGetRecordFileName(int handle, char* buffer, int capacity);

// ---------------------------------------------------------------------------------------------
// Controls (getters write through the pointers; ranges in the capability block). Exposure and
// analog gain are clamped to their limits, as a sensor does; any other value outside its range
// is refused with CAMSDK_STATUS_INVALID_PARAMETER and changes nothing. Changes apply from the
// next frame.

CamSdkStatus CameraGetCapability(int handle, CamSdkCapability* capability);

// Exposure: quantised to the sensor's line time (read-back is what is in force), limited to
// [minimum, maximum] of the frame speed in force; longer exposures lower the frame rate.
CamSdkStatus CameraSetExposureTime(int handle, std::uint64_t exposure);
CamSdkStatus CameraGetExposureTime(int handle, std::uint64_t* exposure, std::uint64_t* maximum, std::uint64_t* minimum);
CamSdkStatus CameraSetAnalogGain(int handle, float gain);     // 1.0 .. 16.0 in steps of 0.125
CamSdkStatus CameraGetAnalogGain(int handle, float* gain);

CamSdkStatus CameraSetAeState(int handle, int on);
CamSdkStatus CameraGetAeState(int handle, int* on);
CamSdkStatus CameraSetAeMode(int handle, int mode);           // CAMSDK_AE_*
CamSdkStatus CameraGetAeMode(int handle, int* mode);
CamSdkStatus CameraSetAeScheme(int handle, int scheme);       // CAMSDK_AE_SCHEME_*
CamSdkStatus CameraGetAeScheme(int handle, int* scheme);
CamSdkStatus CameraSetAeTarget(int handle, int target);       // mean raw level (8-bit) AE aims at
CamSdkStatus CameraGetAeTarget(int handle, int* target);
CamSdkStatus CameraSetAEWindow(int handle, int x, int y, int width, int height);  // clipped to the image
CamSdkStatus CameraSetAntiFlick(int handle, int on);
CamSdkStatus CameraGetAntiFlick(int handle, int* on);
CamSdkStatus CameraSetLightFrequency(int handle, int frequency);  // CAMSDK_LIGHT_*
CamSdkStatus CameraGetLightFrequency(int handle, int* frequency);
CamSdkStatus CameraSetFrameSpeed(int handle, int speed);      // 0 .. frameSpeedCount - 1
CamSdkStatus CameraGetFrameSpeed(int handle, int* speed);

// Colour gains (white balance), 0.0 .. 4.0; monochrome cameras: CAMSDK_STATUS_NOT_SUPPORTED.
CamSdkStatus CameraSetGain(int handle, float red, float green, float blue);
CamSdkStatus CameraGetGain(int handle, float* red, float* green, float* blue);
// One white balance over the white-balance window, done with the next frame.
CamSdkStatus CameraSetOnceWB(int handle);
CamSdkStatus CameraSetWBWindow(int handle, int x, int y, int width, int height);
CamSdkStatus CameraSetAWBState(int handle, int on);
CamSdkStatus CameraGetAWBState(int handle, int* on);          // CAMSDK_STATUS_NOT_SUPPORTED on mono

// Black level: the three levels (red, green, blue sites; 8-bit raw units) are subtracted from
// the raw data by the ISP while the black-level state is on. `bound` limits their magnitude
// (|level| <= bound, and always -255..255).
CamSdkStatus CameraSetBlackLevelState(int handle, int on);
CamSdkStatus CameraSetBlackLevel(int handle, int red, int green, int blue, int bound);
// Writes the green level and the library's range.
CamSdkStatus CameraGetBlackLevel(int handle, int* level, int* minimum, int* maximum);

CamSdkStatus CameraSetGamma(int handle, int gamma);           // gamma x 100: larger darkens mid-tones
CamSdkStatus CameraGetGamma(int handle, int* gamma);
CamSdkStatus CameraSetContrast(int handle, int contrast);     // 100 neutral; larger spreads the tones
CamSdkStatus CameraGetContrast(int handle, int* contrast);
CamSdkStatus CameraSetColorEnhancement(int handle, int on);   // saturation applies only while on
CamSdkStatus CameraSetSaturation(int handle, int saturation); // 100 neutral, 0 grey
CamSdkStatus CameraGetSaturation(int handle, int* saturation);
CamSdkStatus CameraSetEdgeEnhance(int handle, int on);
CamSdkStatus CameraGetEdgeEnhance(int handle, int* on);
CamSdkStatus CameraSetEdgeGain(int handle, int gain);         // sharpness, applies while edge enhance is on
CamSdkStatus CameraGetEdgeGain(int handle, int* gain);
CamSdkStatus CameraSetMirror(int handle, int direction, int on);
CamSdkStatus CameraGetMirror(int handle, int direction, int* on);
CamSdkStatus CameraSetInverse(int handle, int on);
CamSdkStatus CameraGetInverse(int handle, int* on);
CamSdkStatus CameraSetMonochrome(int handle, int on);
CamSdkStatus CameraGetMonochrome(int handle, int* on);

// Colour matrix: a preset by index, or nine coefficients (row order: R' = m0 R + m1 G + m2 B
// ...); after CameraApplyColorMatrix the preset index reads -1.
CamSdkStatus CameraSetRgbMatrixSel(int handle, int index);
CamSdkStatus CameraGetRgbMatrixSel(int handle, int* index);
CamSdkStatus CameraApplyColorMatrix(int handle, const float matrix[9]);

// Media type: index into the capability's media list; CameraGetMediaType gives its format.
CamSdkStatus CameraSetMediaTypeSel(int handle, int index);
CamSdkStatus CameraGetMediaTypeSel(int handle, int* index);
CamSdkStatus CameraGetMediaType(int handle, int* format);

// Dead pixels: the correction replaces the pixels listed in the camera's correction info by the
// mean of their same-colour neighbours, in the raw data. CameraCreateDefectCorrectionInfo
// exposes a few frames with the settings in force (the lens covered: a dark frame), finds the
// pixels that stand out and keeps them (persisted with the camera's settings).
CamSdkStatus CameraSetDeadPixelCorrectionState(int handle, int on);
CamSdkStatus CameraGetDeadPixelCorrectionState(int handle, int* on);
CamSdkStatus CameraCreateDefectCorrectionInfo(int handle);

// Parameter teams 0..3: Save stores the parameters in force into the team and makes it the
// current team; Read loads a team (factory defaults when never saved); LoadDefault loads the
// factory defaults (saved only by a later Save). Teams, the current team and the dead-pixel info
// persist in the library's settings file.
CamSdkStatus CameraSaveParameter(int handle, int team);
CamSdkStatus CameraReadParameter(int handle, int team);
CamSdkStatus CameraLoadDefaultParameter(int handle);
CamSdkStatus CameraGetCurrentParameterTeam(int handle, int* team);

// Device events. A camera that was open and has gone (unplugged, or its link failed) is
// reported once with CAMSDK_EVENT_DEVICE_LOST and its handle; every later call on that handle but
// CameraStopRecordVideo and CameraUnInit answers CAMSDK_STATUS_DEVICE_LOST. A camera plugged in
// is reported with CAMSDK_EVENT_DEVICE_ARRIVED and handle -1 (list the cameras again to open it).
// The callback runs on whichever thread noticed (a camera's frame thread, or the thread that
// plugged), never under a library lock and never inside a frame callback; it must not block and
// must not call into the library. Null clears it.
constexpr int CAMSDK_EVENT_DEVICE_LOST = 1;
constexpr int CAMSDK_EVENT_DEVICE_ARRIVED = 2;
using CamSdkDeviceEventCallback = void (*)(void* context, int event, int handle, const char* deviceName);
void CamSdkSetDeviceEventCallback(CamSdkDeviceEventCallback callback, void* context);

// Folder of the library's settings file ("camsdk-params.ini"). Default: the environment
// variable Q7V_CAMSDK_CONFIG_DIR, else $XDG_CONFIG_HOME/q7v-camsdk, else ~/.config/q7v-camsdk.
// Applies to cameras opened afterwards. Null or "" restores the default.
void CamSdkSetConfigDir(const char* folder);
std::string CamSdkConfigDir();
