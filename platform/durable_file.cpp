#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
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

constexpr std::string_view kTempPrefix = ".q7v-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kTempRandom = 6;

thread_local int t_lastError = 0;

bool IsNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool AllNameChars(std::string_view s) {
  for (char c : s)
    if (!IsNameChar(c)) return false;
  return true;
}

// The names earlier versions gave their temporaries: the target's name + ".XXXXXX" or + ".tmp".
bool IsLegacyTemporary(std::string_view name, std::string_view stem) {
  if (name.size() <= stem.size() + 1 || name.substr(0, stem.size()) != stem || name[stem.size()] != '.') return false;
  const std::string_view tail = name.substr(stem.size() + 1);
  return tail == "tmp" || (tail.size() == kTempRandom && AllNameChars(tail));
}

// Moves the temporary file onto the target unless a file of that name exists.
int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // A file system without that rename: a hard link is just as exclusive.
  if (::link(from, to) == 0) {
    ::unlink(from);
    return 0;
  }
  return errno;
}

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
  t_lastError = error_;
  return false;
}

bool DurableFile::Open() {
  if (fd_ >= 0 || failed_) return !failed_;
  const std::filesystem::path folder = target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
  std::string pattern = (folder / kTempPrefix).native();
  pattern.append(kTempRandom, 'X');
  pattern += kTempSuffix;
  const int fd = ::mkostemps(pattern.data(), int(kTempSuffix.size()), O_CLOEXEC);
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
  filePos_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool DurableFile::Seek(std::uint64_t offset) {
  if (failed_) return false;
  if (fd_ < 0) return Fail(EBADF);
  if (!Drain()) return false;
  if (::lseek(fd_, off_t(offset), SEEK_SET) < 0) return Fail(errno);
  filePos_ = offset;
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

bool DurableFile::Commit(bool replace) {
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
  if (ok) {
    const int moved = replace ? (::rename(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                              : RenameNoReplace(temp_.c_str(), target_.c_str());
    if (moved != 0) ok = Fail(moved);
  }
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

int LastFileError() { return t_lastError; }

void SetLastFileError(int error) { t_lastError = error; }

bool IsDurableTemporaryName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempRandom + kTempSuffix.size()) return false;
  return name.substr(0, kTempPrefix.size()) == kTempPrefix &&
         name.substr(name.size() - kTempSuffix.size()) == kTempSuffix &&
         AllNameChars(name.substr(kTempPrefix.size(), kTempRandom));
}

std::int64_t FileClockNowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &ts);
  return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

SweepResult SweepStaleTemporaries(const std::filesystem::path& folder, std::int64_t beforeNs,
                                  std::span<const std::string> legacyStems) {
  SweepResult result;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return result;
  const int dfd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name(e->d_name);
    bool ours = IsDurableTemporaryName(name);
    for (const std::string& stem : legacyStems) ours = ours || IsLegacyTemporary(name, stem);
    if (!ours) continue;
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const std::int64_t changed = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (changed >= beforeNs) continue;  // written since this run started: maybe a save under way
    if (::unlinkat(dfd, e->d_name, 0) == 0) {
      ++result.removed;
      result.bytes += std::uint64_t(st.st_size);
    }
  }
  ::closedir(dir);
  return result;
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
