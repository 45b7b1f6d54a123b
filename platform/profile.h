#pragma once
// Private-profile (INI) files, byte-compatible with the files Windows' private-profile
// functions write: "[section]" and "key=value" lines ending in CRLF, case-insensitive
// section and key lookup, foreign lines kept, files in the ANSI code page or UTF-16LE
// with BOM. A file is read once, changed in memory and written once per Save(), through
// a temporary file renamed over the original, so an interrupted save keeps the old file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/text.h"

class CProfileFile {
 public:
  enum class Encoding { Ansi, Utf16le };

  CProfileFile();
  // Reads the file; a missing or unreadable file reads as empty (new files are ANSI).
  explicit CProfileFile(const std::filesystem::path& path);
  ~CProfileFile();
  CProfileFile(CProfileFile&&) noexcept;
  CProfileFile& operator=(CProfileFile&&) noexcept;

  const std::filesystem::path& Path() const;
  Encoding GetEncoding() const;
  void SetEncoding(Encoding e);  // for new files

  // GetPrivateProfileString: the value with surrounding blanks and one pair of quotes removed,
  // or `def` when the section or key is missing.
  WString GetString(WStringView section, WStringView key, WStringView def = {}) const;
  // GetPrivateProfileInt: leading decimal digits (optional sign, "0x" hex), def when missing.
  std::int32_t GetInt(WStringView section, WStringView key, std::int32_t def) const;
  // GetPrivateProfileStruct: true only when the value has exactly 2*size+2 hex digits and the
  // checksum matches; `out` is written only on success.
  bool GetStruct(WStringView section, WStringView key, std::span<std::uint8_t> out) const;
  bool HasSection(WStringView section) const;

  // WritePrivateProfileString: replaces an existing key where it stands, appends a new key at
  // the end of its section, appends a new section at the end of the file. Refused (false, no
  // change) for an empty key, a line break in any part, '=' in the key or ']' in the section
  // name, since such a line would not read back as written.
  bool WriteString(WStringView section, WStringView key, WStringView value);
  // WritePrivateProfileStruct: upper-case hex of every byte plus the checksum byte (sum mod 256).
  bool WriteStruct(WStringView section, WStringView key, std::span<const std::uint8_t> data);
  void DeleteKey(WStringView section, WStringView key);
  void DeleteSection(WStringView section);

  // Writes the whole file atomically; false when it could not be written (the old file stays),
  // also when the existing file could not be read, so that it is never replaced by a fragment.
  bool Save();
  // Whole file bytes as Save() would write them.
  std::string Serialize() const;

 private:
  struct Impl;
  Impl& I() const;  // a moved-from object behaves as a new empty one
  mutable std::unique_ptr<Impl> d_;
};

// The struct encoding on its own (used by tests and by readers of foreign files).
WString EncodeProfileStruct(std::span<const std::uint8_t> data);
bool DecodeProfileStruct(WStringView text, std::span<std::uint8_t> out);

// One-shot wrappers with the platform's names; each reads and (for writes) saves the file.
WString GetPrivateProfileStringW(WStringView section, WStringView key, WStringView def,
                                 const std::filesystem::path& file);
std::int32_t GetPrivateProfileIntW(WStringView section, WStringView key, std::int32_t def,
                                   const std::filesystem::path& file);
bool GetPrivateProfileStructW(WStringView section, WStringView key, void* data, std::size_t size,
                              const std::filesystem::path& file);
bool WritePrivateProfileStringW(WStringView section, WStringView key, WStringView value,
                                const std::filesystem::path& file);
bool WritePrivateProfileStructW(WStringView section, WStringView key, const void* data, std::size_t size,
                                const std::filesystem::path& file);

// The ANSI code page that ANSI files are read and written in (default windows-1252;
// GBK for files from Chinese systems). Characters it cannot hold are written as '?'. An unknown
// name selects Latin-1. Files read before the change keep their text; saving encodes anew.
void SetProfileAnsiCodePage(const char* name);
