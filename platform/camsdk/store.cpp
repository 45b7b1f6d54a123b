// The library's settings file: one section per device name with the current team, the saved
// teams and the dead-pixel info, as "key=value" lines.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <mutex>
#include <sstream>

#include "platform/camsdk/core.h"
#include "platform/durable_file.h"

namespace camsdk {

Params FactoryParams(const ModelInfo& model) {
  Params p;
  p.frameSpeed = model.frameSpeedCount > 1 ? 1 : 0;
  p.exposureLines = std::max<std::uint32_t>(1, std::uint32_t(std::lround(150000.0 / model.lineTime[p.frameSpeed])));
  // The simulated colour sensors' gains balance their own sensitivities; every other camera
  // (mono, balanced colour, a real sensor of unknown response) starts without gains.
  const bool simulated = model.key && FindSimModel(model.key) == &model;
  if (!model.color || model.pattern == CAMSDK_PATTERN_BGR || !simulated) p.gainR = p.gainG = p.gainB = 1.0f;
  return p;
}

namespace {

template <typename T>
void ClampTo(T* v, T lo, T hi) {
  *v = std::clamp(*v, lo, hi);
}

void SanitizeSize(const ModelInfo& m, SizeSel* s) {
  ClampTo(&s->preset, 0, m.resolutionCount - 1);
  if (s->roi) {
    const bool ok = s->x >= 0 && s->y >= 0 && s->width >= m.roiMinW && s->height >= m.roiMinH &&
                    s->x % m.roiAlignX == 0 && s->y % m.roiAlignY == 0 && s->width % m.roiAlignW == 0 &&
                    s->height % m.roiAlignH == 0 && s->x + s->width <= m.sensorWidth &&
                    s->y + s->height <= m.sensorHeight;
    if (!ok) s->roi = 0;
  }
  if (!s->roi) s->x = s->y = s->width = s->height = 0;
}

// Visits every field of a parameter set with its key.
void VisitParams(Params& p, const std::function<void(const char*, int*)>& i, const std::function<void(const char*, float*)>& f) {
  i("preview.preset", &p.preview.preset);
  i("preview.roi", &p.preview.roi);
  i("preview.x", &p.preview.x);
  i("preview.y", &p.preview.y);
  i("preview.width", &p.preview.width);
  i("preview.height", &p.preview.height);
  i("capture.preset", &p.capture.preset);
  i("capture.roi", &p.capture.roi);
  i("capture.x", &p.capture.x);
  i("capture.y", &p.capture.y);
  i("capture.width", &p.capture.width);
  i("capture.height", &p.capture.height);
  i("mediaSel", &p.mediaSel);
  i("frameSpeed", &p.frameSpeed);
  i("exposureLines", reinterpret_cast<int*>(&p.exposureLines));
  f("analogGain", &p.analogGain);
  i("aeOn", &p.aeOn);
  i("aeMode", &p.aeMode);
  i("aeScheme", &p.aeScheme);
  i("aeTarget", &p.aeTarget);
  i("aeWindow.x", &p.aeWindow.x);
  i("aeWindow.y", &p.aeWindow.y);
  i("aeWindow.width", &p.aeWindow.width);
  i("aeWindow.height", &p.aeWindow.height);
  i("wbWindow.x", &p.wbWindow.x);
  i("wbWindow.y", &p.wbWindow.y);
  i("wbWindow.width", &p.wbWindow.width);
  i("wbWindow.height", &p.wbWindow.height);
  i("antiFlick", &p.antiFlick);
  i("lightFrequency", &p.lightFrequency);
  f("gainR", &p.gainR);
  f("gainG", &p.gainG);
  f("gainB", &p.gainB);
  i("awbOn", &p.awbOn);
  i("blackState", &p.blackState);
  i("blackR", &p.blackR);
  i("blackG", &p.blackG);
  i("blackB", &p.blackB);
  i("gamma", &p.gamma);
  i("contrast", &p.contrast);
  i("colorEnhance", &p.colorEnhance);
  i("saturation", &p.saturation);
  i("edgeOn", &p.edgeOn);
  i("edgeGain", &p.edgeGain);
  i("mirrorH", &p.mirrorH);
  i("mirrorV", &p.mirrorV);
  i("inverse", &p.inverse);
  i("monochrome", &p.monochrome);
  i("matrixSel", &p.matrixSel);
  static const char* kMatrixKeys[9] = {"matrix0", "matrix1", "matrix2", "matrix3", "matrix4",
                                       "matrix5", "matrix6", "matrix7", "matrix8"};
  for (int k = 0; k < 9; ++k) f(kMatrixKeys[k], &p.matrix[k]);
  i("deadPixelCorrection", &p.deadPixelCorrection);
}

std::mutex gFileMutex;
using Section = std::map<std::string, std::string>;
using FileData = std::map<std::string, Section>;

std::filesystem::path SettingsPath() { return std::filesystem::path(CamSdkConfigDir()) / "camsdk-params.ini"; }

FileData ReadFile() {
  FileData data;
  std::ifstream in(SettingsPath());
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos || section.empty()) continue;
    data[section][line.substr(0, eq)] = line.substr(eq + 1);
  }
  return data;
}

