// UVC cameras (and any other Video4Linux2 capture device) through the kernel's V4L2 interface:
// /dev/video* capture devices that deliver GREY, YUYV or MJPEG, streamed through mmap buffers.
// GREY frames are 8-bit mono; YUYV and MJPEG are converted to processed colour, which the ISP
// takes without demosaicing. Exposure and gain go to the camera's controls (automatic exposure
// off: the core's own automatic exposure drives them); the image controls (gamma, contrast,
// saturation, sharpness, white balance) are the core's ISP, the same for every camera.
//
// Each size the camera offers in any of those formats is listed once, streamed in the format
// that gives it the highest frame rate, at that size's own fastest frame interval. A camera is
// named by its card and its USB serial number (its bus path when it has none), never by its
// /dev/video node, so that a camera plugged in again keeps its name, and with it its settings
// and layers. A camera that another program holds, or that refuses the format it listed, is
// not opened; one whose stream stops for kV4l2StallMs is lost.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/camsdk/backends.h"
#include "platform/camsdk/v4l2_sys.h"

namespace camsdk {

V4l2Panel V4l2MapControls(const std::vector<V4l2Control>& controls) {
  V4l2Panel p;
  for (const V4l2Control& c : controls) {
    if (c.disabled || c.maximum <= c.minimum) continue;
    switch (c.id) {
      case V4L2_CID_EXPOSURE_ABSOLUTE: p.exposure = true; break;
      case V4L2_CID_EXPOSURE_AUTO: p.autoExposure = true; break;
      case V4L2_CID_GAIN: p.gain = true; break;
      case V4L2_CID_WHITE_BALANCE_TEMPERATURE: p.whiteBalance = true; break;
      case V4L2_CID_AUTO_WHITE_BALANCE: p.autoWhiteBalance = true; break;
      case V4L2_CID_BRIGHTNESS: p.brightness = true; break;
      case V4L2_CID_CONTRAST: p.contrast = true; break;
      case V4L2_CID_SATURATION: p.saturation = true; break;
      case V4L2_CID_SHARPNESS: p.sharpness = true; break;
      case V4L2_CID_GAMMA: p.gamma = true; break;
      default: break;
    }
  }
  return p;
}

std::uint32_t V4l2LackingControls(const V4l2Panel& p) {
  std::uint32_t lacking = 0;
  if (!p.exposure) lacking |= CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE;
  if (!p.gain) lacking |= CAMSDK_CONTROL_ANALOG_GAIN;
  return lacking;
}

std::int32_t V4l2ControlValue(const V4l2Control& c, double value, double panelMin, double panelNeutral,
                              double panelMax) {
  value = std::clamp(value, panelMin, panelMax);
  double v;
  if (value <= panelNeutral)
    v = panelNeutral > panelMin ? c.minimum + (c.defaultValue - c.minimum) * (value - panelMin) / (panelNeutral - panelMin)
                                : c.defaultValue;
  else
    v = panelMax > panelNeutral ? c.defaultValue + (c.maximum - c.defaultValue) * (value - panelNeutral) / (panelMax - panelNeutral)
                                : c.defaultValue;
  const int step = std::max(1, c.step);
  const double k = std::round((v - c.minimum) / step);
  return std::clamp(std::int32_t(c.minimum + k * step), c.minimum, c.maximum);
}


// ---- The system calls

namespace {

int RealOpen(const char* path, int flags) { return ::open(path, flags); }
int RealIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
std::int64_t RealNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The USB device above the node's interface holds the serial number (sysfs: .../1-2/serial beside
// .../1-2/idVendor, the node's device being .../1-2/1-2:1.0).
std::string RealSerial(const char* path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string node = fs::path(path).filename().string();
  fs::path dir = fs::canonical(fs::path("/sys/class/video4linux") / node / "device", ec);
  if (ec) return {};
  for (int up = 0; up < 4 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec)) continue;
    std::ifstream in(dir / "serial");
    std::string serial;
    std::getline(in, serial);
    while (!serial.empty() && std::isspace(static_cast<unsigned char>(serial.back()))) serial.pop_back();
    return serial;
  }
  return {};
}

