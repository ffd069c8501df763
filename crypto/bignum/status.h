// Statuses of the big-number code and the wipe it uses before memory goes
// back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::bignum {

constexpr int32_t kOk = 0;
constexpr int32_t kNull = -6001;
constexpr int32_t kDivideByZero = -6002;
constexpr int32_t kSize = -6003;
constexpr int32_t kBadModulus = -6004;
constexpr int32_t kEvenCandidate = -6005;
constexpr int32_t kBufferTooSmall = -6007;
constexpr int32_t kNoMemory = -6101;

void wipe(void *p, size_t n);

}  // namespace kel::bignum

struct vlong;

namespace kel::bignum {

// Room for cap units, value discarded: the limb kernels' headroom, which may
// pass the 8192-unit ceiling by a few units (values never do).
int32_t reserve_units(vlong *v, uint32_t cap);
}  // namespace kel::bignum
