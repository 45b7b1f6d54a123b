// The camera library core: handles, the frame thread of each open camera, automatic exposure
// and white balance, the frame path (ISP, display, capture, recording), parameter teams and
// the test hooks. Every call validates its handle and arguments; nothing a caller passes can
// make the library read or write outside a buffer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/core.h"

namespace camsdk {
namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kEpoch = Clock::now();

#if defined(__SANITIZE_THREAD__)
// OpenCV's worker pool is not instrumented: ThreadSanitizer cannot see its synchronisation
// and would report every parallel loop as a race. Sanitized builds run OpenCV serially.
const bool kSerialOpenCv = (cv::setNumThreads(0), true);
#endif

// ---------------------------------------------------------------------------------------------
// Call log and failure injection

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

template <typename T>
std::string FormatArg(const T& v) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    if (!v) return "null";
    std::string s = "\"";
    s += v;
    s += '"';
    return s;
  } else if constexpr (std::is_pointer_v<D>) {
    return v ? "&" : "null";
  } else if constexpr (std::is_floating_point_v<D>) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(v));
    return buf;
  } else if constexpr (std::is_integral_v<D>) {
    return std::to_string(v);
  } else {
    return "?";
  }
}

class Call {
 public:
  template <typename... A>
  explicit Call(const char* name, const A&... args) {
    if (gLogOn.load(std::memory_order_relaxed)) {
      log_ = true;
      text_ = name;
      text_ += '(';
      bool first = true;
      ((text_ += first ? "" : ", ", text_ += FormatArg(args), first = false), ...);
      text_ += ')';
    }
    if (gAnyFailure.load(std::memory_order_relaxed)) {
      std::lock_guard<std::mutex> lock(gHookMutex);
      auto it = gFailures.find(name);
      if (it != gFailures.end()) {
        injected_ = true;
        result_ = it->second.result;
        if (it->second.times > 0 && --it->second.times == 0) gFailures.erase(it);
      }
    }
  }
  bool Injected() const { return injected_; }
  int InjectedResult() const { return result_; }
  int Done(int result) {
    if (log_) {
      std::lock_guard<std::mutex> lock(gHookMutex);
      if (gLog.size() < kLogLimit) gLog.push_back(text_ + " = " + std::to_string(result));
    }
    return result;
  }

 private:
  bool log_ = false;
  bool injected_ = false;
  int result_ = 0;
  std::string text_;
};

#define CAMSDK_ENTER(...)                         \
  Call call_(__func__ __VA_OPT__(, ) __VA_ARGS__); \
  if (call_.Injected()) return call_.Done(call_.InjectedResult())
#define CAMSDK_RETURN(expr) return call_.Done(expr)

// ---------------------------------------------------------------------------------------------
// Configuration folder

std::mutex gConfigMutex;
std::string gConfigDir;

// ---------------------------------------------------------------------------------------------
// Cameras

enum class Run { Stopped, Paused, Playing };

struct Stats {
  bool valid = false;
  double mean = 0;          // AE window, 8-bit units
  double site[3] = {0, 0, 0};  // WB window means of red, green, blue sites
  bool wbValid = false;
};

struct Camera {
  Camera(int h, const ModelInfo& m, std::unique_ptr<Device> d) : handle(h), model(m), device(std::move(d)) {}
  ~Camera() { Shutdown(); }

  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(mu);
      quit = true;
      run = Run::Stopped;
    }
    cv.notify_all();
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    std::shared_ptr<Recorder> rec;
    {
      std::lock_guard<std::mutex> lock(recMu);
      rec = std::move(recorder);
    }
    if (rec) rec->Close();
  }

  const int handle;
  const ModelInfo& model;
  const std::unique_ptr<Device> device;
  CamSdkFrameCallback callback = nullptr;
  void* displayWindow = nullptr;
  bool synchronous = false;
  std::thread thread;

  // Everything below is guarded by mu.
  std::mutex mu;
  std::condition_variable cv;
  Run run = Run::Stopped;
  bool quit = false, closed = false, lost = false;
  bool busy = false;  // a frame is being read or delivered
  bool timingChanged = false;
  Clock::time_point lastStart{};
  double syncTime = 0;

  DeviceSettings settings;
  Params p;
  std::shared_ptr<const IspTables> isp;
  std::shared_ptr<const std::vector<CamSdkPoint>> defects = std::make_shared<std::vector<CamSdkPoint>>();
  std::uint32_t frameNumber = 0;
  std::uint64_t frameSeq = 0;
  std::vector<std::uint8_t> workRaw;  // owned by the delivering thread while busy
  std::vector<std::uint8_t> latestRaw;
  CamSdkFrameInfo latestInfo{};
  bool hasLatest = false;
  bool onceWbPending = false;
  bool lensCovered = false;
  std::size_t lastReportedBytes = 0;
  int displayWidth = 0, displayHeight = 0;
  CamSdkDisplaySink sink = nullptr;
  void* sinkContext = nullptr;
  std::uint64_t displayCount = 0;
  int codec = CAMSDK_CODEC_MJPEG, aviQuality = 1;

  std::mutex recMu;  // guards recorder and lastVideo
  std::shared_ptr<Recorder> recorder;
  std::string lastVideo;
};

thread_local Camera* tlsDelivering = nullptr;

struct Registry {
  std::mutex mu;
  std::map<int, std::shared_ptr<Camera>> cams;
  int nextHandle = 1;
  ~Registry() {
    std::map<int, std::shared_ptr<Camera>> all;
    {
      std::lock_guard<std::mutex> lock(mu);
      all.swap(cams);
    }
    for (auto& [h, c] : all) c->Shutdown();
  }
};

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

// Runs f(camera, lock) with the camera's mutex held, after the handle checks.
template <typename F>
int With(int handle, F&& f) {
  std::shared_ptr<Camera> c = Find(handle);
  if (!c) return CAMSDK_STATUS_INVALID_HANDLE;
  std::unique_lock<std::mutex> lock(c->mu);
  if (c->closed) return CAMSDK_STATUS_INVALID_HANDLE;
  if (c->lost) return CAMSDK_STATUS_DEVICE_LOST;
  return f(*c, lock);
}

// Parameter change that affects the ISP and/or the frame timing.
void Changed(Camera& c, bool timing = false) {
  c.isp.reset();
  if (timing) {
    c.timingChanged = true;
    c.cv.notify_all();
  }
}

std::uint32_t LineTime(const Camera& c) { return c.model.lineTime[c.p.frameSpeed]; }
std::uint64_t ExposureOf(const Camera& c) { return std::uint64_t(c.p.exposureLines) * LineTime(c); }

