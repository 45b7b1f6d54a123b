// Word documents: content, formats and pictures read back from the file; templates kept and
// their content type switched; broken templates refused.
#include <QTemporaryDir>

#include "platform/office/DocxDocument.h"
#include "tests/office/office_reader.h"

using namespace office;
using namespace office_test;

namespace {

const char* kTemplateTypes = R"(<?xml version="1.0" encoding="UTF-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml"/><Override PartName="/word/header1.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml"/></Types>)";
const char* kRootRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
const char* kDocRels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/header" Target="header1.xml"/></Relationships>)";
// Letter paper with 1-inch margins: 6.5 inches of text width. A table of its own, then text.
const char* kTemplateDoc = R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body><w:tbl><w:tr><w:tc><w:p><w:r><w:t>Lab</w:t></w:r></w:p></w:tc></w:tr></w:tbl><w:p><w:r><w:t>Company &amp; Co</w:t></w:r></w:p><w:sectPr><w:headerReference w:type="default" r:id="rId1"/><w:pgSz w:w="12240" w:h="15840"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr></w:body></w:document>)";
const char* kHeader = R"(<w:hdr xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:p><w:r><w:t>Page head</w:t></w:r></w:p></w:hdr>)";

std::vector<std::pair<std::string, std::string>> TemplateParts() {
  return {{"[Content_Types].xml", kTemplateTypes}, {"_rels/.rels", kRootRels}, {"word/document.xml", kTemplateDoc},
          {"word/_rels/document.xml.rels", kDocRels}, {"word/header1.xml", kHeader}};
}

class DocxTest : public ::testing::Test {
 protected:
  std::filesystem::path Path(const char* name) const { return std::filesystem::path(dir.path().toStdString()) / name; }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(DocxTest, BlankDocumentCarriesParagraphsTableAndPicture) {
  DocxDocument doc;
  EXPECT_FALSE(doc.EndsWithParagraph());  // the first paragraph added is the first one
  doc.AddParagraph(HAlign::Center, {{"Title <&> \"x\"", true, 25.0}});
  doc.AddTable({{"h1", "h2", "h3"}, {"h4", "", "h6"}}, HAlign::Center, {{}, false, 10.5});
  // 1200 x 600 pixels at 96 dpi is wider than A4's text area: shrunk to it, shape kept.
  const DocxPicture pic = doc.AddPng("PNGDATA", 1200, 600);
  EXPECT_EQ(pic.cx, doc.TextWidthEmu());
  EXPECT_EQ(pic.cy, pic.cx / 2);
  doc.AddParagraph(HAlign::Left, {{"Data:\ttab\nline", std::nullopt, 10.5}}, &pic);
  ASSERT_TRUE(doc.Save(Path("a.docx"), true).ok());

  Parts parts = ReadZip(Path("a.docx"));
  Xml body(parts["word/document.xml"]);
  auto paras = body.Select("/w:document/w:body/w:p");
  ASSERT_EQ(paras.size(), 2u);
  pugi::xml_node title = paras[0].node();
  EXPECT_EQ(ParagraphText(title), "Title <&> \"x\"");
  EXPECT_STREQ(title.select_node("w:pPr/w:jc").node().attribute("w:val").value(), "center");
  EXPECT_TRUE(title.select_node("w:r/w:rPr/w:b").node());
  EXPECT_STREQ(title.select_node("w:r/w:rPr/w:sz").node().attribute("w:val").value(), "50");

  auto rows = body.Select("/w:document/w:body/w:tbl/w:tr");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].node().select_nodes("w:tc").size(), 3u);
  EXPECT_EQ(ParagraphText(rows[1].node().select_nodes("w:tc")[2].node()), "h6");
  EXPECT_STREQ(body.One("//w:tbl/w:tblPr/w:tblBorders/w:insideV").attribute("w:val").value(), "single");
  pugi::xml_node cellRun = body.One("//w:tc/w:p/w:r");
  EXPECT_STREQ(cellRun.select_node("w:rPr/w:b").node().attribute("w:val").value(), "0");
  EXPECT_STREQ(cellRun.select_node("w:rPr/w:sz").node().attribute("w:val").value(), "21");

  pugi::xml_node last = paras[1].node();
  EXPECT_EQ(ParagraphText(last), "Data:tabline");
  EXPECT_TRUE(last.select_node("w:r/w:tab").node());
  EXPECT_TRUE(last.select_node("w:r/w:br").node());
  EXPECT_FALSE(last.select_node("w:r/w:rPr/w:b").node());  // bold left to the style
  pugi::xml_node extent = last.select_node(".//wp:inline/wp:extent").node();
  EXPECT_EQ(extent.attribute("cx").as_llong(), pic.cx);
  const std::string embed = last.select_node(".//a:blip").node().attribute("r:embed").value();
  const std::string target = RelTarget(parts["word/_rels/document.xml.rels"], embed);
  EXPECT_EQ(parts["word/" + target], "PNGDATA");
  EXPECT_NE(parts["[Content_Types].xml"].find("Extension=\"png\""), std::string::npos);
  // The sections stay after the content.
  EXPECT_STREQ(body.One("/w:document/w:body").last_child().name(), "w:sectPr");
}

