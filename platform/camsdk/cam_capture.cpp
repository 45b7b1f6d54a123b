// The frame path and what is written from it: raw frames through the ISP, the display, the
// latest frame on request, captures to image files and video recording.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <thread>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/camsdk/handles.h"
#include "platform/durable_file.h"

namespace camsdk {
namespace {

bool ValidRaw(const CamSdkFrameInfo* info) {
  if (!info || !CamSdkRawIsValid(info->format)) return false;
  if (info->width <= 0 || info->height <= 0 || info->width > 32768 || info->height > 32768) return false;
  return std::int64_t(info->bytes) == std::int64_t(info->width) * info->height * CamSdkRawBytesPerSample(info->format);
}

bool ValidImage(const CamSdkFrameInfo* info) {
  return info && info->width > 0 && info->height > 0 && info->width <= 32768 && info->height <= 32768;
}

}  // namespace
}  // namespace camsdk

using namespace camsdk;

unsigned char* CameraISP(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo) {
  Call call_("CameraISP", handle, raw, frameInfo);
  if (call_.Injected()) {
    call_.Leave(call_.InjectedResult());
    return nullptr;
  }
  if (!raw || !ValidRaw(frameInfo)) {
    call_.Leave(CAMSDK_STATUS_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<const IspTables> tables;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    tables = Isp(c);
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) {
    call_.Leave(r);
    return nullptr;
  }
  thread_local std::vector<unsigned char> out;
  out.resize(std::size_t(frameInfo->width) * frameInfo->height * 3);
  if (!RunIsp(*tables, raw, *frameInfo, out.data())) {
    call_.Leave(CAMSDK_STATUS_INVALID_PARAMETER);
    return nullptr;
  }
  call_.Leave(CAMSDK_STATUS_OK);
  return out.data();
}

CamSdkStatus CamSdkISPInto(int handle, const unsigned char* raw, const CamSdkFrameInfo* frameInfo, unsigned char* bgrBottomUp,
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

CamSdkStatus CameraDisplayRGB24(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo) {
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

CamSdkStatus CamSdkSetDisplaySink(int handle, CamSdkDisplaySink sink, void* context) {
  CAMSDK_ENTER(handle, sink, context);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.sink = sink;
    c.sinkContext = context;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetImageData(int handle, unsigned char* buffer, int mediaType, CamSdkFrameInfo* frameInfo,
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
        const bool got = c.cv.wait_until(
            lock, deadline, [&] { return c.frameSeq != seq || c.closed || c.lost || c.run != Run::Playing; });
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
      if (const CamSdkStatus r = Snapshot(c, lock, c.p.preview, FormatOf(c), raw, &info); r != CAMSDK_STATUS_OK) return r;
    }
    const std::size_t pixels = std::size_t(info.width) * info.height;
    const bool wide = CamSdkRawBits(info.format) > 8;
    if (wide && CamSdkRawBits(mediaType) > 8 && cap >= pixels * 2) {
      std::memcpy(buffer, raw.data(), pixels * 2);
    } else {
      const std::size_t bytes = pixels * CamSdkRawBytesPerSample(info.format);  // processed colour: 3
      if (cap < (wide ? pixels : bytes)) return CAMSDK_STATUS_BUFFER_TOO_SMALL;
      if (wide) {
        for (std::size_t i = 0; i < pixels; ++i)
          buffer[i] = std::uint8_t(((raw[2 * i] | (raw[2 * i + 1] << 8)) & 0xFFF) >> 4);
        info.format = CamSdkRaw8Of(info.format);
        info.bytes = int(pixels);
      } else {
        std::memcpy(buffer, raw.data(), bytes);
      }
    }
    *frameInfo = info;
    return CAMSDK_STATUS_OK;
  }));
}

