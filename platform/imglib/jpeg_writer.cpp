#include "platform/imglib/jpeg_writer.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <opencv2/core.hpp>

namespace imglib {

namespace {

// Colour is sampled 4:2:0, so an MCU row is 16 pixel rows.
constexpr int kMcuRows = 16;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1); }
void Quiet(j_common_ptr) {}

// One band as a whole JPEG (its own header, a restart after every MCU row) in a buffer that
// libjpeg allocated; the caller frees it. Nothing with a destructor lives in this frame: the
// library's errors come back by longjmp.
bool EncodeBand(const JpegSource& s, int y0, int rows, int quality, unsigned char** buf, unsigned long* size) {
  jpeg_compress_struct c;
  ErrorManager err;
  c.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = Quiet;
  *buf = nullptr;
  *size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    std::free(*buf);
    *buf = nullptr;
    return false;
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, buf, size);
  c.image_width = JDIMENSION(s.width);
  c.image_height = JDIMENSION(rows);
  c.input_components = s.layout == JpegPixels::Bgr ? 3 : 4;
  c.in_color_space = s.layout == JpegPixels::Bgr ? JCS_EXT_BGR : JCS_EXT_BGRX;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  c.restart_in_rows = 1;
  jpeg_start_compress(&c, TRUE);
  JSAMPROW lines[kMcuRows];
  while (c.next_scanline < c.image_height) {
    const int n = std::min(kMcuRows, rows - int(c.next_scanline));
    for (int i = 0; i < n; ++i)
      lines[i] = const_cast<JSAMPROW>(s.pixels + std::size_t(y0 + int(c.next_scanline) + i) * s.stride);
    jpeg_write_scanlines(&c, lines, JDIMENSION(n));
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return true;
}

struct Band {
  unsigned char* data = nullptr;
  unsigned long size = 0;
  int firstMcuRow = 0;
  bool ok = false;
  ~Band() { std::free(data); }
};

// Where the entropy-coded data start (after the SOS segment), and where the frame header's
// height is; false for a stream this writer did not make.
bool Locate(const unsigned char* d, std::size_t n, std::size_t* scan, std::size_t* heightAt) {
  if (n < 4 || d[0] != 0xFF || d[1] != 0xD8 || d[n - 2] != 0xFF || d[n - 1] != 0xD9) return false;
  *heightAt = 0;
  for (std::size_t pos = 2; pos + 4 <= n;) {
    if (d[pos] != 0xFF) return false;
    const unsigned marker = d[pos + 1];
    const std::size_t len = (std::size_t(d[pos + 2]) << 8) | d[pos + 3];
    if (marker >= 0xC0 && marker <= 0xC2) *heightAt = pos + 5;
    if (marker == 0xDA) {
      *scan = pos + 2 + len;
      return *heightAt != 0 && *scan <= n - 2;
    }
    pos += 2 + len;
  }
  return false;
}

// Appends a band's entropy-coded data with its restart markers numbered from `first`.
void AppendRenumbered(const unsigned char* d, std::size_t begin, std::size_t end, int first,
                      std::string* out) {
  int next = first;
  std::size_t from = begin;
  for (const unsigned char* p = d + begin; p < d + end;) {
    const void* hit = std::memchr(p, 0xFF, std::size_t(d + end - p));
    if (!hit) break;
    const unsigned char* ff = static_cast<const unsigned char*>(hit);
    if (ff + 1 < d + end && ff[1] >= 0xD0 && ff[1] <= 0xD7) {
      const std::size_t at = std::size_t(ff - d);
      out->append(reinterpret_cast<const char*>(d + from), at + 1 - from);
      out->push_back(char(0xD0 + (next++ & 7)));
      from = at + 2;
    }
    p = ff + 2;  // a stuffed 0xFF00 or a marker: two bytes either way
  }
  out->append(reinterpret_cast<const char*>(d + from), std::size_t(end - from));
}

}  // namespace

bool EncodeJpeg(const JpegSource& src, int quality, std::string* out, int bands) {
  const std::size_t pixelBytes = src.layout == JpegPixels::Bgr ? 3 : 4;
  if (!out || !src.pixels || src.width <= 0 || src.height <= 0 || src.width > 65500 || src.height > 65500 ||
      src.stride < std::size_t(src.width) * pixelBytes)
    return false;
  quality = std::clamp(quality, 1, 100);
  const int mcuRows = (src.height + kMcuRows - 1) / kMcuRows;
  if (bands <= 0) {
    // Two bands a core evens out pictures whose halves differ in detail; small ones stay whole.
    const bool small = std::size_t(src.width) * std::size_t(src.height) < (std::size_t(1) << 20);
    bands = small ? 1 : 2 * std::max(1, cv::getNumThreads());
  }
  bands = std::clamp(bands, 1, mcuRows);

  std::vector<Band> parts(static_cast<std::size_t>(bands));
  for (int k = 0; k < bands; ++k) parts[std::size_t(k)].firstMcuRow = int(std::int64_t(k) * mcuRows / bands);
  auto encode = [&](int k) {
    Band& b = parts[std::size_t(k)];
    const int y0 = b.firstMcuRow * kMcuRows;
    const int y1 = k + 1 < bands ? parts[std::size_t(k) + 1].firstMcuRow * kMcuRows : src.height;
    b.ok = EncodeBand(src, y0, y1 - y0, quality, &b.data, &b.size);
  };
  if (bands == 1) {
    encode(0);
  } else {
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& r) {
      for (int k = r.start; k < r.end; ++k) encode(k);
    });
  }
  for (const Band& b : parts)
    if (!b.ok) return false;

  out->clear();
  if (bands == 1) {
    out->assign(reinterpret_cast<const char*>(parts[0].data), parts[0].size);
    return true;
  }
  std::size_t total = 0;
  for (const Band& b : parts) total += b.size;
  out->reserve(total + 2 * std::size_t(bands));
  for (int k = 0; k < bands; ++k) {
    const Band& b = parts[std::size_t(k)];
    std::size_t scan = 0, heightAt = 0;
    if (!Locate(b.data, b.size, &scan, &heightAt)) return false;
    if (k == 0) {
      // The first band's headers, with the whole picture's height.
      out->append(reinterpret_cast<const char*>(b.data), scan);
      (*out)[heightAt] = char(src.height >> 8);
      (*out)[heightAt + 1] = char(src.height & 0xFF);
    } else {
      // The restart that ends the previous band's last MCU row.
      out->push_back(char(0xFF));
      out->push_back(char(0xD0 + ((b.firstMcuRow - 1) & 7)));
    }
    AppendRenumbered(b.data, scan, b.size - 2, b.firstMcuRow, out);
  }
  out->push_back(char(0xFF));
  out->push_back(char(0xD9));
  return true;
}

}  // namespace imglib
