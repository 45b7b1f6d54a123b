// Listing, opening and closing cameras, and streaming: each open camera's frame thread reads a
// frame per period from its device, runs the automatic functions and hands the frame to the
// frame callback.
#include <algorithm>
#include <cstring>

#include <opencv2/core.hpp>

#include "platform/camsdk/handles.h"

namespace camsdk {

const Clock::time_point kEpoch = Clock::now();
thread_local Camera* tlsDelivering = nullptr;

namespace {

#if defined(__SANITIZE_THREAD__)
// OpenCV's worker pool is not instrumented: ThreadSanitizer cannot see its synchronisation
// and would report every parallel loop as a race. Sanitized builds run OpenCV serially.
const bool kSerialOpenCv = (cv::setNumThreads(0), true);
#endif

void StreamLoop(Camera* c) {
  std::unique_lock<std::mutex> lock(c->mu);
  Clock::time_point next = Clock::now();
  while (!c->quit) {
    if (c->run != Run::Playing || c->lost) {
      c->cv.wait(lock, [&] { return c->quit || (c->run == Run::Playing && !c->lost); });
      c->timingChanged = false;
      next = Clock::now() + std::chrono::nanoseconds(Period(*c) * 100);
      c->lastStart = Clock::now();
      continue;
    }
    if (c->device->PacesItself()) {  // a real camera's frames come at its own rate
      c->timingChanged = false;
      c->lastStart = Clock::now();
      DeliverOne(*c, lock);
      continue;
    }
    const auto period = std::chrono::nanoseconds(Period(*c) * 100);
    if (c->timingChanged) {
      c->timingChanged = false;
      next = c->lastStart + period;
    }
    const auto now = Clock::now();
    if (now < next) {
      c->cv.wait_until(lock, next);
      continue;
    }
    c->lastStart = next;
    next = now - next > period ? now + period : next + period;  // fell behind: no burst
    DeliverOne(*c, lock);
  }
}

// Frames stop at once; a read in progress may finish, but its frame is not delivered.
int PauseOrStop(int handle, Run target) {
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    c.run = target;
    c.cv.notify_all();
    if (tlsDelivering != &c) c.cv.wait(lock, [&] { return !c.delivering; });
    return CAMSDK_STATUS_OK;
  });
}

void CopyText(char* dst, std::size_t cap, const char* src) {
  std::strncpy(dst, src, cap - 1);
  dst[cap - 1] = '\0';
}

}  // namespace

namespace {
std::atomic<Backend*> gBackendOverride{nullptr};
}  // namespace

void SetBackendOverride(Backend* backend) { gBackendOverride.store(backend); }

std::vector<Backend*> Backends() {
  std::vector<Backend*> all;
  if (Backend* test = gBackendOverride.load()) all.push_back(test);
  for (Backend* b : {&ArvBackend(), &V4l2Backend(), &SimBackend()}) all.push_back(b);
  return all;
}

Registry& Reg() {
  static Registry registry;
  return registry;
}

std::shared_ptr<Camera> Find(int handle) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.cams.find(handle);
  return it == r.cams.end() ? nullptr : it->second;
}

void Changed(Camera& c, bool timing) {
  c.isp.reset();
  if (timing) {
    c.timingChanged = true;
    c.cv.notify_all();
  }
}

std::uint64_t Period(const Camera& c) {
  const Mode m = ModeOf(c.model, c.p.preview);
  const std::uint64_t readout = std::uint64_t(m.height + 16) * LineTime(c);
  return std::max(readout, ExposureOf(c) + LineTime(c));
}

std::shared_ptr<const IspTables> Isp(Camera& c) {
  if (!c.isp) c.isp = BuildIspTables(c.model, c.p);
  return c.isp;
}

