// Carry-less multiplication in GHASH's field, shared by the GHASH kernels
// (ghash_clmul.cpp) and the stitched GCM kernel (aes_ni.cpp). Blocks are
// byte-reflected so that the carry-less product of two field elements is the
// 256-bit product shifted by one bit; products are summed unreduced and
// reduced once (the aggregated method of Gueron and Kounavis).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#define KEL_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))

namespace kel::gcm::clmul {

KEL_CLMUL inline __m128i rev_mask() { return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }

// Accumulates the unreduced product a*b into lo, mid, hi.
KEL_CLMUL inline void mul_acc(__m128i a, __m128i b, __m128i &lo, __m128i &mid, __m128i &hi) {
  lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(a, b, 0x00));
  hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(a, b, 0x11));
  mid = _mm_xor_si128(mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01)));
}

// Folds the middle term and reduces the 256-bit product modulo
// x^128 + x^7 + x^2 + x + 1 (reflected) with two carry-less multiplications
// by the polynomial's low terms. One factor is "twisted" (times x, see
// twist()), which absorbs the one-bit offset of the reflected product.
KEL_CLMUL inline __m128i reduce(__m128i lo, __m128i mid, __m128i hi) {
  lo = _mm_xor_si128(lo, _mm_slli_si128(mid, 8));
  hi = _mm_xor_si128(hi, _mm_srli_si128(mid, 8));
  const __m128i poly = _mm_set_epi64x(static_cast<long long>(0xC200000000000000ull), 0);
  lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4E), _mm_clmulepi64_si128(lo, poly, 0x10));
  lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4E), _mm_clmulepi64_si128(lo, poly, 0x10));
  return _mm_xor_si128(hi, lo);
}

// h times x in the reflected field: a one-bit shift of the 128-bit value,
// the polynomial folded in when a bit leaves the top (no branch: a mask).
KEL_CLMUL inline __m128i twist(__m128i h) {
  const __m128i top = _mm_shuffle_epi32(_mm_srai_epi32(h, 31), 0xFF);  // all ones when bit 127 is set
  const __m128i carry = _mm_slli_si128(_mm_srli_epi64(h, 63), 8);      // bit 63 into bit 64
  const __m128i shifted = _mm_or_si128(_mm_slli_epi64(h, 1), carry);
  const __m128i poly = _mm_set_epi64x(static_cast<long long>(0xC200000000000000ull), 1);
  return _mm_xor_si128(shifted, _mm_and_si128(top, poly));
}

KEL_CLMUL inline __m128i gfmul(__m128i a, __m128i b) {
  __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
  mul_acc(a, b, lo, mid, hi);
  return reduce(lo, mid, hi);
}

// X is four big-endian words, most significant first; the byte-reflected
// register is those words in reverse order (each word's bytes are already
// least significant first in memory).
KEL_CLMUL inline __m128i load_x(const uint32_t X[4]) {
  return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(X)), 0x1B);
}

KEL_CLMUL inline void store_x(uint32_t X[4], __m128i x) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(X), _mm_shuffle_epi32(x, 0x1B));
}

KEL_CLMUL inline __m128i power(const uint8_t hpow[][16], int i) {
  return _mm_load_si128(reinterpret_cast<const __m128i *>(hpow[i - 1]));
}

// Block j of data byte-reflected; the first block carries x.
KEL_CLMUL inline __m128i reflected_block(const uint8_t *data, int j, __m128i x) {
  const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * j)), rev_mask());
  return j == 0 ? _mm_xor_si128(b, x) : b;
}

// hpow holds the powers of H twisted (x86/ghash_clmul.cpp, init_powers).
// Block j of n (1 <= n <= 16) of data, byte-reflected, times H^(n-j),
// accumulated unreduced; the first block carries x.
KEL_CLMUL inline void mul_block(const uint8_t hpow[][16], const uint8_t *data, int j, int n, __m128i x,
                                __m128i &lo, __m128i &mid, __m128i &hi) {
  mul_acc(reflected_block(data, j, x), power(hpow, n - j), lo, mid, hi);
}

// The same by Karatsuba: three products, the middle one of the halves' sums
// (hs: the power's halves summed, karatsuba_power), accumulated into mid; the
// true middle term is then mid ^ lo ^ hi (reduce_karatsuba).
KEL_CLMUL inline __m128i karatsuba_power(const uint8_t hpow[][16], int i) {
  const __m128i h = power(hpow, i);
  return _mm_xor_si128(h, _mm_shuffle_epi32(h, 0x4E));
}

KEL_CLMUL inline void mul_block_karatsuba(const uint8_t hpow[][16], __m128i hs, const uint8_t *data, int j, int n,
                                          __m128i x, __m128i &lo, __m128i &mid, __m128i &hi) {
  const __m128i b = reflected_block(data, j, x), h = power(hpow, n - j);
  lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(b, h, 0x00));
  hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(b, h, 0x11));
  mid = _mm_xor_si128(mid, _mm_clmulepi64_si128(_mm_xor_si128(b, _mm_shuffle_epi32(b, 0x4E)), hs, 0x00));
}

KEL_CLMUL inline __m128i reduce_karatsuba(__m128i lo, __m128i mid, __m128i hi) {
  return reduce(lo, _mm_xor_si128(mid, _mm_xor_si128(lo, hi)), hi);
}

// x after absorbing n blocks (1 <= n <= 16): one reduction for all of them.
KEL_CLMUL inline __m128i fold(const uint8_t hpow[][16], __m128i x, const uint8_t *data, int n) {
  __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
  for (int j = 0; j < n; ++j) mul_block(hpow, data, j, n, x, lo, mid, hi);
  return reduce(lo, mid, hi);
}

#define KEL_VPCLMUL __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,ssse3,sse4.1")))

// The sum of a 512-bit register's four 128-bit lanes.
KEL_VPCLMUL inline __m128i fold_lanes(__m512i v) {
  const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

// Four blocks (one per lane) times the four powers in h, summed unreduced
// lane by lane into lo, mid, hi.
KEL_VPCLMUL inline void mul_acc4(__m512i b, __m512i h, __m512i &lo, __m512i &mid, __m512i &hi) {
  lo = _mm512_xor_si512(lo, _mm512_clmulepi64_epi128(b, h, 0x00));
  hi = _mm512_xor_si512(hi, _mm512_clmulepi64_epi128(b, h, 0x11));
  mid = _mm512_xor_si512(mid, _mm512_xor_si512(_mm512_clmulepi64_epi128(b, h, 0x10),
                                               _mm512_clmulepi64_epi128(b, h, 0x01)));
}

}  // namespace kel::gcm::clmul
