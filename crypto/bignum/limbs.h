// Limb kernels: the arithmetic under the vlong, on 64-bit limbs.
//
// A vlong stores 32-bit units, least significant first, in a 16-byte aligned
// buffer whose capacity is a multiple of 4 units; on this little-endian
// machine unit 2i is the low half of limb i, so the buffer is read as limbs in
// place. An odd unit length leaves the high half of the top limb outside the
// value: view() clears it before a kernel reads it.
//
// None of these kernels branches on limb values or indexes memory by them;
// the Montgomery reduction's final subtraction is a masked select. The
// constant-time exponentiation relies on that. Karatsuba (mul_n/sqr_n above
// the threshold) compares halves and is for public operands only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <x86intrin.h>

#include "crypto/common/ct.h"
#include "kel/vlong.h"

namespace kel::bignum {

typedef uint64_t limb_t __attribute__((__may_alias__));
using u128 = unsigned __int128;

// ---- carry-chain primitives (portable; the ADX row kernels are in mul_adx) ----

// One limb with carry in and out (ADC and SBB). The MemorySanitizer build of
// the constant-time check takes the plain 128-bit form instead: that checker
// treats the intrinsics' operands as branched on, and would report every
// masked subtraction of a secret.
inline unsigned char addc(unsigned char c, uint64_t a, uint64_t b, uint64_t *s) {
#if defined(KEL_CT_CHECK_MSAN)
  const u128 t = static_cast<u128>(a) + b + c;
  *s = static_cast<uint64_t>(t);
  return static_cast<unsigned char>(t >> 64);
#else
  unsigned long long r;
  c = __builtin_ia32_addcarryx_u64(c, a, b, &r);
  *s = r;
  return c;
#endif
}

inline unsigned char subb(unsigned char c, uint64_t a, uint64_t b, uint64_t *s) {
#if defined(KEL_CT_CHECK_MSAN)
  const u128 t = static_cast<u128>(a) - b - c;
  *s = static_cast<uint64_t>(t);
  return static_cast<unsigned char>((t >> 64) & 1);
#else
  unsigned long long r;
  c = _subborrow_u64(c, a, b, &r);
  *s = r;
  return c;
#endif
}

inline uint64_t add_n(limb_t *r, const limb_t *a, const limb_t *b, size_t n) {
  unsigned char c = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t s;
    c = addc(c, a[i], b[i], &s);
    r[i] = s;
  }
  return c;
}

inline uint64_t sub_n(limb_t *r, const limb_t *a, const limb_t *b, size_t n) {
  unsigned char c = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t s;
    c = subb(c, a[i], b[i], &s);
    r[i] = s;
  }
  return c;
}

// r = a + b (single limb), n >= 1 limbs; carry out. Stops early: not for
// secrets.
inline uint64_t add_1(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  for (size_t i = 0; i < n; ++i) {
    uint64_t s = a[i] + b;
    b = s < b;
    r[i] = s;
  }
  return b;
}

inline uint64_t sub_1(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  for (size_t i = 0; i < n; ++i) {
    uint64_t s = a[i] - b;
    b = a[i] < b;
    r[i] = s;
  }
  return b;
}

inline int cmp_n(const limb_t *a, const limb_t *b, size_t n) {
  while (n-- > 0)
    if (a[n] != b[n]) return a[n] > b[n] ? 1 : -1;
  return 0;
}

inline size_t normalized(const limb_t *a, size_t n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

inline void copy_n(limb_t *r, const limb_t *a, size_t n) {
  for (size_t i = 0; i < n; ++i) r[i] = a[i];
}

inline void zero_n(limb_t *r, size_t n) {
  for (size_t i = 0; i < n; ++i) r[i] = 0;
}

// r = a << s (0 <= s < 64), returns the bits shifted out. r may equal a.
inline uint64_t lshift(limb_t *r, const limb_t *a, size_t n, unsigned s) {
  if (s == 0) {
    copy_n(r, a, n);
    return 0;
  }
  uint64_t out = 0;
  for (size_t i = n; i-- > 0;) {
    uint64_t v = a[i];
    if (i + 1 == n) out = v >> (64 - s);
    r[i] = v << s | (i ? a[i - 1] >> (64 - s) : 0);
  }
  return out;
}

// r = a >> s (0 <= s < 64). r may equal a.
inline void rshift(limb_t *r, const limb_t *a, size_t n, unsigned s) {
  if (s == 0) {
    copy_n(r, a, n);
    return;
  }
  for (size_t i = 0; i < n; ++i) r[i] = a[i] >> s | (i + 1 < n ? a[i + 1] << (64 - s) : 0);
}

// Constant-time select: r = mask ? a : b (mask all ones or zero).
inline void select_n(limb_t *r, const limb_t *a, const limb_t *b, size_t n, uint64_t mask) {
  for (size_t i = 0; i < n; ++i) r[i] = (a[i] & mask) | (b[i] & ~mask);
}

// ---- rows and products (kernels.cpp; ADX variants chosen at run time) ----

// r[0..n) = a·b, returns the high limb.
uint64_t mul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b);
// r[0..n) += a·b, returns the carry limb.
uint64_t addmul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b);
// r[0..n) -= a·b, returns the borrow limb.
uint64_t submul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b);

