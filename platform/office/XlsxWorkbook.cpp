// .xlsx through pugixml over a zip package: loading (the package, the workbook, the index of the
// active worksheet's rows and cells) and saving. The blank workbook is a small built-in package
// that takes the same path as a template.
#include "platform/office/XlsxWorkbook.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/office/XlsxInternal.h"


namespace office {

using namespace xlsx_detail;

namespace {

constexpr const char* kWorkbookType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr const char* kTemplateType = "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml";
constexpr const char* kRelBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

constexpr const char* kBlankTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)";
constexpr const char* kBlankRootRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
constexpr const char* kBlankWorkbookRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
constexpr const char* kBlankWorkbook = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><bookViews><workbookView activeTab="0"/></bookViews><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr const char* kBlankSheet = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheetViews><sheetView workbookViewId="0"/></sheetViews><sheetFormatPr defaultRowHeight="15"/><sheetData/><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>)";
constexpr const char* kBlankStyles = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/><scheme val="minor"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>)";

// The order of a worksheet's children in the schema; new ones are put in their place.
constexpr const char* kSheetOrder[] = {
    "sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr", "sheetProtection",
    "protectedRanges", "scenarios", "autoFilter", "sortState", "dataConsolidate", "customSheetViews", "mergeCells",
    "phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions", "pageMargins",
    "pageSetup", "headerFooter", "rowBreaks", "colBreaks", "customProperties", "cellWatches", "ignoredErrors",
    "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF", "drawingHF", "picture", "oleObjects", "controls",
    "webPublishItems", "tableParts", "extLst"};

int SheetOrderIndex(std::string_view local) {
  for (std::size_t i = 0; i < std::size(kSheetOrder); ++i)
    if (local == kSheetOrder[i]) return int(i);
  return int(std::size(kSheetOrder));
}

}  // namespace

namespace xlsx_detail {

int ToInt(const char* text, int fallback) {
  int v = 0;
  const char* end = text + std::char_traits<char>::length(text);
  auto [p, ec] = std::from_chars(text, end, v);
  return ec == std::errc() && p == end ? v : fallback;
}

std::string FormatNumber(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : "0";
}

std::string StringItemText(pugi::xml_node si, const std::string& prefix) {
  const std::string t = opc::Qn(prefix, "t"), r = opc::Qn(prefix, "r");
  std::string out;
  for (pugi::xml_node c : si.children()) {
    if (c.name() == t) out += c.text().get();
    else if (c.name() == r) out += c.child(t.c_str()).text().get();
  }
  return out;
}

}  // namespace xlsx_detail

// ---- references

std::string ColumnName(int col) {
  std::string name;
  for (; col > 0; col = (col - 1) / 26) name.insert(name.begin(), char('A' + (col - 1) % 26));
  return name;
}

std::string CellRef(int row, int col) { return ColumnName(col) + std::to_string(row); }

bool ParseCellRef(std::string_view ref, int* row, int* col) {
  std::size_t i = 0;
  int c = 0, r = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
    c = c * 26 + (ref[i] - 'A' + 1);
    if (c > kMaxColumns) return false;
  }
  if (i < ref.size() && ref[i] == '$') ++i;
  const std::size_t digits = i;
  for (; i < ref.size() && ref[i] >= '0' && ref[i] <= '9'; ++i) {
    r = r * 10 + (ref[i] - '0');
    if (r > kMaxRows) return false;
  }
  if (i != ref.size() || c == 0 || i == digits || r == 0) return false;
  *row = r;
  *col = c;
  return true;
}

bool ParseRangeRef(std::string_view ref, CellRange* range) {
  const std::size_t colon = ref.find(':');
  CellRange out;
  if (!ParseCellRef(ref.substr(0, colon), &out.row1, &out.col1)) return false;
  if (colon == std::string_view::npos) {
    out.row2 = out.row1;
    out.col2 = out.col1;
  } else if (!ParseCellRef(ref.substr(colon + 1), &out.row2, &out.col2)) {
    return false;
  }
  if (out.row2 < out.row1) std::swap(out.row1, out.row2);
  if (out.col2 < out.col1) std::swap(out.col1, out.col2);
  *range = out;
  return true;
}

// ---- loading

XlsxWorkbook::XlsxWorkbook() { InitBlank(); }
XlsxWorkbook::~XlsxWorkbook() = default;

