// Renders the main window into PNG files for reviewers: idle, live from the simulated camera
// with measurements, and a still image with measurements, in the language given.
// usage: q7v-screenshots OUTDIR en|zh
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <clocale>
#include <cstdio>

#include "app/AboutDlg.h"
#include "app/ApplicationView.h"
#include "app/Application.h"
#include "app/MainFrame.h"
#include "app/screenshots/Shots.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupPane.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/strings.h"

namespace {

void Wait(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

// Clicks the points of one shape with a tool command, as an operator would.
void DrawShape(CMainFrame& frame, int command, std::initializer_list<QPoint> points, bool rightToFinish) {
  CApplicationView* view = frame.View();
  frame.Router().Execute(command);
  for (QPoint p : points) {
    QTest::mouseMove(view, p);
    Wait(60);  // under a real display the pointer's move arrives as an event of its own
    QTest::mousePress(view, Qt::LeftButton, {}, p);
    QTest::mouseRelease(view, Qt::LeftButton, {}, p);
  }
  if (rightToFinish) {
    const QPoint last = *(points.end() - 1);
    QTest::mousePress(view, Qt::RightButton, {}, last);
    QTest::mouseRelease(view, Qt::RightButton, {}, last);
  }
}

// A measurement of several kinds over the image window's middle area.
void DrawSampleMeasurements(CMainFrame& frame) {
  const QRect r = frame.View()->ImageWindow()->geometry();
  auto at = [&r](double fx, double fy) { return QPoint(r.left() + int(r.width() * fx), r.top() + int(r.height() * fy)); };
  DrawShape(frame, ids::kLine, {at(0.10, 0.15), at(0.40, 0.20)}, false);                     // line
  DrawShape(frame, ids::kAngle, {at(0.55, 0.35), at(0.75, 0.15), at(0.90, 0.35)}, false);    // angle
  DrawShape(frame, ids::kCircle3, {at(0.15, 0.55), at(0.30, 0.40), at(0.42, 0.60)}, false);  // 3-point circle
  DrawShape(frame, ids::kRectangle, {at(0.55, 0.55), at(0.80, 0.80)}, false);                // rectangle
  DrawShape(frame, ids::kPolygon, {at(0.10, 0.75), at(0.25, 0.70), at(0.35, 0.90), at(0.12, 0.92)}, true);  // polygon
  QTest::mouseMove(frame.View(), at(0.5, 0.5));
}

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  if (argc < 3) {
    std::fprintf(stderr, "usage: q7v-screenshots OUTDIR en|zh\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QString lang = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);
  SetUiLanguage(lang == "zh" ? UiLanguage::Chinese : UiLanguage::English);
  ApplyQtUiLanguage(GetUiLanguage());  // the widget face and Qt's own texts, as the program has them
  if (!std::getenv("Q7V_CAMSDK_MODELS")) CamSdkTestSetModels("color");  // else the cameras it names

  CMainFrame frame;
  frame.askYesNo = [](const QString&, const QString&) { return false; };
  frame.messageBox = [](const QString&) {};
  frame.resize(1400, 900);
  frame.show();
  Wait(300);
  auto shot = [&](QWidget* w, const QString& name) {
    w->grab().save(QDir(out).filePath(name + "-" + lang + ".png"));
  };
  shot(&frame, "main-idle");

  // Live from the simulated camera, measurements drawn over it.
  frame.OnCameraLive();
  Wait(1500);
  DrawSampleMeasurements(frame);
  Wait(800);
  shot(&frame, "main-live");
  // The camera pane at the frame's size, and the whole panel it scrolls over.
  if (auto* dock = frame.findChild<QDockWidget*>("CameraPane")) shot(dock, "camera-pane");
  if (auto* pane = frame.findChild<CCamSetupPane*>()) shot(pane->Panel(), "camera-panel-full");

  // A still image: the live frame saved, the camera stopped, the file opened.
  const QString still = QDir(out).filePath("still-frame");
  frame.View()->MeasureManager()->ResetMeasurements();
  frame.ClearLayers();
  frame.CameraObject().SaveImageBmp(still.toStdU16String());
  frame.OnCameraStop();
  frame.View()->LoadBitmapFile(still + ".bmp");
  frame.OnZoomFitWindow();
  DrawSampleMeasurements(frame);
  Wait(300);
  shot(&frame, "main-still");
  QFile::remove(still + ".bmp");

  RenderDialogs(frame, out, lang);

  CAboutDlg about(&frame);
  about.show();
  Wait(100);
  shot(&about, "about");
  about.close();
  frame.close();
  return 0;
}
