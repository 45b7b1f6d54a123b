// GenICam cameras (GigE Vision, USB3 Vision) through Aravis. Each listed camera gets a model
// record built from its features at first sight: the full sensor and its binned sizes as
// presets, the pixel formats the core can take as media types, exposure bounds as line time and
// exposure limit. A frame is the newest buffer of Aravis' stream, copied once into the core's
// raw layout. The camera paces the stream; the core's frame period only has to stay below it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <numeric>

#include "platform/camsdk/backends.h"

#if defined(Q7V_HAVE_ARAVIS)
#include <arv.h>
#endif

namespace camsdk {

int GenicamBits(std::uint32_t pf) {
  switch (pf) {
#if defined(Q7V_HAVE_ARAVIS)
    case ARV_PIXEL_FORMAT_MONO_8: case ARV_PIXEL_FORMAT_BAYER_GR_8: case ARV_PIXEL_FORMAT_BAYER_RG_8:
    case ARV_PIXEL_FORMAT_BAYER_GB_8: case ARV_PIXEL_FORMAT_BAYER_BG_8:
      return 8;
    case ARV_PIXEL_FORMAT_MONO_10: return 10;
    case ARV_PIXEL_FORMAT_MONO_12: case ARV_PIXEL_FORMAT_BAYER_GR_12: case ARV_PIXEL_FORMAT_BAYER_RG_12:
    case ARV_PIXEL_FORMAT_BAYER_GB_12: case ARV_PIXEL_FORMAT_BAYER_BG_12:
      return 12;
    case ARV_PIXEL_FORMAT_MONO_16: return 16;
#else
    // PFNC codes: 8-bit formats 0x0108xxxx, unpacked wide ones 0x0110xxxx.
    case 0x01080001: case 0x01080008: case 0x01080009: case 0x0108000A: case 0x0108000B: return 8;
    case 0x01100003: return 10;
    case 0x01100005: case 0x01100010: case 0x01100011: case 0x01100012: case 0x01100013: return 12;
    case 0x01100007: return 16;
#endif
    default: return 0;
  }
}

int GenicamRawFormat(std::uint32_t pf) {
  const int bits = GenicamBits(pf);
  if (!bits) return 0;
  int pattern = CAMSDK_PATTERN_MONO;
  switch (pf) {
    case 0x01080008: case 0x01100010: pattern = CAMSDK_PATTERN_GRBG; break;
    case 0x01080009: case 0x01100011: pattern = CAMSDK_PATTERN_RGGB; break;
    case 0x0108000A: case 0x01100012: pattern = CAMSDK_PATTERN_GBRG; break;
    case 0x0108000B: case 0x01100013: pattern = CAMSDK_PATTERN_BGGR; break;
    default: break;
  }
  return CamSdkRawFormat(pattern, bits > 8 ? 12 : 8);
}

void GenicamToRaw(const std::uint8_t* data, int width, int height, std::size_t stride, int bits,
                  std::vector<std::uint8_t>& raw) {
  const int bps = bits > 8 ? 2 : 1;
  const std::size_t rowBytes = std::size_t(width) * bps;
  raw.resize(rowBytes * height);
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* src = data + std::size_t(height - 1 - r) * stride;  // bottom-up
    std::uint8_t* dst = raw.data() + std::size_t(r) * rowBytes;
    if (bits == 8 || bits == 12) {
      std::memcpy(dst, src, rowBytes);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      int v = src[2 * x] | (src[2 * x + 1] << 8);
      v = bits == 10 ? (v & 0x3FF) << 2 : v >> 4;
      dst[2 * x] = std::uint8_t(v & 0xFF);
      dst[2 * x + 1] = std::uint8_t(v >> 8);
    }
  }
}

double GainToDb(float analogGain) { return 20.0 * std::log10(std::max(1.0f, analogGain)); }

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
bool ArvTestControlLost(const std::string&) { return false; }
std::string ArvDeviceId(const std::string&) { return {}; }
void* ArvTestCamera(const std::string&) { return nullptr; }

#else

