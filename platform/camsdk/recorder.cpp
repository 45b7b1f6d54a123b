// Video recording: frames are copied into a short queue by the frame thread and encoded as
// Motion-JPEG AVI (OpenCV's own writer, no external codecs) on the recorder's thread. A full
// queue makes the frame thread wait rather than drop frames. The file is created when the
// recording starts, so a name that cannot be created fails the start, not the stop.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "platform/camsdk/core.h"

namespace camsdk {
namespace {

class MjpegRecorder final : public Recorder {
 public:
  MjpegRecorder(std::string fileName, cv::VideoWriter writer, int width, int height)
      : file_(std::move(fileName)), writer_(std::move(writer)), width_(width), height_(height) {
    thread_ = std::thread([this] { Run(); });
  }
  ~MjpegRecorder() override { Close(); }

  int Push(const unsigned char* bgrBottomUp, int width, int height) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closing_) return CAMSDK_STATUS_NOT_RECORDING;
    if (failed_) return CAMSDK_STATUS_FILE_ERROR;
    if (width != width_ || height != height_) return CAMSDK_STATUS_INVALID_PARAMETER;
    spaceCv_.wait(lock, [&] { return queue_.size() < kQueueLimit || closing_ || failed_; });
    if (closing_) return CAMSDK_STATUS_NOT_RECORDING;
    if (failed_) return CAMSDK_STATUS_FILE_ERROR;
    // The writer wants top-down rows.
    cv::Mat frame;
    cv::flip(cv::Mat(height, width, CV_8UC3, const_cast<unsigned char*>(bgrBottomUp)), frame, 0);
    queue_.push_back(std::move(frame));
    workCv_.notify_one();
    return CAMSDK_STATUS_OK;
  }

  int Close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    workCv_.notify_all();
    spaceCv_.notify_all();
    if (thread_.joinable()) thread_.join();
    return failed_ ? CAMSDK_STATUS_FILE_ERROR : CAMSDK_STATUS_OK;
  }

  const std::string& FileName() const override { return file_; }

 private:
  static constexpr std::size_t kQueueLimit = 4;

  void Run() {
    cv::VideoWriter& writer = writer_;
    for (;;) {
      cv::Mat frame;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workCv_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty()) break;  // closing and drained
        frame = std::move(queue_.front());
        queue_.pop_front();
      }
      spaceCv_.notify_all();
      bool ok = true;
      try {
        writer.write(frame);
      } catch (const cv::Exception&) {
        ok = false;
      }
      if (!ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        queue_.clear();
        spaceCv_.notify_all();
      }
    }
    try {
      writer.release();
    } catch (const cv::Exception&) {
      std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
    }
  }

  const std::string file_;
  cv::VideoWriter writer_;  // used by the recorder's thread only, once started
  std::mutex mutex_;
  std::condition_variable workCv_, spaceCv_;
  std::deque<cv::Mat> queue_;
  bool closing_ = false;
  bool failed_ = false;
  const int width_, height_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Recorder> StartRecorder(const std::string& fileName, double fps, int jpegQuality, int width,
                                        int height) {
  if (width <= 0 || height <= 0) return nullptr;
  cv::VideoWriter writer;
  try {
    if (!writer.open(fileName, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps > 0 ? fps : 10.0,
                     cv::Size(width, height)))
      return nullptr;
    writer.set(cv::VIDEOWRITER_PROP_QUALITY, jpegQuality);
  } catch (const cv::Exception&) {
    return nullptr;
  }
  return std::make_unique<MjpegRecorder>(fileName, std::move(writer), width, height);
}

}  // namespace camsdk
