#include "measure/MeasureBase.h"

#include <cstring>

namespace {

void PutI32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = std::uint8_t(u);
  p[1] = std::uint8_t(u >> 8);
  p[2] = std::uint8_t(u >> 16);
  p[3] = std::uint8_t(u >> 24);
}

std::int32_t GetI32(const std::uint8_t* p) {
  const std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                          (std::uint32_t(p[3]) << 24);
  return static_cast<std::int32_t>(u);
}

void PutRect(std::uint8_t* p, const RECT& r) {
  PutI32(p, r.left);
  PutI32(p + 4, r.top);
  PutI32(p + 8, r.right);
  PutI32(p + 12, r.bottom);
}

RECT GetRect(const std::uint8_t* p) { return RECT{GetI32(p), GetI32(p + 4), GetI32(p + 8), GetI32(p + 12)}; }

// The text up to its terminator; the units after it are written as zeros so that files do not
// carry stale text.
void PutText(std::uint8_t* p, const char16_t* text) {
  bool ended = false;
  for (int i = 0; i < kResultTextLen; ++i) {
    const char16_t c = ended ? char16_t(0) : text[i];
    if (c == 0) ended = true;
    p[2 * i] = std::uint8_t(c);
    p[2 * i + 1] = std::uint8_t(c >> 8);
  }
}

void GetText(const std::uint8_t* p, char16_t* text) {
  for (int i = 0; i < kResultTextLen; ++i) text[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
  text[kResultTextLen - 1] = 0;  // a damaged file may leave it unterminated
}

}  // namespace

int BuiltPointCount(std::int32_t kind) {
  switch (kind) {
    case MK_LINE: case MK_PARALLEL: case MK_RECT: case MK_ROUNDRECT: case MK_ELLIPSE: return 2;
    case MK_ANGLE: case MK_CIRCLE2: case MK_POINT2LINE: return 3;
    case MK_LINE2LINE: case MK_ARC3: case MK_CIRCLE3: return 4;
    case MK_CIRCLE2LINE: return 6;
    case MK_CIRCLE2CIRCLE: return 8;
    default: return 0;
  }
}

void MEASUREBASE::Serialize(std::span<std::uint8_t, kByteSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kByteSize);  // reserved bytes, including the point-array place 24..43
  PutI32(p + 0, m_nKind);
  PutRect(p + 4, m_rcBound);
  PutI32(p + 20, m_nPointCount);
  PutText(p + 44, m_szResult);
  p[1044] = m_bLocked ? 1 : 0;
  p[1045] = m_bVisible ? 1 : 0;
  PutI32(p + 1048, std::int32_t(m_clrPen));
  PutI32(p + 1052, std::int32_t(m_clrFill));
  PutI32(p + 1056, std::int32_t(m_clrText));
  PutI32(p + 1060, m_nPenWidth);
  PutI32(p + 1064, m_nFontHeight);
  p[1068] = m_bFill ? 1 : 0;
  PutI32(p + 1072, m_nTextOffsetX);
  PutI32(p + 1076, m_nTextOffsetY);
}

std::array<std::uint8_t, MEASUREBASE::kByteSize> MEASUREBASE::Serialize() const {
  std::array<std::uint8_t, kByteSize> out;
  Serialize(std::span<std::uint8_t, kByteSize>(out));
  return out;
}

void MEASUREBASE::Deserialize(std::span<const std::uint8_t, kByteSize> in) {
  const std::uint8_t* p = in.data();
  m_nKind = GetI32(p + 0);
  m_rcBound = GetRect(p + 4);
  m_nPointCount = GetI32(p + 20);
  m_arrPoint.clear();  // the points live in their own keys; bytes 24..43 are ignored
  GetText(p + 44, m_szResult);
  m_bLocked = p[1044] != 0;
  m_bVisible = p[1045] != 0;
  m_clrPen = COLORREF(GetI32(p + 1048));
  m_clrFill = COLORREF(GetI32(p + 1052));
  m_clrText = COLORREF(GetI32(p + 1056));
  m_nPenWidth = GetI32(p + 1060);
  m_nFontHeight = GetI32(p + 1064);
  m_bFill = p[1068] != 0;
  m_nTextOffsetX = GetI32(p + 1072);
  m_nTextOffsetY = GetI32(p + 1076);
}

void stRemark::Serialize(std::span<std::uint8_t, kByteSize> out) const {
  std::uint8_t* p = out.data();
  PutI32(p + 0, m_nKind);
  PutI32(p + 4, m_ptText.x);
  PutI32(p + 8, m_ptText.y);
  PutText(p + 12, m_szText);
  PutI32(p + 1012, m_nSize);
  PutI32(p + 1016, std::int32_t(m_clrColor));
  PutRect(p + 1020, m_rcHit);
  PutI32(p + 1036, m_pt1.x);
  PutI32(p + 1040, m_pt1.y);
  PutI32(p + 1044, m_pt2.x);
  PutI32(p + 1048, m_pt2.y);
}

std::array<std::uint8_t, stRemark::kByteSize> stRemark::Serialize() const {
  std::array<std::uint8_t, kByteSize> out;
  Serialize(std::span<std::uint8_t, kByteSize>(out));
  return out;
}

void stRemark::Deserialize(std::span<const std::uint8_t, kByteSize> in) {
  const std::uint8_t* p = in.data();
  m_nKind = GetI32(p + 0);
  m_ptText = POINT{GetI32(p + 4), GetI32(p + 8)};
  GetText(p + 12, m_szText);
  m_nSize = GetI32(p + 1012);
  m_clrColor = COLORREF(GetI32(p + 1016));
  m_rcHit = GetRect(p + 1020);
  m_pt1 = POINT{GetI32(p + 1036), GetI32(p + 1040)};
  m_pt2 = POINT{GetI32(p + 1044), GetI32(p + 1048)};
}

std::array<std::uint8_t, 8> SerializePoint(POINT p) {
  std::array<std::uint8_t, 8> out;
  PutI32(out.data(), p.x);
  PutI32(out.data() + 4, p.y);
  return out;
}

POINT DeserializePoint(std::span<const std::uint8_t, 8> in) { return POINT{GetI32(in.data()), GetI32(in.data() + 4)}; }
