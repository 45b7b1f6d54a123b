#pragma once
// The state behind XlsxWorkbook, shared by its files: XlsxWorkbook.cpp (loading and saving),
// XlsxCells.cpp (cells, rows, merges, the sheet's name), XlsxStyles.cpp (cell formats),
// XlsxDrawing.cpp (pictures).
#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "platform/office/OpcParts.h"
#include "platform/office/XlsxWorkbook.h"

namespace office {

inline constexpr const char* kSheetMlNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

namespace xlsx_detail {
// A whole decimal attribute value, or `fallback`.
int ToInt(const char* text, int fallback);
// The shortest text that reads back as the same double.
std::string FormatNumber(double v);
// The text of a shared-string item or inline string: its own <t>, or its runs' (phonetic runs left out).
std::string StringItemText(pugi::xml_node si, const std::string& prefix);
}  // namespace xlsx_detail

// A change of a cell's format; unset fields stay as they are.
struct StyleEdit {
  std::optional<bool> bold;
  std::optional<double> size;
  std::optional<HAlign> h;
  std::optional<VAlign> v;
  unsigned borders = 0;  // kLeft | kRight | kTop | kBottom: thin black lines
  static constexpr unsigned kLeft = 1, kRight = 2, kTop = 4, kBottom = 8;
  std::string Key() const;
};

// The cell formats (styles part): new formats are derived from a cell's own, so the template's
// fonts and fills stay, and each distinct derivation is added once.
class XlsxStyles {
 public:
  Status Attach(pugi::xml_document& doc);
  int Derive(int baseXf, const StyleEdit& edit);

 private:
  static void Recount(pugi::xml_node list);

  std::string p_;  // the prefix of the SpreadsheetML namespace
  pugi::xml_node fonts_, borders_, cellXfs_;
  std::vector<pugi::xml_node> fontList_, borderList_, xfList_;
  std::map<std::string, int> derived_;
};

struct XlsxWorkbook::Impl {
  ZipPackage pkg;
  opc::ContentTypes types;

  // workbook
  std::string workbookPart;
  pugi::xml_document workbook;
  opc::Relationships workbookRels;
  std::string wp;                 // SpreadsheetML prefix in the workbook
  pugi::xml_node activeSheetNode; // its <sheet> element

  // active worksheet
  std::string sheetPart;
  pugi::xml_document sheet;
  opc::Relationships sheetRels;
  std::string sp;                 // SpreadsheetML prefix in the sheet
  pugi::xml_node sheetData;
  struct Row {
    pugi::xml_node node;
    std::map<int, pugi::xml_node> cells;
  };
  std::map<int, Row> rows;
  int lastRow = 0;  // the last row indexed, for rows that leave out their number
  // Rows past the ones the report reads stay as the template's bytes (the sheet part as loaded):
  // [tailBegin, tailEnd) of it, from row tailFirstRow on. They are copied through when saving and
  // parsed only when a cell among them is read or written.
  std::size_t tailBegin = 0, tailEnd = 0;
  int tailFirstRow = 0;
  bool tailBroken = false;
  std::map<int, int> columnStyles;  // column -> format of its <col> entry
  std::vector<CellRange> merges;
  bool mergesChanged = false;

  std::vector<std::string> sharedStrings;

  std::string stylesPart;
  pugi::xml_document stylesDoc;
  XlsxStyles styles;

  std::string S(std::string_view local) const { return opc::Qn(sp, local); }
  Status IndexRow(pugi::xml_node row);
  // Brings the rows up to `row` from the held bytes into the tree.
  void EnsureRows(int row);
  Row& RowAt(int row);
  pugi::xml_node CellAt(int row, int col, bool create);
  void EditStyle(const CellRange& range, const StyleEdit& edit);
  void EditCellStyle(int row, int col, const StyleEdit& edit);
  // Inserts a child of the worksheet root where the schema's order puts it.
  pugi::xml_node InsertSheetChild(const char* local);
};

}  // namespace office
