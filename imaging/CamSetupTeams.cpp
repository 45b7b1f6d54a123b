// The parameter teams A to D and the fluorescence focus assistant. The assistant switches to a
// summing resolution, searches an exposure with a low but usable raw grey level (waiting on the
// panel's clock between rounds) while the live picture is brightened, lets the frame path
// brighten the live frames, and on its end works out the exposure for the brightness target at
// the first resolution. The rest of the panel stays usable meanwhile: only the controls the
// assistant drives are locked, and choosing another camera ends it.
#include <QComboBox>
#include <QMessageBox>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <vector>

#include "res/StringIds.h"
#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "imaging/CamSetupDlg.h"
#include "imaging/CamSetupInternal.h"
#include "platform/durable_file.h"
#include "platform/file_errors.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"

using namespace camsetup;

namespace {

constexpr int kGreyAim = 18;
constexpr int kGreyTolerance = 8;
constexpr int kSearchRounds = 100;
constexpr int kRoundMs = 500;
constexpr std::uint64_t kStartExposure = 1000000;  // 100 ms
constexpr std::uint64_t kHalfStep = 500000;        // 50 ms
constexpr std::uint64_t kFullStep = 1000000;
// The longest exposure the search tries: each round waits for a frame of it, and a sample too
// dim for it is too dim to focus on live.
constexpr std::uint64_t kLongestSearch = 10000000;  // 1 s

// A summing resolution: "SUM" after the first character, and no "MONO" from there on.
int SumPosition(const CamSdkResolution& r) {
  const QString name = QString::fromUtf8(r.name, qsizetype(strnlen(r.name, sizeof r.name))).toUpper();
  const int at = int(name.indexOf(QStringLiteral("SUM"), 1));
  return at >= 1 ? at : -1;
}

bool IsSumResolution(const CamSdkResolution& r) {
  const int at = SumPosition(r);
  if (at < 0) return false;
  const QString name = QString::fromUtf8(r.name, qsizetype(strnlen(r.name, sizeof r.name))).toUpper();
  return name.indexOf(QStringLiteral("MONO"), at) < 0;
}

// What the assistant drives while it steps (searches, or ends): locked meanwhile.
constexpr int kFocusLocked[] = {kPreviewSizeCombo,     kMediaTypeCombo,      kReadParamButton,     kFactoryDefaultButton,
                                kSaveParamButton,      kCalcDeadPixelsButton, kRoiXEdit,           kRoiYEdit,
                                kRoiWidthEdit,         kRoiHeightEdit,       kRoiSettingButton,    kAutoExposureCheck,
                                kAnalogGainSlider,     kAeAdjustGainCheck,   kAeAdjustExposureCheck, kAeSchemeCombo,
                                kExposureFieldEdit,    kSetExposureButton,   kExposureMinutesEdit, kExposureSecondsEdit,
                                kExposureMsEdit,       kExposureUsEdit,      kExposureMinutesSpin, kExposureSecondsSpin,
                                kExposureMsSpin,       kExposureUsSpin};

void Hint(std::uint32_t id) { AppHost().ShowHint(LoadStringW(id)); }

}  // namespace

namespace camsetup {

FocusStep NextFocusExposure(FocusSearch& s, int grey) {
  const std::uint64_t e = s.exposure;
  if (std::abs(grey - kGreyAim) <= kGreyTolerance) return {FocusStep::Accept, e};
  std::uint64_t next;
  if (grey > kGreyAim + kGreyTolerance) {
    if (e <= s.minimum) return {FocusStep::TooBright, e};
    s.bright = s.bright ? std::min(s.bright, e) : e;
    next = e >= kHalfStep ? e - kHalfStep : e / 2;
  } else {
    if (e >= s.maximum) return {FocusStep::TooDark, e};
    s.dark = std::max(s.dark, e);
    next = std::max(e + (grey < 5 ? kFullStep : kHalfStep), 2 * e);
  }
  if (next <= s.dark || (s.bright && next >= s.bright)) {
    const std::uint64_t lo = std::max(s.dark, s.minimum), hi = s.bright ? s.bright : s.maximum;
    next = lo + (hi > lo ? (hi - lo) / 2 : 0);
  }
  next = std::clamp(next, s.minimum, std::max(s.minimum, s.maximum));
  // Nothing left between a too dark and a too bright exposure.
  if (next == e || (s.dark && next <= s.dark) || (s.bright && next >= s.bright)) return {FocusStep::NoLevel, e};
  s.exposure = next;
  return {FocusStep::Continue, next};
}

std::int64_t FocusTargetExposure(std::uint64_t et, int gt, std::uint64_t ef, int gf, int target) {
  if (gf == gt) return Truncate(double(et));
  const double t = double(et) + (double(target) - gt) * (double(ef) - double(et)) / double(gf - gt);
  return Truncate(std::clamp(t, 0.0, 2.0e18));
}

}  // namespace camsetup

