#include "platform/profile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>  // AVX2 where the processor has it, chosen at run time
#define Q7V_HEX_AVX2 1
#endif

#include <QChar>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

template <class C>
using View = std::basic_string_view<C>;

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Offsets are 32-bit: no text buffer, file or line may reach this many units.
constexpr std::size_t kMaxUnits = 0x7FFFFFF0u;

// ---- ANSI code page -------------------------------------------------------------------------

enum class CodePage { Cp1252, Latin1, Named };

struct AnsiSetting {
  CodePage kind = CodePage::Cp1252;
  std::string name;
  bool asciiSafe = true;  // ASCII text is the same bytes in this code page
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

// Encodes text with enc, which keeps its state from one piece of a text to the next.
std::string EncodeNamed(QStringEncoder& enc, WStringView text) {
  const QByteArray bytes = enc.encode(QStringView(text.data(), qsizetype(text.size())));
  std::string out(bytes.constData(), std::size_t(bytes.size()));
  // Some converters substitute SUB (0x1A) for what they cannot hold; the platform writes '?'.
  if (enc.hasError() && text.find(u'\x1A') == WStringView::npos)
    for (char& c : out)
      if (c == '\x1A') c = '?';
  return out;
}

std::string EncodeNamed(const std::string& name, WStringView text) {
  QStringEncoder enc(name.c_str());
  return EncodeNamed(enc, text);
}

// ---- bulk character work --------------------------------------------------------------------

bool AllAscii(const char* p, std::size_t n) {
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

bool AllAscii(WStringView s) {
  char16_t acc = 0;
  for (char16_t c : s) acc |= c;
  return acc < 0x80;
}

// ASCII widened unit by unit.
void Widen(const char* src, std::size_t n, char16_t* dst) {
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
void Narrow(const char16_t* src, std::size_t n, char* dst) {
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

// ---- struct encoding ------------------------------------------------------------------------

constexpr int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

constexpr auto kHexPair = [] {
  std::array<std::array<char, 2>, 256> t{};
  constexpr char digits[] = "0123456789ABCDEF";
  for (int b = 0; b < 256; ++b) t[std::size_t(b)] = {digits[b >> 4], digits[b & 15]};
  return t;
}();

constexpr auto kNibble = [] {
  std::array<std::int8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[std::size_t(c)] = std::int8_t(HexDigit(char16_t(c)));
  return t;
}();

#if defined(Q7V_HEX_AVX2)
#define Q7V_AVX2 __attribute__((target("avx2")))

struct Avx2HexDigits {  // turns 32 hex digits into 32 nibbles, noting any non-digit
  __m256i nine, five, ten, zeroChar, lowerA, caseBit, lowByte, ok;

  Q7V_AVX2 Avx2HexDigits()
      : nine(_mm256_set1_epi8(9)), five(_mm256_set1_epi8(5)), ten(_mm256_set1_epi8(10)),
        zeroChar(_mm256_set1_epi8('0')), lowerA(_mm256_set1_epi8('a')), caseBit(_mm256_set1_epi8(0x20)),
        lowByte(_mm256_set1_epi16(0x00FF)), ok(_mm256_set1_epi8(-1)) {}

  Q7V_AVX2 __m256i Nibbles(__m256i v) {
    const __m256i d = _mm256_sub_epi8(v, zeroChar);
    const __m256i isDigit = _mm256_cmpeq_epi8(_mm256_min_epu8(d, nine), d);
    const __m256i l = _mm256_sub_epi8(_mm256_or_si256(v, caseBit), lowerA);
    const __m256i isLetter = _mm256_cmpeq_epi8(_mm256_min_epu8(l, five), l);
    ok = _mm256_and_si256(ok, _mm256_or_si256(isDigit, isLetter));
    return _mm256_or_si256(_mm256_and_si256(isDigit, d), _mm256_and_si256(isLetter, _mm256_add_epi8(l, ten)));
  }
  // 16 bytes in 16-bit lanes, high nibble first
  Q7V_AVX2 __m256i Pairs(__m256i nib) const {
    return _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(nib, lowByte), 4), _mm256_srli_epi16(nib, 8));
  }
};

// The bulk of HexDecode for 8-bit text on processors with AVX2: 32 bytes from 64 digits at a
// time. Returns how many bytes it decoded (a multiple of 32); `valid` turns false on a non-digit.
Q7V_AVX2 std::size_t HexDecodeAvx2(const char* in, std::size_t n, std::uint8_t* out, std::uint32_t& sum, bool& valid) {
  Avx2HexDigits h;
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc = zero;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i a = h.Pairs(h.Nibbles(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i))));
    const __m256i b = h.Pairs(h.Nibbles(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i + 32))));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);  // packing works per half
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(bytes, zero));
    if (out) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bytes);
  }
  valid = valid && _mm256_movemask_epi8(h.ok) == -1;
  alignas(32) std::uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc);
  sum += std::uint32_t(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
  return i;
}

// The bulk of HexEncode for 8-bit text on processors with AVX2: 64 digits from 32 bytes at a
// time. Returns how many bytes it encoded (a multiple of 32).
Q7V_AVX2 std::size_t HexEncodeAvx2(const std::uint8_t* data, std::size_t n, char* out, std::uint32_t& sum) {
  const __m256i zero = _mm256_setzero_si256(), low = _mm256_set1_epi8(0x0F);
  const __m256i nine = _mm256_set1_epi8(9), seven = _mm256_set1_epi8(7), zeroChar = _mm256_set1_epi8('0');
  __m256i acc = zero;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(b, zero));
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(b, 4), low), lo = _mm256_and_si256(b, low);
    __m256i a = _mm256_unpacklo_epi8(hi, lo), c = _mm256_unpackhi_epi8(hi, lo);  // high digit first, per half
    a = _mm256_add_epi8(_mm256_add_epi8(a, zeroChar), _mm256_and_si256(_mm256_cmpgt_epi8(a, nine), seven));
    c = _mm256_add_epi8(_mm256_add_epi8(c, zeroChar), _mm256_and_si256(_mm256_cmpgt_epi8(c, nine), seven));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), _mm256_permute2x128_si256(a, c, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i + 32), _mm256_permute2x128_si256(a, c, 0x31));
  }
  alignas(32) std::uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc);
  sum += std::uint32_t(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
  return i;
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

// Writes the 2 * n + 2 digits of the struct encoding of data (checksum last) to out.
template <class C>
void HexEncode(const std::uint8_t* data, std::size_t n, C* out) {
  std::size_t i = 0;
  std::uint32_t sum = 0;
#if defined(Q7V_HEX_AVX2)
  if constexpr (sizeof(C) == 1) {
    if (n >= 64 && HasAvx2()) i = HexEncodeAvx2(data, n, out, sum);
  }
#endif
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi8(0x0F);
  const __m128i nine = _mm_set1_epi8(9), seven = _mm_set1_epi8(7), zeroChar = _mm_set1_epi8('0');
  auto ascii = [&](__m128i nib) {  // 0..15 -> '0'..'9', 'A'..'F'
    return _mm_add_epi8(_mm_add_epi8(nib, zeroChar), _mm_and_si128(_mm_cmpgt_epi8(nib, nine), seven));
  };
  __m128i acc = zero;
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(b, zero));
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(b, 4), low), lo = _mm_and_si128(b, low);
    const __m128i a = ascii(_mm_unpacklo_epi8(hi, lo)), c = ascii(_mm_unpackhi_epi8(hi, lo));
    C* o = out + 2 * i;
    if constexpr (sizeof(C) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), c);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(a, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(a, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpacklo_epi8(c, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm_unpackhi_epi8(c, zero));
    }
  }
  if (i + 8 <= n) {  // half a block: a point is 8 bytes
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + i));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(b, zero));
    const __m128i a = ascii(_mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(b, 4), low), _mm_and_si128(b, low)));
    C* o = out + 2 * i;
    if constexpr (sizeof(C) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(a, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(a, zero));
    }
    i += 8;
  }
  sum += std::uint32_t(_mm_cvtsi128_si32(acc)) + std::uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc)));
#endif
  for (; i < n; ++i) {
    sum += data[i];
    out[2 * i] = C(kHexPair[data[i]][0]);
    out[2 * i + 1] = C(kHexPair[data[i]][1]);
  }
  out[2 * n] = C(kHexPair[sum & 0xFF][0]);
  out[2 * n + 1] = C(kHexPair[sum & 0xFF][1]);
}


