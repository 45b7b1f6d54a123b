#include "app/Application.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QSessionManager>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>

#include <optional>

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/QuitSignals.h"
#include "camera/CameraReport.h"
#include "camera/CameraSettings.h"
#include "platform/durable_file.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {
CApplicationApp* g_app = nullptr;

// Sans-serif faces that write simplified Chinese, best first. Without one, fontconfig falls back
// to whichever CJK face it finds, often the brush-style Kai face the remarks need.
const char* const kChineseUiFaces[] = {"Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei",
                                       "WenQuanYi Zen Hei", "Droid Sans Fallback"};
}  // namespace

QString ChineseUiFamily() {
  const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  for (const char* face : kChineseUiFaces)
    if (installed.contains(QString::fromLatin1(face))) return QString::fromLatin1(face);
  return {};
}

// Chinese text drawn in the widgets' face falls back to the sans-serif CJK face in either
// language, not to whichever CJK face fontconfig lists first (often the brush-style Kai one).
// Done once, before any text is drawn in the face: drawn text keeps the face it was drawn in.
void SubstituteCjkFace(const QFont& uiFont) {
  static bool done = false;
  if (done) return;
  done = true;
  const QString cjk = ChineseUiFamily();
  if (cjk.isEmpty()) return;
  const QString family = uiFont.family();
  const QString resolved = QFontInfo(uiFont).family();
  // A generic name ("Sans Serif") is replaced by its substitutes: the face it stands for
  // comes first, so that Latin text keeps it.
  if (!resolved.isEmpty() && resolved != family) {
    QFont::insertSubstitutions(family, {resolved, cjk});
    QFont::insertSubstitution(resolved, cjk);
  } else {
    QFont::insertSubstitution(family, cjk);
  }
}

void ApplyQtUiLanguage(UiLanguage lang) {
  static QTranslator* translator = nullptr;
  static std::optional<QFont> englishFont;
  if (!englishFont) englishFont = QApplication::font();
  SubstituteCjkFace(*englishFont);
  if (translator) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
  }
  static bool fontSet = false;
  if (lang != UiLanguage::Chinese) {
    // Only undo our own change: an application font set once stops following the desktop's.
    if (fontSet) QApplication::setFont(*englishFont);
    fontSet = false;
    return;
  }
  // Qt's own buttons and dialogs (Yes/No, file dialogs) in Chinese.
  auto* t = new QTranslator;
  if (t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(t);
    translator = t;
  } else {
    delete t;
  }
  const QString family = ChineseUiFamily();
  if (family.isEmpty()) return;
  QFont f = *englishFont;
  f.setFamilies({family, englishFont->family()});
  QApplication::setFont(f);
  fontSet = true;
}

bool SettleWorkingFolder() {
  const QString cwd = QDir::currentPath();
  const QFileInfo info(cwd);
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  // A restart after a language change starts again in the data folder: still a start from the menu.
  const bool inData = !data.isEmpty() && QFileInfo(data) == info;
  if (!inData && cwd != QDir::rootPath() && info.isDir() && info.isWritable()) return false;
  // Started from the desktop's menu: the layer file and the help folder need a home of their own,
  // and captures go where the user keeps pictures and videos.
  if (!inData && (data.isEmpty() || !QDir().mkpath(data) || !QDir::setCurrent(data))) return false;
  QDir(data).mkpath(QStringLiteral("Help"));
  auto folder = [](QStandardPaths::StandardLocation where, const QString& fallback) {
    const QString dir = QStandardPaths::writableLocation(where);
    return (dir.isEmpty() ? fallback : dir).toStdU16String();
  };
  SetDefaultMediaFolders(folder(QStandardPaths::PicturesLocation, data + "/Image"),
                         folder(QStandardPaths::MoviesLocation, data + "/Video"));
  return true;
}

CApplicationApp& theApp() {
  static CApplicationApp fallback;  // only when no program object was made (tests of windows)
  return g_app ? *g_app : fallback;
}

CApplicationApp::CApplicationApp() {
  if (!g_app) g_app = this;
}

CApplicationApp::~CApplicationApp() {
  quitSignals_.reset();
  frame_.reset();
  if (g_app == this) g_app = nullptr;
}

QString CApplicationApp::InstanceLockPath() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return QDir(dir).filePath("Q7V-Measuring Software.lock");
}

bool CApplicationApp::InitInstance() {
  // First of all: a logout, a shutdown or a signal from here on saves what the close box saves
  // (once the window is there) and ends the program in order; the lock below then tells that
  // the signals are taken care of.
  quitSignals_ = std::make_unique<QuitSignalWatcher>([this](int) { QuitQuietly(); });
  // Files this run writes are stamped from now on: older temporaries are an earlier run's.
  const std::int64_t startNs = FileClockNowNs();
  // Taking the lock is one atomic step: of two programs started together exactly one wins. A
  // lock left by a program that died is taken over.
  lock_ = std::make_unique<QLockFile>(InstanceLockPath());
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return false;
  }
  SettleWorkingFolder();
  // A written report opens in the application the desktop has for its type.
  SetReportOpener([](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
  SelectUiLanguage();
  ApplyQtUiLanguage(GetUiLanguage());
  frame_ = std::make_unique<CMainFrame>();
  // Only now are the folders known (the settings are read); this is the one instance running.
  frame_->CameraObject().SweepLeftovers(startNs);
  frame_->restartLauncher = [] {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1),
                            QDir::currentPath());
  };
  frame_->RestoreWindowState();
#ifndef QT_NO_SESSIONMANAGER
  QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, frame_.get(), [this](QSessionManager&) { QuitQuietly(); },
                   Qt::DirectConnection);
#endif
  frame_->show();
  return true;
}

void CApplicationApp::QuitQuietly() {
  if (frame_) frame_->CloseQuietly();
  // Every event loop ends, a modal dialog's among them.
  QCoreApplication::exit(0);
}

int CApplicationApp::ExitInstance() {
  frame_.reset();
  CloseInstanceMutex();
  return 0;
}

void CApplicationApp::SelectUiLanguage() {
  std::optional<WString> value;
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings", KEY_READ) == ERROR_SUCCESS)
    value = key.QueryString(u"Language");
  UiLanguage lang;
  if (value)
    lang = *value == u"CHS" ? UiLanguage::Chinese : UiLanguage::English;  // anything else: English
  else
    lang = QLocale::system().language() == QLocale::Chinese ? UiLanguage::Chinese : UiLanguage::English;
  SetUiLanguage(lang);
}

void CApplicationApp::CloseInstanceMutex() {
  if (lock_) lock_->unlock();
}

void CApplicationApp::OnAppAbout() {
  CAboutDlg dlg(frame_.get());
  dlg.exec();
}
