// The shape-building mouse state machine: presses, moves and releases in image pixels build
// measurements and arrow/cross annotations, drag their points, move them and move the centre
// of the cross dividing rule.
#include <algorithm>
#include <cstdint>

#include "measure/MeasureManager.h"

void CMeasureManager::CaptureMouse() {
  if (m_hOwnerWnd && !m_bCaptured) m_hOwnerWnd->SetCapture();
  m_bCaptured = true;
}

void CMeasureManager::ReleaseMouse() {
  if (m_hOwnerWnd && m_bCaptured) m_hOwnerWnd->ReleaseCapture();
  m_bCaptured = false;
}

namespace {

// Point slots a new shape gets and its point count right after the first press.
struct KindLayout {
  int slotCount = 0;
  int count = 0;
};

// false for every kind that the machine does not build into the measurement store
bool MeasureLayout(int kind, KindLayout* out) {
  switch (kind) {
    case MK_POINT:
    case MK_FOLDLINE:
    case MK_POLYGON: *out = {kMaxOpenShapePoints, 2}; return true;
    case MK_LINE:
    case MK_PARALLEL:
    case MK_RECT:
    case MK_ROUNDRECT:
    case MK_ELLIPSE: *out = {2, 2}; return true;
    case MK_ANGLE:
    case MK_CIRCLE2: *out = {3, 3}; return true;
    case MK_POINT2LINE: *out = {3, 1}; return true;
    case MK_LINE2LINE: *out = {4, 1}; return true;
    case MK_ARC3:
    case MK_CIRCLE3: *out = {4, 4}; return true;
    case MK_CIRCLE2LINE: *out = {6, 1}; return true;
    case MK_CIRCLE2CIRCLE: *out = {8, 1}; return true;
    default: return false;
  }
}

bool IsRemarkShape(int kind) { return kind == MK_ARROW || kind == MK_CROSS; }
bool IsTwoLegKind(int kind) { return kind == MK_ANGLE || kind == MK_ARC3 || kind == MK_CIRCLE3; }

POINT Midpoint(POINT a, POINT b) {
  return POINT{std::int32_t((std::int64_t(a.x) + b.x) / 2), std::int32_t((std::int64_t(a.y) + b.y) / 2)};
}

POINT Offset(POINT p, std::int64_t dx, std::int64_t dy) {
  return POINT{TruncToInt(double(p.x + dx)), TruncToInt(double(p.y + dy))};
}

// Number of leading points that are drag handles: computed centres and midpoints are not.
int HandleCount(const MEASUREBASE& m) {
  int n = std::min<int>(m.m_nPointCount, int(m.m_arrPoint.size()));
  switch (m.m_nKind) {
    case MK_CIRCLE2LINE: n -= 1; break;
    case MK_CIRCLE2CIRCLE: n -= 2; break;
    case MK_CIRCLE2:
    case MK_CIRCLE3: n -= 1; break;
    default: break;
  }
  return std::max(n, 0);
}

}  // namespace

void CMeasureManager::StoreBounds(int i) {
  POINT tl, br;
  if (GetMeasureBounds(i, &tl, &br)) m_arrMeasure[std::size_t(i)].m_rcBound = RECT{tl.x, tl.y, br.x, br.y};
  Changed(kChangedMeasurements, i);
}

void CMeasureManager::RefreshMeasure(int i) {
  StoreBounds(i);
  MeasureValues v;
  if (CalcMeasureValues(i, &v)) FormatResultText(i, v.L, v.A, v.B, v.P, v.S);
}

int CMeasureManager::HitTestRemark(int x, int y) const {
  const int n = std::min<int>(m_nRemarkCount, int(m_arrRemark.size()));
  for (int i = 0; i < n; ++i)
    if (PtInRect(m_arrRemark[std::size_t(i)].m_rcHit, POINT{x, y})) return i;
  return -1;
}

