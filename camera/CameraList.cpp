// The camera list, opening and closing cameras, image sizes and the plain accessors.
#include <QObject>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"

using namespace camera_internal;

namespace {

std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Device names compare byte for byte up to their terminator (or the end of the field).
bool SameDeviceName(const CamSdkDeviceInfo& a, const CamSdkDeviceInfo& b) {
  return std::strncmp(a.deviceName, b.deviceName, sizeof a.deviceName) == 0;
}

}  // namespace

CCameraProcess::CCameraProcess()
    : video_(DefaultVideoSetting()),
      capture_(DefaultCaptureSetting()),
      report_(DefaultReportSetting()),
      notifier_(std::make_unique<QObject>()),
      clock_(&SteadyNanoseconds),
      clockFrequency_(1000000000),
      scaled_(std::make_unique<ScaledCache>()) {
  RegisterInstance(this);
  CamSdkSetDeviceEventCallback(&DeviceEventCallback, nullptr);
  LoadSetting();
}

CCameraProcess::~CCameraProcess() {
  // From here on no frame reaches this object; a callback already inside it is waited for.
  UnregisterInstance(this);
  for (int i = 0; i < kMaxCameraList; ++i)
    if (cameras_[i].state != CAMERA_CLOSED) CloseCamera(i);
  CamSdkWaitRecordVideo();  // the finishing files call back into this object
  std::lock_guard lock(frameLock_);
  frameValid_ = false;
  front_.reset();
  back_.reset();
}

int CCameraProcess::EnumCameras(stCameraItem out[kMaxCameraList], int* count) {
  if (!out || !count) return CAMSDK_STATUS_INVALID_PARAMETER;
  std::vector<CamSdkDeviceInfo> list(kMaxCameraList);  // zeroed
  int n = 0;
  const int rc = CameraGetDevList(list.data(), &n, kMaxCameraList);
  if (rc != CAMSDK_STATUS_OK) {
    *count = 0;
    return rc;
  }
  n = std::clamp(n, 0, kMaxCameraList);
  for (int i = 0; i < n; ++i) out[i].device = list[i];

  // A playing camera keeps its handle and state when its name is listed again; nothing else of
  // the old entry is carried over. Every old entry is looked at (not only the first n), and an
  // open camera that is not carried over (paused, or no longer listed) is closed in the library:
  // left open it could be neither reached from the list nor opened again.
  std::array<int, kMaxCameraList> movedTo;
  movedTo.fill(-1);
  for (int j = 0; j < listedCount_; ++j) {
    if (cameras_[j].state != CAMERA_PLAYING) continue;
    for (int i = 0; i < n; ++i) {
      if (!SameDeviceName(out[i].device, cameras_[j].device)) continue;
      out[i].handle = cameras_[j].handle;
      out[i].state = cameras_[j].state;
      if (movedTo[std::size_t(j)] < 0) movedTo[std::size_t(j)] = i;
    }
  }
  for (int j = 0; j < listedCount_; ++j)
    if (cameras_[j].state != CAMERA_CLOSED && movedTo[std::size_t(j)] < 0) CloseCamera(j);
  // The open slots and the current camera follow their cameras to the new indices.
  for (int& slot : openSlots_)
    if (slot >= 0) slot = movedTo[std::size_t(slot)];
  if (curCamera_ >= 0 && curCamera_ < kMaxCameraList) curCamera_ = movedTo[std::size_t(curCamera_)];
  for (int j = n; j < listedCount_; ++j)
    if (movedTo[std::size_t(j)] >= 0) cameras_[j].state = CAMERA_CLOSED;  // its camera now stands at a new index
  for (int i = 0; i < n; ++i) cameras_[i] = out[i];
  listedCount_ = n;
  *count = n;
  return rc;
}

int CCameraProcess::OpenCamera(int index, const std::int32_t* openParams, void* displayWindow) {
  if (!ValidIndex(index) || openedCount_ >= kMaxOpenCameras) return CAMERA_NO_SLOT;
  stCameraItem& entry = cameras_[index];
  if (entry.state != CAMERA_CLOSED) return CAMERA_NO_SLOT;  // already open
  const int* freeSlot = std::find(std::begin(openSlots_), std::end(openSlots_), -1);
  if (freeSlot == std::end(openSlots_)) return CAMERA_NO_SLOT;
  const int slot = int(freeSlot - std::begin(openSlots_));

  char name[sizeof entry.device.deviceName + 1] = {};
  std::memcpy(name, entry.device.deviceName, sizeof entry.device.deviceName);
  int handle = entry.handle;
  const int rc = CameraInit(&FrameCallback, name, displayWindow, &handle);
  if (rc != CAMSDK_STATUS_OK) return rc;
  entry.handle = handle;
  if (openParams)
    std::memcpy(entry.openParams, openParams, sizeof entry.openParams);
  else
    std::fill(std::begin(entry.openParams), std::end(entry.openParams), 0);
  (void)CameraSetDisplaySize(handle, entry.openParams[kOpenDisplayWidth], entry.openParams[kOpenDisplayHeight]);  // advisory
  // A camera that does not play, or whose picture has no buffer, is not left open: the window
  // would show it live with nothing coming.
  if (const int played = CameraPlay(handle); played != CAMSDK_STATUS_OK) {
    (void)CameraUnInit(handle);  // undoing
    return played;
  }
  entry.state = CAMERA_PLAYING;
  ++openedCount_;
  openSlots_[slot] = index;
  int width = 0, height = 0;
  const int sized = GetImageSize(index, &width, &height);
  if (sized != CAMSDK_STATUS_OK || !AllocFrameBuffer(width, height)) {
    const int current = curCamera_;  // a camera that never opened leaves the choice as it was
    CloseCamera(index);
    curCamera_ = current;
    return sized != CAMSDK_STATUS_OK ? sized : CAMERA_NO_BUFFER;
  }
  return CAMERA_OK;
}

