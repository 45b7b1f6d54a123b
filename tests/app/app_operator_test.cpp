// The window as an operator uses it for an hour, through its widgets: the text tool over a
// shape, Live after Stop on another camera, the focus assistant in the real window, another
// camera chosen, hidden measurements, the magnifier, the layer editor's boxes, read-outs, the
// paused status bar and the file dialogs' folders.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "app_support.h"
#include "app/AboutDlg.h"
#include "editors/LayerDlg.h"
#include "editors/LayerTree.h"
#include "editors/RemarkDlg.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupIds.h"
#include "ui/DialogBuilder.h"

namespace {

class OperatorTest : public FrameTest {
 protected:
  // A command as the operator gives it: its button on a toolbar when it has one, else its menu item.
  void Command(int id) {
    QAction* action = frame().Router().Action(id);
    for (QToolBar* bar : {frame().MainToolBar(), frame().MeasureToolBar()})
      if (QWidget* button = bar->widgetForAction(action); button && button->isVisible()) {
        QTest::mouseClick(button, Qt::LeftButton);
        return;
      }
    action->trigger();
  }
  template <class T = QWidget>
  T* Panel(int id) {
    return qobject_cast<T*>(frame().CameraPanel()->Ctrl(id));
  }
  // Chooses entry `index` of a panel list with the keyboard, as the operator may.
  void Choose(int listId, int index) {
    QComboBox* list = Panel<QComboBox>(listId);
    list->setFocus();
    while (list->currentIndex() < index) QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index) QTest::keyClick(list, Qt::Key_Up);
  }
  QString DeviceOfCurrent() {
    stCameraItem item;
    if (camera().GetCurCameraItem(&item) < 0) return {};
    return QString::fromUtf8(item.device.deviceName);
  }
  // Runs the event loop (and the panel's clock) until `done` or `ms` passed.
  static bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }
  // The mean grey of what the image window shows.
  double ShownMean() {
    const QImage& p = view().ImageWindow()->LastPicture();
    if (p.isNull()) return -1;
    double sum = 0;
    for (int y = 0; y < p.height(); y += 4)
      for (int x = 0; x < p.width(); x += 4) sum += qGray(p.pixel(x, y));
    return sum / double(((p.height() + 3) / 4) * ((p.width() + 3) / 4));
  }
  void UpdateStatus() { frame().UpdateCaptureStatus(); }
  static QString Hint(std::uint32_t id) { return QString::fromStdU16String(LoadStringW(id)); }
  CLayerCtrlDlg* LayerTree() { return frame().LayerPaneWidget()->Dialog()->LayerTree(); }
};

}  // namespace

TEST_F(OperatorTest, TextClickOverAShapePlacesATextAndNeverMovesOrGrabsTheShape) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  Command(ids::kRectangle);
  Click(ClientOf(100, 100));
  Click(ClientOf(200, 180));
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  const std::vector<POINT> before = engine().GetMeasure(0)->m_arrPoint;

  Command(ids::kText);
  const QPoint inside = ClientOf(150, 140);
  QTest::mouseMove(&view(), inside);
  QWidget* grabbedMeanwhile = &view();
  const bool opened = AnswerModal([&] { QTest::mousePress(&view(), Qt::LeftButton, {}, inside); },
                                  [&](QWidget* dlg) {
                                    grabbedMeanwhile = QWidget::mouseGrabber();
                                    auto* edit = ui::FindCtrl<QLineEdit>(dlg, CRemarkDlg::kText);
                                    ASSERT_NE(edit, nullptr);
                                    QTest::keyClicks(edit, "note");
                                    QTest::keyClick(edit, Qt::Key_Return);  // closed with Enter
                                  });
  ASSERT_TRUE(opened);
  EXPECT_EQ(grabbedMeanwhile, nullptr);  // the dialog has the mouse, nothing holds it
  QTest::mouseRelease(&view(), Qt::LeftButton, {}, inside);
  // The pointer moves on with no button held: the rectangle stays where it was.
  QTest::mouseMove(&view(), ClientOf(300, 250));
  QTest::mouseMove(&view(), ClientOf(20, 20));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  EXPECT_EQ(engine().GetMeasure(0)->m_arrPoint, before);
  ASSERT_EQ(engine().GetRemarkCount(), 1);
  const stRemark* note = engine().GetRemark(0);
  EXPECT_EQ(WString(note->m_szText), u"note");
  EXPECT_EQ(note->m_ptText.x, 150);
  EXPECT_EQ(note->m_ptText.y, 140);
  // The next click is an ordinary one again: it does not place a second text.
  Click(ClientOf(30, 250));
  EXPECT_EQ(engine().GetRemarkCount(), 1);
  EXPECT_EQ(engine().GetMeasure(0)->m_arrPoint, before);
}

