#include "app/Application.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
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

void ApplyQtUiLanguage(UiLanguage lang) {
  static QTranslator* translator = nullptr;
  static std::optional<QFont> englishFont;
  if (!englishFont) englishFont = QApplication::font();
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
