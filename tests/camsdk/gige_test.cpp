// The GenICam backend against Aravis' GigE Vision camera simulator, a separate program on the
// loopback interface: listing leaves the camera as another program left it; each Bayer order
// gives the colours of the simulator's own RGB8 output; lost packets never make a frame; and,
// through the real main window, a killed camera is told within two seconds without the window
// ever waiting on it, its recording stays playable, and it plays again when it comes back.
// Labelled "threads": CI runs it under ThreadSanitizer too.
#include <arv.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <clocale>
#include <cmath>
#include <mutex>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "imaging/CamSetupDlg.h"
#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tests/camsdk/gige_sim.h"
#include "tests/camsdk/support.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;


// Runs the event loop until `done` or `ms` passed.
bool Pump(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

// The longest the window's thread waited (asleep, not running and not waiting for a processor)
// between two turns of its event loop, and the longest turn: the first is what a camera that
// does not answer would cost; the second also counts a busy machine.
class LoopWatch {
 public:
  LoopWatch() {
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    clock_.start();
    timer_.start();
  }
  void Reset() {
    worstBlocked_ = worstTurn_ = 0;
    last_ = -1;
  }
  double BlockedMs() const { return double(worstBlocked_) / 1e6; }
  double TurnMs() const { return double(worstTurn_) / 1e6; }

 private:
  // Nanoseconds this thread ran and waited for a processor.
  static long long Scheduled() {
    std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    long long run = 0, wait = 0;
    if (f) {
      if (std::fscanf(f, "%lld %lld", &run, &wait) != 2) run = wait = 0;
      std::fclose(f);
    }
    return run + wait;
  }
  void Tick() {
    const qint64 now = clock_.nsecsElapsed();
    const long long scheduled = Scheduled();
    if (last_ >= 0) {
      worstTurn_ = std::max(worstTurn_, now - last_);
      worstBlocked_ = std::max(worstBlocked_, (now - last_) - (scheduled - lastScheduled_));
    }
    last_ = now;
    lastScheduled_ = scheduled;
  }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = -1, worstBlocked_ = 0, worstTurn_ = 0;
  long long lastScheduled_ = 0;
};

class GigeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gigesim::Simulator::Installed())
        << gigesim::kTool << " is not installed: scripts/deps.sh installs it (package aravis-tools)";
    ASSERT_TRUE(dir_.isValid());
    CamSdkSetConfigDir(dir_.path().toUtf8().constData());
    CamSdkTestReset();
    CamSdkTestSetModels("");
    camsdk::ArvSetFakeInterface(false);
  }
  void TearDown() override {
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
  }

  // The simulator's camera as the library lists it, once discovery has found it.
  static std::string Listed(const std::string& serial) {
    const std::string want = "Aravis Fake " + serial;
    for (int i = 0; i < 10; ++i) {
      camsdk::ArvWaitDiscovery();
      std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
      int n = 0;
      EXPECT_EQ(CameraGetDevList(list.data(), &n, CAMSDK_MAX_DEVICES), CAMSDK_STATUS_OK);
      camsdk::ArvWaitDiscovery(false);  // the pass the listing started: no discovery runs on
      for (int k = 0; k < n; ++k)        // while the test sets a simulator up
        if (want == list[std::size_t(k)].deviceName) return want;
    }
    return {};
  }

  // Opens a listed camera at the 512 x 512 preset, 10 ms exposure (the simulator's ramp is
  // then unscaled), colour gains 1.
  static int OpenAt512(const std::string& name) {
    int h = 0;
    EXPECT_EQ(CameraInit(camtest::StoreFrame, name.c_str(), nullptr, &h), CAMSDK_STATUS_OK);
    CamSdkCapability cap{};
    EXPECT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
    for (int i = 0; i < cap.resolutionCount; ++i)
      if (cap.resolutions[i].width == 512) {
        EXPECT_EQ(CameraSetImageSizeSel(h, i, CAMSDK_SIZE_PREVIEW), 1);
      }
    EXPECT_EQ(CameraSetExposureTime(h, 100000), 1);
    if (cap.colorSensor) {
      EXPECT_EQ(CameraSetGain(h, 1.0f, 1.0f, 1.0f), 1);
    }
    return h;
  }

  // The next delivered frame of that raw format, as displayed (top-down BGR), with its raw data.
  static bool NextFrame(int format, cv::Mat* shown, std::vector<unsigned char>* raw = nullptr) {
    camtest::Delivered& d = camtest::Last();
    const auto end = Clock::now() + 20s;
    const int start = d.count;
    while (Clock::now() < end) {
      std::this_thread::sleep_for(5ms);
      std::lock_guard<std::mutex> lock(d.mu);
      if (d.count <= start + 1 || d.info.format != format) continue;  // one more: settings in force
      *shown = d.shown.clone();
      if (raw) *raw = d.raw;
      return true;
    }
    return false;
  }

  gigesim::Simulator sim_;
  QTemporaryDir dir_;
};

