// AES-CMAC: SP 800-38B / RFC 4493 examples, CAVP generate and verify files and
// Wycheproof, fed in one update and in pieces; refusals.
#include <gtest/gtest.h>

#include "kel/aes_modes.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class AesCmac : public CipherTest {};

// The MAC of msg under key, fed in pieces of `piece` bytes (0: one update).
Bytes Mac(const Bytes &key, const Bytes &msg, size_t piece, int32_t *status = nullptr) {
  AesCmacContext ctx;
  Bytes tag(16);
  int32_t s = AESCMAC_init(key.data(), static_cast<uint32_t>(key.size()), &ctx);
  if (status) *status = s;
  if (s != 0) return {};
  if (piece == 0) piece = msg.size() + 1;
  for (size_t off = 0; off < msg.size(); off += piece)
    EXPECT_EQ(AESCMAC_update(msg.data() + off, static_cast<uint32_t>(std::min(piece, msg.size() - off)), &ctx), 0);
  EXPECT_EQ(AESCMAC_final(tag.data(), &ctx), 0);
  const AesCmacContext zero{};
  EXPECT_EQ(0, std::memcmp(&ctx, &zero, sizeof ctx)) << "the context is wiped by final";
  return tag;
}

// The SP 800-38B examples in every split; the CAVP records alternately whole
// and in pieces of 13 bytes.
TEST_F(AesCmac, ExamplesAndCavpFiles) {
  int checked = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes-cmac/sp800-38b_aes_cmac.txt")) {
      const Bytes key = r.Hex("Key"), msg = r.Has("Msg") ? r.Hex("Msg") : Bytes{};
      ASSERT_EQ(msg.size(), std::stoul(r.Get("Mlen")));
      for (size_t piece : {0, 1, 15, 16, 17})
        EXPECT_EQ(ToHex(Mac(key, msg, piece)), ToHex(r.Hex("Mac"))) << "piece " << piece;
      ++checked;
    }
    for (const char *file : {"CMACGenAES128", "CMACGenAES192", "CMACGenAES256", "CMACVerAES128", "CMACVerAES256"})
      for (const auto &r : ReadRsp(std::string("aes-cmac/") + file + ".rsp")) {
        SCOPED_TRACE(std::string(file) + ":" + std::to_string(r.line));
        const size_t mlen = std::stoul(r.Get("Mlen")), tlen = std::stoul(r.Get("Tlen"));
        const Bytes tag = Mac(r.Hex("Key"), mlen ? r.Hex("Msg") : Bytes{}, checked % 2 ? 0 : 13);
        const bool match = ToHex(tag).substr(0, 2 * tlen) == r.Get("Mac");
        EXPECT_EQ(match, !r.Has("Result") || r.Get("Result")[0] == 'P');
        ++checked;
      }
  });
  EXPECT_EQ(checked, paths * (16 + 800));
}

TEST_F(AesCmac, Wycheproof) {
  ForEachCpuPath([&] {
    int valid = 0, refused = 0;
    for (const auto &t : ReadWycheproof("aes-cmac/aes_cmac_test.json")) {
      SCOPED_TRACE("tcId " + t.at("tcId") + " " + t.at("comment"));
      const Bytes key = FromHex(t.at("key")), want = FromHex(t.at("tag"));
      int32_t s = 0;
      const Bytes tag = Mac(key, FromHex(t.at("msg")), 7, &s);
      const bool match =
          s == 0 && want.size() == std::stoul(t.at("tagSize")) / 8 && std::equal(want.begin(), want.end(), tag.begin());
      EXPECT_EQ(match, t.at("result") == "valid");
      if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        EXPECT_EQ(s, key.empty() ? ERR_NULL_POINTER : ERR_AES_BAD_KEY_LENGTH);
      }
      (match ? valid : refused)++;
    }
    EXPECT_EQ(valid, 63);
    EXPECT_EQ(refused, 248);
  });
}

TEST_F(AesCmac, Refusals) {
  AesCmacContext ctx;
  const Bytes key(16, 1);
  EXPECT_EQ(AESCMAC_init(nullptr, 16, &ctx), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_init(key.data(), 16, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_init(key.data(), 17, &ctx), ERR_AES_BAD_KEY_LENGTH);
  ASSERT_EQ(AESCMAC_init(key.data(), 16, &ctx), 0);
  EXPECT_EQ(AESCMAC_update(nullptr, 4, &ctx), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_update(nullptr, 0, &ctx), 0);
  EXPECT_EQ(AESCMAC_update(key.data(), 4, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_final(nullptr, &ctx), ERR_NULL_POINTER);
  EXPECT_EQ(AES_OMAC_init(nullptr), ERR_NULL_POINTER);
  for (uint8_t fill : {16, 17}) {  // a held block of more than 16 bytes is a damaged state
    ctx.omac.blockFill = fill;
    EXPECT_EQ(AES_OMAC_update(&ctx.aes, &ctx.omac, key.data(), 0), fill > 16 ? ERR_INVALID_ARG : 0);
  }
}

}  // namespace
}  // namespace kel::test
