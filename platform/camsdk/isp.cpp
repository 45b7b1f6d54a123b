// Raw to BGR: one table per site colour (black level, white balance, gamma, contrast, inverse)
// into an 8-bit Bayer plane, read mirrored when asked; optional sharpening of that plane;
// OpenCV's demosaic; one 3x3 matrix (colour matrix, saturation, monochrome). Steps that do
// nothing are skipped, so the factory settings cost little more than the demosaic alone; the
// others run together on cache-sized bands of rows.
#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>  // wider kernels where the processor has them, chosen at run time
#define CAMSDK_ISP_X86 1
#endif

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
// a Bayer plane, 1 in a monochrome one). 16-bit lanes suffice: |lap| <= 1020 and a <= 32.
template <int STEP>
[[gnu::always_inline]] inline void SharpenRow(const std::uint8_t* __restrict up, const std::uint8_t* __restrict mid,
                                              const std::uint8_t* __restrict dn, std::uint8_t* __restrict o, int n,
                                              std::int16_t a) {
  for (int i = 0; i < STEP && i < n; ++i) o[i] = mid[i];
  for (int i = STEP; i < n - STEP; ++i) {
    const std::int16_t lap = std::int16_t(4 * mid[i] - up[i] - dn[i] - mid[i - STEP] - mid[i + STEP]);
    const std::int16_t v = std::int16_t(mid[i] + std::int16_t(std::int16_t(a * lap) >> 6));
    o[i] = std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  for (int i = std::max(STEP, n - STEP); i < n; ++i) o[i] = mid[i];
}

using SharpenFn = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int,
                           std::int16_t);

template <int STEP>
void SharpenRowBase(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* dn, std::uint8_t* o, int n,
                    std::int16_t a) {
  SharpenRow<STEP>(up, mid, dn, o, n, a);
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
// mirrors and the colour matrix as for a raw frame. Each worker applies the matrix to its own
// rows while they are in its cache.
bool RunIspBgr(const IspTables& t, const unsigned char* raw, int W, int H, unsigned char* out) {
  cv::Mat dst(H, W, CV_8UC3, out);
  const cv::Mat m(3, 3, CV_32F, const_cast<float*>(t.bgrMatrix.data()));
  cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
    thread_local cv::Mat tlsMapped;
    cv::Mat target = dst.rowRange(range.start, range.end);
    if (t.applyMatrix) {
      tlsMapped.create(range.size(), W, CV_8UC3);
      target = tlsMapped;
    }
    for (int r = range.start; r < range.end; ++r) {
      const std::uint8_t* src = raw + std::size_t(t.flipV ? H - 1 - r : r) * W * 3;
      std::uint8_t* d = target.ptr<std::uint8_t>(r - range.start);
      for (int x = 0; x < W; ++x) {
        const std::uint8_t* s = src + 3 * (t.flipH ? W - 1 - x : x);
        d[3 * x] = t.lut8[2][s[0]];
        d[3 * x + 1] = t.lut8[1][s[1]];
        d[3 * x + 2] = t.lut8[0][s[2]];
      }
    }
    if (t.applyMatrix) {
      cv::Mat rows = dst.rowRange(range.start, range.end);
      cv::transform(target, rows, m);
    }
  });
  return true;
}

// Two alternating 256-entry tables over a row of 8-bit samples, read backwards when `flip`:
// d[x] = (x even ? even : odd)[src[flip ? W-1-x : x]].
void Map8(const std::uint8_t* __restrict src, const std::uint8_t* even, const std::uint8_t* odd, bool flip, int W,
          std::uint8_t* __restrict d, int x = 0) {
  if (!flip) {
    for (; x + 1 < W; x += 2) {
      d[x] = even[src[x]];
      d[x + 1] = odd[src[x + 1]];
    }
    if (x < W) d[x] = even[src[x]];
  } else {
    const std::uint8_t* s = src + (W - 1);
    for (; x + 1 < W; x += 2) {
      d[x] = even[s[-x]];
      d[x + 1] = odd[s[-x - 1]];
    }
    if (x < W) d[x] = even[s[-x]];
  }
}

