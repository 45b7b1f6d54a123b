// Cell formats of a workbook: bold, size, alignment and thin borders derived from a cell's own
// format, and the cell-level edits of XlsxWorkbook that use them.
#include "platform/office/XlsxInternal.h"

namespace office {

namespace {

constexpr const char* kBorderSides[] = {"left", "right", "top", "bottom", "diagonal", "vertical", "horizontal"};

const char* HName(HAlign h) { return h == HAlign::Center ? "center" : h == HAlign::Right ? "right" : "left"; }
const char* VName(VAlign v) { return v == VAlign::Center ? "center" : v == VAlign::Top ? "top" : "bottom"; }

void SetAttr(pugi::xml_node n, const char* name, const std::string& value) {
  pugi::xml_attribute a = n.attribute(name);
  if (!a) a = n.append_attribute(name);
  a.set_value(value.c_str());
}

}  // namespace

std::string StyleEdit::Key() const {
  std::string k;
  k += bold ? (*bold ? "B" : "b") : "-";
  k += size ? xlsx_detail::FormatNumber(*size) : "-";
  k += h ? HName(*h) : "-";
  k += v ? VName(*v) : "-";
  k += std::to_string(borders);
  return k;
}

void XlsxStyles::Recount(pugi::xml_node list) {
  std::size_t n = 0;
  for (pugi::xml_node c : list.children())
    if (c.type() == pugi::node_element) ++n;
  SetAttr(list, "count", std::to_string(n));
}

Status XlsxStyles::Attach(pugi::xml_document& doc) {
  pugi::xml_node root = doc.document_element();
  bool found = false;
  p_ = opc::PrefixOf(root, kSheetMlNs, &found);
  if (!found || root.name() != opc::Qn(p_, "styleSheet"))
    return Status::Fail(Error::BrokenPart, "the cell formats are not a style sheet");
  fonts_ = root.child(opc::Qn(p_, "fonts").c_str());
  borders_ = root.child(opc::Qn(p_, "borders").c_str());
  cellXfs_ = root.child(opc::Qn(p_, "cellXfs").c_str());
  if (!fonts_ || !borders_ || !cellXfs_) return Status::Fail(Error::BrokenPart, "the cell formats are incomplete");
  auto Collect = [&](pugi::xml_node list, const char* local, std::vector<pugi::xml_node>& out) {
    for (pugi::xml_node c : opc::Children(list, opc::Qn(p_, local))) out.push_back(c);
  };
  Collect(fonts_, "font", fontList_);
  Collect(borders_, "border", borderList_);
  Collect(cellXfs_, "xf", xfList_);
  if (fontList_.empty() || borderList_.empty() || xfList_.empty())
    return Status::Fail(Error::BrokenPart, "the cell formats are incomplete");
  return Status::Ok();
}

int XlsxStyles::Derive(int baseXf, const StyleEdit& edit) {
  if (baseXf < 0 || std::size_t(baseXf) >= xfList_.size()) baseXf = 0;
  const std::string key = std::to_string(baseXf) + "|" + edit.Key();
  if (auto it = derived_.find(key); it != derived_.end()) return it->second;

  pugi::xml_node xf = cellXfs_.append_copy(xfList_[std::size_t(baseXf)]);
  if (edit.bold || edit.size) {
    const int fontId = xf.attribute("fontId").as_int();
    pugi::xml_node font =
        fonts_.append_copy(fontList_[fontId >= 0 && std::size_t(fontId) < fontList_.size() ? std::size_t(fontId) : 0]);
    if (edit.bold) {
      while (pugi::xml_node b = font.child(opc::Qn(p_, "b").c_str())) font.remove_child(b);
      if (*edit.bold) font.prepend_child(opc::Qn(p_, "b").c_str());
    }
    if (edit.size) {
      pugi::xml_node sz = font.child(opc::Qn(p_, "sz").c_str());
      if (!sz) {
        // Before the colour and name, where office programs write it.
        pugi::xml_node before;
        for (const char* tag : {"color", "name", "family", "charset", "scheme", "extLst"})
          if (!before) before = font.child(opc::Qn(p_, tag).c_str());
        sz = before ? font.insert_child_before(opc::Qn(p_, "sz").c_str(), before) : font.append_child(opc::Qn(p_, "sz").c_str());
      }
      SetAttr(sz, "val", xlsx_detail::FormatNumber(*edit.size));
    }
    fontList_.push_back(font);
    SetAttr(xf, "fontId", std::to_string(fontList_.size() - 1));
    SetAttr(xf, "applyFont", "1");
    Recount(fonts_);
  }
  if (edit.borders) {
    const int borderId = xf.attribute("borderId").as_int();
    pugi::xml_node border = borders_.append_copy(
        borderList_[borderId >= 0 && std::size_t(borderId) < borderList_.size() ? std::size_t(borderId) : 0]);
    // Rebuilt in the schema's order of sides; start/end are the newer names of left/right.
    std::vector<pugi::xml_node> sides;
    for (const char* side : kBorderSides) {
      pugi::xml_node n = border.child(opc::Qn(p_, side).c_str());
      if (!n && std::string_view(side) == "left") n = border.child(opc::Qn(p_, "start").c_str());
      if (!n && std::string_view(side) == "right") n = border.child(opc::Qn(p_, "end").c_str());
      sides.push_back(n);
    }
    pugi::xml_node rebuilt = borders_.insert_child_after(opc::Qn(p_, "border").c_str(), border);
    for (pugi::xml_attribute a : border.attributes()) rebuilt.append_copy(a);
    for (std::size_t i = 0; i < std::size(kBorderSides); ++i) {
      const bool set = i < 4 && (edit.borders & (1u << i));
      pugi::xml_node side;
      if (!set && !sides[i] && i >= 5) continue;  // vertical and horizontal only when the format has them
      if (set || !sides[i]) {
        side = rebuilt.append_child(opc::Qn(p_, kBorderSides[i]).c_str());
        if (set) {
          side.append_attribute("style") = "thin";
          side.append_child(opc::Qn(p_, "color").c_str()).append_attribute("rgb") = "FF000000";
        }
      } else {
        side = rebuilt.append_copy(sides[i]);
        side.set_name(opc::Qn(p_, kBorderSides[i]).c_str());
      }
    }
    borders_.remove_child(border);
    borderList_.push_back(rebuilt);
    SetAttr(xf, "borderId", std::to_string(borderList_.size() - 1));
    SetAttr(xf, "applyBorder", "1");
    Recount(borders_);
  }
  if (edit.h || edit.v) {
    pugi::xml_node align = xf.child(opc::Qn(p_, "alignment").c_str());
    if (!align) align = xf.prepend_child(opc::Qn(p_, "alignment").c_str());
    if (edit.h) SetAttr(align, "horizontal", HName(*edit.h));
    if (edit.v) SetAttr(align, "vertical", VName(*edit.v));
    SetAttr(xf, "applyAlignment", "1");
  }
  xfList_.push_back(xf);
  Recount(cellXfs_);
  const int index = int(xfList_.size() - 1);
  derived_[key] = index;
  return index;
}

// ---- cell-level edits

void XlsxWorkbook::Impl::EditCellStyle(int row, int col, const StyleEdit& edit) {
  pugi::xml_node c = CellAt(row, col, true);
  const int s = styles.Derive(c.attribute("s").as_int(), edit);
  pugi::xml_attribute a = c.attribute("s");
  if (!a) a = c.append_attribute("s");
  a = s;
}

void XlsxWorkbook::Impl::EditStyle(const CellRange& range, const StyleEdit& edit) {
  for (int r = range.row1; r <= range.row2; ++r)
    for (int c = range.col1; c <= range.col2; ++c) EditCellStyle(r, c, edit);
}

void XlsxWorkbook::SetBold(const CellRange& range, bool bold) {
  StyleEdit e;
  e.bold = bold;
  d_->EditStyle(range, e);
}

void XlsxWorkbook::SetFontSize(const CellRange& range, double points) {
  StyleEdit e;
  e.size = points;
  d_->EditStyle(range, e);
}

void XlsxWorkbook::SetAlignment(const CellRange& range, HAlign h, VAlign v) {
  StyleEdit e;
  e.h = h;
  e.v = v;
  d_->EditStyle(range, e);
}

void XlsxWorkbook::BorderAround(const CellRange& range) {
  for (int r = range.row1; r <= range.row2; ++r) {
    for (int c = range.col1; c <= range.col2; ++c) {
      StyleEdit e;
      e.borders = (c == range.col1 ? StyleEdit::kLeft : 0) | (c == range.col2 ? StyleEdit::kRight : 0) |
                  (r == range.row1 ? StyleEdit::kTop : 0) | (r == range.row2 ? StyleEdit::kBottom : 0);
      if (e.borders) d_->EditCellStyle(r, c, e);
    }
  }
}

}  // namespace office
