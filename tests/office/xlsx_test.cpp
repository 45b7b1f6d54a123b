// Excel workbooks: cells, formats, merges, row heights, sheet name and pictures read back from
// the file; a template's sheets, cells, formats, merges and pictures kept; broken ones refused.
#include <QTemporaryDir>

#include "platform/office/XlsxWorkbook.h"
#include "tests/office/office_reader.h"

using namespace office;
using namespace office_test;

namespace {

const char* kTypes = R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/><Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/><Override PartName="/xl/drawings/drawing1.xml" ContentType="application/vnd.openxmlformats-officedocument.drawing+xml"/></Types>)";
const char* kRootRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const char* kWorkbook = R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><bookViews><workbookView activeTab="1"/></bookViews><sheets><sheet name="Cover" sheetId="1" r:id="rId1"/><sheet name="Data" sheetId="2" r:id="rId2"/></sheets><definedNames><definedName name="_xlnm.Print_Area" localSheetId="1">Data!$A$1:$L$40</definedName></definedNames></workbook>)";
const char* kWorkbookRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/sheet2.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/><Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/></Relationships>)";
const char* kCover = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row></sheetData></worksheet>)";
// Content to row 10 (a shared string, a number, an error, a formula), a merge, a logo picture.
const char* kData = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><dimension ref="A1:C10"/><sheetData><row r="1" spans="1:3"><c r="A1" s="1" t="s"><v>1</v></c></row><row r="3"><c r="B3"><v>42</v></c><c r="C3" t="e"><v>#N/A</v></c></row><row r="10"><c r="C10"><f>B3*2</f><v>84</v></c></row></sheetData><mergeCells count="1"><mergeCell ref="A1:C1"/></mergeCells><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/><drawing r:id="rId1"/></worksheet>)";
const char* kDataRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing" Target="../drawings/drawing1.xml"/></Relationships>)";
const char* kDrawing = R"(<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><xdr:oneCellAnchor><xdr:from><xdr:col>5</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>0</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx="100" cy="100"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id="7" name="Logo"/><xdr:cNvPicPr/></xdr:nvPicPr><xdr:blipFill><a:blip r:embed="rId1"/></xdr:blipFill><xdr:spPr/></xdr:pic><xdr:clientData/></xdr:oneCellAnchor></xdr:wsDr>)";
const char* kDrawingRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="../media/image1.png"/></Relationships>)";
const char* kStyles = R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><i/><sz val="14"/><color rgb="FFFF0000"/><name val="Arial"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/></cellXfs></styleSheet>)";
const char* kStrings = R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="2" uniqueCount="2"><si><t>Cover page</t></si><si><r><t>Company </t></r><r><rPr><b/></rPr><t>Lab</t></r><rPh sb="0" eb="1"><t>x</t></rPh></si></sst>)";
const char* kCalc = R"(<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><c r="C10" i="2"/></calcChain>)";

std::vector<std::pair<std::string, std::string>> TemplateParts() {
  return {{"[Content_Types].xml", kTypes}, {"_rels/.rels", kRootRels}, {"xl/workbook.xml", kWorkbook},
          {"xl/_rels/workbook.xml.rels", kWorkbookRels}, {"xl/worksheets/sheet1.xml", kCover},
          {"xl/worksheets/sheet2.xml", kData}, {"xl/worksheets/_rels/sheet2.xml.rels", kDataRels},
          {"xl/drawings/drawing1.xml", kDrawing}, {"xl/drawings/_rels/drawing1.xml.rels", kDrawingRels},
          {"xl/media/image1.png", "LOGO"}, {"xl/styles.xml", kStyles}, {"xl/sharedStrings.xml", kStrings},
          {"xl/calcChain.xml", kCalc}};
}

