#pragma once
// Shared pieces of the imaging tests: settings and camera-library files in a temporary folder,
// a host that records what the windows ask of the frame, a catcher that answers message boxes
// and keeps their texts, made images, and waiting for worker results.
#include <gtest/gtest.h>

#include "tests/textured_sample.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"

class ImagingEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<QTemporaryDir>();
    setenv("Q7V_REGISTRY_FILE", (dir_->path() + "/registry.dat").toUtf8().constData(), 1);
    setenv("Q7V_CAMSDK_CONFIG_DIR", dir_->path().toUtf8().constData(), 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};
inline ::testing::Environment* const g_imagingEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);

class TestHost : public IAppHost {
 public:
  CCameraProcess* Camera() override { return camera; }
  void RedrawView() override { ++redraws; }
  void ZoomFitWindow() override { ++fits; }
  bool OpenImageFile(const QString& path) override {
    opened << path;
    return openResult;
  }
  CCameraProcess* camera = nullptr;
  int redraws = 0;
  int fits = 0;
  QStringList opened;
  bool openResult = true;
};

// Installs a host for the test's lifetime.
struct ScopedHost {
  explicit ScopedHost(IAppHost* host) { SetAppHost(host); }
  ~ScopedHost() { SetAppHost(nullptr); }
};

// Answers every message box that opens (with `answer`, or its first button) and keeps the texts.
class MessageCatcher {
 public:
  explicit MessageCatcher(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        texts << box->text();
        QAbstractButton* b = box->button(answer_);
        if (!b && !box->buttons().isEmpty()) b = box->buttons().first();
        if (b) b->click();
      }
    });
    timer_.start();
  }
  QStringList texts;

 private:
  QMessageBox::StandardButton answer_;
  QTimer timer_;
};

// Runs the event loop until `done` holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Puts a top-down BGR picture into the camera's frame buffer as a still image (bottom-up).
inline void SetStill(CCameraProcess& camera, const cv::Mat& picture) {
  const FrameView frame = camera.NewFrame(MakeFrameFormat(picture.cols, picture.rows));
  ASSERT_TRUE(frame);
  std::uint8_t* pixels = frame.Data();
  cv::Mat flipped;
  cv::flip(picture, flipped, 0);
  std::memcpy(pixels, flipped.data, flipped.total() * 3);
}

// The frame buffer's pixels (bottom-up rows).
inline std::vector<std::uint8_t> FramePixels(CCameraProcess& camera) {
  std::vector<std::uint8_t> pixels;
  BITMAPINFOHEADER format;
  camera.CopyFrame(&pixels, &format);
  return pixels;
}
