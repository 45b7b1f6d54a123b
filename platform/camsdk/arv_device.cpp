// GenICam cameras (GigE Vision, USB3 Vision) through Aravis. Each listed camera gets a model
// record built from its features at first sight, by reading them only: the full sensor and its
// binned sizes as presets, the pixel formats the core can take as media types, exposure bounds
// as line time and exposure limit. A frame is the newest whole buffer of Aravis' stream, copied
// once into the core's raw layout. The camera paces the stream.
//
// Nothing here makes the window wait for a camera: listing answers with what the last discovery
// found and starts the next one on a thread of its own; a camera is connected on its frame
// thread at the first read, and released on a closer thread. A camera that stops sending is
// asked on its control port within a second; one that does not answer is lost, and discovery
// then looks for it until it is back.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

#include "platform/camsdk/backends.h"

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer's own annotations (its runtime provides them).
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

#if defined(Q7V_HAVE_ARAVIS)
#include <arv.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif


namespace camsdk {

namespace {

// PFNC codes of the formats the core takes.
enum : std::uint32_t {
  kMono8 = 0x01080001, kMono10 = 0x01100003, kMono12 = 0x01100005, kMono16 = 0x01100007,
  kBayerGR8 = 0x01080008, kBayerRG8 = 0x01080009, kBayerGB8 = 0x0108000A, kBayerBG8 = 0x0108000B,
  kBayerGR10 = 0x0110000C, kBayerRG10 = 0x0110000D, kBayerGB10 = 0x0110000E, kBayerBG10 = 0x0110000F,
  kBayerGR12 = 0x01100010, kBayerRG12 = 0x01100011, kBayerGB12 = 0x01100012, kBayerBG12 = 0x01100013,
  kBayerGR16 = 0x0110002E, kBayerRG16 = 0x0110002F, kBayerGB16 = 0x01100030, kBayerBG16 = 0x01100031,
  kRgb8 = 0x02180014, kBgr8 = 0x02180015,
};

// The pattern a camera names for its top row, as the core's bottom-up rows see it when the
// height is even: the two rows of the quad change places.
int RowsSwapped(int pattern) {
  switch (pattern) {
    case CAMSDK_PATTERN_GRBG: return CAMSDK_PATTERN_BGGR;
    case CAMSDK_PATTERN_BGGR: return CAMSDK_PATTERN_GRBG;
    case CAMSDK_PATTERN_RGGB: return CAMSDK_PATTERN_GBRG;
    case CAMSDK_PATTERN_GBRG: return CAMSDK_PATTERN_RGGB;
    default: return pattern;
  }
}

}  // namespace

int GenicamBits(std::uint32_t pf) {
  switch (pf) {
    case kMono8: case kBayerGR8: case kBayerRG8: case kBayerGB8: case kBayerBG8: case kRgb8: case kBgr8:
      return 8;
    case kMono10: case kBayerGR10: case kBayerRG10: case kBayerGB10: case kBayerBG10:
      return 10;
    case kMono12: case kBayerGR12: case kBayerRG12: case kBayerGB12: case kBayerBG12:
      return 12;
    case kMono16: case kBayerGR16: case kBayerRG16: case kBayerGB16: case kBayerBG16:
      return 16;
    default: return 0;
  }
}

int GenicamPattern(std::uint32_t pf) {
  switch (pf) {
    case kBayerGR8: case kBayerGR10: case kBayerGR12: case kBayerGR16: return CAMSDK_PATTERN_GRBG;
    case kBayerRG8: case kBayerRG10: case kBayerRG12: case kBayerRG16: return CAMSDK_PATTERN_RGGB;
    case kBayerGB8: case kBayerGB10: case kBayerGB12: case kBayerGB16: return CAMSDK_PATTERN_GBRG;
    case kBayerBG8: case kBayerBG10: case kBayerBG12: case kBayerBG16: return CAMSDK_PATTERN_BGGR;
    case kRgb8: case kBgr8: return CAMSDK_PATTERN_BGR;
    default: return CAMSDK_PATTERN_MONO;
  }
}

int GenicamRawFormat(std::uint32_t pf) {
  const int bits = GenicamBits(pf);
  if (!bits) return 0;
  const int pattern = GenicamPattern(pf);
  if (pattern == CAMSDK_PATTERN_BGR) return CAMSDK_RAW_BGR8;
  return CamSdkRawFormat(RowsSwapped(pattern), bits > 8 ? 12 : 8);
}

void GenicamToRaw(const std::uint8_t* data, int width, int height, std::size_t stride, std::uint32_t pf,
                  std::vector<std::uint8_t>& raw) {
  const int bits = GenicamBits(pf);
  const bool colour = pf == kRgb8 || pf == kBgr8;
  const int bps = colour ? 3 : bits > 8 ? 2 : 1;
  const std::size_t rowBytes = std::size_t(width) * bps;
  raw.resize(rowBytes * height);
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* src = data + std::size_t(height - 1 - r) * stride;  // bottom-up
    std::uint8_t* dst = raw.data() + std::size_t(r) * rowBytes;
    if (pf == kRgb8) {
      for (int x = 0; x < width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    } else if (bits == 8 || bits == 12) {
      std::memcpy(dst, src, rowBytes);
    } else {
      for (int x = 0; x < width; ++x) {
        int v = src[2 * x] | (src[2 * x + 1] << 8);
        v = bits == 10 ? (v & 0x3FF) << 2 : v >> 4;
        dst[2 * x] = std::uint8_t(v & 0xFF);
        dst[2 * x + 1] = std::uint8_t(v >> 8);
      }
    }
  }
}

double GenicamGain(float analogGain, double minimum, double maximum, bool integer) {
  // The panel's 1x .. 16x spans the camera's whole range, evenly in decibels.
  const double share = std::log(std::clamp(double(analogGain), 1.0, 16.0)) / std::log(16.0);
  const double v = minimum + share * (maximum - minimum);
  return std::clamp(integer ? std::round(v) : v, minimum, maximum);
}

#if !defined(Q7V_HAVE_ARAVIS)

namespace {
class NoArvBackend final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override { return {}; }
  std::unique_ptr<Device> Open(const ModelInfo&) override { return nullptr; }
  bool Present(const ModelInfo&) override { return false; }
};
}  // namespace

