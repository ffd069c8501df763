// Shared pieces of the fixed-width unit code: the two field records' data,
// wiping, and the modular add/subtract every field operation is built from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/common/mem.h"
#include "kel/primefield.h"

namespace kel::pf {

constexpr int32_t kOk = 0;
constexpr int32_t kNull = ERR_PF_NULL_POINTER;

using mem::secure_zero;

// a <- a + b mod m: the modulus comes off once when the sum carries out or
// exceeds it (a sum equal to m stays m).
inline void mod_add(int32_t n, uint32_t *a, const uint32_t *b, const uint32_t *m) {
  if (BI_add(n, a, b) != 0 || BI_cmp(n, a, m) > 0) BI_sub(n, a, m);
}

// a <- a - b mod m: the modulus goes back on once after a borrow.
inline void mod_sub(int32_t n, uint32_t *a, const uint32_t *b, const uint32_t *m) {
  if (BI_sub(n, a, b) != 0) BI_add(n, a, m);
}

// The two field records (PF_p256 and PF_p384 point at them).
extern const PrimeField PrimeFieldP256;
extern const PrimeField PrimeFieldP384;

inline uint32_t byte_length(const PrimeField *f) { return (f->bitLength + 7) / 8; }

}  // namespace kel::pf
