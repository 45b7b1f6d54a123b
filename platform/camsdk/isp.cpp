// Raw to BGR: one table per site colour (black level, white balance, gamma, contrast, inverse)
// into an 8-bit Bayer plane, read mirrored when asked; optional sharpening of that plane;
// OpenCV's demosaic; one 3x3 matrix (colour matrix, saturation, monochrome). Steps that do
// nothing are skipped, so the factory settings cost little more than the demosaic alone.
#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/core.h"

namespace camsdk {

const std::vector<ColorPresetMatrix>& ColorPresets() {
  // Rows sum to one so that neutral greys stay neutral.
  static const std::vector<ColorPresetMatrix> presets = {
      {{0, "Standard"}, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
      {{1, "Vivid"}, {1.4f, -0.2f, -0.2f, -0.2f, 1.4f, -0.2f, -0.2f, -0.2f, 1.4f}},
      {{2, "Tungsten"}, {1.3f, -0.2f, -0.1f, -0.1f, 1.2f, -0.1f, -0.1f, -0.3f, 1.4f}},
      {{3, "Fluorescent"}, {1.2f, -0.1f, -0.1f, -0.15f, 1.3f, -0.15f, 0.0f, -0.2f, 1.2f}},
  };
  return presets;
}

const CamSdkColorPreset* ColorPresetRecords() {
  static const std::vector<CamSdkColorPreset> records = [] {
    std::vector<CamSdkColorPreset> r;
    for (const auto& p : ColorPresets()) r.push_back(p.record);
    return r;
  }();
  return records.data();
}

namespace {

using M3 = std::array<double, 9>;

M3 Mul(const M3& a, const M3& b) {
  M3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[3 * i + j] += a[3 * i + k] * b[3 * k + j];
  return r;
}

constexpr double kLuma[3] = {0.299, 0.587, 0.114};

std::uint8_t Clamp8(double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

int DemosaicCode(int pattern) {
  switch (pattern) {
    case CAMSDK_PATTERN_GRBG: return cv::COLOR_BayerGB2BGR;
    case CAMSDK_PATTERN_RGGB: return cv::COLOR_BayerBG2BGR;
    case CAMSDK_PATTERN_GBRG: return cv::COLOR_BayerGR2BGR;
    default: return cv::COLOR_BayerRG2BGR;  // BGGR
  }
}

int SiteColor(int pattern, int x, int y) {
  static const int kSites[5][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}};
  return kSites[pattern][(y & 1) * 2 + (x & 1)];
}

// Sharpening on the single-channel plane before the demosaic: each sample plus `amount` times
// its difference to the mean of its four nearest neighbours of the same site colour (STEP 2 in
// a Bayer plane, 1 in a monochrome one), in row stripes on all cores. 16-bit lanes suffice:
// |lap| <= 1020 and a <= 32.
template <int STEP>
void SharpenRow(const std::uint8_t* __restrict up, const std::uint8_t* __restrict mid,
                const std::uint8_t* __restrict dn, std::uint8_t* __restrict o, int n, std::int16_t a) {
  for (int i = 0; i < STEP && i < n; ++i) o[i] = mid[i];
  for (int i = STEP; i < n - STEP; ++i) {
    const std::int16_t lap = std::int16_t(4 * mid[i] - up[i] - dn[i] - mid[i - STEP] - mid[i + STEP]);
    const std::int16_t v = std::int16_t(mid[i] + std::int16_t(std::int16_t(a * lap) >> 6));
    o[i] = std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  for (int i = std::max(STEP, n - STEP); i < n; ++i) o[i] = mid[i];
}

void Sharpen(const cv::Mat& src, cv::Mat& dst, float amount, bool bayer) {
  dst.create(src.size(), src.type());
  const int H = src.rows, n = src.cols, step = bayer ? 2 : 1;
  const std::int16_t a = std::int16_t(std::lround(std::min(amount, 2.0f) * 16.0f));  // 4 fractional bits
  cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
    for (int r = range.start; r < range.end; ++r) {
      const std::uint8_t* up = src.ptr<std::uint8_t>(r - step >= 0 ? r - step : r);
      const std::uint8_t* mid = src.ptr<std::uint8_t>(r);
      const std::uint8_t* dn = src.ptr<std::uint8_t>(r + step < H ? r + step : r);
      std::uint8_t* o = dst.ptr<std::uint8_t>(r);
      if (bayer) {
        SharpenRow<2>(up, mid, dn, o, n, a);
      } else {
        SharpenRow<1>(up, mid, dn, o, n, a);
      }
    }
  });
}

// The Bayer pattern of a plane mirrored horizontally and/or vertically.
int MirroredPattern(int pattern, int W, int H, bool flipH, bool flipV) {
  if (pattern == CAMSDK_PATTERN_MONO) return pattern;
  const int tx = (flipH && W % 2 == 0) ? 1 : 0, ty = (flipV && H % 2 == 0) ? 1 : 0;
  int sites[4];
  for (int k = 0; k < 4; ++k) sites[k] = SiteColor(pattern, (k & 1) ^ tx, (k >> 1) ^ ty);
  for (int p = CAMSDK_PATTERN_GRBG; p <= CAMSDK_PATTERN_BGGR; ++p) {
    bool same = true;
    for (int k = 0; k < 4; ++k) same = same && SiteColor(p, k & 1, k >> 1) == sites[k];
    if (same) return p;
  }
  return pattern;
}

}  // namespace

std::shared_ptr<const IspTables> BuildIspTables(const ModelInfo& model, const Params& p) {
  auto t = std::make_shared<IspTables>();
  t->colorSensor = model.color;
  const double bl[3] = {p.blackState ? double(p.blackR) : 0.0, p.blackState ? double(p.blackG) : 0.0,
                        p.blackState ? double(p.blackB) : 0.0};
  const double gain[3] = {model.color ? p.gainR : 1.0, model.color ? p.gainG : 1.0, model.color ? p.gainB : 1.0};
  const double g = p.gamma / 100.0, k = p.contrast / 100.0;
  for (int v = 0; v < 256; ++v) {
    double y = std::pow(v / 255.0, g);
    y = (y - 0.5) * k + 0.5;
    y = std::clamp(y, 0.0, 1.0);
    if (p.inverse) y = 1.0 - y;
    t->tone[v] = Clamp8(y * 255.0);
  }
  // The tone curve is folded into the per-site tables: it runs before the demosaic, so the
  // colour matrix works on tone-mapped values (its rows sum to one for the presets, which keeps
  // greys grey and commutes with the inversion).
  t->lut12.resize(3 * 4096);
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) t->lut8[c][v] = t->tone[Clamp8((v - bl[c]) * gain[c])];
    for (int v = 0; v < 4096; ++v) t->lut12[c * 4096 + v] = t->tone[Clamp8((v / 16.0 - bl[c]) * gain[c])];
  }

  if (model.color) {
    M3 ccm{};
    if (p.matrixSel >= 0 && p.matrixSel < int(ColorPresets().size())) {
      for (int i = 0; i < 9; ++i) ccm[i] = ColorPresets()[p.matrixSel].m[i];
    } else {
      for (int i = 0; i < 9; ++i) ccm[i] = p.matrix[i];
    }
    const double s = p.colorEnhance ? p.saturation / 100.0 : 1.0;
    M3 sat{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) sat[3 * i + j] = (1.0 - s) * kLuma[j] + (i == j ? s : 0.0);
    M3 m = Mul(sat, ccm);
    if (p.monochrome) {
      M3 mono{};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) mono[3 * i + j] = kLuma[j];
      m = Mul(mono, m);
    }
    bool identity = true;
    for (int i = 0; i < 9; ++i) identity = identity && std::fabs(m[i] - ((i % 4 == 0) ? 1.0 : 0.0)) < 1e-6;
    t->applyMatrix = !identity;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) t->bgrMatrix[3 * i + j] = float(m[3 * (2 - i) + (2 - j)]);
  }

  t->sharpen = (p.edgeOn && p.edgeGain > 0) ? float(p.edgeGain / 50.0) : 0.0f;
  t->flipH = p.mirrorH != 0;
  t->flipV = p.mirrorV != 0;
  return t;
}

