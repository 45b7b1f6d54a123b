#pragma once
// Text work shared by the readers and writers of profile files: the ANSI code page the files are
// written in (profile_text.cpp), bulk character work on the file's text (SSE2 where there is
// one), and the helpers for names and values: case folding and hashing of keys, blanks, quotes
// and integers. Inline: the readers' inner loops call it for every line. Internal to
// platform/profile*.cpp.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define Q7V_HEX_AVX2 1  // AVX2 kernels where the processor has them, chosen at run time
#endif

#include <QChar>
#include <QStringEncoder>

#include "platform/text.h"

namespace profile_detail {

template <class C>
using View = std::basic_string_view<C>;

inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Offsets are 32-bit: no text buffer, file or line may reach this many units.
inline constexpr std::size_t kMaxUnits = 0x7FFFFFF0u;

// ---- ANSI code page (profile_text.cpp) ------------------------------------------------------

enum class CodePage { Cp1252, Latin1, Named };

struct AnsiSetting {
  CodePage kind = CodePage::Cp1252;
  std::string name;
  bool asciiSafe = true;  // ASCII text is the same bytes in this code page
};

AnsiSetting CurrentCodePage();

// windows-1252 0x80..0x9F; the five unassigned bytes map to the same code points, as Windows does.
inline constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

WString DecodeNamed(const std::string& name, const char* p, std::size_t n);
// Encodes text with enc, which keeps its state from one piece of a text to the next.
std::string EncodeNamed(QStringEncoder& enc, WStringView text);
std::string EncodeNamed(const std::string& name, WStringView text);
// Appends text in windows-1252 (best-fit characters for the rest) or Latin-1.
void AppendSingleByte(std::string& out, WStringView text, CodePage kind);
// A section or key name as an ANSI file holds it once written and read back: converted to the
// code page (best fit or '?') and back. Lookups in ANSI files use it too, so that a name finds
// what was written under it.
WString AnsiName(WStringView name);

// The value of a hex digit, -1 for any other character.
inline constexpr int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// ---- bulk character work --------------------------------------------------------------------

inline bool AllAscii(const char* p, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
  if (_mm_movemask_epi8(acc)) return false;
#endif
  unsigned char all = 0;
  for (; i < n; ++i) all |= static_cast<unsigned char>(p[i]);
  return all < 0x80;
}

inline bool AllAscii(WStringView s) {
  char16_t acc = 0;
  for (char16_t c : s) acc |= c;
  return acc < 0x80;
}

// ASCII widened unit by unit.
inline void Widen(const char* src, std::size_t n, char16_t* dst) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < n; ++i) dst[i] = char16_t(static_cast<unsigned char>(src[i]));
}

// ASCII units narrowed (callers checked that every unit is below 0x80).
inline void Narrow(const char16_t* src, std::size_t n, char* dst) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = char(src[i]);
}

// First c in [p, p + n), or nullptr.
inline const char* Find(const char* p, std::size_t n, char c) {
  return n ? static_cast<const char*>(std::memchr(p, c, n)) : nullptr;
}

inline const char16_t* Find(const char16_t* p, std::size_t n, char16_t c) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi16(short(c));
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int m = _mm_movemask_epi8(_mm_cmpeq_epi16(v, needle));
    if (m) return p + i + (std::countr_zero(unsigned(m)) >> 1);
  }
#endif
  for (; i < n; ++i)
    if (p[i] == c) return p + i;
  return nullptr;
}

// Lines may end in CR alone (files from old editors on other systems). Such a "lone" CR is one
// followed by anything but LF; one as the last unit ends the last line and needs nothing.
template <class C>
bool HasLoneCr(const C* t, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if constexpr (sizeof(C) == 1) {
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; i + 17 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + 1));
      if (_mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(v, cr)))) return true;
    }
  }
#endif
  for (; i + 1 < n; ++i)
    if (t[i] == C('\r') && t[i + 1] != C('\n')) return true;
  return false;
}

#if defined(Q7V_HEX_AVX2)
bool HasAvx2();
// AsciiScan's kernel for whole blocks of 32 bytes (and one byte after them): ORs the bytes into
// `all`, sets `lone` on a lone CR; returns how many bytes it took.
std::size_t AsciiScanAvx2(const char* p, std::size_t n, unsigned& all, bool& lone);
#endif

// AllAscii and HasLoneCr of 8-bit text in one pass (for text as it is read): whether all of it
// is ASCII; `loneCr` is set when it holds a lone CR.
inline bool AsciiScan(const char* p, std::size_t n, bool& loneCr) {
  std::size_t i = 0;
  unsigned all = 0;
  bool lone = false;
#if defined(Q7V_HEX_AVX2)
  if (n >= 256 && HasAvx2()) i = AsciiScanAvx2(p, n, all, lone);
#endif
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128(), hit = _mm_setzero_si128();
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; i + 17 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
    acc = _mm_or_si128(acc, v);
    hit = _mm_or_si128(hit, _mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(v, cr)));
  }
  all |= unsigned(_mm_movemask_epi8(acc)) ? 0x80u : 0u;
  lone |= _mm_movemask_epi8(hit) != 0;
