// Limb kernels: rows, schoolbook and Karatsuba products, long division and
// Montgomery reduction. The rows have a portable form (128-bit products) and
// a MULX/ADCX/ADOX form with two carry chains, picked at run time.
#include "crypto/bignum/limbs.h"
#include "crypto/common/cpu.h"

namespace kel::bignum {
namespace {

uint64_t mul_1_portable(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  uint64_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    u128 t = static_cast<u128>(a[i]) * b + c;
    r[i] = static_cast<uint64_t>(t);
    c = static_cast<uint64_t>(t >> 64);
  }
  return c;
}

uint64_t addmul_1_portable(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  uint64_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    u128 t = static_cast<u128>(a[i]) * b + r[i] + c;
    r[i] = static_cast<uint64_t>(t);
    c = static_cast<uint64_t>(t >> 64);
  }
  return c;
}

// r += a·b with MULX and two carry chains: ADOX adds the previous high half
// into the low half, ADCX adds the result limb. Loop control uses LEA and
// JRCXZ only, which leave both flags alone. Four limbs per turn. Plain inline
// assembly needs no target attribute, so the rows inline into their callers;
// they run only where adx_enabled() said yes.
__attribute__((always_inline)) inline uint64_t addmul_1_adx(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  uint64_t carry = 0, lo, hi, lo2;
  size_t singles = n & 3, blocks = n >> 2;
  __asm__ volatile(
      "xorl %k[lo], %k[lo]\n\t"  // clears CF and OF
      "movq %[singles], %%rcx\n"
      "1:\n\t"
      "jrcxz 2f\n\t"
      "mulxq (%[a]), %[lo], %[hi]\n\t"
      "adoxq %[c], %[lo]\n\t"
      "adcxq (%[r]), %[lo]\n\t"
      "movq %[lo], (%[r])\n\t"
      "movq %[hi], %[c]\n\t"
      "leaq 8(%[a]), %[a]\n\t"
      "leaq 8(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "movq %[blocks], %%rcx\n"
      "3:\n\t"
      "jrcxz 4f\n\t"
      "mulxq (%[a]), %[lo], %[hi]\n\t"
      "adoxq %[c], %[lo]\n\t"
      "adcxq (%[r]), %[lo]\n\t"
      "movq %[lo], (%[r])\n\t"
      "mulxq 8(%[a]), %[lo2], %[c]\n\t"
      "adoxq %[hi], %[lo2]\n\t"
      "adcxq 8(%[r]), %[lo2]\n\t"
      "movq %[lo2], 8(%[r])\n\t"
      "mulxq 16(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[c], %[lo]\n\t"
      "adcxq 16(%[r]), %[lo]\n\t"
      "movq %[lo], 16(%[r])\n\t"
      "mulxq 24(%[a]), %[lo2], %[c]\n\t"
      "adoxq %[hi], %[lo2]\n\t"
      "adcxq 24(%[r]), %[lo2]\n\t"
      "movq %[lo2], 24(%[r])\n\t"
      "leaq 32(%[a]), %[a]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jmp 3b\n"
      "4:\n\t"
      "movl $0, %k[lo]\n\t"
      "adoxq %[lo], %[c]\n\t"
      "adcxq %[lo], %[c]\n\t"
      : [c] "+&r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi), [lo2] "=&r"(lo2), [a] "+&r"(a), [r] "+&r"(r)
      : [singles] "r"(singles), [blocks] "r"(blocks), "d"(b)
      : "rcx", "cc", "memory");
  return carry;
}

__attribute__((always_inline)) inline uint64_t mul_1_adx(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  uint64_t carry = 0, lo, hi;
  __asm__ volatile(
      "xorl %k[lo], %k[lo]\n\t"
      "movq %[n], %%rcx\n"
      "1:\n\t"
      "jrcxz 2f\n\t"
      "mulxq (%[a]), %[lo], %[hi]\n\t"
      "adcxq %[c], %[lo]\n\t"
      "movq %[lo], (%[r])\n\t"
      "movq %[hi], %[c]\n\t"
      "leaq 8(%[a]), %[a]\n\t"
      "leaq 8(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "movl $0, %k[lo]\n\t"
      "adcxq %[lo], %[c]\n\t"
      : [c] "+&r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi), [a] "+&r"(a), [r] "+&r"(r)
      : [n] "r"(n), "d"(b)
      : "rcx", "cc", "memory");
  return carry;
}

