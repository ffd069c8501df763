// CTR-DRBG behaviour beyond the vectors: limits and statuses, the health
// test and its error paths, the continuous test, deletion, faults and the
// gate.

#include "crypto/common/alloc.h"
#include "crypto/random/internal.h"
#include "drbg_model.h"
#include "random_test_util.h"

namespace {

using kel::test::Bytes;
using kel::test::ModelDrbg;
using kel::test::ToHex;

class CtrDrbg : public kel::test::GateOpenTest {
 protected:
  Bytes entropy_ = Bytes(48, 0x5a);
  RandomContext *New(uint8_t flags = 0, uint32_t keyLength = 32, uint32_t blockLength = 16) {
    RandomContext *ctx = nullptr;
    EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, entropy_.data(), keyLength + blockLength, keyLength, blockLength, nullptr,
                                      0, flags),
              0);
    return ctx;
  }
  static CtrDrbgState *State(RandomContext *ctx) { return &kel::random::as_ctr(ctx)->state; }
};

TEST_F(CtrDrbg, InstantiationChecksLengthsInOrder) {
  RandomContext *ctx = reinterpret_cast<RandomContext *>(1);
  const uint8_t *e = entropy_.data();
  const struct {
    uint32_t entropy, key, block, pers;
    int32_t status;
  } cases[] = {
      {47, 32, 16, 0, ERR_DRBG_BAD_ENTROPY_LENGTH}, {49, 32, 16, 0, ERR_DRBG_BAD_ENTROPY_LENGTH},
      {37, 21, 16, 0, ERR_DRBG_BAD_KEY_LENGTH},     {24, 16, 8, 0, ERR_DRBG_BAD_KEY_LENGTH},
      {44, 32, 12, 0, ERR_DRBG_BAD_BLOCK_LENGTH},   {48, 32, 16, 49, ERR_DRBG_PERS_TOO_LONG},
      {0, 32, 16, 49, ERR_DRBG_PERS_TOO_LONG},  // checked first
  };
  for (const auto &c : cases) {
    EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, e, c.entropy, c.key, c.block, c.pers ? e : nullptr, c.pers, 0), c.status);
    EXPECT_EQ(ctx, nullptr);
  }
  EXPECT_EQ(NIST_CTRDRBG_newContext(nullptr, e, 48, 32, 16, nullptr, 0, 0), ERR_NULL_POINTER);
  EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, nullptr, 48, 32, 16, nullptr, 0, 0), ERR_NULL_POINTER);
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 32, 12, e, 3, nullptr, 0, nullptr, 0, 0), ERR_DRBG_BAD_BLOCK_LENGTH);
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 20, 16, e, 3, nullptr, 0, nullptr, 0, 0), ERR_DRBG_BAD_KEY_LENGTH);
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 32, 16, nullptr, 3, nullptr, 0, nullptr, 0, 0), ERR_NULL_POINTER);

  ctx = New();
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(State(ctx)->reseedInterval, uint64_t{1} << 49);
  EXPECT_EQ(State(ctx)->healthInterval, 0x1000000u);
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), ERR_NULL_POINTER);
}

TEST_F(CtrDrbg, RequestSizesAndPartialBytes) {
  RandomContext *ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
  Bytes out(65536, 0xEE);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out.data(), 524288, 0), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out.data(), 524280, 0), 0);
  EXPECT_EQ(out[65535], 0xEE);
  // Requests too large for the bit count are refused rather than wrapped.
  EXPECT_EQ(NIST_CTRDRBG_numberGenerator(ctx, out.data(), 0x20000000u), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(NIST_CTRDRBG_numberGenerator(ctx, out.data(), 65536), ERR_DRBG_REQUEST_TOO_LARGE);
  // 12 bits are 2 bytes, the same 2 bytes a 16-bit request would give.
  RandomContext *twin = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
  uint8_t a[3] = {0, 0, 0xEE}, b[2];
  ASSERT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, a, 12, 0), 0);
  ASSERT_EQ(NIST_CTRDRBG_generate(twin, nullptr, 0, out.data(), 524280, 0), 0);
  ASSERT_EQ(NIST_CTRDRBG_generate(twin, nullptr, 0, b, 16, 0), 0);
  EXPECT_EQ(ToHex(a, 2), ToHex(b, 2));
  EXPECT_EQ(a[2], 0xEE);
  // Zero bits: nothing written, the state still moves on.
  const uint64_t counter = State(ctx)->reseedCounter;
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, a, 0, 0), 0);
  EXPECT_EQ(State(ctx)->reseedCounter, counter + 1);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, nullptr, 8, 0), ERR_NULL_POINTER);
  EXPECT_EQ(NIST_CTRDRBG_generate(nullptr, nullptr, 0, a, 8, 0), ERR_NULL_POINTER);
  NIST_CTRDRBG_deleteContext(&ctx);
  NIST_CTRDRBG_deleteContext(&twin);
}

