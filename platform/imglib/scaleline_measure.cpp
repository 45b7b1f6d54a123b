// Finding the ruler of a stage micrometer, step 2: the ticks along a candidate line, measured
// in a strip resampled along it, and the strip turned onto them until the direction settles.
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

}  // namespace

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


}  // namespace kvimg::scaleline
