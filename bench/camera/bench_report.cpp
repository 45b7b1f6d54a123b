// The reports, headless: a 20-megapixel frame with 1000 measurements written as Word and Excel
// reports, both halves (time per report), with the user-interface half alone as a counter (what
// the window waits for before the wait box's event loop turns again); and the Excel template
// load of a large template (time, and the growth of the peak resident memory).
#include <QGuiApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "camera/CameraProcess.h"
#include "camera/CameraReport.h"
#include "camera/CameraSettings.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/office/XlsxWorkbook.h"
#include "platform/office/ZipPackage.h"
#include "bench/camera/bench_main.h"

namespace {

class NoCapture : public IMouseCapture {
 public:
  void SetCapture() override {}
  void ReleaseCapture() override {}
};

class ReportView : public ICameraView {
 public:
  explicit ReportView(int count) {
    mm.SetNotifyTarget(&capture, nullptr);
    for (int i = 0; i < count; ++i) {
      MEASUREBASE rec;
      rec.m_nKind = i % 3 == 0 ? 263 : 258;
      rec.m_arrPoint = {{(i * 5) % 5000 + 10, (i * 3) % 3400 + 10}, {(i * 5) % 5000 + 300, (i * 3) % 3400 + 200}};
      rec.m_nPointCount = 2;
      mm.AddMeasure(rec);
    }
  }
  CMeasureManager* MeasureManager() override { return &mm; }
  NoCapture capture;
  CMeasureManager mm;
};

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void BM_Report20MP(benchmark::State& state) {
  const bool word = state.range(0) == 1;
  QTemporaryDir dir;
  CCameraProcess camera;
  ReportView view(1000);
  camera.SetView(&view);
  const int w = 5472, h = 3648;
  {
    const FrameView frame = camera.NewFrame(MakeFrameFormat(w, h));
    CAMSDK_REQUIRE(bool(frame));
    std::uint8_t* px = frame.Data();
    // A picture with texture (a flat one would flatter the encoder).
    for (std::size_t i = 0, n = std::size_t(w) * h * 3; i < n; ++i) px[i] = std::uint8_t((i * 2654435761u) >> 13);
  }
  stCaptureSetting capture;
  camera.GetCaptureSetting(&capture);
  capture.imageFolder = (dir.path() + "/reports").toStdU16String();
  camera.SetCaptureSetting(capture);
  SetReportOpener([](const QString&) { return true; });
  double uiHalf = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    CCameraProcess::ReportResult failed;
    const CCameraProcess::ReportJob job = camera.BeginReport(word, &failed, nullptr);
    uiHalf += Ms(t0);
    if (!job) {
      state.SkipWithError("no report");
      break;
    }
    const auto r = camera.FinishReport(word, job());
    if (!r.ok()) state.SkipWithError("report failed");
  }
  SetReportOpener(nullptr);
  camera.SetView(nullptr);
  state.counters["ui_half_ms"] = uiHalf / double(state.iterations());
}
BENCHMARK(BM_Report20MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// A template whose sheet has `rows` rows of five cells.
std::filesystem::path LargeTemplate(const QTemporaryDir& dir, int rows) {
  std::string sheet =
      R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (int r = 1; r <= rows; ++r) {
    sheet += "<row r=\"" + std::to_string(r) + "\">";
    for (int c = 0; c < 5; ++c)
      sheet += "<c r=\"" + office::CellRef(r, c + 1) + "\"><v>" + std::to_string(r * 5 + c) + "</v></c>";
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  office::ZipPackage pkg;
  pkg.Put("[Content_Types].xml", R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)");
  pkg.Put("_rels/.rels", R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)");
  pkg.Put("xl/_rels/workbook.xml.rels", R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)");
  pkg.Put("xl/workbook.xml", R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Form" sheetId="1" r:id="rId1"/></sheets></workbook>)");
  pkg.Put("xl/worksheets/sheet1.xml", std::move(sheet));
  pkg.Put("xl/styles.xml", R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/></font></fonts><borders count="1"><border/></borders><cellXfs count="1"><xf fontId="0" borderId="0"/></cellXfs></styleSheet>)");
  const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "large.xltx";
  pkg.SaveFile(file, false);
  return file;
}

// Run alone (--benchmark_filter=LargeTemplate/N): the peak memory is the process's.
void BM_LargeTemplate(benchmark::State& state) {
  QTemporaryDir dir;
  const std::filesystem::path file = LargeTemplate(dir, int(state.range(0)));
  const long before = PeakRssKb();
  for (auto _ : state) {
    office::XlsxWorkbook book;
    if (!book.LoadTemplate(file).ok()) state.SkipWithError("template refused");
    benchmark::DoNotOptimize(book.CellText(1000, 5));
  }
  state.counters["peak_rss_growth_mb"] = double(PeakRssKb() - before) / 1024.0;
  state.counters["rows"] = double(state.range(0));
}
BENCHMARK(BM_LargeTemplate)->Arg(20000)->Arg(100000)->Arg(720000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The same with a cell written below the scanned rows and the workbook saved, as the report does.
void BM_LargeTemplateSaved(benchmark::State& state) {
  QTemporaryDir dir;
  const std::filesystem::path file = LargeTemplate(dir, int(state.range(0)));
  const std::filesystem::path out = std::filesystem::path(dir.path().toStdString()) / "out.xlsx";
  const long before = PeakRssKb();
  for (auto _ : state) {
    office::XlsxWorkbook book;
    if (!book.LoadTemplate(file).ok()) state.SkipWithError("template refused");
    benchmark::DoNotOptimize(book.CellText(1000, 5));
    book.SetText(1040, 1, "Report");
    if (!book.Save(out, false).ok()) state.SkipWithError("not saved");
  }
  state.counters["peak_rss_growth_mb"] = double(PeakRssKb() - before) / 1024.0;
  state.counters["rows"] = double(state.range(0));
}
BENCHMARK(BM_LargeTemplateSaved)->Arg(20000)->Arg(100000)->Arg(720000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return bench::RunCameraBenchmarks(argc, argv); }
