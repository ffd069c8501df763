// The FIPS 186-2 generator against a small model of Appendix 3.1 (general
// purpose form) and 3.2 written over SHA1_G and SHA1_GK: stream splits,
// XSEED consumption, the k-source, entropy bits and the continuous test.
#include "crypto/random/internal.h"
#include "kel/hash.h"
#include "random_test_util.h"

namespace {

using kel::test::Bytes;
using kel::test::ToHex;

// XKEY/XVAL arithmetic mod 2^(8 * x.size()), y aligned at the low end.
void AddInto(Bytes &x, const Bytes &y) {
  unsigned carry = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    unsigned s = x[x.size() - 1 - i] + carry + (i < y.size() ? y[y.size() - 1 - i] : 0u);
    x[x.size() - 1 - i] = static_cast<uint8_t>(s);
    carry = s >> 8;
  }
}

Bytes G(const Bytes &xval, bool k = false) {
  uint8_t block[64] = {}, out[20];
  std::copy(xval.begin(), xval.end(), block);
  (k ? SHA1_GK : SHA1_G)(block, out);
  return Bytes(out, out + 20);
}

// One refill of the model without XSEED: two blocks; XKEY advances.
Bytes ModelRefill(Bytes &xkey) {
  Bytes out;
  for (int j = 0; j < 2; ++j) {
    Bytes block = G(xkey);
    out.insert(out.end(), block.begin(), block.end());
    AddInto(xkey, block);
    AddInto(xkey, Bytes{1});
  }
  return out;
}

class Fips186 : public kel::test::GateOpenTest {
 protected:
  Bytes xkey_ = Bytes(64);
  void SetUp() override {
    GateOpenTest::SetUp();
    for (size_t i = 0; i < xkey_.size(); ++i) xkey_[i] = static_cast<uint8_t>(0xC3 ^ (i * 7));
  }
  RandomContext *New(uint8_t keyLength, const Bytes &xseed = {}) {
    RandomContext *ctx = nullptr;
    EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, keyLength, xkey_.data(), static_cast<uint32_t>(xseed.size()),
                                       xseed.empty() ? nullptr : xseed.data()),
              0);
    return ctx;
  }
};

TEST_F(Fips186, CreationChecks) {
  RandomContext *ctx = reinterpret_cast<RandomContext *>(1);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 19, xkey_.data(), 0, nullptr), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 65, xkey_.data(), 0, nullptr), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(RANDOM_newFIPS186Context(nullptr, 20, xkey_.data(), 0, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 20, nullptr, 0, nullptr), ERR_NULL_POINTER);
  // The same length (low 8 bits of the seed length) and content: -9000.
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 20, xkey_.data(), 20, xkey_.data()), ERR_FIPS186_XKEY_EQUALS_XSEED);
  EXPECT_EQ(RANDOM_newFIPS186Context(&ctx, 20, xkey_.data(), 256 + 20, xkey_.data()), ERR_FIPS186_XKEY_EQUALS_XSEED);
  ctx = New(64);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->kind, RANDOM_KIND_FIPS186);
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), ERR_NULL_POINTER);
}

TEST_F(Fips186, StreamIsTheSameHoweverItIsSplit) {
  RandomContext *whole = New(32), *parts = New(32);
  const int sizes[] = {1, 39, 40, 41, 100};
  Bytes a(221), b;
  ASSERT_EQ(RANDOM_numberGeneratorFIPS186(whole, a.data(), 221), 0);
  for (int n : sizes) {
    Bytes part(static_cast<size_t>(n));
    ASSERT_EQ(RANDOM_numberGeneratorFIPS186(parts, part.data(), n), 0);
    b.insert(b.end(), part.begin(), part.end());
  }
  EXPECT_EQ(ToHex(a), ToHex(b));
  // And it is the model's stream.
  Bytes xkey(xkey_.begin(), xkey_.begin() + 32), model;
  while (model.size() < 221) {
    Bytes r = ModelRefill(xkey);
    model.insert(model.end(), r.begin(), r.end());
  }
  model.resize(221);
  EXPECT_EQ(ToHex(a), ToHex(model));
  // A zero-byte request returns 0 even with a null buffer; a null buffer
  // otherwise, or a negative length, is refused.
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(whole, nullptr, 0), 0);
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(nullptr, nullptr, 0), 0);
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(whole, nullptr, 1), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(whole, a.data(), -1), ERR_RANDOM_BAD_LENGTH);
  RANDOM_deleteFIPS186Context(&whole);
  RANDOM_deleteFIPS186Context(&parts);
}

