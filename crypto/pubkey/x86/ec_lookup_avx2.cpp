#include "crypto/pubkey/x86/ec_lookup_avx2.h"

#include <immintrin.h>

#include "crypto/common/mem.h"

#pragma GCC target("avx2")  // the whole file: a template takes no target attribute

namespace kel::ec {

template <int W> void lookup_avx2(uint64_t *out, const uint64_t *table, uint32_t count, uint32_t index) {
  static_assert(W % 2 == 0);
  constexpr int kWide = W / 4, kTail = W % 4 / 2;  // 32-byte lanes, then a 16-byte one
  __m256i acc[kWide] = {};
  __m128i tail = _mm_setzero_si128();
  const __m256i want = _mm256_set1_epi64x(index), one = _mm256_set1_epi64x(1);
  __m256i j = _mm256_setzero_si256();
  for (uint32_t e = 0; e < count; ++e, table += W) {
    const __m256i mask = _mm256_cmpeq_epi64(j, want);
    j = _mm256_add_epi64(j, one);
#pragma GCC unroll 8
    for (int l = 0; l < kWide; ++l)
      acc[l] = _mm256_or_si256(acc[l], _mm256_and_si256(mask, _mm256_loadu_si256(
                                                                  reinterpret_cast<const __m256i *>(table + 4 * l))));
    if constexpr (kTail != 0)
      tail = _mm_or_si128(tail, _mm_and_si128(_mm256_castsi256_si128(mask),
                                              _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 4 * kWide))));
  }
  for (int l = 0; l < kWide; ++l) _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * l), acc[l]);
  if constexpr (kTail != 0) _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * kWide), tail);
  mem::secure_zero(acc, sizeof acc);
  mem::secure_zero(&tail, sizeof tail);
}

template void lookup_avx2<8>(uint64_t *, const uint64_t *, uint32_t, uint32_t);
template void lookup_avx2<12>(uint64_t *, const uint64_t *, uint32_t, uint32_t);
template void lookup_avx2<18>(uint64_t *, const uint64_t *, uint32_t, uint32_t);

}  // namespace kel::ec
