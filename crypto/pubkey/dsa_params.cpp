// DSA domain parameters by the SHA-1 method of FIPS 186-2 Appendix 2.2 (160-
// bit q, p of 512 to 1024 bits), their validation from seed, counter and h,
// key pairs, and the key-generation consistency test.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/pubkey/dsa_internal.h"
#include "kel/debug_console.h"
#include "kel/hash.h"
#include "kel/prime.h"

namespace {

using kel::bignum::Temp;
using kel::dsa::kNull;
using kel::dsa::kOk;

constexpr uint32_t kSeedBytes = DSA_SEED_BYTES;
constexpr uint32_t kQBits = 160;
constexpr uint32_t kMaxCounter = 4096;  // FIPS 186-2: give up after 4096 p candidates

// (seed + add) mod 2^160, big-endian.
void seed_plus(const uint8_t *seed, uint32_t add, uint8_t *out) {
  uint32_t carry = add;
  for (int i = kSeedBytes - 1; i >= 0; --i) {
    const uint32_t v = seed[i] + (carry & 0xff);
    out[i] = static_cast<uint8_t>(v);
    carry = (carry >> 8) + (v >> 8);
  }
}

int32_t sha1_of_seed_plus(const uint8_t *seed, uint32_t add, uint8_t *digest) {
  uint8_t value[kSeedBytes];
  seed_plus(seed, add, value);
  kel::hash::complete<kel::hash::Sha1>(value, kSeedBytes, digest);
  return 0;
}

// Step 1: U = SHA-1(S) xor SHA-1(S + 1); q = U with bits 159 and 0 set.
int32_t q_from_seed(const uint8_t *seed, vlong **q, vlong **queue) {
  uint8_t u[20], other[20];
  if (int32_t s = sha1_of_seed_plus(seed, 0, u); s != kOk) return s;
  if (int32_t s = sha1_of_seed_plus(seed, 1, other); s != kOk) return s;
  for (int i = 0; i < 20; ++i) u[i] ^= other[i];
  u[0] |= 0x80;
  u[19] |= 0x01;
  kel::bignum::Temp v(queue, false);
  if (int32_t s = VLONG_vlongFromByteString(u, 20, v.fresh(), queue); s != kOk) return s;
  *q = v.release();
  return kOk;
}

// X = W + 2^(L-1) for one counter: V_k = SHA-1(S + offset + k), k = 0..n,
// placed at bit 160k; V_n keeps only its low b bits.
int32_t candidate_x(const uint8_t *seed, uint32_t offset, uint32_t L, uint8_t *x, uint32_t xBytes) {
  const uint32_t n = (L - 1) / 160, b = (L - 1) % 160;
  std::memset(x, 0, xBytes);
  for (uint32_t k = 0; k <= n; ++k) {
    uint8_t v[20];
    if (int32_t s = sha1_of_seed_plus(seed, offset + k, v); s != kOk) return s;
    const uint32_t take = k < n ? 20 : b / 8 + 1;  // bytes holding bits 0..b of V_n
    std::memcpy(x + xBytes - 20 * k - take, v + 20 - take, take);
  }
  const uint32_t top = L - 1;  // clear above bit L - 1 (the part of V_n beyond b), then set it
  uint8_t &topByte = x[xBytes - 1 - top / 8];
  topByte = static_cast<uint8_t>((topByte & ((1u << (top % 8)) - 1)) | (1u << (top % 8)));
  return kOk;
}

// Step 2: the p search over counters 0..lastCounter. *found is 1 with p and
// the counter when a prime turned up, else 0.
int32_t search_p(RandomContext *rng, const uint8_t *seed, const vlong *q, uint32_t L, uint32_t lastCounter,
                 vlong **p, uint32_t *counter, uint32_t *found, vlong **queue) {
  *found = 0;
  const uint32_t n = (L - 1) / 160;
  const uint32_t xBytes = (L - 1) / 8 + 1;
  kel::mem::WipedBlock x(xBytes);
  if (x.data() == nullptr) return kel::ffc::kNoMemory;
  kel::bignum::Temp twoQ(queue, false);
  if (int32_t s = VLONG_makeVlongFromVlong(q, twoQ.fresh(), queue); s != kOk) return s;
  if (int32_t s = VLONG_shlVlong(twoQ.get()); s != kOk) return s;
  uint32_t offset = 2;
  for (uint32_t c = 0; c <= lastCounter && c < kMaxCounter; ++c, offset += n + 1) {
    if (int32_t s = candidate_x(seed, offset, L, x.data(), xBytes); s != kOk) return s;
    kel::bignum::Temp cand(queue, false), rem(queue, false);
    if (int32_t s = VLONG_vlongFromByteString(x.data(), static_cast<int32_t>(xBytes), cand.fresh(), queue); s != kOk)
      return s;
    // p = X - (X mod 2q - 1)
    if (int32_t s = VLONG_operatorModSignedVlongs(cand.get(), twoQ.get(), rem.fresh(), queue); s != kOk) return s;
    if (int32_t s = VLONG_subtractSignedVlongs(cand.get(), rem.get(), queue); s != kOk) return s;
    if (int32_t s = VLONG_increment(cand.get(), queue); s != kOk) return s;
    if (VLONG_bitLength(cand.get()) < L) continue;
    uint32_t prime = 0;
    if (int32_t s = PRIME_doPrimeTests(rng, cand.get(), &prime, queue); s != kOk) return s;
    if (prime) {
      *p = cand.release();
      *counter = c;
      *found = 1;
      return kOk;
    }
  }
  return kOk;
}

// g = h^((p-1)/q) mod p.
int32_t g_from_h(const vlong *p, const vlong *q, const vlong *h, vlong **g, vlong **queue) {
  kel::bignum::Temp pMinus1(queue, false), e(queue, false);
  if (int32_t s = VLONG_makeVlongFromVlong(p, pMinus1.fresh(), queue); s != kOk) return s;
  if (int32_t s = VLONG_decrement(pMinus1.get(), queue); s != kOk) return s;
  if (int32_t s = VLONG_operatorDivideSignedVlongs(pMinus1.get(), q, e.fresh(), queue); s != kOk) return s;
  return VLONG_modexp(h, e.get(), p, g, queue);
}

// Step 3: seed, q, p, then g from h = p - 2, p - 3, ... until g > 1.
int32_t generate_parameters(RandomContext *rng, uint32_t L, DsaKeyObject *key, uint32_t *counterOut,
                            uint8_t *seedOut, vlong **hOut, vlong **queue) {
  uint8_t seed[kSeedBytes];
  kel::bignum::Temp q(queue, false), p(queue, false);
  uint32_t counter = 0, found = 0;
  while (!found) {
    uint32_t prime = 0;
    while (!prime) {
      if (int32_t s = RANDOM_numberGenerator(rng, seed, kSeedBytes); s != kOk) return s;
      if (int32_t s = q_from_seed(seed, q.fresh(), queue); s != kOk) return s;
      if (int32_t s = PRIME_doPrimeTests(rng, q.get(), &prime, queue); s != kOk) return s;
    }
    if (int32_t s = search_p(rng, seed, q.get(), L, kMaxCounter - 1, p.fresh(), &counter, &found, queue); s != kOk)
      return s;
  }
  kel::bignum::Temp h(queue, false), g(queue, false);
  if (int32_t s = VLONG_makeVlongFromVlong(p.get(), h.fresh(), queue); s != kOk) return s;
  if (int32_t s = VLONG_decrement(h.get(), queue); s != kOk) return s;
  do {
    if (int32_t s = VLONG_decrement(h.get(), queue); s != kOk) return s;  // p - 2 first
    if (int32_t s = g_from_h(p.get(), q.get(), h.get(), g.fresh(), queue); s != kOk) return s;
  } while (VLONG_compareUnsigned(g.get(), 1) <= 0);
  if (hOut != nullptr) {
    if (int32_t s = VLONG_makeVlongFromVlong(h.get(), hOut, nullptr); s != kOk) return s;
  }
  key->p = p.release();
  key->q = q.release();
  key->g = g.release();
  if (counterOut != nullptr) *counterOut = counter;
  if (seedOut != nullptr) std::memcpy(seedOut, seed, kSeedBytes);
  return kOk;
}

// L below 512 is 512, above 1024 is 1024, otherwise rounded up to 64 bits.
uint32_t normalise_L(uint32_t L) {
  if (L <= 512) return 512;
  if (L >= 1024) return 1024;
  return (L + 63) / 64 * 64;
}

}  // namespace

