#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_faultMutex;
std::atomic<bool> g_faultsOn{false};
std::atomic<bool> g_sync{true};
DurableFaults g_faults;

// Read once while the program starts single-threaded: umask can only be read by setting it.
const mode_t g_umask = [] {
  const mode_t m = ::umask(0);
  ::umask(m);
  return m;
}();

constexpr std::size_t kBufferSize = std::size_t(1) << 20;

// ::write with the test seam's free space in front of it.
ssize_t WriteSome(int fd, const void* data, std::size_t size) {
  if (g_faultsOn.load()) {
    std::lock_guard lock(g_faultMutex);
    if (g_faults.freeBytes >= 0) {
      if (g_faults.freeBytes == 0) {
        errno = g_faults.error;
        return -1;
      }
      size = std::min<std::size_t>(size, std::size_t(g_faults.freeBytes));
      const ssize_t n = ::write(fd, data, size);
      if (n > 0) g_faults.freeBytes -= n;
      return n;
    }
  }
  return ::write(fd, data, size);
}

int CloseChecked(int fd) {
  const int r = ::close(fd);
  if (r != 0) return errno;
  if (g_faultsOn.load()) {
    std::lock_guard lock(g_faultMutex);
    if (g_faults.failClose) return g_faults.error;
  }
  return 0;
}

void SyncFolder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the data itself is already safe
  ::close(fd);
}

}  // namespace

DurableFile::DurableFile(std::filesystem::path target) : target_(std::move(target)) {}

DurableFile::~DurableFile() {
  if (!committed_) Cancel();
}

bool DurableFile::Fail(int error) {
  if (!failed_) error_ = error ? error : EIO;
  failed_ = true;
  return false;
}

bool DurableFile::Open() {
  if (fd_ >= 0 || failed_) return !failed_;
  std::string pattern = target_.native() + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  // mkostemp creates 0600; a finished file gets the usual permissions.
  ::fchmod(fd, 0666 & ~g_umask);
  fd_ = fd;
  temp_ = pattern;
  buffer_.reserve(kBufferSize);
  return true;
}

bool DurableFile::Drain() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = WriteSome(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(ENOSPC);
    done += std::size_t(n);
  }
  buffer_.clear();
  return true;
}

bool DurableFile::Write(const void* data, std::size_t size) {
  if (failed_) return false;
  if (fd_ < 0) return Fail(EBADF);
  size_ += size;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t n = std::min(size, kBufferSize - buffer_.size());
    buffer_.insert(buffer_.end(), p, p + n);
    p += n;
    size -= n;
    if (buffer_.size() == kBufferSize && !Drain()) return false;
  }
  return true;
}

bool DurableFile::Commit() {
  if (failed_ || fd_ < 0) {
    if (fd_ < 0 && !failed_) Fail(EBADF);
    Cancel();
    return false;
  }
  bool ok = Drain();
  if (ok && g_sync.load() && ::fsync(fd_) != 0) ok = Fail(errno);
  const int closeError = CloseChecked(fd_);
  fd_ = -1;
  if (ok && closeError != 0) ok = Fail(closeError);
  if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) ok = Fail(errno);
  if (!ok) {
    Cancel();
    return false;
  }
  temp_.clear();
  committed_ = true;
  if (g_sync.load()) SyncFolder(target_);
  return true;
}

void DurableFile::Cancel() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  buffer_.clear();
}

bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> data, int* error) {
  DurableFile f(target);
  const bool ok = f.Open() && f.Write(data) && f.Commit();
  if (error) *error = ok ? 0 : f.Error();
  return ok;
}

void SetDurableFaults(const DurableFaults& faults) {
  std::lock_guard lock(g_faultMutex);
  g_faults = faults;
  g_faultsOn.store(true);
}

void ClearDurableFaults() {
  std::lock_guard lock(g_faultMutex);
  g_faults = DurableFaults{};
  g_faultsOn.store(false);
}

void SetDurableSync(bool on) { g_sync.store(on); }
