// The record stores and the editing operations of the layer editor and the view, and how the
// engine announces its changes.
#include <algorithm>
#include <utility>

#include "measure/MeasureManager.h"

namespace {

std::int32_t SatAdd(std::int32_t v, std::int32_t d) {
  return std::int32_t(std::clamp<std::int64_t>(std::int64_t(v) + d, INT32_MIN, INT32_MAX));
}

void Translate(MEASUREBASE& rec, std::int32_t dx, std::int32_t dy, bool xSides, bool ySides) {
  const std::size_t n = rec.m_nPointCount > 0 ? std::min(std::size_t(rec.m_nPointCount), rec.m_arrPoint.size()) : 0;
  for (std::size_t k = 0; k < n; ++k) {
    rec.m_arrPoint[k].x = SatAdd(rec.m_arrPoint[k].x, dx);
    rec.m_arrPoint[k].y = SatAdd(rec.m_arrPoint[k].y, dy);
  }
  if (xSides) {
    rec.m_rcBound.left = SatAdd(rec.m_rcBound.left, dx);
    rec.m_rcBound.right = SatAdd(rec.m_rcBound.right, dx);
  }
  if (ySides) {
    rec.m_rcBound.top = SatAdd(rec.m_rcBound.top, dy);
    rec.m_rcBound.bottom = SatAdd(rec.m_rcBound.bottom, dy);
  }
}

// Moves element `from` to position `to`, shifting the ones between.
template <typename T>
void MoveElement(std::vector<T>& v, std::size_t from, std::size_t to) {
  if (from < to)
    std::rotate(v.begin() + std::ptrdiff_t(from), v.begin() + std::ptrdiff_t(from) + 1, v.begin() + std::ptrdiff_t(to) + 1);
  else if (to < from)
    std::rotate(v.begin() + std::ptrdiff_t(to), v.begin() + std::ptrdiff_t(from), v.begin() + std::ptrdiff_t(from) + 1);
}

// Where index `idx` ends up when element `from` moves to `to`.
std::int32_t MovedIndex(std::int32_t idx, std::int32_t from, std::int32_t to) {
  if (idx < 0) return idx;
  if (idx == from) return to;
  if (from < to && idx > from && idx <= to) return idx - 1;
  if (to < from && idx >= to && idx < from) return idx + 1;
  return idx;
}

}  // namespace

CMeasureManager::CMeasureManager() {
  m_arrMeasure.resize(kMeasureSlots);
  m_arrRemark.resize(kMeasureSlots);
}

CMeasureManager::~CMeasureManager() {
  // The owner window is going away with us: do not call back into it.
  m_listeners.clear();
  m_hOwnerWnd = nullptr;
  m_arrMeasure.clear();
  m_arrRemark.clear();
  m_pfnNotify = nullptr;
  ResetMeasurements();  // touches no slot of the emptied stores
}

void CMeasureManager::SetNotifyTarget(HWND owner, MeasureNotifyFn notify) {
  if (owner) m_hOwnerWnd = owner;
  if (notify) m_pfnNotify = notify;
}

int CMeasureManager::AddChangeListener(MeasureChangeListener listener) {
  if (!listener) return 0;
  m_listeners.emplace_back(m_nextListener, std::move(listener));
  return m_nextListener++;
}

void CMeasureManager::RemoveChangeListener(int id) {
  std::erase_if(m_listeners, [id](const auto& l) { return l.first == id; });
}

CMeasureManager::ChangeScope::ChangeScope(CMeasureManager& m) : m_(m) {
  if (m_.m_scopeDepth++ == 0) before_ = m_.InteractionState();
}

CMeasureManager::ChangeScope::~ChangeScope() {
  if (m_.m_scopeDepth > 1) {
    --m_.m_scopeDepth;
    return;
  }
  if (m_.InteractionState() != before_) m_.Changed(kChangedInteraction);  // still inside: kept
  m_.m_scopeDepth = 0;
  m_.Announce();
}

std::array<std::int32_t, 10> CMeasureManager::InteractionState() const {
  return {m_nHoverMeasure, m_nSelMeasure,         m_nCurRemark, m_nHoverRemark, m_nCreating,
          m_nMouseState,   m_bInProgress ? 1 : 0, m_nCurKind,   m_nDragPoint,   m_bFirstLeg ? 1 : 0};
}

