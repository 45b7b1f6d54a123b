// How the reports print: the picture at the frame's own shape, one page wide, column B wide
// enough for its labels, read back by an independent reader (openpyxl); both reports printed by
// LibreOffice and the pages looked at. Also what the template scan counts as content.
#include "res/StringIds.h"
#include "tests/camera/report_fixture.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstring>
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

  // The picture: a JPEG of the whole frame, shown at its shape.
  Parts parts = Read(r);
  Xml drawing(parts["xl/drawings/drawing1.xml"].c_str());
  const pugi::xml_node ext = drawing.One("/xdr:wsDr/xdr:oneCellAnchor/xdr:ext");
  const double cx = ext.attribute("cx").as_double() / 12700, cy = ext.attribute("cy").as_double() / 12700;
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
  ASSERT_TRUE(out) << "python3 with openpyxl is not installed (scripts/deps.sh installs it)";
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
  EXPECT_GE(widthAll * 5.25, 35 + cx);
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
  EXPECT_NE(r.message.find(LoadStringW(sid::kOldFormatTemplatesDocDot)), WString::npos) << ToUtf8(r.message);
  EXPECT_EQ(FilesUnder(Captures()), 0);
}

// ---- printed by LibreOffice, read back with poppler

namespace {

// The report converted to PDF by LibreOffice (its own profile in the test's folder, so that
// tests running side by side do not share one), its pages counted by pdfinfo and rendered by
// pdftoppm.
class Printed {
 public:
  Printed(const std::filesystem::path& work, const WString& report) : work_(work) {
    const QString office = QStandardPaths::findExecutable("soffice");
    if (office.isEmpty()) {
      ADD_FAILURE() << "LibreOffice is not installed (scripts/deps.sh installs it)";
      return;
    }
    const std::filesystem::path out = work / "pdf";
    std::filesystem::create_directories(out);
    const QString profile = QUrl::fromLocalFile(QString::fromStdString((work / "lo-profile").string())).toString();
    const std::string text = Run(office, {"-env:UserInstallation=" + profile, "--headless", "--norestore",
                                          "--convert-to", "pdf", "--outdir", QString::fromStdString(out.string()),
                                          QString::fromStdU16String(report)});
    pdf_ = out / (std::filesystem::path(ToUtf8(report)).stem().string() + ".pdf");
    EXPECT_TRUE(std::filesystem::exists(pdf_)) << text;
  }
  bool ok() const { return std::filesystem::exists(pdf_); }

  int Pages() const {
    const std::string info = Run("pdfinfo", {QString::fromStdString(pdf_.string())});
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? 0 : std::atoi(info.c_str() + at + 6);
  }
  // Page n (from 1) at `dpi`, lines drawn without smoothing so that a thin border is a line of
  // dark pixels.
  cv::Mat Page(int n, int dpi = 72) const {
    const std::filesystem::path prefix = work_ / ("page" + std::to_string(n));
    Run("pdftoppm", {"-f", QString::number(n), "-l", QString::number(n), "-r", QString::number(dpi), "-aaVector", "no",
                     "-png", "-singlefile", QString::fromStdString(pdf_.string()), QString::fromStdString(prefix.string())});
    return cv::imread(prefix.string() + ".png", cv::IMREAD_COLOR);
  }

 private:
  std::string Run(const QString& program, const QStringList& args) const {
    QProcess p;
    p.setProcessEnvironment([this] {
      // Nothing of the user's: the office suite's caches go to the test's folder too.
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("HOME", QString::fromStdString(work_.string()));
      env.remove("SESSION_MANAGER");
      return env;
    }());
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(240000)) << program.toStdString() << " did not finish";
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString();
  }
  std::filesystem::path work_, pdf_;
};

// Where the picture lies on a rendered page: the box of its strongly coloured pixels (the
// printed text and lines are black or grey), empty when there are none.
cv::Rect PictureBox(const cv::Mat& page) {
  std::vector<cv::Mat> c;
  cv::split(page, c);
  cv::Mat hi, lo;
  cv::max(c[0], c[1], hi);
  cv::max(hi, c[2], hi);
  cv::min(c[0], c[1], lo);
  cv::min(lo, c[2], lo);
  const cv::Mat coloured = (hi - lo) > 120;
  std::vector<cv::Point> points;
  cv::findNonZero(coloured, points);
  return points.size() < 20 ? cv::Rect() : cv::boundingRect(points);
}

// The mean colour of the box's rows [from, to) as fractions of its height.
cv::Scalar BandColour(const cv::Mat& page, const cv::Rect& box, double from, double to) {
  const int y0 = box.y + int(box.height * from), y1 = box.y + int(box.height * to);
  return cv::mean(page(cv::Rect(box.x + box.width / 10, y0, box.width * 8 / 10, std::max(1, y1 - y0))));
}

}  // namespace

