// AES-GCM: McGrew and Viega's cases, the CAVP encrypt and decrypt files and
// Wycheproof, one-call and streamed in pieces on every code path; refusals.
#include "kel/gcm.h"

#include <gtest/gtest.h>

#include "crypto/cipher/gcm_internal.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class Gcm : public CipherTest {};

// A valid case encrypts to ct||tag and decrypts back, in one call and in
// updates of `piece` bytes; an invalid one is refused by the one-call form.
void CheckGcm(const Bytes &key, const Bytes &iv, const Bytes &aad, const Bytes &pt, const Bytes &ct, const Bytes &tag,
              bool valid, size_t piece) {
  BulkCtx ctx = GCM_createCtx_256b(key.data(), static_cast<uint32_t>(key.size()), 1);
  ASSERT_NE(ctx, nullptr);
  const uint32_t tlen = static_cast<uint32_t>(tag.size()), ivLen = static_cast<uint32_t>(iv.size());
  const uint32_t aadLen = static_cast<uint32_t>(aad.size());
  uint8_t dummy = 0;
  const uint8_t *ivp = iv.empty() ? &dummy : iv.data(), *ap = aad.empty() ? nullptr : aad.data();
  Bytes buf = Concat(ct, tag);
  EXPECT_EQ(GCM_cipher_256b(ctx, ivp, ivLen, ap, aadLen, buf.data(), static_cast<uint32_t>(ct.size()), tlen, 0),
            iv.empty() ? ERR_INVALID_ARG
            : valid    ? 0
                       : ERR_GCM_TAG_MISMATCH);
  if (valid) {
    EXPECT_EQ(ToHex(buf.data(), pt.size()), ToHex(pt));
    buf = Concat(pt, Bytes(tlen));
    ASSERT_EQ(GCM_cipher_256b(ctx, ivp, ivLen, ap, aadLen, buf.data(), static_cast<uint32_t>(pt.size()), tlen, 1), 0);
    EXPECT_EQ(ToHex(buf), ToHex(Concat(ct, tag)));
    for (int encrypt : {1, 0}) {
      Bytes text = encrypt ? pt : ct, full(16);
      ASSERT_EQ(GCM_init_256b(ctx, ivp, ivLen, ap, aadLen), 0);
      for (size_t off = 0; off < text.size(); off += piece) {
        const uint32_t n = static_cast<uint32_t>(std::min(piece, text.size() - off));
        ASSERT_EQ(encrypt ? GCM_update_encrypt_256b(ctx, text.data() + off, n)
                          : GCM_update_decrypt_256b(ctx, text.data() + off, n),
                  0);
      }
      ASSERT_EQ(GCM_final_256b(ctx, full.data()), 0);
      EXPECT_EQ(ToHex(text), ToHex(encrypt ? ct : pt));
      EXPECT_EQ(ToHex(full.data(), tlen), ToHex(tag));
    }
  }
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
}

// McGrew and Viega's cases in pieces of 1, 15, 16, 17 and 1000 bytes; the CAVP
// records (valid and refused) and Wycheproof in pieces of varying size.
TEST_F(Gcm, PublishedVectors) {
  const auto wycheproof = ReadWycheproof("aes-gcm/aes_gcm_test.json");
  int checked = 0, refused = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes-gcm/gcm_mcgrew_viega_cases.txt")) {
      SCOPED_TRACE("case " + r.Get("TestCase"));
      for (size_t piece : {1, 15, 16, 17, 1000})
        CheckGcm(r.Hex("Key"), r.Hex("IV"), r.Hex("AAD"), r.Hex("Plaintext"), r.Hex("Ciphertext"), r.Hex("Tag"), true,
                 piece);
      ++checked;
    }
    for (const char *file : {"gcmEncryptExtIV128", "gcmEncryptExtIV192", "gcmEncryptExtIV256", "gcmDecrypt128",
                             "gcmDecrypt192", "gcmDecrypt256"})
      for (const auto &r : ReadRsp(std::string("aes-gcm/") + file + ".rsp")) {
        SCOPED_TRACE(std::string(file) + ":" + std::to_string(r.line));
        const bool valid = !r.Has("FAIL");
        CheckGcm(r.Hex("Key"), r.Hex("IV"), r.Hex("AAD"), valid ? r.Hex("PT") : Bytes{}, r.Hex("CT"), r.Hex("Tag"),
                 valid, 1 + checked % 37);
        ++checked;
        refused += !valid;
      }
    for (const auto &t : wycheproof) {
      SCOPED_TRACE("tcId " + t.at("tcId") + " " + t.at("comment"));
      const bool valid = t.at("result") == "valid";
      CheckGcm(FromHex(t.at("key")), FromHex(t.at("iv")), FromHex(t.at("aad")), FromHex(t.at("msg")),
               FromHex(t.at("ct")), FromHex(t.at("tag")), valid, 7);
      ++checked;
      refused += !valid;
    }
  });
  EXPECT_EQ(checked, paths * (18 + 6 * 810 + 316));
  EXPECT_EQ(refused, paths * (1235 + 87));
}

