// The Excel report: one worksheet laid out in columns A to L below the template's content (start
// row s): title, header block, picture over a merged block, scale line, one row per measurement.
#include <algorithm>
#include <cmath>

#include "camera/CameraReport.h"
#include "platform/office/XlsxWorkbook.h"
#include "platform/strings.h"

using namespace camera_report;
using ReportResult = CCameraProcess::ReportResult;
using office::CellRange;
using office::HAlign;
using office::VAlign;

namespace {

constexpr std::int64_t kEmuPerPoint = 12700;

// Where the template's content ends: the row before the first run of 51 empty rows among rows 1
// to 1000 (columns 1 to 50 read), or 1000.
int TemplateStartRow(const office::XlsxWorkbook& book) {
  int emptyRows = 0;
  for (int r = 1; r <= 1000; ++r) {
    bool content = false;
    // A formula is content even when no result of it is stored.
    for (int c = 1; c <= 50 && !content; ++c) content = !book.CellText(r, c).empty() || book.CellHasFormula(r, c);
    if (content) {
      emptyRows = 0;
    } else if (++emptyRows > 50) {
      return r - 50;
    }
  }
  return 1000;
}

// The width in characters that shows `text` whole in the default font (wide characters count two).
double TextWidthChars(const WString& text) {
  double n = 0;
  for (char16_t ch : text) n += ch >= 0x2E80 ? 2.0 : 1.0;
  return n;
}

}  // namespace

CCameraProcess::ReportResult camera_report::BuildExcel(ReportData& data, const std::atomic_bool* cancel) {
  office::XlsxWorkbook book;
  const ReportResult loaded = LoadTemplateThenEncode(
      ReportKind::Excel, [&](const auto& file) { return book.LoadTemplate(file); }, &data);
  if (!loaded.ok()) return loaded;
  const stReportSetting& set = data.settings;
  book.SetSheetName(ToUtf8(LoadStringW(60010)));
  const int s = set.useTemplate && !set.excelTemplate.empty() ? TemplateStartRow(book) : 0;

  // Without the header block its four rows are gone and everything below sits four rows higher.
  const int shift = set.printHeader ? 4 : 0;
  const int titleRow = s + 1;
  const int blockFirst = s + 2 + shift, blockLast = s + 30 + shift;
  const int dataRow = s + 31 + shift;

  for (int r = titleRow; r <= blockLast; ++r) book.SetRowHeight(r, 18);
  book.SetBold({titleRow, 1, titleRow, 1}, true);
  book.SetBold({dataRow, 1, dataRow, 1}, true);
  book.Merge({blockFirst, 1, blockLast, 12});
  book.Merge({titleRow, 1, titleRow, 12});
  book.SetRowHeight(titleRow, 80);
  book.SetFontSize({titleRow, 1, titleRow, 12}, 40);
  // From row 1: the template's own rows above the report are centred and framed with it.
  book.SetAlignment({1, 1, blockLast, 12}, HAlign::Center, VAlign::Center);
  book.BorderAround({1, 1, blockLast, 12});

  book.SetText(titleRow, 1, ToUtf8(set.headers[0]));
  book.SetText(dataRow, 1, ToUtf8(LoadStringW(60007)));
  book.SetText(dataRow, 3, ToUtf8(data.scaleText));

  // Inside 580 x 500 points at the frame's own shape (a stretched picture turns circles into
  // ellipses), 35 points from the left and 10 points into the merged block.
  const double scale = std::min(580.0 / std::max(1, data.width), 500.0 / std::max(1, data.height));
  const double picW = std::max(1.0, data.width * scale), picH = std::max(1.0, data.height * scale);
  book.PlacePng(std::move(data.encoded), blockFirst, 1, 10 * kEmuPerPoint, 35 * kEmuPerPoint,
                std::llround(picW * kEmuPerPoint), std::llround(picH * kEmuPerPoint));

  double labelWidth = 0;
  for (std::size_t i = 0; i < data.lines.size(); ++i) {
    const int row = dataRow + 1 + int(i);
    if (row > office::kMaxRows) break;
    book.SetNumber(row, 1, double(i));  // the index as the sheet reads a typed number
    if (!data.labels[i].empty()) book.SetText(row, 2, ToUtf8(data.labels[i]));
    if (!data.lines[i].empty()) book.SetText(row, 3, ToUtf8(data.lines[i]));
    labelWidth = std::max(labelWidth, TextWidthChars(data.labels[i]));
  }

  if (set.printHeader) {
    for (int k = 0; k < 4; ++k) {
      for (int j = 0; j < 6; ++j) {
        const CellRange field{s + 2 + k, 1 + 2 * j, s + 2 + k, 2 + 2 * j};
        book.Merge(field);
        book.SetText(field.row1, field.col1, ToUtf8(set.headers[std::size_t(1 + 6 * k + j)]));
        book.BorderAround(field);
      }
    }
  } else {
    book.BorderAround({titleRow, 1, titleRow, 12});
  }

  // Column B as wide as its longest label; columns A to L together at least as wide as the
  // picture and its left margin, so the frame around the block holds it.
  constexpr double kDefaultWidth = 8.43, kPointsPerChar = 5.25;  // 7 px a character at 96 dpi
  const double widthB = std::max(kDefaultWidth, labelWidth + 2);
  const double needed = (35 + picW + 10) / kPointsPerChar;  // characters across A to L
  const double others = std::max(kDefaultWidth, (needed - widthB) / 11.0);
  for (int c = 1; c <= 12; ++c) book.SetColumnWidth(c, c == 2 ? widthB : others);
  // One page wide, as many down as the measurements need; a wide picture prints across the page.
  book.SetPageSetup(picW > picH, 1, 0);

  return Write(data.folder, ReportKind::Excel,
               [&](const std::filesystem::path& file) { return book.Save(file, true); }, cancel);
}