// A frame of three bands, blue at the top, red in the middle, green at the bottom: a printed
// picture cut at a page's end loses its green.
class PrintedReportTest : public PrintReportTest {
 protected:
  void Bands(int w, int h) {
    Still(w, h);
    const FrameView frame = camera->ViewFrame();
    ASSERT_TRUE(frame);
    std::uint8_t* px = frame.Data();
    for (int y = 0; y < h; ++y) {  // y from the top; the buffer's rows are bottom-up
      const cv::Vec3b bgr = y < h / 4 ? cv::Vec3b(230, 40, 30) : y < h * 3 / 4 ? cv::Vec3b(30, 40, 230) : cv::Vec3b(30, 200, 40);
      for (int x = 0; x < w; ++x) std::memcpy(px + (std::size_t(h - 1 - y) * w + x) * 3, &bgr, 3);
    }
  }
  // The whole picture on `page`, at the frame's shape, the right way up.
  void ExpectWholePicture(const cv::Mat& page, double aspect) {
    ASSERT_FALSE(page.empty());
    const cv::Rect box = PictureBox(page);
    ASSERT_GT(box.area(), 0) << "no picture on the page";
    EXPECT_NEAR(double(box.width) / box.height, aspect, 0.04 * aspect) << box.width << " x " << box.height;
    const cv::Scalar top = BandColour(page, box, 0.02, 0.2), mid = BandColour(page, box, 0.4, 0.6),
                     bottom = BandColour(page, box, 0.8, 0.98);
    EXPECT_GT(top[0], top[2] + 100) << "blue at the top";
    EXPECT_GT(mid[2], mid[0] + 100) << "red in the middle";
    EXPECT_GT(bottom[1], bottom[2] + 100) << "green at the bottom";
  }
};

// Landscape A4 holds the title, the header block and a 4:3 picture whole on the first page;
// the measurements follow on the next ones.
TEST_F(PrintedReportTest, ExcelPrintsTitleHeaderAndPictureWholeOnTheFirstPage) {
  Bands(640, 480);
  for (int i = 0; i < 60; ++i) Add(258, {{10 + i, 10}, {110 + i, 60}});
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const Printed printed(Path(), r.path);
  ASSERT_TRUE(printed.ok());
  const int pages = printed.Pages();
  EXPECT_GE(pages, 2);  // 60 measurement rows do not fit under the picture
  const cv::Mat first = printed.Page(1);
  EXPECT_GT(first.cols, first.rows);  // landscape
  ExpectWholePicture(first, 640.0 / 480.0);
  for (int n = 2; n <= pages; ++n) EXPECT_EQ(PictureBox(printed.Page(n)).area(), 0) << "picture on page " << n;
}

// Without the header block, and upright for a tall frame: the picture fills the height it has.
TEST_F(PrintedReportTest, ExcelPrintsATallPictureWholeOnAnUprightPage) {
  Bands(300, 600);
  settings.printHeader = false;
  AddEveryKind();
  Apply();
  const auto r = camera->ExportExcelReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const Printed printed(Path(), r.path);
  ASSERT_TRUE(printed.ok());
  EXPECT_EQ(printed.Pages(), 1);
  const cv::Mat first = printed.Page(1);
  EXPECT_LT(first.cols, first.rows);
  ExpectWholePicture(first, 0.5);
}

// The Word report: title, the 4 x 6 header table and the picture whole on the first page, and
// the picture starts below the table's bottom border instead of covering it.
TEST_F(PrintedReportTest, WordPrintsThePictureWholeBelowTheWholeHeaderTable) {
  Bands(640, 480);
  AddEveryKind();
  Apply();
  const auto r = camera->ExportWordReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const Printed printed(Path(), r.path);
  ASSERT_TRUE(printed.ok());
  EXPECT_EQ(printed.Pages(), 1);
  const cv::Mat page = printed.Page(1, 100);
  ExpectWholePicture(page, 640.0 / 480.0);
  const cv::Rect box = PictureBox(page);
  ASSERT_GT(box.area(), 0);
  // The table's horizontal lines above the picture: dark across most of the table's width.
  cv::Mat grey;
  cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
  const cv::Mat dark = grey < 128;
  std::vector<int> lines;
  for (int y = 0; y < box.y; ++y) {
    if (cv::countNonZero(dark.row(y)) < page.cols / 2) continue;
    if (lines.empty() || y > lines.back() + 1) lines.push_back(y);
  }
  EXPECT_EQ(lines.size(), 5u) << "the table's top, three lines between its rows and its bottom";
  if (!lines.empty()) {
    EXPECT_LT(lines.back(), box.y - 1);
  }
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

// A tall frame in the Word report: the picture shrinks to the height left under the title and
// the header table, instead of moving whole to the second page.
TEST_F(PrintedReportTest, WordPrintsATallPictureWholeOnTheFirstPage) {
  Bands(600, 1200);  // at its natural size taller than the page's text area
  AddEveryKind();
  Apply();
  const auto r = camera->ExportWordReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  const Printed printed(Path(), r.path);
  ASSERT_TRUE(printed.ok());
  ExpectWholePicture(printed.Page(1), 0.5);
  for (int n = 2; n <= printed.Pages(); ++n) EXPECT_EQ(PictureBox(printed.Page(n)).area(), 0) << "picture on page " << n;
}
