#pragma once
// The open cameras behind the library's handles, shared by the files of the library core that
// implement its calls, one family each: cam_stream.cpp (listing, opening, streaming),
// cam_auto.cpp (exposure and automatic exposure), cam_image.cpp (colour and image controls),
// cam_sizes.cpp (resolution, region of interest, media types), cam_teams.cpp (parameter teams,
// defaults, dead-pixel info) and cam_capture.cpp (frame path, capture, recording); the test
// harness (cam_hooks.cpp, the camsdk_testing library) reaches in through the seam below. Every call validates its handle and
// arguments; nothing a caller passes can make the library read or write outside a buffer.
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/camsdk/core.h"

namespace camsdk {

using Clock = std::chrono::steady_clock;
extern const Clock::time_point kEpoch;  // the library's time origin

// ---------------------------------------------------------------------------------------------
// The harness seam: a test harness (the camsdk_testing library) installs a set of functions to
// watch and steer the library; the program installs none, and then each check below is one
// load of a null pointer. Nothing of the harness itself is part of the library.

// One argument of a public call as the harness sees it.
struct CallArg {
  enum Kind : unsigned char { kSigned, kUnsigned, kFloat, kText, kPointer, kOther } kind = kOther;
  long long i = 0;
  unsigned long long u = 0;
  double f = 0;
  const char* text = nullptr;  // kText (may be null)
  bool set = false;            // kPointer: not null

  template <typename T>
  static CallArg Of(const T& v) {
    using D = std::decay_t<T>;
    CallArg a;
    if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
      a.kind = kText;
      a.text = v;
    } else if constexpr (std::is_pointer_v<D>) {
      a.kind = kPointer;
      a.set = v != nullptr;
    } else if constexpr (std::is_floating_point_v<D>) {
      a.kind = kFloat;
      a.f = double(v);
    } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
      a.kind = kSigned;
      a.i = static_cast<long long>(v);
    } else if constexpr (std::is_integral_v<D>) {
      a.kind = kUnsigned;
      a.u = static_cast<unsigned long long>(v);
    }
    return a;
  }
};

struct Harness {
  // Before each public call: true to answer *result in the library's place. *state is handed
  // to leave, which every call that entered reaches with its result.
  bool (*enter)(const char* function, const CallArg* args, int count, int* result, void** state);
  void (*leave)(void* state, int result);
  // Whether a camera opened now runs without a frame thread (frames delivered on request).
  bool (*synchronous)();
  // Controls a model is to report lacking beyond those it lacks.
  std::uint32_t (*lacking)(const ModelInfo& model);
};
// Null removes it. The harness must stay alive while installed.
void InstallHarness(const Harness* harness);
extern std::atomic<const Harness*> gHarness;
// Whether a camera opened now is to run without a frame thread (never, without a harness).
bool HarnessSynchronous();

class Call {
 public:
  template <typename... A>
  explicit Call(const char* name, const A&... args) {
    const Harness* h = gHarness.load(std::memory_order_acquire);
    if (!h || !h->enter) return;
    harness_ = h;
    const CallArg list[] = {CallArg::Of(args)..., CallArg{}};
    injected_ = h->enter(name, list, int(sizeof...(A)), &result_, &state_);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  bool Injected() const { return injected_; }
  int InjectedResult() const { return result_; }
  // Ends the call with `result` (a status the library's code computed as an int).
  CamSdkStatus Done(int result) {
    Leave(result);
    return static_cast<CamSdkStatus>(result);
  }
  // The same for calls that answer something else than a status.
  void Leave(int result) {
    if (harness_ && harness_->leave) harness_->leave(state_, result);
    harness_ = nullptr;
  }

 private:
  const Harness* harness_ = nullptr;
  void* state_ = nullptr;
  bool injected_ = false;
  int result_ = 0;
};

#define CAMSDK_ENTER(...)                          \
  Call call_(__func__ __VA_OPT__(, ) __VA_ARGS__); \
  if (call_.Injected()) return call_.Done(call_.InjectedResult())
#define CAMSDK_RETURN(expr) return call_.Done(expr)

// ---------------------------------------------------------------------------------------------
// Cameras

enum class Run { Stopped, Paused, Playing };

struct Stats {
  bool valid = false;
  double mean = 0;             // AE window, 8-bit units
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
  // One reader of the device at a time: `reading` while a thread is inside Device::ReadFrame
  // (the frame thread, or a snapshot's caller); `deviceWanted` counts callers waiting for the
  // device, whom the frame thread lets go first.
  bool reading = false;
  int deviceWanted = 0;
  bool delivering = false;  // the frame callback runs
  std::atomic<bool> cancelRead{false};  // the reader should give up waiting for the camera
  bool timingChanged = false;
  Clock::time_point lastStart{};
  double syncTime = 0;

  DeviceSettings settings;
  Params p;
  std::shared_ptr<const IspTables> isp;
  std::shared_ptr<const std::vector<CamSdkPoint>> defects = std::make_shared<std::vector<CamSdkPoint>>();
  std::uint32_t frameNumber = 0;
  std::uint64_t frameSeq = 0;
  std::uint64_t incompleteFrames = 0;   // frames that came damaged and were dropped
  std::vector<std::uint8_t> workRaw;  // the frame thread's, while it reads and delivers
  std::vector<std::uint8_t> latestRaw;
  CamSdkFrameInfo latestInfo{};
  bool hasLatest = false;
  bool onceWbPending = false;
  bool lensCovered = false;
  double sceneLight = 1.0;  // share of the scene's light on the sensor
  std::size_t lastReportedBytes = 0;
  int displayWidth = 0, displayHeight = 0;
  CamSdkDisplaySink sink = nullptr;
  void* sinkContext = nullptr;
  std::uint64_t displayCount = 0;
  int codec = CAMSDK_CODEC_MJPEG, aviQuality = 1;

