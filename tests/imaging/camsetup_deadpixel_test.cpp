// "Create Info": the preparation dialog acts on the camera, the library measures off the
// user-interface thread behind the wait box, and the seeded hot pixels are corrected after.
// Also the pane: wheel lines and the return to the top on a resize.
#include "camsetup_support.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <thread>

#include "platform/camsdk/camsdk_testing.h"
#include "tests/camsdk_ok.h"
#include "ui/TipDlg.h"
#include "imaging/CamSetupPane.h"
#include "app/screenshots/CamSetupShots.h"
#include "imaging/DeadPixelDlg.h"

namespace {

// Answers the next modal dialog with `accept` once it shows.
void AnswerNextDialog(bool accept, std::function<void(QDialog*)> inspect = {}) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, accept, inspect] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dlg) return;
    if (inspect) inspect(dlg);
    accept ? dlg->accept() : dlg->reject();
    timer->deleteLater();
  });
  timer->start(10);
}

QMessageBox* WaitForMessage(CCamSetupDlg* panel) {
  for (int i = 0; i < 24000 && panel->IsBusy(); ++i) {  // up to two minutes under a sanitizer
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  QApplication::processEvents();
  return panel->findChild<QMessageBox*>();
}

class CamSetupDeadPixelTest : public CamSetupTest {
 protected:
  void SetUp() override {
    CamSetupTest::SetUp();
    handle = OpenFirst();
  }
  // The raw level at a point of a dark frame exposed on the spot.
  int RawAt(CamSdkPoint p) {
    int x = 0, y = 0, w = 0, h = 0, media = 0;
    CAMSDK_OK(CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW));
    CAMSDK_OK(CameraGetMediaType(handle, &media));
    std::vector<unsigned char> raw(std::size_t(w) * std::size_t(h));
    CamSdkFrameInfo info{};
    EXPECT_EQ(CameraGetImageData(handle, raw.data(), CamSdkRaw8Of(media), &info, raw.size()), 1);
    return raw[std::size_t(p.y) * std::size_t(info.width) + std::size_t(p.x)];
  }
  int handle = -1;
};

TEST_F(CamSetupDeadPixelTest, CreatesTheInfoAndTheHotPixelsAreCorrected) {
  CamSdkTestSetLensCovered(handle, 1);
  CamSdkPoint seeded[16];
  int count = 0;
  ASSERT_EQ(CamSdkTestGetSeededDefects(handle, seeded, 16, &count), 1);
  ASSERT_GT(count, 0);
  CAMSDK_OK(CameraSetAeState(handle, 1));
  host.paneRect = QRect(100, 100, 300, 600);
  bool tipShown = false;
  AnswerNextDialog(true, [&](QDialog* dlg) {
    auto* prepare = qobject_cast<CDeadSpotTipDlg*>(dlg);
    ASSERT_NE(prepare, nullptr);
    prepare->GainSlider()->setValue(prepare->GainSlider()->maximum());  // acts at once
    float gain = 0;
    CAMSDK_OK(CameraGetAnalogGain(handle, &gain));
    EXPECT_FLOAT_EQ(gain, prepare->GainSlider()->maximum() * 0.125f);
    const int oldMax = prepare->ExposureSlider()->maximum();
    prepare->FrameSpeedSlider()->setValue(0);
    EXPECT_GE(prepare->ExposureSlider()->maximum(), oldMax);  // low speed allows longer exposures
  });
  Click(kCalcDeadPixelsButton);
  EXPECT_TRUE(panel->IsBusy());
  if (auto* tip = panel->findChild<CTipDlg*>()) {
    tipShown = tip->isVisible();
    EXPECT_EQ(tip->windowTitle(), "Prompt");
  }
  EXPECT_TRUE(tipShown);
  QMessageBox* box = WaitForMessage(panel.get());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Successful.");
  box->close();
  EXPECT_TRUE(Playing(handle));  // refreshed and streaming again
  EXPECT_FALSE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());
  EXPECT_FALSE(W<QAbstractButton>(kDeadPixelCorrectionCheck)->isChecked());

  // With the correction on, the seeded hot pixels read like their neighbours.
  CAMSDK_OK(CameraStop(handle));
  const int hot = RawAt(seeded[0]);
  Click(kDeadPixelCorrectionCheck);
  CAMSDK_OK(CameraStop(handle));
  const int corrected = RawAt(seeded[0]);
  EXPECT_LT(corrected, hot);
  EXPECT_LT(corrected, 64);
}

