// Colour and image controls: white balance (once, automatic, by window), black level, gamma,
// contrast, saturation, sharpening, mirror, inverse, monochrome and the colour matrix.
#include <algorithm>

#include "platform/camsdk/handles.h"

namespace camsdk {

void StepWb(Camera& c, const Stats& s) {
  Params& p = c.p;
  if (!c.model.color || !s.wbValid || !(p.awbOn || c.onceWbPending)) return;
  const double bl[3] = {p.blackState ? double(p.blackR) : 0.0, p.blackState ? double(p.blackG) : 0.0,
                        p.blackState ? double(p.blackB) : 0.0};
  const double r = s.site[0] - bl[0], g = s.site[1] - bl[1], b = s.site[2] - bl[2];
  if (r <= 0.5 || g <= 0.5 || b <= 0.5) return;
  const double tr = std::clamp(p.gainG * g / r, double(kGainMin), double(kGainMax));
  const double tb = std::clamp(p.gainG * g / b, double(kGainMin), double(kGainMax));
  const double k = c.onceWbPending ? 1.0 : 0.3;
  p.gainR = float(p.gainR + k * (tr - p.gainR));
  p.gainB = float(p.gainB + k * (tb - p.gainB));
  c.onceWbPending = false;
  Changed(c);
}

int SetInt(int handle, int value, int lo, int hi, int Params::*field, bool colorOnly, bool timing) {
  if (value < lo || value > hi) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (colorOnly && !c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.p.*field = value;
    Changed(c, timing);
    return CAMSDK_STATUS_OK;
  });
}

int SetFlag(int handle, int value, int Params::*field) { return SetInt(handle, value != 0, 0, 1, field); }

int SetWindow(int handle, int x, int y, int width, int height, Window Params::*field) {
  if (width < 0 || height < 0) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.*field = Window{x, y, width, height};
    return CAMSDK_STATUS_OK;
  });
}

int GetInt(int handle, int* out, int Params::*field, bool colorOnly) {
  if (!out) return CAMSDK_STATUS_INVALID_PARAMETER;
  return With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (colorOnly && !c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    *out = c.p.*field;
    return CAMSDK_STATUS_OK;
  });
}

}  // namespace camsdk

using namespace camsdk;

CamSdkStatus CameraSetGain(int handle, float red, float green, float blue) {
  CAMSDK_ENTER(handle, red, green, blue);
  for (float g : {red, green, blue})
    if (!Finite(g) || g < kGainMin || g > kGainMax) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.p.gainR = red;
    c.p.gainG = green;
    c.p.gainB = blue;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetGain(int handle, float* red, float* green, float* blue) {
  CAMSDK_ENTER(handle, red, green, blue);
  if (!red || !green || !blue) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *red = c.p.gainR;
    *green = c.p.gainG;
    *blue = c.p.gainB;
    return c.model.color ? CAMSDK_STATUS_OK : CAMSDK_STATUS_NOT_SUPPORTED;
  }));
}

CamSdkStatus CameraSetOnceWB(int handle) {
  CAMSDK_ENTER(handle);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    c.onceWbPending = true;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetWBWindow(int handle, int x, int y, int width, int height) {
  CAMSDK_ENTER(handle, x, y, width, height);
  CAMSDK_RETURN(SetWindow(handle, x, y, width, height, &Params::wbWindow));
}

CamSdkStatus CameraSetAWBState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetInt(handle, on != 0, 0, 1, &Params::awbOn, true));
}
CamSdkStatus CameraGetAWBState(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::awbOn, true));
}

CamSdkStatus CameraSetBlackLevelState(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::blackState));
}

CamSdkStatus CameraSetBlackLevel(int handle, int red, int green, int blue, int bound) {
  CAMSDK_ENTER(handle, red, green, blue, bound);
  const int limit = std::min(bound, kBlackMax);
  for (int v : {red, green, blue})
    if (bound < 0 || v < -limit || v > limit) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    c.p.blackR = red;
    c.p.blackG = green;
    c.p.blackB = blue;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraGetBlackLevel(int handle, int* level, int* minimum, int* maximum) {
  CAMSDK_ENTER(handle, level, minimum, maximum);
  if (!level || !minimum || !maximum) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    *level = c.p.blackG;
    *minimum = kBlackMin;
    *maximum = kBlackMax;
    return CAMSDK_STATUS_OK;
  }));
}

