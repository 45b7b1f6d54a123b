// Resolution, region of interest and media: the preview and capture sizes (presets or a
// region of interest), the display size, the raw formats, and the capability block.
#include <cstring>

#include "platform/camsdk/handles.h"

namespace camsdk {
namespace {

const CamSdkRangeRecord kRange = {kAeTargetMin,    kAeTargetMax, kAnalogGainMin, kAnalogGainMax,
                                  kAnalogGainStep, kBlackMin,    kBlackMax,      0};

}  // namespace

bool SameSize(const SizeSel& a, const SizeSel& b) {
  if (a.roi != b.roi) return false;
  if (a.roi) return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  return a.preset == b.preset;
}

}  // namespace camsdk

using namespace camsdk;

CamSdkStatus CameraGetImageSize(int handle, CamSdkImageSizeArea* area, int* x, int* y, int* width, int* height, int which) {
  CAMSDK_ENTER(handle, area, x, y, width, height, which);
  if (!x || !y || !width || !height || (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE))
    CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const SizeSel& s = which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture;
    const Mode m = ModeOf(c.model, s);
    *x = m.roi ? m.offsetX : 0;
    *y = m.roi ? m.offsetY : 0;
    *width = m.width;
    *height = m.height;
    if (area) {
      std::memset(area, 0, sizeof *area);
      area->roi = m.roi ? 1 : 0;
      area->index = m.preset;
      area->offsetX = *x;
      area->offsetY = *y;
      area->width = m.width;
      area->height = m.height;
      area->binning = m.roi ? 1 : c.model.resolutions[m.preset].binning;
      area->sum = m.sum ? 1 : 0;
      area->sensorWidth = c.model.sensorWidth;
      area->sensorHeight = c.model.sensorHeight;
    }
    if (which == CAMSDK_SIZE_PREVIEW) c.lastReportedBytes = std::size_t(m.width) * m.height;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetImageSize(int handle, int roi, int x, int y, int width, int height, int which) {
  CAMSDK_ENTER(handle, roi, x, y, width, height, which);
  if (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const ModelInfo& m = c.model;
    SizeSel s;
    if (roi) {
      const bool ok = x >= 0 && y >= 0 && width >= m.roiMinW && height >= m.roiMinH && x % m.roiAlignX == 0 &&
                      y % m.roiAlignY == 0 && width % m.roiAlignW == 0 && height % m.roiAlignH == 0 &&
                      std::int64_t(x) + width <= m.sensorWidth && std::int64_t(y) + height <= m.sensorHeight;
      if (!ok) return CAMSDK_STATUS_INVALID_PARAMETER;
      s = {0, 1, x, y, width, height};
    }
    (which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture) = s;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetImageSizeSel(int handle, int* index, int which) {
  CAMSDK_ENTER(handle, index, which);
  if (!index || (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE))
    CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const SizeSel& s = which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture;
    *index = s.roi ? c.model.resolutionCount : s.preset;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetImageSizeSel(int handle, int index, int which) {
  CAMSDK_ENTER(handle, index, which);
  if (which != CAMSDK_SIZE_PREVIEW && which != CAMSDK_SIZE_CAPTURE) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (index < 0 || index >= c.model.resolutionCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    SizeSel s;
    s.preset = index;
    (which == CAMSDK_SIZE_PREVIEW ? c.p.preview : c.p.capture) = s;
    Changed(c, true);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetDisplaySize(int handle, int width, int height) {
  CAMSDK_ENTER(handle, width, height);
  if (width < 0 || height < 0) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.displayWidth = width;
    c.displayHeight = height;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetMediaTypeSel(int handle, int index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (index < 0 || index >= c.model.mediaTypeCount) return CAMSDK_STATUS_INVALID_PARAMETER;
    c.p.mediaSel = index;
    return CAMSDK_STATUS_OK;
  }));
}
CamSdkStatus CameraGetMediaTypeSel(int handle, int* index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(GetInt(handle, index, &Params::mediaSel));
}
CamSdkStatus CameraGetMediaType(int handle, int* format) {
  CAMSDK_ENTER(handle, format);
  if (!format) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *format = FormatOf(c);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetCapability(int handle, CamSdkCapability* cap) {
  CAMSDK_ENTER(handle, cap);
  if (!cap) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    const ModelInfo& m = c.model;
    *cap = CamSdkCapability{};
    cap->colorSensor = m.color ? 1 : 0;
    cap->monoSensor = m.color ? 0 : 1;
    cap->redGainMin = cap->greenGainMin = cap->blueGainMin = kGainMin;
    cap->redGainMax = cap->greenGainMax = cap->blueGainMax = kGainMax;
    cap->saturationMin = kSaturationMin;
    cap->saturationMax = kSaturationMax;
    cap->gammaMin = kGammaMin;
    cap->gammaMax = kGammaMax;
    cap->contrastMin = kContrastMin;
    cap->contrastMax = kContrastMax;
    cap->sharpnessMin = kSharpnessMin;
    cap->sharpnessMax = kSharpnessMax;
    cap->range = &kRange;
    cap->resolutions = m.resolutions;
    cap->resolutionCount = m.resolutionCount;
    cap->mediaTypes = m.mediaTypes;
    cap->mediaTypeCount = m.mediaTypeCount;
    cap->frameSpeedCount = m.frameSpeedCount;
    cap->colorPresets = ColorPresetRecords();
    cap->colorPresetCount = int(ColorPresets().size());
    cap->sensorWidth = m.sensorWidth;
    cap->sensorHeight = m.sensorHeight;
    cap->roiAlignX = m.roiAlignX;
    cap->roiAlignY = m.roiAlignY;
    cap->roiAlignWidth = m.roiAlignW;
    cap->roiAlignHeight = m.roiAlignH;
    cap->roiMinWidth = m.roiMinW;
    cap->roiMinHeight = m.roiMinH;
    cap->parameterTeams = CAMSDK_PARAMETER_TEAMS;
    cap->lackingControls = std::int32_t(LackingControls(m));
    return CAMSDK_STATUS_OK;
  }));
}