// Decodes the 2 * n hex digits at in into out (when out is not null) and adds the bytes to sum;
// false when any of them is not a hex digit.
template <class C>
bool HexDecode(const C* in, std::size_t n, std::uint8_t* out, std::uint32_t& sum) {
  std::size_t i = 0;
  bool ok = true;
#if defined(Q7V_HEX_AVX2)
  if constexpr (sizeof(C) == 1) {
    if (n >= 64 && HasAvx2()) i = HexDecodeAvx2(in, n, out, sum, ok);
  }
#endif
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i nine = _mm_set1_epi8(9), five = _mm_set1_epi8(5), ten = _mm_set1_epi8(10);
  const __m128i zeroChar = _mm_set1_epi8('0'), lowerA = _mm_set1_epi8('a'), caseBit = _mm_set1_epi8(0x20);
  const __m128i lowByte = _mm_set1_epi16(0x00FF);
  auto load = [&](const C* p) {  // 16 characters as bytes; units beyond 0xFF become non-digits
    if constexpr (sizeof(C) == 1) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
      return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
    }
  };
  __m128i valid = _mm_cmpeq_epi8(zero, zero), acc = zero;
  auto nibbles = [&](__m128i v) {
    const __m128i d = _mm_sub_epi8(v, zeroChar);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
    const __m128i l = _mm_sub_epi8(_mm_or_si128(v, caseBit), lowerA);
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(l, five), l);
    valid = _mm_and_si128(valid, _mm_or_si128(isDigit, isLetter));
    return _mm_or_si128(_mm_and_si128(isDigit, d), _mm_and_si128(isLetter, _mm_add_epi8(l, ten)));
  };
  auto pairs = [&](__m128i nib) {  // 8 bytes in 16-bit lanes: high nibble first
    return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(nib, lowByte), 4), _mm_srli_epi16(nib, 8));
  };
  for (; i + 16 <= n; i += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(in + 2 * i) + 1024, _MM_HINT_T0);
    const __m128i bytes = _mm_packus_epi16(pairs(nibbles(load(in + 2 * i))), pairs(nibbles(load(in + 2 * i + 16))));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(bytes, zero));
    if (out) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
  }
  if (i + 8 <= n) {  // half a block: a point is 8 bytes
    const __m128i bytes = _mm_packus_epi16(pairs(nibbles(load(in + 2 * i))), zero);
    acc = _mm_add_epi64(acc, _mm_sad_epu8(bytes, zero));
    if (out) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), bytes);
    i += 8;
  }
  ok = ok && _mm_movemask_epi8(valid) == 0xFFFF;
  sum += std::uint32_t(_mm_cvtsi128_si32(acc)) + std::uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc)));
#endif
  for (; i < n; ++i) {
    const char16_t hi = char16_t(in[2 * i]), lo = char16_t(in[2 * i + 1]);
    const int h = hi < 256 ? kNibble[hi] : -1, l = lo < 256 ? kNibble[lo] : -1;
    ok &= (h | l) >= 0;
    const auto b = std::uint8_t((h & 15) << 4 | (l & 15));
    sum += b;
    if (out) out[i] = b;
  }
  return ok;
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
constexpr std::uint64_t kHashMul = 0x9E3779B97F4A7C15ull;

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
int NarrowKey(WStringView key, char* dst, std::uint32_t& hash) {
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
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
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
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + last), _mm_packus_epi16(v, v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&w), _mm_packus_epi16(v, v));
    w >>= 8 * (8 - tail);  // the units not seen before, from the low byte on
    i = key.size();
  }
  bad = _mm_movemask_epi8(hit) != 0;
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(acc, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128())) != 0xFFFF)
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

bool HasLineBreak(WStringView s) { return Find(s.data(), s.size(), u'\n') || Find(s.data(), s.size(), u'\r'); }

// One pass over a key (refused with a line break or '=') or a value (refused with a line break);
// tells whether it is ASCII.
bool CheckText(WStringView s, bool key, bool& ascii) {
  char16_t all = 0;
  bool bad = false;
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128(), hit = _mm_setzero_si128();
  const __m128i lf = _mm_set1_epi16('\n'), cr = _mm_set1_epi16('\r'), eq = _mm_set1_epi16(key ? '=' : '\n');
  for (; i + 8 <= s.size(); i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    acc = _mm_or_si128(acc, v);
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)), _mm_cmpeq_epi16(v, eq)));
  }
  bad = _mm_movemask_epi8(hit) != 0;
  all = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(acc, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128())) == 0xFFFF ? 0 : 0x80;
#endif
  for (const char16_t c : s.substr(i)) {
    all |= c;
    bad |= c == u'\n' || c == u'\r' || (key && c == u'=');
  }
  ascii = all < 0x80;
  return !bad;
}

template <class C>
std::int32_t ParseInt(View<C> v, std::int32_t def) {
  if (v.empty()) return def;
  bool negative = false;
  if (v.front() == C('-') || v.front() == C('+')) {
    negative = v.front() == C('-');
    v.remove_prefix(1);
  }
  std::uint32_t base = 10;
  if (v.size() >= 2 && v[0] == C('0') && (v[1] == C('x') || v[1] == C('X'))) {
    base = 16;
    v.remove_prefix(2);
  }
  std::uint32_t acc = 0;  // wraps like the platform's 32-bit conversion
  for (C c : v) {
    const int digit = HexDigit(Unit(c));
    if (digit < 0 || std::uint32_t(digit) >= base) break;
    acc = acc * base + std::uint32_t(digit);
  }
  return std::bit_cast<std::int32_t>(negative ? 0u - acc : acc);
}

template <class C>
bool DecodeStruct(View<C> text, std::span<std::uint8_t> out) {
  text = Trim(text);
  const std::size_t n = out.size();
  if (text.size() != 2 * n + 2) return false;
  std::uint32_t sum = 0;
  // `out` stays untouched by a damaged value: decode into a buffer, or validate first
  if (n < 4096) {
    std::array<std::uint8_t, 4096> tmp;
    // the sum of the data bytes is the last byte when the sum of all is twice the last byte
    if (!HexDecode(text.data(), n + 1, tmp.data(), sum) || std::uint8_t(sum) != std::uint8_t(2 * tmp[n]))
      return false;
    std::memcpy(out.data(), tmp.data(), n);
    return true;
  }
  std::uint8_t last = 0;
  std::uint32_t check = 0;
  if (!HexDecode(text.data() + 2 * n, 1, &last, check)) return false;
  if (!HexDecode(text.data(), n, nullptr, sum) || std::uint8_t(sum) != last) return false;
  return HexDecode(text.data(), n, out.data(), sum);
}

// ---- text buffers ---------------------------------------------------------------------------