TEST_F(OperatorTest, LiveAfterStopOpensTheCameraTheListShows) {
  CamSdkTestSetModels("color,mono,single");
  frame().DetectCameras();
  Choose(camsetup::kCameraCombo, 2);
  const QString third = Panel<QComboBox>(camsetup::kCameraCombo)->currentText();
  Command(ids::kLive);
  EXPECT_EQ(DeviceOfCurrent(), third);
  Command(ids::kStop);
  ASSERT_EQ(camera().GetOpenedCount(), 0);
  Command(ids::kLive);
  EXPECT_EQ(DeviceOfCurrent(), third);
  EXPECT_EQ(camera().GetOpenedCount(), 1);
  EXPECT_EQ(Panel<QComboBox>(camsetup::kCameraCombo)->currentIndex(), 2);
}

TEST_F(OperatorTest, AnotherCameraChosenClearsThePictureAndTheRate) {
  CamSdkTestSetModels("color,mono");
  frame().DetectCameras();
  const int color = GoLive(3);
  UpdateStatus();
  ASSERT_NE(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
  ASSERT_TRUE(view().ImageWindow()->isVisible());

  Choose(camsetup::kCameraCombo, 1);  // the mono camera, not open
  EXPECT_FALSE(view().ImageWindow()->isVisible());
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
  // The colour camera still streams, and nothing of it reaches the screen.
  const std::uint64_t paints = view().ImageWindow()->paints;
  CamSdkTestDeliverFrames(color, 3);
  QApplication::processEvents();
  EXPECT_EQ(view().ImageWindow()->paints, paints);
  UpdateStatus();
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");

  // Chosen again, it shows its frames once more.
  Choose(camsetup::kCameraCombo, 0);
  CamSdkTestDeliverFrames(color, 2);
  QApplication::processEvents();
  EXPECT_TRUE(view().ImageWindow()->isVisible());
  EXPECT_GT(view().ImageWindow()->paints, paints);
}

TEST_F(OperatorTest, PausedShowsNoFrameRate) {
  GoLive(5);
  UpdateStatus();
  ASSERT_NE(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
  Command(ids::kLive);  // pause
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  ASSERT_EQ(item.state, CAMERA_PAUSED);
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
  QApplication::processEvents();
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");
}

TEST_F(OperatorTest, FocusAssistantInTheWindowShowsALivePictureAndEndsWithAnotherCamera) {
  CamSdkTestSetModels("sum,color");
  frame().DetectCameras();
  const int sum = Panel<QComboBox>(camsetup::kCameraCombo)->findText("Q7V-UC300F 0004");
  const int other = 1 - sum;
  ASSERT_GE(sum, 0);
  Choose(camsetup::kCameraCombo, sum);
  const int handle = GoLive(2);
  int selBefore = -1;
  CAMSDK_OK(CameraGetImageSizeSel(handle, &selBefore, CAMSDK_SIZE_PREVIEW));
  auto* box = Panel<QCheckBox>(camsetup::kFocusAssistCheck);
  ASSERT_TRUE(box->isEnabled());
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  ASSERT_TRUE(box->isChecked());
  EXPECT_EQ(view().HintText(), Hint(camsetup::kFocusSearchingHint));
  // Searching: the panel answers, the camera list included, and the picture is a live one.
  EXPECT_TRUE(frame().CameraPanel()->isEnabled());
  EXPECT_TRUE(Panel(camsetup::kCameraCombo)->isEnabled());
  double darkest = 255;
  const bool active = WaitFor(
      [&] {
        CamSdkTestDeliverFrames(handle, 1);
        QApplication::processEvents();
        if (frame().CameraPanel()->IsBusy()) darkest = std::min(darkest, ShownMean());
        return !frame().CameraPanel()->IsBusy();
      },
      30000);
  ASSERT_TRUE(active);
  EXPECT_GT(darkest, 60.0);  // never a black picture
  ASSERT_TRUE(box->isChecked()) << view().HintText().toStdString();
  EXPECT_EQ(view().HintText(), Hint(camsetup::kFocusActiveHint));
  EXPECT_EQ(camera().GetFrameMode(), CCameraProcess::FrameMode::kBrightened);

  // Another camera chosen: the assistant ends, and the camera it ran on gets its resolution back.
  Choose(camsetup::kCameraCombo, other);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(camera().GetFrameMode(), CCameraProcess::FrameMode::kPlain);
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(sel, selBefore);
}

TEST_F(OperatorTest, AHiddenMeasurementShowsNoSelection) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  frame().ShowLayerPane();
  Command(ids::kRectangle);
  Click(ClientOf(100, 100));
  Click(ClientOf(200, 180));
  QTest::mouseMove(&view(), ClientOf(10, 290));  // off the shape: no hover handles
  const auto greenPixels = [this] {
    QApplication::processEvents();
    view().ImageWindow()->repaint();
    const QImage& p = view().ImageWindow()->LastPicture();
    int n = 0;
    for (int y = 0; y < p.height(); ++y)
      for (int x = 0; x < p.width(); ++x) n += p.pixel(x, y) == qRgb(0, 255, 0);
    return n;
  };
  ASSERT_GT(greenPixels(), 20);  // the finished rectangle is selected
  auto* visible = ui::FindCtrl<QCheckBox>(LayerTree(), CLayerCtrlDlg::kVisible);
  ASSERT_TRUE(visible->isChecked());
  QTest::mouseClick(visible, Qt::LeftButton, {}, QPoint(8, visible->height() / 2));
  ASSERT_FALSE(engine().GetMeasure(0)->m_bVisible);
  EXPECT_EQ(greenPixels(), 0);
}

TEST_F(OperatorTest, TheMagnifierFollowsThePictureAndClearsWhenThePointerLeaves) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  frame().ShowLayerPane();
  CLayerDlg* layers = frame().LayerPaneWidget()->Dialog();
  layers->ViewTab()->setCurrentIndex(0);  // "Amplification"
  QApplication::processEvents();
  const QPoint at = ClientOf(120, 150);
  QTest::mouseMove(&view(), at);
  const QImage before = layers->Picture();
  ASSERT_FALSE(before.isNull());

  Command(ids::kGrayBalance);  // the picture changes under the resting pointer
  ASSERT_TRUE(WaitFor([&] { return layers->Picture() != before; }, 2000));
  // What it shows is the new picture at the same place.
  const QImage after = layers->Picture();
  view().UpdateMagnifier(at.x(), at.y());
  EXPECT_EQ(layers->Picture(), after);

  // Off the image (the grey around it) and out of the view: nothing stays standing.
  const QRect img = view().ImageWindow()->geometry();
  QTest::mouseMove(&view(), QPoint(img.right() + 20, img.bottom() + 20));
  EXPECT_TRUE(layers->Picture().isNull());
  QTest::mouseMove(&view(), at);
  ASSERT_FALSE(layers->Picture().isNull());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&view(), &leave);
  EXPECT_TRUE(layers->Picture().isNull());
  // A later picture does not bring it back while the pointer is away.
  view().RedrawImage();
  view().ImageWindow()->repaint();
  EXPECT_TRUE(layers->Picture().isNull());
}

