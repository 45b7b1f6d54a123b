// Parameter teams and defaults: the four saved sets of every parameter, the factory set, the
// library's settings folder, and the dead-pixel info kept with the teams.
#include <algorithm>
#include <cstdlib>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/handles.h"

namespace camsdk {
namespace {

std::mutex gConfigMutex;
std::string gConfigDir;

void Put(std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, int x, int y, int v) {
  const std::size_t i = std::size_t(y) * info.width + x;
  if (CamSdkRawBits(info.format) > 8) {
    raw[2 * i] = std::uint8_t(v & 0xFF);
    raw[2 * i + 1] = std::uint8_t(v >> 8);
  } else {
    raw[i] = std::uint8_t(v);
  }
}

// Pixels of a dark frame that stand out from their same-colour neighbours.
std::vector<CamSdkPoint> FindDefects(const cv::Mat& mean, int pattern) {
  const int step = pattern == CAMSDK_PATTERN_MONO ? 1 : 2;
  std::mutex mu;
  std::vector<CamSdkPoint> found;
  cv::parallel_for_(cv::Range(0, mean.rows), [&](const cv::Range& range) {
    std::vector<CamSdkPoint> local;
    for (int y = range.start; y < range.end; ++y) {
      const float* row = mean.ptr<float>(y);
      for (int x = 0; x < mean.cols; ++x) {
        const float v = row[x];
        float nb[8];
        int n = 0;
        for (int dy = -step; dy <= step; dy += step)
          for (int dx = -step; dx <= step; dx += step) {
            if ((dx == 0 && dy == 0) || x + dx < 0 || y + dy < 0 || x + dx >= mean.cols || y + dy >= mean.rows)
              continue;
            nb[n++] = mean.at<float>(y + dy, x + dx);
          }
        if (n < 3) continue;
        std::nth_element(nb, nb + n / 2, nb + n);
        const float median = nb[n / 2];
        if (v - median > std::max(40.0f, 0.5f * median)) local.push_back({x, y});
      }
    }
    std::lock_guard<std::mutex> lock(mu);
    found.insert(found.end(), local.begin(), local.end());
  });
  std::sort(found.begin(), found.end(),
            [](const CamSdkPoint& a, const CamSdkPoint& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  if (found.size() > 4096) found.resize(4096);  // a lit scene is no dark frame
  return found;
}

}  // namespace

bool MapToMode(const Mode& mode, const CamSdkPoint& p, int* x, int* y) {
  if (mode.roi) {
    *x = p.x - mode.offsetX;
    *y = p.y - mode.offsetY;
  } else {
    *x = int(std::floor(p.x * mode.scaleX));
    *y = int(std::floor(p.y * mode.scaleY));
  }
  return *x >= 0 && *y >= 0 && *x < mode.width && *y < mode.height;
}

void CorrectDefects(std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Mode& mode,
                    const std::vector<CamSdkPoint>& defects) {
  const int step = CamSdkRawPattern(info.format) == CAMSDK_PATTERN_MONO ? 1 : 2;
  for (const CamSdkPoint& d : defects) {
    int x, y;
    if (!MapToMode(mode, d, &x, &y)) continue;
    int sum = 0, n = 0;
    const int nb[4][2] = {{-step, 0}, {step, 0}, {0, -step}, {0, step}};
    for (const auto& o : nb) {
      const int nx = x + o[0], ny = y + o[1];
      if (nx < 0 || ny < 0 || nx >= info.width || ny >= info.height) continue;
      sum += Sample(raw, info, nx, ny);
      ++n;
    }
    if (n > 0) Put(raw, info, x, y, (sum + n / 2) / n);
  }
}

}  // namespace camsdk

using namespace camsdk;

CamSdkStatus CameraSetDeadPixelCorrectionState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::deadPixelCorrection));
}
CamSdkStatus CameraGetDeadPixelCorrectionState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::deadPixelCorrection));
}

