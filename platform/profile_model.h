#pragma once
// The profile file in memory, shared by the files that implement it: profile_read.cpp (reading
// a file, and one section of it in one pass), profile_model.cpp (lines, lookups, edits and the
// calls of CProfileFile), profile_merge.cpp (a section writer's entries merged into a section),
// profile_output.cpp (the file written out) and profile_writer.cpp (the section writer). What the
// readers' and the merge's inner loops use is defined here, inline. Internal to
// platform/profile*.cpp.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/profile.h"
#include "platform/profile_codec.h"
#include "platform/profile_text.h"

namespace profile_detail {

// ---- text buffers ---------------------------------------------------------------------------

// Memory for text starts on a page: the kernel copies to and from it faster.
inline constexpr std::size_t kPage = 4096;
struct PageDelete {
  void operator()(std::byte* p) const { ::operator delete[](p, std::align_val_t(kPage)); }
};
using Mem = std::unique_ptr<std::byte[], PageDelete>;
inline Mem NewMem(std::size_t bytes) {
  return Mem(new (std::align_val_t(kPage)) std::byte[std::max<std::size_t>(bytes, 1)]);
}

// t[0, n) with an LF put after every lone CR, into a new buffer; its length into `out`.
template <class C>
Mem WithCrLf(const C* t, std::size_t n, std::size_t& out) {
  std::size_t extra = 0;
  for (std::size_t i = 0; i < n; ++i) extra += t[i] == C('\r') && (i + 1 == n || t[i + 1] != C('\n'));
  Mem m = NewMem((n + extra) * sizeof(C));
  C* d = reinterpret_cast<C*>(m.get());
  for (std::size_t i = 0; i < n; ++i) {
    *d++ = t[i];
    if (t[i] == C('\r') && (i + 1 == n || t[i + 1] != C('\n'))) *d++ = C('\n');
  }
  out = n + extra;
  return m;
}

// A struct value kept as bytes until the file is written: 2 * n + 2 hex digits of text.
struct Hole {
  std::uint32_t at;    // text offset of the digits
  std::uint32_t held;  // where the text goes on in the units held
  std::uint32_t raw;   // offset of the bytes
  std::uint32_t n;
  std::uint32_t Len() const { return 2 * n + 2; }
};

// Storage for text of either width that is never zero-filled and never moves; texts refer to
// it by buffer index and offset. A section writer's buffer may leave large struct values as
// bytes (holes): its text is then the units held with the digits of each hole in between.
struct Buf {
  Mem mem;
  std::size_t skip = 0;           // bytes before unit 0 (a byte order mark read with the file)
  std::size_t size = 0;           // text units, holes included
  std::size_t held = 0, cap = 0;  // units in mem, room for units
  std::vector<Hole> holes;
  Mem raw;
  std::size_t rawSize = 0, rawCap = 0;

  template <class C>
  static Buf Make(std::size_t cap) {
    Buf b;
    b.mem = NewMem(cap * sizeof(C));
    b.cap = cap;
    return b;
  }
  template <class C>
  C* Data() const {
    return reinterpret_cast<C*>(mem.get() + skip);
  }
};

struct Span {
  std::uint32_t buf = 0, off = 0, len = 0;
};

}  // namespace profile_detail

using namespace profile_detail;

