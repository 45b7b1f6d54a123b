// Files, video, parameter teams, dead-pixel correction, sizes, and the library's refusals of bad
// handles and arguments; the test hooks themselves.
#include <cerrno>
#include <clocale>
#include <fstream>
#include <iterator>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "platform/camsdk/camsdk_testing.h"
#include "platform/durable_file.h"
#include "tests/camsdk/support.h"
#include "tests/camsdk_ok.h"
#include "tests/fs_faults.h"

namespace camtest {
namespace {

class Files : public CamTest {};

TEST_F(Files, CaptureWritesEachRequestedType) {
  const int h = Open("color", 2);  // 641 x 480: rows not a multiple of 4 bytes
  ASSERT_EQ(CameraSetImageSizeSel(h, 2, CAMSDK_SIZE_CAPTURE), CAMSDK_STATUS_OK);
  Frame(h);
  const std::string base = (dir_ / "Capture0000").string();
  ASSERT_EQ(CameraCaptureFile(h, base.c_str(), CAMSDK_FILE_JPG | CAMSDK_FILE_BMP | CAMSDK_FILE_RAW | CAMSDK_FILE_PNG, 255),
            CAMSDK_STATUS_OK);
  const cv::Mat bmp = cv::imread(base + ".bmp"), png = cv::imread(base + ".png"), jpg = cv::imread(base + ".jpg");
  ASSERT_FALSE(bmp.empty());
  EXPECT_EQ(bmp.cols, 641);
  EXPECT_EQ(bmp.rows, 480);
  EXPECT_EQ(cv::norm(bmp, png, cv::NORM_INF), 0);
  EXPECT_LT(cv::norm(bmp, jpg, cv::NORM_L1) / bmp.total(), 6.0);
  {
    std::lock_guard<std::mutex> lock(Last().mu);  // the latest frame, as delivered
    EXPECT_LT(cv::norm(bmp, Last().shown, cv::NORM_L1) / bmp.total(), 1e-9);
  }
  EXPECT_EQ(std::filesystem::file_size(base + ".raw"), 641u * 480u);
  EXPECT_EQ(std::filesystem::file_size(base + ".bmp"), 54u + 1924u * 480u);

  // JPEG quality, a capture size other than the stream's, bad arguments.
  CAMSDK_OK(CameraCaptureFile(h, (base + "q20").c_str(), CAMSDK_FILE_JPG, 20));
  CAMSDK_OK(CameraCaptureFile(h, (base + "q95").c_str(), CAMSDK_FILE_JPG, 95));
  EXPECT_LT(std::filesystem::file_size(base + "q20.jpg"), std::filesystem::file_size(base + "q95.jpg"));
  ASSERT_EQ(CameraSetImageSizeSel(h, 0, CAMSDK_SIZE_CAPTURE), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraCaptureFile(h, (base + "full").c_str(), CAMSDK_FILE_PNG, 90), CAMSDK_STATUS_OK);
  EXPECT_EQ(cv::imread(base + "full.png").cols, 2592);
  EXPECT_EQ(CameraCaptureFile(h, (dir_ / "missing" / "x").c_str(), CAMSDK_FILE_BMP, 90), CAMSDK_STATUS_FILE_ERROR);
  EXPECT_EQ(CameraCaptureFile(h, base.c_str(), 16, 90), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraCaptureFile(h, nullptr, CAMSDK_FILE_BMP, 90), CAMSDK_STATUS_INVALID_PARAMETER);
}

// The raw file of a capture lies as its bitmap does: row 0 the top of the picture, columns in the
// picture's order, with the camera's flips or without. Compared in grey, halved (the colour
// mosaic averaged away): the raw file matches the bitmap and not its mirror images.
TEST_F(Files, TheRawFileLiesAsTheBitmapOfTheSameCapture) {
  const int h = Open("color", 2);
  ASSERT_EQ(CameraSetImageSizeSel(h, 2, CAMSDK_SIZE_CAPTURE), CAMSDK_STATUS_OK);
  auto correlation = [](const cv::Mat& a, const cv::Mat& b) {
    cv::Mat r;
    cv::matchTemplate(a, b, r, cv::TM_CCOEFF_NORMED);
    return double(r.at<float>(0, 0));
  };
  for (const auto& [horizontal, vertical] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
    ASSERT_EQ(CameraSetMirror(h, CAMSDK_MIRROR_HORIZONTAL, horizontal), CAMSDK_STATUS_OK);
    ASSERT_EQ(CameraSetMirror(h, CAMSDK_MIRROR_VERTICAL, vertical), CAMSDK_STATUS_OK);
    Frame(h);
    const std::string base = (dir_ / ("Mirror" + std::to_string(horizontal) + std::to_string(vertical))).string();
    ASSERT_EQ(CameraCaptureFile(h, base.c_str(), CAMSDK_FILE_BMP | CAMSDK_FILE_RAW, 255), CAMSDK_STATUS_OK);
    const cv::Mat bmp = cv::imread(base + ".bmp", cv::IMREAD_GRAYSCALE);
    std::ifstream in(base + ".raw", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), std::size_t(bmp.total()));
    const cv::Mat raw(bmp.rows, bmp.cols, CV_8U, bytes.data());
    cv::Mat rawHalf, bmpHalf, upside, sideways;
    cv::resize(raw, rawHalf, {}, 0.5, 0.5, cv::INTER_AREA);
    cv::resize(bmp, bmpHalf, rawHalf.size(), 0, 0, cv::INTER_AREA);
    cv::flip(rawHalf, upside, 0);
    cv::flip(rawHalf, sideways, 1);
    const double same = correlation(rawHalf, bmpHalf);
    EXPECT_GT(same, 0.8) << horizontal << vertical;
    EXPECT_LT(correlation(upside, bmpHalf), same - 0.2) << horizontal << vertical;
    EXPECT_LT(correlation(sideways, bmpHalf), same - 0.2) << horizontal << vertical;
  }
}

int RecordingCallback(int handle, unsigned char* raw, CamSdkFrameInfo* info) {
  unsigned char* bgr = CameraISP(handle, raw, info);
  if (bgr) (void)CameraRecordFrame(handle, bgr, info);  // asserted: the test counts the file's frames
  return 1;
}

TEST_F(Files, VideoRecordsTheFramesHandedOver) {
  const int h = Open("color", 2, RecordingCallback);
  unsigned char pixel[3] = {0, 0, 0};
  CamSdkFrameInfo info{};
  info.width = info.height = 1;
  EXPECT_EQ(CameraRecordFrame(h, pixel, &info), CAMSDK_STATUS_NOT_RECORDING);
  ASSERT_EQ(CameraSetRecordEncoder(h, CAMSDK_CODEC_MJPEG), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraSetRecordAVIQuality(h, 2), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraSetRecordEncoder(h, 7), CAMSDK_STATUS_INVALID_PARAMETER);
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 12), 12);
  EXPECT_EQ(CameraRecordFrame(h, pixel, &info), CAMSDK_STATUS_INVALID_PARAMETER);  // other size
  ASSERT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_NOT_RECORDING);

  char name[512];
  ASSERT_EQ(CamSdkGetRecordFileName(h, name, sizeof name), CAMSDK_STATUS_OK);
  EXPECT_EQ(std::filesystem::path(name).extension(), ".avi");
  EXPECT_EQ(std::filesystem::path(name).parent_path(), dir_);
  cv::VideoCapture video(name, cv::CAP_OPENCV_MJPEG);
  ASSERT_TRUE(video.isOpened());
  int frames = 0;
  cv::Mat f;
  while (video.read(f)) {
    EXPECT_EQ(f.cols, 641);
    EXPECT_EQ(f.rows, 480);
    ++frames;
  }
  EXPECT_EQ(frames, 12);
  // A second recording gets its own file.
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  CamSdkTestDeliverFrames(h, 2);
  CAMSDK_OK(CameraStopRecordVideo(h));
  char second[512];
  CAMSDK_OK(CamSdkGetRecordFileName(h, second, sizeof second));
  EXPECT_NE(std::string(second), std::string(name));
  EXPECT_EQ(CameraStartRecordVideo(h, (dir_ / "nowhere" / "Video").c_str()), CAMSDK_STATUS_FILE_ERROR);
}

