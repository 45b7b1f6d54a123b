// The camera library's test harness (the camsdk_testing library): the call log, failure
// injection, synchronous delivery, full-disk recording and the simulation's presence and scene
// controls. It reaches the library only through the harness seam (handles.h) and the
// recorder's write seam; it is installed on first use.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <unistd.h>

#include "platform/camsdk/camsdk_testing.h"
#include "platform/camsdk/handles.h"

namespace camsdk::testing {
namespace {

std::atomic<bool> gLogOn{false};
std::atomic<bool> gAnyFailure{false};
std::atomic<bool> gSynchronous{false};
std::mutex gHookMutex;
std::vector<std::string> gLog;
struct Failure {
  int result;
  int times;
};
std::map<std::string, Failure> gFailures;
constexpr std::size_t kLogLimit = 200000;

std::mutex gLackingMutex;
std::map<std::string, std::uint32_t> gLacking;  // simulated model key -> controls marked lacking

std::string Format(const CallArg& a) {
  switch (a.kind) {
    case CallArg::kText:
      return a.text ? "\"" + std::string(a.text) + "\"" : std::string("null");
    case CallArg::kPointer: return a.set ? "&" : "null";
    case CallArg::kFloat: {
      char buf[32];  // "%g" with "." whatever the locale
      const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, a.f, std::chars_format::general, 6);
      return ec == std::errc() ? std::string(buf, end) : std::string("?");
    }
    case CallArg::kSigned: return std::to_string(a.i);
    case CallArg::kUnsigned: return std::to_string(a.u);
    case CallArg::kOther: break;
  }
  return "?";
}

bool Enter(const char* function, const CallArg* args, int count, int* result, void** state) {
  if (gLogOn.load(std::memory_order_relaxed)) {
    auto* text = new std::string(function);
    *text += '(';
    for (int i = 0; i < count; ++i) {
      if (i) *text += ", ";
      *text += Format(args[i]);
    }
    *text += ')';
    *state = text;
  }
  if (!gAnyFailure.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> lock(gHookMutex);
  auto it = gFailures.find(function);
  if (it == gFailures.end()) return false;
  *result = it->second.result;
  if (it->second.times > 0 && --it->second.times == 0) gFailures.erase(it);
  return true;
}

void Leave(void* state, int result) {
  if (!state) return;
  std::unique_ptr<std::string> text(static_cast<std::string*>(state));
  std::lock_guard<std::mutex> lock(gHookMutex);
  if (gLog.size() < kLogLimit) gLog.push_back(*text + " = " + std::to_string(result));
}

bool Synchronous() { return gSynchronous.load(); }

std::uint32_t Lacking(const ModelInfo& model) {
  if (!model.key || FindSimModel(model.key) != &model) return 0;
  std::lock_guard<std::mutex> lock(gLackingMutex);
  auto it = gLacking.find(model.key);
  return it == gLacking.end() ? 0 : it->second;
}

constexpr Harness kHarness{&Enter, &Leave, &Synchronous, &Lacking};

// By each hook that needs the harness; the library runs without it until then.
void Install() { InstallHarness(&kHarness); }

std::atomic<long long> gWriteBudget{-1};

long FailingWrite(int fd, const void* data, unsigned long size) {
  long long left = gWriteBudget.load();
  for (;;) {
    if (left < 0) return long(::write(fd, data, size));
    if (left == 0) {
      errno = ENOSPC;
      return -1;
    }
    const long long n = std::min<long long>(left, (long long)size);
    if (gWriteBudget.compare_exchange_weak(left, left - n)) return long(::write(fd, data, std::size_t(n)));
  }
}

}  // namespace
}  // namespace camsdk::testing

using namespace camsdk;
using namespace camsdk::testing;

void CamSdkTestFailRecordWritesAfter(long long bytes) {
  gWriteBudget.store(bytes < 0 ? -1 : bytes);
  SetRecorderWrite(bytes < 0 ? nullptr : &FailingWrite);
}

int CamSdkTestSetModels(const char* keys) { return SimSetModels(keys ? keys : ""); }

int CamSdkTestAttach(const char* key) {
  if (!key) return CAMSDK_STATUS_INVALID_PARAMETER;
  const ModelInfo* model = FindSimModel(key);
  if (!model) return CAMSDK_STATUS_INVALID_PARAMETER;
  const bool was = SimBackend().Present(*model);
  if (!SimSetPresent(key, true)) return CAMSDK_STATUS_INVALID_PARAMETER;
  if (!was) NotifyDeviceEvent(CAMSDK_EVENT_DEVICE_ARRIVED, -1, model->deviceName);
  return CAMSDK_STATUS_OK;
}