Mode ModeOf(const ModelInfo& m, const SizeSel& s) {
  return s.roi ? RoiMode(m, s.x, s.y, s.width, s.height) : PresetMode(m, s.preset);
}

int FormatOf(const Camera& c) { return c.model.mediaTypes[c.p.mediaSel].format; }

// Frame period in 100 ns: the readout of the lines, or the exposure when that is longer.
std::uint64_t Period(const Camera& c) {
  const Mode m = ModeOf(c.model, c.p.preview);
  const std::uint64_t readout = std::uint64_t(m.height + 16) * LineTime(c);
  return std::max(readout, ExposureOf(c) + LineTime(c));
}

std::shared_ptr<const IspTables> Isp(Camera& c) {
  if (!c.isp) c.isp = BuildIspTables(c.model, c.p);
  return c.isp;
}

Exposure MakeExposure(const Camera& c, const SizeSel& sel) {
  Exposure e;
  e.mode = ModeOf(c.model, sel);
  e.format = FormatOf(c);
  e.exposure = ExposureOf(c);
  e.analogGain = c.p.analogGain;
  e.lensCovered = c.lensCovered;
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
  info.timestampUs = std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kEpoch).count());
  return info;
}

int SiteColor(int pattern, int x, int y) {
  static const int kSites[5][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}};
  return kSites[pattern][(y & 1) * 2 + (x & 1)];
}

int Sample(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, int x, int y) {
  const std::size_t i = std::size_t(y) * info.width + x;
  return CamSdkRawBits(info.format) > 8 ? (raw[2 * i] | (raw[2 * i + 1] << 8)) : raw[i];
}

void Put(std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, int x, int y, int v) {
  const std::size_t i = std::size_t(y) * info.width + x;
  if (CamSdkRawBits(info.format) > 8) {
    raw[2 * i] = std::uint8_t(v & 0xFF);
    raw[2 * i + 1] = std::uint8_t(v >> 8);
  } else {
    raw[i] = std::uint8_t(v);
  }
}

// Maps a sensor point into an image of this mode; false when it lies outside.
bool MapToMode(const Mode& mode, const CamSdkPoint& p, int* x, int* y) {
  if (mode.roi) {
    *x = p.x - mode.offsetX;
    *y = p.y - mode.offsetY;
  } else {
    *x = int(std::floor(p.x * mode.scaleX));
    *y = int(std::floor(p.y * mode.scaleY));
  }
  return *x >= 0 && *y >= 0 && *x < mode.width && *y < mode.height;
}

// Replaces each listed pixel by the mean of its same-colour neighbours.
void CorrectDefects(std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Mode& mode,
                    const std::vector<CamSdkPoint>& defects) {
  const int step = CamSdkRawPattern(info.format) == CAMSDK_PATTERN_MONO ? 1 : 2;
  for (const CamSdkPoint& d : defects) {
    int x, y;
    if (!MapToMode(mode, d, &x, &y)) continue;
    int sum = 0, n = 0;
    const int nb[4][2] = {{-step, 0}, {step, 0}, {0, -step}, {0, step}};
    for (const auto& o : nb) {
      const int nx = x + o[0], ny = y + o[1];
      if (nx < 0 || ny < 0 || nx >= info.width || ny >= info.height) continue;
      sum += Sample(raw, info, nx, ny);
      ++n;
    }
    if (n > 0) Put(raw, info, x, y, (sum + n / 2) / n);
  }
}

// The window in image coordinates (sensor coordinates minus the image's origin), clipped; the
// whole image when it is empty or misses the image.
cv::Rect WindowRect(const Window& w, const CamSdkFrameInfo& info) {
  const cv::Rect image(0, 0, info.width, info.height);
  if (w.width <= 0 || w.height <= 0) return image;
  const cv::Rect r = cv::Rect(w.x - info.offsetX, w.y - info.offsetY, w.width, w.height) & image;
  return r.area() > 0 ? r : image;
}

Stats ComputeStats(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Window& ae,
                   const Window& wb) {
  Stats s;
  const double scale = CamSdkRawBits(info.format) > 8 ? 1.0 / 16.0 : 1.0;
  const int pattern = CamSdkRawPattern(info.format);
  {
    // Whole 2x2 quads, so that every site colour counts as in the picture.
    const cv::Rect r = WindowRect(ae, info);
    const int step = 2 * std::max(1, int(std::sqrt(double(r.area()) / 160000.0)));
    double sum = 0;
    long n = 0;
    for (int y = r.y; y < r.y + r.height; y += step)
      for (int x = r.x; x < r.x + r.width; x += step) {
        const int x1 = std::min(x + 1, r.x + r.width - 1), y1 = std::min(y + 1, r.y + r.height - 1);
        sum += Sample(raw, info, x, y) + Sample(raw, info, x1, y) + Sample(raw, info, x, y1) + Sample(raw, info, x1, y1);
        n += 4;
      }
    s.valid = n > 0;
    s.mean = n > 0 ? sum / n * scale : 0;
  }
  if (pattern != CAMSDK_PATTERN_MONO) {
    const cv::Rect r = WindowRect(wb, info);
    const int step = 2 * std::max(1, int(std::sqrt(double(r.area()) / 160000.0)));
    double sum[3] = {0, 0, 0};
    long n = 0;
    const int limit = int(250 / scale);
    for (int y = r.y & ~1; y + 1 < r.y + r.height; y += step)
      for (int x = r.x & ~1; x + 1 < r.x + r.width; x += step) {
        const int v[4] = {Sample(raw, info, x, y), Sample(raw, info, x + 1, y), Sample(raw, info, x, y + 1),
                          Sample(raw, info, x + 1, y + 1)};
        if (*std::max_element(v, v + 4) >= limit) continue;  // clipped quads carry no colour
        for (int k = 0; k < 4; ++k) sum[SiteColor(pattern, x + (k & 1), y + (k >> 1))] += v[k];
        ++n;
      }
    if (n > 16) {
      // Each quad holds one red, two green and one blue site.
      s.site[0] = sum[0] / n * scale;
      s.site[1] = sum[1] / (2.0 * n) * scale;
      s.site[2] = sum[2] / n * scale;
      s.wbValid = s.site[0] > 0.5 && s.site[1] > 0.5 && s.site[2] > 0.5;
    }
  }
  return s;
}

float QuantiseGain(double g) {
  return float(std::round(std::clamp(g, double(kAnalogGainMin), double(kAnalogGainMax)) / kAnalogGainStep) * kAnalogGainStep);
}

