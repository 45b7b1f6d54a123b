#pragma once
// JPEG encoding of large pictures on all cores. The picture is cut into bands of whole MCU rows,
// each band is encoded on its own with a restart marker after every MCU row, and the bands'
// entropy-coded data are joined under one header with the restart markers renumbered. The file is
// byte for byte what one single-threaded encode with a restart every MCU row gives, so any
// decoder reads it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace imglib {

enum class JpegPixels {
  Bgr,   // 3 bytes a pixel, blue first
  Bgrx,  // 4 bytes a pixel, blue first, the fourth ignored (QImage's RGB32 in memory)
};

struct JpegSource {
  const std::uint8_t* pixels = nullptr;  // top row first
  int width = 0;
  int height = 0;
  std::size_t stride = 0;  // bytes from one row to the next
  JpegPixels layout = JpegPixels::Bgr;
};

// Encodes at `quality` (1..100, 4:2:0 colour) into `out` (the file's bytes). `bands` 0 chooses from the cores; 1
// encodes in one piece on the calling thread. False for a bad source or when the encoder fails.
bool EncodeJpeg(const JpegSource& src, int quality, std::string* out, int bands = 0);

}  // namespace imglib
