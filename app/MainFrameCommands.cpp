// The acquisition commands: Live (open, or play and pause), Stop, Capture (single or
// continuous, timer 2), Record, and the frame counter in the status bar (timer 1).
#include <QDir>
#include <QLabel>
#include <QFileInfo>
#include <QMessageBox>
#include <QToolBar>

#include <vector>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "imaging/CamSetupDlg.h"
#include "platform/camsdk/camsdk.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "res/StringIds.h"
#include "ui/CameraAnswer.h"

namespace {

QString Str(int id) { return QString::fromStdU16String(LoadStringW(std::uint32_t(id))); }

WString DeviceName(const stCameraItem& item) {
  const char* n = item.device.deviceName;
  return FromUtf8(std::string_view(n, strnlen(n, sizeof(item.device.deviceName))));
}

// Whether a capture under this name (without extension) would meet an existing file: any of the
// extensions a capture writes counts, so that no format of an earlier capture is ever replaced.
bool CaptureNameTaken(const WString& name) {
  const QString base = QString::fromStdU16String(name);
  for (const char* ext : {".bmp", ".jpg", ".png", ".raw"})
    if (QFileInfo::exists(base + QLatin1String(ext))) return true;
  return false;
}

// The first file the capture writes, for messages.
QString FirstCaptureFile(const WString& name, const stCaptureSetting& cs) {
  const char* ext = ".bmp";
  if (!cs.ifMeasure) {
    if (cs.imageType & CAMSDK_FILE_JPG) ext = ".jpg";
    else if (cs.imageType & CAMSDK_FILE_BMP) ext = ".bmp";
    else if (cs.imageType & CAMSDK_FILE_RAW) ext = ".raw";
    else if (cs.imageType & CAMSDK_FILE_PNG) ext = ".png";
  }
  return QDir::toNativeSeparators(QString::fromStdU16String(name) + QLatin1String(ext));
}

}  // namespace

// The layers of every camera are kept in this file of the working folder between sessions.
std::filesystem::path DefaultLayerFile() {
  return std::filesystem::path(QDir::current().filePath("Default.kvmi").toStdU16String());
}

void CMainFrame::OnCameraLive() {
  stCameraItem item;
  int cur = camera_.GetCurCameraItem(&item);
  if (item.state != CAMERA_PLAYING && item.state != CAMERA_PAUSED) camera_.StopAllCameras();
  if (cur < 0) {
    // No current camera (the last one was closed): the camera the list shows is the one to
    // open. Only an empty list is detected anew, which starts from its first camera.
    const int shown = ShownCameraIndex();
    if (shown >= 0 && shown < camera_.GetCameraCount())
      camera_.SetCurCamera(shown);
    else
      DetectCameras();
    cur = camera_.GetCurCameraItem(&item);
  }
  // No camera yet: discovery answers later, and the first camera it brings is opened then.
  liveWhenListed_ = cur < 0;
  if (cur < 0) return;

  if (item.state == CAMERA_CLOSED) {
    if (camera_.GetOpenedCount() > 0) {
      for (int i = 0; i < camera_.GetCameraCount(); ++i) {
        stCameraItem other;
        if (camera_.GetCameraItem(i, &other) && other.state != CAMERA_CLOSED) {
          camera_.SetCurCamera(i);
          OnCameraStop();
        }
      }
    }
    camera_.SetCurCamera(cur);
    std::int32_t params[kOpenParamCount] = {};
    params[kOpenDisplayWidth] = 1280;
    params[14] = 1024;
    const int opened = camera_.OpenCamera(cur, params, view_->ImageWindow());
    if (opened != 1) {
      // A camera that another program holds, or that cannot be set up, is said at once: nothing
      // plays. Any other reason is told in the hint line, and the window stays idle.
      if (opened == CAMSDK_STATUS_BUSY || opened == CAMSDK_STATUS_FAILED)
        messageBox(QString::fromStdU16String(
            FormatW(LoadStringW(opened == CAMSDK_STATUS_BUSY ? 64240 : 64241), DeviceName(item))));
      else
        OnStreamChanged(cur, opened);
      return;
    }
    camera_.GetCurCameraItem(&item);
    SetImageState(1, 1);
    InitCameraControls(item.handle);
    view_->ImageWindow()->show();
    RefreshFromCamera(item.handle);
    int sel = 0;
    if (CameraGetImageSizeSel(item.handle, &sel, 0) != 1) sel = 0;
    view_->MeasureManager()->LoadLayers(DefaultLayerFile(), DeviceName(item), sel);
    LayersLoaded(DeviceName(item), sel);
    RebuildLayers();
    timer1_.start();
    UpdateMainToolbarImages(true);
    OnZoomFitWindow();
    view_->RedrawImage();
  } else if (item.state == CAMERA_PAUSED) {
    // The entry, the bar and the rate follow what the camera did (OnStreamChanged).
    (void)camera_.PlayCamera(cur);  // shown
  } else {
    (void)camera_.PauseCamera(cur);  // shown
  }
  view_->LoadSelectedScale(DeviceName(item));
}

