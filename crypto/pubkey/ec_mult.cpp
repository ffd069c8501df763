// Scalar multiplication: signed-window (Booth) variable-base and fixed-base
// multiplications in constant time, the variable-time double multiplication
// of verification, and the caller-held comb tables.
#include <pthread.h>

#include "crypto/pubkey/ec_internal.h"

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

template <class C> void negate_if(typename C::Fe &y, uint32_t negative) {
  typename C::Fe ny{}, zero{};
  C::F::sub(ny, zero, y);
  C::F::select(y, ny, 0 - static_cast<uint64_t>(negative));
}

// The fixed-base table of G: entry [i][j] = (j + 1) 2^(w i) G, affine, in
// Montgomery form. Built once per process on first use.
template <class C> struct BaseTable {
  static inline Affine<C> entries[C::kBaseWindows][C::kBaseEntries];
  static inline pthread_once_t once = PTHREAD_ONCE_INIT;

  static void build() {
    constexpr int E = C::kBaseEntries;
    Point<C> base{C::gx, C::gy, C::F::one()};
    Point<C> row[E];
    typename C::Fe prefix[E];
    for (int i = 0; i < C::kBaseWindows; ++i) {
      row[0] = base;
      for (int j = 1; j < E; ++j) add(row[j], row[j - 1], base);
      // one inversion per row (Montgomery's trick)
      prefix[0] = row[0].z;
      for (int j = 1; j < E; ++j) C::F::mul(prefix[j], prefix[j - 1], row[j].z);
      typename C::Fe inv = C::F::inverse(prefix[E - 1]), zi;
      for (int j = E - 1; j >= 0; --j) {
        if (j > 0) {
          C::F::mul(zi, inv, prefix[j - 1]);
          C::F::mul(inv, inv, row[j].z);
        } else {
          zi = inv;
        }
        C::F::mul(entries[i][j].x, row[j].x, zi);
        C::F::mul(entries[i][j].y, row[j].y, zi);
      }
      for (int s = 0; s < C::kBaseWindow; ++s) dbl(base, base);
    }
  }
  static const Affine<C> (&get())[C::kBaseWindows][C::kBaseEntries] {
    pthread_once(&once, build);
    return entries;
  }
};

// P, 2P, ..., 16P for the 5-bit signed windows.
template <class C> void small_multiples(Point<C> (&t)[16], const Point<C> &p) {
  t[0] = p;
  dbl(t[1], p);
  for (int j = 2; j < 16; ++j) add(t[j], t[j - 1], p);
}

constexpr int kVarWindow = 5;

}  // namespace

template <class C> Point<C> mul_ct(const typename C::Fe &k, const Point<C> &p) {
  constexpr int W = (C::kBits + kVarWindow) / kVarWindow;
  Point<C> table[16];
  small_multiples(table, p);
  Point<C> acc = infinity<C>(), t;
  for (int i = W - 1; i >= 0; --i) {
    for (int s = 0; s < kVarWindow && i != W - 1; ++s) dbl(acc, acc);
    const Digit d = booth(bits_at<C::N>(k, kVarWindow * i - 1, kVarWindow + 1), kVarWindow);
    t = infinity<C>();
    for (uint32_t j = 0; j < 16; ++j) select_point(t, table[j], eq_mask(j + 1, d.magnitude));
    negate_if<C>(t.y, d.negative);
    add(acc, acc, t);
  }
  wipe(table, sizeof table);
  wipe(&t, sizeof t);
  return acc;
}

template <class C> Point<C> mul_base_ct(const typename C::Fe &k) {
  constexpr int w = C::kBaseWindow;
  const auto &table = BaseTable<C>::get();
  Point<C> acc = infinity<C>(), sum;
  Affine<C> a;
  for (int i = 0; i < C::kBaseWindows; ++i) {
    const Digit d = booth(bits_at<C::N>(k, w * i - 1, w + 1), w);
    a = table[i][0];
    for (uint32_t j = 1; j < C::kBaseEntries; ++j) {
      const uint64_t m = eq_mask(j + 1, d.magnitude);
      C::F::select(a.x, table[i][j].x, m);
      C::F::select(a.y, table[i][j].y, m);
    }
    negate_if<C>(a.y, d.negative);
    add_affine(sum, acc, a);
    select_point(acc, sum, ~eq_mask(0, d.magnitude));  // a zero digit leaves acc as it was
  }
  wipe(&a, sizeof a);
  wipe(&sum, sizeof sum);
  return acc;
}

template <class C> Point<C> mul_double_vt(const typename C::Fe &u1, const typename C::Fe &u2, const Point<C> &q) {
  constexpr int W = (C::kBits + kVarWindow) / kVarWindow;
  Point<C> table[16];
  small_multiples(table, q);
  Point<C> acc = infinity<C>(), t;
  bool started = false;
  for (int i = W - 1; i >= 0; --i) {
    for (int s = 0; s < kVarWindow && started; ++s) dbl(acc, acc);
    const Digit d = booth(bits_at<C::N>(u2, kVarWindow * i - 1, kVarWindow + 1), kVarWindow);
    if (d.magnitude == 0) continue;
    t = table[d.magnitude - 1];
    negate_if<C>(t.y, d.negative);
    add(acc, acc, t);
    started = true;
  }
  constexpr int w = C::kBaseWindow;
  const auto &base = BaseTable<C>::get();
  for (int i = 0; i < C::kBaseWindows; ++i) {
    const Digit d = booth(bits_at<C::N>(u1, w * i - 1, w + 1), w);
    if (d.magnitude == 0) continue;
    Affine<C> a = base[i][d.magnitude - 1];
    negate_if<C>(a.y, d.negative);
    add_affine(acc, acc, a);
  }
  return acc;
}

template <class C> Point<C> mul_comb_ct(const uint32_t *k, const Point<C> &p, const uint32_t *table, int32_t w) {
  constexpr int n = C::kUnits;
  const int32_t d = (C::kBits + w - 1) / w;
  const uint32_t count = 1u << w;
  const Limbs<C::N> kl = limbs_of<C::N>(k);
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