#endif
  for (; i < n; ++i) {
    all |= static_cast<unsigned char>(p[i]);
    lone |= p[i] == '\r' && i + 1 < n && p[i + 1] != '\n';
  }
  loneCr = loneCr || lone;
  return all < 0x80;
}

// Copies the run of ASCII units from text[i] on; returns where it stopped.
inline std::size_t CopyAscii(WStringView text, std::size_t i, char* dst, std::size_t& o) {
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

// ---- text helpers ---------------------------------------------------------------------------

inline char16_t Unit(char c) { return char16_t(static_cast<unsigned char>(c)); }
inline char16_t Unit(char16_t c) { return c; }

// Names compare as the platform does: each UTF-16 unit upper-cased on its own.
inline char16_t Fold(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  const char32_t u = QChar::toUpper(char32_t(c));
  return u <= 0xFFFF ? char16_t(u) : c;
}

template <class A, class B>
bool EqualNoCase(View<A> a, View<B> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = Unit(a[i]), y = Unit(b[i]);
    if (x != y && Fold(x) != Fold(y)) return false;
  }
  return true;
}

// Hash of the folded key, the same for both widths of a text. Keys that differ only in a trailing
// number ("Layer12Point0", "Layer12Point1", ...) are read and written in runs; runs of 64
// numbers hash to neighbouring slots, so that a run costs one cache miss instead of one per key.
template <class C>
std::uint32_t KeyHash(View<C> key) {
  std::size_t stem = key.size();
  std::uint32_t number = 0;
  while (stem > 0 && key.size() - stem < 9 && key[stem - 1] >= C('0') && key[stem - 1] <= C('9')) --stem;
  for (std::size_t i = stem; i < key.size(); ++i) number = number * 10 + std::uint32_t(key[i] - C('0'));

  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = (std::uint64_t(stem) ^ (std::uint64_t(number >> 6) << 40)) * kMul;
  std::uint64_t w = 0;
  int shift = 0;
  for (std::size_t i = 0; i < stem; ++i) {
    w |= std::uint64_t(Fold(Unit(key[i]))) << shift;
    if ((shift += 16) == 64) {
      h = (h ^ w) * kMul;
      h ^= h >> 32;  // the high units of a word would otherwise only reach the high bits
      w = 0;
      shift = 0;
    }
  }
  h = (h ^ w ^ (std::uint64_t(key.size() - stem) << 60)) * kMul;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return std::uint32_t(h ^ (h >> 32)) + (number & 63);
}

// Hash of the folded key for texts of one width (the keys of a section writer and of the section
// it is merged into), eight 8-bit characters at a time. Well mixed: the batch is probed linearly,
// and runs of neighbouring slots would cluster.
inline constexpr std::uint64_t kHashMul = 0x9E3779B97F4A7C15ull;

// Eight 8-bit ASCII characters with 'a'..'z' upper-cased.
inline std::uint64_t FoldWord(std::uint64_t w) {
  const std::uint64_t geA = w + 0x1F1F1F1F1F1F1F1Full;  // bit 7 set from 'a' (0x61) on
  const std::uint64_t gtZ = w + 0x0505050505050505ull;  // bit 7 set above 'z' (0x7A)
  return w - (((geA & ~gtZ) & 0x8080808080808080ull) >> 2);
}

// One word into a hash: the high half is folded down, or differences in the high bytes of the
// words (the digits of "Layer12Point3") would only ever reach the high bits.
inline std::uint64_t MixWord(std::uint64_t h, std::uint64_t w) {
  h = (h ^ w) * kHashMul;
  return h ^ (h >> 32);
}

inline std::uint32_t FinishHash(std::uint64_t h) {
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return std::uint32_t(h ^ (h >> 32));
}

template <class C>
std::uint32_t BatchHash(View<C> key) {
  std::uint64_t h = std::uint64_t(key.size()) * kHashMul;
  if constexpr (sizeof(C) != 1) {
    std::uint64_t w = 0;
    int shift = 0;
    for (const char16_t c : key) {
      w |= std::uint64_t(Fold(c)) << shift;
      if ((shift += 16) == 64) {
        h = MixWord(h, w);
        w = 0;
        shift = 0;
      }
    }
    h = MixWord(h, w);
  } else {
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
      std::uint64_t w;
      std::memcpy(&w, key.data() + i, 8);
      h = MixWord(h, FoldWord(w));
    }
    std::uint64_t w = 0;
    std::memcpy(&w, key.data() + i, key.size() - i);
    h = MixWord(h, FoldWord(w));
  }
  return FinishHash(h);
}

