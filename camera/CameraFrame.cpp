// The frame buffer and the frame callback.
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstring>
#include <vector>
#include <shared_mutex>

#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "platform/imglib/imglib.h"

namespace camera_internal {
namespace {
// Callbacks hold the lock shared while they use the camera object; unregistering takes it
// exclusively, so the object never goes away under a running callback.
std::shared_mutex g_instanceLock;
CCameraProcess* g_instance = nullptr;
}  // namespace

void RegisterInstance(CCameraProcess* camera) {
  std::unique_lock lock(g_instanceLock);
  g_instance = camera;
}

void UnregisterInstance(CCameraProcess* camera) {
  std::unique_lock lock(g_instanceLock);
  if (g_instance == camera) g_instance = nullptr;
}

}  // namespace camera_internal

using namespace camera_internal;

namespace {

// The image library numbers colour-filter layouts as the camera library does.
static_assert(KVIMG_RAW_MONO == CAMSDK_PATTERN_MONO && KVIMG_RAW_BAYER_GRBG == CAMSDK_PATTERN_GRBG &&
              KVIMG_RAW_BAYER_RGGB == CAMSDK_PATTERN_RGGB && KVIMG_RAW_BAYER_GBRG == CAMSDK_PATTERN_GBRG &&
              KVIMG_RAW_BAYER_BGGR == CAMSDK_PATTERN_BGGR);

// Largest frame the buffer takes (the image library's limit, too).
bool FrameSizeFits(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width * height * 3 <= KVIMG_MAX_BYTES;
}

std::unique_ptr<std::uint8_t[]> NewPixels(std::size_t bytes) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[bytes]());
}

}  // namespace

int FrameCallback(int handle, unsigned char* raw, CamSdkFrameInfo* frameInfo) {
  std::shared_lock lock(g_instanceLock);
  if (g_instance) g_instance->OnFrame(handle, raw, frameInfo);
  return 1;
}

void DeviceEventCallback(void* /*context*/, int event, int handle, const char* deviceName) {
  std::shared_lock lock(g_instanceLock);
  if (g_instance) g_instance->PostDeviceEvent(event, handle, deviceName ? deviceName : "");
}

void CCameraProcess::PostDeviceEvent(int event, int handle, std::string deviceName) {
  // Queued to the notifier, which goes with this object: a late event is dropped with it.
  QMetaObject::invokeMethod(
      notifier_.get(),
      [this, event, handle, name = std::move(deviceName)] {
        if (deviceEvent_) deviceEvent_(event, handle, name);
      },
      Qt::QueuedConnection);
}

CCameraProcess* CCameraProcess::Instance() {
  std::shared_lock lock(g_instanceLock);
  return g_instance;
}

