// GHASH with PCLMULQDQ: eight blocks multiplied by H^8..H^1 and summed
// before one reduction (x86/clmul.h), the wide form sixteen at a time.
// GCC 12's AVX-512 intrinsics fill their pass-through operand with
// _mm512_undefined_epi32() and then warn about it at every use.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/internal.h"
#include "crypto/common/cpu.h"
#include "crypto/cipher/x86/clmul.h"

namespace kel::gcm::clmul {

bool available() { return cpu::has(cpu::kPclmul | cpu::kSsse3 | cpu::kSse41); }

// The powers twisted: gfmul(X, twist(H^i)) is X * H^i, and the product of
// two twisted powers is the twisted product.
KEL_CLMUL void init_powers(GcmState &s) {
  const __m128i h = twist(load_x(s.pub.table[8]));  // entry 8 is H
  __m128i p = h;
  for (int i = 0; i < kPowers; ++i) {
    _mm_store_si128(reinterpret_cast<__m128i *>(s.hpow[i]), p);
    _mm_store_si128(reinterpret_cast<__m128i *>(s.hrev[kPowers - 1 - i]), p);
    p = gfmul(p, h);
  }
  s.powersReady = 1;
}

KEL_CLMUL void ghash(const uint8_t hpow[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n) {
  __m128i x = load_x(X);
  for (; n >= 8; n -= 8, data += 128) x = fold(hpow, x, data, 8);
  if (n >= 4) {  // a short message's blocks still share one reduction
    x = fold(hpow, x, data, 4);
    n -= 4;
    data += 64;
  }
  for (; n > 0; --n, data += 16) x = fold(hpow, x, data, 1);
  store_x(X, x);
}

}  // namespace kel::gcm::clmul

namespace kel::gcm::vpclmul {

bool available() {
  return cpu::has(cpu::kVpclmul | cpu::kAvx512f | cpu::kAvx512bw | cpu::kAvx512vl | cpu::kPclmul | cpu::kSsse3 |
                  cpu::kSse41);
}

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
      clmul::mul_acc4(b, h[j], lo, mid, hi);
    }
    x = clmul::reduce(clmul::fold_lanes(lo), clmul::fold_lanes(mid), clmul::fold_lanes(hi));
  }
  clmul::store_x(X, x);
}

}  // namespace kel::gcm::vpclmul
