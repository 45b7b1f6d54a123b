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
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"

using namespace kvimg;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSearchMaxSide = 1600;  // side of the reduced image the search runs on
constexpr int kMinTicks = 8;

// A strip resampled from a grey image: column i, row j lie at c + (t0 + i) u + (j - half) n.
struct Strip {
  cv::Point2d c, u, n;
  double t0 = 0.0;
  int half = 0;
  cv::Mat1f px;
  cv::Mat1b valid;

  cv::Point2d ToImage(double col, double row) const { return c + (t0 + col) * u + (row - half) * n; }
};

cv::Point2d Direction(double phi) { return {std::cos(phi), std::sin(phi)}; }

// Range of t for which c + t u lies inside the image; empty when the line misses it.
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

// ---------------------------------------------------------------- search

struct Candidate {
  cv::Point2d c;  // a point on the ruler's line, in the searched image
  double phi = 0.0;
  double period = 0.0;
  int half = 0;  // half height of the tick band
  double score = 0.0;
};

// Angles (radians, 0..pi) of the strongest gradient orientations.
std::vector<double> DominantOrientations(const cv::Mat1b& grey, int count) {
  cv::Mat1f g, gx, gy, mag;
  grey.convertTo(g, CV_32F);
  cv::GaussianBlur(g, g, cv::Size(0, 0), 1.0);
  cv::Sobel(g, gx, CV_32F, 1, 0, 3);
  cv::Sobel(g, gy, CV_32F, 0, 1, 3);
  cv::magnitude(gx, gy, mag);
  std::vector<float> all(mag.begin(), mag.end());
  const std::size_t k = all.size() * 995 / 1000;
  std::nth_element(all.begin(), all.begin() + std::ptrdiff_t(k), all.end());
  // Only clear edges vote, so that shading does not outweigh the ruler.
  const float floor = 0.25f * all[k];
  constexpr int kBins = 180;
  std::vector<double> hist(kBins, 0.0);
  for (int y = 0; y < mag.rows; ++y)
    for (int x = 0; x < mag.cols; ++x) {
      const float m = mag(y, x);
      if (m <= floor || m <= 0.0f) continue;
      double a = std::atan2(gy(y, x), gx(y, x));
      if (a < 0.0) a += kPi;
      hist[std::size_t(std::min(kBins - 1, int(a / kPi * kBins)))] += m;
    }
  std::vector<double> smooth(kBins, 0.0);
  for (int b = 0; b < kBins; ++b)
    for (int d = -2; d <= 2; ++d) smooth[std::size_t(b)] += (3 - std::abs(d)) * hist[std::size_t((b + d + kBins) % kBins)];
  std::vector<std::pair<double, double>> peaks;  // (weight, angle)
  for (int b = 0; b < kBins; ++b) {
    const double l = smooth[std::size_t((b + kBins - 1) % kBins)], m = smooth[std::size_t(b)],
                 r = smooth[std::size_t((b + 1) % kBins)];
    if (m <= 0.0 || m < l || m <= r) continue;
    const double den = l - 2 * m + r;
    const double off = den < 0.0 ? 0.5 * (l - r) / den : 0.0;
    peaks.emplace_back(m, (b + 0.5 + off) * kPi / kBins);
  }
  std::sort(peaks.rbegin(), peaks.rend());
  std::vector<double> out;
  for (const auto& [weight, angle] : peaks) {
    if (int(out.size()) >= count || weight < 0.05 * peaks.front().first) break;
    out.push_back(angle);
  }
  return out;
}

// Pitch of a stretch of profile from its intensity spectrum (shading removed): sharp ticks
// put more power into harmonics of the derivative than into the fundamental, but in the
// intensity the fundamental is the strongest.
double WindowPeriod(const float* values, int length) {
  double mean = 0.0, mxy = 0.0, sxx = 0.0;
  for (int i = 0; i < length; ++i) mean += values[i];
  mean /= length;
  for (int i = 0; i < length; ++i) {
    const double t = i - 0.5 * (length - 1);
    mxy += t * (values[i] - mean);
    sxx += t * t;
  }
  const double slope = mxy / sxx;
  cv::Mat1f signal(1, length);
  for (int i = 0; i < length; ++i) {
    const double t = i - 0.5 * (length - 1);
    const double hann = 0.5 - 0.5 * std::cos(2 * kPi * (i + 0.5) / length);
    signal(0, i) = float((values[i] - mean - slope * t) * hann);
  }
  cv::Mat spectrum;
  cv::dft(signal, spectrum, cv::DFT_COMPLEX_OUTPUT);
  const cv::Vec2f* f = spectrum.ptr<cv::Vec2f>(0);
  const auto p = [&](int k) { return double(f[k][0]) * f[k][0] + double(f[k][1]) * f[k][1]; };
  const int fLo = 5, fHi = int(std::floor(length / 2.5));
  int peak = fLo;
  for (int k = fLo; k <= fHi; ++k)
    if (p(k) > p(peak)) peak = k;
  double off = 0.0;
  const double l = p(peak - 1), m = p(peak), r = p(peak + 1), den = l - 2 * m + r;
  if (den < 0.0) off = std::clamp(0.5 * (l - r) / den, -0.5, 0.5);
  return length / (peak + off);
}