void XlsxWorkbook::InitBlank() {
  d_ = std::make_unique<Impl>();
  opc::PutSkeleton(d_->pkg, "[Content_Types].xml", kBlankTypes);
  opc::PutSkeleton(d_->pkg, "_rels/.rels", kBlankRootRels);
  opc::PutSkeleton(d_->pkg, "xl/_rels/workbook.xml.rels", kBlankWorkbookRels);
  opc::PutSkeleton(d_->pkg, "xl/workbook.xml", kBlankWorkbook);
  opc::PutSkeleton(d_->pkg, "xl/worksheets/sheet1.xml", kBlankSheet);
  opc::PutSkeleton(d_->pkg, "xl/styles.xml", kBlankStyles);
  if (!Attach().ok()) std::abort();  // the built-in package is well-formed
}

Status XlsxWorkbook::LoadTemplate(const std::filesystem::path& file, const PackageLimits& limits) {
  std::string bytes;
  const Status read = ZipPackage::ReadFile(file, limits, &bytes);
  if (read.ok()) return LoadTemplateBytes(bytes, limits);
  InitBlank();
  return read;
}

Status XlsxWorkbook::LoadTemplateBytes(std::string_view bytes, const PackageLimits& limits) {
  d_ = std::make_unique<Impl>();
  Status s = d_->pkg.LoadBytes(bytes, limits);
  if (s.ok()) s = Attach();
  if (!s.ok()) InitBlank();
  return s;
}

Status XlsxWorkbook::Attach() {
  Impl& d = *d_;
  if (Status s = opc::FindMainPart(d.pkg, d.types, kWorkbookType, kTemplateType, &d.workbookPart); !s.ok()) return s;
  if (Status s = opc::ParseXml(d.pkg, d.workbookPart, d.workbook); !s.ok()) return s;
  pugi::xml_node wb = d.workbook.document_element();
  bool found = false;
  d.wp = opc::PrefixOf(wb, kSheetMlNs, &found);
  if (!found || wb.name() != opc::Qn(d.wp, "workbook"))
    return Status::Fail(Error::Unsupported, "the workbook is not transitional SpreadsheetML");
  if (Status s = d.workbookRels.Load(d.pkg, d.workbookPart); !s.ok()) return s;

  // The active sheet: the one the workbook opens on.
  std::vector<pugi::xml_node> sheets;
  for (pugi::xml_node s : opc::Children(wb.child(opc::Qn(d.wp, "sheets").c_str()), opc::Qn(d.wp, "sheet")))
    sheets.push_back(s);
  if (sheets.empty()) return Status::Fail(Error::BrokenPart, "the workbook has no sheets");
  const pugi::xml_node view =
      wb.child(opc::Qn(d.wp, "bookViews").c_str()).child(opc::Qn(d.wp, "workbookView").c_str());
  const int active = std::clamp(ToInt(view.attribute("activeTab").as_string("0"), 0), 0, int(sheets.size()) - 1);
  d.activeSheetNode = sheets[std::size_t(active)];
  bool rFound = false;
  const std::string rp = opc::PrefixOf(d.activeSheetNode, opc::kDocRelsNs, &rFound);
  const std::string relId = d.activeSheetNode.attribute(opc::Qn(rp, "id").c_str()).value();
  if (!rFound || d.workbookRels.TypeOfId(relId) != std::string(kRelBase) + "worksheet")
    return Status::Fail(Error::Unsupported, "the active sheet is not a worksheet");
  d.sheetPart = d.workbookRels.TargetOfId(relId);
  if (Status s = opc::ParseXml(d.pkg, d.sheetPart, d.sheet); !s.ok()) return s;
  if (Status s = d.sheetRels.Load(d.pkg, d.sheetPart); !s.ok()) return s;
  pugi::xml_node ws = d.sheet.document_element();
  d.sp = opc::PrefixOf(ws, kSheetMlNs, &found);
  if (!found || ws.name() != d.S("worksheet")) return Status::Fail(Error::BrokenPart, "the active sheet is not a worksheet");
  d.sheetData = ws.child(d.S("sheetData").c_str());
  if (!d.sheetData) return Status::Fail(Error::BrokenPart, "the active sheet has no cell data");

  // Index rows and cells; references left out count on from the previous one, as readers do.
  int lastRow = 0;
  for (pugi::xml_node row : opc::Children(d.sheetData, d.S("row"))) {
    const int r = ToInt(row.attribute("r").as_string(""), lastRow + 1);
    if (r <= lastRow || r > kMaxRows) return Status::Fail(Error::BrokenPart, "the sheet's rows are out of order");
    if (!row.attribute("r")) row.append_attribute("r") = r;
    lastRow = r;
    Impl::Row& entry = d.rows[r];
    entry.node = row;
    int lastCol = 0;
    for (pugi::xml_node c : opc::Children(row, d.S("c"))) {
      int cr = r, cc = lastCol + 1;
      if (c.attribute("r") && (!ParseCellRef(c.attribute("r").value(), &cr, &cc) || cr != r))
        return Status::Fail(Error::BrokenPart, "a cell reference of the sheet is invalid");
      if (cc <= lastCol || cc > kMaxColumns) return Status::Fail(Error::BrokenPart, "the sheet's cells are out of order");
      if (!c.attribute("r")) c.append_attribute("r") = CellRef(r, cc).c_str();
      lastCol = cc;
      entry.cells[cc] = c;
    }
  }
  for (pugi::xml_node col : opc::Children(ws.child(d.S("cols").c_str()), d.S("col"))) {
    const int style = ToInt(col.attribute("style").as_string("0"), 0);
    const int first = std::max(1, ToInt(col.attribute("min").as_string("0"), 0));
    const int last = std::min(kMaxColumns, ToInt(col.attribute("max").as_string("0"), 0));
    for (int c = first; style > 0 && c <= last && c <= 1024; ++c) d.columnStyles[c] = style;
  }
  for (pugi::xml_node m : opc::Children(ws.child(d.S("mergeCells").c_str()), d.S("mergeCell"))) {
    CellRange range;
    if (ParseRangeRef(m.attribute("ref").value(), &range)) d.merges.push_back(range);
  }

  // Shared strings, for reading the template's cells.
  const std::string sstPart = d.workbookRels.TargetOfType(std::string(kRelBase) + "sharedStrings");
  if (!sstPart.empty() && d.pkg.Has(sstPart)) {
    pugi::xml_document sst;
    if (Status s = opc::ParseXml(d.pkg, sstPart, sst); !s.ok()) return s;
    bool sf = false;
    const std::string p = opc::PrefixOf(sst.document_element(), kSheetMlNs, &sf);
    for (pugi::xml_node si : opc::Children(sst.document_element(), opc::Qn(p, "si")))
      d.sharedStrings.push_back(StringItemText(si, p));
  }

  d.stylesPart = d.workbookRels.TargetOfType(std::string(kRelBase) + "styles");
  if (d.stylesPart.empty() || !d.pkg.Has(d.stylesPart)) {
    // A workbook may lack formats altogether; it gets the default set.
    d.stylesPart = d.stylesPart.empty() ? opc::FreePartName(d.pkg, "xl/styles", ".xml") : d.stylesPart;
    opc::PutSkeleton(d.pkg, d.stylesPart.c_str(), kBlankStyles);
    if (d.workbookRels.TargetOfType(std::string(kRelBase) + "styles").empty())
      d.workbookRels.Add(std::string(kRelBase) + "styles", d.stylesPart);
    d.types.SetOverride(d.stylesPart, "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml");
  }
  if (Status s = opc::ParseXml(d.pkg, d.stylesPart, d.stylesDoc); !s.ok()) return s;
  return d.styles.Attach(d.stylesDoc);
}