TEST_F(DocxTest, TemplateContentHeadersAndPageStayAndTypeBecomesDocument) {
  WriteZip(Path("t.dotx"), TemplateParts());
  DocxDocument doc;
  ASSERT_TRUE(doc.LoadTemplate(Path("t.dotx")).ok());
  EXPECT_TRUE(doc.EndsWithParagraph());
  EXPECT_EQ(doc.TextWidthEmu(), (12240 - 2880) * 635);
  doc.AddParagraph(HAlign::Center, {{"Report", true, 25.0}});
  doc.AddTable({{"x"}}, HAlign::Center, {});
  ASSERT_TRUE(doc.Save(Path("t.docx"), true).ok());

  Parts parts = ReadZip(Path("t.docx"));
  EXPECT_EQ(parts["word/header1.xml"], kHeader);
  Xml types(parts["[Content_Types].xml"]);
  EXPECT_STREQ(types.One("//Override[@PartName='/word/document.xml']").attribute("ContentType").value(),
               "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  Xml body(parts["word/document.xml"]);
  // The template's table is untouched; the report's table is a second one after the report title.
  auto tables = body.Select("/w:document/w:body/w:tbl");
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(ParagraphText(tables[0].node()), "Lab");
  EXPECT_EQ(ParagraphText(tables[1].node()), "x");
  auto paras = body.Select("/w:document/w:body/w:p");
  ASSERT_EQ(paras.size(), 2u);
  EXPECT_EQ(ParagraphText(paras[0].node()), "Company & Co");
  EXPECT_EQ(ParagraphText(paras[1].node()), "Report");
  EXPECT_TRUE(body.One("/w:document/w:body/w:sectPr/w:headerReference"));
}

TEST_F(DocxTest, BrokenTemplatesAreRefusedAndLeaveABlankDocument) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> parts;
    Error expected;
  };
  auto without = [](const char* name) {
    auto p = TemplateParts();
    std::erase_if(p, [&](const auto& e) { return e.first == name; });
    return p;
  };
  auto with = [](const char* name, std::string data) {
    auto p = TemplateParts();
    for (auto& e : p)
      if (e.first == name) e.second = std::move(data);
    return p;
  };
  std::string macro = kTemplateTypes;
  const std::string plain = "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
  macro.replace(macro.find(plain), plain.size(), "application/vnd.ms-word.template.macroEnabledTemplate.main+xml");
  const std::vector<Case> cases = {
      {"no main part", without("word/document.xml"), Error::BrokenPart},
      {"no package rels", without("_rels/.rels"), Error::BrokenPart},
      {"malformed xml", with("word/document.xml", "<w:document xmlns:w=\"x\"><w:body>"), Error::BrokenPart},
      {"no body", with("word/document.xml", "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>"), Error::BrokenPart},
      {"a workbook", with("word/document.xml", "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>"), Error::Unsupported},
      {"macros", with("[Content_Types].xml", macro), Error::Unsupported},
  };
  for (const Case& c : cases) {
    WriteZip(Path("b.dotx"), c.parts);
    DocxDocument doc;
    const Status s = doc.LoadTemplate(Path("b.dotx"));
    EXPECT_EQ(s.error, c.expected) << c.what << ": " << s.detail;
    EXPECT_FALSE(s.detail.empty());
    // Still a usable (blank) document.
    doc.AddParagraph(HAlign::Left, {{"after failure"}});
    EXPECT_TRUE(doc.Save(Path("after.docx"), false).ok()) << c.what;
  }
  DocxDocument doc;
  EXPECT_EQ(doc.LoadTemplate(Path("missing.dotx")).error, Error::NotFound);
  std::filesystem::path notZip = Path("text.dotx");
  FILE* f = std::fopen(notZip.c_str(), "wb");
  std::fputs("just text", f);
  std::fclose(f);
  EXPECT_EQ(doc.LoadTemplate(notZip).error, Error::NotAPackage);
}
