// Every dialog and pane of the program, rendered for reviewers.
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>
#include <QWidget>

#include "ui/TipDlg.h"
#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "app/screenshots/Shots.h"
#include "app/screenshots/EditorShots.h"
#include "editors/LayerDlg.h"
#include "app/screenshots/CamSetupShots.h"
#include "imaging/GrayStretchDlg.h"
#include "imaging/ImageListDlg.h"
#include "imaging/ImageListPane.h"
#include "imaging/ImagePrsDlg.h"
#include "imaging/ThresholdDlg.h"
#include "options/OptionsDlg.h"

namespace {

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Save(QWidget& w, const QString& out, const QString& name, const QString& lang) {
  w.show();
  Pump(150);
  w.grab().save(QDir(out).filePath(name + "-" + lang + ".png"));
  w.hide();
}

void Click(CMainFrame& frame, QPoint p) {
  QTest::mouseMove(frame.View(), p);
  Pump(40);
  QTest::mousePress(frame.View(), Qt::LeftButton, {}, p);
  QTest::mouseRelease(frame.View(), Qt::LeftButton, {}, p);
}

// One measurement of every kind, the arrow and cross remarks and a text, on the still image.
void DrawEveryKind(CMainFrame& frame) {
  const QRect r = frame.View()->ImageWindow()->geometry();
  auto at = [&r](double fx, double fy) { return QPoint(r.left() + int(r.width() * fx), r.top() + int(r.height() * fy)); };
  struct Shape {
    int command;
    std::vector<QPointF> points;
    bool right;
  };
  const std::vector<Shape> shapes = {
      {ids::kPoint, {{0.05, 0.05}, {0.08, 0.07}}, true},
      {ids::kLine, {{0.12, 0.05}, {0.30, 0.08}}, false},
      {ids::kParallel, {{0.35, 0.05}, {0.50, 0.05}, {0.45, 0.12}}, false},
      {ids::kFoldLine, {{0.55, 0.05}, {0.62, 0.12}, {0.70, 0.06}}, true},
      {ids::kAngle, {{0.75, 0.15}, {0.82, 0.04}, {0.92, 0.15}}, false},
      {ids::kRectangle, {{0.05, 0.25}, {0.18, 0.38}}, false},
      {ids::kRoundRect, {{0.22, 0.25}, {0.35, 0.38}}, false},
      {ids::kEllipse, {{0.40, 0.25}, {0.55, 0.38}}, false},
      {ids::kCircle2, {{0.60, 0.30}, {0.70, 0.30}}, false},
      {ids::kCircle3, {{0.78, 0.25}, {0.85, 0.32}, {0.80, 0.38}}, false},
      {ids::kPolygon, {{0.05, 0.50}, {0.15, 0.45}, {0.20, 0.60}, {0.08, 0.62}}, true},
      {ids::kArc3, {{0.25, 0.55}, {0.32, 0.45}, {0.40, 0.55}}, false},
      {ids::kLineToLine, {{0.45, 0.45}, {0.60, 0.47}, {0.45, 0.58}, {0.60, 0.60}}, false},
      {ids::kPointToLine, {{0.70, 0.45}, {0.90, 0.50}, {0.80, 0.60}}, false},
      {ids::kCircleToCircle,
       {{0.05, 0.72}, {0.10, 0.68}, {0.14, 0.75}, {0.25, 0.72}, {0.30, 0.68}, {0.34, 0.75}},
       false},
      {ids::kCircleToLine, {{0.45, 0.70}, {0.50, 0.66}, {0.54, 0.73}, {0.40, 0.85}, {0.65, 0.85}}, false},
      {ids::kArrow, {{0.72, 0.70}, {0.85, 0.80}}, false},
      {ids::kCross, {{0.90, 0.72}, {0.95, 0.78}}, false},
  };
  for (const Shape& s : shapes) {
    frame.Router().Execute(s.command);
    for (const QPointF& f : s.points) Click(frame, at(f.x(), f.y()));
    if (s.right) {
      const QPoint last = at(s.points.back().x(), s.points.back().y());
      QTest::mousePress(frame.View(), Qt::RightButton, {}, last);
      QTest::mouseRelease(frame.View(), Qt::RightButton, {}, last);
    }
  }
  frame.View()->MeasureManager()->AddRemark(60, 1750,
                                            u"Sample A", 60, 0x00FF0000);
}

}  // namespace

