// How a session ends and what the next one finds: the layers of a camera opened in the session
// are kept, a camera never opened leaves its saved layers alone; a signal or the session
// manager closes the program as the close box does, without a box, in-process and as the real
// program.
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>

#include "app/QuitSignals.h"
#include "tests/app/app_support.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window's saved geometry in the settings store `file`, empty when none was saved.
QByteArray SavedGeometry(const std::filesystem::path& file) {
  SetRegistryFile(file);
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Window", KEY_READ) != ERROR_SUCCESS) return {};
  const auto v = key.QueryBinary(u"Geometry");
  return v ? QByteArray(reinterpret_cast<const char*>(v->data()), qsizetype(v->size())) : QByteArray();
}

class SessionTest : public FrameTest {
 protected:
  // The window closed and a new one opened in the same folder: the next session.
  void NextSession() {
    frame().close();
    frame_.reset();
    frame_ = std::make_unique<CMainFrame>();
    frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->askYesNo = [this](const QString&, const QString& text) {
      questions.push_back(text);
      return false;
    };
    frame_->resize(1200, 800);
    frame_->show();
    QApplication::processEvents();
  }
  // A line drawn with the Line tool and two clicks on the image.
  void DrawLine(POINT a, POINT b) {
    frame().Router().Execute(ids::kLine);
    Click(ClientOf(a.x, a.y));
    Click(ClientOf(b.x, b.y));
  }
  QString Layers() const { return dir_.filePath("Default.kvmi"); }
};

}  // namespace

// Session 1 draws a line on the live camera; session 2 has the camera listed but never opens
// it; session 3 finds the line when it goes live.
TEST_F(SessionTest, ASessionThatNeverOpenedTheCameraKeepsTheSavedLayers) {
  GoLive();
  DrawLine({100, 100}, {400, 300});
  ASSERT_EQ(engine().GetMeasureCount(), 1);
  NextSession();
  const QByteArray saved = ReadAll(Layers());
  ASSERT_TRUE(saved.contains("LayerTotal=1")) << saved.toStdString();

  frame().DetectCameras();
  ASSERT_GT(camera().GetCameraCount(), 0);  // listed, never opened
  NextSession();
  EXPECT_EQ(ReadAll(Layers()), saved);

  GoLive();
  EXPECT_EQ(engine().GetMeasureCount(), 1);
  EXPECT_TRUE(messages.empty());
}

// Stop clears the measurements from the view: they are kept first, and the next Live (in this
// session or the next) brings them back.
TEST_F(SessionTest, StopKeepsTheMeasurementsForTheNextLive) {
  GoLive();
  DrawLine({50, 60}, {300, 200});
  frame().Router().Execute(ids::kStop);
  EXPECT_EQ(engine().GetMeasureCount(), 0);
  NextSession();
  GoLive();
  EXPECT_EQ(engine().GetMeasureCount(), 1);
  // A still image opened stops the camera the same way.
  DrawLine({60, 60}, {200, 250});
  ASSERT_EQ(engine().GetMeasureCount(), 2);
  camera().StopAllCameras();
  GoLive();
  EXPECT_EQ(engine().GetMeasureCount(), 2);
}

// A signal, raised for real, closes the window through the watcher: the layers and the window
// state are saved as by the close box; a failure to save them (a folder where the default layer
// file should be) is logged, not put in a box.
TEST_F(SessionTest, ASignalClosesAsTheCloseBoxDoesAndAsksNothing) {
  GoLive();
  DrawLine({100, 100}, {400, 300});
  std::vector<int> received;
  {
    QuitSignalWatcher watcher([&](int s) {
      received.push_back(s);
      frame().CloseQuietly();
    });
    ASSERT_TRUE(watcher.Active());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    for (int i = 0; i < 200 && received.empty(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ASSERT_EQ(received, std::vector<int>{SIGTERM});
  EXPECT_FALSE(frame().isVisible());
  EXPECT_TRUE(ReadAll(Layers()).contains("LayerTotal=1"));
  EXPECT_FALSE(SavedGeometry(std::filesystem::path(dir_.filePath("registry.dat").toStdString())).isEmpty());

  NextSession();
  GoLive();
  QFile::remove(Layers());
  ASSERT_TRUE(QDir(dir_.path()).mkdir("Default.kvmi"));
  {
    QuitSignalWatcher watcher([&](int) { frame().CloseQuietly(); });
    ASSERT_EQ(std::raise(SIGHUP), 0);
    for (int i = 0; i < 200 && frame().isVisible(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  EXPECT_FALSE(frame().isVisible());
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(questions.empty());
}

// The real program, started as a user would and ended by a signal: it exits normally, the
// window state is saved, the lock is gone, and the saved layers of a camera it never opened are
// as they were.
TEST(ProgramSession, SignalsEndTheProgramAsTheCloseBoxDoes) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    QTemporaryDir dir;
    const QString registry = dir.filePath("r.dat");
    // What an earlier session left: the layers of a camera.
    {
      CMeasureManager mm;
      mm.OnMeasureLButtonDown(10, 10, 258, 1);
      mm.OnMeasureMouseMove(200, 100);
      mm.OnMeasureLButtonDown(200, 100, 256, 0);
      ASSERT_TRUE(mm.SaveLayers(std::filesystem::path(dir.filePath("Default.kvmi").toStdString()), u"Q7V-UC500C", 0));
    }
    const QByteArray layers = ReadAll(dir.filePath("Default.kvmi"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("Q7V_REGISTRY_FILE", registry);
    env.insert("Q7V_CAMSDK_CONFIG_DIR", dir.path());
    env.remove("SESSION_MANAGER");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(Q7V_APP_EXE, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // The lock is taken once the signals are watched: a signal from then on, even before the
    // window is up, is handled once the program runs.
    const QString lock = dir.filePath("Q7V-Measuring Software.lock");
    for (int i = 0; i < 400 && !QFileInfo::exists(lock); ++i) QThread::msleep(25);
    ASSERT_TRUE(QFileInfo::exists(lock));
    ASSERT_EQ(::kill(pid_t(program.processId()), signal), 0);
    ASSERT_TRUE(program.waitForFinished(30000)) << signal;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << signal;
    EXPECT_EQ(program.exitCode(), 0) << signal;
    EXPECT_FALSE(QFileInfo::exists(lock)) << signal;
    EXPECT_EQ(ReadAll(dir.filePath("Default.kvmi")), layers) << signal;
    EXPECT_FALSE(SavedGeometry(registry.toStdString()).isEmpty()) << signal;
  }
  SetRegistryFile({});
}
