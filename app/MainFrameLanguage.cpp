// The language commands with their restart, the Exit command and the close sequence.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

#include "app/Application.h"
#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/registry.h"
#include "platform/strings.h"

std::filesystem::path DefaultLayerFile();

namespace {

constexpr char16_t kSettingsKey[] = u"Software\\Q7V-MS\\Settings";

bool RunningEnglish() { return LoadStringW(25) == u"English"; }

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
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, QString::fromStdU16String(LoadStringW(57344)), text,
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

void CMainFrame::OnClose() {
  if (closing_) return;
  closing_ = true;
  // Continuous capture and the counter end with the window.
  timer1_.stop();
  timer2_.stop();
  continuousCapture = false;
  WString name;
  int index = 0;
  view_->LayerSection(&name, &index);
  if (!view_->MeasureManager()->SaveLayers(DefaultLayerFile(), name, index)) view_->ReportDefaultLayersNotSaved();
  SaveWindowState();
  hide();
  camera_.StopAllCameras();
  if (view_->IsFullScreen()) view_->ToggleFullScreen();
  if (restartFlag) RestartApplication();
}
