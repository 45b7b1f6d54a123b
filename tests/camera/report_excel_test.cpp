// The Excel report read back from the .xlsx: sheet name, rows, merges, formats, the picture's
// anchor and the measurement rows, with and without the header block and templates (start row).
#include "res/StringIds.h"
#include "tests/camera/report_fixture.h"

#include <chrono>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "platform/office/XlsxWorkbook.h"
#include "platform/strings.h"

using namespace office_test;
using office::CellRef;

namespace {

class ExcelReportTest : public ReportTest {
 protected:
  struct Sheet {
    Parts parts;
    Xml sheet{"<x/>"}, styles{"<x/>"}, workbook{"<x/>"}, drawing{"<x/>"};
  };
  // The report's sheet: the workbook's active one.
  Sheet Load(const CCameraProcess::ReportResult& r, const char* sheetPart = "xl/worksheets/sheet1.xml") {
    Sheet s;
    s.parts = Read(r);
    s.sheet.doc.load_string(s.parts[sheetPart].c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
    s.styles.doc.load_string(s.parts["xl/styles.xml"].c_str());
    s.workbook.doc.load_string(s.parts["xl/workbook.xml"].c_str());
    s.drawing.doc.load_string(s.parts["xl/drawings/drawing1.xml"].c_str());
    return s;
  }
  static std::string Text(const Sheet& s, const std::string& ref) { return InlineText(Cell(s.sheet, ref)); }
  static CellFormat Fmt(const Sheet& s, const std::string& ref) {
    return FormatOf(s.styles, Cell(s.sheet, ref).attribute("s").as_int());
  }
  static double Height(const Sheet& s, int row) {
    return s.sheet.One(("/worksheet/sheetData/row[@r='" + std::to_string(row) + "']").c_str()).attribute("ht").as_double();
  }
  static pugi::xml_node Anchor(const Sheet& s) { return s.drawing.One("/xdr:wsDr/xdr:oneCellAnchor[last()]"); }
  // A one-sheet workbook template ("Form") around `sheet`; the sheet is part 4.
  static std::vector<std::pair<std::string, std::string>> TemplateParts(const std::string& sheet) {
    const char* types = R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)";
    const char* rels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
    const char* wbRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
    const char* wb = R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Form" sheetId="1" r:id="rId1"/></sheets></workbook>)";
    const char* styles = R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/></font></fonts><borders count="1"><border/></borders><cellXfs count="1"><xf fontId="0" borderId="0"/></cellXfs></styleSheet>)";
    return {{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"xl/_rels/workbook.xml.rels", wbRels},
            {"xl/workbook.xml", wb}, {"xl/worksheets/sheet1.xml", sheet}, {"xl/styles.xml", styles}};
  }
};

}  // namespace

