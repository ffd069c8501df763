// The power-up self-test, its tests and runners, as a program meets them.
#include <functional>

#include "crypto/fips/internal.h"
#include "kel/aes.h"
#include "kel/cipher.h"
#include "kel/hash.h"
#include "tests/crypto/crypto_test_util.h"

namespace {

using Step = std::function<int32_t()>;

// The blocks the run takes (their sizes in order make a trace of it), and
// those it releases unwiped or keeps.
using Watch = kel::test::ReleaseWatch;
int32_t Observed(const Step &run) {
  Watch watch;
  return run();
}

const HashSuite *Suite(int32_t id) {
  const HashSuite *s = nullptr;
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(id, &s), 0);
  return s;
}

const uint8_t *Stored(const std::string &name) {
  for (const auto &v : kel::fips::stored_values())
    if (name == v.name) return v.located + v.offset;
  ADD_FAILURE() << name;
  return nullptr;
}

class SelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    ASSERT_EQ(RANDOM_acquireContext(&rng_), 0);
    using Kat = int32_t (*)(void *);
    using Pct = int32_t (*)(void *, RandomContext *);
    // In the power-up run's order (the two generator tests take no handle).
    const std::pair<const char *, Kat> kats[] = {
        {"FIPS186", [](void *) { return FIPS_randomKat(); }}, {"DRBG", [](void *) { return FIPS_nistRngKat(); }},
        {"SHA1", FIPS_sha1Kat}, {"SHA224", FIPS_sha224Kat}, {"SHA256", FIPS_sha256Kat}, {"SHA384", FIPS_sha384Kat},
        {"SHA512", FIPS_sha512Kat}, {"HMAC1", FIPS_hmacSha1Kat}, {"HMAC224", FIPS_hmacSha224Kat},
        {"HMAC256", FIPS_hmacSha256Kat}, {"HMAC384", FIPS_hmacSha384Kat}, {"HMAC512", FIPS_hmacSha512Kat},
        {"TDES", FIPS_tdesCbcKat}, {"CBC", FIPS_aes256CbcKat}, {"CTR", FIPS_aes256CtrKat}, {"ECB", FIPS_aes256EcbKat},
        {"CCM", FIPS_aesCcmKat}, {"CMAC", FIPS_aesCmacKat}, {"XTS", FIPS_aesXtsKat}, {"CFB", FIPS_aesCfbKat},
        {"GCM", FIPS_aesGcmKat}};
    const std::pair<const char *, Pct> pcts[] = {
        {"DSA", FIPS_dsaPct}, {"RSA", FIPS_rsaPct}, {"ECDSA", FIPS_ecdsaPct},
        {"ECDH", FIPS_ecdhPct}, {"DH", FIPS_dhPct}};
    for (auto [name, kat] : kats) all_.emplace_back(name, [kat] { return kat(nullptr); });
    for (auto [name, pct] : pcts) all_.emplace_back(name, [pct, this] { return pct(nullptr, rng_); });
  }
  void TearDown() override {
    kel::mem::fail_after(-1);
    gFIPS_powerupStatus = 0;  // the release is gated too
    RANDOM_releaseContext(&rng_);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
  RandomContext *rng_ = nullptr;
  std::vector<std::pair<std::string, Step>> all_;  // 21 KATs, then 5 PCTs
};

TEST(PowerupStatus, NotTestedThenPassedThenTheFirstFailureUntilANewRun) {
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), -16508) << "at load";
  uint8_t digest[32] = {};
  EXPECT_EQ(FIPS_powerupSelfTest(), 0);
  // A runner told to fail puts the toolkit into the error state; only a new
  // power-up run reopens it.
  EXPECT_EQ(FIPS_hashKat(nullptr, "SHA-256", Suite(11), digest, 32, 1), ERR_FIPS_HASH_KAT);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), ERR_FIPS_HASH_KAT);
  EXPECT_EQ(FIPS_powerupSelfTest(), 0);
  EXPECT_EQ(SHA256_completeDigest(digest, 1, digest), 0);
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
}

