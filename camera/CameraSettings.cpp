// The settings blocks, their defaults, and their persistence in the settings store.
#include <algorithm>
#include <system_error>
#include <vector>

#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/camsdk.h"
#include "platform/durable_file.h"
#include "platform/registry.h"
#include "platform/strings.h"

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
  s.imageName = LoadStringW(64116);  // "Capture"
  return s;
}

stReportSetting DefaultReportSetting() {
  stReportSetting s;
  s.headers[0] = LoadStringW(60060);
  for (int i = 1; i < kReportHeaderCount; ++i) s.headers[std::size_t(i)] = LoadStringW(60061);
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
  auto text = [&](WStringView name, const WString& value) {
    if (const LONG r = key.SetString(name, value)) rc = r;
  };
  auto dword = [&](WStringView name, std::int64_t value) {
    if (const LONG r = key.SetDword(name, DWORD(value))) rc = r;
  };
  text(u"Video Path", video_.folder);
  text(u"Video Prefix", video_.prefix);
  dword(u"Video Codec", video_.codec);
  dword(u"Video Quality", video_.quality);
  text(u"Image Path", capture_.imageFolder);
  dword(u"Time Interval", capture_.timeInterval);
  dword(u"FrameTotal", capture_.frameTotal);
  dword(u"JPEG Quality", capture_.jpegQuality);
  dword(u"If Measure", capture_.ifMeasure ? 1 : 0);
  dword(u"Image Type", capture_.imageType);
  dword(u"If Continuous", capture_.ifContinuous ? 1 : 0);
  dword(u"If Frame", capture_.ifFrame ? 1 : 0);
  text(u"Image Name", capture_.imageName);
  dword(u"Use Def Name", capture_.useDefaultName ? 1 : 0);
  dword(u"Capture Count", capture_.captureCount);
  dword(u"Grid Interval", grid_.gridInterval);
  dword(u"Grid Width", grid_.gridWidth);
  dword(u"Grid Color", grid_.gridColor);
  dword(u"Select Line Type", grid_.selectLineType);
  dword(u"Select Line Width", grid_.selectLineWidth);
  dword(u"Select Line Color", grid_.selectLineColor);
  dword(u"if Templet", report_.useTemplate ? 1 : 0);
  text(u"Word Templet", report_.wordTemplate);
  text(u"Excel Templet", report_.excelTemplate);
  dword(u"If Header", report_.printHeader ? 1 : 0);
  for (int i = 0; i < kReportHeaderCount; ++i) text(HeaderValueName(i), report_.headers[std::size_t(i)]);
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
  ReadText(key, u"Video Path", video_.folder);
  CheckFolder(video_.folder, u"Video", false);
  ReadText(key, u"Video Prefix", video_.prefix);
  ReadInt(key, u"Video Quality", video_.quality);
  ReadInt(key, u"Video Codec", video_.codec);
  ReadText(key, u"Image Path", capture_.imageFolder);
  CheckFolder(capture_.imageFolder, u"Image", false);
  ReadInt(key, u"JPEG Quality", capture_.jpegQuality);
  ReadBool(key, u"If Measure", capture_.ifMeasure);
  ReadInt(key, u"Image Type", capture_.imageType);
  ReadBool(key, u"If Continuous", capture_.ifContinuous);
  ReadInt(key, u"Time Interval", capture_.timeInterval);
  ReadBool(key, u"If Frame", capture_.ifFrame);
  ReadInt(key, u"FrameTotal", capture_.frameTotal);
  ReadText(key, u"Image Name", capture_.imageName);
  ReadBool(key, u"Use Def Name", capture_.useDefaultName);
  ReadInt(key, u"Capture Count", capture_.captureCount);
  ReadInt(key, u"Grid Interval", grid_.gridInterval);
  ReadInt(key, u"Grid Width", grid_.gridWidth);
  ReadColor(key, u"Grid Color", grid_.gridColor);
  ReadInt(key, u"Select Line Type", grid_.selectLineType);
  ReadInt(key, u"Select Line Width", grid_.selectLineWidth);
  ReadColor(key, u"Select Line Color", grid_.selectLineColor);
  ReadBool(key, u"if Templet", report_.useTemplate);
  ReadText(key, u"Word Templet", report_.wordTemplate);
  ReadText(key, u"Excel Templet", report_.excelTemplate);
  ReadBool(key, u"If Header", report_.printHeader);
  for (int i = 0; i < kReportHeaderCount; ++i) ReadText(key, HeaderValueName(i), report_.headers[std::size_t(i)]);
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
