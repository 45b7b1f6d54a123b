#pragma once
// The frame counter and frame rate that the status bar shows while a camera plays. The camera
// thread counts and measures; the user-interface thread reads and resets. Counter and rate are
// atomic; the rate window is kept under its own small lock, so a reset never tears it.
#include <atomic>
#include <cstdint>
#include <mutex>

class CFrameStatistics {
 public:
  // One frame received at performance-counter reading `counter` (ticks of `frequency` per
  // second): counts it, and once more than a second has passed since the mark, stores
  // frames / elapsed as the rate (not for the very first window, which only sets the mark).
  void OnFrame(std::int64_t counter, std::int64_t frequency);
  void CountFrame() { received_.fetch_add(1, std::memory_order_relaxed); }
  // Counter, rate and both marks back to 0.
  int ResetFrameStatistics();

  std::uint32_t ReceivedFrames() const { return received_.load(std::memory_order_relaxed); }
  float FrameRate() const { return rate_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> received_{0};
  std::atomic<float> rate_{0.0f};
  std::mutex lock_;
  std::int64_t timeMark_ = 0;   // counter reading of the last rate computation
  std::int64_t frameMark_ = 0;  // frames received at that reading
};
