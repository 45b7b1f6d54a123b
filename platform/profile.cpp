#include "platform/profile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QChar>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// ---- ANSI code page -------------------------------------------------------------------------

enum class CodePage { Cp1252, Latin1, Named };

struct AnsiSetting {
  CodePage kind = CodePage::Cp1252;
  std::string name;
};

std::mutex g_cpMutex;
AnsiSetting g_cp;

AnsiSetting CurrentCodePage() {
  std::lock_guard lock(g_cpMutex);
  return g_cp;
}

// windows-1252 0x80..0x9F; the five unassigned bytes map to the same code points, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

WString DecodeNamed(const std::string& name, const char* p, std::size_t n) {
  QStringDecoder dec(name.c_str());
  WString out(std::size_t(dec.requiredSpace(qsizetype(n))), u'\0');
  QChar* begin = reinterpret_cast<QChar*>(out.data());
  QChar* end = dec.appendToBuffer(begin, QByteArrayView(p, qsizetype(n)));
  out.resize(std::size_t(end - begin));
  return out;
}

std::string EncodeNamed(const std::string& name, WStringView text) {
  QStringEncoder enc(name.c_str());
  const QByteArray bytes = enc.encode(QStringView(text.data(), qsizetype(text.size())));
  std::string out(bytes.constData(), std::size_t(bytes.size()));
  // Some converters substitute SUB (0x1A) for what they cannot hold; the platform writes '?'.
  if (enc.hasError() && text.find(u'\x1A') == WStringView::npos)
    for (char& c : out)
      if (c == '\x1A') c = '?';
  return out;
}

// Copies the run of ASCII units from text[i] on; returns where it stopped.
std::size_t CopyAscii(WStringView text, std::size_t i, char* dst, std::size_t& o) {
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(short(0xFF80));
  for (; i + 8 <= text.size(); i += 8, o += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128())) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + o), _mm_packus_epi16(v, v));
  }
#endif
  for (; i < text.size() && text[i] < 0x80; ++i) dst[o++] = char(text[i]);
  return i;
}

// Appends text in windows-1252 or Latin-1.
void AppendSingleByte(std::string& out, WStringView text, CodePage kind) {
  std::size_t o = out.size();
  out.resize(o + text.size());
  char* dst = out.data();
  for (std::size_t i = CopyAscii(text, 0, dst, o); i < text.size(); i = CopyAscii(text, i + 1, dst, o)) {
    const char16_t c = text[i];
    char b = '?';
    if ((c >= 0xA0 && c <= 0xFF) || (kind == CodePage::Latin1 && c <= 0xFF)) {
      b = char(c);
    } else if (kind == CodePage::Cp1252) {
      for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] == c) b = char(0x80 + k);
    }
    // one '?' per character, not per half of a surrogate pair
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) ++i;
    dst[o++] = b;
  }
  out.resize(o);
}

// ---- text helpers ---------------------------------------------------------------------------

// Names compare as the platform does: each UTF-16 unit upper-cased on its own.
inline char16_t Fold(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  const char32_t u = QChar::toUpper(char32_t(c));
  return u <= 0xFFFF ? char16_t(u) : c;
}

bool EqualNoCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) return false;
  return true;
}


// Hash of the folded key. Keys that differ only in a trailing number ("Layer12Point0",
// "Layer12Point1", ...) are written and read in runs; runs of 64 numbers hash to neighbouring
// slots, so that a run costs one cache miss instead of one per key.
std::uint32_t KeyHash(WStringView key, std::uint32_t section) {
  std::size_t stem = key.size();
  std::uint32_t number = 0;
  while (stem > 0 && key.size() - stem < 9 && key[stem - 1] >= u'0' && key[stem - 1] <= u'9') --stem;
  for (std::size_t i = stem; i < key.size(); ++i) number = number * 10 + (key[i] - u'0');

  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = ((std::uint64_t(section) << 32 | stem) ^ (std::uint64_t(number >> 6) << 40)) * kMul;
  std::size_t i = 0;
  for (; i + 4 <= stem; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, key.data() + i, 8);
    if (!(w & 0xFF80FF80FF80FF80ull)) {
      // four ASCII units: lanes holding 'a'..'z' lose 0x20
      const std::uint64_t ge_a = w + 0x001F001F001F001Full;  // bit 7 set from 'a' (0x61) on
      const std::uint64_t gt_z = w + 0x0005000500050005ull;  // bit 7 set above 'z' (0x7A)
      w -= ((ge_a & ~gt_z) & 0x0080008000800080ull) >> 2;
    } else {
      w = std::uint64_t(Fold(key[i])) | std::uint64_t(Fold(key[i + 1])) << 16 |
          std::uint64_t(Fold(key[i + 2])) << 32 | std::uint64_t(Fold(key[i + 3])) << 48;
    }
    h = (h ^ w) * kMul;
  }
  std::uint64_t w = std::uint64_t(key.size() - stem) << 60;
  for (int shift = 0; i < stem; ++i, shift += 16) w |= std::uint64_t(Fold(key[i])) << shift;
  h = (h ^ w) * kMul;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return std::uint32_t(h ^ (h >> 32)) + (number & 63);
}