namespace {

Exposure MakeExposure(const Camera& c, const SizeSel& sel) {
  Exposure e;
  e.mode = ModeOf(c.model, sel);
  e.format = FormatOf(c);
  e.exposure = ExposureOf(c);
  e.analogGain = c.p.analogGain;
  e.lensCovered = c.lensCovered;
  e.sceneLight = c.sceneLight;
  e.frameNumber = c.frameNumber;
  e.timeSeconds = c.synchronous ? c.syncTime : std::chrono::duration<double>(Clock::now() - kEpoch).count();
  return e;
}

CamSdkFrameInfo MakeInfo(const Exposure& e, std::size_t bytes) {
  CamSdkFrameInfo info{};
  info.format = e.format;
  info.bytes = int(bytes);
  info.width = e.mode.width;
  info.height = e.mode.height;
  info.frameNumber = e.frameNumber;
  info.offsetX = e.mode.roi ? e.mode.offsetX : 0;
  info.offsetY = e.mode.roi ? e.mode.offsetY : 0;
  info.analogGain = e.analogGain;
  info.exposure = e.exposure;
  info.timestampUs =
      std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kEpoch).count());
  return info;
}

}  // namespace

namespace {
std::mutex gEventMutex;
CamSdkDeviceEventCallback gEventCallback = nullptr;
void* gEventContext = nullptr;
}  // namespace

void NotifyDeviceEvent(int event, int handle, const char* deviceName) {
  CamSdkDeviceEventCallback cb;
  void* context;
  {
    std::lock_guard<std::mutex> lock(gEventMutex);
    cb = gEventCallback;
    context = gEventContext;
  }
  if (cb) cb(context, event, handle, deviceName ? deviceName : "");
}

void MarkLost(Camera& c, std::unique_lock<std::mutex>& lock) {
  const bool first = !c.lost;
  c.lost = true;
  c.run = Run::Stopped;
  c.cv.notify_all();
  if (first && !c.closed) {
    lock.unlock();
    NotifyDeviceEvent(CAMSDK_EVENT_DEVICE_LOST, c.handle, c.model.deviceName);
    lock.lock();
  }
}

bool AcquireDevice(Camera& c, std::unique_lock<std::mutex>& lock) {
  ++c.deviceWanted;
  if (c.reading) c.cancelRead.store(true);
  c.cv.wait(lock, [&] { return !c.reading || c.closed || c.lost; });
  --c.deviceWanted;
  if (c.closed || c.lost) {
    c.cv.notify_all();
    return false;
  }
  c.reading = true;
  c.cancelRead.store(false);
  return true;
}

void ReleaseDevice(Camera& c) {
  c.reading = false;
  c.cv.notify_all();
}

void DeliverOne(Camera& c, std::unique_lock<std::mutex>& lock) {
  if (c.reading || c.deviceWanted > 0) {
    // Another caller reads the device (a snapshot, a capture at another size): it goes first.
    c.cv.wait(lock, [&] { return (!c.reading && c.deviceWanted == 0) || c.quit || c.run != Run::Playing; });
    return;
  }
  Exposure e = MakeExposure(c, c.p.preview);
  ++c.frameNumber;
  if (c.synchronous) c.syncTime += double(Period(c)) * 1e-7;
  const bool dpc = c.p.deadPixelCorrection != 0;
  const auto defects = c.defects;
  const bool needStats = c.p.aeOn || (c.model.color && (c.p.awbOn || c.onceWbPending));
  const Window aeWin = c.p.aeWindow, wbWin = c.p.wbWindow;
  c.reading = true;
  c.cancelRead.store(false);
  e.cancel = &c.cancelRead;
  std::vector<std::uint8_t>& raw = c.workRaw;
  lock.unlock();

  const ReadResult got = c.device->ReadFrame(e, raw);
  CamSdkFrameInfo info = MakeInfo(e, raw.size());
  Stats stats;
  if (got == ReadResult::Frame) {
    if (dpc) CorrectDefects(raw, info, e.mode, *defects);
    if (needStats) stats = ComputeStats(raw, info, aeWin, wbWin);
  }

  lock.lock();
  ReleaseDevice(c);
  if (got == ReadResult::Lost) {
    MarkLost(c, lock);
    return;
  }
  if (got == ReadResult::Incomplete) ++c.incompleteFrames;
  if (got != ReadResult::Frame) return;
  StepAe(c, stats);
  StepWb(c, stats);
  const bool deliver = c.run == Run::Playing && !c.quit && !c.lost && c.callback;
  if (deliver) {
    c.delivering = true;
    lock.unlock();
    Camera* previous = tlsDelivering;
    tlsDelivering = &c;
    c.callback(c.handle, raw.data(), &info);
    tlsDelivering = previous;
    lock.lock();
    c.delivering = false;
  }
  c.latestRaw.swap(raw);
  c.latestInfo = info;
  c.hasLatest = true;
  ++c.frameSeq;
  c.cv.notify_all();
}

