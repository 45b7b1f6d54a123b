#pragma once
// The stage micrometer finder's shared pieces (scaleline*.cpp): the strip resampled along a line,
// the candidates the search hands to the measuring, and the measured fit.
#include <cmath>
#include <vector>
#include <opencv2/core.hpp>

namespace kvimg::scaleline {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr int kMinTicks = 8;

// A strip resampled from a grey image: column i, row j lie at c + (t0 + i) u + (j - half) n.
struct Strip {
  cv::Point2d c, u, n;
  double t0 = 0.0;
  int half = 0;
  cv::Mat1f px;
  cv::Mat1b valid;

  cv::Point2d ToImage(double col, double row) const { return c + (t0 + col) * u + (row - half) * n; }
};

inline cv::Point2d Direction(double phi) { return {std::cos(phi), std::sin(phi)}; }

// Range of t for which c + t u lies inside the image; false when the line misses it.
bool ClipLine(cv::Point2d c, cv::Point2d u, int w, int h, double* tLo, double* tHi);
// The strip of `cols` columns from t0 and 2 half + 1 rows along the line through c at angle phi,
// bilinearly resampled; places outside the image are marked invalid.
Strip Sample(const cv::Mat1b& grey, cv::Point2d c, double phi, double t0, int cols, int half);

// ---------------------------------------------------------------- search (scaleline_search.cpp)

struct Candidate {
  cv::Point2d c;  // a point on the ruler's line, in the searched image
  double phi = 0.0;
  double period = 0.0;
  int half = 0;  // half height of the tick band
  double score = 0.0;
};

// Candidate ruler lines of the image, the most periodic first, one per line.
std::vector<Candidate> Search(const cv::Mat1b& grey);

// ---------------------------------------------------------------- measure (scaleline_measure.cpp)

struct Fit {
  bool ok = false;
  Strip strip;
  int polarity = 1;
  int bandTop = 0, bandBottom = 0;
  std::vector<double> ticks;  // sub-pixel columns of the chain's ticks
  std::vector<int> index;     // their indices along the ruler
  double pitch = 0.0;         // fitted, along the strip's rows
  double rms = 0.0;           // fit residual of the inliers
  int inliers = 0;            // ticks whose positions steer the fit
  double lean = 0.0;          // d column / d row of the ticks
  double leanSpread = 0.0;    // its scatter over the ticks, in columns
  double leanError = 0.0;     // standard error of the lean
  double contrast = 0.0;      // typical tick prominence in the profile, grey levels
};

// Measures repeatedly, turning and re-centring the strip onto the ticks until it settles.
Fit Refine(const cv::Mat1b& grey, cv::Point2d c, double phi, int half, double pitch);

}  // namespace kvimg::scaleline