// Section names: looked up without folding a copy of the name.
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(WStringView s) const { return KeyHash(s, 0); }
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(WStringView a, WStringView b) const { return EqualNoCase(a, b); }
};

inline bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

WStringView Trim(WStringView s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

WStringView Unquote(WStringView v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool HasLineBreak(WStringView s) {
  for (char16_t c : s)
    if (c == u'\n' || c == u'\r') return true;
  return false;
}

constexpr int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

}  // namespace

// ---- the file in memory ---------------------------------------------------------------------
//
// The decoded text stays in one buffer; each line refers to it by offset (lines written later
// live in chunks of their own). Original lines keep their own text and line ends. A section is a
// contiguous run of original lines plus the lines added to it, which are written after its last
// original key line. Keys are found through one open-addressing table over all sections.

struct CProfileFile::Impl {
  enum Kind : std::uint8_t { kForeign, kHeader, kKey };
  struct Line {
    std::uint32_t off = 0, len = 0;  // content without the line end
    std::uint32_t eq = 0;            // position of '=' in a key line
    std::uint32_t hash = 0;
    std::uint32_t section = kNone;
    std::uint32_t chunk = 0;
    std::uint8_t eol = 0;  // length of the line end (0 for a last line without one)
    Kind kind = kForeign;
    bool own = false;  // text in `written[chunk]`
    bool dead = false;
  };
  struct Section {
    std::uint32_t header = kNone;  // kNone for the lines before the first section
    std::uint32_t begin = 0, end = 0;
    std::uint32_t anchor = kNone;  // added lines follow this line
    std::vector<std::uint32_t> added;
  };

  std::filesystem::path path;
  Encoding encoding = Encoding::Ansi;
  bool loadFailed = false;
  WString src;
  // Text of lines written since reading, in chunks that never move once filled.
  std::vector<WString> written;
  std::size_t writtenUnits = 0;
  std::vector<Line> lines;
  std::vector<Section> sections;
  std::unordered_map<WString, std::uint32_t, NoCaseHash, NoCaseEqual> sectionByName;  // -> first section
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t line = 0;  // line index + 1; 0 = empty
  };
  std::vector<Slot> table;
  std::size_t used = 0;
  std::uint32_t parsing = 0;  // section of the line being read

  WStringView Text(const Line& l) const {
    return WStringView(l.own ? written[l.chunk] : src).substr(l.off, l.len + l.eol);
  }
  WStringView Content(const Line& l) const { return Text(l).substr(0, l.len); }
  WStringView KeyOf(const Line& l) const { return Trim(Content(l).substr(0, l.eq)); }
  WStringView ValueOf(const Line& l) const { return Trim(Content(l).substr(l.eq + 1)); }

  // -- key table --
  // Probes for `key` of section `sec`: the matching live line's slot, or the empty slot ending
  // the probe. Dead lines stay in the table until it grows.
  template <class KeyFn>
  std::size_t Probe(std::uint32_t sec, std::uint32_t h, KeyFn key) const {
    const std::size_t mask = table.size() - 1;
    std::size_t i = h & mask;
    for (; table[i].line; i = (i + 1) & mask) {
      if (table[i].hash != h) continue;
      const Line& l = lines[table[i].line - 1];
      if (l.section == sec && !l.dead && EqualNoCase(KeyOf(l), key())) break;
    }
    return i;
  }
  std::uint32_t FindKey(std::uint32_t sec, WStringView key) const {
    if (table.empty()) return kNone;
    key = Trim(key);
    return table[Probe(sec, KeyHash(key, sec), [key] { return key; })].line - 1;  // kNone when empty
  }
  void Reserve(std::size_t count) {
    if ((count + 1) * 2 <= table.size()) return;
    std::size_t cap = 1024;
    while (cap < (count + 1) * 2) cap *= 2;
    std::vector<Slot> old = std::move(table);
    table.assign(cap, Slot{});
    used = 0;
    const std::size_t mask = cap - 1;
    for (const Slot& s : old) {
      if (!s.line || lines[s.line - 1].dead) continue;
      std::size_t i = s.hash & mask;
      while (table[i].line) i = (i + 1) & mask;
      table[i] = s;
      ++used;
    }
  }
  // Indexes a key line unless its section already has that key (the first one wins on read).
  void Index(std::uint32_t idx) {
    Reserve(used + 1);
    const Line& l = lines[idx];
    Slot& slot = table[Probe(l.section, l.hash, [&] { return KeyOf(l); })];
    if (slot.line) return;
    slot = Slot{l.hash, idx + 1};
    ++used;
  }

  std::uint32_t FindSection(WStringView name) const {
    auto it = sectionByName.find(Trim(name));
    return it == sectionByName.end() ? kNone : it->second;
  }
  // The value of a key, unquoted; nullopt when the section or the key is missing.
  std::optional<WStringView> Value(WStringView section, WStringView key) const {
    const std::uint32_t sec = FindSection(section);
    const std::uint32_t idx = sec == kNone ? kNone : FindKey(sec, key);
    if (idx == kNone) return std::nullopt;
    return Unquote(ValueOf(lines[idx]));
  }

  // Reads the file's bytes: UTF-16LE after a BOM, else the ANSI code page.
  void Load(const char* bytes, std::size_t n) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    sections.push_back(Section{});
    const AnsiSetting cp = CurrentCodePage();
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
      encoding = Encoding::Utf16le;
      src.resize((n - 2) / 2);
      for (std::size_t i = 0; i < src.size(); ++i) src[i] = char16_t(b[2 + 2 * i] | (b[3 + 2 * i] << 8));
    } else if (cp.kind == CodePage::Named) {
      src = DecodeNamed(cp.name, bytes, n);
    } else {
      char16_t map[256];
      for (int c = 0; c < 256; ++c)
        map[c] = (cp.kind == CodePage::Cp1252 && c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
      // Latin-1 through Qt's fast path, then the bytes that windows-1252 maps elsewhere
      src.resize(n);
      QStringDecoder(QStringDecoder::Latin1)
          .appendToBuffer(reinterpret_cast<QChar*>(src.data()), QByteArrayView(bytes, qsizetype(n)));
      for (std::size_t i = 0; i < n; ++i) {
        if (i % 8 == 0 && i + 8 <= n) {
          std::uint64_t w;
          std::memcpy(&w, b + i, 8);
          if (!(w & 0x8080808080808080ull)) {
            i += 7;
            continue;
          }
        }
        src[i] = map[b[i]];
      }
      std::size_t count = 1;
      for (const char* p = bytes; (p = static_cast<const char*>(std::memchr(p, '\n', n - (p - bytes)))); ++p) ++count;
      lines.reserve(count);
      for (std::size_t pos = 0; pos < n;) {
        const void* nl = std::memchr(bytes + pos, '\n', n - pos);
        const std::size_t next = nl ? std::size_t(static_cast<const char*>(nl) - bytes) + 1 : n;
        AddLine(pos, next);
        pos = next;
      }
      Finish();
      return;
    }
    lines.reserve(std::size_t(std::count(src.begin(), src.end(), u'\n')) + 1);
    for (std::size_t pos = 0; pos < src.size();) {
      std::size_t next = pos;
      while (next < src.size() && src[next] != u'\n') ++next;
      next += next < src.size();
      AddLine(pos, next);
      pos = next;
    }
    Finish();
  }

  // Classifies the line src[pos, next) (line end included).
  void AddLine(std::size_t pos, std::size_t next) {
    std::size_t end = next;
    if (end > pos && src[end - 1] == u'\n') --end;
    if (end > pos && src[end - 1] == u'\r') --end;
    Line l;
    l.off = std::uint32_t(pos);
    l.len = std::uint32_t(end - pos);
    l.eol = std::uint8_t(next - end);
    const auto idx = std::uint32_t(lines.size());
    const WStringView content(src.data() + pos, end - pos);
    std::size_t first = 0;
    while (first < content.size() && IsBlank(content[first])) ++first;
    if (first < content.size() && content[first] == u'[') {
      l.kind = kHeader;
      sections[parsing].end = idx;
      parsing = std::uint32_t(sections.size());
      sections.push_back(Section{idx, idx + 1, idx + 1, idx, {}});
      const WStringView rest = content.substr(first + 1);
      sectionByName.try_emplace(WString(Trim(rest.substr(0, rest.find(u']')))), parsing);
    } else if (const std::size_t eq = content.find(u'='); eq != WStringView::npos) {
      const WStringView key = Trim(content.substr(0, eq));
      if (!key.empty()) {
        l.kind = kKey;
        l.eq = std::uint32_t(eq);
        l.hash = KeyHash(key, parsing);
        if (sections[parsing].header != kNone) sections[parsing].anchor = idx;
      }
    }
    l.section = parsing;
    lines.push_back(l);
  }

  void Finish() {
    sections[parsing].end = std::uint32_t(lines.size());
    // Indexing is bound by cache misses in the table: fetch the slots a few lines ahead.
    Reserve(lines.size());
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i + 16 < lines.size()) __builtin_prefetch(&table[lines[i + 16].hash & mask]);
      if (lines[i].kind == kKey && sections[lines[i].section].header != kNone) Index(std::uint32_t(i));
    }
  }

  // The chunk that takes the next `units` of written text; sets where `l` will find it.
  WString& Room(Line& l, std::size_t units) {
    constexpr std::size_t kChunk = std::size_t(1) << 20;
    if (written.empty() || written.back().size() + units > written.back().capacity()) {
      written.emplace_back();
      written.back().reserve(std::max(kChunk, units));
    }
    l.chunk = std::uint32_t(written.size() - 1);
    l.off = std::uint32_t(written.back().size());
    writtenUnits += units;
    return written.back();
  }

  // Appends "key=value\r\n" to the written text as the text of `l`.
  void SetText(Line& l, WStringView key, WStringView value) {
    l.own = true;
    WString& out = Room(l, key.size() + value.size() + 3);
    l.len = std::uint32_t(key.size() + 1 + value.size());
    l.eq = std::uint32_t(key.size());
    l.eol = 2;
    out.append(key).append(1, u'=').append(value).append(u"\r\n");
  }

  bool Write(WStringView section, WStringView key, WStringView value) {
    section = Trim(section);
    key = Trim(key);
    if (key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        key.find(u'=') != WStringView::npos || section.find(u']') != WStringView::npos)
      return false;
    std::uint32_t sec = FindSection(section);
    if (sec == kNone) {
      sec = std::uint32_t(sections.size());
      Line h;
      h.kind = kHeader;
      h.section = sec;
      h.own = true;
      WString& out = Room(h, section.size() + 4);
      h.len = std::uint32_t(section.size() + 2);
      h.eol = 2;
      out.append(u"[").append(section).append(u"]\r\n");
      const auto hidx = std::uint32_t(lines.size());
      lines.push_back(h);
      sections.push_back(Section{hidx, 0, 0, hidx, {}});
      sectionByName.emplace(WString(section), sec);
    }
    Reserve(used + 1);
    const std::uint32_t h = KeyHash(key, sec);
    Slot& slot = table[Probe(sec, h, [key] { return key; })];
    if (slot.line) {
      // replaced where it stands, keeping the key as the file spells it
      Line& l = lines[slot.line - 1];
      const WString spelled(KeyOf(l));
      SetText(l, spelled, value);
      return true;
    }
    Line l;
    l.kind = kKey;
    l.section = sec;
    l.hash = h;
    SetText(l, key, value);
    const auto idx = std::uint32_t(lines.size());
    lines.push_back(l);
    sections[sec].added.push_back(idx);
    slot = Slot{h, idx + 1};
    ++used;
    return true;
  }

  void Kill(std::uint32_t idx) {
    if (idx != kNone) lines[idx].dead = true;
  }

  // Hands the text of the file, line by line, to `sink`.
  template <class Sink>
  void Render(Sink&& sink) const {
    bool needEol = false;
    auto put = [&](std::uint32_t idx) {
      const Line& l = lines[idx];
      if (l.dead) return;
      if (needEol) sink(WStringView(u"\r\n"));
      sink(Text(l));
      needEol = l.eol == 0;
    };
    for (const Section& s : sections) {
      auto putAdded = [&] {
        for (std::uint32_t a : s.added) put(a);
      };
      if (s.header != kNone) put(s.header);
      if (s.anchor == s.header && s.header != kNone) putAdded();
      for (std::uint32_t i = s.begin; i < s.end; ++i) {
        put(i);
        if (i == s.anchor) putAdded();
      }
    }
  }
};