int CamSdkTestDetach(const char* key) {
  if (!key) return CAMSDK_STATUS_INVALID_PARAMETER;
  const ModelInfo* model = FindSimModel(key);
  if (!model || !SimSetPresent(key, false)) return CAMSDK_STATUS_INVALID_PARAMETER;
  std::vector<std::shared_ptr<Camera>> open;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mu);
    for (const auto& [h, c] : reg.cams)
      if (&c->model == model) open.push_back(c);
  }
  for (auto& c : open) {
    bool first = false;
    {
      std::unique_lock<std::mutex> lock(c->mu);
      first = !c->lost && !c->closed;
      c->lost = true;
      c->run = Run::Stopped;
      c->cv.notify_all();
      if (tlsDelivering != c.get()) c->cv.wait(lock, [&] { return !c->delivering; });
    }
    if (first) NotifyDeviceEvent(CAMSDK_EVENT_DEVICE_LOST, c->handle, model->deviceName);
  }
  return CAMSDK_STATUS_OK;
}

int CamSdkTestSetLackingControls(const char* key, int mask) {
  if (!key || !FindSimModel(key) || (mask & ~CAMSDK_CONTROL_ALL) != 0) return CAMSDK_STATUS_INVALID_PARAMETER;
  Install();
  std::lock_guard<std::mutex> lock(gLackingMutex);
  if (mask)
    gLacking[key] = std::uint32_t(mask);
  else
    gLacking.erase(key);
  return CAMSDK_STATUS_OK;
}

void CamSdkTestReset() {
  std::vector<int> handles;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mu);
    for (const auto& [h, c] : reg.cams) handles.push_back(h);
  }
  CamSdkTestClearFailures();
  CamSdkTestFailRecordWritesAfter(-1);
  for (int h : handles) (void)CameraUnInit(h);  // best-effort
  Reg().JoinClosers();
  CamSdkWaitRecordVideo();
  SimResetPresence();
  gSynchronous = false;
  gLogOn = false;
  std::lock_guard<std::mutex> lock(gHookMutex);
  gLog.clear();
  std::lock_guard<std::mutex> lacking(gLackingMutex);
  gLacking.clear();
}

void CamSdkTestSetCallLog(bool on) {
  Install();
  gLogOn = on;
}

std::vector<std::string> CamSdkTestTakeCallLog() {
  std::lock_guard<std::mutex> lock(gHookMutex);
  std::vector<std::string> out;
  out.swap(gLog);
  return out;
}

void CamSdkTestInjectFailure(const char* function, int result, int times) {
  if (!function || times == 0) return;
  Install();
  std::lock_guard<std::mutex> lock(gHookMutex);
  gFailures[function] = Failure{result, times};
  gAnyFailure = true;
}

void CamSdkTestClearFailures() {
  std::lock_guard<std::mutex> lock(gHookMutex);
  gFailures.clear();
  gAnyFailure = false;
}

void CamSdkTestSetSynchronous(bool on) {
  Install();
  gSynchronous = on;
}

int CamSdkTestDeliverFrames(int handle, int count) {
  if (count < 0) return CAMSDK_STATUS_INVALID_PARAMETER;
  int delivered = 0;
  for (int i = 0; i < count; ++i) {
    bool done = false;
    const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
      if (!c.synchronous) return CAMSDK_STATUS_BUSY;
      if (tlsDelivering == &c) return CAMSDK_STATUS_BUSY;
      c.cv.wait(lock, [&] { return (!c.reading && !c.delivering && c.deviceWanted == 0) || c.closed; });
      if (c.closed || c.lost || c.run != Run::Playing) {
        done = true;
        return CAMSDK_STATUS_OK;
      }
      DeliverOne(c, lock);
      if (c.lost) return CAMSDK_STATUS_DEVICE_LOST;
      return CAMSDK_STATUS_OK;
    });
    if (r != CAMSDK_STATUS_OK) return delivered > 0 ? delivered : r;
    if (done) break;
    ++delivered;
  }
  return delivered;
}

int CamSdkTestSetLensCovered(int handle, int covered) {
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.lensCovered = covered != 0;
    return CAMSDK_STATUS_OK;
  });
}

int CamSdkTestSetSceneLight(int handle, double share) {
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.sceneLight = share > 0 ? share : 0.0;
    return CAMSDK_STATUS_OK;
  });
}

int CamSdkTestGetNominalFrameRate(int handle, double* fps) {
  if (!fps) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *fps = 1e7 / double(Period(c));
    return CAMSDK_STATUS_OK;
  });
}

int CamSdkTestGetDisplayCount(int handle, std::uint64_t* count) {
  if (!count) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *count = c.displayCount;
    return CAMSDK_STATUS_OK;
  });
}

int CamSdkTestGetSceneGeometry(int handle, CamSdkSceneGeometry* geometry) {
  if (!geometry) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    return c.device->SceneGeometry(ModeOf(c.model, c.p.preview), geometry) ? CAMSDK_STATUS_OK
                                                                           : CAMSDK_STATUS_NOT_SUPPORTED;
  });
}

int CamSdkTestGetSeededDefects(int handle, CamSdkPoint* points, int capacity, int* count) {
  if (!count || capacity < 0 || (capacity > 0 && !points)) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const Mode mode = ModeOf(c.model, c.p.preview);
    int n = 0;
    for (const CamSdkPoint& d : c.device->SeededDefects()) {
      int x, y;
      if (!MapToMode(mode, d, &x, &y)) continue;
      if (n < capacity) points[n] = {x, y};
      ++n;
    }
    *count = std::min(n, capacity);
    return CAMSDK_STATUS_OK;
  });
}
