#pragma once
// Private-profile (INI) files, byte-compatible with the files Windows' private-profile
// functions write: "[section]" and "key=value" lines ending in CRLF, case-insensitive
// section and key lookup, foreign lines kept, files in the ANSI code page or UTF-16LE
// with BOM. Lines read may also end in LF or CR alone. A file is read once, changed in memory
// and written once per Save(), through a temporary file renamed over the original, so an
// interrupted save keeps the old file. The implementation is split by concern: profile_text
// (code pages, character work), profile_codec (struct encoding), profile_read, profile_model,
// profile_merge, profile_output and profile_writer (the file in memory, profile_model.h).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/text.h"

// A text of the file as held in memory: 8-bit while every character of the file is ASCII (files
// are then read and written without conversion), UTF-16 otherwise.
class ProfileText {
 public:
  ProfileText() = default;
  explicit ProfileText(std::string_view ascii) : p_(ascii.data()), n_(ascii.size()) {}
  explicit ProfileText(WStringView text) : p_(text.data()), n_(text.size()), wide_(true) {}

  bool IsWide() const { return wide_; }
  std::size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  char16_t operator[](std::size_t i) const {
    return wide_ ? static_cast<const char16_t*>(p_)[i] : char16_t(static_cast<const unsigned char*>(p_)[i]);
  }
  std::string_view Narrow() const { return wide_ ? std::string_view() : std::string_view(static_cast<const char*>(p_), n_); }
  WStringView Wide() const { return wide_ ? WStringView(static_cast<const char16_t*>(p_), n_) : WStringView(); }
  WString ToString() const;
  // Calls f with the text as std::string_view or WStringView.
  template <class F>
  decltype(auto) Visit(F&& f) const {
    return wide_ ? f(Wide()) : f(Narrow());
  }

 private:
  const void* p_ = nullptr;
  std::size_t n_ = 0;
  bool wide_ = false;
};

// One key line of a section: the key as the file spells it (blanks trimmed) and the value as
// GetString returns it.
struct ProfileEntry {
  ProfileText key, value;
};

class CProfileFile {
 public:
  enum class Encoding { Ansi, Utf16le };

  CProfileFile();
  // The file is read when first needed, whole; or, when the first use is a section writer's
  // Commit(), in one pass that merges the section and keeps only what stays of the file. A missing
  // or unreadable file reads as empty (new files are ANSI).
  explicit CProfileFile(const std::filesystem::path& path);
  ~CProfileFile();
  CProfileFile(CProfileFile&&) noexcept;
  CProfileFile& operator=(CProfileFile&&) noexcept;

  const std::filesystem::path& Path() const;
  Encoding GetEncoding() const;
  void SetEncoding(Encoding e);  // for new files

  // GetPrivateProfileString: the value with surrounding blanks and one pair of quotes removed,
  // or `def` without its trailing blanks when the section or key is missing.
  WString GetString(WStringView section, WStringView key, WStringView def = {}) const;
  // GetPrivateProfileInt: ParseProfileInt of the value, def when missing.
  std::int32_t GetInt(WStringView section, WStringView key, std::int32_t def) const;
  // GetPrivateProfileStruct: true only when the value has exactly 2*size+2 hex digits and the
  // checksum matches; `out` is written only on success.
  bool GetStruct(WStringView section, WStringView key, std::span<std::uint8_t> out) const;
  bool HasSection(WStringView section) const;

  // WritePrivateProfileString: replaces an existing key where it stands, appends a new key at
  // the end of its section, appends a new section at the end of the file. Refused (false, no
  // change) for an empty key, a line break in any part, '=' in the key, a key starting with '['
  // or ';' or ']' in the section name, since such a line would not read back as written.
  bool WriteString(WStringView section, WStringView key, WStringView value);
  // WritePrivateProfileStruct: upper-case hex of every byte plus the checksum byte (sum mod 256).
  bool WriteStruct(WStringView section, WStringView key, std::span<const std::uint8_t> data);
  void DeleteKey(WStringView section, WStringView key);
  // Every section of that name goes, when the file holds it more than once.
  void DeleteSection(WStringView section);

