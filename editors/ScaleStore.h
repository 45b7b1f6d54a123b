#pragma once
// Named scales in the settings store, one set per camera model:
//   "Software\Q7V-MS\Measuring Scale"            "Selected Scale"  REG_SZ
//   ...\{camera}                                  "Display"         REG_BINARY 32 bytes
//   ...\{camera}\{scale}                          "Pixel", "Size", "Unit" REG_SZ; "Display" 32 bytes
// The scale calibration dialog writes it; the view reads the selected scale back when a camera
// goes live (ApplySelectedScale).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "measure/MeasureManager.h"
#include "platform/registry.h"
#include "platform/text.h"

class CCameraProcess;

namespace scalestore {

inline constexpr char16_t kRootKey[] = u"Software\\Q7V-MS\\Measuring Scale";
inline constexpr char16_t kSelectedValue[] = u"Selected Scale";
// Longest key name the store takes.
inline constexpr std::size_t kMaxNameLen = 255;

// One row of the scale list: the subkey name, its "Size" text and its "Unit" text.
struct ScaleEntry {
  WString name;
  WString size;
  WString unit;
};

// The scale-bar block as stored: eight little-endian 32-bit words.
std::array<std::uint8_t, 32> EncodeDisplay(const ScaleDisplayBlock& block);
// Only a value of exactly 32 bytes is taken; the enable word is read from its low byte.
bool DecodeDisplay(std::span<const std::uint8_t> data, ScaleDisplayBlock* block);

// The device name of the current camera, or else of the camera the camera list shows, as the
// key name of its scales; empty without either.
WString CurrentCameraName(const CCameraProcess* camera);
// A name the store can hold as one key: no backslash, not longer than kMaxNameLen.
bool IsValidKeyName(WStringView name);

// The scales of a camera, in the store's (case-insensitive) order. A "Size" or "Unit" text
// longer than the reader's 255-byte buffer stays empty, as the list always showed it.
std::vector<ScaleEntry> ReadScaleList(WStringView camera);
// "Selected Scale"; nullopt when the root key or the value is missing.
std::optional<WString> ReadSelectedScale();

// Writes "Pixel", "Size", "Unit" and "Display" of one scale (keys created as needed).
LONG WriteScale(WStringView camera, WStringView name, WStringView pixel, WStringView size, WStringView unit,
                const ScaleDisplayBlock& block);
// Writes "Selected Scale" at the root.
LONG WriteSelectedScale(WStringView name);
// Writes "Display" of a scale, or of the camera key itself for an empty name.
LONG WriteDisplay(WStringView camera, WStringView name, const ScaleDisplayBlock& block);
// Deletes the scale's key.
LONG DeleteScale(WStringView camera, WStringView name);

// The selected scale of a camera: factor, unit and bar block.
struct SelectedScale {
  float factor = 1.0f;
  WString unit;
  ScaleDisplayBlock block;
};
// What reading a camera's selected scale found.
enum class ScaleFound {
  Found,       // the scale, usable
  NotChosen,   // no store, or no scale chosen ("Selected Scale" missing or empty)
  Unusable,    // a scale is chosen but this camera has none of that name, its "Size" is not a
               // positive number (a factor of 0 turns every length into 0), or its "Display"
               // is not the 32-byte block
};
ScaleFound ReadSelectedScaleOf(WStringView camera, SelectedScale* out);
// The view's scale loading: the camera's selected scale goes to the engine (SetScale). An
// unusable one puts the engine back to pixels (1.0, "px", its bar kept) rather than leaving the
// scale of the camera before in force; the caller tells the operator.
ScaleFound ApplySelectedScale(CMeasureManager& engine, WStringView camera);

}  // namespace scalestore
