// CTR-DRBG: CAVP records, health and continuous tests, limits, threads and fork().
#include <unistd.h>

#include <array>
#include <atomic>
#include <thread>

#include "crypto/random/internal.h"
#include "random_test_util.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class CtrDrbg : public GateOpenTest {
 protected:
  Bytes entropy_ = Bytes(64, 0x5a);
  RandomContext *New(uint8_t flags = 0, uint32_t kl = 32, uint32_t bl = 16) {
    RandomContext *ctx = nullptr;
    EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, entropy_.data(), kl + bl, kl, bl, nullptr, 0, flags), 0);
    return ctx;
  }
  static CtrDrbgState &State(RandomContext *ctx) { return random::as_ctr(ctx)->state; }
};

// The cipher of a section such as "[AES-192 use df]" or "[3KeyTDEA no df]".
struct Section {
  uint32_t kl = 0, bl = 16;
  bool df = false;
};
Section SectionOf(const RspRecord &r) {
  Section s;
  for (const auto &[name, value] : r.section)
    if (name.find(" df") != std::string::npos) {
      s.df = name.find("use df") != std::string::npos;
      s.bl = name[0] == '3' ? 8 : 16;
      s.kl = name[0] == '3' ? 21 : static_cast<uint32_t>(std::stoul(name.substr(4, 3)) / 8);
    }
  return s;
}

// A record's second output: pr_false reseeds once and generates twice with
// additional input; pr_true reseeds (with the additional input) before each.
Bytes RunRecord(const RspRecord &r, uint8_t flags) {
  const Section s = SectionOf(r);
  const Bytes e = r.Hex("EntropyInput"), n = r.Hex("Nonce"), p = r.Hex("PersonalizationString");
  RandomContext *ctx = nullptr;
  EXPECT_EQ(s.df ? NIST_CTRDRBG_newDFContext(&ctx, s.kl, s.bl, Ptr(e), Len(e), Ptr(n), Len(n), Ptr(p), Len(p), flags)
                 : NIST_CTRDRBG_newContext(&ctx, Ptr(e), Len(e), s.kl, s.bl, Ptr(p), Len(p), flags),
            0);
  const bool pr = r.Has("EntropyInputPR");
  if (!pr) {
    const Bytes re = r.Hex("EntropyInputReseed"), ra = r.Hex("AdditionalInputReseed");
    EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, Ptr(re), Len(re), Ptr(ra), Len(ra)), 0);
  }
  Bytes out(std::stoul(r.section.at("ReturnedBitsLen")) / 8);
  for (const std::string suffix : {"", "2"}) {
    const Bytes a = r.Hex("AdditionalInput" + suffix);
    if (pr) {
      const Bytes pe = r.Hex("EntropyInputPR" + suffix);
      EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, Ptr(pe), Len(pe), Ptr(a), Len(a)), 0);
    }
    EXPECT_EQ(NIST_CTRDRBG_generate(ctx, pr ? nullptr : Ptr(a), pr ? 0 : Len(a), out.data(), Len(out) * 8, flags), 0);
  }
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
  return out;
}

// The health test stays on for the first AES record without derivation
// function of each section: it must leave the answer alone.
TEST_F(CtrDrbg, CavpRecordsOnEveryPath) {
  int checked = 0;
  const int paths = ForEachCpuPath([&] {
    for (const char *file : {"CTR_DRBG_pr_false", "CTR_DRBG_pr_true", "CTR_DRBG_tdea_toolkit"})
      for (const RspRecord &r : ReadRsp(std::string("drbg/") + file + ".rsp")) {
        const Section s = SectionOf(r);
        if (s.bl == 8 && file[9] != 't') continue;  // TDEA: the toolkit's file
        const uint8_t flags = r.Get("COUNT") == "0" && !s.df && s.bl == 16 ? 0 : CTRDRBG_FLAG_NO_HEALTH_TEST;
        EXPECT_EQ(ToHex(RunRecord(r, flags)), r.Get("ReturnedBits")) << file << ":" << r.line;
        ++checked;
      }
  });
  EXPECT_EQ(checked, paths * (72 + 72 + 24));
}

