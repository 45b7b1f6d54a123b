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

int PauseOrStop(int handle, Run target) {
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    c.run = target;
    c.cv.notify_all();
    if (tlsDelivering != &c) c.cv.wait(lock, [&] { return !c.busy; });
    return CAMSDK_STATUS_OK;
  });
}

void CopyText(char* dst, std::size_t cap, const char* src) {
  std::strncpy(dst, src, cap - 1);
  dst[cap - 1] = '\0';
}

}  // namespace

const std::vector<Backend*>& Backends() {
  static const std::vector<Backend*> all{&ArvBackend(), &V4l2Backend(), &SimBackend()};
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

void DeliverOne(Camera& c, std::unique_lock<std::mutex>& lock) {
  Exposure e = MakeExposure(c, c.p.preview);
  ++c.frameNumber;
  if (c.synchronous) c.syncTime += double(Period(c)) * 1e-7;
  const bool dpc = c.p.deadPixelCorrection != 0;
  const auto defects = c.defects;
  const bool needStats = c.p.aeOn || (c.model.color && (c.p.awbOn || c.onceWbPending));
  const Window aeWin = c.p.aeWindow, wbWin = c.p.wbWindow;
  c.busy = true;
  std::vector<std::uint8_t>& raw = c.workRaw;
  lock.unlock();

  const bool ok = c.device->Read(e, raw);
  CamSdkFrameInfo info = MakeInfo(e, raw.size());
  Stats stats;
  if (ok) {
    if (dpc) CorrectDefects(raw, info, e.mode, *defects);
    if (needStats) stats = ComputeStats(raw, info, aeWin, wbWin);
  }

  lock.lock();
  if (!ok) {
    const bool first = !c.lost;
    c.lost = true;
    c.run = Run::Stopped;
    c.busy = false;
    c.cv.notify_all();
    if (first) {
      lock.unlock();
      NotifyDeviceEvent(CAMSDK_EVENT_DEVICE_LOST, c.handle, c.model.deviceName);
      lock.lock();
    }
    return;
  }
  StepAe(c, stats);
  StepWb(c, stats);
  const bool deliver = c.run == Run::Playing && !c.quit && !c.lost && c.callback;
  lock.unlock();
  if (deliver) {
    Camera* previous = tlsDelivering;
    tlsDelivering = &c;
    c.callback(c.handle, raw.data(), &info);
    tlsDelivering = previous;
  }
  lock.lock();
  c.latestRaw.swap(raw);
  c.latestInfo = info;
  c.hasLatest = true;
  ++c.frameSeq;
  c.busy = false;
  c.cv.notify_all();
}

bool Snapshot(Camera& c, std::unique_lock<std::mutex>& lock, const SizeSel& sel, int format,
              std::vector<std::uint8_t>& raw, CamSdkFrameInfo* info) {
  Exposure e = MakeExposure(c, sel);
  e.format = format;
  const bool dpc = c.p.deadPixelCorrection != 0;
  const auto defects = c.defects;
  lock.unlock();
  const bool ok = c.device->Read(e, raw);
  *info = MakeInfo(e, raw.size());
  if (ok && dpc) CorrectDefects(raw, *info, e.mode, *defects);
  lock.lock();
  if (!ok) c.lost = true;
  return ok;
}

}  // namespace camsdk

using namespace camsdk;

void CamSdkSetDeviceEventCallback(CamSdkDeviceEventCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(gEventMutex);
  gEventCallback = callback;
  gEventContext = callback ? context : nullptr;
}

int CameraGetDevList(CamSdkDeviceInfo* list, int* count, int capacity) {
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

int CameraInit(CamSdkFrameCallback callback, const char* deviceName, void* displayWindow, int* handle) {
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
    cam->synchronous = gSynchronous.load();
    cam->p = settings.teams[settings.currentTeam];
    cam->defects = std::make_shared<std::vector<CamSdkPoint>>(settings.defects);
    cam->settings = std::move(settings);
    if (!cam->synchronous) cam->thread = std::thread(StreamLoop, cam.get());
    reg.cams[cam->handle] = cam;
  }
  *handle = cam->handle;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

int CameraUnInit(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Camera> c = Find(handle);
  if (!c) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  {
    std::unique_lock<std::mutex> lock(c->mu);
    if (c->closed) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
    if (tlsDelivering == c.get()) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
    c->closed = true;
    c->quit = true;
    c->run = Run::Stopped;
    c->cv.notify_all();
    c->cv.wait(lock, [&] { return !c->busy; });
  }
  c->Shutdown();
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mu);
    reg.cams.erase(handle);
  }
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

int CameraPlay(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [](Camera& c, std::unique_lock<std::mutex>&) {
    c.run = Run::Playing;
    c.cv.notify_all();
    return CAMSDK_STATUS_OK;
  }));
}

int CameraPause(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(PauseOrStop(handle, Run::Paused));
}

int CameraStop(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(PauseOrStop(handle, Run::Stopped));
}
