#pragma once
// Whole-file writes that never pass a failure for success and never harm the file they replace.
//
// The data goes to a temporary file beside the target; every write, the flush to the disk
// (fsync) and the close are checked, and only when all succeeded is the temporary file renamed
// over the target (and the folder synced, so the rename survives a power cut). On any failure
// the temporary file is removed and the old file, if any, stays as it was. A full disk (ENOSPC),
// a quota, an I/O error reported late by close: each is a failure.
//
// Temporaries are named ".q7v-" + 6 random characters + ".tmp": short, so that a target whose
// name has the file system's longest length still saves, and recognisable, so that those left
// by a program that was killed can be swept when the program next starts.
//
// No Qt: the camera library writes its captures and its settings through it too.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class DurableFile {
 public:
  explicit DurableFile(std::filesystem::path target);
  ~DurableFile();  // an uncommitted file is cancelled
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Creates the temporary file; false (and Error()) when it cannot be created.
  bool Open();
  // Buffered; false once anything failed.
  bool Write(const void* data, std::size_t size);
  bool Write(std::span<const std::uint8_t> data) { return Write(data.data(), data.size()); }
  // For writers that go back to patch what they wrote (a header, a zip entry's sizes): the next
  // Write lands at `offset`. Tell is where it would land now.
  bool Seek(std::uint64_t offset);
  std::uint64_t Tell() const { return filePos_ + buffer_.size(); }
  // Flushes, syncs, closes and renames into place. False when any step failed (nothing renamed).
  // With `replace` false an existing target is never replaced: the commit fails with EEXIST.
  bool Commit(bool replace = true);
  // Removes the temporary file; the target is untouched.
  void Cancel();
  // errno of the first failure, 0 when none.
  int Error() const { return error_; }
  // Bytes handed to Write so far.
  std::uint64_t Size() const { return size_; }
  const std::filesystem::path& TemporaryPath() const { return temp_; }

 private:
  bool Drain();
  bool Fail(int error);

  std::filesystem::path target_, temp_;
  int fd_ = -1;
  int error_ = 0;
  bool failed_ = false, committed_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t filePos_ = 0;  // where the buffer's first byte goes
  std::vector<std::uint8_t> buffer_;
};

// One call for data already in memory. *error gets the errno of a failure.
bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> data, int* error = nullptr);

// errno of the last failed file write on this thread (a durable write, a recording that could
// not create its file), 0 when none since ClearLastFileError. Lets a caller that only got a
// status from a library say why.
int LastFileError();
void SetLastFileError(int error);
inline void ClearLastFileError() { SetLastFileError(0); }

// True for the name (not the path) of one of the temporaries above.
bool IsDurableTemporaryName(std::string_view name);

// The moment this program started, in the clock the file system stamps files with (coarse
// real time, nanoseconds): a file last changed before it cannot be one this run is writing.
std::int64_t FileClockNowNs();

struct SweepResult {
  int removed = 0;
  std::uint64_t bytes = 0;
};
// Removes from `folder` (not its subfolders) the temporaries of this program last changed
// before `beforeNs`: names of the pattern above, and, in folders that are the program's own,
// those of earlier versions beside its own files: a `legacyStems` entry "registry.dat" also
// takes "registry.dat.XXXXXX" (6 letters or digits) and "registry.dat.tmp". Nothing else is
// touched; a folder that cannot be read is skipped.
SweepResult SweepStaleTemporaries(const std::filesystem::path& folder, std::int64_t beforeNs,
                                  std::span<const std::string> legacyStems = {});

// Test seam: makes every durable write behave as on a disk with `freeBytes` left (shared by all
// files, written bytes use it up; -1: unlimited). Writes beyond it fail with `error` (ENOSPC by
// default) after the bytes that fit; with `failClose` set, close reports `error` too, as some
// file systems only report a full disk there.
struct DurableFaults {
  std::int64_t freeBytes = -1;
  bool failClose = false;
  int error = 28;  // ENOSPC
};
void SetDurableFaults(const DurableFaults& faults);
void ClearDurableFaults();

// Fuzzing only: skips the syncs to the disk (every check of writes and close stays), which would
// otherwise bound a fuzz target to the disk's sync rate.
void SetDurableSync(bool on);