class XlsxTest : public ::testing::Test {
 protected:
  std::filesystem::path Path(const char* name) const { return std::filesystem::path(dir.path().toStdString()) / name; }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(XlsxTest, BlankWorkbookCellsFormatsMergesAndPicture) {
  XlsxWorkbook book;
  book.SetSheetName("Measuring Record");
  book.SetRowHeight(2, 18);
  book.SetRowHeight(1, 80);
  book.SetText(1, 1, "Title & <more>");
  book.SetNumber(5, 1, 0);
  book.SetText(5, 3, "  spaced  ");
  book.SetBold({1, 1, 1, 1}, true);
  book.SetFontSize({1, 1, 1, 12}, 40);
  book.Merge({1, 1, 1, 12});
  book.SetAlignment({1, 1, 3, 12}, HAlign::Center, VAlign::Center);
  book.BorderAround({1, 1, 3, 12});
  book.PlacePng("PNG1", 3, 1, 127000, 444500, 7366000, 6350000);
  ASSERT_TRUE(book.Save(Path("a.xlsx"), true).ok());

  Parts parts = ReadZip(Path("a.xlsx"));
  Xml wb(parts["xl/workbook.xml"]);
  EXPECT_STREQ(wb.One("/workbook/sheets/sheet").attribute("name").value(), "Measuring Record");
  Xml sheet(parts["xl/worksheets/sheet1.xml"]);
  Xml styles(parts["xl/styles.xml"]);
  EXPECT_EQ(InlineText(Cell(sheet, "A1")), "Title & <more>");
  EXPECT_EQ(InlineText(Cell(sheet, "C5")), "  spaced  ");
  EXPECT_STREQ(Cell(sheet, "A5").child("v").text().get(), "0");
  EXPECT_STREQ(Cell(sheet, "A5").attribute("t").value(), "");
  EXPECT_EQ(MergeRefs(sheet), std::vector<std::string>{"A1:L1"});
  EXPECT_STREQ(sheet.One("/worksheet/sheetData/row[@r='1']").attribute("ht").value(), "80");
  EXPECT_TRUE(sheet.One("/worksheet/sheetData/row[@r='1']").attribute("customHeight").as_bool());
  // Rows in order although row 2 was made first.
  EXPECT_EQ(sheet.One("/worksheet/sheetData").first_child().attribute("r").as_int(), 1);

  CellFormat a1 = FormatOf(styles, Cell(sheet, "A1").attribute("s").as_int());
  EXPECT_TRUE(a1.bold);
  EXPECT_EQ(a1.size, 40);
  EXPECT_EQ(a1.horizontal, "center");
  EXPECT_EQ(a1.vertical, "center");
  EXPECT_EQ(a1.left, "thin");
  EXPECT_EQ(a1.top, "thin");
  EXPECT_EQ(a1.right, "");
  CellFormat b1 = FormatOf(styles, Cell(sheet, "B1").attribute("s").as_int());
  EXPECT_FALSE(b1.bold);
  EXPECT_EQ(b1.size, 40);
  CellFormat l3 = FormatOf(styles, Cell(sheet, "L3").attribute("s").as_int());
  EXPECT_EQ(l3.right, "thin");
  EXPECT_EQ(l3.bottom, "thin");
  EXPECT_EQ(l3.left, "");
  EXPECT_EQ(FormatOf(styles, Cell(sheet, "F2").attribute("s").as_int()).top, "");
  // Counts match the lists.
  EXPECT_EQ(styles.One("/styleSheet/cellXfs").attribute("count").as_uint(), styles.Select("/styleSheet/cellXfs/xf").size());
  EXPECT_EQ(styles.One("/styleSheet/fonts").attribute("count").as_uint(), styles.Select("/styleSheet/fonts/font").size());

  // The picture: a drawing of the sheet, anchored at C... row 3 with the given offsets and size.
  const std::string drawingId = sheet.One("/worksheet/drawing").attribute("r:id").value();
  const std::string drawingPart = "xl/drawings/" + RelTarget(parts["xl/worksheets/_rels/sheet1.xml.rels"], drawingId).substr(12);
  Xml drawing(parts[drawingPart]);
  pugi::xml_node anchor = drawing.One("/xdr:wsDr/xdr:oneCellAnchor");
  EXPECT_EQ(anchor.select_node("xdr:from/xdr:row").node().text().as_int(), 2);
  EXPECT_EQ(anchor.select_node("xdr:from/xdr:col").node().text().as_int(), 0);
  EXPECT_EQ(anchor.select_node("xdr:from/xdr:rowOff").node().text().as_llong(), 127000);
  EXPECT_EQ(anchor.select_node("xdr:from/xdr:colOff").node().text().as_llong(), 444500);
  EXPECT_EQ(anchor.select_node("xdr:ext").node().attribute("cx").as_llong(), 7366000);
  const std::string blip = anchor.select_node(".//a:blip").node().attribute("r:embed").value();
  EXPECT_EQ(RelTarget(parts["xl/drawings/_rels/drawing1.xml.rels"], blip), "../media/q7v_image1.png");
  EXPECT_EQ(parts["xl/media/q7v_image1.png"], "PNG1");
  Xml types(parts["[Content_Types].xml"]);
  EXPECT_TRUE(types.One("//Override[@PartName='/xl/drawings/drawing1.xml']"));
  EXPECT_TRUE(types.One("//Default[@Extension='png']"));
}

TEST_F(XlsxTest, TemplateIsReadAndKept) {
  WriteZip(Path("t.xltx"), TemplateParts());
  XlsxWorkbook book;
  ASSERT_TRUE(book.LoadTemplate(Path("t.xltx")).ok());
  // The active sheet is the second one.
  EXPECT_EQ(book.SheetName(), "Data");
  EXPECT_EQ(book.CellText(1, 1), "Company Lab");  // rich text, phonetic run left out
  EXPECT_EQ(book.CellText(3, 2), "42");
  EXPECT_EQ(book.CellText(3, 3), "#N/A");
  EXPECT_EQ(book.CellText(10, 3), "84");
  EXPECT_EQ(book.CellText(2, 1), "");
  EXPECT_EQ(book.CellText(11, 1), "");

  book.SetSheetName("Measuring Record");
  book.SetText(12, 1, "Report");
  book.SetBold({1, 1, 1, 1}, true);
  book.Merge({1, 2, 1, 12});  // overlaps the template's A1:C1, which is dissolved
  book.Merge({12, 1, 12, 12});
  book.PlacePng("PNG2", 13, 1, 0, 0, 10, 10);
  ASSERT_TRUE(book.Save(Path("t.xlsx"), true).ok());

  Parts parts = ReadZip(Path("t.xlsx"));
  // No XML part has more than one declaration, and one it has stands at its start.
  for (const auto& [name, data] : parts) {
    const std::size_t at = data.find("<?xml");
    EXPECT_TRUE(at == std::string::npos || at == 0) << name;
    EXPECT_EQ(data.find("<?xml", 1), std::string::npos) << name;
  }
  Xml types(parts["[Content_Types].xml"]);
  EXPECT_STREQ(types.One("//Override[@PartName='/xl/workbook.xml']").attribute("ContentType").value(),
               "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
  // The calculation chain is dropped with every mention of it.
  EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);
  EXPECT_FALSE(types.One("//Override[@PartName='/xl/calcChain.xml']"));
  EXPECT_EQ(parts["xl/_rels/workbook.xml.rels"].find("calcChain"), std::string::npos);

  Xml wb(parts["xl/workbook.xml"]);
  EXPECT_STREQ(wb.Select("/workbook/sheets/sheet")[1].node().attribute("name").value(), "Measuring Record");
  EXPECT_STREQ(wb.Select("/workbook/sheets/sheet")[0].node().attribute("name").value(), "Cover");
  EXPECT_STREQ(wb.One("//definedName").text().get(), "'Measuring Record'!$A$1:$L$40");
  EXPECT_EQ(parts["xl/worksheets/sheet1.xml"], kCover);
  EXPECT_EQ(parts["xl/sharedStrings.xml"], kStrings);

  Xml sheet(parts["xl/worksheets/sheet2.xml"]);
  EXPECT_STREQ(Cell(sheet, "A1").child("v").text().get(), "1");
  EXPECT_STREQ(Cell(sheet, "C10").child("f").text().get(), "B3*2");
  EXPECT_EQ(InlineText(Cell(sheet, "A12")), "Report");
  EXPECT_EQ(MergeRefs(sheet), (std::vector<std::string>{"B1:L1", "A12:L12"}));
  EXPECT_FALSE(sheet.One("/worksheet/dimension"));
  // mergeCells stays before pageMargins, drawing after it: the schema's order.
  std::vector<std::string> order;
  for (pugi::xml_node c : sheet.One("/worksheet").children()) order.push_back(c.name());
  EXPECT_EQ(order, (std::vector<std::string>{"sheetData", "mergeCells", "pageMargins", "drawing"}));
  // Bold added to the template's italic red 14-point Arial, which stays otherwise.
  Xml styles(parts["xl/styles.xml"]);
  pugi::xml_node x = styles.Select("/styleSheet/cellXfs/xf")[Cell(sheet, "A1").attribute("s").as_uint()].node();
  pugi::xml_node font = styles.Select("/styleSheet/fonts/font")[x.attribute("fontId").as_uint()].node();
  EXPECT_TRUE(font.child("b"));
  EXPECT_TRUE(font.child("i"));
  EXPECT_STREQ(font.child("name").attribute("val").value(), "Arial");
  EXPECT_EQ(font.child("sz").attribute("val").as_int(), 14);

  // The logo stays in the sheet's drawing, the report's picture joins it with a new id.
  Xml drawing(parts["xl/drawings/drawing1.xml"]);
  auto anchors = drawing.Select("/xdr:wsDr/xdr:oneCellAnchor");
  ASSERT_EQ(anchors.size(), 2u);
  EXPECT_EQ(anchors[1].node().select_node(".//xdr:cNvPr").node().attribute("id").as_int(), 8);
  EXPECT_EQ(parts["xl/media/image1.png"], "LOGO");
  EXPECT_EQ(parts.count("xl/drawings/drawing2.xml"), 0u);
}

TEST_F(XlsxTest, BrokenTemplatesAreRefused) {
  auto with = [](const char* name, std::string data) {
    auto p = TemplateParts();
    for (auto& e : p)
      if (e.first == name) e.second = std::move(data);
    return p;
  };
  const char* ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::vector<std::pair<const char*, std::vector<std::pair<std::string, std::string>>>> cases = {
      {"rows out of order", with("xl/worksheets/sheet2.xml", std::string("<worksheet xmlns=\"") + ns +
                                 "\"><sheetData><row r=\"5\"/><row r=\"2\"/></sheetData></worksheet>")},
      {"bad cell reference", with("xl/worksheets/sheet2.xml", std::string("<worksheet xmlns=\"") + ns +
                                  "\"><sheetData><row r=\"1\"><c r=\"ZZZZ1\"/></row></sheetData></worksheet>")},
      {"rows out of order past the first thousand",
       with("xl/worksheets/sheet2.xml", [&] {
         std::string x = std::string("<worksheet xmlns=\"") + ns + "\"><sheetData>";
         for (int r = 1; r <= 1200; ++r) x += "<row r=\"" + std::to_string(r) + "\"/>";
         return x + "<row r=\"1100\"/></sheetData></worksheet>";
       }())},
      {"no sheet data", with("xl/worksheets/sheet2.xml", std::string("<worksheet xmlns=\"") + ns + "\"/>")},
      {"malformed strings", with("xl/sharedStrings.xml", "<sst><si>")},
      {"styles without lists", with("xl/styles.xml", std::string("<styleSheet xmlns=\"") + ns + "\"/>")},
      {"no sheets", with("xl/workbook.xml", std::string("<workbook xmlns=\"") + ns + "\"><sheets/></workbook>")},
      {"a document", with("xl/workbook.xml", "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>")},
  };
  for (const auto& [what, parts] : cases) {
    WriteZip(Path("b.xltx"), parts);
    XlsxWorkbook book;
    const Status s = book.LoadTemplate(Path("b.xltx"));
    EXPECT_FALSE(s.ok()) << what;
    EXPECT_FALSE(s.detail.empty()) << what;
    EXPECT_EQ(book.SheetName(), "Sheet1") << what;  // blank again
    EXPECT_TRUE(book.Save(Path("after.xlsx"), false).ok()) << what;
  }
}

// A template far longer than the rows the report reads: the rows past them come out byte for byte
// when nothing touches them, and in order with what was written when something does.
TEST_F(XlsxTest, ALongTemplateKeepsItsRowsAndTakesWritesAmongThem) {
  std::string rows;
  for (int r = 1; r <= 3000; ++r) {
    // Row 1700 leaves its number out; it counts on from row 1699.
    rows += r == 1700 ? std::string("<x:row>") : "<x:row r=\"" + std::to_string(r) + "\">";
    rows += "<x:c r=\"A" + std::to_string(r) + "\" t=\"s\"><x:v>" + std::to_string(r % 2) + "</x:v></x:c>";
    rows += "<x:c r=\"B" + std::to_string(r) + "\"><x:v>" + std::to_string(r) + "</x:v></x:c>";
    if (r % 100 == 0) rows += "<x:c r=\"C" + std::to_string(r) + "\"><x:f>B" + std::to_string(r) + "*2</x:f></x:c>";
    if (r == 2222) rows += R"(<x:c r="E2222" t="inlineStr"><x:is><x:t><![CDATA[</x:sheetData><x:row r="9">]]></x:t></x:is></x:c>)";
    rows += "</x:row>";
    if (r == 1500) rows += "<!-- <x:row r=\"1\"> in a comment -->";
  }
  const std::string head =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetViews><x:sheetView workbookViewId="0"><x:selection activeCell="A1"/></x:sheetView></x:sheetViews><x:sheetData>)";
  const std::string foot = R"(</x:sheetData><x:mergeCells count="1"><x:mergeCell ref="A2500:B2500"/></x:mergeCells></x:worksheet>)";
  auto parts = TemplateParts();
  for (auto& e : parts)
    if (e.first == "xl/worksheets/sheet2.xml") e.second = head + rows + foot;
  WriteZip(Path("long.xltx"), parts);