CamSdkStatus Snapshot(Camera& c, std::unique_lock<std::mutex>& lock, const SizeSel& sel, int format,
                      std::vector<std::uint8_t>& raw, CamSdkFrameInfo* info, bool correct) {
  // A whole frame, or the reason there is none within the frame time and two seconds.
  const auto deadline = Clock::now() + std::chrono::nanoseconds(Period(c) * 100) + std::chrono::seconds(2);
  for (;;) {
    if (!AcquireDevice(c, lock)) return c.closed ? CAMSDK_STATUS_INVALID_HANDLE : CAMSDK_STATUS_DEVICE_LOST;
    Exposure e = MakeExposure(c, sel);
    e.format = format;
    e.cancel = &c.cancelRead;
    const bool dpc = correct && c.p.deadPixelCorrection != 0;
    const auto defects = c.defects;
    lock.unlock();
    const ReadResult got = c.device->ReadFrame(e, raw);
    *info = MakeInfo(e, raw.size());
    if (got == ReadResult::Frame && dpc) CorrectDefects(raw, *info, e.mode, *defects);
    lock.lock();
    ReleaseDevice(c);
    if (got == ReadResult::Frame) return CAMSDK_STATUS_OK;
    if (got == ReadResult::Lost) {
      MarkLost(c, lock);
      return CAMSDK_STATUS_DEVICE_LOST;
    }
    if (got == ReadResult::Incomplete) ++c.incompleteFrames;
    if (c.closed) return CAMSDK_STATUS_INVALID_HANDLE;
    if (Clock::now() >= deadline) return CAMSDK_STATUS_TIMEOUT;
  }
}

CamSdkStatus WithDevice(int handle, const std::function<void()>& f) {
  return CamSdkStatus(With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    if (!AcquireDevice(c, lock)) return c.closed ? CAMSDK_STATUS_INVALID_HANDLE : CAMSDK_STATUS_DEVICE_LOST;
    lock.unlock();
    f();
    lock.lock();
    ReleaseDevice(c);
    return CAMSDK_STATUS_OK;
  }));
}

}  // namespace camsdk

using namespace camsdk;

void CamSdkSetDeviceEventCallback(CamSdkDeviceEventCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(gEventMutex);
  gEventCallback = callback;
  gEventContext = callback ? context : nullptr;
}

