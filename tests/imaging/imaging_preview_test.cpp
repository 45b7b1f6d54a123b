// The preview windows: never wait, one window per title, their own copy of the pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <vector>

#include "imaging/ImagePreview.h"
#include "platform/imglib/imglib.h"

TEST(PreviewWindows, OneWindowPerTitleKeepingItsOwnCopy) {
  InstallImagePreviewWindows();
  std::vector<unsigned char> image(5 * 3 * 3, 128);
  ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 3, "Prevew", 1), KVIMG_OK);
  ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 3, "Prevew", 0), KVIMG_OK);
  image[0] = 0;  // the window keeps its own copy
  int windows = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == QStringLiteral("Prevew") && w->isVisible()) {
      ++windows;
      auto* label = qobject_cast<QLabel*>(w);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->pixmap().size(), QSize(5, 3));
      EXPECT_EQ(label->pixmap().toImage().pixelColor(0, 2), QColor(128, 128, 128));
    }
  EXPECT_EQ(windows, 1);
  // Closing deletes the window; the next call opens a new one.
  QApplication::closeAllWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->windowTitle(), QStringLiteral("Prevew"));
  ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 1, "Prevew", 1), KVIMG_OK);
  int again = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) again += w->windowTitle() == QStringLiteral("Prevew");
  EXPECT_EQ(again, 1);
  QApplication::closeAllWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  KvImgSetPreviewHandler(nullptr);
}
