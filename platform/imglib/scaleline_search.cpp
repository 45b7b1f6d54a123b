// Finding the ruler of a stage micrometer, step 1: candidate ruler lines from the strongest edge
// orientations and the most periodic stretches of row along each.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imglib/imglib_internal.h"
#include "platform/imglib/scaleline_internal.h"

namespace kvimg::scaleline {

namespace {

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

}  // namespace

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

}  // namespace kvimg::scaleline
