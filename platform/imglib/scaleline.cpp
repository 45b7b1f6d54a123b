// Finding the ruler of a stage micrometer: a row of regular ticks along a line.
//
// 1. Search (on a reduced copy of large images): the strongest edge orientations give
//    candidate ruler directions; for each, the image is resampled with that direction along
//    the rows, and the stretches of row whose derivative has the most concentrated spectrum
//    mark candidate places; the pitch comes from the intensity spectrum there.
// 2. Measure: a narrow strip along a candidate line is resampled; the rows that carry the
//    ticks (strongest component at the pitch or a fraction of it, for rulers whose long ticks
//    every fifth or tenth were seen first) are averaged into a profile; ticks are its
//    prominent peaks a common pitch apart, each centred to sub-pixel accuracy. The lean of
//    the ticks between the upper and lower halves of the band corrects the direction, and the
//    strip is taken again until the direction settles.
// 3. The tick positions are fitted against their indices (ticks disturbed by something lying
//    on them do not steer the fit); the length is the fitted pitch times the index span of
//    the outermost ticks. Weak, short, irregular or crooked "ticks" are refused.
// The search lives in scaleline_search.cpp, the measuring in scaleline_measure.cpp; this file has
// the strip both resample, the checks on the result and the entry point.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"
#include "platform/imglib/scaleline_internal.h"

using namespace kvimg;
using namespace kvimg::scaleline;

namespace kvimg::scaleline {

bool ClipLine(cv::Point2d c, cv::Point2d u, int w, int h, double* tLo, double* tHi) {
  double lo = -1e18, hi = 1e18;
  const double p0[2] = {c.x, c.y}, d[2] = {u.x, u.y}, top[2] = {w - 1.0, h - 1.0};
  for (int a = 0; a < 2; ++a) {
    if (std::abs(d[a]) < 1e-12) {
      if (p0[a] < 0.0 || p0[a] > top[a]) return false;
      continue;
    }
    double t1 = (0.0 - p0[a]) / d[a], t2 = (top[a] - p0[a]) / d[a];
    if (t1 > t2) std::swap(t1, t2);
    lo = std::max(lo, t1);
    hi = std::min(hi, t2);
  }
  *tLo = lo;
  *tHi = hi;
  return hi - lo >= 1.0;
}

Strip Sample(const cv::Mat1b& grey, cv::Point2d c, double phi, double t0, int cols, int half) {
  Strip s;
  s.c = c;
  s.u = Direction(phi);
  s.n = {-s.u.y, s.u.x};
  s.t0 = t0;
  s.half = half;
  const int rows = 2 * half + 1;
  s.px.create(rows, cols);
  s.valid.create(rows, cols);
  const int w = grey.cols, h = grey.rows;
  for (int j = 0; j < rows; ++j) {
    float* out = s.px.ptr<float>(j);
    unsigned char* ok = s.valid.ptr<unsigned char>(j);
    const cv::Point2d start = s.ToImage(0.0, j);
    for (int i = 0; i < cols; ++i) {
      const double x = start.x + i * s.u.x, y = start.y + i * s.u.y;
      if (!(x >= 0.0 && y >= 0.0 && x <= w - 1.0 && y <= h - 1.0)) {
        out[i] = 0.0f;
        ok[i] = 0;
        continue;
      }
      const int x0 = std::min(int(x), w - 2 < 0 ? 0 : w - 2), y0 = std::min(int(y), h - 2 < 0 ? 0 : h - 2);
      const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
      const double fx = x - x0, fy = y - y0;
      const unsigned char* r0 = grey.ptr<unsigned char>(y0);
      const unsigned char* r1 = grey.ptr<unsigned char>(y1);
      const double top = r0[x0] + fx * (r0[x1] - r0[x0]);
      const double bottom = r1[x0] + fx * (r1[x1] - r1[x0]);
      out[i] = float(top + fy * (bottom - top));
      ok[i] = 1;
    }
  }
  return s;
}

}  // namespace kvimg::scaleline

