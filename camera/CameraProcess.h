#pragma once
// CCameraProcess: the hub between the cameras and everything the operator sees and saves. It
// keeps the camera list, opens and closes cameras, owns the frame buffer that every image
// operation works on, draws the frame with the measurement overlay, captures stills, records
// video and keeps the settings. Exactly one exists (a member of the main frame); the camera
// library's frame callback reaches it through a registered pointer.
//
// The implementation is split by concern: CameraList.cpp (list, open, close, sizes),
// CameraFrame.cpp (frame buffer and frame callback), CameraDraw.cpp (frame, overview and
// histogram display), CameraCapture.cpp (bitmap capture and video), CameraSettings.cpp
// (settings blocks and their persistence).
//
// Threads. Everything here runs on the user-interface thread except the frame callback, which
// the library calls on its own thread. The callback only normalises and converts the frame,
// puts it into the frame buffer under the buffer's lock (frames of another size than the
// buffer are dropped), hands it to the video recorder, counts it, and posts one coalesced
// "frame ready" notice to the user-interface thread; it never waits for that thread and never
// draws. Drawing, capture and every access to the measurement engine happen on the
// user-interface thread, which reads the buffer under the same lock. While a camera streams,
// the pixels move between two buffers: read or write them only through a FrameView, which
// holds the lock while it lives, and never close a camera while holding one (closing waits for
// the camera thread, which may be waiting for the lock).
#include <QImage>
#include <QPainter>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "camera/AreaScale.h"
#include "camera/CameraSettings.h"
#include "camera/CameraSinks.h"
#include "camera/CameraTypes.h"
#include "platform/camsdk/camsdk.h"
#include "platform/text.h"
#include "platform/types.h"

class QObject;
namespace camera_internal {
struct ScaledCache;
}

// The frame callback handed to CameraInit: routes every frame to the registered camera object.
int FrameCallback(int handle, unsigned char* raw, CamSdkFrameInfo* frameInfo);
// The camera library's device-event callback: hands the event to the camera object.
void DeviceEventCallback(void* context, int event, int handle, const char* deviceName);

// A high-resolution counter reading; the frame rate is measured with it.
using PerfCounterFn = std::int64_t (*)();

// The frame buffer as seen for the time the view lives: the frame lock is held, so the pixels
// stay where they are and no frame replaces them. Empty (false) when there is no frame. Keep it
// only while the pixels are read or written, and call nothing else of the camera object that
// takes the frame lock meanwhile (the lock is not recursive): the view carries the format and
// the buffer's generation itself.
class FrameView {
 public:
  FrameView() = default;
  explicit operator bool() const { return !pixels_.empty(); }
  // width x height x 3 bytes of 24-bit BGR, rows bottom-up and unpadded; empty without a frame.
  std::span<std::uint8_t> Pixels() const { return pixels_; }
  std::uint8_t* Data() const { return pixels_.data(); }
  const BITMAPINFOHEADER& Format() const { return format_; }
  int Width() const { return format_.biWidth; }
  int Height() const { return format_.biHeight; }
  // The buffer's allocation (CCameraProcess::BufferGeneration).
  std::uint64_t Generation() const { return generation_; }

 private:
  friend class CCameraProcess;
  FrameView(std::unique_lock<std::mutex> lock, std::span<std::uint8_t> pixels, const BITMAPINFOHEADER& format,
            std::uint64_t generation)
      : lock_(std::move(lock)), pixels_(pixels), format_(format), generation_(generation) {}
  std::unique_lock<std::mutex> lock_;
  std::span<std::uint8_t> pixels_;
  BITMAPINFOHEADER format_{};
  std::uint64_t generation_ = 0;
};

class CCameraProcess {
 public:
  // Defaults, registration as the frame callback's target, then the settings from the store.
  CCameraProcess();
  // Closes every open camera (their streams stop first), then frees the frame buffer.
  virtual ~CCameraProcess();
  CCameraProcess(const CCameraProcess&) = delete;
  CCameraProcess& operator=(const CCameraProcess&) = delete;

  // The camera object the frame callback reaches (the last one built and still alive).
  static CCameraProcess* Instance();

