#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

}  // namespace

void LargeBufferFree::operator()(std::uint8_t* p) const noexcept { std::free(p); }

LargeBuffer AllocateLarge(std::size_t bytes, bool populate) {
  if (bytes == 0) return {};
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded));
  if (!p) return {};
  // Advice only: without huge pages or the populate call (older kernels) it still works.
  madvise(p, rounded, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  if (populate && madvise(p, rounded, MADV_POPULATE_WRITE) != 0) std::memset(p, 0, bytes);
#else
  if (populate) std::memset(p, 0, bytes);
#endif
  return LargeBuffer(p);
}

QImage LargeImage(int width, int height, QImage::Format format, bool populate) {
  if (width <= 0 || height <= 0) return {};
  const int depth = QImage::toPixelFormat(format).bitsPerPixel();
  const std::size_t line = ((std::size_t(width) * std::size_t(depth) + 31) / 32) * 4;
  if (line > std::size_t(INT32_MAX)) return {};
  LargeBuffer memory = AllocateLarge(line * std::size_t(height), populate);
  if (!memory) return {};
  std::uint8_t* bits = memory.release();
  return QImage(bits, width, height, qsizetype(line), format, [](void* p) { std::free(p); }, bits);
}
