// RSA key generation: probable primes with conditions based on auxiliary
// probable primes (FIPS 186-3 B.3.6), each prime built as in C.9, e = 65537,
// then a sign-and-verify consistency test.
#include "crypto/bignum/internal.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/rsa_internal.h"
#include "kel/debug_console.h"
#include "kel/prime.h"

namespace kel::rsa {

namespace {

using bignum::Temp;

constexpr uint32_t kPublicExponent = 65537;
constexpr uint32_t kAuxiliaryBits = 101;
constexpr uint32_t kMinModulusBits = 1024;
constexpr uint32_t kConsoleClass = 4;
constexpr uint8_t kTestMessage[] = {'C', 'L', 'E', 'A', 'R', '_', 'T', 'E', 'X', 'T', '_', 'L', 'I', 'N', 'E'};

// C.9 step 2: from the auxiliary primes r1 (doubled here, in place) and r2,
// R ≡ 1 (mod 2 r1) and R ≡ -1 (mod r2) by the CRT, step = 2 r1 r2, and the
// first Y >= X with Y ≡ R (mod step).
int32_t auxiliaryPrimeStart(vlong *r1, const vlong *r2, const vlong *X, vlong **Y, vlong **step, vlong **queue) {
  if (int32_t s = VLONG_shlVlong(r1); s != kOk) return s;
  SecretVlong a(queue), b(queue), R(queue), t(queue), rem(queue), y(queue), st(queue);
  // R = (r2^-1 mod 2r1)·r2 - ((2r1)^-1 mod r2)·2r1.
  if (int32_t s = VLONG_modularInverse(r2, r1, a.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_modularInverse(r1, r2, b.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(R.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(t.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(st.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_vlongSignedMultiply(R.get(), a.get(), r2); s != kOk) return s;
  if (int32_t s = VLONG_vlongSignedMultiply(t.get(), b.get(), r1); s != kOk) return s;
  if (int32_t s = VLONG_subtractSignedVlongs(R.get(), t.get(), queue); s != kOk) return s;
  if (int32_t s = VLONG_vlongSignedMultiply(st.get(), r1, r2); s != kOk) return s;
  // Y = X + ((R - X) mod step), the residue taken non-negative.
  if (int32_t s = VLONG_subtractSignedVlongs(R.get(), X, queue); s != kOk) return s;
  if (int32_t s = VLONG_operatorModSignedVlongs(R.get(), st.get(), rem.out(), queue); s != kOk) return s;
  if (rem.get()->isNegative && !VLONG_isVlongZero(rem.get())) {
    if (int32_t s = VLONG_addSignedVlongs(rem.get(), st.get(), queue); s != kOk) return s;
  }
  rem.get()->isNegative = 0;
  if (int32_t s = VLONG_makeVlongFromVlong(X, y.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_addSignedVlongs(y.get(), rem.get(), queue); s != kOk) return s;
  *Y = y.release();
  *step = st.release();
  return kOk;
}

// C.9 steps 5 to 11 without the upper bound: Y, Y + step, ... until
// gcd(Y - 1, e) = 1 and Y passes the probable-prime tests. Y moves in place.
int32_t auxiliaryPrimeSearch(RandomContext *ctx, vlong *Y, vlong *step, const vlong *e, vlong **prime,
                             vlong **queue) {
  const bool evenE = !VLONG_isVlongBitSet(e, 0);
  if (evenE) {
    if (int32_t s = VLONG_shlXvlong(step, 3); s != kOk) return s;
  }
  for (;;) {
    while (!VLONG_isVlongBitSet(Y, 0)) {
      if (int32_t s = VLONG_addSignedVlongs(Y, step, queue); s != kOk) return s;
    }
    SecretVlong less(queue), gcd(queue);
    if (int32_t s = VLONG_makeVlongFromVlong(Y, less.out(), queue); s != kOk) return s;
    if (int32_t s = VLONG_decrement(less.get(), queue); s != kOk) return s;
    if (evenE) VLONG_shrVlong(less.get());
    if (int32_t s = VLONG_greatestCommonDenominator(less.get(), e, gcd.out(), queue); s != kOk) return s;
    if (VLONG_compareUnsigned(gcd.get(), 1) == 0) {
      uint32_t isPrime = 0;
      if (int32_t s = PRIME_doPrimeTests(ctx, Y, &isPrime, queue); s != kOk) return s;
      if (isPrime) return VLONG_makeVlongFromVlong(Y, prime, queue);
    }
    if (int32_t s = VLONG_addSignedVlongs(Y, step, queue); s != kOk) return s;
  }
}

int32_t fips_steps(RandomContext *ctx, const vlong *e, const vlong *X, const vlong *X1, const vlong *X2,
                   vlong **prime, vlong **queue) {
  SecretVlong p1(queue), p2(queue), Y(queue), step(queue), p(queue);
  if (int32_t s = incrementalPrimeFind(ctx, X1, p1.out(), queue); s != kOk) return s;
  if (int32_t s = incrementalPrimeFind(ctx, X2, p2.out(), queue); s != kOk) return s;
  if (int32_t s = auxiliaryPrimeStart(p1.get(), p2.get(), X, Y.out(), step.out(), queue); s != kOk) return s;
  if (int32_t s = auxiliaryPrimeSearch(ctx, Y.get(), step.get(), e, p.out(), queue); s != kOk) return s;
  *prime = p.release();
  return kOk;
}

// A random odd start of `bits` bits with the top bit set; when the second
// bit is clear the third and fourth are set, so the start is not far below
// sqrt(2)·2^(bits - 1).
int32_t random_start(RandomContext *ctx, uint32_t bits, vlong **out, vlong **queue) {
  SecretVlong x(queue);
  if (int32_t s = VLONG_makeRandomVlong(ctx, x.out(), bits, queue); s != kOk) return s;
  if (!VLONG_isVlongBitSet(x.get(), bits - 2)) {
    if (int32_t s = VLONG_setVlongBit(x.get(), bits - 3); s != kOk) return s;
    if (int32_t s = VLONG_setVlongBit(x.get(), bits - 4); s != kOk) return s;
  }
  *out = x.release();
  return kOk;
}

// One prime from a fresh start and fresh auxiliary starts; *accepted = false
// when p^2 falls short of nlen bits.
int32_t one_prime(RandomContext *ctx, const vlong *e, const vlong *X, uint32_t nlen, vlong **prime, bool *accepted,
                  vlong **queue) {
  SecretVlong X1(queue), X2(queue), p(queue), square(queue);
  if (int32_t s = VLONG_makeRandomVlong(ctx, X1.out(), kAuxiliaryBits, queue); s != kOk) return s;
  if (int32_t s = VLONG_makeRandomVlong(ctx, X2.out(), kAuxiliaryBits, queue); s != kOk) return s;
  uint32_t flag = 0;
  if (int32_t s = RSA_generateKeyFipsSteps(ctx, e, X, X1.get(), X2.get(), &flag, p.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(square.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_vlongSignedSquare(square.get(), p.get()); s != kOk) return s;
  *accepted = VLONG_bitLength(square.get()) >= nlen;
  if (*accepted) *prime = p.release();
  return kOk;
}

// B.3.6: both primes, then the key (p > q) completed by prepare().
int32_t construct(RandomContext *ctx, RsaKeyObject *key, uint32_t nlen, vlong **queue) {
  if (int32_t s = fips::gate(); s != 0) return s;
  const uint32_t pBits = nlen / 2, qBits = nlen - nlen / 2;
  const uint32_t threshold = 412 + 128 * ((nlen / 2 - 512) / 128);
  Temp e(queue);
  if (int32_t s = VLONG_makeVlongFromUnsignedValue(kPublicExponent, e.out(), queue); s != kOk) return s;
  SecretVlong p(queue), q(queue);
  for (;;) {
    SecretVlong Xp(queue), Xq(queue), diff(queue);
    if (int32_t s = random_start(ctx, pBits, Xp.out(), queue); s != kOk) return s;
    if (int32_t s = random_start(ctx, qBits, Xq.out(), queue); s != kOk) return s;
    if (int32_t s = VLONG_makeVlongFromVlong(Xp.get(), diff.out(), queue); s != kOk) return s;
    if (int32_t s = VLONG_subtractSignedVlongs(diff.get(), Xq.get(), queue); s != kOk) return s;
    if (VLONG_bitLength(diff.get()) <= threshold) continue;
    bool accepted = false;
    wipe_release(p.out(), queue);
    wipe_release(q.out(), queue);
    if (int32_t s = one_prime(ctx, e.get(), Xp.get(), nlen, p.out(), &accepted, queue); s != kOk) return s;
    if (!accepted) continue;
    if (int32_t s = one_prime(ctx, e.get(), Xq.get(), nlen, q.out(), &accepted, queue); s != kOk) return s;
    if (accepted) break;
  }
  Temp n(queue);
  if (int32_t s = VLONG_allocVlong(n.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedMultiply(n.get(), p.get(), q.get()); s != kOk) return s;
  release_values(key, queue);
  const bool swap = VLONG_compareSignedVlongs(p.get(), q.get()) < 0;
  key->publicExponent = e.release();
  key->modulus = n.release();
  key->prime1 = swap ? q.release() : p.release();
  key->prime2 = swap ? p.release() : q.release();
  key->hasPrivatePart = 1;
  return prepare(key, queue);
}

int32_t consistency_test(const RsaKeyObject *key) {
  const uint32_t k = modulus_bytes(key);
  mem::WipedBlock signature, recovered;
  if (!signature.allocate(k) || !recovered.allocate(k)) return kAlloc;
  if (int32_t s = sign(key, kTestMessage, sizeof kTestMessage, signature.data(), nullptr); s != kOk) return s;
  uint32_t length = 0;
  if (int32_t s = verify(key, signature.data(), recovered.data(), &length, nullptr); s != kOk) return s;
  if (length != sizeof kTestMessage || std::memcmp(recovered.data(), kTestMessage, length) != 0)
    return ERR_RSA_PAIRWISE_TEST;
  DEBUG_CONSOLE_printNewLine(kConsoleClass, "RSA_generateKey_FIPS_consistancy_test: GOOD Signature Verify!");
  return kOk;
}

}  // namespace

}  // namespace kel::rsa

using namespace kel::rsa;

int32_t RSA_generateKeyFipsSteps(RandomContext *ctx, const vlong *e, const vlong *X, const vlong *X1,
                                 const vlong *X2, uint32_t *flag, vlong **prime, vlong **queue) {
  if (ctx == nullptr || e == nullptr || X == nullptr || X1 == nullptr || X2 == nullptr || flag == nullptr ||
      prime == nullptr)
    return kNull;
  *flag = 0;
  return fips_steps(ctx, e, X, X1, X2, prime, queue);
}

int32_t RSA_generateKey_FIPS_consistancy_test(const RsaKeyObject *key) {
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (key->modulus == nullptr || key->publicExponent == nullptr) return kNull;
  return consistency_test(key);
}

int32_t RSA_generateKey(RandomContext *ctx, RsaKeyObject *key, uint32_t modulusBits, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (ctx == nullptr) return kNull;
  // Sizes are rounded up to a multiple of 128 bits: no other size can come
  // out of two primes of nlen/2 bits with the top bits this construction sets.
  if (modulusBits > VLONG_MAX_UNITS * 32) return ERR_VLONG_SIZE;
  const uint32_t nlen = (modulusBits + 127) / 128 * 128;
  if (nlen < kMinModulusBits) return ERR_RSA_KEY_SIZE;
  for (;;) {
    if (int32_t s = construct(ctx, key, nlen, queue); s != kOk) return s;
    if (VLONG_bitLength(key->modulus) == nlen) break;
    release_values(key, queue);
  }
  return consistency_test(key);
}