// The runner refuses a changed bit; a wrong answer or an error path the limits
// let succeed fails the health test, which runs each interval (flag 2 excepted).
TEST_F(CtrDrbg, KnownAnswerRunnerAndHealthTest) {
  for (uint32_t kl : {16u, 24u, 32u, 21u})
    for (const bool df : {false, true}) {
      if (kl == 21 && !df) continue;
      DrbgTestVector v = df ? drbg::builtin_df_vector(kl) : drbg::builtin_vector(kl);
      EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(df, &v, kl), 0) << kl << " df " << df;
      v.expectedOutput[v.outputLength - 1] ^= 1;
      EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(df, &v, kl), ERR_DRBG_KAT_FAILED) << kl << " df " << df;
    }
  EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(0, nullptr, 32), ERR_NULL_POINTER);
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  RandomContext *plain = New(), *df = nullptr;
  const CtrDrbgState &s = State(plain);
  DrbgTestVector v = drbg::builtin_vector(32);
  v.expectedOutput[0] ^= 0x80;
  EXPECT_EQ(drbg::health_test(s, v), ERR_DRBG_KAT_FAILED);
  // Limits the instance lacks: a step expecting a refusal gets an answer, or
  // the additional input would not fit the step's buffer.
  auto refused = [&s](auto field, uint32_t value) {
    CtrDrbgState w = s;
    w.*field = value;
    EXPECT_EQ(drbg::health_test(w, drbg::builtin_vector(32)), ERR_DRBG_KAT_FAILED) << value;
  };
  refused(&CtrDrbgState::entropyLengthLow, 49), refused(&CtrDrbgState::entropyLengthHigh, 47);
  refused(&CtrDrbgState::maxBitsPerRequest, 64), refused(&CtrDrbgState::reseedInterval, 5);
  refused(&CtrDrbgState::maxAdditionalLength, 10), refused(&CtrDrbgState::maxAdditionalLength, 64);
  v = drbg::builtin_df_vector(32);
  v.expectedOutput[3] ^= 1;
  EXPECT_EQ(drbg::df_health_test(s, v), ERR_DRBG_KAT_FAILED);
  ASSERT_EQ(NIST_CTRDRBG_newDFContext(&df, 32, 16, entropy_.data(), 32, entropy_.data(), 16, nullptr, 0, 0), 0);
  uint8_t out[16];
  for (RandomContext *ctx : {plain, df}) {
    State(ctx).healthCount = State(ctx).healthInterval - 2;
    EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), 0);
    EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, CTRDRBG_FLAG_NO_HEALTH_TEST), 0);
    EXPECT_EQ(State(ctx).healthCount, State(ctx).healthInterval - 1);
    const uint64_t before = mem::allocation_count();
    EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0), 0);
    EXPECT_EQ(State(ctx).healthCount, 0u);
    EXPECT_GT(mem::allocation_count(), before);  // the test built its test instances
    NIST_CTRDRBG_deleteContext(&ctx);
  }
}