// One step of automatic exposure toward the target; called with the camera locked.
void StepAe(Camera& c, const Stats& s) {
  Params& p = c.p;
  if (!p.aeOn || !s.valid) return;
  const double target = p.aeTarget, mean = std::max(s.mean, 0.5);
  if (std::fabs(mean - target) <= std::max(2.0, 0.02 * target)) return;
  static const double kSpeed[4] = {0.3, 0.75, 0.75, 0.6};
  const double ratio = std::pow(std::clamp(target / mean, 0.125, 8.0), kSpeed[p.aeScheme]);
  const double lt = LineTime(c);
  const double curExp = double(ExposureOf(c)), curGain = p.analogGain;
  const double total = curExp * curGain * ratio;
  const double ceiling = std::min(double(c.model.maxExposureLines) * lt,
                                  p.aeScheme == CAMSDK_AE_SCHEME_FLUOROCHROME ? 5e7 : 1e7);
  double exp = curExp, gain = curGain;
  if (p.aeMode == CAMSDK_AE_GAIN_ONLY) {
    gain = total / curExp;
  } else if (p.aeMode == CAMSDK_AE_EXPOSURE_ONLY) {
    exp = std::clamp(total / curGain, lt, std::max(lt, ceiling));
  } else {
    exp = std::clamp(total / kAnalogGainMin, lt, std::max(lt, ceiling));
    gain = total / exp;
  }
  if (p.antiFlick && p.aeMode != CAMSDK_AE_GAIN_ONLY) {
    // Whole flicker periods, so every frame collects the same light.
    const double period = p.lightFrequency == CAMSDK_LIGHT_60HZ ? 1e7 / 120.0 : 1e7 / 100.0;
    if (exp >= period) exp = std::floor(exp / period) * period;
    if (p.aeMode == CAMSDK_AE_GAIN_AND_EXPOSURE) gain = total / exp;
  }
  const std::uint32_t lines = std::uint32_t(std::clamp(std::ceil(exp / lt - 1e-9), 1.0, double(c.model.maxExposureLines)));
  const float newGain = QuantiseGain(gain);
  // Keep the present setting unless the new one brings the picture closer to the target (the
  // gain moves in coarse steps).
  const double predicted = mean * (lines * lt * newGain) / (curExp * curGain);
  if (std::fabs(predicted - target) >= std::fabs(mean - target)) return;
  if (lines != p.exposureLines || newGain != p.analogGain) {
    p.exposureLines = lines;
    p.analogGain = newGain;
    Changed(c, true);
  }
}

// White balance from the window's site means; once: at once, automatic: a part per frame.
void StepWb(Camera& c, const Stats& s) {
  Params& p = c.p;
  if (!c.model.color || !s.wbValid || !(p.awbOn || c.onceWbPending)) return;
  const double bl[3] = {p.blackState ? double(p.blackR) : 0.0, p.blackState ? double(p.blackG) : 0.0,
                        p.blackState ? double(p.blackB) : 0.0};
  const double r = s.site[0] - bl[0], g = s.site[1] - bl[1], b = s.site[2] - bl[2];
  if (r <= 0.5 || g <= 0.5 || b <= 0.5) return;
  const double tr = std::clamp(p.gainG * g / r, double(kGainMin), double(kGainMax));
  const double tb = std::clamp(p.gainG * g / b, double(kGainMin), double(kGainMax));
  const double k = c.onceWbPending ? 1.0 : 0.3;
  p.gainR = float(p.gainR + k * (tr - p.gainR));
  p.gainB = float(p.gainB + k * (tb - p.gainB));
  c.onceWbPending = false;
  Changed(c);
}

// Reads one frame with the settings in force and, when still playing, hands it to the frame
// callback. Called with the lock held; returns with it held.
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
    c.lost = true;
    c.run = Run::Stopped;
    c.busy = false;
    c.cv.notify_all();
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

// A frame exposed on the caller's thread, without callback or automatic functions.
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

const CamSdkRangeRecord kRange = {kAeTargetMin, kAeTargetMax, kAnalogGainMin, kAnalogGainMax, kAnalogGainStep,
                                  kBlackMin, kBlackMax, 0};

bool SameSize(const SizeSel& a, const SizeSel& b) {
  if (a.roi != b.roi) return false;
  if (a.roi) return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  return a.preset == b.preset;
}

bool ValidRaw(const CamSdkFrameInfo* info) {
  if (!info || !CamSdkRawIsValid(info->format)) return false;
  if (info->width <= 0 || info->height <= 0 || info->width > 32768 || info->height > 32768) return false;
  return std::int64_t(info->bytes) ==
         std::int64_t(info->width) * info->height * CamSdkRawBytesPerSample(info->format);
}

bool ValidImage(const CamSdkFrameInfo* info) {
  return info && info->width > 0 && info->height > 0 && info->width <= 32768 && info->height <= 32768;
}

bool Finite(float v) { return std::isfinite(v); }

}  // namespace
}  // namespace camsdk

using namespace camsdk;

// =============================================================================================
// Listing, opening, streaming

