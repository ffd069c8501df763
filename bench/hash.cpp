// The public digest and HMAC entries beside OpenSSL in the same process run.
// Digests: one-call on 16 KiB against EVP_Digest (hardware and portable
// paths). HMAC-SHA-256: a keyed context reused for 64-byte messages
// (HmacReset, HmacUpdate, HmacFinal) against OpenSSL's reused contexts, both
// EVP_MAC and the older HMAC_CTX; the faster of the two is the yardstick.
// Also one call with a new key per message (HmacQuickEx against HMAC()).
// Prints MB/s and our/OpenSSL ratio, each the median of several runs.
// usage: bench_hash [runs]
#define OPENSSL_SUPPRESS_DEPRECATED 1  // HMAC_CTX, the second yardstick
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "crypto/common/cpu.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/hmac.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Seconds of the fastest of `passes` passes of a and of b, taken in turn: on
// a shared machine the fastest passes measured side by side are the ones
// that speak about the code.
template <class A, class B>
std::pair<double, double> Best(A a, B b, int passes) {
  double ba = 1e9, bb = 1e9;
  for (int i = 0; i < passes; ++i) {
    const double t0 = Now();
    a();
    const double t1 = Now();
    b();
    const double t2 = Now();
    ba = std::min(ba, t1 - t0);
    bb = std::min(bb, t2 - t1);
  }
  return {ba, bb};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void PrintRow(const char *name, const std::vector<double> &ours, const std::vector<double> &theirs,
              const std::vector<double> &ratios) {
  std::printf("%-22s %10.0f %12.0f %7.2fx\n", name, Median(ours), Median(theirs), Median(ratios));
}

constexpr size_t kDigestBytes = 16384;
constexpr size_t kHmacMessages = 512;  // per pass, 64 bytes each

struct DigestRow {
  const char *name;
  int32_t (*oneCall)(const uint8_t *, uint32_t, uint8_t *);
  const EVP_MD *(*md)();
};

const DigestRow kDigests[] = {
    {"MD5", MD5_completeDigest, EVP_md5},
    {"SHA-1", SHA1_completeDigest, EVP_sha1},
    {"SHA-256", SHA256_completeDigest, EVP_sha256},
    {"SHA-512", SHA512_completeDigest, EVP_sha512},
};

void BenchDigests(const std::vector<uint8_t> &data, int runs, bool portable) {
  kel::cpu::restrict_to(portable ? 0u : ~0u);
  for (const DigestRow &row : kDigests) {
    std::vector<double> ours, theirs, ratios;
    uint8_t out[64], md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    for (int r = 0; r < runs; ++r) {
      const auto [o, t] = Best([&] { row.oneCall(data.data(), kDigestBytes, out); },
                               [&] { EVP_Digest(data.data(), kDigestBytes, md, &len, row.md(), nullptr); }, 48);
      ours.push_back(kDigestBytes / o / 1e6);
      theirs.push_back(kDigestBytes / t / 1e6);
      ratios.push_back(t / o);
    }
    char name[40];
    std::snprintf(name, sizeof name, "%s%s", row.name, portable ? " (portable)" : "");
    PrintRow(name, ours, theirs, ratios);
  }
  kel::cpu::restrict_to(~0u);
}

void BenchHmac(const std::vector<uint8_t> &data, int runs) {
  const HashSuite *suite = nullptr;
  CRYPTO_getRSAHashAlgo(11, &suite);
  const uint8_t *key = data.data() + 1000;
  HmacContext *ours = nullptr;
  HmacCreate(&ours, suite);
  HmacKey(ours, key, 32);

  EVP_MAC *mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX *mctx = EVP_MAC_CTX_new(mac);
  char digest[] = "SHA256";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
  EVP_MAC_init(mctx, key, 32, params);
  HMAC_CTX *hctx = HMAC_CTX_new();
  HMAC_Init_ex(hctx, key, 32, EVP_sha256(), nullptr);

  uint8_t out[64];
  auto kel_pass = [&] {
    for (size_t i = 0; i < kHmacMessages; ++i) {
      HmacReset(ours);
      HmacUpdate(ours, data.data() + 64 * i, 64);
      HmacFinal(ours, out);
    }
  };
  auto evp_mac_pass = [&] {
    for (size_t i = 0; i < kHmacMessages; ++i) {
      size_t n = 0;
      EVP_MAC_init(mctx, nullptr, 0, nullptr);  // same key
      EVP_MAC_update(mctx, data.data() + 64 * i, 64);
      EVP_MAC_final(mctx, out, &n, sizeof out);
    }
  };
  auto hmac_ctx_pass = [&] {
    for (size_t i = 0; i < kHmacMessages; ++i) {
      unsigned n = 0;
      HMAC_Init_ex(hctx, nullptr, 0, nullptr, nullptr);  // same key
      HMAC_Update(hctx, data.data() + 64 * i, 64);
      HMAC_Final(hctx, out, &n);
    }
  };
  std::vector<double> o1, t1, r1, o2, t2, r2;
  const double bytes = 64.0 * kHmacMessages;
  for (int r = 0; r < runs; ++r) {
    const auto [a, b] = Best(kel_pass, evp_mac_pass, 24);
    const auto [c, d] = Best(kel_pass, hmac_ctx_pass, 24);
    o1.push_back(bytes / a / 1e6), t1.push_back(bytes / b / 1e6), r1.push_back(b / a);
    o2.push_back(bytes / c / 1e6), t2.push_back(bytes / d / 1e6), r2.push_back(d / c);
  }
  PrintRow("HMAC-SHA-256 64 B/EVP_MAC", o1, t1, r1);
  PrintRow("HMAC-SHA-256 64 B/HMAC_CTX", o2, t2, r2);
  std::printf("HMAC-SHA-256 64 B: %.2fx the faster OpenSSL form (%.0f ns per message here)\n",
              std::min(Median(r1), Median(r2)), 1e9 * 64 / (Median(o1) * 1e6));

  // One call per message with a key of its own (32 bytes taken at a
  // different offset each time): HmacQuickEx against OpenSSL's one-call HMAC().
  auto kel_quick = [&] {
    for (size_t i = 0; i < kHmacMessages; ++i)
      HmacQuickEx(data.data() + i, 32, data.data() + 64 * i, 64, nullptr, 0, out, suite);
  };
  auto ossl_quick = [&] {
    for (size_t i = 0; i < kHmacMessages; ++i) {
      unsigned n = 0;
      HMAC(EVP_sha256(), data.data() + i, 32, data.data() + 64 * i, 64, out, &n);
    }
  };
  std::vector<double> o3, t3, r3;
  for (int r = 0; r < runs; ++r) {
    const auto [a, b] = Best(kel_quick, ossl_quick, 12);
    o3.push_back(bytes / a / 1e6), t3.push_back(bytes / b / 1e6), r3.push_back(b / a);
  }
  PrintRow("HMAC-SHA-256 64 B/new key", o3, t3, r3);

  HMAC_CTX_free(hctx);
  EVP_MAC_CTX_free(mctx);
  EVP_MAC_free(mac);
  HmacDelete(&ours);
}

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  gFIPS_powerupStatus = 0;  // a benchmark, not a product: the self-test is not part of it
  std::vector<uint8_t> data(std::max(kDigestBytes, 64 * kHmacMessages));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);

  std::printf("%-22s %10s %12s %8s   (median of %d runs)\n", "", "ours MB/s", "OpenSSL MB/s", "ratio", runs);
  BenchDigests(data, runs, false);
  BenchDigests(data, runs, true);
  BenchHmac(data, runs);
  return 0;
}