// Step 4: x from 40 random bytes reduced mod q (constant time), y = g^x.
extern "C" int32_t DSA_computeKeyPair(RandomContext *rng, DsaKeyObject *key, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (rng == nullptr || key == nullptr || key->p == nullptr || key->q == nullptr || key->g == nullptr) return kNull;
  kel::ffc::release_vlong(&key->x, queue, true);
  kel::ffc::release_vlong(&key->y, queue, false);
  kel::bignum::Temp x(queue, true), y(queue, false);
  {
    kel::mem::WipedBlock material(kel::dsa::kRandomBytes);
    if (material.data() == nullptr) return kel::ffc::kNoMemory;
    if (int32_t s = RANDOM_numberGenerator(rng, material.data(), kel::dsa::kRandomBytes); s != kOk) return s;
    if (int32_t s = kel::dsa::ct_reduce_bytes(material.data(), kel::dsa::kRandomBytes, key->q, x.fresh(), queue);
        s != kOk)
      return s;
  }
  if (int32_t s = kel::ffc::pow_secret_exponent(key->g, x.get(), key->p, y.fresh(), queue); s != kOk) return s;
  key->x = x.release();
  key->y = y.release();
  return kOk;
}

extern "C" int32_t DSA_generateKey(RandomContext *rng, DsaKeyObject *key, uint32_t L, uint32_t *counter,
                                   uint8_t *seed, vlong **h, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (h != nullptr) *h = nullptr;
  if (rng == nullptr || key == nullptr) return kNull;
  kel::dsa::release_all(key, queue);
  int32_t s = generate_parameters(rng, normalise_L(L), key, counter, seed, h, queue);
  if (s == kOk) s = DSA_computeKeyPair(rng, key, queue);
  if (s == kOk) s = DSA_generateKey_FIPS_consistancy_test(rng, key);
  if (s != kOk) {
    kel::dsa::release_all(key, queue);
    if (h != nullptr && *h != nullptr) VLONG_freeVlong(h, nullptr);
  }
  return s;
}