// A connection of the test's own, as another program's; its calls run in Aravis' scope.
struct Other {
  explicit Other(const char* address = "127.0.0.1") : cam(static_cast<ArvCamera*>(camsdk::ArvTestConnect(address))) {}
  ~Other() {
    camsdk::ArvScope scope;
    if (cam) g_object_unref(cam);
  }
  template <typename F>
  auto operator()(F&& f) {
    camsdk::ArvScope scope;
    return f(cam);
  }
  ArvCamera* cam;
};

TEST_F(GigeTest, ListingLeavesTheCameraAsAnotherProgramLeftIt) {
  ASSERT_TRUE(sim_.Start("LIST1"));
  {
    Other other;
    ASSERT_NE(other.cam, nullptr);
    other([](ArvCamera* c) {
      arv_camera_set_binning(c, 2, 2, nullptr);
      arv_camera_set_region(c, 8, 4, 320, 240, nullptr);
      arv_camera_set_pixel_format(c, ARV_PIXEL_FORMAT_MONO_8, nullptr);
    });
  }
  const std::string name = Listed("LIST1");
  ASSERT_FALSE(name.empty());
  // Described in full although left binned, cropped and grey: colour, its whole sensor.
  int h = 0;
  ASSERT_EQ(CameraInit(camtest::StoreFrame, name.c_str(), nullptr, &h), CAMSDK_STATUS_OK);
  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
  EXPECT_EQ(cap.colorSensor, 1);
  EXPECT_EQ(cap.sensorWidth, 2048);
  EXPECT_EQ(cap.sensorHeight, 2048);
  ASSERT_GE(cap.resolutionCount, 3);
  EXPECT_EQ(cap.resolutions[0].width, 2048);
  EXPECT_EQ(cap.resolutions[2].width, 512);
  ASSERT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);  // opened, never played: nothing sent either
  Other after;
  ASSERT_NE(after.cam, nullptr);
  int bx = 0, by = 0, x = -1, y = -1, w = 0, hh = 0;
  ArvPixelFormat format = 0;
  guint payload = 0;
  after([&](ArvCamera* c) {
    arv_camera_get_binning(c, &bx, &by, nullptr);
    arv_camera_get_region(c, &x, &y, &w, &hh, nullptr);
    format = arv_camera_get_pixel_format(c, nullptr);
    payload = arv_camera_get_payload(c, nullptr);
  });
  EXPECT_EQ(bx, 2);
  EXPECT_EQ(by, 2);
  EXPECT_EQ(cv::Rect(x, y, w, hh), cv::Rect(8, 4, 320, 240));
  EXPECT_EQ(format, ARV_PIXEL_FORMAT_MONO_8);
  EXPECT_EQ(payload, 320u * 240u);
}

// Mean difference per channel between `image` and the simulator's ramp as the RGB8 output
// `reference` shows it, at the ramp's best shift (it moves a step per frame); the pixels next
// to the ramp's wrap and the image's border are left out. `swap`: red and blue exchanged.
double RampError(const cv::Mat& image, const cv::Mat& reference, bool swap) {
  // The ramp's colour k steps from the reference's top-left pixel.
  std::vector<cv::Vec3i> ramp(255);
  int wrap = 0;  // the step where the ramp starts again
  for (int k = 0; k < 255; ++k) {
    const cv::Vec3b c = reference.at<cv::Vec3b>(0, k);
    ramp[std::size_t(k)] = swap ? cv::Vec3i(c[2], c[1], c[0]) : cv::Vec3i(c[0], c[1], c[2]);
  }
  double jump = -1;
  for (int k = 1; k < 255; ++k) {
    const double d = cv::norm(ramp[std::size_t(k)] - ramp[std::size_t(k - 1)]);
    if (d > jump) jump = d, wrap = k;
  }
  double best = 1e9;
  for (int s = 0; s < 255; ++s) {
    double sum = 0;
    int n = 0;
    for (int y = 4; y < image.rows - 4; y += 5)
      for (int x = 4; x < image.cols - 4; x += 3) {
        const int k = (x + y + s) % 255;
        const int off = std::abs(k - wrap);
        if (std::min(off, 255 - off) <= 3) continue;
        const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
        const cv::Vec3i& r = ramp[std::size_t(k)];
        sum += std::abs(p[0] - r[0]) + std::abs(p[1] - r[1]) + std::abs(p[2] - r[2]);
        n += 3;
      }
    best = std::min(best, sum / std::max(1, n));
  }
  return best;
}