void CMainFrame::OnStreamChanged(int index, int status) {
  stCameraItem item;
  if (!camera_.GetCameraItem(index, &item)) return;
  // What the camera did not do is told, but for a lost camera: its loss has a notice of its own.
  if (status != CAMSDK_STATUS_OK && status != CAMSDK_STATUS_DEVICE_LOST && status != CAMSDK_STATUS_INVALID_HANDLE) {
    if (item.state != CAMERA_PLAYING)
      ShowHint(FormatW(LoadStringW(ui::kStrCameraNotPlaying), DeviceName(item), status));
    else
      ShowHint(FormatW(LoadStringW(ui::kStrCameraRefused), status));
  }
  if (index != camera_.GetCurCameraItem()) return;
  // The bar and the rate show the current camera as it is.
  const bool playing = item.state == CAMERA_PLAYING;
  UpdateMainToolbarImages(playing);
  if (playing) {
    timer1_.start();
  } else {
    timer1_.stop();
    UpdateCaptureStatus();  // a camera that does not play delivers nothing: no rate stands
  }
}

bool CMainFrame::OnCameraStop() {
  stCameraItem item;
  const int cur = camera_.GetCurCameraItem(&item);
  if (cur >= 0 && (item.state == CAMERA_PLAYING || item.state == CAMERA_PAUSED)) {
    // The measurements go with the camera: kept in the default layer file before they are
    // cleared, so that the next Live brings them back.
    SaveLoadedLayers();
    loaded_.reset();
    camera_.CloseCamera(cur);
    view_->MeasureManager()->ResetMeasurements();
    ClearLayers();
    if (camera_.GetOpenedCount() == 0) {
      view_->MoveImageWindow(RECT{0, 0, 0, 0});
      view_->ImageWindow()->hide();
    }
    UpdateMainToolbarImages(false);
    view_->update();
    SetImageState(1, 0);
  }
  timer1_.stop();
  UpdateCaptureStatus();  // the idle text: the last rate would otherwise stand after the stop
  recordingFlag = false;
  return true;
}

void CMainFrame::UpdateMainToolbarImages(bool playing) {
  mainImages_ = !playing        ? ToolbarImages::kIdle
                : recordingFlag ? ToolbarImages::kRecording
                                : ToolbarImages::kPlaying;
  for (QAction* a : mainBar_->actions()) {
    bool ok = false;
    const int id = a->data().toInt(&ok);
    if (ok && id > 0) a->setIcon(CommandIcon(id, mainImages_, 32));
  }
}

void CMainFrame::OnRecord() {
  const bool starting = !camera_.IsRecording();
  recordingFlag = camera_.RecordVideo(camera_.GetCurCameraItem());
  if (starting && !recordingFlag && !camera_.RecordStartFailure().empty()) ShowHint(camera_.RecordStartFailure());
  // The bar shows "playing" only while a camera plays (a still image has none).
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  UpdateMainToolbarImages(recordingFlag || item.state == CAMERA_PLAYING);
  UpdateRecordingStatus();
}

namespace {
// Why a recording ended by itself, in the operator's words.
WString RecordingFaultText(int status) {
  switch (status) {
    case CAMSDK_STATUS_INVALID_PARAMETER: return LoadStringW(sid::kRecordingStoppedPictureSizeChanged);
    case CAMSDK_STATUS_FILE_ERROR: return LoadStringW(sid::kRecordingStoppedVideoFileCould);
    case CAMSDK_STATUS_DEVICE_LOST:
    case CAMSDK_STATUS_INVALID_HANDLE: return LoadStringW(sid::kRecordingStoppedCameraLost);
    default: return FormatW(LoadStringW(sid::kRecordingStoppedCameraRefusedFrame), status);
  }
}
}  // namespace

