// The preview: the library checks the image, then hands it to the window layer's handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/imglib/imglib.h"

namespace {
struct Seen {
  int calls = 0;
  int width = 0, height = 0, channels = 0, mode = 0;
  std::string title;
  unsigned char first = 0;
} g_seen;

int Record(const unsigned char* data, int width, int height, int channels, const char* title, int mode) {
  ++g_seen.calls;
  g_seen = {g_seen.calls, width, height, channels, mode, title, data[0]};
  return KVIMG_OK;
}
}  // namespace

TEST(Preview, OnlyCheckedImagesReachTheRegisteredHandler) {
  std::vector<unsigned char> image(5 * 3 * 3, 128);
  KvImgSetPreviewHandler(nullptr);
  EXPECT_EQ(KvImgShowImage(image.data(), 5, 3, 3, "Prevew", 1), KVIMG_E_NO_GUI);

  KvImgSetPreviewHandler(&Record);
  EXPECT_EQ(KvImgShowImage(image.data(), 5, 3, 2, "Prevew", 1), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgShowImage(nullptr, 5, 3, 3, "Prevew", 1), KVIMG_E_ARGUMENT);
  EXPECT_EQ(KvImgShowImage(image.data(), 0, 3, 3, "Prevew", 1), KVIMG_E_ARGUMENT);
  EXPECT_EQ(g_seen.calls, 0);

  ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 3, "Prevew", 1), KVIMG_OK);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.width, 5);
  EXPECT_EQ(g_seen.height, 3);
  EXPECT_EQ(g_seen.channels, 3);
  EXPECT_EQ(g_seen.mode, 1);
  EXPECT_EQ(g_seen.title, "Prevew");
  ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 3, nullptr, 0), KVIMG_OK);
  EXPECT_EQ(g_seen.title, "");  // a missing title is an empty one, never a null pointer
  KvImgSetPreviewHandler(nullptr);
}