  XlsxWorkbook book;
  ASSERT_TRUE(book.LoadTemplate(Path("long.xltx")).ok());
  EXPECT_EQ(book.CellText(1, 1), "Company Lab");
  EXPECT_EQ(book.CellText(1000, 2), "1000");
  EXPECT_TRUE(book.CellHasFormula(1000, 3));
  // Reads past the first thousand rows find them too.
  EXPECT_EQ(book.CellText(1001, 1), "Company Lab");
  EXPECT_EQ(book.CellText(1002, 1), "Cover page");
  // The report writes just below the scanned rows.
  book.SetText(1040, 4, "Report");
  book.SetRowHeight(1041, 18);
  book.Merge({1040, 4, 1040, 12});
  ASSERT_TRUE(book.Save(Path("one.xlsx"), true).ok());

  std::string sheetOne = ReadZip(Path("one.xlsx"))["xl/worksheets/sheet2.xml"];
  const std::size_t from = rows.find("<x:row r=\"1042\">");
  const std::string untouched = rows.substr(from);
  EXPECT_NE(sheetOne.find(untouched + "</x:sheetData>"), std::string::npos);
  {
    Xml sheet(sheetOne);
    EXPECT_STREQ(sheet.One("//x:row/x:c[@r='D1040']/x:is/x:t").text().get(), "Report");
    EXPECT_STREQ(sheet.One("//x:row[@r='1041']").attribute("ht").value(), "18");
    EXPECT_EQ(sheet.Select("//x:row").size(), 3000u);
  }

