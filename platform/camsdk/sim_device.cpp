// Simulated camera models looking at a stage micrometer specimen. Each model renders its scene
// once per resolution into a plane of per-site reflectances; every frame then maps that plane
// through per-colour tables built from exposure, gain, binning and lamp flicker, adds sensor
// noise, the moving disc and the hot pixels.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "platform/camsdk/device.h"

namespace camsdk {
namespace {

#define TIMES "\xC3\x97"  // "×" in UTF-8

// Resolution tables (names as the camera reports them).
const CamSdkResolution kColorRes[] = {
    {0, "2592" TIMES "1944", 2592, 1944, 0, 1},
    {1, "1296" TIMES "972", 1296, 972, 0, 2},
    {2, "641" TIMES "480", 641, 480, 0, 4},
};
const CamSdkResolution kMonoRes[] = {
    {0, "1280" TIMES "1024", 1280, 1024, 0, 1},
    {1, "640" TIMES "512", 640, 512, 0, 2},
};
const CamSdkResolution kSingleRes[] = {
    {0, "1600" TIMES "1200", 1600, 1200, 0, 1},
    {1, "800" TIMES "600", 800, 600, 0, 2},
};
const CamSdkResolution kSumRes[] = {
    {0, "2048" TIMES "1536", 2048, 1536, 0, 1},
    {1, "1024" TIMES "768", 1024, 768, 0, 2},
    {2, "1024" TIMES "768 SUM", 1024, 768, 1, 2},
};
const CamSdkResolution kAlignedRes[] = {
    {0, "5472" TIMES "3648", 5472, 3648, 0, 1},
    {1, "2736" TIMES "1824", 2736, 1824, 0, 2},
    {2, "1368" TIMES "912", 1368, 912, 0, 4},
};

const CamSdkMediaType kMediaGRBG[] = {{0, "RAW8", CAMSDK_RAW_GRBG8}, {1, "RAW12", CAMSDK_RAW_GRBG12}};
const CamSdkMediaType kMediaRGGB[] = {{0, "RAW8", CAMSDK_RAW_RGGB8}, {1, "RAW12", CAMSDK_RAW_RGGB12}};
const CamSdkMediaType kMediaGBRG[] = {{0, "RAW8", CAMSDK_RAW_GBRG8}, {1, "RAW12", CAMSDK_RAW_GBRG12}};
const CamSdkMediaType kMediaBGGR[] = {{0, "RAW8", CAMSDK_RAW_BGGR8}, {1, "RAW12", CAMSDK_RAW_BGGR12}};
const CamSdkMediaType kMediaMono[] = {{0, "RAW8", CAMSDK_RAW_MONO8}, {1, "RAW12", CAMSDK_RAW_MONO12}};

const ModelInfo kModels[] = {
    {"color", "Q7V-UC500C", "Q7V-UC500C 0001", "0001", 1, true, CAMSDK_PATTERN_GRBG, 2592, 1944, kColorRes, 3,
     kMediaGRBG, 2, 3, {340, 170, 80}, 1u << 22, 2, 2, 4, 2, 32, 32, 16.0},
    {"mono", "Q7V-UM130", "Q7V-UM130 0002", "0002", 2, false, CAMSDK_PATTERN_MONO, 1280, 1024, kMonoRes, 2,
     kMediaMono, 2, 2, {300, 150, 150}, 1u << 22, 2, 2, 4, 2, 32, 32, 8.0},
    // One frame speed, and exposures only up to 0.9 s.
    {"single", "Q7V-UC200S", "Q7V-UC200S 0003", "0003", 3, true, CAMSDK_PATTERN_RGGB, 1600, 1200, kSingleRes, 2,
     kMediaRGGB, 2, 1, {200, 200, 200}, 45000, 2, 2, 4, 2, 32, 32, 10.0},
    {"sum", "Q7V-UC300F", "Q7V-UC300F 0004", "0004", 4, true, CAMSDK_PATTERN_GBRG, 2048, 1536, kSumRes, 3,
     kMediaGBRG, 2, 3, {400, 200, 130}, 1u << 22, 2, 2, 4, 2, 32, 32, 12.0},
    // About 20 megapixels; regions of interest only in steps of 16.
    {"aligned", "Q7V-UC2000A", "Q7V-UC2000A 0005", "0005", 5, true, CAMSDK_PATTERN_BGGR, 5472, 3648, kAlignedRes, 3,
     kMediaBGGR, 2, 2, {800, 130, 130}, 1u << 22, 16, 16, 16, 16, 64, 64, 36.0},
};
constexpr int kModelCount = int(sizeof(kModels) / sizeof(kModels[0]));

// Sensor response: raw (8-bit units) = pedestal + reflectance x exposure / 20 ms x gain x
// sensitivity of the site colour under the simulated lamp.
constexpr double kPedestal = 6.0;
constexpr double kReferenceExposure = 200000.0;  // 20 ms
constexpr double kSensitivity[3] = {0.80, 1.00, 0.62};  // red, green, blue sites
constexpr double kFlickerAmplitude = 0.10;             // lamps on 50 Hz mains: 100 Hz ripple
constexpr double kFlickerFrequency = 100.0;
constexpr int kHotValue = 232;

// Seeded hot pixels, fractions of the sensor (raw coordinates).
constexpr double kDefectFractions[][2] = {{0.131, 0.291}, {0.273, 0.812}, {0.412, 0.533}, {0.551, 0.122},
                                          {0.633, 0.671}, {0.722, 0.383}, {0.861, 0.911}, {0.932, 0.224}};

// Colours of the specimen (RGB reflectance 0..255).
struct Rgb {
  double r, g, b;
};
constexpr Rgb kBackground{204, 204, 204};
constexpr Rgb kInk{20, 20, 20};
constexpr Rgb kWhite{230, 230, 230};
constexpr Rgb kGrey{115, 115, 115};
constexpr Rgb kBlack{8, 8, 8};
constexpr Rgb kPatchColors[6] = {{200, 30, 30}, {30, 170, 40}, {30, 40, 190}, {40, 170, 190}, {190, 40, 170}, {210, 200, 40}};
constexpr Rgb kMovingColor{20, 30, 120};

// Scene layout in sensor pixels, displayed orientation (y from the top, continuous coordinates).
struct Layout {
  double rulerCx, rulerCy, pitch, angleRad, tickWidth, tickLong, tickMid, tickShort;
  CamSdkRect white, grey, black, patches[6], gradient, track;
  CamSdkCircle rings[2], disc;
  double lineX0, lineY0, lineX1, lineY1;
  double vx, vy, ax, ay, bx, by, angleDeg;
  double movingRadius;
};

Layout MakeLayout(const ModelInfo& m) {
  const double W = m.sensorWidth, H = m.sensorHeight;
  Layout l{};
  l.rulerCx = 0.5 * W;
  l.rulerCy = 0.22 * H;
  l.pitch = m.rulerPitch;
  l.angleRad = 1.0 * M_PI / 180.0;
  l.tickWidth = 0.25 * m.rulerPitch;
  l.tickLong = 0.08 * H;
  l.tickMid = 0.06 * H;
  l.tickShort = 0.04 * H;
  l.white = {0.04 * W, 0.66 * H, 0.08 * W, 0.10 * H};
  l.grey = {0.14 * W, 0.66 * H, 0.08 * W, 0.10 * H};
  l.black = {0.24 * W, 0.66 * H, 0.08 * W, 0.10 * H};
  for (int i = 0; i < 6; ++i) l.patches[i] = {(0.34 + 0.1 * i) * W, 0.66 * H, 0.08 * W, 0.10 * H};
  l.gradient = {0.04 * W, 0.82 * H, 0.92 * W, 0.12 * H};
  l.track = {0.05 * W, 0.26 * H, 0.90 * W, 0.08 * H};
  l.movingRadius = 0.03 * H;
  l.rings[0] = {0.16 * W, 0.48 * H, 0.12 * H};
  l.rings[1] = {0.16 * W, 0.48 * H, 0.07 * H};
  l.disc = {0.38 * W, 0.48 * H, 0.08 * H};
  l.lineX0 = 0.50 * W;
  l.lineY0 = 0.37 * H;
  l.lineX1 = 0.70 * W;
  l.lineY1 = 0.58 * H;
  l.angleDeg = 60.0;
  l.vx = 0.76 * W;
  l.vy = 0.60 * H;
  l.ax = 0.96 * W;
  l.ay = 0.60 * H;
  const double len = 0.20 * H;
  l.bx = l.vx + len * std::cos(l.angleDeg * M_PI / 180.0);
  l.by = l.vy - len * std::sin(l.angleDeg * M_PI / 180.0);
  return l;
}

// Maps sensor display coordinates to those of an image (preset: scaled; ROI: shifted, with the
// displayed rows counted from the region's top as shown).
struct ToImage {
  double sx = 1, sy = 1, dx = 0, dy = 0;
  double X(double x) const { return x * sx + dx; }
  double Y(double y) const { return y * sy + dy; }
};

ToImage MakeToImage(const ModelInfo& m, const Mode& mode) {
  ToImage t;
  if (mode.roi) {
    t.dx = -mode.offsetX;
    t.dy = -(m.sensorHeight - mode.offsetY - mode.height);
  } else {
    t.sx = mode.scaleX;
    t.sy = mode.scaleY;
  }
  return t;
}

CamSdkRect MapRect(const ToImage& t, const CamSdkRect& r) { return {t.X(r.x), t.Y(r.y), r.width * t.sx, r.height * t.sy}; }
CamSdkCircle MapCircle(const ToImage& t, const CamSdkCircle& c) {
  return {t.X(c.cx), t.Y(c.cy), c.radius * 0.5 * (t.sx + t.sy)};
}

// Position of the moving disc for a frame, sensor display coordinates.
void MovingCentre(const Layout& l, std::uint32_t frame, double* cx, double* cy) {
  const double travel = l.track.width - 2 * l.movingRadius;
  const double phase = double(frame % 120) / 60.0;  // there and back in 120 frames
  const double f = phase <= 1.0 ? phase : 2.0 - phase;
  *cx = l.track.x + l.movingRadius + travel * f;
  *cy = l.track.y + 0.5 * l.track.height;
}

constexpr int kShift = 8;
constexpr double kOne = 1 << kShift;
cv::Point Fx(double x, double y) {  // continuous coordinates to OpenCV's pixel-centre convention
  return cv::Point(int(std::lround((x - 0.5) * kOne)), int(std::lround((y - 0.5) * kOne)));
}
cv::Scalar Bgr(const Rgb& c) { return cv::Scalar(c.b, c.g, c.r); }

void FillRect(cv::Mat& img, const CamSdkRect& r, const Rgb& c) {
  cv::Point pts[4] = {Fx(r.x, r.y), Fx(r.x + r.width, r.y), Fx(r.x + r.width, r.y + r.height), Fx(r.x, r.y + r.height)};
  cv::fillConvexPoly(img, pts, 4, Bgr(c), cv::LINE_AA, kShift);
}

// A bar from (x0,y0) to (x1,y1) of the given width, anti-aliased.
void Bar(cv::Mat& img, double x0, double y0, double x1, double y1, double width, const Rgb& c) {
  const double dx = x1 - x0, dy = y1 - y0, len = std::hypot(dx, dy);
  if (len <= 0) return;
  const double nx = -dy / len * width * 0.5, ny = dx / len * width * 0.5;
  cv::Point pts[4] = {Fx(x0 + nx, y0 + ny), Fx(x1 + nx, y1 + ny), Fx(x1 - nx, y1 - ny), Fx(x0 - nx, y0 - ny)};
  cv::fillConvexPoly(img, pts, 4, Bgr(c), cv::LINE_AA, kShift);
}

// Renders the specimen at a preset resolution, displayed orientation, BGR.
cv::Mat RenderScene(const ModelInfo& m, const Mode& mode) {
  const Layout l = MakeLayout(m);
  const ToImage t = MakeToImage(m, mode);
  cv::Mat img(mode.height, mode.width, CV_8UC3, Bgr(kBackground));

  // Stage micrometer: 101 ticks on a baseline, tilted.
  const double ca = std::cos(l.angleRad), sa = std::sin(l.angleRad);
  const double half = 50.0 * l.pitch;
  auto P = [&](double along, double up, double* x, double* y) {  // ruler frame -> sensor display
    *x = l.rulerCx + along * ca + up * sa;
    *y = l.rulerCy + along * sa - up * ca;
  };
  const double tw = l.tickWidth * 0.5 * (t.sx + t.sy);
  for (int k = 0; k <= 100; ++k) {
    const double len = k % 10 == 0 ? l.tickLong : (k % 5 == 0 ? l.tickMid : l.tickShort);
    double x0, y0, x1, y1;
    P(-half + k * l.pitch, -0.5 * l.tickWidth, &x0, &y0);
    P(-half + k * l.pitch, len, &x1, &y1);
    Bar(img, t.X(x0), t.Y(y0), t.X(x1), t.Y(y1), tw, kInk);
  }
  {
    double x0, y0, x1, y1;
    P(-half - 0.5 * l.tickWidth, 0, &x0, &y0);
    P(half + 0.5 * l.tickWidth, 0, &x1, &y1);
    Bar(img, t.X(x0), t.Y(y0), t.X(x1), t.Y(y1), tw, kInk);
  }

  // Rings, disc, line, angle (2-pixel lines in the image).
  for (const CamSdkCircle& c : l.rings) {
    cv::Point centre = Fx(t.X(c.cx), t.Y(c.cy));
    cv::Size axes(int(std::lround(c.radius * t.sx * kOne)), int(std::lround(c.radius * t.sy * kOne)));
    cv::ellipse(img, centre, axes, 0, 0, 360, Bgr(kInk), 2, cv::LINE_AA, kShift);
  }
  {
    cv::Point centre = Fx(t.X(l.disc.cx), t.Y(l.disc.cy));
    cv::Size axes(int(std::lround(l.disc.radius * t.sx * kOne)), int(std::lround(l.disc.radius * t.sy * kOne)));
    cv::ellipse(img, centre, axes, 0, 0, 360, Bgr(kInk), cv::FILLED, cv::LINE_AA, kShift);
  }
  Bar(img, t.X(l.lineX0), t.Y(l.lineY0), t.X(l.lineX1), t.Y(l.lineY1), 2.0, kInk);
  Bar(img, t.X(l.vx), t.Y(l.vy), t.X(l.ax), t.Y(l.ay), 2.0, kInk);
  Bar(img, t.X(l.vx), t.Y(l.vy), t.X(l.bx), t.Y(l.by), 2.0, kInk);

  // Patches and the gradient.
  FillRect(img, MapRect(t, l.white), kWhite);
  FillRect(img, MapRect(t, l.grey), kGrey);
  FillRect(img, MapRect(t, l.black), kBlack);
  for (int i = 0; i < 6; ++i) FillRect(img, MapRect(t, l.patches[i]), kPatchColors[i]);
  const CamSdkRect g = MapRect(t, l.gradient);
  const int gx0 = std::max(0, int(std::ceil(g.x - 0.5))), gx1 = std::min(mode.width, int(std::floor(g.x + g.width - 0.5)) + 1);
  const int gy0 = std::max(0, int(std::ceil(g.y - 0.5))), gy1 = std::min(mode.height, int(std::floor(g.y + g.height - 0.5)) + 1);
  for (int x = gx0; x < gx1; ++x) {
    const double f = std::clamp((x + 0.5 - g.x) / g.width, 0.0, 1.0);
    const int v = int(std::lround(255.0 * f));
    if (gy1 > gy0) img(cv::Rect(x, gy0, 1, gy1 - gy0)).setTo(cv::Scalar(v, v, v));
  }

  // The optics soften every edge a little.
  cv::GaussianBlur(img, img, cv::Size(5, 5), 0.6);
  return img;
}

int SiteColor(int pattern, int x, int y) {  // 0 red, 1 green, 2 blue
  // Top-left 2x2 of each pattern, row-major.
  static const int kSites[5][4] = {{1, 1, 1, 1}, {1, 0, 2, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {2, 1, 1, 0}};
  return kSites[pattern][(y & 1) * 2 + (x & 1)];
}

// Plane of per-site reflectances in readout order (raw row 0 = bottom of the displayed scene).
cv::Mat ScenePlane(const ModelInfo& m, const Mode& mode) {
  const cv::Mat img = RenderScene(m, mode);
  cv::Mat plane(mode.height, mode.width, CV_8U);
  cv::parallel_for_(cv::Range(0, mode.height), [&](const cv::Range& range) {
    for (int r = range.start; r < range.end; ++r) {
      const cv::Vec3b* src = img.ptr<cv::Vec3b>(mode.height - 1 - r);
      std::uint8_t* dst = plane.ptr<std::uint8_t>(r);
      if (!m.color) {
        for (int x = 0; x < mode.width; ++x)
          dst[x] = std::uint8_t((src[x][2] * 77 + src[x][1] * 150 + src[x][0] * 29 + 128) >> 8);
      } else {
        for (int x = 0; x < mode.width; ++x) dst[x] = src[x][2 - SiteColor(m.pattern, x, r)];
      }
    }
  });
  return plane;
}

// Presence of the models (hooks and Q7V_CAMSDK_MODELS).
std::mutex gPresenceMutex;
std::array<bool, kModelCount> gPresent{};
bool gPresenceInit = false;

bool ParseKeys(const std::string& keys, std::array<bool, kModelCount>* out) {
  std::array<bool, kModelCount> p{};
  std::stringstream ss(keys);
  std::string item;
  while (std::getline(ss, item, ',')) {
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (item.empty()) continue;
    if (item == "all") {
      p.fill(true);
      continue;
    }
    bool found = false;
    for (int i = 0; i < kModelCount; ++i)
      if (item == kModels[i].key) p[i] = found = true;
    if (!found) return false;
  }
  *out = p;
  return true;
}

void InitPresenceLocked() {
  if (gPresenceInit) return;
  gPresenceInit = true;
  gPresent.fill(true);
  if (const char* env = std::getenv("Q7V_CAMSDK_MODELS")) {
    std::array<bool, kModelCount> p{};
    if (ParseKeys(env, &p)) gPresent = p;
  }
}

int ModelIndex(const ModelInfo& m) { return int(&m - kModels); }

class SimDevice final : public Device {
 public:
  explicit SimDevice(const ModelInfo& m) : model_(m), layout_(MakeLayout(m)) {
    std::mt19937 rng(0x51u + unsigned(m.modelId));
    std::normal_distribution<double> n(0.0, 1.0);
    noise_.resize(kNoiseSize);
    for (auto& v : noise_) v = std::int16_t(std::clamp(n(rng), -4.0, 4.0) * 1024.0);
    for (const auto& f : kDefectFractions)
      defects_.push_back({int(f[0] * m.sensorWidth), int(f[1] * m.sensorHeight)});
  }

  const ModelInfo& Model() const override { return model_; }
  std::vector<CamSdkPoint> SeededDefects() const override { return defects_; }

  bool SceneGeometry(const Mode& mode, CamSdkSceneGeometry* g) const override {
    const Layout& l = layout_;
    const ToImage t = MakeToImage(model_, mode);
    *g = {};
    g->width = mode.width;
    g->height = mode.height;
    const double ca = std::cos(l.angleRad), sa = std::sin(l.angleRad), half = 50.0 * l.pitch;
    g->rulerX0 = t.X(l.rulerCx - half * ca);
    g->rulerY0 = t.Y(l.rulerCy - half * sa);
    g->rulerX1 = t.X(l.rulerCx + half * ca);
    g->rulerY1 = t.Y(l.rulerCy + half * sa);
    g->rulerPitch = std::hypot(g->rulerX1 - g->rulerX0, g->rulerY1 - g->rulerY0) / 100.0;
    g->rulerTicks = 101;
    g->rulerAngleDeg = 1.0;
    g->greyPatch = MapRect(t, l.grey);
    g->whitePatch = MapRect(t, l.white);
    g->blackPatch = MapRect(t, l.black);
    for (int i = 0; i < 6; ++i) g->colorPatches[i] = MapRect(t, l.patches[i]);
    g->gradient = MapRect(t, l.gradient);
    g->circles[0] = MapCircle(t, l.rings[0]);
    g->circles[1] = MapCircle(t, l.rings[1]);
    g->disc = MapCircle(t, l.disc);
    g->lineX0 = t.X(l.lineX0);
    g->lineY0 = t.Y(l.lineY0);
    g->lineX1 = t.X(l.lineX1);
    g->lineY1 = t.Y(l.lineY1);
    g->angleVertexX = t.X(l.vx);
    g->angleVertexY = t.Y(l.vy);
    g->angleEndX0 = t.X(l.ax);
    g->angleEndY0 = t.Y(l.ay);
    g->angleEndX1 = t.X(l.bx);
    g->angleEndY1 = t.Y(l.by);
    g->angleDeg = l.angleDeg;
    g->movingTrack = MapRect(t, l.track);
    return true;
  }

  bool Read(const Exposure& e, std::vector<std::uint8_t>& raw) override {
    if (!SimBackend().Present(model_)) return false;
    const Mode& mode = e.mode;
    if (mode.width <= 0 || mode.height <= 0) return false;
    std::shared_ptr<const cv::Mat> base = Plane(mode);
    cv::Mat plane = mode.roi ? (*base)(cv::Rect(mode.offsetX, mode.offsetY, mode.width, mode.height)) : *base;

    const int bits = CamSdkRawBits(e.format);
    const bool wide = bits > 8;
    const double outScale = wide ? 16.0 : 1.0;
    const int maxValue = wide ? 4095 : 255;
    const double T = double(e.exposure) * 1e-7;
    double ripple = 1.0;
    if (T > 0) {
      const double w = 2 * M_PI * kFlickerFrequency;
      ripple += kFlickerAmplitude * (std::sin(w * (e.timeSeconds + T)) - std::sin(w * e.timeSeconds)) / (w * T);
    }
    const double k =
        double(e.exposure) / kReferenceExposure * e.analogGain * (mode.sum ? 4.0 : 1.0) * ripple * e.sceneLight;
    // Per site colour: reflectance -> raw value.
    std::array<std::array<std::uint16_t, 256>, 3> lut;
    for (int c = 0; c < 3; ++c) {
      const double s = model_.color ? kSensitivity[c] : 1.0;
      for (int v = 0; v < 256; ++v) {
        const double signal = e.lensCovered ? 0.0 : v * k * s;
        lut[c][v] = std::uint16_t(std::clamp(std::lround((kPedestal + signal) * outScale), 0L, long(maxValue)));
      }
    }
    const double sigma = (0.5 + 0.35 * e.analogGain) * outScale * (mode.sum ? 2.0 : 1.0);
    const int ampQ8 = int(std::lround(sigma * 256.0));
    const std::uint32_t frameOffset = (e.frameNumber * 2654435761u) & kNoiseMask;

    const int W = mode.width, H = mode.height, bps = wide ? 2 : 1;
    raw.resize(std::size_t(W) * H * bps);
    const int pattern = model_.color ? model_.pattern : CAMSDK_PATTERN_MONO;
    // Site colours follow the sensor; a region of interest starts on even coordinates.
    cv::parallel_for_(cv::Range(0, H), [&](const cv::Range& range) {
      for (int r = range.start; r < range.end; ++r) {
        const std::uint8_t* p = plane.ptr<std::uint8_t>(r);
        const std::uint16_t* l0 = lut[SiteColor(pattern, 0, r)].data();
        const std::uint16_t* l1 = lut[SiteColor(pattern, 1, r)].data();
        const std::uint32_t rowOff = (std::uint32_t(r) * 7919u + frameOffset) & kNoiseMask;
        if (!wide) {
          std::uint8_t* out = raw.data() + std::size_t(r) * W;
          for (int x = 0; x < W; ++x) {
            const int base = (x & 1) ? l1[p[x]] : l0[p[x]];
            const int n = (noise_[(rowOff + std::uint32_t(x)) & kNoiseMask] * ampQ8) >> 18;
            out[x] = std::uint8_t(std::clamp(base + n, 0, 255));
          }
        } else {
          std::uint8_t* out = raw.data() + std::size_t(r) * W * 2;
          for (int x = 0; x < W; ++x) {
            const int base = (x & 1) ? l1[p[x]] : l0[p[x]];
            const int n = (noise_[(rowOff + std::uint32_t(x)) & kNoiseMask] * ampQ8) >> 18;
            const int v = std::clamp(base + n, 0, 4095);
            out[2 * x] = std::uint8_t(v & 0xFF);
            out[2 * x + 1] = std::uint8_t(v >> 8);
          }
        }
      }
    });

    auto put = [&](int x, int r, int v) {
      if (!wide) {
        raw[std::size_t(r) * W + x] = std::uint8_t(std::clamp(v, 0, 255));
      } else {
        v = std::clamp(v, 0, 4095);
        raw[(std::size_t(r) * W + x) * 2] = std::uint8_t(v & 0xFF);
        raw[(std::size_t(r) * W + x) * 2 + 1] = std::uint8_t(v >> 8);
      }
    };

    // The moving disc (not while the lens is covered).
    if (!e.lensCovered) {
      const ToImage t = MakeToImage(model_, mode);
      double cx, cy;
      MovingCentre(layout_, e.frameNumber, &cx, &cy);
      const double icx = t.X(cx), icy = t.Y(cy);
      const double rx = layout_.movingRadius * t.sx, ry = layout_.movingRadius * t.sy;
      const int x0 = std::max(0, int(icx - rx) - 1), x1 = std::min(W - 1, int(icx + rx) + 1);
      const int y0 = std::max(0, int(icy - ry) - 1), y1 = std::min(H - 1, int(icy + ry) + 1);
      const double mono = (kMovingColor.r * 77 + kMovingColor.g * 150 + kMovingColor.b * 29) / 256.0;
      const int vals[3] = {int(kMovingColor.r), int(kMovingColor.g), int(kMovingColor.b)};
      for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
          const double dx = (x + 0.5 - icx) / rx, dy = (y + 0.5 - icy) / ry;
          if (dx * dx + dy * dy > 1.0) continue;
          const int r = H - 1 - y;
          const int c = SiteColor(pattern, x, r);
          put(x, r, lut[c][model_.color ? vals[c] : int(mono)]);
        }
      }
    }

    // Hot pixels.
    for (const CamSdkPoint& d : defects_) {
      int x, y;
      if (!MapSensorPoint(mode, d, &x, &y)) continue;
      put(x, y, int(kHotValue * outScale));
    }
    return true;
  }