  // ---- the windows around it (all optional; they must outlive their registration)
  void SetView(ICameraView* view) { view_ = view; }
  void SetLayerPanel(ILayerPanel* panel) { panel_ = panel; }
  void SetMainFrame(IMainFrame* frame) { mainFrame_.store(frame ? frame : &defaultFrame_); }
  void SetLayerEditor(ILayerEditor* editor) { editor_ = editor; }
  CFrameStatistics& FrameStatistics() { return mainFrame_.load()->FrameStatistics(); }

  // ---- camera list and open cameras (CameraList.cpp)
  int EnumCameras(stCameraItem out[kMaxCameraList], int* count);
  [[nodiscard]] int OpenCamera(int index, const std::int32_t* openParams, void* displayWindow);
  int CloseCamera(int index);
  void StopAllCameras();
  [[nodiscard]] int GetImageSize(int index, int* width, int* height) const;
  [[nodiscard]] int SetImageSizeSel(int handle, int selection, int which);
  [[nodiscard]] int SetImageSize(int handle, int roi, int x, int y, int width, int height, int which);
  int FindOpenSlot(int index) const;
  // The stream of an open camera-list entry. The entry's state follows what the camera did
  // (playing only when it plays; paused when it paused, stopped or was lost) and the main
  // frame is told (IMainFrame::OnStreamChanged). The library's status, or CAMERA_NOT_OPENED.
  [[nodiscard]] int PlayCamera(int index);
  [[nodiscard]] int PauseCamera(int index);
  // The open entry holding `handle`, or -1.
  int IndexOfHandle(int handle) const;

  bool GetCameraItem(int index, stCameraItem* out) const;
  void SetCurCamera(int index);
  int GetCurCameraItem(stCameraItem* out = nullptr) const;
  void SetCameraOpened(int index, int state);
  int GetOpenedCount() const { return openedCount_; }
  int GetCameraCount() const { return listedCount_; }
  bool IsRecording() const { return recording_.load(); }
  void SetRoi(bool enable, int left, int top, int right, int bottom);
  bool GetRoi(POINT* origin, POINT* corner) const;
  void SetCameraCapability(const stCameraCapability& capability) { capability_ = capability; }
  void GetCameraCapability(stCameraCapability* out) const {
    if (out) *out = capability_;
  }
  void SetHistogramChannel(int mask) { histogramMask_ = mask; }
  int GetHistogramChannel() const { return histogramMask_; }

  // What the frame callback does to each frame besides showing it; the focus assistant switches it.
  enum class FrameMode : int {
    kPlain = 0,        // shown as it comes
    kFocusSearch = 1,  // the assistant searches an exposure: shown brightened to the target
    kBrightened = 2,   // the assistant is active: every frame brightened to the target
  };
  void SetFrameMode(FrameMode mode) { frameMode_.store(mode); }
  FrameMode GetFrameMode() const { return frameMode_.load(); }
  // Modes the view switches; read by the frame callback.
  void SetDrawMode(int mode) { drawMode_.store(mode); }
  int GetDrawMode() const { return drawMode_.load(); }
  void SetBrightnessTarget(int target) { brightnessTarget_.store(target); }
  int GetBrightnessTarget() const { return brightnessTarget_.load(); }
  stFocusStore& FocusStore() { return focusStore_; }