  std::mutex recMu;  // guards recorder, lastVideo and incompleteAtStart
  std::shared_ptr<Recorder> recorder;
  std::string lastVideo;
  std::uint64_t incompleteAtStart = 0;  // incompleteFrames when the recording started
};

// The camera whose frame this thread is delivering (calls from its callback must not wait for it).
extern thread_local Camera* tlsDelivering;

struct Registry {
  std::mutex mu;
  std::map<int, std::shared_ptr<Camera>> cams;
  int nextHandle = 1;
  // Cameras closed while their reader was still waiting on the device: finished here, so that
  // closing never waits for a camera that does not answer.
  struct Closer {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Closer> closers;
  // Starts a closer (call with mu held), after joining those that are done.
  void Close(std::shared_ptr<Camera> c) {
    for (auto it = closers.begin(); it != closers.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = closers.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    closers.push_back({std::thread([c = std::move(c), done]() mutable {
                         c->Shutdown();
                         c.reset();
                         done->store(true);
                       }),
                       done});
  }
  // Waits for every closer (no lock held).
  void JoinClosers() {
    std::vector<Closer> pending;
    {
      std::lock_guard<std::mutex> lock(mu);
      pending.swap(closers);
    }
    for (Closer& k : pending) k.thread.join();
  }
  ~Registry() {
    std::map<int, std::shared_ptr<Camera>> all;
    {
      std::lock_guard<std::mutex> lock(mu);
      all.swap(cams);
    }
    for (auto& [h, c] : all) c->Shutdown();
    JoinClosers();
  }
};

Registry& Reg();
std::shared_ptr<Camera> Find(int handle);

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
void Changed(Camera& c, bool timing = false);

inline std::uint32_t LineTime(const Camera& c) { return c.model.lineTime[c.p.frameSpeed]; }
inline std::uint64_t ExposureOf(const Camera& c) { return std::uint64_t(c.p.exposureLines) * LineTime(c); }
inline Mode ModeOf(const ModelInfo& m, const SizeSel& s) {
  return s.roi ? RoiMode(m, s.x, s.y, s.width, s.height) : PresetMode(m, s.preset);
}
inline int FormatOf(const Camera& c) { return c.model.mediaTypes[c.p.mediaSel].format; }
inline bool Finite(float v) { return std::isfinite(v); }

inline int Sample(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, int x, int y) {
  const std::size_t i = std::size_t(y) * info.width + x;
  if (info.format == CAMSDK_RAW_BGR8) {  // read as an RGGB mosaic: each 2x2 quad gives R, G, G, B
    const int site = (y & 1) * 2 + (x & 1);
    return raw[3 * i + (site == 0 ? 2 : site == 3 ? 0 : 1)];
  }
  return CamSdkRawBits(info.format) > 8 ? (raw[2 * i] | (raw[2 * i + 1] << 8)) : raw[i];
}

// ---- streaming (cam_stream.cpp)
// Frame period in 100 ns: the readout of the lines, or the exposure when that is longer.
std::uint64_t Period(const Camera& c);
std::shared_ptr<const IspTables> Isp(Camera& c);
// Reads one frame with the settings in force and, when still playing, hands it to the frame
// callback. Called with the lock held; returns with it held. When another caller holds or wants
// the device it only waits for it and returns.
void DeliverOne(Camera& c, std::unique_lock<std::mutex>& lock);
// Marks the camera lost (stream stopped) and, the first time, tells the device-event callback
// with the lock released for the call.
void MarkLost(Camera& c, std::unique_lock<std::mutex>& lock);
// Takes the device for the caller's thread: waits until no one else reads it, hurrying a
// waiting frame thread. False when the camera was closed or lost meanwhile. ReleaseDevice gives
// it back.
bool AcquireDevice(Camera& c, std::unique_lock<std::mutex>& lock);
void ReleaseDevice(Camera& c);
// A whole frame exposed on the caller's thread, without callback or automatic functions, through
// the same hand-over as the frame thread: CAMSDK_STATUS_OK, or the status why there is none
// (closed, lost, no frame in time). `correct`: with the dead-pixel correction in force.
CamSdkStatus Snapshot(Camera& c, std::unique_lock<std::mutex>& lock, const SizeSel& sel, int format,
                      std::vector<std::uint8_t>& raw, CamSdkFrameInfo* info, bool correct = true);

// ---- automatic exposure (cam_auto.cpp)
Stats ComputeStats(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Window& ae,
                   const Window& wb);
// One step of automatic exposure toward the target; called with the camera locked.
void StepAe(Camera& c, const Stats& s);

// ---- colour and image controls (cam_image.cpp)
// White balance from the window's site means; once: at once, automatic: a part per frame.
void StepWb(Camera& c, const Stats& s);
// Setters and getters of plain int parameters.
int SetInt(int handle, int value, int lo, int hi, int Params::*field, bool colorOnly = false, bool timing = false);
int SetFlag(int handle, int value, int Params::*field);
int GetInt(int handle, int* out, int Params::*field, bool colorOnly = false);
// A measuring window (automatic exposure, white balance) in sensor coordinates.
int SetWindow(int handle, int x, int y, int width, int height, Window Params::*field);

// ---- dead pixels (cam_teams.cpp)
// Maps a sensor point into an image of this mode; false when it lies outside.
bool MapToMode(const Mode& mode, const CamSdkPoint& p, int* x, int* y);
// Replaces each listed pixel by the mean of its same-colour neighbours.
void CorrectDefects(std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Mode& mode,
                    const std::vector<CamSdkPoint>& defects);

// ---- sizes (cam_sizes.cpp)
bool SameSize(const SizeSel& a, const SizeSel& b);

}  // namespace camsdk