CProfileFile::CProfileFile() : d_(std::make_unique<Impl>()) {}

CProfileFile::CProfileFile(const std::filesystem::path& path) : d_(std::make_unique<Impl>()) {
  d_->path = path;
  QFile f(QFile::decodeName(path.native().c_str()));
  if (!f.exists()) {
    d_->sections.push_back(Impl::Section{});
    return;
  }
  // A file we cannot read (or too large for 32-bit offsets) must not be replaced by a save.
  const qint64 size = f.open(QIODevice::ReadOnly) ? f.size() : -1;
  if (size < 0 || size >= 0x7FFFFFFF) {
    d_->loadFailed = true;
    d_->sections.push_back(Impl::Section{});
    return;
  }
  // read, not mapped: a file cut short by another program meanwhile must not crash us
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    d_->loadFailed = true;
    d_->sections.push_back(Impl::Section{});
    return;
  }
  d_->Load(bytes.constData(), std::size_t(bytes.size()));
}

CProfileFile::~CProfileFile() = default;
CProfileFile::CProfileFile(CProfileFile&&) noexcept = default;
CProfileFile& CProfileFile::operator=(CProfileFile&&) noexcept = default;

CProfileFile::Impl& CProfileFile::I() const {
  if (!d_) {
    d_ = std::make_unique<Impl>();
    d_->sections.push_back(Impl::Section{});
  }
  return *d_;
}