TEST_F(ExcelReportTest, LayoutWithHeaderBlock) {
  Still(320, 240);
  AddEveryKind();
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  EXPECT_EQ(std::filesystem::path(ToUtf8(r.path)).extension(), ".xlsx");
  EXPECT_EQ(FilesUnder(Temp()), 0);
  const Sheet s = Load(r);
  EXPECT_STREQ(s.workbook.One("/workbook/sheets/sheet").attribute("name").value(), "Measuring Record");

  // Title row 1: merged A:L, 80 high, 40 point bold in A.
  EXPECT_EQ(Text(s, "A1"), "Inspection 测量 µm²");
  EXPECT_EQ(Height(s, 1), 80);
  EXPECT_TRUE(Fmt(s, "A1").bold);
  EXPECT_EQ(Fmt(s, "A1").size, 40);
  EXPECT_EQ(Fmt(s, "L1").size, 40);
  for (int row = 2; row <= 5; ++row) EXPECT_EQ(Height(s, row), 18) << row;
  for (int row = 7; row <= 34; ++row) EXPECT_EQ(Height(s, row), Height(s, 6)) << row;
  // Header block rows 2 to 5: six two-cell fields each, headers 1 to 24, framed.
  std::vector<std::string> merges = MergeRefs(s.sheet);
  auto merged = [&](const std::string& ref) { return std::find(merges.begin(), merges.end(), ref) != merges.end(); };
  EXPECT_TRUE(merged("A1:L1"));
  EXPECT_TRUE(merged("A6:L34"));
  for (int k = 0; k < 4; ++k) {
    for (int j = 0; j < 6; ++j) {
      const std::string first = CellRef(2 + k, 1 + 2 * j), second = CellRef(2 + k, 2 + 2 * j);
      EXPECT_TRUE(merged(first + ":" + second)) << first;
      EXPECT_EQ(Text(s, first), ToUtf8(FormatW(u"H%d", 1 + 6 * k + j)));
      EXPECT_EQ(Fmt(s, first).left, "thin");
      EXPECT_EQ(Fmt(s, first).top, "thin");
      EXPECT_EQ(Fmt(s, second).right, "thin");
      EXPECT_EQ(Fmt(s, second).bottom, "thin");
    }
  }
  EXPECT_EQ(merges.size(), 26u);
  // Everything from A1 to L34 centred, framed around the outside.
  EXPECT_EQ(Fmt(s, "G20").horizontal, "center");
  EXPECT_EQ(Fmt(s, "G20").vertical, "center");
  EXPECT_EQ(Fmt(s, "A20").left, "thin");
  EXPECT_EQ(Fmt(s, "L20").right, "thin");
  EXPECT_EQ(Fmt(s, "G34").bottom, "thin");
  EXPECT_EQ(Fmt(s, "G20").left, "");
  // Row 35: "Measuring Data:" bold in A, the scale in C, not centred.
  EXPECT_EQ(Text(s, "A35"), "Measuring Data:");
  EXPECT_TRUE(Fmt(s, "A35").bold);
  EXPECT_EQ(Text(s, "C35"), "Scale:0.500 µm/px");
  EXPECT_EQ(Fmt(s, "C35").horizontal, "");
  // Rows 36 + i: index, kind label, the engine's text; unknown kinds get no label.
  for (int i = 0; i < view.mm.GetMeasureCount(); ++i) {
    const int row = 36 + i;
    EXPECT_STREQ(Cell(s.sheet, CellRef(row, 1)).child("v").text().get(), std::to_string(i).c_str());
    EXPECT_EQ(Text(s, CellRef(row, 2)), ToUtf8(ReportKindLabel(view.mm.GetMeasureKind(i))));
    EXPECT_EQ(Text(s, CellRef(row, 3)), ToUtf8(ExcelLine(i)));
  }
  EXPECT_EQ(Text(s, "B36"), "Line");
  EXPECT_EQ(Text(s, "B39"), "Point");
  EXPECT_FALSE(Cell(s.sheet, "B40"));  // kind 999
  EXPECT_FALSE(Cell(s.sheet, "B41"));  // kind 271
  EXPECT_NE(Text(s, "C36").find("L\uFF1A50.000\u00B5m"), std::string::npos);
  // The picture: 35 points in from the left, 10 points into row 6, inside 580 x 500 points at
  // the frame's 4:3 shape, the block under it as tall as the picture and its gaps, and the title,
  // the header block and the block together within the height a landscape A4 page prints.
  pugi::xml_node a = Anchor(s);
  EXPECT_EQ(a.select_node("xdr:from/xdr:row").node().text().as_int(), 5);
  EXPECT_EQ(a.select_node("xdr:from/xdr:rowOff").node().text().as_llong(), 10 * 12700);
  EXPECT_EQ(a.select_node("xdr:from/xdr:col").node().text().as_int(), 0);
  EXPECT_EQ(a.select_node("xdr:from/xdr:colOff").node().text().as_llong(), 35 * 12700);
  const double cx = a.select_node("xdr:ext").node().attribute("cx").as_double() / 12700;
  const double cy = a.select_node("xdr:ext").node().attribute("cy").as_double() / 12700;
  EXPECT_NEAR(cx / cy, 4.0 / 3.0, 0.001);
  EXPECT_LE(cx, 580.0);
  EXPECT_GT(cy, 250.0);  // as large as the page allows, not a thumbnail
  double block = 0;
  for (int row = 6; row <= 34; ++row) block += Height(s, row);
  EXPECT_NEAR(block, cy + 20, 0.5);
  const double printable = 595.28 - 2 * 0.75 * 72;  // landscape A4 less the top and bottom margins
  EXPECT_LE(80 + 4 * 18 + block, printable);
}

