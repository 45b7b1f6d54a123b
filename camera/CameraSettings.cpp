// The settings blocks, their defaults, and their persistence in the settings store.
#include <algorithm>
#include <system_error>
#include <type_traits>
#include <vector>

#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk.h"
#include "platform/durable_file.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "res/StringIds.h"

namespace fs = std::filesystem;

namespace camera_internal {

fs::path ToPath(WStringView text) { return fs::path(ToUtf8(text)); }

WString FromPath(const fs::path& path) { return FromUtf8(path.string()); }

namespace {
WString g_imageFolder, g_videoFolder;  // set by SetDefaultMediaFolders
}  // namespace

WString WorkingSubfolder(WStringView leaf) {
  if (leaf == u"Image" && !g_imageFolder.empty()) return g_imageFolder;
  if (leaf == u"Video" && !g_videoFolder.empty()) return g_videoFolder;
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  return (ec ? WString(u".") : FromPath(cwd)) + u"/" + WString(leaf);
}

void CheckFolder(WString& folder, WStringView leaf, bool createFallback) {
  std::error_code ec;
  if (!folder.empty()) {
    const fs::path p = ToPath(folder);
    if (fs::is_directory(p, ec)) return;
    if (fs::create_directory(p, ec) && !ec) return;
  }
  folder = WorkingSubfolder(leaf);
  if (createFallback) fs::create_directory(ToPath(folder), ec);
}

}  // namespace camera_internal

void SetDefaultMediaFolders(WString images, WString videos) {
  camera_internal::g_imageFolder = std::move(images);
  camera_internal::g_videoFolder = std::move(videos);
}

using namespace camera_internal;

namespace {

constexpr char16_t kSettingsKey[] = u"Software\\Q7V-MS\\Settings";

WString HeaderValueName(int i) { return FormatW(u"%s%d", u"Report Header", i); }

// Every stored value of the settings blocks, by its name in the store, in the order they are
// written: one table for saving and loading, so the two cannot drift apart.
template <class Visit>
void ForEachSettingValue(stVideoSetting& video, stCaptureSetting& capture, stGridSetting& grid,
                         stReportSetting& report, Visit&& visit) {
  visit(u"Video Path", video.folder);
  visit(u"Video Prefix", video.prefix);
  visit(u"Video Codec", video.codec);
  visit(u"Video Quality", video.quality);
  visit(u"Image Path", capture.imageFolder);
  visit(u"Time Interval", capture.timeInterval);
  visit(u"FrameTotal", capture.frameTotal);
  visit(u"JPEG Quality", capture.jpegQuality);
  visit(u"If Measure", capture.ifMeasure);
  visit(u"Image Type", capture.imageType);
  visit(u"If Continuous", capture.ifContinuous);
  visit(u"If Frame", capture.ifFrame);
  visit(u"Image Name", capture.imageName);
  visit(u"Use Def Name", capture.useDefaultName);
  visit(u"Capture Count", capture.captureCount);
  visit(u"Grid Interval", grid.gridInterval);
  visit(u"Grid Width", grid.gridWidth);
  visit(u"Grid Color", grid.gridColor);
  visit(u"Select Line Type", grid.selectLineType);
  visit(u"Select Line Width", grid.selectLineWidth);
  visit(u"Select Line Color", grid.selectLineColor);
  visit(u"if Templet", report.useTemplate);
  visit(u"Word Templet", report.wordTemplate);
  visit(u"Excel Templet", report.excelTemplate);
  visit(u"If Header", report.printHeader);
  for (int i = 0; i < kReportHeaderCount; ++i) visit(HeaderValueName(i), report.headers[std::size_t(i)]);
}

void ReadInt(const CRegistryKey& key, WStringView name, std::int32_t& field) {
  if (auto v = key.QueryDword(name)) field = std::int32_t(*v);
}

void ReadColor(const CRegistryKey& key, WStringView name, COLORREF& field) {
  if (auto v = key.QueryDword(name)) field = COLORREF(*v);
}

// A flag is set when the lowest byte of its value is not 0.
void ReadBool(const CRegistryKey& key, WStringView name, bool& field) {
  if (auto v = key.QueryDword(name)) field = (*v & 0xFFu) != 0;
}

// Texts come back whole, however long.
void ReadText(const CRegistryKey& key, WStringView name, WString& field) {
  if (auto v = key.QueryString(name)) field = std::move(*v);
}

}  // namespace

stVideoSetting DefaultVideoSetting() {
  stVideoSetting s;
  s.folder = WorkingSubfolder(u"Video");
  return s;
}

stCaptureSetting DefaultCaptureSetting() {
  stCaptureSetting s;
  s.imageFolder = WorkingSubfolder(u"Image");
  s.imageName = LoadStringW(sid::kCapture);  // "Capture"
  return s;
}

stReportSetting DefaultReportSetting() {
  stReportSetting s;
  s.headers[0] = LoadStringW(sid::kMeasuringResult);
  for (int i = 1; i < kReportHeaderCount; ++i) s.headers[std::size_t(i)] = LoadStringW(sid::kUserDefined);
  return s;
}

void CCameraProcess::GetVideoSetting(stVideoSetting* out) const {
  if (!out) return;
  *out = video_;
  out->recording = recording_.load();
}

