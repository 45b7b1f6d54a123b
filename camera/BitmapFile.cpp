#include "camera/BitmapFile.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/durable_file.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"

namespace {

constexpr std::int64_t kHeadersSize = 54;  // file header 14 + info header 40

std::uint16_t GetU16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t GetU32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
void PutU16(unsigned char* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void PutU32(unsigned char* p, std::uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

// Opens and validates; on Ok the file is open and *layout filled.
BitmapStatus OpenBitmap(const QString& path, QFile& file, BitmapLayout* layout) {
  file.setFileName(path);
  if (!file.open(QIODevice::ReadOnly)) return BitmapStatus::OpenFailed;
  unsigned char h[kHeadersSize];
  const qint64 got = file.read(reinterpret_cast<char*>(h), kHeadersSize);
  if (got < 2 || h[0] != 'B' || h[1] != 'M') return BitmapStatus::NotBitmap;
  if (got < kHeadersSize) return BitmapStatus::NotBitmap;

  const std::int64_t offset = GetU32(h + 10);
  const std::uint32_t infoSize = GetU32(h + 14);
  const std::int64_t width = std::int32_t(GetU32(h + 18));
  const std::int64_t rawHeight = std::int32_t(GetU32(h + 22));
  const std::uint16_t planes = GetU16(h + 26);
  const std::uint16_t bits = GetU16(h + 28);
  const std::uint32_t compression = GetU32(h + 30);

  // 40 is the classic header; the later versions only add fields behind it.
  if (infoSize < 40 || infoSize > 1024 || planes != 1) return BitmapStatus::BadHeader;
  if (bits != 24 || compression != 0) return BitmapStatus::Unsupported;
  const std::int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0) return BitmapStatus::BadHeader;
  // Each side is bounded first, so that the product cannot overflow.
  if (width > kMaxBitmapSide || height > kMaxBitmapSide || width * height * 3 > MaxBitmapBytes())
    return BitmapStatus::TooLarge;
  if (offset < 14 + std::int64_t(infoSize)) return BitmapStatus::BadHeader;
  const std::int64_t stride = BitmapStride(width);
  if (offset + stride * height > file.size()) return BitmapStatus::Truncated;

  layout->width = int(width);
  layout->height = int(height);
  layout->topDown = rawHeight < 0;
  layout->pixelOffset = offset;
  layout->stride = stride;
  return BitmapStatus::Ok;
}

// Reads exactly n bytes.
bool ReadExact(QFile& file, void* to, std::int64_t n) {
  auto* p = static_cast<char*>(to);
  while (n > 0) {
    const qint64 got = file.read(p, n);
    if (got <= 0) return false;
    p += got;
    n -= got;
  }
  return true;
}

}  // namespace

std::int64_t MaxBitmapBytes() { return std::min<std::int64_t>(KVIMG_MAX_BYTES, kMaxBitmapPixels * 3); }

BitmapStatus ProbeBitmapFile(const QString& path, BitmapLayout* layout) {
  QFile file;
  BitmapLayout l;
  const BitmapStatus s = OpenBitmap(path, file, &l);
  if (s == BitmapStatus::Ok && layout) *layout = l;
  return s;
}

// The pixels of an opened, validated file into `pixels` (3 x width x height bytes).
static BitmapStatus ReadPixels(QFile& file, const BitmapLayout& l, std::uint8_t* pixels) {
  if (!file.seek(l.pixelOffset)) return BitmapStatus::Truncated;
  const std::int64_t row = std::int64_t(l.width) * 3;
  if (row == l.stride && !l.topDown) {
    // Already the frame buffer's layout: one read.
    if (!ReadExact(file, pixels, row * l.height)) return BitmapStatus::Truncated;
    return BitmapStatus::Ok;
  }
  // Blocks of rows through a scratch buffer, dropping the padding and turning top-down files.
  const std::int64_t rowsPerBlock = std::max<std::int64_t>(1, (std::int64_t(4) << 20) / l.stride);
  std::vector<std::uint8_t> block(std::size_t(std::min<std::int64_t>(rowsPerBlock, l.height) * l.stride));
  for (std::int64_t r0 = 0; r0 < l.height; r0 += rowsPerBlock) {
    const std::int64_t n = std::min<std::int64_t>(rowsPerBlock, l.height - r0);
    if (!ReadExact(file, block.data(), n * l.stride)) return BitmapStatus::Truncated;
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t fileRow = r0 + i;
      const std::int64_t dstRow = l.topDown ? l.height - 1 - fileRow : fileRow;
      std::memcpy(pixels + dstRow * row, block.data() + i * l.stride, std::size_t(row));
    }
  }
  return BitmapStatus::Ok;
}

