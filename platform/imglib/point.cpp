// Point operations: grey conversion, threshold, brightness, grey stretch, equalisation.
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"

namespace kvimg {

cv::Mat ToGrey(const cv::Mat& m) {
  if (m.channels() == 1) return m;
  cv::Mat grey;
  cv::cvtColor(m, grey, m.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  return grey;
}

cv::Mat WithChannels(const cv::Mat& m, int channels) {
  const int from = m.channels();
  if (from == channels) return m;
  int code = 0;
  if (from == 1) code = channels == 3 ? cv::COLOR_GRAY2BGR : cv::COLOR_GRAY2BGRA;
  else if (from == 3) code = channels == 1 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGR2BGRA;
  else code = channels == 1 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGRA2BGR;
  cv::Mat converted;
  cv::cvtColor(m, converted, code);
  return converted;
}

void WriteConverted(const cv::Mat& result, const KvImgImage& dst) {
  cv::Mat out = Header(dst);
  WithChannels(result, dst.channels).copyTo(out);
}

}  // namespace kvimg

using namespace kvimg;

int KvImgRGB2GRAY(KvImgImage src, KvImgImage dst) {
  if (!ValidPair(src, dst)) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    WriteConverted(ToGrey(SourceFor(src, dst)), dst);
    return KVIMG_OK;
  });
}

int KvImgThreshold(KvImgImage src, KvImgImage dst, int threshold) {
  if (!ValidPair(src, dst) || threshold < 0 || threshold > 255) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat out;
    cv::threshold(ToGrey(SourceFor(src, dst)), out, threshold, 255, cv::THRESH_BINARY);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

int KvImgBrightness(KvImgImage src, KvImgImage dst, int offset) {
  if (!ValidPair(src, dst) || offset < -255 || offset > 255) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat out;
    SourceFor(src, dst).convertTo(out, -1, 1.0, offset);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

int KvImgGrayStretch(KvImgImage src, KvImgImage dst, float x1, float y1, float x2, float y2) {
  if (!ValidPair(src, dst)) return KVIMG_E_ARGUMENT;
  const auto inRange = [](float v) { return v >= 0.0f && v <= 255.0f; };  // NaN fails too
  if (!inRange(x1) || !inRange(y1) || !inRange(x2) || !inRange(y2) || x1 > x2) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    const double xs[4] = {0.0, x1, x2, 255.0};
    const double ys[4] = {0.0, y1, y2, 255.0};
    cv::Mat lut(1, 256, CV_8U);
    for (int g = 0; g < 256; ++g) {
      // The first segment whose right end reaches g; a segment of zero width gives its end.
      int s = 0;
      while (s < 2 && xs[s + 1] < g) ++s;
      const double w = xs[s + 1] - xs[s];
      const double v = w > 0.0 ? ys[s] + (g - xs[s]) * (ys[s + 1] - ys[s]) / w : ys[s + 1];
      lut.at<unsigned char>(g) = cv::saturate_cast<unsigned char>(v);
    }
    cv::Mat out;
    cv::LUT(SourceFor(src, dst), lut, out);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

int KvImgGrayEqualize(KvImgImage src, KvImgImage dst) {
  if (!ValidPair(src, dst)) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat out;
    cv::equalizeHist(ToGrey(SourceFor(src, dst)), out);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}
