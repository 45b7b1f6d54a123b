// The threshold, brightness and grey-stretch dialogs on a still image in the frame buffer.
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "ui/DialogBuilder.h"
#include "imaging/GrayStretchDlg.h"
#include "imaging/ThresholdDlg.h"
#include "imaging_test_support.h"

namespace {

class AdjustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera = std::make_unique<CCameraProcess>();
    host.camera = camera.get();
    SetStill(*camera, TexturedSample(37, 21, 5));  // odd sizes: no row padding anywhere
    original = FramePixels(*camera);
  }

  // What the image library makes of the original: the expected frame.
  std::vector<std::uint8_t> Expected(const std::function<void(KvImgImage src, KvImgImage dst)>& op) {
    std::vector<std::uint8_t> src = original, dst(original.size());
    op(KvImgImage{src.data(), 37, 21, 3}, KvImgImage{dst.data(), 37, 21, 3});
    return dst;
  }

  TestHost host;
  ScopedHost scoped{&host};
  std::unique_ptr<CCameraProcess> camera;
  std::vector<std::uint8_t> original;
};

// Mouse events straight to the graph (the pointer's last screen position plays no part).
void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  const Qt::MouseButton button =
      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void Move(QWidget* w, QPoint at, bool held = false) {
  Mouse(w, QEvent::MouseMove, at, held ? Qt::LeftButton : Qt::NoButton);
}
void Press(QWidget* w, QPoint at) { Mouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton); }
void Release(QWidget* w, QPoint at) { Mouse(w, QEvent::MouseButtonRelease, at, Qt::NoButton); }

}  // namespace

TEST_F(AdjustTest, ThresholdShowsAt126AtOnceFollowsTheSliderAndCancelRestores) {
  const auto at = [&](int level) {
    return Expected([level](KvImgImage s, KvImgImage d) {
      KvImgRGB2GRAY(s, d);
      KvImgThreshold(d, d, level);
    });
  };
  auto* dlg = new CImageOptDlg(CImageOptDlg::kThreshold);
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(dlg->windowTitle(), "Threshold");
    EXPECT_EQ(dlg->Slider()->value(), 126);
    EXPECT_EQ(ui::FindCtrl<QLabel>(dlg, CImageOptDlg::kValue)->text(), "126");
    EXPECT_EQ(FramePixels(*camera), at(126));
    EXPECT_NE(at(126), original);
    // The operator drags the slider: the frame follows from the backup each time.
    dlg->Slider()->setValue(40);
    EXPECT_EQ(FramePixels(*camera), at(40));
    QTest::keyClick(dlg->Slider(), Qt::Key_End);
    EXPECT_EQ(ui::FindCtrl<QLabel>(dlg, CImageOptDlg::kValue)->text(), "255");
    EXPECT_EQ(FramePixels(*camera), at(255));
    QTest::mouseClick(ui::FindCtrl<QPushButton>(dlg, ui::kIdCancel), Qt::LeftButton);
  });
  EXPECT_EQ(dlg->exec(), QDialog::Rejected);
  EXPECT_EQ(FramePixels(*camera), original);
  EXPECT_GT(host.redraws, 0);
  delete dlg;
}

TEST_F(AdjustTest, BrightnessStartsUnchangedAndOkKeepsTheResult) {
  auto* dlg = new CImageOptDlg(CImageOptDlg::kBrightness);
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(dlg->windowTitle(), "Brightness");
    EXPECT_EQ(dlg->Slider()->minimum(), -255);
    EXPECT_EQ(dlg->Slider()->value(), 0);
    EXPECT_EQ(FramePixels(*camera), original);
    dlg->Slider()->setValue(-60);
    dlg->Slider()->setValue(90);
    QTest::mouseClick(ui::FindCtrl<QPushButton>(dlg, ui::kIdOk), Qt::LeftButton);
  });
  EXPECT_EQ(dlg->exec(), QDialog::Accepted);
  EXPECT_EQ(FramePixels(*camera), Expected([](KvImgImage s, KvImgImage d) { KvImgBrightness(s, d, 90); }));
  delete dlg;
}

