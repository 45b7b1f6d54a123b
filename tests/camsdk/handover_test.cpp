// One reader of a device at a time: a counting device behind the library core is captured at
// another size than the stream's, searched for dead pixels and closed while live, from several
// threads at once. It counts overlapping reads and reads that meet a reconfiguration, and its
// sensor memory is reallocated on each size change, so ThreadSanitizer sees any access that
// slips past the hand-over. Also: damaged frames are counted apart and never delivered, and
// closing does not wait for a camera that no longer answers.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/camsdk/device.h"

namespace {

using namespace std::chrono_literals;

const CamSdkResolution kSizes[2] = {{0, "96x64", 96, 64, 0, 1}, {1, "48x32", 48, 32, 0, 2}};
const CamSdkMediaType kMedia[1] = {{0, "RAW8", CAMSDK_RAW_MONO8}};

camsdk::ModelInfo CountingModel() {
  camsdk::ModelInfo m{};
  m.key = "counting";
  m.productName = "Counting";
  m.deviceName = "Counting 0001";
  m.serial = "0001";
  m.modelId = 900;
  m.color = false;
  m.pattern = CAMSDK_PATTERN_MONO;
  m.sensorWidth = 96;
  m.sensorHeight = 64;
  m.resolutions = kSizes;
  m.resolutionCount = 2;
  m.mediaTypes = kMedia;
  m.mediaTypeCount = 1;
  m.frameSpeedCount = 1;
  m.lineTime[0] = m.lineTime[1] = m.lineTime[2] = 10;
  m.maxExposureLines = 100000;
  m.roiAlignX = m.roiAlignY = m.roiAlignW = m.roiAlignH = 2;
  m.roiMinW = m.roiMinH = 16;
  return m;
}

// What every device of the test saw.
struct Counts {
  std::atomic<int> inside{0}, overlaps{0}, duringApply{0}, reads{0}, applies{0}, readsAfterClose{0};
  std::atomic<bool> applying{false}, closed{false};
  // Answers: a frame, every n-th read damaged, or silence until cancelled (a camera gone quiet).
  std::atomic<int> damagedEvery{0};
  std::atomic<bool> silent{false};
  std::atomic<bool> stuck{false};  // a read that does not even answer the cancel
};

class CountingDevice final : public camsdk::Device {
 public:
  CountingDevice(const camsdk::ModelInfo& m, Counts& counts) : model_(m), n_(counts) {}
  ~CountingDevice() override { n_.closed = true; }
  const camsdk::ModelInfo& Model() const override { return model_; }
  bool PacesItself() const override { return true; }
  bool Read(const camsdk::Exposure& e, std::vector<std::uint8_t>& raw) override {
    return ReadFrame(e, raw) == camsdk::ReadResult::Frame;
  }
  camsdk::ReadResult ReadFrame(const camsdk::Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (n_.inside.fetch_add(1) != 0) ++n_.overlaps;
    if (n_.applying) ++n_.duringApply;
    if (n_.closed) ++n_.readsAfterClose;
    camsdk::ReadResult result = camsdk::ReadResult::Frame;
    while (n_.stuck) std::this_thread::sleep_for(1ms);
    if (n_.silent) {
      while (n_.silent && !(e.cancel && e.cancel->load())) std::this_thread::sleep_for(1ms);
      result = camsdk::ReadResult::NoFrame;
    } else {
      if (e.mode.width != width_ || e.mode.height != height_) {
        // A reconfiguration: the sensor memory goes and comes back at the new size.
        n_.applying = true;
        ++n_.applies;
        sensor_.clear();
        sensor_.shrink_to_fit();
        std::this_thread::sleep_for(300us);
        width_ = e.mode.width;
        height_ = e.mode.height;
        sensor_.assign(std::size_t(width_) * height_, std::uint8_t(width_));
        n_.applying = false;
      }
      std::this_thread::sleep_for(200us);  // the exposure
      const int k = ++n_.reads;
      raw.assign(sensor_.begin(), sensor_.end());
      if (n_.damagedEvery > 0 && k % n_.damagedEvery == 0) result = camsdk::ReadResult::Incomplete;
    }
    --n_.inside;
    return result;
  }