  // ---- frame buffer (CameraFrame.cpp)
  // width x height pixels of 24-bit BGR; false (and no valid frame) for sizes that do not fit.
  [[nodiscard]] bool AllocFrameBuffer(int width, int height);
  [[nodiscard]] bool SetFrameFormat(BITMAPINFOHEADER format);
  // Whether the buffer holds a frame (the valid flag).
  bool HasFrame() const;
  // The frame, to read or to change in place (see FrameView); empty without one.
  [[nodiscard]] FrameView ViewFrame();
  // A new still frame of `format` (as SetFrameFormat), to be written through the view before
  // anything else sees it; empty when the format does not fit.
  [[nodiscard]] FrameView NewFrame(const BITMAPINFOHEADER& format);
  void GetFrameFormat(BITMAPINFOHEADER* format) const;
  // Only when pixels exist and no camera is open.
  void FreeFrameBuffer();
  // A copy of the current frame (false when there is none).
  bool CopyFrame(std::vector<std::uint8_t>* pixels, BITMAPINFOHEADER* format) const;
  // The current frame the right way up into `picture` (RGB32, prepared at the frame's size, so
  // that the lock is held only for the conversion), and its format; false when there is no
  // frame of that size.
  bool CopyFrameRgb32(QImage* picture, BITMAPINFOHEADER* format) const;
  // Frames put into the buffer by the frame callback so far.
  std::uint64_t FrameSequence() const { return frameSequence_.load(); }
  // Changes whenever the buffer is allocated anew or freed (an image opened, a camera started).
  std::uint64_t BufferGeneration() const {
    std::lock_guard lock(frameLock_);
    return bufferGeneration_;
  }
  void GetOverviewRect(POINT* topLeft, POINT* bottomRight) const;
  // The user-interface side of a frame: runs on the notice the callback posts (tests may call
  // it directly). Lets the library or the view show the newest frame and redraws the layer
  // panel's overview or histogram.
  void ProcessFrameReady();
  // The clock of the frame-rate measurement (default: the steady clock in nanoseconds).
  void SetPerformanceClock(PerfCounterFn counter, std::int64_t frequency);

  // ---- display (CameraDraw.cpp); user-interface thread
  // The frame scaled to destWidth x destHeight at the painter's origin, the measurement overlay
  // (selections shown) and the region of interest on top, drawn at image scale.
  void DrawImage(QPainter& painter, int destWidth, int destHeight);
  // The same for given pixels (the frame buffer's through a FrameView: this takes no lock).
  void DrawImage(QPainter& painter, const std::uint8_t* pixels, const BITMAPINFOHEADER& format, int destWidth,
                 int destHeight);
  // The same for a window of destWidth x destHeight of which only `visible` (window
  // coordinates) can be seen: only that part is scaled and drawn, so a zoomed-in window of any
  // size costs no more than the screen it covers. The overlay only when `withOverlay`.
  void DrawImageRegion(QPainter& painter, int destWidth, int destHeight, const QRect& visible,
                       bool withOverlay = true);
  // The overlay alone (measurements, selections shown, and the region of interest), as
  // DrawImage draws it over a frame scaled to destWidth x destHeight. `part` 1 draws only the
  // grid and the measurements, part 2 the rest on top of them (handles, selection, remarks,
  // overlays, region of interest); 0 both. Part 1 takes the measurements [begin, end) only.
  void DrawOverlay(QPainter& painter, int destWidth, int destHeight, int part = 0, int begin = 0,
                   int end = INT32_MAX);
  // The part of the image the view shows, in image pixels.
  void GetVisibleRect(POINT* start, POINT* end) const;
  // Into the layer panel's picture (false when nothing was drawn), or into a given image whose
  // size is the picture's.
  bool DrawOverview();
  bool DrawOverview(QImage& target);
  bool DrawHistogram();
  bool DrawHistogram(QImage& target);