// Refusals the health test's error paths do not make; then each allocation
// of an instantiation fails in turn.
TEST_F(CtrDrbg, InstantiationRefusalsAndAllocationFailures) {
  RandomContext *ctx = reinterpret_cast<RandomContext *>(1);
  const uint8_t *e = entropy_.data();
  const struct { uint32_t entropy, key, block, pers; int32_t status; } cases[] = {
      {37, 21, 16, 0, ERR_DRBG_BAD_KEY_LENGTH},   {24, 16, 8, 0, ERR_DRBG_BAD_KEY_LENGTH},
      {44, 32, 12, 0, ERR_DRBG_BAD_BLOCK_LENGTH}, {0, 32, 16, 49, ERR_DRBG_PERS_TOO_LONG},
      {29, 21, 8, 0, ERR_DRBG_PERS_TOO_LONG},  // TDEA's health test
  };
  for (const auto &c : cases) {
    EXPECT_EQ(NIST_CTRDRBG_newContext(&ctx, e, c.entropy, c.key, c.block, c.pers ? e : nullptr, c.pers, 0), c.status);
    EXPECT_EQ(ctx, nullptr);
  }
  for (const auto &[got, want] :
       {std::pair{NIST_CTRDRBG_newContext(nullptr, e, 48, 32, 16, nullptr, 0, 0), ERR_NULL_POINTER},
        {NIST_CTRDRBG_newDFContext(&ctx, 32, 12, e, 3, e, 9, nullptr, 0, 0), ERR_DRBG_BAD_BLOCK_LENGTH},
        {NIST_CTRDRBG_newDFContext(&ctx, 20, 16, e, 3, e, 9, nullptr, 0, 0), ERR_DRBG_BAD_KEY_LENGTH},
        {NIST_CTRDRBG_newDFContext(&ctx, 32, 16, nullptr, 3, e, 9, nullptr, 0, 0), ERR_NULL_POINTER}})
    EXPECT_EQ(got, want);
  // Through the derivation function: entropy of the full strength and a nonce
  // of half of it, at instantiation and at reseed (TDEA: 14 bytes).
  for (const auto &[kl, bl, strength] : {std::array{16u, 16u, 16u}, {24u, 16u, 24u}, {32u, 16u, 32u}, {21u, 8u, 14u}}) {
    auto make = [&](uint32_t el, const uint8_t *nonce, uint32_t nl) {
      return NIST_CTRDRBG_newDFContext(&ctx, kl, bl, e, el, nonce, nl, nullptr, 0, 0);
    };
    EXPECT_EQ(make(strength - 1, e, 16), ERR_DRBG_INPUT_TOO_SHORT) << kl;
    EXPECT_EQ(make(strength, e, strength / 2 - 1), ERR_DRBG_INPUT_TOO_SHORT) << kl;
    ASSERT_EQ(make(strength, e, strength / 2), 0) << kl;
    EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, e, strength - 1, nullptr, 0), ERR_DRBG_INPUT_TOO_SHORT);
    EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, e, 64, e, 64), 0);  // no upper limits
    EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
  }
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), ERR_NULL_POINTER);
  auto plain = [&](RandomContext **c) { return NIST_CTRDRBG_newContext(c, e, 48, 32, 16, nullptr, 0, 0); };
  auto df = [&](RandomContext **c) { return NIST_CTRDRBG_newDFContext(c, 32, 16, e, 32, e, 16, nullptr, 0, 0); };
  const int failures = FailEachAllocation(plain, NIST_CTRDRBG_deleteContext);
  EXPECT_GT(failures + FailEachAllocation(df, NIST_CTRDRBG_deleteContext), 20);
}

// A request's bytes are the first bytes of a longer request from the same
// state; a partial byte comes whole; zero bits still move the state on.
TEST_F(CtrDrbg, RequestLimitsAndPartialBlocks) {
  RandomContext *ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
  Bytes big(65536, 0xEE), add(48, 0x22);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 524288, 0), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(NIST_CTRDRBG_numberGenerator(ctx, big.data(), 0x20000000u), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, nullptr, 48, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(big[0], 0xEE);
  const uint64_t counter = State(ctx).reseedCounter;
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 0, 0), 0);
  EXPECT_EQ(State(ctx).reseedCounter, counter + 1);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, nullptr, 8, 0), ERR_NULL_POINTER);
  NIST_CTRDRBG_deleteContext(&ctx);
  for (uint32_t bits : {12u, 8u, 120u, 136u, 800u, 524280u}) {
    RandomContext *one = New(CTRDRBG_FLAG_NO_HEALTH_TEST), *twin = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
    Bytes a((bits + 7) / 8 + 1, 0xEE);
    const uint32_t addLength = bits % 16 ? 48 : 0;
    ASSERT_EQ(NIST_CTRDRBG_generate(one, add.data(), addLength, a.data(), bits, 0), 0);
    ASSERT_EQ(NIST_CTRDRBG_generate(twin, add.data(), addLength, big.data(), 524280, 0), 0);
    EXPECT_EQ(a.back(), 0xEE) << bits;
    EXPECT_EQ(ToHex(a.data(), a.size() - 1), ToHex(big.data(), a.size() - 1)) << bits;
    NIST_CTRDRBG_deleteContext(&one);
    NIST_CTRDRBG_deleteContext(&twin);
  }
  // TDEA: at most 8191 bits a request, and a reseed after 2^32 - 1 requests.
  ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST, 21, 8);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 8192, 0), ERR_DRBG_REQUEST_TOO_LARGE);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 8191, 0), 0);
  State(ctx).reseedCounter = 0xFFFFFFFFu;
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 64, 0), 0);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 64, 0), ERR_DRBG_RESEED_REQUIRED);
  EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, entropy_.data(), 29, nullptr, 0), 0);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, big.data(), 64, 0), 0);
  NIST_CTRDRBG_deleteContext(&ctx);
}