// 128-by-64 division; hi < d.
inline uint64_t div_2by1(uint64_t hi, uint64_t lo, uint64_t d, uint64_t *rem) {
  uint64_t q, r;
  __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
  *rem = r;
  return q;
}

}  // namespace

#if defined(KEL_CT_CHECK_MSAN)
bool adx_enabled() { return false; }  // MemorySanitizer cannot see through the assembly
#else
bool adx_enabled() { return cpu::has(cpu::kBmi2 | cpu::kAdx); }
#endif

uint64_t mul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  return adx_enabled() ? mul_1_adx(r, a, n, b) : mul_1_portable(r, a, n, b);
}

uint64_t addmul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  return adx_enabled() ? addmul_1_adx(r, a, n, b) : addmul_1_portable(r, a, n, b);
}

uint64_t submul_1(limb_t *r, const limb_t *a, size_t n, uint64_t b) {
  uint64_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    u128 t = static_cast<u128>(a[i]) * b + c;
    uint64_t lo = static_cast<uint64_t>(t);
    c = static_cast<uint64_t>(t >> 64) + (r[i] < lo);
    r[i] -= lo;
  }
  return c;
}

namespace {

template <bool adx>
void mul_basecase_t(limb_t *r, const limb_t *a, size_t an, const limb_t *b, size_t bn) {
  r[an] = adx ? mul_1_adx(r, a, an, b[0]) : mul_1_portable(r, a, an, b[0]);
  for (size_t j = 1; j < bn; ++j)
    r[an + j] = adx ? addmul_1_adx(r + j, a, an, b[j]) : addmul_1_portable(r + j, a, an, b[j]);
}

template <bool adx>
void sqr_basecase_t(limb_t *r, const limb_t *a, size_t n) {
  if (n == 1) {
    u128 p = static_cast<u128>(a[0]) * a[0];
    r[0] = static_cast<uint64_t>(p);
    r[1] = static_cast<uint64_t>(p >> 64);
    return;
  }
  // Cross products a[i]·a[j], i < j, once each, then doubled.
  r[n] = adx ? mul_1_adx(r + 1, a + 1, n - 1, a[0]) : mul_1_portable(r + 1, a + 1, n - 1, a[0]);
  for (size_t i = 1; i + 1 < n; ++i)
    r[n + i] = adx ? addmul_1_adx(r + 2 * i + 1, a + i + 1, n - i - 1, a[i])
                   : addmul_1_portable(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
  r[0] = 0;
  r[2 * n - 1] = 0;
  lshift(r, r, 2 * n, 1);
  unsigned char c = 0;
  for (size_t i = 0; i < n; ++i) {
    u128 p = static_cast<u128>(a[i]) * a[i];
    uint64_t s;
    c = addc(c, r[2 * i], static_cast<uint64_t>(p), &s);
    r[2 * i] = s;
    c = addc(c, r[2 * i + 1], static_cast<uint64_t>(p >> 64), &s);
    r[2 * i + 1] = s;
  }
}

}  // namespace

void mul_basecase(limb_t *r, const limb_t *a, size_t an, const limb_t *b, size_t bn) {
  adx_enabled() ? mul_basecase_t<true>(r, a, an, b, bn) : mul_basecase_t<false>(r, a, an, b, bn);
}

void sqr_basecase(limb_t *r, const limb_t *a, size_t n) {
  adx_enabled() ? sqr_basecase_t<true>(r, a, n) : sqr_basecase_t<false>(r, a, n);
}

// Karatsuba: a = a1·B^h + a0, b likewise; a·b = z2·B^2h + (z0 + z2 - (a1 -
// a0)(b1 - b0))·B^h + z0. The halves are compared, so this is for public
// operands only.
void mul_n(limb_t *r, const limb_t *a, const limb_t *b, size_t n, limb_t *ws) {
  if (n < kKaratsubaThreshold) {
    mul_basecase(r, a, n, b, n);
    return;
  }
  const size_t h = n / 2, hh = n - h;
  limb_t *da = ws, *db = ws + hh, *dm = ws + 2 * hh, *next = ws + 4 * hh;
  // |x1 - x0| with x0 zero-extended to hh limbs; true when x1 < x0.
  auto absdiff = [h, hh](limb_t *d, const limb_t *x) -> bool {
    const bool neg = (hh > h && x[2 * h] != 0) ? false : cmp_n(x + h, x, h) < 0;
    if (neg) {
      sub_n(d, x, x + h, h);
      if (hh > h) d[h] = 0;
    } else {
      uint64_t borrow = sub_n(d, x + h, x, h);
      if (hh > h) d[h] = x[2 * h] - borrow;
    }
    return neg;
  };
  const bool na = absdiff(da, a);
  const bool nb = absdiff(db, b);
  mul_n(dm, da, db, hh, next);
  mul_n(r, a, b, h, next);                  // z0 into r[0..2h)
  mul_n(r + 2 * h, a + h, b + h, hh, next);  // z2 into r[2h..2n)
  // t = z0 + z2 (2hh limbs plus a carry), then ± dm, added at h.
  limb_t *t = da;  // da, db are free again; t spans 2hh + 1 limbs of ws
  copy_n(t, r + 2 * h, 2 * hh);
  uint64_t tc = add_n(t, t, r, 2 * h);
  if (2 * hh > 2 * h) tc = add_1(t + 2 * h, t + 2 * h, 2 * hh - 2 * h, tc);
  if (na != nb)
    tc += add_n(t, t, dm, 2 * hh);
  else
    tc -= sub_n(t, t, dm, 2 * hh);
  uint64_t c = add_n(r + h, r + h, t, 2 * hh);
  c += tc;
  if (h + 2 * hh < 2 * n) add_1(r + h + 2 * hh, r + h + 2 * hh, 2 * n - h - 2 * hh, c);
}

void sqr_n(limb_t *r, const limb_t *a, size_t n, limb_t *ws) {
  if (n < kKaratsubaThreshold) {
    sqr_basecase(r, a, n);
    return;
  }
  const size_t h = n / 2, hh = n - h;
  limb_t *da = ws, *dm = ws + 2 * hh, *next = ws + 4 * hh;
  bool neg = (hh > h && a[2 * h] != 0) ? false : cmp_n(a + h, a, h) < 0;
  if (neg) {
    sub_n(da, a, a + h, h);
    if (hh > h) da[h] = 0;
  } else {
    uint64_t borrow = sub_n(da, a + h, a, h);
    if (hh > h) da[h] = a[2 * h] - borrow;
  }
  sqr_n(dm, da, hh, next);
  sqr_n(r, a, h, next);
  sqr_n(r + 2 * h, a + h, hh, next);
  limb_t *t = ws;
  copy_n(t, r + 2 * h, 2 * hh);
  uint64_t tc = add_n(t, t, r, 2 * h);
  if (2 * hh > 2 * h) tc = add_1(t + 2 * h, t + 2 * h, 2 * hh - 2 * h, tc);
  tc -= sub_n(t, t, dm, 2 * hh);
  uint64_t c = add_n(r + h, r + h, t, 2 * hh);
  c += tc;
  if (h + 2 * hh < 2 * n) add_1(r + h + 2 * hh, r + h + 2 * hh, 2 * n - h - 2 * hh, c);
}

uint64_t mod_1(const limb_t *a, size_t n, uint64_t d) {
  uint64_t r = 0;
  for (size_t i = n; i-- > 0;) {
    if (r == 0 && a[i] < d) {
      r = a[i];
      continue;
    }
    div_2by1(r, a[i], d, &r);
  }
  return r;
}

void divrem(limb_t *q, limb_t *u, size_t un, const limb_t *d, size_t dn, limb_t *dw) {
  if (dn == 1) {
    uint64_t r = 0;
    for (size_t i = un; i-- > 0;) q[i] = div_2by1(r, u[i], d[0], &r);
    u[0] = r;
    return;
  }
  const unsigned s = static_cast<unsigned>(__builtin_clzll(d[dn - 1]));
  lshift(dw, d, dn, s);
  u[un] = lshift(u, u, un, s);
  const uint64_t v1 = dw[dn - 1], v2 = dw[dn - 2];
  for (size_t j = un - dn + 1; j-- > 0;) {
    uint64_t *top = &u[j + dn];
    uint64_t qhat, rhat;
    bool rhatOverflow = false;
    if (*top >= v1) {
      qhat = ~0ull;
      rhat = u[j + dn - 1] + v1;
      rhatOverflow = rhat < v1;
    } else {
      qhat = div_2by1(*top, u[j + dn - 1], v1, &rhat);
    }
    // Knuth's test: lower qhat while qhat·v2 > rhat·B + u[j+dn-2].
    while (!rhatOverflow) {
      u128 p = static_cast<u128>(qhat) * v2;
      u128 rr = (static_cast<u128>(rhat) << 64) | u[j + dn - 2];
      if (p <= rr) break;
      --qhat;
      rhat += v1;
      rhatOverflow = rhat < v1;
    }
    uint64_t borrow = submul_1(u + j, dw, dn, qhat);
    if (*top < borrow) {
      --qhat;
      uint64_t c = add_n(u + j, u + j, dw, dn);
      *top = *top - borrow + c;
    } else {
      *top -= borrow;
    }
    q[j] = qhat;
  }
  rshift(u, u, dn, s);
}

uint64_t neg_inverse_64(uint64_t m0) {
  uint64_t y = m0;  // correct to 3 bits for odd m0
  for (int i = 0; i < 5; ++i) y *= 2 - m0 * y;
  return 0 - y;
}

namespace {

template <bool adx>
void mont_redc_t(const Mont &mt, limb_t *r, limb_t *t) {
  const size_t n = mt.n;
  uint64_t carry = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t u = t[i] * mt.minv;
    uint64_t c = adx ? addmul_1_adx(t + i, mt.m, n, u) : addmul_1_portable(t + i, mt.m, n, u);
    u128 s = static_cast<u128>(t[i + n]) + c + carry;
    t[i + n] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
  // The value is carry·R + t[n..2n) < 2m: subtract m unless that borrows.
  uint64_t borrow = sub_n(r, t + n, mt.m, n);
  uint64_t keep = 0 - ((borrow & ~carry) & 1);
  select_n(r, t + n, r, n, keep);
}

}  // namespace

void mont_redc(const Mont &mt, limb_t *r, limb_t *t) {
  adx_enabled() ? mont_redc_t<true>(mt, r, t) : mont_redc_t<false>(mt, r, t);
}

void mont_mul(const Mont &mt, limb_t *r, const limb_t *a, const limb_t *b, limb_t *t) {
  if (adx_enabled()) {
    mul_basecase_t<true>(t, a, mt.n, b, mt.n);
    mont_redc_t<true>(mt, r, t);
  } else {
    mul_basecase_t<false>(t, a, mt.n, b, mt.n);
    mont_redc_t<false>(mt, r, t);
  }
}

void mont_sqr(const Mont &mt, limb_t *r, const limb_t *a, limb_t *t) {
  if (adx_enabled()) {
    sqr_basecase_t<true>(t, a, mt.n);
    mont_redc_t<true>(mt, r, t);
  } else {
    sqr_basecase_t<false>(t, a, mt.n);
    mont_redc_t<false>(mt, r, t);
  }
}

}  // namespace kel::bignum
