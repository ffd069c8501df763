// Internal arithmetic of the curves: 64-bit-limb Montgomery fields (for the
// coordinates and for the group order), complete projective point formulas
// for a = -3 (Renes, Costello and Batina 2016, algorithms 4 to 6), and the
// scalar multiplications. Everything that touches a secret scalar runs in
// constant time: fixed iteration counts, masked table scans, no branch on
// scalar bits.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "crypto/common/cpu.h"
#include "crypto/common/ct.h"
#include "crypto/common/mem.h"
#include "crypto/pubkey/x86/ec_mont_adx.h"
#include "kel/ec.h"

namespace kel::ec {

using u128 = unsigned __int128;

constexpr int32_t kOk = 0;

// A wipe the compiler may not drop as a dead store.
inline void wipe(void *p, size_t n) { mem::secure_zero(p, n); }

// Keeps a mask opaque to the optimiser so selects stay branch-free.
inline uint64_t barrier(uint64_t v) { return ct::barrier(v); }

// A big-endian hex string as little-endian 32-bit units, at compile time.
template <size_t N> consteval std::array<uint32_t, N> hex_units(const char *hex) {
  std::array<uint32_t, N> u{};
  size_t len = 0;
  while (hex[len] != 0) ++len;
  for (size_t i = 0; i < len; ++i) {
    const char c = hex[len - 1 - i];
    const uint32_t v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    u[i / 8] |= v << (4 * (i % 8));
  }
  return u;
}

// ---------------------------------------------------------------------------
// Montgomery arithmetic modulo an odd N-limb modulus M (R = 2^(64N)).

template <int N> using Limbs = std::array<uint64_t, N>;

template <int N> struct Modulus {
  Limbs<N> m{};
  uint64_t n0 = 0;  // -m^-1 mod 2^64
  Limbs<N> r2{};    // R^2 mod m
  Limbs<N> one{};   // R mod m
};
// The assembly kernels find n0 right after the limbs of m.
static_assert(offsetof(Modulus<4>, n0) == 4 * 8 && offsetof(Modulus<6>, n0) == 6 * 8);

template <int N> constexpr Limbs<N> limbs_of(const uint32_t *units) {
  Limbs<N> l{};
  for (int i = 0; i < N; ++i) l[i] = uint64_t{units[2 * i]} | uint64_t{units[2 * i + 1]} << 32;
  return l;
}

template <int N> constexpr void units_of(const Limbs<N> &l, uint32_t *units) {
  for (int i = 0; i < N; ++i) {
    units[2 * i] = static_cast<uint32_t>(l[i]);
    units[2 * i + 1] = static_cast<uint32_t>(l[i] >> 32);
  }
}

template <int N> consteval Modulus<N> make_modulus(const std::array<uint32_t, 2 * N> &units) {
  Modulus<N> M;
  M.m = limbs_of<N>(units.data());
  uint64_t inv = 1;  // Newton: inv <- inv (2 - m inv), doubling the correct bits
  for (int i = 0; i < 6; ++i) inv *= 2 - M.m[0] * inv;
  M.n0 = 0 - inv;
  Limbs<N> x{};
  x[0] = 1;
  for (int i = 0; i < 128 * N; ++i) {  // x <- 2x mod m, 2 x 64N times
    uint64_t carry = 0;
    for (int j = 0; j < N; ++j) {
      const uint64_t top = x[j] >> 63;
      x[j] = x[j] << 1 | carry;
      carry = top;
    }
    bool ge = carry != 0;
    if (!ge) {
      ge = true;
      for (int j = N - 1; j >= 0; --j)
        if (x[j] != M.m[j]) {
          ge = x[j] > M.m[j];
          break;
        }
    }
    if (ge) {
      uint64_t borrow = 0;
      for (int j = 0; j < N; ++j) {
        const u128 d = u128{x[j]} - M.m[j] - borrow;
        x[j] = static_cast<uint64_t>(d);
        borrow = static_cast<uint64_t>(d >> 64) & 1;
      }
    }
    if (i == 64 * N - 1) M.one = x;
  }
  M.r2 = x;
  return M;
}

// r <- t - m when t (with its carry limb hi) is at least m, else t; no branch.
template <int N> [[gnu::always_inline]] constexpr inline void final_subtract(Limbs<N> &r, const uint64_t *t, uint64_t hi, const Limbs<N> &m) {
  uint64_t s[N];
  uint64_t borrow = 0;
  #pragma GCC unroll 16
  for (int j = 0; j < N; ++j) {
    const u128 d = u128{t[j]} - m[j] - borrow;
    s[j] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  // keep t when the subtraction borrowed more than the carry limb holds
  const uint64_t keep = 0 - (borrow & ~hi & 1);
  #pragma GCC unroll 16
  for (int j = 0; j < N; ++j) r[j] = (t[j] & keep) | (s[j] & ~keep);
}

// q m[j]; an all-ones limb (the top limbs of both primes and orders) is a
// shift and a subtraction. The test is on the constant modulus only.
template <int N, const Modulus<N> &M> [[gnu::always_inline]] constexpr inline u128 product(uint64_t q, int j) {
  if (M.m[j] == ~uint64_t{0}) return (u128{q} << 64) - q;
  return u128{q} * M.m[j];
}

// The P-256 prime's limbs (2^64 - 1, 2^32 - 1, 0, 2^64 - 2^32 + 1) with
// n0 = 1 turn the first two products of each reduction step into a shift.
template <int N, const Modulus<N> &M>
constexpr bool kShiftReduction = N == 4 && M.n0 == 1 && M.m[0] == ~uint64_t{0} && M.m[1] == 0xffffffffu;

// Montgomery product a b R^-1 mod m (CIOS); a, b < m gives a result < m.
template <int N, const Modulus<N> &M> [[gnu::always_inline]] constexpr inline void mont_mul(Limbs<N> &r, const Limbs<N> &a, const Limbs<N> &b) {
  uint64_t t[N + 2] = {};
  #pragma GCC unroll 16
  for (int i = 0; i < N; ++i) {
    u128 c = 0;
    #pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
      c += u128{a[j]} * b[i] + t[j];
      t[j] = static_cast<uint64_t>(c);
      c >>= 64;
    }
    c += t[N];
    t[N] = static_cast<uint64_t>(c);
    t[N + 1] = static_cast<uint64_t>(c >> 64);
    const uint64_t q = t[0] * M.n0;
    int j = 1;
    if constexpr (kShiftReduction<N, M>) {  // q m0 + t0 = q 2^64; q m1 + q = q 2^32
      c = (u128{q} << 32) + t[1];
      t[0] = static_cast<uint64_t>(c);
      c >>= 64;
      j = 2;
    } else {
      c = (u128{q} * M.m[0] + t[0]) >> 64;
    }
    #pragma GCC unroll 16
    for (; j < N; ++j) {
      c += product<N, M>(q, j) + t[j];
      t[j - 1] = static_cast<uint64_t>(c);
      c >>= 64;
    }
    c += t[N];
    t[N - 1] = static_cast<uint64_t>(c);
    t[N] = t[N + 1] + static_cast<uint64_t>(c >> 64);
  }
  final_subtract<N>(r, t, t[N], M.m);
}

// Montgomery square: the 2N-limb square (cross products once, doubled,
// plus the diagonal), then N reduction steps.
template <int N, const Modulus<N> &M> [[gnu::always_inline]] constexpr inline void mont_sqr(Limbs<N> &r, const Limbs<N> &a) {
  uint64_t t[2 * N] = {};
#pragma GCC unroll 16
  for (int i = 0; i < N; ++i) {
    u128 c = 0;
#pragma GCC unroll 16
    for (int j = i + 1; j < N; ++j) {
      c += u128{a[i]} * a[j] + t[i + j];
      t[i + j] = static_cast<uint64_t>(c);
      c >>= 64;
    }
    t[i + N] = static_cast<uint64_t>(c);
  }
  uint64_t top = 0;
#pragma GCC unroll 16
  for (int k = 0; k < 2 * N; ++k) {
    const uint64_t next = t[k] >> 63;
    t[k] = t[k] << 1 | top;
    top = next;
  }
  u128 c = 0;
#pragma GCC unroll 16
  for (int i = 0; i < N; ++i) {
    c += u128{a[i]} * a[i] + t[2 * i];
    t[2 * i] = static_cast<uint64_t>(c);
    c >>= 64;
    c += t[2 * i + 1];
    t[2 * i + 1] = static_cast<uint64_t>(c);
    c >>= 64;
  }
  uint64_t extra = 0;
#pragma GCC unroll 16
  for (int i = 0; i < N; ++i) {
    const uint64_t q = t[i] * M.n0;
    u128 d = 0;
    int j = 0;
    if constexpr (kShiftReduction<N, M>) {
      d = (u128{q} << 32) + t[i + 1];
      t[i] = 0;
      t[i + 1] = static_cast<uint64_t>(d);
      d >>= 64;
      j = 2;
    }
#pragma GCC unroll 16
    for (; j < N; ++j) {
      d += product<N, M>(q, j) + t[i + j];
      t[i + j] = static_cast<uint64_t>(d);
      d >>= 64;
    }
    d += u128{t[i + N]} + extra;
    t[i + N] = static_cast<uint64_t>(d);
    extra = static_cast<uint64_t>(d >> 64);
  }
  final_subtract<N>(r, t + N, extra, M.m);
}

template <int N, const Modulus<N> &M> [[gnu::always_inline]] constexpr inline void mod_add(Limbs<N> &r, const Limbs<N> &a, const Limbs<N> &b) {
  uint64_t t[N];
  uint64_t carry = 0;
  #pragma GCC unroll 16
  for (int j = 0; j < N; ++j) {
    const u128 s = u128{a[j]} + b[j] + carry;
    t[j] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
  final_subtract<N>(r, t, carry, M.m);
}

template <int N, const Modulus<N> &M> [[gnu::always_inline]] constexpr inline void mod_sub(Limbs<N> &r, const Limbs<N> &a, const Limbs<N> &b) {
  uint64_t borrow = 0;
  #pragma GCC unroll 16
  for (int j = 0; j < N; ++j) {
    const u128 d = u128{a[j]} - b[j] - borrow;
    r[j] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  const uint64_t mask = 0 - borrow;
  uint64_t carry = 0;
  #pragma GCC unroll 16
  for (int j = 0; j < N; ++j) {
    const u128 s = u128{r[j]} + (M.m[j] & mask) + carry;
    r[j] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
}

// The curve kernel table: whether the MULX/ADX products (and the plain
// x86-64 additions beside them) serve the field and order arithmetic, or the
// portable code below, and whether AVX2 reads the point tables; filled at
// first use and again whenever kel::cpu::restrict_to changes the features
// (ec_kernels.cpp). The choice is one predictable branch; the arithmetic
// kernels themselves are inlined.
struct Kernels {
  std::atomic<bool> adx, avx2;
};
extern Kernels g_kernels;
extern std::atomic<bool> g_kernelsReady;
void fill_kernels();

inline bool use_adx() {
  cpu::ensure_filled(g_kernelsReady, fill_kernels);
  return g_kernels.adx.load(std::memory_order_relaxed);
}
inline bool use_avx2() {  // the table lookups
  cpu::ensure_filled(g_kernelsReady, fill_kernels);
  return g_kernels.avx2.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Constant-time inversion modulo an odd modulus of four or six limbs by
// Bernstein and Yang's divsteps (the half-delta form), 59 at a time on the
// low 64 bits of f and g, whose 2x2 transition matrix (scaled by 2^62) then
// updates f, g and the cofactors d, e held as signed 62-bit limbs. Their
// bound for d-bit inputs, (49 d + 57) / 17 divsteps, is 741 for 256 bits and
// 1110 for 384: 13 and 19 rounds of 59. Rounds after g reaches 0 change
// nothing but add m to a negative d. No branch, index or address depends on
// the input.
namespace safegcd {

using i128 = __int128;
constexpr uint64_t kM62 = ~uint64_t{0} >> 2;
template <int N> constexpr int kRounds = N == 4 ? 13 : 19;

template <int N> struct Signed62 {
  static constexpr int L = 64 * N / 62 + 1;  // the top limb holds the sign
  int64_t v[L];
};
struct Transition {
  int64_t u, v, q, r;
};

template <int N> constexpr Signed62<N> from_limbs(const Limbs<N> &a) {
  Signed62<N> r{};
  for (int i = 0; i < Signed62<N>::L; ++i) {
    const int bit = 62 * i, j = bit / 64, s = bit % 64;
    uint64_t l = a[j] >> s;
    if (s > 2 && j + 1 < N) l |= a[j + 1] << (64 - s);
    r.v[i] = static_cast<int64_t>(i + 1 < Signed62<N>::L ? l & kM62 : l);
  }
  return r;
}

// 59 divsteps on the low bits: zeta = -(delta + 1/2), f odd.
inline int64_t divsteps_59(int64_t zeta, uint64_t f, uint64_t g, Transition &t) {
  uint64_t u = 8, v = 0, q = 0, r = 8;  // the identity times 2^3: 59 doublings make 2^62
  for (int i = 3; i < 62; ++i) {
    uint64_t negative = barrier(static_cast<uint64_t>(zeta >> 63));  // zeta < 0
    const uint64_t odd = barrier(0 - (g & 1));
    const uint64_t x = (f ^ negative) - negative, y = (u ^ negative) - negative, z = (v ^ negative) - negative;
    g += x & odd;
    q += y & odd;
    r += z & odd;
    negative &= odd;  // zeta < 0 and g odd: swap (g, -f) into (f, g)
    zeta = (zeta ^ static_cast<int64_t>(negative)) - 1;
    f += g & negative;
    u += q & negative;
    v += r & negative;
    g >>= 1;
    u <<= 1;
    v <<= 1;
  }
  t = {static_cast<int64_t>(u), static_cast<int64_t>(v), static_cast<int64_t>(q), static_cast<int64_t>(r)};
  return zeta;
}

// (x, y) <- (t (x, y) + m (mx, my)) / 2^62, which the caller has made exact.
template <int N>
void apply(Signed62<N> &x, Signed62<N> &y, const Transition &t, const Signed62<N> &m, int64_t mx, int64_t my) {
  constexpr int L = Signed62<N>::L;
  i128 cx = 0, cy = 0;
  for (int i = 0; i < L; ++i) {
    cx += i128{t.u} * x.v[i] + i128{t.v} * y.v[i] + i128{m.v[i]} * mx;
    cy += i128{t.q} * x.v[i] + i128{t.r} * y.v[i] + i128{m.v[i]} * my;
    if (i > 0) {
      x.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cx) & kM62);
      y.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cy) & kM62);
    }
    cx >>= 62;
    cy >>= 62;
  }
  x.v[L - 1] = static_cast<int64_t>(cx);
  y.v[L - 1] = static_cast<int64_t>(cy);
}

// (f, g) <- t (f, g) / 2^62: the divsteps make it exact.
template <int N> void update_fg(Signed62<N> &f, Signed62<N> &g, const Transition &t) {
  apply(f, g, t, Signed62<N>{}, 0, 0);
}

// (d, e) <- (t (d, e) + m (md, me)) / 2^62 with md, me chosen from the low
// limbs to make the division exact; d and e stay within (-2m, m).
template <int N>
void update_de(Signed62<N> &d, Signed62<N> &e, const Transition &t, const Signed62<N> &m, uint64_t mInv62) {
  constexpr int L = Signed62<N>::L;
  const int64_t sd = d.v[L - 1] >> 63, se = e.v[L - 1] >> 63;
  int64_t md = (t.u & sd) + (t.v & se), me = (t.q & sd) + (t.r & se);
  const auto low = [](int64_t a, int64_t x, int64_t b, int64_t y) {  // a x + b y mod 2^64
    return static_cast<uint64_t>(a) * static_cast<uint64_t>(x) + static_cast<uint64_t>(b) * static_cast<uint64_t>(y);
  };
  md -= static_cast<int64_t>((mInv62 * low(t.u, d.v[0], t.v, e.v[0]) + static_cast<uint64_t>(md)) & kM62);
  me -= static_cast<int64_t>((mInv62 * low(t.q, d.v[0], t.r, e.v[0]) + static_cast<uint64_t>(me)) & kM62);
  apply(d, e, t, m, md, me);
}

// r in (-2m, m), negated when `sign` is negative, brought into [0, m) in
// place and returned as limbs.
template <int N> Limbs<N> normalize(Signed62<N> &r, int64_t sign, const Signed62<N> &m) {
  constexpr int L = Signed62<N>::L;
  auto add_m_if_negative = [&r, &m] {
    const int64_t negative = r.v[L - 1] >> 63;
    for (int i = 0; i < L; ++i) r.v[i] += m.v[i] & negative;
  };
  auto carry = [&r] {
    for (int i = 0; i + 1 < L; ++i) {
      r.v[i + 1] += r.v[i] >> 62;
      r.v[i] &= static_cast<int64_t>(kM62);
    }
  };
  add_m_if_negative();
  const int64_t negate = sign >> 63;
  for (int64_t &l : r.v) l = (l ^ negate) - negate;
  carry();
  add_m_if_negative();
  carry();
  Limbs<N> out{};
  for (int i = 0; i < L; ++i) {
    const uint64_t l = static_cast<uint64_t>(r.v[i]);
    const int bit = 62 * i, j = bit / 64, s = bit % 64;
    out[j] |= l << s;
    if (s > 2 && j + 1 < N) out[j + 1] |= l >> (64 - s);
  }
  return out;
}

// a^-1 mod m for a plain a below m (0 gives 0).
template <int N, const Modulus<N> &M> Limbs<N> inverse(const Limbs<N> &a) {
  static constexpr Signed62<N> m = from_limbs<N>(M.m);
  static constexpr uint64_t mInv62 = [] {
    uint64_t inv = 1;  // Newton: m^-1 mod 2^64
    for (int i = 0; i < 6; ++i) inv *= 2 - M.m[0] * inv;
    return inv & kM62;
  }();
  struct State {  // every value here follows from a: wiped on the way out
    Signed62<N> d{}, e{{1}}, f, g;
    Transition t{};
    ~State() { wipe(this, sizeof *this); }
  } s{.f = m, .g = from_limbs<N>(a)};
  int64_t zeta = -1;
  for (int i = 0; i < kRounds<N>; ++i) {
    zeta = divsteps_59(zeta, static_cast<uint64_t>(s.f.v[0]), static_cast<uint64_t>(s.g.v[0]), s.t);
    update_de(s.d, s.e, s.t, m, mInv62);
    update_fg(s.f, s.g, s.t);
  }
  return normalize(s.d, s.f.v[Signed62<N>::L - 1], m);  // f = +-1
}

}  // namespace safegcd

// One field (or scalar ring) modulo M, values kept in Montgomery form.
template <int N, const Modulus<N> &M> struct Mont {
  static constexpr int kLimbs = N;
  using Fe = Limbs<N>;

  static constexpr bool kP256 = kShiftReduction<N, M> && M.m[2] == 0;  // the P-256 prime
  // the P-384 prime: its top three limbs all 2^64 - 1, -m^-1 = 2^32 + 1
  static constexpr bool kP384 = N == 6 && M.n0 == 0x100000001u && M.m[3] == ~uint64_t{0} &&
                                M.m[4] == ~uint64_t{0} && M.m[5] == ~uint64_t{0};

  // The same operations with the kernel fixed (Mont::Adx, Mont::Portable
  // below), for code that chooses it once, as the scalar multiplications do;
  // these choose at every call.
  struct Adx;
  struct Portable;
  // 2 a b, a b - c, 2 a^2 and a^2 - c as a product or square followed by a
  // doubling or subtraction, for kernels without a fused form; r may be any
  // of the operands, c included.
  template <class K> struct TwoSteps {
    [[gnu::always_inline]] static void mul_twice(Fe &r, const Fe &a, const Fe &b) {
      K::mul(r, a, b);
      K::add(r, r, r);
    }
    [[gnu::always_inline]] static void mul_less(Fe &r, const Fe &a, const Fe &b, const Fe &c) {
      Fe t;
      K::mul(t, a, b);
      K::sub(r, t, c);
    }
    [[gnu::always_inline]] static void sqr_twice(Fe &r, const Fe &a) {
      K::sqr(r, a);
      K::add(r, r, r);
    }
    [[gnu::always_inline]] static void sqr_less(Fe &r, const Fe &a, const Fe &c) {
      Fe t;
      K::sqr(t, a);
      K::sub(r, t, c);
    }
  };
  [[gnu::always_inline]] static constexpr void mul(Fe &r, const Fe &a, const Fe &b) {
    if (std::is_constant_evaluated()) return mont_mul<N, M>(r, a, b);
    if (use_adx()) Adx::mul(r, a, b);
    else Portable::mul(r, a, b);
  }
  [[gnu::always_inline]] static constexpr void sqr(Fe &r, const Fe &a) {
    if (std::is_constant_evaluated()) return mont_sqr<N, M>(r, a);
    if (use_adx()) Adx::sqr(r, a);
    else Portable::sqr(r, a);
  }
  [[gnu::always_inline]] static constexpr void add(Fe &r, const Fe &a, const Fe &b) {
    if (!std::is_constant_evaluated() && use_adx()) return Adx::add(r, a, b);
    mod_add<N, M>(r, a, b);
  }
  [[gnu::always_inline]] static constexpr void sub(Fe &r, const Fe &a, const Fe &b) {
    if (!std::is_constant_evaluated() && use_adx()) return Adx::sub(r, a, b);
    mod_sub<N, M>(r, a, b);
  }
  static constexpr Fe to_mont(const Fe &a) {  // any a < 2^(64N)
    Fe r{};
    mont_mul<N, M>(r, a, M.r2);
    return r;
  }
  static constexpr Fe from_mont(const Fe &a) {
    Fe one{};
    one[0] = 1;
    Fe r{};
    mont_mul<N, M>(r, a, one);
    return r;
  }
  static constexpr Fe one() { return M.one; }
  static constexpr uint64_t is_zero_mask(const Fe &a) {  // all ones when a == 0
    uint64_t acc = 0;
    for (int j = 0; j < N; ++j) acc |= a[j];
    return 0 - (((acc | (0 - acc)) >> 63) ^ 1);
  }
  static constexpr void select(Fe &r, const Fe &a, uint64_t mask) {  // r <- a where mask is all ones
    for (int j = 0; j < N; ++j) r[j] ^= (r[j] ^ a[j]) & mask;
  }
  // a^e for a public exponent e (not 0), by sliding windows of up to five
  // bits over the odd powers a, a^3, ..., a^31: the sequence of products
  // follows e alone, never a.
  static constexpr Fe pow(const Fe &a, const Fe &e) {
    auto bit = [&e](int i) { return static_cast<uint32_t>(e[i / 64] >> (i % 64)) & 1; };
    Fe odd[16], aa;
    odd[0] = a;
    sqr(aa, a);
    for (int i = 1; i < 16; ++i) mul(odd[i], odd[i - 1], aa);
    Fe r = M.one;
    bool started = false;
    for (int i = 64 * N - 1; i >= 0;) {
      if (bit(i) == 0) {
        if (started) sqr(r, r);
        --i;
        continue;
      }
      int low = i - 4 < 0 ? 0 : i - 4;  // the window i .. low ends on a set bit
      while (bit(low) == 0) ++low;
      uint32_t v = 0;
      for (int k = i; k >= low; --k) {
        v = v << 1 | bit(k);
        if (started) sqr(r, r);
      }
      if (started) mul(r, r, odd[v >> 1]);
      else r = odd[v >> 1];
      started = true;
      i = low - 1;
    }
    wipe(odd, sizeof odd);
    wipe(&aa, sizeof aa);
    return r;
  }
  // The inverse of a (0 for 0) in constant time: the divsteps' a^-1 of
  // a R is a^-1 R^-1, and a product with R^3 puts R back.
  static Fe inverse_ct(const Fe &a) {
    static constexpr Fe r3 = [] {
      Fe r{};
      mont_mul<N, M>(r, M.r2, M.r2);
      return r;
    }();
    Fe x = safegcd::inverse<N, M>(a);
    mul(x, x, r3);
    return x;
  }
  // a^-1 R for a plain a (0 for 0): the divsteps' a^-1, times R^2 R^-1.
  static Fe inverse_plain(const Fe &a) {
    Fe x = safegcd::inverse<N, M>(a);
    mul(x, x, M.r2);
    return x;
  }
  // a^((m + 1) / 4): a square root of a when there is one (m = 3 mod 4).
  static constexpr Fe sqrt(const Fe &a) {
    Fe e{};
    uint64_t carry = 1;
    for (int j = 0; j < N; ++j) {
      const u128 t = u128{M.m[j]} + carry;
      e[j] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    for (int j = 0; j < N; ++j) e[j] = e[j] >> 2 | (j + 1 < N ? e[j + 1] << 62 : carry << 62);
    return pow(a, e);
  }
  static bool equal(const Fe &a, const Fe &b) {
    uint64_t acc = 0;
    for (int j = 0; j < N; ++j) acc |= a[j] ^ b[j];
    return acc == 0;
  }
};

// MULX/ADX and x86-64 carry chains: only where use_adx() holds.
template <int N, const Modulus<N> &M> struct Mont<N, M>::Adx : Mont<N, M> {
  [[gnu::always_inline]] static void mul(Fe &r, const Fe &a, const Fe &b) {
    if constexpr (kP256) mont_mul_p256_adx(r.data(), a.data(), b.data(), nullptr, M.m.data());
    else if constexpr (N == 4) mont_mul4_adx(r.data(), a.data(), b.data(), M.m.data());
    else if constexpr (kP384) mont_mul_p384_adx(r.data(), a.data(), b.data(), M.m.data());
    else mont_mul6_adx(r.data(), a.data(), b.data(), M.m.data());
  }
  [[gnu::always_inline]] static void sqr(Fe &r, const Fe &a) {
    if constexpr (kP256) mont_sqr_p256_adx(r.data(), a.data(), a.data(), nullptr, M.m.data());
    else if constexpr (N == 4) mont_sqr4_adx(r.data(), a.data(), a.data(), nullptr, M.m.data());
    else mul(r, a, a);
  }
  // 2 a b, a b - c, 2 a^2 and a^2 - c: one kernel each on P-256, where the
  // result goes on in registers.
  [[gnu::always_inline]] static void mul_twice(Fe &r, const Fe &a, const Fe &b) {
    if constexpr (kP256) mont_mul_twice_p256_adx(r.data(), a.data(), b.data(), nullptr, M.m.data());
    else TwoSteps<Adx>::mul_twice(r, a, b);
  }
  [[gnu::always_inline]] static void mul_less(Fe &r, const Fe &a, const Fe &b, const Fe &c) {
    if constexpr (kP256) mont_mul_less_p256_adx(r.data(), a.data(), b.data(), c.data(), M.m.data());
    else TwoSteps<Adx>::mul_less(r, a, b, c);
  }
  [[gnu::always_inline]] static void sqr_twice(Fe &r, const Fe &a) {
    if constexpr (kP256) mont_sqr_twice_p256_adx(r.data(), a.data(), a.data(), nullptr, M.m.data());
    else TwoSteps<Adx>::sqr_twice(r, a);
  }
  [[gnu::always_inline]] static void sqr_less(Fe &r, const Fe &a, const Fe &c) {
    if constexpr (kP256) mont_sqr_less_p256_adx(r.data(), a.data(), a.data(), c.data(), M.m.data());
    else TwoSteps<Adx>::sqr_less(r, a, c);
  }
  [[gnu::always_inline]] static void add(Fe &r, const Fe &a, const Fe &b) {
    (N == 4 ? mod_add4_x64 : mod_add6_x64)(r.data(), a.data(), b.data(), M.m.data());
  }
  [[gnu::always_inline]] static void sub(Fe &r, const Fe &a, const Fe &b) {
    (N == 4 ? mod_sub4_x64 : mod_sub6_x64)(r.data(), a.data(), b.data(), M.m.data());
  }
};
// Portable C++ on any CPU.
template <int N, const Modulus<N> &M> struct Mont<N, M>::Portable : Mont<N, M> {
  [[gnu::noinline]] static void mul(Fe &r, const Fe &a, const Fe &b) { mont_mul<N, M>(r, a, b); }
  [[gnu::noinline]] static void sqr(Fe &r, const Fe &a) { mont_sqr<N, M>(r, a); }
  [[gnu::always_inline]] static void add(Fe &r, const Fe &a, const Fe &b) { mod_add<N, M>(r, a, b); }
  [[gnu::always_inline]] static void sub(Fe &r, const Fe &a, const Fe &b) { mod_sub<N, M>(r, a, b); }
  static void mul_twice(Fe &r, const Fe &a, const Fe &b) { TwoSteps<Portable>::mul_twice(r, a, b); }
  static void mul_less(Fe &r, const Fe &a, const Fe &b, const Fe &c) { TwoSteps<Portable>::mul_less(r, a, b, c); }
  static void sqr_twice(Fe &r, const Fe &a) { TwoSteps<Portable>::sqr_twice(r, a); }
  static void sqr_less(Fe &r, const Fe &a, const Fe &c) { TwoSteps<Portable>::sqr_less(r, a, c); }
};

// ---------------------------------------------------------------------------
// Curve descriptions.

struct P256Params {
  static constexpr int kLimbs = 4;
  static constexpr auto p = hex_units<8>("ffffffff00000001000000000000000000000000ffffffffffffffffffffffff");
  static constexpr auto b = hex_units<8>("5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b");
  static constexpr auto gx = hex_units<8>("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
  static constexpr auto gy = hex_units<8>("4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  static constexpr auto n = hex_units<8>("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
  static constexpr int kBaseWindow = 6;  // fixed-base table: 43 windows of 32 points
};
struct P384Params {
  static constexpr int kLimbs = 6;
  static constexpr auto p = hex_units<12>(
      "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeffffffff0000000000000000ffffffff");
  static constexpr auto b = hex_units<12>(
      "b3312fa7e23ee7e4988e056be3f82d19181d9c6efe8141120314088f5013875ac656398d8a2ed19d2a85c8edd3ec2aef");
  static constexpr auto gx = hex_units<12>(
      "aa87ca22be8b05378eb1c71ef320ad746e1d3b628ba79b9859f741e082542a385502f25dbf55296c3a545e3872760ab7");
  static constexpr auto gy = hex_units<12>(
      "3617de4a96262c6f5d9e98bf9292dc29f8f41dbd289a147ce9da3113b5f0b8c00a60b1ce1d7e819d7a431d7c90ea0e5f");
  static constexpr auto n = hex_units<12>(
      "ffffffffffffffffffffffffffffffffffffffffffffffffc7634d81f4372ddf581a0db248b0a77aecec196accc52973");
  static constexpr int kBaseWindow = 6;  // 65 windows of 32 points
};

template <class P> struct CurveModuli {
  static constexpr Modulus<P::kLimbs> field = make_modulus<P::kLimbs>(P::p);
  static constexpr Modulus<P::kLimbs> order = make_modulus<P::kLimbs>(P::n);
};

template <class P> struct Curve {
  static constexpr int N = P::kLimbs;  // 64-bit limbs
  static constexpr int kUnits = 2 * N; // 32-bit units
  static constexpr int kBits = 64 * N;
  using F = Mont<N, CurveModuli<P>::field>;
  using S = Mont<N, CurveModuli<P>::order>;
  using Fe = Limbs<N>;
  static constexpr Fe b = F::to_mont(limbs_of<N>(P::b.data()));
  static constexpr Fe gx = F::to_mont(limbs_of<N>(P::gx.data()));
  static constexpr Fe gy = F::to_mont(limbs_of<N>(P::gy.data()));
  static constexpr Fe n = limbs_of<N>(P::n.data());
  static constexpr auto kPrime = P::p;
  static constexpr int kBaseWindow = P::kBaseWindow;
  static constexpr int kBaseWindows = (kBits + kBaseWindow) / kBaseWindow;  // Booth: kBits + 1 digits' worth
  static constexpr int kBaseEntries = 1 << (kBaseWindow - 1);
};
using C256 = Curve<P256Params>;
using C384 = Curve<P384Params>;

// A value wiped when it goes out of scope, on every path.
template <class T> struct Secret {
  T v{};
  Secret() = default;
  Secret(const Secret &) = delete;
  Secret &operator=(const Secret &) = delete;
  ~Secret() { wipe(&v, sizeof v); }
};

// Projective point (X : Y : Z), x = X / Z, y = Y / Z; infinity is (0 : 1 : 0).
template <class C> struct Point {
  typename C::Fe x, y, z;
};
template <class C> struct Affine {
  typename C::Fe x, y;
};

template <class C> constexpr Point<C> infinity() { return {typename C::Fe{}, C::F::one(), typename C::Fe{}}; }

template <class C> inline void select_point(Point<C> &r, const Point<C> &a, uint64_t mask) {
  C::F::select(r.x, a.x, mask);
  C::F::select(r.y, a.y, mask);
  C::F::select(r.z, a.z, mask);
}

// Complete addition (RCB algorithm 4, a = -3): valid for every pair of
// points, infinity and doubling included.
template <class C> void add(Point<C> &r, const Point<C> &p, const Point<C> &q) {
  using F = typename C::F;
  typename C::Fe xx, yy, zz, xy, yz, xz, t0, t1, bzz3, yyp, yym, zz3, bxz3, xx3;
  F::mul(xx, p.x, q.x);
  F::mul(yy, p.y, q.y);
  F::mul(zz, p.z, q.z);
  F::add(t0, p.x, p.y);
  F::add(t1, q.x, q.y);
  F::mul(xy, t0, t1);
  F::add(t0, xx, yy);
  F::sub(xy, xy, t0);
  F::add(t0, p.y, p.z);
  F::add(t1, q.y, q.z);
  F::mul(yz, t0, t1);
  F::add(t0, yy, zz);
  F::sub(yz, yz, t0);
  F::add(t0, p.x, p.z);
  F::add(t1, q.x, q.z);
  F::mul(xz, t0, t1);
  F::add(t0, xx, zz);
  F::sub(xz, xz, t0);
  F::mul(t0, C::b, zz);
  F::sub(t0, xz, t0);
  F::add(bzz3, t0, t0);
  F::add(bzz3, bzz3, t0);
  F::sub(yym, yy, bzz3);
  F::add(yyp, yy, bzz3);
  F::add(zz3, zz, zz);
  F::add(zz3, zz3, zz);
  F::mul(t0, C::b, xz);
  F::add(t1, zz3, xx);
  F::sub(t0, t0, t1);
  F::add(bxz3, t0, t0);
  F::add(bxz3, bxz3, t0);
  F::add(xx3, xx, xx);
  F::add(xx3, xx3, xx);
  F::sub(xx3, xx3, zz3);
  F::mul(t0, yyp, xy);
  F::mul(t1, yz, bxz3);
  F::sub(r.x, t0, t1);
  F::mul(t0, yyp, yym);
  F::mul(t1, xx3, bxz3);
  F::add(r.y, t0, t1);
  F::mul(t0, yym, yz);
  F::mul(t1, xy, xx3);
  F::add(r.z, t0, t1);
}

// Doubling (RCB algorithm 6).
template <class C> void dbl(Point<C> &r, const Point<C> &p) {
  using F = typename C::F;
  typename C::Fe xx, yy, zz, xy2, xz2, yz2, t0, t1, bzz3, yyp, yym, yf, xf, zz3, bxz6, xx3;
  F::sqr(xx, p.x);
  F::sqr(yy, p.y);
  F::sqr(zz, p.z);
  F::mul(xy2, p.x, p.y);
  F::add(xy2, xy2, xy2);
  F::mul(xz2, p.x, p.z);
  F::add(xz2, xz2, xz2);
  F::mul(yz2, p.y, p.z);  // the last read of p: r may be p
  F::add(yz2, yz2, yz2);
  F::mul(t0, C::b, zz);
  F::sub(t0, t0, xz2);
  F::add(bzz3, t0, t0);
  F::add(bzz3, bzz3, t0);
  F::sub(yym, yy, bzz3);
  F::add(yyp, yy, bzz3);
  F::mul(yf, yyp, yym);
  F::mul(xf, yym, xy2);
  F::add(zz3, zz, zz);
  F::add(zz3, zz3, zz);
  F::mul(t0, C::b, xz2);
  F::add(t1, zz3, xx);
  F::sub(t0, t0, t1);
  F::add(bxz6, t0, t0);
  F::add(bxz6, bxz6, t0);
  F::add(xx3, xx, xx);
  F::add(xx3, xx3, xx);
  F::sub(xx3, xx3, zz3);
  F::mul(t0, xx3, bxz6);
  F::add(r.y, yf, t0);
  F::mul(t0, bxz6, yz2);
  F::sub(r.x, xf, t0);
  F::mul(t0, yz2, yy);
  F::add(t0, t0, t0);
  F::add(r.z, t0, t0);
}

// ---------------------------------------------------------------------------
// Conversions between the public unit arrays and the internal forms.

// A field element from n units (any value below 2^(32n)), in Montgomery form.
template <class C> typename C::Fe fe_from_units(const uint32_t *u) { return C::F::to_mont(limbs_of<C::N>(u)); }
template <class C> void fe_to_units(const typename C::Fe &a, uint32_t *u) { units_of<C::N>(C::F::from_mont(a), u); }

// The point (x, y) with (0, 0) read as infinity.
template <class C> Point<C> point_from_units(const uint32_t *x, const uint32_t *y) {
  Point<C> p{fe_from_units<C>(x), fe_from_units<C>(y), C::F::one()};
  const uint64_t inf = C::F::is_zero_mask(p.x) & C::F::is_zero_mask(p.y);
  select_point(p, infinity<C>(), inf);
  return p;
}

// Affine coordinates (infinity gives (0, 0): the inverse of 0 is 0).
template <class C> Affine<C> to_affine(const Point<C> &p) {
  Affine<C> a;
  const typename C::Fe zi = C::F::inverse_ct(p.z);
  C::F::mul(a.x, p.x, zi);
  C::F::mul(a.y, p.y, zi);
  return a;
}
template <class C> void point_to_units(const Point<C> &p, uint32_t *x, uint32_t *y) {
  const Affine<C> a = to_affine(p);
  fe_to_units<C>(a.x, x);
  fe_to_units<C>(a.y, y);
}

// A scalar below 2^(32n) reduced modulo the order (one masked subtraction
// suffices: the orders exceed 2^(32n - 1)).
template <class C> typename C::Fe scalar_from_units(const uint32_t *u) {
  typename C::Fe k = limbs_of<C::N>(u), r;
  final_subtract<C::N>(r, k.data(), 0, C::n);
  wipe(&k, sizeof k);
  return r;
}

// The order as n units.
template <class C> const uint32_t *units_of_order() {
  if constexpr (C::N == 4) return P256Params::n.data();
  else return P384Params::n.data();
}

// ---------------------------------------------------------------------------
// Scalar multiplication (ec_mult.cpp).

// k P in constant time (k reduced modulo the order first).
template <class C> Point<C> mul_ct(const typename C::Fe &k, const Point<C> &p);
// k G in constant time from the built-in fixed-base table.
template <class C> Point<C> mul_base_ct(const typename C::Fe &k);
// u1 G + u2 Q, variable time (public scalars only).
template <class C> Point<C> mul_double_vt(const typename C::Fe &u1, const typename C::Fe &u2, const Point<C> &q);
// k P by the caller's comb table (window w, d = ceil(bits / w)), constant time.
template <class C> Point<C> mul_comb_ct(const uint32_t *k, const Point<C> &p, const uint32_t *table, int32_t w);
// The comb table of P in the caller's layout.
template <class C> void build_comb(const Point<C> &p, int32_t w, uint32_t *table);

// Runs f with the curve type that matches the field or curve record; -6010
// for a record of neither.
template <class F> int32_t with_field(const PrimeField *field, F &&f) {
  if (field == PF_p256) return f(C256{});
  if (field == PF_p384) return f(C384{});
  return ERR_EC_BAD_WINDOW;
}

}  // namespace kel::ec

namespace kel::ec {
// The two curve records (EC_P256 and EC_P384 point at them).
extern const PrimeCurve PrimeECP256;
extern const PrimeCurve PrimeECP384;

// Runs f with the curve type of a curve record; -6010 for another record.
template <class F> int32_t with_curve(const PrimeCurve *curve, F &&f) {
  if (curve == &PrimeECP256) return f(C256{});
  if (curve == &PrimeECP384) return f(C384{});
  return ERR_EC_BAD_WINDOW;
}
}  // namespace kel::ec