// Camera thread: nothing here waits for the user-interface thread or draws.
int CCameraProcess::OnFrame(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  if (!raw || !info || info->width <= 0 || info->height <= 0) return 1;
  const int width = info->width, height = info->height;

  if (frameMode_.load() != FrameMode::kPlain) {
    // The focus assistant's picture is brightened to the target. A copy is brightened: the raw
    // frame stays as the sensor gave it, because the library keeps it for the assistant's own
    // grey readings (and every other reader of raw frames).
    thread_local std::vector<unsigned char> brightened;
    const bool rawFormat = CamSdkRawIsValid(info->format);
    const int bytesPerSample = std::max(1, CamSdkRawBytesPerSample(info->format));
    // The frame's own sample width (a 12-bit frame read as 8-bit samples would be mangled); a
    // processed colour frame is taken as one plane of its bytes.
    const int bits = rawFormat ? CamSdkRawBits(info->format) : 8;
    const int planeWidth = rawFormat ? width : width * bytesPerSample;
    const int layout = rawFormat ? CamSdkRawPattern(info->format) : KVIMG_RAW_MONO;
    const std::size_t rawBytes = std::size_t(width) * std::size_t(height) * std::size_t(bytesPerSample);
    int grey = 0;
    if (KvImgGetRawGray(KvImgRaw{raw, planeWidth, height, bits, layout}, &grey) == KVIMG_OK && grey > 0) {
      brightened.assign(raw, raw + rawBytes);
      if (KvImgAdjustBrightness(KvImgRaw{brightened.data(), planeWidth, height, bits, layout}, grey,
                                brightnessTarget_.load()) == KVIMG_OK)
        raw = brightened.data();
    }
  }

  // A frame of the buffer's size is converted straight into the spare buffer, which then
  // changes places with the shown one; any other frame is converted only when the recorder
  // wants it, and otherwise not at all.
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * 3;
  const bool record = recordCount_.load() > 0 && recording_.load() && recordHandle_.load() == handle;
  std::unique_ptr<std::uint8_t[]> spare;
  std::uint64_t generation = 0;
  bool fits = false;
  {
    std::lock_guard lock(frameLock_);
    fits = frameValid_ && format_.biWidth == width && format_.biHeight == height;
    if (fits && back_) {
      spare = std::move(back_);
      generation = bufferGeneration_;
    }
  }
  const std::uint8_t* image = nullptr;
  if (spare) {
    if (CamSdkISPInto(handle, raw, info, spare.get(), bytes) == CAMSDK_STATUS_OK) image = spare.get();
  } else if (fits || record) {
    image = CameraISP(handle, raw, info);
  }

  if (image && record) {
    const int status = CameraRecordFrame(handle, image, info);
    if (status != CAMSDK_STATUS_OK) PostRecordingFault(handle, status);
  }

  bool shown = false;
  if (image) {
    std::lock_guard lock(frameLock_);
    const bool fits = frameValid_ && format_.biWidth == width && format_.biHeight == height;
    if (spare) {
      if (fits && generation == bufferGeneration_) {
        front_.swap(spare);
        shown = true;
      }
    } else if (fits && front_) {
      // The spare buffer is busy with another camera's frame: copy instead.
      std::memcpy(front_.get(), image, bytes);
      shown = true;
    }
    if (shown) {
      lastFrameHandle_ = handle;
      lastFrameInfo_ = *info;
      frameSequence_.fetch_add(1);
    }
  }
  if (spare) {
    std::lock_guard lock(frameLock_);
    if (!back_ && generation == bufferGeneration_) back_ = std::move(spare);
  }

  mainFrame_.load()->FrameStatistics().OnFrame(clock_.load()(), clockFrequency_.load());
  if (shown) PostFrameReady();
  return 1;
}

void CCameraProcess::PostRecordingFault(int handle, int status) {
  // Frames that fail while the notice is pending are covered by it.
  if (recordFaultPending_.exchange(true)) return;
  QMetaObject::invokeMethod(
      notifier_.get(), [this, handle, status] { EndFaultyRecording(handle, status); }, Qt::QueuedConnection);
}

void CCameraProcess::EndFaultyRecording(int handle, int status) {
  recordFaultPending_.store(false);
  // The operator may have stopped it, or started another, meanwhile.
  if (!recording_.load() || recordHandle_.load() != handle) return;
  StopRecording(status);
  lastRecordingFault_ = status;
  if (recordingEnded_) recordingEnded_(status);
}

void CCameraProcess::PostFrameReady() {
  // One notice at a time: frames that come while it is pending are covered by it, and the
  // user-interface thread always shows the newest frame.
  if (framePending_.exchange(true)) return;
  QMetaObject::invokeMethod(notifier_.get(), [this] { ProcessFrameReady(); }, Qt::QueuedConnection);
}

void CCameraProcess::ProcessFrameReady() {
  framePending_.store(false);
  {
    std::lock_guard lock(frameLock_);
    if (!frameValid_) return;
    if (drawMode_.load() == 0) {
      // A frame the library could not show is followed by the next one.
      if (lastFrameHandle_ >= 0) (void)CameraDisplayRGB24(lastFrameHandle_, front_.get(), &lastFrameInfo_);  // superseded
    }
  }
  if (drawMode_.load() != 0 && view_) view_->FrameReady(*this);
  if (panel_ && panel_->IsPanelVisible()) {
    const LayerPanelView mode = panel_->PanelMode();
    if (mode == LayerPanelView::kOverview)
      DrawOverview();
    else if (mode == LayerPanelView::kHistogram)
      DrawHistogram();
  }
}

