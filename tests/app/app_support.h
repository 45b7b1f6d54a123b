#pragma once
// A main frame per test with every file in a temporary folder (settings store, camera library
// settings, working folder), the simulated cameras delivering frames on demand, and the modal
// boxes answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tests/camsdk_ok.h"

// The modal dialog that opens from `trigger` is handed to `answer` (run from the dialog's own
// event loop); returns whether one opened.
inline bool AnswerModal(const std::function<void()>& trigger, const std::function<void(QWidget*)>& answer) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || seen) return;
    seen = true;
    answer(modal);
  });
  poll.start();
  trigger();
  poll.stop();
  return seen;
}

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
    frame_->askRestart = [this](UiLanguage, const QString& text) {
      questions.push_back("|" + text);
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
  // Reads the capture settings, lets `change` edit them and writes them back.
  void ChangeCapture(const std::function<void(stCaptureSetting&)>& change) {
    stCaptureSetting cs;
    camera().GetCaptureSetting(&cs);
    change(cs);
    camera().SetCaptureSetting(cs);
  }
  // Single captures into `folder` as bitmaps named Capture0000.bmp, Capture0001.bmp, ..., with the
  // measurements drawn in when asked.
  void CaptureInto(const QString& folder, bool withMeasurements = false) {
    ChangeCapture([&](stCaptureSetting& cs) {
      cs.imageFolder = folder.toStdU16String();
      cs.imageType = 2;
      cs.ifMeasure = withMeasurements;
      cs.useDefaultName = false;
      cs.imageName = u"Capture";
      cs.ifContinuous = false;
    });
  }
  // Continuous capture every `intervalMs`, ending after `total` images (0: only when stopped).
  void SetContinuous(int intervalMs, int total) {
    ChangeCapture([&](stCaptureSetting& cs) {
      cs.ifContinuous = true;
      cs.timeInterval = intervalMs;
      cs.ifFrame = total > 0;
      cs.frameTotal = total;
    });
  }
  // Videos recorded into `folder`.
  void RecordInto(const QString& folder) {
    stVideoSetting vs;
    camera().GetVideoSetting(&vs);
    vs.folder = folder.toStdU16String();
    camera().SetVideoSetting(vs);
  }
  // A still image of w x h pixels (a horizontal grey ramp) shown as if opened from a file.
  void ShowStill(int w, int h) {
    {
      const FrameView frame = camera().NewFrame(MakeFrameFormat(w, h));
      ASSERT_TRUE(frame);
      std::uint8_t* px = frame.Data();
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
    if (camera().GetOpenedCount() > 0) {
      CAMSDK_OK(camera().GetImageSize(camera().GetCurCameraItem(), &w, &h));
    }
    // The centre of the pixel's span, so the view's truncation gives the pixel back.
    return QPoint(r.left() + int((ix + 0.5) * r.width() / w), r.top() + int((iy + 0.5) * r.height() / h));
  }
  void Click(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseMove(&view(), p);
    QTest::mousePress(&view(), b, {}, p);
    QTest::mouseRelease(&view(), b, {}, p);
  }
  // A left-button drag from image pixel a to image pixel b.
  void Drag(POINT a, POINT b) {
    const QPoint pa = ClientOf(a.x, a.y), pb = ClientOf(b.x, b.y);
    QTest::mouseMove(&view(), pa);
    QTest::mousePress(&view(), Qt::LeftButton, {}, pa);
    QTest::mouseMove(&view(), pb);
    QTest::mouseRelease(&view(), Qt::LeftButton, {}, pb);
  }
  // The frame and the overlay drawn at w x h in one go, as the view's kept layers must show them.
  QImage DrawnAtOnce(int w, int h) {
    QImage direct(w, h, QImage::Format_RGB32);
    QPainter p(&direct);
    camera().DrawImage(p, w, h);
    return direct;
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
