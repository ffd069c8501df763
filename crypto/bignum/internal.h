// Internal entries of the big-number code, shared with the public-key code
// (RSA, DSA, Diffie-Hellman) in the same library. Not exported.
//
// Which exponentiation, and why: VLONG_modexp and VLONG_modExp branch on the
// exponent's bits (sliding window, binary method, early exits on zero), and
// their reductions take data-dependent branches; that is fine for public
// exponents (RSA e, signature verification, the public side of Diffie-Hellman
// checks, Miller-Rabin). A secret exponent (RSA d and the CRT halves dP, dQ,
// DSA x and k, Diffie-Hellman private values) must go through the fixed
// 5-bit window over every bit position of the exponent's units, Montgomery
// products on full-width residues, a final subtraction by mask, and table
// entries read by a constant-time select, so neither branches nor memory
// addresses depend on the exponent. mod_exp() is the one place that picks
// the path from the kind of exponent; every caller names the kind. All give
// the same value.
//
// The two secret kinds differ in what else is secret:
// - Exponent::kSecret (modexp_consttime): the modulus too (RSA's CRT
//   primes). Its Montgomery constants come from shifts, masked subtractions
//   and Montgomery squarings, never from a division.
// - Exponent::kSecretPublicModulus (modexp_public_modulus): a public modulus
//   (Diffie-Hellman's and DSA's p, DSA's q, RSA's n for the blinding
//   factor), so its constants come from long division, which branches on the
//   modulus only. The exponent and the base stay secret.
// Both treat as public the modulus' length, the exponent's unit count (not
// its bit length) and the base's bit length; the base's value is reduced
// without a division whenever it is shorter than the modulus squared.
#pragma once

#include <cstdint>

#include "crypto/common/mem.h"
#include "kel/vlong.h"

namespace kel::bignum {

enum class Exponent { kPublic, kSecret, kSecretPublicModulus };

// New x^e mod m. kPublic: VLONG_modexp. kSecret: modexp_consttime;
// kSecretPublicModulus: modexp_public_modulus (m must be odd for both:
// -6004 otherwise). x may be any value (it is reduced mod m first).
int32_t mod_exp(const vlong *x, const vlong *e, const vlong *m, Exponent kind, vlong **out, vlong **queue);

// The same with a prepared helper (RSA CRT halves, repeated exponentiations).
int32_t mod_exp(const ModExpHelper *helper, const vlong *x, const vlong *e, Exponent kind, vlong **out,
                vlong **queue);

// Constant-time fixed-window Montgomery exponentiation: new x^e mod m, m odd
// (-6004 for an even or zero m, -6001 for a null argument). Time and memory
// addresses depend only on the lengths of m and e (in units). x is reduced
// modulo m first. e = 0 gives 1 mod m.
int32_t modexp_consttime(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue);
// RSA's two CRT halves, c^dP mod p and c^dQ mod q, as two kSecret powers
// with the helpers of p and q: on the IFMA path for primes of the same
// width, both run in one interleaved pass.
int32_t mod_exp_crt(const ModExpHelper *hp, const ModExpHelper *hq, const vlong *c, const vlong *dp,
                    const vlong *dq, vlong **m1, vlong **m2, vlong **queue);

// The same over a public odd modulus (set up by division).
int32_t modexp_public_modulus(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue);

// New g^a · y^b mod p (p odd, -6004 otherwise) by one simultaneous scan of
// two public exponents (signature verification): variable time.
int32_t mod_exp2(const vlong *g, const vlong *a, const vlong *y, const vlong *b, const vlong *p, vlong **out,
                 vlong **queue);

// Named internal operations of the integer code.
// New product x·y (sign = XOR of the flags), the product taken from the queue.
int32_t VLONG_operatorMultiplySignedVlongs(const vlong *x, const vlong *y, vlong **out, vlong **queue);
// The multiplication and squaring dispatchers: product = x·y (x²) written
// over n units (n at least the operands' total length), then trimmed.
int32_t multiplyVlongsToLength(vlong *product, const vlong *x, const vlong *y, uint32_t n);
int32_t squareVlongToLength(vlong *product, const vlong *x, uint32_t n);
// Room for n units, value discarded (length 0 when the buffer is replaced).
int32_t expandVlongNoCopy(vlong *v, uint32_t n);
// Magnitude comparison: -1, 0, 1.
int32_t compareMagnitudes(const vlong *a, const vlong *b);
// Barrett reduction of x (< B^(2k)) modulo m with mu from VLONG_newBarrettMu.
int32_t barrettReduce(vlong *result, const vlong *x, const vlong *m, const vlong *mu, vlong **queue);

// Miller-Rabin: rounds for a candidate of the given bit length.
uint32_t millerRabinRoundCount(uint32_t bitLength);

// Zeroes every unit the vlong's buffer holds (not only the significant ones:
// a shorter later value leaves the old high units behind) and makes it 0.
inline void wipe_units(vlong *v) {
  if (v == nullptr) return;
  if (v->units != nullptr) mem::secure_zero(v->units, sizeof(uint32_t) * v->capacity);
  v->length = 0;
  v->isNegative = 0;
}

// Releases *v to the queue (or the heap, zeroed). A secret is wiped first,
// because a queued vlong keeps its value until the queue is emptied.
inline void release_vlong(vlong **v, vlong **queue, bool secret) {
  if (v == nullptr || *v == nullptr) return;
  if (secret) wipe_units(*v);
  VLONG_freeVlong(v, queue);
}

// A vlong temporary released when the scope ends, on every path; a secret
// one is wiped first.
class Temp {
 public:
  explicit Temp(vlong **queue, bool secret = false) : queue_(queue), secret_(secret) {}
  ~Temp() { release_vlong(&v_, queue_, secret_); }
  Temp(const Temp &) = delete;
  Temp &operator=(const Temp &) = delete;
  // The slot as it is (a swap may go through it).
  vlong **out() { return &v_; }
  // The slot emptied first, for an output: a reused slot never leaks its
  // old value.
  vlong **fresh() {
    release_vlong(&v_, queue_, secret_);
    return &v_;
  }
  vlong *get() const { return v_; }
  vlong *operator->() const { return v_; }
  // Hands the vlong to the caller; the guard no longer releases it.
  vlong *release() {
    vlong *v = v_;
    v_ = nullptr;
    return v;
  }

 private:
  vlong *v_ = nullptr;
  vlong **queue_;
  bool secret_;
};

}  // namespace kel::bignum