CamSdkStatus CameraGetDevList(CamSdkDeviceInfo* list, int* count, int capacity) {
  CAMSDK_ENTER(list, count, capacity);
  if (!count || capacity < 0 || (capacity > 0 && !list)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  int n = 0;
  for (Backend* backend : Backends()) {
    for (const ModelInfo* m : backend->List()) {
      if (n >= capacity) break;
      const DeviceText text = backend->Text(*m);
      CamSdkDeviceInfo& d = list[n];
      std::memset(&d, 0, sizeof d);
      CopyText(d.productSeries, sizeof d.productSeries, text.series);
      CopyText(d.productName, sizeof d.productName, m->productName);
      CopyText(d.friendlyName, sizeof d.friendlyName, m->deviceName);
      d.modelId = m->modelId;
      CopyText(d.deviceName, sizeof d.deviceName, m->deviceName);
      CopyText(d.serialNumber, sizeof d.serialNumber, m->serial);
      CopyText(d.sensorType, sizeof d.sensorType, m->color ? "Colour CMOS" : "Monochrome CMOS");
      CopyText(d.portType, sizeof d.portType, text.portType);
      CopyText(d.driverVersion, sizeof d.driverVersion, text.driverVersion);
      d.instance = n;
      ++n;
    }
  }
  *count = n;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

CamSdkStatus CameraInit(CamSdkFrameCallback callback, const char* deviceName, void* displayWindow, int* handle) {
  CAMSDK_ENTER(callback, deviceName, displayWindow, handle);
  if (!deviceName || !handle) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  const ModelInfo* model = nullptr;
  Backend* owner = nullptr;
  for (Backend* backend : Backends()) {
    for (const ModelInfo* m : backend->List())
      if (!model && std::strcmp(m->deviceName, deviceName) == 0) model = m;
    if (model) {
      owner = backend;
      break;
    }
  }
  if (!model) CAMSDK_RETURN(CAMSDK_STATUS_NO_DEVICE);
  Registry& reg = Reg();
  {
    std::lock_guard<std::mutex> lock(reg.mu);
    for (const auto& [h, c] : reg.cams)
      if (&c->model == model) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
  }
  int opened = CAMSDK_STATUS_NO_DEVICE;
  std::unique_ptr<Device> device = owner->OpenWithStatus(*model, &opened);
  if (!device) CAMSDK_RETURN(opened == CAMSDK_STATUS_OK ? CAMSDK_STATUS_NO_DEVICE : opened);
  DeviceSettings settings = LoadDeviceSettings(*model);

  std::shared_ptr<Camera> cam;
  {
    std::lock_guard<std::mutex> lock(reg.mu);
    for (const auto& [h, c] : reg.cams)
      if (&c->model == model) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
    cam = std::make_shared<Camera>(reg.nextHandle++, *model, std::move(device));
    cam->callback = callback;
    cam->displayWindow = displayWindow;
    cam->synchronous = HarnessSynchronous();
    cam->p = settings.teams[settings.currentTeam];
    cam->defects = std::make_shared<std::vector<CamSdkPoint>>(settings.defects);
    cam->settings = std::move(settings);
    if (!cam->synchronous) cam->thread = std::thread(StreamLoop, cam.get());
    reg.cams[cam->handle] = cam;
  }
  *handle = cam->handle;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

CamSdkStatus CameraUnInit(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Camera> c = Find(handle);
  if (!c) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  bool stuck = false;
  {
    std::unique_lock<std::mutex> lock(c->mu);
    if (c->closed) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
    if (tlsDelivering == c.get()) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
    c->closed = true;
    c->quit = true;
    c->run = Run::Stopped;
    c->cancelRead.store(true);
    c->cv.notify_all();
    c->cv.wait(lock, [&] { return !c->delivering; });
    // A reader that answers the cancel gives the device back within a moment; one that waits
    // on a camera that no longer answers is left to finish on a closer thread.
    stuck = !c->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return !c->reading; });
  }
  Registry& reg = Reg();
  {
    std::lock_guard<std::mutex> lock(reg.mu);
    reg.cams.erase(handle);
    if (stuck) reg.Close(std::move(c));
  }
  if (c) c->Shutdown();
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

CamSdkStatus CameraPlay(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [](Camera& c, std::unique_lock<std::mutex>&) {
    c.run = Run::Playing;
    c.cv.notify_all();
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraPause(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(PauseOrStop(handle, Run::Paused));
}

CamSdkStatus CameraStop(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(PauseOrStop(handle, Run::Stopped));
}