int CMeasureManager::HitTestRuleCentre(int x, int y) const {
  const POINT c{m_CrossRule.cx, m_CrossRule.cy};
  const RECT box{TruncToInt(c.x - 5.0), TruncToInt(c.y - 5.0), TruncToInt(c.x + 5.0), TruncToInt(c.y + 5.0)};
  return PtInRect(box, POINT{x, y}) ? 0 : -1;
}

int CMeasureManager::GetSelectedRemark(stRemark* out) {
  if (m_nHoverRemark < 0 || m_nHoverRemark >= int(m_arrRemark.size())) return -1;
  ChangeScope scope(*this);
  if (out) *out = m_arrRemark[std::size_t(m_nHoverRemark)];
  m_nCurRemark = m_nHoverRemark;
  return m_nCurRemark;
}

int CMeasureManager::OnMeasureLButtonDown(int x, int y, int kind, int arm) {
  const POINT press{x, y};
  ChangeScope scope(*this);

  // Selection bookkeeping; a press on the rule centre leaves the measurement selection alone.
  if (m_nMouseState != MS_RULECENTRE) {
    if (m_nSelMeasure != -1 && m_nHoverMeasure == -1) {
      Notify(m_nSelMeasure, 4);
      m_nSelMeasure = -1;
    } else if (m_nHoverMeasure != -1 && m_nHoverMeasure != m_nSelMeasure) {
      m_nSelMeasure = m_nHoverMeasure;
    }
  }
  if (m_nCurRemark != -1 && m_nHoverRemark == -1)
    m_nCurRemark = -1;
  else if (m_nHoverRemark != -1 && m_nHoverRemark != m_nCurRemark)
    m_nCurRemark = m_nHoverRemark;

  if (arm == 1) m_nMouseState = MS_CREATING;

  switch (m_nMouseState) {
    case MS_CREATING: break;
    case MS_POINT:
    case MS_MOVE:
    case MS_RULECENTRE: {
      if (m_nMouseState != MS_RULECENTRE) {
        const bool remark = m_nHoverRemark >= 0 && m_nHoverRemark < int(m_arrRemark.size());
        if (remark) {
          m_nCurRemark = m_nHoverRemark;
        } else {
          if (m_nSelMeasure < 0 || m_nSelMeasure >= int(m_arrMeasure.size())) return 3;
          const MEASUREBASE& m = m_arrMeasure[std::size_t(m_nSelMeasure)];
          if (m.m_bLocked || !m.m_bVisible) return 3;
        }
      }
      m_ptDragAnchor = press;
      CaptureMouse();
      m_bInProgress = true;
      return 1;
    }
    default: return 3;
  }

  if (!m_bInProgress) {
    // A new shape. Kinds the machine does not build, and full stores, take no slot.
    KindLayout layout;
    const bool remarkShape = IsRemarkShape(kind);
    const bool measureShape = MeasureLayout(kind, &layout);
    if (!remarkShape && !measureShape) return 3;
    if (remarkShape && (m_nRemarkCount < 0 || m_nRemarkCount >= int(m_arrRemark.size()))) return 3;
    if (measureShape && (m_nMeasureCount < 0 || m_nMeasureCount >= int(m_arrMeasure.size()))) return 3;

    if (m_nSelMeasure != -1 && m_nHoverMeasure != -1) m_nSelMeasure = m_nHoverMeasure = -1;
    if (m_nCurRemark != -1 && m_nHoverRemark != -1) m_nCurRemark = m_nHoverRemark = -1;
    m_nCurKind = kind;

    if (remarkShape) {
      m_nCreating = m_nRemarkCount++;
      stRemark& r = m_arrRemark[std::size_t(m_nCreating)];
      r = stRemark();
      r.m_nKind = kind;
      r.m_pt1 = r.m_pt2 = press;
      Changed(kChangedInteraction);
    } else {
      m_nCreating = m_nMeasureCount++;
      MEASUREBASE& m = m_arrMeasure[std::size_t(m_nCreating)];
      m = MEASUREBASE();
      m.m_nKind = kind;
      m.m_nPointCount = layout.count;
      m.m_arrPoint.assign(std::size_t(layout.slotCount), press);
      m.m_clrText = m_clrDefaultText;
      m.m_clrPen = m_clrDefaultPen;
      m.m_nFontHeight = m_nDefaultFontHeight;
      m.m_nPenWidth = m_nDefaultPenWidth;
      Changed(kChangedMeasurements);
    }
    if (IsTwoLegKind(kind)) m_bFirstLeg = true;
    if (!remarkShape) Notify(m_nCreating, 1);
    CaptureMouse();
    m_bInProgress = true;
    return 2;
  }

  if (IsRemarkShape(m_nCurKind)) {
    // The second press ends an arrow or a cross.
    if (m_nCreating >= 0 && m_nCreating < int(m_arrRemark.size())) {
      stRemark& r = m_arrRemark[std::size_t(m_nCreating)];
      const POINT p1 = r.m_pt1;
      r.m_rcHit = RECT{TruncToInt(std::min(p1.x, x) - 10.0), TruncToInt(std::min(p1.y, y) - 10.0),
                       TruncToInt(std::max(p1.x, x) + 10.0), TruncToInt(std::max(p1.y, y) + 10.0)};
      r.m_pt2 = press;
      Changed(kChangedInteraction);
    }
    ReleaseMouse();
    m_nMouseState = MS_IDLE;
    m_nCurRemark = m_nCreating;
    m_nCreating = -1;
    m_bInProgress = false;
    return 0;
  }

  if (m_nCreating < 0 || m_nCreating >= int(m_arrMeasure.size())) return 3;
  MEASUREBASE& m = m_arrMeasure[std::size_t(m_nCreating)];
  const int n = m.m_nPointCount;
  const int slotCount = int(m.m_arrPoint.size());

  bool addPoint = false;
  switch (m.m_nKind) {
    case MK_POINT:
    case MK_FOLDLINE:
    case MK_POLYGON: addPoint = true; break;
    case MK_LINE2LINE: addPoint = n < 3; break;
    case MK_POINT2LINE: addPoint = n < 2; break;
    case MK_CIRCLE2LINE: addPoint = n < 4; break;
    case MK_CIRCLE2CIRCLE: addPoint = n < 5; break;
    default: break;
  }
  if (addPoint) {
    // An open shape that used all of its slots takes no more points.
    if (n >= 0 && n < slotCount) {
      m.m_arrPoint[std::size_t(n)] = press;
      m.m_nPointCount = n + 1;
      Changed(kChangedMeasurements, m_nCreating);
    }
    return 3;
  }

  if (IsTwoLegKind(m.m_nKind) && m_bFirstLeg) {
    m_bFirstLeg = false;
    return 1;
  }

  // The last press finishes the shape; kinds whose last point follows the pointer store nothing.
  int slot = -1, count = n;
  switch (m.m_nKind) {
    case MK_LINE2LINE: slot = n; count = n + 1; break;
    case MK_POINT2LINE: slot = n; count = n + 1; break;
    case MK_CIRCLE2LINE: slot = 4; count = 6; break;
    case MK_CIRCLE2CIRCLE: slot = 5; count = 8; break;
    default: break;
  }
  if (slot >= 0 && slot < slotCount) {
    m.m_arrPoint[std::size_t(slot)] = press;
    m.m_nPointCount = count;
  }
  const int index = m_nCreating;
  // The text from the points as stored, as every later recomputation and the reports see them.
  RefreshMeasure(index);
  Notify(index, 2);
  m_nHoverMeasure = m_nSelMeasure = index;
  m_nCreating = -1;
  m_nMouseState = MS_IDLE;
  ReleaseMouse();
  m_bInProgress = false;
  return 0;
}

