// Faults an unattended run meets: a disk that fills up (a real small file system where the test
// may mount one, else the writer seam that fails like one), a camera unplugged while it plays,
// records and captures, layer files that do not load, captures faster than the clock's second,
// and a restart between numbered captures.
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <set>

#include "app_support.h"
#include "camera/BitmapFile.h"
#include "imaging/ImageListDlg.h"
#include "imaging/ImageListPane.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/durable_file.h"
#include "tests/fs_faults.h"

// From <sys/mount.h>, whose flag names clash with the engine's.
extern "C" int mount(const char* source, const char* target, const char* type, unsigned long flags, const void* data);
extern "C" int umount2(const char* target, int flags);

namespace {

constexpr int kDetach = 2;  // MNT_DETACH

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList FilesIn(const QString& folder) {
  QStringList out;
  for (QDirIterator it(folder, QDir::Files | QDir::Hidden); it.hasNext();) out << it.next();
  out.sort();
  return out;
}

// The writer seam's free space for one test.
struct ScopedDiskFull {
  explicit ScopedDiskFull(std::int64_t freeBytes, bool failClose = false) {
    DurableFaults f;
    f.freeBytes = freeBytes;
    f.failClose = failClose;
    SetDurableFaults(f);
  }
  ~ScopedDiskFull() { ClearDurableFaults(); }
};

// A tmpfs of `bytes` at `folder`, when the test may mount one.
struct SmallFileSystem {
  SmallFileSystem(const QString& folder, int kilobytes) : path(folder) {
    QDir().mkpath(folder);
    const QByteArray opts = "size=" + QByteArray::number(kilobytes) + "k";
    mounted = ::mount("tmpfs", folder.toUtf8().constData(), "tmpfs", 0, opts.constData()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) ::umount2(path.toUtf8().constData(), kDetach);
  }
  QString path;
  bool mounted = false;
};

}  // namespace

