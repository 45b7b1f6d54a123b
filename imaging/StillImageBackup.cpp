#include "imaging/StillImageBackup.h"

#include <cstring>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"

bool CStillImageBackup::StillImageShown() {
  CCameraProcess* cam = AppHost().Camera();
  if (!cam || cam->GetOpenedCount() >= 1) return false;
  auto lock = cam->LockFrameBuffer();
  return cam->GetFrameBuffer(nullptr);
}

bool CStillImageBackup::Take() {
  Free();
  if (!StillImageShown()) return false;
  BITMAPINFOHEADER format;
  CCameraProcess* cam = AppHost().Camera();
  {
    auto lock = cam->LockFrameBuffer();
    if (!cam->CopyFrame(&pixels_, &format)) return false;
    generation_ = cam->BufferGeneration();
    sequence_ = cam->FrameSequence();
  }
  width_ = format.biWidth;
  height_ = format.biHeight;
  return true;
}

bool CStillImageBackup::Apply(const std::function<void(KvImgImage, KvImgImage)>& fn) {
  if (!Valid() || !StillImageShown()) return false;
  CCameraProcess* cam = AppHost().Camera();
  {
    auto lock = cam->LockFrameBuffer();
    std::uint8_t* frame = nullptr;
    BITMAPINFOHEADER format;
    cam->GetFrameFormat(&format);
    if (cam->BufferGeneration() != generation_ || cam->FrameSequence() != sequence_) {
      Free();  // another image took the buffer's place
      return false;
    }
    if (!cam->GetFrameBuffer(&frame) || format.biWidth != width_ || format.biHeight != height_) return false;
    fn(KvImgImage{pixels_.data(), width_, height_, 3}, KvImgImage{frame, width_, height_, 3});
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