void CMainFrame::OnRecordingEnded(int status) {
  // Another recording may have started while this one's file was being finished.
  recordingFlag = camera_.IsRecording();
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  UpdateMainToolbarImages(item.state == CAMERA_PLAYING);
  if (!recordingFlag) UpdateRecordingStatus();
  if (status != 0) return;  // the notice comes when the file is closed
  // The file is closed: say why it ended (when not by the operator) and where it went.
  const CCameraProcess::RecordingResult& r = camera_.LastRecording();
  const WString file = FromUtf8(r.file);
  std::vector<WString> parts;
  if (r.fault != 0) parts.push_back(RecordingFaultText(r.fault));
  if (r.status == CAMSDK_STATUS_OK) {
    parts.push_back(FormatW(LoadStringW(sid::kVideoSavedFramesFps), file, r.framesWritten, r.framesPerSecond, r.seconds));
    if (r.framesDropped > 0) parts.push_back(FormatW(LoadStringW(sid::kFramesDroppedBecauseEncoderFell), r.framesDropped));
    if (r.framesIncomplete > 0) parts.push_back(FormatW(LoadStringW(sid::kIncompleteFramesLeftOut), r.framesIncomplete));
  } else {
    if (r.fault != CAMSDK_STATUS_FILE_ERROR) parts.push_back(LoadStringW(sid::kRecordingStoppedVideoFileCould));
    if (r.fileKept) parts.push_back(FormatW(LoadStringW(sid::kWhatWritten), file));
  }
  WString text;
  for (const WString& p : parts) text += (text.empty() ? u"" : u" ") + p;
  ShowHint(text);
}

void CMainFrame::UpdateRecordingStatus() {
  const QString mark = QString::fromStdU16String(LoadStringW(sid::kRecording)).section(u'%', 0, 0);
  if (!camera_.IsRecording()) {
    if (statusPanes_[0] && !mark.isEmpty() && statusPanes_[0]->text().startsWith(mark)) SetStatusPane(0, QString());
    return;
  }
  const int s = int(camera_.RecordingSeconds());
  SetStatusPane(0, QString::fromStdU16String(FormatW(LoadStringW(sid::kRecording), s / 3600, s / 60 % 60, s % 60)));
}

void CMainFrame::UpdateCaptureStatus() {
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  const WString fmt = LoadStringW(sid::kCaptureFrameRateFPS);
  const WString text = item.state == CAMERA_PLAYING
                           ? FormatW(fmt, stats_.ReceivedFrames(), double(stats_.FrameRate()))
                           : FormatW(fmt, 0u, 0.0);
  SetStatusPane(3, QString::fromStdU16String(text));
  UpdateRecordingStatus();
}

void CMainFrame::OnCapture() {
  stCaptureSetting cs;
  camera_.GetCaptureSetting(&cs);
  capturedFrames = 0;
  if (!cs.ifContinuous) {
    if (!continuousCapture) {
      CaptureImageToFile();
      return;
    }
  } else if (!continuousCapture) {
    WString hint = FormatW(u"%s:%dms", LoadStringW(sid::kOpenContinuousCaptureIntervalTime), cs.timeInterval);
    if (cs.ifFrame) hint = FormatW(u"%s, %s%d", hint, LoadStringW(sid::kCaptureFrame), cs.frameTotal);
    ShowHint(hint);
    continuousCapture = true;
    timer2_.start(std::max(1, cs.timeInterval));
    return;
  }
  timer2_.stop();
  continuousCapture = false;
  ShowHint(LoadStringW(sid::kContinuousCaptureStop));
}

void CMainFrame::ContinuousCaptureTick() {
  stCaptureSetting cs;
  camera_.GetCaptureSetting(&cs);
  if (CaptureImageToFile() != 0) {
    ++capturedFrames;
    if (cs.ifFrame && capturedFrames >= cs.frameTotal) OnCapture();
  }
}

