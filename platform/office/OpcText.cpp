// Text made safe for XML 1.0, and cut by UTF-16 length, over UTF-8.
#include <string>
#include <string_view>

#include "platform/office/OpcParts.h"

namespace office::opc {

namespace {

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i, or -1 (and one byte)
// for a malformed sequence.
long DecodeUtf8(std::string_view s, std::size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + std::size_t(len) > s.size()) {
    ++i;
    return -1;
  }
  long cp = len == 1 ? c : c & (0xFF >> (len + 1));
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + std::size_t(k)]);
    if ((cc >> 6) != 2) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  static const long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += std::size_t(len);
  return cp;
}

void AppendUtf8(std::string& out, long cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string CleanText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    long cp = DecodeUtf8(utf8, i);
    if (cp < 0) cp = 0xFFFD;
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                         (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
    if (allowed) AppendUtf8(out, cp);
  }
  return out;
}

std::string TruncateUtf16(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0, i = 0;
  while (i < utf8.size()) {
    std::size_t next = i;
    const long cp = DecodeUtf8(utf8, next);
    const std::size_t u = cp >= 0x10000 ? 2 : 1;
    if (units + u > maxUnits) break;
    units += u;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace office::opc
