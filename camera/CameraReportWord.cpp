// The Word report: title, header table, picture, scale line and one paragraph per measurement,
// in a .docx made on the template when one is set.
#include <algorithm>
#include <cmath>

#include "camera/CameraReport.h"
#include "platform/office/DocxDocument.h"
#include "platform/strings.h"
#include "res/StringIds.h"

using namespace camera_report;
using office::DocxRun;
using office::HAlign;

CCameraProcess::ReportResult camera_report::BuildWord(ReportData& data, const std::atomic_bool* cancel) {
  office::DocxDocument doc;
  const CCameraProcess::ReportResult loaded = LoadTemplateThenEncode(
      ReportKind::Word, [&](const auto& file) { return doc.LoadTemplate(file); }, &data);
  if (!loaded.ok()) return loaded;
  const stReportSetting& s = data.settings;
  // With a template path set (found or not) two paragraph breaks come before the title: the
  // first ends the document's last paragraph, when it has one.
  if (s.useTemplate && !s.wordTemplate.empty()) {
    for (int n = doc.EndsWithParagraph() ? 1 : 2; n > 0; --n) doc.AddParagraph(HAlign::Left, {});
  }

  const DocxRun title{ToUtf8(s.headers[0]), true, 25.0};
  // The picture on the first page with the title and the header table: no taller than the text
  // area less what stands above it (lines a little higher than their fonts, for any face).
  const bool typed = s.useTemplate && !s.wordTemplate.empty();
  const double abovePt = 25 * 1.5 + (s.printHeader ? 4 * 10.5 * 1.7 : 0) + (typed ? 2 * 10.5 * 1.5 : 0) + 6 + 12;
  const office::DocxPicture picture = doc.AddPng(std::move(data.encoded), data.width, data.height,
                                                 std::max<std::int64_t>(doc.TextHeightEmu() / 4,
                                                                        doc.TextHeightEmu() - std::llround(abovePt * 12700)));
  if (s.printHeader) {
    doc.AddParagraph(HAlign::Center, {title});
    std::vector<std::vector<std::string>> cells(4);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 6; ++c) cells[std::size_t(r)].push_back(ToUtf8(s.headers[std::size_t(r * 6 + c + 1)]));
    doc.AddTable(cells, HAlign::Center, {{}, false, 10.5});
    // The paragraph after the table is split off the title's and keeps its centring.
    doc.AddParagraph(HAlign::Center, {}, &picture);
  } else {
    // Without the table the picture follows the title in its own paragraph.
    doc.AddParagraph(HAlign::Center, {title}, &picture);
  }

  // The title's bold is still in force here unless the table's cells reset it.
  const std::string data0 = ToUtf8(LoadStringW(sid::kMeasuringData) + u"          " + data.scaleText);
  doc.AddParagraph(HAlign::Left, {{data0, !s.printHeader, 10.5}});
  for (const WString& line : data.lines) doc.AddParagraph(HAlign::Left, {{ToUtf8(line), false, 10.5}});
  doc.AddParagraph(HAlign::Left, {});  // the break typed after the last line

  return Write(data.folder, ReportKind::Word,
               [&](const std::filesystem::path& file) { return doc.Save(file, true); }, cancel);
}
