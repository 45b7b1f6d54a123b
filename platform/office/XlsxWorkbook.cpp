// .xlsx through pugixml over a zip package: loading (the package, the workbook, the index of the
// active worksheet's rows and cells) and saving. The blank workbook is a small built-in package
// that takes the same path as a template.
#include "platform/office/XlsxWorkbook.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <cstring>

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

// ---- a byte-level walk over the sheet's rows, so a long template is not built into a tree whole

// Rows up to this one are parsed when loading (the report reads rows 1 to 1000 of the template).
constexpr int kParsedRows = 1000;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view LocalOf(std::string_view name) {
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

struct Tag {
  enum Kind { Start, End, Empty, Other } kind = Other;
  std::string_view name, r;
  bool hasR = false;
  std::size_t end = 0;  // just past the '>'
};

// Reads the markup at x[i] == '<'. False for what only a full parser can judge (a document type,
// a malformed tag).
bool ReadTag(std::string_view x, std::size_t i, Tag* t) {
  auto skipTo = [&](std::string_view close, std::size_t from) {
    const std::size_t e = x.find(close, from);
    if (e == std::string_view::npos) return false;
    t->kind = Tag::Other;
    t->end = e + close.size();
    return true;
  };
  if (x.compare(i, 4, "<!--") == 0) return skipTo("-->", i + 4);
  if (x.compare(i, 9, "<![CDATA[") == 0) return skipTo("]]>", i + 9);
  if (x.compare(i, 2, "<?") == 0) return skipTo("?>", i + 2);
  if (x.compare(i, 2, "<!") == 0) return false;
  std::size_t j = i + 1;
  const bool endTag = j < x.size() && x[j] == '/';
  if (endTag) ++j;
  const std::size_t nameBegin = j;
  while (j < x.size() && !IsSpace(x[j]) && x[j] != '>' && x[j] != '/') ++j;
  t->name = x.substr(nameBegin, j - nameBegin);
  t->hasR = false;
  if (t->name.empty()) return false;
  for (;;) {
    while (j < x.size() && IsSpace(x[j])) ++j;
    if (j >= x.size()) return false;
    if (x[j] == '>') {
      t->kind = endTag ? Tag::End : Tag::Start;
      t->end = j + 1;
      return true;
    }
    if (x[j] == '/') {
      if (endTag || j + 1 >= x.size() || x[j + 1] != '>') return false;
      t->kind = Tag::Empty;
      t->end = j + 2;
      return true;
    }
    if (endTag) return false;
    const std::size_t a = j;
    while (j < x.size() && !IsSpace(x[j]) && x[j] != '=' && x[j] != '>' && x[j] != '/') ++j;
    const std::string_view attr = x.substr(a, j - a);
    while (j < x.size() && IsSpace(x[j])) ++j;
    if (attr.empty() || j >= x.size() || x[j] != '=') return false;
    ++j;
    while (j < x.size() && IsSpace(x[j])) ++j;
    if (j >= x.size() || (x[j] != '"' && x[j] != '\'')) return false;
    const std::size_t v = j + 1, e = x.find(x[j], v);
    if (e == std::string_view::npos) return false;
    if (attr == "r") {
      t->r = x.substr(v, e - v);
      t->hasR = true;
    }
    j = e + 1;
  }
}

struct RowWalk {
  std::size_t split = std::string_view::npos;  // where the first row past `keep` starts
  int firstAfter = 0;                          // its number
  int last = 0;                                // the last row number seen
  std::size_t end = std::string_view::npos;    // where sheetData's end tag starts
};

// Walks the children of sheetData from `from`, rows numbered on from `lastRow`. With `toEnd` it
// goes on to sheetData's end tag, checking the rows' order; otherwise it stops at the split.
bool WalkRows(std::string_view x, std::size_t from, int lastRow, int keep, bool toEnd, RowWalk* w) {
  int depth = 0;
  w->last = lastRow;
  for (std::size_t i = x.find('<', from); i != std::string_view::npos; i = x.find('<', i)) {
    Tag t;
    if (!ReadTag(x, i, &t)) return false;
    if (t.kind == Tag::End && depth == 0) {
      w->end = i;
      return true;
    }
    if (depth == 0 && (t.kind == Tag::Start || t.kind == Tag::Empty) && LocalOf(t.name) == "row") {
      char buf[16] = {};
      const std::size_t n = std::min(t.r.size(), sizeof buf - 1);
      t.r.copy(buf, n);
      const int r = t.hasR ? ToInt(buf, w->last + 1) : w->last + 1;
      if (r <= w->last || r > kMaxRows) return false;
      w->last = r;
      if (r > keep && w->split == std::string_view::npos) {
        w->split = i;
        w->firstAfter = r;
        if (!toEnd) return true;
      }
    }
    if (t.kind == Tag::Start) ++depth;
    else if (t.kind == Tag::End) --depth;
    if (depth < 0) return false;
    i = t.end;
  }
  return !toEnd;
}

// The rows past `keep` of a worksheet's text: [tailBegin, tailEnd) and the first one's number.
// False when there are none or the text is one to leave to the full parser.
bool FindSheetTail(std::string_view x, int keep, std::size_t* tailBegin, std::size_t* tailEnd, int* firstRow) {
  if (x.size() < 2 || x[0] == '\0' || x[1] == '\0' || (unsigned char)x[0] == 0xFE || (unsigned char)x[0] == 0xFF)
    return false;  // UTF-16 or -32
  if (x.compare(0, 5, "<?xml") == 0) {
    const std::string_view decl = x.substr(0, x.find("?>"));
    const std::size_t enc = decl.find("encoding");
    if (enc != std::string_view::npos) {
      std::string value(decl.substr(enc + 8, 12));
      for (char& c : value) c = char(std::tolower((unsigned char)c));
      if (value.find("utf-8") == std::string::npos) return false;
    }
  }
  int depth = 0;
  for (std::size_t i = x.find('<'); i != std::string_view::npos; i = x.find('<', i)) {
    Tag t;
    if (!ReadTag(x, i, &t)) return false;
    if (depth == 1 && t.kind == Tag::Start && LocalOf(t.name) == "sheetData") {
      RowWalk w;
      if (!WalkRows(x, t.end, 0, keep, true, &w) || w.split == std::string_view::npos) return false;
      *tailBegin = w.split;
      *tailEnd = w.end;
      *firstRow = w.firstAfter;
      return true;
    }
    if (t.kind == Tag::Start) ++depth;
    else if (t.kind == Tag::End) --depth;
    if (depth < 0) return false;
    i = t.end;
  }
  return false;
}

constexpr const char* kTailText = "rows held as loaded";
const std::string kTailMark = std::string("<!--") + kTailText + "-->";

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
  const std::string* sheetText = d.pkg.Find(d.sheetPart);
  if (!sheetText) return Status::Fail(Error::BrokenPart, "the part " + d.sheetPart + " is missing");
  if (FindSheetTail(*sheetText, kParsedRows, &d.tailBegin, &d.tailEnd, &d.tailFirstRow)) {
    // Only the head is built into a tree; the rows after it stay as bytes.
    std::string head = sheetText->substr(0, d.tailBegin);
    head.append(*sheetText, d.tailEnd);
    if (Status s = opc::ParseXmlText(head, d.sheetPart, d.sheet); !s.ok()) return s;
  } else {
    d.tailBegin = d.tailEnd = 0;
    if (Status s = opc::ParseXml(d.pkg, d.sheetPart, d.sheet); !s.ok()) return s;
  }
  if (Status s = d.sheetRels.Load(d.pkg, d.sheetPart); !s.ok()) return s;
  pugi::xml_node ws = d.sheet.document_element();
  d.sp = opc::PrefixOf(ws, kSheetMlNs, &found);
  if (!found || ws.name() != d.S("worksheet")) return Status::Fail(Error::BrokenPart, "the active sheet is not a worksheet");
  d.sheetData = ws.child(d.S("sheetData").c_str());
  if (!d.sheetData) return Status::Fail(Error::BrokenPart, "the active sheet has no cell data");

  for (pugi::xml_node row : opc::Children(d.sheetData, d.S("row")))
    if (Status s = d.IndexRow(row); !s.ok()) return s;
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

// Indexes a row and its cells; references left out count on from the previous one, as readers do.
Status XlsxWorkbook::Impl::IndexRow(pugi::xml_node row) {
  const int r = ToInt(row.attribute("r").as_string(""), lastRow + 1);
  if (r <= lastRow || r > kMaxRows) return Status::Fail(Error::BrokenPart, "the sheet's rows are out of order");
  if (!row.attribute("r")) row.append_attribute("r") = r;
  lastRow = r;
  Row& entry = rows[r];
  entry.node = row;
  int lastCol = 0;
  for (pugi::xml_node c : opc::Children(row, S("c"))) {
    int cr = r, cc = lastCol + 1;
    if (c.attribute("r") && (!ParseCellRef(c.attribute("r").value(), &cr, &cc) || cr != r))
      return Status::Fail(Error::BrokenPart, "a cell reference of the sheet is invalid");
    if (cc <= lastCol || cc > kMaxColumns) return Status::Fail(Error::BrokenPart, "the sheet's cells are out of order");
    if (!c.attribute("r")) c.append_attribute("r") = CellRef(r, cc).c_str();
    lastCol = cc;
    entry.cells[cc] = c;
  }
  return Status::Ok();
}

void XlsxWorkbook::Impl::EnsureRows(int row) {
  if (tailBegin >= tailEnd || row < tailFirstRow || tailBroken) return;
  const std::string_view x = *pkg.Find(sheetPart);
  RowWalk w;
  std::size_t split = tailEnd;
  int next = 0;
  if (!WalkRows(x.substr(0, tailEnd), tailBegin, tailFirstRow - 1, row, false, &w)) {
    tailBroken = true;
    return;
  }
  if (w.split != std::string_view::npos) {
    split = w.split;
    next = w.firstAfter;
  }
  pugi::xml_document frag;
  if (!opc::ParseXmlText(x.substr(tailBegin, split - tailBegin), sheetPart, frag, true).ok()) {
    tailBroken = true;
    return;
  }
  for (pugi::xml_node n : frag.children()) {
    pugi::xml_node copy = sheetData.append_copy(n);
    if (copy.type() == pugi::node_element && copy.name() == S("row") && !IndexRow(copy).ok()) {
      tailBroken = true;
      return;
    }
  }
  tailBegin = split;
  tailFirstRow = next;
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
  if (d.tailBroken) return Status::Fail(Error::BrokenPart, "the sheet's rows are not well-formed XML");
  if (d.tailBegin < d.tailEnd) {
    // The held rows go back in where they were: after the parsed ones, before sheetData's end.
    pugi::xml_node mark = d.sheetData.append_child(pugi::node_comment);
    mark.set_value(kTailText);
    std::string text = opc::XmlText(d.sheet);
    d.sheetData.remove_child(mark);
    const std::string anchor = kTailMark + "</" + d.S("sheetData") + ">";
    const std::size_t at = text.find(anchor);
    if (at == std::string::npos) return Status::Fail(Error::BrokenPart, "the sheet's rows could not be placed");
    const std::string_view held = std::string_view(*d.pkg.Find(d.sheetPart)).substr(d.tailBegin, d.tailEnd - d.tailBegin);
    std::string out;
    out.reserve(text.size() + held.size());
    out.append(text, 0, at).append(held).append(text, at + kTailMark.size());
    d.pkg.Put(d.sheetPart, std::move(out));
    d.tailBegin = at;
    d.tailEnd = at + held.size();
  } else {
    opc::StoreXml(d.pkg, d.sheetPart, d.sheet);
  }
  opc::StoreXml(d.pkg, d.workbookPart, d.workbook);
  opc::StoreXml(d.pkg, d.stylesPart, d.stylesDoc);
  d.workbookRels.Store(d.pkg);
  d.sheetRels.Store(d.pkg);
  d.types.Store(d.pkg);
  return d.pkg.SaveFile(file, exclusive);
}

}  // namespace office
