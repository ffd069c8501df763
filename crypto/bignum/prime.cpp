// Probable primes: trial division, Miller-Rabin (HAC 4.24), the Lucas test
// (FIPS 186-3 C.3.3), the Jacobi symbol, and prime search.
#include <array>
#include <utility>

#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "crypto/bignum/mont.h"
#include "crypto/bignum/status.h"
#include "kel/prime.h"
#include "kel/vor.h"

using namespace kel::bignum;

namespace {

// Every prime below 256 but 2.
constexpr uint8_t kSmallPrimes[PRIME_SMALL_PRIME_COUNT] = {
    3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,  61,  67,
    71,  73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139, 149, 151, 157,
    163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229, 233, 239, 241, 251};

// The primes from 257 to 16381: the prime search sieves its candidates with
// them before any test (see sieve_rejects).
constexpr size_t kSieveLimit = 16384;
consteval size_t count_sieve_primes() {
  size_t c = 0;
  for (size_t p = 257; p < kSieveLimit; p += 2) {
    bool prime = true;
    for (size_t d = 3; d * d <= p; d += 2)
      if (p % d == 0) prime = false;
    c += prime;
  }
  return c;
}
constexpr size_t kSievePrimeCount = count_sieve_primes();
consteval std::array<uint16_t, kSievePrimeCount> make_sieve_primes() {
  std::array<uint16_t, kSievePrimeCount> out{};
  size_t c = 0;
  for (size_t p = 257; p < kSieveLimit; p += 2) {
    bool prime = true;
    for (size_t d = 3; d * d <= p; d += 2)
      if (p % d == 0) prime = false;
    if (prime) out[c++] = static_cast<uint16_t>(p);
  }
  return out;
}
constexpr auto kSievePrimes = make_sieve_primes();
static_assert(kSievePrimes[0] == 257 && kSievePrimes[kSievePrimeCount - 1] == 16381);

// v mod p for each small prime, through products of several primes that fit
// in a limb (one long division per product instead of one per prime).
template <size_t N, class P>
void residues(const vlong *v, const P &primes, uint32_t *out) {
  size_t n;
  const limb_t *l = view(v, &n);
  size_t i = 0;
  while (i < N) {
    uint64_t prod = primes[i];
    size_t j = i + 1;
    while (j < N && prod <= ~uint64_t{0} / primes[j]) prod *= primes[j++];
    const uint64_t r = n == 0 ? 0 : mod_1(l, n, prod);
    for (; i < j; ++i) out[i] = static_cast<uint32_t>(r % primes[i]);
  }
}

bool is_odd(const vlong *v) { return v->length != 0 && (v->units[0] & 1); }

// n - 1 = 2^s·r with r odd.
int32_t split_minus_one(const vlong *n, vlong **r, uint32_t *s, vlong **queue) {
  if (int32_t st = VLONG_makeVlongFromVlong(n, r, queue); st != kOk) return st;
  (*r)->isNegative = 0;
  if (int32_t st = VLONG_decrement(*r, queue); st != kOk) return st;
  uint32_t z = 0;
  while (z < VLONG_bitLength(*r) && !VLONG_isVlongBitSet(*r, z)) ++z;
  VLONG_shrXvlong(*r, z);
  *s = z;
  return kOk;
}

// One round on a prepared modulus: y = a^r; y = 1 or n - 1 passes; else up to
// s - 1 squarings looking for n - 1 (1 first fails).
struct RoundSpace {
  limb_t *g, *y, *minusOne;
  int32_t init(MontSpace &ms) {
    for (limb_t **p : {&g, &y, &minusOne})
      if (int32_t st = ms.take(p); st != kOk) return st;
    sub_n(minusOne, ms.mont().m, ms.one(), ms.n());  // (n - 1)·R ≡ m - R mod m
    return kOk;
  }
};

int32_t mr_round(MontSpace &ms, RoundSpace &rs, const vlong *a, const vlong *r, uint32_t s, uint32_t *passed) {
  const size_t n = ms.n();
  limb_t *g = rs.g, *y = rs.y, *minusOne = rs.minusOne;
  if (int32_t st = ms.to_mont(g, a); st != kOk) return st;
  if (int32_t st = ms.pow_window(y, g, r); st != kOk) return st;
  *passed = 0;
  if (cmp_n(y, ms.one(), n) == 0 || cmp_n(y, minusOne, n) == 0) {
    *passed = 1;
    return kOk;
  }
  for (uint32_t j = 1; j < s; ++j) {
    ms.sqr_vt(y, y);
    if (cmp_n(y, minusOne, n) == 0) {
      *passed = 1;
      return kOk;
    }
    if (cmp_n(y, ms.one(), n) == 0) return kOk;
  }
  return kOk;
}

// floor(sqrt(n)) by Newton's method from a power of two above the root.
int32_t is_square(const vlong *n, bool *square, vlong **queue) {
  *square = false;
  if (n->length == 0) {
    *square = true;
    return kOk;
  }
  Temp x(queue), y(queue), q(queue), r(queue);
  if (int32_t s = VLONG_allocVlong(x.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_setVlongBit(x.get(), (VLONG_bitLength(n) + 1) / 2); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(y.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(q.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  for (;;) {
    if (int32_t s = VLONG_unsignedDivide(q.get(), n, x.get(), r.get(), queue); s != kOk) return s;
    q->isNegative = 0;
    if (int32_t s = VLONG_addSignedVlongs(q.get(), x.get(), queue); s != kOk) return s;
    VLONG_shrXvlong(q.get(), 1);
    if (compareMagnitudes(q.get(), x.get()) >= 0) break;
    std::swap(*x.out(), *q.out());
  }
  if (int32_t s = VLONG_unsignedMultiply(y.get(), x.get(), x.get()); s != kOk) return s;
  *square = compareMagnitudes(y.get(), n) == 0;
  return kOk;
}

// a = (a + b) mod m and a / 2 mod m on Montgomery residues.
void add_mod(const Mont &mt, limb_t *r, const limb_t *a, const limb_t *b) {
  uint64_t c = add_n(r, a, b, mt.n);
  if (c || cmp_n(r, mt.m, mt.n) >= 0) sub_n(r, r, mt.m, mt.n);
}

void half_mod(const Mont &mt, limb_t *r) {
  uint64_t c = 0;
  if (r[0] & 1) c = add_n(r, r, mt.m, mt.n);
  rshift(r, r, mt.n, 1);
  r[mt.n - 1] |= c << 63;
}

// Uses a candidate's bytes of randomness the way a first Miller-Rabin base
// would, so that sieving keeps the generator's stream where the full test
// would have left it.
int32_t draw_like_first_base(RandomContext *ctx, uint32_t bits, vlong **queue) {
  Temp base(queue);
  return VLONG_makeRandomVlong(ctx, base.out(), bits - 1, queue);
}

// Incremental sieve over the search's candidates by the primes 257 .. 16381.
// A candidate divisible by one of them is composite: the full test would have
// failed it in its first Miller-Rabin round (after drawing one base), so the
// sieve draws that base too and skips the exponentiation. Candidates short
// enough to be one of these primes are not sieved.
class Sieve {
 public:
  bool active() const { return active_; }
  void start(const vlong *x) {
    active_ = VLONG_bitLength(x) > 16;
    if (active_) residues<kSievePrimeCount>(x, kSievePrimes, r_.data());
  }
  void advance(uint32_t delta) {
    if (!active_) return;
    for (size_t i = 0; i < kSievePrimeCount; ++i) {
      uint32_t v = r_[i] + delta;
      r_[i] = v >= kSievePrimes[i] ? v - kSievePrimes[i] : v;
    }
  }
  bool divisible() const {
    if (!active_) return false;
    uint32_t any = 0;
    for (size_t i = 0; i < kSievePrimeCount; ++i) any |= r_[i] == 0;
    return any != 0;
  }

 private:
  std::array<uint32_t, kSievePrimeCount> r_{};
  bool active_ = false;
};

// One search step: tests x unless the sieve has rejected it.
int32_t test_candidate(RandomContext *ctx, const vlong *x, const Sieve &sieve, uint32_t *prime, vlong **queue) {
  *prime = 0;
  if (sieve.divisible()) {
    uint32_t small = 0;
    if (int32_t s = PRIME_simplePrimeTest(x, 0, PRIME_SMALL_PRIME_COUNT, &small, queue); s != kOk) return s;
    return small ? draw_like_first_base(ctx, VLONG_bitLength(x), queue) : kOk;
  }
  return PRIME_doPrimeTests(ctx, x, prime, queue);
}

}  // namespace

namespace kel::bignum {

uint32_t millerRabinRoundCount(uint32_t bitLength) {
  return bitLength > 100 ? 41 : bitLength == 100 ? 27 : 50;
}

}  // namespace kel::bignum

int32_t PRIME_simplePrimeTest(const vlong *candidate, uint32_t first, uint32_t end, uint32_t *isPrime,
                              vlong ** /*queue*/) {
  if (candidate == nullptr || isPrime == nullptr) return kNull;
  *isPrime = 0;
  if (end > PRIME_SMALL_PRIME_COUNT) end = PRIME_SMALL_PRIME_COUNT;
  if (first > end) return kOk;
  uint32_t r[PRIME_SMALL_PRIME_COUNT];
  residues<PRIME_SMALL_PRIME_COUNT>(candidate, kSmallPrimes, r);
  for (uint32_t i = first; i < end; ++i)
    if (r[i] == 0) return kOk;
  *isPrime = 1;
  return kOk;
}

int32_t JACOBI_jacobiSymbol(const vlong *a, const vlong *n, int32_t *symbol, vlong **queue) {
  if (a == nullptr || n == nullptr || symbol == nullptr) return kNull;
  *symbol = 0;
  if (!is_odd(n)) return kOk;
  Temp x(queue), y(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(a, x.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromVlong(n, y.out(), queue); s != kOk) return s;
  y->isNegative = 0;
  uint32_t changes = 0;
  if (x->isNegative) {
    if (x->length != 0 && (y->units[0] & 3) == 3) ++changes;
    x->isNegative = 0;
  }
  do {
    if (x->length == 0) return kOk;  // symbol 0
    const uint32_t m = y->units[0] & 7;
    uint32_t z = 0;
    while (!VLONG_isVlongBitSet(x.get(), z)) ++z;
    VLONG_shrXvlong(x.get(), z);
    if ((z & 1) && (m == 3 || m == 5)) ++changes;  // (m² - 1)/8 odd
    if ((x->units[0] & 3) == 3 && (m & 3) == 3) ++changes;  // reciprocity
    Temp r(queue);
    if (int32_t s = VLONG_operatorModSignedVlongs(y.get(), x.get(), r.out(), queue); s != kOk) return s;
    std::swap(*y.out(), *x.out());  // n <- a
    std::swap(*x.out(), *r.out());  // a <- n mod a
  } while (VLONG_compareUnsigned(y.get(), 1) > 0);
  *symbol = (changes & 1) ? -1 : 1;
  return kOk;
}

int32_t LUCAS_primeTest(const vlong *candidate, uint32_t *isPrime, vlong **queue) {
  if (candidate == nullptr || isPrime == nullptr) return kNull;
  *isPrime = 0;
  if (!is_odd(candidate)) return kEvenCandidate;
  Temp n(queue), d(queue), k(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(candidate, n.out(), queue); s != kOk) return s;
  n->isNegative = 0;
  // A perfect square has no D with symbol -1: it is composite (1 included).
  bool square = false;
  if (int32_t s = is_square(n.get(), &square, queue); s != kOk) return s;
  if (square) return kOk;
  // D = 5, -7, 9, -11, ... until (D/n) = -1.
  if (int32_t s = VLONG_makeVlongFromUnsignedValue(5, d.out(), queue); s != kOk) return s;
  for (uint32_t mag = 5;; mag += 2) {
    d->units[0] = mag;
    d->isNegative = (mag / 2) & 1;  // 5 +, 7 -, 9 +, 11 -, ...
    int32_t j = 0;
    if (int32_t s = JACOBI_jacobiSymbol(d.get(), n.get(), &j, queue); s != kOk) return s;
    if (j == -1) break;
  }
  if (int32_t s = VLONG_makeVlongFromVlong(n.get(), k.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_increment(k.get(), queue); s != kOk) return s;
  MontSpace ms(queue);
  if (int32_t s = ms.init(n.get()); s != kOk) return s;
  const Mont &mt = ms.mont();
  limb_t *U, *V, *D, *t1, *t2;
  for (limb_t **p : {&U, &V, &D, &t1, &t2})
    if (int32_t s = ms.take(p); s != kOk) return s;
  if (int32_t s = ms.to_mont(D, d.get()); s != kOk) return s;
  const size_t nl = ms.n();
  copy_n(U, ms.one(), nl);  // U_1 = 1
  copy_n(V, ms.one(), nl);  // V_1 = P = 1
  const uint32_t bits = VLONG_bitLength(k.get());
  for (uint32_t i = bits - 1; i-- > 0;) {
    // (U, V) <- (U·V, (V² + D·U²)/2)
    ms.sqr_vt(t1, U);
    ms.mul_vt(t1, t1, D);
    ms.sqr_vt(t2, V);
    add_mod(mt, t2, t2, t1);
    half_mod(mt, t2);
    ms.mul_vt(U, U, V);
    copy_n(V, t2, nl);
    if (VLONG_isVlongBitSet(k.get(), i)) {
      // (U, V) <- ((U + V)/2, (D·U + V)/2)
      ms.mul_vt(t1, D, U);
      add_mod(mt, t1, t1, V);
      half_mod(mt, t1);
      add_mod(mt, U, U, V);
      half_mod(mt, U);
      copy_n(V, t1, nl);
    }
  }
  *isPrime = normalized(U, nl) == 0;
  return kOk;
}

int32_t PRIME_doPrimeTests(RandomContext *ctx, const vlong *candidate, uint32_t *isPrime, vlong **queue) {
  if (candidate == nullptr || isPrime == nullptr) return kNull;
  *isPrime = 0;
  if (!is_odd(candidate)) return kEvenCandidate;
  uint32_t passed = 0;
  if (int32_t s = PRIME_simplePrimeTest(candidate, 0, PRIME_SMALL_PRIME_COUNT, &passed, queue); s != kOk) return s;
  if (!passed) return kOk;
  const uint32_t t = VLONG_bitLength(candidate);
  if (t < 9) return kOk;  // only 1 survives the table below 256
  Temp n(queue), r(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(candidate, n.out(), queue); s != kOk) return s;
  n->isNegative = 0;
  ModExpHelper *helper = nullptr;
  if (int32_t s = VLONG_newModExpHelper(&helper, n.get(), queue); s != kOk) return s;
  struct HelperGuard {
    ModExpHelper **h;
    vlong **q;
    ~HelperGuard() { VLONG_deleteModExpHelper(h, q); }
  } guard{&helper, queue};
  uint32_t s2 = 0;
  if (int32_t s = split_minus_one(n.get(), r.out(), &s2, queue); s != kOk) return s;
  MontSpace ms(queue);
  RoundSpace rs{};
  if (int32_t s = ms.init(helper->modulus); s != kOk) return s;
  if (int32_t s = rs.init(ms); s != kOk) return s;
  const uint32_t rounds = millerRabinRoundCount(t);
  for (uint32_t i = 0; i < rounds; ++i) {
    Temp a(queue);
    if (int32_t s = VLONG_makeRandomVlong(ctx, a.out(), t - 1, queue); s != kOk) return s;
    if (int32_t s = VLONG_addImmediate(a.get(), 2, queue); s != kOk) return s;
    // For n = 2^(t-1) + 1 the base can be n itself; a base ≡ 0 says nothing
    // about n, so that round is skipped (counted as passed, no new draw).
    if (compareMagnitudes(a.get(), n.get()) == 0) continue;
    if (int32_t s = mr_round(ms, rs, a.get(), r.get(), s2, &passed); s != kOk) return s;
    if (!passed) return kOk;
  }
  return LUCAS_primeTest(n.get(), isPrime, queue);
}

int32_t incrementalPrimeFind(RandomContext *ctx, const vlong *start, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (start == nullptr) return kNull;
  Temp x(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(start, x.out(), queue); s != kOk) return s;
  // Below 3 there is nothing to search down from: start at 3.
  if (x->isNegative || VLONG_compareUnsigned(x.get(), 3) < 0) {
    x->isNegative = 0;
    x->length = 0;
    if (int32_t s = VLONG_setVlongUnit(x.get(), 0, 3); s != kOk) return s;
  }
  if (!is_odd(x.get()))
    if (int32_t s = VLONG_decrement(x.get(), queue); s != kOk) return s;
  Sieve sieve;
  sieve.start(x.get());
  for (;;) {
    uint32_t prime = 0;
    if (int32_t s = test_candidate(ctx, x.get(), sieve, &prime, queue); s != kOk) return s;
    if (prime) break;
    if (int32_t s = VLONG_addImmediate(x.get(), 2, queue); s != kOk) return s;
    sieve.advance(2);
  }
  *out = x.release();
  return kOk;
}

int32_t PRIME_generateSizedPrime(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue) {
  struct EmptyQueue {
    vlong **q;
    ~EmptyQueue() { VLONG_freeVlongQueue(q); }
  } emptyQueue{queue};
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (bits < 9) return kSize;  // every odd number below 256 but 1 fails trial division
  vlong *result = nullptr;
  {
    Temp x(queue);
    if (int32_t s = VLONG_makeRandomVlong(ctx, x.out(), bits, queue); s != kOk) return s;
    // x <- x - (x mod 3), odd, then + 2: x ≡ 5 (mod 6).
    uint32_t r3[1];
    constexpr uint8_t kThree[1] = {3};
    residues<1>(x.get(), kThree, r3);
    {
      Temp m(queue);
      if (int32_t s = VLONG_makeVlongFromUnsignedValue(r3[0], m.out(), queue); s != kOk) return s;
      if (int32_t s = VLONG_subtractSignedVlongs(x.get(), m.get(), queue); s != kOk) return s;
    }
    if (!is_odd(x.get()))
      if (int32_t s = VLONG_addImmediate(x.get(), 3, queue); s != kOk) return s;
    if (int32_t s = VLONG_addImmediate(x.get(), 2, queue); s != kOk) return s;
    Sieve sieve;
    sieve.start(x.get());
    for (;;) {
      uint32_t prime = 0;
      if (int32_t s = test_candidate(ctx, x.get(), sieve, &prime, queue); s != kOk) return s;
      if (prime) break;
      if (int32_t s = VLONG_addImmediate(x.get(), 2, queue); s != kOk) return s;
      sieve.advance(2);
      if (int32_t s = test_candidate(ctx, x.get(), sieve, &prime, queue); s != kOk) return s;
      if (prime) break;
      if (int32_t s = VLONG_addImmediate(x.get(), 4, queue); s != kOk) return s;
      sieve.advance(4);
    }
    // The result leaves the queue's world: a fresh heap vlong.
    if (int32_t s = VLONG_makeVlongFromVlong(x.get(), &result, nullptr); s != kOk) return s;
  }
  *out = result;
  return kOk;
}
