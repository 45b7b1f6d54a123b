// The main window's geometry and dock layout, kept in the settings store from one run to the next
// so an operator's arrangement of the panes survives a restart.
#include <QByteArray>
#include <QToolBar>

#include "app/MainFrame.h"
#include "platform/registry.h"

namespace {

constexpr char16_t kWindowKey[] = u"Software\\Q7V-MS\\Window";
// Raised when the panes or toolbars change so that an old layout is not forced onto new windows.
constexpr int kLayoutVersion = 1;

QByteArray Read(const CRegistryKey& key, WStringView name) {
  const auto v = key.QueryBinary(name);
  if (!v) return {};
  return QByteArray(reinterpret_cast<const char*>(v->data()), qsizetype(v->size()));
}

void Write(CRegistryKey& key, WStringView name, const QByteArray& data) {
  key.SetBinary(name, std::span<const BYTE>(reinterpret_cast<const BYTE*>(data.constData()), std::size_t(data.size())));
}

}  // namespace

void CMainFrame::SaveWindowState() {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kWindowKey) != ERROR_SUCCESS) return;
  Write(key, u"Geometry", saveGeometry());
  Write(key, u"Layout", saveState(kLayoutVersion));
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