const std::filesystem::path& CProfileFile::Path() const { return I().path; }
CProfileFile::Encoding CProfileFile::GetEncoding() const { return I().encoding; }
void CProfileFile::SetEncoding(Encoding e) { I().encoding = e; }

WString CProfileFile::GetString(WStringView section, WStringView key, WStringView def) const {
  const std::optional<WStringView> v = I().Value(section, key);
  return WString(v ? *v : def);
}

std::int32_t CProfileFile::GetInt(WStringView section, WStringView key, std::int32_t def) const {
  const std::optional<WStringView> value = I().Value(section, key);
  if (!value || value->empty()) return def;
  WStringView v = *value;
  bool negative = false;
  if (v.front() == u'-' || v.front() == u'+') {
    negative = v.front() == u'-';
    v.remove_prefix(1);
  }
  std::uint32_t base = 10;
  if (v.size() >= 2 && v[0] == u'0' && (v[1] == u'x' || v[1] == u'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  std::uint32_t acc = 0;  // wraps like the platform's 32-bit conversion
  for (char16_t c : v) {
    const int digit = HexDigit(c);
    if (digit < 0 || std::uint32_t(digit) >= base) break;
    acc = acc * base + std::uint32_t(digit);
  }
  return std::bit_cast<std::int32_t>(negative ? 0u - acc : acc);
}

bool CProfileFile::GetStruct(WStringView section, WStringView key, std::span<std::uint8_t> out) const {
  const std::optional<WStringView> v = I().Value(section, key);
  return v && DecodeProfileStruct(*v, out);
}

bool CProfileFile::HasSection(WStringView section) const { return I().FindSection(section) != kNone; }

bool CProfileFile::WriteString(WStringView section, WStringView key, WStringView value) {
  return I().Write(section, key, value);
}

bool CProfileFile::WriteStruct(WStringView section, WStringView key, std::span<const std::uint8_t> data) {
  return I().Write(section, key, EncodeProfileStruct(data));
}

void CProfileFile::DeleteKey(WStringView section, WStringView key) {
  Impl& d = I();
  const std::uint32_t sec = d.FindSection(section);
  if (sec != kNone) d.Kill(d.FindKey(sec, key));
}

void CProfileFile::DeleteSection(WStringView section) {
  Impl& d = I();
  const std::uint32_t sec = d.FindSection(section);
  if (sec == kNone) return;
  Impl::Section& s = d.sections[sec];
  d.Kill(s.header);
  for (std::uint32_t i = s.begin; i < s.end; ++i) d.Kill(i);
  for (std::uint32_t a : s.added) d.Kill(a);
  d.sectionByName.erase(d.sectionByName.find(Trim(section)));
}

std::string CProfileFile::Serialize() const {
  const Impl& d = I();
  const std::size_t units = d.src.size() + d.writtenUnits + 2;  // bound of what Render hands out
  std::string out;
  if (d.encoding == Encoding::Utf16le) {
    out.reserve(2 + 2 * units);
    out.append("\xFF\xFE");
    d.Render([&](WStringView t) {
      const std::size_t o = out.size();
      out.resize(o + 2 * t.size());
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out.data() + o, t.data(), 2 * t.size());
      } else {
        for (std::size_t i = 0; i < t.size(); ++i) {
          out[o + 2 * i] = char(t[i] & 0xFF);
          out[o + 2 * i + 1] = char(t[i] >> 8);
        }
      }
    });
    return out;
  }
  const AnsiSetting cp = CurrentCodePage();
  if (cp.kind == CodePage::Named) {
    WString text;
    text.reserve(units);
    d.Render([&](WStringView t) { text.append(t); });
    return EncodeNamed(cp.name, text);
  }
  out.reserve(units);
  d.Render([&](WStringView t) { AppendSingleByte(out, t, cp.kind); });
  return out;
}