Backend& ArvBackend() {
  static NoArvBackend backend;
  return backend;
}
void ArvSetFakeInterface(bool) {}
std::string ArvDeviceId(const std::string&) { return {}; }
bool WithOpenArvCamera(const std::string&, const std::function<void(void*)>&) { return false; }
void* ConnectGigeCamera(const std::string&) { return nullptr; }
void ArvWaitDiscovery(bool) {}

#else

namespace {

#define TIMES "\xC3\x97"  // "×" in UTF-8
#define Q7V_STR2(x) #x
#define Q7V_STR(x) Q7V_STR2(x)
const char* const kArvVersion =
    "Aravis " Q7V_STR(ARAVIS_MAJOR_VERSION) "." Q7V_STR(ARAVIS_MINOR_VERSION) "." Q7V_STR(ARAVIS_MICRO_VERSION);

using Steady = std::chrono::steady_clock;

// Aravis' interfaces, each used by one thread at a time (listing and opening share its device
// table); the GigE one is slow to list, so it is listed on the discovery thread only.
enum Iface { kFakeIface, kUsbIface, kGigeIface, kIfaces };
std::mutex gIfaceMu[kIfaces];

ArvInterface* Instance(int iface) {
  switch (iface) {
    case kFakeIface: return arv_fake_interface_get_instance();
    case kUsbIface: return arv_uv_interface_get_instance();
    default: return arv_gv_interface_get_instance();
  }
}

bool EnvOff(const char* name) {
  const char* v = std::getenv(name);
  return v && std::strcmp(v, "0") == 0;
}

void Clear(GError** e) {
  if (*e) g_clear_error(e);
}

// Runs f inside Aravis' part of the program, which ThreadSanitizer does not look into (ArvScope).
template <typename F>
auto InArv(F&& f) {
  ArvScope scope;
  return f();
}

// A frame copied out of Aravis' hand-over is written once more where ThreadSanitizer sees it,
// so that the core's threads are checked on it from then on.
inline void TouchFrame(std::vector<std::uint8_t>& raw) {
#if defined(__SANITIZE_THREAD__)
  if (!raw.empty()) std::memmove(raw.data(), raw.data(), raw.size());
#else
  (void)raw;
#endif
}

// A camera model as first seen, kept for the life of the process.
struct ArvModel {
  int iface = kGigeIface;
  std::string id, vendor, model, serial, protocol;
  std::string key, product, name;
  ModelInfo info{};
  std::vector<CamSdkResolution> resolutions;
  std::vector<CamSdkMediaType> media;
  std::vector<std::uint32_t> pixelFormats;  // per media type
  double gainMin = 0, gainMax = 0;
  bool hasGain = false, gainInteger = false, hasExposure = false, hasBinning = false;
  double exposureMinUs = 0, exposureMaxUs = 0;
};

// One answer of a listing.
struct Seen {
  int iface;
  std::string id, vendor, model, serial, protocol;
};

class GenicamDevice;

// What the discovery thread shares with the rest. Made once and never destroyed: a discovery
// still waiting for answers when the program exits must not find it gone.
struct Discovery {
  std::mutex mu;
  std::condition_variable cv;
  std::thread thread;
  bool running = false, again = false, stop = false;
  std::uint64_t passes = 0;  // completed
};
struct Shared {
  std::mutex mu;                                    // guards the rest but `discovery`
  std::deque<ArvModel> models;                      // stable addresses
  std::vector<const ArvModel*> fakeListed;          // the in-process fake camera, listed at once
  std::vector<const ArvModel*> foundListed;         // USB3 and GigE cameras, as discovery found them
  std::vector<const ModelInfo*> listed;             // the last listing handed out
  std::map<std::string, GenicamDevice*> open;       // open devices by id
  std::set<std::string> awaited;                    // ids lost while open, looked for until back
  int fakeOn = -1;                                  // -1: not decided yet (Q7V_ARAVIS_FAKE)
  Discovery discovery;
};
Shared& TheShared() {
  static Shared* shared = new Shared;
  return *shared;
}
std::mutex& gMu = TheShared().mu;
std::deque<ArvModel>& gModels = TheShared().models;
std::vector<const ArvModel*>& gFakeListed = TheShared().fakeListed;
std::vector<const ArvModel*>& gFoundListed = TheShared().foundListed;
std::vector<const ModelInfo*>& gListed = TheShared().listed;
std::map<std::string, GenicamDevice*>& gOpen = TheShared().open;
std::set<std::string>& gAwaited = TheShared().awaited;
int& gFakeOn = TheShared().fakeOn;
Discovery& gDiscovery = TheShared().discovery;

std::vector<Seen> Scan(int iface) {
  std::vector<Seen> out;
  std::lock_guard<std::mutex> lock(gIfaceMu[iface]);
  ArvScope scope;
  ArvInterface* i = Instance(iface);
  arv_interface_update_device_list(i);
  const unsigned n = arv_interface_get_n_devices(i);
  auto text = [](const char* s) { return std::string(s ? s : ""); };
  for (unsigned k = 0; k < n && k < CAMSDK_MAX_DEVICES; ++k) {
    const char* id = arv_interface_get_device_id(i, k);
    if (!id) continue;
    out.push_back({iface, id, text(arv_interface_get_device_vendor(i, k)), text(arv_interface_get_device_model(i, k)),
                   text(arv_interface_get_device_serial_nbr(i, k)), text(arv_interface_get_device_protocol(i, k))});
  }
  return out;
}

// Where Aravis starts threads of its own: a connected GigE camera's heartbeat and a stream's
// receiver.
[[gnu::noinline]] ArvDevice* AravisOpenDevice(ArvInterface* iface, const std::string& id, GError** e) {
  return arv_interface_open_device(iface, id.c_str(), e);
}
[[gnu::noinline]] ArvStream* AravisCreateStream(ArvCamera* cam, GError** e) {
  return arv_camera_create_stream(cam, nullptr, nullptr, e);
}

// Opens a listed camera through its own interface (never through Aravis' global device list,
// whose lock a discovery holds for a second). Null when it cannot be reached.
[[gnu::noinline]] ArvCamera* ConnectAravisCamera(int iface, const std::string& id) {
  ArvScope scope;
  GError* e = nullptr;
  ArvDevice* device = nullptr;
  {
    std::lock_guard<std::mutex> lock(gIfaceMu[iface]);
    device = AravisOpenDevice(Instance(iface), id, &e);
  }
  Clear(&e);
  if (!device) return nullptr;
  ArvCamera* cam = arv_camera_new_with_device(device, &e);
  Clear(&e);
  g_object_unref(device);
  return cam;
}

bool HasFeature(ArvCamera* cam, const char* name) {
  return arv_device_get_feature(arv_camera_get_device(cam), name) != nullptr;
}

// Reads a camera's features into a model record, changing none of them; false when it cannot
// be opened or offers nothing the core can take.
bool Describe(ArvModel& m) {
  ArvCamera* cam = ConnectAravisCamera(m.iface, m.id);
  if (!cam) return false;
  ArvScope scope;  // the record is this thread's own until it is listed
  GError* e = nullptr;
  // Sensor size: its own features, else the width and height the current binning allows.
  int sw = 0, sh = 0;
  arv_camera_get_sensor_size(cam, &sw, &sh, &e);
  Clear(&e);
  int wmin = 1, wmax = 0, hmin = 1, hmax = 0;
  arv_camera_get_width_bounds(cam, &wmin, &wmax, &e);
  Clear(&e);
  arv_camera_get_height_bounds(cam, &hmin, &hmax, &e);
  Clear(&e);
  m.hasBinning = arv_camera_is_binning_available(cam, &e);
  Clear(&e);
  int binMax = 1;
  if (m.hasBinning) {
    int lo = 1, hi = 1, loY = 1, hiY = 1;
    arv_camera_get_x_binning_bounds(cam, &lo, &hi, &e);
    Clear(&e);
    arv_camera_get_y_binning_bounds(cam, &loY, &hiY, &e);
    Clear(&e);
    binMax = std::max(1, std::min(hi, hiY));
  }
  if (sw <= 0 || sh <= 0) {
    int bx = 1, by = 1, x = 0, y = 0, w = 0, h = 0;
    if (m.hasBinning) arv_camera_get_binning(cam, &bx, &by, &e);
    Clear(&e);
    arv_camera_get_region(cam, &x, &y, &w, &h, &e);
    Clear(&e);
    sw = (std::max(wmax, w) + x) * std::max(1, bx);
    sh = (std::max(hmax, h) + y) * std::max(1, by);
  }
  const int xinc = std::max(1, int(arv_camera_get_x_offset_increment(cam, &e)));
  Clear(&e);
  const int yinc = std::max(1, int(arv_camera_get_y_offset_increment(cam, &e)));
  Clear(&e);
  const int winc = std::max(1, int(arv_camera_get_width_increment(cam, &e)));
  Clear(&e);
  const int hinc = std::max(1, int(arv_camera_get_height_increment(cam, &e)));
  Clear(&e);

  guint n = 0;
  gint64* formats = arv_camera_dup_available_pixel_formats(cam, &n, &e);
  Clear(&e);
  std::vector<std::uint32_t> offered;
  for (guint i = 0; i < n; ++i)
    if (GenicamRawFormat(std::uint32_t(formats[i]))) offered.push_back(std::uint32_t(formats[i]));
  g_free(formats);
  const std::uint32_t current = arv_camera_get_pixel_format(cam, &e);
  Clear(&e);
  // A camera that can deliver colour is colour, whatever another program left it in: its own
  // Bayer pattern (the one in force, else the first offered), or processed colour alone.
  int pattern = CAMSDK_PATTERN_MONO;
  bool processed = false;
  for (std::uint32_t pf : offered) {
    const int p = GenicamPattern(pf);
    if (p == CAMSDK_PATTERN_BGR) processed = true;
    else if (p != CAMSDK_PATTERN_MONO && pattern == CAMSDK_PATTERN_MONO) pattern = p;
  }
  const int currentPattern = GenicamPattern(current);
  if (currentPattern != CAMSDK_PATTERN_MONO && currentPattern != CAMSDK_PATTERN_BGR &&
      std::find(offered.begin(), offered.end(), current) != offered.end())
    pattern = currentPattern;
  if (pattern == CAMSDK_PATTERN_MONO && processed) pattern = CAMSDK_PATTERN_BGR;

  auto add = [&](std::uint32_t pf, const char* name) {
    CamSdkMediaType t{};
    t.index = int(m.media.size());
    std::snprintf(t.name, sizeof t.name, "%s", name);
    t.format = GenicamRawFormat(pf);
    m.media.push_back(t);
    m.pixelFormats.push_back(pf);
  };
  // Media types of that pattern: 8 bits, then the narrowest wide format (12 before 10, 16);
  // processed colour after the raw ones.
  if (pattern != CAMSDK_PATTERN_BGR) {
    for (bool wide : {false, true}) {
      std::uint32_t best = 0;
      int bestRank = 99;
      for (std::uint32_t pf : offered) {
        if (GenicamPattern(pf) != pattern || (GenicamBits(pf) > 8) != wide) continue;
        const int bits = GenicamBits(pf);
        const int rank = bits == 8 || bits == 12 ? 0 : bits == 10 ? 1 : 2;
        if (rank < bestRank) best = pf, bestRank = rank;
      }
      if (best) add(best, wide ? "RAW12" : "RAW8");
    }
  }
  if (pattern != CAMSDK_PATTERN_MONO) {
    for (std::uint32_t pf : {kBgr8, kRgb8})
      if (std::find(offered.begin(), offered.end(), pf) != offered.end()) {
        add(pf, "RGB24");
        break;
      }
  }

  const bool colour = pattern != CAMSDK_PATTERN_MONO;
  const int even = colour ? 2 : 1;  // the Bayer phase holds on even rows and columns
  for (int bin = 1; bin <= std::min(4, binMax); bin *= 2) {
    int w = sw / bin, h = sh / bin;
    w -= w % std::lcm(winc, even);
    h -= h % std::lcm(hinc, even);
    if (w < 32 || h < 32) break;
    CamSdkResolution r{};
    r.index = int(m.resolutions.size());
    std::snprintf(r.name, sizeof r.name, "%d" TIMES "%d", w, h);
    r.width = w;
    r.height = h;
    r.binning = bin;
    m.resolutions.push_back(r);
  }

  m.hasExposure = arv_camera_is_exposure_time_available(cam, &e);
  Clear(&e);
  if (m.hasExposure) arv_camera_get_exposure_time_bounds(cam, &m.exposureMinUs, &m.exposureMaxUs, &e);
  Clear(&e);
  m.hasGain = arv_camera_is_gain_available(cam, &e);
  Clear(&e);
  if (m.hasGain) {
    arv_camera_get_gain_bounds(cam, &m.gainMin, &m.gainMax, &e);
    Clear(&e);
    // Decibels ("Gain", "GainAbs") or the camera's raw steps ("GainRaw", whole numbers).
    ArvGcNode* raw = arv_device_get_feature(arv_camera_get_device(cam), "GainRaw");
    m.gainInteger = !HasFeature(cam, "Gain") && !HasFeature(cam, "GainAbs") && raw && ARV_IS_GC_INTEGER(raw);
    m.hasGain = m.gainMax > m.gainMin;
  }
  g_object_unref(cam);
  if (m.media.empty() || m.resolutions.empty()) return false;

  ModelInfo& i = m.info;
  i.key = m.id.c_str();
  i.productName = m.product.c_str();
  i.deviceName = m.name.c_str();
  i.serial = m.serial.c_str();
  i.modelId = 100;
  i.color = colour;
  i.pattern = pattern == CAMSDK_PATTERN_BGR ? pattern : RowsSwapped(pattern);
  i.sensorWidth = sw;
  i.sensorHeight = sh;
  i.resolutions = m.resolutions.data();
  i.resolutionCount = int(m.resolutions.size());
  i.mediaTypes = m.media.data();
  i.mediaTypeCount = int(m.media.size());
  i.frameSpeedCount = 1;
  // The shortest exposure is one line (at most 10 us); the camera paces the stream itself.
  const std::uint32_t line = std::uint32_t(std::clamp(std::lround(m.exposureMinUs * 10.0), 1L, 100L));
  i.lineTime[0] = i.lineTime[1] = i.lineTime[2] = line;
  const double maxUnits = m.hasExposure ? m.exposureMaxUs * 10.0 : 1e7;
  i.maxExposureLines = std::uint32_t(std::clamp(maxUnits / line, 1.0, 4.0e9));
  i.roiAlignX = std::lcm(xinc, even);
  i.roiAlignY = std::lcm(yinc, even);
  i.roiAlignW = std::lcm(winc, even);
  i.roiAlignH = std::lcm(hinc, even);
  i.roiMinW = std::max(32, wmin + (i.roiAlignW - wmin % i.roiAlignW) % i.roiAlignW);
  i.roiMinH = std::max(32, hmin + (i.roiAlignH - hmin % i.roiAlignH) % i.roiAlignH);
  i.rulerPitch = 0;
  i.lackingControls = (m.hasGain ? 0u : std::uint32_t(CAMSDK_CONTROL_ANALOG_GAIN)) |
                      (m.hasExposure ? 0u : std::uint32_t(CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE));
  return true;
}

// The model record of a listed camera, made (and described) at first sight.
const ArvModel* ModelOf(const Seen& s) {
  {
    std::lock_guard<std::mutex> lock(gMu);
    for (const ArvModel& m : gModels)
      if (m.id == s.id) return &m;
  }
  ArvModel m;
  m.iface = s.iface;
  m.id = s.id;
  m.vendor = s.vendor;
  m.model = s.model;
  m.serial = s.serial;
  m.protocol = s.protocol;
  m.product = m.vendor.empty() ? m.model : m.vendor + " " + m.model;
  if (!Describe(m)) return nullptr;
  std::lock_guard<std::mutex> lock(gMu);
  for (const ArvModel& o : gModels)
    if (o.id == s.id) return &o;  // described on another thread meanwhile
  // "vendor model serial", told apart from every camera seen before.
  m.name = UniqueDeviceName(m.product + " " + m.serial, [&](const std::string& name) {
    return std::any_of(gModels.begin(), gModels.end(), [&](const ArvModel& o) { return name == o.name; });
  });
  gModels.push_back(std::move(m));
  ArvModel& k = gModels.back();
  k.info.key = k.id.c_str();
  k.info.productName = k.product.c_str();
  k.info.deviceName = k.name.c_str();
  k.info.serial = k.serial.c_str();
  k.info.resolutions = k.resolutions.data();
  k.info.mediaTypes = k.media.data();
  return &k;
}

void RebuildListing() {  // gMu held
  gListed.clear();
  for (const ArvModel* m : gFakeListed) gListed.push_back(&m->info);
  for (const ArvModel* m : gFoundListed) gListed.push_back(&m->info);
}

// ---- Closing: a camera's Aravis objects are released on a closer thread, and the next
// connection to the same camera waits for that (a camera takes one controller at a time).

struct Closers {
  std::mutex mu;
  std::condition_variable cv;
  std::map<std::string, int> pending;  // closers still running, by camera id
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers;
  ~Closers() {
    std::vector<Worker> all;
    {
      std::lock_guard<std::mutex> lock(mu);
      all.swap(workers);
    }
    for (Worker& w : all) w.thread.join();
  }
};
Closers gClosers;

void Release(const std::string& id, ArvCamera* cam, ArvStream* stream, bool lost) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lock(gClosers.mu);
  for (auto it = gClosers.workers.begin(); it != gClosers.workers.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = gClosers.workers.erase(it);
    } else {
      ++it;
    }
  }
  ++gClosers.pending[id];
  gClosers.workers.push_back({std::thread([id, cam, stream, lost, done] {
                                InArv([&] {
                                  if (stream) {
                                    if (!lost) arv_camera_stop_acquisition(cam, nullptr);
                                    g_object_unref(stream);
                                  }
                                  g_object_unref(cam);
                                });
                                {
                                  std::lock_guard<std::mutex> l(gClosers.mu);
                                  if (--gClosers.pending[id] == 0) gClosers.pending.erase(id);
                                }
                                gClosers.cv.notify_all();
                                done->store(true);
                              }),
                              done});
}