// ---- the file in memory ---------------------------------------------------------------------
//
// The text lives in buffers of one width: 8-bit while all of it is ASCII, UTF-16 once anything
// else is read or written. A section is a header line plus its body, kept in one of two forms:
// as spans of whole lines (as read, or as merged by a section writer), or parsed into lines with
// a key table, built on the first lookup or single-key change. Sections are found by a scan for
// header lines as the file is read; the lines themselves are looked at only when needed. A
// section writer's lines are merged by walking the section's lines once, expecting the keys in
// the writer's order; when a commit is the first use of the file, that walk is done as the file
// is read, and the lines it replaces are never held.
struct CProfileFile::Impl {
  enum Kind : std::uint8_t { kForeign, kKey };
  struct Line {
    Span text;              // the whole line, line end included
    std::uint32_t len = 0;  // content without the line end
    std::uint32_t eq = 0;   // position of '=' in a key line
    std::uint32_t hash = 0;
    Kind kind = kForeign;
    bool dead = false;
  };
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t line = 0;  // line index + 1; 0 = empty
  };
  struct Parsed {
    std::vector<Line> lines;  // the body's lines, then the lines added since parsing
    std::uint32_t orig = 0;
    std::uint32_t anchor = kNone;  // added lines follow this line (kNone: right after the header)
    std::vector<Slot> table;
    std::size_t used = 0;
    bool modified = false;  // the lines, not the spans, hold the section
  };
  struct Section {
    Span header;  // empty for the lines before the first section
    std::vector<Span> body;
    std::unique_ptr<Parsed> parsed;
    bool dead = false;
  };

  std::filesystem::path path;
  Encoding encoding = Encoding::Ansi;
  bool unread = false;  // read when first needed
  bool loadFailed = false;
  bool wide = false;
  std::vector<Buf> bufs;
  std::uint32_t scratch = kNone;  // buffer taking the text of single writes
  std::vector<Section> sections;
  std::unordered_map<WString, std::uint32_t, NoCaseHash, NoCaseEqual> sectionByName;  // -> first
  std::mutex parseMutex;  // sections are parsed lazily, also from const calls

  Impl() { sections.emplace_back(); }

  template <class C>
  View<C> Text(Span s) const {
    if (s.len == 0) return View<C>();  // also the missing header of the lines before the first section
    return View<C>(bufs[s.buf].Data<C>() + s.off, s.len);
  }
  // Calls f(C{}) with the character type of the buffers.
  template <class F>
  decltype(auto) Dispatch(F&& f) const {
    return wide ? f(char16_t{}) : f(char{});
  }

  // ---- reading -----------------------------------------------------------------------------

  // Header lines met while the file was read: the '[' of each line that starts with one (after
  // blanks), and whether every byte is ASCII.
  struct HeaderScan {
    std::vector<std::size_t> at;
    unsigned high = 0;
    std::size_t done = 0;  // bytes looked at
  };

  // The file, open for reading; -1 for a missing file (read as empty) and for one that cannot be
  // read (then loadFailed: it must not be replaced by a save).
  int Open();

  // Reads the file if that is still to be done.
  void Ready();

  // Reads the file in pieces, each looked at for section headers while it is still in the cache.
  bool Read(int fd);

  // Gives every lone CR of the file's bytes an LF, so that the rest of the reader sees one kind
  // of line end (a save then writes CR LF there). False when the file grows too large.
  static bool WithLineFeeds(Mem& bytes, std::size_t& n, HeaderScan& scan);

  void Load(Mem bytes, std::size_t n, HeaderScan& scan);

  // The '[' of each line in t[from, to) whose first non-blank character is '[' (the characters
  // before `from` are there to look back at).
  template <class C>
  static void FindHeaders(const C* t, std::size_t from, std::size_t to, unsigned& high, std::vector<std::size_t>& out) {
    for (std::size_t i = from;;) {
      const std::size_t at = FindBracket(t, i, to, high);
      if (at == to) return;
      i = at + 1;
      std::size_t lineStart = at;
      while (lineStart > 0 && IsBlank(t[lineStart - 1])) --lineStart;
      if (lineStart == 0 || t[lineStart - 1] == C('\n')) out.push_back(at);
    }
  }

  // The sections of buffer 0 from the '[' of its header lines.
  template <class C>
  void BuildSections(const std::vector<std::size_t>& headers);

  // The next '[' from t[i] on, or n; ORs the 8-bit characters passed over into `high`.
  static std::size_t FindBracket(const char* t, std::size_t i, std::size_t n, unsigned& high) {
#if defined(__SSE2__)
    const __m128i bracket = _mm_set1_epi8('[');
    __m128i acc = _mm_setzero_si128();
    auto at = [&](std::size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + k)); };
    for (; i + 64 <= n; i += 64) {
      const __m128i a = at(i), b = at(i + 16), c = at(i + 32), d = at(i + 48);
      acc = _mm_or_si128(acc, _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, bracket), _mm_cmpeq_epi8(b, bracket)),
                                       _mm_or_si128(_mm_cmpeq_epi8(c, bracket), _mm_cmpeq_epi8(d, bracket)));
      if (_mm_movemask_epi8(hit)) break;
    }
    high |= unsigned(_mm_movemask_epi8(acc)) ? 0x80u : 0u;
