// DSA-1024 signing and verification and Diffie-Hellman in group 14 (2048-bit
// MODP, 384-bit private value) beside OpenSSL on the same key, the same
// group and the same private value. Operations per second, the median of
// several runs; the ratio is ours / OpenSSL, so above 1 means ours is
// faster.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/dh.h>
#include <openssl/dsa.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "kel/dh.h"
#include "kel/dsa.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vlong.h"

namespace {

constexpr int kRuns = 5;
constexpr double kRunSeconds = 0.25;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Median over kRuns of operations per second; each run lasts about
// kRunSeconds. A failing operation ends the program.
double OpsPerSecond(const std::function<bool()> &op) {
  std::vector<double> rates;
  for (int run = 0; run < kRuns; ++run) {
    int n = 0;
    const double t0 = Now();
    double t = t0;
    while (t - t0 < kRunSeconds) {
      if (!op()) {
        std::fprintf(stderr, "operation failed\n");
        std::exit(1);
      }
      ++n;
      t = Now();
    }
    rates.push_back(n / (t - t0));
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

BIGNUM *ToBn(const vlong *v) {
  int32_t n = 0;
  VLONG_byteStringFromVlong(v, nullptr, &n);
  std::vector<uint8_t> b(static_cast<size_t>(n) + 1);
  VLONG_byteStringFromVlong(v, b.data(), &n);
  return BN_bin2bn(b.data(), n, nullptr);
}

void Report(const char *name, double ours, double theirs) {
  std::printf("%-28s %12.1f %12.1f %8.2f\n", name, ours, theirs, ours / theirs);
}

}  // namespace

int main() {
  gFIPS_powerupStatus = 0;  // as after a passed self-test
  RandomContext *rng = nullptr;
  DsaKeyObject *key = nullptr;
  if (RANDOM_acquireContext(&rng) != 0 || DSA_createKey(&key) != 0 ||
      DSA_generateKey(rng, key, 1024, nullptr, nullptr, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "no DSA key\n");
    return 1;
  }
  std::printf("%-28s %12s %12s %8s\n", "operation (ops/s)", "ours", "OpenSSL", "ratio");

  // DSA-1024: the same key on both sides, a 20-byte digest as representative.
  const uint8_t digest[20] = {0x8a, 0x31, 0x5f, 0x02, 0xc4, 0x7d, 0x9e, 0x66, 0x13, 0xb0,
                              0x2c, 0xd8, 0x45, 0xf1, 0x7a, 0x09, 0x3e, 0xe4, 0x51, 0x97};
  vlong *m = nullptr, *r = nullptr, *s = nullptr, *queue = nullptr;
  VLONG_vlongFromByteString(digest, 20, &m, nullptr);
  DSA *ossl = DSA_new();
  DSA_set0_pqg(ossl, ToBn(key->p), ToBn(key->q), ToBn(key->g));
  DSA_set0_key(ossl, ToBn(key->y), ToBn(key->x));
  const double signOurs = OpsPerSecond([&] {
    VLONG_freeVlong(&r, &queue);
    VLONG_freeVlong(&s, &queue);
    return DSA_computeSignature(rng, key, m, nullptr, &r, &s, &queue) == 0;
  });
  DSA_SIG *sig = nullptr;
  const double signTheirs = OpsPerSecond([&] {
    DSA_SIG_free(sig);
    sig = DSA_do_sign(digest, 20, ossl);
    return sig != nullptr;
  });
  Report("dsa-1024 sign", signOurs, signTheirs);
  const double verifyOurs = OpsPerSecond([&] {
    uint32_t valid = 0;
    return DSA_verifySignature(key, m, r, s, &valid, &queue) == 0 && valid == 1;
  });
  const double verifyTheirs = OpsPerSecond([&] { return DSA_do_verify(digest, 20, sig, ossl) == 1; });
  Report("dsa-1024 verify", verifyOurs, verifyTheirs);
  DSA_SIG_free(sig);
  DSA_free(ossl);

  // Diffie-Hellman group 14: the shared-secret computation with the same
  // 384-bit private value and peer value.
  DhContext *a = nullptr, *b = nullptr;
  if (DH_allocateServer(rng, &a, 14) != 0 || DH_allocateServer(rng, &b, 14) != 0 ||
      VLONG_makeVlongFromVlong(b->ownPublicValue, &a->peerPublicValue, nullptr) != 0) {
    std::fprintf(stderr, "no Diffie-Hellman contexts\n");
    return 1;
  }
  DH *dh = DH_new();
  BIGNUM *two = BN_new();
  BN_set_word(two, 2);
  DH_set0_pqg(dh, BN_get_rfc3526_prime_2048(nullptr), nullptr, two);
  DH_set0_key(dh, ToBn(a->ownPublicValue), ToBn(a->privateValue));
  BIGNUM *peer = ToBn(b->ownPublicValue);
  std::vector<uint8_t> secret(static_cast<size_t>(DH_size(dh)));
  const double dhOurs = OpsPerSecond([&] { return DH_computeKeyExchange(a, &queue) == 0; });
  const double dhTheirs = OpsPerSecond([&] { return DH_compute_key(secret.data(), peer, dh) > 0; });
  Report("dh group 14, 384-bit x", dhOurs, dhTheirs);
  BN_free(peer);
  DH_free(dh);

  DH_freeDhContext(&a, nullptr);
  DH_freeDhContext(&b, nullptr);
  VLONG_freeVlong(&r, nullptr);
  VLONG_freeVlong(&s, nullptr);
  VLONG_freeVlong(&m, nullptr);
  VLONG_freeVlongQueue(&queue);
  DSA_freeKey(&key, nullptr);
  RANDOM_releaseContext(&rng);
  return 0;
}
