#pragma once
// Helpers shared by the fuzz targets: a scratch folder per process, whole-file reads and writes,
// and a check that turns a broken property into a crash libFuzzer reports and keeps.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace fuzz {

// Files the readers take by path go here: memory-backed when /dev/shm exists, one folder per
// process so that parallel jobs do not meet.
inline const std::filesystem::path& ScratchDir() {
  // Never destroyed: the clean-up at exit still needs it.
  static const std::filesystem::path* dir = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                          : std::filesystem::temp_directory_path();
    auto* d = new std::filesystem::path(base / ("q7v-fuzz-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*d);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDir(), ec);
    });
    return d;
  }();
  return *dir;
}

inline void WriteFile(const std::filesystem::path& p, const void* data, std::size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
  FUZZ_CHECK(out.good());
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fuzz
