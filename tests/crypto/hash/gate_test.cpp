// The power-up gate on the digests and HMAC: while the status is not 0 every
// gated entry returns it and touches nothing, not even its arguments; MD5,
// HMAC-MD5, Base64 and the G functions go on working.
#include <array>
#include <functional>

#include "hash_util.h"
#include "kel/base64.h"
#include "kel/vor.h"

namespace kel::test {
namespace {

class Gate : public ::testing::TestWithParam<int32_t> {
 protected:
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
};
INSTANTIATE_TEST_SUITE_P(Statuses, Gate, ::testing::Values(-16508, -16525),
                         [](const auto &info) { return "Status" + std::to_string(-info.param); });

// Everything a gated call could reach: a context, an output, a pointer slot
// holding a live block, and a message.
struct Canaries {
  alignas(16) std::array<uint8_t, sizeof(HmacContext)> ctx;
  std::array<uint8_t, 64> out;
  void *block = nullptr;
  void *slot = nullptr;
  std::array<uint8_t, 200> msg;
  Canaries() {
    ctx.fill(0xa5);
    out.fill(0x5a);
    msg.fill(0x61);
    EXPECT_EQ(VOR_alloc(64, &block), 0);
    slot = block;
  }
  ~Canaries() { VOR_free(&block); }
  void *c() { return ctx.data(); }
  HmacContext *h() { return reinterpret_cast<HmacContext *>(ctx.data()); }
  HmacContext **hp() { return reinterpret_cast<HmacContext **>(&slot); }
  void expect_untouched(const std::string &what) {
    std::array<uint8_t, sizeof(HmacContext)> c;
    c.fill(0xa5);
    std::array<uint8_t, 64> o;
    o.fill(0x5a);
    EXPECT_EQ(ctx, c) << what << " changed the context";
    EXPECT_EQ(out, o) << what << " wrote output";
    EXPECT_EQ(slot, block) << what << " changed the pointer";
  }
};

TEST_P(Gate, GatedEntriesReturnTheStatusAndTouchNothing) {
  const int32_t status = GetParam();
  gFIPS_powerupStatus = status;
  const HashSuite *sha256 = nullptr;
  ASSERT_EQ(CRYPTO_getRSAHashAlgo(11, &sha256), 0);
  using Call = std::function<int32_t(Canaries &)>;
  const std::vector<std::pair<const char *, Call>> gated = {
      {"SHA1_allocDigest", [](Canaries &k) { return SHA1_allocDigest(&k.slot); }},
      {"SHA1_freeDigest", [](Canaries &k) { return SHA1_freeDigest(&k.slot); }},
      {"SHA1_initDigest", [](Canaries &k) { return SHA1_initDigest(k.c()); }},
      {"SHA1_updateDigest", [](Canaries &k) { return SHA1_updateDigest(k.c(), k.msg.data(), 200); }},
      {"SHA1_finalDigest", [](Canaries &k) { return SHA1_finalDigest(k.c(), k.out.data()); }},
      {"SHA1_completeDigest", [](Canaries &k) { return SHA1_completeDigest(k.msg.data(), 9, k.out.data()); }},
      {"SHA256_allocDigest", [](Canaries &k) { return SHA256_allocDigest(&k.slot); }},
      {"SHA256_freeDigest", [](Canaries &k) { return SHA256_freeDigest(&k.slot); }},
      {"SHA256_initDigest", [](Canaries &k) { return SHA256_initDigest(k.c()); }},
      {"SHA256_updateDigest", [](Canaries &k) { return SHA256_updateDigest(k.c(), k.msg.data(), 200); }},
      {"SHA256_finalDigest", [](Canaries &k) { return SHA256_finalDigest(k.c(), k.out.data()); }},
      {"SHA256_completeDigest", [](Canaries &k) { return SHA256_completeDigest(k.msg.data(), 9, k.out.data()); }},
      {"SHA224_completeDigest", [](Canaries &k) { return SHA224_completeDigest(k.msg.data(), 9, k.out.data()); }},
      {"SHA512_allocDigest", [](Canaries &k) { return SHA512_allocDigest(&k.slot); }},
      {"SHA512_freeDigest", [](Canaries &k) { return SHA512_freeDigest(&k.slot); }},
      {"SHA512_initDigest", [](Canaries &k) { return SHA512_initDigest(k.c()); }},
      {"SHA512_updateDigest", [](Canaries &k) { return SHA512_updateDigest(k.c(), k.msg.data(), 200); }},
      {"SHA512_finalDigest", [](Canaries &k) { return SHA512_finalDigest(k.c(), k.out.data()); }},
      {"SHA512_completeDigest", [](Canaries &k) { return SHA512_completeDigest(k.msg.data(), 9, k.out.data()); }},
      {"SHA384_completeDigest", [](Canaries &k) { return SHA384_completeDigest(k.msg.data(), 9, k.out.data()); }},
      {"HmacCreate", [sha256](Canaries &k) { return HmacCreate(k.hp(), sha256); }},
      {"HmacKey", [](Canaries &k) { return HmacKey(k.h(), k.msg.data(), 20); }},
      {"HmacReset", [](Canaries &k) { return HmacReset(k.h()); }},
      {"HmacUpdate", [](Canaries &k) { return HmacUpdate(k.h(), k.msg.data(), 20); }},
      {"HmacFinal", [](Canaries &k) { return HmacFinal(k.h(), k.out.data()); }},
      {"HmacDelete", [](Canaries &k) { return HmacDelete(k.hp()); }},
      {"HmacQuickEx",
       [sha256](Canaries &k) { return HmacQuickEx(k.msg.data(), 5, k.msg.data(), 7, k.msg.data(), 3, k.out.data(), sha256); }},
      {"HmacQuick", [sha256](Canaries &k) { return HmacQuick(k.msg.data(), 5, k.msg.data(), 7, k.out.data(), sha256); }},
      {"HMAC_SHA1", [](Canaries &k) { return HMAC_SHA1(k.msg.data(), 5, k.msg.data(), 7, nullptr, 0, k.out.data()); }},
      {"HMAC_SHA1_quick", [](Canaries &k) { return HMAC_SHA1_quick(k.msg.data(), 99, k.msg.data(), 7, k.out.data()); }},
      {"HMAC_SHA1Ex long key",
       [](Canaries &k) {
         const uint8_t *parts[1] = {k.msg.data()};
         const uint32_t lens[1] = {7};
         return HMAC_SHA1Ex(k.msg.data(), 100, parts, lens, 1, k.out.data());
       }},
      {"HMAC_SHA1Ex", [](Canaries &k) { return HMAC_SHA1Ex(k.msg.data(), 5, nullptr, nullptr, 0, k.out.data()); }},
  };
  for (const auto &[name, call] : gated) {
    Canaries k;
    EXPECT_EQ(call(k), status) << name;
    k.expect_untouched(name);
  }
  // The gate comes before any argument check.
  EXPECT_EQ(SHA1_initDigest(nullptr), status);
  EXPECT_EQ(SHA256_updateDigest(nullptr, nullptr, 0), status);
  EXPECT_EQ(SHA512_finalDigest(nullptr, nullptr), status);
  EXPECT_EQ(SHA256_completeDigest(nullptr, 0, nullptr), status);
  EXPECT_EQ(SHA1_allocDigest(nullptr), status);
  EXPECT_EQ(SHA512_freeDigest(nullptr), status);
  EXPECT_EQ(HmacCreate(nullptr, nullptr), status);
  EXPECT_EQ(HmacDelete(nullptr), status);
  EXPECT_EQ(HmacFinal(nullptr, nullptr), status);
  EXPECT_EQ(HmacQuickEx(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr), status);
  EXPECT_EQ(HMAC_SHA1(nullptr, 0, nullptr, 0, nullptr, 0, nullptr), status);
}

TEST_P(Gate, UngatedEntriesWork) {
  gFIPS_powerupStatus = GetParam();
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t out[64];
  ASSERT_EQ(MD5_completeDigest(abc, 3, out), 0);
  EXPECT_EQ(ToHex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
  void *ctx = nullptr;
  ASSERT_EQ(MD5Alloc_m(&ctx), 0);
  ASSERT_EQ(MD5Init_m(ctx), 0);
  ASSERT_EQ(MD5Update_m(ctx, abc, 3), 0);
  ASSERT_EQ(MD5Final_m(ctx, out), 0);
  EXPECT_EQ(ToHex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
  ASSERT_EQ(MD5Free_m(&ctx), 0);
  ASSERT_EQ(HMAC_MD5_quick(abc, 3, abc, 3, out), 0);
  EXPECT_EQ(Bytes(out, out + 16), OpensslHmac(AlgoNamed("MD5"), Bytes(abc, abc + 3), Bytes(abc, abc + 3)));
  uint8_t block[64] = {0x80};
  ASSERT_EQ(SHA1_G(block, out), 0);
  EXPECT_EQ(ToHex(out, 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");  // SHA-1 of the empty message
  ASSERT_EQ(SHA1_GK(block, out), 0);
  EXPECT_NE(ToHex(out, 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  const HashSuite *suite = nullptr;
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(13, &suite), 0);
  // SHA-224 and SHA-384 init and final carry no gate of their own.
  Sha256Context c;
  std::memset(&c, 0xee, sizeof c);
  ASSERT_EQ(SHA224_initDigest(&c), 0);
  EXPECT_EQ(c.state[0], 0xc1059ed8u);
  ASSERT_EQ(SHA224_finalDigest(&c, out), 0);
  EXPECT_EQ(ToHex(out, 28), "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f");
  Sha512Context c5;
  ASSERT_EQ(SHA384_initDigest(&c5), 0);
  ASSERT_EQ(SHA384_finalDigest(&c5, out), 0);
  EXPECT_EQ(ToHex(out, 4), "38b060a7");
  // Base64 is not gated.
  ASSERT_EQ(BASE64_initializeContext(), 0);
  uint8_t *text = nullptr, *back = nullptr;
  uint32_t tl = 0, bl = 0;
  ASSERT_EQ(BASE64_encodeMessage(abc, 3, &text, &tl), 0);
  ASSERT_EQ(BASE64_decodeMessage(text, tl, &back, &bl), 0);
  EXPECT_EQ(Bytes(back, back + bl), Bytes(abc, abc + 3));
  BASE64_freeMessage(&text);
  BASE64_freeMessage(&back);
  EXPECT_EQ(BASE64_freeContext(), 0);
}

// A failure after the self-test shuts even the release of live contexts off.
TEST_P(Gate, LiveContextsCannotBeReleasedWhileClosed) {
  gFIPS_powerupStatus = 0;
  const HashSuite *suite = nullptr;
  ASSERT_EQ(CRYPTO_getRSAHashAlgo(5, &suite), 0);
  HmacContext *h = nullptr;
  void *d = nullptr;
  ASSERT_EQ(HmacCreate(&h, suite), 0);
  ASSERT_EQ(HmacKey(h, reinterpret_cast<const uint8_t *>("key"), 3), 0);
  ASSERT_EQ(SHA1_allocDigest(&d), 0);
  gFIPS_powerupStatus = GetParam();
  EXPECT_EQ(HmacDelete(&h), GetParam());
  EXPECT_EQ(SHA1_freeDigest(&d), GetParam());
  ASSERT_NE(h, nullptr);
  ASSERT_NE(d, nullptr);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(HmacDelete(&h), 0);
  EXPECT_EQ(SHA1_freeDigest(&d), 0);
}

}  // namespace
}  // namespace kel::test