void CMeasureManager::OnMeasureMouseMove(int x, int y) {
  const POINT P{x, y};
  ChangeScope scope(*this);

  if (m_nMouseState == MS_CREATING && m_bInProgress) {
    if (IsRemarkShape(m_nCurKind)) {
      if (m_nCreating >= 0 && m_nCreating < int(m_arrRemark.size())) {
        stRemark& r = m_arrRemark[std::size_t(m_nCreating)];
        if (m_nCurKind == MK_ARROW)
          r.m_pt2 = P;
        else
          r.m_pt1 = P;
        Changed(kChangedInteraction);
      }
      return;
    }
    if (m_nCreating < 0 || m_nCreating >= int(m_arrMeasure.size())) return;
    MEASUREBASE& m = m_arrMeasure[std::size_t(m_nCreating)];
    std::vector<POINT>& p = m.m_arrPoint;
    const int n = m.m_nPointCount;
    const int slotCount = int(p.size());
    auto at = [&](int k) -> POINT& { return p[std::size_t(k)]; };
    auto fits = [&](int k) { return k >= 0 && k < slotCount; };
    switch (m.m_nKind) {
      case MK_POINT:
      case MK_FOLDLINE:
      case MK_POLYGON:
        if (fits(n - 1)) at(n - 1) = P;
        break;
      case MK_ANGLE:
        if (slotCount < 3) break;
        if (m_bFirstLeg) {
          at(1) = P;
          at(2) = EquilateralThirdPoint(at(0), P);
        } else {
          at(2) = P;
        }
        break;
      case MK_LINE2LINE:
      case MK_POINT2LINE:
        if (fits(n)) at(n) = P;
        break;
      case MK_ARC3:
        if (slotCount < 4) break;
        if (m_bFirstLeg) {
          at(1) = P;
          at(3) = P;
        } else {
          at(2) = P;
          at(3) = CircleCentreFrom3Points(at(0), at(1), P);
        }
        break;
      case MK_CIRCLE2:
        if (slotCount < 3) break;
        at(1) = P;
        at(2) = Midpoint(at(0), P);
        break;
      case MK_CIRCLE3:
        if (slotCount < 4) break;
        if (m_bFirstLeg) {
          const POINT t = EquilateralThirdPoint(at(0), P);
          at(1) = P;
          at(2) = t;
          at(3) = CircleCentreFrom3Points(at(0), P, t);
        } else {
          at(2) = P;
          at(3) = CircleCentreFrom3Points(at(0), at(1), P);
        }
        break;
      case MK_CIRCLE2LINE:
        if (slotCount < 6) break;
        if (n == 1) {
          const POINT t = EquilateralThirdPoint(at(0), P);
          at(1) = P;
          at(2) = t;
          at(5) = CircleCentreFrom3Points(at(0), P, t);
        } else if (n == 2) {
          at(2) = P;  // the circle's third point follows the pointer, as its centre does
          at(5) = CircleCentreFrom3Points(at(0), at(1), P);
        } else if (n == 3 || n == 4) {
          at(n) = P;
        }
        break;
      case MK_CIRCLE2CIRCLE:
        if (slotCount < 8) break;
        if (n == 1) {
          const POINT t = EquilateralThirdPoint(at(0), P);
          at(1) = P;
          at(2) = t;
          at(6) = CircleCentreFrom3Points(at(0), P, t);
        } else if (n == 2) {
          at(2) = P;
          at(6) = CircleCentreFrom3Points(at(0), at(1), P);
        } else if (n == 3) {
          at(3) = P;
          at(7) = P;
        } else if (n == 4) {
          const POINT t = EquilateralThirdPoint(at(3), P);
          at(4) = P;
          at(5) = t;
          at(7) = CircleCentreFrom3Points(at(3), P, t);
        } else if (n == 5) {
          at(5) = P;
          at(7) = CircleCentreFrom3Points(at(3), at(4), P);
        }
        break;
      default:
        if (fits(1)) at(1) = P;
        break;
    }
    RefreshMeasure(m_nCreating);
    return;
  }

  if (m_nMouseState == MS_MOVE && m_bInProgress) {
    const std::int64_t dx = std::int64_t(P.x) - m_ptDragAnchor.x;
    const std::int64_t dy = std::int64_t(P.y) - m_ptDragAnchor.y;
    if (m_nCurRemark >= 0 && m_nCurRemark < int(m_arrRemark.size())) {
      stRemark& r = m_arrRemark[std::size_t(m_nCurRemark)];
      const POINT tl = Offset(POINT{r.m_rcHit.left, r.m_rcHit.top}, dx, dy);
      const POINT br = Offset(POINT{r.m_rcHit.right, r.m_rcHit.bottom}, dx, dy);
      r.m_rcHit = RECT{tl.x, tl.y, br.x, br.y};
      r.m_ptText = Offset(r.m_ptText, dx, dy);
      r.m_pt1 = Offset(r.m_pt1, dx, dy);
      r.m_pt2 = Offset(r.m_pt2, dx, dy);
      Changed(kChangedInteraction);
    } else if (m_nSelMeasure >= 0 && m_nSelMeasure < int(m_arrMeasure.size())) {
      MEASUREBASE& m = m_arrMeasure[std::size_t(m_nSelMeasure)];
      const int n = std::min<int>(m.m_nPointCount, int(m.m_arrPoint.size()));
      for (int k = 0; k < n; ++k) m.m_arrPoint[std::size_t(k)] = Offset(m.m_arrPoint[std::size_t(k)], dx, dy);
      const POINT tl = Offset(POINT{m.m_rcBound.left, m.m_rcBound.top}, dx, dy);
      const POINT br = Offset(POINT{m.m_rcBound.right, m.m_rcBound.bottom}, dx, dy);
      m.m_rcBound = RECT{tl.x, tl.y, br.x, br.y};
      Changed(kChangedMeasurements, m_nSelMeasure);
    }
    m_ptDragAnchor = P;
    return;
  }

  if (m_nMouseState == MS_POINT && m_bInProgress) {
    if (m_nSelMeasure < 0 || m_nSelMeasure >= int(m_arrMeasure.size())) return;
    MEASUREBASE& m = m_arrMeasure[std::size_t(m_nSelMeasure)];
    std::vector<POINT>& p = m.m_arrPoint;
    if (m_nDragPoint < 0 || m_nDragPoint >= int(p.size())) return;
    p[std::size_t(m_nDragPoint)] = P;
    const std::size_t slotCount = p.size();
    switch (m_nCurKind) {
      case MK_ARC3:
      case MK_CIRCLE3:
        if (slotCount >= 4) p[3] = CircleCentreFrom3Points(p[0], p[1], p[2]);
        break;
      case MK_CIRCLE2:
        if (slotCount >= 3) p[2] = Midpoint(p[0], p[1]);
        break;
      case MK_CIRCLE2LINE:
        if (slotCount >= 6) p[5] = CircleCentreFrom3Points(p[0], p[1], p[2]);
        break;
      case MK_CIRCLE2CIRCLE:
        if (slotCount >= 8) {
          p[6] = CircleCentreFrom3Points(p[0], p[1], p[2]);
          p[7] = CircleCentreFrom3Points(p[3], p[4], p[5]);
        }
        break;
      default: break;
    }
    RefreshMeasure(m_nSelMeasure);
    return;
  }

  if (m_nMouseState == MS_RULECENTRE && m_bInProgress) {
    m_CrossRule.cx = P.x;
    m_CrossRule.cy = P.y;
    Changed(kChangedOverlays);
    return;
  }

  // Hover: the rule centre first, then remarks, then measurements from the top of the stack.
  if ((m_nRemarkCount == 0 && m_nMeasureCount == 0 && !m_CrossRule.enable) || m_nMouseState == MS_CREATING) {
    m_nMouseState = MS_IDLE;
    return;
  }
  if (m_CrossRule.enable && HitTestRuleCentre(x, y) == 0) {
    m_nHoverMeasure = 0;
    m_nCurKind = MK_RULECENTRE;
    m_nMouseState = MS_RULECENTRE;
    return;
  }
  m_nHoverRemark = HitTestRemark(x, y);
  if (m_nHoverRemark >= 0) {
    // Leaving the rule centre for a remark drops its marker, which would otherwise read as
    // measurement 0 being hovered.
    if (m_nMouseState == MS_RULECENTRE) m_nHoverMeasure = -1;
    m_nMouseState = MS_MOVE;
    m_nCurKind = MK_TEXT;
    return;
  }
  const int count = std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()));
  for (int i = count - 1; i >= 0; --i) {
    const MEASUREBASE& m = m_arrMeasure[std::size_t(i)];
    if (m.m_bLocked || !m.m_bVisible || !PtInRect(m.m_rcBound, P)) continue;
    m_nCurKind = m.m_nKind;
    m_nDragPoint = -1;
    m_nMouseState = MS_MOVE;
    const int handles = HandleCount(m);
    for (int k = 0; k < handles; ++k) {
      const POINT h = m.m_arrPoint[std::size_t(k)];
      const RECT box{TruncToInt(h.x - 5.0), TruncToInt(h.y - 5.0), TruncToInt(h.x + 5.0), TruncToInt(h.y + 5.0)};
      if (PtInRect(box, P)) {
        m_nDragPoint = k;
        m_nMouseState = MS_POINT;
        break;
      }
    }
    m_nHoverMeasure = i;
    return;
  }
  if (m_nHoverMeasure != -1) {
    m_nHoverMeasure = -1;
    m_nCurKind = MK_NONE;
    m_nMouseState = MS_IDLE;
  }
}