TEST_F(OperatorTest, LayerEditorBoxesShowTheSelectedRowAndNothingForTheRoot) {
  ShowStill(400, 300);
  frame().OnZoomOriginal();
  frame().ShowLayerPane();
  for (int y : {60, 160}) {
    Command(ids::kLine);
    Click(ClientOf(50, y));
    Click(ClientOf(250, y + 20));
  }
  auto* tree = ui::FindCtrl<QTreeWidget>(LayerTree(), CLayerCtrlDlg::kTree);
  auto* visible = ui::FindCtrl<QCheckBox>(LayerTree(), CLayerCtrlDlg::kVisible);
  auto* lock = ui::FindCtrl<QCheckBox>(LayerTree(), CLayerCtrlDlg::kLock);
  QTreeWidgetItem* root = tree->topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  auto clickRow = [tree](QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  };
  auto clickBox = [](QCheckBox* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2)); };

  clickRow(root->child(0));
  clickBox(visible);  // the first line hidden
  clickBox(lock);     // and locked
  ASSERT_FALSE(engine().GetMeasure(0)->m_bVisible);
  ASSERT_TRUE(engine().GetMeasure(0)->m_bLocked);

  clickRow(root->child(1));
  EXPECT_TRUE(visible->isChecked());
  EXPECT_FALSE(lock->isChecked());
  EXPECT_TRUE(visible->isEnabled());

  clickRow(root);  // "Measure": no measurement, no boxes
  EXPECT_FALSE(visible->isEnabled());
  EXPECT_FALSE(lock->isEnabled());
  EXPECT_FALSE(visible->isChecked());
  EXPECT_FALSE(lock->isChecked());
  clickBox(visible);  // a disabled box takes no click
  EXPECT_FALSE(engine().GetMeasure(0)->m_bVisible);
  EXPECT_TRUE(engine().GetMeasure(1)->m_bVisible);

  clickRow(root->child(0));
  EXPECT_TRUE(visible->isEnabled());
  EXPECT_FALSE(visible->isChecked());
  EXPECT_TRUE(lock->isChecked());
}