TEST_F(Fips186, FirstBlockIsGOfXkeyPlusXseed) {
  Bytes xseed(20);
  for (size_t i = 0; i < 20; ++i) xseed[i] = static_cast<uint8_t>(0xF0 + i);  // carries across bytes
  RandomContext *ctx = New(20, xseed);
  uint8_t out[40];
  ASSERT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 40), 0);
  Bytes xval(xkey_.begin(), xkey_.begin() + 20);
  AddInto(xval, xseed);
  const Bytes first = G(xval);
  EXPECT_EQ(ToHex(out, 20), ToHex(first));
  // XSEED is spent: the second block comes from the advanced XKEY alone.
  Bytes xkey(xkey_.begin(), xkey_.begin() + 20);
  AddInto(xkey, first);
  AddInto(xkey, Bytes{1});
  EXPECT_EQ(ToHex(out + 20, 20), ToHex(G(xkey)));
  RANDOM_deleteFIPS186Context(&ctx);
}

TEST_F(Fips186, KSourceUsesTheRotatedInitialValueAndLeavesTheStreamBufferAlone) {
  RandomContext *ctx = New(20);
  uint8_t k[40];
  ASSERT_EQ(RANDOM_KSrcGenerator(ctx, k), 0);
  Bytes xkey(xkey_.begin(), xkey_.begin() + 20);
  Bytes b0 = G(xkey, true);
  AddInto(xkey, b0);
  AddInto(xkey, Bytes{1});
  EXPECT_EQ(ToHex(k, 20), ToHex(b0));
  EXPECT_EQ(ToHex(k + 20, 20), ToHex(G(xkey, true)));
  AddInto(xkey, G(xkey, true));
  AddInto(xkey, Bytes{1});
  // The general stream continues from the k-source's XKEY.
  uint8_t out[20];
  ASSERT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 20), 0);
  EXPECT_EQ(ToHex(out, 20), ToHex(G(xkey)));
  EXPECT_EQ(RANDOM_KSrcGenerator(ctx, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_KSrcGenerator(nullptr, k), ERR_NULL_POINTER);
  RANDOM_deleteFIPS186Context(&ctx);
}

TEST_F(Fips186, EntropyBitsFlipXkeyAndARepeatedBlockTripsTheContinuousTest) {
  RandomContext *ctx = New(20);
  auto &s = kel::random::as_fips186(ctx)->state;
  // Bit positions: the first bit lands on position 1 (byte 0, bit 1); a 0
  // bit moves the position without flipping.
  const Bytes start(s.xkey, s.xkey + 20);
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 1), 0);
  EXPECT_EQ(s.xkey[0], start[0] ^ 0x02);
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 0xFE), 0);  // only the lowest bit counts
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 1), 0);
  EXPECT_EQ(s.xkey[0], start[0] ^ 0x0A);
  EXPECT_EQ(ctx->entropyBitCount, 3u);

  // Generate 40 bytes: the refill that follows uses XKEY1, produces blocks
  // B0, B1 and leaves XKEY3 = XKEY2 + 1 + B1 with XKEY2 the value B1 came
  // from. Flip XKEY3 back to XKEY2 with entropy bits: the next refill then
  // repeats B1 and the continuous test must stop it.
  Bytes xkey(s.xkey, s.xkey + 20);
  uint8_t out[40];
  ASSERT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 40), 0);
  ModelRefill(xkey);  // served
  Bytes xkey2 = xkey;
  AddInto(xkey2, G(xkey));
  AddInto(xkey2, Bytes{1});
  const Bytes b1 = G(xkey2);
  ASSERT_EQ(ToHex(s.previousBlock, 20), ToHex(b1));
  for (uint32_t n = 0; n < 160; ++n) {
    const uint32_t pos = (s.entropyBitPosition + 1) % 160;
    const int bit = ((s.xkey[pos / 8] ^ xkey2[pos / 8]) >> (pos % 8)) & 1;
    ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(bit)), 0);
  }
  ASSERT_EQ(ToHex(s.xkey, 20), ToHex(xkey2));
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 40), ERR_FIPS186_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_FIPS186_CONTINUOUS_TEST);
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 1), ERR_FIPS186_CONTINUOUS_TEST);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), ERR_FIPS186_CONTINUOUS_TEST);  // refused in the error state
  ASSERT_NE(ctx, nullptr);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
}

TEST_F(Fips186, GateAndWrongKinds) {
  RandomContext *ctx = New(20);
  RandomContext other{RANDOM_KIND_CTRDRBG, 0};
  uint8_t out[40];
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(&other, out, 4), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_KSrcGenerator(&other, out), ERR_NULL_POINTER);
  RandomContext *otherPtr = &other;
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&otherPtr), ERR_NULL_POINTER);
  gFIPS_powerupStatus = -16501;
  RandomContext *fresh = nullptr;
  EXPECT_EQ(RANDOM_newFIPS186Context(&fresh, 20, nullptr, 0, nullptr), -16501);
  EXPECT_EQ(RANDOM_numberGeneratorFIPS186(ctx, out, 0), -16501);
  EXPECT_EQ(RANDOM_KSrcGenerator(ctx, out), -16501);
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 1), -16501);
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), -16501);
  EXPECT_EQ(ctx->entropyBitCount, 0u);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(RANDOM_deleteFIPS186Context(&ctx), 0);
}

}  // namespace
