// kelctl selftest: the toolkit's power-up self-test, test by test.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kel/debug_console.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

// CPU time of this thread: on a busy machine the wall clock mostly measures
// the other processes.
double NowMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

int32_t RandomKat(void *) { return FIPS_randomKat(); }
int32_t NistRngKat(void *) { return FIPS_nistRngKat(); }

struct Kat {
  const char *name;
  int32_t (*run)(void *);
  int32_t failure;  // the status this test fails with
};
struct Pct {
  const char *name;
  int32_t (*run)(void *, RandomContext *);
  int32_t failure;
};

// The power-up run's order.
constexpr Kat kKats[] = {
    {"FIPS 186 generator", RandomKat, -16509},    {"CTR-DRBG and EC-DRBG", NistRngKat, -16524},
    {"SHA-1", FIPS_sha1Kat, -16511},              {"SHA-224", FIPS_sha224Kat, -16511},
    {"SHA-256", FIPS_sha256Kat, -16511},          {"SHA-384", FIPS_sha384Kat, -16511},
    {"SHA-512", FIPS_sha512Kat, -16511},          {"HMAC-SHA-1", FIPS_hmacSha1Kat, -16514},
    {"HMAC-SHA-224", FIPS_hmacSha224Kat, -16514}, {"HMAC-SHA-256", FIPS_hmacSha256Kat, -16514},
    {"HMAC-SHA-384", FIPS_hmacSha384Kat, -16514}, {"HMAC-SHA-512", FIPS_hmacSha512Kat, -16514},
    {"3DES-168-EDE-CBC", FIPS_tdesCbcKat, -16517}, {"AES-CBC-256", FIPS_aes256CbcKat, -16517},
    {"AES-CTR-256", FIPS_aes256CtrKat, -16517},   {"AES-ECB-256", FIPS_aes256EcbKat, -16517},
    {"AES-CCM", FIPS_aesCcmKat, -16517},          {"AES-CMAC", FIPS_aesCmacKat, -16511},
    {"AES-XTS", FIPS_aesXtsKat, -16517},          {"AES-CFB-128", FIPS_aesCfbKat, -16517},
    {"AES-GCM", FIPS_aesGcmKat, -16517},
};
constexpr Pct kPcts[] = {{"DSA", FIPS_dsaPct, -16501},
                         {"RSA", FIPS_rsaPct, -16519},
                         {"ECDSA P-256", FIPS_ecdsaPct, -16520},
                         {"ECDH P-256, P-384", FIPS_ecdhPct, -16521},
                         {"Diffie-Hellman", FIPS_dhPct, -16522}};

void Row(const char *kind, const char *name, int32_t status, double ms) {
  if (status == 0)
    std::printf("  %-4s %-22s pass   %8.3f ms CPU\n", kind, name, ms);
  else
    std::printf("  %-4s %-22s FAIL   %8.3f ms CPU  (status %d)\n", kind, name, ms, status);
}

}  // namespace

int32_t OpenGate() {
  const uint32_t saved = m_errorClass;
  m_errorClass &= ~4u;  // no console line per key-pair consistency test
  const int32_t status = FIPS_powerupSelfTest();
  m_errorClass = saved;
  return status;
}

void ReportGateFailure(const char *who, int32_t status) {
  std::fprintf(stderr, "%s: the power-up self-test failed with status %d (failing test:", who, status);
  bool any = false;
  for (const auto &k : kKats)
    if (k.failure == status) std::fprintf(stderr, "%s %s", any ? "," : "", k.name), any = true;
  for (const auto &p : kPcts)
    if (p.failure == status) std::fprintf(stderr, "%s %s", any ? "," : "", p.name), any = true;
  std::fprintf(stderr, "%s): the approved algorithms are switched off\n", any ? "" : " an algorithm under test");
}

int RunSelftest(int argc, char **argv) {
  Args a("selftest", "usage: kelctl selftest\nruns the toolkit's power-up self-test and prints each test's verdict and time\n",
         argc, argv);
  while (a.Next()) return a.Fail("unexpected argument '%s'", a.value);
  if (a.exit >= 0) return a.exit;
  const double t0 = NowMs();
  const int32_t status = OpenGate();
  const double total = NowMs() - t0;
  if (status != 0) {
    std::printf("power-up self-test: FAILED with status %d in %.3f ms of CPU time; the approved algorithms are switched off\n",
                status, total);
    ReportGateFailure("kelctl selftest", status);
    return kExitFailed;
  }
  // The gate is open: time each test on its own, in the power-up order.
  m_errorClass &= ~4u;  // no console line per key-pair consistency test
  std::printf("known-answer tests\n");
  int32_t first = 0;
  for (const auto &k : kKats) {
    const double t = NowMs();
    const int32_t st = k.run(nullptr);
    Row("KAT", k.name, st, NowMs() - t);
    if (first == 0) first = st;
  }
  std::printf("pairwise-consistency tests\n");
  RandomContext *rng = nullptr;
  if (first == 0 && (first = RANDOM_acquireContext(&rng)) == 0) {
    for (const auto &p : kPcts) {
      const double t = NowMs();
      const int32_t st = p.run(nullptr, rng);
      Row("PCT", p.name, st, NowMs() - t);
      if (first == 0) first = st;
    }
    RANDOM_releaseContext(&rng);
  }
  std::printf("power-up self-test: passed (status %d) in %.3f ms of CPU time\n", FIPS_powerupSelfTestStatus(), total);
  return first == 0 && FIPS_powerupSelfTestStatus() == 0 ? kExitOk : kExitFailed;
}

}  // namespace kelctl