namespace {

// Processed colour: no demosaic; the per-colour tables (black level, white balance, tone), the
// mirrors and the colour matrix as for a raw frame.
bool RunIspBgr(const IspTables& t, const unsigned char* raw, int W, int H, unsigned char* out) {
  thread_local cv::Mat tlsMapped;
  cv::Mat& mapped = tlsMapped;
  cv::Mat dst(H, W, CV_8UC3, out);
  cv::Mat& target = t.applyMatrix ? (mapped.create(H, W, CV_8UC3), mapped) : dst;
  cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
    for (int r = range.start; r < range.end; ++r) {
      const std::uint8_t* src = raw + std::size_t(t.flipV ? H - 1 - r : r) * W * 3;
      std::uint8_t* d = target.ptr<std::uint8_t>(r);
      for (int x = 0; x < W; ++x) {
        const std::uint8_t* s = src + 3 * (t.flipH ? W - 1 - x : x);
        d[3 * x] = t.lut8[2][s[0]];
        d[3 * x + 1] = t.lut8[1][s[1]];
        d[3 * x + 2] = t.lut8[0][s[2]];
      }
    }
  });
  if (t.applyMatrix) {
    const cv::Mat m(3, 3, CV_32F, const_cast<float*>(t.bgrMatrix.data()));
    cv::transform(mapped, dst, m);
  }
  return true;
}

}  // namespace