namespace {

#define TIMES "\xC3\x97"  // "×" in UTF-8
#define Q7V_STR2(x) #x
#define Q7V_STR(x) Q7V_STR2(x)
const char* const kArvVersion =
    "Aravis " Q7V_STR(ARAVIS_MAJOR_VERSION) "." Q7V_STR(ARAVIS_MINOR_VERSION) "." Q7V_STR(ARAVIS_MICRO_VERSION);

// A camera model as first seen, kept for the life of the process.
struct ArvModel {
  std::string id, vendor, model, serial, protocol;
  std::string key, product, name;
  ModelInfo info{};
  std::vector<CamSdkResolution> resolutions;
  std::vector<CamSdkMediaType> media;
  std::vector<std::uint32_t> pixelFormats;  // per media type
  double gainMin = 0, gainMax = 0;
  bool hasGain = false, hasExposure = false, hasBinning = false;
  double exposureMinUs = 0, exposureMaxUs = 0;
};

class GenicamDevice;

std::mutex gMu;                                   // guards everything below
std::deque<ArvModel> gModels;                     // stable addresses
std::vector<const ModelInfo*> gListed;            // the last listing
std::map<std::string, GenicamDevice*> gOpen;          // open devices by id
bool gFakeChecked = false;

void Clear(GError** e) {
  if (*e) g_clear_error(e);
}

// Reads a camera's features into a model record; false when it cannot be opened.
bool Describe(ArvModel& m) {
  GError* e = nullptr;
  ArvCamera* cam = arv_camera_new(m.id.c_str(), &e);
  if (!cam) {
    Clear(&e);
    return false;
  }
  arv_camera_set_binning(cam, 1, 1, &e);
  Clear(&e);
  arv_camera_set_region(cam, 0, 0, 1 << 20, 1 << 20, &e);  // clamped by Aravis to the maximum
  Clear(&e);
  int wmin = 1, wmax = 0, hmin = 1, hmax = 0;
  arv_camera_get_width_bounds(cam, &wmin, &wmax, &e);
  Clear(&e);
  arv_camera_get_height_bounds(cam, &hmin, &hmax, &e);
  Clear(&e);
  if (wmax <= 0 || hmax <= 0) {
    int x, y;
    arv_camera_get_region(cam, &x, &y, &wmax, &hmax, &e);
    Clear(&e);
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
  for (guint i = 0; i < n; ++i) offered.push_back(std::uint32_t(formats[i]));
  g_free(formats);
  const std::uint32_t current = arv_camera_get_pixel_format(cam, &e);
  Clear(&e);
  // Colour when the camera delivers Bayer now, or offers nothing but Bayer.
  int pattern = CamSdkRawPattern(GenicamRawFormat(current));
  if (!GenicamRawFormat(current) || pattern == CAMSDK_PATTERN_MONO) {
    bool mono = false;
    int bayer = CAMSDK_PATTERN_MONO;
    for (std::uint32_t pf : offered) {
      const int f = GenicamRawFormat(pf);
      if (!f) continue;
      if (CamSdkRawPattern(f) == CAMSDK_PATTERN_MONO) mono = true;
      else if (bayer == CAMSDK_PATTERN_MONO) bayer = CamSdkRawPattern(f);
    }
    pattern = mono ? CAMSDK_PATTERN_MONO : bayer;
  }
  // Media types of that pattern: 8 bits, then the narrowest wide format (12 before 10, 16).
  auto pick = [&](bool wide) -> std::uint32_t {
    std::uint32_t best = 0;
    int bestRank = 99;
    for (std::uint32_t pf : offered) {
      const int f = GenicamRawFormat(pf);
      if (!f || CamSdkRawPattern(f) != pattern || (CamSdkRawBits(f) > 8) != wide) continue;
      const int bits = GenicamBits(pf);
      const int rank = bits == 12 ? 0 : bits == 10 ? 1 : 2;
      if (rank < bestRank) best = pf, bestRank = rank;
    }
    return best;
  };
  for (bool wide : {false, true}) {
    const std::uint32_t pf = pick(wide);
    if (!pf) continue;
    CamSdkMediaType t{};
    t.index = int(m.media.size());
    std::snprintf(t.name, sizeof t.name, "%s", wide ? "RAW12" : "RAW8");
    t.format = GenicamRawFormat(pf);
    m.media.push_back(t);
    m.pixelFormats.push_back(pf);
  }

  m.hasBinning = arv_camera_is_binning_available(cam, &e);
  Clear(&e);
  for (int bin : {1, 2, 4}) {
    if (bin > 1 && !m.hasBinning) break;
    const int w = wmax / bin, h = hmax / bin;
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
  if (m.hasGain) arv_camera_get_gain_bounds(cam, &m.gainMin, &m.gainMax, &e);
  Clear(&e);
  g_object_unref(cam);
  if (m.media.empty() || m.resolutions.empty()) return false;

  ModelInfo& i = m.info;
  i.key = m.id.c_str();
  i.productName = m.product.c_str();
  i.deviceName = m.name.c_str();
  i.serial = m.serial.c_str();
  i.modelId = 100;
  i.color = pattern != CAMSDK_PATTERN_MONO;
  i.pattern = pattern;
  i.sensorWidth = wmax;
  i.sensorHeight = hmax;
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
  const int even = i.color ? 2 : 1;  // a region keeps the Bayer phase
  i.roiAlignX = std::lcm(xinc, even);
  i.roiAlignY = std::lcm(yinc, even);
  i.roiAlignW = std::lcm(winc, even);
  i.roiAlignH = std::lcm(hinc, even);
  i.roiMinW = std::max(32, wmin + (i.roiAlignW - wmin % i.roiAlignW) % i.roiAlignW);
  i.roiMinH = std::max(32, hmin + (i.roiAlignH - hmin % i.roiAlignH) % i.roiAlignH);
  i.rulerPitch = 0;
  return true;
}

class GenicamDevice final : public Device {
 public:
  GenicamDevice(const ArvModel& model, ArvCamera* cam) : model_(model), cam_(cam) {
    lostHandler_ = g_signal_connect(arv_camera_get_device(cam_), "control-lost", G_CALLBACK(OnControlLost), this);
  }
  ~GenicamDevice() override {
    {
      std::lock_guard<std::mutex> lock(gMu);
      gOpen.erase(model_.id);
    }
    StopStream();
    g_signal_handler_disconnect(arv_camera_get_device(cam_), lostHandler_);
    g_object_unref(cam_);
  }

  const ModelInfo& Model() const override { return model_.info; }
  bool PacesItself() const override { return true; }

  bool Read(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (lost_.load()) return false;
    Apply(e);
    if (!stream_ && !StartStream()) return Fail(e, raw);
    const guint64 timeoutUs = guint64(e.exposure / 10) * 2 + 2000000;
    for (int attempt = 0; attempt < 3; ++attempt) {
      ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, timeoutUs);
      if (lost_.load()) {
        if (buffer) arv_stream_push_buffer(stream_, buffer);
        return false;
      }
      if (!buffer) continue;
      // The newest complete frame; the older ones go back to the pool.
      while (ArvBuffer* next = arv_stream_try_pop_buffer(stream_)) {
        arv_stream_push_buffer(stream_, buffer);
        buffer = next;
      }
      if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS ||
          arv_buffer_get_system_timestamp(buffer) < appliedNs_) {
        arv_stream_push_buffer(stream_, buffer);
        continue;
      }
      const int w = arv_buffer_get_image_width(buffer), h = arv_buffer_get_image_height(buffer);
      const std::uint32_t pf = arv_buffer_get_image_pixel_format(buffer);
      size_t size = 0;
      const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
      const int bits = GenicamBits(pf);
      const std::size_t stride = std::size_t(w) * (bits > 8 ? 2 : 1);
      const bool ok = bits && w == e.mode.width && h == e.mode.height && data && size >= stride * h;
      if (ok) GenicamToRaw(data, w, h, stride, bits, raw);
      arv_stream_push_buffer(stream_, buffer);
      if (ok) return true;
    }
    return Fail(e, raw);
  }

  void ControlLost() { lost_.store(true); }
  ArvCamera* Cam() const { return cam_; }

 private:
  // Aravis emits this from its own threads (heartbeat, USB events): only a flag is set.
  static void OnControlLost(ArvDevice*, gpointer self) { static_cast<GenicamDevice*>(self)->ControlLost(); }

  // No frame: a camera that is still listed is only slow (the frame keeps what the buffer
  // held); one that is no longer listed is gone.
  bool Fail(const Exposure& e, std::vector<std::uint8_t>& raw) {
    if (!lost_.load()) {
      std::lock_guard<std::mutex> lock(gMu);
      arv_update_device_list();
      const unsigned n = arv_get_n_devices();
      bool listed = false;
      for (unsigned k = 0; k < n; ++k) listed = listed || model_.id == arv_get_device_id(k);
      if (!listed) lost_.store(true);
    }
    if (lost_.load()) return false;
    raw.resize(std::size_t(e.mode.width) * e.mode.height * CamSdkRawBytesPerSample(e.format));
    return true;
  }

  void Apply(const Exposure& e) {
    GError* err = nullptr;
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
      if (model_.hasBinning) {
        arv_camera_set_binning(cam_, bin, bin, &err);
        Clear(&err);
      }
      arv_camera_set_pixel_format(cam_, model_.pixelFormats[media], &err);
      Clear(&err);
      // The core's region origin counts rows from the bottom of the sensor.
      const int y = e.mode.roi ? model_.info.sensorHeight - e.mode.offsetY - e.mode.height : 0;
      arv_camera_set_region(cam_, e.mode.roi ? e.mode.offsetX : 0, y, e.mode.width, e.mode.height, &err);
      Clear(&err);
      media_ = media;
      bin_ = bin;
      mode_ = e.mode;
    }
    if (model_.hasExposure && (!applied_ || e.exposure != exposure_)) {
      const double us = std::clamp(double(e.exposure) / 10.0, model_.exposureMinUs, model_.exposureMaxUs);
      arv_camera_set_exposure_time(cam_, us, &err);
      Clear(&err);
      exposure_ = e.exposure;
      appliedNs_ = std::uint64_t(g_get_real_time()) * 1000;
    }
    if (model_.hasGain && (!applied_ || e.analogGain != gain_)) {
      arv_camera_set_gain(cam_, std::clamp(GainToDb(e.analogGain), model_.gainMin, model_.gainMax), &err);
      Clear(&err);
      gain_ = e.analogGain;
      appliedNs_ = std::uint64_t(g_get_real_time()) * 1000;
    }
    applied_ = true;
  }

