#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <QString>

std::int64_t FmtArg::AsInt() const {
  switch (type_) {
    case Type::Int: return i_;
    case Type::UInt: return std::int64_t(u_);
    case Type::Double: return std::int64_t(d_);
    default: return 0;
  }
}

std::uint64_t FmtArg::AsUInt() const {
  switch (type_) {
    case Type::Int: return std::uint64_t(i_);
    case Type::UInt: return u_;
    case Type::Double: return std::uint64_t(std::int64_t(d_));
    default: return 0;
  }
}

double FmtArg::AsDouble() const {
  switch (type_) {
    case Type::Int: return double(i_);
    case Type::UInt: return double(u_);
    case Type::Double: return d_;
    default: return 0.0;
  }
}

namespace {

struct Conversion {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  int width = 0;
  int precision = -1;
};

void Pad(WString& out, const std::string& body, const Conversion& sp, bool numeric) {
  // body is ASCII; sign and prefix stay in front of zero padding
  std::size_t len = body.size();
  if (sp.width <= int(len)) {
    out.append(body.begin(), body.end());
    return;
  }
  std::size_t fill = std::size_t(sp.width) - len;
  if (sp.left) {
    out.append(body.begin(), body.end());
    out.append(fill, u' ');
  } else if (sp.zero && numeric) {
    std::size_t signLen = 0;
    if (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) signLen = 1;
    if (body.size() >= signLen + 2 && body[signLen] == '0' && (body[signLen + 1] == 'x' || body[signLen + 1] == 'X'))
      signLen += 2;
    out.append(body.begin(), body.begin() + signLen);
    out.append(fill, u'0');
    out.append(body.begin() + signLen, body.end());
  } else {
    out.append(fill, u' ');
    out.append(body.begin(), body.end());
  }
}

std::string FormatFloat(double v, char conv, const Conversion& sp) {
  int prec = sp.precision < 0 ? 6 : sp.precision;
  std::string s;
  bool upper = (conv == 'F' || conv == 'E' || conv == 'G');
  if (std::isnan(v)) {
    s = std::signbit(v) ? "-nan" : "nan";
  } else if (std::isinf(v)) {
    s = v < 0 ? "-inf" : "inf";
  } else {
    char buf[512];
    std::to_chars_result r{};
    char lc = char(conv | 0x20);
    if (lc == 'f') {
      r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, prec);
    } else if (lc == 'e') {
      r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, prec);
    } else {
      // %g: printf's choice between fixed and scientific, trailing zeros removed unless '#'
      int p = prec == 0 ? 1 : prec;
      r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, p - 1);
      std::string sci(buf, r.ptr);
      int exp = std::atoi(sci.c_str() + sci.find('e') + 1);
      if (exp < -4 || exp >= p)
        r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, p - 1);
      else
        r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, p - 1 - exp);
      std::string t(buf, r.ptr);
      if (!sp.alt) {
        std::size_t e = t.find('e');
        std::string mant = t.substr(0, e), tail = e == std::string::npos ? "" : t.substr(e);
        if (mant.find('.') != std::string::npos) {
          while (!mant.empty() && mant.back() == '0') mant.pop_back();
          if (!mant.empty() && mant.back() == '.') mant.pop_back();
        }
        t = mant + tail;
      }
      std::memcpy(buf, t.data(), t.size());
      r.ptr = buf + t.size();
    }
    s.assign(buf, r.ptr);
    if (lc == 'e' || lc == 'g') {
      // printf writes at least two exponent digits: 1e+05, 1e-07
      std::size_t e = s.find('e');
      if (e != std::string::npos) {
        std::string exp = s.substr(e + 1);
        char sign = '+';
        if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
          sign = exp[0];
          exp = exp.substr(1);
        }
        while (exp.size() < 2) exp = "0" + exp;
        s = s.substr(0, e) + "e" + sign + exp;
      }
    }
    if (sp.alt && prec == 0 && lc != 'g' && s.find('.') == std::string::npos) {
      std::size_t e = s.find('e');
      s.insert(e == std::string::npos ? s.size() : e, ".");
    }
  }
  if (upper)
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (!s.empty() && s[0] != '-') {
    if (sp.plus) s = "+" + s;
    else if (sp.space) s = " " + s;
  }
  return s;
}