#endif
    for (; i < n; ++i) {
      high |= static_cast<unsigned char>(t[i]);
      if (t[i] == '[') return i;
    }
    return n;
  }
  static std::size_t FindBracket(const char16_t* t, std::size_t i, std::size_t n, unsigned&) {
    const char16_t* p = Find(t + i, n - i, u'[');
    return p ? std::size_t(p - t) : n;
  }

  static void AddBody(Section& s, std::size_t from, std::size_t to, std::uint32_t buf = 0) {
    if (to > from) s.body.push_back(Span{buf, std::uint32_t(from), std::uint32_t(to - from)});
  }

  // The name in a header line from its '[' on (line end included).
  template <class C>
  static View<C> HeaderName(View<C> fromBracket) {
    View<C> name = fromBracket.substr(1);
    if (!name.empty() && name.back() == C('\n')) name.remove_suffix(1);
    return Trim(name.substr(0, name.find(C(']'))));
  }

  template <class C>
  void AddSectionName(View<C> name, std::uint32_t sec) {
    WString w(name.size(), u'\0');
    for (std::size_t i = 0; i < name.size(); ++i) w[i] = Unit(name[i]);
    sectionByName.try_emplace(std::move(w), sec);
  }

  std::uint32_t FindSection(WStringView name) const {
    auto it = sectionByName.find(Trim(name));
    return it == sectionByName.end() ? kNone : it->second;
  }

  // ---- lines -------------------------------------------------------------------------------

  // One line of a section in the order it is written out.
  template <class C>
  struct LineRef {
    Span text;
    View<C> content;
    std::size_t eq = View<C>::npos;  // '=' of a key line, npos for other lines
    bool dead = false;
    View<C> Key() const { return Trim(content.substr(0, eq)); }
    View<C> Value() const { return Unquote(Trim(content.substr(eq + 1))); }
  };

  // The line starting at t[pos] of a span (lines never cross spans).
  template <class C>
  static LineRef<C> ScanLine(const C* t, Span s, std::size_t pos) {
    const std::size_t end = s.off + s.len;
    // keys are short: look for '=' before the line end, then for the end of a long value
    std::size_t i = pos;
#if defined(__SSE2__)
    if constexpr (sizeof(C) == 1) {
      const __m128i eqChar = _mm_set1_epi8('='), nlChar = _mm_set1_epi8('\n');
      for (; i + 16 <= end; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, eqChar), _mm_cmpeq_epi8(v, nlChar)));
        if (m) {
          i += std::size_t(std::countr_zero(unsigned(m)));
          break;
        }
      }
    }