int CCameraProcess::CloseCamera(int index) {
  if (!ValidIndex(index)) return CAMERA_NO_SLOT;
  stCameraItem& entry = cameras_[index];
  if (entry.state == CAMERA_CLOSED) return CAMERA_OK;
  // Closing any camera ends a running recording (on the camera that records).
  if (recording_.load()) StopRecording();
  // Returns only when no callback of this camera runs or will follow. Closing goes on whatever
  // the stop answers (a lost camera answers so); the release's status is the result.
  (void)CameraStop(entry.handle);  // closing
  const int rc = CameraUnInit(entry.handle);
  entry.state = CAMERA_CLOSED;
  for (int& slot : openSlots_)
    if (slot == index) {
      slot = -1;
      break;
    }
  openedCount_ = std::max(0, openedCount_ - 1);
  if (openedCount_ < 1) {
    FreeFrameBuffer();
    curCamera_ = -1;
  }
  return rc;
}

void CCameraProcess::StopAllCameras() {
  for (int i = 0; i < listedCount_; ++i) {
    if (cameras_[i].state == CAMERA_CLOSED) continue;
    curCamera_ = i;
    if (!mainFrame_.load()->OnCameraStop()) CloseCamera(i);
  }
  if (view_) {
    if (CMeasureManager* mm = view_->MeasureManager()) {
      mm->ResetMeasurements();
      mm->RemoveAllRemarks();
    }
  }
  if (editor_) editor_->ClearLayers();
}

int CCameraProcess::GetImageSize(int index, int* width, int* height) const {
  if (index >= kMaxCameraList) return CAMERA_NO_SLOT;
  if (index < 0 || cameras_[index].state == CAMERA_CLOSED) return CAMERA_NOT_OPENED;
  int x = 0, y = 0, w = 0, h = 0;
  const int rc = CameraGetImageSize(cameras_[index].handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
  if (rc != CAMSDK_STATUS_OK) w = h = 0;
  if (width) *width = w;
  if (height) *height = h;
  return rc;
}

int CCameraProcess::SetImageSizeSel(int handle, int selection, int which) {
  const int rc = CameraSetImageSizeSel(handle, selection, which);
  ResetFrameStatistics();
  return rc;
}

int CCameraProcess::SetImageSize(int handle, int roi, int x, int y, int width, int height, int which) {
  const int rc = CameraSetImageSize(handle, roi, x, y, width, height, which);
  (void)CameraSetDisplaySize(handle, width, height);  // advisory
  const int index = IndexOfHandle(handle);
  const int played = index >= 0 ? PlayCamera(index) : CameraPlay(handle);
  ResetFrameStatistics();
  return rc != CAMSDK_STATUS_OK ? rc : played;
}

int CCameraProcess::PlayCamera(int index) {
  if (!ValidIndex(index) || cameras_[index].state == CAMERA_CLOSED) return CAMERA_NOT_OPENED;
  const int rc = CameraPlay(cameras_[index].handle);
  SetStreamState(index, rc == CAMSDK_STATUS_OK ? CAMERA_PLAYING : CAMERA_PAUSED, rc);
  return rc;
}

int CCameraProcess::PauseCamera(int index) {
  if (!ValidIndex(index) || cameras_[index].state == CAMERA_CLOSED) return CAMERA_NOT_OPENED;
  const int rc = CameraPause(cameras_[index].handle);
  // A lost camera plays no more either; any other refusal leaves it as it was.
  if (rc == CAMSDK_STATUS_OK || rc == CAMSDK_STATUS_DEVICE_LOST)
    SetStreamState(index, CAMERA_PAUSED, rc);
  else
    SetStreamState(index, cameras_[index].state, rc);
  return rc;
}

void CCameraProcess::SetStreamState(int index, int state, int status) {
  const bool changed = cameras_[index].state != state;
  cameras_[index].state = state;
  if (changed || status != CAMSDK_STATUS_OK) mainFrame_.load()->OnStreamChanged(index, status);
}

int CCameraProcess::IndexOfHandle(int handle) const {
  for (int i = 0; i < listedCount_; ++i)
    if (cameras_[i].state != CAMERA_CLOSED && cameras_[i].handle == handle) return i;
  return -1;
}

int CCameraProcess::FindOpenSlot(int index) const {
  for (int i = 0; i < kMaxOpenCameras; ++i)
    if (openSlots_[i] == index) return i;
  return -1;
}

bool CCameraProcess::GetCameraItem(int index, stCameraItem* out) const {
  if (!ValidIndex(index) || !out) return false;
  *out = cameras_[index];
  return true;
}

void CCameraProcess::SetCurCamera(int index) {
  if (index >= -1 && index < kMaxCameraList) curCamera_ = index;
}

int CCameraProcess::GetCurCameraItem(stCameraItem* out) const {
  if (curCamera_ >= 0 && out) *out = cameras_[curCamera_];
  return curCamera_;
}

void CCameraProcess::SetCameraOpened(int index, int state) {
  if (ValidIndex(index)) cameras_[index].state = state;
}

void CCameraProcess::SetRoi(bool enable, int left, int top, int right, int bottom) {
  roiEnabled_ = enable;
  roi_ = enable ? RECT{left, top, right, bottom} : RECT{-1, -1, -1, -1};
}

bool CCameraProcess::GetRoi(POINT* origin, POINT* corner) const {
  if (origin) *origin = POINT{roi_.left, roi_.top};
  if (corner) *corner = POINT{roi_.right, roi_.bottom};
  return roiEnabled_;
}
