#pragma once
// The system calls the V4L2 backend makes, in one table: the real ones by default, a test's
// stand-in device when one is set. Every call of the backend goes through the table in force.
#include <cstddef>
#include <cstdint>
#include <string>

#include <poll.h>
#include <sys/types.h>

namespace camsdk {

struct V4l2Sys {
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  void* (*mmap)(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset);
  int (*munmap)(void* addr, std::size_t length);
  int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
  std::int64_t (*nowMs)();  // a monotonic clock
  // The serial number of the USB device behind a /dev/video node ("" when it has none).
  std::string (*serial)(const char* path);
};

// The kernel's calls, the monotonic clock and the serial from sysfs.
const V4l2Sys& V4l2RealSys();
// Replaces the table (null: back to the real one) and forgets the cameras listed so far. Only
// while none of them is open: an open device holds its camera's record.
void V4l2SetSys(const V4l2Sys* sys);

// How long a stream may go without a whole frame before the camera counts as lost, on top of
// the exposure time.
constexpr int kV4l2StallMs = 2000;

}  // namespace camsdk