bool CProfileFile::Save() {
  Impl& d = I();
  if (d.loadFailed || d.path.empty()) return false;
  const std::string bytes = Serialize();
  QSaveFile f(QFile::decodeName(d.path.native().c_str()));
  if (!f.open(QIODevice::WriteOnly)) return false;
  if (f.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
    f.cancelWriting();
    return false;
  }
  return f.commit();
}

// ---- struct encoding ------------------------------------------------------------------------

WString EncodeProfileStruct(std::span<const std::uint8_t> data) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  WString out;
  out.resize(2 * data.size() + 2);
  std::uint8_t sum = 0;
  std::size_t o = 0;
  auto put = [&](std::uint8_t b) {
    out[o++] = kHex[b >> 4];
    out[o++] = kHex[b & 15];
  };
  for (std::uint8_t b : data) {
    put(b);
    sum = std::uint8_t(sum + b);
  }
  put(sum);
  return out;
}

bool DecodeProfileStruct(WStringView text, std::span<std::uint8_t> out) {
  text = Trim(text);
  if (text.size() != 2 * out.size() + 2) return false;
  static constexpr auto kDigit = [] {
    std::array<std::int16_t, 128> t{};
    for (int c = 0; c < 128; ++c) t[std::size_t(c)] = std::int16_t(HexDigit(char16_t(c)));
    return t;
  }();
  auto byteAt = [&](std::size_t i) -> int {  // negative for anything but two hex digits
    const char16_t hi = text[i], lo = text[i + 1];
    if (hi >= 128 || lo >= 128) return -1;
    return kDigit[hi] < 0 || kDigit[lo] < 0 ? -1 : kDigit[hi] << 4 | kDigit[lo];
  };
  // validate everything first, so that `out` is untouched by a damaged value
  int bad = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int b = byteAt(2 * i);
    bad |= b;
    sum = std::uint8_t(sum + b);
  }
  if (bad < 0 || byteAt(2 * out.size()) != sum) return false;
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = std::uint8_t(byteAt(2 * i));
  return true;
}

