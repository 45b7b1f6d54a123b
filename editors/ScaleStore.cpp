#include "editors/ScaleStore.h"

#include <QString>

#include <cmath>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"

namespace scalestore {

namespace {

WString CameraPath(WStringView camera) { return FormatW(u"%s\\%s", kRootKey, camera); }

WString ScalePath(WStringView camera, WStringView name) {
  if (name.empty()) return CameraPath(camera);  // the empty name addresses the camera key itself
  return FormatW(u"%s\\%s\\%s", kRootKey, camera, name);
}

// A string read into a buffer of `bufferBytes`: a longer value is not read.
std::optional<WString> ReadString(const CRegistryKey& key, WStringView name, DWORD bufferBytes) {
  DWORD type = 0, size = 0;
  const WString n(name);
  if (RegQueryValueExW(key.Handle(), n.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if (type != REG_SZ || size > bufferBytes) return {};
  return key.QueryString(name);
}

void PutWord(std::array<std::uint8_t, 32>& out, int word, std::int32_t v) {
  const auto u = std::uint32_t(v);
  for (int b = 0; b < 4; ++b) out[std::size_t(word * 4 + b)] = std::uint8_t(u >> (8 * b));
}

std::int32_t GetWord(std::span<const std::uint8_t> in, int word) {
  std::uint32_t u = 0;
  for (int b = 0; b < 4; ++b) u |= std::uint32_t(in[std::size_t(word * 4 + b)]) << (8 * b);
  return std::int32_t(u);
}

}  // namespace

std::array<std::uint8_t, 32> EncodeDisplay(const ScaleDisplayBlock& b) {
  std::array<std::uint8_t, 32> out{};
  PutWord(out, 0, b.enable & 0xFF);  // a one-byte flag in a 32-bit word
  PutWord(out, 1, b.xPercent);
  PutWord(out, 2, b.yPercent);
  PutWord(out, 3, b.length);
  PutWord(out, 4, std::int32_t(b.lineColor));
  PutWord(out, 5, std::int32_t(b.textColor));
  PutWord(out, 6, b.reserved);
  PutWord(out, 7, b.lineWidth);
  return out;
}

bool DecodeDisplay(std::span<const std::uint8_t> data, ScaleDisplayBlock* b) {
  if (data.size() != 32 || !b) return false;
  b->enable = data[0];
  b->xPercent = GetWord(data, 1);
  b->yPercent = GetWord(data, 2);
  b->length = GetWord(data, 3);
  b->lineColor = GetWord(data, 4);
  b->textColor = GetWord(data, 5);
  b->reserved = GetWord(data, 6);
  b->lineWidth = GetWord(data, 7);
  return true;
}

WString CurrentCameraName(const CCameraProcess* camera) {
  stCameraItem item;
  if (!camera) return {};
  // A stopped camera is no longer current, yet the camera list still shows it: its scales.
  if (camera->GetCurCameraItem(&item) < 0 && !camera->GetCameraItem(AppHost().ShownCameraIndex(), &item)) return {};
  const char* name = item.device.deviceName;
  const std::size_t len = strnlen(name, sizeof(item.device.deviceName));
  return QString::fromLocal8Bit(name, qsizetype(len)).toStdU16String();
}

bool IsValidKeyName(WStringView name) {
  return name.size() <= kMaxNameLen && name.find(u'\\') == WStringView::npos;
}

std::vector<ScaleEntry> ReadScaleList(WStringView camera) {
  std::vector<ScaleEntry> rows;
  if (!IsValidKeyName(camera)) return rows;
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, CameraPath(camera), KEY_READ) != ERROR_SUCCESS) return rows;
  for (const WString& name : key.SubKeyNames()) {
    CRegistryKey sub;
    if (sub.Open(key.Handle(), name, KEY_READ) != ERROR_SUCCESS) continue;
    ScaleEntry e;
    e.name = name;
    e.size = ReadString(sub, u"Size", 255).value_or(WString());
    e.unit = ReadString(sub, u"Unit", 255).value_or(WString());
    rows.push_back(std::move(e));
  }
  return rows;
}

std::optional<WString> ReadSelectedScale() {
  CRegistryKey root;
  if (root.Open(HKEY_CURRENT_USER, kRootKey, KEY_READ) != ERROR_SUCCESS) return {};
  return ReadString(root, kSelectedValue, 256);
}

LONG WriteScale(WStringView camera, WStringView name, WStringView pixel, WStringView size, WStringView unit,
                const ScaleDisplayBlock& block) {
  if (!IsValidKeyName(camera) || name.empty() || !IsValidKeyName(name)) return ERROR_BAD_PATHNAME;
  CRegistryKey key;
  LONG rc = key.Create(HKEY_CURRENT_USER, ScalePath(camera, name));
  if (rc != ERROR_SUCCESS) return rc;
  const auto display = EncodeDisplay(block);
  for (LONG r : {key.SetString(u"Pixel", pixel), key.SetString(u"Size", size), key.SetString(u"Unit", unit),
                 key.SetBinary(u"Display", display)})
    if (r != ERROR_SUCCESS && rc == ERROR_SUCCESS) rc = r;
  const LONG closed = key.Close();
  return rc != ERROR_SUCCESS ? rc : closed;
}

LONG WriteSelectedScale(WStringView name) {
  CRegistryKey root;
  LONG rc = root.Create(HKEY_CURRENT_USER, kRootKey);
  if (rc != ERROR_SUCCESS) return rc;
  rc = root.SetString(kSelectedValue, name);
  const LONG closed = root.Close();
  return rc != ERROR_SUCCESS ? rc : closed;
}

LONG WriteDisplay(WStringView camera, WStringView name, const ScaleDisplayBlock& block) {
  if (!IsValidKeyName(camera) || !IsValidKeyName(name)) return ERROR_BAD_PATHNAME;
  CRegistryKey key;
  LONG rc = key.Create(HKEY_CURRENT_USER, ScalePath(camera, name));
  if (rc != ERROR_SUCCESS) return rc;
  rc = key.SetBinary(u"Display", EncodeDisplay(block));
  const LONG closed = key.Close();
  return rc != ERROR_SUCCESS ? rc : closed;
}

LONG DeleteScale(WStringView camera, WStringView name) {
  if (!IsValidKeyName(camera) || name.empty() || !IsValidKeyName(name)) return ERROR_BAD_PATHNAME;
  const WString path = ScalePath(camera, name);
  return RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

ScaleFound ReadSelectedScaleOf(WStringView camera, SelectedScale* out) {
  const std::optional<WString> selected = ReadSelectedScale();
  if (!selected || selected->empty()) return ScaleFound::NotChosen;
  if (!IsValidKeyName(camera) || !IsValidKeyName(*selected)) return ScaleFound::Unusable;
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, ScalePath(camera, *selected), KEY_READ) != ERROR_SUCCESS)
    return ScaleFound::Unusable;
  SelectedScale s;
  const std::optional<float> factor = ReadFactor(ReadString(key, u"Size", 256).value_or(WString()));
  if (!factor) return ScaleFound::Unusable;
  s.factor = *factor;
  s.unit = ReadString(key, u"Unit", 256).value_or(WString());
  if (auto data = key.QueryBinary(u"Display"); data && !DecodeDisplay(*data, &s.block)) return ScaleFound::Unusable;
  if (out) *out = std::move(s);
  return ScaleFound::Found;
}

ScaleFound ApplySelectedScale(CMeasureManager& engine, WStringView camera) {
  SelectedScale s;
  const ScaleFound found = ReadSelectedScaleOf(camera, &s);
  if (found == ScaleFound::Found) {
    engine.SetScale(s.factor, s.unit, s.block);
  } else if (found == ScaleFound::Unusable) {
    ScaleDisplayBlock bar;
    engine.GetScale(nullptr, nullptr, &bar);
    engine.SetScale(1.0f, u"px", bar);
  }
  return found;
}

}  // namespace scalestore