std::string FormatInteger(const FmtArg& a, char conv, const Conversion& sp) {
  std::string digits;
  bool neg = false;
  char buf[72];
  if (conv == 'd' || conv == 'i') {
    std::int64_t v = a.AsInt();
    std::uint64_t mag = v < 0 ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
    neg = v < 0;
    auto r = std::to_chars(buf, buf + sizeof buf, mag);
    digits.assign(buf, r.ptr);
  } else {
    std::uint64_t v = a.AsUInt();
    // 32-bit arguments print as the platform's 32-bit unsigned
    if (a.type() == FmtArg::Type::Int && a.AsInt() >= INT32_MIN && a.AsInt() <= INT32_MAX) v = std::uint32_t(v);
    int base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
    auto r = std::to_chars(buf, buf + sizeof buf, v, base);
    digits.assign(buf, r.ptr);
    if (conv == 'X')
      for (char& c : digits) c = char(std::toupper(static_cast<unsigned char>(c)));
  }
  if (sp.precision >= 0) {
    if (sp.precision == 0 && digits == "0") digits.clear();
    while (int(digits.size()) < sp.precision) digits = "0" + digits;
  }
  std::string prefix;
  if (neg) prefix = "-";
  else if ((conv == 'd' || conv == 'i') && sp.plus) prefix = "+";
  else if ((conv == 'd' || conv == 'i') && sp.space) prefix = " ";
  if (sp.alt && (conv == 'x' || conv == 'X') && a.AsUInt() != 0) prefix += conv == 'x' ? "0x" : "0X";
  return prefix + digits;
}

}  // namespace

WString FormatArgs(WStringView fmt, std::initializer_list<FmtArg> args) {
  WString out;
  out.reserve(fmt.size() + 16);
  auto next = args.begin();
  auto take = [&]() -> const FmtArg* { return next == args.end() ? nullptr : &*next++; };
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char16_t c = fmt[i];
    if (c != u'%') {
      out.push_back(c);
      continue;
    }
    if (++i >= fmt.size()) break;
    if (fmt[i] == u'%') {
      out.push_back(u'%');
      continue;
    }
    Conversion sp;
    for (; i < fmt.size(); ++i) {
      char16_t f = fmt[i];
      if (f == u'-') sp.left = true;
      else if (f == u'+') sp.plus = true;
      else if (f == u' ') sp.space = true;
      else if (f == u'0') sp.zero = true;
      else if (f == u'#') sp.alt = true;
      else break;
    }
    if (i < fmt.size() && fmt[i] == u'*') {
      const FmtArg* w = take();
      sp.width = w ? int(w->AsInt()) : 0;
      if (sp.width < 0) {
        sp.left = true;
        sp.width = -sp.width;
      }
      ++i;
    } else {
      while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') sp.width = sp.width * 10 + (fmt[i++] - u'0');
    }
    if (i < fmt.size() && fmt[i] == u'.') {
      ++i;
      sp.precision = 0;
      if (i < fmt.size() && fmt[i] == u'*') {
        const FmtArg* p = take();
        sp.precision = p ? int(p->AsInt()) : -1;
        ++i;
      } else {
        while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') sp.precision = sp.precision * 10 + (fmt[i++] - u'0');
      }
    }
    while (i < fmt.size() && (fmt[i] == u'h' || fmt[i] == u'l' || fmt[i] == u'L' || fmt[i] == u'z' || fmt[i] == u'j'))
      ++i;
    if (i + 2 < fmt.size() && fmt[i] == u'I' && fmt[i + 1] == u'6' && fmt[i + 2] == u'4') i += 3;
    if (i >= fmt.size()) break;
    char conv = char(fmt[i]);
    const FmtArg* a = take();
    if (!a) continue;
    switch (conv) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        Pad(out, FormatInteger(*a, conv, sp), sp, !sp.left && sp.precision < 0);
        break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
        Pad(out, FormatFloat(a->AsDouble(), conv, sp), sp, true);
        break;
      case 'c': {
        WString s(1, char16_t(a->AsUInt()));
        if (sp.width > 1 && !sp.left) out.append(std::size_t(sp.width - 1), u' ');
        out += s;
        if (sp.width > 1 && sp.left) out.append(std::size_t(sp.width - 1), u' ');
        break;
      }
      case 's': {
        WStringView s = a->AsStr();
        if (sp.precision >= 0 && std::size_t(sp.precision) < s.size()) s = s.substr(0, std::size_t(sp.precision));
        std::size_t fill = sp.width > int(s.size()) ? std::size_t(sp.width) - s.size() : 0;
        if (!sp.left) out.append(fill, u' ');
        out += s;
        if (sp.left) out.append(fill, u' ');
        break;
      }
      default:
        out.push_back(u'%');
        out.push_back(fmt[i]);
        break;
    }
  }
  return out;
}

void CopyToBuffer(WStringView text, char16_t* buffer, std::size_t capacity) {
  if (!buffer || capacity == 0) return;
  std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  // do not leave half of a surrogate pair at the end
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
}

std::size_t BufferLength(const char16_t* buffer, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && buffer[n]) ++n;
  return n;
}

std::string ToUtf8(WStringView text) {
  return QString::fromUtf16(text.data(), qsizetype(text.size())).toStdString();
}

WString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size())).toStdU16String();
}
