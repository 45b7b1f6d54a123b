#pragma once
// Real file systems that fail as an operator's do, for tests that run as root: a tmpfs of a few
// kilobytes (a full disk) and a read-only bind mount of a folder. Each undoes itself; `mounted`
// is false where the test may not mount (the caller skips, or falls back to the writer's seam).
#include <sys/stat.h>

#include <filesystem>
#include <string>

// From <sys/mount.h>, whose flag names clash with the engine's.
extern "C" int mount(const char* source, const char* target, const char* type, unsigned long flags, const void* data);
extern "C" int umount2(const char* target, int flags);

namespace fs_faults {

constexpr unsigned long kReadOnly = 1, kRemount = 32, kBind = 4096;  // MS_RDONLY, MS_REMOUNT, MS_BIND
constexpr int kDetach = 2;                                              // MNT_DETACH

// A tmpfs of `kilobytes` at `folder` (created).
struct SmallFileSystem {
  SmallFileSystem(const std::filesystem::path& folder, int kilobytes) : path(folder) {
    std::filesystem::create_directories(folder);
    const std::string opts = "size=" + std::to_string(kilobytes) + "k";
    mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) ::umount2(path.c_str(), kDetach);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  std::filesystem::path path;
  bool mounted = false;
};

// `folder` (which must exist) seen read-only from now on, with what it holds.
struct ReadOnlyFolder {
  explicit ReadOnlyFolder(const std::filesystem::path& folder) : path(folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, kBind, nullptr) != 0) return;
    if (::mount(nullptr, folder.c_str(), nullptr, kRemount | kBind | kReadOnly, nullptr) != 0) {
      ::umount2(folder.c_str(), kDetach);
      return;
    }
    mounted = true;
  }
  ~ReadOnlyFolder() {
    if (mounted) ::umount2(path.c_str(), kDetach);
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  std::filesystem::path path;
  bool mounted = false;
};

}  // namespace fs_faults
