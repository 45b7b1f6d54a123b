#pragma once
// An .xlsx workbook edited on its active worksheet: text and numbers in cells, bold and font size,
// alignment, thin borders around ranges, merges, row heights, the sheet's name, and a PNG picture
// placed at a point of the sheet. It starts blank or from an .xlsx/.xltx template whose sheets,
// cells, styles, merges and pictures stay; the template's cells can be read first (CellText).
// Rows and columns count from 1; ranges include both corners.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/office/DocxDocument.h"  // HAlign
#include "platform/office/OfficeStatus.h"
#include "platform/office/ZipPackage.h"

namespace office {

enum class VAlign { Top, Center, Bottom };

struct CellRange {
  int row1 = 1, col1 = 1, row2 = 1, col2 = 1;
  bool Overlaps(const CellRange& o) const {
    return row1 <= o.row2 && o.row1 <= row2 && col1 <= o.col2 && o.col1 <= col2;
  }
  friend bool operator==(const CellRange&, const CellRange&) = default;
};

inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxColumns = 16384;

class XlsxWorkbook {
 public:
  XlsxWorkbook();  // one empty sheet
  ~XlsxWorkbook();
  XlsxWorkbook(const XlsxWorkbook&) = delete;
  XlsxWorkbook& operator=(const XlsxWorkbook&) = delete;

  // Replaces the workbook by a template's. On failure the workbook is blank again.
  Status LoadTemplate(const std::filesystem::path& file, const PackageLimits& limits = {});
  Status LoadTemplateBytes(std::string_view bytes, const PackageLimits& limits = {});

  // ---- the active sheet
  std::string SheetName() const;
  // Renames it; characters a sheet name cannot hold are dropped, the length is cut to 31, and a
  // name another sheet has gets a number. Workbook-level names that refer to it follow.
  void SetSheetName(std::string_view utf8);

  // The text a cell shows as stored: its string, or its stored value for numbers, booleans and
  // errors; empty for an empty or missing cell.
  std::string CellText(int row, int col) const;
  void SetText(int row, int col, std::string_view utf8);
  void SetNumber(int row, int col, double value);

  // A cell with a formula, whether or not a result of it is stored.
  bool CellHasFormula(int row, int col) const;

  void SetRowHeight(int row, double points);
  // Width in characters of the default font; a column the template sized keeps its width.
  void SetColumnWidth(int col, double chars);
  // Printed on fitWidth pages across and fitHeight down (0: as many as needed), on A4 unless
  // the template chose a paper.
  void SetPageSetup(bool landscape, int fitWidth, int fitHeight);
  // What a printed page holds in that orientation (points): the paper the sheet names (A4 when
  // none or an unknown one) less its margins (those SetPageSetup writes when it has none).
  struct PageArea {
    double width = 0, height = 0;
  };
  PageArea PrintableArea(bool landscape) const;
  // The height a row prints at, and the width of a column (points): their own, else the sheet's
  // defaults.
  double RowHeightPt(int row) const;
  double ColumnWidthPt(int col) const;
  // A manual page break above `row`: printing starts a new page with it.
  void AddPageBreakBefore(int row);
  void SetBold(const CellRange& range, bool bold);
  void SetFontSize(const CellRange& range, double points);
  void SetAlignment(const CellRange& range, HAlign h, VAlign v);
  // A thin black line around the range's outside.
  void BorderAround(const CellRange& range);
  // Merged areas that overlap the new one are dissolved first (overlaps make a file invalid).
  void Merge(const CellRange& range);

  // Stores a PNG or JPEG picture and places it with its top-left corner at an offset (EMU) into a cell, shown at
  // cx x cy EMU.
  void PlacePng(std::string png, int row, int col, std::int64_t rowOffsetEmu, std::int64_t colOffsetEmu,
                std::int64_t cx, std::int64_t cy);

  Status Save(const std::filesystem::path& file, bool exclusive);

 private:
  struct Impl;
  void InitBlank();
  Status Attach();
  std::unique_ptr<Impl> d_;
};

// A1-style references.
std::string ColumnName(int col);
std::string CellRef(int row, int col);
bool ParseCellRef(std::string_view ref, int* row, int* col);
bool ParseRangeRef(std::string_view ref, CellRange* range);

}  // namespace office
