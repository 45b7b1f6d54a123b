#pragma once
// Constants and text helpers shared by the camera panel's files.
#include <QString>

#include <cstdint>
#include <vector>

#include "imaging/CamSetupIds.h"
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

constexpr int kFrameSpeedIds[3] = {kFrameSpeedLowRadio, kFrameSpeedNormalRadio, kFrameSpeedHighRadio};
constexpr int kTeamIds[4] = {kTeamARadio, kTeamBRadio, kTeamCRadio, kTeamDRadio};
constexpr int kAntiFlickIds[3] = {kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio};
constexpr int kExposureEdits[4] = {kExposureMinutesEdit, kExposureSecondsEdit, kExposureMsEdit, kExposureUsEdit};
constexpr int kExposureSpins[4] = {kExposureMinutesSpin, kExposureSecondsSpin, kExposureMsSpin, kExposureUsSpin};
constexpr int kRoiEdits[4] = {kRoiXEdit, kRoiYEdit, kRoiWidthEdit, kRoiHeightEdit};

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

// The focus assistant's hints (string ids): searching, active, and why it did not start or
// stopped.
constexpr std::uint32_t kFocusSearchingHint = 64280, kFocusActiveHint = 64281, kFocusNoSumHint = 64282,
                        kFocusTooBrightHint = 64283, kFocusTooDarkHint = 64284, kFocusNoLevelHint = 64285,
                        kFocusNoFrameHint = 64286;

// The focus assistant's search for an exposure with a grey level of 18 +- 8. It steps as a dim
// sample needs (up by 100 ms or 50 ms, down by 50 ms), at least doubling while too dark and
// halving below 50 ms while too bright, and never steps back into an exposure already found too
// dark or too bright: it goes halfway between them instead, so that a bright scene converges too.
struct FocusSearch {
  std::uint64_t exposure = 0;             // the exposure being tried
  std::uint64_t minimum = 0, maximum = 0;  // the range it may use
  std::uint64_t dark = 0;                  // longest exposure found too dark (0: none)
  std::uint64_t bright = 0;                // shortest exposure found too bright (0: none)
};
struct FocusStep {
  // Continue: try `exposure` next. The others end the search: Accept at `exposure`, or give
  // up because the scene is too bright at the minimum, too dark at the maximum, or no
  // exposure between a too dark and a too bright one is left to try.
  enum Kind { Accept, Continue, TooBright, TooDark, NoLevel } kind;
  std::uint64_t exposure;
};
FocusStep NextFocusExposure(FocusSearch& search, int grey);
// The exposure at which the line through the test shot (et, gt) and the found point (ef, gf)
// reaches the brightness target; never negative. Equal grey levels give no slope: et stands.
std::int64_t FocusTargetExposure(std::uint64_t et, int gt, std::uint64_t ef, int gf, int target);

}  // namespace camsetup
