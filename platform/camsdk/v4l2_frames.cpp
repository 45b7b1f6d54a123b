// A UVC camera's frames into the core's raw layout. The payload comes from the device (or from
// whatever holds the device), so nothing in it is trusted: every length is checked against the
// negotiated size before a byte is read, and an MJPEG frame goes only to the JPEG decoder, and
// only when its header declares the negotiated size.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types.
#include <jerror.h>
#include <linux/videodev2.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/backends.h"

namespace camsdk {

namespace {

// True when `height` rows of `rowBytes` each, `stride` apart, lie within `bytes` (no overflow).
bool RowsFit(std::size_t bytes, std::size_t stride, std::size_t rowBytes, int height) {
  if (rowBytes == 0 || stride < rowBytes || bytes < rowBytes) return false;
  return std::size_t(height - 1) <= (bytes - rowBytes) / stride;
}

struct JpegErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErrors*>(c->err)->jump, 1); }

// A warning means damaged or missing data: the frame is not whole, so decoding stops there.
// Only padding between markers, which some cameras send, is let through.
void JpegMessage(j_common_ptr c, int level) {
  if (level < 0 && c->err->msg_code != JWRN_EXTRANEOUS_DATA) JpegFail(c);
}

void JpegQuiet(j_common_ptr) {}

// Decodes a sequential JPEG of exactly width x height into bottom-up BGR. The header is read
// before anything is allocated, so a frame that declares another size costs only its header;
// progressive frames (whose cost grows with their scan count, not their size) are refused. Nothing
// with a destructor lives in this frame: the decoder's errors come back by longjmp.
bool DecodeJpeg(const std::uint8_t* data, std::size_t bytes, int width, int height, std::vector<std::uint8_t>& raw) {
  jpeg_decompress_struct d;
  JpegErrors err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegFail;
  err.pub.emit_message = JpegMessage;
  err.pub.output_message = JpegQuiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, data, static_cast<unsigned long>(bytes));
  if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK || d.image_width != JDIMENSION(width) ||
      d.image_height != JDIMENSION(height) || d.progressive_mode || (d.num_components != 1 && d.num_components != 3)) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  d.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d);
  if (d.output_width != JDIMENSION(width) || d.output_height != JDIMENSION(height) || d.output_components != 3) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  raw.resize(std::size_t(width) * height * 3);
  const std::size_t rowBytes = std::size_t(width) * 3;
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = raw.data() + (std::size_t(height) - 1 - d.output_scanline) * rowBytes;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);  // up to the end marker: a frame cut short warns here
  jpeg_destroy_decompress(&d);
  return true;
}

}  // namespace

bool V4l2IsJpeg(const std::uint8_t* data, std::size_t bytes) {
  // Start of image, then the first marker of a segment.
  return data && bytes >= 4 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool V4l2ToRaw(std::uint32_t fourcc, const std::uint8_t* data, std::size_t bytes, int width, int height,
               std::size_t stride, std::vector<std::uint8_t>& raw) {
  if (!data || width <= 0 || height <= 0) return false;
  if (fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG)
    return V4l2IsJpeg(data, bytes) && DecodeJpeg(data, bytes, width, height, raw);
  cv::Mat top;  // top-down, as the camera sends it
  if (fourcc == V4L2_PIX_FMT_GREY) {
    if (!RowsFit(bytes, stride, std::size_t(width), height)) return false;
    top = cv::Mat(height, width, CV_8UC1, const_cast<std::uint8_t*>(data), stride);
  } else if (fourcc == V4L2_PIX_FMT_YUYV) {
    if (width % 2 || !RowsFit(bytes, stride, std::size_t(width) * 2, height)) return false;
    cv::cvtColor(cv::Mat(height, width, CV_8UC2, const_cast<std::uint8_t*>(data), stride), top,
                 cv::COLOR_YUV2BGR_YUYV);
  } else {
    return false;
  }
  const int channels = top.channels();
  raw.resize(std::size_t(width) * height * channels);
  cv::Mat bottomUp(height, width, channels == 1 ? CV_8UC1 : CV_8UC3, raw.data());
  cv::flip(top, bottomUp, 0);
  return true;
}

}  // namespace camsdk
