// The power-up self-test, its tests and runners, as a program meets them.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <string>
#include <vector>

#include "crypto/common/alloc.h"
#include "crypto/fips/internal.h"
#include "kel/aes.h"
#include "kel/cipher.h"
#include "kel/des.h"
#include "kel/ec.h"
#include "kel/fips.h"
#include "kel/hash.h"

namespace {

using Kat = int32_t (*)(void *);
struct NamedKat {
  const char *name;
  Kat run;
};
// In the order of the power-up run (the two generator tests take no handle).
const NamedKat kKats[] = {
    {"FIPS186", [](void *) { return FIPS_randomKat(); }},
    {"DRBG", [](void *) { return FIPS_nistRngKat(); }},
    {"SHA1", FIPS_sha1Kat}, {"SHA224", FIPS_sha224Kat}, {"SHA256", FIPS_sha256Kat},
    {"SHA384", FIPS_sha384Kat}, {"SHA512", FIPS_sha512Kat}, {"HMAC1", FIPS_hmacSha1Kat},
    {"HMAC224", FIPS_hmacSha224Kat}, {"HMAC256", FIPS_hmacSha256Kat}, {"HMAC384", FIPS_hmacSha384Kat},
    {"HMAC512", FIPS_hmacSha512Kat}, {"TDES", FIPS_tdesCbcKat}, {"CBC", FIPS_aes256CbcKat},
    {"CTR", FIPS_aes256CtrKat}, {"ECB", FIPS_aes256EcbKat}, {"CCM", FIPS_aesCcmKat},
    {"CMAC", FIPS_aesCmacKat}, {"XTS", FIPS_aesXtsKat}, {"CFB", FIPS_aesCfbKat},
    {"GCM", FIPS_aesGcmKat},
};
using Pct = int32_t (*)(void *, RandomContext *);
const std::pair<const char *, Pct> kPcts[] = {
    {"DSA", FIPS_dsaPct}, {"RSA", FIPS_rsaPct}, {"ECDSA", FIPS_ecdsaPct}, {"ECDH", FIPS_ecdhPct}, {"DH", FIPS_dhPct}};

const HashSuite *Suite(int32_t id) {
  const HashSuite *s = nullptr;
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(id, &s), 0);
  return s;
}

class SelfTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    kel::mem::fail_after(-1);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
};

TEST_F(SelfTest, EveryTestPassesOnItsOwn) {
  for (const auto &k : kKats) {
    EXPECT_EQ(k.run(nullptr), 0) << k.name;
    EXPECT_EQ(gFIPS_powerupStatus, 0) << k.name;
  }
  RandomContext *rng = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&rng), 0);
  for (const auto &[name, pct] : kPcts) EXPECT_EQ(pct(nullptr, rng), 0) << name;
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  RANDOM_releaseContext(&rng);
}

TEST_F(SelfTest, PowerupMovesTheStatusAndAFailureClosesTheGateUntilTheNextRun) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  uint8_t digest[32] = {};
  EXPECT_EQ(SHA256_completeDigest(digest, 1, digest), -16508);
  EXPECT_EQ(FIPS_powerupSelfTest(), 0);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), 0);
  EXPECT_EQ(SHA256_completeDigest(digest, 1, digest), 0);
  // A runner told to fail puts the toolkit into the error state...
  EXPECT_EQ(FIPS_hashKat(nullptr, "SHA-256", Suite(11), digest, 32, 1), ERR_FIPS_HASH_KAT);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), ERR_FIPS_HASH_KAT);
  EXPECT_EQ(SHA256_completeDigest(digest, 1, digest), ERR_FIPS_HASH_KAT);
  RandomContext *rng = nullptr;
  EXPECT_EQ(RANDOM_acquireContext(&rng), ERR_FIPS_HASH_KAT);
  // ...and only a new power-up run reopens it.
  EXPECT_EQ(FIPS_powerupSelfTest(), 0);
  EXPECT_EQ(SHA256_completeDigest(digest, 1, digest), 0);
}

