// The FIPS 186-2 generator: the worked examples, creation, entropy bits, the continuous test.
#include <openssl/bn.h>

#include "crypto/random/internal.h"
#include "random_test_util.h"

namespace kel::test {
namespace {

class Fips186 : public GateOpenTest {
 protected:
  RandomContext *New(const Bytes &xkey, const Bytes &xseed = {}) {
    RandomContext *ctx = nullptr;
    EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, static_cast<uint8_t>(xkey.size()), xkey.data(), Len(xseed), Ptr(xseed)),
              0);
    return ctx;
  }
  Bytes Read(RandomContext *ctx, const std::vector<int> &pieces) {
    Bytes out;
    for (int n : pieces) {
      Bytes part(static_cast<size_t>(n));
      EXPECT_EQ(RANDOM_numberGeneratorFIPS186(ctx, part.data(), n), 0);
      out.insert(out.end(), part.begin(), part.end());
    }
    return out;
  }
  const std::vector<RspRecord> examples_ = ReadRsp("fips186/fips186-2_examples.txt");
};

TEST_F(Fips186, PublishedExamples) {
  ForEachCpuPath([&] {
    ASSERT_EQ(examples_.size(), 2u);
    const RspRecord &g = examples_[0], &k = examples_[1];
    const Bytes xkey = g.Hex("XKEY");
    RandomContext *whole = New(xkey), *parts = New(xkey);
    const Bytes stream = Read(whole, {221});
    EXPECT_EQ(ToHex(stream.data(), 40), g.Get("w0") + g.Get("w1"));
    EXPECT_EQ(ToHex(Read(parts, {1, 19, 20, 39, 40, 41, 61})), ToHex(stream));
    // XKEY - 1 with an XSEED of 1 makes the same first XVAL; XSEED is then spent.
    Bytes lower = xkey, one(20, 0);
    lower[19] -= 1;
    one[19] = 1;
    RandomContext *seeded = New(lower, one);
    const Bytes first = Read(seeded, {40});
    EXPECT_EQ(ToHex(first.data(), 20), g.Get("w0"));
    EXPECT_NE(ToHex(first.data() + 20, 20), g.Get("w1"));
    // The k-source: G with the rotated initial value, reduced mod q by the caller.
    RandomContext *ksrc = New(k.Hex("KKEY"));
    uint8_t out[40];
    ASSERT_EQ(RANDOM_KSrcGenerator(ksrc, out), 0);
    BIGNUM *v = BN_bin2bn(out, 20, nullptr), *q = nullptr;
    BN_CTX *bn = BN_CTX_new();
    BN_hex2bn(&q, k.Get("q").c_str());
    BN_mod(v, v, q, bn);
    Bytes reduced(20);
    BN_bn2binpad(v, reduced.data(), 20);
    EXPECT_EQ(ToHex(reduced), k.Get("k"));
    BN_free(v), BN_free(q), BN_CTX_free(bn);
    // The stream goes on from the k-source's XKEY, its own buffer untouched.
    EXPECT_NE(ToHex(Read(ksrc, {20})), ToHex(out, 20));
    EXPECT_EQ(RANDOM_numberGeneratorFIPS186(whole, nullptr, 0), 0);
    EXPECT_EQ(RANDOM_numberGeneratorFIPS186(whole, out, -1), ERR_RANDOM_BAD_LENGTH);
    for (RandomContext *c : {whole, parts, seeded, ksrc}) EXPECT_EQ(RANDOM_deleteFIPS186Context(&c), 0);
  });
}

TEST_F(Fips186, CreationChecksAndWrongKinds) {
  const Bytes key(64, 0xc3);
  RandomContext *ctx = reinterpret_cast<RandomContext *>(1), other{RANDOM_KIND_CTRDRBG, 0}, *otherPtr = &other;
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 19, key.data(), 0, nullptr), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 65, key.data(), 0, nullptr), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 20, nullptr, 0, nullptr), ERR_NULL_POINTER);
  // The same length (low 8 bits of the seed length) and content: -9000.
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 20, key.data(), 256 + 20, key.data()), ERR_FIPS186_XKEY_EQUALS_XSEED);
  uint8_t out[40];
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(&other, out, 4), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_KSrcGenerator(&other, out), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&otherPtr), ERR_NULL_POINTER);
  ctx = New(key);
  gFIPS_powerupStatus = -16501;
  for (const int32_t st :
       {RANDOM_newFIPS186Context(&otherPtr, 20, nullptr, 0, nullptr), RANDOM_addEntropyBit(ctx, 1),
        RANDOM_numberGeneratorFIPS186(ctx, out, 0), RANDOM_KSrcGenerator(ctx, out), RANDOM_deleteFIPS186Context(&ctx)})
    EXPECT_EQ(st, -16501);
  EXPECT_EQ(ctx->entropyBitCount, 0u);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), ERR_NULL_POINTER);
}

// Entropy bits flip XKEY from bit 1 on (a 0 moves on). Bits that turn XKEY
// back repeat the last block: the continuous test closes the gate.
TEST_F(Fips186, EntropyBitsAndTheContinuousTest) {
  RandomContext *ctx = New(examples_[0].Hex("XKEY"));
  Fips186State &s = random::as_fips186(ctx)->state;
  const Bytes start(s.xkey, s.xkey + 20);
  for (uint8_t bit : {1, 0xFE, 1}) EXPECT_EQ(RANDOM_addEntropyBit(ctx, bit), 0);
  EXPECT_EQ(s.xkey[0], start[0] ^ 0x0A);
  EXPECT_EQ(ctx->entropyBitCount, 3u);
  uint8_t out[40];
  ASSERT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 40), 0);
  // XKEY = XKEY' + 1 + block, so XKEY' = XKEY - 1 - previous block (mod 2^160).
  Bytes back(s.xkey, s.xkey + 20);
  for (int i = 19, borrow = 1; i >= 0; --i) {
    const int d = back[i] - s.previousBlock[i] - borrow;
    back[i] = static_cast<uint8_t>(d);
    borrow = d < 0;
  }
  for (uint32_t n = 0; n < 160; ++n) {
    const uint32_t pos = (s.entropyBitPosition + 1) % 160;
    ASSERT_EQ(RANDOM_addEntropyBit(ctx, ((s.xkey[pos / 8] ^ back[pos / 8]) >> (pos % 8)) & 1), 0);
  }
  ASSERT_EQ(ToHex(s.xkey, 20), ToHex(back));
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 40), ERR_FIPS186_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS186_CONTINUOUS_TEST);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), ERR_FIPS186_CONTINUOUS_TEST);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
}

}  // namespace
}  // namespace kel::test