TEST_F(CamSetupDeadPixelTest, LibraryFailureIsReportedAsFailure) {
  CamSdkTestInjectFailure("CameraCreateDefectCorrectionInfo", CAMSDK_STATUS_DEVICE_LOST, 1);
  AnswerNextDialog(true);
  Click(kCalcDeadPixelsButton);
  QMessageBox* box = WaitForMessage(panel.get());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Failed to create the dead pixel information.");
  box->close();
}

TEST_F(CamSetupDeadPixelTest, CancelLeavesAutoExposureAndCorrectionOffInTheCamera) {
  CAMSDK_OK(CameraSetAeState(handle, 1));
  CAMSDK_OK(CameraSetDeadPixelCorrectionState(handle, 1));
  panel->RefreshFromCamera(handle);
  AnswerNextDialog(false);
  Click(kCalcDeadPixelsButton);
  EXPECT_FALSE(panel->IsBusy());
  int on = 1;
  CAMSDK_OK(CameraGetAeState(handle, &on));
  EXPECT_EQ(on, 0);
  CAMSDK_OK(CameraGetDeadPixelCorrectionState(handle, &on));
  EXPECT_EQ(on, 0);
  EXPECT_TRUE(W<QAbstractButton>(kAutoExposureCheck)->isChecked());  // the panel shows the old state
  EXPECT_TRUE(W<QAbstractButton>(kDeadPixelCorrectionCheck)->isChecked());
}

TEST(CamSetupTipDlg, CentresOverTheCameraPane) {
  RecordingHost host;
  host.paneRect = QRect(1000, 200, 400, 800);
  SetAppHost(&host);
  CTipDlg tip;
  tip.show();
  QApplication::processEvents();
  const QRect box = tip.frameGeometry();
  EXPECT_EQ(box.left(), 1000 + (400 - box.width()) / 2);
  EXPECT_EQ(box.top(), 200 + (800 - box.height()) / 2);
  EXPECT_EQ(tip.findChildren<QLabel*>().front()->text(), "Please wait, collecting information now...");
  SetAppHost(nullptr);
}

TEST(CamSetupPane, WheelScrollsOneLineAndResizeGoesBackToTheTop) {
  RecordingHost host;
  SetAppHost(&host);
  CCamSetupPane pane(nullptr, std::make_unique<ManualClock>());
  pane.resize(320, 300);
  pane.show();
  QApplication::processEvents();
  QScrollBar* bar = pane.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 100);
  const QPointF at(20, 20);
  QWheelEvent down(at, pane.mapToGlobal(at.toPoint()), {}, QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane.viewport(), &down);
  QApplication::sendEvent(pane.viewport(), &down);
  EXPECT_EQ(bar->value(), 20);
  QWheelEvent up(at, pane.mapToGlobal(at.toPoint()), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane.viewport(), &up);
  EXPECT_EQ(bar->value(), 10);
  pane.resize(330, 400);
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
  SetAppHost(nullptr);
}

}  // namespace

namespace {

TEST_F(CamSetupTest, ScreenshotsOfThePanelAndTheDeadPixelDialog) {
  RenderCamSetupShots(dir.path(), "en");
  for (const char* name : {"camsetup-color-en.png", "camsetup-mono-en.png", "deadpixel-en.png"}) {
    QImage picture(dir.filePath(name));
    EXPECT_FALSE(picture.isNull()) << name;
    EXPECT_GT(picture.height(), 100) << name;
  }
  if (const char* keep = std::getenv("CAMSETUP_SHOTS_DIR"))
    for (const char* name : {"camsetup-color-en.png", "camsetup-mono-en.png", "deadpixel-en.png"})
      QFile::copy(dir.filePath(name), QDir(keep).filePath(name));
}

}  // namespace