  // Hands every key line of the section to fn, in file order, until fn returns false; comment
  // lines (";k=1") are no keys here, though a lookup of ";k" finds them. Keys that occur twice
  // are handed over twice: the lookups above answer with the first. The texts stay
  // valid until the file is next changed; fn must not change it. No lookup per key, no copy of
  // the text.
  template <class Fn>
  void ForEachEntry(WStringView section, Fn&& fn) const {
    using F = std::remove_reference_t<Fn>;
    ReadSection(section, [](void* f, const ProfileEntry& e) -> bool { return (*static_cast<F*>(f))(e); },
                const_cast<void*>(static_cast<const void*>(std::addressof(fn))));
  }

  // ForEachEntry for one section of a file, read in a single pass through a small buffer, without
  // holding the file: the texts are valid during the call of fn only. Reading stops after the
  // section. A missing or unreadable file hands over nothing.
  template <class Fn>
  static void ForEachEntryIn(const std::filesystem::path& file, WStringView section, Fn&& fn) {
    using F = std::remove_reference_t<Fn>;
    ReadSectionIn(file, section, [](void* f, const ProfileEntry& e) -> bool { return (*static_cast<F*>(f))(e); },
                  const_cast<void*>(static_cast<const void*>(std::addressof(fn))));
  }

  // Many keys of one section written at once, with the same result as WriteString/WriteStruct
  // called for each entry in turn (existing keys replaced where they stand, new ones appended at
  // the end of the section, the section appended when new), but built as one block of text and
  // merged without a lookup per key when the section is new or holds the keys in the same order.
  // Nothing changes before Commit(); the writer must not outlive its file.
  class SectionWriter {
   public:
    SectionWriter(SectionWriter&&) noexcept;
    SectionWriter& operator=(SectionWriter&&) noexcept;
    ~SectionWriter();
    // Room for this many more characters of "key=value\r\n" lines in this many more entries (an
    // estimate saves regrowing).
    void Reserve(std::size_t units, std::size_t entries = 0);
    // The caller's word that no key is written twice (compared as lookups compare them), which
    // spares checking for it. A key written twice all the same may then stand twice in the
    // section (lookups answer with the first line).
    void AssumeDistinctKeys();
    // Refused (false, entry dropped) where WriteString would refuse.
    bool WriteString(WStringView key, WStringView value);
    bool WriteStruct(WStringView key, std::span<const std::uint8_t> data);
    bool WriteInt(WStringView key, std::int32_t value);  // as "%d"
    // WriteStruct for a run of keys numbered prefix + "%d" from `first` on, one for each `size`
    // bytes of data, without a key string built for each (false when any is refused).
    bool WriteStructs(WStringView prefix, std::int32_t first, std::size_t size, std::span<const std::uint8_t> data);
    // Applies the entries to the file in memory; false when the section name was refused.
    bool Commit();

   private:
    friend class CProfileFile;
    struct State;
    explicit SectionWriter(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
  };
  SectionWriter WriteSection(WStringView section);

  // Writes the whole file atomically; false when it could not be written (the old file stays),
  // also when the existing file could not be read, so that it is never replaced by a fragment.
  bool Save();
  // Whole file bytes as Save() would write them.
  std::string Serialize() const;

 private:
  void ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx) const;
  static void ReadSectionIn(const std::filesystem::path& file, WStringView section,
                            bool (*fn)(void*, const ProfileEntry&), void* ctx);
  struct Impl;
  Impl& I() const;  // a moved-from object behaves as a new empty one
  mutable std::unique_ptr<Impl> d_;
};

// The struct encoding on its own (used by tests and by readers of foreign files).
WString EncodeProfileStruct(std::span<const std::uint8_t> data);
bool DecodeProfileStruct(WStringView text, std::span<std::uint8_t> out);
bool DecodeProfileStruct(ProfileText text, std::span<std::uint8_t> out);
// GetInt's reading of a value, as the platform's: blanks skipped, an optional sign, then digits
// of base 10, or 16, 8, 2 after the lower-case prefixes "0x", "0o", "0b"; def when empty.
std::int32_t ParseProfileInt(ProfileText value, std::int32_t def);
// One UTF-16 unit upper-cased as key and section names are compared (for readers that match key
// names themselves).
char16_t FoldProfileChar(char16_t c);

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
// GBK for files from Chinese systems). Characters it cannot hold are written as the platform
// writes them: a close character in windows-1252 ("A" for "Ā"), else '?', one per UTF-16 unit.
// An unknown name selects Latin-1. Files read before the change keep their text; saving
// encodes anew.
void SetProfileAnsiCodePage(const char* name);
