#pragma once
// A zip package held in memory: every part by name. Loading is bounded because templates are user
// input (a crafted archive may claim or inflate to any size); saving writes all parts at once
// through the durable writer (a temporary file, synced and renamed), so a failed save leaves
// nothing and a power cut never leaves an empty file under the name.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/office/OfficeStatus.h"

namespace office {

struct PackageLimits {
  std::size_t maxFileBytes = std::size_t(256) << 20;    // the archive itself
  std::size_t maxTotalBytes = std::size_t(512) << 20;   // all parts inflated
  std::size_t maxEntries = 10000;
};

class ZipPackage {
 public:
  // Reads a file of at most limits.maxFileBytes.
  static Status ReadFile(const std::filesystem::path& file, const PackageLimits& limits, std::string* bytes);
  Status LoadFile(const std::filesystem::path& file, const PackageLimits& limits = {});
  Status LoadBytes(std::string_view bytes, const PackageLimits& limits = {});

  // Part names as stored, without a leading "/".
  const std::string* Find(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  // Adds or replaces a part; `compress` false stores it (for data compressed already).
  void Put(std::string_view name, std::string data, bool compress = true);
  void Remove(std::string_view name);
  std::vector<std::string> Names() const;

  // Writes the package to `file`; with `exclusive` an existing file is never replaced
  // (Error::Exists). The archive appears under its name only when complete.
  Status SaveFile(const std::filesystem::path& file, bool exclusive) const;

 private:
  struct Entry {
    std::string data;
    bool compress = true;
  };
  std::map<std::string, Entry, std::less<>> parts_;
  std::vector<std::string> order_;  // the order of the source archive; new parts at the end
};

}  // namespace office