// Waits until no closer of that camera runs; false when cancelled first.
bool WaitReleased(const std::string& id, const std::atomic<bool>* cancel) {
  std::unique_lock<std::mutex> lock(gClosers.mu);
  while (gClosers.pending.count(id)) {
    if (cancel && cancel->load()) return false;
    gClosers.cv.wait_for(lock, std::chrono::milliseconds(50));
  }
  return true;
}

// ---- Discovery of USB3 and GigE cameras, on its own thread.

std::atomic<bool> gExiting{false};
// At exit a pass that still waits a second for answers is left to end alone: it touches nothing
// but the shared state once it sees `gExiting`.
struct ExitMark {
  ~ExitMark() {
    gExiting.store(true);
    bool busy = false;
    {
      std::lock_guard<std::mutex> lock(gDiscovery.mu);
      gDiscovery.stop = true;
      busy = gDiscovery.running;
    }
    gDiscovery.cv.notify_all();
    if (!gDiscovery.thread.joinable()) return;
    if (busy) gDiscovery.thread.detach();
    else gDiscovery.thread.join();
  }
} gExitMark;

void DiscoveryPass() {
  std::vector<Seen> seen;
  if (!EnvOff("Q7V_ARAVIS_USB")) seen = Scan(kUsbIface);
  if (!EnvOff("Q7V_ARAVIS_GIGE")) {
    std::vector<Seen> gige = Scan(kGigeIface);
    seen.insert(seen.end(), gige.begin(), gige.end());
  }
  if (gExiting.load()) return;
  std::vector<const ArvModel*> found;
  for (const Seen& s : seen)
    if (const ArvModel* m = ModelOf(s)) found.push_back(m);
  std::vector<std::string> arrived;
  {
    std::lock_guard<std::mutex> lock(gMu);
    for (const ArvModel* m : found) {
      const bool known = std::find(gFoundListed.begin(), gFoundListed.end(), m) != gFoundListed.end();
      if (!known || gAwaited.erase(m->id)) arrived.push_back(m->name);
    }
    gFoundListed = found;
    RebuildListing();
  }
  for (const std::string& name : arrived) NotifyDeviceEvent(CAMSDK_EVENT_DEVICE_ARRIVED, -1, name.c_str());
}

