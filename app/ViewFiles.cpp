// The view's files: still images opened into and saved from the frame buffer, and the
// measurement layers of the current camera saved to and loaded from files the operator picks.
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QPainter>
#include <QStandardPaths>


#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "camera/BitmapFile.h"
#include "platform/gdi/painter_dc.h"
#include "platform/large_buffer.h"
#include "platform/camsdk/camsdk.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "res/StringIds.h"

std::filesystem::path DefaultLayerFile();

namespace {

QString Filter(const char* ext) {
  return QString::fromStdU16String(LoadStringW(sid::kSupportFile)) + QString("(*.%1)|*.%1||").arg(ext);
}

std::filesystem::path ToPath(const QString& s) { return std::filesystem::path(s.toStdU16String()); }

}  // namespace

void CApplicationView::LayerSection(WString* name, int* index) const {
  stCameraItem item;
  *name = {};
  *index = 0;
  // With no current camera (a still image) the section is the empty name with index 0.
  if (camera_.GetCurCameraItem(&item) < 0) return;
  const char* n = item.device.deviceName;
  *name = FromUtf8(std::string_view(n, strnlen(n, sizeof(item.device.deviceName))));
  if (item.state != CAMERA_CLOSED) {
    int sel = 0;
    // A camera that has just gone answers nothing: its section is the one it last had.
    if (CameraGetImageSizeSel(item.handle, &sel, 0) == 1)
      lastSizeSel_ = {item.handle, sel};
    else if (lastSizeSel_.first == item.handle)
      sel = lastSizeSel_.second;
    *index = sel;
  }
}

QString CApplicationView::DialogFolder(bool layerFiles) const {
  const QString& last = layerFiles ? lastLayerFolder_ : lastImageFolder_;
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  const QString home =
      QStandardPaths::writableLocation(layerFiles ? QStandardPaths::DocumentsLocation : QStandardPaths::PicturesLocation);
  if (!home.isEmpty() && QFileInfo(home).isDir()) return home;
  return QDir::homePath();
}

void CApplicationView::RememberFolder(bool layerFiles, const QString& path) {
  (layerFiles ? lastLayerFolder_ : lastImageFolder_) = QFileInfo(path).absolutePath();
}

int CApplicationView::LoadBitmapFile(const QString& path, QString* error) {
  BITMAPINFOHEADER format{};
  BitmapStatus st;
  {
    // The file is checked whole before the frame buffer is touched; then it is read straight in,
    // the new frame held until it is whole.
    FrameView frame;
    st = ReadBitmapFileInto(path, [this, &format, &frame](const BITMAPINFOHEADER& f) -> std::uint8_t* {
      frame = camera_.NewFrame(f);
      if (!frame) return nullptr;
      format = f;
      return frame.Data();
    });
  }
  if (st != BitmapStatus::Ok) {
    if (error) *error = QString::fromStdU16String(BitmapStatusText(st, path));
    return 0;
  }
  SetImageState(0, 1);
  MoveImageWindow(CalcFitRect(format.biWidth, format.biHeight));
  m_wndImage->show();
  RedrawImage();
  return 1;
}

void CApplicationView::OnFileOpen() {
  const QStringList paths = fileDialog(true, true, Filter("bmp"), QString());
  if (paths.isEmpty()) return;
  RememberFolder(false, paths.front());
  // Files the reader refuses are named with the reason; when none can be read, live and the
  // image shown stay as they were.
  QStringList refused, readable;
  for (const QString& path : paths) {
    BitmapLayout layout;
    const BitmapStatus st = ProbeBitmapFile(path, &layout);
    if (st == BitmapStatus::Ok)
      readable.push_back(path);
    else
      refused.push_back(QString::fromStdU16String(BitmapStatusText(st, path)));
  }
  if (!readable.isEmpty()) camera_.StopAllCameras();
  for (const QString& path : readable) {
    QString error;
    if (LoadBitmapFile(path, &error) != 1) {
      refused.push_back(error);
      continue;
    }
    frame_.AddImageFile(path);
    frame_.ImageListPane()->show();
    frame_.ImageListPane()->raise();
    frame_.OnZoomFitWindow();
  }
  if (!refused.isEmpty() && messageBox) messageBox(refused.join(u'\n'));
}