namespace {

constexpr int kSearchMaxSide = 1600;  // side of the reduced image the search runs on

bool Acceptable(const Fit& f, double imageRange) {
  // Ticks are visible marks, longer than they are apart; a faint ripple along an edge is not.
  if (f.contrast < std::max(2.0, 0.06 * imageRange)) return false;
  if (f.bandBottom - f.bandTop + 1 < std::max(6.0, 0.75 * f.pitch)) return false;
  if (!f.ok || int(f.ticks.size()) < kMinTicks) return false;
  const int span = f.index.back() - f.index.front();
  const int missing = span + 1 - int(f.ticks.size());
  return f.pitch >= 3.0 && missing <= std::max(1, span / 10) && f.rms <= std::max(0.35, 0.04 * f.pitch) &&
         f.leanSpread <= 0.1 * f.pitch && 5 * f.inliers >= 3 * int(f.ticks.size());
}

void Draw(const KvImgImage& image, const Fit& f) {
  cv::Mat m = Header(image);
  const cv::Scalar colour = image.channels == 1 ? cv::Scalar(f.polarity > 0 ? 255 : 0) : cv::Scalar(0, 0, 255, 255);
  constexpr int kShift = 4;
  const auto fixed = [](cv::Point2d p) { return cv::Point(int(std::lround(p.x * 16)), int(std::lround(p.y * 16))); };
  const double mid = 0.5 * (f.bandTop + f.bandBottom);
  const double reach = 0.5 * (f.bandBottom - f.bandTop) + 3.0;
  const int thick = std::max(1, int(std::lround(std::max(image.width, image.height) / 1000.0)));
  cv::line(m, fixed(f.strip.ToImage(f.ticks.front(), mid)), fixed(f.strip.ToImage(f.ticks.back(), mid)), colour, thick,
           cv::LINE_AA, kShift);
  for (double t : f.ticks)
    cv::line(m, fixed(f.strip.ToImage(t, mid - reach)), fixed(f.strip.ToImage(t, mid + reach)), colour, 1, cv::LINE_AA,
             kShift);
  for (double t : {f.ticks.front(), f.ticks.back()})
    cv::circle(m, fixed(f.strip.ToImage(t, mid)), int(std::lround(reach * 16)), colour, thick, cv::LINE_AA, kShift);
}


}  // namespace

int KvImgFindScaleline(unsigned char* data, int width, int height, int channels, float* length) {
  const KvImgImage image{data, width, height, channels};
  if (!ValidImage(image) || length == nullptr) return KVIMG_E_ARGUMENT;
  *length = 0.0f;
  if (width < 16 || height < 16) return KVIMG_E_NOT_FOUND;
  return Guarded([&] {
    const cv::Mat1b grey = ToGrey(Header(image));
    const double scale = std::min(1.0, double(kSearchMaxSide) / std::max(width, height));
    cv::Mat1b small = grey;
    if (scale < 1.0) cv::resize(grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
    const double sx = double(small.cols) / width, sy = double(small.rows) / height;
    // Contrast of the picture (1st to 99th percentile): ticks must be a visible part of it.
    int hist[256] = {};
    for (int y = 0; y < small.rows; ++y)
      for (int x = 0; x < small.cols; ++x) ++hist[small(y, x)];
    const double total = double(small.total());
    int lo = 0, hi = 255;
    for (double seen = 0.0; lo < 255 && (seen += hist[lo]) < 0.01 * total;) ++lo;
    for (double seen = 0.0; hi > 0 && (seen += hist[hi]) < 0.01 * total;) --hi;
    const double imageRange = std::max(0, hi - lo);

    Fit best;
    int tried = 0;
    for (const Candidate& cand : Search(small)) {
      if (++tried > 8) break;
      cv::Point2d c = cand.c;
      double phi = cand.phi, pitch = cand.period;
      int half = cand.half;
      if (scale < 1.0) {
        const Fit coarse = Refine(small, c, phi, half, pitch);
        if (!coarse.ok) continue;
        const cv::Point2d p = coarse.strip.ToImage(-coarse.strip.t0, 0.5 * (coarse.bandTop + coarse.bandBottom));
        c = {(p.x + 0.5) / sx - 0.5, (p.y + 0.5) / sy - 0.5};
        phi = std::atan2(coarse.strip.u.y / sy, coarse.strip.u.x / sx);
        pitch = coarse.pitch / scale;
        half = int(std::ceil((0.5 * (coarse.bandBottom - coarse.bandTop) + 4) / scale));
      }
      Fit fit = Refine(grey, c, phi, half, pitch);
      if (Acceptable(fit, imageRange) && fit.ticks.size() > best.ticks.size()) best = std::move(fit);
    }
    if (!best.ok || best.ticks.empty()) return KVIMG_E_NOT_FOUND;
    // Rows cross ticks that lean by a small residual angle at a slightly longer spacing.
    const double spacing = best.pitch * std::cos(std::atan(best.lean));
    *length = float(spacing * (best.index.back() - best.index.front()));
    Draw(image, best);
    return KVIMG_OK;
  });
}
