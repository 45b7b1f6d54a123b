// The Word report read back from the .docx: content, order and formats, with and without the
// header table and templates; failures that leave nothing behind.
#include "res/StringIds.h"
#include "tests/camera/report_fixture.h"

#include <fstream>

#include "platform/strings.h"

using namespace office_test;

namespace {

class WordReportTest : public ReportTest {
 protected:
  std::vector<pugi::xml_node> Blocks(const Xml& body) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node n : body.One("/w:document/w:body").children())
      if (std::string_view(n.name()) != "w:sectPr" && n.type() == pugi::node_element) out.push_back(n);
    return out;
  }
  static std::string Jc(pugi::xml_node p) { return p.select_node("w:pPr/w:jc").node().attribute("w:val").value(); }
  static std::string Sz(pugi::xml_node p) { return p.select_node("w:r/w:rPr/w:sz").node().attribute("w:val").value(); }
  static pugi::xml_node Bold(pugi::xml_node p) { return p.select_node("w:r/w:rPr/w:b").node(); }
};

}  // namespace

TEST_F(WordReportTest, TitleTablePictureScaleAndOneParagraphPerMeasurement) {
  Still(1600, 1200);
  AddEveryKind();
  Apply();
  const auto r = camera->ExportWordReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], ToUtf8(r.path));
  EXPECT_EQ(std::filesystem::path(opened[0]).parent_path(), Captures());
  EXPECT_EQ(std::filesystem::path(opened[0]).filename().string().substr(0, 7), "Report_");
  EXPECT_NE(r.message.find(r.path), WString::npos);  // the hint names the file
  EXPECT_EQ(FilesUnder(Temp()), 0);                  // the temporary image is gone

  Parts parts = Read(r);
  Xml body(parts["word/document.xml"]);
  const auto blocks = Blocks(body);
  const int n = view.mm.GetMeasureCount();
  ASSERT_EQ(blocks.size(), std::size_t(5 + n));
  // Title: centred, bold, 25 point, the Chinese and the unit signs intact.
  EXPECT_EQ(ParagraphText(blocks[0]), "Inspection 测量 µm²");
  EXPECT_EQ(Jc(blocks[0]), "center");
  EXPECT_TRUE(Bold(blocks[0]));
  EXPECT_EQ(Sz(blocks[0]), "50");
  // The 4 x 6 header table: headers 1 to 24 row by row, centred, 10.5 point, regular, grid lines.
  ASSERT_STREQ(blocks[1].name(), "w:tbl");
  auto cells = blocks[1].select_nodes("w:tr/w:tc");
  ASSERT_EQ(cells.size(), 24u);
  for (std::size_t i = 0; i < 24; ++i) {
    pugi::xml_node p = cells[i].node().child("w:p");
    EXPECT_EQ(ParagraphText(p), ToUtf8(FormatW(u"H%d", int(i + 1))));
    EXPECT_EQ(Jc(p), "center");
    EXPECT_EQ(Sz(p), "21");
    EXPECT_STREQ(Bold(p).attribute("w:val").value(), "0");
  }
  EXPECT_EQ(blocks[1].select_nodes("w:tr").size(), 4u);
  EXPECT_STREQ(blocks[1].select_node("w:tblPr/w:tblBorders/w:insideH").node().attribute("w:val").value(), "single");
  // The picture: centred, A4 text width (8306 twips) wide at the frame's shape, a JPEG part.
  EXPECT_EQ(Jc(blocks[2]), "center");
  pugi::xml_node extent = blocks[2].select_node(".//wp:extent").node();
  EXPECT_EQ(extent.attribute("cx").as_llong(), 8306LL * 635);
  EXPECT_NEAR(extent.attribute("cy").as_llong(), 8306LL * 635 * 3 / 4, 1);
  const std::string target =
      RelTarget(parts["word/_rels/document.xml.rels"], blocks[2].select_node(".//a:blip").node().attribute("r:embed").value());
  EXPECT_EQ(parts["word/" + target].substr(0, 3), "\xFF\xD8\xFF");
  EXPECT_EQ(std::filesystem::path(target).extension(), ".jpeg");
  // "Measuring Data:", ten blanks, the scale: left, 10.5 point, regular after the table.
  EXPECT_EQ(ParagraphText(blocks[3]), "Measuring Data:          Scale:0.500 µm/px");
  EXPECT_EQ(Jc(blocks[3]), "left");
  EXPECT_EQ(Sz(blocks[3]), "21");
  EXPECT_STREQ(Bold(blocks[3]).attribute("w:val").value(), "0");
  // One paragraph per measurement, the engine's own line with the kind label.
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(ParagraphText(blocks[std::size_t(4 + i)]), ToUtf8(WordLine(i))) << i;
    EXPECT_EQ(Sz(blocks[std::size_t(4 + i)]), WordLine(i).empty() ? "" : "21");
  }
  EXPECT_NE(ToUtf8(WordLine(0)).find("Line"), std::string::npos);
  EXPECT_EQ(ParagraphText(blocks.back()), "");
}