 private:
  static constexpr std::uint32_t kNoiseSize = 1u << 16;
  static constexpr std::uint32_t kNoiseMask = kNoiseSize - 1;

  static bool MapSensorPoint(const Mode& mode, const CamSdkPoint& p, int* x, int* y) {
    if (mode.roi) {
      *x = p.x - mode.offsetX;
      *y = p.y - mode.offsetY;
    } else {
      *x = int(std::floor(p.x * mode.scaleX));
      *y = int(std::floor(p.y * mode.scaleY));
    }
    return *x >= 0 && *y >= 0 && *x < mode.width && *y < mode.height;
  }

  // Scene planes per preset; a region of interest is cut from the full-resolution plane.
  std::shared_ptr<const cv::Mat> Plane(const Mode& mode) {
    const int preset = mode.roi ? 0 : mode.preset;
    std::lock_guard<std::mutex> lock(planeMutex_);
    auto it = planes_.find(preset);
    if (it != planes_.end()) return it->second;
    const Mode m = mode.roi ? PresetMode(model_, 0) : mode;
    auto plane = std::make_shared<const cv::Mat>(ScenePlane(model_, m));
    planes_[preset] = plane;
    return plane;
  }

  const ModelInfo& model_;
  const Layout layout_;
  std::vector<std::int16_t> noise_;
  std::vector<CamSdkPoint> defects_;
  std::mutex planeMutex_;
  std::map<int, std::shared_ptr<const cv::Mat>> planes_;
};

class SimBackendImpl final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override {
    std::lock_guard<std::mutex> lock(gPresenceMutex);
    InitPresenceLocked();
    std::vector<const ModelInfo*> out;
    for (int i = 0; i < kModelCount; ++i)
      if (gPresent[i]) out.push_back(&kModels[i]);
    return out;
  }
  std::unique_ptr<Device> Open(const ModelInfo& model) override {
    if (!Present(model)) return nullptr;
    return std::make_unique<SimDevice>(model);
  }
  bool Present(const ModelInfo& model) override {
    const int i = ModelIndex(model);
    if (i < 0 || i >= kModelCount) return false;
    std::lock_guard<std::mutex> lock(gPresenceMutex);
    InitPresenceLocked();
    return gPresent[i];
  }
};

}  // namespace