#endif
    while (i < end && t[i] != C('=') && t[i] != C('\n')) ++i;
    const bool eq = i < end && t[i] == C('=');
    std::size_t next = end;
    if (i < end && t[i] == C('\n')) {
      next = i + 1;
    } else if (eq) {
      next = LineEnd(t, i + 1, end);
    }
    std::size_t stop = next;
    if (stop > pos && t[stop - 1] == C('\n')) --stop;
    if (stop > pos && t[stop - 1] == C('\r')) --stop;
    LineRef<C> l;
    l.text = Span{s.buf, std::uint32_t(pos), std::uint32_t(next - pos)};
    l.content = View<C>(t + pos, stop - pos);
    if (eq) {
      l.eq = i - pos;
      if (l.Key().empty()) l.eq = View<C>::npos;
    }
    return l;
  }

  // The line t[pos, next) (next: after its '\n', or the end of its span).
  template <class C>
  static LineRef<C> MakeLine(const C* t, std::uint32_t buf, std::size_t pos, std::size_t next) {
    std::size_t stop = next;
    if (stop > pos && t[stop - 1] == C('\n')) --stop;
    if (stop > pos && t[stop - 1] == C('\r')) --stop;
    LineRef<C> l;
    l.text = Span{buf, std::uint32_t(pos), std::uint32_t(next - pos)};
    l.content = View<C>(t + pos, stop - pos);
    std::size_t i = pos;
    while (i < stop && t[i] != C('=')) ++i;  // keys are short
    if (i < stop) {
      l.eq = i - pos;
      if (l.Key().empty()) l.eq = View<C>::npos;
    }
    return l;
  }

  // Position after the next '\n' from t[i] on, or end.
  template <class C>
  static std::size_t LineEnd(const C* t, std::size_t i, std::size_t end) {
#if defined(__SSE2__)
    if constexpr (sizeof(C) == 1) {  // a short value ends within a block or two: no call
      const __m128i nl = _mm_set1_epi8('\n');
      for (int k = 0; k < 2 && i + 16 <= end; ++k, i += 16) {
        const int m = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), nl));
        if (m) return i + std::size_t(std::countr_zero(unsigned(m))) + 1;
      }
    }