class FaultTest : public FrameTest {
 protected:
  // Captures as bitmaps written by the camera library (or by the program with the measurements)
  // into `folder`, at a small capture size so that hundreds of files stay small.
  void SetUpCapture(const QString& folder, bool withMeasurements = false) {
    stCameraItem item;
    camera().GetCurCameraItem(&item);
    ASSERT_EQ(CameraSetImageSize(item.handle, 1, 0, 0, 64, 48, CAMSDK_SIZE_CAPTURE), 1);
    CaptureInto(folder, withMeasurements);
  }
  // Runs the event loop until continuous capture has ended (a guard, not a timing).
  void RunContinuousCapture(int guardMs = 120000) {
    QElapsedTimer t;
    t.start();
    while (frame().continuousCapture && t.elapsed() < guardMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  int ImageListCount() { return static_cast<CImageListPane*>(frame().ImageListPane())->Dialog()->Count(); }
  // A new main frame over the same store and working folder, as after closing with the
  // window's close box and starting again.
  void Restart(const std::function<void()>& whileClosed = {}) {
    frame_->close();
    frame_.reset();
    if (whileClosed) whileClosed();
    CamSdkTestReset();
    CamSdkTestSetModels("color");
    CamSdkTestSetSynchronous(true);
    SetRegistryFile(std::filesystem::path(dir_.filePath("registry.dat").toStdString()));  // read afresh
    frame_ = std::make_unique<CMainFrame>();
    frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
    frame_->show();
    QApplication::processEvents();
  }
};

TEST_F(FaultTest, FullDiskCaptureIsAFailureAndLeavesNoFile) {
  GoLive();
  const QString shots = dir_.filePath("shots");
  for (bool own : {false, true}) {
    SetUpCapture(shots, own);
    for (bool atClose : {false, true}) {
      ScopedDiskFull full(atClose ? -1 : 100, atClose);
      frame().OnCapture();
      EXPECT_EQ(view().HintText(), "Capture Fail") << own << atClose;
      EXPECT_TRUE(FilesIn(shots).isEmpty()) << FilesIn(shots).join(",").toStdString();
      EXPECT_EQ(ImageListCount(), 0);
    }
  }
  // With room again the same command writes a whole, readable file.
  frame().OnCapture();
  EXPECT_EQ(view().HintText(), "Capture Successful");
  const QStringList files = FilesIn(shots);
  ASSERT_EQ(files.size(), 1);
  BitmapImage img;
  EXPECT_EQ(ReadBitmapFile(files[0], &img), BitmapStatus::Ok);
  EXPECT_EQ(ImageListCount(), 1);
}

TEST_F(FaultTest, ContinuousCaptureStopsAtTheFirstFailedWriteOnARealSmallFileSystem) {
  SmallFileSystem fs(dir_.filePath("small"), 64);
  ASSERT_TRUE(fs.mounted) << "mounting needs root (CAP_SYS_ADMIN): run the tests as root, as scripts/test.sh does";
  GoLive();
  SetUpCapture(fs.path);
  SetContinuous(1, 0);
  frame().OnCapture();
  RunContinuousCapture();
  EXPECT_FALSE(frame().continuousCapture);
  EXPECT_TRUE(view().HintText().startsWith("Continuous capture stopped: ")) << view().HintText().toStdString();
  // Every file left is whole and listed; the one that did not fit left nothing.
  const QStringList files = FilesIn(fs.path);
  ASSERT_GE(files.size(), 1);
  EXPECT_LT(files.size(), 10);
  for (const QString& f : files) {
    BitmapImage img;
    EXPECT_EQ(ReadBitmapFile(f, &img), BitmapStatus::Ok) << f.toStdString();
  }
  EXPECT_EQ(ImageListCount(), files.size());
  EXPECT_EQ(frame().capturedFrames, files.size());
}

TEST_F(FaultTest, ContinuousCaptureStopsAtTheFirstFailedWriteThroughTheSeam) {
  GoLive();
  const QString shots = dir_.filePath("shots");
  SetUpCapture(shots);
  SetContinuous(1, 0);
  const std::int64_t oneFile = 54 + 64 * 3 * 48;
  ScopedDiskFull full(3 * oneFile + 1000);
  frame().OnCapture();
  RunContinuousCapture();
  EXPECT_FALSE(frame().continuousCapture);
  // The store's capture count takes its share of the space too: some captures fit, then none.
  const QStringList files = FilesIn(shots);
  ASSERT_GE(files.size(), 1);
  EXPECT_LE(files.size(), 3);
  EXPECT_EQ(frame().capturedFrames, files.size());
  EXPECT_EQ(view().HintText().toStdString(),
            QString("Continuous capture stopped: \"%1\" could not be written (the disk may be full).")
                .arg(QDir::toNativeSeparators(shots + QString("/Capture%1.bmp").arg(files.size(), 4, 10, QChar('0'))))
                .toStdString());
  EXPECT_TRUE(messages.empty());
}

TEST_F(FaultTest, SettingsStoreOnAFullDiskKeepsTheOldFileAndExitSaysSo) {
  stCaptureSetting cs;
  camera().GetCaptureSetting(&cs);
  cs.imageName = u"Before";
  camera().SetCaptureSetting(cs);
  ASSERT_TRUE(camera().SaveSetting());
  const QString store = dir_.filePath("registry.dat");
  const QByteArray before = ReadAll(store);
  ASSERT_GT(before.size(), 100);
  cs.imageName = u"After";
  camera().SetCaptureSetting(cs);
  for (bool atClose : {false, true}) {
    ScopedDiskFull full(atClose ? -1 : 10, atClose);
    EXPECT_FALSE(camera().SaveSetting());
    EXPECT_EQ(ReadAll(store), before);
  }
  {
    ScopedDiskFull full(0);
    frame().OnAppExit();
  }
  // Said before the window closes (then the layers on close, on the same full disk).
  ASSERT_GE(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The settings could not be saved to \"" + store + "\" (the disk is full).");
  // The window layout is not said again after that (the layers are another file).
  for (const QString& m : messages) EXPECT_FALSE(m.contains("window layout")) << m.toStdString();
  EXPECT_EQ(ReadAll(store), before);
  EXPECT_EQ(FilesIn(dir_.path()).filter(".q7v-").size(), 0);  // no temporary left
}

TEST_F(FaultTest, ClosingOnAFullDiskSaysTheLayersAndTheWindowLayoutWereNotSaved) {
  GoLive();
  engine().AddRemark(30, 40, u"text", 20, 0);
  ScopedDiskFull full(0);
  frame().close();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].startsWith("The measurements could not be saved to")) << messages[0].toStdString();
  EXPECT_EQ(messages[1], "The window layout could not be saved to \"" + dir_.filePath("registry.dat") +
                             "\" (the disk is full).");
}

