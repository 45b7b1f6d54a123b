#include "camera/AreaScale.h"

#include <algorithm>
#include <cmath>
#include <thread>

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

void CAreaScaler::Rows(const std::uint8_t* src, int width, std::uint8_t* dst, std::size_t dstStride, int rowBegin,
                       int rowEnd) const {
  const int dw = x_.target, dh = y_.target;
  const std::size_t rowBytes = std::size_t(width) * 3;
  std::vector<float> acc(rowBytes);
  for (int j = rowBegin; j < rowEnd; ++j) {
    // Down the columns first: plain, vectorisable sums of whole rows.
    std::fill(acc.begin(), acc.end(), 0.0f);
    const int y0 = y_.first[std::size_t(j)];
    for (int k = y_.start[std::size_t(j)], end = y_.start[std::size_t(j) + 1]; k < end; ++k) {
      const float wy = y_.weight[std::size_t(k)];
      const std::uint8_t* row = src + std::size_t(y0 + k - y_.start[std::size_t(j)]) * rowBytes;
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

void CAreaScaler::Scale(const std::uint8_t* src, int width, int height, QImage& dst) {
  const int dw = dst.width(), dh = dst.height();
  if (!src || width <= 0 || height <= 0 || dw <= 0 || dh <= 0 || dst.format() != QImage::Format_RGB32) return;
  Build(x_, width, dw);
  Build(y_, height, dh);
  // Bands of target rows; small pictures are not worth a thread.
  const double work = double(width) * double(height) + double(dw) * double(dh);
  const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
  const int bands = std::clamp(int(work / 2.0e5), 1, std::min({8, cores, dh}));
  // The pixels are taken once here: QImage's own accessors are not for several threads.
  std::uint8_t* out = dst.bits();
  const std::size_t stride = std::size_t(dst.bytesPerLine());
  if (bands == 1) {
    Rows(src, width, out, stride, 0, dh);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(std::size_t(bands - 1));
  for (int b = 1; b < bands; ++b)
    threads.emplace_back([this, src, width, out, stride, dh, bands, b] {
      Rows(src, width, out, stride, int(std::int64_t(dh) * b / bands), int(std::int64_t(dh) * (b + 1) / bands));
    });
  Rows(src, width, out, stride, 0, int(dh / bands));
  for (auto& t : threads) t.join();
}