int CameraGetDevList(CamSdkDeviceInfo* list, int* count, int capacity) {
  CAMSDK_ENTER(list, count, capacity);
  if (!count || capacity < 0 || (capacity > 0 && !list)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  const auto models = SimBackend().List();
  int n = 0;
  for (const ModelInfo* m : models) {
    if (n >= capacity) break;
    CamSdkDeviceInfo& d = list[n];
    std::memset(&d, 0, sizeof d);
    CopyText(d.productSeries, sizeof d.productSeries, "Q7V USB Camera");
    CopyText(d.productName, sizeof d.productName, m->productName);
    CopyText(d.friendlyName, sizeof d.friendlyName, m->deviceName);
    d.modelId = m->modelId;
    CopyText(d.deviceName, sizeof d.deviceName, m->deviceName);
    CopyText(d.serialNumber, sizeof d.serialNumber, m->serial);
    CopyText(d.sensorType, sizeof d.sensorType, m->color ? "Colour CMOS" : "Monochrome CMOS");
    CopyText(d.portType, sizeof d.portType, "Simulated USB3");
    CopyText(d.driverVersion, sizeof d.driverVersion, "1.0");
    d.instance = n;
    ++n;
  }
  *count = n;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

int CameraInit(CamSdkFrameCallback callback, const char* deviceName, void* displayWindow, int* handle) {
  CAMSDK_ENTER(callback, deviceName, displayWindow, handle);
  if (!deviceName || !handle) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  const ModelInfo* model = nullptr;
  for (const ModelInfo* m : SimBackend().List())
    if (std::strcmp(m->deviceName, deviceName) == 0) model = m;
  if (!model) CAMSDK_RETURN(CAMSDK_STATUS_NO_DEVICE);
  Registry& reg = Reg();
  {
    std::lock_guard<std::mutex> lock(reg.mu);
    for (const auto& [h, c] : reg.cams)
      if (&c->model == model) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
  }
  std::unique_ptr<Device> device = SimBackend().Open(*model);
  if (!device) CAMSDK_RETURN(CAMSDK_STATUS_NO_DEVICE);
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

// =============================================================================================
// Sizes

int CameraGetImageSize(int handle, CamSdkImageSizeArea* area, int* x, int* y, int* width, int* height, int which) {
  CAMSDK_ENTER(handle, area, x, y, width, height, which);
  if (!x || !y || !width || !height || (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE))
    CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const SizeSel& s = which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture;
    const Mode m = ModeOf(c.model, s);
    *x = m.roi ? m.offsetX : 0;
    *y = m.roi ? m.offsetY : 0;
    *width = m.width;
    *height = m.height;
    if (area) {
      std::memset(area, 0, sizeof *area);
      area->roi = m.roi ? 1 : 0;
      area->index = m.preset;
      area->offsetX = *x;
      area->offsetY = *y;
      area->width = m.width;
      area->height = m.height;
      area->binning = m.roi ? 1 : c.model.resolutions[m.preset].binning;
      area->sum = m.sum ? 1 : 0;
      area->sensorWidth = c.model.sensorWidth;
      area->sensorHeight = c.model.sensorHeight;
    }
    if (which == CAMSDK_SIZE_PREVIEW) c.lastReportedBytes = std::size_t(m.width) * m.height;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetImageSize(int handle, int roi, int x, int y, int width, int height, int which) {
  CAMSDK_ENTER(handle, roi, x, y, width, height, which);
  if (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const ModelInfo& m = c.model;
    SizeSel s;
    if (roi) {
      const bool ok = x >= 0 && y >= 0 && width >= m.roiMinW && height >= m.roiMinH && x % m.roiAlignX == 0 &&
                      y % m.roiAlignY == 0 && width % m.roiAlignW == 0 && height % m.roiAlignH == 0 &&
                      std::int64_t(x) + width <= m.sensorWidth && std::int64_t(y) + height <= m.sensorHeight;
      if (!ok) return CAMSDK_STATUS_INVALID_PARAMETER;
      s = {0, 1, x, y, width, height};
    }
    (which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture) = s;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetImageSizeSel(int handle, int* index, int which) {
  CAMSDK_ENTER(handle, index, which);
  if (!index || (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE))
    CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const SizeSel& s = which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture;
    *index = s.roi ? c.model.resolutionCount : s.preset;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetImageSizeSel(int handle, int index, int which) {
  CAMSDK_ENTER(handle, index, which);
  if (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (index < 0 || index >= c.model.resolutionCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    SizeSel s;
    s.preset = index;
    (which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture) = s;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetDisplaySize(int handle, int width, int height) {
  CAMSDK_ENTER(handle, width, height);
  if (width < 0 || height < 0) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.displayWidth = width;
    c.displayHeight = height;
    return CAMSDK_STATUS_OK;
  }));
}

// =============================================================================================
// Frame path

unsigned char* CameraISP(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo) {
  Call call_("CameraISP", handle, raw, frameInfo);
  if (call_.Injected()) {
    call_.Done(call_.InjectedResult());
    return nullptr;
  }
  if (!raw || !ValidRaw(frameInfo)) {
    call_.Done(CAMSDK_STATUS_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<const IspTables> tables;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    tables = Isp(c);
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) {
    call_.Done(r);
    return nullptr;
  }
  thread_local std::vector<unsigned char> out;
  out.resize(std::size_t(frameInfo->width) * frameInfo->height * 3);
  if (!RunIsp(*tables, raw, *frameInfo, out.data())) {
    call_.Done(CAMSDK_STATUS_INVALID_PARAMETER);
    return nullptr;
  }
  call_.Done(CAMSDK_STATUS_OK);
  return out.data();
}

int CamSdkISPInto(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo, unsigned char* bgrBottomUp,
                  std::size_t capacity) {
  CAMSDK_ENTER(handle, raw, frameInfo, bgrBottomUp, capacity);
  if (!raw || !bgrBottomUp || !ValidRaw(frameInfo)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  if (capacity < std::size_t(frameInfo->width) * frameInfo->height * 3) CAMSDK_RETURN(CAMSDK_STATUS_BUFFER_TOO_SMALL);
  std::shared_ptr<const IspTables> tables;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    tables = Isp(c);
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  CAMSDK_RETURN(RunIsp(*tables, raw, *frameInfo, bgrBottomUp) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_INVALID_PARAMETER);
}

int CameraDisplayRGB24(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo) {
  CAMSDK_ENTER(handle, image, frameInfo);
  if (!image || !ValidImage(frameInfo)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CamSdkDisplaySink sink = nullptr;
  void* context = nullptr;
  void* window = nullptr;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    sink = c.sink;
    context = c.sinkContext;
    window = c.displayWindow;
    ++c.displayCount;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  if (sink) sink(context, handle, image, frameInfo->width, frameInfo->height, window);
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

int CamSdkSetDisplaySink(int handle, CamSdkDisplaySink sink, void* context) {
  CAMSDK_ENTER(handle, sink, context);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.sink = sink;
    c.sinkContext = context;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetImageData(int handle, unsigned char* buffer, int mediaType, CamSdkFrameInfo* frameInfo,
                       std::size_t capacity) {
  CAMSDK_ENTER(handle, buffer, mediaType, frameInfo, capacity);
  if (!buffer || !frameInfo || !CamSdkRawIsValid(mediaType)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    const Mode mode = ModeOf(c.model, c.p.preview);
    std::size_t cap = capacity;
    if (cap == 0) cap = c.lastReportedBytes ? c.lastReportedBytes : std::size_t(mode.width) * mode.height;
    std::vector<std::uint8_t> raw;
    CamSdkFrameInfo info{};
    const bool stream = c.run == Run::Playing && !c.synchronous && tlsDelivering != &c;
    if (stream) {
      // The next frame of the stream that has the size in force.
      const auto deadline = Clock::now() + std::chrono::nanoseconds(Period(c) * 100) + std::chrono::seconds(1);
      for (;;) {
        const std::uint64_t seq = c.frameSeq;
        const bool got = c.cv.wait_until(lock, deadline, [&] {
          return c.frameSeq != seq || c.closed || c.lost || c.run != Run::Playing;
        });
        if (c.closed) return CAMSDK_STATUS_INVALID_HANDLE;
        if (c.lost) return CAMSDK_STATUS_DEVICE_LOST;
        if (!got) return CAMSDK_STATUS_TIMEOUT;
        if (c.run != Run::Playing) return CAMSDK_STATUS_NO_FRAME;
        const Mode now = ModeOf(c.model, c.p.preview);
        if (c.latestInfo.width == now.width && c.latestInfo.height == now.height) break;
      }
      raw = c.latestRaw;
      info = c.latestInfo;
    } else {
      if (!Snapshot(c, lock, c.p.preview, FormatOf(c), raw, &info)) return CAMSDK_STATUS_DEVICE_LOST;
      if (c.closed) return CAMSDK_STATUS_INVALID_HANDLE;
    }
    const std::size_t pixels = std::size_t(info.width) * info.height;
    const bool wide = CamSdkRawBits(info.format) > 8;
    if (wide && CamSdkRawBits(mediaType) > 8 && cap >= pixels * 2) {
      std::memcpy(buffer, raw.data(), pixels * 2);
    } else {
      if (cap < pixels) return CAMSDK_STATUS_BUFFER_TOO_SMALL;
      if (wide) {
        for (std::size_t i = 0; i < pixels; ++i) buffer[i] = std::uint8_t(((raw[2 * i] | (raw[2 * i + 1] << 8)) & 0xFFF) >> 4);
        info.format = CamSdkRaw8Of(info.format);
        info.bytes = int(pixels);
      } else {
        std::memcpy(buffer, raw.data(), pixels);
      }
    }
    *frameInfo = info;
    return CAMSDK_STATUS_OK;
  }));
}

// =============================================================================================
// Capture and recording

int CameraCaptureFile(int handle, const char* fileName, int fileTypes, int quality) {
  CAMSDK_ENTER(handle, fileName, fileTypes, quality);
  if (!fileName || !*fileName || fileTypes <= 0 || fileTypes > 15) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::vector<std::uint8_t> raw;
  CamSdkFrameInfo info{};
  std::shared_ptr<const IspTables> tables;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    tables = Isp(c);
    const Mode capture = ModeOf(c.model, c.p.capture);
    if (SameSize(c.p.capture, c.p.preview) && c.hasLatest && c.latestInfo.width == capture.width &&
        c.latestInfo.height == capture.height && c.latestInfo.format == FormatOf(c)) {
      raw = c.latestRaw;
      info = c.latestInfo;
      return CAMSDK_STATUS_OK;
    }
    return Snapshot(c, lock, c.p.capture, FormatOf(c), raw, &info) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_DEVICE_LOST;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);

  std::vector<unsigned char> bgr(std::size_t(info.width) * info.height * 3);
  if (!RunIsp(*tables, raw.data(), info, bgr.data())) CAMSDK_RETURN(CAMSDK_STATUS_FAILED);
  cv::Mat topDown;
  cv::flip(cv::Mat(info.height, info.width, CV_8UC3, bgr.data()), topDown, 0);

  int result = CAMSDK_STATUS_OK;
  auto write = [&](const std::string& name, const std::vector<int>& params) {
    bool ok = false;
    try {
      ok = cv::imwrite(name, topDown, params);
    } catch (const cv::Exception&) {
      ok = false;
    }
    if (!ok) result = CAMSDK_STATUS_FILE_ERROR;
  };
  const std::string base(fileName);
  if (fileTypes & CAMSDK_FILE_JPG) write(base + ".jpg", {cv::IMWRITE_JPEG_QUALITY, std::clamp(quality, 1, 100)});
  if (fileTypes & CAMSDK_FILE_BMP) write(base + ".bmp", {});
  if (fileTypes & CAMSDK_FILE_PNG) write(base + ".png", {cv::IMWRITE_PNG_COMPRESSION, 3});
  if (fileTypes & CAMSDK_FILE_RAW) {
    std::ofstream out(base + ".raw", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
    if (!out) result = CAMSDK_STATUS_FILE_ERROR;
  }
  CAMSDK_RETURN(result);
}

int CameraSetRecordEncoder(int handle, int codec) {
  CAMSDK_ENTER(handle, codec);
  if (codec != CAMSDK_CODEC_DEFAULT && codec != CAMSDK_CODEC_MJPEG) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.codec = codec;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetRecordAVIQuality(int handle, int quality) {
  CAMSDK_ENTER(handle, quality);
  if (quality < 0 || quality > 2) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.aviQuality = quality;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraStartRecordVideo(int handle, const char* pathWithoutExtension) {
  CAMSDK_ENTER(handle, pathWithoutExtension);
  if (!pathWithoutExtension || !*pathWithoutExtension) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  double fps = 0;
  int quality = 1;
  std::shared_ptr<Camera> cam;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    fps = 1e7 / double(Period(c));
    quality = c.aviQuality;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  const std::filesystem::path base(pathWithoutExtension);
  std::error_code ec;
  const auto folder = base.has_parent_path() ? base.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, ec)) CAMSDK_RETURN(CAMSDK_STATUS_FILE_ERROR);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  std::string name = std::string(pathWithoutExtension) + "_" + stamp + ".avi";
  for (int n = 2; std::filesystem::exists(name, ec) && n < 10000; ++n)
    name = std::string(pathWithoutExtension) + "_" + stamp + "_" + std::to_string(n) + ".avi";
  static const int kQuality[3] = {50, 75, 95};
  std::lock_guard<std::mutex> lock(cam->recMu);
  if (cam->recorder) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
  cam->recorder = StartRecorder(name, fps, kQuality[quality]);
  cam->lastVideo = name;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

int CameraRecordFrame(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo) {
  CAMSDK_ENTER(handle, image, frameInfo);
  if (!image || !ValidImage(frameInfo)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  const int r = With(handle, [](Camera&, std::unique_lock<std::mutex>&) { return CAMSDK_STATUS_OK; });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  std::shared_ptr<Recorder> rec;
  {
    std::lock_guard<std::mutex> lock(cam->recMu);
    rec = cam->recorder;
  }
  if (!rec) CAMSDK_RETURN(CAMSDK_STATUS_NOT_RECORDING);
  CAMSDK_RETURN(rec->Push(image, frameInfo->width, frameInfo->height));
}

int CameraStopRecordVideo(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  std::shared_ptr<Recorder> rec;
  {
    std::lock_guard<std::mutex> lock(cam->recMu);
    rec = std::move(cam->recorder);
  }
  if (!rec) CAMSDK_RETURN(CAMSDK_STATUS_NOT_RECORDING);
  CAMSDK_RETURN(rec->Close());
}

int CamSdkGetRecordFileName(int handle, char* buffer, int capacity) {
  CAMSDK_ENTER(handle, buffer, capacity);
  if (!buffer || capacity <= 0) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(cam->recMu);
  if (cam->lastVideo.size() + 1 > std::size_t(capacity)) CAMSDK_RETURN(CAMSDK_STATUS_BUFFER_TOO_SMALL);
  std::memcpy(buffer, cam->lastVideo.c_str(), cam->lastVideo.size() + 1);
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

// =============================================================================================
// Controls

int CameraGetCapability(int handle, CamSdkCapability* cap) {
  CAMSDK_ENTER(handle, cap);
  if (!cap) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const ModelInfo& m = c.model;
    *cap = CamSdkCapability{};
    cap->colorSensor = m.color ? 1 : 0;
    cap->monoSensor = m.color ? 0 : 1;
    cap->redGainMin = cap->greenGainMin = cap->blueGainMin = kGainMin;
    cap->redGainMax = cap->greenGainMax = cap->blueGainMax = kGainMax;
    cap->saturationMin = kSaturationMin;
    cap->saturationMax = kSaturationMax;
    cap->gammaMin = kGammaMin;
    cap->gammaMax = kGammaMax;
    cap->contrastMin = kContrastMin;
    cap->contrastMax = kContrastMax;
    cap->sharpnessMin = kSharpnessMin;
    cap->sharpnessMax = kSharpnessMax;
    cap->range = &kRange;
    cap->resolutions = m.resolutions;
    cap->resolutionCount = m.resolutionCount;
    cap->mediaTypes = m.mediaTypes;
    cap->mediaTypeCount = m.mediaTypeCount;
    cap->frameSpeedCount = m.frameSpeedCount;
    cap->colorPresets = ColorPresetRecords();
    cap->colorPresetCount = int(ColorPresets().size());
    cap->sensorWidth = m.sensorWidth;
    cap->sensorHeight = m.sensorHeight;
    cap->roiAlignX = m.roiAlignX;
    cap->roiAlignY = m.roiAlignY;
    cap->roiAlignWidth = m.roiAlignW;
    cap->roiAlignHeight = m.roiAlignH;
    cap->roiMinWidth = m.roiMinW;
    cap->roiMinHeight = m.roiMinH;
    cap->parameterTeams = CAMSDK_PARAMETER_TEAMS;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetExposureTime(int handle, std::uint64_t exposure) {
  CAMSDK_ENTER(handle, exposure);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const std::uint64_t lt = LineTime(c);
    const std::uint64_t lines = std::clamp<std::uint64_t>((exposure + lt / 2) / lt, 1, c.model.maxExposureLines);
    c.p.exposureLines = std::uint32_t(lines);
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetExposureTime(int handle, std::uint64_t* exposure, std::uint64_t* maximum, std::uint64_t* minimum) {
  CAMSDK_ENTER(handle, exposure, maximum, minimum);
  if (!exposure || !maximum || !minimum) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *exposure = ExposureOf(c);
    *maximum = std::uint64_t(c.model.maxExposureLines) * LineTime(c);
    *minimum = LineTime(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetAnalogGain(int handle, float gain) {
  CAMSDK_ENTER(handle, gain);
  if (!Finite(gain)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.analogGain = QuantiseGain(gain);
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetAnalogGain(int handle, float* gain) {
  CAMSDK_ENTER(handle, gain);
  if (!gain) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *gain = c.p.analogGain;
    return CAMSDK_STATUS_OK;
  }));
}

namespace {

// Setters and getters of plain int parameters.
int SetInt(int handle, int value, int lo, int hi, int Params::*field, bool colorOnly = false, bool timing = false) {
  if (value < lo || value > hi) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (colorOnly && !c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.p.*field = value;
    Changed(c, timing);
    return CAMSDK_STATUS_OK;
  });
}

int SetFlag(int handle, int value, int Params::*field) { return SetInt(handle, value != 0, 0, 1, field); }

int GetInt(int handle, int* out, int Params::*field, bool colorOnly = false) {
  if (!out) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (colorOnly && !c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    *out = c.p.*field;
    return CAMSDK_STATUS_OK;
  });
}

int SetWindow(int handle, int x, int y, int width, int height, Window Params::*field) {
  if (width < 0 || height < 0) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.*field = Window{x, y, width, height};
    return CAMSDK_STATUS_OK;
  });
}

}  // namespace

int CameraSetAeState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::aeOn));
}
int CameraGetAeState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::aeOn));
}
int CameraSetAeMode(int handle, int mode) {
  CAMSDK_ENTER(handle, mode);
  CAMSDK_RETURN(SetInt(handle, mode, 0, 2, &Params::aeMode));
}
int CameraGetAeMode(int handle, int* mode) {
  CAMSDK_ENTER(handle, mode);
  CAMSDK_RETURN(GetInt(handle, mode, &Params::aeMode));
}
int CameraSetAeScheme(int handle, int scheme) {
  CAMSDK_ENTER(handle, scheme);
  CAMSDK_RETURN(SetInt(handle, scheme, 0, 3, &Params::aeScheme));
}
int CameraGetAeScheme(int handle, int* scheme) {
  CAMSDK_ENTER(handle, scheme);
  CAMSDK_RETURN(GetInt(handle, scheme, &Params::aeScheme));
}
int CameraSetAeTarget(int handle, int target) {
  CAMSDK_ENTER(handle, target);
  CAMSDK_RETURN(SetInt(handle, target, kAeTargetMin, kAeTargetMax, &Params::aeTarget));
}
int CameraGetAeTarget(int handle, int* target) {
  CAMSDK_ENTER(handle, target);
  CAMSDK_RETURN(GetInt(handle, target, &Params::aeTarget));
}
int CameraSetAEWindow(int handle, int x, int y, int width, int height) {
  CAMSDK_ENTER(handle, x, y, width, height);
  CAMSDK_RETURN(SetWindow(handle, x, y, width, height, &Params::aeWindow));
}
int CameraSetAntiFlick(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::antiFlick));
}
int CameraGetAntiFlick(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::antiFlick));
}
int CameraSetLightFrequency(int handle, int frequency) {
  CAMSDK_ENTER(handle, frequency);
  CAMSDK_RETURN(SetInt(handle, frequency, 0, 1, &Params::lightFrequency));
}
int CameraGetLightFrequency(int handle, int* frequency) {
  CAMSDK_ENTER(handle, frequency);
  CAMSDK_RETURN(GetInt(handle, frequency, &Params::lightFrequency));
}

int CameraSetFrameSpeed(int handle, int speed) {
  CAMSDK_ENTER(handle, speed);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (speed < 0 || speed >= c.model.frameSpeedCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    // Keep the exposure time, in lines of the new speed.
    const std::uint64_t exposure = ExposureOf(c);
    c.p.frameSpeed = speed;
    const std::uint64_t lt = LineTime(c);
    c.p.exposureLines = std::uint32_t(std::clamp<std::uint64_t>((exposure + lt / 2) / lt, 1, c.model.maxExposureLines));
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}
int CameraGetFrameSpeed(int handle, int* speed) {
  CAMSDK_ENTER(handle, speed);
  CAMSDK_RETURN(GetInt(handle, speed, &Params::frameSpeed));
}

int CameraSetGain(int handle, float red, float green, float blue) {
  CAMSDK_ENTER(handle, red, green, blue);
  for (float g : {red, green, blue})
    if (!Finite(g) || g < kGainMin || g > kGainMax) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.p.gainR = red;
    c.p.gainG = green;
    c.p.gainB = blue;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetGain(int handle, float* red, float* green, float* blue) {
  CAMSDK_ENTER(handle, red, green, blue);
  if (!red || !green || !blue) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *red = c.p.gainR;
    *green = c.p.gainG;
    *blue = c.p.gainB;
    return c.model.color ? CAMSDK_STATUS_OK : CAMSDK_STATUS_NOT_SUPPORTED;
  }));
}

int CameraSetOnceWB(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.onceWbPending = true;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetWBWindow(int handle, int x, int y, int width, int height) {
  CAMSDK_ENTER(handle, x, y, width, height);
  CAMSDK_RETURN(SetWindow(handle, x, y, width, height, &Params::wbWindow));
}

int CameraSetAWBState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetInt(handle, on != 0, 0, 1, &Params::awbOn, true));
}
int CameraGetAWBState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::awbOn, true));
}

