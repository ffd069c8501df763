// Constant-time table lookup with AVX2: every entry of the table is read,
// and the wanted one is kept by a mask made from a vector comparison.
#pragma once

#include <cstdint>

namespace kel::ec {

// out <- table[index] (W 64-bit words per entry, `count` entries), or all
// zeros when index >= count. W is 8, 12 or 18 (the curves' affine and
// Jacobian points).
template <int W> void lookup_avx2(uint64_t *out, const uint64_t *table, uint32_t count, uint32_t index);

}  // namespace kel::ec