void DiscoveryLoop() {
  for (;;) {
    DiscoveryPass();
    if (gExiting.load()) return;
    bool awaited = false;
    {
      std::lock_guard<std::mutex> lock(gMu);
      awaited = !gAwaited.empty();
    }
    std::unique_lock<std::mutex> lock(gDiscovery.mu);
    ++gDiscovery.passes;
    gDiscovery.cv.notify_all();
    if (awaited && !gDiscovery.again) {
      // A lost camera is looked for about every two seconds until it is back.
      gDiscovery.cv.wait_for(lock, std::chrono::seconds(1), [] { return gDiscovery.stop || gDiscovery.again; });
      if (gDiscovery.stop) break;
      continue;
    }
    if (gDiscovery.stop || !gDiscovery.again) break;
    gDiscovery.again = false;
  }
  std::lock_guard<std::mutex> lock(gDiscovery.mu);
  gDiscovery.running = false;
  gDiscovery.cv.notify_all();
}

// Starts a discovery pass unless one runs (then one more follows it). Returns the number of
// passes that will have completed once the asked-for one has.
std::uint64_t StartDiscovery() {
  std::lock_guard<std::mutex> lock(gDiscovery.mu);
  if (gDiscovery.stop) return gDiscovery.passes;
  if (gDiscovery.running) {
    gDiscovery.again = true;
    gDiscovery.cv.notify_all();
    return gDiscovery.passes + 2;
  }
  if (gDiscovery.thread.joinable()) gDiscovery.thread.join();  // finished: it cleared `running`
  gDiscovery.running = true;
  gDiscovery.again = false;
  gDiscovery.thread = std::thread(DiscoveryLoop);
  return gDiscovery.passes + 1;
}

