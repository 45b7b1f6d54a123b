#include "platform/large_buffer.h"

#include <gtest/gtest.h>

#include <QPainter>

// The picture over prepared memory behaves as any QImage: every row addressable at the stride
// Qt expects, painted on and read back, and alive in a copy after the original goes. Its pixels
// start undefined, as a QImage's do.
TEST(LargeImage, IsAnOrdinaryPictureOverPreparedMemory) {
  for (const auto& [w, h, format] : {std::tuple{5472, 37, QImage::Format_RGB32}, std::tuple{3, 5, QImage::Format_RGB888},
                                     std::tuple{1001, 2, QImage::Format_Grayscale8}}) {
    QImage copy;
    {
      QImage image = LargeImage(w, h, format);
      ASSERT_FALSE(image.isNull()) << w << "x" << h;
      EXPECT_EQ(image.size(), QSize(w, h));
      EXPECT_EQ(image.bytesPerLine(), QImage(w, h, format).bytesPerLine());
      image.fill(Qt::black);
      QPainter p(&image);
      p.fillRect(QRect(w - 2, h - 1, 2, 1), Qt::white);
      p.end();
      copy = image;
    }
    EXPECT_EQ(copy.pixel(w - 1, h - 1) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(copy.pixel(0, 0) & 0xFFFFFF, 0u);
  }
}

TEST(LargeImage, RefusesSizesItCannotHold) {
  EXPECT_TRUE(LargeImage(0, 10, QImage::Format_RGB32).isNull());
  EXPECT_TRUE(LargeImage(10, -1, QImage::Format_RGB32).isNull());
  EXPECT_TRUE(LargeImage(10, 10, QImage::Format_Invalid).isNull());
}
