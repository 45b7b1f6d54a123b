// The program at home on a Linux desktop: the Chinese interface's face and Qt's own texts, the
// working folder of a start from the menu, and the window layout kept from one run to the next.
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QRawFont>
#include <QSet>
#include <QTextLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolBar>

#include "app/Application.h"
#include "res/StringIds.h"
#include "ui/DialogBuilder.h"
#include "app_support.h"
#include "camera/CameraSettings.h"

namespace {

// Restores the English side of Qt whatever the test did.
struct QtLanguageGuard {
  ~QtLanguageGuard() {
    SetUiLanguage(UiLanguage::English);
    ApplyQtUiLanguage(UiLanguage::English);
  }
};

}  // namespace

TEST(ChineseUi, WidgetsUseASansCjkFaceAndQtTextsAreChinese) {
  QtLanguageGuard guard;
  SetUiLanguage(UiLanguage::Chinese);
  ApplyQtUiLanguage(UiLanguage::Chinese);

  const QString family = ChineseUiFamily();
  ASSERT_FALSE(family.isEmpty()) << "no sans-serif CJK face installed";
  QLabel label(QString::fromUtf16(u"测量"));
  const QFontInfo info(label.font());
  EXPECT_EQ(info.family(), family);
  EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese));
  // Neither of the Song/Ming nor the brush-style Kai faces the measurement texts use.
  for (const char* serif : {"Kai", "Ming", "Serif", "Song"}) EXPECT_FALSE(info.family().contains(serif)) << serif;
  const QFontMetrics metrics(label.font());
  for (char32_t c : {U'测', U'量', U'标', U'尺'}) EXPECT_TRUE(metrics.inFontUcs4(c));

  // Qt's standard buttons read in Chinese, as in the restart prompt.
  QMessageBox box(QMessageBox::Question, QString(), QString::fromUtf16(u"是否重启程序？"),
                  QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QString::fromUtf16(u"是")))
      << box.button(QMessageBox::Yes)->text().toStdString();
  EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QString::fromUtf16(u"否")));
  QDialogButtonBox buttons(QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf16(u"取消"));

  // Back to English: Qt's texts and the widget face return.
  ApplyQtUiLanguage(UiLanguage::English);
  QMessageBox english(QMessageBox::Question, QString(), "Restart?", QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(english.button(QMessageBox::Yes)->text(), "&Yes");
  EXPECT_NE(QFontInfo(QLabel().font()).family(), family);
}

namespace {

// The faces the glyphs of `text` are drawn in, in `font`.
QSet<QString> Faces(const QFont& font, const QString& text) {
  QTextLayout layout(text, font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  QSet<QString> faces;
  for (const QGlyphRun& run : layout.glyphRuns()) faces.insert(run.rawFont().familyName());
  return faces;
}

// The restart question, as the program asks it (not answered by the test's hook). The Qt side of
// the language is set before the window draws any text, as the program does at its start.
class RestartQuestionTest : public FrameTest {
 protected:
  virtual UiLanguage Running() const { return UiLanguage::English; }
  void SetUp() override {
    SetUiLanguage(Running());
    ApplyQtUiLanguage(Running());
    FrameTest::SetUp();
    SetUiLanguage(Running());
    frame().askRestart = [this](UiLanguage language, const QString& text) {
      return CMainFrame::AskRestartBox(&frame(), language, text);
    };
  }
  void TearDown() override {
    FrameTest::TearDown();
    SetUiLanguage(UiLanguage::English);
    ApplyQtUiLanguage(UiLanguage::English);
  }
  // Asks through the language menu; records the box's buttons and the faces of its question,
  // and answers with the button whose text holds `answer`.
  void Ask(int command, const QString& answer) {
    buttons.clear();
    faces.clear();
    ASSERT_TRUE(AnswerModal([&] { frame().Router().Action(command)->trigger(); },
                            [&](QWidget* w) {
                              auto* box = qobject_cast<QMessageBox*>(w);
                              ASSERT_NE(box, nullptr);
                              QAbstractButton* chosen = nullptr;
                              for (QAbstractButton* b : box->buttons()) {
                                buttons << b->text();
                                if (b->text().contains(answer)) chosen = b;
                              }
                              auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
                              ASSERT_NE(label, nullptr);
                              faces = Faces(label->font(), label->text());
                              ASSERT_NE(chosen, nullptr);
                              QTest::mouseClick(chosen, Qt::LeftButton);
                            }));
  }
  QStringList buttons;
  QSet<QString> faces;
};

class RestartQuestionChineseTest : public RestartQuestionTest {
 protected:
  UiLanguage Running() const override { return UiLanguage::Chinese; }
};

}  // namespace

TEST_F(RestartQuestionTest, TheChineseQuestionInTheEnglishUiIsInTheSansFaceWithChineseButtons) {
  const QString cjk = ChineseUiFamily();
  ASSERT_FALSE(cjk.isEmpty()) << "no sans-serif CJK face installed";
  Ask(ids::kChinese, QString::fromUtf16(u"否"));
  EXPECT_TRUE(buttons.contains(QString::fromUtf16(u"是(&Y)"))) << buttons.join(",").toStdString();
  EXPECT_TRUE(buttons.contains(QString::fromUtf16(u"否(&N)")));
  // Every Chinese character in the sans-serif CJK face, none in the brush-style Kai face.
  EXPECT_EQ(faces, QSet<QString>{cjk}) << QStringList(faces.begin(), faces.end()).join(",").toStdString();
  EXPECT_EQ(restarts, 0);
  EXPECT_TRUE(frame().isVisible());
  // Chinese in an English window: any widget's CJK text takes the same face, Latin text keeps its own.
  QLabel mixed(QString::fromUtf16(u"Camera 相机"));
  const QSet<QString> mixedFaces = Faces(mixed.font(), mixed.text());
  EXPECT_TRUE(mixedFaces.contains(cjk));
  for (const QString& f : mixedFaces) EXPECT_FALSE(f.contains("Kai")) << f.toStdString();
}

TEST_F(RestartQuestionChineseTest, TheEnglishQuestionInTheChineseUiHasEnglishButtons) {
  Ask(ids::kEnglish, "Yes");
  EXPECT_TRUE(buttons.contains("&Yes")) << buttons.join(",").toStdString();
  EXPECT_TRUE(buttons.contains("&No"));
  EXPECT_EQ(restarts, 1);  // answered Yes: the program starts again
}

TEST(ChineseUi, ProgramTextsHaveChineseEntries) {
  // "AE Fast"/"AE Old", "Total: %d", "OK", "Scale" and "Capture": English as they were, Chinese
  // in the Chinese table.
  for (std::uint32_t id : {64110u, 64111u, 64112u, 64113u, 64114u, 64115u, 64116u, 1u}) {
    ASSERT_TRUE(HasString(id, UiLanguage::English)) << id;
    ASSERT_TRUE(HasString(id, UiLanguage::Chinese)) << id;
    const QString zh = QString::fromStdU16String(LoadStringW(id, UiLanguage::Chinese));
    EXPECT_TRUE(std::any_of(zh.begin(), zh.end(), [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; }))
        << id;
  }
  EXPECT_EQ(LoadStringW(sid::kAEFast, UiLanguage::English), u"AE Fast");
  EXPECT_EQ(LoadStringW(sid::kTotal, UiLanguage::English), u"Total: %d");
  EXPECT_EQ(LoadStringW(sid::kCapture, UiLanguage::English), u"Capture");
  // The Chinese point count keeps its number.
  EXPECT_EQ(FormatW(LoadStringW(sid::kTotal, UiLanguage::Chinese), 3), u"总数: 3");
}

TEST(WorkingFolder, StartFromTheMenuWorksInTheDataFolderAndCapturesGoToPictures) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", home.filePath(".local/share").toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath(".config").toUtf8());
  const QString oldCwd = QDir::currentPath();

