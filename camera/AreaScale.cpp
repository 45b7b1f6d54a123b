#include "camera/AreaScale.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Threads for the bands of a picture, started once and kept: starting them on every redraw
// cost more than a small picture's whole scale. One picture at a time; the caller's thread
// takes band 0 and waits for the rest.
class BandPool {
 public:
  static BandPool& Get() {
    static BandPool pool(std::clamp(int(std::thread::hardware_concurrency()), 1, 8) - 1);
    return pool;
  }
  int Threads() const { return int(threads_.size()) + 1; }

  void Run(int bands, const std::function<void(int)>& fn) {
    std::lock_guard run(runMu_);
    bands = std::min(bands, Threads());
    {
      std::lock_guard lock(mu_);
      job_ = &fn;
      bands_ = bands;
      pending_ = bands - 1;
      ++generation_;
    }
    start_.notify_all();
    fn(0);
    std::unique_lock lock(mu_);
    done_.wait(lock, [&] { return pending_ == 0; });
    job_ = nullptr;
  }

 private:
  explicit BandPool(int workers) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this, i] { Work(i + 1); });
  }
  ~BandPool() {
    {
      std::lock_guard lock(mu_);
      quit_ = true;
    }
    start_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void Work(int band) {
    std::uint64_t seen = 0;
    std::unique_lock lock(mu_);
    for (;;) {
      start_.wait(lock, [&] { return quit_ || generation_ != seen; });
      if (quit_) return;
      seen = generation_;
      if (band >= bands_) continue;
      const std::function<void(int)>* job = job_;
      lock.unlock();
      (*job)(band);
      lock.lock();
      if (--pending_ == 0) done_.notify_one();
    }
  }

  std::mutex runMu_, mu_;
  std::condition_variable start_, done_;
  const std::function<void(int)>* job_ = nullptr;
  int bands_ = 0, pending_ = 0;
  std::uint64_t generation_ = 0;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

void CAreaScaler::Build(Axis& axis, int source, int target) {
  if (axis.source == source && axis.target == target) return;
  axis.source = source;
  axis.target = target;
  axis.first.assign(std::size_t(target), 0);
  axis.start.assign(std::size_t(target) + 1, 0);
  axis.weight.clear();
  const double scale = double(source) / double(target);
  for (int d = 0; d < target; ++d) {
    const double lo = d * scale, hi = std::min(double(source), (d + 1) * scale);
    const int first = std::min(source - 1, int(std::floor(lo)));
    const int last = std::max(first, std::min(source - 1, int(std::ceil(hi)) - 1));
    axis.first[std::size_t(d)] = first;
    axis.start[std::size_t(d)] = int(axis.weight.size());
    double total = 0;
    const std::size_t begin = axis.weight.size();
    for (int s = first; s <= last; ++s) {
      const double part = std::min(double(s + 1), hi) - std::max(double(s), lo);
      axis.weight.push_back(float(std::max(0.0, part)));
      total += std::max(0.0, part);
    }
    if (total <= 0) {
      axis.weight[begin] = 1.0f;
      total = 1.0;
    }
    for (std::size_t k = begin; k < axis.weight.size(); ++k) axis.weight[k] = float(axis.weight[k] / total);
  }
  axis.start[std::size_t(target)] = int(axis.weight.size());
}

void CAreaScaler::Rows(const std::uint8_t* src, int width, std::size_t srcStride, std::uint8_t* dst,
                       std::size_t dstStride, int rowBegin, int rowEnd) const {
  const int dw = x_.target, dh = y_.target;
  const std::size_t rowBytes = std::size_t(width) * 3;
  std::vector<float> acc(rowBytes);
  for (int j = rowBegin; j < rowEnd; ++j) {
    // Down the columns first: plain, vectorisable sums of whole rows.
    std::fill(acc.begin(), acc.end(), 0.0f);
    const int y0 = y_.first[std::size_t(j)];
    for (int k = y_.start[std::size_t(j)], end = y_.start[std::size_t(j) + 1]; k < end; ++k) {
      const float wy = y_.weight[std::size_t(k)];
      const std::uint8_t* row = src + std::size_t(y0 + k - y_.start[std::size_t(j)]) * srcStride;
      float* a = acc.data();
      for (std::size_t i = 0; i < rowBytes; ++i) a[i] += wy * float(row[i]);
    }
    // Then across. Frame row j (from the bottom) is line dh - 1 - j of the picture.
    auto* out = reinterpret_cast<std::uint32_t*>(dst + std::size_t(dh - 1 - j) * dstStride);
    for (int d = 0; d < dw; ++d) {
      float b = 0, g = 0, r = 0;
      const float* p = acc.data() + std::size_t(x_.first[std::size_t(d)]) * 3;
      for (int k = x_.start[std::size_t(d)], end = x_.start[std::size_t(d) + 1]; k < end; ++k, p += 3) {
        const float w = x_.weight[std::size_t(k)];
        b += w * p[0];
        g += w * p[1];
        r += w * p[2];
      }
      auto level = [](float v) { return std::uint32_t(std::clamp(int(v + 0.5f), 0, 255)); };
      out[d] = 0xFF000000u | (level(r) << 16) | (level(g) << 8) | level(b);
    }
  }
}

void CAreaScaler::Scale(const std::uint8_t* src, int width, int height, QImage& dst, std::size_t srcStride) {
  const int dw = dst.width(), dh = dst.height();
  if (!src || width <= 0 || height <= 0 || dw <= 0 || dh <= 0 || dst.format() != QImage::Format_RGB32) return;
  if (srcStride == 0) srcStride = std::size_t(width) * 3;
  Build(x_, width, dw);
  Build(y_, height, dh);
  // Bands of target rows; small pictures are not worth a thread.
  const double work = double(width) * double(height) + double(dw) * double(dh);
  BandPool& pool = BandPool::Get();
  const int bands = std::clamp(int(work / 2.0e5), 1, std::min(pool.Threads(), dh));
  // The pixels are taken once here: QImage's own accessors are not for several threads.
  std::uint8_t* out = dst.bits();
  const std::size_t stride = std::size_t(dst.bytesPerLine());
  if (bands == 1) {
    Rows(src, width, srcStride, out, stride, 0, dh);
    return;
  }
  pool.Run(bands, [&](int b) {
    Rows(src, width, srcStride, out, stride, int(std::int64_t(dh) * b / bands), int(std::int64_t(dh) * (b + 1) / bands));
  });
}