const V4l2Sys kRealSys{RealOpen, ::close, RealIoctl, ::mmap, ::munmap, ::poll, RealNowMs, RealSerial};
std::atomic<const V4l2Sys*> gSys{&kRealSys};

const V4l2Sys& Sys() { return *gSys.load(); }

int Xioctl(const V4l2Sys& sys, int fd, unsigned long request, void* arg) {
  int r;
  do r = sys.ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

const V4l2Sys& V4l2RealSys() { return kRealSys; }

// ---- Cameras

namespace {

#define TIMES "\xC3\x97"  // "×" in UTF-8

// Enumerations stop here, whatever a driver answers.
constexpr std::uint32_t kMaxEnum = 256;

// One listed size: the format it streams in and that format's fastest interval at that size.
struct V4l2Size {
  int width = 0, height = 0;
  std::uint32_t fourcc = 0;
  v4l2_fract interval{0, 0};  // 0/0: the driver names none
};

// A capture device as first seen, kept for the life of the process. `path` follows the camera
// from node to node; everything else stays as first described.
struct V4l2Model {
  std::string identity, path, card, bus, serial, name;
  ModelInfo info{};
  std::vector<V4l2Size> sizes;  // in the order of `resolutions`, largest first
  std::vector<CamSdkResolution> resolutions;
  CamSdkMediaType media{};
  std::vector<V4l2Control> controls;
};

std::mutex gMu;
std::deque<V4l2Model> gModels;

// Among formats that give a size the same speed: the lossless one, then the one decoded in full.
int Rank(std::uint32_t fourcc) {
  switch (fourcc) {
    case V4L2_PIX_FMT_YUYV: return 0;
    case V4L2_PIX_FMT_MJPEG: return 1;
    case V4L2_PIX_FMT_JPEG: return 2;
    case V4L2_PIX_FMT_GREY: return 3;
    default: return -1;
  }
}

bool Colour(std::uint32_t fourcc) { return fourcc != V4L2_PIX_FMT_GREY; }

// Seconds per frame; unknown intervals count as the slowest.
double Seconds(v4l2_fract f) { return f.numerator && f.denominator ? double(f.numerator) / f.denominator : 1e9; }

// The fastest interval the driver names for one format at one size.
v4l2_fract FastestInterval(const V4l2Sys& sys, int fd, std::uint32_t fourcc, int width, int height) {
  v4l2_frmivalenum fi{};
  fi.pixel_format = fourcc;
  fi.width = std::uint32_t(width);
  fi.height = std::uint32_t(height);
  v4l2_fract best{0, 0};
  for (fi.index = 0; fi.index < kMaxEnum && Xioctl(sys, fd, VIDIOC_ENUM_FRAMEINTERVALS, &fi) == 0; ++fi.index) {
    const v4l2_fract f = fi.type == V4L2_FRMIVAL_TYPE_DISCRETE ? fi.discrete : fi.stepwise.min;
    if (f.numerator && f.denominator && Seconds(f) < Seconds(best)) best = f;
    if (fi.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
  }
  return best;
}

// Every size of every format the core can take, each once, in the format that is fastest there.
std::vector<V4l2Size> Sizes(const V4l2Sys& sys, int fd) {
  std::vector<std::uint32_t> formats;
  v4l2_fmtdesc fdesc{};
  fdesc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (fdesc.index = 0; fdesc.index < kMaxEnum && Xioctl(sys, fd, VIDIOC_ENUM_FMT, &fdesc) == 0; ++fdesc.index)
    if (Rank(fdesc.pixelformat) >= 0 && std::find(formats.begin(), formats.end(), fdesc.pixelformat) == formats.end())
      formats.push_back(fdesc.pixelformat);
  // A camera that can deliver colour is opened in colour, whatever another program left it in.
  if (std::any_of(formats.begin(), formats.end(), Colour))
    formats.erase(std::remove(formats.begin(), formats.end(), V4L2_PIX_FMT_GREY), formats.end());

  std::vector<V4l2Size> all;
  for (std::uint32_t fourcc : formats) {
    v4l2_frmsizeenum fs{};
    fs.pixel_format = fourcc;
    for (fs.index = 0; fs.index < kMaxEnum && Xioctl(sys, fd, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
      V4l2Size s;
      s.fourcc = fourcc;
      if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        s.width = int(fs.discrete.width);
        s.height = int(fs.discrete.height);
      } else {
        s.width = int(fs.stepwise.max_width);
        s.height = int(fs.stepwise.max_height);
      }
      if (s.width > 0 && s.height > 0 && s.width <= 65535 && s.height <= 65535 &&
          !(fourcc == V4L2_PIX_FMT_YUYV && s.width % 2)) {
        s.interval = FastestInterval(sys, fd, fourcc, s.width, s.height);
        all.push_back(s);
      }
      if (fs.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
    }
  }
  if (all.empty()) {  // no sizes enumerated: the format in force, when the core can take it
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(sys, fd, VIDIOC_G_FMT, &f) == 0 &&
        std::find(formats.begin(), formats.end(), f.fmt.pix.pixelformat) != formats.end() && f.fmt.pix.width > 0 &&
        f.fmt.pix.height > 0 && f.fmt.pix.width <= 65535 && f.fmt.pix.height <= 65535)
      all.push_back({int(f.fmt.pix.width), int(f.fmt.pix.height), f.fmt.pix.pixelformat,
                     FastestInterval(sys, fd, f.fmt.pix.pixelformat, int(f.fmt.pix.width), int(f.fmt.pix.height))});
  }
  // Largest first; of one size, the fastest, then the better format.
  std::sort(all.begin(), all.end(), [](const V4l2Size& a, const V4l2Size& b) {
    const long long areaA = 1LL * a.width * a.height, areaB = 1LL * b.width * b.height;
    if (areaA != areaB) return areaA > areaB;
    if (a.width != b.width) return a.width > b.width;
    if (Seconds(a.interval) != Seconds(b.interval)) return Seconds(a.interval) < Seconds(b.interval);
    return Rank(a.fourcc) < Rank(b.fourcc);
  });
  all.erase(std::unique(all.begin(), all.end(),
                        [](const V4l2Size& a, const V4l2Size& b) { return a.width == b.width && a.height == b.height; }),
            all.end());
  if (all.size() > 16) all.resize(16);
  return all;
}

bool Describe(const V4l2Sys& sys, int fd, V4l2Model& m) {
  m.sizes = Sizes(sys, fd);
  if (m.sizes.empty()) return false;
  const V4l2Size& largest = m.sizes.front();
  for (const V4l2Size& s : m.sizes) {
    CamSdkResolution r{};
    r.index = int(m.resolutions.size());
    std::snprintf(r.name, sizeof r.name, "%d" TIMES "%d", s.width, s.height);
    r.width = s.width;
    r.height = s.height;
    r.binning = std::max(1, int(std::lround(double(largest.width) / s.width)));
    m.resolutions.push_back(r);
  }

  for (std::uint32_t id : {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_GAIN,
                           V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_BRIGHTNESS,
                           V4L2_CID_CONTRAST, V4L2_CID_SATURATION, V4L2_CID_SHARPNESS, V4L2_CID_GAMMA}) {
    v4l2_queryctrl q{};
    q.id = id;
    if (Xioctl(sys, fd, VIDIOC_QUERYCTRL, &q) < 0) continue;
    V4l2Control c;
    c.id = id;
    c.minimum = q.minimum;
    c.maximum = q.maximum;
    c.step = q.step;
    c.defaultValue = q.default_value;
    c.disabled = (q.flags & V4L2_CTRL_FLAG_DISABLED) != 0;
    m.controls.push_back(c);
  }

  m.media.index = 0;
  const bool mono = !Colour(largest.fourcc);
  std::snprintf(m.media.name, sizeof m.media.name, "%s", mono ? "GREY" : "RGB24");
  m.media.format = mono ? CAMSDK_RAW_MONO8 : CAMSDK_RAW_BGR8;

  ModelInfo& i = m.info;
  i.key = m.identity.c_str();
  i.productName = m.card.c_str();
  i.deviceName = m.name.c_str();
  i.serial = m.serial.empty() ? m.bus.c_str() : m.serial.c_str();
  i.modelId = 200;
  i.color = !mono;
  i.pattern = mono ? CAMSDK_PATTERN_MONO : CAMSDK_PATTERN_BGR;
  i.sensorWidth = largest.width;
  i.sensorHeight = largest.height;
  i.resolutions = m.resolutions.data();
  i.resolutionCount = int(m.resolutions.size());
  i.mediaTypes = &m.media;
  i.mediaTypeCount = 1;
  i.frameSpeedCount = 1;  // each size streams at its own fastest interval
  // Exposure in the control's 100 us steps: lines of 10 us, up to the control's maximum.
  for (std::uint32_t& t : i.lineTime) t = 100;
  i.maxExposureLines = 100000;  // 1 s
  for (const V4l2Control& c : m.controls)
    if (c.id == V4L2_CID_EXPOSURE_ABSOLUTE) i.maxExposureLines = std::uint32_t(std::max(1, c.maximum)) * 10u;
  i.lackingControls = V4l2LackingControls(V4l2MapControls(m.controls));
  // No regions of interest: a UVC camera sends whole frames.
  i.roiAlignX = i.roiAlignY = i.roiAlignW = i.roiAlignH = 2;
  i.roiMinW = i.sensorWidth;
  i.roiMinH = i.sensorHeight;
  return true;
}

std::size_t BytesPerPixel(std::uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_YUYV ? 2 : 1; }
bool Compressed(std::uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG; }

// Sets one listed size. The driver may answer with another format than asked for; only exactly
// the one asked for is taken. CAMSDK_STATUS_BUSY when another program streams from the camera,
// CAMSDK_STATUS_FAILED when it refuses or changes the format; the row length in *stride.
int SetFormat(const V4l2Sys& sys, int fd, const V4l2Size& s, std::size_t* stride) {
  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  f.fmt.pix.width = std::uint32_t(s.width);
  f.fmt.pix.height = std::uint32_t(s.height);
  f.fmt.pix.pixelformat = s.fourcc;
  f.fmt.pix.field = V4L2_FIELD_NONE;
  if (Xioctl(sys, fd, VIDIOC_S_FMT, &f) < 0) return errno == EBUSY ? CAMSDK_STATUS_BUSY : CAMSDK_STATUS_FAILED;
  const v4l2_pix_format& p = f.fmt.pix;
  if (p.pixelformat != s.fourcc || int(p.width) != s.width || int(p.height) != s.height ||
      (p.field != V4L2_FIELD_NONE && p.field != V4L2_FIELD_ANY))
    return CAMSDK_STATUS_FAILED;
  if (Compressed(s.fourcc)) {
    *stride = 0;
  } else {
    const std::size_t row = std::size_t(s.width) * BytesPerPixel(s.fourcc);
    *stride = p.bytesperline ? p.bytesperline : row;
    if (*stride < row || *stride > row * 16) return CAMSDK_STATUS_FAILED;
  }
  return CAMSDK_STATUS_OK;
}

const V4l2Size* FindSize(const V4l2Model& m, int width, int height) {
  for (const V4l2Size& s : m.sizes)
    if (s.width == width && s.height == height) return &s;
  return nullptr;
}

class V4l2Device final : public Device {
 public:
  V4l2Device(const V4l2Sys& sys, const V4l2Model& m, int fd) : sys_(sys), model_(m), fd_(fd) {}
  ~V4l2Device() override {
    Stop();
    sys_.close(fd_);
  }
  const ModelInfo& Model() const override { return model_.info; }
  bool PacesItself() const override { return true; }

  // A whole frame, or false (lost): the camera gone, a size it will not stream, or no whole
  // frame for kV4l2StallMs beyond the exposure time. Never a made-up frame.
  bool Read(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (lost_) return false;
    if (!streaming_ || e.mode.width != size_.width || e.mode.height != size_.height) {
      Stop();
      if (!Start(e)) return Lose();
    }
    ApplyControls(e);
    const std::int64_t deadline = sys_.nowMs() + kV4l2StallMs + std::int64_t(e.exposure / 10000);
    for (;;) {
      const std::int64_t left = deadline - sys_.nowMs();
      if (left <= 0) return Lose();
      pollfd p{fd_, POLLIN, 0};
      const int r = sys_.poll(&p, 1, int(std::min<std::int64_t>(left, INT_MAX)));
      if (r < 0) {
        if (errno == EINTR) continue;
        return Lose();
      }
      if (r == 0) continue;
      if (!(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return Lose();
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Xioctl(sys_, fd_, VIDIOC_DQBUF, &b) < 0) {
        if (errno == EAGAIN) continue;
        return Lose();
      }
      bool ok = false;
      if (b.index < buffers_.size() && !(b.flags & V4L2_BUF_FLAG_ERROR)) {
        const auto& [data, length] = buffers_[b.index];
        ok = V4l2ToRaw(size_.fourcc, static_cast<const std::uint8_t*>(data), std::min<std::size_t>(b.bytesused, length),
                       size_.width, size_.height, stride_, raw);
      }
      if (Xioctl(sys_, fd_, VIDIOC_QBUF, &b) < 0) lost_ = true;  // this frame still counts
      if (ok) return true;
      if (lost_) return false;
    }
  }

 private:
  bool Lose() {
    lost_ = true;
    Stop();
    return false;
  }

  bool Start(const Exposure& e) {
    const V4l2Size* s = FindSize(model_, e.mode.width, e.mode.height);
    if (!s || SetFormat(sys_, fd_, *s, &stride_) != CAMSDK_STATUS_OK) return false;
    size_ = *s;
    if (s->interval.numerator && s->interval.denominator) {
      v4l2_streamparm parm{};
      parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parm.parm.capture.timeperframe = s->interval;
      Xioctl(sys_, fd_, VIDIOC_S_PARM, &parm);  // a camera without frame rates streams at its own
    }
    // A buffer must hold a whole frame of the format set.
    const std::size_t least =
        Compressed(s->fourcc) ? 4 : stride_ * (s->height - 1) + std::size_t(s->width) * BytesPerPixel(s->fourcc);
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(sys_, fd_, VIDIOC_REQBUFS, &req) < 0) return false;
    requested_ = true;
    if (req.count < 2 || req.count > 32) return false;
    for (std::uint32_t k = 0; k < req.count; ++k) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = k;
      if (Xioctl(sys_, fd_, VIDIOC_QUERYBUF, &b) < 0 || b.length < least) return false;
      void* p = sys_.mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
      if (p == MAP_FAILED) return false;
      buffers_.emplace_back(p, b.length);
      if (Xioctl(sys_, fd_, VIDIOC_QBUF, &b) < 0) return false;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(sys_, fd_, VIDIOC_STREAMON, &type) < 0) return false;
    streaming_ = true;
    applied_ = false;
    return true;
  }

  void Stop() {
    if (streaming_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      Xioctl(sys_, fd_, VIDIOC_STREAMOFF, &type);
      streaming_ = false;
    }
    for (auto& [p, len] : buffers_) sys_.munmap(p, len);
    buffers_.clear();
    if (requested_) {
      requested_ = false;
      v4l2_requestbuffers req{};
      req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      req.memory = V4L2_MEMORY_MMAP;
      Xioctl(sys_, fd_, VIDIOC_REQBUFS, &req);
    }
    size_ = {};
  }

  const V4l2Control* Control(std::uint32_t id) const {
    for (const V4l2Control& c : model_.controls)
      if (c.id == id && !c.disabled) return &c;
    return nullptr;
  }

  void Set(std::uint32_t id, std::int32_t value) {
    v4l2_control c{id, value};
    Xioctl(sys_, fd_, VIDIOC_S_CTRL, &c);
  }

  void ApplyControls(const Exposure& e) {
    if (!applied_) {
      // The core's automatic exposure and white balance drive the camera: its own are off. A
      // camera whose exposure the core cannot set keeps exposing on its own.
      if (Control(V4L2_CID_EXPOSURE_AUTO) && Control(V4L2_CID_EXPOSURE_ABSOLUTE))
        Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
      if (Control(V4L2_CID_AUTO_WHITE_BALANCE)) Set(V4L2_CID_AUTO_WHITE_BALANCE, 0);
    }
    if (const V4l2Control* c = Control(V4L2_CID_EXPOSURE_ABSOLUTE); c && (!applied_ || e.exposure != exposure_)) {
      const double units = double(e.exposure) / 1000.0;  // 100 us
      Set(c->id, std::clamp(std::int32_t(std::lround(units)), c->minimum, c->maximum));
      exposure_ = e.exposure;
    }
    if (const V4l2Control* c = Control(V4L2_CID_GAIN); c && (!applied_ || e.analogGain != gain_)) {
      Set(c->id, V4l2ControlValue(*c, e.analogGain, 1.0, 1.0, 16.0));
      gain_ = e.analogGain;
    }
    applied_ = true;
  }

  const V4l2Sys& sys_;
  const V4l2Model& model_;
  const int fd_;
  bool lost_ = false, streaming_ = false, requested_ = false, applied_ = false;
  V4l2Size size_;
  std::size_t stride_ = 0;
  std::vector<std::pair<void*, std::size_t>> buffers_;
  std::uint64_t exposure_ = 0;
  float gain_ = 0;
};

// A capture device present now.
struct Node {
  std::string path, card, bus, serial;
};

std::string Text(const std::uint8_t* field, std::size_t size) {
  const char* s = reinterpret_cast<const char*>(field);
  return std::string(s, strnlen(s, size));
}

bool QueryCapture(const V4l2Sys& sys, int fd, std::string* card, std::string* bus) {
  v4l2_capability cap{};
  if (Xioctl(sys, fd, VIDIOC_QUERYCAP, &cap) < 0) return false;
  const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) return false;
  *card = Text(cap.card, sizeof cap.card);
  *bus = Text(cap.bus_info, sizeof cap.bus_info);
  return true;
}

std::vector<Node> Scan(const V4l2Sys& sys) {
  std::vector<Node> out;
  for (int k = 0; k < 64; ++k) {
    const std::string path = "/dev/video" + std::to_string(k);
    const int fd = sys.open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    Node n{path, {}, {}, {}};
    const bool capture = QueryCapture(sys, fd, &n.card, &n.bus);
    sys.close(fd);
    if (!capture) continue;
    n.serial = sys.serial(path.c_str());
    out.push_back(std::move(n));
  }
  return out;
}

// What tells one camera from another wherever it is plugged in: its card with its serial number,
// or with its bus path when it has none.
std::string Identity(const std::string& card, const std::string& bus, const std::string& serial) {
  return card + (serial.empty() ? "\nbus " + bus : "\nserial " + serial);
}

class V4l2BackendImpl final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override {
    const V4l2Sys& sys = Sys();
    const char* off = std::getenv("Q7V_V4L2");
    if (&sys == &kRealSys && off && std::strcmp(off, "0") == 0) return {};
    std::lock_guard<std::mutex> lock(gMu);
    std::vector<const ModelInfo*> out;
    std::vector<const V4l2Model*> claimed;
    for (const Node& n : Scan(sys)) {
      const std::string identity = Identity(n.card, n.bus, n.serial);
      // Two cameras of one identity (a model without serial numbers on one hub) stay apart by
      // their nodes; a camera on a new node is the one of its identity not present now.
      V4l2Model* found = nullptr;
      for (V4l2Model& m : gModels) {
        if (m.identity != identity || std::find(claimed.begin(), claimed.end(), &m) != claimed.end()) continue;
        if (!found || m.path == n.path) found = &m;
      }
      if (!found) {
        V4l2Model m;
        m.identity = identity;
        m.path = n.path;
        m.card = n.card;
        m.bus = n.bus;
        m.serial = n.serial;
        m.name = UniqueDeviceName(n.card + " (" + (n.serial.empty() ? n.bus : n.serial) + ")", [&](const std::string& name) {
          return std::any_of(gModels.begin(), gModels.end(), [&](const V4l2Model& o) { return o.name == name; });
        });
        const int fd = sys.open(n.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        gModels.push_back(std::move(m));  // described in place: the record points into itself
        const bool ok = Describe(sys, fd, gModels.back());
        sys.close(fd);
        if (!ok) {
          gModels.pop_back();
          continue;
        }
        found = &gModels.back();
      }
      found->path = n.path;
      claimed.push_back(found);
      out.push_back(&found->info);
    }
    return out;
  }

  std::unique_ptr<Device> Open(const ModelInfo& info) override {
    int status = CAMSDK_STATUS_OK;
    return OpenWithStatus(info, &status);
  }

  // Opens the camera's node and sets its largest size, so that a camera another program streams
  // from, or one that will not take the format it listed, is refused here rather than found out
  // frame by frame.
  std::unique_ptr<Device> OpenWithStatus(const ModelInfo& info, int* status) override {
    const V4l2Sys& sys = Sys();
    std::lock_guard<std::mutex> lock(gMu);
    *status = CAMSDK_STATUS_NO_DEVICE;
    for (const V4l2Model& m : gModels) {
      if (&m.info != &info) continue;
      const int fd = sys.open(m.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        *status = errno == EBUSY ? CAMSDK_STATUS_BUSY : errno == EACCES ? CAMSDK_STATUS_FAILED : CAMSDK_STATUS_NO_DEVICE;
        return nullptr;
      }
      std::string card, bus;
      std::size_t stride = 0;
      if (!QueryCapture(sys, fd, &card, &bus) || card != m.card) {
        *status = CAMSDK_STATUS_NO_DEVICE;  // another device took the node
      } else {
        *status = SetFormat(sys, fd, m.sizes.front(), &stride);
        if (*status == CAMSDK_STATUS_OK) return std::make_unique<V4l2Device>(sys, m, fd);
      }
      sys.close(fd);
      return nullptr;
    }
    return nullptr;
  }

  bool Present(const ModelInfo& info) override {
    for (const ModelInfo* m : List())
      if (m == &info) return true;
    return false;
  }

  DeviceText Text(const ModelInfo&) const override {
    DeviceText t;
    t.series = "UVC camera";
    t.portType = "V4L2";
    t.driverVersion = "V4L2";
    return t;
  }
};

}  // namespace

void V4l2SetSys(const V4l2Sys* sys) {
  std::lock_guard<std::mutex> lock(gMu);
  gSys = sys ? sys : &kRealSys;
  gModels.clear();
}

Backend& V4l2Backend() {
  static V4l2BackendImpl backend;
  return backend;
}

}  // namespace camsdk
