// The active worksheet's cells, rows, merges and name.
#include <algorithm>
#include <cmath>

#include "platform/office/XlsxInternal.h"

namespace office {

using namespace xlsx_detail;

namespace {

std::string QuoteSheetName(std::string_view name) {
  std::string out = "'";
  for (char c : name) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

}  // namespace

// ---- cells

XlsxWorkbook::Impl::Row& XlsxWorkbook::Impl::RowAt(int row) {
  EnsureRows(row);
  auto it = rows.find(row);
  if (it != rows.end()) return it->second;
  auto next = rows.upper_bound(row);
  const std::string name = S("row");
  pugi::xml_node node = next == rows.end() ? sheetData.append_child(name.c_str())
                                           : sheetData.insert_child_before(name.c_str(), next->second.node);
  node.append_attribute("r") = row;
  Row& entry = rows[row];
  entry.node = node;
  return entry;
}

pugi::xml_node XlsxWorkbook::Impl::CellAt(int row, int col, bool create) {
  if (!create) {
    EnsureRows(row);
    auto r = rows.find(row);
    if (r == rows.end()) return {};
    auto c = r->second.cells.find(col);
    return c == r->second.cells.end() ? pugi::xml_node() : c->second;
  }
  Row& entry = RowAt(row);
  auto it = entry.cells.find(col);
  if (it != entry.cells.end()) return it->second;
  auto next = entry.cells.upper_bound(col);
  const std::string name = S("c");
  pugi::xml_node c = next == entry.cells.end() ? entry.node.append_child(name.c_str())
                                               : entry.node.insert_child_before(name.c_str(), next->second);
  c.append_attribute("r") = CellRef(row, col).c_str();
  // A new cell takes the format its row or column gives empty cells.
  int style = 0;
  if (entry.node.attribute("customFormat").as_bool()) style = entry.node.attribute("s").as_int();
  else if (auto cs = columnStyles.find(col); cs != columnStyles.end()) style = cs->second;
  if (style > 0) c.append_attribute("s") = style;
  entry.node.remove_attribute("spans");  // a hint that would no longer hold
  entry.cells[col] = c;
  return c;
}

std::string XlsxWorkbook::CellText(int row, int col) const {
  pugi::xml_node c = d_->CellAt(row, col, false);
  if (!c) return {};
  const std::string_view t = c.attribute("t").value();
  if (t == "inlineStr") return StringItemText(c.child(d_->S("is").c_str()), d_->sp);
  const char* v = c.child(d_->S("v").c_str()).text().get();
  if (t == "s") {
    const int index = ToInt(v, -1);
    return index >= 0 && std::size_t(index) < d_->sharedStrings.size() ? d_->sharedStrings[std::size_t(index)]
                                                                         : std::string();
  }
  if (t == "b") return std::string_view(v) == "1" ? "TRUE" : std::string_view(v) == "0" ? "FALSE" : v;
  return v;
}

namespace {
void ClearValue(pugi::xml_node c) {
  while (pugi::xml_node child = c.first_child()) c.remove_child(child);
  c.remove_attribute("t");
}
}  // namespace

void XlsxWorkbook::SetText(int row, int col, std::string_view utf8) {
  pugi::xml_node c = d_->CellAt(row, col, true);
  ClearValue(c);
  c.append_attribute("t") = "inlineStr";
  pugi::xml_node t = c.append_child(d_->S("is").c_str()).append_child(d_->S("t").c_str());
  t.append_attribute("xml:space") = "preserve";
  // A cell holds at most 32767 characters; longer text makes the file unreadable.
  t.text().set(opc::TruncateUtf16(opc::CleanText(utf8), 32767).c_str());
}

void XlsxWorkbook::SetNumber(int row, int col, double value) {
  pugi::xml_node c = d_->CellAt(row, col, true);
  ClearValue(c);
  c.append_child(d_->S("v").c_str()).text().set(FormatNumber(std::isfinite(value) ? value : 0.0).c_str());
}

void XlsxWorkbook::SetRowHeight(int row, double points) {
  pugi::xml_node r = d_->RowAt(row).node;
  r.remove_attribute("ht");
  r.remove_attribute("customHeight");
  r.append_attribute("ht") = FormatNumber(points).c_str();
  r.append_attribute("customHeight") = "1";
}

void XlsxWorkbook::Merge(const CellRange& range) {
  auto& m = d_->merges;
  m.erase(std::remove_if(m.begin(), m.end(), [&](const CellRange& o) { return o.Overlaps(range); }), m.end());
  if (range.row1 != range.row2 || range.col1 != range.col2) m.push_back(range);
  d_->mergesChanged = true;
}

// ---- sheet name

std::string XlsxWorkbook::SheetName() const { return d_->activeSheetNode.attribute("name").value(); }

void XlsxWorkbook::SetSheetName(std::string_view utf8) {
  std::string clean;
  for (char c : opc::CleanText(utf8))
    if (std::string_view("[]:*?/\\").find(c) == std::string_view::npos && c != '\t' && c != '\r' && c != '\n') clean += c;
  while (!clean.empty() && clean.front() == '\'') clean.erase(0, 1);
  clean = opc::TruncateUtf16(clean, 31);
  while (!clean.empty() && clean.back() == '\'') clean.pop_back();
  if (clean.empty()) clean = "Sheet";
  const std::string old = SheetName();
  if (clean == old) return;
  // Unique among the other sheets (names compare without case).
  pugi::xml_node sheets = d_->activeSheetNode.parent();
  auto taken = [&](const std::string& name) {
    for (pugi::xml_node s : sheets.children())
      if (s != d_->activeSheetNode && LowerAscii(s.attribute("name").value()) == LowerAscii(name)) return true;
    return false;
  };
  std::string name = clean;
  for (int n = 2; taken(name); ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    name = opc::TruncateUtf16(clean, 31 - suffix.size()) + suffix;
  }
  d_->activeSheetNode.attribute("name").set_value(name.c_str());

  // Workbook-level names (print areas, titles) that refer to the sheet follow its new name.
  const std::string quotedOld = QuoteSheetName(old) + "!", quotedNew = QuoteSheetName(name) + "!";
  const std::string bareOld = old + "!";
  pugi::xml_node names = d_->workbook.document_element().child(opc::Qn(d_->wp, "definedNames").c_str());
  for (pugi::xml_node dn : names.children()) {
    std::string text = dn.text().get(), out;
    for (std::size_t i = 0; i < text.size();) {
      const bool boundary = i == 0 || std::string_view(",( =+-*/&:;").find(text[i - 1]) != std::string_view::npos;
      if (text.compare(i, quotedOld.size(), quotedOld) == 0) {
        out += quotedNew;
        i += quotedOld.size();
      } else if (boundary && text.compare(i, bareOld.size(), bareOld) == 0) {
        out += quotedNew;
        i += bareOld.size();
      } else {
        out += text[i++];
      }
    }
    if (out != text) dn.text().set(out.c_str());
  }
}

}  // namespace office