// The most periodic stretch of row in the image resampled with rows along phi. Rows are cut
// into overlapping windows of a few lengths, so that a short ruler, or one mostly outside
// the picture, is not drowned by the rest of its row.
std::vector<Candidate> SearchDirection(const cv::Mat1b& grey, double phi) {
  const double diag = std::hypot(grey.cols, grey.rows);
  const int half = int(diag / 2) + 2;
  const int cols = 2 * half + 1;
  const cv::Point2d centre((grey.cols - 1) / 2.0, (grey.rows - 1) / 2.0);
  const Strip s = Sample(grey, centre, phi, -half, cols, half);

  // A few rows averaged, so that ticks stand out of the noise; only fully covered pixels.
  constexpr int kRows = 5, kRowStep = 2;
  cv::Mat1f validF, sum, count;
  s.valid.convertTo(validF, CV_32F);
  cv::boxFilter(s.px, sum, CV_32F, cv::Size(1, kRows), cv::Point(-1, -1), false, cv::BORDER_CONSTANT);
  cv::boxFilter(validF, count, CV_32F, cv::Size(1, kRows), cv::Point(-1, -1), false, cv::BORDER_CONSTANT);

  struct Window {
    int row, start, length;
  };
  struct Scored {
    double score;
    Window window;
  };
  std::vector<Scored> scored;
  for (const int length : {128, 512, 1024}) {
    std::vector<Window> windows;
    for (int j = 0; j < s.px.rows; j += kRowStep) {
      const float* cnt = count.ptr<float>(j);
      int a = 0;
      while (a < cols && cnt[a] < kRows - 0.5f) ++a;
      int b = a;
      while (b < cols && cnt[b] >= kRows - 0.5f) ++b;
      // Windows on a fixed grid, so that the same window of neighbouring rows lines up.
      for (int start = (a + length / 2 - 1) / (length / 2) * (length / 2); start + length <= b; start += length / 2)
        windows.push_back({j, start, length});
    }
    if (windows.empty()) continue;
    cv::Mat1f signal(int(windows.size()), length, 0.0f);
    for (std::size_t w = 0; w < windows.size(); ++w) {
      // The derivative removes shading; the window keeps the ends from ringing.
      const float* sm = sum.ptr<float>(windows[w].row);
      float* out = signal.ptr<float>(int(w));
      const int a = windows[w].start + 1, b = windows[w].start + length - 1;
      double mean = 0.0;
      for (int i = a; i < b; ++i) mean += sm[i + 1] - sm[i - 1];
      mean /= (b - a);
      for (int i = a; i < b; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * kPi * (i - a + 0.5) / (b - a));
        out[i - windows[w].start] = float(((sm[i + 1] - sm[i - 1]) - mean) * hann);
      }
    }
    cv::Mat spectrum;
    cv::dft(signal, spectrum, cv::DFT_ROWS | cv::DFT_COMPLEX_OUTPUT);
    // At least five periods in the window, at least 2.5 pixels each.
    const int fLo = 5, fHi = int(std::floor(length / 2.5));
    std::vector<double> power(std::size_t(fHi - fLo + 1));
    for (std::size_t w = 0; w < windows.size(); ++w) {
      const cv::Vec2f* f = spectrum.ptr<cv::Vec2f>(int(w));
      const auto p = [&](int k) { return double(f[k][0]) * f[k][0] + double(f[k][1]) * f[k][1]; };
      int peak = fLo;
      for (int k = fLo; k <= fHi; ++k) {
        power[std::size_t(k - fLo)] = p(k);
        if (p(k) > p(peak)) peak = k;
      }
      std::nth_element(power.begin(), power.begin() + std::ptrdiff_t(power.size() / 2), power.end());
      const double median = power[power.size() / 2];
      if (!(median > 0.0)) continue;
      const double ratio = p(peak) / median;
      if (ratio > 20.0) scored.push_back({ratio, windows[w]});
    }
  }
  // The best few places, apart from each other: a faint but regular texture elsewhere may
  // score higher than the ruler.
  std::sort(scored.begin(), scored.end(), [](const Scored& x, const Scored& y) { return x.score > y.score; });
  std::vector<Candidate> out;
  std::vector<Window> taken;
  for (const Scored& sc : scored) {
    if (out.size() >= 3) break;
    const Window& w = sc.window;
    const bool near = std::any_of(taken.begin(), taken.end(), [&](const Window& t) {
      return std::abs(t.row - w.row) <= 4 * kRows && t.start < w.start + w.length && w.start < t.start + t.length;
    });
    if (near) continue;
    taken.push_back(w);
    Candidate cand;
    cand.score = sc.score;
    cand.phi = phi;
    cand.period = WindowPeriod(sum.ptr<float>(w.row) + w.start, w.length);
    // The band of rows the ticks cover: where the same window keeps a strong component at
    // the pitch found.
    const auto strength = [&](int row) {
      const float* cnt = count.ptr<float>(row);
      const float* sm = sum.ptr<float>(row);
      double re = 0.0, im = 0.0;
      for (int i = w.start + 1; i < w.start + w.length - 1; ++i) {
        if (cnt[i] < kRows - 0.5f) return 0.0;
        const double d = sm[i + 1] - sm[i - 1], a = 2 * kPi * i / cand.period;
        re += d * std::cos(a);
        im += d * std::sin(a);
      }
      return std::hypot(re, im);
    };
    const double peakStrength = strength(w.row);
    int top = w.row, bottom = w.row;
    while (top > 0 && strength(top - 1) >= 0.3 * peakStrength) --top;
    while (bottom + 1 < s.px.rows && strength(bottom + 1) >= 0.3 * peakStrength) ++bottom;
    cand.c = s.ToImage(w.start + 0.5 * w.length, 0.5 * (top + bottom));
    cand.half = std::max(6, (bottom - top) / 2 + kRows);
    out.push_back(cand);
  }
  return out;
}