TEST_F(FaultTest, UnpluggedWhileLiveRecordingAndCapturingStopsAndPlaysAgainWhenBack) {
  const int handle = GoLive();
  QDir().mkpath(dir_.filePath("video"));
  RecordInto(dir_.filePath("video"));
  frame().OnRecord();
  ASSERT_TRUE(frame().recordingFlag);
  Deliver(5);
  const QString shots = dir_.filePath("shots");
  SetUpCapture(shots);
  SetContinuous(1000, 0);
  frame().OnCapture();
  ASSERT_TRUE(frame().continuousCapture);
  frame().ContinuousCaptureTick();
  CamSdkTestSetCallLog(true);

  ASSERT_EQ(CamSdkTestDetach("color"), 1);
  QApplication::processEvents();
  // Stopped, not claiming to play, record or capture, and the camera named.
  stCameraItem item;
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(camera().GetOpenedCount(), 0);
  EXPECT_FALSE(frame().continuousCapture);
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_FALSE(camera().IsRecording());
  EXPECT_EQ(frame().MainToolbarImages(), ToolbarImages::kIdle);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains("Q7V-UC500C 0001")) << messages[0].toStdString();
  const std::vector<std::string> log = CamSdkTestTakeCallLog();
  bool stoppedRecording = false, unInit = false;
  for (const std::string& line : log) {
    // The recording ends at once; its file is finished off the user-interface thread.
    stoppedRecording |= line.rfind("CameraStopRecordVideo(" + std::to_string(handle), 0) == 0 ||
                        line.rfind("CamSdkStopRecordVideoAsync(" + std::to_string(handle), 0) == 0;
    unInit |= line.rfind("CameraUnInit(" + std::to_string(handle), 0) == 0;
  }
  EXPECT_TRUE(stoppedRecording);
  EXPECT_TRUE(unInit);
  camera().WaitRecordingsFinished();
  EXPECT_EQ(FilesIn(dir_.filePath("video")).size(), 1);
  frame().UpdateCaptureStatus();
  EXPECT_EQ(frame().StatusPane(3)->text(), "Capture: 0F, Frame Rate: 0.00FPS");

  // Plugged in again: it plays without the operator doing anything.
  ASSERT_EQ(CamSdkTestAttach("color"), 1);
  QApplication::processEvents();
  camera().GetCurCameraItem(&item);
  EXPECT_EQ(item.state, CAMERA_PLAYING);
  EXPECT_EQ(camera().GetOpenedCount(), 1);
  EXPECT_EQ(view().HintText(), "The camera Q7V-UC500C 0001 is connected again.");
  Deliver(2);
  std::uint64_t shown = 0;
  EXPECT_EQ(CamSdkTestGetDisplayCount(item.handle, &shown), 1);
}