TEST_F(WordReportTest, WithoutHeaderThePictureFollowsTheTitleAndTheDataLineStaysBold) {
  Still(64, 48);
  settings.printHeader = false;
  Apply();
  const auto r = camera->ExportWordReport();
  ASSERT_TRUE(r.ok());
  Xml body(Read(r)["word/document.xml"]);
  const auto blocks = Blocks(body);
  ASSERT_EQ(blocks.size(), 3u);  // title with picture, data line, the last break; no measurements
  EXPECT_FALSE(body.One("//w:tbl"));
  EXPECT_TRUE(blocks[0].select_node(".//wp:inline").node());
  // Small pictures keep their size: 64 pixels at 96 dpi.
  EXPECT_EQ(blocks[0].select_node(".//wp:extent").node().attribute("cx").as_llong(), 64 * 9525);
  pugi::xml_node bold = Bold(blocks[1]);
  ASSERT_TRUE(bold);
  EXPECT_FALSE(bold.attribute("w:val"));
}

TEST_F(WordReportTest, TemplateContentStaysAndTheReportHasItsOwnTable) {
  Still(64, 48);
  const char* types = R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml"/></Types>)";
  const char* rels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
  const char* doc = R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body><w:tbl><w:tr><w:tc><w:p><w:r><w:t>Logo cell</w:t></w:r></w:p></w:tc></w:tr></w:tbl><w:p><w:r><w:t>ACME Lab</w:t></w:r></w:p><w:sectPr/></w:body></w:document>)";
  settings.useTemplate = true;
  settings.wordTemplate = Template("lab.dotx", {{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/document.xml", doc}});
  Apply();
  const auto r = camera->ExportWordReport();
  ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
  Parts parts = Read(r);
  Xml body(parts["word/document.xml"]);
  const auto blocks = Blocks(body);
  ASSERT_GE(blocks.size(), 5u);
  EXPECT_EQ(ParagraphText(blocks[0]), "Logo cell");  // the template's table, untouched
  EXPECT_EQ(blocks[0].select_nodes(".//w:tc").size(), 1u);
  EXPECT_EQ(ParagraphText(blocks[1]), "ACME Lab");
  EXPECT_EQ(ParagraphText(blocks[2]), "");            // the second of the two typed breaks
  EXPECT_EQ(ParagraphText(blocks[3]), "Inspection 测量 µm²");
  EXPECT_EQ(blocks[4].select_nodes("w:tr/w:tc").size(), 24u);  // the header texts in the report's table
  EXPECT_NE(parts["[Content_Types].xml"].find("wordprocessingml.document.main+xml"), std::string::npos);

  // A template path that does not exist: a blank document, yet two empty paragraphs first.
  settings.wordTemplate = FromUtf8((Path() / "gone.dotx").string());
  Apply();
  const auto blank = camera->ExportWordReport();
  ASSERT_TRUE(blank.ok());
  Xml body2(Read(blank)["word/document.xml"]);
  const auto b2 = Blocks(body2);
  EXPECT_EQ(ParagraphText(b2[0]), "");
  EXPECT_EQ(ParagraphText(b2[1]), "");
  EXPECT_EQ(ParagraphText(b2[2]), "Inspection 测量 µm²");
  EXPECT_NE(blank.path, r.path);  // a second report in the same second gets its own name
}

TEST_F(WordReportTest, FailuresNameWhatFailedAndLeaveNothing) {
  Apply();
  auto r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::NoImage);
  EXPECT_EQ(r.message, LoadStringW(sid::kThereNoImageReport));

  Still(32, 32);
  settings.useTemplate = true;
  settings.wordTemplate = Template("broken.dotx", {{"[Content_Types].xml", "<Types"}});
  Apply();
  r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::TemplateBroken);
  EXPECT_NE(r.message.find(settings.wordTemplate), WString::npos);

  settings.useTemplate = false;
  Apply();
  std::ofstream(Captures()) << "a file where the folder should be";
  r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::FolderUnwritable);
  EXPECT_NE(r.message.find(FromUtf8(Captures().string())), WString::npos);
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(FilesUnder(Temp()), 0);
  std::filesystem::remove(Captures());

  // No application for the type: the message of the Part, and the file is kept.
  openerResult = false;
  r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::NotOpened);
  EXPECT_EQ(r.message.substr(0, LoadStringW(sid::kNoWordProcessor).size()), LoadStringW(sid::kNoWordProcessor));
  EXPECT_TRUE(std::filesystem::is_regular_file(ToUtf8(r.path)));
  EXPECT_EQ(FilesUnder(Captures()), 1);
}

