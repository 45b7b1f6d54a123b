// UVC cameras (and any other Video4Linux2 capture device) through the kernel's V4L2 interface:
// /dev/video* capture devices that deliver GREY, YUYV or MJPEG, streamed through mmap buffers.
// GREY frames are 8-bit mono; YUYV and MJPEG are converted to processed colour, which the ISP
// takes without demosaicing. Exposure and gain go to the camera's controls (automatic exposure
// off: the core's own automatic exposure drives them); the image controls (gamma, contrast,
// saturation, sharpness, white balance) are the core's ISP, the same for every camera.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/backends.h"

namespace camsdk {

bool V4l2ToRaw(std::uint32_t fourcc, const std::uint8_t* data, std::size_t bytes, int width, int height,
               std::size_t stride, std::vector<std::uint8_t>& raw) {
  if (!data || width <= 0 || height <= 0) return false;
  cv::Mat top;  // top-down, as the camera sends it
  if (fourcc == V4L2_PIX_FMT_GREY) {
    if (stride < std::size_t(width) || bytes < stride * (height - 1) + width) return false;
    top = cv::Mat(height, width, CV_8UC1, const_cast<std::uint8_t*>(data), stride);
  } else if (fourcc == V4L2_PIX_FMT_YUYV) {
    if (width % 2 || stride < std::size_t(width) * 2 || bytes < stride * (height - 1) + width * 2) return false;
    cv::cvtColor(cv::Mat(height, width, CV_8UC2, const_cast<std::uint8_t*>(data), stride), top,
                 cv::COLOR_YUV2BGR_YUYV);
  } else if (fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG) {
    try {
      top = cv::imdecode(cv::Mat(1, int(bytes), CV_8UC1, const_cast<std::uint8_t*>(data)), cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
      return false;
    }
    if (top.cols != width || top.rows != height) return false;
  } else {
    return false;
  }
  const int channels = top.channels();
  raw.resize(std::size_t(width) * height * channels);
  cv::Mat bottomUp(height, width, channels == 1 ? CV_8UC1 : CV_8UC3, raw.data());
  cv::flip(top, bottomUp, 0);
  return true;
}

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

namespace {

#define TIMES "\xC3\x97"  // "×" in UTF-8

int Xioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

// A capture device as first seen, kept for the life of the process.
struct V4l2Model {
  std::string path, card, bus, name, serial;
  std::uint32_t fourcc = 0;
  ModelInfo info{};
  std::vector<CamSdkResolution> resolutions;
  CamSdkMediaType media{};
  std::vector<V4l2Control> controls;
  std::vector<v4l2_fract> intervals;  // per frame speed, longest first
};

std::mutex gMu;
std::deque<V4l2Model> gModels;

int Rank(std::uint32_t fourcc) {
  switch (fourcc) {
    case V4L2_PIX_FMT_YUYV: return 0;   // no decoding loss
    case V4L2_PIX_FMT_MJPEG: return 1;  // larger sizes at full speed
    case V4L2_PIX_FMT_GREY: return 2;
    default: return 99;
  }
}

bool Describe(int fd, V4l2Model& m) {
  // The first format of the device we can take (a GREY-only camera is mono).
  v4l2_fmtdesc fd_{};
  fd_.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  int best = 99;
  for (fd_.index = 0; Xioctl(fd, VIDIOC_ENUM_FMT, &fd_) == 0; ++fd_.index)
    if (Rank(fd_.pixelformat) < best) best = Rank(fd_.pixelformat), m.fourcc = fd_.pixelformat;
  if (best == 99) return false;

  // Sizes, largest first.
  v4l2_frmsizeenum fs{};
  fs.pixel_format = m.fourcc;
  std::vector<std::pair<int, int>> sizes;
  for (fs.index = 0; Xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
    if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      sizes.emplace_back(fs.discrete.width, fs.discrete.height);
    } else {
      sizes.emplace_back(fs.stepwise.max_width, fs.stepwise.max_height);
      break;
    }
  }
  if (sizes.empty()) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd, VIDIOC_G_FMT, &f) < 0) return false;
    sizes.emplace_back(f.fmt.pix.width, f.fmt.pix.height);
  }
  std::sort(sizes.begin(), sizes.end(), [](auto a, auto b) { return a.first * a.second > b.first * b.second; });
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  for (const auto& [w, h] : sizes) {
    if (m.resolutions.size() >= 16) break;
    CamSdkResolution r{};
    r.index = int(m.resolutions.size());
    std::snprintf(r.name, sizeof r.name, "%d" TIMES "%d", w, h);
    r.width = w;
    r.height = h;
    r.binning = std::max(1, int(std::lround(double(sizes[0].first) / w)));
    m.resolutions.push_back(r);
  }

  // Frame intervals of the largest size, slowest first.
  v4l2_frmivalenum fi{};
  fi.pixel_format = m.fourcc;
  fi.width = sizes[0].first;
  fi.height = sizes[0].second;
  std::vector<v4l2_fract> ivals;
  for (fi.index = 0; Xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &fi) == 0; ++fi.index)
    if (fi.type == V4L2_FRMIVAL_TYPE_DISCRETE) ivals.push_back(fi.discrete);
  std::sort(ivals.begin(), ivals.end(), [](v4l2_fract a, v4l2_fract b) {
    return double(a.numerator) / a.denominator > double(b.numerator) / b.denominator;
  });
  m.intervals = ivals;

  // Controls.
  for (std::uint32_t id : {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_GAIN,
                           V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_BRIGHTNESS,
                           V4L2_CID_CONTRAST, V4L2_CID_SATURATION, V4L2_CID_SHARPNESS, V4L2_CID_GAMMA}) {
    v4l2_queryctrl q{};
    q.id = id;
    if (Xioctl(fd, VIDIOC_QUERYCTRL, &q) < 0) continue;
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
  const bool mono = m.fourcc == V4L2_PIX_FMT_GREY;
  std::snprintf(m.media.name, sizeof m.media.name, "%s", mono ? "GREY" : "RGB24");
  m.media.format = mono ? CAMSDK_RAW_MONO8 : CAMSDK_RAW_BGR8;

  ModelInfo& i = m.info;
  i.key = m.path.c_str();
  i.productName = m.card.c_str();
  i.deviceName = m.name.c_str();
  i.serial = m.serial.c_str();
  i.modelId = 200;
  i.color = !mono;
  i.pattern = mono ? CAMSDK_PATTERN_MONO : CAMSDK_PATTERN_BGR;
  i.sensorWidth = sizes[0].first;
  i.sensorHeight = sizes[0].second;
  i.resolutions = m.resolutions.data();
  i.resolutionCount = int(m.resolutions.size());
  i.mediaTypes = &m.media;
  i.mediaTypeCount = 1;
  i.frameSpeedCount = 1;  // streamed at the fastest interval the camera enumerates
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

class V4l2Device final : public Device {
 public:
  V4l2Device(const V4l2Model& m, int fd) : model_(m), fd_(fd) {}
  ~V4l2Device() override {
    Stop();
    ::close(fd_);
  }
  const ModelInfo& Model() const override { return model_.info; }
  bool PacesItself() const override { return true; }

  bool Read(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (lost_) return false;
    if (!streaming_ || e.mode.width != width_ || e.mode.height != height_) {
      Stop();
      if (!Start(e)) return Gone(e, raw);
    }
    ApplyControls(e);
    for (int attempt = 0; attempt < 3; ++attempt) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(fd_, &set);
      timeval tv{2 + long(e.exposure / 10000000), 0};
      const int r = select(fd_ + 1, &set, nullptr, nullptr, &tv);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) continue;
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Xioctl(fd_, VIDIOC_DQBUF, &b) < 0) {
        if (errno == EAGAIN) continue;
        return Gone(e, raw);
      }
      const bool ok = b.index < buffers_.size() && !(b.flags & V4L2_BUF_FLAG_ERROR) &&
                      V4l2ToRaw(model_.fourcc, static_cast<const std::uint8_t*>(buffers_[b.index].first),
                                b.bytesused, width_, height_, stride_, raw);
      Xioctl(fd_, VIDIOC_QBUF, &b);
      if (ok) return true;
    }
    return Gone(e, raw);
  }

 private:
  // No frame: gone when the device node went away, else an unchanged frame of the right size.
  bool Gone(const Exposure& e, std::vector<std::uint8_t>& raw) {
    v4l2_capability cap{};
    if (Xioctl(fd_, VIDIOC_QUERYCAP, &cap) < 0 && (errno == ENODEV || errno == EIO)) lost_ = true;
    if (lost_) return false;
    raw.resize(std::size_t(e.mode.width) * e.mode.height * CamSdkRawBytesPerSample(model_.media.format));
    return true;
  }

  bool Start(const Exposure& e) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = e.mode.width;
    f.fmt.pix.height = e.mode.height;
    f.fmt.pix.pixelformat = model_.fourcc;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    if (Xioctl(fd_, VIDIOC_S_FMT, &f) < 0) return false;
    if (int(f.fmt.pix.width) != e.mode.width || int(f.fmt.pix.height) != e.mode.height) return false;
    width_ = e.mode.width;
    height_ = e.mode.height;
    stride_ = f.fmt.pix.bytesperline ? f.fmt.pix.bytesperline
                                     : std::size_t(width_) * (model_.fourcc == V4L2_PIX_FMT_YUYV ? 2 : 1);
    if (!model_.intervals.empty()) {
      v4l2_streamparm parm{};
      parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parm.parm.capture.timeperframe = model_.intervals.back();  // the fastest the camera offers
      Xioctl(fd_, VIDIOC_S_PARM, &parm);
    }
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count < 2) return false;
    for (std::uint32_t k = 0; k < req.count; ++k) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = k;
      if (Xioctl(fd_, VIDIOC_QUERYBUF, &b) < 0) return false;
      void* p = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
      if (p == MAP_FAILED) return false;
      buffers_.emplace_back(p, b.length);
      if (Xioctl(fd_, VIDIOC_QBUF, &b) < 0) return false;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd_, VIDIOC_STREAMON, &type) < 0) return false;
    streaming_ = true;
    applied_ = false;
    return true;
  }

  void Stop() {
    if (streaming_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      Xioctl(fd_, VIDIOC_STREAMOFF, &type);
      streaming_ = false;
    }
    for (auto& [p, len] : buffers_) munmap(p, len);
    if (!buffers_.empty()) {
      buffers_.clear();
      v4l2_requestbuffers req{};
      req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      req.memory = V4L2_MEMORY_MMAP;
      Xioctl(fd_, VIDIOC_REQBUFS, &req);
    }
  }

  const V4l2Control* Control(std::uint32_t id) const {
    for (const V4l2Control& c : model_.controls)
      if (c.id == id && !c.disabled) return &c;
    return nullptr;
  }

  void Set(std::uint32_t id, std::int32_t value) {
    v4l2_control c{id, value};
    Xioctl(fd_, VIDIOC_S_CTRL, &c);
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

  const V4l2Model& model_;
  const int fd_;
  bool lost_ = false, streaming_ = false, applied_ = false;
  int width_ = 0, height_ = 0;
  std::size_t stride_ = 0;
  std::vector<std::pair<void*, std::size_t>> buffers_;
  std::uint64_t exposure_ = 0;
  float gain_ = 0;
};

