#pragma once
// The image library: pixel operations on the program's images and raw camera frames.
//
// Images are described by KvImgImage, passed by value: the pixels of a 24-bit BGR image are
// width x height x 3 bytes, rows bottom-up and unpadded (channels 1 is a plain grey image,
// 4 is BGRA). Operations take a source and a destination descriptor of equal width and
// height; the same buffer may be given for both (in-place), and a destination with another
// channel count than its source receives the result converted (grey goes into every channel).
//
// Every function returns KVIMG_OK (0) on success and a negative KVIMG_E_* value otherwise;
// on failure nothing is written to a destination unless the description says otherwise.
// Descriptors are checked: null data, non-positive sizes, unsupported channel counts and
// sizes above KVIMG_MAX_BYTES are refused.

#include <cstdint>

struct KvImgImage {
  unsigned char* data = nullptr;
  int width = 0;
  int height = 0;
  int channels = 0;  // 1, 3 or 4
};

// A raw camera frame: width x height samples, one byte each for a bit depth of 8, two
// (little-endian) for 9 to 16 bits. `format` is the raw data format of the frame information;
// its low byte names the colour filter layout (KvImgRawLayout); other values count as mono.
struct KvImgRaw {
  unsigned char* data = nullptr;
  int width = 0;
  int height = 0;
  int bits = 8;
  int format = 0;
};

// Colour filter layouts (the camera library's pattern numbers), named by the colours of the
// first two rows' first two samples.
enum KvImgRawLayout : int {
  KVIMG_RAW_MONO = 0,
  KVIMG_RAW_BAYER_GRBG = 1,
  KVIMG_RAW_BAYER_RGGB = 2,
  KVIMG_RAW_BAYER_GBRG = 3,
  KVIMG_RAW_BAYER_BGGR = 4,
};

// A region of a raw frame: left, top, width, height in samples. A negative width or height
// extends to the left or upward (a rectangle dragged backwards); it is clipped to the frame.
struct KvImgRegion {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

enum KvImgResult : int {
  KVIMG_OK = 0,
  KVIMG_E_ARGUMENT = -1,   // a descriptor or parameter is invalid
  KVIMG_E_CAPACITY = -2,   // the result does not fit the destination
  KVIMG_E_NOT_FOUND = -3,  // nothing to find (no ruler, tiles that do not overlap)
  KVIMG_E_FAILED = -4,     // the operation could not be carried out
  KVIMG_E_NO_GUI = -5,     // no application object on this thread for a window
};

// Largest image or frame accepted, in bytes.
inline constexpr std::int64_t KVIMG_MAX_BYTES = std::int64_t(1) << 31;

// Capacity of a mosaic result whose width and height are preset to 0: the size of the
// buffer the stitching dialog allocates.
inline constexpr std::int64_t KVIMG_MOSAIC_CAPACITY = 300000000;

// ---- raw camera frames ----

// Mean level of the whole frame in 8-bit units (rounded), into *grey.
int KvImgGetRawGray(KvImgRaw raw, int* grey);
// Scales every sample in place by target / current (rounded, saturated), so that a frame of
// grey level `current` comes out near `target`. current must be > 0, target 0..255.
int KvImgAdjustBrightness(KvImgRaw raw, int current, int target);
// Black levels of a region of a dark frame, per colour (red, green, blue; all equal for a
// mono frame): the median sample of each colour, in 8-bit units.
int KvImgOnceBlackLevel(KvImgRaw raw, KvImgRegion region, int* level1, int* level2, int* level3);

// ---- point operations ----

// Grey value (0.299 R + 0.587 G + 0.114 B) into every destination channel.
int KvImgRGB2GRAY(KvImgImage src, KvImgImage dst);
// Grey above `threshold` (0..255) becomes 255, the rest 0.
int KvImgThreshold(KvImgImage src, KvImgImage dst, int threshold);
// Adds `offset` (-255..255) to every channel, saturated.
int KvImgBrightness(KvImgImage src, KvImgImage dst, int offset);
// Piecewise-linear mapping of every channel through (0,0), (x1,y1), (x2,y2), (255,255);
// 0 <= x1 <= x2 <= 255, and y1, y2 in 0..255.
int KvImgGrayStretch(KvImgImage src, KvImgImage dst, float x1, float y1, float x2, float y2);
// Histogram equalisation of the grey image, into every destination channel.
int KvImgGrayEqualize(KvImgImage src, KvImgImage dst);

// ---- neighbourhood operations ----

// Grey above its local mean (less a small margin) becomes 255, the rest 0.
int KvImgAdaptiveThreshold(KvImgImage src, KvImgImage dst);
// Gaussian noise filter (5 x 5).
int KvImgGuassFilter(KvImgImage src, KvImgImage dst);
// Unsharp masking with the given strength (0..10; 0 copies).
int KvImgEdgeEnhance(KvImgImage src, KvImgImage dst, int strength);
// Maximum / minimum over a size x size square (1..99), per channel.
int KvImgDilate(KvImgImage src, KvImgImage dst, int size);
int KvImgErode(KvImgImage src, KvImgImage dst, int size);

// ---- several images ----

// Stitches `count` (2..100) overlapping tiles into one 24-bit image in result->data.
// result->data and result->channels (3) are preset by the caller; when result->width and
// result->height are preset above 0 their product x 3 is the buffer's capacity in bytes,
// otherwise KVIMG_MOSAIC_CAPACITY. On success width and height are written back. Tiles that
// do not all join into one mosaic, or a mosaic larger than the capacity, fail and leave the
// result untouched. mode 1 aligns stage scans (shifts, small rotation and scale);
// mode 0 allows panoramic projection.
int KvImgMosaic(const KvImgImage* images, int count, KvImgImage* result, int mode);
// Extended depth of field: combines two images of one scene at different focus, keeping the
// sharper one at every place (smoothed selection). All three have equal width and height;
// result may be the same buffer as `accumulated`. mode is reserved (1).
int KvImgFusion(KvImgImage accumulated, KvImgImage next, KvImgImage result, int mode);

// ---- measuring and display ----

// Finds the ruler of a stage micrometer (a row of regular ticks) in the image and writes the
// distance in pixels between its outermost found ticks to *length; draws the ruler found
// into the image. KVIMG_E_NOT_FOUND (and *length 0) when there is no ruler.
int KvImgFindScaleline(unsigned char* data, int width, int height, int channels, float* length);
// Shows the image in the preview window of that title (UTF-8), one window per title, without
// waiting. mode 1 fits large images to the screen, 0 shows them 1:1. The window comes from the
// handler the window layer registers (KvImgSetPreviewHandler); without one, or where the handler
// cannot open a window (no application object, another thread), KVIMG_E_NO_GUI. The image is
// checked before the handler sees it; the handler copies the pixels.
int KvImgShowImage(const unsigned char* data, int width, int height, int channels, const char* title,
                   int mode);
// What opens preview windows: called with a checked image and a non-null title; returns a
// KVIMG_* result. nullptr removes the handler.
using KvImgPreviewHandler = int (*)(const unsigned char* data, int width, int height, int channels,
                                    const char* title, int mode);
void KvImgSetPreviewHandler(KvImgPreviewHandler handler);
