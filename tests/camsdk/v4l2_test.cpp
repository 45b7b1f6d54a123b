// UVC cameras without a camera: recorded frames in the formats they send (YUYV, MJPEG, GREY)
// into the core's raw layout and through the ISP, and recorded control lists mapped to the
// panel. With a /dev/video* capture device present, the device itself is listed and played.
#include <dirent.h>
#include <linux/videodev2.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/camsdk/core.h"
#include "tests/camsdk/support.h"

namespace {

using camsdk::V4l2Control;

// A test card, top-down BGR: a bright top band, a dark bottom band, colour patches between.
cv::Mat Card(int w, int h) {
  cv::Mat img(h, w, CV_8UC3, cv::Scalar(128, 128, 128));
  img.rowRange(0, h / 4).setTo(cv::Scalar(230, 230, 230));
  img.rowRange(3 * h / 4, h).setTo(cv::Scalar(20, 20, 20));
  img(cv::Rect(0, h / 4, w / 3, h / 2)).setTo(cv::Scalar(40, 40, 200));      // red
  img(cv::Rect(w / 3, h / 4, w / 3, h / 2)).setTo(cv::Scalar(40, 180, 40));  // green
  img(cv::Rect(2 * w / 3, h / 4, w - 2 * w / 3, h / 2)).setTo(cv::Scalar(200, 40, 40));  // blue
  return img;
}

// The card as a UVC camera sends it in YUYV (BT.601, studio range, as OpenCV reads it).
std::vector<std::uint8_t> ToYuyv(const cv::Mat& bgr, std::size_t stride) {
  std::vector<std::uint8_t> out(stride * bgr.rows, 0xEE);
  for (int y = 0; y < bgr.rows; ++y)
    for (int x = 0; x < bgr.cols; x += 2) {
      double yy[2], u = 0, v = 0;
      for (int k = 0; k < 2; ++k) {
        const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x + k);
        const double r = p[2], g = p[1], b = p[0];
        yy[k] = 16 + 0.257 * r + 0.504 * g + 0.098 * b;
        u += (128 - 0.148 * r - 0.291 * g + 0.439 * b) / 2;
        v += (128 + 0.439 * r - 0.368 * g - 0.071 * b) / 2;
      }
      std::uint8_t* d = out.data() + y * stride + x * 2;
      d[0] = cv::saturate_cast<std::uint8_t>(yy[0]);
      d[1] = cv::saturate_cast<std::uint8_t>(u);
      d[2] = cv::saturate_cast<std::uint8_t>(yy[1]);
      d[3] = cv::saturate_cast<std::uint8_t>(v);
    }
  return out;
}

// The raw frame (bottom-up BGR) shown top-down.
cv::Mat Shown(const std::vector<std::uint8_t>& raw, int w, int h) {
  cv::Mat top;
  cv::flip(cv::Mat(h, w, CV_8UC3, const_cast<std::uint8_t*>(raw.data())), top, 0);
  return top;
}

double MaxDiff(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat d;
  cv::absdiff(a, b, d);
  double lo, hi;
  cv::minMaxLoc(d.reshape(1), &lo, &hi);
  return hi;
}

TEST(V4l2Frames, YuyvAndMjpegBecomeProcessedColourRowsBottomUp) {
  const int w = 96, h = 64;
  const cv::Mat card = Card(w, h);
  std::vector<std::uint8_t> raw;

  // YUYV with padded rows (the driver's bytesperline).
  const std::size_t stride = w * 2 + 32;
  const auto yuyv = ToYuyv(card, stride);
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_YUYV, yuyv.data(), yuyv.size(), w, h, stride, raw));
  ASSERT_EQ(raw.size(), std::size_t(w) * h * 3);
  EXPECT_LE(MaxDiff(Shown(raw, w, h), card), 4.0);
  EXPECT_GT(raw[0], 0);                     // row 0 of the raw frame is the image's bottom:
  EXPECT_LT(raw[0], 40);                    // the dark band
  // A frame shorter than its size says is refused, not read past.
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_YUYV, yuyv.data(), yuyv.size() - stride, w, h, stride, raw));

  // MJPEG: each frame a JPEG.
  std::vector<std::uint8_t> jpeg;
  ASSERT_TRUE(cv::imencode(".jpg", card, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95}));
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, jpeg.data(), jpeg.size(), w, h, 0, raw));
  EXPECT_LE(cv::norm(Shown(raw, w, h), card, cv::NORM_L1) / card.total() / 3, 4.0);  // JPEG's loss, at edges
  const cv::Mat shown = Shown(raw, w, h);
  const cv::Vec3b red = shown.at<cv::Vec3b>(h / 2, w / 6);
  EXPECT_GT(red[2], 180);
  EXPECT_LT(red[0], 70);
  // UVC cameras leave the Huffman tables out of their frames (the standard ones are meant).
  std::vector<std::uint8_t> bare;
  for (std::size_t i = 0; i < jpeg.size();) {
    if (jpeg[i] == 0xFF && i + 3 < jpeg.size() && jpeg[i + 1] == 0xC4) {
      i += 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
      continue;
    }
    bare.push_back(jpeg[i++]);
  }
  ASSERT_LT(bare.size(), jpeg.size());
  std::vector<std::uint8_t> fromBare;
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, bare.data(), bare.size(), w, h, 0, fromBare));
  EXPECT_EQ(fromBare, raw);
  // A JPEG of another size than the format's, or a torn one, gives no frame.
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, jpeg.data(), jpeg.size(), w * 2, h, 0, raw));
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, jpeg.data(), 100, w, h, 0, raw));
}