// ---- The control port of a GigE camera, asked directly with a short wait: Aravis' own
// requests wait seconds for a camera that is gone.

bool GigeAnswers(ArvCamera* cam) {
  sockaddr_storage to{};
  socklen_t toSize = 0;
  const bool gige = InArv([&] {
    ArvDevice* device = arv_camera_get_device(cam);
    if (!ARV_IS_GV_DEVICE(device)) return false;  // other transports report their loss themselves
    GSocketAddress* address = arv_gv_device_get_device_address(ARV_GV_DEVICE(device));
    if (!address || !g_socket_address_to_native(address, &to, sizeof to, nullptr)) return false;
    toSize = socklen_t(g_socket_address_get_native_size(address));
    return true;
  });
  if (!gige) return true;
  const int fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;
  bool answered = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), toSize) == 0) {
    // A register read of the control channel privilege (0x0A00), acknowledgement asked.
    for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
      const std::uint8_t packet[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x7f, std::uint8_t(0x10 + attempt),
                                       0x00, 0x00, 0x0A, 0x00};
      if (::send(fd, packet, sizeof packet, 0) < 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 150) <= 0) continue;
      std::uint8_t reply[64];
      const ssize_t got = ::recv(fd, reply, sizeof reply, 0);
      if (got > 0) answered = true;
      else if (got < 0 && errno == ECONNREFUSED) break;  // nothing listens there any more
    }
  }
  ::close(fd);
  return answered;
}

