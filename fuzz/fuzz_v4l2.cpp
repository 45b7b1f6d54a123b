// The UVC frame converters: whatever a camera (or whatever holds the camera) puts in a buffer is
// either refused or becomes exactly one frame of the size set; MJPEG data that is not a JPEG is
// refused without being decoded.
//
// Input: mode (1 byte), width and height (2 bytes each, little-endian, 1..1024), row length in
// bytes (2 bytes), then the buffer. Mode bits 0-1 choose the format (GREY, YUYV, MJPEG, or an
// unknown one); bit 2 takes the size from the JPEG's own header, so that frames get decoded
// whole rather than refused for their size.
#include <linux/videodev2.h>

#include <cstdint>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "platform/camsdk/backends.h"

namespace {

// The size a JPEG's first frame header declares (0 x 0 when none is found before the scan).
void JpegSize(const std::uint8_t* d, std::size_t n, int* width, int* height) {
  *width = *height = 0;
  std::size_t i = 2;
  while (i + 4 <= n && d[i] == 0xFF) {
    const std::uint8_t marker = d[i + 1];
    const std::size_t length = std::size_t(d[i + 2]) << 8 | d[i + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (i + 9 <= n) {
        *height = d[i + 5] << 8 | d[i + 6];
        *width = d[i + 7] << 8 | d[i + 8];
      }
      return;
    }
    if (marker == 0xDA || length < 2) return;
    i += 2 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return 0;
  const int mode = data[0];
  int width = 1 + (data[1] | data[2] << 8) % 1024;
  int height = 1 + (data[3] | data[4] << 8) % 1024;
  const std::size_t stride = data[5] | data[6] << 8;
  const std::uint8_t* frame = data + 7;
  const std::size_t bytes = size - 7;
  static const std::uint32_t kFormats[] = {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG,
                                           V4L2_PIX_FMT_NV12};
  const std::uint32_t fourcc = kFormats[mode & 3];
  const bool jpeg = fourcc == V4L2_PIX_FMT_MJPEG;
  if (jpeg && (mode & 4)) {
    JpegSize(frame, bytes, &width, &height);
    if (width <= 0 || height <= 0 || width > 1024 || height > 1024) return 0;
  }

  std::vector<std::uint8_t> raw;
  const bool ok = camsdk::V4l2ToRaw(fourcc, frame, bytes, width, height, stride, raw);
  if (!ok) {
    // Refused MJPEG data that is not a JPEG costs nothing: no frame was made for it.
    if (jpeg && !camsdk::V4l2IsJpeg(frame, bytes)) FUZZ_CHECK(raw.capacity() == 0);
    return 0;
  }
  const std::size_t channels = fourcc == V4L2_PIX_FMT_GREY ? 1 : 3;
  FUZZ_CHECK(raw.size() == std::size_t(width) * height * channels);
  if (jpeg) {
    FUZZ_CHECK(camsdk::V4l2IsJpeg(frame, bytes));
  } else {
    // Every row the frame needs lies in the buffer.
    const std::size_t row = std::size_t(width) * (fourcc == V4L2_PIX_FMT_YUYV ? 2 : 1);
    FUZZ_CHECK(stride >= row && bytes >= stride * std::size_t(height - 1) + row);
  }
  FUZZ_CHECK(fourcc != V4L2_PIX_FMT_NV12);
  return 0;
}