#if defined(CAMSDK_ISP_X86)
// Kernels for AVX-512 with byte permutes, used where HasWideKernels().
#define CAMSDK_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Map8 with byte permutes: each table is four registers of 64 entries, two two-register
// permutes look up the low and high halves and the index's top bit picks one, 64 samples at a
// time; the lane parity picks the even or odd table.
CAMSDK_WIDE void Map8Vbmi(const std::uint8_t* __restrict src, const std::uint8_t* even, const std::uint8_t* odd,
                          bool flip, int W, std::uint8_t* __restrict d) {
  const __m512i e0 = _mm512_loadu_si512(even), e1 = _mm512_loadu_si512(even + 64),
                e2 = _mm512_loadu_si512(even + 128), e3 = _mm512_loadu_si512(even + 192);
  const __m512i o0 = _mm512_loadu_si512(odd), o1 = _mm512_loadu_si512(odd + 64), o2 = _mm512_loadu_si512(odd + 128),
                o3 = _mm512_loadu_si512(odd + 192);
  alignas(64) std::uint8_t order[64];
  for (int i = 0; i < 64; ++i) order[i] = std::uint8_t(63 - i);
  const __m512i reverse = _mm512_load_si512(order);
  const __mmask64 oddLanes = 0xAAAAAAAAAAAAAAAAull;
  int x = 0;
  for (; x + 64 <= W; x += 64) {
    const __m512i v = flip ? _mm512_maskz_permutexvar_epi8(~__mmask64(0), reverse,
                                                           _mm512_loadu_si512(src + (W - 64 - x)))
                           : _mm512_loadu_si512(src + x);
    const __mmask64 high = _mm512_movepi8_mask(v);
    const __m512i ev = _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(e0, v, e1),
                                              _mm512_permutex2var_epi8(e2, v, e3));
    const __m512i ov = _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(o0, v, o1),
                                              _mm512_permutex2var_epi8(o2, v, o3));
    _mm512_storeu_si512(d + x, _mm512_mask_blend_epi8(oddLanes, ev, ov));
  }
  // The compiler leaves the upper register halves dirty here, and OpenCV's SSE code that
  // follows on this core would then run at a fraction of its speed.
  _mm256_zeroupper();
  Map8(src, even, odd, flip, W, d, x);
}

// Sharpening in the wide registers (the same arithmetic, vectorised by the compiler).
template <int STEP>
CAMSDK_WIDE void SharpenRowWide(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* dn,
                                std::uint8_t* o, int n, std::int16_t a) {
  SharpenRow<STEP>(up, mid, dn, o, n, a);
  _mm256_zeroupper();
}

bool HasWideKernels() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
  }();
  return has;
}
#endif