// What Aravis' own signal tells, kept apart from the device so that a late signal finds it.
struct LostFlag {
  std::atomic<bool> lost{false};
};

void OnControlLost(ArvDevice*, gpointer data) { (*static_cast<std::shared_ptr<LostFlag>*>(data))->lost.store(true); }
void DropLostFlag(gpointer data, GClosure*) { delete static_cast<std::shared_ptr<LostFlag>*>(data); }

void MarkAwaited(const std::string& id) {
  {
    std::lock_guard<std::mutex> lock(gMu);
    gAwaited.insert(id);
  }
  StartDiscovery();
}

class GenicamDevice final : public Device {
 public:
  explicit GenicamDevice(const ArvModel& model) : model_(model) {}
  ~GenicamDevice() override {
    {
      std::lock_guard<std::mutex> lock(gMu);
      auto it = gOpen.find(model_.id);
      if (it != gOpen.end() && it->second == this) gOpen.erase(it);
    }
    ArvCamera* const cam = cam_;
    if (!cam) return;
    const gulong handler = lostHandler_;
    InArv([&] { g_signal_handler_disconnect(arv_camera_get_device(cam), handler); });
    Release(model_.id, cam, stream_, Lost());
  }

  const ModelInfo& Model() const override { return model_.info; }
  bool PacesItself() const override { return true; }

  bool Read(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    for (;;) {
      const ReadResult r = ReadFrame(e, raw);
      if (r == ReadResult::Frame) return true;
      if (r == ReadResult::Lost || (e.cancel && e.cancel->load())) return false;
    }
  }

  ReadResult ReadFrame(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (damaged_ > 0) {  // counted one by one
      --damaged_;
      return ReadResult::Incomplete;
    }
    if (Lost()) return GiveUp();
    if (!cam_) {
      if (!WaitReleased(model_.id, e.cancel)) return ReadResult::NoFrame;
      ArvCamera* cam = ConnectAravisCamera(model_.iface, model_.id);
      if (!cam) return GiveUp();
      auto* flag = new std::shared_ptr<LostFlag>(flag_);
      const gulong handler = InArv([&] {
        return g_signal_connect_data(arv_camera_get_device(cam), "control-lost", G_CALLBACK(OnControlLost), flag,
                                     DropLostFlag, GConnectFlags(0));
      });
      std::lock_guard<std::mutex> lock(gMu);
      lostHandler_ = handler;
      cam_ = cam;
      lastSign_ = Steady::now();
    }
    if (!Apply(e) && !GigeAnswers(cam_)) return GiveUp();
    if (!stream_ && !StartAravisStream()) return GigeAnswers(cam_) ? ReadResult::NoFrame : GiveUp();
    ArvStream* const stream = stream_;
    const std::uint64_t applied = appliedNs_;
    // Silence longer than the exposure and three of the camera's own frame intervals (at least
    // 0.4 s) makes the camera be asked whether it is still there: a lost camera is noticed
    // within a second of its last frame.
    const auto silence = std::chrono::microseconds(e.exposure / 10) +
                         std::max<Steady::duration>(std::chrono::milliseconds(400), 3 * interval_);
    for (;;) {
      if (e.cancel && e.cancel->load()) return ReadResult::NoFrame;
      if (Lost()) return GiveUp();
      ArvBuffer* buffer = InArv([&] { return arv_stream_timeout_pop_buffer(stream, 50000); });
      const auto now = Steady::now();
      if (!buffer) {
        if (now - lastSign_ < silence) continue;
        if (!GigeAnswers(cam_)) return GiveUp();
        lastSign_ = now;  // there, only slow
        return ReadResult::NoFrame;
      }
      // The camera's frame interval, smoothed: what silence is long for it.
      const auto gap = now - lastSign_;
      interval_ = interval_.count() == 0 ? gap : (interval_ * 7 + gap) / 8;
      lastSign_ = now;
      // The newest whole frame of those waiting; the others go back to the pool, the damaged
      // ones counted.
      ArvBuffer* best = nullptr;
      int damaged = 0;
      InArv([&] {
        for (ArvBuffer* b = buffer; b; b = arv_stream_try_pop_buffer(stream)) {
          if (arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS) {
            if (best) arv_stream_push_buffer(stream, best);
            best = b;
          } else {
            if (arv_buffer_get_system_timestamp(b) >= applied) ++damaged;
            arv_stream_push_buffer(stream, b);
          }
        }
      });
      if (!best) {
        if (damaged == 0) continue;
        damaged_ = damaged - 1;
        return ReadResult::Incomplete;
      }
      damaged_ = damaged;
      if (Take(best, e, raw)) return ReadResult::Frame;
      if (damaged_ > 0) {
        --damaged_;
        return ReadResult::Incomplete;
      }
    }
  }