  // ---- capture and video (CameraCapture.cpp)
  // Writes "<name>.bmp": the frame with the measurements burnt in at image scale. 1 written,
  // CAMERA_NO_FRAME without a frame, CAMERA_WRITE_FAILED when the file cannot be written.
  int SaveImageBmp(WStringView fileNameWithoutExtension);
  // Starts recording on that camera when none runs, else stops the recording; returns whether
  // a recording runs afterwards.
  bool RecordVideo(int index);
  // Why the last start of a recording failed, in the operator's words (the video folder and the
  // reason when the file could not be made); empty when it started.
  const WString& RecordStartFailure() const { return recordStartFailure_; }
  // A recording the library stops taking frames for (the picture size changed, or the file
  // could not be written) is ended as RecordVideo ends one, on the user-interface thread; then
  // the handler (if any) gets the library's status, so that the frame can reset its Record
  // button and tell the operator. LastRecordingFault() keeps that status (0: none so far).
  // Every recording's file is finished off this thread after it stops; when it is closed the
  // handler is called once more, with status 0, and LastRecording() tells how it ended.
  void SetRecordingEndedHandler(std::function<void(int status)> handler) { recordingEnded_ = std::move(handler); }
  int LastRecordingFault() const { return lastRecordingFault_; }
  // The camera library's device events (CAMSDK_EVENT_*: a camera lost, a camera plugged in),
  // passed on on the user-interface thread with the handle and the device name.
  void SetDeviceEventHandler(std::function<void(int event, int handle, const std::string& name)> handler) {
    deviceEvent_ = std::move(handler);
  }
  void PostDeviceEvent(int event, int handle, std::string deviceName);  // any thread
  struct RecordingResult {
    int status = 0;  // CAMSDK_STATUS_OK when every frame taken is in the file
    int fault = 0;   // what ended it, when not the operator (the library's status)
    std::string file;
    std::uint64_t framesWritten = 0, framesDropped = 0;
    std::uint64_t framesIncomplete = 0;  // the camera sent them damaged: left out
    double seconds = 0, framesPerSecond = 0;
    bool fileKept = true;
  };
  const RecordingResult& LastRecording() const { return lastRecording_; }
  // Seconds since the running recording started; 0 when none runs.
  double RecordingSeconds() const;
  // Waits until every stopped recording's file is closed and its notice handled.
  void WaitRecordingsFinished();
  void IncCaptureCount();
  // Writes the capture count alone to the store, so that numbered captures go on from it after
  // a restart however the program ended. True when written.
  bool SaveCaptureCount();

  // ---- settings (CameraSettings.cpp)
  void GetVideoSetting(stVideoSetting* out) const;
  void SetVideoSetting(const stVideoSetting& setting);
  void GetCaptureSetting(stCaptureSetting* out) const;
  void SetCaptureSetting(const stCaptureSetting& setting);
  void GetGridSetting(int* gridInterval, int* gridWidth, COLORREF* gridColor, int* selectLineType,
                      int* selectLineWidth, COLORREF* selectLineColor) const;
  void SetGridSetting(int gridInterval, int gridWidth, COLORREF gridColor, int selectLineType, int selectLineWidth,
                      COLORREF selectLineColor);
  void GetReportSetting(stReportSetting* out) const;
  void SetReportSetting(const stReportSetting& setting);
  // True when the key could be written.
  bool SaveSetting();
  void LoadSetting();
  // Removes what saves of an earlier run left behind when it was killed: the writer's temporary
  // files last changed before `startNs` (FileClockNowNs at the start) in every folder this
  // program writes: the settings store's, the camera library's, the working folder and the
  // capture and video folders. Returns how many were removed.
  int SweepLeftovers(std::int64_t startNs) const;

  // ---- reports (CameraReport.cpp, CameraReportWord.cpp, CameraReportExcel.cpp)
  // The report is written as a .docx / .xlsx file beside the captured images under a dated name
  // that never replaces an earlier one, then opened with the desktop's application for it.
  enum class ReportStatus {
    Ok,                // written and handed to the desktop
    NotOpened,         // written and kept, but no application took it
    NoImage,           // no frame to put in
    TemplateBroken,    // the template set in the options cannot be read
    FolderUnwritable,  // the report could not be written (nothing is left behind)
    Cancelled,         // the operator cancelled it before it was written
    NoMemory,          // not enough memory for the picture
    PictureFailed,     // the picture could not be encoded
  };
  struct ReportResult {
    ReportStatus status = ReportStatus::Ok;
    WString path;     // the written report (Ok, NotOpened)
    WString message;  // the text to show: the saved path as a hint when Ok, else what failed
    bool ok() const { return status == ReportStatus::Ok; }
  };
  // Both halves at once, on the calling thread.
  ReportResult ExportWordReport();
  ReportResult ExportExcelReport();
  // The report in two halves, so that the long one runs off the user-interface thread. Begin
  // (user-interface thread) takes the picture and the texts and returns the job that validates
  // the template, encodes the picture and writes the file; the job may run on any thread, reads
  // only the frame buffer (under its lock) of this object, which must outlive it. A null job:
  // *failed says why. Once `cancel` is set the job
  // writes nothing (status Cancelled). Finish (user-interface thread) opens the written file.
  using ReportJob = std::function<ReportResult()>;
  ReportJob BeginReport(bool word, ReportResult* failed, std::shared_ptr<std::atomic_bool> cancel);
  ReportResult FinishReport(bool word, ReportResult written);

