#pragma once
// Shared pieces of the camera tests: the application object, a fixture that keeps every file in
// a temporary folder (settings store, camera library settings, working folder) with the
// simulated cameras in synchronous mode, and fakes of the windows around the camera object.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/videoio.hpp>

#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Nothing of the user's own: the store and the library's settings go to a temporary folder.
    dir_ = std::make_unique<QTemporaryDir>();
    setenv("Q7V_REGISTRY_FILE", (dir_->path() + "/registry.dat").toUtf8().constData(), 1);
    setenv("Q7V_CAMSDK_CONFIG_DIR", dir_->path().toUtf8().constData(), 1);
    static int argc = 1;
    static char name[] = "camera_tests";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app_ = std::make_unique<QGuiApplication>(argc, argv);
#if defined(__SANITIZE_THREAD__)
    // OpenCV's worker pool is not instrumented: its hand-overs would read as races.
    cv::setNumThreads(0);
#endif
  }
  void TearDown() override {
    app_.reset();
    dir_.reset();
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QGuiApplication> app_;
};

inline ::testing::Environment* const g_qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class FakeMouseCapture : public IMouseCapture {
 public:
  void SetCapture() override {}
  void ReleaseCapture() override {}
};

// The view: a measurement engine, the image window's geometry, and the frames it was told of.
class FakeView : public ICameraView {
 public:
  FakeView() { mm.SetNotifyTarget(&capture, nullptr); }
  CMeasureManager* MeasureManager() override { return &mm; }
  RECT ViewClientRect() const override { return client; }
  RECT ImageWindowRect() const override { return window; }
  void FrameReady(CCameraProcess& camera) override {
    ++frameReady;
    if (!surface.isNull()) {
      QPainter p(&surface);
      camera.DrawImage(p, surface.width(), surface.height());
      shownSequence = camera.FrameSequence();
    }
  }
  // A line measurement from a to b, built with the mouse as the view would.
  void AddLine(POINT a, POINT b, int penWidth = 4) {
    mm.OnMeasureLButtonDown(a.x, a.y, MK_LINE, 1);
    mm.OnMeasureMouseMove(b.x, b.y);
    mm.OnMeasureLButtonDown(b.x, b.y, MK_NONE, 0);
    MEASUREBASE rec = *mm.GetMeasure(mm.GetMeasureCount() - 1);
    rec.m_nPenWidth = penWidth;
    mm.SetMeasure(mm.GetMeasureCount() - 1, rec);
    mm.OnMeasureLButtonDown(-100000, -100000, MK_NONE, 0);  // ends the selection
  }

  FakeMouseCapture capture;
  CMeasureManager mm;
  RECT client{0, 0, 800, 600};
  RECT window{0, 0, 800, 600};
  int frameReady = 0;
  QImage surface;
  std::uint64_t shownSequence = 0;
};

class FakePanel : public ILayerPanel {
 public:
  bool IsPanelVisible() const override { return visible; }
  LayerPanelView PanelMode() const override { return LayerPanelView(mode); }
  QSize PictureSize() const override { return size; }
  void ShowPicture(const QImage& p) override {
    picture = p;
    ++shown;
  }
  bool visible = true;
  int mode = 2;
  QSize size{256, 100};
  QImage picture;
  int shown = 0;
};

class FakeMainFrame : public IMainFrame {
 public:
  explicit FakeMainFrame(CCameraProcess** camera) : camera_(camera) {}
  bool OnCameraStop() override {
    ++stops;
    (*camera_)->CloseCamera((*camera_)->GetCurCameraItem());
    return true;
  }
  int stops = 0;

 private:
  CCameraProcess** camera_;
};

class FakeLayerEditor : public ILayerEditor {
 public:
  void ClearLayers() override { ++clears; }
  int clears = 0;
};

// Every test in its own temporary working folder and settings store, synchronous cameras.
class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(Path());
    SetRegistryFile(Path() / "registry.dat");
    CamSdkTestReset();
    CamSdkSetConfigDir((dir.path() + "/camsdk").toUtf8().constData());
    CamSdkTestSetSynchronous(true);
    camera = std::make_unique<CCameraProcess>();
    raw = camera.get();
  }
  void TearDown() override {
    camera.reset();
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    SetRegistryFile({});
    std::filesystem::current_path(oldCwd);
  }
  std::filesystem::path Path() const { return std::filesystem::path(dir.path().toStdString()); }

  // Lists the cameras into the camera object and returns the count.
  int List() {
    std::vector<stCameraItem> items(kMaxCameraList);
    int count = -1;
    EXPECT_EQ(camera->EnumCameras(items.data(), &count), 1);
    return count;
  }
  int IndexOf(const char* deviceName) {
    stCameraItem item;
    for (int i = 0; i < camera->GetCameraCount(); ++i)
      if (camera->GetCameraItem(i, &item) && std::string(item.device.deviceName) == deviceName) return i;
    return -1;
  }
  int Open(int index) {
    std::int32_t params[kOpenParamCount] = {};
    params[kOpenDisplayWidth] = 1280;
    params[14] = 1024;
    return camera->OpenCamera(index, params, nullptr);
  }
  // The frames of the camera's last video (-1 when it cannot be read), each expected to be
  // width x height; its name into *name.
  static int VideoFrames(int handle, int width, int height, std::string* name = nullptr) {
    char file[1024] = {};
    if (CamSdkGetRecordFileName(handle, file, sizeof file) != 1) return -1;
    if (name) *name = file;
    cv::VideoCapture video(file);
    if (!video.isOpened()) return -1;
    int frames = 0;
    for (cv::Mat m; video.read(m); ++frames) EXPECT_EQ(m.cols * 10000 + m.rows, width * 10000 + height);
    return frames;
  }
  int Handle(int index) {
    stCameraItem item;
    camera->GetCameraItem(index, &item);
    return item.handle;
  }

  QTemporaryDir dir;
  std::filesystem::path oldCwd;
  std::unique_ptr<CCameraProcess> camera;
  CCameraProcess* raw = nullptr;
};