TEST_F(SelfTest, RunnersCheckTheirArgumentsAndHonourTheForceFailFlag) {
  uint8_t expected[64] = {};
  const uint8_t zeros[32] = {};
  unsigned int n = 0;
  ASSERT_EQ(EVP_Digest(zeros, 32, expected, &n, EVP_sha256(), nullptr), 1);  // SHA-256 of 32 zero bytes
  const CipherSuite *cbc = &CRYPTO_AESSuite;
  const HashSuite *sha256 = Suite(11), *sha1 = Suite(5);
  struct Case {
    const char *what;
    std::function<int32_t()> run;
    int32_t want;
  } cases[] = {
      {"hash ok", [&] { return FIPS_hashKat(nullptr, "SHA-256", sha256, expected, 32, 0); }, 0},
      {"hash null suite", [&] { return FIPS_hashKat(nullptr, "x", nullptr, expected, 32, 0); }, -16510},
      {"hash length", [&] { return FIPS_hashKat(nullptr, "x", sha256, expected, 20, 0); }, -16512},
      {"hash forced", [&] { return FIPS_hashKat(nullptr, "x", sha256, expected, 32, 1); }, -16511},
      {"hmac null suite", [&] { return FIPS_hmacHashKat(nullptr, "x", nullptr, expected, 32, 0); }, -16513},
      {"hmac length", [&] { return FIPS_hmacHashKat(nullptr, "x", sha1, expected, 32, 0); }, -16515},
      {"hmac mismatch", [&] { return FIPS_hmacHashKat(nullptr, "x", sha256, expected, 32, 0); }, -16514},
      {"sym null suite", [&] { return FIPS_symKat(nullptr, "x", nullptr, 32, 1, expected, 32, 0); }, -16516},
      {"sym length", [&] { return FIPS_symKat(nullptr, "x", cbc, 32, 1, expected, 20, 0); }, -16518},
      {"sym bad key", [&] { return FIPS_symKat(nullptr, "x", cbc, 15, 1, expected, 32, 0); }, -16516},
      {"sym mismatch", [&] { return FIPS_symKat(nullptr, "x", cbc, 32, 1, expected, 32, 0); }, -16517},
  };
  for (const auto &c : cases) {
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(c.run(), c.want) << c.what;
    EXPECT_EQ(gFIPS_powerupStatus, c.want) << c.what << ": a failure is written to the status";
  }
}

TEST_F(SelfTest, GcmFailureIsLeftToThePowerupRunOthersWriteTheirOwn) {
  // With the gate closed the GCM context cannot be made: the test fails, but
  // only the power-up run records it. XTS records its own failure.
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(FIPS_aesGcmKat(nullptr), ERR_FIPS_SYM_KAT);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS_SELFTEST_NOT_RUN);
  EXPECT_EQ(FIPS_aesXtsKat(nullptr), ERR_FIPS_SYM_KAT);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS_SYM_KAT);
}

TEST_F(SelfTest, EcdhCheckForceFailAndPctStatuses) {
  RandomContext *rng = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&rng), 0);
  EXPECT_EQ(kel::fips::ecdh_check(EC_P256, rng, 0), 0);
  EXPECT_EQ(kel::fips::ecdh_check(EC_P384, rng, 1), ERR_FIPS_ECDH_PCT);
  EXPECT_EQ(gFIPS_powerupStatus, 0) << "the check leaves the status to its test";
  // A test given no generator fails with the algorithm's status and records it.
  EXPECT_LT(FIPS_ecdsaPct(nullptr, nullptr), 0);
  EXPECT_NE(gFIPS_powerupStatus, 0);
  gFIPS_powerupStatus = 0;  // the release is gated too
  EXPECT_EQ(RANDOM_releaseContext(&rng), 0);
}

// Every allocation inside every test may fail: the test then fails with a
// status (no crash, and the sanitizer build sees no leak), and the same
// test passes once the allocator works again.
TEST_F(SelfTest, AllocationFailureInsideEachTest) {
  RandomContext *rng = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&rng), 0);
  std::vector<std::pair<std::string, std::function<int32_t()>>> all;
  for (const auto &k : kKats) all.emplace_back(k.name, [&k] { return k.run(nullptr); });
  for (const auto &[name, pct] : kPcts) all.emplace_back(name, [pct, rng] { return pct(nullptr, rng); });
  for (const auto &[name, run] : all) {
    int noMemory = 0;
    for (int64_t k = 0; k < 400; ++k) {
      gFIPS_powerupStatus = 0;
      kel::mem::fail_after(k);
      const int32_t st = run();
      kel::mem::fail_after(-1);
      if (st == 0) break;
      noMemory += st == -6101;
      ASSERT_LT(st, 0) << name << " after " << k << " allocations";
    }
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(run(), 0) << name;
    if (name == "FIPS186" || name == "RSA" || name == "HMAC256") {
      EXPECT_GT(noMemory, 0) << name << ": an allocation failure is reported as such";
    }
  }
  RANDOM_releaseContext(&rng);
}

}  // namespace