// What a camera's MJPEG stream may carry that is not a JPEG frame of the size set: none of it is
// decoded into a frame, and none of it costs more than its header.
TEST(V4l2Frames, OnlyWholeJpegsOfTheNegotiatedSizeAreDecoded) {
  const int w = 64, h = 48;
  const cv::Mat card = Card(w, h);
  std::vector<std::uint8_t> raw;
  const auto refused = [&](const std::vector<std::uint8_t>& data) {
    raw.clear();
    raw.shrink_to_fit();
    const bool ok = camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, data.data(), data.size(), w, h, 0, raw);
    return !ok && raw.capacity() == 0;  // nothing allocated for it either
  };
  // Other image formats a general image reader would take.
  for (const char* ext : {".png", ".bmp", ".tif", ".ppm", ".hdr"}) {
    SCOPED_TRACE(ext);
    std::vector<std::uint8_t> other;
    ASSERT_TRUE(cv::imencode(ext, ext == std::string(".hdr") ? [&] {
      cv::Mat f;
      card.convertTo(f, CV_32FC3, 1.0 / 255);
      return f;
    }() : card, other));
    EXPECT_TRUE(refused(other));
    EXPECT_FALSE(camsdk::V4l2IsJpeg(other.data(), other.size()));
  }
  // A 146-byte DICOM-like preamble with its magic, and random bytes.
  std::vector<std::uint8_t> dicom(146, 0);
  std::memcpy(dicom.data() + 128, "DICM", 4);
  EXPECT_TRUE(refused(dicom));
  EXPECT_TRUE(refused({0xFF, 0xD8}));

  std::vector<std::uint8_t> jpeg;
  ASSERT_TRUE(cv::imencode(".jpg", card, jpeg));
  ASSERT_TRUE(camsdk::V4l2IsJpeg(jpeg.data(), jpeg.size()));
  // A header that declares a huge picture (its size fields patched): refused before decoding.
  std::vector<std::uint8_t> huge = jpeg;
  for (std::size_t i = 2; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xEA;  // 60138 x 60138
      break;
    }
  EXPECT_TRUE(refused(huge));
  // A progressive JPEG of the right size: its cost grows with its scans, so it is not taken.
  std::vector<std::uint8_t> progressive;
  ASSERT_TRUE(cv::imencode(".jpg", card, progressive, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
  EXPECT_TRUE(refused(progressive));
  // Damaged entropy data in the middle of a frame of the right size.
  std::vector<std::uint8_t> damaged = jpeg;
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 40; ++i) damaged[i] = 0xFF;
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, damaged.data(), damaged.size(), w, h, 0, raw));
  // Padding after the end of the picture, as some cameras send it, is a whole frame.
  std::vector<std::uint8_t> padded = jpeg;
  padded.resize(jpeg.size() + 300, 0);
  EXPECT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, padded.data(), padded.size(), w, h, 0, raw));
}