// ---- teams

void CCamSetupDlg::OnBnClickedTeam(int team) { m_nParamTeam = team; }

void CCamSetupDlg::OnBnClickedSaveParam() {
  int handle = -1;
  // "None" (before the camera reported its team) is no team to save into.
  if (!CurrentHandle(&handle) || m_nParamTeam < 0 || m_nParamTeam >= CAMSDK_PARAMETER_TEAMS) return;
  ClearLastFileError();
  const int saved = CameraSaveParameter(handle, m_nParamTeam);
  if (saved == CAMSDK_STATUS_OK) return;
  // The parameters stay in force; the operator learns that the team does not hold them.
  const WString team(1, char16_t(u'A' + m_nParamTeam));
  const WString text = saved == CAMSDK_STATUS_FILE_ERROR
                           ? FormatW(LoadStringW(sid::kParametersCouldNotSavedTeam), team, FromUtf8(CamSdkConfigDir()), FileErrorText(LastFileError()))
                           : FormatW(LoadStringW(sid::kTeamSaveRefusedByCamera), team, saved);
  auto* box = new QMessageBox(QMessageBox::Warning, Str(sid::kAppTitle), QString::fromStdU16String(text), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

// ---- focus assistant

void CCamSetupDlg::OnBnClickedFluorescenceFocus() {
  int handle = -1;
  if (!CurrentHandle(&handle)) {
    UpdateData(false);
    return;
  }
  UpdateData(true);
  if (focus_.searching) {
    // Cleared while searching: the search stops, and the camera is given back what it had.
    if (!m_bFocusAssist) FocusGiveUp(0);
    return;
  }
  if (m_bFocusAssist)
    FocusStart(handle);
  else
    FocusEnd(handle);
}

bool CCamSetupDlg::FocusStillCurrent(int handle) const {
  int current = -1;
  return CurrentHandle(&current) && current == handle;
}

// One raw frame's grey level; false when no frame could be fetched.
bool CCamSetupDlg::FocusFetchGrey(int handle, int* grey) {
  int x = 0, y = 0, w = 0, h = 0, media = 0;
  if (CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK ||
      CameraGetMediaType(handle, &media) != CAMSDK_STATUS_OK || w <= 0 || h <= 0)
    return false;
  std::vector<unsigned char> buffer(std::size_t(w) * std::size_t(h));
  CamSdkFrameInfo info{};
  if (CameraGetImageData(handle, buffer.data(), media, &info, buffer.size()) != CAMSDK_STATUS_OK) return false;
  KvImgRaw raw{buffer.data(), info.width, info.height, 8, info.format};
  return KvImgGetRawGray(raw, grey) == KVIMG_OK;
}

bool CCamSetupDlg::FocusLocks(int id) const {
  if (focus_.ending && id == kFocusAssistCheck) return true;
  return (focus_.searching || focus_.ending) && std::find(std::begin(kFocusLocked), std::end(kFocusLocked), id) !=
                                                    std::end(kFocusLocked);
}

// While the assistant steps, the controls it drives are locked (and the box too while it ends);
// the rest of the panel, the camera list included, stays usable.
void CCamSetupDlg::FocusSetStepping(bool searching, bool ending) {
  focus_.searching = searching;
  focus_.ending = ending;
  std::vector<int> ids(std::begin(kFocusLocked), std::end(kFocusLocked));
  ids.push_back(kFocusAssistCheck);
  EnableControls(ids, true);  // each as the camera and the panel's modes allow it now
}

void CCamSetupDlg::FocusStart(int handle) {
  CCameraProcess* camera = Camera();
  focus_ = {};
  focus_.handle = handle;
  focus_.generation = ++focusGeneration_;
  // Without the camera's resolution, exposure and resolutions there is nothing to come back to
  // or to search at: the assistant does not start.
  std::uint64_t maximum = 0, minimum = 0;
  CamSdkCapability cap{};
  if (!Took(CameraGetImageSizeSel(handle, &focus_.previewSel, CAMSDK_SIZE_PREVIEW)) ||
      !Took(CameraGetExposureTime(handle, &focus_.exposureBefore, &maximum, &minimum)) ||
      !Took(CameraGetCapability(handle, &cap))) {
    focus_ = {};
    m_bFocusAssist = 0;
    UpdateData(false);
    return;
  }
  // The last resolution decides whether the camera has a summing mode worth using: without
  // one the camera is not touched at all.
  if (cap.resolutions && cap.resolutionCount > 0 && SumPosition(cap.resolutions[cap.resolutionCount - 1]) < 0) {
    m_bFocusAssist = 0;
    UpdateData(false);
    Hint(kFocusNoSumHint);
    return;
  }

  // Automatic exposure would fight the search: off while the assistant runs.
  if (CameraGetAeState(handle, &focus_.aeBefore) != CAMSDK_STATUS_OK) focus_.aeBefore = 0;
  Took(CameraSetAeState(handle, 0));
  clock_->KillTimer(kTimerAeMirror);

  (void)CameraStop(handle);  // replayed
  AppHost().RedrawView();
  // The program keeps drawing the live frames itself while the assistant runs, brightened.
  camera->SetDrawMode(1);
  bool selected = false;
  for (int i = 0; cap.resolutions && i < cap.resolutionCount; ++i) {
    if (!IsSumResolution(cap.resolutions[i])) continue;
    (void)CameraStop(handle);  // replayed
    if (!Took(CameraSetImageSizeSel(handle, i, CAMSDK_SIZE_PREVIEW))) continue;
    FrameBufferFits(camera->AllocFrameBuffer(cap.resolutions[i].width, cap.resolutions[i].height),
                    cap.resolutions[i].width, cap.resolutions[i].height);
    PlayAgain(handle);
    selected = true;
  }
  if (!selected) PlayAgain(handle);  // searches at the resolution in force
  ShowPreviewSel(handle);
  AppHost().ZoomFitWindow();

  camera->SetFrameMode(CCameraProcess::FrameMode::kFocusSearch);
  focus_.search.minimum = minimum;
  focus_.search.maximum = std::max(minimum, std::min(maximum ? maximum : kLongestSearch, kLongestSearch));
  focus_.search.exposure = std::clamp(kStartExposure, focus_.search.minimum, focus_.search.maximum);
  Took(CameraSetExposureTime(handle, focus_.search.exposure));  // the search reads what the frames give
  FocusSetStepping(true, false);
  Hint(kFocusSearchingHint);
  FocusNextRound(0);
}

// The next round waits long enough for a frame taken wholly at the new exposure.
void CCamSetupDlg::FocusNextRound(int round) {
  const int wait = kRoundMs + int(std::min<std::uint64_t>(focus_.search.exposure / kUnitsPerMs, 60000));
  clock_->After(wait, [this, generation = focus_.generation, round] { FocusSearchRound(generation, round); });
}

void CCamSetupDlg::FocusSearchRound(int generation, int round) {
  if (generation != focus_.generation || !focus_.searching) return;  // ended meanwhile
  const int handle = focus_.handle;
  if (!FocusStillCurrent(handle)) return FocusReset();
  int grey = 0;
  if (!FocusFetchGrey(handle, &grey)) return FocusGiveUp(kFocusNoFrameHint);  // no frame is no result
  const FocusStep step = NextFocusExposure(focus_.search, grey);
  switch (step.kind) {
    case FocusStep::Accept: {
      stFocusStore& store = Camera()->FocusStore();
      store.foundExposure = step.exposure;
      store.foundGrey = grey;
      return FocusSearchDone(handle);
    }
    case FocusStep::TooBright: return FocusGiveUp(kFocusTooBrightHint);
    case FocusStep::TooDark:
      return FocusGiveUp(kFocusTooDarkHint, int(std::min<std::uint64_t>(step.exposure / kUnitsPerMs, INT32_MAX)));
    case FocusStep::NoLevel: return FocusGiveUp(kFocusNoLevelHint);
    case FocusStep::Continue: break;
  }
  Took(CameraSetExposureTime(handle, step.exposure));
  if (round + 1 >= kSearchRounds) return FocusGiveUp(kFocusNoLevelHint);
  FocusNextRound(round + 1);
}

void CCamSetupDlg::FocusSearchDone(int handle) {
  Camera()->SetFrameMode(CCameraProcess::FrameMode::kBrightened);  // the frame path brightens every live frame to the target
  m_bAutoExposure = 0;
  SetChecked(kAutoExposureCheck, false);
  Took(CameraSetMediaTypeSel(handle, 0));
  FocusReadBack(handle);
  FocusSetStepping(false, false);  // active: the exposure controls stay locked by the box
  Enable(kAeTargetSlider, true);
  Hint(kFocusActiveHint);
}

// The assistant gives up (or is switched off while searching): the camera streams again at the
// resolution and exposure it had before, and the hint says why (none for 0).
void CCamSetupDlg::FocusGiveUp(std::uint32_t hint, int hintValue) {
  ++focusGeneration_;  // no pending step of this run goes on
  FocusRestoreCamera(true);
  m_bFocusAssist = 0;
  UpdateData(false);
  ShowPreviewSel(focus_.handle);
  RestoreAutoExposure(focus_.handle);
  FocusSetStepping(false, false);
  if (hint) AppHost().ShowHint(FormatW(LoadStringW(hint), hintValue));
}

// The camera the assistant ran on gets back its resolution, exposure and automatic exposure,
// and the frame path plain live frames. `current`: it is still the camera shown, whose picture
// the frame buffer holds.
void CCamSetupDlg::FocusRestoreCamera(bool current) {
  CCameraProcess* camera = Camera();
  if (!camera) return;
  camera->SetFrameMode(CCameraProcess::FrameMode::kPlain);
  camera->SetDrawMode(1);
  const int handle = focus_.handle;
  bool open = false;
  for (int i = 0; i < camera->GetCameraCount() && !open; ++i) {
    stCameraItem item;
    open = camera->GetCameraItem(i, &item) && item.state != CAMERA_CLOSED && item.handle == handle;
  }
  if (!open) return;
  Took(CameraSetImageSizeSel(handle, focus_.previewSel, CAMSDK_SIZE_PREVIEW));
  if (focus_.exposureBefore) Took(CameraSetExposureTime(handle, focus_.exposureBefore));
  if (!current && focus_.aeBefore) Took(CameraSetAeState(handle, 1));
  if (current) {
    FitFrameBuffer(handle);
    AppHost().ZoomFitWindow();
  }
  PlayAgain(handle);
}

// Automatic exposure back as it was before the assistant switched it off.
void CCamSetupDlg::RestoreAutoExposure(int handle) {
  if (!focus_.aeBefore) return;
  focus_.aeBefore = 0;
  SetChecked(kAutoExposureCheck, true);
  m_bAutoExposure = 0;  // the handler toggles it on, with the camera
  OnBnClickedAutoExposure();
  int on = 0;
  if (CameraGetAeState(handle, &on) == CAMSDK_STATUS_OK && !on) Took(CameraSetAeState(handle, 1));
}

// The preview list shows the resolution the camera is at.
void CCamSetupDlg::ShowPreviewSel(int handle) {
  int sel = -1;
  if (CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK) return;
  if (sel >= 0 && sel < Combo(kPreviewSizeCombo)->count()) Combo(kPreviewSizeCombo)->setCurrentIndex(sel);
}

// Another camera was chosen, or the camera closed: the assistant ends where it stands, and
// the camera it ran on (when still open) gets back what it had.
void CCamSetupDlg::FocusReset() {
  if (!m_bFocusAssist && !focus_.searching && !focus_.ending) return;
  ++focusGeneration_;
  FocusRestoreCamera(false);
  m_bFocusAssist = 0;
  focus_.aeBefore = 0;
  focus_.searching = focus_.ending = false;
  UpdateData(false);
}

void CCamSetupDlg::FocusEnd(int handle) {
  const stFocusStore& store = Camera()->FocusStore();
  focus_.handle = handle;
  focus_.generation = ++focusGeneration_;
  Camera()->SetFrameMode(CCameraProcess::FrameMode::kFocusSearch);
  Took(CameraSetExposureTime(handle, store.foundExposure + 1500000));  // 150 ms more than found
  const std::uint64_t waitMs = std::min<std::uint64_t>(store.foundExposure / kUnitsPerMs + 500, 0x7FFFFFFF);
  FocusSetStepping(false, true);
  clock_->After(int(waitMs), [this, generation = focus_.generation] { FocusTestShot(generation); });
}

void CCamSetupDlg::FocusTestShot(int generation) {
  if (generation != focus_.generation) return;
  const int handle = focus_.handle;
  if (!FocusStillCurrent(handle)) return FocusReset();
  CCameraProcess* camera = Camera();
  stFocusStore& store = camera->FocusStore();
  int grey = 0;
  const bool shot = FocusFetchGrey(handle, &grey);
  std::uint64_t maximum = 0, minimum = 0, exposure = 0;
  const bool known = CameraGetExposureTime(handle, &exposure, &maximum, &minimum) == CAMSDK_STATUS_OK;
  std::uint64_t newExposure = focus_.exposureBefore ? focus_.exposureBefore : exposure;
  if (shot && known) {
    store.testGrey = grey;
    store.testExposure = exposure;
    store.targetExposure = FocusTargetExposure(store.testExposure, store.testGrey, store.foundExposure,
                                               store.foundGrey, camera->GetBrightnessTarget());
    newExposure = std::uint64_t(store.targetExposure) * 4;  // at most 8e18: no wrap
  }
  (void)CameraStop(handle);  // replayed
  Took(CameraSetExposureTime(handle, newExposure));
  Took(CameraSetImageSizeSel(handle, 0, CAMSDK_SIZE_PREVIEW));
  FitFrameBuffer(handle);
  AppHost().ZoomFitWindow();
  PlayAgain(handle);
  clock_->After(kRoundMs, [this, generation] { FocusEndSettled(generation); });
}

void CCamSetupDlg::FocusEndSettled(int generation) {
  if (generation != focus_.generation) return;
  const int handle = focus_.handle;
  if (!FocusStillCurrent(handle)) return FocusReset();
  int dropped = 0;
  FocusFetchGrey(handle, &dropped);  // one frame at the new settings, dropped
  CCameraProcess* camera = Camera();
  camera->SetDrawMode(1);
  Took(CameraSetMediaTypeSel(handle, std::max(Combo(kMediaTypeCombo)->currentIndex(), 0)));
  camera->SetFrameMode(CCameraProcess::FrameMode::kPlain);
  FocusReadBack(handle);
  ShowPreviewSel(handle);
  FocusSetStepping(false, false);
  Enable(kAeTargetSlider, false);
  ExposureUnitCascade(handle, false);
}

void CCamSetupDlg::FocusReadBack(int handle) {
  float gain = 0;
  if (CameraGetAnalogGain(handle, &gain) == CAMSDK_STATUS_OK) {
    SetSliderPos(kAnalogGainSlider, int(gain * 1000 / 125));
    OnAnalogGainChanged();
  }
  std::uint64_t exposure = 0, maximum = 0, minimum = 0;
  if (CameraGetExposureTime(handle, &exposure, &maximum, &minimum) == CAMSDK_STATUS_OK) ShowExposure(exposure);
  UpdateData(true);
}