TEST_F(GigeTest, EveryBayerOrderGivesTheColoursOfTheSimulatorsRgbOutput) {
  struct Order {
    const char* serial;
    ArvPixelFormat format;
    bool swapped;  // the simulator exchanges red and blue in these two
  };
  for (const Order& o : {Order{"GR", ARV_PIXEL_FORMAT_BAYER_GR_8, false}, Order{"GB", ARV_PIXEL_FORMAT_BAYER_GB_8, false},
                         Order{"RG", ARV_PIXEL_FORMAT_BAYER_RG_8, true}, Order{"BG", ARV_PIXEL_FORMAT_BAYER_BG_8, true}}) {
    SCOPED_TRACE(o.serial);
    ASSERT_TRUE(sim_.Start(o.serial));
    {
      Other other;  // another program leaves the camera in this Bayer order
      ASSERT_NE(other.cam, nullptr);
      other([&](ArvCamera* c) { arv_camera_set_pixel_format(c, o.format, nullptr); });
    }
    const std::string name = Listed(o.serial);
    ASSERT_FALSE(name.empty());
    const int h = OpenAt512(name);
    CamSdkCapability cap{};
    ASSERT_EQ(CameraGetCapability(h, &cap), CAMSDK_STATUS_OK);
    ASSERT_EQ(cap.mediaTypeCount, 2);  // its Bayer order, and RGB8 as processed colour
    ASSERT_EQ(cap.mediaTypes[1].format, CAMSDK_RAW_BGR8);
    ASSERT_EQ(CameraSetMediaTypeSel(h, 1), 1);
    ASSERT_EQ(CameraPlay(h), 1);
    cv::Mat reference, bayer;
    ASSERT_TRUE(NextFrame(CAMSDK_RAW_BGR8, &reference));
    ASSERT_EQ(CameraSetMediaTypeSel(h, 0), 1);
    ASSERT_TRUE(NextFrame(cap.mediaTypes[0].format, &bayer));
    ASSERT_EQ(bayer.size(), cv::Size(512, 512));
    const double right = RampError(bayer, reference, o.swapped);
    const double wrong = RampError(bayer, reference, !o.swapped);
    EXPECT_LT(right, 12.0);
    EXPECT_GT(wrong, 3 * right);
    EXPECT_EQ(CameraUnInit(h), 1);
  }
}

// The simulator's ramp depends on x + y only: a frame pieced together from two frames, or with
// a hole where packets went missing, breaks that. Raw samples two columns right and two rows up
// (the same Bayer site) are equal in a whole frame.
int BrokenDiagonals(const std::vector<unsigned char>& raw, int w, int h) {
  int broken = 0;
  for (int r = 0; r + 2 < h; ++r)  // raw rows run bottom-up: camera row h-1-r
    for (int x = 0; x + 2 < w; ++x)
      broken += raw[std::size_t(r) * w + x] != raw[std::size_t(r + 2) * w + x + 2];
  return broken;
}

TEST_F(GigeTest, LostPacketsNeverMakeAFrame) {
  ASSERT_TRUE(sim_.Start("LOSS", 3));  // 0.3 % of the packets: about half the frames damaged
  const std::string name = Listed("LOSS");
  ASSERT_FALSE(name.empty());
  const int h = OpenAt512(name);
  int format = 0;
  ASSERT_EQ(CameraGetMediaType(h, &format), 1);
  ASSERT_EQ(CameraPlay(h), 1);
  int frames = 0, broken = 0;
  unsigned long long damaged = 0;
  const auto end = Clock::now() + 60s;
  while ((frames < 12 || damaged < 6) && Clock::now() < end) {
    cv::Mat shown;
    std::vector<unsigned char> raw;
    if (!NextFrame(format, &shown, &raw)) break;
    ++frames;
    // A whole frame, not a blank stand-in for a missing one.
    const auto [lo, hi] = std::minmax_element(raw.begin(), raw.end());
    broken += BrokenDiagonals(raw, 512, 512) > 0 || *hi - *lo < 100;
    ASSERT_EQ(CamSdkGetIncompleteFrames(h, &damaged), CAMSDK_STATUS_OK);
  }
  EXPECT_GE(frames, 12);
  EXPECT_GE(damaged, 6u);
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(CameraUnInit(h), 1);
}