// Memory for text starts on a page: the kernel copies to and from it faster.
constexpr std::size_t kPage = 4096;
struct PageDelete {
  void operator()(std::byte* p) const { ::operator delete[](p, std::align_val_t(kPage)); }
};
using Mem = std::unique_ptr<std::byte[], PageDelete>;
Mem NewMem(std::size_t bytes) { return Mem(new (std::align_val_t(kPage)) std::byte[std::max<std::size_t>(bytes, 1)]); }

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
  std::size_t skip = 0;  // bytes before unit 0 (a byte order mark read with the file)
  std::size_t size = 0;  // text units, holes included
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

}  // namespace

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
    Span text;                 // the whole line, line end included
    std::uint32_t len = 0;     // content without the line end
    std::uint32_t eq = 0;      // position of '=' in a key line
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
  int Open() {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) loadFailed = errno != ENOENT && errno != ENOTDIR;
    return fd;
  }

  // Reads the file if that is still to be done.
  void Ready() {
    std::lock_guard lock(parseMutex);
    if (!unread) return;
    unread = false;
    const int fd = Open();
    if (fd < 0) return;
    if (!Read(fd)) {
      loadFailed = true;
      bufs.clear();
    }
    ::close(fd);
  }

  // Reads the file in pieces, each looked at for section headers while it is still in the cache.
  bool Read(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) >= kMaxUnits) return false;
    // read, not mapped: a file cut short by another program meanwhile must not crash us
    const auto size = std::size_t(st.st_size);
    Mem bytes = NewMem(size + 1);
    const auto* t = reinterpret_cast<const char*>(bytes.get());
    constexpr std::size_t kPiece = std::size_t(1) << 19;
    HeaderScan scan;
    bool look = false;
    std::size_t got = 0;
    while (got < size) {
      const ssize_t r = ::read(fd, bytes.get() + got, std::min(size - got, kPiece));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return false;
      if (r == 0) break;
      if (got < 2 && got + std::size_t(r) >= 2)  // not for UTF-16, nor for code pages read otherwise
        look = !(t[0] == '\xFF' && t[1] == '\xFE') && CurrentCodePage().asciiSafe;
      got += std::size_t(r);
      if (look) {
        FindHeaders(t, scan.done, got, scan.high, scan.at);
        scan.done = got;
      }
    }
    Load(std::move(bytes), got, scan);
    return true;
  }

  void Load(Mem bytes, std::size_t n, HeaderScan& scan) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.get());
    const AnsiSetting cp = CurrentCodePage();
    Buf buf;
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
      encoding = Encoding::Utf16le;
      const std::size_t units = (n - 2) / 2;
      if constexpr (std::endian::native == std::endian::little) {
        buf.mem = std::move(bytes);
        buf.skip = 2;
      } else {
        buf = Buf::Make<char16_t>(units);
        for (std::size_t i = 0; i < units; ++i) buf.Data<char16_t>()[i] = char16_t(b[2 + 2 * i] | (b[3 + 2 * i] << 8));
      }
      buf.size = buf.held = buf.cap = units;
    } else {
      if (cp.asciiSafe) {
        // kept as read while it is ASCII (found out by the same pass that finds the sections)
        buf.mem = std::move(bytes);
        buf.size = buf.held = buf.cap = n;
        bufs.push_back(std::move(buf));
        if (scan.done != n) {
          scan = HeaderScan{};
          FindHeaders(reinterpret_cast<const char*>(b), 0, n, scan.high, scan.at);
        }
        if (scan.high < 0x80) {
          BuildSections<char>(scan.at);
          return;
        }
        bytes = std::move(bufs[0].mem);
        bufs.clear();
        buf = Buf{};
      }
      if (cp.kind == CodePage::Named) {
        const WString text = DecodeNamed(cp.name, reinterpret_cast<const char*>(b), n);
        buf = Buf::Make<char16_t>(text.size());
        std::memcpy(buf.Data<char16_t>(), text.data(), text.size() * 2);
        buf.size = buf.held = text.size();
      } else {
        buf = Buf::Make<char16_t>(n);
        char16_t* dst = buf.Data<char16_t>();
        for (std::size_t i = 0; i < n; ++i)
          dst[i] = (cp.kind == CodePage::Cp1252 && b[i] >= 0x80 && b[i] < 0xA0) ? kCp1252High[b[i] - 0x80] : b[i];
        buf.size = buf.held = n;
      }
    }
    wide = true;
    bufs.push_back(std::move(buf));
    unsigned unused = 0;
    std::vector<std::size_t> at;
    FindHeaders(bufs[0].Data<char16_t>(), 0, bufs[0].size, unused, at);
    BuildSections<char16_t>(at);
  }

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
  void BuildSections(const std::vector<std::size_t>& headers) {
    const C* t = bufs[0].Data<C>();
    const std::size_t n = bufs[0].size;
    std::size_t bodyStart = 0;
    for (const std::size_t at : headers) {
      std::size_t lineStart = at;
      while (lineStart > 0 && IsBlank(t[lineStart - 1])) --lineStart;
      const C* nl = Find(t + at, n - at, C('\n'));
      const std::size_t next = nl ? std::size_t(nl - t) + 1 : n;
      AddBody(sections.back(), bodyStart, lineStart);
      Section s;
      s.header = Span{0, std::uint32_t(lineStart), std::uint32_t(next - lineStart)};
      AddSectionName(HeaderName(View<C>(t + at, next - at)), std::uint32_t(sections.size()));
      sections.push_back(std::move(s));
      bodyStart = next;
    }
    AddBody(sections.back(), bodyStart, n);
  }

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
  Parsed& EnsureParsed(std::uint32_t sec) {
    std::lock_guard lock(parseMutex);
    Section& s = sections[sec];
    if (!s.parsed) {
      FlattenSection(s);
      Dispatch([&](auto tag) { s.parsed = Parse<decltype(tag)>(s); });
    }
    return *s.parsed;
  }

  template <class C>
  std::unique_ptr<Parsed> Parse(const Section& s) {
    auto p = std::make_unique<Parsed>();
    ForEachLine<C>(s, nullptr, [&](const LineRef<C>& l) {
      Line line;
      line.text = l.text;
      line.len = std::uint32_t(l.content.size());
      if (l.eq != View<C>::npos) {
        line.kind = kKey;
        line.eq = std::uint32_t(l.eq);
        line.hash = KeyHash(l.Key());
        p->anchor = std::uint32_t(p->lines.size());
      }
      p->lines.push_back(line);
    });
    p->orig = std::uint32_t(p->lines.size());
    Reserve(*p, p->lines.size());
    const std::size_t mask = p->table.size() - 1;
    for (std::uint32_t i = 0; i < p->orig; ++i) {
      // indexing is bound by cache misses in the table: fetch the slots a few lines ahead
      if (i + 16 < p->orig) __builtin_prefetch(&p->table[p->lines[i + 16].hash & mask]);
      if (p->lines[i].kind == kKey) Index<C>(*p, i);
    }
    return p;
  }

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
  std::optional<ProfileText> Value(WStringView section, WStringView key) {
    const std::uint32_t sec = FindSection(section);
    if (sec == kNone) return std::nullopt;
    const Parsed& p = EnsureParsed(sec);
    return Dispatch([&](auto tag) -> std::optional<ProfileText> {
      using C = decltype(tag);
      const std::uint32_t idx = FindKey<C>(p, key);
      if (idx == kNone) return std::nullopt;
      const Line& l = p.lines[idx];
      return ProfileText(Unquote(Trim(Text<C>(l.text).substr(l.eq + 1, l.len - l.eq - 1))));
    });
  }

  void ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx) {
    const std::uint32_t sec = FindSection(section);
    if (sec == kNone) return;
    const Parsed* p;
    {
      std::lock_guard lock(parseMutex);
      p = sections[sec].parsed.get();
      if (!p || !p->modified) FlattenSection(sections[sec]);
    }
    Dispatch([&](auto tag) {
      using C = decltype(tag);
      bool more = true;
      ForEachLine<C>(sections[sec], p, [&](const LineRef<C>& l) {
        if (!more || l.dead || l.eq == View<C>::npos) return;
        more = fn(ctx, ProfileEntry{ProfileText(l.Key()), ProfileText(l.Value())});
      });
    });
  }

  // ---- writing -----------------------------------------------------------------------------

  // Converts every buffer to UTF-16 (once, when the first non-ASCII text arrives).
  void MakeWide() {
    if (wide) return;
    for (std::uint32_t i = 0; i < bufs.size(); ++i) Flatten<char>(i);
    for (Buf& b : bufs) {
      Buf w = Buf::Make<char16_t>(b.cap);
      Widen(b.Data<char>(), b.size, w.Data<char16_t>());
      w.size = w.held = b.size;
      b = std::move(w);
    }
    wide = true;
  }

  // ---- holes -------------------------------------------------------------------------------

  // Writes the text of buffer `id` from `at` on (not inside a hole) into out[0, len).
  template <class C>
  void TextAt(std::uint32_t id, std::size_t at, std::size_t len, C* out) const {
    const Buf& b = bufs[id];
    auto h = std::lower_bound(b.holes.begin(), b.holes.end(), at, [](const Hole& x, std::size_t v) { return x.at < v; });
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
  void Flatten(std::uint32_t id) {
    Buf& b = bufs[id];
    if (b.holes.empty()) return;
    Buf f = Buf::Make<C>(b.size);
    TextAt<C>(id, 0, b.size, f.Data<C>());
    f.size = f.held = b.size;
    b = std::move(f);
  }

  // Before the lines of a section are looked at.
  void FlattenSection(const Section& s) {
    for (const Span& t : s.body)
      if (!bufs[t.buf].holes.empty()) Dispatch([&](auto tag) { Flatten<decltype(tag)>(t.buf); });
  }

  // Appends text to the buffer for single writes; false when it cannot be held.
  template <class C>
  bool Append(std::initializer_list<WStringView> parts, Span& out) {
    std::size_t units = 0;
    for (WStringView s : parts) units += s.size();
    if (units > kMaxUnits) return false;
    if (scratch == kNone || bufs[scratch].held + units > bufs[scratch].cap) {
      scratch = std::uint32_t(bufs.size());
      bufs.push_back(Buf::Make<C>(std::max<std::size_t>(units, 1 << 16)));
    }
    Buf& b = bufs[scratch];
    out = Span{scratch, std::uint32_t(b.size), std::uint32_t(units)};
    C* dst = b.Data<C>() + b.size;
    for (WStringView s : parts) {
      if constexpr (sizeof(C) == 1) {
        Narrow(s.data(), s.size(), dst);
      } else {
        std::memcpy(dst, s.data(), s.size() * 2);
      }
      dst += s.size();
    }
    b.size += units;
    b.held += units;
    return true;
  }

  template <class C>
  WString ToWide(View<C> s) const {
    WString w(s.size(), u'\0');
    for (std::size_t i = 0; i < s.size(); ++i) w[i] = Unit(s[i]);
    return w;
  }

  // A new, empty section at the end of the file.
  template <class C>
  std::uint32_t NewSection(WStringView name) {
    Section s;
    if (!Append<C>({u"[", name, u"]\r\n"}, s.header)) return kNone;
    s.parsed = std::make_unique<Parsed>();
    s.parsed->modified = true;
    const auto sec = std::uint32_t(sections.size());
    sections.push_back(std::move(s));
    sectionByName.emplace(WString(name), sec);
    return sec;
  }

  static bool ValidNames(WStringView section, WStringView key) {
    return !key.empty() && !HasLineBreak(section) && !HasLineBreak(key) && key.find(u'=') == WStringView::npos &&
           section.find(u']') == WStringView::npos;
  }

  bool Write(WStringView section, WStringView key, WStringView value) {
    section = Trim(section);
    key = Trim(key);
    if (!ValidNames(section, key) || HasLineBreak(value)) return false;
    if (!wide && !(AllAscii(section) && AllAscii(key) && AllAscii(value))) MakeWide();
    return Dispatch([&](auto tag) { return WriteKey<decltype(tag)>(section, key, value); });
  }

  template <class C>
  bool WriteKey(WStringView section, WStringView key, WStringView value) {
    std::uint32_t sec = FindSection(section);
    if (sec == kNone && (sec = NewSection<C>(section)) == kNone) return false;
    Parsed& p = EnsureParsed(sec);
    Reserve(p, p.used + 1);
    const std::uint32_t h = KeyHash(key);
    Slot& slot = p.table[Probe<C>(p, h, key)];
    Line l;
    if (slot.line) {
      // replaced where it stands, keeping the key as the file spells it
      Line& old = p.lines[slot.line - 1];
      const WString spelled = ToWide(KeyOf<C>(old));
      if (!Append<C>({spelled, u"=", value, u"\r\n"}, l.text)) return false;
      old.text = l.text;
      old.len = l.text.len - 2;
      old.eq = std::uint32_t(spelled.size());
      p.modified = true;
      return true;
    }
    if (!Append<C>({key, u"=", value, u"\r\n"}, l.text)) return false;
    l.kind = kKey;
    l.hash = h;
    l.len = l.text.len - 2;
    l.eq = std::uint32_t(key.size());
    const auto idx = std::uint32_t(p.lines.size());
    p.lines.push_back(l);
    p.modified = true;
    slot = Slot{h, idx + 1};
    ++p.used;
    return true;
  }

  void DeleteKey(WStringView section, WStringView key) {
    const std::uint32_t sec = FindSection(section);
    if (sec == kNone) return;
    Parsed& p = EnsureParsed(sec);
    const std::uint32_t idx = Dispatch([&](auto tag) { return FindKey<decltype(tag)>(p, key); });
    if (idx == kNone) return;
    p.lines[idx].dead = true;
    p.modified = true;
    // A later line of the same key is the one found from now on, as in the text of the file.
    const auto added = std::uint32_t(p.lines.size() - p.orig);
    auto order = [&](std::uint32_t i) -> std::uint64_t {  // position in the section as written out
      const std::uint64_t after = p.anchor == kNone ? 0 : std::uint64_t(p.anchor) + 1;
      if (i >= p.orig) return after + (i - p.orig);
      return i < after ? i : std::uint64_t(i) + added;
    };
    Dispatch([&](auto tag) {
      using C = decltype(tag);
      const View<C> key = KeyOf<C>(p.lines[idx]);
      std::uint32_t next = kNone;
      for (std::uint32_t i = 0; i < p.lines.size(); ++i) {
        const Line& l = p.lines[i];
        if (l.kind == kKey && !l.dead && l.hash == p.lines[idx].hash && EqualNoCase(KeyOf<C>(l), key) &&
            (next == kNone || order(i) < order(next)))
          next = i;
      }
      if (next != kNone) Index<C>(p, next);
    });
  }

  void DeleteSection(WStringView section) {
    const std::uint32_t sec = FindSection(section);
    if (sec == kNone) return;
    sections[sec].dead = true;
    sectionByName.erase(sectionByName.find(Trim(section)));
  }

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
  class Merger {
   public:
    // entries: lines in the buffers from `base` on, with the BatchHash of their keys; `repeated`:
    // whether a key occurs twice.
    Merger(Impl& f, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes, std::uint32_t base,
           bool repeated)
        : f_(f), e_(entries), h_(hashes), n_(entries.size()), base_(base) {
      while (cap_ < n_ + n_ / 2) cap_ *= 2;
      if (repeated) BuildTable();
      repeated_ = !last_.empty();
      matched_.assign(n_, 0);
    }

    // (the buffers of the entries keep their holes during the merge)
    View<C> Key(std::size_t i) const {
      return View<C>(f_.bufs[base_ + e_[i].buf].template Data<C>() + e_[i].held, e_[i].keyLen);
    }

    // A line that stays as it is (its text outlives the merge).
    void Keep(Span t) {
      if (t.len == 0) return;
      if (!out_.empty() && out_.back().buf == t.buf && out_.back().off + out_.back().len == t.off) {
        out_.back().len += t.len;  // adjacent text joins the last span
      } else {
        out_.push_back(t);
      }
    }

    // The line line[0, len) when it starts with the next expected key and '=': it is that key's
    // line (keys hold no '=', line break or outer blank) and is replaced by the new one.
    bool TakeExpected(const C* line, std::size_t len) {
      if (repeated_ || cursor_ >= n_ || matched_[cursor_]) return false;
      if (cursor_ + 8 < n_) __builtin_prefetch(Key(cursor_ + 8).data());
      const View<C> want = Key(cursor_);
      if (len <= want.size() || line[want.size()] != C('=') || !Same(View<C>(line, want.size()), want)) return false;
      matched_[cursor_] = 1;
      ++taken_;
      Keep(LineOf(cursor_++));
      KeyLineDone();
      return true;
    }

    // A live key line met otherwise: true when it is replaced.
    bool Take(View<C> key) {
      std::size_t f = kNone;
      if (!repeated_ && cursor_ < n_ && !matched_[cursor_] && Same(key, Key(cursor_))) {
        f = cursor_;
      } else {
        if (table_.empty()) BuildTable();
        const std::size_t slot = Probe(BatchHash(key), key);
        if (table_[slot] && !matched_[table_[slot] - 1]) f = table_[slot] - 1;
      }
      if (f == kNone) return false;
      matched_[f] = 1;
      ++taken_;
      cursor_ = f + 1;
      const std::size_t src = Final(f);
      if (Same(key, Key(src))) {
        Keep(LineOf(src));
      } else {  // replaced in the spelling of the file
        Keep(Respelled(key, src));
      }
      return true;
    }

    void KeyLineDone() {
      anchored_ = !out_.empty();
      anchorSpan_ = out_.size();
      anchorLen_ = anchored_ ? out_.back().len : 0;
    }

    bool Ok() const { return ok_; }

    // The section's lines with the keys it lacked after its last key line.
    std::vector<Span> Finish() {
      std::vector<Span> added;
      if (taken_ == n_) return std::move(out_);
      for (std::size_t i = 0; i < n_; ++i) {
        if (matched_[i] || (repeated_ && repeat_[i])) continue;
        // a repeated key keeps the spelling it was first written in
        const Span t = Final(i) == i || Same(Key(i), Key(Final(i))) ? LineOf(Final(i)) : Respelled(Key(i), Final(i));
        if (!added.empty() && added.back().buf == t.buf && added.back().off + added.back().len == t.off) {
          added.back().len += t.len;
        } else {
          added.push_back(t);
        }
      }
      if (added.empty()) return std::move(out_);
      std::size_t at = 0;
      if (anchored_) {
        Span& a = out_[anchorSpan_ - 1];
        at = anchorSpan_;
        if (a.len > anchorLen_) {  // lines that followed the last key line joined its span
          const Span rest{a.buf, a.off + std::uint32_t(anchorLen_), a.len - std::uint32_t(anchorLen_)};
          a.len = std::uint32_t(anchorLen_);
          out_.insert(out_.begin() + std::ptrdiff_t(at), rest);
        }
      }
      out_.insert(out_.begin() + std::ptrdiff_t(at), added.begin(), added.end());
      return std::move(out_);
    }

   private:
    Span LineOf(std::size_t i) const { return Span{base_ + e_[i].buf, e_[i].off, e_[i].len}; }

    // The line of entry src with its key spelt as `key`.
    Span Respelled(View<C> key, std::size_t src) {
      const Entry& e = e_[src];
      std::vector<C> value(e.len - e.keyLen);  // "=value\r\n"
      f_.TextAt<C>(base_ + e.buf, e.off + e.keyLen, value.size(), value.data());
      Span t;
      ok_ = f_.Append<C>({f_.ToWide(key), f_.ToWide(View<C>(value.data(), value.size()))}, t) && ok_;
      return t;
    }
    std::size_t Final(std::size_t f) const { return repeated_ ? std::size_t(last_[f]) : f; }

    // The slot of key, or the empty slot ending the probe.
    template <class K>
    std::size_t Probe(std::uint32_t h, K key) const {
      const std::size_t mask = cap_ - 1;
      std::size_t s = h & mask;
      for (; table_[s]; s = (s + 1) & mask) {
        const std::uint32_t j = table_[s] - 1;
        if (h_[j] == h && EqualNoCase(Key(j), key)) break;
      }
      return s;
    }

    // The table of all keys, built only when needed: when a key repeats or the section holds
    // keys out of order. Notes the first and last occurrence of each repeated key.
    void BuildTable() {
      const std::size_t mask = cap_ - 1;
      table_.assign(cap_, 0);
      for (std::size_t i = 0; i < n_; ++i) {
        if (i + 16 < n_) __builtin_prefetch(&table_[h_[i + 16] & mask]);  // the slots are far apart
        const std::size_t s = Probe(h_[i], Key(i));
        if (!table_[s]) {
          table_[s] = std::uint32_t(i + 1);
          continue;
        }
        if (last_.empty()) {
          last_.resize(n_);
          for (std::size_t j = 0; j < n_; ++j) last_[j] = std::uint32_t(j);
          repeat_.assign(n_, 0);
        }
        last_[table_[s] - 1] = std::uint32_t(i);
        repeat_[i] = 1;
      }
    }

    Impl& f_;
    const std::vector<Entry>& e_;
    const std::vector<std::uint32_t>& h_;
    const std::size_t n_;
    const std::uint32_t base_;
    std::size_t cap_ = 16;
    std::vector<std::uint32_t> table_;
    std::vector<std::uint32_t> last_;   // first occurrence -> last occurrence, when repeated
    std::vector<std::uint8_t> repeat_;  // later occurrences
    std::vector<std::uint8_t> matched_;
    bool repeated_ = false;
    std::size_t cursor_ = 0, taken_ = 0;  // entries placed on lines of the section
    std::vector<Span> out_;
    std::size_t anchorSpan_ = 0, anchorLen_ = 0;  // new keys go here: after the last key line
    bool anchored_ = false;
    bool ok_ = true;
  };

  template <class C>
  bool Merge(WStringView section, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes,
             std::uint32_t base, bool repeated) {
    std::uint32_t sec = FindSection(section);
    if (sec == kNone && (sec = NewSection<C>(section)) == kNone) return false;
    Section& s = sections[sec];
    if (!s.parsed || !s.parsed->modified) FlattenSection(s);
    Merger<C> m(*this, entries, hashes, base, repeated);
    if (s.parsed && s.parsed->modified) {
      ForEachLine<C>(s, s.parsed.get(), [&](const LineRef<C>& l) {
        if (l.eq == View<C>::npos) {
          if (!l.dead) m.Keep(l.text);
          return;
        }
        if (!l.dead && !m.Take(l.Key())) m.Keep(l.text);  // a deleted key is written anew
        m.KeyLineDone();
      });
    } else {
      for (const Span& span : s.body) {
        const C* t = bufs[span.buf].Data<C>();
        const std::size_t end = span.off + span.len;
        for (std::size_t pos = span.off; pos < end;) {
          const std::size_t next = LineEnd(t, pos, end);
          if (!m.TakeExpected(t + pos, next - pos)) MergeLine(m, MakeLine(t, span.buf, pos, next));
          pos = next;
        }
      }
    }
    if (!m.Ok()) return false;
    s.body = m.Finish();
    s.parsed.reset();
    return true;
  }

  enum class Streamed { kDone, kFailed, kNot };

  // Reads the file for a section writer's commit in one pass: the section's lines are merged as
  // they pass, and only what stays of the file is kept in memory, never the lines replaced. The
  // result is that of reading the file whole and merging. For files read as 8-bit ASCII; kNot,
  // with nothing changed, for any other.
  Streamed StreamMerge(WStringView section, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes,
                       std::uint32_t base, bool repeated) {
    if (!CurrentCodePage().asciiSafe) return Streamed::kNot;
    const int fd = Open();
    if (fd < 0) {
      unread = false;
      return Streamed::kNot;  // nothing to read
    }
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) >= kMaxUnits) {
      unread = false;
      loadFailed = true;
      return Streamed::kNot;
    }
    const auto size = std::size_t(st.st_size);
    const auto keptId = std::uint32_t(bufs.size());
    bufs.push_back(Buf::Make<char>(size));  // what stays of the file, in file order
    char* const kept = bufs[keptId].Data<char>();
    std::size_t keptSize = 0;
    auto keep = [&](const char* p, std::size_t len) {
      std::memcpy(kept + keptSize, p, len);
      keptSize += len;
      return Span{keptId, std::uint32_t(keptSize - len), std::uint32_t(len)};
    };
    auto undo = [&] {
      bufs.resize(keptId);
      if (scratch != kNone && scratch >= keptId) scratch = kNone;
      sections.clear();
      sections.emplace_back();
      sectionByName.clear();
    };

    Merger<char> m(*this, entries, hashes, base, repeated);
    const WStringView wanted = Trim(section);
    std::uint32_t target = kNone;
    bool inTarget = false;
    std::size_t bodyStart = 0;
    auto onLine = [&](const char* p, std::size_t len) {
      std::size_t i = 0;
      while (i < len && IsBlank(p[i])) ++i;
      if (i < len && p[i] == '[') {
        if (!inTarget) AddBody(sections.back(), bodyStart, keptSize, keptId);
        Section h;
        h.header = keep(p, len);
        const View<char> name = HeaderName(View<char>(p + i, len - i));
        const auto idx = std::uint32_t(sections.size());
        AddSectionName(name, idx);
        inTarget = target == kNone && EqualNoCase(name, wanted);
        if (inTarget) target = idx;
        sections.push_back(std::move(h));
        bodyStart = keptSize;
      } else if (!inTarget) {
        keep(p, len);
      } else if (!m.TakeExpected(p, len)) {
        const LineRef<char> l = MakeLine(p, 0, 0, len);
        if (l.eq == View<char>::npos) {
          m.Keep(keep(p, len));
        } else {
          if (!m.Take(l.Key())) m.Keep(keep(p, len));
          m.KeyLineDone();
        }
      }
    };

    std::size_t cap = std::size_t(1) << 20, have = 0, start = 0, total = 0;
    Mem piece = NewMem(cap);
    auto text = [&] { return reinterpret_cast<char*>(piece.get()); };
    for (;;) {
      if (start > 0) {  // keep the unfinished line
        std::memmove(text(), text() + start, have - start);
        have -= start;
        start = 0;
      }
      if (have == cap) {  // a line longer than the piece
        Mem larger = NewMem(2 * cap);
        std::memcpy(reinterpret_cast<char*>(larger.get()), text(), have);
        piece = std::move(larger);
        cap *= 2;
      }
      const ssize_t r = ::read(fd, text() + have, std::min(cap - have, size - total));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        undo();
        unread = false;
        loadFailed = true;
        return Streamed::kNot;
      }
      if (!AllAscii(text() + have, std::size_t(r))) {
        undo();
        return Streamed::kNot;  // read whole, in the code page
      }
      have += std::size_t(r);
      total += std::size_t(r);
      const bool end = r == 0 || total == size;
      for (;;) {
        const std::size_t next = LineEnd(text(), start, have);
        if (next == have && (next == start || text()[next - 1] != '\n')) break;
        onLine(text() + start, next - start);
        start = next;
      }
      if (end) {
        if (start < have) onLine(text() + start, have - start);
        break;
      }
    }
    if (!inTarget) AddBody(sections.back(), bodyStart, keptSize, keptId);
    bufs[keptId].size = bufs[keptId].held = keptSize;
    unread = false;
    if (target == kNone && (target = NewSection<char>(section)) == kNone) return Streamed::kFailed;
    sections[target].body = m.Finish();
    sections[target].parsed.reset();
    return m.Ok() ? Streamed::kDone : Streamed::kFailed;
  }

  // ---- one section, read in one pass --------------------------------------------------------

  // Hands the key lines of the first section named `wanted` to fn while the file is read a piece
  // at a time: each line is parsed as a whole read would parse it, in the same encoding. Stops
  // after the section, or when fn returns false.
  static void StreamSection(int fd, WStringView wanted, bool (*fn)(void*, const ProfileEntry&), void* ctx) {
    const AnsiSetting cp = CurrentCodePage();
    bool found = false, inTarget = false, more = true;
    auto line = [&](auto view) {  // one whole line, its end included
      using C = typename decltype(view)::value_type;
      std::size_t i = 0;
      while (i < view.size() && IsBlank(view[i])) ++i;
      if (i < view.size() && view[i] == C('[')) {
        if (inTarget) more = false;  // the section ended
        inTarget = !found && EqualNoCase(HeaderName(view.substr(i)), wanted);
        found = found || inTarget;
        return;
      }
      if (!inTarget) return;
      const LineRef<C> l = MakeLine(view.data(), 0, 0, view.size());
      if (l.eq != View<C>::npos) more = fn(ctx, ProfileEntry{ProfileText(l.Key()), ProfileText(l.Value())});
    };
    // lines of the ANSI code page that are not ASCII, decoded as a whole file would be
    QStringDecoder named;
    if (cp.kind == CodePage::Named) named = QStringDecoder(cp.name.c_str());
    WString wide;
    auto ansiLine = [&](const char* p, std::size_t n, bool ascii) {
      if (ascii && cp.asciiSafe) return line(View<char>(p, n));
      if (cp.kind == CodePage::Named) {
        wide.resize(std::size_t(named.requiredSpace(qsizetype(n))));
        QChar* begin = reinterpret_cast<QChar*>(wide.data());
        wide.resize(std::size_t(named.appendToBuffer(begin, QByteArrayView(p, qsizetype(n))) - begin));
      } else {
        wide.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
          const auto b = static_cast<unsigned char>(p[i]);
          wide[i] = (cp.kind == CodePage::Cp1252 && b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
        }
      }
      line(WStringView(wide));
    };

    std::size_t cap = std::size_t(1) << 20, have = 0, start = 0;
    Mem piece = NewMem(cap);
    auto bytes = [&] { return reinterpret_cast<char*>(piece.get()); };
    bool first = true, utf16 = false, clean = true;  // clean: the bytes held are ASCII
    for (bool end = false; more && !end;) {
      if (start > 0) {  // keep the unfinished line
        std::memmove(bytes(), bytes() + start, have - start);
        have -= start;
        start = 0;
      }
      if (have == cap) {  // a line longer than the piece
        Mem larger = NewMem(2 * cap);
        std::memcpy(larger.get(), piece.get(), have);
        piece = std::move(larger);
        cap *= 2;
      }
      const ssize_t r = ::read(fd, bytes() + have, cap - have);
      if (r < 0 && errno == EINTR) continue;
      end = r <= 0;
      if (r > 0) {
        clean = clean && AllAscii(bytes() + have, std::size_t(r));
        have += std::size_t(r);
      }
      if (first) {
        if (have < 2 && !end) continue;
        first = false;
        utf16 = have >= 2 && bytes()[0] == '\xFF' && bytes()[1] == '\xFE';
        start = utf16 ? 2 : 0;
      }
      if (utf16) {
        const auto* u = reinterpret_cast<const char16_t*>(bytes());  // the piece starts on a page
        const std::size_t units = have / 2;
        std::size_t at = start / 2;
        while (more) {
          const char16_t* nl = Find(u + at, units - at, u'\n');
          if (!nl && !(end && at < units)) break;
          const std::size_t next = nl ? std::size_t(nl - u) + 1 : units;
          if constexpr (std::endian::native == std::endian::little) {
            line(WStringView(u + at, next - at));
          } else {
            const auto* b = reinterpret_cast<const unsigned char*>(bytes());
            wide.resize(next - at);
            for (std::size_t k = at; k < next; ++k) wide[k - at] = char16_t(b[2 * k] | (b[2 * k + 1] << 8));
            line(WStringView(wide));
          }
          at = next;
        }
        start = 2 * at;
        if (end) break;
        continue;
      }
      while (more) {
        const std::size_t next = LineEnd(bytes(), start, have);
        const bool whole = next > start && bytes()[next - 1] == '\n';
        if (!whole && !(end && next > start)) break;
        ansiLine(bytes() + start, next - start, clean || AllAscii(bytes() + start, next - start));
        start = next;
      }
      clean = clean || AllAscii(bytes() + start, have - start);  // what is kept for the next piece
    }
  }

  template <class C>
  static void MergeLine(Merger<C>& m, const LineRef<C>& l) {
    if (l.eq == View<C>::npos) {
      m.Keep(l.text);
      return;
    }
    if (!m.Take(l.Key())) m.Keep(l.text);
    m.KeyLineDone();
  }

  // ---- output ------------------------------------------------------------------------------

  // Hands the text of the file, a piece at a time, to sink (a line end is added after a last line
  // that lacked one when more text follows).
  template <class C, class Sink>
  void Render(Sink&& sink) const {
    bool needEol = false;
    auto lineEnd = [&] {
      static constexpr C kCrLf[] = {C('\r'), C('\n')};
      if (needEol) sink(View<C>(kCrLf, 2));
      needEol = false;
    };
    auto put = [&](View<C> t) {  // whole lines
      if (t.empty()) return;
      lineEnd();
      sink(t);
      needEol = t.back() != C('\n') && t.back() != C('\r');
    };
    std::vector<C> piece;  // the text held and the digits of the holes, handed over in large pieces
    auto putHoled = [&](const Span& span) {
      const Buf& b = bufs[span.buf];
      auto h = std::lower_bound(b.holes.begin(), b.holes.end(), span.off,
                                [](const Hole& x, std::size_t v) { return x.at < v; });
      std::size_t held = h == b.holes.begin() ? span.off : span.off - ((h - 1)->at + (h - 1)->Len() - (h - 1)->held);
      const C* t = b.Data<C>();
      const auto* raw = reinterpret_cast<const std::uint8_t*>(b.raw.get());
      constexpr std::size_t kPiece = std::size_t(1) << 18;
      piece.clear();
      piece.reserve(kPiece + 4096);
      lineEnd();
      for (std::size_t at = span.off, end = span.off + span.len; at < end;) {
        const std::size_t upto = (h != b.holes.end() && h->at < end) ? h->at : end;
        piece.insert(piece.end(), t + held, t + held + (upto - at));
        held += upto - at;
        at = upto;
        if (at < end) {
          const std::size_t o = piece.size();
          piece.resize(o + h->Len());
          HexEncode(raw + h->raw, h->n, piece.data() + o);
          at += h->Len();
          ++h;
        }
        if (piece.size() >= kPiece || at == end) {
          sink(View<C>(piece.data(), piece.size()));
          piece.clear();
        }
      }
    };  // a writer's lines end with CRLF
    for (const Section& s : sections) {
      if (s.dead) continue;
      put(Text<C>(s.header));
      if (s.parsed && s.parsed->modified) {
        ForEachLine<C>(s, s.parsed.get(), [&](const LineRef<C>& l) {
          if (!l.dead) put(Text<C>(l.text));
        });
      } else {
        for (const Span& b : s.body) {  // whole lines
          if (bufs[b.buf].holes.empty()) {
            put(Text<C>(b));
          } else {
            putHoled(b);
          }
        }
      }
    }
  }

  // Writes the file's bytes to sink(const char*, size) in the file's encoding, staging small
  // pieces; text already in the file's bytes is handed over without copying.
  template <class Sink>
  bool Output(Sink&& sink) const {
    const AnsiSetting cp = CurrentCodePage();
    std::string stage;
    constexpr std::size_t kStage = std::size_t(1) << 18;
    stage.reserve(kStage + 1024);
    bool ok = true;
    auto flush = [&] {
      if (!stage.empty()) ok = ok && sink(stage.data(), stage.size());
      stage.clear();
    };
    auto bytes = [&](const char* p, std::size_t n) {
      if (n >= kStage / 4) {
        flush();
        ok = ok && sink(p, n);
        return;
      }
      stage.append(p, n);
      if (stage.size() >= kStage) flush();
    };
    if (encoding == Encoding::Utf16le) {
      bytes("\xFF\xFE", 2);
      if (!wide) {
        Render<char>([&](std::string_view t) {
          while (!t.empty()) {
            const std::size_t k = std::min<std::size_t>(t.size(), 4096);
            std::array<char16_t, 4096> w;
            Widen(t.data(), k, w.data());
            bytes(reinterpret_cast<const char*>(w.data()), 2 * k);
            t.remove_prefix(k);
          }
        });
      } else if constexpr (std::endian::native == std::endian::little) {
        Render<char16_t>([&](WStringView t) { bytes(reinterpret_cast<const char*>(t.data()), 2 * t.size()); });
      } else {
        Render<char16_t>([&](WStringView t) {
          for (char16_t c : t) {
            const char le[2] = {char(c & 0xFF), char(c >> 8)};
            bytes(le, 2);
          }
        });
      }
    } else if (!wide && cp.asciiSafe) {
      Render<char>([&](std::string_view t) { bytes(t.data(), t.size()); });
    } else if (cp.kind != CodePage::Named) {
      Render<char16_t>([&](WStringView t) {
        AppendSingleByte(stage, t, cp.kind);
        if (stage.size() >= kStage) flush();
      });
    } else {
      WString text;
      QStringEncoder enc(cp.name.c_str());
      auto encode = [&] {  // pieces end at whole characters
        const std::string b = EncodeNamed(enc, text);
        bytes(b.data(), b.size());
        text.clear();
      };
      auto add = [&](WStringView t) {
        text.append(t);
        if (text.size() >= kStage) encode();
      };
      if (wide) {
        Render<char16_t>(add);
      } else {
        Render<char>([&](std::string_view t) {
          const std::size_t o = text.size();
          text.resize(o + t.size());
          Widen(t.data(), t.size(), text.data() + o);
          if (text.size() >= kStage) encode();
        });
      }
      encode();
    }
    flush();
    return ok;
  }

  std::size_t Units() const {
    std::size_t units = 0;
    for (const Buf& b : bufs) units += b.size;
    return units;
  }
};

