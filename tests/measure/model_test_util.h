#pragma once
// Helpers of the model tests: records built from points, byte images written by hand from the
// record layout.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "measure/MeasureManager.h"
#include "tests/measure/engine_access.h"

namespace model_test {

// Appends a finished measurement of `kind` with the given points, with bounds and text.
inline int AddShape(CMeasureManager& m, std::int32_t kind, std::initializer_list<POINT> pts) {
  MEASUREBASE rec;
  rec.m_nKind = kind;
  rec.m_arrPoint.assign(pts);
  rec.m_nPointCount = std::int32_t(pts.size());
  return AddFinished(m, rec);
}

inline WString Text(const char16_t* buf) { return WString(buf, BufferLength(buf, kResultTextLen)); }

inline void PutLE(std::vector<std::uint8_t>& b, std::size_t off, std::int32_t v) {
  for (int k = 0; k < 4; ++k) b[off + std::size_t(k)] = std::uint8_t(std::uint32_t(v) >> (8 * k));
}

// The line (0,0)-(3,4) with every field set, as a record and as its bytes (checksum 0x64).
inline MEASUREBASE GoldenLine() {
  MEASUREBASE r;
  r.m_nKind = MK_LINE;
  r.m_rcBound = RECT{-10, -10, 13, 14};
  r.m_nPointCount = 2;
  r.m_arrPoint = {{0, 0}, {3, 4}};
  CopyToBuffer(u"L: 5.000 px", r.m_szResult, kResultTextLen);
  r.m_bLocked = true;
  r.m_clrPen = r.m_clrText = 0x0000FF;
  r.m_clrFill = 0x123456;
  r.m_nPenWidth = 4;
  r.m_nFontHeight = 25;
  r.m_bFill = true;
  r.m_nTextOffsetX = -1;
  r.m_nTextOffsetY = 7;
  return r;
}

inline std::vector<std::uint8_t> GoldenLineBytes() {
  std::vector<std::uint8_t> b(1080, 0);
  const std::int32_t head[] = {258, -10, -10, 13, 14, 2};  // kind, box, count; 24..43 stay zero
  for (int k = 0; k < 6; ++k) PutLE(b, std::size_t(4 * k), head[k]);
  const char* text = "L: 5.000 px";
  for (std::size_t k = 0; text[k]; ++k) b[44 + 2 * k] = std::uint8_t(text[k]);
  b[1044] = 1, b[1045] = 1;                         // locked, visible
  b[1048] = 0xFF;                                   // red pen: FF 00 00 00
  b[1052] = 0x56, b[1053] = 0x34, b[1054] = 0x12;  // fill colour
  b[1056] = 0xFF, b[1060] = 4, b[1064] = 25, b[1068] = 1;
  PutLE(b, 1072, -1);
  PutLE(b, 1076, 7);
  return b;
}

// An arrow remark from (10,10) to (20,20) with text "Hi" (checksum 0x4A).
inline std::vector<std::uint8_t> GoldenArrowBytes() {
  std::vector<std::uint8_t> b(1052, 0);
  const std::int32_t head[] = {275, -1, -1};
  for (int k = 0; k < 3; ++k) PutLE(b, std::size_t(4 * k), head[k]);
  b[12] = 'H', b[14] = 'i';
  const std::int32_t tail[] = {22, 0xFF0000, 0, 0, 30, 30, 10, 10, 20, 20};  // size .. point 2
  for (int k = 0; k < 10; ++k) PutLE(b, std::size_t(1012 + 4 * k), tail[k]);
  return b;
}

// Upper-case hex of every byte followed by the checksum byte (sum of the bytes modulo 256).
inline std::string HexStruct(const std::vector<std::uint8_t>& b) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  unsigned sum = 0;
  for (std::uint8_t c : b) s += {digits[c >> 4], digits[c & 15]}, sum += c;
  return s + digits[(sum >> 4) & 15] + digits[sum & 15];
}

inline std::filesystem::path TempDir() {
  std::random_device rd;
  auto dir = std::filesystem::temp_directory_path() / ("q7v_model_" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace model_test
