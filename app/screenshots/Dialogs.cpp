#include "app/MainFrame.h"
#include "app/screenshots/Shots.h"

void RenderDialogs(CMainFrame& /*frame*/, const QString& /*out*/, const QString& /*lang*/) {}