// Written whole through a temporary file that is synced and renamed: a crash or a full disk
// leaves the old file as it was, and the failure's errno is left for the caller (LastFileError).
bool WriteFile(const FileData& data) {
  std::error_code ec;
  const auto path = SettingsPath();
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) {
    SetLastFileError(ec.value());
    return false;
  }
  std::string text = "# Camera library settings: parameter teams per camera.\n";
  for (const auto& [name, section] : data) {
    text += '[';
    text += name;
    text += "]\n";
    for (const auto& [k, v] : section) {
      text += k;
      text += '=';
      text += v;
      text += '\n';
    }
  }
  return WriteFileDurably(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool ParseInt(const std::string& s, int* v) {
  long long x = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
  if (ec != std::errc() || end != s.data() + s.size() || x < INT32_MIN || x > UINT32_MAX) return false;
  *v = int(std::uint32_t(x));  // exposure lines are stored unsigned
  return true;
}

bool ParseFloat(std::string s, float* v) {
  // Files written by earlier versions under a decimal-comma locale hold "1,60000002": read the
  // comma as the decimal point, so that those teams come back instead of falling to factory values.
  if (s.find('.') == std::string::npos) std::replace(s.begin(), s.end(), ',', '.');
  float x = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(x)) return false;
  *v = x;
  return true;
}