// ---- saving

pugi::xml_node XlsxWorkbook::Impl::InsertSheetChild(const char* local) {
  pugi::xml_node ws = sheet.document_element();
  const int order = SheetOrderIndex(local);
  for (pugi::xml_node c : ws.children()) {
    if (c.type() == pugi::node_element && SheetOrderIndex(opc::LocalName(c.name())) > order)
      return ws.insert_child_before(S(local).c_str(), c);
  }
  return ws.append_child(S(local).c_str());
}

Status XlsxWorkbook::Save(const std::filesystem::path& file, bool exclusive) {
  Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  // The used range is recomputed by readers; a stale one only misleads them.
  ws.remove_child(d.S("dimension").c_str());
  if (d.mergesChanged) {
    ws.remove_child(d.S("mergeCells").c_str());
    if (!d.merges.empty()) {
      pugi::xml_node list = d.InsertSheetChild("mergeCells");
      list.append_attribute("count") = d.merges.size();
      for (const CellRange& m : d.merges)
        list.append_child(d.S("mergeCell").c_str()).append_attribute("ref") =
            (CellRef(m.row1, m.col1) + ":" + CellRef(m.row2, m.col2)).c_str();
    }
  }
  // The calculation chain lists formula cells; values written over them would make it wrong,
  // and readers rebuild it when it is missing.
  const std::string calcType = std::string(kRelBase) + "calcChain";
  const std::string calc = d.workbookRels.TargetOfType(calcType);
  if (!calc.empty()) {
    d.pkg.Remove(calc);
    d.types.RemoveOverride(calc);
    d.workbookRels.RemoveType(calcType);
  }
  opc::StoreXml(d.pkg, d.sheetPart, d.sheet);
  opc::StoreXml(d.pkg, d.workbookPart, d.workbook);
  opc::StoreXml(d.pkg, d.stylesPart, d.stylesDoc);
  d.workbookRels.Store(d.pkg);
  d.sheetRels.Store(d.pkg);
  d.types.Store(d.pkg);
  return d.pkg.SaveFile(file, exclusive);
}

}  // namespace office
