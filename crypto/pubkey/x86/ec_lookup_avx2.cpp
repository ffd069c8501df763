#include "crypto/pubkey/x86/ec_lookup_avx2.h"

#include "crypto/common/mem.h"

namespace kel::ec {
namespace {

// Generic vectors rather than intrinsics, so that the body takes the
// instruction set of the function it is inlined into.
using V4 = uint64_t __attribute__((vector_size(32)));
using V2 = uint64_t __attribute__((vector_size(16)));

template <int W>
[[gnu::always_inline]] inline void lookup_body(uint64_t *out, const uint64_t *table, uint32_t count, uint32_t index) {
  static_assert(W % 2 == 0);
  constexpr int kWide = W / 4, kTail = W % 4 / 2;  // 32-byte lanes, then a 16-byte one
  V4 acc[kWide] = {}, j = {0, 0, 0, 0};
  V2 tail = {};
  const V4 want = {index, index, index, index}, one = {1, 1, 1, 1};
  for (uint32_t e = 0; e < count; ++e, table += W) {
    const V4 mask = reinterpret_cast<V4>(j == want);
    j += one;
#pragma GCC unroll 8
    for (int l = 0; l < kWide; ++l) {
      V4 entry;
      __builtin_memcpy(&entry, table + 4 * l, sizeof entry);
      acc[l] |= entry & mask;
    }
    if constexpr (kTail != 0) {
      V2 entry;
      __builtin_memcpy(&entry, table + 4 * kWide, sizeof entry);
      tail |= entry & V2{mask[0], mask[1]};
    }
  }
  __builtin_memcpy(out, acc, sizeof acc);
  if constexpr (kTail != 0) __builtin_memcpy(out + 4 * kWide, &tail, sizeof tail);
  mem::secure_zero(acc, sizeof acc);
  mem::secure_zero(&tail, sizeof tail);
}

}  // namespace

// Hidden by hand: GCC gives explicit specializations default visibility
// whatever -fvisibility says.
#define KEL_LOOKUP_AVX2(W)                                                                            \
  template <>                                                                                         \
  __attribute__((target("avx2"), visibility("hidden"))) void lookup_avx2<W>(                          \
      uint64_t * out, const uint64_t *table, uint32_t count, uint32_t index) {                        \
    lookup_body<W>(out, table, count, index);                                                         \
  }
KEL_LOOKUP_AVX2(8)
KEL_LOOKUP_AVX2(12)
KEL_LOOKUP_AVX2(18)
#undef KEL_LOOKUP_AVX2

}  // namespace kel::ec