// Capture devices present now: path, card, bus.
struct Node {
  std::string path, card, bus;
};

std::vector<Node> Scan() {
  std::vector<Node> out;
  for (int k = 0; k < 64; ++k) {
    const std::string path = "/dev/video" + std::to_string(k);
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
      const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
      if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING))
        out.push_back({path, reinterpret_cast<const char*>(cap.card), reinterpret_cast<const char*>(cap.bus_info)});
    }
    ::close(fd);
  }
  return out;
}

class V4l2BackendImpl final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override {
    const char* off = std::getenv("Q7V_V4L2");
    if (off && std::strcmp(off, "0") == 0) return {};
    std::lock_guard<std::mutex> lock(gMu);
    std::vector<const ModelInfo*> out;
    for (const Node& n : Scan()) {
      V4l2Model* found = nullptr;
      for (V4l2Model& m : gModels)
        if (m.bus == n.bus && m.card == n.card && m.path == n.path) found = &m;
      if (!found) {
        V4l2Model m;
        m.path = n.path;
        m.card = n.card;
        m.bus = n.bus;
        m.serial = n.bus;
        m.name = UniqueDeviceName(n.card + " (" + n.bus + ")", [&](const std::string& name) {
          return std::any_of(gModels.begin(), gModels.end(), [&](const V4l2Model& o) { return o.name == name; });
        });
        const int fd = ::open(n.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        gModels.push_back(std::move(m));
        const bool ok = Describe(fd, gModels.back());
        ::close(fd);
        if (!ok) {
          gModels.pop_back();
          continue;
        }
        found = &gModels.back();
      }
      out.push_back(&found->info);
    }
    return out;
  }

  std::unique_ptr<Device> Open(const ModelInfo& info) override {
    std::lock_guard<std::mutex> lock(gMu);
    for (const V4l2Model& m : gModels)
      if (&m.info == &info) {
        const int fd = ::open(m.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        return std::make_unique<V4l2Device>(m, fd);
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

Backend& V4l2Backend() {
  static V4l2BackendImpl backend;
  return backend;
}

}  // namespace camsdk