TEST_F(FaultTest, LayerFilesThatDoNotLoadAreRefusedAndNothingIsSavedOverTheLayers) {
  ShowStill(400, 300);
  for (int i = 0; i < 30; ++i) {
    engine().OnMeasureLButtonDown(10 + i, 10, 258, 1);
    engine().OnMeasureMouseMove(100 + i, 50);
    engine().OnMeasureLButtonDown(100 + i, 50, 256, 0);
  }
  ASSERT_EQ(engine().GetMeasureCount(), 30);
  const QString good = dir_.filePath("good.kvmi");
  view().fileDialog = [good](bool, bool, const QString&, const QString&) { return QStringList{good}; };
  view().OnSaveLayers();
  const QByteArray defaults = ReadAll(dir_.filePath("Default.kvmi"));
  ASSERT_FALSE(defaults.isEmpty());

  // Unreadable, not a layer file, another camera's section, and the right section whose
  // records are all damaged: each is refused through the real Load command.
  const QByteArray goodText = ReadAll(good);
  QByteArray damaged;
  const QRegularExpression record("^Layer\\d+=");
  for (QByteArray line : goodText.split('\n')) {
    if (record.match(QString::fromLatin1(line)).hasMatch()) {
      const qsizetype at = line.indexOf('=') + 5;
      line[at] = line[at] == '0' ? '1' : '0';  // a hex digit: the checksum no longer fits
    }
    damaged += line + '\n';
  }
  damaged.chop(1);
  QByteArray otherCamera = goodText;
  otherCamera.replace("[0]", "[Q7V-UM130 00020]");
  const std::vector<std::pair<QString, QByteArray>> files = {
      {"binary.kvmi", QByteArray("\x00\xff\x10\x80garbage\x00", 12)},
      {"text.kvmi", "just some text\r\n"},
      {"other.kvmi", otherCamera},
      {"damaged.kvmi", damaged},
  };
  std::vector<QString> paths{dir_.filePath("missing.kvmi")};
  for (const auto& [name, bytes] : files) {
    QFile f(dir_.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    paths.push_back(f.fileName());
  }
  for (const QString& path : paths) {
    messages.clear();
    view().fileDialog = [path](bool, bool, const QString&, const QString&) { return QStringList{path}; };
    frame().Router().Execute(ids::kLoadLayers);
    ASSERT_EQ(messages.size(), 1u) << path.toStdString();
    EXPECT_TRUE(messages[0].contains(QFileInfo(path).fileName())) << messages[0].toStdString();
    EXPECT_EQ(engine().GetMeasureCount(), 30) << path.toStdString();
    EXPECT_EQ(ReadAll(dir_.filePath("Default.kvmi")), defaults) << path.toStdString();
  }
  // The good file still loads.
  messages.clear();
  view().fileDialog = [good](bool, bool, const QString&, const QString&) { return QStringList{good}; };
  frame().Router().Execute(ids::kLoadLayers);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(engine().GetMeasureCount(), 30);
}

TEST_F(FaultTest, ThreeHundredCapturesAtTheFastestIntervalLeaveThreeHundredFiles) {
  GoLive();
  const QString shots = dir_.filePath("shots");
  SetUpCapture(shots);
  ChangeCapture([](stCaptureSetting& cs) { cs.useDefaultName = true; });  // dated names: all in the same second below
  SetContinuous(1, 300);
  const QDateTime fixed(QDate(2016, 7, 29), QTime(9, 5, 3));
  frame().clock = [fixed] { return fixed; };
  frame().OnCapture();
  RunContinuousCapture();
  EXPECT_FALSE(frame().continuousCapture);
  const QStringList files = FilesIn(shots);
  ASSERT_EQ(files.size(), 300);
  std::set<QString> names(files.begin(), files.end());
  EXPECT_EQ(names.size(), 300u);
  EXPECT_TRUE(names.count(shots + "/Q7V-UC500C 0001 20160729090503.bmp"));
  EXPECT_TRUE(names.count(shots + "/Q7V-UC500C 0001 20160729090503_300.bmp"));
  // The image list's limit neither stopped capture nor opened a box.
  EXPECT_EQ(ImageListCount(), 256);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(view().HintText(), "Continuous capture is stop.");
}

TEST_F(FaultTest, NumberedCapturesNeverOverwriteAcrossARestart) {
  GoLive();
  const QString shots = dir_.filePath("shots");
  SetUpCapture(shots);
  camera().SaveSetting();  // the folder, as the options dialog's OK keeps it
  frame().OnCapture();
  const QString first = shots + "/Capture0000.bmp";
  const QByteArray firstBytes = ReadAll(first);
  ASSERT_FALSE(firstBytes.isEmpty());
  // A file that was there before (another run, another program) is skipped too.
  QFile planted(shots + "/Capture0001.png");
  ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
  planted.write("kept");
  planted.close();

  Restart();  // closed with the close box: no Exit, no Options OK
  stCaptureSetting cs;
  camera().GetCaptureSetting(&cs);
  EXPECT_EQ(cs.captureCount, 1);  // kept in the store as it changed
  GoLive();
  SetUpCapture(shots);
  frame().OnCapture();
  EXPECT_EQ(ReadAll(first), firstBytes);
  EXPECT_EQ(ReadAll(shots + "/Capture0001.png"), QByteArray("kept"));
  EXPECT_FALSE(QFile::exists(shots + "/Capture0001.bmp"));
  EXPECT_TRUE(QFile::exists(shots + "/Capture0002.bmp"));
  camera().GetCaptureSetting(&cs);
  EXPECT_EQ(cs.captureCount, 3);
}

TEST_F(FaultTest, AnOversizedSettingsFileIsSaidAtStartAndKept) {
  const QString store = dir_.filePath("big-registry.dat");
  {
    QFile f(store);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray block(1 << 20, ' ');
    for (std::int64_t i = 0; i <= (kMaxRegistryFileBytes >> 20); ++i) f.write(block);
  }
  const qint64 size = QFileInfo(store).size();
  frame_.reset();
  SetRegistryFile(std::filesystem::path(store.toStdString()));
  messages.clear();
  frame_ = std::make_unique<CMainFrame>();
  frame_->messageBox = [this](const QString& text) { messages.push_back(text); };
  frame_->View()->messageBox = [this](const QString& text) { messages.push_back(text); };
  QApplication::processEvents();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains("is too large to be a settings file")) << messages[0].toStdString();
  frame().OnAppExit();
  EXPECT_EQ(QFileInfo(store).size(), size);
}

