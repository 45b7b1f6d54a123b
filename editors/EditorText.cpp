#include "editors/EditorText.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "measure/MeasureBase.h"
#include "platform/strings.h"

namespace editors {

namespace {

// The ASCII prefix a number can be read from; anything else ends it.
std::string AsciiPrefix(WStringView text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r'))
    ++i;
  std::string out;
  for (; i < text.size() && text[i] < 0x80; ++i) out.push_back(char(text[i]));
  return out;
}

// from_chars takes neither a leading '+' nor leading blanks.
const char* SkipPlus(const std::string& s, bool* negative) {
  const char* p = s.c_str();
  *negative = false;
  if (*p == '+') ++p;
  else if (*p == '-') {
    *negative = true;
    ++p;
  }
  return p;
}

}  // namespace

QString Str(std::uint32_t id) { return Q(LoadStringW(id)); }

double WToF(WStringView text) {
  const std::string s = AsciiPrefix(text);
  bool neg = false;
  const char* p = SkipPlus(s, &neg);
  double v = 0.0;
  const auto r = std::from_chars(p, s.c_str() + s.size(), v, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0.0;
  if (r.ec == std::errc::result_out_of_range) v = HUGE_VAL;
  return neg ? -v : v;
}

int WToI(WStringView text) {
  const std::string s = AsciiPrefix(text);
  bool neg = false;
  const char* p = SkipPlus(s, &neg);
  long long v = 0;
  const auto r = std::from_chars(p, s.c_str() + s.size(), v);
  if (r.ec == std::errc::invalid_argument) return 0;
  if (r.ec == std::errc::result_out_of_range) return neg ? INT_MIN : INT_MAX;
  if (neg) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

bool IsNumber(WStringView text, double* value) {
  std::string s;
  for (char16_t c : text) {
    if (c >= 0x80) return false;
    s.push_back(char(c));
  }
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const auto last = s.find_last_not_of(" \t");
  s = s.substr(first, last - first + 1);
  bool neg = false;
  const char* p = SkipPlus(s, &neg);
  const char* end = s.c_str() + s.size();
  double v = 0.0;
  const auto r = std::from_chars(p, end, v, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return false;
  if (value) *value = neg ? -v : v;
  return true;
}

WString KindLabel(int kind) {
  std::uint32_t id = 0;
  switch (kind) {
    case MK_POINT: id = 60022; break;
    case MK_LINE: id = 60023; break;
    case MK_PARALLEL: id = 60033; break;
    case MK_FOLDLINE: id = 60024; break;
    case MK_ANGLE: id = 60025; break;
    case MK_LINE2LINE: id = 60035; break;
    case MK_RECT: id = 60026; break;
    case MK_ROUNDRECT: id = 60027; break;
    case MK_ELLIPSE: id = 60028; break;
    case MK_ARC3: id = 60031; break;
    case MK_CIRCLE2: id = 60029; break;
    case MK_CIRCLE3: id = 60030; break;
    case MK_POLYGON: id = 60032; break;
    case MK_POINT2LINE: id = 60034; break;
    case MK_CIRCLE2LINE: id = 60036; break;
    case MK_CIRCLE2CIRCLE: id = 60037; break;
    default: return {};
  }
  return LoadStringW(id);
}

}  // namespace editors
