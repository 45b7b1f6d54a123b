// How the active worksheet prints and how wide its columns are, and what a template's cell holds
// beyond its shown value.
#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/office/XlsxInternal.h"

namespace office {

using xlsx_detail::ToInt;

bool XlsxWorkbook::CellHasFormula(int row, int col) const {
  pugi::xml_node c = d_->CellAt(row, col, false);
  return c && c.child(d_->S("f").c_str());
}

void XlsxWorkbook::SetColumnWidth(int col, double chars) {
  Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  pugi::xml_node cols = ws.child(d.S("cols").c_str());
  if (!cols) cols = d.InsertSheetChild("cols");
  pugi::xml_node before;
  for (pugi::xml_node c : opc::Children(cols, d.S("col"))) {
    const int first = ToInt(c.attribute("min").as_string("0"), 0);
    const int last = ToInt(c.attribute("max").as_string("0"), 0);
    // A column the template sized itself keeps its width.
    if (first <= col && col <= last) return;
    if (first > col) {
      before = c;
      break;
    }
  }
  pugi::xml_node c = before ? cols.insert_child_before(d.S("col").c_str(), before) : cols.append_child(d.S("col").c_str());
  c.append_attribute("min") = col;
  c.append_attribute("max") = col;
  c.append_attribute("width") = xlsx_detail::FormatNumber(chars).c_str();
  c.append_attribute("customWidth") = "1";
  if (auto cs = d.columnStyles.find(col); cs != d.columnStyles.end()) c.append_attribute("style") = cs->second;
}

namespace {

// The margins SetPageSetup writes, in inches.
constexpr std::pair<const char*, const char*> kMargins[] = {{"left", "0.7"}, {"right", "0.7"}, {"top", "0.75"},
                                                            {"bottom", "0.75"}, {"header", "0.3"}, {"footer", "0.3"}};

double Attr(pugi::xml_node n, const char* name, double fallback) {
  pugi::xml_attribute a = n.attribute(name);
  if (!a) return fallback;
  const double v = a.as_double(fallback);
  return v >= 0 && v < 1e6 ? v : fallback;
}

}  // namespace

XlsxWorkbook::PageArea XlsxWorkbook::PrintableArea(bool landscape) const {
  const Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  // Portrait width and height of the papers a template is likely to name.
  double w = 595.28, h = 841.89;  // A4
  switch (ToInt(ws.child(d.S("pageSetup").c_str()).attribute("paperSize").as_string("9"), 9)) {
    case 1: w = 612, h = 792; break;    // Letter
    case 5: w = 612, h = 1008; break;   // Legal
    case 8: w = 841.89, h = 1190.55; break;  // A3
    case 11: w = 419.53, h = 595.28; break;  // A5
    default: break;
  }
  if (landscape) std::swap(w, h);
  pugi::xml_node m = ws.child(d.S("pageMargins").c_str());
  auto margin = [&](const char* side) {
    double fallback = 0;
    for (const auto& [name, value] : kMargins)
      if (std::string_view(name) == side) fallback = std::atof(value);
    return Attr(m, side, fallback) * 72.0;
  };
  return {std::max(0.0, w - margin("left") - margin("right")), std::max(0.0, h - margin("top") - margin("bottom"))};
}

double XlsxWorkbook::RowHeightPt(int row) const {
  Impl& d = *d_;
  d.EnsureRows(row);
  const double fallback =
      Attr(d.sheet.document_element().child(d.S("sheetFormatPr").c_str()), "defaultRowHeight", 15.0);
  auto r = d.rows.find(row);
  if (r == d.rows.end()) return fallback;
  if (r->second.node.attribute("hidden").as_bool()) return 0;
  return Attr(r->second.node, "ht", fallback);
}

double XlsxWorkbook::ColumnWidthPt(int col) const {
  const Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  pugi::xml_node format = ws.child(d.S("sheetFormatPr").c_str());
  double chars = Attr(format, "defaultColWidth", Attr(format, "baseColWidth", 8.43 - 0.71) + 0.71);
  for (pugi::xml_node c : opc::Children(ws.child(d.S("cols").c_str()), d.S("col"))) {
    if (ToInt(c.attribute("min").as_string("0"), 0) <= col && col <= ToInt(c.attribute("max").as_string("0"), 0)) {
      if (c.attribute("hidden").as_bool()) return 0;
      chars = Attr(c, "width", chars);
      break;
    }
  }
  // A character of the default font is 7 pixels, with 5 pixels of padding, at 96 dpi.
  return (chars * 7 + 5) * 0.75;
}

void XlsxWorkbook::AddPageBreakBefore(int row) {
  Impl& d = *d_;
  if (row <= 1) return;
  pugi::xml_node ws = d.sheet.document_element();
  pugi::xml_node breaks = ws.child(d.S("rowBreaks").c_str());
  if (!breaks) breaks = d.InsertSheetChild("rowBreaks");
  for (pugi::xml_node b : opc::Children(breaks, d.S("brk")))
    if (ToInt(b.attribute("id").as_string("0"), 0) == row - 1) return;
  pugi::xml_node b = breaks.append_child(d.S("brk").c_str());
  b.append_attribute("id") = row - 1;  // the break follows this row
  b.append_attribute("max") = kMaxColumns - 1;
  b.append_attribute("man") = "1";
  const std::size_t count = opc::Children(breaks, d.S("brk")).size();
  for (const char* name : {"count", "manualBreakCount"}) {
    breaks.remove_attribute(name);
    breaks.append_attribute(name) = count;
  }
}

void XlsxWorkbook::SetPageSetup(bool landscape, int fitWidth, int fitHeight) {
  Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  // Fitting to pages is switched on in the sheet's properties; the page setup says how many.
  pugi::xml_node pr = ws.child(d.S("sheetPr").c_str());
  if (!pr) pr = d.InsertSheetChild("sheetPr");
  pugi::xml_node fit = pr.child(d.S("pageSetUpPr").c_str());
  if (!fit) fit = pr.append_child(d.S("pageSetUpPr").c_str());
  if (!fit.attribute("fitToPage")) fit.append_attribute("fitToPage");
  fit.attribute("fitToPage") = "1";

  if (!ws.child(d.S("pageMargins").c_str())) {
    pugi::xml_node m = d.InsertSheetChild("pageMargins");
    for (const auto& [name, value] : kMargins) m.append_attribute(name) = value;
  }
  pugi::xml_node setup = ws.child(d.S("pageSetup").c_str());
  if (!setup) setup = d.InsertSheetChild("pageSetup");
  const auto set = [&](const char* name, const std::string& value) {
    if (!setup.attribute(name)) setup.append_attribute(name);
    setup.attribute(name) = value.c_str();
  };
  if (!setup.attribute("paperSize")) set("paperSize", "9");  // A4, unless the template chose
  set("orientation", landscape ? "landscape" : "portrait");
  set("fitToWidth", std::to_string(std::max(0, fitWidth)));
  set("fitToHeight", std::to_string(std::max(0, fitHeight)));
}

}  // namespace office
