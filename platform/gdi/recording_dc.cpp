#include "platform/gdi/recording_dc.h"

#include <cmath>
#include <cstdio>

namespace {
std::string Hex(COLORREF c) {
  char b[16];
  std::snprintf(b, sizeof b, "%06X", unsigned(c & 0xFFFFFF));
  return b;
}
std::string Num(long long v) { return std::to_string(v); }
}  // namespace

CPen CRecordingDC::SelectObject(const CPen& pen) {
  CPen old = pen_;
  pen_ = pen;
  Add("Pen " + Num(pen.style) + " " + Num(pen.width) + " " + Hex(pen.color));
  return old;
}

CBrush CRecordingDC::SelectObject(const CBrush& brush) {
  CBrush old = brush_;
  brush_ = brush;
  Add(brush.null ? std::string("Brush null") : "Brush " + Hex(brush.color));
  return old;
}

CFont CRecordingDC::SelectObject(const CFont& font) {
  CFont old = font_;
  font_ = font;
  Add("Font " + Num(font.height) + " " + Num(font.quality) + " " + ToUtf8(font.face));
  return old;
}

COLORREF CRecordingDC::SetTextColor(COLORREF c) {
  COLORREF old = textColor_;
  textColor_ = c;
  Add("TextColor " + Hex(c));
  return old;
}

int CRecordingDC::SetBkMode(int mode) {
  int old = bkMode_;
  bkMode_ = mode;
  Add("BkMode " + Num(mode));
  return old;
}

COLORREF CRecordingDC::SetBkColor(COLORREF c) {
  COLORREF old = bkColor_;
  bkColor_ = c;
  Add("BkColor " + Hex(c));
  return old;
}

POINT CRecordingDC::MoveTo(int x, int y) {
  POINT old = pos_;
  pos_ = POINT{x, y};
  Add("MoveTo " + Num(x) + " " + Num(y));
  return old;
}

bool CRecordingDC::LineTo(int x, int y) {
  pos_ = POINT{x, y};
  Add("LineTo " + Num(x) + " " + Num(y));
  return true;
}

bool CRecordingDC::Rectangle(int l, int t, int r, int b) {
  Add("Rectangle " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b));
  return true;
}

bool CRecordingDC::RoundRect(int l, int t, int r, int b, int w, int h) {
  Add("RoundRect " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b) + " " + Num(w) + " " + Num(h));
  return true;
}

bool CRecordingDC::Ellipse(int l, int t, int r, int b) {
  Add("Ellipse " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b));
  return true;
}

bool CRecordingDC::AngleArc(int x, int y, std::uint32_t r, float start, float sweep) {
  char b[96];
  std::snprintf(b, sizeof b, "AngleArc %d %d %u %g %g", x, y, r, double(start), double(sweep));
  Add(b);
  // the arc ends at start + sweep on a circle whose angles grow counter-clockwise on screen
  const double kPi = 3.141592653589793;
  double end = (double(start) + double(sweep)) * kPi / 180.0;
  // the offset from the centre rounded half away from zero (not the sum: 10 - 3.2 is 7, not 6)
  const double dx = double(r) * std::cos(end), dy = -double(r) * std::sin(end);
  pos_ = POINT{TruncToInt(double(x) + std::trunc(dx + (dx >= 0 ? 0.5 : -0.5))),
               TruncToInt(double(y) + std::trunc(dy + (dy >= 0 ? 0.5 : -0.5)))};
  return true;
}

bool CRecordingDC::TextOut(int x, int y, WStringView text) {
  Add("TextOut " + Num(x) + " " + Num(y) + " " + ToUtf8(text));
  return true;
}

SIZE CRecordingDC::GetTextExtentPoint32(WStringView text) {
  // in 64 bits: -INT_MIN and long texts of huge fonts must not overflow
  const long long h = font_.height < 0 ? -static_cast<long long>(font_.height) : font_.height;
  long long cx = 0;
  for (char16_t c : text) cx += c >= 0x2E80 ? h : h / 2;
  return SIZE{TruncToInt(double(cx)), TruncToInt(double(h))};
}

int CRecordingDC::GetClipBox(RECT* rc) const {
  if (rc) *rc = clip_;
  return clip_.right > clip_.left && clip_.bottom > clip_.top ? SIMPLEREGION : NULLREGION;
}

std::string CRecordingDC::Log() const {
  std::string s;
  for (const auto& l : lines_) {
    s += l;
    s += '\n';
  }
  return s;
}
