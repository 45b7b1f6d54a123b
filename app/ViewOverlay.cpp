// Fingerprints of everything the measurement overlay shows, so the view draws its two layers
// again exactly when they changed, however they were changed (the mouse, the layer editor, a
// dialog, a load). They read every record's drawn fields but not the result texts, which follow
// from the points, the scale and the unit.
#include <algorithm>
#include <cstring>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"

namespace {

class Fnv {
 public:
  void Add(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h_ ^= (v >> (8 * i)) & 0xFF;
      h_ *= 0x100000001B3ull;
    }
  }
  void Add(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Add(bits);
  }
  void Add(const RECT& r) {
    Add(std::uint64_t(std::uint32_t(r.left)) << 32 | std::uint32_t(r.top));
    Add(std::uint64_t(std::uint32_t(r.right)) << 32 | std::uint32_t(r.bottom));
  }
  void Add(const POINT& p) { Add(std::uint64_t(std::uint32_t(p.x)) << 32 | std::uint32_t(p.y)); }
  void Add(WStringView s) {
    Add(std::uint64_t(s.size()));
    for (char16_t c : s) Add(std::uint64_t(c));
  }
  std::uint64_t Value() const { return h_; }

 private:
  std::uint64_t h_ = 0xCBF29CE484222325ull;
};

void AddRule(Fnv& f, const RuleBlock& r) {
  std::int32_t words[sizeof(RuleBlock) / 4];
  static_assert(sizeof(RuleBlock) % 4 == 0);
  std::memcpy(words, &r, sizeof r);
  for (std::int32_t w : words) f.Add(std::uint64_t(std::uint32_t(w)));
}

}  // namespace

// The grid and the measurements [begin, end): everything DrawMeasurements reads for them.
std::uint64_t CApplicationView::OverlayFingerprint(int begin, int end) const {
  const CMeasureManager& m = m_MeasureMgr;
  Fnv f;
  f.Add(std::uint64_t(std::uint32_t(m.m_nMeasureCount)));
  f.Add(m.m_dScale);
  f.Add(WStringView(m.m_strUnit));
  f.Add(std::uint64_t(m.m_bShowGrid));
  f.Add(std::uint64_t(m.m_nGridWidth) << 32 | std::uint32_t(m.m_nGridSpacing));
  f.Add(std::uint64_t(m.m_clrGrid));
  const int measures = std::min<int>(std::max(m.m_nMeasureCount, 0), int(m.m_arrMeasure.size()));
  begin = std::clamp(begin, 0, measures);
  end = std::clamp(end, begin, measures);
  f.Add(std::uint64_t(std::uint32_t(begin)) << 32 | std::uint32_t(end));
  // The text colour the measurement before the range leaves (a point's numbers are in it).
  for (int i = begin - 1; i >= 0; --i) {
    if (m.m_arrMeasure[std::size_t(i)].m_bVisible) {
      f.Add(std::uint64_t(m.m_arrMeasure[std::size_t(i)].m_clrText) | std::uint64_t(1) << 32);
      break;
    }
  }
  for (int i = begin; i < end; ++i) {
    const MEASUREBASE& r = m.m_arrMeasure[std::size_t(i)];
    f.Add(std::uint64_t(std::uint32_t(r.m_nKind)) << 32 | std::uint32_t(r.m_nPointCount));
    f.Add(r.m_rcBound);
    for (const POINT& p : r.m_arrPoint) f.Add(p);
    f.Add(std::uint64_t(r.m_bLocked) | std::uint64_t(r.m_bVisible) << 1 | std::uint64_t(r.m_bFill) << 2);
    f.Add(std::uint64_t(r.m_clrPen) << 32 | r.m_clrText);
    f.Add(std::uint64_t(r.m_clrFill) << 32 | std::uint32_t(r.m_nPenWidth));
    f.Add(std::uint64_t(std::uint32_t(r.m_nFontHeight)) << 32 | std::uint32_t(r.m_nTextOffsetX));
    f.Add(std::uint64_t(std::uint32_t(r.m_nTextOffsetY)));
  }
  return f.Value();
}

// What DrawInteraction draws over the measurements (and the region of interest); it sits on
// the measurements, so their fingerprint is part of it.
std::uint64_t CApplicationView::InteractionFingerprint(std::uint64_t measurements) const {
  const CMeasureManager& m = m_MeasureMgr;
  Fnv f;
  f.Add(measurements);
  for (int v : OverlayState()) f.Add(std::uint64_t(std::uint32_t(v)));
  f.Add(std::uint64_t(std::uint32_t(m.m_nRemarkCount)));
  f.Add(std::uint64_t(m.m_nDragPoint));
  f.Add(std::uint64_t(m.m_bShowCalibLine) | std::uint64_t(m.m_bContrastRound) << 1 |
        std::uint64_t(m.m_bContrastAngle) << 2 | std::uint64_t(m.m_bFirstLeg) << 3);
  f.Add(std::uint64_t(m.m_clrSel));
  f.Add(std::uint64_t(m.m_nSelPenStyle) << 32 | std::uint32_t(m.m_nSelPenWidth));
  f.Add(m.m_rcCalibLine);
  const ScaleDisplayBlock& s = m.m_ScaleDisplay;
  for (int v : {s.enable, s.xPercent, s.yPercent, s.length, s.lineColor, s.textColor, s.reserved, s.lineWidth})
    f.Add(std::uint64_t(std::uint32_t(v)));
  AddRule(f, m.m_CrossRule);
  AddRule(f, m.m_AngleRule);
  f.Add(m.m_dContrastRoundRadius);
  f.Add(std::uint64_t(m.m_nContrastRoundX) << 32 | std::uint32_t(m.m_nContrastRoundY));
  f.Add(m.m_dContrastAngleLength);
  f.Add(m.m_dContrastAngleDeg);
  f.Add(std::uint64_t(m.m_nContrastAngleX) << 32 | std::uint32_t(m.m_nContrastAngleY));
  const int remarks = std::min<int>(std::max(m.m_nRemarkCount, 0), int(m.m_arrRemark.size()));
  for (int i = 0; i < remarks; ++i) {
    const stRemark& r = m.m_arrRemark[std::size_t(i)];
    f.Add(std::uint64_t(std::uint32_t(r.m_nKind)) << 32 | std::uint32_t(r.m_nSize));
    f.Add(r.m_ptText);
    f.Add(r.m_pt1);
    f.Add(r.m_pt2);
    f.Add(std::uint64_t(r.m_clrColor));
    f.Add(WStringView(r.m_szText, BufferLength(r.m_szText, std::size(r.m_szText))));
  }
  POINT a{0, 0}, b{0, 0};
  const bool roi = camera_.GetRoi(&a, &b);
  f.Add(std::uint64_t(roi));
  f.Add(a);
  f.Add(b);
  return f.Value();
}