void CMeasureManager::Changed(std::uint32_t changes, int index) {
  if (changes & kChangedMeasurements) {
    ++m_revisions.measurements;
    if (index < 0 || index != MovingMeasure()) ++m_revisions.resting;
  }
  if (changes & kChangedInteraction) ++m_revisions.interaction;
  if (changes & kChangedOverlays) ++m_revisions.overlays;
  if (changes & kChangedScale) ++m_revisions.scale;
  m_pending |= changes;
  if (m_scopeDepth == 0) Announce();
}

void CMeasureManager::Announce() {
  const std::uint32_t changes = std::exchange(m_pending, 0u);
  if (changes == 0 || m_listeners.empty()) return;
  const auto listeners = m_listeners;  // a listener may remove itself
  for (const auto& l : listeners) l.second(changes);
}

void CMeasureManager::Notify(int index, int action) const {
  if (!m_pfnNotify || index < 0 || std::size_t(index) >= m_arrMeasure.size()) return;
  m_pfnNotify(index, m_arrMeasure[std::size_t(index)], action);
}

int CMeasureManager::GetMeasureKind(int i) const {
  const MEASUREBASE* rec = GetMeasure(i);
  return rec ? rec->m_nKind : -1;
}

const MEASUREBASE* CMeasureManager::GetMeasure(int i) const {
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size()) return nullptr;
  return &m_arrMeasure[std::size_t(i)];
}

const stRemark* CMeasureManager::GetRemark(int i) const {
  if (i < 0 || std::size_t(i) >= m_arrRemark.size()) return nullptr;
  return &m_arrRemark[std::size_t(i)];
}

int CMeasureManager::AddMeasure(const MEASUREBASE& record) {
  if (m_nMeasureCount < 0 || m_nMeasureCount >= int(m_arrMeasure.size())) return -1;
  ChangeScope scope(*this);
  const int i = m_nMeasureCount++;
  m_arrMeasure[std::size_t(i)] = record;
  Changed(kChangedMeasurements);
  if (record.m_nKind != MK_ARROW && record.m_nKind != MK_CROSS) Notify(i, 1);
  return i;
}

bool CMeasureManager::SetMeasure(int i, const MEASUREBASE& record) {
  if (i < 0 || i >= std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()))) return false;
  m_arrMeasure[std::size_t(i)] = record;
  Changed(kChangedMeasurements);
  return true;
}

int CMeasureManager::AddRemark(const stRemark& remark) {
  if (m_nRemarkCount < 0 || m_nRemarkCount >= int(m_arrRemark.size())) return -1;
  const int i = m_nRemarkCount++;
  m_arrRemark[std::size_t(i)] = remark;
  Changed(kChangedInteraction);
  return i;
}

void CMeasureManager::SetCalibrationLine(int show, int x1, int y1, int x2, int y2) {
  const RECT line{x1, y1, x2, y2};
  if (m_bShowCalibLine == (show != 0) && m_rcCalibLine == line) return;
  m_bShowCalibLine = show != 0;
  m_rcCalibLine = line;
  Changed(kChangedOverlays);
}

void CMeasureManager::ShowGrid(int on) {
  if (m_bShowGrid == (on != 0)) return;
  m_bShowGrid = on != 0;
  Changed(kChangedMeasurements);
}

void CMeasureManager::SetGridStyle(int width, int spacing, COLORREF color) {
  if (m_nGridWidth == width && m_nGridSpacing == spacing && m_clrGrid == color) return;
  m_nGridWidth = width;
  m_nGridSpacing = spacing;
  m_clrGrid = color;
  Changed(kChangedMeasurements);
}

void CMeasureManager::SetSelectionStyle(int penStyle, int width, COLORREF color) {
  if (m_nSelPenStyle == penStyle && m_nSelPenWidth == width && m_clrSel == color) return;
  m_nSelPenStyle = penStyle;
  m_nSelPenWidth = width;
  m_clrSel = color;
  Changed(kChangedOverlays);
}