CamSdkStatus CameraCreateDefectCorrectionInfo(int handle) {
  CAMSDK_ENTER(handle);
  std::shared_ptr<Camera> cam = Find(handle);
  if (!cam) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_HANDLE);
  // Full resolution, so the info holds sensor coordinates; without the old correction.
  cv::Mat sum;
  int format = 0;
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>& lock) {
    SizeSel full;
    // Processed colour has no raw sites: its frames are searched as grey.
    const int media = FormatOf(c);
    format = media == CAMSDK_RAW_BGR8 ? media : CamSdkRaw8Of(media);
    for (int i = 0; i < 4; ++i) {
      std::vector<std::uint8_t> raw;
      CamSdkFrameInfo info{};
      c.frameNumber += 7;  // other noise
      if (const CamSdkStatus r = Snapshot(c, lock, full, format, raw, &info, false); r != CAMSDK_STATUS_OK) return r;
      cv::Mat frame(info.height, info.width, format == CAMSDK_RAW_BGR8 ? CV_8UC3 : CV_8U, raw.data()), grey;
      if (format == CAMSDK_RAW_BGR8) cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
      else grey = frame;
      if (sum.empty()) sum = cv::Mat::zeros(info.height, info.width, CV_32F);
      cv::accumulate(grey, sum);
    }
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK) CAMSDK_RETURN(r);
  sum /= 4.0;
  const int pattern = CamSdkRawPattern(format);
  const std::vector<CamSdkPoint> found = FindDefects(sum, pattern == CAMSDK_PATTERN_BGR ? CAMSDK_PATTERN_MONO : pattern);
  const int r2 = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.settings.defects = found;
    c.defects = std::make_shared<std::vector<CamSdkPoint>>(found);
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r2 != CAMSDK_STATUS_OK) CAMSDK_RETURN(r2);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

CamSdkStatus CameraSaveParameter(int handle, int team) {
  CAMSDK_ENTER(handle, team);
  if (team < 0 || team >= CAMSDK_PARAMETER_TEAMS) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.settings.teams[team] = c.p;
    c.settings.saved[team] = true;
    c.settings.currentTeam = team;
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK || !cam) CAMSDK_RETURN(r);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

CamSdkStatus CameraReadParameter(int handle, int team) {
  CAMSDK_ENTER(handle, team);
  if (team < 0 || team >= CAMSDK_PARAMETER_TEAMS) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  std::shared_ptr<Camera> cam = Find(handle);
  DeviceSettings settings;
  const int r = With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p = c.settings.saved[team] ? c.settings.teams[team] : FactoryParams(c.model);
    c.settings.currentTeam = team;
    c.onceWbPending = false;
    Changed(c, true);
    settings = c.settings;
    return CAMSDK_STATUS_OK;
  });
  if (r != CAMSDK_STATUS_OK || !cam) CAMSDK_RETURN(r);
  CAMSDK_RETURN(SaveDeviceSettings(cam->model, settings) ? CAMSDK_STATUS_OK : CAMSDK_STATUS_FILE_ERROR);
}

CamSdkStatus CameraLoadDefaultParameter(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p = FactoryParams(c.model);
    c.onceWbPending = false;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetCurrentParameterTeam(int handle, int* team) {
  CAMSDK_ENTER(handle, team);
  if (!team) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *team = c.settings.currentTeam;
    return CAMSDK_STATUS_OK;
  }));
}

void CamSdkSetConfigDir(const char* folder) {
  std::lock_guard<std::mutex> lock(gConfigMutex);
  gConfigDir = folder ? folder : "";
}

std::string CamSdkConfigDir() {
  {
    std::lock_guard<std::mutex> lock(gConfigMutex);
    if (!gConfigDir.empty()) return gConfigDir;
  }
  if (const char* env = std::getenv("Q7V_CAMSDK_CONFIG_DIR"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/q7v-camsdk";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/q7v-camsdk";
  return ".";
}
