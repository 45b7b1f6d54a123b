#include "imaging/ImagePreview.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <map>

#include "platform/imglib/imglib.h"

namespace {

// Keeps track of the preview windows of one application object; a child of it, so that a
// later application starts afresh. A window goes when it is closed, and all of them when
// the application quits; they do not keep the application running.
class PreviewRegistry : public QObject {
 public:
  explicit PreviewRegistry(QCoreApplication* app) : QObject(app) {
    setObjectName(QStringLiteral("kvimg-preview-registry"));
    connect(app, &QCoreApplication::aboutToQuit, this, [this] {
      for (auto& [title, window] : windows_) delete window.data();
      windows_.clear();
    });
  }

  QLabel* WindowFor(const QString& title) {
    QPointer<QLabel>& window = windows_[title];
    if (window.isNull()) {
      window = new QLabel;
      window->setAttribute(Qt::WA_DeleteOnClose);
      window->setAttribute(Qt::WA_QuitOnClose, false);
      window->setAlignment(Qt::AlignCenter);
      window->setWindowTitle(title);
    }
    return window.data();
  }

 private:
  std::map<QString, QPointer<QLabel>> windows_;
};

QImage ToQImage(const unsigned char* data, int width, int height, int channels) {
  const QImage::Format format = channels == 1   ? QImage::Format_Grayscale8
                                : channels == 3 ? QImage::Format_BGR888
                                                : QImage::Format_ARGB32;  // BGRA bytes
  const QImage view(data, width, height, qsizetype(width) * channels, format);
  // Rows are stored bottom-up; mirrored() also makes the deep copy the window keeps.
  return view.mirrored(false, true);
}

int ShowInWindow(const unsigned char* data, int width, int height, int channels, const char* title, int mode) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return KVIMG_E_NO_GUI;
  auto* registry = app->findChild<PreviewRegistry*>(QStringLiteral("kvimg-preview-registry"),
                                                     Qt::FindDirectChildrenOnly);
  if (registry == nullptr) registry = new PreviewRegistry(app);
  QLabel* window = registry->WindowFor(QString::fromUtf8(title));

  QPixmap pixmap = QPixmap::fromImage(ToQImage(data, width, height, channels));
  if (mode == 1) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen != nullptr ? screen->availableGeometry().size() * 0.9 : QSize(1600, 1000);
    if (pixmap.width() > room.width() || pixmap.height() > room.height())
      pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  window->setPixmap(pixmap);
  window->resize(pixmap.size());
  window->show();
  window->raise();
  return KVIMG_OK;
}

}  // namespace

void InstallImagePreviewWindows() { KvImgSetPreviewHandler(&ShowInWindow); }
