#pragma once
// Memory for whole frames and pictures. Aligned to 2 MB and advised as huge pages where the
// kernel offers them, so that the first touch of 80 MB costs tens of page faults instead of
// twenty thousand (on a virtual machine each fault is dear); optionally populated at once, so
// that a caller can pay for it before it takes a lock.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <QImage>

struct LargeBufferFree {
  void operator()(std::uint8_t* p) const noexcept;
};
using LargeBuffer = std::unique_ptr<std::uint8_t[], LargeBufferFree>;

// Null when the memory is not there.
LargeBuffer AllocateLarge(std::size_t bytes, bool populate);

// A QImage over such memory (null when the memory is not there); rows are 4-byte aligned.
QImage LargeImage(int width, int height, QImage::Format format, bool populate);