// ---- the section writer ---------------------------------------------------------------------

struct CProfileFile::SectionWriter::State {
  CProfileFile::Impl* file = nullptr;
  WString section;
  bool valid = false;
  bool wide = false;
  std::vector<Buf> chunks;
  std::vector<Impl::Entry> entries;  // buf: index into chunks
  std::vector<std::uint32_t> hashes;  // BatchHash of each entry's key
  bool distinct = false;              // the caller's word that no key comes twice
  std::size_t nextChunk = std::size_t(1) << 16;
  // Room for `units` more units held and `raw` more bytes of holes in the last chunk. Text
  // counts against the offsets of a chunk as if the digits of its holes were held.
  template <class C>
  C* Room(std::size_t units, std::size_t raw = 0) {
    if (chunks.empty() || chunks.back().held + units > chunks.back().cap ||
        chunks.back().size + units + 2 * raw + 2 > kMaxUnits ||
        (raw && chunks.back().raw && chunks.back().rawSize + raw > chunks.back().rawCap)) {
      const std::size_t cap = std::min(std::max(units, nextChunk), kMaxUnits);
      nextChunk = std::min(nextChunk * 2, std::size_t(1) << 24);
      chunks.push_back(Buf::Make<C>(cap));
    }
    Buf& b = chunks.back();
    if (raw && !b.raw) {  // the bytes of holes, next to the text
      b.rawCap = std::max(raw, b.cap / 2);
      b.raw = NewMem(b.rawCap);
    }
    return b.Data<C>() + b.held;
  }