// A recording that cannot start is said in the view with the folder and the reason: a video
// folder mounted read-only where the test may mount one, and a disk too full for the file's
// header. The Record button stays up and no file is left.
TEST_F(FaultTest, ARecordingThatCannotStartSaysWhereAndWhy) {
  GoLive();
  const QString videos = dir_.filePath("videos");
  QDir().mkpath(videos);
  RecordInto(videos);
  const QString said = "The recording could not start: the video folder \"" + videos + "\" cannot be written (";
  {
    fs_faults::ReadOnlyFolder readOnly(videos.toStdString());
    if (readOnly.mounted) {
      frame().OnRecord();
      EXPECT_FALSE(frame().recordingFlag);
      EXPECT_EQ(view().HintText(), said + "the folder is read-only).");
    }
  }
  CamSdkTestFailRecordWritesAfter(0);
  frame().OnRecord();
  CamSdkTestFailRecordWritesAfter(-1);
  EXPECT_FALSE(frame().recordingFlag);
  EXPECT_FALSE(camera().IsRecording());
  EXPECT_EQ(view().HintText(), said + "the disk is full).");
  EXPECT_TRUE(FilesIn(videos).isEmpty());
  EXPECT_TRUE(messages.empty());
}

// The capture count that cannot be stored is said once, not at every capture, and said again
// only after it was stored in between. The captures themselves go on.
TEST_F(FaultTest, AnUnsavedCaptureCountIsSaidOnce) {
  GoLive();
  const QString shots = dir_.filePath("shots"), store = dir_.filePath("store");
  QDir().mkpath(store);
  SetUpCapture(shots);
  SetRegistryFile(std::filesystem::path(store.toStdString()) / "registry.dat");
  const QString said = "The capture number could not be saved to \"" + store + "/registry.dat\" (";
  auto unwritable = [&](auto&& body) {
    fs_faults::ReadOnlyFolder readOnly(store.toStdString());
    if (!readOnly.mounted) {
      ScopedDiskFull full(0);  // the captures fail too then
      body("the disk is full).");
    } else {
      body("the folder is read-only).");
    }
  };
  unwritable([&](const QString& reason) {
    frame().OnCapture();
    frame().OnCapture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], said + reason + " Captures are still saved.");
  });
  frame().OnCapture();  // stored again
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(view().HintText(), "Capture Successful");
  unwritable([&](const QString&) { frame().OnCapture(); });
  EXPECT_EQ(messages.size(), 2u);
}

// A settings store cut short is moved aside and said when the program starts; the operator's
// settings in it are never written over, and the program saves a fresh store beside it.
TEST_F(FaultTest, ADamagedSettingsStoreIsSaidAtStartAndNeverOverwritten) {
  ChangeCapture([](stCaptureSetting& cs) { cs.imageName = u"Mine"; });
  ASSERT_TRUE(camera().SaveSetting());
  const QString store = dir_.filePath("registry.dat");
  QByteArray bytes;
  messages.clear();
  Restart([&] {
    bytes = ReadAll(store);
    bytes.truncate(bytes.size() / 2);
    QFile f(store);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  });
  QApplication::processEvents();
  const QStringList aside = QDir(dir_.path()).entryList({"registry.dat.damaged-*"}, QDir::Files);
  ASSERT_EQ(aside.size(), 1) << aside.join(",").toStdString();
  const QString moved = dir_.filePath(aside[0]);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The settings file \"" + store + "\" is damaged. It was moved to \"" + moved +
                             "\" and the program runs with default settings.");
  frame().OnAppExit();
  EXPECT_EQ(ReadAll(moved), bytes);
  SetRegistryFile(std::filesystem::path(store.toStdString()));
  EXPECT_EQ(RegistryLoadResult().state, RegistryLoadState::Ok);
}
