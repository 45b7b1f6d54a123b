// Video recording as a Motion-JPEG AVI. The frame thread only copies a frame (turning it
// top-down) into a reused buffer of a queue bounded in bytes; when the queue is full the frame is dropped and
// counted, so a slow encoder never holds up the preview. A few workers encode the frames to
// JPEG in parallel and one writer hands them, in order, to FFmpeg's AVI muxer, which writes
// through our own I/O so that every write error (a full disk) is seen. When the file is closed
// its header gets the rate the frames really came at, so it plays as long as it was recorded.
// While it grows, the header's sizes, frame counts and rate are brought up to date about once a
// second, so a file cut short by a crash or a power cut plays what was written up to then.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/camsdk/core.h"
#include "platform/durable_file.h"
#include "platform/huge_pages.h"

namespace camsdk {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<RecorderWriteFn> g_write{nullptr};
// How often a growing file's header is brought up to date.
constexpr std::chrono::milliseconds kRefreshInterval{1000};

constexpr std::uint32_t kListTag = MKTAG('L', 'I', 'S', 'T');

ssize_t WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  const RecorderWriteFn hook = g_write.load();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = hook ? hook(fd, data + done, size - done) : ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += std::size_t(n);
  }
  return ssize_t(done);
}

// Raw frames waiting for or in encoding may hold this much memory (three 20 MP frames).
constexpr std::size_t kRawBudget = 192u << 20;

// Larger frames are copied only into buffers the workers made ready: fresh memory of that size
// costs far more to fault in than the copy (hundreds of milliseconds at 20 MP on some machines).
constexpr std::size_t kCopyAllocLimit = 4u << 20;

int WorkerCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return int(std::clamp(n > 2 ? n - 2 : 1u, 1u, 4u));
}

class MjpegRecorder final : public Recorder {
 public:
  MjpegRecorder(std::string fileName, int fd, double nominalFps, int quality, int width, int height)
      : file_(std::move(fileName)), fd_(fd), nominalFps_(nominalFps), quality_(quality), width_(width),
        height_(height), frameBytes_(std::size_t(width) * height * 3) {}

  ~MjpegRecorder() override {
    Close();
    if (fmt_) {
      if (fmt_->pb) {
        av_freep(&fmt_->pb->buffer);
        avio_context_free(&fmt_->pb);
      }
      avformat_free_context(fmt_);
    }
  }

