#pragma once
// A stand-in for the kernel's V4L2 devices, answering the backend's system calls the way a
// simple UVC webcam does: formats, sizes and frame intervals as listed, a format set as asked
// (or refused, or changed, when a test says so), mmap buffers that fill with frames and fault
// when read past their end, a clock
// that moves only when the backend waits. Every ioctl is recorded. One at a time: it installs
// itself on construction and puts the real calls back when destroyed.
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/camsdk/v4l2_sys.h"

namespace v4l2fake {

struct Size {
  int width = 0, height = 0;
  std::vector<v4l2_fract> intervals;  // as ENUM_FRAMEINTERVALS lists them; empty: none
};

struct Format {
  std::uint32_t fourcc = 0;
  std::vector<Size> sizes;
};

// One plugged-in camera.
struct Camera {
  std::string card = "Fake Webcam", bus = "usb-0000:00:14.0-1", serial;
  int node = 0;  // /dev/video<node>
  std::vector<Format> formats;
  // What the camera does when a format is set: fail with this errno (EBUSY: another program
  // streams from it), answer with another size, or with rows shorter than a row of pixels.
  int setFormatErrno = 0;
  bool changesSize = false;
  bool shortRows = false;
  // Frames it sends before its stream stops (-1: never stops).
  int framesBeforeStall = -1;
  // Frame n's bytes for the format in force; default: a grey ramp from the left (a JPEG for MJPEG).
  std::function<std::vector<std::uint8_t>(std::uint32_t fourcc, int width, int height, int n)> payload;
  // The bytesused the driver reports beyond the payload's size (a driver's fault).
  std::size_t extraBytesUsed = 0;
};

// What the camera was asked, one entry per ioctl.
struct Call {
  std::string node;
  unsigned long request = 0;
  std::uint32_t fourcc = 0;  // S_FMT
  int width = 0, height = 0; // S_FMT
  v4l2_fract interval{0, 0};  // S_PARM
};

inline std::vector<std::uint8_t> DefaultPayload(std::uint32_t fourcc, int w, int h, int /*n*/) {
  cv::Mat grey(h, w, CV_8UC1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey.at<std::uint8_t>(y, x) = std::uint8_t(x * 255 / std::max(1, w - 1));
  if (fourcc == V4L2_PIX_FMT_GREY) return {grey.datastart, grey.dataend};
  if (fourcc == V4L2_PIX_FMT_YUYV) {
    std::vector<std::uint8_t> out(std::size_t(w) * h * 2);
    for (std::size_t i = 0; i < std::size_t(w) * h; ++i) {
      out[2 * i] = grey.data[i];
      out[2 * i + 1] = 128;
    }
    return out;
  }
  cv::Mat bgr;
  cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
  std::vector<std::uint8_t> jpeg;
  cv::imencode(".jpg", bgr, jpeg);
  return jpeg;
}

class Fake {
 public:
  Fake() {
    Instance() = this;
    camsdk::V4l2SetSys(&kTable);
  }
  ~Fake() {
    camsdk::V4l2SetSys(nullptr);
    Instance() = nullptr;
  }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;

  Camera& Plug(Camera c) {
    std::lock_guard<std::mutex> lock(mu_);
    cameras_.push_back(std::make_shared<Camera>(std::move(c)));
    return *cameras_.back();
  }
  // Pulls the camera at that node: its open files answer ENODEV from now on.
  void Unplug(int node) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = cameras_.begin(); it != cameras_.end(); ++it)
      if ((*it)->node == node) {
        for (auto& [fd, f] : files_)
          if (f.camera == *it) f.gone = true;
        cameras_.erase(it);
        return;
      }
  }
  Camera* At(int node) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& c : cameras_)
      if (c->node == node) return c.get();
    return nullptr;
  }

  std::vector<Call> Calls(unsigned long request) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Call> out;
    for (const Call& c : calls_)
      if (c.request == request) out.push_back(c);
    return out;
  }
  int Count(unsigned long request) const { return int(Calls(request).size()); }
  void ClearCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.clear();
  }
  int OpenFiles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return int(files_.size());
  }
  int MappedBuffers() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mapped_;
  }
  std::int64_t NowMs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return now_;
  }
  // Frames sent so far by the camera at a node.
  int Sent(int node) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = sent_.find(node);
    return it == sent_.end() ? 0 : it->second;
  }

 private:
  // A buffer that ends where an inaccessible page begins, so that reading past it faults.
  class Buffer {
   public:
    explicit Buffer(std::size_t length) : length_(length) {
      const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
      const std::size_t pages = (length + page - 1) / page * page;
      mapLength_ = pages + page;
      void* base = ::mmap(nullptr, mapLength_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (base == MAP_FAILED) throw std::bad_alloc();
      base_ = static_cast<std::uint8_t*>(base);
      ::mprotect(base_ + pages, page, PROT_NONE);
      data_ = base_ + pages - length;
    }
    ~Buffer() {
      if (base_) ::munmap(base_, mapLength_);
    }
    Buffer(Buffer&& o) noexcept
        : base_(std::exchange(o.base_, nullptr)), data_(o.data_), length_(o.length_), mapLength_(o.mapLength_),
          queued(o.queued) {}
    Buffer& operator=(Buffer&&) = delete;
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return length_; }

   private:
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t length_ = 0, mapLength_ = 0;

   public:
    bool queued = false;
  };
  struct File {
    std::shared_ptr<Camera> camera;
    std::string node;
    bool gone = false;
    std::uint32_t fourcc = 0;
    int width = 0, height = 0;
    std::vector<Buffer> buffers;
    bool streaming = false;
  };

  static Fake*& Instance() {
    static Fake* fake = nullptr;
    return fake;
  }

  static std::size_t FrameBytes(std::uint32_t fourcc, int w, int h) {
    return std::size_t(w) * h * (fourcc == V4L2_PIX_FMT_GREY ? 1 : 2);
  }

  int Open(const char* path) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& c : cameras_)
      if (path == "/dev/video" + std::to_string(c->node)) {
        const int fd = nextFd_++;
        File f;
        f.camera = c;
        f.node = path;
        const Format& first = c->formats.at(0);
        f.fourcc = first.fourcc;
        f.width = first.sizes.at(0).width;
        f.height = first.sizes.at(0).height;
        files_[fd] = std::move(f);
        return fd;
      }
    errno = ENOENT;
    return -1;
  }

  int Close(int fd) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!files_.erase(fd)) {
      errno = EBADF;
      return -1;
    }
    return 0;
  }

  static int Fail(int e) {
    errno = e;
    return -1;
  }

  const Format* FindFormat(const Camera& c, std::uint32_t fourcc) const {
    for (const Format& f : c.formats)
      if (f.fourcc == fourcc) return &f;
    return nullptr;
  }

  int Ioctl(int fd, unsigned long request, void* arg) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = files_.find(fd);
    if (it == files_.end()) return Fail(EBADF);
    File& f = it->second;
    Call call;
    call.node = f.node;
    call.request = request;
    if (f.gone) {
      calls_.push_back(call);
      return Fail(ENODEV);
    }
    Camera& cam = *f.camera;
    int r = 0;
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(arg);
        std::memset(cap, 0, sizeof *cap);
        std::strncpy(reinterpret_cast<char*>(cap->driver), "uvcvideo", sizeof cap->driver - 1);
        std::strncpy(reinterpret_cast<char*>(cap->card), cam.card.c_str(), sizeof cap->card - 1);
        std::strncpy(reinterpret_cast<char*>(cap->bus_info), cam.bus.c_str(), sizeof cap->bus_info - 1);
        cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        break;
      }
      case VIDIOC_ENUM_FMT: {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        if (d->index >= cam.formats.size()) {
          r = Fail(EINVAL);
          break;
        }
        d->pixelformat = cam.formats[d->index].fourcc;
        d->flags = IsJpeg(d->pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
        break;
      }
      case VIDIOC_ENUM_FRAMESIZES: {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        const Format* fmt = FindFormat(cam, s->pixel_format);
        if (!fmt || s->index >= fmt->sizes.size()) {
          r = Fail(EINVAL);
          break;
        }
        s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s->discrete.width = std::uint32_t(fmt->sizes[s->index].width);
        s->discrete.height = std::uint32_t(fmt->sizes[s->index].height);
        break;
      }
      case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* i = static_cast<v4l2_frmivalenum*>(arg);
        const Size* size = FindSize(cam, i->pixel_format, int(i->width), int(i->height));
        if (!size || i->index >= size->intervals.size()) {
          r = Fail(EINVAL);
          break;
        }
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = size->intervals[i->index];
        break;
      }
      case VIDIOC_G_FMT:
      case VIDIOC_S_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (request == VIDIOC_S_FMT) {
          call.fourcc = fmt->fmt.pix.pixelformat;
          call.width = int(fmt->fmt.pix.width);
          call.height = int(fmt->fmt.pix.height);
          if (cam.setFormatErrno) {
            r = Fail(cam.setFormatErrno);
            break;
          }
          if (f.streaming || !f.buffers.empty()) {
            r = Fail(EBUSY);
            break;
          }
          // A driver takes what it has nearest: here, the first format and size when unknown.
          const Size* size = FindSize(cam, call.fourcc, call.width, call.height);
          if (size) {
            f.fourcc = call.fourcc;
            f.width = size->width;
            f.height = size->height;
          } else {
            f.fourcc = cam.formats[0].fourcc;
            f.width = cam.formats[0].sizes[0].width;
            f.height = cam.formats[0].sizes[0].height;
          }
          if (cam.changesSize) f.height -= 2;
        }
        std::memset(&fmt->fmt.pix, 0, sizeof fmt->fmt.pix);
        fmt->fmt.pix.pixelformat = f.fourcc;
        fmt->fmt.pix.width = std::uint32_t(f.width);
        fmt->fmt.pix.height = std::uint32_t(f.height);
        fmt->fmt.pix.field = V4L2_FIELD_NONE;
        fmt->fmt.pix.bytesperline =
            IsJpeg(f.fourcc) ? 0 : std::uint32_t(FrameBytes(f.fourcc, f.width, 1)) - (cam.shortRows ? 2 : 0);
        fmt->fmt.pix.sizeimage = std::uint32_t(FrameBytes(f.fourcc, f.width, f.height));
        break;
      }
      case VIDIOC_S_PARM:
        call.interval = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
        break;
      case VIDIOC_QUERYCTRL:
        r = Fail(EINVAL);
        break;
      case VIDIOC_S_CTRL:
        break;
      case VIDIOC_REQBUFS: {
        auto* req = static_cast<v4l2_requestbuffers*>(arg);
        if (f.streaming) {
          r = Fail(EBUSY);
          break;
        }
        f.buffers.clear();
        req->count = std::min<std::uint32_t>(req->count, 4);
        for (std::uint32_t k = 0; k < req->count; ++k)
          f.buffers.emplace_back(FrameBytes(f.fourcc, f.width, f.height));
        break;
      }
      case VIDIOC_QUERYBUF:
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= f.buffers.size()) {
          r = Fail(EINVAL);
          break;
        }
        b->length = std::uint32_t(f.buffers[b->index].size());
        b->m.offset = b->index * 4096;
        if (request == VIDIOC_QBUF) f.buffers[b->index].queued = true;
        break;
      }
      case VIDIOC_DQBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        const int sent = sent_[cam.node];
        Buffer* ready = nullptr;
        for (Buffer& buf : f.buffers)
          if (buf.queued && !ready) ready = &buf;
        if (!f.streaming || !ready || (cam.framesBeforeStall >= 0 && sent >= cam.framesBeforeStall)) {
          r = Fail(EAGAIN);
          break;
        }
        const auto bytes = cam.payload ? cam.payload(f.fourcc, f.width, f.height, sent)
                                       : DefaultPayload(f.fourcc, f.width, f.height, sent);
        const std::size_t n = std::min(bytes.size(), ready->size());
        std::memcpy(ready->data(), bytes.data(), n);
        ready->queued = false;
        b->index = std::uint32_t(ready - f.buffers.data());
        b->bytesused = std::uint32_t(n + cam.extraBytesUsed);
        b->flags = V4L2_BUF_FLAG_DONE;
        sent_[cam.node] = sent + 1;
        now_ += 33;
        break;
      }
      case VIDIOC_STREAMON:
        f.streaming = true;
        break;
      case VIDIOC_STREAMOFF:
        f.streaming = false;
        for (Buffer& buf : f.buffers) buf.queued = false;
        break;
      default:
        r = Fail(ENOTTY);
        break;
    }
    calls_.push_back(call);
    return r;
  }

  void* Mmap(std::size_t length, int fd, off_t offset) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = files_.find(fd);
    const std::size_t index = std::size_t(offset) / 4096;
    if (it == files_.end() || index >= it->second.buffers.size() || length > it->second.buffers[index].size()) {
      errno = EINVAL;
      return MAP_FAILED;
    }
    ++mapped_;
    return it->second.buffers[index].data();
  }

  int Munmap() {
    std::lock_guard<std::mutex> lock(mu_);
    --mapped_;
    return 0;
  }

  // Ready when a streaming file has a frame to give; otherwise the clock runs out the wait.
  int Poll(pollfd* p, int timeoutMs) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = files_.find(p->fd);
    p->revents = 0;
    if (it == files_.end()) {
      p->revents = POLLNVAL;
      return 1;
    }
    File& f = it->second;
    if (f.gone || !f.streaming) {
      p->revents = POLLERR;
      return 1;
    }
    const Camera& cam = *f.camera;
    const bool queued = std::any_of(f.buffers.begin(), f.buffers.end(), [](const Buffer& b) { return b.queued; });
    if (queued && (cam.framesBeforeStall < 0 || sent_[cam.node] < cam.framesBeforeStall)) {
      p->revents = POLLIN;
      return 1;
    }
    now_ += timeoutMs;
    return 0;
  }

  static bool IsJpeg(std::uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG; }

  static const Size* FindSize(const Camera& c, std::uint32_t fourcc, int w, int h) {
    for (const Format& f : c.formats)
      if (f.fourcc == fourcc)
        for (const Size& s : f.sizes)
          if (s.width == w && s.height == h) return &s;
    return nullptr;
  }

  std::string Serial(const char* path) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& c : cameras_)
      if (path == "/dev/video" + std::to_string(c->node)) return c->serial;
    return {};
  }

  static inline const camsdk::V4l2Sys kTable{
      [](const char* path, int) { return Instance()->Open(path); },
      [](int fd) { return Instance()->Close(fd); },
      [](int fd, unsigned long request, void* arg) { return Instance()->Ioctl(fd, request, arg); },
      [](void*, std::size_t length, int, int, int fd, off_t offset) { return Instance()->Mmap(length, fd, offset); },
      [](void*, std::size_t) { return Instance()->Munmap(); },
      [](pollfd* fds, nfds_t, int timeoutMs) { return Instance()->Poll(fds, timeoutMs); },
      []() { return Instance()->NowMs(); },
      [](const char* path) { return Instance()->Serial(path); },
  };

  mutable std::mutex mu_;
  std::vector<std::shared_ptr<Camera>> cameras_;
  std::map<int, File> files_;
  std::map<int, int> sent_;
  std::vector<Call> calls_;
  int nextFd_ = 100;
  int mapped_ = 0;
  std::int64_t now_ = 0;
};

}  // namespace v4l2fake
