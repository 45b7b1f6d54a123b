#pragma once
// Constants and text helpers shared by the camera panel's files.
#include <QString>

#include <cstdint>
#include <vector>

#include "platform/strings.h"
#include "platform/text.h"

namespace camsetup {

// The panel's timers.
constexpr int kTimerAeMirror = 1;  // 100 ms while automatic exposure runs
constexpr int kTimerReadBack = 2;  // one read-back 1 s after a manual exposure change
constexpr int kTimerDetect = 3;    // 800 ms until a camera is listed

constexpr std::uint64_t kUnitsPerMinute = 600000000;
constexpr std::uint64_t kUnitsPerSecond = 10000000;
constexpr std::uint64_t kUnitsPerMs = 10000;
constexpr std::uint64_t kUnitsPerUs = 10;

constexpr int kFrameSpeedIds[3] = {1025, 1026, 1036};
constexpr int kTeamIds[4] = {1027, 1028, 1029, 1030};
constexpr int kAntiFlickIds[3] = {1071, 1072, 1073};
constexpr int kExposureEdits[4] = {1307, 1309, 1311, 1316};
constexpr int kExposureSpins[4] = {1308, 1310, 1312, 1317};
constexpr int kRoiEdits[4] = {1182, 1183, 1177, 1178};

// Every control that acts on the camera (disabled while no camera is open).
const std::vector<int>& CameraControlIds();

// Texts: numbers always with ".", strings from the table of the running language.
QString Fmt(WStringView fmt, std::int64_t v);
QString FmtF(WStringView fmt, double v);
QString Str(std::uint32_t id);
// The number at the start of a text, as the edits are read (nothing readable gives 0).
double ReadDecimal(const QString& text);
std::int64_t ReadInt64(const QString& text);
// Truncation toward zero that saturates instead of overflowing.
std::int64_t Truncate(double v);

// The focus assistant's search: from the grey level at `exposure`, accept it, go on with the
// next exposure, or give up (too bright even below 50 ms).
struct FocusStep {
  enum Kind { Accept, Continue, GiveUp } kind;
  std::uint64_t exposure;
};
FocusStep NextFocusExposure(int grey, std::uint64_t exposure);
// The exposure at which the line through the test shot (et, gt) and the found point (ef, gf)
// reaches the brightness target; never negative. Equal grey levels give no slope: et stands.
std::int64_t FocusTargetExposure(std::uint64_t et, int gt, std::uint64_t ef, int gf, int target);

}  // namespace camsetup