  template <class C>
  View<C> Key(const Impl::Entry& e) const {
    return View<C>(chunks[e.buf].Data<C>() + e.held, e.keyLen);
  }

  // Whether a key occurs twice: a bit per hash value (sixteen or more per entry, few met twice
  // by chance), then the keys of the entries whose bits were met twice compared.
  template <class C>
  bool Repeated() const {
    const std::size_t n = entries.size();
    std::size_t bits = 1024;
    while (bits < 16 * n) bits *= 2;
    const auto mask = std::uint32_t(bits - 1);
    std::vector<std::uint64_t> once(bits / 64, 0), twice(bits / 64, 0);
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 16 < n) __builtin_prefetch(&once[(hashes[i + 16] & mask) >> 6]);
      const std::uint32_t b = hashes[i] & mask;
      const std::uint64_t m = std::uint64_t(1) << (b & 63);
      if (once[b >> 6] & m) {
        twice[b >> 6] |= m;
        any = true;
      }
      once[b >> 6] |= m;
    }
    if (!any) return false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> met;  // hash, entry
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 16 < n) __builtin_prefetch(&twice[(hashes[i + 16] & mask) >> 6]);
      const std::uint32_t b = hashes[i] & mask;
      if (twice[b >> 6] & (std::uint64_t(1) << (b & 63))) met.emplace_back(hashes[i], std::uint32_t(i));
    }
    std::sort(met.begin(), met.end());
    for (std::size_t i = 0; i < met.size(); ++i)
      for (std::size_t j = i + 1; j < met.size() && met[j].first == met[i].first; ++j)
        if (EqualNoCase(Key<C>(entries[met[i].second]), Key<C>(entries[met[j].second]))) return true;
    return false;
  }

  void MakeWide() {
    if (wide) return;
    for (Buf& b : chunks) {  // the holes stay as they are
      Buf w = Buf::Make<char16_t>(b.cap);
      Widen(b.Data<char>(), b.held, w.Data<char16_t>());
      w.size = b.size;
      w.held = b.held;
      w.holes = std::move(b.holes);
      w.raw = std::move(b.raw);
      w.rawSize = b.rawSize;
      w.rawCap = b.rawCap;
      b = std::move(w);
    }
    wide = true;
    for (std::size_t i = 0; i < entries.size(); ++i) hashes[i] = BatchHash(Key<char16_t>(entries[i]));
  }

  // The line just written at the end of the last chunk: `units` of text, `hole` bytes of them
  // (if any) left as a hole after "key=".
  void Push(std::size_t keyLen, std::size_t units, std::uint32_t hash, std::span<const std::uint8_t> hole = {}) {
    Buf& b = chunks.back();
    hashes.push_back(hash);
    entries.push_back(Impl::Entry{std::uint32_t(chunks.size() - 1), std::uint32_t(b.size), std::uint32_t(keyLen),
                                  std::uint32_t(units), std::uint32_t(b.held)});
    if (!hole.empty()) {
      b.holes.push_back(Hole{std::uint32_t(b.size + keyLen + 1), std::uint32_t(b.held + keyLen + 1),
                             std::uint32_t(b.rawSize), std::uint32_t(hole.size())});
      std::memcpy(b.raw.get() + b.rawSize, hole.data(), hole.size());
      b.rawSize += hole.size();
      b.held += units - (2 * hole.size() + 2);
    } else {
      b.held += units;
    }
    b.size += units;
  }

  // Adds "key=" + the struct encoding of data + "\r\n" with the digits left as a hole, written
  // out when the file is.
  bool AddHole(WStringView key, std::span<const std::uint8_t> data) {
    key = Trim(key);
    if (!valid || key.empty()) return false;
    const std::size_t units = key.size() + 2 * data.size() + 5, held = key.size() + 3;
    if (units > kMaxUnits) return false;
    std::uint32_t hash = 0;
    if (!wide) {
      char* dst = Room<char>(held, data.size());
      const int narrow = NarrowKey(key, dst, hash);
      if (narrow == 0) return false;
      if (narrow > 0) {
        dst[key.size()] = '=';
        dst[key.size() + 1] = '\r';
        dst[key.size() + 2] = '\n';
        Push(key.size(), units, hash, data);
        return true;
      }
      bool ascii = true;
      if (!CheckText(key, true, ascii)) return false;
      MakeWide();
    } else {
      bool ascii = true;
      if (!CheckText(key, true, ascii)) return false;
    }
    char16_t* dst = Room<char16_t>(held, data.size());
    std::memcpy(dst, key.data(), key.size() * 2);
    dst[key.size()] = u'=';
    dst[key.size() + 1] = u'\r';
    dst[key.size() + 2] = u'\n';
    Push(key.size(), units, BatchHash(WStringView(dst, key.size())), data);
    return true;
  }

  // Adds "key=" + value + "\r\n", the value written by put(C* at) in valueLen units.
  template <class Put>
  bool Add(WStringView key, std::size_t valueLen, bool asciiValue, Put&& put) {
    key = Trim(key);
    if (!valid || key.empty()) return false;
    const std::size_t units = key.size() + valueLen + 3;
    if (units > kMaxUnits) return false;
    if (!wide && asciiValue) {  // the usual case: checked while copied
      char* dst = Room<char>(units);
      std::uint32_t hash = 0;
      const int narrow = NarrowKey(key, dst, hash);
      if (narrow == 0) return false;
      if (narrow > 0) {
        dst[key.size()] = '=';
        put(dst + key.size() + 1);
        dst[units - 2] = '\r';
        dst[units - 1] = '\n';
        Push(key.size(), units, hash);
        return true;
      }
    }
    bool asciiKey = true;
    if (!CheckText(key, true, asciiKey)) return false;
    if (!wide && !(asciiValue && asciiKey)) MakeWide();
    auto write = [&](auto* dst) {
      using C = std::remove_pointer_t<decltype(dst)>;
      if constexpr (sizeof(C) == 1) {
        Narrow(key.data(), key.size(), dst);
      } else {
        std::memcpy(dst, key.data(), key.size() * 2);
      }
      dst[key.size()] = C('=');
      put(dst + key.size() + 1);
      dst[units - 2] = C('\r');
      dst[units - 1] = C('\n');
      Push(key.size(), units, BatchHash(View<C>(dst, key.size())));
    };
    if (wide) {
      write(Room<char16_t>(units));
    } else {
      write(Room<char>(units));
    }
    return true;
  }
};