// In the Chinese interface a failure is one Chinese sentence naming the file or folder: what
// the template reader or the zip library said goes to the log, not into the message.
TEST_F(WordReportTest, FailuresAreToldInTheInterfaceLanguageOnly) {
  SetUiLanguage(UiLanguage::Chinese);
  Still(32, 32);
  settings.useTemplate = true;
  settings.wordTemplate = Template("broken.dotx", {{"[Content_Types].xml", "<Types"}});
  Apply();
  auto r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::TemplateBroken);
  EXPECT_EQ(r.message, FormatW(LoadStringW(sid::kReportTemplateDamaged, UiLanguage::Chinese), settings.wordTemplate));

  settings.wordTemplate = Template("letter.dotx", {{"word/document.xml", "<w:document/>"}});  // a zip, no Word parts
  Apply();
  r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::TemplateBroken);
  EXPECT_EQ(r.message, FormatW(LoadStringW(sid::kReportTemplateDamaged, UiLanguage::Chinese), settings.wordTemplate));

  { std::ofstream(Path() / "plain.dotx") << "not a zip at all"; }
  settings.wordTemplate = FromUtf8((Path() / "plain.dotx").string());
  Apply();
  r = camera->ExportWordReport();
  EXPECT_EQ(r.message, FormatW(LoadStringW(sid::kReportTemplateNotDocxDotx, UiLanguage::Chinese), settings.wordTemplate));

  settings.useTemplate = false;
  Apply();
  std::ofstream(Captures()) << "a file where the folder should be";
  r = camera->ExportWordReport();
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::FolderUnwritable);
  EXPECT_EQ(r.message, FormatW(LoadStringW(sid::kReportFolderCouldNotCreated, UiLanguage::Chinese), FromUtf8(Captures().string())));
  std::filesystem::remove(Captures());

  // A folder that is there but takes no file of the report's name (the name makes the path
  // longer than the system allows, for any user): the file is named, in Chinese.
  std::filesystem::path deep = Path();
  while (deep.string().size() < 4000) deep /= std::string(200, 'd');
  deep /= std::string(4080 - deep.string().size(), 'e');
  stCaptureSetting capture;
  camera->GetCaptureSetting(&capture);
  capture.imageFolder = FromUtf8(deep.string());
  camera->SetCaptureSetting(capture);
  r = camera->ExportWordReport();
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_EQ(r.status, CCameraProcess::ReportStatus::FolderUnwritable);
  const WString sentence = LoadStringW(sid::kReportCouldNotWrittenDisk, UiLanguage::Chinese);
  EXPECT_EQ(r.message.substr(0, sentence.find(u"%s")), sentence.substr(0, sentence.find(u"%s"))) << ToUtf8(r.message);
  EXPECT_NE(r.message.find(capture.imageFolder + u"/Report_"), WString::npos);
  SetUiLanguage(UiLanguage::English);
}