BitmapStatus ReadBitmapFile(const QString& path, BitmapImage* out) {
  QFile file;
  BitmapLayout l;
  if (const BitmapStatus s = OpenBitmap(path, file, &l); s != BitmapStatus::Ok) return s;
  std::vector<std::uint8_t> pixels;
  try {
    pixels.resize(std::size_t(std::int64_t(l.width) * 3 * l.height));
  } catch (const std::exception&) {  // bad_alloc, or a length the library refuses
    return BitmapStatus::OutOfMemory;
  }
  if (const BitmapStatus s = ReadPixels(file, l, pixels.data()); s != BitmapStatus::Ok) return s;
  out->format = MakeFrameFormat(l.width, l.height);
  out->pixels = std::move(pixels);
  return BitmapStatus::Ok;
}

BitmapStatus ReadBitmapFileInto(const QString& path, const std::function<std::uint8_t*(const BITMAPINFOHEADER&)>& target) {
  QFile file;
  BitmapLayout l;
  if (const BitmapStatus s = OpenBitmap(path, file, &l); s != BitmapStatus::Ok) return s;
  std::uint8_t* pixels = target(MakeFrameFormat(l.width, l.height));
  if (!pixels) return BitmapStatus::OutOfMemory;
  return ReadPixels(file, l, pixels);
}

BitmapStatus ReadBitmapThumbnail(const QString& path, int width, int height, QImage* out) {
  if (width <= 0 || height <= 0) return BitmapStatus::BadHeader;
  QFile file;
  BitmapLayout l;
  if (const BitmapStatus s = OpenBitmap(path, file, &l); s != BitmapStatus::Ok) return s;
  QImage thumb(width, height, QImage::Format_RGB32);
  if (thumb.isNull()) return BitmapStatus::OutOfMemory;

  // Each thumbnail pixel averages up to 4 x 2 samples spread over its source cell, so only two
  // file rows per thumbnail row are read.
  const int xs = std::clamp(l.width / width, 1, 4);
  const int ys = l.height >= 2 * height ? 2 : 1;
  std::vector<int> cols(std::size_t(width) * xs);
  for (int x = 0; x < width; ++x)
    for (int k = 0; k < xs; ++k)
      cols[std::size_t(x) * xs + k] =
          int(std::min<std::int64_t>(l.width - 1, (std::int64_t(2 * x * xs + 2 * k + 1) * l.width) / (2 * width * xs)));
  std::vector<std::uint8_t> line(std::size_t(l.stride));
  std::vector<int> sum(std::size_t(width) * 3);
  for (int y = 0; y < height; ++y) {
    std::fill(sum.begin(), sum.end(), 0);
    for (int k = 0; k < ys; ++k) {
      // Picture row from the top, then the file row that holds it.
      const std::int64_t top = std::min<std::int64_t>(
          l.height - 1, (std::int64_t(2 * y * ys + 2 * k + 1) * l.height) / (std::int64_t(2) * height * ys));
      const std::int64_t fileRow = l.topDown ? top : l.height - 1 - top;
      if (!file.seek(l.pixelOffset + fileRow * l.stride) || !ReadExact(file, line.data(), l.stride))
        return BitmapStatus::Truncated;
      for (int x = 0; x < width; ++x)
        for (int s = 0; s < xs; ++s) {
          const std::uint8_t* p = line.data() + std::size_t(cols[std::size_t(x) * xs + s]) * 3;
          int* acc = sum.data() + std::size_t(x) * 3;
          acc[0] += p[0];
          acc[1] += p[1];
          acc[2] += p[2];
        }
    }
    const int n = xs * ys;
    auto* dst = reinterpret_cast<QRgb*>(thumb.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int* acc = sum.data() + std::size_t(x) * 3;
      dst[x] = qRgb((acc[2] + n / 2) / n, (acc[1] + n / 2) / n, (acc[0] + n / 2) / n);
    }
  }
  *out = std::move(thumb);
  return BitmapStatus::Ok;
}

