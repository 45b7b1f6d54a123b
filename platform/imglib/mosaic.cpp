// Stitching of overlapping tiles into one image.
#include <vector>
#include <opencv2/stitching.hpp>

#include "platform/imglib/imglib_internal.h"

using namespace kvimg;

int KvImgMosaic(const KvImgImage* images, int count, KvImgImage* result, int mode) {
  if (images == nullptr || count < 2 || count > 100 || result == nullptr || result->data == nullptr ||
      result->channels != 3 || result->width < 0 || result->height < 0)
    return KVIMG_E_ARGUMENT;
  for (int i = 0; i < count; ++i)
    if (!ValidImage(images[i])) return KVIMG_E_ARGUMENT;
  const std::int64_t capacity = result->width > 0 && result->height > 0
                                    ? std::int64_t(result->width) * result->height * 3
                                    : KVIMG_MOSAIC_CAPACITY;
  return Guarded([&] {
    std::vector<cv::Mat> tiles;
    tiles.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) tiles.push_back(WithChannels(Header(images[i]), 3));

    cv::Ptr<cv::Stitcher> stitcher = cv::Stitcher::create(mode == 0 ? cv::Stitcher::PANORAMA : cv::Stitcher::SCANS);
    if (stitcher->estimateTransform(tiles) != cv::Stitcher::OK) return KVIMG_E_NOT_FOUND;
    // The stitcher keeps the largest group of matching tiles; a mosaic that silently leaves
    // tiles out is a failure, not a result.
    if (int(stitcher->component().size()) != count) return KVIMG_E_NOT_FOUND;
    cv::Mat pano;
    if (stitcher->composePanorama(pano) != cv::Stitcher::OK || pano.empty()) return KVIMG_E_FAILED;
    if (pano.type() != CV_8UC3) {
      cv::Mat converted;
      pano.convertTo(converted, CV_8U);
      if (converted.channels() != 3) return KVIMG_E_FAILED;
      pano = converted;
    }
    const std::int64_t bytes = std::int64_t(pano.cols) * pano.rows * 3;
    if (bytes > capacity || bytes > KVIMG_MAX_BYTES) return KVIMG_E_CAPACITY;
    cv::Mat out(pano.rows, pano.cols, CV_8UC3, result->data);
    pano.copyTo(out);
    result->width = pano.cols;
    result->height = pano.rows;
    return KVIMG_OK;
  });
}
