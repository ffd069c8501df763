// Helpers shared by the finite-field public-key code (Diffie-Hellman and
// DSA): records from the toolkit allocator, secret vlongs that are wiped
// before they go back to a queue or the heap, and random integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "crypto/bignum/internal.h"
#include "crypto/common/mem.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kel/vor.h"

namespace kel::ffc {

constexpr int32_t kOk = 0;
constexpr int32_t kNull = -6001;
constexpr int32_t kNoMemory = -6101;

using mem::secure_zero;

using bignum::release_vlong;
using bignum::wipe_units;

// A new non-negative integer from `bytes` random bytes read big-endian
// (through a heap buffer that is wiped and freed); generator statuses pass
// through. The result is a secret: callers hold it in a secret Held.
int32_t random_integer(RandomContext *rng, uint32_t bytes, vlong **out, vlong **queue);

// The same, drawing the bytes through an RngFun.
int32_t random_integer(RngFun fun, void *arg, uint32_t bytes, vlong **out, vlong **queue);

// New x^e mod m for a secret exponent e over a public odd modulus m
// (Diffie-Hellman's p with g or the peer value, DSA's p with g): the
// big-number code's constant-time exponentiation for public moduli.
// -6004 for an even or zero m.
int32_t pow_secret_exponent(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue);

// New x mod m, reduced into [0, m) (the sign of x is honoured).
int32_t mod_nonneg(const vlong *x, const vlong *m, vlong **out, vlong **queue);

}  // namespace kel::ffc