  // A writable working folder is kept.
  ASSERT_TRUE(QDir::setCurrent(home.path()));
  EXPECT_FALSE(SettleWorkingFolder());
  EXPECT_EQ(QDir::currentPath(), home.path());

  // "/" (a start from the desktop's menu) moves to the data folder, with a help folder in it.
  ASSERT_TRUE(QDir::setCurrent(QDir::rootPath()));
  EXPECT_TRUE(SettleWorkingFolder());
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  EXPECT_TRUE(data.startsWith(home.path())) << data.toStdString();
  EXPECT_EQ(QDir::currentPath(), data);
  EXPECT_TRUE(QFileInfo(data + "/Help").isDir());
  EXPECT_EQ(DefaultCaptureSetting().imageFolder,
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdU16String());
  EXPECT_EQ(DefaultVideoSetting().folder, QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdU16String());

  // The restart after a language change starts in the data folder: the same defaults again.
  SetDefaultMediaFolders({}, {});
  EXPECT_TRUE(SettleWorkingFolder());
  EXPECT_EQ(QDir::currentPath(), data);
  EXPECT_EQ(DefaultCaptureSetting().imageFolder,
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdU16String());

  SetDefaultMediaFolders({}, {});
  QDir::setCurrent(oldCwd);
  EXPECT_EQ(DefaultCaptureSetting().imageFolder, (oldCwd + "/Image").toStdU16String());
  qputenv("HOME", oldHome);
  oldData.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", oldData);
  oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
}

using WindowState = FrameTest;

TEST_F(WindowState, GeometryAndDockLayoutSurviveARestart) {
  // The operator moves the camera pane to the right, sizes the window, and closes the program.
  frame().resize(860, 650);  // within the offscreen screen's limits
  frame().addDockWidget(Qt::RightDockWidgetArea, frame().CameraPane());
  QApplication::processEvents();
  frame().close();

  // The next start finds them as they were; the Measure and zoom bars still wait for an image.
  CMainFrame next;
  EXPECT_EQ(next.dockWidgetArea(next.CameraPane()), Qt::LeftDockWidgetArea);  // before restoring
  EXPECT_TRUE(next.RestoreWindowState());
  next.show();
  QApplication::processEvents();
  EXPECT_EQ(next.dockWidgetArea(next.CameraPane()), Qt::RightDockWidgetArea);
  EXPECT_EQ(next.size(), QSize(860, 650));
  EXPECT_FALSE(next.MeasureToolBar()->isVisible());
  EXPECT_FALSE(next.ZoomToolBar()->isVisible());
  EXPECT_TRUE(next.MainToolBar()->isVisible());
}

TEST_F(WindowState, NothingStoredOrDamagedLeavesTheDefaultLayout) {
  EXPECT_FALSE(frame().RestoreWindowState());
  CRegistryKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Window"), ERROR_SUCCESS);
  const BYTE junk[] = {1, 2, 3, 4, 5};
  key.SetBinary(u"Layout", junk);
  key.SetBinary(u"Geometry", junk);
  EXPECT_FALSE(frame().RestoreWindowState());
  EXPECT_EQ(frame().dockWidgetArea(frame().CameraPane()), Qt::LeftDockWidgetArea);
}