TEST_F(CtrDrbg, StreamsFollowTheModelWithAndWithoutAdditionalInput) {
  // Several request sizes, with and without additional input (two updates
  // or one), through every key length and the hardware and portable paths.
  kel::test::OnBothPaths([&] {
    for (uint32_t kl : {16u, 24u, 32u}) {
      Bytes pers(kl + 16, 0x11), add(kl + 16, 0x22);
      RandomContext *ctx = nullptr;
      ASSERT_EQ(NIST_CTRDRBG_newContext(&ctx, entropy_.data(), kl + 16, kl, 16, pers.data(), kl + 16, 0), 0);
      ModelDrbg m(kl, 16, false);
      m.Instantiate(Bytes(entropy_.begin(), entropy_.begin() + kl + 16), {}, pers);
      for (size_t n : {1u, 15u, 16u, 17u, 100u, 16384u}) {
        Bytes out(n);
        const bool withAdd = n % 2 == 1;
        ASSERT_EQ(NIST_CTRDRBG_generate(ctx, withAdd ? add.data() : nullptr, withAdd ? kl + 16 : 0, out.data(),
                                        static_cast<uint32_t>(n * 8), 0),
                  0);
        EXPECT_EQ(ToHex(out), ToHex(m.Generate(n, withAdd ? add : Bytes{}))) << "kl " << kl << " n " << n;
      }
      NIST_CTRDRBG_deleteContext(&ctx);
    }
  });
}

TEST_F(CtrDrbg, TdeaInstanceNeedsTheNoHealthTestFlag) {
  // Its health test builds an AES-256-vector instance with keyLength 21 and
  // block length 16: the 48-byte personalisation exceeds seedlen 37.
  RandomContext *ctx = nullptr;
  EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, entropy_.data(), 29, 21, 8, nullptr, 0, 0), ERR_DRBG_PERS_TOO_LONG);
  EXPECT_EQ(ctx, nullptr);
  ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST, 21, 8);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(State(ctx)->maxBitsPerRequest, 0x2000u);
  uint8_t out[1024];
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 8192, 0), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 8191, 0), 0);
  State(ctx)->reseedCounter = 0xFFFFFFFFu;
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 64, 0), 0);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 64, 0), ERR_DRBG_RESEED_REQUIRED);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, entropy_.data(), 29, nullptr, 0), 0);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 64, 0), 0);
  NIST_CTRDRBG_deleteContext(&ctx);
  // A derivation-function TDEA instance has no health test to fail.
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 21, 8, entropy_.data(), 14, entropy_.data(), 7, nullptr, 0, 0), 0);
  NIST_CTRDRBG_deleteContext(&ctx);
}

TEST_F(CtrDrbg, AdditionalInputAndReseedLimits) {
  RandomContext *ctx = New();
  Bytes big(100, 7);
  uint8_t out[16];
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, big.data(), 49, out, 128, 0), ERR_DRBG_ADDITIONAL_TOO_LONG);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, entropy_.data(), 48, big.data(), 49), ERR_DRBG_ADDITIONAL_TOO_LONG);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, entropy_.data(), 0, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, nullptr, 48, nullptr, 0), ERR_NULL_POINTER);
  NIST_CTRDRBG_deleteContext(&ctx);
  // Derivation-function instances check no upper lengths and keep their limits at 0.
  ASSERT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 32, 16, big.data(), 100, big.data(), 100, big.data(), 100, 0), 0);
  EXPECT_EQ(State(ctx)->maxAdditionalLength, 0u);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, big.data(), 100, out, 128, 0), 0);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, big.data(), 100, big.data(), 100), 0);
  // ... but the derivation function itself stops at 64 bytes.
  uint8_t derived[65];
  EXPECT_EQ(kel::drbg::derive(*State(ctx), big.data(), 4, nullptr, 0, nullptr, 0, derived, 65), ERR_DRBG_DF_TOO_LONG);
  NIST_CTRDRBG_deleteContext(&ctx);
}

TEST_F(CtrDrbg, BuiltInHealthVectorsAreTheModelsAnswers) {
  for (uint32_t kl : {16u, 24u, 32u}) {
    const DrbgTestVector &v = kel::drbg::builtin_vector(kl);
    EXPECT_EQ(ToHex(v.expectedOutput, 16), ToHex(ModelDrbg::KnownAnswer(v, kl, 16, false))) << kl;
    EXPECT_EQ(v.personalizationLength, kl + 16);  // the first error-path step relies on it
  }
  EXPECT_EQ(&kel::drbg::builtin_vector(21), &kel::drbg::builtin_vector(32));
}