TEST_F(OperatorTest, ReadOutsLookReadOnlyAndTheGainFieldTakesTyping) {
  GoLive(2);
  auto* target = Panel<QLineEdit>(camsetup::kAeTargetReadout);
  auto* gain = Panel<QLineEdit>(camsetup::kAnalogGainReadout);
  ASSERT_NE(target, nullptr);
  const QString shown = target->text();
  QTest::mouseClick(target, Qt::LeftButton);
  EXPECT_FALSE(target->hasFocus());
  QTest::keyClicks(target, "99");
  EXPECT_EQ(target->text(), shown);
  EXPECT_EQ(target->palette().color(QPalette::Base), target->palette().color(QPalette::Window));

  // The gain field takes a typed gain while the gain slider is usable, and looks like it.
  auto* autoExposure = Panel<QCheckBox>(camsetup::kAutoExposureCheck);
  if (autoExposure->isChecked()) QTest::mouseClick(autoExposure, Qt::LeftButton, {}, QPoint(8, autoExposure->height() / 2));
  ASSERT_TRUE(Panel(camsetup::kAnalogGainSlider)->isEnabled());
  EXPECT_FALSE(gain->isReadOnly());
  EXPECT_NE(gain->palette().color(QPalette::Base), gain->palette().color(QPalette::Window));
  QTest::mouseClick(gain, Qt::LeftButton);
  EXPECT_TRUE(gain->hasFocus());
  gain->selectAll();
  QTest::keyClicks(gain, "2");
  QTest::keyClick(gain, Qt::Key_Return);
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  float g = 0;
  CAMSDK_OK(CameraGetAnalogGain(item.handle, &g));
  EXPECT_NEAR(g, 2.0, 0.13);
}

TEST_F(OperatorTest, LayerFileDialogsOpenInDocumentsThenInTheFolderLastUsed) {
  // A home of the test's own, with a Documents folder in it.
  const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
  const QString home = dir_.filePath("home");
  QDir().mkpath(home + "/Documents");
  QDir().mkpath(home + "/elsewhere");
  qputenv("HOME", home.toUtf8());
  qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
  struct Restore {
    QByteArray home, config;
    ~Restore() {
      qputenv("HOME", home);
      if (config.isEmpty()) qunsetenv("XDG_CONFIG_HOME"); else qputenv("XDG_CONFIG_HOME", config);
    }
  } restore{oldHome, oldConfig};
  view().fileDialog = [this](bool open, bool multi, const QString& filter, const QString& defExt) {
    return RunFileDialogEx(&view(), open, multi, filter, defExt,
                           view().DialogFolder(filter.contains(QStringLiteral("kvmi"))));
  };
  ShowStill(320, 240);
  Command(ids::kLine);
  Click(ClientOf(20, 20));
  Click(ClientOf(200, 100));

  QString firstFolder;
  const QString target = QDir(home + "/elsewhere").filePath("lines.kvmi");
  ASSERT_TRUE(AnswerModal([&] { Command(ids::kSaveLayers); },
                          [&](QWidget* w) {
                            auto* dlg = qobject_cast<QFileDialog*>(w);
                            ASSERT_NE(dlg, nullptr);
                            firstFolder = dlg->directory().absolutePath();
                            auto* name = dlg->findChild<QLineEdit*>("fileNameEdit");
                            ASSERT_NE(name, nullptr);
                            name->setText(target);
                            QTest::keyClick(name, Qt::Key_Return);
                          }));
  EXPECT_EQ(firstFolder, QDir(home + "/Documents").absolutePath());
  EXPECT_TRUE(QFileInfo::exists(target));

  QString secondFolder;
  ASSERT_TRUE(AnswerModal([&] { Command(ids::kLoadLayers); },
                          [&](QWidget* w) {
                            auto* dlg = qobject_cast<QFileDialog*>(w);
                            ASSERT_NE(dlg, nullptr);
                            secondFolder = dlg->directory().absolutePath();
                            QTest::keyClick(dlg, Qt::Key_Escape);
                          }));
  EXPECT_EQ(secondFolder, QDir(home + "/elsewhere").absolutePath());
  // Never the program's own data folder (the working folder of a start from the menu).
  EXPECT_NE(secondFolder, QDir::currentPath());
}