// ---- one-shot wrappers ----------------------------------------------------------------------

WString GetPrivateProfileStringW(WStringView section, WStringView key, WStringView def,
                                 const std::filesystem::path& file) {
  return CProfileFile(file).GetString(section, key, def);
}

std::int32_t GetPrivateProfileIntW(WStringView section, WStringView key, std::int32_t def,
                                   const std::filesystem::path& file) {
  return CProfileFile(file).GetInt(section, key, def);
}

bool GetPrivateProfileStructW(WStringView section, WStringView key, void* data, std::size_t size,
                              const std::filesystem::path& file) {
  if (!data && size) return false;
  return CProfileFile(file).GetStruct(section, key, std::span(static_cast<std::uint8_t*>(data), size));
}

bool WritePrivateProfileStringW(WStringView section, WStringView key, WStringView value,
                                const std::filesystem::path& file) {
  CProfileFile f(file);
  return f.WriteString(section, key, value) && f.Save();
}

bool WritePrivateProfileStructW(WStringView section, WStringView key, const void* data, std::size_t size,
                                const std::filesystem::path& file) {
  if (!data && size) return false;
  CProfileFile f(file);
  return f.WriteStruct(section, key, std::span(static_cast<const std::uint8_t*>(data), size)) && f.Save();
}

void SetProfileAnsiCodePage(const char* name) {
  AnsiSetting s;
  const QByteArray n = QByteArray(name ? name : "").toLower();
  if (n == "windows-1252" || n == "cp1252" || n.isEmpty()) {
    s.kind = CodePage::Cp1252;
  } else if (QStringDecoder(name).isValid() && QStringEncoder(name).isValid()) {
    s.kind = CodePage::Named;
    s.name = name;
  } else {
    s.kind = CodePage::Latin1;
  }
  std::lock_guard lock(g_cpMutex);
  g_cp = s;
}
