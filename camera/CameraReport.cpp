// The shared half of the reports: kind labels, the gathered data, the picture, the file's place
// and name, handing it to the desktop, and the commands that run the halves.
#include "camera/CameraReport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPainter>

#include <cstring>
#include <new>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/CameraInternal.h"
#include "measure/MeasureManager.h"
#include "platform/gdi/painter_dc.h"
#include "platform/imglib/jpeg_writer.h"
#include "platform/large_buffer.h"
#include "platform/strings.h"
#include "res/StringIds.h"

using camera_internal::FromPath;
using camera_internal::ToPath;

namespace {

// What the libraries said about a failure goes to the log; the operator reads a sentence of the
// running language.
Q_LOGGING_CATEGORY(lcReport, "q7v.report")

// The report's texts by the failure they tell.
constexpr std::uint32_t kFolderNotCreated = 64460;  // "%s": the folder
constexpr std::uint32_t kFileNotWritten = 64461;    // "%s": the file
constexpr std::uint32_t kNoMemory = 64462;          // %d x %d: the picture's size
constexpr std::uint32_t kNotEncoded = 64463;
constexpr std::uint32_t kTemplateUnreadable = 64464;   // "%s": the template
constexpr std::uint32_t kTemplateNotOffice = 64465;    // "%s"
constexpr std::uint32_t kTemplateDamaged = 64466;      // "%s"
constexpr std::uint32_t kTemplateTooLarge = 64467;     // "%s"

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

CCameraProcess::ReportResult Collect(CCameraProcess& camera, CMeasureManager* engine, ReportKind kind,
                                     ReportData* out) {
  camera.GetReportSetting(&out->settings);
  // Beside the captured images: the report documents them, and the operator looks there first.
  stCaptureSetting capture;
  camera.GetCaptureSetting(&capture);
  out->folder = capture.imageFolder.empty() ? camera_internal::WorkingSubfolder(u"Image") : capture.imageFolder;

  // The frame's format now; its pixels are copied by the worker (into memory it has prepared,
  // so the frame lock is held only for the copy itself). The measurements are drawn at image
  // scale (selections not shown) as recorded drawing commands, played onto the frame there.
  if (!camera.CopyFrame(nullptr, &out->format)) return Failure(CCameraProcess::ReportStatus::NoImage, LoadStringW(sid::kThereNoImageReport));
  out->width = out->format.biWidth;
  out->height = out->format.biHeight;
  if (engine) {
    // The recording's bounds are the image's, so the drawing is clipped to it as on the image.
    out->overlay.setBoundingRect(QRect(0, 0, out->width, out->height));
    QPainter painter(&out->overlay);
    CPainterDC dc(&painter);
    engine->DrawAll(dc, 0);
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
  out->scaleText = FormatW(u"%s%s %s/px", LoadStringW(sid::kScaleLabel), FactorDisplayText(factor), unit);
  return {};
}

CCameraProcess::ReportResult CopyFrame(CCameraProcess& camera, ReportData* data) {
  const int w = data->width, h = data->height;
  data->picture = LargeImage(w, h, QImage::Format_RGB32);
  if (data->picture.isNull()) return Failure(CCameraProcess::ReportStatus::NoMemory, FormatW(LoadStringW(kNoMemory), w, h));
  std::uint8_t* bits = data->picture.bits();  // detaches once, before the rows are shared out
  const std::size_t stride = std::size_t(data->picture.bytesPerLine()), rowBytes = std::size_t(w) * 3;
  {
    // Under the frame lock only a plain copy of each row, the right way up, into the start of
    // its picture row: the window's paint waits for this lock.
    const FrameView frame = camera.ViewFrame();
    // A frame of another size than the one the measurements were drawn for is not this report's.
    if (!frame || frame.Width() != w || frame.Height() != h)
      return Failure(CCameraProcess::ReportStatus::NoImage, LoadStringW(sid::kThereNoImageReport));
    const std::uint8_t* pixels = frame.Data();
    for (int y = 0; y < h; ++y) std::memcpy(bits + std::size_t(y) * stride, pixels + std::size_t(h - 1 - y) * rowBytes, rowBytes);
  }
  // Then each row's packed pixels spread over 32 bits in place, from the row's end, so that no
  // pixel is overwritten before it is read.
  cv::parallel_for_(cv::Range(0, h), [&](const cv::Range& rows) {
    for (int y = rows.start; y < rows.end; ++y) {
      std::uint8_t* row = bits + std::size_t(y) * stride;
      for (int x = w - 1; x >= 0; --x) {
        const std::uint8_t b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
        row[4 * x] = b;
        row[4 * x + 1] = g;
        row[4 * x + 2] = r;
        row[4 * x + 3] = 0xFF;
      }
    }
  });
  return {};
}

namespace {

// The template's failure in the operator's language; the reader's own words go to the log.
WString TemplateFailure(const WString& path, const office::Status& status) {
  qCWarning(lcReport) << "template" << QString::fromStdU16String(path) << "refused:" << status.detail.c_str();
  // A file of the old binary formats is told as such: its reason is no damage.
  const QString ext = QFileInfo(QString::fromStdU16String(path)).suffix().toLower();
  if (ext == "doc" || ext == "dot" || ext == "xls" || ext == "xlt") return FormatW(LoadStringW(sid::kReportTemplateCannotUsed), path, LoadStringW(sid::kOldFormatTemplatesDocDot));
  switch (status.error) {
    case office::Error::NotFound: return FormatW(LoadStringW(kTemplateUnreadable), path);
    case office::Error::TooLarge: return FormatW(LoadStringW(kTemplateTooLarge), path);
    case office::Error::NotAPackage:
    case office::Error::Unsupported: return FormatW(LoadStringW(kTemplateNotOffice), path);
    default: return FormatW(LoadStringW(kTemplateDamaged), path);
  }
}

}  // namespace

CCameraProcess::ReportResult LoadTemplateThenEncode(ReportKind kind, const TemplateLoader& load, ReportData* data) {
  const stReportSetting& set = data->settings;
  const WString& path = kind == ReportKind::Word ? set.wordTemplate : set.excelTemplate;
  // The template first: a broken one must not cost the picture's encoding.
  if (set.useTemplate && QFileInfo(QString::fromStdU16String(path)).isFile()) {
    const office::Status loaded = load(ToPath(path));
    if (!loaded.ok()) return Failure(CCameraProcess::ReportStatus::TemplateBroken, TemplateFailure(path, loaded));
  }
  // The picture: the frame the right way up with the measurements played onto it.
  QImage& picture = data->picture;
  if (!data->overlay.isNull()) {
    QPainter painter(&picture);
    painter.drawPicture(0, 0, data->overlay);
  }
  // JPEG at high quality: both formats take it, and it encodes many times faster than PNG; in
  // bands on all cores, straight from the picture's memory.
  const imglib::JpegSource source{picture.constBits(), picture.width(), picture.height(),
                                  std::size_t(picture.bytesPerLine()), imglib::JpegPixels::Bgrx};
  const bool encoded = imglib::EncodeJpeg(source, 95, &data->encoded);
  picture = QImage();
  if (!encoded) {
    qCWarning(lcReport) << "the picture of" << data->width << "x" << data->height << "could not be encoded";
    return Failure(CCameraProcess::ReportStatus::PictureFailed, LoadStringW(kNotEncoded));
  }
  return {};
}

CCameraProcess::ReportResult Write(const WString& folder, ReportKind kind, const ReportSaver& save,
                                   const std::atomic_bool* cancel) {
  using Status = CCameraProcess::ReportStatus;
  const QString qfolder = QString::fromStdU16String(folder);
  if (!QDir().mkpath(qfolder)) return Failure(Status::FolderUnwritable, FormatW(LoadStringW(kFolderNotCreated), folder));
  if (cancel && cancel->load()) return Failure(Status::Cancelled, {});

  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
  const QString ext = kind == ReportKind::Word ? QStringLiteral(".docx") : QStringLiteral(".xlsx");
  office::Status saved = office::Status::Fail(office::Error::Exists, "");
  QString file;
  for (int n = 1; n <= 1000 && saved.error == office::Error::Exists; ++n) {
    file = qfolder + "/Report_" + stamp + (n > 1 ? "_" + QString::number(n) : QString()) + ext;
    saved = save(ToPath(file.toStdU16String()));
  }
  if (!saved.ok()) {
    qCWarning(lcReport) << "writing" << file << "failed:" << saved.detail.c_str();
    return Failure(Status::FolderUnwritable, FormatW(LoadStringW(kFileNotWritten), file.toStdU16String()));
  }
  CCameraProcess::ReportResult r;
  r.path = file.toStdU16String();
  return r;
}

CCameraProcess::ReportResult Open(ReportKind kind, CCameraProcess::ReportResult r) {
  if (!r.ok()) return r;
  const ReportOpener& opener = Opener();
  const QString file = QString::fromStdU16String(r.path);
  const bool opened = opener && opener(file);
  if (opened) {
    r.message = FormatW(LoadStringW(sid::kReportSaved), r.path);
  } else {
    r.status = CCameraProcess::ReportStatus::NotOpened;
    r.message = LoadStringW(kind == ReportKind::Word ? 60006 : 60009) + u"\n" + FormatW(LoadStringW(sid::kReportSaved), r.path);
  }
  return r;
}

}  // namespace camera_report

// ---- the report commands

CCameraProcess::ReportJob CCameraProcess::BeginReport(bool word, ReportResult* failed,
                                                      std::shared_ptr<std::atomic_bool> cancel) {
  using namespace camera_report;
  auto data = std::make_shared<ReportData>();
  const ReportKind kind = word ? ReportKind::Word : ReportKind::Excel;
  const ReportResult collected = Collect(*this, view_ ? view_->MeasureManager() : nullptr, kind, data.get());
  if (!collected.ok()) {
    if (failed) *failed = collected;
    return {};
  }
  // The job holds all it needs but the frame's pixels, which it copies first.
  return [this, word, data, cancel] {
    try {
      if (const ReportResult copied = camera_report::CopyFrame(*this, data.get()); !copied.ok()) return copied;
      return word ? BuildWord(*data, cancel.get()) : BuildExcel(*data, cancel.get());
    } catch (const std::bad_alloc&) {
      // The picture and its encoding are what a report holds in memory.
      data->picture = QImage();
      return Failure(ReportStatus::NoMemory, FormatW(LoadStringW(kNoMemory), data->width, data->height));
    }
  };
}

CCameraProcess::ReportResult CCameraProcess::FinishReport(bool word, ReportResult written) {
  return camera_report::Open(word ? camera_report::ReportKind::Word : camera_report::ReportKind::Excel,
                             std::move(written));
}

CCameraProcess::ReportResult CCameraProcess::ExportWordReport() { return RunReport(true); }
CCameraProcess::ReportResult CCameraProcess::ExportExcelReport() { return RunReport(false); }

CCameraProcess::ReportResult CCameraProcess::RunReport(bool word) {
  ReportResult failed;
  const ReportJob job = BeginReport(word, &failed, nullptr);
  if (!job) return failed;
  return FinishReport(word, job());
}
