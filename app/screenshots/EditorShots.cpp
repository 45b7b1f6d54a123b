#include "app/screenshots/EditorShots.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTabBar>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "editors/ContrastDlg.h"
#include "editors/LayerDlg.h"
#include "editors/Prompt.h"
#include "editors/RemarkDlg.h"
#include "editors/ScaleDlg.h"

namespace editors {

namespace {

void Save(QWidget& w, const QString& out, const QString& name, const QString& lang) {
  w.show();
  QCoreApplication::processEvents();
  w.grab().save(out + "/" + name + "-" + lang + ".png");
}

// A stage micrometer: 41 dark ticks 12.5 px apart on a light slide, every fifth and tenth longer.
void PutMicrometer(CCameraProcess& cam) {
  constexpr int w = 800, h = 600;
  QImage img(w, h, QImage::Format_RGB888);
  img.fill(QColor(200, 200, 200));
  {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(50, 50, 50));
    for (int k = 0; k < 41; ++k) {
      const double len = k % 10 == 0 ? 56 : k % 5 == 0 ? 42 : 28;
      p.drawRect(QRectF(150.0 + k * 12.5 - 1.5, 300, 3, len));
    }
    p.drawRect(QRectF(148.5, 297, 503, 3));
  }
  if (!cam.AllocFrameBuffer(w, h)) return;
  const FrameView frame = cam.ViewFrame();
  if (!frame) return;
  std::uint8_t* dst = frame.Data();
  for (int y = 0; y < h; ++y) {  // bottom-up BGR
    const std::uint8_t* src = img.constScanLine(h - 1 - y);
    for (int x = 0; x < w; ++x, dst += 3) {
      dst[0] = src[3 * x + 2];
      dst[1] = src[3 * x + 1];
      dst[2] = src[3 * x];
    }
  }
}

}  // namespace

void RenderEditorShots(const QString& out, const QString& lang) {
  // No box may wait for an answer here.
  SetPromptHook([](const PromptInfo& info) { return info.yesNo ? int(kAnswerYes) : int(kAnswerOk); });

  {
    CLayerPane pane;
    pane.resize(300, 720);
    static const char* const kPages[] = {"LayerEditor-Tree", "LayerEditor-ColorFont", "LayerEditor-ScaleDisplay"};
    for (int page = 0; page < 3; ++page) {
      pane.Dialog()->LayerTab()->setCurrentIndex(page);
      Save(pane, out, kPages[page], lang);
    }
  }
  {
    CRemarkDlg dlg;
    dlg.m_nRemarkKind = 256;
    dlg.OnInitDialog();
    Save(dlg, out, "Remark", lang);
  }
  {
    CRemarkAngleDlg dlg;
    dlg.OnInitDialog();
    Save(dlg, out, "ContrastAngle", lang);
  }
  {
    CRemarkRoundDlg dlg;
    dlg.OnInitDialog();
    Save(dlg, out, "ContrastRound", lang);
  }
  if (CCameraProcess* cam = AppHost().Camera()) {
    if (!cam->HasFrame()) PutMicrometer(*cam);
    CScale2Dlg dlg;
    dlg.OnInitDialog();
    Save(dlg, out, "ScaleSetup", lang);
    dlg.OnBnClickedAutoAnalyse();
    while (dlg.AnalysisRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    Save(dlg, out, "ScaleSetup-AutoAnalyse", lang);
    dlg.hide();
  }
  SetPromptHook({});
}

}  // namespace editors
