// The Excel report: one worksheet laid out in columns A to L below the template's content (start
// row s): title, header block, picture over a merged block, scale line, one row per measurement.
#include "camera/CameraReport.h"
#include "platform/office/XlsxWorkbook.h"
#include "platform/strings.h"

using namespace camera_report;
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
    for (int c = 1; c <= 50 && !content; ++c) content = !book.CellText(r, c).empty();
    if (content) {
      emptyRows = 0;
    } else if (++emptyRows > 50) {
      return r - 50;
    }
  }
  return 1000;
}

}  // namespace

CCameraProcess::ReportResult CCameraProcess::ExportExcelReport() {
  office::XlsxWorkbook book;
  ReportData data;
  const ReportResult prepared = Prepare(*this, view_ ? view_->MeasureManager() : nullptr, ReportKind::Excel,
                                        [&](const auto& file) { return book.LoadTemplate(file); }, &data);
  if (!prepared.ok()) return prepared;
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

  // 580 x 500 points, 35 points from the left and 10 points into the merged block.
  book.PlacePng(std::move(data.png), blockFirst, 1, 10 * kEmuPerPoint, 35 * kEmuPerPoint, 580 * kEmuPerPoint,
                500 * kEmuPerPoint);

  for (std::size_t i = 0; i < data.lines.size(); ++i) {
    const int row = dataRow + 1 + int(i);
    if (row > office::kMaxRows) break;
    book.SetNumber(row, 1, double(i));  // the index as the sheet reads a typed number
    if (!data.labels[i].empty()) book.SetText(row, 2, ToUtf8(data.labels[i]));
    if (!data.lines[i].empty()) book.SetText(row, 3, ToUtf8(data.lines[i]));
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

  return Publish(*this, ReportKind::Excel,
                 [&](const std::filesystem::path& file) { return book.Save(file, true); });
}
