// The parameter teams A to D and the fluorescence focus assistant. The assistant switches to a
// summing resolution, searches an exposure with a low but usable raw grey level (waiting half a
// second per round on the panel's clock), lets the frame path brighten the live frames, and on
// its end works out the exposure for the brightness target at the first resolution.
#include <QComboBox>
#include <QMessageBox>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <vector>

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

}  // namespace

namespace camsetup {

FocusStep NextFocusExposure(int grey, std::uint64_t e) {
  if (std::abs(grey - kGreyAim) <= kGreyTolerance) return {FocusStep::Accept, e};
  if (grey > kGreyAim + kGreyTolerance) {
    if (e < kHalfStep) return {FocusStep::GiveUp, e};
    return {FocusStep::Continue, e - kHalfStep};
  }
  return {FocusStep::Continue, e + (grey < 5 ? kFullStep : kHalfStep)};
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
                           ? FormatW(LoadStringW(64305), team, FromUtf8(CamSdkConfigDir()), FileErrorText(LastFileError()))
                           : FormatW(LoadStringW(64309), team, saved);
  auto* box = new QMessageBox(QMessageBox::Warning, Str(57344), QString::fromStdU16String(text), QMessageBox::Ok, this);
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
  CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
  CameraGetMediaType(handle, &media);
  if (w <= 0 || h <= 0) return false;
  std::vector<unsigned char> buffer(std::size_t(w) * std::size_t(h));
  CamSdkFrameInfo info{};
  if (CameraGetImageData(handle, buffer.data(), media, &info, buffer.size()) != CAMSDK_STATUS_OK) return false;
  KvImgRaw raw{buffer.data(), info.width, info.height, 8, info.format};
  return KvImgGetRawGray(raw, grey) == KVIMG_OK;
}

void CCamSetupDlg::FocusStart(int handle) {
  CCameraProcess* camera = Camera();
  focus_ = {};
  CameraGetImageSizeSel(handle, &focus_.previewSel, CAMSDK_SIZE_PREVIEW);
  std::uint64_t maximum = 0, minimum = 0;
  CameraGetExposureTime(handle, &focus_.exposureBefore, &maximum, &minimum);

  // Automatic exposure would fight the search: off while the assistant runs.
  CameraGetAeState(handle, &focus_.aeBefore);
  CameraSetAeState(handle, 0);
  clock_->KillTimer(kTimerAeMirror);

  CamSdkCapability cap{};
  CameraGetCapability(handle, &cap);
  CameraStop(handle);
  AppHost().RedrawView();
  // The program keeps drawing the live frames itself while the assistant runs: nothing else
  // would show them.
  camera->SetDrawMode(1);
  bool selected = false;
  for (int i = 0; cap.resolutions && i < cap.resolutionCount; ++i) {
    if (!IsSumResolution(cap.resolutions[i])) continue;
    CameraStop(handle);
    camera->AllocFrameBuffer(cap.resolutions[i].width, cap.resolutions[i].height);
    CameraSetImageSizeSel(handle, i, CAMSDK_SIZE_PREVIEW);
    CameraPlay(handle);
    selected = true;
  }
  // The last resolution decides whether the camera has a summing mode worth using.
  if (cap.resolutions && cap.resolutionCount > 0 && SumPosition(cap.resolutions[cap.resolutionCount - 1]) < 0) {
    if (selected) {
      CameraSetImageSizeSel(handle, focus_.previewSel, CAMSDK_SIZE_PREVIEW);
      int x = 0, y = 0, w = 0, h = 0;
      CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
      camera->AllocFrameBuffer(w, h);
    }
    CameraPlay(handle);  // the stream goes on as before
    camera->SetDrawMode(1);
    m_bFocusAssist = 0;
    RestoreAutoExposure(handle);
    UpdateData(false);
    ShowPreviewSel(handle);
    return;
  }
  if (!selected) CameraPlay(handle);  // searches at the resolution in force
  ShowPreviewSel(handle);

  camera->SetFrameMode(1);
  focus_.exposure = kStartExposure;
  CameraSetExposureTime(handle, focus_.exposure);
  BeginStep();
  clock_->After(kRoundMs, [this, handle] { FocusSearchRound(handle, 0); });
}

void CCamSetupDlg::FocusSearchRound(int handle, int round) {
  if (!FocusStillCurrent(handle)) return FocusAbort();
  int grey = 0;
  if (!FocusFetchGrey(handle, &grey)) return FocusGiveUp(handle, true);  // no frame is no result
  const FocusStep step = NextFocusExposure(grey, focus_.exposure);
  if (step.kind == FocusStep::Accept) {
    stFocusStore& store = Camera()->FocusStore();
    store.foundExposure = focus_.exposure;
    store.foundGrey = grey;
    return FocusSearchDone(handle);
  }
  if (step.kind == FocusStep::GiveUp) return FocusGiveUp(handle, true);
  focus_.exposure = step.exposure;
  CameraSetExposureTime(handle, focus_.exposure);
  if (round + 1 >= kSearchRounds) return FocusGiveUp(handle, true);
  clock_->After(kRoundMs, [this, handle, round] { FocusSearchRound(handle, round + 1); });
}

void CCamSetupDlg::FocusSearchDone(int handle) {
  Camera()->SetFrameMode(2);  // the frame path brightens every live frame to the target
  m_bAutoExposure = 0;
  SetChecked(kAutoExposureCheck, false);
  Enable(kAutoExposureCheck, false);
  Enable(kAeTargetSlider, true);
  for (int id : {kAeAdjustGainCheck, kAeAdjustExposureCheck, kAeSchemeCombo, kAnalogGainSlider}) Enable(id, false);
  for (int id : kExposureEdits) Enable(id, false);
  for (int id : kExposureSpins) Enable(id, false);
  CameraSetMediaTypeSel(handle, 0);
  FocusReadBack(handle);
  EndStep();
}

// The camera streams again at the resolution and exposure it had before the assistant.
void CCamSetupDlg::FocusGiveUp(int handle, bool searching) {
  CCameraProcess* camera = Camera();
  CameraSetImageSizeSel(handle, focus_.previewSel, CAMSDK_SIZE_PREVIEW);
  int x = 0, y = 0, w = 0, h = 0;
  CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
  camera->AllocFrameBuffer(w, h);
  CameraSetExposureTime(handle, focus_.exposureBefore);
  CameraPlay(handle);
  camera->SetDrawMode(1);
  m_bFocusAssist = 0;
  camera->SetFrameMode(0);
  RestoreAutoExposure(handle);
  UpdateData(false);
  ShowPreviewSel(handle);
  if (searching) EndStep();
}

// Automatic exposure back as it was before the assistant switched it off.
void CCamSetupDlg::RestoreAutoExposure(int handle) {
  if (!focus_.aeBefore) return;
  focus_.aeBefore = 0;
  SetChecked(kAutoExposureCheck, true);
  m_bAutoExposure = 0;  // the handler toggles it on, with the camera
  OnBnClickedAutoExposure();
  int on = 0;
  if (CameraGetAeState(handle, &on) == CAMSDK_STATUS_OK && !on) CameraSetAeState(handle, 1);
}

// The preview list shows the resolution the camera is at.
void CCamSetupDlg::ShowPreviewSel(int handle) {
  int sel = -1;
  if (CameraGetImageSizeSel(handle, &sel, CAMSDK_SIZE_PREVIEW) != CAMSDK_STATUS_OK) return;
  if (sel >= 0 && sel < Combo(kPreviewSizeCombo)->count()) Combo(kPreviewSizeCombo)->setCurrentIndex(sel);
}

// The camera closed or another one was chosen: the assistant ends where it stands, and the
// frame path is back to plain live frames for the next camera.
void CCamSetupDlg::FocusReset() {
  if (!m_bFocusAssist) return;
  if (CCameraProcess* camera = Camera()) {
    camera->SetFrameMode(0);
    camera->SetDrawMode(1);
  }
  m_bFocusAssist = 0;
  focus_.aeBefore = 0;
  UpdateData(false);
}

// The camera went away during a step: only the panel and the camera object are put back.
void CCamSetupDlg::FocusAbort() {
  if (CCameraProcess* camera = Camera()) {
    camera->SetFrameMode(0);
    camera->SetDrawMode(1);
  }
  m_bFocusAssist = 0;
  UpdateData(false);
  EndStep();
}

void CCamSetupDlg::FocusEnd(int handle) {
  const stFocusStore& store = Camera()->FocusStore();
  Camera()->SetFrameMode(1);
  CameraSetExposureTime(handle, store.foundExposure + 1500000);  // 150 ms more than found
  const std::uint64_t waitMs = std::min<std::uint64_t>(store.foundExposure / kUnitsPerMs + 500, 0x7FFFFFFF);
  BeginStep();
  clock_->After(int(waitMs), [this, handle] { FocusTestShot(handle); });
}

void CCamSetupDlg::FocusTestShot(int handle) {
  if (!FocusStillCurrent(handle)) return FocusAbort();
  CCameraProcess* camera = Camera();
  stFocusStore& store = camera->FocusStore();
  int grey = 0;
  const bool shot = FocusFetchGrey(handle, &grey);
  std::uint64_t maximum = 0, minimum = 0, exposure = 0;
  CameraGetExposureTime(handle, &exposure, &maximum, &minimum);
  std::uint64_t newExposure = focus_.exposureBefore ? focus_.exposureBefore : exposure;
  if (shot) {
    store.testGrey = grey;
    store.testExposure = exposure;
    store.targetExposure = FocusTargetExposure(store.testExposure, store.testGrey, store.foundExposure,
                                               store.foundGrey, camera->GetBrightnessTarget());
    newExposure = std::uint64_t(store.targetExposure) * 4;  // at most 8e18: no wrap
  }
  CameraStop(handle);
  CameraSetExposureTime(handle, newExposure);
  CameraSetImageSizeSel(handle, 0, CAMSDK_SIZE_PREVIEW);
  int x = 0, y = 0, w = 0, h = 0;
  CameraGetImageSize(handle, nullptr, &x, &y, &w, &h, CAMSDK_SIZE_PREVIEW);
  camera->AllocFrameBuffer(w, h);
  CameraPlay(handle);
  clock_->After(kRoundMs, [this, handle] { FocusEndSettled(handle); });
}

void CCamSetupDlg::FocusEndSettled(int handle) {
  if (!FocusStillCurrent(handle)) return FocusAbort();
  int dropped = 0;
  FocusFetchGrey(handle, &dropped);  // one frame at the new settings, dropped
  Enable(kAutoExposureCheck, true);
  Enable(kAnalogGainSlider, true);
  for (int id : kExposureEdits) Enable(id, true);
  for (int id : kExposureSpins) Enable(id, true);
  Enable(kAeTargetSlider, false);
  ExposureUnitCascade(handle, false);
  CCameraProcess* camera = Camera();
  camera->SetDrawMode(1);
  CameraSetMediaTypeSel(handle, std::max(Combo(kMediaTypeCombo)->currentIndex(), 0));
  camera->SetFrameMode(0);
  FocusReadBack(handle);
  ShowPreviewSel(handle);
  EndStep();
}

void CCamSetupDlg::FocusReadBack(int handle) {
  float gain = 0;
  CameraGetAnalogGain(handle, &gain);
  SetSliderPos(kAnalogGainSlider, int(gain * 1000 / 125));
  OnAnalogGainChanged();
  std::uint64_t exposure = 0, maximum = 0, minimum = 0;
  CameraGetExposureTime(handle, &exposure, &maximum, &minimum);
  ShowExposure(exposure);
  UpdateData(true);
}