void RenderDialogs(CMainFrame& frame, const QString& out, const QString& lang) {
  // The view with every kind of measurement, the magnifier in the layer editor, and a camera
  // rectangle being dragged.
  frame.View()->MeasureManager()->ResetMeasurements();
  frame.View()->MeasureManager()->RemoveAllRemarks();
  frame.ClearLayers();
  DrawEveryKind(frame);
  frame.ShowLayerPane();
  frame.SetLayerPanelMode(LayerPanelView::kMagnifier);
  if (auto* tab = frame.LayerPaneWidget()->Dialog()->findChild<QTabBar*>()) tab->setCurrentIndex(0);
  frame.CameraObject().SetRoi(true, 1800, 1300, 2400, 1800);
  frame.View()->RedrawImage();
  const QRect r = frame.View()->ImageWindow()->geometry();
  QTest::mouseMove(frame.View(), r.topLeft() + QPoint(r.width() * 3 / 10, r.height() / 2));
  Pump(300);
  frame.grab().save(QDir(out).filePath("main-measure-" + lang + ".png"));
  // The layer editor as docked in the window: both tab bars with their captions, broken into
  // two lines where the pane is narrow.
  frame.LayerPane()->grab().save(QDir(out).filePath("layer-pane-" + lang + ".png"));
  frame.CameraObject().SetRoi(false, 0, 0, 0, 0);

  // The image list with thumbnails of saved stills.
  for (int i = 0; i < 4; ++i) {
    const QString path = QDir(out).filePath(QString("list-%1").arg(i));
    frame.CameraObject().SaveImageBmp(path.toStdU16String());
    frame.AddImageFile(path + ".bmp");
  }
  frame.OnImageListView();
  Pump(800);
  frame.grab().save(QDir(out).filePath("main-imagelist-" + lang + ".png"));
  for (int i = 0; i < 4; ++i) QFile::remove(QDir(out).filePath(QString("list-%1.bmp").arg(i)));

  for (int page = 0; page < 5; ++page) {
    COptionsDlg dlg(page, &frame);
    Save(dlg, out, QString("options-page%1").arg(page), lang);
  }
  {
    CImageOptDlg threshold(CImageOptDlg::kThreshold, &frame);
    Save(threshold, out, "threshold", lang);
    threshold.reject();
    CImageOptDlg brightness(CImageOptDlg::kBrightness, &frame);
    Save(brightness, out, "brightness", lang);
    brightness.reject();
  }
  {
    auto* stretch = new CGrayStretchDlg(&frame);
    Save(*stretch, out, "graystretch", lang);
    stretch->reject();
  }
  {
    auto* prs = new CImagePrsDlg(&frame);
    Save(*prs, out, "stitching", lang);
    prs->close();
  }
  {
    // The wait box a report or the dead-pixel search shows, with its OK and Cancel.
    auto* wait = new CTipDlg(&frame);
    Save(*wait, out, "waitbox", lang);
    wait->close();
  }
  {
    // The restart question after choosing the other language: asked in that language, its
    // text and its buttons.
    const UiLanguage other = lang == "zh" ? UiLanguage::English : UiLanguage::Chinese;
    const std::unique_ptr<QMessageBox> box =
        CMainFrame::MakeRestartBox(&frame, other, CMainFrame::RestartQuestion(other));
    Save(*box, out, "restart-question", lang);
  }
  editors::RenderEditorShots(out, lang);
  RenderCamSetupShots(out, lang);
}
