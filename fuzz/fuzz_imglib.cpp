// The image library's sizes and parameters. Each input picks a function, descriptors (small
// real images, or sizes that must be refused: non-positive, overflowing, beyond the limit) and
// parameters over their whole range. Buffers are exactly as large as the descriptors say, so a
// read or write past them is caught; results must stay in their documented ranges.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "fuzz/fuzz_util.h"
#include "platform/imglib/imglib.h"

namespace {

constexpr std::int64_t kMaxAlloc = 1 << 20;  // larger valid sizes would only slow the search

int Dimension(FuzzedDataProvider& in) {
  static constexpr int kEdges[] = {0, -1, -7, INT_MIN, INT_MAX, 1 << 16, 1 << 20, 46341, 65537};
  if (in.ConsumeIntegralInRange(0, 7) == 0) return in.PickValueInArray(kEdges);
  return in.ConsumeIntegralInRange(1, 40);
}

// Pixels from the input, repeated to fill the buffer.
void Fill(FuzzedDataProvider& in, std::vector<unsigned char>& buf) {
  const std::vector<unsigned char> src = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 256));
  for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = src.empty() ? static_cast<unsigned char>(i * 37) : src[i % src.size()];
}

// An image with its own buffer; `valid` when the library must accept the descriptor.
struct Image {
  std::vector<unsigned char> buf;
  KvImgImage d;
  bool valid = false;
  bool usable = true;  // false: a valid size too large to allocate here
};

Image MakeImage(FuzzedDataProvider& in, int width, int height, int channels) {
  Image im;
  im.d.width = width;
  im.d.height = height;
  im.d.channels = channels;
  const bool supported = channels == 1 || channels == 3 || channels == 4;
  const bool positive = width > 0 && height > 0;
  const __int128 bytes = positive && supported ? __int128(width) * height * channels : 0;  // 4 x (2^31)^2 is beyond 64 bits
  im.valid = positive && supported && bytes <= KVIMG_MAX_BYTES;
  if (im.valid && bytes > kMaxAlloc) im.usable = false;
  im.buf.resize(im.valid && im.usable ? std::size_t(bytes) : 16);  // refused ones: a token buffer
  Fill(in, im.buf);
  im.d.data = im.buf.data();
  return im;
}

int Channels(FuzzedDataProvider& in) {
  static constexpr int kAll[] = {1, 3, 4, 1, 3, 4, 0, 2, 5, -3};
  return in.PickValueInArray(kAll);
}

int AnyInt(FuzzedDataProvider& in, int lo, int hi) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange(lo, hi) : in.ConsumeIntegral<int>();
}

float AnyFloat(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? float(in.ConsumeIntegralInRange(-10, 300)) : in.ConsumeFloatingPoint<float>();
}