namespace {

// The raw samples laid out as the pictures of the same capture show them: the top row first
// (the readout starts at the bottom of the scene unless the picture is flipped vertically),
// the columns in the picture's order.
std::vector<std::uint8_t> RawAsShown(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info,
                                     const IspTables& t) {
  const std::size_t w = std::size_t(std::max(info.width, 0)), h = std::size_t(std::max(info.height, 0));
  const std::size_t sample = std::size_t(std::max(CamSdkRawBytesPerSample(info.format), 1));
  const std::size_t row = w * sample;
  if (row == 0 || raw.size() < row * h) return raw;
  std::vector<std::uint8_t> out(raw.size());
  for (std::size_t y = 0; y < h; ++y) {
    const std::uint8_t* src = raw.data() + (t.flipV ? y : h - 1 - y) * row;
    std::uint8_t* dst = out.data() + y * row;
    if (!t.flipH) {
      std::memcpy(dst, src, row);
      continue;
    }
    for (std::size_t x = 0; x < w; ++x) std::memcpy(dst + x * sample, src + (w - 1 - x) * sample, sample);
  }
  return out;
}

}  // namespace

CamSdkStatus CameraCaptureFile(int handle, const char* fileName, int fileTypes, int quality) {
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
    return Snapshot(c, lock, c.p.capture, FormatOf(c), raw, &info);
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);

  std::vector<unsigned char> bgr(std::size_t(info.width) * info.height * 3);
  if (!RunIsp(*tables, raw.data(), info, bgr.data())) CAMSDK_RETURN(CAMSDK_STATUS_FAILED);
  cv::Mat topDown;
  cv::flip(cv::Mat(info.height, info.width, CV_8UC3, bgr.data()), topDown, 0);

  // Each file is encoded in memory and then written through a checked, synced write that
  // replaces the name only when complete: a full disk yields CAMSDK_STATUS_FILE_ERROR and
  // leaves no empty or partial file behind.
  int result = CAMSDK_STATUS_OK;
  auto write = [&](const std::string& name, const char* ext, const std::vector<int>& params) {
    std::vector<unsigned char> bytes;
    bool ok = false;
    try {
      ok = cv::imencode(ext, topDown, bytes, params) && !bytes.empty();
    } catch (const cv::Exception&) {
      ok = false;
    }
    if (!ok || !WriteFileDurably(name, bytes)) result = CAMSDK_STATUS_FILE_ERROR;
  };
  const std::string base(fileName);
  if (fileTypes & CAMSDK_FILE_JPG) write(base + ".jpg", ".jpg", {cv::IMWRITE_JPEG_QUALITY, std::clamp(quality, 1, 100)});
  if (fileTypes & CAMSDK_FILE_BMP) write(base + ".bmp", ".bmp", {});
  if (fileTypes & CAMSDK_FILE_PNG) write(base + ".png", ".png", {cv::IMWRITE_PNG_COMPRESSION, 3});
  if ((fileTypes & CAMSDK_FILE_RAW) && !WriteFileDurably(base + ".raw", RawAsShown(raw, info, *tables)))
    result = CAMSDK_STATUS_FILE_ERROR;
  CAMSDK_RETURN(result);
}

