// How the Excel report prints: the picture at the frame's own shape, one page wide, column B
// wide enough for its labels; read back by an independent reader (openpyxl) and, when
// LibreOffice is installed, rendered to PDF. Also what the template scan counts as content.
#include "tests/camera/report_fixture.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <fstream>
#include <optional>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/strings.h"

using namespace office_test;

namespace {

constexpr const char* kTypes = R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)";
constexpr const char* kRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
constexpr const char* kWbRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
constexpr const char* kWb = R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Form" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr const char* kStyles = R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/></font></fonts><borders count="1"><border/></borders><cellXfs count="1"><xf fontId="0" borderId="0"/></cellXfs></styleSheet>)";

std::vector<std::pair<std::string, std::string>> TemplateParts(const std::string& sheet) {
  return {{"[Content_Types].xml", kTypes}, {"_rels/.rels", kRels}, {"xl/_rels/workbook.xml.rels", kWbRels},
          {"xl/workbook.xml", kWb},        {"xl/worksheets/sheet1.xml", sheet}, {"xl/styles.xml", kStyles}};
}

// Runs a Python script on the file; its standard output, or nullopt when python3 with openpyxl
// is not there.
std::optional<std::string> RunOpenpyxl(const std::string& script, const std::string& file) {
  // The system's interpreter: the distribution's openpyxl belongs to it.
  QString python = QStringLiteral("/usr/bin/python3");
  if (!QFileInfo(python).isExecutable()) python = QStandardPaths::findExecutable("python3");
  if (python.isEmpty()) return std::nullopt;
  QProcess p;
  p.start(python, {"-c", QString::fromStdString(script), QString::fromStdString(file)});
  if (!p.waitForFinished(60000)) return std::nullopt;
  const std::string err = p.readAllStandardError().toStdString();
  if (err.find("No module named 'openpyxl'") != std::string::npos) return std::nullopt;
  EXPECT_EQ(p.exitCode(), 0) << err;
  return p.readAllStandardOutput().toStdString();
}

class PrintReportTest : public ReportTest {};

}  // namespace

TEST_F(PrintReportTest, PictureKeepsTheFrameShapeAndTheSheetPrintsOnePageWide) {
  Still(640, 480);  // 4:3
  AddEveryKind();
  Add(264, {{1, 1}, {9, 9}});
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const std::string file = ToUtf8(r.path);

  // The picture: a JPEG of the whole frame, shown at its shape inside 580 x 500 points.
  Parts parts = Read(r);
  Xml drawing(parts["xl/drawings/drawing1.xml"].c_str());
  const pugi::xml_node ext = drawing.One("/xdr:wsDr/xdr:oneCellAnchor/xdr:ext");
  const double cx = ext.attribute("cx").as_double() / 12700, cy = ext.attribute("cy").as_double() / 12700;
  EXPECT_NEAR(cx, 580, 0.01);
  EXPECT_NEAR(cx / cy, 640.0 / 480.0, 0.001);
  const std::string& jpeg = parts["xl/media/q7v_image1.jpeg"];
  ASSERT_FALSE(jpeg.empty());
  const cv::Mat decoded = cv::imdecode(std::vector<char>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
  EXPECT_EQ(decoded.cols, 640);
  EXPECT_EQ(decoded.rows, 480);
  EXPECT_NE(parts["[Content_Types].xml"].find("image/jpeg"), std::string::npos);

  // Page setup and column widths as a spreadsheet reader sees them.
  const auto out = RunOpenpyxl(R"(
import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
ps = ws.page_setup
print(ps.orientation, ps.fitToWidth, ps.fitToHeight, ws.sheet_properties.pageSetUpPr.fitToPage, ps.paperSize)
print(ws.column_dimensions['B'].width)
print(sum(ws.column_dimensions[c].width for c in 'ABCDEFGHIJKL'))
print(max(len(str(ws.cell(row=r, column=2).value or '')) for r in range(1, ws.max_row + 1)))
)",
                               file);
  if (!out) GTEST_SKIP() << "python3 with openpyxl is not installed";
  std::istringstream in(*out);
  std::string orientation, fitToPage;
  int fitW = -1, fitH = -1, paper = 0;
  double widthB = 0, widthAll = 0;
  int longestLabel = 0;
  in >> orientation >> fitW >> fitH >> fitToPage >> paper >> widthB >> widthAll >> longestLabel;
  EXPECT_EQ(orientation, "landscape");  // a wide picture
  EXPECT_EQ(fitW, 1);
  EXPECT_EQ(fitH, 0);
  EXPECT_EQ(fitToPage, "True");
  EXPECT_EQ(paper, 9);
  EXPECT_GE(widthB, longestLabel + 1.0);
  EXPECT_GT(longestLabel, 8);  // the longest kind label would be cut at the default width
  // A to L hold the picture and its 35-point margin (about 5.25 points a character).
  EXPECT_GE(widthAll * 5.25, 35 + 580);
}

