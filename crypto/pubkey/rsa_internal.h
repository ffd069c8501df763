// Shared by the RSA sources: status names, scope guards that wipe, the
// constant-time helpers, and the internal (ungated) operations the exported
// entries and key generation are built from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/bignum/internal.h"
#include "crypto/common/ct.h"
#include "crypto/common/mem.h"
#include "kel/rsa.h"

namespace kel::rsa {

constexpr int32_t kOk = 0;
constexpr int32_t kNull = ERR_RSA_NULL;
constexpr int32_t kAlloc = ERR_RSA_ALLOC;

using mem::secure_zero;
using ct::barrier;
// All ones when v is zero, else zero; no branch.
inline uint32_t ct_is_zero(uint32_t v) { return barrier(0u - static_cast<uint32_t>((uint64_t{v} - 1) >> 63)); }
inline uint32_t ct_eq(uint32_t a, uint32_t b) { return ct_is_zero(a ^ b); }
// All ones when a < b (unsigned), else zero.
inline uint32_t ct_lt(uint32_t a, uint32_t b) { return barrier(0u - static_cast<uint32_t>((uint64_t{a} - b) >> 63)); }

using bignum::wipe_units;

// Zeroes a vlong's whole buffer, then gives it back to the queue (or frees it).
inline void wipe_release(vlong **v, vlong **queue) { bignum::release_vlong(v, queue, true); }

// A vlong that holds secret material for one scope: wiped and released on
// every path unless handed on with release().
struct SecretVlong : bignum::Temp {
  explicit SecretVlong(vlong **queue) : Temp(queue, true) {}
};


// Byte length of n (k); 0 without a modulus.
uint32_t modulus_bytes(const RsaKeyObject *key);

// Internal forms of the exported entries, without the gate.
void release_values(RsaKeyObject *key, vlong **queue);
int32_t set_public(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                   vlong **queue);
int32_t prepare(RsaKeyObject *key, vlong **queue);
int32_t sign(const RsaKeyObject *key, const uint8_t *message, uint32_t length, uint8_t *signature, vlong **queue);
int32_t verify(const RsaKeyObject *key, const uint8_t *signature, uint8_t *output, uint32_t *outputLength,
               vlong **queue);

// x^e mod n (public exponent).
int32_t public_op(const RsaKeyObject *key, const vlong *x, vlong **out, vlong **queue);
// The private operation on c: CRT, blinded when rng is given (the key's pair
// is used and renewed under its lock), the result checked against e before
// it is released (ERR_RSA_FAULT).
int32_t private_op(const RsaKeyObject *key, const vlong *c, RngFun rng, void *rngArg, vlong **out, vlong **queue);

// Fixed-width constant-time arithmetic on little-endian 32-bit units (all
// arrays k units unless said otherwise; m odd, rho = -m^-1 mod 2^32).
namespace ct {
// r = a·b·2^(-32k) mod m, for a, b < m. r may alias a or b. t: 2k + 2 units.
void mont_mul(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *m, uint32_t rho, size_t k,
              uint32_t *t);
// r = 2^(64k) mod m (the constant that takes a value into Montgomery form),
// from m's bit length (public). t: 3k + 2 units of scratch.
void mont_r2(uint32_t *r, const uint32_t *m, uint32_t mBits, uint32_t rho, size_t k, uint32_t *t);
// -m^-1 mod 2^32 for odd m0.
uint32_t mont_rho(uint32_t m0);
// r = a·b mod m through two Montgomery products. t: 3k + 2 units.
void mod_mul(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *m, const uint32_t *r2, uint32_t rho,
             size_t k, uint32_t *t);
// Loads v into k units (zero above its length; high units beyond k dropped).
void load(uint32_t *dst, const vlong *v, size_t k);
}  // namespace ct

}  // namespace kel::rsa