  // Writes among and past the held rows put them in the tree in order.
  EXPECT_EQ(book.CellText(1700, 2), "1700");
  book.SetText(2000, 4, "middle");
  book.SetNumber(5000, 1, 7);
  EXPECT_TRUE(book.CellHasFormula(2100, 3));
  EXPECT_EQ(book.CellText(2222, 5), "</x:sheetData><x:row r=\"9\">");
  ASSERT_TRUE(book.Save(Path("two.xlsx"), true).ok());
  Xml sheet(ReadZip(Path("two.xlsx"))["xl/worksheets/sheet2.xml"]);
  auto all = sheet.Select("/x:worksheet/x:sheetData/x:row");
  ASSERT_EQ(all.size(), 3001u);
  int last = 0;
  for (pugi::xpath_node r : all) {
    const int n = r.node().attribute("r").as_int();
    EXPECT_GT(n, last);
    last = n;
  }
  EXPECT_EQ(last, 5000);
  EXPECT_STREQ(sheet.One("//x:c[@r='B1700']/x:v").text().get(), "1700");
  EXPECT_STREQ(sheet.One("//x:c[@r='D2000']/x:is/x:t").text().get(), "middle");
  EXPECT_STREQ(sheet.One("//x:c[@r='D1040']/x:is/x:t").text().get(), "Report");
  EXPECT_STREQ(sheet.One("//x:c[@r='C2900']/x:f").text().get(), "B2900*2");
  EXPECT_STREQ(sheet.One("//x:c[@r='B2999']/x:v").text().get(), "2999");
  EXPECT_STREQ(sheet.One("//x:c[@r='A5000']/x:v").text().get(), "7");
  EXPECT_STREQ(sheet.One("/x:worksheet/x:mergeCells/x:mergeCell[2]").attribute("ref").value(), "D1040:L1040");
}

TEST_F(XlsxTest, CellLimitsAndSheetNamesAreKeptValid) {
  XlsxWorkbook book;
  book.SetText(1, 1, std::string(40000, 'x'));
  book.SetText(1, 2, "bell\x07");
  book.SetSheetName("a[b]:c*?/\\d that is far longer than thirty-one");
  EXPECT_EQ(book.SheetName(), "abcd that is far longer than th");
  book.SetSheetName("''");
  EXPECT_EQ(book.SheetName(), "Sheet");
  ASSERT_TRUE(book.Save(Path("c.xlsx"), true).ok());
  Parts parts = ReadZip(Path("c.xlsx"));
  Xml sheet(parts["xl/worksheets/sheet1.xml"]);
  EXPECT_EQ(InlineText(Cell(sheet, "A1")).size(), 32767u);
  EXPECT_EQ(InlineText(Cell(sheet, "B1")), "bell");

  // A name another sheet has already gets a number.
  WriteZip(Path("t.xltx"), TemplateParts());
  ASSERT_TRUE(book.LoadTemplate(Path("t.xltx")).ok());
  book.SetSheetName("COVER");
  EXPECT_EQ(book.SheetName(), "COVER (2)");
}
