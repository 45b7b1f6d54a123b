// Neighbourhood operations: adaptive threshold, noise filter, edge enhancement, morphology.
#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"

using namespace kvimg;

int KvImgAdaptiveThreshold(KvImgImage src, KvImgImage dst) {
  if (!ValidPair(src, dst)) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    // The neighbourhood grows with the image so that shading, not detail, is levelled out.
    int block = std::clamp(std::min(src.width, src.height) / 16, 3, 51);
    if (block % 2 == 0) ++block;
    cv::Mat out;
    cv::adaptiveThreshold(ToGrey(SourceFor(src, dst)), out, 255, cv::ADAPTIVE_THRESH_MEAN_C,
                          cv::THRESH_BINARY, block, 5);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

int KvImgGuassFilter(KvImgImage src, KvImgImage dst) {
  if (!ValidPair(src, dst)) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat out;
    cv::GaussianBlur(SourceFor(src, dst), out, cv::Size(5, 5), 0.0, 0.0, cv::BORDER_REFLECT_101);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

int KvImgEdgeEnhance(KvImgImage src, KvImgImage dst, int strength) {
  if (!ValidPair(src, dst) || strength < 0 || strength > 10) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    const cv::Mat in = SourceFor(src, dst);
    cv::Mat blurred, out;
    cv::GaussianBlur(in, blurred, cv::Size(0, 0), 1.0, 1.0, cv::BORDER_REFLECT_101);
    cv::addWeighted(in, 1.0 + strength, blurred, -double(strength), 0.0, out);
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

namespace {

int Morphology(const KvImgImage& src, const KvImgImage& dst, int size, cv::MorphTypes op) {
  if (!ValidPair(src, dst) || size < 1 || size > 99) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    cv::Mat out;
    cv::morphologyEx(SourceFor(src, dst), out, op,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(size, size)));
    WriteConverted(out, dst);
    return KVIMG_OK;
  });
}

}  // namespace

int KvImgDilate(KvImgImage src, KvImgImage dst, int size) { return Morphology(src, dst, size, cv::MORPH_DILATE); }
int KvImgErode(KvImgImage src, KvImgImage dst, int size) { return Morphology(src, dst, size, cv::MORPH_ERODE); }
