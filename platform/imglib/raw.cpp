// Helpers on raw camera frames: mean level, brightness normalisation, black level.
#include <algorithm>
#include <cmath>
#include <vector>
#include <opencv2/core.hpp>

#include "platform/imglib/imglib_internal.h"

using namespace kvimg;

namespace {

bool ValidRaw(const KvImgRaw& r) {
  if (r.data == nullptr || r.width <= 0 || r.height <= 0 || r.bits < 8 || r.bits > 16) return false;
  const std::int64_t bytes = std::int64_t(r.width) * r.height * (r.bits > 8 ? 2 : 1);
  return bytes <= KVIMG_MAX_BYTES;
}

cv::Mat RawHeader(const KvImgRaw& r) {
  return cv::Mat(r.height, r.width, r.bits > 8 ? CV_16UC1 : CV_8UC1, r.data);
}

int MaxSample(const KvImgRaw& r) { return (1 << r.bits) - 1; }

// Colour (0 red, 1 green, 2 blue) of the sample at (x, y) for the frame's layout; mono is green.
int ColourAt(int layout, int x, int y) {
  const int cell = (y & 1) * 2 + (x & 1);  // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right
  switch (layout) {
    case KVIMG_RAW_BAYER_GRBG: { static const int c[4] = {1, 0, 2, 1}; return c[cell]; }
    case KVIMG_RAW_BAYER_RGGB: { static const int c[4] = {0, 1, 1, 2}; return c[cell]; }
    case KVIMG_RAW_BAYER_GBRG: { static const int c[4] = {1, 2, 0, 1}; return c[cell]; }
    case KVIMG_RAW_BAYER_BGGR: { static const int c[4] = {2, 1, 1, 0}; return c[cell]; }
    default: return 1;
  }
}

int MedianOfHistogram(const std::vector<std::int64_t>& hist, std::int64_t total) {
  std::int64_t seen = 0;
  for (std::size_t v = 0; v < hist.size(); ++v) {
    seen += hist[v];
    if (2 * seen >= total) return int(v);
  }
  return 0;
}

}  // namespace

int KvImgGetRawGray(KvImgRaw raw, int* grey) {
  if (!ValidRaw(raw) || grey == nullptr) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    double mean = 0;
    if (raw.bits == 8 || raw.bits == 16) {
      mean = cv::mean(RawHeader(raw))[0];
    } else {
      // Samples above the bit depth (noise in the unused high bits) count as the top level, as
      // in the other raw functions; else the level could leave the 8-bit range.
      const cv::Mat m = RawHeader(raw);
      const auto top = std::uint16_t(MaxSample(raw));
      double sum = 0;
      for (int y = 0; y < m.rows; ++y) {
        const auto* row = m.ptr<std::uint16_t>(y);
        std::uint64_t rowSum = 0;
        for (int x = 0; x < m.cols; ++x) rowSum += std::min(row[x], top);
        sum += double(rowSum);
      }
      mean = sum / (double(m.rows) * double(m.cols));
    }
    *grey = std::min(255, int(std::lround(mean / double(1 << (raw.bits - 8)))));
    return KVIMG_OK;
  });
}

int KvImgAdjustBrightness(KvImgRaw raw, int current, int target) {
  // A black frame (level 0) cannot be scaled toward anything: refused rather than divided by 0.
  if (!ValidRaw(raw) || current <= 0 || current > 255 || target < 0 || target > 255) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat m = RawHeader(raw);
    const double gain = double(target) / double(current);
    if (raw.bits == 8 || raw.bits == 16) {
      m.convertTo(m, m.type(), gain);  // rounds and saturates in place
    } else {
      const double top = MaxSample(raw);
      for (int y = 0; y < m.rows; ++y) {
        auto* row = m.ptr<std::uint16_t>(y);
        for (int x = 0; x < m.cols; ++x)
          row[x] = std::uint16_t(std::min(top, std::round(std::min<double>(row[x], top) * gain)));
      }
    }
    return KVIMG_OK;
  });
}

int KvImgOnceBlackLevel(KvImgRaw raw, KvImgRegion region, int* level1, int* level2, int* level3) {
  if (!ValidRaw(raw) || level1 == nullptr || level2 == nullptr || level3 == nullptr) return KVIMG_E_ARGUMENT;
  // A rectangle dragged leftward or upward has a negative extent; normalise, then clip.
  std::int64_t x0 = region.x, y0 = region.y;
  std::int64_t x1 = x0 + std::int64_t(region.width), y1 = y0 + std::int64_t(region.height);
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  x0 = std::max<std::int64_t>(x0, 0);
  y0 = std::max<std::int64_t>(y0, 0);
  x1 = std::min<std::int64_t>(x1, raw.width);
  y1 = std::min<std::int64_t>(y1, raw.height);
  if (x1 <= x0 || y1 <= y0) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    const int layout = raw.format & 0xFF;
    const cv::Mat m = RawHeader(raw);
    // The median, not the mean, so that hot pixels in the dark region do not lift the level.
    std::vector<std::int64_t> hist[3];
    for (auto& h : hist) h.assign(std::size_t(MaxSample(raw)) + 1, 0);
    std::int64_t counts[3] = {0, 0, 0};
    for (int y = int(y0); y < int(y1); ++y) {
      for (int x = int(x0); x < int(x1); ++x) {
        const int v = raw.bits > 8 ? std::min<int>(m.at<std::uint16_t>(y, x), MaxSample(raw)) : m.at<unsigned char>(y, x);
        const int c = ColourAt(layout, x, y);
        ++hist[c][std::size_t(v)];
        ++counts[c];
      }
    }
    int levels[3];
    for (int c = 0; c < 3; ++c) levels[c] = counts[c] > 0 ? MedianOfHistogram(hist[c], counts[c]) : -1;
    // A region too small to hold every colour takes the missing ones from green, which is
    // itself first taken from red or blue when the region holds no green sample.
    if (levels[1] < 0) levels[1] = levels[0] >= 0 ? levels[0] : levels[2];
    for (int c : {0, 2})
      if (levels[c] < 0) levels[c] = levels[1];
    if (levels[0] < 0 || levels[1] < 0 || levels[2] < 0) return KVIMG_E_ARGUMENT;
    if (layout < KVIMG_RAW_BAYER_GRBG || layout > KVIMG_RAW_BAYER_BGGR) levels[0] = levels[2] = levels[1];
    const double unit = double(1 << (raw.bits - 8));  // levels are given in 8-bit units
    // The top sample of a 9 to 15-bit frame rounds up to 256: kept in the 8-bit range.
    *level1 = std::min(255, int(std::lround(levels[0] / unit)));
    *level2 = std::min(255, int(std::lround(levels[1] / unit)));
    *level3 = std::min(255, int(std::lround(levels[2] / unit)));
    return KVIMG_OK;
  });
}