// A frame as a camera's firmware encodes it: FFmpeg's MJPEG encoder, 4:2:2 full-range YCbCr.
std::vector<std::uint8_t> FfmpegMjpeg(const cv::Mat& bgr) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (!codec) return {};
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = bgr.cols;
  ctx->height = bgr.rows;
  ctx->pix_fmt = AV_PIX_FMT_YUVJ422P;
  ctx->time_base = {1, 30};
  ctx->flags |= AV_CODEC_FLAG_QSCALE;
  ctx->global_quality = FF_QP2LAMBDA * 2;
  std::vector<std::uint8_t> out;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    frame->format = ctx->pix_fmt;
    frame->width = bgr.cols;
    frame->height = bgr.rows;
    av_frame_get_buffer(frame, 0);
    cv::Mat ycrcb;
    cv::cvtColor(bgr, ycrcb, cv::COLOR_BGR2YCrCb);  // full range, as JPEG has it
    for (int y = 0; y < bgr.rows; ++y)
      for (int x = 0; x < bgr.cols; ++x) {
        const cv::Vec3b p = ycrcb.at<cv::Vec3b>(y, x), q = ycrcb.at<cv::Vec3b>(y, x | 1);
        frame->data[0][y * frame->linesize[0] + x] = p[0];
        if (x % 2 == 0) {
          frame->data[1][y * frame->linesize[1] + x / 2] = std::uint8_t((p[2] + q[2] + 1) / 2);  // Cb
          frame->data[2][y * frame->linesize[2] + x / 2] = std::uint8_t((p[1] + q[1] + 1) / 2);  // Cr
        }
      }
    frame->pts = 0;
    if (avcodec_send_frame(ctx, frame) == 0 && avcodec_send_frame(ctx, nullptr) == 0 &&
        avcodec_receive_packet(ctx, packet) == 0)
      out.assign(packet->data, packet->data + packet->size);
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return out;
}

TEST(V4l2Frames, MjpegFromAnotherEncoderDecodes) {
  const int w = 96, h = 64;
  const cv::Mat card = Card(w, h);
  const std::vector<std::uint8_t> mjpeg = FfmpegMjpeg(card);
  ASSERT_FALSE(mjpeg.empty());
  std::vector<std::uint8_t> raw;
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, mjpeg.data(), mjpeg.size(), w, h, 0, raw));
  const cv::Mat shown = Shown(raw, w, h);
  EXPECT_LE(cv::norm(shown, card, cv::NORM_L1) / card.total() / 3, 4.0);
  const cv::Vec3b red = shown.at<cv::Vec3b>(h / 2, w / 6), blue = shown.at<cv::Vec3b>(h / 2, w - w / 6);
  EXPECT_GT(red[2], 180);
  EXPECT_LT(red[0], 70);
  EXPECT_GT(blue[0], 170);
  EXPECT_LT(blue[2], 70);
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_MJPEG, mjpeg.data(), mjpeg.size(), w, h + 16, 0, raw));
}

TEST(V4l2Frames, GreyIsMonoAndUnknownFormatsAreRefused) {
  const int w = 40, h = 30;
  const std::size_t stride = 48;
  std::vector<std::uint8_t> grey(stride * h);
  for (int y = 0; y < h; ++y)
    for (std::size_t x = 0; x < stride; ++x) grey[y * stride + x] = std::uint8_t(x < std::size_t(w) ? y * 8 : 255);
  std::vector<std::uint8_t> raw;
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_GREY, grey.data(), grey.size(), w, h, stride, raw));
  ASSERT_EQ(raw.size(), std::size_t(w) * h);
  EXPECT_EQ(raw[0], (h - 1) * 8);            // bottom row first
  EXPECT_EQ(raw[std::size_t(w) * (h - 1)], 0);
  EXPECT_EQ(*std::max_element(raw.begin(), raw.end()), (h - 1) * 8);  // no padding bytes
  EXPECT_FALSE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_NV12, grey.data(), grey.size(), w, h, stride, raw));
}

TEST(V4l2Frames, ProcessedColourPassesTheIspWithoutDemosaicing) {
  const int w = 64, h = 48;
  const cv::Mat card = Card(w, h);
  const auto yuyv = ToYuyv(card, w * 2);
  std::vector<std::uint8_t> raw;
  ASSERT_TRUE(camsdk::V4l2ToRaw(V4L2_PIX_FMT_YUYV, yuyv.data(), yuyv.size(), w, h, w * 2, raw));

  const CamSdkResolution res[] = {{0, "64x48", w, h, 0, 1}};
  const CamSdkMediaType media[] = {{0, "RGB24", CAMSDK_RAW_BGR8}};
  const camsdk::ModelInfo model{"uvc", "Test UVC", "Test UVC (usb-1)", "usb-1", 200, true, CAMSDK_PATTERN_BGR,
                                w, h, res, 1, media, 1, 1, {100, 100, 100}, 100000, 2, 2, 2, 2, w, h, 0};
  camsdk::Params p = camsdk::FactoryParams(model);
  EXPECT_EQ(p.gainR, 1.0f);  // delivered colour is balanced already
  CamSdkFrameInfo info{};
  info.format = CAMSDK_RAW_BGR8;
  info.width = w;
  info.height = h;
  info.bytes = int(raw.size());
  std::vector<std::uint8_t> out(raw.size());
  ASSERT_TRUE(camsdk::RunIsp(*camsdk::BuildIspTables(model, p), raw.data(), info, out.data()));
  EXPECT_LE(MaxDiff(Shown(out, w, h), Shown(raw, w, h)), 1.0);  // no mosaic pattern, no tint

  // Mirrored, and a red gain: the tables act per colour on whole pixels.
  p.mirrorH = 1;
  p.gainR = 0.5f;
  ASSERT_TRUE(camsdk::RunIsp(*camsdk::BuildIspTables(model, p), raw.data(), info, out.data()));
  const cv::Mat shown = Shown(out, w, h), before = Shown(raw, w, h);
  const cv::Vec3b a = shown.at<cv::Vec3b>(h / 2, w - 1 - w / 6), b = before.at<cv::Vec3b>(h / 2, w / 6);
  EXPECT_NEAR(a[2], b[2] * 0.5, 3);
  EXPECT_NEAR(a[1], b[1], 1);
}

