// GHASH with PCLMULQDQ. Blocks are byte-reflected so that the carry-less
// product of two field elements is the 256-bit product shifted by one bit;
// eight blocks are multiplied by H^8..H^1 and summed before one reduction
// (the aggregated method of Gueron and Kounavis).
#include <immintrin.h>

#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/internal.h"
#include "crypto/common/cpu.h"

#define KEL_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))

namespace kel::gcm::clmul {
namespace {

KEL_CLMUL inline __m128i rev_mask() { return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }

// Accumulates the unreduced product a*b into lo, mid, hi.
KEL_CLMUL inline void mul_acc(__m128i a, __m128i b, __m128i &lo, __m128i &mid, __m128i &hi) {
  lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(a, b, 0x00));
  hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(a, b, 0x11));
  mid = _mm_xor_si128(mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01)));
}

// Folds the middle term, shifts the 256-bit product left by one bit and
// reduces it modulo x^128 + x^7 + x^2 + x + 1 (reflected).
KEL_CLMUL inline __m128i reduce(__m128i lo, __m128i mid, __m128i hi) {
  lo = _mm_xor_si128(lo, _mm_slli_si128(mid, 8));
  hi = _mm_xor_si128(hi, _mm_srli_si128(mid, 8));
  __m128i t7 = _mm_srli_epi32(lo, 31), t8 = _mm_srli_epi32(hi, 31);
  lo = _mm_slli_epi32(lo, 1);
  hi = _mm_slli_epi32(hi, 1);
  const __m128i t9 = _mm_srli_si128(t7, 12);
  t8 = _mm_slli_si128(t8, 4);
  t7 = _mm_slli_si128(t7, 4);
  lo = _mm_or_si128(lo, t7);
  hi = _mm_or_si128(_mm_or_si128(hi, t8), t9);
  t7 = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(lo, 31), _mm_slli_epi32(lo, 30)), _mm_slli_epi32(lo, 25));
  t8 = _mm_srli_si128(t7, 4);
  t7 = _mm_slli_si128(t7, 12);
  lo = _mm_xor_si128(lo, t7);
  __m128i t2 = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(lo, 1), _mm_srli_epi32(lo, 2)), _mm_srli_epi32(lo, 7));
  t2 = _mm_xor_si128(t2, t8);
  lo = _mm_xor_si128(lo, t2);
  return _mm_xor_si128(hi, lo);
}

KEL_CLMUL inline __m128i gfmul(__m128i a, __m128i b) {
  __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
  mul_acc(a, b, lo, mid, hi);
  return reduce(lo, mid, hi);
}

KEL_CLMUL inline __m128i load_x(const uint32_t X[4]) {
  uint8_t b[16];
  for (int w = 0; w < 4; ++w) cipher::store_be32(b + 4 * w, X[w]);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b)), rev_mask());
}

KEL_CLMUL inline void store_x(uint32_t X[4], __m128i x) {
  uint8_t b[16];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(b), _mm_shuffle_epi8(x, rev_mask()));
  for (int w = 0; w < 4; ++w) X[w] = cipher::load_be32(b + 4 * w);
}

}  // namespace

bool available() { return cpu::has(cpu::kPclmul | cpu::kSsse3 | cpu::kSse41); }

KEL_CLMUL void init_powers(GcmState &s) {
  const __m128i h = load_x(s.pub.table[8]);  // entry 8 is H
  __m128i p = h;
  for (int i = 0; i < kPowers; ++i) {
    _mm_store_si128(reinterpret_cast<__m128i *>(s.hpow[i]), p);
    p = gfmul(p, h);
  }
  s.powersReady = 1;
}

KEL_CLMUL void ghash(const uint8_t hpow[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n) {
  const __m128i m = rev_mask();
  auto H = [&](int i) { return _mm_load_si128(reinterpret_cast<const __m128i *>(hpow[i - 1])); };
  __m128i x = load_x(X);
  for (; n >= 8; n -= 8, data += 128) {
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    for (int j = 0; j < 8; ++j) {
      __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * j)), m);
      if (j == 0) b = _mm_xor_si128(b, x);
      mul_acc(b, H(8 - j), lo, mid, hi);
    }
    x = reduce(lo, mid, hi);
  }
  for (; n > 0; --n, data += 16) {
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)), m);
    x = gfmul(_mm_xor_si128(x, b), H(1));
  }
  store_x(X, x);
}

}  // namespace kel::gcm::clmul

namespace kel::gcm::vpclmul {

// The wide form comes with the VAES paths; until then it is never chosen.
bool available() { return false; }
void ghash(const uint8_t hpow[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n) {
  clmul::ghash(hpow, X, data, n);
}

}  // namespace kel::gcm::vpclmul