CProfileFile::SectionWriter::SectionWriter(std::unique_ptr<State> s) : s_(std::move(s)) {}
CProfileFile::SectionWriter::SectionWriter(SectionWriter&&) noexcept = default;
CProfileFile::SectionWriter& CProfileFile::SectionWriter::operator=(SectionWriter&&) noexcept = default;
CProfileFile::SectionWriter::~SectionWriter() = default;

void CProfileFile::SectionWriter::AssumeDistinctKeys() {
  if (s_) s_->distinct = true;
}

void CProfileFile::SectionWriter::Reserve(std::size_t units, std::size_t entries) {
  if (!s_) return;
  s_->entries.reserve(s_->entries.size() + entries);
  s_->hashes.reserve(s_->hashes.size() + entries);
  if (s_->chunks.empty() || s_->chunks.back().cap - s_->chunks.back().held < units)
    s_->nextChunk = std::min(std::max(s_->nextChunk, units), kMaxUnits);
}

bool CProfileFile::SectionWriter::WriteString(WStringView key, WStringView value) {
  bool ascii = true;
  if (!s_ || !CheckText(value, false, ascii)) return false;
  return s_->Add(key, value.size(), ascii, [&](auto* dst) {
    using C = std::remove_pointer_t<decltype(dst)>;
    if constexpr (sizeof(C) == 1) {
      Narrow(value.data(), value.size(), dst);
    } else {
      std::memcpy(dst, value.data(), value.size() * 2);
    }
  });
}

