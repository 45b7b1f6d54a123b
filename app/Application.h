#pragma once
// CApplicationApp: start and end of the program. One instance runs at a time (a lock file
// taken atomically; a second start ends quietly), the user-interface language is chosen before
// any window exists, and the main frame is built and shown.
#include <QLockFile>
#include <QString>

#include <memory>

#include "platform/strings.h"

class CMainFrame;
class QuitSignalWatcher;

class CApplicationApp {
 public:
  CApplicationApp();
  ~CApplicationApp();

  // True to run the event loop; false ends the start (another instance runs).
  bool InitInstance();
  int ExitInstance();
  // Chooses the language from the stored "Language" value or the system language.
  void SelectUiLanguage();
  // Lets a new instance start (before a restart).
  void CloseInstanceMutex();
  void OnAppAbout();
  // The end of the session from outside (a signal, the session manager): the window closes as
  // its close box closes it, asking nothing, and the program ends.
  void QuitQuietly();
  CMainFrame* MainFrame() const { return frame_.get(); }
  // The lock file that keeps a second instance out.
  static QString InstanceLockPath();

  unsigned applicationLook = 0;
  bool hiColorIcons = true;

 private:
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<QuitSignalWatcher> quitSignals_;
};

// The sans-serif face the Chinese interface's widgets use; empty when none is installed.
QString ChineseUiFamily();
// Qt's side of the running language: for Chinese, Qt's own texts (standard buttons, file
// dialogs) in Chinese and a sans-serif CJK face for the widgets; for English, neither.
void ApplyQtUiLanguage(UiLanguage lang);
// When the working folder is "/" or not writable (a start from the desktop's menu), moves to the
// user's data folder for the program and sends captures and videos to the user's Pictures and
// Videos folders by default. True when it moved.
bool SettleWorkingFolder();

// The one application object.
CApplicationApp& theApp();