  void ControlLost() { flag_->lost.store(true); }
  ArvCamera* Cam() const { return cam_; }  // read under gMu

 private:
  bool Lost() const { return flag_->lost.load(); }

  // The camera is gone: discovery looks for it until it is back.
  ReadResult GiveUp() {
    flag_->lost.store(true);
    if (!reported_) {
      reported_ = true;
      MarkAwaited(model_.id);
    }
    return ReadResult::Lost;
  }

  // Copies a whole frame of the size and format asked for and gives the buffer back; false for
  // one that does not match (a frame exposed before the last change). The stream's thread filled
  // the buffer and handed it over through Aravis' queue: the copy is the reading side of that
  // hand-over, made where ThreadSanitizer does not look (see ArvScope).
  bool Take(ArvBuffer* buffer, const Exposure& e, std::vector<std::uint8_t>& raw) {
    ArvStream* const stream = stream_;
    const std::uint64_t applied = appliedNs_;
    const std::uint32_t wanted = model_.pixelFormats[std::size_t(media_)];
    std::vector<std::uint8_t> copy;
    copy.swap(raw);
    const bool ok = InArv([&] {
      const int w = arv_buffer_get_image_width(buffer), h = arv_buffer_get_image_height(buffer);
      const std::uint32_t pf = arv_buffer_get_image_pixel_format(buffer);
      size_t size = 0;
      const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
      const int bits = GenicamBits(pf);
      const std::size_t stride = std::size_t(w) * (pf == kRgb8 || pf == kBgr8 ? 3 : bits > 8 ? 2 : 1);
      const bool whole = arv_buffer_get_payload_type(buffer) == ARV_BUFFER_PAYLOAD_TYPE_IMAGE &&
                         arv_buffer_get_system_timestamp(buffer) >= applied && pf == wanted && w == e.mode.width &&
                         h == e.mode.height && data && size >= stride * h;
      if (whole) GenicamToRaw(data, w, h, stride, pf, copy);
      arv_stream_push_buffer(stream, buffer);
      return whole;
    });
    copy.swap(raw);
    // The frame leaves the hand-over here: written once more where ThreadSanitizer sees it, so
    // that the core's own threads are checked on it.
    if (ok) TouchFrame(raw);
    return ok;
  }

  // Brings the camera to the frame's settings; false when the camera refused or did not answer.
  bool Apply(const Exposure& e) {
    ArvCamera* const cam = cam_;
    bool ok = true;
    auto call = [&](auto&& f) {
      GError* err = nullptr;
      InArv([&] {
        f(&err);
        if (err) g_clear_error(&err), ok = false;
      });
    };
    const int media = [&] {
      for (std::size_t k = 0; k < model_.media.size(); ++k)
        if (model_.media[k].format == e.format) return int(k);
      return 0;
    }();
    const int bin = e.mode.roi ? 1 : std::max(1, int(std::lround(1.0 / std::max(1e-6, e.mode.scaleX))));
    const bool geometry = !applied_ || media != media_ || bin != bin_ || e.mode.roi != mode_.roi ||
                          e.mode.width != mode_.width || e.mode.height != mode_.height ||
                          e.mode.offsetX != mode_.offsetX || e.mode.offsetY != mode_.offsetY;
    if (geometry) {
      StopStream();
      if (model_.hasBinning) call([&](GError** err) { arv_camera_set_binning(cam, bin, bin, err); });
      const std::uint32_t pf = model_.pixelFormats[std::size_t(media)];
      call([&](GError** err) { arv_camera_set_pixel_format(cam, pf, err); });
      // The core's region origin counts rows from the bottom of the sensor.
      const int x = e.mode.roi ? e.mode.offsetX : 0;
      const int y = e.mode.roi ? model_.info.sensorHeight - e.mode.offsetY - e.mode.height : 0;
      const int w = e.mode.width, h = e.mode.height;
      call([&](GError** err) { arv_camera_set_region(cam, x, y, w, h, err); });
      media_ = media;
      bin_ = bin;
      mode_ = e.mode;
      appliedNs_ = Now();
    }
    if (model_.hasExposure && (!applied_ || e.exposure != exposure_)) {
      const double us = std::clamp(double(e.exposure) / 10.0, model_.exposureMinUs, model_.exposureMaxUs);
      call([&](GError** err) { arv_camera_set_exposure_time(cam, us, err); });
      exposure_ = e.exposure;
      appliedNs_ = Now();
    }
    if (model_.hasGain && (!applied_ || e.analogGain != gain_)) {
      const double value = GenicamGain(e.analogGain, model_.gainMin, model_.gainMax, model_.gainInteger);
      call([&](GError** err) { arv_camera_set_gain(cam, value, err); });
      gain_ = e.analogGain;
      appliedNs_ = Now();
    }
    applied_ = true;
    return ok;
  }

  static std::uint64_t Now() { return std::uint64_t(g_get_real_time()) * 1000; }

  [[gnu::noinline]] bool StartAravisStream() {
    ArvCamera* const cam = cam_;
    ArvStream* stream = nullptr;
    const bool started = InArv([&] {
      GError* err = nullptr;
      const guint payload = arv_camera_get_payload(cam, &err);
      Clear(&err);
      if (payload == 0) return false;
      // The buffers exist before the stream's thread that fills them.
      std::vector<ArvBuffer*> buffers;
      for (int k = 0; k < kBuffers; ++k) buffers.push_back(arv_buffer_new(payload, nullptr));
      stream = AravisCreateStream(cam, &err);
      Clear(&err);
      if (!stream) {
        for (ArvBuffer* b : buffers) g_object_unref(b);
        return false;
      }
      for (ArvBuffer* b : buffers) arv_stream_push_buffer(stream, b);
      arv_camera_set_acquisition_mode(cam, ARV_ACQUISITION_MODE_CONTINUOUS, &err);
      Clear(&err);
      arv_camera_start_acquisition(cam, &err);
      if (!err) return true;
      Clear(&err);
      arv_camera_stop_acquisition(cam, nullptr);
      g_object_unref(stream);
      stream = nullptr;
      return false;
    });
    stream_ = stream;
    appliedNs_ = Now();
    lastSign_ = Steady::now();
    return started;
  }