CamSdkStatus CameraSetGamma(int handle, int gamma) {
  CAMSDK_ENTER(handle, gamma);
  CAMSDK_RETURN(SetInt(handle, gamma, kGammaMin, kGammaMax, &Params::gamma));
}
CamSdkStatus CameraGetGamma(int handle, int* gamma) {
  CAMSDK_ENTER(handle, gamma);
  CAMSDK_RETURN(GetInt(handle, gamma, &Params::gamma));
}
CamSdkStatus CameraSetContrast(int handle, int contrast) {
  CAMSDK_ENTER(handle, contrast);
  CAMSDK_RETURN(SetInt(handle, contrast, kContrastMin, kContrastMax, &Params::contrast));
}
CamSdkStatus CameraGetContrast(int handle, int* contrast) {
  CAMSDK_ENTER(handle, contrast);
  CAMSDK_RETURN(GetInt(handle, contrast, &Params::contrast));
}
CamSdkStatus CameraSetColorEnhancement(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::colorEnhance));
}
CamSdkStatus CameraSetSaturation(int handle, int saturation) {
  CAMSDK_ENTER(handle, saturation);
  CAMSDK_RETURN(SetInt(handle, saturation, kSaturationMin, kSaturationMax, &Params::saturation));
}
CamSdkStatus CameraGetSaturation(int handle, int* saturation) {
  CAMSDK_ENTER(handle, saturation);
  CAMSDK_RETURN(GetInt(handle, saturation, &Params::saturation));
}
CamSdkStatus CameraSetEdgeEnhance(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::edgeOn));
}
CamSdkStatus CameraGetEdgeEnhance(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::edgeOn));
}
CamSdkStatus CameraSetEdgeGain(int handle, int gain) {
  CAMSDK_ENTER(handle, gain);
  CAMSDK_RETURN(SetInt(handle, gain, kSharpnessMin, kSharpnessMax, &Params::edgeGain));
}
CamSdkStatus CameraGetEdgeGain(int handle, int* gain) {
  CAMSDK_ENTER(handle, gain);
  CAMSDK_RETURN(GetInt(handle, gain, &Params::edgeGain));
}

CamSdkStatus CameraSetMirror(int handle, int direction, int on) {
  CAMSDK_ENTER(handle, direction, on);
  if (direction == CAMSDK_MIRROR_HORIZONTAL) CAMSDK_RETURN(SetFlag(handle, on, &Params::mirrorH));
  if (direction == CAMSDK_MIRROR_VERTICAL) CAMSDK_RETURN(SetFlag(handle, on, &Params::mirrorV));
  CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
}
CamSdkStatus CameraGetMirror(int handle, int direction, int* on) {
  CAMSDK_ENTER(handle, direction, on);
  if (direction == CAMSDK_MIRROR_HORIZONTAL) CAMSDK_RETURN(GetInt(handle, on, &Params::mirrorH));
  if (direction == CAMSDK_MIRROR_VERTICAL) CAMSDK_RETURN(GetInt(handle, on, &Params::mirrorV));
  CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
}
CamSdkStatus CameraSetInverse(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::inverse));
}
CamSdkStatus CameraGetInverse(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::inverse));
}
CamSdkStatus CameraSetMonochrome(int handle, int on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(SetFlag(handle, on, &Params::monochrome));
}
CamSdkStatus CameraGetMonochrome(int handle, int* on) {
  CAMSDK_ENTER(handle, on);
  CAMSDK_RETURN(GetInt(handle, on, &Params::monochrome));
}

CamSdkStatus CameraSetRgbMatrixSel(int handle, int index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(SetInt(handle, index, 0, int(ColorPresets().size()) - 1, &Params::matrixSel, true));
}
CamSdkStatus CameraGetRgbMatrixSel(int handle, int* index) {
  CAMSDK_ENTER(handle, index);
  CAMSDK_RETURN(GetInt(handle, index, &Params::matrixSel));
}
CamSdkStatus CameraApplyColorMatrix(int handle, const float matrix[9]) {
  CAMSDK_ENTER(handle, matrix);
  if (!matrix) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  for (int i = 0; i < 9; ++i)
    if (!Finite(matrix[i]) || std::fabs(matrix[i]) > 16.0f) CAMSDK_RETURN(CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_RETURN(With(handle, [&](Camera& c, std::unique_lock<std::mutex>&) {
    if (!c.model.color) return CAMSDK_STATUS_NOT_SUPPORTED;
    std::copy(matrix, matrix + 9, c.p.matrix.begin());
    c.p.matrixSel = -1;
    Changed(c);
    return CAMSDK_STATUS_OK;
  }));
}
