#pragma once
// The engine tests' way to states the mouse machine reaches only through long press sequences
// (a full store, a half-built shape in a given state) and to slots beyond the count. Nothing set
// here is announced: the engine tests read the state, not a view.
#include <cstdint>

#include "measure/MeasureManager.h"

struct MeasureTestAccess {
  static std::int32_t& MouseState(CMeasureManager& m) { return m.m_nMouseState; }
  static bool& InProgress(CMeasureManager& m) { return m.m_bInProgress; }
  static std::int32_t& HoverMeasure(CMeasureManager& m) { return m.m_nHoverMeasure; }
  static std::int32_t& SelectedMeasure(CMeasureManager& m) { return m.m_nSelMeasure; }
  static std::int32_t& CurrentRemark(CMeasureManager& m) { return m.m_nCurRemark; }
  static std::int32_t& DragPoint(CMeasureManager& m) { return m.m_nDragPoint; }
  static POINT& DragAnchor(CMeasureManager& m) { return m.m_ptDragAnchor; }
  static std::int32_t& MeasureCount(CMeasureManager& m) { return m.m_nMeasureCount; }
  static std::int32_t& RemarkCount(CMeasureManager& m) { return m.m_nRemarkCount; }
  static MEASUREBASE& MeasureSlot(CMeasureManager& m, int i) { return m.m_arrMeasure.at(std::size_t(i)); }
  static stRemark& RemarkSlot(CMeasureManager& m, int i) { return m.m_arrRemark.at(std::size_t(i)); }
};

// Record i changed by `edit` through the engine's SetMeasure, as an editor would change it.
template <typename Edit>
void EditMeasure(CMeasureManager& m, int i, Edit edit) {
  MEASUREBASE rec = *m.GetMeasure(i);
  edit(rec);
  m.SetMeasure(i, rec);
}

// A finished record of `kind` with `points` appended, with its bounds and result text as the
// mouse machine leaves them; its index.
inline int AddFinished(CMeasureManager& m, MEASUREBASE rec) {
  const int i = m.AddMeasure(rec);
  if (i < 0) return i;
  POINT tl, br;
  if (m.GetMeasureBounds(i, &tl, &br)) {
    rec.m_rcBound = RECT{tl.x, tl.y, br.x, br.y};
    m.SetMeasure(i, rec);
  }
  MeasureValues v;
  if (m.CalcMeasureValues(i, &v)) m.FormatResultText(i, v.L, v.A, v.B, v.P, v.S);
  return i;
}
