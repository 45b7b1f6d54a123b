// The language commands with their restart, the Exit command and the close sequence.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>

#include <cstring>

#include "app/Application.h"
#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/camsdk/camsdk.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "res/StringIds.h"

std::filesystem::path DefaultLayerFile();

namespace {

constexpr char16_t kSettingsKey[] = u"Software\\Q7V-MS\\Settings";

Q_LOGGING_CATEGORY(lcFrame, "q7v.frame")

bool RunningEnglish() { return LoadStringW(sid::kLanguageName) == u"English"; }

void WriteLanguage(WStringView value) {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kSettingsKey) == ERROR_SUCCESS) key.SetString(u"Language", value);
}

}  // namespace

QString CMainFrame::RestartQuestion(UiLanguage language) {
  return language == UiLanguage::Chinese ? QString::fromUtf16(u"语言设置重启后生效！是否重启程序？")
                                         : QStringLiteral("The setup will be used when application restart! Restart now?");
}

void CMainFrame::OnLanguageChinese() {
  WriteLanguage(u"CHS");
  if (RunningEnglish() && askRestart(UiLanguage::Chinese, RestartQuestion(UiLanguage::Chinese))) {
    restartFlag = true;
    close();
  }
}

void CMainFrame::OnLanguageEnglish() {
  WriteLanguage(u"EN");
  if (!RunningEnglish() && askRestart(UiLanguage::English, RestartQuestion(UiLanguage::English))) {
    restartFlag = true;
    close();
  }
}

std::unique_ptr<QMessageBox> CMainFrame::MakeRestartBox(QWidget* parent, UiLanguage language, const QString& text) {
  // The buttons speak the question's language, not the running one (whose Qt texts the
  // translator gives the standard buttons).
  const bool chinese = language == UiLanguage::Chinese;
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, QString::fromStdU16String(LoadStringW(sid::kAppTitle)), text,
                                           QMessageBox::NoButton, parent);
  QPushButton* yes =
      box->addButton(chinese ? QString::fromUtf16(u"是(&Y)") : QStringLiteral("&Yes"), QMessageBox::YesRole);
  box->addButton(chinese ? QString::fromUtf16(u"否(&N)") : QStringLiteral("&No"), QMessageBox::NoRole);
  box->setDefaultButton(yes);
  return box;
}

bool CMainFrame::AskRestartBox(QWidget* parent, UiLanguage language, const QString& text) {
  const std::unique_ptr<QMessageBox> box = MakeRestartBox(parent, language, text);
  box->exec();
  return box->clickedButton() == box->defaultButton();
}

void CMainFrame::RestartApplication() {
  theApp().CloseInstanceMutex();
  if (restartLauncher) restartLauncher();
}

void CMainFrame::OnAppExit() {
  // Said before the window goes, so that the operator knows the settings were not kept.
  if (!camera_.SaveSetting()) {
    settingsUnsavedSaid_ = true;
    messageBox(QString::fromStdU16String(RegistryNotSavedText()));
  }
  close();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  OnClose();
  e->accept();
}

void CMainFrame::CloseQuietly() {
  quiet_ = true;
  close();
}

void CMainFrame::LayersLoaded(const WString& device, int index) { loaded_ = LoadedLayers{device, index}; }

bool CMainFrame::SaveLoadedLayers() {
  if (!loaded_) return true;
  // Only while their camera is open does the engine hold them (stopping clears it).
  int handle = -1;
  for (int i = 0; i < camera_.GetCameraCount() && handle < 0; ++i) {
    stCameraItem item;
    if (!camera_.GetCameraItem(i, &item) || item.state == CAMERA_CLOSED) continue;
    const char* n = item.device.deviceName;
    if (FromUtf8(std::string_view(n, strnlen(n, sizeof item.device.deviceName))) == loaded_->device) handle = item.handle;
  }
  if (handle < 0) return true;
  // A camera that has just gone answers nothing: its section is the one it was loaded with.
  int sel = 0;
  if (CameraGetImageSizeSel(handle, &sel, 0) == 1) loaded_->index = sel;
  if (view_->MeasureManager()->SaveLayers(DefaultLayerFile(), loaded_->device, loaded_->index)) return true;
  if (quiet_)
    qCWarning(lcFrame) << "the measurements could not be saved to" << DefaultLayerFile().c_str();
  else
    view_->ReportDefaultLayersNotSaved();
  return false;
}

void CMainFrame::OnClose() {
  if (closing_) return;
  closing_ = true;
  // Continuous capture and the counter end with the window.
  timer1_.stop();
  timer2_.stop();
  continuousCapture = false;
  // The layers of a camera opened in this session; a camera never opened has nothing here to
  // save, and an empty engine must not replace its saved measurements.
  SaveLoadedLayers();
  loaded_.reset();  // saved once: the cameras stopped below have nothing more to keep
  SaveWindowState();
  hide();
  camera_.StopAllCameras();
  if (view_->IsFullScreen()) view_->ToggleFullScreen();
  if (restartFlag) RestartApplication();
}