// Step 8: regenerates q and p from the seed with L = p's bit length; the
// first prime must turn up at the given counter and equal p, and h must
// give g.
extern "C" int32_t DSA_verifyKeys(RandomContext *rng, const uint8_t *seed, const DsaKeyObject *key, uint32_t counter,
                                  const vlong *h, uint32_t *valid, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (rng == nullptr || seed == nullptr || key == nullptr || h == nullptr || valid == nullptr) return kNull;
  if (key->p == nullptr || key->q == nullptr) return kNull;
  *valid = 0;
  const uint32_t L = VLONG_bitLength(key->p);
  if (VLONG_bitLength(key->q) != kQBits || L < 512 || counter >= kMaxCounter) return kOk;
  kel::bignum::Temp q(queue, false), p(queue, false), g(queue, false);
  if (int32_t s = q_from_seed(seed, q.fresh(), queue); s != kOk) return s;
  if (VLONG_compareSignedVlongs(q.get(), key->q) != 0) return kOk;
  uint32_t prime = 0;
  if (int32_t s = PRIME_doPrimeTests(rng, q.get(), &prime, queue); s != kOk || !prime) return s;
  uint32_t foundAt = 0, found = 0;
  if (int32_t s = search_p(rng, seed, q.get(), L, counter, p.fresh(), &foundAt, &found, queue); s != kOk) return s;
  if (!found || foundAt != counter || VLONG_compareSignedVlongs(p.get(), key->p) != 0) return kOk;
  kel::bignum::Temp pMinus1(queue, false);
  if (int32_t s = VLONG_makeVlongFromVlong(key->p, pMinus1.fresh(), queue); s != kOk) return s;
  if (int32_t s = VLONG_decrement(pMinus1.get(), queue); s != kOk) return s;
  if (VLONG_compareSignedVlongs(pMinus1.get(), h) <= 0 || key->g == nullptr) return kOk;
  if (int32_t s = g_from_h(key->p, key->q, h, g.fresh(), queue); s != kOk) return s;
  *valid = VLONG_compareUnsigned(g.get(), 1) > 0 && VLONG_compareSignedVlongs(g.get(), key->g) == 0 ? 1 : 0;
  return kOk;
}

// Step 9: sign "CLEAR_TEXT_LINE" and verify it; a failure switches the
// toolkit off.
extern "C" int32_t DSA_generateKey_FIPS_consistancy_test(RandomContext *rng, DsaKeyObject *key) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  static constexpr uint8_t kMessage[] = {'C', 'L', 'E', 'A', 'R', '_', 'T', 'E', 'X', 'T', '_', 'L', 'I', 'N', 'E'};
  kel::bignum::Temp m(nullptr, false), r(nullptr, false), s(nullptr, false);
  if (int32_t st = VLONG_vlongFromByteString(kMessage, sizeof kMessage, m.fresh(), nullptr); st != kOk) return st;
  uint32_t signedOk = 0, verified = 0;
  if (int32_t st = DSA_computeSignature(rng, key, m.get(), &signedOk, r.fresh(), s.fresh(), nullptr); st != kOk)
    return st;
  const int32_t st = DSA_verifySignature(key, m.get(), r.get(), s.get(), &verified, nullptr);
  if (st != kOk && st != ERR_DSA_SIGNATURE_RANGE) return st;
  if (!signedOk || !verified) {
    kel::fips::enter_error_state(ERR_DSA_CONSISTENCY);
    return ERR_DSA_CONSISTENCY;
  }
  DEBUG_CONSOLE_printNewLine(4, "DSA_generateKey_FIPS_consistancy_test: GOOD Signature Verify!");
  return kOk;
}
