// Capture of the frame with the measurements burnt in, as a 24-bit bitmap file, and video
// recording through the camera library.
#include <QCoreApplication>
#include <QString>

#include <cerrno>
#include <filesystem>

#include "camera/BitmapFile.h"
#include "camera/CameraInternal.h"
#include "camera/CameraProcess.h"
#include "measure/MeasureManager.h"
#include "platform/durable_file.h"
#include "platform/file_errors.h"
#include "platform/gdi/painter_dc.h"
#include "platform/large_buffer.h"
#include "platform/strings.h"
#include "res/StringIds.h"

using namespace camera_internal;

int CCameraProcess::SaveImageBmp(WStringView fileNameWithoutExtension) {
  // The frame at full size, then the overlay drawn in at image scale (selections not shown).
  // The picture's memory is made ready before the lock is taken: the camera thread waits for
  // the lock, and faulting in 80 MB under it would stall the live picture.
  // A frame of another size may come meanwhile (an image opened, a resolution changed): the
  // picture is then made again at that size.
  BITMAPINFOHEADER format;
  QImage picture;
  for (int attempt = 0; attempt < 3 && picture.isNull(); ++attempt) {
    if (!CopyFrame(nullptr, &format)) return CAMERA_NO_FRAME;
    picture = LargeImage(format.biWidth, format.biHeight, QImage::Format_RGB32);
    if (picture.isNull()) return CAMERA_WRITE_FAILED;
    // `format` becomes the converted frame's: the header describes it.
    if (!CopyFrameRgb32(&picture, &format)) picture = QImage();
  }
  if (picture.isNull()) return CAMERA_NO_FRAME;
  if (view_) {
    if (CMeasureManager* mm = view_->MeasureManager()) {
      CImageDC dc(picture);
      mm->DrawAll(dc, 0);
      dc.End();
    }
  }

  // Written beside the final name and renamed over it when every write, the sync and the close
  // succeeded: a failed write (a full disk) never leaves a file under the final name.
  const WString name = WString(fileNameWithoutExtension) + u".bmp";
  return WriteBitmapFile(QString::fromStdU16String(name), picture, format) == BitmapStatus::Ok ? CAMERA_OK
                                                                                              : CAMERA_WRITE_FAILED;
}

bool CCameraProcess::RecordVideo(int index) {
  const int handle = ValidIndex(index) ? cameras_[index].handle : -1;
  video_.spare = 0;
  if (!recording_.load()) {
    CheckFolder(video_.folder, u"Video", true);
    const WString path = video_.folder + u"/" + video_.prefix;
    // A codec or quality the library does not take leaves its default; a camera that cannot
    // record answers the start.
    (void)CameraSetRecordEncoder(handle, video_.codec);        // defaulted
    (void)CameraSetRecordAVIQuality(handle, video_.quality);  // defaulted
    // A recording that did not start leaves the flag and the count as they were, and says why.
    ClearLastFileError();
    const int started = CameraStartRecordVideo(handle, ToUtf8(path).c_str());
    recordStartFailure_.clear();
    if (started == CAMSDK_STATUS_OK) {
      recordHandle_.store(handle);
      recordStartNs_ = clock_.load()();
      ++recordCount_;
      recording_.store(true);
    } else if (started == CAMSDK_STATUS_FILE_ERROR) {
      int error = LastFileError();
      std::error_code ec;
      if (error == 0 && !std::filesystem::is_directory(ToPath(video_.folder), ec)) error = ENOENT;
      recordStartFailure_ = FormatW(LoadStringW(sid::kRecordingCouldNotStartVideo), video_.folder, FileErrorText(error));
    } else {
      recordStartFailure_ = FormatW(LoadStringW(sid::kRecordingRefusedByCamera), started);
    }
  } else {
    StopRecording();
  }
  return recording_.load();
}

void CCameraProcess::StopRecording() { StopRecording(0); }

namespace {
struct FinishContext {
  CCameraProcess* self;
  QObject* notifier;  // lives as long as the object
  int fault;
};
}  // namespace

void CCameraProcess::StopRecording(int fault) {
  // The recording stops on the camera that records, whichever index the caller names. No frame
  // is taken after this; the file is finished on the library's thread, so that the window
  // stays responsive while the last frames are encoded.
  recording_.store(false);
  if (recordCount_.load() > 0) recordCount_.fetch_sub(1);
  recordStartNs_ = 0;
  const int handle = recordHandle_.exchange(-1);
  auto* context = new FinishContext{this, notifier_.get(), fault};
  if (CamSdkStopRecordVideoAsync(handle, &CCameraProcess::OnRecordingFinished, context) != CAMSDK_STATUS_OK)
    delete context;
}

void CCameraProcess::OnRecordingFinished(void* context, const CamSdkRecordSummary* summary) {
  std::unique_ptr<FinishContext> c(static_cast<FinishContext*>(context));
  RecordingResult r;
  r.status = summary->status;
  r.fault = c->fault;
  r.file = summary->fileName ? summary->fileName : "";
  r.framesWritten = summary->framesWritten;
  r.framesDropped = summary->framesDropped;
  r.framesIncomplete = summary->framesIncomplete;
  r.seconds = summary->seconds;
  r.framesPerSecond = summary->framesPerSecond;
  r.fileKept = summary->fileKept != 0;
  // The object outlives this call: its destructor waits for the finishing files.
  CCameraProcess* self = c->self;
  QMetaObject::invokeMethod(
      c->notifier,
      [self, r] {
        self->lastRecording_ = r;
        if (self->recordingEnded_) self->recordingEnded_(0);
      },
      Qt::QueuedConnection);
}

double CCameraProcess::RecordingSeconds() const {
  if (!recording_.load() || recordStartNs_ == 0) return 0;
  return double(clock_.load()() - recordStartNs_) / double(clockFrequency_.load());
}

void CCameraProcess::WaitRecordingsFinished() {
  CamSdkWaitRecordVideo();
  QCoreApplication::sendPostedEvents(notifier_.get());
}

void CCameraProcess::IncCaptureCount() { ++capture_.captureCount; }
