// Exposure: the exposure time in whole sensor lines, the analog gain, the frame speed, and the
// automatic exposure that steers them from the statistics of each frame.
#include <algorithm>

#include <opencv2/core.hpp>

#include "platform/camsdk/handles.h"

namespace camsdk {
namespace {

int SiteColor(int pattern, int x, int y) {
  // Processed colour is sampled as an RGGB mosaic (see Sample).
  static const int kSites[6][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}, {0, 1, 1, 2}};
  return kSites[pattern][(y & 1) * 2 + (x & 1)];
}

// The window in image coordinates (sensor coordinates minus the image's origin), clipped; the
// whole image when it is empty or misses the image.
cv::Rect WindowRect(const Window& w, const CamSdkFrameInfo& info) {
  const cv::Rect image(0, 0, info.width, info.height);
  if (w.width <= 0 || w.height <= 0) return image;
  const cv::Rect r = cv::Rect(w.x - info.offsetX, w.y - info.offsetY, w.width, w.height) & image;
  return r.area() > 0 ? r : image;
}

float QuantiseGain(double g) {
  return float(std::round(std::clamp(g, double(kAnalogGainMin), double(kAnalogGainMax)) / kAnalogGainStep) *
               kAnalogGainStep);
}

// The whole number of lines nearest to an exposure time, within the model's range. Clamped
// before rounding: adding half a line would wrap for requests near the 64-bit maximum.
std::uint32_t LinesFor(const Camera& c, std::uint64_t exposure) {
  const std::uint64_t lt = LineTime(c);
  exposure = std::min(exposure, std::uint64_t(c.model.maxExposureLines) * lt);
  return std::uint32_t(std::clamp<std::uint64_t>((exposure + lt / 2) / lt, 1, c.model.maxExposureLines));
}

}  // namespace

Stats ComputeStats(const std::vector<std::uint8_t>& raw, const CamSdkFrameInfo& info, const Window& ae,
                   const Window& wb) {
  Stats s;
  const double scale = CamSdkRawBits(info.format) > 8 ? 1.0 / 16.0 : 1.0;
  const int pattern = CamSdkRawPattern(info.format);
  {
    // Whole 2x2 quads, so that every site colour counts as in the picture.
    const cv::Rect r = WindowRect(ae, info);
    const int step = 2 * std::max(1, int(std::sqrt(double(r.area()) / 160000.0)));
    double sum = 0;
    long n = 0;
    for (int y = r.y; y < r.y + r.height; y += step)
      for (int x = r.x; x < r.x + r.width; x += step) {
        const int x1 = std::min(x + 1, r.x + r.width - 1), y1 = std::min(y + 1, r.y + r.height - 1);
        sum +=
            Sample(raw, info, x, y) + Sample(raw, info, x1, y) + Sample(raw, info, x, y1) + Sample(raw, info, x1, y1);
        n += 4;
      }
    s.valid = n > 0;
    s.mean = n > 0 ? sum / n * scale : 0;
  }
  if (pattern != CAMSDK_PATTERN_MONO) {
    const cv::Rect r = WindowRect(wb, info);
    const int step = 2 * std::max(1, int(std::sqrt(double(r.area()) / 160000.0)));
    double sum[3] = {0, 0, 0};
    long n = 0;
    const int limit = int(250 / scale);
    for (int y = r.y & ~1; y + 1 < r.y + r.height; y += step)
      for (int x = r.x & ~1; x + 1 < r.x + r.width; x += step) {
        const int v[4] = {Sample(raw, info, x, y), Sample(raw, info, x + 1, y), Sample(raw, info, x, y + 1),
                          Sample(raw, info, x + 1, y + 1)};
        if (*std::max_element(v, v + 4) >= limit) continue;  // clipped quads carry no colour
        for (int k = 0; k < 4; ++k) sum[SiteColor(pattern, x + (k & 1), y + (k >> 1))] += v[k];
        ++n;
      }
    if (n > 16) {
      // Each quad holds one red, two green and one blue site.
      s.site[0] = sum[0] / n * scale;
      s.site[1] = sum[1] / (2.0 * n) * scale;
      s.site[2] = sum[2] / n * scale;
      s.wbValid = s.site[0] > 0.5 && s.site[1] > 0.5 && s.site[2] > 0.5;
    }
  }
  return s;
}