Backend& SimBackend() {
  static SimBackendImpl backend;
  return backend;
}

const std::vector<const ModelInfo*>& SimModels() {
  static const std::vector<const ModelInfo*> models = [] {
    std::vector<const ModelInfo*> v;
    for (const ModelInfo& m : kModels) v.push_back(&m);
    return v;
  }();
  return models;
}

const ModelInfo* FindSimModel(const std::string& key) {
  for (const ModelInfo& m : kModels)
    if (key == m.key || key == m.deviceName) return &m;
  return nullptr;
}

int SimSetModels(const std::string& keys) {
  std::array<bool, kModelCount> p{};
  if (!ParseKeys(keys, &p)) return CAMSDK_STATUS_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(gPresenceMutex);
  gPresenceInit = true;
  gPresent = p;
  return int(std::count(p.begin(), p.end(), true));
}

bool SimSetPresent(const std::string& key, bool present) {
  const ModelInfo* m = FindSimModel(key);
  if (!m) return false;
  std::lock_guard<std::mutex> lock(gPresenceMutex);
  InitPresenceLocked();
  gPresent[ModelIndex(*m)] = present;
  return true;
}

void SimResetPresence() {
  std::lock_guard<std::mutex> lock(gPresenceMutex);
  gPresenceInit = false;
  InitPresenceLocked();
}

Mode PresetMode(const ModelInfo& model, int preset) {
  Mode m;
  if (preset < 0 || preset >= model.resolutionCount) return m;
  const CamSdkResolution& r = model.resolutions[preset];
  m.width = r.width;
  m.height = r.height;
  m.scaleX = double(r.width) / model.sensorWidth;
  m.scaleY = double(r.height) / model.sensorHeight;
  m.sum = r.sum != 0;
  m.preset = preset;
  return m;
}

Mode RoiMode(const ModelInfo& model, int x, int y, int width, int height) {
  Mode m;
  m.width = width;
  m.height = height;
  m.offsetX = x;
  m.offsetY = y;
  m.roi = true;
  m.preset = model.resolutionCount;
  return m;
}

}  // namespace camsdk