TEST_F(Files, ParameterTeamsPersistInTheLibrarysFile) {
  int h = Open("color", 1);
  int team = -1;
  ASSERT_EQ(CameraGetCurrentParameterTeam(h, &team), CAMSDK_STATUS_OK);
  EXPECT_EQ(team, 0);
  CAMSDK_OK(CameraSetGamma(h, 150));
  CAMSDK_OK(CameraSetGain(h, 1.5f, 1.0f, 2.0f));
  CAMSDK_OK(CameraSetExposureTime(h, 123456));
  CAMSDK_OK(CameraSetImageSizeSel(h, 2, CAMSDK_SIZE_PREVIEW));
  ASSERT_EQ(CameraSaveParameter(h, 2), CAMSDK_STATUS_OK);
  std::uint64_t saved = 0, mx, mn;
  CAMSDK_OK(CameraGetExposureTime(h, &saved, &mx, &mn));
  CAMSDK_OK(CameraSetGamma(h, 80));
  ASSERT_EQ(CameraReadParameter(h, 2), CAMSDK_STATUS_OK);
  int gamma = 0;
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 150);
  ASSERT_EQ(CameraReadParameter(h, 3), CAMSDK_STATUS_OK);  // never saved: factory values
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 100);
  ASSERT_EQ(CameraReadParameter(h, 2), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraSaveParameter(h, 4), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSaveParameter(h, 255), CAMSDK_STATUS_INVALID_PARAMETER);
  CAMSDK_OK(CameraUnInit(h));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "camsdk-params.ini"));

  // A new run starts with the saved team.
  ASSERT_EQ(CameraInit(StoreFrame, DeviceName("color"), nullptr, &h), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetCurrentParameterTeam(h, &team));
  EXPECT_EQ(team, 2);
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 150);
  float r = 0, g = 0, b = 0;
  CAMSDK_OK(CameraGetGain(h, &r, &g, &b));
  EXPECT_FLOAT_EQ(r, 1.5f);
  EXPECT_FLOAT_EQ(b, 2.0f);
  std::uint64_t e = 0;
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
  EXPECT_EQ(e, saved);
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(h, &sel, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(sel, 2);
  ASSERT_EQ(CameraLoadDefaultParameter(h), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 100);

  // A damaged file is read as far as it makes sense; nothing crashes, values stay in range.
  {
    std::ofstream out(dir_ / "camsdk-params.ini", std::ios::trunc);
    out << "[Q7V-UC500C 0001]\ncurrent=9\nteam1.saved=1\nteam1.gamma=99999\nteam1.exposureLines=x\ndefects=1,2;junk;-5,3\n";
  }
  CAMSDK_OK(CameraUnInit(h));
  ASSERT_EQ(CameraInit(StoreFrame, DeviceName("color"), nullptr, &h), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetCurrentParameterTeam(h, &team));
  EXPECT_EQ(team, 0);
  CAMSDK_OK(CameraReadParameter(h, 1));
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 250);
}