int CameraSetBlackLevelState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::blackState));
}

int CameraSetBlackLevel(int handle, int red, int green, int blue, int bound) {
  CAMSDK_ENTER(handle, red, green, blue, bound);
  const int limit = std::min(bound, kBlackMax);
  for (int v : {red, green, blue})
    if (bound < 0 || v < -limit || v > limit) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.blackR = red;
    c.p.blackG = green;
    c.p.blackB = blue;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetBlackLevel(int handle, int* level, int* minimum, int* maximum) {
  CAMSDK_ENTER(handle, level, minimum, maximum);
  if (!level || !minimum || !maximum) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *level = c.p.blackG;
    *minimum = kBlackMin;
    *maximum = kBlackMax;
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetGamma(int handle, int gamma) {
  CAMSDK_ENTER(handle, gamma);
  CAMSDK_RETURN(SetInt(handle, gamma, kGammaMin, kGammaMax, &Params::gamma));
}
int CameraGetGamma(int handle, int* gamma) {
  CAMSDK_ENTER(handle, gamma);
  CAMSDK_RETURN(GetInt(handle, gamma, &Params::gamma));
}
int CameraSetContrast(int handle, int contrast) {
  CAMSDK_ENTER(handle, contrast);
  CAMSDK_RETURN(SetInt(handle, contrast, kContrastMin, kContrastMax, &Params::contrast));
}
int CameraGetContrast(int handle, int* contrast) {
  CAMSDK_ENTER(handle, contrast);
  CAMSDK_RETURN(GetInt(handle, contrast, &Params::contrast));
}
int CameraSetColorEnhancement(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::colorEnhance));
}
int CameraSetSaturation(int handle, int saturation) {
  CAMSDK_ENTER(handle, saturation);
  CAMSDK_RETURN(SetInt(handle, saturation, kSaturationMin, kSaturationMax, &Params::saturation));
}
int CameraGetSaturation(int handle, int* saturation) {
  CAMSDK_ENTER(handle, saturation);
  CAMSDK_RETURN(GetInt(handle, saturation, &Params::saturation));
}
int CameraSetEdgeEnhance(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::edgeOn));
}
int CameraGetEdgeEnhance(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::edgeOn));
}
int CameraSetEdgeGain(int handle, int gain) {
  CAMSDK_ENTER(handle, gain);
  CAMSDK_RETURN(SetInt(handle, gain, kSharpnessMin, kSharpnessMax, &Params::edgeGain));
}
int CameraGetEdgeGain(int handle, int* gain) {
  CAMSDK_ENTER(handle, gain);
  CAMSDK_RETURN(GetInt(handle, gain, &Params::edgeGain));
}