// Every step of the health test: the known answer, and each error path that
// must be refused with its own status.
TEST_F(CtrDrbg, HealthTestFailsOnAWrongAnswerOrAnErrorPathThatSucceeds) {
  RandomContext *ctx = New();
  const CtrDrbgState &s = *State(ctx);
  EXPECT_EQ(kel::drbg::health_test(s, kel::drbg::builtin_vector(32)), 0);
  DrbgTestVector v = kel::drbg::builtin_vector(32);
  v.expectedOutput[0] ^= 0x80;
  EXPECT_EQ(kel::drbg::health_test(s, v), ERR_DRBG_KAT_FAILED);
  // With a short personalisation string the first error path (one byte too
  // long) is accepted: that must fail the test, not pass it.
  v = kel::drbg::builtin_vector(32);
  v.personalizationLength = 20;
  const Bytes expected = ModelDrbg::KnownAnswer(v, 32, 16, false);
  std::copy(expected.begin(), expected.end(), v.expectedOutput);
  EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(0, &v, 32), 0);
  EXPECT_EQ(kel::drbg::health_test(s, v), ERR_DRBG_KAT_FAILED);
  // An instance whose limits let a too-long entropy input pass (step 5
  // expects -17210 and gets an instance).
  CtrDrbgState wide = s;
  wide.entropyLengthHigh = 47;
  EXPECT_EQ(kel::drbg::health_test(wide, kel::drbg::builtin_vector(32)), ERR_DRBG_KAT_FAILED);
  // The reseed-counter step must see -17205.
  wide = s;
  wide.reseedInterval = 5;
  EXPECT_EQ(kel::drbg::health_test(wide, kel::drbg::builtin_vector(32)), ERR_DRBG_KAT_FAILED);
  NIST_CTRDRBG_deleteContext(&ctx);
}

// Through the derivation function an instance needs entropy of its full
// security strength and a nonce of half of it; less is refused at
// instantiation and at reseed. 0 bytes of entropy gave the same stream on
// every run.
TEST_F(CtrDrbg, DerivationFunctionNeedsFullEntropyAndANonce) {
  struct Case {
    uint32_t keyLength, blockLength, strength;
  };
  const Bytes big(64, 0x6b);
  for (const Case &c : {Case{16, 16, 16}, Case{24, 16, 24}, Case{32, 16, 32}, Case{21, 8, 14}}) {
    SCOPED_TRACE(c.keyLength);
    RandomContext *ctx = nullptr;
    auto make = [&](uint32_t entropyLength, const uint8_t *nonce, uint32_t nonceLength) {
      return NIST_CTRDRBG_newDFContext(&ctx, c.keyLength, c.blockLength, big.data(), entropyLength, nonce,
                                       nonceLength, nullptr, 0, 0);
    };
    EXPECT_EQ(make(0, big.data(), 16), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(make(c.strength - 1, big.data(), 16), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(make(c.strength, nullptr, 0), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(make(c.strength, big.data(), c.strength / 2 - 1), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(ctx, nullptr);
    ASSERT_EQ(make(c.strength, big.data(), c.strength / 2), 0);
    EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, big.data(), c.strength - 1, nullptr, 0), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, big.data(), c.strength, nullptr, 0), 0);
    EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
  }
}

// Derivation-function instances run their own health test (a known answer
// through the function, then the refusals above) at instantiation, reseed
// and on schedule; a wrong answer or a refusal that succeeds fails it.
TEST_F(CtrDrbg, DerivationFunctionInstancesRunTheirHealthTest) {
  for (uint32_t kl : {16u, 24u, 32u, 21u}) {
    const DrbgTestVector &v = kel::drbg::builtin_df_vector(kl);
    EXPECT_EQ(ToHex(v.expectedOutput, v.outputLength), ToHex(ModelDrbg::KnownAnswer(v, kl, v.outputLength, true)))
        << kl;
  }
  RandomContext *ctx = nullptr;
  uint64_t before = kel::mem::allocation_count();
  ASSERT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 32, 16, entropy_.data(), 32, entropy_.data(), 16, nullptr, 0, 0), 0);
  EXPECT_GT(kel::mem::allocation_count(), before + 6);  // its own blocks and the test instances
  const CtrDrbgState &s = *State(ctx);
  DrbgTestVector v = kel::drbg::builtin_df_vector(32);
  EXPECT_EQ(kel::drbg::df_health_test(s, v), 0);
  v.expectedOutput[3] ^= 1;
  EXPECT_EQ(kel::drbg::df_health_test(s, v), ERR_DRBG_KAT_FAILED);
  State(ctx)->healthCount = State(ctx)->healthInterval - 1;
  uint8_t out[16];
  before = kel::mem::allocation_count();
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), 0);
  EXPECT_EQ(State(ctx)->healthCount, 0u);
  EXPECT_GT(kel::mem::allocation_count(), before);
  NIST_CTRDRBG_deleteContext(&ctx);
}