void CMeasureManager::SetContrastRound(int on, int x, int y, double radius) {
  m_bContrastRound = on != 0;
  m_nContrastRoundX = x;
  m_nContrastRoundY = y;
  m_dContrastRoundRadius = radius;
  Changed(kChangedOverlays);
}

void CMeasureManager::GetContrastRound(ContrastRoundBlock* out) const {
  if (!out) return;
  *out = ContrastRoundBlock{m_bContrastRound ? 1 : 0, m_dContrastRoundRadius, m_nContrastRoundX, m_nContrastRoundY};
}

void CMeasureManager::SetContrastAngle(int on, int x, int y, double length, double angle) {
  m_bContrastAngle = on != 0;
  m_nContrastAngleX = x;
  m_nContrastAngleY = y;
  m_dContrastAngleLength = length;
  m_dContrastAngleDeg = angle;
  Changed(kChangedOverlays);
}

void CMeasureManager::GetContrastAngle(ContrastAngleBlock* out) const {
  if (!out) return;
  *out = ContrastAngleBlock{m_bContrastAngle ? 1 : 0, m_dContrastAngleLength, m_nContrastAngleX, m_nContrastAngleY,
                            m_dContrastAngleDeg};
}

void CMeasureManager::SetDividingRule(int enable, int which, int step, const RECT& rc, int lineColor, int textColor) {
  if (which != 0 && which != 1) return;
  RuleBlock& rule = which == 0 ? m_CrossRule : m_AngleRule;
  const RuleBlock before = rule;
  rule.enable = enable;
  rule.step = step;
  rule.lineColor = lineColor;
  rule.textColor = textColor;
  if (rc.left != 0 || rc.top != 0 || rc.right != 0 || rc.bottom != 0) {
    const std::int64_t w = std::int64_t(rc.right) - rc.left, h = std::int64_t(rc.bottom) - rc.top;
    rule.cx = std::int32_t(w / 2);
    rule.cy = std::int32_t(h / 2);
    if (which == 1) {
      const std::int64_t m = h < w ? h : w;
      rule.radius = std::int32_t((m - m / 3) / 2);
    }
  }
  if (rule != before) Changed(kChangedOverlays);
}

void CMeasureManager::SetMeasureLocked(int i, int on) {
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size()) return;
  m_arrMeasure[std::size_t(i)].m_bLocked = on != 0;
  Changed(kChangedMeasurements);
}

void CMeasureManager::SetMeasureVisible(int i, int on) {
  if (i < 0 || std::size_t(i) >= m_arrMeasure.size()) return;
  m_arrMeasure[std::size_t(i)].m_bVisible = on != 0;
  Changed(kChangedMeasurements);
}

void CMeasureManager::SelectMeasure(int i, MEASUREBASE* out) {
  if (i < -1 || i >= int(m_arrMeasure.size())) return;
  ChangeScope scope(*this);
  m_nSelMeasure = i;
  m_nHoverMeasure = -1;
  if (!out) return;
  *out = i == -1 ? MEASUREBASE{} : m_arrMeasure[std::size_t(i)];
}

void CMeasureManager::SetSelectedMeasureStyle(COLORREF pen, int penWidth, COLORREF text, int fontSize, int fill,
                                              COLORREF fillColor, int dx, int dy) {
  const std::int32_t fontHeight = SatAdd(fontSize, 19);
  ChangeScope scope(*this);
  if (m_nSelMeasure >= 0 && std::size_t(m_nSelMeasure) < m_arrMeasure.size()) {
    MEASUREBASE& rec = m_arrMeasure[std::size_t(m_nSelMeasure)];
    rec.m_clrPen = pen;
    rec.m_nPenWidth = penWidth;
    rec.m_clrText = text;
    rec.m_nFontHeight = fontHeight;
    rec.m_bFill = fill != 0;
    rec.m_clrFill = fillColor;
    rec.m_nTextOffsetX = dx;
    rec.m_nTextOffsetY = dy;
    Changed(kChangedMeasurements);
  }
  m_clrDefaultText = text;
  m_nDefaultFontHeight = fontHeight;
  m_clrDefaultPen = pen;
  m_nDefaultPenWidth = penWidth;
}