TEST_F(Files, DeadPixelInfoFromADarkFrameRemovesTheSeededPixels) {
  const int h = Open("color", 1);
  CAMSDK_OK(CameraSetExposureTime(h, 100000));
  CamSdkPoint seeded[16];
  int n = 0;
  ASSERT_EQ(CamSdkTestGetSeededDefects(h, seeded, 16, &n), CAMSDK_STATUS_OK);
  ASSERT_GE(n, 5);
  auto contrast = [&](const CamSdkPoint& p) {  // against the same-colour neighbours
    std::lock_guard<std::mutex> lock(Last().mu);
    const cv::Mat raw(Last().info.height, Last().info.width, CV_8U, Last().raw.data());
    const double around = (raw.at<uchar>(p.y, p.x - 2) + raw.at<uchar>(p.y, p.x + 2) + raw.at<uchar>(p.y - 2, p.x) +
                           raw.at<uchar>(p.y + 2, p.x)) / 4.0;
    return raw.at<uchar>(p.y, p.x) - around;
  };
  Frame(h);
  for (int i = 0; i < n; ++i) EXPECT_GT(contrast(seeded[i]), 40) << i;

  CamSdkTestSetLensCovered(h, 1);
  CAMSDK_OK(CameraStop(h));
  ASSERT_EQ(CameraCreateDefectCorrectionInfo(h), CAMSDK_STATUS_OK);
  CamSdkTestSetLensCovered(h, 0);
  CAMSDK_OK(CameraPlay(h));
  ASSERT_EQ(CameraSetDeadPixelCorrectionState(h, 1), CAMSDK_STATUS_OK);
  Frame(h);
  for (int i = 0; i < n; ++i) EXPECT_LT(std::abs(contrast(seeded[i])), 15) << i;

  // Also at another resolution and after a restart (the info is kept with the settings).
  CAMSDK_OK(CameraSetImageSizeSel(h, 0, CAMSDK_SIZE_PREVIEW));
  CamSdkTestGetSeededDefects(h, seeded, 16, &n);
  Frame(h);
  for (int i = 0; i < n; ++i) EXPECT_LT(std::abs(contrast(seeded[i])), 15) << i;
  CAMSDK_OK(CameraSaveParameter(h, 0));
  CAMSDK_OK(CameraUnInit(h));
  int h2 = 0;
  ASSERT_EQ(CameraInit(StoreFrame, DeviceName("color"), nullptr, &h2), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraPlay(h2));
  Frame(h2);
  for (int i = 0; i < n; ++i) EXPECT_LT(std::abs(contrast(seeded[i])), 15) << i;
}