int CMeasureManager::OnMeasureLButtonUp(int /*x*/, int /*y*/) {
  if (m_nMouseState == MS_IDLE || m_nCurKind == MK_NONE) return 3;
  if (m_nMouseState == MS_CREATING || !m_bInProgress) return 2;
  ChangeScope scope(*this);
  m_bInProgress = false;
  if (m_nMouseState != MS_RULECENTRE && m_nSelMeasure != -1) Notify(m_nSelMeasure, 2);
  m_nMouseState = MS_IDLE;
  ReleaseMouse();
  return 0;
}

int CMeasureManager::OnMeasureRButtonDown(int /*x*/, int /*y*/) {
  if (m_nMouseState != MS_CREATING || !m_bInProgress) return 3;
  ChangeScope scope(*this);

  if (IsRemarkShape(m_nCurKind)) {
    if (m_nRemarkCount > 0) --m_nRemarkCount;
    Changed(kChangedInteraction);
  } else if (m_nCreating >= 0 && m_nCreating < int(m_arrMeasure.size())) {
    MEASUREBASE& m = m_arrMeasure[std::size_t(m_nCreating)];
    bool finish = false;
    if (m.m_nKind == MK_POINT || m.m_nKind == MK_FOLDLINE || m.m_nKind == MK_POLYGON) {
      // the point that followed the pointer is dropped
      --m.m_nPointCount;
      finish = m.m_nKind == MK_POINT || (m.m_nKind == MK_FOLDLINE && m.m_nPointCount >= 2) ||
               (m.m_nKind == MK_POLYGON && m.m_nPointCount >= 3);
    }
    if (finish) {
      RefreshMeasure(m_nCreating);
      m_nHoverMeasure = m_nSelMeasure = m_nCreating;
      Notify(m_nCreating, 2);
    } else {
      Notify(m_nCreating, 3);
      if (m_nMeasureCount > 0) --m_nMeasureCount;
      Changed(kChangedMeasurements);
    }
  }
  m_nCreating = -1;
  m_nMouseState = MS_IDLE;
  m_bInProgress = false;
  ReleaseMouse();
  return 0;
}
