// The shared half of the reports: kind labels, the gathered data, the temporary image, the file's
// place and name, and handing it to the desktop.
#include "camera/CameraReport.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

#include "camera/CameraInternal.h"
#include "measure/MeasureManager.h"
#include "platform/strings.h"

using camera_internal::FromPath;
using camera_internal::ToPath;

namespace {

ReportOpener& Opener() {
  static ReportOpener opener;
  return opener;
}

CCameraProcess::ReportResult Failure(CCameraProcess::ReportStatus status, WString message) {
  CCameraProcess::ReportResult r;
  r.status = status;
  r.message = std::move(message);
  return r;
}

}  // namespace

void SetReportOpener(ReportOpener opener) { Opener() = std::move(opener); }

WString ReportKindLabel(int kind) {
  static const std::pair<int, std::uint32_t> kLabels[] = {
      {257, 60022}, {258, 60023}, {259, 60033}, {260, 60024}, {261, 60025}, {262, 60035},
      {263, 60026}, {264, 60027}, {265, 60028}, {266, 60031}, {267, 60029}, {268, 60030},
      {269, 60032}, {270, 60034}, {272, 60036}, {273, 60037}};
  for (const auto& [k, id] : kLabels)
    if (k == kind) return LoadStringW(id);
  return {};
}

namespace camera_report {

namespace {

CCameraProcess::ReportResult Gather(CCameraProcess& camera, CMeasureManager* engine, ReportKind kind,
                                    ReportData* out) {
  using Status = CCameraProcess::ReportStatus;
  camera.GetReportSetting(&out->settings);

  {
    // Private to this user and removed with everything in it when the block ends.
    QTemporaryDir temp;
    if (!temp.isValid())
      return Failure(Status::FolderUnwritable, FormatW(LoadStringW(60072), QDir::tempPath().toStdU16String(),
                                                       temp.errorString().toStdU16String()));
    const WString stem = (temp.path() + "/Temp").toStdU16String();
    const int written = camera.SaveImageBmp(stem);
    if (written == CAMERA_NO_FRAME) return Failure(Status::NoImage, LoadStringW(60070));
    const cv::Mat image = written == CAMERA_OK ? cv::imread(ToUtf8(stem + u".bmp"), cv::IMREAD_COLOR) : cv::Mat();
    std::vector<std::uint8_t> png;
    // Fast compression: the picture is most of the file, and the report should come up at once.
    if (image.empty() || !cv::imencode(".png", image, png, {cv::IMWRITE_PNG_COMPRESSION, 1}))
      return Failure(Status::FolderUnwritable,
                     FormatW(LoadStringW(60072), temp.path().toStdU16String(), WString(u"Temp.bmp")));
    out->png.assign(png.begin(), png.end());
    out->width = image.cols;
    out->height = image.rows;
  }

  float factor = 1.0f;
  WString unit = u"px";
  if (engine) {
    ScaleDisplayBlock display;
    engine->GetScale(&factor, &unit, &display);
    std::vector<char16_t> buffer(kReportLineLen);
    for (int i = 0; i < engine->GetMeasureCount(); ++i) {
      const WString label = ReportKindLabel(engine->GetMeasureKind(i));
      // Cleared for each: a measurement without a text must not repeat the one before it.
      buffer[0] = 0;
      if (kind == ReportKind::Word) engine->GetWordReportLine(i, label, buffer.data(), buffer.size());
      else engine->GetExcelReportLine(i, label, buffer.data(), buffer.size());
      out->labels.push_back(label);
      out->lines.emplace_back(buffer.data(), BufferLength(buffer.data(), buffer.size()));
    }
  }
  // As many decimals as the factor needs: "%.3f" showed a microscope's 0.00007 mm/px as 0.000.
  out->scaleText = FormatW(u"%s%s %s/px", LoadStringW(60008), FactorDisplayText(factor), unit);
  return {};
}

}  // namespace

CCameraProcess::ReportResult Prepare(CCameraProcess& camera, CMeasureManager* engine, ReportKind kind,
                                     const TemplateLoader& load, ReportData* out) {
  CCameraProcess::ReportResult r = Gather(camera, engine, kind, out);
  const WString& path = kind == ReportKind::Word ? out->settings.wordTemplate : out->settings.excelTemplate;
  if (!r.ok() || !out->settings.useTemplate || !QFileInfo(QString::fromStdU16String(path)).isFile()) return r;
  const office::Status loaded = load(ToPath(path));
  if (!loaded.ok())
    r = Failure(CCameraProcess::ReportStatus::TemplateBroken, FormatW(LoadStringW(60071), path, FromUtf8(loaded.detail)));
  return r;
}

CCameraProcess::ReportResult Publish(const CCameraProcess& camera, ReportKind kind, const ReportSaver& save) {
  using Status = CCameraProcess::ReportStatus;
  // Beside the captured images: the report documents them, and the operator looks there first.
  stCaptureSetting capture;
  camera.GetCaptureSetting(&capture);
  const WString folder = capture.imageFolder.empty() ? camera_internal::WorkingSubfolder(u"Image") : capture.imageFolder;
  const QString qfolder = QString::fromStdU16String(folder);
  if (!QDir().mkpath(qfolder))
    return Failure(Status::FolderUnwritable, FormatW(LoadStringW(60072), folder, WString(u"cannot create the folder")));

  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
  const QString ext = kind == ReportKind::Word ? QStringLiteral(".docx") : QStringLiteral(".xlsx");
  office::Status saved = office::Status::Fail(office::Error::Exists, "");
  QString file;
  for (int n = 1; n <= 1000 && saved.error == office::Error::Exists; ++n) {
    file = qfolder + "/Report_" + stamp + (n > 1 ? "_" + QString::number(n) : QString()) + ext;
    saved = save(ToPath(file.toStdU16String()));
  }
  if (!saved.ok())
    return Failure(Status::FolderUnwritable, FormatW(LoadStringW(60072), folder, FromUtf8(saved.detail)));

  CCameraProcess::ReportResult r;
  r.path = file.toStdU16String();
  const ReportOpener& opener = Opener();
  const bool opened = opener ? opener(file) : QDesktopServices::openUrl(QUrl::fromLocalFile(file));
  if (opened) {
    r.message = FormatW(LoadStringW(60073), r.path);
  } else {
    r.status = Status::NotOpened;
    r.message = LoadStringW(kind == ReportKind::Word ? 60006 : 60009) + u"\n" + FormatW(LoadStringW(60073), r.path);
  }
  return r;
}

}  // namespace camera_report