 private:
  const camsdk::ModelInfo& model_;
  Counts& n_;
  int width_ = 0, height_ = 0;
  std::vector<std::uint8_t> sensor_;
};

class CountingBackend final : public camsdk::Backend {
 public:
  std::vector<const camsdk::ModelInfo*> List() override { return {&model}; }
  std::unique_ptr<camsdk::Device> Open(const camsdk::ModelInfo& m) override {
    return std::make_unique<CountingDevice>(m, counts);
  }
  bool Present(const camsdk::ModelInfo&) override { return true; }
  camsdk::ModelInfo model = CountingModel();
  Counts counts;
};

std::atomic<int> gFrames{0}, gWrongSize{0}, gBadFrames{0};

int CountFrame(int, unsigned char* raw, CamSdkFrameInfo* info) {
  ++gFrames;
  if (info->width != 96 || info->height != 64) ++gWrongSize;
  if (raw[0] != 96) ++gBadFrames;  // the device fills the preview's frames with their width
  return 1;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
  return done();
}

class Handover : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("q7v-handover-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    CamSdkSetConfigDir(dir_.c_str());
    CamSdkTestReset();
    CamSdkTestSetModels("");
    camsdk::SetBackendOverride(&backend_);
    gFrames = gWrongSize = gBadFrames = 0;
  }
  void TearDown() override {
    CamSdkTestReset();
    camsdk::SetBackendOverride(nullptr);
    CamSdkSetConfigDir(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  int OpenLive() {
    std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
    int count = 0, h = 0;
    EXPECT_EQ(CameraGetDevList(list.data(), &count, CAMSDK_MAX_DEVICES), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraInit(CountFrame, "Counting 0001", nullptr, &h), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetImageSizeSel(h, 0, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraSetImageSizeSel(h, 1, CAMSDK_SIZE_CAPTURE), CAMSDK_STATUS_OK);
    EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
    EXPECT_TRUE(WaitFor([] { return gFrames >= 3; }));
    return h;
  }
  Counts& counts() { return backend_.counts; }

  CountingBackend backend_;
  std::filesystem::path dir_;
};

TEST_F(Handover, CapturesAtAnotherSizeWhileLiveNeverShareTheDevice) {
  const int h = OpenLive();
  // Two threads capture 100 times each at the capture size while frames flow; a third searches
  // for dead pixels (full size) now and then.
  std::atomic<int> failed{0}, wrongFiles{0};
  auto capture = [&](int id) {
    for (int i = 0; i < 100; ++i) {
      const std::string name = (dir_ / ("shot" + std::to_string(id))).string();
      if (CameraCaptureFile(h, name.c_str(), CAMSDK_FILE_RAW, 90) != CAMSDK_STATUS_OK) ++failed;
      else if (std::filesystem::file_size(name + ".raw") != 48u * 32u) ++wrongFiles;
    }
  };
  const int framesBefore = gFrames;
  std::thread a(capture, 1), b(capture, 2);
  std::thread c([&] {
    for (int i = 0; i < 5; ++i)
      if (CameraCreateDefectCorrectionInfo(h) != CAMSDK_STATUS_OK) ++failed;
  });
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrongFiles, 0);
  EXPECT_EQ(counts().overlaps, 0);
  EXPECT_EQ(counts().duringApply, 0);
  EXPECT_GE(counts().applies, 20);  // captures changed the size, the stream changed it back
  // The stream went on between the captures, at its own size only.
  EXPECT_GT(gFrames - framesBefore, 20);
  EXPECT_EQ(gWrongSize, 0);
  EXPECT_EQ(gBadFrames, 0);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

TEST_F(Handover, ClosingWhileOthersCaptureEndsEveryRead) {
  for (int round = 0; round < 5; ++round) {
    counts().closed = false;
    const int h = OpenLive();
    std::atomic<bool> go{true};
    std::vector<std::thread> capturers;
    for (int t = 0; t < 2; ++t)
      capturers.emplace_back([&, t] {
        const std::string name = (dir_ / ("close" + std::to_string(t))).string();
        while (go) {
          const int r = CameraCaptureFile(h, name.c_str(), CAMSDK_FILE_RAW, 90);
          if (r == CAMSDK_STATUS_INVALID_HANDLE) break;
          EXPECT_EQ(r, CAMSDK_STATUS_OK);
        }
      });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    ASSERT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
    const int frames = gFrames;
    go = false;
    for (std::thread& t : capturers) t.join();
    EXPECT_EQ(gFrames, frames);  // nothing delivered after the close
    EXPECT_EQ(counts().readsAfterClose, 0);
    EXPECT_EQ(counts().overlaps, 0);
  }
}

TEST_F(Handover, DamagedFramesAreCountedApartAndNeverDelivered) {
  counts().damagedEvery = 3;
  const int h = OpenLive();
  ASSERT_TRUE(WaitFor([] { return gFrames >= 30; }));
  ASSERT_EQ(CameraPause(h), CAMSDK_STATUS_OK);
  unsigned long long damaged = 0;
  ASSERT_EQ(CamSdkGetIncompleteFrames(h, &damaged), CAMSDK_STATUS_OK);
  const int reads = counts().reads;
  // Every read was either delivered or counted damaged (the last ones may still be in flight).
  EXPECT_NEAR(double(gFrames + damaged), double(reads), 2.0);
  EXPECT_NEAR(double(damaged), reads / 3.0, 2.0);
  EXPECT_EQ(gBadFrames, 0);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

TEST_F(Handover, ClosingACameraThatHangsDoesNotWaitForIt) {
  const int h = OpenLive();
  counts().silent = true;  // the camera stops answering; the core's read waits on it
  std::this_thread::sleep_for(20ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CameraPause(h), CAMSDK_STATUS_OK);  // no frame is being delivered: returns at once
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);  // the read answers the cancel
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(counts().overlaps, 0);

  // One whose read does not come back at all is closed on another thread; the call returns.
  counts().silent = false;
  const int h2 = OpenLive();
  counts().stuck = true;
  std::this_thread::sleep_for(20ms);
  const int frames = gFrames;
  const auto again = std::chrono::steady_clock::now();
  EXPECT_EQ(CameraUnInit(h2), CAMSDK_STATUS_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - again, 1s);
  EXPECT_EQ(CameraPlay(h2), CAMSDK_STATUS_INVALID_HANDLE);
  counts().stuck = false;  // the read ends; its frame is not delivered and the device goes
  EXPECT_TRUE(WaitFor([&] { return counts().closed.load(); }));
  EXPECT_EQ(gFrames, frames);
}

}  // namespace