TEST_F(CtrDrbg, ScheduledHealthTestRunsAtTheInterval) {
  RandomContext *ctx = New();
  uint8_t out[16];
  State(ctx)->healthCount = State(ctx)->healthInterval - 2;
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), 0);
  EXPECT_EQ(State(ctx)->healthCount, State(ctx)->healthInterval - 1);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, CTRDRBG_FLAG_NO_HEALTH_TEST), 0);
  EXPECT_EQ(State(ctx)->healthCount, State(ctx)->healthInterval - 1);  // flag 2 does not count
  const uint64_t before = kel::mem::allocation_count();
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), 0);
  EXPECT_EQ(State(ctx)->healthCount, 0u);
  EXPECT_GT(kel::mem::allocation_count(), before);  // the health test built its test instances
  NIST_CTRDRBG_deleteContext(&ctx);
}

TEST_F(CtrDrbg, AllocationFailuresAnywhereLeaveNothingBehind) {
  // Every allocation of an instantiation with its two health tests fails in
  // turn: the status is the allocator's or the mutex layer's, and the out
  // pointer stays null. (ASan watches for leaks.)
  int failures = 0;
  for (int64_t n = 0;; ++n) {
    RandomContext *ctx = nullptr;
    kel::mem::fail_after(n);
    const int32_t st = NIST_CTRDRBG_newContext(&ctx, entropy_.data(), 48, 32, 16, nullptr, 0, 0);
    kel::mem::fail_after(-1);
    if (st == 0) {
      NIST_CTRDRBG_deleteContext(&ctx);
      break;
    }
    EXPECT_TRUE(st == ERR_MEM_ALLOC_FAIL || st == LINUX_ERR_CREATE) << n << ": " << st;
    EXPECT_EQ(ctx, nullptr);
    ++failures;
    ASSERT_LT(n, 200);
  }
  EXPECT_GT(failures, 20);
  // The derivation function's buffer.
  RandomContext *ctx = nullptr;
  kel::mem::fail_after(2);  // context, previous block, then the buffer
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&ctx, 32, 16, entropy_.data(), 32, entropy_.data(), 16, nullptr, 0,
                                      CTRDRBG_FLAG_NO_HEALTH_TEST),
            ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(ctx, nullptr);
}

TEST_F(CtrDrbg, ContinuousTestRefusesARepeatedBlockAndClosesTheGate) {
  RandomContext *ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
  auto *c = kel::random::as_ctr(ctx);
  // Make the next output block equal to the stored previous block.
  uint8_t next[16];
  std::memcpy(next, c->v(), 16);
  for (int i = 15; i >= 0; --i)
    if (++next[i] != 0) break;
  c->state.blockEncrypt(&c->state.keySchedule, next, c->state.previousBlock);
  uint8_t out[64];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 512, 0), ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(ToHex(out, 64), std::string(128, '0'));  // nothing from the refused request is handed out
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), ERR_DRBG_CONTINUOUS_TEST);  // refused in the error state
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
}

TEST_F(CtrDrbg, GateComesBeforeEverything) {
  RandomContext *ctx = New();
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  RandomContext *fresh = reinterpret_cast<RandomContext *>(0x1);
  uint8_t out[16];
  const int32_t g = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(NIST_CTRDRBG_newContext(&fresh, nullptr, 0, 0, 0, nullptr, 0, 0), g);
  EXPECT_EQ(NIST_CTRDRBG_newDFContext(&fresh, 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0), g);
  EXPECT_EQ(fresh, reinterpret_cast<RandomContext *>(0x1));  // untouched
  EXPECT_EQ(NIST_CTRDRBG_reseed(nullptr, nullptr, 0, nullptr, 0), g);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), g);
  EXPECT_EQ(NIST_CTRDRBG_rngFun(ctx, 16, out), g);
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), g);
  EXPECT_NE(ctx, nullptr);
  EXPECT_EQ(State(ctx)->reseedCounter, 1u);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
}

}  // namespace
