// Scalar multiplication: signed-window (Booth) variable-base and fixed-base
// multiplications in constant time, the variable-time double multiplication
// of verification, and the caller-held comb tables.
#include <pthread.h>

#include "crypto/pubkey/ec_internal.h"
#include "crypto/pubkey/x86/ec_lookup_avx2.h"

namespace kel::ec {
namespace {

// Bits pos .. pos + count - 1 of k (positions below 0 or beyond the scalar
// read as 0). The positions are public; the bits are not branched on.
template <int N> uint32_t bits_at(const Limbs<N> &k, int pos, int count) {
  uint32_t v = 0;
  for (int b = 0; b < count; ++b) {
    const int q = pos + b;
    if (q >= 0 && q < 64 * N) v |= static_cast<uint32_t>((k[q / 64] >> (q % 64)) & 1) << b;
  }
  return v;
}

// Booth recoding of a (w + 1)-bit window: magnitude 0 .. 2^(w-1) and sign.
struct Digit {
  uint32_t magnitude;
  uint32_t negative;
};
inline Digit booth(uint32_t v, int w) {
  const uint32_t sign = v >> w;
  const uint32_t mask = 0 - sign;
  uint32_t d = ((((1u << (w + 1)) - v - 1) & mask) | (v & ~mask));
  d = (d >> 1) + (d & 1);
  return {d, sign};
}

// All ones when a == b (small values), without a branch.
inline uint64_t eq_mask(uint32_t a, uint32_t b) {
  return barrier(0 - ((static_cast<uint64_t>(a ^ b) - 1) >> 63));
}

// inv[j] <- z(j)^-1 for count values none of them 0, with one inversion
// for all of them (Montgomery's trick), over the field kernel F.
template <class F, class Fe, class Z> void invert_all(Fe *inv, int count, Z z) {
  inv[0] = z(0);
  for (int j = 1; j < count; ++j) F::mul(inv[j], inv[j - 1], z(j));  // running products
  Fe all = F::inverse_ct(inv[count - 1]);
  for (int j = count - 1; j > 0; --j) {
    F::mul(inv[j], all, inv[j - 1]);
    F::mul(all, all, z(j));
  }
  inv[0] = all;
}

// out[f] <- points[f] in affine form, for count points none at infinity;
// zi holds count inverses. Public points only (tables of G).
template <class C>
void batch_affine(const Point<C> *points, int count, typename C::Fe *zi, Affine<C> *out) {
  invert_all<typename C::F>(zi, count, [points](int f) -> const auto & { return points[f].z; });
  for (int f = 0; f < count; ++f) {
    C::F::mul(out[f].x, points[f].x, zi[f]);
    C::F::mul(out[f].y, points[f].y, zi[f]);
  }
}

// The fixed-base table of G: entry [i][j] = (j + 1) 2^(w i) G, affine, in
// Montgomery form. Built once per process on first use, kGroup rows at a
// time with one inversion for all their points.
template <class C> struct BaseTable {
  static constexpr int kGroup = 8;
  static inline Affine<C> entries[C::kBaseWindows][C::kBaseEntries];
  static inline pthread_once_t once = PTHREAD_ONCE_INIT;
  // the build's projective rows and their Z inverses (only under `once`)
  static inline Point<C> rows[kGroup][C::kBaseEntries];
  static inline typename C::Fe zi[kGroup * C::kBaseEntries];

  static void build() {
    constexpr int E = C::kBaseEntries;
    Point<C> base{C::gx, C::gy, C::F::one()};
    for (int first = 0; first < C::kBaseWindows; first += kGroup) {
      const int count = (C::kBaseWindows - first < kGroup ? C::kBaseWindows - first : kGroup) * E;
      Point<C> *points = &rows[0][0];
      for (int f = 0; f < count; f += E) {
        points[f] = base;
        for (int j = 1; j < E; ++j) add(points[f + j], points[f + j - 1], base);
        for (int s = 0; s < C::kBaseWindow; ++s) dbl(base, base);
      }
      batch_affine<C>(points, count, zi, &entries[first][0]);
    }
  }
  static const Affine<C> (&get())[C::kBaseWindows][C::kBaseEntries] {
    pthread_once(&once, build);
    return entries;
  }
};

// G, 3G, ..., 127G, affine, for the width-8 NAF of a public multiple of G
// (verification); built once per process on first use.
constexpr int kBaseNafWidth = 8, kBaseNafEntries = 1 << (kBaseNafWidth - 2);
template <class C> struct OddBaseTable {
  static inline Affine<C> entries[kBaseNafEntries];
  static inline pthread_once_t once = PTHREAD_ONCE_INIT;
  static inline Point<C> points[kBaseNafEntries];  // the build's scratch
  static inline typename C::Fe zi[kBaseNafEntries];

  static void build() {
    Point<C> twice;
    points[0] = {C::gx, C::gy, C::F::one()};
    dbl(twice, points[0]);
    for (int j = 1; j < kBaseNafEntries; ++j) add(points[j], points[j - 1], twice);
    batch_affine<C>(points, kBaseNafEntries, zi, entries);
  }
  static const Affine<C> *get() {
    pthread_once(&once, build);
    return entries;
  }
};

// Jacobian coordinates (x = X / Z^2, y = Y / Z^3; Z = 0 is infinity) for
// the doubling-heavy variable-base paths: a = -3 doubling costs 4M + 4S
// against the complete formulas' 13 products.
template <class C> struct Jac {
  typename C::Fe x, y, z;
};

// Word by word, as the field code stores its results: a wider load of words
// just stored one at a time would wait for the stores to retire.
inline void select_jac_fe(uint64_t *r, const uint64_t *a, uint64_t mask, int n) {
  for (int j = 0; j < n; ++j) r[j] = barrier(r[j] ^ ((r[j] ^ a[j]) & mask));
}
template <class C> void select_jac(Jac<C> &r, const Jac<C> &a, uint64_t mask) {
  select_jac_fe(r.x.data(), a.x.data(), mask, C::N);
  select_jac_fe(r.y.data(), a.y.data(), mask, C::N);
  select_jac_fe(r.z.data(), a.z.data(), mask, C::N);
}

// out <- table[index] for entries of W words, reading every entry (zeros
// when index >= count): masks instead of an index.
template <int W> void lookup(uint64_t *out, const uint64_t *table, uint32_t count, uint32_t index) {
  if (use_avx2()) return lookup_avx2<W>(out, table, count, index);
  uint64_t acc[W] = {};
  for (uint32_t e = 0; e < count; ++e, table += W) {
    const uint64_t m = eq_mask(e, index);
#pragma GCC unroll 18
    for (int l = 0; l < W; ++l) acc[l] |= table[l] & m;
  }
  std::memcpy(out, acc, sizeof acc);
  wipe(acc, sizeof acc);
}

// a <- row[magnitude - 1] (zeros for 0).
template <class C> void select_affine(Affine<C> &a, const Affine<C> (&row)[C::kBaseEntries], uint32_t magnitude) {
  static_assert(sizeof(Affine<C>) == 2 * C::N * 8);
  lookup<2 * C::N>(a.x.data(), row[0].x.data(), C::kBaseEntries, magnitude - 1);
}

constexpr int kVarWindow = 5;

// The width-W non-adjacent form of a public scalar into out (zeros on
// entry; only the digits that are not 0 are written): digits 0 or odd in
// -(2^(W-1) - 1) .. 2^(W-1) - 1, any W consecutive ones holding at most one
// that is not 0. Runs of zero bits are skipped a limb's worth at a time.
// Returns the number of digits (the last one not 0, or 0 for k = 0).
constexpr int kNafWidth = 5, kNafEntries = 1 << (kNafWidth - 2);
template <int W, int N> int wnaf(const Limbs<N> &k, int8_t *out) {
  static_assert(W >= 2 && W <= 8);
  uint64_t v[N + 1] = {};
  for (int j = 0; j < N; ++j) v[j] = k[j];
  auto shift = [&v](int s) {  // v >>= s, 0 < s < 64
    for (int j = 0; j < N; ++j) v[j] = v[j] >> s | v[j + 1] << (64 - s);
    v[N] >>= s;
  };
  int pos = 0, top = 0;
  for (;;) {
    uint64_t any = 0;
    for (uint64_t l : v) any |= l;
    if (any == 0) return top;
    if ((v[0] & 1) == 0) {
      const int zeros = v[0] == 0 ? 63 : __builtin_ctzll(v[0]);
      shift(zeros);
      pos += zeros;
      continue;
    }
    int digit = static_cast<int>(v[0] & ((1u << W) - 1));
    if (digit >= 1 << (W - 1)) digit -= 1 << W;
    // v <- v - digit clears the low W bits: a positive digit is those bits
    // (no borrow), a negative one adds and may carry upwards
    const uint64_t low = v[0];
    v[0] = low - static_cast<uint64_t>(static_cast<int64_t>(digit));
    if (digit < 0 && v[0] < low)
      for (int j = 1; j <= N && ++v[j] == 0; ++j) {
      }
    out[pos] = static_cast<int8_t>(digit);
    top = pos + 1;
    shift(W);
    pos += W;
  }
}

// The Jacobian formulas and the multiplications built on them, over one
// field kernel F (C::F::Adx or C::F::Portable): the kernel is chosen once
// per multiplication (on_kernel) rather than at every field operation.
template <class C, class F> struct Jacobian {
  static void negate_if(typename C::Fe &y, uint32_t negative) {
    typename C::Fe ny{}, zero{};
    F::sub(ny, zero, y);
    select_jac_fe(y.data(), ny.data(), 0 - static_cast<uint64_t>(negative), C::N);
  }

  static Jac<C> to_jacobian(const Point<C> &p) {  // (X Z, Y Z^2, Z)
    Jac<C> j;
    typename C::Fe zz;
    F::mul(j.x, p.x, p.z);
    F::sqr(zz, p.z);
    F::mul(j.y, p.y, zz);
    j.z = p.z;
    return j;
  }

  static Point<C> from_jacobian(const Jac<C> &j) {  // (X Z, Y, Z^3)
    Point<C> p;
    typename C::Fe zz;
    F::mul(p.x, j.x, j.z);
    p.y = j.y;
    F::sqr(zz, j.z);
    F::mul(p.z, zz, j.z);
    select_point(p, infinity<C>(), F::is_zero_mask(j.z));
    return p;
  }

  // dbl-2001-b rearranged for cheap squares and few additions: delta = Z^2,
  // 2 gamma = 2 Y^2, 4 beta = 2 X (2 gamma), alpha = 3 (X - delta)(X + delta);
  // X3 = alpha^2 - 8 beta, Z3 = 2 Y Z, Y3 = alpha (4 beta - X3) - 2 (2 gamma)^2
  // (4M + 4S; a doubling or subtraction right after a product rides in its
  // kernel). Each product on the longest chain has an independent one next
  // to it, for the processor to overlap. Infinity stays infinity.
  static void jdbl(Jac<C> &r, const Jac<C> &p) {
    typename C::Fe delta, gamma2, beta4, alpha, t0, t1;
    F::sqr(delta, p.z);
    F::sub(t0, p.x, delta);
    F::add(t1, p.x, delta);
    F::sqr_twice(gamma2, p.y);
    F::mul(alpha, t0, t1);
    F::mul_twice(beta4, p.x, gamma2);
    F::add(t0, alpha, alpha);
    F::add(alpha, alpha, t0);
    F::mul_twice(r.z, p.y, p.z);  // the last read of p: r may be p
    F::add(t1, beta4, beta4);
    F::sqr_less(r.x, alpha, t1);
    F::sqr_twice(gamma2, gamma2);  // 8 gamma^2
    F::sub(t0, beta4, r.x);
    F::mul_less(r.y, alpha, t0, gamma2);
  }

  // add-2007-bl. The formula does not cover an input at infinity, nor equal
  // inputs: where asked, *same says whether those met (H = 0 and r = 0).
  static void jadd_raw(Jac<C> &out, const Jac<C> &p, const Jac<C> &q, uint64_t *same) {
    typename C::Fe z1z1, z2z2, u1, u2, s1, h, i, j, r, v, t0, t1, zs;
    F::sqr(z1z1, p.z);
    F::sqr(z2z2, q.z);
    F::mul(u2, q.x, z1z1);
    F::mul(u1, p.x, z2z2);
    F::mul(t1, p.z, z1z1);
    F::mul(t0, q.z, z2z2);
    F::mul(s1, p.y, t0);
    F::mul_less(r, q.y, t1, s1);
    F::sub(h, u2, u1);
    F::add(i, h, h);
    F::add(zs, p.z, q.z);
    F::sqr(i, i);
    if (same != nullptr) *same = F::is_zero_mask(h) & F::is_zero_mask(r);
    F::add(r, r, r);
    F::sqr_less(zs, zs, z1z1);
    F::mul(j, h, i);
    F::mul(v, u1, i);
    F::sqr_less(t0, r, j);
    F::sub(zs, zs, z2z2);
    F::mul_twice(s1, s1, j);
    F::sub(t0, t0, v);
    F::mul(out.z, zs, h);
    F::sub(out.x, t0, v);
    F::sub(t0, v, out.x);
    F::mul_less(out.y, r, t0, s1);
  }

  // Constant-time addition: the formula, with infinity inputs selected by
  // masks. Equal inputs cannot occur where it is used: in the signed-window
  // ladder the accumulator is 32 v P (v the scalar's top digits, 32 v below
  // the order) and the addend +-d P with d <= 16, so equality would need
  // 32 v = +-d modulo the order, that is v = 0 (infinity, handled) or a scalar
  // of 0 or the order, which the reduction excludes; the table steps add P to
  // jP for j < 16. (A point off the curve gives a meaningless result anyway.)
  static void jadd_ct(Jac<C> &r, const Jac<C> &p, const Jac<C> &q) {
    Jac<C> sum;
    jadd_raw(sum, p, q, nullptr);
    const uint64_t pInf = F::is_zero_mask(p.z), qInf = F::is_zero_mask(q.z);
    // r <- sum, or q where p is infinity, or p where q is: word by word, as
    // sum was stored (a wider copy would wait for those stores to retire)
    const uint64_t *s = sum.x.data(), *a = q.x.data(), *b = p.x.data();
    uint64_t *out = r.x.data();
    for (int w = 0; w < 3 * C::N; ++w) {
      uint64_t v = s[w];
      v ^= (v ^ a[w]) & pInf;
      v ^= (v ^ b[w]) & qInf;
      out[w] = barrier(v);
    }
  }

  // Variable-time addition for public points.
  static void jadd_vt(Jac<C> &r, const Jac<C> &p, const Jac<C> &q) {
    if (F::is_zero_mask(p.z)) {
      r = q;
      return;
    }
    if (F::is_zero_mask(q.z)) {
      r = p;
      return;
    }
    uint64_t same;
    Jac<C> sum;
    jadd_raw(sum, p, q, &same);
    if (same) jdbl(sum, p);
    r = sum;
  }

  // madd-2007-bl: p + (x2, y2) for an affine point, without its exceptions
  // (p at infinity, p = +-(x2, y2)); hZero and rZero say where they lie.
  static void jadd_affine_raw(Jac<C> &out, const Jac<C> &p, const Affine<C> &q, uint64_t *hZero, uint64_t *rZero) {
    typename C::Fe z1z1, u2, h, hh, i, j, rr, v, t0, zh;
    F::sqr(z1z1, p.z);
    F::mul(u2, q.x, z1z1);
    F::mul(t0, p.z, z1z1);
    F::sub(h, u2, p.x);
    F::mul_less(rr, q.y, t0, p.y);
    F::add(zh, p.z, h);
    F::sqr(hh, h);
    *hZero = F::is_zero_mask(h);
    *rZero = F::is_zero_mask(rr);
    F::add(rr, rr, rr);
    F::add(i, hh, hh);
    F::add(i, i, i);
    F::sqr_less(zh, zh, z1z1);
    F::mul(j, h, i);
    F::mul(v, p.x, i);
    F::sqr_less(t0, rr, j);
    F::sub(out.z, zh, hh);
    F::mul_twice(j, p.y, j);
    F::sub(t0, t0, v);
    F::sub(out.x, t0, v);
    F::sub(t0, v, out.x);
    F::mul_less(out.y, rr, t0, j);
  }

  // Variable time, every case.
  static void jadd_affine_vt(Jac<C> &r, const Jac<C> &p, const Affine<C> &q) {
    if (F::is_zero_mask(p.z)) {
      r = {q.x, q.y, F::one()};
      return;
    }
    Jac<C> out;
    uint64_t hZero, rZero;
    jadd_affine_raw(out, p, q, &hZero, &rZero);
    if (hZero == 0) r = out;
    else if (rZero != 0) jdbl(r, p);
    else r = {F::one(), F::one(), typename C::Fe{}};
  }

  // Constant time, p at infinity selected by a mask. Used only where
  // p = +-(x2, y2) cannot occur (the fixed-base ladder, see mul_base_ct).
  static void jadd_affine_ct(Jac<C> &r, const Jac<C> &p, const Affine<C> &q) {
    uint64_t hZero, rZero;
    Secret<Jac<C>> out;
    jadd_affine_raw(out.v, p, q, &hZero, &rZero);
    select_jac(out.v, Jac<C>{q.x, q.y, F::one()}, F::is_zero_mask(p.z));
    r = out.v;
  }

  // P, 2P, ..., 16P in Jacobian form: even multiples by doubling, odd ones
  // by adding P to the one below (never equal to P: the order is prime).
  static void jac_multiples(Jac<C> (&t)[16], const Point<C> &p) {
    t[0] = to_jacobian(p);
    for (int j = 1; j < 16; ++j) {
      if (j % 2 == 1) jdbl(t[j], t[j / 2]);
      else jadd_ct(t[j], t[j - 1], t[0]);
    }
  }

  static Point<C> mul_ct(const typename C::Fe &k, const Point<C> &p) {
    static_assert(sizeof(Jac<C>) == 3 * C::N * 8);
    constexpr int W = (C::kBits + kVarWindow) / kVarWindow;
    Jac<C> table[16];
    jac_multiples(table, p);
    Jac<C> acc{F::one(), F::one(), typename C::Fe{}}, t;
    for (int i = W - 1; i >= 0; --i) {
      for (int s = 0; s < kVarWindow && i != W - 1; ++s) jdbl(acc, acc);
      const Digit d = booth(bits_at<C::N>(k, kVarWindow * i - 1, kVarWindow + 1), kVarWindow);
      lookup<3 * C::N>(t.x.data(), table[0].x.data(), 16, d.magnitude - 1);  // Z = 0 (infinity) for 0
      negate_if(t.y, d.negative);
      jadd_ct(acc, acc, t);
    }
    wipe(table, sizeof table);
    wipe(&t, sizeof t);
    const Point<C> out = from_jacobian(acc);
    wipe(&acc, sizeof acc);
    return out;
  }

  // Windows from the bottom: before window i the accumulator is s G with
  // |s| < 2^(w i) (each digit at most 2^(w - 1)), and the addend is d 2^(w i) G
  // with |d| >= 1, so s = +-d 2^(w i) modulo the order would need a multiple
  // of the order below 33 2^(w i) in size: none below the top window, and at
  // the top (k below the order, the digit at most 2^(w - 2)) only k = 0 or the
  // order itself. The mixed addition therefore meets neither doubling nor a
  // point and its negative; an accumulator still at infinity is selected.
  static Point<C> mul_base_ct(const typename C::Fe &k) {
    constexpr int w = C::kBaseWindow;
    const auto &table = BaseTable<C>::get();
    Jac<C> acc{F::one(), F::one(), typename C::Fe{}}, sum;
    Affine<C> a;
    for (int i = 0; i < C::kBaseWindows; ++i) {
      const Digit d = booth(bits_at<C::N>(k, w * i - 1, w + 1), w);
      select_affine(a, table[i], d.magnitude);
      negate_if(a.y, d.negative);
      jadd_affine_ct(sum, acc, a);
      select_jac(acc, sum, ~eq_mask(0, d.magnitude));  // a zero digit leaves acc as it was
    }
    wipe(&a, sizeof a);
    wipe(&sum, sizeof sum);
    const Point<C> out = from_jacobian(acc);
    wipe(&acc, sizeof acc);
    return out;
  }

  static Point<C> mul_double_vt(const typename C::Fe &u1, const typename C::Fe &u2, const Point<C> &q) {
    // One chain of doublings for both: u2 Q by its width-5 NAF over Q, 3Q,
    // ..., 15Q (an addition per six bits on average), u1 G by its width-8
    // NAF over the odd multiples of G up to 127 G (one per nine).
    int8_t nq[C::kBits + 1] = {}, ng[C::kBits + 1] = {};
    const int topQ = wnaf<kNafWidth, C::N>(u2, nq), topG = wnaf<kBaseNafWidth, C::N>(u1, ng);
    Jac<C> odd[kNafEntries], twice;
    odd[0] = to_jacobian(q);
    jdbl(twice, odd[0]);
    for (int j = 1; j < kNafEntries; ++j) jadd_vt(odd[j], odd[j - 1], twice);
    // P-384 takes them affine (x = X / Z^2, y = Y / Z^3): its 64 mixed
    // additions save more than the inversion costs; P-256's 43 do not.
    constexpr bool affineQ = C::N == 6;
    Affine<C> oddQ[kNafEntries];
    if constexpr (affineQ) {
      typename C::Fe zi[kNafEntries], zz;
      invert_all<F>(zi, kNafEntries, [&odd](int j) -> const auto & { return odd[j].z; });
      for (int j = 0; j < kNafEntries; ++j) {
        F::sqr(zz, zi[j]);
        F::mul(oddQ[j].x, odd[j].x, zz);
        F::mul(zz, zz, zi[j]);
        F::mul(oddQ[j].y, odd[j].y, zz);
      }
    }
    const Affine<C> *oddG = OddBaseTable<C>::get();
    Jac<C> acc{F::one(), F::one(), typename C::Fe{}};
    for (int i = (topQ > topG ? topQ : topG) - 1; i >= 0; --i) {
      if (!F::is_zero_mask(acc.z)) jdbl(acc, acc);
      if (i < topQ && nq[i] != 0) {
        const int j = (nq[i] < 0 ? -nq[i] : nq[i]) >> 1;
        if constexpr (affineQ) {
          Affine<C> a = oddQ[j];
          negate_if(a.y, nq[i] < 0);
          jadd_affine_vt(acc, acc, a);
        } else {
          Jac<C> t = odd[j];
          negate_if(t.y, nq[i] < 0);
          jadd_vt(acc, acc, t);
        }
      }
      if (i < topG && ng[i] != 0) {
        Affine<C> a = oddG[(ng[i] < 0 ? -ng[i] : ng[i]) >> 1];
        negate_if(a.y, ng[i] < 0);
        jadd_affine_vt(acc, acc, a);
      }
    }
    return from_jacobian(acc);
  }
};

// Runs fn with the Jacobian formulas over this CPU's field kernel.
template <class C, class Fn> Point<C> on_kernel(Fn &&fn) {
  if (use_adx()) return fn(Jacobian<C, typename C::F::Adx>{});
  return fn(Jacobian<C, typename C::F::Portable>{});
}

}  // namespace

template <class C> Point<C> mul_ct(const typename C::Fe &k, const Point<C> &p) {
  return on_kernel<C>([&](auto j) { return j.mul_ct(k, p); });
}

template <class C> Point<C> mul_base_ct(const typename C::Fe &k) {
  return on_kernel<C>([&](auto j) { return j.mul_base_ct(k); });
}

template <class C> Point<C> mul_double_vt(const typename C::Fe &u1, const typename C::Fe &u2, const Point<C> &q) {
  return on_kernel<C>([&](auto j) { return j.mul_double_vt(u1, u2, q); });
}

template <class C> Point<C> mul_comb_ct(const uint32_t *k, const Point<C> &p, const uint32_t *table, int32_t w) {
  constexpr int n = C::kUnits;
  const int32_t d = (C::kBits + w - 1) / w;
  const uint32_t count = 1u << w;
  Limbs<C::N> kl = limbs_of<C::N>(k);
  uint32_t x[n], y[n];
  Point<C> acc = infinity<C>(), t;
  for (int32_t c = d - 1; c >= 0; --c) {
    dbl(acc, acc);
    uint32_t idx = 0;
    for (int32_t j = w - 1; j >= 0; --j) idx = idx << 1 | bits_at<C::N>(kl, c + j * d, 1);
    // Entry idx from the table (2 .. 2^w - 1), scanned whole; 1 is P, 0 infinity.
    std::memset(x, 0, sizeof x);
    std::memset(y, 0, sizeof y);
    for (uint32_t e = 2; e < count; ++e) {
      const uint32_t m = static_cast<uint32_t>(eq_mask(e, idx));
      const uint32_t *entry = table + static_cast<size_t>(e - 2) * 2 * n;
      for (int i = 0; i < n; ++i) {
        x[i] |= entry[i] & m;
        y[i] |= entry[n + i] & m;
      }
    }
    t = point_from_units<C>(x, y);
    select_point(t, p, eq_mask(1, idx));
    select_point(t, infinity<C>(), eq_mask(0, idx));
    add(acc, acc, t);
  }
  wipe(x, sizeof x);
  wipe(y, sizeof y);
  wipe(&t, sizeof t);
  wipe(&kl, sizeof kl);
  return acc;
}

template <class C> void build_comb(const Point<C> &p, int32_t w, uint32_t *table) {
  constexpr int n = C::kUnits;
  const int32_t d = (C::kBits + w - 1) / w;
  const uint32_t count = 1u << w;
  auto store = [&](uint32_t index, const Point<C> &q) {
    uint32_t *entry = table + static_cast<size_t>(index - 2) * 2 * n;
    point_to_units(q, entry, entry + n);
  };
  auto load = [&](uint32_t index) {
    if (index == 1) return p;
    const uint32_t *entry = table + static_cast<size_t>(index - 2) * 2 * n;
    return point_from_units<C>(entry, entry + n);
  };
  // entries 2^i = 2^(i d) P, then every sum of them
  Point<C> acc = p;
  for (int32_t i = 1; i < w; ++i) {
    for (int32_t s = 0; s < d; ++s) dbl(acc, acc);
    store(1u << i, acc);
  }
  for (uint32_t i = 2; i < count; i <<= 1) {
    const Point<C> high = load(i);
    for (uint32_t j = 1; j < i; ++j) {
      Point<C> sum;
      add(sum, load(j), high);
      store(i + j, sum);
    }
  }
}

#define KEL_EC_INSTANTIATE(C)                                                                        \
  template Point<C> mul_ct<C>(const C::Fe &, const Point<C> &);                                      \
  template Point<C> mul_base_ct<C>(const C::Fe &);                                                   \
  template Point<C> mul_double_vt<C>(const C::Fe &, const C::Fe &, const Point<C> &);               \
  template Point<C> mul_comb_ct<C>(const uint32_t *, const Point<C> &, const uint32_t *, int32_t); \
  template void build_comb<C>(const Point<C> &, int32_t, uint32_t *);
KEL_EC_INSTANTIATE(C256)
KEL_EC_INSTANTIATE(C384)
#undef KEL_EC_INSTANTIATE

}  // namespace kel::ec
