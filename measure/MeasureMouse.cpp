#include "measure/MeasureManager.h"

void CMeasureManager::CaptureMouse() {
  if (m_hOwnerWnd && !m_bCaptured) m_hOwnerWnd->SetCapture();
  m_bCaptured = true;
}

void CMeasureManager::ReleaseMouse() {
  if (m_hOwnerWnd && m_bCaptured) m_hOwnerWnd->ReleaseCapture();
  m_bCaptured = false;
}
