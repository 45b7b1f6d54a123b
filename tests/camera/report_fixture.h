#pragma once
// Shared pieces of the report tests: a camera object with a still frame and measurements, the
// capture folder and the temporary folder in the test's own folder, an opener that records
// instead of launching, and the written report read back.
#include <QByteArray>

#include "camera/CameraReport.h"
#include "tests/camera/camera_support.h"
#include "tests/office/office_reader.h"

class ReportTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    camera->SetView(&view);
    oldTmp = qgetenv("TMPDIR");
    std::filesystem::create_directories(Temp());
    qputenv("TMPDIR", QByteArray::fromStdString(Temp().string()));
    SetReportOpener([this](const QString& p) {
      opened.push_back(p.toStdString());
      return openerResult;
    });
    stCaptureSetting capture;
    camera->GetCaptureSetting(&capture);
    capture.imageFolder = FromUtf8(Captures().string());
    camera->SetCaptureSetting(capture);
    settings = DefaultReportSetting();
    settings.headers[0] = u"Inspection 测量 µm²";
    for (int i = 1; i < kReportHeaderCount; ++i) settings.headers[std::size_t(i)] = FormatW(u"H%d", i);
    view.mm.SetScale(0.5f, u"\u00B5m", ScaleDisplayBlock{});
  }
  void TearDown() override {
    SetReportOpener(nullptr);
    qputenv("TMPDIR", oldTmp);
    CameraTest::TearDown();
  }
  std::filesystem::path Temp() const { return Path() / "tmp"; }
  std::filesystem::path Captures() const { return Path() / "captures"; }
  static int FilesUnder(const std::filesystem::path& p) {
    int n = 0;
    if (std::filesystem::exists(p))
      for (const auto& e : std::filesystem::recursive_directory_iterator(p)) n += !e.is_directory();
    return n;
  }

  void Still(int w, int h) {
    const FrameView frame = camera->NewFrame(MakeFrameFormat(w, h));
    ASSERT_TRUE(frame);
    std::fill(frame.Pixels().begin(), frame.Pixels().end(), 128);
  }
  // A measurement of `kind` with points, as the engine holds a finished one.
  void Add(int kind, std::initializer_list<POINT> pts) {
    MEASUREBASE rec;
    rec.m_nKind = kind;
    rec.m_arrPoint.assign(pts);
    rec.m_nPointCount = std::int32_t(pts.size());
    view.mm.AddMeasure(rec);
  }
  void AddEveryKind() {
    Add(258, {{10, 10}, {110, 10}});
    Add(263, {{20, 20}, {60, 50}});
    Add(261, {{0, 0}, {50, 50}, {100, 0}});
    Add(257, {{5, 5}});
    Add(999, {{1, 1}, {2, 2}});  // a kind outside the table
    Add(271, {{3, 3}});
  }
  // What the engine gives for measurement i with its kind label.
  WString WordLine(int i) {
    std::vector<char16_t> b(kReportLineLen, 0);
    view.mm.GetWordReportLine(i, ReportKindLabel(view.mm.GetMeasureKind(i)), b.data(), b.size());
    return WString(b.data());
  }
  WString ExcelLine(int i) {
    std::vector<char16_t> b(kReportLineLen, 0);
    view.mm.GetExcelReportLine(i, ReportKindLabel(view.mm.GetMeasureKind(i)), b.data(), b.size());
    return WString(b.data());
  }
  void Apply() { camera->SetReportSetting(settings); }
  office_test::Parts Read(const CCameraProcess::ReportResult& r) {
    EXPECT_FALSE(r.path.empty());
    return office_test::ReadZip(std::filesystem::path(ToUtf8(r.path)));
  }
  // A small template written with the given parts.
  WString Template(const char* name, const std::vector<std::pair<std::string, std::string>>& parts) {
    office_test::WriteZip(Path() / name, parts);
    return FromUtf8((Path() / name).string());
  }

  FakeView view;
  stReportSetting settings;
  std::vector<std::string> opened;
  bool openerResult = true;
  QByteArray oldTmp;
};
