// Extended depth of field: per-place choice of the sharper of two images of one scene.
#include <algorithm>
#include <vector>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"

using namespace kvimg;

namespace {

// Local focus energy: the squared Laplacian of the grey image, averaged over a neighbourhood.
cv::Mat FocusEnergy(const cv::Mat& image, double sigma) {
  cv::Mat grey, lap, energy;
  ToGrey(image).convertTo(grey, CV_32F);
  cv::Laplacian(grey, lap, CV_32F, 3, 1.0, 0.0, cv::BORDER_REFLECT_101);
  cv::multiply(lap, lap, energy);
  cv::GaussianBlur(energy, energy, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT_101);
  return energy;
}

}  // namespace

int KvImgFusion(KvImgImage accumulated, KvImgImage next, KvImgImage result, int /*mode*/) {
  if (!ValidPair(accumulated, next) || !ValidPair(accumulated, result)) return KVIMG_E_ARGUMENT;
  return Guarded([&] {
    const int channels = result.channels;
    const cv::Mat a = WithChannels(Header(accumulated), channels);
    const cv::Mat b = WithChannels(Header(next), channels);
    // Neighbourhoods scale with the image: detail of a few pixels decides, but the choice
    // must not flicker from pixel to pixel.
    const double sigma = std::max(2.0, std::min(accumulated.width, accumulated.height) / 256.0);
    const cv::Mat ea = FocusEnergy(a, sigma);
    const cv::Mat eb = FocusEnergy(b, sigma);
    cv::Mat choose;
    cv::compare(eb, ea, choose, cv::CMP_GT);
    cv::Mat weight;
    choose.convertTo(weight, CV_32F, 1.0 / 255.0);
    cv::GaussianBlur(weight, weight, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT_101);

    cv::Mat af, bf;
    a.convertTo(af, CV_32F);
    b.convertTo(bf, CV_32F);
    cv::Mat w;
    cv::merge(std::vector<cv::Mat>(std::size_t(channels), weight), w);
    cv::Mat mixed = af + (bf - af).mul(w);
    // The inputs are fully read: writing into a buffer shared with them is now safe.
    cv::Mat out = Header(result);
    mixed.convertTo(out, CV_8U);
    return KVIMG_OK;
  });
}
