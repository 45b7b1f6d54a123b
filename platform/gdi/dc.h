#pragma once
// A device context with the semantics of the platform's GDI, so that one drawing code paints
// the view, a captured image and a report picture. State (pen, brush, font, text colour,
// background mode, current position) is kept between calls, as GDI does.
#include <cstdint>
#include <string>

#include "platform/text.h"
#include "platform/types.h"

enum : int {
  PS_SOLID = 0,
  PS_DASH = 1,
  PS_DOT = 2,
  PS_DASHDOT = 3,
  PS_DASHDOTDOT = 4,
  PS_NULL = 5,
  PS_INSIDEFRAME = 6,
};

enum : int { TRANSPARENT = 1, OPAQUE = 2 };

// GDI objects are plain values: create one for the element being drawn, select it, and
// select the previous one back when done.
struct CPen {
  int style = PS_SOLID;
  int width = 1;
  COLORREF color = 0;
  CPen() = default;
  CPen(int s, int w, COLORREF c) : style(s), width(w), color(c) {}
  friend bool operator==(const CPen&, const CPen&) = default;
};

struct CBrush {
  bool null = false;  // the stock NULL_BRUSH
  COLORREF color = 0xFFFFFF;
  CBrush() = default;
  explicit CBrush(COLORREF c) : null(false), color(c) {}
  static CBrush Null() {
    CBrush b;
    b.null = true;
    return b;
  }
  friend bool operator==(const CBrush&, const CBrush&) = default;
};

// CreateFontW's parameters that matter here; the height is the cell height in logical units.
struct CFont {
  int height = 0;
  int weight = 0;
  bool italic = false;
  int quality = 0;
  WString face;
  CFont() = default;
  CFont(int h, WStringView f, int q = 0) : height(h), quality(q), face(f) {}
  friend bool operator==(const CFont&, const CFont&) = default;
};

class CDC {
 public:
  virtual ~CDC() = default;

  // Each returns the object that was selected before.
  virtual CPen SelectObject(const CPen& pen) = 0;
  virtual CBrush SelectObject(const CBrush& brush) = 0;
  virtual CFont SelectObject(const CFont& font) = 0;
  virtual COLORREF SetTextColor(COLORREF c) = 0;
  virtual int SetBkMode(int mode) = 0;
  virtual COLORREF SetBkColor(COLORREF c) = 0;

  virtual POINT MoveTo(int x, int y) = 0;  // returns the previous position
  virtual bool LineTo(int x, int y) = 0;
  virtual POINT GetCurrentPosition() const = 0;
  // Right and bottom excluded; filled with the selected brush, outlined with the selected pen.
  virtual bool Rectangle(int l, int t, int r, int b) = 0;
  virtual bool RoundRect(int l, int t, int r, int b, int w, int h) = 0;
  virtual bool Ellipse(int l, int t, int r, int b) = 0;
  // A line from the current position to the arc's start, then the arc; angles in degrees,
  // counter-clockwise positive on screen; leaves the current position at the arc's end.
  virtual bool AngleArc(int x, int y, std::uint32_t r, float start, float sweep) = 0;
  // Top-left anchored text in the selected font and text colour.
  virtual bool TextOut(int x, int y, WStringView text) = 0;
  virtual SIZE GetTextExtentPoint32(WStringView text) = 0;
  // The clip box in logical units; returns the region kind (1 null, 2 simple).
  virtual int GetClipBox(RECT* rc) const = 0;

  POINT MoveTo(POINT p) { return MoveTo(p.x, p.y); }
  bool LineTo(POINT p) { return LineTo(p.x, p.y); }
};

enum : int { NULLREGION = 1, SIMPLEREGION = 2 };