TEST_F(AdjustTest, WithoutAStillImageTheDialogCancelsAtOnce) {
  camera->FreeFrameBuffer();
  CImageOptDlg dlg(CImageOptDlg::kThreshold);
  EXPECT_EQ(dlg.exec(), QDialog::Rejected);
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(AdjustTest, AnImageOfAnotherSizeIsNeverWrittenFromTheBackup) {
  CImageOptDlg dlg(CImageOptDlg::kBrightness);
  // Another image is opened while the dialog is up: smaller than the backup.
  SetStill(*camera, TexturedSample(9, 4, 1));
  const auto other = FramePixels(*camera);
  dlg.Slider()->setValue(50);
  EXPECT_EQ(FramePixels(*camera), other);
  dlg.reject();
  EXPECT_EQ(FramePixels(*camera), other);
}

TEST_F(AdjustTest, GrayStretchFollowsTheDraggedPointsAndCancelRestores) {
  const auto stretched = [&](int x1, int y1, int x2, int y2) {
    return Expected([=](KvImgImage s, KvImgImage d) {
      KvImgRGB2GRAY(s, d);
      KvImgGrayStretch(d, d, float(x1), float(y1), float(x2), float(y2));
    });
  };
  QPointer<CGrayStretchDlg> dlg = new CGrayStretchDlg;
  dlg->show();
  EXPECT_EQ(dlg->windowTitle(), "Gray Stretch");
  EXPECT_EQ(ui::FindCtrl<QLineEdit>(dlg, CGrayStretchDlg::kEditX1)->text(), "84");
  EXPECT_EQ(ui::FindCtrl<QLineEdit>(dlg, CGrayStretchDlg::kEditY2)->text(), "168");
  EXPECT_EQ(FramePixels(*camera), stretched(84, 84, 168, 168));

  // Point 1 sits at graph (4 + 84, 256 - 84) x 1.5; grab it and drag it up and right.
  QWidget* graph = dlg->Graph();
  const QPoint p1(int((84 + 4) * 1.5), int((256 - 84) * 1.5));
  Move(graph, p1);
  Press(graph, p1);
  Move(graph, QPoint(int(120 * 1.5), int((256 - 30) * 1.5)), true);
  EXPECT_EQ(dlg->X1(), 120);
  EXPECT_EQ(dlg->Y1(), 30);
  EXPECT_EQ(ui::FindCtrl<QLineEdit>(dlg, CGrayStretchDlg::kEditX1)->text(), "120");
  EXPECT_EQ(ui::FindCtrl<QLineEdit>(dlg, CGrayStretchDlg::kEditY1)->text(), "30");
  EXPECT_EQ(FramePixels(*camera), stretched(120, 30, 168, 168));
  // It can pass neither point 2 nor the graph's edge.
  Move(graph, QPoint(385, 2), true);
  EXPECT_EQ(dlg->X1(), 168);
  EXPECT_EQ(dlg->Y1(), 168);
  Move(graph, QPoint(-50, 389), true);
  EXPECT_EQ(dlg->X1(), 0);
  EXPECT_EQ(dlg->Y1(), 0);
  Release(graph, QPoint(-50, 389));
  // Released: moving no longer drags.
  Move(graph, QPoint(200, 200));
  EXPECT_EQ(dlg->X1(), 0);
  EXPECT_EQ(FramePixels(*camera), stretched(0, 0, 168, 168));

  // Point 2 stays above point 1 and inside the graph.
  const QPoint p2(int((168 + 4) * 1.5), int((256 - 168) * 1.5));
  Move(graph, p2);
  Press(graph, p2);
  Move(graph, QPoint(389, -40), true);
  EXPECT_EQ(dlg->X2(), 255);
  EXPECT_EQ(dlg->Y2(), 255);
  Release(graph, QPoint(389, -40));

  // The curve runs through the points: red dots where they are.
  EXPECT_EQ(dlg->CurvePicture().pixel(4, 256), qRgb(255, 0, 0));
  dlg->reject();
  EXPECT_EQ(FramePixels(*camera), original);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(dlg.isNull());  // closing deletes it
}

TEST_F(AdjustTest, GrayStretchWithoutAStillImageChangesNoPixels) {
  // No still image at the start: the curve works, the frame is never touched.
  camera->FreeFrameBuffer();
  auto dlg = std::make_unique<CGrayStretchDlg>();
  dlg->show();
  SetStill(*camera, TexturedSample(8, 8, 2));
  const auto later = FramePixels(*camera);
  QWidget* graph = dlg->Graph();
  const QPoint p1(int((84 + 4) * 1.5), int((256 - 84) * 1.5));
  Move(graph, p1);
  Press(graph, p1);
  Move(graph, QPoint(60, 300), true);
  Release(graph, QPoint(60, 300));
  EXPECT_EQ(dlg->X1(), 40);
  EXPECT_EQ(FramePixels(*camera), later);
  dlg->reject();
  EXPECT_EQ(FramePixels(*camera), later);
}