// ---- Through the real main window

class GigeWindowTest : public GigeTest {
 protected:
  void SetUp() override {
    GigeTest::SetUp();
    if (IsSkipped()) return;
    oldCwd_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    SetRegistryFile(std::filesystem::path(dir_.filePath("registry.dat").toStdString()));
    SetUiLanguage(UiLanguage::English);
  }
  void TearDown() override {
    frame_.reset();
    if (!oldCwd_.isEmpty()) QDir::setCurrent(oldCwd_);
    GigeTest::TearDown();
  }
  void MakeFrame() {
    frame_ = std::make_unique<CMainFrame>();
    frame_->askYesNo = [](const QString&, const QString&) { return false; };
    frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->resize(1200, 800);
    frame_->show();
  }
  CCameraProcess& camera() { return frame_->CameraObject(); }
  // The window never waited on the camera for more than 100 ms; a turn of its loop took at most
  // a second even on a busy machine. Under the sanitizers every lock is held several times
  // longer: the bounds grow with them (a camera that does not answer costs seconds).
  static void Expect(const LoopWatch& watch, const char* when) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr double kSlower = 5;
#else
    constexpr double kSlower = 1;
#endif
    EXPECT_LT(watch.BlockedMs(), 100.0 * kSlower) << when;
    EXPECT_LT(watch.TurnMs(), 1000.0 * kSlower) << when;
  }
  // The operator chooses the simulator's camera in the panel's list once discovery shows it.
  void Choose(const std::string& serial) {
    CCamSetupDlg* panel = frame_->CameraPanel();
    ASSERT_NE(panel, nullptr);
    auto* combo = qobject_cast<QComboBox*>(panel->Ctrl(1045));
    ASSERT_NE(combo, nullptr);
    const QString name = QString::fromStdString("Aravis Fake " + serial);
    ASSERT_TRUE(Pump([&] { return combo->findText(name) >= 0; }, 15000));
    const int i = combo->findText(name);
    combo->setCurrentIndex(i);
    emit combo->activated(i);
  }
  bool Playing() {
    stCameraItem item;
    return camera().GetCurCameraItem(&item) >= 0 && item.state == CAMERA_PLAYING;
  }
  // Frames shown by the window: its sequence advances.
  bool FramesFlow(int n, int ms) {
    const std::uint64_t start = camera().FrameSequence();
    return Pump([&] { return camera().FrameSequence() >= start + std::uint64_t(n); }, ms);
  }
  // The operator picks the 512 x 512 preview (the full sensor is 2048 x 2048).
  void Preview512() {
    CCamSetupDlg* panel = frame_->CameraPanel();
    ASSERT_NE(panel, nullptr);
    auto* combo = qobject_cast<QComboBox*>(panel->Ctrl(1175));
    ASSERT_NE(combo, nullptr);
    const int i = combo->findText("512*512");
    ASSERT_GE(i, 0);
    combo->setCurrentIndex(i);
    emit combo->activated(i);
  }

  std::unique_ptr<CMainFrame> frame_;
  std::vector<QString> messages;
  QString oldCwd_;
};

TEST_F(GigeWindowTest, ACameraKilledWhileRecordingIsToldAtOnceAndPlaysAgainWhenBack) {
  ASSERT_TRUE(sim_.Start("WIN1"));
  MakeFrame();
  LoopWatch watch;
  // Start-up detection and Live: the list fills when discovery answers, the window never waits.
  frame_->OnCameraLive();
  ASSERT_TRUE(Pump([&] { return Playing(); }, 15000));
  Preview512();
  ASSERT_TRUE(FramesFlow(5, 20000));
  stVideoSetting vs;
  camera().GetVideoSetting(&vs);
  vs.folder = dir_.filePath("video").toStdU16String();
  QDir().mkpath(dir_.filePath("video"));
  camera().SetVideoSetting(vs);
  frame_->OnRecord();
  ASSERT_TRUE(camera().IsRecording());
  ASSERT_TRUE(FramesFlow(10, 20000));
  Expect(watch, "while live");

  // Pulled: told within two seconds; the window turns all the while.
  watch.Reset();
  const std::size_t told = messages.size();
  QElapsedTimer since;
  since.start();
  sim_.Kill();
  ASSERT_TRUE(Pump([&] { return messages.size() > told; }, 10000));
  EXPECT_LT(since.elapsed(), 2000);
  EXPECT_TRUE(messages.back().contains("WIN1")) << messages.back().toStdString();
  EXPECT_FALSE(Playing());
  ASSERT_TRUE(Pump([&] { return !camera().IsRecording() && !camera().LastRecording().file.empty(); }, 10000));
  Pump([] { return false; }, 300);
  Expect(watch, "while the camera was lost");

  // The recording is finished and plays: ffprobe counts its frames.
  const QString file = QString::fromStdString(camera().LastRecording().file);
  const std::uint64_t written = camera().LastRecording().framesWritten;
  EXPECT_GT(written, 0u);
  // (popen spawns without forking this many-threaded process)
  const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_read_frames -of csv=p=0 '" + file.toStdString() + "' 2>&1";
  std::FILE* probe = ::popen(command.c_str(), "r");
  ASSERT_NE(probe, nullptr);
  char out[256] = {};
  const std::size_t got = std::fread(out, 1, sizeof out - 1, probe);
  EXPECT_EQ(::pclose(probe), 0) << std::string(out, got);
  EXPECT_EQ(std::strtoull(out, nullptr, 10), written) << std::string(out, got);

  // Back (same serial number): reopened and playing, the window still turning.
  watch.Reset();
  ASSERT_TRUE(sim_.Start("WIN1"));
  ASSERT_TRUE(Pump([&] { return Playing(); }, 30000));
  EXPECT_TRUE(FramesFlow(5, 20000));
  Expect(watch, "while the camera came back");
}

