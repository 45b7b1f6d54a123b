#include "camera/FrameStatistics.h"

void CFrameStatistics::OnFrame(std::int64_t counter, std::int64_t frequency) {
  received_.fetch_add(1, std::memory_order_relaxed);
  if (frequency <= 0) return;
  std::lock_guard lock(lock_);
  // Read under the lock, so that a reset in between cannot leave a mark above the counter.
  const std::int64_t frames = received_.load(std::memory_order_relaxed);
  const double elapsed = double(counter - timeMark_) / double(frequency);
  if (elapsed > 1.0) {
    if (timeMark_ != 0) rate_.store(float(double(frames - frameMark_) / elapsed), std::memory_order_relaxed);
    timeMark_ = counter;
    frameMark_ = frames;
  }
}

int CFrameStatistics::ResetFrameStatistics() {
  std::lock_guard lock(lock_);
  received_.store(0, std::memory_order_relaxed);
  rate_.store(0.0f, std::memory_order_relaxed);
  timeMark_ = 0;
  frameMark_ = 0;
  return 0;
}