bool CApplicationView::SaveBitmapFile(const QString& path, QString* error) {
  // The frame at its size with the measurements drawn in as they are, without what only the
  // screen shows (handles, the selection, the region of interest): the picture a capture writes.
  BITMAPINFOHEADER f;
  if (!camera_.CopyFrame(nullptr, &f)) return false;
  QImage full = LargeImage(f.biWidth, f.biHeight, QImage::Format_RGB32);
  if (full.isNull()) {
    if (error) *error = QString::fromStdU16String(BitmapStatusText(BitmapStatus::OutOfMemory, path));
    return false;
  }
  if (!camera_.CopyFrameRgb32(&full, &f)) return false;
  {
    CImageDC dc(full);
    m_MeasureMgr.DrawAll(dc, 0);
    dc.End();
  }
  const BitmapStatus st = WriteBitmapFile(path, full, f);
  if (st != BitmapStatus::Ok) {
    if (error) *error = QString::fromStdU16String(BitmapStatusText(st, path));
    return false;
  }
  return true;
}

void CApplicationView::OnFileSaveAs() {
  if (!camera_.HasFrame()) return;
  const QStringList paths = fileDialog(false, false, Filter("bmp"), ".bmp");
  if (paths.isEmpty()) return;
  RememberFolder(false, paths.front());
  QString error;
  if (!SaveBitmapFile(paths.front(), &error)) messageBox(error);
}

void CApplicationView::OnSaveLayers() {
  const QStringList paths = fileDialog(false, false, Filter("kvmi"), ".kvmi");
  if (paths.isEmpty()) return;
  RememberFolder(true, paths.front());
  WString name;
  int index = 0;
  LayerSection(&name, &index);
  if (!m_MeasureMgr.SaveLayers(DefaultLayerFile(), name, index)) ReportDefaultLayersNotSaved();
  if (!m_MeasureMgr.SaveLayers(ToPath(paths.front()), name, index))
    messageBox(QString::fromStdU16String(BitmapStatusText(BitmapStatus::WriteFailed, paths.front())));
}

void CApplicationView::ReportDefaultLayersNotSaved() {
  messageBox(QString::fromStdU16String(FormatW(LoadStringW(sid::kMeasurementsCouldNotSaved), DefaultLayerFile().u16string())));
}

// Whether the file holds layers this camera can load: the section is there with its totals, and
// when the totals promise records, at least one of them is readable. Checked on a scratch engine,
// so that a file that does not load costs nothing of what is shown and saved.
bool CApplicationView::LayerFileLoads(const std::filesystem::path& file, const WString& name, int index) const {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  constexpr std::int32_t kMissing = INT32_MIN;
  const CProfileFile ini(file);
  const WString section = FormatW(u"%s%d", name, index);
  const std::int32_t layers = ini.GetInt(section, u"LayerTotal", kMissing);
  const std::int32_t crosses = ini.GetInt(section, u"CrossTotal", kMissing);
  if (layers == kMissing && crosses == kMissing) return false;
  const std::int64_t promised = std::int64_t(std::max(0, layers)) + std::max(0, crosses);
  if (promised == 0) return true;  // a file saved with no measurements loads as such
  auto scratch = std::make_unique<CMeasureManager>();
  scratch->LoadLayers(file, name, index);
  return scratch->GetMeasureCount() + scratch->GetRemarkCount() > 0;
}

void CApplicationView::OnLoadLayers() {
  const QStringList paths = fileDialog(true, false, Filter("kvmi"), ".kvmi");
  if (paths.isEmpty()) return;
  RememberFolder(true, paths.front());
  WString name;
  int index = 0;
  LayerSection(&name, &index);
  const std::filesystem::path file = ToPath(paths.front());
  // A file that does not load is refused: the layers shown, and those kept in the default file,
  // stay as they are.
  if (!LayerFileLoads(file, name, index)) {
    messageBox(QString::fromStdU16String(FormatW(LoadStringW(sid::kLayerFileHoldsNoMeasurements), paths.front().toStdU16String())));
    return;
  }
  // The scale in force stays: the reset would leave the loaded texts in the old unit while
  // the engine, and every report, computes in pixels.
  float factor = 1.0f;
  WString unit;
  ScaleDisplayBlock bar;
  m_MeasureMgr.GetScale(&factor, &unit, &bar);
  m_MeasureMgr.ResetMeasurements();
  m_MeasureMgr.RemoveAllRemarks();
  frame_.ClearLayers();
  m_MeasureMgr.LoadLayers(file, name, index);
  frame_.LayersLoaded(name, index);
  m_MeasureMgr.SetScale(factor, unit, bar);  // the texts recomputed in it
  frame_.RebuildLayers();
  if (!m_MeasureMgr.SaveLayers(DefaultLayerFile(), name, index)) ReportDefaultLayersNotSaved();
  RedrawImage();
}