TEST_F(GigeWindowTest, LostPacketsAreNeitherShownNorRecordedAndTheEndHintNamesThem) {
  ASSERT_TRUE(sim_.Start("WIN2", 3));
  MakeFrame();
  Choose("WIN2");
  frame_->OnCameraLive();
  ASSERT_TRUE(Pump([&] { return Playing(); }, 15000));
  Preview512();
  stVideoSetting vs;
  camera().GetVideoSetting(&vs);
  vs.folder = dir_.filePath("video").toStdU16String();
  QDir().mkpath(dir_.filePath("video"));
  camera().SetVideoSetting(vs);
  ASSERT_TRUE(FramesFlow(3, 30000));
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  unsigned long long damagedBefore = 0, damagedAfter = 0;
  ASSERT_EQ(CamSdkGetIncompleteFrames(item.handle, &damagedBefore), CAMSDK_STATUS_OK);
  const std::uint64_t shownBefore = camera().FrameSequence();
  frame_->OnRecord();
  ASSERT_TRUE(FramesFlow(12, 60000));
  frame_->OnRecord();
  const std::uint64_t shown = camera().FrameSequence() - shownBefore;
  ASSERT_EQ(CamSdkGetIncompleteFrames(item.handle, &damagedAfter), CAMSDK_STATUS_OK);
  ASSERT_TRUE(Pump([&] { return !camera().LastRecording().file.empty(); }, 20000));
  const auto& r = camera().LastRecording();
  EXPECT_GT(damagedAfter, damagedBefore);
  EXPECT_GT(r.framesIncomplete, 0u);
  EXPECT_LE(r.framesWritten, shown);  // never more frames than came whole
  // Every recorded frame is whole: along each diagonal the ramp keeps its colour (the JPEG's
  // small losses apart; a hole or a seam of another frame shows as a large step).
  cv::VideoCapture video(r.file);
  ASSERT_TRUE(video.isOpened());
  cv::Mat f;
  int read = 0, seams = 0;
  while (video.read(f)) {
    ++read;
    cv::Mat grey;
    cv::cvtColor(f, grey, cv::COLOR_BGR2GRAY);
    cv::Mat a = grey(cv::Rect(0, 2, grey.cols - 2, grey.rows - 2)), b = grey(cv::Rect(2, 0, grey.cols - 2, grey.rows - 2));
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    cv::Mat rows;
    cv::reduce(diff, rows, 1, cv::REDUCE_AVG, CV_32F);
    double worst = 0;
    cv::minMaxLoc(rows, nullptr, &worst);
    seams += worst > 40;
  }
  EXPECT_EQ(std::uint64_t(read), r.framesWritten);
  EXPECT_EQ(seams, 0);
  // The end hint names the damaged frames left out.
  EXPECT_TRUE(frame_->View()->HintText().contains(QString("%1 frames that the camera sent incomplete were left out")
                                                       .arg(r.framesIncomplete)))
      << frame_->View()->HintText().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  gigesim::EnterOwnNetwork();  // root: a loopback of this test's own
  setenv("Q7V_ARAVIS_USB", "0", 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
#if defined(__SANITIZE_THREAD__)
  cv::setNumThreads(0);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
