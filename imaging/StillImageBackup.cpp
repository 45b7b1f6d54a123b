#include "imaging/StillImageBackup.h"

#include <cstring>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"

bool CStillImageBackup::StillImageShown() {
  CCameraProcess* cam = AppHost().Camera();
  return cam && cam->GetOpenedCount() < 1 && cam->HasFrame();
}

bool CStillImageBackup::Take() {
  Free();
  if (!StillImageShown()) return false;
  CCameraProcess* cam = AppHost().Camera();
  {
    // The copy, its generation and its frame count from one look at the buffer.
    const FrameView frame = cam->ViewFrame();
    if (!frame) return false;
    pixels_.assign(frame.Pixels().begin(), frame.Pixels().end());
    generation_ = frame.Generation();
    sequence_ = cam->FrameSequence();
    width_ = frame.Width();
    height_ = frame.Height();
  }
  return true;
}

bool CStillImageBackup::Apply(const std::function<void(KvImgImage, KvImgImage)>& fn) {
  if (!Valid() || !StillImageShown()) return false;
  CCameraProcess* cam = AppHost().Camera();
  {
    const FrameView frame = cam->ViewFrame();
    if (frame.Generation() != generation_ || cam->FrameSequence() != sequence_) {
      Free();  // another image took the buffer's place
      return false;
    }
    if (!frame || frame.Width() != width_ || frame.Height() != height_) return false;
    fn(KvImgImage{pixels_.data(), width_, height_, 3}, KvImgImage{frame.Data(), width_, height_, 3});
  }
  AppHost().RedrawView();
  return true;
}

bool CStillImageBackup::Restore() {
  return Apply([](KvImgImage backup, KvImgImage frame) {
    std::memcpy(frame.data, backup.data, std::size_t(backup.width) * std::size_t(backup.height) * 3);
  });
}

void CStillImageBackup::Free() {
  std::vector<std::uint8_t>().swap(pixels_);
  width_ = height_ = 0;
}
