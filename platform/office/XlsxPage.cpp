// How the active worksheet prints and how wide its columns are, and what a template's cell holds
// beyond its shown value.
#include <algorithm>

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
    for (auto [name, value] : {std::pair{"left", "0.7"}, {"right", "0.7"}, {"top", "0.75"}, {"bottom", "0.75"},
                               {"header", "0.3"}, {"footer", "0.3"}})
      m.append_attribute(name) = value;
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