bool CProfileFile::SectionWriter::WriteStruct(WStringView key, std::span<const std::uint8_t> data) {
  if (!s_ || data.size() > kMaxUnits / 2) return false;
  // large values are encoded when the file is written, from a copy of their bytes: less memory
  if (data.size() >= 64) return s_->AddHole(key, data);
  return s_->Add(key, 2 * data.size() + 2, true, [&](auto* dst) { HexEncode(data.data(), data.size(), dst); });
}

bool CProfileFile::SectionWriter::WriteStructs(WStringView prefix, std::int32_t first, std::size_t size,
                                               std::span<const std::uint8_t> data) {
  if (!s_ || size == 0 || data.size() % size != 0) return false;
  State& s = *s_;
  // Each key is the prefix without leading blanks and a number: checked once.
  WStringView lead = prefix;
  while (!lead.empty() && IsBlank(lead.front())) lead.remove_prefix(1);
  bool ascii = true;
  const std::size_t count = data.size() / size;
  const bool fast = s.valid && !s.wide && size < 64 && CheckText(lead, true, ascii) && ascii && lead.size() <= 64 &&
                    first >= 0 && std::int64_t(first) + std::int64_t(count) <= std::int64_t(INT32_MAX) + 1;
  if (!fast) {  // one by one
    bool ok = true;
    WString key;
    for (std::size_t i = 0; i < count; ++i) {
      key.assign(prefix);
      const WString number = FormatW(u"%d", std::int32_t(std::int64_t(first) + std::int64_t(i)));
      key += number;
      ok = WriteStruct(key, data.subspan(i * size, size)) && ok;
    }
    return ok;
  }
  // The words of the key that lie within the prefix are the same for every key; the last ones
  // are put together in a register, not read back from the text just written.
  char head[64];
  Narrow(lead.data(), lead.size(), head);
  const std::size_t n = lead.size(), fullWords = n / 8;
  std::uint64_t words[8], tailWord = 0;  // the prefix in words, and what is left of it
  for (std::size_t w = 0; w < fullWords; ++w) {
    std::memcpy(&words[w], head + 8 * w, 8);
    words[w] = FoldWord(words[w]);
  }
  const std::size_t tail = n - 8 * fullWords;
  std::memcpy(&tailWord, head + 8 * fullWords, tail);
  for (std::size_t i = 0; i < count; ++i) {
    const auto number = std::uint32_t(std::int64_t(first) + std::int64_t(i));  // not negative here
    char digits[10];
    std::size_t d = 0;
    for (std::uint32_t v = number; d == 0 || v; v /= 10) digits[d++] = char('0' + v % 10);
    const std::size_t keyLen = n + d, units = keyLen + 2 * size + 5;
    char* dst = s.Room<char>(units);
    std::memcpy(dst, head, n);
    for (std::size_t k = 0; k < d; ++k) dst[n + k] = digits[d - 1 - k];
    dst[keyLen] = '=';
    HexEncode(data.data() + i * size, size, dst + keyLen + 1);
    dst[units - 2] = '\r';
    dst[units - 1] = '\n';
    // BatchHash of the key
    std::uint64_t h = std::uint64_t(keyLen) * kHashMul, w = 0;
    for (std::size_t k = 0; k < fullWords; ++k) h = MixWord(h, words[k]);
    if (tail + d < 8) {  // the rest of the prefix and the number in one word
      std::uint64_t number = 0;
      for (std::size_t k = 0; k < d; ++k) number |= std::uint64_t(static_cast<unsigned char>(digits[d - 1 - k])) << (8 * k);
      w = tailWord | number << (8 * tail);
    } else {
      int shift = 0;
      for (std::size_t k = 8 * fullWords; k < keyLen; ++k) {
        const char c = k < n ? head[k] : digits[d - 1 - (k - n)];
        w |= std::uint64_t(static_cast<unsigned char>(c)) << shift;
        if ((shift += 8) == 64) {
          h = MixWord(h, FoldWord(w));
          w = 0;
          shift = 0;
        }
      }
    }
    s.Push(keyLen, units, FinishHash(MixWord(h, FoldWord(w))));
  }
  return true;
}