CamSdkStatus CameraSetRecordEncoder(int handle, int codec) {
  CAMSDK_ENTER(handle, codec);
  if (codec != CAMSDK_CODEC_DEFAULT && codec != CAMSDK_CODEC_MJPEG) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.codec = codec;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetRecordAVIQuality(int handle, int quality) {
  CAMSDK_ENTER(handle, quality);
  if (quality < 0 || quality > 2) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.aviQuality = quality;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraStartRecordVideo(int handle, const char* pathWithoutExtension) {
  CAMSDK_ENTER(handle, pathWithoutExtension);
  if (!pathWithoutExtension || !*pathWithoutExtension) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  double fps = 0;
  int quality = 1;
  Mode mode;
  std::shared_ptr<Camera> cam;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    fps = 1e7 / double(Period(c));
    quality = c.aviQuality;
    mode = ModeOf(c.model, c.p.preview);
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
  std::uint64_t incomplete = 0;
  {
    std::lock_guard<std::mutex> lock(cam->mu);
    incomplete = cam->incompleteFrames;
  }
  std::lock_guard<std::mutex> lock(cam->recMu);
  if (cam->recorder) CAMSDK_RETURN(CAMSDK_STATUS_BUSY);
  cam->incompleteAtStart = incomplete;
  // Frames come at the preview size; a recording that cannot create its file does not start.
  cam->recorder = StartRecorder(name, fps, kQuality[quality], mode.width, mode.height);
  if (!cam->recorder) CAMSDK_RETURN(CAMSDK_STATUS_FILE_ERROR);
  cam->lastVideo = name;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

CamSdkStatus CameraRecordFrame(int handle, const unsigned char* image, const CamSdkFrameInfo* frameInfo) {
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

namespace camsdk {
namespace {
// Takes the camera's recorder away from the frame path; the status says why there is none.
// *incomplete: the damaged frames the camera sent while it recorded.
int TakeRecorder(int handle, std::shared_ptr<Recorder>* rec, std::uint64_t* incomplete = nullptr) {
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) return CAMSDK_STATUS_INVALID_HANDLE;
  std::uint64_t now = 0;
  {
    std::lock_guard<std::mutex> lock(cam->mu);
    now = cam->incompleteFrames;
  }
  std::lock_guard<std::mutex> lock(cam->recMu);
  *rec = std::move(cam->recorder);
  if (incomplete) *incomplete = now - std::min(now, cam->incompleteAtStart);
  return *rec ? CAMSDK_STATUS_OK : CAMSDK_STATUS_NOT_RECORDING;
}
}  // namespace
}  // namespace camsdk

CamSdkStatus CameraStopRecordVideo(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Recorder> rec;
  if (const int status = TakeRecorder(handle, &rec); status != CAMSDK_STATUS_OK) CAMSDK_RETURN(status);
  CAMSDK_RETURN(rec->Close());
}

namespace camsdk {
namespace {

// Files being finished by CamSdkStopRecordVideoAsync.
struct Closers {
  std::mutex mu;
  std::condition_variable cv;
  int running = 0;
};
Closers& TheClosers() {
  static Closers c;
  return c;
}

}  // namespace
}  // namespace camsdk

CamSdkStatus CamSdkStopRecordVideoAsync(int handle, CamSdkRecordDone done, void* context) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Recorder> rec;
  std::uint64_t incomplete = 0;
  if (const int status = TakeRecorder(handle, &rec, &incomplete); status != CAMSDK_STATUS_OK) CAMSDK_RETURN(status);
  Closers& closers = TheClosers();
  {
    std::lock_guard<std::mutex> lock(closers.mu);
    ++closers.running;
  }
  std::thread([rec = std::move(rec), done, context, incomplete] {
    rec->Close();
    const RecordSummary s = rec->Summary();
    if (done) {
      const CamSdkRecordSummary out{s.status,           s.framesWritten,   s.framesDropped,
                                    s.seconds,          s.framesPerSecond, s.fileKept ? 1 : 0,
                                    rec->FileName().c_str(), incomplete};
      done(context, &out);
    }
    Closers& c = TheClosers();
    std::lock_guard<std::mutex> lock(c.mu);
    --c.running;
    c.cv.notify_all();
  }).detach();
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

void CamSdkWaitRecordVideo() {
  Closers& c = TheClosers();
  std::unique_lock<std::mutex> lock(c.mu);
  c.cv.wait(lock, [&] { return c.running == 0; });
}

CamSdkStatus CamSdkGetRecordFileName(int handle, char* buffer, int capacity) {
  CAMSDK_ENTER(handle, buffer, capacity);
  if (!buffer || capacity <= 0) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(cam->recMu);
  if (cam->lastVideo.size() + 1 > std::size_t(capacity)) CAMSDK_RETURN(CAMSDK_STATUS_BUFFER_TOO_SMALL);
  std::memcpy(buffer, cam->lastVideo.c_str(), cam->lastVideo.size() + 1);
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}

CamSdkStatus CamSdkGetIncompleteFrames(int handle, unsigned long long* count) {
  CAMSDK_ENTER(handle, count);
  if (!count) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(cam->mu);
  *count = cam->incompleteFrames;
  CAMSDK_RETURN(CAMSDK_STATUS_OK);
}
