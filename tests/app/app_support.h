#pragma once
// A main frame per test with every file in a temporary folder (settings store, camera library
// settings, working folder), the simulated cameras delivering frames on demand, and the modal
// boxes answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/camsdk/camsdk.h"
#include "platform/registry.h"
#include "platform/strings.h"

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldCwd_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    SetRegistryFile(std::filesystem::path(dir_.filePath("registry.dat").toStdString()));
    CamSdkSetConfigDir(dir_.path().toUtf8().constData());
    CamSdkTestReset();
    CamSdkTestSetModels("color");
    CamSdkTestSetSynchronous(true);
    SetUiLanguage(UiLanguage::English);
    frame_ = std::make_unique<CMainFrame>();
    frame_->askYesNo = [this](const QString& caption, const QString& text) {
      questions.push_back(caption + "|" + text);
      return answer;
    };
    frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->restartLauncher = [this] { ++restarts; };
    frame_->resize(1200, 800);
    frame_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    frame_.reset();
    CamSdkTestReset();
    CamSdkSetConfigDir(nullptr);
    QDir::setCurrent(oldCwd_);
  }

  CMainFrame& frame() { return *frame_; }
  CApplicationView& view() { return *frame_->View(); }
  CCameraProcess& camera() { return frame_->CameraObject(); }
  CMeasureManager& engine() { return *view().MeasureManager(); }

  // Live on the first simulated camera, with `frames` frames delivered and shown.
  int GoLive(int frames = 2) {
    frame().OnCameraLive();
    stCameraItem item;
    camera().GetCurCameraItem(&item);
    if (frames > 0) Deliver(frames);
    return item.handle;
  }
  void Deliver(int frames) {
    stCameraItem item;
    camera().GetCurCameraItem(&item);
    for (int i = 0; i < frames; ++i) {
      CamSdkTestDeliverFrames(item.handle, 1);
      QApplication::processEvents();
    }
  }
  // A still image of w x h pixels (a horizontal grey ramp) shown as if opened from a file.
  void ShowStill(int w, int h) {
    BITMAPINFOHEADER f{};
    f.biSize = 40;
    f.biWidth = w;
    f.biHeight = h;
    f.biPlanes = 1;
    f.biBitCount = 24;
    {
      auto lock = camera().LockFrameBuffer();
      ASSERT_TRUE(camera().SetFrameFormat(f));
      std::uint8_t* px = nullptr;
      ASSERT_TRUE(camera().GetFrameBuffer(&px));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int c = 0; c < 3; ++c) px[(std::size_t(y) * w + x) * 3 + c] = std::uint8_t(x * 255 / std::max(1, w - 1));
    }
    view().SetImageState(0, 1);
    frame().OnZoomFitWindow();
    QApplication::processEvents();
  }
  // The client point of an image pixel, at the current zoom.
  QPoint ClientOf(int ix, int iy) {
    const QRect r = view().ImageWindow()->geometry();
    BITMAPINFOHEADER f;
    camera().GetFrameFormat(&f);
    int w = f.biWidth, h = f.biHeight;
    if (camera().GetOpenedCount() > 0) camera().GetImageSize(camera().GetCurCameraItem(), &w, &h);
    // The centre of the pixel's span, so the view's truncation gives the pixel back.
    return QPoint(r.left() + int((ix + 0.5) * r.width() / w), r.top() + int((iy + 0.5) * r.height() / h));
  }
  void Click(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseMove(&view(), p);
    QTest::mousePress(&view(), b, {}, p);
    QTest::mouseRelease(&view(), b, {}, p);
  }
  bool Enabled(int id) { return frame().Router().Query(id).enabled_; }
  bool Checked(int id) { return frame().Router().Query(id).checked_; }

  QTemporaryDir dir_;
  QString oldCwd_;
  std::unique_ptr<CMainFrame> frame_;
  std::vector<QString> questions, messages;
  bool answer = false;
  int restarts = 0;
};
