// Every dialog and pane of the program, rendered for reviewers.
#include <QApplication>
#include <QDir>
#include <QWidget>

#include "app/MainFrame.h"
#include "app/screenshots/Shots.h"
#include "editors/EditorShots.h"
#include "imaging/CamSetupShots.h"
#include "imaging/GrayStretchDlg.h"
#include "imaging/ImagePrsDlg.h"
#include "imaging/ThresholdDlg.h"
#include "options/OptionsDlg.h"

namespace {

void Save(QWidget& w, const QString& out, const QString& name, const QString& lang) {
  w.show();
  QApplication::processEvents();
  w.grab().save(QDir(out).filePath(name + "-" + lang + ".png"));
  w.hide();
}

}  // namespace

void RenderDialogs(CMainFrame& frame, const QString& out, const QString& lang) {
  for (int page = 0; page < 5; ++page) {
    COptionsDlg dlg(page, &frame);
    Save(dlg, out, QString("options-page%1").arg(page), lang);
  }
  editors::RenderEditorShots(out, lang);
  RenderCamSetupShots(out, lang);
}