#endif
    const C* p = Find(t + i, end - i, C('\n'));
    return p ? std::size_t(p - t) + 1 : end;
  }

  // Calls fn(LineRef) for each line of the section's body in output order, dead lines included.
  template <class C, class Fn>
  void ForEachLine(const Section& s, const Parsed* p, Fn&& fn) const {
    if (p && p->modified) {
      auto put = [&](const Line& line) {
        LineRef<C> l;
        l.text = line.text;
        l.content = Text<C>(line.text).substr(0, line.len);
        l.eq = line.kind == kKey ? line.eq : View<C>::npos;
        l.dead = line.dead;
        fn(l);
      };
      if (p->anchor == kNone)
        for (std::uint32_t a = p->orig; a < p->lines.size(); ++a) put(p->lines[a]);
      for (std::uint32_t i = 0; i < p->orig; ++i) {
        put(p->lines[i]);
        if (i == p->anchor)
          for (std::uint32_t a = p->orig; a < p->lines.size(); ++a) put(p->lines[a]);
      }
      return;
    }
    for (const Span& span : s.body) {
      const C* t = bufs[span.buf].Data<C>();
      for (std::size_t pos = span.off; pos < span.off + span.len;) {
        const LineRef<C> l = ScanLine(t, span, pos);
        pos = l.text.off + l.text.len;
        fn(l);
      }
    }
  }

  // The parsed form of a section, built on first use.
  Parsed& EnsureParsed(std::uint32_t sec);

  template <class C>
  std::unique_ptr<Parsed> Parse(const Section& s);

  template <class C>
  View<C> KeyOf(const Line& l) const {
    return Trim(Text<C>(l.text).substr(0, l.eq));
  }

  // Probes for `key`: the matching live line's slot, or the empty slot ending the probe. Dead
  // lines stay in the table until it grows.
  template <class C, class K>
  std::size_t Probe(const Parsed& p, std::uint32_t h, View<K> key) const {
    const std::size_t mask = p.table.size() - 1;
    std::size_t i = h & mask;
    for (; p.table[i].line; i = (i + 1) & mask) {
      if (p.table[i].hash != h) continue;
      const Line& l = p.lines[p.table[i].line - 1];
      if (!l.dead && EqualNoCase(KeyOf<C>(l), key)) break;
    }
    return i;
  }

  static void Reserve(Parsed& p, std::size_t count) {
    if ((count + 1) * 2 <= p.table.size()) return;
    std::size_t cap = 16;
    while (cap < (count + 1) * 2) cap *= 2;
    std::vector<Slot> old = std::move(p.table);
    p.table.assign(cap, Slot{});
    p.used = 0;
    const std::size_t mask = cap - 1;
    for (const Slot& s : old) {
      if (!s.line || p.lines[s.line - 1].dead) continue;
      std::size_t i = s.hash & mask;
      while (p.table[i].line) i = (i + 1) & mask;
      p.table[i] = s;
      ++p.used;
    }
  }

  // Indexes a key line unless the section already has that key (the first one wins on read).
  template <class C>
  void Index(Parsed& p, std::uint32_t idx) {
    Reserve(p, p.used + 1);
    const Line& l = p.lines[idx];
    Slot& slot = p.table[Probe<C>(p, l.hash, KeyOf<C>(l))];
    if (slot.line) return;
    slot = Slot{l.hash, idx + 1};
    ++p.used;
  }

  // The line of a key, kNone when missing.
  template <class C>
  std::uint32_t FindKey(const Parsed& p, WStringView key) const {
    if (p.table.empty()) return kNone;
    key = Trim(key);
    return p.table[Probe<C>(p, KeyHash(key), key)].line - 1;  // kNone when empty
  }

  // The value of a key, unquoted; nullopt when the section or the key is missing.
  std::optional<ProfileText> Value(WStringView section, WStringView key);

  void ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx);

  // ---- writing -----------------------------------------------------------------------------

  // Converts every buffer to UTF-16 (once, when the first non-ASCII text arrives).
  void MakeWide();

  // ---- holes -------------------------------------------------------------------------------

  // Writes the text of buffer `id` from `at` on (not inside a hole) into out[0, len).
  template <class C>
  void TextAt(std::uint32_t id, std::size_t at, std::size_t len, C* out) const {
    const Buf& b = bufs[id];
    auto h =
        std::lower_bound(b.holes.begin(), b.holes.end(), at, [](const Hole& x, std::size_t v) { return x.at < v; });
    // units of holes before `at`
    std::size_t held = h == b.holes.begin() ? at : at - ((h - 1)->at + (h - 1)->Len() - (h - 1)->held);
    const C* t = b.Data<C>();
    const auto* raw = reinterpret_cast<const std::uint8_t*>(b.raw.get());
    for (std::size_t end = at + len; at < end;) {
      const std::size_t upto = (h != b.holes.end() && h->at < end) ? h->at : end;
      std::memcpy(out, t + held, (upto - at) * sizeof(C));
      out += upto - at;
      held += upto - at;
      at = upto;
      if (at == end) break;
      HexEncode(raw + h->raw, h->n, out);
      out += h->Len();
      at += h->Len();
      ++h;
    }
  }

  // Puts the digits of its holes into buffer `id`: its text is then held whole.
  template <class C>
  void Flatten(std::uint32_t id);

  // Before the lines of a section are looked at.
  void FlattenSection(const Section& s);

  // Appends text to the buffer for single writes; false when it cannot be held.
  template <class C>
  bool Append(std::initializer_list<WStringView> parts, Span& out);

  template <class C>
  WString ToWide(View<C> s) const {
    WString w(s.size(), u'\0');
    for (std::size_t i = 0; i < s.size(); ++i) w[i] = Unit(s[i]);
    return w;
  }

  // A new, empty section at the end of the file.
  template <class C>
  std::uint32_t NewSection(WStringView name);

  // A section or key name as this file holds it once written and read back: through the code
  // page in an ANSI file (AnsiName), exact in a UTF-16 one. Writes and lookups both go through
  // it, so a name finds what was written under it. The file must have been read (Ready).
  WStringView FileName(WStringView name, WString& held) const {
    if (encoding == Encoding::Utf16le || AllAscii(name)) return name;
    held = AnsiName(name);
    return held;
  }

  // Names that read back as written: a ']' would end the section name, a key starting with '['
  // would read as a section header and one starting with ';' as a comment.
  static bool ValidSection(WStringView section) {
    return !HasLineBreak(section) && section.find(u']') == WStringView::npos;
  }
  static bool ValidNames(WStringView section, WStringView key) {
    return KeyLeadsWell(key) && !HasLineBreak(key) && key.find(u'=') == WStringView::npos &&
           ValidSection(section);
  }

  bool Write(WStringView section, WStringView key, WStringView value);

  template <class C>
  bool WriteKey(WStringView section, WStringView key, WStringView value);

  void DeleteKey(WStringView section, WStringView key);

  // Every section of that name goes: lookups see only the first, and a copy left behind would
  // be the one found once the file is read again.
  void DeleteSection(WStringView section);

  // ---- the section writer's merge ----------------------------------------------------------

  struct Entry {
    std::uint32_t buf, off, keyLen, len;  // the line "key=value\r\n" and its key
    std::uint32_t held;                   // where the line starts in the units held
  };

  template <class C>
  static bool Same(View<C> a, View<C> b) {  // keys are short: no call
    const std::size_t n = a.size() * sizeof(C);
    if (a.size() != b.size()) return false;
    if (n >= 8 && n <= 16) {  // the first and the last eight bytes
      std::uint64_t x0, x1, y0, y1;
      const auto* p = reinterpret_cast<const char*>(a.data());
      const auto* q = reinterpret_cast<const char*>(b.data());
      std::memcpy(&x0, p, 8);
      std::memcpy(&y0, q, 8);
      std::memcpy(&x1, p + n - 8, 8);
      std::memcpy(&y1, q + n - 8, 8);
      return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

  // Applies a section writer's entries to the lines of one section as WriteString would one by
  // one: the first live line holding a key gets the key's last value, keys the section lacks are
  // appended after its last key line in the order they first appear. Keys are expected in the
  // order of the entries first, so that a section holding them in the same order needs no lookup.
  // The lines are handed over in order: Take a key line (false: keep it), Keep any line that
  // stays, KeyLineDone after each key line; Finish gives the section's new body.
  template <class C>
  class Merger;

  template <class C>
  bool Merge(WStringView section, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes,
             std::uint32_t base, bool repeated);

  enum class Streamed { kDone, kFailed, kNot };

  // Reads the file for a section writer's commit in one pass: the section's lines are merged as
  // they pass, and only what stays of the file is kept in memory, never the lines replaced. The
  // result is that of reading the file whole and merging. For files read as 8-bit ASCII; kNot,
  // with nothing changed, for any other.
  Streamed StreamMerge(WStringView section, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes,
                       std::uint32_t base, bool repeated);

  // ---- one section, read in one pass --------------------------------------------------------

  // Hands the key lines of the first section named `wanted` to fn while the file is read a piece
  // at a time: each line is parsed as a whole read would parse it, in the same encoding. Stops
  // after the section, or when fn returns false.
  static void StreamSection(int fd, WStringView wanted, bool (*fn)(void*, const ProfileEntry&), void* ctx);

  template <class C>
  static void MergeLine(Merger<C>& m, const LineRef<C>& l);

  // ---- output ------------------------------------------------------------------------------

  // Hands the text of the file, a piece at a time, to sink (a line end is added after a last line
  // that lacked one when more text follows).
  template <class C, class Sink>
  void Render(Sink&& sink) const;

  // Writes the file's bytes to sink(const char*, size) in the file's encoding, staging small
  // pieces; text already in the file's bytes is handed over without copying.
  template <class Sink>
  bool Output(Sink&& sink) const;

  std::size_t Units() const {
    std::size_t units = 0;
    for (const Buf& b : bufs) units += b.size;
    return units;
  }
};

// The file, read if that is still to be done.
template <class T>
T& Ready(T& d) {
  d.Ready();
  return d;
}