  bool StartStream() {
    GError* err = nullptr;
    stream_ = arv_camera_create_stream(cam_, nullptr, nullptr, &err);
    Clear(&err);
    if (!stream_) return false;
    const guint payload = arv_camera_get_payload(cam_, &err);
    Clear(&err);
    for (int k = 0; k < kBuffers; ++k) arv_stream_push_buffer(stream_, arv_buffer_new(payload, nullptr));
    arv_camera_set_acquisition_mode(cam_, ARV_ACQUISITION_MODE_CONTINUOUS, &err);
    Clear(&err);
    arv_camera_start_acquisition(cam_, &err);
    if (err) {
      Clear(&err);
      StopStream();
      return false;
    }
    appliedNs_ = std::uint64_t(g_get_real_time()) * 1000;
    return true;
  }

  void StopStream() {
    if (!stream_) return;
    GError* err = nullptr;
    arv_camera_stop_acquisition(cam_, &err);
    Clear(&err);
    g_object_unref(stream_);
    stream_ = nullptr;
  }

  static constexpr int kBuffers = 4;
  const ArvModel& model_;
  ArvCamera* const cam_;
  ArvStream* stream_ = nullptr;
  gulong lostHandler_ = 0;
  std::atomic<bool> lost_{false};
  bool applied_ = false;
  int media_ = 0, bin_ = 1;
  Mode mode_;
  std::uint64_t exposure_ = 0;
  float gain_ = 0;
  std::uint64_t appliedNs_ = 0;  // frames completed before the last change are not taken
};

