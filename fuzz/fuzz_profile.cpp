// Profile (INI) files. A file is read through both readers (the whole-file one and the one-pass
// section reader), which must agree; then keys are written, deleted and replaced with texts taken
// from the file itself, the file is saved and reopened, and every section must read back as it
// stood in memory before the save. (The bytes of a reread file may differ where line ends were
// normalised; what the sections hold may not.)
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "platform/durable_file.h"
#include "platform/profile.h"

namespace {

using Entries = std::vector<std::pair<WString, WString>>;

Entries ListOf(const CProfileFile& f, WStringView section) {
  Entries e;
  f.ForEachEntry(section, [&](const ProfileEntry& x) {
    e.emplace_back(x.key.ToString(), x.value.ToString());
    return true;
  });
  return e;
}

Entries ListIn(const std::filesystem::path& file, WStringView section) {
  Entries e;
  CProfileFile::ForEachEntryIn(file, section, [&](const ProfileEntry& x) {
    e.emplace_back(x.key.ToString(), x.value.ToString());
    return true;
  });
  return e;
}

bool Blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

WString Trimmed(WString s) {
  while (!s.empty() && Blank(s.back())) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && Blank(s[i])) ++i;
  return s.substr(i);
}

// Candidate section names: the text of header lines ("[name]"), found by a plain reading of the
// bytes the file object would write (ANSI bytes as Latin-1, or UTF-16LE after its BOM).
std::vector<WString> SectionNames(const std::string& bytes, std::size_t limit) {
  WString text;
  if (bytes.size() >= 2 && std::uint8_t(bytes[0]) == 0xFF && std::uint8_t(bytes[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8);
  } else {
    for (char c : bytes) text += char16_t(std::uint8_t(c));
  }
  std::vector<WString> names;
  std::size_t at = 0;
  while (at < text.size() && names.size() < limit) {
    std::size_t end = text.find(u'\n', at);
    if (end == WString::npos) end = text.size();
    const WString line = Trimmed(text.substr(at, end - at));
    if (!line.empty() && line[0] == u'[') {
      const WString name = Trimmed(line.substr(1, line.find(u']') == WString::npos ? WString::npos : line.find(u']') - 1));
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    at = end + 1;
  }
  return names;
}

std::vector<std::uint8_t> Bytes(WStringView s) {
  std::vector<std::uint8_t> b;
  for (char16_t c : s) b.push_back(std::uint8_t(c));
  return b;
}

}  // namespace

// Saves are checked as always but not synced to the disk: a sync per input would bound the search.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDurableSync(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::ScratchDir() / "in.ini";
  fuzz::WriteFile(path, data, size);

  CProfileFile file(path);
  std::vector<WString> sections = SectionNames(file.Serialize(), 6);

  // The two readers agree, and lookups answer with the first line of a key.
  for (const WString& s : sections) {
    const Entries e = ListOf(file, s);
    FUZZ_CHECK(e == ListIn(path, s));
    for (std::size_t k = 0; k < e.size() && k < 16; ++k) {
      const WString got = file.GetString(s, e[k].first, u"\x01missing");
      const auto first = std::find_if(e.begin(), e.end(), [&](const auto& x) {
        return x.first.size() == e[k].first.size() &&
               std::equal(x.first.begin(), x.first.end(), e[k].first.begin(),
                          [](char16_t a, char16_t b) { return FoldProfileChar(a) == FoldProfileChar(b); });
      });
      FUZZ_CHECK(got == first->second);
      std::vector<std::uint8_t> buf(e[k].second.size() / 2 + 1);
      file.GetStruct(s, e[k].first, buf);
      file.GetStruct(s, e[k].first, {});  // a zero-size struct ("00") into no buffer is a valid call
      file.GetInt(s, e[k].first, 7);
      if (e[k].second.size() == 2) GetPrivateProfileStructW(s, e[k].first, nullptr, 0, path);
    }
  }

  // Writes with texts of the file: values as keys (any character a value may hold), keys and
  // values moved around, structs, a bulk-written section named after a value, deletions.
  const std::size_t found = sections.size();
  for (std::size_t si = 0; si < found; ++si) {
    const WString s = sections[si];  // a copy: the list grows below
    const Entries e = ListOf(file, s);
    for (std::size_t k = 0; k < e.size() && k < 8; ++k) {
      const auto& [key, value] = e[k];
      switch (k % 4) {
        case 0: file.WriteString(s, key, e[(k + 1) % e.size()].second); break;
        case 1: file.WriteString(s, value, key); break;
        case 2: file.WriteStruct(s, value, Bytes(key)); break;
        case 3: file.DeleteKey(s, key); break;
      }
    }
    if (!e.empty()) {
      auto w = file.WriteSection(e[0].second);
      for (std::size_t k = 0; k < e.size() && k < 8; ++k) {
        if (k % 3 == 0) w.WriteStruct(e[k].second, Bytes(e[k].first));
        else if (k % 3 == 1) w.WriteInt(e[k].second, std::int32_t(k) - 4);
        else w.WriteString(e[k].first, e[k].second);
      }
      w.WriteStructs(e.back().first, 0, 2, Bytes(e.back().second));
      if (w.Commit()) sections.push_back(e[0].second);
    }
  }
  if (sections.size() > 2) file.DeleteSection(sections[1]);
  // A name the code page cannot hold reads back under itself: an ANSI file converts it for lookups
  // as for writes; a UTF-16 file keeps it exact.
  const WString odd = sections.empty() ? WString() : sections[0] + u"\u017F\uFEFF" + char16_t(0xD800);
  const bool oddWritten = !odd.empty() && file.WriteString(odd, odd, u"odd");
  if (oddWritten) FUZZ_CHECK(file.GetString(odd, odd) == u"odd");

  std::vector<Entries> before;
  for (const WString& s : sections) before.push_back(ListOf(file, s));
  const std::string bytes = file.Serialize();
  if (!file.Save()) return 0;
  FUZZ_CHECK(fuzz::ReadFile(path) == bytes);

  const CProfileFile reopened(path);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    FUZZ_CHECK(ListOf(reopened, sections[i]) == before[i]);
    FUZZ_CHECK(ListIn(path, sections[i]) == before[i]);
  }
  if (oddWritten) {
    FUZZ_CHECK(reopened.GetString(odd, odd) == u"odd");
    FUZZ_CHECK(GetPrivateProfileStringW(odd, odd, u"", path) == u"odd");
  }
  return 0;
}