int CMainFrame::CaptureImageToFile() {
  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  if (item.state == CAMERA_CLOSED) {
    if (continuousCapture) EndContinuousCapture(LoadStringW(sid::kContinuousCaptureStop));
    messageBox(Str(sid::kPleaseOpenCamera));
    return 0;
  }
  stCaptureSetting cs;
  camera_.GetCaptureSetting(&cs);
  const QDateTime now = clock();
  const QString folder = QString::fromStdU16String(cs.imageFolder);
  if (!QFileInfo(folder).isDir()) QDir().mkdir(folder);

  // A capture never replaces a file: a dated name that is taken (several captures in one
  // second) gets a suffix, and numbered names that are taken (files left from an earlier run)
  // are skipped. The count is stored as it changes, so a restart goes on from it.
  WString name;
  const WString sep = u"/";
  if (cs.useDefaultName) {
    const QDate d = now.date();
    const QTime t = now.time();
    const WString base = FormatW(u"%s%s%s %d%02d%02d%02d%02d%02d", cs.imageFolder, sep, DeviceName(item), d.year(),
                                 d.month(), d.day(), t.hour(), t.minute(), t.second());
    name = base;
    for (int n = 2; CaptureNameTaken(name) && n < 1000000; ++n) name = FormatW(u"%s_%d", base, n);
  } else {
    for (int tries = 0;; ++tries) {
      camera_.GetCaptureSetting(&cs);
      name = FormatW(u"%s%s%s%04d", cs.imageFolder, sep, cs.imageName, cs.captureCount);
      camera_.IncCaptureCount();
      if (!CaptureNameTaken(name) || tries >= 1000000) break;
    }
    // Said once, not at every capture of a continuous run, until the count saves again.
    if (camera_.SaveCaptureCount()) {
      captureCountUnsaved_ = false;
    } else if (!captureCountUnsaved_) {
      captureCountUnsaved_ = true;
      messageBox(QString::fromStdU16String(FormatW(LoadStringW(sid::kCaptureNumberCouldNotSaved), RegistryFile().u16string(),
                                                   RegistryNotSavedReason())));
    }
  }
  int result;
  bool wroteBmp;
  if (cs.ifMeasure) {
    result = camera_.SaveImageBmp(name);
    wroteBmp = result == 1;
  } else {
    result = CameraCaptureFile(item.handle, ToUtf8(name).c_str(), cs.imageType, 255);
    wroteBmp = result == 1 && (cs.imageType & 2);
  }
  // Only a file that was really written goes to the image list.
  if ((cs.imageType & 2) && wroteBmp) AddImageFile(QString::fromStdU16String(name) + ".bmp");
  if (result == 1) {
    if (!continuousCapture) ShowHint(LoadStringW(sid::kCaptureSuccessful));
    return 1;
  }
  if (result == CAMSDK_STATUS_DEVICE_LOST) {
    // The camera went before the library told: handled as its loss.
    OnDeviceEvent(CAMSDK_EVENT_DEVICE_LOST, item.handle, std::string(item.device.deviceName,
                                                                     strnlen(item.device.deviceName, sizeof item.device.deviceName)));
    return 0;
  }
  if (continuousCapture) {
    // Nothing is counted for a capture that was not written, and the run stops at once: an
    // unattended run must not go on producing nothing.
    EndContinuousCapture(FormatW(LoadStringW(sid::kContinuousCaptureStoppedCouldNot), FirstCaptureFile(name, cs).toStdU16String()));
  } else {
    ShowHint(LoadStringW(sid::kCaptureFail));
  }
  return 0;
}

void CMainFrame::EndContinuousCapture(const WString& hint) {
  timer2_.stop();
  continuousCapture = false;
  ShowHint(hint);
}

void CMainFrame::OnDeviceEvent(int event, int handle, const std::string& deviceName) {
  const WString name = FromUtf8(deviceName);
  if (event == CAMSDK_EVENT_DEVICE_LOST) {
    int index = -1;
    for (int i = 0; i < camera_.GetCameraCount(); ++i) {
      stCameraItem it;
      if (camera_.GetCameraItem(i, &it) && it.state != CAMERA_CLOSED && it.handle == handle) index = i;
    }
    if (index < 0) return;  // not open here (or already stopped)
    lostDevices_.insert(deviceName);
    const int previous = camera_.GetCurCameraItem();
    const bool current = previous == index;
    if (continuousCapture && current) EndContinuousCapture(LoadStringW(sid::kContinuousCaptureStop));
    if (recordingFlag && current) {
      // Ends the recording through the recorder's own stop, which closes the file.
      recordingFlag = camera_.RecordVideo(index);
    }
    // Stopping it keeps the measurements in the default layer file, so that they come back with it.
    camera_.SetCurCamera(index);
    OnCameraStop();
    if (!current && previous >= 0 && camera_.GetOpenedCount() > 0) camera_.SetCurCamera(previous);
    UpdateCaptureStatus();
    const WString text = FormatW(LoadStringW(sid::kCameraDisconnectedCaptureRecordingEnded), name);
    ShowHint(text);
    messageBox(QString::fromStdU16String(text));
    return;
  }
  if (event == CAMSDK_EVENT_DEVICE_ARRIVED) {
    if (!lostDevices_.erase(deviceName)) {
      // Discovery found a camera: the list shows it; a Live that found none opens it now.
      if (CCamSetupDlg* panel = CameraPanel()) panel->RefreshCameraList();
      if (liveWhenListed_ && camera_.GetOpenedCount() == 0 && camera_.GetCurCameraItem() >= 0) OnCameraLive();
      return;
    }
    if (camera_.GetOpenedCount() > 0) return;  // the operator has opened another meanwhile
    DetectCameras();
    for (int i = 0; i < camera_.GetCameraCount(); ++i) {
      stCameraItem it;
      if (!camera_.GetCameraItem(i, &it) || DeviceName(it) != name) continue;
      camera_.SetCurCamera(i);
      OnCameraLive();
      ShowHint(FormatW(LoadStringW(sid::kCameraConnectedAgain), name));
      return;
    }
  }
}