void EnsureFake() {
  if (gFakeChecked) return;
  gFakeChecked = true;
  const char* fake = std::getenv("Q7V_ARAVIS_FAKE");
  if (fake && std::strcmp(fake, "1") == 0) arv_enable_interface("Fake");
  // GigE discovery waits a second for answers on every listing, which the camera list's refresh
  // would pay on the user-interface thread: only with Q7V_ARAVIS_GIGE=1.
  const char* gige = std::getenv("Q7V_ARAVIS_GIGE");
  if (!gige || std::strcmp(gige, "1") != 0) arv_disable_interface("GigEVision");
}

class ArvBackendImpl final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override {
    const char* off = std::getenv("Q7V_ARAVIS");
    if (off && std::strcmp(off, "0") == 0) return {};
    std::lock_guard<std::mutex> lock(gMu);
    EnsureFake();
    arv_update_device_list();
    std::vector<const ModelInfo*> out;
    const unsigned n = arv_get_n_devices();
    for (unsigned k = 0; k < n && k < CAMSDK_MAX_DEVICES; ++k) {
      const char* id = arv_get_device_id(k);
      if (!id) continue;
      ArvModel* found = nullptr;
      for (ArvModel& m : gModels)
        if (m.id == id) found = &m;
      if (!found) {
        ArvModel m;
        m.id = id;
        auto text = [](const char* s) { return std::string(s ? s : ""); };
        m.vendor = text(arv_get_device_vendor(k));
        m.model = text(arv_get_device_model(k));
        m.serial = text(arv_get_device_serial_nbr(k));
        m.protocol = text(arv_get_device_protocol(k));
        m.product = m.vendor.empty() ? m.model : m.vendor + " " + m.model;
        // "vendor model serial", told apart from those listed now and before.
        m.name = UniqueDeviceName(m.product + " " + m.serial, [&](const std::string& name) {
          return std::any_of(out.begin(), out.end(), [&](const ModelInfo* o) { return name == o->deviceName; }) ||
                 std::any_of(gModels.begin(), gModels.end(), [&](const ArvModel& o) { return name == o.info.deviceName; });
        });
        gModels.push_back(std::move(m));
        if (!Describe(gModels.back())) {
          gModels.pop_back();
          continue;
        }
        found = &gModels.back();
      }
      out.push_back(&found->info);
    }
    gListed = out;
    return out;
  }

  std::unique_ptr<Device> Open(const ModelInfo& info) override {
    std::lock_guard<std::mutex> lock(gMu);
    const ArvModel* model = nullptr;
    for (const ArvModel& m : gModels)
      if (&m.info == &info) model = &m;
    if (!model || gOpen.count(model->id)) return nullptr;
    GError* e = nullptr;
    ArvCamera* cam = arv_camera_new(model->id.c_str(), &e);
    Clear(&e);
    if (!cam) return nullptr;
    auto device = std::make_unique<GenicamDevice>(*model, cam);
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
  gFakeChecked = true;
  if (on) arv_enable_interface("Fake");
  else arv_disable_interface("Fake");
}

bool ArvTestControlLost(const std::string& deviceId) {
  ArvCamera* cam = nullptr;
  {
    std::lock_guard<std::mutex> lock(gMu);
    auto it = gOpen.find(deviceId);
    if (it == gOpen.end()) return false;
    cam = it->second->Cam();
    g_object_ref(cam);
  }
  g_signal_emit_by_name(arv_camera_get_device(cam), "control-lost");
  g_object_unref(cam);
  return true;
}

void* ArvTestCamera(const std::string& deviceId) {
  std::lock_guard<std::mutex> lock(gMu);
  auto it = gOpen.find(deviceId);
  return it == gOpen.end() ? nullptr : it->second->Cam();
}

std::string ArvDeviceId(const std::string& deviceName) {
  std::lock_guard<std::mutex> lock(gMu);
  for (const ArvModel& m : gModels)
    if (m.name == deviceName) return m.id;
  return {};
}

#endif

}  // namespace camsdk
