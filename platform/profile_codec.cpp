// The vector kernels of the struct encoding, and its public entry points in profile.h.
#include "platform/profile_codec.h"

#include "platform/profile.h"

#if defined(Q7V_HEX_AVX2)
#include <immintrin.h>  // AVX2 where the processor has it, chosen at run time
#endif

namespace profile_detail {

#if defined(Q7V_HEX_AVX2)
#define Q7V_AVX2 __attribute__((target("avx2")))

struct Avx2HexDigits {  // turns 32 hex digits into 32 nibbles, noting any non-digit
  __m256i nine, five, ten, zeroChar, lowerA, caseBit, lowByte, ok;

  Q7V_AVX2 Avx2HexDigits()
      : nine(_mm256_set1_epi8(9)),
        five(_mm256_set1_epi8(5)),
        ten(_mm256_set1_epi8(10)),
        zeroChar(_mm256_set1_epi8('0')),
        lowerA(_mm256_set1_epi8('a')),
        caseBit(_mm256_set1_epi8(0x20)),
        lowByte(_mm256_set1_epi16(0x00FF)),
        ok(_mm256_set1_epi8(-1)) {}

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

#endif

}  // namespace profile_detail

using namespace profile_detail;

WString EncodeProfileStruct(std::span<const std::uint8_t> data) {
  WString out(2 * data.size() + 2, u'\0');
  HexEncode(data.data(), data.size(), out.data());
  return out;
}

bool DecodeProfileStruct(WStringView text, std::span<std::uint8_t> out) { return DecodeStruct(text, out); }

bool DecodeProfileStruct(ProfileText text, std::span<std::uint8_t> out) {
  return text.Visit([&](auto v) { return DecodeStruct(v, out); });
}
