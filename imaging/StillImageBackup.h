#pragma once
// What the adjustment dialogs share on the frame buffer. A still image is shown when the buffer
// is valid and no camera is open. A dialog keeps a backup of that image, recomputes the buffer
// from the backup on every change and copies the backup back on cancel. Every step checks that
// the buffer still holds a still image of the backup's size, so a frame that changed meanwhile
// (another image opened, a camera started) is refused instead of read past its end, and the
// backup of an image that was replaced (even by one of the same size) is dropped: it must never
// be written over the new one.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/imglib/imglib.h"

class CCameraProcess;

class CStillImageBackup {
 public:
  // The host's camera object shows a still image.
  static bool StillImageShown();

  // Copies the frame; false (and no backup) when no still image is shown.
  bool Take();
  bool Valid() const { return width_ > 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Under the frame lock: fn(backup, frame) with descriptors of both, then the view repaints.
  // False, with nothing touched, without a backup or a still image of the backup's size.
  bool Apply(const std::function<void(KvImgImage backup, KvImgImage frame)>& fn);
  // Copies the backup back into the frame (same checks).
  bool Restore();
  void Free();

 private:
  std::vector<std::uint8_t> pixels_;
  int width_ = 0;
  int height_ = 0;
  // The buffer's generation and frame count when the backup was taken.
  std::uint64_t generation_ = 0;
  std::uint64_t sequence_ = 0;
};