void CCameraProcess::SetVideoSetting(const stVideoSetting& setting) {
  // The recording flag belongs to RecordVideo: a block copied earlier must not switch it.
  video_ = setting;
  video_.recording = recording_.load();
}

void CCameraProcess::GetCaptureSetting(stCaptureSetting* out) const {
  if (out) *out = capture_;
}

void CCameraProcess::SetCaptureSetting(const stCaptureSetting& setting) {
  const bool sameFolder = setting.imageFolder == capture_.imageFolder;
  const std::int32_t count = sameFolder ? capture_.captureCount : 0;
  capture_ = setting;
  capture_.captureCount = count;
}

void CCameraProcess::GetGridSetting(int* gridInterval, int* gridWidth, COLORREF* gridColor, int* selectLineType,
                                    int* selectLineWidth, COLORREF* selectLineColor) const {
  if (gridInterval) *gridInterval = grid_.gridInterval;
  if (gridWidth) *gridWidth = grid_.gridWidth;
  if (gridColor) *gridColor = grid_.gridColor;
  if (selectLineType) *selectLineType = grid_.selectLineType;
  if (selectLineWidth) *selectLineWidth = grid_.selectLineWidth;
  if (selectLineColor) *selectLineColor = grid_.selectLineColor;
}

void CCameraProcess::SetGridSetting(int gridInterval, int gridWidth, COLORREF gridColor, int selectLineType,
                                    int selectLineWidth, COLORREF selectLineColor) {
  grid_ = stGridSetting{gridInterval, gridWidth, gridColor, selectLineType, selectLineWidth, selectLineColor};
  if (view_) {
    if (CMeasureManager* mm = view_->MeasureManager()) {
      mm->SetGridStyle(gridWidth, gridInterval, gridColor);
      mm->SetSelectionStyle(selectLineType, selectLineWidth, selectLineColor);
    }
  }
}

void CCameraProcess::GetReportSetting(stReportSetting* out) const {
  if (out) *out = report_;
}

void CCameraProcess::SetReportSetting(const stReportSetting& setting) { report_ = setting; }

bool CCameraProcess::SaveSetting() {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  LONG rc = ERROR_SUCCESS;
  ForEachSettingValue(video_, capture_, grid_, report_, [&](WStringView name, auto& field) {
    using Field = std::remove_cvref_t<decltype(field)>;
    LONG r = ERROR_SUCCESS;
    if constexpr (std::is_same_v<Field, WString>)
      r = key.SetString(name, field);
    else
      r = key.SetDword(name, DWORD(field));  // flags as 1 and 0
    if (r != ERROR_SUCCESS) rc = r;
  });
  if (const LONG r = key.Close()) rc = r;  // the store is written when the key closes
  return rc == ERROR_SUCCESS;
}

bool CCameraProcess::SaveCaptureCount() {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  const LONG set = key.SetDword(u"Capture Count", DWORD(capture_.captureCount));
  const LONG closed = key.Close();  // the store is written when the key closes
  return set == ERROR_SUCCESS && closed == ERROR_SUCCESS;
}

void CCameraProcess::LoadSetting() {
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, kSettingsKey, KEY_READ) != ERROR_SUCCESS) return;
  ForEachSettingValue(video_, capture_, grid_, report_, [&](WStringView name, auto& field) {
    using Field = std::remove_cvref_t<decltype(field)>;
    if constexpr (std::is_same_v<Field, WString>)
      ReadText(key, name, field);
    else if constexpr (std::is_same_v<Field, bool>)
      ReadBool(key, name, field);
    else if constexpr (std::is_same_v<Field, COLORREF>)
      ReadColor(key, name, field);
    else
      ReadInt(key, name, field);
  });
  CheckFolder(video_.folder, u"Video", false);
  CheckFolder(capture_.imageFolder, u"Image", false);
}

int CCameraProcess::SweepLeftovers(std::int64_t startNs) const {
  // Folders that are the program's own also lose the temporaries of earlier versions, which
  // were named after the file they were to replace.
  struct Folder {
    fs::path path;
    std::vector<std::string> legacy;
  };
  std::error_code ec;
  const std::vector<Folder> folders = {
      {RegistryFile().parent_path(), {RegistryFile().filename().string()}},
      {fs::path(CamSdkConfigDir()), {"camsdk-params.ini"}},
      {fs::current_path(ec), {"Default.kvmi"}},
      {ToPath(capture_.imageFolder), {}},
      {ToPath(video_.folder), {}},
  };
  int removed = 0;
  std::vector<fs::path> done;
  for (const Folder& f : folders) {
    if (f.path.empty()) continue;
    const fs::path canonical = fs::weakly_canonical(f.path, ec);
    const fs::path key = ec ? f.path : canonical;
    // One folder named twice (the captures in the working folder) is swept with every name.
    std::vector<std::string> legacy = f.legacy;
    for (const Folder& other : folders)
      if (&other != &f && fs::weakly_canonical(other.path, ec) == key)
        legacy.insert(legacy.end(), other.legacy.begin(), other.legacy.end());
    if (std::find(done.begin(), done.end(), key) != done.end()) continue;
    done.push_back(key);
    removed += SweepStaleTemporaries(f.path, startNs, legacy).removed;
  }
  return removed;
}