void CCameraProcess::SetPerformanceClock(PerfCounterFn counter, std::int64_t frequency) {
  if (!counter || frequency <= 0) return;
  clock_.store(counter);
  clockFrequency_.store(frequency);
}

bool CCameraProcess::AllocFrameLocked(const BITMAPINFOHEADER& format, bool withBackBuffer) {
  ++bufferGeneration_;
  frameValid_ = false;
  front_.reset();
  back_.reset();
  format_ = BITMAPINFOHEADER{};
  lastFrameHandle_ = -1;
  if (!FrameSizeFits(format.biWidth, format.biHeight)) return false;
  const std::size_t bytes = std::size_t(format.biWidth) * std::size_t(format.biHeight) * 3;
  front_ = NewPixels(bytes);
  if (withBackBuffer) back_ = NewPixels(bytes);
  if (!front_ || (withBackBuffer && !back_)) {
    front_.reset();
    back_.reset();
    return false;
  }
  format_ = format;
  frameValid_ = true;
  return true;
}

bool CCameraProcess::AllocFrameBuffer(int width, int height) {
  std::lock_guard lock(frameLock_);
  return AllocFrameLocked(MakeFrameFormat(width, height), true);
}

bool CCameraProcess::SetFrameFormat(BITMAPINFOHEADER format) {
  std::lock_guard lock(frameLock_);
  return AllocFrameLocked(format, false);
}

bool CCameraProcess::HasFrame() const {
  std::lock_guard lock(frameLock_);
  return frameValid_;
}

FrameView CCameraProcess::ViewFrame() {
  std::unique_lock lock(frameLock_);
  if (!frameValid_ || !front_) return {};
  const std::size_t bytes = std::size_t(format_.biWidth) * std::size_t(format_.biHeight) * 3;
  return FrameView(std::move(lock), std::span(front_.get(), bytes), format_, bufferGeneration_);
}

FrameView CCameraProcess::NewFrame(const BITMAPINFOHEADER& format) {
  std::unique_lock lock(frameLock_);
  if (!AllocFrameLocked(format, false)) return {};
  const std::size_t bytes = std::size_t(format_.biWidth) * std::size_t(format_.biHeight) * 3;
  return FrameView(std::move(lock), std::span(front_.get(), bytes), format_, bufferGeneration_);
}

void CCameraProcess::GetFrameFormat(BITMAPINFOHEADER* format) const {
  std::lock_guard lock(frameLock_);
  if (format) *format = format_;
}

void CCameraProcess::FreeFrameBuffer() {
  std::lock_guard lock(frameLock_);
  if (!front_ || openedCount_ > 0) return;
  ++bufferGeneration_;
  frameValid_ = false;
  format_ = BITMAPINFOHEADER{};
  front_.reset();
  back_.reset();
  lastFrameHandle_ = -1;
}

bool CCameraProcess::CopyFrame(std::vector<std::uint8_t>* pixels, BITMAPINFOHEADER* format) const {
  std::lock_guard lock(frameLock_);
  if (!frameValid_) return false;
  if (pixels)
    pixels->assign(front_.get(), front_.get() + std::size_t(format_.biWidth) * std::size_t(format_.biHeight) * 3);
  if (format) *format = format_;
  return true;
}

bool CCameraProcess::CopyFrameRgb32(QImage* picture, BITMAPINFOHEADER* format) const {
  std::lock_guard lock(frameLock_);
  if (!frameValid_ || !picture || picture->format() != QImage::Format_RGB32 || picture->width() != format_.biWidth ||
      picture->height() != format_.biHeight)
    return false;
  camera_internal::BgrBottomUpToRgb32(front_.get(), format_.biWidth, format_.biHeight, *picture);
  if (format) *format = format_;
  return true;
}

void CCameraProcess::GetOverviewRect(POINT* topLeft, POINT* bottomRight) const {
  if (topLeft) *topLeft = POINT{overviewRect_.left, overviewRect_.top};
  if (bottomRight) *bottomRight = POINT{overviewRect_.right, overviewRect_.bottom};
}
