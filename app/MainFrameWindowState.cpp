// The main window's geometry and dock layout, kept in the settings store from one run to the next
// so an operator's arrangement of the panes survives a restart.
#include <QByteArray>
#include <QToolBar>

#include "app/MainFrame.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "res/StringIds.h"

namespace {

constexpr char16_t kWindowKey[] = u"Software\\Q7V-MS\\Window";
// Raised when the panes or toolbars change so that an old layout is not forced onto new windows.
constexpr int kLayoutVersion = 1;

QByteArray Read(const CRegistryKey& key, WStringView name) {
  const auto v = key.QueryBinary(name);
  if (!v) return {};
  return QByteArray(reinterpret_cast<const char*>(v->data()), qsizetype(v->size()));
}

LONG Write(CRegistryKey& key, WStringView name, const QByteArray& data) {
  return key.SetBinary(name,
                       std::span<const BYTE>(reinterpret_cast<const BYTE*>(data.constData()), std::size_t(data.size())));
}

}  // namespace

void CMainFrame::SaveWindowState() {
  CRegistryKey key;
  LONG rc = key.Create(HKEY_CURRENT_USER, kWindowKey);
  if (rc == ERROR_SUCCESS) rc = Write(key, u"Geometry", saveGeometry());
  if (rc == ERROR_SUCCESS) rc = Write(key, u"Layout", saveState(kLayoutVersion));
  if (const LONG closed = key.Close(); rc == ERROR_SUCCESS) rc = closed;  // the store is written here
  // Runs once, as the window closes: the next start would open with another layout. Not said
  // again when the operator has just been told the settings were not saved (Exit), nor when the
  // store was left unread at start and that was said then.
  const RegistryLoadState loaded = RegistryLoadResult().state;
  const bool toldAtStart = loaded != RegistryLoadState::Ok && loaded != RegistryLoadState::MovedAside;
  if (rc != ERROR_SUCCESS && !settingsUnsavedSaid_ && !toldAtStart)
    messageBox(QString::fromStdU16String(
        FormatW(LoadStringW(sid::kWindowLayoutCouldNotSaved), RegistryFile().u16string(), RegistryNotSavedReason())));
}

bool CMainFrame::RestoreWindowState() {
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, kWindowKey, KEY_READ) != ERROR_SUCCESS) return false;
  const QByteArray geometry = Read(key, u"Geometry"), layout = Read(key, u"Layout");
  bool restored = !geometry.isEmpty() && restoreGeometry(geometry);
  if (!layout.isEmpty() && restoreState(layout, kLayoutVersion)) {
    restored = true;
    // The Measure and zoom toolbars follow the image state, not the last run: hidden until an
    // image is shown.
    measureBar_->hide();
    zoomBar_->hide();
  }
  return restored;
}