// Copies a key into 8-bit text, checking it on the way: 1; 0 for a key with a line break or '=';
// -1 for one that is not ASCII. Sets hash to BatchHash of the copy.
inline int NarrowKey(WStringView key, char* dst, std::uint32_t& hash) {
  std::size_t i = 0;
  bool bad = false;
  char16_t all = 0;
  std::uint64_t h = std::uint64_t(key.size()) * kHashMul, w = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128(), hit = _mm_setzero_si128();
  const __m128i lf = _mm_set1_epi16('\n'), cr = _mm_set1_epi16('\r'), eq = _mm_set1_epi16('=');
  for (; i + 8 <= key.size(); i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data() + i));
    acc = _mm_or_si128(acc, v);
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
    const __m128i bytes = _mm_packus_epi16(v, v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&w), bytes);
    h = MixWord(h, FoldWord(w));
    w = 0;
  }
  if (i < key.size() && key.size() >= 8) {  // the last units: the last eight, again in part
    const std::size_t last = key.size() - 8, tail = key.size() - i;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data() + last));
    acc = _mm_or_si128(acc, v);
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + last), _mm_packus_epi16(v, v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&w), _mm_packus_epi16(v, v));
    w >>= 8 * (8 - tail);  // the units not seen before, from the low byte on
    i = key.size();
  }
  bad = _mm_movemask_epi8(hit) != 0;
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(acc, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128())) !=
      0xFFFF)
    all = 0x80;
#endif
  for (int shift = 0; i < key.size(); ++i, shift += 8) {
    const char16_t c = key[i];
    all |= c;
    bad |= c == u'\n' || c == u'\r' || c == u'=';
    dst[i] = char(c);
    w |= std::uint64_t(c & 0xFF) << shift;
  }
  hash = FinishHash(MixWord(h, FoldWord(w)));
  return bad ? 0 : all >= 0x80 ? -1 : 1;
}

// Section names: looked up without folding a copy of the name.
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(WStringView s) const { return KeyHash(s); }
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(WStringView a, WStringView b) const { return EqualNoCase(a, b); }
};

template <class C>
inline bool IsBlank(C c) {
  return c == C(' ') || c == C('\t') || c == C('\r') || c == C('\v') || c == C('\f');
}

template <class C>
[[gnu::always_inline]] inline View<C> Trim(View<C> s) {
  if (s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()))) return s;
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

template <class C>
View<C> Unquote(View<C> v) {
  if (v.size() >= 2 && (v.front() == C('"') || v.front() == C('\'')) && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

inline bool HasLineBreak(WStringView s) { return Find(s.data(), s.size(), u'\n') || Find(s.data(), s.size(), u'\r'); }

// A (trimmed) key that reads back as a key: one starting with '[' would read as a section
// header, one starting with ';' as a comment.
inline bool KeyLeadsWell(WStringView key) { return !key.empty() && key.front() != u'[' && key.front() != u';'; }

// One pass over a key (refused with a line break or '=') or a value (refused with a line break);
// tells whether it is ASCII.
inline bool CheckText(WStringView s, bool key, bool& ascii) {
  char16_t all = 0;
  bool bad = false;
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128(), hit = _mm_setzero_si128();
  const __m128i lf = _mm_set1_epi16('\n'), cr = _mm_set1_epi16('\r'), eq = _mm_set1_epi16(key ? '=' : '\n');
  for (; i + 8 <= s.size(); i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    acc = _mm_or_si128(acc, v);
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
  }
  bad = _mm_movemask_epi8(hit) != 0;
  all = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(acc, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128())) ==
                0xFFFF
            ? 0
            : 0x80;
#endif
  for (const char16_t c : s.substr(i)) {
    all |= c;
    bad |= c == u'\n' || c == u'\r' || (key && c == u'=');
  }
  ascii = all < 0x80;
  return !bad;
}

// As the platform reads an integer: control characters and blanks skipped, a sign, then the
// lower-case prefixes "0x", "0o" and "0b" (hexadecimal, octal, binary; "0X" is no prefix).
template <class C>
std::int32_t ParseInt(View<C> v, std::int32_t def) {
  if (v.empty()) return def;
  while (!v.empty() && Unit(v.front()) <= u' ') v.remove_prefix(1);
  bool negative = false;
  if (!v.empty() && (v.front() == C('-') || v.front() == C('+'))) {
    negative = v.front() == C('-');
    v.remove_prefix(1);
  }
  std::uint32_t base = 10;
  if (v.size() >= 2 && v[0] == C('0')) {
    if (v[1] == C('x')) base = 16;
    if (v[1] == C('o')) base = 8;
    if (v[1] == C('b')) base = 2;
    if (base != 10) v.remove_prefix(2);
  }
  std::uint32_t acc = 0;  // wraps like the platform's 32-bit conversion
  for (C c : v) {
    const int digit = HexDigit(Unit(c));
    if (digit < 0 || std::uint32_t(digit) >= base) break;
    acc = acc * base + std::uint32_t(digit);
  }
  return std::bit_cast<std::int32_t>(negative ? 0u - acc : acc);
}

}  // namespace profile_detail
