// Video files as a player sees them: every frame of a recording made while frames flow at full
// speed decodes to the picture that was handed over, the header's rate and frame count give the
// time the recording ran, and a disk that fills up ends the recording with a file error.
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk/support.h"

namespace camtest {
namespace {

using namespace std::chrono_literals;

// What the AVI's headers say.
struct AviHeader {
  std::uint32_t microsPerFrame = 0, totalFrames = 0;
  std::uint32_t scale = 0, rate = 0, length = 0;
  std::uint32_t width = 0, height = 0;
  double Seconds() const { return rate ? double(length) * scale / rate : 0; }
};

bool ReadAviHeader(const std::string& file, AviHeader* out) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> head(16384);
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    if (at + 4 <= head.size()) std::memcpy(&v, head.data() + at, 4);
    return v;
  };
  auto is = [&](std::size_t at, const char* tag) { return at + 4 <= head.size() && !std::memcmp(&head[at], tag, 4); };
  if (!is(0, "RIFF") || !is(8, "AVI ")) return false;
  bool avih = false, strh = false;
  for (std::size_t pos = 12; pos + 8 <= head.size() && !(avih && strh);) {
    if (is(pos, "LIST") && (is(pos + 8, "hdrl") || is(pos + 8, "strl"))) {
      pos += 12;
      continue;
    }
    if (is(pos, "avih")) {
      out->microsPerFrame = u32(pos + 8);
      out->totalFrames = u32(pos + 8 + 16);
      out->width = u32(pos + 8 + 32);
      out->height = u32(pos + 8 + 36);
      avih = true;
    } else if (is(pos, "strh") && is(pos + 8, "vids")) {
      out->scale = u32(pos + 8 + 20);
      out->rate = u32(pos + 8 + 24);
      out->length = u32(pos + 8 + 32);
      strh = true;
    }
    const std::uint32_t size = u32(pos + 4);
    pos += 8 + size + (size & 1);
  }
  return avih && strh;
}

// The frames handed to the recorder, top-down, as the frame thread recorded them.
struct Recorded {
  std::mutex mu;
  std::vector<cv::Mat> frames;
  std::atomic<bool> on{false};
  std::atomic<int> lastStatus{CAMSDK_STATUS_OK};
};
Recorded& Rec() {
  static Recorded r;
  return r;
}

int RecordEvery(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  unsigned char* bgr = CameraISP(handle, raw, info);
  if (!bgr || !Rec().on) return 1;
  const int status = CameraRecordFrame(handle, bgr, info);
  Rec().lastStatus = status;
  if (status == CAMSDK_STATUS_OK) {
    cv::Mat top;
    cv::flip(cv::Mat(info->height, info->width, CV_8UC3, bgr), top, 0);
    std::lock_guard<std::mutex> lock(Rec().mu);
    Rec().frames.push_back(std::move(top));
  }
  return 1;
}

std::string RecordName(int h) {
  char name[1024] = {};
  EXPECT_EQ(CamSdkGetRecordFileName(h, name, sizeof name), CAMSDK_STATUS_OK);
  return name;
}

class Recording : public CamTest {
 protected:
  void SetUp() override {
    CamTest::SetUp();
    Rec().on = false;
    Rec().frames.clear();
    Rec().lastStatus = CAMSDK_STATUS_OK;
  }
};

