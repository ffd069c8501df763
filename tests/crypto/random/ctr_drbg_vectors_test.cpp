// NIST CAVP CTR_DRBG vectors through the toolkit's entries, on both CPU
// paths. AES must reproduce NIST exactly. TDEA follows this toolkit's own
// key widening and derivation key, so its outputs are checked against the
// reference model, which must in turn reproduce NIST's AES answers.
#include "drbg_model.h"
#include "random_test_util.h"

namespace {

using kel::test::Bytes;
using kel::test::DrbgSection;
using kel::test::Len;
using kel::test::ModelDrbg;
using kel::test::Ptr;
using kel::test::ReadRsp;
using kel::test::RspRecord;
using kel::test::ToHex;

class CtrDrbgVectors : public kel::test::GateOpenTest {};

RandomContext *Instantiate(const DrbgSection &s, const RspRecord &r, uint8_t flags) {
  RandomContext *ctx = nullptr;
  const Bytes e = r.Hex("EntropyInput"), n = r.Hex("Nonce"), p = r.Hex("PersonalizationString");
  int32_t st = s.df ? NIST_CTRDRBG_newDFContext(&ctx, s.keyLength, s.blockLength, Ptr(e), Len(e), Ptr(n), Len(n),
                                                Ptr(p), Len(p), flags)
                    : NIST_CTRDRBG_newContext(&ctx, Ptr(e), Len(e), s.keyLength, s.blockLength, Ptr(p), Len(p), flags);
  EXPECT_EQ(st, 0);
  return ctx;
}

// pr_false: instantiate, reseed, generate (with additional input) twice.
TEST_F(CtrDrbgVectors, PredictionResistanceOffMatchesNistForAesAndTheModelForTdea) {
  const auto records = ReadRsp("drbg/CTR_DRBG_pr_false.rsp");
  ASSERT_EQ(records.size(), 96u);
  int aes = 0, tdea = 0;
  kel::test::OnBothPaths([&] {
    for (const auto &r : records) {
      DrbgSection s;
      ASSERT_TRUE(DrbgSection::Parse(r, &s));
      SCOPED_TRACE("line " + std::to_string(r.line));
      const size_t outLen = std::stoul(r.section.at("ReturnedBitsLen")) / 8;
      ModelDrbg m(s.keyLength, s.blockLength, s.df);
      m.Instantiate(r.Hex("EntropyInput"), r.Hex("Nonce"), r.Hex("PersonalizationString"));
      m.Reseed(r.Hex("EntropyInputReseed"), r.Hex("AdditionalInputReseed"));
      m.Generate(outLen, r.Hex("AdditionalInput"));
      const Bytes model = m.Generate(outLen, r.Hex("AdditionalInput2"));
      // Health test on for a few instances: it must leave the answer alone.
      const uint8_t flags = r.Get("COUNT") == "0" && !s.df && s.blockLength == 16 ? 0 : CTRDRBG_FLAG_NO_HEALTH_TEST;
      RandomContext *ctx = Instantiate(s, r, flags);
      ASSERT_NE(ctx, nullptr);
      const Bytes re = r.Hex("EntropyInputReseed"), ra = r.Hex("AdditionalInputReseed");
      EXPECT_EQ(NIST_CTRDRBG_reseed(ctx, Ptr(re), Len(re), Ptr(ra), Len(ra)), 0);
      Bytes got(outLen);
      for (const char *add : {"AdditionalInput", "AdditionalInput2"}) {
        const Bytes a = r.Hex(add);
        EXPECT_EQ(NIST_CTRDRBG_generate(ctx, Ptr(a), Len(a), got.data(), Len(got) * 8, flags), 0);
      }
      EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
      EXPECT_EQ(ToHex(got), ToHex(model));
      if (s.blockLength == 16) {
        EXPECT_EQ(ToHex(model), r.Get("ReturnedBits"));  // the oracle itself
        ++aes;
      } else {
        EXPECT_NE(ToHex(got), r.Get("ReturnedBits"));  // this toolkit's own TDEA rules
        ++tdea;
      }
    }
  });
  EXPECT_EQ(aes, 2 * 72);
  EXPECT_EQ(tdea, 2 * 24);
}

// pr_true: reseed before each generate (no additional input to generate),
// the known-answer runner's order; the runner reads the same records (its
// answer, one block, from the model) and must see a changed bit.
TEST_F(CtrDrbgVectors, PredictionResistanceOnAndTheKnownAnswerRunner) {
  const auto records = ReadRsp("drbg/CTR_DRBG_pr_true.rsp");
  ASSERT_EQ(records.size(), 96u);
  for (const auto &r : records) {
    DrbgSection s;
    ASSERT_TRUE(DrbgSection::Parse(r, &s));
    SCOPED_TRACE("line " + std::to_string(r.line));
    if (s.blockLength == 16) {
      RandomContext *ctx = Instantiate(s, r, CTRDRBG_FLAG_NO_HEALTH_TEST);
      ASSERT_NE(ctx, nullptr);
      Bytes out(std::stoul(r.section.at("ReturnedBitsLen")) / 8);
      for (const char *suffix : {"", "2"}) {
        const Bytes e = r.Hex(std::string("EntropyInputPR") + suffix),
                    a = r.Hex(std::string("AdditionalInput") + suffix);
        ASSERT_EQ(NIST_CTRDRBG_reseed(ctx, Ptr(e), Len(e), Ptr(a), Len(a)), 0);
        ASSERT_EQ(NIST_CTRDRBG_generate(ctx, nullptr, 0, out.data(), Len(out) * 8, 2), 0);
      }
      EXPECT_EQ(ToHex(out), r.Get("ReturnedBits"));
      EXPECT_EQ(NIST_CTRDRBG_deleteContext(&ctx), 0);
    }
    DrbgTestVector v{};
    auto put = [](const Bytes &b, uint8_t *field, uint32_t *len) {
      std::copy(b.begin(), b.end(), field);
      *len = Len(b);
    };
    put(r.Hex("EntropyInput"), v.entropyInput, &v.entropyInputLength);
    put(r.Hex("Nonce"), v.nonce, &v.nonceLength);
    put(r.Hex("PersonalizationString"), v.personalization, &v.personalizationLength);
    put(r.Hex("AdditionalInput"), v.additionalInput1, &v.additionalInput1Length);
    put(r.Hex("EntropyInputPR"), v.reseedEntropy1, &v.reseedEntropy1Length);
    put(r.Hex("AdditionalInput2"), v.additionalInput2, &v.additionalInput2Length);
    put(r.Hex("EntropyInputPR2"), v.reseedEntropy2, &v.reseedEntropy2Length);
    v.outputLength = s.blockLength;
    put(ModelDrbg::KnownAnswer(v, s.keyLength, s.blockLength, s.df), v.expectedOutput, &v.outputLength);
    EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(s.df, &v, s.keyLength), 0);
    v.expectedOutput[s.blockLength - 1] ^= 1;
    EXPECT_EQ(FIPS_NIST_CTRDRGB_DoKAT(s.df, &v, s.keyLength), ERR_DRBG_KAT_FAILED);
  }
  EXPECT_EQ(gFIPS_powerupStatus, 0);  // the runner writes no power-up status
}

}  // namespace