std::vector<Candidate> Search(const cv::Mat1b& grey) {
  std::vector<double> angles;
  for (double a : DominantOrientations(grey, 4)) {
    // Tick edges vote for the ruler's direction, its base line for the perpendicular.
    angles.push_back(a);
    angles.push_back(a < kPi / 2 ? a + kPi / 2 : a - kPi / 2);
  }
  std::vector<Candidate> out;
  for (double a : angles)
    for (const Candidate& c : SearchDirection(grey, a)) out.push_back(c);
  std::sort(out.begin(), out.end(), [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  // One candidate per line: measuring takes in the whole line anyway.
  std::vector<Candidate> distinct;
  for (const Candidate& c : out) {
    const bool same = std::any_of(distinct.begin(), distinct.end(), [&](const Candidate& d) {
      double turn = std::fmod(std::abs(c.phi - d.phi), kPi);
      turn = std::min(turn, kPi - turn);
      const cv::Point2d n(-std::sin(d.phi), std::cos(d.phi));
      return turn < 3.0 * kPi / 180 && std::abs((c.c - d.c).dot(n)) < 0.5 * std::max(c.half, d.half);
    });
    if (!same) distinct.push_back(c);
  }
  return distinct;
}

// ---------------------------------------------------------------- measure

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

// Centre of the peak of q near column `at`: the midpoint of its half-height crossings. Where
// the image ends within half a pitch, the peak must still fall off on that side about as far
// as on the other; a tick cut by the edge does not, and is refused.
std::optional<double> PeakCentre(const std::vector<double>& q, const std::vector<char>& ok, double at, double pitch) {
  const int n = int(q.size());
  const int reach = std::max(2, int(std::lround(0.5 * pitch)));
  const int look = std::max(1, int(0.25 * pitch));
  const int guess = int(std::lround(at));
  int i = -1;
  for (int k = guess - look; k <= guess + look; ++k)
    if (k >= 0 && k < n && ok[std::size_t(k)] && (i < 0 || q[std::size_t(k)] > q[std::size_t(i)])) i = k;
  if (i < 0) return std::nullopt;
  const double peak = q[std::size_t(i)];
  double leftMin = peak, rightMin = peak;
  int l = i, r = i;
  for (; l > i - reach && l > 0 && ok[std::size_t(l - 1)]; --l) leftMin = std::min(leftMin, q[std::size_t(l - 1)]);
  for (; r < i + reach && r + 1 < n && ok[std::size_t(r + 1)]; ++r) rightMin = std::min(rightMin, q[std::size_t(r + 1)]);
  const bool leftCut = l > i - reach, rightCut = r < i + reach;  // ran into the image's edge
  const double dropL = peak - leftMin, dropR = peak - rightMin;
  if (!(dropL > 0.0 && dropR > 0.0)) return std::nullopt;
  if ((leftCut && dropL < 0.6 * dropR) || (rightCut && dropR < 0.6 * dropL)) return std::nullopt;
  l = r = i;
  const double level = 0.5 * (peak + std::max(leftMin, rightMin));
  while (l > 0 && ok[std::size_t(l - 1)] && q[std::size_t(l)] >= level) --l;
  while (r + 1 < n && ok[std::size_t(r + 1)] && q[std::size_t(r)] >= level) ++r;
  if (q[std::size_t(l)] >= level || q[std::size_t(r)] >= level) return std::nullopt;
  const double xl = l + (level - q[std::size_t(l)]) / (q[std::size_t(l + 1)] - q[std::size_t(l)]);
  const double xr = r - (level - q[std::size_t(r)]) / (q[std::size_t(r - 1)] - q[std::size_t(r)]);
  return 0.5 * (xl + xr);
}

// Mean of rows [top, bottom] per column times the polarity, over the rows inside the image;
// ok where at least half of them are (an edge crossing the band obliquely leaves part).
void Profile(const Strip& s, int top, int bottom, int polarity, std::vector<double>* q, std::vector<char>* ok) {
  const int cols = s.px.cols;
  std::vector<int> count(std::size_t(cols), 0);
  q->assign(std::size_t(cols), 0.0);
  for (int j = top; j <= bottom; ++j) {
    const float* p = s.px.ptr<float>(j);
    const unsigned char* v = s.valid.ptr<unsigned char>(j);
    for (int i = 0; i < cols; ++i)
      if (v[i]) (*q)[std::size_t(i)] += p[i], ++count[std::size_t(i)];
  }
  ok->assign(std::size_t(cols), 0);
  for (int i = 0; i < cols; ++i) {
    const int c = count[std::size_t(i)];
    (*ok)[std::size_t(i)] = 2 * c >= bottom - top + 1 && c > 0;
    (*q)[std::size_t(i)] = c > 0 ? (*q)[std::size_t(i)] * polarity / c : 0.0;
  }
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Skewness of the valid profile in [from, to): positive when narrow peaks rise above a
// broad floor.
double Skewness(const std::vector<double>& q, const std::vector<char>& ok, int from, int to) {
  double n = 0.0, mean = 0.0;
  for (int i = from; i < to; ++i)
    if (ok[std::size_t(i)]) n += 1, mean += q[std::size_t(i)];
  if (n < 8) return 0.0;
  mean /= n;
  double m2 = 0.0, m3 = 0.0;
  for (int i = from; i < to; ++i)
    if (ok[std::size_t(i)]) {
      const double d = q[std::size_t(i)] - mean;
      m2 += d * d;
      m3 += d * d * d;
    }
  m2 /= n;
  m3 /= n;
  return m2 > 0.0 ? m3 / std::pow(m2, 1.5) : 0.0;
}

struct Chain {
  std::vector<double> at;  // peak middles, ascending
  std::vector<int> index;  // their indices along the ruler (a missing tick skips one)
  double pitch = 0.0;
  double contrast = 0.0;  // median prominence of the chain's peaks
};

// The ticks of one polarity in a profile: prominent peaks a common pitch apart.
Chain FindChain(std::vector<double> q, const std::vector<char>& ok, int polarity, double pitchHint, double noise) {
  Chain out;
  const int cols = int(q.size());
  if (polarity < 0)
    for (double& x : q) x = -x;
  // Peaks with their prominence: the lowest point on either side before a higher one,
  // within a pitch.
  struct Peak {
    double at;  // midpoint of the crossings at half the prominence
    double prominence;
  };
  std::vector<Peak> peaks;
  const int reach = std::max(2, int(std::lround(pitchHint)));
  const auto crossing = [&](int from, int dir, double level) {
    int k = from;
    while (k + dir >= 0 && k + dir < cols && ok[std::size_t(k + dir)] && q[std::size_t(k)] >= level) k += dir;
    if (q[std::size_t(k)] >= level) return double(k);
    const int inner = k - dir;  // still at or above the level
    return inner + dir * (q[std::size_t(inner)] - level) / (q[std::size_t(inner)] - q[std::size_t(k)]);
  };
  for (int i = 1; i + 1 < cols; ++i) {
    if (!ok[std::size_t(i)] || !ok[std::size_t(i - 1)] || !ok[std::size_t(i + 1)]) continue;
    if (!(q[std::size_t(i)] >= q[std::size_t(i - 1)] && q[std::size_t(i)] > q[std::size_t(i + 1)])) continue;
    // Each side up to a higher point: ripples on a flat-topped tick count as one peak.
    double l = q[std::size_t(i)], r = q[std::size_t(i)];
    for (int k = i - 1; k >= std::max(0, i - reach) && ok[std::size_t(k)] && q[std::size_t(k)] <= q[std::size_t(i)]; --k)
      l = std::min(l, q[std::size_t(k)]);
    for (int k = i + 1; k <= std::min(cols - 1, i + reach) && ok[std::size_t(k)] && q[std::size_t(k)] <= q[std::size_t(i)]; ++k)
      r = std::min(r, q[std::size_t(k)]);
    const double prominence = q[std::size_t(i)] - std::max(l, r);
    if (!(prominence > 0.0)) continue;
    // The middle of the peak at half its prominence, not its highest (noisy) point.
    const double level = q[std::size_t(i)] - 0.5 * prominence;
    peaks.push_back({0.5 * (crossing(i, -1, level) + crossing(i, 1, level)), prominence});
  }
  if (int(peaks.size()) < kMinTicks) return out;
  // Peaks must stand well above the noise, and above a fraction of the ruler's weaker ticks.
  std::vector<double> prom;
  for (const Peak& p : peaks) prom.push_back(p.prominence);
  std::sort(prom.rbegin(), prom.rend());
  const double threshold = std::max(0.25 * prom[std::size_t(kMinTicks - 1)], 6.0 * noise);
  std::vector<Peak> strong;
  for (const Peak& p : peaks)
    if (p.prominence >= threshold) strong.push_back(p);
  std::sort(strong.begin(), strong.end(), [](const Peak& a, const Peak& b) { return a.at < b.at; });
  std::vector<double> at;
  for (const Peak& p : strong) at.push_back(p.at);
  if (int(at.size()) < kMinTicks) return out;

  // Pitch: the spacing most other spacings agree with.
  std::vector<double> gaps;
  for (std::size_t k = 1; k < at.size(); ++k) gaps.push_back(at[k] - at[k - 1]);
  double pitch = 0.0;
  int support = 0;
  for (double g : gaps) {
    if (g < 2.0) continue;
    int cnt = 0;
    double sum = 0.0;
    for (double h : gaps)
      if (std::abs(h - g) <= 0.12 * g) ++cnt, sum += h;
    if (cnt > support || (cnt == support && sum / cnt < pitch)) support = cnt, pitch = sum / cnt;
  }
  if (support < kMinTicks - 1) return out;

  // The longest chain of peaks a pitch apart, allowing up to two missing ticks at a time
  // (something lying across the ruler).
  // Peaks already taken into a chain start no chain of their own (it would be a part of it).
  std::vector<char> used(at.size(), 0);
  for (std::size_t start = 0; start < at.size(); ++start) {
    if (used[start]) continue;
    std::vector<double> chain{at[start]};
    std::vector<int> idx{0};
    // Positions are predicted from a line through the chain so far, so that one tick pushed
    // aside by something lying on it does not lead the chain astray.
    double sk = 0.0, st = at[start], skk = 0.0, skt = 0.0;
    for (;;) {
      int found = -1, step = 0;
      const double cnt = double(chain.size());
      const double den = cnt * skk - sk * sk;
      const double slope = chain.size() >= 3 && den > 0.0 ? (cnt * skt - sk * st) / den : pitch;
      const double base = chain.size() >= 3 && den > 0.0 ? (st - slope * sk) / cnt : chain.back() - idx.back() * pitch;
      for (int stride = 1; stride <= 3 && found < 0; ++stride) {
        const double want = base + (idx.back() + stride) * slope;
        double bestErr = 0.15 * pitch;
        auto it = std::lower_bound(at.begin(), at.end(), want - bestErr);
        for (; it != at.end() && *it <= want + bestErr; ++it) {
          const double err = std::abs(*it - want);
          if (err <= bestErr) bestErr = err, found = int(it - at.begin()), step = stride;
        }
      }
      if (found < 0) break;
      used[std::size_t(found)] = 1;
      chain.push_back(at[std::size_t(found)]);
      idx.push_back(idx.back() + step);
      sk += idx.back();
      st += chain.back();
      skk += double(idx.back()) * idx.back();
      skt += idx.back() * chain.back();
    }
    // A chain does not end across a gap: what lies beyond it is more likely something else
    // in line with the ruler than a tick.
    while (chain.size() >= 2 && idx[idx.size() - 1] - idx[idx.size() - 2] > 1) chain.pop_back(), idx.pop_back();
    while (chain.size() >= 2 && idx[1] - idx[0] > 1) {
      chain.erase(chain.begin());
      idx.erase(idx.begin());
    }
    if (chain.size() > out.at.size()) out.at = chain, out.index = idx;
  }
  out.pitch = pitch;
  std::vector<double> chainProminence;
  for (double a : out.at) {
    const auto it = std::lower_bound(at.begin(), at.end(), a);
    chainProminence.push_back(strong[std::size_t(it - at.begin())].prominence);
  }
  out.contrast = Median(chainProminence);
  return out;
}

Fit Measure(const cv::Mat1b& grey, cv::Point2d c, double phi, int half, double pitchHint) {
  Fit fit;
  double tLo = 0.0, tHi = 0.0;
  if (!(pitchHint >= 2.0) || !ClipLine(c, Direction(phi), grey.cols, grey.rows, &tLo, &tHi)) return fit;
  const int cols = int(std::floor(tHi - tLo)) + 1;
  if (cols < kMinTicks * pitchHint * 0.8 || half < 1) return fit;
  fit.strip = Sample(grey, c, phi, std::ceil(tLo), cols, half);
  const Strip& s = fit.strip;
  const int rows = s.px.rows;

  // Rows that carry the ticks: strong component at the tick pitch, near the point the search
  // found (the ruler may fill only a little of the line), smoothed over a few rows. The pitch
  // found so far may be that of the long ticks every fifth or tenth; the short ones, where all
  // ticks show, give a stronger component at a fraction of it.
  const int around = int(std::lround(-s.t0));
  const int reachCols = std::max(64, int(12 * pitchHint));
  const int i0 = std::max(0, around - reachCols), i1 = std::min(cols, around + reachCols + 1);
  std::vector<double> periods;
  periods.push_back(pitchHint);
  for (int m = 2; m <= 10 && pitchHint / m >= 3.0; ++m) periods.push_back(pitchHint / m);
  const int np = int(periods.size());
  cv::Mat1d rawAmp = cv::Mat1d::zeros(rows, np);
  for (int j = 0; j < rows; ++j) {
    const float* p = s.px.ptr<float>(j);
    const unsigned char* v = s.valid.ptr<unsigned char>(j);
    double sum = 0.0;
    int cnt = 0;
    for (int i = i0; i < i1; ++i)
      if (v[i]) sum += p[i], ++cnt;
    if (cnt < 2 * pitchHint) continue;
    const double mean = sum / cnt;
    for (int k = 0; k < np; ++k) {
      double re = 0.0, im = 0.0;
      for (int i = i0; i < i1; ++i)
        if (v[i]) {
          const double a = 2 * kPi * i / periods[std::size_t(k)];
          re += (p[i] - mean) * std::cos(a);
          im += (p[i] - mean) * std::sin(a);
        }
      rawAmp(j, k) = std::hypot(re, im) / cnt;
    }
  }
  cv::Mat1d smoothAmp = cv::Mat1d::zeros(rows, np);
  for (int j = 0; j < rows; ++j) {
    const int a = std::max(0, j - 1), b = std::min(rows - 1, j + 1);
    for (int k = a; k <= b; ++k) smoothAmp.row(j) += rawAmp.row(k) / double(b - a + 1);
  }
  cv::Point best;
  double bestAmp = 0.0;
  cv::minMaxLoc(smoothAmp, nullptr, &bestAmp, nullptr, &best);
  if (!(bestAmp > 0.0)) return fit;
  pitchHint = periods[std::size_t(best.x)];
  const int peakRow = best.y;
  std::vector<double> amp(static_cast<std::size_t>(rows));
  for (int j = 0; j < rows; ++j) amp[std::size_t(j)] = smoothAmp(j, best.x);
  int top = peakRow, bottom = peakRow;
  while (top > 0 && amp[std::size_t(top - 1)] >= 0.5 * amp[std::size_t(peakRow)]) --top;
  while (bottom + 1 < rows && amp[std::size_t(bottom + 1)] >= 0.5 * amp[std::size_t(peakRow)]) ++bottom;
  // A few rows at least, so that noise and the ticks' lean can be told.
  if (bottom - top < 3) {
    top = std::max(0, std::min(peakRow - 2, rows - 4));
    bottom = std::min(rows - 1, top + 3);
  }
  fit.bandTop = top;
  fit.bandBottom = bottom;

  // Noise of the profile, from the differences between neighbouring band rows (ticks run
  // across the rows, so what differs there is noise).
  std::vector<double> q;
  std::vector<char> ok;
  Profile(s, top, bottom, 1, &q, &ok);
  std::vector<double> rowDiff;
  for (int j = top; j < bottom; ++j) {
    const float* a = s.px.ptr<float>(j);
    const float* b = s.px.ptr<float>(j + 1);
    const unsigned char* va = s.valid.ptr<unsigned char>(j);
    const unsigned char* vb = s.valid.ptr<unsigned char>(j + 1);
    for (int i = 0; i < cols; i += 2)
      if (va[i] && vb[i]) rowDiff.push_back(std::abs(double(b[i]) - a[i]));
  }
  const double rowNoise = rowDiff.empty() ? 0.0 : Median(rowDiff) / (0.6745 * std::sqrt(2.0));
  const double profileNoise = rowNoise / std::sqrt(double(bottom - top + 1));

  // Polarity. Ticks are narrower than the gaps between them, so the profile leans toward
  // the ticks' side (skewness); that gives a first guess over the whole line. With the ruler
  // located, the background just beyond its ends decides where there is some (gaps are
  // nearer to it than ticks; fine ticks blurred into a near sine show little skew), else the
  // skewness over the ruler alone, when clear.
  fit.polarity = Skewness(q, ok, 0, cols) > 0.0 ? 1 : -1;
  Chain chain = FindChain(q, ok, fit.polarity, pitchHint, profileNoise);
  if (chain.at.size() >= std::size_t(kMinTicks)) {
    const double p = chain.pitch;
    std::vector<double> background, onTicks, between;
    for (int i = 0; i < cols; ++i) {
      const double before = chain.at.front() - i, after = i - chain.at.back();
      if (ok[std::size_t(i)] && ((before > 1.5 * p && before < 6 * p) || (after > 1.5 * p && after < 6 * p)))
        background.push_back(q[std::size_t(i)]);
    }
    for (std::size_t k = 0; k < chain.at.size(); ++k) {
      onTicks.push_back(q[std::size_t(std::lround(chain.at[k]))]);
      if (k > 0) between.push_back(q[std::size_t(std::lround(0.5 * (chain.at[k] + chain.at[k - 1])))]);
    }
    int better = fit.polarity;
    if (background.size() >= std::size_t(2 * p)) {
      const double bg = Median(background);
      if (std::abs(bg - Median(onTicks)) < std::abs(bg - Median(between))) better = -fit.polarity;
    } else {
      const double skew = Skewness(q, ok, std::max(0, int(chain.at.front() - 0.5 * p)),
                                   std::min(cols, int(chain.at.back() + 0.5 * p) + 1));
      if (std::abs(skew) > 0.15) better = skew > 0.0 ? 1 : -1;
    }
    if (better != fit.polarity) {
      fit.polarity = better;
      chain = FindChain(q, ok, fit.polarity, pitchHint, profileNoise);
    }
  }
  if (fit.polarity < 0)
    for (double& x : q) x = -x;
  const std::vector<double>& bestChain = chain.at;
  const std::vector<int>& bestIdx = chain.index;
  const double pitch = chain.pitch;
  fit.contrast = chain.contrast;

  // Sub-pixel centres; a tick that cannot be centred (at the image's edge) is dropped.
  for (std::size_t k = 0; k < bestChain.size(); ++k)
    if (auto centre = PeakCentre(q, ok, bestChain[k], pitch)) {
      fit.ticks.push_back(*centre);
      fit.index.push_back(bestIdx[k]);
    }
  const int n = int(fit.ticks.size());
  if (n < kMinTicks) return fit;

  // Lean of the ticks: their centres in the upper and the lower half of the band.
  if (bottom - top >= 3) {
    const int split = (top + bottom) / 2;
    std::vector<double> qa, qb;
    std::vector<char> oka, okb;
    Profile(s, top, split, fit.polarity, &qa, &oka);
    Profile(s, split + 1, bottom, fit.polarity, &qb, &okb);
    const double dv = 0.5 * (split + 1 + bottom) - 0.5 * (top + split);
    std::vector<double> shifts;
    for (double t : fit.ticks) {
      const auto a = PeakCentre(qa, oka, t, pitch), b = PeakCentre(qb, okb, t, pitch);
      if (a && b) shifts.push_back(*b - *a);
    }
    if (shifts.size() >= std::size_t(kMinTicks)) {
      const double m = Median(shifts);
      std::vector<double> dev;
      for (double x : shifts) dev.push_back(std::abs(x - m));
      fit.lean = m / dv;
      fit.leanSpread = Median(dev);
      fit.leanError = 1.4826 * fit.leanSpread / dv / std::sqrt(double(shifts.size()));
    }
  }

  // Straight-line fit of position against index; ticks disturbed by something crossing
  // them still count as found, but their positions do not steer the pitch.
  std::vector<char> inlier(std::size_t(n), 1);
  for (int pass = 0; pass < 2; ++pass) {
    double sw = 0.0, mk = 0.0, mt = 0.0;
    for (int k = 0; k < n; ++k)
      if (inlier[std::size_t(k)]) sw += 1, mk += fit.index[std::size_t(k)], mt += fit.ticks[std::size_t(k)];
    mk /= sw;
    mt /= sw;
    double sxx = 0.0, sxy = 0.0;
    for (int k = 0; k < n; ++k)
      if (inlier[std::size_t(k)]) {
        sxx += (fit.index[std::size_t(k)] - mk) * (fit.index[std::size_t(k)] - mk);
        sxy += (fit.index[std::size_t(k)] - mk) * (fit.ticks[std::size_t(k)] - mt);
      }
    if (!(sxx > 0.0)) return fit;
    fit.pitch = sxy / sxx;
    std::vector<double> residual(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k)
      residual[std::size_t(k)] = fit.ticks[std::size_t(k)] - (mt + fit.pitch * (fit.index[std::size_t(k)] - mk));
    double ss = 0.0;
    int used = 0;
    for (int k = 0; k < n; ++k)
      if (inlier[std::size_t(k)]) ss += residual[std::size_t(k)] * residual[std::size_t(k)], ++used;
    fit.rms = std::sqrt(ss / used);
    fit.inliers = used;
    if (pass == 1) break;
    std::vector<double> dev;
    for (double r : residual) dev.push_back(std::abs(r));
    const double limit = std::max(0.25, 4.0 * 1.4826 * Median(dev));
    for (int k = 0; k < n; ++k) inlier[std::size_t(k)] = std::abs(residual[std::size_t(k)]) <= limit;
    if (std::count(inlier.begin(), inlier.end(), 1) < kMinTicks) return fit;
  }
  fit.ok = fit.pitch > 2.0;
  return fit;
}

// Measures repeatedly, turning and re-centring the strip onto the ticks until it settles.
Fit Refine(const cv::Mat1b& grey, cv::Point2d c, double phi, int half, double pitch) {
  Fit fit;
  for (int round = 0; round < 8; ++round) {
    fit = Measure(grey, c, phi, half, pitch);
    if (!fit.ok) return fit;
    const double turn = -std::atan(fit.lean);
    // The search finds the direction within a degree or two; ticks leaning much more are
    // not a ruler's (the stair steps along a slanting edge, for one).
    if (std::abs(turn) > 8.0 * kPi / 180) {
      fit.ok = false;
      return fit;
    }
    // A band reaching the strip's border may go on beyond it: not settled yet.
    const bool clipped = fit.bandTop == 0 || fit.bandBottom == 2 * half;
    if (round > 0 && !clipped && std::abs(turn) < std::max(2e-3, 2.5 * fit.leanError)) return fit;
    const int band = fit.bandBottom - fit.bandTop;
    c = fit.strip.ToImage(-fit.strip.t0, 0.5 * (fit.bandTop + fit.bandBottom));
    const double span = fit.ticks.back() - fit.ticks.front();
    int next = int(std::ceil(band / 2.0 + std::max(4.0, band / 2.0) + 0.5 * span * std::abs(std::tan(turn))));
    if (clipped) next = std::max(next, 2 * half);
    pitch = fit.pitch;
    phi += turn;
    half = std::min(next, std::max(grey.cols, grey.rows));
  }
  fit.ok = false;
  return fit;
}

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