namespace {

// File row r (bottom-up) into dst: 3 x width bytes; the padding behind them stays zero.
using RowFill = std::function<void(std::int64_t r, std::uint8_t* dst)>;

// Writes the headers of `info`, made a 24-bit uncompressed one, and the rows `fill` gives. `whole`,
// when not null, holds every row unpadded: a width whose rows need no padding writes it at once.
BitmapStatus WriteRows(const QString& path, BITMAPINFOHEADER info, const std::uint8_t* whole, const RowFill& fill) {
  const int width = info.biWidth, height = info.biHeight;
  if (width <= 0 || height <= 0 || std::int64_t(width) * height * 3 > KVIMG_MAX_BYTES) return BitmapStatus::BadHeader;
  const std::int64_t row = std::int64_t(width) * 3;
  const std::int64_t stride = BitmapStride(width);
  const std::int64_t fileSize = kHeadersSize + stride * height;
  if (fileSize > 0xFFFFFFFFLL) return BitmapStatus::TooLarge;

  info.biSize = 40;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = 0;
  unsigned char h[kHeadersSize] = {};
  h[0] = 'B';
  h[1] = 'M';
  PutU32(h + 2, std::uint32_t(fileSize));
  PutU32(h + 10, std::uint32_t(kHeadersSize));
  unsigned char* i = h + 14;
  PutU32(i + 0, info.biSize);
  PutU32(i + 4, std::uint32_t(info.biWidth));
  PutU32(i + 8, std::uint32_t(info.biHeight));
  PutU16(i + 12, info.biPlanes);
  PutU16(i + 14, info.biBitCount);
  PutU32(i + 16, info.biCompression);
  PutU32(i + 20, info.biSizeImage);
  PutU32(i + 24, std::uint32_t(info.biXPelsPerMeter));
  PutU32(i + 28, std::uint32_t(info.biYPelsPerMeter));
  PutU32(i + 32, info.biClrUsed);
  PutU32(i + 36, info.biClrImportant);

  // Every write, the sync and the close are checked before the file replaces an old one.
  DurableFile file(std::filesystem::path(path.toStdU16String()));
  if (!file.Open()) return BitmapStatus::WriteFailed;
  bool ok = file.Write(h, kHeadersSize);
  if (ok && whole && row == stride) {
    ok = file.Write(whole, std::size_t(row * height));
  } else if (ok) {
    // Padded rows gathered into blocks, so that a large image is a few big writes.
    const std::int64_t rowsPerBlock = std::max<std::int64_t>(1, (std::int64_t(4) << 20) / stride);
    std::vector<std::uint8_t> block(std::size_t(std::min<std::int64_t>(rowsPerBlock, height) * stride), 0);
    for (std::int64_t r0 = 0; ok && r0 < height; r0 += rowsPerBlock) {
      const std::int64_t n = std::min<std::int64_t>(rowsPerBlock, height - r0);
      for (std::int64_t k = 0; k < n; ++k) fill(r0 + k, block.data() + k * stride);
      ok = file.Write(block.data(), std::size_t(n * stride));
    }
  }
  if (!ok) {
    file.Cancel();
    return BitmapStatus::WriteFailed;
  }
  return file.Commit() ? BitmapStatus::Ok : BitmapStatus::WriteFailed;
}

}  // namespace

BitmapStatus WriteBitmapFile(const QString& path, const std::uint8_t* pixels, int width, int height) {
  if (!pixels) return BitmapStatus::BadHeader;
  const std::size_t row = std::size_t(std::max(width, 0)) * 3;
  return WriteRows(path, MakeFrameFormat(width, height), pixels,
                   [&](std::int64_t r, std::uint8_t* dst) { std::memcpy(dst, pixels + std::size_t(r) * row, row); });
}

BitmapStatus WriteBitmapFile(const QString& path, const QImage& picture, BITMAPINFOHEADER info) {
  if (picture.isNull()) return BitmapStatus::BadHeader;
  const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
  const int w = rgb.width(), h = rgb.height();
  info.biWidth = w;
  info.biHeight = h;
  return WriteRows(path, info, nullptr, [&](std::int64_t r, std::uint8_t* dst) {
    const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(h - 1 - int(r)));
    for (int x = 0; x < w; ++x, dst += 3) {
      dst[0] = std::uint8_t(qBlue(src[x]));
      dst[1] = std::uint8_t(qGreen(src[x]));
      dst[2] = std::uint8_t(qRed(src[x]));
    }
  });
}

WString BitmapStatusText(BitmapStatus status, const QString& path) {
  std::uint32_t id = 61400;
  switch (status) {
    case BitmapStatus::Ok: return {};
    case BitmapStatus::OpenFailed: id = 61400; break;
    case BitmapStatus::NotBitmap: id = 61401; break;
    case BitmapStatus::BadHeader: id = 61402; break;
    case BitmapStatus::Unsupported: id = 61403; break;
    case BitmapStatus::TooLarge: id = 61404; break;
    case BitmapStatus::Truncated: id = 61405; break;
    case BitmapStatus::OutOfMemory: id = 61406; break;
    case BitmapStatus::WriteFailed: id = 61407; break;
  }
  return FormatW(LoadStringW(id), path.toStdU16String());
}