bool CProfileFile::SectionWriter::WriteInt(WStringView key, std::int32_t value) {
  char16_t buf[12];
  std::size_t n = 0;
  std::uint32_t u = value < 0 ? 0u - std::uint32_t(value) : std::uint32_t(value);
  do {
    buf[11 - n++] = char16_t(u'0' + u % 10);
    u /= 10;
  } while (u);
  if (value < 0) buf[11 - n++] = u'-';
  return WriteString(key, WStringView(buf + 12 - n, n));
}

bool CProfileFile::SectionWriter::Commit() {
  if (!s_ || !s_->valid) return false;
  State& s = *s_;
  Impl& f = *s.file;
  bool ok = true;
  if (!s.entries.empty()) {
    auto adopt = [&] {
      const auto base = std::uint32_t(f.bufs.size());
      for (Buf& b : s.chunks) f.bufs.push_back(std::move(b));
      return base;
    };
    Impl::Streamed streamed = Impl::Streamed::kNot;
    const bool ascii = !s.wide && AllAscii(WStringView(s.section));
    if (ascii && f.unread) {  // the file is read as it is merged
      const bool repeated = !s.distinct && s.Repeated<char>();
      const std::uint32_t base = adopt();
      {
        std::lock_guard lock(f.parseMutex);
        streamed = f.StreamMerge(s.section, s.entries, s.hashes, base, repeated);
      }
      if (streamed == Impl::Streamed::kNot) {  // given back: merged after reading
        for (std::size_t i = 0; i < s.chunks.size(); ++i) s.chunks[i] = std::move(f.bufs[base + i]);
        f.bufs.resize(base);
      }
    }
    if (streamed == Impl::Streamed::kNot) {
      f.Ready();
      if (!ascii || f.wide) {
        s.MakeWide();
        f.MakeWide();
      }
      const bool repeated = !s.distinct && (f.wide ? s.Repeated<char16_t>() : s.Repeated<char>());
      const std::uint32_t base = adopt();
      ok = f.Dispatch([&](auto tag) { return f.Merge<decltype(tag)>(s.section, s.entries, s.hashes, base, repeated); });
    } else {
      ok = streamed == Impl::Streamed::kDone;
    }
  }
  s.chunks.clear();
  s.entries.clear();
  s.hashes.clear();

  return ok;
}

CProfileFile::SectionWriter CProfileFile::WriteSection(WStringView section) {
  auto s = std::make_unique<SectionWriter::State>();
  s->file = &I();
  s->section = WString(Trim(section));
  s->valid = Impl::ValidNames(s->section, u"k");
  return SectionWriter(std::move(s));
}

// ---- CProfileFile ---------------------------------------------------------------------------

CProfileFile::CProfileFile() : d_(std::make_unique<Impl>()) {}

CProfileFile::CProfileFile(const std::filesystem::path& path) : d_(std::make_unique<Impl>()) {
  d_->path = path;
  d_->unread = true;
}

CProfileFile::~CProfileFile() = default;
CProfileFile::CProfileFile(CProfileFile&&) noexcept = default;
CProfileFile& CProfileFile::operator=(CProfileFile&&) noexcept = default;

// The file, read if that is still to be done.
template <class T>
T& Ready(T& d) {
  d.Ready();
  return d;
}

CProfileFile::Impl& CProfileFile::I() const {
  if (!d_) d_ = std::make_unique<Impl>();
  return *d_;
}

const std::filesystem::path& CProfileFile::Path() const { return I().path; }
CProfileFile::Encoding CProfileFile::GetEncoding() const { return Ready(I()).encoding; }
void CProfileFile::SetEncoding(Encoding e) { Ready(I()).encoding = e; }

WString CProfileFile::GetString(WStringView section, WStringView key, WStringView def) const {
  const std::optional<ProfileText> v = Ready(I()).Value(section, key);
  return v ? v->ToString() : WString(def);
}

std::int32_t CProfileFile::GetInt(WStringView section, WStringView key, std::int32_t def) const {
  const std::optional<ProfileText> v = Ready(I()).Value(section, key);
  return v ? ParseProfileInt(*v, def) : def;
}

bool CProfileFile::GetStruct(WStringView section, WStringView key, std::span<std::uint8_t> out) const {
  const std::optional<ProfileText> v = Ready(I()).Value(section, key);
  return v && DecodeProfileStruct(*v, out);
}

bool CProfileFile::HasSection(WStringView section) const { return Ready(I()).FindSection(section) != kNone; }

void CProfileFile::ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx) const {
  Ready(I()).ReadSection(section, fn, ctx);
}

bool CProfileFile::WriteString(WStringView section, WStringView key, WStringView value) {
  return Ready(I()).Write(section, key, value);
}

bool CProfileFile::WriteStruct(WStringView section, WStringView key, std::span<const std::uint8_t> data) {
  return Ready(I()).Write(section, key, EncodeProfileStruct(data));
}

void CProfileFile::ReadSectionIn(const std::filesystem::path& file, WStringView section,
                                 bool (*fn)(void*, const ProfileEntry&), void* ctx) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  // as a whole read would: only a regular file, and one that offsets can hold
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && std::uint64_t(st.st_size) < kMaxUnits)
    Impl::StreamSection(fd, Trim(section), fn, ctx);
  ::close(fd);
}

void CProfileFile::DeleteKey(WStringView section, WStringView key) { Ready(I()).DeleteKey(section, key); }

void CProfileFile::DeleteSection(WStringView section) { Ready(I()).DeleteSection(section); }

std::string CProfileFile::Serialize() const {
  const Impl& d = Ready(I());
  std::string out;
  out.reserve(2 + 2 * d.Units() + 2);
  d.Output([&](const char* p, std::size_t n) {
    out.append(p, n);
    return true;
  });
  return out;
}

bool CProfileFile::Save() {
  Impl& d = Ready(I());
  if (d.loadFailed || d.path.empty()) return false;
  QSaveFile f(QFile::decodeName(d.path.native().c_str()));
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
  const bool written = d.Output([&](const char* p, std::size_t n) { return f.write(p, qint64(n)) == qint64(n); });
  if (!written) {
    f.cancelWriting();
    return false;
  }
  return f.commit();
}

// ---- struct encoding, values ----------------------------------------------------------------

WString ProfileText::ToString() const {
  if (wide_) return WString(Wide());
  WString out(n_, u'\0');
  Widen(static_cast<const char*>(p_), n_, out.data());
  return out;
}

WString EncodeProfileStruct(std::span<const std::uint8_t> data) {
  WString out(2 * data.size() + 2, u'\0');
  HexEncode(data.data(), data.size(), out.data());
  return out;
}

bool DecodeProfileStruct(WStringView text, std::span<std::uint8_t> out) { return DecodeStruct(text, out); }

bool DecodeProfileStruct(ProfileText text, std::span<std::uint8_t> out) {
  return text.Visit([&](auto v) { return DecodeStruct(v, out); });
}

std::int32_t ParseProfileInt(ProfileText value, std::int32_t def) {
  return value.Visit([&](auto v) { return ParseInt(v, def); });
}

char16_t FoldProfileChar(char16_t c) { return Fold(c); }

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
    // ASCII files are kept as read only where the code page writes ASCII as ASCII
    WString ascii(128, u'\0');
    std::string bytes(128, '\0');
    for (int c = 0; c < 128; ++c) ascii[std::size_t(c)] = char16_t(c), bytes[std::size_t(c)] = char(c);
    s.asciiSafe = EncodeNamed(name, ascii) == bytes && DecodeNamed(name, bytes.data(), bytes.size()) == ascii;
  } else {
    s.kind = CodePage::Latin1;
  }
  std::lock_guard lock(g_cpMutex);
  g_cp = s;
}