TEST_F(Recording, FramesAtFullSpeedDecodeCleanlyAndPlayForAsLongAsTheyWereRecorded) {
  CamSdkTestSetSynchronous(false);  // the camera's own frame thread, as fast as it goes
  // 641 x 480: the width ends in a partial 16-pixel block, where broken frames showed.
  const int h = Open("color", 2, RecordEvery);
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  const auto start = std::chrono::steady_clock::now();
  Rec().on = true;
  // At least 1.5 s and 20 frames (sanitized builds are slow), at most 20 s.
  auto count = [] {
    std::lock_guard<std::mutex> lock(Rec().mu);
    return Rec().frames.size();
  };
  while ((std::chrono::steady_clock::now() < start + 1500ms || count() < 20) &&
         std::chrono::steady_clock::now() < start + 20s)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(CameraPause(h), CAMSDK_STATUS_OK);  // no frame after this
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Rec().on = false;
  ASSERT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_OK);
  const std::string name = RecordName(h);
  const std::vector<cv::Mat>& sent = Rec().frames;
  ASSERT_GE(sent.size(), 20u);

  AviHeader avi;
  ASSERT_TRUE(ReadAviHeader(name, &avi));
  EXPECT_EQ(avi.width, 641u);
  EXPECT_EQ(avi.height, 480u);
  // Nothing is dropped at this size; the header plays the frames for as long as they took.
  EXPECT_EQ(avi.totalFrames, sent.size());
  EXPECT_EQ(avi.length, sent.size());
  EXPECT_NEAR(avi.Seconds(), wall, 0.1 * wall) << avi.rate << "/" << avi.scale;
  EXPECT_NEAR(avi.microsPerFrame, 1e6 * avi.scale / avi.rate, 1.0);

  // Each frame, read by OpenCV's reader, is the one handed over, up to its last block.
  cv::VideoCapture video(name);
  ASSERT_TRUE(video.isOpened());
  EXPECT_NEAR(video.get(cv::CAP_PROP_FPS), double(avi.rate) / avi.scale, 0.01);
  std::size_t n = 0;
  for (cv::Mat m; video.read(m); ++n) {
    ASSERT_LT(n, sent.size());
    ASSERT_EQ(m.size(), sent[n].size());
    const cv::Rect lastColumn(m.cols - 16, 0, 16, m.rows), lastRow(0, m.rows - 16, m.cols, 16);
    for (const cv::Rect& r : {cv::Rect(0, 0, m.cols, m.rows), lastColumn, lastRow})
      EXPECT_LT(cv::norm(m(r), sent[n](r), cv::NORM_L1) / double(r.area() * 3), 6.0) << "frame " << n;
  }
  EXPECT_EQ(n, sent.size());
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

TEST_F(Recording, FullDiskEndsTheRecordingWithAFileError) {
  const int h = Open("color", 2, RecordEvery);
  // A disk with no room left: the start cannot write the file's header, and leaves no file.
  CamSdkTestFailRecordWritesAfter(0);
  EXPECT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_FILE_ERROR);
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) EXPECT_NE(entry.path().extension(), ".avi");

  // Room for a few frames: the recorder reports the failure on a later frame.
  CamSdkTestFailRecordWritesAfter(150000);
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  const std::string name = RecordName(h);
  Rec().on = true;
  for (int i = 0; i < 2000 && Rec().lastStatus == CAMSDK_STATUS_OK; ++i) {
    CamSdkTestDeliverFrames(h, 1);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Rec().lastStatus, CAMSDK_STATUS_FILE_ERROR);
  // The failure is reported again when the recording is stopped, with what made it.
  struct Result {
    std::mutex mu;
    bool done = false;
    int status = 0, kept = 0;
    unsigned long long written = 0;
    std::string file;
  } result;
  auto done = [](void* context, const CamSdkRecordSummary* s) {
    auto* r = static_cast<Result*>(context);
    std::lock_guard<std::mutex> lock(r->mu);
    r->done = true;
    r->status = s->status;
    r->kept = s->fileKept;
    r->written = s->framesWritten;
    r->file = s->fileName;
  };
  ASSERT_EQ(CamSdkStopRecordVideoAsync(h, done, &result), CAMSDK_STATUS_OK);
  EXPECT_EQ(CamSdkStopRecordVideoAsync(h, done, &result), CAMSDK_STATUS_NOT_RECORDING);
  CamSdkWaitRecordVideo();
  ASSERT_TRUE(result.done);
  EXPECT_EQ(result.status, CAMSDK_STATUS_FILE_ERROR);
  EXPECT_EQ(result.file, name);
  EXPECT_GE(result.written, 1u);  // 150 kB hold a few frames of this size
  EXPECT_EQ(result.kept, 1);
  EXPECT_TRUE(std::filesystem::exists(name));
  EXPECT_LE(std::filesystem::file_size(name), 150000u + 16384u);

  // With room again the next recording is whole.
  CamSdkTestFailRecordWritesAfter(-1);
  Rec().lastStatus = CAMSDK_STATUS_OK;
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 3);
  EXPECT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_OK);
  AviHeader avi;
  ASSERT_TRUE(ReadAviHeader(RecordName(h), &avi));
  EXPECT_EQ(avi.totalFrames, 3u);
}

}  // namespace
}  // namespace camtest
