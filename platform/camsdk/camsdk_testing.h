#pragma once
// Hooks of the camera library for tests, benchmarks and tools (the camsdk_testing library; the
// program links none of it): the simulated cameras' presence and scene, the call log, failure
// injection, synchronous delivery and full-disk recording.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/camsdk/camsdk.h"

// The models present: keys "color", "mono", "single", "sum", "aligned" (the table in camsdk.h),
// comma-separated; "" for none. Default: the environment variable Q7V_CAMSDK_MODELS, or all five.
// Returns the number of models present, or CAMSDK_STATUS_INVALID_PARAMETER for an unknown key
// (nothing changes then).
int CamSdkTestSetModels(const char* keys);
// Plugs a model in or pulls it out while running. Pulling an open camera stops its frames
// (no callback after the call returns) and every later call on its handle but CameraUnInit
// answers CAMSDK_STATUS_DEVICE_LOST.
int CamSdkTestAttach(const char* key);
int CamSdkTestDetach(const char* key);
// Makes a model report the panel controls of `mask` (CAMSDK_CONTROL_*) as lacking in its
// capability block, as a real camera without them does; 0 restores it. Unknown key:
// CAMSDK_STATUS_INVALID_PARAMETER.
int CamSdkTestSetLackingControls(const char* key, int mask);
// Closes every camera and restores the defaults of all hooks (models, log, failures, timing).
void CamSdkTestReset();

// Call log: every library call with its arguments and result, e.g. "CameraSetGamma(1, 45) = 1".
void CamSdkTestSetCallLog(bool on);
std::vector<std::string> CamSdkTestTakeCallLog();  // returns and clears

// Failure injection: the named function returns `result` without doing anything, the next
// `times` calls (-1: until cleared). CameraISP then returns null.
void CamSdkTestInjectFailure(const char* function, int result, int times = -1);
// Full disk: writes to recording files fail with ENOSPC once `bytes` more bytes were written
// (-1: never, the default; CamSdkTestReset restores it).
void CamSdkTestFailRecordWritesAfter(long long bytes);
void CamSdkTestClearFailures();

// Synchronous delivery: cameras opened while it is on start no frame thread; their frames are
// delivered only by CamSdkTestDeliverFrames, on the caller's thread, while playing. Returns the
// number of callbacks made (0 when not playing) or an error.
void CamSdkTestSetSynchronous(bool on);
int CamSdkTestDeliverFrames(int handle, int count);

// Covers the lens (dark frames, for the dead-pixel info) or uncovers it.
int CamSdkTestSetLensCovered(int handle, int covered);
// The share of the scene's light that reaches the sensor (1 by default): a faint fluorescent
// sample is a small share. Values below 0 count as 0.
int CamSdkTestSetSceneLight(int handle, double share);
// Frame rate the settings in force allow, frames per second.
int CamSdkTestGetNominalFrameRate(int handle, double* framesPerSecond);
// Number of images shown through CameraDisplayRGB24.
int CamSdkTestGetDisplayCount(int handle, std::uint64_t* count);

struct CamSdkRect {
  double x, y, width, height;
};
struct CamSdkCircle {
  double cx, cy, radius;
};
// Where the specimen's features lie in the image in force: displayed orientation (y from the
// top of the displayed picture, no mirroring), pixels, centres of pixels at integer + 0.5.
struct CamSdkSceneGeometry {
  int width, height;
  // Ruler: bottom ends of the first and the last tick (ticks rise from there, the baseline runs
  // between them), the pitch along the ruler and the tick count.
  double rulerX0, rulerY0, rulerX1, rulerY1;
  double rulerPitch;
  int rulerTicks;
  double rulerAngleDeg;     // ruler direction, clockwise as displayed
  CamSdkRect greyPatch;     // neutral 45 % grey
  CamSdkRect whitePatch;    // neutral 90 %
  CamSdkRect blackPatch;    // neutral 3 %
  CamSdkRect colorPatches[6];  // red, green, blue, cyan, magenta, yellow
  CamSdkRect gradient;      // neutral ramp, black at the left to white at the right
  CamSdkCircle circles[2];  // dark rings (2-pixel-wide lines, radius to the line's middle)
  CamSdkCircle disc;        // dark filled disc
  double lineX0, lineY0, lineX1, lineY1;          // a dark line segment
  double angleVertexX, angleVertexY;              // an angle of angleDeg between two dark rays
  double angleEndX0, angleEndY0, angleEndX1, angleEndY1;
  double angleDeg;
  CamSdkRect movingTrack;   // the moving disc stays inside
};
int CamSdkTestGetSceneGeometry(int handle, CamSdkSceneGeometry* geometry);
// Seeded hot pixels in the raw frame of the size in force (raw coordinates: row 0 = raw row 0).
int CamSdkTestGetSeededDefects(int handle, CamSdkPoint* points, int capacity, int* count);

// Set-up of benchmarks and tools: a call that must succeed (a status, or true). Anything else
// ends the process with the call and its answer: nothing measured after a failed set-up would
// mean anything.
inline void CamSdkTestRequire(int status, const char* call) {
  if (status == CAMSDK_STATUS_OK) return;
  std::fprintf(stderr, "camera library set-up failed: %s = %d\n", call, status);
  std::abort();
}
#define CAMSDK_REQUIRE(...) CamSdkTestRequire((__VA_ARGS__), #__VA_ARGS__)

namespace camsdk {
// The GenICam backend, seen from tests. Emits "control-lost" on the open device of that id, as
// Aravis does when a camera's cable is pulled; false when no such device is open.
bool ArvTestControlLost(const std::string& deviceId);
// The ArvCamera* of the open device of that id (null when none or not connected yet), for tests
// that read its features back; only inside WithDevice.
void* ArvTestCamera(const std::string& deviceId);
// A connection of a test's own to a GigE camera by id or address (as another program would
// have); an ArvCamera* to g_object_unref, null when it cannot be reached.
void* ArvTestConnect(const std::string& idOrAddress);
}  // namespace camsdk
