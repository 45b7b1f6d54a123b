// The library's preview: the library checks the image and hands it to the window layer, which
// registers itself; the library itself opens no window, so it runs without widgets.
#include <atomic>

#include "platform/imglib/imglib_internal.h"

namespace {
std::atomic<KvImgPreviewHandler> g_previewHandler{nullptr};
}  // namespace

void KvImgSetPreviewHandler(KvImgPreviewHandler handler) { g_previewHandler.store(handler); }

int KvImgShowImage(const unsigned char* data, int width, int height, int channels, const char* title, int mode) {
  KvImgImage desc{const_cast<unsigned char*>(data), width, height, channels};
  if (!kvimg::ValidImage(desc)) return KVIMG_E_ARGUMENT;
  const KvImgPreviewHandler handler = g_previewHandler.load();
  if (handler == nullptr) return KVIMG_E_NO_GUI;
  return kvimg::Guarded([&] { return handler(data, width, height, channels, title != nullptr ? title : "", mode); });
}
