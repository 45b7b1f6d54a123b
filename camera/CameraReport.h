#pragma once
// What the Word and Excel reports share: the kind labels, the data a report shows (gathered in
// one go: settings, scale text, one line per measurement, the picture), where the file goes and
// how it is opened. The opener is a seam: tests install their own so that nothing is launched.
#include <QImage>
#include <QPicture>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "camera/CameraProcess.h"
#include "camera/CameraSettings.h"
#include "platform/office/OfficeStatus.h"
#include "platform/text.h"

class CMeasureManager;

// Opens a written report with the desktop's application; false when none took it. The program
// installs the desktop's at start; without one (null) a report is written and kept, not opened.
using ReportOpener = std::function<bool(const QString& path)>;
void SetReportOpener(ReportOpener opener);

// The label of a measurement kind in the running language; empty for 271 and unknown kinds.
WString ReportKindLabel(int kind);

namespace camera_report {

enum class ReportKind { Word, Excel };

struct ReportData {
  stReportSetting settings;
  WString folder;                  // where the report goes: the capture folder
  WString scaleText;               // "Scale:" factor and unit
  std::vector<WString> labels;     // per measurement, its kind label
  std::vector<WString> lines;      // per measurement, its report text
  BITMAPINFOHEADER format{};       // the frame's format when the report was asked for
  QImage picture;                  // the frame the right way up (RGB32), then with the drawing
  QPicture overlay;                // the measurements' drawing at image scale
  std::string encoded;             // the picture as stored in the report (JPEG)
  int width = 0, height = 0;
};

// The first half, on the user-interface thread (the frame, the engine and the settings live
// there): everything the report shows, gathered into `out`. A result that is not ok ends the
// report (no frame).
CCameraProcess::ReportResult Collect(CCameraProcess& camera, CMeasureManager* engine, ReportKind kind,
                                     ReportData* out);

// The frame's pixels into data->picture (first step of the second half, any thread): the memory
// is made ready before the frame lock is taken, and the lock is held only while the rows are
// copied as they are (converted after), so that the window's paint never waits long for it.
CCameraProcess::ReportResult CopyFrame(CCameraProcess& camera, ReportData* data);

// The second half runs on any thread and touches nothing but `data` and the files. First the
// template of its kind is loaded with `load` when templates are in use and the path names a file
// (an unset or missing template is no error: the report starts blank), before the picture is
// encoded; a template that cannot be read ends the report there.
using TemplateLoader = std::function<office::Status(const std::filesystem::path& file)>;
CCameraProcess::ReportResult LoadTemplateThenEncode(ReportKind kind, const TemplateLoader& load, ReportData* data);

// Writes the report into data.folder under "Report_<date>_<time>[_n].<ext>" with `save` (which
// must refuse to replace a file). Any thread. Nothing is written once `cancel` is set.
using ReportSaver = std::function<office::Status(const std::filesystem::path& file)>;
CCameraProcess::ReportResult Write(const WString& folder, ReportKind kind, const ReportSaver& save,
                                   const std::atomic_bool* cancel);

// The two layouts: the whole second half for its kind.
CCameraProcess::ReportResult BuildWord(ReportData& data, const std::atomic_bool* cancel);
CCameraProcess::ReportResult BuildExcel(ReportData& data, const std::atomic_bool* cancel);

// Hands a written report to the desktop (user-interface thread).
CCameraProcess::ReportResult Open(ReportKind kind, CCameraProcess::ReportResult written);

}  // namespace camera_report
