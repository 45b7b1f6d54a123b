#pragma once
// UTF-16 text of the platform (char16_t; wchar_t is 32-bit here) and a printf-style
// formatter that always writes "." as the decimal point, whatever the user's locale.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

using WString = std::u16string;
using WStringView = std::u16string_view;

// One argument of FormatW: integers (and enumerations), doubles and UTF-16 strings.
class FmtArg {
 public:
  enum class Type { Int, UInt, Double, Str };
  template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FmtArg(T v) : type_(Type::Int), i_(v) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  FmtArg(T v) : type_(Type::UInt), u_(v) {}
  // An enumeration prints as its number (a camera status, say).
  template <typename T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  FmtArg(T v) : FmtArg(static_cast<std::underlying_type_t<T>>(v)) {}
  FmtArg(double v) : type_(Type::Double), d_(v) {}
  FmtArg(float v) : type_(Type::Double), d_(v) {}
  FmtArg(const char16_t* s) : type_(Type::Str), s_(s ? WStringView(s) : WStringView()) {}
  FmtArg(WStringView s) : type_(Type::Str), s_(s) {}
  FmtArg(const WString& s) : type_(Type::Str), s_(s) {}

  Type type() const { return type_; }
  std::int64_t AsInt() const;
  std::uint64_t AsUInt() const;
  double AsDouble() const;
  WStringView AsStr() const { return type_ == Type::Str ? s_ : WStringView(); }

 private:
  Type type_;
  union {
    std::int64_t i_;
    std::uint64_t u_;
    double d_;
  };
  WStringView s_;
};

// Supports %d %i %u %x %X %o %c %s %f %F %e %E %g %G %%, flags "-+ 0#", width and precision
// (also "*"), and ignores the length modifiers h, l, ll, I64. Missing arguments print nothing.
WString FormatArgs(WStringView fmt, std::initializer_list<FmtArg> args);

template <typename... Args>
WString FormatW(WStringView fmt, const Args&... args) {
  return FormatArgs(fmt, {FmtArg(args)...});
}

// Copies text into a fixed buffer of `capacity` units: at most capacity - 1 units plus the
// terminator, never splitting a surrogate pair.
void CopyToBuffer(WStringView text, char16_t* buffer, std::size_t capacity);
// Length of a terminated text in a fixed buffer (stops at the capacity when unterminated).
std::size_t BufferLength(const char16_t* buffer, std::size_t capacity);

std::string ToUtf8(WStringView text);
WString FromUtf8(std::string_view text);
