// Frames per second from Aravis' GigE camera simulator, side by side in one run: Aravis' own
// acquisition tool (arv-camera-test-0.8), the camera library's core (each frame through the ISP
// into a frame buffer, as the window's frame callback does), and the real main window live on
// the camera (frames taken into its buffer and painted). Same camera, size, Bayer format and
// rate for all three; the counters give each rate and the program's share of the tool's.
#include <arv.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QEventLoop>

#include <atomic>
#include <clocale>
#include <map>

#include <benchmark/benchmark.h>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "imaging/CamSetupDlg.h"
#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tests/camsdk/gige_sim.h"

namespace {

constexpr const char* kSerial = "BENCH";
constexpr int kSeconds = 6;
gigesim::Simulator gSim;
std::map<std::string, double> gToolFps;  // by size and rate, for the shares

std::string Key(int size, int rate) { return std::to_string(size) + "@" + std::to_string(rate); }

// Runs the event loop for `ms`, asleep when there is nothing to do, as the program's own does.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The simulator set as the program will run it: binning for the size, Bayer 8 bits, the rate.
bool Prepare(int size, int rate) {
  auto* cam = static_cast<ArvCamera*>(camsdk::ArvTestConnect("127.0.0.1"));
  if (!cam) return false;
  camsdk::ArvScope scope;
  const int bin = 2048 / size;
  arv_camera_set_binning(cam, bin, bin, nullptr);
  arv_camera_set_region(cam, 0, 0, size, size, nullptr);
  arv_camera_set_pixel_format(cam, ARV_PIXEL_FORMAT_BAYER_GR_8, nullptr);
  arv_camera_set_frame_rate(cam, rate, nullptr);
  g_object_unref(cam);
  return true;
}

void BM_Tool(benchmark::State& state) {
  const int size = int(state.range(0)), rate = int(state.range(1));
  const QString tool = QString::fromStdString(gigesim::FindProgram("arv-camera-test-0.8"));
  if (tool.isEmpty() || !Prepare(size, rate)) {
    state.SkipWithError("arv-camera-test-0.8 or the simulator missing (package aravis-tools)");
    return;
  }
  const int bin = 2048 / size;
  for (auto _ : state) {
    QProcess p;
    p.start(tool, {"-n", QString("Aravis-Fake-%1").arg(kSerial), "-w", QString::number(size), "-h",
                   QString::number(size), "--h-binning", QString::number(bin), "--v-binning", QString::number(bin), "-f",
                   QString::number(rate), "--features", "PixelFormat=BayerGR8"});
    p.waitForStarted();
    QThread::sleep(kSeconds + 2);
    ::kill(pid_t(p.processId()), SIGINT);  // it prints its statistics and ends
    p.waitForFinished(20000);
    // One line a second: "NN frames/s - X MiB/s"; the first covers the start.
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    std::vector<double> rates;
    for (const auto& m : QRegularExpression(R"((\d+) frames/s)").globalMatch(out)) rates.push_back(m.captured(1).toDouble());
    if (rates.size() < 3) {
      state.SkipWithError("the tool gave no rate");
      return;
    }
    double sum = 0;
    for (std::size_t i = 1; i < rates.size(); ++i) sum += rates[i];
    const double fps = sum / double(rates.size() - 1);
    gToolFps[Key(size, rate)] = fps;
    state.counters["fps"] = fps;
  }
}

std::atomic<long> gFrames{0};
std::vector<unsigned char> gBuffer;

int ToFrameBuffer(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  if (CamSdkISPInto(handle, raw, info, gBuffer.data(), gBuffer.size()) == CAMSDK_STATUS_OK) ++gFrames;
  return 1;
}

std::string Listed() {
  const std::string want = std::string("Aravis Fake ") + kSerial;
  for (int i = 0; i < 10; ++i) {
    camsdk::ArvWaitDiscovery();
    std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
    int n = 0;
    if (CameraGetDevList(list.data(), &n, CAMSDK_MAX_DEVICES) != CAMSDK_STATUS_OK) n = 0;
    camsdk::ArvWaitDiscovery(false);
    for (int k = 0; k < n; ++k)
      if (want == list[std::size_t(k)].deviceName) return want;
  }
  return {};
}

int PresetOf(int handle, int size) {
  CamSdkCapability cap{};
  if (CameraGetCapability(handle, &cap) != CAMSDK_STATUS_OK) return 0;
  for (int i = 0; i < cap.resolutionCount; ++i)
    if (cap.resolutions[i].width == size) return i;
  return 0;
}

void Share(benchmark::State& state, int size, int rate, double fps) {
  state.counters["fps"] = fps;
  const auto it = gToolFps.find(Key(size, rate));
  if (it != gToolFps.end() && it->second > 0) state.counters["share_of_tool_pct"] = 100.0 * fps / it->second;
}

void BM_Core(benchmark::State& state) {
  const int size = int(state.range(0)), rate = int(state.range(1));
  const std::string name = Listed();
  int handle = 0;
  if (name.empty() || !Prepare(size, rate) || CameraInit(ToFrameBuffer, name.c_str(), nullptr, &handle) != 1) {
    state.SkipWithError("no simulated GigE camera");
    return;
  }
  gBuffer.assign(std::size_t(size) * size * 3, 0);
  if (CameraSetImageSizeSel(handle, PresetOf(handle, size), CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK ||
      CameraSetExposureTime(handle, 10000) != CAMSDK_STATUS_OK ||  // 1 ms: the camera's rate decides
      CameraPlay(handle) != CAMSDK_STATUS_OK) {
    state.SkipWithError("the camera refused its settings");
    (void)CameraUnInit(handle);
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  for (auto _ : state) {
    const long start = gFrames.load();
    QElapsedTimer t;
    t.start();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    Share(state, size, rate, double(gFrames.load() - start) / (double(t.nsecsElapsed()) * 1e-9));
  }
  unsigned long long damaged = 0;
  if (CamSdkGetIncompleteFrames(handle, &damaged) == CAMSDK_STATUS_OK) state.counters["incomplete"] = double(damaged);
  if (CameraUnInit(handle) != CAMSDK_STATUS_OK) state.SkipWithError("the camera did not close");
}

void BM_Window(benchmark::State& state) {
  const int size = int(state.range(0)), rate = int(state.range(1));
  const std::string name = Listed();
  if (name.empty() || !Prepare(size, rate)) {
    state.SkipWithError("no simulated GigE camera");
    return;
  }
  auto frame = std::make_unique<CMainFrame>();
  frame->askYesNo = [](const QString&, const QString&) { return false; };
  frame->messageBox = [](const QString&) {};
  frame->resize(1600, 1000);
  frame->show();
  Pump(200);
  CCamSetupDlg* panel = frame->CameraPanel();
  auto* cameras = qobject_cast<QComboBox*>(panel->Ctrl(1045));
  const int index = cameras->findText(QString::fromStdString(name));
  cameras->setCurrentIndex(index);
  emit cameras->activated(index);
  frame->OnCameraLive();
  CCameraProcess& camera = frame->CameraObject();
  stCameraItem item;
  camera.GetCurCameraItem(&item);
  if (item.state != CAMERA_PLAYING) {
    state.SkipWithError("the window did not go live");
    return;
  }
  auto* preview = qobject_cast<QComboBox*>(panel->Ctrl(1175));
  const int preset = PresetOf(item.handle, size);
  preview->setCurrentIndex(preset);
  emit preview->activated(preset);
  if (CameraSetAeState(item.handle, 0) != CAMSDK_STATUS_OK || CameraSetExposureTime(item.handle, 10000) != CAMSDK_STATUS_OK) {
    state.SkipWithError("the camera refused its exposure");
    return;
  }
  frame->OnZoomFitWindow();
  Pump(2000);
  for (auto _ : state) {
    const std::uint64_t start = camera.FrameSequence();
    QElapsedTimer t;
    t.start();
    Pump(kSeconds * 1000);
    Share(state, size, rate, double(camera.FrameSequence() - start) / (double(t.nsecsElapsed()) * 1e-9));
  }
  state.counters["status_bar_fps"] = frame->FrameStatistics().FrameRate();
  frame->OnCameraStop();
  frame.reset();
}

// Side by side: the tool first, then the program's two paths, at each size and rate.
void Sizes(benchmark::internal::Benchmark* b) {
  for (const auto& [size, rate] : {std::pair{512, 25}, std::pair{512, 100}, std::pair{2048, 25}, std::pair{2048, 60}}) b->Args({size, rate});
}
BENCHMARK(BM_Tool)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Core)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Window)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  gigesim::EnterOwnNetwork();  // root: a loopback of this run's own
  setenv("Q7V_ARAVIS_USB", "0", 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QTemporaryDir dir;
  QDir::setCurrent(dir.path());
  SetRegistryFile(std::filesystem::path(dir.filePath("registry.dat").toStdString()));
  CamSdkSetConfigDir(dir.path().toUtf8().constData());
  SetUiLanguage(UiLanguage::English);
  CamSdkTestSetModels("");
  if (!gSim.Start(kSerial)) std::fprintf(stderr, "%s could not be started: every benchmark skips\n", gigesim::kTool);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gSim.Kill();
  return 0;
}