TEST_F(ExcelReportTest, WithoutHeaderBlockEverythingMovesUpFourRows) {
  Still(64, 48);
  AddEveryKind();
  settings.printHeader = false;
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok());
  const Sheet s = Load(r);
  EXPECT_EQ(MergeRefs(s.sheet), (std::vector<std::string>{"A2:L30", "A1:L1"}));
  EXPECT_EQ(Text(s, "A31"), "Measuring Data:");
  EXPECT_EQ(Text(s, "C32"), ToUtf8(ExcelLine(0)));
  EXPECT_EQ(Height(s, 30), Height(s, 2));
  EXPECT_EQ(Height(s, 31), 0);
  // The title row is framed on its own; the outer frame ends at row 30.
  EXPECT_EQ(Fmt(s, "F1").bottom, "thin");
  EXPECT_EQ(Fmt(s, "F30").bottom, "thin");
  EXPECT_EQ(Anchor(s).select_node("xdr:from/xdr:row").node().text().as_int(), 1);
}

TEST_F(ExcelReportTest, TemplateScanFindsTheStartRowAndTheTemplateStays) {
  Still(64, 48);
  AddEveryKind();
  // Content down to row 10 (a number in column 50 of row 10), a merged heading.
  const char* sheet = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>Company</t></is></c></row><row r="10"><c r="AX10"><v>7</v></c></row></sheetData><mergeCells count="1"><mergeCell ref="A1:D1"/></mergeCells></worksheet>)";
  auto parts = TemplateParts(sheet);
  settings.useTemplate = true;
  settings.excelTemplate = Template("form.xltx", parts);
  Apply();
  auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Sheet s = Load(r);
  // s = 11: the title in row 12, "Measuring Data:" in row 46, the first measurement in row 47.
  EXPECT_EQ(Text(s, "A1"), "Company");
  EXPECT_STREQ(Cell(s.sheet, "AX10").child("v").text().get(), "7");
  EXPECT_EQ(Text(s, "A12"), "Inspection 测量 µm²");
  EXPECT_EQ(Text(s, "A46"), "Measuring Data:");
  EXPECT_EQ(Text(s, "C47"), ToUtf8(ExcelLine(0)));
  std::vector<std::string> merges = MergeRefs(s.sheet);
  EXPECT_EQ(merges[0], "A1:D1");
  EXPECT_NE(std::find(merges.begin(), merges.end(), "A17:L45"), merges.end());
  // The template's rows are centred and framed with the report.
  EXPECT_EQ(Fmt(s, "A1").horizontal, "center");
  EXPECT_EQ(Fmt(s, "A1").top, "thin");
  EXPECT_STREQ(s.workbook.One("/workbook/sheets/sheet").attribute("name").value(), "Measuring Record");
  EXPECT_NE(s.parts["[Content_Types].xml"].find("spreadsheetml.sheet.main+xml"), std::string::npos);

  // A path that does not exist: a blank workbook, and the scan gives s = 1.
  settings.excelTemplate = FromUtf8((Path() / "gone.xltx").string());
  Apply();
  r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok());
  s = Load(r);
  EXPECT_FALSE(Cell(s.sheet, "A1").first_child());  // framed, but empty
  EXPECT_EQ(Text(s, "A2"), "Inspection 测量 µm²");
  EXPECT_EQ(Text(s, "A36"), "Measuring Data:");

  // A broken one is refused, nothing written.
  const int before = FilesUnder(Captures());
  parts[4].second = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  settings.excelTemplate = Template("broken.xltx", parts);
  Apply();
  r = camera->ExportExcelReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::TemplateBroken);
  EXPECT_EQ(r.message, FormatW(LoadStringW(sid::kReportTemplateDamaged), settings.excelTemplate));
  EXPECT_EQ(FilesUnder(Captures()), before);
  EXPECT_EQ(FilesUnder(Temp()), 0);
}

// A template whose rows fill most of the page: the report starts a page of its own, where the
// title, the header block and the picture fit.
TEST_F(ExcelReportTest, ATemplateFillingThePageMovesTheReportToANewPage) {
  Still(640, 480);
  std::string sheet = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (int r = 1; r <= 20; ++r)
    sheet += "<row r=\"" + std::to_string(r) + "\" ht=\"20\" customHeight=\"1\"><c r=\"A" + std::to_string(r) +
             "\"><v>" + std::to_string(r) + "</v></c></row>";
  sheet += "</sheetData></worksheet>";
  settings.useTemplate = true;
  settings.excelTemplate = Template("letterhead.xltx", TemplateParts(sheet));
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const Sheet s = Load(r);
  EXPECT_EQ(Text(s, "A22"), "Inspection 测量 µm²");  // below the empty row the scan ends on
  const pugi::xml_node brk = s.sheet.One("/worksheet/rowBreaks/brk");
  EXPECT_EQ(brk.attribute("id").as_int(), 21);  // the page ends above the title
  EXPECT_TRUE(brk.attribute("man").as_bool());
  // The picture takes the height of the new page, not what the template left.
  EXPECT_GT(Anchor(s).select_node("xdr:ext").node().attribute("cy").as_double() / 12700, 250.0);
}