// Schoolbook product r[0..an+bn) = a·b (r must not overlap a or b; an, bn
// >= 1).
void mul_basecase(limb_t *r, const limb_t *a, size_t an, const limb_t *b, size_t bn);
// Schoolbook square r[0..2n) = a².
void sqr_basecase(limb_t *r, const limb_t *a, size_t n);

// Full products with Karatsuba above the threshold: r[0..2n) = a·b (a²).
// ws: at least karatsuba_workspace(n) limbs.
constexpr size_t kKaratsubaThreshold = 40;
constexpr size_t karatsuba_workspace(size_t n) { return 4 * n + 64; }
void mul_n(limb_t *r, const limb_t *a, const limb_t *b, size_t n, limb_t *ws);
void sqr_n(limb_t *r, const limb_t *a, size_t n, limb_t *ws);

// Long division (Knuth D). u: un + 1 limbs holding the dividend in u[0..un)
// (u[un] is scratch); d: dn limbs, top limb non-zero, un >= dn. On return
// q[0..un-dn] holds the quotient, u[0..dn) the remainder. dn >= 2 needs a
// shifted copy of d: dw, dn limbs of scratch.
void divrem(limb_t *q, limb_t *u, size_t un, const limb_t *d, size_t dn, limb_t *dw);

// Remainder of a[0..n) by a single limb.
uint64_t mod_1(const limb_t *a, size_t n, uint64_t d);

// ---- Montgomery arithmetic over 64-bit limbs, R = 2^(64n) ----

struct Mont {
  const limb_t *m;  // odd modulus, n limbs, top limb non-zero
  size_t n;
  uint64_t minv;    // -m^-1 mod 2^64
};

uint64_t neg_inverse_64(uint64_t m0);

// r = t·R^-1 mod m for t < m·R held in t[0..2n) (t is destroyed); constant
// time; r < m when t < m·R.
void mont_redc(const Mont &mt, limb_t *r, limb_t *t);
// r = a·b·R^-1 mod m (a, b < m, n limbs each); t: 2n limbs of scratch. r may
// equal a or b. Schoolbook only: constant time.
void mont_mul(const Mont &mt, limb_t *r, const limb_t *a, const limb_t *b, limb_t *t);
void mont_sqr(const Mont &mt, limb_t *r, const limb_t *a, limb_t *t);

// ---- the vlong seen as limbs ----

inline size_t limbs_for(uint32_t units) { return (static_cast<size_t>(units) + 1) / 2; }

// The value's limbs: clears the stray half of an odd-length top limb (written
// only when set, so a vlong already in shape is not touched).
inline const limb_t *view(const vlong *v, size_t *n) {
  *n = limbs_for(v->length);
#if defined(KEL_CT_CHECK_MSAN) || defined(KEL_CT_CHECK_VALGRIND)
  if (v->length & 1) v->units[v->length] = 0;  // the checkers: that unit may never have been written
#else
  if ((v->length & 1) && v->units[v->length] != 0) v->units[v->length] = 0;
#endif
  return reinterpret_cast<const limb_t *>(v->units);
}

inline limb_t *limbs(vlong *v) { return reinterpret_cast<limb_t *>(v->units); }

// Sets v's length to its first `units` units trimmed of leading zeros. Every
// unit is looked at, whatever the value: secret results (exponentiations,
// reductions of a secret) pass through here, and only their length, public
// by the integer form's rule, may come out.
inline void set_unit_length(vlong *v, uint32_t units) {
  uint32_t len = 0;
  for (uint32_t i = 0; i < units; ++i) len = ct::select(ct::mask_nonzero(v->units[i]), i + 1, len);
  KEL_DECLASSIFY(&len, sizeof len);
  v->length = len;
}

// The same from a limb count.
inline void set_limb_length(vlong *v, size_t n) { set_unit_length(v, static_cast<uint32_t>(2 * n)); }

// Runs f with the ADX kernels switched off (tests and benchmarks compare).
bool adx_enabled();

}  // namespace kel::bignum
