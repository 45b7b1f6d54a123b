// The ANSI code page of profile files: which one is in force, and text converted to and from it
// as the platform converts (windows-1252 with best-fit characters, other code pages through Qt's
// converters, unit by unit); the AVX2 kernel of the scan of text as it is read; and the public
// text helpers of profile.h.
#include "platform/profile_text.h"

#include <mutex>
#include <utility>

#include <QStringDecoder>

#if defined(Q7V_HEX_AVX2)
#include <immintrin.h>
#endif

#include "platform/profile.h"

namespace profile_detail {
namespace {

std::mutex g_cpMutex;
AnsiSetting g_cp;

// The windows-1252 byte of a character, 0 when it has none.
char Cp1252Byte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return char(c);
  for (int k = 0; k < 32; ++k)
    if (kCp1252High[k] == c) return char(0x80 + k);
  return 0;
}

// What the platform's default conversion writes for a character windows-1252 lacks: a close
// character where there is one ("A" for "Ā", "-" for the minus sign), else '?'.
char BestFit1252(char16_t c) {
  static constexpr std::pair<char16_t, char> kFits[] = {
      {0x0110, '\xD0'}, {0x0111, 'd'},  {0x0126, 'H'}, {0x0127, 'h'}, {0x0131, 'i'},    {0x0141, 'L'},
      {0x0142, 'l'},    {0x0166, 'T'},  {0x0167, 't'}, {0x0180, 'b'}, {0x0189, '\xD0'}, {0x0197, 'I'},
      {0x019A, 'l'},    {0x01B5, 'Z'},  {0x01B6, 'z'}, {0x01E4, 'G'}, {0x01E5, 'g'},    {0x2010, '-'},
      {0x2011, '-'},    {0x2032, '\''}, {0x2035, '`'}, {0x2044, '/'}, {0x2212, '-'},    {0x2215, '/'},
      {0x2216, '\\'},   {0x2217, '*'},  {0x2223, '|'}, {0x2236, ':'}, {0x223C, '~'},    {0x3000, ' '}};
  for (const auto& [from, to] : kFits)
    if (from == c) return to;
  if (QChar::isSurrogate(c)) return '?';
  // Letters with marks fall back to the letter; full-width forms to the plain ones.
  const QChar q(c);
  const QChar::Decomposition tag = q.decompositionTag();
  if (tag == QChar::Canonical || tag == QChar::Wide || tag == QChar::Narrow) {
    const QString d = q.decomposition();
    if (!d.isEmpty()) {
      const char b = Cp1252Byte(d.at(0).unicode());
      if (b && (b & 0x80) == 0) return b;
    }
  }
  return '?';
}

}  // namespace

#if defined(Q7V_HEX_AVX2)
bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

__attribute__((target("avx2"))) std::size_t AsciiScanAvx2(const char* p, std::size_t n, unsigned& all, bool& lone) {
  std::size_t i = 0;
  __m256i acc = _mm256_setzero_si256(), hit = _mm256_setzero_si256();
  const __m256i cr = _mm256_set1_epi8('\r'), lf = _mm256_set1_epi8('\n');
  for (; i + 33 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
    acc = _mm256_or_si256(acc, v);
    hit = _mm256_or_si256(hit, _mm256_andnot_si256(_mm256_cmpeq_epi8(next, lf), _mm256_cmpeq_epi8(v, cr)));
  }
  all |= _mm256_movemask_epi8(acc) ? 0x80u : 0u;
  lone = lone || _mm256_movemask_epi8(hit) != 0;
  return i;
}
#endif

AnsiSetting CurrentCodePage() {
  std::lock_guard lock(g_cpMutex);
  return g_cp;
}

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
  // A character beyond the basic plane that the code page cannot hold gives one '?' per UTF-16
  // unit, as the platform converts unit by unit.
  WString units;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (!QChar::isHighSurrogate(text[i]) || !QChar::isLowSurrogate(text[i + 1])) continue;
    QStringEncoder probe(enc.name());
    const QByteArray pair = probe.encode(QStringView(text.data() + i, 2));  // converts only when taken
    if (probe.hasError()) {
      if (units.empty()) units.assign(text);
      units[i] = units[i + 1] = u'?';
    }
    ++i;
  }
  if (!units.empty()) text = units;
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
    if (b == '?' && kind == CodePage::Cp1252) b = BestFit1252(c);
    dst[o++] = b;  // a surrogate pair gives two: the platform converts unit by unit
  }
  out.resize(o);
}

WString AnsiName(WStringView name) {
  const AnsiSetting cp = CurrentCodePage();
  if (cp.kind == CodePage::Named) {
    const std::string b = EncodeNamed(cp.name, name);
    return DecodeNamed(cp.name, b.data(), b.size());
  }
  std::string b;
  AppendSingleByte(b, name, cp.kind);
  WString out(b.size(), u'\0');
  for (std::size_t i = 0; i < b.size(); ++i) {
    const auto c = static_cast<unsigned char>(b[i]);
    out[i] = (cp.kind == CodePage::Cp1252 && c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : c;
  }
  return out;
}

}  // namespace profile_detail

using namespace profile_detail;

WString ProfileText::ToString() const {
  if (wide_) return WString(Wide());
  WString out(n_, u'\0');
  Widen(static_cast<const char*>(p_), n_, out.data());
  return out;
}

std::int32_t ParseProfileInt(ProfileText value, std::int32_t def) {
  return value.Visit([&](auto v) { return ParseInt(v, def); });
}

char16_t FoldProfileChar(char16_t c) { return Fold(c); }

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
