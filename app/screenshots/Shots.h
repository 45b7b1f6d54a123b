#pragma once
// The windows and dialogs each area adds to the screenshots.
#include <QString>

class CMainFrame;

// Renders every dialog and pane of the program into OUTDIR as NAME-LANG.png.
void RenderDialogs(CMainFrame& frame, const QString& out, const QString& lang);