// Controls as a typical UVC webcam lists them (v4l2-ctl -l), and one without gain whose white
// balance temperature is disabled.
std::vector<V4l2Control> WebcamControls() {
  return {{V4L2_CID_BRIGHTNESS, 0, 255, 1, 128, false},
          {V4L2_CID_CONTRAST, 0, 255, 1, 128, false},
          {V4L2_CID_SATURATION, 0, 255, 1, 128, false},
          {V4L2_CID_GAIN, 0, 255, 1, 0, false},
          {V4L2_CID_AUTO_WHITE_BALANCE, 0, 1, 1, 1, false},
          {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2000, 6500, 1, 4000, false},
          {V4L2_CID_SHARPNESS, 0, 255, 1, 128, false},
          {V4L2_CID_EXPOSURE_AUTO, 0, 3, 1, 3, false},
          {V4L2_CID_EXPOSURE_ABSOLUTE, 3, 2047, 1, 250, false}};
}

TEST(V4l2Controls, MappedToThePanelAndMissingOnesOff) {
  const camsdk::V4l2Panel full = camsdk::V4l2MapControls(WebcamControls());
  EXPECT_TRUE(full.exposure && full.autoExposure && full.gain && full.whiteBalance && full.autoWhiteBalance);
  EXPECT_TRUE(full.brightness && full.contrast && full.saturation && full.sharpness);
  EXPECT_FALSE(full.gamma);

  auto lean = WebcamControls();
  lean.erase(std::remove_if(lean.begin(), lean.end(), [](const V4l2Control& c) { return c.id == V4L2_CID_GAIN; }),
             lean.end());
  for (V4l2Control& c : lean)
    if (c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE) c.disabled = true;
  lean.push_back({V4L2_CID_GAMMA, 100, 100, 1, 100, false});  // a range of one value is no control
  const camsdk::V4l2Panel p = camsdk::V4l2MapControls(lean);
  EXPECT_FALSE(p.gain);
  EXPECT_FALSE(p.whiteBalance);
  EXPECT_FALSE(p.gamma);
  EXPECT_TRUE(p.exposure);
}

TEST(V4l2Controls, CamerasWithoutExposureOrGainLackThoseControls) {
  using camsdk::V4l2LackingControls;
  using camsdk::V4l2MapControls;
  const auto without = [](std::vector<V4l2Control> list, std::uint32_t id) {
    list.erase(std::remove_if(list.begin(), list.end(), [id](const V4l2Control& c) { return c.id == id; }), list.end());
    return list;
  };
  EXPECT_EQ(V4l2LackingControls(V4l2MapControls(WebcamControls())), 0u);
  // The ISP serves the image and colour controls, whatever the camera has.
  EXPECT_EQ(V4l2LackingControls(V4l2MapControls({})),
            std::uint32_t(CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE | CAMSDK_CONTROL_ANALOG_GAIN));
  EXPECT_EQ(V4l2LackingControls(V4l2MapControls(without(WebcamControls(), V4L2_CID_GAIN))),
            std::uint32_t(CAMSDK_CONTROL_ANALOG_GAIN));
  // A camera with only its own automatic exposure: the library can neither set nor regulate it.
  EXPECT_EQ(V4l2LackingControls(V4l2MapControls(without(WebcamControls(), V4L2_CID_EXPOSURE_ABSOLUTE))),
            std::uint32_t(CAMSDK_CONTROL_EXPOSURE | CAMSDK_CONTROL_AUTO_EXPOSURE));
  auto inactive = WebcamControls();
  for (V4l2Control& c : inactive)
    if (c.id == V4L2_CID_EXPOSURE_ABSOLUTE) c.disabled = true;
  EXPECT_NE(V4l2LackingControls(V4l2MapControls(inactive)) & CAMSDK_CONTROL_EXPOSURE, 0u);
  EXPECT_EQ(V4l2LackingControls(V4l2MapControls(inactive)) & CAMSDK_CONTROL_ANALOG_GAIN, 0u);
}

