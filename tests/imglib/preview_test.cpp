// The preview window: needs an application object, never waits, one window per title.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <vector>

#include "platform/imglib/imglib.h"

TEST(Preview, ShowsWithoutWaitingAndOnlyWithAnApplication) {
  std::vector<unsigned char> image(5 * 3 * 3, 128);
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_EQ(KvImgShowImage(image.data(), 5, 3, 3, "Prevew", 1), KVIMG_E_NO_GUI);

  int argc = 1;
  char name[] = "imglib_tests";
  char* argv[] = {name, nullptr};
  {
    QApplication app(argc, argv);
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
    EXPECT_EQ(KvImgShowImage(image.data(), 5, 3, 2, "Prevew", 1), KVIMG_E_ARGUMENT);
    EXPECT_EQ(KvImgShowImage(nullptr, 5, 3, 3, "Prevew", 1), KVIMG_E_ARGUMENT);
    // Closing deletes the window; the next call opens a new one.
    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    ASSERT_EQ(KvImgShowImage(image.data(), 5, 3, 1, "Prevew", 1), KVIMG_OK);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 1);
    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}