// A template filled far past the rows the scan reads: the report starts below row 1000 and the
// template's rows beyond it stay, the ones the report writes into keeping their other cells.
TEST_F(ExcelReportTest, ALongTemplateKeepsItsRowsPastTheReport) {
  Still(64, 48);
  AddEveryKind();
  std::string sheet = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (int r = 1; r <= 2500; ++r)
    sheet += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" + std::to_string(r) +
             "</v></c><c r=\"N" + std::to_string(r) + "\"><f>A" + std::to_string(r) + "*2</f></c></row>";
  sheet += "</sheetData></worksheet>";
  auto parts = TemplateParts(sheet);
  settings.useTemplate = true;
  settings.excelTemplate = Template("long.xltx", parts);
  Apply();
  auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Sheet s = Load(r);
  // No run of empty rows among the first thousand: s = 1000, the title in row 1001.
  EXPECT_EQ(Text(s, "A1001"), "Inspection 测量 µm²");
  EXPECT_EQ(Text(s, "A1035"), "Measuring Data:");
  EXPECT_EQ(Text(s, "C1036"), ToUtf8(ExcelLine(0)));
  EXPECT_STREQ(Cell(s.sheet, "N1020").child("f").text().get(), "A1020*2");
  EXPECT_STREQ(Cell(s.sheet, "A999").child("v").text().get(), "999");
  EXPECT_STREQ(Cell(s.sheet, "A2500").child("v").text().get(), "2500");
  EXPECT_STREQ(Cell(s.sheet, "N2500").child("f").text().get(), "A2500*2");
  auto rows = s.sheet.Select("/worksheet/sheetData/row");
  ASSERT_EQ(rows.size(), 2500u);
  int last = 0;
  for (pugi::xpath_node row : rows) {
    EXPECT_EQ(row.node().attribute("r").as_int(), last + 1);
    last = row.node().attribute("r").as_int();
  }
}

TEST_F(ExcelReportTest, ChineseTextsRoundTrip) {
  SetUiLanguage(UiLanguage::Chinese);
  Still(32, 32);
  Add(258, {{0, 0}, {30, 40}});
  settings.headers[7] = u"批号 ²";
  Apply();
  const auto r = camera->ExportExcelReport();
  SetUiLanguage(UiLanguage::English);
  ASSERT_TRUE(r.ok());
  const Sheet s = Load(r);
  EXPECT_STREQ(s.workbook.One("/workbook/sheets/sheet").attribute("name").value(), "测量记录");
  EXPECT_EQ(Text(s, "A35"), "测量数据：");
  EXPECT_EQ(Text(s, "A3"), "批号 ²");
  EXPECT_EQ(Text(s, "B36"), ToUtf8(LoadStringW(sid::kLine, UiLanguage::Chinese)));
}

// Timing of both reports for a 20-megapixel frame and 1000 measurements, next to encoding the
// same picture as PNG alone. Run with --gtest_also_run_disabled_tests.
TEST_F(ExcelReportTest, DISABLED_TwentyMegapixelTiming) {
  Still(5472, 3648);
  for (int i = 0; i < 1000; ++i) Add(258, {{i, 10}, {i + 100, 200}});
  Apply();
  auto ms = [](auto start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(camera->SaveImageBmp(FromUtf8((Path() / "frame").string())), 1);
  const double bmp = ms(t0);
  t0 = std::chrono::steady_clock::now();
  cv::Mat mat = cv::imread((Path() / "frame.bmp").string());
  std::vector<std::uint8_t> png;
  cv::imencode(".png", mat, png, {cv::IMWRITE_PNG_COMPRESSION, 1});
  const double pngOnly = ms(t0);
  t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(camera->ExportWordReport().ok());
  const double word = ms(t0);
  t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(camera->ExportExcelReport().ok());
  const double excel = ms(t0);
  std::printf("frame as BMP %.0f ms, BMP read + PNG encode %.0f ms, Word report %.0f ms, Excel report %.0f ms\n", bmp,
              pngOnly, word, excel);
}
