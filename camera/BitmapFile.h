#pragma once
// 24-bit bitmap files: the one reader and writer of the camera's capture, the view (open, save),
// the reports, the stitching dialog and the image list.
//
// The reader checks the whole file before it hands anything out: "BM", the header size, one
// plane, 24 bits, no compression, a size that fits the frame buffer (computed in 64 bits), a
// pixel offset behind the headers and a file long enough for every row. A refused file leaves
// the caller's image as it was. Pixels come out in the frame buffer's layout: bottom-up BGR rows
// of exactly 3 x width bytes; top-down files (negative height) are turned the right way up.
//
// The writer pads rows to 4 bytes with zeros and writes through a temporary file that is renamed into
// place only when complete, so a failed save never leaves a partial file or harms an old one.
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "camera/CameraTypes.h"
#include "platform/text.h"

enum class BitmapStatus {
  Ok,
  OpenFailed,   // missing or unreadable
  NotBitmap,    // no "BM" signature, or shorter than the two headers
  BadHeader,    // header size, planes, dimensions or pixel offset make no sense
  Unsupported,  // a real bitmap, but not uncompressed 24-bit
  TooLarge,     // more pixels than the frame buffer takes
  Truncated,    // the file ends before its last pixel row
  OutOfMemory,
  WriteFailed,
};

// Largest image accepted: what the view can show (its zoom works up to 32767 pixels a side) and
// what a still image may cost in memory (the frame buffer, plus the picture drawn with the
// measurements at full size: about 7 bytes a pixel, 700 MB at the limit).
inline constexpr std::int64_t kMaxBitmapSide = 32767;
inline constexpr std::int64_t kMaxBitmapPixels = 100'000'000;
// Largest pixel block accepted (width x height x 3 bytes).
std::int64_t MaxBitmapBytes();

// Where the pixels of a valid file lie.
struct BitmapLayout {
  int width = 0;
  int height = 0;  // always positive
  bool topDown = false;
  std::int64_t pixelOffset = 0;
  std::int64_t stride = 0;  // bytes per file row: 3 x width rounded up to 4
};

struct BitmapImage {
  BITMAPINFOHEADER format;           // {40, width, height, 1, 24, rest 0}
  std::vector<std::uint8_t> pixels;  // bottom-up BGR rows of 3 x width bytes
  int Width() const { return format.biWidth; }
  int Height() const { return format.biHeight; }
};

// Bytes of one file row of a 24-bit bitmap of that width.
constexpr std::int64_t BitmapStride(std::int64_t width) { return (width * 3 + 3) & ~std::int64_t(3); }

// Validates the headers (and that the file holds every row) without reading pixels.
BitmapStatus ProbeBitmapFile(const QString& path, BitmapLayout* layout);

// Reads a whole image. *out is replaced only on success.
BitmapStatus ReadBitmapFile(const QString& path, BitmapImage* out);
// Reads a whole image straight into the buffer `target` hands out for its format (3 x width x
// height bytes; null refuses). `target` is called only once the whole file is found valid, so a
// refused file never reaches it; only a read error of a file that changes meanwhile leaves the
// buffer part-filled.
BitmapStatus ReadBitmapFileInto(const QString& path,
                                const std::function<std::uint8_t*(const BITMAPINFOHEADER&)>& target);

// A width x height picture of the file (RGB32, top row first), sampled from only the rows it
// needs, for thumbnails of large files. *out is replaced only on success.
BitmapStatus ReadBitmapThumbnail(const QString& path, int width, int height, QImage* out);

// Writes bottom-up BGR rows of 3 x width bytes as a 24-bit bitmap.
BitmapStatus WriteBitmapFile(const QString& path, const std::uint8_t* pixels, int width, int height);
inline BitmapStatus WriteBitmapFile(const QString& path, const BitmapImage& image) {
  return WriteBitmapFile(path, image.pixels.data(), image.Width(), image.Height());
}
// Writes a picture (RGB32, top row first) as a 24-bit bitmap, converting row by row rather than
// through a copy of the whole picture. The info header is `info` made a 24-bit uncompressed one of
// the picture's size; its other fields (image size, resolution, colour counts) are written as
// given, so a frame's format keeps them.
BitmapStatus WriteBitmapFile(const QString& path, const QImage& picture, BITMAPINFOHEADER info = {});

// The message for a failed read or write of `path`, in the running language.
WString BitmapStatusText(BitmapStatus status, const QString& path);
