// GHASH with PCLMULQDQ. Blocks are byte-reflected so that the carry-less
// product of two field elements is the 256-bit product shifted by one bit;
// eight blocks are multiplied by H^8..H^1 and summed before one reduction
// (the aggregated method of Gueron and Kounavis).
// GCC 12's AVX-512 intrinsics fill their pass-through operand with
// _mm512_undefined_epi32() and then warn about it at every use.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/internal.h"
#include "crypto/common/cpu.h"

#define KEL_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))

namespace kel::gcm::clmul {

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

// X is four big-endian words, most significant first; the byte-reflected
// register is those words in reverse order (each word's bytes are already
// least significant first in memory).
KEL_CLMUL inline __m128i load_x(const uint32_t X[4]) {
  return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(X)), 0x1B);
}

KEL_CLMUL inline void store_x(uint32_t X[4], __m128i x) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(X), _mm_shuffle_epi32(x, 0x1B));
}

bool available() { return cpu::has(cpu::kPclmul | cpu::kSsse3 | cpu::kSse41); }

KEL_CLMUL void init_powers(GcmState &s) {
  const __m128i h = load_x(s.pub.table[8]);  // entry 8 is H
  __m128i p = h;
  for (int i = 0; i < kPowers; ++i) {
    _mm_store_si128(reinterpret_cast<__m128i *>(s.hpow[i]), p);
    _mm_store_si128(reinterpret_cast<__m128i *>(s.hrev[kPowers - 1 - i]), p);
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
  if (n >= 4) {  // a short message's blocks still share one reduction
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    for (int j = 0; j < 4; ++j) {
      __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * j)), m);
      if (j == 0) b = _mm_xor_si128(b, x);
      mul_acc(b, H(4 - j), lo, mid, hi);
    }
    x = reduce(lo, mid, hi);
    n -= 4;
    data += 64;
  }
  for (; n > 0; --n, data += 16) {
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)), m);
    x = gfmul(_mm_xor_si128(x, b), H(1));
  }
  store_x(X, x);
}

}  // namespace kel::gcm::clmul

namespace kel::gcm::vpclmul {

#define KEL_VPCLMUL __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,ssse3,sse4.1")))

bool available() {
  return cpu::has(cpu::kVpclmul | cpu::kAvx512f | cpu::kAvx512bw | cpu::kAvx512vl | cpu::kPclmul | cpu::kSsse3 |
                  cpu::kSse41);
}

namespace {

KEL_VPCLMUL inline __m128i fold_lanes(__m512i v) {
  const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

}  // namespace

// Sixteen blocks a pass: block i of the pass is multiplied by H^(16-i), four
// to a register, and the sum is reduced once.
KEL_VPCLMUL void ghash(const uint8_t hrev[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n) {
  const __m512i rev = _mm512_broadcast_i32x4(clmul::rev_mask());
  __m512i h[4];
  for (int j = 0; j < 4; ++j) h[j] = _mm512_loadu_si512(hrev[4 * j]);  // the context is only 16-byte aligned
  __m128i x = clmul::load_x(X);
  for (; n >= 16; n -= 16, data += 256) {
    __m512i lo = _mm512_setzero_si512(), mid = lo, hi = lo;
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) {
      __m512i b = _mm512_shuffle_epi8(_mm512_loadu_si512(data + 64 * j), rev);
      if (j == 0) b = _mm512_xor_si512(b, _mm512_zextsi128_si512(x));
      lo = _mm512_xor_si512(lo, _mm512_clmulepi64_epi128(b, h[j], 0x00));
      hi = _mm512_xor_si512(hi, _mm512_clmulepi64_epi128(b, h[j], 0x11));
      mid = _mm512_xor_si512(mid, _mm512_xor_si512(_mm512_clmulepi64_epi128(b, h[j], 0x10),
                                                   _mm512_clmulepi64_epi128(b, h[j], 0x01)));
    }
    x = clmul::reduce(fold_lanes(lo), fold_lanes(mid), fold_lanes(hi));
  }
  clmul::store_x(X, x);
}

}  // namespace kel::gcm::vpclmul
