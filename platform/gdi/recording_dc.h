#pragma once
// A device context that draws nothing and logs every call, one line each, so that drawing code
// can be checked call by call: the layers' order, pens, brushes, fonts, text anchors.
// Log lines (numbers in decimal, colours as 6 upper-case hex digits BBGGRR):
//   "Pen <style> <width> <color>"  "Brush <color>" | "Brush null"  "Font <height> <quality> <face>"
//   "TextColor <color>"  "BkMode <mode>"  "BkColor <color>"
//   "MoveTo <x> <y>"  "LineTo <x> <y>"  "Rectangle <l> <t> <r> <b>"  "RoundRect <l> <t> <r> <b> <w> <h>"
//   "Ellipse <l> <t> <r> <b>"  "AngleArc <x> <y> <r> <start> <sweep>" (angles "%g")
//   "TextOut <x> <y> <text>"
// Text extents are deterministic: every unit is half the font height wide (a full height for
// code points from U+2E80 up), the extent's height is the font height.
#include <string>
#include <vector>

#include "platform/gdi/dc.h"

class CRecordingDC : public CDC {
 public:
  explicit CRecordingDC(RECT clip = RECT{0, 0, 1920, 1080}) : clip_(clip) {}

  CPen SelectObject(const CPen& pen) override;
  CBrush SelectObject(const CBrush& brush) override;
  CFont SelectObject(const CFont& font) override;
  COLORREF SetTextColor(COLORREF c) override;
  int SetBkMode(int mode) override;
  COLORREF SetBkColor(COLORREF c) override;
  POINT MoveTo(int x, int y) override;
  bool LineTo(int x, int y) override;
  POINT GetCurrentPosition() const override { return pos_; }
  bool Rectangle(int l, int t, int r, int b) override;
  bool RoundRect(int l, int t, int r, int b, int w, int h) override;
  bool Ellipse(int l, int t, int r, int b) override;
  bool AngleArc(int x, int y, std::uint32_t r, float start, float sweep) override;
  bool TextOut(int x, int y, WStringView text) override;
  SIZE GetTextExtentPoint32(WStringView text) override;
  int GetClipBox(RECT* rc) const override;
  using CDC::LineTo;
  using CDC::MoveTo;

  const std::vector<std::string>& Lines() const { return lines_; }
  std::string Log() const;  // all lines joined with '\n'
  void Clear() { lines_.clear(); }
  const CPen& Pen() const { return pen_; }
  const CBrush& Brush() const { return brush_; }
  const CFont& Font() const { return font_; }
  COLORREF TextColor() const { return textColor_; }
  int BkMode() const { return bkMode_; }

 private:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  RECT clip_;
  std::vector<std::string> lines_;
  CPen pen_{PS_SOLID, 1, 0};
  CBrush brush_{0xFFFFFF};
  CFont font_{16, u"System"};
  COLORREF textColor_ = 0;
  COLORREF bkColor_ = 0xFFFFFF;
  int bkMode_ = OPAQUE;
  POINT pos_{0, 0};
};