void CMeasureManager::MoveMeasure(int from, int to) {
  const int count = std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()));
  if (from < 0 || from >= count || to < 0 || to >= count) return;
  if (m_bInProgress && m_nMouseState == MS_CREATING) return;  // the last slot is being built
  ChangeScope scope(*this);
  MoveElement(m_arrMeasure, std::size_t(from), std::size_t(to));
  Changed(kChangedMeasurements);
  m_nSelMeasure = to;
  // A hover (or a drag) keeps following its record; in state 6 the hover index is only a marker.
  if (m_nMouseState != MS_RULECENTRE) m_nHoverMeasure = MovedIndex(m_nHoverMeasure, from, to);
}

void CMeasureManager::NudgeSelection(int i, int direction) {
  const std::int32_t dx = direction == 0 ? -1 : direction == 1 ? 1 : 0;
  const std::int32_t dy = direction == 2 ? -1 : direction == 3 ? 1 : 0;
  if (i >= 0 && std::size_t(i) < m_arrMeasure.size()) {
    if (direction < 0 || direction > 3) return;
    Translate(m_arrMeasure[std::size_t(i)], dx, dy, dx != 0, dy != 0);
    Changed(kChangedMeasurements, i);
    return;
  }
  if (m_nCurRemark < 0 || std::size_t(m_nCurRemark) >= m_arrRemark.size() || direction < 0 || direction > 3) return;
  stRemark& r = m_arrRemark[std::size_t(m_nCurRemark)];
  r.m_ptText = POINT{SatAdd(r.m_ptText.x, dx), SatAdd(r.m_ptText.y, dy)};
  r.m_rcHit = RECT{SatAdd(r.m_rcHit.left, dx), SatAdd(r.m_rcHit.top, dy), SatAdd(r.m_rcHit.right, dx),
                   SatAdd(r.m_rcHit.bottom, dy)};
  r.m_pt1 = POINT{SatAdd(r.m_pt1.x, dx), SatAdd(r.m_pt1.y, dy)};
  r.m_pt2 = POINT{SatAdd(r.m_pt2.x, dx), SatAdd(r.m_pt2.y, dy)};
  Changed(kChangedInteraction);
}

void CMeasureManager::CopyMeasure(int i, WString* outText) {
  const int count = std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()));
  if (i < 0 || i >= count) return;
  if (count >= int(m_arrMeasure.size())) return;                  // no free slot
  if (m_bInProgress && m_nMouseState == MS_CREATING) return;      // the last slot is being built
  MEASUREBASE copy = m_arrMeasure[std::size_t(i)];
  Translate(copy, 10, 10, true, true);
  if (outText) *outText = WString(m_arrMeasure[std::size_t(i)].m_szResult, BufferLength(m_arrMeasure[std::size_t(i)].m_szResult, kResultTextLen));
  // The store keeps its size: the free slot at the end makes room for the copy.
  m_arrMeasure.pop_back();
  m_arrMeasure.insert(m_arrMeasure.begin() + i + 1, std::move(copy));
  ++m_nMeasureCount;
  Changed(kChangedMeasurements);
  // The selection is left as it is: the layer tree copies the selected record and keeps it selected.
}

int CMeasureManager::DeleteMeasure(int i) {
  const int count = std::min<int>(m_nMeasureCount, int(m_arrMeasure.size()));
  if (i < 0 || i >= count) return 0;
  const bool idle = m_nMouseState == MS_IDLE || (m_nMouseState == MS_MOVE && !m_bInProgress);
  if (!idle) return 0;
  ChangeScope scope(*this);
  m_arrMeasure.erase(m_arrMeasure.begin() + i);
  Changed(kChangedMeasurements);
  m_arrMeasure.emplace_back();
  --m_nMeasureCount;
  if (m_nSelMeasure == i) m_nSelMeasure = -1;
  else if (m_nSelMeasure > i) --m_nSelMeasure;
  if (m_nHoverMeasure == i) {
    m_nHoverMeasure = -1;
    if (m_nMouseState == MS_MOVE && m_nHoverRemark < 0) {  // nothing left under the pointer
      m_nMouseState = MS_IDLE;
      m_nCurKind = MK_NONE;
    }
  } else if (m_nHoverMeasure > i) {
    --m_nHoverMeasure;
  }
  return 1;
}