TEST_F(Gcm, RefusalsTagLengthsAndReuse) {
  const Bytes key(16, 3), iv(12, 4);
  BulkCtx ctx = GCM_createCtx_256b(key.data(), 16, 1);
  ASSERT_NE(ctx, nullptr);
  Bytes data(48, 0x11);
  EXPECT_EQ(GCM_init_256b(nullptr, iv.data(), 12, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, nullptr, 12, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 0, nullptr, 0), ERR_INVALID_ARG);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 0), 0);
  EXPECT_EQ(GCM_update_encrypt_256b(ctx, nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_update_decrypt_256b(nullptr, data.data(), 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_final_256b(ctx, nullptr), ERR_NULL_POINTER);
  // A 12-byte tag: only those bytes are compared; a flipped bit is refused.
  ASSERT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, data.data(), 32, 12, 1), 0);
  Bytes sealed = data;
  sealed[44] ^= 0xff;  // beyond the 12 tag bytes
  EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, sealed.data(), 32, 12, 0), 0);
  for (size_t bit : {0, 7, 95}) {
    sealed = data;
    sealed[32 + bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, sealed.data(), 32, 12, 0), ERR_GCM_TAG_MISMATCH);
  }
  EXPECT_EQ(GCM_createCtx_256b(key.data(), 15, 1), nullptr);
  EXPECT_EQ(GCM_createCtx_256b(nullptr, 16, 1), nullptr);
  // A tag is 16, 15, 14, 13, 12, 8 or 4 bytes; any other length is refused
  // both ways and nothing is written after the data.
  for (uint32_t t = 0; t <= 17; ++t) {
    SCOPED_TRACE(t);
    const bool approved = t == 4 || t == 8 || (t >= 12 && t <= 16);
    Bytes buf(32 + 16, 0x77);
    const Bytes before = buf;
    EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, buf.data(), 32, t, 1), approved ? 0 : ERR_INVALID_ARG);
    if (!approved) {
      EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, buf.data(), 32, t, 0), ERR_INVALID_ARG);
      EXPECT_EQ(ToHex(buf), ToHex(before));
    }
  }
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

// A context keyed on the portable path serves the carry-less one: its powers
// of H are made on first use there.
TEST_F(Gcm, ContextKeyedOnThePortablePathServesTheCarrylessOne) {
  const Bytes key(16, 5), iv(12, 6);
  Bytes early(64, 0x21), late = early;
  cpu::restrict_to(0);
  BulkCtx first = GCM_createCtx_256b(key.data(), 16, 1);
  cpu::restrict_to(~0u);
  BulkCtx second = GCM_createCtx_256b(key.data(), 16, 1);
  ASSERT_EQ(GCM_cipher_256b(first, iv.data(), 12, nullptr, 0, early.data(), 48, 16, 1), 0);
  ASSERT_EQ(GCM_cipher_256b(second, iv.data(), 12, nullptr, 0, late.data(), 48, 16, 1), 0);
  EXPECT_EQ(ToHex(early), ToHex(late));
  EXPECT_EQ(GCM_deleteCtx_256b(&first) | GCM_deleteCtx_256b(&second), 0);
}

// The context's table holds H times each 4-bit value i (the block whose
// first nibble is i), as SP 800-38D's bitwise product gives it.
TEST_F(Gcm, TableHoldsHTimesEachNibble) {
  using Block = std::array<uint32_t, 4>;
  const auto product = [](const Block &x, Block v) {
    Block z{};
    for (int i = 0; i < 128; ++i) {
      if (x[i / 32] >> (31 - i % 32) & 1)
        for (int w = 0; w < 4; ++w) z[w] ^= v[w];
      const uint32_t low = v[3] & 1;
      for (int w = 3; w > 0; --w) v[w] = v[w] >> 1 | v[w - 1] << 31;
      v[0] = v[0] >> 1 ^ (low ? 0xE1000000u : 0);
    }
    return z;
  };
  const Bytes key(16, 3);
  BulkCtx ctx = GCM_createCtx_256b(key.data(), 16, 1);
  ASSERT_NE(ctx, nullptr);
  const auto &table = static_cast<GcmContext *>(ctx)->table;
  const Block h = {table[8][0], table[8][1], table[8][2], table[8][3]};
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ((Block{table[i][0], table[i][1], table[i][2], table[i][3]}), product({i << 28, 0, 0, 0}, h)) << i;
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
}

// A message holds at most 2^32 - 1 bytes: an update that would pass that is
// refused whole (nothing encrypted, nothing absorbed).
TEST_F(Gcm, TextBeyondTheLengthCountIsRefused) {
  const Bytes key(32, 9), iv(12, 1);
  ForEachCpuPath([&] {
    BulkCtx ctx = GCM_createCtx_256b(key.data(), 32, 1);
    ASSERT_NE(ctx, nullptr);
    auto &c = *static_cast<GcmContext *>(ctx);
    for (int encrypt : {1, 0}) {
      ASSERT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 0), 0);
      c.textLength = 0xFFFFFFF0u;  // as after 4 GiB - 16 bytes of text
      Bytes data(64, 0x3c);
      const Bytes before = data;
      auto update = [&](uint8_t *p, uint32_t n) {
        return encrypt ? GCM_update_encrypt_256b(ctx, p, n) : GCM_update_decrypt_256b(ctx, p, n);
      };
      EXPECT_EQ(update(data.data(), 17), ERR_INVALID_ARG);
      EXPECT_EQ(update(data.data(), 0xFFFFFFFFu), ERR_INVALID_ARG);
      EXPECT_EQ(ToHex(data), ToHex(before));
      EXPECT_EQ(c.textLength, 0xFFFFFFF0u);
      EXPECT_EQ(update(data.data(), 15), 0);
      EXPECT_NE(ToHex(data), ToHex(before));
      EXPECT_EQ(c.textLength, 0xFFFFFFFFu);
      EXPECT_EQ(update(data.data() + 15, 1), ERR_INVALID_ARG);
      EXPECT_EQ(data[15], 0x3c);
      EXPECT_EQ(update(data.data() + 15, 0), 0);
    }
    EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
  });
}

}  // namespace
}  // namespace kel::test