// "%.9g" with "." whatever the process locale (the application takes its locale from the
// environment), so that the value reads back exactly.
std::string FormatFloat(float v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace

void Sanitize(const ModelInfo& m, Params* p) {
  SanitizeSize(m, &p->preview);
  SanitizeSize(m, &p->capture);
  ClampTo(&p->mediaSel, 0, m.mediaTypeCount - 1);
  ClampTo(&p->frameSpeed, 0, m.frameSpeedCount - 1);
  p->exposureLines = std::clamp<std::uint32_t>(p->exposureLines, 1, m.maxExposureLines);
  p->analogGain = std::round(std::clamp(p->analogGain, kAnalogGainMin, kAnalogGainMax) / kAnalogGainStep) * kAnalogGainStep;
  p->aeOn = p->aeOn != 0;
  ClampTo(&p->aeMode, 0, 2);
  ClampTo(&p->aeScheme, 0, 3);
  ClampTo(&p->aeTarget, kAeTargetMin, kAeTargetMax);
  p->antiFlick = p->antiFlick != 0;
  ClampTo(&p->lightFrequency, 0, 1);
  ClampTo(&p->gainR, kGainMin, kGainMax);
  ClampTo(&p->gainG, kGainMin, kGainMax);
  ClampTo(&p->gainB, kGainMin, kGainMax);
  if (!m.color) p->gainR = p->gainG = p->gainB = 1.0f;
  p->awbOn = m.color && p->awbOn != 0;
  p->blackState = p->blackState != 0;
  ClampTo(&p->blackR, kBlackMin, kBlackMax);
  ClampTo(&p->blackG, kBlackMin, kBlackMax);
  ClampTo(&p->blackB, kBlackMin, kBlackMax);
  ClampTo(&p->gamma, kGammaMin, kGammaMax);
  ClampTo(&p->contrast, kContrastMin, kContrastMax);
  ClampTo(&p->saturation, kSaturationMin, kSaturationMax);
  ClampTo(&p->edgeGain, kSharpnessMin, kSharpnessMax);
  p->colorEnhance = p->colorEnhance != 0;
  p->edgeOn = p->edgeOn != 0;
  p->mirrorH = p->mirrorH != 0;
  p->mirrorV = p->mirrorV != 0;
  p->inverse = p->inverse != 0;
  p->monochrome = p->monochrome != 0;
  ClampTo(&p->matrixSel, -1, int(ColorPresets().size()) - 1);
  for (float& v : p->matrix)
    if (!std::isfinite(v)) v = 0.0f;
  p->deadPixelCorrection = p->deadPixelCorrection != 0;
}

DeviceSettings LoadDeviceSettings(const ModelInfo& model) {
  DeviceSettings s;
  for (auto& t : s.teams) t = FactoryParams(model);
  FileData data;
  {
    std::lock_guard<std::mutex> lock(gFileMutex);
    data = ReadFile();
  }
  auto it = data.find(model.deviceName);
  if (it == data.end()) return s;
  const Section& sec = it->second;
  auto get = [&](const std::string& key) -> const std::string* {
    auto f = sec.find(key);
    return f == sec.end() ? nullptr : &f->second;
  };
  if (const std::string* v = get("current")) {
    int team = 0;
    if (ParseInt(*v, &team) && team >= 0 && team < CAMSDK_PARAMETER_TEAMS) s.currentTeam = team;
  }
  if (const std::string* v = get("defects")) {
    std::stringstream ss(*v);
    std::string item;
    while (std::getline(ss, item, ';') && s.defects.size() < 4096) {
      const auto comma = item.find(',');
      int x = 0, y = 0;
      if (comma == std::string::npos || !ParseInt(item.substr(0, comma), &x) || !ParseInt(item.substr(comma + 1), &y))
        continue;
      if (x >= 0 && y >= 0 && x < model.sensorWidth && y < model.sensorHeight) s.defects.push_back({x, y});
    }
  }
  for (int t = 0; t < CAMSDK_PARAMETER_TEAMS; ++t) {
    std::string prefix = "team";
    prefix += std::to_string(t);
    prefix += '.';
    const std::string* saved = get(prefix + "saved");
    if (!saved || *saved != "1") continue;
    s.saved[t] = true;
    Params& p = s.teams[t];
    VisitParams(
        p,
        [&](const char* key, int* v) {
          if (const std::string* x = get(prefix + key)) ParseInt(*x, v);
        },
        [&](const char* key, float* v) {
          if (const std::string* x = get(prefix + key)) ParseFloat(*x, v);
        });
    Sanitize(model, &p);
  }
  return s;
}

bool SaveDeviceSettings(const ModelInfo& model, const DeviceSettings& s) {
  Section sec;
  sec["current"] = std::to_string(s.currentTeam);
  std::string defects;
  for (const CamSdkPoint& d : s.defects) {
    if (!defects.empty()) defects += ';';
    defects += std::to_string(d.x);
    defects += ',';
    defects += std::to_string(d.y);
  }
  sec["defects"] = defects;
  for (int t = 0; t < CAMSDK_PARAMETER_TEAMS; ++t) {
    if (!s.saved[t]) continue;
    std::string prefix = "team";
    prefix += std::to_string(t);
    prefix += '.';
    sec[prefix + "saved"] = std::string(1, '1');
    Params p = s.teams[t];
    VisitParams(
        p,
        [&](const char* key, int* v) {
          sec[prefix + key] = std::string(key) == "exposureLines" ? std::to_string(std::uint32_t(*v)) : std::to_string(*v);
        },
        [&](const char* key, float* v) { sec[prefix + key] = FormatFloat(*v); });
  }
  std::lock_guard<std::mutex> lock(gFileMutex);
  FileData data = ReadFile();
  data[model.deviceName] = std::move(sec);
  return WriteFile(data);
}

}  // namespace camsdk