int CameraSetMirror(int handle, int direction, int on) {
  CAMSDK_ENTER(handle, direction, on);
  if (direction == CAMSDK_MIRROR_HORIZONTAL) CAMSDK_RETURN(SetFlag(handle, on, &Params::mirrorH));
  if (direction == CAMSDK_MIRROR_VERTICAL) CAMSDK_RETURN(SetFlag(handle, on, &Params::mirrorV));
  CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
}
int CameraGetMirror(int handle, int direction, int* on) {
  CAMSDK_ENTER(handle, direction, on);
  if (direction == CAMSDK_MIRROR_HORIZONTAL) CAMSDK_RETURN(GetInt(handle, on, &Params::mirrorH));
  if (direction == CAMSDK_MIRROR_VERTICAL) CAMSDK_RETURN(GetInt(handle, on, &Params::mirrorV));
  CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
}
int CameraSetInverse(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::inverse));
}
int CameraGetInverse(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::inverse));
}
int CameraSetMonochrome(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::monochrome));
}
int CameraGetMonochrome(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::monochrome));
}

int CameraSetRgbMatrixSel(int handle, int index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(SetInt(handle, index, 0, int(ColorPresets().size()) - 1, &Params::matrixSel, true));
}
int CameraGetRgbMatrixSel(int handle, int* index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(GetInt(handle, index, &Params::matrixSel));
}
int CameraApplyColorMatrix(int handle, const float matrix[9]) {
  CAMSDK_ENTER(handle, matrix);
  if (!matrix) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  for (int i = 0; i < 9; ++i)
    if (!Finite(matrix[i]) || std::fabs(matrix[i]) > 16.0f) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    std::copy(matrix, matrix + 9, c.p.matrix.begin());
    c.p.matrixSel = -1;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetMediaTypeSel(int handle, int index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (index < 0 || index >= c.model.mediaTypeCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    c.p.mediaSel = index;
    return CAMSDK_STATUS_OK;
  }));
}
int CameraGetMediaTypeSel(int handle, int* index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(GetInt(handle, index, &Params::mediaSel));
}
int CameraGetMediaType(int handle, int* format) {
  CAMSDK_ENTER(handle, format);
  if (!format) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *format = FormatOf(c);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraSetDeadPixelCorrectionState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::deadPixelCorrection));
}
int CameraGetDeadPixelCorrectionState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::deadPixelCorrection));
}