void StepAe(Camera& c, const Stats& s) {
  Params& p = c.p;
  if (!p.aeOn || !s.valid) return;
  const double target = p.aeTarget, mean = std::max(s.mean, 0.5);
  if (std::fabs(mean - target) <= std::max(2.0, 0.02 * target)) return;
  static const double kSpeed[4] = {0.3, 0.75, 0.75, 0.6};
  const double ratio = std::pow(std::clamp(target / mean, 0.125, 8.0), kSpeed[p.aeScheme]);
  const double lt = LineTime(c);
  const double curExp = double(ExposureOf(c)), curGain = p.analogGain;
  const double total = curExp * curGain * ratio;
  const double ceiling =
      std::min(double(c.model.maxExposureLines) * lt, p.aeScheme == CAMSDK_AE_SCHEME_FLUOROCHROME ? 5e7 : 1e7);
  double exp = curExp, gain = curGain;
  if (p.aeMode == CAMSDK_AE_GAIN_ONLY) {
    gain = total / curExp;
  } else if (p.aeMode == CAMSDK_AE_EXPOSURE_ONLY) {
    exp = std::clamp(total / curGain, lt, std::max(lt, ceiling));
  } else {
    exp = std::clamp(total / kAnalogGainMin, lt, std::max(lt, ceiling));
    gain = total / exp;
  }
  if (p.antiFlick && p.aeMode != CAMSDK_AE_GAIN_ONLY) {
    // Whole flicker periods, so every frame collects the same light.
    const double period = p.lightFrequency == CAMSDK_LIGHT_60HZ ? 1e7 / 120.0 : 1e7 / 100.0;
    if (exp >= period) exp = std::floor(exp / period) * period;
    if (p.aeMode == CAMSDK_AE_GAIN_AND_EXPOSURE) gain = total / exp;
  }
  const std::uint32_t lines =
      std::uint32_t(std::clamp(std::ceil(exp / lt - 1e-9), 1.0, double(c.model.maxExposureLines)));
  const float newGain = QuantiseGain(gain);
  // Keep the present setting unless the new one brings the picture closer to the target (the
  // gain moves in coarse steps).
  const double predicted = mean * (lines * lt * newGain) / (curExp * curGain);
  if (std::fabs(predicted - target) >= std::fabs(mean - target)) return;
  if (lines != p.exposureLines || newGain != p.analogGain) {
    p.exposureLines = lines;
    p.analogGain = newGain;
    Changed(c, true);
  }
}

}  // namespace camsdk

using namespace camsdk;

CamSdkStatus CameraSetExposureTime(int handle, std::uint64_t exposure) {
  CAMSDK_ENTER(handle, exposure);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.exposureLines = LinesFor(c, exposure);
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetExposureTime(int handle, std::uint64_t* exposure, std::uint64_t* maximum, std::uint64_t* minimum) {
  CAMSDK_ENTER(handle, exposure, maximum, minimum);
  if (!exposure || !maximum || !minimum) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *exposure = ExposureOf(c);
    *maximum = std::uint64_t(c.model.maxExposureLines) * LineTime(c);
    *minimum = LineTime(c);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetAnalogGain(int handle, float gain) {
  CAMSDK_ENTER(handle, gain);
  if (!Finite(gain)) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.analogGain = QuantiseGain(gain);
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetAnalogGain(int handle, float* gain) {
  CAMSDK_ENTER(handle, gain);
  if (!gain) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *gain = c.p.analogGain;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetAeState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::aeOn));
}
CamSdkStatus CameraGetAeState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::aeOn));
}
CamSdkStatus CameraSetAeMode(int handle, int mode) {
  CAMSDK_ENTER(handle, mode);
  CAMSDK_RETURN(SetInt(handle, mode, 0, 2, &Params::aeMode));
}
CamSdkStatus CameraGetAeMode(int handle, int* mode) {
  CAMSDK_ENTER(handle, mode);
  CAMSDK_RETURN(GetInt(handle, mode, &Params::aeMode));
}
CamSdkStatus CameraSetAeScheme(int handle, int scheme) {
  CAMSDK_ENTER(handle, scheme);
  CAMSDK_RETURN(SetInt(handle, scheme, 0, 3, &Params::aeScheme));
}
CamSdkStatus CameraGetAeScheme(int handle, int* scheme) {
  CAMSDK_ENTER(handle, scheme);
  CAMSDK_RETURN(GetInt(handle, scheme, &Params::aeScheme));
}
CamSdkStatus CameraSetAeTarget(int handle, int target) {
  CAMSDK_ENTER(handle, target);
  CAMSDK_RETURN(SetInt(handle, target, kAeTargetMin, kAeTargetMax, &Params::aeTarget));
}
CamSdkStatus CameraGetAeTarget(int handle, int* target) {
  CAMSDK_ENTER(handle, target);
  CAMSDK_RETURN(GetInt(handle, target, &Params::aeTarget));
}
CamSdkStatus CameraSetAEWindow(int handle, int x, int y, int width, int height) {
  CAMSDK_ENTER(handle, x, y, width, height);
  CAMSDK_RETURN(SetWindow(handle, x, y, width, height, &Params::aeWindow));
}
CamSdkStatus CameraSetAntiFlick(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::antiFlick));
}
CamSdkStatus CameraGetAntiFlick(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::antiFlick));
}
CamSdkStatus CameraSetLightFrequency(int handle, int frequency) {
  CAMSDK_ENTER(handle, frequency);
  CAMSDK_RETURN(SetInt(handle, frequency, 0, 1, &Params::lightFrequency));
}
CamSdkStatus CameraGetLightFrequency(int handle, int* frequency) {
  CAMSDK_ENTER(handle, frequency);
  CAMSDK_RETURN(GetInt(handle, frequency, &Params::lightFrequency));
}

CamSdkStatus CameraSetFrameSpeed(int handle, int speed) {
  CAMSDK_ENTER(handle, speed);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (speed < 0 || speed >= c.model.frameSpeedCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    // Keep the exposure time, in lines of the new speed.
    const std::uint64_t exposure = ExposureOf(c);
    c.p.frameSpeed = speed;
    c.p.exposureLines = LinesFor(c, exposure);
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}
CamSdkStatus CameraGetFrameSpeed(int handle, int* speed) {
  CAMSDK_ENTER(handle, speed);
  CAMSDK_RETURN(GetInt(handle, speed, &Params::frameSpeed));
}
