#pragma once
// A made image for the stitching and fusion tests: texture at several scales (blobs, speckle) and
// a few coloured rings, so that features can be found and matched.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

inline cv::Mat TexturedSample(int w, int h, int seed) {
  cv::RNG rng(seed);
  cv::Mat1f coarse(h, w), fine(h, w);
  rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 255.0);
  rng.fill(fine, cv::RNG::UNIFORM, 0.0, 255.0);
  cv::GaussianBlur(coarse, coarse, cv::Size(0, 0), 6.0);
  cv::GaussianBlur(fine, fine, cv::Size(0, 0), 1.2);
  cv::normalize(coarse, coarse, 30, 200, cv::NORM_MINMAX);
  cv::normalize(fine, fine, -40, 40, cv::NORM_MINMAX);
  cv::Mat1f grey = coarse + fine;
  cv::Mat image;
  grey.convertTo(image, CV_8U);
  cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
  for (int k = 0; k < 25; ++k)
    cv::circle(image, {rng.uniform(0, w), rng.uniform(0, h)}, rng.uniform(4, 25),
               cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)), rng.uniform(1, 4));
  return image;
}

