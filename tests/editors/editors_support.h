#pragma once
// Shared pieces of the editor tests: a host standing in for the frame and the view (a real
// measurement engine, the camera object, the image window), the settings store and the camera
// library's files in a temporary folder, and scripted answers to message boxes.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ui/AppHost.h"
#include "ui/DialogBuilder.h"
#include "camera/CameraProcess.h"
#include "editors/EditorText.h"
#include "editors/Prompt.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"

class NoCapture : public IMouseCapture {
 public:
  void SetCapture() override {}
  void ReleaseCapture() override {}
};

// The view as the camera object sees it: the engine and the image window.
class HostView : public ICameraView {
 public:
  explicit HostView(CMeasureManager* mm) : mm_(mm) {}
  CMeasureManager* MeasureManager() override { return mm_; }
  RECT ViewClientRect() const override { return client; }
  RECT ImageWindowRect() const override { return window; }
  RECT client{0, 0, 800, 600};
  RECT window{0, 0, 800, 600};

 private:
  CMeasureManager* mm_;
};

class FakeHost : public IAppHost {
 public:
  FakeHost() : view(&mm) {}
  CCameraProcess* Camera() override { return camera; }
  CMeasureManager* Measure() override { return &mm; }
  LayerPanelView LayerPanelMode() const override { return mode; }
  void SetLayerPanelMode(LayerPanelView m) override { mode = m; }
  bool ImageAvailable() const override { return image; }
  bool IsLive() const override { return live; }
  void RedrawView() override { ++redraws; }
  RECT ViewClientRect() const override { return view.client; }
  RECT ImageWindowRect() const override { return view.window; }
  void SetImageWindowRect(const RECT& rc) override { view.window = rc; }
  void ResetViewTools() override { ++toolResets; }
  int ShownCameraIndex() const override { return shownCamera; }

  CMeasureManager mm;
  HostView view;
  CCameraProcess* camera = nullptr;
  LayerPanelView mode = LayerPanelView::kMagnifier;
  bool image = false;
  bool live = false;
  int redraws = 0;
  int toolResets = 0;
  int shownCamera = -1;  // the camera panel's list
};

// Each test: its own store, working folder and simulated cameras; the host installed; message
// boxes answered from `answers` (Yes when it runs out) and recorded in `prompts`.
class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    SetRegistryFile(Path() / "registry.dat");
    CamSdkTestReset();
    CamSdkSetConfigDir((dir.path() + "/camsdk").toUtf8().constData());
    CamSdkTestSetSynchronous(true);
    host = std::make_unique<FakeHost>();
    host->mm.SetNotifyTarget(&capture, nullptr);
    SetAppHost(host.get());
    editors::SetPromptHook([this](const editors::PromptInfo& info) {
      prompts.push_back(info);
      if (answers.empty()) return info.yesNo ? int(editors::kAnswerYes) : int(editors::kAnswerOk);
      const int a = answers.front();
      answers.pop_front();
      return a;
    });
  }
  void TearDown() override {
    editors::SetPromptHook({});
    SetAppHost(nullptr);
    host.reset();
    cameraObject.reset();
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    SetRegistryFile({});
  }
  std::filesystem::path Path() const { return std::filesystem::path(dir.path().toStdString()); }

  // The camera object with the simulated colour camera listed and current (not opened).
  CCameraProcess& MakeCamera() {
    CamSdkTestSetModels("color,mono");
    cameraObject = std::make_unique<CCameraProcess>();
    cameraObject->SetView(&host->view);
    std::vector<stCameraItem> items(kMaxCameraList);
    int count = 0;
    cameraObject->EnumCameras(items.data(), &count);
    cameraObject->SetCurCamera(0);
    host->camera = cameraObject.get();
    return *cameraObject;
  }
  // A frame in the camera object's buffer: `pixels` is 24-bit bottom-up BGR.
  void PutFrame(int w, int h, const std::vector<std::uint8_t>& pixels) {
    ASSERT_TRUE(cameraObject->AllocFrameBuffer(w, h));
    const FrameView frame = cameraObject->ViewFrame();
    ASSERT_TRUE(frame);
    std::copy(pixels.begin(), pixels.end(), frame.Data());
    host->image = true;
  }
  std::string CameraName() {
    stCameraItem item;
    cameraObject->GetCurCameraItem(&item);
    return item.device.deviceName;
  }

  // Draws a shape with the mouse as the view would: presses at each point (the last press
  // finishes it); a right press finishes or abandons the open kinds.
  void Draw(int kind, std::vector<POINT> pts) {
    host->mm.OnMeasureLButtonDown(pts[0].x, pts[0].y, kind, 1);
    host->mm.OnMeasureLButtonUp(pts[0].x, pts[0].y);
    for (std::size_t i = 1; i < pts.size(); ++i) {
      host->mm.OnMeasureMouseMove(pts[i].x, pts[i].y);
      host->mm.OnMeasureLButtonDown(pts[i].x, pts[i].y, MK_NONE, 0);
      host->mm.OnMeasureLButtonUp(pts[i].x, pts[i].y);
    }
  }

  QTemporaryDir dir;
  NoCapture capture;
  std::unique_ptr<FakeHost> host;
  std::unique_ptr<CCameraProcess> cameraObject;
  std::vector<editors::PromptInfo> prompts;
  std::deque<int> answers;
};