bool RunIsp(const IspTables& t, const unsigned char* raw, const CamSdkFrameInfo& info, unsigned char* out) {
  const int W = info.width, H = info.height, fmt = info.format;
  if (!raw || !out || W <= 0 || H <= 0 || !CamSdkRawIsValid(fmt)) return false;
  if (fmt == CAMSDK_RAW_BGR8) return RunIspBgr(t, raw, W, H, out);
  const int pattern = CamSdkRawPattern(fmt);
  const bool wide = CamSdkRawBits(fmt) > 8;
  const bool color = pattern != CAMSDK_PATTERN_MONO;

  // Per-thread work buffers: the frame threads of several cameras convert at the same time.
  // Plain references, so that the parallel workers use this thread's buffers, not their own.
  thread_local cv::Mat tlsPlane, tlsSharp, tlsBgr;
  cv::Mat& plane = tlsPlane;
  cv::Mat& sharp = tlsSharp;
  cv::Mat& bgr = tlsBgr;
  cv::Mat dst(H, W, CV_8UC3, out);

  // 1. Raw to 8-bit: black level, white balance and the tone curve in one table per site,
  //    read mirrored when asked (the mirrored plane has its own Bayer pattern).
  plane.create(H, W, CV_8U);
  cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
    for (int r = range.start; r < range.end; ++r) {
      const int sr = t.flipV ? H - 1 - r : r;
      const std::uint8_t* row8 = raw + std::size_t(sr) * W * (wide ? 2 : 1);
      // Tables by the parity of the source column.
      const int c0 = SiteColor(pattern, 0, sr), c1 = SiteColor(pattern, 1, sr);
      std::uint8_t* d = plane.ptr<std::uint8_t>(r);
      if (!wide) {
        const std::uint8_t* l0 = t.lut8[c0].data();
        const std::uint8_t* l1 = t.lut8[c1].data();
        if (!t.flipH) {
          int x = 0;
          for (; x + 1 < W; x += 2) {
            d[x] = l0[row8[x]];
            d[x + 1] = l1[row8[x + 1]];
          }
          if (x < W) d[x] = l0[row8[x]];
        } else {
          // Column x reads W-1-x; the tables alternate starting with that column's parity.
          const std::uint8_t* la = ((W - 1) & 1) ? l1 : l0;
          const std::uint8_t* lb = ((W - 1) & 1) ? l0 : l1;
          const std::uint8_t* s = row8 + (W - 1);
          int x = 0;
          for (; x + 1 < W; x += 2) {
            d[x] = la[s[-x]];
            d[x + 1] = lb[s[-x - 1]];
          }
          if (x < W) d[x] = la[s[-x]];
        }
      } else {
        const std::uint8_t* l0 = t.lut12.data() + c0 * 4096;
        const std::uint8_t* l1 = t.lut12.data() + c1 * 4096;
        for (int x = 0; x < W; ++x) {
          const int sx = t.flipH ? W - 1 - x : x;
          const int v = (row8[2 * sx] | (row8[2 * sx + 1] << 8)) & 0xFFF;
          d[x] = (sx & 1) ? l1[v] : l0[v];
        }
      }
    }
  });
  const int planePattern = MirroredPattern(pattern, W, H, t.flipH, t.flipV);

  // 2. Sharpening of the plane.
  cv::Mat* src = &plane;
  if (t.sharpen > 0) {
    Sharpen(plane, sharp, t.sharpen, color);
    src = &sharp;
  }
  if (!color) {
    cv::cvtColor(*src, dst, cv::COLOR_GRAY2BGR);
    return true;
  }

  // 3. Demosaic, straight into the output unless the matrix follows.
  if (!t.applyMatrix) {
    cv::cvtColor(*src, dst, DemosaicCode(planePattern));
    return true;
  }
  cv::cvtColor(*src, bgr, DemosaicCode(planePattern));

  // 4. Colour matrix, saturation, monochrome.
  const cv::Mat m(3, 3, CV_32F, const_cast<float*>(t.bgrMatrix.data()));
  cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
    cv::Mat rows = dst.rowRange(range.start, range.end);
    cv::transform(bgr.rowRange(range.start, range.end), rows, m);
  });
  return true;
}

}  // namespace camsdk
