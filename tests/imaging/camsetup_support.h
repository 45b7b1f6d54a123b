#pragma once
// Shared pieces of the camera panel tests: a manual clock (timers and waits advance only when
// the test says so), a host that records what the panel asks of the frame, and a fixture with
// the simulated cameras in synchronous mode and every file in a temporary folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"
#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupClock.h"
#include "imaging/CamSetupDlg.h"
#include "platform/registry.h"

// The panel's control names (kAutoExposureCheck, ...).
using namespace camsetup;

class ManualClock : public CamSetupClock {
 public:
  void StartTimer(int id, int periodMs) override { timers[id] = {periodMs, now + periodMs}; }
  void KillTimer(int id) override { timers.erase(id); }
  bool IsTimerRunning(int id) const override { return timers.count(id) != 0; }
  void After(int delayMs, std::function<void()> step) override { steps.push_back({now + delayMs, seq++, std::move(step)}); }
  int Period(int id) const { return timers.count(id) ? timers.at(id).period : 0; }

  // Runs every timer tick and step due within the next `ms`, in time order.
  void Advance(std::int64_t ms) {
    const std::int64_t end = now + ms;
    for (;;) {
      std::int64_t due = end + 1;
      int timer = 0;
      for (const auto& [id, t] : timers)
        if (t.due < due) due = t.due, timer = id;
      auto step = std::min_element(steps.begin(), steps.end(), [](const Step& a, const Step& b) {
        return a.due != b.due ? a.due < b.due : a.seq < b.seq;
      });
      if (step != steps.end() && step->due <= due && step->due <= end) {
        now = step->due;
        auto fn = std::move(step->fn);
        steps.erase(step);
        fn();
        continue;
      }
      if (due > end) break;
      now = due;
      timers[timer].due = now + timers[timer].period;
      Fire(timer);
    }
    now = end;
  }
  // Runs the pending steps (and the timers meanwhile) until none is left; the time it took.
  std::int64_t RunSteps(std::int64_t limitMs = 3600000) {
    const std::int64_t start = now;
    while (!steps.empty() && now - start < limitMs) {
      const std::int64_t next = std::min_element(steps.begin(), steps.end(), [](const Step& a, const Step& b) {
                                  return a.due < b.due;
                                })->due;
      Advance(std::max<std::int64_t>(next - now, 0));
    }
    return now - start;
  }

  struct Timer {
    int period;
    std::int64_t due;
  };
  struct Step {
    std::int64_t due;
    int seq;
    std::function<void()> fn;
  };
  std::map<int, Timer> timers;
  std::vector<Step> steps;
  std::int64_t now = 0;
  int seq = 0;
};

class RecordingHost : public IAppHost {
 public:
  CCameraProcess* Camera() override { return camera; }
  void ResetFrameStatistics() override { ++statsResets; }
  void ZoomFitWindow() override { ++zoomFits; }
  void ZoomOriginal() override { ++zoomOriginals; }
  void SetImageState(int live, int image) override { imageStates.push_back({live, image}); }
  void ShowHint(const WString& text) override { hints.push_back(QString::fromStdU16String(text)); }
  void ClearLayers() override { ++layerClears; }
  QRect CameraPaneRect() const override { return paneRect; }

  CCameraProcess* camera = nullptr;
  int statsResets = 0;
  int zoomFits = 0;
  int zoomOriginals = 0;
  int layerClears = 0;
  std::vector<std::pair<int, int>> imageStates;
  QStringList hints;
  QRect paneRect;
};

class CamSetupTest : public ::testing::Test {
 protected:
  // The simulated models present; most tests use the colour camera alone.
  virtual const char* Models() const { return "color"; }

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path().toStdString());
    SetRegistryFile(std::filesystem::path(dir.path().toStdString()) / "registry.dat");
    CamSdkTestReset();
    CamSdkSetConfigDir((dir.path() + "/camsdk").toUtf8().constData());
    CamSdkTestSetSynchronous(true);
    CamSdkTestSetCallLog(true);
    ASSERT_GE(CamSdkTestSetModels(Models()), 0);
    camera = std::make_unique<CCameraProcess>();
    host.camera = camera.get();
    SetAppHost(&host);
    MakePanel();
  }
  void TearDown() override {
    panel.reset();
    SetAppHost(nullptr);
    camera.reset();
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    SetRegistryFile({});
    std::filesystem::current_path(oldCwd);
  }
  void MakePanel() {
    panel.reset();
    clock = new ManualClock;
    panel = std::make_unique<CCamSetupDlg>(nullptr, std::unique_ptr<CamSetupClock>(clock));
    panel->show();
  }

  // What the frame's Live command does: list, open the first camera, shape and refresh.
  int OpenFirst() {
    panel->DetectCameras();
    std::int32_t params[kOpenParamCount] = {};
    EXPECT_EQ(camera->OpenCamera(0, params, nullptr), CAMERA_OK);
    stCameraItem item;
    camera->GetCameraItem(0, &item);
    camera->SetCameraCapability(panel->InitCameraControls(item.handle));
    panel->RefreshFromCamera(item.handle);
    panel->EnableControls(AllPanelControls(), true);
    return item.handle;
  }
  // The controls the view enables while a camera plays: every live control of the panel.
  static std::vector<int> AllPanelControls() { return {std::begin(kLiveControls), std::end(kLiveControls)}; }

  template <class T = QWidget>
  T* W(int id) const {
    return qobject_cast<T*>(panel->Ctrl(id));
  }
  QString Text(int id) const { return W<QLineEdit>(id)->text(); }
  // Near the left edge: a check box takes clicks only on its box and caption.
  void Click(int id) {
    QAbstractButton* b = W<QAbstractButton>(id);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(std::min(8, b->width() - 1), b->height() / 2));
  }
  void Activate(int id, int index) {
    QComboBox* c = W<QComboBox>(id);
    c->setCurrentIndex(index);
    emit c->activated(index);
  }
  // Log lines that start with `prefix`.
  static std::vector<std::string> Calls(const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : log)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  static std::uint64_t Exposure(int handle) {
    std::uint64_t e = 0, mx = 0, mn = 0;
    CAMSDK_OK(CameraGetExposureTime(handle, &e, &mx, &mn));
    return e;
  }
  static bool Playing(int handle) { return CamSdkTestDeliverFrames(handle, 1) > 0; }

  QTemporaryDir dir;
  std::filesystem::path oldCwd;
  std::unique_ptr<CCameraProcess> camera;
  RecordingHost host;
  ManualClock* clock = nullptr;
  std::unique_ptr<CCamSetupDlg> panel;
};