// A block equal to the previous one (AES, or TDEA's partial block) is refused,
// nothing of the request is handed out, and the gate closes even to deletion.
TEST_F(CtrDrbg, ContinuousTestAndGate) {
  auto repeatNext = [&](RandomContext *ctx, uint32_t kl, uint32_t bl) {  // a twin's first block made the previous
    RandomContext *twin = New(CTRDRBG_FLAG_NO_HEALTH_TEST, kl, bl);
    EXPECT_EQ(NIST_CTRDRBG_generate(twin, nullptr, 0, State(ctx).previousBlock, bl * 8, 0), 0);
    NIST_CTRDRBG_deleteContext(&twin);
  };
  uint8_t out[64];
  RandomContext *tdea = New(CTRDRBG_FLAG_NO_HEALTH_TEST, 21, 8);
  repeatNext(tdea, 21, 8);
  EXPECT_EQ(NIST_CTRDRBG_generate(tdea, nullptr, 0, out, 4, 0), ERR_DRBG_CONTINUOUS_TEST);  // a partial block
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&tdea), 0);
  RandomContext *ctx = New(CTRDRBG_FLAG_NO_HEALTH_TEST);
  repeatNext(ctx, 32, 16);
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 512, 0), ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(ToHex(out, 64), std::string(128, '0'));
  RandomContext *fresh = reinterpret_cast<RandomContext *>(0x1);
  for (const int32_t st :
       {NIST_CTRDRBG_newContext(&fresh, nullptr, 0, 0, 0, nullptr, 0, 0),
        NIST_CTRDRBG_newDFContext(&fresh, 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0),
        NIST_CTRDRBG_reseed(nullptr, nullptr, 0, nullptr, 0), NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 128, 0),
        NIST_CTRDRBG_rngFun(ctx, 16, out), NIST_CTRDRBG_deleteContext(&ctx)})
    EXPECT_EQ(st, ERR_DRBG_CONTINUOUS_TEST);
  EXPECT_EQ(fresh, reinterpret_cast<RandomContext *>(0x1));
  EXPECT_EQ(State(ctx).reseedCounter, 1u);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

using Block = std::array<uint8_t, 16>;

// 8 threads on the process-wide kind of context without a lock of their own:
// no request fails and no block is handed out twice.
TEST_F(CtrDrbg, SharedByThreads) {
  constexpr int kThreads = 8, kRequests = 20000;
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  std::vector<Block> got(kThreads * kRequests);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequests; ++i)
        if (RANDOM_numberGenerator(ctx, got[t * kRequests + i].data(), 16) != 0) failures.fetch_add(1);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(std::adjacent_find(got.begin(), got.end()), got.end()) << "a block was handed out twice";
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
}

std::string ChildOutput(RandomContext *ctx) {
  return CaptureStdout([&] {
    EXPECT_EQ(0, RunInChild([&] {
      Block b{};
      ASSERT_EQ(RANDOM_numberGenerator(ctx, b.data(), 16), 0);
      ASSERT_EQ(write(1, b.data(), 16), 16);
    }));
  });
}

// A fork() child reseeds from the OS first (FIPS 186: dropping its buffer):
// parent and children never repeat each other's bytes.
TEST_F(CtrDrbg, ForkedProcessesDiverge) {
  RandomContext *plain = nullptr, *fips186 = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&plain), 0);
  ASSERT_EQ(RANDOM_newFIPS186Context(&fips186, 20, entropy_.data(), 0, nullptr), 0);
  for (RandomContext *ctx : {plain, fips186}) {
    Block parent{};
    ASSERT_EQ(RANDOM_numberGenerator(ctx, parent.data(), 16), 0);
    const std::string first = ChildOutput(ctx), second = ChildOutput(ctx);
    ASSERT_EQ(RANDOM_numberGenerator(ctx, parent.data(), 16), 0);
    EXPECT_NE(first, std::string(parent.begin(), parent.end()));
    EXPECT_NE(first, second);
  }
  EXPECT_EQ(RANDOM_releaseContext(&plain), 0);
  EXPECT_EQ(RANDOM_releaseContext(&fips186), 0);
}

}  // namespace
}  // namespace kel::test
