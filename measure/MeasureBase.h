#pragma once
// The two fixed records of the engine: a measurement and an annotation (remark).
// Their byte images are a file format (layer files); see Serialize/Deserialize.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/types.h"

// Tool kinds shared by the view, the engine and the layer editor.
enum MeasureKind : std::int32_t {
  MK_NONE = 256,
  MK_POINT = 257,
  MK_LINE = 258,
  MK_PARALLEL = 259,
  MK_FOLDLINE = 260,
  MK_ANGLE = 261,
  MK_LINE2LINE = 262,
  MK_RECT = 263,
  MK_ROUNDRECT = 264,
  MK_ELLIPSE = 265,
  MK_ARC3 = 266,
  MK_CIRCLE2 = 267,
  MK_CIRCLE3 = 268,
  MK_POLYGON = 269,
  MK_POINT2LINE = 270,
  MK_RULECENTRE = 271,
  MK_CIRCLE2LINE = 272,
  MK_CIRCLE2CIRCLE = 273,
  MK_TEXT = 274,
  MK_ARROW = 275,
  MK_CROSS = 276,
};

constexpr int kResultTextLen = 500;     // UTF-16 units, terminator included
constexpr int kMaxOpenShapePoints = 1000;
constexpr int kMeasureSlots = 10000;

struct MEASUREBASE {
  static constexpr std::size_t kByteSize = 1080;

  std::int32_t m_nKind = -1;
  RECT m_rcBound{-1, -1, -1, -1};
  std::int32_t m_nPointCount = -1;
  std::vector<POINT> m_arrPoint;
  char16_t m_szResult[kResultTextLen] = {};
  bool m_bLocked = false;
  bool m_bVisible = true;
  COLORREF m_clrPen = 0x0000FF;
  COLORREF m_clrFill = 0;
  COLORREF m_clrText = 0x0000FF;
  std::int32_t m_nPenWidth = 1;
  std::int32_t m_nFontHeight = 20;
  bool m_bFill = false;
  std::int32_t m_nTextOffsetX = 0;
  std::int32_t m_nTextOffsetY = 0;

  // The 1080-byte image (little-endian; the point-array bytes hold no data, reserved bytes 0).
  void Serialize(std::span<std::uint8_t, kByteSize> out) const;
  std::array<std::uint8_t, kByteSize> Serialize() const;
  // Reads every field but the points (the record starts with no points); forces a terminator
  // into the result text.
  void Deserialize(std::span<const std::uint8_t, kByteSize> in);
};

struct stRemark {
  static constexpr std::size_t kByteSize = 1052;

  std::int32_t m_nKind = MK_NONE;
  POINT m_ptText{-1, -1};
  char16_t m_szText[kResultTextLen] = {};
  std::int32_t m_nSize = 20;
  COLORREF m_clrColor = 0;
  RECT m_rcHit{-1, -1, -1, -1};
  POINT m_pt1{0, 0};
  POINT m_pt2{0, 0};

  void Serialize(std::span<std::uint8_t, kByteSize> out) const;
  std::array<std::uint8_t, kByteSize> Serialize() const;
  void Deserialize(std::span<const std::uint8_t, kByteSize> in);
};

// Points a finished shape of this kind is built with (0 for the open kinds and unknown kinds).
int BuiltPointCount(std::int32_t kind);

// A point on disk: x, y as int32 little-endian.
std::array<std::uint8_t, 8> SerializePoint(POINT p);
POINT DeserializePoint(std::span<const std::uint8_t, 8> in);
