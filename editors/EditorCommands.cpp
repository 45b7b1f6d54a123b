#include "editors/EditorCommands.h"

#include "editors/ContrastDlg.h"
#include "editors/LayerDlg.h"
#include "editors/RemarkDlg.h"
#include "editors/ScaleDlg.h"

namespace editors {

namespace {

bool RunScale(QWidget* parent, CMeasureManager& engine, double pixelLength) {
  CScale2Dlg dlg(parent);
  dlg.SetPixelLength(pixelLength);
  dlg.SetDisplayBlock(engine.ScaleDisplay());
  if (dlg.exec() != QDialog::Accepted) return false;
  float factor = 0.0f;
  WString unit;
  ScaleDisplayBlock block;
  dlg.GetScale(&factor, &unit, &block);
  engine.SetScale(factor, unit, block);
  if (CLayerDlg* layers = CLayerDlg::Instance()) layers->OnTcnSelchangeLayerTab();
  return true;
}

}  // namespace

bool RunRemarkDialog(QWidget* parent, int kind, WString* text, int* size, COLORREF* color) {
  CRemarkDlg dlg(parent);
  dlg.m_nRemarkKind = kind;
  dlg.m_strRemark = *text;
  dlg.m_nRemarkSize = *size;
  dlg.m_clrRemark = *color;
  if (dlg.exec() != QDialog::Accepted) return false;
  *text = dlg.m_strRemark;
  *size = dlg.m_nRemarkSize;
  *color = dlg.m_clrRemark;
  return true;
}

bool RunContrastDialog(QWidget* parent, CMeasureManager& engine, bool angle) {
  if (angle) {
    ContrastAngleBlock b;
    engine.GetContrastAngle(&b);
    CRemarkAngleDlg dlg(parent);
    dlg.m_bShow = b.on;
    dlg.m_dLength = b.length;
    dlg.m_nOriginX = b.x;
    dlg.m_nOriginY = b.y;
    dlg.m_dAngle = b.angle;
    if (dlg.exec() != QDialog::Accepted) return false;
    engine.SetContrastAngle(dlg.m_bShow, dlg.m_nOriginX, dlg.m_nOriginY, dlg.m_dLength, dlg.m_dAngle);
    return true;
  }
  ContrastRoundBlock b;
  engine.GetContrastRound(&b);
  CRemarkRoundDlg dlg(parent);
  dlg.m_bShow = b.on;
  dlg.m_dRadius = b.radius;
  dlg.m_nOriginX = b.x;
  dlg.m_nOriginY = b.y;
  if (dlg.exec() != QDialog::Accepted) return false;
  engine.SetContrastRound(dlg.m_bShow, dlg.m_nOriginX, dlg.m_nOriginY, dlg.m_dRadius);
  return true;
}

bool RunScaleDialog(QWidget* parent, CMeasureManager& engine) {
  return RunScale(parent, engine, engine.GetCalibrationLineLength());
}

bool RunScaleSettings(QWidget* parent, CMeasureManager& engine) { return RunScale(parent, engine, 0.0); }

}  // namespace editors
