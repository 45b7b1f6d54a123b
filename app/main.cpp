// The program: one QApplication, the application object, the event loop.
#include <QApplication>
#include <clocale>

#include "app/Application.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QCoreApplication::setOrganizationName("q7v");
  QCoreApplication::setApplicationName("q7v-measure");
  // Numbers are printed and read with "." whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  CApplicationApp app;
  if (!app.InitInstance()) return app.ExitInstance();
  const int rc = qapp.exec();
  app.ExitInstance();
  return rc;
}