 private:
  friend int FrameCallback(int handle, unsigned char* raw, CamSdkFrameInfo* frameInfo);
  int OnFrame(int handle, unsigned char* raw, CamSdkFrameInfo* frameInfo);  // camera thread
  void PostFrameReady();
  bool ValidIndex(int index) const { return index >= 0 && index < kMaxCameraList; }
  void SetStreamState(int index, int state, int status);
  bool AllocFrameLocked(const BITMAPINFOHEADER& format, bool withBackBuffer);
  void ResetFrameStatistics() { FrameStatistics().ResetFrameStatistics(); }
  bool RenderOverview(QImage& target, const std::uint8_t* pixels, const BITMAPINFOHEADER& format);
  // GetVisibleRect for an image of imgW x imgH.
  void VisibleRectOf(int imgW, int imgH, POINT* start, POINT* end) const;
  void StopRecording();
  ReportResult RunReport(bool word);
  void DrawOverlayLocked(QPainter& painter, int destWidth, int destHeight, int imageWidth, int imageHeight,
                         int part = 0, int begin = 0, int end = INT32_MAX);
  void PostRecordingFault(int handle, int status);  // camera thread
  void EndFaultyRecording(int handle, int status);

  // settings blocks
  stVideoSetting video_;
  stCaptureSetting capture_;
  stGridSetting grid_;
  stReportSetting report_;

  // modes
  stFocusStore focusStore_;
  std::atomic<int> brightnessTarget_{180};
  std::atomic<FrameMode> frameMode_{FrameMode::kPlain};
  std::atomic<int> drawMode_{1};

  // frame buffer: front holds the frame; back is where the camera thread converts the next one
  mutable std::mutex frameLock_;  // never held across a call that takes it again
  bool frameValid_ = false;
  std::unique_ptr<std::uint8_t[]> front_;
  std::unique_ptr<std::uint8_t[]> back_;
  BITMAPINFOHEADER format_;
  std::uint64_t bufferGeneration_ = 0;  // changes with every allocation or release
  int lastFrameHandle_ = -1;            // camera and frame information of the newest frame
  CamSdkFrameInfo lastFrameInfo_{};
  std::atomic<std::uint64_t> frameSequence_{0};

  // camera list
  stCameraItem cameras_[kMaxCameraList];
  int listedCount_ = 0;
  int openedCount_ = 0;
  int curCamera_ = -1;
  int openSlots_[kMaxOpenCameras] = {-1, -1, -1, -1};
  std::atomic<int> recordCount_{0};  // read by the frame callback with the flag
  std::atomic<bool> recording_{false};
  std::atomic<int> recordHandle_{-1};  // the camera that records
  std::atomic<bool> recordFaultPending_{false};
  int lastRecordingFault_ = 0;
  std::function<void(int)> recordingEnded_;
  std::function<void(int, int, const std::string&)> deviceEvent_;
  std::int64_t recordStartNs_ = 0;
  WString recordStartFailure_;
  RecordingResult lastRecording_;
  void StopRecording(int fault);
  static void OnRecordingFinished(void* context, const CamSdkRecordSummary* summary);  // library thread

  int histogramMask_ = 7;
  RECT overviewRect_{0, 0, 0, 0};
  bool roiEnabled_ = false;
  RECT roi_{0, 0, 0, 0};
  stCameraCapability capability_;

  // windows
  ICameraView* view_ = nullptr;
  ILayerPanel* panel_ = nullptr;
  ILayerEditor* editor_ = nullptr;
  IMainFrame defaultFrame_;
  std::atomic<IMainFrame*> mainFrame_{&defaultFrame_};

  // frame-ready notice and rate clock
  std::unique_ptr<QObject> notifier_;  // lives on the user-interface thread
  std::atomic<bool> framePending_{false};
  std::atomic<PerfCounterFn> clock_;
  std::atomic<std::int64_t> clockFrequency_;

  std::unique_ptr<camera_internal::ScaledCache> scaled_;  // reused surfaces of the display
  // the view's region drawing (user-interface thread)
  CAreaScaler regionScaler_;
  QImage regionSurface_;
};