TEST_F(SelfTest, RunnersCheckTheirArgumentsAndHonourTheForceFailFlag) {
  const uint8_t *sha = Stored("SHA-256"), *mac = Stored("HMAC-SHA-256"), *cbc = Stored("AES-CBC-256-ENC");
  const CipherSuite *aes = &CRYPTO_AESSuite, ecb = {16, CreateAESECBCtx, DeleteAESECBCtx, DoAESECB};
  const HashSuite *sha256 = Suite(11), *sha1 = Suite(5);
  const std::pair<Step, int32_t> cases[] = {
      {[&] { return FIPS_hashKat(nullptr, "x", nullptr, sha, 32, 0); }, -16510},
      {[&] { return FIPS_hashKat(nullptr, "x", sha256, sha, 20, 0); }, -16512},
      {[&] { return FIPS_hashKat(nullptr, "x", sha256, nullptr, 32, 0); }, -16511},
      {[&] { return FIPS_hmacHashKat(nullptr, "x", sha256, mac, 32, 1); }, -16514},
      {[&] { return FIPS_hmacHashKat(nullptr, "x", nullptr, mac, 32, 0); }, -16513},
      {[&] { return FIPS_hmacHashKat(nullptr, "x", sha1, mac, 32, 0); }, -16515},
      {[&] { return FIPS_hmacHashKat(nullptr, "x", sha256, nullptr, 32, 0); }, -16514},
      {[&] { return FIPS_symKat(nullptr, "x", aes, 32, 1, cbc, 32, 1); }, -16517},
      {[&] { return FIPS_symKat(nullptr, "x", nullptr, 32, 1, cbc, 32, 0); }, -16516},
      {[&] { return FIPS_symKat(nullptr, "x", aes, 32, 1, cbc, 20, 0); }, -16518},
      {[&] { return FIPS_symKat(nullptr, "x", aes, 15, 1, cbc, 32, 0); }, -16516},  // no context
      {[&] { return FIPS_symKat(nullptr, "x", &ecb, 32, 1, cbc, 32, 0); }, -16516},  // no stored data for it
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(cases[i].first(), cases[i].second) << "case " << i;
    EXPECT_EQ(gFIPS_powerupStatus, cases[i].second) << "case " << i << ": a failure is written to the status";
  }
}

TEST_F(SelfTest, GcmLeavesItsFailureToThePowerupRunEcdhCheckHonoursTheForceFailFlag) {
  // With the gate closed the GCM context cannot be made: the test fails, but
  // only the power-up run records it. XTS records its own failure.
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(FIPS_aesGcmKat(nullptr), ERR_FIPS_SYM_KAT);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS_SELFTEST_NOT_RUN);
  EXPECT_EQ(FIPS_aesXtsKat(nullptr), ERR_FIPS_SYM_KAT);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS_SYM_KAT);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(kel::fips::ecdh_check(EC_P256, rng_, 0), 0);
  EXPECT_EQ(kel::fips::ecdh_check(EC_P256, rng_, 1), ERR_FIPS_ECDH_PCT);
  EXPECT_EQ(gFIPS_powerupStatus, 0) << "the check leaves the status to its test";
  // A test given no generator fails with the algorithm's status and records it.
  EXPECT_LT(FIPS_ecdsaPct(nullptr, nullptr), 0);
  EXPECT_NE(gFIPS_powerupStatus, 0);
}

// Every allocation inside every test may fail: the test then fails with a status and releases what
// it took. Once the allocator works it passes, leaves the status alone and returns every block it
// took, wiped; the run of all known-answer tests makes these tests, in this order (the sizes they
// allocate, one after the other; the pairwise-consistency tests draw random numbers, so their
// traces vary).
TEST_F(SelfTest, EachPassesAloneFailsCleanlyWithoutMemoryAndThePowerupRunKeepsTheOrder) {
  std::vector<uint32_t> kats;
  for (size_t i = 0; i < all_.size(); ++i) {
    const auto &[name, run] = all_[i];
    int noMemory = 0;
    int32_t st = -1;
    for (int64_t k = 0; k < 400 && st != 0; ++k) {
      gFIPS_powerupStatus = 0;
      kel::mem::fail_after(k);
      st = Observed(run);
      kel::mem::fail_after(-1);
      EXPECT_TRUE(Watch::live.empty()) << name << " leaks after " << k << " allocations";
      noMemory += st == -6101;
      ASSERT_LE(st, 0) << name << " after " << k << " allocations";
    }
    EXPECT_EQ(st, 0) << name;
    EXPECT_EQ(gFIPS_powerupStatus, 0) << name;
    EXPECT_EQ(Watch::dirty, 0) << name << ": blocks released unwiped";
    if (i < 21) kats.insert(kats.end(), Watch::sizes.begin(), Watch::sizes.end());
    if (name == "FIPS186" || name == "RSA" || name == "HMAC256") {
      EXPECT_GT(noMemory, 0) << name << ": an allocation failure is reported as such";
    }
  }
  EXPECT_EQ(Observed(FIPS_knownAnswerTests), 0);
  EXPECT_EQ(Watch::sizes, kats) << "the known-answer tests run in the fixed order";
  EXPECT_EQ(Observed(FIPS_pairwiseConsistencyTests), 0);
  EXPECT_TRUE(Watch::live.empty()) << "the run releases its random context";
}

}  // namespace