TEST_F(Files, SizesRegionsOfInterestAndFrameBounds) {
  const int h = Open("aligned", 2);
  CamSdkImageSizeArea area{};
  int x = -1, y = -1, w = 0, hh = 0;
  ASSERT_EQ(CameraGetImageSize(h, &area, &x, &y, &w, &hh, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(area.roi, 0);
  EXPECT_EQ(w, 1368);
  EXPECT_EQ(hh, 912);
  // Only steps of 16: the callers' retry with coarser rounding succeeds.
  EXPECT_EQ(CameraSetImageSize(h, 1, 100, 52, 644, 478, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetImageSize(h, 1, 96, 48, 640, 472, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_INVALID_PARAMETER);
  ASSERT_EQ(CameraSetImageSize(h, 1, 96, 48, 640, 464, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraSetImageSize(h, 1, 5472 - 320, 0, 640, 464, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_INVALID_PARAMETER);
  ASSERT_EQ(CameraGetImageSize(h, &area, &x, &y, &w, &hh, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(area.roi, 1);
  EXPECT_EQ(x, 96);
  EXPECT_EQ(y, 48);
  EXPECT_EQ(w, 640);
  int sel = -1;
  CAMSDK_OK(CameraGetImageSizeSel(h, &sel, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(sel, 3);  // the preset count stands for the region of interest
  Frame(h);
  {
    std::lock_guard<std::mutex> lock(Last().mu);
    EXPECT_EQ(Last().info.width, 640);
    EXPECT_EQ(Last().info.height, 464);
    EXPECT_EQ(Last().info.offsetX, 96);
  }
  const CamSdkSceneGeometry g = Scene(h);
  EXPECT_NEAR(g.rulerPitch, 36.0, 0.01);  // full-resolution pitch in a region of interest

  // Raw frames are never copied past the buffer.
  int format = 0;
  CAMSDK_OK(CameraGetMediaType(h, &format));
  std::vector<unsigned char> buf(640 * 464 + 16, 0xAB);
  CamSdkFrameInfo info{};
  EXPECT_EQ(CameraGetImageData(h, buf.data(), format, &info, 640 * 464 - 1), CAMSDK_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(buf[0], 0xAB);
  ASSERT_EQ(CameraGetImageData(h, buf.data(), format, &info), CAMSDK_STATUS_OK);  // sized as last reported
  EXPECT_EQ(buf[640 * 464], 0xAB);
  // A wider media type into a one-byte-per-pixel buffer arrives as 8 bits.
  CAMSDK_OK(CameraSetMediaTypeSel(h, 1));
  CAMSDK_OK(CameraGetMediaType(h, &format));
  ASSERT_EQ(CameraGetImageData(h, buf.data(), format, &info, 640 * 464), CAMSDK_STATUS_OK);
  EXPECT_EQ(CamSdkRawBits(info.format), 8);
  EXPECT_EQ(buf[640 * 464], 0xAB);
  // After a switch to a larger size without a new size query, the old size still bounds it.
  ASSERT_EQ(CameraSetImageSizeSel(h, 1, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraGetImageData(h, buf.data(), format, &info), CAMSDK_STATUS_BUFFER_TOO_SMALL);

  int colorHandle = Open("color", 0);
  EXPECT_EQ(CameraSetImageSize(colorHandle, 1, 100, 50, 640, 478, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraSetImageSize(colorHandle, 1, 101, 50, 640, 478, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetImageSize(colorHandle, 0, 0, 0, 0, 0, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetImageSize(colorHandle, nullptr, &x, &y, &w, &hh, CAMSDK_SIZE_PREVIEW));
  EXPECT_EQ(w, 2592);
  EXPECT_EQ(CameraSetImageSizeSel(colorHandle, 3, CAMSDK_SIZE_PREVIEW), CAMSDK_STATUS_INVALID_PARAMETER);
}

TEST_F(Files, BadHandlesArgumentsAndUnpluggedCameras) {
  int h = 0;
  float gain = 0;
  std::uint64_t a, b, c;
  for (int bad : {0, -1, 12345}) {
    EXPECT_EQ(CameraPlay(bad), CAMSDK_STATUS_INVALID_HANDLE);
    EXPECT_EQ(CameraGetAnalogGain(bad, &gain), CAMSDK_STATUS_INVALID_HANDLE);
    EXPECT_EQ(CameraUnInit(bad), CAMSDK_STATUS_INVALID_HANDLE);
    EXPECT_EQ(CameraISP(bad, reinterpret_cast<const unsigned char*>("x"), nullptr), nullptr);
  }
  h = Open("color", 2);
  EXPECT_EQ(CameraGetExposureTime(h, &a, nullptr, &c), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetGamma(h, 5), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetAnalogGain(h, NAN), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetBlackLevel(h, 300, 0, 0, 4095), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetBlackLevel(h, 20, 20, 20, 10), CAMSDK_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(CameraSetBlackLevel(h, 20, 20, 20, 1024), CAMSDK_STATUS_OK);
  // The ISP refuses frame information that does not match its data.
  std::vector<unsigned char> raw(641 * 480);
  CamSdkFrameInfo info{CAMSDK_RAW_GRBG8, 641 * 480, 480, 641, 0, 0, 0, 1, 0, 0, {}};
  EXPECT_NE(CameraISP(h, raw.data(), &info), nullptr);
  info.bytes = 100;
  EXPECT_EQ(CameraISP(h, raw.data(), &info), nullptr);
  info.bytes = 641 * 480;
  info.format = 0x77;
  EXPECT_EQ(CameraISP(h, raw.data(), &info), nullptr);
  std::vector<unsigned char> small(10);
  info.format = CAMSDK_RAW_GRBG8;
  EXPECT_EQ(CamSdkISPInto(h, raw.data(), &info, small.data(), small.size()), CAMSDK_STATUS_BUFFER_TOO_SMALL);

  // Opening: unknown names, twice, and the list.
  EXPECT_EQ(CameraInit(StoreFrame, "no such camera", nullptr, &h), CAMSDK_STATUS_NO_DEVICE);
  int other = 0;
  EXPECT_EQ(CameraInit(StoreFrame, DeviceName("color"), nullptr, &other), CAMSDK_STATUS_BUSY);
  CamSdkDeviceInfo list[3];
  int count = 0;
  ASSERT_EQ(CameraGetDevList(list, &count, 3), CAMSDK_STATUS_OK);
  EXPECT_EQ(count, 3);  // never more than the list holds
  EXPECT_STREQ(list[0].deviceName, DeviceName("color"));
  EXPECT_STREQ(reinterpret_cast<const char*>(&list[1]) + 196, DeviceName("mono"));

  // Unplugged while open: calls fail cleanly, closing works; detection follows the models.
  ASSERT_EQ(CamSdkTestDetach("color"), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraGetAnalogGain(h, &gain), CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_DEVICE_LOST);
  CAMSDK_OK(CameraGetDevList(list, &count, 3));
  EXPECT_STRNE(list[0].deviceName, DeviceName("color"));
  EXPECT_EQ(CameraUnInit(h), CAMSDK_STATUS_OK);
  EXPECT_EQ(CameraGetAnalogGain(h, &gain), CAMSDK_STATUS_INVALID_HANDLE);
  EXPECT_EQ(CamSdkTestSetModels("mono"), 1);
  EXPECT_EQ(CamSdkTestSetModels("mono,bogus"), CAMSDK_STATUS_INVALID_PARAMETER);
  ASSERT_EQ(CameraGetDevList(list, &count, 3), CAMSDK_STATUS_OK);
  EXPECT_EQ(count, 1);
  CamSdkTestAttach("color");
  CAMSDK_OK(CameraGetDevList(list, &count, 3));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(CamSdkTestSetModels(""), 0);
  CAMSDK_OK(CameraGetDevList(list, &count, 3));
  EXPECT_EQ(count, 0);
  (void)b;
}

TEST_F(Files, CallLogFailureInjectionAndSynchronousDelivery) {
  CamSdkTestSetCallLog(true);
  const int h = Open("mono", 1);
  CAMSDK_OK(CameraSetGamma(h, 45));
  const std::vector<std::string> log = CamSdkTestTakeCallLog();
  const std::string expected = "CameraSetGamma(" + std::to_string(h) + ", 45) = 1";
  EXPECT_NE(std::find(log.begin(), log.end(), expected), log.end());
  EXPECT_EQ(log.front().rfind("CameraInit(&, \"Q7V-UM130 0002\", null, &) = 1", 0), 0u) << log.front();
  EXPECT_TRUE(CamSdkTestTakeCallLog().empty());

  CamSdkTestInjectFailure("CameraPlay", CAMSDK_STATUS_TIMEOUT, 1);
  EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_TIMEOUT);
  EXPECT_EQ(CameraPlay(h), CAMSDK_STATUS_OK);
  CamSdkTestInjectFailure("CameraISP", CAMSDK_STATUS_FAILED);
  Last().count = 0;
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
  {
    std::lock_guard<std::mutex> lock(Last().mu);
    EXPECT_EQ(Last().count, 2);  // the callback ran; its conversion failed as asked
  }
  CamSdkTestClearFailures();
  CamSdkTestInjectFailure("CameraSetGamma", CAMSDK_STATUS_DEVICE_LOST);
  EXPECT_EQ(CameraSetGamma(h, 60), CAMSDK_STATUS_DEVICE_LOST);
  int gamma = 0;
  CAMSDK_OK(CameraGetGamma(h, &gamma));
  EXPECT_EQ(gamma, 45);  // an injected failure changes nothing
  CamSdkTestClearFailures();

  // Frames flow only while playing.
  CAMSDK_OK(CameraPause(h));
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 0);
  CAMSDK_OK(CameraPlay(h));
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 3);
  CAMSDK_OK(CameraStop(h));
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 3), 0);
  // The moving disc moves from frame to frame.
  CAMSDK_OK(CameraPlay(h));
  const cv::Mat a = Frame(h), b = Frame(h, 5);
  const CamSdkSceneGeometry g = Scene(h);
  const cv::Rect track(int(g.movingTrack.x), int(g.movingTrack.y), int(g.movingTrack.width), int(g.movingTrack.height));
  EXPECT_GT(cv::norm(a(track), b(track), cv::NORM_L1) / track.area(), 1.0);
}

// The process locale follows the environment in the application; a decimal comma must not
// reach the file, and a file written that way by an earlier version still reads back.
TEST_F(Files, ParameterTeamsKeepTheirDecimalsUnderADecimalCommaLocale) {
  struct LocaleGuard {
    std::string old = std::setlocale(LC_ALL, nullptr);
    ~LocaleGuard() { std::setlocale(LC_ALL, old.c_str()); }
  } guard;
  ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "de_DE.utf8"))
      << "no de_DE locale: scripts/deps.sh generates it";
  int h = Open("color", 1);
  ASSERT_EQ(CameraSetGain(h, 1.5f, 1.0f, 1.6f), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraSetAnalogGain(h, 2.375f), CAMSDK_STATUS_OK);
  const float matrix[9] = {1.25f, -0.125f, 0, 0, 0.875f, 0.5f, 0, 0, 1};
  ASSERT_EQ(CameraApplyColorMatrix(h, matrix), CAMSDK_STATUS_OK);
  ASSERT_EQ(CameraSaveParameter(h, 1), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraUnInit(h));
  std::ifstream in(dir_ / "camsdk-params.ini");
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("team1.gainB=1.60000002\n"), std::string::npos) << text;
  EXPECT_NE(text.find("team1.matrix1=-0.125\n"), std::string::npos) << text;

  auto expectSaved = [&] {
    ASSERT_EQ(CameraInit(StoreFrame, DeviceName("color"), nullptr, &h), CAMSDK_STATUS_OK);
    ASSERT_EQ(CameraReadParameter(h, 1), CAMSDK_STATUS_OK);  // saves again: nothing may be lost
    float r = 0, g = 0, b = 0, analog = 0;
    CAMSDK_OK(CameraGetGain(h, &r, &g, &b));
    CAMSDK_OK(CameraGetAnalogGain(h, &analog));
    EXPECT_FLOAT_EQ(r, 1.5f);
    EXPECT_FLOAT_EQ(b, 1.6f);
    EXPECT_FLOAT_EQ(analog, 2.375f);
    CAMSDK_OK(CameraUnInit(h));
  };
  expectSaved();
  expectSaved();

  // What the earlier version wrote under this locale.
  std::string comma = text;
  for (const char* key : {"team1.gainR=1.5", "team1.gainB=1.60000002", "team1.analogGain=2.375"}) {
    const std::size_t at = comma.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    comma[comma.find('.', at + 6)] = ',';
  }
  std::ofstream(dir_ / "camsdk-params.ini", std::ios::trunc) << comma;
  expectSaved();
}

// The teams' file is replaced whole or not at all: a save on a full disk (the writer's seam, or a
// real read-only folder) fails with the reason kept for the caller, and leaves the file as it was
// and nothing beside it.
TEST_F(Files, ATeamSaveThatCannotBeWrittenFailsAndKeepsTheFile) {
  const int h = Open("color", 1);
  ASSERT_EQ(CameraSaveParameter(h, 1), CAMSDK_STATUS_OK);
  const auto read = [&] {
    std::ifstream in(dir_ / "camsdk-params.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = read();
  const auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  };
  const std::vector<std::string> files = listing();
  CAMSDK_OK(CameraSetGamma(h, 170));
  DurableFaults full;
  full.freeBytes = 10;
  SetDurableFaults(full);
  ClearLastFileError();
  EXPECT_EQ(CameraSaveParameter(h, 2), CAMSDK_STATUS_FILE_ERROR);
  ClearDurableFaults();
  EXPECT_EQ(LastFileError(), ENOSPC);
  EXPECT_EQ(read(), before);
  EXPECT_EQ(listing(), files);

  fs_faults::ReadOnlyFolder readOnly(dir_);
  ASSERT_TRUE(readOnly.mounted) << "mounting needs root (CAP_SYS_ADMIN): run the tests as root, as scripts/test.sh does";
  ClearLastFileError();
  EXPECT_EQ(CameraSaveParameter(h, 2), CAMSDK_STATUS_FILE_ERROR);
  EXPECT_EQ(LastFileError(), EROFS);
  EXPECT_EQ(read(), before);
  CAMSDK_OK(CameraUnInit(h));
}

TEST_F(Files, RecordingThatCannotCreateItsFileDoesNotStart) {
  const int h = Open("color", 2, RecordingCallback);
  // The folder exists, the name is too long for the file system.
  const std::string tooLong = (dir_ / std::string(300, 'v')).string();
  EXPECT_EQ(CameraStartRecordVideo(h, tooLong.c_str()), CAMSDK_STATUS_FILE_ERROR);
  EXPECT_EQ(CamSdkTestDeliverFrames(h, 2), 2);
  EXPECT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_NOT_RECORDING);
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) EXPECT_NE(entry.path().extension(), ".avi");

  // A start that succeeds has created its file before the first frame.
  ASSERT_EQ(CameraStartRecordVideo(h, (dir_ / "Video").c_str()), CAMSDK_STATUS_OK);
  char name[512];
  ASSERT_EQ(CamSdkGetRecordFileName(h, name, sizeof name), CAMSDK_STATUS_OK);
  EXPECT_TRUE(std::filesystem::exists(name)) << name;
  EXPECT_EQ(CameraStopRecordVideo(h), CAMSDK_STATUS_OK);
}

TEST_F(Files, ExposureRequestsNearTheTopOfTheRangeGiveTheLongestExposure) {
  const int h = Open("color", 1);
  std::uint64_t e = 0, mx = 0, mn = 0;
  ASSERT_EQ(CameraGetExposureTime(h, &e, &mx, &mn), CAMSDK_STATUS_OK);
  const std::uint64_t top = ~std::uint64_t(0);
  for (const std::uint64_t request : {top, top - 1, top - mn / 2, top - mn / 2 + 1, mx + mn, mx}) {
    SCOPED_TRACE(request);
    ASSERT_EQ(CameraSetExposureTime(h, request), CAMSDK_STATUS_OK);
    CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
    EXPECT_EQ(e, mx);
  }
  // Rounding to the nearest line is kept below the top.
  ASSERT_EQ(CameraSetExposureTime(h, 3 * mn + mn / 2 + 1), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
  EXPECT_EQ(e, 4 * mn);
  ASSERT_EQ(CameraSetExposureTime(h, 0), CAMSDK_STATUS_OK);
  CAMSDK_OK(CameraGetExposureTime(h, &e, &mx, &mn));
  EXPECT_EQ(e, mn);
}

}  // namespace
}  // namespace camtest
