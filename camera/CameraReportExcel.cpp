// The Excel report: one worksheet laid out in columns A to L below the template's content (start
// row s): title, header block, picture over a merged block, scale line, one row per measurement.
#include <algorithm>
#include <cmath>

#include "camera/CameraReport.h"
#include "platform/office/XlsxWorkbook.h"
#include "platform/strings.h"
#include "res/StringIds.h"

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
  book.SetSheetName(ToUtf8(LoadStringW(sid::kMeasuringRecord)));
  const int s = set.useTemplate && !set.excelTemplate.empty() ? TemplateStartRow(book) : 0;

  // Without the header block its four rows are gone and everything below sits four rows higher.
  const int shift = set.printHeader ? 4 : 0;
  const int titleRow = s + 1;
  const int blockFirst = s + 2 + shift, blockLast = s + 30 + shift;
  const int dataRow = s + 31 + shift;

  // The title, the header block and the picture print on one page: the picture is as large as
  // 580 x 500 points and the page's height below the rows above it allow, at the frame's own shape
  // (a stretched picture turns circles into ellipses). A wide picture prints across the page.
  const bool landscape = data.width > data.height;
  book.SetPageSetup(landscape, 1, 0);  // one page wide, as many down as the measurements need
  const office::XlsxWorkbook::PageArea page = book.PrintableArea(landscape);
  constexpr double kTitle = 80, kHeaderRow = 18, kGap = 10, kLeft = 35;
  constexpr double kSlack = 8;  // what readers round row heights and margins by
  const double fixed = kTitle + (set.printHeader ? 4 * kHeaderRow : 0) + 2 * kGap + kSlack;
  double above = 0;  // the template's rows over the report
  for (int r = 1; r <= s; ++r) above += book.RowHeightPt(r);
  // A template that fills most of the page: the report starts on a page of its own.
  if (s > 0 && page.height - above - fixed < page.height / 3) {
    book.AddPageBreakBefore(titleRow);
    above = 0;
  }
  const double maxW = std::clamp(page.width - kLeft - kGap, 1.0, 580.0);
  const double maxH = std::clamp(page.height - above - fixed, 1.0, 500.0);
  const double scale = std::min(maxW / std::max(1, data.width), maxH / std::max(1, data.height));
  const double picW = std::max(1.0, data.width * scale), picH = std::max(1.0, data.height * scale);

  for (int r = titleRow; r < blockFirst; ++r) book.SetRowHeight(r, kHeaderRow);
  // The merged block under the picture is as tall as the picture and its gaps.
  const double blockRow = (picH + 2 * kGap) / (blockLast - blockFirst + 1);
  for (int r = blockFirst; r <= blockLast; ++r) book.SetRowHeight(r, blockRow);
  book.SetBold({titleRow, 1, titleRow, 1}, true);
  book.SetBold({dataRow, 1, dataRow, 1}, true);
  book.Merge({blockFirst, 1, blockLast, 12});
  book.Merge({titleRow, 1, titleRow, 12});
  book.SetRowHeight(titleRow, kTitle);
  book.SetFontSize({titleRow, 1, titleRow, 12}, 40);
  // From row 1: the template's own rows above the report are centred and framed with it.
  book.SetAlignment({1, 1, blockLast, 12}, HAlign::Center, VAlign::Center);
  book.BorderAround({1, 1, blockLast, 12});

  book.SetText(titleRow, 1, ToUtf8(set.headers[0]));
  book.SetText(dataRow, 1, ToUtf8(LoadStringW(sid::kMeasuringData)));
  book.SetText(dataRow, 3, ToUtf8(data.scaleText));

  // 35 points from the left and 10 points into the merged block.
  book.PlacePng(std::move(data.encoded), blockFirst, 1, std::llround(kGap * kEmuPerPoint),
                std::llround(kLeft * kEmuPerPoint), std::llround(picW * kEmuPerPoint), std::llround(picH * kEmuPerPoint));

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
  const double needed = (kLeft + picW + kGap) / kPointsPerChar;  // characters across A to L
  const double others = std::max(kDefaultWidth, (needed - widthB) / 11.0);
  for (int c = 1; c <= 12; ++c) book.SetColumnWidth(c, c == 2 ? widthB : others);

  return Write(data.folder, ReportKind::Excel,
               [&](const std::filesystem::path& file) { return book.Save(file, true); }, cancel);
}