namespace {

// Pixels of a dark frame that stand out from their same-colour neighbours.
std::vector<CamSdkPoint> FindDefects(const cv::Mat& mean, int pattern) {
  const int step = pattern == CAMSDK_PATTERN_MONO ? 1 : 2;
  std::mutex mu;
  std::vector<CamSdkPoint> found;
  cv::parallel_for_(cv::Range(0, mean.rows), [&](const cv::Range& range) {
    std::vector<CamSdkPoint> local;
    for (int y = range.start; y < range.end; ++y) {
      const float* row = mean.ptr<float>(y);
      for (int x = 0; x < mean.cols; ++x) {
        const float v = row[x];
        float nb[8];
        int n = 0;
        for (int dy = -step; dy <= step; dy += step)
          for (int dx = -step; dx <= step; dx += step) {
            if ((dx == 0 && dy == 0) || x + dx < 0 || y + dy < 0 || x + dx >= mean.cols || y + dy >= mean.rows) continue;
            nb[n++] = mean.at<float>(y + dy, x + dx);
          }
        if (n < 3) continue;
        std::nth_element(nb, nb + n / 2, nb + n);
        const float median = nb[n / 2];
        if (v - median > std::max(40.0f, 0.5f * median)) local.push_back({x, y});
      }
    }
    std::lock_guard<std::mutex> lock(mu);
    found.insert(found.end(), local.begin(), local.end());
  });
  std::sort(found.begin(), found.end(), [](const CamSdkPoint& a, const CamSdkPoint& b) {
    return a.y != b.y ? a.y < b.y : a.x < b.x;
  });
  if (found.size() > 4096) found.resize(4096);  // a lit scene is no dark frame
  return found;
}

}  // namespace