TEST_F(PrintReportTest, ATallFramePrintsUpright) {
  Still(300, 600);
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Parts parts = Read(r);
  Xml sheet(parts["xl/worksheets/sheet1.xml"].c_str());
  EXPECT_STREQ(sheet.One("/worksheet/pageSetup").attribute("orientation").value(), "portrait");
  Xml drawing(parts["xl/drawings/drawing1.xml"].c_str());
  const pugi::xml_node ext = drawing.One("/xdr:wsDr/xdr:oneCellAnchor/xdr:ext");
  EXPECT_NEAR(ext.attribute("cy").as_double() / 12700, 500, 0.01);
  EXPECT_NEAR(ext.attribute("cx").as_double() / 12700, 250, 0.01);
}

// A formula whose result was never stored (as a generator writes it) is content: the report
// starts below it instead of writing over it.
TEST_F(PrintReportTest, AFormulaCellWithoutResultIsNotEmpty) {
  Still(32, 32);
  settings.useTemplate = true;
  settings.excelTemplate = Template(
      "formula.xltx",
      TemplateParts(R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="10"><c r="C10"><f>SUM(A1:A9)</f></c></row></sheetData></worksheet>)"));
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Parts parts = Read(r);
  Xml sheet(parts["xl/worksheets/sheet1.xml"].c_str());
  EXPECT_STREQ(Cell(sheet, "C10").child("f").text().get(), "SUM(A1:A9)");
  EXPECT_EQ(InlineText(Cell(sheet, "A12")), "Inspection 测量 µm²");
}

TEST_F(PrintReportTest, AnOldFormatTemplateIsNamedAsSuch) {
  Still(32, 32);
  const std::filesystem::path old = Path() / "form.xls";
  { std::ofstream(old) << "\xD0\xCF\x11\xE0 an old binary workbook"; }
  settings.useTemplate = true;
  settings.excelTemplate = FromUtf8(old.string());
  Apply();
  const auto r = camera->ExportExcelReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::TemplateBroken);
  EXPECT_NE(r.message.find(LoadStringW(63051)), WString::npos) << ToUtf8(r.message);
  EXPECT_EQ(FilesUnder(Captures()), 0);
}

// LibreOffice, when installed, prints the sheet: the title, the picture and the first columns
// land on the first page, one page wide.
TEST_F(PrintReportTest, RendersOnOnePageWideWithLibreOffice) {
  const QString office = QStandardPaths::findExecutable("soffice");
  if (office.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
  Still(640, 480);
  AddEveryKind();
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const std::filesystem::path outDir = Path() / "pdf";
  std::filesystem::create_directories(outDir);
  QProcess p;
  p.setProcessEnvironment([&] {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(Path().string()));
    return env;
  }());
  p.start(office, {"--headless", "--convert-to", "pdf", "--outdir", QString::fromStdString(outDir.string()),
                   QString::fromStdU16String(r.path)});
  ASSERT_TRUE(p.waitForFinished(180000));
  const std::filesystem::path pdf = outDir / (std::filesystem::path(ToUtf8(r.path)).stem().string() + ".pdf");
  ASSERT_TRUE(std::filesystem::exists(pdf));
  std::ifstream in(pdf, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // One page: six report rows and the picture fit on it once the sheet is one page wide.
  std::size_t pages = 0;
  for (std::size_t at = bytes.find("/Type /Page"); at != std::string::npos; at = bytes.find("/Type /Page", at + 1))
    pages += bytes.compare(at, 12, "/Type /Pages") != 0;
  EXPECT_EQ(pages, 1u);
}

// The report's picture is the saved image's: the frame with the measurements drawn in (only
// the JPEG's small losses apart).
TEST_F(PrintReportTest, ThePictureShowsTheMeasurementsAsTheSavedImageDoes) {
  Still(320, 240);
  AddEveryKind();
  Apply();
  ASSERT_EQ(camera->SaveImageBmp(FromUtf8((Path() / "saved").string())), 1);
  const cv::Mat saved = cv::imread((Path() / "saved.bmp").string(), cv::IMREAD_COLOR);
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Parts parts = Read(r);
  const std::string& jpeg = parts["xl/media/q7v_image1.jpeg"];
  const cv::Mat shown = cv::imdecode(std::vector<char>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
  ASSERT_EQ(shown.size(), saved.size());
  // Where the saved image has drawing on the grey frame, the report's picture has it too.
  const cv::Mat grey(saved.size(), saved.type(), cv::Scalar(128, 128, 128));
  cv::Mat drawn;
  cv::cvtColor(cv::abs(saved - grey) + cv::abs(grey - saved), drawn, cv::COLOR_BGR2GRAY);
  const cv::Mat mask = drawn > 40;
  ASSERT_GT(cv::countNonZero(mask), 200);
  const double drawing = cv::norm(saved, grey, cv::NORM_L1, mask);
  // Thin coloured lines lose much in a JPEG: the saved image through the same encoder is the
  // measure.
  std::vector<std::uint8_t> again;
  ASSERT_TRUE(cv::imencode(".jpg", saved, again, {cv::IMWRITE_JPEG_QUALITY, 95}));
  const cv::Mat expected = cv::imdecode(again, cv::IMREAD_COLOR);
  EXPECT_LT(cv::norm(expected, shown, cv::NORM_L1, mask), 0.02 * drawing);
  EXPECT_GT(cv::norm(grey, shown, cv::NORM_L1, mask), 0.5 * drawing);
}
