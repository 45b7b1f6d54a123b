// The program: one QApplication, the application object, the event loop.
#include <QApplication>
#include <QIcon>
#include <clocale>

#include "app/Application.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QCoreApplication::setOrganizationName("q7v");
  QCoreApplication::setApplicationName("q7v-measure");
  // The desktop entry and icon a package installs (taskbar grouping, window icon).
  QGuiApplication::setDesktopFileName("org.q7v.Measure");
  QApplication::setWindowIcon(QIcon::fromTheme("org.q7v.Measure"));
  // Numbers are printed and read with "." whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  CApplicationApp app;
  if (!app.InitInstance()) return app.ExitInstance();
  const int rc = qapp.exec();
  app.ExitInstance();
  return rc;
}