void Raw(FuzzedDataProvider& in, int op) {
  KvImgRaw raw;
  raw.width = Dimension(in);
  raw.height = Dimension(in);
  raw.bits = in.ConsumeIntegralInRange(6, 17);
  raw.format = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 5) : in.ConsumeIntegral<int>();
  const int sample = raw.bits > 8 ? 2 : 1;
  const bool positive = raw.width > 0 && raw.height > 0;
  const __int128 bytes = positive ? __int128(raw.width) * raw.height * sample : 0;
  const bool valid = positive && raw.bits >= 8 && raw.bits <= 16 && bytes <= KVIMG_MAX_BYTES;
  if (valid && bytes > kMaxAlloc) return;
  std::vector<unsigned char> buf(valid ? std::size_t(bytes) : 16);
  Fill(in, buf);
  raw.data = buf.data();
  int r = KVIMG_OK;
  switch (op) {
    case 0: {
      int grey = -1;
      r = KvImgGetRawGray(raw, &grey);
      if (r == KVIMG_OK) FUZZ_CHECK(grey >= 0 && grey <= 255);
      break;
    }
    case 1: {
      const int current = AnyInt(in, 0, 256), target = AnyInt(in, -1, 256);
      r = KvImgAdjustBrightness(raw, current, target);
      if (raw.bits > 8 && raw.bits < 16 && r == KVIMG_OK)
        for (std::size_t i = 0; i + 1 < buf.size(); i += 2) FUZZ_CHECK((buf[i] | buf[i + 1] << 8) < (1 << raw.bits));
      break;
    }
    default: {
      KvImgRegion region{AnyInt(in, -50, 50), AnyInt(in, -50, 50), AnyInt(in, -50, 50), AnyInt(in, -50, 50)};
      int l1 = -1, l2 = -1, l3 = -1;
      r = KvImgOnceBlackLevel(raw, region, &l1, &l2, &l3);
      if (r == KVIMG_OK && !(l1 >= 0 && l1 <= 255 && l2 >= 0 && l2 <= 255 && l3 >= 0 && l3 <= 255)) {
        std::fprintf(stderr, "black levels %d %d %d of a %d-bit frame\n", l1, l2, l3, raw.bits);
        FUZZ_CHECK(!"black levels in 8-bit units");
      }
      break;
    }
  }
  if (!valid) FUZZ_CHECK(r != KVIMG_OK);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::setNumThreads(0);  // one thread: libFuzzer's workers are the parallelism
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int op = in.ConsumeIntegralInRange(0, 18);
  if (op < 3) {
    Raw(in, op);
    return 0;
  }

  const int width = Dimension(in), height = Dimension(in);
  Image src = MakeImage(in, width, height, Channels(in));
  if (!src.usable) return 0;
  // The destination: the source itself, or another buffer, usually of the same size.
  const bool inPlace = in.ConsumeBool();
  const bool sameSize = in.ConsumeIntegralInRange(0, 7) != 0;
  Image dst = inPlace ? Image{} : MakeImage(in, sameSize ? width : Dimension(in), sameSize ? height : Dimension(in), Channels(in));
  if (!inPlace && !dst.usable) return 0;
  const KvImgImage out = inPlace ? src.d : dst.d;
  const bool pairValid = src.valid && (inPlace || (dst.valid && dst.d.width == width && dst.d.height == height));

  int r = KVIMG_OK;
  switch (op) {
    case 3: r = KvImgRGB2GRAY(src.d, out); break;
    case 4: r = KvImgThreshold(src.d, out, AnyInt(in, -1, 256)); break;
    case 5: r = KvImgBrightness(src.d, out, AnyInt(in, -256, 256)); break;
    case 6: r = KvImgGrayStretch(src.d, out, AnyFloat(in), AnyFloat(in), AnyFloat(in), AnyFloat(in)); break;
    case 7: r = KvImgGrayEqualize(src.d, out); break;
    case 8: r = KvImgAdaptiveThreshold(src.d, out); break;
    case 9: r = KvImgGuassFilter(src.d, out); break;
    case 10: r = KvImgEdgeEnhance(src.d, out, AnyInt(in, -1, 11)); break;
    case 11: r = KvImgDilate(src.d, out, AnyInt(in, -1, 100)); break;
    case 12: r = KvImgErode(src.d, out, AnyInt(in, -1, 100)); break;
    case 13: {
      Image next = MakeImage(in, sameSize ? width : Dimension(in), sameSize ? height : Dimension(in), Channels(in));
      if (!next.usable) return 0;
      r = KvImgFusion(src.d, next.d, out, 1);
      if (!next.valid || next.d.width != width || next.d.height != height) FUZZ_CHECK(r != KVIMG_OK);
      break;
    }
    case 14: {
      float length = -1;
      r = KvImgFindScaleline(src.d.data, width, height, src.d.channels, &length);
      if (r == KVIMG_OK) FUZZ_CHECK(std::isfinite(length) && length >= 0);
      if (!src.valid) FUZZ_CHECK(r != KVIMG_OK);
      return 0;
    }
    case 15: {
      // No application object here: refused, whatever the descriptor.
      r = KvImgShowImage(src.d.data, width, height, src.d.channels, "fuzz", in.ConsumeIntegral<int>());
      FUZZ_CHECK(r != KVIMG_OK);
      return 0;
    }
    case 16: {
      // Two or three small tiles into a result whose preset size is its capacity.
      std::vector<Image> tiles;
      std::vector<KvImgImage> d{src.d};
      const int count = in.ConsumeIntegralInRange(1, 3);
      for (int i = 1; i < count; ++i) {
        tiles.push_back(MakeImage(in, Dimension(in), Dimension(in), Channels(in)));
        if (!tiles.back().usable) return 0;
      }
      for (const Image& t : tiles) d.push_back(t.d);
      Image result = MakeImage(in, in.ConsumeIntegralInRange(1, 120), in.ConsumeIntegralInRange(1, 120), 3);
      KvImgImage res = result.d;
      r = KvImgMosaic(d.data(), int(d.size()), &res, in.ConsumeIntegralInRange(0, 1));
      if (r == KVIMG_OK) FUZZ_CHECK(std::int64_t(res.width) * res.height * 3 <= std::int64_t(result.buf.size()));
      else FUZZ_CHECK(res.width == result.d.width && res.height == result.d.height);
      return 0;
    }
    default:
      r = KvImgDilate(src.d, out, 1);  // the smallest square: a copy
      break;
  }
  if (!pairValid) FUZZ_CHECK(r != KVIMG_OK);
  return 0;
}
