#pragma once
// Area-averaging scale of a frame for display: every screen pixel takes the mean of the part of
// the frame it covers (what a halftone stretch gives), from bottom-up 24-bit BGR rows into a
// top-down RGB32 image. It runs on its own pool of threads, started once: OpenCV runs only one
// parallel loop per process at a time, and the camera thread's conversion would leave the
// display on one core.
#include <QImage>

#include <cstdint>
#include <vector>

class CAreaScaler {
 public:
  // `dst` gives the size; it must be RGB32 and at least 1 x 1. src: height rows of width x 3
  // bytes, `srcStride` bytes apart (0: packed), so a part of a larger frame is scaled in place.
  void Scale(const std::uint8_t* src, int width, int height, QImage& dst, std::size_t srcStride = 0);

 private:
  struct Axis {
    int source = 0, target = 0;
    std::vector<int> first;       // first source index of each target index
    std::vector<int> start;       // where its weights begin in `weight` (target + 1 entries)
    std::vector<float> weight;    // covered part of each source index, summing to 1 per target
  };
  static void Build(Axis& axis, int source, int target);
  void Rows(const std::uint8_t* src, int width, std::size_t srcStride, std::uint8_t* dst, std::size_t dstStride,
            int rowBegin, int rowEnd) const;

  Axis x_, y_;
};
