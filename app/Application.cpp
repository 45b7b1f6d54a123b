#include "app/Application.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {
CApplicationApp* g_app = nullptr;
}

CApplicationApp& theApp() {
  static CApplicationApp fallback;  // only when no program object was made (tests of windows)
  return g_app ? *g_app : fallback;
}

CApplicationApp::CApplicationApp() {
  if (!g_app) g_app = this;
}

CApplicationApp::~CApplicationApp() {
  frame_.reset();
  if (g_app == this) g_app = nullptr;
}

QString CApplicationApp::InstanceLockPath() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return QDir(dir).filePath("Q7V-Measuring Software.lock");
}

bool CApplicationApp::InitInstance() {
  // Taking the lock is one atomic step: of two programs started together exactly one wins. A
  // lock left by a program that died is taken over.
  lock_ = std::make_unique<QLockFile>(InstanceLockPath());
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return false;
  }
  SelectUiLanguage();
  frame_ = std::make_unique<CMainFrame>();
  frame_->restartLauncher = [] {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1),
                            QDir::currentPath());
  };
  frame_->show();
  return true;
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