int CameraCreateDefectCorrectionInfo(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  // Full resolution, so the info holds sensor coordinates; without the old correction.
  cv::Mat sum;
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    SizeSel full;
    const int saved = c.p.deadPixelCorrection;
    c.p.deadPixelCorrection = 0;
    const int format = CamSdkRaw8Of(FormatOf(c));
    for (int i = 0; i < 4; ++i) {
      std::vector<std::uint8_t> raw;
      CamSdkFrameInfo info{};
      c.frameNumber += 7;  // other noise
      if (!Snapshot(c, lock, full, format, raw, &info) || c.closed) {
        c.p.deadPixelCorrection = saved;
        return c.closed ? CAMSDK_STATUS_INVALID_HANDLE : CAMSDK_STATUS_DEVICE_LOST;
      }
      cv::Mat frame(info.height, info.width, CV_8U, raw.data());
      if (sum.empty()) sum = cv::Mat::zeros(info.height, info.width, CV_32F);
      cv::accumulate(frame, sum);
    }
    c.p.deadPixelCorrection = saved;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  sum /= 4.0;
  const std::vector<CamSdkPoint> found = FindDefects(sum, cam->model.color ? cam->model.pattern : CAMSDK_PATTERN_MONO);
  const int r2 = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.settings.defects = found;
    c.defects = std::make_shared<std::vector<CamSdkPoint>>(found);
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r2 != CAMSDK_STATUS_OK) CAMSDK_RETURN(r2);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

int CameraSaveParameter(int handle, int team) {
  CAMSDK_ENTER(handle, team);
  if (team < 0 || team >= CAMSDK_PARAMETER_TEAMS) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.settings.teams[team] = c.p;
    c.settings.saved[team] = true;
    c.settings.currentTeam = team;
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK || !cam) CAMSDK_RETURN(r);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

int CameraReadParameter(int handle, int team) {
  CAMSDK_ENTER(handle, team);
  if (team < 0 || team >= CAMSDK_PARAMETER_TEAMS) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p = c.settings.saved[team] ? c.settings.teams[team] : FactoryParams(c.model);
    c.settings.currentTeam = team;
    c.onceWbPending = false;
    Changed(c, true);
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK || !cam) CAMSDK_RETURN(r);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

int CameraLoadDefaultParameter(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p = FactoryParams(c.model);
    c.onceWbPending = false;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

int CameraGetCurrentParameterTeam(int handle, int* team) {
  CAMSDK_ENTER(handle, team);
  if (!team) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *team = c.settings.currentTeam;
    return CAMSDK_STATUS_OK;
  }));
}

void CamSdkSetConfigDir(const char* folder) {
  std::lock_guard<std::mutex> lock(gConfigMutex);
  gConfigDir = folder ? folder : "";
}

std::string CamSdkConfigDir() {
  {
    std::lock_guard<std::mutex> lock(gConfigMutex);
    if (!gConfigDir.empty()) return gConfigDir;
  }
  if (const char* env = std::getenv("Q7V_CAMSDK_CONFIG_DIR"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/q7v-camsdk";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/q7v-camsdk";
  return ".";
}

// =============================================================================================
// Test hooks

int CamSdkTestSetModels(const char* keys) { return SimSetModels(keys ? keys : ""); }

int CamSdkTestAttach(const char* key) {
  if (!key) return CAMSDK_STATUS_INVALID_PARAMETER;
  return SimSetPresent(key, true) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_INVALID_PARAMETER;
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
    std::unique_lock<std::mutex> lock(c->mu);
    c->lost = true;
    c->run = Run::Stopped;
    c->cv.notify_all();
    if (tlsDelivering != c.get()) c->cv.wait(lock, [&] { return !c->busy; });
  }
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
  for (int h : handles) CameraUnInit(h);
  SimResetPresence();
  gSynchronous = false;
  gLogOn = false;
  std::lock_guard<std::mutex> lock(gHookMutex);
  gLog.clear();
}

void CamSdkTestSetCallLog(bool on) { gLogOn = on; }

std::vector<std::string> CamSdkTestTakeCallLog() {
  std::lock_guard<std::mutex> lock(gHookMutex);
  std::vector<std::string> out;
  out.swap(gLog);
  return out;
}

void CamSdkTestInjectFailure(const char* function, int result, int times) {
  if (!function || times == 0) return;
  std::lock_guard<std::mutex> lock(gHookMutex);
  gFailures[function] = Failure{result, times};
  gAnyFailure = true;
}

void CamSdkTestClearFailures() {
  std::lock_guard<std::mutex> lock(gHookMutex);
  gFailures.clear();
  gAnyFailure = false;
}

void CamSdkTestSetSynchronous(bool on) { gSynchronous = on; }

int CamSdkTestDeliverFrames(int handle, int count) {
  if (count < 0) return CAMSDK_STATUS_INVALID_PARAMETER;
  int delivered = 0;
  for (int i = 0; i < count; ++i) {
    bool done = false;
    const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
      if (!c.synchronous) return CAMSDK_STATUS_BUSY;
      if (tlsDelivering == &c) return CAMSDK_STATUS_BUSY;
      c.cv.wait(lock, [&] { return !c.busy; });
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