void CMeasureManager::ResetMeasurements() {
  ChangeScope scope(*this);
  Changed(kChangedMeasurements | kChangedOverlays | kChangedScale);
  const std::size_t used = m_nMeasureCount > 0 ? std::min(std::size_t(m_nMeasureCount), m_arrMeasure.size()) : 0;
  for (std::size_t k = 0; k < used; ++k) m_arrMeasure[k] = MEASUREBASE{};
  m_nMeasureCount = 0;
  m_bShowCalibLine = false;
  m_nMouseState = MS_IDLE;
  m_bInProgress = false;
  m_nCreating = -1;
  m_nCurKind = MK_NONE;
  m_nHoverMeasure = -1;
  m_nSelMeasure = -1;
  m_nDragPoint = -1;
  ReleaseMouse();
  m_strUnit = u"px";
  m_dScale = 1.0;
  m_bShowGrid = false;
  m_clrGrid = 0;
  m_nGridWidth = 1;
  m_nGridSpacing = 100;
  m_ptDragAnchor = POINT{0, 0};
}

void CMeasureManager::FillRemark(int i, int x, int y, WStringView text, int size, COLORREF color) {
  if (i < 0 || std::size_t(i) >= m_arrRemark.size()) return;
  stRemark& r = m_arrRemark[std::size_t(i)];
  if (r.m_nKind == MK_NONE) r.m_nKind = MK_TEXT;
  CopyToBuffer(text, r.m_szText, kResultTextLen);
  r.m_ptText = POINT{x, y};
  r.m_nSize = size;
  r.m_clrColor = color;
  Changed(kChangedInteraction);
}

void CMeasureManager::AddRemark(int x, int y, WStringView text, int size, COLORREF color) {
  if (m_nRemarkCount < 0 || std::size_t(m_nRemarkCount) >= m_arrRemark.size()) return;  // store full
  ChangeScope scope(*this);
  m_arrRemark[std::size_t(m_nRemarkCount)].m_nKind = MK_TEXT;
  FillRemark(m_nRemarkCount, x, y, text, size, color);
  m_nCurRemark = m_nRemarkCount;
  ++m_nRemarkCount;
}

void CMeasureManager::DeleteSelectedRemark() {
  const bool idle = m_nMouseState == MS_IDLE || (m_nMouseState == MS_MOVE && !m_bInProgress);
  if (!idle) return;
  const int count = std::min<int>(m_nRemarkCount, int(m_arrRemark.size()));
  if (m_nCurRemark < 0 || m_nCurRemark >= count) return;
  ChangeScope scope(*this);
  Changed(kChangedInteraction);
  m_arrRemark.erase(m_arrRemark.begin() + m_nCurRemark);
  m_arrRemark.emplace_back();
  --m_nRemarkCount;
  m_nCurRemark = -1;
  m_nHoverRemark = -1;
  m_nMouseState = MS_IDLE;
}

void CMeasureManager::RemoveAllRemarks() {
  ChangeScope scope(*this);
  Changed(kChangedInteraction);
  const std::size_t used = m_nRemarkCount > 0 ? std::min(std::size_t(m_nRemarkCount), m_arrRemark.size()) : 0;
  for (std::size_t k = 0; k < used; ++k) FillRemark(int(k), -1, -1, u"", 20, 0);
  m_nRemarkCount = 0;
  m_nCurRemark = -1;
  m_nHoverRemark = -1;
  // A measurement half built is abandoned as the right button would, so the layer editor that
  // was told of its creation hears of its end.
  if (m_bInProgress && m_nMouseState == MS_CREATING && m_nCurKind != MK_ARROW && m_nCurKind != MK_CROSS &&
      m_nCreating >= 0 && m_nCreating == m_nMeasureCount - 1) {
    Notify(m_nCreating, 3);
    --m_nMeasureCount;
    Changed(kChangedMeasurements);
  }
  m_nMouseState = MS_IDLE;
  // End whatever the mouse was building or dragging: its record may be gone.
  m_bInProgress = false;
  m_nCreating = -1;
  ReleaseMouse();
}
