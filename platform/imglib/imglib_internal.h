#pragma once
// Shared checks and OpenCV views of the image library's descriptors.
#include <cstdint>
#include <exception>
#include <opencv2/core.hpp>

#include "platform/imglib/imglib.h"

namespace kvimg {

inline bool ChannelsSupported(int channels) { return channels == 1 || channels == 3 || channels == 4; }

// For positive sizes: width x height fits 62 bits, times the channels it might not.
inline std::int64_t ImageBytes(const KvImgImage& d) {
  const std::int64_t pixels = std::int64_t(d.width) * d.height;
  return pixels > KVIMG_MAX_BYTES ? KVIMG_MAX_BYTES + 1 : pixels * d.channels;
}

inline bool ValidImage(const KvImgImage& d) {
  return d.data != nullptr && d.width > 0 && d.height > 0 && ChannelsSupported(d.channels) &&
         ImageBytes(d) <= KVIMG_MAX_BYTES;
}

// A source and a destination of the same size.
inline bool ValidPair(const KvImgImage& src, const KvImgImage& dst) {
  return ValidImage(src) && ValidImage(dst) && src.width == dst.width && src.height == dst.height;
}

inline cv::Mat Header(const KvImgImage& d) {
  return cv::Mat(d.height, d.width, CV_8UC(d.channels), d.data);
}

inline bool Overlap(const unsigned char* a, std::int64_t aBytes, const unsigned char* b, std::int64_t bBytes) {
  const auto pa = reinterpret_cast<std::uintptr_t>(a);
  const auto pb = reinterpret_cast<std::uintptr_t>(b);
  return pa < pb + std::uint64_t(bBytes) && pb < pa + std::uint64_t(aBytes);
}

// The source as a matrix; a copy when it shares memory with the destination, so that
// in-place calls read the original pixels throughout.
inline cv::Mat SourceFor(const KvImgImage& src, const KvImgImage& dst) {
  cv::Mat m = Header(src);
  if (Overlap(src.data, ImageBytes(src), dst.data, ImageBytes(dst))) return m.clone();
  return m;
}

// 8-bit grey of a 1, 3 or 4 channel image (BGR order).
cv::Mat ToGrey(const cv::Mat& m);

// The image with 1, 3 or 4 channels (grey into every colour; colour to grey by luminance);
// the image itself when it has them already.
cv::Mat WithChannels(const cv::Mat& m, int channels);

// Writes a result of the destination's size into it, converting the channel count.
void WriteConverted(const cv::Mat& result, const KvImgImage& dst);

// Runs an operation, turning an exception out of OpenCV (allocation, internal assertions)
// into a failure result at the library's boundary.
template <typename F>
int Guarded(F&& f) {
  try {
    return f();
  } catch (const std::exception&) {
    return KVIMG_E_FAILED;
  } catch (...) {
    return KVIMG_E_FAILED;
  }
}

}  // namespace kvimg
