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
};

TEST_P(Gate, GatedEntriesReturnTheStatusAndTouchNothing) {
  const int32_t status = GetParam();
  gFIPS_powerupStatus = status;
  const HashSuite *sha256 = AlgoNamed("SHA256").suite();
  using Call = std::function<int32_t(Canaries &)>;
  std::vector<std::pair<std::string, Call>> gated;
  for (const char *name : {"SHA1", "SHA256", "SHA512"}) {
    const HashSuite s = *AlgoNamed(name).suite();
    gated.emplace_back(std::string(name) + " alloc", [s](Canaries &k) { return s.allocFunc(&k.slot); });
    gated.emplace_back(std::string(name) + " free", [s](Canaries &k) { return s.freeFunc(&k.slot); });
    gated.emplace_back(std::string(name) + " init", [s](Canaries &k) { return s.initFunc(k.c()); });
    gated.emplace_back(std::string(name) + " update",
                       [s](Canaries &k) { return s.updateFunc(k.c(), k.msg.data(), 200); });
    gated.emplace_back(std::string(name) + " final", [s](Canaries &k) { return s.finalFunc(k.c(), k.out.data()); });
  }
  for (const auto &a : Algos())
    if (a.id != 4)
      gated.emplace_back(std::string(a.name) + " one call",
                         [&a](Canaries &k) { return a.oneCall(k.msg.data(), 9, k.out.data()); });
  gated.insert(
      gated.end(),
      {
          {"HmacCreate", [sha256](Canaries &k) { return HmacCreate(k.hp(), sha256); }},
          {"HmacKey", [](Canaries &k) { return HmacKey(k.h(), k.msg.data(), 20); }},
          {"HmacReset", [](Canaries &k) { return HmacReset(k.h()); }},
          {"HmacUpdate", [](Canaries &k) { return HmacUpdate(k.h(), k.msg.data(), 20); }},
          {"HmacFinal", [](Canaries &k) { return HmacFinal(k.h(), k.out.data()); }},
          {"HmacDelete", [](Canaries &k) { return HmacDelete(k.hp()); }},
          {"HmacQuickEx",
           [sha256](Canaries &k) {
             return HmacQuickEx(k.msg.data(), 5, k.msg.data(), 7, k.msg.data(), 3, k.out.data(), sha256);
           }},
          {"HmacQuick",
           [sha256](Canaries &k) { return HmacQuick(k.msg.data(), 5, k.msg.data(), 7, k.out.data(), sha256); }},
          {"HMAC_SHA1",
           [](Canaries &k) { return HMAC_SHA1(k.msg.data(), 5, k.msg.data(), 7, nullptr, 0, k.out.data()); }},
          {"HMAC_SHA1_quick",
           [](Canaries &k) { return HMAC_SHA1_quick(k.msg.data(), 99, k.msg.data(), 7, k.out.data()); }},
          {"HMAC_SHA1Ex long key",
           [](Canaries &k) {
             const uint8_t *parts[1] = {k.msg.data()};
             const uint32_t lens[1] = {7};
             return HMAC_SHA1Ex(k.msg.data(), 100, parts, lens, 1, k.out.data());
           }},
          {"HMAC_SHA1Ex", [](Canaries &k) { return HMAC_SHA1Ex(k.msg.data(), 5, nullptr, nullptr, 0, k.out.data()); }},
      });
  for (const auto &[name, call] : gated) {
    Canaries k;
    EXPECT_EQ(call(k), status) << name;
    EXPECT_TRUE(std::all_of(k.ctx.begin(), k.ctx.end(), [](uint8_t b) { return b == 0xa5; })) << name;
    EXPECT_TRUE(std::all_of(k.out.begin(), k.out.end(), [](uint8_t b) { return b == 0x5a; })) << name;
    EXPECT_EQ(k.slot, k.block) << name;
  }
  // The gate comes before any argument check.
  EXPECT_EQ(SHA1_initDigest(nullptr), status);
  EXPECT_EQ(SHA256_completeDigest(nullptr, 0, nullptr), status);
  EXPECT_EQ(SHA1_allocDigest(nullptr), status);
  EXPECT_EQ(HmacCreate(nullptr, nullptr), status);
  EXPECT_EQ(HmacQuickEx(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr), status);
  EXPECT_EQ(HMAC_SHA1(nullptr, 0, nullptr, 0, nullptr, 0, nullptr), status);
}

// A live context cannot be released while the gate is closed (the slot above
// holds a live block); MD5, HMAC-MD5, the G functions, SHA-224 and SHA-384
// init and final (no gate of their own) and Base64 go on working.
TEST_P(Gate, UngatedEntriesWork) {
  gFIPS_powerupStatus = GetParam();
  const Bytes abc = {'a', 'b', 'c'};
  uint8_t out[64], block[64] = {0x80};
  for (const auto &[form, md] : AllForms(AlgoNamed("MD5"), abc))
    EXPECT_EQ(ToHex(md), "900150983cd24fb0d6963f7d28e17f72") << form;
  ASSERT_EQ(HMAC_MD5_quick(abc.data(), 3, abc.data(), 3, out), 0);
  EXPECT_EQ(Bytes(out, out + 16), OpensslHmac(AlgoNamed("MD5"), abc, abc));
  ASSERT_EQ(SHA1_G(block, out), 0);
  EXPECT_EQ(ToHex(out, 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");  // SHA-1 of the empty message
  ASSERT_EQ(SHA1_GK(block, out), 0);
  Sha256Context c;
  ASSERT_EQ(SHA224_initDigest(&c), 0);
  ASSERT_EQ(SHA224_finalDigest(&c, out), 0);
  EXPECT_EQ(ToHex(out, 28), "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f");
  Sha512Context c5;
  ASSERT_EQ(SHA384_initDigest(&c5), 0);
  ASSERT_EQ(SHA384_finalDigest(&c5, out), 0);
  EXPECT_EQ(ToHex(out, 4), "38b060a7");
  ASSERT_EQ(BASE64_initializeContext(), 0);
  uint8_t *text = nullptr, *back = nullptr;
  uint32_t tl = 0, bl = 0;
  ASSERT_EQ(BASE64_encodeMessage(abc.data(), 3, &text, &tl), 0);
  ASSERT_EQ(BASE64_decodeMessage(text, tl, &back, &bl), 0);
  EXPECT_EQ(Bytes(back, back + bl), abc);
  BASE64_freeMessage(&text);
  BASE64_freeMessage(&back);
  EXPECT_EQ(BASE64_freeContext(), 0);
}

}  // namespace
}  // namespace kel::test
