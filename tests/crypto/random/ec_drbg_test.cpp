// The EC-DRBG: CAVP records, statuses, the continuous test and allocation failures.
#include "kel/ec_drbg.h"

#include "random_test_util.h"

namespace kel::test {
namespace {

class EcDrbg : public GateOpenTest {
 protected:
  RandomContext *New(const PrimeCurve *curve, uint8_t hash, const Bytes &e, const Bytes &n, const Bytes &p = {}) {
    RandomContext *ctx = nullptr;
    EXPECT_EQ(NIST_ECDRBG_newContext(&ctx, curve, hash, e.data(), Len(e), n.data(), Len(n), Ptr(p), Len(p)), 0);
    return ctx;
  }
  static EcDrbgState *State(RandomContext *ctx) { return reinterpret_cast<EcDrbgState *>(ctx + 1); }
  const Bytes e_ = Bytes(24, 7), n_ = Bytes(12, 8);
};

TEST_F(EcDrbg, CavpRecords) {
  ForEachCpuPath([&] {
    const std::pair<const char *, uint8_t> kHashes[] = {
        {"SHA-1", 5}, {"SHA-224", 14}, {"SHA-256", 11}, {"SHA-384", 12}, {"SHA-512", 13}};
    int count = 0;
    for (const char *file : {"drbg/Dual_EC_DRBG_no_reseed.rsp", "drbg/Dual_EC_DRBG_pr_false.rsp"})
      for (const RspRecord &r : ReadRsp(file)) {
        uint8_t hash = 0;
        const PrimeCurve *curve = nullptr;
        for (const auto &[name, value] : r.section) {
          if (name.rfind("P-", 0) != 0) continue;
          curve = name.rfind("P-384", 0) == 0 ? EC_P384 : EC_P256;
          for (const auto &[label, id] : kHashes)
            if (name.substr(6) == label) hash = id;
        }
        const uint32_t bits = static_cast<uint32_t>(std::stoul(r.section.at("ReturnedBitsLen")));
        RandomContext *ctx = New(curve, hash, r.Hex("EntropyInput"), r.Hex("Nonce"), r.Hex("PersonalizationString"));
        if (r.Has("EntropyInputReseed")) {
          const Bytes e = r.Hex("EntropyInputReseed"), a = r.Hex("AdditionalInputReseed");
          ASSERT_EQ(NIST_ECDRBG_reseed(ctx, e.data(), Len(e), Ptr(a), Len(a)), 0);
        }
        Bytes out((bits + 7) / 8);
        for (const char *add : {"AdditionalInput", "AdditionalInput2"}) {
          const Bytes a = r.Hex(add);
          ASSERT_EQ(NIST_ECDRBG_generate(ctx, Ptr(a), Len(a), out.data(), bits), 0);
        }
        EXPECT_EQ(ToHex(out), r.Get("ReturnedBits")) << file << ":" << r.line;
        EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
        EXPECT_EQ(ctx, nullptr);
        ++count;
      }
    EXPECT_EQ(count, 144);
  });
}

TEST_F(EcDrbg, Statuses) {
  const Bytes big(1025, 3);
  const uint8_t *e = e_.data(), *n = n_.data();
  RandomContext *ctx = nullptr;
  const struct { const char *what; int32_t status, got; } cases[] = {
      {"null out", -6001, NIST_ECDRBG_newContext(nullptr, EC_P256, 11, e, 24, n, 12, nullptr, 0)},
      {"long entropy", -17203, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, big.data(), 1025, n, 12, nullptr, 0)},
      {"P-256 7-byte nonce", -17211, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, e, 16, n, 7, nullptr, 0)},
      {"P-384 23-byte entropy", -17211, NIST_ECDRBG_newContext(&ctx, EC_P384, 11, e, 23, n, 12, nullptr, 0)},
      {"P-384 SHA-1", -17204, NIST_ECDRBG_newContext(&ctx, EC_P384, 5, e, 24, n, 12, nullptr, 0)},
      {"MD5", -17204, NIST_ECDRBG_newContext(&ctx, EC_P256, 4, e, 24, n, 12, nullptr, 0)},
      {"other curve", -17202,
       NIST_ECDRBG_newContext(&ctx, reinterpret_cast<const PrimeCurve *>(e), 11, e, 24, n, 12, nullptr, 0)},
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.status) << c.what;
  EXPECT_EQ(ctx, nullptr);
  // Kind 1: the generic entries refuse it, and it refuses other kinds.
  ctx = New(EC_P256, 5, Bytes(16, 1), Bytes(8, 2));
  uint8_t out[4];
  EXPECT_EQ(RANDOM_numberGenerator(ctx, out, 4), -6001);
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 1), -6001);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), -6001);
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, nullptr, 8), -6001);
  EXPECT_EQ(NIST_ECDRBG_reseed(ctx, nullptr, 0, nullptr, 0), -6001);
  Bytes part(64, 0xEE);  // 252 bits: a block and 12, the last byte's low half clear, nothing after it
  ASSERT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, part.data(), 252), 0);
  EXPECT_TRUE((part[31] & 0x0F) == 0 && std::count(part.begin() + 32, part.end(), 0xEE) == 32) << ToHex(part);
  State(ctx)->blockCount = 0xfffffff0u;  // the block count may not wrap
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, out, 8 * 30 * 17), ERR_ECDRBG_COUNT_WRAP);
  RandomContext other = {RANDOM_KIND_CTRDRBG, 0}, *otherPtr = &other;
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&otherPtr), -6001);
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
}

// The next block planted as the previous one (taken from a twin instance)
// trips the continuous test, which closes the gate on every entry.
TEST_F(EcDrbg, ContinuousTestAndGate) {
  RandomContext *ctx = New(EC_P256, 11, e_, n_), *twin = New(EC_P256, 11, e_, n_);
  uint8_t out[30] = {};
  ASSERT_EQ(NIST_ECDRBG_generate(twin, nullptr, 0, out, 240), 0);
  std::memcpy(State(ctx)->blockBuffer + 32, State(twin)->blockBuffer + 32, 32);
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, out, 240), ERR_ECDRBG_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_ECDRBG_CONTINUOUS_TEST);
  RandomContext *none = nullptr;
  std::memset(out, 0, sizeof out);
  for (const int32_t st : {NIST_ECDRBG_newContext(&none, EC_P256, 11, e_.data(), 16, n_.data(), 8, nullptr, 0),
                           NIST_ECDRBG_reseed(ctx, e_.data(), 16, nullptr, 0), NIST_ECDRBG_generate(ctx, nullptr, 0, out, 64),
                           NIST_ECDRBG_numberGenerator(ctx, out, 8), NIST_ECDRBG_rngFun(ctx, 8, out), NIST_ECDRBG_deleteContext(&ctx)})
    EXPECT_EQ(st, ERR_ECDRBG_CONTINUOUS_TEST);
  EXPECT_EQ(ToHex(out, 30), std::string(60, '0'));
  EXPECT_EQ(none, nullptr);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&twin), 0);
  // Every allocation of an instantiation may fail: context, three elements, block buffer, lock.
  auto make = [&](RandomContext **c) {
    return NIST_ECDRBG_newContext(c, EC_P384, 12, e_.data(), 24, n_.data(), 12, nullptr, 0);
  };
  EXPECT_GE(FailEachAllocation(make, NIST_ECDRBG_deleteContext), 6);
}

}  // namespace
}  // namespace kel::test