TEST(V4l2Controls, PanelValuesLandInTheControlRangeOnItsSteps) {
  const V4l2Control gain{V4L2_CID_GAIN, 0, 255, 1, 0, false};
  EXPECT_EQ(camsdk::V4l2ControlValue(gain, 1.0, 1.0, 1.0, 16.0), 0);    // no gain: the default
  EXPECT_EQ(camsdk::V4l2ControlValue(gain, 16.0, 1.0, 1.0, 16.0), 255);
  EXPECT_EQ(camsdk::V4l2ControlValue(gain, 99.0, 1.0, 1.0, 16.0), 255);  // clamped
  EXPECT_EQ(camsdk::V4l2ControlValue(gain, 8.5, 1.0, 1.0, 16.0), 128);
  // A contrast with its neutral in the middle and steps of 4: below and above the neutral.
  const V4l2Control contrast{V4L2_CID_CONTRAST, 0, 64, 4, 32, false};
  EXPECT_EQ(camsdk::V4l2ControlValue(contrast, 100, 0, 100, 200), 32);
  EXPECT_EQ(camsdk::V4l2ControlValue(contrast, 0, 0, 100, 200), 0);
  EXPECT_EQ(camsdk::V4l2ControlValue(contrast, 150, 0, 100, 200), 48);
  EXPECT_EQ(camsdk::V4l2ControlValue(contrast, 110, 0, 100, 200) % 4, 0);
}

bool CaptureDevicePresent() {
  DIR* d = opendir("/dev");
  if (!d) return false;
  bool any = false;
  while (dirent* e = readdir(d)) any = any || std::strncmp(e->d_name, "video", 5) == 0;
  closedir(d);
  return any;
}

class V4l2Device : public camtest::CamTest {};

// Both backends name a second camera of a model apart from the first.
TEST(DeviceNames, ACameraLikeOneListedGetsTheFirstFreeNumber) {
  std::vector<std::string> listed;
  const auto taken = [&](const std::string& name) {
    return std::find(listed.begin(), listed.end(), name) != listed.end();
  };
  EXPECT_EQ(camsdk::UniqueDeviceName("Cam (usb-1)", taken), "Cam (usb-1)");
  listed = {"Cam (usb-1)", "Cam (usb-1) #2", "Cam (usb-1) #4"};
  EXPECT_EQ(camsdk::UniqueDeviceName("Cam (usb-1)", taken), "Cam (usb-1) #3");
  EXPECT_EQ(camsdk::UniqueDeviceName("Cam (usb-1) #2", taken), "Cam (usb-1) #2 #2");
  EXPECT_EQ(camsdk::UniqueDeviceName("Cam", taken), "Cam");
}

TEST_F(V4l2Device, ARealCameraIsListedAndPlays) {
  if (!CaptureDevicePresent()) GTEST_SKIP() << "no /dev/video* capture device on this machine";
  const auto models = camsdk::V4l2Backend().List();
  if (models.empty()) GTEST_SKIP() << "no /dev/video* device captures GREY, YUYV or MJPEG";
  CamSdkTestSetModels("");
  CamSdkTestSetSynchronous(false);
  std::vector<CamSdkDeviceInfo> list(CAMSDK_MAX_DEVICES);
  int count = 0;
  ASSERT_EQ(CameraGetDevList(list.data(), &count), CAMSDK_STATUS_OK);
  bool listed = false;
  for (int i = 0; i < count; ++i) listed = listed || std::strcmp(list[i].deviceName, models[0]->deviceName) == 0;
  EXPECT_TRUE(listed);
  int h = 0;
  ASSERT_EQ(CameraInit(camtest::StoreFrame, models[0]->deviceName, nullptr, &h), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
  std::vector<unsigned char> buffer(std::size_t(models[0]->sensorWidth) * models[0]->sensorHeight * 3);
  CamSdkFrameInfo info{};
  EXPECT_EQ(CameraGetImageData(h, buffer.data(), models[0]->mediaTypes[0].format, &info, buffer.size()),
            CAMSDK_STATUS_OK);
  EXPECT_EQ(info.width, models[0]->resolutions[0].width);
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
}

}  // namespace
