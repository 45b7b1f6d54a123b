#pragma once
// The struct encoding of profile files: every byte as two upper-case hex digits, then a checksum
// byte (the sum of the bytes modulo 256) the same way. Encoded and decoded 16 bytes at a time
// with SSE2, 32 with AVX2 where the processor has it (chosen at run time, profile_codec.cpp);
// records are thousands of digits long, and a layer file holds tens of thousands of them.
// Internal to platform/profile*.cpp.
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/profile_text.h"

namespace profile_detail {

inline constexpr auto kHexPair = [] {
  std::array<std::array<char, 2>, 256> t{};
  constexpr char digits[] = "0123456789ABCDEF";
  for (int b = 0; b < 256; ++b) t[std::size_t(b)] = {digits[b >> 4], digits[b & 15]};
  return t;
}();

inline constexpr auto kNibble = [] {
  std::array<std::int8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[std::size_t(c)] = std::int8_t(HexDigit(char16_t(c)));
  return t;
}();

#if defined(Q7V_HEX_AVX2)
std::size_t HexDecodeAvx2(const char* in, std::size_t n, std::uint8_t* out, std::uint32_t& sum, bool& valid);
std::size_t HexEncodeAvx2(const std::uint8_t* data, std::size_t n, char* out, std::uint32_t& sum);
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
    if (!HexDecode(text.data(), n + 1, tmp.data(), sum) || std::uint8_t(sum) != std::uint8_t(2 * tmp[n])) return false;
    if (n) std::memcpy(out.data(), tmp.data(), n);  // a zero-size read may name no buffer at all
    return true;
  }
  std::uint8_t last = 0;
  std::uint32_t check = 0;
  if (!HexDecode(text.data() + 2 * n, 1, &last, check)) return false;
  if (!HexDecode(text.data(), n, nullptr, sum) || std::uint8_t(sum) != last) return false;
  return HexDecode(text.data(), n, out.data(), sum);
}

}  // namespace profile_detail