// One row of the 8-bit plane: the per-site tables of raw row `sr`, read mirrored when asked.
void MapRow(const IspTables& t, const unsigned char* raw, int pattern, bool wide, int W, int sr, std::uint8_t* d) {
  const std::uint8_t* row8 = raw + std::size_t(sr) * W * (wide ? 2 : 1);
  // Tables by the parity of the source column.
  const int c0 = SiteColor(pattern, 0, sr), c1 = SiteColor(pattern, 1, sr);
  if (!wide) {
    const std::uint8_t* l0 = t.lut8[c0].data();
    const std::uint8_t* l1 = t.lut8[c1].data();
    // Mirrored, column x reads W-1-x: the tables alternate starting with that column's parity.
    const bool swap = t.flipH && ((W - 1) & 1);
    const std::uint8_t* even = swap ? l1 : l0;
    const std::uint8_t* odd = swap ? l0 : l1;
#if defined(CAMSDK_ISP_X86)
    if (HasWideKernels()) return Map8Vbmi(row8, even, odd, t.flipH, W, d);
#endif
    Map8(row8, even, odd, t.flipH, W, d);
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

// Bytes of per-band work buffers: about a core's own cache (measured: half of it loses to the
// halo rows, twice as much is no slower).
constexpr std::size_t kBandBytes = std::size_t(2) << 20;

}  // namespace

bool RunIsp(const IspTables& t, const unsigned char* raw, const CamSdkFrameInfo& info, unsigned char* out) {
  const int W = info.width, H = info.height, fmt = info.format;
  if (!raw || !out || W <= 0 || H <= 0 || !CamSdkRawIsValid(fmt)) return false;
  if (fmt == CAMSDK_RAW_BGR8) return RunIspBgr(t, raw, W, H, out);
  const int pattern = CamSdkRawPattern(fmt);
  const bool wide = CamSdkRawBits(fmt) > 8;
  const bool color = pattern != CAMSDK_PATTERN_MONO;
  const bool sharpen = t.sharpen > 0;
  const int code = color ? DemosaicCode(MirroredPattern(pattern, W, H, t.flipH, t.flipV)) : cv::COLOR_GRAY2BGR;
  const std::int16_t amount = std::int16_t(std::lround(std::min(t.sharpen, 2.0f) * 16.0f));  // 4 fractional bits
  const cv::Mat matrix(3, 3, CV_32F, const_cast<float*>(t.bgrMatrix.data()));
  cv::Mat dst(H, W, CV_8UC3, out);
  SharpenFn sharpenRow = color ? SharpenRowBase<2> : SharpenRowBase<1>;
#if defined(CAMSDK_ISP_X86)
  if (HasWideKernels()) sharpenRow = color ? SharpenRowWide<2> : SharpenRowWide<1>;
#endif

  // All steps run band by band, each band's rows through every step while they are in the
  // core's cache, with halo rows for the neighbourhoods: sharpening reads the same site colour
  // two rows away (one in a monochrome plane), and the demosaic reads one row each side and
  // fills the first and last rows of what it is given as borders. So a band of output rows
  // [a, b) demosaics [a-1, b+1) and keeps the interior; at the frame's top and bottom the
  // borders are the frame's own. Bands after the first start on odd rows, so that every
  // demosaic window starts on an even row and keeps the plane's Bayer pattern; each has at
  // least two rows, so that the last window has an interior row next to its border row.
  // Without the matrix the demosaic's output is final: the bands then only prepare the plane,
  // and one demosaic of the whole frame writes the output directly (a copy out of band
  // buffers costs more than the plane's round trip).
  const bool bandDemosaic = color && t.applyMatrix;
  const int sh = sharpen ? (color ? 2 : 1) : 0, dh = bandDemosaic ? 1 : 0;
  thread_local cv::Mat tlsWhole;
  cv::Mat& whole = tlsWhole;  // this thread's, not the workers'
  if (color && !bandDemosaic) whole.create(H, W, CV_8U);
  const std::size_t rowBytes = std::size_t(W) * (1 + (sharpen ? 1 : 0) + (bandDemosaic ? 3 : 0));
  const int threads = std::max(1, cv::getNumThreads());
  int wanted = int(std::min<std::size_t>(std::size_t(H), (std::size_t(H) * rowBytes + kBandBytes - 1) / kBandBytes));
  wanted = std::max(threads, (wanted + threads - 1) / threads * threads);  // whole rounds on all cores
  const int R = std::max(2, ((H + wanted - 1) / wanted + 1) & ~1);
  const int bands = H >= 3 ? (H - 3) / R + 1 : 1;
  const auto bandStart = [&](int k) { return k == 0 ? 0 : (k >= bands ? H : k * R + 1); };
  const auto sourceRow = [&](int r) { return t.flipV ? H - 1 - r : r; };

  cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
    // This worker's band buffers, big enough for any band of this frame; views of them keep
    // the allocation when band sizes differ.
    thread_local cv::Mat tlsPlane, tlsSharp, tlsBgr;
    const int capacity = R + 2 + 2 * dh + 2 * sh;
    if (tlsPlane.rows < capacity || tlsPlane.cols != W) tlsPlane.create(capacity, W, CV_8U);
    if (sharpen && (tlsSharp.rows < capacity || tlsSharp.cols != W)) tlsSharp.create(capacity, W, CV_8U);
    if (bandDemosaic && (tlsBgr.rows < capacity || tlsBgr.cols != W)) tlsBgr.create(capacity, W, CV_8UC3);
    for (int k = range.start; k < range.end; ++k) {
      const int a = bandStart(k), b = bandStart(k + 1);
      const int w0 = std::max(0, a - dh), w1 = std::min(H, b + dh);   // demosaic window
      const int m0 = std::max(0, w0 - sh), m1 = std::min(H, w1 + sh);  // mapped rows
      if (color && !bandDemosaic && !sharpen) {
        for (int r = a; r < b; ++r) MapRow(t, raw, pattern, wide, W, sourceRow(r), whole.ptr<std::uint8_t>(r));
        continue;
      }
      for (int r = m0; r < m1; ++r) MapRow(t, raw, pattern, wide, W, sourceRow(r), tlsPlane.ptr<std::uint8_t>(r - m0));
      cv::Mat src = tlsPlane.rowRange(w0 - m0, w1 - m0);
      if (sharpen) {
        for (int r = w0; r < w1; ++r) {
          const std::uint8_t* up = tlsPlane.ptr<std::uint8_t>((r - sh >= 0 ? r - sh : r) - m0);
          const std::uint8_t* mid = tlsPlane.ptr<std::uint8_t>(r - m0);
          const std::uint8_t* dn = tlsPlane.ptr<std::uint8_t>((r + sh < H ? r + sh : r) - m0);
          std::uint8_t* o = (color && !bandDemosaic) ? whole.ptr<std::uint8_t>(r) : tlsSharp.ptr<std::uint8_t>(r - w0);
          sharpenRow(up, mid, dn, o, W, amount);
        }
        if (color && !bandDemosaic) continue;
        src = tlsSharp.rowRange(0, w1 - w0);
      }
      cv::Mat rows = dst.rowRange(a, b);
      if (!color) {
        cv::cvtColor(src, rows, code);  // grey to three channels: no neighbours, no halo
        continue;
      }
      cv::Mat bgr = tlsBgr.rowRange(0, w1 - w0);
      cv::cvtColor(src, bgr, code);
      cv::transform(bgr.rowRange(a - w0, b - w0), rows, matrix);
    }
  });
  if (color && !bandDemosaic) cv::cvtColor(whole, dst, code);
  return true;
}

}  // namespace camsdk
