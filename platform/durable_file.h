#pragma once
// Whole-file writes that never pass a failure for success and never harm the file they replace.
//
// The data goes to a temporary file beside the target; every write, the flush to the disk
// (fsync) and the close are checked, and only when all succeeded is the temporary file renamed
// over the target (and the folder synced, so the rename survives a power cut). On any failure
// the temporary file is removed and the old file, if any, stays as it was. A full disk (ENOSPC),
// a quota, an I/O error reported late by close: each is a failure.
//
// No Qt: the camera library writes its captures through it too.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
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
  // Flushes, syncs, closes and renames into place. False when any step failed (nothing renamed).
  bool Commit();
  // Removes the temporary file; the target is untouched.
  void Cancel();
  // errno of the first failure, 0 when none.
  int Error() const { return error_; }
  // Bytes handed to Write so far.
  std::uint64_t Size() const { return size_; }

 private:
  bool Drain();
  bool Fail(int error);

  std::filesystem::path target_, temp_;
  int fd_ = -1;
  int error_ = 0;
  bool failed_ = false, committed_ = false;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// One call for data already in memory. *error gets the errno of a failure.
bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> data, int* error = nullptr);

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
