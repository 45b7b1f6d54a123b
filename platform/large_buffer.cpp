#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/huge_pages.h"

QImage LargeImage(int width, int height, QImage::Format format) {
  if (width <= 0 || height <= 0) return {};
  constexpr std::size_t kHugePage = std::size_t(2) << 20;
  const int depth = QImage::toPixelFormat(format).bitsPerPixel();
  const std::size_t line = ((std::size_t(width) * std::size_t(depth) + 31) / 32) * 4;
  if (depth <= 0 || line > std::size_t(INT32_MAX)) return {};
  const std::size_t bytes = line * std::size_t(height);
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  auto* bits = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded));
  if (!bits) return {};
  AdviseHugePages(bits, rounded);
#ifdef MADV_POPULATE_WRITE
  // In pieces: populating holds the process's memory-map lock, and a huge page the kernel must
  // first compact can take long; one call over 80 MB held every other thread's mmap or munmap
  // (the window's paint among them) for half a second on a busy machine.
  constexpr std::size_t kPiece = 2 * kHugePage;
  for (std::size_t at = 0; at < rounded; at += kPiece) {
    const std::size_t n = std::min(kPiece, rounded - at);
    if (::madvise(bits + at, n, MADV_POPULATE_WRITE) != 0) {
      std::memset(bits + at, 0, std::min(n, bytes > at ? bytes - at : 0));  // older kernels
    }
  }
#else
  std::memset(bits, 0, bytes);
#endif
  return QImage(bits, width, height, qsizetype(line), format, [](void* p) { std::free(p); }, bits);
}
