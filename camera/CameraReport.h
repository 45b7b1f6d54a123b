#pragma once
// What the Word and Excel reports share: the kind labels, the data a report shows (gathered in
// one go: settings, scale text, one line per measurement, the picture), where the file goes and
// how it is opened. The opener is a seam: tests install their own so that nothing is launched.
#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "camera/CameraProcess.h"
#include "camera/CameraSettings.h"
#include "platform/office/OfficeStatus.h"
#include "platform/text.h"

class CMeasureManager;

// Opens a written report with the desktop's application; false when none took it. A null opener
// restores the desktop's.
using ReportOpener = std::function<bool(const QString& path)>;
void SetReportOpener(ReportOpener opener);

// The label of a measurement kind in the running language; empty for 271 and unknown kinds.
WString ReportKindLabel(int kind);

namespace camera_report {

enum class ReportKind { Word, Excel };

struct ReportData {
  stReportSetting settings;
  WString scaleText;               // "Scale:" factor and unit
  std::vector<WString> labels;     // per measurement, its kind label
  std::vector<WString> lines;      // per measurement, its report text
  std::string png;                 // the frame with the measurements drawn in
  int width = 0, height = 0;
};


// Writes the report in the capture folder under "Report_<date>_<time>[_n].<ext>" with `save`
// (which must refuse to replace a file), then opens it.
using ReportSaver = std::function<office::Status(const std::filesystem::path& file)>;
CCameraProcess::ReportResult Publish(const CCameraProcess& camera, ReportKind kind, const ReportSaver& save);

// Everything a report shows, gathered into `out`, and the template of its kind loaded with `load`
// when templates are in use and the path names a file (an unset or missing template is no error:
// the report starts blank). The picture goes through a temporary image in a private temporary
// folder that is gone when this returns, on every path. A result that is not ok ends the report.
using TemplateLoader = std::function<office::Status(const std::filesystem::path& file)>;
CCameraProcess::ReportResult Prepare(CCameraProcess& camera, CMeasureManager* engine, ReportKind kind,
                                     const TemplateLoader& load, ReportData* out);

}  // namespace camera_report