  // Writes the header; false when the file cannot take it.
  bool Open() {
    if (avformat_alloc_output_context2(&fmt_, nullptr, "avi", file_.c_str()) < 0 || !fmt_) return false;
    AVStream* st = avformat_new_stream(fmt_, nullptr);
    if (!st) return false;
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_MJPEG;
    st->codecpar->codec_tag = MKTAG('M', 'J', 'P', 'G');
    st->codecpar->width = width_;
    st->codecpar->height = height_;
    st->codecpar->format = AV_PIX_FMT_YUVJ420P;
    // A provisional rate: the header gets the measured one when the file is closed.
    const int millis = std::clamp(int(nominalFps_ * 1000 + 0.5), 1000, 1000000);
    st->time_base = AVRational{1000, millis};
    st->avg_frame_rate = AVRational{millis, 1000};
    constexpr int kBuffer = 1 << 20;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    if (!buffer) return false;
    fmt_->pb = avio_alloc_context(buffer, kBuffer, 1, this, nullptr, &MjpegRecorder::WritePacket, &MjpegRecorder::Seek);
    if (!fmt_->pb) {
      av_free(buffer);
      return false;
    }
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_write_header(fmt_, nullptr) < 0) return false;
    avio_flush(fmt_->pb);
    if (ioFailed_ || fmt_->pb->error) return false;
    frameTime_ = AVRational{1000, millis};
    opened_ = true;
    const int workers = WorkerCount();
    // OpenCV sets its encoders up at their first use; done here, before the workers start, so
    // that they find them made (ThreadSanitizer cannot see OpenCV's own once-only guard).
    cv::haveImageWriter(".jpg");
    if (frameBytes_ > kCopyAllocLimit)
      warmTarget_ = std::min<std::size_t>(std::size_t(workers), std::max<std::size_t>(1, kRawBudget / frameBytes_));
    for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { Encode(); });
    writer_ = std::thread([this] { Write(); });
    // The first frames find their buffers ready (a moment at the start, none at the stop).
    std::unique_lock<std::mutex> lock(mutex_);
    doneCv_.wait(lock, [&] { return spare_.size() >= warmTarget_; });
    return true;
  }

  int Push(const unsigned char* bgrBottomUp, int width, int height) override {
    const Clock::time_point now = Clock::now();
    std::uint64_t seq = 0;
    cv::Mat frame;  // a buffer used before when there is one
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closing_) return CAMSDK_STATUS_NOT_RECORDING;
      if (failed_) return CAMSDK_STATUS_FILE_ERROR;
      if (width != width_ || height != height_) return CAMSDK_STATUS_INVALID_PARAMETER;
      if (arrived_++ == 0) first_ = now;
      last_ = now;
      if (rawBytes_ > 0 && rawBytes_ + frameBytes_ > kRawBudget) {
        ++dropped_;
        return CAMSDK_STATUS_OK;
      }
      if (!spare_.empty()) {
        frame = std::move(spare_.back());
        spare_.pop_back();
      } else if (frameBytes_ > kCopyAllocLimit) {
        ++dropped_;  // the workers are still making the buffers ready
        return CAMSDK_STATUS_OK;
      }
      rawBytes_ += frameBytes_;
      seq = nextSeq_++;
    }
    // The copy is made outside the lock: the workers go on meanwhile. The writer wants
    // top-down rows.
    cv::flip(cv::Mat(height, width, CV_8UC3, const_cast<unsigned char*>(bgrBottomUp)), frame, 0);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Closed meanwhile: the workers may be gone, so the frame is not the file's.
      if (closing_) {
        rawBytes_ -= frameBytes_;
        return CAMSDK_STATUS_NOT_RECORDING;
      }
      raw_.push_back({seq, std::move(frame)});
    }
    workCv_.notify_one();
    return CAMSDK_STATUS_OK;
  }

  int Close() override {
    std::call_once(closeOnce_, [this] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
      }
      workCv_.notify_all();
      for (auto& t : workers_) t.join();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        encodersDone_ = true;
      }
      doneCv_.notify_all();
      if (writer_.joinable()) writer_.join();
      Finish();
    });
    return status_;
  }

  const std::string& FileName() const override { return file_; }
  int WriteError() const { return writeError_.load(); }

  RecordSummary Summary() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    RecordSummary s;
    s.status = status_;
    s.framesWritten = written_;
    s.framesDropped = dropped_;
    s.seconds = Seconds();
    s.framesPerSecond = Rate();
    s.fileKept = fileKept_;
    return s;
  }

 private:
  struct Job {
    std::uint64_t seq;
    cv::Mat frame;
  };

  static int WritePacket(void* opaque, std::uint8_t* buf, int size) {
    auto* self = static_cast<MjpegRecorder*>(opaque);
    if (self->ioFailed_) return AVERROR(EIO);
    if (WriteAll(self->fd_, buf, std::size_t(size)) < 0) {
      const int error = errno ? errno : EIO;
      self->writeError_.store(error);
      self->ioFailed_ = true;
      return AVERROR(error);
    }
    return size;
  }

  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<MjpegRecorder*>(opaque);
    if (whence & AVSEEK_SIZE) {
      struct stat st {};
      return fstat(self->fd_, &st) == 0 ? std::int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t r = ::lseek(self->fd_, off_t(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : std::int64_t(r);
  }

  void Encode() {
    // Each worker faults in one frame buffer before the frames come, so that the frame
    // thread's first copies land in memory that is ready.
    bool warm = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      warm = allocated_ < warmTarget_;
      if (warm) ++allocated_;
    }
    if (warm) {
      cv::Mat buffer(height_, width_, CV_8UC3);
      AdviseHugePages(buffer.data, frameBytes_);
      std::memset(buffer.data, 0, frameBytes_);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(buffer));
      }
      doneCv_.notify_all();
    }
    // Encoding yields to the frame thread and the window: when the machine is short of time,
    // frames are dropped from the file rather than from the preview. Only now: the start of the
    // recording waits for the buffers above.
    (void)::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 5);
    const std::vector<int> params{cv::IMWRITE_JPEG_QUALITY, quality_};
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workCv_.wait(lock, [&] { return !raw_.empty() || closing_; });
        // Closing: the frames already taken are still encoded, so the file ends with them.
        if (raw_.empty()) return;
        job = std::move(raw_.front());
        raw_.pop_front();
      }
      std::vector<std::uint8_t> jpeg;
      bool ok = false;
      if (!failed_) {
        try {
          ok = cv::imencode(".jpg", job.frame, jpeg, params);
        } catch (const cv::Exception&) {
          ok = false;
        }
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        // The buffer is kept for a later frame (see kCopyAllocLimit).
        spare_.push_back(std::move(job.frame));
        rawBytes_ -= frameBytes_;
        encoded_[job.seq] = ok ? std::move(jpeg) : std::vector<std::uint8_t>();
      }
      doneCv_.notify_all();
    }
  }

  void Write() {
    AVPacket* pkt = av_packet_alloc();
    for (std::uint64_t seq = 0;; ++seq) {
      std::vector<std::uint8_t> jpeg;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        doneCv_.wait(lock, [&] { return encoded_.count(seq) || encodersDone_; });
        auto it = encoded_.find(seq);
        if (it == encoded_.end()) break;
        jpeg = std::move(it->second);
        encoded_.erase(it);
        if (failed_) continue;
      }
      bool ok = !jpeg.empty() && pkt;
      if (ok) {
        pkt->data = jpeg.data();
        pkt->size = int(jpeg.size());
        pkt->stream_index = 0;
        pkt->pts = pkt->dts = av_rescale_q(std::int64_t(writtenPackets_), frameTime_, fmt_->streams[0]->time_base);
        pkt->duration = av_rescale_q(1, frameTime_, fmt_->streams[0]->time_base);
        pkt->flags = AV_PKT_FLAG_KEY;
        ok = av_write_frame(fmt_, pkt) >= 0 && !ioFailed_ && !fmt_->pb->error;
        av_packet_unref(pkt);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ok) {
          ++writtenPackets_;
          ++written_;
        } else {
          failed_ = true;
        }
      }
      // The first frame at once, then about once a second: what is on the disk plays.
      const Clock::time_point now = Clock::now();
      if (ok && (writtenPackets_ == 1 || now - refreshed_ >= kRefreshInterval)) {
        refreshed_ = now;
        if (!Refresh()) {
          std::lock_guard<std::mutex> lock(mutex_);
          failed_ = true;
        }
      }
    }
    av_packet_free(&pkt);
  }

  // Writes what the muxer holds and makes the header describe the file as it stands: the sizes of
  // the RIFF list and the frame list that are growing, the frame counts and the rate so far.
  bool Refresh() {
    avio_flush(fmt_->pb);
    if (ioFailed_ || fmt_->pb->error) return false;
    const std::int64_t end = avio_tell(fmt_->pb);
    double rate = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rate = Rate();
    }
    return end > 0 && PatchCounts(std::uint64_t(end), writtenPackets_) && PatchRate(rate);
  }

  bool ReadU32(std::uint64_t at, std::uint32_t* v) const {
    return ::pread(fd_, v, 4, off_t(at)) == 4;  // little-endian host
  }
  bool WriteU32(std::uint64_t at, std::uint32_t v) const { return ::pwrite(fd_, &v, 4, off_t(at)) == 4; }

  bool PatchCounts(std::uint64_t end, std::uint64_t frames) {
    HeaderPlaces h;
    if (!FindHeader(&h) || !h.movi) return false;
    // The list still growing: the first, or the last "AVIX" list the muxer started after it.
    std::uint64_t riff = 0, movi = h.movi;
    for (;;) {
      std::uint32_t size = 0, next[3] = {};
      if (!ReadU32(riff + 4, &size)) return false;
      const std::uint64_t after = riff + 8 + std::uint64_t(size) + (size & 1);
      if (size == 0xFFFFFFFFu || after + 24 > end || ::pread(fd_, next, sizeof next, off_t(after)) != sizeof next ||
          next[0] != MKTAG('R', 'I', 'F', 'F') || next[2] != MKTAG('A', 'V', 'I', 'X'))
        break;
      riff = after;
      movi = after + 12;  // "LIST" size "movi" opens every later list
    }
    const auto count = std::uint32_t(std::min<std::uint64_t>(frames, 0xFFFFFFFFu));
    bool ok = WriteU32(riff + 4, std::uint32_t(end - riff - 8)) && WriteU32(movi + 4, std::uint32_t(end - movi - 8)) &&
              WriteU32(h.strh + 32, count);
    // The main header counts the first list's frames; the muxer fills it in when it closes that list.
    if (riff == 0) ok = ok && WriteU32(h.avih + 16, count);
    if (h.dmlh) ok = ok && WriteU32(h.dmlh, count);
    return ok;
  }

  // Where the header's fields are: the main header, the video stream header, the extended
  // header's frame total (once the file has become an extended one) and the frame list.
  struct HeaderPlaces {
    std::size_t avih = 0, strh = 0, dmlh = 0, movi = 0;
  };
  bool FindHeader(HeaderPlaces* h) {
    std::vector<std::uint8_t> head(65536);
    const ssize_t n = ::pread(fd_, head.data(), head.size(), 0);
    if (n < 64) return false;
    head.resize(std::size_t(n));
    auto u32 = [&](std::size_t at) {
      std::uint32_t v = 0;
      std::memcpy(&v, head.data() + at, 4);
      return v;
    };
    // RIFF 'AVI ' { LIST 'hdrl' { 'avih' ..., LIST 'strl' { 'strh' ... }, LIST 'odml' { 'dmlh' } }, LIST 'movi' }
    std::size_t pos = 12;
    while (pos + 12 <= head.size() && !h->movi) {
      const std::uint32_t id = u32(pos), size = u32(pos + 4);
      if (id == kListTag) {
        const std::uint32_t type = u32(pos + 8);
        if (type == MKTAG('m', 'o', 'v', 'i')) {
          h->movi = pos;
          break;
        }
        if (type == MKTAG('h', 'd', 'r', 'l') || type == MKTAG('s', 't', 'r', 'l') || type == MKTAG('o', 'd', 'm', 'l')) {
          pos += 12;  // into the list
          continue;
        }
      } else if (id == MKTAG('a', 'v', 'i', 'h')) {
        h->avih = pos + 8;
      } else if (id == MKTAG('s', 't', 'r', 'h') && !h->strh && pos + 44 <= head.size() &&
                 u32(pos + 8) == MKTAG('v', 'i', 'd', 's')) {
        h->strh = pos + 8;
      } else if (id == MKTAG('d', 'm', 'l', 'h')) {
        h->dmlh = pos + 8;
      }
      pos += 8 + std::size_t(size) + (size & 1);
    }
    return h->avih && h->strh;
  }

  // Seconds from the start of the recording to the end of the last frame (a frame lasts the
  // mean interval between frames): the time the operator recorded, as far as frames came.
  double Seconds() const {
    if (arrived_ == 0) return 0;
    const double span = std::chrono::duration<double>(last_ - first_).count();
    const double interval = arrived_ < 2 || span <= 0 ? 1.0 / nominalFps_ : span / double(arrived_ - 1);
    return std::chrono::duration<double>(last_ - started_).count() + interval;
  }

  double Rate() const {
    const double s = Seconds();
    if (written_ == 0 || s <= 0) return nominalFps_;
    return std::clamp(double(written_) / s, 0.01, 1000.0);
  }

  void Finish() {
    bool ok = opened_ && !failed_ && !ioFailed_;
    if (ok) {
      ok = av_write_trailer(fmt_) >= 0;
      avio_flush(fmt_->pb);
      ok = ok && !ioFailed_ && !fmt_->pb->error;
    }
    if (ok) ok = PatchRate(Rate());

    if (ok && ::fsync(fd_) != 0) ok = false;
    if (fd_ >= 0 && ::close(fd_) != 0) ok = false;
    fd_ = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = ok ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR;
    // A file without a single whole frame is of no use to anyone.
    if (written_ == 0 && !ok) {
      std::error_code ec;
      std::filesystem::remove(file_, ec);
      fileKept_ = false;
    }
  }

  // Puts the measured rate into the main header (microseconds per frame) and the video stream
  // header (rate / scale).
  bool PatchRate(double fps) {
    HeaderPlaces h;
    if (!FindHeader(&h)) return false;
    const auto millis = std::uint32_t(fps * 1000 + 0.5);
    return WriteU32(h.avih, std::uint32_t(1e6 / fps + 0.5)) && WriteU32(h.strh + 20, 1000) && WriteU32(h.strh + 24, millis);
  }

  const std::string file_;
  int fd_;
  const double nominalFps_;
  const int quality_;
  const int width_, height_;
  const std::size_t frameBytes_;
  AVFormatContext* fmt_ = nullptr;
  AVRational frameTime_{1, 10};
  bool opened_ = false;
  std::atomic<bool> ioFailed_{false};
  std::atomic<int> writeError_{0};
  std::uint64_t writtenPackets_ = 0;  // the writer's
  Clock::time_point refreshed_{};     // the writer's: when the header was last brought up to date

  mutable std::mutex mutex_;
  std::condition_variable workCv_, doneCv_;
  std::deque<Job> raw_;
  std::vector<cv::Mat> spare_;  // frame buffers ready for a copy, no more than the queue can hold
  std::size_t allocated_ = 0;   // buffers made ready by the workers
  std::size_t warmTarget_ = 0;  // that many before the first frame (large frames only)
  std::map<std::uint64_t, std::vector<std::uint8_t>> encoded_;  // empty: the encoding failed
  std::size_t rawBytes_ = 0;
  std::uint64_t nextSeq_ = 0, arrived_ = 0, dropped_ = 0, written_ = 0;
  const Clock::time_point started_ = Clock::now();
  Clock::time_point first_{}, last_{};
  bool closing_ = false, encodersDone_ = false;
  std::atomic<bool> failed_{false};
  int status_ = CAMSDK_STATUS_OK;
  bool fileKept_ = true;

  std::vector<std::thread> workers_;
  std::thread writer_;
  std::once_flag closeOnce_;
};

}  // namespace

void SetRecorderWrite(RecorderWriteFn write) { g_write.store(write); }

std::unique_ptr<Recorder> StartRecorder(const std::string& fileName, double fps, int jpegQuality, int width,
                                        int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetLastFileError(errno);
    return nullptr;
  }
  auto rec = std::make_unique<MjpegRecorder>(fileName, fd, fps > 0 ? fps : 10.0, jpegQuality, width, height);
  if (!rec->Open()) {
    // The header did not fit (a full disk): said as such when nothing better is known.
    SetLastFileError(rec->WriteError() ? rec->WriteError() : EIO);
    rec->Close();
    std::error_code ec;
    std::filesystem::remove(fileName, ec);
    return nullptr;
  }
  return rec;
}

}  // namespace camsdk