  void StopStream() {
    ArvStream* const stream = stream_;
    if (!stream) return;
    stream_ = nullptr;
    ArvCamera* const cam = cam_;
    const bool lost = Lost();
    InArv([&] {
      if (!lost) arv_camera_stop_acquisition(cam, nullptr);
      g_object_unref(stream);
    });
  }

  static constexpr int kBuffers = 8;
  const ArvModel& model_;
  std::shared_ptr<LostFlag> flag_ = std::make_shared<LostFlag>();
  ArvCamera* cam_ = nullptr;
  ArvStream* stream_ = nullptr;
  gulong lostHandler_ = 0;
  bool reported_ = false;
  int damaged_ = 0;  // damaged frames found and not yet reported
  Steady::time_point lastSign_{};  // the camera's last frame, or the last answer it gave
  Steady::duration interval_{};     // between its frames, smoothed
  bool applied_ = false;
  int media_ = 0, bin_ = 1;
  Mode mode_;
  std::uint64_t exposure_ = 0;
  float gain_ = 0;
  std::uint64_t appliedNs_ = 0;  // frames completed before the last change are not taken
};

bool FakeOn() {  // gMu held
  if (gFakeOn < 0) {
    const char* fake = std::getenv("Q7V_ARAVIS_FAKE");
    gFakeOn = fake && std::strcmp(fake, "1") == 0;
  }
  return gFakeOn == 1;
}

class ArvBackendImpl final : public Backend {
 public:
  // The in-process fake camera is listed at once; USB3 and GigE cameras as the last discovery
  // found them, and a new discovery is started (the list is told of arrivals when it answers).
  std::vector<const ModelInfo*> List() override {
    if (EnvOff("Q7V_ARAVIS")) return {};
    bool fake = false;
    {
      std::lock_guard<std::mutex> lock(gMu);
      fake = FakeOn();
    }
    std::vector<const ArvModel*> fakes;
    if (fake)
      for (const Seen& s : Scan(kFakeIface))
        if (const ArvModel* m = ModelOf(s)) fakes.push_back(m);
    StartDiscovery();
    std::lock_guard<std::mutex> lock(gMu);
    gFakeListed = fakes;
    RebuildListing();
    return gListed;
  }

  std::unique_ptr<Device> Open(const ModelInfo& info) override {
    std::lock_guard<std::mutex> lock(gMu);
    const ArvModel* model = nullptr;
    for (const ArvModel& m : gModels)
      if (&m.info == &info) model = &m;
    if (!model || gOpen.count(model->id)) return nullptr;
    auto device = std::make_unique<GenicamDevice>(*model);
    gOpen[model->id] = device.get();
    return device;
  }

  bool Present(const ModelInfo& info) override {
    std::lock_guard<std::mutex> lock(gMu);
    return std::find(gListed.begin(), gListed.end(), &info) != gListed.end();
  }

  DeviceText Text(const ModelInfo& info) const override {
    DeviceText t;
    t.series = "GenICam camera";
    t.portType = "GenICam";
    t.driverVersion = kArvVersion;
    std::lock_guard<std::mutex> lock(gMu);
    for (const ArvModel& m : gModels)
      if (&m.info == &info) {
        if (m.protocol == "GigEVision") t.portType = "GigE Vision";
        else if (m.protocol == "USB3Vision") t.portType = "USB3 Vision";
        else if (m.protocol == "Fake") t.portType = "Aravis fake";
      }
    return t;
  }
};

}  // namespace

Backend& ArvBackend() {
  static ArvBackendImpl backend;
  return backend;
}

void ArvSetFakeInterface(bool on) {
  std::lock_guard<std::mutex> lock(gMu);
  gFakeOn = on ? 1 : 0;
}

void ArvWaitDiscovery(bool start) {
  std::uint64_t target = 0;
  if (start) {
    target = StartDiscovery();
  } else {
    std::lock_guard<std::mutex> lock(gDiscovery.mu);
    target = gDiscovery.passes;
  }
  std::unique_lock<std::mutex> lock(gDiscovery.mu);
  gDiscovery.cv.wait(lock, [&] {
    if (gDiscovery.stop) return true;
    if (gDiscovery.passes < target) return false;
    std::lock_guard<std::mutex> models(gMu);
    return !gDiscovery.running || !gAwaited.empty();  // idle, or looking for a lost camera
  });
}

bool WithOpenArvCamera(const std::string& deviceId, const std::function<void(void*)>& f) {
  ArvCamera* cam = nullptr;
  {
    std::lock_guard<std::mutex> lock(gMu);
    auto it = gOpen.find(deviceId);
    if (it == gOpen.end() || !it->second->Cam()) return false;
    cam = it->second->Cam();
    InArv([&] { g_object_ref(cam); });
  }
  f(cam);
  InArv([&] { g_object_unref(cam); });
  return true;
}

void* ConnectGigeCamera(const std::string& idOrAddress) { return ConnectAravisCamera(kGigeIface, idOrAddress); }

#if defined(__SANITIZE_THREAD__)
ArvScope::ArvScope() {
  AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
  AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
}
ArvScope::~ArvScope() {
  AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
  AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
}
#endif

std::string ArvDeviceId(const std::string& deviceName) {
  std::lock_guard<std::mutex> lock(gMu);
  for (const ArvModel& m : gModels)
    if (m.name == deviceName) return m.id;
  return {};
}

#endif

}  // namespace camsdk
