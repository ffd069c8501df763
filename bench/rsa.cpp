// RSA beside OpenSSL in the same process: operations per second of PKCS #1
// v1.5 signing, verification and decryption for 2048- and 4096-bit keys (the
// same key on both sides), and of key generation; the ratio is ours /
// OpenSSL, median of alternating runs. kelctl speed shows the same rows.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/core_names.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "kel/debug_console.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/rsa.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// Calls per second of fn for at least `seconds` (and at least `minCalls`).
double Rate(const std::function<void()> &fn, double seconds, int minCalls) {
  int calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    fn();
    ++calls;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds || calls < minCalls);
  return calls / elapsed;
}

void Row(const char *name, const std::function<void()> &ours, const std::function<void()> &theirs, int runs,
         double seconds, int minCalls = 1) {
  std::vector<double> us, them, ratio;
  for (int r = 0; r < runs; ++r) {
    const double a = Rate(ours, seconds, minCalls), b = Rate(theirs, seconds, minCalls);
    us.push_back(a);
    them.push_back(b);
    ratio.push_back(a / b);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("%-22s %10.1f/s %10.1f/s %7.2fx\n", name, median(us), median(them), median(ratio));
  std::fflush(stdout);
}

Bytes Param(EVP_PKEY *pkey, const char *name) {
  BIGNUM *bn = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &bn);
  Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, b.data());
  BN_free(bn);
  return b;
}

int32_t Rng(void *, uint32_t n, uint8_t *out) {
  for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 131 + 7);
  return 0;
}

void Bench(int bits, int runs) {
  EVP_PKEY *pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
  const Bytes n = Param(pkey, OSSL_PKEY_PARAM_RSA_N), p = Param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1),
              q = Param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2);
  RsaKeyObject *key = nullptr;
  vlong *queue = nullptr;
  RSA_createKey(&key);
  RSA_setAllKeyParameters(key, 65537, n.data(), static_cast<uint32_t>(n.size()), p.data(),
                          static_cast<uint32_t>(p.size()), q.data(), static_cast<uint32_t>(q.size()), &queue);
  const size_t k = n.size();
  Bytes digest(32, 0x3c), sig(k), out(k), ct(k);
  // DigestInfo for SHA-256, as OpenSSL builds it for EVP_PKEY_sign.
  static const uint8_t kPrefix[19] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  Bytes info(sizeof kPrefix + 32, 0x3c);
  std::copy(kPrefix, kPrefix + sizeof kPrefix, info.begin());
  EVP_PKEY_CTX *sctx = EVP_PKEY_CTX_new(pkey, nullptr), *vctx = EVP_PKEY_CTX_new(pkey, nullptr),
               *dctx = EVP_PKEY_CTX_new(pkey, nullptr);
  EVP_PKEY_sign_init(sctx);
  EVP_PKEY_CTX_set_rsa_padding(sctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(sctx, EVP_sha256());
  EVP_PKEY_verify_init(vctx);
  EVP_PKEY_CTX_set_rsa_padding(vctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(vctx, EVP_sha256());
  EVP_PKEY_decrypt_init(dctx);
  EVP_PKEY_CTX_set_rsa_padding(dctx, RSA_PKCS1_PADDING);
  RSA_signMessage(key, info.data(), static_cast<uint32_t>(info.size()), sig.data(), &queue);
  RSA_encrypt(key, digest.data(), 32, ct.data(), Rng, nullptr, &queue);
  char name[64];
  std::snprintf(name, sizeof name, "RSA-%d sign", bits);
  Row(name, [&] { RSA_signMessage(key, info.data(), static_cast<uint32_t>(info.size()), sig.data(), &queue); },
      [&] {
        size_t len = k;
        EVP_PKEY_sign(sctx, out.data(), &len, digest.data(), digest.size());
      },
      runs, 0.3);
  std::snprintf(name, sizeof name, "RSA-%d verify", bits);
  Row(name, [&] {
        uint32_t len = 0;
        RSA_verifySignature(key, sig.data(), out.data(), &len, &queue);
      },
      [&] { EVP_PKEY_verify(vctx, sig.data(), sig.size(), digest.data(), digest.size()); }, runs, 0.2);
  std::snprintf(name, sizeof name, "RSA-%d decrypt blinded", bits);
  Row(name, [&] {
        uint32_t len = 0;
        RSA_decrypt(key, ct.data(), out.data(), &len, Rng, nullptr, &queue);
      },
      [&] {
        size_t len = k;
        EVP_PKEY_decrypt(dctx, out.data(), &len, ct.data(), ct.size());
      },
      runs, 0.3);
  EVP_PKEY_CTX_free(sctx);
  EVP_PKEY_CTX_free(vctx);
  EVP_PKEY_CTX_free(dctx);
  EVP_PKEY_free(pkey);
  RSA_freeKey(&key, &queue);
  VLONG_freeVlongQueue(&queue);
}

void BenchKeygen(int bits, int runs) {
  RandomContext *ctx = nullptr;
  RANDOM_acquireContext(&ctx);
  vlong *queue = nullptr;
  char name[64];
  std::snprintf(name, sizeof name, "RSA-%d keygen", bits);
  Row(name, [&] {
        RsaKeyObject *key = nullptr;
        RSA_createKey(&key);
        RSA_generateKey(ctx, key, static_cast<uint32_t>(bits), &queue);
        RSA_freeKey(&key, &queue);
      },
      [&] { EVP_PKEY_free(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits))); }, runs, 2.0, 5);
  VLONG_freeVlongQueue(&queue);
  RANDOM_releaseContext(&ctx);
}

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  gFIPS_powerupStatus = 0;  // a benchmark, not a FIPS application
  m_errorClass &= ~4u;      // no consistency-test line per generated key
  std::printf("%-22s %12s %12s %8s\n", "operation", "ours", "OpenSSL", "ratio");
  Bench(2048, runs);
  Bench(4096, runs);
  BenchKeygen(2048, runs);
  return 0;
}
